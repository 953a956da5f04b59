/* dapi2-main.cpp - module entry of the framework: registration structure,
 * Dapi2_Main with its mode dispatch and the four run modes (enumerate, sysinfo,
 * run, validate). Main thread only; the modes start and stop communications
 * (dapi2-comms.cpp). The top of the framework: it calls the other files, none
 * calls it. */
#include "dapi2-main.h"

#include "dapi2.h"

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "trace.h"
#include "zolt-string.h"
#include "zolt-time.h"

/* Text handed to the system-information callback. */
#define DAPI2_SYSINFO_PARAMS "Parameters Can Go Here Eventually"

Dapi2RegInfo *g_pDapi2RegInfo = NULL;

/* ---- Registration ---- */

/* Returns a zeroed registration structure with size word 52, or null. The
 * caller releases it with Dapi2_FreeRegistrationStructure. */
Dapi2RegInfo *Dapi2_CreateRegistrationStructure(void)
{
    Dapi2RegInfo *pReg = (Dapi2RegInfo *)calloc(1, sizeof(Dapi2RegInfo));
    if (pReg != NULL)
        pReg->uSize = DAPI2_REGINFO_SIZE;
    return pReg;
}

/* Stores pfn in slot iSlot (1..12), replacing an earlier one. Returns 0, or 28
 * for a null or undersized structure or a slot out of range. */
int Dapi2_AddRegistrationStructureCallback(Dapi2RegInfo *pReg, int iSlot, Dapi2Callback pfn)
{
    if (pReg == NULL || pReg->uSize < DAPI2_REGINFO_SIZE || iSlot < 1 || iSlot > DAPI2_SLOT_COUNT)
        return DAPI2_ERR_BADARG;
    pReg->pfnSlot[iSlot] = pfn;
    return 0;
}

/* Releases the structure. Returns 0, or 28 for null. */
int Dapi2_FreeRegistrationStructure(Dapi2RegInfo *pReg)
{
    if (pReg == NULL)
        return DAPI2_ERR_BADARG;
    free(pReg);
    return 0;
}

/* The function in slot iSlot of the registered structure, or null. */
static Dapi2Callback Dapi2_I_GetSlot(int iSlot)
{
    if (g_pDapi2RegInfo == NULL || g_pDapi2RegInfo->uSize < DAPI2_REGINFO_SIZE)
        return NULL;
    return g_pDapi2RegInfo->pfnSlot[iSlot];
}

/* ---- Modes ---- */

/* First device of the list (fetched from the engine outside enumerate mode)
 * matching iDeviceId, or null. */
static Dapi2Device *Dapi2_I_FindDeviceById(int iKind, int iDeviceId)
{
    for (Dapi2Device *p = Dapi2_GetFirstDevice(iKind); p != NULL; p = Dapi2_GetNextDevice())
        if (Dapi2_GetDeviceId(p) == iDeviceId)
            return p;
    return NULL;
}

/* Enumerate mode: start communications, run slot 1, print the banner, send
 * DE_ENUMDATA, stop. Returns 0, or 29 when communications did not start. */
int Dapi2_PerformEnumerate(const char *szRef)
{
    if (Dapi2_StartCommunications(szRef) != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_PerformEnumerate:Error in start comm\n");
        return DAPI2_EXIT_NOCOMM;
    }
    ZoltWait(1);
    Dapi2EnumerateFn pfnEnum = (Dapi2EnumerateFn)Dapi2_I_GetSlot(DAPI2_SLOT_ENUMERATE);
    if (pfnEnum != NULL) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_PerformEnumerate: doenum\n");
        pfnEnum();
    }
    char szName[DAPI2_TOKEN_VAR_LEN + 1];
    Dapi2_I_GetModuleBaseName(szName, sizeof szName);
    for (char *p = szName; *p != '\0'; p++)
        *p = (char)toupper((unsigned char)*p);
    ZoltPrintf("\nDAPI2 Diagnostic Module: %s\n", szName);
    Dapi2_SendEnumInfo();
    Dapi2_KillDeviceList();
    Dapi2_StopCommunications();
    return DAPI2_EXIT_OK;
}

/* System-information mode. Positional words: argv[2] requester, argv[3]
 * request id, argv[4] HW locator, argv[5] definitions file, argv[6] module
 * name. Returns 0, 29 (communications), 30 when fewer than seven words came. */
int Dapi2_PerformSysInfo(int argc, char **argv)
{
    if (argc < 7 || argv == NULL) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_PerformSysInfo: %d words, 7 needed\n", argc);
        return DAPI2_EXIT_NOMODE;
    }
    ZoltSafeStrNCpy(g_szDefinitionsFile, argv[5], sizeof g_szDefinitionsFile);
    if (Dapi2_StartCommunications("SYSINFO") != 0)
        return DAPI2_EXIT_NOCOMM;
    Dapi2Device *pDevice = NULL;
    for (Dapi2Device *p = Dapi2_GetFirstDevice(DAPI2_DEVLIST_SYSINFO); p != NULL;
         p = Dapi2_GetNextDevice()) {
        const char *szHw = Dapi2_GetDeviceHwLocator(p);
        if (szHw != NULL && strcmp(szHw, argv[4]) == 0) {
            pDevice = p;
            break;
        }
    }
    Dapi2SysInfoFn pfnSysInfo = (Dapi2SysInfoFn)Dapi2_I_GetSlot(DAPI2_SLOT_SYSINFO);
    if (pfnSysInfo != NULL)
        pfnSysInfo(pDevice, DAPI2_SYSINFO_PARAMS);
    Dapi2_SendSysInfo(argv[6], argv[2], argv[3], argv[4]);
    Dapi2_KillDeviceList();
    Dapi2_StopCommunications();
    return DAPI2_EXIT_OK;
}

/* Run mode: parameters from param= words, the predefined percentage and the
 * definitions file (31 on any failure, nothing sent), communications (29),
 * slot 3 on the device with iDeviceId (or null; result 6 without slot 3), the
 * test-result notification, stop. Returns 0, 29 or 31. */
int Dapi2_PerformRunDiag(const char *szRef, int iDeviceId, int iTestId, int argc, char **argv)
{
    if (!Dapi2_ParamListConstruct(&g_paramList))
        return DAPI2_EXIT_BADPARAMS;
    int bOk = 0;
    if (!GetParamsFromCommandLine(argc, argv, &g_paramList) ||
        !ProcessPredefinedParameters(&g_paramList, &bOk) || !bOk ||
        !GetParamIniInfo(g_szDefinitionsFile, (uint32_t)iTestId, &g_paramList)) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_PerformRunDiag: parameters refused\n");
        Dapi2_ParamListDestruct(&g_paramList);
        return DAPI2_EXIT_BADPARAMS;
    }
    if (Dapi2_StartCommunications(szRef) != 0) {
        Dapi2_ParamListDestruct(&g_paramList);
        return DAPI2_EXIT_NOCOMM;
    }
    int iResult = DAPI2_RESULT_BADPARAMS;
    Dapi2RunDiagFn pfnRun = (Dapi2RunDiagFn)Dapi2_I_GetSlot(DAPI2_SLOT_RUNDIAG);
    if (pfnRun != NULL)
        iResult = pfnRun(iTestId, Dapi2_I_FindDeviceById(DAPI2_DEVLIST_TEST, iDeviceId));
    Dapi2_SendNotification(DAPI2_NOTIFY_TESTRESULT, (const void *)(intptr_t)iResult);
    Dapi2_StopCommunications();
    Dapi2_ParamListDestruct(&g_paramList);
    return DAPI2_EXIT_OK;
}

/* Validate mode: 30 without slot 2 (nothing else happens); builds and
 * completes the parameters (31), starts communications (29), calls slot 2 and
 * answers the requester (senderpid=, reid=) with TRANSACTION_RESPONSE. Sent:
 * stop and 0; not sent: 31 without the shutdown sequence. */
int Dapi2_PerformParamValidate(const char *szRef, int iTestId, int iDeviceId, int argc, char **argv)
{
    Dapi2ValidateFn pfnValidate = (Dapi2ValidateFn)Dapi2_I_GetSlot(DAPI2_SLOT_VALIDATE);
    if (pfnValidate == NULL)
        return DAPI2_EXIT_NOMODE;
    if (!Dapi2_ParamListConstruct(&g_paramList))
        return DAPI2_EXIT_BADPARAMS;
    long lSenderPid = 0;
    unsigned long ulReId = 0;
    GetSenderPidAndReId(argc, argv, &lSenderPid, &ulReId);
    int bOk = 0; /* an out-of-range percentage is only marked in its valid flag here */
    if (!GetParamsFromCommandLine(argc, argv, &g_paramList) ||
        !ProcessPredefinedParameters(&g_paramList, &bOk) ||
        !GetParamIniInfo(g_szDefinitionsFile, (uint32_t)iTestId, &g_paramList)) {
        Dapi2_ParamListDestruct(&g_paramList);
        return DAPI2_EXIT_BADPARAMS;
    }
    TPRINTF(9, __FILE__, __LINE__, "", "trace point 3\n");
    if (Dapi2_StartCommunications(szRef) != 0) {
        Dapi2_ParamListDestruct(&g_paramList);
        return DAPI2_EXIT_NOCOMM;
    }
    pfnValidate(iTestId, Dapi2_I_FindDeviceById(DAPI2_DEVLIST_TEST, iDeviceId));
    TPRINTF(9, __FILE__, __LINE__, "", "trace point\n");
    if (!SendValidateParmsResults(lSenderPid, ulReId, &g_paramList)) {
        Dapi2_ParamListDestruct(&g_paramList);
        return DAPI2_EXIT_BADPARAMS;
    }
    Dapi2_StopCommunications();
    Dapi2_ParamListDestruct(&g_paramList);
    return DAPI2_EXIT_OK;
}

/* Module entry: version print without arguments (0), trace banner, then one
 * mode by the command line. Returns the exit status: 0, 28 (pReg null), 29, 30
 * (no or unknown mode; validate without callback), 31. Main thread. */
int Dapi2_Main(int argc, char **argv, Dapi2RegInfo *pReg)
{
    if (argc <= 1 || argv == NULL) {
        char szName[DAPI2_PROCNAME_SIZE];
        Dapi2_I_GetModuleBaseName(szName, sizeof szName);
        fprintf(stderr, "%s %d.%d.%d\n", szName, g_dapi2_ver_major, g_dapi2_ver_minor,
                g_dapi2_ver_revision);
        return DAPI2_EXIT_OK;
    }
    if (argv[argc - 1] != NULL && strstr(argv[argc - 1], "trace") != NULL) {
        SetTraceFilenameForModule(argv[0]);
        TPRINTF(3, __FILE__, __LINE__, "", "\nDAPI2 Diagnostic Module %s\n",
                argv[0] ? argv[0] : "");
        for (int i = 0; i < argc; i++)
            TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_main:Param %i = %s\n", i,
                    argv[i] ? argv[i] : "");
    }
    if (pReg == NULL)
        return DAPI2_EXIT_NOREG;
    g_pDapi2RegInfo = pReg;

    char szRef[DAPI2_REF_SIZE] = "";
    int iMode = DAPI2_MODE_NONE;
    int iDeviceId = 0; /* no device= word: device 0 */
    int iTestId = 0;   /* no test= word: test 0 */
    Dapi2_ParseCommandLine(argc, argv, &iMode, szRef, sizeof szRef, g_szDefinitionsFile,
                           sizeof g_szDefinitionsFile, &iDeviceId, &iTestId,
                           &g_fDapi2PercentageToTest, &g_iDapi2ErrorLimit);
    g_Callback = iMode;

    switch (iMode) {
    case DAPI2_MODE_VALIDATE:
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_main:ParamValidate\n");
        TPRINTF(9, __FILE__, __LINE__, "", "trace point 1\n");
        return Dapi2_PerformParamValidate(szRef, iTestId, iDeviceId, argc, argv);
    case DAPI2_MODE_ENUMERATE:
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_main:Enumerate\n");
        return Dapi2_PerformEnumerate(szRef);
    case DAPI2_MODE_RUNDIAG:
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_main:RunDiag\n");
        return Dapi2_PerformRunDiag(szRef, iDeviceId, iTestId, argc, argv);
    case DAPI2_MODE_SYSINFO:
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_main:SysInfo\n");
        return Dapi2_PerformSysInfo(argc, argv);
    default:
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_main:Unknown mode\n");
        return DAPI2_EXIT_NOMODE;
    }
}
