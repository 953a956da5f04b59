/* device-record.h - the device record of the diagnostic framework with its FRU
 * record (plus additional-information records) and its system-information chain:
 * the types, their constructors and the functions that release them.
 * Lives below dapi2/ so that the device-list parser can build records too; the
 * process-wide device lists and the create functions are in dapi2/dapi2-device.h.
 * Ownership: every text in these records is a heap copy (ZoltAllocStringEx) owned
 * by its record; an absent text is null. Main thread only, nothing here locks. */
#ifndef ZOLT_DEVICE_RECORD_H
#define ZOLT_DEVICE_RECORD_H

#include <stdint.h>

#include "gen-list.h"

/* Result codes of the device model. */
#define DAPI2_DEVICE_OK 0
#define DAPI2_DEVICE_BADARG 22 /* null device or FRU, type keyword not accepted */
#define DAPI2_DEVICE_NOMEM 27  /* out of memory */

/* Value of the size word of every FRU record (the record's size on i386). */
#define DAPI2_FRU_SIZE_WORD 36u

/* One free-form FRU field: owned by the FRU's additional-information list. */
struct Dapi2FruAdditionalInfo {
    char *szField;
    char *szDescription;
    char *szValue;
};

/* Field-replaceable-unit data of a device. The additional-information list and
 * its position are created together on the first addition (both null before);
 * the list owns its records (element destructor Dapi2_DestructFruAdditionalInfo). */
struct Dapi2FruInfo {
    uint32_t uSize; /* DAPI2_FRU_SIZE_WORD */
    char *szManufacturerName;
    char *szModelNumber;
    char *szSerialNumber;
    char *szFirmwareRevision;
    char *szFirmwareDate;
    char *szPhysicalAddress;
    CGenList *pAddInfoList;    /* of Dapi2FruAdditionalInfo, or null */
    CGenListIter *pAddInfoItr; /* first/next position in pAddInfoList, or null */
};

/* One system-information item; a device's chain keeps insertion order. */
struct Dapi2SysInfo {
    char *szKey;
    char *szValue;
    char *szDescription;
    Dapi2SysInfo *pNext;
};

/* A device as the module reports it and as the engine returns it. The field
 * order is fixed: the device-list parser fills the first nine in this order. */
struct Dapi2Device {
    int32_t iDeviceId; /* chosen by the module; reports print it "%u" */
    char *szName;
    char *szDescription;
    char *szOsLocator;
    char *szHwLocator;      /* key of system-information requests */
    char *szDevType;        /* type keyword, e.g. "CPU" */
    char *szBusType;        /* "SYSTEM_BUS", "PCI_BUS", ... */
    char *szTestsSupported; /* "*" when created */
    Dapi2FruInfo *pFruInfo; /* or null */
    Dapi2SysInfo *pSysInfo; /* first record of the chain, or null */
};

/* Constructors. Each returns a new heap record holding copies of the given texts
 * (a null text stays null) or null when memory is short (nothing left behind). */
Dapi2FruInfo *Dapi2_I_CreateFruInfo(const char *szManufacturer, const char *szModel,
                                    const char *szSerial, const char *szFirmwareRev,
                                    const char *szFirmwareDate, const char *szPhysAddress);
Dapi2FruAdditionalInfo *
Dapi2_CreateFruAdditionalInfo(const char *szField, const char *szDescription, const char *szValue);
Dapi2SysInfo *Dapi2_I_CreateSysInfo(const char *szKey, const char *szValue,
                                    const char *szDescription);

/* Appends one additional-information record (copies of the texts) to a FRU.
 * Returns 0, 22 for a null FRU, 27 out of memory (the FRU is then unchanged). */
int Dapi2_AddFruAdditionalInfoToFru(Dapi2FruInfo *pFru, const char *szField,
                                    const char *szDescription, const char *szValue);

/* Release. */
void Dapi2_DestructFruAdditionalInfo(void *pAddInfo); /* texts only: list element destructor */
void Dapi2_FreeFruAdditionalInfo(Dapi2FruAdditionalInfo *pAddInfo); /* same as above */
void Dapi2_FruAdditionalInfoListDestruct(CGenList *pList);          /* records and the list block */
void Dapi2_I_FreeFru(Dapi2FruInfo *pFru);       /* texts, list, position, record */
void Dapi2_FreeFruInfo(Dapi2FruInfo *pFru);     /* same as Dapi2_I_FreeFru */
void Dapi2_I_FreeSysInfo(Dapi2SysInfo *pFirst); /* whole chain, records included */
void Dapi2_FreeSysInfo(Dapi2SysInfo *pFirst);   /* same as Dapi2_I_FreeSysInfo */
void Dapi2_I_KillDevice(void *pDevice);         /* contents only: list element destructor */

#endif
