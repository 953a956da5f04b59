/* dapi2-device.h - the framework's device model: the create functions with their
 * locator formats, the junk and enumeration lists, attaching tests, FRU data and
 * system information, the getters, default device names and list release.
 * Main thread only; the lists are not locked. Records: model/device-record.h. */
#ifndef ZOLT_DAPI2_DEVICE_H
#define ZOLT_DAPI2_DEVICE_H

#include <stdint.h>

#include "device-record.h"
#include "gen-list.h"

/* Every device ever created (non-owning, built on first use). */
extern CGenList g_Dapi2DeviceJunkList;
/* The devices reported (enumerate mode) or returned by the engine (other modes);
 * owning, element destructor Dapi2_I_KillDevice. */
extern CGenList g_Dapi2DeviceEnumList;

/* Size of the buffer each create function formats its HW locator into. */
#define DAPI2_HWLOCATOR_SIZE 64

/* Creation. Every create function but Dapi2_CreateDeviceGenericEx takes the type
 * keyword, device id, name, OS locator and description, then its own arguments,
 * and last an out pointer (may be null) that receives the new device. The device
 * goes into g_Dapi2DeviceJunkList until Dapi2_AddDevice moves it.
 * Returns 0 (also when memory ran out and nothing was created: *ppOut is then
 * untouched) or 22 for a type keyword the function does not accept. */
int Dapi2_I_CreateDeviceWorker(int32_t iId, const char *szName, const char *szDescription,
                               const char *szOsLocator, const char *szHwLocator,
                               const char *szDevType, const char *szBusType,
                               Dapi2Device **ppOut); /* 0, or 27 out of memory */

int Dapi2_CreateDeviceBus(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                          Dapi2Device **ppOut); /* "PCI", "1394", "PCMCIA" */
int Dapi2_CreateDeviceModem(const char *szType, int32_t iId, const char *szName,
                            const char *szOsLocator, const char *szDescription, uint32_t uPort,
                            Dapi2Device **ppOut); /* port 0 gives 22 */
int Dapi2_CreateDeviceFD(const char *szType, int32_t iId, const char *szName,
                         const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                         Dapi2Device **ppOut);
int Dapi2_CreateDeviceSCSI(const char *szType, int32_t iId, const char *szName,
                           const char *szOsLocator, const char *szDescription, uint32_t uA,
                           uint32_t uB, uint32_t uC, uint32_t uD, Dapi2Device **ppOut);
int Dapi2_CreateDevice1394(const char *szType, int32_t iId, const char *szName,
                           const char *szOsLocator, const char *szDescription, uint32_t uA,
                           uint32_t uB, uint32_t uC, Dapi2Device **ppOut);
int Dapi2_CreateDeviceIDE(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uA,
                          uint32_t uB, Dapi2Device **ppOut);
int Dapi2_CreateDeviceUSB(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                          Dapi2Device **ppOut); /* "USB:<counter>:<n>" */
int Dapi2_CreateDeviceUSBEx(const char *szType, int32_t iId, const char *szName,
                            const char *szOsLocator, const char *szDescription, uint32_t uA,
                            uint32_t uB, Dapi2Device **ppOut);
int Dapi2_CreateDeviceNet(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, const uint32_t *puMac,
                          Dapi2Device **ppOut); /* six values */
int Dapi2_CreateDevicePort(const char *szType, int32_t iId, const char *szName,
                           const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                           unsigned long ulIoAddress, Dapi2Device **ppOut); /* "COM", "LPT", "IR" */
int Dapi2_CreateDevicePrinter(const char *szType, int32_t iId, const char *szName,
                              const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                              Dapi2Device **ppOut);
int Dapi2_CreateDeviceCPU(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                          Dapi2Device **ppOut);
int Dapi2_CreateDeviceSys(
    const char *szType, int32_t iId, const char *szName, const char *szOsLocator,
    const char *szDescription,
    Dapi2Device **ppOut); /* "RTC","CMOS","KBD","MOUSE","SYSTEM","SYSTEMBOARD" */
int Dapi2_CreateDeviceMemory(const char *szType, int32_t iId, const char *szName,
                             const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                             Dapi2Device **ppOut);
int Dapi2_CreateDevicePCI(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uBus,
                          uint32_t uDevice, uint32_t uFunction, Dapi2Device **ppOut);
int Dapi2_CreateDeviceAGP(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uBus,
                          uint32_t uDevice, uint32_t uFunction, Dapi2Device **ppOut);
int Dapi2_CreateDevicePS2(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription,
                          Dapi2Device **ppOut); /* "KBD", "MOUSE" */
int Dapi2_CreateDeviceCOM(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                          Dapi2Device **ppOut); /* "COM:<n>:0000" */
int Dapi2_CreateDeviceMonitor(const char *szType, int32_t iId, const char *szName,
                              const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                              Dapi2Device **ppOut);
int Dapi2_CreateDeviceMM(const char *szType, int32_t iId, const char *szName,
                         const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                         Dapi2Device **ppOut);
/* "GAMEINPUT", "MICROPHONE", "CAMERA", "SCANNER", "WAV" */
int Dapi2_CreateDeviceMouse(const char *szType, int32_t iId, const char *szName,
                            const char *szOsLocator, const char *szDescription, uint32_t uNumber,
                            Dapi2Device **ppOut);
int Dapi2_CreateDeviceISA(const char *szType, int32_t iId, const char *szName,
                          const char *szOsLocator, const char *szDescription,
                          Dapi2Device **ppOut); /* creates nothing, returns 0 */
int Dapi2_CreateDeviceGeneric(const char *szType, int32_t iId, const char *szName,
                              const char *szOsLocator, const char *szDescription,
                              Dapi2Device **ppOut); /* creates nothing, returns 0 */
/* Note the order: description before OS locator; all texts from the caller. */
int Dapi2_CreateDeviceGenericEx(const char *szType, int32_t iId, const char *szName,
                                const char *szDescription, const char *szOsLocator,
                                const char *szHwLocator, const char *szBusType,
                                Dapi2Device **ppOut);

/* Reporting: moves the device from the junk list to the end of the enumeration
 * list (built on first use), which then owns it. 0, 22 for null, 27 when it
 * could not be appended (it then stays in the junk list). */
int Dapi2_AddDevice(Dapi2Device *pDevice);

/* Attaching data. Each returns 0, 22 for a null device (or null tests text),
 * 27 out of memory (the device is then unchanged). A second FRU replaces the
 * first; additional information on a device without FRU first gives it one with
 * six empty texts. */
int Dapi2_AddTestsToDevice(Dapi2Device *pDevice, const char *szTests);
int Dapi2_AddFruToDevice(Dapi2Device *pDevice, const char *szManufacturer, const char *szModel,
                         const char *szSerial, const char *szFirmwareRev,
                         const char *szFirmwareDate, const char *szPhysAddress);
int Dapi2_AddFruAdditionalInfoToDevice(Dapi2Device *pDevice, const char *szField,
                                       const char *szDescription, const char *szValue);
int Dapi2_AddSysInfoToDevice(Dapi2Device *pDevice, const char *szKey, const char *szValue,
                             const char *szDescription);

/* Reading: null (or -1 for the id) when given null. Texts stay owned by the record. */
int32_t Dapi2_GetDeviceId(const Dapi2Device *pDevice);
const char *Dapi2_GetDeviceName(const Dapi2Device *pDevice);
const char *Dapi2_GetDeviceDescription(const Dapi2Device *pDevice);
const char *Dapi2_GetDeviceOsLocator(const Dapi2Device *pDevice);
const char *Dapi2_GetDeviceHwLocator(const Dapi2Device *pDevice);
const char *Dapi2_GetDeviceDevType(const Dapi2Device *pDevice);
const char *Dapi2_GetDeviceBusType(const Dapi2Device *pDevice);
Dapi2FruInfo *Dapi2_GetDeviceFruInfo(const Dapi2Device *pDevice);
Dapi2SysInfo *Dapi2_GetDeviceSysInfo(const Dapi2Device *pDevice);
const char *Dapi2_GetTestsSupported(const Dapi2Device *pDevice);
const char *Dapi2_GetDeviceTestsSupported(const Dapi2Device *pDevice);

const char *Dapi2_GetFruManufacturerName(const Dapi2FruInfo *pFru);
const char *Dapi2_GetFruModelNumber(const Dapi2FruInfo *pFru);
const char *Dapi2_GetFruSerialNumber(const Dapi2FruInfo *pFru);
const char *Dapi2_GetFruFirmwareRevision(const Dapi2FruInfo *pFru);
const char *Dapi2_GetFruFirmwareDate(const Dapi2FruInfo *pFru);
const char *Dapi2_GetFruPhysicalAddress(const Dapi2FruInfo *pFru);
/* First/next walk over the FRU's additional information (the FRU keeps the
 * position); null at the end or when the FRU has none. */
Dapi2FruAdditionalInfo *Dapi2_GetFirstFruAdditionalInfo(Dapi2FruInfo *pFru);
Dapi2FruAdditionalInfo *Dapi2_GetNextFruAdditionalInfo(Dapi2FruInfo *pFru);
const char *Dapi2_GetFruAdditionalInfoField(const Dapi2FruAdditionalInfo *pAddInfo);
const char *Dapi2_GetFruAdditionalInfoDescription(const Dapi2FruAdditionalInfo *pAddInfo);
const char *Dapi2_GetFruAdditionalInfoValue(const Dapi2FruAdditionalInfo *pAddInfo);

/* System-information chain accessors (null when given null). */
const char *Dapi2_GetSysInfoKey(const Dapi2SysInfo *pSysInfo);
const char *Dapi2_GetSysInfoValue(const Dapi2SysInfo *pSysInfo);
const char *Dapi2_GetSysInfoDescription(const Dapi2SysInfo *pSysInfo);
Dapi2SysInfo *Dapi2_GetNextSysInfo(const Dapi2SysInfo *pSysInfo);

/* Replaces the device's name by the default name of its type keyword. */
void Dapi2_I_GenerateDeviceName(Dapi2Device *pDevice);

/* Releases every device of both lists (records included); both lists are empty
 * afterwards and may be filled again. Safe to call on empty lists. */
void Dapi2_KillDeviceList(void);

#endif
