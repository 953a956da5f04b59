/* bench-common.h - helpers shared by the benchmarks of zoltbench: the median
 * of a sample set and the names of the figures that the ratio table reads.
 * Each benchmark publishes its figure as a user counter under one of these
 * names; bench-main.cpp collects them after the run and prints the ratios. */
#ifndef ZOLT_BENCH_COMMON_H
#define ZOLT_BENCH_COMMON_H

#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

/* Counter names (the ratio table looks them up by benchmark and counter). */
#define BENCH_COUNTER_MBPS "MBps"             /* bytes processed per CPU second / 1e6 */
#define BENCH_COUNTER_MEDIAN_MS "median_ms"   /* median wall time of one sample */
#define BENCH_COUNTER_MIN_MS "min_ms"         /* fastest sample */
#define BENCH_COUNTER_CPU_PCT "cpu_pct"       /* median percent of one core */
#define BENCH_COUNTER_RUNS_PER_S "runs_per_s" /* median test runs per wall second */

/* Median of the samples (mean of the middle two for an even count); 0 for none.
 * Reorders avSamples. */
inline double BenchMedian(std::vector<double> &avSamples)
{
    if (avSamples.empty())
        return 0.0;
    std::sort(avSamples.begin(), avSamples.end());
    size_t n = avSamples.size();
    return n % 2 != 0 ? avSamples[n / 2] : (avSamples[n / 2 - 1] + avSamples[n / 2]) / 2.0;
}

/* Prints the cost per item of the scaling benchmarks with its ratio to the
 * smallest count of each (bench-scaling.cpp). */
void BenchPrintScaling(void);

/* CPU seconds of the calling thread. */
double BenchThreadCpuSeconds(void);
/* Records one count of a scaling row szName (dWall and dCpu seconds for
 * iItems items) for BenchPrintScaling and as counters of state. */
namespace benchmark {
class State;
}
void BenchPublishPerItem(benchmark::State &state, const char *szName, double dWall, double dCpu,
                         int64_t iItems);
/* Runs argv with standard output and error to /dev/null; returns the exit
 * status, or -1 when it could not be started or did not exit normally. */
int BenchRunQuiet(const std::vector<std::string> &astrArgs);

/* Seconds of a monotonic clock. */
double BenchNowSeconds(void);

/* The module stand-in (bench-run.cpp), run when zoltbench is called as
 * "zoltcpu.linux": the real module's path and the lifetimes file come from
 * these two variables. Returns only when the module cannot be started. */
#define BENCH_ENV_REAL_MODULE "ZOLT_BENCH_REAL_MODULE"
#define BENCH_ENV_LIFETIMES "ZOLT_BENCH_LIFETIMES"
int BenchModuleStandIn(int argc, char **argv);

#endif /* ZOLT_BENCH_COMMON_H */
