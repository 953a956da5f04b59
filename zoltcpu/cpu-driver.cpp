/* cpu-driver.cpp - the CPU test driver: the diagnostic callback, the direct
 * and pinned modes, the attempts and their acceptance rule, per-CPU time
 * snapshots, and the deferred event queue with its replay.
 * DESIGN: threads are the driver thread (the framework's main thread) and,
 * in the pinned mode, one run thread at a time: the driver creates run i,
 * waits for its end signal on g_TestCond, then creates run i + 1, so only the
 * tail of a run (its second time reading) overlaps the next run. Locks:
 * g_Dapi2MessageQueMutex guards g_Dapi2MessageQue and its empty flag and is
 * held across the direct sends of AddError / AddPercentDone and the replay;
 * g_TestCond.mutex guards iSignaled; g_ReadCPUTimes serialises time readings
 * and g_uNumCPUS. Queued events are tagged with the kernel thread id of the
 * run that made them, so one run's events can be replayed and the rest
 * dropped. The queue owns its DeferredMessage records: erasing one deletes
 * its text (ErrorDestructor) and frees it. Run records and thread handles
 * live in vectors of the driver sized to the number of CPU records.
 * Affinity: the driver thread never changes its own mask, so its mask is the
 * set the process inherited; a run pins itself only to target CPUs inside
 * that set and otherwise keeps it, so no mask ever grows beyond it. */
#include "cpu-driver.h"

#include <errno.h>
#include <limits.h>
#include <algorithm>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include "cpu-enum.h"
#include "dapi2.h"
#include "gen-list.h"
#include "gen-str.h"
#include "trace.h"

int g_iTestResult = 0;
unsigned g_uBusyWaitTime = 0;
int g_DeferErrors = 0;
TestCondition g_TestCond = { PTHREAD_MUTEX_INITIALIZER, PTHREAD_COND_INITIALIZER, 0 };
unsigned g_uNumCPUS = 0;

const char *g_szMemInfoPath = "/proc/meminfo";
const char *g_szCpuTimeFileFormat = "/proc/%u/cpu";
const char *g_szTaskStatFileFormat = "/proc/self/task/%u/stat";
PFN_CREATETHREAD g_pfnCreateRunThread = pthread_create;
PFN_GETAFFINITY g_pfnGetAffinity = sched_getaffinity;
PFN_SETAFFINITY g_pfnSetAffinity = sched_setaffinity;

/* Deferred event types. */
#define DEFER_ERROR 1
#define DEFER_PERCENTDONE 4

/* One queued event of a run. */
typedef struct DeferredMessage {
    uint32_t uPid;  /* kernel thread id of the run that queued it */
    uint32_t uCode; /* error number; 0 for a percent value */
    int32_t uType;  /* DEFER_ERROR or DEFER_PERCENTDONE */
    CGenStr text;   /* the event text; "%d" of a percent value */
} DeferredMessage;

static CGenList g_Dapi2MessageQue; /* of DeferredMessage; owning */
static int g_bMessageQueConstructed = 0;
static int g_Dapi2MessageQueIsEmpty = 1;
pthread_mutex_t g_Dapi2MessageQueMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_mutex_t g_ReadCPUTimes = PTHREAD_MUTEX_INITIALIZER;

/* A run is accepted with more than this share (whole percent) on its target. */
#define ACCEPT_MIN_PERCENT 79
/* The third attempt (retry counter 2) accepts its first run whatever its share. */
#define LAST_ATTEMPT_RETRY 2
/* "/proc/meminfo" lines are read into this many bytes. */
#define MEMINFO_LINE_SIZE 10000
/* Lines of a per-thread time file; a stat line is below 1 kB. */
#define TIME_LINE_SIZE 4096

static unsigned CurrentThreadId(void)
{
    return (unsigned)syscall(SYS_gettid);
}

/* Element destructor of the queue: deletes the record's text. */
static void ErrorDestructor(void *pElem)
{
    CGenStrDelete(&((DeferredMessage *)pElem)->text);
}

/* Constructs the queue on first use. Caller holds g_Dapi2MessageQueMutex. */
static void EnsureMessageQueLocked(void)
{
    if (!g_bMessageQueConstructed) {
        CGenListConstruct(&g_Dapi2MessageQue, 1, ErrorDestructor);
        g_bMessageQueConstructed = 1;
    }
}

/* Appends one record. Caller holds g_Dapi2MessageQueMutex. An event that
 * cannot be queued (no memory) is traced and lost. */
static void QueueMessage(int iType, int iCode, const char *szText)
{
    EnsureMessageQueLocked();
    DeferredMessage *pMsg = (DeferredMessage *)calloc(1, sizeof *pMsg);
    if (pMsg == nullptr || !CGenStrInitFromCStr(&pMsg->text, szText)) {
        free(pMsg);
        TPRINTF(4, __FILE__, __LINE__, "", "QueueMessage: out of memory, event %d lost\n", iCode);
        return;
    }
    pMsg->uPid = CurrentThreadId();
    pMsg->uCode = (uint32_t)iCode;
    pMsg->uType = iType;
    if (!CGenListPushBack(&g_Dapi2MessageQue, pMsg)) {
        CGenStrDelete(&pMsg->text);
        free(pMsg);
        return;
    }
    g_Dapi2MessageQueIsEmpty = 0;
}

/* See header. */
void AddError(int iCode, const char *szText)
{
    if (szText == nullptr)
        szText = "";
    pthread_mutex_lock(&g_Dapi2MessageQueMutex);
    if (g_DeferErrors == 0) {
        TPRINTF(4, __FILE__, __LINE__, "", "AddError %s\n", szText);
        Dapi2_Error(iCode, "%s", szText);
    } else {
        QueueMessage(DEFER_ERROR, iCode, szText);
    }
    pthread_mutex_unlock(&g_Dapi2MessageQueMutex);
}

/* See header. */
void AddPercentDone(int iPercent)
{
    pthread_mutex_lock(&g_Dapi2MessageQueMutex);
    if (g_DeferErrors == 0) {
        TPRINTF(4, __FILE__, __LINE__, "", "AddPercentDone %d\n", iPercent);
        Dapi2_SetPercentDone(iPercent);
    } else {
        char szText[16];
        snprintf(szText, sizeof szText, "%d", iPercent);
        QueueMessage(DEFER_PERCENTDONE, 0, szText);
    }
    pthread_mutex_unlock(&g_Dapi2MessageQueMutex);
}

/* See header. */
void ProcessMessages(unsigned uPid)
{
    pthread_mutex_lock(&g_Dapi2MessageQueMutex);
    TPRINTF(4, __FILE__, __LINE__, "", "\n");
    int iCount = 0;
    CGenListIter it;
    CGenListIterInit(&it, &g_Dapi2MessageQue);
    while (!CGenListIterAtEnd(&it)) {
        DeferredMessage *pMsg = (DeferredMessage *)CGenListIterGetData(&it);
        TPRINTF(4, __FILE__, __LINE__, "", "\n");
        if (pMsg->uPid != uPid) {
            CGenListIterAdv(&it);
            continue;
        }
        const char *szText = CGenStrC_Str(&pMsg->text);
        TPRINTF(4, __FILE__, __LINE__, "", "%d:Num: %d, Str: %s pid: %u\n", iCount++,
                (int)pMsg->uCode, szText, pMsg->uPid);
        if (pMsg->uType == DEFER_ERROR) {
            g_iTestResult = 2;
            Dapi2_Error((int)pMsg->uCode, "%s", szText);
        } else if (pMsg->uType == DEFER_PERCENTDONE) {
            Dapi2_SetPercentDone((int)strtol(szText, nullptr, 10));
        }
        it = CGenListErase(&g_Dapi2MessageQue, it);
    }
    pthread_mutex_unlock(&g_Dapi2MessageQueMutex);
}

/* See header. */
void RemoveAllDapi2Messages(void)
{
    pthread_mutex_lock(&g_Dapi2MessageQueMutex);
    if (g_Dapi2MessageQueIsEmpty == 0) {
        CGenListClear(&g_Dapi2MessageQue);
        g_Dapi2MessageQueIsEmpty = 1;
    }
    pthread_mutex_unlock(&g_Dapi2MessageQueMutex);
}

/* See header. */
void ResetDriverState(void)
{
    pthread_mutex_lock(&g_Dapi2MessageQueMutex);
    EnsureMessageQueLocked();
    CGenListClear(&g_Dapi2MessageQue);
    g_Dapi2MessageQueIsEmpty = 1;
    g_DeferErrors = 0;
    pthread_mutex_unlock(&g_Dapi2MessageQueMutex);
    g_iTestResult = 0;
    g_uBusyWaitTime = 0;
    pthread_mutex_lock(&g_TestCond.mutex);
    g_TestCond.iSignaled = 0;
    pthread_mutex_unlock(&g_TestCond.mutex);
    pthread_mutex_lock(&g_ReadCPUTimes);
    g_uNumCPUS = 0;
    pthread_mutex_unlock(&g_ReadCPUTimes);
}

/* See header. */
void SignalEndOfRun(void)
{
    pthread_mutex_lock(&g_TestCond.mutex);
    g_TestCond.iSignaled = 1;
    pthread_cond_signal(&g_TestCond.cond);
    pthread_mutex_unlock(&g_TestCond.mutex);
}

/* See header. */
void WaitForEndOfRun(void)
{
    pthread_mutex_lock(&g_TestCond.mutex);
    while (!g_TestCond.iSignaled) /* wakeups may be spurious */
        pthread_cond_wait(&g_TestCond.cond, &g_TestCond.mutex);
    g_TestCond.iSignaled = 0;
    pthread_mutex_unlock(&g_TestCond.mutex);
}

static uint32_t WallClockMs(void)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return (uint32_t)tv.tv_sec * 1000u + (uint32_t)(tv.tv_usec / 1000);
}

/* See header. The clock is the wall clock in 32-bit milliseconds; the
 * unsigned difference survives its wrap. */
void BusyWait(unsigned uMilliseconds)
{
    uint32_t uStart = WallClockMs();
    uint32_t uNow;
    do {
        for (volatile int i = 10000; i > 0; i--)
            ;
        uNow = WallClockMs();
    } while (uNow - uStart < uMilliseconds);
}

/* See header. */
void PRINT_ARGS(const TestThreadArgs *pArgs)
{
    if (pArgs == nullptr) {
        TPRINTF(4, __FILE__, __LINE__, "", "NULL ARGS\n");
        return;
    }
    TPRINTF(4, __FILE__, __LINE__, "",
            pArgs->bPrintMessages ? "Print Messages: TRUE\n" : "Print Messages: FALSE\n");
    TPRINTF(4, __FILE__, __LINE__, "", "Target CPU: %u\n", pArgs->uTargetCPU);
    TPRINTF(4, __FILE__, __LINE__, "", "Pcnt on Target CPU: %u\n", pArgs->uPcntOnTargetCPU);
    TPRINTF(4, __FILE__, __LINE__, "", "Function: %p\n", (void *)pArgs->pfnTest);
    TPRINTF(4, __FILE__, __LINE__, "", "Pid: %u\n", pArgs->uPid);
}

/* See header. */
void ZeroCPUTimeStruct(CPUTimeStruct *pTimes)
{
    std::fill(pTimes->auTicks.begin(), pTimes->auTicks.end(), 0u);
}

/* See header. */
void DiffCPUTimeStruct(const CPUTimeStruct *pA, const CPUTimeStruct *pB, CPUTimeStruct *pOut)
{
    size_t uSize = std::max(pA->auTicks.size(), pB->auTicks.size());
    std::vector<uint32_t> auDiff(uSize, 0u);
    for (size_t i = 0; i < uSize; i++) {
        uint32_t uA = i < pA->auTicks.size() ? pA->auTicks[i] : 0u;
        uint32_t uB = i < pB->auTicks.size() ? pB->auTicks[i] : 0u;
        int64_t iDiff = (int32_t)(uA - uB);
        auDiff[i] = (uint32_t)(iDiff < 0 ? -iDiff : iDiff);
    }
    pOut->auTicks.swap(auDiff);
}

/* See header. The share is the exact ratio truncated toward zero, computed
 * in integers so that 80 of 100 ticks is 80 in every build. */
unsigned CheckCPUTimes(unsigned uTarget, const CPUTimeStruct *pBefore, const CPUTimeStruct *pAfter)
{
    pthread_mutex_lock(&g_ReadCPUTimes);
    unsigned uNumCPUs = g_uNumCPUS;
    pthread_mutex_unlock(&g_ReadCPUTimes);
    if (uNumCPUs == 0)
        return 0;
    CPUTimeStruct diff;
    DiffCPUTimeStruct(pBefore, pAfter, &diff);
    if (diff.auTicks.empty() || diff.auTicks[0] == 0 || (size_t)uTarget + 1 >= diff.auTicks.size())
        return 0;
    return (unsigned)((uint64_t)diff.auTicks[uTarget + 1] * 100u / diff.auTicks[0]);
}

/* The legacy per-thread per-CPU file of thread uTid. */
static void LegacyTimePath(unsigned uTid, char *szPath, size_t uSize)
{
    snprintf(szPath, uSize, g_szCpuTimeFileFormat, uTid);
}

/* Reads the legacy file: one line for the whole thread, then one per CPU,
 * each "name user system"; stops at the first line without both numbers.
 * Returns the number of matched lines. */
static unsigned ReadLegacyTimes(FILE *pFile, CPUTimeStruct *pTimes)
{
    char szLine[TIME_LINE_SIZE];
    unsigned uMatched = 0;
    pTimes->auTicks.clear();
    while (fgets(szLine, sizeof szLine, pFile) != nullptr) {
        unsigned uUser = 0, uSystem = 0;
        if (sscanf(szLine, "%*s %u %u", &uUser, &uSystem) != 2)
            break;
        pTimes->auTicks.push_back(uUser + uSystem);
        uMatched++;
    }
    return uMatched;
}

/* The logical CPUs the calling thread may run on, ascending. Empty when the
 * kernel does not answer. */
static std::vector<unsigned> AllowedCPUs(void)
{
    std::vector<unsigned> auCpus;
    for (int iCpus = 1024; iCpus <= (1 << 20); iCpus *= 2) {
        cpu_set_t *pSet = CPU_ALLOC(iCpus);
        if (pSet == nullptr)
            return auCpus;
        size_t uSize = CPU_ALLOC_SIZE(iCpus);
        CPU_ZERO_S(uSize, pSet);
        if (g_pfnGetAffinity(0, uSize, pSet) == 0) {
            for (int i = 0; i < iCpus; i++)
                if (CPU_ISSET_S(i, uSize, pSet))
                    auCpus.push_back((unsigned)i);
            CPU_FREE(pSet);
            return auCpus;
        }
        CPU_FREE(pSet);
        if (errno != EINVAL)
            break;
    }
    return auCpus;
}

/* Reads the thread's own CPU time (user + system ticks) from its stat file
 * and charges it to the CPU records whose logical CPUs its affinity mask
 * allows, each allowed CPU an equal part. Entry k + 1 is CPU record k.
 * Returns the number of CPU entries, 0 when the stat file is unusable. */
static unsigned ReadTaskStatTimes(unsigned uTid, CPUTimeStruct *pTimes)
{
    char szPath[TIME_LINE_SIZE];
    snprintf(szPath, sizeof szPath, g_szTaskStatFileFormat, uTid);
    FILE *pFile = fopen(szPath, "r");
    if (pFile == nullptr)
        return 0;
    char szLine[TIME_LINE_SIZE];
    char *szGot = fgets(szLine, sizeof szLine, pFile);
    fclose(pFile);
    if (szGot == nullptr)
        return 0;
    /* The command name may hold blanks and parentheses: fields follow the last ')'. */
    const char *pClose = strrchr(szLine, ')');
    unsigned long ulUser = 0, ulSystem = 0;
    if (pClose == nullptr ||
        sscanf(pClose + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &ulUser,
               &ulSystem) != 2)
        return 0;
    uint32_t uTotal = (uint32_t)(ulUser + ulSystem);

    unsigned uRecords = (unsigned)GetDeviceCount();
    if (uRecords == 0)
        return 0;
    std::vector<unsigned> auAllowed = AllowedCPUs();
    std::vector<uint64_t> auShares(uRecords, 0);
    for (unsigned uCpu : auAllowed)
        for (const CpuDevice *p = g_pRootDevice; p != nullptr; p = p->pNext)
            for (unsigned k = 0; k < p->uLogicalCPUCount; k++)
                if (p->puLogicalCPUs[k] == uCpu && p->iIndex >= 0 && (unsigned)p->iIndex < uRecords)
                    auShares[p->iIndex]++;

    pTimes->auTicks.assign(uRecords + 1, 0u);
    pTimes->auTicks[0] = uTotal;
    if (!auAllowed.empty())
        for (unsigned r = 0; r < uRecords; r++)
            pTimes->auTicks[r + 1] = (uint32_t)((uint64_t)uTotal * auShares[r] / auAllowed.size());
    return uRecords;
}

/* See header. The legacy per-thread per-CPU file is read where it exists;
 * elsewhere the thread's stat file, charged by its affinity mask. */
int GetTimeOnCPUs(CPUTimeStruct *pTimes)
{
    unsigned uTid = CurrentThreadId();
    char szPath[TIME_LINE_SIZE];
    LegacyTimePath(uTid, szPath, sizeof szPath);

    pthread_mutex_lock(&g_ReadCPUTimes);
    unsigned uCount = 0;
    FILE *pFile = fopen(szPath, "r");
    if (pFile != nullptr) {
        unsigned uMatched = ReadLegacyTimes(pFile, pTimes);
        fclose(pFile);
        uCount = uMatched > 0 ? uMatched - 1 : 0;
        g_uNumCPUS = uCount;
        pthread_mutex_unlock(&g_ReadCPUTimes);
        return uMatched > 0 ? 0 : 1;
    }
    uCount = ReadTaskStatTimes(uTid, pTimes);
    g_uNumCPUS = uCount;
    pthread_mutex_unlock(&g_ReadCPUTimes);
    return uCount > 0 ? 0 : 1;
}

/* Restricts the calling thread to the run's logical CPUs (already narrowed to
 * the inherited set, so the mask never widens). None: the thread keeps the
 * inherited set. A refusal (a CPU gone offline since) marks the run as not
 * placed; the driver then warns. */
static void PinToTarget(TestThreadArgs *pArgs)
{
    if (pArgs->uLogicalCPUCount == 0 || pArgs->puLogicalCPUs == nullptr)
        return;
    unsigned uMax = 0;
    for (unsigned i = 0; i < pArgs->uLogicalCPUCount; i++)
        uMax = std::max(uMax, pArgs->puLogicalCPUs[i]);
    int iCpus = (int)uMax + 1;
    cpu_set_t *pSet = CPU_ALLOC(iCpus);
    if (pSet == nullptr) {
        pArgs->bNotPlaced = 1;
        return;
    }
    size_t uSize = CPU_ALLOC_SIZE(iCpus);
    CPU_ZERO_S(uSize, pSet);
    for (unsigned i = 0; i < pArgs->uLogicalCPUCount; i++)
        CPU_SET_S(pArgs->puLogicalCPUs[i], uSize, pSet);
    if (g_pfnSetAffinity(0, uSize, pSet) != 0) {
        pArgs->bNotPlaced = 1;
        TPRINTF(4, __FILE__, __LINE__, "", "RunTest: cannot pin to CPU %u: %s\n", pArgs->uTargetCPU,
                strerror(errno));
    }
    CPU_FREE(pSet);
}

/* The target's logical CPUs that the calling thread's affinity set allows, in
 * the record's order. Called by the driver thread, whose set is the one the
 * process inherited (a container's cpuset, a taskset). */
static std::vector<unsigned> ReachableTargetCPUs(const TestThreadArgs *pArgs)
{
    std::vector<unsigned> auAllowed = AllowedCPUs(), auReachable;
    for (unsigned i = 0; pArgs->puLogicalCPUs != nullptr && i < pArgs->uLogicalCPUCount; i++)
        if (std::binary_search(auAllowed.begin(), auAllowed.end(), pArgs->puLogicalCPUs[i]))
            auReachable.push_back(pArgs->puLogicalCPUs[i]);
    return auReachable;
}

/* Tells the engine that the runs could not be placed on target uTarget. */
static void WarnTargetUnreachable(unsigned uTarget)
{
    char szName[32];
    snprintf(szName, sizeof szName, "CPU:%u", uTarget);
    TPRINTF(4, __FILE__, __LINE__, "", "InitThreads: no logical CPU of %s is allowed\n", szName);
    Dapi2_Warning(CPUDRIVER_WARN_UNREACHABLE, "%s",
                  Dapi2_NlsTagToTokenVar("szWarnTargetUnreachable", "%s", "processor", szName));
}

/* See header. */
void *RunTest(void *pArg)
{
    TestThreadArgs *pArgs = (TestThreadArgs *)pArg;
    CPUTimeStruct before, after;
    ZeroCPUTimeStruct(&before);
    ZeroCPUTimeStruct(&after);

    unsigned uTid = CurrentThreadId();
    char szPath[TIME_LINE_SIZE];
    LegacyTimePath(uTid, szPath, sizeof szPath);
    if (access(szPath, F_OK) != 0)
        PinToTarget(pArgs);

    GetTimeOnCPUs(&before);
    pArgs->uPid = uTid;
    pArgs->pfnTest(pArgs);
    GetTimeOnCPUs(&after);
    pArgs->uPcntOnTargetCPU = CheckCPUTimes(pArgs->uTargetCPU, &before, &after);
    PRINT_ARGS(pArgs);
    TPRINTF(4, __FILE__, __LINE__, "", "RunTest: target %u, %u percent, ended on logical CPU %d\n",
            pArgs->uTargetCPU, pArgs->uPcntOnTargetCPU, sched_getcpu());
    return pArg;
}

/* Starts the runs of one attempt one after the other, each a copy of *pBase,
 * and waits for each run's end signal before creating the next. Only the very
 * first run of the test (*pbFirstRun) sends informative messages. Returns the
 * number of runs started: fewer than aArgs.size() when a thread could not be
 * created. */
static unsigned StartAttempt(const TestThreadArgs *pBase, int *pbFirstRun,
                             std::vector<TestThreadArgs> &aArgs, std::vector<pthread_t> &aThreads)
{
    for (unsigned i = 0; i < aArgs.size(); i++) {
        aArgs[i] = *pBase;
        aArgs[i].bPrintMessages = *pbFirstRun ? 1 : 0;
        *pbFirstRun = 0;
        int iRc = g_pfnCreateRunThread(&aThreads[i], nullptr, RunTest, &aArgs[i]);
        if (iRc != 0) {
            TPRINTF(4, __FILE__, __LINE__, "", "InitThreads: run %u not started: %s\n", i,
                    strerror(iRc));
            return i;
        }
        WaitForEndOfRun();
    }
    return (unsigned)aArgs.size();
}

/* See header. */
int InitThreads(const TestThreadArgs *pArgs)
{
    unsigned uRuns = (unsigned)GetDeviceCount();
    if (uRuns == 0) /* no CPU record: no attempt could ever accept a run */
        return 1;
    pthread_mutex_lock(&g_Dapi2MessageQueMutex);
    EnsureMessageQueLocked();
    g_DeferErrors = 1;
    pthread_mutex_unlock(&g_Dapi2MessageQueMutex);
    int iRetry = 0;
    int bFirstRun = 1;
    std::vector<TestThreadArgs> aArgs(uRuns);
    std::vector<pthread_t> aThreads(uRuns);
    std::vector<unsigned> auPlace = ReachableTargetCPUs(pArgs);
    int bWarned = auPlace.empty();
    if (bWarned)
        WarnTargetUnreachable(pArgs->uTargetCPU);
    TestThreadArgs base = *pArgs;
    base.puLogicalCPUs = auPlace.data();
    base.uLogicalCPUCount = (unsigned)auPlace.size();
    base.bNotPlaced = 0;
    base.uPcntOnTargetCPU = 0;
    base.uPid = 0;

    for (;;) {
        unsigned uCreated = StartAttempt(&base, &bFirstRun, aArgs, aThreads);
        int bCreateFailed = uCreated < uRuns;
        int bDone = 0;
        for (unsigned i = 0; i < uCreated; i++) {
            pthread_join(aThreads[i], nullptr);
            if (aArgs[i].bNotPlaced && !bWarned) {
                WarnTargetUnreachable(pArgs->uTargetCPU);
                bWarned = 1;
            }
            if (!bCreateFailed && !bDone &&
                (aArgs[i].uPcntOnTargetCPU > ACCEPT_MIN_PERCENT || iRetry >= LAST_ATTEMPT_RETRY)) {
                ProcessMessages(aArgs[i].uPid);
                bDone = 1;
                RemoveAllDapi2Messages();
            }
        }
        RemoveAllDapi2Messages();
        if (bCreateFailed) {
            if (g_iTestResult == 0)
                g_iTestResult = 1;
            return 1;
        }
        if (bDone)
            return 0;
        iRetry++;
        usleep(100);
    }
}

/* See header. */
int ReadMemTotal(int *piKb)
{
    FILE *pFile = fopen(g_szMemInfoPath, "r");
    if (pFile == nullptr)
        return 1;
    std::vector<char> acLine(MEMINFO_LINE_SIZE);
    int iRc = 1;
    while (fgets(acLine.data(), (int)acLine.size(), pFile) != nullptr) {
        /* read wide, then held to the int range: a machine of 2 TiB or more
         * must not wrap to a small total */
        long long llKb = 0;
        if (sscanf(acLine.data(), "MemTotal:    %lli", &llKb) == 1) {
            *piKb = llKb > INT_MAX ? INT_MAX : llKb < INT_MIN ? INT_MIN : (int)llKb;
            iRc = 0;
            break;
        }
    }
    fclose(pFile);
    return iRc;
}
