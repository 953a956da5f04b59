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
        TestFaultPoint(1, SUB_MATHREGS, 0, uValue, auSrc, 4); /* the value and the */
        TestFaultPoint(1, SUB_MATHREGS, 0, uValue, auDst, 4); /* preset, as inputs */
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

/* One check of do_mathcommands: its sequence (two words stored, or one into
 * the first), how often the unit is initialised before it, which stored words
 * the fault rule reads (bit 0 the first word, bit 1 the second) and the rule. */
typedef struct CommandCheck {
    void (*pfnTwo)(uint32_t *puFirst, uint32_t *puSecond);
    void (*pfnOne)(uint32_t *puWord);
    unsigned uInits, uCompared;
    bool (*pfnFaulty)(uint32_t uFirst, uint32_t uSecond);
    uint16_t uBit;
} CommandCheck;

/* The fault rules: true when the stored words show a fault. */
static bool FlagsUnchanged(uint32_t uS1, uint32_t uS2) /* exception flags, bits 0 to 5 */
{
    return (uS1 & 0x3Fu) == (uS2 & 0x3Fu);
}
static bool TopNotOneLower(uint32_t uS1, uint32_t uS2)
{
    return ((FPU_SW_TOP(uS1) - 1u) & 7u) != FPU_SW_TOP(uS2);
}
static bool NoInvalidFlag(uint32_t, uint32_t uSw)
{
    return (uSw & 0x0001u) == 0;
}
static bool TopNotOneHigher(uint32_t uS1, uint32_t uS2)
{
    return ((FPU_SW_TOP(uS1) + 1u) & 7u) != FPU_SW_TOP(uS2);
}
static bool NotDefaultControlWord(uint32_t uCw, uint32_t)
{
    return uCw != FPU_CW_AFTER_INIT;
}
static bool StatusChanged(uint32_t uS1, uint32_t uS2)
{
    return uS1 != uS2;
}
static bool StatusNotClear(uint32_t uSw, uint32_t)
{
    return uSw != 0;
}
static bool SumNotTwo(uint32_t uWord, uint32_t)
{
    return uWord != 2;
}

/* The nine checks in order; FFREE's first word (the store from the empty
 * register) is not compared. */
static const CommandCheck s_aCommandChecks[9] = {
    { FpuCmdFclex, nullptr, 1, 3, FlagsUnchanged, 0x0001 },
    { FpuCmdFdecstp, nullptr, 1, 3, TopNotOneLower, 0x0002 },
    { FpuCmdFfree, nullptr, 1, 2, NoInvalidFlag, 0x0004 },
    { FpuCmdFincstp, nullptr, 1, 3, TopNotOneHigher, 0x0008 },
    { nullptr, FpuCmdFinit, 1, 1, NotDefaultControlWord, 0x0010 },
    { FpuCmdFnop, nullptr, 2, 3, StatusChanged, 0x0080 },
    { nullptr, FpuStoreCw, 1, 1, NotDefaultControlWord, 0x0400 },
    { nullptr, FpuStoreSw, 1, 1, StatusNotClear, 0x1000 },
    { nullptr, FpuCmdFadd, 1, 1, SumNotTwo, 0x2000 },
};

/* Runs one check from zeroed words; each compared word goes to the fault
 * seam (its case: 0 the first word, 1 the second). Returns its bit or 0. */
static uint16_t RunCommandCheck(const CommandCheck *pCheck)
{
    uint32_t auWord[2] = { 0, 0 };
    for (unsigned u = 0; u < pCheck->uInits; u++)
        init_cocpu_and_no_exceptions();
    if (pCheck->pfnTwo != nullptr)
        pCheck->pfnTwo(&auWord[0], &auWord[1]);
    else
        pCheck->pfnOne(&auWord[0]);
    for (unsigned u = 0; u < 2; u++)
        if ((pCheck->uCompared & (1u << u)) != 0)
            TestFaultPoint(1, SUB_MATHCOMMANDS, pCheck->uBit, u, &auWord[u], sizeof auWord[u]);
    return pCheck->pfnFaulty(auWord[0], auWord[1]) ? pCheck->uBit : 0;
}

/* Control instructions and the status and control words. */
TestThreadArgs *do_mathcommands(TestThreadArgs *pArgs)
{
    uint16_t uMask = 0;

    BusyWait(g_uBusyWaitTime);
    SendTestInfo(pArgs, Dapi2_NlsTagToToken("szInfo6"));

    for (unsigned i = 0; i < 9; i++) {
        uMask |= RunCommandCheck(&s_aCommandChecks[i]);
        if (i < 8)
            TPRINTF(4, __FILE__, __LINE__, "", "do_mathcommands() ErrorCode%u: %d\n", i + 1, uMask);
    }

    if (uMask != 0)
        ReportSubTestFault(FPUTEST_ERR_MATHCOMMANDS, "szErrorMathCommands", uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "do_mathcommands() ErrorCode9: %d\n", uMask);
    TPRINTF(4, __FILE__, __LINE__, "", "EXIT do_mathcommands() \n");
    return pArgs;
}

/* One result check of do_matharithmetics or do_mathtrans: the sequence, the
 * expected word, the bit (0: run, not compared), whether the shared result
 * word is preset to 0xFFFF first, and the trace after it (null: none). */
typedef struct ResultCheck {
    void (*pfnSeq)(uint32_t *puRes);
    uint32_t uExpect;
    uint16_t uBit;
    bool bPreset;
    const char *szTrace;
} ResultCheck;

/* Runs checks uFirst to uEnd - 1 of a table on the shared result word:
 * initialise, run, observe (case 0), compare. */
static void RunResultChecks(unsigned uSubTest, const ResultCheck *pChecks, unsigned uFirst,
                            unsigned uEnd, uint32_t *puRes, uint16_t *puMask)
{
    for (unsigned i = uFirst; i < uEnd; i++) {
        const ResultCheck *pCheck = &pChecks[i];
        if (pCheck->bPreset)
            *puRes = 0xFFFF;
        init_cocpu_and_no_exceptions();
        pCheck->pfnSeq(puRes);
        if (pCheck->uBit != 0) {
            TestFaultPoint(1, uSubTest, pCheck->uBit, 0, puRes, sizeof *puRes);
            if (*puRes != pCheck->uExpect)
                *puMask |= pCheck->uBit;
        }
        if (pCheck->szTrace != nullptr)
            TPRINTF(4, __FILE__, __LINE__, "", pCheck->szTrace, *puMask);
    }
}

/* Arithmetic checks 1 to 4 and 6 to 8 (FIMUL, check 5, runs between them). */
static const ResultCheck s_aArithmeticChecks[7] = {
    { FpuArFadd, 5, 0x01, true, "do_matharithmetics() ErrorCode1: %d\n" },
    { FpuArFdiv, 1, 0x02, false, "do_matharithmetics() ErrorCode2: %d\n" },
    { FpuArFiadd, 3, 0x04, false, "do_matharithmetics() ErrorCode3: %d\n" },
    { FpuArFidiv, 1, 0x08, true, "do_matharithmetics() ErrorCode4: %d\n" },
    { FpuArFisub, 8, 0x20, false, "do_matharithmetics() ErrorCode6: %d\n" },
    { FpuArFmul, 97, 0x40, false, "do_matharithmetics() ErrorCode7: %d\n" },
    { FpuArFsub, 0xFFFF, 0x80, true, "do_matharithmetics() ErrorCode8: %d\n" }, /* -1 */
};

/* Arithmetic with register, stack and 16-bit integer operands. */
TestThreadArgs *do_matharithmetics(TestThreadArgs *pArgs)
{
    uint16_t uMask = 0;
    uint32_t uRes = 0, uL1 = 0, uL2 = 0;

    BusyWait(g_uBusyWaitTime);
    SendTestInfo(pArgs, Dapi2_NlsTagToToken("szInfo7"));

    RunResultChecks(SUB_MATHARITHMETICS, s_aArithmeticChecks, 0, 4, &uRes, &uMask);
    /* 5 FIMUL: run, not compared (bit 0x10 is never set) */
    init_cocpu_and_no_exceptions();
    FpuArFimul(&uL1, &uL2);
    TPRINTF(4, __FILE__, __LINE__, "", "do_matharithmetics() ErrorCode5: %d l1:%u l2:%u\n", uMask,
            uL1, uL2);
    RunResultChecks(SUB_MATHARITHMETICS, s_aArithmeticChecks, 4, 7, &uRes, &uMask);

    if (uMask != 0) {
        ReportSubTestFault(FPUTEST_ERR_MATHARITHMETICS, "szErrorMathArithmetics", uMask);
        TPRINTF(4, __FILE__, __LINE__, "", "Error do_matharithmetics() %d\n", uMask);
    }
    TPRINTF(4, __FILE__, __LINE__, "", "EXIT do_matharithmetics()\n");
    return pArgs;
}

/* Transcendental checks; results scaled to whole numbers (rounded). */
static const ResultCheck s_aTransChecks[5] = {
    { FpuTrF2xm1, 0, 0x01, false, nullptr },                               /* 0.41 */
    { FpuTrFpatan, 2450, 0x02, false, "do_mathtrans() ErrorCode2: %d\n" }, /* 2449.78 */
    { FpuTrFptan, 24142, 0x04, false, "do_mathtrans() ErrorCode3: %d\n" }, /* 24142.13 */
    { FpuTrFyl2x, 140, 0x08, false, "do_mathtrans() ErrorCode4: %d\n" },   /* 10 * 14 */
    { FpuTrFyl2xp1, 0, 0, false, "do_mathtrans() ErrorCode5: %d\n" },      /* not compared */
};

/* Transcendental instructions. */
TestThreadArgs *do_mathtrans(TestThreadArgs *pArgs)
{
    uint16_t uMask = 0;
    uint32_t uRes = 0;

    BusyWait(g_uBusyWaitTime);
    SendTestInfo(pArgs, Dapi2_NlsTagToToken("szInfo8"));

    RunResultChecks(SUB_MATHTRANS, s_aTransChecks, 0, 5, &uRes, &uMask);

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
