/* cli.cpp - running one zoltpeers command: the session, the enumeration, the
 * checks of the request before anything is tested (unknown device or test,
 * bad --param value), the selection of test runs (per device or per logical
 * CPU; scheduler.cpp runs them), the results in the chosen format and the
 * exit status. */
#include "cli.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "fold.h"
#include "format-ops.h"
#include "json-text.h"
#include "machine-info.h"
#include "param-check.h"
#include "report.h"
#include "cpu-places.h"
#include "job-worker.h"
#include "results.h"
#include "safe-path.h"
#include "scheduler.h"
#include "session-outputs.h"
#include "session.h"

/* The place of a pick the module places itself. */
static const PeersCpuPlace kAnyCpu = { -1, -1, -1, -1 };

/* Text for one line on standard error: valid UTF-8, and on a terminal with
 * its control characters made visible. */
static std::string ForStderr(const std::string &s)
{
    std::string sClean = PeersUtf8Clean(s);
    return isatty(2) ? PeersVisibleText(sClean) : sClean;
}

static PeersRunEnd g_PeersLastEnd; /* the session's totals, for the system log */
static int g_bPeersEnded;          /* a run-end was written */

/* The run's start in the result format; the module's version for the metrics. */
static void EmitStart(const PeersRunInfo &info)
{
    PeersOutputsSetModuleVersion(info.sModuleVersion);
    PeersEmitRunStart(info);
}

/* A finished test run: counted for the metrics and the system log, then
 * written through the folding filter. */
static void EmitRun(const PeersTestRun &run)
{
    PeersOutputsCountRun(run);
    PeersFoldEmitRun(run);
}

/* The run's end: the streaks still open first, then the end record; the
 * totals are kept for the system log. */
static void EmitEnd(const PeersRunEnd &end)
{
    PeersFoldEmitEnd();
    g_PeersLastEnd = end;
    g_bPeersEnded = 1;
    PeersEmitRunEnd(end);
}

/* The one-line usage error and the pointer to --help. */
static int UsageError(const std::string &sError)
{
    fprintf(stderr, "zoltpeers: %s\nTry 'zoltpeers --help' for more information.\n",
            ForStderr(sError).c_str());
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
        pvPicks->push_back(PeersPick{ pDevice->iId, cmd.iTest, pDevice->sName, kAnyCpu });
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
                pvPicks->push_back(PeersPick{ pDevice->iId, iTest, pDevice->sName, kAnyCpu });
        }
    for (int iWanted : cmd.vTests)
        if (std::find(vOffered.begin(), vOffered.end(), iWanted) == vOffered.end()) {
            *psError = "no chosen device has test " + std::to_string(iWanted) + "; choose from " +
                       NumberChoices(PeersSupportedTests("*"));
            return 1;
        }
    return 0;
}

/* --each-cpu / --cpus: each pick once per logical CPU of its device (of the
 * CPUs chosen). Returns 0, or 1 with *psError saying what cannot be run. */
static int ExpandToCpus(const PeersCommand &cmd, std::vector<PeersPick> *pvPicks,
                        std::string *psError)
{
    std::vector<PeersCpu> vCpus;
    if (!cmd.bEachCpu)
        return 0;
    if (PeersChooseCpus(cmd.vCpus, cmd.bCpusGiven, &vCpus, psError) != 0)
        return 1;
    std::vector<PeersPick> vOut;
    for (const PeersCpu &c : vCpus) {
        size_t uBefore = vOut.size();
        for (const PeersPick &p : *pvPicks)
            if (p.iDevice == c.iDevice)
                vOut.push_back(PeersPick{ p.iDevice, p.iTest, p.sDevice, c.place });
        if (cmd.bCpusGiven && vOut.size() == uBefore) {
            *psError = "--cpus: logical CPU " + std::to_string(c.place.iCpu) +
                       " belongs to device " + std::to_string(c.iDevice) + ", which is not chosen";
            return 1;
        }
    }
    /* pick by pick, each on every CPU, so that the jobs find free CPUs at once */
    std::stable_sort(vOut.begin(), vOut.end(), [&](const PeersPick &a, const PeersPick &b) {
        return a.iDevice != b.iDevice ? a.iDevice < b.iDevice : a.iTest < b.iTest;
    });
    if (vOut.empty())
        *psError = "--each-cpu: no chosen device holds a logical CPU zoltpeers may run on";
    pvPicks->swap(vOut);
    return pvPicks->empty() ? 1 : 0;
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

/* ---- results when the module could not be run ---- */

/* The run's facts known before the module ran: the command and the machine. */
static void BaseRunInfo(const PeersCommand &cmd, PeersRunInfo *pInfo)
{
    PeersReadMachineInfo(&pInfo->machine);
    pInfo->sCommand = cmd.sCommand;
    pInfo->sCommandLine = cmd.sCommandLine;
    pInfo->sHost = pInfo->machine.sHost.empty() ? "localhost" : pInfo->machine.sHost;
    pInfo->sStartTime = PeersRfc3339Now();
    pInfo->sModule = cmd.sModule;
    pInfo->sDefFile = cmd.sDefFile;
}

/* Writes the run's start and its end with the reason the module could not be
 * run, so a collector tells a broken tool from a sound machine. Returns
 * PEERS_EXIT_NOT_RUN. */
static int RecordNotRun(const PeersCommand &cmd, const std::string &sWhy)
{
    PeersRunInfo info;
    BaseRunInfo(cmd, &info);
    EmitStart(info);
    PeersRunEnd end = PeersRunEnd();
    end.sError = sWhy;
    end.iExitStatus = PEERS_EXIT_NOT_RUN;
    EmitEnd(end);
    return PEERS_EXIT_NOT_RUN;
}

/* Says on stderr why the module could not be run (sWhy, then szFix) and
 * records it. Returns PEERS_EXIT_NOT_RUN. */
static int NotRun(const PeersCommand &cmd, const std::string &sWhy, const char *szFix)
{
    fprintf(stderr, "zoltpeers: %s%s\n", ForStderr(sWhy).c_str(), szFix);
    return RecordNotRun(cmd, sWhy);
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

/* Why an invocation gave no answer, in one line. */
static std::string NoAnswerReason(const char *szWhat, const PeersInvocation &inv)
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
    return std::string(szWhat) + " failed: " + sWhy;
}

/* Explains an invocation that gave no answer: on stderr, one line. Returns
 * the reason. */
static std::string ExplainNoAnswer(const char *szWhat, const PeersInvocation &inv)
{
    std::string sWhy = NoAnswerReason(szWhat, inv);
    fprintf(stderr, "zoltpeers: %s; check --module and --deffile\n", ForStderr(sWhy).c_str());
    return sWhy;
}

/* The run's facts for the formats. */
static void FillRunInfo(const PeersCommand &cmd, const PeersInvocation &invEnum,
                        PeersRunInfo *pInfo)
{
    BaseRunInfo(cmd, pInfo);
    pInfo->sModuleVersion = invEnum.sVersion;
    pInfo->vDevices = invEnum.vDevices;
}

/* all and run. Returns the exit status. */
static int DoTests(PeersSession *pSession, const PeersCommand &cmd, const PeersRunInfo &info)
{
    std::vector<PeersPick> vPicks;
    std::vector<int> vTests;
    std::string sError;
    if (Select(cmd, info.vDevices, &vPicks, &sError) != 0 ||
        ExpandToCpus(cmd, &vPicks, &sError) != 0)
        return UsageError(sError);
    for (const PeersPick &p : vPicks)
        if (std::find(vTests.begin(), vTests.end(), p.iTest) == vTests.end())
            vTests.push_back(p.iTest);
    if (CheckParams(cmd, vTests, &sError) != 0)
        return UsageError(sError);
    if (cmd.bJobWorker)
        return PeersJobWorkerLoop(pSession, cmd);
    unsigned long long ullStart = PeersNowMs();
    EmitStart(info);
    PeersRunEnd end = PeersRunEnd();
    PeersFoldStart(cmd.iFormat != PeersFindFormat("ocptv") || cmd.bFold);
    PeersRunPicks(pSession, cmd, vPicks, EmitRun, &end);
    end.ullDurationMs = PeersNowMs() - ullStart;
    end.iExitStatus = PeersExitOfTotals(end);
    EmitEnd(end);
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
    EmitStart(info);
    PeersReportText("System information of device %d: %zu item(s)\n", cmd.iDevice,
                    inv.vSysInfo.size());
    for (const PeersSysInfoItem &it : inv.vSysInfo) {
        std::string sValues;
        for (const std::string &v : it.vValues)
            sValues += (sValues.empty() ? "" : ", ") + v;
        PeersReportText("  %s (%s): %s\n", it.sDescription.c_str(), it.sKey.c_str(),
                        sValues.c_str());
    }
    PeersEmitSysInfo(inv);
    PeersRunEnd end = PeersRunEnd();
    end.iExitStatus = iRc == 0 ? PEERS_EXIT_PASS : PEERS_EXIT_NOT_RUN;
    if (iRc != 0)
        end.sError = ExplainNoAnswer("the system-information request", inv);
    EmitEnd(end);
    return end.iExitStatus;
}

/* The parameters given, as checked against the definitions file (every one
 * valid there, or CheckParams had refused it), with the declared range. */
static void ParamsFromDefinitions(const PeersCommand &cmd, PeersInvocation *pInv)
{
    std::vector<PeersParamDef> vDefs;
    PeersReadParamDefs(cmd.sDefFile.c_str(), cmd.iTest, &vDefs);
    for (const std::string &sParam : cmd.vParams) {
        PeersParamResult r = PeersParamResult();
        r.sId = sParam.substr(0, sParam.find(','));
        r.sValidFlag = "valid";
        for (const PeersParamDef &d : vDefs)
            if (strcasecmp(d.sId.c_str(), r.sId.c_str()) == 0) {
                r.sId = d.sId;
                r.sMin = d.sMin;
                r.sMax = d.sMax;
                r.bHasMin = !d.sMin.empty();
                r.bHasMax = !d.sMax.empty();
            }
        pInv->vParams.push_back(r);
    }
}

/* validate. A module that answers no validation requests (it registers no
 * validation callback and ends with status 30 at once) leaves the check
 * against the definitions file, which the report names. Returns the exit
 * status. */
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
    const int bDefsOnly = iRc == 2 && inv.iExitStatus == 30 && !inv.bConnected;
    if (bDefsOnly) {
        ParamsFromDefinitions(cmd, &inv);
        iRc = 0;
    }
    EmitStart(info);
    PeersReportText("Validation of test %d: %zu parameter(s), %s\n", cmd.iTest, inv.vParams.size(),
                    bDefsOnly ? ("checked against the definitions file " + cmd.sDefFile +
                                 " only (the module answers no validation requests)")
                                    .c_str()
                              : (inv.bValidation ? "checked by the module" : "no answer"));
    for (const PeersParamResult &r : inv.vParams)
        PeersReportText("  %s: %s%s%s%s%s\n", r.sId.c_str(), r.sValidFlag.c_str(),
                        r.bHasMin ? "  min " : "", r.bHasMin ? r.sMin.c_str() : "",
                        r.bHasMax ? "  max " : "", r.bHasMax ? r.sMax.c_str() : "");
    PeersEmitValidation(inv, bDefsOnly ? "definitions" : "module");
    PeersRunEnd end = PeersRunEnd();
    end.iExitStatus =
        iRc == 0 ? PEERS_EXIT_PASS : (iRc == 1 ? PEERS_EXIT_USAGE : PEERS_EXIT_NOT_RUN);
    if (iRc == 2)
        end.sError = ExplainNoAnswer("validation", inv);
    EmitEnd(end);
    return end.iExitStatus;
}

/* The last refusal, "refusing WHAT PATH: WHY", for the run-end record. */
static std::string s_sRefusal;

/* The one line of a refusal: what, the path, why, what to do. Returns the
 * exit status (the module could not be run). */
static int Refuse(const char *szWhat, const std::string &sPath, const std::string &sWhy,
                  const char *szHint)
{
    s_sRefusal = std::string("refusing ") + szWhat + " " + sPath + ": " + sWhy;
    fprintf(stderr, "zoltpeers: %s; %s\n", ForStderr(s_sRefusal).c_str(), szHint);
    return PEERS_EXIT_NOT_RUN;
}

/* The definitions file must be one the module takes: a path it can name in
 * its STARTUP packet, a regular file it reads whole. Returns 0 or the exit
 * status (refused, one line said why). */
static int CheckDefFile(const std::string &sPath)
{
    std::string sWhy, sText;
    if (sPath.size() > PEERS_DEFFILE_PATH_MAX)
        return Refuse("the definitions file", sPath,
                      "the path has " + std::to_string(sPath.size()) +
                          " characters, the module can send at most " +
                          std::to_string(PEERS_DEFFILE_PATH_MAX) + " to the broker",
                      "copy it to a shorter path for --deffile");
    if (PeersReadSmallFile(sPath.c_str(), PEERS_READ_FILE_LIMIT, &sText, &sWhy) == 0)
        return 0;
    return Refuse("the definitions file", sPath, sWhy, "give --deffile a regular file");
}

/* Opens the log (see PeersOpenWriteFile). Returns 0 or the exit status. */
static int OpenLog(const std::string &sPath, FILE **ppLog)
{
    std::string sWhy;
    int hLog = PeersOpenWriteFile(sPath.c_str(), &sWhy);
    *ppLog = hLog >= 0 ? fdopen(hLog, "w") : nullptr;
    if (*ppLog != nullptr)
        return 0;
    if (hLog >= 0) {
        sWhy = strerror(errno);
        close(hLog);
    }
    return Refuse("the log", sPath, sWhy, "choose a new name or a file of your own for --log");
}

/* Opens --output, --metrics-file and the system log (session-outputs.h).
 * Returns 0, or PEERS_EXIT_NOT_RUN after the refusal. */
static int OpenOutputs(const PeersCommand &cmd)
{
    const char *szOption = "";
    std::string sPath, sWhy;
    if (PeersOutputsOpen(cmd, &szOption, &sPath, &sWhy) == 0)
        return 0;
    return Refuse(szOption, sPath, sWhy,
                  "choose a file in a folder of your own or one with the sticky bit");
}

/* Why the pipe directory could not be made: the folder it goes in
 * (--pipe-base, else $TMPDIR, else /tmp) and what is wrong with it, else
 * iErrno of the failed setup. */
static std::string PipeBaseProblem(const PeersCommand &cmd, int iErrno)
{
    const char *szTmp = getenv("TMPDIR");
    std::string sBase = !cmd.sPipeBase.empty() ? cmd.sPipeBase : (szTmp && *szTmp ? szTmp : "/tmp");
    struct stat st;
    if (stat(sBase.c_str(), &st) != 0 ||
        (S_ISDIR(st.st_mode) && access(sBase.c_str(), W_OK | X_OK) != 0))
        iErrno = errno;
    else if (!S_ISDIR(st.st_mode))
        iErrno = ENOTDIR;
    return "cannot set up the broker's pipe directory in " + sBase + ": " +
           strerror(iErrno ? iErrno : EIO);
}

/* Opens the session (and the log). Returns 0, or the exit status. */
static int OpenSession(PeersCommand *pCmd, PeersSession *pSession, FILE **ppLog)
{
    std::string sLooked;
    PeersReportInit(pCmd->bJobWorker ? nullptr : stdout, pCmd->iFormat, nullptr);
    if (PeersDefaultPaths(pCmd, &sLooked) != 0)
        return NotRun(*pCmd, "no module program found (looked for " + sLooked + ")",
                      "; give --module PATH");
    if (access(pCmd->sModule.c_str(), X_OK) != 0)
        return NotRun(*pCmd, pCmd->sModule + " is not an executable program: " + strerror(errno),
                      "; give --module PATH");
    if (pCmd->bJobWorker) { /* results go to the first process; the log is its own */
        pCmd->sLog.clear();
        pCmd->sOutput.clear();
        pCmd->sMetricsFile.clear();
        pCmd->bSyslog = 0;
        pCmd->iFormat = PEERS_FORMAT_TEXT;
    }
    int iRc = CheckDefFile(pCmd->sDefFile);
    if (iRc == 0 && !pCmd->sLog.empty())
        iRc = OpenLog(pCmd->sLog, ppLog);
    if (iRc == 0)
        iRc = OpenOutputs(*pCmd);
    if (iRc != 0)
        return RecordNotRun(*pCmd, s_sRefusal);
    PeersReportInit(pCmd->bJobWorker ? nullptr : stdout,
                    pCmd->sOutput.empty() ? pCmd->iFormat : PEERS_FORMAT_TEXT, *ppLog);
    PeersReportSetQuiet(pCmd->bQuiet);
    if (g_PeersOutputs.output.pFile != nullptr)
        PeersReportSetFile(g_PeersOutputs.output.pFile, pCmd->iFormat);
    int iOpen =
        PeersSessionOpen(pSession, &pCmd->opt, pCmd->sModule.c_str(), pCmd->sDefFile.c_str(),
                         pCmd->sPipeBase.empty() ? nullptr : pCmd->sPipeBase.c_str());
    if (iOpen == 5 || (iOpen == 1 && !pSession->broker.sRefusal.empty())) {
        const char *szBase = getenv("TMPDIR");
        std::string sBase = !pCmd->sPipeBase.empty()               ? pCmd->sPipeBase
                            : szBase != nullptr && *szBase != '\0' ? szBase
                                                                   : "/tmp";
        Refuse("the pipe base", sBase, pSession->broker.sRefusal,
               "choose a directory of your own or one with the sticky bit for "
               "--pipe-base or TMPDIR");
        return RecordNotRun(*pCmd, s_sRefusal);
    }
    if (iOpen != 0)
        return NotRun(*pCmd, PipeBaseProblem(*pCmd, errno),
                      pCmd->sPipeBase.empty() ? "; check TMPDIR (or give --pipe-base DIR)"
                                              : "; check --pipe-base");
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
        NotRun(*pCmd, NoAnswerReason("the enumeration", invEnum), "; check --module and --deffile");
        return g_iPeersInterrupted ? PEERS_EXIT_UNTESTED : PEERS_EXIT_NOT_RUN;
    }
    if (c == "enumerate" || c == "all")
        ReportDevices(invEnum);
    PeersRunInfo info;
    FillRunInfo(*pCmd, invEnum, &info);
    if (c == "all" || c == "run")
        return DoTests(pSession, *pCmd, info);
    if (c == "sysinfo")
        return DoSysInfo(pSession, *pCmd, info);
    if (c == "validate")
        return DoValidate(pSession, *pCmd, info);
    EmitStart(info);
    PeersRunEnd end = PeersRunEnd();
    EmitEnd(end);
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
    if (g_iPeersInterrupted == SIGPIPE) {
        fprintf(stderr, "zoltpeers: the reader of standard output has gone (broken pipe); "
                        "the module was stopped and no further test started\n");
        return PeersOutputsClose(*pCmd, g_bPeersEnded ? &g_PeersLastEnd : nullptr,
                                 PEERS_EXIT_SIGNAL + SIGPIPE);
    }
    if (g_PeersReport.bOutFailed || g_PeersReport.bLogFailed) {
        fprintf(stderr, "zoltpeers: writing %s failed: %s; make room or choose another file\n",
                g_PeersReport.bOutFailed ? "the results to standard output" : pCmd->sLog.c_str(),
                strerror(g_PeersReport.iWriteErrno ? g_PeersReport.iWriteErrno : EIO));
        if (iExit != PEERS_EXIT_FAILED && iExit != PEERS_EXIT_USAGE)
            iExit = PEERS_EXIT_NOT_RUN;
    }
    if (g_iPeersInterrupted) {
        if (!pCmd->bJobWorker) /* the first process says it once */
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
    g_vPeersArgs.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (PeersParseCommandLine(argc, argv, &cmd, szError, sizeof szError) != 0)
        return UsageError(szError);
    if (cmd.bHelp) {
        fputs(PeersUsageText().c_str(), stdout);
        return fflush(stdout) == 0 ? PEERS_EXIT_PASS : PEERS_EXIT_NOT_RUN;
    }
    if (cmd.bVersion)
        return PrintVersion(&cmd);
    PeersCatchSignals();
    PeersCatchStopRequest();
    return PeersRunCommand(&cmd);
}
