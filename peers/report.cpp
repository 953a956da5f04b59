/* report.cpp - readable report, JSON lines, progress line and packet log of
 * zoltpeers. */
#include "report.h"

#include <stdarg.h>
#include <string.h>
#include <unistd.h>

PeersReport g_PeersReport = { nullptr, nullptr, 0, 0, 0 };

/* Sets the outputs. */
void PeersReportInit(FILE *pOut, int bJson, FILE *pLog)
{
    g_PeersReport.pOut = pOut;
    g_PeersReport.pLog = pLog;
    g_PeersReport.bJson = bJson;
    g_PeersReport.bTty = pOut != nullptr && !bJson && isatty(fileno(pOut));
    g_PeersReport.bProgressOpen = 0;
}

/* Ends a progress line that stands on screen. */
static void CloseProgress(void)
{
    if (g_PeersReport.bProgressOpen && g_PeersReport.pOut != nullptr) {
        fputs("\r\033[K", g_PeersReport.pOut);
        g_PeersReport.bProgressOpen = 0;
    }
}

/* JSON string escaping of s (quotes, backslash, control characters). */
std::string PeersJsonEscape(const std::string &s)
{
    std::string sOut;
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            sOut += "\\\"";
            break;
        case '\\':
            sOut += "\\\\";
            break;
        case '\n':
            sOut += "\\n";
            break;
        case '\r':
            sOut += "\\r";
            break;
        case '\t':
            sOut += "\\t";
            break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char szHex[8];
                snprintf(szHex, sizeof szHex, "\\u%04x", c);
                sOut += szHex;
            } else {
                sOut += (char)c;
            }
        }
    }
    return sOut;
}

/* "key":"value" */
static std::string JsonPair(const char *szKey, const std::string &sValue)
{
    return std::string("\"") + szKey + "\":\"" + PeersJsonEscape(sValue) + "\"";
}

/* One JSON object per packet: direction, peer, kind, header fields, data, raw. */
std::string PeersPacketJson(const char *szDir, long lPeer, const char *szPacket)
{
    std::string sPacket = szPacket ? szPacket : "";
    while (!sPacket.empty() && (sPacket.back() == '\n' || sPacket.back() == '\r'))
        sPacket.pop_back();
    const char *szKind = "OTHER";
    if (sPacket.compare(0, 5, "<MSG>") == 0)
        szKind = "MSG";
    else if (sPacket.compare(0, 9, "<STARTUP>") == 0)
        szKind = "STARTUP";
    else if (sPacket.compare(0, 6, "<STOP>") == 0)
        szKind = "STOP";
    else if (sPacket.compare(0, 5, "<ACK>") == 0)
        szKind = "ACK";
    std::string sJson = "{" + JsonPair("dir", szDir ? szDir : "") +
                        ",\"peer\":" + std::to_string(lPeer) + "," + JsonPair("kind", szKind);
    if (strcmp(szKind, "MSG") == 0) {
        static const char *const s_apszFields[][2] = {
            { "from", "MSG/HDR/FROM" }, { "to", "MSG/HDR/TO" },     { "id", "MSG/HDR/ID" },
            { "re", "MSG/HDR/RE" },     { "type", "MSG/HDR/TYPE" }, { "data", "MSG/DATA" },
        };
        for (const auto &f : s_apszFields) {
            std::string sValue;
            if (PeersGetField(sPacket.c_str(), f[1], 0, sValue) == 0)
                sJson += "," + JsonPair(f[0], sValue);
        }
    }
    sJson += "," + JsonPair("raw", sPacket) + "}";
    return sJson;
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
    if (inv.bResult)
        sWord = inv.sResultWord.empty() ? "(no result word)" : inv.sResultWord;
    else if (inv.bStartFailed)
        sWord = "NOT RUN (the module could not be started)";
    else if (inv.bKilled && inv.bInterrupted)
        sWord = "NOT RUN (interrupted; the module was killed)";
    else if (inv.bKilled)
        sWord = "NOT RUN (the module hung and was killed)";
    else
        sWord = "NOT RUN (no result from the module)";
    unsigned long long ullMs = inv.ullEndMs > inv.ullStartMs ? inv.ullEndMs - inv.ullStartMs : 0;
    char szTime[40];
    snprintf(szTime, sizeof szTime, "  (%llu ms)", ullMs);
    return szHead + sWord + szTime;
}

/* Plain-words explanation of a result that is not PASS; "" for PASS. */
std::string PeersResultHint(const PeersInvocation &inv)
{
    if (!inv.bResult) {
        if (inv.bStartFailed)
            return "The module program could not be started: check --module.";
        if (inv.bKilled && inv.bInterrupted)
            return "zoltpeers was interrupted and killed the module.";
        if (inv.bKilled)
            return "The module did not end within its time limit and was killed.";
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
        return "The test was not allowed to run: it must raise the locked-memory limit to "
               "unlimited, which needs root with the right to raise resource limits "
               "(CAP_SYS_RESOURCE). Run zoltpeers with that capability.";
    if (w == "SETUPERROR")
        return "The test could not prepare what it needs (memory); see the warnings above.";
    if (w == "NOTAPPLICABLE")
        return "The test does not apply to this processor.";
    if (w == "BADPARAMS")
        return "The module does not know this test number.";
    if (w == "DISCONTINUED")
        return "The test was stopped on request.";
    if (w.empty())
        return "The module sent a result code without a word: no such device or an unknown code.";
    return "";
}

/* The RESULT record of one invocation as one JSON object. */
std::string PeersInvocationJson(const PeersInvocation &inv, const char *szDevice)
{
    std::string s =
        std::string("{\"kind\":\"") + (inv.bPrelude ? "SETUP" : "RESULT") + "\"," +
        JsonPair("mode", inv.sMode) + "," + JsonPair("device", szDevice ? szDevice : "") +
        ",\"test\":" + std::to_string(inv.iTest) + ",\"pid\":" + std::to_string(inv.lPid) +
        ",\"exit_status\":" + std::to_string(inv.iExitStatus) +
        ",\"signal\":" + std::to_string(inv.iSignal) +
        ",\"killed\":" + (inv.bKilled ? "true" : "false") +
        ",\"startup_seen\":" + (inv.bConnected ? "true" : "false");
    if (inv.bResult)
        s += "," + JsonPair("result", inv.sResultWord);
    s += ",\"percents\":[";
    for (size_t i = 0; i < inv.vPercents.size(); i++)
        s += (i ? "," : "") + std::to_string(inv.vPercents[i]);
    s += "],\"events\":[";
    int bFirst = 1;
    for (const PeersEvent &ev : inv.vEvents) {
        if (ev.sType == "PERCENTDONE")
            continue;
        s += std::string(bFirst ? "" : ",") + "{" + JsonPair("type", ev.sType) + "," +
             JsonPair("text", ev.sText) + "," + JsonPair("english", ev.sEnglish) +
             (ev.bHasCode ? ",\"code\":" + std::to_string(ev.iCode) : std::string()) + "}";
        bFirst = 0;
    }
    s += "]";
    if (inv.bEnumData) {
        s += ",\"devices\":[";
        for (size_t i = 0; i < inv.vDevices.size(); i++) {
            const PeersDevice &d = inv.vDevices[i];
            s += std::string(i ? "," : "") + "{\"id\":" + std::to_string(d.iId) + "," +
                 JsonPair("name", d.sName) + "," + JsonPair("description", d.sDescription) + "," +
                 JsonPair("hwlocator", d.sHwLocator) + "," + JsonPair("tests", d.sTests) + "}";
        }
        s += "]";
    }
    if (inv.bSysInfo) {
        s += ",\"sysinfo\":[";
        for (size_t i = 0; i < inv.vSysInfo.size(); i++) {
            const PeersSysInfoItem &it = inv.vSysInfo[i];
            s += std::string(i ? "," : "") + "{" + JsonPair("key", it.sKey) + "," +
                 JsonPair("description", it.sDescription) + ",\"values\":[";
            for (size_t v = 0; v < it.vValues.size(); v++)
                s += std::string(v ? "," : "") + "\"" + PeersJsonEscape(it.vValues[v]) + "\"";
            s += "]}";
        }
        s += "]";
    }
    if (inv.bValidation) {
        s += ",\"parameters\":[";
        for (size_t i = 0; i < inv.vParams.size(); i++) {
            const PeersParamResult &p = inv.vParams[i];
            s += std::string(i ? "," : "") + "{" + JsonPair("id", p.sId) + "," +
                 JsonPair("valid", p.sValidFlag) +
                 (p.bHasMin ? "," + JsonPair("min", p.sMin) : std::string()) +
                 (p.bHasMax ? "," + JsonPair("max", p.sMax) : std::string()) + "}";
        }
        s += "]";
    }
    if (!inv.sModuleOutput.empty())
        s += "," + JsonPair("module_output", inv.sModuleOutput);
    return s + "}";
}

/* ---- Writers ---- */

void PeersReportPacket(const char *szDir, long lPeer, const char *szPacket)
{
    if (g_PeersReport.pLog != nullptr) {
        std::string sPacket = szPacket ? szPacket : "";
        fprintf(g_PeersReport.pLog, "%s %ld %s", szDir, lPeer, sPacket.c_str());
        if (sPacket.size() < 2 || sPacket.compare(sPacket.size() - 2, 2, "\r\n") != 0)
            fputs("\r\n", g_PeersReport.pLog);
        fflush(g_PeersReport.pLog);
    }
    if (g_PeersReport.bJson && g_PeersReport.pOut != nullptr) {
        fprintf(g_PeersReport.pOut, "%s\n", PeersPacketJson(szDir, lPeer, szPacket).c_str());
        fflush(g_PeersReport.pOut);
    }
}

/* printf-style line of the readable report (closes a progress line first). */
void PeersReportText(const char *szFormat, ...)
{
    if (g_PeersReport.pOut == nullptr || g_PeersReport.bJson)
        return;
    CloseProgress();
    va_list args;
    va_start(args, szFormat);
    vfprintf(g_PeersReport.pOut, szFormat, args);
    va_end(args);
    fflush(g_PeersReport.pOut);
}

/* Prints one event as it arrives (progress bar for percent values). */
void PeersReportLiveEvent(const PeersInvocation *pInv, const PeersEvent *pEvent)
{
    if (g_PeersReport.pOut == nullptr || g_PeersReport.bJson || pEvent == nullptr)
        return;
    if (pEvent->sType == "PERCENTDONE") {
        if (g_PeersReport.bTty) {
            fputs(PeersProgressLine((int)strtol(pEvent->sText.c_str(), nullptr, 10)).c_str(),
                  g_PeersReport.pOut);
            g_PeersReport.bProgressOpen = 1;
            fflush(g_PeersReport.pOut);
        }
        return;
    }
    std::string sLine = PeersEventLine(*pEvent);
    if (!sLine.empty())
        PeersReportText("%s\n", sLine.c_str());
}

/* Prints the end of one invocation (result line and hint, or JSON record). */
void PeersReportInvocation(const PeersInvocation *pInv, const char *szDevice)
{
    if (g_PeersReport.pOut == nullptr)
        return;
    if (g_PeersReport.bJson) {
        fprintf(g_PeersReport.pOut, "%s\n", PeersInvocationJson(*pInv, szDevice).c_str());
        fflush(g_PeersReport.pOut);
        return;
    }
    if (pInv->sMode == "run") {
        PeersReportText("%s\n", PeersResultLine(*pInv, szDevice).c_str());
        std::string sHint = PeersResultHint(*pInv);
        if (!sHint.empty())
            PeersReportText("    %s\n", sHint.c_str());
    }
    if (pInv->bKilled && !pInv->bInterrupted && pInv->sMode != "run")
        PeersReportText("  the module (pid %ld) outlived its time limit and was killed\n",
                        pInv->lPid);
}

/* Prints the summary of a command (counts and every test that did not pass). */
void PeersReportSummary(const std::vector<PeersTestOutcome> &vOutcomes, int iExitStatus)
{
    int iPassed = 0, iNotPassed = 0, iNotRun = 0;
    for (const PeersTestOutcome &o : vOutcomes) {
        if (!o.bRan)
            iNotRun++;
        else if (o.sWord == "PASS")
            iPassed++;
        else
            iNotPassed++;
    }
    if (g_PeersReport.pOut == nullptr)
        return;
    if (g_PeersReport.bJson) {
        fprintf(
            g_PeersReport.pOut,
            "{\"kind\":\"SUMMARY\",\"tests\":%zu,\"passed\":%d,\"not_passed\":%d,\"not_run\":%d,"
            "\"exit_status\":%d}\n",
            vOutcomes.size(), iPassed, iNotPassed, iNotRun, iExitStatus);
        fflush(g_PeersReport.pOut);
        return;
    }
    PeersReportText("\nSummary: %zu test(s), %d passed, %d did not pass, %d not run\n",
                    vOutcomes.size(), iPassed, iNotPassed, iNotRun);
    for (const PeersTestOutcome &o : vOutcomes)
        if (!o.bRan || o.sWord != "PASS")
            PeersReportText(
                "  %s test %d (%s): %s\n", o.sDevice.c_str(), o.iTest, PeersTestName(o.iTest),
                o.bRan ? (o.sWord.empty() ? "no result word" : o.sWord.c_str()) : "not run");
}
