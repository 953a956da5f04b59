/* gen-str.h - CGenStr: a growable, always NUL-terminated byte string with a
 * fixed growth rule (GROWTH) and printf-style writes; it can also wrap a
 * caller's fixed buffer, which it then never grows. */
#ifndef ZOLT_GEN_STR_H
#define ZOLT_GEN_STR_H

#include <stdarg.h>
#include <stdint.h>

/* Slack added when a heap buffer is resized for n bytes: 64 up to 128, n / 2
 * up to 2047, 2048 from there on, so many small appends cost few resizes. */
#define GROWTH(n) ((n) <= 128 ? 64u : ((n) <= 2047 ? (uint32_t)(n) / 2u : 2048u))

/* Declared by its owner (static, inside a record, on the stack) and set up by
 * CGenStrInit, CGenStrInitFromCStr or CGenStrInitBuff.
 * Invariant: uUsed <= uCapacity and pBuf[uUsed - 1] == '\0'. */
typedef struct CGenStr {
    char *pBuf;         /* the text; NULL before init, after delete or failed growth */
    uint32_t uUsed;     /* bytes in use including the NUL (1 = empty); 0 after delete */
    uint32_t uCapacity; /* bytes of pBuf available to uUsed */
    int32_t bGrowable;  /* 1 heap buffer owned here; 0 wrapped caller buffer */
} CGenStr;

/* Results: 1 success, 0 failure, unless stated. None of these lock: the owner
 * of a shared string guards it. */

/* Heap string holding the empty text (1-byte buffer). 0 when out of memory. */
int CGenStrInit(CGenStr *pStr);
/* CGenStrInit then append szText (NULL appends nothing); on failure the
 * string is deleted and 0 returned. */
int CGenStrInitFromCStr(CGenStr *pStr, const char *szText);
/* Wraps the caller's buffer pBuf of iBufSize bytes; never grows, never frees
 * it (do not CGenStrDelete a wrapped string). Capacity is iBufSize - 1, so a
 * 10-byte buffer holds at most 8 characters. iExistingLen 0 empties the
 * buffer; 1 or more keeps that many characters already in it (cut to fit).
 * 0 when pBuf is NULL or iBufSize < 2. */
int CGenStrInitBuff(CGenStr *pStr, char *pBuf, int iExistingLen, int iBufSize);
/* Sets the buffer to exactly iChars + 1 bytes (may shrink, cutting the text);
 * iChars 0 leaves a fresh 1-byte empty buffer. On a wrapped buffer nothing is
 * reallocated: the text is cut to iChars and 1 returned if iChars + 1 fits
 * the capacity, else 0. Negative iChars: 0. */
int CGenStrReserve(CGenStr *pStr, int iChars);
/* Frees a heap buffer; pBuf, uUsed and uCapacity become 0. */
void CGenStrDelete(CGenStr *pStr);
/* Empties the text, capacity kept. */
void CGenStrClear(CGenStr *pStr);

int CGenStrSize(const CGenStr *pStr);          /* text length (uUsed - 1), 0 if uninitialised */
int CGenStrIsEmpty(const CGenStr *pStr);       /* uUsed <= 1 */
int CGenStrIsInit(const CGenStr *pStr);        /* uCapacity and uUsed non-zero */
const char *CGenStrC_Str(const CGenStr *pStr); /* the buffer, for reading */
const char *CGenStrTail(const CGenStr *pStr, int iIndex); /* &pBuf[iIndex]; "" if out of range */
int CGenStrGet(const CGenStr *pStr, int iIndex); /* (signed char) pBuf[iIndex]; 0 if out of range */
int CGenStrLastI(const CGenStr *pStr);           /* index of the NUL = text length */

int CGenStrCatChar(CGenStr *pStr, const char *szText); /* append C text; NULL appends nothing */
int CGenStrCatStr(CGenStr *pStr, const CGenStr *pOther);
int CGenStrCatC(CGenStr *pStr, char c);
int CGenStrCatf(CGenStr *pStr, const char *szFormat, ...) __attribute__((format(printf, 2, 3)));
int CGenStrVCatf(CGenStr *pStr, const char *szFormat, va_list args);
int CGenStrAssignChar(CGenStr *pStr, const char *szText);   /* NULL szText: 0 */
int CGenStrAssignStr(CGenStr *pStr, const CGenStr *pOther); /* self-assign: 1, unchanged */

/* Replaces the text by the formatted text; returns its length, or -1 (text
 * emptied) when the buffer cannot grow to hold it (a wrapped buffer never
 * grows). Arguments must not point into pStr itself. */
int CGenStrSprintf(CGenStr *pStr, const char *szFormat, ...) __attribute__((format(printf, 2, 3)));
int CGenStrVSprintf(CGenStr *pStr, const char *szFormat, va_list args);
/* Writes the formatted text from iIndex on (0 <= iIndex <= text length),
 * replacing what followed; returns the length of the formatted part, or -1
 * when the buffer cannot grow (text cut at iIndex) or iIndex is outside
 * 0..length (text unchanged). Arguments must not point into pStr itself.
 * Append idiom: CGenStrSprintfI(&s, CGenStrLastI(&s), ...). */
int CGenStrSprintfI(CGenStr *pStr, int iIndex, const char *szFormat, ...)
    __attribute__((format(printf, 3, 4)));

/* strcasecmp of the text and szText. */
int CGenStrCmpCStrI(const CGenStr *pStr, const char *szText);
/* pOut = text from iIndex on; 0 when iIndex >= length (pOut emptied). */
int CGenStrGetSuffix(const CGenStr *pStr, int iIndex, CGenStr *pOut);
/* Cuts the next token at cDelim starting at *piPos (advanced past the
 * delimiter); *pbFound = 1 when a token was produced. With ',' the text
 * "a,,b" gives "a", "" and "b", then *pbFound = 0; a trailing delimiter gives
 * no final empty token. 0 only when an append fails. */
int CGenStrGetToken(const CGenStr *pStr, char cDelim, int *piPos, int *pbFound, CGenStr *pOut);
/* pOut = iCount characters from iStart (-1: to the end; cut at the end).
 * 0 when iStart >= length; 1 with pOut empty when iCount is 0 (or < -1). */
int CGenStrSubstr(const CGenStr *pStr, int iStart, int iCount, CGenStr *pOut);

/* Growth routine used by every write: makes room for uNeed bytes. A wrapped
 * buffer fails (0). No buffer: exactly uNeed zero-filled bytes. Otherwise a
 * resize to uNeed + GROWTH(uNeed). When the heap refuses, pBuf becomes NULL
 * and 0 is returned. */
int _CGenStrGrowIt(CGenStr *pStr, uint32_t uNeed);

#endif /* ZOLT_GEN_STR_H */
