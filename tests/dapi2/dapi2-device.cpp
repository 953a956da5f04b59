/* Tests of the device model: HW locators and bus types of the create
 * functions, refused type keywords, the junk and enumeration lists, FRU data
 * with additional records, default names and the release of everything (the
 * sanitizer build reports any leak). */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <functional>
#include <string>
#include <vector>

#include "dapi2-device.h"

namespace {

/* Every test starts and ends with both lists empty. */
class DeviceModel : public ::testing::Test {
protected:
    void SetUp() override { Dapi2_KillDeviceList(); }
    void TearDown() override
    {
        Dapi2_KillDeviceList();
        EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceJunkList), 0);
        EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceEnumList), 0);
    }

    static std::vector<Dapi2Device *> Devices(CGenList *pList)
    {
        std::vector<Dapi2Device *> v;
        CGenListIter it;
        CGenListIterInit(&it, pList);
        for (; !CGenListIterAtEnd(&it); CGenListIterAdv(&it))
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
        { "modem", [](Dapi2Device **pp) { return Dapi2_CreateDeviceModem("MODEM", 1, "n", "os", "d", 2, pp); }, "MODEM:2", "COM_BUS" },
        { "scsi", [](Dapi2Device **pp) { return Dapi2_CreateDeviceSCSI("HD", 1, "n", "os", "d", 0, 0, 3, 0, pp); }, "SCSI:0:0:3:0", "SCSI_BUS" },
        { "ide", [](Dapi2Device **pp) { return Dapi2_CreateDeviceIDE("HD", 1, "n", "os", "d", 0, 1, pp); }, "IDE:0:1", "IDE_BUS" },
        { "usbex", [](Dapi2Device **pp) { return Dapi2_CreateDeviceUSBEx("HUB", 1, "n", "os", "d", 7, 9, pp); }, "USB:7:9", "USB_BUS" },
        { "net", [](Dapi2Device **pp) { return Dapi2_CreateDeviceNet("NET", 1, "n", "os", "d", s_auMac, pp); }, "NET:00:10:A4:0A:FF:01", "SYSTEM_BUS" },
        { "port com", [](Dapi2Device **pp) { return Dapi2_CreateDevicePort("COM", 1, "n", "os", "d", 1, 0x3f8, pp); }, "COM:1:03f8", "SYSTEM_BUS" },
        { "port lpt", [](Dapi2Device **pp) { return Dapi2_CreateDevicePort("LPT", 1, "n", "os", "d", 2, 0x12345, pp); }, "LPT:2:12345", "SYSTEM_BUS" },
        { "sys rtc", [](Dapi2Device **pp) { return Dapi2_CreateDeviceSys("RTC", 1, "n", "os", "d", pp); }, "RTC", "SYSTEM_BUS" },
        { "sys mouse", [](Dapi2Device **pp) { return Dapi2_CreateDeviceSys("MOUSE", 1, "n", "os", "d", pp); }, "MOUSE:0", "SYSTEM_BUS" },
        { "pci", [](Dapi2Device **pp) { return Dapi2_CreateDevicePCI("NET", 1, "n", "os", "d", 0, 31, 7, pp); }, "PCI:0:31:7", "PCI_BUS" },
        { "agp", [](Dapi2Device **pp) { return Dapi2_CreateDeviceAGP("VIDEOCONTROLLER", 1, "n", "os", "d", 1, 0, 0, pp); }, "AGP:1:0:0", "AGP_BUS" },
        { "ps2 kbd", [](Dapi2Device **pp) { return Dapi2_CreateDevicePS2("KBD", 1, "n", "os", "d", pp); }, "PS2KB", "PS2_BUS" },
        { "com", [](Dapi2Device **pp) { return Dapi2_CreateDeviceCOM("COM", 1, "n", "os", "d", 3, pp); }, "COM:3:0000", "COM_BUS" },
        { "mm scanner", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMM("SCANNER", 1, "n", "os", "d", 4, pp); }, "SCAN:4", "SYSTEM_BUS" },
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
    EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceEnumList), 0);
}

TEST_F(DeviceModel, RefusedTypeKeywordsCreateNothing)
{
    Dapi2Device *pDev = NULL;
    const std::vector<std::pair<const char *, CreateFn>> cases = {
        { "bus lower case", [](Dapi2Device **pp) { return Dapi2_CreateDeviceBus("pci", 1, "n", "os", "d", 0, pp); } },
        { "bus null type", [](Dapi2Device **pp) { return Dapi2_CreateDeviceBus(NULL, 1, "n", "os", "d", 0, pp); } },
        { "modem port 0", [](Dapi2Device **pp) { return Dapi2_CreateDeviceModem("MODEM", 1, "n", "os", "d", 0, pp); } },
        { "port usb", [](Dapi2Device **pp) { return Dapi2_CreateDevicePort("USB", 1, "n", "os", "d", 0, 0, pp); } },
        { "sys prefix", [](Dapi2Device **pp) { return Dapi2_CreateDeviceSys("SYSTEMBOARD2", 1, "n", "os", "d", pp); } },
        { "ps2 joy", [](Dapi2Device **pp) { return Dapi2_CreateDevicePS2("GAMEINPUT", 1, "n", "os", "d", pp); } },
        { "mm mouse", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMM("MOUSE", 1, "n", "os", "d", 1, pp); } },
        { "net null", [](Dapi2Device **pp) { return Dapi2_CreateDeviceNet("NET", 1, "n", "os", "d", NULL, pp); } },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.second(&pDev), 22) << c.first;
    EXPECT_EQ(Dapi2_CreateDeviceISA("ISA", 1, "n", "os", "d", &pDev), 0);   /* accepted, creates nothing */
    EXPECT_EQ(Dapi2_CreateDeviceGeneric("OTHER", 1, "n", "os", "d", &pDev), 0);
    EXPECT_EQ(pDev, nullptr);
    EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceJunkList), 0);
}

TEST_F(DeviceModel, UsbCounterRisesPerDeviceAndIsNeverReset)
{
    unsigned uFirst = 0, uCounter = 0, uNumber = 0;
    for (unsigned i = 0; i < 3; ++i) {
        if (i == 2)
            Dapi2_KillDeviceList();
        Dapi2Device *pDev = NULL;
        ASSERT_EQ(Dapi2_CreateDeviceUSB("HUB", (int32_t)i, "n", "os", "d", 5, &pDev), 0);
        ASSERT_EQ(sscanf(Dapi2_GetDeviceHwLocator(pDev), "USB:%u:%u", &uCounter, &uNumber), 2);
        EXPECT_EQ(uNumber, 5u);
        uFirst = i == 0 ? uCounter : uFirst;
        EXPECT_EQ(uCounter, uFirst + i);
    }
    EXPECT_GE(uFirst, 1u);   /* raised before the first use */
}

TEST_F(DeviceModel, AddDeviceMovesFromJunkToEnumerationInCallOrder)
{
    Dapi2Device *apDev[3] = {};
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Dapi2_CreateDeviceCPU("CPU", i, "n", NULL, NULL, (uint32_t)i, &apDev[i]), 0);
    EXPECT_EQ(Dapi2_GetDeviceOsLocator(apDev[0]), nullptr);   /* null texts stay null */
    ASSERT_EQ(Dapi2_AddDevice(apDev[2]), 0);
    ASSERT_EQ(Dapi2_AddDevice(apDev[0]), 0);
    EXPECT_EQ(Dapi2_AddDevice(NULL), 22);
    EXPECT_EQ(Devices(&g_Dapi2DeviceEnumList), (std::vector<Dapi2Device *> { apDev[2], apDev[0] }));
    EXPECT_EQ(Devices(&g_Dapi2DeviceJunkList), (std::vector<Dapi2Device *> { apDev[1] }));
    /* both lists take new devices after a release */
    Dapi2_KillDeviceList();
    ASSERT_EQ(Dapi2_CreateDeviceCPU("CPU", 7, "n", "os", "d", 7, &apDev[0]), 0);
    ASSERT_EQ(Dapi2_AddDevice(apDev[0]), 0);
    EXPECT_EQ(Devices(&g_Dapi2DeviceEnumList), (std::vector<Dapi2Device *> { apDev[0] }));
}

TEST_F(DeviceModel, FruDataWithAdditionalRecords)
{
    Dapi2Device *pDev = NULL;
    ASSERT_EQ(Dapi2_CreateDeviceCPU("CPU", 0, "n", "os", "d", 0, &pDev), 0);
    EXPECT_EQ(Dapi2_AddFruAdditionalInfoToFru(NULL, "f", "d", "v"), 22);
    /* a device without FRU gets one with empty texts */
    ASSERT_EQ(Dapi2_AddFruAdditionalInfoToDevice(pDev, "Socket", "Socket name", "U1"), 0);
    Dapi2FruInfo *pFru = Dapi2_GetDeviceFruInfo(pDev);
    ASSERT_NE(pFru, nullptr);
    EXPECT_STREQ(Dapi2_GetFruManufacturerName(pFru), "");
    ASSERT_EQ(Dapi2_AddFruAdditionalInfoToFru(pFru, "Bin", "Speed bin", "3"), 0);
    ASSERT_NE(Dapi2_GetFirstFruAdditionalInfo(pFru), nullptr);
    EXPECT_STREQ(Dapi2_GetFruAdditionalInfoValue(Dapi2_GetNextFruAdditionalInfo(pFru)), "3");
    EXPECT_EQ(Dapi2_GetNextFruAdditionalInfo(pFru), nullptr);
    EXPECT_EQ(Dapi2_GetNextFruAdditionalInfo(pFru), nullptr);   /* stays at the end */
    /* a new FRU replaces the old one and its records */
    ASSERT_EQ(Dapi2_AddFruToDevice(pDev, "Maker", "M1", "S1", "1.0", "2024-01-01", "U1"), 0);
    EXPECT_STREQ(Dapi2_GetFruManufacturerName(Dapi2_GetDeviceFruInfo(pDev)), "Maker");
    EXPECT_EQ(Dapi2_GetFirstFruAdditionalInfo(Dapi2_GetDeviceFruInfo(pDev)), nullptr);
}

/* The naming rules of the table: type and id, type and locator, the modem's
 * serial suffix, blanks kept as they stand, unknown types. */
TEST_F(DeviceModel, DefaultNamesFollowTheTypeTable)
{
    static const struct { const char *szType; int32_t iId; const char *szOs, *szHw, *szExpect; } s_Cases[] = {
        { "CPU", 1, "os", "CPU:1", "CPU 1" },
        { "CPU64", 2, "os", "CPU:2", "CPU64 2" },              /* exact, not a prefix */
        { "CD", 0, "os", "IDE:1:0", "CD-ROM Drive IDE:1:0" },
        { "SCSI", 0, "os", "SCSI:0:0:3:0", "SCSISCSI:0:0:3:0" },
        { "MODEM", 0, "/dev/ttyS1", "MODEM:1", "Modem Serial:1" },
        { "MODEM", 0, "/dev/ttyUSB0", "MODEM:2", "Modem Serial:B0" },  /* after the first S */
        { "MODEM", 0, NULL, "MODEM:4", "Modem Serial:" },
        { "SYSTEM", 4, "os", "SYSTEM", "System " },
        { "ZIP", -2, "os", "USB:1:1", "Zip Drive -2" },
        { "RTC", 0, "os", NULL, "Real Time Clock " },
        { "cpu", 5, "os", "CPU:5", "Unknown 5" },              /* case-sensitive */
        { NULL, 7, "os", "X", "Unknown 7" },
        { "OTHER", 8, "os", "X", "keep me" },                  /* name left as it is */
    };
    for (const auto &c : s_Cases) {
        Dapi2Device *pDev = NULL;
        ASSERT_EQ(Dapi2_CreateDeviceGenericEx(c.szType, c.iId, "keep me", "d", c.szOs, c.szHw, "SYSTEM_BUS", &pDev), 0);
        Dapi2_I_GenerateDeviceName(pDev);
        EXPECT_STREQ(Dapi2_GetDeviceName(pDev), c.szExpect) << (c.szType ? c.szType : "(null)");
    }
    Dapi2_I_GenerateDeviceName(NULL);
}
