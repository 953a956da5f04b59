/* Tests of CPU enumeration over fixture processor tables: hyper-threading
 * folding, fields carried between sections, flags with blanks, the SMBIOS
 * cap and its switch, the fallback processor and device lookups. */
#include "zoltcpu/cpu-test-events.h"

#include "smbios-image.h"
#include "test-mmx.h"

namespace {

class CpuScan : public CpuTestFixture {
protected:
    void SetUp() override
    {
        CpuTestFixture::SetUp();
        m_sDevMem = m_dir.File("mem");
        g_szDevMemPath = m_sDevMem.c_str();
        g_szSmbiosEntryPointPath = "/nonexistent";
    }
    void Scan(const char *szFixture)
    {
        UseCpuInfo(szFixture);
        ASSERT_EQ(ScanDeviceTree(0), 0);
    }
    /* Names of the records in chain order, with their logical CPUs. */
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
               std::to_string(p->iPhysicalId) + "|" + Dapi2_GetDeviceDescription(p->pDevice) +
               "|" + Dapi2_GetTestsSupported(p->pDevice);
    }
    TempDir m_dir;
    std::string m_sDevMem;
};

TEST_F(CpuScan, HyperThreadingSiblingsFold)
{
    Scan("cpuinfo-ht-two-sockets.txt");   /* ids 0, 0, 3, all with " ht " */
    EXPECT_EQ(Chain(), "CPU:0[0,1] CPU:1[2]");
    /* CPU:1's description is that of processor line 1, the folded sibling's. */
    EXPECT_STREQ(Dapi2_GetDeviceDescription(g_pRootDevice->pNext->pDevice),
                 "GenuineIntel, Test CPU model 1, 2400.000 MHz, 512 KB cache");
    Scan("cpuinfo-no-ht.txt");            /* one physical id, no " ht " */
    EXPECT_EQ(Chain(), "CPU:0[0] CPU:1[1]");
}

TEST_F(CpuScan, FieldsCarryOverBetweenSections)
{
    Scan("cpuinfo-odd-vendor.txt");
    ASSERT_EQ(GetDeviceCount(), 3);
    /* 997.317 MHz is 997; "vendor_id\t:" ends at its colon and keeps the
     * earlier vendor, "vendor_id\t: " ends after the blank and empties it;
     * " mmx " was seen in the first section only. */
    EXPECT_EQ(Fields(g_pRootDevice), "AuthenticAMD|5|8|Odd One|12|256 KB|997|mmx 1|id -1|"
                                     "AuthenticAMD, Odd One, 997.317 MHz, 256 KB cache|*");
    EXPECT_EQ(Fields(g_pRootDevice->pNext), "AuthenticAMD|5|8|Odd One|13|128 KB|997|mmx 1|id -1|"
                                            ", 128 KB cache|*");
    EXPECT_EQ(Fields(g_pRootDevice->pNext->pNext), "|5|9|Odd One|13|128 KB|997|mmx 1|id -1|CPU|*");
}

TEST_F(CpuScan, MmxNeedsBlanksOnBothSides)
{
    Scan("cpuinfo-no-mmx.txt");   /* flags end in "mmx" without a blank */
    ASSERT_EQ(GetDeviceCount(), 1);
    EXPECT_EQ(g_pRootDevice->bMMX, 0);
    EXPECT_STREQ(Dapi2_GetTestsSupported(g_pRootDevice->pDevice), "1,2,4");
}

TEST_F(CpuScan, SmbiosCapOnlyWhenSwitchedOn)
{
    const struct { const char *szSwitch; int iSockets; bool bCapped; } cases[] = {
        {nullptr, 2, false}, {"false", 2, false}, {"true ", 2, false}, {"true", 2, true},
        {"TRUE", 2, true}, {"true", 0, false},   /* a table without central processors: no cap */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szSwitch ? c.szSwitch : "(none)");
        g_strings.clear();
        if (c.szSwitch != nullptr)
            g_strings["szSMBIOSCheckEnable"] = c.szSwitch;
        Bytes table;
        for (int i = 0; i < c.iSockets; i++)
            AddProcessor(table, 3, 42, "CPU");
        ASSERT_TRUE(WriteAt(m_sDevMem, 0xFFFFF, Bytes{0}));
        ASSERT_TRUE(WriteAt(m_sDevMem, SMBIOS_SEARCH_START, EntryPointDmi((uint16_t)table.size(), 0x9F000)));
        ASSERT_TRUE(WriteAt(m_sDevMem, 0x9F000, table));
        Scan("cpuinfo-four.txt");
        EXPECT_EQ(Chain(), c.bCapped ? "CPU:0[0] CPU:1[1]" : "CPU:0[0] CPU:1[1] CPU:2[2] CPU:3[3]");
    }
}

TEST_F(CpuScan, FallbackProcessorWithoutProcessorLines)
{
    for (const char *szFixture : {"no-such-cpuinfo.txt", "meminfo-small.txt"}) {
        SCOPED_TRACE(szFixture);
        Scan(szFixture);
        EXPECT_EQ(Chain(), "CPU:0[]");
        EXPECT_EQ(Fields(g_pRootDevice), std::string("||||||800|mmx ") + std::to_string(MMXExists()) +
                                             "|id -1|CPU|" + (MMXExists() ? "*" : "1,2,4"));
    }
}

TEST_F(CpuScan, LookupByLocatorAndType)
{
    Scan("cpuinfo-ht-two-sockets.txt");
    const struct { const char *szType, *szLocator; int iIndex; } cases[] = {
        {"CPU", "CPU:1", 1}, {"CPU", "CPU:0", 0}, {"CPU64", "CPU:1", -1},
        {"cpu", "CPU:1", -1},   /* types compare case-sensitively */
        {"CPU", "CPU:2", -1},   /* the folded third thread */
    };
    for (const auto &c : cases) {
        Dapi2Device *pDevice = Device(c.szLocator, c.szType);
        const CpuDevice *p = FindDevice(pDevice);
        EXPECT_EQ(p == nullptr ? -1 : p->iIndex, c.iIndex) << c.szType << " " << c.szLocator;
        EXPECT_EQ(VerifyEnumeration(pDevice), c.iIndex >= 0 ? 1 : 0);
    }
}

}  // namespace
