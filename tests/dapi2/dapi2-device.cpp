/* Tests of the device model: HW locators and bus types of every create
 * function, refused type keywords, the junk and enumeration lists, FRU data with
 * additional records, system-information chains, default names and the release
 * of everything (the sanitizer build reports any leak). */
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
    const struct {
        const char *szWhat;
        CreateFn fn;
        const char *szHwLocator;
        const char *szBus;
    } cases[] = {
        { "bus pci", [](Dapi2Device **pp) { return Dapi2_CreateDeviceBus("PCI", 1, "n", "os", "d", 3, pp); }, "PCI:3", "SYSTEM_BUS" },
        { "bus 1394", [](Dapi2Device **pp) { return Dapi2_CreateDeviceBus("1394", 1, "n", "os", "d", 0, pp); }, "1394:0", "SYSTEM_BUS" },
        { "bus pcmcia", [](Dapi2Device **pp) { return Dapi2_CreateDeviceBus("PCMCIA", 1, "n", "os", "d", 4294967295u, pp); }, "PCMCIA:4294967295", "SYSTEM_BUS" },
        { "modem", [](Dapi2Device **pp) { return Dapi2_CreateDeviceModem("MODEM", 1, "n", "os", "d", 2, pp); }, "MODEM:2", "COM_BUS" },
        { "fd", [](Dapi2Device **pp) { return Dapi2_CreateDeviceFD("FD", 1, "n", "os", "d", 1, pp); }, "FD:1", "SYSTEM_BUS" },
        { "scsi", [](Dapi2Device **pp) { return Dapi2_CreateDeviceSCSI("HD", 1, "n", "os", "d", 0, 0, 3, 0, pp); }, "SCSI:0:0:3:0", "SCSI_BUS" },
        { "1394", [](Dapi2Device **pp) { return Dapi2_CreateDevice1394("1394", 1, "n", "os", "d", 1, 2, 3, pp); }, "1394:1:2:3", "SYSTEM_BUS" },
        { "ide", [](Dapi2Device **pp) { return Dapi2_CreateDeviceIDE("HD", 1, "n", "os", "d", 0, 1, pp); }, "IDE:0:1", "IDE_BUS" },
        { "usbex", [](Dapi2Device **pp) { return Dapi2_CreateDeviceUSBEx("HUB", 1, "n", "os", "d", 7, 9, pp); }, "USB:7:9", "USB_BUS" },
        { "net", [](Dapi2Device **pp) { return Dapi2_CreateDeviceNet("NET", 1, "n", "os", "d", s_auMac, pp); }, "NET:00:10:A4:0A:FF:01", "SYSTEM_BUS" },
        { "port com", [](Dapi2Device **pp) { return Dapi2_CreateDevicePort("COM", 1, "n", "os", "d", 1, 0x3f8, pp); }, "COM:1:03f8", "SYSTEM_BUS" },
        { "port lpt", [](Dapi2Device **pp) { return Dapi2_CreateDevicePort("LPT", 1, "n", "os", "d", 2, 0x12345, pp); }, "LPT:2:12345", "SYSTEM_BUS" },
        { "port ir", [](Dapi2Device **pp) { return Dapi2_CreateDevicePort("IR", 1, "n", "os", "d", 0, 0, pp); }, "IR:0:0000", "SYSTEM_BUS" },
        { "printer", [](Dapi2Device **pp) { return Dapi2_CreateDevicePrinter("PRINTER", 1, "n", "os", "d", 1, pp); }, "PRINT:1", "SYSTEM_BUS" },
        { "cpu", [](Dapi2Device **pp) { return Dapi2_CreateDeviceCPU("CPU", 0, "n", "os", "d", 2, pp); }, "CPU:2", "SYSTEM_BUS" },
        { "sys rtc", [](Dapi2Device **pp) { return Dapi2_CreateDeviceSys("RTC", 1, "n", "os", "d", pp); }, "RTC", "SYSTEM_BUS" },
        { "sys mouse", [](Dapi2Device **pp) { return Dapi2_CreateDeviceSys("MOUSE", 1, "n", "os", "d", pp); }, "MOUSE:0", "SYSTEM_BUS" },
        { "sys board", [](Dapi2Device **pp) { return Dapi2_CreateDeviceSys("SYSTEMBOARD", 1, "n", "os", "d", pp); }, "SYSTEMBOARD", "SYSTEM_BUS" },
        { "memory", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMemory("MEMORY", 1, "n", "os", "d", 0, pp); }, "MEM:0", "SYSTEM_BUS" },
        { "pci", [](Dapi2Device **pp) { return Dapi2_CreateDevicePCI("NET", 1, "n", "os", "d", 0, 31, 7, pp); }, "PCI:0:31:7", "PCI_BUS" },
        { "agp", [](Dapi2Device **pp) { return Dapi2_CreateDeviceAGP("VIDEOCONTROLLER", 1, "n", "os", "d", 1, 0, 0, pp); }, "AGP:1:0:0", "AGP_BUS" },
        { "ps2 kbd", [](Dapi2Device **pp) { return Dapi2_CreateDevicePS2("KBD", 1, "n", "os", "d", pp); }, "PS2KB", "PS2_BUS" },
        { "ps2 mouse", [](Dapi2Device **pp) { return Dapi2_CreateDevicePS2("MOUSE", 1, "n", "os", "d", pp); }, "PS2MOUSE", "PS2_BUS" },
        { "com", [](Dapi2Device **pp) { return Dapi2_CreateDeviceCOM("COM", 1, "n", "os", "d", 3, pp); }, "COM:3:0000", "COM_BUS" },
        { "monitor", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMonitor("DISPLAY", 1, "n", "os", "d", 0, pp); }, "MON:0", "SYSTEM_BUS" },
        { "mm joy", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMM("GAMEINPUT", 1, "n", "os", "d", 1, pp); }, "JOY:1", "SYSTEM_BUS" },
        { "mm mic", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMM("MICROPHONE", 1, "n", "os", "d", 2, pp); }, "MIC:2", "SYSTEM_BUS" },
        { "mm camera", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMM("CAMERA", 1, "n", "os", "d", 3, pp); }, "CAMERA:3", "SYSTEM_BUS" },
        { "mm scanner", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMM("SCANNER", 1, "n", "os", "d", 4, pp); }, "SCAN:4", "SYSTEM_BUS" },
        { "mm wav", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMM("WAV", 1, "n", "os", "d", 5, pp); }, "DSP", "SYSTEM_BUS" },
        { "mouse", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMouse("MOUSE", 1, "n", "os", "d", 2, pp); }, "MOUSE:2", "SYSTEM_BUS" },
        { "generic ex", [](Dapi2Device **pp) { return Dapi2_CreateDeviceGenericEx("OTHER", 1, "n", "d", "os", "X:1", "ANY_BUS", pp); }, "X:1", "ANY_BUS" },
    };
    int iCount = 0;
    for (const auto &c : cases) {
        Dapi2Device *pDev = NULL;
        ASSERT_EQ(c.fn(&pDev), 0) << c.szWhat;
        ASSERT_NE(pDev, nullptr) << c.szWhat;
        EXPECT_STREQ(Dapi2_GetDeviceHwLocator(pDev), c.szHwLocator) << c.szWhat;
        EXPECT_STREQ(Dapi2_GetDeviceBusType(pDev), c.szBus) << c.szWhat;
        EXPECT_STREQ(Dapi2_GetDeviceOsLocator(pDev), "os") << c.szWhat;   /* not swapped */
        EXPECT_STREQ(Dapi2_GetDeviceDescription(pDev), "d") << c.szWhat;
        EXPECT_STREQ(Dapi2_GetTestsSupported(pDev), "*") << c.szWhat;
        ++iCount;
    }
    EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceJunkList), iCount);
    EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceEnumList), 0);
}

TEST_F(DeviceModel, RefusedTypeKeywordsCreateNothing)
{
    Dapi2Device *pDev = NULL;
    const std::vector<std::pair<const char *, CreateFn>> cases = {
        { "bus isa", [](Dapi2Device **pp) { return Dapi2_CreateDeviceBus("ISA", 1, "n", "os", "d", 0, pp); } },
        { "bus lower case", [](Dapi2Device **pp) { return Dapi2_CreateDeviceBus("pci", 1, "n", "os", "d", 0, pp); } },
        { "bus null type", [](Dapi2Device **pp) { return Dapi2_CreateDeviceBus(NULL, 1, "n", "os", "d", 0, pp); } },
        { "modem port 0", [](Dapi2Device **pp) { return Dapi2_CreateDeviceModem("MODEM", 1, "n", "os", "d", 0, pp); } },
        { "port usb", [](Dapi2Device **pp) { return Dapi2_CreateDevicePort("USB", 1, "n", "os", "d", 0, 0, pp); } },
        { "sys cpu", [](Dapi2Device **pp) { return Dapi2_CreateDeviceSys("CPU", 1, "n", "os", "d", pp); } },
        { "sys prefix", [](Dapi2Device **pp) { return Dapi2_CreateDeviceSys("SYSTEMBOARD2", 1, "n", "os", "d", pp); } },
        { "ps2 joy", [](Dapi2Device **pp) { return Dapi2_CreateDevicePS2("GAMEINPUT", 1, "n", "os", "d", pp); } },
        { "mm mouse", [](Dapi2Device **pp) { return Dapi2_CreateDeviceMM("MOUSE", 1, "n", "os", "d", 1, pp); } },
        { "net null", [](Dapi2Device **pp) { return Dapi2_CreateDeviceNet("NET", 1, "n", "os", "d", NULL, pp); } },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.second(&pDev), 22) << c.first;
    EXPECT_EQ(Dapi2_CreateDeviceISA("ISA", 1, "n", "os", "d", &pDev), 0);
    EXPECT_EQ(Dapi2_CreateDeviceGeneric("OTHER", 1, "n", "os", "d", &pDev), 0);
    EXPECT_EQ(pDev, nullptr);
    EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceJunkList), 0);
}

TEST_F(DeviceModel, UsbCounterRisesByOnePerDevice)
{
    unsigned uFirst = 0, uNumber = 0;
    for (unsigned i = 0; i < 3; ++i) {
        Dapi2Device *pDev = NULL;
        ASSERT_EQ(Dapi2_CreateDeviceUSB("HUB", (int32_t)i, "n", "os", "d", 5, &pDev), 0);
        unsigned uCounter = 0;
        ASSERT_EQ(sscanf(Dapi2_GetDeviceHwLocator(pDev), "USB:%u:%u", &uCounter, &uNumber), 2);
        EXPECT_EQ(uNumber, 5u);
        if (i == 0)
            uFirst = uCounter;
        EXPECT_EQ(uCounter, uFirst + i);
    }
    EXPECT_GE(uFirst, 1u);                               /* raised before the first use */
    Dapi2_KillDeviceList();                              /* the counter is never reset */
    Dapi2Device *pDev = NULL;
    ASSERT_EQ(Dapi2_CreateDeviceUSB("HUB", 9, "n", "os", "d", 1, &pDev), 0);
    EXPECT_EQ(std::string(Dapi2_GetDeviceHwLocator(pDev)), "USB:" + std::to_string(uFirst + 3) + ":1");
}

TEST_F(DeviceModel, AddDeviceMovesFromJunkToEnumerationInCallOrder)
{
    Dapi2Device *apDev[3] = {};
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(Dapi2_CreateDeviceCPU("CPU", i, "n", NULL, NULL, (uint32_t)i, &apDev[i]), 0);
    EXPECT_EQ(Dapi2_GetDeviceOsLocator(apDev[0]), nullptr);       /* null texts stay null */
    EXPECT_EQ(Devices(&g_Dapi2DeviceJunkList), (std::vector<Dapi2Device *> { apDev[0], apDev[1], apDev[2] }));
    ASSERT_EQ(Dapi2_AddDevice(apDev[2]), 0);
    ASSERT_EQ(Dapi2_AddDevice(apDev[0]), 0);
    EXPECT_EQ(Dapi2_AddDevice(NULL), 22);
    EXPECT_EQ(Devices(&g_Dapi2DeviceEnumList), (std::vector<Dapi2Device *> { apDev[2], apDev[0] }));
    EXPECT_EQ(Devices(&g_Dapi2DeviceJunkList), (std::vector<Dapi2Device *> { apDev[1] }));

    /* released with both lists; afterwards both take new devices */
    Dapi2_KillDeviceList();
    EXPECT_EQ(CGenListGetCount(&g_Dapi2DeviceEnumList) + CGenListGetCount(&g_Dapi2DeviceJunkList), 0);
    Dapi2Device *pAgain = NULL;
    ASSERT_EQ(Dapi2_CreateDeviceCPU("CPU", 7, "n", "os", "d", 7, &pAgain), 0);
    ASSERT_EQ(Dapi2_AddDevice(pAgain), 0);
    EXPECT_EQ(Devices(&g_Dapi2DeviceEnumList), (std::vector<Dapi2Device *> { pAgain }));
    Dapi2_KillDeviceList();
    Dapi2_KillDeviceList();                              /* a second release finds nothing */
}

TEST_F(DeviceModel, FruDataWithAdditionalRecords)
{
    Dapi2Device *pDev = NULL;
    ASSERT_EQ(Dapi2_CreateDeviceCPU("CPU", 0, "n", "os", "d", 0, &pDev), 0);
    EXPECT_EQ(Dapi2_AddFruAdditionalInfoToDevice(NULL, "f", "d", "v"), 22);
    EXPECT_EQ(Dapi2_AddFruAdditionalInfoToFru(NULL, "f", "d", "v"), 22);

    /* a device without FRU gets one with six empty texts */
    ASSERT_EQ(Dapi2_AddFruAdditionalInfoToDevice(pDev, "Socket", "Socket name", "U1"), 0);
    Dapi2FruInfo *pFru = Dapi2_GetDeviceFruInfo(pDev);
    ASSERT_NE(pFru, nullptr);
    EXPECT_EQ(pFru->uSize, 36u);
    for (const char *sz : { Dapi2_GetFruManufacturerName(pFru), Dapi2_GetFruModelNumber(pFru),
                            Dapi2_GetFruSerialNumber(pFru), Dapi2_GetFruFirmwareRevision(pFru),
                            Dapi2_GetFruFirmwareDate(pFru), Dapi2_GetFruPhysicalAddress(pFru) })
        EXPECT_STREQ(sz, "");
    ASSERT_EQ(Dapi2_AddFruAdditionalInfoToDevice(pDev, "Slot", "", "2"), 0);
    ASSERT_EQ(Dapi2_AddFruAdditionalInfoToFru(pFru, "Bin", "Speed bin", "3"), 0);

    std::vector<std::string> seen;
    for (Dapi2FruAdditionalInfo *p = Dapi2_GetFirstFruAdditionalInfo(pFru); p != NULL;
         p = Dapi2_GetNextFruAdditionalInfo(pFru))
        seen.push_back(std::string(Dapi2_GetFruAdditionalInfoField(p)) + "|" +
                       Dapi2_GetFruAdditionalInfoDescription(p) + "|" + Dapi2_GetFruAdditionalInfoValue(p));
    EXPECT_EQ(seen, (std::vector<std::string> { "Socket|Socket name|U1", "Slot||2", "Bin|Speed bin|3" }));
    EXPECT_EQ(Dapi2_GetNextFruAdditionalInfo(pFru), nullptr);   /* stays at the end */
    ASSERT_NE(Dapi2_GetFirstFruAdditionalInfo(pFru), nullptr);  /* restarts */

    /* a new FRU replaces the old one (and its records); it has no records */
    ASSERT_EQ(Dapi2_AddFruToDevice(pDev, "Maker", "M1", "S1", "1.0", "2024-01-01", "U1"), 0);
    pFru = Dapi2_GetDeviceFruInfo(pDev);
    EXPECT_STREQ(Dapi2_GetFruManufacturerName(pFru), "Maker");
    EXPECT_STREQ(Dapi2_GetFruPhysicalAddress(pFru), "U1");
    EXPECT_EQ(Dapi2_GetFirstFruAdditionalInfo(pFru), nullptr);
    EXPECT_EQ(Dapi2_GetNextFruAdditionalInfo(pFru), nullptr);
    EXPECT_EQ(Dapi2_AddFruToDevice(NULL, "a", "b", "c", "d", "e", "f"), 22);
    ASSERT_EQ(Dapi2_AddDevice(pDev), 0);                       /* released by the list */
}

TEST_F(DeviceModel, SystemInformationKeepsCallOrder)
{
    Dapi2Device *pDev = NULL;
    ASSERT_EQ(Dapi2_CreateDeviceCPU("CPU", 0, "n", "os", "d", 0, &pDev), 0);
    EXPECT_EQ(Dapi2_AddSysInfoToDevice(NULL, "k", "v", "d"), 22);
    ASSERT_EQ(Dapi2_AddSysInfoToDevice(pDev, "K", "1", "first"), 0);
    ASSERT_EQ(Dapi2_AddSysInfoToDevice(pDev, "L", "x", NULL), 0);
    ASSERT_EQ(Dapi2_AddSysInfoToDevice(pDev, "K", "2", "second"), 0);
    std::vector<std::string> seen;
    for (Dapi2SysInfo *p = Dapi2_GetDeviceSysInfo(pDev); p != NULL; p = Dapi2_GetNextSysInfo(p))
        seen.push_back(std::string(Dapi2_GetSysInfoKey(p)) + "=" + Dapi2_GetSysInfoValue(p) + "/" +
                       (Dapi2_GetSysInfoDescription(p) ? Dapi2_GetSysInfoDescription(p) : "(null)"));
    EXPECT_EQ(seen, (std::vector<std::string> { "K=1/first", "L=x/(null)", "K=2/second" }));
    /* left in the junk list on purpose: Dapi2_KillDeviceList releases the chain */
}

TEST_F(DeviceModel, TestsSupportedTextIsReplaced)
{
    Dapi2Device *pDev = NULL;
    ASSERT_EQ(Dapi2_CreateDeviceCPU("CPU", 0, "n", "os", "d", 0, &pDev), 0);
    ASSERT_EQ(Dapi2_AddTestsToDevice(pDev, "0,1,2"), 0);
    ASSERT_EQ(Dapi2_AddTestsToDevice(pDev, "0,1,2,3"), 0);
    EXPECT_STREQ(Dapi2_GetDeviceTestsSupported(pDev), "0,1,2,3");
    EXPECT_EQ(Dapi2_AddTestsToDevice(NULL, "0"), 22);
    EXPECT_EQ(Dapi2_GetDeviceId(NULL), -1);
}

TEST_F(DeviceModel, DefaultNamesFollowTheTypeTable)
{
    static const struct {
        const char *szType;
        int32_t iId;
        const char *szOsLocator;
        const char *szHwLocator;
        const char *szExpect;
    } s_Cases[] = {
        { "CPU", 1, "os", "CPU:1", "CPU 1" },
        { "CPU64", 2, "os", "CPU:2", "CPU64 2" },              /* exact, not a prefix */
        { "CD", 0, "os", "IDE:1:0", "CD-ROM Drive IDE:1:0" },
        { "CDRW", 0, "os", "IDE:1:1", "CDRW Drive IDE:1:1" },
        { "IDE", 0, "os", "IDE:0:1", "IDE IDE:0:1" },
        { "SCSI", 0, "os", "SCSI:0:0:3:0", "SCSISCSI:0:0:3:0" },
        { "MODEM", 0, "/dev/ttyS1", "MODEM:1", "Modem Serial:1" },
        { "MODEM", 0, "/dev/ttyUSB0", "MODEM:2", "Modem Serial:B0" },  /* after the first S */
        { "MODEM", 0, "/dev/modem", "MODEM:3", "Modem Serial:/dev/modem" },
        { "MODEM", 0, NULL, "MODEM:4", "Modem Serial:" },
        { "CMOS", 4, "os", "CMOS", "CMOS" },
        { "SYSTEM", 4, "os", "SYSTEM", "System " },           /* trailing blank kept */
        { "SYSTEMBOARD", 4, "os", "SYSTEMBOARD", "SystemBoard" },
        { "MEMORY", 4, "os", "MEM:0", "RAM" },
        { "IR", 3, "os", "IR:0:0000", "Infared Port 3" },
        { "USB CONT", 6, "os", "PCI:0:29:0", "USB Controller 6" },
        { "ZIP", -2, "os", "USB:1:1", "Zip Drive -2" },
        { "RTC", 0, "os", NULL, "Real Time Clock " },
        { "cpu", 5, "os", "CPU:5", "Unknown 5" },              /* case-sensitive */
        { "", 6, "os", "X", "Unknown 6" },
        { NULL, 7, "os", "X", "Unknown 7" },
        { "OTHER", 8, "os", "X", "keep me" },                  /* name left as it is */
    };
    for (const auto &c : s_Cases) {
        Dapi2Device *pDev = NULL;
        ASSERT_EQ(Dapi2_CreateDeviceGenericEx(c.szType, c.iId, "keep me", "d", c.szOsLocator,
                                              c.szHwLocator, "SYSTEM_BUS", &pDev), 0);
        Dapi2_I_GenerateDeviceName(pDev);
        EXPECT_STREQ(Dapi2_GetDeviceName(pDev), c.szExpect) << (c.szType ? c.szType : "(null)");
    }
    Dapi2_I_GenerateDeviceName(NULL);
}
