/* device-list.cpp - fuzz target of the device-list parser: the input is one
 * COMPONENT text of the engine's device-list answer (cut at its first NUL);
 * every record the parser keeps must have a name, and the list is released
 * the way the framework releases it. */
#include <stdint.h>

#include <string>

#include "device-record.h"
#include "fuzz-common.h"
#include "gen-list.h"
#include "gen-str.h"
#include "test-common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    std::string sText = FuzzText(pData, uSize);
    CGenStr sComponent;
    FUZZ_CHECK(CGenStrInitFromCStr(&sComponent, sText.c_str()));
    CGenList list;
    FUZZ_CHECK(CGenListConstruct(&list, 1, Dapi2_I_KillDevice));
    FUZZ_CHECK(ZoltParseModuleDeviceList(&list, &sComponent) == 0);
    CGenListIter it;
    for (CGenListIterInit(&it, &list); !CGenListIterAtEnd(&it); CGenListIterAdv(&it)) {
        const Dapi2Device *pDev = (const Dapi2Device *)CGenListIterGetData(&it);
        FUZZ_CHECK(pDev != nullptr && pDev->szName != nullptr && pDev->szName[0] != '\0');
        if (pDev->pFruInfo != nullptr)
            FUZZ_CHECK(pDev->pFruInfo->uSize == DAPI2_FRU_SIZE_WORD);
    }
    CGenListDestruct(&list);
    CGenStrDelete(&sComponent);
    return 0;
}
