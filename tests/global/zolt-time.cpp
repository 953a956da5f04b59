/* zolt-time.cpp - tests of the mutex slots (range check, try-lock against a
 * holder in another thread, hold counters, misuse reported instead of
 * hanging) and of the clocks against a fixed time seam. */
#include <gtest/gtest.h>

#include <errno.h>
#include <unistd.h>

#include "zolt-time.h"

namespace {

TEST(ZoltMutex, SlotsOutsideTheTableAnswerMinusOne)
{
    for (int iSlot : { 12, -1, 1000 }) {
        EXPECT_EQ(ZoltGrabMutex(__FILE__, __LINE__, "", iSlot, 1), -1) << iSlot;
        EXPECT_EQ(ZoltGrabMutex(__FILE__, __LINE__, "", iSlot, 0), -1) << iSlot;
        EXPECT_EQ(ZoltTryMutex(__FILE__, __LINE__, "", iSlot), -1) << iSlot;
    }
}

struct Holder {
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
    int iStage = 0;   /* 1 slot taken, 2 may release, 3 released */
};

void *HoldSlot7(void *pArg)
{
    Holder *p = static_cast<Holder *>(pArg);
    ZoltGrabMutex(__FILE__, __LINE__, "", 7, 1);
    pthread_mutex_lock(&p->mutex);
    p->iStage = 1;
    pthread_cond_broadcast(&p->cond);
    while (p->iStage != 2)
        pthread_cond_wait(&p->cond, &p->mutex);
    pthread_mutex_unlock(&p->mutex);
    ZoltGrabMutex(__FILE__, __LINE__, "", 7, 0);
    return NULL;
}

TEST(ZoltMutex, TryLockFailsAtOnceWhileAnotherThreadHolds)
{
    Holder h;
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, NULL, HoldSlot7, &h), 0);
    pthread_mutex_lock(&h.mutex);
    while (h.iStage != 1)
        pthread_cond_wait(&h.cond, &h.mutex);
    pthread_mutex_unlock(&h.mutex);

    EXPECT_EQ(iMutexHeld[7], 1);
    EXPECT_EQ(iMutexHeldPid[7], (int32_t)getpid());
    EXPECT_EQ(ZoltTryMutex(__FILE__, __LINE__, "", 7), EBUSY);
    EXPECT_EQ(iMutexHeld[7], 1);                        /* unchanged by the failed try */

    pthread_mutex_lock(&h.mutex);
    h.iStage = 2;
    pthread_cond_broadcast(&h.cond);
    pthread_mutex_unlock(&h.mutex);
    pthread_join(thread, NULL);

    EXPECT_EQ(iMutexHeld[7], 0);
    EXPECT_EQ(iMutexHeldPid[7], 0);
    ASSERT_EQ(ZoltTryMutex(__FILE__, __LINE__, "", 7), 0);
    EXPECT_EQ(iMutexHeld[7], 1);
    EXPECT_EQ(ZoltGrabMutex(__FILE__, __LINE__, "", 7, 0), 0);
}

TEST(ZoltMutex, MisuseIsReportedNotHung)
{
    EXPECT_NE(ZoltGrabMutex(__FILE__, __LINE__, "", 5, 0), 0);   /* unlock of a free slot */
    EXPECT_EQ(iMutexHeld[5], 0);
    ASSERT_EQ(ZoltGrabMutex(__FILE__, __LINE__, "", 5, 1), 0);
    EXPECT_EQ(ZoltGrabMutex(__FILE__, __LINE__, "", 5, 1), EDEADLK);  /* relock by the holder */
    EXPECT_EQ(iMutexHeld[5], 1);
    EXPECT_EQ(ZoltGrabMutex(__FILE__, __LINE__, "", 5, 0), 0);
    EXPECT_EQ(iMutexHeld[5], 0);
}

/* A fixed clock for the time seam. */
struct timeval g_tvFixed;
int FixedClock(struct timeval *pTv)
{
    *pTv = g_tvFixed;
    return 0;
}
int g_iClockReads;
int CountingClock(struct timeval *pTv)
{
    g_iClockReads++;
    return FixedClock(pTv);
}

TEST(ZoltClock, ReadsFromTheTimeSeam)
{
    int (*pfnKeep)(struct timeval *) = g_pfnZoltGetTimeOfDay;
    g_pfnZoltGetTimeOfDay = FixedClock;
    struct { time_t tSec; suseconds_t tUsec; uint32_t uOfDay, uMs; } aCase[] = {
        { 86400 * 19000 + 1, 250000, 1250, (uint32_t)((86400ull * 19000 + 1) * 1000 + 250) },
        { 86400 * 19000 - 1, 999999, 86399999, (uint32_t)((86400ull * 19000 - 1) * 1000 + 999) },
        { 0, 0, 0, 0 },
        { 4294967, 296000, 61367296, 0 },  /* 2^32 ms: the counter wraps to 0 */
    };
    for (const auto &c : aCase) {
        g_tvFixed.tv_sec = c.tSec;
        g_tvFixed.tv_usec = c.tUsec;
        EXPECT_EQ(ZoltGetTimeOfDay(), c.uOfDay) << c.tSec;
        EXPECT_EQ(ZoltMilliSeconds(), c.uMs) << c.tSec;
    }

    g_tvFixed.tv_sec = 1709647629;   /* 2024-03-05 14:07:09 UTC */
    g_tvFixed.tv_usec = 123456;
    ZoltUtcTime t;
    ASSERT_EQ(ZoltGetUtcTime(&t), 0);
    EXPECT_EQ(t.uYear, 2024u);
    EXPECT_EQ(t.uMonth, 3u);
    EXPECT_EQ(t.uDay, 5u);
    EXPECT_EQ(t.uHour, 14u);
    EXPECT_EQ(t.uMinute, 7u);
    EXPECT_EQ(t.uSecond, 9u);
    EXPECT_EQ(t.uMilliSeconds, 0u);

    g_pfnZoltGetTimeOfDay = CountingClock;
    g_iClockReads = 0;
    EXPECT_EQ(ZoltGetUtcTime(NULL), 1);
    EXPECT_EQ(g_iClockReads, 0);                        /* a NULL record reads no clock */
    g_pfnZoltGetTimeOfDay = pfnKeep;
}

}  // namespace
