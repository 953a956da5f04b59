/* zoltpeers-cli.cpp - end to end through the built zoltpeers: the exit status
 * of every kind of outcome, the one-line errors, selection and soak (--loops,
 * --duration), both JSON result formats validated line by line against their
 * schemas (also with a Latin-1 definitions file), failed writes, and SIGINT /
 * SIGTERM stopping the module and removing the pipe directory. */
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "peers-run.h"

using namespace e2e;

namespace {

const std::string g_sPeers = ZOLT_BIN "/zoltpeers";

/* zoltpeers with the words; standard error joins the output when bJoinErr. */
ChildRun Peers(std::vector<std::string> vWords, const std::vector<std::string> &vEnv = {},
               bool bJoinErr = false)
{
    vWords.insert(vWords.begin(), g_sPeers);
    return RunChild(vWords, vEnv, nullptr, bJoinErr);
}

/* The lines of a text. */
std::vector<std::string> Lines(const std::string &s)
{
    std::vector<std::string> v;
    std::istringstream in(s);
    for (std::string sLine; std::getline(in, sLine);)
        v.push_back(sLine);
    return v;
}

/* Lines holding "\"record\":\"<szRecord>\"". */
std::vector<std::string> Records(const std::string &sOut, const char *szRecord)
{
    std::vector<std::string> v;
    for (const std::string &s : Lines(sOut))
        if (s.find(std::string("\"record\":\"") + szRecord + "\"") != std::string::npos)
            v.push_back(s);
    return v;
}

/* Runs the schema checker over sLines. Returns its exit status (0 valid,
 * 1 a fault, 2 no python3-jsonschema) and its report in *psReport. */
int CheckLines(const std::string &sLines, const char *szSchema, const char *szFormat,
               std::string *psReport)
{
    TempDir dir;
    std::string sFile = dir.sPath + "/lines";
    std::ofstream(sFile, std::ios::binary) << sLines;
    ChildRun r =
        RunChild({ "/bin/sh", "-c",
                   std::string("python3 " ZOLT_SOURCE_DIR "/tests/schemas/check-lines.py ") +
                       szSchema + " " + szFormat + " < " + sFile },
                 {}, nullptr, true);
    *psReport = r.sOut;
    return r.iExit;
}

const char *const g_szJsonSchema = ZOLT_SOURCE_DIR "/docs/zoltpeers-results.schema.json";
const char *const g_szOcptvSchema = ZOLT_SOURCE_DIR "/tests/schemas/ocptv-2.0.schema.json";

}  // namespace

TEST(ZoltPeersCli, ExitStatusesTellFailFromUntestedFromBrokenFromUsage)
{
    ChildRun cache = Peers({ "--json", "run", "--device", "0", "--test", "3" });
    bool bPrivilege = cache.sOut.find("\"result\":\"PRIVILEGEERROR\"") != std::string::npos;
    struct Case {
        std::vector<std::string> vWords, vEnv;
        int iExit;
        const char *szSays; /* part of what it prints (output and error) */
    } aCases[] = {
        { { "run", "--device", "0", "--test", "0" }, {}, 0, "PASS" },
        { { "--module", ZOLT_FAULT_BIN "/zoltcpu.linux", "--deffile", ZOLT_BIN "/zoltcpu.ini",
            "run", "--device", "0", "--test", "0" },
          { "ZOLT_FAULT=0:1:0x20:*:1" },
          1,
          "ERROR 1: General register test failed" },
        { { "run", "--device", "0", "--test", "3" },
          {},
          bPrivilege ? 4 : 0,
          bPrivilege ? "CAP_IPC_LOCK" : "PASS" },
        { { "--slow-devlist", "4000", "--limit", "1500", "run", "--device", "0", "--test", "0" },
          {},
          2,
          "did not end within its time limit" },
        { { "--module", ZOLT_BIN "/zoltcpu.ini", "enumerate" }, {}, 2, "not an executable" },
        { { "--module", "/nonexistent/zoltcpu.linux", "all" }, {}, 2, "give --module PATH" },
        { { "run", "--device", "9", "--test", "0" },
          {},
          3,
          "there is no device 9; the devices are 0 (CPU:0)" },
        { { "run", "--device", "0", "--test", "9" }, {}, 3, "its tests are 0, 1, 2, 3" },
        { { "all", "--tests", "7" }, {}, 3, "no chosen device has test 7" },
        { { "run", "--device", "0", "--test", "0", "--param", "ZOLT_DAPI2_PERCENT_TO_TEST,101" },
          {},
          3,
          "101 is out of range; give 0 to 100" },
        { { "run", "--device", "0", "--test", "0", "--param", "ZOLT_DAPI2_PERCENT_TO_TEST,lots" },
          {},
          3,
          "'lots' is not a float value" },
        { { "run", "--device", "0", "--test", "3", "--param", "ERRLIMIT,2" },
          {},
          3,
          "--errlimit N" },
        { { "--limit=0", "--", "all", "--json" }, {}, 3, "one command only" },
        { { "enumerate" },
          { "TMPDIR=/nonexistent" },
          2,
          "the pipe base /nonexistent: No such file or directory" },
    };
    for (const Case &c : aCases) {
        std::string sWords;
        for (const std::string &s : c.vWords)
            sWords += s + " ";
        SCOPED_TRACE(sWords);
        ChildRun r = Peers(c.vWords, c.vEnv, true);
        EXPECT_EQ(r.iExit, c.iExit) << r.sOut;
        EXPECT_NE(r.sOut.find(c.szSays), std::string::npos) << r.sOut;
        if (c.iExit == 3) { /* one line and the pointer to --help, before any test ran */
            EXPECT_NE(r.sOut.find("\nTry 'zoltpeers --help' for more information.\n"),
                      std::string::npos)
                << r.sOut;
            EXPECT_EQ(r.sOut.find("test 0 (integer unit)"), std::string::npos) << r.sOut;
        }
    }
    /* a module given by path takes the definitions file beside it */
    TempDir dir;
    ASSERT_EQ(symlink(ZOLT_BIN "/zoltcpu.linux", (dir.sPath + "/zoltcpu.linux").c_str()), 0);
    std::ofstream(dir.sPath + "/zoltcpu.ini") << std::ifstream(ZOLT_BIN "/zoltcpu.ini").rdbuf();
    ChildRun r = Peers({ "--module", dir.sPath + "/zoltcpu.linux", "enumerate" });
    EXPECT_NE(r.sOut.find("definitions " + dir.sPath + "/zoltcpu.ini"), std::string::npos)
        << r.sOut;
}

TEST(ZoltPeersCli, VersionAndHelp)
{
    ChildRun r = Peers({ "--version" });
    EXPECT_EQ(r.iExit, 0);
    EXPECT_EQ(r.sOut.rfind("zoltpeers 1.", 0), 0u) << r.sOut;
    EXPECT_NE(r.sOut.find("\nmodule: zoltcpu 1."), std::string::npos) << r.sOut;
    r = Peers({ "--module", "/nonexistent/zoltcpu.linux", "--version" });
    EXPECT_EQ(r.iExit, 2) << r.sOut;
    r = Peers({ "--help" });
    EXPECT_EQ(r.iExit, 0);
    for (const char *sz :
         { "--tests LIST", "--duration TIME", "--format FORMAT", "test switches", "130, 143" })
        EXPECT_NE(r.sOut.find(sz), std::string::npos) << sz;
}

TEST(ZoltPeersCli, LoopsFoldIdenticalPassesIntoOneRecordAndDurationStopsInTime)
{
    ChildRun r = Peers({ "all", "--json", "--loops", "200", "--tests", "0" });
    EXPECT_EQ(r.iExit, 0) << r.sOut;
    std::vector<std::string> vTests = Records(r.sOut, "test");
    ASSERT_EQ(vTests.size(), 1u) << r.sOut;
    EXPECT_EQ(Num(vTests[0], "count"), 200);
    EXPECT_EQ(Num(vTests[0], "loop"), 1);
    EXPECT_EQ(Num(vTests[0], "last_loop"), 200);
    EXPECT_LE(Num(vTests[0], "duration_ms_min"), Num(vTests[0], "duration_ms_max"));
    EXPECT_LT(Str(vTests[0], "start"), Str(vTests[0], "last_start"));
    EXPECT_EQ(Num(Records(r.sOut, "run-end").at(0), "runs"), 200);
    /* a run that differs ends the streak: a FAIL between passes is its own record */
    r = Peers({ "--module", ZOLT_FAULT_BIN "/zoltcpu.linux", "--deffile", ZOLT_BIN "/zoltcpu.ini",
                "--json", "run", "--device", "0", "--test", "0", "--loops", "3" },
              { "ZOLT_FAULT=0:1:0x20:*:1" });
    EXPECT_EQ(Records(r.sOut, "test").size(), 3u) << r.sOut;

    /* the text report's table: one row per device and test with its counts */
    r = Peers({ "all", "--loops", "2", "--tests", "0,2" });
    EXPECT_NE(r.sOut.find("Summary: 4 run(s) in 2 loop(s)"), std::string::npos) << r.sOut;
    EXPECT_NE(r.sOut.find("  CPU:0    0 integer unit                     2       2       0"),
              std::string::npos)
        << r.sOut;

    auto start = std::chrono::steady_clock::now();
    r = Peers({ "all", "--json", "--duration", "2s", "--tests", "0" });
    double dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r.iExit, 0) << r.sOut;
    EXPECT_GE(dSeconds, 2.0);
    EXPECT_LT(dSeconds, 60.0); /* a test started before the end finishes; generous */
    ASSERT_EQ(Records(r.sOut, "test").size(), 1u) << r.sOut;
    EXPECT_GE(Num(Records(r.sOut, "test")[0], "count"), 2);

    /* --stop-on-fail ends at the first FAIL although more loops were asked */
    r = Peers({ "--module", ZOLT_FAULT_BIN "/zoltcpu.linux", "--deffile", ZOLT_BIN "/zoltcpu.ini",
                "--json", "run", "--device", "0", "--test", "0", "--loops", "5", "--stop-on-fail" },
              { "ZOLT_FAULT=0:1:0x20:*:1" });
    EXPECT_EQ(r.iExit, 1);
    EXPECT_EQ(Records(r.sOut, "test").size(), 1u) << r.sOut;
    EXPECT_NE(r.sOut.find("\"stopped\":\"stop-on-fail\""), std::string::npos) << r.sOut;
}

TEST(ZoltPeersCli, EveryJsonLineValidatesAndIsUtf8EvenWithALatin1DefinitionsFile)
{
    /* the hostile case: texts of the definitions file in Latin-1 */
    TempDir dir;
    std::ifstream in(ZOLT_BIN "/zoltcpu.ini", std::ios::binary);
    std::string sIni((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const auto &edit :
         { std::make_pair(std::string("szInfo1=Testing the general registers"),
                          std::string("szInfo1=Pr\xFC"
                                      "fe die Register \xE9\xFF")),
           std::make_pair(std::string("szSysInfoVendorIdDesc=Processor vendor"),
                          std::string("szSysInfoVendorIdDesc=Fabricant \xE9")) }) {
        size_t uAt = sIni.find(edit.first);
        ASSERT_NE(uAt, std::string::npos) << edit.first;
        sIni.replace(uAt, edit.first.size(), edit.second);
    }
    const std::string sIniPath = dir.sPath + "/latin1.ini";
    std::ofstream(sIniPath, std::ios::binary) << sIni;

    std::string sReport;
    int iChecked = 0;
    for (const char *szDefFile : { ZOLT_BIN "/zoltcpu.ini", sIniPath.c_str() })
        for (const std::vector<std::string> &vCmd :
             { std::vector<std::string>{ "all", "--loops", "2" },
               std::vector<std::string>{ "run", "--device", "0", "--test", "0" },
               std::vector<std::string>{ "sysinfo", "--device", "0" },
               std::vector<std::string>{ "validate", "--test", "0" },
               std::vector<std::string>{ "enumerate" },
               std::vector<std::string>{ "--module", "/nonexistent/zoltcpu.linux", "all" } })
            for (const char *szFormat : { "json", "ocptv" }) {
                std::vector<std::string> v = { "--deffile", szDefFile, "--format", szFormat };
                v.insert(v.end(), vCmd.begin(), vCmd.end());
                ChildRun r = Peers(v);
                SCOPED_TRACE(std::string(szDefFile) + " " + vCmd[0] + " " + szFormat);
                int iRc = CheckLines(r.sOut, *szFormat == 'j' ? g_szJsonSchema : g_szOcptvSchema,
                                     szFormat, &sReport);
                if (iRc == 2 || iRc == 127) /* no python3-jsonschema, no python3 */
                    GTEST_SKIP() << "the schema checker needs python3-jsonschema: " << sReport;
                EXPECT_EQ(iRc, 0) << sReport << r.sOut;
                iChecked++;
                /* a start and an end whatever happened, the missing module included */
                for (const char *sz :
                     *szFormat == 'j' ? std::vector<const char *>{ "\"run-start\"", "\"run-end\"" }
                                      : std::vector<const char *>{ "testRunStart", "testRunEnd" })
                    EXPECT_NE(r.sOut.find(sz), std::string::npos) << sz << r.sOut;
                if (szDefFile == sIniPath && vCmd[0] == "run") {
                    EXPECT_NE(r.sOut.find("Pr\xEF\xBF\xBD"
                                          "fe die Register \xEF\xBF\xBD\xEF\xBF\xBD"),
                              std::string::npos)
                        << r.sOut;
                }
            }
    EXPECT_EQ(iChecked, 24);
    /* a fault found: a FAIL diagnosis of hardware dutInfo defines, and no error */
    ChildRun fault =
        Peers({ "--module", ZOLT_FAULT_BIN "/zoltcpu.linux", "--deffile", ZOLT_BIN "/zoltcpu.ini",
                "--format", "ocptv", "run", "--device", "0", "--test", "0" },
              { "ZOLT_FAULT=0:1:0x20:*:1" });
    EXPECT_EQ(fault.iExit, 1);
    EXPECT_EQ(CheckLines(fault.sOut, g_szOcptvSchema, "ocptv", &sReport), 0) << sReport;
    size_t uDiag =
        fault.sOut.find("\"diagnosis\":{\"verdict\":\"cpu-test-0-fail\",\"type\":\"FAIL\"");
    ASSERT_NE(uDiag, std::string::npos) << fault.sOut;
    size_t uHw = fault.sOut.find("\"hardwareInfoId\":", uDiag);
    std::string sHw = fault.sOut.substr(uHw, fault.sOut.find(',', uHw) - uHw);
    std::string sStart = Lines(fault.sOut).at(1); /* the testRunStart */
    EXPECT_NE(sStart.find("\"dutInfo\":{"), std::string::npos) << sStart;
    EXPECT_NE(sStart.find("{" + sHw + ","), std::string::npos) << sHw << sStart;
    EXPECT_EQ(fault.sOut.find("\"error\""), std::string::npos) << fault.sOut;
    /* the text report repairs the same bytes */
    ChildRun r = Peers({ "--deffile", sIniPath, "run", "--device", "0", "--test", "0" });
    EXPECT_NE(r.sOut.find("  Pr\xEF\xBF\xBD"
                          "fe die Register"),
              std::string::npos)
        << r.sOut;
    EXPECT_EQ(r.sOut.find('\xFC'), std::string::npos);

    /* the checkers are not blind: an unknown key and a broken sequence fail */
    ChildRun good = Peers({ "--format", "ocptv", "run", "--device", "0", "--test", "0" });
    std::string sBad = good.sOut;
    sBad.replace(sBad.find("\"sequenceNumber\":0"), 18, "\"sequenceNumber\":0,\"extra\":1");
    EXPECT_EQ(CheckLines(sBad, g_szOcptvSchema, "ocptv", &sReport), 1) << sReport;
    sBad = good.sOut;
    sBad.replace(sBad.find("\"sequenceNumber\":2"), 18, "\"sequenceNumber\":5");
    EXPECT_EQ(CheckLines(sBad, g_szOcptvSchema, "ocptv", &sReport), 1) << sReport;
    sBad = Peers({ "--json", "run", "--device", "0", "--test", "0" }).sOut;
    sBad.replace(sBad.find("\"outcome\":\"pass\""), 17, "\"outcome\":\"fine\"");
    EXPECT_EQ(CheckLines(sBad, g_szJsonSchema, "json", &sReport), 1) << sReport;
}

TEST(ZoltPeersCli, FailedWritesEndWithAnErrorAndStatus2)
{
    /* (a log that is a link or a device is refused: hostile-paths) */
    for (const char *szRedirect :
         { " run --device 0 --test 0 > /dev/full", " --json all > /dev/full" }) {
        ChildRun r = RunChild({ "/bin/sh", "-c", g_sPeers + szRedirect }, {}, nullptr, true);
        EXPECT_EQ(r.iExit, 2) << szRedirect << ": " << r.sOut;
        EXPECT_NE(r.sOut.find("failed: No space left on device"), std::string::npos) << r.sOut;
    }
    /* a FAIL found is not hidden by the failed write */
    ChildRun r = RunChild({ "/bin/sh", "-c",
                            "ZOLT_FAULT=0:1:0x20:*:1 " + g_sPeers +
                                " --module " ZOLT_FAULT_BIN "/zoltcpu.linux --deffile " ZOLT_BIN
                                "/zoltcpu.ini run --device 0 --test 0 > /dev/full" });
    EXPECT_EQ(r.iExit, 1);
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
    ChildRun r = RunChild({ "/bin/sh", "-c",
                            "{ " + g_sPeers +
                                " all --loops 300 2>/dev/null; echo status $? >&2; }"
                                " | head -1 >/dev/null" },
                          {}, nullptr, true);
    EXPECT_EQ(r.sOut, "status 141\n");
    EXPECT_LT(std::chrono::steady_clock::now() - tStart, std::chrono::seconds(30));
}
