/* Tests of the device-list parser: records rebuilt from one COMPONENT, skipped
 * devices, FRU triples, malformed and large input (the sanitizer sees every free). */
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <sstream>
#include <random>
#include <string>
#include <vector>

#include "device-record.h"
#include "model/device-list-reference.h"
#include "test-common.h"

namespace {

/* Parses text with pfnParse into a fresh owning list; v and ids follow the list order. */
struct Parsed {
    CGenList list;
    std::vector<Dapi2Device *> v;
    std::vector<int> ids;
    int iRc;
    explicit Parsed(const std::string &text,
                    int (*pfnParse)(CGenList *, const CGenStr *) = ZoltParseModuleDeviceList)
    {
        CGenListConstruct(&list, 1, Dapi2_I_KillDevice);
        CGenStr s;
        CGenStrInitFromCStr(&s, text.c_str());
        iRc = pfnParse(&list, &s);
        CGenStrDelete(&s);
        CGenListIter it;
        for (CGenListIterInit(&it, &list); !CGenListIterAtEnd(&it); CGenListIterAdv(&it))
            v.push_back((Dapi2Device *)CGenListIterGetData(&it)),
                ids.push_back(v.back()->iDeviceId);
    }
    ~Parsed()
    {
        CGenListDestruct(&list);
    }
};

/* Every field of every record of a parsed list, FRU and triples included. */
std::string Describe(CGenList *pList)
{
    std::string s;
    CGenListIter it;
    for (CGenListIterInit(&it, pList); !CGenListIterAtEnd(&it); CGenListIterAdv(&it)) {
        auto *d = (Dapi2Device *)CGenListIterGetData(&it);
        s += std::to_string(d->iDeviceId) + "[" + d->szName + "|" + d->szDescription + "|" +
             d->szOsLocator + "|" + d->szHwLocator + "|" + d->szDevType + "|" + d->szBusType + "|" +
             d->szTestsSupported + "]";
        Dapi2FruInfo *f = d->pFruInfo;
        if (f == nullptr)
            continue;
        s += std::string("FRU[") + f->szManufacturerName + "|" + f->szModelNumber + "|" +
             f->szSerialNumber + "|" + f->szFirmwareRevision + "|" + f->szFirmwareDate + "|" +
             f->szPhysicalAddress + "]";
        CGenListIter a = {};
        for (f->pAddInfoList ? CGenListIterInit(&a, f->pAddInfoList) : (void)0;
             !CGenListIterAtEnd(&a); CGenListIterAdv(&a)) {
            auto *pInfo = (Dapi2FruAdditionalInfo *)CGenListIterGetData(&a);
            s += std::string("+") + pInfo->szField + "|" + pInfo->szDescription + "|" +
                 pInfo->szValue;
        }
        s += "\n";
    }
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
        { "<DEVICE><DID>1</DID><NAME>a</NAME><FRU_MODELNUMBER>M1</FRU_MODELNUMBER></DEVICE>"
          "<DEVICE><DID>2</DID><NAME>b</NAME>"
          "<FRU_ADDINFO_FIELD>f0</FRU_ADDINFO_FIELD><FRU_ADDINFO_DESC>d0</FRU_ADDINFO_DESC>"
          "<FRU_ADDINFO_VALUE>v0</FRU_ADDINFO_VALUE><FRU_ADDINFO_VALUE>v1</FRU_ADDINFO_VALUE>"
          "<FRU_ADDINFO_VALUE>v2</FRU_ADDINFO_VALUE></DEVICE>"
          "<DEVICE><DID>3</DID><NAME>c</NAME><FRU_MANUFACTURER>Mk</FRU_MANUFACTURER>"
          "<FRU_MODELNUMBER>Mo</FRU_MODELNUMBER><FRU_SERIALNUMBER>S</FRU_SERIALNUMBER>"
          "<FRU_FIRMWAREREV>R</FRU_FIRMWAREREV><FRU_FIRMWAREDATE>D</FRU_FIRMWAREDATE>"
          "<FRU_PHYSADDRESS>P</FRU_PHYSADDRESS></DEVICE>"
          "<DEVICE><NAME>skipped with FRU</NAME><FRU_SERIALNUMBER>x</FRU_SERIALNUMBER></DEVICE>",
          /* j = 0 complete, j = 1 only a value: both added, j = 2 never looked at */
          "1[a||||||]FRU[|M1||||]\n2[b||||||]FRU[|||||]+f0|d0|v0+||v1\n"
          "3[c||||||]FRU[Mk|Mo|S|R|D|P]\n" },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szText);
        Parsed p(c.szText);
        EXPECT_EQ(p.iRc, 0);
        EXPECT_EQ(Describe(&p.list), c.szRecords);
        for (auto *d : p.v)
            EXPECT_TRUE(d->pFruInfo == nullptr || d->pFruInfo->uSize == 36u);
    }
    Parsed empty("");
    EXPECT_EQ(ZoltParseModuleDeviceList(&empty.list, nullptr), 1);
}

/* The blank-separated words of sz. */
std::vector<std::string> Words(const char *sz)
{
    std::istringstream in(sz);
    return std::vector<std::string>(std::istream_iterator<std::string>(in), {});
}

/* A random list: mostly well-formed devices, with elements repeated, left
 * out, left open, closed twice, mistyped, nested, and stray markup between. */
std::string RandomList(std::mt19937 &rng)
{
    /* element names, blank-separated; the last two are no device fields */
    static const std::vector<std::string> s_vTags = Words(
        "DID NAME DESCRIPTION OSLOCATOR HWLOCATOR DEVTYPE BUSTYPE TESTS_SUPPORTED FRU_MANUFACTURER "
        "FRU_SERIALNUMBER FRU_PHYSADDRESS FRU_ADDINFO_FIELD FRU_ADDINFO_DESC FRU_ADDINFO_VALUE "
        "DEVICE X");
    static const char *const s_aszJunk[] = { "<",    ">",    "</DEVICE>", "<DEVICE>", "<!-- c -->",
                                             "<A/>", "</X>", "<DEVICE/>", "&lt;",     "<?x?>" };
    auto Pick = [&rng](int n) { return (int)(rng() % (unsigned)n); };
    std::string s;
    for (int iDev = Pick(12); iDev > 0; iDev--) {
        s += Pick(20) == 0 ? "<DEVIC>" : "<DEVICE>";
        for (int iEl = Pick(14); iEl > 0; iEl--) {
            const char *szTag = s_vTags[Pick(16)].c_str();
            std::string sValue = std::strcmp(szTag, "DID") == 0 ? std::to_string(Pick(30) - 3)
                                                                : std::string(1, 'a' + Pick(26));
            int iMode = Pick(30);
            if (iMode == 0)
                s += std::string("<") + szTag + ">" + sValue; /* left open */
            else if (iMode == 1)
                s += std::string("</") + szTag + ">"; /* stray close */
            else if (iMode == 2)
                s += s_aszJunk[Pick(10)];
            else
                s += std::string("<") + szTag + ">" + sValue + "</" + szTag + ">";
        }
        if (Pick(15) != 0)
            s += "</DEVICE>";
        if (Pick(10) == 0)
            s += s_aszJunk[Pick(10)];
    }
    return s;
}

/* The linear parser gives exactly the records of the parser as first
 * written, over random and nearly valid lists. */
TEST(DeviceListParser, AgreesWithTheReferenceParser)
{
    std::mt19937 rng(20261206);
    std::vector<std::string> vTexts = {
        "<DEVICE><DID>1</DID><NAME>a</NAME><NAME>b</NAME></DEVICE><DEVICE><DID>1</DID>"
        "<NAME>c</NAME></DEVICE>", /* repeated elements and ids */
        "<DEVICE><DID>2</DID><NAME>a</NAME><DEVICE><DID>3</DID><NAME>in</NAME></DEVICE>"
        "</DEVICE><DEVICE><DID>4</DID><NAME>b</NAME></DEVICE>", /* nested device */
        "</DEVICE><DEVICE><DID>5</DID><NAME>x</X></DEVICE><DEVICE><DID>6</DID><NAME>y</NAME>"
        "</DEVICE>", /* stray close, mismatched close */
        "<DEVICE><DID>7</DID><NAME>t</NAME><FRU_ADDINFO_FIELD>f</FRU_ADDINFO_FIELD>"
        "<FRU_ADDINFO_VALUE>v</FRU_ADDINFO_VALUE><FRU_ADDINFO_FIELD>g</FRU_ADDINFO_FIELD>"
        "<FRU_ADDINFO_DESC>d</FRU_ADDINFO_DESC><FRU_ADDINFO_VALUE>w</FRU_ADDINFO_VALUE>"
        "<FRU_ADDINFO_DESC>e</FRU_ADDINFO_DESC></DEVICE>", /* triples out of step */
    };
    for (int i = 0; i < 3000; i++)
        vTexts.push_back(RandomList(rng));
    for (const std::string &sText : vTexts) {
        Parsed now(sText), before(sText, reference::ReferenceParseDeviceList);
        EXPECT_EQ(now.iRc, before.iRc) << sText;
        EXPECT_EQ(Describe(&now.list), Describe(&before.list)) << sText;
        if (HasFailure())
            break;
    }
}

TEST(DeviceListParser, LargeInput)
{
    /* a description far beyond the 2048-character reserve */
    std::string text;
    for (int i = 0; i < 300; i++)
        text += "<DEVICE><DID>" + std::to_string(i) + "</DID><NAME>n</NAME><DESCRIPTION>" +
                std::string(i == 7 ? 10000 : 3, 'x') + "</DESCRIPTION></DEVICE>";
    Parsed p(text);
    ASSERT_EQ(p.v.size(), 300u);
    EXPECT_EQ(std::string(p.v[7]->szDescription).size(), 10000u);
    EXPECT_EQ(p.v[299]->iDeviceId, 299);
}

}  // namespace
