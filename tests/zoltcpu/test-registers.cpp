/* Tests of test 0 (integer unit): a sound run's events, the informative
 * switch and end-of-run signal, and every fault path through the fault seam:
 * the exact mask bit, error number, tag and event order, with the later
 * sub-tests still running. */
#include "zoltcpu/cpu-test-events.h"

#include <sys/syscall.h>
#include <unistd.h>

#include "test-registers.h"

namespace {

class RegisterTests : public CpuTestFixture {};

TEST_F(RegisterTests, SoundRunSendsInfosAndPercentStepsOnly)
{
    EXPECT_EQ(do_registertests(nullptr), nullptr);
    EXPECT_EQ(g_iTestResult, 0);
    EXPECT_TRUE(EventsOfType("ERROR").empty());
    EXPECT_EQ(PercentValues(), (std::vector<int>{25, 50, 75, 100}));
    std::vector<CapturedEvent> infos = EventsOfType("INFO");
    ASSERT_EQ(infos.size(), 4u);
    const char *aszTags[4] = {"szInfo1", "szInfo2", "szInfo3", "szInfo4"};
    for (int i = 0; i < 4; i++) {
        EXPECT_EQ(TokenId(infos[i].sText), aszTags[i]);
        EXPECT_EQ(infos[i].iCode, -1);
    }
}

TEST_F(RegisterTests, RunRecordWithoutPrintFlagSendsNoInfoAndSignalsEnd)
{
    TestThreadArgs args = {};
    args.bPrintMessages = 0;
    g_TestCond.iSignaled = 0;
    EXPECT_EQ(do_registertests(&args), &args);
    EXPECT_TRUE(EventsOfType("INFO").empty());
    EXPECT_EQ(PercentValues(), (std::vector<int>{25, 50, 75, 100}));
    EXPECT_EQ(g_TestCond.iSignaled, 1);
    g_TestCond.iSignaled = 0;
}

struct RegFaultCase {
    const char *szName;
    unsigned uSubTest;
    std::vector<std::pair<unsigned, uint64_t>> faults;  /* (check bit, XOR) */
    unsigned uOffset;      /* byte offset of the XOR in the observed value */
    int iError;            /* 0: no error expected */
    const char *szTag;
    int iErrno;
};

void PrintTo(const RegFaultCase &c, std::ostream *pOs)
{
    *pOs << c.szName << " (sub-test " << c.uSubTest << ", errno " << c.iErrno << ")";
}

/* Flags seen by LAHF: bit 0 CF, bit 6 ZF. */
const RegFaultCase s_aRegFaults[] = {
    {"EAX", 1, {{0x01, 0x1}}, 0, 1, "szErrorReg", 0x01},
    {"EBX", 1, {{0x02, 0x80000000}}, 0, 1, "szErrorReg", 0x02},
    {"ECX alone is not a fault (EDI still equals EDX)", 1, {{0x04, 0x10}}, 0, 0, "", 0},
    {"ECX with EBX", 1, {{0x02, 0x1}, {0x04, 0x10}}, 0, 1, "szErrorReg", 0x06},
    {"EDX", 1, {{0x08, 0xFFFFFFFF}}, 0, 1, "szErrorReg", 0x08},
    {"ESI", 1, {{0x10, 0x100}}, 0, 1, "szErrorReg", 0x10},
    {"EDI", 1, {{0x20, 0x4}}, 0, 1, "szErrorReg", 0x20},
    {"add", 2, {{0x01, 0x1}}, 0, 2, "szErrorArithmetics", 0x01},
    {"sub", 2, {{0x02, 0x1}}, 0, 2, "szErrorArithmetics", 0x02},
    {"div", 2, {{0x04, 0x1}}, 0, 2, "szErrorArithmetics", 0x04},
    {"mul", 2, {{0x08, 0x10000}}, 0, 2, "szErrorArithmetics", 0x08},
    {"add and mul together", 2, {{0x01, 0x1}, {0x08, 0x2}}, 0, 2, "szErrorArithmetics", 0x09},
    {"first copied word", 3, {{0x01, 0x1}}, 0, 3, "szErrorStrings", 0x01},
    {"last copied word", 3, {{0x01, 0x80000000}}, 17 * 4, 3, "szErrorStrings", 0x01},
    {"JE", 4, {{0x01, 0x40}}, 0, 4, "szErrorLogicals", 0x01},
    {"JAE", 4, {{0x02, 0x01}}, 0, 4, "szErrorLogicals", 0x02},
    {"JBE", 4, {{0x04, 0x01}}, 0, 4, "szErrorLogicals", 0x04},
    {"JNZ", 4, {{0x08, 0x40}}, 0, 4, "szErrorLogicals", 0x08},
    {"JAE ignores ZF", 4, {{0x02, 0x40}}, 0, 0, "", 0},
};

class RegisterFaults : public CpuTestFixture,
                       public ::testing::WithParamInterface<RegFaultCase> {};

TEST_P(RegisterFaults, ReportsExactlyTheInjectedMask)
{
    const RegFaultCase &c = GetParam();
    for (const auto &f : c.faults)
        Inject(0, c.uSubTest, f.first, f.second, c.uOffset);

    do_registertests(nullptr);

    std::vector<CapturedEvent> errors = EventsOfType("ERROR");
    if (c.iError == 0) {
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(g_iTestResult, 0);
    } else {
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].iCode, c.iError);
        EXPECT_EQ(TokenId(errors[0].sText), c.szTag);
        EXPECT_EQ(TokenVariable(errors[0].sText, "errno"), std::to_string(c.iErrno));
        EXPECT_EQ(g_iTestResult, 2);
    }
    /* the other sub-tests still ran and reported */
    EXPECT_EQ(PercentValues(), (std::vector<int>{25, 50, 75, 100}));
    EXPECT_EQ(EventsOfType("INFO").size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(EveryCheck, RegisterFaults, ::testing::ValuesIn(s_aRegFaults),
                         [](const ::testing::TestParamInfo<RegFaultCase> &info) {
                             return "case" + std::to_string(info.index);
                         });

TEST_F(RegisterTests, RegisterFaultOnOnePatternStillFailsAndErrorPrecedesItsPercent)
{
    InjectCase(0, 1, 0x10, 13, 0x1);   /* only pattern 13 (0x01010101) */
    do_registertests(nullptr);
    std::vector<CapturedEvent> events = CapturedEvents();
    std::vector<std::string> types;
    for (const CapturedEvent &ev : events)
        types.push_back(ev.sType);
    EXPECT_EQ(types, (std::vector<std::string>{"INFO", "ERROR", "PERCENTDONE", "INFO",
                                               "PERCENTDONE", "INFO", "PERCENTDONE", "INFO",
                                               "PERCENTDONE"}));
    EXPECT_EQ(TokenVariable(EventsOfType("ERROR")[0].sText, "errno"), "16");
}

TEST_F(RegisterTests, ArithmeticFaultInTwoRowsGivesOneBitAndOneEvent)
{
    InjectCase(0, 2, 0x04, 0, 0x1);
    InjectCase(0, 2, 0x04, 2, 0x1);
    do_registertests(nullptr);
    std::vector<CapturedEvent> errors = EventsOfType("ERROR");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(TokenVariable(errors[0].sText, "errno"), "4");
}

TEST_F(RegisterTests, FaultsInTwoSubTestsGiveTwoEventsInOrder)
{
    Inject(0, 1, 0x01, 0x1);
    Inject(0, 4, 0x08, 0x40);
    do_registertests(nullptr);
    std::vector<CapturedEvent> errors = EventsOfType("ERROR");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].iCode, 1);
    EXPECT_EQ(errors[1].iCode, 4);
    EXPECT_EQ(TokenVariable(errors[1].sText, "errno"), "8");
}

/* In a pinned run errors and percent values wait in the queue (only the
 * informative messages go out at once) and replay in their order. */
TEST_F(RegisterTests, PinnedRunQueuesErrorsAndPercentsForReplay)
{
    g_DeferErrors = 1;
    Inject(0, 3, 0x01, 0x1);
    TestThreadArgs args = {};
    args.bPrintMessages = 1;
    do_registertests(&args);
    EXPECT_EQ(CapturedEvents().size(), 4u);
    EXPECT_EQ(EventsOfType("INFO").size(), 4u);
    EXPECT_EQ(g_iTestResult, 2);

    CapturedMessages().clear();
    ProcessMessages((unsigned)syscall(SYS_gettid));
    std::vector<CapturedEvent> events = CapturedEvents();
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[2].sType, "ERROR");
    EXPECT_EQ(events[2].iCode, 3);
    EXPECT_EQ(PercentValues(), (std::vector<int>{25, 50, 75, 100}));
    g_DeferErrors = 0;
    g_TestCond.iSignaled = 0;
}

}  // namespace
