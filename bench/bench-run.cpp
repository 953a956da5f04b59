/* bench-run.cpp - end-to-end time of a direct-mode "run test=0" (zoltpeers run
 * --device 0 --test 0: the peers start the module for the enumeration and the
 * run, as the engine would) against a bare FIFO ping-pong between two
 * processes (one 147-byte message there and back over two FIFOs). Both report
 * the median wall time of their samples. ZOLT_BENCH_PEERS names another
 * zoltpeers, ZOLT_BENCH_DEVICE another device (default 0, the first CPU),
 * ZOLT_BENCH_RUNS the number of runs (default 15).
 * A third benchmark splits the run's time: zoltbench itself, called through a
 * link named zoltcpu.linux, stands in as the module for zoltpeers and becomes
 * the real module by exec (same pid), leaving behind a watcher that writes the
 * module's lifetime, start to exit, into a file. */
#include <benchmark/benchmark.h>

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "bench-common.h"

extern char **environ;

double BenchNowSeconds(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

namespace {

int EnvInt(const char *szName, int iDefault)
{
    const char *sz = getenv(szName);
    return sz != nullptr && atoi(sz) >= 0 && *sz != '\0' ? atoi(sz) : iDefault;
}

/* Runs argv with standard output and error to /dev/null; returns the exit
 * status, or -1 when it could not be started or did not exit normally. */
int RunQuiet(const std::vector<std::string> &astrArgs)
{
    std::vector<char *> apArgv;
    for (const std::string &str : astrArgs)
        apArgv.push_back(const_cast<char *>(str.c_str()));
    apArgv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    int iRc = posix_spawn(&pid, apArgv[0], &actions, nullptr, apArgv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (iRc != 0)
        return -1;
    int iStatus = 0;
    while (waitpid(pid, &iStatus, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
}

void BM_DirectRunTest0(benchmark::State &state)
{
    const char *szPeers = getenv("ZOLT_BENCH_PEERS");
    std::string strPeers = szPeers != nullptr ? szPeers : ZOLT_BIN "/zoltpeers";
    std::string strDevice = std::to_string(EnvInt("ZOLT_BENCH_DEVICE", 0));
    std::vector<std::string> astrArgs = { strPeers, "run", "--device", strDevice, "--test", "0" };
    if (RunQuiet(astrArgs) != 0) { /* warm-up, and the module must pass */
        state.SkipWithError(
            ("zoltpeers run --device " + strDevice + " --test 0 did not pass: " + strPeers)
                .c_str());
        return;
    }
    std::vector<double> avMs;
    for (auto _ : state) {
        double dStart = BenchNowSeconds();
        int iRc = RunQuiet(astrArgs);
        double dSeconds = BenchNowSeconds() - dStart;
        state.SetIterationTime(dSeconds);
        if (iRc != 0) {
            state.SkipWithError("a run did not pass");
            return;
        }
        avMs.push_back(dSeconds * 1e3);
    }
    double dMedian = BenchMedian(avMs);
    state.counters[BENCH_COUNTER_MEDIAN_MS] = dMedian;
    state.counters[BENCH_COUNTER_MIN_MS] = avMs.empty() ? 0.0 : avMs.front();
}

/* Reads or writes exactly uLen bytes (blocking FIFOs). */
bool ReadAll(int fd, char *p, size_t uLen)
{
    while (uLen > 0) {
        ssize_t rv = read(fd, p, uLen);
        if (rv < 0 && errno == EINTR)
            continue;
        if (rv <= 0)
            return false;
        p += rv;
        uLen -= (size_t)rv;
    }
    return true;
}

bool WriteAll(int fd, const char *p, size_t uLen)
{
    while (uLen > 0) {
        ssize_t rv = write(fd, p, uLen);
        if (rv < 0 && errno == EINTR)
            continue;
        if (rv <= 0)
            return false;
        p += rv;
        uLen -= (size_t)rv;
    }
    return true;
}

/* The worked example's size: a typical small message. */
#define PING_BYTES 147

void BM_FifoPingPong(benchmark::State &state)
{
    char szDir[] = "/tmp/zoltbench-XXXXXX";
    if (mkdtemp(szDir) == nullptr) {
        state.SkipWithError("mkdtemp failed");
        return;
    }
    std::string strA = std::string(szDir) + "/ping", strB = std::string(szDir) + "/pong";
    if (mkfifo(strA.c_str(), 0600) != 0 || mkfifo(strB.c_str(), 0600) != 0) {
        state.SkipWithError("mkfifo failed");
        rmdir(szDir);
        return;
    }
    pid_t pid = fork();
    if (pid == 0) { /* the echoing process: until the ping FIFO closes */
        int fdIn = open(strA.c_str(), O_RDONLY);
        int fdOut = open(strB.c_str(), O_WRONLY);
        char acBuf[PING_BYTES];
        while (fdIn >= 0 && fdOut >= 0 && ReadAll(fdIn, acBuf, sizeof acBuf) &&
               WriteAll(fdOut, acBuf, sizeof acBuf)) {
        }
        _exit(0);
    }
    int fdOut = pid > 0 ? open(strA.c_str(), O_WRONLY) : -1;
    int fdIn = pid > 0 ? open(strB.c_str(), O_RDONLY) : -1;
    char acMsg[PING_BYTES], acBack[PING_BYTES];
    memset(acMsg, 'x', sizeof acMsg);
    std::vector<double> avMs;
    bool bOk = fdOut >= 0 && fdIn >= 0;
    for (auto _ : state) {
        double dStart = BenchNowSeconds();
        bOk = bOk && WriteAll(fdOut, acMsg, sizeof acMsg) && ReadAll(fdIn, acBack, sizeof acBack);
        double dSeconds = BenchNowSeconds() - dStart;
        state.SetIterationTime(dSeconds);
        avMs.push_back(dSeconds * 1e3);
    }
    if (fdOut >= 0)
        close(fdOut);
    if (fdIn >= 0)
        close(fdIn);
    if (pid > 0)
        waitpid(pid, nullptr, 0);
    unlink(strA.c_str());
    unlink(strB.c_str());
    rmdir(szDir);
    if (!bOk || memcmp(acMsg, acBack, sizeof acMsg) != 0) {
        state.SkipWithError("the ping-pong failed");
        return;
    }
    state.counters[BENCH_COUNTER_MEDIAN_MS] = BenchMedian(avMs);
    state.counters[BENCH_COUNTER_MIN_MS] = avMs.empty() ? 0.0 : avMs.front();
}

/* Reads the module lifetimes (ms, one per line) that the watchers wrote,
 * waiting up to 5 s for uWant lines (a watcher writes after its module ended,
 * zoltpeers may end first). */
std::vector<double> ReadLifetimes(const std::string &strFile, size_t uWant)
{
    std::vector<double> av;
    double dGiveUp = BenchNowSeconds() + 5.0;
    do {
        av.clear();
        std::ifstream in(strFile);
        double d;
        while (in >> d)
            av.push_back(d);
        if (av.size() >= uWant)
            break;
        struct timespec ts = { 0, 10000000L };
        nanosleep(&ts, nullptr);
    } while (BenchNowSeconds() < dGiveUp);
    return av;
}

/* Runs as BM_DirectRunTest0 with the timing stand-in as module: the wall time
 * of zoltpeers and how much of it the two module processes (enumeration and
 * run) lived. */
void BM_DirectRunModuleShare(benchmark::State &state)
{
    char szSelf[PATH_MAX];
    ssize_t iLen = readlink("/proc/self/exe", szSelf, sizeof szSelf - 1);
    char szDir[] = "/tmp/zoltbench-XXXXXX";
    if (iLen <= 0 || mkdtemp(szDir) == nullptr) {
        state.SkipWithError("cannot find the own program or make a directory");
        return;
    }
    szSelf[iLen] = '\0';
    std::string strLink = std::string(szDir) + "/zoltcpu.linux",
                strTimes = std::string(szDir) + "/lifetimes";
    const char *szPeers = getenv("ZOLT_BENCH_PEERS");
    std::string strPeers = szPeers != nullptr ? szPeers : ZOLT_BIN "/zoltpeers";
    std::string strModule = strPeers.substr(0, strPeers.rfind('/') + 1) + "zoltcpu.linux";
    std::string strDevice = std::to_string(EnvInt("ZOLT_BENCH_DEVICE", 0));
    std::vector<std::string> astrArgs = { strPeers,   "--module", strLink,  "run",
                                          "--device", strDevice,  "--test", "0" };
    bool bOk = symlink(szSelf, strLink.c_str()) == 0 &&
               setenv(BENCH_ENV_REAL_MODULE, strModule.c_str(), 1) == 0 &&
               setenv(BENCH_ENV_LIFETIMES, strTimes.c_str(), 1) == 0;
    std::vector<double> avWall;
    int iFailedRc = 0;
    for (auto _ : state) {
        double dStart = BenchNowSeconds();
        int iRc = bOk ? RunQuiet(astrArgs) : -1;
        double dSeconds = BenchNowSeconds() - dStart;
        state.SetIterationTime(dSeconds);
        avWall.push_back(dSeconds * 1e3);
        if (iRc != 0 && iFailedRc == 0)
            iFailedRc = iRc;
    }
    std::vector<double> avLife = ReadLifetimes(strTimes, 2 * avWall.size());
    unsetenv(BENCH_ENV_REAL_MODULE);
    unsetenv(BENCH_ENV_LIFETIMES);
    unlink(strTimes.c_str());
    unlink(strLink.c_str());
    rmdir(szDir);
    if (!bOk || iFailedRc != 0 || avLife.size() != 2 * avWall.size()) {
        std::string strWhy =
            !bOk             ? "could not set up the stand-in"
            : iFailedRc != 0 ? "a run through the stand-in ended with " + std::to_string(iFailedRc)
                             : std::to_string(avLife.size()) + " lifetimes for " +
                                   std::to_string(avWall.size()) + " runs";
        state.SkipWithError(strWhy.c_str());
        return;
    }
    /* lines come in run order: enumeration, then run, per zoltpeers call */
    std::vector<double> avBoth, avRun;
    for (size_t i = 0; i + 1 < avLife.size(); i += 2) {
        avBoth.push_back(avLife[i] + avLife[i + 1]);
        avRun.push_back(avLife[i + 1]);
    }
    state.counters[BENCH_COUNTER_MEDIAN_MS] = BenchMedian(avWall);
    state.counters["module_ms"] = BenchMedian(avBoth);
    state.counters["run_module_ms"] = BenchMedian(avRun);
}

}  // namespace

/* The module stand-in: see the file comment. Returns only when the exec fails. */
int BenchModuleStandIn(int argc, char **argv)
{
    (void)argc;
    const char *szReal = getenv(BENCH_ENV_REAL_MODULE);
    const char *szTimes = getenv(BENCH_ENV_LIFETIMES);
    if (szReal == nullptr || szTimes == nullptr)
        return 127;
    double dStart = BenchNowSeconds();
    pid_t pidModule = getpid();
    pid_t pid = fork();
    if (pid == 0) { /* the watcher */
        int fdNull = open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3 && fdNull >= 0; fd++)
            dup2(fdNull, fd);
        int fdPid = (int)syscall(SYS_pidfd_open, pidModule, 0);
        struct pollfd pfd = { fdPid, POLLIN, 0 };
        if (fdPid < 0 || poll(&pfd, 1, 600000) != 1)
            _exit(1);
        char szLine[64];
        int iLen = snprintf(szLine, sizeof szLine, "%.3f\n", (BenchNowSeconds() - dStart) * 1e3);
        int fd = open(szTimes, O_WRONLY | O_APPEND | O_CREAT, 0600);
        if (fd >= 0 && write(fd, szLine, (size_t)iLen) == iLen)
            _exit(0);
        _exit(1);
    }
    argv[0] = const_cast<char *>(szReal);
    execv(szReal, argv);
    return 127;
}

BENCHMARK(BM_DirectRunTest0)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(EnvInt("ZOLT_BENCH_RUNS", 15) > 0 ? EnvInt("ZOLT_BENCH_RUNS", 15) : 15);
BENCHMARK(BM_DirectRunModuleShare)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(EnvInt("ZOLT_BENCH_RUNS", 15) > 0 ? EnvInt("ZOLT_BENCH_RUNS", 15) : 15);
BENCHMARK(BM_FifoPingPong)->Unit(benchmark::kMicrosecond)->UseManualTime()->Iterations(2000);

int BenchRunQuiet(const std::vector<std::string> &astrArgs)
{
    return RunQuiet(astrArgs);
}
