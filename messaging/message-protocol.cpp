/* message-protocol.cpp - builders for elements, headers, packets and engine
 * commands; field lookup by path; the @hh escaping of free text.
 * DESIGN: the only state is the message-id counter (one atomic, so ids are
 * unique across threads) and the escape table (built once under call_once).
 * Everything else works on its arguments only. The lookup keeps a fixed stack
 * of 15 open tag names of 40 bytes: no allocation, no recursion. */
#include "message-protocol.h"

#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "process-id.h"
#include "trace.h"
#include "zolt-time.h"

long (*g_pfnZoltMsgLocalPid)(void) = ZoltGetClientPid;

/* The message-id counter: first id 1, advanced by one per header. */
static std::atomic<uint32_t> lMsgId{ 1 };

/* The escape set: a blank, the digits and twenty punctuation characters. */
static const char s_szSafeChars[] = " 0123456789$-_.+!*'(),{}|\\^~[]`";
/* cCharType[c] is 1 when the 7-bit character c stands unescaped. */
static unsigned char cCharType[128];
static std::once_flag s_CharTypeOnce;

static int IsAsciiLetter(int c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

/* ======================================================================
 * Building
 * ====================================================================== */

/* Returns the current id and advances the counter in one atomic step. */
uint32_t ZoltGetLocallyUniqueMessageId(void)
{
    return lMsgId.fetch_add(1u);
}

/* The own process id (ZoltGetClientPid unless a test points the seam elsewhere). */
long ZoltGetLocalProcessId(void)
{
    return g_pfnZoltMsgLocalPid();
}

/* "%lu" of lPid into szBuf; "" for a buffer below 10 bytes. Returns szBuf. */
char *ZoltGetProcessIdString(long lPid, char *szBuf, int iSize)
{
    if (szBuf == nullptr || iSize <= 0)
        return szBuf;
    if (iSize < 10)
        szBuf[0] = '\0';
    else
        snprintf(szBuf, (size_t)iSize, "%lu", (unsigned long)lPid);
    return szBuf;
}

/* Same for the own process id. */
char *ZoltGetLocalProcessIdString(char *szBuf, int iSize)
{
    return ZoltGetProcessIdString(ZoltGetLocalProcessId(), szBuf, iSize);
}

/* Base-10 value of szText, -1 for null. */
long ZoltGetProcessIdFromString(const char *szText)
{
    if (szText == nullptr)
        return -1;
    return strtol(szText, nullptr, 10);
}

/* Appends "<tag>value</tag>" when strlen(szBuf) + 2*len(tag) + len(value) + 6
 * bytes fit iSize. Returns 0, or 1 with the buffer unchanged. */
int ZoltXmlAddField(char *szBuf, int iSize, const char *szTag, const char *szValue)
{
    if (szBuf == nullptr || szTag == nullptr || szValue == nullptr || iSize <= 0)
        return 1;
    size_t uLen = strnlen(szBuf, (size_t)iSize);
    if (uLen >= (size_t)iSize)
        return 1; /* no terminator inside the buffer: treat as full */
    size_t uNeed = uLen + 2 * strlen(szTag) + strlen(szValue) + 6;
    if (uNeed > (size_t)iSize)
        return 1;
    snprintf(szBuf + uLen, (size_t)iSize - uLen, "<%s>%s</%s>", szTag, szValue, szTag);
    return 0;
}

/* The 17 TIME digits: date and time of the UTC record, then its millisecond
 * field (the clock reports 0, so "000"). */
static void FormatHeaderTime(char *szOut, size_t uSize)
{
    ZoltUtcTime tNow;
    memset(&tNow, 0, sizeof tNow);
    ZoltGetUtcTime(&tNow);
    char szDate[64];
    snprintf(szDate, sizeof szDate, "%04u%02u%02u%02lu%02lu%02lu", (unsigned)tNow.uYear,
             (unsigned)tNow.uMonth, (unsigned)tNow.uDay, (unsigned long)tNow.uHour,
             (unsigned long)tNow.uMinute, (unsigned long)tNow.uSecond);
    snprintf(szOut, uSize, "%s%03lu", szDate, (unsigned long)tNow.uMilliSeconds);
}

/* Builds the HDR element; codes in the header. Any thread. */
int ZoltCreateMessageHeader(char *szBuf, int iSize, const char *szTo, const char *szRe,
                            const char *szType, const char *szLang)
{
    if (szBuf == nullptr || szTo == nullptr || szType == nullptr)
        return 1;
    if (iSize < 6)
        return 2;
    snprintf(szBuf, (size_t)iSize, "<HDR>");

    char szWork[80]; /* a number or the 17 time digits */
    ZoltGetLocalProcessIdString(szWork, sizeof szWork);
    if (ZoltXmlAddField(szBuf, iSize, "FROM", szWork) != 0)
        return 3;
    if (ZoltXmlAddField(szBuf, iSize, "TO", szTo) != 0)
        return 4;
    snprintf(szWork, sizeof szWork, "%lu", (unsigned long)ZoltGetLocallyUniqueMessageId());
    if (ZoltXmlAddField(szBuf, iSize, "ID", szWork) != 0)
        return 5;
    if (szRe != nullptr && ZoltXmlAddField(szBuf, iSize, "RE", szRe) != 0)
        return 6;
    if (ZoltXmlAddField(szBuf, iSize, "TYPE", szType) != 0)
        return 7;
    FormatHeaderTime(szWork, sizeof szWork);
    if (ZoltXmlAddField(szBuf, iSize, "TIME", szWork) != 0)
        return 8;
    if (szLang != nullptr && ZoltXmlAddField(szBuf, iSize, "LANG", szLang) != 0)
        return 10;
    size_t uLen = strlen(szBuf);
    if (uLen + 3 + 4 > (size_t)iSize)
        return 9;
    memcpy(szBuf + uLen, "</HDR>", 7);
    return 0;
}

/* 1 for the four packets that travel alone on a FIFO and end in CR LF. */
static int IsTopLevelPacket(const char *szTag)
{
    return strcmp(szTag, "MSG") == 0 || strcmp(szTag, "STOP") == 0 || strcmp(szTag, "ACK") == 0 ||
           strcmp(szTag, "STARTUP") == 0;
}

/* The element builder behind both ZoltCreateMessage forms. Returns 0, or 2
 * when pStr cannot take the text. */
static int CreateMessageV(CGenStr *pStr, const char *szTag, va_list args)
{
    if (szTag == nullptr)
        return 2;
    int bCrLf = IsTopLevelPacket(szTag);
    if (szTag[0] == '<')
        szTag++;
    CGenStrClear(pStr);
    int bOk = CGenStrCatC(pStr, '<') && CGenStrCatChar(pStr, szTag) && CGenStrCatC(pStr, '>');
    for (const char *szChild = va_arg(args, const char *); bOk && szChild != nullptr;
         szChild = va_arg(args, const char *))
        bOk = CGenStrCatChar(pStr, szChild);
    bOk =
        bOk && CGenStrCatChar(pStr, "</") && CGenStrCatChar(pStr, szTag) && CGenStrCatC(pStr, '>');
    if (bOk && bCrLf)
        bOk = CGenStrCatChar(pStr, "\r\n");
    return bOk ? 0 : 2;
}

/* Element into a caller buffer; see the header. Any thread. */
int ZoltCreateMessage(char *szBuf, int iSize, const char *szTag, ...)
{
    CGenStr str;
    if (szBuf == nullptr || CGenStrInitBuff(&str, szBuf, 0, iSize) == 0)
        return 2;
    va_list args;
    va_start(args, szTag);
    int iRc = CreateMessageV(&str, szTag, args);
    va_end(args);
    return iRc;
}

/* Element into a growable string; see the header. Any thread. */
int ZoltCreateMessageStr(CGenStr *pStr, const char *szTag, ...)
{
    if (pStr == nullptr)
        return 2;
    if (pStr->pBuf == nullptr && CGenStrInit(pStr) == 0)
        return 2;
    va_list args;
    va_start(args, szTag);
    int iRc = CreateMessageV(pStr, szTag, args);
    va_end(args);
    return iRc;
}

/* Whole MSG with HDR and DATA into pOut. Returns 0, 1 header, 2 DATA, 4 out of
 * memory. The work buffer is released on every path. */
int ZoltClientCreateEngineCommand(const char *szTo, const char *szLang, const char *szType,
                                  const char *szData, CGenStr *pOut)
{
    if (pOut == nullptr)
        return 2;
    if (szData == nullptr)
        szData = "";
    size_t uDataLen = strlen(szData);
    if (uDataLen > (size_t)INT_MAX - 64)
        return 2;
    int iWorkSize = (int)(uDataLen + 2 * strlen("DATA") + 10);
    char *pWork = (char *)calloc((size_t)iWorkSize, 1);
    if (pWork == nullptr)
        return 4;
    char szHdr[ZOLT_HDR_BUFFER_SIZE];
    int iRc = 0;
    if (ZoltCreateMessageHeader(szHdr, sizeof szHdr, szTo, nullptr, szType, szLang) != 0)
        iRc = 1;
    else if (ZoltCreateMessage(pWork, iWorkSize, "DATA", szData, nullptr) != 0)
        iRc = 2;
    else if (ZoltCreateMessageStr(pOut, "MSG", szHdr, pWork, nullptr) != 0)
        iRc = 4;
    free(pWork);
    return iRc;
}

int ZoltClientCreateMessageBrokerCommandStr(const char *szData, CGenStr *pOut)
{
    return ZoltClientCreateEngineCommand(ZOLT_TO_MESSAGEBROKER, nullptr, "MBCMD", szData, pOut);
}

int ZoltClientCreateDiagnosticEngineCommandStr(const char *szData, const char *szLang,
                                               CGenStr *pOut)
{
    return ZoltClientCreateEngineCommand(ZOLT_TO_DIAGENGINE, szLang, "DE_COMMAND", szData, pOut);
}

int ZoltClientCreateNlsEngineCommandStr(const char *szData, CGenStr *pOut)
{
    return ZoltClientCreateEngineCommand(ZOLT_TO_NLSENGINE, nullptr, "NLS_COMMAND", szData, pOut);
}

/* Engine command into a caller buffer: built in a heap string, copied when it
 * fits with its terminator, else 2 and the buffer stays empty. */
static int EngineCommandToBuffer(const char *szTo, const char *szType, const char *szData,
                                 char *szBuf, int iSize)
{
    if (szBuf == nullptr || iSize < 1)
        return 2;
    szBuf[0] = '\0';
    CGenStr str;
    if (CGenStrInit(&str) == 0)
        return 4;
    int iRc = ZoltClientCreateEngineCommand(szTo, nullptr, szType, szData, &str);
    if (iRc == 0) {
        int iLen = CGenStrSize(&str);
        if (iLen + 1 > iSize)
            iRc = 2;
        else
            memcpy(szBuf, CGenStrC_Str(&str), (size_t)iLen + 1);
    }
    CGenStrDelete(&str);
    return iRc;
}

int ZoltClientCreateMessageBrokerCommand(const char *szData, char *szBuf, int iSize)
{
    return EngineCommandToBuffer(ZOLT_TO_MESSAGEBROKER, "MBCMD", szData, szBuf, iSize);
}

int ZoltClientCreateNlsEngineCommand(const char *szData, char *szBuf, int iSize)
{
    return EngineCommandToBuffer(ZOLT_TO_NLSENGINE, "NLS_COMMAND", szData, szBuf, iSize);
}

/* The language is accepted for symmetry with the Str form and not written. */
int ZoltClientCreateDiagnosticEngineCommand(const char *szData, const char *szLang, char *szBuf,
                                            int iSize)
{
    (void)szLang;
    return EngineCommandToBuffer(ZOLT_TO_DIAGENGINE, "DE_COMMAND", szData, szBuf, iSize);
}

/* ======================================================================
 * Reading
 * ====================================================================== */

int ZoltIsValidIdentifierChar(int c)
{
    return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_';
}

/* 1 for the identifier characters of tag names: letters, digits, '_'. */
static const struct IdentTable {
    unsigned char ab[256];
    constexpr IdentTable() : ab()
    {
        for (int c = 0; c < 256; c++)
            ab[c] = ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '_')
                        ? 1
                        : 0;
    }
} s_Ident;

/* The tag at p (at '<', before pTextEnd, the text's terminator): its name as a
 * pointer into the text and a length of at most 39 identifier characters. Returns the '>' of the tag, the '/' of an
 * empty element "<X/>" (name not set), or null when no '>' follows. */
static const char *TagAt(const char *p, const char *pTextEnd, const char **ppName, int *piNameLen)
{
    p++;
    if (*p == '/')
        p++;
    /* Most tags are a bare name: its run of identifier characters (which the
     * terminator ends) is then followed by the '>' that memchr would find. */
    const char *pRun = p;
    while (s_Ident.ab[(unsigned char)*pRun])
        pRun++;
    const char *pClose =
        *pRun == '>' ? pRun : (const char *)memchr(pRun, '>', (size_t)(pTextEnd - pRun));
    if (pClose == nullptr)
        return nullptr;
    if (pClose[-1] == '/')
        return pClose - 1;
    *ppName = p;
    *piNameLen = pRun - p < ZOLT_XML_MAX_TAG_LEN ? (int)(pRun - p) : ZOLT_XML_MAX_TAG_LEN;
    return pClose;
}

/* Reads one tag at p; see the header. */
const char *ZoltXmlGetTag(const char *p, char *szName, int iNameSize)
{
    if (p == nullptr || *p != '<')
        return nullptr;
    const char *pName = nullptr;
    int iLen = 0;
    const char *pEnd = TagAt(p, p + strlen(p), &pName, &iLen);
    if (pEnd == nullptr || *pEnd == '/')
        return pEnd;
    if (szName != nullptr && iNameSize > 0) {
        /* the caller's buffer may be longer than 39: copy the whole run then */
        int i = 0;
        while (i < iNameSize - 1 && ZoltIsValidIdentifierChar((unsigned char)pName[i])) {
            szName[i] = pName[i];
            i++;
        }
        szName[i] = '\0';
    }
    return pEnd;
}

/* Splits szPath at '/' into at most 15 components. Returns their count, or 0
 * when a component is longer than 39 characters. */
static int SplitPath(const char *szPath, char aszComp[][ZOLT_XML_MAX_TAG_LEN + 1])
{
    int n = 0;
    const char *p = szPath;
    while (n < ZOLT_XML_MAX_PATH_DEPTH) {
        const char *pSlash = strchr(p, '/');
        size_t uLen = pSlash != nullptr ? (size_t)(pSlash - p) : strlen(p);
        if (uLen > ZOLT_XML_MAX_TAG_LEN)
            return 0;
        memcpy(aszComp[n], p, uLen);
        aszComp[n][uLen] = '\0';
        n++;
        if (pSlash == nullptr)
            break;
        p = pSlash + 1;
    }
    return n;
}

/* The field lookup; see the header for the rules and codes. The scan is one
 * pass: every tag is read once and the scan resumes after its '>'. */
int ZoltXmlGetFieldStrAndTagStartEnd(const char *szText, const char **ppTagStart,
                                     const char **ppTagEnd, const char *szPath, int iOccurrence,
                                     CGenStr *pOut)
{
    return ZoltXmlGetFieldInText(szText, szText != nullptr ? szText + strlen(szText) : nullptr,
                                 ppTagStart, ppTagEnd, szPath, iOccurrence, pOut);
}

/* Scans on from pWalk->p: passes over iSkip elements of the path, takes the
 * next one into pOut (and its tag positions) and leaves the scan just after
 * its closing tag, at the state a scan that passed over it would have there,
 * so that the next call continues exactly like a lookup of the next
 * occurrence from the start. Returns 0 found, 2 not found (pWalk->p is then
 * null). */
static int ScanToElement(ZoltXmlWalk *pWalk, int iSkip, CGenStr *pOut, const char **ppTagStart,
                         const char **ppTagEnd)
{
    ZoltXmlWalk &w = *pWalk;
    const int n = w.iPathDepth;
    int k = iSkip;
    const char *pValue = nullptr;
    const char *pTagStart = nullptr;
    const char *p = w.p;
    w.p = nullptr; /* until an element is found */
    if (p == nullptr)
        return 2;

    /* p never passes the terminator; a tag often follows a tag at once */
    while ((p = *p == '<' ? p : (const char *)memchr(p, '<', (size_t)(w.pTextEnd - p))) !=
           nullptr) {
        if (p[1] == '!' || p[1] == '?') {
            p++;
            continue;
        }
        const char *pName = nullptr;
        int iLen = 0;
        if (p[1] == '/') {
            if (w.d == 0) { /* stray closing tag: passed over */
                p++;
                continue;
            }
            const char *pEnd = TagAt(p, w.pTextEnd, &pName, &iLen);
            if (pEnd == nullptr)
                return 2;       /* no '>' anywhere after: no tag can close any more */
            if (*pEnd == '/') { /* "</X/>" is no closing tag */
                p = pEnd + 2;
                continue;
            }
            if (iLen != w.aiOpenLen[w.d - 1] ||
                memcmp(pName, w.apOpen[w.d - 1], (size_t)iLen) != 0) {
                TPRINTF(ZOLT_TRACE_PROG, __FILE__, __LINE__, "",
                        "ZoltXmlGetField(), unmatched tag, %.*s\n", w.aiOpenLen[w.d - 1],
                        w.apOpen[w.d - 1]);
                p = pEnd + 1;
                continue;
            }
            const int bFound = w.d == n && pValue != nullptr;
            const char *pClose = p;
            w.d--;
            if (w.iMatched > w.d)
                w.iMatched = w.d;
            p = pEnd + 1;
            if (bFound) {
                /* one bounded write: a wrapped buffer that is too small fails */
                if (pClose - pValue > INT_MAX ||
                    CGenStrSprintf(pOut, "%.*s", (int)(pClose - pValue), pValue) < 0) {
                    CGenStrClear(pOut);
                    return 2;
                }
                if (ppTagStart != nullptr)
                    *ppTagStart = pTagStart;
                if (ppTagEnd != nullptr)
                    *ppTagEnd = p;
                w.p = p;
                return 0;
            }
            continue;
        }

        const char *pEnd = TagAt(p, w.pTextEnd, &pName, &iLen);
        if (pEnd == nullptr)
            return 2;
        if (*pEnd == '/') { /* "<X/>": passed over, never pushed */
            p = pEnd + 2;
            continue;
        }
        if (w.d >= ZOLT_XML_MAX_OPEN) {
            TPRINTF(ZOLT_TRACE_PROG, __FILE__, __LINE__, "",
                    "ZoltXmlGetField(), nesting deeper than %d\n", ZOLT_XML_MAX_OPEN);
            return 2;
        }
        w.apOpen[w.d] = pName;
        w.aiOpenLen[w.d] = iLen;
        if (w.iMatched == w.d && w.d < n && iLen == w.aiPathLen[w.d] &&
            memcmp(pName, w.aszPath[w.d], (size_t)iLen) == 0)
            w.iMatched = w.d + 1;
        w.d++;
        if (w.d == n && w.iMatched == n && pValue == nullptr) {
            if (k == 0) {
                pValue = pEnd + 1;
                pTagStart = p;
            } else {
                k--;
            }
        }
        p = pEnd + 1;
    }
    return 2;
}

/* See the header. */
int ZoltXmlWalkInit(ZoltXmlWalk *pWalk, const char *szText, const char *pTextEnd,
                    const char *szPath)
{
    pWalk->p = nullptr;
    pWalk->pTextEnd = pTextEnd;
    pWalk->d = pWalk->iMatched = 0;
    if (szText == nullptr || szPath == nullptr || *szText == '\0')
        return 2;
    pWalk->iPathDepth = SplitPath(szPath, pWalk->aszPath);
    if (pWalk->iPathDepth == 0)
        return 2;
    for (int i = 0; i < pWalk->iPathDepth; i++)
        pWalk->aiPathLen[i] = (int)strlen(pWalk->aszPath[i]);
    pWalk->p = szText;
    return 0;
}

/* See the header. */
int ZoltXmlWalkNext(ZoltXmlWalk *pWalk, CGenStr *pOut)
{
    if (pOut == nullptr)
        return 2;
    CGenStrClear(pOut);
    return ScanToElement(pWalk, 0, pOut, nullptr, nullptr);
}

/* The lookup with the text's terminator given; see the header. */
int ZoltXmlGetFieldInText(const char *szText, const char *pTextEnd, const char **ppTagStart,
                          const char **ppTagEnd, const char *szPath, int iOccurrence, CGenStr *pOut)
{
    if (ppTagStart != nullptr)
        *ppTagStart = nullptr;
    if (ppTagEnd != nullptr)
        *ppTagEnd = nullptr;
    if (pOut == nullptr)
        return 2;
    CGenStrClear(pOut);
    ZoltXmlWalk walk;
    if (iOccurrence < 0 || ZoltXmlWalkInit(&walk, szText, pTextEnd, szPath) != 0)
        return 2;
    return ScanToElement(&walk, iOccurrence, pOut, ppTagStart, ppTagEnd);
}

int ZoltXmlGetFieldStr(const char *szText, const char *szPath, int iOccurrence, CGenStr *pOut)
{
    return ZoltXmlGetFieldStrAndTagStartEnd(szText, nullptr, nullptr, szPath, iOccurrence, pOut);
}

/* Lookup into a caller buffer; on any failure the buffer is left empty. */
int ZoltXmlGetField(const char *szText, const char *szPath, int iOccurrence, char *szBuf, int iSize)
{
    if (szBuf == nullptr || iSize < 1)
        return 2;
    szBuf[0] = '\0';
    CGenStr str;
    if (CGenStrInitBuff(&str, szBuf, 0, iSize) == 0)
        return 2;
    int iRc = ZoltXmlGetFieldStr(szText, szPath, iOccurrence, &str);
    if (iRc != 0)
        szBuf[0] = '\0';
    return iRc;
}

/* See the header. memchr finds each LF, so the cost is linear in iLen. */
int ZoltMessageSplitReceived(char *pText, int iLen, int (*pfnMessage)(char *szMessage))
{
    if (pText == nullptr || iLen <= 0)
        return 0;
    int iCount = 0;
    char *p = pText;
    char *pEnd = pText + iLen;
    while (p < pEnd) {
        char *pLf = (char *)memchr(p + 1, '\n', (size_t)(pEnd - p - 1));
        while (pLf != nullptr && pLf[-1] != '\r')
            pLf = (char *)memchr(pLf + 1, '\n', (size_t)(pEnd - pLf - 1));
        if (pLf == nullptr)
            break; /* a fragment without CR LF */
        char *pCr = pLf - 1;
        if (memchr(p, '\0', (size_t)(pCr - p)) != nullptr) {
            TPRINTF(ZOLT_TRACE_PROG, __FILE__, __LINE__, "",
                    "ZoltMessageSplitReceived(): message of %d bytes with a NUL byte dropped\n",
                    (int)(pCr - p));
        } else {
            *pCr = '\0';
            if (pfnMessage != nullptr)
                pfnMessage(p);
            iCount++;
        }
        p = pLf + 1;
    }
    return iCount;
}

/* A header number read into an 80-byte buffer as base 10. */
static int GetHeaderNumber(const char *szMsg, const char *szPath, long *plOut)
{
    char szValue[80];
    int iRc = ZoltXmlGetField(szMsg, szPath, 0, szValue, sizeof szValue);
    if (iRc != 0)
        return iRc;
    if (plOut != nullptr)
        *plOut = strtol(szValue, nullptr, 10);
    return 0;
}

int ZoltMessageGetSender(const char *szMsg, long *plOut)
{
    return GetHeaderNumber(szMsg, "MSG/HDR/FROM", plOut);
}

int ZoltMessageGetMessageId(const char *szMsg, long *plOut)
{
    return GetHeaderNumber(szMsg, "MSG/HDR/ID", plOut);
}

int ZoltMessageGetMessageRe(const char *szMsg, long *plOut)
{
    return GetHeaderNumber(szMsg, "MSG/HDR/RE", plOut);
}

/* MSG/HDR/TYPE as a new zeroed heap copy (length + 4 bytes); see the header. */
int ZoltMessageGetMessageType(const char *szMsg, char **ppszOut)
{
    char szType[100];
    int iRc = ZoltXmlGetField(szMsg, "MSG/HDR/TYPE", 0, szType, sizeof szType);
    if (iRc != 0)
        return iRc;
    size_t uLen = strlen(szType);
    char *pCopy = (char *)calloc(uLen + 4, 1);
    if (pCopy == nullptr)
        return 10;
    memcpy(pCopy, szType, uLen + 1); /* with its terminator */
    if (ppszOut != nullptr)
        *ppszOut = pCopy;
    else
        free(pCopy);
    return 0;
}

/* Most entries of a keyword or type list that are tried. */
#define ZOLT_PARSE_MAX_ENTRIES 100

/* See the header. */
int ZoltParsePacketHeaderAndData(const char *szMsg, long *plSender, long *plId,
                                 const char *const *ppszKeywords, char *szData, int iDataSize)
{
    if (szData != nullptr && iDataSize > 0)
        szData[0] = '\0';
    if (szMsg == nullptr)
        return -1;
    size_t uMsgLen = strlen(szMsg);
    if (uMsgLen > (size_t)INT_MAX - 100)
        return -1;
    int iWorkSize = (int)uMsgLen + 100;
    char *pWork = (char *)malloc((size_t)iWorkSize);
    if (pWork == nullptr)
        return -1;
    long lSender = 0, lId = 0;
    if (ZoltXmlGetField(szMsg, "MSG/DATA", 0, pWork, iWorkSize) != 0 ||
        ZoltMessageGetSender(szMsg, &lSender) != 0 || ZoltMessageGetMessageId(szMsg, &lId) != 0) {
        free(pWork);
        return -1;
    }
    if (plSender != nullptr)
        *plSender = lSender;
    if (plId != nullptr)
        *plId = lId;
    if (szData != nullptr && iDataSize > 0)
        strncpy(szData, pWork, (size_t)iDataSize);
    int iRc = 0;
    for (int i = 0;
         ppszKeywords != nullptr && i < ZOLT_PARSE_MAX_ENTRIES && ppszKeywords[i] != nullptr; i++) {
        if (strncmp(pWork, ppszKeywords[i], strlen(ppszKeywords[i])) == 0) {
            iRc = i + 1;
            break;
        }
    }
    free(pWork);
    return iRc;
}

/* See the header; a message without TYPE gives -1, told apart from a match. */
int ZoltParsePacketType(const char *szMsg, const char *const *ppszTypes)
{
    char szType[100];
    if (ZoltXmlGetField(szMsg, "MSG/HDR/TYPE", 0, szType, sizeof szType) != 0)
        return -1;
    for (int i = 0; ppszTypes != nullptr && i < ZOLT_PARSE_MAX_ENTRIES && ppszTypes[i] != nullptr;
         i++) {
        if (strcmp(szType, ppszTypes[i]) == 0)
            return i + 1;
    }
    return 0;
}

/* ======================================================================
 * Escaping
 * ====================================================================== */

static void BuildCharType(void)
{
    TPRINTF(ZOLT_TRACE_PROG, __FILE__, __LINE__, "",
            "ZoltXmlAllocStringAndConvertToXml:Initializing array\n");
    for (int c = 0; c < 128; c++)
        cCharType[c] =
            (IsAsciiLetter(c) || (c != 0 && strchr(s_szSafeChars, c) != nullptr)) ? 1 : 0;
}

static int IsSafeChar(unsigned char c)
{
    return c < 128 && cCharType[c] != 0;
}

/* See the header. Never fails: out of memory returns szText unescaped. */
char *ZoltXmlAllocStringAndConvertToXml(const char *szText)
{
    std::call_once(s_CharTypeOnce, BuildCharType);
    TPRINTF(ZOLT_TRACE_PROG, __FILE__, __LINE__, "",
            "ZoltXmlAllocStringAndConvertToXml:Replacing string\n");
    if (szText == nullptr)
        return nullptr;
    size_t uUnsafe = 0, uLen = 0;
    for (const unsigned char *p = (const unsigned char *)szText; *p != '\0'; p++, uLen++)
        uUnsafe += IsSafeChar(*p) ? 0 : 1;
    if (uUnsafe == 0) {
        TPRINTF(ZOLT_TRACE_PROG, __FILE__, __LINE__, "",
                "ZoltXmlAllocStringAndConvertToXml:No translated characters\n");
        return (char *)szText;
    }
    char *pOut = (char *)calloc(uLen + 2 * uUnsafe + 1, 1);
    if (pOut == nullptr)
        return (char *)szText;
    char *w = pOut;
    for (const unsigned char *p = (const unsigned char *)szText; *p != '\0'; p++) {
        if (IsSafeChar(*p)) {
            *w++ = (char)*p;
        } else {
            *w++ = '@';
            *w++ = ToHexChar(*p >> 4);
            *w++ = ToHexChar(*p);
        }
    }
    *w = '\0';
    return pOut;
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

char FromHexCharXml(const char *p)
{
    if (p == nullptr || p[0] != '@')
        return ' ';
    int iHigh = HexValue(p[1]);
    if (iHigh < 0)
        return ' '; /* also a terminator right after '@': p[2] is not read */
    int iLow = HexValue(p[2]);
    if (iLow < 0)
        return ' ';
    return (char)(iHigh * 16 + iLow);
}

char ToHexChar(int iValue)
{
    return "0123456789ABCDEF"[iValue & 0xF];
}

/* Decodes in place; an '@' closer than three characters to the end decodes to
 * a blank and ends the scan at the terminator. Returns 0. */
int ZoltXmlConvertFromXmlToText(char *szText)
{
    if (szText == nullptr)
        return 0;
    char *w = szText;
    const char *r = szText;
    while (*r != '\0') {
        if (*r != '@') {
            *w++ = *r++;
            continue;
        }
        *w++ = FromHexCharXml(r);
        if (r[1] == '\0' || r[2] == '\0')
            break;
        r += 3;
    }
    *w = '\0';
    return 0;
}

int IsBadXmlIdentifier(const char *szText)
{
    static const char s_szIdentChars[] = "0123456789$-_.+!*'(),{}|\\^~[]`";
    if (szText == nullptr)
        return 1;
    for (const unsigned char *p = (const unsigned char *)szText; *p != '\0'; p++) {
        if (!IsAsciiLetter(*p) && strchr(s_szIdentChars, *p) == nullptr)
            return 2;
    }
    return 0;
}
