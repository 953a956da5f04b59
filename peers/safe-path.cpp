/* safe-path.cpp - checked opening of the pipe base, the held private pipe
 * directory and the FIFOs in it, and of the files zoltpeers writes and reads
 * where other users may reach. */
#include "safe-path.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pipe-lowlevel.h"

/* Attempts at a fresh random directory name before giving up. */
#define HELD_DIR_TRIES 100

/* "regular file", "FIFO", ... for a refusal. */
static const char *KindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return "a regular file";
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device node";
    if (S_ISLNK(mode))
        return "a symbolic link";
    if (S_ISSOCK(mode))
        return "a socket";
    return "no regular file";
}

/* Returns 0 or 1 with *psWhy. */
int PeersCheckSharedDir(const struct stat *pSt, std::string *psWhy)
{
    if (!S_ISDIR(pSt->st_mode)) {
        *psWhy = std::string("it is ") + KindOf(pSt->st_mode) + ", not a directory";
        return 1;
    }
    if (pSt->st_uid != 0 && pSt->st_uid != geteuid()) {
        *psWhy = "it belongs to user " + std::to_string(pSt->st_uid) +
                 ", who could rename what zoltpeers makes in it";
        return 1;
    }
    if ((pSt->st_mode & (S_IWGRP | S_IWOTH)) != 0 && (pSt->st_mode & S_ISVTX) == 0) {
        *psWhy = "other users may write in it and it has no sticky bit, so they could "
                 "rename what zoltpeers makes in it";
        return 1;
    }
    return 0;
}

/* Returns 0 or 1 with *psWhy. */
int PeersCheckOwnFile(const struct stat *pSt, std::string *psWhy)
{
    if (!S_ISREG(pSt->st_mode)) {
        *psWhy = std::string("it is ") + KindOf(pSt->st_mode) + ", not a regular file";
        return 1;
    }
    if (pSt->st_uid != geteuid()) {
        *psWhy = "it belongs to user " + std::to_string(pSt->st_uid);
        return 1;
    }
    if (pSt->st_nlink != 1) {
        *psWhy = "it has " + std::to_string((unsigned long)pSt->st_nlink) + " hard links";
        return 1;
    }
    return 0;
}

/* 1 when h and hWant are the same file (device and inode). */
static int SameFile(int h, int hWant)
{
    struct stat stGot, stWant;
    return fstat(h, &stGot) == 0 && fstat(hWant, &stWant) == 0 && stGot.st_dev == stWant.st_dev &&
           stGot.st_ino == stWant.st_ino;
}

/* 1 when /proc/self/fd cannot be reached (a chroot or container without
 * /proc), so that an O_PATH handle cannot be reopened through it. */
static int NoProcFds(void)
{
    return access("/proc/self/fd", F_OK) != 0;
}

/* Reopens the object an O_PATH handle refers to with iFlags (O_TRUNC is done
 * only once the file is known to be that object): through /proc/self/fd;
 * without /proc by szPath (never through a last link when bNoFollow), kept
 * only when it is the same file as hPath. Returns the descriptor or -1. */
static int ReopenPath(int hPath, const char *szPath, int iFlags, int bNoFollow)
{
    int bTrunc = (iFlags & O_TRUNC) != 0;
    iFlags &= ~O_TRUNC;
    char szSelf[64];
    snprintf(szSelf, sizeof szSelf, "/proc/self/fd/%d", hPath);
    int h;
    do
        h = open(szSelf, iFlags | O_CLOEXEC);
    while (h < 0 && errno == EINTR);
    if (h < 0 && errno == ENOENT && NoProcFds()) {
        /* non-blocking, so that a FIFO put in its place meanwhile cannot hold the open */
        int iByName = iFlags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (bNoFollow ? O_NOFOLLOW : 0);
        do
            h = open(szPath, iByName);
        while (h < 0 && errno == EINTR);
        if (h >= 0 && !SameFile(h, hPath)) {
            close(h);
            h = -1;
            errno = ESTALE;
        }
        if (h >= 0 && !(iFlags & O_NONBLOCK))
            fcntl(h, F_SETFL, fcntl(h, F_GETFL) & ~O_NONBLOCK);
    }
    if (h >= 0 && bTrunc && ftruncate(h, 0) != 0) {
        int iErr = errno;
        close(h);
        h = -1;
        errno = iErr;
    }
    return h;
}

/* Returns the descriptor or -1 with *psWhy. */
int PeersOpenPipeBase(const char *szPath, std::string *psWhy)
{
    if (strlen(szPath) > PEERS_PIPE_BASE_MAX) {
        *psWhy = "the path has " + std::to_string(strlen(szPath)) +
                 " characters; the module takes FIFO names from a base of at most " +
                 std::to_string(PEERS_PIPE_BASE_MAX);
        return -1;
    }
    int h = open(szPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (h < 0 || fstat(h, &st) != 0) {
        *psWhy = strerror(errno);
        if (h >= 0)
            close(h);
        return -1;
    }
    if (PeersCheckSharedDir(&st, psWhy) != 0) {
        close(h);
        return -1;
    }
    return h;
}

/* Six random letters and digits for a directory name. */
static std::string RandomSuffix(void)
{
    static const char s_szChars[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char auBytes[6];
    int hRandom = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    ssize_t n = hRandom >= 0 ? read(hRandom, auBytes, sizeof auBytes) : -1;
    if (hRandom >= 0)
        close(hRandom);
    std::string s;
    for (size_t i = 0; i < sizeof auBytes; i++) {
        unsigned u = n == (ssize_t)sizeof auBytes ? auBytes[i] : (unsigned)random();
        s += s_szChars[u % (sizeof s_szChars - 1)];
    }
    return s;
}

/* Opens the new directory sName in hBase without following a link, gives it
 * our group and mode 0700 exactly, and checks it is ours. Returns 0 or 1. */
static int HoldNewDir(PeersHeldDir *pDir, std::string *psWhy)
{
    pDir->hDir =
        openat(pDir->hBase, pDir->sName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    /* In a set-group-id base it took the base's group and the bit: the
     * module's FIFO would then be open to that group. */
    if (pDir->hDir < 0 || fchown(pDir->hDir, (uid_t)-1, getegid()) != 0 ||
        fchmod(pDir->hDir, 0700) != 0 || fstat(pDir->hDir, &st) != 0) {
        *psWhy = strerror(errno);
        return 1;
    }
    if (st.st_uid != geteuid() || (st.st_mode & 07777) != 0700) {
        *psWhy = "the new directory is not private";
        return 1;
    }
    pDir->dev = st.st_dev;
    pDir->ino = st.st_ino;
    return 0;
}

/* Returns 0, or 1 with *psWhy (hBase closed). */
int PeersMakeHeldDir(int hBase, const char *szPrefix, PeersHeldDir *pDir, std::string *psWhy)
{
    *pDir = PeersHeldDir();
    pDir->hBase = hBase;
    pDir->hDir = -1;
    for (int i = 0; i < HELD_DIR_TRIES; i++) {
        std::string sName = szPrefix + RandomSuffix();
        if (mkdirat(hBase, sName.c_str(), 0700) == 0) {
            pDir->sName = sName;
            if (HoldNewDir(pDir, psWhy) == 0)
                return 0;
            PeersRemoveHeldDir(pDir);
            return 1;
        }
        if (errno != EEXIST)
            break;
    }
    *psWhy = std::string("cannot make a directory in it: ") + strerror(errno);
    PeersRemoveHeldDir(pDir);
    return 1;
}

/* Removes every entry but directories in hDir, through hDir. */
static void EmptyHeldDir(int hDir)
{
    int hList = dup(hDir);
    DIR *pList = hList >= 0 ? fdopendir(hList) : nullptr;
    if (pList == nullptr) {
        if (hList >= 0)
            close(hList);
        return;
    }
    rewinddir(pList);
    while (struct dirent *pEnt = readdir(pList)) {
        struct stat st;
        if (fstatat(hDir, pEnt->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(st.st_mode))
            unlinkat(hDir, pEnt->d_name, 0);
    }
    closedir(pList);
}

/* Empties and removes the held directory while its name still names it. */
void PeersRemoveHeldDir(PeersHeldDir *pDir)
{
    if (pDir->hDir >= 0) {
        EmptyHeldDir(pDir->hDir);
        struct stat st;
        if (pDir->hBase >= 0 &&
            fstatat(pDir->hBase, pDir->sName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode) && st.st_dev == pDir->dev && st.st_ino == pDir->ino)
            unlinkat(pDir->hBase, pDir->sName.c_str(), AT_REMOVEDIR);
        close(pDir->hDir);
    } else if (pDir->hBase >= 0 && !pDir->sName.empty()) {
        unlinkat(pDir->hBase, pDir->sName.c_str(), AT_REMOVEDIR); /* made, not held */
    }
    if (pDir->hBase >= 0)
        close(pDir->hBase);
    pDir->hBase = pDir->hDir = -1;
    pDir->sName.clear();
}

/* Returns 0 or the errno. */
int PeersMakeFifoAt(int hDir, const char *szName)
{
    if (mkfifoat(hDir, szName, 0600) != 0)
        return errno;
    return fchmodat(hDir, szName, 0600, 0) == 0 ? 0 : errno;
}

/* Returns the transport handle, or -1 with *psWhy (when given). */
int PeersOpenFifoAt(int hDir, const char *szName, int bForWriting, std::string *psWhy)
{
    std::string sWhy;
    int hPath = openat(hDir, szName, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    int h = -1;
    if (hPath < 0 || fstat(hPath, &st) != 0)
        sWhy = strerror(errno);
    else if (!S_ISFIFO(st.st_mode))
        sWhy = std::string("it is ") + KindOf(st.st_mode) + ", not a FIFO";
    else {
        char szSelf[64];
        snprintf(szSelf, sizeof szSelf, "/proc/self/fd/%d", hPath);
        h = ZoltPipeOpen(szSelf, bForWriting);
        if (h < 0 && errno == ENOENT && NoProcFds()) {
            /* by name, never through a link, only while the name is still
             * the FIFO checked above, and kept only when what was opened is it */
            struct stat stName;
            h = fstatat(hDir, szName, &stName, AT_SYMLINK_NOFOLLOW) == 0 &&
                        S_ISFIFO(stName.st_mode) && stName.st_dev == st.st_dev &&
                        stName.st_ino == st.st_ino
                    ? ZoltPipeOpenAt(hDir, szName, bForWriting, O_NOFOLLOW)
                    : -1;
            if (h >= 0 && !SameFile(h, hPath)) {
                ZoltPipeClose(h);
                h = -1;
                errno = ESTALE;
            }
        }
        if (h < 0)
            sWhy = strerror(errno);
    }
    if (hPath >= 0)
        close(hPath);
    if (h < 0 && psWhy != nullptr)
        *psWhy = sWhy;
    return h;
}

/* Opens the existing file behind hPath (checked) for writing from its start.
 * Returns the descriptor or -1 with *psWhy. */
static int OpenExistingForWriting(int hPath, const char *szPath, std::string *psWhy)
{
    struct stat st;
    if (fstat(hPath, &st) != 0) {
        *psWhy = strerror(errno);
        return -1;
    }
    if (PeersCheckOwnFile(&st, psWhy) != 0)
        return -1;
    int h = ReopenPath(hPath, szPath, O_WRONLY | O_TRUNC, 1);
    if (h < 0)
        *psWhy = strerror(errno);
    return h;
}

/* Returns the descriptor or -1 with *psWhy. */
int PeersOpenWriteFile(const char *szPath, std::string *psWhy)
{
    for (int iTry = 0; iTry < 3; iTry++) {
        int hPath = open(szPath, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (hPath >= 0) {
            int h = OpenExistingForWriting(hPath, szPath, psWhy);
            close(hPath);
            return h;
        }
        if (errno != ENOENT)
            break;
        int h = open(szPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (h >= 0) {
            fchmod(h, 0600); /* exactly, whatever the umask */
            return h;
        }
        if (errno != EEXIST) /* else something appeared meanwhile: look again */
            break;
    }
    *psWhy = strerror(errno);
    return -1;
}

/* Why the file behind hPath cannot be read whole below uLimit bytes; ""
 * when it can. */
static std::string WhyNotSmallFile(int hPath, size_t uLimit)
{
    struct stat st;
    if (fstat(hPath, &st) != 0)
        return strerror(errno);
    if (!S_ISREG(st.st_mode))
        return std::string("it is ") + KindOf(st.st_mode) + ", not a regular file";
    if ((size_t)st.st_size >= uLimit)
        return "it has " + std::to_string((long long)st.st_size) + " bytes, at most " +
               std::to_string(uLimit - 1) + " are read";
    return "";
}

/* Returns 0 or 1 with *psWhy. */
int PeersReadSmallFile(const char *szPath, size_t uLimit, std::string *psText, std::string *psWhy)
{
    psText->clear();
    int hPath = open(szPath, O_PATH | O_CLOEXEC);
    *psWhy = hPath < 0 ? strerror(errno) : WhyNotSmallFile(hPath, uLimit);
    int h = psWhy->empty() ? ReopenPath(hPath, szPath, O_RDONLY | O_NONBLOCK, 0) : -1;
    if (psWhy->empty() && h < 0)
        *psWhy = strerror(errno);
    if (hPath >= 0)
        close(hPath);
    if (h < 0)
        return 1;
    char szBuf[4096];
    while (psText->size() < uLimit) {
        ssize_t n = read(h, szBuf, sizeof szBuf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        psText->append(szBuf, (size_t)n);
    }
    close(h);
    if (psText->size() >= uLimit) { /* it grew after the check */
        *psWhy = "it has grown beyond " + std::to_string(uLimit - 1) + " bytes";
        return 1;
    }
    return 0;
}
