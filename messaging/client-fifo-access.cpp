/* client-fifo-access.cpp - the FIFO ends of the broker connection (own read
 * FIFO made and opened twice, broker FIFO opened for writing), the FIFO and
 * directory names, and the process utilities of the client layer.
 * DESIGN: the names live in fixed 4096-byte buffers assembled with the bounded
 * copies, so an overlong path carries the overflow marker instead of running
 * past its buffer. The handles are plain globals, changed by the main thread
 * only (open and close); senders of any thread just read g_hFifoWrite.
 * Hostile names: the pipe directory may be writable by others, so a name is
 * never trusted for what it was a moment ago. A name is resolved once into an
 * O_PATH handle (which opens no file: no device is ever opened through it),
 * the handle is checked with fstat, and the file is then opened through
 * /proc/self/fd/<handle>, which reaches exactly the checked file however the
 * name has changed since. The broker FIFO may be reached through a link; the
 * own FIFO never (O_NOFOLLOW), and it must be the effective user's with mode
 * within 0660, else another user could read or forge what the broker sends.
 * The only name removed is the own FIFO, through client-fifo-guard, while it
 * still is the FIFO verified here.
 * Without /proc (a chroot, a container) the checked file is opened by name,
 * but only where no other user can put something else at that name: through
 * a handle on its directory (so that a renamed parent does not matter), the
 * directory being the effective user's or root's and writable by nobody
 * else, or sticky with the FIFO owned by the effective user or root; the
 * name must still be the checked FIFO, not a link (O_NOFOLLOW, so a link to
 * the broker FIFO is refused here), and what was opened must be that FIFO
 * (same device and inode) or it is closed at once. */
#include "client-fifo-access.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "client-fifo-guard.h"
#include "memory-alloc.h"
#include "pipe-lowlevel.h"
#include "process-id.h"
#include "trace.h"
#include "zolt-string.h"
#include "zolt-time.h"

char g_szPipeDir[ZOLT_PATH_BUFFER_SIZE];
char g_szBinDir[ZOLT_PATH_BUFFER_SIZE];
char g_szClientFifoName[ZOLT_PATH_BUFFER_SIZE];
char g_szOurFifoName[ZOLT_CONN_NAME_SIZE];
char g_szMainFifo[ZOLT_CONN_NAME_SIZE];

int g_hFifoRead = 0;
int g_hDummyFifoWrites = 0;
int g_hFifoWrite = 0;
int g_iWriteErrors = 0;
int g_iReadErrors = 0;
unsigned long g_lLastMessageSent = 0;

/* The directory chosen by ZoltSetPipeDirectory or taken from the working
 * directory, kept apart from g_szPipeDir so that a ZOLT_TMP seen on one call
 * does not replace it for the calls after ZOLT_TMP is gone. */
static char s_szSetPipeDir[ZOLT_PATH_BUFFER_SIZE];
static int s_bPipeDirSet = 0;

/* Broker FIFO name; private here (the framework has its own buffer of the
 * same name for the command-line text). Empty = not built yet. */
static char g_szServerFifoName[ZOLT_PATH_BUFFER_SIZE];

static unsigned long s_ulTimeStamp = 0;

/* A relative directory ("." followed by the rest) is joined to the working
 * directory; the result holds at most 512 characters. */
#define ZOLT_RELATIVE_DIR_SIZE 513

static const char s_szBrokerFifoBase[] = "ZOLTFIFO";

/* ---------------------------------------------------------------- names */

/* Resolves szDir into szOut (iSize bytes): "." or "./x" becomes the working
 * directory followed by the text after the dot; any other text starting with
 * '.' ("../x", ".x") is joined to the working directory with a '/', so that
 * it names what it says. The result is cut to 512 characters (the overflow
 * marker then makes it unusable). Any other text is copied. Returns 1 when it
 * fits, else 0. */
static int ResolveDirectory(const char *szDir, char *szOut, int iSize)
{
    if (szDir[0] != '.')
        return ZoltSafeStrCpy(szOut, szDir, iSize);
    char szWork[ZOLT_RELATIVE_DIR_SIZE];
    char szCwd[ZOLT_PATH_BUFFER_SIZE];
    if (getcwd(szCwd, sizeof szCwd) == NULL)
        szCwd[0] = '\0';
    int bOk = ZoltSafeStrCpy(szWork, szCwd, sizeof szWork);
    if (bOk && (szDir[1] == '/' || szDir[1] == '\0'))
        bOk = ZoltSafeStrCat(szWork, szDir + 1, sizeof szWork);
    else if (bOk)
        bOk = ZoltSafeStrCat(szWork, "/", sizeof szWork) &&
              ZoltSafeStrCat(szWork, szDir, sizeof szWork);
    return ZoltSafeStrCpy(szOut, szWork, iSize) && bOk;
}

/* Pipe directory, evaluated on every call: a non-empty ZOLT_TMP first (empty
 * with the star-framed message when it cannot be searched), then the
 * directory set by ZoltSetPipeDirectory, then the working directory, which is
 * kept from then on. Returns g_szPipeDir. Main thread. */
char *ZoltGetPipeDirectory(void)
{
    const char *szTmp = getenv("ZOLT_TMP");
    if (szTmp != NULL && szTmp[0] != '\0') {
        ZoltSafeStrCpy(g_szPipeDir, szTmp, sizeof g_szPipeDir);
        if (access(g_szPipeDir, X_OK) != 0) {
            fprintf(stderr, "*****************\nCannot Acces %s\n****************\n", g_szPipeDir);
            g_szPipeDir[0] = '\0';
        }
        return g_szPipeDir;
    }
    if (!s_bPipeDirSet) {
        if (getcwd(s_szSetPipeDir, sizeof s_szSetPipeDir) == NULL)
            s_szSetPipeDir[0] = '\0';
        s_bPipeDirSet = 1;
    }
    ZoltSafeStrCpy(g_szPipeDir, s_szSetPipeDir, sizeof g_szPipeDir);
    return g_szPipeDir;
}

/* Sets the pipe directory (relative when it starts with '.'). Returns 0, or 1
 * when it cannot be searched: the star-framed message goes to standard error
 * and the directory stays empty, so the FIFO names begin with "/". A null
 * szDir forgets the set directory: the next use takes the working directory
 * again (returns 0). Main thread. */
int ZoltSetPipeDirectory(const char *szDir)
{
    if (szDir == NULL) {
        s_bPipeDirSet = 0;
        s_szSetPipeDir[0] = '\0';
        return 0;
    }
    ResolveDirectory(szDir, s_szSetPipeDir, sizeof s_szSetPipeDir);
    s_bPipeDirSet = 1;
    ZoltSafeStrCpy(g_szPipeDir, s_szSetPipeDir, sizeof g_szPipeDir);
    if (access(s_szSetPipeDir, X_OK) != 0) {
        fprintf(stderr, "*****************\nCannot Access %s\n****************\n", s_szSetPipeDir);
        s_szSetPipeDir[0] = '\0';
        g_szPipeDir[0] = '\0';
        return 1;
    }
    return 0;
}

/* Sets the program directory (relative rule as above); its subdirectory
 * zolt2000 must be searchable, else the star-framed message is printed and
 * the directory emptied. Returns 0, or 1 (also for a null szDir). */
int ZoltSetBinDirectory(const char *szDir)
{
    if (szDir == NULL)
        return 1;
    ResolveDirectory(szDir, g_szBinDir, sizeof g_szBinDir);
    char szSub[ZOLT_PATH_BUFFER_SIZE];
    ZoltSafeStrCpy(szSub, g_szBinDir, sizeof szSub);
    ZoltSafeStrCat(szSub, "/zolt2000", sizeof szSub);
    if (access(szSub, X_OK) != 0) {
        fprintf(stderr, "*****************\nCannot Acces zolt2000 in %s\n****************\n",
                g_szBinDir);
        g_szBinDir[0] = '\0';
        return 1;
    }
    return 0;
}

/* The program directory ("" until set). */
char *ZoltGetBinDirectory(void)
{
    return g_szBinDir;
}

/* Builds the default broker FIFO name <pipe dir>/ZOLTFIFO. */
static void BuildDefaultServerFifoName(void)
{
    ZoltSafeStrCpy(g_szServerFifoName, ZoltGetPipeDirectory(), sizeof g_szServerFifoName);
    ZoltSafeStrCat(g_szServerFifoName, "/", sizeof g_szServerFifoName);
    ZoltSafeStrCat(g_szServerFifoName, s_szBrokerFifoBase, sizeof g_szServerFifoName);
}

/* The broker FIFO name; the default is built when none is set yet. */
char *ZoltGetServerFifoName(void)
{
    if (g_szServerFifoName[0] == '\0')
        BuildDefaultServerFifoName();
    return g_szServerFifoName;
}

/* Selects the broker FIFO of process lPid (own pid for 0):
 * <pipe dir>/ZOLTFIFO_<pid>. */
void ZoltSetServerFifoName(long lPid)
{
    char szPid[32];
    snprintf(szPid, sizeof szPid, "_%li", lPid != 0 ? lPid : ZoltGetPid());
    BuildDefaultServerFifoName();
    ZoltSafeStrCat(g_szServerFifoName, szPid, sizeof g_szServerFifoName);
}

/* Takes szName as the broker FIFO name; null or "" sets the default. */
void ZoltSetServerFifoNameEx(const char *szName)
{
    if (szName == NULL || szName[0] == '\0')
        BuildDefaultServerFifoName();
    else
        ZoltSafeStrCpy(g_szServerFifoName, szName, sizeof g_szServerFifoName);
}

/* Own read FIFO name <pipe dir>/ZOLT_<pid>, rebuilt from the current pipe
 * directory into g_szClientFifoName, which it returns. */
char *ZoltGetClientFifoName(void)
{
    char szPid[32];
    snprintf(szPid, sizeof szPid, "/ZOLT_%li", ZoltGetClientPid());
    ZoltSafeStrCpy(g_szClientFifoName, ZoltGetPipeDirectory(), sizeof g_szClientFifoName);
    ZoltSafeStrCat(g_szClientFifoName, szPid, sizeof g_szClientFifoName);
    return g_szClientFifoName;
}

/* ------------------------------------------------------------ FIFO ends */

/* 1 when the directory stat *pDir and the FIFO stat *pFifo in it leave no
 * other user (but root) a way to put another file at the FIFO's name: the
 * directory is the effective user's or root's, and either nobody else may
 * write it, or it is sticky and the FIFO is the effective user's or root's. */
static int NameIsOurs(const struct stat *pDir, const struct stat *pFifo)
{
    uid_t uMe = geteuid();
    if (pDir->st_uid != uMe && pDir->st_uid != 0)
        return 0;
    if ((pDir->st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return 1;
    return (pDir->st_mode & S_ISVTX) != 0 && (pFifo->st_uid == uMe || pFifo->st_uid == 0);
}

/* The /proc-less open: szPath's last name opened relative to a handle on its
 * directory, when NameIsOurs and the name still is the checked FIFO *pSt
 * (never through a link); the opened file must be that FIFO. Returns the
 * transport handle or -1. */
static int OpenFifoByName(const char *szPath, const struct stat *pSt, int bForWriting)
{
    const char *pSlash = strrchr(szPath, '/');
    const char *szBase = pSlash != nullptr ? pSlash + 1 : szPath;
    char szDir[ZOLT_PATH_BUFFER_SIZE] = ".";
    size_t uDirLen = pSlash == nullptr ? 0 : pSlash == szPath ? 1 : (size_t)(pSlash - szPath);
    if (uDirLen >= sizeof szDir)
        return -1;
    if (uDirLen > 0) {
        memcpy(szDir, szPath, uDirLen);
        szDir[uDirLen] = '\0';
    }
    int fdDir = open(szDir, O_PATH | O_DIRECTORY | O_CLOEXEC);
    struct stat stDir, stName, stOpen;
    int h = -1;
    if (fdDir >= 0 && fstat(fdDir, &stDir) == 0 &&
        fstatat(fdDir, szBase, &stName, AT_SYMLINK_NOFOLLOW) == 0 && S_ISFIFO(stName.st_mode) &&
        stName.st_dev == pSt->st_dev && stName.st_ino == pSt->st_ino && NameIsOurs(&stDir, &stName))
        h = ZoltPipeOpenAt(fdDir, szBase, bForWriting, O_NOFOLLOW);
    if (h >= 0 && (fstat(h, &stOpen) != 0 || !S_ISFIFO(stOpen.st_mode) ||
                   stOpen.st_dev != pSt->st_dev || stOpen.st_ino != pSt->st_ino)) {
        ZoltPipeClose(h);
        h = -1;
    }
    if (fdDir >= 0)
        close(fdDir);
    TPRINTF(3, __FILE__, __LINE__, "", "OpenFifoByName: %s without /proc: %d\n", szPath, h);
    return h;
}

/* Opens the FIFO that fdPath (an O_PATH handle, found as szPath) refers to
 * through its /proc/self/fd name, so that exactly that file is opened,
 * whatever the path it was found by names by now; without /proc (that name
 * does not reach the same file) through OpenFifoByName. Returns the transport
 * handle or -1. */
static int OpenVerifiedFifo(int fdPath, const char *szPath, int bForWriting)
{
    char szSelf[64];
    snprintf(szSelf, sizeof szSelf, "/proc/self/fd/%d", fdPath);
    struct stat stPath, stSelf;
    if (fstat(fdPath, &stPath) != 0)
        return -1;
    if (stat(szSelf, &stSelf) == 0 && stSelf.st_dev == stPath.st_dev &&
        stSelf.st_ino == stPath.st_ino)
        return ZoltPipeOpen(szSelf, bForWriting);
    return OpenFifoByName(szPath, &stPath, bForWriting);
}

/* Opens the broker FIFO for writing (non-blocking: fails unless the broker
 * holds it open for reading). Only a FIFO is opened: the name is first
 * resolved without opening its file (O_PATH; a link is followed to what it
 * names), and anything but a FIFO is refused before any open for writing.
 * Returns 0, or 1 with g_hFifoWrite 0 (also for a name longer than 255
 * characters, which is refused rather than cut). */
int ZoltClient_I_OpenWriteFifo(void)
{
    g_hFifoWrite = 0;
    if (!ZoltSafeStrCpy(g_szMainFifo, ZoltGetServerFifoName(), sizeof g_szMainFifo)) {
        /* a cut name would name some other file */
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClient_I_OpenWriteFifo: name too long\n");
        g_szMainFifo[0] = '\0';
        return 1;
    }
    int fdPath = open(g_szMainFifo, O_PATH | O_CLOEXEC);
    struct stat st;
    int h = -1;
    if (fdPath >= 0 && fstat(fdPath, &st) == 0 && S_ISFIFO(st.st_mode))
        h = OpenVerifiedFifo(fdPath, g_szMainFifo, 1);
    if (fdPath >= 0)
        close(fdPath);
    if (h < 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClient_I_OpenWriteFifo: cannot open %s\n",
                g_szMainFifo);
        return 1;
    }
    g_hFifoWrite = h;
    return 0;
}

/* Makes szPath a FIFO, or finds the one standing there, and checks it without
 * following a link: a FIFO of the effective user with no permission bits
 * beyond 0660. Returns an O_PATH handle on it, or -1 (what stands there is
 * left as it is). */
static int MakeOrFindOwnFifo(const char *szPath, struct stat *pSt)
{
    ZoltPipeUMask(0);
    if (mkfifo(szPath, ZOLT_PIPE_FIFO_MODE) != 0 && errno != EEXIST)
        return -1;
    int fdPath = open(szPath, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fdPath < 0)
        return -1;
    if (fstat(fdPath, pSt) != 0 || !S_ISFIFO(pSt->st_mode) || pSt->st_uid != geteuid() ||
        (pSt->st_mode & 07777 & ~(mode_t)ZOLT_PIPE_FIFO_MODE) != 0) {
        close(fdPath);
        return -1;
    }
    return fdPath;
}

/* Makes szPath a FIFO (umask 0 left in place, mode 0660) or reuses the FIFO
 * standing there when it is the module's own (its user's, mode within 0660,
 * not a link), and opens it for reading, then once more for writing so that
 * the read end never sees end-of-file while no broker holds it. From the
 * moment it is verified, SIGTERM, SIGINT and SIGHUP remove it before the
 * process ends. Returns 0, 2 (nothing usable there, or no read end) or 3 (no
 * extra write end); on failure both handles are 0 and only a FIFO verified
 * here is removed again. */
int ZoltClient_I_CreateAndOpenReadFifo(const char *szPath)
{
    g_hFifoRead = 0;
    g_hDummyFifoWrites = 0;
    if (ZoltClient_I_GuardBegin(szPath) != 0)
        return 2;
    struct stat st;
    int fdPath = MakeOrFindOwnFifo(szPath, &st);
    if (fdPath < 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClient_I_CreateAndOpenReadFifo: %s refused\n",
                szPath);
        ZoltClient_I_GuardEnd();
        return 2;
    }
    ZoltClient_I_GuardArm(st.st_dev, st.st_ino);
    int iRc = 0;
    int h = OpenVerifiedFifo(fdPath, szPath, 0);
    if (h < 0) {
        iRc = 2;
    } else {
        g_hFifoRead = h;
        h = OpenVerifiedFifo(fdPath, szPath, 1);
        if (h < 0) {
            iRc = 3;
            ZoltPipeClose(g_hFifoRead);
            g_hFifoRead = 0;
        } else {
            g_hDummyFifoWrites = h;
        }
    }
    close(fdPath);
    if (iRc != 0) {
        ZoltClient_I_GuardRemove();
        ZoltClient_I_GuardEnd();
    }
    return iRc;
}

/* Ignores SIGPIPE, opens the broker FIFO and makes the own read FIFO.
 * Returns 0, 1 (broker FIFO) or 2 (own FIFO, also when its name is longer
 * than 255 characters or no pipe directory could be searched, so that the
 * name would land in the root directory; the broker FIFO is closed again).
 * Main thread. */
int ZoltClient_I_OpenFifoConnection(void)
{
    ZoltPipeSignalHandle();
    if (ZoltClient_I_OpenWriteFifo() != 0)
        return 1;
    int bNamed = ZoltSafeStrCpy(g_szOurFifoName, ZoltGetClientFifoName(), sizeof g_szOurFifoName);
    if (!bNamed || g_szPipeDir[0] == '\0' ||
        ZoltClient_I_CreateAndOpenReadFifo(g_szOurFifoName) != 0) {
        g_szOurFifoName[0] = '\0';
        ZoltClient_I_CloseWriteFifo();
        return 2;
    }
    return 0;
}

/* Closes the broker FIFO (its queued pieces are dropped). Returns 0. */
int ZoltClient_I_CloseWriteFifo(void)
{
    if (g_hFifoWrite > 0)
        ZoltPipeClose(g_hFifoWrite);
    g_hFifoWrite = 0;
    return 0;
}

/* Closes the own read FIFO and its extra write handle. Returns 0. */
int ZoltClient_I_CloseReadFifo(void)
{
    if (g_hDummyFifoWrites > 0)
        ZoltPipeClose(g_hDummyFifoWrites);
    g_hDummyFifoWrites = 0;
    if (g_hFifoRead > 0)
        ZoltPipeClose(g_hFifoRead);
    g_hFifoRead = 0;
    return 0;
}

/* Removes the own read FIFO's name (only while it still names the FIFO made
 * or verified at the open); the open handles stay usable, and only the
 * broker, which has it open, can reach it from now on. The name is kept so
 * that ZoltClient_I_GetReadPipeName still reports it. Returns 0. */
int ZoltClient_I_HideFifo(void)
{
    ZoltClient_I_GuardRemove();
    ZoltClient_I_GuardEnd();
    return 0;
}

/* Closes all three handles, removes the own FIFO's name if it still names
 * the verified FIFO, and forgets it. Returns 0. Main thread. */
int ZoltClient_I_CloseFifoConnection(void)
{
    ZoltClient_I_CloseReadFifo();
    ZoltClient_I_CloseWriteFifo();
    ZoltClient_I_GuardRemove(); /* nothing to do once hidden */
    ZoltClient_I_GuardEnd();
    g_szOurFifoName[0] = '\0';
    return 0;
}

/* Hands the whole text to the transport for the broker FIFO and records the
 * time of the send. Returns 0, or 1 when the transport refused it (-1 handle
 * not open, 0 broken pipe, which also closed the handle). Any thread; the
 * counters are plain values. */
int ZoltClient_I_WriteFifo(const char *szText)
{
    g_lLastMessageSent = ZoltGetTimeOfDay();
    if (szText == NULL) {
        g_iWriteErrors++;
        return 1;
    }
    int iLen = (int)strlen(szText);
    int iRc = ZoltPipeWrite(g_hFifoWrite, szText, iLen);
    if (iRc == iLen) {
        g_iWriteErrors = 0;
        return 0;
    }
    if (iRc == 0)
        g_hFifoWrite = 0; /* broken pipe: the transport has closed the handle */
    g_iWriteErrors++;
    return 1;
}

/* All complete messages now waiting on the own read FIFO as one new heap text
 * (the caller frees it), its length through piLength when given; null when
 * there are none. A transport error counts in g_iReadErrors. */
char *ZoltClient_I_ReadFifo(int *piLength)
{
    if (g_hFifoRead <= 0)
        return NULL; /* no read FIFO: never touch handle 0, standard input */
    char *szData = NULL;
    int iRc = ZoltPipeRead(g_hFifoRead, &szData);
    if (iRc < 0) {
        g_iReadErrors++;
        TPRINTF(3, __FILE__, __LINE__, "", "ZoltClient_I_ReadFifo() g_iReadErrors: %d\n",
                g_iReadErrors);
    } else {
        g_iReadErrors = 0;
    }
    if (iRc > 0 && szData != NULL) {
        if (piLength != NULL)
            *piLength = iRc;
        return szData;
    }
    free(szData);
    return NULL;
}

/* ---------------------------------------------------- process utilities */

/* 1 when a non-blocking wait for child lPid reports it (ended), else 0. */
int ZoltClientTerminated(long lPid)
{
    int iStatus = 0;
    return waitpid((pid_t)lPid, &iStatus, WNOHANG) > 0 ? 1 : 0;
}

/* waitpid(). */
pid_t ZoltWaitPid(pid_t pid, int *piStatus, int iOptions)
{
    return waitpid(pid, piStatus, iOptions);
}

/* Stores and returns the millisecond clock. */
unsigned long ZoltTimeStamp(void)
{
    s_ulTimeStamp = ZoltMilliSeconds();
    return s_ulTimeStamp;
}

/* Milliseconds since the last ZoltTimeStamp (wrapping like the clock). */
unsigned long ZoltTimeDiff(void)
{
    return (unsigned long)(uint32_t)(ZoltMilliSeconds() - (uint32_t)s_ulTimeStamp);
}

/* getcwd(). */
char *ZoltGetCwd(char *szBuffer, int iSize)
{
    if (szBuffer == NULL || iSize < 1)
        return NULL;
    return getcwd(szBuffer, (size_t)iSize);
}

/* chdir(). */
int ZoltChDir(const char *szPath)
{
    return chdir(szPath);
}

/* The handle of standard input. */
int ZoltGetStdInFileNo(void)
{
    return fileno(stdin);
}

/* At most 19 words after the program path, and the closing null. */
#define ZOLT_EXEC_MAX_ARGS 19

/* Starts szPath with the words of szArgs: leading blanks skipped, then cut at
 * every single blank (two in a row give an empty word), at most 19 words.
 * Returns the child's pid; -1 when szPath is missing, with *piError -1 (no
 * such file) or -2 (name too long); other stat errors are printed. The child
 * exits with status 0 when the exec fails. */
long ZoltVerboseExec(const char *szPath, const char *szArgs, int *piError)
{
    if (szPath == NULL)
        return -1;
    char *szCopy = ZoltAllocStringEx(szArgs != NULL ? szArgs : "");
    if (szCopy == NULL)
        return -1;
    char *apszArgv[ZOLT_EXEC_MAX_ARGS + 2];
    int iArgc = 0;
    apszArgv[iArgc++] = (char *)szPath;
    char *p = szCopy;
    while (*p == ' ')
        p++;
    while (*p != '\0' && iArgc <= ZOLT_EXEC_MAX_ARGS) {
        apszArgv[iArgc++] = p;
        char *pBlank = strchr(p, ' ');
        if (pBlank == NULL)
            break;
        *pBlank = '\0';
        p = pBlank + 1;
    }
    apszArgv[iArgc] = NULL;

    struct stat st;
    if (stat(szPath, &st) != 0) {
        if (errno == ENOENT) {
            if (piError != NULL)
                *piError = -1;
        } else if (errno == ENAMETOOLONG) {
            if (piError != NULL)
                *piError = -2;
        } else {
            perror("Unhandled Exec Error:");
        }
        free(szCopy);
        return -1;
    }
    pid_t pid = vfork();
    if (pid == 0) {
        execv(szPath, apszArgv);
        _exit(0);
    }
    free(szCopy);
    return (long)pid;
}

/* ZoltVerboseExec with the error output ignored. */
long ZoltExec(const char *szPath, const char *szArgs)
{
    int iError = 0;
    return ZoltVerboseExec(szPath, szArgs, &iError);
}

/* Prints the message of an exec error code; other codes print nothing. */
void ZoltPrintExecError(const char *szName, int iCode)
{
    switch (iCode) {
    case -1:
        ZoltPrintf("Error executing %s: Component Not Found\n", szName);
        break;
    case -2:
        ZoltPrintf("Error executing %s: Component Name is Too Long\n", szName);
        break;
    case -3:
        ZoltPrintf("Error executing %s: Component Timed Out\n", szName);
        break;
    default:
        break;
    }
}
