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

/* F: every case, offset 0, errno the mask; M: MMX destination word, XOR 1. */
#define F(t, s, uChecks, uXor)                  \
    {                                           \
        t, s, uChecks, -1, 0, uXor, uChecks, "" \
    }
#define M(r, uChecks, uOffset, sz)                                 \
    {                                                              \
        2, MMX_ROUTINE_##r, uChecks, -1, uOffset, 0x1, uChecks, sz \
    }
const FaultCase kFaults[] = {
    /* test 0; sub-test 1 registers: EAX EBX ECX EDX ESI EDI; ECX alone is
     * unseen (EDI still equals EDX), with EBX it is */
    F(0, 1, 0x01, 0x1),
    F(0, 1, 0x02, 0x80000000),
    { 0, 1, 0x04, -1, 0, 0x10, 0, "" },
    F(0, 1, 0x06, 0x1),
    F(0, 1, 0x08, 0xFFFFFFFF),
    { 0, 1, 0x10, 13, 0, 0x1, 0x10, "" },
    F(0, 1, 0x20, 0x4),
    /* sub-test 2 add sub div mul (last row only); 3 the copied table; 4 JE
     * JAE JBE JNZ (LAHF: CF 1, ZF 0x40), JAE ignores ZF */
    F(0, 2, 0x01, 0x1),
    F(0, 2, 0x02, 0x1),
    { 0, 2, 0x04, 2, 0, 0x1, 0x04, "" },
    F(0, 2, 0x08, 0x10000),
    F(0, 2, 0x09, 0x1),
    F(0, 3, 0x01, 0x1),
    { 0, 3, 0x01, -1, 17 * 4, 0x80000000, 0x01, "" },
    F(0, 4, 0x01, 0x40),
    F(0, 4, 0x02, 0x01),
    F(0, 4, 0x04, 0x01),
    F(0, 4, 0x08, 0x40),
    { 0, 4, 0x02, -1, 0, 0x40, 0, "" },
    /* test 1; sub-test 1 the ten values (nine bytes stored each) */
    F(1, 1, 0x01, 0x01),
    { 1, 1, 0x01, 9, 8, 0x10, 0x01, "" },
    { 1, 1, 0x01, -1, 9, 0xFF, 0, "" },
    /* sub-test 2 status and control words (FCLEX left IE, TOP off by one, ...) */
    F(1, 2, 0x0001, 0x0001),
    F(1, 2, 0x0002, 0x0800),
    F(1, 2, 0x0004, 0x0001),
    F(1, 2, 0x0008, 0x1000),
    F(1, 2, 0x0010, 0x0080),
    F(1, 2, 0x0080, 0x4000),
    F(1, 2, 0x0400, 0x0001),
    F(1, 2, 0x1000, 0x0020),
    F(1, 2, 0x2000, 0x0001),
    F(1, 2, 0x2001, 0x0001),
    /* sub-test 3 arithmetic (FIMUL not compared); 4 transcendental */
    F(1, 3, 0x01, 1),
    F(1, 3, 0x02, 1),
    F(1, 3, 0x04, 1),
    F(1, 3, 0x08, 1),
    F(1, 3, 0x20, 1),
    F(1, 3, 0x40, 1),
    F(1, 3, 0x80, 1),
    F(1, 4, 0x01, 1),
    F(1, 4, 0x02, 1),
    F(1, 4, 0x04, 1),
    F(1, 4, 0x08, 1),
    /* test 2: one case of every routine */
    M(PADD, 0x1, 0, "PADD"),
    M(PSUB, 0x4000, 16, "PSUB"),
    M(PMUL, 0x800, 32, "PMUL"),
    M(PMADD, 0x200, 48, "PMADD"),
    M(PAND, 0x20, 0, "PAND"),
    M(PANDN, 0x20, 0, "PANDN"),
    M(POR, 0x80, 0, "POR"),
    M(PXOR, 0x80, 0, "PXOR"),
    M(PSLL, 0x800, 0, "PSLL"),
    M(PSRL, 0x800, 0, "PSLR"),
    M(PCMPEQ, 0x20, 0, "PCMPEQ"),
    M(PCMPGT, 0x100, 0, "PCMPGT"),
    M(PACKSS, 0x200, 0, "PACKSS"),
    M(PACKUS, 0x10, 0, "PACKUS"),
    M(PUNPCK, 0x80, 0, "PUNPCK"),
    /* source registers (odd words) and high halves are not compared */
    { 2, MMX_ROUTINE_PADD, 0x1, -1, 8, 0x1, 0, "" },
    { 2, MMX_ROUTINE_PADD, 0x1, -1, 4, 0x1, 0, "" },
    /* MOVD: the low halves of all eight words, the counter (0xFFFF down) at
     * the mismatch; MOVQ: all of MM7, the lane value at the mismatch */
    { 2, MMX_ROUTINE_MOVD, 0x01, 0x1234, 24, 0x1, 0x1234, "MOVD" },
    { 2, MMX_ROUTINE_MOVD, 0x01, 1, 0, 0x1, 1, "MOVD" },
    { 2, MMX_ROUTINE_MOVD, 0x01, 7, 60, 0x1, 0, "" },
    { 2, MMX_ROUTINE_MOVQ, 0x01, 0x00FF, 56, 0x1, 0x00FF, "MOVQ" },
    { 2, MMX_ROUTINE_MOVQ, 0x01, 0x8001, 60, 0x1, 0x8001, "MOVQ" },
    { 2, MMX_ROUTINE_MOVQ, 0x01, 0x0100, 0, 0x1, 0, "" },
};
#undef F
#undef M

/* Exactly the injected fault is reported (none for the sound rows), the
 * other sub-tests still run and report in order. */
TEST_F(CpuTestFixture, EveryCheckReportsExactlyTheInjectedFault)
{
    for (const FaultCase &c : kFaults) {
        SCOPED_TRACE(testing::Message()
                     << "test " << c.uTest << " sub-test " << c.uSubTest << " checks " << c.uChecks
                     << " case " << c.iCase << " offset " << c.uOffset);
        if (!CannotRun(c.uTest).empty())
            continue;
        Fresh();
        for (unsigned uBit = 1; uBit != 0 && uBit <= c.uChecks; uBit <<= 1)
            if ((c.uChecks & uBit) != 0)
                g_faults.push_back({ c.uTest, c.uSubTest, uBit, c.iCase, c.uXor, c.uOffset });
        EXPECT_EQ(kRoutines[c.uTest].pfn(nullptr), nullptr);
        EXPECT_EQ(Seen(), Expected(c.uTest, c.uSubTest, c.uErrno != 0));
        EXPECT_EQ(g_iTestResult, c.uErrno != 0 ? 2 : 0);
        EXPECT_EQ(ErrorTokens(),
                  c.uErrno == 0 ? "" : std::to_string(c.uErrno) + " " + c.szInstr + "|");
    }
    if (!CannotRun(1).empty() || !CannotRun(2).empty())
        GTEST_SKIP() << "cases of tests 1 or 2 not run: " << CannotRun(1) << CannotRun(2);
}

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
