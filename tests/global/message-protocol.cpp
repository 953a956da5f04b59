/* message-protocol.cpp - tests of the message notation: the worked example byte
 * for byte, header field order and every header code, ids unique across
 * threads, packet line ends, engine commands, the field lookup on good,
 * malformed and random input, the packet parsers and the @hh escaping. */
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "gen-str.h"
#include "message-protocol.h"
#include "trace.h"
#include "zolt-time.h"

namespace {

/* ---- Fixed process id and clock: 812 and 14:07:09 UTC on 5 March 2024 ---- */

long Pid812(void)
{
    return 812;
}

int ClockAt20240305140709(struct timeval *pTv)
{
    struct tm tmAt;
    memset(&tmAt, 0, sizeof tmAt);
    tmAt.tm_year = 2024 - 1900;
    tmAt.tm_mon = 2;
    tmAt.tm_mday = 5;
    tmAt.tm_hour = 14;
    tmAt.tm_min = 7;
    tmAt.tm_sec = 9;
    pTv->tv_sec = timegm(&tmAt);
    pTv->tv_usec = 456000;  /* the header's millisecond field stays 000 */
    return 0;
}

const char kWorkedExample[] =
    "<MSG><HDR><FROM>812</FROM><TO>DIAGENGINE</TO><ID>3</ID><TYPE>DE_COMMAND</TYPE>"
    "<TIME>20240305140709000</TIME></HDR><DATA>LIST_DEVICES</DATA></MSG>\r\n";

/* Sets the fixed pid and clock for one test and restores the real ones. */
class FixedPidAndClock : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pfnPid = g_pfnZoltMsgLocalPid;
        m_pfnClock = g_pfnZoltGetTimeOfDay;
        g_pfnZoltMsgLocalPid = Pid812;
        g_pfnZoltGetTimeOfDay = ClockAt20240305140709;
    }
    void TearDown() override
    {
        g_pfnZoltMsgLocalPid = m_pfnPid;
        g_pfnZoltGetTimeOfDay = m_pfnClock;
    }
    long (*m_pfnPid)(void) = nullptr;
    int (*m_pfnClock)(struct timeval *) = nullptr;
};

/* ---- A fresh process for the first ids ----
 * The message-id counter lives for the process, so "the first header carries
 * ID 1" can only be seen in a process that has built nothing yet. The test
 * re-runs this program with ZOLT_MSG_FRESH_CHILD set; the child does its work
 * before main (so before any test) and writes its results to standard output. */

const char kRecordSep[] = "\n--\n";

int RunFreshChild(void)
{
    g_pfnZoltMsgLocalPid = Pid812;
    g_pfnZoltGetTimeOfDay = ClockAt20240305140709;
    std::string out;
    char szHdr[200];
    /* first message: a header */
    int iRc = ZoltCreateMessageHeader(szHdr, sizeof szHdr, "MESSAGEBROKER", nullptr, "MBCMD", nullptr);
    out += std::to_string(iRc) + " " + szHdr + kRecordSep;
    /* second message: fails at TYPE after its id was taken */
    char szSmall[60];
    iRc = ZoltCreateMessageHeader(szSmall, sizeof szSmall, "MESSAGEBROKER", nullptr,
                                  "A_TYPE_WORD_FAR_TOO_LONG_FOR_THIS_SMALL_BUFFER", nullptr);
    out += std::to_string(iRc) + " " + szSmall + kRecordSep;
    /* third: the worked example */
    CGenStr str;
    CGenStrInit(&str);
    iRc = ZoltClientCreateDiagnosticEngineCommandStr("LIST_DEVICES", nullptr, &str);
    out += std::to_string(iRc) + " " + std::string(CGenStrC_Str(&str), (size_t)CGenStrSize(&str));
    CGenStrDelete(&str);
    fwrite(out.data(), 1, out.size(), stdout);
    fflush(stdout);
    return 0;
}

[[maybe_unused]] const int s_iFreshChild = getenv("ZOLT_MSG_FRESH_CHILD") != nullptr ? (RunFreshChild(), _exit(0), 0) : 0;

/* Runs this program as a fresh child and returns what it printed; *pbRan is
 * false when the program could not be started again (exec failed). */
std::string RunSelfFresh(bool *pbRan)
{
    *pbRan = false;
    int aiPipe[2];
    if (pipe(aiPipe) != 0)
        return "";
    pid_t pid = fork();
    if (pid == 0) {
        dup2(aiPipe[1], 1);
        close(aiPipe[0]);
        close(aiPipe[1]);
        setenv("ZOLT_MSG_FRESH_CHILD", "1", 1);
        execl("/proc/self/exe", "message-protocol-fresh", (char *)nullptr);
        _exit(127);
    }
    close(aiPipe[1]);
    std::string out;
    char acBuf[512];
    ssize_t n;
    while ((n = read(aiPipe[0], acBuf, sizeof acBuf)) > 0)
        out.append(acBuf, (size_t)n);
    close(aiPipe[0]);
    int iStatus = 0;
    waitpid(pid, &iStatus, 0);
    *pbRan = !(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 127 && out.empty());
    if (*pbRan) {
        EXPECT_TRUE(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0) << iStatus;
    }
    return out;
}

std::vector<std::string> Split(const std::string &s, const std::string &sep)
{
    std::vector<std::string> parts;
    size_t uPos = 0, uAt;
    while ((uAt = s.find(sep, uPos)) != std::string::npos) {
        parts.push_back(s.substr(uPos, uAt - uPos));
        uPos = uAt + sep.size();
    }
    parts.push_back(s.substr(uPos));
    return parts;
}

TEST(MessageId, FreshProcessCountsFromOneAndBuildsTheWorkedExample)
{
    bool bRan = false;
    std::string out = RunSelfFresh(&bRan);
    if (!bRan)
        GTEST_SKIP() << "this program cannot be started again from /proc/self/exe here (user-mode emulation?)";
    std::vector<std::string> parts = Split(out, kRecordSep);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0], "0 <HDR><FROM>812</FROM><TO>MESSAGEBROKER</TO><ID>1</ID><TYPE>MBCMD</TYPE>"
                        "<TIME>20240305140709000</TIME></HDR>");
    /* the failed header used id 2 (it stops at TYPE, code 7) */
    EXPECT_EQ(parts[1], "7 <HDR><FROM>812</FROM><TO>MESSAGEBROKER</TO><ID>2</ID>");
    ASSERT_EQ(parts[2].substr(0, 2), "0 ");
    std::string example = parts[2].substr(2);
    EXPECT_EQ(example.size(), 147u);
    EXPECT_EQ(example, kWorkedExample);
}

TEST(MessageId, UniqueAcrossThreads)
{
    const int kThreads = 4, kEach = 20000;
    std::vector<std::vector<uint32_t>> ids(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&ids, t] {
            for (int i = 0; i < kEach; i++)
                ids[t].push_back(ZoltGetLocallyUniqueMessageId());
        });
    for (auto &th : threads)
        th.join();
    std::vector<uint32_t> all;
    for (auto &v : ids) {
        EXPECT_TRUE(std::is_sorted(v.begin(), v.end()));  /* each thread sees them rise */
        all.insert(all.end(), v.begin(), v.end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(all.back() - all.front() + 1, all.size());  /* no id skipped either */
}

/* ---- Headers ---- */

/* Next id that a header will take, chosen so that it has as many digits as
 * the one after it (the boundary sizes below depend on the header length). */
uint32_t NextStableId(void)
{
    uint32_t u = ZoltGetLocallyUniqueMessageId();
    if (std::to_string(u + 1).size() != std::to_string(u + 2).size())
        u = ZoltGetLocallyUniqueMessageId();
    return u + 1;
}

TEST_F(FixedPidAndClock, HeaderFieldsStandInFixedOrder)
{
    struct {
        const char *szRe, *szLang, *szFormat;
    } aCase[] = {
        {nullptr, nullptr, "<HDR><FROM>812</FROM><TO>NLSENGINE</TO><ID>%u</ID><TYPE>T1</TYPE>"
                           "<TIME>20240305140709000</TIME></HDR>"},
        {"41", nullptr, "<HDR><FROM>812</FROM><TO>NLSENGINE</TO><ID>%u</ID><RE>41</RE><TYPE>T1</TYPE>"
                        "<TIME>20240305140709000</TIME></HDR>"},
        {nullptr, "EN", "<HDR><FROM>812</FROM><TO>NLSENGINE</TO><ID>%u</ID><TYPE>T1</TYPE>"
                        "<TIME>20240305140709000</TIME><LANG>EN</LANG></HDR>"},
        {"41", "EN", "<HDR><FROM>812</FROM><TO>NLSENGINE</TO><ID>%u</ID><RE>41</RE><TYPE>T1</TYPE>"
                     "<TIME>20240305140709000</TIME><LANG>EN</LANG></HDR>"},
    };
    for (auto &c : aCase) {
        uint32_t uId = NextStableId();
        char szHdr[300], szExpect[300];
        ASSERT_EQ(ZoltCreateMessageHeader(szHdr, sizeof szHdr, "NLSENGINE", c.szRe, "T1", c.szLang), 0);
        snprintf(szExpect, sizeof szExpect, c.szFormat, uId);
        EXPECT_STREQ(szHdr, szExpect);
    }
}

TEST_F(FixedPidAndClock, HeaderCodesAtEveryFieldBoundary)
{
    char szHdr[300];
    EXPECT_EQ(ZoltCreateMessageHeader(nullptr, 300, "TO", nullptr, "T", nullptr), 1);
    EXPECT_EQ(ZoltCreateMessageHeader(szHdr, 300, nullptr, nullptr, "T", nullptr), 1);
    EXPECT_EQ(ZoltCreateMessageHeader(szHdr, 300, "TO", nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(ZoltCreateMessageHeader(szHdr, 5, "TO", nullptr, "T", nullptr), 2);

    /* For each field: a buffer one byte short of it fails with its code and
     * holds the fields before it; one byte more passes it. */
    struct {
        const char *szOpen, *szClose;  /* the field's tags */
        int iCode;
        bool bIdTaken;                 /* the id was taken before this field */
    } aCase[] = {
        {"<FROM>", "</FROM>", 3, false}, {"<TO>", "</TO>", 4, false},    {"<ID>", "</ID>", 5, true},
        {"<RE>", "</RE>", 6, true},      {"<TYPE>", "</TYPE>", 7, true}, {"<TIME>", "</TIME>", 8, true},
        {"<LANG>", "</LANG>", 10, true}, {"</HDR>", "</HDR>", 9, true},
    };
    const std::string full = std::string("<HDR><FROM>812</FROM><TO>DIAGENGINE</TO><ID>@</ID><RE>17</RE>") +
                             "<TYPE>DE_EVENT</TYPE><TIME>20240305140709000</TIME><LANG>EN</LANG></HDR>";
    for (auto &c : aCase) {
        SCOPED_TRACE(c.szClose);
        for (int iExtra = 0; iExtra < 2; iExtra++) {
            uint32_t uId = NextStableId();
            std::string expect = full;
            expect.replace(expect.find('@'), 1, std::to_string(uId));
            size_t uFieldStart = expect.find(c.szOpen);
            size_t uEnd = expect.find(c.szClose) + strlen(c.szClose);
            int iRc = ZoltCreateMessageHeader(szHdr, (int)uEnd + iExtra, "DIAGENGINE", "17", "DE_EVENT", "EN");
            uint32_t uAfter = ZoltGetLocallyUniqueMessageId();
            if (iExtra == 0) {
                EXPECT_EQ(iRc, c.iCode);
                EXPECT_EQ(std::string(szHdr), expect.substr(0, uFieldStart));
                EXPECT_EQ(uAfter, c.bIdTaken ? uId + 1 : uId);
            } else {
                EXPECT_NE(iRc, c.iCode);
                EXPECT_EQ(std::string(szHdr).substr(0, uEnd), expect.substr(0, uEnd));
                EXPECT_EQ(uAfter, iRc == 0 || iRc >= 5 ? uId + 1 : uId);  /* taken from ID on */
            }
        }
    }
}

TEST(MessageBuild, AddFieldNeedsExactlyItsBytes)
{
    char szBuf[64] = "<A>";
    int iNeed = 3 + 2 * 3 + 5 + 6;  /* "<A>" + tag "TAG" twice + "value" + markup and NUL */
    EXPECT_EQ(ZoltXmlAddField(szBuf, iNeed - 1, "TAG", "value"), 1);
    EXPECT_STREQ(szBuf, "<A>");
    EXPECT_EQ(ZoltXmlAddField(szBuf, iNeed, "TAG", "value"), 0);
    EXPECT_STREQ(szBuf, "<A><TAG>value</TAG>");
    EXPECT_EQ((int)strlen(szBuf) + 1, iNeed);
}

TEST(MessageBuild, TopLevelPacketsEndInCrLf)
{
    struct {
        const char *szTag, *szExpect;
    } aCase[] = {
        {"MSG", "<MSG>ab</MSG>\r\n"},   {"STOP", "<STOP>ab</STOP>\r\n"},
        {"ACK", "<ACK>ab</ACK>\r\n"},   {"STARTUP", "<STARTUP>ab</STARTUP>\r\n"},
        {"<MSG", "<MSG>ab</MSG>"},      {"DATA", "<DATA>ab</DATA>"},
        {"MSGS", "<MSGS>ab</MSGS>"},    {"msg", "<msg>ab</msg>"},
    };
    for (auto &c : aCase) {
        char szBuf[64];
        EXPECT_EQ(ZoltCreateMessage(szBuf, sizeof szBuf, c.szTag, "a", "", "b", nullptr), 0);
        EXPECT_STREQ(szBuf, c.szExpect);
        CGenStr str;
        CGenStrInitFromCStr(&str, "old text replaced");
        EXPECT_EQ(ZoltCreateMessageStr(&str, c.szTag, "a", "b", nullptr), 0);
        EXPECT_STREQ(CGenStrC_Str(&str), c.szExpect);
        CGenStrDelete(&str);
    }
    char szStop[100];
    EXPECT_EQ(ZoltCreateMessage(szStop, sizeof szStop, "STOP", "<PID>812</PID>", nullptr), 0);
    EXPECT_STREQ(szStop, "<STOP><PID>812</PID></STOP>\r\n");
}

TEST(MessageBuild, BufferFormHoldsSizeMinusTwoCharacters)
{
    /* "<DATA>xx</DATA>" is 15 characters: it fits 17 bytes, not 16 */
    char szBuf[32];
    EXPECT_EQ(ZoltCreateMessage(szBuf, 17, "DATA", "xx", nullptr), 0);
    EXPECT_STREQ(szBuf, "<DATA>xx</DATA>");
    EXPECT_EQ(ZoltCreateMessage(szBuf, 16, "DATA", "xx", nullptr), 2);
    /* with CR LF: "<ACK></ACK>\r\n" is 13 characters */
    EXPECT_EQ(ZoltCreateMessage(szBuf, 15, "ACK", nullptr), 0);
    EXPECT_EQ(ZoltCreateMessage(szBuf, 14, "ACK", nullptr), 2);
}

TEST_F(FixedPidAndClock, EngineCommandsCarryTheirPeerTypeAndLanguage)
{
    struct {
        int iForm;  /* 0 broker, 1 engine, 2 language engine */
        const char *szLang, *szTo, *szType;
    } aCase[] = {
        {0, nullptr, "MESSAGEBROKER", "MBCMD"},
        {1, nullptr, "DIAGENGINE", "DE_COMMAND"},
        {1, "DE", "DIAGENGINE", "DE_COMMAND"},
        {2, nullptr, "NLSENGINE", "NLS_COMMAND"},
    };
    for (auto &c : aCase) {
        CGenStr str;
        CGenStrInit(&str);
        char szBuf[512];
        int iRc = 0, iRcBuf = 0;
        uint32_t uId = NextStableId();
        if (c.iForm == 0) {
            iRc = ZoltClientCreateMessageBrokerCommandStr("cmd:1", &str);
            iRcBuf = ZoltClientCreateMessageBrokerCommand("cmd:1", szBuf, sizeof szBuf);
        } else if (c.iForm == 1) {
            iRc = ZoltClientCreateDiagnosticEngineCommandStr("cmd:1", c.szLang, &str);
            iRcBuf = ZoltClientCreateDiagnosticEngineCommand("cmd:1", c.szLang, szBuf, sizeof szBuf);
        } else {
            iRc = ZoltClientCreateNlsEngineCommandStr("cmd:1", &str);
            iRcBuf = ZoltClientCreateNlsEngineCommand("cmd:1", szBuf, sizeof szBuf);
        }
        ASSERT_EQ(iRc, 0);
        ASSERT_EQ(iRcBuf, 0);
        std::string expect = std::string("<MSG><HDR><FROM>812</FROM><TO>") + c.szTo + "</TO><ID>" +
                             std::to_string(uId) + "</ID><TYPE>" + c.szType +
                             "</TYPE><TIME>20240305140709000</TIME>" +
                             (c.szLang ? std::string("<LANG>") + c.szLang + "</LANG>" : "") +
                             "</HDR><DATA>cmd:1</DATA></MSG>\r\n";
        EXPECT_EQ(CGenStrC_Str(&str), expect);
        /* the buffer form took the next id and never writes a language */
        std::string expectBuf = expect;
        size_t uAt = expectBuf.find("<ID>") + 4;
        expectBuf.replace(uAt, expectBuf.find("</ID>") - uAt, std::to_string(uId + 1));
        size_t uLang = expectBuf.find("<LANG>");
        if (uLang != std::string::npos)
            expectBuf.erase(uLang, expectBuf.find("</LANG>") + 7 - uLang);
        EXPECT_EQ(szBuf, expectBuf);
        CGenStrDelete(&str);
    }
}

TEST_F(FixedPidAndClock, EngineCommandBufferMustHoldResultAndTerminator)
{
    CGenStr str;
    CGenStrInit(&str);
    NextStableId();
    ASSERT_EQ(ZoltClientCreateNlsEngineCommandStr("NLS_GETSTRING:EN:x", &str), 0);
    int iLen = CGenStrSize(&str);
    CGenStrDelete(&str);
    char szBuf[512];
    NextStableId();
    memset(szBuf, 'x', sizeof szBuf);
    EXPECT_EQ(ZoltClientCreateNlsEngineCommand("NLS_GETSTRING:EN:x", szBuf, iLen), 2);
    EXPECT_STREQ(szBuf, "");
    NextStableId();
    EXPECT_EQ(ZoltClientCreateNlsEngineCommand("NLS_GETSTRING:EN:x", szBuf, iLen + 1), 0);
    EXPECT_EQ((int)strlen(szBuf), iLen);
    /* a header that cannot be built: code 1 */
    CGenStrInit(&str);
    std::string longType(300, 'T');
    EXPECT_EQ(ZoltClientCreateEngineCommand("DIAGENGINE", nullptr, longType.c_str(), "d", &str), 1);
    CGenStrDelete(&str);
}

/* ---- Field lookup ---- */

struct LookupCase {
    const char *szText, *szPath;
    int iOccurrence, iRc;
    const char *szValue;
};

TEST(FieldLookup, FindsElementsByPathAndOccurrence)
{
    const std::string deep = [] {
        std::string s;
        for (int i = 0; i < 15; i++) s += "<L>";
        s += "deep";
        for (int i = 0; i < 15; i++) s += "</L>";
        return s;
    }();
    const std::string long45(45, 'N');
    const std::string withLongTag = "<MSG><" + long45 + ">v45</" + long45 + "></MSG>";
    const std::string path39 = "MSG/" + long45.substr(0, 39);
    const std::string path40 = "MSG/" + long45.substr(0, 40);
    const std::string path16 = "L/L/L/L/L/L/L/L/L/L/L/L/L/L/L/IGNORED";
    LookupCase aCase[] = {
        {kWorkedExample, "MSG/HDR/TYPE", 0, 0, "DE_COMMAND"},
        {kWorkedExample, "MSG/HDR/ID", 0, 0, "3"},
        {kWorkedExample, "MSG/DATA", 0, 0, "LIST_DEVICES"},
        {kWorkedExample, "MSG/HDR/RE", 0, 2, ""},
        {kWorkedExample, "MSG/HDR/TYPE", 1, 2, ""},
        {kWorkedExample, "HDR/TYPE", 0, 2, ""},  /* paths start at the top */
        {"<MSG><HDR><RE></RE></HDR></MSG>", "MSG/HDR/RE", 0, 0, ""},
        {"<MSG><HDR><RE/></HDR></MSG>", "MSG/HDR/RE", 0, 2, ""},
        {"<MSG><DATA><COMPONENT>a</COMPONENT><X>-</X><COMPONENT>b</COMPONENT></DATA></MSG>",
         "MSG/DATA/COMPONENT", 0, 0, "a"},
        {"<MSG><DATA><COMPONENT>a</COMPONENT><X>-</X><COMPONENT>b</COMPONENT></DATA></MSG>",
         "MSG/DATA/COMPONENT", 1, 0, "b"},
        {"<MSG><DATA><COMPONENT>a</COMPONENT><X>-</X><COMPONENT>b</COMPONENT></DATA></MSG>",
         "MSG/DATA/COMPONENT", 2, 2, ""},
        {"<MSG><DATA x=\"1\">v</DATA></MSG>", "MSG/DATA", 0, 0, "v"},
        {"<MSG><DATA><A>1</A></DATA></MSG>", "MSG/DATA", 0, 0, "<A>1</A>"},
        {"<MSG>\r\n<DATA> a b \r\n</DATA></MSG>", "MSG/DATA", 0, 0, " a b \r\n"},
        {"<MSG><DATA>50@25 @3Cdone@3E</DATA></MSG>", "MSG/DATA", 0, 0, "50@25 @3Cdone@3E"},
        {"</Z><MSG><DATA>v</DATA></MSG>", "MSG/DATA", 0, 0, "v"},           /* stray close at depth 0 */
        {"<MSG><X/><DATA>v</DATA></MSG>", "MSG/DATA", 0, 0, "v"},           /* empty element passed */
        {"<?xml version=1?><MSG><DATA>v</DATA></MSG>", "MSG/DATA", 0, 0, "v"},
        {"<!-- c --><MSG><DATA>v</DATA></MSG>", "MSG/DATA", 0, 0, "v"},
        {"<!x><MSG><DATA>v</DATA></MSG>", "MSG/DATA", 0, 0, "v"},
        {"<A><B>1</B></A><A><B>2</B></A>", "A/B", 1, 0, "2"},
        {deep.c_str(), "L/L/L/L/L/L/L/L/L/L/L/L/L/L/L", 0, 0, "deep"},
        {deep.c_str(), path16.c_str(), 0, 0, "deep"},                          /* 16th component ignored */
        {withLongTag.c_str(), path39.c_str(), 0, 0, "v45"},                    /* tag cut to 39 */
        {withLongTag.c_str(), path40.c_str(), 0, 2, ""},                       /* component too long */
    };
    for (auto &c : aCase) {
        SCOPED_TRACE(std::string(c.szPath) + " in " + c.szText);
        CGenStr str;
        CGenStrInit(&str);
        EXPECT_EQ(ZoltXmlGetFieldStr(c.szText, c.szPath, c.iOccurrence, &str), c.iRc);
        EXPECT_STREQ(CGenStrC_Str(&str), c.szValue);
        CGenStrDelete(&str);
    }
}

TEST(FieldLookup, MalformedAndTruncatedInputIsNotFound)
{
    std::string tooDeep;
    for (int i = 0; i < 16; i++) tooDeep += "<L>";
    tooDeep += "x";
    for (int i = 0; i < 16; i++) tooDeep += "</L>";
    LookupCase aCase[] = {
        {"", "MSG", 0, 2, ""},
        {"<MSG><DATA>abc", "MSG/DATA", 0, 2, ""},
        {"<MSG><DATA>abc</DA", "MSG/DATA", 0, 2, ""},
        {"<MSG><DATA", "MSG/DATA", 0, 2, ""},
        {"<MSG><DATA>abc<", "MSG/DATA", 0, 2, ""},
        {"<<<<<<<<<<<<<<<", "MSG", 0, 2, ""},
        {">>>></></></>", "MSG", 0, 2, ""},
        {"<MSG><DATA>a</DATA/></MSG>", "MSG/DATA", 0, 2, ""},
        {"<MSG><DATA>v</DATA></MSG>", "MSG/DATA", -1, 2, ""},
        {tooDeep.c_str(), "L", 0, 2, ""},  /* nesting beyond 15 is refused */
    };
    for (auto &c : aCase) {
        SCOPED_TRACE(c.szText);
        CGenStr str;
        CGenStrInit(&str);
        EXPECT_EQ(ZoltXmlGetFieldStr(c.szText, c.szPath, c.iOccurrence, &str), c.iRc);
        EXPECT_STREQ(CGenStrC_Str(&str), c.szValue);
        CGenStrDelete(&str);
    }
    CGenStr str;
    CGenStrInit(&str);
    EXPECT_EQ(ZoltXmlGetFieldStr(nullptr, "MSG", 0, &str), 2);
    EXPECT_EQ(ZoltXmlGetFieldStr("<MSG>v</MSG>", nullptr, 0, &str), 2);
    EXPECT_EQ(ZoltXmlGetFieldStr("<MSG>v</MSG>", "MSG", 0, nullptr), 2);
    CGenStrDelete(&str);
}

TEST(FieldLookup, UnmatchedClosingTagIsTracedOnceAndSkipped)
{
    char szTrace[] = "/tmp/zolt-msgproto-traceXXXXXX";
    int fd = mkstemp(szTrace);
    ASSERT_GE(fd, 0);
    close(fd);
    /* the lookup traces with the program's own type, found from its name */
    InitProcName();
    int iOwnType = ProcNameToTracingType(g_szTraceProcName);
    ZoltTraceSetFile(szTrace);
    ZoltTraceSetType(iOwnType, 1);
    CGenStr str;
    CGenStrInit(&str);
    int iRc = ZoltXmlGetFieldStr("<MSG><DATA>a</X>b</DATA></MSG>", "MSG/DATA", 0, &str);
    ZoltTraceSetType(iOwnType, 0);
    ZoltTraceSetFile(nullptr);
    EXPECT_EQ(iRc, 0);
    EXPECT_STREQ(CGenStrC_Str(&str), "a</X>b");
    CGenStrDelete(&str);

    FILE *pf = fopen(szTrace, "r");
    ASSERT_NE(pf, nullptr);
    std::string all;
    char acLine[512];
    while (fgets(acLine, sizeof acLine, pf) != nullptr)
        all += acLine;
    fclose(pf);
    unlink(szTrace);
    const std::string line = "ZoltXmlGetField(), unmatched tag, DATA\n";
    size_t uAt = all.find(line);
    ASSERT_NE(uAt, std::string::npos) << all;
    EXPECT_EQ(all.find("unmatched tag", uAt + line.size()), std::string::npos) << all;
}

TEST(FieldLookup, TagPositionsFrameTheElement)
{
    const char *szText = "<MSG><DATA a=1>x<B/>y</DATA><DATA>z</DATA></MSG>";
    const char *pStart = nullptr, *pEnd = nullptr;
    CGenStr str;
    CGenStrInit(&str);
    ASSERT_EQ(ZoltXmlGetFieldStrAndTagStartEnd(szText, &pStart, &pEnd, "MSG/DATA", 0, &str), 0);
    EXPECT_EQ(std::string(pStart, pEnd), "<DATA a=1>x<B/>y</DATA>");
    EXPECT_STREQ(CGenStrC_Str(&str), "x<B/>y");
    ASSERT_EQ(ZoltXmlGetFieldStrAndTagStartEnd(szText, &pStart, &pEnd, "MSG/DATA", 1, &str), 0);
    EXPECT_EQ(std::string(pStart, pEnd), "<DATA>z</DATA>");
    EXPECT_EQ(ZoltXmlGetFieldStrAndTagStartEnd(szText, &pStart, &pEnd, "MSG/DATA", 2, &str), 2);
    EXPECT_EQ(pStart, nullptr);
    EXPECT_EQ(pEnd, nullptr);
    CGenStrDelete(&str);
}

TEST(FieldLookup, BufferFormHoldsSizeMinusTwoCharacters)
{
    std::string v78(78, 'v'), v79(79, 'v');
    std::string text78 = "<MSG><DATA>" + v78 + "</DATA></MSG>";
    std::string text79 = "<MSG><DATA>" + v79 + "</DATA></MSG>";
    char szBuf[80];
    EXPECT_EQ(ZoltXmlGetField(text78.c_str(), "MSG/DATA", 0, szBuf, sizeof szBuf), 0);
    EXPECT_EQ(szBuf, v78);
    EXPECT_EQ(ZoltXmlGetField(text79.c_str(), "MSG/DATA", 0, szBuf, sizeof szBuf), 2);
    EXPECT_STREQ(szBuf, "");
}

/* Random texts built from markup characters: the lookup never reads outside
 * the text and a value it finds lies between the reported tag positions. */
TEST(FieldLookup, RandomMarkupNeverBreaksTheInvariants)
{
    unsigned uSeed = (unsigned)time(nullptr);
    std::mt19937 rng(uSeed);
    SCOPED_TRACE("seed " + std::to_string(uSeed));
    static const char kAlphabet[] = "<<<>>>//!?ABMSGDATA x=\"\r\n@";
    const char *aszPath[] = {"A", "A/B", "MSG/DATA", "B/A/B", "MSG"};
    for (int iRound = 0; iRound < 3000; iRound++) {
        size_t uLen = rng() % 300;
        std::string text;
        for (size_t i = 0; i < uLen; i++)
            text += kAlphabet[rng() % (sizeof kAlphabet - 1)];
        /* heap copy of exact size, so that an overrun is seen by the sanitizers */
        char *szText = strdup(text.c_str());
        const char *szPath = aszPath[rng() % 5];
        int iOcc = (int)(rng() % 3);
        const char *pStart = nullptr, *pEnd = nullptr;
        CGenStr str;
        CGenStrInit(&str);
        int iRc = ZoltXmlGetFieldStrAndTagStartEnd(szText, &pStart, &pEnd, szPath, iOcc, &str);
        ASSERT_TRUE(iRc == 0 || iRc == 2) << text;
        if (iRc == 0) {
            ASSERT_TRUE(pStart >= szText && pEnd > pStart && pEnd <= szText + uLen) << text;
            std::string element(pStart, pEnd);
            EXPECT_NE(element.find(CGenStrC_Str(&str)), std::string::npos) << text;
            EXPECT_EQ(element.back(), '>') << text;
        } else {
            EXPECT_TRUE(CGenStrIsEmpty(&str)) << text;
        }
        CGenStrDelete(&str);
        free(szText);
    }
}

TEST(FieldLookup, HeaderGettersConvertOrLeaveTheOutputAlone)
{
    const char *szMsg = "<MSG><HDR><FROM>4711</FROM><ID>12</ID><RE>-5</RE><TYPE>DE_EVENT</TYPE></HDR></MSG>";
    long l = 99;
    EXPECT_EQ(ZoltMessageGetSender(szMsg, &l), 0);
    EXPECT_EQ(l, 4711);
    EXPECT_EQ(ZoltMessageGetMessageId(szMsg, &l), 0);
    EXPECT_EQ(l, 12);
    EXPECT_EQ(ZoltMessageGetMessageRe(szMsg, &l), 0);
    EXPECT_EQ(l, -5);
    l = 99;
    EXPECT_EQ(ZoltMessageGetMessageRe(kWorkedExample, &l), 2);
    EXPECT_EQ(l, 99);
    char *szType = nullptr;
    EXPECT_EQ(ZoltMessageGetMessageType(szMsg, &szType), 0);
    ASSERT_NE(szType, nullptr);
    EXPECT_STREQ(szType, "DE_EVENT");
    free(szType);
    szType = nullptr;
    EXPECT_EQ(ZoltMessageGetMessageType("<MSG><HDR></HDR></MSG>", &szType), 2);
    EXPECT_EQ(szType, nullptr);

    char szPid[16];
    EXPECT_STREQ(ZoltGetProcessIdString(812, szPid, sizeof szPid), "812");
    EXPECT_STREQ(ZoltGetProcessIdString(812, szPid, 9), "");
    EXPECT_EQ(ZoltGetProcessIdFromString("812"), 812);
    EXPECT_EQ(ZoltGetProcessIdFromString(nullptr), -1);
}

/* ---- Packet parsers ---- */

TEST(PacketParse, HeaderAndDataWithKeywords)
{
    const char *szMsg = "<MSG><HDR><FROM>300</FROM><ID>7</ID></HDR><DATA>LIST_DEVICES:cpu</DATA></MSG>\r\n";
    const char *apszKeys[] = {"STOP", "LIST_DEVICES", "LIST", nullptr};
    long lSender = 0, lId = 0;
    char szData[64];
    EXPECT_EQ(ZoltParsePacketHeaderAndData(szMsg, &lSender, &lId, apszKeys, szData, sizeof szData), 2);
    EXPECT_EQ(lSender, 300);
    EXPECT_EQ(lId, 7);
    EXPECT_STREQ(szData, "LIST_DEVICES:cpu");
    const char *apszNone[] = {"STOP", nullptr};
    EXPECT_EQ(ZoltParsePacketHeaderAndData(szMsg, &lSender, &lId, apszNone, szData, sizeof szData), 0);
    EXPECT_EQ(ZoltParsePacketHeaderAndData(szMsg, &lSender, &lId, nullptr, nullptr, 0), 0);

    /* the data copy is cut at the buffer size and then not terminated */
    char szSmall[6];
    memset(szSmall, '#', sizeof szSmall);
    EXPECT_EQ(ZoltParsePacketHeaderAndData(szMsg, &lSender, &lId, nullptr, szSmall, 4), 0);
    EXPECT_EQ(std::string(szSmall, 6), "LIST##");

    /* any of DATA, FROM, ID missing: -1 */
    const char *aszBad[] = {
        "<MSG><HDR><FROM>300</FROM><ID>7</ID></HDR></MSG>",
        "<MSG><HDR><ID>7</ID></HDR><DATA>x</DATA></MSG>",
        "<MSG><HDR><FROM>300</FROM></HDR><DATA>x</DATA></MSG>",
    };
    for (const char *szBad : aszBad)
        EXPECT_EQ(ZoltParsePacketHeaderAndData(szBad, &lSender, &lId, apszKeys, szData, sizeof szData), -1) << szBad;
}

TEST(PacketParse, TypeMatchesListEntryOrTellsMissingApart)
{
    const char *apszTypes[] = {"DE_NOTIFY", "DE_EVENT", nullptr};
    EXPECT_EQ(ZoltParsePacketType("<MSG><HDR><TYPE>DE_EVENT</TYPE></HDR></MSG>", apszTypes), 2);
    EXPECT_EQ(ZoltParsePacketType("<MSG><HDR><TYPE>DE_EVENTS</TYPE></HDR></MSG>", apszTypes), 0);
    EXPECT_EQ(ZoltParsePacketType("<MSG><HDR></HDR></MSG>", apszTypes), -1);
    EXPECT_EQ(ZoltParsePacketType("<MSG><HDR><TYPE>DE_EVENT</TYPE></HDR></MSG>", nullptr), 0);
}

/* ---- Escaping ---- */

TEST(Escaping, UnsafeCharactersBecomeAtHexAndBack)
{
    struct {
        const char *szText, *szEscaped;
    } aCase[] = {
        {"50% <done>", "50@25 @3Cdone@3E"},
        {"@", "@40"},
        {"a\nb", "a@0Ab"},
        {"caf\xE9", "caf@E9"},
        {"x&y;\"q\"", "x@26y@3B@22q@22"},
        {"tab\there", "tab@09here"},
    };
    for (auto &c : aCase) {
        char *szOut = ZoltXmlAllocStringAndConvertToXml(c.szText);
        ASSERT_NE(szOut, c.szText);
        EXPECT_STREQ(szOut, c.szEscaped);
        ZoltXmlConvertFromXmlToText(szOut);
        EXPECT_STREQ(szOut, c.szText);
        free(szOut);
    }
    /* every byte value survives the round trip */
    std::string all;
    for (int c = 1; c < 256; c++)
        all += (char)c;
    char *szOut = ZoltXmlAllocStringAndConvertToXml(all.c_str());
    ASSERT_NE(szOut, all.c_str());
    for (const char *p = szOut; *p; p++)
        EXPECT_TRUE(isalnum((unsigned char)*p) || strchr(" $-_.+!*'(),{}|\\^~[]`@", *p)) << (int)*p;
    ZoltXmlConvertFromXmlToText(szOut);
    EXPECT_EQ(all, szOut);
    free(szOut);
}

TEST(Escaping, SafeTextComesBackAsTheSamePointer)
{
    const char *szSafe = "Abc xyz 0123456789 $-_.+!*'(),{}|\\^~[]`";
    EXPECT_EQ(ZoltXmlAllocStringAndConvertToXml(szSafe), szSafe);
    const char *szEmpty = "";
    EXPECT_EQ(ZoltXmlAllocStringAndConvertToXml(szEmpty), szEmpty);
}

TEST(Escaping, BadEscapesDecodeToABlankWithoutPassingTheEnd)
{
    struct {
        const char *szIn, *szOut;
    } aCase[] = {
        {"ab@4", "ab "}, {"ab@", "ab "},   {"@zz!", " !"},      {"@3c@3E", "<>"},
        {"@4G", " "},    {"x@@41", "x 1"}, {"no escapes", "no escapes"},
    };
    for (auto &c : aCase) {
        /* exact-size heap copy: reading past the terminator would be caught */
        char *sz = strdup(c.szIn);
        EXPECT_EQ(ZoltXmlConvertFromXmlToText(sz), 0);
        EXPECT_STREQ(sz, c.szOut) << c.szIn;
        free(sz);
    }
    EXPECT_EQ(FromHexCharXml("A41"), ' ');
    EXPECT_EQ(ToHexChar(0x3C), 'C');
}

TEST(Escaping, BadXmlIdentifier)
{
    struct {
        const char *szText;
        int iRc;
    } aCase[] = {
        {nullptr, 1}, {"", 0},      {"abc_DEF-09$.+!*'(),{}|\\^~[]`", 0},
        {"a b", 2},   {"a<b", 2},   {"a@b", 2}, {"caf\xE9", 2}, {"x/y", 2},
    };
    for (auto &c : aCase)
        EXPECT_EQ(IsBadXmlIdentifier(c.szText), c.iRc) << (c.szText ? c.szText : "(null)");
}

}  // namespace
