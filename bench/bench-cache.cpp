/* bench-cache.cpp - the cache test's write-and-verify pass (do_cache_testing:
 * 18 patterns, seven block sizes, each block written and read back at once)
 * against a plain write-then-compare loop over a buffer of the same size with
 * the same patterns and blocks, in two forms: as the compiler likes it
 * (vector stores and loads) and one 32-bit word at a time, the access rule of
 * the cache test. All allocate and free their zero-filled buffer per pass, so
 * the ratios compare the loops. The pass runs as in the direct mode without
 * informative messages; nothing is sent anywhere. Rates are per CPU second:
 * the pass also waits up to 1 ms per pattern for a stop request (wall time). */
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include "bench-common.h"
#include "cpu-driver.h"
#include "dapi2.h"
#include "test-cache.h"
#include "test-patterns.h"

namespace {

/* The block sizes of the cache test, in its order (pattern i uses i % 7). */
const uint32_t s_auBlockBytes[CACHE_BLOCK_SIZE_COUNT] = { 7168,   15360,  31744, 64512,
                                                          130048, 261120, 523264 };

/* Bytes written plus bytes read back by one pass over a buffer of uBuffer bytes. */
size_t BytesPerPass(uint32_t uBuffer)
{
    size_t uBytes = 0;
    for (int i = 0; i < iPatternCount; i++) {
        uint32_t uBlock = s_auBlockBytes[i % CACHE_BLOCK_SIZE_COUNT];
        uBytes += 2u * (size_t)(uBuffer / uBlock) * uBlock;
    }
    return uBytes;
}

int DropMessage(const char *szMessage)
{
    (void)szMessage;
    return 0;
}

void SetRate(benchmark::State &state, size_t uBytes)
{
    state.SetBytesProcessed((int64_t)(state.iterations() * uBytes));
    state.counters[BENCH_COUNTER_MBPS] = benchmark::Counter(
        (double)state.iterations() * (double)uBytes / 1e6, benchmark::Counter::kIsRate);
}

void BM_CacheTestPass(benchmark::State &state)
{
    int (*pfnSavedSend)(const char *) = g_pfnDapi2SendMessage;
    g_pfnDapi2SendMessage = DropMessage;
    SetCacheBufferSize();
    TestThreadArgs args = {};
    args.bPrintMessages = 0;
    int iBad = 0;
    for (auto _ : state) {
        g_iTestResult = 0;
        do_cache_testing(&args);
        iBad |= g_iTestResult;
        FreeCacheAllocatedMemory();
    }
    g_pfnDapi2SendMessage = pfnSavedSend;
    if (iBad != 0) {
        state.SkipWithError("the pass did not end with result 0");
        return;
    }
    SetRate(state, BytesPerPass(g_dwBufferSize));
}

/* One pass of a plain loop over a fresh buffer of uBuffer bytes: each block
 * written, then compared, with the same patterns and block sizes. T is
 * uint32_t (the compiler may use any stores and loads, vector ones too; the
 * empty asm makes it forget what it wrote) or volatile uint32_t (one 32-bit
 * store and load per word, in order, the rule the cache test keeps). Returns
 * the wrong words, or -1 without memory. */
template <typename T>
long PlainPass(uint32_t uBuffer)
{
    uint32_t *pdwBuf = static_cast<uint32_t *>(calloc(uBuffer, 1));
    if (pdwBuf == nullptr)
        return -1;
    long lErrors = 0;
    for (int i = 0; i < iPatternCount; i++) {
        const uint32_t dwValue = dwPattern[i];
        const uint32_t uWords = s_auBlockBytes[i % CACHE_BLOCK_SIZE_COUNT] / 4;
        const uint32_t uBlocks = uBuffer / (uWords * 4);
        for (uint32_t uBlock = 0; uBlock < uBlocks; uBlock++) {
            T *p = pdwBuf + (size_t)uBlock * uWords;
            for (uint32_t u = 0; u < uWords; u++)
                p[u] = dwValue;
            asm volatile("" : : "r"(p) : "memory");
            for (uint32_t u = 0; u < uWords; u++)
                lErrors += p[u] != dwValue;
        }
    }
    free(pdwBuf);
    return lErrors;
}

template <typename T>
void PlainLoopBenchmark(benchmark::State &state)
{
    long lErrors = 0;
    for (auto _ : state) {
        long l = PlainPass<T>(CACHE_BUFFER_BYTES);
        benchmark::DoNotOptimize(l);
        lErrors = l != 0 ? l : lErrors;
    }
    if (lErrors != 0) {
        state.SkipWithError(lErrors < 0 ? "out of memory"
                                        : "the plain loop read back a wrong word");
        return;
    }
    SetRate(state, BytesPerPass(CACHE_BUFFER_BYTES));
}

/* The plain loop as the compiler likes it (vectorised at -O3). */
void BM_PlainWriteCompare(benchmark::State &state)
{
    PlainLoopBenchmark<uint32_t>(state);
}

/* The plain loop one 32-bit word at a time. */
void BM_PlainWordWriteCompare(benchmark::State &state)
{
    PlainLoopBenchmark<volatile uint32_t>(state);
}

}  // namespace

BENCHMARK(BM_CacheTestPass)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PlainWriteCompare)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_PlainWordWriteCompare)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
