/* Tests of test 2, the MMX unit: each instruction routine against a
 * lane-by-lane model of its instruction, the product's case tables against
 * that model, every case's fault path, the move tests, a pinned run. */
#include "zoltcpu/cpu-test-events.h"

#include <string.h>

#include <functional>

#include "mmx-asm.h"

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

/* The model of an instruction routine; null when it has none. */
const MmxModel *ModelOf(void (*pfn)(void))
{
    for (const MmxModel &m : kMmx)
        if (m.pfn == pfn)
            return &m;
    return nullptr;
}

/* The model covers the product's list of instruction routines, in its order. */
TEST(MmxModel, CoversEveryInstructionOfTheProductList)
{
#define MMX_ROUTINE_NAME(name, family) #name,
    const std::vector<std::string> vProduct = { MMX_INSTRUCTIONS(MMX_ROUTINE_NAME) };
#undef MMX_ROUTINE_NAME
    std::vector<std::string> vModel;
    for (const MmxModel &m : kMmx)
        vModel.push_back(m.szName);
    EXPECT_EQ(vModel, vProduct);
}

/* Each operand pattern holds what its name says: the name's hex digits ("o"
 * a zero digit) repeated over 64 bits, or written out in 16-bit groups. */
TEST(MmxModel, OperandPatternsHoldTheirNames)
{
#define PATTERN(name) { #name, mmx_data_##name },
    const std::pair<std::string, uint64_t> kPatterns[] = {
        PATTERN(00) PATTERN(FF) PATTERN(55) PATTERN(AA) PATTERN(7FFF) PATTERN(7F) PATTERN(80)
            PATTERN(8000) PATTERN(01) PATTERN(0001) PATTERN(8000oooo) PATTERN(0000ooo1)
                PATTERN(0000_0000_0000_0001) PATTERN(0000_0000_0000_0003)
                    PATTERN(0000_0000_0000_00FF)
    };
#undef PATTERN
    for (const auto &p : kPatterns) {
        std::string sHex;
        for (char ch : p.first)
            if (ch != '_')
                sHex += ch == 'o' ? '0' : ch;
        while (sHex.size() < 16)
            sHex += sHex;
        EXPECT_EQ(p.second, std::stoull(sHex, nullptr, 16)) << p.first;
    }
}

/* Every case of the product's tables expects what the model computes from
 * its patterns (the low double word), has an instruction and operand pair of
 * its own, and the next bit of its routine's mask (bits 0x1, 0x2, ... in table
 * order; PMADD and PSLL have no 0x4, PSRL no 0x20). A routine of several
 * instructions runs its patterns through each in turn, in the list's order:
 * the bit's position names the instruction (PMUL: six high halves, then six
 * low ones). */
TEST(MmxModel, CaseTablesAgreeWithTheModel)
{
    for (unsigned r = MMX_ROUTINE_PADD; r < MMX_ROUTINE_COUNT; r++) {
        const unsigned uGap = r == MMX_ROUTINE_PMADD || r == MMX_ROUTINE_PSLL ? 0x4
                              : r == MMX_ROUTINE_PSRL                         ? 0x20
                                                                              : 0;
        unsigned uNext = 1;
        const MmxCase *pFirst = g_aMmxRoutines[r].pCases, *pEnd = pFirst + g_aMmxRoutines[r].uCount;
        std::vector<const MmxModel *> vTurn; /* the routine's instructions in list order */
        for (const MmxModel &m : kMmx)
            if (std::any_of(pFirst, pEnd, [&](const MmxCase &c) { return c.pfnInsn == m.pfn; }))
                vTurn.push_back(&m);
        for (size_t i = 0; i < g_aMmxRoutines[r].uCount; i++) {
            const MmxCase &c = g_aMmxRoutines[r].pCases[i];
            const MmxModel *pModel = ModelOf(c.pfnInsn);
            ASSERT_NE(pModel, nullptr) << g_aMmxRoutines[r].szInstruction << " case " << i;
            const unsigned uPos = (unsigned)__builtin_ctz(c.uBit);
            EXPECT_EQ(pModel, vTurn[r == MMX_ROUTINE_PMUL ? uPos / 6 : uPos % vTurn.size()])
                << pModel->szName << " case " << i;
            const uint64_t uB = c.pB != nullptr ? *c.pB : *c.pA;
            EXPECT_EQ((uint32_t)pModel->model(*c.pA, uB), c.uExpect)
                << pModel->szName << " case " << i << std::hex << " a=" << *c.pA << " b=" << uB;
            uNext <<= uNext == uGap ? 1 : 0;
            EXPECT_EQ(c.uBit, uNext) << g_aMmxRoutines[r].szInstruction << " case " << i;
            uNext <<= 1;
            for (size_t j = 0; j < i; j++) {
                const MmxCase &d = g_aMmxRoutines[r].pCases[j];
                EXPECT_FALSE(d.pfnInsn == c.pfnInsn && d.pA == c.pA &&
                             (d.pB ? d.pB : d.pA) == (c.pB ? c.pB : c.pA)) /* BOTH: B is A */
                    << pModel->szName << " cases " << j << " and " << i;
            }
        }
    }
}

/* Even registers hold a op b, odd ones keep b, in all four pairs. */
TEST_F(CpuTestFixture, MmxInstructionRoutinesComputeTheirInstruction)
{
    if (!CannotRun(2).empty())
        GTEST_SKIP() << CannotRun(2);
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

/* The name error 10 gives a faulty instruction: the longest routine name its
 * own name starts with (PAND, PANDN, PMUL for PMULHW, PMADD for PMADDW); the
 * right shifts are reported as "PSLR". */
const char *ReportedName(const std::string &sInsn)
{
    const char *szBest = sInsn.rfind("PSRL", 0) == 0 ? "PSLR" : "";
    for (const MmxRoutine &routine : g_aMmxRoutines)
        if (sInsn.rfind(routine.szInstruction, 0) == 0 &&
            strlen(routine.szInstruction) > strlen(szBest))
            szBest = routine.szInstruction;
    return szBest;
}

/* Each case of each routine of the product's tables alone: its bit alone as
 * "errno" with the name of the instruction the case runs, whichever
 * destination register (MM0, MM2, MM4, MM6, in turn) holds the wrong low
 * word; the source registers and the high halves are not compared, and no
 * case answers to another case's number. */
TEST_F(CpuTestFixture, EachMmxCaseReportsItsOwnBitAndName)
{
    std::vector<FaultCase> v;
    for (unsigned r = MMX_ROUTINE_PADD; r < MMX_ROUTINE_COUNT; r++) {
        const MmxRoutine &routine = g_aMmxRoutines[r];
        for (size_t i = 0; i < routine.uCount; i++)
            v.push_back({ 2, r, routine.pCases[i].uBit, (int)i, 16 * (unsigned)(i % 4),
                          0x80000001u >> (i % 2 * 31), routine.pCases[i].uBit,
                          ReportedName(ModelOf(routine.pCases[i].pfnInsn)->szName) });
        if (routine.uCount == 0)
            continue;
        const unsigned uLast = routine.pCases[routine.uCount - 1].uBit;
        v.push_back({ 2, r, routine.pCases[1].uBit, 0, 0, 1, 0, "" });
        v.push_back({ 2, r, uLast, -1, 8, 1, 0, "" });
        v.push_back({ 2, r, uLast, -1, 4, 1, 0, "" });
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
    { 2, MMX_ROUTINE_MOVQ, 0x01, 1, 56, 0x1, 1, "MOVQ" },
};

TEST_F(CpuTestFixture, MmxMoveFaultsGiveTheCounterOrLaneValue)
{
    RUN_FAULT_CASES(2, kMmxMoveFaults);
}
/* A processor without MMX (the presence check's answer turned, or bit 23 of
 * the CPUID feature word cleared; bit 24 is not the one): warning 9, result 5,
 * no group and no percent value. */
TEST_F(CpuTestFixture, WithoutMmxWarningNineAndNoGroup)
{
    if (!CannotRun(2).empty())
        GTEST_SKIP() << CannotRun(2);
    for (const InjectedFault &f : { InjectedFault{ 2, MMX_ROUTINE_PRESENCE, 0, 0, 0x1, 0 },
                                    InjectedFault{ 2, MMX_ROUTINE_PRESENCE, 0, 1, 0x800000, 0 } }) {
        g_faults = { f };
        g_events.clear();
        do_MMX(nullptr);
        EXPECT_EQ(Seen(), "WARN 9 szWarnNotApplicable10_9") << "case " << f.iCase;
        EXPECT_EQ(g_iTestResult, 5);
    }
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

/* The 32-bit store and the single fill's copy chain: each slot gets its own
 * register, MOVD leaves the high half of a slot alone (the pair fill and the
 * 64-bit store: MmxInstructionRoutinesComputeTheirInstruction). */
TEST_F(CpuTestFixture, FillAndStoreRoutinesKeepEachRegisterInItsSlot)
{
    if (!CannotRun(2).empty())
        GTEST_SKIP() << CannotRun(2);
    const uint64_t a = 0x1122334455667788ull, b = 0x99AABBCCDDEEFF00ull;
    const uint64_t uSentinel = 0x5A5A5A5A5A5A5A5Aull;

    FillMMXRegs2((uint32_t)a, (uint32_t)(a >> 32), (uint32_t)b, (uint32_t)(b >> 32));
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

/* Every test routine passes here, and fails with its check 0x01 faulty, and
 * either way ends its MMX use with EMMS (the move tests on their early
 * return too): afterwards every x87 register is tagged empty (0xFFFF). */
TEST_F(CpuTestFixture, EachTestRoutineLeavesTheRegisterStackEmpty)
{
    if (!CannotRun(2).empty())
        GTEST_SKIP() << CannotRun(2);
    for (unsigned u = 2 * MMX_ROUTINE_PADD; u < 2 * MMX_ROUTINE_COUNT; u++) {
        const unsigned r = u / 2;
        g_faults = { { 2, r, 0x01, -1, u % 2, r == MMX_ROUTINE_MOVQ ? 56u : 0u } }; /* MOVQ: MM7 */
        init_cocpu_and_no_exceptions();
        EXPECT_EQ(g_aMmxRoutines[r].pfnTest() != 0, u % 2 != 0) << g_aMmxRoutines[r].szInstruction;
        uint32_t auEnv[7] = {};
        __asm__ volatile("fnstenv %[env]\n\tfldenv %[env]" : [env] "+m"(auEnv));
        EXPECT_EQ(auEnv[2] & 0xFFFF, 0xFFFFu) << g_aMmxRoutines[r].szInstruction;
    }
    init_cocpu_and_no_exceptions();
}

TEST_F(CpuTestFixture, MmxPinnedRunQueuesItsEventsAndSignalsTheEnd)
{
    ExpectPinnedRunQueues(2);
}

}  // namespace
