/* Tests of CPU enumeration over fixture processor tables: hyper-threading
 * folding, fields carried between sections, the vendor two-character rule,
 * flags with blanks, the SMBIOS cap and its switch, the fallback processor,
 * the tests offered without MMX, and device lookups. Language strings come
 * from a stand-in lookup; framework devices are real. */
#include <gtest/gtest.h>

#include <string.h>

#include <map>
#include <string>

#include "cpu-enum.h"
#include "dapi2.h"
#include "smbios-image.h"
#include "smbios.h"
#include "test-mmx.h"
#include "zolt-mod-support.h"
#include "zoltcpu.h"

namespace {

const std::string kFixtures = std::string(ZOLT_FIXTURES) + "/cpu/";
std::map<std::string, std::string> g_strings;   /* the stand-in language strings */

char *FakeNls(const char *szId, char *szOut, int iOutSize)
{
    szOut[0] = '\0';
    auto it = g_strings.find(szId);
    if (it == g_strings.end())
        return nullptr;
    snprintf(szOut, (size_t)iOutSize, "%s", it->second.c_str());
    return szOut;
}

class CpuScan : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_strings.clear();
        g_pfnCpuNlsGetString = FakeNls;
        m_devMem = m_dir.File("mem");
        m_entry = m_dir.File("entry");
        m_table = m_dir.File("table");
        g_szDevMemPath = m_devMem.c_str();
        g_szSmbiosEntryPointPath = m_entry.c_str();
        g_szSmbiosTablePath = m_table.c_str();
    }
    void TearDown() override
    {
        KillDevices(g_pRootDevice);
        g_pRootDevice = nullptr;
        Dapi2_KillDeviceList();
        g_pfnCpuNlsGetString = Dapi2_NlsGetStringWithId;
        g_szCpuInfoPath = "/proc/cpuinfo";
        g_szDevMemPath = "/dev/mem";
        g_szSmbiosEntryPointPath = "/sys/firmware/dmi/tables/smbios_entry_point";
        g_szSmbiosTablePath = "/sys/firmware/dmi/tables/DMI";
    }
    void Scan(const char *szFixture, int bReport = 0)
    {
        m_cpuinfo = kFixtures + szFixture;
        g_szCpuInfoPath = m_cpuinfo.c_str();
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
    /* A memory-device image whose SMBIOS table declares uSockets central processors. */
    void SmbiosSockets(int iSockets)
    {
        Bytes table;
        for (int i = 0; i < iSockets; i++)
            AddProcessor(table, 3, 42, "CPU");
        ASSERT_TRUE(SetFileSize(m_devMem, 0x100000));
        Bytes entry = EntryPointDmi((uint16_t)table.size(), 0x9F000);
        entry.resize(16);
        ASSERT_TRUE(WriteAt(m_devMem, SMBIOS_SEARCH_START, entry));
        ASSERT_TRUE(WriteAt(m_devMem, 0x9F000, table));
    }
    TempDir m_dir;
    std::string m_cpuinfo, m_devMem, m_entry, m_table;
};

TEST_F(CpuScan, HyperThreadingSiblingsFold)
{
    Scan("cpuinfo-ht-two-sockets.txt");
    EXPECT_EQ(Chain(), "CPU:0[0,1] CPU:1[2]");
    ASSERT_EQ(GetDeviceCount(), 2);
    const CpuDevice *p1 = g_pRootDevice->pNext;
    EXPECT_EQ(p1->iIndex, 1);
    EXPECT_EQ(p1->iPhysicalId, 3);
    EXPECT_EQ(p1->bHyperThreading, 1);
    EXPECT_STREQ(Dapi2_GetDeviceHwLocator(p1->pDevice), "CPU:1");
    EXPECT_EQ(Dapi2_GetDeviceId(p1->pDevice), 1);
    /* The description is that of processor line 1: the folded sibling's. */
    EXPECT_STREQ(Dapi2_GetDeviceDescription(p1->pDevice),
                 "GenuineIntel, Test CPU model 1, 2400.000 MHz, 512 KB cache");

    Scan("cpuinfo-no-ht.txt");                   /* same physical id, no " ht " */
    EXPECT_EQ(Chain(), "CPU:0[0] CPU:1[1]");

    Scan("cpuinfo-ht-siblings.txt");             /* this machine: 2 threads, 1 socket */
    EXPECT_EQ(Chain(), "CPU:0[0,1]");
}

TEST_F(CpuScan, ReportFlagAddsToEnumerationList)
{
    Scan("cpuinfo-ht-two-sockets.txt", 0);
    EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceEnumList), 0);
    Dapi2_KillDeviceList();
    ASSERT_EQ(OurEnumFunction(), 0);
    ASSERT_EQ(CGenListGetCount(&g_Dapi2DeviceEnumList), 2);
    CGenListIter it;
    CGenListIterInit(&it, &g_Dapi2DeviceEnumList);
    const Dapi2Device *pFirst = (const Dapi2Device *)CGenListIterGetData(&it);
    EXPECT_STREQ(Dapi2_GetDeviceName(pFirst), "CPU:0");
    EXPECT_STREQ(Dapi2_GetDeviceOsLocator(pFirst), "CPU:0");
    EXPECT_STREQ(Dapi2_GetDeviceDevType(pFirst), "CPU");
    EXPECT_STREQ(Dapi2_GetDeviceBusType(pFirst), "SYSTEM_BUS");
}

TEST_F(CpuScan, FieldsCarryOverBetweenSections)
{
    Scan("cpuinfo-odd-vendor.txt");
    ASSERT_EQ(GetDeviceCount(), 3);
    const struct { const char *szVendor, *szModel, *szStepping, *szCache, *szDesc; } expect[] = {
        { "AuthenticAMD", "8", "12", "256 KB", "AuthenticAMD, Odd One, 997.317 MHz, 256 KB cache" },
        /* "vendor_id\t:" ends at its colon: the earlier vendor stays. */
        { "AuthenticAMD", "8", "13", "128 KB", ", 128 KB cache" },
        /* "vendor_id\t: " ends after colon and blank: an empty vendor. */
        { "", "9", "13", "128 KB", "CPU" },
    };
    const CpuDevice *p = g_pRootDevice;
    for (const auto &e : expect) {
        ASSERT_NE(p, nullptr);
        SCOPED_TRACE(p->szName);
        EXPECT_STREQ(p->szVendor, e.szVendor);
        EXPECT_STREQ(p->szModel, e.szModel);
        EXPECT_STREQ(p->szModelName, "Odd One");
        EXPECT_STREQ(p->szFamily, "5");
        EXPECT_STREQ(p->szStepping, e.szStepping);
        EXPECT_STREQ(p->szCacheSize, e.szCache);
        EXPECT_EQ(p->iClock, 997);               /* 997.317, kept by later sections */
        EXPECT_EQ(p->bMMX, 1);                   /* seen in section 0 only */
        EXPECT_EQ(p->iPhysicalId, -1);
        EXPECT_STREQ(Dapi2_GetDeviceDescription(p->pDevice), e.szDesc);
        EXPECT_STREQ(Dapi2_GetTestsSupported(p->pDevice), "*");
        p = p->pNext;
    }
}

TEST_F(CpuScan, MmxNeedsBlanksOnBothSides)
{
    Scan("cpuinfo-no-mmx.txt");                  /* flags end in "mmx" without a blank */
    ASSERT_EQ(GetDeviceCount(), 1);
    EXPECT_EQ(g_pRootDevice->bMMX, 0);
    EXPECT_EQ(g_pRootDevice->iClock, 166);
    EXPECT_STREQ(Dapi2_GetTestsSupported(g_pRootDevice->pDevice), "1,2,4");

    Scan("cpuinfo-single.txt");
    EXPECT_EQ(g_pRootDevice->bMMX, 1);
    EXPECT_STREQ(Dapi2_GetTestsSupported(g_pRootDevice->pDevice), "*");
}

TEST_F(CpuScan, SmbiosCapOnlyWhenSwitchedOn)
{
    SmbiosSockets(2);
    const struct { const char *szSwitch; const char *szChain; } cases[] = {
        { nullptr, "CPU:0[0] CPU:1[1] CPU:2[2] CPU:3[3]" },   /* string missing */
        { "false", "CPU:0[0] CPU:1[1] CPU:2[2] CPU:3[3]" },
        { "true ", "CPU:0[0] CPU:1[1] CPU:2[2] CPU:3[3]" },
        { "true", "CPU:0[0] CPU:1[1]" },
        { "TRUE", "CPU:0[0] CPU:1[1]" },
    };
    for (const auto &c : cases) {
        g_strings.clear();
        if (c.szSwitch != nullptr)
            g_strings["szSMBIOSCheckEnable"] = c.szSwitch;
        Scan("cpuinfo-four.txt");
        EXPECT_EQ(Chain(), c.szChain) << (c.szSwitch ? c.szSwitch : "(none)");
    }

    /* A table without central processors means no cap at all. */
    g_strings["szSMBIOSCheckEnable"] = "true";
    SmbiosSockets(0);
    Scan("cpuinfo-four.txt");
    EXPECT_EQ(GetDeviceCount(), 4);
}

TEST_F(CpuScan, FallbackProcessor)
{
    for (const char *szFixture : { "no-such-cpuinfo.txt", "meminfo-small.txt" }) {
        SCOPED_TRACE(szFixture);
        Scan(szFixture);
        ASSERT_EQ(GetDeviceCount(), 1);
        const CpuDevice *p = g_pRootDevice;
        EXPECT_STREQ(p->szName, "CPU:0");
        EXPECT_EQ(p->iIndex, 0);
        EXPECT_EQ(p->iClock, 800);
        EXPECT_EQ(p->iPhysicalId, -1);
        EXPECT_EQ(p->bHyperThreading, 0);
        EXPECT_EQ(p->bMMX, (int)MMXExists());
        EXPECT_STREQ(p->szVendor, "");
        EXPECT_EQ(p->uLogicalCPUCount, 0u);
        EXPECT_STREQ(Dapi2_GetDeviceDescription(p->pDevice), "CPU");
        EXPECT_STREQ(Dapi2_GetDeviceHwLocator(p->pDevice), "CPU:0");
    }
}

TEST_F(CpuScan, LookupByLocatorAndType)
{
    Scan("cpuinfo-ht-two-sockets.txt");
    const struct { const char *szType, *szLocator; int iExpectIndex; } cases[] = {
        { "CPU", "CPU:1", 1 },
        { "CPU", "CPU:0", 0 },
        { "CPU64", "CPU:1", -1 },                /* another type */
        { "cpu", "CPU:1", -1 },                  /* types compare case-sensitively */
        { "CPU", "CPU:2", -1 },                  /* the folded third thread has no device */
    };
    for (const auto &c : cases) {
        Dapi2Device *pDevice = nullptr;
        ASSERT_EQ(Dapi2_CreateDeviceGenericEx(c.szType, 7, "x", "d", "o", c.szLocator,
                                              "SYSTEM_BUS", &pDevice), 0);
        const CpuDevice *p = FindDevice(pDevice);
        EXPECT_EQ(p == nullptr ? -1 : p->iIndex, c.iExpectIndex) << c.szType << " " << c.szLocator;
        EXPECT_EQ(VerifyEnumeration(pDevice), c.iExpectIndex >= 0 ? 1 : 0);
    }
    EXPECT_EQ(FindDevice(nullptr), nullptr);
    EXPECT_EQ(IsSameDevice(nullptr, nullptr), 0);
}

}  // namespace
