/* dapi2-comms.cpp - start and stop of the module's communications with the
 * framework peers, and the three notifications (startup, test result,
 * shutdown) to the diagnostic engine.
 * DESIGN: main thread only. Start brings up the pipe transport and its
 * read/write thread before opening the broker connection; stop drains the
 * write queue for up to 1500 ms, sends the shutdown notification and STOP,
 * then stops the thread and closes the FIFOs. Messages go out through
 * g_pfnDapi2SendMessage (the client layer by default). */
#include "dapi2-comms.h"

#include "dapi2.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "client-connection-manager.h"
#include "client-fifo-access.h"
#include "message-protocol.h"
#include "pipe-lowlevel.h"
#include "profile.h"
#include "trace.h"

/* Data text of a notification: a 79-character reference and version 1.2.11
 * give at most 138 characters. */
#define DAPI2_NOTIFY_DATA_SIZE 150
#define DAPI2_NOTIFY_HDR_SIZE 200
#define DAPI2_NOTIFY_MSG_SIZE 400
/* Queued outgoing messages drain to the broker for up to 1.5 s at stop. */
#define DAPI2_DRAIN_MS 1500

int (*g_pfnDapi2SendMessage)(const char *szMessage) = ZoltClientSendMessage;

/* Words of the test result codes 0 to 8. */
static const char *const s_aszResultWords[] = {
    "PASS",          "SETUPERROR", "FAIL",    "BUSY",         "PRIVILEGEERROR",
    "NOTAPPLICABLE", "BADPARAMS",  "NOMEDIA", "DISCONTINUED",
};

/* The word of a result code. Codes 9 to 11 (reserved), 12 and above and
 * negative codes have no word of their own and are reported as "SETUPERROR":
 * the test could not produce a proper verdict. */
const char *Dapi2_I_ResultWord(int iResult)
{
    if (iResult >= 0 && iResult < (int)(sizeof s_aszResultWords / sizeof s_aszResultWords[0]))
        return s_aszResultWords[iResult];
    return "SETUPERROR";
}

/* Builds and sends one notification. Kind 0 startup (pArg: startup text, also
 * the message TYPE when not null), 1 shutdown (pArg ignored), 2 test result
 * (pArg: the result code as intptr_t). Returns 0, 22 unknown kind, 26 header
 * not built, 25 message not built, 24 not sent. */
int Dapi2_SendNotification(int iKind, const void *pArg)
{
    char szData[DAPI2_NOTIFY_DATA_SIZE];
    const char *szType = "DE_NOTIFY";
    int iLen;
    switch (iKind) {
    case DAPI2_NOTIFY_STARTUP: {
        const char *szText = (const char *)pArg;
        iLen = snprintf(
            szData, sizeof szData, "<DATA><STARTUP>%s</STARTUP><VERSION>%d.%d.%d</VERSION></DATA>",
            szText ? szText : "", g_dapi2_ver_major, g_dapi2_ver_minor, g_dapi2_ver_revision);
        if (szText != NULL)
            szType = szText;
        break;
    }
    case DAPI2_NOTIFY_SHUTDOWN:
        iLen = snprintf(szData, sizeof szData, "<DATA>SHUTDOWN</DATA>");
        break;
    case DAPI2_NOTIFY_TESTRESULT:
        iLen = snprintf(szData, sizeof szData,
                        "<DATA><TESTRESULT>%s</TESTRESULT><TESTPROCESSID>%s</TESTPROCESSID></DATA>",
                        Dapi2_I_ResultWord((int)(intptr_t)pArg), g_szProcessId);
        break;
    default:
        return DAPI2_ERR_BAD_NOTIFY;
    }
    if (iLen < 0 || iLen >= (int)sizeof szData) { /* a cut data text is never sent */
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_SendNotification: CreateMessage failed\n");
        return DAPI2_ERR_MESSAGE;
    }

    char szHeader[DAPI2_NOTIFY_HDR_SIZE];
    int iRc = ZoltCreateMessageHeader(szHeader, sizeof szHeader, "DIAGENGINE", NULL, szType, NULL);
    if (iRc != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_SendNotification: CreateMessageHeader %i\n", iRc);
        return DAPI2_ERR_HEADER;
    }
    char szMsg[DAPI2_NOTIFY_MSG_SIZE];
    if (ZoltCreateMessage(szMsg, sizeof szMsg, "MSG", szHeader, szData, (char *)NULL) != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_SendNotification: CreateMessage failed\n");
        return DAPI2_ERR_MESSAGE;
    }
    if (g_pfnDapi2SendMessage(szMsg) != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_SendNotification: error sending\n");
        return DAPI2_ERR_SEND;
    }
    return 0;
}

/* Connection class for the definitions file's "szType" (case ignored):
 * DIAG, RUNTIME, SYSINFO, anything else (or no key) NORMAL. */
static const char *Dapi2_I_ConnectionClass(const char *szType)
{
    if (szType != NULL) {
        if (strcasecmp(szType, "DIAG") == 0)
            return "DIAGMODULE";
        if (strcasecmp(szType, "RUNTIME") == 0)
            return "RUNTIMEDIAG";
        if (strcasecmp(szType, "SYSINFO") == 0)
            return "SYSINFOMODULE";
    }
    return "NORMAL";
}

/* Starts communications (see dapi2.h for the order). Returns 0, 24 when the
 * connection did not open (the transport is then stopped again), 23 when the
 * startup notification was not sent (the connection stays open). */
int Dapi2_StartCommunications(const char *szStartupText)
{
    const char *szPipeDir = getenv("ZOLT_PATH");
    if (szPipeDir != NULL && szPipeDir[0] != '\0')
        ZoltSetPipeDirectory(szPipeDir);
    ZoltSetServerFifoNameEx(g_szDapi2ServerFifoName);
    ZoltInitPipes();
    ZoltInitReadWriteThread();

    char *szType = ZoltGetIniString(g_szDefinitionsFile, "Module", "szType");
    char *szName = ZoltGetIniString(g_szDefinitionsFile, "Module", "szModuleName");
    int iRc = ZoltClientOpenConnectionEx(szName ? szName : "", Dapi2_I_ConnectionClass(szType),
                                         g_szDefinitionsFile, NULL);
    free(szType);
    free(szName);
    if (iRc != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_StartCommunications: Error Opening Connection\n");
        /* The process ends next; do not leave the read/write thread running. */
        ZoltStopReadWriteThread();
        ZoltCleanupPipes();
        return DAPI2_ERR_SEND;
    }
    if (Dapi2_SendNotification(DAPI2_NOTIFY_STARTUP, szStartupText) != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_StartCommunications: Error Sending Startup\n");
        return DAPI2_ERR_STARTUP;
    }
    return 0;
}

/* Stops communications: device list released, 1500 ms drain, shutdown
 * notification (result ignored), STOP to the broker, thread stopped, FIFOs
 * closed. Returns 0. */
int Dapi2_StopCommunications(void)
{
    Dapi2_KillDeviceList();
    ZoltFlushWriteFIFO(DAPI2_DRAIN_MS);
    Dapi2_SendNotification(DAPI2_NOTIFY_SHUTDOWN, NULL);
    ZoltClientCloseConnection();
    ZoltStopReadWriteThread();
    ZoltCleanupPipes();
    return 0;
}
