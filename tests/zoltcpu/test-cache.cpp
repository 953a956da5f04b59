/* Tests of test 3 (caches), with the lock-limit, lock and allocation calls
 * stood in: this machine refuses the raise to unlimited. */
#include "zoltcpu/cpu-test-events.h"

#include <errno.h>
#include <malloc.h>
#include <stdio.h>
#include <sys/mman.h>

#include <algorithm>

#include "test-cache.h"
#include "test-patterns.h"

namespace {

/* Stand-ins log their calls (the sound sequence); call iFailAt (1-based) fails with iErrno. */
const std::vector<std::string> kSoundCalls = { "getrlimit",     "setrlimit inf",  "mlockall 3",
                                               "calloc 600000", "setrlimit 1234", "munlockall" };
std::vector<std::string> s_calls;
int s_iFailAt = 0, s_iErrno = 0;

int Call(const std::string &sCall)
{
    s_calls.push_back(sCall);
    if ((int)s_calls.size() != s_iFailAt)
        return 0;
    errno = s_iErrno;
    return -1;
}
/* Each block between write and read-back: "pattern block @offset bytes", " wrong"
 * unless it holds its pattern and (pattern 1) every later word is still 0. */
std::vector<std::string> s_seen;
unsigned s_uStopInPattern = 0; /* a stop request arrives while this pattern is checked */

void RecordingHook(unsigned uTest, unsigned uSubTest, unsigned uCheck, unsigned uCase,
                   void *pObserved, unsigned cbObserved)
{
    const uint32_t *pdw = static_cast<const uint32_t *>(pObserved);
    bool bOk = true;
    for (size_t u = 0; u < cbObserved / 4; u++)
        bOk = bOk && pdw[u] == dwPattern[uSubTest - 1];
    for (size_t u = pdw - g_pdwOurBuffer + cbObserved / 4;
         uSubTest == 1 && u < CACHE_BUFFER_BYTES / 4; u++)
        bOk = bOk && g_pdwOurBuffer[u] == 0;
    s_seen.push_back(std::to_string(uSubTest) + " " + std::to_string(uCase) + " @" +
                     std::to_string((pdw - g_pdwOurBuffer) * 4) + " " + std::to_string(cbObserved) +
                     (bOk ? "" : " wrong"));
    if (uSubTest == s_uStopInPattern)
        g_iStopTesting = 1;
    XorFaultHook(uTest, uSubTest, uCheck, uCase, pObserved, cbObserved);
}

class CacheTest : public CpuTestFixture {
protected:
    void SetUp() override /* the limit to be restored: 1234 */
    {
        CpuTestFixture::SetUp();
        g_pfnTestFault = RecordingHook;
        g_pfnCacheGetLockLimit = [](struct rlimit *p) {
            p->rlim_cur = p->rlim_max = 1234;
            return Call("getrlimit");
        };
        g_pfnCacheSetLockLimit = [](const struct rlimit *p) {
            bool bInf = p->rlim_cur == RLIM_INFINITY && p->rlim_max == RLIM_INFINITY;
            return Call(bInf ? "setrlimit inf" : "setrlimit " + std::to_string(p->rlim_max));
        };
        g_pfnCacheLockAll = [](int i) {
            return Call("mlockall " + std::to_string(i == (MCL_CURRENT | MCL_FUTURE) ? 3 : i));
        };
        g_pfnCacheUnlockAll = []() { return Call("munlockall"); };
        g_pfnCacheCalloc = [](size_t n, size_t cb) {
            return Call("calloc " + std::to_string(n * cb)) ? nullptr : calloc(n, cb);
        };
        Restart();
    }
    void TearDown() override
    {
        g_pfnCacheGetLockLimit = m_pfnGet;
        g_pfnCacheSetLockLimit = m_pfnSet;
        g_pfnCacheLockAll = m_pfnLock;
        g_pfnCacheUnlockAll = m_pfnUnlock;
        g_pfnCacheCalloc = m_pfnCalloc;
        Restart();
        CpuTestFixture::TearDown();
    }
    void Restart() /* a fresh run within one test */
    {
        Fresh();
        s_calls.clear();
        s_seen.clear();
        s_iFailAt = s_iErrno = 0;
        s_uStopInPattern = 0;
        g_iDapi2ErrorLimit = 5;
        g_iStopTesting = 0;
    }
    PFN_CACHEGETLIMIT m_pfnGet = g_pfnCacheGetLockLimit;
    PFN_CACHESETLIMIT m_pfnSet = g_pfnCacheSetLockLimit;
    PFN_CACHELOCKALL m_pfnLock = g_pfnCacheLockAll;
    PFN_CACHEUNLOCKALL m_pfnUnlock = g_pfnCacheUnlockAll;
    PFN_CACHECALLOC m_pfnCalloc = g_pfnCacheCalloc;
};

size_t PatternMessages()
{
    return (size_t)std::count_if(g_events.begin(), g_events.end(), [](const CapturedEvent &ev) {
        return TokenVariable(ev.sText, "id") == "szProgressCachePattern";
    });
}

/* 18 progress messages (upper-case hex); pattern i fills whole blocks of size
 * i % 7, each written and read back before the next; no print flag, no message. */
TEST_F(CacheTest, SoundRunWritesAndReadsWholeBlocksPerPattern)
{
    EXPECT_EQ(do_cache(nullptr), nullptr);
    ASSERT_EQ(g_events.size(), 20u);
    EXPECT_EQ(TokenVariable(g_events[0].sText, "id"), "szProgressCacheAllocMem");
    for (int i = 0; i < 18; i++) {
        const std::string &s = g_events[i + 1].sText;
        char szHex[16];
        snprintf(szHex, sizeof szHex, "%08X", (unsigned)dwPattern[i]); /* e.g. "0F0F0F0F" */
        EXPECT_EQ(TokenVariable(s, "id") + " " + TokenVariable(s, "curpattern") + " " +
                      TokenVariable(s, "totalpattern") + " " + TokenVariable(s, "thispattern"),
                  "szProgressCachePattern " + std::to_string(i + 1) + " 18 " + szHex);
    }
    Restart();
    TestThreadArgs args = {};
    EXPECT_EQ(do_cache(&args), &args);
    EXPECT_EQ(Seen(), "PERCENTDONE 100");
    EXPECT_EQ(g_TestCond.iSignaled, 1);
    const uint32_t auBytes[7] = { 7168, 15360, 31744, 64512, 130048, 261120, 523264 };
    const uint32_t auCount[7] = { 83, 39, 18, 9, 4, 2, 1 };
    std::vector<std::string> expected;
    for (unsigned uPattern = 1; uPattern <= 18; uPattern++)
        for (unsigned uBlock = 0; uBlock < auCount[(uPattern - 1) % 7]; uBlock++)
            expected.push_back(std::to_string(uPattern) + " " + std::to_string(uBlock) + " @" +
                               std::to_string(uBlock * auBytes[(uPattern - 1) % 7]) + " " +
                               std::to_string(auBytes[(uPattern - 1) % 7]));
    EXPECT_EQ(s_seen, expected);
}

/* A limit or lock call failing with EPERM: warning 101, result 4; another errno:
 * 102, result 1 (before the pass only a raised limit is undone); no buffer: 104,
 * result 1. A refused raise alone locks anyway and leaves the limit alone. */
TEST_F(CacheTest, CallsInOrderAndFailedCallsWarn)
{
    const struct {
        int iFailAt, iErrno, iResult;
        const char *szCalls; /* indexes into kSoundCalls */
        const char *szEvents;
    } cases[] = {
        { 0, 0, 0, "012345", "PERCENTDONE 100" },
        { 2, EPERM, 0, "01235", "PERCENTDONE 100" },       /* the raise: this machine */
        { 3, EPERM, 4, "0124", "WARN 101 szWarnCacheSU" }, /* mlockall */
        { 2, EINVAL, 1, "01", "WARN 102 szWarnCachePageing" },
        { 4, ENOMEM, 1, "012345", "WARN 104 szWarnMemory|PERCENTDONE 100" },
        { 5, EPERM, 4, "01234", "PERCENTDONE 100|WARN 101 szWarnCacheSU" }, /* the restore */
        { 6, ENOMEM, 1, "012345", "PERCENTDONE 100|WARN 102 szWarnCachePageing" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "call " << c.iFailAt << " errno " << c.iErrno);
        Restart();
        s_iFailAt = c.iFailAt;
        s_iErrno = c.iErrno;
        TestThreadArgs args = {};
        args.bPrintMessages = 1;
        EXPECT_EQ(do_cache(&args), &args);
        std::vector<std::string> vCalls;
        for (const char *p = c.szCalls; *p; p++)
            vCalls.push_back(kSoundCalls[(size_t)(*p - '0')]);
        EXPECT_EQ(s_calls, vCalls);
        EXPECT_EQ(Seen(false), c.szEvents);
        const bool bPass = c.iFailAt == 0 || c.iFailAt > 4 || (c.iFailAt == 2 && c.iErrno == EPERM);
        EXPECT_EQ(PatternMessages(), bPass ? 18u : 0u);
        EXPECT_EQ(s_seen.empty(), !bPass);
        EXPECT_EQ(g_iTestResult, c.iResult);
        EXPECT_EQ(g_TestCond.iSignaled, 1);
        EXPECT_EQ(g_pdwOurBuffer, nullptr);
    }
}

/* Wrong words {pattern (0 every), block (-1 every), byte offset, XOR}: error
 * 103 each up to the limit; a wrong word at the first, a middle and the last
 * word of the first, a middle and the last block of the first and the last
 * pattern is seen. A stop request is seen before a pattern only (before the
 * first, or arriving in pattern 3) and ends without percent. */
TEST_F(CacheTest, WrongWordsUpToTheLimitAndStopsBetweenPatterns)
{
    struct Word {
        unsigned uPattern;
        int iBlock;
        unsigned uOffset;
        uint64_t uXor = 1;
    };
    const struct {
        int iLimit, iStopIn;
        std::vector<Word> words;
        size_t nErrors, nPatterns; /* error events, patterns begun */
    } cases[] = {
        { 0, -1, { { 1, 0, 0 }, { 1, 0, 4 } }, 1, 1 }, /* 0 ends at the first wrong word */
        { 0, -1, { { 18, 3, 40 } }, 1, 18 },
        { 3, -1, { { 0, -1, 0 } }, 3, 1 }, /* faulty everywhere: exactly three */
        { 3, -1, { { 1, 82, 7164 }, { 7, 0, 523260 }, { 13, 0, 0 }, { 14, 0, 0 } }, 3, 13 },
        { 5, -1, { { 2, 38, 15356 }, { 9, 17, 0 } }, 2, 18 },
        { 5, 0, {}, 0, 0 },
        { 5, 3, {}, 0, 3 },
        { 5, -1, { { 1, 0, 0 } }, 1, 18 },
        { 5, -1, { { 1, 41, 3584, 0x80000000u } }, 1, 18 },
        { 5, -1, { { 1, 82, 7164 } }, 1, 18 },
        { 5, -1, { { 18, 0, 0 } }, 1, 18 },
        { 5, -1, { { 18, 4, 32256, 0x80000000u } }, 1, 18 },
        { 5, -1, { { 18, 8, 64508 } }, 1, 18 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "limit " << c.iLimit << ", " << c.words.size()
                                        << " words, stop " << c.iStopIn);
        Restart();
        g_iDapi2ErrorLimit = c.iLimit;
        g_iStopTesting = c.iStopIn == 0 ? 1 : 0;
        s_uStopInPattern = c.iStopIn > 0 ? (unsigned)c.iStopIn : 0;
        for (const Word &w : c.words)
            for (unsigned p = 1; p <= 18; p++)
                if (w.uPattern == 0 || w.uPattern == p)
                    g_faults.push_back({ 3, p, 0x01, w.iBlock, w.uXor, w.uOffset });
        do_cache(nullptr);
        std::string sExpected;
        for (size_t i = 0; i < c.nErrors; i++)
            sExpected += "ERROR 103 szErrorCacheRW|";
        EXPECT_EQ(Seen(false), c.iStopIn >= 0 ? "" : sExpected + "PERCENTDONE 100");
        EXPECT_EQ(PatternMessages(), c.nPatterns);
        EXPECT_EQ(g_iTestResult, c.iStopIn >= 0 ? 8 : 2);
        EXPECT_EQ(s_seen.size() == 83u + 39u + 18u,
                  c.iStopIn == 3); /* the pass of pattern 3 finished */
        EXPECT_EQ(s_calls, kSoundCalls);
        EXPECT_EQ(g_pdwOurBuffer, nullptr);
    }
}

/* Freeing the cache test's buffer gives its mapping back (a buffer of this
 * size is mapped on its own, so the mapped byte count shows it). */
TEST_F(CacheTest, CacheBufferIsFreed)
{
    const size_t uBefore = mallinfo2().hblkhd;
    g_pdwOurBuffer = (uint32_t *)calloc(1, CACHE_BUFFER_BYTES);
    ASSERT_NE(g_pdwOurBuffer, nullptr);
    const size_t uHeld = mallinfo2().hblkhd;
    FreeCacheAllocatedMemory();
    EXPECT_EQ(g_pdwOurBuffer, nullptr);
    EXPECT_EQ(mallinfo2().hblkhd, uBefore) << "mapped bytes while held: " << uHeld;
}

}  // namespace

/* The buffer size is the test's parameter: the definition's default and bounds
 * (the shipped zoltcpu.ini), else 600000 and the code's own limits; whole words. */
TEST(CacheTestParameter, BufferSizeKeepsTheDefinitionsAndTheCodesLimits)
{
    static const struct {
        bool bDefFile;
        const char *szGiven; /* null: no param= word */
        uint32_t uBytes;
    } s_Cases[] = {
        { true, nullptr, 600000 },
        { false, nullptr, 600000 },
        { true, "1048575", 1048572 },
        { true, "99999999", 16777216 },
        { true, "1000", 523264 },
        { false, "99999999", CACHE_BUFFER_MAX_BYTES },
        { false, "1000", CACHE_BUFFER_MIN_BYTES },
    };
    for (const auto &c : s_Cases) {
        SCOPED_TRACE(c.szGiven ? c.szGiven : "(none)");
        ASSERT_EQ(Dapi2_ParamListConstruct(&g_paramList), 1);
        Dapi2Parameter *p = (Dapi2Parameter *)calloc(1, sizeof(Dapi2Parameter));
        ASSERT_EQ(Dapi2_InitParameter(p), 1);
        Dapi2_SetParameterId(p, c.szGiven ? CACHE_PARAM_BUFFER_BYTES : "OTHER");
        Dapi2_SetParameterValFromStr(p, c.szGiven ? c.szGiven : "1");
        ASSERT_EQ(Dapi2_AddParameter(&g_paramList, p), 1);
        snprintf(g_szDefinitionsFile, sizeof g_szDefinitionsFile, "%s",
                 c.bDefFile ? ZOLT_SOURCE_DIR "/zoltcpu/zoltcpu.ini" : "");
        g_dwBufferSize = 0;
        EXPECT_EQ(SetCacheBufferSize(), 0);
        EXPECT_EQ(g_dwBufferSize, c.uBytes);
        Dapi2_ParamListDestruct(&g_paramList);
    }
    g_szDefinitionsFile[0] = '\0';
}
