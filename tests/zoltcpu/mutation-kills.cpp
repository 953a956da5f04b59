/* Tests that close what the fault tables cannot see: each MMX instruction
 * routine against a lane-by-lane model of its instruction, each store routine
 * reading every register into its own slot, every check of a sub-test failing
 * at once (each bit kept in the mask), and time shares across a snapshot that
 * gained a CPU line. */
#include "zoltcpu/cpu-test-events.h"

#include <malloc.h>
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <functional>

#include "fpu-asm.h"
#include "mmx-asm.h"
#include "registers-asm.h"
#include "test-cache.h"
#include "test-fpu.h"
#include "test-mmx.h"
#include "test-registers.h"
#include "x87-emulator.h"

namespace {

/* ---- model of the MMX instructions: lanes of 8, 16, 32 or 64 bits ---- */

uint64_t Lane(uint64_t v, unsigned uBits, unsigned i)
{
    return uBits == 64 ? v : (v >> (i * uBits)) & ((1ull << uBits) - 1);
}

int64_t Signed(uint64_t uLane, unsigned uBits)
{
    return uBits == 64 ? (int64_t)uLane : (int64_t)(uLane << (64 - uBits)) >> (64 - uBits);
}

/* Applies fn to each lane pair of a and b (fn gets the unsigned lane values). */
uint64_t PerLane(uint64_t a, uint64_t b, unsigned uBits,
                 const std::function<uint64_t(uint64_t, uint64_t)> &fn)
{
    uint64_t r = 0;
    const uint64_t uMask = uBits == 64 ? ~0ull : (1ull << uBits) - 1;
    for (unsigned i = 0; i < 64 / uBits; i++)
        r |= (fn(Lane(a, uBits, i), Lane(b, uBits, i)) & uMask) << (i * uBits);
    return r;
}

/* Shift of every lane by the whole 64-bit count in b; at or past the lane
 * width a lane becomes 0. */
uint64_t Shift(uint64_t a, uint64_t b, unsigned uBits, bool bLeft)
{
    return PerLane(a, 0, uBits, [&](uint64_t x, uint64_t) {
        return b >= uBits ? 0 : bLeft ? x << b : x >> b;
    });
}

/* Packs the lanes of a (low half) and b (high half) into half-width lanes,
 * saturating signed (or to unsigned for bUnsigned). */
uint64_t Pack(uint64_t a, uint64_t b, unsigned uBits, bool bUnsigned)
{
    const unsigned uHalf = uBits / 2, uPer = 64 / uBits;
    const int64_t iLo = bUnsigned ? 0 : -(1ll << (uHalf - 1));
    const int64_t iHi = bUnsigned ? (1ll << uHalf) - 1 : (1ll << (uHalf - 1)) - 1;
    uint64_t r = 0;
    for (unsigned i = 0; i < 2 * uPer; i++) {
        int64_t v = Signed(Lane(i < uPer ? a : b, uBits, i % uPer), uBits);
        v = v < iLo ? iLo : v > iHi ? iHi : v;
        r |= ((uint64_t)v & ((1ull << uHalf) - 1)) << (i * uHalf);
    }
    return r;
}

/* Interleaves the lanes of the low (or high) halves of a and b, a first. */
uint64_t Unpack(uint64_t a, uint64_t b, unsigned uBits, bool bHigh)
{
    const unsigned uPer = 32 / uBits, uFirst = bHigh ? uPer : 0;
    uint64_t r = 0;
    for (unsigned i = 0; i < uPer; i++) {
        r |= Lane(a, uBits, uFirst + i) << (2 * i * uBits);
        r |= Lane(b, uBits, uFirst + i) << ((2 * i + 1) * uBits);
    }
    return r;
}

uint64_t Add(uint64_t x, uint64_t y)
{
    return x + y;
}
uint64_t Sub(uint64_t x, uint64_t y)
{
    return x - y;
}

struct MmxModel {
    const char *szName;
    void (*pfn)(void);
    std::function<uint64_t(uint64_t, uint64_t)> model;
};

using L = uint64_t;
#define LANES(bits, expr) \
    [](L a, L b) { return PerLane(a, b, bits, [](L x, L y) { return (expr); }); }

const MmxModel kMmx[] = {
    { "PADDB", PADDB, LANES(8, Add(x, y)) },
    { "PADDW", PADDW, LANES(16, Add(x, y)) },
    { "PADDD", PADDD, LANES(32, Add(x, y)) },
    { "PSUBB", PSUBB, LANES(8, Sub(x, y)) },
    { "PSUBW", PSUBW, LANES(16, Sub(x, y)) },
    { "PSUBD", PSUBD, LANES(32, Sub(x, y)) },
    { "PMULHW", PMULHW, LANES(16, (L)((Signed(x, 16) * Signed(y, 16)) >> 16)) },
    { "PMULLW", PMULLW, LANES(16, (L)(Signed(x, 16) * Signed(y, 16))) },
    { "PMADDW", PMADDW,
      [](L a, L b) {
          return PerLane(a, b, 32, [](L x, L y) {
              return (L)(Signed(x & 0xFFFF, 16) * Signed(y & 0xFFFF, 16) +
                         Signed(x >> 16, 16) * Signed(y >> 16, 16));
          });
      } },
    { "PAND", PAND, [](L a, L b) { return a & b; } },
    { "PANDN", PANDN, [](L a, L b) { return ~a & b; } },
    { "POR", POR, [](L a, L b) { return a | b; } },
    { "PXOR", PXOR, [](L a, L b) { return a ^ b; } },
    { "PSLLW", PSLLW, [](L a, L b) { return Shift(a, b, 16, true); } },
    { "PSLLD", PSLLD, [](L a, L b) { return Shift(a, b, 32, true); } },
    { "PSLLQ", PSLLQ, [](L a, L b) { return Shift(a, b, 64, true); } },
    { "PSRLW", PSRLW, [](L a, L b) { return Shift(a, b, 16, false); } },
    { "PSRLD", PSRLD, [](L a, L b) { return Shift(a, b, 32, false); } },
    { "PSRLQ", PSRLQ, [](L a, L b) { return Shift(a, b, 64, false); } },
    { "PCMPEQB", PCMPEQB, LANES(8, x == y ? ~0ull : 0) },
    { "PCMPEQW", PCMPEQW, LANES(16, x == y ? ~0ull : 0) },
    { "PCMPEQD", PCMPEQD, LANES(32, x == y ? ~0ull : 0) },
    { "PCMPGTB", PCMPGTB, LANES(8, Signed(x, 8) > Signed(y, 8) ? ~0ull : 0) },
    { "PCMPGTW", PCMPGTW, LANES(16, Signed(x, 16) > Signed(y, 16) ? ~0ull : 0) },
    { "PCMPGTD", PCMPGTD, LANES(32, Signed(x, 32) > Signed(y, 32) ? ~0ull : 0) },
    { "PACKSSWB", PACKSSWB, [](L a, L b) { return Pack(a, b, 16, false); } },
    { "PACKSSDW", PACKSSDW, [](L a, L b) { return Pack(a, b, 32, false); } },
    { "PACKUSWB", PACKUSWB, [](L a, L b) { return Pack(a, b, 16, true); } },
    { "PUNPCKHBW", PUNPCKHBW, [](L a, L b) { return Unpack(a, b, 8, true); } },
    { "PUNPCKLBW", PUNPCKLBW, [](L a, L b) { return Unpack(a, b, 8, false); } },
    { "PUNPCKHWD", PUNPCKHWD, [](L a, L b) { return Unpack(a, b, 16, true); } },
    { "PUNPCKLWD", PUNPCKLWD, [](L a, L b) { return Unpack(a, b, 16, false); } },
};
#undef LANES

/* Operand pairs whose lanes differ in every width, sign and saturation; the
 * small second operands are shift counts across each lane width. */
const uint64_t kPairs[][2] = {
    { 0x80017FFF00FFFF80ull, 0x7FFF80000101007Full },
    { 0x0123456789ABCDEFull, 0xFEDCBA9876543210ull },
    { 0xFFFF00017FFE8002ull, 0x00028001FFFF7FFFull },
    { 0x8000000112345678ull, 7 },
    { 0xF00FF00FF00FF00Full, 9 },
    { 0x8421842184218421ull, 17 },
    { 0xC0000003C0000003ull, 33 },
};

class MutationKills : public CpuTestFixture {};

/* Even registers hold a op b, odd ones keep b, in all four pairs. */
TEST_F(MutationKills, MmxInstructionRoutinesComputeTheirInstruction)
{
    if (MMXExists() == 0)
        GTEST_SKIP() << "this processor has no MMX";
    for (const MmxModel &m : kMmx) {
        for (const auto &p : kPairs) {
            FillMMXRegs2((uint32_t)p[0], (uint32_t)(p[0] >> 32), (uint32_t)p[1],
                         (uint32_t)(p[1] >> 32));
            m.pfn();
            GetMMXRegs();
            MmxEmms();
            for (int r = 0; r < 8; r++)
                EXPECT_EQ(mmx_res[r], r % 2 ? p[1] : m.model(p[0], p[1]))
                    << m.szName << " MM" << r << std::hex << " a=" << p[0] << " b=" << p[1];
        }
    }
}

/* The fill routines' copy chains and the 64- and 32-bit stores: each slot
 * gets its own register, MOVD leaves the high half of a slot alone. */
TEST_F(MutationKills, FillAndStoreRoutinesKeepEachRegisterInItsSlot)
{
    if (MMXExists() == 0)
        GTEST_SKIP() << "this processor has no MMX";
    const uint64_t a = 0x1122334455667788ull, b = 0x99AABBCCDDEEFF00ull;
    const uint64_t uSentinel = 0x5A5A5A5A5A5A5A5Aull;

    FillMMXRegs2((uint32_t)a, (uint32_t)(a >> 32), (uint32_t)b, (uint32_t)(b >> 32));
    std::fill(mmx_res, mmx_res + 8, uSentinel);
    GetMMXRegs();
    for (int r = 0; r < 8; r++)
        EXPECT_EQ(mmx_res[r], r % 2 ? b : a) << "MOVQ store, MM" << r;

    std::fill(mmx_res, mmx_res + 8, uSentinel);
    GetMMXRegsD();
    for (int r = 0; r < 8; r++)
        EXPECT_EQ(mmx_res[r], (uSentinel & ~0xFFFFFFFFull) | (uint32_t)(r % 2 ? b : a))
            << "MOVD store, MM" << r;

    FillMMXRegs((uint32_t)b, (uint32_t)(b >> 32));
    GetMMXRegs();
    MmxEmms();
    for (int r = 0; r < 8; r++)
        EXPECT_EQ(mmx_res[r], b) << "single fill, MM" << r;
}

/* One sub-test with every one of its checks faulty at once reports one
 * error whose "errno" holds every check's bit. A check's XOR goes to the
 * observed word iCase (-1 every one); a control check that compares two
 * stored words gets it in the second only (case 1). */
const int kSecond = 1;
struct Check {
    unsigned uBit;
    int iCase;
    uint64_t uXor;
};
struct AllChecks {
    unsigned uTest, uSubTest;
    TestThreadArgs *(*pfn)(TestThreadArgs *);
    std::vector<Check> checks;
    int iError;
};

const AllChecks kAllChecks[] = {
    { 0,
      1,
      do_registers,
      { { 0x01, -1, 1 },
        { 0x02, -1, 1 },
        { 0x04, -1, 1 },
        { 0x08, -1, 1 },
        { 0x10, -1, 1 },
        { 0x20, -1, 1 } },
      1 },
    { 0,
      2,
      do_arithmetics,
      { { 0x01, -1, 1 }, { 0x02, -1, 1 }, { 0x04, -1, 1 }, { 0x08, -1, 1 } },
      2 },
    { 0,
      4,
      do_logical,
      { { 0x01, -1, 0x40 }, { 0x02, -1, 0x01 }, { 0x04, -1, 0x01 }, { 0x08, -1, 0x40 } },
      4 },
    { 1,
      2,
      do_mathcommands,
      { { 0x0001, kSecond, 0x0001 }, /* FCLEX left the invalid flag */
        { 0x0002, kSecond, 0x0800 }, /* FDECSTP: TOP off by one */
        { 0x0004, kSecond, 0x0001 }, /* FFREE: no invalid flag */
        { 0x0008, kSecond, 0x1000 }, /* FINCSTP */
        { 0x0010, 0, 0x0080 },       /* FINIT: control word */
        { 0x0080, kSecond, 0x4000 }, /* FNOP changed the status word */
        { 0x0400, 0, 0x0001 },       /* control word after initialisation */
        { 0x1000, 0, 0x0020 },       /* status word after initialisation */
        { 0x2000, 0, 0x0001 } },     /* FADD */
      6 },
    { 1,
      3,
      do_matharithmetics,
      { { 0x01, -1, 1 },
        { 0x02, -1, 1 },
        { 0x04, -1, 1 },
        { 0x08, -1, 1 },
        { 0x20, -1, 1 },
        { 0x40, -1, 1 },
        { 0x80, -1, 1 } },
      7 },
    { 1,
      4,
      do_mathtrans,
      { { 0x01, -1, 1 }, { 0x02, -1, 1 }, { 0x04, -1, 1 }, { 0x08, -1, 1 } },
      8 },
};

TEST_F(MutationKills, EveryCheckOfASubTestFailingAtOnceKeepsEveryBit)
{
    for (const AllChecks &c : kAllChecks) {
        SCOPED_TRACE("test " + std::to_string(c.uTest) + " sub-test " + std::to_string(c.uSubTest));
        if (c.uTest == 1 && !zolttest::X87EmulatorSkipReason().empty())
            continue;
        Fresh();
        unsigned uAll = 0;
        for (const Check &check : c.checks) {
            g_faults.push_back({ c.uTest, c.uSubTest, check.uBit, check.iCase, check.uXor, 0 });
            uAll |= check.uBit;
        }
        TestThreadArgs args = {};
        args.bPrintMessages = 0;
        c.pfn(&args);
        ASSERT_EQ(g_events.size(), 1u) << Seen();
        EXPECT_EQ(g_events[0].iCode, c.iError);
        EXPECT_EQ(TokenVariable(g_events[0].sText, "errno"), std::to_string(uAll));
        EXPECT_EQ(g_iTestResult, 2);
    }
}

/* A snapshot with more per-CPU lines than the one before it (a CPU came
 * online): the missing lines count as zero ticks. */
TEST_F(MutationKills, ShareOfACpuMissingFromOneSnapshot)
{
    const struct {
        std::vector<uint32_t> before, after;
        unsigned uExpect;
    } cases[] = {
        { { 1000, 7 }, { 1100, 7, 90 }, 90 },
        { { 1100, 7, 90 }, { 1000, 7 }, 90 },
        { { 1000, 7, 5 }, { 1100, 7, 5 }, 0 },
    };
    g_uNumCPUS = 2;
    for (const auto &c : cases) {
        CPUTimeStruct before, after;
        before.auTicks = c.before;
        after.auTicks = c.after;
        EXPECT_EQ(CheckCPUTimes(1, &before, &after), c.uExpect)
            << c.before.size() << " -> " << c.after.size() << " lines";
    }
}

/* A healthy transfer through the six registers, for patterns of each bit
 * width: no check bit and no ECX error. */
TEST_F(MutationKills, HealthyRegisterTransferFlagsNothing)
{
    const uint32_t kPatterns[] = { 0, 1, 0x80000000u, 0xFFFFFFFFu, 0x55AA55AAu, 0x12345678u };
    const RegFaultWords none = {};
    for (uint32_t uPattern : kPatterns) {
        uint32_t bEcxError = 0;
        EXPECT_EQ(RegistersTransfer(uPattern, &none, &bEcxError), 0u) << std::hex << uPattern;
        EXPECT_EQ(bEcxError, 0u) << std::hex << uPattern;
    }
}

/* The unit's initialisation waits for g_InitCPUMutex: while the test holds
 * it, a second thread's initialisation has not finished (it may only finish
 * after the unlock, so the check cannot fail on a correct build). */
TEST_F(MutationKills, InitialisationWaitsForTheInitMutex)
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
TEST_F(MutationKills, DataRegisterTestInitialisesAFullStack)
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
TEST_F(MutationKills, LoadStoreRegistersKeepEveryDisplacement)
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

/* The move tests end their MMX use with EMMS: afterwards every x87 register
 * is tagged empty (tag word 0xFFFF). */
TEST_F(MutationKills, MoveTestsLeaveTheRegisterStackEmpty)
{
    if (MMXExists() == 0)
        GTEST_SKIP() << "this processor has no MMX";
    const struct {
        const char *szName;
        uint16_t (*pfn)(void);
    } kTests[] = { { "MOVD", MMX_TestMOVD }, { "MOVQ", MMX_TestMOVQ } };
    for (const auto &t : kTests) {
        init_cocpu_and_no_exceptions();
        EXPECT_EQ(t.pfn(), 0) << t.szName;
        uint32_t auEnv[7] = {};
        __asm__ volatile("fnstenv %[env]\n\tfldenv %[env]" : [env] "+m"(auEnv));
        EXPECT_EQ(auEnv[2] & 0xFFFF, 0xFFFFu) << t.szName;
        init_cocpu_and_no_exceptions();
    }
}

/* Freeing the cache test's buffer gives its mapping back (a buffer of this
 * size is mapped on its own, so the mapped byte count shows it). */
TEST_F(MutationKills, CacheBufferIsFreed)
{
    const size_t uBefore = mallinfo2().hblkhd;
    g_pdwOurBuffer = (uint32_t *)calloc(1, CACHE_BUFFER_BYTES);
    ASSERT_NE(g_pdwOurBuffer, nullptr);
    const size_t uHeld = mallinfo2().hblkhd;
    FreeCacheAllocatedMemory();
    EXPECT_EQ(g_pdwOurBuffer, nullptr);
    EXPECT_EQ(mallinfo2().hblkhd, uBefore) << "mapped bytes while held: " << uHeld;
}

}  // namespace
