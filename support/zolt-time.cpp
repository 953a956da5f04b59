/* zolt-time.cpp - the 12 numbered mutex slots with their hold counters, the
 * select and nanosleep pauses, the millisecond clocks, the UTC time record and
 * the test-flag getters.
 * DESIGN: the slots are statically initialised default mutexes, never
 * destroyed. A slot's counter and pid are written only while it is held.
 * The pid written there is cached: the pipe thread takes two slots every 1 ms,
 * and a getpid system call per lock was a good part of its idle cost. A fork
 * handler clears the cache in the child, which then asks the kernel again
 * (posix_spawn and vfork children skip fork handlers, but they only exec). */
#include "zolt-time.h"

#include <stdio.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

/* Error-checking mutexes: still non-recursive, but locking a slot one holds
 * answers EDEADLK and unlocking one not held answers EPERM instead of hanging
 * or corrupting the lock, so such a bug ends in the verify stop. */
#define SLOT PTHREAD_ERRORCHECK_MUTEX_INITIALIZER_NP
pthread_mutex_t tMutex[ZOLT_MUTEX_SLOTS] = {
    SLOT, SLOT, SLOT, SLOT, SLOT, SLOT, SLOT, SLOT, SLOT, SLOT, SLOT, SLOT,
};
#undef SLOT
int32_t iMutexHeld[ZOLT_MUTEX_SLOTS];
int32_t iMutexHeldPid[ZOLT_MUTEX_SLOTS];

int (*g_pfnZoltGetTimeOfDay)(struct timeval *pTv) = [](struct timeval *pTv) {
    return gettimeofday(pTv, NULL);
};

/* The process id for the slots' pid record; 0 until first asked and again in
 * a freshly forked child. */
static std::atomic<int32_t> s_iCachedPid{ 0 };

static void ForgetCachedPid(void)
{
    s_iCachedPid.store(0, std::memory_order_relaxed);
}

/* Registers the fork handler before main, so no fork can come first. */
[[maybe_unused]] static const int s_iAtForkRegistered = pthread_atfork(NULL, NULL, ForgetCachedPid);

/* The own process id, from the cache when it holds one. Any thread. */
static int32_t SlotOwnerPid(void)
{
    int32_t iPid = s_iCachedPid.load(std::memory_order_relaxed);
    if (iPid == 0) {
        iPid = (int32_t)getpid();
        s_iCachedPid.store(iPid, std::memory_order_relaxed);
    }
    return iPid;
}

/* Locks (bLock non-zero) or unlocks slot iSlot. Returns 0, -1 for a slot
 * outside 0-11, or the platform's error number after flushing all output.
 * Any thread; the caller must not lock a slot it holds. */
int ZoltGrabMutex(const char *szFile, int iLine, const char *szFunc, int iSlot, int bLock)
{
    (void)szFile, (void)iLine, (void)szFunc;
    if ((unsigned)iSlot >= ZOLT_MUTEX_SLOTS)
        return -1;
    if (bLock) {
        int iRc = pthread_mutex_lock(&tMutex[iSlot]);
        if (iRc != 0) {
            fflush(NULL);
            return iRc;
        }
        iMutexHeld[iSlot]++;
        iMutexHeldPid[iSlot] = SlotOwnerPid();
        return 0;
    }
    /* update the counters while the slot is still held */
    iMutexHeld[iSlot]--;
    int32_t iOldPid = iMutexHeldPid[iSlot];
    iMutexHeldPid[iSlot] = 0;
    int iRc = pthread_mutex_unlock(&tMutex[iSlot]);
    if (iRc != 0) {
        iMutexHeld[iSlot]++;
        iMutexHeldPid[iSlot] = iOldPid;
        fflush(NULL);
        return iRc;
    }
    return 0;
}

/* Locks slot iSlot only if it is free. Returns 0, -1 for a bad slot, or the
 * try-lock's error (EBUSY) at once. Any thread. */
int ZoltTryMutex(const char *szFile, int iLine, const char *szFunc, int iSlot)
{
    (void)szFile, (void)iLine, (void)szFunc;
    if ((unsigned)iSlot >= ZOLT_MUTEX_SLOTS)
        return -1;
    int iRc = pthread_mutex_trylock(&tMutex[iSlot]);
    if (iRc != 0)
        return iRc;
    iMutexHeld[iSlot]++;
    iMutexHeldPid[iSlot] = SlotOwnerPid();
    return 0;
}

/* Pauses iMs milliseconds with select; returns select's result (-1 with
 * EINTR when a signal cut it short, or for a negative iMs). */
int ZoltWait(int32_t iMs)
{
    struct timeval tv;
    tv.tv_sec = iMs / 1000;
    tv.tv_usec = (iMs % 1000) * 1000;
    return select(0, NULL, NULL, NULL, &tv);
}

/* Pauses uMs milliseconds with nanosleep, not restarted after a signal;
 * returns nanosleep's result. */
int ZoltSleep(uint32_t uMs)
{
    struct timespec ts;
    ts.tv_sec = (time_t)(uMs / 1000u);
    ts.tv_nsec = (long)(uMs % 1000u) * 1000000L;
    return nanosleep(&ts, NULL);
}

/* Milliseconds since midnight UTC, 0 to 86399999. */
uint32_t ZoltGetTimeOfDay(void)
{
    struct timeval tv = { 0, 0 };
    g_pfnZoltGetTimeOfDay(&tv);
    return (uint32_t)(tv.tv_sec % 86400) * 1000u + (uint32_t)(tv.tv_usec / 1000);
}

/* Free-running millisecond counter, wrapping modulo 2^32. */
uint32_t ZoltMilliSeconds(void)
{
    struct timeval tv = { 0, 0 };
    g_pfnZoltGetTimeOfDay(&tv);
    return (uint32_t)((uint64_t)tv.tv_sec * 1000u + (uint64_t)(tv.tv_usec / 1000));
}

/* Fills *pTime with the current UTC date and time (milliseconds 0).
 * Returns 0, or 1 for a NULL record (the clock is not read). */
int ZoltGetUtcTime(ZoltUtcTime *pTime)
{
    if (pTime == NULL)
        return 1;
    struct timeval tv = { 0, 0 };
    g_pfnZoltGetTimeOfDay(&tv);
    time_t tSeconds = tv.tv_sec;
    struct tm tmUtc;
    if (gmtime_r(&tSeconds, &tmUtc) == NULL) {
        tSeconds = 0;
        gmtime_r(&tSeconds, &tmUtc);
    }
    pTime->uYear = (uint32_t)(tmUtc.tm_year + 1900);
    pTime->uMonth = (uint32_t)(tmUtc.tm_mon + 1);
    pTime->uDay = (uint32_t)tmUtc.tm_mday;
    pTime->uHour = (uint32_t)tmUtc.tm_hour;
    pTime->uMinute = (uint32_t)tmUtc.tm_min;
    pTime->uSecond = (uint32_t)tmUtc.tm_sec;
    pTime->uMilliSeconds = 0;
    return 0;
}

/* Test flag getters: 1 when the bit is set, else 0. */
int ZoltGetFlagInteractive(uint8_t uFlags)
{
    return (uFlags >> 0) & 1;
}
int ZoltGetFlagFixtureNeeded(uint8_t uFlags)
{
    return (uFlags >> 1) & 1;
}
int ZoltGetFlagShowFixturePromptEveryRun(uint8_t uFlags)
{
    return (uFlags >> 2) & 1;
}
int ZoltGetFlagIsRisky(uint8_t uFlags)
{
    return (uFlags >> 3) & 1;
}
int ZoltGetFlagIsDestructive(uint8_t uFlags)
{
    return (uFlags >> 4) & 1;
}
int ZoltGetFlagIsSoftwareDiag(uint8_t uFlags)
{
    return (uFlags >> 5) & 1;
}
int ZoltGetFlagSelfFixPossible(uint8_t uFlags)
{
    return (uFlags >> 6) & 1;
}
int ZoltGetFlagSelfHelp(uint8_t uFlags)
{
    return (uFlags >> 7) & 1;
}
