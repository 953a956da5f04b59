/* Tests of test 1, the x87 unit: every fault path of the register, control,
 * arithmetic and transcendental checks, the initialisation, the loads and
 * stores, the preset before FINIT, a pinned run. */
#include "zoltcpu/cpu-test-events.h"

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <functional>
#include <tuple>

#include "fpu-asm.h"

namespace {

/* W: x87 word iCase (0 the first stored, 1 the second) of one check. */
#define W(uCheck, iWord, uXor, bFault)                           \
    {                                                            \
        1, 2, uCheck, iWord, 0, uXor, (bFault) ? uCheck : 0u, "" \
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
    W(0x0001, 1, 0x0041, true),  /* IE standing, with SF */
    W(0x0002, 0, 0x0800, true),  /* TOP before */
    W(0x0002, 1, 0x1000, true),  /* TOP after */
    W(0x0002, 0, 0x47FF, false), /* everything but TOP */
    W(0x0002, 1, 0xC7FF, false),
    W(0x0004, 1, 0x0001, true), /* no IE after the store from an empty register */
    W(0x0004, 1, 0x3842, false),
    W(0x0004, 1, 0x0003, true), /* DE instead of IE */
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
    F(1, 3, 0xEF, 1),                           /* every check at once, each bit kept */
    F(1, 4, 0x0F, 1),
    F(1, 3, 0x80, 0x10000),
    F(1, 3, 0x02, 0x8000),
    F(1, 4, 0x08, 0x10000),
};

TEST_F(CpuTestFixture, X87FaultsAreReportedExactly)
{
    std::vector<FaultCase> v(std::begin(kX87Faults), std::end(kX87Faults));
    for (unsigned uBit : { 0x01u, 0x02u, 0x04u, 0x08u, 0x20u, 0x40u, 0x80u }) /* each alone */
        for (unsigned uSub : { 3u, 4u })
            if (uSub == 3 || uBit <= 0x08)
                v.push_back(F(1, uSub, uBit, 1));
    for (int iValue = 0; iValue < 10; iValue++)
        v.push_back({ 1, 1, 0x01, iValue, (unsigned)iValue % 9, 0x80, 0x01, "" });
    RUN_FAULT_CASES(1, v);
}

#undef W

/* The inputs the checks start from: the ten data-register values 0x00, 0x11,
 * ... 0x99 in every byte over a target preset to 0xFF (no value), and a
 * control word before FINIT that is not FINIT's own, so that its reset shows. */
TEST_F(CpuTestFixture, X87ChecksStartFromEachValueAndAPresetTheResetChanges)
{
    if (!CannotRun(1).empty())
        GTEST_SKIP() << CannotRun(1);
    do_mathregs(nullptr);
    do_mathcommands(nullptr);
    std::vector<std::string> vExpected;
    for (unsigned u = 0; u < 10; u++) {
        vExpected.push_back("1:1:" + std::to_string(u) + "=" +
                            (u == 0 ? "0" : std::string(8, (char)('0' + u))));
        vExpected.push_back("1:1:" + std::to_string(u) + "=FFFFFFFF");
    }
    ASSERT_EQ(g_inputs.size(), 21u);
    EXPECT_EQ(std::vector<std::string>(g_inputs.begin(), g_inputs.begin() + 20), vExpected);
    EXPECT_EQ(g_inputs[20].substr(0, 6), "1:2:0=") << "handed over as test 1's FINIT input";
    EXPECT_NE(g_inputs[20], "1:2:0=37F");
}

/* The sequences store their result with FISTP, which rounds by the control
 * word (upward, RC 10: a truncating store gives one less, FPATAN's scale
 * shows). The fault build's addend a, put inside a sequence where its values
 * are alike, makes them unlike (rounding to nearest): a reversed, misplaced
 * or truncating form, or another integer operand, gives another result;
 * FCLEX's division then sets ZE (a / 0), where the reversed one sets nothing. */
TEST_F(CpuTestFixture, ResultStoresRoundByTheControlWordAndOperandsKeepTheirPlace)
{
    if (!CannotRun(1).empty())
        GTEST_SKIP() << CannotRun(1);
    const uint16_t uUp = 0x0B7F, uNear = 0x037F;
    const struct {
        const char *szName;
        void (*pfn)(uint32_t *);
        uint16_t uCw;
        float fAddend;
        uint32_t uExpected;
    } kSequences[] = {
        { "AR FMUL", FpuArFmul, uUp, 0, 98 },        /* pi^4 = 97.41 */
        { "F2XM1", FpuTrF2xm1, uUp, 0, 1 },          /* 2^0.5 - 1 = 0.41 */
        { "FPATAN", FpuTrFpatan, uUp, 0, 2450 },     /* 10000 * arctan(1/4) = 2449.79 */
        { "FPTAN", FpuTrFptan, uUp, 0, 24143 },      /* 10000 / tan(pi/8) = 24142.14 */
        { "FYL2XP1", FpuTrFyl2xp1, uUp, 0, 3220 },   /* 10000 * log2(1.25) = 3219.28 */
        { "FYL2X", FpuTrFyl2x, uUp, 0, 140 },        /* exact: 10 * log2(16385) is not */
        { "F2XM1 a", FpuTrF2xm1, uUp, -0.375f, 1 },  /* 2^0.125 - 1; 1/4 or 1/895 - a: < 0 */
        { "F2XM1 b", FpuTrF2xm1, uNear, 0.05f, 0 },  /* 2^0.55 - 1 = 0.46; 0.55 without F2XM1 */
        { "FADD", FpuCmdFadd, uNear, 0.75f, 3 },     /* 1 + 1.75 */
        { "AR FADD", FpuArFadd, uNear, 0.875f, 7 },  /* 2a + 5 = 6.75 */
        { "AR FDIV", FpuArFdiv, uNear, 3, 4 },       /* (1 + a/pi)^2 = 3.82 */
        { "AR FIDIV", FpuArFidiv, uNear, 14.5f, 4 }, /* (5 + a) / 5 = 3.9 */
        { "AR FMUL a", FpuArFmul, uNear, 1, 107 },   /* pi (pi^2 + a) pi = 107.28 */
        { "AR FIADD", FpuArFiadd, uNear, 0.75f, 4 },
        { "AR FISUB", FpuArFisub, uNear, 0.75f, 9 },
        { "AR FSUB", FpuArFsub, uNear, -0.75f, 0xFFFE }, /* -1.75 */
        { "FYL2X", FpuTrFyl2x, uNear, 0.75f, 141 },
        { "FCLEX",
          [](uint32_t *p) {
              uint32_t uAfter = 0;
              FpuCmdFclex(p, &uAfter);
              *p &= 0x3F;
          },
          uNear, 1, 0x04 },
    };
    for (const auto &q : kSequences) {
        uint32_t uRes = 0;
        init_cocpu_and_no_exceptions();
        __asm__ volatile("fldcw %[cw]" : : [cw] "m"(q.uCw));
        g_fFpuFaultAddend = q.fAddend;
        q.pfn(&uRes);
        g_fFpuFaultAddend = 0;
        EXPECT_EQ(uRes, q.uExpected) << q.szName;
    }
    init_cocpu_and_no_exceptions();
}

/* The register stack each sequence leaves (TOP and tag word, from FNSTENV),
 * started at TOP 5 (three FDECSTP on the empty stack): FCLEX's sequence one
 * value (the NaN of 0/0, tagged special), FDECSTP and FINCSTP TOP moved, FFREE
 * every register empty after its pop, FINIT TOP 0; the arithmetic and
 * transcendental sequences consume every value they load. The status word
 * that FDECSTP, FINCSTP and FNOP store first holds the TOP they met. */
TEST_F(CpuTestFixture, EachSequenceLeavesItsRegisterStack)
{
    if (!CannotRun(1).empty())
        GTEST_SKIP() << CannotRun(1);
    auto Two = [](void (*pfn)(uint32_t *, uint32_t *)) {
        return [pfn](uint32_t *p) { pfn(p, p + 1); };
    };
    const struct {
        const char *szName;
        std::function<void(uint32_t *)> fn;
        unsigned uTop, uTags;
    } kSequences[] = {
        { "FCLEX", Two(FpuCmdFclex), 4, 0xFEFF }, { "FDECSTP", Two(FpuCmdFdecstp), 4, 0xFFFF },
        { "FFREE", Two(FpuCmdFfree), 6, 0xFFFF }, { "FINCSTP", Two(FpuCmdFincstp), 6, 0xFFFF },
        { "FINIT", FpuCmdFinit, 0, 0xFFFF },      { "FNOP", Two(FpuCmdFnop), 5, 0xFFFF },
        { "FADD", FpuCmdFadd, 5, 0xFFFF },        { "AR FADD", FpuArFadd, 5, 0xFFFF },
        { "AR FDIV", FpuArFdiv, 5, 0xFFFF },      { "AR FIADD", FpuArFiadd, 5, 0xFFFF },
        { "AR FIDIV", FpuArFidiv, 5, 0xFFFF },    { "AR FIMUL", Two(FpuArFimul), 5, 0xFFFF },
        { "AR FISUB", FpuArFisub, 5, 0xFFFF },    { "AR FMUL", FpuArFmul, 5, 0xFFFF },
        { "AR FSUB", FpuArFsub, 5, 0xFFFF },      { "F2XM1", FpuTrF2xm1, 5, 0xFFFF },
        { "FPATAN", FpuTrFpatan, 5, 0xFFFF },     { "FPTAN", FpuTrFptan, 5, 0xFFFF },
        { "FYL2X", FpuTrFyl2x, 5, 0xFFFF },       { "FYL2XP1", FpuTrFyl2xp1, 5, 0xFFFF },
    };
    for (const auto &q : kSequences) {
        uint32_t auWords[2] = {}, auEnv[7] = {};
        init_cocpu_and_no_exceptions();
        __asm__ volatile("fdecstp\n\tfdecstp\n\tfdecstp");
        q.fn(auWords);
        __asm__ volatile("fnstenv %[env]\n\tfldenv %[env]" : [env] "+m"(auEnv));
        EXPECT_EQ((auEnv[1] >> 11) & 7, q.uTop) << q.szName;
        EXPECT_EQ(auEnv[2] & 0xFFFF, q.uTags) << q.szName;
    }
    for (auto pfn : { FpuCmdFdecstp, FpuCmdFincstp, FpuCmdFnop }) { /* status word first */
        uint32_t auWords[2] = {};
        init_cocpu_and_no_exceptions();
        __asm__ volatile("fdecstp");
        pfn(auWords, auWords + 1);
        EXPECT_EQ(auWords[0] >> 11 & 7, 7u) << "the TOP met";
    }
    init_cocpu_and_no_exceptions();
}

/* FCLEX's rule compares the exception flags alone: IE still standing after
 * FCLEX is a fault even when the word before it also had SF. */
TEST_F(CpuTestFixture, FclexRuleComparesTheExceptionFlagsAlone)
{
    if (!CannotRun(1).empty())
        GTEST_SKIP() << CannotRun(1);
    g_faults = { { 1, 2, 0x0001, 0, 0x40, 0 }, { 1, 2, 0x0001, 1, 0x01, 0 } };
    do_mathcommands(nullptr);
    EXPECT_EQ(ErrorTokens(), "1 |");
}

/* The unit's initialisation waits for g_InitCPUMutex: while the test holds
 * it, a second thread's initialisation has not finished (it may only finish
 * after the unlock, so the check cannot fail on a correct build). */
TEST_F(CpuTestFixture, InitialisationWaitsForTheInitMutex)
{
    static std::atomic<int> s_bDone;
    s_bDone = 0;
    ASSERT_EQ(pthread_mutex_lock(&g_InitCPUMutex), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(
                  &thread, nullptr,
                  [](void *) -> void * {
                      init_cocpu_and_no_exceptions();
                      s_bDone = 1;
                      return nullptr;
                  },
                  nullptr),
              0);
    const struct timespec pause = { 0, 300 * 1000 * 1000 };
    nanosleep(&pause, nullptr);
    EXPECT_EQ(s_bDone.load(), 0) << "initialised while the mutex was held";
    pthread_mutex_unlock(&g_InitCPUMutex);
    pthread_join(thread, nullptr);
    EXPECT_EQ(s_bDone.load(), 1);
}

/* The data-register sub-test starts from an initialised unit: a register
 * stack left full by earlier code (eight values pushed) with the invalid
 * operation unmasked is no fault. Without the initialisation the first load
 * overflows the stack and the unit traps (the program dies). */
TEST_F(CpuTestFixture, DataRegisterTestInitialisesAFullStack)
{
    if (!zolttest::X87EmulatorSkipReason().empty())
        GTEST_SKIP() << zolttest::X87EmulatorSkipReason();
    Fresh();
    uint16_t uCw = 0x037E;
    __asm__ volatile("fldcw %[cw]\n\t"
                     "fld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1\n\tfld1"
                     :
                     : [cw] "m"(uCw)
                     : "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)");
    TestThreadArgs args = {};
    args.bPrintMessages = 0;
    do_mathregs(&args);
    init_cocpu_and_no_exceptions();
    EXPECT_TRUE(g_events.empty()) << Seen();
    EXPECT_EQ(g_iTestResult, 0);
}

/* Eight overlapping loads at source offsets 0..7 and stores at target
 * offsets 0..7 (ST(0), the value loaded last, first): with a different byte
 * at every offset each displacement shows. No window of these bytes is a
 * NaN, so each value goes through unchanged. */
TEST_F(CpuTestFixture, LoadStoreRegistersKeepEveryDisplacement)
{
    if (!zolttest::X87EmulatorSkipReason().empty())
        GTEST_SKIP() << zolttest::X87EmulatorSkipReason();
    uint8_t auSrc[12], auDst[12], auModel[12];
    for (int i = 0; i < 12; i++)
        auSrc[i] = (uint8_t)(0x31 + 0x0B * i);
    std::fill(auDst, auDst + 12, 0xEE);
    std::fill(auModel, auModel + 12, 0xEE);
    for (int j = 0; j < 8; j++)
        memcpy(auModel + j, auSrc + 7 - j, 4);
    init_cocpu_and_no_exceptions();
    FpuLoadStoreRegs(auSrc, auDst);
    for (int i = 0; i < 12; i++)
        EXPECT_EQ(auDst[i], auModel[i]) << "byte " << i;
}

TEST_F(CpuTestFixture, X87PinnedRunQueuesItsEventsAndSignalsTheEnd)
{
    ExpectPinnedRunQueues(1);
}

}  // namespace
