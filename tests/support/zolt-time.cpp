/* zolt-time.cpp - tests of the mutex slots (a holder in another thread, pids
 * after fork) and the clocks on a fixed time seam. */
#include <gtest/gtest.h>

#include <errno.h>
#include <sys/wait.h>
#include <unistd.h>

#include <future>
#include <thread>
#include <vector>

#include "zolt-time.h"

TEST(ZoltMutex, TryLockFailsAtOnceWhileAnotherThreadHolds)
{
    std::promise<void> taken, release;
    std::thread holder([&] {
        ZoltGrabMutex(__FILE__, __LINE__, "", 7, 1);
        taken.set_value();
        release.get_future().wait();
        ZoltGrabMutex(__FILE__, __LINE__, "", 7, 0);
    });
    taken.get_future().wait();
    EXPECT_EQ(iMutexHeld[7], 1);
    EXPECT_EQ(iMutexHeldPid[7], (int32_t)getpid());
    EXPECT_EQ(ZoltTryMutex(__FILE__, __LINE__, "", 7), EBUSY);
    release.set_value();
    holder.join();
    EXPECT_EQ(iMutexHeld[7] + iMutexHeldPid[7], 0);
    ASSERT_EQ(ZoltTryMutex(__FILE__, __LINE__, "", 7), 0);
    EXPECT_EQ(ZoltGrabMutex(__FILE__, __LINE__, "", 7, 0), 0);
}

/* The locker's pid comes from a cache: a forked child must record its own. */
TEST(ZoltMutex, ForkedChildRecordsItsOwnPid)
{
    ASSERT_EQ(ZoltGrabMutex(__FILE__, __LINE__, "", 6, 1), 0); /* fills the cache */
    ASSERT_EQ(ZoltGrabMutex(__FILE__, __LINE__, "", 6, 0), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int iBad = ZoltGrabMutex(__FILE__, __LINE__, "", 6, 1) != 0;
        iBad |= (iMutexHeldPid[6] != (int32_t)getpid()) << 1;
        iBad |= ZoltGrabMutex(__FILE__, __LINE__, "", 6, 0) != 0;
        iBad |=
            (ZoltTryMutex(__FILE__, __LINE__, "", 6) != 0 || iMutexHeldPid[6] != (int32_t)getpid())
            << 2;
        _exit(iBad);
    }
    int iStatus = 0;
    ASSERT_EQ(waitpid(pid, &iStatus, 0), pid);
    EXPECT_EQ(iStatus, 0)
        << "exit 1: lock or unlock failed, 2: parent pid after lock, 4: after try-lock";
}

struct timeval g_tvFixed; /* what the time seam reads */
int FixedClock(struct timeval *pTv)
{
    *pTv = g_tvFixed;
    return 0;
}

TEST(ZoltClock, ReadsFromTheTimeSeam)
{
    int (*pfnKeep)(struct timeval *) = g_pfnZoltGetTimeOfDay;
    g_pfnZoltGetTimeOfDay = FixedClock;
    struct {
        time_t tSec;
        suseconds_t tUsec;
        uint32_t uOfDay, uMs;
    } aCase[] = {
        { 86400 * 19000 - 1, 999999, 86399999, (uint32_t)((86400ull * 19000 - 1) * 1000 + 999) },
        { 4294967, 296000, 61367296, 0 }, /* 2^32 ms: the counter wraps to 0 */
    };
    for (const auto &c : aCase) {
        g_tvFixed = { c.tSec, c.tUsec };
        EXPECT_EQ(ZoltGetTimeOfDay(), c.uOfDay) << c.tSec;
        EXPECT_EQ(ZoltMilliSeconds(), c.uMs) << c.tSec;
    }
    g_tvFixed = { 1709647629, 123456 }; /* 2024-03-05 14:07:09.123 UTC */
    ZoltUtcTime t;
    ASSERT_EQ(ZoltGetUtcTime(&t), 0);
    EXPECT_EQ(std::vector<uint32_t>(
                  { t.uYear, t.uMonth, t.uDay, t.uHour, t.uMinute, t.uSecond, t.uMilliSeconds }),
              std::vector<uint32_t>({ 2024, 3, 5, 14, 7, 9, 0 }));
    EXPECT_EQ(ZoltGetUtcTime(NULL), 1);
    g_pfnZoltGetTimeOfDay = pfnKeep;
}
