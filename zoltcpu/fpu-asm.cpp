/* fpu-asm.cpp - x87 sequences of the floating-point unit test, one asm
 * statement each so that exactly these instructions run in this order.
 * Register-to-register forms are written in the assembler's AT&T spelling,
 * which swaps the names of the reversed forms: "fdivp %st,%st(1)" is Intel's
 * FDIVRP ST(1),ST (ST1 = ST0 / ST1), "fsubrp %st,%st(3)" is Intel's
 * FSUBP ST(3),ST (ST3 = ST3 - ST0), "fdiv %st,%st(2)" is Intel's
 * FDIVR ST(2),ST. Integer operands are 16-bit words (the s suffix) kept in
 * the low half of 32-bit locals. */
#include "fpu-asm.h"

#include "test-fault.h"

#ifdef ZOLT_FAULT_BUILD
float g_fFpuFaultAddend;
#endif
/* The fault build adds g_fFpuFaultAddend to ST0 (or, through two FXCH, to
 * ST1) at one place inside the sequences below: where their values are
 * alike, so that a reversed or misplaced form gives another result, or
 * before an integral result's store, so that the store's rounding shows. */
#define FAULT_ADD ZOLT_FAULT_ASM("fadds %[fa]\n\t")
#define FAULT_ADD_ST1 ZOLT_FAULT_ASM("fxch %%st(1)\n\tfadds %[fa]\n\tfxch %%st(1)\n\t")
#define FAULT_ADDEND ZOLT_FAULT_OPERANDS([fa] "m"(g_fFpuFaultAddend))

#define X87_CLOBBERS "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)", "fpsr"

/* Sequences in the order of the checks; each comment in fpu-asm.h gives the
 * instructions, each body the exact operand forms. FpuCmdFclex leaves one
 * value on the register stack and FpuCmdFdecstp/FpuCmdFincstp/FpuCmdFfree
 * leave TOP moved; the next initialisation clears both. */
void FpuInitUnit(void)
{
    uint16_t uCw = 0;
    __asm__ volatile("fninit\n\t"
                     "fstcw %[cw]\n\t"
                     "fwait\n\t"
                     "orw $0x00BF, %[cw]\n\t"
                     "fldcw %[cw]\n\t"
                     "fwait"
                     : [cw] "+m"(uCw)
                     :
                     : X87_CLOBBERS, "cc");
}

void FpuLoadStoreRegs(const uint8_t *pSrc, uint8_t *pDst)
{
    __asm__ volatile("flds 0(%[s])\n\t"
                     "flds 1(%[s])\n\t"
                     "flds 2(%[s])\n\t"
                     "flds 3(%[s])\n\t"
                     "flds 4(%[s])\n\t"
                     "flds 5(%[s])\n\t"
                     "flds 6(%[s])\n\t"
                     "flds 7(%[s])\n\t"
                     "fstps 0(%[d])\n\tfwait\n\t"
                     "fstps 1(%[d])\n\tfwait\n\t"
                     "fstps 2(%[d])\n\tfwait\n\t"
                     "fstps 3(%[d])\n\tfwait\n\t"
                     "fstps 4(%[d])\n\tfwait\n\t"
                     "fstps 5(%[d])\n\tfwait\n\t"
                     "fstps 6(%[d])\n\tfwait\n\t"
                     "fstps 7(%[d])\n\tfwait"
                     :
                     : [s] "r"(pSrc), [d] "r"(pDst)
                     : X87_CLOBBERS, "memory");
}

void FpuCmdFclex(uint32_t *pS1, uint32_t *pS2)
{
    __asm__ volatile("fldz\n\t"
                     "fldz\n\t" FAULT_ADD
                     "fdivp %%st, %%st(1)\n\t" /* FDIVRP: 0/0, invalid operation */
                     "fstsw %[s1]\n\t"
                     "fclex\n\t"
                     "fstsw %[s2]"
                     : [s1] "+m"(*pS1), [s2] "+m"(*pS2)
                     : ZOLT_FAULT_INPUTS([fa] "m"(g_fFpuFaultAddend))
                     : X87_CLOBBERS);
}

void FpuCmdFdecstp(uint32_t *pS1, uint32_t *pS2)
{
    __asm__ volatile("fstsw %[s1]\n\t"
                     "fdecstp\n\t"
                     "fstsw %[s2]"
                     : [s1] "+m"(*pS1), [s2] "+m"(*pS2)
                     :
                     : X87_CLOBBERS);
}

void FpuCmdFfree(uint32_t *pWord, uint32_t *pSw)
{
    __asm__ volatile("fld1\n\tfld1\n\tfld1\n\tfld1\n\t"
                     "fld1\n\tfld1\n\tfld1\n\tfld1\n\t"
                     "ffree %%st(7)\n\t"
                     "ffree %%st(6)\n\t"
                     "ffree %%st(5)\n\t"
                     "ffree %%st(4)\n\t"
                     "ffree %%st(3)\n\t"
                     "ffree %%st(2)\n\t"
                     "ffree %%st(1)\n\t"
                     "ffree %%st(0)\n\t"
                     "fistps %[w]\n\t" /* from an empty register */
                     "fstsw %[sw]"
                     : [w] "+m"(*pWord), [sw] "+m"(*pSw)
                     :
                     : X87_CLOBBERS);
}

void FpuCmdFincstp(uint32_t *pS1, uint32_t *pS2)
{
    __asm__ volatile("fstsw %[s1]\n\t"
                     "fincstp\n\t"
                     "fstsw %[s2]"
                     : [s1] "+m"(*pS1), [s2] "+m"(*pS2)
                     :
                     : X87_CLOBBERS);
}

void FpuCmdFinit(uint32_t *pCw)
{
    uint32_t uLoad = 0x00FF; /* not FINIT's word, so that its reset shows */
    TestFaultPoint(1, 2, 0, 0, &uLoad, sizeof uLoad);
    __asm__ volatile("fldcw %[l]\n\t"
                     "finit\n\t"
                     "fstcw %[cw]"
                     : [cw] "+m"(*pCw)
                     : [l] "m"(uLoad)
                     : X87_CLOBBERS);
}

void FpuCmdFnop(uint32_t *pS1, uint32_t *pS2)
{
    __asm__ volatile("fstsw %[s1]\n\t"
                     "fnop\n\t"
                     "fstsw %[s2]"
                     : [s1] "+m"(*pS1), [s2] "+m"(*pS2)
                     :
                     : X87_CLOBBERS);
}

void FpuStoreCw(uint32_t *pCw)
{
    __asm__ volatile("fstcw %[cw]" : [cw] "+m"(*pCw) : : X87_CLOBBERS);
}

void FpuStoreSw(uint32_t *pSw)
{
    __asm__ volatile("fstsw %[sw]" : [sw] "+m"(*pSw) : : X87_CLOBBERS);
}

void FpuCmdFadd(uint32_t *pWord)
{
    __asm__ volatile("fld1\n\t"
                     "fld1\n\t" FAULT_ADD "faddp %%st, %%st(1)\n\t"
                     "fistps %[w]"
                     : [w] "+m"(*pWord)
                     : ZOLT_FAULT_INPUTS([fa] "m"(g_fFpuFaultAddend))
                     : X87_CLOBBERS);
}

/* (1, 0, 1) -> (1, 0, 2) -> (1, 1, 2) -> (2, 1, 2) -> (3, 2) -> 5 */
void FpuArFadd(uint32_t *pRes)
{
    __asm__ volatile("fld1\n\t"
                     "fldz\n\t" FAULT_ADD "fld1\n\t"
                     "fadd %%st, %%st(2)\n\t"  /* FADD ST(2),ST */
                     "fadd %%st, %%st(1)\n\t"  /* FADD ST(1),ST */
                     "fadd %%st(1), %%st\n\t"  /* FADD ST,ST(1) */
                     "faddp %%st, %%st(1)\n\t" /* FADDP ST(1),ST */
                     "faddp %%st, %%st(1)\n\t"
                     "fistps %[r]"
                     : [r] "+m"(*pRes)
                     : ZOLT_FAULT_INPUTS([fa] "m"(g_fFpuFaultAddend))
                     : X87_CLOBBERS);
}

/* (pi, pi, 1, 1) -> (1, 1, 1) -> ... -> 1 */
void FpuArFdiv(uint32_t *pRes)
{
    __asm__ volatile("fld1\n\t"
                     "fld1\n\t"
                     "fldpi\n\t"
                     "fldpi\n\t" FAULT_ADD
                     "fdivp %%st, %%st(1)\n\t"  /* FDIVRP ST(1),ST: ST1 = ST0/ST1 */
                     "fdiv %%st, %%st(2)\n\t"   /* FDIVR ST(2),ST: ST2 = ST0/ST2 */
                     "fdivrp %%st, %%st(1)\n\t" /* FDIVP ST(1),ST: ST1 = ST1/ST0 */
                     "fdivrp %%st, %%st(1)\n\t"
                     "fistps %[r]"
                     : [r] "+m"(*pRes)
                     : ZOLT_FAULT_INPUTS([fa] "m"(g_fFpuFaultAddend))
                     : X87_CLOBBERS);
}

void FpuArFiadd(uint32_t *pRes)
{
    uint32_t uOne = 1;
    __asm__ volatile("fld1\n\t"
                     "fiadds %[one]\n\t"
                     "fiadds %[one]\n\t" FAULT_ADD "fistps %[r]"
                     : [r] "+m"(*pRes)
                     : [one] "m"(uOne)FAULT_ADDEND
                     : X87_CLOBBERS);
}

void FpuArFidiv(uint32_t *pRes)
{
    uint32_t uFive = 5;
    __asm__ volatile("fld1\n\t"
                     "fidivrs %[five]\n\t"          /* 5 / 1 */
                     FAULT_ADD "fidivs %[five]\n\t" /* 5 / 5 */
                     "fistps %[r]"
                     : [r] "+m"(*pRes)
                     : [five] "m"(uFive)FAULT_ADDEND
                     : X87_CLOBBERS);
}

void FpuArFimul(uint32_t *pL1, uint32_t *pL2)
{
    uint32_t uTen = 10;
    __asm__ volatile("fldz\n\t"
                     "fld1\n\t"
                     "fimuls %[ten]\n\t"
                     "fistps %[l1]\n\t"
                     "fimuls %[ten]\n\t"
                     "fistps %[l2]"
                     : [l1] "+m"(*pL1), [l2] "+m"(*pL2)
                     : [ten] "m"(uTen)
                     : X87_CLOBBERS);
}

void FpuArFisub(uint32_t *pRes)
{
    uint32_t uTen = 10, uOne = 1;
    __asm__ volatile("fld1\n\t"
                     "fisubrs %[ten]\n\t" /* 10 - 1 */
                     "fisubs %[one]\n\t"  /* 9 - 1 */
                     FAULT_ADD "fistps %[r]"
                     : [r] "+m"(*pRes)
                     : [ten] "m"(uTen), [one] "m"(uOne)FAULT_ADDEND
                     : X87_CLOBBERS);
}

/* (pi, pi, 1) -> (pi, pi, pi) -> (pi, pi^2, pi) -> (pi^3, pi) -> pi^4 */
void FpuArFmul(uint32_t *pRes)
{
    __asm__ volatile("fld1\n\t"
                     "fldpi\n\t"
                     "fldpi\n\t"
                     "fmul %%st, %%st(2)\n\t"                /* FMUL ST(2),ST */
                     "fmul %%st, %%st(1)\n\t"                /* FMUL ST(1),ST */
                     FAULT_ADD_ST1 "fmulp %%st, %%st(1)\n\t" /* FMULP ST(1),ST */
                     "fmulp %%st, %%st(1)\n\t"
                     "fistps %[r]"
                     : [r] "+m"(*pRes)
                     : ZOLT_FAULT_INPUTS([fa] "m"(g_fFpuFaultAddend))
                     : X87_CLOBBERS);
}

/* (0, pi, 1, pi) -> (pi, 1, pi) -> (pi - 1, pi) -> -1 */
void FpuArFsub(uint32_t *pRes)
{
    __asm__ volatile("fldpi\n\t"
                     "fld1\n\t"
                     "fldpi\n\t"
                     "fldz\n\t"
                     "fsubrp %%st, %%st(3)\n\t" /* FSUBP ST(3),ST: ST3 = ST3 - ST0 */
                     "fsubp %%st, %%st(1)\n\t"  /* FSUBRP ST(1),ST: ST1 = ST0 - ST1 */
                     "fsubp %%st, %%st(1)\n\t" FAULT_ADD "fistps %[r]"
                     : [r] "+m"(*pRes)
                     : ZOLT_FAULT_INPUTS([fa] "m"(g_fFpuFaultAddend))
                     : X87_CLOBBERS);
}

void FpuTrF2xm1(uint32_t *pRes)
{
    uint32_t uTwo = 2;
    __asm__ volatile("fld1\n\t"
                     "fidivs %[two]\n\t" /* 0.5 */
                     FAULT_ADD "f2xm1\n\t"
                     "fistps %[r]"
                     : [r] "+m"(*pRes)
                     : [two] "m"(uTwo)FAULT_ADDEND
                     : X87_CLOBBERS);
}

void FpuTrFpatan(uint32_t *pRes)
{
    uint32_t uFour = 4, uScale = 10000;
    __asm__ volatile("fld1\n\t"
                     "filds %[four]\n\t"
                     "fpatan\n\t" /* arctan(1/4) */
                     "fimuls %[scale]\n\t"
                     "fistps %[r]"
                     : [r] "+m"(*pRes)
                     : [four] "m"(uFour), [scale] "m"(uScale)
                     : X87_CLOBBERS);
}

void FpuTrFptan(uint32_t *pRes)
{
    uint32_t uEight = 8, uScale = 10000;
    __asm__ volatile("fldpi\n\t"
                     "fidivs %[eight]\n\t"     /* pi/8 */
                     "fptan\n\t"               /* pushes 1.0 above tan(pi/8) */
                     "fdivp %%st, %%st(1)\n\t" /* FDIVRP ST(1),ST: 1 / tan(pi/8) */
                     "fimuls %[scale]\n\t"
                     "fistps %[r]"
                     : [r] "+m"(*pRes)
                     : [eight] "m"(uEight), [scale] "m"(uScale)
                     : X87_CLOBBERS);
}

void FpuTrFyl2x(uint32_t *pRes)
{
    uint32_t uTen = 10, uX = 16384;
    __asm__ volatile("filds %[ten]\n\t"
                     "filds %[x]\n\t"
                     "fyl2x\n\t" /* 10 * log2(16384) */
                     FAULT_ADD "fistps %[r]"
                     : [r] "+m"(*pRes)
                     : [ten] "m"(uTen), [x] "m"(uX)FAULT_ADDEND
                     : X87_CLOBBERS);
}

void FpuTrFyl2xp1(uint32_t *pRes)
{
    uint32_t uY = 10000, uFour = 4;
    __asm__ volatile("filds %[y]\n\t"
                     "fld1\n\t"
                     "fidivs %[four]\n\t" /* 0.25 */
                     "fyl2xp1\n\t"        /* 10000 * log2(1.25) */
                     "fistps %[r]"
                     : [r] "+m"(*pRes)
                     : [y] "m"(uY), [four] "m"(uFour)
                     : X87_CLOBBERS);
}
