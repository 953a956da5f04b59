/* zolt-mod-support.cpp - module support code: the kernel's processor table
 * read into memory once per request, and the one-line processor description
 * taken from it. The value offsets are those of the kernel's fixed layout:
 * key, tab(s), colon, blank, value. */
#include "zolt-mod-support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

const char *g_szCpuInfoPath = "/proc/cpuinfo";

/* Lines of the processor table are read into this many bytes. */
#define CPUINFO_LINE_SIZE 256

/* Appends the value that starts at iOffset of szLine (without its final
 * newline) and szSuffix to szBuffer, counting iExtra more than the value's
 * length with its newline into *piTotal. Returns 0, or 1 when the total
 * reaches iSize (nothing appended). */
static int AppendCpuValue(const char *szLine, size_t uOffset, int iExtra, const char *szSuffix,
                          char *szBuffer, int iSize, int *piTotal)
{
    size_t uLineLen = strlen(szLine);
    const char *szValue = uOffset <= uLineLen ? szLine + uOffset : "";
    size_t uLen = strlen(szValue); /* with its newline */
    size_t uCopy = uLen;
    if (uCopy > 0 && szValue[uCopy - 1] == '\n')
        uCopy--;

    *piTotal +=
        (int)uLen + iExtra + (uCopy == uLen ? 1 : 0); /* no newline: count the whole suffix */
    if (*piTotal >= iSize)
        return 1;
    size_t uUsed = strlen(szBuffer);
    memcpy(szBuffer + uUsed, szValue, uCopy);
    szBuffer[uUsed + uCopy] = '\0';
    strcat(szBuffer, szSuffix);
    return 0;
}

/* See header. Reads in growing chunks: the kernel reports size 0 for it. */
int CpuTableRead(CpuTable *pTable)
{
    pTable->pText = nullptr;
    pTable->uLen = 0;
    FILE *pFile = fopen(g_szCpuInfoPath, "r");
    if (pFile == nullptr)
        return -1;
    size_t uCap = 0;
    for (;;) {
        if (pTable->uLen + 1 >= uCap) {
            size_t uNew = uCap == 0 ? 65536 : uCap * 2;
            if (uNew > CPU_TABLE_MAX + 1)
                uNew = CPU_TABLE_MAX + 1;
            char *pNew = uNew > uCap ? (char *)realloc(pTable->pText, uNew) : nullptr;
            if (pNew == nullptr)
                break; /* at the limit, or memory short: keep what was read */
            pTable->pText = pNew;
            uCap = uNew;
        }
        size_t uGot = fread(pTable->pText + pTable->uLen, 1, uCap - 1 - pTable->uLen, pFile);
        pTable->uLen += uGot;
        if (uGot == 0)
            break;
    }
    fclose(pFile);
    if (pTable->pText == nullptr)
        return -1;
    pTable->pText[pTable->uLen] = '\0';
    return 0;
}

void CpuTableFree(CpuTable *pTable)
{
    free(pTable->pText);
    pTable->pText = nullptr;
    pTable->uLen = 0;
}

/* See header. */
char *CpuTableGets(char *szLine, int iSize, const CpuTable *pTable, size_t *puPos)
{
    if (iSize <= 1 || pTable->pText == nullptr || *puPos >= pTable->uLen)
        return nullptr;
    const char *pStart = pTable->pText + *puPos;
    size_t uLeft = pTable->uLen - *puPos;
    size_t uTake = uLeft < (size_t)iSize - 1 ? uLeft : (size_t)iSize - 1;
    const char *pNewline = (const char *)memchr(pStart, '\n', uTake);
    if (pNewline != nullptr)
        uTake = (size_t)(pNewline - pStart) + 1;
    memcpy(szLine, pStart, uTake);
    szLine[uTake] = '\0';
    *puPos += uTake;
    return szLine;
}

/* See header. */
void CpuTableIndexProcessors(const CpuTable *pTable, size_t *puAfter, int iCount)
{
    for (int i = 0; i < iCount; i++)
        puAfter[i] = (size_t)-1;
    char szLine[CPUINFO_LINE_SIZE];
    size_t uPos = 0;
    while (CpuTableGets(szLine, sizeof szLine, pTable, &uPos) != nullptr) {
        int iNumber = 0;
        if (sscanf(szLine, "processor\t: %d", &iNumber) == 1 && iNumber >= 0 && iNumber < iCount &&
            puAfter[iNumber] == (size_t)-1)
            puAfter[iNumber] = uPos;
    }
}

/* See header. The running total counts each value with its newline plus the
 * separator's extra characters, so the text always fits iSize. */
int DeviceInfoCPUAt(const CpuTable *pTable, size_t uAfter, char *szBuffer, int iSize)
{
    if (szBuffer == nullptr || iSize <= 0)
        return -1;
    memset(szBuffer, 0, (size_t)iSize);
    if (uAfter == (size_t)-1)
        return -1;
    char szLine[CPUINFO_LINE_SIZE];
    int iTotal = 0;
    size_t uPos = uAfter;
    while (CpuTableGets(szLine, sizeof szLine, pTable, &uPos) != nullptr) {
        int iRc = 0;
        if (strstr(szLine, "processor") != nullptr) {
            iRc = -6;
        } else if (strstr(szLine, "vendor_id") != nullptr) {
            if (AppendCpuValue(szLine, 12, 1, ", ", szBuffer, iSize, &iTotal) != 0)
                iRc = -2;
        } else if (strstr(szLine, "model name") != nullptr) {
            if (AppendCpuValue(szLine, 13, 1, ", ", szBuffer, iSize, &iTotal) != 0)
                iRc = -3;
        } else if (strstr(szLine, "cpu MHz") != nullptr) {
            if (AppendCpuValue(szLine, 11, 5, " MHz, ", szBuffer, iSize, &iTotal) != 0)
                iRc = -4;
        } else if (strstr(szLine, "cache size") != nullptr) {
            iRc = AppendCpuValue(szLine, 13, 5, " cache", szBuffer, iSize, &iTotal) != 0 ? -5 : 1;
        }
        if (iRc != 0)
            return iRc;
    }
    return -1;
}

/* See header: the table read once, the processor's line found, the rest as
 * DeviceInfoCPUAt. */
int DeviceInfoCPU(int iProcessor, char *szBuffer, int iSize)
{
    if (szBuffer == nullptr || iSize <= 0)
        return -1;
    memset(szBuffer, 0, (size_t)iSize);
    CpuTable table;
    if (CpuTableRead(&table) != 0)
        return -1;
    char szLine[CPUINFO_LINE_SIZE];
    size_t uPos = 0, uAfter = (size_t)-1;
    while (uAfter == (size_t)-1 && CpuTableGets(szLine, sizeof szLine, &table, &uPos) != nullptr) {
        int iNumber = 0;
        if (sscanf(szLine, "processor\t: %d", &iNumber) == 1 && iNumber == iProcessor)
            uAfter = uPos;
    }
    int iRc = DeviceInfoCPUAt(&table, uAfter, szBuffer, iSize);
    CpuTableFree(&table);
    return iRc;
}
