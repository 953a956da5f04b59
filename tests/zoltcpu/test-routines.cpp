/* Tests of the routines of tests 0 (integer unit), 1 (x87 unit) and 2 (MMX
 * unit): sound runs, runs in a pinned run's thread, the MMX presence check,
 * and every fault path through the fault seam, each giving exactly its error
 * event while the other sub-tests still run and report. */
#include "zoltcpu/cpu-test-events.h"

#include <sys/syscall.h>
#include <unistd.h>

#include "test-fpu.h"
#include "test-mmx.h"
#include "test-registers.h"
#include "x87-emulator.h"

namespace {

struct Routine {
    PFN_CPUTEST pfn;
    std::vector<std::string> infos;   /* one per sub-test or group, in order */
};
const Routine kRoutines[3] = {
    {do_registertests, {"szInfo1", "szInfo2", "szInfo3", "szInfo4"}},
    {do_mathregistertests, {"szInfo5", "szInfo6", "szInfo7", "szInfo8"}},
    {do_MMX, {"szInfoMMXArithmatics", "szInfoMMXLogical", "szInfoMMXShift", "szInfoMMXMove",
              "szInfoMMXMisc"}},
};
const char *const kErrorTags[11] = {"", "szErrorReg", "szErrorArithmetics", "szErrorStrings",
                                    "szErrorLogicals", "szErrorMathReg", "szErrorMathCommands",
                                    "szErrorMathArithmetics", "szErrorMathTrans", "",
                                    "szErrorMMX10_10"};

/* The sub-test (tests 0, 1) or MMX group (test 2) that runs uSubTest. */
int GroupOf(unsigned uTest, unsigned uSubTest)
{
    if (uTest < 2)
        return (int)uSubTest - 1;
    return uSubTest <= 4 ? 0 : uSubTest <= 8 ? 1 : uSubTest <= 10 ? 2 : uSubTest <= 12 ? 3 : 4;
}

/* The events a run of test uTest sends, with error iError (0: none) in group
 * iGroup: "INFO id", "ERROR code tag", "PERCENTDONE n". */
std::vector<std::string> Expected(unsigned uTest, int iGroup, int iError, bool bInfos = true)
{
    std::vector<std::string> v;
    const std::vector<std::string> &infos = kRoutines[uTest].infos;
    for (size_t g = 0; g < infos.size(); g++) {
        if (bInfos)
            v.push_back("INFO " + infos[g]);
        if (iError != 0 && (int)g == iGroup)
            v.push_back("ERROR " + std::to_string(iError) + " " + kErrorTags[iError]);
        v.push_back("PERCENTDONE " + std::to_string(100 * (g + 1) / infos.size()));
    }
    return v;
}

class CpuRoutines : public CpuTestFixture {};

TEST_F(CpuRoutines, SoundRunsSendInfosAndPercentStepsOnly)
{
    const std::string sX87Skip = zolttest::X87EmulatorSkipReason();
    for (unsigned uTest = 0; uTest < 3; uTest++) {
        SCOPED_TRACE(uTest);
        if ((uTest == 2 && MMXExists() == 0) || (uTest == 1 && !sX87Skip.empty()))
            continue;
        Fresh();
        EXPECT_EQ(kRoutines[uTest].pfn(nullptr), nullptr);
        EXPECT_EQ(g_iTestResult, 0);
        EXPECT_EQ(Seen(), Expected(uTest, -1, 0));
    }
    if (!sX87Skip.empty())
        GTEST_SKIP() << "test 1 not run: " << sX87Skip;
}

/* In a pinned run's thread: no informative message unless asked, errors and
 * percent values queued for the replay in their order, the end signalled. */
TEST_F(CpuRoutines, PinnedRunsQueueTheirEventsAndSignalTheEnd)
{
    const int aiError[3] = {1, 5, 10};
    const std::string sX87Skip = zolttest::X87EmulatorSkipReason();
    for (unsigned uTest = 0; uTest < 3; uTest++) {
        SCOPED_TRACE(uTest);
        if ((uTest == 2 && MMXExists() == 0) || (uTest == 1 && !sX87Skip.empty()))
            continue;
        Fresh();
        g_faults = {{uTest, 1, 0x01, -1, 0x1, 0}};
        g_DeferErrors = 1;
        TestThreadArgs args = {};
        EXPECT_EQ(kRoutines[uTest].pfn(&args), &args);
        EXPECT_TRUE(g_events.empty());
        EXPECT_EQ(g_TestCond.iSignaled, 1);
        EXPECT_EQ(g_iTestResult, 2);
        ProcessMessages((unsigned)syscall(SYS_gettid));
        EXPECT_EQ(Seen(), Expected(uTest, 0, aiError[uTest], false));
    }
    if (!sX87Skip.empty())
        GTEST_SKIP() << "test 1 not run: " << sX87Skip;
}

TEST_F(CpuRoutines, WithoutMmxWarnsNotApplicableAndRunsNoGroup)
{
    g_faults = {{2, MMX_ROUTINE_PRESENCE, 0, -1, 0x1, 0}};
    TestThreadArgs args = {};
    args.bPrintMessages = 1;
    do_MMX(&args);
    EXPECT_EQ(g_iTestResult, 5);
    EXPECT_EQ(Seen(), std::vector<std::string>{"WARN 9 szWarnNotApplicable10_9"});
    EXPECT_EQ(g_TestCond.iSignaled, 1);
}

/* Each routine ends with EMMS: the x87 unit works afterwards. */
TEST_F(CpuRoutines, FloatingPointWorksAfterTheMmxTest)
{
    if (MMXExists() == 0)
        GTEST_SKIP() << "this processor has no MMX";
    do_MMX(nullptr);
    volatile long double lfA = 1.5;
    EXPECT_EQ((double)(lfA * 2.25L), 3.375);
}

/* XOR uXor at uOffset into the observed value of every check bit in uChecks
 * (case iCase, -1 every case); expect error iError (0: none) with "errno"
 * iErrno and, for MMX, the instruction name. */
struct FaultCase {
    unsigned uTest, uSubTest, uChecks;
    int iCase;
    unsigned uOffset;
    uint64_t uXor;
    int iError, iErrno;
    const char *szInstruction;
};

const FaultCase kFaults[] = {
    /* test 0; sub-test 1 registers: EAX EBX ECX EDX ESI EDI */
    {0, 1, 0x01, -1, 0, 0x1, 1, 0x01, ""},
    {0, 1, 0x02, -1, 0, 0x80000000, 1, 0x02, ""},
    {0, 1, 0x04, -1, 0, 0x10, 0, 0, ""},            /* ECX alone: EDI still equals EDX */
    {0, 1, 0x06, -1, 0, 0x1, 1, 0x06, ""},          /* ECX with EBX */
    {0, 1, 0x08, -1, 0, 0xFFFFFFFF, 1, 0x08, ""},
    {0, 1, 0x10, 13, 0, 0x1, 1, 0x10, ""},          /* pattern 13 only */
    {0, 1, 0x20, -1, 0, 0x4, 1, 0x20, ""},
    /* sub-test 2 add sub div mul; 3 the copied table; 4 JE JAE JBE JNZ (LAHF: CF 1, ZF 0x40) */
    {0, 2, 0x01, -1, 0, 0x1, 2, 0x01, ""},
    {0, 2, 0x02, -1, 0, 0x1, 2, 0x02, ""},
    {0, 2, 0x04, 2, 0, 0x1, 2, 0x04, ""},           /* last row only */
    {0, 2, 0x08, -1, 0, 0x10000, 2, 0x08, ""},
    {0, 2, 0x09, -1, 0, 0x1, 2, 0x09, ""},
    {0, 3, 0x01, -1, 0, 0x1, 3, 0x01, ""},
    {0, 3, 0x01, -1, 17 * 4, 0x80000000, 3, 0x01, ""},
    {0, 4, 0x01, -1, 0, 0x40, 4, 0x01, ""},
    {0, 4, 0x02, -1, 0, 0x01, 4, 0x02, ""},
    {0, 4, 0x04, -1, 0, 0x01, 4, 0x04, ""},
    {0, 4, 0x08, -1, 0, 0x40, 4, 0x08, ""},
    {0, 4, 0x02, -1, 0, 0x40, 0, 0, ""},            /* JAE ignores ZF */
    /* test 1; sub-test 1 the ten values (nine bytes stored each) */
    {1, 1, 0x01, -1, 0, 0x01, 5, 0x01, ""},
    {1, 1, 0x01, 9, 8, 0x10, 5, 0x01, ""},
    {1, 1, 0x01, -1, 9, 0xFF, 0, 0, ""},
    /* sub-test 2 status and control words */
    {1, 2, 0x0001, -1, 0, 0x0001, 6, 0x0001, ""},   /* FCLEX left IE */
    {1, 2, 0x0002, -1, 0, 0x0800, 6, 0x0002, ""},   /* TOP off by one */
    {1, 2, 0x0004, -1, 0, 0x0001, 6, 0x0004, ""},   /* no IE on underflow */
    {1, 2, 0x0008, -1, 0, 0x1000, 6, 0x0008, ""},
    {1, 2, 0x0010, -1, 0, 0x0080, 6, 0x0010, ""},
    {1, 2, 0x0080, -1, 0, 0x4000, 6, 0x0080, ""},   /* FNOP changed C3 */
    {1, 2, 0x0400, -1, 0, 0x0001, 6, 0x0400, ""},
    {1, 2, 0x1000, -1, 0, 0x0020, 6, 0x1000, ""},
    {1, 2, 0x2000, -1, 0, 0x0001, 6, 0x2000, ""},
    {1, 2, 0x2001, -1, 0, 0x0001, 6, 0x2001, ""},
    /* sub-test 3 arithmetic (FIMUL not compared); 4 transcendental */
    {1, 3, 0x01, -1, 0, 0x1, 7, 0x01, ""},
    {1, 3, 0x02, -1, 0, 0x1, 7, 0x02, ""},
    {1, 3, 0x04, -1, 0, 0x1, 7, 0x04, ""},
    {1, 3, 0x08, -1, 0, 0x1, 7, 0x08, ""},
    {1, 3, 0x20, -1, 0, 0x1, 7, 0x20, ""},
    {1, 3, 0x40, -1, 0, 0x1, 7, 0x40, ""},
    {1, 3, 0x80, -1, 0, 0x1, 7, 0x80, ""},
    {1, 4, 0x01, -1, 0, 0x1, 8, 0x01, ""},
    {1, 4, 0x02, -1, 0, 0x1, 8, 0x02, ""},
    {1, 4, 0x04, -1, 0, 0x1, 8, 0x04, ""},
    {1, 4, 0x08, -1, 0, 0x1, 8, 0x08, ""},
    /* test 2: one case of every routine, in a destination word */
    {2, MMX_ROUTINE_PADD, 0x1, -1, 0, 0x1, 10, 0x1, "PADD"},
    {2, MMX_ROUTINE_PSUB, 0x4000, -1, 16, 0x1, 10, 0x4000, "PSUB"},
    {2, MMX_ROUTINE_PMUL, 0x800, -1, 32, 0x1, 10, 0x800, "PMUL"},
    {2, MMX_ROUTINE_PMADD, 0x200, -1, 48, 0x1, 10, 0x200, "PMADD"},
    {2, MMX_ROUTINE_PAND, 0x20, -1, 0, 0x1, 10, 0x20, "PAND"},
    {2, MMX_ROUTINE_PANDN, 0x20, -1, 0, 0x1, 10, 0x20, "PANDN"},
    {2, MMX_ROUTINE_POR, 0x80, -1, 0, 0x1, 10, 0x80, "POR"},
    {2, MMX_ROUTINE_PXOR, 0x80, -1, 0, 0x1, 10, 0x80, "PXOR"},
    {2, MMX_ROUTINE_PSLL, 0x800, -1, 0, 0x1, 10, 0x800, "PSLL"},
    {2, MMX_ROUTINE_PSRL, 0x800, -1, 0, 0x1, 10, 0x800, "PSLR"},
    {2, MMX_ROUTINE_PCMPEQ, 0x20, -1, 0, 0x1, 10, 0x20, "PCMPEQ"},
    {2, MMX_ROUTINE_PCMPGT, 0x100, -1, 0, 0x1, 10, 0x100, "PCMPGT"},
    {2, MMX_ROUTINE_PACKSS, 0x200, -1, 0, 0x1, 10, 0x200, "PACKSS"},
    {2, MMX_ROUTINE_PACKUS, 0x10, -1, 0, 0x1, 10, 0x10, "PACKUS"},
    {2, MMX_ROUTINE_PUNPCK, 0x80, -1, 0, 0x1, 10, 0x80, "PUNPCK"},
    /* source registers (odd words) and high halves are not compared */
    {2, MMX_ROUTINE_PADD, 0x1, -1, 8, 0x1, 0, 0, ""},
    {2, MMX_ROUTINE_PADD, 0x1, -1, 4, 0x1, 0, 0, ""},
    /* MOVD: the low halves of all eight words, the counter (0xFFFF down) at the mismatch */
    {2, MMX_ROUTINE_MOVD, 0x01, 0x1234, 24, 0x1, 10, 0x1234, "MOVD"},
    {2, MMX_ROUTINE_MOVD, 0x01, 1, 0, 0x1, 10, 1, "MOVD"},
    {2, MMX_ROUTINE_MOVD, 0x01, 7, 60, 0x1, 0, 0, ""},
    /* MOVQ: all of MM7, the lane value at the mismatch */
    {2, MMX_ROUTINE_MOVQ, 0x01, 0x00FF, 56, 0x1, 10, 0x00FF, "MOVQ"},
    {2, MMX_ROUTINE_MOVQ, 0x01, 0x8001, 60, 0x1, 10, 0x8001, "MOVQ"},
    {2, MMX_ROUTINE_MOVQ, 0x01, 0x0100, 0, 0x1, 0, 0, ""},
};

class CpuRoutineFaults : public CpuTestFixture, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CpuRoutineFaults, ReportExactlyTheInjectedFault)
{
    const FaultCase &c = GetParam();
    SCOPED_TRACE(testing::Message() << "test " << c.uTest << " sub-test " << c.uSubTest
                                    << " checks " << c.uChecks << " case " << c.iCase
                                    << " offset " << c.uOffset);
    if (c.uTest == 2 && MMXExists() == 0)
        GTEST_SKIP() << "this processor has no MMX";
    if (c.uTest == 1 && !zolttest::X87EmulatorSkipReason().empty())
        GTEST_SKIP() << zolttest::X87EmulatorSkipReason();
    for (unsigned uBit = 1; uBit != 0 && uBit <= c.uChecks; uBit <<= 1)
        if ((c.uChecks & uBit) != 0)
            g_faults.push_back({c.uTest, c.uSubTest, uBit, c.iCase, c.uXor, c.uOffset});

    kRoutines[c.uTest].pfn(nullptr);

    EXPECT_EQ(Seen(), Expected(c.uTest, GroupOf(c.uTest, c.uSubTest), c.iError));
    EXPECT_EQ(g_iTestResult, c.iError != 0 ? 2 : 0);
    for (const CapturedEvent &ev : g_events) {
        if (ev.sType == "ERROR") {
            EXPECT_EQ(TokenVariable(ev.sText, "errno"), std::to_string(c.iErrno));
            EXPECT_EQ(TokenVariable(ev.sText, "instruction"), c.szInstruction);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryCheck, CpuRoutineFaults, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<FaultCase> &info) {
                             return "test" + std::to_string(info.param.uTest) + "_case" +
                                    std::to_string(info.index);
                         });

/* Faults in two checks of one routine and in two other routines: one event
 * per routine, in running order; no mask carries over to the next routine. */
TEST_F(CpuRoutines, FaultsInSeveralMmxRoutinesGiveOneEventEach)
{
    if (MMXExists() == 0)
        GTEST_SKIP() << "this processor has no MMX";
    g_faults = {{2, MMX_ROUTINE_PADD, 0x2, -1, 0x1, 0},
                        {2, MMX_ROUTINE_PADD, 0x8, -1, 0x1, 0},
                        {2, MMX_ROUTINE_PMUL, 0x1, -1, 0x1, 0},
                        {2, MMX_ROUTINE_PUNPCK, 0x1, -1, 0x1, 0}};
    do_MMX(nullptr);
    std::vector<std::string> seen;
    for (const CapturedEvent &ev : g_events)
        if (ev.sType == "ERROR")
            seen.push_back(TokenVariable(ev.sText, "instruction") + " " +
                       TokenVariable(ev.sText, "errno"));
    EXPECT_EQ(seen, (std::vector<std::string>{"PADD 10", "PMUL 1", "PUNPCK 1"}));
}

}  // namespace
