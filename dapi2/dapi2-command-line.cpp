/* dapi2-command-line.cpp - what a module run was started with: its command
 * line (mode, reference, definitions file, device, test, percentage, error
 * limit, requester process, broker FIFO), the module version and the module
 * name read from /proc. The bottom of the framework: it calls no other file of
 * it, so the modes, communications, events and reports all read these settings
 * without calling back into the module entry. Main thread only. */
#include "dapi2-command-line.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "dapi2.h"
#include "zolt-string.h"

/* Module name used when the executable's name yields none. */
#define DAPI2_FALLBACK_MODULE "zoltmodule"

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
                *piDeviceId = ZoltAToI(szRest);
        } else if (Dapi2_I_KeyMatch(szWord, "test=", &szRest)) {
            if (piTestId != NULL)
                *piTestId = ZoltAToI(szRest);
        } else if (Dapi2_I_KeyMatch(szWord, "percent=", &szRest)) {
            float f = ZoltAToF(szRest);
            if (!(f > 0.0f) || f > 100.0f) /* NaN is "not above 0" too */
                f = 100.0f;
            if (pfPercentage != NULL)
                *pfPercentage = f;
        } else if (Dapi2_I_KeyMatch(szWord, "errlimit=", &szRest)) {
            int iLimit = ZoltAToI(szRest);
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
