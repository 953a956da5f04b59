/* zolt-string.cpp - Zolt string and character wrappers, the bounded copies
 * with their exact results and the overflow marker, and the path splitters. */
#include "zolt-string.h"

#include <ctype.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* memset pass-through; returns pDst. */
void *ZoltMemSet(void *pDst, int iValue, size_t uCount)
{
    return memset(pDst, iValue, uCount);
}

/* strlen pass-through. */
size_t ZoltStrLen(const char *sz)
{
    return strlen(sz);
}

/* strcmp pass-through. */
int ZoltStrCmp(const char *szA, const char *szB)
{
    return strcmp(szA, szB);
}

/* strncmp pass-through. */
int ZoltStrNCmp(const char *szA, const char *szB, size_t uCount)
{
    return strncmp(szA, szB, uCount);
}

/* strcasecmp pass-through. */
int ZoltStrCaseCmp(const char *szA, const char *szB)
{
    return strcasecmp(szA, szB);
}

/* strstr pass-through. */
char *ZoltStrStr(const char *szHaystack, const char *szNeedle)
{
    return const_cast<char *>(strstr(szHaystack, szNeedle));
}

/* strchr pass-through. */
char *ZoltStrChr(const char *sz, int iChar)
{
    return const_cast<char *>(strchr(sz, iChar));
}

/* strcpy pass-through (unbounded); returns szDst. */
char *ZoltStrCpy(char *szDst, const char *szSrc)
{
    return strcpy(szDst, szSrc);
}

/* strcat pass-through (unbounded); returns szDst. */
char *ZoltStrCat(char *szDst, const char *szSrc)
{
    return strcat(szDst, szSrc);
}

/* strtol pass-through with the caller's end pointer and base. */
long ZoltStrToL(const char *sz, char **ppEnd, int iBase)
{
    return strtol(sz, ppEnd, iBase);
}

/* strtol in base 10, clamped to the int range (what a 32-bit long gives). */
int ZoltAToI(const char *sz)
{
    long lValue = strtol(sz, NULL, 10);
    if (lValue > INT_MAX)
        return INT_MAX;
    if (lValue < INT_MIN)
        return INT_MIN;
    return (int)lValue;
}

/* strtod rounded to single precision. */
float ZoltAToF(const char *sz)
{
    return (float)strtod(sz, NULL);
}

/* isalnum; values other than EOF are taken as their low byte so that a
 * negative char never indexes outside the class table. */
int ZoltIsAlNum(int iChar)
{
    if (iChar == EOF)
        return 0;
    return isalnum((unsigned char)iChar);
}

/* sprintf through vsprintf (unbounded); returns the character count. */
int ZoltSprintf(char *szDst, const char *szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    int iRc = vsprintf(szDst, szFormat, args);
    va_end(args);
    return iRc;
}

/* printf to standard output; returns the character count. */
int ZoltPrintf(const char *szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    int iRc = vprintf(szFormat, args);
    va_end(args);
    return iRc;
}

/* Copy without padding; see the header for the exact rule. */
char *ZoltStrNCpy(char *szDst, const char *szSrc, int iCount)
{
    if (szDst == NULL || szSrc == NULL)
        return NULL;
    int i = 0;
    while (i < iCount && szSrc[i] != '\0') {
        szDst[i] = szSrc[i];
        i++;
    }
    if (i < iCount || iCount < 0)
        szDst[i] = '\0';
    return szDst;
}

/* Truncating copy; returns 1, or 0 for NULL szDst, iSize < 1 or NULL szSrc. */
int ZoltSafeStrNCpy(char *szDst, const char *szSrc, int iSize)
{
    if (szDst == NULL || iSize < 1)
        return 0;
    szDst[0] = '\0';
    if (szSrc == NULL)
        return 0;
    int i = 0;
    while (i < iSize - 1 && szSrc[i] != '\0') {
        szDst[i] = szSrc[i];
        i++;
    }
    szDst[i] = '\0';
    return 1;
}

/* Overflow-reporting copy; returns 1 when szSrc fits, 0 with the marker in
 * szDst when it does not, 0 for bad arguments. */
int ZoltSafeStrCpy(char *szDst, const char *szSrc, int iSize)
{
    if (szDst != NULL && iSize >= 1 && szSrc != NULL &&
        strnlen(szSrc, (size_t)iSize) >= (size_t)iSize) {
        ZoltSafeStrNCpy(szDst, ZOLT_OVERFLOW_MARKER, iSize);
        return 0;
    }
    return ZoltSafeStrNCpy(szDst, szSrc, iSize);
}

/* Appends through ZoltSafeStrCpy at the end of the existing text; returns its
 * result. The existing text is searched for only inside the buffer. */
int ZoltSafeStrCat(char *szDst, const char *szSrc, int iSize)
{
    if (szDst == NULL || iSize < 1)
        return 0;
    const char *pEnd = static_cast<const char *>(memchr(szDst, '\0', (size_t)iSize));
    if (pEnd == NULL)
        return 0;
    int iLen = (int)(pEnd - szDst);
    return ZoltSafeStrCpy(szDst + iLen, szSrc, iSize - iLen);
}

/* Copies uLen bytes of pSrc into szOut as a C text, cut to fit ZOLT_PATH_SIZE. */
static void SplitCopy(char *szOut, const char *pSrc, size_t uLen)
{
    if (szOut == NULL)
        return;
    if (uLen > ZOLT_PATH_SIZE - 1)
        uLen = ZOLT_PATH_SIZE - 1;
    memcpy(szOut, pSrc, uLen);
    szOut[uLen] = '\0';
}

/* Splits a path into directory, base and extension; see the header. */
void SplitFilename(const char *szPath, char *szDir, char *szBase, char *szExt)
{
    if (szDir != NULL)
        szDir[0] = '\0';
    if (szBase != NULL)
        szBase[0] = '\0';
    if (szExt != NULL)
        szExt[0] = '\0';
    if (szPath == NULL || szPath[0] == '\0')
        return;
    const char *pSlash = strrchr(szPath, '/');
    const char *pName = pSlash != NULL ? pSlash + 1 : szPath;
    const char *pDot = strchr(pName, '.');
    size_t uNameLen = strlen(pName);
    SplitCopy(szDir, szPath, (size_t)(pName - szPath));
    SplitCopy(szBase, pName, pDot != NULL ? (size_t)(pDot - pName) : uNameLen);
    if (pDot != NULL)
        SplitCopy(szExt, pDot, strlen(pDot));
}

/* Writes the file name (base + extension) of szPath into szOut. */
void GetPathFilename(const char *szPath, char *szOut)
{
    if (szOut == NULL)
        return;
    szOut[0] = '\0';
    if (szPath == NULL)
        return;
    const char *pSlash = strrchr(szPath, '/');
    const char *pName = pSlash != NULL ? pSlash + 1 : szPath;
    SplitCopy(szOut, pName, strlen(pName));
}
