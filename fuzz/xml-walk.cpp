/* xml-walk.cpp - fuzz target of the resumable field walk: the n-th
 * ZoltXmlWalkNext of a path must give exactly what the lookup of occurrence
 * n - 1 gives (same result code, same value), and once the walk has nothing
 * more the lookup of the next occurrence must find nothing either.
 * Input: the path up to the first newline; the rest is the message text (cut
 * at its first NUL). The product's own paths are walked as well. */
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz-common.h"
#include "gen-str.h"
#include "message-protocol.h"

#define XML_WALK_MAX_STEPS 64

static const char *const s_aszPaths[] = { "MSG/DATA/COMPONENT", "MSG/DATA/COMPONENT/DEVICE/DID",
                                          "MSG/HDR/TYPE", "A/B" };

static void CheckWalk(const std::string &sText, const char *szPath)
{
    CGenStr sWalk, sLookup;
    FUZZ_CHECK(CGenStrInit(&sWalk) && CGenStrInit(&sLookup));
    ZoltXmlWalk walk;
    const char *szText = sText.c_str();
    int iInit = ZoltXmlWalkInit(&walk, szText, szText + sText.size(), szPath);
    FUZZ_CHECK(iInit == 0 || iInit == 2);
    for (int iOcc = 0; iOcc < XML_WALK_MAX_STEPS; iOcc++) {
        int iStep = ZoltXmlWalkNext(&walk, &sWalk);
        int iRef = ZoltXmlGetFieldStr(szText, szPath, iOcc, &sLookup);
        FUZZ_CHECK(iStep == iRef);
        if (iStep != 0)
            break;
        FUZZ_CHECK(strcmp(CGenStrC_Str(&sWalk), CGenStrC_Str(&sLookup)) == 0);
    }
    CGenStrDelete(&sWalk);
    CGenStrDelete(&sLookup);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    std::string sAll = FuzzText(pData, uSize);
    size_t uNl = sAll.find('\n');
    std::string sPath = uNl == std::string::npos ? "" : sAll.substr(0, uNl);
    std::string sText = uNl == std::string::npos ? sAll : sAll.substr(uNl + 1);
    CheckWalk(sText, sPath.c_str());
    for (const char *szPath : s_aszPaths)
        CheckWalk(sText, szPath);
    return 0;
}
