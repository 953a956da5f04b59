/* Tests of the device model: the junk and enumeration lists, refused types and
 * default names (the sanitizer build sees leaks). */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "dapi2-device.h"

namespace {

class DeviceModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        Dapi2_KillDeviceList();
    }
    void TearDown() override
    {
        Dapi2_KillDeviceList();
        EXPECT_EQ(
            CGenListGetCount(&g_Dapi2DeviceJunkList) + CGenListGetCount(&g_Dapi2DeviceEnumList), 0);
    }

    static std::vector<Dapi2Device *> Devices(CGenList *pList)
    {
        std::vector<Dapi2Device *> v;
        CGenListIter it;
        for (CGenListIterInit(&it, pList); !CGenListIterAtEnd(&it); CGenListIterAdv(&it))
            v.push_back((Dapi2Device *)CGenListIterGetData(&it));
        return v;
    }
};

}  // namespace

TEST_F(DeviceModel, AddDeviceMovesFromJunkToEnumerationInCallOrder)
{
    Dapi2Device *apDev[3] = {};
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Dapi2_CreateDeviceCPU("CPU", i, "n", NULL, NULL, (uint32_t)i, &apDev[i]), 0);
    ASSERT_EQ(Dapi2_AddDevice(apDev[2]), 0);
    ASSERT_EQ(Dapi2_AddDevice(apDev[0]), 0);
    EXPECT_EQ(Dapi2_AddDevice(NULL), 22);
    EXPECT_EQ(Devices(&g_Dapi2DeviceEnumList), (std::vector<Dapi2Device *>{ apDev[2], apDev[0] }));
    EXPECT_EQ(Devices(&g_Dapi2DeviceJunkList), (std::vector<Dapi2Device *>{ apDev[1] }));
    EXPECT_EQ(Dapi2_CreateDeviceBus("pci", 1, "n", "os", "d", 0, &apDev[0]),
              22); /* type words are exact */
    EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceJunkList), 1);
}

TEST_F(DeviceModel, DefaultNamesFollowTheTypeTable)
{
    static const struct {
        const char *szType;
        int32_t iId;
        const char *szOs, *szHw, *szExpect;
    } s_Cases[] = {
        { "CPU", 1, "os", "CPU:1", "CPU 1" },
        { "SCSI", 0, "os", "SCSI:0:0:3:0", "SCSISCSI:0:0:3:0" },
        { "MODEM", 0, "/dev/ttyS1", "MODEM:1", "Modem Serial:1" },
        { "MODEM", 0, "/dev/ttyUSB0", "MODEM:2", "Modem Serial:B0" }, /* after the first S */
        { "RTC", 0, "os", NULL, "Real Time Clock " },
        { "cpu", 5, "os", "CPU:5", "Unknown 5" }, /* case-sensitive */
        { "OTHER", 8, "os", "X", "keep me" },     /* name left as it is */
    };
    for (const auto &c : s_Cases) {
        Dapi2Device *pDev = NULL;
        ASSERT_EQ(Dapi2_CreateDeviceGenericEx(c.szType, c.iId, "keep me", "d", c.szOs, c.szHw,
                                              "SYSTEM_BUS", &pDev),
                  0);
        Dapi2_I_GenerateDeviceName(pDev);
        EXPECT_STREQ(Dapi2_GetDeviceName(pDev), c.szExpect) << (c.szType ? c.szType : "(null)");
    }
}
