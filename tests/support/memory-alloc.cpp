/* memory-alloc.cpp - tests of the text copy with zeroed spare bytes, the verify
 * stop and the silent end-of-run block check. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "memory-alloc.h"
#include "zolt-time.h"

TEST(ZoltAllocStringEx, CopiesWithThreeSpareZeroBytes)
{
    for (const char *sz : { "", "abc" }) {
        char *p = ZoltAllocStringEx(sz);
        ASSERT_NE(p, nullptr);
        /* ASan flags a block shorter than len + 4 */
        EXPECT_EQ(std::string(p, strlen(sz) + 4), std::string(sz) + std::string(4, '\0'));
        free(p);
    }
    EXPECT_EQ(ZoltAllocStringEx(NULL), nullptr);
}

TEST(ZoltVerify, FailedCheckStopsWithExactTextAndStatusOne)
{
    EXPECT_EXIT(ZOLT_VERIFY(1 + 1 == 3), ::testing::ExitedWithCode(1),
                "^Zolt2000 Verify Failed: Line:[0-9]+ File:.*tests/support/memory-alloc\\.cpp "
                "Possibly Out of Memory\\.\n$");
}

TEST(FinishMemoryBlockTracing, SilentWithTracingOffAndSlotNineFreeAfter)
{
    if (getenv("ZOLT_TRACE") != NULL)
        GTEST_SKIP() << "ZOLT_TRACE is set in this environment";
    testing::internal::CaptureStderr();
    EXPECT_EQ(FinishMemoryBlockTracing(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(ZoltTryMutex(__FILE__, __LINE__, "", ZOLT_MUTEX_MEMTRACE), 0);
    EXPECT_EQ(ZoltGrabMutex(__FILE__, __LINE__, "", ZOLT_MUTEX_MEMTRACE, 0), 0);
}
