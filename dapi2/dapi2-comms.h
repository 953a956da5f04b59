/* dapi2-comms.h - start and stop of the module's communications with the
 * framework peers, the three notifications to the diagnostic engine and the
 * seam every framework message goes out through. */
#ifndef DAPI2_COMMS_H
#define DAPI2_COMMS_H

/* Starts communications: pipe directory, broker FIFO, transport and thread,
 * connection class and name from the definitions file, connection open,
 * startup notification. Returns 0, 24 (connection not opened) or 23 (startup
 * notification not sent; the connection stays open). */
int Dapi2_StartCommunications(const char *szStartupText);
/* Releases the device list, drains outgoing messages (1500 ms), sends the
 * shutdown notification, closes the connection, stops the thread, closes the
 * FIFOs. Returns 0. */
int Dapi2_StopCommunications(void);
/* Kinds of Dapi2_SendNotification. */
#define DAPI2_NOTIFY_STARTUP 0
#define DAPI2_NOTIFY_SHUTDOWN 1
#define DAPI2_NOTIFY_TESTRESULT 2
/* Kind 0: arg is the startup text (const char *); kind 1: ignored; kind 2: the
 * result code (intptr_t). Returns 0, 22, 26, 25, 24. */
int Dapi2_SendNotification(int iKind, const void *pArg);
/* The word of a test result code ("PASS" ...); 12 and above, 9 to 11 and
 * negative codes give "SETUPERROR". */
const char *Dapi2_I_ResultWord(int iResult);

/* Test seam for every message the framework sends (notifications, events,
 * reports): default ZoltClientSendMessage (0 sent, non-zero failed). */
extern int (*g_pfnDapi2SendMessage)(const char *szMessage);

#endif
