/* test-fpu.h - test 1, the x87 floating-point unit: the eight data registers,
 * control instructions with the status and control words, arithmetic with
 * register, stack and 16-bit integer operands, and transcendental
 * instructions. Every exception is masked, so a fault shows as a wrong word. */
#ifndef ZOLTCPU_TEST_FPU_H
#define ZOLTCPU_TEST_FPU_H

#include <pthread.h>

#include "cpu-driver.h"

/* Error numbers of the four sub-tests (order numbers 1 to 4). */
#define FPUTEST_ERR_MATHREGS 5        /* "szErrorMathReg" */
#define FPUTEST_ERR_MATHCOMMANDS 6    /* "szErrorMathCommands" */
#define FPUTEST_ERR_MATHARITHMETICS 7 /* "szErrorMathArithmetics" */
#define FPUTEST_ERR_MATHTRANS 8       /* "szErrorMathTrans" */

/* Guards the initialisation of a unit (init_cocpu_and_no_exceptions). */
extern pthread_mutex_t g_InitCPUMutex;

/* Test 1's routine: the four sub-tests in order, percent 25, 50, 75, 100 after
 * each, the end-of-run signal when pArgs is not null. Returns pArgs. */
TestThreadArgs *do_mathregistertests(TestThreadArgs *pArgs);

/* The sub-tests; each waits g_uBusyWaitTime, sends its informative message
 * (pArgs null or bPrintMessages set), reports a fault through AddError with
 * g_iTestResult set to 2, and returns pArgs unchanged.
 * do_mathregs       bit 0x01: a byte lost on the way through ST(0)..ST(7)
 * do_mathcommands   bits 0x0001 FCLEX, 0x0002 FDECSTP, 0x0004 FFREE,
 *                   0x0008 FINCSTP, 0x0010 FINIT, 0x0080 FNOP, 0x0400 control
 *                   word, 0x1000 status word, 0x2000 FADD
 * do_matharithmetics bits 0x01 FADD, 0x02 FDIV, 0x04 FIADD, 0x08 FIDIV,
 *                   0x20 FISUB, 0x40 FMUL, 0x80 FSUB (FIMUL is not compared)
 * do_mathtrans      bits 0x01 F2XM1, 0x02 FPATAN, 0x04 FPTAN, 0x08 FYL2X
 *                   (FYL2XP1 is not compared)
 * In the fault build each compared word goes to the fault seam with the
 * check's bit; do_mathcommands gives case 0 to the first word a sequence
 * stores and case 1 to the second, the other sub-tests case 0 (do_mathregs:
 * the value number 0 to 9). */
TestThreadArgs *do_mathregs(TestThreadArgs *pArgs);
TestThreadArgs *do_mathcommands(TestThreadArgs *pArgs);
TestThreadArgs *do_matharithmetics(TestThreadArgs *pArgs);
TestThreadArgs *do_mathtrans(TestThreadArgs *pArgs);

/* Initialises the calling thread's x87 unit: FNINIT, all six exceptions
 * masked, 64-bit precision, round to nearest (control word reads 0x037F).
 * Takes g_InitCPUMutex. */
void init_cocpu_and_no_exceptions(void);

#endif /* ZOLTCPU_TEST_FPU_H */
