/* nls-access.cpp - tests of the language strings against a stand-in engine
 * thread over a real FIFO pair: the answer's language, refused requests,
 * NLS_REGMOD, message translation and variables added to tags. */
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "client-connection-manager.h"
#include "common/test-peer.h"
#include "nls-access.h"

namespace {

using zolttest::Field;

/* The engine answers each NLS_ request with Answer(DATA). */
class Nls : public ::testing::Test {
protected:
    zolttest::RawConnection conn;
    zolttest::AnsweringPeer engine;

    void StartEngine(std::function<std::string(const std::string &)> Answer)
    {
        ASSERT_EQ(conn.Open(), "");
        engine.hOut = conn.hToClient;
        engine.fnAnswer = [Answer](const std::string &s) {
            std::string sData = Field(s, "DATA");
            return sData.compare(0, 4, "NLS_") == 0 ? zolttest::Response(s, Answer(sData)) : "";
        };
        ASSERT_TRUE(engine.Start(conn.hBroker));
    }
    /* The DATA of every message the engine got. */
    std::vector<std::string> Seen()
    {
        std::vector<std::string> v = engine.Seen();
        for (std::string &s : v)
            s = Field(s, "DATA");
        return v;
    }
};

TEST_F(Nls, AnswerGivesLanguageThenEnglishThenTheTagAndBadRequestsAreNotSent)
{
    struct {
        const char *szLang /* null: default */, *szReply;
        int iExpect;
        const char *szText, *szReturned;
    } aCases[] = {
        { "FR", "<NLS id=x/><DE>Hallo</DE><EN>Hello</EN>", 1, "Hello", "EN" },
        { "DE", "<NLS id=x/><DE>Hallo</DE><EN>Hello</EN>", 1, "Hallo", "DE" },
        { "FR", "<NLS id=x/><DE>Hallo</DE>", 1, "<NLS id=x/>", "TK" },
        { NULL, "<NLS id=x/><EN>50@25 @3Cdone@3E</EN>", 1, "50% <done>", "EN" },
        { "EN", "<NLS id=x/><EN>cut<here</EN>", 1, "cut", "EN" },
        { "EN", "no string element", 0, "", "" },
    };
    const size_t uCases = sizeof aCases / sizeof *aCases;
    size_t uNext = 0;
    StartEngine([&](const std::string &) {
        return std::string(uNext < uCases ? aCases[uNext++].szReply : "<NLS id=x/><EN>ok</EN>");
    });
    CGenStr s;
    ASSERT_TRUE(CGenStrInit(&s));
    char szReturned[3] = "??";
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szReply);
        EXPECT_EQ(ZoltGetNlsStringWithXmlTag("<NLS id=x/>", c.szLang, szReturned, &s), c.iExpect);
        EXPECT_STREQ(CGenStrC_Str(&s), c.szText);
        EXPECT_STREQ(szReturned, c.szReturned);
        EXPECT_EQ(Seen().back(),
                  std::string("NLS_GETSTRING:") + (c.szLang ? c.szLang : "EN") + ":<NLS id=x/>");
    }
    /* refused before anything is sent; "NLS_GETSTRING:EN:" and a tag of 182 make 199, the most */
    std::string sTag182 = "<NLS id=" + std::string(172, 'y') + "/>",
                sTag183 = "<NLS id=" + std::string(173, 'y') + "/>";
    struct {
        const char *szTag, *szLang;
    } aRefused[] = {
        { "<NLS id=x/>", "ENG" },
        { "<NLX id=x/>", "EN" },
        { NULL, "EN" },
        { sTag183.c_str(), "EN" },
    };
    for (auto &c : aRefused)
        EXPECT_EQ(ZoltGetNlsStringWithXmlTag(c.szTag, c.szLang, szReturned, &s), 0)
            << (c.szTag ? c.szTag : "null");
    EXPECT_EQ(ZoltGetNlsStringWithXmlTag("<NLS id=x/>", "EN", NULL, &s), 0);
    EXPECT_EQ(Seen().size(), uCases);
    EXPECT_EQ(ZoltGetNlsStringWithXmlTag(sTag182.c_str(), "EN", szReturned, &s), 1);
    EXPECT_STREQ(CGenStrC_Str(&s), "ok");
    EXPECT_EQ(Seen().back(), "NLS_GETSTRING:EN:" + sTag182);
    CGenStrDelete(&s);
}

TEST_F(Nls, StringsByIdMessagesAndModuleFile)
{
    StartEngine([](const std::string &sData) {
        static const std::map<std::string, std::string> s_Answers = {
            { "NLS_GETSTRING:DE:<NLS mod=zoltcpu id=szVendor/>",
              "<NLS mod=zoltcpu id=szVendor/><DE>Hersteller</DE>" },
            { "NLS_GETSTRING:EN:<NLS id=szLong/>",
              "<NLS id=szLong/><EN>a text longer than eight</EN>" },
            { "NLS_GETSTRING:EN:<NLS id=a/>", "<NLS id=a/><EN>alpha</EN>" },
            { "NLS_GETSTRING:EN:<NLS id=c n=1/>", "<NLS id=c n=1/><EN>gamma@21</EN>" },
        };
        auto it = s_Answers.find(sData);
        return it != s_Answers.end() ? it->second : "<NLS none/>";
    });
    char szBuf[64], szSmall[8];
    EXPECT_EQ(ZoltGetNlsStringWithIdEx("zoltcpu", "szVendor", "DE", szBuf, sizeof szBuf), szBuf);
    EXPECT_STREQ(szBuf, "Hersteller");
    EXPECT_EQ(ZoltGetNlsStringWithId("szLong", szSmall, sizeof szSmall), nullptr);
    EXPECT_STREQ(szSmall, "!!!OVER");
    /* known, unknown, with a variable, and a tag without its end; "X" is no language */
    CGenStr s;
    ASSERT_TRUE(CGenStrInitFromCStr(&s, ">"));
    EXPECT_EQ(ZoltGetNlsMessageWithXmlMessage(
                  "A <NLS id=a/> B <NLS id=b/> C <NLS id=c n=1/>D <NLS id=e", "X", &s),
              1);
    EXPECT_STREQ(CGenStrC_Str(&s), ">A alpha B <NLS id=b/> C gamma!D <NLS id=e");
    CGenStrDelete(&s);
    /* refused before anything is sent (a good NLS_REGMOD: Connection.LiveConnection...) */
    size_t uSent = Seen().size();
    EXPECT_EQ(ZoltGetNlsStringWithIdEx(NULL, "a b", NULL, szBuf, sizeof szBuf), nullptr);
    EXPECT_EQ(ZoltGetNlsStringWithIdEx("m<", "x", NULL, szBuf, sizeof szBuf), nullptr);
    EXPECT_EQ(ZoltNlsRegisterModuleNlsFile("/opt/x/bad name.ini"), 1);
    EXPECT_EQ(Seen().size(), uSent);
    /* no engine to be reached */
    ZoltClient_I_CloseWriteFifo();
    EXPECT_EQ(ZoltGetNlsStringWithId("szVendor", szBuf, sizeof szBuf), nullptr);
    EXPECT_STREQ(szBuf, "");
    EXPECT_EQ(ZoltNlsRegisterModuleNlsFile("zoltcpu.ini"), 4);
}

/* The translated send asks the engine for each tag, then sends the message with
 * the strings in place; "TK" sends it as it is, "" becomes "EN" in the caller's
 * buffer, and a message that cannot be translated is not sent at all. */
TEST_F(Nls, TranslatedSendAndItsLanguage)
{
    StartEngine([](const std::string &sData) {
        return sData == "NLS_GETSTRING:DE:<NLS id=a/>"   ? "<NLS id=a/><DE>alpha</DE>"
               : sData == "NLS_GETSTRING:EN:<NLS id=a/>" ? "<NLS id=a/><EN>first</EN>"
                                                         : "<NLS none/>";
    });
    struct {
        const char *szLang, *szData; /* szData null: an empty message */
        int iRc;
        std::vector<std::string> vSeen; /* what the engine gets, in order */
        const char *szLangAfter;
    } aCases[] = {
        { "DE", "A <NLS id=a/> B", 0, { "NLS_GETSTRING:DE:<NLS id=a/>", "A alpha B" }, "DE" },
        { "", "A <NLS id=a/>", 0, { "NLS_GETSTRING:EN:<NLS id=a/>", "A first" }, "EN" },
        { "TKx", "A <NLS id=a/> B", 0, { "A <NLS id=a/> B" }, "TKx" },
        { "DE", NULL, 2, {}, "DE" },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(std::string(c.szLang) + " " + (c.szData ? c.szData : "(empty)"));
        char szLang[4];
        snprintf(szLang, sizeof szLang, "%s", c.szLang);
        size_t uBefore = Seen().size();
        std::string sMsg = c.szData ? zolttest::MakeMsg("5", "DE_EVENT", c.szData) : "";
        EXPECT_EQ(ZoltClientSendMessageTranslated(sMsg.c_str(), szLang), c.iRc);
        EXPECT_STREQ(szLang, c.szLangAfter);
        for (int i = 0; i < 1000 && Seen().size() < uBefore + c.vSeen.size(); i++)
            usleep(10000); /* the send itself is not a transaction: wait for it */
        std::vector<std::string> vAll = Seen();
        EXPECT_EQ(std::vector<std::string>(vAll.begin() + (long)uBefore, vAll.end()), c.vSeen);
    }

    /* the language kept: two characters, none (null) for "" or null */
    for (const char *sz : { "FR", "DEU", "", "IT", (const char *)NULL }) {
        ZoltClientSendMessageSetLanguage(sz);
        const char *szGot = ZoltClientSendMessageGetLanguage();
        EXPECT_EQ(std::string(szGot ? szGot : "(none)"),
                  sz && *sz ? std::string(sz).substr(0, 2) : "(none)");
    }
    ZoltClientSendMessageSetLanguage("00");
}

TEST(NlsTags, AddingVariables)
{
    struct {
        const char *szTag, *szName, *szValue;
        int iExpect;
        const char *szResult;
    } aCases[] = {
        { "<NLS id=x/>", "n", "5", 0, "<NLS id=x n=5/>" },
        { "<NLS mod=m id=x a=1/>", "b", "50% <x>", 0, "<NLS mod=m id=x a=1 b=50@25 @3Cx@3E/>" },
        { "<NLS id=x/>", "a b", "5", 1, "<NLS id=x/>" },
        { "<NLS id=x/>", "n", NULL, 4, "<NLS id=x/>" },
        { "<NLX id=x/>", "n", "5", 5, "<NLX id=x/>" },
        { "<NLS id=x>", "n", "5", 6, "<NLS id=x>" },
        { "<NLS id=xy/>", "n", "5", 3,
          "<NLS id=xy/>" }, /* needs length + 1 bytes, else left alone */
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szTag);
        char szBuf[64];
        snprintf(szBuf, sizeof szBuf, "%s", c.szTag);
        EXPECT_EQ(ZoltNlsAddVariableToTag(szBuf, c.iExpect == 3 ? 16 : 64, c.szName, c.szValue),
                  c.iExpect);
        EXPECT_STREQ(szBuf, c.szResult);
    }
    char szUnterminated[4] = { '<', 'N', 'L', 'S' };
    EXPECT_EQ(ZoltNlsAddVariableToTag(szUnterminated, 4, "n", "5"), 3);
}

}  // namespace
