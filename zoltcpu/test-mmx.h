/* test-mmx.h - test 2, the MMX unit: fifteen instruction families run over
 * fixed operand patterns in five groups, plus the MMX presence check that the
 * CPU enumeration shares. Each test routine returns a 16-bit fault mask, one
 * bit per case; a non-zero mask is error 10 with the routine's instruction
 * name. */
#ifndef ZOLTCPU_TEST_MMX_H
#define ZOLTCPU_TEST_MMX_H

#include <stddef.h>
#include <stdint.h>

#include "cpu-driver.h"

#define MMXTEST_ERR 10       /* "szErrorMMX10_10", variables instruction, errno */
#define MMXTEST_WARN_NOMMX 9 /* "szWarnNotApplicable10_9" */

/* Order numbers of the test routines (the uSubTest of the fault seam);
 * 0 is the presence check in do_MMX. */
enum {
    MMX_ROUTINE_PRESENCE = 0,
    MMX_ROUTINE_PADD = 1,
    MMX_ROUTINE_PSUB,
    MMX_ROUTINE_PMUL,
    MMX_ROUTINE_PMADD,
    MMX_ROUTINE_PAND,
    MMX_ROUTINE_PANDN,
    MMX_ROUTINE_POR,
    MMX_ROUTINE_PXOR,
    MMX_ROUTINE_PSLL,
    MMX_ROUTINE_PSRL,
    MMX_ROUTINE_MOVD,
    MMX_ROUTINE_MOVQ,
    MMX_ROUTINE_PCMPEQ,
    MMX_ROUTINE_PCMPGT,
    MMX_ROUTINE_PACKSS,
    MMX_ROUTINE_PACKUS,
    MMX_ROUTINE_PUNPCK,
    MMX_ROUTINE_COUNT
};

/* One case of a test routine's table: the instruction routine, pattern A
 * (even registers, or all eight when pB is null), pattern B (odd registers),
 * the expected low 32 bits of the destination registers and the case's bit
 * in the fault mask. */
typedef struct MmxCase {
    void (*pfnInsn)(void);
    const uint64_t *pA;
    const uint64_t *pB;
    uint32_t uExpect;
    uint16_t uBit;
} MmxCase;

/* A test routine, the instruction name its error carries and its case table
 * (none for the move tests). */
typedef struct MmxRoutine {
    uint16_t (*pfnTest)(void);
    const char *szInstruction;
    const MmxCase *pCases;
    size_t uCount;
} MmxRoutine;

/* The test routines by MMX_ROUTINE_ number, in the order the groups run them
 * (entry 0, the presence check, is empty). */
extern const MmxRoutine g_aMmxRoutines[MMX_ROUTINE_COUNT];

/* 1 when the processor has CPUID and its MMX feature bit, else 0. Any thread;
 * touches no MMX state. */
uint16_t MMXExists(void);

/* Test 2's routine. Without MMX: warning 9, g_iTestResult 5, no group runs and
 * no percent value goes out. Otherwise the five groups with percent 20, 40,
 * 60, 80, 100 after each, then the end-of-run signal when pArgs is not null.
 * Returns pArgs. */
TestThreadArgs *do_MMX(TestThreadArgs *pArgs);

/* The groups (arithmetic waits g_uBusyWaitTime first); each sends its
 * informative message (pArgs null or bPrintMessages set), runs its test
 * routines in order and reports error 10 for each non-zero mask. */
TestThreadArgs *do_MMXarithmetics(TestThreadArgs *pArgs);
TestThreadArgs *do_MMXlogical(TestThreadArgs *pArgs);
TestThreadArgs *do_MMXshift(TestThreadArgs *pArgs);
TestThreadArgs *do_MMXmove(TestThreadArgs *pArgs);
TestThreadArgs *do_MMXmisc(TestThreadArgs *pArgs);

/* The test routines: each runs its case table and ends with EMMS. Returns the
 * fault mask (bit per case as in the case tables). The move tests return the
 * counter (MOVD) or lane value (MOVQ) of the first mismatch, 0 when none. */
uint16_t MMX_TestPADD(void);
uint16_t MMX_TestPSUB(void);
uint16_t MMX_TestPMUL(void);
uint16_t MMX_TestPMADD(void);
uint16_t MMX_TestPAND(void);
uint16_t MMX_TestPANDN(void);
uint16_t MMX_TestPOR(void);
uint16_t MMX_TestPXOR(void);
uint16_t MMX_TestSLL(void);
uint16_t MMX_TestSRL(void);
uint16_t MMX_TestMOVD(void);
uint16_t MMX_TestMOVQ(void);
uint16_t MMX_TestPCMPEQ(void);
uint16_t MMX_TestPCMPGT(void);
uint16_t MMX_TestPACKSS(void);
uint16_t MMX_TestPACKUS(void);
uint16_t MMX_TestPUNPCKLH(void);

#endif /* ZOLTCPU_TEST_MMX_H */
