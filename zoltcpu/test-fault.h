/* test-fault.h - fault-injection seam of the CPU tests. The product and the
 * fault build are two compilations of the same sources: only the fault build
 * (ZOLT_FAULT_BUILD defined, never installed) has the hook and the injection
 * points; in the product TestFaultPoint and ZOLT_FAULT_ASM are empty, so its
 * objects hold exactly the designed instruction sequences.
 * Every check hands the value it observed to TestFaultPoint after the
 * instruction under test ran and before the value is compared; a test may
 * install a hook that XORs a fault into it. Checks whose comparison happens
 * inside an asm sequence (register transfer, compare-and-branch) get a fault
 * word the same way, which the fault build's ZOLT_FAULT_ASM fragment XORs into
 * the register or flags about to be compared. */
#ifndef ZOLTCPU_TEST_FAULT_H
#define ZOLTCPU_TEST_FAULT_H

#ifdef ZOLT_FAULT_BUILD

/* A fault hook: uTest the test number (0 integer, 1 x87, 2 MMX, 3 cache);
 * uSubTest the sub-test's order number in its test (1 to 4 for tests 0 and 1,
 * the MMX_ROUTINE_ number for test 2, 0 for the MMX presence check);
 * uCheck the fault-mask bit of the check (for the MMX move tests and
 * do_mathregs' byte compare the bit is 0x01), or 0 for an input handed over
 * before it is used (the register transfer's pattern, the first bytes of a
 * data-register value, the control word loaded before FINIT, the CPUID
 * feature word of the MMX presence check as case 1), which a hook
 * may record or change; uCase the pattern, table row,
 * value, counter or observed word the check is working on (0 where a check
 * has only one); pObserved/cbObserved the observed bytes. Called on the
 * test's thread. */
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

/* An asm fragment present only in the fault build; its input operands are
 * added after others with ZOLT_FAULT_OPERANDS (a leading comma included) or
 * form the whole input list with ZOLT_FAULT_INPUTS. */
#define ZOLT_FAULT_ASM(text) text
#define ZOLT_FAULT_OPERANDS(...) , __VA_ARGS__
#define ZOLT_FAULT_INPUTS(...) __VA_ARGS__

#else /* the product */

inline void TestFaultPoint(unsigned, unsigned, unsigned, unsigned, void *, unsigned) {}

#define ZOLT_FAULT_ASM(text) ""
#define ZOLT_FAULT_OPERANDS(...)
#define ZOLT_FAULT_INPUTS(...)

#endif /* ZOLT_FAULT_BUILD */

#endif /* ZOLTCPU_TEST_FAULT_H */
