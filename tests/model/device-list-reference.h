/* device-list-reference.h - the device-list parser as first written (every
 * occurrence looked up from the start of its text), kept as the reference that
 * the linear parser must agree with record for record. Test tree only. */
#ifndef ZOLT_TEST_DEVICE_LIST_REFERENCE_H
#define ZOLT_TEST_DEVICE_LIST_REFERENCE_H

#include <stdlib.h>
#include <string.h>

#include "device-record.h"
#include "gen-list.h"
#include "gen-str.h"
#include "memory-alloc.h"
#include "message-protocol.h"
#include "test-common.h"
#include "trace.h"

namespace reference {

/* Texts of a device record, in record order after the id. */
enum {
    DEV_NAME,
    DEV_DESCRIPTION,
    DEV_OSLOCATOR,
    DEV_HWLOCATOR,
    DEV_DEVTYPE,
    DEV_BUSTYPE,
    DEV_TESTS,
    DEV_TEXT_COUNT
};
static const char *const s_aszDeviceTags[DEV_TEXT_COUNT] = {
    "NAME", "DESCRIPTION", "OSLOCATOR", "HWLOCATOR", "DEVTYPE", "BUSTYPE", "TESTS_SUPPORTED",
};
#define FRU_TEXT_COUNT 6
static const char *const s_aszFruTags[FRU_TEXT_COUNT] = {
    "FRU_MANUFACTURER", "FRU_MODELNUMBER",  "FRU_SERIALNUMBER",
    "FRU_FIRMWAREREV",  "FRU_FIRMWAREDATE", "FRU_PHYSADDRESS",
};
#define ADDINFO_TEXT_COUNT 3
static const char *const s_aszAddInfoTags[ADDINFO_TEXT_COUNT] = {
    "FRU_ADDINFO_FIELD",
    "FRU_ADDINFO_DESC",
    "FRU_ADDINFO_VALUE",
};

/* Occurrence iIndex of element szTag in szText into pOut; empty when missing.
 * Returns 1 when the element was found. */
static int RefGetElement(const char *szText, const char *szTag, int iIndex, CGenStr *pOut)
{
    CGenStrClear(pOut);
    if (ZoltXmlGetFieldStr(szText, szTag, iIndex, pOut) != 0) {
        CGenStrClear(pOut);
        return 0;
    }
    return 1;
}

/* FRU record of the device text, or null when it has no FRU element. */
static Dapi2FruInfo *RefParseFru(const char *szDevice, CGenStr *aFru, CGenStr *aAddInfo)
{
    Dapi2FruInfo *pFru = NULL;
    int bAnyFru = 0;
    for (int i = 0; i < FRU_TEXT_COUNT; i++) {
        RefGetElement(szDevice, s_aszFruTags[i], 0, &aFru[i]);
        if (!CGenStrIsEmpty(&aFru[i]))
            bAnyFru = 1;
    }
    if (bAnyFru)
        pFru = Dapi2_I_CreateFruInfo(CGenStrC_Str(&aFru[0]), CGenStrC_Str(&aFru[1]),
                                     CGenStrC_Str(&aFru[2]), CGenStrC_Str(&aFru[3]),
                                     CGenStrC_Str(&aFru[4]), CGenStrC_Str(&aFru[5]));
    /* Triples j = 0, 1, ...: a partial triple is added, and ends the walk. */
    for (int j = 0;; j++) {
        int iFilled = 0;
        for (int i = 0; i < ADDINFO_TEXT_COUNT; i++) {
            RefGetElement(szDevice, s_aszAddInfoTags[i], j, &aAddInfo[i]);
            if (!CGenStrIsEmpty(&aAddInfo[i]))
                iFilled++;
        }
        if (iFilled == 0)
            break;
        if (pFru == NULL)
            pFru = Dapi2_I_CreateFruInfo("", "", "", "", "", "");
        if (pFru != NULL)
            Dapi2_AddFruAdditionalInfoToFru(pFru, CGenStrC_Str(&aAddInfo[0]),
                                            CGenStrC_Str(&aAddInfo[1]), CGenStrC_Str(&aAddInfo[2]));
        if (iFilled < ADDINFO_TEXT_COUNT)
            break;
    }
    return pFru;
}

/* The parser as first written: occurrence k of DEVICE looked up from the
 * start of the component each time. */
static int ReferenceParseDeviceList(CGenList *pList, const CGenStr *pComponent)
{
    if (pComponent == NULL || pList == NULL)
        return 1;
    CGenStr device;
    if (!CGenStrInit(&device) || !CGenStrReserve(&device, ZOLT_DEVICE_TEXT_RESERVE)) {
        CGenStrDelete(&device);
        return 6;
    }
    TPRINTF(6, __FILE__, __LINE__, "", "ZoltDiagGetDeviceList:parsing\n");
    CGenStr did, aText[DEV_TEXT_COUNT], aFru[FRU_TEXT_COUNT], aAddInfo[ADDINFO_TEXT_COUNT];
    ZOLT_VERIFY(CGenStrInit(&did));
    for (int i = 0; i < DEV_TEXT_COUNT; i++)
        ZOLT_VERIFY(CGenStrInit(&aText[i]));
    for (int i = 0; i < FRU_TEXT_COUNT; i++)
        ZOLT_VERIFY(CGenStrInit(&aFru[i]));
    for (int i = 0; i < ADDINFO_TEXT_COUNT; i++)
        ZOLT_VERIFY(CGenStrInit(&aAddInfo[i]));

    const char *szComponent = CGenStrC_Str(pComponent);
    for (int k = 0; szComponent != NULL; k++) {
        if (!RefGetElement(szComponent, "DEVICE", k, &device))
            break;
        const char *szDevice = CGenStrC_Str(&device);
        int32_t iId = -1;
        if (RefGetElement(szDevice, "DID", 0, &did))
            iId = (int32_t)strtol(CGenStrC_Str(&did), NULL, 10);
        for (int i = 0; i < DEV_TEXT_COUNT; i++)
            RefGetElement(szDevice, s_aszDeviceTags[i], 0, &aText[i]);
        Dapi2FruInfo *pFru = RefParseFru(szDevice, aFru, aAddInfo);

        if (iId == -1 || CGenStrIsEmpty(&aText[DEV_NAME])) {
            Dapi2_I_FreeFru(pFru); /* a device without id or name adds nothing */
            continue;
        }
        TPRINTF(6, __FILE__, __LINE__, "",
                "ZoltDiagGetDeviceList-Add: %i=%s / %i / %s / %s / %s / %s\n", k,
                CGenStrC_Str(&aText[DEV_NAME]), iId, CGenStrC_Str(&aText[DEV_DESCRIPTION]),
                CGenStrC_Str(&aText[DEV_OSLOCATOR]), CGenStrC_Str(&aText[DEV_HWLOCATOR]),
                CGenStrC_Str(&aText[DEV_DEVTYPE]));
        Dapi2Device *pDevice = (Dapi2Device *)calloc(1, sizeof(Dapi2Device));
        if (pDevice == NULL) {
            Dapi2_I_FreeFru(pFru);
            break;
        }
        pDevice->iDeviceId = iId;
        pDevice->szName = ZoltAllocStringEx(CGenStrC_Str(&aText[DEV_NAME]));
        pDevice->szDescription = ZoltAllocStringEx(CGenStrC_Str(&aText[DEV_DESCRIPTION]));
        pDevice->szOsLocator = ZoltAllocStringEx(CGenStrC_Str(&aText[DEV_OSLOCATOR]));
        pDevice->szHwLocator = ZoltAllocStringEx(CGenStrC_Str(&aText[DEV_HWLOCATOR]));
        pDevice->szDevType = ZoltAllocStringEx(CGenStrC_Str(&aText[DEV_DEVTYPE]));
        pDevice->szBusType = ZoltAllocStringEx(CGenStrC_Str(&aText[DEV_BUSTYPE]));
        pDevice->szTestsSupported = ZoltAllocStringEx(CGenStrC_Str(&aText[DEV_TESTS]));
        pDevice->pFruInfo = pFru;
        if (!CGenListPushBack(pList, pDevice)) {
            Dapi2_I_KillDevice(pDevice);
            free(pDevice);
            break;
        }
        TPRINTF(6, __FILE__, __LINE__, "", "ZoltDiagGetDeviceList:Added: %d\n", iId);
    }

    CGenStrDelete(&device);
    CGenStrDelete(&did);
    for (int i = 0; i < DEV_TEXT_COUNT; i++)
        CGenStrDelete(&aText[i]);
    for (int i = 0; i < FRU_TEXT_COUNT; i++)
        CGenStrDelete(&aFru[i]);
    for (int i = 0; i < ADDINFO_TEXT_COUNT; i++)
        CGenStrDelete(&aAddInfo[i]);
    TPRINTF(6, __FILE__, __LINE__, "", "ZoltDiagGetDeviceList:done parsing\n");
    return 0;
}

}  // namespace reference

#endif
