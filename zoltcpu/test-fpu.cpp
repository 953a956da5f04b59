/* test-fpu.cpp - test 1, the x87 floating-point unit: data registers,
 * control instructions with status and control words, arithmetic and
 * transcendental instructions. Each check starts from a freshly initialised
 * unit, runs one sequence of fpu-asm.cpp and compares the words it stored;
 * every exception is masked, so a fault shows as a wrong word or flag.
 * Test's thread only (the unit's state belongs to the calling thread). */
#include "test-fpu.h"

#include <stdint.h>

#include "dapi2-events.h"
#include "fpu-asm.h"
#include "test-fault.h"
#include "test-messages.h"
#include "trace.h"

pthread_mutex_t g_InitCPUMutex = PTHREAD_MUTEX_INITIALIZER;

/* Sub-test order numbers: the fault seam's uSubTest. */
enum { SUB_MATHREGS = 1, SUB_MATHCOMMANDS = 2, SUB_MATHARITHMETICS = 3, SUB_MATHTRANS = 4 };

/* Control word after initialisation: all six exceptions masked, 64-bit
 * precision, round to nearest (bit 7 of the 0x00BF OR does not read back). */
#define FPU_CW_AFTER_INIT 0x037Fu
#define FPU_SW_TOP(s) (((s) >> 11) & 7u)

/* Hands a check's observed word to the fault seam. */
static void Observe(unsigned uSubTest, unsigned uBit, uint32_t *puWord)
{
    TestFaultPoint(1, uSubTest, uBit, 0, puWord, sizeof *puWord);
}

/* Initialises the calling thread's unit under g_InitCPUMutex; afterwards the
 * control word reads 0x037F and the status word 0. */
void init_cocpu_and_no_exceptions(void)
{
    pthread_mutex_lock(&g_InitCPUMutex);
    FpuInitUnit();
    pthread_mutex_unlock(&g_InitCPUMutex);
}

/* The eight data registers: ten byte values loaded as eight overlapping
 * single-precision values and stored back the same way. */
TestThreadArgs *do_mathregs(TestThreadArgs *pArgs)
{
    uint16_t uMask = 0;

    BusyWait(g_uBusyWaitTime);
    SendTestInfo(pArgs, Dapi2_NlsTagToToken("szInfo5"));
    init_cocpu_and_no_exceptions();

    for (unsigned uValue = 0; uValue < 10; uValue++) {
        uint8_t auSrc[12] = { 0 }; /* 8 loads at offsets 0..7 read bytes 0..10 */
        uint8_t auDst[12] = { 0 };
        for (int i = 0; i < 9; i++) {
            auSrc[i] = (uint8_t)(uValue * 0x11);
            auDst[i] = 0xFF;
        }
        FpuLoadStoreRegs(auSrc, auDst);
        TestFaultPoint(1, SUB_MATHREGS, 0x01, uValue, auDst, sizeof auDst);
        for (int i = 0; i < 9; i++) {
            if (auSrc[i] != auDst[i]) {
                uMask |= 0x01;
                TPRINTF(4, __FILE__, __LINE__, "", "DAPI2_MSG DAPI2_MSG id[%d] %x !=?? od[%d] %x\n",
                        i, auSrc[i], i, auDst[i]);
                break;
            }
        }
    }

    TPRINTF(4, __FILE__, __LINE__, "", "do_mathregs Error %d\n", uMask);
    if (uMask != 0)
        ReportSubTestFault(FPUTEST_ERR_MATHREGS, "szErrorMathReg", uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "EXIT do_mathregs()\n");
    return pArgs;
}

/* Control instructions and the status and control words. */
TestThreadArgs *do_mathcommands(TestThreadArgs *pArgs)
{
    uint16_t uMask = 0;
    uint32_t uS1, uS2, uWord;

    BusyWait(g_uBusyWaitTime);
    SendTestInfo(pArgs, Dapi2_NlsTagToToken("szInfo6"));

    /* 1 FCLEX: the 0/0 flags must be gone after FCLEX */
    uS1 = uS2 = 0;
    init_cocpu_and_no_exceptions();
    FpuCmdFclex(&uS1, &uS2);
    Observe(SUB_MATHCOMMANDS, 0x0001, &uS2);
    if ((uS1 & 0x3Fu) == (uS2 & 0x3Fu))
        uMask |= 0x0001;
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathcommands() ErrorCode1: %d\n", uMask);

    /* 2 FDECSTP: TOP one lower */
    uS1 = uS2 = 0;
    init_cocpu_and_no_exceptions();
    FpuCmdFdecstp(&uS1, &uS2);
    Observe(SUB_MATHCOMMANDS, 0x0002, &uS2);
    if (((FPU_SW_TOP(uS1) - 1u) & 7u) != FPU_SW_TOP(uS2))
        uMask |= 0x0002;
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathcommands() ErrorCode2: %d\n", uMask);

    /* 3 FFREE: storing from a freed register is a masked stack underflow */
    uWord = uS2 = 0;
    init_cocpu_and_no_exceptions();
    FpuCmdFfree(&uWord, &uS2);
    Observe(SUB_MATHCOMMANDS, 0x0004, &uS2);
    if ((uS2 & 0x0001u) == 0)
        uMask |= 0x0004;
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathcommands() ErrorCode3: %d\n", uMask);

    /* 4 FINCSTP: TOP one higher */
    uS1 = uS2 = 0;
    init_cocpu_and_no_exceptions();
    FpuCmdFincstp(&uS1, &uS2);
    Observe(SUB_MATHCOMMANDS, 0x0008, &uS2);
    if (((FPU_SW_TOP(uS1) + 1u) & 7u) != FPU_SW_TOP(uS2))
        uMask |= 0x0008;
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathcommands() ErrorCode4: %d\n", uMask);

    /* 5 FINIT: restores the default control word */
    uWord = 0;
    init_cocpu_and_no_exceptions();
    FpuCmdFinit(&uWord);
    Observe(SUB_MATHCOMMANDS, 0x0010, &uWord);
    if (uWord != FPU_CW_AFTER_INIT)
        uMask |= 0x0010;
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathcommands() ErrorCode5: %d\n", uMask);

    /* 6 FNOP: changes nothing in the status word */
    uS1 = uS2 = 0;
    init_cocpu_and_no_exceptions();
    init_cocpu_and_no_exceptions();
    FpuCmdFnop(&uS1, &uS2);
    Observe(SUB_MATHCOMMANDS, 0x0080, &uS2);
    if (uS1 != uS2)
        uMask |= 0x0080;
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathcommands() ErrorCode6: %d\n", uMask);

    /* 7 control word after initialisation */
    uWord = 0;
    init_cocpu_and_no_exceptions();
    FpuStoreCw(&uWord);
    Observe(SUB_MATHCOMMANDS, 0x0400, &uWord);
    if (uWord != FPU_CW_AFTER_INIT)
        uMask |= 0x0400;
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathcommands() ErrorCode7: %d\n", uMask);

    /* 8 status word after initialisation */
    uWord = 0;
    init_cocpu_and_no_exceptions();
    FpuStoreSw(&uWord);
    Observe(SUB_MATHCOMMANDS, 0x1000, &uWord);
    if (uWord != 0)
        uMask |= 0x1000;
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathcommands() ErrorCode8: %d\n", uMask);

    /* 9 FADD: 1 + 1 */
    uWord = 0;
    init_cocpu_and_no_exceptions();
    FpuCmdFadd(&uWord);
    Observe(SUB_MATHCOMMANDS, 0x2000, &uWord);
    if (uWord != 2)
        uMask |= 0x2000;

    if (uMask != 0)
        ReportSubTestFault(FPUTEST_ERR_MATHCOMMANDS, "szErrorMathCommands", uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathcommands() ErrorCode9: %d\n", uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "EXIT do_mathcommands() \n");
    return pArgs;
}

/* One compared arithmetic check: initialise, run, observe, compare. */
static void MathCheck(void (*pfnSeq)(uint32_t *), uint32_t *puRes, uint32_t uExpect, uint16_t uBit,
                      uint16_t *puMask)
{
    init_cocpu_and_no_exceptions();
    pfnSeq(puRes);
    Observe(SUB_MATHARITHMETICS, uBit, puRes);
    if (*puRes != uExpect)
        *puMask |= uBit;
}

/* Arithmetic with register, stack and 16-bit integer operands. One result
 * word serves every check; it is preset to 0xFFFF before checks 1, 4 and 8. */
TestThreadArgs *do_matharithmetics(TestThreadArgs *pArgs)
{
    uint16_t uMask = 0;
    uint32_t uRes = 0, uL1 = 0, uL2 = 0;

    BusyWait(g_uBusyWaitTime);
    SendTestInfo(pArgs, Dapi2_NlsTagToToken("szInfo7"));

    uRes = 0xFFFF;
    MathCheck(FpuArFadd, &uRes, 5, 0x01, &uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "do_matharithmetics() ErrorCode1: %d\n", uMask);
    MathCheck(FpuArFdiv, &uRes, 1, 0x02, &uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "do_matharithmetics() ErrorCode2: %d\n", uMask);
    MathCheck(FpuArFiadd, &uRes, 3, 0x04, &uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "do_matharithmetics() ErrorCode3: %d\n", uMask);
    uRes = 0xFFFF;
    MathCheck(FpuArFidiv, &uRes, 1, 0x08, &uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "do_matharithmetics() ErrorCode4: %d\n", uMask);

    /* 5 FIMUL: run, not compared (bit 0x10 is never set) */
    init_cocpu_and_no_exceptions();
    FpuArFimul(&uL1, &uL2);
    TPRINTF(4, __FILE__, __LINE__, "", "do_matharithmetics() ErrorCode5: %d l1:%u l2:%u\n", uMask,
            uL1, uL2);

    MathCheck(FpuArFisub, &uRes, 8, 0x20, &uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "do_matharithmetics() ErrorCode6: %d\n", uMask);
    MathCheck(FpuArFmul, &uRes, 97, 0x40, &uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "do_matharithmetics() ErrorCode7: %d\n", uMask);
    uRes = 0xFFFF;
    MathCheck(FpuArFsub, &uRes, 0xFFFF, 0x80, &uMask); /* -1 as a word */
    TPRINTF(4, __FILE__, __LINE__, "", "do_matharithmetics() ErrorCode8: %d\n", uMask);

    if (uMask != 0) {
        ReportSubTestFault(FPUTEST_ERR_MATHARITHMETICS, "szErrorMathArithmetics", uMask);
        TPRINTF(4, __FILE__, __LINE__, "", "Error do_matharithmetics() %d\n", uMask);
    }
    TPRINTF(4, __FILE__, __LINE__, "", "EXIT do_matharithmetics()\n");
    return pArgs;
}

/* One compared transcendental check. */
static void TransCheck(void (*pfnSeq)(uint32_t *), uint32_t *puRes, uint32_t uExpect, uint16_t uBit,
                       uint16_t *puMask)
{
    init_cocpu_and_no_exceptions();
    pfnSeq(puRes);
    Observe(SUB_MATHTRANS, uBit, puRes);
    if (*puRes != uExpect)
        *puMask |= uBit;
}

/* Transcendental instructions; results scaled to whole numbers. */
TestThreadArgs *do_mathtrans(TestThreadArgs *pArgs)
{
    uint16_t uMask = 0;
    uint32_t uRes = 0;

    BusyWait(g_uBusyWaitTime);
    SendTestInfo(pArgs, Dapi2_NlsTagToToken("szInfo8"));

    TransCheck(FpuTrF2xm1, &uRes, 0, 0x01, &uMask);     /* sqrt(2) - 1 = 0.41 */
    TransCheck(FpuTrFpatan, &uRes, 2450, 0x02, &uMask); /* 2449.78 */
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathtrans() ErrorCode2: %d\n", uMask);
    TransCheck(FpuTrFptan, &uRes, 24142, 0x04, &uMask); /* 24142.13 */
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathtrans() ErrorCode3: %d\n", uMask);
    TransCheck(FpuTrFyl2x, &uRes, 140, 0x08, &uMask); /* 10 * 14 */
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathtrans() ErrorCode4: %d\n", uMask);

    /* 5 FYL2XP1: run, not compared */
    init_cocpu_and_no_exceptions();
    FpuTrFyl2xp1(&uRes);
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathtrans() ErrorCode5: %d\n", uMask);

    if (uMask != 0)
        ReportSubTestFault(FPUTEST_ERR_MATHTRANS, "szErrorMathTrans", uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "EXIT do_mathtrans()\n");
    return pArgs;
}

/* Test 1: the four sub-tests in order with percent 25, 50, 75, 100 (no trace
 * lines of its own). Signals the end of the run for a run record. Returns
 * pArgs. Run's thread. */
TestThreadArgs *do_mathregistertests(TestThreadArgs *pArgs)
{
    static TestThreadArgs *(*const s_apfnSub[4])(
        TestThreadArgs *) = { do_mathregs, do_mathcommands, do_matharithmetics, do_mathtrans };

    BusyWait(g_uBusyWaitTime);
    for (int i = 0; i < 4; i++) {
        s_apfnSub[i](pArgs);
        AddPercentDone(25 * (i + 1));
    }
    if (pArgs != nullptr)
        SignalEndOfRun();
    return pArgs;
}
