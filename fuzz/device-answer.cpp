/* device-answer.cpp - fuzz target of the framework's reading of the engine's
 * device-list answer (Dapi2_I_GetDeviceList with the answer handed in through
 * the transaction seam). Differential: the list it builds and its result must
 * equal what a plain loop gives that looks up each COMPONENT by occurrence
 * and parses it (5 when there is none, else the last parse result).
 * Input: the answer text (cut at its first NUL). */
#include <stdint.h>
#include <string.h>

#include <string>

#include "dapi2-device.h"
#include "dapi2-reports.h"
#include "device-record.h"
#include "fuzz-common.h"
#include "gen-list.h"
#include "gen-str.h"
#include "message-protocol.h"
#include "test-common.h"

#define DEVICE_ANSWER_MAX_TEXT 65536
#define DEVICE_ANSWER_MAX_COMPONENTS 512

static std::string s_sAnswer;

static int FakeTransaction(const char *, CGenStr *pAnswer, int, int)
{
    return CGenStrAssignChar(pAnswer, s_sAnswer.c_str()) ? 0 : 1;
}

static const char *Txt(const char *sz)
{
    return sz != nullptr ? sz : "(null)";
}

/* The device's fields as one text, for comparing two lists. */
static std::string Describe(const Dapi2Device *p)
{
    return std::to_string(p->iDeviceId) + "|" + Txt(p->szName) + "|" + Txt(p->szDescription) + "|" +
           Txt(p->szOsLocator) + "|" + Txt(p->szHwLocator) + "|" + Txt(p->szDevType) + "|" +
           Txt(p->szBusType) + "|" + Txt(p->szTestsSupported) + "|" +
           (p->pFruInfo != nullptr ? "fru" : "-");
}

static std::string DescribeList(CGenList *pList)
{
    std::string s;
    CGenListIter it;
    for (CGenListIterInit(&it, pList); !CGenListIterAtEnd(&it); CGenListIterAdv(&it))
        s += Describe((const Dapi2Device *)CGenListIterGetData(&it)) + "\n";
    return s;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    s_sAnswer = FuzzText(pData, uSize);
    if (s_sAnswer.size() > DEVICE_ANSWER_MAX_TEXT)
        return 0;
    g_pfnDapi2SendTransactionStr = FakeTransaction;
    int iRc = Dapi2_I_GetDeviceList(DAPI2_DEVLIST_TEST);

    CGenList ref;
    FUZZ_CHECK(CGenListConstruct(&ref, 1, Dapi2_I_KillDevice));
    CGenStr sPart;
    FUZZ_CHECK(CGenStrInit(&sPart));
    int iRef = 5, iOcc = 0;
    for (; iOcc < DEVICE_ANSWER_MAX_COMPONENTS; iOcc++) {
        if (ZoltXmlGetFieldStr(s_sAnswer.c_str(), "MSG/DATA/COMPONENT", iOcc, &sPart) != 0)
            break;
        iRef = ZoltParseModuleDeviceList(&ref, &sPart);
    }
    if (iOcc < DEVICE_ANSWER_MAX_COMPONENTS) {
        FUZZ_CHECK(iRc == iRef);
        FUZZ_CHECK(DescribeList(&g_Dapi2DeviceEnumList) == DescribeList(&ref));
    }
    CGenStrDelete(&sPart);
    CGenListDestruct(&ref);
    CGenListDestruct(&g_Dapi2DeviceEnumList);
    Dapi2_I_ResetDeviceListState();
    return 0;
}
