/* nls-engine.cpp - tests of the stand-in language-string engine: tag parsing,
 * translation with variables, language fall-back, the answers to the module's
 * NLS commands, and that the module's definitions file has a text for every
 * string id the module's sources use. */
#include <gtest/gtest.h>

#include <ctype.h>
#include <dirent.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "nls-engine.h"

static const std::string s_sStrings = std::string(ZOLT_FIXTURES) + "/peers/strings.ini";
static const std::string s_sModuleIni = std::string(ZOLT_SOURCE_DIR) + "/zoltcpu/zoltcpu.ini";

TEST(PeersNlsParseTag, SplitsModuleIdAndVariables)
{
    struct Case {
        const char *szTag;
        int iRc;
        const char *szModule, *szId;
        std::vector<std::pair<std::string, std::string>> vVars;
    } aCases[] = {
        /* the framework's token form, with its blank before "/>" */
        { "<NLS mod=zoltcpu.zmd id=szInfo1 />", 0, "zoltcpu.zmd", "szInfo1", {} },
        /* a variable added after that blank leaves two blanks */
        { "<NLS mod=zoltcpu.zmd id=szErrorReg  errno=3/>", 0, "zoltcpu.zmd", "szErrorReg", { { "errno", "3" } } },
        { "<NLS id=x/>", 0, "", "x", {} },
        /* escaped values are decoded; a blank inside a value is kept */
        { "<NLS id=x a=1@3D2 b=two words c=@3Cz@3E/>", 0, "", "x",
          { { "a", "1=2" }, { "b", "two words" }, { "c", "<z>" } } },
        { "<NLS mod=m />", 2, "m", "", {} },
        { "<NLS id=x>", 1, "", "", {} },
        { "<NLSX id=x/>", 1, "", "", {} },
        { "", 1, "", "", {} },
    };
    for (const Case &c : aCases) {
        PeersNlsTag tag;
        EXPECT_EQ(PeersNlsParseTag(c.szTag, &tag), c.iRc) << c.szTag;
        if (c.iRc == 1)
            continue;
        EXPECT_EQ(tag.sModule, c.szModule) << c.szTag;
        EXPECT_EQ(tag.sId, c.szId) << c.szTag;
        ASSERT_EQ(tag.vVars.size(), c.vVars.size()) << c.szTag;
        for (size_t i = 0; i < c.vVars.size(); i++) {
            EXPECT_EQ(tag.vVars[i].sName, c.vVars[i].first) << c.szTag;
            EXPECT_EQ(tag.vVars[i].sValue, c.vVars[i].second) << c.szTag;
        }
    }
    PeersNlsTag none;
    EXPECT_EQ(PeersNlsParseTag(nullptr, &none), 1);
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
        { "<NLS id=szFault unit=ALU errno=12/>", nullptr, 0, "Unit ALU failed (fault mask 12)", "EN" },
        { "<NLS id=szTwice n=7/>", "EN", 0, "7 and 7 again, {missing} stays", "EN" },
        { "<NLS id=szGreeting/>", "DE", 0, "Hallo Welt", "DE" },
        { "<NLS id=szOnlyEnglish/>", "DE", 0, "English only", "EN" },
        { "<NLS id=szGreeting/>", "FR", 0, "Hello <world> at 50% & more", "EN" },
        /* unknown and empty texts: the tag itself comes back */
        { "<NLS id=szNothing/>", nullptr, 2, "<NLS id=szNothing/>", "" },
        { "<NLS id=szEmpty/>", nullptr, 2, "<NLS id=szEmpty/>", "" },
    };
    for (const Case &c : aCases) {
        std::string sOut, sLang;
        EXPECT_EQ(PeersNlsTranslateTag(&nls, c.szTag, c.szLang, 0, sOut, &sLang), c.iRc) << c.szTag;
        EXPECT_EQ(sOut, c.szText) << c.szTag;
        EXPECT_EQ(sLang, c.szLangFound) << c.szTag;
    }
    EXPECT_EQ(PeersNlsTranslateText(&nls, "A <NLS id=szFault unit=X errno=1/>; B <NLS id=nope/> <NLS id=cut", 0),
              "A Unit X failed (fault mask 1); B <NLS id=nope/> <NLS id=cut");
}

TEST(PeersNlsTranslate, PicksTheFileOfTheTagsModule)
{
    PeersNls nls;
    PeersNlsInit(&nls, nullptr);
    PeersNlsRegister(&nls, 812, s_sStrings.c_str());     /* module "peerstest" */
    PeersNlsRegister(&nls, 900, s_sModuleIni.c_str());   /* module "zoltcpu" */
    std::string sOut;
    /* the module named in the tag wins over the sender */
    EXPECT_EQ(PeersNlsTranslateTag(&nls, "<NLS mod=zoltcpu.zmd id=szInfo1 />", nullptr, 812, sOut, nullptr), 0);
    EXPECT_EQ(sOut, "Testing the general registers");
    /* without a module the sender's file is used */
    EXPECT_EQ(PeersNlsTranslateTag(&nls, "<NLS id=szOnlyEnglish/>", nullptr, 812, sOut, nullptr), 0);
    EXPECT_EQ(PeersNlsTranslateTag(&nls, "<NLS id=szOnlyEnglish/>", nullptr, 900, sOut, nullptr), 2);
    /* no file at all */
    EXPECT_EQ(PeersNlsTranslateTag(&nls, "<NLS id=szOnlyEnglish/>", nullptr, 1, sOut, nullptr), 2);
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
        { "NLS_GETSTRING:DE:<NLS id=szOnlyEnglish/>", 2, "<DATA><NLS id=szOnlyEnglish/><EN>English only</EN></DATA>" },
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
    EXPECT_EQ(nls.iRegistrations, 1);
    EXPECT_EQ(nls.iStringsAsked, 4);
    EXPECT_EQ(nls.iStringsUnknown, 2);
}

/* Every string id that the module's sources name has an English text in the
 * module's definitions file; the switches read "true" and "on", and every
 * system-information item has its key and description. */
TEST(PeersModuleStrings, EveryIdOfTheModuleHasAText)
{
    std::string sDir = std::string(ZOLT_SOURCE_DIR) + "/zoltcpu";
    DIR *pDir = opendir(sDir.c_str());
    ASSERT_NE(pDir, nullptr);
    std::set<std::string> ids;
    struct dirent *pEnt;
    while ((pEnt = readdir(pDir)) != nullptr) {
        std::string sName = pEnt->d_name;
        if (sName.size() < 3 || (sName.substr(sName.size() - 4) != ".cpp" && sName.substr(sName.size() - 2) != ".h"))
            continue;
        std::ifstream in(sDir + "/" + sName);
        std::stringstream ss;
        ss << in.rdbuf();
        std::string sText = ss.str();
        /* string literals "sz<Capital>..." of identifier characters */
        for (size_t uPos = sText.find("\"sz"); uPos != std::string::npos; uPos = sText.find("\"sz", uPos + 1)) {
            size_t uEnd = uPos + 3;
            while (uEnd < sText.size() && (isalnum((unsigned char)sText[uEnd]) || sText[uEnd] == '_'))
                uEnd++;
            if (uEnd < sText.size() && sText[uEnd] == '"' && uEnd > uPos + 3 && isupper((unsigned char)sText[uPos + 3]))
                ids.insert(sText.substr(uPos + 1, uEnd - uPos - 1));
        }
    }
    closedir(pDir);
    /* section "Module" keys are not language strings */
    ids.erase("szType");
    ids.erase("szModuleName");
    ASSERT_FALSE(ids.empty());
    for (const std::string &sId : ids) {
        std::vector<std::string> vNeeded = { sId };
        if (sId.rfind("szSysInfo", 0) == 0 && sId.find("Key") == std::string::npos
            && sId.find("Desc") == std::string::npos) {
            vNeeded.push_back(sId + "Key");
            vNeeded.push_back(sId + "Desc");
        }
        for (const std::string &sNeed : vNeeded) {
            std::string sText, sLang;
            EXPECT_EQ(PeersNlsLookup(s_sModuleIni.c_str(), "EN", sNeed.c_str(), sText, sLang), 0) << sNeed;
            if (sNeed == sId && sId.rfind("szSysInfo", 0) == 0) {
                EXPECT_EQ(sText, "on") << sId;
            }
        }
    }
    std::string sText, sLang;
    EXPECT_EQ(PeersNlsLookup(s_sModuleIni.c_str(), "EN", "szSMBIOSCheckEnable", sText, sLang), 0);
    EXPECT_EQ(sText, "true");
}
