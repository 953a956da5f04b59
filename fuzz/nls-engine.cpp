/* nls-engine.cpp - fuzz target of zoltpeers' language-string engine.
 * Byte 0 bit 0 set: the input builds a tag (module, id, variables with
 * blanks and braces in their values) and a template; references: parsing the
 * written tag gives back its parts (the first "mod" before any id is the
 * module, the first "id" the id, the rest variables), filling the template
 * replaces exactly the known "{name}"s, and the engine's answer to
 * NLS_GETSTRING carries the filled text of the strings file in the asked
 * language as a field the module can read back. Bit 0 clear: the rest is a
 * raw NLS_COMMAND text; its answer is one DATA element and its result code
 * follows the command word; a text without a tag translates to itself. */
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz-common.h"
#include "message-protocol.h"
#include "nls-engine.h"
#include "peers-common.h"

static const char *const s_aszNames[] = { "a", "b", "n1", "x_y", "id", "mod" };
static const char s_acValue[] = "ab1{} _-.";
static const char s_acLiteral[] = "Hi 9,!";

static std::string Word(FuzzBytes *pIn, const char *acAlphabet, size_t nAlphabet, size_t uMax)
{
    std::string s;
    for (size_t n = FuzzTake8(pIn) % (uMax + 1); n > 0; n--)
        s += acAlphabet[FuzzTake8(pIn) % nAlphabet];
    while (!s.empty() && s.back() == ' ') /* a blank before "/>" is no part of the value */
        s.pop_back();
    return s;
}

static void CheckBuiltTag(FuzzBytes *pIn, PeersNls *pNls)
{
    std::vector<PeersNlsVar> vAll;
    std::string sTag = "<NLS";
    for (size_t n = FuzzTake8(pIn) % 6; n > 0; n--) {
        PeersNlsVar v{ s_aszNames[FuzzTake8(pIn) % 6], Word(pIn, s_acValue, 9, 12) };
        if (v.sName == "id" && (FuzzTake8(pIn) & 1) != 0)
            v.sValue = "hello"; /* a string the file knows */
        vAll.push_back(v);
        sTag += " " + v.sName + "=" + v.sValue;
    }
    sTag += " />";
    PeersNlsTag expect, got;
    for (const PeersNlsVar &v : vAll) {
        if (v.sName == "mod" && expect.sModule.empty() && expect.sId.empty())
            expect.sModule = v.sValue;
        else if (v.sName == "id" && expect.sId.empty())
            expect.sId = v.sValue;
        else
            expect.vVars.push_back(v);
    }
    int iRc = PeersNlsParseTag(sTag.c_str(), &got);
    FUZZ_CHECK(iRc == (expect.sId.empty() ? 2 : 0));
    FUZZ_CHECK(got.sModule == expect.sModule && got.sId == expect.sId);
    FUZZ_CHECK(got.vVars.size() == expect.vVars.size());
    for (size_t i = 0; i < got.vVars.size(); i++)
        FUZZ_CHECK(got.vVars[i].sName == expect.vVars[i].sName &&
                   got.vVars[i].sValue == expect.vVars[i].sValue);

    /* a template of literals and "{name}"s, one of them unknown ("zz") */
    std::string sTemplate, sFilled;
    for (size_t n = FuzzTake8(pIn) % 5; n > 0; n--) {
        std::string sLit = Word(pIn, s_acLiteral, 6, 4);
        unsigned uName = FuzzTake8(pIn) % 7;
        std::string sName = uName < 6 ? s_aszNames[uName] : "zz";
        sTemplate += sLit + "{" + sName + "}";
        const PeersNlsVar *pVar = nullptr;
        for (const PeersNlsVar &v : got.vVars)
            if (pVar == nullptr && v.sName == sName)
                pVar = &v;
        sFilled += sLit + (pVar != nullptr ? pVar->sValue : "{" + sName + "}");
    }
    FUZZ_CHECK(PeersNlsFill(sTemplate, got) == sFilled);

    /* the answer to the module: the strings file knows "hello" in EN and DE */
    if (got.sId != "hello" || !got.sModule.empty())
        return;
    std::string sElement, sText;
    FUZZ_CHECK(PeersNlsAnswer(pNls, 77, ("NLS_GETSTRING:DE:" + sTag).c_str(), sElement) == 2);
    FUZZ_CHECK(PeersGetField(sElement.c_str(), "DATA/DE", 0, sText) == 0);
    std::vector<char> acText(sText.begin(), sText.end());
    acText.push_back('\0');
    ZoltXmlConvertFromXmlToText(acText.data()); /* as the module reads it */
    FUZZ_CHECK(acText.data() == PeersNlsFill("Hallo {a} & {b}!", got));
}

static void CheckRawCommand(const std::string &sData, PeersNls *pNls)
{
    std::string sElement;
    int iRc = PeersNlsAnswer(pNls, 77, sData.c_str(), sElement);
    int iExpect = sData.compare(0, 11, "NLS_REGMOD:") == 0      ? 1
                  : sData.compare(0, 14, "NLS_GETSTRING:") == 0 ? 2
                                                                : 0;
    FUZZ_CHECK(iRc == iExpect);
    FUZZ_CHECK(sElement.compare(0, 6, "<DATA>") == 0 && sElement.size() >= 13 &&
               sElement.compare(sElement.size() - 7, 7, "</DATA>") == 0);
    if (sData.find("<NLS ") == std::string::npos)
        FUZZ_CHECK(PeersNlsTranslateText(pNls, sData.c_str(), 77) == sData);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    static std::string s_sStrings;
    if (s_sStrings.empty()) {
        s_sStrings = FuzzTempPath("strings.ini");
        static const char s_szFile[] =
            "[NLS_EN]\nhello=Hello {a}!\n[NLS_DE]\nhello=Hallo {a} & {b}!\n";
        FuzzWriteFile(s_sStrings, s_szFile, sizeof s_szFile - 1);
    }
    if (uSize == 0)
        return 0;
    PeersNls nls;
    PeersNlsInit(&nls, s_sStrings.c_str());
    if ((pData[0] & 1) != 0) {
        FuzzBytes in{ pData + 1, uSize - 1 };
        CheckBuiltTag(&in, &nls);
    } else {
        CheckRawCommand(FuzzText(pData + 1, uSize - 1), &nls);
    }
    return 0;
}
