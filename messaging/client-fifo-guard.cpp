/* client-fifo-guard.cpp - the module's own read FIFO as a verified file: the
 * only name the module removes, and the signal handlers that remove it before
 * the process ends.
 * DESIGN: the pipe directory may be writable by other users, so a name there
 * can be replaced between any two calls. What the module verified is recorded
 * as (device, inode) of the FIFO; a removal first looks at the name without
 * following it (lstat) and unlinks only when it still is that FIFO. Between
 * that look and the unlink somebody able to rename in the directory could put
 * another file under the name; the unlink then removes that one directory
 * entry, which that user could remove himself, and never touches the file's
 * data or follows a link, so nothing is lost that the user did not put there.
 * In a sticky directory (/tmp) nobody else can replace the module's FIFO at
 * all. The inode cannot be reused while the module still holds the FIFO open,
 * and after the name is gone it is never looked at again (state SPENT).
 * Signals: SIGTERM, SIGINT and SIGHUP are caught from just before the FIFO is
 * made until its name is gone. The handler does only async-signal-safe work
 * on data prepared before it was armed: lstat and unlink of the stored path,
 * then the default action restored and the signal raised again, so the parent
 * sees the real cause. A signal that arrives while the FIFO is being made and
 * verified is held back and acted on as soon as the verdict is in. A signal
 * the process inherited as ignored stays ignored. */
#include "client-fifo-guard.h"

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

/* Guard states, read by the handler. */
enum { GUARD_IDLE = 0, GUARD_PENDING = 1, GUARD_ARMED = 2, GUARD_SPENT = 3 };

static volatile sig_atomic_t s_iState = GUARD_IDLE;
static volatile sig_atomic_t s_iHeldSignal = 0;
/* A path as long as the file system takes (4096 bytes with its terminator). */
static char s_szPath[4096];
static dev_t s_dev;
static ino_t s_ino;

static const int s_aiSignals[] = { SIGTERM, SIGINT, SIGHUP };
#define GUARD_SIGNAL_COUNT ((int)(sizeof s_aiSignals / sizeof s_aiSignals[0]))
static struct sigaction s_aOldActions[GUARD_SIGNAL_COUNT];
static int s_abInstalled[GUARD_SIGNAL_COUNT];

/* Unlinks the stored path when it is still the verified FIFO. Async-signal-safe. */
static int RemoveIfVerified(void)
{
    struct stat st;
    if (lstat(s_szPath, &st) != 0 || !S_ISFIFO(st.st_mode) || st.st_dev != s_dev ||
        st.st_ino != s_ino)
        return 1;
    return unlink(s_szPath) == 0 ? 0 : 1;
}

/* Removes the FIFO if armed, then ends the process by iSig. */
static void EndBySignal(int iSig)
{
    if (s_iState == GUARD_ARMED)
        RemoveIfVerified();
    signal(iSig, SIG_DFL);
    raise(iSig); /* blocked while this handler runs: delivered when it returns */
}

static void OnSignal(int iSig)
{
    int iSavedErrno = errno;
    if (s_iState == GUARD_PENDING)
        s_iHeldSignal = iSig;
    else
        EndBySignal(iSig);
    errno = iSavedErrno;
}

int ZoltClient_I_GuardBegin(const char *szPath)
{
    ZoltClient_I_GuardEnd();
    if (szPath == NULL || strlen(szPath) >= sizeof s_szPath)
        return 1;
    strcpy(s_szPath, szPath);
    s_iHeldSignal = 0;
    s_iState = GUARD_PENDING;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (int i = 0; i < GUARD_SIGNAL_COUNT; i++) {
        s_abInstalled[i] = 0;
        if (sigaction(s_aiSignals[i], NULL, &s_aOldActions[i]) != 0 ||
            s_aOldActions[i].sa_handler == SIG_IGN)
            continue;
        s_abInstalled[i] = sigaction(s_aiSignals[i], &sa, NULL) == 0;
    }
    return 0;
}

void ZoltClient_I_GuardArm(dev_t dev, ino_t ino)
{
    if (s_iState != GUARD_PENDING)
        return;
    s_dev = dev;
    s_ino = ino;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    s_iState = GUARD_ARMED;
    if (s_iHeldSignal != 0)
        EndBySignal(s_iHeldSignal);
}

int ZoltClient_I_GuardRemove(void)
{
    if (s_iState != GUARD_ARMED)
        return 1;
    int iRc = RemoveIfVerified();
    s_iState = GUARD_SPENT; /* after the unlink: a signal in between finds the name gone */
    return iRc;
}

void ZoltClient_I_GuardEnd(void)
{
    if (s_iState == GUARD_IDLE)
        return;
    s_iState = GUARD_SPENT;
    for (int i = 0; i < GUARD_SIGNAL_COUNT; i++)
        if (s_abInstalled[i])
            sigaction(s_aiSignals[i], &s_aOldActions[i], NULL);
    s_iState = GUARD_IDLE;
    int iHeld = s_iHeldSignal;
    s_iHeldSignal = 0;
    if (iHeld != 0)
        raise(iHeld); /* with the previous disposition back */
}
