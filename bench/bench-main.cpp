/* bench-main.cpp - zoltbench's main: runs the benchmarks (Google Benchmark
 * command-line flags apply), keeps each benchmark's figure (the median of its
 * repetitions where it has some) and prints the four ratios with their
 * targets, plus the machine's load average before and after the run, since
 * the machine is shared and its load moves every figure. */
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "bench-common.h"

namespace {

/* Console output as usual; also keeps the counters of each benchmark's
 * representative run: its median aggregate, or its only run. */
class RatioReporter : public benchmark::ConsoleReporter {
public:
    /* Colour only on a terminal (a custom reporter does not get the flag). */
    RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}
    void ReportRuns(const std::vector<Run> &aRuns) override
    {
        ConsoleReporter::ReportRuns(aRuns);
        for (const Run &run : aRuns) {
            if (run.error_occurred)
                continue;
            bool bMedian = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Iteration || bMedian) {
                std::map<std::string, double> &mapFig = m_mapFigures[run.run_name.function_name];
                if (bMedian || mapFig.empty())
                    for (const auto &kv : run.counters)
                        mapFig[kv.first] = kv.second.value;
            }
        }
    }
    /* The counter of a benchmark, or -1 when it did not run or failed. */
    double Figure(const char *szBenchmark, const char *szCounter) const
    {
        auto it = m_mapFigures.find(szBenchmark);
        if (it == m_mapFigures.end())
            return -1.0;
        auto itC = it->second.find(szCounter);
        return itC == it->second.end() ? -1.0 : itC->second;
    }

private:
    std::map<std::string, std::map<std::string, double>> m_mapFigures;
};

std::string LoadAverage(void)
{
    char szLine[128] = "";
    FILE *pFile = fopen("/proc/loadavg", "r");
    if (pFile != nullptr) {
        if (fgets(szLine, sizeof szLine, pFile) == nullptr)
            szLine[0] = '\0';
        fclose(pFile);
    }
    std::string str = szLine;
    while (!str.empty() && (str.back() == '\n' || str.back() == ' '))
        str.pop_back();
    return str.empty() ? "unknown" : str;
}

const char *Verdict(double dValue, double dOther, bool bMet)
{
    return dValue < 0 || dOther < 0 ? "NOT MEASURED" : bMet ? "met" : "MISSED";
}

void PrintRatios(const RatioReporter &rep, const std::string &strLoadBefore)
{
    printf("\nRatios (side by side in this run)\n");
    printf("load average before: %s\n", strLoadBefore.c_str());
    printf("load average after:  %s\n", LoadAverage().c_str());

    double dLookup = rep.Figure("BM_FieldLookup2K", BENCH_COUNTER_MBPS);
    double dMemchr = rep.Figure("BM_MemchrScan2K", BENCH_COUNTER_MBPS);
    printf("1 field lookup, 2 KB message: %.0f MB/s; memchr scan of the same text: %.0f MB/s; "
           "ratio %.3f; target lookup >= 1000 MB/s: %s\n",
           dLookup, dMemchr, dMemchr > 0 ? dLookup / dMemchr : 0.0,
           Verdict(dLookup, dMemchr, dLookup >= 1000.0));

    double dPass = rep.Figure("BM_CacheTestPass", BENCH_COUNTER_MBPS);
    double dPlain = rep.Figure("BM_PlainWriteCompare", BENCH_COUNTER_MBPS);
    double dWord = rep.Figure("BM_PlainWordWriteCompare", BENCH_COUNTER_MBPS);
    double dCacheRatio = dPlain > 0 ? dPass / dPlain : 0.0;
    double dWordRatio = dWord > 0 ? dPass / dWord : 0.0;
    /* The test must store and load one 32-bit word at a time, so the plain
     * loop that does the same is the reference; the vectorised loop shows
     * what that rule costs. */
    printf(
        "2 cache test pass: %.0f MB/s; plain write-then-compare loop, one 32-bit word at a time: "
        "%.0f MB/s, ratio %.3f, target ratio >= 0.8: %s;\n"
        "  for comparison, the same loop vectorised by the compiler: %.0f MB/s, ratio %.3f\n",
        dPass, dWord, dWordRatio, Verdict(dPass, dWord, dWordRatio >= 0.8), dPlain, dCacheRatio);

    double dRun = rep.Figure("BM_DirectRunTest0", BENCH_COUNTER_MEDIAN_MS);
    double dPing = rep.Figure("BM_FifoPingPong", BENCH_COUNTER_MEDIAN_MS);
    printf(
        "3 direct-mode run test=0 through zoltpeers: median %.2f ms; FIFO ping-pong: median %.4f ms; "
        "ratio %.0f; target run < 25 ms: %s\n",
        dRun, dPing, dPing > 0 ? dRun / dPing : 0.0,
        Verdict(dRun, dPing, dRun >= 0 && dRun < 25.0));
    double dShareWall = rep.Figure("BM_DirectRunModuleShare", BENCH_COUNTER_MEDIAN_MS);
    double dModules = rep.Figure("BM_DirectRunModuleShare", "module_ms");
    double dRunModule = rep.Figure("BM_DirectRunModuleShare", "run_module_ms");
    if (dShareWall > 0)
        printf(
            "  of which the module processes lived: median %.2f ms (enumeration + run), the run's own "
            "module %.2f ms, of %.2f ms for zoltpeers in that benchmark\n",
            dModules, dRunModule, dShareWall);

    double dIdle = rep.Figure("BM_IdleTransportThread", BENCH_COUNTER_CPU_PCT);
    double dBare = rep.Figure("BM_IdleBareSleeper", BENCH_COUNTER_CPU_PCT);
    printf("4 idle module, transport thread: %.2f %% of a core; bare 1 ms sleeper thread: %.2f %%; "
           "ratio %.2f; target < 2 %%: %s\n",
           dIdle, dBare, dBare > 0 ? dIdle / dBare : 0.0,
           Verdict(dIdle, dBare, dIdle >= 0 && dIdle < 2.0));
    double dOne = rep.Figure("BM_EachCpuOneJob", BENCH_COUNTER_RUNS_PER_S);
    double dPerCpu = rep.Figure("BM_EachCpuJobPerCpu", BENCH_COUNTER_RUNS_PER_S);
    printf("6 --each-cpu test runs per second: --jobs 1 %.1f, one job per logical CPU %.1f; "
           "ratio %.2f; target ratio >= 1.7 on 2 CPUs: %s\n",
           dOne, dPerCpu, dOne > 0 ? dPerCpu / dOne : 0.0,
           Verdict(dOne, dPerCpu, dOne > 0 && dPerCpu / dOne >= 1.7));
    printf("5 linear cost (flat ratios; targets: 65,536 messages done within 1.5 s, 16,384 "
           "devices parsed within 0.3 s; enumeration per logical CPU, zoltpeers' parses per "
           "device and its string registration per run: every ratio at most 1.5)\n");
    BenchPrintScaling();
}

}  // namespace

int main(int argc, char **argv)
{
    const char *szBase = strrchr(argv[0], '/');
    if (strcmp(szBase != nullptr ? szBase + 1 : argv[0], "zoltcpu.linux") == 0)
        return BenchModuleStandIn(argc, argv);
    std::string strLoadBefore = LoadAverage();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter rep;
    benchmark::RunSpecifiedBenchmarks(&rep);
    benchmark::Shutdown();
    PrintRatios(rep, strLoadBefore);
    fflush(stdout);
    return 0;
}
