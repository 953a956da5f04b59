/* Tests of test 1 (x87 unit): a sound run (which also proves the expected
 * words 5, 1, 3, 1, 8, 97, -1, 0, 2450, 24142, 140 on this unit), the
 * control word after initialisation, and every fault path through the fault
 * seam: exact mask bit, error number, tag, with the later sub-tests running. */
#include "zoltcpu/cpu-test-events.h"

#include "fpu-asm.h"
#include "test-fpu.h"

namespace {

class FpuTests : public CpuTestFixture {};

TEST_F(FpuTests, SoundRunSendsInfosAndPercentStepsOnly)
{
    EXPECT_EQ(do_mathregistertests(nullptr), nullptr);
    EXPECT_EQ(g_iTestResult, 0);
    EXPECT_TRUE(EventsOfType("ERROR").empty());
    EXPECT_EQ(PercentValues(), (std::vector<int>{25, 50, 75, 100}));
    std::vector<CapturedEvent> infos = EventsOfType("INFO");
    ASSERT_EQ(infos.size(), 4u);
    const char *aszTags[4] = {"szInfo5", "szInfo6", "szInfo7", "szInfo8"};
    for (int i = 0; i < 4; i++)
        EXPECT_EQ(TokenId(infos[i].sText), aszTags[i]);
}

TEST_F(FpuTests, RunRecordWithoutPrintFlagSendsNoInfoAndSignalsEnd)
{
    TestThreadArgs args = {};
    g_TestCond.iSignaled = 0;
    EXPECT_EQ(do_mathregistertests(&args), &args);
    EXPECT_TRUE(EventsOfType("INFO").empty());
    EXPECT_EQ(g_TestCond.iSignaled, 1);
    g_TestCond.iSignaled = 0;
}

/* The unit is left masked, 64-bit precision, round to nearest, no flags;
 * the stack-underflow word of FISTP from a freed register is the integer
 * indefinite. */
TEST_F(FpuTests, InitialisationAndUnderflowResponse)
{
    uint32_t uCw = 0, uSw = 0xFFFF, uWord = 0;
    init_cocpu_and_no_exceptions();
    FpuStoreCw(&uCw);
    EXPECT_EQ(uCw, 0x037Fu);
    init_cocpu_and_no_exceptions();
    FpuStoreSw(&uSw);
    EXPECT_EQ(uSw, 0u);
    init_cocpu_and_no_exceptions();
    FpuCmdFfree(&uWord, &uSw);
    EXPECT_EQ(uWord, 0x8000u);
    EXPECT_EQ(uSw & 0x41u, 0x41u);   /* invalid operation with stack fault */
    init_cocpu_and_no_exceptions();  /* hand a clean unit back */
}

struct FpuFaultCase {
    unsigned uSubTest;
    std::vector<std::pair<unsigned, uint64_t>> faults;  /* (check bit, XOR) */
    int iError;
    const char *szTag;
    int iErrno;
};

void PrintTo(const FpuFaultCase &c, std::ostream *pOs)
{
    *pOs << "sub-test " << c.uSubTest << ", error " << c.iError << ", errno " << c.iErrno;
}

const FpuFaultCase s_aFpuFaults[] = {
    {1, {{0x01, 0x01}}, 5, "szErrorMathReg", 0x01},
    {2, {{0x0001, 0x0001}}, 6, "szErrorMathCommands", 0x0001},  /* FCLEX left IE */
    {2, {{0x0002, 0x0800}}, 6, "szErrorMathCommands", 0x0002},  /* TOP off by one */
    {2, {{0x0004, 0x0001}}, 6, "szErrorMathCommands", 0x0004},  /* no IE on underflow */
    {2, {{0x0008, 0x1000}}, 6, "szErrorMathCommands", 0x0008},
    {2, {{0x0010, 0x0080}}, 6, "szErrorMathCommands", 0x0010},  /* FINIT left bit 7 */
    {2, {{0x0080, 0x4000}}, 6, "szErrorMathCommands", 0x0080},  /* FNOP changed C3 */
    {2, {{0x0400, 0x0001}}, 6, "szErrorMathCommands", 0x0400},
    {2, {{0x1000, 0x0020}}, 6, "szErrorMathCommands", 0x1000},
    {2, {{0x2000, 0x0001}}, 6, "szErrorMathCommands", 0x2000},
    {2, {{0x0001, 0x0001}, {0x2000, 0x0003}}, 6, "szErrorMathCommands", 0x2001},
    {3, {{0x01, 0x1}}, 7, "szErrorMathArithmetics", 0x01},
    {3, {{0x02, 0x1}}, 7, "szErrorMathArithmetics", 0x02},
    {3, {{0x04, 0x1}}, 7, "szErrorMathArithmetics", 0x04},
    {3, {{0x08, 0x1}}, 7, "szErrorMathArithmetics", 0x08},
    {3, {{0x20, 0x1}}, 7, "szErrorMathArithmetics", 0x20},
    {3, {{0x40, 0x1}}, 7, "szErrorMathArithmetics", 0x40},
    {3, {{0x80, 0x1}}, 7, "szErrorMathArithmetics", 0x80},
    {4, {{0x01, 0x1}}, 8, "szErrorMathTrans", 0x01},
    {4, {{0x02, 0x1}}, 8, "szErrorMathTrans", 0x02},
    {4, {{0x04, 0x1}}, 8, "szErrorMathTrans", 0x04},
    {4, {{0x08, 0x1}}, 8, "szErrorMathTrans", 0x08},
};

class FpuFaults : public CpuTestFixture, public ::testing::WithParamInterface<FpuFaultCase> {};

TEST_P(FpuFaults, ReportsExactlyTheInjectedMask)
{
    const FpuFaultCase &c = GetParam();
    for (const auto &f : c.faults)
        Inject(1, c.uSubTest, f.first, f.second);

    do_mathregistertests(nullptr);

    std::vector<CapturedEvent> errors = EventsOfType("ERROR");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].iCode, c.iError);
    EXPECT_EQ(TokenId(errors[0].sText), c.szTag);
    EXPECT_EQ(TokenVariable(errors[0].sText, "errno"), std::to_string(c.iErrno));
    EXPECT_EQ(g_iTestResult, 2);
    EXPECT_EQ(PercentValues(), (std::vector<int>{25, 50, 75, 100}));
    EXPECT_EQ(EventsOfType("INFO").size(), 4u);
}

INSTANTIATE_TEST_SUITE_P(EveryCheck, FpuFaults, ::testing::ValuesIn(s_aFpuFaults),
                         [](const ::testing::TestParamInfo<FpuFaultCase> &info) {
                             return "case" + std::to_string(info.index);
                         });

/* A byte lost in one of the ten values, at the last byte the overlapping
 * stores write: one bit, one event. */
TEST_F(FpuTests, RegisterByteFaultInOneValue)
{
    InjectCase(1, 1, 0x01, 9, 0x10, 8);
    do_mathregistertests(nullptr);
    std::vector<CapturedEvent> errors = EventsOfType("ERROR");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(TokenVariable(errors[0].sText, "errno"), "1");
}

/* Bytes beyond the nine the stores write are not compared. */
TEST_F(FpuTests, RegisterBytesBeyondTheStoresAreNotCompared)
{
    Inject(1, 1, 0x01, 0xFF, 9);
    do_mathregistertests(nullptr);
    EXPECT_TRUE(EventsOfType("ERROR").empty());
    EXPECT_EQ(g_iTestResult, 0);
}

}  // namespace
