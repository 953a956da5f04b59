/* zoltpeers.cpp - end to end: the real zoltcpu.linux run by the real zoltpeers
 * over real FIFOs. Checks the JSON records zoltpeers writes (one RESULT per
 * module invocation, a SUMMARY) and its exit statuses: enumeration, each test
 * with its result word, percent sequence and English texts, system
 * information, validation, and the module's statuses under misbehaving peers. */
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "peers-run.h"
#include "x87-emulator.h"

namespace {

using namespace e2e;

/* The SUMMARY line zoltpeers printed ("" when none). */
std::string SummaryOf(const PeersRun &r)
{
    for (const std::string &s : r.vLines)
        if (s.rfind("{\"kind\":\"SUMMARY\"", 0) == 0)
            return s;
    return "";
}

/* The kinds of the packets process lPid sent, in order. */
std::vector<std::string> InboundFrom(const PeersRun &r, long lPid)
{
    std::vector<std::string> v;
    for (const std::string &s : PacketsFrom(r, lPid))
        v.push_back(s.substr(0, s.find(':')));
    return v;
}

bool CpuHasMmx()
{
    std::ifstream in("/proc/cpuinfo");
    std::string sLine;
    while (std::getline(in, sLine))
        if (sLine.rfind("flags", 0) == 0)
            return (sLine + " ").find(" mmx ") != std::string::npos;
    return false;
}

}  // namespace

TEST(ZoltPeersEndToEnd, EnumerateListsTheCpus)
{
    PeersRun r = RunPeers({ "enumerate" });
    EXPECT_EQ(r.iExit, 0) << r.sAll;
    std::string sEnum = ResultOf(r, "enumerate");
    ASSERT_FALSE(sEnum.empty()) << r.sAll;
    EXPECT_EQ(Num(sEnum, "exit_status"), 0);
    std::vector<std::string> vNames = All(sEnum, "name");
    ASSERT_GE(vNames.size(), 1u);
    for (size_t i = 0; i < vNames.size(); i++)
        EXPECT_EQ(vNames[i], "CPU:" + std::to_string(i));
    EXPECT_EQ(All(sEnum, "hwlocator"), vNames);
    long lCpus = sysconf(_SC_NPROCESSORS_CONF);
    EXPECT_LE((long)vNames.size(), lCpus);
}

TEST(ZoltPeersEndToEnd, EachTestReportsItsWordPercentsAndTexts)
{
    struct Case {
        int iTest;
        const char *szPercents;
        const char *szFirstText;      /* first INFO in English */
    } aCases[] = {
        { 0, "25,50,75,100", "Testing the general registers" },
        { 1, "25,50,75,100", "Testing the floating-point data registers" },
        { 2, "20,40,60,80,100", "Testing MMX arithmetic instructions" },
    };
    const std::string sX87Skip = zolttest::X87EmulatorSkipReason();
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.iTest);
        if (c.iTest == 1 && !sX87Skip.empty())
            continue;
        PeersRun r = RunPeers({ "run", "--device", "0", "--test", std::to_string(c.iTest) });
        std::string sRun = ResultOf(r, "run");
        ASSERT_FALSE(sRun.empty()) << r.sAll;
        if (c.iTest == 2 && !CpuHasMmx()) {
            EXPECT_EQ(Str(sRun, "result"), "NOTAPPLICABLE");
            EXPECT_EQ(r.iExit, 1);
            continue;
        }
        EXPECT_EQ(Str(sRun, "result"), "PASS") << sRun;
        EXPECT_EQ(r.iExit, 0);
        EXPECT_EQ(Percents(sRun), c.szPercents);
        std::vector<std::string> vEnglish = All(sRun, "english");
        ASSERT_FALSE(vEnglish.empty());
        EXPECT_EQ(vEnglish[0], c.szFirstText);
        EXPECT_EQ(Str(sRun, "type"), "INFO");   /* a sound unit: no warning, no error */
    }
    if (!sX87Skip.empty())
        GTEST_SKIP() << "test 1 not run: " << sX87Skip;
}

TEST(ZoltPeersEndToEnd, CacheTestPassesOrSaysWhyNot)
{
    PeersRun r = RunPeers({ "run", "--device", "0", "--test", "3" });
    std::string sRun = ResultOf(r, "run");
    ASSERT_FALSE(sRun.empty()) << r.sAll;
    std::string sWord = Str(sRun, "result");
    if (sWord == "PRIVILEGEERROR") {
        /* no right to raise the locked-memory limit: warning 101, no percent */
        EXPECT_EQ(r.iExit, 1);
        EXPECT_EQ(Percents(sRun), "");
        EXPECT_EQ(Num(sRun, "code"), 101);
        EXPECT_NE(Str(sRun, "english").find("CAP_SYS_RESOURCE"), std::string::npos);
        return;
    }
    EXPECT_EQ(sWord, "PASS");
    EXPECT_EQ(r.iExit, 0);
    EXPECT_EQ(Percents(sRun), "100");
    std::vector<std::string> vEnglish = All(sRun, "english");
    ASSERT_EQ(vEnglish.size(), 19u);   /* the allocation and 18 patterns */
    EXPECT_EQ(vEnglish[1], "Cache pattern 1 of 18: 0xFFFFFFFF");
    EXPECT_EQ(vEnglish[18], "Cache pattern 18 of 18: 0x88888888");
}

TEST(ZoltPeersEndToEnd, UnknownTestIsABadRequest)
{
    PeersRun r = RunPeers({ "run", "--device", "0", "--test", "4" });
    /* one RESULT per request: the enumeration before it is only a SETUP */
    ASSERT_EQ(r.vResults.size(), 1u) << r.sAll;
    EXPECT_NE(r.sAll.find("{\"kind\":\"SETUP\",\"mode\":\"enumerate\""), std::string::npos);
    std::string sRun = ResultOf(r, "run");
    ASSERT_FALSE(sRun.empty()) << r.sAll;
    EXPECT_EQ(Str(sRun, "result"), "BADPARAMS");
    EXPECT_EQ(Percents(sRun), "");
    EXPECT_EQ(r.iExit, 1);
}

TEST(ZoltPeersEndToEnd, SysinfoAnswersTheSwitchedOnItems)
{
    PeersRun r = RunPeers({ "sysinfo", "--device", "0" });
    EXPECT_EQ(r.iExit, 0) << r.sAll;
    std::string sInfo = ResultOf(r, "sysinfo");
    ASSERT_FALSE(sInfo.empty());
    EXPECT_EQ(Num(sInfo, "exit_status"), 0);
    EXPECT_EQ(All(sInfo, "key"), (std::vector<std::string>{ "VENDOR", "FAMILY", "MODEL", "MODELNAME", "STEPPING",
                                                             "CACHESIZE", "SPEED" }));
    /* the clock: decimal digits */
    size_t uSpeed = sInfo.find("\"key\":\"SPEED\"");
    ASSERT_NE(uSpeed, std::string::npos);
    size_t uValues = sInfo.find("\"values\":[\"", uSpeed);
    ASSERT_NE(uValues, std::string::npos);
    uValues += 11;
    std::string sClock = sInfo.substr(uValues, sInfo.find('"', uValues) - uValues);
    ASSERT_FALSE(sClock.empty()) << sInfo;
    EXPECT_EQ(sClock.find_first_not_of("0123456789"), std::string::npos) << sClock;
}

TEST(ZoltPeersEndToEnd, ValidateEndsAsTheModuleDoes)
{
    /* the module registers no validation callback: it ends with 30 at once */
    PeersRun r = RunPeers({ "validate", "--test", "0" });
    std::string sVal = ResultOf(r, "validate");
    ASSERT_FALSE(sVal.empty()) << r.sAll;
    EXPECT_EQ(Num(sVal, "exit_status"), 30);
    EXPECT_EQ(sVal.find("\"parameters\""), std::string::npos);
    EXPECT_EQ(r.iExit, 2);
}

TEST(ZoltPeersEndToEnd, AllRunsEverySupportedTestAndSummarises)
{
    PeersRun r = RunPeers({ "all" });
    const std::string sSummary = SummaryOf(r);
    ASSERT_FALSE(sSummary.empty()) << r.sAll;
    long iTests = Num(sSummary, "tests"), iPassed = Num(sSummary, "passed");
    EXPECT_EQ(Num(sSummary, "not_run"), 0);
    EXPECT_EQ(iTests + 1, (int)r.vResults.size());   /* one enumeration, then the tests */
    EXPECT_GE(iTests, 3);
    EXPECT_EQ(r.iExit, iPassed == iTests ? 0 : 1);
    EXPECT_EQ(Num(sSummary, "exit_status"), r.iExit);
}

TEST(ZoltPeersEndToEnd, ExitStatusesWhenTheModuleCannotRun)
{
    PeersRun r = RunPeers({ "--module", "/nonexistent/zoltcpu.linux", "enumerate" });
    EXPECT_EQ(r.iExit, 2);
    r = RunPeers({ "run", "--device", "0" });   /* no --test */
    EXPECT_EQ(r.iExit, 3);
    /* a garbage acknowledgement: the module gives up the connection (29) */
    r = RunPeers({ "--garbage-ack", "run", "--device", "0", "--test", "0" });
    EXPECT_EQ(r.iExit, 2);
    EXPECT_EQ(Num(ResultOf(r, "run"), "exit_status"), 29) << r.sAll;
    EXPECT_EQ(InboundFrom(r, Num(ResultOf(r, "run"), "pid")), std::vector<std::string>{ "STARTUP" });
}

TEST(ZoltPeersEndToEnd, NoAcknowledgementEndsTheModuleAfterItsWait)
{
    /* slow: the module waits 10 s for the acknowledgement */
    PeersRun r = RunPeers({ "--no-ack", "run", "--device", "0", "--test", "0" });
    EXPECT_EQ(r.iExit, 2);
    std::string sRun = ResultOf(r, "run");
    EXPECT_EQ(Num(sRun, "exit_status"), 29) << r.sAll;
    EXPECT_EQ(sRun.find("\"result\""), std::string::npos);
    EXPECT_EQ(sRun.find("\"killed\":true"), std::string::npos);
    /* it gave up after STARTUP: no message, no STOP */
    EXPECT_EQ(InboundFrom(r, Num(sRun, "pid")), std::vector<std::string>{ "STARTUP" });
}

TEST(ZoltPeersEndToEnd, MisbehavingPeersDoNotBreakTheModule)
{
    /* garbage frames and a 100 KB device list in many frames: still PASS */
    for (const std::vector<std::string> &vOpt : { std::vector<std::string>{ "--garbage-frames" },
                                                 std::vector<std::string>{ "--pad-devlist", "100000" } }) {
        SCOPED_TRACE(vOpt[0]);
        std::vector<std::string> vWords = vOpt;
        vWords.insert(vWords.end(), { "run", "--device", "0", "--test", "0" });
        PeersRun r = RunPeers(vWords);
        EXPECT_EQ(Str(ResultOf(r, "run"), "result"), "PASS") << r.sAll;
        EXPECT_EQ(r.iExit, 0);
    }
    /* the broker dies after STARTUP, NLS_REGMOD and the startup notification:
     * the module waits out its device list and ends by itself, not by SIGPIPE */
    PeersRun r = RunPeers({ "--die-after", "3", "run", "--device", "0", "--test", "0" });
    std::string sRun = ResultOf(r, "run");
    ASSERT_FALSE(sRun.empty()) << r.sAll;
    EXPECT_EQ(Num(sRun, "signal"), 0);
    EXPECT_EQ(sRun.find("\"killed\":true"), std::string::npos);
    EXPECT_EQ(Num(sRun, "exit_status"), 0);
    EXPECT_EQ(r.iExit, 2);
}

TEST(ZoltPeersEndToEnd, StopRightAfterStartupDiscontinuesTheCacheTest)
{
    PeersRun r = RunPeers({ "--stop-at-startup", "run", "--device", "0", "--test", "3" });
    std::string sRun = ResultOf(r, "run");
    ASSERT_FALSE(sRun.empty()) << r.sAll;
    if (Str(sRun, "result") == "PRIVILEGEERROR")
        GTEST_SKIP() << "the cache test needs the right to raise the locked-memory limit (CAP_SYS_RESOURCE)";
    EXPECT_EQ(Str(sRun, "result"), "DISCONTINUED");
    EXPECT_EQ(Percents(sRun), "");
    EXPECT_EQ(r.iExit, 1);
}
