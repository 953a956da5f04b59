/* profile.cpp - profile (INI) file reader: loads the whole file, scans it
 * line by line for the section and then the key, copies the value out.
 * Scanner rules: any byte below 32 ends a line, a line holds at most 511
 * bytes, leading spaces are skipped, '[' starts a section line, the first '='
 * splits a key line, there is no comment syntax, names compare without case.
 * DESIGN: one process-wide file image, used from the main thread only. */
#include "profile.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "trace.h"
#include "zolt-string.h"

char *lpSpeedINIHandleMem;
uint16_t wSpeedINIHandleSize;
uint32_t wSpeedINIHandlePtr;

/* The image holds the file, a newline after it and zero padding up to
 * IMAGE_SLACK bytes, so a line read at the last byte stops inside it. */
#define IMAGE_SLACK 10

/* Releases the file image, if any. */
void ZoltEndSpeedIniAccess(void)
{
    free(lpSpeedINIHandleMem);
    lpSpeedINIHandleMem = NULL;
    wSpeedINIHandleSize = 0;
    wSpeedINIHandlePtr = 0;
}

/* Loads szPath as the file image (any previous one released first).
 * Returns 1 when loaded; 0 when the file cannot be opened, is not a regular
 * file, has 65536 bytes or more, cannot be read or memory runs out. */
int ZoltSpeedIniAccess(const char *szPath)
{
    ZoltEndSpeedIniAccess();
    if (szPath == NULL)
        return 0;
    /* non-blocking, so that a FIFO given by mistake cannot hang the open */
    int iFd = open(szPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (iFd < 0) {
        TPRINTF(ZOLT_TRACE_PROG, __FILE__, __LINE__, "", "profile %s: open failed: %d\n", szPath,
                errno);
        return 0;
    }
    struct stat st;
    off_t lSize = -1;
    if (fstat(iFd, &st) == 0 && S_ISREG(st.st_mode))
        lSize = lseek(iFd, 0, SEEK_END);
    if (lSize < 0 || lSize >= (off_t)ZOLT_PROFILE_FILE_LIMIT || lseek(iFd, 0, SEEK_SET) != 0) {
        TPRINTF(ZOLT_TRACE_PROG, __FILE__, __LINE__, "",
                "profile %s: not a regular file below 65536 bytes\n", szPath);
        close(iFd);
        return 0;
    }
    char *pImage = static_cast<char *>(calloc((size_t)lSize + IMAGE_SLACK, 1));
    if (pImage == NULL) {
        close(iFd);
        return 0;
    }
    size_t uRead = 0;
    while (uRead < (size_t)lSize) {
        ssize_t n = read(iFd, pImage + uRead, (size_t)lSize - uRead);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; /* a file that shrank meanwhile: keep what was read */
        uRead += (size_t)n;
    }
    close(iFd);
    pImage[uRead] = '\n';
    lpSpeedINIHandleMem = pImage;
    wSpeedINIHandleSize = (uint16_t)uRead;
    wSpeedINIHandlePtr = 0;
    return 1;
}

/* Reads the line at the scan position into szLine (ZOLT_PROFILE_LINE_MAX + 1
 * bytes): the run of bytes of value 32 or more, at most 511 of them; the byte
 * after the run is skipped. Returns the line length. */
static int Profile_I_ReadLine(char *szLine)
{
    const unsigned char *pImage = reinterpret_cast<const unsigned char *>(lpSpeedINIHandleMem);
    int n = 0;
    while (n < ZOLT_PROFILE_LINE_MAX && pImage[wSpeedINIHandlePtr] >= 32)
        szLine[n++] = (char)pImage[wSpeedINIHandlePtr++];
    szLine[n] = '\0';
    wSpeedINIHandlePtr++;
    return n;
}

/* Copies szText cut to iSize - 1 characters into szBuf; returns the length. */
static int Profile_I_CopyOut(char *szBuf, int iSize, const char *szText)
{
    if (szBuf == NULL || iSize < 1)
        return 0;
    ZoltSafeStrNCpy(szBuf, szText, iSize);
    return (int)strlen(szBuf);
}

/* The lookup worker of both public lookups; see the header. Main thread. */
int Zolt_I_GetPrivateProfileString(const char *szSection, const char *szKey, const char *szDefault,
                                   char *szBuf, int iSize, const char *szPath, char **ppAllocated)
{
    int bLoadedHere = 0;
    if (lpSpeedINIHandleMem == NULL)
        bLoadedHere = ZoltSpeedIniAccess(szPath);
    int bSectionFound = 0;
    const char *szValue = NULL;
    char szLine[ZOLT_PROFILE_LINE_MAX + 1];

    wSpeedINIHandlePtr = 0;
    while (lpSpeedINIHandleMem != NULL && szSection != NULL &&
           wSpeedINIHandlePtr + 1 < wSpeedINIHandleSize) {
        Profile_I_ReadLine(szLine);
        char *p = szLine;
        while (*p == ' ')
            p++;
        if (*p == '[') {
            char *pClose = strchr(p, ']');
            if (pClose == NULL)
                continue;
            if (bSectionFound)
                break; /* the next section has begun */
            *pClose = '\0';
            if (strcasecmp(p + 1, szSection) == 0) {
                bSectionFound = 1;
                if (szKey == NULL)
                    break;
            }
            continue;
        }
        if (!bSectionFound || szKey == NULL)
            continue;
        char *pEq = strchr(p, '=');
        if (pEq == NULL)
            continue;
        char *pKeyEnd = pEq;
        while (pKeyEnd > p && pKeyEnd[-1] == ' ')
            pKeyEnd--;
        *pKeyEnd = '\0';
        if (strcasecmp(p, szKey) == 0) {
            szValue = pEq + 1;
            break;
        }
    }

    int iLen = 0;
    if (szValue != NULL) {
        if (szBuf == NULL && ppAllocated != NULL) {
            iSize = (int)strlen(szValue) + 4;
            szBuf = static_cast<char *>(calloc((size_t)iSize, 1));
            *ppAllocated = szBuf;
        }
        iLen = Profile_I_CopyOut(szBuf, iSize, szValue);
    } else if (szKey == NULL) {
        iLen = bSectionFound;
    } else {
        iLen = Profile_I_CopyOut(szBuf, iSize, szDefault != NULL ? szDefault : "");
    }
    if (bLoadedHere)
        ZoltEndSpeedIniAccess();
    return iLen;
}

/* The value of szKey in szSection of szPath, else szDefault, cut to
 * iSize - 1 characters; or the section query for a NULL key. Main thread. */
int ZoltGetPrivateProfileString(const char *szSection, const char *szKey, const char *szDefault,
                                char *szBuf, int iSize, const char *szPath)
{
    return Zolt_I_GetPrivateProfileString(szSection, szKey, szDefault, szBuf, iSize, szPath, NULL);
}

/* A heap copy of the value, or NULL when missing or empty. Caller frees.
 * Main thread. */
char *ZoltGetIniString(const char *szPath, const char *szSection, const char *szKey)
{
    char *pValue = NULL;
    int iLen = Zolt_I_GetPrivateProfileString(szSection, szKey, "", NULL, 0, szPath, &pValue);
    if (iLen >= 1)
        return pValue;
    free(pValue);
    return NULL;
}
