/* smbios.cpp - SMBIOS processor-socket count: the anchor search and table
 * walk through the physical-memory device, and the same walk over the
 * kernel's copy of the entry point and table. No checksum is verified. */
/* Table addresses reach 4 GB: 64-bit file offsets in the 32-bit build too. */
#define _FILE_OFFSET_BITS 64
#include "smbios.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "trace.h"

const char *g_szDevMemPath = "/dev/mem";
const char *g_szSmbiosEntryPointPath = "/sys/firmware/dmi/tables/smbios_entry_point";
const char *g_szSmbiosTablePath = "/sys/firmware/dmi/tables/DMI";

/* Structure type and processor type that count as one socket. */
#define SMBIOS_TYPE_PROCESSOR 4
#define SMBIOS_CPU_CENTRAL 3
/* A processor structure shorter than this has no processor type to read. */
#define SMBIOS_PROC_MIN_LEN 26
/* Above this formatted length the structure carries serial, asset tag and part number. */
#define SMBIOS_PROC_V23_LEN 32

/* Reads exactly uCount bytes; short reads are continued, EINTR retried.
 * Returns 1, or 0 on error or end of file (errno EIO at end of file). */
static int ReadFull(int iFd, void *pBuf, size_t uCount)
{
    unsigned char *p = (unsigned char *)pBuf;
    while (uCount > 0) {
        ssize_t iGot = read(iFd, p, uCount);
        if (iGot < 0 && errno == EINTR)
            continue;
        if (iGot <= 0) {
            if (iGot == 0)
                errno = EIO;
            return 0;
        }
        p += iGot;
        uCount -= (size_t)iGot;
    }
    return 1;
}

static uint16_t Le16(const unsigned char *p)
{
    return (uint16_t)(p[0] | (p[1] << 8));
}

static uint32_t Le32(const unsigned char *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

/* Reads one NUL-terminated string, counting its bytes into *puConsumed.
 * Returns 1, or 0 when a read failed. */
static int SkipString(int iFd, uint32_t *puConsumed)
{
    unsigned char c = 1;
    while (c != 0) {
        if (!ReadFull(iFd, &c, 1))
            return 0;
        (*puConsumed)++;
    }
    return 1;
}

/* See header. A processor structure's string set is skipped by counting the
 * strings its formatted area refers to, then one terminator byte; any other
 * structure is skipped to its double NUL. */
int SmbiosWalkTable(int iFd, uint32_t uTableLength, int *piCount)
{
    uint32_t uConsumed = 0;
    int bFirst = 1;
    while (uConsumed < uTableLength) {
        unsigned char abStruct[256];
        memset(abStruct, 0, sizeof abStruct);
        if (!ReadFull(iFd, abStruct, 4))
            return bFirst ? SMBIOS_ERR_TABREAD : SMBIOS_OK;
        bFirst = 0;
        uConsumed += 4;
        unsigned uType = abStruct[0];
        unsigned uLength = abStruct[1];

        if (uType == SMBIOS_TYPE_PROCESSOR) {
            if (uLength < SMBIOS_PROC_MIN_LEN)
                continue;
            if (!ReadFull(iFd, abStruct + 4, uLength - 4))
                return SMBIOS_OK;
            uConsumed += uLength - 4;
            int iStrings = (abStruct[4] != 0) + (abStruct[7] != 0) + (abStruct[16] != 0);
            if (uLength > SMBIOS_PROC_V23_LEN)
                iStrings += (abStruct[32] != 0) + (abStruct[33] != 0) + (abStruct[34] != 0);
            for (int i = 0; i < iStrings; i++)
                if (!SkipString(iFd, &uConsumed))
                    return SMBIOS_OK;
            unsigned char cEnd;
            if (!ReadFull(iFd, &cEnd, 1))
                return SMBIOS_OK;
            uConsumed++;
            if (abStruct[5] == SMBIOS_CPU_CENTRAL)
                (*piCount)++;
        } else {
            if (uLength > 4) {
                if (!ReadFull(iFd, abStruct + 4, uLength - 4))
                    return SMBIOS_OK;
                uConsumed += uLength - 4;
            }
            unsigned char cPrev = 1, c;
            while (uConsumed < uTableLength) {
                if (!ReadFull(iFd, &c, 1))
                    return SMBIOS_OK;
                uConsumed++;
                if (c == 0 && cPrev == 0)
                    break;
                cPrev = c;
            }
        }
    }
    return SMBIOS_OK;
}

/* See header. */
int SmbiosCountFromDevMem(int *piCount)
{
    *piCount = 0;
    int iFd = open(g_szDevMemPath, O_RDONLY);
    if (iFd < 0) {
        TPRINTF(4, __FILE__, __LINE__, "", "SMBIOS: cannot open %s\n", g_szDevMemPath);
        return SMBIOS_ERR_OPEN;
    }
    if (lseek(iFd, SMBIOS_SEARCH_START, SEEK_SET) < 0) {
        close(iFd);
        return SMBIOS_ERR_SEEK;
    }

    unsigned char abPara[16];
    long lPos = SMBIOS_SEARCH_START;
    int bSm = 0, bDmi = 0;
    while (lPos <= SMBIOS_SEARCH_LAST) {
        if (!ReadFull(iFd, abPara, sizeof abPara)) {
            perror("Unable to read");
            close(iFd);
            exit(1);
        }
        lPos += (long)sizeof abPara;
        if (memcmp(abPara, "_SM_", 4) == 0) {
            bSm = 1;
            break;
        }
        if (memcmp(abPara, "_DMI", 4) == 0) {
            bDmi = 1;
            break;
        }
    }
    if (!bSm && !bDmi) {
        close(iFd);
        return SMBIOS_ERR_ANCHOR;
    }
    /* The "_SM_" paragraph is followed by the intermediate "_DMI_" part. */
    if (bSm && !ReadFull(iFd, abPara, sizeof abPara)) {
        close(iFd);
        return SMBIOS_ERR_ANCHOR;
    }
    uint16_t uLength = Le16(abPara + 6);
    uint32_t uAddress = Le32(abPara + 8);
    if (lseek(iFd, (off_t)uAddress, SEEK_SET) < 0) {
        close(iFd);
        return SMBIOS_ERR_TABSEEK;
    }
    if (uLength == 0) {
        close(iFd);
        return SMBIOS_ERR_EMPTY;
    }
    int iRc = SmbiosWalkTable(iFd, uLength, piCount);
    close(iFd);
    return iRc;
}

/* See header. */
int SmbiosCountFromSysfs(int *piCount)
{
    *piCount = 0;
    int iFd = open(g_szSmbiosEntryPointPath, O_RDONLY);
    if (iFd < 0)
        return SMBIOS_ERR_OPEN;
    unsigned char abEntry[64];
    memset(abEntry, 0, sizeof abEntry);
    size_t uHave = 0;
    while (uHave < sizeof abEntry) {
        ssize_t iGot = read(iFd, abEntry + uHave, sizeof abEntry - uHave);
        if (iGot < 0 && errno == EINTR)
            continue;
        if (iGot <= 0)
            break;
        uHave += (size_t)iGot;
    }
    close(iFd);

    uint32_t uLength;
    if (uHave >= 24 && memcmp(abEntry, "_SM3_", 5) == 0)
        uLength = Le32(abEntry + 12); /* table maximum size */
    else if (uHave >= 31 && memcmp(abEntry, "_SM_", 4) == 0)
        uLength = Le16(abEntry + 16 + 6); /* its "_DMI_" part at 16 */
    else if (uHave >= 15 && memcmp(abEntry, "_DMI_", 5) == 0)
        uLength = Le16(abEntry + 6);
    else
        return SMBIOS_ERR_ANCHOR;
    if (uLength == 0)
        return SMBIOS_ERR_EMPTY;

    iFd = open(g_szSmbiosTablePath, O_RDONLY);
    if (iFd < 0)
        return SMBIOS_ERR_OPEN;
    int iRc = SmbiosWalkTable(iFd, uLength, piCount);
    close(iFd);
    return iRc;
}

/* See header. */
int SmbiosProcessorCount(void)
{
    int iCount = 0;
    int iRc = SmbiosCountFromDevMem(&iCount);
    if (iRc == SMBIOS_OK)
        return iCount;
    TPRINTF(4, __FILE__, __LINE__, "", "SMBIOS: physical memory gave %d, trying the kernel copy\n",
            iRc);
    iRc = SmbiosCountFromSysfs(&iCount);
    return iRc == SMBIOS_OK ? iCount : 0;
}
