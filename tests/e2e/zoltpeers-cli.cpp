/* zoltpeers-cli.cpp - end to end through the built zoltpeers: the exit status
 * and what it prints for every kind of outcome (--version and --help too),
 * --duration, both JSON result formats
 * validated line by line against their schemas (with a Latin-1 definitions
 * file), failed writes, and signals stopping the module and removing the pipe
 * directory. */
#include <gtest/gtest.h>

#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "peers-run.h"
#include "x87-emulator.h"

using namespace e2e;

namespace {

/* Runs the schema checker of szFormat ("json" or "ocptv") over sLines. Returns
 * its exit status (0 valid, 1 a fault, 2 no python3-jsonschema) and its report
 * in *psReport. */
int CheckLines(const std::string &sLines, const std::string &sFormat, std::string *psReport)
{
    TempDir dir;
    std::ofstream(dir.sPath + "/lines", std::ios::binary) << sLines;
    const std::string sSchema = sFormat == "json"
                                    ? ZOLT_SOURCE_DIR "/docs/zoltpeers-results.schema.json"
                                    : ZOLT_SOURCE_DIR "/tests/schemas/ocptv-2.0.schema.json";
    ChildRun r = Shell("python3 " ZOLT_SOURCE_DIR "/tests/schemas/check-lines.py " + sSchema + " " +
                           sFormat + " < " + dir.sPath + "/lines",
                       true);
    *psReport = r.sOut;
    return r.iExit;
}

}  // namespace

/* all: one enumeration of every device, then every test of every device; a
 * sound machine fails nothing (but an emulator's x87 unit, see
 * x87-emulator.h), and a test it cannot run makes the status 4. */
TEST(ZoltPeersCli, AllEnumeratesRunsEverySupportedTestAndSummarises)
{
    PeersRun r = RunPeers({ "all" });
    std::string sEnum = r.vResults.empty() ? "" : r.vResults[0];
    ASSERT_EQ(Str(sEnum, "mode"), "enumerate") << r.sAll;
    EXPECT_EQ(Num(sEnum, "exit_status"), 0);
    std::vector<std::string> vNames = All(sEnum, "name");
    ASSERT_GE(vNames.size(), 1u);
    for (size_t i = 0; i < vNames.size(); i++)
        EXPECT_EQ(vNames[i], "CPU:" + std::to_string(i));
    EXPECT_EQ(All(sEnum, "hwlocator"), vNames);
    EXPECT_LE((long)vNames.size(), sysconf(_SC_NPROCESSORS_CONF));
    const bool bEmulated = !zolttest::X87EmulatorSkipReason().empty();
    int iRuns = 0, iNotPassed = 0, iFailed = 0;
    for (size_t i = 1; i < r.vResults.size(); i++) {
        const std::string &s = r.vResults[i];
        EXPECT_EQ(Str(s, "mode"), "run") << s;
        iRuns++;
        iNotPassed += Str(s, "result") != "PASS";
        iFailed += Str(s, "result") == "FAIL";
        EXPECT_TRUE(Str(s, "result") != "FAIL" || (bEmulated && Num(s, "test") == 1)) << s;
    }
    EXPECT_GE(iRuns, 3 * (int)vNames.size()); /* MMX may be missing */
    EXPECT_EQ(r.iExit, iFailed > 0 ? 1 : (iNotPassed > 0 ? 4 : 0)) << r.sAll;
}

/* Each command and each kind of outcome: the exit status and parts of what it
 * prints ("!part": a part it must not print). A usage error is one line and
 * the pointer to --help, before any test ran. */
TEST(ZoltPeersCli, ExitStatusAndOutputOfEachCommandAndOutcome)
{
    const bool bPrivilege = Has(PeersLine("--json run --device 0 --test 3").sOut,
                                "\"result\":\"PRIVILEGEERROR\""),
               bX87Emulated = !zolttest::X87EmulatorSkipReason().empty(), bMmx = CpuHasMmx();
    struct Case {
        std::string sLine;
        int iExit;
        std::vector<std::string> vSays;
    } aCases[] = {
        /* a sound run of each test: its percent values and its first text */
        { "--json run --device 0 --test 0",
          0,
          { "[25,50,75,100]", "Testing the general registers" } },
        { "--json run --device 0 --test 1",
          bX87Emulated ? 1 : 0, /* see x87-emulator.h */
          { bX87Emulated ? "FAIL" : "[25,50,75,100]",
            "Testing the floating-point data registers" } },
        { "--json run --device 0 --test 2",
          bMmx ? 0 : 4,
          { bMmx ? "[20,40,60,80,100]" : "NOTAPPLICABLE", bMmx ? "Testing MMX arithmetic" : "" } },
        { "run --device 0 --test 3", bPrivilege ? 4 : 0, { bPrivilege ? "CAP_IPC_LOCK" : "PASS" } },
        { g_sTest0Fails + " run --device 0 --test 0", 1, { "ERROR 1: General register test" } },
        /* --stop-on-fail: the first FAIL ends the session although more loops were asked */
        { g_sTest0Fails + " --json --loops 5 --stop-on-fail run --device 0 --test 0",
          1,
          { "\"stopped\":\"stop-on-fail\"", "\"runs\":1," } },
        /* the items the definitions file switches on; the module's answer to validate */
        { "sysinfo --device 0", 0, { "device 0: 7 item(s)\n  Processor vendor (VENDOR): " } },
        { "validate --test 0 --param zolt_dapi2_percent_to_test,50",
          0,
          { "(the module answers no validation requests)\n  ZOLT_DAPI2_PERCENT_TO_TEST: valid  "
            "min 0  max 100\n" } },
        /* --quiet: the summary and the failures only */
        { "--quiet --loops 3 all --tests 0,2",
          0,
          { "Summary: 6 run(s) in 3 loop(s)", "!PASS  (", "!zoltpeers: module", "!Enumeration",
            "!: test " } },
        { g_sTest0Fails + " --quiet run --device 0 --test 0",
          1,
          { "  FAIL  (", "!PASS  (", "!zoltpeers: module", "!: test " } },
        { "--slow-devlist 4000 --limit 1500 run --device 0 --test 0",
          2,
          { "did not end within its time" } },
        { "--module " ZOLT_BIN "/zoltcpu.ini enumerate", 2, { "not an executable" } },
        { "--module /nonexistent/zoltcpu.linux all", 2, { "give --module PATH" } },
        { "--version", 0, { "zoltpeers 1.", "\nmodule: zoltcpu 1." } },
        { "--module /nonexistent/zoltcpu.linux --version", 2, { "linux could not be run" } },
        { "--help", 0, { "--tests LIST", "--duration TIME", "--format FORMAT", "test switches" } },
        { "--help", 0, { "130, 143" } },
        { "TMPDIR=/nonexistent enumerate", 2, { "the pipe base /nonexistent: No such file or" } },
        { "run --device 9 --test 0", 3, { "there is no device 9; the devices are 0 (CPU:0)" } },
        { "run --device 0 --test 9", 3, { "its tests are 0, 1, 2, 3" } },
        { "all --tests 7", 3, { "no chosen device has test 7" } },
        { "run --device 0 --test 0 --param ZOLT_DAPI2_PERCENT_TO_TEST,101",
          3,
          { "101 is out of range" } },
        { "--limit=0 -- all --json", 3, { "one command only" } },
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.sLine);
        ChildRun r = PeersLine(c.sLine);
        EXPECT_EQ(r.iExit, c.iExit) << r.sOut;
        for (const std::string &s : c.vSays)
            EXPECT_EQ(Has(r.sOut, s.substr(s[0] == '!')), s[0] != '!') << s << "\n" << r.sOut;
        if (c.iExit == 3) {
            EXPECT_TRUE(Has(r.sOut, "\nTry 'zoltpeers --help' for more information.\n")) << r.sOut;
            EXPECT_FALSE(Has(r.sOut, "test 0 (integer unit)")) << r.sOut;
        }
    }
    /* a module given by path takes the definitions file beside it */
    TempDir dir;
    ASSERT_EQ(symlink(ZOLT_BIN "/zoltcpu.linux", (dir.sPath + "/zoltcpu.linux").c_str()), 0);
    std::ofstream(dir.sPath + "/zoltcpu.ini") << ReadFile(ZOLT_BIN "/zoltcpu.ini");
    ChildRun r = Peers({ "--module", dir.sPath + "/zoltcpu.linux", "enumerate" });
    EXPECT_TRUE(Has(r.sOut, "definitions " + dir.sPath + "/zoltcpu.ini")) << r.sOut;
}

/* --duration runs until the time is up, the identical passes folded into one
 * record (folding 200 loops: unattended.cpp). */
TEST(ZoltPeersCli, DurationStopsInTime)
{
    auto start = std::chrono::steady_clock::now();
    ChildRun r = Peers({ "all", "--json", "--duration", "2s", "--tests", "0" });
    double dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.iExit, 0) << r.sOut;
    EXPECT_GE(dSeconds, 2.0);
    EXPECT_LT(dSeconds, 60.0); /* a test started before the end finishes; generous */
    EXPECT_GE(Num(r.sOut, "count", r.sOut.find("\"record\":\"test\"")), 2) << r.sOut;
    EXPECT_FALSE(Has(r.sOut, "\"loop\":2,")) << r.sOut; /* in the first record */
}

/* Each mode's lines, a FAIL and a missing module included, in both formats:
 * valid against the schema, a start and an end whatever happened, and UTF-8
 * although two texts of the definitions file are Latin-1, as is the text
 * report. */
TEST(ZoltPeersCli, EveryJsonLineValidatesAndIsUtf8EvenWithALatin1DefinitionsFile)
{
    TempDir dir;
    std::string sIni = ReadFile(ZOLT_BIN "/zoltcpu.ini");
    const std::pair<std::string, std::string> aEdits[] = {
        { "szInfo1=Testing the general registers", "szInfo1=Pr\xFC"
                                                   "fe die Register \xE9\xFF" },
        { "szSysInfoVendorIdDesc=Processor vendor", "szSysInfoVendorIdDesc=Fabricant \xE9" },
    };
    for (const auto &edit : aEdits) {
        size_t uAt = sIni.find(edit.first);
        ASSERT_NE(uAt, std::string::npos) << edit.first;
        sIni.replace(uAt, edit.first.size(), edit.second);
    }
    const std::string sIniPath = dir.sPath + "/latin1.ini";
    std::ofstream(sIniPath, std::ios::binary) << sIni;
    const std::string asCases[] = { "all --loops 2",
                                    "run --device 0 --test 0",
                                    "sysinfo --device 0",
                                    "validate --test 0",
                                    "enumerate",
                                    "--module /nonexistent/zoltcpu.linux all",
                                    g_sTest0Fails + " run --device 0 --test 0" };
    std::string sReport;
    std::map<std::string, std::string> mRun; /* the sound run's lines by format */
    for (const std::string &sCase : asCases)
        for (const std::string sFormat : { "json", "ocptv" }) {
            /* options after the command; the last --deffile counts */
            ChildRun r =
                PeersLine(sCase + " --deffile " + sIniPath + " --format " + sFormat, false);
            SCOPED_TRACE(sCase + " " + sFormat);
            int iRc = CheckLines(r.sOut, sFormat, &sReport);
            if (iRc == 2 || iRc == 127) /* no python3-jsonschema, no python3 */
                GTEST_SKIP() << "the schema checker needs python3-jsonschema: " << sReport;
            EXPECT_EQ(iRc, 0) << sReport << r.sOut;
            for (const char *sz : sFormat == "json"
                                      ? std::vector<const char *>{ "\"run-start\"", "\"run-end\"" }
                                      : std::vector<const char *>{ "testRunStart", "testRunEnd" })
                EXPECT_TRUE(Has(r.sOut, sz)) << sz << r.sOut;
            if (sCase.rfind("run", 0) == 0) {
                EXPECT_TRUE(Has(r.sOut, "Pr\xEF\xBF\xBD"
                                        "fe die Register \xEF\xBF\xBD\xEF\xBF\xBD"))
                    << r.sOut;
                mRun[sFormat] = r.sOut;
            }
        }
    /* the text report repairs the same bytes */
    ChildRun r = Peers({ "--deffile", sIniPath, "run", "--device", "0", "--test", "0" });
    EXPECT_TRUE(Has(r.sOut, "  Pr\xEF\xBF\xBD"
                            "fe die Register \xEF\xBF\xBD\xEF\xBF\xBD\n"))
        << r.sOut;
    /* the checkers are not blind: an unknown key, a broken sequence, an unknown outcome */
    struct {
        const char *szFormat, *szFrom, *szTo;
    } aBroken[] = {
        { "ocptv", "\"sequenceNumber\":0", "\"sequenceNumber\":0,\"extra\":1" },
        { "ocptv", "\"sequenceNumber\":2", "\"sequenceNumber\":5" },
        { "json", "\"outcome\":\"pass\"", "\"outcome\":\"fine\"" },
    };
    for (const auto &b : aBroken) {
        std::string s = mRun[b.szFormat];
        size_t uAt = s.find(b.szFrom);
        ASSERT_NE(uAt, std::string::npos) << b.szFrom;
        EXPECT_EQ(CheckLines(s.replace(uAt, strlen(b.szFrom), b.szTo), b.szFormat, &sReport), 1)
            << b.szTo << sReport;
    }
}

TEST(ZoltPeersCli, FailedWritesEndWithAnErrorAndStatus2)
{
    /* (a log that is a link or a device is refused: hostile-paths) */
    for (const char *szRedirect :
         { " run --device 0 --test 0 > /dev/full", " --json all > /dev/full" }) {
        ChildRun r = Shell(g_sPeers + szRedirect, true);
        EXPECT_EQ(r.iExit, 2) << szRedirect << ": " << r.sOut;
        EXPECT_TRUE(Has(r.sOut, "failed: No space left on device")) << r.sOut;
    }
    /* a FAIL found is not hidden by the failed write */
    std::string sFaulty = g_sTest0Fails + " " + g_sPeers;
    for (const std::string &s : FaultyWords({ "run", "--device", "0", "--test", "0" }))
        sFaulty += " " + s;
    EXPECT_EQ(Shell(sFaulty + " > /dev/full").iExit, 1);
}

/* SIGINT, SIGTERM, SIGHUP: 128 + the signal. SIGUSR1 ends the 60 s session after the
 * running test, with the status its results give (0, or 4 for a stopped test). */
TEST(ZoltPeersCli, SignalsStopTheModuleRemoveThePipesAndGive128PlusTheSignal)
{
    for (int iSignal : { SIGINT, SIGTERM, SIGHUP, SIGUSR1 }) {
        SCOPED_TRACE(iSignal);
        TempDir base;
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (freopen("/dev/null", "w", stdout) == nullptr)
                _exit(126);
            execl(g_sPeers.c_str(), g_sPeers.c_str(), "--pipe-base", base.sPath.c_str(),
                  "--duration", "60s", "all", (char *)nullptr);
            _exit(127);
        }
        /* wait until the pipe directory exists and a test has had time to start */
        for (int i = 0; i < 200 && base.Entries().empty(); i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        EXPECT_FALSE(base.Entries().empty());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, iSignal);
        auto start = std::chrono::steady_clock::now();
        int iStatus = 0;
        waitpid(pid, &iStatus, 0);
        ASSERT_TRUE(WIFEXITED(iStatus));
        if (iSignal == SIGUSR1) {
            EXPECT_TRUE(WEXITSTATUS(iStatus) == 0 || WEXITSTATUS(iStatus) == 4) << iStatus;
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
        } else {
            EXPECT_EQ(WEXITSTATUS(iStatus), 128 + iSignal);
        }
        EXPECT_TRUE(base.Entries().empty()); /* pipe directory gone */
    }
    /* the reader of the results has gone (| head -1): at once, 128 + SIGPIPE */
    auto tStart = std::chrono::steady_clock::now();
    ChildRun r = Shell("{ " + g_sPeers + " all --loops 300 2>/dev/null; echo status $? >&2; }" +
                           " | head -1 >/dev/null",
                       true);
    EXPECT_EQ(r.sOut, "status 141\n");
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::seconds(30));
}
