/* smbios.cpp - fuzz target of the SMBIOS walker through both of its sources:
 * the kernel's copy (entry point file and table file: "_SM_", "_SM3_" and
 * bare "_DMI_" entry points) and an image standing in for the physical-memory
 * device (anchor search from 0xF0000, table at the address the entry point
 * gives). The count must stay within what the table could hold.
 * Input: byte 0 bit 0 picks the source (0 kernel copy, 1 memory image);
 * byte 1 is the entry point's length (at most 80) or, for the image, its
 * paragraph number after 0xF0000; then the entry point bytes (32 for the
 * image); the rest is the table.
 * The walker reads the image as it reads the device, 16 bytes per paragraph
 * and a structure's strings byte by byte, so an image input is slow when
 * nothing stops the search or the walk. Unless byte 0 bits 2-5 are all set
 * (a "raw" input, taken as it is), the target therefore writes an anchor at
 * the chosen paragraph ("_DMI" when bit 1 is set, else "_SM_") and lowers
 * the entry's table length to at most 64 bytes past the table, so the search
 * and the walk over the image's zeros end soon. */
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
/* Image entry point bytes taken from the input. */
#define SMBIOS_FUZZ_ENTRY 32
/* Byte 0 bits that, all set, leave an image input as it is. */
#define SMBIOS_FUZZ_RAW_BITS 0x3C
/* Table bytes past the input's table an anchored input may walk. */
#define SMBIOS_FUZZ_LENGTH_SLACK 64

static std::string s_sEntry, s_sTable, s_sImage;
static int s_fdImage = -1;

/* The regions one input wrote into the image, zeroed again after it. */
static long s_lEntryAt, s_lTableAt;
static size_t s_uEntryLen, s_uTableLen;

static uint32_t Le32At(const uint8_t *p)
{
    return (uint32_t)p[0] | ((uint32_t)p[1] << 8) | ((uint32_t)p[2] << 16) | ((uint32_t)p[3] << 24);
}

/* Writes n zero bytes at lAt of the image. */
static void ZeroImage(long lAt, size_t n)
{
    static const uint8_t s_abZero[4096] = { 0 };
    while (n > 0) {
        size_t uPart = n < sizeof s_abZero ? n : sizeof s_abZero;
        FUZZ_CHECK(pwrite(s_fdImage, s_abZero, uPart, lAt) == (ssize_t)uPart);
        lAt += (long)uPart;
        n -= uPart;
    }
}

/* The image file is made once, all zeros over the search area; each input
 * only writes its entry and table into it and takes them out again. */
static void OpenImage(void)
{
    s_fdImage = open(s_sImage.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(s_fdImage >= 0);
    FUZZ_CHECK(ftruncate(s_fdImage, SMBIOS_FUZZ_IMAGE_SIZE) == 0);
}

/* Writes the uEntry entry bytes at paragraph iPara of the search area and
 * the table at the entry's address when it is in reach. */
static void WriteImage(const uint8_t *pEntry, size_t uEntry, int iPara, const uint8_t *pTable,
                       size_t uTable)
{
    s_lEntryAt = SMBIOS_SEARCH_START + 16L * iPara;
    s_uEntryLen = uEntry;
    s_uTableLen = 0;
    FUZZ_CHECK(pwrite(s_fdImage, pEntry, uEntry, s_lEntryAt) == (ssize_t)uEntry);
    /* The address field of the "_DMI_" part: at 8 of the anchor paragraph for
     * a bare "_DMI", of the second paragraph behind "_SM_". */
    size_t uDmi = uEntry >= 4 && memcmp(pEntry, "_SM_", 4) == 0 ? 16 : 0;
    if (uEntry >= uDmi + 12 && uTable > 0) {
        long lAddr = (long)Le32At(pEntry + uDmi + 8);
        if (lAddr >= 0 && lAddr + (long)uTable <= SMBIOS_FUZZ_TABLE_LIMIT) {
            FUZZ_CHECK(pwrite(s_fdImage, pTable, uTable, lAddr) == (ssize_t)uTable);
            s_lTableAt = lAddr;
            s_uTableLen = uTable;
        }
    }
}

/* Takes the input's entry and table out of the image: zeros where they were
 * and the file cut back to the search area when the table lay beyond it. */
static void ClearImage(void)
{
    ZeroImage(s_lEntryAt, s_uEntryLen);
    if (s_uTableLen > 0) {
        if (s_lTableAt + (long)s_uTableLen > SMBIOS_FUZZ_IMAGE_SIZE)
            FUZZ_CHECK(ftruncate(s_fdImage, SMBIOS_FUZZ_IMAGE_SIZE) == 0);
        if (s_lTableAt < SMBIOS_FUZZ_IMAGE_SIZE) {
            long lEnd = s_lTableAt + (long)s_uTableLen;
            if (lEnd > SMBIOS_FUZZ_IMAGE_SIZE)
                lEnd = SMBIOS_FUZZ_IMAGE_SIZE;
            ZeroImage(s_lTableAt, (size_t)(lEnd - s_lTableAt));
        }
    }
}

/* An anchored image entry: the anchor at the start, and a table length no
 * more than SMBIOS_FUZZ_LENGTH_SLACK bytes past the uTable table bytes. */
static void AnchorEntry(uint8_t *pEntry, size_t uEntry, int bDmi, size_t uTable)
{
    if (uEntry < 4)
        return;
    memcpy(pEntry, bDmi ? "_DMI" : "_SM_", 4);
    size_t uLenAt = (bDmi ? 0 : 16) + 6;
    if (uEntry < uLenAt + 2)
        return;
    size_t uLength = (size_t)pEntry[uLenAt] | ((size_t)pEntry[uLenAt + 1] << 8);
    size_t uMost = uTable + SMBIOS_FUZZ_LENGTH_SLACK;
    if (uLength > uMost) {
        uLength = uMost - uLength % (SMBIOS_FUZZ_LENGTH_SLACK + 1);
        pEntry[uLenAt] = (uint8_t)uLength;
        pEntry[uLenAt + 1] = (uint8_t)(uLength >> 8);
    }
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
        OpenImage();
    }
    int bImage = pData[0] & 1;
    size_t uRest = uSize - 2;
    size_t uEntry = bImage ? SMBIOS_FUZZ_ENTRY : (pData[1] <= 80 ? pData[1] : 80);
    if (uEntry > uRest)
        uEntry = uRest;
    const uint8_t *pEntry = pData + 2;
    const uint8_t *pTable = pEntry + uEntry;
    size_t uTable = uRest - uEntry;

    int iCount = -1, iRc;
    if (bImage) {
        uint8_t abEntry[SMBIOS_FUZZ_ENTRY];
        memcpy(abEntry, pEntry, uEntry);
        if ((pData[0] & SMBIOS_FUZZ_RAW_BITS) != SMBIOS_FUZZ_RAW_BITS)
            AnchorEntry(abEntry, uEntry, (pData[0] >> 1) & 1, uTable);
        /* Paragraphs up to 0xFFFE0 keep both entry paragraphs in the area. */
        int iPara = pData[1] % 255;
        WriteImage(abEntry, uEntry, iPara, pTable, uTable);
        iRc = SmbiosCountFromDevMem(&iCount);
        ClearImage();
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
