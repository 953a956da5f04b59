/* cpu-test-faults.cpp - end to end through zoltpeers with the fault-injection
 * build of the module (ZOLT_FAULT): one wrong observed value in any sub-test or
 * MMX routine gives exactly one error event, "FAIL" and the full percent
 * sequence; a processor without MMX (injected) gives warning 9, "NOTAPPLICABLE".
 * The cache test runs for real, the shipped module and the fault build, also
 * where the raise of the lock limit is refused (root here); a preload library
 * that refuses mlockall gives PRIVILEGEERROR. */
#include <gtest/gtest.h>

#include <ctype.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <vector>

#include "peers-run.h"
#include "x87-emulator.h"

using namespace e2e;

namespace {

/* The RESULT line of a run of test iTest on the fault build with ZOLT_FAULT=sFault. */
std::string RunFaulty(int iTest, const std::string &sFault, PeersRun *pRun)
{
    *pRun = RunPeers({ "--module", ZOLT_FAULT_BIN "/zoltcpu.linux", "--deffile",
                       ZOLT_BIN "/zoltcpu.ini", "run", "--device", "0", "--test",
                       std::to_string(iTest) },
                     60000, { "ZOLT_FAULT=" + sFault });
    return ResultOf(*pRun, "run");
}

struct Event {
    std::string sType, sText;
    long lCode;
};

/* The events of a RESULT line, in order. */
std::vector<Event> Events(const std::string &sJson)
{
    std::vector<Event> v;
    for (size_t uAt = sJson.find("{\"type\":\""); uAt != std::string::npos;
         uAt = sJson.find("{\"type\":\"", uAt + 1)) {
        size_t uEnd = sJson.find('}', uAt);
        std::string sEvent = sJson.substr(uAt, uEnd - uAt);
        v.push_back({ Str(sEvent, "type"), Str(sEvent, "text"), Num(sEvent, "code") });
    }
    return v;
}

/* The value of token variable szName in an event text ("" when absent). */
std::string Var(const std::string &sText, const char *szName)
{
    std::smatch m;
    return std::regex_search(sText, m, std::regex(std::string(" ") + szName + "=(\\w*)")) ? m.str(1)
                                                                                          : "";
}

/* ZOLT_FAULT (test:subtest:check:case:xor[:offset]), errno, the error tag
 * (tests 0 and 1) or the MMX instruction */
struct FaultCase {
    int iTest;
    const char *szFault, *szErrno, *szWhat;
};
void PrintTo(const FaultCase &c, std::ostream *pOs)
{
    *pOs << "fault " << c.szFault;
}

/* One check of every sub-test, and of MMX routines of each group (the name
 * and bit of every routine's cases and the group each routine reports in are
 * the unit tests' part). */
const FaultCase s_aFaults[] = {
    { 0, "0:1:0x20:*:1", "32", "szErrorReg" },
    { 0, "0:2:0x02:*:1", "2", "szErrorArithmetics" },
    { 0, "0:3:0x01:0:1:8", "1", "szErrorStrings" },
    { 0, "0:4:0x04:0:1", "4", "szErrorLogicals" },
    { 1, "1:1:0x01:*:1:3", "1", "szErrorMathReg" },
    { 1, "1:2:0x0400:0:1", "1024", "szErrorMathCommands" },
    { 1, "1:3:0x40:0:1", "64", "szErrorMathArithmetics" },
    { 1, "1:4:0x08:0:1", "8", "szErrorMathTrans" },
    { 2, "2:1:0x1:*:1", "1", "PADD" },
    { 2, "2:4:0x80:*:1:16", "128", "PMADD" },
    { 2, "2:5:0x2:*:1", "2", "PAND" },
    { 2, "2:10:0x10:*:1", "16", "PSLR" },
    { 2, "2:11:0x1:100:1:40", "100", "MOVD" },
    { 2, "2:12:0x1:0x7777:1:56", "30583", "MOVQ" },
    { 2, "2:17:0x20:*:1", "32", "PUNPCK" },
};

class CpuTestFaultsEndToEnd : public ::testing::TestWithParam<FaultCase> {};

TEST_P(CpuTestFaultsEndToEnd, OneErrorEventAndFail)
{
    const FaultCase &c = GetParam();
    if (c.iTest == 2 && !CpuHasMmx())
        GTEST_SKIP() << "this processor has no MMX";
    if (c.iTest == 1 && !zolttest::X87EmulatorSkipReason().empty())
        GTEST_SKIP() << zolttest::X87EmulatorSkipReason();
    PeersRun r;
    std::string sRun = RunFaulty(c.iTest, c.szFault, &r);
    ASSERT_FALSE(sRun.empty()) << r.sAll;
    EXPECT_EQ(Str(sRun, "result"), "FAIL") << sRun;
    EXPECT_EQ(r.iExit, 1);
    EXPECT_EQ(Percents(sRun), c.iTest == 2 ? "20,40,60,80,100" : "25,50,75,100");
    /* each sub-test's or group's message and one error (their order: the unit
     * tests' part) */
    const int iSub = std::stoi(std::string(c.szFault).substr(2));
    std::vector<Event> vErrors;
    size_t nInfos = 0;
    for (const Event &ev : Events(sRun)) {
        nInfos += ev.sType == "INFO" ? 1 : 0;
        if (ev.sType == "ERROR")
            vErrors.push_back(ev);
    }
    EXPECT_EQ(nInfos, c.iTest == 2 ? 5u : 4u) << sRun;
    ASSERT_EQ(vErrors.size(), 1u) << sRun;
    /* errors 1-4 of test 0 and 5-8 of test 1 in sub-test order; 10 for MMX */
    const std::string &sText = vErrors[0].sText;
    EXPECT_EQ(vErrors[0].lCode, c.iTest == 2 ? 10 : 4 * c.iTest + iSub);
    EXPECT_EQ(Var(sText, "id"), c.iTest == 2 ? "szErrorMMX10_10" : c.szWhat) << sText;
    EXPECT_EQ(Var(sText, "errno"), c.szErrno) << sText;
    EXPECT_EQ(Var(sText, "instruction"), c.iTest == 2 ? c.szWhat : "") << sText;
}

INSTANTIATE_TEST_SUITE_P(EverySubTestAndRoutine, CpuTestFaultsEndToEnd,
                         ::testing::ValuesIn(s_aFaults),
                         [](const ::testing::TestParamInfo<FaultCase> &info) {
                             /* named by the fault: test, error tag or routine, check */
                             const FaultCase &c = info.param;
                             std::string sCheck = std::string(c.szFault).substr(2);
                             sCheck = sCheck.substr(0, sCheck.find(':', sCheck.find(':') + 1));
                             for (char &ch : sCheck)
                                 ch = isalnum((unsigned char)ch) ? ch : '_';
                             return "Test" + std::to_string(c.iTest) + "_" + c.szWhat + "_" +
                                    sCheck;
                         });

TEST(CpuTestFaultsEndToEndMmx, WithoutMmxNotApplicable)
{
    PeersRun r;
    std::string sRun = RunFaulty(2, CpuHasMmx() ? "2:0:0:0:1" : "", &r);
    ASSERT_FALSE(sRun.empty()) << r.sAll;
    EXPECT_EQ(Str(sRun, "result"), "NOTAPPLICABLE") << sRun;
    EXPECT_EQ(Percents(sRun), "");
    std::vector<Event> vEvents = Events(sRun);
    ASSERT_FALSE(vEvents.empty()) << sRun;
    for (const Event &ev : vEvents) {
        EXPECT_EQ(ev.sType, "WARN");
        EXPECT_EQ(ev.lCode, 9);
        EXPECT_NE(ev.sText.find("id=szWarnNotApplicable10_9"), std::string::npos) << ev.sText;
    }
}

/* The fault build raising a signal at the fault of the integer unit's second
 * sub-test, all with --stop-on-fail and --cpus 0: CRASHED with the signal
 * (json, text), exit 1, the session stopped there (after the reruns of
 * --retest-on-failure, the first of which fails again); a test that waits for
 * ever: HUNG at --limit. */
TEST(CpuTestFaultsEndToEndMmx, SignalMidTestIsCrashedAndAHangIsHung)
{
    const struct {
        const char *szSignal, *szOutcome, *szName, *szText;
        int iLimitMs;
        const char *szRetests;
    } cases[] = {
        { "11", "crashed", "SIGSEGV", "CRASHED (SIGSEGV)", 60000, "2" },
        { "4", "crashed", "SIGILL", "CRASHED (SIGILL)", 60000, "0" },
        { "hang", "hung", "SIGKILL", "HUNG (killed at the time limit)", 3000, "0" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szSignal);
        const std::vector<std::string> vEnv = { "ZOLT_FAULT=0:2:0x02:0:1",
                                                std::string("ZOLT_FAULT_SIGNAL=") + c.szSignal };
        const std::string sModule = ZOLT_FAULT_BIN "/zoltcpu.linux",
                          sDefs = ZOLT_BIN "/zoltcpu.ini";
        std::vector<std::string> vWords = { "--module",  sModule,          "--deffile",
                                            sDefs,       "--stop-on-fail", "--retest-on-failure",
                                            c.szRetests, "--cpus",         "0",
                                            "all",       "--format",       "json" };
        PeersRun r = RunPeers(vWords, c.iLimitMs, vEnv);
        std::vector<std::string> vTests;
        for (const std::string &sLine : r.vLines)
            if (Str(sLine, "record") == "test")
                vTests.push_back(sLine);
        /* stopped after the failure and its one rerun that failed again */
        ASSERT_EQ(vTests.size(), *c.szRetests == '0' ? 1u : 2u) << r.sAll;
        for (const std::string &sTest : vTests) {
            EXPECT_EQ(Str(sTest, "outcome"), c.szOutcome) << sTest;
            EXPECT_EQ(Str(sTest, "signal"), c.szName) << sTest;
            EXPECT_EQ(Num(sTest, "logical"), 0) << sTest;
        }
        EXPECT_EQ(vTests.back().find("\"retest\":1,\"reproduced\":true"),
                  *c.szRetests == '0' ? std::string::npos : vTests.back().find("\"retest\""))
            << vTests.back();
        EXPECT_EQ(Str(r.vLines.back(), "stopped"), "stop-on-fail") << r.sAll;
        EXPECT_EQ(r.iExit, 1);
        vWords.back() = "text";
        r = RunPeers(vWords, c.iLimitMs, vEnv);
        EXPECT_NE(r.sAll.find(std::string("CPU:0  test 0 (integer unit)  ") + c.szText),
                  std::string::npos)
            << r.sAll;
        EXPECT_EQ(r.iExit, 1);
    }
}

/* A cache-test run (test 3) of the module in szBinDir with the extra words and
 * environment; "" when the module could not lock memory (then *psSkip says why). */
std::string RunCache(const char *szBinDir, const std::vector<std::string> &vWords,
                     const std::vector<std::string> &vEnv, PeersRun *pRun, std::string *psSkip)
{
    std::vector<std::string> vAll = { "--module", std::string(szBinDir) + "/zoltcpu.linux",
                                      "--deffile", ZOLT_BIN "/zoltcpu.ini" };
    vAll.insert(vAll.end(), vWords.begin(), vWords.end());
    vAll.insert(vAll.end(), { "run", "--device", "0", "--test", "3" });
    *pRun = RunPeers(vAll, 120000, vEnv);
    std::string sRun = ResultOf(*pRun, "run");
    /* 101 (EPERM): mlockall refused, which root is never refused; 102: locking
     * failed for want of memory */
    const long lWarning = Num(sRun, "code");
    if ((lWarning == 101 && geteuid() != 0) || lWarning == 102) {
        *psSkip = "this process may not lock its memory: " + sRun;
        return "";
    }
    return sRun;
}

/* The event types and codes of a run, "TYPE code|..." (INFO without code). */
std::string TypesAndCodes(const std::string &sRun)
{
    std::string s;
    for (const Event &ev : Events(sRun))
        s += ev.sType + (ev.sType == "INFO" ? "" : " " + std::to_string(ev.lCode)) + "|";
    return s;
}

/* The shipped module, where raising the lock limit may be refused: the
 * allocation message and the 18 pattern messages (the last with its value
 * in upper-case hex), percent 100, PASS. A stop request at startup ends it before
 * the last pattern: DISCONTINUED, no percent. mlockall refused: warning 101
 * only, PRIVILEGEERROR, exit 4. */
TEST(CpuCacheEndToEnd, SoundRunAndStopRequest)
{
    PeersRun r;
    std::string sSkip, sRun = RunCache(ZOLT_BIN, {}, {}, &r, &sSkip);
    if (!sSkip.empty())
        GTEST_SKIP() << sSkip;
    ASSERT_FALSE(sRun.empty()) << r.sAll;
    EXPECT_EQ(Str(sRun, "result"), "PASS") << sRun;
    EXPECT_EQ(r.iExit, 0);
    EXPECT_EQ(Percents(sRun), "100");
    std::vector<Event> vEvents = Events(sRun);
    ASSERT_EQ(vEvents.size(), 19u) << sRun;
    EXPECT_EQ(Var(vEvents[0].sText, "id"), "szProgressCacheAllocMem");
    /* each pattern's message and value: the unit tests' part; here the last one */
    EXPECT_EQ(Var(vEvents[18].sText, "id") + " " + Var(vEvents[18].sText, "thispattern"),
              "szProgressCachePattern 88888888");

    sRun = RunCache(ZOLT_BIN, { "--stop-at-startup" }, {}, &r, &sSkip);
    ASSERT_FALSE(sRun.empty()) << r.sAll << sSkip;
    EXPECT_EQ(Str(sRun, "result"), "DISCONTINUED") << sRun;
    EXPECT_EQ(Percents(sRun), "");
    EXPECT_LT(Events(sRun).size(), 19u) << sRun;
    EXPECT_EQ(TypesAndCodes(sRun).find("ERROR"), std::string::npos) << sRun;

    if (ZOLT_SANITIZED) /* the sanitizer's mlockall stands in for the C library's */
        GTEST_SKIP() << "the sanitizer's own mlockall never fails, so the refusing preload "
                        "cannot reach the module's call";
    sRun = RunCache(ZOLT_BIN, {}, { "LD_PRELOAD=" ZOLT_MLOCK_REFUSE_PRELOAD }, &r, &sSkip);
    ASSERT_FALSE(sRun.empty()) << r.sAll << sSkip;
    EXPECT_EQ(Str(sRun, "result"), "PRIVILEGEERROR") << sRun;
    EXPECT_EQ(TypesAndCodes(sRun), "WARN 101|") << sRun;
    EXPECT_EQ(r.iExit, 4);
}

/* The fault build with error limit 3: three wrong words (first word of the
 * first pattern's first block, a middle word of pattern 9, the last word of
 * the last pattern's last block) give exactly three errors 103 and every
 * pattern; a wrong word in every block stops at the third error. */
TEST(CpuCacheEndToEnd, WrongWordsUpToTheErrorLimit)
{
    auto Infos = [](int n) {
        std::string s;
        while (n-- > 0)
            s += "INFO|";
        return s;
    };
    const std::string sError = "ERROR 103|";
    const struct {
        const char *szFault;
        std::string sEvents; /* each error right after the message of its pattern */
    } cases[] = {
        { "3:1:1:0:1;3:9:1:20:0x100:1000;3:18:1:8:0x80000000:64508",
          Infos(2) + sError + Infos(8) + sError + Infos(9) + sError },
        { "3:2:1:*:1", Infos(3) + sError + sError + sError },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szFault);
        PeersRun r;
        std::string sSkip, sRun = RunCache(ZOLT_FAULT_BIN, { "--errlimit", "3" },
                                           { std::string("ZOLT_FAULT=") + c.szFault }, &r, &sSkip);
        if (!sSkip.empty())
            GTEST_SKIP() << sSkip;
        ASSERT_FALSE(sRun.empty()) << r.sAll;
        EXPECT_EQ(Str(sRun, "result"), "FAIL") << sRun;
        EXPECT_EQ(r.iExit, 1);
        EXPECT_EQ(Percents(sRun), "100");
        EXPECT_EQ(TypesAndCodes(sRun), c.sEvents) << sRun;
    }
}

}  // namespace
