/* zolt-time.h - process-wide numbered mutex slots with hold counters, the two
 * millisecond pauses, the clocks (time of day, free-running milliseconds, UTC
 * date and time record) and the test-flag getters. */
#ifndef ZOLT_TIME_H
#define ZOLT_TIME_H

#include <pthread.h>
#include <stdint.h>
#include <sys/time.h>

/* Mutex slots: non-recursive (error-checking) mutexes, ready before main,
 * never torn down. Never lock a slot you already hold (that answers EDEADLK). */
#define ZOLT_MUTEX_SLOTS 12
#define ZOLT_MUTEX_PIPE_READ 3   /* pipe layer read queue and read FIFOs */
#define ZOLT_MUTEX_PIPE_WRITE 4  /* pipe layer write queue and write FIFOs */
#define ZOLT_MUTEX_MEMTRACE 9    /* end-of-run memory check */
#define ZOLT_MUTEX_CLIENT_MSG 10 /* client message table */

extern pthread_mutex_t tMutex[ZOLT_MUTEX_SLOTS];
extern int32_t iMutexHeld[ZOLT_MUTEX_SLOTS];    /* +1 per lock, -1 per unlock */
extern int32_t iMutexHeldPid[ZOLT_MUTEX_SLOTS]; /* pid of the last locker, 0 after unlock */

/* Locks (bLock non-zero, waiting as long as needed) or unlocks slot iSlot.
 * Returns 0, -1 for a slot outside 0-11, or the platform's error number
 * (after fflush of all streams). szFile/iLine/szFunc name the call site only. */
int ZoltGrabMutex(const char *szFile, int iLine, const char *szFunc, int iSlot, int bLock);
/* Locks iSlot only if free: 0, -1 for a bad slot, EBUSY (or another error
 * number) at once when it is not. */
int ZoltTryMutex(const char *szFile, int iLine, const char *szFunc, int iSlot);

/* Pauses iMs milliseconds by select without descriptors; returns its result. */
int ZoltWait(int32_t iMs);
/* Pauses uMs milliseconds by nanosleep (no restart when interrupted);
 * returns its result. */
int ZoltSleep(uint32_t uMs);

/* Milliseconds since midnight UTC, 0 to 86399999. */
uint32_t ZoltGetTimeOfDay(void);
/* seconds * 1000 + microseconds / 1000, wrapping modulo 2^32. */
uint32_t ZoltMilliSeconds(void);

/* Broken-down UTC time used in message headers. */
typedef struct ZoltUtcTime {
    uint32_t uYear;         /* four digits, e.g. 2002 */
    uint32_t uMonth;        /* 1-12 */
    uint32_t uDay;          /* 1-31 */
    uint32_t uHour;         /* 0-23 */
    uint32_t uMinute;       /* 0-59 */
    uint32_t uSecond;       /* 0-60 */
    uint32_t uMilliSeconds; /* always 0 */
} ZoltUtcTime;
/* Fills *pTime from the clock: 0, or 1 for a NULL record (no clock read). */
int ZoltGetUtcTime(ZoltUtcTime *pTime);

/* Test seam: the clock behind all three clock functions (gettimeofday). */
extern int (*g_pfnZoltGetTimeOfDay)(struct timeval *pTv);

/* Test flags byte: each getter answers 1 when its bit is set, else 0. */
int ZoltGetFlagInteractive(uint8_t uFlags);               /* bit 0 */
int ZoltGetFlagFixtureNeeded(uint8_t uFlags);             /* bit 1 */
int ZoltGetFlagShowFixturePromptEveryRun(uint8_t uFlags); /* bit 2 */
int ZoltGetFlagIsRisky(uint8_t uFlags);                   /* bit 3 */
int ZoltGetFlagIsDestructive(uint8_t uFlags);             /* bit 4 */
int ZoltGetFlagIsSoftwareDiag(uint8_t uFlags);            /* bit 5 */
int ZoltGetFlagSelfFixPossible(uint8_t uFlags);           /* bit 6 */
int ZoltGetFlagSelfHelp(uint8_t uFlags);                  /* bit 7 */

#endif /* ZOLT_TIME_H */
