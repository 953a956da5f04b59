/* output-file.cpp - result and metrics files written to a temporary name in
 * the target's folder and renamed over the target when complete, so that a
 * reader sees the old file or the whole new one, never a part. The folder is
 * opened once and every later step works relative to that handle. */
#include "output-file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "safe-path.h"

/* Splits sPath into its folder ("." when none) and its last name. */
static void SplitPath(const std::string &sPath, std::string *psDir, std::string *psBase)
{
    size_t uSlash = sPath.rfind('/');
    *psDir = uSlash == std::string::npos ? "." : (uSlash == 0 ? "/" : sPath.substr(0, uSlash));
    *psBase = uSlash == std::string::npos ? sPath : sPath.substr(uSlash + 1);
}

/* The checks on the open folder hDir and the name sBase in it: the folder as
 * a shared directory, an existing file as one of ours (safe-path.h). */
int PeersOutputFileCheckAt(int hDir, const std::string &sBase, std::string *psReason)
{
    struct stat stDir, stFile;
    std::string sWhy;
    if (sBase.empty() || sBase == "." || sBase == "..") {
        *psReason = "it names a folder, not a file";
        return 1;
    }
    if (fstat(hDir, &stDir) != 0) {
        *psReason = std::string("its folder cannot be examined: ") + strerror(errno);
        return 1;
    }
    if (PeersCheckSharedDir(&stDir, &sWhy) != 0) {
        *psReason = "its folder: " + sWhy;
        return 1;
    }
    if (fstatat(hDir, sBase.c_str(), &stFile, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? 0 : (*psReason = strerror(errno), 1);
    return PeersCheckOwnFile(&stFile, psReason);
}

/* Opens the folder of sPath without following a link at its last name. */
static int OpenDir(const std::string &sPath, std::string *psBase, std::string *psReason)
{
    std::string sDir;
    SplitPath(sPath, &sDir, psBase);
    int hDir = open(sDir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (hDir < 0)
        *psReason = errno == ELOOP || errno == ENOTDIR
                        ? "its folder is a symbolic link or not a folder"
                        : std::string("its folder cannot be opened: ") + strerror(errno);
    return hDir;
}

int PeersOutputFileCheck(const std::string &sPath, std::string *psReason)
{
    std::string sBase;
    psReason->clear();
    int hDir = OpenDir(sPath, &sBase, psReason);
    if (hDir < 0)
        return 1;
    int iRc = PeersOutputFileCheckAt(hDir, sBase, psReason);
    close(hDir);
    return iRc;
}

/* Creates ".NAME.XXXXXX" in the folder (exclusive: never an existing name). */
static int CreateTemp(PeersOutputFile *pOf)
{
    unsigned uState = (unsigned)getpid() * 2654435761u ^ (unsigned)time(nullptr);
    for (int iTry = 0; iTry < 100; iTry++) {
        uState = uState * 1103515245u + 12345u;
        char szSuffix[16];
        snprintf(szSuffix, sizeof szSuffix, ".%08x", uState);
        pOf->sTemp = "." + pOf->sBase + szSuffix;
        int h = openat(pOf->hDir, pOf->sTemp.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (h >= 0 || errno != EEXIST)
            return h;
    }
    return -1;
}

int PeersOutputFileOpen(PeersOutputFile *pOf, const std::string &sPath, std::string *psReason)
{
    psReason->clear();
    pOf->sPath = sPath;
    pOf->pFile = nullptr;
    pOf->hDir = OpenDir(sPath, &pOf->sBase, psReason);
    if (pOf->hDir < 0)
        return 1;
    if (PeersOutputFileCheckAt(pOf->hDir, pOf->sBase, psReason) != 0) {
        PeersOutputFileAbort(pOf);
        return 1;
    }
    int h = CreateTemp(pOf);
    if (h < 0) {
        *psReason =
            std::string("a temporary file cannot be made in its folder: ") + strerror(errno);
        pOf->sTemp.clear(); /* not ours: never removed */
        PeersOutputFileAbort(pOf);
        return 1;
    }
    fchmod(h, 0644); /* readable by the metrics collector whatever the umask */
    pOf->pFile = fdopen(h, "w");
    if (pOf->pFile == nullptr) {
        *psReason = std::string("the temporary file cannot be written: ") + strerror(errno);
        close(h);
        PeersOutputFileAbort(pOf);
        return 1;
    }
    return 0;
}

int PeersOutputFileCommit(PeersOutputFile *pOf, std::string *psReason)
{
    psReason->clear();
    if (pOf->pFile == nullptr || pOf->hDir < 0) {
        *psReason = "it was not open";
        return 1;
    }
    int iErr = fflush(pOf->pFile) != 0 || ferror(pOf->pFile) ? errno : 0;
    if (iErr == 0 && fsync(fileno(pOf->pFile)) != 0)
        iErr = errno;
    if (fclose(pOf->pFile) != 0 && iErr == 0)
        iErr = errno;
    pOf->pFile = nullptr;
    std::string sWhy;
    if (iErr == 0 && PeersOutputFileCheckAt(pOf->hDir, pOf->sBase, &sWhy) != 0)
        *psReason = sWhy; /* the target changed while the session ran */
    else if (iErr == 0 &&
             renameat(pOf->hDir, pOf->sTemp.c_str(), pOf->hDir, pOf->sBase.c_str()) != 0)
        iErr = errno;
    if (iErr != 0)
        *psReason = strerror(iErr);
    if (psReason->empty()) {
        fsync(pOf->hDir); /* the new name survives a crash */
        pOf->sTemp.clear();
    }
    PeersOutputFileAbort(pOf);
    return psReason->empty() ? 0 : 1;
}

void PeersOutputFileAbort(PeersOutputFile *pOf)
{
    if (pOf->pFile != nullptr)
        fclose(pOf->pFile);
    pOf->pFile = nullptr;
    if (pOf->hDir >= 0 && !pOf->sTemp.empty())
        unlinkat(pOf->hDir, pOf->sTemp.c_str(), 0);
    pOf->sTemp.clear();
    if (pOf->hDir >= 0)
        close(pOf->hDir);
    pOf->hDir = -1;
}
