/* Tests of CPU enumeration over fixture processor tables, of the SMBIOS socket
 * count over images built in temporary files, and of the system information. */
#include "zoltcpu/cpu-test-events.h"

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

#include "test-mmx.h"
#include "zoltcpu.h"

namespace {

typedef std::vector<uint8_t> Bytes;

/* Appends a structure: header (handle 0x100), abArea sized to uFormatted bytes
 * in all, the strings, the terminating NUL (double without strings). */
inline void AddStructure(Bytes &t, uint8_t uType, unsigned uFormatted, Bytes abArea,
                         const std::vector<std::string> &strings)
{
    abArea.resize(uFormatted - 4, 0);
    t.insert(t.end(), { uType, (uint8_t)uFormatted, 0x00, 0x01 });
    t.insert(t.end(), abArea.begin(), abArea.end());
    for (const std::string &s : strings)
        t.insert(t.end(), s.c_str(), s.c_str() + s.size() + 1);
    t.insert(t.end(), strings.empty() ? 2 : 1, 0);
}

/* A processor structure (type 4) of processor type uCpuType, length 26 or 42
 * (with serial, asset tag and part number), every string present. */
inline void AddProcessor(Bytes &table, uint8_t uCpuType, unsigned uFormatted, const char *szSocket)
{
    Bytes area(38, 0); /* from offset 4: socket, type, manufacturer, version */
    area[0] = 1, area[1] = uCpuType, area[3] = 2, area[12] = 3;
    std::vector<std::string> strings = { szSocket, "Maker", "Model 9000" };
    if (uFormatted > 32) { /* serial, asset tag, part number */
        area[28] = 4, area[29] = 5, area[30] = 6;
        strings.insert(strings.end(), { "SER1", "ASSET", "PART-77" });
    }
    AddStructure(table, 4, uFormatted, area, strings);
}

/* BIOS, two central processors, a DSP, a device without strings, end: 2. */
inline Bytes SampleTable()
{
    Bytes t;
    AddStructure(t, 0, 24, Bytes{ 1, 2, 0, 0xE0 }, { "Vendor Inc.", "1.02" });
    AddProcessor(t, 3, 26, "CPU0");
    AddProcessor(t, 3, 42, "CPU1");
    AddProcessor(t, 2, 42, "DSP");
    AddStructure(t, 17, 21, Bytes{}, {});
    AddStructure(t, 127, 4, Bytes{}, {});
    return t;
}

/* An entry point of n bytes starting with sHead, with the table length
 * (uLenBytes wide) at uLenAt and the table address (uAddrBytes) at uAddrAt. */
inline Bytes EntryPoint(const std::string &sHead, size_t n, unsigned uLenAt, unsigned uLenBytes,
                        uint64_t uLen, unsigned uAddrAt, unsigned uAddrBytes, uint64_t uAddr)
{
    Bytes e(n, 0);
    std::copy(sHead.begin(), sHead.end(), e.begin());
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
    return EntryPoint(std::string("_SM_\0\x1F\x02\x04\0\0\0\0\0\0\0\0_DMI_", 21), 31, 22, 2, uLen,
                      24, 4, uAddr);
}
inline Bytes EntryPointDmi(uint16_t uLen, uint32_t uAddr)
{
    return EntryPoint("_DMI_", 15, 6, 2, uLen, 8, 4, uAddr);
}
inline Bytes EntryPoint30(uint32_t uMax, uint64_t uAddr)
{
    return EntryPoint("_SM3_", 24, 12, 4, uMax, 16, 8, uAddr);
}

/* Writes b at lOffset of a file (created when missing; gaps stay sparse). */
inline bool WriteAt(const std::string &sPath, off_t lOffset, const Bytes &b)
{
    int iFd = open(sPath.c_str(), O_WRONLY | O_CREAT, 0600);
    bool bOk = iFd >= 0 && pwrite(iFd, b.data(), b.size(), lOffset) == (ssize_t)b.size();
    return (iFd < 0 || close(iFd) == 0) && bOk;
}

class CpuScan : public CpuTestFixture {
protected:
    void SetUp() override
    {
        CpuTestFixture::SetUp();
        g_szDevMemPath = m_sDevMem.c_str();
        g_szSmbiosEntryPointPath = m_sEntry.c_str();
        g_szSmbiosTablePath = m_sTable.c_str();
    }
    void Scan(const char *szFixture)
    {
        UseCpuInfo(szFixture);
        ASSERT_EQ(ScanDeviceTree(0), 0);
    }
    /* The records in chain order with their logical CPUs. */
    static std::string Chain()
    {
        std::string s;
        for (const CpuDevice *p = g_pRootDevice; p != nullptr; p = p->pNext) {
            s += std::string(s.empty() ? "" : " ") + p->szName + "[";
            for (unsigned i = 0; i < p->uLogicalCPUCount; i++)
                s += (i ? "," : "") + std::to_string(p->puLogicalCPUs[i]);
            s += "]";
        }
        return s;
    }
    /* The fields of a record, its description and the tests offered. */
    static std::string Fields(const CpuDevice *p)
    {
        return std::string(p->szVendor) + "|" + p->szFamily + "|" + p->szModel + "|" +
               p->szModelName + "|" + p->szStepping + "|" + p->szCacheSize + "|" +
               std::to_string(p->iClock) + "|mmx " + std::to_string(p->bMMX) + "|id " +
               std::to_string(p->iPhysicalId) + "|" + Dapi2_GetDeviceDescription(p->pDevice) + "|" +
               Dapi2_GetTestsSupported(p->pDevice);
    }
    /* 1 MB of memory, the entry point at paragraph uParagraph, the table at uTableAt. */
    void MemoryImage(Bytes entry, unsigned uParagraph, uint32_t uTableAt, const Bytes &table)
    {
        entry.resize((entry.size() + 15) / 16 * 16, 0);
        ASSERT_TRUE(WriteAt(m_sDevMem, 0xFFFFF, Bytes{ 0 }));
        ASSERT_TRUE(WriteAt(m_sDevMem, SMBIOS_SEARCH_START + 16 * uParagraph, entry));
        ASSERT_TRUE(WriteAt(m_sDevMem, uTableAt, table));
    }
    void KernelCopy(const Bytes &entry, const Bytes &table)
    {
        unlink(m_sTable.c_str());
        ASSERT_TRUE(WriteAt(m_sEntry, 0, entry));
        ASSERT_TRUE(WriteAt(m_sTable, 0, table));
    }
    /* The callback's items for locator szLocator: "key=value (desc)|...". */
    std::string Items(const char *szLocator, int iExpectRc = 0)
    {
        Dapi2Device *pDevice = Device(szLocator);
        EXPECT_EQ(OurSysInfoFunction(pDevice, "Parameters Can Go Here Eventually"), iExpectRc);
        std::string s;
        for (const Dapi2SysInfo *p = Dapi2_GetDeviceSysInfo(pDevice); p;
             p = Dapi2_GetNextSysInfo(p))
            s += std::string(s.empty() ? "" : "|") + Dapi2_GetSysInfoKey(p) + "=" +
                 Dapi2_GetSysInfoValue(p) + " (" + Dapi2_GetSysInfoDescription(p) + ")";
        return s;
    }
    TempDir m_dir;
    std::string m_sDevMem = m_dir.sPath + "/mem", m_sEntry = m_dir.sPath + "/smbios_entry_point",
                m_sTable = m_dir.sPath + "/DMI";
};

/* The records in chain order with their logical CPUs, and the fields of one:
 * threads with " ht " fold into their package (the description is the folded
 * sibling's); "vendor_id\t:" ends at its colon and keeps the earlier vendor,
 * "vendor_id\t: " ends after the blank and empties it; 997.317 MHz is 997;
 * " mmx " needs blanks on both sides and is kept from an earlier section; no
 * processor lines: one fallback record. */
TEST_F(CpuScan, RecordsAndTheirFields)
{
    const std::string sMmx = std::to_string(MMXExists());
    const struct {
        const char *szFixture, *szChain;
        int iRecord;
        std::string sFields;
    } cases[] = {
        { "cpuinfo-ht-two-sockets.txt", "CPU:0[0,1] CPU:1[2]", 1,
          "GenuineIntel|6|15|Test CPU model 2|7|512 KB|2400|mmx 1|id 3|"
          "GenuineIntel, Test CPU model 1, 2400.000 MHz, 512 KB cache|*" },
        { "cpuinfo-no-ht.txt", "CPU:0[0] CPU:1[1]", -1, "" },
        { "cpuinfo-odd-vendor.txt", "CPU:0[0] CPU:1[1] CPU:2[2]", 0,
          "AuthenticAMD|5|8|Odd One|12|256 KB|997|mmx 1|id -1|"
          "AuthenticAMD, Odd One, 997.317 MHz, 256 KB cache|*" },
        { "cpuinfo-odd-vendor.txt", "CPU:0[0] CPU:1[1] CPU:2[2]", 1,
          "AuthenticAMD|5|8|Odd One|13|128 KB|997|mmx 1|id -1|, 128 KB cache|*" },
        { "cpuinfo-odd-vendor.txt", "CPU:0[0] CPU:1[1] CPU:2[2]", 2,
          "|5|9|Odd One|13|128 KB|997|mmx 1|id -1|CPU|*" },
        { "cpuinfo-no-mmx.txt", "CPU:0[0]", 0,
          "GenuineIntel|6|15|Test CPU model 0|3|512 KB|166|mmx 0|id 0|"
          "GenuineIntel, Test CPU model 0, 166.000 MHz, 512 KB cache|1,2,4" },
        { "no-such-cpuinfo.txt", "CPU:0[]", 0,
          "||||||800|mmx " + sMmx + "|id -1|CPU|" + (MMXExists() ? "*" : "1,2,4") },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szFixture);
        Scan(c.szFixture);
        EXPECT_EQ(Chain(), c.szChain);
        const CpuDevice *p = g_pRootDevice;
        for (int i = 0; p != nullptr && i < c.iRecord; i++)
            p = p->pNext;
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(c.iRecord < 0 ? "" : Fields(p), c.sFields);
    }
}

TEST_F(CpuScan, SmbiosCapOnlyWhenSwitchedOn)
{
    const struct {
        const char *szSwitch;
        int iSockets;
        bool bCapped;
    } cases[] = { { nullptr, 2, false }, { "false", 2, false }, { "true ", 2, false },
                  { "true", 2, true },   { "TRUE", 2, true },   { "true", 0, false } };
    /* the last: a table without central processors, no cap */
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szSwitch ? c.szSwitch : "(none)");
        g_strings.clear();
        if (c.szSwitch != nullptr)
            g_strings["szSMBIOSCheckEnable"] = c.szSwitch;
        Bytes table;
        for (int i = 0; i < c.iSockets; i++)
            AddProcessor(table, 3, 42, "CPU");
        MemoryImage(EntryPointDmi((uint16_t)table.size(), 0x9F000), 0, 0x9F000, table);
        Scan("cpuinfo-four.txt");
        EXPECT_EQ(Chain(), c.bCapped ? "CPU:0[0] CPU:1[1]" : "CPU:0[0] CPU:1[1] CPU:2[2] CPU:3[3]");
    }
}


/* Types compare case-sensitively; a folded thread is no device. */
TEST_F(CpuScan, LookupByLocatorAndType)
{
    Scan("cpuinfo-ht-two-sockets.txt");
    ASSERT_NE(FindDevice(Device("CPU:1")), nullptr);
    EXPECT_EQ(FindDevice(Device("CPU:1"))->iIndex, 1);
    EXPECT_EQ(FindDevice(Device("CPU:1", "cpu")), nullptr);
    EXPECT_EQ(VerifyEnumeration(Device("CPU:2")), 0);
}

TEST_F(CpuScan, SmbiosMemoryImage)
{
    const Bytes table = SampleTable();
    const uint16_t uLen = (uint16_t)table.size();
    int iCount = -1;
    EXPECT_EQ(SmbiosCountFromDevMem(&iCount), SMBIOS_ERR_OPEN); /* no device */
    ASSERT_TRUE(WriteAt(m_sDevMem, 0xFFFFF, Bytes{ 0 }));       /* zeros only */
    EXPECT_EQ(SmbiosCountFromDevMem(&iCount), SMBIOS_ERR_ANCHOR);
    const struct {
        Bytes entry;
        unsigned uParagraph;
        uint32_t uTableAt;
        int iRc, iCount;
    } cases[] = {
        { EntryPoint21(uLen, 0x9F000), 0xFFF, 0x9F000, SMBIOS_OK, 2 }, /* last paragraph */
        /* a bare "_DMI_" earlier in the area wins; table above 1 MB */
        { EntryPointDmi(uLen, 0x180000), 0x10, 0x180000, SMBIOS_OK, 2 },
        { EntryPointDmi(0, 0x9F000), 3, 0x9F000, SMBIOS_ERR_EMPTY, 0 },
        /* the table lies beyond the image: the first header cannot be read */
        { EntryPointDmi(uLen, 0x7FFFFFF0u), 3, 0x9F000, SMBIOS_ERR_TABREAD, 0 },
    };
    for (const auto &c : cases) {
        MemoryImage(c.entry, c.uParagraph, c.uTableAt, table);
        EXPECT_EQ(SmbiosCountFromDevMem(&iCount), c.iRc) << c.uParagraph;
        EXPECT_EQ(iCount, c.iCount) << c.uParagraph;
    }
    unlink(m_sDevMem.c_str());
    ASSERT_TRUE(WriteAt(m_sDevMem, 0xF7FFF, Bytes{ 0 })); /* ends before any anchor */
    EXPECT_EXIT(SmbiosCountFromDevMem(&iCount), ::testing::ExitedWithCode(1), "Unable to read");
}

/* Entry points; a processor counts once its strings are read; the length bounds the walk. */
TEST_F(CpuScan, SmbiosKernelCopy)
{
    const Bytes table = SampleTable();
    Bytes bad = EntryPoint30(0x100, 0), one, two;
    bad[3] = 'X';
    AddProcessor(one, 3, 42, "CPU0");
    two = one;
    AddProcessor(two, 3, 42, "CPU1");
    const struct {
        const char *szCase;
        Bytes entry, table;
        int iRc, iCount;
    } cases[] = {
        { "_SM_", EntryPoint21((uint16_t)table.size(), 0xDEAD0000u), table, SMBIOS_OK, 2 },
        { "_SM3_", EntryPoint30((uint32_t)table.size(), 0x12345678000ull), table, SMBIOS_OK, 2 },
        { "_SM3_ with a generous maximum", EntryPoint30(0x10000, 0), table, SMBIOS_OK, 2 },
        { "_DMI_", EntryPointDmi((uint16_t)table.size(), 0), table, SMBIOS_OK, 2 },
        { "_SMX_", bad, table, SMBIOS_ERR_ANCHOR, 0 },
        { "_SM_ of length 0", EntryPoint21(0, 0), table, SMBIOS_ERR_EMPTY, 0 },
        { "second cut in its strings", EntryPoint30((uint32_t)two.size(), 0),
          Bytes(two.begin(), two.end() - 3), 0, 1 },
        { "second cut in its formatted area", EntryPoint30((uint32_t)two.size(), 0),
          Bytes(two.begin(), two.begin() + one.size() + 10), 0, 1 },
        { "length ends after the first", EntryPoint30((uint32_t)one.size(), 0), two, 0, 1 },
        { "first cut before its terminator", EntryPoint30((uint32_t)two.size(), 0),
          Bytes(one.begin(), one.end() - 1), 0, 0 },
    };
    for (const auto &c : cases) {
        KernelCopy(c.entry, c.table);
        int iCount = -1;
        EXPECT_EQ(SmbiosCountFromSysfs(&iCount), c.iRc) << c.szCase;
        EXPECT_EQ(iCount, c.iCount) << c.szCase;
    }
}

TEST_F(CpuScan, SmbiosMemoryFirstThenKernelCopy)
{
    Bytes three = SampleTable();
    AddProcessor(three, 3, 26, "CPU2"); /* after the end mark: still walked */
    const Bytes sample = SampleTable();
    KernelCopy(EntryPoint30((uint32_t)three.size(), 0), three);
    EXPECT_EQ(SmbiosProcessorCount(), 3); /* no memory device: kernel copy */
    MemoryImage(EntryPointDmi((uint16_t)sample.size(), 0x9F000), 0, 0x9F000, sample);
    EXPECT_EQ(SmbiosProcessorCount(), 2); /* the memory device walked */
    MemoryImage(EntryPointDmi((uint16_t)sample.size(), 0x7FFFFFF0u), 0, 0x9F000, sample);
    EXPECT_EQ(SmbiosProcessorCount(), 3); /* it refused the table read */
    unlink(m_sEntry.c_str());
    EXPECT_EQ(SmbiosProcessorCount(), 0); /* neither: no cap */
}

TEST_F(CpuScan, SysInfoItemsInOrderWhereSwitchedOnExactlyOnProcessorsOnly)
{
    for (const char *szItem :
         { "VendorId", "Family", "Model", "ModelName", "Stepping", "CacheSize", "Speed" }) {
        const std::string sId = std::string("szSysInfo") + szItem;
        g_strings[sId] = "on";
        g_strings[sId + "Key"] = std::string("key-") + szItem;
        g_strings[sId + "Desc"] = std::string("desc-") + szItem;
    }
    UseCpuInfo("cpuinfo-single.txt");
    EXPECT_EQ(Items("CPU:0"),
              "key-VendorId=GenuineIntel (desc-VendorId)|key-Family=6 (desc-Family)|"
              "key-Model=15 (desc-Model)|key-ModelName=Test CPU model 0 (desc-ModelName)|"
              "key-Stepping=7 (desc-Stepping)|key-CacheSize=512 KB (desc-CacheSize)|"
              "key-Speed=2400 (desc-Speed)");
    g_strings["szSysInfoVendorId"] = "On";
    g_strings["szSysInfoFamily"] = "ON";
    g_strings.erase("szSysInfoModel");
    g_strings["szSysInfoModelName"] = "on ";
    g_strings["szSysInfoStepping"] = "<NLS id=szSysInfoStepping/>"; /* unknown to the engine */
    EXPECT_EQ(Items("CPU:0"), "key-CacheSize=512 KB (desc-CacheSize)|key-Speed=2400 (desc-Speed)");
    testing::internal::CaptureStdout(); /* no such processor */
    EXPECT_EQ(Items("CPU:1", 9), "");
    EXPECT_EQ(OurSysInfoFunction(nullptr, ""), 9);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Returning no device\nReturning no device\n");
}

}  // namespace
