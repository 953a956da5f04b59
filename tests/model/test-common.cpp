/* Tests of the device-list parser: records rebuilt from one COMPONENT, skipped
 * devices, FRU triples, malformed and large input (the sanitizer sees every free). */
#include <gtest/gtest.h>

#include <string>

#include "device-record.h"
#include "test-common.h"

namespace {

/* Every field of every record parsed from szText (null: no component), FRU
 * and triples included; "rc N" when the parser fails. */
std::string Parse(const char *szText)
{
    CGenList list;
    CGenListConstruct(&list, 1, Dapi2_I_KillDevice);
    CGenStr text;
    CGenStrInitFromCStr(&text, szText ? szText : "");
    int iRc = ZoltParseModuleDeviceList(&list, szText ? &text : nullptr);
    std::string s = iRc ? "rc " + std::to_string(iRc) : "";
    CGenListIter it;
    for (CGenListIterInit(&it, &list); !CGenListIterAtEnd(&it); CGenListIterAdv(&it)) {
        auto *d = (Dapi2Device *)CGenListIterGetData(&it);
        s += std::to_string(d->iDeviceId) + "[" + d->szName + "|" + d->szDescription + "|" +
             d->szOsLocator + "|" + d->szHwLocator + "|" + d->szDevType + "|" + d->szBusType + "|" +
             d->szTestsSupported + "]";
        Dapi2FruInfo *f = d->pFruInfo;
        if (f == nullptr)
            continue;
        s += std::string(f->uSize == 36u ? "FRU[" : "FRU(bad size word)[") + f->szManufacturerName +
             "|" + f->szModelNumber + "|" + f->szSerialNumber + "|" + f->szFirmwareRevision + "|" +
             f->szFirmwareDate + "|" + f->szPhysicalAddress + "]";
        CGenListIter a = {};
        for (f->pAddInfoList ? CGenListIterInit(&a, f->pAddInfoList) : (void)0;
             !CGenListIterAtEnd(&a); CGenListIterAdv(&a)) {
            auto *pInfo = (Dapi2FruAdditionalInfo *)CGenListIterGetData(&a);
            s += std::string("+") + pInfo->szField + "|" + pInfo->szDescription + "|" +
                 pInfo->szValue;
        }
        s += "\n";
    }
    CGenStrDelete(&text);
    CGenListDestruct(&list);
    return s;
}

/* Each list parsed to every field of every record: missing elements become
 * empty texts, no FRU element gives no FRU record, devices without id or name
 * are skipped, FRU additional triples are added while a field or a value is
 * there. */
TEST(DeviceListParser, RecordsInDocumentOrderWithAllTextsAndFru)
{
    struct {
        const char *szText, *szRecords;
    } aCases[] = {
        { "<DEVICE><DID>4</DID><NAME>CPU 0</NAME><DESCRIPTION>d</DESCRIPTION>"
          "<OSLOCATOR>/proc/cpuinfo</OSLOCATOR><HWLOCATOR>CPU:0</HWLOCATOR><DEVTYPE>CPU</DEVTYPE>"
          "<BUSTYPE>SYSTEM_BUS</BUSTYPE><TESTS_SUPPORTED>0,1</TESTS_SUPPORTED></DEVICE>"
          "<DEVICE><DID>-3</DID><NAME>second</NAME></DEVICE>",
          "4[CPU 0|d|/proc/cpuinfo|CPU:0|CPU|SYSTEM_BUS|0,1]-3[second||||||]" },
        { "<DEVICE><NAME>no id</NAME></DEVICE><DEVICE><DID>2</DID><NAME>b</NAME></DEVICE>",
          "2[b||||||]" },
        { "<DEVICE><DID>-1</DID><NAME>minus one means none</NAME></DEVICE>", "" },
        { "<DEVICE><DID>8</DID><NAME>x</NAME></DEVICE><DEVICE><DID>9", "8[x||||||]" },
        { "<DEVICE><DID>12abc</DID><NAME>n</NAME></DEVICE>", "12[n||||||]" }, /* leading digits */
        { "<COMPONENT><DEVICE><DID>5</DID><NAME>nested</NAME></DEVICE></COMPONENT>", "" },
        /* a device inside a device is no record and hides nothing after it; the first of
         * repeated elements counts; stray closing tags are passed over */
        { "</DEVICE><DEVICE><DID>2</DID><NAME>a</NAME><DEVICE><DID>3</DID><NAME>in</NAME>"
          "</DEVICE><NAME>b</NAME></DEVICE><DEVICE></DEVICE><DEVICE><DID>4</DID><NAME>c</NAME>"
          "<DID>5</DID></DEVICE>",
          "2[a||||||]4[c||||||]" },
        { "<DEVICE><DID>1</DID><NAME>a</NAME><FRU_MODELNUMBER>M1</FRU_MODELNUMBER></DEVICE>"
          "<DEVICE><DID>2</DID><NAME>b</NAME>"
          "<FRU_ADDINFO_FIELD>f0</FRU_ADDINFO_FIELD><FRU_ADDINFO_DESC>d0</FRU_ADDINFO_DESC>"
          "<FRU_ADDINFO_VALUE>v0</FRU_ADDINFO_VALUE><FRU_ADDINFO_VALUE>v1</FRU_ADDINFO_VALUE>"
          "<FRU_ADDINFO_VALUE>v2</FRU_ADDINFO_VALUE></DEVICE>"
          "<DEVICE><FRU_ADDINFO_DESC>d</FRU_ADDINFO_DESC><DID>4</DID><NAME>t</NAME>"
          "<FRU_ADDINFO_FIELD>f</FRU_ADDINFO_FIELD><FRU_ADDINFO_VALUE>v</FRU_ADDINFO_VALUE>"
          "<FRU_ADDINFO_FIELD>g</FRU_ADDINFO_FIELD><FRU_ADDINFO_VALUE>w</FRU_ADDINFO_VALUE>"
          "<FRU_ADDINFO_DESC>e</FRU_ADDINFO_DESC></DEVICE>"
          "<DEVICE><DID>3</DID><NAME>c</NAME><FRU_MANUFACTURER>Mk</FRU_MANUFACTURER>"
          "<FRU_MODELNUMBER>Mo</FRU_MODELNUMBER><FRU_SERIALNUMBER>S</FRU_SERIALNUMBER>"
          "<FRU_FIRMWAREREV>R</FRU_FIRMWAREREV><FRU_FIRMWAREDATE>D</FRU_FIRMWAREDATE>"
          "<FRU_PHYSADDRESS>P</FRU_PHYSADDRESS></DEVICE>"
          "<DEVICE><NAME>skipped with FRU</NAME><FRU_SERIALNUMBER>x</FRU_SERIALNUMBER></DEVICE>",
          /* j = 0 complete, j = 1 only a value: both added, j = 2 never looked at */
          "1[a||||||]FRU[|M1||||]\n2[b||||||]FRU[|||||]+f0|d0|v0+||v1\n"
          "4[t||||||]FRU[|||||]+f|d|v+g|e|w\n" /* triples out of step */
          "3[c||||||]FRU[Mk|Mo|S|R|D|P]\n" },
        { nullptr, "rc 1" },
    };
    for (auto &c : aCases)
        EXPECT_EQ(Parse(c.szText), c.szRecords) << (c.szText ? c.szText : "(null)");
}

TEST(DeviceListParser, LargeInput)
{
    /* a description far beyond the 2048-character reserve */
    std::string text, expect;
    for (int i = 0; i < 300; i++) {
        std::string desc(i == 7 ? 10000 : 3, 'x');
        text += "<DEVICE><DID>" + std::to_string(i) + "</DID><NAME>n</NAME><DESCRIPTION>" + desc +
                "</DESCRIPTION></DEVICE>";
        expect += std::to_string(i) + "[n|" + desc + "|||||]";
    }
    EXPECT_EQ(Parse(text.c_str()), expect);
}

}  // namespace
