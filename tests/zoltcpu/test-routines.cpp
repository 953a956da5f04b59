/* Tests of the routines of tests 0 (integer unit), 1 (x87 unit) and 2 (MMX
 * unit): sound and pinned runs, every fault path. */
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
    std::vector<std::string> infos; /* per sub-test or group */
};
const Routine kRoutines[3] = {
    { do_registertests, { "szInfo1", "szInfo2", "szInfo3", "szInfo4" } },
    { do_mathregistertests, { "szInfo5", "szInfo6", "szInfo7", "szInfo8" } },
    { do_MMX,
      { "szInfoMMXArithmatics", "szInfoMMXLogical", "szInfoMMXShift", "szInfoMMXMove",
        "szInfoMMXMisc" } },
};
const char *const kErrorTags[11] = { "",
                                     "szErrorReg",
                                     "szErrorArithmetics",
                                     "szErrorStrings",
                                     "szErrorLogicals",
                                     "szErrorMathReg",
                                     "szErrorMathCommands",
                                     "szErrorMathArithmetics",
                                     "szErrorMathTrans",
                                     "",
                                     "szErrorMMX10_10" };

/* The events a run of test uTest sends (as Seen()), with the error of
 * sub-test uSubTest (MMX: of that routine, in its group) when bError. */
std::string Expected(unsigned uTest, unsigned uSubTest, bool bError, bool bInfos = true)
{
    const int iError = !bError      ? 0
                       : uTest == 0 ? (int)uSubTest
                       : uTest == 1 ? 4 + (int)uSubTest
                                    : 10;
    const std::vector<std::string> &infos = kRoutines[uTest].infos;
    const size_t iGroup = uTest < 2        ? uSubTest - 1
                          : uSubTest <= 4  ? 0
                          : uSubTest <= 8  ? 1
                          : uSubTest <= 10 ? 2
                          : uSubTest <= 12 ? 3
                                           : 4;
    std::string s;
    for (size_t g = 0; g < infos.size(); g++) {
        s += (bInfos ? "INFO " + infos[g] + "|" : "") +
             (iError != 0 && g == iGroup
                  ? "ERROR " + std::to_string(iError) + " " + kErrorTags[iError] + "|"
                  : "");
        s += "PERCENTDONE " + std::to_string(100 * (g + 1) / infos.size()) +
             (g + 1 < infos.size() ? "|" : "");
    }
    return s;
}

/* "errno instruction|" of each error event sent. */
std::string ErrorTokens()
{
    std::string s;
    for (const CapturedEvent &ev : g_events)
        if (ev.sType == "ERROR")
            s += TokenVariable(ev.sText, "errno") + " " + TokenVariable(ev.sText, "instruction") +
                 "|";
    return s;
}

/* Whether test uTest cannot run here (then the reason). */
std::string CannotRun(unsigned uTest)
{
    if (uTest == 2 && MMXExists() == 0)
        return "this processor has no MMX";
    return uTest == 1 ? zolttest::X87EmulatorSkipReason() : "";
}


/* In a pinned run's thread: no informative message unless asked, errors and
 * percent values queued for the replay in order, the end signalled. */
TEST_F(CpuTestFixture, PinnedRunsQueueTheirEventsAndSignalTheEnd)
{
    for (unsigned uTest = 0; uTest < 3; uTest++) {
        SCOPED_TRACE(uTest);
        if (!CannotRun(uTest).empty())
            continue;
        Fresh();
        g_faults = { { uTest, 1, 0x01, -1, 0x1, 0 } };
        g_DeferErrors = 1;
        TestThreadArgs args = {};
        EXPECT_EQ(kRoutines[uTest].pfn(&args), &args);
        EXPECT_TRUE(g_events.empty());
        EXPECT_EQ(g_TestCond.iSignaled, 1);
        EXPECT_EQ(g_iTestResult, 2);
        ProcessMessages((unsigned)syscall(SYS_gettid));
        EXPECT_EQ(Seen(), Expected(uTest, 1, true, false));
    }
}

/* XOR uXor at uOffset into every check bit of uChecks (case iCase, -1 all):
 * the sub-test's error with "errno" uErrno (0: none) and the MMX name. */
struct FaultCase {
    unsigned uTest, uSubTest, uChecks;
    int iCase;
    unsigned uOffset;
    uint64_t uXor, uErrno;
    const char *szInstr;
};

/* Runs test c.uTest with the fault of c injected: exactly the expected error
 * (none for a sound row), and every other sub-test still runs and reports
 * its percent value in order. */
void ExpectOnlyFault(const FaultCase &c)
{
    SCOPED_TRACE(testing::Message()
                 << "test " << c.uTest << " sub-test " << c.uSubTest << " checks " << c.uChecks
                 << " case " << c.iCase << " offset " << c.uOffset << " xor " << c.uXor);
    g_events.clear();
    g_faults.clear();
    ResetDriverState();
    Dapi2_I_ResetEventState();
    for (unsigned uBit = 1; uBit != 0 && uBit <= c.uChecks; uBit <<= 1)
        if ((c.uChecks & uBit) != 0)
            g_faults.push_back({ c.uTest, c.uSubTest, uBit, c.iCase, c.uXor, c.uOffset });
    EXPECT_EQ(kRoutines[c.uTest].pfn(nullptr), nullptr);
    EXPECT_EQ(Seen(), Expected(c.uTest, c.uSubTest, c.uErrno != 0));
    EXPECT_EQ(g_iTestResult, c.uErrno != 0 ? 2 : 0);
    EXPECT_EQ(ErrorTokens(), c.uErrno == 0 ? "" : std::to_string(c.uErrno) + " " + c.szInstr + "|");
}

/* Runs the cases of one test, or skips the test where it cannot run here. */
#define RUN_FAULT_CASES(uTest, cases)         \
    do {                                      \
        if (!CannotRun(uTest).empty())        \
            GTEST_SKIP() << CannotRun(uTest); \
        for (const FaultCase &c : (cases))    \
            ExpectOnlyFault(c);               \
    } while (0)

/* F: every case, offset 0, errno the mask; W: x87 word iCase (0 the first
 * stored, 1 the second) of one check. */
#define F(t, s, uChecks, uXor)                  \
    {                                           \
        t, s, uChecks, -1, 0, uXor, uChecks, "" \
    }
#define W(uCheck, iWord, uXor, bFault)                           \
    {                                                            \
        1, 2, uCheck, iWord, 0, uXor, (bFault) ? uCheck : 0u, "" \
    }

/* Test 0: each register of the transfer at the first and the last pattern
 * (ECX alone is unseen while EDI still equals EDX; with EBX it is), the
 * flags of each compare-and-branch case (CF 0x01, ZF 0x40; JAE ignores ZF). */
const FaultCase kIntegerFaults[] = {
    { 0, 1, 0x01, 0, 0, 0x1, 0x01, "" },
    { 0, 1, 0x02, 17, 0, 0x80000000, 0x02, "" },
    { 0, 1, 0x04, -1, 0, 0x10, 0, "" },
    F(0, 1, 0x06, 0x1),
    { 0, 1, 0x08, 0, 0, 0xFFFFFFFF, 0x08, "" },
    { 0, 1, 0x10, 17, 0, 0x1, 0x10, "" },
    { 0, 1, 0x20, 0, 0, 0x4, 0x20, "" },
    F(0, 1, 0x3F, 0x1),
    F(0, 4, 0x01, 0x40),
    F(0, 4, 0x02, 0x01),
    F(0, 4, 0x04, 0x01),
    F(0, 4, 0x08, 0x40),
    { 0, 4, 0x02, -1, 0, 0x40, 0, "" },
    { 0, 4, 0x04, -1, 0, 0x40, 0, "" },
    /* flags where a jump and its neighbours disagree (CF 0x01, ZF 0x40, SF
     * 0x80; OF stays 0): JE not JBE or JLE, JAE not JA or JGE, JBE not JB,
     * JNZ not JA or JG */
    F(0, 4, 0x01, 0x41),
    F(0, 4, 0x01, 0xC0),
    { 0, 4, 0x02, -1, 0, 0x80, 0, "" },
    { 0, 4, 0x04, -1, 0, 0x41, 0, "" },
    { 0, 4, 0x08, -1, 0, 0x01, 0, "" },
    { 0, 4, 0x08, -1, 0, 0x80, 0, "" },
};

TEST_F(CpuTestFixture, IntegerTransferAndBranchFaultsAreReportedExactly)
{
    std::vector<FaultCase> v(std::begin(kIntegerFaults), std::end(kIntegerFaults));
    /* each compare of the transfer with the compared value one lower (all ones
     * XOR 1) and one higher (zero XOR 1), signed and unsigned alike: only an
     * equality jump lets neither through */
    for (unsigned uBits : { 0x01u, 0x02u, 0x06u, 0x08u, 0x10u, 0x20u })
        for (int iPattern : { 0, 1 })
            v.push_back({ 0, 1, uBits, iPattern, 0, 0x1, uBits & ~0x04u ? uBits : 0u, "" });
    RUN_FAULT_CASES(0, v);
}

/* The inputs the checks start from: the register transfer runs the 18
 * patterns in order (all ones, all zeros, the nibble and bit checkerboards,
 * a bit walking down each byte, one walking up each nibble), and the control
 * word loaded before FINIT is not FINIT's own. */
TEST_F(CpuTestFixture, ChecksStartFromEachPatternAndAPresetTheResetChanges)
{
    std::vector<uint32_t> vPatterns = { 0xFFFFFFFF, 0,          0xF0F0F0F0,
                                        0x0F0F0F0F, 0xAAAAAAAA, 0x55555555 };
    for (int iBit = 7; iBit >= 0; iBit--)
        vPatterns.push_back(0x01010101u << iBit);
    for (int iBit = 0; iBit < 4; iBit++)
        vPatterns.push_back(0x11111111u << iBit);
    do_registers(nullptr);
    std::vector<std::string> vExpected;
    for (size_t i = 0; i < vPatterns.size(); i++) {
        char sz[32];
        snprintf(sz, sizeof sz, "0:1:%zu=%X", i, vPatterns[i]);
        vExpected.push_back(sz);
    }
    EXPECT_EQ(g_inputs, vExpected);
    if (!CannotRun(1).empty())
        return;
    g_inputs.clear();
    do_mathcommands(nullptr);
    ASSERT_EQ(g_inputs.size(), 1u);
    EXPECT_NE(g_inputs[0], "1:2:0=37F") << "the preset is the reset's own result";
}

/* Each operation of each arithmetic row alone (the row is the case); a fault
 * in the upper bits counts as well. Each word of the string copy alone. */
TEST_F(CpuTestFixture, EachArithmeticRowAndCopiedWordIsChecked)
{
    std::vector<FaultCase> v;
    for (int iRow = 0; iRow < 4; iRow++)
        for (unsigned uOp = 0; uOp < 4; uOp++)
            v.push_back({ 0, 2, 1u << uOp, iRow, 0, iRow == 2 ? 0x80000000u : 1u, 1u << uOp, "" });
    for (unsigned uWord = 0; uWord < 18; uWord++)
        v.push_back({ 0, 3, 0x01, 0, 4 * uWord, 1u << (uWord % 32), 0x01, "" });
    RUN_FAULT_CASES(0, v);
}

/* Test 1: each of the ten register values (any of the nine bytes; the tenth
 * and later are not compared); every word each control check reads, with
 * faults its rule must see and faults outside what it compares. */
const FaultCase kX87Faults[] = {
    { 1, 1, 0x01, 0, 0, 0x01, 0x01, "" },
    { 1, 1, 0x01, 9, 8, 0x10, 0x01, "" },
    { 1, 1, 0x01, -1, 9, 0xFF, 0, "" },
    W(0x0001, 0, 0x0001, true),  /* the division set no flag */
    W(0x0001, 1, 0x0001, true),  /* FCLEX left IE standing */
    W(0x0001, 1, 0x0002, false), /* flags that differ from the division's */
    W(0x0001, 0, 0x0800, false), /* TOP, no exception flag */
    W(0x0001, 1, 0x4040, false), /* C3 and SF, no exception flag */
    W(0x0002, 0, 0x0800, true),  /* TOP before */
    W(0x0002, 1, 0x1000, true),  /* TOP after */
    W(0x0002, 0, 0x47FF, false), /* everything but TOP */
    W(0x0002, 1, 0xC7FF, false),
    W(0x0004, 1, 0x0001, true), /* no IE after the store from an empty register */
    W(0x0004, 1, 0x3842, false),
    W(0x0008, 0, 0x2000, true),
    W(0x0008, 1, 0x0800, true),
    W(0x0008, 0, 0x47FF, false),
    W(0x0008, 1, 0xC7FF, false),
    W(0x0010, 0, 0x0080, true),
    W(0x0010, 0, 0x10000, true),            /* the whole word is compared */
    W(0x0080, 0, 0x4000, true),             /* before */
    W(0x0080, 1, 0x0001, true),             /* after */
    { 1, 2, 0x0080, -1, 0, 0x0100, 0, "" }, /* both alike */
    W(0x0400, 0, 0x0001, true),
    W(0x0400, 0, 0x0100, true),
    W(0x1000, 0, 0x0020, true),
    W(0x1000, 0, 0x3800, true),
    W(0x2000, 0, 0x0001, true),
    W(0x2000, 0, 0x10000, true),
    { 1, 2, 0x2010, 0, 0, 0x0001, 0x2010, "" }, /* two checks, one event */
    F(1, 3, 0x01, 1),
    F(1, 3, 0x02, 1),
    F(1, 3, 0x04, 1),
    F(1, 3, 0x08, 1),
    F(1, 3, 0x20, 1),
    F(1, 3, 0x40, 1),
    F(1, 3, 0x80, 1),
    F(1, 3, 0x80, 0x10000),
    F(1, 3, 0x02, 0x8000),
    F(1, 4, 0x01, 1),
    F(1, 4, 0x02, 1),
    F(1, 4, 0x04, 1),
    F(1, 4, 0x08, 1),
    F(1, 4, 0x08, 0x10000),
};

TEST_F(CpuTestFixture, X87FaultsOnEveryObservedWordAreReportedExactly)
{
    std::vector<FaultCase> v(std::begin(kX87Faults), std::end(kX87Faults));
    for (int iValue = 0; iValue < 10; iValue++)
        v.push_back({ 1, 1, 0x01, iValue, (unsigned)iValue % 9, 0x80, 0x01, "" });
    RUN_FAULT_CASES(1, v);
}

/* Test 2: the name of each routine and the bit of each of its cases in
 * table order (the move tests below). */
struct MmxRoutineCases {
    unsigned uRoutine;
    const char *szName;
    std::vector<unsigned> vBits;
};
const std::vector<unsigned> kBits12 = { 0x1,  0x2,  0x4,   0x8,   0x10,  0x20,
                                        0x40, 0x80, 0x100, 0x200, 0x400, 0x800 };
const MmxRoutineCases kMmxCases[] = {
    { MMX_ROUTINE_PADD, "PADD", kBits12 },
    { MMX_ROUTINE_PSUB,
      "PSUB",
      { 0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80, 0x100, 0x200, 0x400, 0x800, 0x1000, 0x2000,
        0x4000 } },
    { MMX_ROUTINE_PMUL, "PMUL", kBits12 },
    { MMX_ROUTINE_PMADD, "PMADD", { 0x1, 0x2, 0x8, 0x10, 0x20, 0x40, 0x80, 0x100, 0x200 } },
    { MMX_ROUTINE_PAND, "PAND", { 0x1, 0x2, 0x4, 0x8, 0x10, 0x20 } },
    { MMX_ROUTINE_PANDN, "PANDN", { 0x1, 0x2, 0x4, 0x8, 0x10, 0x20 } },
    { MMX_ROUTINE_POR, "POR", { 0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80 } },
    { MMX_ROUTINE_PXOR, "PXOR", { 0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80 } },
    { MMX_ROUTINE_PSLL,
      "PSLL",
      { 0x1, 0x2, 0x8, 0x10, 0x20, 0x40, 0x80, 0x100, 0x200, 0x400, 0x800 } },
    { MMX_ROUTINE_PSRL,
      "PSLR",
      { 0x1, 0x2, 0x4, 0x8, 0x10, 0x40, 0x80, 0x100, 0x200, 0x400, 0x800 } },
    { MMX_ROUTINE_PCMPEQ, "PCMPEQ", { 0x1, 0x2, 0x4, 0x8, 0x10, 0x20 } },
    { MMX_ROUTINE_PCMPGT, "PCMPGT", { 0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80, 0x100 } },
    { MMX_ROUTINE_PACKSS, "PACKSS", { 0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80, 0x100, 0x200 } },
    { MMX_ROUTINE_PACKUS, "PACKUS", { 0x1, 0x2, 0x4, 0x8, 0x10 } },
    { MMX_ROUTINE_PUNPCK, "PUNPCK", { 0x1, 0x2, 0x4, 0x8, 0x10, 0x20, 0x40, 0x80 } },
};

/* Each case of each routine alone: its bit alone as "errno" with the
 * routine's name, whichever destination register (MM0, MM2, MM4, MM6, in
 * turn) holds the wrong low word; the source registers and the high halves
 * are not compared, and no case answers to another case's number. */
TEST_F(CpuTestFixture, EachMmxCaseReportsItsOwnBitAndName)
{
    std::vector<FaultCase> v;
    for (const MmxRoutineCases &r : kMmxCases) {
        for (size_t i = 0; i < r.vBits.size(); i++)
            v.push_back({ 2, r.uRoutine, r.vBits[i], (int)i, 16 * (unsigned)(i % 4),
                          0x80000001u >> (i % 2 * 31), r.vBits[i], r.szName });
        v.push_back({ 2, r.uRoutine, r.vBits[1], 0, 0, 1, 0, "" });
        v.push_back({ 2, r.uRoutine, r.vBits.back(), -1, 8, 1, 0, "" });
        v.push_back({ 2, r.uRoutine, r.vBits.back(), -1, 4, 1, 0, "" });
    }
    RUN_FAULT_CASES(2, v);
}

/* MOVD: the low halves of all eight words, the counter (0xFFFF down) at the
 * mismatch; MOVQ: all of MM7, the lane value at the mismatch. */
const FaultCase kMmxMoveFaults[] = {
    { 2, MMX_ROUTINE_MOVD, 0x01, 0x1234, 24, 0x1, 0x1234, "MOVD" },
    { 2, MMX_ROUTINE_MOVD, 0x01, 1, 0, 0x1, 1, "MOVD" },
    { 2, MMX_ROUTINE_MOVD, 0x01, 0xFFFF, 56, 0x80000000, 0xFFFF, "MOVD" },
    { 2, MMX_ROUTINE_MOVD, 0x01, 7, 60, 0x1, 0, "" },
    { 2, MMX_ROUTINE_MOVQ, 0x01, 0x00FF, 56, 0x1, 0x00FF, "MOVQ" },
    { 2, MMX_ROUTINE_MOVQ, 0x01, 0x8001, 60, 0x1, 0x8001, "MOVQ" },
    { 2, MMX_ROUTINE_MOVQ, 0x01, 0x0100, 0, 0x1, 0, "" },
};

TEST_F(CpuTestFixture, MmxMoveFaultsGiveTheCounterOrLaneValue)
{
    RUN_FAULT_CASES(2, kMmxMoveFaults);
}
#undef F
#undef W

/* One event per faulty routine, in order (no mask carries over); after EMMS
 * the x87 unit works. */
TEST_F(CpuTestFixture, SeveralMmxFaultsGiveOneEventEachAndX87WorksAfter)
{
    if (!CannotRun(2).empty())
        GTEST_SKIP() << CannotRun(2);
    g_faults = { { 2, MMX_ROUTINE_PADD, 0x2, -1, 0x1, 0 },
                 { 2, MMX_ROUTINE_PADD, 0x8, -1, 0x1, 0 },
                 { 2, MMX_ROUTINE_PMUL, 0x1, -1, 0x1, 0 },
                 { 2, MMX_ROUTINE_PUNPCK, 0x1, -1, 0x1, 0 } };
    do_MMX(nullptr);
    EXPECT_EQ(ErrorTokens(), "10 PADD|1 PMUL|1 PUNPCK|");
    volatile long double lfA = 1.5;
    EXPECT_EQ((double)(lfA * 2.25L), 3.375);
}

}  // namespace
