/* Tests of the CPU system-information callback: the seven items in order
 * with key and description from the language strings, the exact "on"
 * switch, the clock as decimal digits, and a device that is no processor. */
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "cpu-enum.h"
#include "dapi2.h"
#include "zolt-mod-support.h"
#include "zoltcpu.h"

namespace {

std::map<std::string, std::string> s_strings;

char *FakeNls(const char *szId, char *szOut, int iOutSize)
{
    auto it = s_strings.find(szId);
    snprintf(szOut, (size_t)iOutSize, "%s", it == s_strings.end() ? "" : it->second.c_str());
    return it == s_strings.end() ? nullptr : szOut;
}

class SysInfo : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *szItem : {"VendorId", "Family", "Model", "ModelName", "Stepping",
                                   "CacheSize", "Speed"}) {
            const std::string sId = std::string("szSysInfo") + szItem;
            s_strings[sId] = "on";
            s_strings[sId + "Key"] = std::string("key-") + szItem;
            s_strings[sId + "Desc"] = std::string("desc-") + szItem;
        }
        g_pfnCpuNlsGetString = FakeNls;
        m_sCpuInfo = std::string(ZOLT_FIXTURES) + "/cpu/cpuinfo-single.txt";
        g_szCpuInfoPath = m_sCpuInfo.c_str();
    }
    void TearDown() override
    {
        KillDevices(g_pRootDevice);
        g_pRootDevice = nullptr;
        Dapi2_KillDeviceList();
        s_strings.clear();
        g_pfnCpuNlsGetString = Dapi2_NlsGetStringWithId;
        g_szCpuInfoPath = "/proc/cpuinfo";
    }
    /* Runs the callback on a device with locator szLocator; its items as
     * "key=value (desc)" in chain order. */
    std::vector<std::string> Items(const char *szLocator, int iExpectRc = 0)
    {
        Dapi2Device *pDevice = nullptr;
        Dapi2_CreateDeviceGenericEx("CPU", 0, "CPU:0", "", "", szLocator, "SYSTEM_BUS", &pDevice);
        EXPECT_EQ(OurSysInfoFunction(pDevice, "Parameters Can Go Here Eventually"), iExpectRc);
        std::vector<std::string> items;
        for (const Dapi2SysInfo *p = Dapi2_GetDeviceSysInfo(pDevice); p; p = Dapi2_GetNextSysInfo(p))
            items.push_back(std::string(Dapi2_GetSysInfoKey(p)) + "=" + Dapi2_GetSysInfoValue(p) +
                            " (" + Dapi2_GetSysInfoDescription(p) + ")");
        return items;
    }
    std::string m_sCpuInfo;
};

TEST_F(SysInfo, AllSevenItemsInOrder)
{
    EXPECT_EQ(Items("CPU:0"), (std::vector<std::string>{
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
    s_strings["szSysInfoVendorId"] = "On";
    s_strings["szSysInfoFamily"] = "ON";
    s_strings.erase("szSysInfoModel");
    s_strings["szSysInfoModelName"] = "on ";
    s_strings["szSysInfoStepping"] = "<NLS id=szSysInfoStepping/>";   /* unknown to the engine */
    EXPECT_EQ(Items("CPU:0"), (std::vector<std::string>{"key-CacheSize=512 KB (desc-CacheSize)",
                                                        "key-Speed=2400 (desc-Speed)"}));
}

TEST_F(SysInfo, NoSuchProcessor)
{
    testing::internal::CaptureStdout();
    EXPECT_TRUE(Items("CPU:1", 9).empty());
    EXPECT_EQ(OurSysInfoFunction(nullptr, ""), 9);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Returning no device\nReturning no device\n");
}

}  // namespace
