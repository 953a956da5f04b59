/* pipe-lowlevel.h - FIFO transport: the frame format on every FIFO, the read
 * and write queues, the open FIFO ends and the background read/write thread
 * that moves pieces between FIFOs and queues. Message texts are carried, never
 * interpreted. */
#ifndef ZOLT_PIPE_LOWLEVEL_H
#define ZOLT_PIPE_LOWLEVEL_H

#include <stdint.h>
#include <sys/types.h>

#include "gen-list.h"

/* The most a FIFO is allowed to hold unread, and the size of one read. */
#define ZOLT_PIPE_CAPACITY 4096
/* Largest payload of one frame: with the longest delimiter (63) a frame stays
 * below 4096 bytes, so every frame is one atomic pipe write. */
#define ZOLT_PIPE_PIECE_SIZE 4020
/* Longest accepted delimiter, start marker to end marker inclusive. */
#define ZOLT_PIPE_DELIM_MAX 63
/* Largest message a reader accepts: bigger claims are dropped as garbage so
 * that a corrupt delimiter never makes the reader allocate without bound. */
#define ZOLT_PIPE_MAX_MESSAGE (16u * 1024u * 1024u)
/* Most messages being reassembled at once (all read ends together), and of one
 * sender on one read end: a further first piece makes the oldest unfinished
 * one (of all, or of that sender) give way. */
#define ZOLT_PIPE_MAX_PARTIAL 64
#define ZOLT_PIPE_MAX_PARTIAL_PER_SENDER 8
/* An unfinished message that gets no piece for this long is dropped: a sender
 * writes each piece as soon as the FIFO has room, and we drain it every 1 ms. */
#define ZOLT_PIPE_PARTIAL_STALL_MS 5000
/* ZoltPipeWrite's result when a piece could not be allocated: nothing of the
 * message is queued, the FIFO stays open. */
#define ZOLT_PIPE_NO_MEMORY (-2)
#define ZOLT_PIPE_FIFO_MODE 0660
#define ZOLT_PIPE_LOCK_BACKOFF_MS 10     /* pause between tries to take both locks */
#define ZOLT_PIPE_CYCLE_MS 1             /* pause at the top of each thread cycle */
#define ZOLT_PIPE_FLUSH_STEP_MS 350      /* pause between flush attempts */
#define ZOLT_PIPE_SELECT_REMAINDER_MS 50 /* a remaining wait at or below this ends a select */
#define ZOLT_PIPE_FIRST_READ_BUFFER 2048 /* first size of the buffer ZoltPipeRead delivers */

/* Mutex slots: the read lock guards gReadQue and gReadFifoList, the write
 * lock gWriteQue, gWriteFifoList and the message counter. */
#define ZOLT_PIPE_READ_LOCK 3
#define ZOLT_PIPE_WRITE_LOCK 4

/* Frame delimiter: start marker, type letter, ':', then six numbers each
 * followed by ':' (message number, sender pid, piece index, piece count, piece
 * size, total size), end marker. Example for message 5 of process 812, one
 * piece of 147 bytes: "|\1\1\1H:5:812:1:1:147:147:\1\1\1|" then the 147 bytes. */
#define ZOLT_PIPE_START_MARKER "|\001\001\001"
#define ZOLT_PIPE_END_MARKER "\001\001\001|"
#define ZOLT_PIPE_MARKER_LEN 4
#define ZOLT_PIPE_FRAME_H 0 /* MakeDelimiterStr type: 'H' (the only one written) */
#define ZOLT_PIPE_FRAME_F 1 /* 'F': accepted by the reader, treated like 'H' */

/* One open FIFO end, element of gReadFifoList / gWriteFifoList (owned there).
 * A read end also keeps the unfinished tail of its last read: Linux FIFOs may
 * hold several frames, so a 4096-byte read can end inside one. */
typedef struct FifoListObject {
    int32_t iHandle;
    char szName[256]; /* the FIFO's path, kept for tracing */
    char *pTail;      /* read end: bytes of an unfinished frame (heap, owned), or null */
    int32_t iTailLen;
} FifoListObject;

/* One queued piece (write queue) or message being reassembled (read queue);
 * owned by its queue, data released by QueObjectDestructor. Fields 1-6 are the
 * six numbers of a frame delimiter. A read entry is complete when its piece
 * index equals its piece count. */
typedef struct QueObject {
    uint32_t uMsgNumber;
    int32_t iSenderPid;
    int32_t iPieceIndex; /* read queue: index of the last piece received */
    int32_t iPieceCount;
    uint32_t uPieceSize; /* read queue: bytes received so far */
    uint32_t uTotalSize;
    int32_t iHandle;   /* FIFO the piece goes to / came from */
    char *pData;       /* heap, owned; write: piece + 1 spare byte; read: received bytes + NUL */
    int32_t iDataLen;  /* bytes of pData in use */
    uint32_t uDataCap; /* read queue: bytes allocated for pData */
    uint32_t uLastPieceMs; /* read queue: millisecond clock when its last piece came */
} QueObject;

void QueObjectDestructor(void *pElem);
void FifoListObjectDestructor(void *pElem);
/* Compares two FIFO records by handle (0 when equal). */
int FifoListCompare(const void *pElem, const void *pKey);

/* ---- Lifecycle (main thread) ---- */

/* Constructs the four lists on the first call (again after ZoltCleanupPipes);
 * later calls do nothing. Returns 0. */
int ZoltInitPipes(void);
/* Sets the run flag and starts the read/write thread. Returns 0 or the
 * pthread_create error. A second start while it runs does nothing (0). */
int ZoltInitReadWriteThread(void);
/* Clears the run flag and joins the thread (the flag is set again after the
 * join, so the thread may be started again). Returns the pthread_join result
 * (0 also when no thread runs). */
int ZoltStopReadWriteThread(void);
/* Takes both locks, closes every FIFO still registered and destroys the four
 * lists with everything queued; ZoltInitPipes may be called again after it. */
void ZoltCleanupPipes(void);

/* ---- FIFO ends ---- */

/* mkfifo with mode 0660; an existing FIFO at szPath (symbolic links not
 * followed) counts as success. Returns 0 or the mkfifo result (-1). */
int ZoltPipeMkFifo(const char *szPath);
/* umask(); returns the previous mask. */
mode_t ZoltPipeUMask(mode_t mask);
/* unlink(); returns its result. */
int ZoltPipeUnLink(const char *szPath);
/* Opens szPath non-blocking for reading (bForWriting 0) or writing and
 * registers the handle. A write end replacing a registered handle number drops
 * that number's queued pieces. Takes both locks. Returns the handle or -1
 * (a write open fails when nobody has the FIFO open for reading). */
int ZoltPipeOpen(const char *szPath, int bForWriting);
/* Unregisters and closes iHandle (a write end's queued pieces are dropped, a
 * read end's queued messages stay). Takes both locks. Returns the close()
 * result, or 0 (nothing closed) for a handle in neither list. */
int ZoltPipeClose(int iHandle);
/* Ignores SIGPIPE, so that writing to a FIFO without reader yields EPIPE. */
void ZoltPipeSignalHandle(void);

/* ---- Writing (any thread; takes the write lock) ---- */

/* Queues the iLen bytes of pText for the registered write end iHandle, cut in
 * pieces of 4020 bytes, and writes as many frames as fit now; the rest goes
 * later (read/write thread, next write, flush). Returns iLen (queued counts as
 * written), 0 for iLen 0 or when the reader has gone (the FIFO is then closed
 * and its queue dropped), -1 when iHandle is not a registered write end,
 * ZOLT_PIPE_NO_MEMORY when a piece could not be allocated (nothing queued, the
 * FIFO stays open). */
int ZoltPipeWrite(int iHandle, const char *pText, int iLen);
/* Keeps writing the queue of iHandle until the write queue is empty or
 * iTimeoutMs have passed (350 ms steps, write lock held throughout). Closes
 * iHandle when its reader has gone. Returns the entries left in the write
 * queue (all handles). */
int ZoltFlushWritePipe(int iHandle, int iTimeoutMs);

/* Inner write operations; the write lock must be held. */
/* Cuts and queues one message and services the queue of iHandle once.
 * Returns iLen (0 for iLen 0, ZOLT_PIPE_NO_MEMORY when a piece could not be
 * allocated); *pbBrokenPipe set when the reader has gone. */
int ZoltPipeWriteQue(int iHandle, const char *pText, int iLen, int *pbBrokenPipe);
/* Test seam: allocates the bytes of one queued piece (default malloc). */
extern void *(*g_pfnZoltPipeAllocPiece)(size_t uSize);
/* Writes queued frames of iHandle in order until one does not fit. Returns
 * the payload bytes written; *pbBrokenPipe (may be null) set on EPIPE. */
int ZoltPipeServiceWriteQue(int iHandle, int *pbBrokenPipe);
/* Writes one frame when the FIFO has room for all of it (at most 4096 bytes
 * unread afterwards). Returns the write() result, 0 when there is no room or
 * the status cannot be read, -1 with errno (EPIPE: reader gone, also seen
 * while the FIFO is too full to write). */
int ZoltPipeWritePipe(int iHandle, const char *pBytes, int iLen);
/* Writes the delimiter of pQue (iType ZOLT_PIPE_FRAME_H or _F) into szOut.
 * Returns its length, or 0 when it would exceed iSize - 1 or 63 characters. */
int MakeDelimiterStr(const QueObject *pQue, int iType, char *szOut, int iSize);
/* Erases (and frees) every entry of iHandle from pQue. */
void ZoltQueCleanup(CGenList *pQue, int iHandle);

/* ---- Reading (any thread; takes the read lock) ---- */

/* Hands over every complete message of iHandle in the read queue, in the order
 * their first pieces came (an unfinished message is passed over, never waited
 * for), draining the FIFO first, as one new heap text in *ppOut (terminated;
 * messages concatenated, each ending in its own CR LF). *ppOut is null when
 * nothing is delivered. The caller frees it. Returns the bytes delivered. */
int ZoltPipeRead(int iHandle, char **ppOut);
/* Waits up to iTimeoutMs for a complete message on iReadHandle, also pushing
 * the write queues once. iOtherHandle is not watched. Holds the read lock while
 * it waits. Returns -1 on error, 0 on time-out, else a positive value whose
 * bit 0 says a complete message is waiting that ZoltPipeRead delivers now (at
 * once when one is queued). A FIFO readable without a whole message costs a
 * 1 ms pause, so no peer can make the wait spin. */
int ZoltPipeSelect(int iReadHandle, int iOtherHandle, int iTimeoutMs);

/* Inner read operations; the read lock must be held. */
/* Drain iHandle into the read queue (reads of 4096 bytes until it is empty),
 * keeping an unfinished frame for the next call and dropping garbage up to the
 * next valid delimiter. Return the payload bytes queued. */
int ZoltPipeReadQue(int iHandle);
int ZoltPipeServiceReadQue(int iHandle);
/* One read() of at most iSize bytes (EINTR retried). Returns its result. */
int ZoltPipeReadPipe(int iHandle, char *pBuf, int iSize);
/* Finds the first well-formed-looking delimiter in the iLen bytes at p: a start
 * marker followed within 63 characters by an end marker. Returns its start, or
 * null; *piDelimLen gets its length. Start markers without an end marker in
 * reach are skipped. */
const char *FindDelimiter(const char *p, int iLen, int *piDelimLen);
/* Parses the iLen-byte delimiter at p into pQue's six numbers and *piType.
 * Returns 1 when valid (type H or F within the first 7 characters, six
 * base-10 numbers each ended by one separator), else 0. */
int ParseDelimStr(const char *p, int iLen, QueObject *pQue, int *piType);

/* ---- Background ---- */

/* Thread body: every 1 ms one ZoltServicePipes, until the run flag clears. */
void *ZoltReadWriteThread(void *pArg);
/* One cycle: drain every read FIFO, then push every write queue; each lock only
 * tried, a busy one skipped. */
void ZoltServicePipes(void);

/* Test seam: the stall bound of unfinished messages (default
 * ZOLT_PIPE_PARTIAL_STALL_MS). */
extern uint32_t g_uZoltPipePartialStallMs;

/* Queue lengths, for tests and tracing (take the lock themselves). */
int ZoltPipeReadQueCount(void);
int ZoltPipeWriteQueCount(void);

#endif /* ZOLT_PIPE_LOWLEVEL_H */
