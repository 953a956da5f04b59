/* client-connection-manager.h - the module's one connection to the message
 * broker: open (STARTUP and its ACK), close (STOP), sending message texts and
 * handing received messages one by one to a callback. */
#ifndef ZOLT_CLIENT_CONNECTION_MANAGER_H
#define ZOLT_CLIENT_CONNECTION_MANAGER_H

#include "client-fifo-access.h"

/* How long the broker has to acknowledge STARTUP. The product never changes
 * it; tests may shorten it to prove the time-out path quickly. */
#define ZOLT_ACK_TIMEOUT_MS 10000
extern int g_iAckTimeoutMs;

/* Number of connections counted (at most two). */
extern int g_iConnectionCount;
/* Two-character language of outgoing messages, initially "00". */
extern char g_pszLanguageId[3];

/* Callback of ZoltClientProcessMessages: one message text without its CR LF,
 * valid only during the call (copy what you keep). The result is ignored. */
typedef int (*ZoltClientMessageCallback)(char *szMessage);

/* Opens the connection: broker FIFO opened, own FIFO made, STARTUP sent with
 * the name, class, language data (null = "") and the executable's file name
 * (null or "" = none), ACK awaited, own FIFO name removed, language-string file
 * registered when szNlsData is not empty. Main thread.
 * Returns 0 connected (either ACK form); 1 two connections already counted;
 * 11 broker FIFO not open; 12 own FIFO not made; 21-26 STARTUP not built;
 * 27 STARTUP not sent; 30 no ACK within g_iAckTimeoutMs; 31 first input not an
 * ACK. On every failure nothing stays open and no own FIFO is left behind.
 * A second open while one is counted shares that connection (counted twice,
 * STOP only at the last close); a third returns 1. */
int ZoltClientOpenConnectionEx(const char *szName, const char *szClass, const char *szNlsData,
                               const char *szExePath);
/* Same with "Name Here", "NORMAL", no language data, no executable. */
int ZoltClientOpenConnection(void);
/* The worker: a non-zero lBrokerPid first selects that broker's FIFO. Returns
 * the codes above, but 40 instead of 0 for the "<ACK>ENUM_COMPLETE</ACK>" form. */
int ZoltClient_I_OpenConnectionEx(long lBrokerPid, const char *szName, const char *szClass,
                                  const char *szNlsData, const char *szExePath);
/* Sends the STARTUP packet. Returns 0, 1-6 (READ, PID, NAME, NLSDATA, CLASS,
 * EXE_FILENAME or the whole packet did not fit) or 7 (send failed). */
int ZoltClient_I_SendFifoStartupMessage(const char *szName, const char *szClass,
                                        const char *szNlsData, const char *szExeFile);
/* Sends STOP (best effort), closes the FIFO ends, lowers the count. Returns 0. */
int ZoltClientCloseConnection(void);

/* Sends one message text (its CR LF included by the builder). Any thread.
 * Returns 0 sent or queued, 1 failed. */
int ZoltClientSendMessage(const char *szMessage);
/* Sends szMessage with its NLS tags replaced by texts in szLanguage (an empty
 * szLanguage is first set to "EN" in the caller's buffer, which needs 3 bytes;
 * a language starting with "TK" sends the text unchanged). Returns the send
 * result, or 2 (not sent) when the translation failed. */
int ZoltClientSendMessageTranslated(const char *szMessage, char *szLanguage);
/* Keeps the first two characters of szLang; null clears the language. */
void ZoltClientSendMessageSetLanguage(const char *szLang);
/* The language, or null when it is empty. */
const char *ZoltClientSendMessageGetLanguage(void);

/* Waits up to iTimeoutMs for input, reads every complete message and calls
 * pfnCallback once per message in arrival order (a trailing fragment without
 * CR LF is dropped). Returns the number of messages handed over. */
int ZoltClientProcessMessages(ZoltClientMessageCallback pfnCallback, int iTimeoutMs,
                              int bWatchStdin);
/* Waits up to iTimeoutMs (standard input watched when bWatchStdin) and reads:
 * a new heap text with every complete message now available, or null. The
 * caller frees it. */
char *ZoltClient_I_WaitForFifoData(int *piLength, int iTimeoutMs, int bWatchStdin);

/* Lets queued outgoing pieces drain for up to iTimeoutMs. Returns the entries
 * still queued. */
int ZoltFlushWriteFIFO(int iTimeoutMs);

int ZoltClientGetReadErrorCount(void);
int ZoltClientGetWriteErrorCount(void);
unsigned long ZoltClient_I_GetLastAccessTime(void);
int ZoltClient_I_GetReadFifoHandle(void);
int ZoltClient_I_GetWriteFifoHandle(void);
/* Copies the own read FIFO path (at most iSize - 1 characters). Returns 0. */
int ZoltClient_I_GetReadPipeName(char *szBuffer, int iSize);

#endif
