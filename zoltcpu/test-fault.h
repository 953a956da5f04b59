/* test-fault.h - fault-injection seam of the CPU tests. Every check hands the
 * value it observed to TestFaultPoint after the instruction under test ran and
 * before the value is compared; a test may install a hook that XORs a fault
 * into it. The hook is null in a normal run, so the comparison code that a
 * test proves is the very code of the product.
 * Checks whose comparison happens inside an asm sequence (register transfer,
 * compare-and-branch) pass a zeroed fault word instead, which the sequence
 * XORs into the register or flags it is about to compare. */
#ifndef ZOLTCPU_TEST_FAULT_H
#define ZOLTCPU_TEST_FAULT_H

/* A fault hook: uTest the test number (0 integer, 1 x87, 2 MMX, 3 cache);
 * uSubTest the sub-test's order number in its test (1 to 4 for tests 0 and 1,
 * the MMX_ROUTINE_ number for test 2, 0 for the MMX presence check);
 * uCheck the fault-mask bit of the check (for the MMX move tests and
 * do_mathregs' byte compare the bit is 0x01); uCase the pattern, table row,
 * value or counter the check is working on (0 where a check has only one);
 * pObserved/cbObserved the observed bytes. Called on the test's thread. */
typedef void (*PFN_TESTFAULT)(unsigned uTest, unsigned uSubTest, unsigned uCheck, unsigned uCase,
                              void *pObserved, unsigned cbObserved);

/* The installed hook; null (no fault) unless a test sets it. */
extern PFN_TESTFAULT g_pfnTestFault;

/* Hands an observed value to the hook, if one is installed. */
inline void TestFaultPoint(unsigned uTest, unsigned uSubTest, unsigned uCheck, unsigned uCase,
                           void *pObserved, unsigned cbObserved)
{
    if (g_pfnTestFault != nullptr)
        g_pfnTestFault(uTest, uSubTest, uCheck, uCase, pObserved, cbObserved);
}

#endif /* ZOLTCPU_TEST_FAULT_H */
