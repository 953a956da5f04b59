/* test-cache.h - test 3, the caches: with the process's memory locked, each of
 * the 18 patterns is written block by block through a 600000-byte buffer and
 * every block is read back at once, the block size stepping through seven
 * sizes just below 8, 16, 32, 64, 128, 256 and 512 KiB. */
#ifndef ZOLTCPU_TEST_CACHE_H
#define ZOLTCPU_TEST_CACHE_H

#include <stddef.h>
#include <stdint.h>
#include <sys/resource.h>

#include "cpu-driver.h"

/* Event numbers (and tags) of the cache test. */
#define CACHETEST_WARN_PRIVILEGE 101 /* "szWarnCacheSU": no right to lock memory, result 4 */
#define CACHETEST_WARN_PAGING 102    /* "szWarnCachePageing": other lock failure, result 1 */
#define CACHETEST_ERR_READBACK 103   /* "szErrorCacheRW": one per wrong word, result 2 */
#define CACHETEST_WARN_MEMORY 104    /* "szWarnMemory": no buffer, result 1 */

/* Bytes of the test buffer by default: room for 83 blocks of the smallest
 * size and one of the largest. */
#define CACHE_BUFFER_BYTES 600000u
/* The test's parameter "ZOLT_CPU_CACHE_BUFFER_BYTES": the buffer size in
 * bytes, default and bounds from the definitions file (zoltcpu.ini, test
 * CACHE_TEST_ID).
 * Whatever the file says, the size stays between one block of the largest size
 * and 64 MiB (the buffer is locked in memory). */
#define CACHE_TEST_ID 3
#define CACHE_PARAM_BUFFER_BYTES "ZOLT_CPU_CACHE_BUFFER_BYTES"
#define CACHE_BUFFER_MIN_BYTES 523264u
#define CACHE_BUFFER_MAX_BYTES (64u << 20)
/* Number of block sizes; pattern i uses size i % CACHE_BLOCK_SIZE_COUNT. */
#define CACHE_BLOCK_SIZE_COUNT 7

/* The fault seam (test-fault.h) of the cache test: after a block has been
 * written and before it is read back, TestFaultPoint(3, pattern number 1 to
 * 18, 0x01, block index from 0, the block, its size in bytes) is called, so a
 * hook may change words of the buffer that the read-back then compares. */
#define CACHETEST_FAULT_TEST 3
#define CACHETEST_FAULT_CHECK 0x01

/* Buffer size in bytes; SetCacheBufferSize sets it. */
extern uint32_t g_dwBufferSize;
/* The buffer of the running test, zero-filled; null between runs. */
extern uint32_t *g_pdwOurBuffer;

/* Test seams around the platform calls; each default is the real call (the
 * limit functions act on RLIMIT_MEMLOCK). A stand-in reports failure as the
 * real one does: -1 with errno set. */
typedef int (*PFN_CACHEGETLIMIT)(struct rlimit *pLimit);
typedef int (*PFN_CACHESETLIMIT)(const struct rlimit *pLimit);
typedef int (*PFN_CACHELOCKALL)(int iFlags);
typedef int (*PFN_CACHEUNLOCKALL)(void);
typedef void *(*PFN_CACHECALLOC)(size_t nCount, size_t nSize);
extern PFN_CACHEGETLIMIT g_pfnCacheGetLockLimit; /* getrlimit(RLIMIT_MEMLOCK) */
extern PFN_CACHESETLIMIT g_pfnCacheSetLockLimit; /* setrlimit(RLIMIT_MEMLOCK) */
extern PFN_CACHELOCKALL g_pfnCacheLockAll;       /* mlockall */
extern PFN_CACHEUNLOCKALL g_pfnCacheUnlockAll;   /* munlockall */
extern PFN_CACHECALLOC g_pfnCacheCalloc;         /* calloc; the buffer is freed with free */

/* Test 3's routine. Saves the locked-memory limit, raises it to unlimited and
 * locks all current and future pages. A raise refused with EPERM is traced
 * and the locking tried all the same (with the right to lock memory, or a
 * limit large enough already, it works). A failure of the other calls there
 * sends warning 101 (errno EPERM, g_iTestResult 4) or 102 (g_iTestResult 1),
 * puts back a limit it raised and touches no buffer. Otherwise sends the
 * informative message of "szProgressCacheAllocMem" (pArgs null or
 * bPrintMessages set), runs do_cache_testing, sends percent 100 unless the run
 * was stopped (g_iTestResult 8), frees the buffer, restores the limit if it
 * raised it and unlocks (a failure there: warning 101 or 102 as above). Gives
 * the end-of-run signal when pArgs is not null. Returns pArgs. Run's thread;
 * does not busy-wait. */
TestThreadArgs *do_cache(TestThreadArgs *pArgs);

/* The pattern passes. Allocates g_dwBufferSize zero-filled bytes into
 * g_pdwOurBuffer (failure: warning 104, g_iTestResult 1) and returns at once
 * when g_iTestResult is not 0. Then for each pattern: a stop request
 * (Dapi2_CheckForStop) sets g_iTestResult to 8 and returns; the progress
 * message "szProgressCachePattern" (curpattern, totalpattern, thispattern as
 * eight upper-case hex digits) goes out like an informative message; each
 * whole block is written and read back word by word in ascending order. Each
 * wrong word is error 103 and g_iTestResult 2; the pass ends at once when the
 * error count reaches Dapi2_GetErrorLimit() (unsigned; 0 ends at the first
 * wrong word). The caller frees the buffer. Returns pArgs. */
TestThreadArgs *do_cache_testing(TestThreadArgs *pArgs);

/* Sets g_dwBufferSize from the parameter CACHE_PARAM_BUFFER_BYTES (600000
 * without a definitions file), held between CACHE_BUFFER_MIN_BYTES and
 * CACHE_BUFFER_MAX_BYTES and cut to whole words; returns 0. */
int SetCacheBufferSize(void);

/* Frees g_pdwOurBuffer (if any) and sets it to null. */
void FreeCacheAllocatedMemory(void);

#endif /* ZOLTCPU_TEST_CACHE_H */
