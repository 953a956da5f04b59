/* fuzz-common.h - helpers shared by the fuzz targets: a private temporary
 * directory (removed at exit), writing an input into a file there, cutting an
 * input into words, and the check that stops the run on a broken invariant.
 * Header-only: each target is one source file plus the libFuzzer or replay main. */
#ifndef ZOLT_FUZZ_COMMON_H
#define ZOLT_FUZZ_COMMON_H

#include <fcntl.h>
#include <ftw.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

/* A broken invariant is a finding: say which, then abort so that libFuzzer
 * keeps the input and the replay test fails. */
#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            abort();                                                                       \
        }                                                                                  \
    } while (0)

static char s_szFuzzTempDir[512];

static int FuzzRemoveEntry(const char *szPath, const struct stat *, int, struct FTW *)
{
    remove(szPath);
    return 0;
}

static void FuzzRemoveTempDir(void)
{
    if (s_szFuzzTempDir[0] != '\0')
        nftw(s_szFuzzTempDir, FuzzRemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
}

/* The target's own directory under $TMPDIR (or /tmp), made on the first call
 * and removed with its contents at exit. Aborts when it cannot be made. */
static inline const char *FuzzTempDir(void)
{
    if (s_szFuzzTempDir[0] == '\0') {
        const char *szBase = getenv("TMPDIR");
        if (szBase == nullptr || szBase[0] == '\0')
            szBase = "/tmp";
        snprintf(s_szFuzzTempDir, sizeof s_szFuzzTempDir, "%s/zoltfuzz-XXXXXX", szBase);
        FUZZ_CHECK(mkdtemp(s_szFuzzTempDir) != nullptr);
        atexit(FuzzRemoveTempDir);
    }
    return s_szFuzzTempDir;
}

/* <temp dir>/szName. */
static inline std::string FuzzTempPath(const char *szName)
{
    return std::string(FuzzTempDir()) + "/" + szName;
}

/* Replaces the file at sPath by the n bytes at p. Aborts on failure: a target
 * that cannot write its input tests nothing. */
static inline void FuzzWriteFile(const std::string &sPath, const void *p, size_t n)
{
    int fd = open(sPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    const char *pc = (const char *)p;
    while (n > 0) {
        ssize_t iDone = write(fd, pc, n);
        FUZZ_CHECK(iDone > 0);
        pc += iDone;
        n -= (size_t)iDone;
    }
    close(fd);
}

/* The input cut at every cSep into words (empty words kept, so that an input
 * of k separators gives k + 1 words). */
static inline std::vector<std::string> FuzzSplit(const uint8_t *p, size_t n, char cSep)
{
    std::vector<std::string> v(1);
    for (size_t i = 0; i < n; i++) {
        if ((char)p[i] == cSep)
            v.emplace_back();
        else
            v.back() += (char)p[i];
    }
    return v;
}

/* An argv over the words (pointers into them), ended by a null pointer. */
static inline std::vector<char *> FuzzArgv(std::vector<std::string> &vWords)
{
    std::vector<char *> vArgv;
    for (std::string &s : vWords)
        vArgv.push_back(&s[0]);
    vArgv.push_back(nullptr);
    return vArgv;
}

/* The input as a C text: a copy up to the first NUL, as a peer's text would
 * reach the parser. */
static inline std::string FuzzText(const uint8_t *p, size_t n)
{
    const void *pNul = memchr(p, 0, n);
    return std::string((const char *)p, pNul != nullptr ? (size_t)((const uint8_t *)pNul - p) : n);
}

/* Reads an input front to back; past its end every byte reads as 0, so a
 * generator driven by it always ends. */
typedef struct FuzzBytes {
    const uint8_t *p;
    size_t uLeft;
} FuzzBytes;

static inline unsigned FuzzTake8(FuzzBytes *pIn)
{
    if (pIn->uLeft == 0)
        return 0;
    pIn->uLeft--;
    return *pIn->p++;
}

static inline unsigned FuzzTake16(FuzzBytes *pIn)
{
    unsigned uLow = FuzzTake8(pIn);
    return uLow | (FuzzTake8(pIn) << 8);
}

#endif /* ZOLT_FUZZ_COMMON_H */
