/* test-registers.cpp - test 0, the integer unit: register transfer over the
 * 18 patterns, 32-bit signed arithmetic from a table loaded at run time, a
 * word-table copy through memory and compare-and-branch on AX. The
 * instruction sequences live in registers-asm.cpp; this file runs them,
 * collects the fault masks and reports. Test's thread only. */
#include "test-registers.h"

#include <stdint.h>

#include "dapi2-events.h"
#include "registers-asm.h"
#include "test-fault.h"
#include "test-messages.h"
#include "test-patterns.h"
#include "trace.h"

/* Sub-test order numbers: the fault seam's uSubTest. */
enum { SUB_REGISTERS = 1, SUB_ARITHMETICS = 2, SUB_STRINGS = 3, SUB_LOGICAL = 4 };

/* Rows (a, b, a+b, a-b, a/b, a*b), ended by the row whose a is 0. Not const,
 * so the operands are read from memory when the test runs. The negative
 * dividend needs its sign extended into EDX and a signed division (truncated
 * toward zero). */
static int32_t s_aiArithmeticTable[30] = {
    1, 2, 3,     -1, 0, 2,  2,  1,  3,   1, 2, 2, 256, 256, 512,
    0, 1, 65536, -7, 2, -5, -9, -3, -14, 0, 0, 0, 0,   0,   0,
};

/* Register transfer: each pattern through EAX, EBX, ECX, EDX, ESI, EDI. */
TestThreadArgs *do_registers(TestThreadArgs *pArgs)
{
    uint16_t uMask = 0;

    TPRINTF(4, __FILE__, __LINE__, "", "ENTER do_registers()\n");
    BusyWait(g_uBusyWaitTime);
    PRINT_ARGS(pArgs);
    SendTestInfo(pArgs, Dapi2_NlsTagToToken("szInfo1"));

    for (int i = 0; i < iPatternCount; i++) {
        uint32_t uPattern = dwPattern[i];
        TestFaultPoint(0, SUB_REGISTERS, 0, (unsigned)i, &uPattern, sizeof uPattern);
        RegFaultWords fault = {};
        for (unsigned uBit = 0; uBit < 6; uBit++)
            TestFaultPoint(0, SUB_REGISTERS, 1u << uBit, (unsigned)i, &fault.au[uBit],
                           sizeof fault.au[uBit]);
        uint32_t bEcxError = 0;
        uMask |= (uint16_t)RegistersTransfer(uPattern, &fault, &bEcxError);
        if (bEcxError != 0)
            TPRINTF(4, __FILE__, __LINE__, "", "ECX error\n");
    }

    TPRINTF(4, __FILE__, __LINE__, "", "do_registers() Error %d\n", uMask);
    if (uMask != 0)
        ReportSubTestFault(REGTEST_ERR_REGISTERS, "szErrorReg", uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "EXIT do_registers()\n");
    PRINT_ARGS(pArgs);
    return pArgs;
}

/* 32-bit signed add, subtract, divide and multiply against the table. */
TestThreadArgs *do_arithmetics(TestThreadArgs *pArgs)
{
    int32_t aiTable[30];
    uint16_t uMask = 0;

    for (int i = 0; i < 30; i++)
        aiTable[i] = s_aiArithmeticTable[i];
    BusyWait(g_uBusyWaitTime);
    SendTestInfo(pArgs, Dapi2_NlsTagToToken("szInfo2"));

    for (unsigned uRow = 0; aiTable[uRow * 6] != 0; uRow++) {
        const int32_t *piRow = &aiTable[uRow * 6];
        int32_t aiResult[4] = { IntAdd(piRow[0], piRow[1]), IntSub(piRow[0], piRow[1]),
                                IntDiv(piRow[0], piRow[1]), IntMul(piRow[0], piRow[1]) };
        for (unsigned uOp = 0; uOp < 4; uOp++) {
            TestFaultPoint(0, SUB_ARITHMETICS, 1u << uOp, uRow, &aiResult[uOp],
                           sizeof aiResult[uOp]);
            if (aiResult[uOp] != piRow[2 + uOp])
                uMask |= (uint16_t)(1u << uOp);
        }
    }

    if (uMask != 0) {
        ReportSubTestFault(REGTEST_ERR_ARITHMETICS, "szErrorArithmetics", uMask);
        TPRINTF(4, __FILE__, __LINE__, "", "EXIT DAPI2_MSG do_arithmetics() ErrorCode: %d\n",
                uMask);
    }
    TPRINTF(4, __FILE__, __LINE__, "", "EXIT do_arithmetics() ErrorCode: %d\n", uMask);
    return pArgs;
}

/* Copies the pattern table word by word through memory and compares. The
 * copy is volatile so that every store and load really happens. */
TestThreadArgs *do_strings(TestThreadArgs *pArgs)
{
    volatile uint32_t auCopy[18];
    uint16_t uMask = 0;

    BusyWait(g_uBusyWaitTime);
    SendTestInfo(pArgs, Dapi2_NlsTagToToken("szInfo3"));

    for (int i = 0; i < 18; i++)
        auCopy[i] = dwPattern[i];
    TestFaultPoint(0, SUB_STRINGS, 0x01, 0, const_cast<uint32_t *>(auCopy), sizeof auCopy);
    for (int i = 0; i < iPatternCount; i++) {
        if (auCopy[i] != dwPattern[i])
            uMask |= 0x01;
    }

    if (uMask != 0) {
        ReportSubTestFault(REGTEST_ERR_STRINGS, "szErrorStrings", uMask);
        TPRINTF(4, __FILE__, __LINE__, "", "EXIT DAPI2_MSG do_strings() ErrorCode: %d\n", uMask);
    }
    TPRINTF(4, __FILE__, __LINE__, "", "EXIT do_strings() ErrorCode: %d\n", uMask);
    return pArgs;
}

/* Compare and branch on AX: JE, JAE, JBE after CMP and JNZ after TEST. */
TestThreadArgs *do_logical(TestThreadArgs *pArgs)
{
    static uint32_t (*const s_apfnCheck[4])(uint32_t) = { LogicalJe, LogicalJae, LogicalJbe,
                                                          LogicalJnz };
    static const char *const s_aszTrace[4] = { "do_logical() ErrorCode2: %d\n",
                                               "do_logical() ErrorCode3: %d\n",
                                               "do_logical() ErrorCode4: %d\n",
                                               "do_logical() ErrorCode5: %d\n" };
    uint16_t uMask = 0;

    BusyWait(g_uBusyWaitTime);
    SendTestInfo(pArgs, Dapi2_NlsTagToToken("szInfo4"));

    for (unsigned i = 0; i < 4; i++) {
        uint32_t uFlagFault = 0;
        TestFaultPoint(0, SUB_LOGICAL, 1u << i, 0, &uFlagFault, sizeof uFlagFault);
        uMask |= (uint16_t)s_apfnCheck[i](uFlagFault);
        TPRINTF(4, __FILE__, __LINE__, "", s_aszTrace[i], uMask);
    }

    if (uMask != 0) {
        ReportSubTestFault(REGTEST_ERR_LOGICAL, "szErrorLogicals", uMask);
        TPRINTF(4, __FILE__, __LINE__, "", "EXIT do_logical() ErrorCode: %d\n", uMask);
    }
    TPRINTF(4, __FILE__, __LINE__, "", "EXIT do_logical() ErrorCode: %d\n", uMask);
    return pArgs;
}

/* Test 0: the four sub-tests in order with percent 25, 50, 75, 100; a fault
 * in one does not stop the next. Signals the end of the run for a run record.
 * Returns pArgs. Run's thread. */
TestThreadArgs *do_registertests(TestThreadArgs *pArgs)
{
    static TestThreadArgs *(*const s_apfnSub[4])(TestThreadArgs *) = { do_registers, do_arithmetics,
                                                                       do_strings, do_logical };

    TPRINTF(4, __FILE__, __LINE__, "", "Enter do_registertests\n");
    BusyWait(g_uBusyWaitTime);
    for (int i = 0; i < 4; i++) {
        s_apfnSub[i](pArgs);
        AddPercentDone(25 * (i + 1));
        TPRINTF(4, __FILE__, __LINE__, "", "g_iTestResult:%d\n", g_iTestResult);
    }
    if (pArgs != nullptr)
        SignalEndOfRun();
    TPRINTF(4, __FILE__, __LINE__, "", "Exit do_registertests\n");
    return pArgs;
}
