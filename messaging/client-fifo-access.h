/* client-fifo-access.h - the FIFO ends of the broker connection, the FIFO and
 * directory names (pipe directory, broker FIFO, own read FIFO, program
 * directory) and the small process utilities of the client layer. */
#ifndef ZOLT_CLIENT_FIFO_ACCESS_H
#define ZOLT_CLIENT_FIFO_ACCESS_H

#include <sys/types.h>

#include "process-id.h"

/* Path buffers: 4096 bytes, the longest path the file system takes. */
#define ZOLT_PATH_BUFFER_SIZE 4096
/* Copies kept for the open connection: 256 bytes (255 characters). */
#define ZOLT_CONN_NAME_SIZE 256

/* Names: evaluated on every call, see ZoltGetPipeDirectory. */
extern char g_szPipeDir[ZOLT_PATH_BUFFER_SIZE];
extern char g_szBinDir[ZOLT_PATH_BUFFER_SIZE];
extern char g_szClientFifoName[ZOLT_PATH_BUFFER_SIZE];
extern char g_szOurFifoName[ZOLT_CONN_NAME_SIZE];
extern char g_szMainFifo[ZOLT_CONN_NAME_SIZE];

/* Connection state; a handle of 0 means "not open". */
extern int g_hFifoRead;
extern int g_hDummyFifoWrites;
extern int g_hFifoWrite;
extern int g_iWriteErrors;
extern int g_iReadErrors;
extern unsigned long g_lLastMessageSent;

/* ---- Directories and FIFO names (main thread) ---- */

/* Pipe directory, evaluated on every call: a non-empty ZOLT_TMP (printing the
 * star-framed "Cannot Acces" message and answering "" when it cannot be
 * searched), else the directory set by ZoltSetPipeDirectory, else the current
 * working directory (then kept). Returns g_szPipeDir; never null. */
char *ZoltGetPipeDirectory(void);

/* Sets the pipe directory; "./x" (any text starting with '.') is taken relative
 * to the working directory (at most 512 characters in all). Returns 0, or 1
 * when the result cannot be searched (star-framed "Cannot Access" message on
 * standard error, directory left empty). Null forgets the set directory, so
 * that the working directory is taken again. */
int ZoltSetPipeDirectory(const char *szDir);

/* Program directory: same relative rule; requires that <dir>/zolt2000 can be
 * searched, else prints the star-framed message and empties it. Returns 0 or 1. */
int ZoltSetBinDirectory(const char *szDir);
char *ZoltGetBinDirectory(void);

/* Broker FIFO name: the set name, or the default <pipe dir>/ZOLTFIFO built now
 * when none is set. Returns a process-wide buffer (4096 bytes). */
char *ZoltGetServerFifoName(void);
/* Selects the broker FIFO of process lPid: <pipe dir>/ZOLTFIFO_<pid>
 * (own process id when lPid is 0). */
void ZoltSetServerFifoName(long lPid);
/* Sets the broker FIFO name as given; null or "" selects the default. */
void ZoltSetServerFifoNameEx(const char *szName);
/* Own read FIFO name: <pipe dir>/ZOLT_<own pid>, rebuilt on every call into
 * g_szClientFifoName, which it returns. */
char *ZoltGetClientFifoName(void);

/* ---- FIFO ends of the connection (main thread) ---- */

/* Ignores SIGPIPE, opens the broker FIFO for writing and makes and opens the own
 * read FIFO. Returns 0, 1 (broker FIFO not open for reading by anybody, not
 * there, or not a FIFO) or 2 (own read FIFO could not be made or what stands
 * at its name is not the module's own FIFO, or no pipe directory could be
 * searched; the broker FIFO is closed again). */
int ZoltClient_I_OpenFifoConnection(void);
/* Creates szPath as a FIFO (umask 0, mode 0660), or reuses the FIFO standing
 * there only when it is the module's own: not a link, owned by the effective
 * user, no permission bits beyond 0660. Opens it for reading into g_hFifoRead
 * and for writing into g_hDummyFifoWrites. From then until its name is
 * removed, SIGTERM, SIGINT and SIGHUP remove it and end the process by the
 * same signal. Returns 0, 2 (refused, or read open failed) or 3 (the extra
 * write open failed); on a failure both handles are 0, anything found there
 * is left as it was, and only a FIFO verified here is removed. */
int ZoltClient_I_CreateAndOpenReadFifo(const char *szPath);
/* Opens g_szMainFifo (copied from ZoltGetServerFifoName) for writing; anything
 * but a FIFO (also through a link) is refused without being opened.
 * Returns 0 or 1 (g_hFifoWrite then 0). */
int ZoltClient_I_OpenWriteFifo(void);
/* Close the broker FIFO, or the read FIFO and its extra write handle. Return 0. */
int ZoltClient_I_CloseWriteFifo(void);
int ZoltClient_I_CloseReadFifo(void);
/* Removes the own read FIFO's name while it still names the FIFO verified at
 * the open; the open handles stay usable. Returns 0. */
int ZoltClient_I_HideFifo(void);
/* Closes all three handles, removes the own FIFO's name if it still names the
 * verified FIFO, and forgets it. Returns 0. */
int ZoltClient_I_CloseFifoConnection(void);

/* Writes the whole text to the broker FIFO (queued by the transport when it
 * does not fit yet) and records the send time. Returns 0, or 1 when the
 * transport refused it (handle not open, broken pipe); counts failures in
 * g_iWriteErrors. Any thread. */
int ZoltClient_I_WriteFifo(const char *szText);

/* All complete messages waiting on the own read FIFO as one new heap text
 * (terminated; its length stored through piLength when given), or null when
 * there are none. The caller frees the text. Counts read errors. */
char *ZoltClient_I_ReadFifo(int *piLength);

/* ---- Process utilities ---- */

/* 1 when a non-blocking wait for child lPid reports it ended, else 0. */
int ZoltClientTerminated(long lPid);
/* waitpid(). */
pid_t ZoltWaitPid(pid_t pid, int *piStatus, int iOptions);
/* Stores and returns the millisecond clock; ZoltTimeDiff gives the
 * milliseconds since the last ZoltTimeStamp. */
unsigned long ZoltTimeStamp(void);
unsigned long ZoltTimeDiff(void);
/* getcwd() and chdir(). */
char *ZoltGetCwd(char *szBuffer, int iSize);
int ZoltChDir(const char *szPath);
/* The handle of standard input. */
int ZoltGetStdInFileNo(void);
/* Starts szPath with the blank-separated words of szArgs (at most 19; two
 * blanks in a row give an empty word). Returns the child's process id, or -1
 * with *piError -1 (no such file), -2 (name too long) or left alone (other
 * errors, printed with perror). ZoltExec ignores the error output. */
long ZoltVerboseExec(const char *szPath, const char *szArgs, int *piError);
long ZoltExec(const char *szPath, const char *szArgs);
/* Prints the message of an exec error code (-1, -2, -3) with szName. */
void ZoltPrintExecError(const char *szName, int iCode);

#endif
