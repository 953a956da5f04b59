/* zolt-mod-support.cpp - module support code: the one-line processor
 * description read from the kernel's processor table. The value offsets are
 * those of the kernel's fixed layout: key, tab(s), colon, blank, value. */
#include "zolt-mod-support.h"

#include <stdio.h>
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

/* See header. The running total counts each value with its newline plus the
 * separator's extra characters, so the text always fits iSize. */
int DeviceInfoCPU(int iProcessor, char *szBuffer, int iSize)
{
    if (szBuffer == nullptr || iSize <= 0)
        return -1;
    memset(szBuffer, 0, (size_t)iSize);

    FILE *pFile = fopen(g_szCpuInfoPath, "r");
    if (pFile == nullptr)
        return -1;

    char szLine[CPUINFO_LINE_SIZE];
    int bFound = 0;
    while (fgets(szLine, sizeof szLine, pFile) != nullptr) {
        int iNumber = 0;
        if (sscanf(szLine, "processor\t: %d", &iNumber) == 1 && iNumber == iProcessor) {
            bFound = 1;
            break;
        }
    }
    if (!bFound) {
        fclose(pFile);
        return -1;
    }

    int iTotal = 0;
    while (fgets(szLine, sizeof szLine, pFile) != nullptr) {
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
        if (iRc != 0) {
            fclose(pFile);
            return iRc;
        }
    }
    fclose(pFile);
    return -1;
}
