/* client-connection-manager.cpp - the module's connection to the message
 * broker: the STARTUP / ACK handshake, STOP, sending message texts and handing
 * received messages one by one to a callback.
 * DESIGN: the broker reads the module's STARTUP on its own FIFO, then opens the
 * FIFO named in READ and writes "<ACK></ACK>" (or "<ACK>ENUM_COMPLETE</ACK>")
 * as its first packet; the module then removes its FIFO's name, so that only
 * the broker, which has it open, can reach it. Packets are split at their
 * CR LF. Open and close run on the main thread; sends come from any thread
 * and are serialised by the transport's write lock.
 * The one call loop of the messaging layer runs through this file: opening the
 * connection registers the language-string file (nls-access), which runs a
 * transaction through the message table (client-messaging-engine), which sends
 * and waits through this connection. The registration must be the first thing
 * on a new connection, and the table is the only place that pairs a reply with
 * its request, so the loop stays; it runs once per open and never nests. */
#include "client-connection-manager.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "gen-str.h"
#include "message-protocol.h"
#include "nls-access.h"
#include "pipe-lowlevel.h"
#include "trace.h"
#include "zolt-string.h"
#include "zolt-time.h"

int g_iAckTimeoutMs = ZOLT_ACK_TIMEOUT_MS;
int g_iConnectionCount = 0;
char g_pszLanguageId[3] = "00";

/* The two acknowledgement forms, told apart by their first characters. */
static const char s_szAck[] = "<ACK></ACK>";
static const char s_szAckEnumComplete[] = "<ACK>ENUM_COMPLETE</ACK>";

/* Work-buffer sizes of the STARTUP elements: a path of about 280 characters
 * in READ and NLSDATA, names and classes of about 65, and an executable file
 * name as long as a path (4096) plus its markup. */
#define STARTUP_READ_SIZE 300
#define STARTUP_PID_SIZE 80
#define STARTUP_NAME_SIZE 80
#define STARTUP_NLSDATA_SIZE 300
#define STARTUP_CLASS_SIZE 80
#define STARTUP_EXE_SIZE 4256
#define STARTUP_PACKET_SIZE 800
/* STOP: "<STOP><PID>n</PID></STOP>\r\n" fits easily. */
#define STOP_PID_SIZE 80
#define STOP_PACKET_SIZE 100

/* Builds and sends the STARTUP packet with its six children in order:
 * READ (own read FIFO), PID, NAME, NLSDATA, CLASS, EXE_FILENAME.
 * Returns 0; 1-5 when READ, PID, NAME, NLSDATA or CLASS did not fit its work
 * buffer; 6 for EXE_FILENAME or the whole packet; 7 when the send failed.
 * Null texts are sent empty. Main thread. */
int ZoltClient_I_SendFifoStartupMessage(const char *szName, const char *szClass,
                                        const char *szNlsData, const char *szExeFile)
{
    char szRead[STARTUP_READ_SIZE];
    char szPidText[32];
    char szPid[STARTUP_PID_SIZE];
    char szNameEl[STARTUP_NAME_SIZE];
    char szNls[STARTUP_NLSDATA_SIZE];
    char szClassEl[STARTUP_CLASS_SIZE];
    char *szExe = (char *)calloc(1, STARTUP_EXE_SIZE); /* too big for the stack of a test thread */
    char szPacket[STARTUP_PACKET_SIZE];
    int iRc = 0;

    snprintf(szPidText, sizeof szPidText, "%lu", (unsigned long)ZoltGetClientPid());
    if (ZoltCreateMessage(szRead, sizeof szRead, "READ", g_szOurFifoName, nullptr) != 0)
        iRc = 1;
    else if (ZoltCreateMessage(szPid, sizeof szPid, "PID", szPidText, nullptr) != 0)
        iRc = 2;
    else if (ZoltCreateMessage(szNameEl, sizeof szNameEl, "NAME", szName ? szName : "", nullptr) !=
             0)
        iRc = 3;
    else if (ZoltCreateMessage(szNls, sizeof szNls, "NLSDATA", szNlsData ? szNlsData : "",
                               nullptr) != 0)
        iRc = 4;
    else if (ZoltCreateMessage(szClassEl, sizeof szClassEl, "CLASS", szClass ? szClass : "",
                               nullptr) != 0)
        iRc = 5;
    else if (szExe == NULL ||
             ZoltCreateMessage(szExe, STARTUP_EXE_SIZE, "EXE_FILENAME", szExeFile ? szExeFile : "",
                               nullptr) != 0 ||
             ZoltCreateMessage(szPacket, sizeof szPacket, "STARTUP", szRead, szPid, szNameEl, szNls,
                               szClassEl, szExe, nullptr) != 0)
        iRc = 6;
    else if (ZoltClientSendMessage(szPacket) != 0)
        iRc = 7;
    if (iRc != 0)
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClient_I_SendFifoStartupMessage: failed %d\n", iRc);
    free(szExe);
    return iRc;
}

/* Sends STOP with the own process id. Returns 0, 1 not built, 2 not sent. */
static int SendStopMessage(void)
{
    char szPidText[32];
    char szPid[STOP_PID_SIZE];
    char szStop[STOP_PACKET_SIZE];
    snprintf(szPidText, sizeof szPidText, "%lu", (unsigned long)ZoltGetClientPid());
    if (ZoltCreateMessage(szPid, sizeof szPid, "PID", szPidText, nullptr) != 0 ||
        ZoltCreateMessage(szStop, sizeof szStop, "STOP", szPid, nullptr) != 0)
        return 1;
    return ZoltClientSendMessage(szStop) != 0 ? 2 : 0;
}

/* The worker of ZoltClientOpenConnectionEx; a non-zero lBrokerPid selects
 * that broker's FIFO first. Returns the codes of ZoltClientOpenConnectionEx,
 * but 40 instead of 0 when the broker answered "<ACK>ENUM_COMPLETE</ACK>".
 * A second open while one connection is counted shares it: it is counted
 * again and nothing is sent (both would use the same own FIFO); only the last
 * close sends STOP. If the counted connection has lost its broker, its FIFO
 * ends are closed and the second open makes a new connection. Main thread. */
int ZoltClient_I_OpenConnectionEx(long lBrokerPid, const char *szName, const char *szClass,
                                  const char *szNlsData, const char *szExePath)
{
    if (g_iConnectionCount >= 2) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientOpenConnection - conncection already open\n");
        return 1;
    }
    if (g_iConnectionCount == 1) {
        if (g_hFifoWrite > 0 && g_hFifoRead > 0) {
            g_iConnectionCount++;
            return 0;
        }
        ZoltClient_I_CloseFifoConnection(); /* the broker has gone: open afresh */
    }

    char szExeFile[ZOLT_PATH_SIZE];
    szExeFile[0] = '\0';
    if (szExePath != NULL && szExePath[0] != '\0')
        GetPathFilename(szExePath, szExeFile);
    if (lBrokerPid != 0)
        ZoltSetServerFifoName(lBrokerPid);

    int iRc = ZoltClient_I_OpenFifoConnection();
    if (iRc != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientOpenConnection: FIFO open failed %d\n", iRc);
        return 10 + iRc;
    }
    iRc = ZoltClient_I_SendFifoStartupMessage(szName, szClass, szNlsData, szExeFile);
    if (iRc != 0) {
        ZoltClient_I_CloseFifoConnection();
        return 20 + iRc;
    }

    int iLen = 0;
    char *szReply = ZoltClient_I_WaitForFifoData(&iLen, g_iAckTimeoutMs, 0);
    if (szReply == NULL) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientOpenConnection: no acknowledgement\n");
        ZoltClient_I_CloseFifoConnection();
        return 30;
    }
    int iResult;
    if (strncmp(szReply, s_szAck, sizeof s_szAck - 1) == 0) {
        iResult = 0;
    } else if (strncmp(szReply, s_szAckEnumComplete, sizeof s_szAckEnumComplete - 1) == 0) {
        iResult = 40;
    } else {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientOpenConnection: not an acknowledgement: %s\n",
                szReply);
        free(szReply);
        ZoltClient_I_CloseFifoConnection();
        return 31;
    }
    free(szReply); /* whatever came with the acknowledgement goes with it */
    ZoltClient_I_HideFifo();

    if (szNlsData != NULL && szNlsData[0] != '\0')
        ZoltNlsRegisterModuleNlsFile(szNlsData); /* the strings are optional */
    g_iConnectionCount++;
    return iResult;
}

/* Opens the connection to the broker (see the header for every code): 0
 * connected with either acknowledgement form; 1; 11, 12; 21-27; 30; 31.
 * A failed open leaves no handle open and no own FIFO behind. Main thread. */
int ZoltClientOpenConnectionEx(const char *szName, const char *szClass, const char *szNlsData,
                               const char *szExePath)
{
    int iRc = ZoltClient_I_OpenConnectionEx(0, szName, szClass, szNlsData, szExePath);
    return iRc == 40 ? 0 : iRc;
}

/* ZoltClientOpenConnectionEx with "Name Here", "NORMAL", no language data and
 * no executable. */
int ZoltClientOpenConnection(void)
{
    return ZoltClientOpenConnectionEx("Name Here", "NORMAL", "", NULL);
}

/* Closes the connection: STOP (best effort), the FIFO ends closed, the count
 * lowered. A shared connection (counted twice) is only uncounted once. Returns
 * 0. Main thread. */
int ZoltClientCloseConnection(void)
{
    if (g_iConnectionCount > 1) {
        g_iConnectionCount--;
        return 0;
    }
    if (SendStopMessage() != 0)
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientCloseConnection: STOP not sent\n");
    ZoltClient_I_CloseFifoConnection();
    if (g_iConnectionCount > 0)
        g_iConnectionCount--;
    return 0;
}

/* Sends one message text to the broker. Returns 0 sent (or queued), 1 failed.
 * Any thread. */
int ZoltClientSendMessage(const char *szMessage)
{
    return ZoltClient_I_WriteFifo(szMessage) == 0 ? 0 : 1;
}

/* Sends szMessage translated into szLanguage: "" becomes "EN" (written into
 * the caller's buffer), "TK..." sends the text as it is, any other language
 * replaces the NLS tags first. Returns the send result, or 2 without sending
 * when the translation failed. Main thread (translation is a transaction). */
int ZoltClientSendMessageTranslated(const char *szMessage, char *szLanguage)
{
    uint32_t uStart = ZoltMilliSeconds();
    char szDefault[3] = "EN";
    if (szLanguage == NULL)
        szLanguage = szDefault;
    TPRINTF(3, __FILE__, __LINE__, "", "LANGUAGE %s\n", szLanguage);
    if (szLanguage[0] == '\0')
        memcpy(szLanguage, "EN", 3);
    int iRc;
    if (strncmp(szLanguage, "TK", 2) == 0) {
        iRc = ZoltClientSendMessage(szMessage);
    } else {
        CGenStr sTranslated;
        if (!CGenStrInit(&sTranslated))
            return 2;
        if (!ZoltGetNlsMessageWithXmlMessage(szMessage, szLanguage, &sTranslated)) {
            CGenStrDelete(&sTranslated);
            return 2;
        }
        iRc = ZoltClientSendMessage(CGenStrC_Str(&sTranslated));
        CGenStrDelete(&sTranslated);
    }
    TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientSendMessageTranslated - elapsed time %d\n",
            (int)(ZoltMilliSeconds() - uStart));
    return iRc;
}

/* Keeps the first two characters of szLang; null clears the language.
 * Main thread. */
void ZoltClientSendMessageSetLanguage(const char *szLang)
{
    if (szLang == NULL) {
        g_pszLanguageId[0] = '\0';
        return;
    }
    ZoltSafeStrNCpy(g_pszLanguageId, szLang, sizeof g_pszLanguageId);
}

/* The language of outgoing messages, or null when it is empty. */
const char *ZoltClientSendMessageGetLanguage(void)
{
    return g_pszLanguageId[0] != '\0' ? g_pszLanguageId : NULL;
}

/* Waits up to iTimeoutMs for a complete message on the own FIFO (the
 * transport's select; standard input is passed as the second handle when
 * bWatchStdin), then reads. Returns a new heap text with every complete
 * message (the caller frees it), or null. Without an open read FIFO it only
 * pauses iTimeoutMs, so that callers' wait loops do not spin. */
char *ZoltClient_I_WaitForFifoData(int *piLength, int iTimeoutMs, int bWatchStdin)
{
    if (g_hFifoRead <= 0) {
        if (iTimeoutMs > 0)
            ZoltWait(iTimeoutMs);
        return NULL;
    }
    ZoltPipeSelect(g_hFifoRead, bWatchStdin ? ZoltGetStdInFileNo() : -1,
                   iTimeoutMs < 0 ? 0 : iTimeoutMs);
    return ZoltClient_I_ReadFifo(piLength);
}

/* Waits and reads (ZoltClient_I_WaitForFifoData), then calls pfnCallback with
 * each message in arrival order, its CR replaced by the terminator; the text
 * is split by its length, a message holding a NUL byte and a last fragment
 * without CR LF are dropped. Returns the number of messages handed
 * over. The caller's thread. */
int ZoltClientProcessMessages(ZoltClientMessageCallback pfnCallback, int iTimeoutMs,
                              int bWatchStdin)
{
    int iLen = 0;
    char *szText = ZoltClient_I_WaitForFifoData(&iLen, iTimeoutMs, bWatchStdin);
    if (szText == NULL)
        return 0;
    int iCount = ZoltMessageSplitReceived(szText, iLen, pfnCallback);
    free(szText);
    return iCount;
}

/* Lets queued pieces for the broker drain for up to iTimeoutMs. Returns the
 * entries left in the write queue. Main thread. */
int ZoltFlushWriteFIFO(int iTimeoutMs)
{
    if (g_hFifoWrite <= 0)
        return ZoltPipeWriteQueCount();
    return ZoltFlushWritePipe(g_hFifoWrite, iTimeoutMs);
}

/* Consecutive failed reads. */
int ZoltClientGetReadErrorCount(void)
{
    return g_iReadErrors;
}

/* Consecutive failed writes. */
int ZoltClientGetWriteErrorCount(void)
{
    return g_iWriteErrors;
}

/* Time of the last send, milliseconds since midnight. */
unsigned long ZoltClient_I_GetLastAccessTime(void)
{
    return g_lLastMessageSent;
}

/* Handle of the own read FIFO (0 when none). */
int ZoltClient_I_GetReadFifoHandle(void)
{
    return g_hFifoRead;
}

/* Handle of the broker FIFO (0 when none). */
int ZoltClient_I_GetWriteFifoHandle(void)
{
    return g_hFifoWrite;
}

/* Copies the own read FIFO path into szBuffer (at most iSize - 1 characters).
 * Returns 0. */
int ZoltClient_I_GetReadPipeName(char *szBuffer, int iSize)
{
    ZoltSafeStrNCpy(szBuffer, g_szOurFifoName, iSize);
    return 0;
}
