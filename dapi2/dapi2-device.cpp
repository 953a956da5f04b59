/* dapi2-device.cpp - the framework's device model: create functions and their
 * HW locator formats, the junk and enumeration lists, attaching tests, FRU data
 * and system information, getters, default device names and list release.
 * Main thread only; the two lists are process-wide and not locked. */
#include "dapi2-device.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "memory-alloc.h"
#include "trace.h"

CGenList g_Dapi2DeviceJunkList;
CGenList g_Dapi2DeviceEnumList;

/* Counter of Dapi2_CreateDeviceUSB: raised before each use, never reset. */
static uint32_t s_uUsbCounter = 0;

/* Copy of a text for a record field; null (also when memory is short) stays null. */
static char *CopyText(const char *szText)
{
    return szText == NULL ? NULL : ZoltAllocStringEx(szText);
}

/* Dapi2_I_CreateDeviceWorker - creates a device record holding copies of the six
 * texts (a null text, or one that could not be copied, stays null), tests
 * supported "*", no FRU, no system information, and appends it to
 * g_Dapi2DeviceJunkList (constructed, non-owning, when empty). Stores the record
 * in *ppOut when ppOut is not null. Returns 0, or 27 when the record could not be
 * obtained or listed (nothing is left behind and *ppOut is untouched). */
int Dapi2_I_CreateDeviceWorker(int32_t iId, const char *szName, const char *szDescription,
                               const char *szOsLocator, const char *szHwLocator,
                               const char *szDevType, const char *szBusType, Dapi2Device **ppOut)
{
    Dapi2Device *pDev = (Dapi2Device *)calloc(1, sizeof(Dapi2Device));
    if (pDev == NULL)
        return DAPI2_DEVICE_NOMEM;
    pDev->iDeviceId = iId;
    pDev->szName = CopyText(szName);
    pDev->szDescription = CopyText(szDescription);
    pDev->szOsLocator = CopyText(szOsLocator);
    pDev->szHwLocator = CopyText(szHwLocator);
    pDev->szDevType = CopyText(szDevType);
    pDev->szBusType = CopyText(szBusType);
    pDev->szTestsSupported = CopyText("*");
    if (CGenListGetCount(&g_Dapi2DeviceJunkList) == 0)
        CGenListConstruct(&g_Dapi2DeviceJunkList, 0, NULL);
    if (!CGenListPushBack(&g_Dapi2DeviceJunkList, pDev)) {
        Dapi2_I_KillDevice(pDev);
        free(pDev);
        return DAPI2_DEVICE_NOMEM;
    }
    if (ppOut != NULL)
        *ppOut = pDev;
    TPRINTF(3, __FILE__, __LINE__, "", "Added device %p\n", (void *)pDev);
    return DAPI2_DEVICE_OK;
}

/* Formats the HW locator into a DAPI2_HWLOCATOR_SIZE buffer (cut when longer)
 * and runs the worker. Returns 0 whatever the worker gave. */
static int CreateWithLocator(const char *szType, int32_t iId, const char *szName,
                             const char *szOsLocator, const char *szDescription,
                             const char *szBusType, Dapi2Device **ppOut, const char *szFormat, ...)
    __attribute__((format(printf, 8, 9)));
static int CreateWithLocator(const char *szType, int32_t iId, const char *szName,
                             const char *szOsLocator, const char *szDescription,
                             const char *szBusType, Dapi2Device **ppOut, const char *szFormat, ...)
{
    char szHwLocator[DAPI2_HWLOCATOR_SIZE];
    va_list args;
    va_start(args, szFormat);
    vsnprintf(szHwLocator, sizeof szHwLocator, szFormat, args);
    va_end(args);
    Dapi2_I_CreateDeviceWorker(iId, szName, szDescription, szOsLocator, szHwLocator, szType,
                               szBusType, ppOut);
    return DAPI2_DEVICE_OK;
}

/* 1 when szType equals one of the keywords (exact, case-sensitive). */
static int TypeIs(const char *szType, const char *szKeyword)
{
    return szType != NULL && strcmp(szType, szKeyword) == 0;
}

/* Dapi2_CreateDeviceBus - "PCI:%u", "1394:%u" or "PCMCIA:%u" by type, bus
 * "SYSTEM_BUS". Returns 0, or 22 for another type keyword (nothing created).
 * The created device is in the junk list until Dapi2_AddDevice. */
int Dapi2_CreateDeviceBus(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                          Dapi2Device **ppOut)
{
    const char *szPrefix;
    if (TypeIs(szType, "PCI"))
        szPrefix = "PCI";
    else if (TypeIs(szType, "1394"))
        szPrefix = "1394";
    else if (TypeIs(szType, "PCMCIA"))
        szPrefix = "PCMCIA";
    else
        return DAPI2_DEVICE_BADARG;
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS", ppOut,
                             "%s:%u", szPrefix, uNumber);
}

/* Dapi2_CreateDeviceModem - "MODEM:%u" of the port, bus "COM_BUS". Returns 0,
 * or 22 for port 0. */
int Dapi2_CreateDeviceModem(const char *szType, int32_t iId, const char *szName,
                            const char *szOsLocator, const char *szDescription, uint32_t uPort,
                            Dapi2Device **ppOut)
{
    if (uPort == 0)
        return DAPI2_DEVICE_BADARG;
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "COM_BUS", ppOut,
                             "MODEM:%u", uPort);
}

/* Dapi2_CreateDeviceFD - "FD:%u", bus "SYSTEM_BUS". Returns 0. */
int Dapi2_CreateDeviceFD(const char *szType, int32_t iId, const char *szName,
                         const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                         Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS", ppOut,
                             "FD:%u", uNumber);
}

/* Dapi2_CreateDeviceSCSI - "SCSI:%u:%u:%u:%u", bus "SCSI_BUS". Returns 0. */
int Dapi2_CreateDeviceSCSI(const char *szType, int32_t iId, const char *szName,
                           const char *szOsLocator, const char *szDescription, uint32_t uA,
                           uint32_t uB, uint32_t uC, uint32_t uD, Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SCSI_BUS", ppOut,
                             "SCSI:%u:%u:%u:%u", uA, uB, uC, uD);
}

/* Dapi2_CreateDevice1394 - "1394:%u:%u:%u", bus "SYSTEM_BUS". Returns 0. */
int Dapi2_CreateDevice1394(const char *szType, int32_t iId, const char *szName,
                           const char *szOsLocator, const char *szDescription, uint32_t uA,
                           uint32_t uB, uint32_t uC, Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS", ppOut,
                             "1394:%u:%u:%u", uA, uB, uC);
}

/* Dapi2_CreateDeviceIDE - "IDE:%u:%u", bus "IDE_BUS". Returns 0. */
int Dapi2_CreateDeviceIDE(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uA,
                          uint32_t uB, Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "IDE_BUS", ppOut,
                             "IDE:%u:%u", uA, uB);
}

/* Dapi2_CreateDeviceUSB - "USB:%u:%u" of the process-wide USB counter (raised by
 * one before each use, so the first device gets 1) and the number, bus
 * "USB_BUS". Returns 0. */
int Dapi2_CreateDeviceUSB(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                          Dapi2Device **ppOut)
{
    ++s_uUsbCounter;
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "USB_BUS", ppOut,
                             "USB:%u:%u", s_uUsbCounter, uNumber);
}

/* Dapi2_CreateDeviceUSBEx - "USB:%u:%u" of the two numbers, bus "USB_BUS".
 * Returns 0. */
int Dapi2_CreateDeviceUSBEx(const char *szType, int32_t iId, const char *szName,
                            const char *szOsLocator, const char *szDescription, uint32_t uA,
                            uint32_t uB, Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "USB_BUS", ppOut,
                             "USB:%u:%u", uA, uB);
}

/* Dapi2_CreateDeviceNet - "NET:%02X:%02X:%02X:%02X:%02X:%02X" of the six address
 * values at puMac, bus "SYSTEM_BUS". Returns 0, or 22 when puMac is null. */
int Dapi2_CreateDeviceNet(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, const uint32_t *puMac,
                          Dapi2Device **ppOut)
{
    if (puMac == NULL)
        return DAPI2_DEVICE_BADARG;
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS", ppOut,
                             "NET:%02X:%02X:%02X:%02X:%02X:%02X", puMac[0], puMac[1], puMac[2],
                             puMac[3], puMac[4], puMac[5]);
}

/* Dapi2_CreateDevicePort - "COM:%u:%04lx", "LPT:%u:%04lx" or "IR:%u:%04lx" by
 * type (number and I/O address), bus "SYSTEM_BUS". Returns 0, or 22 for
 * another type keyword. */
int Dapi2_CreateDevicePort(const char *szType, int32_t iId, const char *szName,
                           const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                           unsigned long ulIoAddress, Dapi2Device **ppOut)
{
    if (!TypeIs(szType, "COM") && !TypeIs(szType, "LPT") && !TypeIs(szType, "IR"))
        return DAPI2_DEVICE_BADARG;
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS", ppOut,
                             "%s:%u:%04lx", szType, uNumber, ulIoAddress);
}

/* Dapi2_CreateDevicePrinter - "PRINT:%u", bus "SYSTEM_BUS". Returns 0. */
int Dapi2_CreateDevicePrinter(const char *szType, int32_t iId, const char *szName,
                              const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                              Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS", ppOut,
                             "PRINT:%u", uNumber);
}

/* Dapi2_CreateDeviceCPU - "CPU:%u", bus "SYSTEM_BUS". Returns 0. */
int Dapi2_CreateDeviceCPU(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                          Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS", ppOut,
                             "CPU:%u", uNumber);
}

/* Dapi2_CreateDeviceSys - "RTC", "CMOS", "KBD", "MOUSE:0", "SYSTEM" or
 * "SYSTEMBOARD" by type (a system mouse has no number of its own: 0), bus
 * "SYSTEM_BUS". Returns 0, or 22 for another type keyword. */
int Dapi2_CreateDeviceSys(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, Dapi2Device **ppOut)
{
    static const char *const s_aszFixed[] = { "RTC", "CMOS", "KBD", "SYSTEM", "SYSTEMBOARD" };
    if (TypeIs(szType, "MOUSE"))
        return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS",
                                 ppOut, "MOUSE:%u", 0u);
    for (const char *szFixed : s_aszFixed)
        if (TypeIs(szType, szFixed))
            return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS",
                                     ppOut, "%s", szFixed);
    return DAPI2_DEVICE_BADARG;
}

/* Dapi2_CreateDeviceMemory - "MEM:%u", bus "SYSTEM_BUS". Returns 0. */
int Dapi2_CreateDeviceMemory(const char *szType, int32_t iId, const char *szName,
                             const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                             Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS", ppOut,
                             "MEM:%u", uNumber);
}

/* Dapi2_CreateDevicePCI - "PCI:%u:%u:%u", bus "PCI_BUS". Returns 0. */
int Dapi2_CreateDevicePCI(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uBus,
                          uint32_t uDevice, uint32_t uFunction, Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "PCI_BUS", ppOut,
                             "PCI:%u:%u:%u", uBus, uDevice, uFunction);
}

/* Dapi2_CreateDeviceAGP - "AGP:%u:%u:%u", bus "AGP_BUS". Returns 0. */
int Dapi2_CreateDeviceAGP(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uBus,
                          uint32_t uDevice, uint32_t uFunction, Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "AGP_BUS", ppOut,
                             "AGP:%u:%u:%u", uBus, uDevice, uFunction);
}

/* Dapi2_CreateDevicePS2 - "PS2KB" for "KBD", "PS2MOUSE" for "MOUSE", bus
 * "PS2_BUS". Returns 0, or 22 for another type keyword. */
int Dapi2_CreateDevicePS2(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, Dapi2Device **ppOut)
{
    const char *szLocator;
    if (TypeIs(szType, "KBD"))
        szLocator = "PS2KB";
    else if (TypeIs(szType, "MOUSE"))
        szLocator = "PS2MOUSE";
    else
        return DAPI2_DEVICE_BADARG;
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "PS2_BUS", ppOut,
                             "%s", szLocator);
}

/* Dapi2_CreateDeviceCOM - "COM:%u:%04lx" with the number and I/O address 0 (this
 * form has no address argument), bus "COM_BUS". Returns 0. */
int Dapi2_CreateDeviceCOM(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                          Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "COM_BUS", ppOut,
                             "COM:%u:%04lx", uNumber, 0ul);
}

/* Dapi2_CreateDeviceMonitor - "MON:%u", bus "SYSTEM_BUS". Returns 0. */
int Dapi2_CreateDeviceMonitor(const char *szType, int32_t iId, const char *szName,
                              const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                              Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS", ppOut,
                             "MON:%u", uNumber);
}

/* Dapi2_CreateDeviceMM - "JOY:%u" for "GAMEINPUT", "MIC:%u" for "MICROPHONE",
 * "CAMERA:%u" for "CAMERA", "SCAN:%u" for "SCANNER", "DSP" for "WAV"; bus
 * "SYSTEM_BUS". Returns 0, or 22 for another type keyword. */
int Dapi2_CreateDeviceMM(const char *szType, int32_t iId, const char *szName,
                         const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                         Dapi2Device **ppOut)
{
    static const struct {
        const char *szType;
        const char *szPrefix;
    } s_Numbered[] = {
        { "GAMEINPUT", "JOY" },
        { "MICROPHONE", "MIC" },
        { "CAMERA", "CAMERA" },
        { "SCANNER", "SCAN" },
    };
    if (TypeIs(szType, "WAV"))
        return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS",
                                 ppOut, "%s", "DSP");
    for (const auto &entry : s_Numbered)
        if (TypeIs(szType, entry.szType))
            return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS",
                                     ppOut, "%s:%u", entry.szPrefix, uNumber);
    return DAPI2_DEVICE_BADARG;
}

/* Dapi2_CreateDeviceMouse - "MOUSE:%u", bus "SYSTEM_BUS". Returns 0. */
int Dapi2_CreateDeviceMouse(const char *szType, int32_t iId, const char *szName,
                            const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                            Dapi2Device **ppOut)
{
    return CreateWithLocator(szType, iId, szName, szOsLocator, szDescription, "SYSTEM_BUS", ppOut,
                             "MOUSE:%u", uNumber);
}

/* Dapi2_CreateDeviceISA - ISA devices are not modelled: creates nothing, 0. */
int Dapi2_CreateDeviceISA(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, Dapi2Device **ppOut)
{
    return DAPI2_DEVICE_OK;
}

/* Dapi2_CreateDeviceGeneric - has no locator to give: creates nothing, 0. */
int Dapi2_CreateDeviceGeneric(const char *szType, int32_t iId, const char *szName,
                              const char *szOsLocator, const char *szDescription,
                              Dapi2Device **ppOut)
{
    return DAPI2_DEVICE_OK;
}

/* Dapi2_CreateDeviceGenericEx - a device with every text from the caller (the
 * description comes before the OS locator here). Returns 0. */
int Dapi2_CreateDeviceGenericEx(const char *szType, int32_t iId, const char *szName,
                                const char *szDescription, const char *szOsLocator,
                                const char *szHwLocator, const char *szBusType, Dapi2Device **ppOut)
{
    Dapi2_I_CreateDeviceWorker(iId, szName, szDescription, szOsLocator, szHwLocator, szType,
                               szBusType, ppOut);
    return DAPI2_DEVICE_OK;
}

/* Dapi2_AddDevice - reports a device: appends it to g_Dapi2DeviceEnumList
 * (constructed, owning with Dapi2_I_KillDevice, when empty) and removes its
 * first entry from g_Dapi2DeviceJunkList. The list owns it from then on.
 * Returns 0; 22 for null; 27 when it could not be appended (it then stays in
 * the junk list and is still released by Dapi2_KillDeviceList). */
int Dapi2_AddDevice(Dapi2Device *pDevice)
{
    if (pDevice == NULL)
        return DAPI2_DEVICE_BADARG;
    if (CGenListGetCount(&g_Dapi2DeviceEnumList) == 0)
        CGenListConstruct(&g_Dapi2DeviceEnumList, 1, Dapi2_I_KillDevice);
    if (!CGenListPushBack(&g_Dapi2DeviceEnumList, pDevice))
        return DAPI2_DEVICE_NOMEM;
    CGenListIter it;
    CGenListIterInit(&it, &g_Dapi2DeviceJunkList);
    while (!CGenListIterAtEnd(&it)) {
        if (CGenListIterGetData(&it) == pDevice) {
            CGenListErase(&g_Dapi2DeviceJunkList, it);
            break;
        }
        CGenListIterAdv(&it);
    }
    return DAPI2_DEVICE_OK;
}

/* Dapi2_AddTestsToDevice - replaces the tests-supported text by a copy of
 * szTests (the old text is released). Returns 0, 22 for a null device or text,
 * 27 when the copy failed (the old text is kept). */
int Dapi2_AddTestsToDevice(Dapi2Device *pDevice, const char *szTests)
{
    if (pDevice == NULL || szTests == NULL)
        return DAPI2_DEVICE_BADARG;
    char *szCopy = ZoltAllocStringEx(szTests);
    if (szCopy == NULL)
        return DAPI2_DEVICE_NOMEM;
    free(pDevice->szTestsSupported);
    pDevice->szTestsSupported = szCopy;
    return DAPI2_DEVICE_OK;
}

/* Dapi2_AddFruToDevice - gives the device a FRU record with copies of the six
 * texts, replacing (and releasing) any FRU it had. Returns 0, 22 for a null
 * device, 27 out of memory (the device is unchanged). */
int Dapi2_AddFruToDevice(Dapi2Device *pDevice, const char *szManufacturer, const char *szModel,
                         const char *szSerial, const char *szFirmwareRev,
                         const char *szFirmwareDate, const char *szPhysAddress)
{
    if (pDevice == NULL)
        return DAPI2_DEVICE_BADARG;
    Dapi2FruInfo *pFru = Dapi2_I_CreateFruInfo(szManufacturer, szModel, szSerial, szFirmwareRev,
                                               szFirmwareDate, szPhysAddress);
    if (pFru == NULL)
        return DAPI2_DEVICE_NOMEM;
    Dapi2_I_FreeFru(pDevice->pFruInfo);
    pDevice->pFruInfo = pFru;
    return DAPI2_DEVICE_OK;
}

/* Dapi2_AddFruAdditionalInfoToDevice - adds one additional-information record to
 * the device's FRU; a device without FRU first gets one with six empty texts.
 * Returns 0, 22 for a null device, 27 out of memory. */
int Dapi2_AddFruAdditionalInfoToDevice(Dapi2Device *pDevice, const char *szField,
                                       const char *szDescription, const char *szValue)
{
    if (pDevice == NULL)
        return DAPI2_DEVICE_BADARG;
    if (pDevice->pFruInfo == NULL) {
        pDevice->pFruInfo = Dapi2_I_CreateFruInfo("", "", "", "", "", "");
        if (pDevice->pFruInfo == NULL)
            return DAPI2_DEVICE_NOMEM;
    }
    return Dapi2_AddFruAdditionalInfoToFru(pDevice->pFruInfo, szField, szDescription, szValue);
}

/* Dapi2_AddSysInfoToDevice - appends a system-information record with copies of
 * the three texts at the end of the device's chain. Returns 0, 22 for a null
 * device, 27 out of memory (the chain is unchanged). */
int Dapi2_AddSysInfoToDevice(Dapi2Device *pDevice, const char *szKey, const char *szValue,
                             const char *szDescription)
{
    if (pDevice == NULL)
        return DAPI2_DEVICE_BADARG;
    Dapi2SysInfo *pNew = Dapi2_I_CreateSysInfo(szKey, szValue, szDescription);
    if (pNew == NULL)
        return DAPI2_DEVICE_NOMEM;
    Dapi2SysInfo **ppLink = &pDevice->pSysInfo;
    while (*ppLink != NULL)
        ppLink = &(*ppLink)->pNext;
    *ppLink = pNew;
    return DAPI2_DEVICE_OK;
}

/* Getters: each returns the field (owned by the record), or null (-1 for the id)
 * when given null. */
int32_t Dapi2_GetDeviceId(const Dapi2Device *pDevice)
{
    return pDevice == NULL ? -1 : pDevice->iDeviceId;
}
const char *Dapi2_GetDeviceName(const Dapi2Device *pDevice)
{
    return pDevice == NULL ? NULL : pDevice->szName;
}
const char *Dapi2_GetDeviceDescription(const Dapi2Device *pDevice)
{
    return pDevice == NULL ? NULL : pDevice->szDescription;
}
const char *Dapi2_GetDeviceOsLocator(const Dapi2Device *pDevice)
{
    return pDevice == NULL ? NULL : pDevice->szOsLocator;
}
const char *Dapi2_GetDeviceHwLocator(const Dapi2Device *pDevice)
{
    return pDevice == NULL ? NULL : pDevice->szHwLocator;
}
const char *Dapi2_GetDeviceDevType(const Dapi2Device *pDevice)
{
    return pDevice == NULL ? NULL : pDevice->szDevType;
}
const char *Dapi2_GetDeviceBusType(const Dapi2Device *pDevice)
{
    return pDevice == NULL ? NULL : pDevice->szBusType;
}
Dapi2FruInfo *Dapi2_GetDeviceFruInfo(const Dapi2Device *pDevice)
{
    return pDevice == NULL ? NULL : pDevice->pFruInfo;
}
Dapi2SysInfo *Dapi2_GetDeviceSysInfo(const Dapi2Device *pDevice)
{
    return pDevice == NULL ? NULL : pDevice->pSysInfo;
}
const char *Dapi2_GetTestsSupported(const Dapi2Device *pDevice)
{
    return pDevice == NULL ? NULL : pDevice->szTestsSupported;
}
const char *Dapi2_GetDeviceTestsSupported(const Dapi2Device *pDevice)
{
    return Dapi2_GetTestsSupported(pDevice);
}

const char *Dapi2_GetFruManufacturerName(const Dapi2FruInfo *pFru)
{
    return pFru == NULL ? NULL : pFru->szManufacturerName;
}
const char *Dapi2_GetFruModelNumber(const Dapi2FruInfo *pFru)
{
    return pFru == NULL ? NULL : pFru->szModelNumber;
}
const char *Dapi2_GetFruSerialNumber(const Dapi2FruInfo *pFru)
{
    return pFru == NULL ? NULL : pFru->szSerialNumber;
}
const char *Dapi2_GetFruFirmwareRevision(const Dapi2FruInfo *pFru)
{
    return pFru == NULL ? NULL : pFru->szFirmwareRevision;
}
const char *Dapi2_GetFruFirmwareDate(const Dapi2FruInfo *pFru)
{
    return pFru == NULL ? NULL : pFru->szFirmwareDate;
}
const char *Dapi2_GetFruPhysicalAddress(const Dapi2FruInfo *pFru)
{
    return pFru == NULL ? NULL : pFru->szPhysicalAddress;
}

/* Dapi2_GetFirstFruAdditionalInfo - places the FRU's position at the start of
 * its additional-information list and returns the first record, or null (null
 * FRU, no list, empty list). */
Dapi2FruAdditionalInfo *Dapi2_GetFirstFruAdditionalInfo(Dapi2FruInfo *pFru)
{
    if (pFru == NULL || pFru->pAddInfoList == NULL || pFru->pAddInfoItr == NULL)
        return NULL;
    CGenListIterInit(pFru->pAddInfoItr, pFru->pAddInfoList);
    return (Dapi2FruAdditionalInfo *)CGenListIterGetData(pFru->pAddInfoItr);
}

/* Dapi2_GetNextFruAdditionalInfo - advances the FRU's position and returns the
 * record there; null when the position was or becomes the end. */
Dapi2FruAdditionalInfo *Dapi2_GetNextFruAdditionalInfo(Dapi2FruInfo *pFru)
{
    if (pFru == NULL || pFru->pAddInfoList == NULL || pFru->pAddInfoItr == NULL)
        return NULL;
    if (CGenListIterAtEnd(pFru->pAddInfoItr))
        return NULL;
    CGenListIterAdv(pFru->pAddInfoItr);
    return (Dapi2FruAdditionalInfo *)CGenListIterGetData(pFru->pAddInfoItr);
}

const char *Dapi2_GetFruAdditionalInfoField(const Dapi2FruAdditionalInfo *pAddInfo)
{
    return pAddInfo == NULL ? NULL : pAddInfo->szField;
}
const char *Dapi2_GetFruAdditionalInfoDescription(const Dapi2FruAdditionalInfo *pAddInfo)
{
    return pAddInfo == NULL ? NULL : pAddInfo->szDescription;
}
const char *Dapi2_GetFruAdditionalInfoValue(const Dapi2FruAdditionalInfo *pAddInfo)
{
    return pAddInfo == NULL ? NULL : pAddInfo->szValue;
}

const char *Dapi2_GetSysInfoKey(const Dapi2SysInfo *pSysInfo)
{
    return pSysInfo == NULL ? NULL : pSysInfo->szKey;
}
const char *Dapi2_GetSysInfoValue(const Dapi2SysInfo *pSysInfo)
{
    return pSysInfo == NULL ? NULL : pSysInfo->szValue;
}
const char *Dapi2_GetSysInfoDescription(const Dapi2SysInfo *pSysInfo)
{
    return pSysInfo == NULL ? NULL : pSysInfo->szDescription;
}
Dapi2SysInfo *Dapi2_GetNextSysInfo(const Dapi2SysInfo *pSysInfo)
{
    return pSysInfo == NULL ? NULL : pSysInfo->pNext;
}

/* Forms of a default device name. */
enum DefaultNameForm {
    NAME_WITH_LOCATOR, /* display text + HW locator */
    NAME_WITH_ID,      /* display text + device id in decimal */
    NAME_FIXED,        /* display text alone */
    NAME_MODEM,        /* display text + OS locator after its first "S" */
    NAME_KEEP,         /* the name is left as it is */
};

/* Default names by type keyword (exact, case-sensitive). */
static const struct {
    const char *szType;
    const char *szDisplay;
    DefaultNameForm eForm;
} s_DefaultNames[] = {
    { "1394", "IEEE1394 Controller ", NAME_WITH_ID },
    { "AGP", "AGP Bus ", NAME_WITH_LOCATOR },
    { "CABLEMODEM", "Cable Modem ", NAME_WITH_LOCATOR },
    { "CAMERA", "Camera ", NAME_WITH_ID },
    { "CD", "CD-ROM Drive ", NAME_WITH_LOCATOR },
    { "CDR", "CDR Drive ", NAME_WITH_LOCATOR },
    { "CDRW", "CDRW Drive ", NAME_WITH_LOCATOR },
    { "CHASSIS", "Chassis ", NAME_WITH_LOCATOR },
    { "CMOS", "CMOS", NAME_FIXED },
    { "COM", "Serial Port ", NAME_WITH_ID },
    { "CPU", "CPU ", NAME_WITH_ID },
    { "CPU64", "CPU64 ", NAME_WITH_ID },
    { "DISPLAY", "Monitor ", NAME_WITH_ID },
    { "DSL", "DSL Adapter ", NAME_WITH_LOCATOR },
    { "DVD", "DVD Drive ", NAME_WITH_LOCATOR },
    { "DVDMINUSRW", "DVD-RW Drive ", NAME_WITH_LOCATOR },
    { "DVDPLUSRW", "DVD+RW Drive ", NAME_WITH_LOCATOR },
    { "FD", "FD ", NAME_WITH_ID },
    { "GAMEINPUT", "Game Input Device ", NAME_WITH_ID },
    { "GPS", "GPS Receiver ", NAME_WITH_LOCATOR },
    { "HD", "Hard Drive ", NAME_WITH_LOCATOR },
    { "HUB", "USB Bus ", NAME_WITH_ID },
    { "IDE", "IDE ", NAME_WITH_LOCATOR },
    { "IR", "Infared Port ", NAME_WITH_ID },
    { "ISDN", "ISDN Adapter ", NAME_WITH_LOCATOR },
    { "KBD", "Keyboard ", NAME_WITH_ID },
    { "LPT", "Parallel Port ", NAME_WITH_ID },
    { "LS120", "LS Drive ", NAME_WITH_LOCATOR },
    { "MEMORY", "RAM", NAME_FIXED },
    { "MICROPHONE", "Microphone ", NAME_WITH_LOCATOR },
    { "MIDI", "MIDI Adapter ", NAME_WITH_LOCATOR },
    { "MODEM", "Modem Serial:", NAME_MODEM },
    { "MOUSE", "Mouse ", NAME_WITH_ID },
    { "NET", "Network Card ", NAME_WITH_LOCATOR },
    { "OPTICAL", "Optical Drive ", NAME_WITH_LOCATOR },
    { "OTHER", NULL, NAME_KEEP },
    { "PCI", "PCI Bus ", NAME_WITH_ID },
    { "PCMCIA", "PCMCIA Controller ", NAME_WITH_ID },
    { "PRINTER", "Printer ", NAME_WITH_ID },
    { "PS", "Power Supply ", NAME_WITH_LOCATOR },
    { "REMSTORAGE", "Removable Storage Device ", NAME_WITH_ID },
    { "RTC", "Real Time Clock ", NAME_WITH_LOCATOR },
    { "SCANNER", "Scanner ", NAME_WITH_ID },
    { "SCSI", "SCSI", NAME_WITH_LOCATOR },
    { "SMBUS", "SMBUS ", NAME_WITH_LOCATOR },
    { "SPEAKER", "Speaker ", NAME_WITH_LOCATOR },
    { "SYSTEM", "System ", NAME_FIXED },
    { "SYSTEMBOARD", "SystemBoard", NAME_FIXED },
    { "TAPE", "Tape Drive ", NAME_WITH_LOCATOR },
    { "TEMP", "Temperature Sensor ", NAME_WITH_LOCATOR },
    { "USB CONT", "USB Controller ", NAME_WITH_ID },
    { "VIDEOCONTROLLER", "Video Card ", NAME_WITH_LOCATOR },
    { "VOLT", "Voltage Sensor ", NAME_WITH_LOCATOR },
    { "WAV", "WAV Adapter ", NAME_WITH_LOCATOR },
    { "ZIP", "Zip Drive ", NAME_WITH_ID },
};

/* Dapi2_I_GenerateDeviceName - replaces the device's name by the default name of
 * its type keyword: display text followed by the HW locator, by the id in
 * decimal, by nothing, or (MODEM) by the OS locator after its first "S" (the
 * whole OS locator when it has no "S"); an unknown type gives "Unknown " and the
 * id; "OTHER" keeps the name. A null locator counts as empty. The old name is
 * released; when memory is short the old name is kept. Null is ignored. */
void Dapi2_I_GenerateDeviceName(Dapi2Device *pDevice)
{
    if (pDevice == NULL)
        return;
    const char *szDisplay = "Unknown ";
    DefaultNameForm eForm = NAME_WITH_ID;
    for (const auto &entry : s_DefaultNames) {
        if (TypeIs(pDevice->szDevType, entry.szType)) {
            szDisplay = entry.szDisplay;
            eForm = entry.eForm;
            break;
        }
    }
    if (eForm == NAME_KEEP)
        return;

    char szId[16];
    const char *szTail = "";
    switch (eForm) {
    case NAME_WITH_LOCATOR:
        szTail = pDevice->szHwLocator != NULL ? pDevice->szHwLocator : "";
        break;
    case NAME_WITH_ID:
        snprintf(szId, sizeof szId, "%i", (int)pDevice->iDeviceId);
        szTail = szId;
        break;
    case NAME_MODEM:
        if (pDevice->szOsLocator != NULL) {
            const char *szS = strchr(pDevice->szOsLocator, 'S');
            szTail = szS != NULL ? szS + 1 : pDevice->szOsLocator;
        }
        break;
    default:
        break;
    }
    size_t uLen = strlen(szDisplay) + strlen(szTail);
    char *szName = (char *)malloc(uLen + 1);
    if (szName == NULL)
        return;
    snprintf(szName, uLen + 1, "%s%s", szDisplay, szTail);
    free(pDevice->szName);
    pDevice->szName = szName;
}

/* Dapi2_KillDeviceList - releases every device: the enumeration list is cleared
 * (each device through Dapi2_I_KillDevice, then freed by the list), then every
 * device still in the junk list is killed, removed and freed as well (that list
 * does not own them, but nothing else would release them). Both lists are empty
 * afterwards and may be filled again. Called by each mode and again when
 * communications stop; the second call finds nothing to do. */
void Dapi2_KillDeviceList(void)
{
    if (CGenListGetCount(&g_Dapi2DeviceEnumList) > 0)
        CGenListClear(&g_Dapi2DeviceEnumList);
    CGenListIter it;
    CGenListIterInit(&it, &g_Dapi2DeviceJunkList);
    while (!CGenListIterAtEnd(&it)) {
        Dapi2Device *pDev = (Dapi2Device *)CGenListIterGetData(&it);
        Dapi2_I_KillDevice(pDev);
        it = CGenListErase(&g_Dapi2DeviceJunkList, it);
        free(pDev);
    }
}
