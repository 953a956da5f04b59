/* Tests of the CPU test driver with stand-in test routines and stand-in time
 * files: direct and pinned mode choice, the acceptance rule at 79/80 percent,
 * attempts and the third-attempt rule, which run's events reach the engine
 * (captured at the framework's send seam) and the result code, informative
 * messages only from the first run, tables sized to the machine, a thread
 * that cannot be created, and the time snapshots themselves. */
#include <gtest/gtest.h>

#include <errno.h>
#include <sched.h>
#include <stdio.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "cpu-driver.h"
#include "cpu-enum.h"
#include "dapi2.h"
#include "message-protocol.h"
#include "smbios-image.h"
#include "zolt-mod-support.h"
#include "zoltcpu.h"

namespace {

const std::string kFixtures = std::string(ZOLT_FIXTURES) + "/cpu/";

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

/* ---- events as the engine would see them ---- */
std::mutex g_sentLock;
std::vector<std::string> g_events;   /* "TYPE[ code] text" */

std::string Field(const char *szMessage, const char *szPath)
{
    char szBuf[512];
    if (ZoltXmlGetField(szMessage, szPath, 0, szBuf, sizeof szBuf) != 0)
        return "";
    return szBuf;
}

int CaptureSend(const char *szMessage)
{
    std::string type = Field(szMessage, "MSG/DATA/EVENT/TYPE");
    std::string code = Field(szMessage, "MSG/DATA/EVENT/EVENTCODE");
    std::string text = Field(szMessage, "MSG/DATA/EVENT/TEXT");
    std::lock_guard<std::mutex> lock(g_sentLock);
    if (type == "ERROR" || type == "WARN")
        g_events.push_back(type + " " + code + " " + text);
    else
        g_events.push_back(type + " " + text);
    return 0;
}

char *NoStrings(const char *, char *szOut, int)
{
    szOut[0] = '\0';
    return nullptr;
}

/* ---- the stand-in test routine ---- */
struct RunScript {
    std::string timeFile;   /* content written as the run's time file; "" none */
    bool bStatFile;         /* write it as the per-thread stat file, not the per-CPU file */
    bool bFault;            /* report error 70 + run number */
    bool bLeaveResult;      /* report it without setting g_iTestResult */
};
std::vector<RunScript> g_script;
std::string g_timeDir;

struct RunSeen {
    bool bArgs;             /* called with a record (pinned) */
    unsigned uPrint;
    unsigned uTarget;
    unsigned uTid;
    std::vector<unsigned> allowed;  /* affinity while the routine ran */
};
std::vector<RunSeen> g_runs;        /* written by one run at a time */

std::vector<unsigned> AffinityNow()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    std::vector<unsigned> cpus;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        for (unsigned i = 0; i < CPU_SETSIZE; i++)
            if (CPU_ISSET(i, &set))
                cpus.push_back(i);
    return cpus;
}

/* Follows the routine contract: informative message when asked, percent
 * 10 + run number, the scripted fault, percent 100, then the end signal. */
TestThreadArgs *StandIn(TestThreadArgs *pArgs)
{
    unsigned uRun = (unsigned)g_runs.size();
    unsigned uTid = (unsigned)syscall(SYS_gettid);
    g_runs.push_back({ pArgs != nullptr, pArgs ? pArgs->bPrintMessages : 1u,
                       pArgs ? pArgs->uTargetCPU : 0u, uTid, AffinityNow() });
    RunScript s = uRun < g_script.size() ? g_script[uRun] : RunScript{ "", false, false, false };

    if (pArgs == nullptr || pArgs->bPrintMessages)
        Dapi2_Informative("info-%u", uRun);
    AddPercentDone(10 + (int)uRun);
    if (s.bFault) {
        char szText[32];
        snprintf(szText, sizeof szText, "fault-%u", uRun);
        AddError(70 + (int)uRun, szText);
        if (!s.bLeaveResult)
            g_iTestResult = 2;
    }
    AddPercentDone(100);
    if (!s.timeFile.empty()) {
        char szPath[512];
        snprintf(szPath, sizeof szPath, "%s/%s-%u", g_timeDir.c_str(), s.bStatFile ? "stat" : "cpu", uTid);
        std::ofstream(szPath) << s.timeFile;
    }
    if (pArgs != nullptr)
        SignalEndOfRun();
    return pArgs;
}

const PFN_CPUTEST s_standIns[] = { StandIn, StandIn, StandIn, StandIn };

int g_iFailCreateAt = -1;   /* creation number that fails, -1 none */
int g_iCreates = 0;

int MaybeFailingCreate(pthread_t *pThread, const pthread_attr_t *pAttr, void *(*pfn)(void *), void *pArg)
{
    if (g_iCreates++ == g_iFailCreateAt)
        return EAGAIN;
    return pthread_create(pThread, pAttr, pfn, pArg);
}

RunScript Legacy(const char *szFixture, bool bFault = false)
{
    return { ReadFile(kFixtures + szFixture), false, bFault, false };
}

class Driver : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_events.clear();
        g_runs.clear();
        g_script.clear();
        g_iCreates = 0;
        g_iFailCreateAt = -1;
        g_timeDir = m_dir.path;
        m_cpuTime = m_dir.path + "/cpu-%u";
        m_stat = m_dir.path + "/stat-%u";
        g_szCpuTimeFileFormat = m_cpuTime.c_str();
        g_szTaskStatFileFormat = m_stat.c_str();
        g_pfnDapi2SendMessage = CaptureSend;
        g_pfnCpuNlsGetString = NoStrings;
        g_pfnCreateRunThread = MaybeFailingCreate;
        g_CpuTestTable = { s_standIns, 4 };
        Dapi2_I_ResetEventState();
        ResetDriverState();
        UseCpuInfo("cpuinfo-2sockets.txt");
        UseMemInfo("meminfo-large.txt");
    }
    void TearDown() override
    {
        KillDevices(g_pRootDevice);
        g_pRootDevice = nullptr;
        Dapi2_KillDeviceList();
        g_pfnDapi2SendMessage = nullptr;
        g_pfnCpuNlsGetString = Dapi2_NlsGetStringWithId;
        g_pfnCreateRunThread = pthread_create;
        g_szCpuInfoPath = "/proc/cpuinfo";
        g_szMemInfoPath = "/proc/meminfo";
        g_szCpuTimeFileFormat = "/proc/%u/cpu";
        g_szTaskStatFileFormat = "/proc/self/task/%u/stat";
        ResetDriverState();
    }
    void UseCpuInfo(const std::string &name)
    {
        m_cpuinfo = name[0] == '/' ? name : kFixtures + name;
        g_szCpuInfoPath = m_cpuinfo.c_str();
    }
    void UseMemInfo(const char *szName)
    {
        m_meminfo = kFixtures + szName;
        g_szMemInfoPath = m_meminfo.c_str();
    }
    /* Runs test iTest on the CPU device with hardware locator szLocator. */
    int Run(const char *szLocator, int iTest = 2)
    {
        Dapi2Device *pDevice = nullptr;
        Dapi2_CreateDeviceGenericEx("CPU", 1, "CPU", "", "", szLocator, "SYSTEM_BUS", &pDevice);
        return OurDiagFunction(iTest, pDevice);
    }
    std::vector<unsigned> PrintFlags() const
    {
        std::vector<unsigned> flags;
        for (const RunSeen &r : g_runs)
            flags.push_back(r.uPrint);
        return flags;
    }
    TempDir m_dir;
    std::string m_cpuTime, m_stat, m_cpuinfo, m_meminfo;
};

typedef std::vector<std::string> Events;

TEST_F(Driver, DirectOrPinned)
{
    const struct { const char *szCpuInfo, *szMemInfo, *szLocator; bool bPinned; } cases[] = {
        { "cpuinfo-single.txt", "meminfo-large.txt", "CPU:0", false },     /* one CPU record */
        { "cpuinfo-ht-siblings.txt", "meminfo-large.txt", "CPU:0", false }, /* two threads, one record */
        { "cpuinfo-2sockets.txt", "meminfo-small.txt", "CPU:1", false },    /* below 300000 kB */
        { "cpuinfo-2sockets.txt", "meminfo-exact.txt", "CPU:1", true },     /* exactly 300000 kB */
        { "cpuinfo-2sockets.txt", "meminfo-nototal.txt", "CPU:1", true },
        { "cpuinfo-2sockets.txt", "no-such-meminfo.txt", "CPU:1", true },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.szCpuInfo) + " " + c.szMemInfo);
        g_events.clear();
        g_runs.clear();
        g_script = { Legacy("time-100.txt", true) };
        Dapi2_I_ResetEventState();
        ResetDriverState();
        UseCpuInfo(c.szCpuInfo);
        UseMemInfo(c.szMemInfo);
        EXPECT_EQ(Run(c.szLocator), 2);
        ASSERT_FALSE(g_runs.empty());
        EXPECT_EQ(g_runs[0].bArgs, c.bPinned);
        EXPECT_EQ(g_uBusyWaitTime, c.bPinned ? 60u : 0u);
        /* Either way the engine sees the run's events in the order it made them. */
        EXPECT_EQ(g_events, (Events{ "INFO info-0", "PERCENTDONE 10", "ERROR 70 fault-0",
                                     "PERCENTDONE 100" }));
        EXPECT_EQ(g_runs.size(), c.bPinned ? 2u : 1u);
    }
}

TEST_F(Driver, ShareOf79RejectedAnd80Accepted)
{
    g_script = { Legacy("time-79.txt", true), Legacy("time-80.txt") };
    EXPECT_EQ(Run("CPU:1"), 2);     /* run 0's fault counts although it was dropped */
    ASSERT_EQ(g_runs.size(), 2u);   /* run 1 was accepted in the first attempt */
    EXPECT_EQ(g_events, (Events{ "INFO info-0", "PERCENTDONE 11", "PERCENTDONE 100" }));
    EXPECT_EQ(PrintFlags(), (std::vector<unsigned>{ 1, 0 }));
    EXPECT_NE(g_runs[0].uTid, g_runs[1].uTid);
    EXPECT_EQ(g_runs[1].uTarget, 1u);
}

TEST_F(Driver, OnlyFirstRunAbove79IsReplayed)
{
    g_script = { Legacy("time-80.txt"), Legacy("time-100.txt", true) };
    EXPECT_EQ(Run("CPU:1"), 2);
    EXPECT_EQ(g_events, (Events{ "INFO info-0", "PERCENTDONE 10", "PERCENTDONE 100" }));
}

TEST_F(Driver, AcceptedRunFaultReplayedInOrder)
{
    g_script = { Legacy("time-0.txt", true), Legacy("time-100.txt", true) };
    EXPECT_EQ(Run("CPU:1"), 2);
    EXPECT_EQ(g_events, (Events{ "INFO info-0", "PERCENTDONE 11", "ERROR 71 fault-1",
                                 "PERCENTDONE 100" }));

    /* A replayed error fails the test by itself. */
    TearDown();
    SetUp();
    RunScript quiet = Legacy("time-100.txt", true);
    quiet.bLeaveResult = true;
    g_script = { quiet };
    EXPECT_EQ(Run("CPU:1"), 2);
    EXPECT_EQ(g_events, (Events{ "INFO info-0", "PERCENTDONE 10", "ERROR 70 fault-0",
                                 "PERCENTDONE 100" }));
}

/* No time file at all: every share is 0, two attempts are dropped and the
 * third accepts its run 0; only the very first run printed. */
TEST_F(Driver, NoTimeSourceThirdAttemptAcceptsRunZero)
{
    EXPECT_EQ(Run("CPU:1"), 0);
    ASSERT_EQ(g_runs.size(), 6u);
    EXPECT_EQ(PrintFlags(), (std::vector<unsigned>{ 1, 0, 0, 0, 0, 0 }));
    EXPECT_EQ(g_events, (Events{ "INFO info-0", "PERCENTDONE 14", "PERCENTDONE 100" }));
}

TEST_F(Driver, RequestsThatRunNothing)
{
    EXPECT_EQ(OurDiagFunction(2, nullptr), 9);
    EXPECT_EQ(Run("CPU:1", 4), 6);
    EXPECT_EQ(Run("CPU:1", -1), 6);                 /* taken unsigned */
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(Run("CPU:7"), 9);
    ASSERT_EQ(g_events.size(), 1u);
    EXPECT_EQ(g_events[0].rfind("WARN 105 ", 0), 0u) << g_events[0];
    EXPECT_NE(g_events[0].find("szWarnDeviceNotFound"), std::string::npos) << g_events[0];
    EXPECT_TRUE(g_runs.empty());
}

TEST_F(Driver, ThreadNotCreatedEndsWithSetupError)
{
    g_iFailCreateAt = 1;
    g_script = { Legacy("time-100.txt") };
    EXPECT_EQ(Run("CPU:1"), 1);
    EXPECT_EQ(g_runs.size(), 1u);
    EXPECT_EQ(g_events, (Events{ "INFO info-0" }));     /* run 0's queued events dropped */

    /* A fault already seen stays a fault. */
    TearDown();
    SetUp();
    g_iFailCreateAt = 1;
    g_script = { Legacy("time-100.txt", true) };
    EXPECT_EQ(Run("CPU:1"), 2);
}

/* Forty CPU records and a target index above 15: every record gets its run
 * and the share is read from the target's own line. */
TEST_F(Driver, TablesSizedToTheMachine)
{
    std::string table, cpuTime = "cpu 100 0\n";
    for (int i = 0; i < 40; i++) {
        table += "processor\t: " + std::to_string(i) + "\nphysical id\t: " + std::to_string(i) +
                 "\nflags\t\t: fpu mmx sse\n\n";
        cpuTime += "cpu" + std::to_string(i) + (i == 35 ? " 100 0\n" : " 0 0\n");
    }
    std::string path = m_dir.File("cpuinfo-40");
    std::ofstream(path) << table;
    UseCpuInfo(path);
    g_script = { RunScript{ cpuTime, false, false, false } };
    EXPECT_EQ(Run("CPU:35"), 0);
    EXPECT_EQ(g_runs.size(), 40u);
    EXPECT_EQ(g_runs[0].uTarget, 35u);
    EXPECT_EQ(g_events, (Events{ "INFO info-0", "PERCENTDONE 10", "PERCENTDONE 100" }));
}

/* Where the kernel has no per-CPU file, a run pins itself to its target's
 * logical CPUs and its own time is charged to the CPUs its mask allows. */
TEST_F(Driver, PinnedRunChargedByAffinity)
{
    std::vector<unsigned> mine = AffinityNow();
    if (std::find(mine.begin(), mine.end(), 1u) == mine.end() || mine.size() < 2)
        GTEST_SKIP() << "needs logical CPUs 0 and 1";
    std::string stat = ReadFile(kFixtures + "task-stat.txt");
    g_script = { RunScript{ stat, true, false, false }, RunScript{ stat, true, false, false } };
    EXPECT_EQ(Run("CPU:1"), 0);
    ASSERT_EQ(g_runs.size(), 2u);
    EXPECT_EQ(g_runs[0].allowed, (std::vector<unsigned>{ 1 }));
    EXPECT_EQ(g_events, (Events{ "INFO info-0", "PERCENTDONE 10", "PERCENTDONE 100" }));
}

TEST_F(Driver, UnpinnableRunFallsThroughToThirdAttempt)
{
    /* The target's logical CPU 9 does not exist here: the pin fails, the time
     * is charged to CPUs of no record, and only the third attempt accepts. */
    if (AffinityNow().size() > 8)
        GTEST_SKIP() << "logical CPU 9 exists on this machine";
    UseCpuInfo("cpuinfo-high-numbers.txt");
    std::string stat = ReadFile(kFixtures + "task-stat.txt");
    g_script.assign(6, RunScript{ stat, true, false, false });
    EXPECT_EQ(Run("CPU:1"), 0);
    ASSERT_EQ(g_runs.size(), 6u);
    EXPECT_EQ(g_runs[0].allowed, AffinityNow());
    EXPECT_EQ(g_events, (Events{ "INFO info-0", "PERCENTDONE 14", "PERCENTDONE 100" }));
}

/* ---- time snapshots ---- */

class TimeSnapshot : public Driver {
protected:
    /* Reads the snapshot of this thread after writing szContent as its file. */
    int ReadAs(const std::string &content, bool bStat, CPUTimeStruct *pTimes)
    {
        char szPath[512];
        snprintf(szPath, sizeof szPath, "%s/%s-%u", m_dir.path.c_str(), bStat ? "stat" : "cpu",
                 (unsigned)syscall(SYS_gettid));
        unlink(szPath);
        if (!content.empty())
            std::ofstream(szPath) << content;
        return GetTimeOnCPUs(pTimes);
    }
};

TEST_F(TimeSnapshot, PerCpuFileLines)
{
    CPUTimeStruct t;
    ASSERT_EQ(ReadAs(ReadFile(kFixtures + "time-stops-at-bad-line.txt"), false, &t), 0);
    EXPECT_EQ(g_uNumCPUS, 2u);
    EXPECT_EQ(t.auTicks, (std::vector<uint32_t>{ 100, 100, 0 }));

    EXPECT_EQ(ReadAs(ReadFile(kFixtures + "time-garbage.txt"), false, &t), 1);
    EXPECT_EQ(g_uNumCPUS, 0u);
    EXPECT_EQ(ReadAs("", false, &t), 1);      /* neither file */
    EXPECT_EQ(g_uNumCPUS, 0u);
}

TEST_F(TimeSnapshot, StatFileChargedToAllowedCpus)
{
    ScanDeviceTree(0);                        /* CPU:0 = CPU 0, CPU:1 = CPU 1 */
    std::vector<unsigned> mine = AffinityNow();
    CPUTimeStruct t;
    ASSERT_EQ(ReadAs(ReadFile(kFixtures + "task-stat.txt"), true, &t), 0);
    EXPECT_EQ(g_uNumCPUS, 2u);
    ASSERT_EQ(t.auTicks.size(), 3u);
    EXPECT_EQ(t.auTicks[0], 100u);            /* utime 90 + stime 10, after "(core (x) y)" */
    uint32_t uExpect0 = 0, uExpect1 = 0;
    for (unsigned c : mine) {
        uExpect0 += c == 0 ? 1 : 0;
        uExpect1 += c == 1 ? 1 : 0;
    }
    EXPECT_EQ(t.auTicks[1], 100u * uExpect0 / mine.size());
    EXPECT_EQ(t.auTicks[2], 100u * uExpect1 / mine.size());
    EXPECT_EQ(ReadAs("7 (x) R 1 2 3", true, &t), 1);   /* too few fields */
}

TEST_F(TimeSnapshot, ShareTruncatesTheExactRatio)
{
    const struct { uint32_t uTarget, uTotal; unsigned uExpect; } cases[] = {
        { 79, 100, 79 }, { 80, 100, 80 }, { 809, 1000, 80 }, { 7999, 10000, 79 },
        { 1, 3, 33 }, { 2, 3, 66 }, { 5, 0, 0 },
    };
    CPUTimeStruct before, after;
    ASSERT_EQ(ReadAs(ReadFile(kFixtures + "time-0.txt"), false, &before), 0);  /* g_uNumCPUS 2 */
    for (const auto &c : cases) {
        before.auTicks = { 1000, 7, 500 };
        after.auTicks = { 1000 + c.uTotal, 7, 500 + c.uTarget };
        EXPECT_EQ(CheckCPUTimes(1, &before, &after), c.uExpect) << c.uTarget << "/" << c.uTotal;
    }
    /* Differences are taken as signed 32-bit values, so a wrapped counter
     * still gives the elapsed ticks; order does not matter. */
    before.auTicks = { 0xFFFFFFF0u, 0, 0xFFFFFFF0u };
    after.auTicks = { 0x10u, 0, 0x10u };
    EXPECT_EQ(CheckCPUTimes(1, &before, &after), 100u);
    EXPECT_EQ(CheckCPUTimes(1, &after, &before), 100u);
    EXPECT_EQ(CheckCPUTimes(5, &before, &after), 0u);   /* no such CPU entry */

    ReadAs("", false, &before);                         /* g_uNumCPUS 0 */
    EXPECT_EQ(CheckCPUTimes(1, &before, &after), 0u);
}

}  // namespace
