/* cpu-driver.h - the CPU test driver: the diagnostic callback's engine, the
 * record handed to one run of a test routine, the deferred event queue and
 * the per-CPU time snapshots that decide which run's events reach the engine.
 *
 * Contract of a test routine (do_registertests, do_mathregistertests, do_MMX,
 * do_cache), in this order:
 *  1. Most routines and sub-tests start with BusyWait(g_uBusyWaitTime).
 *  2. Informative messages (Dapi2_Informative) only when pArgs is null or
 *     pArgs->bPrintMessages is set; warnings go out with Dapi2_Warning directly.
 *  3. A fault: AddError(error number, token) and g_iTestResult = 2 in the
 *     same place (other fixed codes: 5, 1, 4, 8, see OurDiagFunction).
 *  4. After each sub-test AddPercentDone(fixed step).
 *  5. At the end, if pArgs is not null: SignalEndOfRun().
 *  6. Return pArgs.
 * A routine never touches another run's TestThreadArgs. */
#ifndef ZOLTCPU_CPU_DRIVER_H
#define ZOLTCPU_CPU_DRIVER_H

#include <pthread.h>
#include <sched.h>
#include <stdint.h>
#include <vector>

struct TestThreadArgs;

/* A test routine: takes the run's record or null (direct mode), returns it. */
typedef TestThreadArgs *(*PFN_CPUTEST)(TestThreadArgs *pArgs);

/* One run of a test routine. The driver fills it before the run's thread
 * starts; RunTest writes uPid and uPcntOnTargetCPU; the routine only reads. */
typedef struct TestThreadArgs {
    uint32_t bPrintMessages;   /* non-zero: send the informative messages */
    uint32_t uTargetCPU;       /* index of the target CPU record */
    uint32_t uPcntOnTargetCPU; /* whole percent of the run's time on the target */
    uint32_t uPid;             /* kernel thread id of the run's thread (gettid) */
    PFN_CPUTEST pfnTest;       /* the routine this run performs */
    /* Logical CPUs (kernel CPU numbers) of the target record; InitThreads
     * narrows them to those the process's inherited affinity set allows, and
     * the run's thread pins itself to them where the kernel has no per-thread
     * per-CPU file. None left: the run stays on the inherited set. The
     * caller's list points into the CPU record chain, which no scan replaces
     * during a test; the narrowed list belongs to InitThreads. */
    const unsigned *puLogicalCPUs;
    unsigned uLogicalCPUCount;
    uint32_t bNotPlaced; /* RunTest: the kernel refused the pin to those CPUs */
} TestThreadArgs;

/* Warning of the pinned mode when no run can be placed on a logical CPU of
 * the target: "szWarnTargetUnreachable" with the variable "processor" set to
 * the target's device name ("CPU:%u"). Once per test; the result word still
 * follows the attempt rules. */
#define CPUDRIVER_WARN_UNREACHABLE 106

/* End-of-run handshake between a run and the driver (lock, flag, signal). */
typedef struct TestCondition {
    pthread_mutex_t mutex;
    pthread_cond_t cond;
    int32_t iSignaled;
} TestCondition;

/* A snapshot of the calling thread's processor time in clock ticks (user +
 * system): entry 0 the total, entry k + 1 the time charged to CPU index k.
 * Sized to the machine, never capped at a fixed number of CPUs. */
typedef struct CPUTimeStruct {
    std::vector<uint32_t> auTicks;
} CPUTimeStruct;

/* The result the driver returns; runs set it only to fixed non-zero codes
 * (2 fault, 5 not applicable, 1 setup error, 4 privilege error, 8 stopped). */
extern int g_iTestResult;
/* Milliseconds the routines spin at their start: 60 pinned, 0 direct. */
extern unsigned g_uBusyWaitTime;
/* Non-zero once the pinned mode started: AddError/AddPercentDone queue. */
extern int g_DeferErrors;
/* End-of-run handshake; see SignalEndOfRun. */
extern TestCondition g_TestCond;
/* Guards the deferred event queue; held across direct sends and the replay. */
extern pthread_mutex_t g_Dapi2MessageQueMutex;
/* Serialises the time readings and g_uNumCPUS. */
extern pthread_mutex_t g_ReadCPUTimes;
/* Number of per-CPU entries found by the latest time reading (any thread). */
extern unsigned g_uNumCPUS;

/* Test seams (defaults: the real platform files; tests may point them at
 * fixture files). The two time sources are printf formats taking the kernel
 * thread id as an unsigned: the legacy per-thread per-CPU file, and the
 * per-thread stat file used where the legacy one does not exist. */
extern const char *g_szMemInfoPath;        /* "/proc/meminfo" */
extern const char *g_szCpuTimeFileFormat;  /* "/proc/%u/cpu" */
extern const char *g_szTaskStatFileFormat; /* "/proc/self/task/%u/stat" */

/* Creates a run's thread: default pthread_create; tests may make it fail. */
typedef int (*PFN_CREATETHREAD)(pthread_t *pThread, const pthread_attr_t *pAttr,
                                void *(*pfnStart)(void *), void *pArg);
extern PFN_CREATETHREAD g_pfnCreateRunThread;

/* The calling thread's affinity set: default sched_getaffinity and
 * sched_setaffinity (pid 0); tests may stand in for the kernel. */
typedef int (*PFN_GETAFFINITY)(pid_t iPid, size_t uSize, cpu_set_t *pSet);
typedef int (*PFN_SETAFFINITY)(pid_t iPid, size_t uSize, const cpu_set_t *pSet);
extern PFN_GETAFFINITY g_pfnGetAffinity;
extern PFN_SETAFFINITY g_pfnSetAffinity;

/* The table from test number to routine; OurDiagFunction range-checks the
 * number against uCount before indexing. Tests may point it at stand-ins. */
typedef struct CpuTestTable {
    const PFN_CPUTEST *ppfnRoutines;
    unsigned uCount;
} CpuTestTable;
extern CpuTestTable g_CpuTestTable;

/* Reports a fault of a run: sends Dapi2_Error(iCode, text) at once, or queues
 * it for a later replay when g_DeferErrors is set. Copies szText. Any thread;
 * takes the queue lock. Does not touch g_iTestResult (the caller sets it). */
void AddError(int iCode, const char *szText);

/* Reports percent done: Dapi2_SetPercentDone at once, or queued like AddError. */
void AddPercentDone(int iPercent);

/* The end-of-run signal of a run (step 5 of the contract): sets
 * g_TestCond.iSignaled to 1 and signals the driver, under its mutex. */
void SignalEndOfRun(void);

/* The driver's half: waits until g_TestCond.iSignaled is set, then resets
 * it, under its mutex. Driver thread only. */
void WaitForEndOfRun(void);

/* Spins for at least uMilliseconds of wall-clock time (0 still spins once). */
void BusyWait(unsigned uMilliseconds);

/* Traces a TestThreadArgs at level 4 ("NULL ARGS" for null). */
void PRINT_ARGS(const TestThreadArgs *pArgs);

/* The pinned mode: runs pArgs->pfnTest once per CPU record, each in a fresh
 * thread, for at most three attempts, and replays the events of the accepted
 * run. pArgs carries uTargetCPU, pfnTest and the target's logical CPUs. The
 * runs are pinned only within the affinity set of the calling thread, read
 * once here (the driver thread never changes its own); a target outside it
 * gets warning CPUDRIVER_WARN_UNREACHABLE before the first run.
 * Returns 0, or 1 when there is no CPU record (nothing runs) or a run's
 * thread could not be created (then the attempt's queued events are dropped
 * and g_iTestResult is set to 1 if it was still 0). Driver thread only. */
int InitThreads(const TestThreadArgs *pArgs);

/* Thread body of one run (argument a TestThreadArgs); returns its argument. */
void *RunTest(void *pArg);

/* Fills pTimes for the calling thread (legacy per-CPU file, else the stat
 * file charged to the CPUs the thread's affinity mask allows). Returns 0, or
 * 1 when no source could be read or held no usable line; sets g_uNumCPUS. */
int GetTimeOnCPUs(CPUTimeStruct *pTimes);

/* Whole percent (truncated) of the time between two snapshots that was
 * charged to CPU index uTarget; 0 when g_uNumCPUS is 0 or nothing elapsed. */
unsigned CheckCPUTimes(unsigned uTarget, const CPUTimeStruct *pBefore, const CPUTimeStruct *pAfter);

/* pOut[i] = |(int32)(a[i] - b[i])| for every entry (the longer size wins,
 * missing entries count as 0). */
void DiffCPUTimeStruct(const CPUTimeStruct *pA, const CPUTimeStruct *pB, CPUTimeStruct *pOut);

/* Sets every entry of a snapshot to 0. */
void ZeroCPUTimeStruct(CPUTimeStruct *pTimes);

/* Replays (in queue order) and removes the queued events of thread uPid:
 * errors set g_iTestResult to 2 and go to Dapi2_Error, percent values to
 * Dapi2_SetPercentDone. Driver thread, after every run has ended. */
void ProcessMessages(unsigned uPid);

/* Drops every queued event. Takes the queue lock. */
void RemoveAllDapi2Messages(void);

/* Reads the total memory in kB from the meminfo file (g_szMemInfoPath).
 * Returns 0 with *piKb set, or 1 when the file is missing or holds no
 * "MemTotal:" line. */
int ReadMemTotal(int *piKb);

/* Creates the deferred event queue (idempotent) and resets the driver state
 * of one test: g_iTestResult 0, g_DeferErrors 0, queue empty. For tests and
 * for a second test in one process. Driver thread only. */
void ResetDriverState(void);

#endif /* ZOLTCPU_CPU_DRIVER_H */
