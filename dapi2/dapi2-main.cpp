/* dapi2-main.cpp - module entry of the framework: registration structure,
 * version, module name from /proc, command line, Dapi2_Main with its mode
 * dispatch and the four run modes (enumerate, sysinfo, run, validate).
 * Main thread only; the modes start and stop communications (dapi2-comms.cpp). */
#include "dapi2.h"

#include <ctype.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "trace.h"
#include "zolt-string.h"
#include "zolt-time.h"

/* Size of the module-name buffer of pidToProcName and of the cmdline read:
 * at most 255 characters of the command line are looked at. */
#define DAPI2_PROCNAME_SIZE 256
/* Module name used when the executable's name yields none. */
#define DAPI2_FALLBACK_MODULE "zoltmodule"
/* Text handed to the system-information callback. */
#define DAPI2_SYSINFO_PARAMS "Parameters Can Go Here Eventually"

Dapi2RegInfo *g_pDapi2RegInfo = NULL;
int g_Callback = -1;
int g_dapi2_ver_major = -1024;
int g_dapi2_ver_minor = -1024;
int g_dapi2_ver_revision = -1024;
char g_szDefinitionsFile[DAPI2_PATH_SIZE];
char g_szProcessId[DAPI2_PROCESSID_SIZE];
char g_szDapi2ServerFifoName[DAPI2_PATH_SIZE];
float g_fDapi2PercentageToTest = 0.0f;
int g_iDapi2ErrorLimit = 5;
const char *g_szDapi2CmdlinePath = "/proc/%d/cmdline";

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

/* Declares the module version. */
void Dapi2_Version(int iMajor, int iMinor, int iRevision)
{
    g_dapi2_ver_major = iMajor;
    g_dapi2_ver_minor = iMinor;
    g_dapi2_ver_revision = iRevision;
}

/* 1 unless all three numbers of "a.b.c" (before the first ".", after the first
 * ".", after the last ".") are -1024, the value of an undeclared version. */
int Dapi2_I_IsValidModuleVersion(const char *szVersion)
{
    if (szVersion == NULL)
        return 0;
    const char *pFirst = strchr(szVersion, '.');
    const char *pLast = strrchr(szVersion, '.');
    long lMajor = strtol(szVersion, NULL, 10);
    long lMinor = pFirst ? strtol(pFirst + 1, NULL, 10) : 0;
    long lRevision = pLast ? strtol(pLast + 1, NULL, 10) : 0;
    return (lMajor == -1024 && lMinor == -1024 && lRevision == -1024) ? 0 : 1;
}

float Dapi2_GetFloatPercentageToTest(void)
{
    return g_fDapi2PercentageToTest;
}
int Dapi2_GetPercentageToTest(void)
{
    return (int)g_fDapi2PercentageToTest;
}
int Dapi2_GetErrorLimit(void)
{
    return g_iDapi2ErrorLimit;
}

/* ---- Module name ---- */

/* Module name of process iPid from its command line (argv[0]): the base name
 * up to and including the "." of the first ".linux", then "zmd". Without
 * ".linux" the base name is cut at its first "." and ".zmd" appended. Returns
 * a static 256-byte buffer (overwritten by each call; not thread-safe), or
 * null when the file cannot be read or holds nothing. */
char *pidToProcName(int iPid)
{
    static char s_szName[DAPI2_PROCNAME_SIZE];
    char szPath[DAPI2_PATH_SIZE];
    snprintf(szPath, sizeof szPath, g_szDapi2CmdlinePath, iPid);
    FILE *pFile = fopen(szPath, "r");
    if (pFile == NULL)
        return NULL;
    char szCmd[DAPI2_PROCNAME_SIZE];
    int iLen = 0;
    int c;
    while (iLen < DAPI2_PROCNAME_SIZE - 1 && (c = fgetc(pFile)) != EOF && c != 0xFF)
        szCmd[iLen++] = (char)c;
    szCmd[iLen] = '\0'; /* argv[0] ends at its own NUL */
    fclose(pFile);
    if (szCmd[0] == '\0')
        return NULL;

    const char *pEnd = strstr(szCmd, ".linux");
    const char *pStart;
    if (pEnd != NULL) {
        pStart = pEnd;
        while (pStart > szCmd && pStart[-1] != '/')
            pStart--;
    } else {
        const char *pSlash = strrchr(szCmd, '/');
        pStart = pSlash ? pSlash + 1 : szCmd;
        pEnd = strchr(pStart, '.');
        if (pEnd == NULL)
            pEnd = pStart + strlen(pStart);
    }
    /* Name without suffix (< 255 characters), then ".zmd": always fits. */
    snprintf(s_szName, sizeof s_szName, "%.*s.zmd", (int)(pEnd - pStart), pStart);
    return s_szName;
}

/* This process's module name cut at its first "." into szOut; the fallback
 * name when it is empty or cannot be read. Returns szOut. */
char *Dapi2_I_GetModuleBaseName(char *szOut, int iOutSize)
{
    if (szOut == NULL || iOutSize < 1)
        return szOut;
    const char *szName = pidToProcName((int)getpid());
    if (szName == NULL || szName[0] == '.')
        szName = DAPI2_FALLBACK_MODULE;
    ZoltSafeStrNCpy(szOut, szName, iOutSize);
    char *pDot = strchr(szOut, '.');
    if (pDot != NULL)
        *pDot = '\0';
    return szOut;
}

/* ---- Command line ---- */

/* True when szWord begins with szKey; *ppszRest then points after it. */
static int Dapi2_I_KeyMatch(const char *szWord, const char *szKey, const char **ppszRest)
{
    size_t uLen = strlen(szKey);
    if (strncmp(szWord, szKey, uLen) != 0)
        return 0;
    *ppszRest = szWord + uLen;
    return 1;
}

/* Base-10 value of the leading digits, clamped to the int range (none gives 0). */
static int Dapi2_I_ToInt(const char *szText)
{
    long l = strtol(szText, NULL, 10);
    if (l > INT_MAX)
        return INT_MAX;
    if (l < INT_MIN)
        return INT_MIN;
    return (int)l;
}

/* Reads every word argv[0]..argv[argc-1]; first matching rule per word: mode
 * words (exact, last wins), then the prefix keys ref=, deffile=, device=,
 * test=, percent=, errlimit=, process= (into g_szProcessId), sfifo= (into
 * g_szDapi2ServerFifoName). Texts longer than their buffer are cut to size - 1.
 * An out pointer that is null is skipped. Always returns 0. */
int Dapi2_ParseCommandLine(int argc, char **argv, int *piMode, char *szRef, int iRefSize,
                           char *szDefFile, int iDefFileSize, int *piDeviceId, int *piTestId,
                           float *pfPercentage, int *piErrorLimit)
{
    if (piMode != NULL)
        *piMode = DAPI2_MODE_NONE;
    for (int i = 0; i < argc && argv != NULL; i++) {
        const char *szWord = argv[i];
        const char *szRest = NULL;
        if (szWord == NULL)
            continue;
        int iMode = -1;
        if (strcmp(szWord, "validate") == 0)
            iMode = DAPI2_MODE_VALIDATE;
        else if (strcmp(szWord, "enumerate") == 0)
            iMode = DAPI2_MODE_ENUMERATE;
        else if (strcmp(szWord, "run") == 0)
            iMode = DAPI2_MODE_RUNDIAG;
        else if (strcmp(szWord, "sysinfo") == 0)
            iMode = DAPI2_MODE_SYSINFO;
        if (iMode >= 0) {
            if (piMode != NULL)
                *piMode = iMode;
        } else if (Dapi2_I_KeyMatch(szWord, "ref=", &szRest)) {
            if (szRef != NULL)
                ZoltSafeStrNCpy(szRef, szRest, iRefSize);
        } else if (Dapi2_I_KeyMatch(szWord, "deffile=", &szRest)) {
            if (szDefFile != NULL)
                ZoltSafeStrNCpy(szDefFile, szRest, iDefFileSize);
        } else if (Dapi2_I_KeyMatch(szWord, "device=", &szRest)) {
            if (piDeviceId != NULL)
                *piDeviceId = Dapi2_I_ToInt(szRest);
        } else if (Dapi2_I_KeyMatch(szWord, "test=", &szRest)) {
            if (piTestId != NULL)
                *piTestId = Dapi2_I_ToInt(szRest);
        } else if (Dapi2_I_KeyMatch(szWord, "percent=", &szRest)) {
            float f = (float)strtod(szRest, NULL);
            if (!(f > 0.0f) || f > 100.0f) /* NaN is "not above 0" too */
                f = 100.0f;
            if (pfPercentage != NULL)
                *pfPercentage = f;
        } else if (Dapi2_I_KeyMatch(szWord, "errlimit=", &szRest)) {
            int iLimit = Dapi2_I_ToInt(szRest);
            if (iLimit < 0)
                iLimit = 10000;
            if (piErrorLimit != NULL)
                *piErrorLimit = iLimit;
        } else if (Dapi2_I_KeyMatch(szWord, "process=", &szRest)) {
            ZoltSafeStrNCpy(g_szProcessId, szRest, sizeof g_szProcessId);
        } else if (Dapi2_I_KeyMatch(szWord, "sfifo=", &szRest)) {
            ZoltSafeStrNCpy(g_szDapi2ServerFifoName, szRest, sizeof g_szDapi2ServerFifoName);
        }
    }
    return 0;
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
