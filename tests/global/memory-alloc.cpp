/* memory-alloc.cpp - tests of the text copy with zeroed spare bytes, the verify
 * stop and the end-of-run block check with memory tracing off and on. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>

#include "memory-alloc.h"
#include "trace.h"
#include "zolt-time.h"

namespace {

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
                "^Zolt2000 Verify Failed: Line:[0-9]+ File:.*tests/global/memory-alloc\\.cpp "
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

TEST(FinishMemoryBlockTracing, ListsBlocksStillRegisteredWhenMemTracingIsOn)
{
    std::string strFile = "/tmp/zolt-memtrace-test-" + std::to_string(getpid());
    unlink(strFile.c_str());
    ZoltTraceSetFile(strFile.c_str());
    ZoltTraceSetType(ZOLT_TRACE_MEM, 1);
    if (!g_bZoltMemBlockListInit) {
        CGenListConstructForMemTracing(&g_ZoltMemBlockList, 1, NULL);
        g_bZoltMemBlockListInit = 1;
    }
    ZoltMemBlockInfo *pInfo = static_cast<ZoltMemBlockInfo *>(calloc(1, sizeof *pInfo));
    pInfo->uSize = 48;
    strcpy(pInfo->szFile, "dev.cpp");
    pInfo->iLine = 12;
    ASSERT_TRUE(CGenListPushBack(&g_ZoltMemBlockList, pInfo));

    EXPECT_EQ(FinishMemoryBlockTracing(), 0);
    ZoltTraceSetType(ZOLT_TRACE_MEM, 0);
    ZoltTraceSetFile(NULL);

    std::ifstream in(strFile);
    std::string strText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string strHead = std::string(g_szTraceProcName) + "(" + std::to_string(getpid()) + "):():memory-alloc.cpp:";
    /* two lines, each after its own header; the size carries a literal 'l' */
    EXPECT_EQ(strText.rfind(strHead, 0), 0u) << strText;
    size_t uFirst = strText.find("\nMEMORY ERROR - some memory blocks have not been released\n"
                                 "LIST OF BLOCKS STILL ALLOCATED\n");
    ASSERT_NE(uFirst, std::string::npos) << strText;
    EXPECT_NE(strText.find("\nMEM BLOCK INFO\nAddress: (nil)\nSize: 48l\nAllocated at file: dev.cpp\nLine: 12\n",
                           uFirst), std::string::npos) << strText;
    unlink(strFile.c_str());
}

}  // namespace
