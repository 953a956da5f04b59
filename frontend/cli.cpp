/* cli.cpp - running one zoltpeers command: the session, the enumeration, the
 * checks of the request before anything is tested (unknown device or test,
 * bad --param value), the loop of test runs (selection, loops, duration,
 * stop on fail), the results in the chosen format and the exit status. */
#include "cli.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "fold.h"
#include "json-text.h"
#include "param-check.h"
#include "report.h"
#include "results.h"
#include "session-outputs.h"
#include "session.h"

/* One device and test of the selection. */
struct PeersPick {
    int iDevice, iTest;
    std::string sDevice;
};

static PeersOcptv g_PeersOcptv;
static PeersFolder g_PeersFolder;  /* streaks of identical passes (repeated runs) */
static PeersRunEnd g_PeersLastEnd; /* the session's totals, for the system log */
static int g_bPeersEnded;          /* a run-end was written */

/* The one-line usage error and the pointer to --help. */
static int UsageError(const std::string &sError)
{
    fprintf(stderr, "zoltpeers: %s\nTry 'zoltpeers --help' for more information.\n",
            PeersUtf8Clean(sError).c_str());
    return PEERS_EXIT_USAGE;
}

/* "0 (CPU:0), 1 (CPU:1)" */
static std::string DeviceChoices(const std::vector<PeersDevice> &vDevices)
{
    std::string s;
    for (const PeersDevice &d : vDevices)
        s += (s.empty() ? "" : ", ") + std::to_string(d.iId) + " (" + d.sName + ")";
    return s.empty() ? "none" : s;
}

/* "0, 1, 2" */
static std::string NumberChoices(const std::vector<int> &v)
{
    std::string s;
    for (int i : v)
        s += (s.empty() ? "" : ", ") + std::to_string(i);
    return s.empty() ? "none" : s;
}

static const PeersDevice *FindDevice(const std::vector<PeersDevice> &vDevices, int iId)
{
    for (const PeersDevice &d : vDevices)
        if (d.iId == iId)
            return &d;
    return nullptr;
}

/* The device iId, or null with *psError naming the devices there are. */
static const PeersDevice *NeedDevice(const std::vector<PeersDevice> &vDevices, int iId,
                                     std::string *psError)
{
    const PeersDevice *pDevice = FindDevice(vDevices, iId);
    if (pDevice == nullptr)
        *psError = "there is no device " + std::to_string(iId) + "; the devices are " +
                   DeviceChoices(vDevices);
    return pDevice;
}

/* Whether device d offers test iTest; else *psError names its tests. */
static bool NeedTest(const PeersDevice &d, int iTest, std::string *psError)
{
    std::vector<int> vTests = PeersSupportedTests(d.sTests);
    for (int i : vTests)
        if (i == iTest)
            return true;
    *psError = "there is no test " + std::to_string(iTest) + " on " + d.sName + "; its tests are " +
               NumberChoices(vTests);
    return false;
}

/* The device and test pairs of run or all, in order. Returns 0, or 1 with
 * *psError naming what is unknown and the valid choices. */
static int Select(const PeersCommand &cmd, const std::vector<PeersDevice> &vDevices,
                  std::vector<PeersPick> *pvPicks, std::string *psError)
{
    if (cmd.sCommand != "all") {
        const PeersDevice *pDevice = NeedDevice(vDevices, cmd.iDevice, psError);
        if (pDevice == nullptr || !NeedTest(*pDevice, cmd.iTest, psError))
            return 1;
        pvPicks->push_back(PeersPick{ pDevice->iId, cmd.iTest, pDevice->sName });
        return 0;
    }
    std::vector<const PeersDevice *> vChosen;
    for (int iId : cmd.vDevices)
        if (const PeersDevice *pDevice = NeedDevice(vDevices, iId, psError))
            vChosen.push_back(pDevice);
        else
            return 1;
    if (!cmd.bDevicesGiven)
        for (const PeersDevice &d : vDevices)
            vChosen.push_back(&d);
    std::vector<int> vOffered;
    for (const PeersDevice *pDevice : vChosen)
        for (int iTest : PeersSupportedTests(pDevice->sTests)) {
            vOffered.push_back(iTest);
            bool bWanted = !cmd.bTestsGiven;
            for (int iWanted : cmd.vTests)
                bWanted |= iWanted == iTest;
            if (bWanted)
                pvPicks->push_back(PeersPick{ pDevice->iId, iTest, pDevice->sName });
        }
    for (int iWanted : cmd.vTests)
        if (std::find(vOffered.begin(), vOffered.end(), iWanted) == vOffered.end()) {
            *psError = "no chosen device has test " + std::to_string(iWanted) + "; choose from " +
                       NumberChoices(PeersSupportedTests("*"));
            return 1;
        }
    return 0;
}

/* Checks --param against the definitions file for every test picked. */
static int CheckParams(const PeersCommand &cmd, const std::vector<int> &vTests,
                       std::string *psError)
{
    for (int iTest : vTests) {
        std::vector<PeersParamDef> vDefs;
        if (PeersReadParamDefs(cmd.sDefFile.c_str(), iTest, &vDefs) != 0)
            return 0; /* the module reports a definitions file it cannot read */
        if (PeersCheckParams(vDefs, iTest, cmd.vParams, psError) != 0)
            return 1;
    }
    return 0;
}

/* ---- results in the chosen format ---- */

static void EmitRunStart(const PeersRunInfo &info)
{
    PeersOutputsSetModuleVersion(info.sModuleVersion);
    if (PeersResultFormat() == PEERS_FORMAT_JSON)
        PeersReportRecord(PeersJsonRunStart(info));
    if (PeersResultFormat() != PEERS_FORMAT_OCPTV)
        return;
    PeersOcptvInit(&g_PeersOcptv);
    for (const std::string &s : PeersOcptvRunStart(&g_PeersOcptv, info))
        PeersReportRecord(s);
}

/* The record of a run in the json format. */
static void EmitJsonRun(const PeersTestRun &run)
{
    if (PeersResultFormat() == PEERS_FORMAT_JSON)
        PeersReportRecord(PeersJsonTestRun(run));
}

/* The step of a run in the ocptv format. */
static void EmitOcptvRun(const PeersTestRun &run)
{
    if (PeersResultFormat() == PEERS_FORMAT_OCPTV)
        for (const std::string &s : PeersOcptvTestRun(&g_PeersOcptv, run))
            PeersReportRecord(s);
}

/* Writes the records of ended streaks; returns their folded text lines. */
static std::string EmitEnded(const PeersCommand &cmd, std::vector<PeersFoldEntry> &vEnded)
{
    std::string sText;
    for (PeersFoldEntry &e : vEnded) {
        const PeersTestRun &run = PeersFoldEntryRun(&e);
        if (run.fold.iCount > 1)
            sText += PeersFoldTextLine(run) + "\n";
        EmitJsonRun(run);
        if (cmd.bFold) /* else every run was a step of its own */
            EmitOcptvRun(run);
    }
    return sText;
}

static void EmitRunEnd(const PeersCommand &cmd, const PeersRunEnd &end, int bTable)
{
    std::vector<PeersFoldEntry> vEnded;
    PeersFoldFlush(&g_PeersFolder, &vEnded);
    std::string sFolded = EmitEnded(cmd, vEnded);
    if (!sFolded.empty())
        PeersReportText("%s", sFolded.c_str());
    g_PeersLastEnd = end;
    g_bPeersEnded = 1;
    if (PeersResultFormat() == PEERS_FORMAT_JSON)
        PeersReportRecord(PeersJsonRunEnd(end));
    if (PeersResultFormat() == PEERS_FORMAT_OCPTV)
        PeersReportRecord(PeersOcptvRunEnd(&g_PeersOcptv, end));
    if (bTable)
        for (const std::string &s : PeersTextTable(end))
            PeersReportEssential("%s\n", s.c_str());
}

/* ---- the test loop ---- */

/* "loop 2/3  CPU:0  test 1 (x87 floating-point unit)  0:00:12  " */
static std::string ProgressHead(long lLoop, long lLoops, const PeersPick &pick,
                                unsigned long long ullElapsedMs)
{
    char szHead[200];
    unsigned long long ullSec = ullElapsedMs / 1000;
    snprintf(szHead, sizeof szHead, "loop %ld%s%s  %s  test %d (%s)  %llu:%02llu:%02llu  ", lLoop,
             lLoops > 0 ? "/" : "", lLoops > 0 ? std::to_string(lLoops).c_str() : "",
             pick.sDevice.c_str(), pick.iTest, PeersTestName(pick.iTest), ullSec / 3600,
             ullSec / 60 % 60, ullSec % 60);
    return szHead;
}

/* Writes a finished run: at once, or, when the selection repeats, through
 * the folder (its text report was held back until now). */
static void WriteRun(const PeersCommand &cmd, const PeersTestRun &run, int bFolding)
{
    std::vector<PeersFoldEntry> vEnded;
    int iHeld = bFolding ? PeersFoldOffer(&g_PeersFolder, run, &vEnded) : PEERS_FOLD_NOT_HELD;
    std::string sFolded = EmitEnded(cmd, vEnded);
    if (bFolding)
        PeersReportRelease(iHeld != PEERS_FOLD_ADDED, sFolded);
    if (iHeld == PEERS_FOLD_NOT_HELD)
        EmitJsonRun(run);
    if (iHeld == PEERS_FOLD_NOT_HELD || !cmd.bFold)
        EmitOcptvRun(run);
}

/* Runs one picked test and gives its results. Returns its outcome. */
static int RunOne(PeersSession *pSession, const PeersCommand &cmd, const PeersPick &pick,
                  long lLoop, PeersRunEnd *pEnd)
{
    int bFolding = cmd.lLoops > 1 || cmd.ullDurationMs > 0;
    if (bFolding)
        PeersReportHold();
    PeersReportText("\n%s: test %d (%s)%s\n", pick.sDevice.c_str(), pick.iTest,
                    PeersTestName(pick.iTest),
                    lLoop > 1 || bFolding ? (", loop " + std::to_string(lLoop)).c_str() : "");
    PeersInvocation inv;
    PeersTestRun run;
    run.sStartTime = PeersRfc3339Now();
    PeersRunTest(pSession, &inv, pick.iDevice, pick.iTest, cmd.vParams, cmd.iErrLimit);
    PeersReportInvocation(&inv, pick.sDevice.c_str());
    run.pInv = &inv;
    run.iDevice = pick.iDevice;
    run.iTest = pick.iTest;
    run.sDevice = pick.sDevice;
    run.lLoop = lLoop;
    run.ullDurationMs = inv.ullEndMs > inv.ullStartMs ? inv.ullEndMs - inv.ullStartMs : 0;
    run.iOutcome = PeersOutcomeOf(inv);
    run.place = { -1, -1, -1, -1 };
    PeersRunEndAdd(pEnd, run);
    PeersOutputsCountRun(run);
    WriteRun(cmd, run, bFolding);
    return run.iOutcome;
}

/* Why the loop must stop before the next test ("" to go on). */
static const char *StopReason(const PeersCommand &cmd, unsigned long long ullStartMs)
{
    if (g_iPeersInterrupted)
        return "interrupted";
    if (cmd.ullDurationMs > 0 && PeersNowMs() - ullStartMs >= cmd.ullDurationMs)
        return "duration";
    return "";
}

/* Runs the picks --loops times or until --duration passed. */
static void RunLoops(PeersSession *pSession, const PeersCommand &cmd,
                     const std::vector<PeersPick> &vPicks, PeersRunEnd *pEnd)
{
    long lLoops = cmd.lLoops > 0 ? cmd.lLoops : (cmd.ullDurationMs > 0 ? -1 : 1);
    unsigned long long ullStart = PeersNowMs();
    for (long lLoop = 1; lLoops < 0 || lLoop <= lLoops; lLoop++) {
        for (const PeersPick &pick : vPicks) {
            const char *szStop = StopReason(cmd, ullStart);
            if (*szStop) {
                pEnd->sStopReason = strcmp(szStop, "duration") == 0 ? "" : szStop;
                return;
            }
            pEnd->lLoops = lLoop;
            PeersReportProgress(ProgressHead(lLoop, lLoops, pick, PeersNowMs() - ullStart));
            if (RunOne(pSession, cmd, pick, lLoop, pEnd) == PEERS_OUTCOME_FAIL && cmd.bStopOnFail) {
                pEnd->sStopReason = "stop-on-fail";
                return;
            }
        }
    }
}

/* ---- the commands ---- */

/* Report lines of an enumeration. */
static void ReportDevices(const PeersInvocation &inv)
{
    PeersReportText("Enumeration: %zu device(s)\n", inv.vDevices.size());
    for (const PeersDevice &d : inv.vDevices)
        PeersReportText("  device %d  %s  %s  (tests %s)\n", d.iId, d.sName.c_str(),
                        d.sDescription.c_str(), d.sTests.c_str());
}

/* Explains an invocation that gave no answer: on stderr, one line. */
static void ExplainNoAnswer(const char *szWhat, const PeersInvocation &inv)
{
    std::string sWhy;
    if (inv.bStartFailed)
        sWhy = inv.sModuleOutput.empty() ? "the module could not be started" : inv.sModuleOutput;
    else if (inv.bKilled)
        sWhy = "the module outlived its time limit and was killed";
    else
        sWhy = "the module ended with exit status " + std::to_string(inv.iExitStatus) +
               (inv.bConnected ? " without the answer" : " and never connected");
    while (!sWhy.empty() && sWhy.back() == '\n')
        sWhy.pop_back();
    fprintf(stderr, "zoltpeers: %s failed: %s; check --module and --deffile\n", szWhat,
            PeersUtf8Clean(sWhy).c_str());
}

/* The run's facts for the formats; in the ocptv format each device's vendor
 * comes from its system information. */
static void FillRunInfo(PeersSession *pSession, const PeersCommand &cmd,
                        const PeersInvocation &invEnum, PeersRunInfo *pInfo)
{
    char szHost[256] = "localhost";
    gethostname(szHost, sizeof szHost - 1);
    szHost[sizeof szHost - 1] = '\0';
    pInfo->sCommand = cmd.sCommand;
    pInfo->sCommandLine = cmd.sCommandLine;
    pInfo->sHost = szHost;
    pInfo->sStartTime = PeersRfc3339Now();
    pInfo->sModule = cmd.sModule;
    pInfo->sDefFile = cmd.sDefFile;
    pInfo->sModuleVersion = invEnum.sVersion;
    pInfo->vDevices = invEnum.vDevices;
    for (const PeersDevice &d : invEnum.vDevices) {
        std::string sVendor;
        PeersInvocation inv;
        if (cmd.iFormat == PEERS_FORMAT_OCPTV && PeersSysInfo(pSession, &inv, d.iId) == 0)
            for (const PeersSysInfoItem &it : inv.vSysInfo)
                if (it.sKey == "VENDOR" && !it.vValues.empty())
                    sVendor = it.vValues[0];
        pInfo->vVendors.push_back(sVendor);
    }
}

/* all and run. Returns the exit status. */
static int DoTests(PeersSession *pSession, const PeersCommand &cmd, const PeersRunInfo &info)
{
    std::vector<PeersPick> vPicks;
    std::vector<int> vTests;
    std::string sError;
    if (Select(cmd, info.vDevices, &vPicks, &sError) != 0)
        return UsageError(sError);
    for (const PeersPick &p : vPicks)
        if (std::find(vTests.begin(), vTests.end(), p.iTest) == vTests.end())
            vTests.push_back(p.iTest);
    if (CheckParams(cmd, vTests, &sError) != 0)
        return UsageError(sError);
    unsigned long long ullStart = PeersNowMs();
    EmitRunStart(info);
    PeersRunEnd end = PeersRunEnd();
    RunLoops(pSession, cmd, vPicks, &end);
    end.ullDurationMs = PeersNowMs() - ullStart;
    end.iExitStatus = PeersExitOfTotals(end);
    EmitRunEnd(cmd, end, 1);
    return end.iExitStatus;
}

/* sysinfo. Returns the exit status. */
static int DoSysInfo(PeersSession *pSession, const PeersCommand &cmd, const PeersRunInfo &info)
{
    std::string sError;
    if (NeedDevice(info.vDevices, cmd.iDevice, &sError) == nullptr)
        return UsageError(sError);
    PeersInvocation inv;
    int iRc = PeersSysInfo(pSession, &inv, cmd.iDevice);
    PeersReportInvocation(&inv, "");
    EmitRunStart(info);
    PeersReportText("System information of device %d: %zu item(s)\n", cmd.iDevice,
                    inv.vSysInfo.size());
    for (const PeersSysInfoItem &it : inv.vSysInfo) {
        std::string sValues;
        for (const std::string &v : it.vValues)
            sValues += (sValues.empty() ? "" : ", ") + v;
        PeersReportText("  %s (%s): %s\n", it.sDescription.c_str(), it.sKey.c_str(),
                        sValues.c_str());
        if (cmd.iFormat == PEERS_FORMAT_OCPTV)
            PeersReportRecord(PeersOcptvRunLog(&g_PeersOcptv, "INFO", it.sKey + ": " + sValues));
    }
    if (cmd.iFormat == PEERS_FORMAT_JSON)
        PeersReportRecord(PeersJsonSysInfo(inv));
    PeersRunEnd end = PeersRunEnd();
    end.iExitStatus = iRc == 0 ? PEERS_EXIT_PASS : PEERS_EXIT_NOT_RUN;
    if (iRc != 0)
        ExplainNoAnswer("the system-information request", inv);
    EmitRunEnd(cmd, end, 0);
    return end.iExitStatus;
}

/* validate. Returns the exit status. */
static int DoValidate(PeersSession *pSession, const PeersCommand &cmd, const PeersRunInfo &info)
{
    std::string sError;
    int iDevice =
        cmd.iDevice >= 0 ? cmd.iDevice : (info.vDevices.empty() ? 0 : info.vDevices[0].iId);
    const PeersDevice *pDevice = NeedDevice(info.vDevices, iDevice, &sError);
    if (pDevice == nullptr || !NeedTest(*pDevice, cmd.iTest, &sError) ||
        CheckParams(cmd, { cmd.iTest }, &sError) != 0)
        return UsageError(sError);
    PeersInvocation inv;
    int iRc = PeersValidate(pSession, &inv, iDevice, cmd.iTest, cmd.vParams);
    PeersReportInvocation(&inv, "");
    EmitRunStart(info);
    PeersReportText("Validation of test %d: %zu parameter(s)%s\n", cmd.iTest, inv.vParams.size(),
                    inv.bValidation ? "" : ", no answer");
    for (const PeersParamResult &r : inv.vParams)
        PeersReportText("  %s: %s%s%s%s%s\n", r.sId.c_str(), r.sValidFlag.c_str(),
                        r.bHasMin ? "  min " : "", r.bHasMin ? r.sMin.c_str() : "",
                        r.bHasMax ? "  max " : "", r.bHasMax ? r.sMax.c_str() : "");
    if (cmd.iFormat == PEERS_FORMAT_JSON)
        PeersReportRecord(PeersJsonValidation(inv));
    PeersRunEnd end = PeersRunEnd();
    end.iExitStatus =
        iRc == 0 ? PEERS_EXIT_PASS : (iRc == 1 ? PEERS_EXIT_USAGE : PEERS_EXIT_NOT_RUN);
    if (iRc == 2 && inv.iExitStatus == 30 && !inv.bConnected)
        fprintf(stderr, "zoltpeers: the module answers no validation requests (it registers no "
                        "validation callback and ended with status 30); nothing to validate\n");
    else if (iRc == 2)
        ExplainNoAnswer("validation", inv);
    EmitRunEnd(cmd, end, 0);
    return end.iExitStatus;
}

/* Opens the log for writing without following a symbolic link at its name
 * (zoltpeers may run as root in a folder others can write). */
static FILE *OpenLog(const std::string &sPath)
{
    int hLog = open(sPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    FILE *pLog = hLog >= 0 ? fdopen(hLog, "w") : nullptr;
    if (pLog == nullptr && hLog >= 0)
        close(hLog);
    return pLog;
}

/* Opens the session (and the log). Returns 0, or the exit status. */
static int OpenSession(PeersCommand *pCmd, PeersSession *pSession, FILE **ppLog)
{
    std::string sLooked;
    if (PeersDefaultPaths(pCmd, &sLooked) != 0) {
        fprintf(stderr, "zoltpeers: no module program found (looked for %s); give --module PATH\n",
                sLooked.c_str());
        return PEERS_EXIT_NOT_RUN;
    }
    if (access(pCmd->sModule.c_str(), X_OK) != 0) {
        fprintf(stderr, "zoltpeers: %s is not an executable program: %s; give --module PATH\n",
                pCmd->sModule.c_str(), strerror(errno));
        return PEERS_EXIT_NOT_RUN;
    }
    if (!pCmd->sLog.empty() && (*ppLog = OpenLog(pCmd->sLog)) == nullptr) {
        fprintf(stderr, "zoltpeers: cannot write the log %s: %s; choose another --log FILE\n",
                pCmd->sLog.c_str(), strerror(errno));
        return PEERS_EXIT_NOT_RUN;
    }
    PeersReportInit(stdout, pCmd->sOutput.empty() ? pCmd->iFormat : PEERS_FORMAT_TEXT, *ppLog);
    PeersReportSetQuiet(pCmd->bQuiet);
    if (PeersOutputsOpen(*pCmd) != 0)
        return PEERS_EXIT_NOT_RUN;
    int iOpen =
        PeersSessionOpen(pSession, &pCmd->opt, pCmd->sModule.c_str(), pCmd->sDefFile.c_str(),
                         pCmd->sPipeBase.empty() ? nullptr : pCmd->sPipeBase.c_str());
    if (iOpen != 0) {
        fprintf(stderr,
                "zoltpeers: cannot set up the broker's pipe directory and FIFO (%d); "
                "check --pipe-base or TMPDIR\n",
                iOpen);
        return PEERS_EXIT_NOT_RUN;
    }
    pSession->engine.bSplitComponents = pCmd->bSplitComponents;
    std::istringstream words(pCmd->sModuleWrapper);
    std::string sWord;
    while (words >> sWord)
        pSession->vModuleWrapper.push_back(sWord);
    return 0;
}

/* Enumerates (with faithful peers unless enumeration is the request) and
 * dispatches the command. Returns the exit status. */
static int Dispatch(PeersSession *pSession, PeersCommand *pCmd)
{
    const std::string &c = pCmd->sCommand;
    PeersReportText("zoltpeers: module %s, definitions %s\n", pCmd->sModule.c_str(),
                    pCmd->sDefFile.c_str());
    PeersOptions optAsked = pSession->opt;
    if (c != "all" && c != "enumerate") { /* misbehaviours are meant for the request */
        PeersOptionsInit(&pSession->opt);
        pSession->opt.iModuleLimitMs = optAsked.iModuleLimitMs;
    }
    PeersInvocation invEnum;
    int iEnum = PeersEnumerate(pSession, &invEnum);
    invEnum.bPrelude = c != "all" && c != "enumerate";
    pSession->opt = optAsked;
    PeersReportInvocation(&invEnum, "");
    if (iEnum != 0) {
        ExplainNoAnswer("the enumeration", invEnum);
        return g_iPeersInterrupted ? PEERS_EXIT_UNTESTED : PEERS_EXIT_NOT_RUN;
    }
    if (c == "enumerate" || c == "all")
        ReportDevices(invEnum);
    PeersRunInfo info;
    FillRunInfo(pSession, *pCmd, invEnum, &info);
    if (c == "all" || c == "run")
        return DoTests(pSession, *pCmd, info);
    if (c == "sysinfo")
        return DoSysInfo(pSession, *pCmd, info);
    if (c == "validate")
        return DoValidate(pSession, *pCmd, info);
    EmitRunStart(info);
    PeersRunEnd end = PeersRunEnd();
    EmitRunEnd(*pCmd, end, 0);
    return PEERS_EXIT_PASS;
}

/* Runs one command in a fresh session (pipe directory removed at the end).
 * Returns the exit status of zoltpeers. Main thread. */
int PeersRunCommand(PeersCommand *pCmd)
{
    FILE *pLog = nullptr;
    PeersSession session;
    g_bPeersEnded = 0;
    int iExit = OpenSession(pCmd, &session, &pLog);
    if (iExit == 0) {
        iExit = Dispatch(&session, pCmd);
        PeersSessionClose(&session);
    }
    if (pLog != nullptr && fclose(pLog) != 0)
        g_PeersReport.bLogFailed = 1;
    if (fflush(stdout) != 0 || ferror(stdout))
        g_PeersReport.bOutFailed = 1;
    if (g_PeersReport.bOutFailed || g_PeersReport.bLogFailed) {
        fprintf(stderr, "zoltpeers: writing %s failed: %s; make room or choose another file\n",
                g_PeersReport.bOutFailed ? "the results to standard output" : pCmd->sLog.c_str(),
                strerror(g_PeersReport.iWriteErrno ? g_PeersReport.iWriteErrno : EIO));
        if (iExit != PEERS_EXIT_FAILED && iExit != PEERS_EXIT_USAGE)
            iExit = PEERS_EXIT_NOT_RUN;
    }
    if (g_iPeersInterrupted) {
        fprintf(stderr, "zoltpeers: interrupted by signal %d; the module was stopped\n",
                (int)g_iPeersInterrupted);
        iExit = PEERS_EXIT_SIGNAL + (int)g_iPeersInterrupted;
    }
    return PeersOutputsClose(*pCmd, g_bPeersEnded ? &g_PeersLastEnd : nullptr, iExit);
}

/* --version: zoltpeers' version and the module's. Returns the exit status. */
static int PrintVersion(PeersCommand *pCmd)
{
    std::string sLooked;
    int iFound = PeersDefaultPaths(pCmd, &sLooked) == 0;
    std::string sVersion = iFound ? PeersModuleVersion(pCmd->sModule) : "";
    printf("zoltpeers %s\n", ZOLT_PEERS_VERSION);
    if (!sVersion.empty())
        printf("module: %s (%s)\n", PeersUtf8Clean(sVersion).c_str(), pCmd->sModule.c_str());
    else
        printf("module: %s could not be run\n",
               iFound ? pCmd->sModule.c_str() : ("none found at " + sLooked).c_str());
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "zoltpeers: writing to standard output failed: %s\n", strerror(errno));
        return PEERS_EXIT_NOT_RUN;
    }
    return sVersion.empty() ? PEERS_EXIT_NOT_RUN : PEERS_EXIT_PASS;
}

/* main() of zoltpeers: parse, catch signals, run. Returns the exit status. */
int PeersMain(int argc, char **argv)
{
    PeersCommand cmd;
    char szError[512];
    if (PeersParseCommandLine(argc, argv, &cmd, szError, sizeof szError) != 0)
        return UsageError(szError);
    if (cmd.bHelp) {
        fputs(PeersUsageText(), stdout);
        return fflush(stdout) == 0 ? PEERS_EXIT_PASS : PEERS_EXIT_NOT_RUN;
    }
    if (cmd.bVersion)
        return PrintVersion(&cmd);
    PeersCatchSignals();
    return PeersRunCommand(&cmd);
}
