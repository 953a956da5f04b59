/* dapi2-events.cpp - test events to the diagnostic engine (DE_EVENT messages),
 * the progress throttle and percent-done filter, polling for DAPI_COMMAND
 * messages (stop, time-out value) and the NLS token builders.
 * DESIGN: one thread at a time (the test's thread) uses these functions; the
 * statics are not locked. Events go out through g_pfnDapi2SendMessage, which
 * hands them to the pipe read/write thread. The throttle and the time-out wait
 * run on a monotonic millisecond clock, so midnight UTC stalls neither. */
#include "dapi2.h"

#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "client-messaging-engine.h"
#include "message-protocol.h"
#include "nls-access.h"
#include "trace.h"
#include "zolt-string.h"

/* The engine answers GET_TIMEOUT within 2 s or not at all. */
#define DAPI2_GETTIMEOUT_WAIT_MS 2000u
/* Header buffer of one event message: FROM, TO, ID, TYPE, TIME fit easily. */
#define DAPI2_EVENT_HDR_SIZE 150
/* Field buffers of an incoming DAPI_COMMAND. */
#define DAPI2_CMD_FIELD_SIZE 100

int g_iStopTesting = 0;
int g_iTestTimeout = -2;
uint32_t (*g_pfnDapi2EventClock)(void) = Dapi2_I_MonotonicMs;

static uint32_t ulLastTime = 0;       /* when the last timed progress went out */
static int s_bTimedProgressSent = 0;  /* 0 until the first timed progress event */
static int iPreviousPercentDone = -1; /* last percent-done value given */

/* Milliseconds of CLOCK_MONOTONIC, wrapping modulo 2^32. Any thread. */
uint32_t Dapi2_I_MonotonicMs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint32_t)((uint64_t)ts.tv_sec * 1000u + (uint64_t)ts.tv_nsec / 1000000u);
}

/* Restores the start values of the event state. For tests. */
void Dapi2_I_ResetEventState(void)
{
    ulLastTime = 0;
    s_bTimedProgressSent = 0;
    iPreviousPercentDone = -1;
    g_iStopTesting = 0;
    g_iTestTimeout = -2;
}

/* Wraps a data text into a DE_EVENT message to DIAGENGINE and sends it.
 * Returns 0, 27 no message buffer, 26 header, 25 message (too long), 24 send. */
int Dapi2_I_SendEvent(const char *szDataText)
{
    char *szMsg = (char *)calloc(1, DAPI2_EVENT_MSG_SIZE);
    if (szMsg == NULL) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_I_SendEvent:outofmem\n");
        return DAPI2_ERR_NOMEM;
    }
    char szHeader[DAPI2_EVENT_HDR_SIZE];
    if (ZoltCreateMessageHeader(szHeader, sizeof szHeader, "DIAGENGINE", NULL, "DE_EVENT", NULL) !=
        0) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_I_SendEvent:createheader failed\n");
        free(szMsg);
        return DAPI2_ERR_HEADER;
    }
    if (ZoltCreateMessage(szMsg, DAPI2_EVENT_MSG_SIZE, "MSG", szHeader, szDataText, (char *)NULL) !=
        0) {
        free(szMsg);
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_I_SendEvent:createmessage failed\n");
        return DAPI2_ERR_MESSAGE;
    }
    TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_I_SendEvent: sending = %s\n", szMsg);
    int iRc = 0;
    if (g_pfnDapi2SendMessage(szMsg) != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_I_SendEvent:sendmessage failed\n");
        iRc = DAPI2_ERR_SEND;
    }
    free(szMsg);
    return iRc;
}

/* Builds "<opening with the process id>" + formatted text + szClose in an
 * 8192-byte buffer and sends it. A formatted text too long for the buffer is
 * cut so that the closing part always fits. Returns 0 or 27 (no buffer); the
 * send result is traced by Dapi2_I_SendEvent and dropped. */
static int Dapi2_I_SendTextEvent(const char *szType, const char *szClose, const char *szFormat,
                                 va_list args)
{
    char *szText = (char *)calloc(1, DAPI2_EVENT_TEXT_SIZE);
    if (szText == NULL)
        return DAPI2_ERR_NOMEM;
    int iLen = snprintf(szText, DAPI2_EVENT_TEXT_SIZE,
                        "<DATA><EVENT><TYPE>%s</TYPE><TESTPROCESSID>%s</TESTPROCESSID><TEXT>",
                        szType, g_szProcessId);
    int iCloseLen = (int)strlen(szClose);
    int iRoom = DAPI2_EVENT_TEXT_SIZE - iLen - iCloseLen; /* bytes for text + NUL */
    if (iRoom > 1 && szFormat != NULL) {
        int iOut = vsnprintf(szText + iLen, (size_t)iRoom, szFormat, args);
        if (iOut > 0)
            iLen += iOut < iRoom ? iOut : iRoom - 1;
    }
    memcpy(szText + iLen, szClose, (size_t)iCloseLen + 1);
    Dapi2_I_SendEvent(szText);
    free(szText);
    return 0;
}

/* Builds a data text without formatted part (percent, time-out events) in the
 * 8192-byte buffer and sends it. Returns 0 or 27. */
static int Dapi2_I_SendFixedEvent(const char *szFormat, ...) DAPI2_FMT(1, 2);
static int Dapi2_I_SendFixedEvent(const char *szFormat, ...)
{
    char *szText = (char *)calloc(1, DAPI2_EVENT_TEXT_SIZE);
    if (szText == NULL)
        return DAPI2_ERR_NOMEM;
    va_list args;
    va_start(args, szFormat);
    vsnprintf(szText, DAPI2_EVENT_TEXT_SIZE, szFormat, args);
    va_end(args);
    Dapi2_I_SendEvent(szText);
    free(szText);
    return 0;
}

static const char s_szCloseNoCode[] = "</TEXT></EVENT></DATA>";

/* PROGRESS event, never throttled. Returns 0 or 27. */
int Dapi2_SetProgressInformation(const char *szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    int iRc = Dapi2_I_SendTextEvent("PROGRESS", s_szCloseNoCode, szFormat, args);
    va_end(args);
    return iRc;
}

/* PROGRESS event, at most one per uIntervalMs: sent when more than uIntervalMs
 * ms passed since the last one that went out (the first always goes). The time
 * is taken before the buffer, so a call failing with 27 still counts as sent.
 * Returns 0 (also when throttled) or 27. */
int Dapi2_SetProgressInformationTimed(uint32_t uIntervalMs, const char *szFormat, ...)
{
    uint32_t uNow = g_pfnDapi2EventClock();
    if (s_bTimedProgressSent && (uint32_t)(uNow - ulLastTime) <= uIntervalMs)
        return 0;
    ulLastTime = g_pfnDapi2EventClock();
    s_bTimedProgressSent = 1;
    va_list args;
    va_start(args, szFormat);
    int iRc = Dapi2_I_SendTextEvent("PROGRESS", s_szCloseNoCode, szFormat, args);
    va_end(args);
    return iRc;
}

/* PERCENTDONE event, sent only when iPercent differs from the previous value
 * (which is stored even when the buffer cannot be obtained). Values are not
 * range-checked. Returns 0 or 27. */
int Dapi2_SetPercentDone(int iPercent)
{
    if (iPercent == iPreviousPercentDone)
        return 0;
    iPreviousPercentDone = iPercent;
    return Dapi2_I_SendFixedEvent("<DATA><EVENT><TYPE>PERCENTDONE</TYPE><TESTPROCESSID>%s"
                                  "</TESTPROCESSID><TEXT>%i</TEXT></EVENT></DATA>",
                                  g_szProcessId, iPercent);
}

/* INFO event with EVENTCODE -1. Returns 0 or 27. */
int Dapi2_Informative(const char *szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    int iRc = Dapi2_I_SendTextEvent("INFO", "</TEXT><EVENTCODE>-1</EVENTCODE></EVENT></DATA>",
                                    szFormat, args);
    va_end(args);
    return iRc;
}

/* Closing part with an event code: "</TEXT><EVENTCODE>%i</EVENTCODE></EVENT></DATA>". */
static void Dapi2_I_CloseWithCode(char *szClose, size_t uSize, int iEventCode)
{
    snprintf(szClose, uSize, "</TEXT><EVENTCODE>%i</EVENTCODE></EVENT></DATA>", iEventCode);
}

/* WARN event with the given code. Returns 0 or 27. */
int Dapi2_Warning(int iEventCode, const char *szFormat, ...)
{
    char szClose[80];
    Dapi2_I_CloseWithCode(szClose, sizeof szClose, iEventCode);
    va_list args;
    va_start(args, szFormat);
    int iRc = Dapi2_I_SendTextEvent("WARN", szClose, szFormat, args);
    va_end(args);
    return iRc;
}

/* ERROR event with the given code. Returns 0 or 27. */
int Dapi2_Error(int iEventCode, const char *szFormat, ...)
{
    char szClose[80];
    Dapi2_I_CloseWithCode(szClose, sizeof szClose, iEventCode);
    va_list args;
    va_start(args, szFormat);
    int iRc = Dapi2_I_SendTextEvent("ERROR", szClose, szFormat, args);
    va_end(args);
    return iRc;
}

/* SET_TIMEOUT event. Returns 0 or 27. */
int Dapi2_SetTimeOut(int iTimeOut)
{
    return Dapi2_I_SendFixedEvent(
        "<DATA><EVENT><TYPE>SET_TIMEOUT</TYPE><TESTPROCESSID>%s"
        "</TESTPROCESSID><TIMEOUT_VALUE>%i</TIMEOUT_VALUE></EVENT></DATA>",
        g_szProcessId, iTimeOut);
}

/* CLEAR_TIMEOUT event. Returns 0 or 27. */
int Dapi2_ClearTimeOutCount(void)
{
    return Dapi2_I_SendFixedEvent("<DATA><EVENT><TYPE>CLEAR_TIMEOUT</TYPE><TESTPROCESSID>%s"
                                  "</TESTPROCESSID></EVENT></DATA>",
                                  g_szProcessId);
}

/* The base-10 value of a TIMEOUT_VALUE text, held to the int range: a value
 * beyond it becomes the nearest end instead of wrapping (4294967326 would
 * otherwise read as 30). */
static int TimeOutValue(const char *szValue)
{
    long long llValue = strtoll(szValue, NULL, 10);
    if (llValue > INT_MAX)
        return INT_MAX;
    return llValue < INT_MIN ? INT_MIN : (int)llValue;
}

/* Takes every waiting message; DAPI_COMMAND STOPTESTING raises g_iStopTesting,
 * SENDINGTIMEOUT stores TIMEOUT_VALUE in g_iTestTimeout; all others are
 * dropped. Every message taken is released here. Returns 0. */
int Dapi2_CheckForIncomingMessages(void)
{
    /* Polls always: a guard for the first 51 ms after midnight UTC would only
     * hide stop commands and time-out answers during that window. */
    for (;;) {
        if (ZoltClientWaitForMessages(1, 0) <= 0)
            break;
        ClientMessage *pMsg = ZoltClientGetNextMessage(NULL);
        if (pMsg == NULL)
            break;
        TPRINTF(3, __FILE__, __LINE__, "",
                "Dapi2_CheckForIncomingMessages:Received message %p (data %p = %s)\n", (void *)pMsg,
                (void *)pMsg->szMessage, pMsg->szMessage ? pMsg->szMessage : "");
        char szType[DAPI2_CMD_FIELD_SIZE];
        if (pMsg->szMessage != NULL &&
            ZoltXmlGetField(pMsg->szMessage, "MSG/HDR/TYPE", 0, szType, sizeof szType) == 0 &&
            strcmp(szType, "DAPI_COMMAND") == 0) {
            char szCommand[DAPI2_CMD_FIELD_SIZE];
            if (ZoltXmlGetField(pMsg->szMessage, "MSG/DATA/DAPICOMMANDTYPE", 0, szCommand,
                                sizeof szCommand) == 0) {
                if (strcmp(szCommand, "STOPTESTING") == 0) {
                    g_iStopTesting = 1;
                } else if (strcmp(szCommand, "SENDINGTIMEOUT") == 0) {
                    char szValue[DAPI2_CMD_FIELD_SIZE];
                    if (ZoltXmlGetField(pMsg->szMessage, "MSG/DATA/TIMEOUT_VALUE", 0, szValue,
                                        sizeof szValue) != 0)
                        szValue[0] = '\0';
                    g_iTestTimeout = TimeOutValue(szValue);
                }
            }
        }
        ZoltClientFreeMessage(pMsg);
    }
    return 0;
}

/* Polls the incoming messages; 1 once a stop command arrived, else 0. */
int Dapi2_CheckForStop(void)
{
    Dapi2_CheckForIncomingMessages();
    if (g_iStopTesting)
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_CheckForStop:Returning true\n");
    return g_iStopTesting;
}

/* Sends GET_TIMEOUT and polls (no sleep of its own; each poll waits up to 1 ms
 * for the FIFO) until a SENDINGTIMEOUT value is held or 2000 ms passed.
 * Returns 0 with the value (which is consumed), 24 null pointer or no answer
 * (*piTimeOut 0), 27 out of memory. */
int Dapi2_GetTimeOut(int *piTimeOut)
{
    if (piTimeOut == NULL)
        return DAPI2_ERR_SEND;
    *piTimeOut = 0;
    if (Dapi2_I_SendFixedEvent("<DATA><EVENT><TYPE>GET_TIMEOUT</TYPE><TESTPROCESSID>%s"
                               "</TESTPROCESSID></EVENT></DATA>",
                               g_szProcessId) != 0)
        return DAPI2_ERR_NOMEM;
    uint32_t uStart = g_pfnDapi2EventClock();
    for (;;) {
        Dapi2_CheckForIncomingMessages();
        if (g_iTestTimeout != -2)
            break;
        if ((uint32_t)(g_pfnDapi2EventClock() - uStart) >= DAPI2_GETTIMEOUT_WAIT_MS)
            return DAPI2_ERR_SEND;
    }
    *piTimeOut = g_iTestTimeout;
    g_iTestTimeout = -2;
    return 0;
}

/* ---- NLS tokens ---- */

/* Bounded copy of at most DAPI2_TOKEN_VAR_LEN characters into a buffer of
 * DAPI2_TOKEN_VAR_LEN + 1 bytes, always terminated; null copies nothing. */
static void Dapi2_I_CopyVarText(char *szDst, const char *szSrc)
{
    if (szSrc == NULL)
        return;
    ZoltStrNCpy(szDst, szSrc, DAPI2_TOKEN_VAR_LEN);
    szDst[DAPI2_TOKEN_VAR_LEN] = '\0';
}

/* "<NLS mod=%s id=%s />" in a static 1024-byte buffer. */
char *Dapi2_NlsTagToTokenMod(const char *szModule, const char *szId)
{
    static char s_szToken[DAPI2_TOKEN_SIZE];
    snprintf(s_szToken, sizeof s_szToken, "<NLS mod=%s id=%s />", szModule ? szModule : "",
             szId ? szId : "");
    return s_szToken;
}

/* This process's module name with its suffix (zoltcpu.zmd), at most 64
 * characters, into szModule (65 bytes). The name is looked up once. */
static void Dapi2_I_TokenModuleName(char *szModule)
{
    static char s_szName[DAPI2_TOKEN_VAR_LEN + 1];
    if (s_szName[0] == '\0') {
        const char *szName = pidToProcName((int)getpid());
        Dapi2_I_CopyVarText(s_szName, szName ? szName : "zoltmodule.zmd");
    }
    memcpy(szModule, s_szName, sizeof s_szName);
}

/* The token of szId for this process's module, in a static 1024-byte buffer. */
char *Dapi2_NlsTagToToken(const char *szId)
{
    static char s_szModule[DAPI2_TOKEN_VAR_LEN + 1];
    static char s_szToken[DAPI2_TOKEN_SIZE];
    Dapi2_I_TokenModuleName(s_szModule);
    ZoltSafeStrNCpy(s_szToken, Dapi2_NlsTagToTokenMod(s_szModule, szId), sizeof s_szToken);
    return s_szToken;
}

/* Adds one variable per "%" of szTypes to the token in szToken (1024 bytes),
 * taking name/value pairs from args (rules in dapi2-events.h). */
static void Dapi2_I_AddTokenVariables(char *szToken, const char *szTypes, va_list args)
{
    if (szTypes == NULL || strlen(szTypes) < 2)
        return;
    char szName[DAPI2_TOKEN_VAR_LEN + 1] = "";
    const char *p = strchr(szTypes, '%');
    while (p != NULL) {
        const char *pNext = strchr(p + 1, '%');
        size_t uConvLen = pNext ? (size_t)(pNext - p) : strlen(p);
        char cType = p[uConvLen - 1];
        Dapi2_I_CopyVarText(szName, va_arg(args, const char *));

        /* Rebuild the conversion from its flags, width and precision only, so
         * that no "*" or stray length letter can take an argument of its own. */
        char szConv[DAPI2_TOKEN_VAR_LEN + 4];
        size_t uOut = 0;
        szConv[uOut++] = '%';
        for (size_t i = 1; i + 1 < uConvLen && uOut < DAPI2_TOKEN_VAR_LEN; i++) {
            char c = p[i];
            if (strchr("-+ #0123456789.", c) != NULL)
                szConv[uOut++] = c;
        }

        char szValue[DAPI2_TOKEN_VAR_LEN + 1] = "";
        switch (cType) {
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
        case 'l': {
            int iValue = va_arg(args, int);
            szConv[uOut++] = cType == 'l' ? 'd' : cType;
            szConv[uOut] = '\0';
            snprintf(szValue, sizeof szValue, szConv, iValue);
            break;
        }
        case 'e':
        case 'E':
        case 'f':
        case 'g':
        case 'G': {
            double dValue = va_arg(args, double);
            szConv[uOut++] = cType;
            szConv[uOut] = '\0';
            snprintf(szValue, sizeof szValue, szConv, dValue);
            break;
        }
        case 'c': {
            int iChar = va_arg(args, int);
            szConv[uOut++] = 'c';
            szConv[uOut] = '\0';
            snprintf(szValue, sizeof szValue, szConv, iChar);
            break;
        }
        default:
            Dapi2_I_CopyVarText(szValue, va_arg(args, const char *));
            break;
        }
        Dapi2_NlsAddVariableToTag(szToken, DAPI2_TOKEN_SIZE - 1, szName, szValue);
        TPRINTF(3, __FILE__, __LINE__, "", "szBuffer %s\n", szToken);
        p = pNext;
    }
}

/* Token of szId for this module plus variables; static 1024-byte buffer. */
char *Dapi2_NlsTagToTokenVar(const char *szId, const char *szTypes, ...)
{
    static char s_szModule[DAPI2_TOKEN_VAR_LEN + 1];
    static char s_szToken[DAPI2_TOKEN_SIZE];
    Dapi2_I_TokenModuleName(s_szModule);
    ZoltSafeStrNCpy(s_szToken, Dapi2_NlsTagToTokenMod(s_szModule, szId), sizeof s_szToken);
    va_list args;
    va_start(args, szTypes);
    Dapi2_I_AddTokenVariables(s_szToken, szTypes, args);
    va_end(args);
    return s_szToken;
}

/* Token of szId for module szModule plus variables; static 1024-byte buffer. */
char *Dapi2_NlsTagToTokenVarMod(const char *szModule, const char *szId, const char *szTypes, ...)
{
    static char s_szToken[DAPI2_TOKEN_SIZE];
    ZoltSafeStrNCpy(s_szToken, Dapi2_NlsTagToTokenMod(szModule, szId), sizeof s_szToken);
    va_list args;
    va_start(args, szTypes);
    Dapi2_I_AddTokenVariables(s_szToken, szTypes, args);
    va_end(args);
    return s_szToken;
}

/* Forwards to ZoltNlsAddVariableToTag; returns its code. */
int Dapi2_NlsAddVariableToTag(char *szToken, int iTokenSize, const char *szName,
                              const char *szValue)
{
    return ZoltNlsAddVariableToTag(szToken, iTokenSize, szName, szValue);
}

/* Text of a token in language szLang (exactly 2 characters) into szOut.
 * Returns szOut (empty when nothing was found), or null for a null szOut or a
 * size not above 0. Main thread (a 5000 ms transaction). */
char *Dapi2_NlsGetStringWithXmlTag(const char *szToken, const char *szLang, char *szOut,
                                   int iOutSize)
{
    if (szOut == NULL || iOutSize <= 0)
        return NULL;
    szOut[0] = '\0';
    if (szLang == NULL || strlen(szLang) != 2)
        return szOut;
    CGenStr result;
    if (!CGenStrInit(&result))
        return szOut;
    char szReturnedLang[3] = "";
    if (ZoltGetNlsStringWithXmlTag(szToken, szLang, szReturnedLang, &result))
        ZoltSafeStrCpy(szOut, CGenStrC_Str(&result), iOutSize);
    CGenStrDelete(&result);
    return szOut;
}

/* Forwards to ZoltGetNlsStringWithId. */
char *Dapi2_NlsGetStringWithId(const char *szId, char *szOut, int iOutSize)
{
    return ZoltGetNlsStringWithId(szId, szOut, iOutSize);
}

/* Forwards to ZoltGetNlsStringWithIdEx. */
char *Dapi2_NlsGetStringWithIdEx(const char *szModule, const char *szId, const char *szLang,
                                 char *szOut, int iOutSize)
{
    return ZoltGetNlsStringWithIdEx(szModule, szId, szLang, szOut, iOutSize);
}
