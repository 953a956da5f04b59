/* bench-idle.cpp - processor time of an idle module during a 1 s wait: the
 * FIFO transport's read/write thread running with one read FIFO and one write
 * FIFO registered (as in a connected module) and nothing to move, while the
 * main thread sleeps 1 s in ZoltSleep. The process's CPU time (getrusage,
 * all threads) over the second is the thread's cost. The reference is a bare
 * thread that only sleeps 1 ms per cycle, the floor of any 1 ms cycle.
 * ZOLT_BENCH_IDLE_WINDOWS sets the number of 1 s windows (default 5). */
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <vector>

#include "bench-common.h"
#include "pipe-lowlevel.h"
#include "zolt-time.h"

namespace {

int Windows(void)
{
    const char *sz = getenv("ZOLT_BENCH_IDLE_WINDOWS");
    return sz != nullptr && atoi(sz) > 0 ? atoi(sz) : 5;
}

double ProcessCpuSeconds(void)
{
    struct rusage ru;
    getrusage(RUSAGE_SELF, &ru);
    return (double)(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           (double)(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

/* Percent of one core used by the process in each of iWindows 1 s windows of
 * ZoltSleep(1000) on the calling thread; returns their median, *pdMin the least. */
double MeasureIdleWindows(int iWindows, double *pdMin)
{
    std::vector<double> avPct;
    for (int i = 0; i < iWindows; i++) {
        double dCpu = ProcessCpuSeconds();
        double dWall = BenchNowSeconds();
        ZoltSleep(1000);
        dWall = BenchNowSeconds() - dWall;
        dCpu = ProcessCpuSeconds() - dCpu;
        avPct.push_back(100.0 * dCpu / dWall);
    }
    double dMedian = BenchMedian(avPct);
    *pdMin = avPct.empty() ? 0.0 : avPct.front();
    return dMedian;
}

void Publish(benchmark::State &state, double dMedian, double dMin)
{
    state.counters[BENCH_COUNTER_CPU_PCT] = dMedian;
    state.counters["min_pct"] = dMin;
}

void BM_IdleTransportThread(benchmark::State &state)
{
    char szDir[] = "/tmp/zoltbench-XXXXXX";
    if (mkdtemp(szDir) == nullptr) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    std::string strOwn = std::string(szDir) + "/ZOLT_own",
                strPeer = std::string(szDir) + "/ZOLTFIFO";
    ZoltInitPipes();
    ZoltPipeMkFifo(strOwn.c_str());
    ZoltPipeMkFifo(strPeer.c_str());
    /* the peer's FIFO needs a reader before a write end can be opened */
    int fdPeerReader = open(strPeer.c_str(), O_RDONLY | O_NONBLOCK);
    int hRead = ZoltPipeOpen(strOwn.c_str(), 0);
    int hWrite = ZoltPipeOpen(strPeer.c_str(), 1);
    if (fdPeerReader < 0 || hRead < 0 || hWrite < 0 || ZoltInitReadWriteThread() != 0) {
        state.SkipWithError("could not set up the FIFOs and the thread");
    } else {
        double dMedian = 0.0, dMin = 0.0;
        for (auto _ : state)
            dMedian = MeasureIdleWindows(Windows(), &dMin);
        ZoltStopReadWriteThread();
        Publish(state, dMedian, dMin);
    }
    if (hRead >= 0)
        ZoltPipeClose(hRead);
    if (hWrite >= 0)
        ZoltPipeClose(hWrite);
    if (fdPeerReader >= 0)
        close(fdPeerReader);
    ZoltCleanupPipes();
    unlink(strOwn.c_str());
    unlink(strPeer.c_str());
    rmdir(szDir);
}

std::atomic<int> s_bSleeperRuns{ 0 };

void *BareSleeper(void *pArg)
{
    (void)pArg;
    while (s_bSleeperRuns.load()) {
        struct timespec ts = { 0, 1000000L };
        nanosleep(&ts, nullptr);
    }
    return nullptr;
}

void BM_IdleBareSleeper(benchmark::State &state)
{
    s_bSleeperRuns = 1;
    pthread_t tid;
    if (pthread_create(&tid, nullptr, BareSleeper, nullptr) != 0) {
        state.SkipWithError("pthread_create failed");
        return;
    }
    double dMedian = 0.0, dMin = 0.0;
    for (auto _ : state)
        dMedian = MeasureIdleWindows(Windows(), &dMin);
    s_bSleeperRuns = 0;
    pthread_join(tid, nullptr);
    Publish(state, dMedian, dMin);
}

}  // namespace

BENCHMARK(BM_IdleTransportThread)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_IdleBareSleeper)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
