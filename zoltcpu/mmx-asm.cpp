/* mmx-asm.cpp - MMX presence check, operand patterns, fill, instruction and
 * store routines of the MMX test. Valid for x86_64 and i386: only the flag
 * save and restore around the identification-bit probe differs (PUSHFQ/POPFQ
 * in 64-bit mode, below a 128-byte skip of the red zone). */
#include "mmx-asm.h"

#include "test-fault.h"

const uint64_t mmx_data_00 = 0x0000000000000000ull;
const uint64_t mmx_data_FF = 0xFFFFFFFFFFFFFFFFull;
const uint64_t mmx_data_55 = 0x5555555555555555ull;
const uint64_t mmx_data_AA = 0xAAAAAAAAAAAAAAAAull;
const uint64_t mmx_data_7FFF = 0x7FFF7FFF7FFF7FFFull;
const uint64_t mmx_data_7F = 0x7F7F7F7F7F7F7F7Full;
const uint64_t mmx_data_80 = 0x8080808080808080ull;
const uint64_t mmx_data_8000 = 0x8000800080008000ull;
const uint64_t mmx_data_8000oooo = 0x8000000080000000ull;
const uint64_t mmx_data_01 = 0x0101010101010101ull;
const uint64_t mmx_data_0001 = 0x0001000100010001ull;
const uint64_t mmx_data_0000ooo1 = 0x0000000100000001ull;
const uint64_t mmx_data_0000_0000_0000_0001 = 0x0000000000000001ull;
const uint64_t mmx_data_0000_0000_0000_0003 = 0x0000000000000003ull;
const uint64_t mmx_data_0000_0000_0000_00FF = 0x00000000000000FFull;

uint64_t mmx_res[8];
uint64_t &mmx_res_0 = mmx_res[0], &mmx_res_1 = mmx_res[1], &mmx_res_2 = mmx_res[2];
uint64_t &mmx_res_3 = mmx_res[3], &mmx_res_4 = mmx_res[4], &mmx_res_5 = mmx_res[5];
uint64_t &mmx_res_6 = mmx_res[6], &mmx_res_7 = mmx_res[7];

/* 1 with CPUID and the MMX bit, else 0 (see mmx-asm.h). Any thread. */
uint16_t MMXExists(void)
{
    uint32_t uChanged;
    /* Flip EFLAGS.ID, write it, read it back, restore the saved EFLAGS;
     * uChanged keeps the bits that followed the write. */
#if defined(__x86_64__)
    uint64_t uSaved, uWork;
    __asm__ volatile("addq $-128, %%rsp\n\t" /* keep clear of the red zone */
                     "pushfq\n\t"
                     "popq %[w]\n\t"
                     "movq %[w], %[s]\n\t"
                     "xorq $0x200000, %[w]\n\t"
                     "pushq %[w]\n\t"
                     "popfq\n\t"
                     "pushfq\n\t"
                     "popq %[w]\n\t"
                     "pushq %[s]\n\t"
                     "popfq\n\t"
                     "subq $-128, %%rsp\n\t"
                     "xorq %[s], %[w]"
                     : [w] "=&r"(uWork), [s] "=&r"(uSaved)
                     :
                     : "cc");
    uChanged = (uint32_t)uWork;
#else
    uint32_t uSaved, uWork;
    __asm__ volatile("pushfl\n\t"
                     "popl %[w]\n\t"
                     "movl %[w], %[s]\n\t"
                     "xorl $0x200000, %[w]\n\t"
                     "pushl %[w]\n\t"
                     "popfl\n\t"
                     "pushfl\n\t"
                     "popl %[w]\n\t"
                     "pushl %[s]\n\t"
                     "popfl\n\t"
                     "xorl %[s], %[w]"
                     : [w] "=&r"(uWork), [s] "=&r"(uSaved)
                     :
                     : "cc");
    uChanged = uWork;
#endif
    if ((uChanged & 0x200000u) == 0)
        return 0; /* the bit did not change: no CPUID */

    uint32_t uEax = 1, uEbx, uEcx, uEdx = 0;
    __asm__ volatile("cpuid" : "+a"(uEax), "=b"(uEbx), "=c"(uEcx), "+d"(uEdx));
    (void)uEbx;
    (void)uEcx;
    /* the feature word, for a test to change (case 1: do_MMX's answer is case 0) */
    TestFaultPoint(2, 0, 0, 1, &uEdx, sizeof uEdx);
    return (uEdx & 0x800000u) != 0 ? 1 : 0;
}

/* The MMX registers may be named as clobbers only where the target has MMX;
 * the i386 baseline does not, so the routines that touch them say so. */
#define MMX_FN __attribute__((target("mmx")))

#define MMX_ALL "mm0", "mm1", "mm2", "mm3", "mm4", "mm5", "mm6", "mm7"

MMX_FN void FillMMXRegs(uint32_t uLow, uint32_t uHigh)
{
    const uint32_t auValue[2] = { uLow, uHigh };
    __asm__ volatile("movq %[v], %%mm0\n\t"
                     "movq %%mm0, %%mm1\n\t"
                     "movq %%mm1, %%mm2\n\t"
                     "movq %%mm2, %%mm3\n\t"
                     "movq %%mm3, %%mm4\n\t"
                     "movq %%mm4, %%mm5\n\t"
                     "movq %%mm5, %%mm6\n\t"
                     "movq %%mm6, %%mm7"
                     :
                     : [v] "m"(auValue)
                     : MMX_ALL);
}

MMX_FN void FillMMXRegs2(uint32_t uALow, uint32_t uAHigh, uint32_t uBLow, uint32_t uBHigh)
{
    const uint32_t auA[2] = { uALow, uAHigh };
    const uint32_t auB[2] = { uBLow, uBHigh };
    __asm__ volatile("movq %[a], %%mm0\n\t"
                     "movq %[b], %%mm1\n\t"
                     "movq %%mm0, %%mm2\n\t"
                     "movq %%mm1, %%mm3\n\t"
                     "movq %%mm2, %%mm4\n\t"
                     "movq %%mm3, %%mm5\n\t"
                     "movq %%mm4, %%mm6\n\t"
                     "movq %%mm5, %%mm7"
                     :
                     : [a] "m"(auA), [b] "m"(auB)
                     : MMX_ALL);
}

MMX_FN void GetMMXRegs(void)
{
    __asm__ volatile(
        "movq %%mm0, %[r0]\n\t"
        "movq %%mm1, %[r1]\n\t"
        "movq %%mm2, %[r2]\n\t"
        "movq %%mm3, %[r3]\n\t"
        "movq %%mm4, %[r4]\n\t"
        "movq %%mm5, %[r5]\n\t"
        "movq %%mm6, %[r6]\n\t"
        "movq %%mm7, %[r7]"
        : [r0] "=m"(mmx_res_0), [r1] "=m"(mmx_res_1), [r2] "=m"(mmx_res_2), [r3] "=m"(mmx_res_3),
          [r4] "=m"(mmx_res_4), [r5] "=m"(mmx_res_5), [r6] "=m"(mmx_res_6), [r7] "=m"(mmx_res_7));
}

/* MOVD writes 32 bits: the operands are the words' low halves ("+m" because
 * the high halves stay as they were). */
MMX_FN void GetMMXRegsD(void)
{
    __asm__ volatile(
        "movd %%mm0, %[r0]\n\t"
        "movd %%mm1, %[r1]\n\t"
        "movd %%mm2, %[r2]\n\t"
        "movd %%mm3, %[r3]\n\t"
        "movd %%mm4, %[r4]\n\t"
        "movd %%mm5, %[r5]\n\t"
        "movd %%mm6, %[r6]\n\t"
        "movd %%mm7, %[r7]"
        : [r0] "+m"(mmx_res_0), [r1] "+m"(mmx_res_1), [r2] "+m"(mmx_res_2), [r3] "+m"(mmx_res_3),
          [r4] "+m"(mmx_res_4), [r5] "+m"(mmx_res_5), [r6] "+m"(mmx_res_6), [r7] "+m"(mmx_res_7));
}

MMX_FN void MmxEmms(void)
{
    __asm__ volatile("emms"
                     :
                     :
                     : MMX_ALL, "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)",
                       "st(7)");
}

/* One instruction on the four register pairs; the even registers change. */
#define MMX_PAIRS(name, insn)                                                   \
    MMX_FN void name(void)                                                      \
    {                                                                           \
        __asm__ volatile(insn " %%mm1, %%mm0\n\t" insn " %%mm3, %%mm2\n\t" insn \
                              " %%mm5, %%mm4\n\t" insn " %%mm7, %%mm6"          \
                         :                                                      \
                         :                                                      \
                         : "mm0", "mm2", "mm4", "mm6");                         \
    }

MMX_PAIRS(PADDB, "paddb")
MMX_PAIRS(PADDW, "paddw")
MMX_PAIRS(PADDD, "paddd")
MMX_PAIRS(PSUBB, "psubb")
MMX_PAIRS(PSUBW, "psubw")
MMX_PAIRS(PSUBD, "psubd")
MMX_PAIRS(PMULHW, "pmulhw")
MMX_PAIRS(PMULLW, "pmullw")
MMX_PAIRS(PMADDW, "pmaddwd")
MMX_PAIRS(PAND, "pand")
MMX_PAIRS(PANDN, "pandn")
MMX_PAIRS(POR, "por")
MMX_PAIRS(PXOR, "pxor")
MMX_PAIRS(PSLLW, "psllw")
MMX_PAIRS(PSLLD, "pslld")
MMX_PAIRS(PSLLQ, "psllq")
MMX_PAIRS(PSRLW, "psrlw")
MMX_PAIRS(PSRLD, "psrld")
MMX_PAIRS(PSRLQ, "psrlq")
MMX_PAIRS(PCMPEQB, "pcmpeqb")
MMX_PAIRS(PCMPEQW, "pcmpeqw")
MMX_PAIRS(PCMPEQD, "pcmpeqd")
MMX_PAIRS(PCMPGTB, "pcmpgtb")
MMX_PAIRS(PCMPGTW, "pcmpgtw")
MMX_PAIRS(PCMPGTD, "pcmpgtd")
MMX_PAIRS(PACKSSDW, "packssdw")
MMX_PAIRS(PACKSSWB, "packsswb")
MMX_PAIRS(PACKUSWB, "packuswb")
MMX_PAIRS(PUNPCKHBW, "punpckhbw")
MMX_PAIRS(PUNPCKLBW, "punpcklbw")
MMX_PAIRS(PUNPCKHWD, "punpckhwd")
MMX_PAIRS(PUNPCKLWD, "punpcklwd")
