/* nls-engine.cpp - the stand-in language-string engine: string files per
 * module process, tag parsing, translation with variables, and the answers
 * to the module's NLS commands. */
#include "nls-engine.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "message-protocol.h"
#include "profile.h"

/* Empties the state and remembers the default file. */
void PeersNlsInit(PeersNls *pNls, const char *szDefaultPath)
{
    pNls->vFiles.clear();
    pNls->sDefaultPath = szDefaultPath ? szDefaultPath : "";
    pNls->iRegistrations = 0;
    pNls->iStringsAsked = 0;
    pNls->iStringsUnknown = 0;
}

/* Registers szPath for process lPid, replacing an earlier one of that pid. */
void PeersNlsRegister(PeersNls *pNls, long lPid, const char *szPath)
{
    if (szPath == nullptr || *szPath == '\0')
        return;
    PeersNlsFile file;
    file.lPid = lPid;
    file.sPath = szPath;
    char *szName = ZoltGetIniString(szPath, "Module", "szModuleName");
    if (szName != nullptr) {
        file.sModule = szName;
        free(szName);
    }
    for (PeersNlsFile &f : pNls->vFiles) {
        if (f.lPid == lPid) {
            f = file;
            return;
        }
    }
    pNls->vFiles.push_back(file);
}

/* Releases the entry of lPid (the order of the others does not matter). */
void PeersNlsForget(PeersNls *pNls, long lPid)
{
    for (size_t i = 0; i < pNls->vFiles.size(); i++) {
        if (pNls->vFiles[i].lPid == lPid) {
            pNls->vFiles[i] = pNls->vFiles.back();
            pNls->vFiles.pop_back();
            return;
        }
    }
}

/* 1 when every character of s is an identifier character (and s not empty). */
static int IsIdentifier(const std::string &s)
{
    if (s.empty())
        return 0;
    for (char c : s)
        if (!ZoltIsValidIdentifierChar((unsigned char)c))
            return 0;
    return 1;
}

/* Parses "<NLS [mod=M ]id=I[ name=value]... />". Returns 0, 1 not a tag, 2 no id. */
int PeersNlsParseTag(const char *szTag, PeersNlsTag *pTag)
{
    pTag->sModule.clear();
    pTag->sId.clear();
    pTag->vVars.clear();
    if (szTag == nullptr || strncmp(szTag, "<NLS ", 5) != 0)
        return 1;
    std::string sBody(szTag + 5);
    if (sBody.size() < 2 || sBody.compare(sBody.size() - 2, 2, "/>") != 0)
        return 1;
    sBody.resize(sBody.size() - 2);

    /* Words separated by blanks; a word "name=..." starts a variable, any
     * other word continues the value before it (values may hold blanks). */
    std::vector<PeersNlsVar> vAll;
    size_t uPos = 0;
    size_t uBlanks = 0; /* empty words seen since the last word: extra blanks */
    while (uPos <= sBody.size()) {
        size_t uEnd = sBody.find(' ', uPos);
        if (uEnd == std::string::npos)
            uEnd = sBody.size();
        std::string sWord = sBody.substr(uPos, uEnd - uPos);
        size_t uEq = sWord.find('=');
        if (sWord.empty()) {
            uBlanks++;
        } else if (uEq != std::string::npos && IsIdentifier(sWord.substr(0, uEq))) {
            PeersNlsVar var;
            var.sName = sWord.substr(0, uEq);
            var.sValue = sWord.substr(uEq + 1);
            vAll.push_back(var);
            uBlanks = 0;
        } else if (!vAll.empty()) {
            /* a blank inside a value: the word continues the value */
            vAll.back().sValue += std::string(uBlanks + 1, ' ') + sWord;
            uBlanks = 0;
        }
        uPos = uEnd + 1;
    }
    for (PeersNlsVar &var : vAll) {
        std::vector<char> buf(var.sValue.begin(), var.sValue.end());
        buf.push_back('\0');
        ZoltXmlConvertFromXmlToText(buf.data());
        var.sValue = buf.data();
        if (var.sName == "mod" && pTag->sModule.empty() && pTag->sId.empty())
            pTag->sModule = var.sValue;
        else if (var.sName == "id" && pTag->sId.empty())
            pTag->sId = var.sValue;
        else
            pTag->vVars.push_back(var);
    }
    return pTag->sId.empty() ? 2 : 0;
}

/* One non-empty text of szId in section NLS_<szLang>. Returns 0 or 2. */
static int LookupIn(const char *szPath, const char *szLang, const char *szId, std::string &sText)
{
    std::string sSection = std::string(PEERS_NLS_SECTION_PREFIX) + szLang;
    char *szValue = ZoltGetIniString(szPath, sSection.c_str(), szId);
    if (szValue == nullptr)
        return 2;
    sText = szValue;
    free(szValue);
    return 0;
}

/* Text of szId in szLang, else in English. Returns 0 or 2. */
int PeersNlsLookup(const char *szPath, const char *szLang, const char *szId, std::string &sText,
                   std::string &sLang)
{
    sText.clear();
    sLang.clear();
    if (szPath == nullptr || *szPath == '\0' || szId == nullptr || *szId == '\0')
        return 2;
    if (szLang == nullptr || strlen(szLang) != 2)
        szLang = PEERS_NLS_DEFAULT_LANG;
    if (LookupIn(szPath, szLang, szId, sText) == 0) {
        sLang = szLang;
        return 0;
    }
    if (strcmp(szLang, PEERS_NLS_DEFAULT_LANG) != 0 &&
        LookupIn(szPath, PEERS_NLS_DEFAULT_LANG, szId, sText) == 0) {
        sLang = PEERS_NLS_DEFAULT_LANG;
        return 0;
    }
    return 2;
}

/* Replaces "{name}" by the variable's value; unknown names stay. */
std::string PeersNlsFill(const std::string &sTemplate, const PeersNlsTag &tag)
{
    std::string sOut;
    size_t uPos = 0;
    while (uPos < sTemplate.size()) {
        size_t uOpen = sTemplate.find('{', uPos);
        if (uOpen == std::string::npos)
            break;
        size_t uClose = sTemplate.find('}', uOpen + 1);
        if (uClose == std::string::npos)
            break;
        sOut.append(sTemplate, uPos, uOpen - uPos);
        std::string sName = sTemplate.substr(uOpen + 1, uClose - uOpen - 1);
        const PeersNlsVar *pVar = nullptr;
        for (const PeersNlsVar &var : tag.vVars)
            if (var.sName == sName) {
                pVar = &var;
                break;
            }
        if (pVar != nullptr)
            sOut += pVar->sValue;
        else
            sOut.append(sTemplate, uOpen, uClose - uOpen + 1);
        uPos = uClose + 1;
    }
    sOut.append(sTemplate, uPos, std::string::npos);
    return sOut;
}

/* File for a tag of module szModule sent by lPid. Never null. */
const char *PeersNlsPathFor(const PeersNls *pNls, const char *szModule, long lPid)
{
    if (szModule != nullptr && *szModule != '\0') {
        std::string sBase(szModule);
        size_t uDot = sBase.find('.');
        if (uDot != std::string::npos)
            sBase.resize(uDot);
        for (const PeersNlsFile &f : pNls->vFiles)
            if (!f.sModule.empty() && strcasecmp(f.sModule.c_str(), sBase.c_str()) == 0)
                return f.sPath.c_str();
    }
    for (const PeersNlsFile &f : pNls->vFiles)
        if (lPid != 0 && f.lPid == lPid)
            return f.sPath.c_str();
    return pNls->sDefaultPath.c_str();
}

/* Translates one tag. Returns 0, 1 not a tag, 2 no text (sOut = the tag). */
int PeersNlsTranslateTag(const PeersNls *pNls, const char *szTag, const char *szLang, long lPid,
                         std::string &sOut, std::string *psLang)
{
    sOut = szTag ? szTag : "";
    if (psLang)
        psLang->clear();
    PeersNlsTag tag;
    int iRc = PeersNlsParseTag(szTag, &tag);
    if (iRc == 1)
        return 1;
    if (iRc != 0)
        return 2;
    std::string sText, sLang;
    if (PeersNlsLookup(PeersNlsPathFor(pNls, tag.sModule.c_str(), lPid), szLang, tag.sId.c_str(),
                       sText, sLang) != 0)
        return 2;
    sOut = PeersNlsFill(sText, tag);
    if (psLang)
        *psLang = sLang;
    return 0;
}

/* Every complete tag of szText translated into English. */
std::string PeersNlsTranslateText(const PeersNls *pNls, const char *szText, long lPid)
{
    std::string sOut;
    if (szText == nullptr)
        return sOut;
    const char *p = szText;
    for (;;) {
        const char *pTag = strstr(p, "<NLS ");
        const char *pEnd = pTag ? strstr(pTag, "/>") : nullptr;
        if (pEnd == nullptr) {
            sOut += p;
            return sOut;
        }
        sOut.append(p, (size_t)(pTag - p));
        std::string sTag(pTag, (size_t)(pEnd + 2 - pTag));
        std::string sText;
        PeersNlsTranslateTag(pNls, sTag.c_str(), nullptr, lPid, sText, nullptr);
        sOut += sText;
        p = pEnd + 2;
    }
}

/* Answers one NLS_COMMAND data text. Returns 1 REGMOD, 2 GETSTRING, 0 unknown. */
int PeersNlsAnswer(PeersNls *pNls, long lFromPid, const char *szData, std::string &sDataElement)
{
    const char *szRegMod = "NLS_REGMOD:";
    const char *szGet = "NLS_GETSTRING:";
    if (szData != nullptr && strncmp(szData, szRegMod, strlen(szRegMod)) == 0) {
        pNls->iRegistrations++;
        sDataElement = "<DATA>NLS_REGMOD_OK</DATA>";
        return 1;
    }
    if (szData == nullptr || strncmp(szData, szGet, strlen(szGet)) != 0) {
        sDataElement = "<DATA>NLS_UNKNOWN</DATA>";
        return 0;
    }
    pNls->iStringsAsked++;
    /* "NLS_GETSTRING:" LL ":" tag */
    const char *p = szData + strlen(szGet);
    std::string sLang;
    const char *pColon = strchr(p, ':');
    if (pColon != nullptr) {
        sLang.assign(p, (size_t)(pColon - p));
        p = pColon + 1;
    }
    std::string sText, sFound;
    int iRc = PeersNlsTranslateTag(pNls, p, sLang.size() == 2 ? sLang.c_str() : nullptr, lFromPid,
                                   sText, &sFound);
    /* Echo the tag as an empty element so the reader finds its '>' first;
     * a text that is not a tag is not echoed (it could hold markup). */
    std::string sEcho = strncmp(p, "<NLS ", 5) == 0 ? std::string(p) : std::string("<NLS />");
    if (iRc != 0) {
        pNls->iStringsUnknown++;
        sDataElement = "<DATA>" + sEcho + "</DATA>";
        return 2;
    }
    char *szEsc = ZoltXmlAllocStringAndConvertToXml(sText.c_str());
    std::string sEsc = szEsc ? szEsc : "";
    if (szEsc != nullptr && szEsc != sText.c_str())
        free(szEsc);
    sDataElement = "<DATA>" + sEcho + "<" + sFound + ">" + sEsc + "</" + sFound + "></DATA>";
    return 2;
}
