/* report.cpp - readable report, JSON lines, progress line and packet log of
 * zoltpeers. */
#include "report.h"

#include "format-table.h"
#include "json-text.h"
#include "peers-observer.h"
#include "results.h"
#include "session.h"

#include <errno.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

PeersReport g_PeersReport = { nullptr, nullptr, 0,       0, 0, 0, 0, 0,  0, "",
                              "",      0,       nullptr, 0, 0, 0, 0, "", "" };

/* The stand-in peers' commentary goes into the text report. */
static void ReportPeerText(const char *szLine)
{
    PeersReportText("%s", szLine);
}

/* Sets the outputs and makes the report the stand-in peers' observer. */
void PeersReportInit(FILE *pOut, int iFormat, FILE *pLog)
{
    g_PeersObserver.pfnPacket = PeersReportPacket;
    g_PeersObserver.pfnText = ReportPeerText;
    g_PeersObserver.pfnLiveEvent = PeersReportLiveEvent;
    g_PeersReport.pOut = pOut;
    g_PeersReport.pLog = pLog;
    g_PeersReport.iFormat = iFormat;
    g_PeersReport.bVisible = pOut != nullptr && isatty(fileno(pOut));
    g_PeersReport.bTty = g_PeersReport.bVisible && iFormat == PEERS_FORMAT_TEXT;
    g_PeersReport.bProgressOpen = 0;
    g_PeersReport.bOutFailed = g_PeersReport.bLogFailed = g_PeersReport.iWriteErrno = 0;
    g_PeersReport.sProgressHead.clear();
    g_PeersReport.sFoldLine.clear();
    g_PeersReport.iFoldCount = 0;
    g_PeersReport.pFile = nullptr;
    g_PeersReport.iFileFormat = iFormat;
    g_PeersReport.bFileFailed = g_PeersReport.bQuiet = g_PeersReport.bHold = 0;
    g_PeersReport.sHeld.clear();
    g_PeersReport.sHeldEssential.clear();
}

void PeersReportSetFile(FILE *pFile, int iFileFormat)
{
    g_PeersReport.pFile = pFile;
    g_PeersReport.iFileFormat = iFileFormat;
}

void PeersReportSetQuiet(int bQuiet)
{
    g_PeersReport.bQuiet = bQuiet;
    if (bQuiet)
        g_PeersReport.bTty = 0;
}

int PeersResultFormat(void)
{
    return g_PeersReport.pFile != nullptr ? g_PeersReport.iFileFormat : g_PeersReport.iFormat;
}

/* Writes s to pOut and notes a failure; a reader that has gone (the rest of
 * a pipeline ended) ends the session at once, like a signal would. */
static void PutOut(const std::string &s)
{
    if (fputs(s.c_str(), g_PeersReport.pOut) == EOF || fflush(g_PeersReport.pOut) != 0) {
        if (!g_PeersReport.bOutFailed && !g_PeersReport.bLogFailed)
            g_PeersReport.iWriteErrno = errno;
        if (errno == EPIPE)
            g_iPeersInterrupted = SIGPIPE;
        g_PeersReport.bOutFailed = 1;
    }
}

/* Text from elsewhere (module, peers, paths) as it may reach pOut: valid
 * UTF-8, and on a terminal with its control characters made visible. */
static std::string Shown(const std::string &s)
{
    std::string sClean = PeersUtf8Clean(s);
    return g_PeersReport.bVisible ? PeersVisibleText(sClean) : sClean;
}

/* See the header. */
std::string PeersVisibleText(const std::string &s)
{
    std::string sOut;
    for (size_t i = 0; i < s.size(); i++) {
        unsigned char c = (unsigned char)s[i];
        unsigned char cNext = i + 1 < s.size() ? (unsigned char)s[i + 1] : 0;
        if ((c < 0x20 && c != '\n' && c != '\t') || c == 0x7F) {
            sOut += '^';
            sOut += (char)(c ^ 0x40);
        } else if (c == 0xC2 && cNext >= 0x80 && cNext <= 0x9F) {
            sOut += "M-^";
            sOut += (char)((cNext - 0x80) ^ 0x40);
            i++;
        } else {
            sOut += (char)c; /* newline and tab too */
        }
    }
    return sOut;
}

/* Writes s to the result file and notes a failure. */
static void PutFile(const std::string &s)
{
    if (fputs(s.c_str(), g_PeersReport.pFile) == EOF) {
        if (!g_PeersReport.bFileFailed)
            g_PeersReport.iWriteErrno = errno;
        g_PeersReport.bFileFailed = 1;
    }
}

/* Writes valid UTF-8 text of the report to the terminal (pOut in the text
 * format; with --quiet only when essential) and to a text result file. */
static void WriteText(const std::string &sAll, const std::string &sEssential)
{
    if (g_PeersReport.pOut != nullptr && g_PeersReport.iFormat == PEERS_FORMAT_TEXT) {
        const std::string &s = g_PeersReport.bQuiet ? sEssential : sAll;
        if (!s.empty())
            PutOut(g_PeersReport.bVisible ? PeersVisibleText(s) : s);
    }
    if (g_PeersReport.pFile != nullptr && g_PeersReport.iFileFormat == PEERS_FORMAT_TEXT)
        PutFile(sAll);
}

/* A piece of the text report, valid UTF-8: held back, or written. */
static void PutText(const std::string &s, int bEssential)
{
    if (g_PeersReport.bHold) {
        g_PeersReport.sHeld += s;
        if (bEssential)
            g_PeersReport.sHeldEssential += s;
        return;
    }
    WriteText(s, bEssential ? s : std::string());
}

/* Ends a progress line that stands on screen. */
static void CloseProgress(void)
{
    if (g_PeersReport.bProgressOpen && g_PeersReport.pOut != nullptr) {
        PutOut("\r\033[K");
        g_PeersReport.bProgressOpen = 0;
    }
}

/* Readable line of one event; "" for events without one. */
std::string PeersEventLine(const PeersEvent &ev)
{
    std::string sText = ev.sEnglish.empty() ? ev.sText : ev.sEnglish;
    if (ev.sType == "INFO" || ev.sType == "PROGRESS")
        return "  " + sText;
    if (ev.sType == "WARN")
        return "  WARNING " + std::to_string(ev.iCode) + ": " + sText;
    if (ev.sType == "ERROR")
        return "  ERROR " + std::to_string(ev.iCode) + ": " + sText;
    return "";
}

/* A line with its count when it came more than once in a row. */
std::string PeersFoldedLine(const std::string &sLine, int iCount)
{
    return iCount > 1 ? sLine + " (x" + std::to_string(iCount) + ")" : sLine;
}

/* Terminal progress bar for a percent value (clamped to 0..100 for the bar). */
std::string PeersProgressLine(int iPercent)
{
    int iShown = iPercent < 0 ? 0 : (iPercent > 100 ? 100 : iPercent);
    int iFilled = iShown * PEERS_PROGRESS_WIDTH / 100;
    char szPct[16];
    snprintf(szPct, sizeof szPct, "%3d%%", iPercent);
    return "\r  [" + std::string((size_t)iFilled, '#') +
           std::string((size_t)(PEERS_PROGRESS_WIDTH - iFilled), ' ') + "] " + szPct;
}

/* Name of a CPU test number; "test" for unknown numbers. */
const char *PeersTestName(int iTest)
{
    switch (iTest) {
    case 0:
        return "integer unit";
    case 1:
        return "x87 floating-point unit";
    case 2:
        return "MMX unit";
    case 3:
        return "caches";
    default:
        return "test";
    }
}

/* Result line of a run: device, test, word (or why there is none), time. */
std::string PeersResultLine(const PeersInvocation &inv, const char *szDevice)
{
    char szHead[160];
    snprintf(szHead, sizeof szHead, "%s  test %d (%s)  ", szDevice ? szDevice : "?", inv.iTest,
             PeersTestName(inv.iTest));
    std::string sWord;
    int iOutcome = PeersOutcomeOf(inv);
    if (inv.bResult)
        sWord = inv.sResultWord.empty() ? "(no result word)" : inv.sResultWord;
    else if (iOutcome == PEERS_OUTCOME_CRASHED)
        sWord = "CRASHED (" + PeersSignalName(inv.iSignal) + ")";
    else if (iOutcome == PEERS_OUTCOME_HUNG)
        sWord = "HUNG (killed at the time limit)";
    else if (inv.bStartFailed)
        sWord = "NOT RUN (the module could not be started)";
    else if (inv.bKilled && inv.bInterrupted)
        sWord = "NOT RUN (interrupted; the module was killed)";
    else if (inv.bKilled)
        sWord = "NOT RUN (killed at the time limit before its test began)";
    else
        sWord = "NOT RUN (no result from the module)";
    unsigned long long ullMs = inv.ullEndMs > inv.ullStartMs ? inv.ullEndMs - inv.ullStartMs : 0;
    char szTime[40];
    snprintf(szTime, sizeof szTime, "  (%llu ms)", ullMs);
    return szHead + sWord + szTime;
}

/* Why a test could not set up, from what the module reported: its last
 * warning or error, else an unanswered device-list request, else that it
 * gave no reason. */
static std::string SetupErrorHint(const PeersInvocation &inv)
{
    for (auto it = inv.vEvents.rbegin(); it != inv.vEvents.rend(); ++it)
        if (it->sType == "WARN" || it->sType == "ERROR")
            return "The test could not set up; the module reported: " +
                   (it->sEnglish.empty() ? it->sText : it->sEnglish);
    if (inv.iDeviceListRequests > inv.iDeviceListAnswers)
        return "The test could not set up: the module asked for its device list and got no "
               "answer, so it had no device to test.";
    return "The test could not set up, and the module sent no warning saying why.";
}

/* " Last events: ...; ...; ..." (up to three, with a line), or "". */
static std::string LastEvents(const PeersInvocation &inv)
{
    std::string s;
    int iCount = 0;
    for (auto it = inv.vEvents.rbegin(); it != inv.vEvents.rend() && iCount < 3; ++it) {
        std::string sLine = PeersEventLine(*it);
        size_t uStart = sLine.find_first_not_of(' ');
        if (uStart == std::string::npos)
            continue;
        std::string sPart = sLine.substr(uStart);
        sPart += iCount++ ? "; " : ".";
        s.insert(0, sPart);
    }
    return s.empty() ? "" : " Last events: " + s;
}

/* Plain-words explanation of a result that is not PASS; "" for PASS. */
std::string PeersResultHint(const PeersInvocation &inv)
{
    if (!inv.bResult) {
        if (inv.bStartFailed)
            return "The module program could not be started: check --module.";
        if (inv.bKilled && inv.bInterrupted)
            return "zoltpeers was interrupted and killed the module.";
        if (inv.bKilled && PeersOutcomeOf(inv) == PEERS_OUTCOME_HUNG)
            return "The test did not end within --limit and was killed: a failure (a defective "
                   "core can hang a test)." +
                   LastEvents(inv);
        if (inv.bKilled)
            return "The module did not end within its time limit and was killed before its "
                   "test began (it waited for the peers).";
        if (inv.iSignal != 0)
            return "The module died by " + PeersSignalName(inv.iSignal) +
                   " while the test ran: a failure (a defective core gives such signals)." +
                   LastEvents(inv);
        if (!inv.bConnected)
            return "The module never connected to the broker (exit status " +
                   std::to_string(inv.iExitStatus) + ").";
        return "The module ended without a test result (exit status " +
               std::to_string(inv.iExitStatus) + ").";
    }
    const std::string &w = inv.sResultWord;
    if (w == "PASS")
        return "";
    if (w == "FAIL")
        return "The test found a fault: see the errors above.";
    if (w == "PRIVILEGEERROR")
        return "The test was not allowed to run: it must lock its memory, which needs root "
               "with the right to lock memory (CAP_IPC_LOCK) or a locked-memory limit large "
               "enough for the module. Run zoltpeers with that capability.";
    if (w == "SETUPERROR")
        return SetupErrorHint(inv);
    if (w == "NOTAPPLICABLE")
        return "The test does not apply to this processor.";
    if (w == "BADPARAMS")
        return "The module refused the test number or its parameters.";
    if (w == "DISCONTINUED")
        return "The test was stopped on request.";
    if (w.empty())
        return "The module sent a result code without a word: no such device or an unknown code.";
    return "";
}

/* ---- Writers ---- */

void PeersReportPacket(const char *szDir, long lPeer, const char *szPacket)
{
    if (g_PeersReport.pLog != nullptr) {
        std::string sPacket = szPacket ? szPacket : "";
        int iRc = fprintf(g_PeersReport.pLog, "%s %ld %s", szDir, lPeer, sPacket.c_str());
        if (sPacket.size() < 2 || sPacket.compare(sPacket.size() - 2, 2, "\r\n") != 0)
            iRc |= fputs("\r\n", g_PeersReport.pLog);
        if (iRc < 0 || fflush(g_PeersReport.pLog) != 0) {
            if (!g_PeersReport.bOutFailed && !g_PeersReport.bLogFailed)
                g_PeersReport.iWriteErrno = errno;
            g_PeersReport.bLogFailed = 1;
        }
    }
    if (g_PeersReport.iFormat == PEERS_FORMAT_TRACE && g_PeersReport.pOut != nullptr)
        PeersReportLine(PeersPacketJson(szDir, lPeer, szPacket));
}

void PeersReportLine(const std::string &sLine)
{
    if (g_PeersReport.pOut != nullptr)
        PutOut(Shown(sLine) + "\n");
}

void PeersReportRecord(const std::string &sLine)
{
    if (g_PeersReport.pFile != nullptr)
        PutFile(PeersUtf8Clean(sLine) + "\n");
    else
        PeersReportLine(sLine);
}

/* Whether text goes anywhere: the terminal or a text result file. */
static int TextWanted(void)
{
    return (g_PeersReport.pOut != nullptr && g_PeersReport.iFormat == PEERS_FORMAT_TEXT) ||
           (g_PeersReport.pFile != nullptr && g_PeersReport.iFileFormat == PEERS_FORMAT_TEXT);
}

void PeersReportFlushFold(void)
{
    if (g_PeersReport.iFoldCount == 0 || !TextWanted())
        return;
    std::string sLine = PeersFoldedLine(g_PeersReport.sFoldLine, g_PeersReport.iFoldCount);
    g_PeersReport.iFoldCount = 0;
    g_PeersReport.sFoldLine.clear();
    CloseProgress();
    PutText(PeersUtf8Clean(sLine) + "\n", 0);
}

/* A formatted line of the text report (closes a progress line first). */
static void TextV(int bEssential, const char *szFormat, va_list args)
{
    if (!TextWanted())
        return;
    PeersReportFlushFold();
    CloseProgress();
    char *pText = nullptr;
    if (vasprintf(&pText, szFormat, args) < 0)
        return;
    PutText(PeersUtf8Clean(pText), bEssential);
    free(pText);
}

void PeersReportText(const char *szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    TextV(0, szFormat, args);
    va_end(args);
}

void PeersReportEssential(const char *szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    TextV(1, szFormat, args);
    va_end(args);
}

void PeersReportHold(void)
{
    PeersReportFlushFold();
    g_PeersReport.bHold = 1;
    g_PeersReport.sHeld.clear();
    g_PeersReport.sHeldEssential.clear();
}

void PeersReportRelease(int bWrite, const std::string &sFirst)
{
    PeersReportFlushFold();
    g_PeersReport.bHold = 0;
    std::string sAll, sEssential;
    sAll.swap(g_PeersReport.sHeld);
    sEssential.swap(g_PeersReport.sHeldEssential);
    if (!bWrite)
        sAll = sEssential = "";
    sAll = sFirst + sAll;
    if (sAll.empty())
        return;
    CloseProgress();
    WriteText(sAll, sEssential);
}

void PeersReportProgress(const std::string &sHead)
{
    g_PeersReport.sProgressHead = sHead;
    if (!g_PeersReport.bTty)
        return;
    PeersReportFlushFold();
    PutOut("\r\033[K" + Shown(sHead));
    g_PeersReport.bProgressOpen = 1;
}

/* Prints one event as it arrives: folded lines, the progress bar for percents. */
void PeersReportLiveEvent(const PeersInvocation *pInv, const PeersEvent *pEvent)
{
    (void)pInv;
    if (!TextWanted() || pEvent == nullptr)
        return;
    if (pEvent->sType == "PERCENTDONE") {
        if (g_PeersReport.bTty) {
            std::string sBar = PeersProgressLine((int)strtol(pEvent->sText.c_str(), nullptr, 10));
            PeersReportFlushFold();
            PutOut("\r\033[K" + Shown(g_PeersReport.sProgressHead) + sBar.substr(1));
            g_PeersReport.bProgressOpen = 1;
        }
        return;
    }
    std::string sLine = PeersEventLine(*pEvent);
    if (sLine.empty())
        return;
    if (g_PeersReport.iFoldCount > 0 && sLine == g_PeersReport.sFoldLine) {
        g_PeersReport.iFoldCount++;
        return;
    }
    PeersReportFlushFold();
    g_PeersReport.sFoldLine = sLine;
    g_PeersReport.iFoldCount = 1;
}

/* Prints the end of one invocation (result line, hint and warnings; or the
 * trace record). */
void PeersReportInvocation(const PeersInvocation *pInv, const char *szDevice)
{
    if (g_PeersReport.pOut == nullptr)
        return;
    if (g_PeersReport.iFormat == PEERS_FORMAT_TRACE) {
        PeersReportLine(PeersInvocationJson(*pInv, szDevice));
        return;
    }
    if (pInv->sMode == "run") {
        int iOutcome = PeersOutcomeOf(*pInv); /* --quiet keeps failures and breakdowns */
        void (*pfnLine)(const char *, ...) =
            iOutcome == PEERS_OUTCOME_PASS || iOutcome == PEERS_OUTCOME_UNTESTED
                ? PeersReportText
                : PeersReportEssential;
        pfnLine("%s\n", PeersResultLine(*pInv, szDevice).c_str());
        std::string sHint = PeersResultHint(*pInv);
        if (!sHint.empty())
            pfnLine("    %s\n", sHint.c_str());
        std::vector<std::string> vWarnings;
        for (const PeersEvent &ev : pInv->vEvents)
            if (ev.sType == "WARN")
                vWarnings.push_back("    warning " + std::to_string(ev.iCode) + ": " +
                                    (ev.sEnglish.empty() ? ev.sText : ev.sEnglish));
        for (size_t i = 0, n = 1; i < vWarnings.size(); i += n) {
            for (n = 1; i + n < vWarnings.size() && vWarnings[i + n] == vWarnings[i];)
                n++;
            pfnLine("%s\n", PeersFoldedLine(vWarnings[i], (int)n).c_str());
        }
    }
    PeersReportFlushFold();
    if (pInv->bKilled && !pInv->bInterrupted && pInv->sMode != "run")
        PeersReportText("  the module (pid %ld) outlived its time limit and was killed\n",
                        pInv->lPid);
}
