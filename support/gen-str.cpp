/* gen-str.cpp - CGenStr, the growable NUL-terminated string: growth rule,
 * appends and assignments, formatted writes, token and substring cutting.
 * A string that wraps a caller's buffer never grows: writes that do not fit
 * fail and leave the text inside the buffer. */
#include "gen-str.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

/* Largest need the growth rule can serve without the 32-bit capacity
 * wrapping (need + 2048 slack). */
static const uint32_t s_uMaxNeed = UINT32_MAX - 4096u;

/* Grows the buffer so that uNeed bytes fit; see the header. Returns 1 / 0. */
int _CGenStrGrowIt(CGenStr *pStr, uint32_t uNeed)
{
    if (!pStr->bGrowable || uNeed > s_uMaxNeed)
        return 0;
    if (pStr->pBuf == NULL) {
        pStr->pBuf = static_cast<char *>(calloc(uNeed, 1));
        if (pStr->pBuf == NULL) {
            pStr->uCapacity = 0;
            pStr->uUsed = 0;
            return 0;
        }
        pStr->uCapacity = uNeed;
        return 1;
    }
    uint32_t uNew = uNeed + GROWTH(uNeed);
    char *pNew = static_cast<char *>(realloc(pStr->pBuf, uNew));
    if (pNew == NULL) {
        /* the owner must delete or re-initialise the string now */
        free(pStr->pBuf);
        pStr->pBuf = NULL;
        pStr->uCapacity = 0;
        pStr->uUsed = 0;
        return 0;
    }
    pStr->pBuf = pNew;
    pStr->uCapacity = uNew;
    return 1;
}

/* Appends uLen bytes at pText, which may lie inside the string's own buffer.
 * Returns 1 / 0; on failure a wrapped or unchanged heap text stays as it was. */
static int CGenStr_I_CatBytes(CGenStr *pStr, const char *pText, size_t uLen)
{
    if (pStr->pBuf == NULL || pStr->uUsed == 0)
        return 0;
    if (uLen > (size_t)(s_uMaxNeed - pStr->uUsed))
        return 0;
    uint32_t uNeed = pStr->uUsed + (uint32_t)uLen;
    if (uNeed > pStr->uCapacity) {
        bool bInside = pText >= pStr->pBuf && pText < pStr->pBuf + pStr->uCapacity;
        size_t uOffset = bInside ? (size_t)(pText - pStr->pBuf) : 0;
        if (!_CGenStrGrowIt(pStr, uNeed))
            return 0;
        if (bInside)
            pText = pStr->pBuf + uOffset;
    }
    memmove(pStr->pBuf + pStr->uUsed - 1, pText, uLen);
    pStr->uUsed = uNeed;
    pStr->pBuf[uNeed - 1] = '\0';
    return 1;
}

/* Sets up an empty heap string. Returns 1, 0 when out of memory. */
int CGenStrInit(CGenStr *pStr)
{
    pStr->pBuf = NULL;
    pStr->uUsed = 0;
    pStr->uCapacity = 0;
    pStr->bGrowable = 1;
    if (!_CGenStrGrowIt(pStr, 1))
        return 0;
    pStr->uUsed = 1;
    return 1;
}

/* Heap string holding a copy of szText. Returns 1; 0 (string deleted) when
 * out of memory. */
int CGenStrInitFromCStr(CGenStr *pStr, const char *szText)
{
    if (!CGenStrInit(pStr))
        return 0;
    if (!CGenStrCatChar(pStr, szText)) {
        CGenStrDelete(pStr);
        return 0;
    }
    return 1;
}

/* Wraps a caller buffer; see the header. Returns 1 / 0. */
int CGenStrInitBuff(CGenStr *pStr, char *pBuf, int iExistingLen, int iBufSize)
{
    if (pBuf == NULL || iBufSize < 2)
        return 0;
    pStr->pBuf = pBuf;
    pStr->uCapacity = (uint32_t)iBufSize - 1;
    pStr->bGrowable = 0;
    int iKeep = iExistingLen;
    if (iKeep < 0)
        iKeep = 0;
    if ((uint32_t)iKeep > pStr->uCapacity - 1)
        iKeep = (int)pStr->uCapacity - 1;
    pStr->pBuf[iKeep] = '\0';
    pStr->uUsed = (uint32_t)iKeep + 1;
    return 1;
}

/* Sets the buffer to iChars + 1 bytes; see the header. Returns 1 / 0. */
int CGenStrReserve(CGenStr *pStr, int iChars)
{
    if (iChars < 0)
        return 0;
    uint32_t uSize = (uint32_t)iChars + 1;
    if (!pStr->bGrowable) {
        if (pStr->pBuf == NULL || uSize > pStr->uCapacity)
            return 0;
    } else if (iChars == 0) {
        free(pStr->pBuf);
        pStr->pBuf = static_cast<char *>(calloc(1, 1));
        pStr->uUsed = pStr->pBuf != NULL ? 1 : 0;
        pStr->uCapacity = pStr->uUsed;
        return pStr->pBuf != NULL;
    } else if (pStr->pBuf == NULL) {
        pStr->pBuf = static_cast<char *>(calloc(uSize, 1));
        if (pStr->pBuf == NULL)
            return 0;
        pStr->uUsed = 1;
        pStr->uCapacity = uSize;
        return 1;
    } else {
        char *pNew = static_cast<char *>(realloc(pStr->pBuf, uSize));
        if (pNew == NULL)
            return 0; /* the old buffer and text stay */
        pStr->pBuf = pNew;
        pStr->uCapacity = uSize;
    }
    if (pStr->uUsed > uSize)
        pStr->uUsed = uSize;
    if (pStr->uUsed == 0)
        pStr->uUsed = 1;
    pStr->pBuf[pStr->uUsed - 1] = '\0';
    return 1;
}

/* Frees a heap buffer (a wrapped one is left to its owner); all fields 0. */
void CGenStrDelete(CGenStr *pStr)
{
    if (pStr->bGrowable)
        free(pStr->pBuf);
    pStr->pBuf = NULL;
    pStr->uUsed = 0;
    pStr->uCapacity = 0;
}

/* Empties the text; the capacity stays. */
void CGenStrClear(CGenStr *pStr)
{
    if (pStr->pBuf == NULL || pStr->uCapacity == 0)
        return;
    pStr->pBuf[0] = '\0';
    pStr->uUsed = 1;
}

/* Text length. */
int CGenStrSize(const CGenStr *pStr)
{
    return pStr->uUsed > 0 ? (int)(pStr->uUsed - 1) : 0;
}

/* True for the empty (or uninitialised) string. */
int CGenStrIsEmpty(const CGenStr *pStr)
{
    return pStr->uUsed <= 1;
}

/* True once initialised and until deleted. */
int CGenStrIsInit(const CGenStr *pStr)
{
    return pStr->uCapacity != 0 && pStr->uUsed != 0;
}

/* The text; "" when there is no buffer. */
const char *CGenStrC_Str(const CGenStr *pStr)
{
    return pStr->pBuf != NULL ? pStr->pBuf : "";
}

/* The text from iIndex on; "" outside the text. */
const char *CGenStrTail(const CGenStr *pStr, int iIndex)
{
    if (pStr->pBuf == NULL || iIndex < 0 || (uint32_t)iIndex >= pStr->uUsed)
        return "";
    return pStr->pBuf + iIndex;
}

/* The character at iIndex as a signed value; 0 outside the text. */
int CGenStrGet(const CGenStr *pStr, int iIndex)
{
    if (pStr->pBuf == NULL || iIndex < 0 || (uint32_t)iIndex >= pStr->uUsed)
        return 0;
    return (signed char)pStr->pBuf[iIndex];
}

/* Index of the terminating NUL (the text length). */
int CGenStrLastI(const CGenStr *pStr)
{
    return CGenStrSize(pStr);
}

/* Appends a C text; NULL appends nothing. Returns 1 / 0. */
int CGenStrCatChar(CGenStr *pStr, const char *szText)
{
    if (szText == NULL)
        return pStr->pBuf != NULL && pStr->uUsed != 0;
    return CGenStr_I_CatBytes(pStr, szText, strlen(szText));
}

/* Appends another string's text (may be pStr itself). Returns 1 / 0. */
int CGenStrCatStr(CGenStr *pStr, const CGenStr *pOther)
{
    return CGenStr_I_CatBytes(pStr, CGenStrC_Str(pOther), (size_t)CGenStrSize(pOther));
}

/* Appends one character. Returns 1 / 0. */
int CGenStrCatC(CGenStr *pStr, char c)
{
    return CGenStr_I_CatBytes(pStr, &c, 1);
}

/* Replaces the text by a copy of szText (may lie in the string). 1 / 0. */
int CGenStrAssignChar(CGenStr *pStr, const char *szText)
{
    if (szText == NULL || pStr->pBuf == NULL)
        return 0;
    size_t uLen = strlen(szText);
    if (uLen > s_uMaxNeed - 1)
        return 0;
    uint32_t uNeed = (uint32_t)uLen + 1;
    /* a text inside the buffer is shorter than the capacity: no growth then */
    if (uNeed > pStr->uCapacity && !_CGenStrGrowIt(pStr, uNeed))
        return 0;
    memmove(pStr->pBuf, szText, uNeed);
    pStr->uUsed = uNeed;
    return 1;
}

/* Replaces the text by another string's text; self-assignment changes
 * nothing. Returns 1 / 0. */
int CGenStrAssignStr(CGenStr *pStr, const CGenStr *pOther)
{
    if (pStr == pOther)
        return 1;
    return CGenStrAssignChar(pStr, CGenStrC_Str(pOther));
}

/* Formatted write at iIndex (0 <= iIndex <= length); growth and retry as in
 * the header. Returns the formatted length or -1. */
static int CGenStr_I_VPrintAt(CGenStr *pStr, int iIndex, const char *szFormat, va_list args)
{
    if (pStr->pBuf == NULL || pStr->uUsed == 0 || iIndex < 0 || (uint32_t)iIndex > pStr->uUsed - 1)
        return -1;
    for (;;) {
        uint32_t uAvail = pStr->uCapacity - (uint32_t)iIndex;
        va_list argsCopy;
        va_copy(argsCopy, args);
        int n = vsnprintf(pStr->pBuf + iIndex, uAvail, szFormat, argsCopy);
        va_end(argsCopy);
        if (n < 0) { /* an encoding error: nothing usable was written */
            pStr->pBuf[iIndex] = '\0';
            pStr->uUsed = (uint32_t)iIndex + 1;
            return -1;
        }
        if ((uint32_t)n < uAvail) {
            pStr->uUsed = (uint32_t)iIndex + (uint32_t)n + 1;
            return n;
        }
        pStr->pBuf[iIndex] = '\0';
        pStr->uUsed = (uint32_t)iIndex + 1;
        if ((uint32_t)n > s_uMaxNeed - (uint32_t)iIndex - 1 ||
            !_CGenStrGrowIt(pStr, (uint32_t)iIndex + (uint32_t)n + 1))
            return -1;
    }
}

/* Replaces the text by formatted text; see the header. */
int CGenStrVSprintf(CGenStr *pStr, const char *szFormat, va_list args)
{
    return CGenStr_I_VPrintAt(pStr, 0, szFormat, args);
}

/* Replaces the text by formatted text; returns its length or -1. */
int CGenStrSprintf(CGenStr *pStr, const char *szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    int iRc = CGenStr_I_VPrintAt(pStr, 0, szFormat, args);
    va_end(args);
    return iRc;
}

/* Writes formatted text from iIndex on; returns its length or -1. */
int CGenStrSprintfI(CGenStr *pStr, int iIndex, const char *szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    int iRc = CGenStr_I_VPrintAt(pStr, iIndex, szFormat, args);
    va_end(args);
    return iRc;
}

/* Appends formatted text through a temporary heap string. Returns 1 / 0. */
int CGenStrVCatf(CGenStr *pStr, const char *szFormat, va_list args)
{
    CGenStr tmp;
    if (!CGenStrInit(&tmp))
        return 0;
    int iRc = CGenStr_I_VPrintAt(&tmp, 0, szFormat, args) >= 0 && CGenStrCatStr(pStr, &tmp);
    CGenStrDelete(&tmp);
    return iRc;
}

/* Appends formatted text. Returns 1 / 0. */
int CGenStrCatf(CGenStr *pStr, const char *szFormat, ...)
{
    va_list args;
    va_start(args, szFormat);
    int iRc = CGenStrVCatf(pStr, szFormat, args);
    va_end(args);
    return iRc;
}

/* strcasecmp of the text and szText (NULL compares as ""). */
int CGenStrCmpCStrI(const CGenStr *pStr, const char *szText)
{
    return strcasecmp(CGenStrC_Str(pStr), szText != NULL ? szText : "");
}

/* pOut = the text from iIndex on. Returns 1; 0 when iIndex is outside the
 * text or the append fails. */
int CGenStrGetSuffix(const CGenStr *pStr, int iIndex, CGenStr *pOut)
{
    CGenStrClear(pOut);
    if (iIndex < 0 || iIndex >= CGenStrSize(pStr))
        return 0;
    return CGenStrCatChar(pOut, CGenStrTail(pStr, iIndex));
}

/* Cuts the next token; see the header. Returns 1, 0 when an append fails. */
int CGenStrGetToken(const CGenStr *pStr, char cDelim, int *piPos, int *pbFound, CGenStr *pOut)
{
    *pbFound = 0;
    CGenStrClear(pOut);
    int iLen = CGenStrSize(pStr);
    if (*piPos < 0 || *piPos >= iLen)
        return 1;
    for (;;) {
        if (*piPos >= iLen) {
            *pbFound = 1;
            return 1;
        }
        char c = pStr->pBuf[*piPos];
        (*piPos)++;
        if (c == cDelim) {
            *pbFound = 1;
            return 1;
        }
        if (!CGenStrCatC(pOut, c))
            return 0;
    }
}

/* pOut = iCount characters from iStart (-1: to the end). Returns 1; 0 when
 * iStart is outside the text or an append fails. */
int CGenStrSubstr(const CGenStr *pStr, int iStart, int iCount, CGenStr *pOut)
{
    CGenStrClear(pOut);
    int iLen = CGenStrSize(pStr);
    if (iCount == -1)
        iCount = iLen - iStart;
    if (iStart < 0 || iStart >= iLen)
        return 0;
    for (int i = 0; i < iCount && iStart + i < iLen; i++) {
        if (!CGenStrCatC(pOut, pStr->pBuf[iStart + i]))
            return 0;
    }
    return 1;
}
