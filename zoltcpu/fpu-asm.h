/* fpu-asm.h - the x87 instruction sequences of the floating-point unit test.
 * Each routine is one asm sequence; words read back are 16-bit stores into
 * the low half of a 32-bit word the caller presets (the upper half stays).
 * The caller initialises the unit before each sequence; the state belongs to
 * the calling thread. */
#ifndef ZOLTCPU_FPU_ASM_H
#define ZOLTCPU_FPU_ASM_H

#include <stdint.h>

#ifdef ZOLT_FAULT_BUILD
/* Added inside the FCLEX, FADD, F2XM1 and arithmetic sequences but FIMUL,
 * and before FYL2X's store (0 by default: the designed results); the product
 * has neither the variable nor the additions. */
extern float g_fFpuFaultAddend;
#endif

/* FNINIT; FSTCW; FWAIT; OR 0x00BF into the word; FLDCW; FWAIT. No lock. */
void FpuInitUnit(void);

/* FLD single from pSrc + 0..7, then FSTP single to pDst + 0..7 (each followed
 * by FWAIT); both buffers hold at least 12 bytes. */
void FpuLoadStoreRegs(const uint8_t *pSrc, uint8_t *pDst);

/* Control instructions; pS1/pS2 receive the status word before and after. */
void FpuCmdFclex(uint32_t *pS1, uint32_t *pS2);   /* FLDZ FLDZ FDIVRP; FSTSW; FCLEX; FSTSW */
void FpuCmdFdecstp(uint32_t *pS1, uint32_t *pS2); /* FSTSW; FDECSTP; FSTSW */
void FpuCmdFfree(uint32_t *pWord, uint32_t *pSw); /* FLD1 x8; FFREE ST(7)..ST(0); FISTP; FSTSW */
void FpuCmdFincstp(uint32_t *pS1, uint32_t *pS2); /* FSTSW; FINCSTP; FSTSW */
void FpuCmdFinit(uint32_t *pCw);                  /* FLDCW 0x00FF; FINIT; FSTCW */
void FpuCmdFnop(uint32_t *pS1, uint32_t *pS2);    /* FSTSW; FNOP; FSTSW */
void FpuStoreCw(uint32_t *pCw);                   /* FSTCW */
void FpuStoreSw(uint32_t *pSw);                   /* FSTSW */
void FpuCmdFadd(uint32_t *pWord);                 /* FLD1 FLD1 FADDP; FISTP */

/* Arithmetic (results by FISTP, round to nearest). */
void FpuArFadd(uint32_t *pRes);                /* 5 */
void FpuArFdiv(uint32_t *pRes);                /* 1 */
void FpuArFiadd(uint32_t *pRes);               /* 3 */
void FpuArFidiv(uint32_t *pRes);               /* 1 */
void FpuArFimul(uint32_t *pL1, uint32_t *pL2); /* 10, 0 */
void FpuArFisub(uint32_t *pRes);               /* 8 */
void FpuArFmul(uint32_t *pRes);                /* 97 */
void FpuArFsub(uint32_t *pRes);                /* 0xFFFF */

/* Transcendental instructions. */
void FpuTrF2xm1(uint32_t *pRes);   /* 0 */
void FpuTrFpatan(uint32_t *pRes);  /* 2450 */
void FpuTrFptan(uint32_t *pRes);   /* 24142 */
void FpuTrFyl2x(uint32_t *pRes);   /* 140 */
void FpuTrFyl2xp1(uint32_t *pRes); /* 3219, not compared */

#endif /* ZOLTCPU_FPU_ASM_H */
