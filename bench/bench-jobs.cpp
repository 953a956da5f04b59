/* bench-jobs.cpp - test runs per second of zoltpeers --each-cpu with one job
 * and with one job per logical CPU: each sample is one zoltpeers call running
 * tests 0 to 2 on every logical CPU ZOLT_BENCH_JOB_LOOPS times (default 40,
 * so that starting the worker processes and their enumeration weigh little);
 * the figure is the median of the samples' runs per wall second. */
#include <benchmark/benchmark.h>

#include <sched.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "bench-common.h"

namespace {

/* The samples of one job count. */
void EachCpuJobs(benchmark::State &state, int iJobs)
{
    const char *szPeers = getenv("ZOLT_BENCH_PEERS");
    const char *szLoops = getenv("ZOLT_BENCH_JOB_LOOPS");
    const std::string sLoops = szLoops != nullptr && atoi(szLoops) > 0 ? szLoops : "40";
    const std::vector<std::string> vArgs = { szPeers != nullptr ? szPeers : ZOLT_BIN "/zoltpeers",
                                             "--each-cpu",
                                             "--jobs",
                                             std::to_string(iJobs),
                                             "--loops",
                                             sLoops,
                                             "all",
                                             "--tests",
                                             "0-2" };
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(0, sizeof set, &set);
    const double dRuns = 3.0 * atoi(sLoops.c_str()) * CPU_COUNT(&set);
    std::vector<double> avRate;
    for (auto _ : state) {
        double dStart = BenchNowSeconds();
        int iRc = BenchRunQuiet(vArgs);
        double dSeconds = BenchNowSeconds() - dStart;
        state.SetIterationTime(dSeconds);
        if (iRc != 0) {
            state.SkipWithError("zoltpeers --each-cpu did not pass");
            return;
        }
        avRate.push_back(dRuns / dSeconds);
    }
    state.counters[BENCH_COUNTER_RUNS_PER_S] = BenchMedian(avRate);
}

void BM_EachCpuOneJob(benchmark::State &state)
{
    EachCpuJobs(state, 1);
}

/* One job per logical CPU this process may use. */
void BM_EachCpuJobPerCpu(benchmark::State &state)
{
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(0, sizeof set, &set);
    EachCpuJobs(state, CPU_COUNT(&set));
}

}  // namespace

BENCHMARK(BM_EachCpuOneJob)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EachCpuJobPerCpu)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
