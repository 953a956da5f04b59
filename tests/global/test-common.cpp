/* Tests of the device-list parser: device records rebuilt from one COMPONENT
 * of the engine's answer, with skipped devices, FRU data and its additional
 * triples, missing, malformed and truncated elements. */
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "device-record.h"
#include "gen-list.h"
#include "gen-str.h"
#include "test-common.h"

namespace {

/* Owning list of devices, released like the framework releases its list. */
struct DeviceList {
    CGenList list;
    DeviceList() { CGenListConstruct(&list, 1, Dapi2_I_KillDevice); }
    ~DeviceList() { CGenListDestruct(&list); }
    std::vector<Dapi2Device *> Devices()
    {
        std::vector<Dapi2Device *> v;
        CGenListIter it;
        for (CGenListIterInit(&it, &list); !CGenListIterAtEnd(&it); CGenListIterAdv(&it))
            v.push_back((Dapi2Device *)CGenListIterGetData(&it));
        return v;
    }
};

int Parse(DeviceList &dl, const std::string &text)
{
    CGenStr s;
    CGenStrInitFromCStr(&s, text.c_str());
    int iRc = ZoltParseModuleDeviceList(&dl.list, &s);
    CGenStrDelete(&s);
    return iRc;
}

std::vector<std::string> AddInfo(Dapi2FruInfo *pFru)
{
    std::vector<std::string> v;
    if (pFru == nullptr || pFru->pAddInfoList == nullptr)
        return v;
    CGenListIter it;
    for (CGenListIterInit(&it, pFru->pAddInfoList); !CGenListIterAtEnd(&it); CGenListIterAdv(&it)) {
        auto *p = (Dapi2FruAdditionalInfo *)CGenListIterGetData(&it);
        v.push_back(std::string(p->szField) + "|" + p->szDescription + "|" + p->szValue);
    }
    return v;
}

TEST(DeviceListParser, DevicesInDocumentOrderWithAllTexts)
{
    DeviceList dl;
    ASSERT_EQ(Parse(dl, "<DEVICE><DID>4</DID><NAME>CPU 0</NAME><DESCRIPTION>d</DESCRIPTION>"
                        "<OSLOCATOR>/proc/cpuinfo</OSLOCATOR><HWLOCATOR>CPU:0</HWLOCATOR>"
                        "<DEVTYPE>CPU</DEVTYPE><BUSTYPE>SYSTEM_BUS</BUSTYPE>"
                        "<TESTS_SUPPORTED>0,1</TESTS_SUPPORTED></DEVICE>"
                        "<DEVICE><DID>-3</DID><NAME>second</NAME></DEVICE>"), 0);
    auto v = dl.Devices();
    ASSERT_EQ(v.size(), 2u);
    EXPECT_EQ(v[0]->iDeviceId, 4);
    EXPECT_STREQ(v[0]->szName, "CPU 0");
    EXPECT_STREQ(v[0]->szDescription, "d");
    EXPECT_STREQ(v[0]->szOsLocator, "/proc/cpuinfo");
    EXPECT_STREQ(v[0]->szHwLocator, "CPU:0");
    EXPECT_STREQ(v[0]->szDevType, "CPU");
    EXPECT_STREQ(v[0]->szBusType, "SYSTEM_BUS");
    EXPECT_STREQ(v[0]->szTestsSupported, "0,1");
    EXPECT_EQ(v[0]->pFruInfo, nullptr);
    EXPECT_EQ(v[0]->pSysInfo, nullptr);
    EXPECT_EQ(v[1]->iDeviceId, -3);
    EXPECT_STREQ(v[1]->szTestsSupported, "");   /* missing elements become empty texts */
    EXPECT_STREQ(v[1]->szHwLocator, "");
}

TEST(DeviceListParser, DevicesWithoutIdOrNameAreSkipped)
{
    struct { const char *szText; std::vector<int> ids; } aCases[] = {
        {"<DEVICE><NAME>no id</NAME></DEVICE><DEVICE><DID>2</DID><NAME>b</NAME></DEVICE>", {2}},
        {"<DEVICE><DID>1</DID><NAME></NAME></DEVICE><DEVICE><DID>2</DID><NAME>b</NAME></DEVICE>", {2}},
        {"<DEVICE><DID>1</DID></DEVICE>", {}},
        {"<DEVICE><DID>-1</DID><NAME>minus one means none</NAME></DEVICE>", {}},
        {"", {}},
        {"no markup at all", {}},
        {"<DEVICE><DID>7</DID><NAME>cut", {}},                               /* truncated */
        {"<DEVICE><DID>8</DID><NAME>x</NAME></DEVICE><DEVICE><DID>9", {8}},  /* truncated second */
        {"<DEVICE><DID>12abc</DID><NAME>n</NAME></DEVICE>", {12}},           /* leading digits */
        {"<COMPONENT><DEVICE><DID>5</DID><NAME>nested</NAME></DEVICE></COMPONENT>", {}},
    };
    for (auto &c : aCases) {
        DeviceList dl;
        EXPECT_EQ(Parse(dl, c.szText), 0) << c.szText;
        std::vector<int> ids;
        for (auto *p : dl.Devices())
            ids.push_back(p->iDeviceId);
        EXPECT_EQ(ids, c.ids) << c.szText;
    }
}

TEST(DeviceListParser, FruAndAdditionalTriples)
{
    DeviceList dl;
    ASSERT_EQ(Parse(dl,
        "<DEVICE><DID>1</DID><NAME>a</NAME><FRU_MODELNUMBER>M1</FRU_MODELNUMBER></DEVICE>"
        "<DEVICE><DID>2</DID><NAME>b</NAME>"
        "<FRU_ADDINFO_FIELD>f0</FRU_ADDINFO_FIELD><FRU_ADDINFO_DESC>d0</FRU_ADDINFO_DESC>"
        "<FRU_ADDINFO_VALUE>v0</FRU_ADDINFO_VALUE><FRU_ADDINFO_VALUE>v1</FRU_ADDINFO_VALUE>"
        "<FRU_ADDINFO_VALUE>v2</FRU_ADDINFO_VALUE></DEVICE>"
        "<DEVICE><DID>3</DID><NAME>c</NAME><FRU_MANUFACTURER>Mk</FRU_MANUFACTURER>"
        "<FRU_MODELNUMBER>Mo</FRU_MODELNUMBER><FRU_SERIALNUMBER>S</FRU_SERIALNUMBER>"
        "<FRU_FIRMWAREREV>R</FRU_FIRMWAREREV><FRU_FIRMWAREDATE>D</FRU_FIRMWAREDATE>"
        "<FRU_PHYSADDRESS>P</FRU_PHYSADDRESS>"
        "<FRU_ADDINFO_FIELD>a</FRU_ADDINFO_FIELD><FRU_ADDINFO_DESC>b</FRU_ADDINFO_DESC>"
        "<FRU_ADDINFO_VALUE>c</FRU_ADDINFO_VALUE></DEVICE>"
        "<DEVICE><NAME>skipped with FRU</NAME><FRU_SERIALNUMBER>x</FRU_SERIALNUMBER></DEVICE>"), 0);
    auto v = dl.Devices();
    ASSERT_EQ(v.size(), 3u);

    ASSERT_NE(v[0]->pFruInfo, nullptr);
    EXPECT_EQ(v[0]->pFruInfo->uSize, DAPI2_FRU_SIZE_WORD);
    EXPECT_STREQ(v[0]->pFruInfo->szModelNumber, "M1");
    EXPECT_STREQ(v[0]->pFruInfo->szManufacturerName, "");
    EXPECT_TRUE(AddInfo(v[0]->pFruInfo).empty());

    /* j = 0 complete, j = 1 only a value: both added, j = 2 never looked at. */
    ASSERT_NE(v[1]->pFruInfo, nullptr);
    EXPECT_STREQ(v[1]->pFruInfo->szSerialNumber, "");
    EXPECT_EQ(AddInfo(v[1]->pFruInfo), (std::vector<std::string>{"f0|d0|v0", "||v1"}));

    ASSERT_NE(v[2]->pFruInfo, nullptr);
    EXPECT_STREQ(v[2]->pFruInfo->szManufacturerName, "Mk");
    EXPECT_STREQ(v[2]->pFruInfo->szFirmwareRevision, "R");
    EXPECT_STREQ(v[2]->pFruInfo->szFirmwareDate, "D");
    EXPECT_STREQ(v[2]->pFruInfo->szPhysicalAddress, "P");
    EXPECT_EQ(AddInfo(v[2]->pFruInfo), (std::vector<std::string>{"a|b|c"}));
}

TEST(DeviceListParser, NullComponentAndLargeInput)
{
    DeviceList dl;
    EXPECT_EQ(ZoltParseModuleDeviceList(&dl.list, nullptr), 1);
    /* Many devices and a description far beyond the 2048-character reserve. */
    std::string text;
    for (int i = 0; i < 300; i++)
        text += "<DEVICE><DID>" + std::to_string(i) + "</DID><NAME>n</NAME><DESCRIPTION>" +
                std::string(i == 7 ? 10000 : 3, 'x') + "</DESCRIPTION></DEVICE>";
    ASSERT_EQ(Parse(dl, text), 0);
    auto v = dl.Devices();
    ASSERT_EQ(v.size(), 300u);
    EXPECT_EQ(std::string(v[7]->szDescription).size(), 10000u);
    EXPECT_EQ(v[299]->iDeviceId, 299);
}

}  // namespace
