/* test-mmx.cpp - test 2, the MMX unit: the case tables of the fifteen
 * instruction families, the test routines that run them through the fill,
 * instruction and store routines of mmx-asm.cpp, the two move tests, the five
 * groups and do_MMX. A case's mask bit is set when any of the four
 * destination registers (MM0, MM2, MM4, MM6) holds a wrong low double word.
 * Test's thread only (the result area is shared). */
#include "test-mmx.h"

#include <stddef.h>

#include "dapi2-events.h"
#include "mmx-asm.h"
#include "test-fault.h"
#include "test-messages.h"
#include "trace.h"

#define BOTH nullptr

/* Plain add per lane, carry-out discarded (0xFF + 0xFF), 0x80 / 0x8000 sums wrap. */
static const MmxCase s_aPADD[] = {
    { PADDB, &mmx_data_00, BOTH, 0x00000000u, 0x1 },
    { PADDW, &mmx_data_00, BOTH, 0x00000000u, 0x2 },
    { PADDD, &mmx_data_00, BOTH, 0x00000000u, 0x4 },
    { PADDB, &mmx_data_FF, BOTH, 0xFEFEFEFEu, 0x8 },
    { PADDW, &mmx_data_FF, BOTH, 0xFFFEFFFEu, 0x10 },
    { PADDD, &mmx_data_FF, BOTH, 0xFFFFFFFEu, 0x20 },
    { PADDB, &mmx_data_FF, &mmx_data_00, 0xFFFFFFFFu, 0x40 },
    { PADDW, &mmx_data_FF, &mmx_data_00, 0xFFFFFFFFu, 0x80 },
    { PADDD, &mmx_data_FF, &mmx_data_00, 0xFFFFFFFFu, 0x100 },
    { PADDB, &mmx_data_FF, &mmx_data_80, 0x7F7F7F7Fu, 0x200 },
    { PADDW, &mmx_data_FF, &mmx_data_8000, 0x7FFF7FFFu, 0x400 },
    { PADDD, &mmx_data_FF, &mmx_data_8000oooo, 0x7FFFFFFFu, 0x800 },
};

/* Subtract per lane with borrow kept inside the lane. */
static const MmxCase s_aPSUB[] = {
    { PSUBB, &mmx_data_00, BOTH, 0x00000000u, 0x1 },
    { PSUBW, &mmx_data_00, BOTH, 0x00000000u, 0x2 },
    { PSUBD, &mmx_data_00, BOTH, 0x00000000u, 0x4 },
    { PSUBB, &mmx_data_80, &mmx_data_01, 0x7F7F7F7Fu, 0x8 },
    { PSUBW, &mmx_data_8000, &mmx_data_0001, 0x7FFF7FFFu, 0x10 },
    { PSUBD, &mmx_data_8000oooo, &mmx_data_0000ooo1, 0x7FFFFFFFu, 0x20 },
    { PSUBB, &mmx_data_FF, BOTH, 0x00000000u, 0x40 },
    { PSUBW, &mmx_data_FF, BOTH, 0x00000000u, 0x80 },
    { PSUBD, &mmx_data_FF, BOTH, 0x00000000u, 0x100 },
    { PSUBB, &mmx_data_AA, BOTH, 0x00000000u, 0x200 },
    { PSUBW, &mmx_data_AA, BOTH, 0x00000000u, 0x400 },
    { PSUBD, &mmx_data_AA, BOTH, 0x00000000u, 0x800 },
    { PSUBB, &mmx_data_FF, &mmx_data_80, 0x7F7F7F7Fu, 0x1000 },
    { PSUBW, &mmx_data_FF, &mmx_data_8000, 0x7FFF7FFFu, 0x2000 },
    { PSUBD, &mmx_data_FF, &mmx_data_8000oooo, 0x7FFFFFFFu, 0x4000 },
};

/* Signed word products: high halves (PMULHW) and low halves (PMULLW). */
static const MmxCase s_aPMUL[] = {
    { PMULHW, &mmx_data_FF, &mmx_data_FF, 0x00000000u, 0x1 },
    { PMULHW, &mmx_data_FF, &mmx_data_8000, 0x00000000u, 0x2 },
    { PMULHW, &mmx_data_8000, &mmx_data_8000, 0x40004000u, 0x4 },
    { PMULHW, &mmx_data_0001, &mmx_data_0001, 0x00000000u, 0x8 },
    { PMULHW, &mmx_data_7FFF, &mmx_data_7FFF, 0x3FFF3FFFu, 0x10 },
    { PMULHW, &mmx_data_00, &mmx_data_00, 0x00000000u, 0x20 },
    { PMULLW, &mmx_data_FF, &mmx_data_FF, 0x00010001u, 0x40 },
    { PMULLW, &mmx_data_FF, &mmx_data_8000, 0x80008000u, 0x80 },
    { PMULLW, &mmx_data_8000, &mmx_data_8000, 0x00000000u, 0x100 },
    { PMULLW, &mmx_data_0001, &mmx_data_0001, 0x00010001u, 0x200 },
    { PMULLW, &mmx_data_7FFF, &mmx_data_7FFF, 0x00010001u, 0x400 },
    { PMULLW, &mmx_data_00, &mmx_data_00, 0x00000000u, 0x800 },
};

/* PMADDWD: two signed word products added per double word (no bit 0x4). */
static const MmxCase s_aPMADD[] = {
    { PMADDW, &mmx_data_FF, &mmx_data_00, 0x00000000u, 0x1 },
    { PMADDW, &mmx_data_00, &mmx_data_00, 0x00000000u, 0x2 },
    { PMADDW, &mmx_data_7FFF, &mmx_data_0001, 0x0000FFFEu, 0x8 },
    { PMADDW, &mmx_data_FF, &mmx_data_FF, 0x00000002u, 0x10 },
    { PMADDW, &mmx_data_8000, &mmx_data_8000, 0x80000000u, 0x20 },
    { PMADDW, &mmx_data_0001, &mmx_data_0001, 0x00000002u, 0x40 },
    { PMADDW, &mmx_data_7F, &mmx_data_7F, 0x7EFE8202u, 0x80 },
    { PMADDW, &mmx_data_55, &mmx_data_55, 0x38E31C72u, 0x100 },
    { PMADDW, &mmx_data_AA, &mmx_data_AA, 0x38E471C8u, 0x200 },
};

static const MmxCase s_aPAND[] = {
    { PAND, &mmx_data_00, BOTH, 0x00000000u, 0x1 },
    { PAND, &mmx_data_FF, BOTH, 0xFFFFFFFFu, 0x2 },
    { PAND, &mmx_data_00, &mmx_data_FF, 0x00000000u, 0x4 },
    { PAND, &mmx_data_FF, &mmx_data_00, 0x00000000u, 0x8 },
    { PAND, &mmx_data_AA, &mmx_data_55, 0x00000000u, 0x10 },
    { PAND, &mmx_data_55, &mmx_data_AA, 0x00000000u, 0x20 },
};

/* PANDN: (NOT destination) AND source. */
static const MmxCase s_aPANDN[] = {
    { PANDN, &mmx_data_00, BOTH, 0x00000000u, 0x1 },
    { PANDN, &mmx_data_FF, BOTH, 0x00000000u, 0x2 },
    { PANDN, &mmx_data_00, &mmx_data_FF, 0xFFFFFFFFu, 0x4 },
    { PANDN, &mmx_data_FF, &mmx_data_00, 0x00000000u, 0x8 },
    { PANDN, &mmx_data_AA, &mmx_data_55, 0x55555555u, 0x10 },
    { PANDN, &mmx_data_55, &mmx_data_AA, 0xAAAAAAAAu, 0x20 },
};

static const MmxCase s_aPOR[] = {
    { POR, &mmx_data_00, BOTH, 0x00000000u, 0x1 },
    { POR, &mmx_data_FF, BOTH, 0xFFFFFFFFu, 0x2 },
    { POR, &mmx_data_00, &mmx_data_FF, 0xFFFFFFFFu, 0x4 },
    { POR, &mmx_data_FF, &mmx_data_00, 0xFFFFFFFFu, 0x8 },
    { POR, &mmx_data_AA, &mmx_data_55, 0xFFFFFFFFu, 0x10 },
    { POR, &mmx_data_55, &mmx_data_AA, 0xFFFFFFFFu, 0x20 },
    { POR, &mmx_data_55, BOTH, 0x55555555u, 0x40 },
    { POR, &mmx_data_AA, BOTH, 0xAAAAAAAAu, 0x80 },
};

static const MmxCase s_aPXOR[] = {
    { PXOR, &mmx_data_00, BOTH, 0x00000000u, 0x1 },
    { PXOR, &mmx_data_FF, BOTH, 0x00000000u, 0x2 },
    { PXOR, &mmx_data_00, &mmx_data_FF, 0xFFFFFFFFu, 0x4 },
    { PXOR, &mmx_data_FF, &mmx_data_00, 0xFFFFFFFFu, 0x8 },
    { PXOR, &mmx_data_AA, &mmx_data_55, 0xFFFFFFFFu, 0x10 },
    { PXOR, &mmx_data_55, &mmx_data_AA, 0xFFFFFFFFu, 0x20 },
    { PXOR, &mmx_data_55, BOTH, 0x00000000u, 0x40 },
    { PXOR, &mmx_data_AA, BOTH, 0x00000000u, 0x80 },
};

/* Left shifts by the count in the odd register; 0xFF clears every lane
 * (no bit 0x4). */
static const MmxCase s_aSLL[] = {
    { PSLLW, &mmx_data_AA, &mmx_data_0000_0000_0000_0001, 0x55545554u, 0x1 },
    { PSLLD, &mmx_data_AA, &mmx_data_0000_0000_0000_0001, 0x55555554u, 0x2 },
    { PSLLW, &mmx_data_55, &mmx_data_0000_0000_0000_0001, 0xAAAAAAAAu, 0x8 },
    { PSLLD, &mmx_data_55, &mmx_data_0000_0000_0000_0001, 0xAAAAAAAAu, 0x10 },
    { PSLLQ, &mmx_data_55, &mmx_data_0000_0000_0000_0001, 0xAAAAAAAAu, 0x20 },
    { PSLLW, &mmx_data_00, &mmx_data_0000_0000_0000_0003, 0x00000000u, 0x40 },
    { PSLLD, &mmx_data_00, &mmx_data_0000_0000_0000_0003, 0x00000000u, 0x80 },
    { PSLLQ, &mmx_data_00, &mmx_data_0000_0000_0000_0003, 0x00000000u, 0x100 },
    { PSLLW, &mmx_data_FF, &mmx_data_0000_0000_0000_00FF, 0x00000000u, 0x200 },
    { PSLLD, &mmx_data_FF, &mmx_data_0000_0000_0000_00FF, 0x00000000u, 0x400 },
    { PSLLQ, &mmx_data_FF, &mmx_data_0000_0000_0000_00FF, 0x00000000u, 0x800 },
};

/* Logical right shifts (no bit 0x20). */
static const MmxCase s_aSRL[] = {
    { PSRLW, &mmx_data_AA, &mmx_data_0000_0000_0000_0001, 0x55555555u, 0x1 },
    { PSRLD, &mmx_data_AA, &mmx_data_0000_0000_0000_0001, 0x55555555u, 0x2 },
    { PSRLQ, &mmx_data_AA, &mmx_data_0000_0000_0000_0001, 0x55555555u, 0x4 },
    { PSRLW, &mmx_data_55, &mmx_data_0000_0000_0000_0001, 0x2AAA2AAAu, 0x8 },
    { PSRLD, &mmx_data_55, &mmx_data_0000_0000_0000_0001, 0x2AAAAAAAu, 0x10 },
    { PSRLW, &mmx_data_00, &mmx_data_0000_0000_0000_0003, 0x00000000u, 0x40 },
    { PSRLD, &mmx_data_00, &mmx_data_0000_0000_0000_0003, 0x00000000u, 0x80 },
    { PSRLQ, &mmx_data_00, &mmx_data_0000_0000_0000_0003, 0x00000000u, 0x100 },
    { PSRLW, &mmx_data_FF, &mmx_data_0000_0000_0000_00FF, 0x00000000u, 0x200 },
    { PSRLD, &mmx_data_FF, &mmx_data_0000_0000_0000_00FF, 0x00000000u, 0x400 },
    { PSRLQ, &mmx_data_FF, &mmx_data_0000_0000_0000_00FF, 0x00000000u, 0x800 },
};

static const MmxCase s_aPCMPEQ[] = {
    { PCMPEQB, &mmx_data_FF, &mmx_data_00, 0x00000000u, 0x1 },
    { PCMPEQW, &mmx_data_FF, &mmx_data_00, 0x00000000u, 0x2 },
    { PCMPEQD, &mmx_data_FF, &mmx_data_00, 0x00000000u, 0x4 },
    { PCMPEQB, &mmx_data_FF, &mmx_data_FF, 0xFFFFFFFFu, 0x8 },
    { PCMPEQW, &mmx_data_FF, &mmx_data_FF, 0xFFFFFFFFu, 0x10 },
    { PCMPEQD, &mmx_data_FF, &mmx_data_FF, 0xFFFFFFFFu, 0x20 },
};

/* Signed greater-than: -1 is not greater than 0. */
static const MmxCase s_aPCMPGT[] = {
    { PCMPGTB, &mmx_data_00, &mmx_data_00, 0x00000000u, 0x1 },
    { PCMPGTW, &mmx_data_00, &mmx_data_00, 0x00000000u, 0x2 },
    { PCMPGTD, &mmx_data_00, &mmx_data_00, 0x00000000u, 0x4 },
    { PCMPGTB, &mmx_data_FF, &mmx_data_00, 0x00000000u, 0x8 },
    { PCMPGTW, &mmx_data_FF, &mmx_data_00, 0x00000000u, 0x10 },
    { PCMPGTD, &mmx_data_FF, &mmx_data_00, 0x00000000u, 0x20 },
    { PCMPGTB, &mmx_data_FF, &mmx_data_FF, 0x00000000u, 0x40 },
    { PCMPGTW, &mmx_data_FF, &mmx_data_FF, 0x00000000u, 0x80 },
    { PCMPGTD, &mmx_data_FF, &mmx_data_FF, 0x00000000u, 0x100 },
};

/* Packing with signed saturation: 0x00010001 double words give 0x7FFF. */
static const MmxCase s_aPACKSS[] = {
    { PACKSSWB, &mmx_data_FF, &mmx_data_FF, 0xFFFFFFFFu, 0x1 },
    { PACKSSDW, &mmx_data_FF, &mmx_data_FF, 0xFFFFFFFFu, 0x2 },
    { PACKSSWB, &mmx_data_00, &mmx_data_00, 0x00000000u, 0x4 },
    { PACKSSDW, &mmx_data_00, &mmx_data_00, 0x00000000u, 0x8 },
    { PACKSSWB, &mmx_data_7FFF, &mmx_data_7FFF, 0x7F7F7F7Fu, 0x10 },
    { PACKSSDW, &mmx_data_7FFF, &mmx_data_7FFF, 0x7FFF7FFFu, 0x20 },
    { PACKSSWB, &mmx_data_0001, &mmx_data_0001, 0x01010101u, 0x40 },
    { PACKSSDW, &mmx_data_0001, &mmx_data_0001, 0x7FFF7FFFu, 0x80 },
    { PACKSSWB, &mmx_data_8000, &mmx_data_8000, 0x80808080u, 0x100 },
    { PACKSSDW, &mmx_data_8000oooo, &mmx_data_8000oooo, 0x80008000u, 0x200 },
};

/* Packing with unsigned saturation: negative words give 0, 0x7FFF gives 0xFF. */
static const MmxCase s_aPACKUS[] = {
    { PACKUSWB, &mmx_data_FF, &mmx_data_FF, 0x00000000u, 0x1 },
    { PACKUSWB, &mmx_data_00, &mmx_data_00, 0x00000000u, 0x2 },
    { PACKUSWB, &mmx_data_7FFF, &mmx_data_7FFF, 0xFFFFFFFFu, 0x4 },
    { PACKUSWB, &mmx_data_0001, &mmx_data_0001, 0x01010101u, 0x8 },
    { PACKUSWB, &mmx_data_8000, &mmx_data_8000, 0x00000000u, 0x10 },
};

/* Interleaving of the high or low halves of destination and source. */
static const MmxCase s_aPUNPCK[] = {
    { PUNPCKHBW, &mmx_data_FF, &mmx_data_00, 0x00FF00FFu, 0x1 },
    { PUNPCKLBW, &mmx_data_FF, &mmx_data_00, 0x00FF00FFu, 0x2 },
    { PUNPCKHWD, &mmx_data_FF, &mmx_data_00, 0x0000FFFFu, 0x4 },
    { PUNPCKLWD, &mmx_data_FF, &mmx_data_00, 0x0000FFFFu, 0x8 },
    { PUNPCKHBW, &mmx_data_00, &mmx_data_80, 0x80008000u, 0x10 },
    { PUNPCKLBW, &mmx_data_00, &mmx_data_8000, 0x80000000u, 0x20 },
    { PUNPCKHWD, &mmx_data_00, &mmx_data_8000, 0x80000000u, 0x40 },
    { PUNPCKLWD, &mmx_data_00, &mmx_data_8000, 0x80000000u, 0x80 },
};

/* 0 when the low 32 bits of the four destination words equal uExpect. */
static int CheckResults(uint32_t uExpect)
{
    if ((uint32_t)mmx_res_0 == uExpect && (uint32_t)mmx_res_2 == uExpect &&
        (uint32_t)mmx_res_4 == uExpect && (uint32_t)mmx_res_6 == uExpect)
        return 0;
    return 1;
}

/* 0 when the low 32 bits of all eight words equal uExpect; 1 at the first
 * difference (MM0 first). */
static int CheckResultsMOVD(uint32_t uExpect)
{
    for (int i = 0; i < 8; i++) {
        if ((uint32_t)mmx_res[i] != uExpect)
            return 1;
    }
    return 0;
}

/* Runs a case table in order: fill, instruction, store, check; ORs the bit
 * of every failing case into the mask; EMMS at the end. */
static uint16_t RunCases(unsigned uRoutine, const MmxCase *pCases, size_t uCount)
{
    uint16_t uMask = 0;
    for (size_t i = 0; i < uCount; i++) {
        const MmxCase *pCase = &pCases[i];
        uint64_t uA = *pCase->pA;
        if (pCase->pB == nullptr) {
            FillMMXRegs((uint32_t)uA, (uint32_t)(uA >> 32));
        } else {
            uint64_t uB = *pCase->pB;
            FillMMXRegs2((uint32_t)uA, (uint32_t)(uA >> 32), (uint32_t)uB, (uint32_t)(uB >> 32));
        }
        pCase->pfnInsn();
        GetMMXRegs();
        TestFaultPoint(2, uRoutine, pCase->uBit, (unsigned)i, mmx_res, sizeof mmx_res);
        if (CheckResults(pCase->uExpect) != 0)
            uMask |= pCase->uBit;
    }
    MmxEmms();
    return uMask;
}

#define RUN_TABLE(routine, table) RunCases((routine), (table), sizeof(table) / sizeof((table)[0]))

/* The table-driven test routines: fault mask of their case table (see the
 * tables above for the bits). Test's thread. */
uint16_t MMX_TestPADD(void)
{
    return RUN_TABLE(MMX_ROUTINE_PADD, s_aPADD);
}
uint16_t MMX_TestPSUB(void)
{
    return RUN_TABLE(MMX_ROUTINE_PSUB, s_aPSUB);
}
uint16_t MMX_TestPMUL(void)
{
    return RUN_TABLE(MMX_ROUTINE_PMUL, s_aPMUL);
}
uint16_t MMX_TestPMADD(void)
{
    return RUN_TABLE(MMX_ROUTINE_PMADD, s_aPMADD);
}
uint16_t MMX_TestPAND(void)
{
    return RUN_TABLE(MMX_ROUTINE_PAND, s_aPAND);
}
uint16_t MMX_TestPANDN(void)
{
    return RUN_TABLE(MMX_ROUTINE_PANDN, s_aPANDN);
}
uint16_t MMX_TestPOR(void)
{
    return RUN_TABLE(MMX_ROUTINE_POR, s_aPOR);
}
uint16_t MMX_TestPXOR(void)
{
    return RUN_TABLE(MMX_ROUTINE_PXOR, s_aPXOR);
}
uint16_t MMX_TestSLL(void)
{
    return RUN_TABLE(MMX_ROUTINE_PSLL, s_aSLL);
}
uint16_t MMX_TestSRL(void)
{
    return RUN_TABLE(MMX_ROUTINE_PSRL, s_aSRL);
}
uint16_t MMX_TestPCMPEQ(void)
{
    return RUN_TABLE(MMX_ROUTINE_PCMPEQ, s_aPCMPEQ);
}
uint16_t MMX_TestPCMPGT(void)
{
    return RUN_TABLE(MMX_ROUTINE_PCMPGT, s_aPCMPGT);
}
uint16_t MMX_TestPACKSS(void)
{
    return RUN_TABLE(MMX_ROUTINE_PACKSS, s_aPACKSS);
}
uint16_t MMX_TestPACKUS(void)
{
    return RUN_TABLE(MMX_ROUTINE_PACKUS, s_aPACKUS);
}
uint16_t MMX_TestPUNPCKLH(void)
{
    return RUN_TABLE(MMX_ROUTINE_PUNPCK, s_aPUNPCK);
}

/* 32-bit moves: 65535 passes of 1 through the copy chain, stored with MOVD.
 * Returns the counter of the first mismatch (65535 down to 1), else 0. */
uint16_t MMX_TestMOVD(void)
{
    for (uint32_t uCount = 0xFFFF; uCount >= 1; uCount--) {
        FillMMXRegs(1, 0);
        GetMMXRegsD();
        TestFaultPoint(2, MMX_ROUTINE_MOVD, 0x01, uCount, mmx_res, sizeof mmx_res);
        if (CheckResultsMOVD(1) != 0) {
            MmxEmms();
            return (uint16_t)uCount;
        }
    }
    MmxEmms();
    return 0;
}

/* 64-bit moves: v in all four word lanes for v = 0xFFFF down to 1, compared
 * at MM7, the end of the copy chain. Returns v of the first mismatch, else 0. */
uint16_t MMX_TestMOVQ(void)
{
    for (uint32_t uV = 0xFFFF; uV >= 1; uV--) {
        uint64_t uValue = (uint64_t)uV * 0x0001000100010001ull;
        FillMMXRegs((uint32_t)uValue, (uint32_t)(uValue >> 32));
        GetMMXRegs();
        TestFaultPoint(2, MMX_ROUTINE_MOVQ, 0x01, uV, mmx_res, sizeof mmx_res);
        if (mmx_res_7 != uValue) {
            MmxEmms();
            return (uint16_t)uV;
        }
    }
    MmxEmms();
    return 0;
}

#define ROUTINE(pfn, name, table)                            \
    {                                                        \
        pfn, name, table, sizeof(table) / sizeof((table)[0]) \
    }
const MmxRoutine g_aMmxRoutines[MMX_ROUTINE_COUNT] = {
    { nullptr, "", nullptr, 0 },
    ROUTINE(MMX_TestPADD, "PADD", s_aPADD),
    ROUTINE(MMX_TestPSUB, "PSUB", s_aPSUB),
    ROUTINE(MMX_TestPMUL, "PMUL", s_aPMUL),
    ROUTINE(MMX_TestPMADD, "PMADD", s_aPMADD),
    ROUTINE(MMX_TestPAND, "PAND", s_aPAND),
    ROUTINE(MMX_TestPANDN, "PANDN", s_aPANDN),
    ROUTINE(MMX_TestPOR, "POR", s_aPOR),
    ROUTINE(MMX_TestPXOR, "PXOR", s_aPXOR),
    ROUTINE(MMX_TestSLL, "PSLL", s_aSLL),
    ROUTINE(MMX_TestSRL, "PSLR", s_aSRL), /* the right shifts are reported as "PSLR" */
    { MMX_TestMOVD, "MOVD", nullptr, 0 },
    { MMX_TestMOVQ, "MOVQ", nullptr, 0 },
    ROUTINE(MMX_TestPCMPEQ, "PCMPEQ", s_aPCMPEQ),
    ROUTINE(MMX_TestPCMPGT, "PCMPGT", s_aPCMPGT),
    ROUTINE(MMX_TestPACKSS, "PACKSS", s_aPACKSS),
    ROUTINE(MMX_TestPACKUS, "PACKUS", s_aPACKUS),
    ROUTINE(MMX_TestPUNPCKLH, "PUNPCK", s_aPUNPCK),
};
#undef ROUTINE

/* Runs the test routines uFirst to uEnd - 1 of a group in order after its
 * informative message; error 10 for each non-zero mask. The move tests have
 * no instruction name of their own in the other groups' sense; a mismatch is
 * reported like theirs, as error 10 with the names "MOVD" and "MOVQ" and the
 * returned counter or lane value as "errno", so that a move fault is never
 * silently dropped. */
static void RunGroup(const TestThreadArgs *pArgs, const char *szInfoTag, unsigned uFirst,
                     unsigned uEnd)
{
    SendTestInfo(pArgs, Dapi2_NlsTagToToken(szInfoTag));
    for (unsigned i = uFirst; i < uEnd; i++) {
        uint16_t uMask = g_aMmxRoutines[i].pfnTest();
        if (uMask != 0) {
            AddError(MMXTEST_ERR,
                     Dapi2_NlsTagToTokenVar("szErrorMMX10_10", "%s%d", "instruction",
                                            g_aMmxRoutines[i].szInstruction, "errno", (int)uMask));
            g_iTestResult = 2;
        }
    }
}

/* Arithmetic group: waits g_uBusyWaitTime, then PADD, PSUB, PMUL, PMADD. Returns pArgs. */
TestThreadArgs *do_MMXarithmetics(TestThreadArgs *pArgs)
{
    BusyWait(g_uBusyWaitTime);
    RunGroup(pArgs, "szInfoMMXArithmatics", MMX_ROUTINE_PADD, MMX_ROUTINE_PAND);
    return pArgs;
}

/* Logical group: PAND, PANDN, POR, PXOR. Returns pArgs. */
TestThreadArgs *do_MMXlogical(TestThreadArgs *pArgs)
{
    RunGroup(pArgs, "szInfoMMXLogical", MMX_ROUTINE_PAND, MMX_ROUTINE_PSLL);
    return pArgs;
}

/* Shift group: PSLL, then the right shifts. Returns pArgs. */
TestThreadArgs *do_MMXshift(TestThreadArgs *pArgs)
{
    RunGroup(pArgs, "szInfoMMXShift", MMX_ROUTINE_PSLL, MMX_ROUTINE_MOVD);
    return pArgs;
}

/* Move group: MOVD, MOVQ. Returns pArgs. */
TestThreadArgs *do_MMXmove(TestThreadArgs *pArgs)
{
    RunGroup(pArgs, "szInfoMMXMove", MMX_ROUTINE_MOVD, MMX_ROUTINE_PCMPEQ);
    return pArgs;
}

/* Compare, pack and unpack group: PCMPEQ, PCMPGT, PACKSS, PACKUS, PUNPCK. Returns pArgs. */
TestThreadArgs *do_MMXmisc(TestThreadArgs *pArgs)
{
    RunGroup(pArgs, "szInfoMMXMisc", MMX_ROUTINE_PCMPEQ, MMX_ROUTINE_COUNT);
    return pArgs;
}

/* Test 2: without MMX warning 9 and result 5 (no group, no percent value);
 * otherwise the five groups with percent 20, 40, 60, 80, 100. Signals the end
 * of the run for a run record. Returns pArgs. Run's thread. */
TestThreadArgs *do_MMX(TestThreadArgs *pArgs)
{
    static TestThreadArgs *(*const s_apfnGroup[5])(TestThreadArgs *) = { do_MMXarithmetics,
                                                                         do_MMXlogical, do_MMXshift,
                                                                         do_MMXmove, do_MMXmisc };

    TPRINTF(4, __FILE__, __LINE__, "", "Enter do_MMX\n");
    uint16_t uHasMmx = MMXExists();
    TestFaultPoint(2, MMX_ROUTINE_PRESENCE, 0, 0, &uHasMmx, sizeof uHasMmx);
    if (uHasMmx == 0) {
        Dapi2_Warning(MMXTEST_WARN_NOMMX, "%s", Dapi2_NlsTagToToken("szWarnNotApplicable10_9"));
        g_iTestResult = 5;
    } else {
        BusyWait(g_uBusyWaitTime);
        for (int i = 0; i < 5; i++) {
            s_apfnGroup[i](pArgs);
            AddPercentDone(20 * (i + 1));
            TPRINTF(4, __FILE__, __LINE__, "", "g_iTestResult:%d\n", g_iTestResult);
        }
    }
    if (pArgs != nullptr)
        SignalEndOfRun();
    TPRINTF(4, __FILE__, __LINE__, "", "Exit do_MMX\n");
    return pArgs;
}
