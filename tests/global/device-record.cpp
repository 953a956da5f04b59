/* Tests of the device record's own constructors and release functions, used
 * without the framework's lists as the device-list parser uses them: copies
 * never alias the caller's texts, and every chain is released completely (the
 * sanitizer build reports any leak or double release). */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "device-record.h"

TEST(DeviceRecord, FruCopiesTextsAndKeepsNulls)
{
    char szMaker[] = "Maker";
    Dapi2FruInfo *pFru = Dapi2_I_CreateFruInfo(szMaker, "M1", NULL, "", "2024", "U7");
    ASSERT_NE(pFru, nullptr);
    szMaker[0] = 'X';                                  /* the record holds its own copy */
    EXPECT_STREQ(pFru->szManufacturerName, "Maker");
    EXPECT_EQ(pFru->szSerialNumber, nullptr);
    EXPECT_STREQ(pFru->szFirmwareRevision, "");
    EXPECT_EQ(pFru->uSize, DAPI2_FRU_SIZE_WORD);
    EXPECT_EQ(pFru->pAddInfoList, nullptr);            /* created on the first addition */
    EXPECT_EQ(pFru->pAddInfoItr, nullptr);
    Dapi2_I_FreeFru(pFru);
    Dapi2_FreeFruInfo(NULL);
}

TEST(DeviceRecord, AdditionalRecordsAreOwnedByTheFru)
{
    Dapi2FruInfo *pFru = Dapi2_I_CreateFruInfo("", "", "", "", "", "");
    ASSERT_NE(pFru, nullptr);
    ASSERT_EQ(Dapi2_AddFruAdditionalInfoToFru(pFru, "F0", "D0", "V0"), 0);
    CGenList *pList = pFru->pAddInfoList;
    ASSERT_NE(pList, nullptr);
    ASSERT_EQ(Dapi2_AddFruAdditionalInfoToFru(pFru, "", "", "V1"), 0);
    ASSERT_EQ(Dapi2_AddFruAdditionalInfoToFru(pFru, NULL, "D2", NULL), 0);
    EXPECT_EQ(pFru->pAddInfoList, pList);              /* one list for all additions */
    ASSERT_EQ(CGenListGetCount(pList), 3);
    CGenListIter it;
    CGenListIterInit(&it, pList);
    CGenListIterAdv(&it);
    CGenListIterAdv(&it);
    Dapi2FruAdditionalInfo *pThird = (Dapi2FruAdditionalInfo *)CGenListIterGetData(&it);
    EXPECT_EQ(pThird->szField, nullptr);
    EXPECT_STREQ(pThird->szDescription, "D2");
    Dapi2_I_FreeFru(pFru);                             /* list, records, position, record */
}

TEST(DeviceRecord, SystemInformationChainIsReleasedToItsEnd)
{
    Dapi2SysInfo *pFirst = Dapi2_I_CreateSysInfo("K", "1", "D");
    ASSERT_NE(pFirst, nullptr);
    EXPECT_EQ(pFirst->pNext, nullptr);
    Dapi2SysInfo *pTail = pFirst;
    for (int i = 0; i < 100; ++i) {
        pTail->pNext = Dapi2_I_CreateSysInfo("K", NULL, "");
        ASSERT_NE(pTail->pNext, nullptr);
        pTail = pTail->pNext;
    }
    Dapi2_FreeSysInfo(pFirst);
    Dapi2_I_FreeSysInfo(NULL);
}

TEST(DeviceRecord, KillDeviceReleasesAParserBuiltRecord)
{
    /* built the way the device-list parser builds one: zeroed, texts from
     * ZoltAllocStringEx-style heap copies, a FRU with a record, no chain */
    Dapi2Device *pDev = (Dapi2Device *)calloc(1, sizeof(Dapi2Device));
    ASSERT_NE(pDev, nullptr);
    pDev->iDeviceId = 3;
    pDev->szName = strdup("CPU 3");
    pDev->szHwLocator = strdup("CPU:3");
    pDev->szTestsSupported = strdup("");
    pDev->pFruInfo = Dapi2_I_CreateFruInfo("m", "", "", "", "", "");
    ASSERT_EQ(Dapi2_AddFruAdditionalInfoToFru(pDev->pFruInfo, "f", "d", "v"), 0);
    pDev->pSysInfo = Dapi2_I_CreateSysInfo("k", "v", "d");

    CGenList list;                                     /* an owning list as the framework uses */
    CGenListConstruct(&list, 1, Dapi2_I_KillDevice);
    ASSERT_EQ(CGenListPushBack(&list, pDev), 1);
    CGenListDestruct(&list);
    Dapi2_I_KillDevice(NULL);
}
