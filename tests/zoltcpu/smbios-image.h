/* smbios-image.h - builds SMBIOS structure tables, entry points and
 * physical-memory images in temporary files for the CPU module's tests. */
#ifndef TESTS_ZOLTCPU_SMBIOS_IMAGE_H
#define TESTS_ZOLTCPU_SMBIOS_IMAGE_H

#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

/* Appends one structure: header (type, length, handle), uFormatted - 4 bytes
 * of formatted area taken from abArea (zero-padded), then the strings and the
 * terminating NUL (a double NUL when there are none). */
inline void AddStructure(Bytes &table, uint8_t uType, unsigned uFormatted, const Bytes &abArea,
                         const std::vector<std::string> &strings, uint16_t uHandle = 0x100)
{
    table.push_back(uType);
    table.push_back((uint8_t)uFormatted);
    table.push_back((uint8_t)(uHandle & 0xFF));
    table.push_back((uint8_t)(uHandle >> 8));
    for (unsigned i = 4; i < uFormatted; i++)
        table.push_back(i - 4 < abArea.size() ? abArea[i - 4] : 0);
    for (const std::string &s : strings) {
        table.insert(table.end(), s.begin(), s.end());
        table.push_back(0);
    }
    if (strings.empty())
        table.push_back(0);
    table.push_back(0);
}

/* A processor structure (type 4) of formatted length uFormatted (26 for the
 * oldest layout, 42 for one with serial, asset tag and part number) with
 * processor type uCpuType and every string it refers to present. */
inline void AddProcessor(Bytes &table, uint8_t uCpuType, unsigned uFormatted, const char *szSocket)
{
    Bytes area(64, 0);
    /* Offsets below are within the structure; area starts at offset 4. */
    area[4 - 4] = 1;            /* socket designation: string 1 */
    area[5 - 4] = uCpuType;
    area[6 - 4] = 0xB3;         /* family */
    area[7 - 4] = 2;            /* manufacturer: string 2 */
    area[16 - 4] = 3;           /* version: string 3 */
    std::vector<std::string> strings = { szSocket, "Maker", "Model 9000" };
    if (uFormatted > 32) {
        area[32 - 4] = 4;       /* serial */
        area[33 - 4] = 5;       /* asset tag */
        area[34 - 4] = 6;       /* part number */
        strings.insert(strings.end(), { "SER1", "ASSET", "PART-77" });
    }
    AddStructure(table, 4, uFormatted, area, strings);
}

/* A table: BIOS information, two central processors (old and new layout), a
 * processor of another type, a memory device without strings, the end mark.
 * Counts 2. */
inline Bytes SampleTable()
{
    Bytes t;
    AddStructure(t, 0, 24, Bytes{ 1, 2, 0, 0xE0 }, { "Vendor Inc.", "1.02" }, 0);
    AddProcessor(t, 3, 26, "CPU0");
    AddProcessor(t, 3, 42, "CPU1");
    AddProcessor(t, 2, 42, "DSP");        /* processor type "other": not counted */
    AddStructure(t, 17, 21, Bytes{}, {}, 0x200);
    AddStructure(t, 127, 4, Bytes{}, {}, 0xFEFF);
    return t;
}

inline void Put16(Bytes &b, size_t uAt, uint16_t u)
{
    b[uAt] = (uint8_t)u;
    b[uAt + 1] = (uint8_t)(u >> 8);
}

inline void Put32(Bytes &b, size_t uAt, uint32_t u)
{
    for (int i = 0; i < 4; i++)
        b[uAt + i] = (uint8_t)(u >> (8 * i));
}

/* 31-byte "_SM_" entry point with its "_DMI_" part at offset 16. */
inline Bytes EntryPoint21(uint16_t uTableLength, uint32_t uTableAddress)
{
    Bytes e(31, 0);
    memcpy(&e[0], "_SM_", 4);
    e[5] = 0x1F;
    e[6] = 2;
    e[7] = 4;
    memcpy(&e[16], "_DMI_", 5);
    Put16(e, 22, uTableLength);
    Put32(e, 24, uTableAddress);
    return e;
}

/* 15-byte legacy "_DMI_" entry point. */
inline Bytes EntryPointDmi(uint16_t uTableLength, uint32_t uTableAddress)
{
    Bytes e(15, 0);
    memcpy(&e[0], "_DMI_", 5);
    Put16(e, 6, uTableLength);
    Put32(e, 8, uTableAddress);
    return e;
}

/* 24-byte 64-bit "_SM3_" entry point: maximum table size at 12, address at 16. */
inline Bytes EntryPoint30(uint32_t uMaxSize, uint64_t uTableAddress)
{
    Bytes e(24, 0);
    memcpy(&e[0], "_SM3_", 5);
    e[6] = 0x18;
    e[7] = 3;
    Put32(e, 12, uMaxSize);
    Put32(e, 16, (uint32_t)uTableAddress);
    Put32(e, 20, (uint32_t)(uTableAddress >> 32));
    return e;
}

/* Writes bytes at an offset of a file (created when missing); gaps stay
 * sparse. Returns true on success. */
inline bool WriteAt(const std::string &path, off_t lOffset, const Bytes &b)
{
    int iFd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    if (iFd < 0)
        return false;
    bool bOk = pwrite(iFd, b.data(), b.size(), lOffset) == (ssize_t)b.size();
    close(iFd);
    return bOk;
}

/* Creates the file when missing and sets its size (gaps stay sparse). */
inline bool SetFileSize(const std::string &path, off_t lSize)
{
    int iFd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    if (iFd < 0)
        return false;
    bool bOk = ftruncate(iFd, lSize) == 0;
    close(iFd);
    return bOk;
}

/* A temporary directory, removed with its files at destruction. */
struct TempDir {
    std::string path;
    TempDir()
    {
        char szTemplate[] = "/tmp/zolt-cpu-XXXXXX";
        const char *p = mkdtemp(szTemplate);
        path = p != nullptr ? p : "/tmp";
    }
    ~TempDir()
    {
        std::string cmd = "rm -rf '" + path + "'";
        if (path != "/tmp")
            (void)!system(cmd.c_str());
    }
    std::string File(const char *szName) const { return path + "/" + szName; }
};

#endif /* TESTS_ZOLTCPU_SMBIOS_IMAGE_H */
