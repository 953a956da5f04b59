/* cli.cpp - command line of zoltpeers and its commands: all, enumerate, run,
 * sysinfo, validate. */
#include "cli.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>
#include <sstream>
#include <string>
#include <vector>

#include "report.h"
#include "session.h"

static const char s_szUsage[] =
    "usage: zoltpeers [options] all\n"
    "       zoltpeers [options] enumerate\n"
    "       zoltpeers [options] run --device N --test T [--param ID,VALUE]... [--errlimit N]\n"
    "       zoltpeers [options] sysinfo --device N\n"
    "       zoltpeers [options] validate --test T [--device N] [--param ID,VALUE]...\n"
    "options:\n"
    "  --module PATH        module program (default: zoltcpu.linux beside zoltpeers,\n"
    "                       else in " ZOLT_PEERS_MODULE_RELDIR " from zoltpeers' folder)\n"
    "  --deffile PATH       its definitions file (default: zoltcpu.ini, looked for in the\n"
    "                       default module's folder first)\n"
    "  --json               JSON lines of every message and result instead of the report\n"
    "  --log FILE           write every raw packet to FILE\n"
    "  --limit MS           kill a module that runs longer (default 180000)\n"
    "  --pipe-base DIR      make the private pipe directory in DIR (default $TMPDIR or /tmp)\n"
    "  --module-wrapper \"PROGRAM ARGS\"  start the module through PROGRAM (words split at\n"
    "                       blanks), e.g. \"valgrind --error-exitcode=99 --leak-check=full\"\n"
    "misbehaviours (for fault tests):\n"
    "  --no-ack             never acknowledge a module's STARTUP\n"
    "  --garbage-ack        acknowledge with a packet that is no ACK\n"
    "  --garbage-frames     put a garbage frame before every message to a module\n"
    "  --die-after N        after N packets stop reading and close every FIFO\n"
    "  --no-devlist         never answer device-list requests\n"
    "  --slow-devlist MS    answer device-list requests MS late\n"
    "  --pad-devlist BYTES  make device-list answers at least BYTES long\n"
    "  --split-components   one COMPONENT per device in device-list answers\n"
    "  --stop-after MS      send STOPTESTING MS after the startup notification\n"
    "  --stop-at-startup    send STOPTESTING right after the startup notification\n"
    "  --no-timeout-answer  never answer GET_TIMEOUT\n"
    "  --timeout-value N    TIMEOUT_VALUE sent for GET_TIMEOUT (default 300)\n"
    "  --silent-nls         never answer the language-string commands\n"
    "While a test runs, SIGUSR1 (kill -USR1 <zoltpeers pid>) sends it STOPTESTING.\n"
    "exit status: 0 all passed, 1 a test did not pass, 2 the module could not be run, 3 usage\n";

/* Reads a non-negative decimal number. Returns 0 or 1. */
static int ReadNumber(const char *szText, int *piOut)
{
    if (szText == nullptr || *szText == '\0')
        return 1;
    char *pEnd = nullptr;
    long lValue = strtol(szText, &pEnd, 10);
    if (*pEnd != '\0' || lValue < 0 || lValue > INT_MAX)
        return 1;
    *piOut = (int)lValue;
    return 0;
}

/* Parses argv into *pCmd. Returns 0, 1 (szError says why) or 2 (--help). */
int PeersParseCommandLine(int argc, char **argv, PeersCommand *pCmd, char *szError, int iSize)
{
    *pCmd = PeersCommand();
    pCmd->bJson = 0;
    pCmd->bSplitComponents = 0;
    pCmd->iDevice = pCmd->iTest = pCmd->iErrLimit = -1;
    PeersOptionsInit(&pCmd->opt);
    szError[0] = '\0';

    struct NumberOption {
        const char *szName;
        int *piTarget;
    };
    const NumberOption aNumbers[] = {
        { "--device", &pCmd->iDevice },
        { "--test", &pCmd->iTest },
        { "--errlimit", &pCmd->iErrLimit },
        { "--limit", &pCmd->opt.iModuleLimitMs },
        { "--die-after", &pCmd->opt.iDieAfterPackets },
        { "--slow-devlist", &pCmd->opt.iDeviceListDelayMs },
        { "--pad-devlist", &pCmd->opt.iDeviceListPadBytes },
        { "--stop-after", &pCmd->opt.iStopAfterMs },
        { "--timeout-value", &pCmd->opt.iTimeoutValue },
    };
    struct FlagOption {
        const char *szName;
        int *pbTarget;
    };
    const FlagOption aFlags[] = {
        { "--json", &pCmd->bJson },
        { "--no-ack", &pCmd->opt.bNoAck },
        { "--garbage-ack", &pCmd->opt.bGarbageAck },
        { "--garbage-frames", &pCmd->opt.bGarbageFrames },
        { "--no-devlist", &pCmd->opt.bNoDeviceList },
        { "--split-components", &pCmd->bSplitComponents },
        { "--no-timeout-answer", &pCmd->opt.bNoTimeoutAnswer },
        { "--silent-nls", &pCmd->opt.bSilentNls },
    };
    struct TextOption {
        const char *szName;
        std::string *psTarget;
    };
    const TextOption aTexts[] = {
        { "--module", &pCmd->sModule },
        { "--deffile", &pCmd->sDefFile },
        { "--log", &pCmd->sLog },
        { "--pipe-base", &pCmd->sPipeBase },
        { "--module-wrapper", &pCmd->sModuleWrapper },
    };

    for (int i = 1; i < argc; i++) {
        const char *szArg = argv[i];
        const char *szNext = i + 1 < argc ? argv[i + 1] : nullptr;
        int bDone = 0;
        if (strcmp(szArg, "--help") == 0 || strcmp(szArg, "-h") == 0)
            return 2;
        if (strcmp(szArg, "--stop-at-startup") == 0) {
            pCmd->opt.iStopAfterMs = 0;
            continue;
        }
        if (strcmp(szArg, "--param") == 0) {
            if (szNext == nullptr || strchr(szNext, ',') == nullptr || szNext[0] == ',') {
                snprintf(szError, (size_t)iSize, "--param needs ID,VALUE");
                return 1;
            }
            pCmd->vParams.push_back(szNext);
            /* The cache test's error limit travels as the errlimit word. */
            if (strncasecmp(szNext, "ERRLIMIT,", 9) == 0 &&
                ReadNumber(szNext + 9, &pCmd->iErrLimit) != 0) {
                snprintf(szError, (size_t)iSize, "ERRLIMIT needs a number");
                return 1;
            }
            i++;
            continue;
        }
        for (const FlagOption &f : aFlags)
            if (!bDone && strcmp(szArg, f.szName) == 0) {
                *f.pbTarget = 1;
                bDone = 1;
            }
        for (const NumberOption &n : aNumbers)
            if (!bDone && strcmp(szArg, n.szName) == 0) {
                if (ReadNumber(szNext, n.piTarget) != 0) {
                    snprintf(szError, (size_t)iSize, "%s needs a number", n.szName);
                    return 1;
                }
                i++;
                bDone = 1;
            }
        for (const TextOption &t : aTexts)
            if (!bDone && strcmp(szArg, t.szName) == 0) {
                if (szNext == nullptr) {
                    snprintf(szError, (size_t)iSize, "%s needs a value", t.szName);
                    return 1;
                }
                *t.psTarget = szNext;
                i++;
                bDone = 1;
            }
        if (bDone)
            continue;
        if (szArg[0] == '-') {
            snprintf(szError, (size_t)iSize, "unknown option %s", szArg);
            return 1;
        }
        if (!pCmd->sCommand.empty()) {
            snprintf(szError, (size_t)iSize, "two commands: %s and %s", pCmd->sCommand.c_str(),
                     szArg);
            return 1;
        }
        pCmd->sCommand = szArg;
    }

    const std::string &c = pCmd->sCommand;
    if (c != "all" && c != "enumerate" && c != "run" && c != "sysinfo" && c != "validate") {
        snprintf(szError, (size_t)iSize, c.empty() ? "no command" : "unknown command %s",
                 c.c_str());
        return 1;
    }
    if ((c == "run" || c == "sysinfo") && pCmd->iDevice < 0) {
        snprintf(szError, (size_t)iSize, "%s needs --device N", c.c_str());
        return 1;
    }
    if ((c == "run" || c == "validate") && pCmd->iTest < 0) {
        snprintf(szError, (size_t)iSize, "%s needs --test T", c.c_str());
        return 1;
    }
    if (pCmd->opt.bNoAck && pCmd->opt.bGarbageAck) {
        snprintf(szError, (size_t)iSize, "--no-ack and --garbage-ack exclude each other");
        return 1;
    }
    return 0;
}

/* The folder szRel names relative to sBase, dot-dot steps taken off sBase's
 * end so that reports show a plain path; an absolute szRel stands alone. */
static std::string JoinFolder(const std::string &sBase, const char *szRel)
{
    if (szRel[0] == '/')
        return szRel;
    std::string sOut = sBase, sPart;
    std::istringstream parts(szRel);
    while (std::getline(parts, sPart, '/')) {
        if (sPart.empty() || sPart == ".")
            continue;
        size_t uSlash = sOut.rfind('/');
        std::string sLast = uSlash == std::string::npos ? sOut : sOut.substr(uSlash + 1);
        if (sPart == ".." && sOut != "/" && sLast != "." && sLast != "..")
            sOut = uSlash == std::string::npos ? "." : (uSlash == 0 ? "/" : sOut.substr(0, uSlash));
        else
            sOut += (sOut.back() == '/' ? "" : "/") + sPart;
    }
    return sOut;
}

/* The folders that may hold the module, in the order they are searched: the
 * running program's own folder (/proc/self/exe; a build tree keeps all three
 * files in bin/), then the installed module folder relative to it. */
static std::vector<std::string> ModuleFolders()
{
    char szExe[PATH_MAX];
    ssize_t iLen = readlink("/proc/self/exe", szExe, sizeof szExe - 1);
    std::string sDir = ".";
    if (iLen > 0) {
        szExe[iLen] = '\0';
        char *pSlash = strrchr(szExe, '/');
        if (pSlash != nullptr) {
            *pSlash = '\0';
            sDir = szExe[0] ? szExe : "/";
        }
    }
    std::vector<std::string> vDirs = { sDir };
    std::string sInstalled = JoinFolder(sDir, ZOLT_PEERS_MODULE_RELDIR);
    if (sInstalled != sDir)
        vDirs.push_back(sInstalled);
    return vDirs;
}

/* Fills empty module and definitions paths. The module is the first
 * executable zoltcpu.linux of ModuleFolders(), and the definitions file is
 * zoltcpu.ini from the same folder when it is there. Otherwise (an installed
 * tree keeps it in its data folder) it is the first readable zoltcpu.ini of
 * those folders and the data folder (else the one beside the program).
 * Returns 0, or 2 when no module was given and none was found: *psLooked then
 * lists the paths tried. */
int PeersDefaultPaths(PeersCommand *pCmd, std::string *psLooked)
{
    std::vector<std::string> vDirs = ModuleFolders();
    psLooked->clear();
    if (pCmd->sModule.empty()) {
        for (const std::string &sDir : vDirs) {
            std::string sPath = sDir + "/zoltcpu.linux";
            *psLooked += (psLooked->empty() ? "" : ", ") + sPath;
            if (access(sPath.c_str(), X_OK) == 0) {
                pCmd->sModule = sPath;
                if (pCmd->sDefFile.empty() && access((sDir + "/zoltcpu.ini").c_str(), R_OK) == 0)
                    pCmd->sDefFile = sDir + "/zoltcpu.ini";
                break;
            }
        }
        if (pCmd->sModule.empty())
            return 2;
    }
    vDirs.push_back(JoinFolder(vDirs[0], ZOLT_PEERS_DATA_RELDIR));
    for (size_t i = 0; i < vDirs.size() && pCmd->sDefFile.empty(); i++)
        if (access((vDirs[i] + "/zoltcpu.ini").c_str(), R_OK) == 0)
            pCmd->sDefFile = vDirs[i] + "/zoltcpu.ini";
    if (pCmd->sDefFile.empty())
        pCmd->sDefFile = vDirs[0] + "/zoltcpu.ini";
    return 0;
}

/* Report lines of an enumeration. */
static void ReportDevices(const PeersInvocation &inv)
{
    PeersReportText("Enumeration: %zu device(s)\n", inv.vDevices.size());
    for (const PeersDevice &d : inv.vDevices)
        PeersReportText("  device %d  %s  %s  (tests %s)\n", d.iId, d.sName.c_str(),
                        d.sDescription.c_str(), d.sTests.c_str());
}

/* Explains an invocation that gave no answer. */
static void ReportNoAnswer(const PeersInvocation &inv)
{
    if (inv.bStartFailed)
        PeersReportText("  %s\n", inv.sModuleOutput.c_str());
    else if (inv.bKilled)
        PeersReportText("  the module outlived its time limit and was killed\n");
    else
        PeersReportText("  the module ended with exit status %d without the expected answer%s\n",
                        inv.iExitStatus, inv.bConnected ? "" : " (it never connected)");
}

/* Enumerates; reports (as a preparation when bPrelude). Returns the mode's code. */
static int DoEnumerate(PeersSession *pSession, PeersInvocation *pInv, int bPrelude)
{
    int iRc = PeersEnumerate(pSession, pInv);
    pInv->bPrelude = bPrelude;
    PeersReportInvocation(pInv, "");
    if (iRc == 0)
        ReportDevices(*pInv);
    else {
        PeersReportText("Enumeration failed\n");
        ReportNoAnswer(*pInv);
    }
    return iRc;
}

/* Runs one test; reports; adds its outcome. Returns the mode's code. */
static int DoRun(PeersSession *pSession, PeersCommand *pCmd, int iDevice, int iTest,
                 std::vector<PeersTestOutcome> &vOutcomes)
{
    const PeersDevice *pDevice = PeersSessionFindDevice(pSession, iDevice);
    std::string sName = pDevice ? pDevice->sName : "device " + std::to_string(iDevice);
    PeersReportText("\n%s: test %d (%s)\n", sName.c_str(), iTest, PeersTestName(iTest));
    PeersInvocation inv;
    int iRc = PeersRunTest(pSession, &inv, iDevice, iTest, pCmd->vParams, pCmd->iErrLimit);
    PeersReportInvocation(&inv, sName.c_str());
    PeersTestOutcome o;
    o.sDevice = sName;
    o.iTest = iTest;
    o.sWord = inv.sResultWord;
    o.bRan = inv.bResult;
    vOutcomes.push_back(o);
    return iRc;
}

/* Runs one command in a fresh session (pipe directory removed at the end).
 * Returns the exit status of zoltpeers. Main thread. */
int PeersRunCommand(PeersCommand *pCmd)
{
    std::string sLooked;
    if (PeersDefaultPaths(pCmd, &sLooked) != 0) {
        fprintf(stderr, "zoltpeers: no module program found; looked for %s (give --module PATH)\n",
                sLooked.c_str());
        return PEERS_EXIT_NOT_RUN;
    }
    FILE *pLog = nullptr;
    if (!pCmd->sLog.empty()) {
        pLog = fopen(pCmd->sLog.c_str(), "w");
        if (pLog == nullptr) {
            fprintf(stderr, "zoltpeers: cannot write %s\n", pCmd->sLog.c_str());
            return PEERS_EXIT_USAGE;
        }
    }
    PeersReportInit(stdout, pCmd->bJson, pLog);
    if (access(pCmd->sModule.c_str(), X_OK) != 0)
        fprintf(stderr, "zoltpeers: %s is not an executable module program\n",
                pCmd->sModule.c_str());

    PeersSession session;
    int iOpen =
        PeersSessionOpen(&session, &pCmd->opt, pCmd->sModule.c_str(), pCmd->sDefFile.c_str(),
                         pCmd->sPipeBase.empty() ? nullptr : pCmd->sPipeBase.c_str());
    if (iOpen != 0) {
        fprintf(stderr, "zoltpeers: cannot set up the broker's pipe directory and FIFO (%d)\n",
                iOpen);
        if (pLog)
            fclose(pLog);
        return PEERS_EXIT_NOT_RUN;
    }
    session.engine.bSplitComponents = pCmd->bSplitComponents;
    {
        std::istringstream words(pCmd->sModuleWrapper);
        std::string sWord;
        while (words >> sWord)
            session.vModuleWrapper.push_back(sWord);
    }
    PeersReportText("zoltpeers: module %s, definitions %s\n", pCmd->sModule.c_str(),
                    pCmd->sDefFile.c_str());

    int iExit = PEERS_EXIT_PASS;
    const std::string &c = pCmd->sCommand;
    /* run, sysinfo and validate enumerate first so that the engine knows the
     * devices; the misbehaviours are meant for the request itself, so that
     * enumeration meets faithful peers. */
    PeersOptions optAsked = session.opt;
    if (c != "all" && c != "enumerate") {
        PeersOptionsInit(&session.opt);
        session.opt.iModuleLimitMs = optAsked.iModuleLimitMs;
    }
    PeersInvocation invEnum;
    int iEnum = DoEnumerate(&session, &invEnum, c != "all" && c != "enumerate");
    session.opt = optAsked;
    if (c == "enumerate") {
        iExit = iEnum == 0 ? PEERS_EXIT_PASS : PEERS_EXIT_NOT_RUN;
    } else if (c == "all" || c == "run") {
        std::vector<PeersTestOutcome> vOutcomes;
        int bNotRun = 0, bFailed = 0;
        if (iEnum != 0 && c == "all") {
            bNotRun = 1;
        } else if (c == "run") {
            int iRc = DoRun(&session, pCmd, pCmd->iDevice, pCmd->iTest, vOutcomes);
            bNotRun = iRc == 2;
            bFailed = iRc == 1;
        } else {
            for (const PeersDevice &d : invEnum.vDevices)
                for (int iTest : PeersSupportedTests(d.sTests)) {
                    if (g_iPeersInterrupted)
                        break;
                    int iRc = DoRun(&session, pCmd, d.iId, iTest, vOutcomes);
                    bNotRun |= iRc == 2;
                    bFailed |= iRc == 1;
                }
        }
        iExit = bNotRun ? PEERS_EXIT_NOT_RUN : (bFailed ? PEERS_EXIT_FAILED : PEERS_EXIT_PASS);
        PeersReportSummary(vOutcomes, iExit);
    } else if (c == "sysinfo") {
        PeersInvocation inv;
        int iRc = PeersSysInfo(&session, &inv, pCmd->iDevice);
        PeersReportInvocation(&inv, "");
        if (iRc != 2) {
            PeersReportText("System information of device %d: %zu item(s)%s\n", pCmd->iDevice,
                            inv.vSysInfo.size(),
                            iRc == 1 ? " (the module does not know the device)" : "");
            for (const PeersSysInfoItem &it : inv.vSysInfo) {
                std::string sValues;
                for (const std::string &v : it.vValues)
                    sValues += (sValues.empty() ? "" : ", ") + v;
                PeersReportText("  %s (%s): %s\n", it.sDescription.c_str(), it.sKey.c_str(),
                                sValues.c_str());
            }
        } else {
            PeersReportText("System information of device %d: no answer\n", pCmd->iDevice);
            ReportNoAnswer(inv);
        }
        iExit = iRc;
    } else if (c == "validate") {
        PeersInvocation inv;
        int iDevice = pCmd->iDevice >= 0 ? pCmd->iDevice
                                         : (invEnum.vDevices.empty() ? 0 : invEnum.vDevices[0].iId);
        int iRc = PeersValidate(&session, &inv, iDevice, pCmd->iTest, pCmd->vParams);
        PeersReportInvocation(&inv, "");
        if (inv.bValidation) {
            PeersReportText("Validation of test %d: %zu parameter(s)\n", pCmd->iTest,
                            inv.vParams.size());
            for (const PeersParamResult &r : inv.vParams)
                PeersReportText("  %s: %s%s%s%s%s\n", r.sId.c_str(), r.sValidFlag.c_str(),
                                r.bHasMin ? "  min " : "", r.bHasMin ? r.sMin.c_str() : "",
                                r.bHasMax ? "  max " : "", r.bHasMax ? r.sMax.c_str() : "");
        } else {
            PeersReportText(
                "Validation of test %d: no answer; the module exited with status %d%s\n",
                pCmd->iTest, inv.iExitStatus,
                inv.iExitStatus == 30 ? " (it registers no validation callback)" : "");
        }
        iExit = iRc;
    }
    PeersSessionClose(&session);
    if (pLog)
        fclose(pLog);
    if (g_iPeersInterrupted) {
        fprintf(stderr, "zoltpeers: interrupted\n");
        return PEERS_EXIT_NOT_RUN;
    }
    return iExit;
}

/* main() of zoltpeers: parse, catch signals, run. Returns the exit status. */
int PeersMain(int argc, char **argv)
{
    PeersCommand cmd;
    char szError[200];
    int iRc = PeersParseCommandLine(argc, argv, &cmd, szError, sizeof szError);
    if (iRc == 2) {
        fputs(s_szUsage, stdout);
        return PEERS_EXIT_PASS;
    }
    if (iRc != 0) {
        fprintf(stderr, "zoltpeers: %s\n%s", szError, s_szUsage);
        return PEERS_EXIT_USAGE;
    }
    PeersCatchSignals();
    return PeersRunCommand(&cmd);
}
