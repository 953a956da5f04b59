/* client-messaging-engine.h - the process-wide table of received messages, in
 * arrival order, with taking, peeking, finding by RE / TYPE / FROM, waits with
 * a time-out and request/answer transactions. */
#ifndef ZOLT_CLIENT_MESSAGING_ENGINE_H
#define ZOLT_CLIENT_MESSAGING_ENGINE_H

#include <sys/types.h>
#include "gen-str.h"

/* One received message. Owned by the table until taken; then the taker frees
 * it with ZoltClientFreeMessage. The caches are filled by the first search. */
typedef struct ClientMessage {
    char *szMessage;             /* heap copy of the text without its CR LF */
    struct ClientMessage *pNext; /* next in the table; null at the end and once taken */
    int bReRead;                 /* 1 once RE has been looked for */
    int bHasRe;                  /* 1 when the message has an RE */
    long long llReCache;         /* the RE value, whole (no truncation) */
    char *szTypeCache;           /* heap copy of TYPE; null when not read or absent */
    long lFromCache;             /* sender's process id; 0 when not read or absent */
} ClientMessage;

/* The table lock: mutex slot 10. */
#define ZOLT_MESSAGE_TABLE_MUTEX 10

/* First message of the table (null when empty). Guarded by slot 10. */
extern ClientMessage *g_pRootClientMessage;

/* Appends a copy of one message text. Returns 0, 1 (record not allocated) or
 * 2 (text not copied); the message is dropped on failure. Any thread. */
int ZoltClient_I_MoveMessagesToTable(char *szMessage);
/* Reads what arrives within iTimeoutMs into the table. Returns the number of
 * messages in the table afterwards. */
int ZoltClientWaitForMessages(int iTimeoutMs, int bWatchStdin);
/* Same with time-out 0, standard input not watched. */
int ZoltClientCheckForMessages(void);
/* Number of messages in the table. */
int ZoltClient_I_GetWaitingMessageCount(void);

/* Null: removes and returns the first message (null when empty). A message:
 * removes and returns it if it is in the table, else null. The result's pNext
 * is null; the caller frees it with ZoltClientFreeMessage. */
ClientMessage *ZoltClientGetNextMessage(ClientMessage *pMessage);
/* Null: the first message, left in the table. A message: that message if it is
 * in the table, else null. */
ClientMessage *ZoltClientPeekMessage(ClientMessage *pMessage);
/* Frees the text, the TYPE cache and the record. Returns 0, or 1 for null. */
int ZoltClientFreeMessage(ClientMessage *pMessage);

/* The first message whose RE / TYPE / TYPE and FROM match, left in the table;
 * null when none. A message without TYPE never matches a type. */
ClientMessage *ZoltClientFindMessageWithReField(long lId);
ClientMessage *ZoltClientFindMessageWithTypeField(const char *szType);
ClientMessage *ZoltClientFindMessageWithTypeFieldAndFromPid(long lPid, const char *szType);

/* Waits up to iTimeoutMs for a message of szType (from ulFromPid, 0 = anyone);
 * one already in the table is taken without waiting. Returns 0 found (text copied, message taken and freed), 1 szBuffer too small
 * (the message stays), 2 time-out, 3 szType null. */
int ZoltClientWaitForMessage(char *szBuffer, int iBufferSize, int iTimeoutMs, const char *szType,
                             unsigned long ulFromPid);
/* Same into a CGenStr; 1 also when it is not initialised or cannot take the text. */
int ZoltClientWaitForMessageStr(CGenStr *pStr, int iTimeoutMs, const char *szType,
                                unsigned long ulFromPid);

/* Sends szRequest and waits up to iTimeoutMs for the message whose RE equals
 * the request's MSG/HDR/ID. szReply may be the request's own buffer. A wait
 * whose end would fall after 23:59:59.999 ends at 23:59:59.000 instead.
 * Returns 0 answer copied (taken and freed), 1 answer does not fit (it stays),
 * 2 time-out, 100 + lookup code (102) when the request has no ID, 200 + send
 * result (201) when the send failed. Other messages stay in the table, in order. */
int ZoltClientSendTransaction(const char *szRequest, char *szReply, int iReplySize, int iTimeoutMs,
                              int bWatchStdin);
/* Same into a CGenStr (szRequest may be that string's own text); 1 when the
 * string cannot take the answer. */
int ZoltClientSendTransactionStr(const char *szRequest, CGenStr *pStr, int iTimeoutMs,
                                 int bWatchStdin);

/* Takes messages until a DE_ENUM_NOTIFY with DATA "ENUM_COMPLETE" arrives
 * (returns 0); every other message taken is discarded. Returns 1 when more
 * than iTimeoutMs passed in 500 ms reads, or child iChildPid (> 0) ended. */
int ZoltClientWaitForEnumCompleteMessage(int iTimeoutMs, pid_t iChildPid);

/* Traces every message of the table (trace type 10). Returns their number. */
int ZoltClient_I_PrintMessages(void);

#endif
