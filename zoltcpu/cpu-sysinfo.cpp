/* cpu-sysinfo.cpp - the system-information callback: a fresh CPU scan, the
 * record of the named device, and one key/value/description item per
 * switched-on language string, in a fixed order. Main thread. */
#include "cpu-sysinfo.h"

#include <stdio.h>
#include <string.h>

#include "cpu-enum.h"
#include "dapi2.h"
#include "zoltcpu.h"

/* The switch ids; key and description ids append "Key" and "Desc". */
static const char *const s_aszSysInfoSwitch[CPU_SYSINFO_ITEMS] = {
    "szSysInfoVendorId", "szSysInfoFamily",    "szSysInfoModel", "szSysInfoModelName",
    "szSysInfoStepping", "szSysInfoCacheSize", "szSysInfoSpeed",
};

/* Slot 12 of the registration: see zoltcpu.h. */
int OurSysInfoFunction(Dapi2Device *pDevice, const char *szParams)
{
    if (!VerifyEnumeration(pDevice)) {
        printf("Returning no device\n");
        fflush(stdout);
        return 9;
    }
    const CpuDevice *pRecord = FindDevice(pDevice);

    char szSpeed[CPU_SYSINFO_STRING_SIZE];
    snprintf(szSpeed, sizeof szSpeed, "%u", (unsigned)pRecord->iClock);
    const char *aszValue[CPU_SYSINFO_ITEMS] = {
        pRecord->szVendor,   pRecord->szFamily,    pRecord->szModel, pRecord->szModelName,
        pRecord->szStepping, pRecord->szCacheSize, szSpeed,
    };

    for (int i = 0; i < CPU_SYSINFO_ITEMS; i++) {
        char szSwitch[CPU_SYSINFO_STRING_SIZE] = "";
        char szKey[CPU_SYSINFO_STRING_SIZE] = "";
        char szDesc[CPU_SYSINFO_STRING_SIZE] = "";
        char szId[64];
        g_pfnCpuNlsGetString(s_aszSysInfoSwitch[i], szSwitch, sizeof szSwitch);
        if (strcmp(szSwitch, "on") != 0)
            continue;
        snprintf(szId, sizeof szId, "%sKey", s_aszSysInfoSwitch[i]);
        g_pfnCpuNlsGetString(szId, szKey, sizeof szKey);
        snprintf(szId, sizeof szId, "%sDesc", s_aszSysInfoSwitch[i]);
        g_pfnCpuNlsGetString(szId, szDesc, sizeof szDesc);
        Dapi2_AddSysInfoToDevice(pDevice, szKey, aszValue[i], szDesc);
    }
    return 0;
}
