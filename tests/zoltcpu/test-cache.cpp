/* Tests of test 3 (caches), with stand-ins for the memory-lock calls (this
 * machine refuses the raise to unlimited): the sound 18-pattern run and its
 * messages, the block sizes and the write-then-read order per block, wrong
 * words against the error limit, the lock, restore and allocation failures,
 * stop requests between patterns; and once with the real lock calls. */
#include "zoltcpu/cpu-test-events.h"

#include <errno.h>
#include <algorithm>
#include <stdio.h>
#include <sys/mman.h>

#include "test-cache.h"
#include "test-patterns.h"

namespace {

/* Blocks per pattern index mod 7 in the 600000-byte buffer, and their sizes. */
const uint32_t s_auBlockBytes[7] = {7168, 15360, 31744, 64512, 130048, 261120, 523264};
const uint32_t s_auBlockCount[7] = {83, 39, 18, 9, 4, 2, 1};

/* What the stand-ins of the lock calls and the allocation saw and answer. */
struct PlatformStandIns {
    std::vector<std::string> calls;   /* in call order */
    int iSetCalls = 0;
    int iGetErrno = 0, iRaiseErrno = 0, iRestoreErrno = 0, iLockErrno = 0, iUnlockErrno = 0;
    bool bAllocFails = false;
};
PlatformStandIns s_platform;

std::string LimitText(rlim_t u)
{
    return u == RLIM_INFINITY ? "inf" : std::to_string((unsigned long long)u);
}

int FailWith(int iErrno)
{
    if (iErrno == 0)
        return 0;
    errno = iErrno;
    return -1;
}

int StandInGetLimit(struct rlimit *pLimit)
{
    s_platform.calls.push_back("getrlimit");
    pLimit->rlim_cur = 1234;     /* the limit to be restored */
    pLimit->rlim_max = 5678;
    return FailWith(s_platform.iGetErrno);
}

int StandInSetLimit(const struct rlimit *pLimit)
{
    s_platform.calls.push_back("setrlimit " + LimitText(pLimit->rlim_cur) + "/" +
                               LimitText(pLimit->rlim_max));
    return FailWith(++s_platform.iSetCalls == 1 ? s_platform.iRaiseErrno
                                                : s_platform.iRestoreErrno);
}

int StandInLockAll(int iFlags)
{
    s_platform.calls.push_back(iFlags == (MCL_CURRENT | MCL_FUTURE) ? "mlockall current+future"
                                                                   : "mlockall other flags");
    return FailWith(s_platform.iLockErrno);
}

int StandInUnlockAll(void)
{
    s_platform.calls.push_back("munlockall");
    return FailWith(s_platform.iUnlockErrno);
}

void *StandInCalloc(size_t nCount, size_t nSize)
{
    s_platform.calls.push_back("calloc " + std::to_string(nCount * nSize));
    if (s_platform.bAllocFails) {
        errno = ENOMEM;
        return nullptr;
    }
    return calloc(nCount, nSize);
}

const std::vector<std::string> s_aszSoundCalls = {
    "getrlimit", "setrlimit inf/inf", "mlockall current+future", "calloc 600000",
    "setrlimit 1234/5678", "munlockall"};

/* One call of the fault seam: which block of which pattern, where, how big,
 * and whether the whole block held the pattern at that moment. */
struct SeenBlock {
    unsigned uPattern;       /* 1 to 18 */
    unsigned uBlock;
    size_t uByteOffset;      /* from the start of the buffer */
    unsigned uBytes;
    bool bHoldsPattern;
    bool bRestUntouched;     /* first pattern only: every later word still 0 */
};

std::vector<SeenBlock> &SeenBlocks()
{
    static std::vector<SeenBlock> s_seen;
    return s_seen;
}

/* Set g_iStopTesting when pattern s_uStopDuringPattern is being checked. */
unsigned s_uStopDuringPattern = 0;

/* Records each block between its write and its read-back, then applies the
 * injected faults like the other CPU tests. */
void RecordingHook(unsigned uTest, unsigned uSubTest, unsigned uCheck, unsigned uCase,
                   void *pObserved, unsigned cbObserved)
{
    if (uTest == 3 && uCheck == 0x01) {
        const uint32_t *pdw = static_cast<const uint32_t *>(pObserved);
        SeenBlock seen = {uSubTest, uCase,
                          (size_t)(reinterpret_cast<const uint8_t *>(pObserved) -
                                   reinterpret_cast<const uint8_t *>(g_pdwOurBuffer)),
                          cbObserved, true, true};
        for (unsigned u = 0; u < cbObserved / 4; u++)
            seen.bHoldsPattern = seen.bHoldsPattern && pdw[u] == dwPattern[uSubTest - 1];
        if (uSubTest == 1) {
            size_t uEnd = (seen.uByteOffset + cbObserved) / 4;
            for (size_t u = uEnd; u < CACHE_BUFFER_BYTES / 4; u++)
                seen.bRestUntouched = seen.bRestUntouched && g_pdwOurBuffer[u] == 0;
        }
        SeenBlocks().push_back(seen);
        if (uSubTest == s_uStopDuringPattern)
            g_iStopTesting = 1;
    }
    XorFaultHook(uTest, uSubTest, uCheck, uCase, pObserved, cbObserved);
}

/* Direct mode with every lock call and the allocation replaced; they succeed
 * unless a test says otherwise. Error limit 5, as without "errlimit=". */
class CacheTest : public CpuTestFixture {
protected:
    void SetUp() override
    {
        CpuTestFixture::SetUp();
        m_iSavedLimit = g_iDapi2ErrorLimit;
        g_pfnTestFault = RecordingHook;
        g_pfnCacheGetLockLimit = StandInGetLimit;
        g_pfnCacheSetLockLimit = StandInSetLimit;
        g_pfnCacheLockAll = StandInLockAll;
        g_pfnCacheUnlockAll = StandInUnlockAll;
        g_pfnCacheCalloc = StandInCalloc;
        Restart();
    }
    /* A fresh run within one test: driver and event state, stand-ins,
     * captured messages, faults and the seen blocks. */
    void Restart()
    {
        ResetDriverState();
        Dapi2_I_ResetEventState();
        CapturedMessages().clear();
        InjectedFaults().clear();
        s_platform = PlatformStandIns();
        SeenBlocks().clear();
        s_uStopDuringPattern = 0;
        g_iDapi2ErrorLimit = 5;
        g_iStopTesting = 0;
        g_TestCond.iSignaled = 0;
    }
    void TearDown() override
    {
        g_pfnCacheGetLockLimit = m_saved.pfnGet;
        g_pfnCacheSetLockLimit = m_saved.pfnSet;
        g_pfnCacheLockAll = m_saved.pfnLock;
        g_pfnCacheUnlockAll = m_saved.pfnUnlock;
        g_pfnCacheCalloc = m_saved.pfnCalloc;
        g_iDapi2ErrorLimit = m_iSavedLimit;
        g_iStopTesting = 0;
        g_TestCond.iSignaled = 0;
        CpuTestFixture::TearDown();
    }
    struct {
        PFN_CACHEGETLIMIT pfnGet = g_pfnCacheGetLockLimit;
        PFN_CACHESETLIMIT pfnSet = g_pfnCacheSetLockLimit;
        PFN_CACHELOCKALL pfnLock = g_pfnCacheLockAll;
        PFN_CACHEUNLOCKALL pfnUnlock = g_pfnCacheUnlockAll;
        PFN_CACHECALLOC pfnCalloc = g_pfnCacheCalloc;
    } m_saved;
    int m_iSavedLimit = 0;
};

/* String ids of the informative messages, in order. */
std::vector<std::string> InfoIds()
{
    std::vector<std::string> ids;
    for (const CapturedEvent &ev : EventsOfType("INFO"))
        ids.push_back(TokenId(ev.sText));
    return ids;
}

/* Number of "szProgressCachePattern" messages sent. */
size_t PatternMessages()
{
    size_t n = 0;
    for (const std::string &s : InfoIds())
        n += s == "szProgressCachePattern" ? 1 : 0;
    return n;
}

std::vector<std::string> EventTypes()
{
    std::vector<std::string> types;
    for (const CapturedEvent &ev : CapturedEvents())
        types.push_back(ev.sType);
    return types;
}

TEST_F(CacheTest, SoundRunLocksTestsEighteenPatternsAndRestoresTheLimit)
{
    EXPECT_EQ(do_cache(nullptr), nullptr);

    EXPECT_EQ(s_platform.calls, s_aszSoundCalls);
    EXPECT_EQ(g_iTestResult, 0);
    EXPECT_EQ(g_pdwOurBuffer, nullptr);
    EXPECT_EQ(g_TestCond.iSignaled, 0);     /* no run record, no end signal */
    std::vector<std::string> types(19, "INFO");
    types.push_back("PERCENTDONE");
    EXPECT_EQ(EventTypes(), types);
    EXPECT_EQ(PercentValues(), std::vector<int>{100});

    std::vector<CapturedEvent> infos = EventsOfType("INFO");
    ASSERT_EQ(infos.size(), 19u);
    EXPECT_EQ(TokenId(infos[0].sText), "szProgressCacheAllocMem");
    for (int i = 0; i < 18; i++) {
        const std::string &sToken = infos[i + 1].sText;
        char szHex[16];
        snprintf(szHex, sizeof szHex, "%08X", (unsigned)dwPattern[i]);
        EXPECT_EQ(TokenId(sToken), "szProgressCachePattern");
        EXPECT_EQ(TokenVariable(sToken, "curpattern"), std::to_string(i + 1));
        EXPECT_EQ(TokenVariable(sToken, "totalpattern"), "18");
        EXPECT_EQ(TokenVariable(sToken, "thispattern"), szHex) << "pattern " << i + 1;
        EXPECT_EQ(infos[i + 1].iCode, -1);
    }
    /* eight digits, upper case, zeros kept */
    EXPECT_EQ(TokenVariable(infos[2].sText, "thispattern"), "00000000");
    EXPECT_EQ(TokenVariable(infos[4].sText, "thispattern"), "0F0F0F0F");
}

TEST_F(CacheTest, EachPatternFillsWholeBlocksOfItsSizeOneAtATime)
{
    do_cache(nullptr);
    ASSERT_EQ(g_iTestResult, 0);

    std::vector<SeenBlock> &seen = SeenBlocks();
    size_t iNext = 0;
    for (unsigned uPattern = 1; uPattern <= 18; uPattern++) {
        const uint32_t uBytes = s_auBlockBytes[(uPattern - 1) % 7];
        const uint32_t uCount = s_auBlockCount[(uPattern - 1) % 7];
        for (unsigned uBlock = 0; uBlock < uCount; uBlock++, iNext++) {
            ASSERT_LT(iNext, seen.size()) << "pattern " << uPattern << " block " << uBlock;
            const SeenBlock &b = seen[iNext];
            ASSERT_EQ(b.uPattern, uPattern);
            ASSERT_EQ(b.uBlock, uBlock);
            ASSERT_EQ(b.uBytes, uBytes) << "pattern " << uPattern;
            ASSERT_EQ(b.uByteOffset, (size_t)uBlock * uBytes);
            ASSERT_TRUE(b.bHoldsPattern) << "pattern " << uPattern << " block " << uBlock;
            if (uPattern == 1) {   /* later blocks are written only after this one is read */
                ASSERT_TRUE(b.bRestUntouched) << "block " << uBlock;
            }
        }
    }
    EXPECT_EQ(iNext, seen.size());
    /* the cases named for this test: 83 x 7168 first, one 523264 seventh,
     * the eighth starts the cycle again */
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [](const SeenBlock &b) { return b.uPattern == 1 && b.uBytes == 7168; }),
              83);
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [](const SeenBlock &b) { return b.uPattern == 7 && b.uBytes == 523264; }),
              1);
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(),
                            [](const SeenBlock &b) { return b.uPattern == 8 && b.uBytes == 7168; }),
              83);
}

/* Wrong words come from the fault seam: (pattern, block, byte offset in the
 * block, XOR); pattern 0 means "word 0 of every block of every pattern". */
struct WrongWord {
    unsigned uPattern, uBlock, uOffset;
    uint32_t uXor;
};

struct ErrorLimitCase {
    const char *szName;
    int iErrorLimit;
    std::vector<WrongWord> words;
    size_t nErrors;            /* error 103 events expected */
    size_t nPatternMessages;   /* patterns begun before the test ended */
};

void PrintTo(const ErrorLimitCase &c, std::ostream *pOs)
{
    *pOs << c.szName;
}

const ErrorLimitCase s_aErrorLimitCases[] = {
    {"limit 0 ends at the first wrong word", 0, {{1, 0, 0, 0x1}, {1, 0, 4, 0x1}}, 1, 1},
    {"limit 0, wrong word in the last pattern", 0, {{18, 3, 40, 0x80000000}}, 1, 18},
    {"limit 3, faulty buffer: exactly three", 3, {{0, 0, 0, 0xFFFFFFFF}}, 3, 1},
    {"limit 3, three words of one block end the run", 3,
     {{1, 0, 0, 0x1}, {1, 0, 4, 0x2}, {1, 0, 7164, 0x4}, {2, 0, 0, 0x1}}, 3, 1},
    {"limit 3, last words of blocks across patterns", 3,
     {{1, 82, 7164, 0x1}, {7, 0, 523260, 0x100}, {13, 0, 0, 0x1}, {14, 0, 0, 0x1}}, 3, 13},
    {"limit 5, two wrong words: the run goes on", 5, {{2, 38, 15356, 0x1}, {9, 17, 0, 0x1}}, 2,
     18},
    {"limit 5, one wrong bit in an all-zero pattern", 5, {{2, 0, 100, 0x00010000}}, 1, 18},
};

class CacheErrorLimit : public CacheTest,
                        public ::testing::WithParamInterface<ErrorLimitCase> {};

TEST_P(CacheErrorLimit, EachWrongWordIsOneErrorUpToTheLimit)
{
    const ErrorLimitCase &c = GetParam();
    g_iDapi2ErrorLimit = c.iErrorLimit;
    for (const WrongWord &w : c.words) {
        if (w.uPattern == 0) {
            for (unsigned p = 1; p <= 18; p++)
                Inject(3, p, 0x01, w.uXor, w.uOffset);
        } else {
            InjectCase(3, w.uPattern, 0x01, w.uBlock, w.uXor, w.uOffset);
        }
    }

    do_cache(nullptr);

    std::vector<CapturedEvent> errors = EventsOfType("ERROR");
    ASSERT_EQ(errors.size(), c.nErrors);
    for (const CapturedEvent &ev : errors) {
        EXPECT_EQ(ev.iCode, 103);
        EXPECT_EQ(TokenId(ev.sText), "szErrorCacheRW");
    }
    EXPECT_EQ(PatternMessages(), c.nPatternMessages);
    EXPECT_EQ(g_iTestResult, 2);
    EXPECT_EQ(PercentValues(), std::vector<int>{100});   /* a fault is not a stop */
    EXPECT_EQ(s_platform.calls, s_aszSoundCalls);       /* limit restored, unlocked */
    EXPECT_EQ(g_pdwOurBuffer, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Cases, CacheErrorLimit, ::testing::ValuesIn(s_aErrorLimitCases),
                         [](const ::testing::TestParamInfo<ErrorLimitCase> &info) {
                             return "case" + std::to_string(info.index);
                         });

TEST_F(CacheTest, ErrorFollowsTheProgressMessageOfItsPattern)
{
    InjectCase(3, 3, 0x01, 5, 0x1, 8);
    do_cache(nullptr);
    std::vector<std::string> types = EventTypes();
    ASSERT_EQ(types.size(), 21u);
    EXPECT_EQ(types[3], "INFO");    /* allocation, patterns 1 to 3 */
    EXPECT_EQ(types[4], "ERROR");
    EXPECT_EQ(types[5], "INFO");    /* pattern 4 */
    EXPECT_EQ(types[20], "PERCENTDONE");
}

/* Changes a word just past the last whole block of the first pattern. */
void CorruptTailHook(unsigned uTest, unsigned uSubTest, unsigned uCheck, unsigned uCase,
                     void *pObserved, unsigned cbObserved)
{
    if (uTest == 3 && uSubTest == 1 && uCase == 82)
        g_pdwOurBuffer[594944 / 4] ^= 0x1;
}

TEST_F(CacheTest, BytesAfterTheLastWholeBlockAreNotRead)
{
    g_pfnTestFault = CorruptTailHook;
    do_cache(nullptr);
    EXPECT_TRUE(EventsOfType("ERROR").empty());
    EXPECT_EQ(g_iTestResult, 0);
}

struct LockFailureCase {
    const char *szName;
    int PlatformStandIns::*piErrno;   /* the call that fails */
    int iErrno;
    int iWarning;
    const char *szTag;
    int iResult;
    std::vector<std::string> calls;
};

void PrintTo(const LockFailureCase &c, std::ostream *pOs)
{
    *pOs << c.szName;
}

const LockFailureCase s_aLockFailures[] = {
    {"getrlimit EPERM", &PlatformStandIns::iGetErrno, EPERM, 101, "szWarnCacheSU", 4,
     {"getrlimit"}},
    {"raising the limit EPERM", &PlatformStandIns::iRaiseErrno, EPERM, 101, "szWarnCacheSU", 4,
     {"getrlimit", "setrlimit inf/inf"}},
    {"mlockall EPERM", &PlatformStandIns::iLockErrno, EPERM, 101, "szWarnCacheSU", 4,
     {"getrlimit", "setrlimit inf/inf", "mlockall current+future"}},
    {"getrlimit EFAULT", &PlatformStandIns::iGetErrno, EFAULT, 102, "szWarnCachePageing", 1,
     {"getrlimit"}},
    {"raising the limit EINVAL", &PlatformStandIns::iRaiseErrno, EINVAL, 102,
     "szWarnCachePageing", 1, {"getrlimit", "setrlimit inf/inf"}},
    {"mlockall ENOMEM", &PlatformStandIns::iLockErrno, ENOMEM, 102, "szWarnCachePageing", 1,
     {"getrlimit", "setrlimit inf/inf", "mlockall current+future"}},
};

class CacheLockFailure : public CacheTest,
                         public ::testing::WithParamInterface<LockFailureCase> {};

TEST_P(CacheLockFailure, WarnsAndTouchesNoBuffer)
{
    const LockFailureCase &c = GetParam();
    s_platform.*c.piErrno = c.iErrno;
    TestThreadArgs args = {};
    args.bPrintMessages = 1;

    EXPECT_EQ(do_cache(&args), &args);

    EXPECT_EQ(s_platform.calls, c.calls);    /* no buffer, nothing undone */
    std::vector<CapturedEvent> events = CapturedEvents();
    ASSERT_EQ(events.size(), 1u);            /* no message, no percent value */
    EXPECT_EQ(events[0].sType, "WARN");
    EXPECT_EQ(events[0].iCode, c.iWarning);
    EXPECT_EQ(TokenId(events[0].sText), c.szTag);
    EXPECT_EQ(g_iTestResult, c.iResult);
    EXPECT_TRUE(SeenBlocks().empty());
    EXPECT_EQ(g_TestCond.iSignaled, 1);      /* the run still signals its end */
}

INSTANTIATE_TEST_SUITE_P(Cases, CacheLockFailure, ::testing::ValuesIn(s_aLockFailures),
                         [](const ::testing::TestParamInfo<LockFailureCase> &info) {
                             return "case" + std::to_string(info.index);
                         });

TEST_F(CacheTest, FailureToRestoreOrUnlockWarnsAfterTheRun)
{
    struct {
        int PlatformStandIns::*piErrno;
        int iErrno, iWarning, iResult;
        std::vector<std::string> calls;
    } aCases[] = {
        {&PlatformStandIns::iRestoreErrno, EPERM, 101, 4,
         {s_aszSoundCalls.begin(), s_aszSoundCalls.end() - 1}},   /* no unlock after it */
        {&PlatformStandIns::iUnlockErrno, ENOMEM, 102, 1, s_aszSoundCalls},
    };
    for (const auto &c : aCases) {
        Restart();
        s_platform.*c.piErrno = c.iErrno;
        do_cache(nullptr);
        EXPECT_EQ(s_platform.calls, c.calls);
        EXPECT_EQ(PatternMessages(), 18u);
        std::vector<std::string> types = EventTypes();
        ASSERT_EQ(types.size(), 21u);
        EXPECT_EQ(types[19], "PERCENTDONE");
        EXPECT_EQ(types[20], "WARN");
        EXPECT_EQ(CapturedEvents()[20].iCode, c.iWarning);
        EXPECT_EQ(g_iTestResult, c.iResult);
    }
}

TEST_F(CacheTest, AllocationFailureWarnsTestsNothingAndStillEnds)
{
    s_platform.bAllocFails = true;
    do_cache(nullptr);

    EXPECT_EQ(s_platform.calls, s_aszSoundCalls);
    EXPECT_EQ(EventTypes(), (std::vector<std::string>{"INFO", "WARN", "PERCENTDONE"}));
    std::vector<CapturedEvent> warnings = EventsOfType("WARN");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].iCode, 104);
    EXPECT_EQ(TokenId(warnings[0].sText), "szWarnMemory");
    EXPECT_EQ(g_iTestResult, 1);
    EXPECT_TRUE(SeenBlocks().empty());
}

TEST_F(CacheTest, StopBeforeTheFirstPatternDiscontinuesWithoutPercent)
{
    g_iStopTesting = 1;
    do_cache(nullptr);

    EXPECT_EQ(g_iTestResult, 8);
    EXPECT_EQ(InfoIds(), std::vector<std::string>{"szProgressCacheAllocMem"});
    EXPECT_TRUE(PercentValues().empty());
    EXPECT_TRUE(EventsOfType("ERROR").empty());
    EXPECT_TRUE(SeenBlocks().empty());
    EXPECT_EQ(s_platform.calls, s_aszSoundCalls);   /* still restored and unlocked */
    EXPECT_EQ(g_pdwOurBuffer, nullptr);
}

TEST_F(CacheTest, StopIsSeenBeforeTheNextPatternOnly)
{
    s_uStopDuringPattern = 3;     /* the request arrives while pattern 3 is checked */
    do_cache(nullptr);

    EXPECT_EQ(g_iTestResult, 8);
    EXPECT_EQ(PatternMessages(), 3u);
    EXPECT_TRUE(PercentValues().empty());
    size_t nPattern3 = 0;
    for (const SeenBlock &b : SeenBlocks()) {
        EXPECT_LE(b.uPattern, 3u);
        nPattern3 += b.uPattern == 3 ? 1 : 0;
    }
    EXPECT_EQ(nPattern3, 18u);    /* pattern 3's pass was finished */
}

TEST_F(CacheTest, EarlierFaultOrStopLeavesNothingToTest)
{
    for (int iEarlier : {2, 8}) {
        Restart();
        g_iTestResult = iEarlier;
        do_cache(nullptr);
        EXPECT_EQ(g_iTestResult, iEarlier);
        EXPECT_EQ(PatternMessages(), 0u);
        EXPECT_TRUE(SeenBlocks().empty());
        EXPECT_EQ(s_platform.calls, s_aszSoundCalls);
        EXPECT_EQ(PercentValues(), iEarlier == 8 ? std::vector<int>{} : std::vector<int>{100});
    }
}

TEST_F(CacheTest, RunRecordSendsMessagesOnlyWhenAskedAndSignalsItsEnd)
{
    for (uint32_t bPrint : {0u, 1u}) {
        Restart();
        TestThreadArgs args = {};
        args.bPrintMessages = bPrint;
        EXPECT_EQ(do_cache(&args), &args);
        EXPECT_EQ(EventsOfType("INFO").size(), bPrint ? 19u : 0u);
        EXPECT_EQ(PercentValues(), std::vector<int>{100});
        EXPECT_EQ(g_iTestResult, 0);
        EXPECT_EQ(g_TestCond.iSignaled, 1);
    }
}

/* The real limit call, except that raising the limit to unlimited answers
 * success without asking the kernel, which refuses it here. */
int RaiseGrantedSetLimit(const struct rlimit *pLimit)
{
    s_platform.calls.push_back("setrlimit " + LimitText(pLimit->rlim_cur) + "/" +
                               LimitText(pLimit->rlim_max));
    if (pLimit->rlim_cur == RLIM_INFINITY && pLimit->rlim_max == RLIM_INFINITY)
        return 0;
    return setrlimit(RLIMIT_MEMLOCK, pLimit);
}

/* kB of locked memory of this process ("VmLck:"), -1 when unreadable. */
long LockedKb()
{
    FILE *pFile = fopen("/proc/self/status", "r");
    if (pFile == nullptr)
        return -1;
    char szLine[256];
    long lKb = -1;
    while (fgets(szLine, sizeof szLine, pFile) != nullptr)
        if (sscanf(szLine, "VmLck: %ld", &lKb) == 1)
            break;
    fclose(pFile);
    return lKb;
}

/* kB of the mapping that holds pAddress which are locked ("Locked:" in
 * /proc/self/smaps), -1 when not found. */
long LockedKbOfMappingAt(const void *pAddress)
{
    FILE *pFile = fopen("/proc/self/smaps", "r");
    if (pFile == nullptr)
        return -1;
    const uintptr_t uAddress = reinterpret_cast<uintptr_t>(pAddress);
    char szLine[512];
    bool bInside = false;
    long lKb = -1;
    while (lKb < 0 && fgets(szLine, sizeof szLine, pFile) != nullptr) {
        unsigned long long uStart = 0, uEnd = 0;
        long lLocked = 0;
        if (sscanf(szLine, "%llx-%llx ", &uStart, &uEnd) == 2)
            bInside = uAddress >= uStart && uAddress < uEnd;
        else if (bInside && sscanf(szLine, "Locked: %ld", &lLocked) == 1)
            lKb = lLocked;
    }
    fclose(pFile);
    return lKb;
}

long s_lBufferLockedKb = -1;

/* Reads how much of the buffer's mapping is locked while pattern 1 runs. */
void LockedMemoryHook(unsigned uTest, unsigned uSubTest, unsigned uCheck, unsigned uCase,
                      void *pObserved, unsigned cbObserved)
{
    if (uTest == 3 && uSubTest == 1 && uCase == 0)
        s_lBufferLockedKb = LockedKbOfMappingAt(g_pdwOurBuffer);
}

/* Why the real lock calls are not made in this build (null: they are). */
#if defined(__SANITIZE_ADDRESS__)
const char *const s_szNoRealLocking = "locking all pages would lock the sanitizer's shadow memory";
#elif defined(__i386__)
const char *const s_szNoRealLocking =
    "a 32-bit test may run under an emulator, whose whole address space locking all pages "
    "would lock";
#else
const char *const s_szNoRealLocking = nullptr;
#endif

TEST_F(CacheTest, RealLockCallsHoldTheBufferLockedForThePass)
{
    if (s_szNoRealLocking != nullptr)
        GTEST_SKIP() << s_szNoRealLocking;
    g_pfnCacheGetLockLimit = m_saved.pfnGet;
    g_pfnCacheSetLockLimit = RaiseGrantedSetLimit;
    g_pfnCacheLockAll = m_saved.pfnLock;
    g_pfnCacheUnlockAll = m_saved.pfnUnlock;
    g_pfnCacheCalloc = m_saved.pfnCalloc;
    g_pfnTestFault = LockedMemoryHook;
    s_lBufferLockedKb = -1;
    struct rlimit before;
    ASSERT_EQ(getrlimit(RLIMIT_MEMLOCK, &before), 0);

    do_cache(nullptr);

    if (g_iTestResult == 1 && !EventsOfType("WARN").empty())
        GTEST_SKIP() << "this process may not lock all its memory (no CAP_IPC_LOCK)";
    EXPECT_EQ(g_iTestResult, 0);
    EXPECT_EQ(PatternMessages(), 18u);
    EXPECT_EQ(PercentValues(), std::vector<int>{100});
    /* allocated after the lock call, and locked all the same */
    EXPECT_GE(s_lBufferLockedKb, (long)(CACHE_BUFFER_BYTES / 1024));
    EXPECT_EQ(LockedKb(), 0);                    /* unlocked afterwards */
    struct rlimit after;
    ASSERT_EQ(getrlimit(RLIMIT_MEMLOCK, &after), 0);
    EXPECT_EQ(after.rlim_cur, before.rlim_cur);  /* the saved limit was put back */
    EXPECT_EQ(after.rlim_max, before.rlim_max);
    EXPECT_EQ(s_platform.calls,
              (std::vector<std::string>{"setrlimit inf/inf", "setrlimit " +
                                        LimitText(before.rlim_cur) + "/" +
                                        LimitText(before.rlim_max)}));
}

}  // namespace
