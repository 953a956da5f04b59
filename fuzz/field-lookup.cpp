/* field-lookup.cpp - fuzz target of the message notation's reading side: the
 * field lookup by path (all three forms, tag positions checked against the
 * text), the header readers, packet parsing, tag reading and the @hh escaping
 * round trip.
 * Input: byte 0 picks the occurrence (low two bits); then the path up to the
 * first newline; the rest is the message text (cut at its first NUL). */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz-common.h"
#include "gen-str.h"
#include "message-protocol.h"

/* The paths the product itself looks up, tried on every input besides the
 * input's own path. */
static const char *const s_aszPaths[] = {
    "MSG/HDR/TYPE", "MSG/HDR/ID", "MSG/HDR/RE", "MSG/DATA", "ACK", "MSG/DATA/COMPONENT/DEVICE/DID",
};

/* Lookup with tag positions; when found, the positions must bracket an
 * element of the text and the value must lie inside it. */
static void CheckLookup(const std::string &sText, const char *szPath, int iOccurrence)
{
    CGenStr sOut;
    FUZZ_CHECK(CGenStrInit(&sOut));
    const char *pStart = nullptr, *pEnd = nullptr;
    const char *szText = sText.c_str();
    int iRc = ZoltXmlGetFieldStrAndTagStartEnd(szText, &pStart, &pEnd, szPath, iOccurrence, &sOut);
    if (iRc == 0) {
        FUZZ_CHECK(pStart != nullptr && pEnd != nullptr);
        FUZZ_CHECK(pStart >= szText && pEnd <= szText + sText.size() && pStart < pEnd);
        FUZZ_CHECK(*pStart == '<' && pEnd[-1] == '>');
        size_t uValue = (size_t)CGenStrSize(&sOut);
        FUZZ_CHECK(uValue < (size_t)(pEnd - pStart));
        FUZZ_CHECK(std::string(pStart, pEnd).find(CGenStrC_Str(&sOut)) != std::string::npos);
    } else {
        FUZZ_CHECK(iRc == 2);
    }
    CGenStrDelete(&sOut);

    /* The buffer form, with a buffer that is too small for most values. */
    char szSmall[8];
    iRc = ZoltXmlGetField(szText, szPath, iOccurrence, szSmall, sizeof szSmall);
    FUZZ_CHECK(strlen(szSmall) < sizeof szSmall);
    char szBig[256];
    iRc = ZoltXmlGetField(szText, szPath, iOccurrence, szBig, sizeof szBig);
    FUZZ_CHECK(strlen(szBig) < sizeof szBig);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    if (uSize < 1)
        return 0;
    int iOccurrence = pData[0] & 3;
    std::string sAll = FuzzText(pData + 1, uSize - 1);
    size_t uNl = sAll.find('\n');
    std::string sPath = uNl == std::string::npos ? std::string() : sAll.substr(0, uNl);
    std::string sText = uNl == std::string::npos ? sAll : sAll.substr(uNl + 1);
    const char *szText = sText.c_str();

    CheckLookup(sText, sPath.c_str(), iOccurrence);
    for (const char *szPath : s_aszPaths)
        CheckLookup(sText, szPath, 0);

    long l = 0;
    ZoltMessageGetSender(szText, &l);
    ZoltMessageGetMessageId(szText, &l);
    ZoltMessageGetMessageRe(szText, &l);
    char *szType = nullptr;
    if (ZoltMessageGetMessageType(szText, &szType) == 0) {
        FUZZ_CHECK(szType != nullptr && strlen(szType) <= 98);
        free(szType);
    }
    static const char *const s_aszKeywords[] = { "RUN", "STOPTESTING", "ENUM_COMPLETE", "",
                                                 nullptr };
    char szData[64];
    long lSender = 0, lId = 0;
    int iRc =
        ZoltParsePacketHeaderAndData(szText, &lSender, &lId, s_aszKeywords, szData, sizeof szData);
    FUZZ_CHECK(iRc >= -1 && iRc <= 4);
    static const char *const s_aszTypes[] = { "DE_COMMAND", "MBCMD", "NLS_RESPONSE", nullptr };
    iRc = ZoltParsePacketType(szText, s_aszTypes);
    FUZZ_CHECK(iRc >= -1 && iRc <= 3);

    /* Tag reading at the first '<' characters of the text. */
    int iTags = 0;
    for (const char *p = strchr(szText, '<'); p != nullptr && iTags < 32;
         p = strchr(p + 1, '<'), iTags++) {
        char szName[ZOLT_XML_MAX_TAG_LEN + 1];
        szName[0] = '\0';
        const char *pAfter = ZoltXmlGetTag(p, szName, sizeof szName);
        FUZZ_CHECK(strlen(szName) < sizeof szName);
        FUZZ_CHECK(pAfter == nullptr || (pAfter > p && pAfter < szText + sText.size()));
    }

    /* Escaping then decoding gives the text back; decoding raw input stays
     * inside the text. */
    IsBadXmlIdentifier(szText);
    char *szEscaped = ZoltXmlAllocStringAndConvertToXml(szText);
    FUZZ_CHECK(szEscaped != nullptr);
    if (szEscaped != szText) {
        ZoltXmlConvertFromXmlToText(szEscaped);
        FUZZ_CHECK(strcmp(szEscaped, szText) == 0);
        free(szEscaped);
    }
    std::string sRaw = sText;
    ZoltXmlConvertFromXmlToText(&sRaw[0]);
    FUZZ_CHECK(strlen(sRaw.c_str()) <= sText.size());
    return 0;
}
