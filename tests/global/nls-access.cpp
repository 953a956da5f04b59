/* nls-access.cpp - tests of the language strings: the NLS_GETSTRING request
 * and the reading of its answer (requested language, "EN", else the tag as a
 * token), refused requests, NLS_REGMOD, variables added to tags and the
 * translation of whole messages. A stand-in engine thread answers over a real
 * FIFO pair in a temporary directory. */
#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "client-connection-manager.h"
#include "client-messaging-engine.h"
#include "global/client-test-peer.h"
#include "nls-access.h"
#include "pipe-lowlevel.h"

namespace {

using zolttest::Field;

/* The language-string engine: answers each request with Answer(DATA) (no
 * answer when it gives "") and records every message it receives. */
class Nls : public ::testing::Test {
protected:
    zolttest::TempDir dir;
    int hBroker = -1, hToClient = -1, hQuit = -1;
    pthread_t thread;
    bool bThread = false;
    std::mutex mtx;
    std::vector<std::string> vSeen;
    std::function<std::string(const std::string &)> Answer = [](const std::string &) { return ""; };

    void SetUp() override
    {
        unsetenv("ZOLT_TMP");
        ASSERT_EQ(ZoltSetPipeDirectory(dir.sPath.c_str()), 0);
        ZoltSetServerFifoNameEx("");
        std::string sBroker = dir.sPath + "/ZOLTFIFO";
        ASSERT_EQ(mkfifo(sBroker.c_str(), 0600), 0);
        hBroker = open(sBroker.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(hBroker, 0);
        hQuit = open(sBroker.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(hQuit, 0);
        ZoltInitPipes();
        ASSERT_EQ(ZoltClient_I_OpenFifoConnection(), 0);
        hToClient = open(g_szOurFifoName, O_WRONLY | O_NONBLOCK);
        ASSERT_GE(hToClient, 0);
    }

    void StartEngine()
    {
        ASSERT_EQ(pthread_create(&thread, NULL, EngineThread, this), 0);
        bThread = true;
    }

    void TearDown() override
    {
        if (bThread) {
            zolttest::WriteAll(hQuit, zolttest::MakeFrames("QUIT", 1, 1));
            pthread_join(thread, NULL);
        }
        ClientMessage *p;
        while ((p = ZoltClientGetNextMessage(NULL)) != NULL)
            ZoltClientFreeMessage(p);
        ZoltClient_I_CloseFifoConnection();
        close(hToClient);
        close(hQuit);
        close(hBroker);
        ZoltCleanupPipes();
    }

    static void *EngineThread(void *pArg)
    {
        Nls *pSelf = (Nls *)pArg;
        zolttest::FrameReader r;
        std::string s;
        unsigned long ulMsgNo = 1;
        while (r.Read(pSelf->hBroker, 10000, &s) == 1 && s != "QUIT") {
            std::string sData = Field(s, "DATA");
            std::string sAnswer = sData.compare(0, 4, "NLS_") == 0 ? pSelf->Answer(sData) : "";
            {
                std::lock_guard<std::mutex> lock(pSelf->mtx);
                pSelf->vSeen.push_back(s);
            }
            if (!sAnswer.empty())
                zolttest::WriteAll(pSelf->hToClient, zolttest::MakeFrames(
                    zolttest::MakeMsg("77", "TRANSACTION_RESPONSE", sAnswer, Field(s, "ID")), ulMsgNo++, 77));
        }
        return NULL;
    }

    /* DATA of every message the engine received so far. */
    std::vector<std::string> SeenData()
    {
        std::lock_guard<std::mutex> lock(mtx);
        std::vector<std::string> v;
        for (auto &s : vSeen)
            v.push_back(Field(s, "DATA"));
        return v;
    }
};

TEST_F(Nls, AnswerGivesLanguageThenEnglishThenTheTag)
{
    struct Case {
        const char *szLang;     /* null: the default language */
        const char *szReply;
        int iExpect;
        const char *szText, *szReturned;
    } aCases[] = {
        {"FR", "<NLS id=x/><DE>Hallo</DE><EN>Hello</EN>", 1, "Hello", "EN"},
        {"DE", "<NLS id=x/><DE>Hallo</DE><EN>Hello</EN>", 1, "Hallo", "DE"},
        {"FR", "<NLS id=x/><DE>Hallo</DE>", 1, "<NLS id=x/>", "TK"},
        {NULL, "<NLS id=x/><EN>50@25 @3Cdone@3E</EN>", 1, "50% <done>", "EN"},
        {"EN", "<NLS id=x/><EN>cut<here</EN>", 1, "cut", "EN"},
        {"EN", "<NLS id=x/><EN>", 1, "", "EN"},   /* the answer's own closing tags end it */
        {"EN", "no string element", 0, "", ""},
    };
    std::vector<std::string> vReplies;
    for (auto &c : aCases)
        vReplies.push_back(c.szReply);
    size_t uNext = 0;
    Answer = [&](const std::string &) { return vReplies[uNext++]; };
    StartEngine();
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szReply);
        CGenStr s;
        ASSERT_TRUE(CGenStrInit(&s));
        char szReturned[3] = "??";
        EXPECT_EQ(ZoltGetNlsStringWithXmlTag("<NLS id=x/>", c.szLang, szReturned, &s), c.iExpect);
        EXPECT_STREQ(CGenStrC_Str(&s), c.szText);
        EXPECT_STREQ(szReturned, c.szReturned);
        EXPECT_EQ(SeenData().back(), std::string("NLS_GETSTRING:") + (c.szLang ? c.szLang : "EN") + ":<NLS id=x/>");
        CGenStrDelete(&s);
    }
}

TEST_F(Nls, BadRequestsAreNotSent)
{
    Answer = [](const std::string &) { return std::string("<NLS id=x/><EN>ok</EN>"); };
    StartEngine();
    /* "NLS_GETSTRING:EN:" is 17 characters: a tag of 182 makes 199, the most. */
    std::string sTag182 = "<NLS id=" + std::string(182 - 10, 'y') + "/>";
    std::string sTag183 = "<NLS id=" + std::string(183 - 10, 'y') + "/>";
    ASSERT_EQ(sTag182.size(), 182u);
    struct { const char *szTag, *szLang; } aRefused[] = {
        {"<NLS id=x/>", "E"}, {"<NLS id=x/>", "ENG"}, {"<NLX id=x/>", "EN"}, {"", "EN"}, {NULL, "EN"},
        {sTag183.c_str(), "EN"},
    };
    CGenStr s;
    ASSERT_TRUE(CGenStrInit(&s));
    char szReturned[3];
    for (auto &c : aRefused)
        EXPECT_EQ(ZoltGetNlsStringWithXmlTag(c.szTag, c.szLang, szReturned, &s), 0) << (c.szTag ? c.szTag : "null");
    EXPECT_EQ(ZoltGetNlsStringWithXmlTag("<NLS id=x/>", "EN", NULL, &s), 0);
    EXPECT_EQ(ZoltGetNlsStringWithXmlTag(sTag182.c_str(), "EN", szReturned, &s), 1);
    EXPECT_STREQ(CGenStrC_Str(&s), "ok");
    CGenStrDelete(&s);
    /* Only the 182-character tag reached the engine. */
    EXPECT_EQ(SeenData(), std::vector<std::string>{"NLS_GETSTRING:EN:" + sTag182});
}

TEST_F(Nls, StringsById)
{
    Answer = [](const std::string &sData) {
        if (sData == "NLS_GETSTRING:DE:<NLS mod=zoltcpu id=szVendor/>")
            return std::string("<NLS mod=zoltcpu id=szVendor/><DE>Hersteller</DE>");
        if (sData == "NLS_GETSTRING:EN:<NLS id=szLong/>")
            return std::string("<NLS id=szLong/><EN>a text longer than eight</EN>");
        return std::string("<NLS unknown/>");   /* no text in any language */
    };
    StartEngine();
    char szBuf[64];
    EXPECT_EQ(ZoltGetNlsStringWithIdEx("zoltcpu", "szVendor", "DE", szBuf, sizeof szBuf), szBuf);
    EXPECT_STREQ(szBuf, "Hersteller");
    EXPECT_EQ(ZoltGetNlsStringWithId("szSMBIOSCheckEnable", szBuf, sizeof szBuf), szBuf);
    EXPECT_STREQ(szBuf, "<NLS id=szSMBIOSCheckEnable/>");
    char szSmall[8];
    EXPECT_EQ(ZoltGetNlsStringWithId("szLong", szSmall, sizeof szSmall), nullptr);
    EXPECT_STREQ(szSmall, "!!!OVER");
    size_t uSent = SeenData().size();
    EXPECT_EQ(ZoltGetNlsStringWithIdEx(NULL, "a b", NULL, szBuf, sizeof szBuf), nullptr);
    EXPECT_EQ(ZoltGetNlsStringWithIdEx("m<", "x", NULL, szBuf, sizeof szBuf), nullptr);
    EXPECT_EQ(ZoltGetNlsStringWithIdEx(NULL, "x", NULL, szBuf, 0), nullptr);
    EXPECT_EQ(SeenData().size(), uSent);

    /* No engine to be reached: null and an empty buffer. */
    ZoltClient_I_CloseWriteFifo();
    EXPECT_EQ(ZoltGetNlsStringWithId("szVendor", szBuf, sizeof szBuf), nullptr);
    EXPECT_STREQ(szBuf, "");
}

TEST_F(Nls, RegisterModuleFile)
{
    Answer = [](const std::string &) { return std::string("done"); };
    StartEngine();
    EXPECT_EQ(ZoltNlsRegisterModuleNlsFile("/opt/x/zoltcpu.ini"), 0);
    EXPECT_EQ(SeenData().back(), "NLS_REGMOD:" + std::to_string(ZoltGetClientPid()) + ":zoltcpu.ini");
    EXPECT_EQ(ZoltNlsRegisterModuleNlsFile("/opt/x/bad name.ini"), 1);
    EXPECT_EQ(ZoltNlsRegisterModuleNlsFile(NULL), 1);
    EXPECT_EQ(SeenData().size(), 1u);
    ZoltClient_I_CloseWriteFifo();
    EXPECT_EQ(ZoltNlsRegisterModuleNlsFile("zoltcpu.ini"), 4);
}

TEST_F(Nls, MessagesAreTranslatedTagByTag)
{
    Answer = [](const std::string &sData) {
        if (sData == "NLS_GETSTRING:EN:<NLS id=a/>")
            return std::string("<NLS id=a/><EN>alpha</EN>");
        if (sData == "NLS_GETSTRING:EN:<NLS id=c n=1/>")
            return std::string("<NLS id=c n=1/><EN>gamma@21</EN>");
        return std::string("<NLS none/>");
    };
    StartEngine();
    CGenStr s;
    ASSERT_TRUE(CGenStrInitFromCStr(&s, ">"));
    /* Known, unknown, with a variable, and a tag without its end. */
    EXPECT_EQ(ZoltGetNlsMessageWithXmlMessage("A <NLS id=a/> B <NLS id=b/> C <NLS id=c n=1/>D <NLS id=e", "X", &s), 1);
    EXPECT_STREQ(CGenStrC_Str(&s), ">A alpha B <NLS id=b/> C gamma!D <NLS id=e");
    EXPECT_EQ(ZoltGetNlsMessageWithXmlMessage("", "EN", &s), 0);
    EXPECT_EQ(ZoltGetNlsMessageWithXmlMessage(NULL, "EN", &s), 0);
    CGenStrDelete(&s);

    /* Translated sending: "" becomes "EN" in the caller's buffer; "TK" sends as is. */
    char szLang[3] = "";
    std::string sMsg = "<MSG><DATA><NLS id=a/></DATA></MSG>\r\n";
    EXPECT_EQ(ZoltClientSendMessageTranslated(sMsg.c_str(), szLang), 0);
    EXPECT_STREQ(szLang, "EN");
    char szToken[3] = "TK";
    EXPECT_EQ(ZoltClientSendMessageTranslated(sMsg.c_str(), szToken), 0);
    /* Wait for both sends to reach the engine: a request it answers "". */
    ASSERT_TRUE(CGenStrInit(&s));
    EXPECT_EQ(ZoltGetNlsStringWithXmlTag("<NLS id=z/>", "EN", szLang, &s), 1);
    EXPECT_STREQ(szLang, "TK");
    CGenStrDelete(&s);
    std::vector<std::string> vSeen = SeenData();
    ASSERT_GE(vSeen.size(), 3u);
    EXPECT_EQ(vSeen[vSeen.size() - 3], "alpha");
    EXPECT_EQ(vSeen[vSeen.size() - 2], "<NLS id=a/>");
}

TEST(NlsTags, AddingVariables)
{
    struct Case {
        const char *szTag;   /* null: no tag */
        const char *szName, *szValue;
        int iExpect;
        const char *szResult;
    } aCases[] = {
        {"<NLS id=x/>", "n", "5", 0, "<NLS id=x n=5/>"},
        {"<NLS mod=m id=x a=1/>", "b", "50% <x>", 0, "<NLS mod=m id=x a=1 b=50@25 @3Cx@3E/>"},
        {"<NLS id=x/>", "a b", "5", 1, "<NLS id=x/>"},
        {NULL, "n", "5", 2, NULL},
        {"<NLS id=x/>", "n", NULL, 4, "<NLS id=x/>"},
        {"<NLX id=x/>", "n", "5", 5, "<NLX id=x/>"},
        {"<NLS id=x>", "n", "5", 6, "<NLS id=x>"},
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szTag ? c.szTag : "null");
        CGenStr s;
        ASSERT_TRUE(CGenStrInitFromCStr(&s, c.szTag ? c.szTag : ""));
        EXPECT_EQ(ZoltNlsAddVariableToTagStr(c.szTag ? &s : NULL, c.szName, c.szValue), c.iExpect);
        if (c.szResult) {
            EXPECT_STREQ(CGenStrC_Str(&s), c.szResult);
        }
        CGenStrDelete(&s);

        if (c.szTag == NULL)
            continue;
        char szBuf[64];
        snprintf(szBuf, sizeof szBuf, "%s", c.szTag);
        EXPECT_EQ(ZoltNlsAddVariableToTag(szBuf, sizeof szBuf, c.szName, c.szValue), c.iExpect);
        EXPECT_STREQ(szBuf, c.szResult);
    }
    /* The buffer form: the result needs its length + 1 bytes. */
    char szExact[16] = "<NLS id=x/>";    /* 11 characters, 15 after adding " n=5" */
    EXPECT_EQ(ZoltNlsAddVariableToTag(szExact, 15, "n", "5"), 3);
    EXPECT_STREQ(szExact, "<NLS id=x/>");
    EXPECT_EQ(ZoltNlsAddVariableToTag(szExact, 16, "n", "5"), 0);
    EXPECT_STREQ(szExact, "<NLS id=x n=5/>");
    EXPECT_EQ(ZoltNlsAddVariableToTag(NULL, 16, "n", "5"), 2);
    char szUnterminated[4] = {'<', 'N', 'L', 'S'};
    EXPECT_EQ(ZoltNlsAddVariableToTag(szUnterminated, 4, "n", "5"), 3);
}

} // namespace
