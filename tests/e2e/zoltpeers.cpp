/* zoltpeers.cpp - end to end: the real module run by the real zoltpeers over
 * real FIFOs; the JSON records and exit statuses of every mode and test. */
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "peers-run.h"
#include "x87-emulator.h"

using namespace e2e;

TEST(ZoltPeersEndToEnd, AllEnumeratesRunsEverySupportedTestAndSummarises)
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

    /* one enumeration, then every test of every device; a sound machine
     * fails nothing (but an emulator's x87 unit, see x87-emulator.h), and a
     * test it cannot run makes the status 4 */
    const bool bEmulated = !zolttest::X87EmulatorSkipReason().empty();
    int iRuns = 0, iNotPassed = 0, iFailed = 0;
    for (const std::string &s : r.vResults) {
        if (Str(s, "mode") != "run")
            continue;
        iRuns++;
        iNotPassed += Str(s, "result") != "PASS";
        iFailed += Str(s, "result") == "FAIL";
        if (!bEmulated || Num(s, "test") != 1) {
            EXPECT_NE(Str(s, "result"), "FAIL") << s;
        }
    }
    EXPECT_EQ(iRuns + 1, (int)r.vResults.size());
    EXPECT_GE(iRuns, 3 * (int)vNames.size()); /* MMX may be missing */
    EXPECT_EQ(r.iExit, iFailed > 0 ? 1 : (iNotPassed > 0 ? 4 : 0)) << r.sAll;
}

TEST(ZoltPeersEndToEnd, EachTestReportsItsWordPercentsAndTexts)
{
    struct Case {
        int iTest;
        const char *szPercents, *szFirstText; /* first INFO in English */
    } aCases[] = {
        { 0, "25,50,75,100", "Testing the general registers" },
        { 1, "25,50,75,100", "Testing the floating-point data registers" },
        { 2, "20,40,60,80,100", "Testing MMX arithmetic instructions" },
        { 3, "100", "" },
    };
    const std::string sX87Skip = zolttest::X87EmulatorSkipReason();
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.iTest);
        if (c.iTest == 1 && !sX87Skip.empty())
            continue;
        PeersRun r = RunPeers({ "run", "--device", "0", "--test", std::to_string(c.iTest) });
        std::string sRun = ResultOf(r, "run");
        ASSERT_FALSE(sRun.empty()) << r.sAll;
        std::string sWord = Str(sRun, "result");
        std::vector<std::string> vEnglish = All(sRun, "english");
        if ((c.iTest == 2 && !CpuHasMmx()) || (c.iTest == 3 && sWord == "PRIVILEGEERROR")) {
            /* no MMX, or no right to lock memory (warning 101) */
            EXPECT_EQ(sWord, c.iTest == 2 ? "NOTAPPLICABLE" : "PRIVILEGEERROR");
            EXPECT_EQ(Percents(sRun), "");
            if (c.iTest == 3) {
                EXPECT_EQ(Num(sRun, "code"), 101);
                EXPECT_NE(Str(sRun, "english").find("CAP_IPC_LOCK"), std::string::npos);
            }
            EXPECT_EQ(r.iExit, 4); /* nothing failed, nothing tested */
            continue;
        }
        EXPECT_EQ(sWord, "PASS") << sRun;
        EXPECT_EQ(r.iExit, 0);
        EXPECT_EQ(Percents(sRun), c.szPercents);
        EXPECT_EQ(Str(sRun, "type"), "INFO"); /* a sound unit: no warning, no error */
        ASSERT_FALSE(vEnglish.empty());
        if (c.iTest != 3) {
            EXPECT_EQ(vEnglish[0], c.szFirstText);
            continue;
        }
        ASSERT_EQ(vEnglish.size(), 19u); /* the allocation and 18 patterns */
        EXPECT_EQ(vEnglish[1], "Cache pattern 1 of 18: 0xFFFFFFFF");
        EXPECT_EQ(vEnglish[18], "Cache pattern 18 of 18: 0x88888888");
    }
    if (!sX87Skip.empty())
        GTEST_SKIP() << "test 1 not run: " << sX87Skip;
}

TEST(ZoltPeersEndToEnd, SysinfoAnswersTheSwitchedOnItems)
{
    PeersRun r = RunPeers({ "sysinfo", "--device", "0" });
    EXPECT_EQ(r.iExit, 0) << r.sAll;
    std::string sInfo = ResultOf(r, "sysinfo");
    EXPECT_EQ(Num(sInfo, "exit_status"), 0);
    EXPECT_EQ(All(sInfo, "key"),
              (std::vector<std::string>{ "VENDOR", "FAMILY", "MODEL", "MODELNAME", "STEPPING",
                                         "CACHESIZE", "SPEED" }));
    /* the clock: decimal digits */
    size_t uValues = sInfo.find("\"values\":[\"", sInfo.find("\"key\":\"SPEED\""));
    ASSERT_NE(uValues, std::string::npos) << sInfo;
    std::string sClock = sInfo.substr(uValues + 11, sInfo.find('"', uValues + 11) - uValues - 11);
    ASSERT_FALSE(sClock.empty()) << sInfo;
    EXPECT_EQ(sClock.find_first_not_of("0123456789"), std::string::npos) << sClock;
}

TEST(ZoltPeersEndToEnd, ValidateBadRequestsAndStartFailuresGiveTheirStatuses)
{
    /* the module registers no validation callback: it ends with 30 at once,
     * and the parameters checked against the definitions file are the answer */
    PeersRun r = RunPeers({ "validate", "--test", "0" });
    std::string sVal = ResultOf(r, "validate");
    EXPECT_EQ(Num(sVal, "exit_status"), 30) << r.sAll;
    EXPECT_EQ(sVal.find("\"parameters\""), std::string::npos);
    EXPECT_EQ(r.iExit, 0);
    r = RunPeers({ "--format", "json", "validate", "--test", "0", "--param",
                   "zolt_dapi2_percent_to_test,50" });
    sVal = r.vLines.size() > 1 ? r.vLines[r.vLines.size() - 2] : "";
    EXPECT_EQ(Str(sVal, "check"), "definitions") << r.sAll;
    EXPECT_EQ(All(sVal, "id"), std::vector<std::string>{ "ZOLT_DAPI2_PERCENT_TO_TEST" }) << sVal;
    EXPECT_EQ(Str(sVal, "max"), "100") << sVal;
    EXPECT_EQ(r.iExit, 0);
    EXPECT_EQ(RunPeers({ "--module", "/nonexistent/zoltcpu.linux", "enumerate" }).iExit, 2);
    EXPECT_EQ(RunPeers({ "run", "--device", "0" }).iExit, 3); /* no --test */
    /* an unknown test is a usage error found after the enumeration, before
     * any test runs; the message names the valid tests */
    r = RunPeers({ "run", "--device", "0", "--test", "4" });
    EXPECT_EQ(r.iExit, 3);
    EXPECT_NE(r.sAll.find("{\"kind\":\"SETUP\",\"mode\":\"enumerate\""), std::string::npos);
    EXPECT_TRUE(r.vResults.empty()) << r.sAll;
}
