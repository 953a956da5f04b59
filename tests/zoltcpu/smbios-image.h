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

/* Appends one structure: header (type, length, handle 0x100), the formatted
 * area from abArea (zero-padded to uFormatted bytes in all), the strings and
 * the terminating NUL (a double NUL when there are none). */
inline void AddStructure(Bytes &table, uint8_t uType, unsigned uFormatted, const Bytes &abArea,
                         const std::vector<std::string> &strings)
{
    table.insert(table.end(), {uType, (uint8_t)uFormatted, 0x00, 0x01});
    for (unsigned i = 4; i < uFormatted; i++)
        table.push_back(i - 4 < abArea.size() ? abArea[i - 4] : 0);
    for (const std::string &s : strings)
        table.insert(table.end(), s.c_str(), s.c_str() + s.size() + 1);
    if (strings.empty())
        table.push_back(0);
    table.push_back(0);
}

/* A processor structure (type 4) of processor type uCpuType, formatted
 * length 26 (oldest layout) or 42 (with serial, asset tag and part number),
 * with every string it refers to present. */
inline void AddProcessor(Bytes &table, uint8_t uCpuType, unsigned uFormatted, const char *szSocket)
{
    Bytes area(38, 0);   /* from offset 4 of the structure */
    area[0] = 1;         /* socket designation: string 1 */
    area[1] = uCpuType;
    area[3] = 2;         /* manufacturer */
    area[12] = 3;        /* version */
    std::vector<std::string> strings = {szSocket, "Maker", "Model 9000"};
    if (uFormatted > 32) {
        area[28] = 4;    /* serial, asset tag, part number */
        area[29] = 5;
        area[30] = 6;
        strings.insert(strings.end(), {"SER1", "ASSET", "PART-77"});
    }
    AddStructure(table, 4, uFormatted, area, strings);
}

/* BIOS information, two central processors (old and new layout), a
 * processor of another type, a memory device without strings, the end
 * mark: counts 2. */
inline Bytes SampleTable()
{
    Bytes t;
    AddStructure(t, 0, 24, Bytes{1, 2, 0, 0xE0}, {"Vendor Inc.", "1.02"});
    AddProcessor(t, 3, 26, "CPU0");
    AddProcessor(t, 3, 42, "CPU1");
    AddProcessor(t, 2, 42, "DSP");
    AddStructure(t, 17, 21, Bytes{}, {});
    AddStructure(t, 127, 4, Bytes{}, {});
    return t;
}

/* Writes uValue little-endian into uBytes bytes at uAt. */
inline void PutLe(Bytes &b, size_t uAt, uint64_t uValue, unsigned uBytes)
{
    for (unsigned i = 0; i < uBytes; i++)
        b[uAt + i] = (uint8_t)(uValue >> (8 * i));
}

/* 31-byte "_SM_" entry point with its "_DMI_" part at offset 16. */
inline Bytes EntryPoint21(uint16_t uTableLength, uint32_t uTableAddress)
{
    Bytes e(31, 0);
    memcpy(&e[0], "_SM_\0\x1F\x02\x04", 8);
    memcpy(&e[16], "_DMI_", 5);
    PutLe(e, 22, uTableLength, 2);
    PutLe(e, 24, uTableAddress, 4);
    return e;
}

/* 15-byte legacy "_DMI_" entry point. */
inline Bytes EntryPointDmi(uint16_t uTableLength, uint32_t uTableAddress)
{
    Bytes e(15, 0);
    memcpy(&e[0], "_DMI_", 5);
    PutLe(e, 6, uTableLength, 2);
    PutLe(e, 8, uTableAddress, 4);
    return e;
}

/* 24-byte 64-bit "_SM3_" entry point: maximum table size at 12, address at 16. */
inline Bytes EntryPoint30(uint32_t uMaxSize, uint64_t uTableAddress)
{
    Bytes e(24, 0);
    memcpy(&e[0], "_SM3_\0\x18\x03", 8);
    PutLe(e, 12, uMaxSize, 4);
    PutLe(e, 16, uTableAddress, 8);
    return e;
}

/* Writes bytes at an offset of a file (created when missing); gaps stay
 * sparse. Returns true on success. */
inline bool WriteAt(const std::string &sPath, off_t lOffset, const Bytes &b)
{
    int iFd = open(sPath.c_str(), O_WRONLY | O_CREAT, 0600);
    if (iFd < 0)
        return false;
    bool bOk = pwrite(iFd, b.data(), b.size(), lOffset) == (ssize_t)b.size();
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
        if (path != "/tmp")
            (void)!system(("rm -rf '" + path + "'").c_str());
    }
    std::string File(const char *szName) const { return path + "/" + szName; }
};

#endif /* TESTS_ZOLTCPU_SMBIOS_IMAGE_H */
