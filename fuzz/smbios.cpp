/* smbios.cpp - fuzz target of the SMBIOS walker through both of its sources:
 * the kernel's copy (entry point file and table file: "_SM_", "_SM3_" and
 * bare "_DMI_" entry points) and an image standing in for the physical-memory
 * device (anchor search from 0xF0000, table at the address the entry point
 * gives). The count must stay within what the table could hold.
 * Input: byte 0 bit 0 picks the source (0 kernel copy, 1 memory image);
 * byte 1 is the entry point's length (at most 80) or, for the image, its
 * paragraph number after 0xF0000; then the entry point bytes (32 for the
 * image); the rest is the table. */
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "fuzz-common.h"
#include "smbios.h"

/* The image covers the whole search area; a table is only written where the
 * entry point puts it below this bound (farther reads just end the file). */
#define SMBIOS_FUZZ_IMAGE_SIZE 0x100000L
#define SMBIOS_FUZZ_TABLE_LIMIT (16L * 1024 * 1024)

static std::string s_sEntry, s_sTable, s_sImage;

/* Writes the memory image: the 32 entry bytes at paragraph iPara of the
 * search area and the table at the entry's address when it is in reach. */
static void WriteImage(const uint8_t *pEntry, size_t uEntry, int iPara, const uint8_t *pTable, size_t uTable)
{
    int fd = open(s_sImage.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    long lEntryAt = SMBIOS_SEARCH_START + 16L * iPara;
    long lEnd = SMBIOS_FUZZ_IMAGE_SIZE;
    FUZZ_CHECK(pwrite(fd, pEntry, uEntry, lEntryAt) == (ssize_t)uEntry);
    /* The address field of the "_DMI_" part: at 8 of the anchor paragraph for
     * a bare "_DMI", of the second paragraph behind "_SM_". */
    size_t uDmi = uEntry >= 4 && memcmp(pEntry, "_SM_", 4) == 0 ? 16 : 0;
    if (uEntry >= uDmi + 12 && uTable > 0) {
        const uint8_t *p = pEntry + uDmi + 8;
        long lAddr = (long)((uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24));
        if (lAddr >= 0 && lAddr + (long)uTable <= SMBIOS_FUZZ_TABLE_LIMIT) {
            FUZZ_CHECK(pwrite(fd, pTable, uTable, lAddr) == (ssize_t)uTable);
            if (lAddr + (long)uTable > lEnd)
                lEnd = lAddr + (long)uTable;
        }
    }
    FUZZ_CHECK(ftruncate(fd, lEnd) == 0);
    close(fd);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    if (uSize < 2)
        return 0;
    if (s_sEntry.empty()) {
        s_sEntry = FuzzTempPath("smbios_entry_point");
        s_sTable = FuzzTempPath("DMI");
        s_sImage = FuzzTempPath("mem");
        g_szSmbiosEntryPointPath = s_sEntry.c_str();
        g_szSmbiosTablePath = s_sTable.c_str();
        g_szDevMemPath = s_sImage.c_str();
    }
    int bImage = pData[0] & 1;
    size_t uRest = uSize - 2;
    size_t uEntry = bImage ? 32 : (pData[1] <= 80 ? pData[1] : 80);
    if (uEntry > uRest)
        uEntry = uRest;
    const uint8_t *pEntry = pData + 2;
    const uint8_t *pTable = pEntry + uEntry;
    size_t uTable = uRest - uEntry;

    int iCount = -1, iRc;
    if (bImage) {
        /* Paragraphs up to 0xFFFE0 keep both entry paragraphs in the area. */
        int iPara = pData[1] % 255;
        WriteImage(pEntry, uEntry, iPara, pTable, uTable);
        iRc = SmbiosCountFromDevMem(&iCount);
    } else {
        FuzzWriteFile(s_sEntry, pEntry, uEntry);
        FuzzWriteFile(s_sTable, pTable, uTable);
        iRc = SmbiosCountFromSysfs(&iCount);
    }
    FUZZ_CHECK(iRc >= SMBIOS_OK && iRc <= SMBIOS_ERR_TABREAD);
    FUZZ_CHECK(iCount >= 0);
    if (iRc != SMBIOS_OK)
        FUZZ_CHECK(iCount == 0);
    /* A counted structure takes at least 27 bytes (26 formatted, 1 end) of
     * the table file, which ends where the input ends. */
    if (!bImage)
        FUZZ_CHECK((size_t)iCount * 27 <= uTable);
    return 0;
}
