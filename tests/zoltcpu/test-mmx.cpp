/* Tests of test 2 (MMX unit): a sound run (all fifteen case tables and the
 * move tests pass on this unit), the presence check, and every test routine's
 * fault path through the fault seam: error 10 with the routine's instruction
 * name and the case's bit as "errno", the other routines and groups still
 * running. */
#include "zoltcpu/cpu-test-events.h"

#include "mmx-asm.h"
#include "test-mmx.h"

namespace {

class MmxTests : public CpuTestFixture {
protected:
    void SetUp() override
    {
        CpuTestFixture::SetUp();
        if (MMXExists() == 0)
            GTEST_SKIP() << "this processor has no MMX";
    }
};

TEST_F(MmxTests, SoundRunSendsInfosAndPercentStepsOnly)
{
    EXPECT_EQ(do_MMX(nullptr), nullptr);
    EXPECT_EQ(g_iTestResult, 0);
    EXPECT_TRUE(EventsOfType("ERROR").empty());
    EXPECT_EQ(PercentValues(), (std::vector<int>{20, 40, 60, 80, 100}));
    std::vector<CapturedEvent> infos = EventsOfType("INFO");
    ASSERT_EQ(infos.size(), 5u);
    const char *aszTags[5] = {"szInfoMMXArithmatics", "szInfoMMXLogical", "szInfoMMXShift",
                              "szInfoMMXMove", "szInfoMMXMisc"};
    for (int i = 0; i < 5; i++)
        EXPECT_EQ(TokenId(infos[i].sText), aszTags[i]);
}

TEST_F(MmxTests, RunRecordWithoutPrintFlagSendsNoInfoAndSignalsEnd)
{
    TestThreadArgs args = {};
    g_TestCond.iSignaled = 0;
    EXPECT_EQ(do_MMX(&args), &args);
    EXPECT_TRUE(EventsOfType("INFO").empty());
    EXPECT_EQ(PercentValues(), (std::vector<int>{20, 40, 60, 80, 100}));
    EXPECT_EQ(g_TestCond.iSignaled, 1);
    g_TestCond.iSignaled = 0;
}

TEST_F(MmxTests, PresenceMatchesTheKernelsFlag)
{
    FILE *pFile = fopen("/proc/cpuinfo", "r");
    if (pFile == nullptr)
        GTEST_SKIP() << "no /proc/cpuinfo";
    char szLine[8192];
    bool bFlag = false;
    while (fgets(szLine, sizeof szLine, pFile) != nullptr) {
        if (strncmp(szLine, "flags", 5) == 0) {
            bFlag = strstr(szLine, " mmx ") != nullptr;
            break;
        }
    }
    fclose(pFile);
    EXPECT_EQ(MMXExists(), bFlag ? 1 : 0);
}

TEST_F(MmxTests, WithoutMmxWarnsNotApplicableAndRunsNoGroup)
{
    Inject(2, MMX_ROUTINE_PRESENCE, 0, 0x1);
    TestThreadArgs args = {};
    args.bPrintMessages = 1;
    g_TestCond.iSignaled = 0;
    do_MMX(&args);
    EXPECT_EQ(g_iTestResult, 5);
    std::vector<CapturedEvent> events = CapturedEvents();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].sType, "WARN");
    EXPECT_EQ(events[0].iCode, 9);
    EXPECT_EQ(TokenId(events[0].sText), "szWarnNotApplicable10_9");
    EXPECT_EQ(g_TestCond.iSignaled, 1);
    g_TestCond.iSignaled = 0;
}

struct MmxFaultCase {
    unsigned uRoutine;
    unsigned uCheck;      /* the case's bit (0x01 for the move tests) */
    bool bAllCases;
    unsigned uCase;       /* case index, or the move tests' counter / lane value */
    unsigned uOffset;     /* byte offset into the result area */
    const char *szInstruction;
    int iErrno;           /* 0: no error expected */
};

void PrintTo(const MmxFaultCase &c, std::ostream *pOs)
{
    *pOs << "routine " << c.uRoutine << " check " << c.uCheck << " case " << c.uCase
         << " offset " << c.uOffset << " -> " << c.szInstruction << " " << c.iErrno;
}

/* One fault per test routine, in its last case (bit as in the tables), in a
 * destination word; plus the edges below. */
const MmxFaultCase s_aMmxFaults[] = {
    {MMX_ROUTINE_PADD, 0x1, true, 0, 0, "PADD", 0x1},
    {MMX_ROUTINE_PADD, 0x800, true, 0, 0, "PADD", 0x800},
    {MMX_ROUTINE_PSUB, 0x4000, true, 0, 16, "PSUB", 0x4000},
    {MMX_ROUTINE_PMUL, 0x800, true, 0, 32, "PMUL", 0x800},
    {MMX_ROUTINE_PMADD, 0x200, true, 0, 48, "PMADD", 0x200},
    {MMX_ROUTINE_PAND, 0x20, true, 0, 0, "PAND", 0x20},
    {MMX_ROUTINE_PANDN, 0x20, true, 0, 0, "PANDN", 0x20},
    {MMX_ROUTINE_POR, 0x80, true, 0, 0, "POR", 0x80},
    {MMX_ROUTINE_PXOR, 0x80, true, 0, 0, "PXOR", 0x80},
    {MMX_ROUTINE_PSLL, 0x800, true, 0, 0, "PSLL", 0x800},
    {MMX_ROUTINE_PSRL, 0x800, true, 0, 0, "PSLR", 0x800},
    {MMX_ROUTINE_PCMPEQ, 0x20, true, 0, 0, "PCMPEQ", 0x20},
    {MMX_ROUTINE_PCMPGT, 0x100, true, 0, 0, "PCMPGT", 0x100},
    {MMX_ROUTINE_PACKSS, 0x200, true, 0, 0, "PACKSS", 0x200},
    {MMX_ROUTINE_PACKUS, 0x10, true, 0, 0, "PACKUS", 0x10},
    {MMX_ROUTINE_PUNPCK, 0x80, true, 0, 0, "PUNPCK", 0x80},
    /* a case's bit is its own, not its row: PMADD row 2 has bit 0x8 */
    {MMX_ROUTINE_PMADD, 0x8, true, 0, 0, "PMADD", 0x8},
    /* source registers (odd words) and high halves are not compared */
    {MMX_ROUTINE_PADD, 0x1, true, 0, 8, "", 0},
    {MMX_ROUTINE_PADD, 0x1, true, 0, 4, "", 0},
    /* MOVD: all eight low halves compared; the counter at the mismatch */
    {MMX_ROUTINE_MOVD, 0x01, false, 0x1234, 24, "MOVD", 0x1234},
    {MMX_ROUTINE_MOVD, 0x01, false, 0xFFFF, 56, "MOVD", 0xFFFF},
    {MMX_ROUTINE_MOVD, 0x01, false, 1, 0, "MOVD", 1},
    {MMX_ROUTINE_MOVD, 0x01, false, 7, 60, "", 0},
    /* MOVQ: all 64 bits of MM7 compared; the lane value at the mismatch */
    {MMX_ROUTINE_MOVQ, 0x01, false, 0x00FF, 56, "MOVQ", 0x00FF},
    {MMX_ROUTINE_MOVQ, 0x01, false, 0x8001, 60, "MOVQ", 0x8001},
    {MMX_ROUTINE_MOVQ, 0x01, false, 0x0100, 0, "", 0},
};

class MmxFaults : public MmxTests, public ::testing::WithParamInterface<MmxFaultCase> {};

TEST_P(MmxFaults, ReportsTheRoutineAndItsMask)
{
    const MmxFaultCase &c = GetParam();
    InjectedFaults().push_back({2, c.uRoutine, c.uCheck, c.uCase, c.bAllCases, 0x1, c.uOffset});

    do_MMX(nullptr);

    std::vector<CapturedEvent> errors = EventsOfType("ERROR");
    if (c.iErrno == 0) {
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(g_iTestResult, 0);
    } else {
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].iCode, 10);
        EXPECT_EQ(TokenId(errors[0].sText), "szErrorMMX10_10");
        EXPECT_EQ(TokenVariable(errors[0].sText, "instruction"), c.szInstruction);
        EXPECT_EQ(TokenVariable(errors[0].sText, "errno"), std::to_string(c.iErrno));
        EXPECT_EQ(g_iTestResult, 2);
    }
    EXPECT_EQ(PercentValues(), (std::vector<int>{20, 40, 60, 80, 100}));
    EXPECT_EQ(EventsOfType("INFO").size(), 5u);
}

INSTANTIATE_TEST_SUITE_P(EveryRoutine, MmxFaults, ::testing::ValuesIn(s_aMmxFaults),
                         [](const ::testing::TestParamInfo<MmxFaultCase> &info) {
                             return "case" + std::to_string(info.index);
                         });

/* Faults in two routines of one group and one of another: one event each,
 * in running order, the group's next routine still runs. */
TEST_F(MmxTests, FaultsInSeveralRoutinesGiveOneEventEach)
{
    InjectedFaults().push_back({2, MMX_ROUTINE_PADD, 0x2, 0, true, 0x1, 0});
    InjectedFaults().push_back({2, MMX_ROUTINE_PADD, 0x8, 0, true, 0x1, 0});
    InjectedFaults().push_back({2, MMX_ROUTINE_PMUL, 0x1, 0, true, 0x1, 0});
    InjectedFaults().push_back({2, MMX_ROUTINE_PUNPCK, 0x1, 0, true, 0x1, 0});
    do_MMX(nullptr);
    std::vector<CapturedEvent> errors = EventsOfType("ERROR");
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(TokenVariable(errors[0].sText, "instruction"), "PADD");
    EXPECT_EQ(TokenVariable(errors[0].sText, "errno"), "10");
    EXPECT_EQ(TokenVariable(errors[1].sText, "instruction"), "PMUL");
    EXPECT_EQ(TokenVariable(errors[2].sText, "instruction"), "PUNPCK");
}

/* The x87 unit is usable after the MMX test (every routine ends with EMMS). */
TEST_F(MmxTests, FloatingPointWorksAfterwards)
{
    do_MMX(nullptr);
    volatile double fA = 1.5, fB = 2.25;
    EXPECT_EQ(fA * fB, 3.375);
    long double lfA = fA;
    EXPECT_EQ((double)(lfA + 1), 2.5);
}

}  // namespace
