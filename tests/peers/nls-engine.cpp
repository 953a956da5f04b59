/* nls-engine.cpp - the stand-in language-string engine: tags, translation,
 * answers to the module, and a text for every string id the module uses. */
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>
#include <string>

#include "common/read-file.h"
#include "nls-engine.h"

static const std::string s_sStrings = std::string(ZOLT_FIXTURES) + "/peers/strings.ini";
static const std::string s_sModuleIni = std::string(ZOLT_SOURCE_DIR) + "/zoltcpu/zoltcpu.ini";

TEST(PeersNlsParseTag, SplitsModuleIdAndVariables)
{
    struct Case {
        const char *szTag;
        int iRc;
        const char *szParsed; /* module|id|name=value;... */
    } aCases[] = {
        /* the framework's token form, with its blank before "/>" */
        { "<NLS mod=zoltcpu.zmd id=szInfo1 />", 0, "zoltcpu.zmd|szInfo1|" },
        /* a variable added after that blank leaves two blanks */
        { "<NLS mod=zoltcpu.zmd id=szErrorReg  errno=3/>", 0, "zoltcpu.zmd|szErrorReg|errno=3;" },
        /* escaped values are decoded; a blank inside a value is kept */
        { "<NLS id=x a=1@3D2 b=two words c=@3Cz@3E/>", 0, "|x|a=1=2;b=two words;c=<z>;" },
        { "<NLS mod=m />", 2, "m||" },
        { "<NLS id=x>", 1, "" },
        { "<NLSX id=x/>", 1, "" },
    };
    for (const Case &c : aCases) {
        PeersNlsTag tag;
        EXPECT_EQ(PeersNlsParseTag(c.szTag, &tag), c.iRc) << c.szTag;
        std::string sParsed = tag.sModule + "|" + tag.sId + "|";
        for (const auto &v : tag.vVars)
            sParsed += v.sName + "=" + v.sValue + ";";
        if (c.iRc != 1) {
            EXPECT_EQ(sParsed, c.szParsed) << c.szTag;
        }
    }
}

TEST(PeersNlsTranslate, FillsVariablesAndFallsBack)
{
    PeersNls nls;
    PeersNlsInit(&nls, s_sStrings.c_str());
    struct Case {
        const char *szTag, *szLang;
        int iRc;
        const char *szText, *szLangFound;
    } aCases[] = {
        { "<NLS id=szFault unit=ALU errno=12/>", nullptr, 0, "Unit ALU failed (fault mask 12)",
          "EN" },
        { "<NLS id=szTwice n=7/>", "EN", 0, "7 and 7 again, {missing} stays", "EN" },
        { "<NLS id=szGreeting/>", "DE", 0, "Hallo Welt", "DE" },
        { "<NLS id=szGreeting/>", "FR", 0, "Hello <world> at 50% & more", "EN" },
        /* unknown and empty texts: the tag itself comes back */
        { "<NLS id=szNothing/>", nullptr, 2, "<NLS id=szNothing/>", "" },
    };
    for (const Case &c : aCases) {
        std::string sOut, sLang;
        EXPECT_EQ(PeersNlsTranslateTag(&nls, c.szTag, c.szLang, 0, sOut, &sLang), c.iRc) << c.szTag;
        EXPECT_EQ(sOut, c.szText) << c.szTag;
        EXPECT_EQ(sLang, c.szLangFound) << c.szTag;
    }
    EXPECT_EQ(PeersNlsTranslateText(
                  &nls, "A <NLS id=szFault unit=X errno=1/>; B <NLS id=nope/> <NLS id=cut", 0),
              "A Unit X failed (fault mask 1); B <NLS id=nope/> <NLS id=cut");
}

/* A module's string file is found by its name and pid while it runs, and
 * released when it ends: many runs keep at most one entry per module alive. */
TEST(PeersNlsForget, EntriesLiveOnlyWhileTheirModuleRuns)
{
    PeersNls nls;
    PeersNlsInit(&nls, s_sStrings.c_str());
    for (long lPid = 1000; lPid < 21000; lPid++) {
        PeersNlsRegister(&nls, lPid, s_sModuleIni.c_str());
        PeersNlsRegister(&nls, lPid + 1, s_sStrings.c_str()); /* a second module alive */
        ASSERT_STREQ(PeersNlsPathFor(&nls, "zoltcpu.zmd", 0), s_sModuleIni.c_str());
        ASSERT_STREQ(PeersNlsPathFor(&nls, nullptr, lPid + 1), s_sStrings.c_str());
        PeersNlsForget(&nls, lPid);
        PeersNlsForget(&nls, lPid + 1);
        ASSERT_EQ(nls.vFiles.size(), 0u) << lPid;
    }
    EXPECT_STREQ(PeersNlsPathFor(&nls, "zoltcpu", 1000), s_sStrings.c_str()); /* the default */
}

TEST(PeersNlsAnswer, RepliesInTheFormTheModuleParses)
{
    PeersNls nls;
    PeersNlsInit(&nls, s_sStrings.c_str());
    struct Case {
        const char *szData;
        int iRc;
        const char *szElement;
    } aCases[] = {
        { "NLS_REGMOD:812:strings.ini", 1, "<DATA>NLS_REGMOD_OK</DATA>" },
        /* the text is escaped, the tag echoed before the language element */
        { "NLS_GETSTRING:EN:<NLS id=szGreeting/>", 2,
          "<DATA><NLS id=szGreeting/><EN>Hello @3Cworld@3E at 50@25 @26 more</EN></DATA>" },
        { "NLS_GETSTRING:DE:<NLS id=szOnlyEnglish/>", 2,
          "<DATA><NLS id=szOnlyEnglish/><EN>English only</EN></DATA>" },
        /* unknown id: no language element, so the module falls back to the tag */
        { "NLS_GETSTRING:EN:<NLS id=szNothing/>", 2, "<DATA><NLS id=szNothing/></DATA>" },
        { "NLS_GETSTRING:EN:garbage", 2, "<DATA><NLS /></DATA>" },
        { "NLS_SOMETHING", 0, "<DATA>NLS_UNKNOWN</DATA>" },
    };
    for (const Case &c : aCases) {
        std::string sElement;
        EXPECT_EQ(PeersNlsAnswer(&nls, 812, c.szData, sElement), c.iRc) << c.szData;
        EXPECT_EQ(sElement, c.szElement) << c.szData;
    }
}

/* Every string id that the module's sources name has an English text in the
 * module's definitions file; the switches read "true" and "on", and every
 * system-information item has its key and description. */
TEST(PeersModuleStrings, EveryIdOfTheModuleHasAText)
{
    /* string literals "sz<Capital>..." of identifier characters in the module's sources */
    std::string sText;
    for (const auto &entry : std::filesystem::directory_iterator(ZOLT_SOURCE_DIR "/zoltcpu"))
        if (entry.path().extension() == ".cpp" || entry.path().extension() == ".h")
            sText += zolttest::ReadFile(entry.path());
    std::set<std::string> ids;
    static const std::regex s_reId("\"(sz[A-Z][A-Za-z0-9_]*)\"");
    for (std::sregex_iterator it(sText.begin(), sText.end(), s_reId), end; it != end; ++it)
        ids.insert((*it)[1]);
    /* section "Module" keys are not language strings */
    ids.erase("szType");
    ids.erase("szModuleName");
    ASSERT_FALSE(ids.empty());
    std::string sValue, sLang;
    for (const std::string &sId : ids) {
        EXPECT_EQ(PeersNlsLookup(s_sModuleIni.c_str(), "EN", sId.c_str(), sValue, sLang), 0) << sId;
        if (sId.rfind("szSysInfo", 0) != 0 || sId.find("Key") != std::string::npos ||
            sId.find("Desc") != std::string::npos)
            continue;
        EXPECT_EQ(sValue, "on") << sId;
        for (const char *szPart : { "Key", "Desc" })
            EXPECT_EQ(
                PeersNlsLookup(s_sModuleIni.c_str(), "EN", (sId + szPart).c_str(), sValue, sLang),
                0)
                << sId;
    }
    EXPECT_EQ(PeersNlsLookup(s_sModuleIni.c_str(), "EN", "szSMBIOSCheckEnable", sValue, sLang), 0);
    EXPECT_EQ(sValue, "true");
}
