/* test-registers.h - test 0, the integer unit: transfer through the six
 * general registers, 32-bit signed arithmetic, a word-table copy through
 * memory and compare-and-branch logic. Each sub-test reports at most one
 * error event (its number, its tag and the fault mask as "errno"). */
#ifndef ZOLTCPU_TEST_REGISTERS_H
#define ZOLTCPU_TEST_REGISTERS_H

#include "cpu-driver.h"

/* Error numbers of the four sub-tests (also their order numbers). */
#define REGTEST_ERR_REGISTERS 1   /* "szErrorReg" */
#define REGTEST_ERR_ARITHMETICS 2 /* "szErrorArithmetics" */
#define REGTEST_ERR_STRINGS 3     /* "szErrorStrings" */
#define REGTEST_ERR_LOGICAL 4     /* "szErrorLogicals" */

/* Test 0's routine: the four sub-tests in order, percent 25, 50, 75, 100
 * after each, the end-of-run signal when pArgs is not null. Returns pArgs.
 * Runs on the run's thread (direct mode: the caller's, pArgs null). */
TestThreadArgs *do_registertests(TestThreadArgs *pArgs);

/* The sub-tests. Each waits g_uBusyWaitTime, sends its informative message
 * (pArgs null or bPrintMessages set), reports a fault through AddError and
 * sets g_iTestResult to 2. Each returns pArgs unchanged.
 * do_registers  bits: 0x01 EAX, 0x02 EBX, 0x04 ECX, 0x08 EDX, 0x10 ESI, 0x20 EDI
 * do_arithmetics bits: 0x01 add, 0x02 sub, 0x04 div, 0x08 mul
 * do_strings    bit 0x01: the copy differs from dwPattern
 * do_logical    bits: 0x01 JE, 0x02 JAE, 0x04 JBE, 0x08 JNZ not taken */
TestThreadArgs *do_registers(TestThreadArgs *pArgs);
TestThreadArgs *do_arithmetics(TestThreadArgs *pArgs);
TestThreadArgs *do_strings(TestThreadArgs *pArgs);
TestThreadArgs *do_logical(TestThreadArgs *pArgs);

#endif /* ZOLTCPU_TEST_REGISTERS_H */
