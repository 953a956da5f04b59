/* device-record.cpp - constructors and release functions of the device record,
 * its FRU record with additional-information records, and its system-information
 * chain. Every text is a heap copy made with ZoltAllocStringEx and released with
 * free; the records themselves are plain heap blocks (calloc / free). */
#include "device-record.h"

#include <stdlib.h>

#include "memory-alloc.h"

/* Copy of szText for a record field: null stays null. Sets *pbFailed when a
 * non-null text could not be copied. */
static char *CopyField(const char *szText, int *pbFailed)
{
    if (szText == NULL)
        return NULL;
    char *szCopy = ZoltAllocStringEx(szText);
    if (szCopy == NULL)
        *pbFailed = 1;
    return szCopy;
}

/* Releases the six texts of a FRU record (the record stays). */
static void FreeFruTexts(Dapi2FruInfo *pFru)
{
    free(pFru->szManufacturerName);
    free(pFru->szModelNumber);
    free(pFru->szSerialNumber);
    free(pFru->szFirmwareRevision);
    free(pFru->szFirmwareDate);
    free(pFru->szPhysicalAddress);
}

/* Dapi2_I_CreateFruInfo - a new FRU record with copies of the six texts (a null
 * text stays null), size word 36 and no additional-information list.
 * Returns the record (caller releases it with Dapi2_I_FreeFru) or null when
 * memory is short; nothing is left behind then. */
Dapi2FruInfo *Dapi2_I_CreateFruInfo(const char *szManufacturer, const char *szModel,
                                    const char *szSerial, const char *szFirmwareRev,
                                    const char *szFirmwareDate, const char *szPhysAddress)
{
    Dapi2FruInfo *pFru = (Dapi2FruInfo *)calloc(1, sizeof(Dapi2FruInfo));
    if (pFru == NULL)
        return NULL;
    int bFailed = 0;
    pFru->uSize = DAPI2_FRU_SIZE_WORD;
    pFru->szManufacturerName = CopyField(szManufacturer, &bFailed);
    pFru->szModelNumber = CopyField(szModel, &bFailed);
    pFru->szSerialNumber = CopyField(szSerial, &bFailed);
    pFru->szFirmwareRevision = CopyField(szFirmwareRev, &bFailed);
    pFru->szFirmwareDate = CopyField(szFirmwareDate, &bFailed);
    pFru->szPhysicalAddress = CopyField(szPhysAddress, &bFailed);
    if (bFailed) {
        FreeFruTexts(pFru);
        free(pFru);
        return NULL;
    }
    return pFru;
}

/* Dapi2_CreateFruAdditionalInfo - a new additional-information record holding
 * copies of the three texts (null stays null). Returns it, or null when memory
 * is short. The owning FRU list releases it (Dapi2_DestructFruAdditionalInfo,
 * then free). */
Dapi2FruAdditionalInfo *
Dapi2_CreateFruAdditionalInfo(const char *szField, const char *szDescription, const char *szValue)
{
    Dapi2FruAdditionalInfo *pAdd =
        (Dapi2FruAdditionalInfo *)calloc(1, sizeof(Dapi2FruAdditionalInfo));
    if (pAdd == NULL)
        return NULL;
    int bFailed = 0;
    pAdd->szField = CopyField(szField, &bFailed);
    pAdd->szDescription = CopyField(szDescription, &bFailed);
    pAdd->szValue = CopyField(szValue, &bFailed);
    if (bFailed) {
        Dapi2_DestructFruAdditionalInfo(pAdd);
        free(pAdd);
        return NULL;
    }
    return pAdd;
}

/* Dapi2_I_CreateSysInfo - a new system-information record with copies of the
 * three texts and no successor. Returns it (released with the chain by
 * Dapi2_I_FreeSysInfo) or null when memory is short. */
Dapi2SysInfo *Dapi2_I_CreateSysInfo(const char *szKey, const char *szValue,
                                    const char *szDescription)
{
    Dapi2SysInfo *pInfo = (Dapi2SysInfo *)calloc(1, sizeof(Dapi2SysInfo));
    if (pInfo == NULL)
        return NULL;
    int bFailed = 0;
    pInfo->szKey = CopyField(szKey, &bFailed);
    pInfo->szValue = CopyField(szValue, &bFailed);
    pInfo->szDescription = CopyField(szDescription, &bFailed);
    if (bFailed) {
        Dapi2_I_FreeSysInfo(pInfo);
        return NULL;
    }
    return pInfo;
}

/* Dapi2_AddFruAdditionalInfoToFru - appends a record with copies of the three
 * texts to the FRU's additional-information list. The list (owning, element
 * destructor Dapi2_DestructFruAdditionalInfo) and its position are created on
 * the first addition. Returns 0; 22 for a null FRU; 27 when memory is short
 * (the FRU is then as before: a list created by this call is removed again). */
int Dapi2_AddFruAdditionalInfoToFru(Dapi2FruInfo *pFru, const char *szField,
                                    const char *szDescription, const char *szValue)
{
    if (pFru == NULL)
        return DAPI2_DEVICE_BADARG;
    int bNewList = 0;
    if (pFru->pAddInfoList == NULL) {
        CGenList *pList = (CGenList *)calloc(1, sizeof(CGenList));
        CGenListIter *pItr = (CGenListIter *)calloc(1, sizeof(CGenListIter));
        if (pList == NULL || pItr == NULL) {
            free(pList);
            free(pItr);
            return DAPI2_DEVICE_NOMEM;
        }
        CGenListConstruct(pList, 1, Dapi2_DestructFruAdditionalInfo);
        CGenListIterInit(pItr, pList);
        pFru->pAddInfoList = pList;
        pFru->pAddInfoItr = pItr;
        bNewList = 1;
    }
    Dapi2FruAdditionalInfo *pAdd = Dapi2_CreateFruAdditionalInfo(szField, szDescription, szValue);
    if (pAdd != NULL && CGenListPushBack(pFru->pAddInfoList, pAdd))
        return DAPI2_DEVICE_OK;
    if (pAdd != NULL) {
        Dapi2_DestructFruAdditionalInfo(pAdd);
        free(pAdd);
    }
    if (bNewList) {
        Dapi2_FruAdditionalInfoListDestruct(pFru->pAddInfoList);
        free(pFru->pAddInfoItr);
        pFru->pAddInfoList = NULL;
        pFru->pAddInfoItr = NULL;
    }
    return DAPI2_DEVICE_NOMEM;
}

/* Dapi2_DestructFruAdditionalInfo - releases the three texts of an
 * additional-information record; the record itself is released by the list
 * that owns it. Accepts null. */
void Dapi2_DestructFruAdditionalInfo(void *pAddInfo)
{
    Dapi2FruAdditionalInfo *pAdd = (Dapi2FruAdditionalInfo *)pAddInfo;
    if (pAdd == NULL)
        return;
    free(pAdd->szField);
    free(pAdd->szDescription);
    free(pAdd->szValue);
    pAdd->szField = pAdd->szDescription = pAdd->szValue = NULL;
}

/* Dapi2_FreeFruAdditionalInfo - the same as Dapi2_DestructFruAdditionalInfo. */
void Dapi2_FreeFruAdditionalInfo(Dapi2FruAdditionalInfo *pAddInfo)
{
    Dapi2_DestructFruAdditionalInfo(pAddInfo);
}

/* Dapi2_FruAdditionalInfoListDestruct - destroys an additional-information list
 * (each record released through its destructor) and releases the list block.
 * Accepts null. */
void Dapi2_FruAdditionalInfoListDestruct(CGenList *pList)
{
    if (pList == NULL)
        return;
    CGenListDestruct(pList);
    free(pList);
}

/* Dapi2_I_FreeFru - releases the six texts, the additional-information list with
 * its records and its position, and the FRU record. Accepts null. */
void Dapi2_I_FreeFru(Dapi2FruInfo *pFru)
{
    if (pFru == NULL)
        return;
    FreeFruTexts(pFru);
    Dapi2_FruAdditionalInfoListDestruct(pFru->pAddInfoList);
    free(pFru->pAddInfoItr);
    free(pFru);
}

/* Dapi2_FreeFruInfo - the same as Dapi2_I_FreeFru. */
void Dapi2_FreeFruInfo(Dapi2FruInfo *pFru)
{
    Dapi2_I_FreeFru(pFru);
}

/* Dapi2_I_FreeSysInfo - releases every record of the chain starting at pFirst
 * (texts and record), following it to its end. Accepts null. */
void Dapi2_I_FreeSysInfo(Dapi2SysInfo *pFirst)
{
    while (pFirst != NULL) {
        Dapi2SysInfo *pNext = pFirst->pNext;
        free(pFirst->szKey);
        free(pFirst->szValue);
        free(pFirst->szDescription);
        free(pFirst);
        pFirst = pNext;
    }
}

/* Dapi2_FreeSysInfo - the same as Dapi2_I_FreeSysInfo. */
void Dapi2_FreeSysInfo(Dapi2SysInfo *pFirst)
{
    Dapi2_I_FreeSysInfo(pFirst);
}

/* Dapi2_I_KillDevice - releases the contents of a device: its seven texts, its
 * FRU record and its system-information chain; the fields are left null. The
 * record itself is released by the list that owns it (element destructor of
 * g_Dapi2DeviceEnumList). Accepts null. */
void Dapi2_I_KillDevice(void *pDevice)
{
    Dapi2Device *pDev = (Dapi2Device *)pDevice;
    if (pDev == NULL)
        return;
    free(pDev->szName);
    free(pDev->szDescription);
    free(pDev->szOsLocator);
    free(pDev->szHwLocator);
    free(pDev->szDevType);
    free(pDev->szBusType);
    free(pDev->szTestsSupported);
    Dapi2_I_FreeFru(pDev->pFruInfo);
    Dapi2_I_FreeSysInfo(pDev->pSysInfo);
    pDev->szName = pDev->szDescription = pDev->szOsLocator = pDev->szHwLocator = NULL;
    pDev->szDevType = pDev->szBusType = pDev->szTestsSupported = NULL;
    pDev->pFruInfo = NULL;
    pDev->pSysInfo = NULL;
}
