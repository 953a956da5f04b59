/* Tests of the CPU system-information callback: the seven items in their
 * order with key and description from the language strings, the exact "on"
 * switch, the clock as decimal digits, and the answer for a device that is
 * not a processor of this machine. */
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cpu-enum.h"
#include "dapi2.h"
#include "zolt-mod-support.h"
#include "zoltcpu.h"

namespace {

const std::string kFixtures = std::string(ZOLT_FIXTURES) + "/cpu/";
std::map<std::string, std::string> g_strings;

char *FakeNls(const char *szId, char *szOut, int iOutSize)
{
    szOut[0] = '\0';
    auto it = g_strings.find(szId);
    if (it == g_strings.end())
        return nullptr;
    snprintf(szOut, (size_t)iOutSize, "%s", it->second.c_str());
    return szOut;
}

const char *const kItems[] = { "VendorId", "Family", "Model", "ModelName", "Stepping",
                               "CacheSize", "Speed" };

class SysInfo : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_strings.clear();
        for (const char *szItem : kItems) {
            std::string id = std::string("szSysInfo") + szItem;
            g_strings[id] = "on";
            g_strings[id + "Key"] = std::string("key-") + szItem;
            g_strings[id + "Desc"] = std::string("desc-") + szItem;
        }
        g_pfnCpuNlsGetString = FakeNls;
        m_cpuinfo = kFixtures + "cpuinfo-single.txt";
        g_szCpuInfoPath = m_cpuinfo.c_str();
    }
    void TearDown() override
    {
        KillDevices(g_pRootDevice);
        g_pRootDevice = nullptr;
        Dapi2_KillDeviceList();
        g_pfnCpuNlsGetString = Dapi2_NlsGetStringWithId;
        g_szCpuInfoPath = "/proc/cpuinfo";
    }
    Dapi2Device *Device(const char *szLocator)
    {
        Dapi2Device *pDevice = nullptr;
        Dapi2_CreateDeviceGenericEx("CPU", 0, "CPU:0", "", "", szLocator, "SYSTEM_BUS", &pDevice);
        return pDevice;
    }
    /* "key=value (desc)" of every attached item, in chain order. */
    static std::vector<std::string> Items(const Dapi2Device *pDevice)
    {
        std::vector<std::string> items;
        for (const Dapi2SysInfo *p = Dapi2_GetDeviceSysInfo(pDevice); p != nullptr; p = Dapi2_GetNextSysInfo(p))
            items.push_back(std::string(Dapi2_GetSysInfoKey(p)) + "=" + Dapi2_GetSysInfoValue(p) + " (" +
                            Dapi2_GetSysInfoDescription(p) + ")");
        return items;
    }
    std::string m_cpuinfo;
};

TEST_F(SysInfo, AllSevenItemsInOrder)
{
    Dapi2Device *pDevice = Device("CPU:0");
    EXPECT_EQ(OurSysInfoFunction(pDevice, "Parameters Can Go Here Eventually"), 0);
    EXPECT_EQ(Items(pDevice), (std::vector<std::string>{
                                  "key-VendorId=GenuineIntel (desc-VendorId)",
                                  "key-Family=6 (desc-Family)",
                                  "key-Model=15 (desc-Model)",
                                  "key-ModelName=Test CPU model 0 (desc-ModelName)",
                                  "key-Stepping=7 (desc-Stepping)",
                                  "key-CacheSize=512 KB (desc-CacheSize)",
                                  "key-Speed=2400 (desc-Speed)",
                              }));
}

TEST_F(SysInfo, SwitchMustReadOnExactly)
{
    g_strings["szSysInfoVendorId"] = "On";
    g_strings["szSysInfoFamily"] = "ON";
    g_strings.erase("szSysInfoModel");
    g_strings["szSysInfoModelName"] = "on ";
    g_strings["szSysInfoStepping"] = "<NLS id=szSysInfoStepping/>";   /* unknown to the engine */
    Dapi2Device *pDevice = Device("CPU:0");
    EXPECT_EQ(OurSysInfoFunction(pDevice, ""), 0);
    EXPECT_EQ(Items(pDevice), (std::vector<std::string>{
                                  "key-CacheSize=512 KB (desc-CacheSize)",
                                  "key-Speed=2400 (desc-Speed)",
                              }));
}

TEST_F(SysInfo, NoSuchProcessor)
{
    Dapi2Device *pDevice = Device("CPU:1");
    testing::internal::CaptureStdout();
    EXPECT_EQ(OurSysInfoFunction(pDevice, ""), 9);
    EXPECT_EQ(OurSysInfoFunction(nullptr, ""), 9);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Returning no device\nReturning no device\n");
    EXPECT_TRUE(Items(pDevice).empty());
}

}  // namespace
