/* Tests of the device model: locators of the create functions, refused types,
 * the junk and enumeration lists, FRU records and default names (ASan sees leaks). */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <functional>
#include <string>
#include <vector>

#include "dapi2-device.h"

namespace {

class DeviceModel : public ::testing::Test {
protected:
    void SetUp() override { Dapi2_KillDeviceList(); }
    void TearDown() override
    {
        Dapi2_KillDeviceList();
        EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceJunkList) + CGenListGetCount(&g_Dapi2DeviceEnumList), 0);
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

typedef std::function<int(Dapi2Device **)> CreateFn;

}  // namespace

TEST_F(DeviceModel, CreateFunctionsFormatTheirLocators)
{
    static const uint32_t s_auMac[6] = { 0, 16, 164, 10, 255, 1 };
    const struct { const char *szWhat; CreateFn fn; const char *szHwLocator, *szBus; } cases[] = {
        { "bus pcmcia", [](Dapi2Device **pp) { return Dapi2_CreateDeviceBus("PCMCIA", 1, "n", "os", "d", 4294967295u, pp); }, "PCMCIA:4294967295", "SYSTEM_BUS" },
        { "net", [](Dapi2Device **pp) { return Dapi2_CreateDeviceNet("NET", 1, "n", "os", "d", s_auMac, pp); }, "NET:00:10:A4:0A:FF:01", "SYSTEM_BUS" },
        { "port com", [](Dapi2Device **pp) { return Dapi2_CreateDevicePort("COM", 1, "n", "os", "d", 1, 0x3f8, pp); }, "COM:1:03f8", "SYSTEM_BUS" },
        { "sys rtc", [](Dapi2Device **pp) { return Dapi2_CreateDeviceSys("RTC", 1, "n", "os", "d", pp); }, "RTC", "SYSTEM_BUS" },
        { "sys mouse", [](Dapi2Device **pp) { return Dapi2_CreateDeviceSys("MOUSE", 1, "n", "os", "d", pp); }, "MOUSE:0", "SYSTEM_BUS" },
        { "com", [](Dapi2Device **pp) { return Dapi2_CreateDeviceCOM("COM", 1, "n", "os", "d", 3, pp); }, "COM:3:0000", "COM_BUS" },
        { "mm wav", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMM("WAV", 1, "n", "os", "d", 5, pp); }, "DSP", "SYSTEM_BUS" },
        { "generic ex", [](Dapi2Device **pp) { return Dapi2_CreateDeviceGenericEx("OTHER", 1, "n", "d", "os", "X:1", "ANY_BUS", pp); }, "X:1", "ANY_BUS" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.szWhat);
        Dapi2Device *pDev = NULL;
        ASSERT_EQ(c.fn(&pDev), 0);
        EXPECT_STREQ(Dapi2_GetDeviceHwLocator(pDev), c.szHwLocator);
        EXPECT_STREQ(Dapi2_GetDeviceBusType(pDev), c.szBus);
        EXPECT_STREQ(Dapi2_GetDeviceOsLocator(pDev), "os");   /* not swapped */
        EXPECT_STREQ(Dapi2_GetDeviceDescription(pDev), "d");
        EXPECT_STREQ(Dapi2_GetTestsSupported(pDev), "*");
    }
    EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceJunkList), (int)(sizeof cases / sizeof cases[0]));
}

TEST_F(DeviceModel, RefusedTypeKeywordsCreateNothing)
{
    Dapi2Device *pDev = NULL;
    const std::vector<std::pair<const char *, CreateFn>> cases = {
        { "bus lower case", [](Dapi2Device **pp) { return Dapi2_CreateDeviceBus("pci", 1, "n", "os", "d", 0, pp); } },
        { "modem port 0", [](Dapi2Device **pp) { return Dapi2_CreateDeviceModem("MODEM", 1, "n", "os", "d", 0, pp); } },
        { "port usb", [](Dapi2Device **pp) { return Dapi2_CreateDevicePort("USB", 1, "n", "os", "d", 0, 0, pp); } },
        { "ps2 joy", [](Dapi2Device **pp) { return Dapi2_CreateDevicePS2("GAMEINPUT", 1, "n", "os", "d", pp); } },
        { "mm mouse", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMM("MOUSE", 1, "n", "os", "d", 1, pp); } },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.second(&pDev), 22) << c.first;
    EXPECT_EQ(Dapi2_CreateDeviceISA("ISA", 1, "n", "os", "d", &pDev), 0);   /* accepted, creates nothing */
    EXPECT_EQ(pDev, nullptr);
    EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceJunkList), 0);
}

TEST_F(DeviceModel, AddDeviceMovesFromJunkToEnumerationInCallOrder)
{
    Dapi2Device *apDev[3] = {};
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Dapi2_CreateDeviceCPU("CPU", i, "n", NULL, NULL, (uint32_t)i, &apDev[i]), 0);
    ASSERT_EQ(Dapi2_AddDevice(apDev[2]), 0);
    ASSERT_EQ(Dapi2_AddDevice(apDev[0]), 0);
    EXPECT_EQ(Dapi2_AddDevice(NULL), 22);
    EXPECT_EQ(Devices(&g_Dapi2DeviceEnumList), (std::vector<Dapi2Device *> { apDev[2], apDev[0] }));
    EXPECT_EQ(Devices(&g_Dapi2DeviceJunkList), (std::vector<Dapi2Device *> { apDev[1] }));
}

TEST_F(DeviceModel, DefaultNamesFollowTheTypeTable)
{
    static const struct { const char *szType; int32_t iId; const char *szOs, *szHw, *szExpect; } s_Cases[] = {
        { "CPU", 1, "os", "CPU:1", "CPU 1" },
        { "CD", 0, "os", "IDE:1:0", "CD-ROM Drive IDE:1:0" },
        { "SCSI", 0, "os", "SCSI:0:0:3:0", "SCSISCSI:0:0:3:0" },
        { "MODEM", 0, "/dev/ttyS1", "MODEM:1", "Modem Serial:1" },
        { "MODEM", 0, "/dev/ttyUSB0", "MODEM:2", "Modem Serial:B0" },  /* after the first S */
        { "SYSTEM", 4, "os", "SYSTEM", "System " },
        { "RTC", 0, "os", NULL, "Real Time Clock " },
        { "cpu", 5, "os", "CPU:5", "Unknown 5" },              /* case-sensitive */
        { "OTHER", 8, "os", "X", "keep me" },                  /* name left as it is */
    };
    for (const auto &c : s_Cases) {
        Dapi2Device *pDev = NULL;
        ASSERT_EQ(Dapi2_CreateDeviceGenericEx(c.szType, c.iId, "keep me", "d", c.szOs, c.szHw, "SYSTEM_BUS", &pDev), 0);
        Dapi2_I_GenerateDeviceName(pDev);
        EXPECT_STREQ(Dapi2_GetDeviceName(pDev), c.szExpect) << (c.szType ? c.szType : "(null)");
    }
}
