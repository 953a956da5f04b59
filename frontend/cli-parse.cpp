/* cli-parse.cpp - zoltpeers' command line read with getopt_long into one
 * PeersCommand: options before or after the command word, "--opt=value" and
 * "--opt value", "--" ends the options; number lists and durations. */
#include <getopt.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <set>
#include <string>

#include "cli-parse.h"

/* --help up to the --format line. */
static const char s_szUsageHead[] =
    "usage: zoltpeers [options] all\n"
    "       zoltpeers [options] enumerate\n"
    "       zoltpeers [options] run --device N --test T [--param ID,VALUE]... [--errlimit N]\n"
    "       zoltpeers [options] sysinfo --device N\n"
    "       zoltpeers [options] validate --test T [--device N] [--param ID,VALUE]...\n"
    "       zoltpeers --help | --version\n"
    "Runs the zoltcpu module in place of the diagnostics framework: enumerates the CPUs,\n"
    "runs their tests, answers system-information and validation requests.\n"
    "options (--opt=value and --opt value both work; -- ends the options):\n"
    "  --module PATH        module program (default: zoltcpu.linux beside zoltpeers,\n"
    "                       else in " ZOLT_PEERS_MODULE_RELDIR " from zoltpeers' folder)\n"
    "  --deffile PATH       its definitions file (default: zoltcpu.ini beside the module,\n"
    "                       else in " ZOLT_PEERS_DATA_RELDIR " from zoltpeers' folder)\n"
    "  --tests LIST         for all: the tests to run, e.g. 0,2 or 0-3 (default every one)\n"
    "  --devices LIST       for all: the devices to test, e.g. 0,2 or 0-3 (default every one)\n"
    "                       (all takes --tests and --devices; --test and --device are for\n"
    "                       run, sysinfo and validate)\n"
    "  --loops N            repeat the selection N times (default 1)\n"
    "  --duration TIME      repeat until TIME passed: 90, 90s, 10m, 2h (a started test\n"
    "                       finishes); with --loops, whichever ends first\n"
    "  --stop-on-fail       stop after the first failure (FAIL, CRASHED or HUNG)\n"
    "  --retest-on-failure N  rerun a failed test up to N times on the same CPU (until\n"
    "                       it fails again) and say whether the failure reproduced\n"
    "  --each-cpu           run each selected test once per logical CPU of its device,\n"
    "                       the module restricted to that CPU\n"
    "  --cpus LIST          like --each-cpu, on these logical CPUs only, e.g. 0-3,8\n"
    "  --jobs N             with --each-cpu or --cpus: up to N module runs at once, each\n"
    "                       on its own CPU (default 1)\n"
    "  --errlimit N         the module's error limit (wrong words before the cache test ends)\n"
    "  --param ID,VALUE     a test parameter, checked against the definitions file\n"
    "  --format FORMAT      results on standard output, one of:\n";

/* --help after the format lines. */
static const char s_szUsageTail[] =
    "  --json               same as --format json\n"
    "  --output FILE        write the results (--format) to FILE, complete at the end;\n"
    "                       the text report still goes to standard output\n"
    "  --quiet              print only the summary and the failures\n"
    "  --fold               fold identical passes in ocptv too (text and json always\n"
    "                       fold identical passes of repeated runs)\n"
    "  --metrics-file PATH  Prometheus metrics of the session to PATH at the end\n"
    "  --syslog             log a summary line, and one line per failure, to syslog\n"
    "  --log FILE           write every raw packet to FILE\n"
    "  --limit MS           kill a module run that lasts longer (a test so killed is HUNG);\n"
    "                       0: no limit (default 180000)\n"
    "  --pipe-base DIR      make the private pipe directory in DIR (default $TMPDIR or /tmp)\n"
    "  --module-wrapper \"PROGRAM ARGS\"  start the module through PROGRAM (words split at\n"
    "                       blanks), e.g. \"valgrind --error-exitcode=99 --leak-check=full\"\n"
    "  --version            print zoltpeers' and the module's versions\n"
    "  --help               print this text\n"
    "test switches (peers that misbehave on purpose, for fault tests):\n"
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
    "  --trace-json         every packet and raw run record as JSON lines (not a result format)\n"
    "  --job-worker         (used by --jobs) run the picks read from standard input and\n"
    "                       write each run's record to standard output\n"
    "SIGUSR1 (kill -USR1 <zoltpeers pid>) sends the running test(s) STOPTESTING and starts\n"
    "no further test: the session ends after the running one(s).\n"
    "exit status:\n"
    "  0  every selected test passed (or the request was answered)\n"
    "  1  a test failed: it found a hardware fault (FAIL), the module died by a signal\n"
    "     while the test ran (CRASHED), or the test outlived --limit (HUNG)\n"
    "  2  the module could not be run (missing, could not start, protocol failure before\n"
    "     a test began), or output failed\n"
    "  3  usage error: bad option, unknown device or test, bad --param value\n"
    "  4  nothing failed, but something could not be tested (PRIVILEGEERROR,\n"
    "     NOTAPPLICABLE, SETUPERROR, BADPARAMS, DISCONTINUED, BUSY, NOMEDIA)\n"
    "  129, 130, 143  SIGHUP, SIGINT, SIGTERM: the module stopped, the pipes removed\n"
    "  141  the reader of standard output went away (broken pipe)\n";

std::string PeersUsageText(void)
{
    std::string s = s_szUsageHead;
    for (int i = 0; i < g_iPeersFormatCount; i++) {
        char szLine[160];
        snprintf(szLine, sizeof szLine, "%-25s%-7s%s\n", "", g_aPeersFormats[i].szName,
                 g_aPeersFormats[i].szHelp);
        s += szLine;
    }
    return s + s_szUsageTail;
}

/* Codes of the long options (above every character). */
enum {
    OPT_MODULE = 256,
    OPT_DEFFILE,
    OPT_LOG,
    OPT_OUTPUT,
    OPT_METRICS_FILE,
    OPT_PIPE_BASE,
    OPT_MODULE_WRAPPER,
    OPT_DEVICE,
    OPT_TEST,
    OPT_ERRLIMIT,
    OPT_LIMIT,
    OPT_DIE_AFTER,
    OPT_SLOW_DEVLIST,
    OPT_PAD_DEVLIST,
    OPT_STOP_AFTER,
    OPT_TIMEOUT_VALUE,
    OPT_LOOPS,
    OPT_PARAM,
    OPT_TESTS,
    OPT_DEVICES,
    OPT_DURATION,
    OPT_FORMAT,
    OPT_JSON,
    OPT_TRACE_JSON,
    OPT_STOP_AT_STARTUP,
    OPT_STOP_ON_FAIL,
    OPT_EACH_CPU,
    OPT_CPUS,
    OPT_JOBS,
    OPT_RETEST,
    OPT_JOB_WORKER,
    OPT_VERSION,
    OPT_FLAG /* flags: their target is found by name */
};

static const struct option s_aOptions[] = {
    { "module", required_argument, nullptr, OPT_MODULE },
    { "deffile", required_argument, nullptr, OPT_DEFFILE },
    { "log", required_argument, nullptr, OPT_LOG },
    { "output", required_argument, nullptr, OPT_OUTPUT },
    { "metrics-file", required_argument, nullptr, OPT_METRICS_FILE },
    { "pipe-base", required_argument, nullptr, OPT_PIPE_BASE },
    { "module-wrapper", required_argument, nullptr, OPT_MODULE_WRAPPER },
    { "device", required_argument, nullptr, OPT_DEVICE },
    { "test", required_argument, nullptr, OPT_TEST },
    { "errlimit", required_argument, nullptr, OPT_ERRLIMIT },
    { "limit", required_argument, nullptr, OPT_LIMIT },
    { "die-after", required_argument, nullptr, OPT_DIE_AFTER },
    { "slow-devlist", required_argument, nullptr, OPT_SLOW_DEVLIST },
    { "pad-devlist", required_argument, nullptr, OPT_PAD_DEVLIST },
    { "stop-after", required_argument, nullptr, OPT_STOP_AFTER },
    { "timeout-value", required_argument, nullptr, OPT_TIMEOUT_VALUE },
    { "loops", required_argument, nullptr, OPT_LOOPS },
    { "param", required_argument, nullptr, OPT_PARAM },
    { "tests", required_argument, nullptr, OPT_TESTS },
    { "devices", required_argument, nullptr, OPT_DEVICES },
    { "duration", required_argument, nullptr, OPT_DURATION },
    { "format", required_argument, nullptr, OPT_FORMAT },
    { "json", no_argument, nullptr, OPT_JSON },
    { "trace-json", no_argument, nullptr, OPT_TRACE_JSON },
    { "stop-at-startup", no_argument, nullptr, OPT_STOP_AT_STARTUP },
    { "stop-on-fail", no_argument, nullptr, OPT_STOP_ON_FAIL },
    { "each-cpu", no_argument, nullptr, OPT_EACH_CPU },
    { "cpus", required_argument, nullptr, OPT_CPUS },
    { "jobs", required_argument, nullptr, OPT_JOBS },
    { "retest-on-failure", required_argument, nullptr, OPT_RETEST },
    { "job-worker", no_argument, nullptr, OPT_JOB_WORKER },
    { "version", no_argument, nullptr, OPT_VERSION },
    { "help", no_argument, nullptr, 'h' },
    { "no-ack", no_argument, nullptr, OPT_FLAG },
    { "garbage-ack", no_argument, nullptr, OPT_FLAG },
    { "garbage-frames", no_argument, nullptr, OPT_FLAG },
    { "no-devlist", no_argument, nullptr, OPT_FLAG },
    { "split-components", no_argument, nullptr, OPT_FLAG },
    { "no-timeout-answer", no_argument, nullptr, OPT_FLAG },
    { "silent-nls", no_argument, nullptr, OPT_FLAG },
    { "quiet", no_argument, nullptr, OPT_FLAG },
    { "fold", no_argument, nullptr, OPT_FLAG },
    { "syslog", no_argument, nullptr, OPT_FLAG },
    { nullptr, 0, nullptr, 0 },
};

/* Reads a non-negative decimal number. Returns 0 or 1. */
static int ReadNumber(const char *szText, long lMax, long *plOut)
{
    if (szText == nullptr || *szText < '0' || *szText > '9')
        return 1;
    char *pEnd = nullptr;
    long lValue = strtol(szText, &pEnd, 10);
    if (*pEnd != '\0' || lValue < 0 || lValue > lMax)
        return 1;
    *plOut = lValue;
    return 0;
}

/* Reads "0,2" or "0-3" (numbers up to 4095). Returns 0 or 1. */
int PeersParseNumberList(const char *szText, std::vector<int> *pvOut)
{
    std::set<int> numbers;
    std::string sText = szText ? szText : "";
    size_t uStart = 0;
    while (uStart <= sText.size()) {
        size_t uComma = sText.find(',', uStart);
        std::string sItem =
            sText.substr(uStart, uComma == std::string::npos ? std::string::npos : uComma - uStart);
        size_t uDash = sItem.find('-');
        long lFrom = 0, lTo = 0;
        if (uDash == std::string::npos) {
            if (ReadNumber(sItem.c_str(), 4095, &lFrom) != 0)
                return 1;
            lTo = lFrom;
        } else if (ReadNumber(sItem.substr(0, uDash).c_str(), 4095, &lFrom) != 0 ||
                   ReadNumber(sItem.substr(uDash + 1).c_str(), 4095, &lTo) != 0 || lTo < lFrom) {
            return 1;
        }
        for (long l = lFrom; l <= lTo; l++)
            numbers.insert((int)l);
        if (uComma == std::string::npos)
            break;
        uStart = uComma + 1;
    }
    pvOut->assign(numbers.begin(), numbers.end());
    return 0;
}

/* Reads "90", "90s", "10m", "2h". Returns 0 or 1. */
int PeersParseDuration(const char *szText, unsigned long long *pullMs)
{
    std::string s = szText ? szText : "";
    unsigned long long ullUnit = 1000;
    if (!s.empty() && strchr("smh", s.back()) != nullptr) {
        ullUnit = s.back() == 's' ? 1000 : (s.back() == 'm' ? 60000 : 3600000);
        s.pop_back();
    }
    long lCount = 0;
    if (ReadNumber(s.c_str(), 36000000, &lCount) != 0 || lCount == 0 ||
        (unsigned long long)lCount * ullUnit > 36000000000ull)
        return 1;
    *pullMs = (unsigned long long)lCount * ullUnit;
    return 0;
}

/* The flag a flag option sets, by its name. */
static int *FlagTarget(PeersCommand *pCmd, const char *szName)
{
    const struct {
        const char *szName;
        int *pbTarget;
    } aFlags[] = {
        { "no-ack", &pCmd->opt.bNoAck },
        { "garbage-ack", &pCmd->opt.bGarbageAck },
        { "garbage-frames", &pCmd->opt.bGarbageFrames },
        { "no-devlist", &pCmd->opt.bNoDeviceList },
        { "split-components", &pCmd->bSplitComponents },
        { "no-timeout-answer", &pCmd->opt.bNoTimeoutAnswer },
        { "silent-nls", &pCmd->opt.bSilentNls },
        { "quiet", &pCmd->bQuiet },
        { "fold", &pCmd->bFold },
        { "syslog", &pCmd->bSyslog },
    };
    for (const auto &f : aFlags)
        if (strcmp(f.szName, szName) == 0)
            return f.pbTarget;
    return nullptr;
}

/* The int an option with a number sets, or null. */
static int *NumberTarget(PeersCommand *pCmd, int iCode)
{
    switch (iCode) {
    case OPT_DEVICE:
        return &pCmd->iDevice;
    case OPT_TEST:
        return &pCmd->iTest;
    case OPT_ERRLIMIT:
        return &pCmd->iErrLimit;
    case OPT_LIMIT:
        return &pCmd->opt.iModuleLimitMs;
    case OPT_DIE_AFTER:
        return &pCmd->opt.iDieAfterPackets;
    case OPT_SLOW_DEVLIST:
        return &pCmd->opt.iDeviceListDelayMs;
    case OPT_PAD_DEVLIST:
        return &pCmd->opt.iDeviceListPadBytes;
    case OPT_STOP_AFTER:
        return &pCmd->opt.iStopAfterMs;
    case OPT_TIMEOUT_VALUE:
        return &pCmd->opt.iTimeoutValue;
    case OPT_RETEST:
        return &pCmd->iRetests;
    }
    return nullptr;
}

/* The text an option with a path or words sets, or null. */
static std::string *TextTarget(PeersCommand *pCmd, int iCode)
{
    switch (iCode) {
    case OPT_MODULE:
        return &pCmd->sModule;
    case OPT_DEFFILE:
        return &pCmd->sDefFile;
    case OPT_LOG:
        return &pCmd->sLog;
    case OPT_OUTPUT:
        return &pCmd->sOutput;
    case OPT_METRICS_FILE:
        return &pCmd->sMetricsFile;
    case OPT_PIPE_BASE:
        return &pCmd->sPipeBase;
    case OPT_MODULE_WRAPPER:
        return &pCmd->sModuleWrapper;
    }
    return nullptr;
}

/* Takes --param ID,VALUE. Returns 0, or 1 with sError set. */
static int TakeParam(PeersCommand *pCmd, const char *szArg, std::string &sError)
{
    const char *pComma = strchr(szArg, ',');
    if (pComma == nullptr || pComma == szArg) {
        sError = std::string("--param '") + szArg + "' is not ID,VALUE; write it as e.g. " +
                 "--param ZOLT_DAPI2_PERCENT_TO_TEST,50";
        return 1;
    }
    if (strncasecmp(szArg, "ERRLIMIT,", 9) == 0) {
        sError = "ERRLIMIT is not a test parameter; give the error limit as --errlimit N";
        return 1;
    }
    pCmd->vParams.push_back(szArg);
    return 0;
}

/* Takes --tests, --devices or --cpus LIST. Returns 0, or 1 with sError set. */
static int TakeList(PeersCommand *pCmd, int iCode, const std::string &sOpt, const char *szArg,
                    std::string &sError)
{
    if (iCode == OPT_CPUS) {
        if (PeersParseNumberList(szArg, &pCmd->vCpus)) {
            sError = sOpt + " needs a list of logical CPUs such as 0-3,8, not '" + szArg + "'";
            return 1;
        }
        pCmd->bCpusGiven = pCmd->bEachCpu = 1;
        return 0;
    }
    if (PeersParseNumberList(szArg, iCode == OPT_TESTS ? &pCmd->vTests : &pCmd->vDevices)) {
        sError = sOpt + " needs a list such as 0,2 or 0-3, not '" + szArg + "'";
        return 1;
    }
    (iCode == OPT_TESTS ? pCmd->bTestsGiven : pCmd->bDevicesGiven) = 1;
    return 0;
}

/* Takes one option with its argument szArg. Returns 0, or 1 with sError set. */
static int TakeOption(PeersCommand *pCmd, int iCode, const char *szName, const char *szArg,
                      std::string &sError)
{
    std::string sOpt = std::string("--") + szName;
    if (int *piTarget = NumberTarget(pCmd, iCode)) {
        long lValue = 0;
        if (ReadNumber(szArg, INT_MAX, &lValue) != 0) {
            sError = sOpt + " needs a whole number of 0 or more, not '" + szArg + "'";
            return 1;
        }
        *piTarget = (int)lValue;
        return 0;
    }
    if (std::string *psTarget = TextTarget(pCmd, iCode)) {
        *psTarget = szArg;
        return 0;
    }
    switch (iCode) {
    case OPT_PARAM:
        return TakeParam(pCmd, szArg, sError);
    case OPT_TESTS:
    case OPT_DEVICES:
    case OPT_CPUS:
        return TakeList(pCmd, iCode, sOpt, szArg, sError);
    case OPT_JOBS:
        if (ReadNumber(szArg, 4096, &pCmd->lJobs) != 0 || pCmd->lJobs == 0) {
            sError = sOpt + " needs a count from 1 to 4096, not '" + szArg + "'";
            return 1;
        }
        return 0;
    case OPT_LOOPS:
        if (ReadNumber(szArg, INT_MAX, &pCmd->lLoops) != 0 || pCmd->lLoops == 0) {
            sError = sOpt + " needs a count of 1 or more, not '" + szArg + "'";
            return 1;
        }
        return 0;
    case OPT_DURATION:
        if (PeersParseDuration(szArg, &pCmd->ullDurationMs) != 0) {
            sError = sOpt + " needs a time such as 90, 90s, 10m or 2h, not '" + szArg + "'";
            return 1;
        }
        return 0;
    case OPT_FORMAT:
        if ((pCmd->iFormat = PeersFindFormat(szArg)) < 0) {
            sError =
                std::string("unknown format '") + szArg + "'; choose " + PeersFormatNames(" or ");
            return 1;
        }
        return 0;
    }
    return 0;
}

/* Takes an option without argument. */
static void TakeFlag(PeersCommand *pCmd, int iCode, const char *szName)
{
    if (iCode == OPT_JSON)
        pCmd->iFormat = PeersFindFormat("json");
    else if (iCode == OPT_TRACE_JSON)
        pCmd->iFormat = PEERS_FORMAT_TRACE;
    else if (iCode == OPT_STOP_AT_STARTUP)
        pCmd->opt.iStopAfterMs = 0;
    else if (iCode == OPT_STOP_ON_FAIL)
        pCmd->bStopOnFail = 1;
    else if (iCode == OPT_EACH_CPU)
        pCmd->bEachCpu = 1;
    else if (iCode == OPT_JOB_WORKER)
        pCmd->bJobWorker = 1;
    else if (iCode == OPT_VERSION)
        pCmd->bVersion = 1;
    else if (iCode == 'h')
        pCmd->bHelp = 1;
    else if (int *pb = FlagTarget(pCmd, szName))
        *pb = 1;
}

/* Empties *pCmd: nothing given, faithful peers. */
static void CommandInit(PeersCommand *pCmd)
{
    *pCmd = PeersCommand();
    pCmd->iFormat = PEERS_FORMAT_TEXT;
    pCmd->bHelp = pCmd->bVersion = pCmd->bSplitComponents = pCmd->bStopOnFail = 0;
    pCmd->iDevice = pCmd->iTest = pCmd->iErrLimit = -1;
    pCmd->bTestsGiven = pCmd->bDevicesGiven = 0;
    pCmd->bQuiet = pCmd->bFold = pCmd->bSyslog = 0;
    pCmd->lLoops = -1;
    pCmd->ullDurationMs = 0;
    pCmd->bEachCpu = pCmd->bCpusGiven = pCmd->iRetests = pCmd->bJobWorker = 0;
    pCmd->lJobs = 1;
    PeersOptionsInit(&pCmd->opt);
}

/* The long options whose name starts with the szLen bytes of szName. */
static std::string Matches(const char *szName, size_t uLen, int *piCount)
{
    std::string s;
    *piCount = 0;
    for (const struct option *p = s_aOptions; p->name != nullptr; p++)
        if (strncmp(p->name, szName, uLen) == 0) {
            s += std::string(s.empty() ? "--" : ", --") + p->name;
            ++*piCount;
        }
    return s;
}

/* What is wrong with the word getopt_long refused ('?') or found without its
 * value (':'), in place of getopt's own terse messages. */
static std::string GetoptError(int iCode, const char *szWord)
{
    std::string sWord = szWord;
    if (sWord.rfind("--", 0) != 0)
        return "unknown option '" + (optopt ? "-" + std::string(1, (char)optopt) : sWord) + "'";
    size_t uEq = sWord.find('=');
    std::string sName = sWord.substr(2, uEq == std::string::npos ? std::string::npos : uEq - 2);
    int iCount = 0;
    std::string sMatches = Matches(sName.c_str(), sName.size(), &iCount);
    if (iCode == ':')
        return "option '--" + sName + "' needs a value: write --" + sName + " VALUE";
    if (optopt != 0) /* a known flag written with =value */
        return "option '--" + sName + "' takes no value; write it alone, without '" +
               sWord.substr(uEq) + "'";
    if (iCount > 1)
        return "option '--" + sName + "' is ambiguous: it could be " + sMatches +
               "; write the whole name";
    return "unknown option '--" + sName + "'; zoltpeers --help lists the options";
}

/* Walks the options with getopt_long. Returns 0, or 1 with sError set. */
static int ReadOptions(int argc, char **argv, PeersCommand *pCmd, std::string &sError)
{
    optind = 0; /* a full restart of getopt's state (GNU) */
    opterr = 0;
    int iCode, iIndex = -1;
    while ((iCode = getopt_long(argc, argv, ":h", s_aOptions, &iIndex)) != -1) {
        const char *szWord = argv[optind - 1];
        if (iCode == '?' || iCode == ':') {
            sError = GetoptError(iCode, szWord);
            return 1;
        }
        const char *szName = iIndex >= 0 ? s_aOptions[iIndex].name : "help";
        if (iIndex >= 0 && s_aOptions[iIndex].has_arg == required_argument) {
            if (TakeOption(pCmd, iCode, szName, optarg, sError) != 0)
                return 1;
        } else {
            TakeFlag(pCmd, iCode, szName);
        }
        iIndex = -1;
    }
    return 0;
}

/* Checks the words left and the options that go together. Returns 0 or 1. */
static int CheckCommand(int argc, char **argv, PeersCommand *pCmd, std::string &sError)
{
    if (pCmd->bHelp || pCmd->bVersion)
        return 0;
    if (optind < argc)
        pCmd->sCommand = argv[optind];
    if (optind + 1 < argc) {
        sError = std::string("one command only, but '") + argv[optind + 1] + "' follows '" +
                 argv[optind] + "'";
        return 1;
    }
    const std::string &c = pCmd->sCommand;
    if (c != "all" && c != "enumerate" && c != "run" && c != "sysinfo" && c != "validate") {
        sError = (c.empty() ? std::string("no command given") : "unknown command '" + c + "'") +
                 "; give all, enumerate, run, sysinfo or validate";
        return 1;
    }
    if ((c == "run" || c == "sysinfo") && pCmd->iDevice < 0)
        sError = c + " needs the device: add --device N (zoltpeers enumerate lists them)";
    else if ((c == "run" || c == "validate") && pCmd->iTest < 0)
        sError = c + " needs the test: add --test T";
    else if (c == "all" && (pCmd->iTest >= 0 || pCmd->iDevice >= 0))
        sError = std::string("all takes --tests LIST and --devices LIST, not ") +
                 (pCmd->iTest >= 0 ? "--test" : "--device") + "; e.g. all --tests 0,2 --devices 1";
    else if (c != "all" && (pCmd->bTestsGiven || pCmd->bDevicesGiven))
        sError = "--tests and --devices choose for all; " + c + " takes --device and --test";
    else if (c != "all" && c != "run" && (pCmd->lLoops > 0 || pCmd->ullDurationMs > 0))
        sError = "--loops and --duration repeat tests; use them with all or run";
    else if (c != "all" && c != "run" && (pCmd->bEachCpu || pCmd->iRetests > 0))
        sError = "--each-cpu, --cpus and --retest-on-failure run tests; use them with all or run";
    else if (pCmd->lJobs > 1 && !pCmd->bEachCpu)
        sError = "--jobs runs tests on several CPUs at once; add --each-cpu or --cpus LIST";
    else if (!pCmd->sOutput.empty() && pCmd->iFormat == PEERS_FORMAT_TRACE)
        sError = "--trace-json is a test switch, not a result format; --output takes text, json "
                 "or ocptv";
    else if (pCmd->opt.bNoAck && pCmd->opt.bGarbageAck)
        sError = "--no-ack and --garbage-ack exclude each other; give one of them";
    return sError.empty() ? 0 : 1;
}

/* Parses argv into *pCmd. Returns 0 or PEERS_EXIT_USAGE (szError says why). */
int PeersParseCommandLine(int argc, char **argv, PeersCommand *pCmd, char *szError, int iSize)
{
    CommandInit(pCmd);
    szError[0] = '\0';
    for (int i = 1; i < argc; i++)
        pCmd->sCommandLine += std::string(i > 1 ? " " : "") + argv[i];
    std::string sError;
    if (ReadOptions(argc, argv, pCmd, sError) != 0 || CheckCommand(argc, argv, pCmd, sError) != 0) {
        snprintf(szError, (size_t)iSize, "%s", sError.c_str());
        return PEERS_EXIT_USAGE;
    }
    return 0;
}
