/* cpu-diag.cpp - the diagnostic callback: the table from test number to
 * routine, the CPU record of the named device, and the choice between the
 * direct mode (one CPU record or little memory) and the pinned mode.
 * Kept apart from the driver so that the test routines link against the
 * driver's event functions without pulling in the table. Main thread. */
#include <string.h>

#include "cpu-driver.h"
#include "cpu-enum.h"
#include "dapi2.h"
#include "test-cache.h"
#include "test-fpu.h"
#include "test-mmx.h"
#include "test-registers.h"
#include "trace.h"
#include "zoltcpu.h"

/* Memory below this many kB keeps the test in the direct mode. */
#define PINNED_MIN_MEMTOTAL_KB 300000
/* Milliseconds each routine spins at its start in the pinned mode, so that the
 * kernel's per-CPU accounting registers the run. */
#define PINNED_BUSY_WAIT_MS 60

/* Test numbers 0 to 3. */
static const PFN_CPUTEST s_apfnCpuTests[] = {
    do_registertests,     /* 0 integer unit */
    do_mathregistertests, /* 1 x87 unit */
    do_MMX,               /* 2 MMX unit */
    do_cache,             /* 3 caches */
};
CpuTestTable g_CpuTestTable = { s_apfnCpuTests, sizeof s_apfnCpuTests / sizeof s_apfnCpuTests[0] };

/* Slot 3 of the registration: see zoltcpu.h. */
int OurDiagFunction(int iTest, Dapi2Device *pDevice)
{
    if (pDevice == nullptr)
        return 9;
    ScanDeviceTree(0);
    CpuDevice *pRecord = FindDevice(pDevice);
    if (pRecord == nullptr) {
        Dapi2_Warning(105, "%s", Dapi2_NlsTagToToken("szWarnDeviceNotFound"));
        return 9;
    }
    if ((unsigned)iTest >= g_CpuTestTable.uCount)
        return 6;
    PFN_CPUTEST pfnTest = g_CpuTestTable.ppfnRoutines[iTest];

    int bPinned = 0;
    if (GetDeviceCount() >= 2) {
        int iKb = 0;
        bPinned = !(ReadMemTotal(&iKb) == 0 && iKb < PINNED_MIN_MEMTOTAL_KB);
    }
    if (bPinned) {
        g_uBusyWaitTime = PINNED_BUSY_WAIT_MS;
        TestThreadArgs args;
        memset(&args, 0, sizeof args);
        args.uTargetCPU = (uint32_t)pRecord->iIndex;
        args.pfnTest = pfnTest;
        args.puLogicalCPUs = pRecord->puLogicalCPUs;
        args.uLogicalCPUCount = pRecord->uLogicalCPUCount;
        InitThreads(&args);
    } else {
        g_uBusyWaitTime = 0;
        pfnTest(nullptr);
    }

    if (g_iTestResult == 0)
        TPRINTF(4, __FILE__, __LINE__, "", "CPU TEST PASSED:%d CPU:%u\n", iTest,
                (unsigned)pRecord->iIndex);
    else
        TPRINTF(4, __FILE__, __LINE__, "", "CPU TEST FAILED(%d) DAPI2:%u CPU:%u\n", iTest,
                (unsigned)g_iTestResult, (unsigned)pRecord->iIndex);
    return g_iTestResult;
}
