/* Tests of CPU enumeration over fixture processor tables: hyper-threading
 * folding, fields carried between sections, the vendor two-character rule,
 * flags with blanks, the SMBIOS cap and its switch, the fallback processor,
 * the tests offered without MMX, and device lookups. */
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "cpu-enum.h"
#include "dapi2.h"
#include "smbios-image.h"
#include "smbios.h"
#include "test-mmx.h"
#include "zolt-mod-support.h"

namespace {

std::map<std::string, std::string> s_strings;   /* the stand-in language strings */

char *FakeNls(const char *szId, char *szOut, int iOutSize)
{
    auto it = s_strings.find(szId);
    snprintf(szOut, (size_t)iOutSize, "%s", it == s_strings.end() ? "" : it->second.c_str());
    return it == s_strings.end() ? nullptr : szOut;
}

class CpuScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_pfnCpuNlsGetString = FakeNls;
        m_sDevMem = m_dir.File("mem");
        g_szDevMemPath = m_sDevMem.c_str();
        g_szSmbiosEntryPointPath = "/nonexistent";
    }
    void TearDown() override
    {
        KillDevices(g_pRootDevice);
        g_pRootDevice = nullptr;
        Dapi2_KillDeviceList();
        s_strings.clear();
        g_pfnCpuNlsGetString = Dapi2_NlsGetStringWithId;
        g_szCpuInfoPath = "/proc/cpuinfo";
        g_szDevMemPath = "/dev/mem";
        g_szSmbiosEntryPointPath = "/sys/firmware/dmi/tables/smbios_entry_point";
    }
    void Scan(const char *szFixture, int bReport = 0)
    {
        m_sCpuInfo = std::string(ZOLT_FIXTURES) + "/cpu/" + szFixture;
        g_szCpuInfoPath = m_sCpuInfo.c_str();
        ASSERT_EQ(ScanDeviceTree(bReport), 0);
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
    /* A memory image whose SMBIOS table declares iSockets central processors. */
    void SmbiosSockets(int iSockets)
    {
        Bytes table;
        for (int i = 0; i < iSockets; i++)
            AddProcessor(table, 3, 42, "CPU");
        ASSERT_TRUE(WriteAt(m_sDevMem, 0xFFFFF, Bytes{0}));
        ASSERT_TRUE(WriteAt(m_sDevMem, SMBIOS_SEARCH_START, EntryPointDmi((uint16_t)table.size(), 0x9F000)));
        ASSERT_TRUE(WriteAt(m_sDevMem, 0x9F000, table));
    }
    TempDir m_dir;
    std::string m_sCpuInfo, m_sDevMem;
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
    Scan("cpuinfo-ht-siblings.txt");      /* this machine: 2 threads, 1 socket */
    EXPECT_EQ(Chain(), "CPU:0[0,1]");
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
    EXPECT_EQ(g_pRootDevice->iClock, 166);
    EXPECT_STREQ(Dapi2_GetTestsSupported(g_pRootDevice->pDevice), "1,2,4");
    Scan("cpuinfo-single.txt");
    EXPECT_STREQ(Dapi2_GetTestsSupported(g_pRootDevice->pDevice), "*");
}

TEST_F(CpuScan, SmbiosCapOnlyWhenSwitchedOn)
{
    const struct { const char *szSwitch; int iSockets, iDevices; } cases[] = {
        {nullptr, 2, 4}, {"false", 2, 4}, {"true ", 2, 4}, {"true", 2, 2}, {"TRUE", 2, 2},
        {"true", 0, 4},   /* a table without central processors: no cap */
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szSwitch ? c.szSwitch : "(none)");
        s_strings.clear();
        if (c.szSwitch != nullptr)
            s_strings["szSMBIOSCheckEnable"] = c.szSwitch;
        SmbiosSockets(c.iSockets);
        Scan("cpuinfo-four.txt");
        EXPECT_EQ(Chain(), c.iDevices == 2 ? "CPU:0[0] CPU:1[1]" : "CPU:0[0] CPU:1[1] CPU:2[2] CPU:3[3]");
    }
}

TEST_F(CpuScan, FallbackProcessorWithoutProcessorLines)
{
    for (const char *szFixture : {"no-such-cpuinfo.txt", "meminfo-small.txt"}) {
        SCOPED_TRACE(szFixture);
        Scan(szFixture);
        EXPECT_EQ(Chain(), "CPU:0[]");
        EXPECT_EQ(Fields(g_pRootDevice), std::string("||||||800|mmx ") +
                                             std::to_string(MMXExists()) + "|id -1|CPU|" +
                                             (MMXExists() ? "*" : "1,2,4"));
        EXPECT_STREQ(Dapi2_GetDeviceHwLocator(g_pRootDevice->pDevice), "CPU:0");
    }
}

TEST_F(CpuScan, LookupByLocatorAndType)
{
    Scan("cpuinfo-ht-two-sockets.txt");
    const struct { const char *szType, *szLocator; int iIndex; } cases[] = {
        {"CPU", "CPU:1", 1}, {"CPU", "CPU:0", 0},
        {"CPU64", "CPU:1", -1}, {"cpu", "CPU:1", -1},   /* types compare case-sensitively */
        {"CPU", "CPU:2", -1},                           /* the folded third thread */
    };
    for (const auto &c : cases) {
        Dapi2Device *pDevice = nullptr;
        ASSERT_EQ(Dapi2_CreateDeviceGenericEx(c.szType, 7, "x", "d", "o", c.szLocator,
                                              "SYSTEM_BUS", &pDevice), 0);
        const CpuDevice *p = FindDevice(pDevice);
        EXPECT_EQ(p == nullptr ? -1 : p->iIndex, c.iIndex) << c.szType << " " << c.szLocator;
        EXPECT_EQ(VerifyEnumeration(pDevice), c.iIndex >= 0 ? 1 : 0);
    }
    EXPECT_EQ(FindDevice(nullptr), nullptr);
}

}  // namespace
