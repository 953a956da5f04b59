/* profile-ini.cpp - fuzz target of the profile (INI) reader and of the
 * parameter definitions read through it: the input is written to a file and
 * looked up with the input's own section and key, the product's keys, the
 * allocating forms and a parameter definition.
 * Input: the section up to the first newline, the key up to the second, the
 * rest is the file (NULs included: the reader sees the file as it is). */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz-common.h"
#include "param-valid.h"
#include "profile.h"

/* One lookup with several buffer sizes: the answer is always terminated
 * inside the buffer and its length is the one returned. */
static void CheckLookup(const char *szSection, const char *szKey, const char *szPath)
{
    static const int s_aiSizes[] = { 1, 512 };
    for (int iSize : s_aiSizes) {
        char szBuf[512];
        memset(szBuf, 'x', sizeof szBuf);
        int iLen = ZoltGetPrivateProfileString(szSection, szKey, "dflt", szBuf, iSize, szPath);
        FUZZ_CHECK(iLen >= 0 && iLen < iSize);
        FUZZ_CHECK((int)strlen(szBuf) == iLen);
    }
    char *szAllocated = nullptr;
    int iLen =
        Zolt_I_GetPrivateProfileString(szSection, szKey, nullptr, nullptr, 0, szPath, &szAllocated);
    if (szAllocated != nullptr) {
        FUZZ_CHECK((int)strlen(szAllocated) == iLen);
        free(szAllocated);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    static std::string s_sPath;
    if (s_sPath.empty())
        s_sPath = FuzzTempPath("profile.ini");
    std::string sIn((const char *)pData, uSize);
    size_t uNl1 = sIn.find('\n');
    size_t uNl2 = uNl1 == std::string::npos ? std::string::npos : sIn.find('\n', uNl1 + 1);
    if (uNl2 == std::string::npos)
        return 0;
    std::string sSection = FuzzText((const uint8_t *)sIn.data(), uNl1);
    std::string sKey = FuzzText((const uint8_t *)sIn.data() + uNl1 + 1, uNl2 - uNl1 - 1);
    FuzzWriteFile(s_sPath, sIn.data() + uNl2 + 1, sIn.size() - uNl2 - 1);
    const char *szPath = s_sPath.c_str();

    CheckLookup(sSection.c_str(), sKey.c_str(), szPath);
    char *szCopy = ZoltGetIniString(szPath, "Module", "szConnectionClass");
    if (szCopy != nullptr) {
        FUZZ_CHECK(szCopy[0] != '\0');
        free(szCopy);
    }
    int iHas = ZoltGetPrivateProfileString(sSection.c_str(), nullptr, nullptr, nullptr, 0, szPath);
    FUZZ_CHECK(iHas == 0 || iHas == 1);

    /* A parameter whose id is the input's key, completed from the file as
     * definitions of test 1. */
    Dapi2Parameter param;
    memset(&param, 0, sizeof param);
    FUZZ_CHECK(Dapi2_InitParameter(&param));
    Dapi2_SetParameterId(&param, sKey.c_str());
    AssignParameterFieldsFromIniFile(szPath, 1, &param);
    Dapi2_DestructParameter(&param);
    ZoltEndSpeedIniAccess();
    return 0;
}
