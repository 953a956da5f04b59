/* test-cache.cpp - test 3, the caches: memory locking around the run, the
 * buffer, and the 18 pattern passes that write each block of the buffer and
 * read it back at once. Test's thread only; one run at a time owns the buffer. */
#include "test-cache.h"

#include <errno.h>
#include <stdlib.h>
#include <sys/mman.h>

#include "dapi2.h"
#include "test-fault.h"
#include "test-messages.h"
#include "test-patterns.h"
#include "trace.h"

uint32_t g_dwBufferSize = 0;
uint32_t *g_pdwOurBuffer = nullptr;

/* Block sizes in bytes, 1 KiB below 8, 16, ... 512 KiB, so that one block's
 * working set sits just below each common cache size in turn. */
static const uint32_t s_adwBlockSize[CACHE_BLOCK_SIZE_COUNT] = {
    7168, 15360, 31744, 64512, 130048, 261120, 523264,
};

static int RealGetLockLimit(struct rlimit *pLimit)
{
    return getrlimit(RLIMIT_MEMLOCK, pLimit);
}

static int RealSetLockLimit(const struct rlimit *pLimit)
{
    return setrlimit(RLIMIT_MEMLOCK, pLimit);
}

PFN_CACHEGETLIMIT g_pfnCacheGetLockLimit = RealGetLockLimit;
PFN_CACHESETLIMIT g_pfnCacheSetLockLimit = RealSetLockLimit;
PFN_CACHELOCKALL g_pfnCacheLockAll = mlockall;
PFN_CACHEUNLOCKALL g_pfnCacheUnlockAll = munlockall;
PFN_CACHECALLOC g_pfnCacheCalloc = calloc;

/* Reports a failed limit or lock call from its errno: 101 and result 4 for
 * EPERM, else 102 and result 1. */
static void ReportLockFailure(int iErrno)
{
    if (iErrno == EPERM) {
        Dapi2_Warning(CACHETEST_WARN_PRIVILEGE, "%s", Dapi2_NlsTagToToken("szWarnCacheSU"));
        g_iTestResult = 4;
    } else {
        Dapi2_Warning(CACHETEST_WARN_PAGING, "%s", Dapi2_NlsTagToToken("szWarnCachePageing"));
        g_iTestResult = 1;
    }
}

/* Writes dwValue into the uWords words of the block in ascending order. The
 * stores are volatile so that each one really goes to memory, one 32-bit
 * store per word, in order (no fill call, no vector or string stores). */
static void WriteBlock(volatile uint32_t *pdwBlock, uint32_t uWords, uint32_t dwValue)
{
    for (uint32_t u = 0; u < uWords; u++)
        pdwBlock[u] = dwValue;
}

/* One wrong word: counts it, sends error 103 and fails the test. Returns 1
 * when the count has reached the limit. Kept out of line so that the
 * read-back loop stays a plain load-compare loop. */
static __attribute__((noinline)) int ReportWrongWord(uint32_t *puErrors, uint32_t uLimit)
{
    TPRINTF(4, __FILE__, __LINE__, "", "\n");
    (*puErrors)++;
    AddError(CACHETEST_ERR_READBACK, Dapi2_NlsTagToToken("szErrorCacheRW"));
    g_iTestResult = 2;
    return *puErrors >= uLimit ? 1 : 0;
}

/* Reads the uWords words of the block back in ascending order (volatile
 * 32-bit loads) and reports each that is not dwValue. Returns 1 when the
 * error limit was reached (the rest of the block is not read), else 0. */
static int CheckBlock(const volatile uint32_t *pdwBlock, uint32_t uWords, uint32_t dwValue,
                      uint32_t *puErrors, uint32_t uLimit)
{
    for (uint32_t u = 0; u < uWords; u++) {
        if (pdwBlock[u] != dwValue && ReportWrongWord(puErrors, uLimit) != 0)
            return 1;
    }
    return 0;
}

/* Sets the buffer size from the test's parameter; returns 0. */
int SetCacheBufferSize(void)
{
    double dBytes = CACHE_BUFFER_BYTES;
    Dapi2_GetTestParameter(CACHE_TEST_ID, CACHE_PARAM_BUFFER_BYTES, CACHE_BUFFER_BYTES, &dBytes);
    if (!(dBytes >= CACHE_BUFFER_MIN_BYTES && dBytes <= CACHE_BUFFER_MAX_BYTES))
        dBytes = dBytes > CACHE_BUFFER_MAX_BYTES ? CACHE_BUFFER_MAX_BYTES : CACHE_BUFFER_MIN_BYTES;
    g_dwBufferSize = (uint32_t)dBytes & ~3u;
    return 0;
}

/* Frees the buffer of the run; null afterwards. */
void FreeCacheAllocatedMemory(void)
{
    free(g_pdwOurBuffer);
    g_pdwOurBuffer = nullptr;
}

/* The 18 pattern passes over the buffer (see test-cache.h). Returns pArgs. */
TestThreadArgs *do_cache_testing(TestThreadArgs *pArgs)
{
    TPRINTF(4, __FILE__, __LINE__, "", "Enter do_cache_testing\n");
    const uint32_t uLimit = (uint32_t)Dapi2_GetErrorLimit();
    uint32_t uErrors = 0;

    g_pdwOurBuffer = static_cast<uint32_t *>(g_pfnCacheCalloc(g_dwBufferSize, 1));
    if (g_pdwOurBuffer == nullptr) {
        g_iTestResult = 1;
        Dapi2_Warning(CACHETEST_WARN_MEMORY, "%s", Dapi2_NlsTagToToken("szWarnMemory"));
    }
    /* An allocation failure, or a fault or stop of an earlier run: test nothing. */
    if (g_iTestResult != 0)
        return pArgs;

    volatile uint32_t *const pdwBuffer = g_pdwOurBuffer;
    for (int i = 0; i < iPatternCount; i++) {
        if (Dapi2_CheckForStop() != 0) {
            g_iTestResult = 8;
            return pArgs;
        }
        const uint32_t dwValue = dwPattern[i];
        const uint32_t dwBlockBytes = s_adwBlockSize[i % CACHE_BLOCK_SIZE_COUNT];
        const uint32_t uWords = dwBlockBytes / 4;
        SendTestInfo(pArgs, Dapi2_NlsTagToTokenVar("szProgressCachePattern", "%i%i%08lX",
                                                   "curpattern", i + 1, "totalpattern",
                                                   iPatternCount, "thispattern", (int)dwValue));

        /* Whole blocks only; the bytes after the last one are not used. */
        const uint32_t uBlocks = g_dwBufferSize / dwBlockBytes;
        for (uint32_t uBlock = 0; uBlock < uBlocks; uBlock++) {
            volatile uint32_t *pdwBlock = pdwBuffer + (size_t)uBlock * uWords;
            WriteBlock(pdwBlock, uWords, dwValue);
            TestFaultPoint(CACHETEST_FAULT_TEST, (unsigned)i + 1, CACHETEST_FAULT_CHECK, uBlock,
                           const_cast<uint32_t *>(pdwBlock), dwBlockBytes);
            if (CheckBlock(pdwBlock, uWords, dwValue, &uErrors, uLimit) != 0)
                return pArgs;
        }
    }
    TPRINTF(4, __FILE__, __LINE__, "", "Exit do_cache_testing\n");
    return pArgs;
}

/* Raises the lock limit to unlimited. Returns 0 raised (*pbRaised 1), 0 when
 * the raise was refused (EPERM) so that locking may still work with the right
 * to lock memory or a limit large enough already (*pbRaised 0, traced), else
 * -1 with errno set. */
static int RaiseLockLimit(const struct rlimit *pSaved, int *pbRaised)
{
    struct rlimit unlimited;
    unlimited.rlim_cur = RLIM_INFINITY;
    unlimited.rlim_max = RLIM_INFINITY;
    *pbRaised = 0;
    if (g_pfnCacheSetLockLimit(&unlimited) == 0) {
        *pbRaised = 1;
        return 0;
    }
    if (errno != EPERM)
        return -1;
    TPRINTF(4, __FILE__, __LINE__, "",
            "do_cache: raising the lock limit (%llu) was refused; locking anyway\n",
            (unsigned long long)pSaved->rlim_cur);
    return 0;
}

/* Test 3 (see test-cache.h). Returns pArgs. Run's thread. */
TestThreadArgs *do_cache(TestThreadArgs *pArgs)
{
    struct rlimit savedLimit;
    int bRaised = 0;

    /* Any failure here leaves everything as it is: nothing to undo. */
    if (g_pfnCacheGetLockLimit(&savedLimit) != 0 || RaiseLockLimit(&savedLimit, &bRaised) != 0 ||
        g_pfnCacheLockAll(MCL_CURRENT | MCL_FUTURE) != 0) {
        int iErrno = errno;
        if (bRaised) /* only the limit this run changed is put back */
            g_pfnCacheSetLockLimit(&savedLimit);
        ReportLockFailure(iErrno);
    } else {
        SendTestInfo(pArgs, Dapi2_NlsTagToToken("szProgressCacheAllocMem"));
        SetCacheBufferSize();
        do_cache_testing(pArgs);
        if (g_iTestResult != 8)
            AddPercentDone(100);
        FreeCacheAllocatedMemory();
        if ((bRaised && g_pfnCacheSetLockLimit(&savedLimit) != 0) || g_pfnCacheUnlockAll() != 0)
            ReportLockFailure(errno);
    }

    if (pArgs != nullptr)
        SignalEndOfRun();
    TPRINTF(4, __FILE__, __LINE__, "", "do_cache complete\n");
    return pArgs;
}
