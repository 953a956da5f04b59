/* Tests of the CPU system-information callback: the seven items in order
 * with key and description from the language strings, the exact "on"
 * switch, the clock as decimal digits, and a device that is no processor. */
#include "zoltcpu/cpu-test-events.h"

#include "zoltcpu.h"

namespace {

class SysInfo : public CpuTestFixture {
protected:
    void SetUp() override
    {
        CpuTestFixture::SetUp();
        for (const char *szItem : {"VendorId", "Family", "Model", "ModelName", "Stepping", "CacheSize", "Speed"}) {
            const std::string sId = std::string("szSysInfo") + szItem;
            g_strings[sId] = "on";
            g_strings[sId + "Key"] = std::string("key-") + szItem;
            g_strings[sId + "Desc"] = std::string("desc-") + szItem;
        }
        UseCpuInfo("cpuinfo-single.txt");
    }
    /* Runs the callback on a device with locator szLocator; its items as
     * "key=value (desc)" joined by "|". */
    std::string Items(const char *szLocator, int iExpectRc = 0)
    {
        Dapi2Device *pDevice = Device(szLocator);
        EXPECT_EQ(OurSysInfoFunction(pDevice, "Parameters Can Go Here Eventually"), iExpectRc);
        std::string s;
        for (const Dapi2SysInfo *p = Dapi2_GetDeviceSysInfo(pDevice); p; p = Dapi2_GetNextSysInfo(p))
            s += std::string(s.empty() ? "" : "|") + Dapi2_GetSysInfoKey(p) + "=" +
                 Dapi2_GetSysInfoValue(p) + " (" + Dapi2_GetSysInfoDescription(p) + ")";
        return s;
    }
};

TEST_F(SysInfo, AllSevenItemsInOrder)
{
    EXPECT_EQ(Items("CPU:0"), "key-VendorId=GenuineIntel (desc-VendorId)|key-Family=6 (desc-Family)|"
                              "key-Model=15 (desc-Model)|key-ModelName=Test CPU model 0 (desc-ModelName)|"
                              "key-Stepping=7 (desc-Stepping)|key-CacheSize=512 KB (desc-CacheSize)|"
                              "key-Speed=2400 (desc-Speed)");
}

TEST_F(SysInfo, SwitchMustReadOnExactly)
{
    g_strings["szSysInfoVendorId"] = "On";
    g_strings["szSysInfoFamily"] = "ON";
    g_strings.erase("szSysInfoModel");
    g_strings["szSysInfoModelName"] = "on ";
    g_strings["szSysInfoStepping"] = "<NLS id=szSysInfoStepping/>";   /* unknown to the engine */
    EXPECT_EQ(Items("CPU:0"), "key-CacheSize=512 KB (desc-CacheSize)|key-Speed=2400 (desc-Speed)");
}

TEST_F(SysInfo, NoSuchProcessor)
{
    testing::internal::CaptureStdout();
    EXPECT_EQ(Items("CPU:1", 9), "");
    EXPECT_EQ(OurSysInfoFunction(nullptr, ""), 9);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Returning no device\nReturning no device\n");
}

}  // namespace
