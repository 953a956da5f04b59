/* nls-access.cpp - language strings: NLS tags ("<NLS mod=m id=x v=1/>"), the
 * requests to the language-string engine (NLS_GETSTRING, NLS_REGMOD) sent as
 * transactions, picking the text out of the answer, and adding variables.
 * DESIGN: no state but the default language. Each request builds its command
 * (below 200 characters), wraps it into an NLS_COMMAND message in its own heap
 * buffer, waits at most 5 s for the answer in that same buffer and frees it.
 * In the answer the text follows the first "<NLS " element as "<XX>text"
 * (XX the language, "EN" as fall-back), @hh-escaped, ending at the next '<'.
 * A tag the engine has no text for comes back as the tag itself ("TK"). */
#include "nls-access.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "client-messaging-engine.h"
#include "message-protocol.h"
#include "trace.h"
#include "zolt-string.h"

char g_szLocalDefaultLanguage[3] = "EN";

static const char s_szNlsTagStart[] = "<NLS ";
static const char s_szNlsTagEnd[] = "/>";
/* Returned language when the tag itself comes back (a token). */
static const char s_szTokenLanguage[] = "TK";
/* The register request's buffer: 1024 bytes, the answer is only traced. */
#define NLS_REGMOD_BUFFER_SIZE 1024

/* The default language ("EN"). */
const char *ZoltGetLocalDefaultLanguage(void)
{
    return g_szLocalDefaultLanguage;
}

/* Picks the text for szLanguage out of the answer szReply (modified: the text
 * is decoded in place). Returns 1 with *pszText and szFoundLang set, 2 when
 * neither the language nor "<EN>" is there, 0 when the answer is malformed. */
static int ParseNlsReply(char *szReply, const char *szLanguage, char **pszText, char *szFoundLang)
{
    char *pNls = strstr(szReply, s_szNlsTagStart);
    if (pNls == NULL)
        return 0;
    char *pOpenEnd = strchr(pNls, '>');
    if (pOpenEnd == NULL)
        return 0;
    char szElement[8];
    snprintf(szElement, sizeof szElement, "<%.2s>", szLanguage);
    char *pLang = strstr(pOpenEnd + 1, szElement);
    if (pLang == NULL)
        pLang = strstr(pOpenEnd + 1, "<EN>");
    if (pLang == NULL)
        return 2;
    char *pText = pLang + 4;
    char *pClose = strchr(pText, '<');
    if (pClose == NULL)
        return 0;
    *pClose = '\0';
    ZoltXmlConvertFromXmlToText(pText);
    szFoundLang[0] = pLang[1];
    szFoundLang[1] = pLang[2];
    szFoundLang[2] = '\0';
    *pszText = pText;
    return 1;
}

/* Asks the language-string engine for the text of szTag in szLanguage (null:
 * the default). szReturnedLanguage (3 bytes) receives the language of the
 * text, or "TK" when the engine had none and pResult holds the tag itself.
 * Returns 1 with the text in pResult (an initialised CGenStr), else 0: null
 * outputs, a tag not starting with "<NLS ", a language not 2 characters long,
 * a request of 200 characters or more, no engine, no answer within 5 s, or a
 * malformed answer. Main thread (a transaction). */
int ZoltGetNlsStringWithXmlTag(const char *szTag, const char *szLanguage, char *szReturnedLanguage,
                               CGenStr *pResult)
{
    if (szReturnedLanguage == NULL || pResult == NULL || !CGenStrIsInit(pResult))
        return 0;
    szReturnedLanguage[0] = '\0';
    CGenStrClear(pResult);
    if (szTag == NULL || strncmp(szTag, s_szNlsTagStart, sizeof s_szNlsTagStart - 1) != 0)
        return 0;
    const char *szLang = szLanguage != NULL ? szLanguage : g_szLocalDefaultLanguage;
    if (strlen(szLang) != 2)
        return 0;

    char szCommand[ZOLT_NLS_COMMAND_SIZE];
    int iLen = snprintf(szCommand, sizeof szCommand, "NLS_GETSTRING:%s:%s", szLang, szTag);
    if (iLen < 0 || iLen >= (int)sizeof szCommand) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltGetNlsString:Request too long.\n");
        return 0;
    }
    char *szReply = (char *)calloc(1, ZOLT_NLS_REPLY_SIZE);
    if (szReply == NULL)
        return 0;
    int iResult = 0;
    char *szText = NULL;
    char szFound[3];
    if (ZoltClientCreateNlsEngineCommand(szCommand, szReply, ZOLT_NLS_REPLY_SIZE) != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltGetNlsString:Command create failed.\n");
    } else if (ZoltClientSendTransaction(szReply, szReply, ZOLT_NLS_REPLY_SIZE, ZOLT_NLS_TIMEOUT_MS,
                                         0) != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltGetNlsString:No response.\n");
    } else {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltGetNlsString:Returned data: = %s\n", szReply);
        switch (ParseNlsReply(szReply, szLang, &szText, szFound)) {
        case 1:
            if (CGenStrAssignChar(pResult, szText)) {
                memcpy(szReturnedLanguage, szFound, 3);
                iResult = 1;
            }
            break;
        case 2:
            if (CGenStrAssignChar(pResult, szTag)) {
                memcpy(szReturnedLanguage, s_szTokenLanguage, 3);
                iResult = 1;
            }
            break;
        default:
            break;
        }
    }
    free(szReply);
    return iResult;
}

/* Text of the tag "<NLS [mod=szModule ]id=szId/>" in szLanguage (null: the
 * default) into szBuffer of iSize bytes. Returns szBuffer, or null: bad
 * arguments or identifiers (nothing written, or szBuffer emptied), a failed
 * request (szBuffer ""), a text too long (szBuffer holds the overflow
 * marker). A string the engine does not know comes back as the tag itself. */
char *ZoltGetNlsStringWithIdEx(const char *szModule, const char *szId, const char *szLanguage,
                               char *szBuffer, int iSize)
{
    if (szBuffer == NULL || iSize <= 0)
        return NULL;
    szBuffer[0] = '\0';
    if (IsBadXmlIdentifier(szId) != 0 || (szModule != NULL && IsBadXmlIdentifier(szModule) != 0))
        return NULL;
    char szTag[ZOLT_NLS_COMMAND_SIZE];
    int iLen;
    if (szModule != NULL)
        iLen = snprintf(szTag, sizeof szTag, "<NLS mod=%s id=%s/>", szModule, szId);
    else
        iLen = snprintf(szTag, sizeof szTag, "<NLS id=%s/>", szId);
    if (iLen < 0 || iLen >= (int)sizeof szTag)
        return NULL;

    CGenStr sText;
    if (!CGenStrInit(&sText))
        return NULL;
    char szReturned[3];
    char *szResult = NULL;
    if (ZoltGetNlsStringWithXmlTag(szTag, szLanguage, szReturned, &sText) &&
        ZoltSafeStrCpy(szBuffer, CGenStrC_Str(&sText), iSize))
        szResult = szBuffer;
    CGenStrDelete(&sText);
    return szResult;
}

/* ZoltGetNlsStringWithIdEx without module and language. */
char *ZoltGetNlsStringWithId(const char *szId, char *szBuffer, int iSize)
{
    return ZoltGetNlsStringWithIdEx(NULL, szId, NULL, szBuffer, iSize);
}

/* Registers the language-string file szPath with the engine:
 * "NLS_REGMOD:<own pid>:<file name>". Returns 0; 1 the file name is not a
 * valid identifier; 2 no memory; 3 the command could not be built; 4 no
 * answer within 5 s. Main thread (a transaction). */
int ZoltNlsRegisterModuleNlsFile(const char *szPath)
{
    const char *szName = szPath;
    if (szName != NULL) {
        const char *pSlash = strrchr(szName, '/');
        if (pSlash != NULL)
            szName = pSlash + 1;
    }
    if (IsBadXmlIdentifier(szName) != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltNlsRegisterModuleNlsFile:Bad module name (%s).\n",
                szName ? szName : "(null)");
        return 1;
    }
    char *szBuffer = (char *)calloc(1, NLS_REGMOD_BUFFER_SIZE);
    if (szBuffer == NULL) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltNlsRegisterModuleNlsFile:Buffer alloc failed.\n");
        return 2;
    }
    char szPid[32];
    ZoltGetLocalProcessIdString(szPid, sizeof szPid);
    char szCommand[NLS_REGMOD_BUFFER_SIZE];
    int iLen = snprintf(szCommand, sizeof szCommand, "NLS_REGMOD:%s:%s", szPid, szName);
    if (iLen < 0 || iLen >= (int)sizeof szCommand ||
        ZoltClientCreateNlsEngineCommand(szCommand, szBuffer, NLS_REGMOD_BUFFER_SIZE) != 0) {
        TPRINTF(3, __FILE__, __LINE__, "",
                "ZoltNlsRegisterModuleNlsFile:NLS command create failed.\n");
        free(szBuffer);
        return 3;
    }
    if (ZoltClientSendTransaction(szBuffer, szBuffer, NLS_REGMOD_BUFFER_SIZE, ZOLT_NLS_TIMEOUT_MS,
                                  0) != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltNlsRegisterModuleNlsFile:No response.\n");
        free(szBuffer);
        return 4;
    }
    TPRINTF(3, __FILE__, __LINE__, "", "ZoltNlsRegisterModuleNlsFile:Returned data: = %s\n",
            szBuffer);
    free(szBuffer);
    return 0;
}

/* Adds the variable szName=szValue (value @hh-escaped) before the closing "/>"
 * of the tag pTag. Returns 0, or (checked in this order) 1 bad name, 2 tag
 * null, 4 value null, 5 tag not starting with "<NLS ", 6 tag not ending with
 * "/>", 7 value not escaped, 9 tag not cut, 10 variable not appended; on any
 * failure the tag is unchanged. */
int ZoltNlsAddVariableToTagStr(CGenStr *pTag, const char *szName, const char *szValue)
{
    if (IsBadXmlIdentifier(szName) != 0)
        return 1;
    if (pTag == NULL || !CGenStrIsInit(pTag))
        return 2;
    if (szValue == NULL)
        return 4;
    const char *szTag = CGenStrC_Str(pTag);
    int iLen = CGenStrSize(pTag);
    if (strncmp(szTag, s_szNlsTagStart, sizeof s_szNlsTagStart - 1) != 0)
        return 5;
    if (iLen < 2 || strcmp(szTag + iLen - 2, s_szNlsTagEnd) != 0)
        return 6;
    char *szEscaped = ZoltXmlAllocStringAndConvertToXml(szValue);
    if (szEscaped == NULL)
        return 7;

    int iRc = 0;
    CGenStr sNew;
    if (!CGenStrInit(&sNew)) {
        iRc = 9;
    } else {
        if (!CGenStrSubstr(pTag, 0, iLen - 2, &sNew))
            iRc = 9;
        else if (!CGenStrCatf(&sNew, " %s=%s/>", szName, szEscaped) ||
                 !CGenStrAssignStr(pTag, &sNew))
            iRc = 10;
        CGenStrDelete(&sNew);
    }
    if (szEscaped != szValue)
        free(szEscaped);
    return iRc;
}

/* ZoltNlsAddVariableToTagStr on the tag in szTag (iSize bytes). Returns its
 * code, or 2 for a null buffer, 3 when the tag is not terminated within
 * iSize bytes or the result would not fit (szTag then unchanged). */
int ZoltNlsAddVariableToTag(char *szTag, int iSize, const char *szName, const char *szValue)
{
    if (szTag == NULL)
        return 2;
    if (iSize <= 0 || strnlen(szTag, (size_t)iSize) >= (size_t)iSize)
        return 3;
    CGenStr sTag;
    if (!CGenStrInitFromCStr(&sTag, szTag))
        return 3;
    int iRc = ZoltNlsAddVariableToTagStr(&sTag, szName, szValue);
    int iLen = CGenStrSize(&sTag);
    if (iLen < iSize)
        memcpy(szTag, CGenStrC_Str(&sTag), (size_t)iLen + 1);
    else
        iRc = 3;
    CGenStrDelete(&sTag);
    return iRc;
}

/* Appends szMessage to pResult with each NLS tag ("<NLS " up to the next
 * "/>") replaced by its text in szLanguage (the default language when
 * szLanguage is not 2 characters); a tag the engine does not translate stays
 * as it is, and a tag without "/>" goes through unchanged with the rest.
 * Returns 1, or 0 for a null or empty message, no usable language, or a
 * failed append. Main thread (transactions). */
int ZoltGetNlsMessageWithXmlMessage(const char *szMessage, const char *szLanguage, CGenStr *pResult)
{
    if (szMessage == NULL || szMessage[0] == '\0') {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltGetNlsMessageWithXmlMessage: Null message\n");
        return 0;
    }
    if (szLanguage == NULL || strlen(szLanguage) != 2) {
        TPRINTF(
            3, __FILE__, __LINE__, "",
            "ZoltGetNlsMessageWithXmlMessage: no input lang to translate to - trying default lang\n");
        szLanguage = g_szLocalDefaultLanguage;
        if (strlen(szLanguage) != 2) {
            TPRINTF(3, __FILE__, __LINE__, "",
                    "ZoltGetNlsMessageWithXmlMessage: could not get language id to translate to\n");
            return 0;
        }
    }
    if (pResult == NULL)
        return 0;
    size_t uLen = strlen(szMessage);
    char *szCopy = (char *)malloc(uLen + 1);
    if (szCopy == NULL)
        return 0;
    memcpy(szCopy, szMessage, uLen + 1);
    CGenStr sText;
    if (!CGenStrInit(&sText)) {
        free(szCopy);
        return 0;
    }

    int iResult = 1;
    char *p = szCopy;
    for (;;) {
        char *pTag = strstr(p, s_szNlsTagStart);
        char *pEnd = pTag != NULL ? strstr(pTag, s_szNlsTagEnd) : NULL;
        if (pTag == NULL || pEnd == NULL) {
            iResult = CGenStrCatChar(pResult, p);
            break;
        }
        *pTag = '\0';
        int bOk = CGenStrCatChar(pResult, p);
        *pTag = '<';
        char *pAfter = pEnd + 2;
        char cSaved = *pAfter;
        *pAfter = '\0';
        char szReturned[3];
        if (bOk) {
            if (ZoltGetNlsStringWithXmlTag(pTag, szLanguage, szReturned, &sText))
                bOk = CGenStrCatStr(pResult, &sText);
            else
                bOk = CGenStrCatChar(pResult, pTag);
        }
        *pAfter = cSaved;
        if (!bOk) {
            iResult = 0;
            break;
        }
        p = pAfter;
    }
    CGenStrDelete(&sText);
    free(szCopy);
    return iResult;
}
