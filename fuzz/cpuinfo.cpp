/* cpuinfo.cpp - fuzz target of the processor-table scanners: the input is
 * written to a file that stands in for the kernel's processor table
 * (g_szCpuInfoPath), then the CPU scan builds its chain of records and the
 * one-line description is read for the first processors.
 * Input: the table's bytes; bit 0 of the length picks whether the scan also
 * reports the devices (enumeration list) or only builds them. */
#include <stdint.h>
#include <string.h>

#include <string>

#include "cpu-enum.h"
#include "dapi2-device.h"
#include "fuzz-common.h"
#include "zolt-mod-support.h"

/* The SMBIOS switch stays off: no language-string engine here, and the
 * socket cap is fuzzed through the SMBIOS target. */
static char *SwitchOff(const char *szId, char *szOut, int iOutSize)
{
    (void)szId;
    if (szOut != nullptr && iOutSize > 0)
        szOut[0] = '\0';
    return nullptr;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    static std::string s_sPath;
    if (s_sPath.empty()) {
        s_sPath = FuzzTempPath("cpuinfo");
        g_szCpuInfoPath = s_sPath.c_str();
        g_pfnCpuNlsGetString = SwitchOff;
    }
    FuzzWriteFile(s_sPath, pData, uSize);

    FUZZ_CHECK(ScanDeviceTree((int)(uSize & 1)) == 0);
    int iCount = GetDeviceCount();
    FUZZ_CHECK(iCount >= 1);
    int iExpect = 0;
    for (const CpuDevice *p = g_pRootDevice; p != nullptr; p = p->pNext, iExpect++) {
        FUZZ_CHECK(p->iIndex == iExpect);
        FUZZ_CHECK(p->szName != nullptr && p->szVendor != nullptr && p->szModelName != nullptr);
        FUZZ_CHECK(strlen(p->szVendor) < CPU_TEXT_SIZE && strlen(p->szModelName) < CPU_TEXT_SIZE);
        FUZZ_CHECK(p->pDevice != nullptr);
    }

    /* Processor 0 also with a buffer too small for most descriptions. */
    static const struct {
        int iProcessor, iSize;
    } s_aCalls[] = { { 0, CPU_DESC_SIZE }, { 0, 12 }, { 2, CPU_DESC_SIZE } };
    for (const auto &call : s_aCalls) {
        char szDesc[CPU_DESC_SIZE];
        memset(szDesc, 'x', sizeof szDesc);
        int iRc = DeviceInfoCPU(call.iProcessor, szDesc, call.iSize);
        FUZZ_CHECK(iRc == 1 || (iRc <= -1 && iRc >= -6));
        if (iRc == 1)
            FUZZ_CHECK(strnlen(szDesc, (size_t)call.iSize) < (size_t)call.iSize);
    }

    KillDevices(g_pRootDevice);
    g_pRootDevice = nullptr;
    Dapi2_KillDeviceList();
    return 0;
}
