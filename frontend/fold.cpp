/* fold.cpp - identical consecutive passes of one test on one device and
 * logical CPU held as one streak and written as one record when the streak
 * ends: a run that differs, or the end of the session; the folding writer the
 * scheduler hands each finished run to. */
#include "fold.h"

#include <stdio.h>

#include <algorithm>

#include "format-ops.h"
#include "report.h"

std::string PeersFoldSignature(const PeersTestRun &run)
{
    const PeersInvocation &inv = *run.pInv;
    std::string s = std::to_string(run.iOutcome) + "|" + PeersResultWordOf(inv) + "|" +
                    std::to_string(inv.iExitStatus) + (inv.bKilled ? "|killed" : "|");
    for (const PeersEvent &ev : inv.vEvents)
        if (ev.sType != "PERCENTDONE")
            s += "|" + ev.sType + ":" + std::to_string(ev.iCode) + ":" + ev.sText;
    return s + "|" + inv.sModuleOutput;
}

/* Passes and runs that could not test (e.g. no right to lock memory) fold;
 * failures and runs the module broke down in are each written. */
static bool Foldable(const PeersTestRun &run)
{
    return (run.iOutcome == PEERS_OUTCOME_PASS || run.iOutcome == PEERS_OUTCOME_UNTESTED) &&
           run.iRetest == 0; /* a rerun of a failure stands on its own */
}

int PeersFoldOffer(PeersFolder *pFolder, const PeersTestRun &run,
                   std::vector<PeersFoldEntry> *pvEnded)
{
    std::string sSignature = PeersFoldSignature(run);
    for (size_t i = 0; i < pFolder->vOpen.size(); i++) {
        PeersFoldEntry &e = pFolder->vOpen[i];
        if (e.run.iDevice != run.iDevice || e.run.iTest != run.iTest ||
            e.run.place.iCpu != run.place.iCpu)
            continue;
        if (Foldable(run) && e.sSignature == sSignature) {
            PeersFoldSpan &f = e.run.fold;
            f.iCount++;
            f.sLastStart = run.sStartTime;
            f.lLastLoop = run.lLoop;
            f.ullMinMs = std::min(f.ullMinMs, run.ullDurationMs);
            f.ullMaxMs = std::max(f.ullMaxMs, run.ullDurationMs);
            return PEERS_FOLD_ADDED;
        }
        pvEnded->push_back(e);
        pFolder->vOpen.erase(pFolder->vOpen.begin() + (long)i);
        break;
    }
    if (!Foldable(run))
        return PEERS_FOLD_NOT_HELD;
    PeersFoldEntry e;
    e.sSignature = sSignature;
    e.inv = *run.pInv;
    e.run = run;
    e.run.pInv = nullptr;
    e.run.fold = PeersFoldSpan();
    e.run.fold.sLastStart = run.sStartTime;
    e.run.fold.lLastLoop = run.lLoop;
    e.run.fold.ullMinMs = e.run.fold.ullMaxMs = run.ullDurationMs;
    pFolder->vOpen.push_back(e);
    return PEERS_FOLD_OPENED;
}

void PeersFoldFlush(PeersFolder *pFolder, std::vector<PeersFoldEntry> *pvEnded)
{
    pvEnded->insert(pvEnded->end(), pFolder->vOpen.begin(), pFolder->vOpen.end());
    pFolder->vOpen.clear();
}

const PeersTestRun &PeersFoldEntryRun(PeersFoldEntry *pEntry)
{
    pEntry->run.pInv = &pEntry->inv;
    return pEntry->run;
}

std::string PeersFoldTextLine(const PeersTestRun &run)
{
    const PeersFoldSpan &f = run.fold;
    char szLine[400];
    std::string sCpu = run.place.iCpu >= 0 ? ", logical CPU " + std::to_string(run.place.iCpu) : "";
    snprintf(szLine, sizeof szLine,
             "%s  test %d (%s)%s  %s x%d (loops %ld-%ld, %llu-%llu ms, %s to %s)",
             run.sDevice.c_str(), run.iTest, PeersTestName(run.iTest), sCpu.c_str(),
             PeersResultWordOf(*run.pInv).c_str(), f.iCount, run.lLoop, f.lLastLoop, f.ullMinMs,
             f.ullMaxMs, run.sStartTime.c_str(), f.sLastStart.c_str());
    return szLine;
}

/* ---- the folding writer ---- */

static PeersFolder g_PeersFolder; /* the session's open streaks */
static int g_bFoldRecords;        /* the result records fold too (not ocptv without --fold) */

void PeersFoldStart(int bFoldRecords)
{
    g_PeersFolder.vOpen.clear();
    g_bFoldRecords = bFoldRecords;
}

/* Writes the records of ended streaks; returns their folded text lines. */
static std::string EmitEnded(std::vector<PeersFoldEntry> &vEnded)
{
    std::string sText;
    for (PeersFoldEntry &e : vEnded) {
        const PeersTestRun &run = PeersFoldEntryRun(&e);
        if (run.fold.iCount > 1)
            sText += PeersFoldTextLine(run) + "\n";
        if (g_bFoldRecords) /* else every run was written as it came */
            PeersEmitTestRun(run);
    }
    return sText;
}

void PeersFoldEmitRun(const PeersTestRun &run)
{
    std::vector<PeersFoldEntry> vEnded;
    int bRepeats = g_PeersReport.bHold; /* the scheduler holds the text of repeated runs */
    int iHeld = bRepeats ? PeersFoldOffer(&g_PeersFolder, run, &vEnded) : PEERS_FOLD_NOT_HELD;
    std::string sFolded = EmitEnded(vEnded);
    if (bRepeats)
        PeersReportRelease(iHeld != PEERS_FOLD_ADDED, sFolded);
    if (iHeld == PEERS_FOLD_NOT_HELD || !g_bFoldRecords)
        PeersEmitTestRun(run);
}

void PeersFoldEmitEnd(void)
{
    std::vector<PeersFoldEntry> vEnded;
    PeersFoldFlush(&g_PeersFolder, &vEnded);
    std::string sFolded = EmitEnded(vEnded);
    if (!sFolded.empty())
        PeersReportText("%s", sFolded.c_str());
}
