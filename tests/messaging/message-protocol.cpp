/* message-protocol.cpp - tests of the message notation: the worked example byte
 * for byte, header codes, ids, engine commands, the field lookup on good and
 * malformed input and the @hh escaping. */
#include <gtest/gtest.h>

#include <ctype.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "gen-str.h"
#include "message-protocol.h"
#include "zolt-time.h"

namespace {

const char kWorkedExample[] =
    "<MSG><HDR><FROM>812</FROM><TO>DIAGENGINE</TO><ID>3</ID><TYPE>DE_COMMAND</TYPE>"
    "<TIME>20240305140709000</TIME></HDR><DATA>LIST_DEVICES</DATA></MSG>\r\n";

/* Fixed process id 812 and clock 2024-03-05 14:07:09.456 UTC (the header's
 * millisecond field stays 000). */
void UseFixedPidAndClock(void)
{
    g_pfnZoltMsgLocalPid = [] { return 812L; };
    g_pfnZoltGetTimeOfDay = [](struct timeval *pTv) {
        return pTv->tv_sec = 1709647629, pTv->tv_usec = 456000, 0;
    };
}

/* Ids count from 1, which shows only in a process that has taken none yet
 * (the death test's process, this program started afresh): it takes ids 1
 * and 2, builds the command with id 3 and one in German with id 4, writes
 * them to its error output and ends with 0 when both are exact. */
void BuildCommandsAndExit(const std::string &sExpect)
{
    UseFixedPidAndClock();
    ZoltGetLocallyUniqueMessageId();
    ZoltGetLocallyUniqueMessageId();
    CGenStr s1, s2;
    int iRc = !CGenStrInit(&s1) || !CGenStrInit(&s2) ||
              ZoltClientCreateDiagnosticEngineCommandStr("LIST_DEVICES", nullptr, &s1) ||
              ZoltClientCreateDiagnosticEngineCommandStr("cmd:1", "DE", &s2);
    std::string sGot = std::string(CGenStrC_Str(&s1)) + CGenStrC_Str(&s2);
    fputs(sGot.c_str(), stderr);
    _exit(iRc == 0 && sGot == sExpect ? 0 : 1);
}

TEST(MessageId, FreshProcessCountsFromOneAndBuildsEngineCommands)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(BuildCommandsAndExit(std::string(kWorkedExample) +
                                     "<MSG><HDR><FROM>812</FROM><TO>DIAGENGINE</TO><ID>4</ID><TYPE>"
                                     "DE_COMMAND</TYPE><TIME>20240305140709000</TIME><LANG>DE</"
                                     "LANG></HDR><DATA>cmd:1</DATA></MSG>\r\n"),
                testing::ExitedWithCode(0), "");
}

TEST(MessageId, UniqueAcrossThreads)
{
    const int kThreads = 4, kEach = 20000;
    std::vector<std::vector<uint32_t>> ids(kThreads, std::vector<uint32_t>(kEach));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&ids, t] {
            std::generate(ids[t].begin(), ids[t].end(), ZoltGetLocallyUniqueMessageId);
        });
    std::vector<uint32_t> all;
    for (int t = 0; t < kThreads; t++) {
        threads[t].join();
        EXPECT_TRUE(std::is_sorted(ids[t].begin(), ids[t].end()));
        all.insert(all.end(), ids[t].begin(), ids[t].end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end());
    EXPECT_EQ(all.back() - all.front() + 1, all.size()); /* no id skipped either */
}

/* Next id a header will take, with as many digits as the one after it. */
uint32_t NextStableId(void)
{
    uint32_t u = ZoltGetLocallyUniqueMessageId();
    if (std::to_string(u + 1).size() != std::to_string(u + 2).size())
        u = ZoltGetLocallyUniqueMessageId();
    return u + 1;
}

/* One byte short of a field fails with its code, holding the fields before it. */
TEST(MessageBuild, HeaderCodesAtEveryFieldBoundary)
{
    UseFixedPidAndClock();
    char szHdr[300];
    EXPECT_EQ(ZoltCreateMessageHeader(szHdr, 300, nullptr, nullptr, "T", nullptr), 1);
    EXPECT_EQ(ZoltCreateMessageHeader(szHdr, 5, "TO", nullptr, "T", nullptr), 2);
    struct {
        const char *szOpen, *szClose;
        int iCode;
        bool bIdTaken; /* before this field */
    } aCase[] = {
        { "<FROM>", "</FROM>", 3, false }, { "<TO>", "</TO>", 4, false },
        { "<ID>", "</ID>", 5, true },      { "<RE>", "</RE>", 6, true },
        { "<TYPE>", "</TYPE>", 7, true },  { "<TIME>", "</TIME>", 8, true },
        { "<LANG>", "</LANG>", 10, true }, { "</HDR>", "</HDR>", 9, true },
    };
    const std::string full =
        "<HDR><FROM>812</FROM><TO>DIAGENGINE</TO><ID>@</ID><RE>17</RE>"
        "<TYPE>DE_EVENT</TYPE><TIME>20240305140709000</TIME><LANG>EN</LANG></HDR>";
    for (auto &c : aCase) {
        SCOPED_TRACE(c.szClose);
        for (int iExtra = 0; iExtra < 2; iExtra++) {
            uint32_t uId = NextStableId();
            std::string expect = full;
            expect.replace(expect.find('@'), 1, std::to_string(uId));
            size_t uEnd = expect.find(c.szClose) + strlen(c.szClose);
            int iRc = ZoltCreateMessageHeader(szHdr, (int)uEnd + iExtra, "DIAGENGINE", "17",
                                              "DE_EVENT", "EN");
            uint32_t uAfter = ZoltGetLocallyUniqueMessageId();
            EXPECT_EQ(iRc == c.iCode, iExtra == 0); /* one byte more passes the field */
            if (iExtra == 0) {
                EXPECT_EQ(std::string(szHdr), expect.substr(0, expect.find(c.szOpen)));
                EXPECT_EQ(uAfter, c.bIdTaken ? uId + 1 : uId);
            }
        }
    }
}

TEST(FieldLookup, FindsElementsByPathAndOccurrenceOrReportsNotFound)
{
    std::string open, close;
    for (int i = 0; i < 15; i++)
        open += "<L>", close += "</L>";
    const std::string deep = open + "deep" + close, tooDeep = "<L>" + deep + "</L>";
    const std::string long45(45, 'N');
    const std::string withLongTag = "<MSG><" + long45 + ">v45</" + long45 + "></MSG>";
    const std::string path39 = "MSG/" + long45.substr(0, 39),
                      path40 = "MSG/" + long45.substr(0, 40);
    const char *szList =
        "<MSG><DATA><COMPONENT>a</COMPONENT><X>-</X><COMPONENT>b</COMPONENT></DATA></MSG>";
    struct {
        const char *szText, *szPath;
        int iOccurrence, iRc;
        const char *szValue;
    } aCase[] = {
        { kWorkedExample, "MSG/HDR/TYPE", 0, 0, "DE_COMMAND" },
        { kWorkedExample, "MSG/HDR/RE", 0, 2, "" },
        { kWorkedExample, "MSG/HDR/TYPE", 1, 2, "" },
        { kWorkedExample, "HDR/TYPE", 0, 2, "" },
        { "<MSG><HDR><RE></RE></HDR></MSG>", "MSG/HDR/RE", 0, 0, "" },
        { "<MSG><HDR><RE/></HDR></MSG>", "MSG/HDR/RE", 0, 2, "" },
        { szList, "MSG/DATA/COMPONENT", 1, 0, "b" },
        { "<A><B>1</B></A><A><B>2</B></A>", "A/B", 1, 0, "2" },
        { "<MSG>\r\n<DATA> a<A>1</A> \r\n</DATA></MSG>", "MSG/DATA", 0, 0, " a<A>1</A> \r\n" },
        { "</Z><MSG><X/><DATA>v</DATA></MSG>", "MSG/DATA", 0, 0,
          "v" }, /* stray close, empty element */
        { "<MSG><DATA>a</X>b</DATA></MSG>", "MSG/DATA", 0, 0,
          "a</X>b" }, /* unmatched close skipped */
        { "<?xml version=1?><!-- c --><MSG><DATA>v</DATA></MSG>", "MSG/DATA", 0, 0, "v" },
        { deep.c_str(), "L/L/L/L/L/L/L/L/L/L/L/L/L/L/L/IGNORED", 0, 0,
          "deep" },                                           /* 16th component ignored */
        { tooDeep.c_str(), "L", 0, 2, "" },                   /* nesting beyond 15 */
        { withLongTag.c_str(), path39.c_str(), 0, 0, "v45" }, /* tag cut to 39 */
        { withLongTag.c_str(), path40.c_str(), 0, 2, "" },    /* component too long */
        { "", "MSG", 0, 2, "" },
        { "<MSG><DATA>abc</DA", "MSG/DATA", 0, 2, "" },
        { "<MSG><DATA", "MSG/DATA", 0, 2, "" },
        { "<<<<<<<<<<<<<<<", "MSG", 0, 2, "" },
        { "<MSG><DATA>a</DATA/></MSG>", "MSG/DATA", 0, 2, "" },
        { "<MSG><DATA>v</DATA></MSG>", "MSG/DATA", -1, 2, "" },
    };
    CGenStr str;
    CGenStrInit(&str);
    for (auto &c : aCase) {
        SCOPED_TRACE(std::string(c.szPath) + " in " + c.szText);
        EXPECT_EQ(ZoltXmlGetFieldStr(c.szText, c.szPath, c.iOccurrence, &str), c.iRc);
        EXPECT_STREQ(CGenStrC_Str(&str), c.szValue);
    }
    EXPECT_EQ(ZoltXmlGetFieldStr(nullptr, "MSG", 0, &str), 2);

    /* the tag positions frame the element; the buffer form holds size - 2 characters */
    const char *szText = "<MSG><DATA a=1>x<B/>y</DATA><DATA>z</DATA></MSG>";
    const char *pStart = nullptr, *pEnd = nullptr;
    ASSERT_EQ(ZoltXmlGetFieldStrAndTagStartEnd(szText, &pStart, &pEnd, "MSG/DATA", 0, &str), 0);
    EXPECT_EQ(std::string(pStart, pEnd), "<DATA a=1>x<B/>y</DATA>");
    EXPECT_STREQ(CGenStrC_Str(&str), "x<B/>y");
    ASSERT_EQ(ZoltXmlGetFieldStrAndTagStartEnd(szText, &pStart, &pEnd, "MSG/DATA", 1, &str), 0);
    EXPECT_EQ(std::string(pStart, pEnd), "<DATA>z</DATA>");
    CGenStrDelete(&str);

    for (size_t uLen : { 78, 79 }) { /* the buffer form holds size - 2 characters */
        std::string sValue(uLen, 'v');
        char szBuf[80];
        EXPECT_EQ(ZoltXmlGetField(("<MSG><DATA>" + sValue + "</DATA></MSG>").c_str(), "MSG/DATA", 0,
                                  szBuf, 80),
                  uLen == 78 ? 0 : 2);
        EXPECT_EQ(szBuf, uLen == 78 ? sValue : "");
    }
}

std::vector<std::string> g_vSplit;
int CollectMessage(char *szMessage)
{
    g_vSplit.push_back(szMessage);
    return 0;
}

/* A walk gives, call by call, exactly what the lookup of each occurrence from
 * the start gives, on texts made of nested, repeated, unclosed, stray,
 * mismatched and empty elements, comments and text between them. */
TEST(FieldLookup, WalkGivesEveryOccurrenceAsTheLookupDoes)
{
    static const char *const kPieces[] = {
        "<MSG>", "</MSG>", "<DATA>",     "</DATA>", "<COMPONENT>",   "</COMPONENT>", "<X>", "</X>",
        "<X/>",  "</Y>",   "<!-- c -->", "text",    "<MSG a=\"1\">", "</MSG/>",      "<",   ">",
    };
    static const char *const kPaths[] = { "MSG/DATA/COMPONENT", "MSG", "X", "MSG/X", "MSG/DATA" };
    srand(7);
    for (int iText = 0; iText < 3000; iText++) {
        std::string sText;
        int nPieces = 1 + rand() % 40;
        for (int i = 0; i < nPieces; i++)
            sText += kPieces[rand() % (sizeof kPieces / sizeof kPieces[0])];
        for (const char *szPath : kPaths) {
            SCOPED_TRACE(sText + " / " + szPath);
            ZoltXmlWalk walk;
            ZoltXmlWalkInit(&walk, sText.c_str(), sText.c_str() + sText.size(), szPath);
            CGenStr walked, looked;
            ASSERT_TRUE(CGenStrInit(&walked) && CGenStrInit(&looked));
            for (int k = 0;; k++) {
                int iWalk = ZoltXmlWalkNext(&walk, &walked);
                int iLook = ZoltXmlGetFieldStr(sText.c_str(), szPath, k, &looked);
                ASSERT_EQ(iWalk, iLook) << "occurrence " << k;
                if (iLook != 0) {
                    EXPECT_EQ(ZoltXmlWalkNext(&walk, &walked), 2); /* and stays at the end */
                    break;
                }
                ASSERT_STREQ(CGenStrC_Str(&walked), CGenStrC_Str(&looked)) << "occurrence " << k;
            }
            CGenStrDelete(&walked);
            CGenStrDelete(&looked);
        }
    }
}

/* Received bytes split by length: NUL bytes cost only their own message, CR
 * and LF count only as a pair, a fragment at the end is not a message. */
TEST(ReceivedText, SplitByLengthAtCrLf)
{
    const std::string sNul("a\0b\r\n", 5);
    struct {
        std::string sIn;
        std::vector<std::string> vOut;
    } aCases[] = {
        { "one\r\ntwo\r\n", { "one", "two" } },
        { sNul + "after\r\n", { "after" } },
        { "before\r\n" + sNul + "after\r\n", { "before", "after" } },
        { std::string("\0\r\n", 3) + "x\r\n", { "x" } },
        { "a\rb\nc\r\r\n\r\n", { "a\rb\nc\r", "" } },
        { "\n\r\nx\r\n", { "\n", "x" } },
        { "whole\r\npart\r", { "whole" } },
        { "no end at all", {} },
        { "", {} },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.sIn);
        std::vector<char> v(c.sIn.begin(), c.sIn.end());
        v.push_back('\0');
        g_vSplit.clear();
        EXPECT_EQ(ZoltMessageSplitReceived(v.data(), (int)c.sIn.size(), CollectMessage),
                  (int)c.vOut.size());
        EXPECT_EQ(g_vSplit, c.vOut);
    }
}

TEST(Escaping, UnsafeCharactersBecomeAtHexAndBack)
{
    /* every byte value survives the round trip; safe text comes back as itself */
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
    const char *szSafe = "Abc xyz 0123456789 $-_.+!*'(),{}|\\^~[]`";
    EXPECT_EQ(ZoltXmlAllocStringAndConvertToXml(szSafe), szSafe);
    /* bad escapes decode to a blank without passing the end (exact-size copies) */
    struct {
        const char *szIn, *szOut;
    } aBad[] = { { "ab@4", "ab " },
                 { "ab@", "ab " },
                 { "@zz!", " !" },
                 { "x@@41", "x 1" },
                 { "@3c@3E", "<>" } };
    for (auto &c : aBad) {
        char *sz = strdup(c.szIn);
        EXPECT_EQ(ZoltXmlConvertFromXmlToText(sz), 0);
        EXPECT_STREQ(sz, c.szOut) << c.szIn;
        free(sz);
    }
}

}  // namespace
