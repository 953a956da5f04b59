/* fold.cpp - identical consecutive passes of one test on one device held as
 * one streak and written as one record when the streak ends: a run that
 * differs, or the end of the session. */
#include "fold.h"

#include <stdio.h>

#include <algorithm>

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
    return run.iOutcome == PEERS_OUTCOME_PASS || run.iOutcome == PEERS_OUTCOME_UNTESTED;
}

int PeersFoldOffer(PeersFolder *pFolder, const PeersTestRun &run,
                   std::vector<PeersFoldEntry> *pvEnded)
{
    std::string sSignature = PeersFoldSignature(run);
    for (size_t i = 0; i < pFolder->vOpen.size(); i++) {
        PeersFoldEntry &e = pFolder->vOpen[i];
        if (e.run.iDevice != run.iDevice || e.run.iTest != run.iTest)
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
    snprintf(szLine, sizeof szLine,
             "%s  test %d (%s)  %s x%d (loops %ld-%ld, %llu-%llu ms, %s to %s)",
             run.sDevice.c_str(), run.iTest, PeersTestName(run.iTest),
             PeersResultWordOf(*run.pInv).c_str(), f.iCount, run.lLoop, f.lLastLoop, f.ullMinMs,
             f.ullMaxMs, run.sStartTime.c_str(), f.sLastStart.c_str());
    return szLine;
}
