/* client-messaging-engine.cpp - the process-wide table of received messages:
 * appended in arrival order, taken or peeked, found by RE, TYPE or TYPE and
 * FROM, waited for with a time-out, and request/answer transactions.
 * DESIGN: one singly linked list from g_pRootClientMessage, guarded by mutex
 * slot 10; every single step (append, take, peek, count, search, dump) holds
 * the lock for its duration. The table keeps its last message and its count,
 * so an append and a count cost the same however long the table is. A search
 * walks under the lock and fills the caches (RE, TYPE, FROM) of the messages
 * it passes. A wait searches again and again as messages arrive: it keeps a
 * cursor, the last message it has looked at, and the next search starts after
 * it, as long as no message was taken meanwhile (the table counts takes; a
 * take may have freed the cursor's message, and the search then starts from
 * the front). So a wait that sees n messages arrive costs O(n) in all. A
 * message belongs to the table until taken, then to the taker
 * (ZoltClientFreeMessage).
 * Waits run on the time of day (milliseconds since midnight): a deadline that
 * would fall after 23:59:59.999 is pulled back to 23:59:59.000, and a clock that
 * passes midnight ends the wait. */
#include "client-messaging-engine.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "client-connection-manager.h"
#include "memory-alloc.h"
#include "message-protocol.h"
#include "trace.h"
#include "zolt-time.h"

ClientMessage *g_pRootClientMessage = NULL;
static ClientMessage *s_pLastClientMessage = NULL; /* last of the table, slot 10 */
static int s_iClientMessageCount = 0;              /* slot 10 */
static uint64_t s_uTakes = 0;                      /* messages taken so far, slot 10 */

/* Last millisecond of the day, and the deadline used instead of a later one. */
#define LAST_MS_OF_DAY 86399999
#define LATEST_DEADLINE 86399000
/* ZoltClientWaitForEnumCompleteMessage reads in steps of 500 ms. */
#define ENUM_WAIT_STEP_MS 500
/* TYPE and DATA of the enumeration-complete notification fit 256 bytes. */
#define ENUM_FIELD_SIZE 256

/* The table lock; the table cannot be used without it (verify stop). */
static void LockTable(void)
{
    ZOLT_VERIFY(ZoltGrabMutex(__FILE__, __LINE__, "", ZOLT_MESSAGE_TABLE_MUTEX, 1) == 0);
}

static void UnlockTable(void)
{
    ZOLT_VERIFY(ZoltGrabMutex(__FILE__, __LINE__, "", ZOLT_MESSAGE_TABLE_MUTEX, 0) == 0);
}

/* Appends a copy of szMessage (length + 5 zeroed bytes) to the end of the
 * table. Returns 0; 2 when the copy, 1 when the record cannot be allocated
 * (the message is dropped). Any thread; takes the table lock. */
int ZoltClient_I_MoveMessagesToTable(char *szMessage)
{
    if (szMessage == NULL)
        return 2;
    size_t uLen = strlen(szMessage);
    char *szCopy = (char *)calloc(uLen + 5, 1);
    if (szCopy == NULL) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClient_I_MoveMessagesToTable:error alloc 1\n");
        return 2;
    }
    memcpy(szCopy, szMessage, uLen + 1);
    ClientMessage *pNew = (ClientMessage *)calloc(1, sizeof *pNew);
    if (pNew == NULL) {
        free(szCopy);
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClient_I_MoveMessagesToTable:error alloc 2\n");
        return 1;
    }
    pNew->szMessage = szCopy;
    TPRINTF(3, __FILE__, __LINE__, "", "ZoltClient_I_MoveMessagesToTable:pNewMessagedata[%p]=%s\n",
            (void *)szCopy, szCopy);

    LockTable();
    if (g_pRootClientMessage == NULL) {
        g_pRootClientMessage = pNew;
        TPRINTF(3, __FILE__, __LINE__, "",
                "ZoltClient_I_MoveMessagesToTable:message %p added to root\n", (void *)pNew);
    } else {
        ClientMessage *pLast = s_pLastClientMessage;
        pLast->pNext = pNew;
        TPRINTF(3, __FILE__, __LINE__, "",
                "ZoltClient_I_MoveMessagesToTable:message %p added to message %p\n", (void *)pNew,
                (void *)pLast);
    }
    s_pLastClientMessage = pNew;
    s_iClientMessageCount++;
    UnlockTable();
    return 0;
}

/* The ZoltClientProcessMessages callback that files each message. */
static int MoveMessageCallback(char *szMessage)
{
    return ZoltClient_I_MoveMessagesToTable(szMessage);
}

/* Reads whatever arrives within iTimeoutMs into the table. Returns the number
 * of messages in the table afterwards. The caller's thread. */
int ZoltClientWaitForMessages(int iTimeoutMs, int bWatchStdin)
{
    ZoltClientProcessMessages(MoveMessageCallback, iTimeoutMs, bWatchStdin);
    return ZoltClient_I_GetWaitingMessageCount();
}

/* Reads what is there now, without waiting. Returns the table's count. */
int ZoltClientCheckForMessages(void)
{
    return ZoltClientWaitForMessages(0, 0);
}

/* Number of messages in the table. Takes the table lock. */
int ZoltClient_I_GetWaitingMessageCount(void)
{
    LockTable();
    int iCount = s_iClientMessageCount;
    UnlockTable();
    return iCount;
}

/* Finds pMessage (null: the first) under the held lock, unlinking it when
 * bTake. Returns it, or null when it is not in the table. */
static ClientMessage *LocateLocked(ClientMessage *pMessage, int bTake)
{
    ClientMessage *pPrev = NULL;
    ClientMessage *p = g_pRootClientMessage;
    if (pMessage != NULL) {
        while (p != NULL && p != pMessage) {
            pPrev = p;
            p = p->pNext;
        }
    }
    if (p == NULL || !bTake)
        return p;
    if (pPrev == NULL)
        g_pRootClientMessage = p->pNext;
    else
        pPrev->pNext = p->pNext;
    if (s_pLastClientMessage == p)
        s_pLastClientMessage = pPrev;
    p->pNext = NULL;
    s_iClientMessageCount--;
    s_uTakes++;
    return p;
}

/* Takes a message out of the table: the first (pMessage null) or pMessage if
 * it is still there. Returns it with pNext cleared, or null. The caller then
 * owns it and frees it with ZoltClientFreeMessage. Takes the table lock. */
ClientMessage *ZoltClientGetNextMessage(ClientMessage *pMessage)
{
    LockTable();
    ClientMessage *p = LocateLocked(pMessage, 1);
    UnlockTable();
    return p;
}

/* Looks at a message without taking it: the first (pMessage null) or pMessage
 * if it is still in the table; null otherwise. Takes the table lock. */
ClientMessage *ZoltClientPeekMessage(ClientMessage *pMessage)
{
    LockTable();
    ClientMessage *p = LocateLocked(pMessage, 0);
    UnlockTable();
    return p;
}

/* Frees a taken message: text, TYPE cache, record. Returns 0, or 1 for null. */
int ZoltClientFreeMessage(ClientMessage *pMessage)
{
    if (pMessage == NULL)
        return 1;
    free(pMessage->szMessage);
    free(pMessage->szTypeCache);
    free(pMessage);
    return 0;
}

/* The caches, filled on first use under the table lock. */
static void FillReCache(ClientMessage *p)
{
    if (p->bReRead)
        return;
    char szValue[80];
    p->bReRead = 1;
    p->bHasRe = ZoltXmlGetField(p->szMessage, "MSG/HDR/RE", 0, szValue, sizeof szValue) == 0;
    p->llReCache = p->bHasRe ? strtoll(szValue, NULL, 10) : 0;
}

static void FillTypeCache(ClientMessage *p)
{
    if (p->szTypeCache == NULL)
        ZoltMessageGetMessageType(p->szMessage, &p->szTypeCache);
}

static void FillFromCache(ClientMessage *p)
{
    long lFrom = 0;
    if (p->lFromCache == 0 && ZoltMessageGetSender(p->szMessage, &lFrom) == 0)
        p->lFromCache = lFrom;
}

/* What a search looks for: an RE (the whole number), or a TYPE, optionally
 * with a FROM (0: any sender). */
typedef struct SearchKey {
    int bByRe;
    long long llRe;
    const char *szType;
    int bByFrom;
    long lFromPid;
} SearchKey;

/* Where a wait's searches have got to: the last message looked at and the
 * take count at that time (null: start at the front). */
typedef struct SearchCursor {
    ClientMessage *pLast;
    uint64_t uTakes;
} SearchCursor;

static int Matches(ClientMessage *p, const SearchKey *pKey)
{
    if (pKey->bByRe) {
        FillReCache(p);
        return p->bHasRe && p->llReCache == pKey->llRe;
    }
    FillTypeCache(p);
    if (p->szTypeCache == NULL || strcmp(p->szTypeCache, pKey->szType) != 0)
        return 0;
    if (!pKey->bByFrom)
        return 1;
    FillFromCache(p);
    return p->lFromCache == pKey->lFromPid;
}

/* The first message matching pKey, searched from the cursor on (from the
 * front when the cursor is null or a message was taken since it was set); it
 * stays in the table. The cursor is left on the last message looked at.
 * Takes the table lock. */
static ClientMessage *SearchTable(const SearchKey *pKey, SearchCursor *pCursor)
{
    LockTable();
    ClientMessage *p = g_pRootClientMessage;
    if (pCursor->pLast != NULL && pCursor->uTakes == s_uTakes)
        p = pCursor->pLast->pNext;
    else
        pCursor->pLast = NULL;
    for (; p != NULL; p = p->pNext) {
        pCursor->pLast = p;
        if (Matches(p, pKey))
            break;
    }
    pCursor->uTakes = s_uTakes;
    UnlockTable();
    return p;
}

/* The first message whose RE equals lId (a message without RE never
 * matches); it stays in the table. Null when none. */
ClientMessage *ZoltClientFindMessageWithReField(long lId)
{
    SearchKey key = { 1, (long long)lId, NULL, 0, 0 };
    SearchCursor cursor = { NULL, 0 };
    return SearchTable(&key, &cursor);
}

/* The first message whose TYPE equals szType; it stays in the table. */
ClientMessage *ZoltClientFindMessageWithTypeField(const char *szType)
{
    TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientFindMessageWithTypeField:looking for type %s\n",
            szType ? szType : "(null)");
    if (szType == NULL)
        return NULL;
    SearchKey key = { 0, 0, szType, 0, 0 };
    SearchCursor cursor = { NULL, 0 };
    ClientMessage *p = SearchTable(&key, &cursor);
    TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientFindMessageWithTypeField:%s\n",
            p != NULL ? "found" : "Not found");
    return p;
}

/* The first message whose TYPE equals szType and whose FROM equals lPid. */
ClientMessage *ZoltClientFindMessageWithTypeFieldAndFromPid(long lPid, const char *szType)
{
    if (szType == NULL)
        return NULL;
    SearchKey key = { 0, 0, szType, 1, lPid };
    SearchCursor cursor = { NULL, 0 };
    return SearchTable(&key, &cursor);
}

/* ------------------------------------------------------------ deadlines */

/* A wait of iTimeoutMs from now. The start is pulled back when the deadline
 * would pass the last millisecond of the day, so that it lands on 23:59:59.000;
 * the real start is kept to notice the clock passing midnight. */
typedef struct WaitClock {
    int64_t iStart;     /* start after the deadline rule */
    int64_t iRealStart; /* time of day when the wait began */
    int64_t iTimeout;
} WaitClock;

static void WaitClockStart(WaitClock *pClock, int iTimeoutMs)
{
    pClock->iTimeout = iTimeoutMs < 0 ? 0 : iTimeoutMs;
    pClock->iRealStart = ZoltGetTimeOfDay();
    pClock->iStart = pClock->iRealStart;
    if (pClock->iStart + pClock->iTimeout > LAST_MS_OF_DAY)
        pClock->iStart = LATEST_DEADLINE - pClock->iTimeout;
}

/* Milliseconds left at time of day iNow (0 when none). */
static int WaitClockRemaining(const WaitClock *pClock, int64_t iNow)
{
    int64_t iLeft = pClock->iStart + pClock->iTimeout - iNow;
    return iLeft > 0 ? (int)iLeft : 0;
}

/* 1 when the deadline is reached or the clock has passed midnight. */
static int WaitClockExpired(const WaitClock *pClock, int64_t iNow)
{
    return pClock->iStart + pClock->iTimeout <= iNow || iNow < pClock->iRealStart;
}

/* ------------------------------------------------------- waits, answers */

/* Gives the text of p to the caller: into szBuffer (iSize bytes) or, when
 * pStr is given, into that string. Returns 1 when it does not fit. */
static int DeliverText(const ClientMessage *p, char *szBuffer, int iSize, CGenStr *pStr)
{
    if (pStr != NULL)
        return CGenStrAssignChar(pStr, p->szMessage) ? 0 : 1;
    size_t uLen = strlen(p->szMessage);
    if (szBuffer == NULL || iSize <= 0 || uLen + 1 >= (size_t)iSize)
        return 1;
    memmove(szBuffer, p->szMessage, uLen + 1); /* the buffer may be the request's own */
    return 0;
}

/* Common body of ZoltClientWaitForMessage and ...Str (pStr null: buffer form). */
static int WaitForMessage(char *szBuffer, int iBufferSize, CGenStr *pStr, int iTimeoutMs,
                          const char *szType, unsigned long ulFromPid)
{
    WaitClock clock;
    WaitClockStart(&clock, iTimeoutMs);
    TPRINTF(3, __FILE__, __LINE__, "", "Start Time %lu,Time Out %d \n",
            (unsigned long)clock.iRealStart, iTimeoutMs);
    ClientMessage *pFound = NULL;
    SearchKey key = { 0, 0, szType, ulFromPid != 0, (long)ulFromPid };
    SearchCursor cursor = { NULL, 0 };
    /* What is already in the table counts at once; only then is there a wait. */
    int iWaiting = ZoltClientWaitForMessages(0, 0);
    for (;;) {
        if (iWaiting > 0) {
            TPRINTF(3, __FILE__, __LINE__, "",
                    "ZoltClientWaitForMessage:ZoltClientWaitForMessages found messages\n");
            if (szType == NULL)
                return 3;
            pFound = SearchTable(&key, &cursor);
            if (pFound != NULL)
                break;
        }
        int64_t iNow = ZoltGetTimeOfDay();
        if (WaitClockExpired(&clock, iNow)) {
            TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientWaitForMessage:timeout\n");
            TPRINTF(3, __FILE__, __LINE__, "", "Elapsed Time %lu\n",
                    (unsigned long)(iNow - clock.iRealStart));
            return 2;
        }
        iWaiting = ZoltClientWaitForMessages(WaitClockRemaining(&clock, iNow), 0);
    }
    TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientWaitForMessage:found message [%p]=%s\n",
            (void *)pFound, pFound->szMessage);
    if (DeliverText(pFound, szBuffer, iBufferSize, pStr) != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientWaitForMessage:not enough space\n");
        return 1;
    }
    ZoltClientFreeMessage(ZoltClientGetNextMessage(pFound));
    TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientWaitForMessage:found it\n");
    TPRINTF(3, __FILE__, __LINE__, "", "Elapsed Time %lu\n",
            (unsigned long)((int64_t)ZoltGetTimeOfDay() - clock.iRealStart));
    return 0;
}

/* Waits up to iTimeoutMs for the first message of szType (from ulFromPid; 0
 * means any sender) and takes it. Returns 0 found (text in szBuffer, message
 * freed), 1 szBuffer too small (the message stays), 2 time-out, 3 szType null
 * (noticed once messages are waiting). The caller's thread. */
int ZoltClientWaitForMessage(char *szBuffer, int iBufferSize, int iTimeoutMs, const char *szType,
                             unsigned long ulFromPid)
{
    TPRINTF(3, __FILE__, __LINE__, "",
            "ZoltClientWaitForMessage: wait %i ms for %s or %lu (buffer size %i)\n", iTimeoutMs,
            szType ? szType : "(null)", ulFromPid, iBufferSize);
    return WaitForMessage(szBuffer, iBufferSize, NULL, iTimeoutMs, szType, ulFromPid);
}

/* As ZoltClientWaitForMessage into the CGenStr pStr. Returns 1 also when
 * pStr is not initialised or cannot take the text. */
int ZoltClientWaitForMessageStr(CGenStr *pStr, int iTimeoutMs, const char *szType,
                                unsigned long ulFromPid)
{
    TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientWaitForMessage: wait %i ms for %s or %lu \n",
            iTimeoutMs, szType ? szType : "(null)", ulFromPid);
    if (pStr == NULL || !CGenStrIsInit(pStr))
        return 1;
    return WaitForMessage(NULL, 0, pStr, iTimeoutMs, szType, ulFromPid);
}

/* Common body of the two transaction forms (pStr null: buffer form). */
static int SendTransaction(const char *szRequest, char *szReply, int iReplySize, CGenStr *pStr,
                           int iTimeoutMs, int bWatchStdin)
{
    char szId[80];
    int iRc =
        szRequest != NULL ? ZoltXmlGetField(szRequest, "MSG/HDR/ID", 0, szId, sizeof szId) : 2;
    if (iRc != 0)
        return 100 + iRc;
    /* the whole number: an RE that only agrees in its low 32 bits is another's */
    SearchKey key = { 1, strtoll(szId, NULL, 10), NULL, 0, 0 };
    SearchCursor cursor = { NULL, 0 };
    iRc = ZoltClientSendMessage(szRequest);
    if (iRc != 0)
        return 200 + iRc;
    /* szRequest may share its buffer with the answer: not used from here on. */
    WaitClock clock;
    WaitClockStart(&clock, iTimeoutMs);
    int iWaitMs = 0; /* an answer that is already there needs no wait */
    for (;;) {
        uint32_t uStep = ZoltMilliSeconds();
        if (ZoltClientWaitForMessages(iWaitMs, bWatchStdin) > 0) {
            TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientSendTransaction elapsed time %lu\n",
                    (unsigned long)(uint32_t)(ZoltMilliSeconds() - uStep));
            ClientMessage *p = SearchTable(&key, &cursor);
            if (p != NULL) {
                TPRINTF(3, __FILE__, __LINE__, "", "ZoltClientSendTransaction Found our message\n");
                if (DeliverText(p, szReply, iReplySize, pStr) != 0)
                    return 1;
                ZoltClientFreeMessage(ZoltClientGetNextMessage(p));
                return 0;
            }
        }
        int64_t iNow = ZoltGetTimeOfDay();
        if (WaitClockExpired(&clock, iNow))
            return 2;
        iWaitMs = WaitClockRemaining(&clock, iNow);
    }
}

/* Sends szRequest and waits up to iTimeoutMs for its answer (RE = the
 * request's MSG/HDR/ID); szReply may be the request's own buffer. Returns 0
 * answer copied (taken and freed), 1 answer too large (it stays in the table),
 * 2 time-out, 102 the request has no ID, 201 the send failed (no wait).
 * Unrelated messages stay in the table, in order. The caller's thread. */
int ZoltClientSendTransaction(const char *szRequest, char *szReply, int iReplySize, int iTimeoutMs,
                              int bWatchStdin)
{
    return SendTransaction(szRequest, szReply, iReplySize, NULL, iTimeoutMs, bWatchStdin);
}

/* As ZoltClientSendTransaction with the answer assigned to pStr (szRequest
 * may be pStr's own text). 1 when pStr cannot take the answer. */
int ZoltClientSendTransactionStr(const char *szRequest, CGenStr *pStr, int iTimeoutMs,
                                 int bWatchStdin)
{
    if (pStr == NULL)
        return 1;
    return SendTransaction(szRequest, NULL, 0, pStr, iTimeoutMs, bWatchStdin);
}

/* 1 when p is the engine's notification "DE_ENUM_NOTIFY" / "ENUM_COMPLETE". */
static int IsEnumComplete(const ClientMessage *p)
{
    char szField[ENUM_FIELD_SIZE];
    if (ZoltXmlGetField(p->szMessage, "MSG/HDR/TYPE", 0, szField, sizeof szField) != 0 ||
        strcmp(szField, "DE_ENUM_NOTIFY") != 0)
        return 0;
    return ZoltXmlGetField(p->szMessage, "MSG/DATA", 0, szField, sizeof szField) == 0 &&
           strcmp(szField, "ENUM_COMPLETE") == 0;
}

/* Takes messages until the enumeration-complete notification (returns 0);
 * every other message taken is discarded. With the table empty it reads for
 * 500 ms at a time; when the reads add up to more than iTimeoutMs, or child
 * iChildPid (> 0) has ended, it returns 1. The caller's thread. */
int ZoltClientWaitForEnumCompleteMessage(int iTimeoutMs, pid_t iChildPid)
{
    int iWaited = 0;
    for (;;) {
        int bOver = 0;
        ClientMessage *p = ZoltClientGetNextMessage(NULL);
        if (p == NULL) {
            ZoltClientWaitForMessages(ENUM_WAIT_STEP_MS, 0);
            iWaited += ENUM_WAIT_STEP_MS;
            if (iWaited > iTimeoutMs || (iChildPid > 0 && ZoltClientTerminated(iChildPid)))
                bOver = 1;
        } else if (IsEnumComplete(p)) {
            ZoltClientFreeMessage(p);
            return 0;
        }
        ZoltClientFreeMessage(p);
        if (bOver)
            return 1;
    }
}

/* Writes one trace line (type 10) per message, in table order. Returns the
 * number of messages. Takes the table lock. */
int ZoltClient_I_PrintMessages(void)
{
    int iCount = 0;
    LockTable();
    for (ClientMessage *p = g_pRootClientMessage; p != NULL; p = p->pNext) {
        TPRINTF(10, __FILE__, __LINE__, "", "RE:%lld TYPE:%s FROM:%ld NEXT:%p, %s\n",
                p->bReRead ? (p->bHasRe ? p->llReCache : -1LL) : 0LL,
                p->szTypeCache ? p->szTypeCache : "(null)", p->lFromCache, (void *)p->pNext,
                p->szMessage);
        iCount++;
    }
    UnlockTable();
    return iCount;
}
