/* zolt-string.h - Zolt wrappers over the C library's string and character
 * functions, the three bounded copies (ZoltStrNCpy, ZoltSafeStrNCpy,
 * ZoltSafeStrCpy/ZoltSafeStrCat with the "!!!OVERFLOW!!!" marker) and the
 * path splitters SplitFilename / GetPathFilename. */
#ifndef ZOLT_STRING_H
#define ZOLT_STRING_H

#include <stddef.h>

/* Size of every path buffer handed to SplitFilename / GetPathFilename and of
 * the trace process name: each output is cut to ZOLT_PATH_SIZE - 1 characters. */
#define ZOLT_PATH_SIZE 4096

/* The text written into the destination of ZoltSafeStrCpy / ZoltSafeStrCat
 * when the source does not fit (cut to the destination size - 1). */
#define ZOLT_OVERFLOW_MARKER "!!!OVERFLOW!!!"

/* Direct pass-throughs: same arguments and result as the C library call. */
void *ZoltMemSet(void *pDst, int iValue, size_t uCount);
size_t ZoltStrLen(const char *sz);
int ZoltStrCmp(const char *szA, const char *szB);
int ZoltStrNCmp(const char *szA, const char *szB, size_t uCount);
int ZoltStrCaseCmp(const char *szA, const char *szB);
char *ZoltStrStr(const char *szHaystack, const char *szNeedle);
char *ZoltStrChr(const char *sz, int iChar);
char *ZoltStrCpy(char *szDst, const char *szSrc); /* unbounded; returns szDst */
char *ZoltStrCat(char *szDst, const char *szSrc); /* unbounded; returns szDst */
long ZoltStrToL(const char *sz, char **ppEnd, int iBase);
/* strtol in base 10 without end pointer; the result is clamped to the int
 * range so that 32-bit and 64-bit builds agree. */
int ZoltAToI(const char *sz);
/* strtod, rounded to single precision. */
float ZoltAToF(const char *sz);
/* isalnum; any int is accepted (values outside -1..255 use their low byte). */
int ZoltIsAlNum(int iChar);
/* sprintf (unbounded) and printf to standard output; both return the
 * character count. Prefer snprintf / CGenStr where the size is not obvious. */
int ZoltSprintf(char *szDst, const char *szFormat, ...) __attribute__((format(printf, 2, 3)));
int ZoltPrintf(const char *szFormat, ...) __attribute__((format(printf, 1, 2)));

/* Copies characters of szSrc while the next one is not NUL and fewer than
 * iCount were copied, then writes a NUL only if fewer than iCount characters
 * were copied (never pads). iCount < 0 writes a NUL at szDst[0]. Returns szDst,
 * or NULL (writing nothing) when szDst or szSrc is NULL. */
char *ZoltStrNCpy(char *szDst, const char *szSrc, int iCount);

/* Truncating copy of at most iSize - 1 characters, always terminated.
 * Returns 1; 0 when szDst is NULL or iSize < 1 (nothing written) or szSrc is
 * NULL (szDst emptied). */
int ZoltSafeStrNCpy(char *szDst, const char *szSrc, int iSize);

/* Overflow-reporting copy. Returns 1 when szSrc (at most iSize - 1
 * characters) fits. When it does not fit, szDst holds "!!!OVERFLOW!!!" cut to
 * iSize - 1 characters and the result is 0. 0 also for a NULL szDst or
 * iSize < 1 (nothing written) and for a NULL szSrc (szDst emptied). */
int ZoltSafeStrCpy(char *szDst, const char *szSrc, int iSize);

/* Appends szSrc to the text in szDst (buffer of iSize bytes) through
 * ZoltSafeStrCpy at the text's end with the remaining size; on overflow the
 * old text stays, followed by as much of the marker as fits. Returns 1 / 0.
 * A szDst without a NUL inside iSize bytes is treated as full (result 0). */
int ZoltSafeStrCat(char *szDst, const char *szSrc, int iSize);

/* Splits szPath into directory (up to and including the last '/'), base (after
 * it, up to the first '.') and extension (from that '.' on). Each output may
 * be NULL; each given one is first emptied and must hold ZOLT_PATH_SIZE bytes
 * (or strlen(szPath) + 1, whichever is smaller); longer parts are cut.
 * A NULL or empty path leaves all outputs empty.
 * Example: "/opt/x/zoltcpu.ini.bak" -> "/opt/x/", "zoltcpu", ".ini.bak". */
void SplitFilename(const char *szPath, char *szDir, char *szBase, char *szExt);

/* Writes base + extension of szPath (the directory removed) into szOut, which
 * must hold ZOLT_PATH_SIZE bytes (or strlen(szPath) + 1). */
void GetPathFilename(const char *szPath, char *szOut);

#endif /* ZOLT_STRING_H */
