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
    Bytes area(38, 0);   /* from offset 4: socket, type, manufacturer, version */
    area[0] = 1, area[1] = uCpuType, area[3] = 2, area[12] = 3;
    std::vector<std::string> strings = {szSocket, "Maker", "Model 9000"};
    if (uFormatted > 32) {   /* serial, asset tag, part number */
        area[28] = 4, area[29] = 5, area[30] = 6;
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

/* An entry point of n bytes starting with szHead (8 bytes), with the table
 * length (uLenBytes wide) at uLenAt and the table address (uAddrBytes) at uAddrAt. */
inline Bytes EntryPoint(const char *szHead, size_t n, unsigned uLenAt, unsigned uLenBytes, uint64_t uLen,
                        unsigned uAddrAt, unsigned uAddrBytes, uint64_t uAddr)
{
    Bytes e(n, 0);
    memcpy(&e[0], szHead, 8);
    for (unsigned i = 0; i < 8; i++) {
        if (i < uLenBytes)
            e[uLenAt + i] = (uint8_t)(uLen >> (8 * i));
        if (i < uAddrBytes)
            e[uAddrAt + i] = (uint8_t)(uAddr >> (8 * i));
    }
    return e;
}
/* 31-byte "_SM_" with its "_DMI_" part at 16; 15-byte legacy "_DMI_"; 24-byte
 * 64-bit "_SM3_" with the maximum table size at 12 and the address at 16. */
inline Bytes EntryPoint21(uint16_t uLen, uint32_t uAddr)
{
    Bytes e = EntryPoint("_SM_\0\x1F\x02\x04", 31, 22, 2, uLen, 24, 4, uAddr);
    memcpy(&e[16], "_DMI_", 5);
    return e;
}
inline Bytes EntryPointDmi(uint16_t uLen, uint32_t uAddr) { return EntryPoint("_DMI_\0\0", 15, 6, 2, uLen, 8, 4, uAddr); }
inline Bytes EntryPoint30(uint32_t uMax, uint64_t uAddr) { return EntryPoint("_SM3_\0\x18\x03", 24, 12, 4, uMax, 16, 8, uAddr); }

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
        path = mkdtemp(szTemplate) != nullptr ? szTemplate : "/tmp";
    }
    ~TempDir() { (void)!(path != "/tmp" && system(("rm -rf '" + path + "'").c_str())); }
    std::string File(const char *szName) const { return path + "/" + szName; }
};

#endif /* TESTS_ZOLTCPU_SMBIOS_IMAGE_H */
