/* pipe-lowlevel.cpp - FIFO transport: framing, read and write queues, the open
 * FIFO ends, and the thread that moves pieces between FIFOs and queues.
 *
 * DESIGN
 * Frame: start marker "|\1\1\1", 'H', ':', six decimal numbers each ended by
 * ':' (message number, sender pid, piece index from 1, piece count, piece size,
 * total size), end marker "\1\1\1|", then exactly piece-size message bytes. A
 * message is cut into pieces of 4020 bytes, so a frame (at most 63 + 4020
 * bytes) is one atomic pipe write: frames of several writers interleave on a
 * FIFO but never mix. A reader tells messages apart by (handle, sender pid,
 * message number).
 * Room check: a frame is written only when the FIFO then holds at most 4096
 * unread bytes. Linux reports size 0 for a FIFO in fstat, so the fill level is
 * taken from ioctl(FIONREAD). Several writers may still pass the check at the
 * same time, so the reader never assumes whole frames per read: each read FIFO
 * record keeps the unfinished tail of its last read (at most one frame) and
 * the next read completes it. Bytes that do not form a valid frame are dropped
 * up to the next start marker that begins a valid delimiter (trace line).
 * Reassembly: our writers cut at 4020 bytes, but a sender may cut where it
 * likes; a frame is valid when its piece holds 1 to 4020 bytes and its total
 * is at most 16 MiB (ZOLT_PIPE_MAX_MESSAGE). Pieces of one message must come
 * in order and add up to the total. A message is keyed on (handle, sender
 * pid, message number), so one sender may interleave pieces of several
 * messages of its own. A message whose pieces come out of order or do not add
 * up, one whose first piece comes again, one that gets no piece for 5 s
 * (ZOLT_PIPE_PARTIAL_STALL_MS) and a piece without its first piece are
 * dropped with a trace line and leave the queue at once. Unfinished messages are also
 * listed in gPartialQue (at most 64, at most 8 per sender and read end; the
 * oldest gives way), so that a piece finds its message without a walk of the
 * read queue. A read entry's buffer grows with the bytes received (by
 * doubling, capped at the total), never ahead of them, so a lying total
 * cannot make the reader allocate more than twice what arrived.
 * Waiting: a wait ends early for a complete message of the FIFO. A FIFO that
 * is readable without a whole message costs a 1 ms pause before the next
 * poll, so that no peer can keep a wait spinning.
 * Delivery: complete messages go out in the order their first pieces came,
 * passing over unfinished ones (messages whose pieces interleave were in
 * flight together, so neither comes before the other), in one text whose
 * buffer grows by doubling; the bytes are handed over with their length (a
 * NUL byte inside a message is carried like any other byte).
 * Broken pipe: a write to a FIFO without reader fails with EPIPE (SIGPIPE is
 * ignored); while the FIFO is too full to write, the vanished reader is seen
 * as an error condition on the write end (poll). Ends are opened
 * close-on-exec, so a started program never holds our FIFOs open.
 * Locks: mutex slot 3 (read lock) guards gReadQue, gReadFifoList, the read
 * tails and the read buffer; slot 4 (write lock) guards gWriteQue,
 * gWriteFifoList and the message counter lCount. Open, close and cleanup need
 * both and take them by trying both and backing off 10 ms. The read/write
 * thread only tries locks and skips a busy one until its next 1 ms cycle.
 * ZoltPipeSelect holds the read lock across its wait and ZoltFlushWritePipe
 * holds the write lock across its 1 ms pauses: the thread just skips that
 * side meanwhile, and each drains or writes its own FIFO itself.
 * Allocation: a piece that cannot be allocated fails that write with
 * ZOLT_PIPE_NO_MEMORY; only EPIPE counts as a broken pipe and closes the end.
 * Ownership: the queues own their QueObjects and data, the FIFO lists their
 * records and tails, gPartialQue owns nothing; ZoltPipeRead hands the caller
 * one heap text to free.
 * Every trace line is trace type 0, except thread start and stop (type 1). */
#include "pipe-lowlevel.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "memory-alloc.h"
#include "trace.h"
#include "zolt-string.h"
#include "zolt-time.h"

#define T0 ZOLT_TRACE_PIPE
#define T1 ZOLT_TRACE_PIPE2

static CGenList gReadQue;       /* QueObject: messages being received (read lock) */
static CGenList gWriteQue;      /* QueObject: pieces waiting to be written (write lock) */
static CGenList gReadFifoList;  /* FifoListObject: open read ends (read lock) */
static CGenList gWriteFifoList; /* FifoListObject: open write ends (write lock) */
static CGenList gPartialQue;    /* QueObject of gReadQue not yet whole (not owned; read lock) */
static std::atomic<int> g_bInitPipesCalled{ 0 }; /* set and cleared by the main thread */
static pthread_t thread_id;
static int s_bThreadStarted = 0; /* main thread */
static std::atomic<int> g_ReadWriteThreadActive{ 1 };
static uint32_t lCount = 0; /* message numbers, write lock */
uint32_t g_uZoltPipePartialStallMs = ZOLT_PIPE_PARTIAL_STALL_MS;

/* Read buffer: an unfinished tail (at most one frame) plus one 4096-byte read,
 * plus a terminator byte. Read lock. */
#define ZOLT_PIPE_TAIL_MAX (ZOLT_PIPE_DELIM_MAX + ZOLT_PIPE_PIECE_SIZE)
static char s_acReadBuf[ZOLT_PIPE_TAIL_MAX + ZOLT_PIPE_CAPACITY + 1];
/* Most reads one drain makes, so a writer that never stops cannot keep a
 * reader (holding the read lock) in the drain loop for ever. */
#define ZOLT_PIPE_MAX_READS_PER_DRAIN 256

/* ======================================================================
 * Records and locks
 * ====================================================================== */

void QueObjectDestructor(void *pElem)
{
    QueObject *pQue = (QueObject *)pElem;
    if (pQue != nullptr) {
        free(pQue->pData);
        pQue->pData = nullptr;
    }
}

/* A FIFO record owns nothing but its read tail. */
void FifoListObjectDestructor(void *pElem)
{
    FifoListObject *pRec = (FifoListObject *)pElem;
    if (pRec != nullptr) {
        free(pRec->pTail);
        pRec->pTail = nullptr;
    }
}

int FifoListCompare(const void *pElem, const void *pKey)
{
    return ((const FifoListObject *)pElem)->iHandle == *(const int *)pKey ? 0 : 1;
}

static void LockSlot(int iSlot)
{
    ZOLT_VERIFY(ZoltGrabMutex(__FILE__, __LINE__, "", iSlot, 1) == 0);
}

static void UnlockSlot(int iSlot)
{
    ZOLT_VERIFY(ZoltGrabMutex(__FILE__, __LINE__, "", iSlot, 0) == 0);
}

/* Try both, back off 10 ms and retry; never call with either lock held. */
static void TakeBothLocks(void)
{
    for (;;) {
        int iWrite = ZoltTryMutex(__FILE__, __LINE__, "", ZOLT_PIPE_WRITE_LOCK);
        int iRead = ZoltTryMutex(__FILE__, __LINE__, "", ZOLT_PIPE_READ_LOCK);
        if (iWrite == 0 && iRead == 0)
            return;
        if (iRead == 0)
            UnlockSlot(ZOLT_PIPE_READ_LOCK);
        if (iWrite == 0)
            UnlockSlot(ZOLT_PIPE_WRITE_LOCK);
        ZoltSleep(ZOLT_PIPE_LOCK_BACKOFF_MS);
    }
}

static void ReleaseBothLocks(void)
{
    UnlockSlot(ZOLT_PIPE_WRITE_LOCK);
    UnlockSlot(ZOLT_PIPE_READ_LOCK);
}

static FifoListObject *FindFifo(CGenList *pList, int iHandle, CGenListIter *pPos)
{
    CGenListIter it = CGenListFind(pList, FifoListCompare, &iHandle);
    if (pPos != nullptr)
        *pPos = it;
    return (FifoListObject *)CGenListIterGetData(&it);
}

/* Erases every entry of iHandle from pQue (the queue frees them). */
void ZoltQueCleanup(CGenList *pQue, int iHandle)
{
    CGenListIter it;
    if (pQue == &gReadQue) { /* the unfinished ones are listed there too */
        CGenListIterInit(&it, &gPartialQue);
        while (!CGenListIterAtEnd(&it)) {
            if (((QueObject *)CGenListIterGetData(&it))->iHandle == iHandle)
                it = CGenListErase(&gPartialQue, it);
            else
                CGenListIterAdv(&it);
        }
    }
    CGenListIterInit(&it, pQue);
    while (!CGenListIterAtEnd(&it)) {
        QueObject *pEntry = (QueObject *)CGenListIterGetData(&it);
        if (pEntry->iHandle == iHandle)
            it = CGenListErase(pQue, it);
        else
            CGenListIterAdv(&it);
    }
}

/* ======================================================================
 * Lifecycle
 * ====================================================================== */

/* Constructs the four lists once (again after cleanup). Main thread. */
int ZoltInitPipes(void)
{
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltInitPipes()\n");
    if (g_bInitPipesCalled)
        return 0;
    CGenListConstruct(&gReadQue, 1, QueObjectDestructor);
    CGenListConstruct(&gWriteQue, 1, QueObjectDestructor);
    CGenListConstruct(&gReadFifoList, 1, FifoListObjectDestructor);
    CGenListConstruct(&gWriteFifoList, 1, FifoListObjectDestructor);
    CGenListConstruct(&gPartialQue, 0, nullptr);
    g_bInitPipesCalled = 1;
    return 0;
}

/* Starts the read/write thread (run flag set first). Main thread. */
int ZoltInitReadWriteThread(void)
{
    if (s_bThreadStarted)
        return 0;
    ZoltInitPipes();
    g_ReadWriteThreadActive.store(1);
    TPRINTF(T1, __FILE__, __LINE__, "", "creating read/write thread\n");
    int iRc = pthread_create(&thread_id, nullptr, ZoltReadWriteThread, nullptr);
    if (iRc == 0)
        s_bThreadStarted = 1;
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltInitReadWriteThread() RETURN\n");
    return iRc;
}

/* Clears the run flag and joins the thread; the flag is set again afterwards
 * so that the transport can be restarted. Main thread, no pipe lock held. */
int ZoltStopReadWriteThread(void)
{
    TPRINTF(T1, __FILE__, __LINE__, "", "ZoltStopReadWriteThread: top of function\n");
    if (!s_bThreadStarted)
        return 0;
    g_ReadWriteThreadActive.store(0);
    TPRINTF(T1, __FILE__, __LINE__, "", "thread_id is %lu\n", (unsigned long)thread_id);
    int iRc = pthread_join(thread_id, nullptr);
    TPRINTF(T1, __FILE__, __LINE__, "", "pthread_join() returned %d\n", iRc);
    s_bThreadStarted = 0;
    /* The flag only tells a running thread to end: with none left, a cycle run
     * by hand (ZoltServicePipes) does both sides again. */
    g_ReadWriteThreadActive.store(1);
    return iRc;
}

static void CloseAllInList(CGenList *pList)
{
    CGenListIter it;
    CGenListIterInit(&it, pList);
    for (; !CGenListIterAtEnd(&it); CGenListIterAdv(&it))
        close(((FifoListObject *)CGenListIterGetData(&it))->iHandle);
}

/* Closes what is still registered and destroys the four lists. Main thread,
 * after ZoltStopReadWriteThread. */
void ZoltCleanupPipes(void)
{
    if (!g_bInitPipesCalled)
        return;
    TakeBothLocks();
    CloseAllInList(&gReadFifoList);
    CloseAllInList(&gWriteFifoList);
    CGenListDestruct(&gPartialQue);
    CGenListDestruct(&gReadQue);
    CGenListDestruct(&gWriteQue);
    CGenListDestruct(&gReadFifoList);
    CGenListDestruct(&gWriteFifoList);
    g_bInitPipesCalled = 0;
    ReleaseBothLocks();
}

/* ======================================================================
 * FIFO ends
 * ====================================================================== */

int ZoltPipeMkFifo(const char *szPath)
{
    int iRc = mkfifo(szPath, ZOLT_PIPE_FIFO_MODE);
    if (iRc != 0) {
        struct stat st;
        if (lstat(szPath, &st) == 0 && S_ISFIFO(st.st_mode))
            return 0;
    }
    return iRc;
}

mode_t ZoltPipeUMask(mode_t mask)
{
    return umask(mask);
}

int ZoltPipeUnLink(const char *szPath)
{
    return unlink(szPath);
}

void ZoltPipeSignalHandle(void)
{
    signal(SIGPIPE, SIG_IGN);
}

/* Opens and registers one FIFO end; see the header. Ends are close-on-exec so
 * that a started program never keeps a FIFO of ours open (which would hide a
 * vanished reader from our writes). */
int ZoltPipeOpen(const char *szPath, int bForWriting)
{
    return ZoltPipeOpenAt(AT_FDCWD, szPath, bForWriting, 0);
}

/* ZoltPipeOpen relative to a directory handle; see the header. */
int ZoltPipeOpenAt(int fdDir, const char *szPath, int bForWriting, int iExtraFlags)
{
    if (szPath == nullptr)
        return -1;
    ZoltInitPipes();
    FifoListObject *pRec = (FifoListObject *)calloc(1, sizeof(FifoListObject));
    if (pRec == nullptr)
        return -1;
    TakeBothLocks();
    int iFlags = (bForWriting ? O_WRONLY : O_RDONLY) | O_NONBLOCK | O_CLOEXEC | iExtraFlags;
    int iHandle;
    do
        iHandle = openat(fdDir, szPath, iFlags);
    while (iHandle < 0 && errno == EINTR);
    if (iHandle >= 0) {
        pRec->iHandle = iHandle;
        ZoltSafeStrNCpy(pRec->szName, szPath, sizeof pRec->szName);
        CGenList *pList = bForWriting ? &gWriteFifoList : &gReadFifoList;
        CGenListIter pos;
        if (FindFifo(pList, iHandle, &pos) != nullptr) {
            /* The number was registered for an end closed behind our back:
             * whatever was queued for it belongs to that old FIFO. */
            CGenListErase(pList, pos);
            ZoltQueCleanup(bForWriting ? &gWriteQue : &gReadQue, iHandle);
        } else if (!bForWriting) {
            ZoltQueCleanup(&gReadQue, iHandle);
        }
        if (CGenListPushBack(pList, pRec) == 0) {
            close(iHandle);
            free(pRec);
            iHandle = -1;
        } else if (bForWriting) {
            TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeOpen: WRITE Fifo %d \n", iHandle);
        } else {
            TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeOpen: READ Fifo (%s) %d \n", szPath,
                    iHandle);
        }
    } else {
        free(pRec);
    }
    ReleaseBothLocks();
    return iHandle;
}

/* Unregisters and closes one end; see the header. Never with a lock held. */
int ZoltPipeClose(int iHandle)
{
    if (!g_bInitPipesCalled)
        return 0;
    TakeBothLocks();
    int bKnown = 1;
    CGenListIter pos;
    if (FindFifo(&gReadFifoList, iHandle, &pos) != nullptr) {
        CGenListErase(&gReadFifoList, pos);
    } else if (FindFifo(&gWriteFifoList, iHandle, &pos) != nullptr) {
        CGenListErase(&gWriteFifoList, pos);
        ZoltQueCleanup(&gWriteQue, iHandle);
    } else {
        bKnown = 0;
    }
    ReleaseBothLocks();
    return bKnown ? close(iHandle) : 0;
}

/* ======================================================================
 * Writing
 * ====================================================================== */

int MakeDelimiterStr(const QueObject *pQue, int iType, char *szOut, int iSize)
{
    if (pQue == nullptr || szOut == nullptr || iSize < 1)
        return 0;
    int iLen = snprintf(
        szOut, (size_t)iSize, "%s%c:%lu:%i:%i:%i:%lu:%lu:%s", ZOLT_PIPE_START_MARKER,
        iType == ZOLT_PIPE_FRAME_F ? 'F' : 'H', (unsigned long)pQue->uMsgNumber,
        (int)pQue->iSenderPid, (int)pQue->iPieceIndex, (int)pQue->iPieceCount,
        (unsigned long)pQue->uPieceSize, (unsigned long)pQue->uTotalSize, ZOLT_PIPE_END_MARKER);
    if (iLen < 0 || iLen >= iSize || iLen > ZOLT_PIPE_DELIM_MAX) {
        szOut[0] = '\0';
        return 0;
    }
    return iLen;
}

/* Fill level of a FIFO: FIONREAD, falling back on the status size. */
static long FifoUnreadBytes(int iHandle, const struct stat *pSt)
{
    int iUnread = 0;
    if (ioctl(iHandle, FIONREAD, &iUnread) == 0)
        return iUnread;
    return (long)pSt->st_size;
}

/* Writes one frame when it fits; see the header. errno is kept for the caller. */
int ZoltPipeWritePipe(int iHandle, const char *pBytes, int iLen)
{
    TPRINTF(T0, __FILE__, __LINE__, "",
            "ZoltPipeWritePipe: top of function, bytes to write = %ld\n", (long)iLen);
    struct stat st;
    if (fstat(iHandle, &st) != 0) {
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeWritePipe could not get stats for pipe\n");
        return 0;
    }
    long lUnread = FifoUnreadBytes(iHandle, &st);
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeWritePipe Pipe Stats\n");
    TPRINTF(T0, __FILE__, __LINE__, "", "size: %ld\n", lUnread);
    if (ZOLT_PIPE_CAPACITY - lUnread < iLen) {
        TPRINTF(
            T0, __FILE__, __LINE__, "",
            "ZoltPipeWrite: Write_Failed Not enough room in pipe need %d, pipe has %d in it RETURNING\n",
            iLen, (int)lUnread);
        /* A FIFO whose reader has gone keeps its unread bytes, so it would look
         * full for ever: the write end then reports an error condition. */
        struct pollfd pfd;
        pfd.fd = iHandle;
        pfd.events = POLLOUT;
        pfd.revents = 0;
        if (poll(&pfd, 1, 0) > 0 && (pfd.revents & POLLERR) != 0) {
            errno = EPIPE;
            return -1;
        }
        return 0;
    }
    ssize_t rv;
    do
        rv = write(iHandle, pBytes, (size_t)iLen);
    while (rv < 0 && errno == EINTR);
    int iErr = errno;
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeWritePipe size: %ld\n", lUnread);
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeWritePipe: returning %ld\n", (long)rv);
    errno = iErr;
    return (int)rv;
}

/* Writes queued frames of iHandle in queue order; see the header. Write lock. */
int ZoltPipeServiceWriteQue(int iHandle, int *pbBrokenPipe)
{
    char acFrame[ZOLT_PIPE_CAPACITY];
    int iTotal = 0;
    if (pbBrokenPipe != nullptr)
        *pbBrokenPipe = 0;
    CGenListIter it;
    CGenListIterInit(&it, &gWriteQue);
    while (!CGenListIterAtEnd(&it)) {
        QueObject *pEntry = (QueObject *)CGenListIterGetData(&it);
        if (pEntry->iHandle != iHandle) {
            CGenListIterAdv(&it);
            continue;
        }
        int iDelim = MakeDelimiterStr(pEntry, ZOLT_PIPE_FRAME_H, acFrame, sizeof acFrame);
        if (iDelim == 0 || iDelim + pEntry->iDataLen > (int)sizeof acFrame) {
            it = CGenListErase(&gWriteQue, it); /* cannot be framed: never happens for real sizes */
            continue;
        }
        memcpy(acFrame + iDelim, pEntry->pData, (size_t)pEntry->iDataLen);
        int rv = ZoltPipeWritePipe(iHandle, acFrame, iDelim + pEntry->iDataLen);
        if (rv < 0 && errno == EPIPE) {
            TPRINTF(T0, __FILE__, __LINE__, "",
                    "ZoltPipeServiceWriteQue() Broken Pipe RETURNING\n");
            if (pbBrokenPipe != nullptr)
                *pbBrokenPipe = 1;
            return iTotal;
        }
        if (rv <= 0) {
            TPRINTF(T0, __FILE__, __LINE__, "",
                    "ZoltPipeServiceWriteQue() Couldn't Write RETURN\n");
            break;
        }
        it = CGenListErase(&gWriteQue, it);
        iTotal += rv - iDelim;
        TPRINTF(T0, __FILE__, __LINE__, "",
                "ZoltPipeServiceWriteQue() Wrote %d bytes from buffer\n", rv - iDelim);
    }
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeServiceWriteQue() Return %d bytes\n", iTotal);
    return iTotal;
}

void *(*g_pfnZoltPipeAllocPiece)(size_t uSize) = malloc;

/* Cuts one message into pieces, queues them, services the handle once. When a
 * piece cannot be allocated the pieces already queued for this message are
 * taken back and ZOLT_PIPE_NO_MEMORY is returned: a failed write of its own,
 * which leaves the FIFO open. Write lock. */
int ZoltPipeWriteQue(int iHandle, const char *pText, int iLen, int *pbBrokenPipe)
{
    if (pbBrokenPipe != nullptr)
        *pbBrokenPipe = 0;
    if (iLen <= 0)
        return 0;
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeWriteQue()\n");
    int iPieces = (iLen - 1) / ZOLT_PIPE_PIECE_SIZE + 1; /* no overflow near INT_MAX */
    if (iPieces > 1)
        TPRINTF(T0, __FILE__, __LINE__, "",
                "ZoltPipeWriteQue() Message Being Divided into %d pieces\n", iPieces);
    lCount++;
    int iPid = (int)getpid(); /* the sending process: a forked child is a sender of its own */
    for (int i = 1; i <= iPieces; i++) {
        int iOffset = (i - 1) * ZOLT_PIPE_PIECE_SIZE;
        int iSize = iLen - iOffset < ZOLT_PIPE_PIECE_SIZE ? iLen - iOffset : ZOLT_PIPE_PIECE_SIZE;
        QueObject *pEntry = (QueObject *)calloc(1, sizeof(QueObject));
        char *pData = (char *)g_pfnZoltPipeAllocPiece((size_t)iSize + 1);
        if (pEntry == nullptr || pData == nullptr || CGenListPushBack(&gWriteQue, pEntry) == 0) {
            free(pEntry);
            free(pData);
            CGenListIter it;
            CGenListIterInit(&it, &gWriteQue);
            while (!CGenListIterAtEnd(&it)) {
                QueObject *pOld = (QueObject *)CGenListIterGetData(&it);
                if (pOld->iHandle == iHandle && pOld->uMsgNumber == lCount &&
                    pOld->iSenderPid == iPid)
                    it = CGenListErase(&gWriteQue, it);
                else
                    CGenListIterAdv(&it);
            }
            TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeWriteQue() out of memory\n");
            return ZOLT_PIPE_NO_MEMORY;
        }
        memcpy(pData, pText + iOffset, (size_t)iSize);
        pData[iSize] = '\0';
        pEntry->uMsgNumber = lCount;
        pEntry->iSenderPid = iPid;
        pEntry->iPieceIndex = i;
        pEntry->iPieceCount = iPieces;
        pEntry->uPieceSize = (uint32_t)iSize;
        pEntry->uTotalSize = (uint32_t)iLen;
        pEntry->iHandle = iHandle;
        pEntry->pData = pData;
        pEntry->iDataLen = iSize;
        pEntry->uDataCap = (uint32_t)iSize + 1;
    }
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeWriteQue() %d Element in Que\n",
            CGenListGetCount(&gWriteQue));
    ZoltPipeServiceWriteQue(iHandle, pbBrokenPipe);
    return iLen;
}

/* Queues one message and writes what fits; see the header. Any thread. */
int ZoltPipeWrite(int iHandle, const char *pText, int iLen)
{
    if (!g_bInitPipesCalled)
        return -1;
    int bBroken = 0;
    int rv;
    LockSlot(ZOLT_PIPE_WRITE_LOCK);
    if (FindFifo(&gWriteFifoList, iHandle, nullptr) == nullptr) {
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeWrite() PIPE NOT OPEN\n");
        rv = -1;
    } else if (iLen < 0 || (iLen > 0 && pText == nullptr)) {
        rv = -1;
    } else {
        rv = ZoltPipeWriteQue(iHandle, pText, iLen, &bBroken);
    }
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeWrite() Fifo %d, Bytes %d \n DATA: %.*s \n",
            iHandle, iLen, rv > 0 ? iLen : 0, rv > 0 ? pText : "");
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeWrite() rv %d \n", rv);
    UnlockSlot(ZOLT_PIPE_WRITE_LOCK);
    if (bBroken) {
        ZoltPipeClose(iHandle);
        return 0;
    }
    return rv;
}

/* Keeps writing the queue of iHandle; see the header. Any thread, no pipe lock
 * held. The write lock stays held across the pauses (the thread skips the
 * write side meanwhile). */
int ZoltFlushWritePipe(int iHandle, int iTimeoutMs)
{
    if (!g_bInitPipesCalled)
        return 0;
    uint32_t uStart = ZoltMilliSeconds();
    int bBroken = 0;
    LockSlot(ZOLT_PIPE_WRITE_LOCK);
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltFlushWritePipe() %d Elements in Que\n",
            CGenListGetCount(&gWriteQue));
    while (CGenListGetCount(&gWriteQue) > 0) {
        ZoltPipeServiceWriteQue(iHandle, &bBroken);
        if (bBroken || CGenListGetCount(&gWriteQue) == 0)
            break;
        int32_t iElapsed = (int32_t)(ZoltMilliSeconds() - uStart);
        if (iElapsed >= iTimeoutMs)
            break;
        int32_t iPause = iTimeoutMs - iElapsed;
        ZoltSleep((uint32_t)(iPause < ZOLT_PIPE_FLUSH_STEP_MS ? iPause : ZOLT_PIPE_FLUSH_STEP_MS));
    }
    int iLeft = CGenListGetCount(&gWriteQue);
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltFlushWritePipe() %d Elements in Que\n", iLeft);
    UnlockSlot(ZOLT_PIPE_WRITE_LOCK);
    if (bBroken) {
        ZoltPipeClose(iHandle);
        /* the closed handle's pieces are gone now */
        LockSlot(ZOLT_PIPE_WRITE_LOCK);
        iLeft = CGenListGetCount(&gWriteQue);
        UnlockSlot(ZOLT_PIPE_WRITE_LOCK);
    }
    return iLeft;
}

/* Services every registered write end once, in list order, stopping at the
 * first broken pipe, whose handle is returned (else -1). Write lock. */
static int ServiceAllWriteFifos(void)
{
    CGenListIter it;
    CGenListIterInit(&it, &gWriteFifoList);
    for (; !CGenListIterAtEnd(&it); CGenListIterAdv(&it)) {
        FifoListObject *pRec = (FifoListObject *)CGenListIterGetData(&it);
        int bBroken = 0;
        ZoltPipeServiceWriteQue(pRec->iHandle, &bBroken);
        if (bBroken)
            return pRec->iHandle;
    }
    return -1;
}

/* ======================================================================
 * Reading
 * ====================================================================== */

int ZoltPipeReadPipe(int iHandle, char *pBuf, int iSize)
{
    ssize_t rv;
    do
        rv = read(iHandle, pBuf, (size_t)iSize);
    while (rv < 0 && errno == EINTR);
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeReadPipe: returning %ld\n", (long)rv);
    return (int)rv;
}

/* memmem without relying on the GNU extension's availability. */
static const char *FindBytes(const char *p, int iLen, const char *pNeedle, int iNeedle)
{
    for (int i = 0; i + iNeedle <= iLen; i++) {
        if (p[i] == pNeedle[0] && memcmp(p + i, pNeedle, (size_t)iNeedle) == 0)
            return p + i;
    }
    return nullptr;
}

/* Looks for the end marker of the delimiter starting at p (a start marker):
 * its last byte at most 63 characters from p. Returns the delimiter length,
 * 0 when there is none in reach, -1 when iLen is too short to tell. */
static int DelimiterLength(const char *p, int iLen)
{
    int iReach = iLen < ZOLT_PIPE_DELIM_MAX ? iLen : ZOLT_PIPE_DELIM_MAX;
    const char *pEnd = FindBytes(p + ZOLT_PIPE_MARKER_LEN, iReach - ZOLT_PIPE_MARKER_LEN,
                                 ZOLT_PIPE_END_MARKER, ZOLT_PIPE_MARKER_LEN);
    if (pEnd != nullptr)
        return (int)(pEnd - p) + ZOLT_PIPE_MARKER_LEN;
    return iLen < ZOLT_PIPE_DELIM_MAX ? -1 : 0;
}

const char *FindDelimiter(const char *p, int iLen, int *piDelimLen)
{
    if (piDelimLen != nullptr)
        *piDelimLen = 0;
    int iPos = 0;
    while (p != nullptr && iPos < iLen) {
        const char *pStart =
            FindBytes(p + iPos, iLen - iPos, ZOLT_PIPE_START_MARKER, ZOLT_PIPE_MARKER_LEN);
        if (pStart == nullptr)
            return nullptr;
        int iDelim = DelimiterLength(pStart, iLen - (int)(pStart - p));
        if (iDelim > 0) {
            if (piDelimLen != nullptr)
                *piDelimLen = iDelim;
            return pStart;
        }
        iPos = (int)(pStart - p) + 1;
    }
    return nullptr;
}

/* One base-10 number of at most 10 digits (optional '-' when bSigned), ended by
 * one separator character. Advances *pp past the separator. */
static int ParseNumber(const char **pp, const char *pEnd, int bSigned, long long *pllOut)
{
    const char *p = *pp;
    int bNegative = 0;
    if (bSigned && p < pEnd && *p == '-') {
        bNegative = 1;
        p++;
    }
    long long llValue = 0;
    int iDigits = 0;
    while (p < pEnd && *p >= '0' && *p <= '9' && iDigits < 11) {
        llValue = llValue * 10 + (*p - '0');
        p++;
        iDigits++;
    }
    if (iDigits == 0 || iDigits > 10 || p >= pEnd || (*p >= '0' && *p <= '9'))
        return 0;
    *pllOut = bNegative ? -llValue : llValue;
    *pp = p + 1; /* the separator */
    return 1;
}

int ParseDelimStr(const char *p, int iLen, QueObject *pQue, int *piType)
{
    if (p == nullptr || pQue == nullptr || iLen < 2 * ZOLT_PIPE_MARKER_LEN ||
        iLen > ZOLT_PIPE_DELIM_MAX)
        return 0;
    if (memcmp(p, ZOLT_PIPE_START_MARKER, ZOLT_PIPE_MARKER_LEN) != 0 ||
        memcmp(p + iLen - ZOLT_PIPE_MARKER_LEN, ZOLT_PIPE_END_MARKER, ZOLT_PIPE_MARKER_LEN) != 0)
        return 0;
    const char *pEnd = p + iLen - ZOLT_PIPE_MARKER_LEN;
    const char *q = p + ZOLT_PIPE_MARKER_LEN;
    while (q < pEnd && q < p + 7 && *q != 'H' && *q != 'F')
        q++;
    if (q >= pEnd || q >= p + 7)
        return 0;
    int iType = *q == 'F' ? ZOLT_PIPE_FRAME_F : ZOLT_PIPE_FRAME_H;
    q++;
    if (q >= pEnd)
        return 0;
    q++; /* the separator after the type letter */
    long long allNum[6];
    static const int s_abSigned[6] = { 0, 1, 1, 1, 0, 0 };
    for (int i = 0; i < 6; i++) {
        if (!ParseNumber(&q, pEnd, s_abSigned[i], &allNum[i]))
            return 0;
    }
    if (allNum[0] > UINT32_MAX || allNum[1] > INT32_MAX || allNum[1] < INT32_MIN ||
        allNum[2] > INT32_MAX || allNum[2] < INT32_MIN || allNum[3] > INT32_MAX ||
        allNum[3] < INT32_MIN || allNum[4] > UINT32_MAX || allNum[5] > UINT32_MAX)
        return 0;
    memset(pQue, 0, sizeof *pQue);
    pQue->uMsgNumber = (uint32_t)allNum[0];
    pQue->iSenderPid = (int32_t)allNum[1];
    pQue->iPieceIndex = (int32_t)allNum[2];
    pQue->iPieceCount = (int32_t)allNum[3];
    pQue->uPieceSize = (uint32_t)allNum[4];
    pQue->uTotalSize = (uint32_t)allNum[5];
    if (piType != nullptr)
        *piType = iType;
    return 1;
}

/* 1 when the six numbers describe a piece some writer could have sent: a total
 * of at most 16 MiB, a piece of 1 to 4020 bytes no longer than the total, an
 * index within a count that the total can fill with one byte per piece. Where
 * the sender cut is its own business: the pieces only have to arrive in order
 * and add up to the total (checked as they arrive). */
static int IsPlausiblePiece(const QueObject *pHdr)
{
    if (pHdr->uTotalSize == 0 || pHdr->uTotalSize > ZOLT_PIPE_MAX_MESSAGE)
        return 0;
    if (pHdr->iPieceCount <= 0 || (uint32_t)pHdr->iPieceCount > pHdr->uTotalSize)
        return 0;
    if (pHdr->iPieceIndex < 1 || pHdr->iPieceIndex > pHdr->iPieceCount)
        return 0;
    return pHdr->uPieceSize >= 1 && pHdr->uPieceSize <= ZOLT_PIPE_PIECE_SIZE &&
           pHdr->uPieceSize <= pHdr->uTotalSize;
}

/* Appends iLen payload bytes to a read entry, growing its buffer by doubling
 * (never beyond total size + 1), so that it is never more than twice the bytes
 * that arrived. Returns 1, or 0 when out of memory. */
static int AppendToEntry(QueObject *pEntry, const char *pBytes, uint32_t uLen)
{
    uint32_t uNeed = (uint32_t)pEntry->iDataLen + uLen + 1;
    if (uNeed > pEntry->uDataCap) {
        uint32_t uCap = pEntry->uDataCap * 2 > uNeed ? pEntry->uDataCap * 2 : uNeed;
        if (uCap > pEntry->uTotalSize + 1)
            uCap = pEntry->uTotalSize + 1;
        char *pNew = (char *)realloc(pEntry->pData, uCap);
        if (pNew == nullptr)
            return 0;
        pEntry->pData = pNew;
        pEntry->uDataCap = uCap;
    }
    memcpy(pEntry->pData + pEntry->iDataLen, pBytes, uLen);
    pEntry->iDataLen += (int32_t)uLen;
    pEntry->pData[pEntry->iDataLen] = '\0';
    return 1;
}

static int IsComplete(const QueObject *pEntry)
{
    return pEntry->iPieceIndex == pEntry->iPieceCount;
}

/* Removes pEntry from the list of unfinished messages (if it is there). */
static void ForgetPartial(const QueObject *pEntry)
{
    CGenListIter it;
    CGenListIterInit(&it, &gPartialQue);
    for (; !CGenListIterAtEnd(&it); CGenListIterAdv(&it)) {
        if (CGenListIterGetData(&it) == pEntry) {
            CGenListErase(&gPartialQue, it);
            return;
        }
    }
}

/* Gives up an unfinished message: it leaves both lists at once (the read
 * queue frees it), so that no peer can make dropped messages pile up. Read
 * lock; no iterator of gReadQue may be held. */
static void DropPartial(QueObject *pEntry, const char *szWhy)
{
    TPRINTF(T0, __FILE__, __LINE__, "",
            "ZoltPipeReadQue() message %lu of %d dropped at piece %d of %d: %s\n",
            (unsigned long)pEntry->uMsgNumber, (int)pEntry->iSenderPid, (int)pEntry->iPieceIndex,
            (int)pEntry->iPieceCount, szWhy);
    ForgetPartial(pEntry);
    CGenListIter it;
    CGenListIterInit(&it, &gReadQue);
    for (; !CGenListIterAtEnd(&it); CGenListIterAdv(&it)) {
        if (CGenListIterGetData(&it) == pEntry) {
            CGenListErase(&gReadQue, it);
            return;
        }
    }
}

/* The unfinished message of iHandle keyed like pHdr (sender pid and message
 * number), or null. Read lock. */
static QueObject *FindPartial(int iHandle, const QueObject *pHdr)
{
    CGenListIter it;
    CGenListIterInit(&it, &gPartialQue);
    for (; !CGenListIterAtEnd(&it); CGenListIterAdv(&it)) {
        QueObject *pEntry = (QueObject *)CGenListIterGetData(&it);
        if (pEntry->iHandle == iHandle && pEntry->iSenderPid == pHdr->iSenderPid &&
            pEntry->uMsgNumber == pHdr->uMsgNumber)
            return pEntry;
    }
    return nullptr;
}

/* Keeps the unfinished messages within their limits: per sender on one read
 * end, then in total; the oldest gives way. Read lock. */
static void LimitPartials(int iHandle, int32_t iPid)
{
    int iOfSender = 0;
    QueObject *pOldest = nullptr;
    CGenListIter it;
    CGenListIterInit(&it, &gPartialQue);
    for (; !CGenListIterAtEnd(&it); CGenListIterAdv(&it)) {
        QueObject *pEntry = (QueObject *)CGenListIterGetData(&it);
        if (pEntry->iHandle == iHandle && pEntry->iSenderPid == iPid && iOfSender++ == 0)
            pOldest = pEntry;
    }
    if (iOfSender > ZOLT_PIPE_MAX_PARTIAL_PER_SENDER)
        DropPartial(pOldest, "too many unfinished messages of its sender");
    if (CGenListGetCount(&gPartialQue) > ZOLT_PIPE_MAX_PARTIAL) {
        CGenListIterInit(&it, &gPartialQue);
        DropPartial((QueObject *)CGenListIterGetData(&it), "too many unfinished messages");
    }
}

/* Drops every unfinished message that got no piece for the stall bound, so
 * that a sender which stops half-way holds no memory for ever. Read lock. */
static void DropStalledPartials(void)
{
    uint32_t uNow = ZoltMilliSeconds();
    CGenListIter it;
    CGenListIterInit(&it, &gPartialQue);
    while (!CGenListIterAtEnd(&it)) {
        QueObject *pEntry = (QueObject *)CGenListIterGetData(&it);
        CGenListIterAdv(&it); /* DropPartial erases pEntry from the list */
        if (uNow - pEntry->uLastPieceMs >= g_uZoltPipePartialStallMs)
            DropPartial(pEntry, "no further piece came");
    }
}

/* Continues the unfinished message of the frame's key with a later piece.
 * The piece must be the next one of the same message and keep the bytes within
 * the total (exactly the total with the last piece); otherwise the message
 * could never be whole and is dropped. Returns the payload bytes queued. */
static int ContinuePartial(int iHandle, const QueObject *pHdr, const char *pPayload)
{
    QueObject *pEntry = FindPartial(iHandle, pHdr);
    if (pEntry == nullptr) {
        TPRINTF(T0, __FILE__, __LINE__, "",
                "ZoltPipeReadQue() piece %d of message %lu of %d dropped: no first piece\n",
                (int)pHdr->iPieceIndex, (unsigned long)pHdr->uMsgNumber, (int)pHdr->iSenderPid);
        return 0;
    }
    uint32_t uHave = (uint32_t)pEntry->iDataLen + pHdr->uPieceSize;
    int bLast = pHdr->iPieceIndex == pHdr->iPieceCount;
    if (pEntry->iPieceIndex + 1 != pHdr->iPieceIndex || pEntry->iPieceCount != pHdr->iPieceCount ||
        pEntry->uTotalSize != pHdr->uTotalSize || uHave > pEntry->uTotalSize ||
        (bLast && uHave != pEntry->uTotalSize)) {
        DropPartial(pEntry, "piece out of order or sizes not adding up");
        return 0;
    }
    if (!AppendToEntry(pEntry, pPayload, pHdr->uPieceSize)) {
        DropPartial(pEntry, "out of memory");
        return 0;
    }
    pEntry->uPieceSize = (uint32_t)pEntry->iDataLen;
    pEntry->iPieceIndex = pHdr->iPieceIndex;
    pEntry->uLastPieceMs = ZoltMilliSeconds();
    if (bLast)
        ForgetPartial(pEntry);
    return (int)pHdr->uPieceSize;
}

/* Files one valid frame of iHandle into the read queue: a first piece starts
 * an entry, a later piece continues the unfinished entry of its sender and
 * message number. A first piece that comes again replaces the unfinished
 * message (its pieces were lost). The unfinished messages stay within their
 * limits (LimitPartials). Returns the payload bytes queued. Read lock. */
static int QueueReadPiece(int iHandle, const QueObject *pHdr, const char *pPayload)
{
    if (pHdr->iPieceIndex > 1)
        return ContinuePartial(iHandle, pHdr, pPayload);
    QueObject *pOld = FindPartial(iHandle, pHdr);
    if (pOld != nullptr)
        DropPartial(pOld, "its first piece came again");
    int bWhole = pHdr->iPieceCount == 1;
    if ((bWhole && pHdr->uPieceSize != pHdr->uTotalSize) ||
        (!bWhole && pHdr->uTotalSize - pHdr->uPieceSize < (uint32_t)pHdr->iPieceCount - 1)) {
        TPRINTF(T0, __FILE__, __LINE__, "",
                "ZoltPipeReadQue() message %lu of %d dropped: sizes do not add up\n",
                (unsigned long)pHdr->uMsgNumber, (int)pHdr->iSenderPid);
        return 0;
    }
    QueObject *pEntry = (QueObject *)calloc(1, sizeof(QueObject));
    if (pEntry != nullptr) {
        *pEntry = *pHdr;
        pEntry->iHandle = iHandle;
        pEntry->uDataCap = 0;
        pEntry->iDataLen = 0;
        pEntry->pData = nullptr;
        pEntry->uLastPieceMs = ZoltMilliSeconds();
    }
    if (pEntry == nullptr || !AppendToEntry(pEntry, pPayload, pHdr->uPieceSize) ||
        (!bWhole && CGenListPushBack(&gPartialQue, pEntry) == 0) ||
        CGenListPushBack(&gReadQue, pEntry) == 0) {
        TPRINTF(T0, __FILE__, __LINE__, "",
                "ZoltPipeReadQue() message %lu of %d dropped: out of memory\n",
                (unsigned long)pHdr->uMsgNumber, (int)pHdr->iSenderPid);
        if (pEntry != nullptr && !bWhole)
            ForgetPartial(pEntry);
        QueObjectDestructor(pEntry);
        free(pEntry);
        return 0;
    }
    pEntry->uPieceSize = (uint32_t)pEntry->iDataLen;
    if (!bWhole)
        LimitPartials(iHandle, pHdr->iSenderPid);
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeReadQue() FIFO %d\n", iHandle);
    return (int)pHdr->uPieceSize;
}

/* Length of the longest end of the iLen bytes at p that could be the start of
 * a start marker cut by the read (at most 3 bytes). */
static int PartialStartMarker(const char *p, int iLen)
{
    for (int iKeep = ZOLT_PIPE_MARKER_LEN - 1; iKeep > 0; iKeep--) {
        if (iLen >= iKeep && memcmp(p + iLen - iKeep, ZOLT_PIPE_START_MARKER, (size_t)iKeep) == 0)
            return iKeep;
    }
    return 0;
}

/* Takes every whole frame from the iLen bytes at pBuf into the read queue.
 * Returns the bytes consumed; the rest (an unfinished frame, or up to 3 bytes
 * of a cut start marker) is the tail for the next read. Read lock. */
static int TakeFrames(int iHandle, const char *pBuf, int iLen, int *piQueued)
{
    int iPos = 0;
    while (iPos < iLen) {
        const char *pStart =
            FindBytes(pBuf + iPos, iLen - iPos, ZOLT_PIPE_START_MARKER, ZOLT_PIPE_MARKER_LEN);
        if (pStart == nullptr)
            return iLen - PartialStartMarker(pBuf + iPos, iLen - iPos);
        int iStart = (int)(pStart - pBuf);
        int iDelim = DelimiterLength(pStart, iLen - iStart);
        if (iDelim < 0)
            return iStart; /* delimiter not all here yet */
        QueObject hdr;
        int iType = 0;
        if (iDelim == 0 || !ParseDelimStr(pStart, iDelim, &hdr, &iType) ||
            !IsPlausiblePiece(&hdr)) {
            TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeReadQue() invalid delimiter dropped\n");
            iPos = iStart + 1; /* resynchronise at the next start marker */
            continue;
        }
        int iPayload = iStart + iDelim;
        if ((uint32_t)(iLen - iPayload) < hdr.uPieceSize)
            return iStart; /* payload not all here yet */
        *piQueued += QueueReadPiece(iHandle, &hdr, pBuf + iPayload);
        iPos = iPayload + (int)hdr.uPieceSize;
    }
    return iPos;
}

/* Drains one FIFO into the read queue; see the header. Read lock. */
int ZoltPipeReadQue(int iHandle)
{
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeReadQue()\n");
    if (!g_bInitPipesCalled)
        return 0;
    FifoListObject *pRec = FindFifo(&gReadFifoList, iHandle, nullptr);
    int iQueued = 0;
    for (int iRead = 0; iRead < ZOLT_PIPE_MAX_READS_PER_DRAIN; iRead++) {
        int iHave = 0;
        if (pRec != nullptr && pRec->iTailLen > 0) {
            memcpy(s_acReadBuf, pRec->pTail, (size_t)pRec->iTailLen);
            iHave = pRec->iTailLen;
        }
        int rv = ZoltPipeReadPipe(iHandle, s_acReadBuf + iHave, ZOLT_PIPE_CAPACITY);
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeReadQue() rv %d\n", rv);
        if (rv <= 0)
            break; /* the tail stays as it was */
        iHave += rv;
        s_acReadBuf[iHave] = '\0';
        int iUsed = TakeFrames(iHandle, s_acReadBuf, iHave, &iQueued);
        int iTail = iHave - iUsed;
        if (pRec == nullptr)
            continue; /* an unregistered handle keeps no tail */
        if (iTail > 0 && pRec->pTail == nullptr)
            pRec->pTail = (char *)malloc(ZOLT_PIPE_TAIL_MAX);
        if (iTail > 0 && iTail <= ZOLT_PIPE_TAIL_MAX && pRec->pTail != nullptr) {
            memmove(pRec->pTail, s_acReadBuf + iUsed, (size_t)iTail);
            pRec->iTailLen = iTail;
        } else {
            pRec->iTailLen = 0;
        }
    }
    DropStalledPartials();
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeReadQue() %d Element in Que\n",
            CGenListGetCount(&gReadQue));
    return iQueued;
}

int ZoltPipeServiceReadQue(int iHandle)
{
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeServiceReadQue()\n");
    return ZoltPipeReadQue(iHandle);
}

/* 1 when ZoltPipeRead would deliver something now: iHandle has a complete
 * entry, wherever it stands behind unfinished ones. Read lock. */
static int HasCompleteEntry(int iHandle)
{
    CGenListIter it;
    CGenListIterInit(&it, &gReadQue);
    for (; !CGenListIterAtEnd(&it); CGenListIterAdv(&it)) {
        const QueObject *pEntry = (const QueObject *)CGenListIterGetData(&it);
        if (pEntry->iHandle == iHandle && IsComplete(pEntry))
            return 1;
    }
    return 0;
}

/* Delivers the complete messages of iHandle's queue; see the header. Any
 * thread, no pipe lock held. */
int ZoltPipeRead(int iHandle, char **ppOut)
{
    if (ppOut == nullptr)
        return -1;
    *ppOut = nullptr;
    if (!g_bInitPipesCalled)
        return 0;
    LockSlot(ZOLT_PIPE_READ_LOCK);
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeRead() %d Element in Que\n",
            CGenListGetCount(&gReadQue));
    ZoltPipeReadQue(iHandle);

    size_t uCap = ZOLT_PIPE_FIRST_READ_BUFFER;
    size_t uLen = 0;
    char *pOut = (char *)malloc(uCap);
    CGenListIter it;
    CGenListIterInit(&it, &gReadQue);
    while (pOut != nullptr && !CGenListIterAtEnd(&it)) {
        QueObject *pEntry = (QueObject *)CGenListIterGetData(&it);
        if (pEntry->iHandle != iHandle) {
            CGenListIterAdv(&it);
            continue;
        }
        if (!IsComplete(pEntry)) {
            CGenListIterAdv(&it); /* unfinished: never waited for */
            continue;
        }
        size_t uNeed = uLen + (size_t)pEntry->iDataLen + 1;
        if (uNeed > uCap) {
            /* doubling: many small messages cost linear copying, not quadratic */
            size_t uNewCap = uCap * 2 > uNeed ? uCap * 2 : uNeed;
            char *pNew = (char *)realloc(pOut, uNewCap);
            if (pNew == nullptr)
                break; /* the entry stays queued for a later read */
            pOut = pNew;
            uCap = uNewCap;
        }
        memcpy(pOut + uLen, pEntry->pData, (size_t)pEntry->iDataLen);
        uLen += (size_t)pEntry->iDataLen;
        it = CGenListErase(&gReadQue, it);
    }
    if (pOut != nullptr)
        pOut[uLen] = '\0';
    if (uLen == 0) {
        free(pOut);
    } else {
        *ppOut = pOut;
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeRead() Fifo %d, Bytes %d \n DATA: %s \n",
                iHandle, (int)uLen, pOut);
    }
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeRead() %d Element in Que\n",
            CGenListGetCount(&gReadQue));
    UnlockSlot(ZOLT_PIPE_READ_LOCK);
    return (int)uLen;
}

/* Waits for a complete message; see the header. The wait uses poll, which
 * has no limit on the handle number. Any thread, no pipe lock held. */
int ZoltPipeSelect(int iReadHandle, int iOtherHandle, int iTimeoutMs)
{
    (void)iOtherHandle;
    if (!g_bInitPipesCalled)
        return -1;
    if (iTimeoutMs < 0)
        iTimeoutMs = 0;

    LockSlot(ZOLT_PIPE_READ_LOCK);
    ZoltPipeServiceReadQue(iReadHandle);
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeSelect %d Element in READ Que\n",
            CGenListGetCount(&gReadQue));
    UnlockSlot(ZOLT_PIPE_READ_LOCK);

    int iBroken = -1;
    if (ZoltTryMutex(__FILE__, __LINE__, "", ZOLT_PIPE_WRITE_LOCK) == 0) {
        iBroken = ServiceAllWriteFifos();
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeSelect %d Element in WRITE Que\n",
                CGenListGetCount(&gWriteQue));
        UnlockSlot(ZOLT_PIPE_WRITE_LOCK);
    }
    if (iBroken >= 0)
        ZoltPipeClose(iBroken);

    LockSlot(ZOLT_PIPE_READ_LOCK);
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeSelect %d Element in READ Que\n",
            CGenListGetCount(&gReadQue));
    int bDataWaiting = HasCompleteEntry(iReadHandle);
    int iResult = 0;
    uint32_t uStart = ZoltMilliSeconds();
    if (bDataWaiting) {
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeSelect() DATA in READ Q\n");
    } else {
        struct stat st;
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeSelect() size before %d\n",
                fstat(iReadHandle, &st) == 0 ? (int)FifoUnreadBytes(iReadHandle, &st) : -1);
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeSelect() timout %d\n", iTimeoutMs);
        int iWait = iTimeoutMs;
        for (;;) {
            struct pollfd pfd;
            pfd.fd = iReadHandle;
            pfd.events = POLLIN;
            pfd.revents = 0;
            int rv = poll(&pfd, 1, iWait);
            int32_t iRemaining = iTimeoutMs - (int32_t)(ZoltMilliSeconds() - uStart);
            if (rv < 0 && errno == EINTR && iRemaining > 0) {
                iWait = iRemaining;
                continue;
            }
            if (rv > 0 && (pfd.revents & POLLNVAL) != 0)
                rv = -1;
            if (rv <= 0) {
                iResult = rv;
                break;
            }
            ZoltPipeServiceReadQue(iReadHandle);
            if (HasCompleteEntry(iReadHandle)) {
                iResult = 1;
                break;
            }
            TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeSelect Incomplet Message\n");
            iRemaining = iTimeoutMs - (int32_t)(ZoltMilliSeconds() - uStart);
            if (iRemaining <= ZOLT_PIPE_SELECT_REMAINDER_MS) {
                TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeSelect Time is Up\n");
                iResult = 0; /* readable (or hung up) without a whole message */
                break;
            }
            TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeSelect Select again time remaning %d\n",
                    (int)iRemaining);
            /* With no writer left the FIFO reports hang-up at once: pause
             * instead of spinning until a writer comes back. Readable without
             * a whole message (a frame or message still unfinished): pause
             * 1 ms, so that bytes trickling in cannot keep the wait busy. */
            ZoltSleep((pfd.revents & POLLIN) == 0 ? 10 : 1);
            iWait = iRemaining;
        }
    }
    UnlockSlot(ZOLT_PIPE_READ_LOCK);
    struct stat st;
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeSelect() size after %d\n",
            fstat(iReadHandle, &st) == 0 ? (int)FifoUnreadBytes(iReadHandle, &st) : -1);
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeSelect() elapsed time %d\n",
            (int)(ZoltMilliSeconds() - uStart));
    if (iResult < 0 && !bDataWaiting)
        return -1;
    if (bDataWaiting)
        iResult |= 1;
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltPipeSelect() Returning %d\n", iResult);
    return iResult;
}

/* ======================================================================
 * Background
 * ====================================================================== */

/* One cycle: read side, then write side, each lock only tried. */
void ZoltServicePipes(void)
{
    if (!g_bInitPipesCalled)
        return;
    if (ZoltTryMutex(__FILE__, __LINE__, "", ZOLT_PIPE_READ_LOCK) == 0) {
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltServicePipes: ***READING***\n");
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltServicePipes %d Element in READ Que\n",
                CGenListGetCount(&gReadQue));
        CGenListIter it;
        CGenListIterInit(&it, &gReadFifoList);
        for (; !CGenListIterAtEnd(&it); CGenListIterAdv(&it))
            ZoltPipeReadQue(((FifoListObject *)CGenListIterGetData(&it))->iHandle);
        UnlockSlot(ZOLT_PIPE_READ_LOCK);
    }
    if (!g_ReadWriteThreadActive.load())
        return;
    int iBroken = -1;
    if (ZoltTryMutex(__FILE__, __LINE__, "", ZOLT_PIPE_WRITE_LOCK) == 0) {
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltServicePipes: ***WRITING***\n");
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltServicePipes %d Element in WRITE Que\n",
                CGenListGetCount(&gWriteQue));
        iBroken = ServiceAllWriteFifos();
        UnlockSlot(ZOLT_PIPE_WRITE_LOCK);
    }
    if (iBroken >= 0)
        ZoltPipeClose(iBroken);
}

void *ZoltReadWriteThread(void *pArg)
{
    (void)pArg;
    do {
        ZoltSleep(ZOLT_PIPE_CYCLE_MS);
        TPRINTF(T0, __FILE__, __LINE__, "", "ZoltReadWriteThread: Time %lu\n",
                (unsigned long)ZoltMilliSeconds());
        ZoltServicePipes();
    } while (g_ReadWriteThreadActive.load());
    TPRINTF(T0, __FILE__, __LINE__, "", "ZoltReadWriteThread: EXITING\n");
    TPRINTF(T1, __FILE__, __LINE__, "", "read-write thread exiting\n");
    return nullptr;
}

int ZoltPipeReadQueCount(void)
{
    if (!g_bInitPipesCalled)
        return 0;
    LockSlot(ZOLT_PIPE_READ_LOCK);
    int iCount = CGenListGetCount(&gReadQue);
    UnlockSlot(ZOLT_PIPE_READ_LOCK);
    return iCount;
}

int ZoltPipeWriteQueCount(void)
{
    if (!g_bInitPipesCalled)
        return 0;
    LockSlot(ZOLT_PIPE_WRITE_LOCK);
    int iCount = CGenListGetCount(&gWriteQue);
    UnlockSlot(ZOLT_PIPE_WRITE_LOCK);
    return iCount;
}
