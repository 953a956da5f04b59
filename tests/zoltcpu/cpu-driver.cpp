/* Tests of the CPU test driver with a stand-in test routine, stand-in time
 * files and a stand-in for the kernel's affinity sets: mode choice, acceptance
 * and attempts, replay, pinning, locking, result, time snapshots. */
#include "zoltcpu/cpu-test-events.h"

#include <errno.h>
#include <sched.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "common/read-file.h"
#include "message-protocol.h"
#include "test-cache.h"
#include "zoltcpu.h"

namespace {

using zolttest::ReadFile;
const std::string kFixtures = std::string(ZOLT_FIXTURES) + "/cpu/";

unsigned Tid()
{
    return (unsigned)syscall(SYS_gettid);
}

/* The kernel's affinity sets as the driver reaches them: every thread starts
 * in the set the process inherited; a pin replaces the calling thread's set,
 * unless its run's number is among the refused ones. */
std::vector<unsigned> s_inherited;
std::vector<int> s_refused;
thread_local std::vector<unsigned> t_pinned;
thread_local int t_iRun = -1;

std::vector<unsigned> AllowedNow()
{
    return t_pinned.empty() ? s_inherited : t_pinned;
}
/* The stand-in kernel: the driver only ever reads and sets its own thread's
 * set (pid 0); another pid would move some other process. */
bool OwnThread(pid_t pid)
{
    EXPECT_EQ(pid, 0) << "the driver asked about another process";
    if (pid != 0)
        errno = ESRCH;
    return pid == 0;
}
int FakeGetAffinity(pid_t pid, size_t uSize, cpu_set_t *pSet)
{
    if (!OwnThread(pid))
        return -1;
    CPU_ZERO_S(uSize, pSet);
    for (unsigned u : AllowedNow())
        CPU_SET_S(u, uSize, pSet);
    return 0;
}
int FakeSetAffinity(pid_t pid, size_t uSize, const cpu_set_t *pSet)
{
    if (!OwnThread(pid))
        return -1;
    if (std::count(s_refused.begin(), s_refused.end(), t_iRun) != 0) {
        errno = EINVAL;
        return -1;
    }
    t_pinned.clear();
    for (unsigned u = 0; u < 8 * uSize; u++)
        if (CPU_ISSET_S(u, uSize, pSet))
            t_pinned.push_back(u);
    return 0;
}

/* Run i's time file (stat file when bStat, else per-CPU; "" none); iFault 1:
 * error 70 + i and g_iTestResult 2, 2: the error alone. */
struct RunScript {
    std::string sTime;
    bool bStat;
    int iFault;
};
RunScript Legacy(const char *szFixture, int iFault = 0)
{
    return { ReadFile(kFixtures + szFixture), false, iFault };
}

struct RunSeen {
    bool bArgs;
    unsigned uPrint, uTarget, uTid;
    std::vector<unsigned> allowed; /* affinity */
    int iFlagAtStart;              /* the end-of-run flag as the routine starts */
};
std::vector<RunScript> s_script;
std::vector<RunSeen> s_runs; /* written by one run at a time */
std::string s_sTimeDir;
int s_iFailCreateAt = -1, s_iCreates = 0;
/* The handshake: routines started and ended, and whether a run thread was
 * created while an earlier run's routine had not ended. */
int s_iStarted = 0, s_iEnded = 0;
bool s_bOverlap = false;

std::string TimeFile(bool bStat, unsigned uTid)
{
    return s_sTimeDir + (bStat ? "/stat-" : "/cpu-") + std::to_string(uTid);
}

/* Follows the routine contract: informative message when asked, percent
 * 10 + run number, the scripted fault, percent 100, then the end signal. */
TestThreadArgs *StandIn(TestThreadArgs *pArgs)
{
    const unsigned uRun = (unsigned)s_runs.size();
    pthread_mutex_lock(&g_TestCond.mutex);
    const int iFlag = g_TestCond.iSignaled;
    pthread_mutex_unlock(&g_TestCond.mutex);
    s_runs.push_back({ pArgs != nullptr, pArgs ? pArgs->bPrintMessages : 1u,
                       pArgs ? pArgs->uTargetCPU : 0u, Tid(), AllowedNow(), iFlag });
    RunScript s = uRun < s_script.size() ? s_script[uRun] : RunScript{ "", false, 0 };
    if (pArgs == nullptr || pArgs->bPrintMessages)
        Dapi2_Informative("info-%u", uRun);
    AddPercentDone(10 + (int)uRun);
    if (s.iFault != 0)
        AddError(70 + (int)uRun, ("fault-" + std::to_string(uRun)).c_str());
    if (s.iFault == 1)
        g_iTestResult = 2;
    AddPercentDone(100);
    if (!s.sTime.empty())
        std::ofstream(TimeFile(s.bStat, Tid())) << s.sTime;
    if (pArgs != nullptr) {
        __atomic_add_fetch(&s_iEnded, 1, __ATOMIC_SEQ_CST);
        SignalEndOfRun();
    }
    return pArgs;
}
const PFN_CPUTEST kStandIns[4] = { StandIn, StandIn, StandIn, StandIn };

/* A run thread's time file lives as long as the thread, as the kernel's
 * per-thread files do. It exists from the thread's start: a missing "before"
 * file would record no per-CPU lines (g_uNumCPUS 0) just as the previous
 * run's tail computes its share. And it goes with the thread: a later thread
 * that is given the same id (ids are reused once the process ids wrap, which
 * a busy machine reaches within a test) must not find it. */
void *RunThenDropTimeFiles(void *pArg)
{
    const size_t uRun = s_runs.size(); /* the previous run has ended its routine */
    t_iRun = (int)uRun;
    if (uRun < s_script.size() && !s_script[uRun].sTime.empty()) /* no ticks yet */
        std::ofstream(TimeFile(s_script[uRun].bStat, Tid()))
            << (s_script[uRun].bStat ? "1 (x) R 1 1 1 0 -1 0 0 0 0 0 0 0\n"
                                     : "cpu 0 0\ncpu0 0 0\ncpu1 0 0\n");
    void *pResult = RunTest(pArg);
    unlink(TimeFile(false, Tid()).c_str());
    unlink(TimeFile(true, Tid()).c_str());
    return pResult;
}

int MaybeFailingCreate(pthread_t *pThread, const pthread_attr_t *pAttr, void *(*pfn)(void *),
                       void *pArg)
{
    if (s_iCreates++ == s_iFailCreateAt)
        return EAGAIN;
    s_bOverlap |= __atomic_load_n(&s_iEnded, __ATOMIC_SEQ_CST) != s_iStarted++;
    EXPECT_EQ(pfn, RunTest);
    return pthread_create(pThread, pAttr, RunThenDropTimeFiles, pArg);
}

class Driver : public CpuTestFixture {
protected:
    void SetUp() override
    {
        CpuTestFixture::SetUp();
        s_sTimeDir = m_dir.sPath;
        g_szCpuTimeFileFormat = m_sCpuTime.c_str();
        g_szTaskStatFileFormat = m_sStat.c_str();
        g_pfnCreateRunThread = MaybeFailingCreate;
        g_pfnGetAffinity = FakeGetAffinity;
        g_pfnSetAffinity = FakeSetAffinity;
        g_CpuTestTable = { kStandIns, 4 };
        Restart("cpuinfo-2sockets.txt", "meminfo-large.txt");
    }
    void TearDown() override
    {
        g_pfnCreateRunThread = pthread_create;
        g_pfnGetAffinity = sched_getaffinity;
        g_pfnSetAffinity = sched_setaffinity;
        g_CpuTestTable = m_table;
        CpuTestFixture::TearDown();
    }
    /* A fresh run within one test, on these processor and memory tables. */
    void Restart(const std::string &sCpuInfo, const char *szMemInfo)
    {
        Fresh();
        s_runs.clear();
        s_script.clear();
        s_iCreates = s_iStarted = s_iEnded = 0;
        s_iFailCreateAt = -1;
        s_bOverlap = false;
        s_inherited = { 0, 1 };
        s_refused.clear();
        t_pinned.clear();
        UseCpuInfo(sCpuInfo);
        m_sMemInfo = kFixtures + szMemInfo;
        g_szMemInfoPath = m_sMemInfo.c_str();
    }
    int Run(const char *szLocator, int iTest = 2)
    {
        return OurDiagFunction(iTest, Device(szLocator));
    }
    TempDir m_dir;
    std::string m_sCpuTime = m_dir.sPath + "/cpu-%u", m_sStat = m_dir.sPath + "/stat-%u",
                m_sMemInfo;
    CpuTestTable m_table = g_CpuTestTable;
};

TEST_F(Driver, DirectOrPinned)
{
    const struct {
        const char *szCpuInfo, *szMemInfo, *szLocator;
        bool bPinned;
    } cases[] = {
        { "cpuinfo-single.txt", "meminfo-large.txt", "CPU:0", false },   /* one CPU record */
        { "cpuinfo-2sockets.txt", "meminfo-small.txt", "CPU:1", false }, /* below 300000 kB */
        { "cpuinfo-2sockets.txt", "meminfo-exact.txt", "CPU:1", true },  /* exactly 300000 kB */
        { "cpuinfo-2sockets.txt", "no-such-meminfo.txt", "CPU:1", true },
        { "cpuinfo-2sockets.txt", "meminfo-beyond-int.txt", "CPU:1", true }, /* 4 TiB: no wrap */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.szCpuInfo) + " " + c.szMemInfo);
        Restart(c.szCpuInfo, c.szMemInfo);
        s_script = { Legacy("time-100.txt", 1), Legacy("time-0.txt") };
        EXPECT_EQ(Run(c.szLocator), 2);
        ASSERT_EQ(s_runs.size(), c.bPinned ? 2u : 1u);
        EXPECT_EQ(s_runs[0].bArgs, c.bPinned);
        EXPECT_EQ(g_uBusyWaitTime, c.bPinned ? 60u : 0u);
        EXPECT_EQ(Seen(), "INFO info-0|PERCENTDONE 10|ERROR 70 fault-0|PERCENTDONE 100");
    }
}

/* Accepted above 79 percent on the target, or in the third attempt; only its
 * events are replayed (the first run's INFO aside); a dropped run's fault fails.
 * The runs of an attempt follow one another: each starts with the end flag
 * reset and its thread is created after the previous routine ended. */
TEST_F(Driver, AcceptedRunIsReplayed)
{
    const struct {
        std::vector<RunScript> script;
        int iResult;
        size_t nRuns;
        const char *szEvents; /* after "INFO info-0|PERCENTDONE ", before "|PERCENTDONE 100" */
    } cases[] = {
        { { Legacy("time-79.txt", 1), Legacy("time-80.txt") }, 2, 2, "11" },
        { { Legacy("time-80.txt"), Legacy("time-100.txt", 1) }, 2, 2, "10" },
        { { Legacy("time-0.txt", 1), Legacy("time-100.txt", 1) }, 2, 2, "11|ERROR 71 fault-1" },
        /* a replayed error fails the test by itself */
        { { Legacy("time-100.txt", 2), Legacy("time-0.txt") }, 2, 2, "10|ERROR 70 fault-0" },
        { {}, 0, 6, "14" }, /* no time source */
    };
    for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
        SCOPED_TRACE(i);
        Restart("cpuinfo-2sockets.txt", "meminfo-large.txt");
        s_script = cases[i].script;
        EXPECT_EQ(Run("CPU:1"), cases[i].iResult);
        EXPECT_EQ(Seen(),
                  std::string("INFO info-0|PERCENTDONE ") + cases[i].szEvents + "|PERCENTDONE 100");
        ASSERT_EQ(s_runs.size(), cases[i].nRuns);
        for (const RunSeen &r : s_runs)
            EXPECT_EQ(std::to_string(r.uPrint) + " " + std::to_string(r.uTarget) + " " +
                          std::to_string(r.iFlagAtStart),
                      &r == &s_runs[0] ? "1 1 0" : "0 1 0");
        EXPECT_FALSE(s_bOverlap);
        EXPECT_NE(s_runs[0].uTid, s_runs[1].uTid);
        /* a per-CPU time file: no pinning; none: pinned to CPU 1 */
        EXPECT_EQ(s_runs[0].allowed,
                  (cases[i].script.empty() ? std::vector<unsigned>{ 1 } : s_inherited));
    }
}

/* A thread that cannot be created ends the test as a setup error unless a
 * fault was already seen; the queued events are dropped. */
TEST_F(Driver, RequestsThatRunNothingAndThreadsNotCreated)
{
    EXPECT_EQ(OurDiagFunction(2, nullptr), 9);
    EXPECT_EQ(Run("CPU:1", 4), 6);
    EXPECT_EQ(Run("CPU:1", -1), 6); /* taken unsigned */
    EXPECT_EQ(Run("CPU:7"), 9);
    EXPECT_EQ(Seen(), "WARN 105 szWarnDeviceNotFound");
    EXPECT_TRUE(s_runs.empty());
    for (int iFault : { 0, 1 }) {
        Restart("cpuinfo-2sockets.txt", "meminfo-large.txt");
        s_iFailCreateAt = 1;
        s_script = { Legacy("time-100.txt", iFault) };
        EXPECT_EQ(Run("CPU:1"), iFault ? 2 : 1);
        EXPECT_EQ(s_runs.size(), 1u);
        EXPECT_EQ(Seen(), "INFO info-0");
    }
    /* the run loop itself answers 1 for it, the second attempt's second run
     * not created; a caller's print and not-placed flags reach no run */
    Restart("cpuinfo-2sockets.txt", "meminfo-large.txt");
    s_iFailCreateAt = 3;
    s_script = { Legacy("time-0.txt"), Legacy("time-0.txt"), Legacy("time-0.txt") };
    TestThreadArgs args = {};
    args.uTargetCPU = 1;
    args.pfnTest = StandIn;
    const unsigned uCpu = 1;
    args.puLogicalCPUs = &uCpu;
    args.uLogicalCPUCount = 1;
    args.bPrintMessages = args.bNotPlaced = 1;
    EXPECT_EQ(InitThreads(&args), 1);
    EXPECT_EQ(g_iTestResult, 1);
    EXPECT_EQ(Seen(), "INFO info-0");
    KillDevices(g_pRootDevice); /* no CPU record: nothing to run, no endless attempts */
    g_pRootDevice = nullptr;
    EXPECT_EQ(InitThreads(&args), 1);
}

/* Events dropped with the queue are not replayed later for the same thread;
 * an error without a text goes out with an empty one. */
TEST_F(Driver, DroppedEventsStayDropped)
{
    g_DeferErrors = 1;
    AddError(70, "stale");
    AddPercentDone(5);
    RemoveAllDapi2Messages();
    ProcessMessages(Tid());
    EXPECT_EQ(Seen(), "");
    EXPECT_EQ(g_iTestResult, 0);
    g_DeferErrors = 0; /* no text is an empty text */
    AddError(71, nullptr);
    EXPECT_EQ(Seen(), "ERROR 71 ");
}

/* Each entry point takes its lock: while the test holds it, the call does not
 * get past it (a bounded wait, which a sound driver passes however slow the
 * machine), and it completes once the lock is released. */
TEST_F(Driver, EntryPointsWaitForTheirLock)
{
    static const CPUTimeStruct kNone;
    TestThreadArgs args = {};
    args.uTargetCPU = 1;
    args.pfnTest = StandIn;
    ASSERT_EQ(ScanDeviceTree(0), 0);
    const struct {
        const char *szCall;
        pthread_mutex_t *pLock;
        int iSignaled; /* the end-of-run flag before the call */
        std::function<void()> call;
    } cases[] = {
        { "AddError", &g_Dapi2MessageQueMutex, 0, [] { AddError(70, "x"); } },
        { "AddPercentDone", &g_Dapi2MessageQueMutex, 0, [] { AddPercentDone(5); } },
        { "ProcessMessages", &g_Dapi2MessageQueMutex, 0, [] { ProcessMessages(Tid()); } },
        { "InitThreads", &g_Dapi2MessageQueMutex, 0, [&] { EXPECT_EQ(InitThreads(&args), 0); } },
        { "CheckCPUTimes", &g_ReadCPUTimes, 0, [] { CheckCPUTimes(0, &kNone, &kNone); } },
        { "SignalEndOfRun", &g_TestCond.mutex, 0, [] { SignalEndOfRun(); } },
        { "WaitForEndOfRun", &g_TestCond.mutex, 1, [] { WaitForEndOfRun(); } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szCall);
        Restart("cpuinfo-2sockets.txt", "meminfo-large.txt");
        g_TestCond.iSignaled = c.iSignaled;
        std::atomic<bool> bDone(false);
        pthread_mutex_lock(c.pLock);
        std::thread t([&] {
            c.call();
            bDone = true;
        });
        const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(250);
        while (!bDone && std::chrono::steady_clock::now() < tEnd)
            usleep(1000);
        EXPECT_FALSE(bDone);
        pthread_mutex_unlock(c.pLock);
        t.join();
    }
}

/* Without the per-CPU file a run pins itself to the logical CPUs of its
 * target that the driver thread's (inherited) set allows, never beyond it, in
 * a CPU set sized for the highest of them, and its own time is charged to the
 * CPUs its set allows. A target with no such CPU, or a run the kernel refuses
 * to pin, gets warning 106 naming it, once; such runs keep the inherited set,
 * show their share of it, and the third attempt's first run is replayed. */
TEST_F(Driver, PinningStaysInTheInheritedSet)
{
    const struct {
        const char *szCpuInfo, *szLocator;
        std::vector<unsigned> inherited, runOn;
        std::vector<int> refused;
        size_t nRuns, uAccepted;
        int iWarnAt; /* the warning's place among the events; -1 none */
    } cases[] = {
        { "cpuinfo-2sockets.txt", "CPU:1", { 0, 1 }, { 1 }, {}, 2, 0, -1 },
        { "cpuinfo-2sockets.txt", "CPU:1", { 0 }, { 0 }, {}, 6, 4, 0 }, /* a taskset */
        { "cpuinfo-four.txt", "CPU:1", { 0, 1 }, { 1 }, {}, 4, 0, -1 },
        { "cpuinfo-four.txt", "CPU:2", { 0, 1 }, { 0, 1 }, {}, 12, 8, 0 },
        { "cpuinfo-ht-two-sockets.txt", "CPU:0", { 0, 1 }, { 0, 1 }, {}, 2, 0, -1 }, /* siblings */
        { "cpuinfo-ht-two-sockets.txt", "CPU:0", { 1 }, { 1 }, {}, 2, 0, -1 },
        /* CPUs past 64, listed 70, 3 and 1, 65 */
        { "cpuinfo-high-numbers.txt", "CPU:0", { 1, 3, 65, 70 }, { 3, 70 }, {}, 2, 0, -1 },
        { "cpuinfo-high-numbers.txt", "CPU:1", { 1, 3, 65, 70 }, { 1, 65 }, {}, 2, 0, -1 },
        /* the pin refused for the first attempt's second run, for every run */
        { "cpuinfo-2sockets.txt", "CPU:1", { 0, 1 }, { 1 }, { 1 }, 2, 0, 3 },
        { "cpuinfo-2sockets.txt", "CPU:1", { 0, 1 }, { 1 }, { 0, 1, 2, 3, 4, 5 }, 6, 4, 1 },
    };
    const RunScript stat = { ReadFile(kFixtures + "task-stat.txt"), true, 0 };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.szCpuInfo) + " " + c.szLocator + " inherited " +
                     std::to_string(c.inherited.size()) + " refused " +
                     std::to_string(c.refused.size()));
        Restart(c.szCpuInfo, "meminfo-large.txt");
        s_script.assign(c.nRuns, stat);
        s_inherited = c.inherited;
        s_refused = c.refused;
        EXPECT_EQ(Run(c.szLocator), 0);
        EXPECT_TRUE(t_pinned.empty()); /* the driver's own set is left alone */
        ASSERT_EQ(s_runs.size(), c.nRuns);
        for (size_t i = 0; i < c.nRuns; i++) /* a refused run keeps the inherited set */
            EXPECT_EQ(s_runs[i].allowed, std::count(c.refused.begin(), c.refused.end(), (int)i)
                                             ? c.inherited
                                             : c.runOn)
                << "run " << i;
        std::vector<std::string> events = { "INFO info-0",
                                            "PERCENTDONE " + std::to_string(10 + c.uAccepted),
                                            "PERCENTDONE 100" };
        if (c.iWarnAt >= 0)
            events.insert(events.begin() + c.iWarnAt, "WARN 106 szWarnTargetUnreachable");
        std::string sEvents;
        for (const std::string &e : events)
            sEvents += (sEvents.empty() ? "" : "|") + e;
        EXPECT_EQ(Seen(), sEvents);
        if (c.iWarnAt >= 0) { /* the target's device name, in the notation's escaping */
            std::string sName = TokenVariable(g_events[c.iWarnAt].sText, "processor");
            ZoltXmlConvertFromXmlToText(&sName[0]);
            EXPECT_STREQ(sName.c_str(), c.szLocator);
        }
    }
}

/* Warnings are never deferred: the cache test refused the memory lock sends
 * warning 101 from every run of every attempt (no time source here, so three
 * attempts of two runs), and the result is the privilege error. */
TEST_F(Driver, CacheWarningOncePerRunAndAttempt)
{
    const PFN_CPUTEST cacheTable[4] = { StandIn, StandIn, StandIn, do_cache };
    g_CpuTestTable = { cacheTable, 4 };
    const PFN_CACHELOCKALL pfnLock = g_pfnCacheLockAll;
    g_pfnCacheLockAll = [](int) {
        errno = EPERM;
        return -1;
    };
    const int iResult = Run("CPU:1", 3);
    g_pfnCacheLockAll = pfnLock;
    g_CpuTestTable = { kStandIns, 4 };
    EXPECT_EQ(iResult, 4);
    std::string sSix;
    for (int i = 0; i < 6; i++)
        sSix += (i ? "|" : "") + std::string("WARN 101 szWarnCacheSU");
    EXPECT_EQ(Seen(), sSix);
}

/* Per-CPU lines up to the first bad one; shares truncate; differences are
 * signed 32-bit (wrapped counters); no snapshot (g_uNumCPUS 0), no share. */
TEST_F(Driver, TimeSnapshotsAndShares)
{
    CPUTimeStruct t, before, after;
    auto ReadAs = [&](const std::string &sContent,
                      bool bStat) { /* "" none */
                                    unlink(TimeFile(bStat, Tid()).c_str());
                                    if (!sContent.empty())
                                        std::ofstream(TimeFile(bStat, Tid())) << sContent;
                                    return GetTimeOnCPUs(&t);
    };
    ASSERT_EQ(ReadAs(ReadFile(kFixtures + "time-stops-at-bad-line.txt"), false), 0);
    EXPECT_EQ(g_uNumCPUS, 2u);
    EXPECT_EQ(t.auTicks, (std::vector<uint32_t>{ 100, 100, 0 }));
    /* shares of target 1 (total, CPU 0, CPU 1); a line missing from one
     * snapshot (a CPU came online) counts as zero ticks */
    const struct {
        std::vector<uint32_t> before, after;
        unsigned uTarget, uExpect;
    } cases[] = {
        { { 1000, 7, 500 }, { 1100, 7, 579 }, 1, 79 },
        { { 1000, 7, 500 }, { 1100, 7, 580 }, 1, 80 },
        { { 1000, 7, 500 }, { 2000, 7, 1309 }, 1, 80 },
        { { 1000, 7, 500 }, { 11000, 7, 8499 }, 1, 79 },
        { { 1000, 7, 500 }, { 1003, 7, 502 }, 1, 66 },
        { { 1000, 7, 500 }, { 1000, 7, 505 }, 1, 0 },
        { { 1000, 7 }, { 1100, 7, 90 }, 1, 90 },
        { { 1100, 7, 90 }, { 1000, 7 }, 1, 90 },
        { { 1000, 7, 5 }, { 1100, 7, 5 }, 1, 0 },
        { { 0xFFFFFFF0u, 0, 0xFFFFFFF0u }, { 0x10u, 0, 0x10u }, 5, 0 }, /* no such CPU */
        { { 0xFFFFFFF0u, 0, 0xFFFFFFF0u }, { 0x10u, 0, 0x10u }, 2, 0 },
        { { 0xFFFFFFF0u, 0, 0xFFFFFFF0u }, { 0x10u, 0, 0x10u }, 1, 100 }, /* wrapped */
        { { 0x10u, 0, 0x10u }, { 0xFFFFFFF0u, 0, 0xFFFFFFF0u }, 1, 100 },
    };
    for (const auto &c : cases) {
        before.auTicks = c.before;
        after.auTicks = c.after;
        EXPECT_EQ(CheckCPUTimes(c.uTarget, &before, &after), c.uExpect)
            << c.before.size() << " -> " << c.after.size() << " lines, " << c.after[0];
    }

    EXPECT_EQ(ReadAs("", false), 1);             /* neither file */
    EXPECT_EQ(ReadAs("7 (x) R 1 2 3", true), 1); /* too few fields */
    EXPECT_EQ(ReadAs(ReadFile(kFixtures + "time-garbage.txt"), false), 1);
    EXPECT_EQ(g_uNumCPUS, 0u);
    EXPECT_EQ(CheckCPUTimes(1, &before, &after), 0u);
}

}  // namespace
