/* scheduler.cpp - the queue of test runs (pick by loop), the workers that
 * take them (one per job, each pinned to the run's CPU while the module
 * starts), the reruns of a failure, and the stop on a failure, SIGUSR1, a
 * signal or the end of --duration. */
#include "scheduler.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <string.h>

#include <algorithm>
#include <set>

#include "job-worker.h"
#include "json-text.h"
#include "peers-observer.h"
#include "report.h"

volatile sig_atomic_t g_iPeersStopSession = 0;

/* The worker processes of the jobs (0: none), for the signal handlers. */
#define MAX_WORKERS CPU_SETSIZE
static volatile sig_atomic_t s_aiWorkerPid[MAX_WORKERS];
static struct sigaction s_aOldInterrupt[3]; /* SIGINT, SIGTERM, SIGHUP as they were */
static const int s_aiInterrupts[3] = { SIGINT, SIGTERM, SIGHUP };

/* Passes iSignal on to every worker process. Async-signal-safe. */
static void ForwardToWorkers(int iSignal)
{
    for (int i = 0; i < MAX_WORKERS; i++)
        if (s_aiWorkerPid[i] > 0)
            kill((pid_t)s_aiWorkerPid[i], iSignal);
}

static void OnStopRequest(int)
{
    g_iPeersStopRequested = 1; /* the running test gets STOPTESTING */
    g_iPeersStopSession = 1;   /* and none starts after it */
    ForwardToWorkers(SIGUSR1); /* nor in the workers */
}

/* An interruption stops the workers' modules too, then goes on as before. */
static void OnInterrupt(int iSignal)
{
    ForwardToWorkers(SIGTERM);
    for (int i = 0; i < 3; i++)
        if (s_aiInterrupts[i] == iSignal && s_aOldInterrupt[i].sa_handler != SIG_DFL &&
            s_aOldInterrupt[i].sa_handler != SIG_IGN)
            s_aOldInterrupt[i].sa_handler(iSignal);
}

void PeersCatchStopRequest(void)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopRequest;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGUSR1, &sa, nullptr);
    sa.sa_handler = OnInterrupt;
    for (int i = 0; i < 3; i++)
        sigaction(s_aiInterrupts[i], &sa, &s_aOldInterrupt[i]);
}

/* The queue shared by the workers; every field under mutex. */
struct Schedule {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    const PeersCommand *pCmd;
    const std::vector<PeersPick> *pvPicks;
    PeersEmitRunFn pfnEmit;
    PeersRunEnd *pEnd;
    long lLoops; /* loops to run; -1: until --duration passed */
    unsigned long long ullStartMs;
    long lNext;             /* the first item not taken (item = loop * picks + pick) */
    std::set<long> taken;   /* items from lNext on already taken */
    std::set<int> busyCpus; /* logical CPUs with a module run under way */
    int iRunning;           /* module runs under way */
    int bStopped;           /* no further item is taken */
    int bQuiet;             /* live events are held until a run ends (several jobs) */
};

static Schedule *g_pSchedule = nullptr; /* for the observer wrappers */
static PeersObserver g_observerOwn;     /* the report's callbacks, called under the lock */

static void LockedPacket(const char *szDir, long lPeer, const char *szPacket)
{
    pthread_mutex_lock(&g_pSchedule->mutex);
    if (g_observerOwn.pfnPacket)
        g_observerOwn.pfnPacket(szDir, lPeer, szPacket);
    pthread_mutex_unlock(&g_pSchedule->mutex);
}

static void LockedText(const char *szLine)
{
    pthread_mutex_lock(&g_pSchedule->mutex);
    if (g_observerOwn.pfnText)
        g_observerOwn.pfnText(szLine);
    pthread_mutex_unlock(&g_pSchedule->mutex);
}

/* Why no further item may start ("" to go on). Under the lock. */
static const char *StopReason(const Schedule &s)
{
    if (g_iPeersInterrupted)
        return "interrupted";
    if (g_iPeersStopSession)
        return "stop-request";
    if (s.pCmd->ullDurationMs > 0 && PeersNowMs() - s.ullStartMs >= s.pCmd->ullDurationMs)
        return "duration";
    return "";
}

/* Takes the first item not taken whose CPU is free; waits while every
 * candidate's CPU is busy. Returns the item, or -1 when no more start. */
static long TakeItem(Schedule *pS)
{
    const long lPicks = (long)pS->pvPicks->size();
    for (;;) {
        const char *szStop = StopReason(*pS);
        if (pS->bStopped || *szStop) {
            if (!pS->bStopped && strcmp(szStop, "duration") != 0)
                pS->pEnd->sStopReason = szStop;
            pS->bStopped = 1;
            return -1;
        }
        bool bAny = false;
        for (long l = pS->lNext; l < pS->lNext + lPicks; l++) {
            if ((pS->lLoops > 0 && l / lPicks >= pS->lLoops) || pS->taken.count(l))
                continue;
            bAny = true;
            int iCpu = (*pS->pvPicks)[(size_t)(l % lPicks)].place.iCpu;
            if (iCpu >= 0 && pS->busyCpus.count(iCpu))
                continue;
            pS->taken.insert(l);
            while (pS->taken.count(pS->lNext))
                pS->taken.erase(pS->lNext++);
            if (iCpu >= 0)
                pS->busyCpus.insert(iCpu);
            return l;
        }
        if (!bAny && pS->iRunning == 0)
            return -1;
        pthread_cond_wait(&pS->cond, &pS->mutex); /* a run ends, or the last loop's items */
    }
}

void PeersRunPickHere(PeersSession *pSession, const PeersCommand &cmd, const PeersPick &pick,
                      PeersInvocation *pInv)
{
    cpu_set_t saved, one;
    int bPinned = 0;
    if (pick.place.iCpu >= 0 && sched_getaffinity(0, sizeof saved, &saved) == 0) {
        CPU_ZERO(&one);
        CPU_SET(pick.place.iCpu, &one);
        bPinned = sched_setaffinity(0, sizeof one, &one) == 0;
    }
    PeersRunTest(pSession, pInv, pick.iDevice, pick.iTest, cmd.vParams, cmd.iErrLimit);
    if (bPinned)
        sched_setaffinity(0, sizeof saved, &saved);
}

/* "CPU:0: test 2 (MMX unit), logical CPU 1, loop 2, retest 1" */
static std::string Header(const Schedule &s, const PeersPick &pick, long lLoop, int iRetest)
{
    std::string sHead = pick.sDevice + ": test " + std::to_string(pick.iTest) + " (" +
                        PeersTestName(pick.iTest) + ")";
    if (pick.place.iCpu >= 0)
        sHead += ", logical CPU " + std::to_string(pick.place.iCpu);
    if (lLoop > 1 || s.pCmd->lLoops > 1 || s.pCmd->ullDurationMs > 0)
        sHead += ", loop " + std::to_string(lLoop);
    return sHead + (iRetest ? ", retest " + std::to_string(iRetest) : "");
}

/* "loop 2/3  CPU:0  test 1 (x87 floating-point unit)  0:00:12  " */
static std::string ProgressHead(const Schedule &s, const PeersPick &pick, long lLoop)
{
    char szHead[200];
    unsigned long long ullSec = (PeersNowMs() - s.ullStartMs) / 1000;
    snprintf(szHead, sizeof szHead, "loop %ld%s%s  %s  test %d (%s)  %llu:%02llu:%02llu  ", lLoop,
             s.lLoops > 0 ? "/" : "", s.lLoops > 0 ? std::to_string(s.lLoops).c_str() : "",
             pick.sDevice.c_str(), pick.iTest, PeersTestName(pick.iTest), ullSec / 3600,
             ullSec / 60 % 60, ullSec % 60);
    return szHead;
}

/* Reports one finished run: its heading and events when they were held back,
 * the result, whether a failure reproduced, the formats, the tally. When the
 * selection repeats, the run's text is held (PeersReportHold) from its
 * heading until the writer decides (a folding writer drops the text of a
 * repeated pass). Under the lock. */
static void ReportRun(Schedule *pS, const PeersPick &pick, const PeersTestRun &run)
{
    const PeersInvocation &inv = *run.pInv;
    if (pS->bQuiet) {
        if (pS->lLoops != 1)
            PeersReportHold();
        PeersReportText("\n%s\n", Header(*pS, pick, run.lLoop, run.iRetest).c_str());
        for (const PeersEvent &ev : inv.vEvents)
            PeersReportLiveEvent(&inv, &ev);
    }
    PeersReportInvocation(&inv, pick.sDevice.c_str());
    if (run.iReproduced >= 0)
        PeersReportText("  The failure %s (retest %d of up to %d).\n",
                        run.iReproduced ? "reproduced" : "did not reproduce", run.iRetest,
                        pS->pCmd->iRetests);
    pS->pfnEmit(run);
    if (g_PeersReport.bHold) /* a writer that does not fold */
        PeersReportRelease(1, "");
    PeersRunEndAdd(pS->pEnd, run);
}

/* Where a job runs its picks: a session of this process, or a worker process. */
struct Runner {
    PeersSession *pSession;
    PeersWorker *pWorker;
};

/* One run of a pick, its record filled; the lock is held on entry and on
 * return, released while the module runs. */
static void RunOnce(Schedule *pS, const Runner &runner, const PeersPick &pick, long lLoop,
                    int iRetest, PeersInvocation *pInv, PeersTestRun *pRun)
{
    if (!pS->bQuiet) {
        if (pS->lLoops != 1)
            PeersReportHold();
        PeersReportText("\n%s\n", Header(*pS, pick, lLoop, iRetest).c_str());
        PeersReportProgress(ProgressHead(*pS, pick, lLoop));
    }
    pS->pEnd->lLoops = pS->pEnd->lLoops > lLoop ? pS->pEnd->lLoops : lLoop;
    pS->iRunning++;
    pthread_mutex_unlock(&pS->mutex);
    pRun->sStartTime = PeersRfc3339Now();
    if (runner.pWorker != nullptr)
        PeersWorkerRun(runner.pWorker, pick, pInv);
    else
        PeersRunPickHere(runner.pSession, *pS->pCmd, pick, pInv);
    pthread_mutex_lock(&pS->mutex);
    pS->iRunning--;
    pRun->pInv = pInv;
    pRun->iDevice = pick.iDevice;
    pRun->iTest = pick.iTest;
    pRun->sDevice = pick.sDevice;
    pRun->lLoop = lLoop;
    pRun->ullDurationMs = pInv->ullEndMs > pInv->ullStartMs ? pInv->ullEndMs - pInv->ullStartMs : 0;
    pRun->iOutcome = PeersOutcomeOf(*pInv);
    pRun->place = pick.place;
    pRun->iRetest = iRetest;
    pRun->iReproduced = -1;
}

/* Runs item lItem and, after a failure, up to --retest-on-failure reruns on
 * the same CPU until one fails again. Lock held on entry and return. Returns
 * 1 when the session must stop (--stop-on-fail). */
static int RunItem(Schedule *pS, const Runner &runner, long lItem)
{
    const PeersCommand &cmd = *pS->pCmd;
    const long lPicks = (long)pS->pvPicks->size();
    const PeersPick &pick = (*pS->pvPicks)[(size_t)(lItem % lPicks)];
    int bFailed = 0;
    for (int iRetest = 0; iRetest <= (bFailed ? cmd.iRetests : 0); iRetest++) {
        if (iRetest > 0 && (g_iPeersInterrupted || g_iPeersStopSession))
            break;
        PeersInvocation inv;
        PeersTestRun run;
        RunOnce(pS, runner, pick, lItem / lPicks + 1, iRetest, &inv, &run);
        int bFailure = PeersOutcomeIsFailure(run.iOutcome);
        bFailed |= iRetest == 0 && bFailure;
        if (iRetest > 0 && (bFailure || iRetest == cmd.iRetests))
            run.iReproduced = bFailure; /* the last rerun says it */
        ReportRun(pS, pick, run);
        if (run.iReproduced == 1)
            break;
    }
    return bFailed && cmd.bStopOnFail;
}

/* One job: takes items until none is left. Lock held on entry and return. */
static void Work(Schedule *pS, const Runner &runner)
{
    for (long lItem; (lItem = TakeItem(pS)) >= 0;) {
        int bStop = RunItem(pS, runner, lItem);
        int iCpu = (*pS->pvPicks)[(size_t)(lItem % (long)pS->pvPicks->size())].place.iCpu;
        pS->busyCpus.erase(iCpu);
        if (bStop && !pS->bStopped) {
            pS->bStopped = 1;
            pS->pEnd->sStopReason = "stop-on-fail";
        }
        pthread_cond_broadcast(&pS->cond);
    }
    pthread_cond_broadcast(&pS->cond);
}

/* A further job: a worker process of its own. */
struct Job {
    Schedule *pS;
    int iIndex; /* its slot in s_aiWorkerPid */
    pthread_t thread;
    int bStarted;
};

static void *JobThread(void *pArg)
{
    Job *pJob = static_cast<Job *>(pArg);
    PeersWorker worker;
    if (PeersWorkerStart(&worker) != 0)
        return nullptr; /* the other jobs take its share */
    s_aiWorkerPid[pJob->iIndex] = worker.pid;
    if (g_iPeersInterrupted) /* came before the worker was known */
        kill(worker.pid, SIGTERM);
    pthread_mutex_lock(&pJob->pS->mutex);
    Work(pJob->pS, Runner{ nullptr, &worker });
    pthread_mutex_unlock(&pJob->pS->mutex);
    s_aiWorkerPid[pJob->iIndex] = 0;
    PeersWorkerStop(&worker, g_iPeersInterrupted ? SIGTERM : 0);
    return nullptr;
}

void PeersRunPicks(PeersSession *pMain, const PeersCommand &cmd,
                   const std::vector<PeersPick> &vPicks, PeersEmitRunFn pfnEmit, PeersRunEnd *pEnd)
{
    if (vPicks.empty())
        return;
    Schedule s;
    pthread_mutex_init(&s.mutex, nullptr);
    pthread_cond_init(&s.cond, nullptr);
    s.pCmd = &cmd;
    s.pvPicks = &vPicks;
    s.pfnEmit = pfnEmit;
    s.pEnd = pEnd;
    s.lLoops = cmd.lLoops > 0 ? cmd.lLoops : (cmd.ullDurationMs > 0 ? -1 : 1);
    s.ullStartMs = PeersNowMs();
    s.lNext = 0;
    s.iRunning = s.bStopped = 0;
    std::set<int> cpus; /* more jobs than CPUs would only wait */
    for (const PeersPick &pick : vPicks)
        cpus.insert(pick.place.iCpu);
    long lJobs = std::min(std::min(cmd.lJobs, (long)cpus.size()), (long)MAX_WORKERS);
    std::vector<Job> vJobs((size_t)(lJobs > 1 ? lJobs - 1 : 0));
    s.bQuiet = !vJobs.empty();
    if (s.bQuiet) { /* the peers' report calls from several threads: one at a time */
        g_pSchedule = &s;
        g_observerOwn = g_PeersObserver;
        g_PeersObserver.pfnPacket = LockedPacket;
        g_PeersObserver.pfnText = LockedText;
        g_PeersObserver.pfnLiveEvent = nullptr; /* replayed when the run ends */
    }
    for (Job &job : vJobs) {
        job.pS = &s;
        job.iIndex = (int)(&job - &vJobs[0]);
        job.bStarted = pthread_create(&job.thread, nullptr, JobThread, &job) == 0;
    }
    pthread_mutex_lock(&s.mutex);
    Work(&s, Runner{ pMain, nullptr });
    pthread_mutex_unlock(&s.mutex);
    for (Job &job : vJobs)
        if (job.bStarted)
            pthread_join(job.thread, nullptr);
    if (s.bQuiet)
        g_PeersObserver = g_observerOwn;
    g_pSchedule = nullptr;
    pthread_cond_destroy(&s.cond);
    pthread_mutex_destroy(&s.mutex);
}
