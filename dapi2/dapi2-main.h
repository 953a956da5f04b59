/* dapi2-main.h - module entry of the framework: the registration structure a
 * module fills with its callbacks, Dapi2_Main and the four run modes. */
#ifndef DAPI2_MAIN_H
#define DAPI2_MAIN_H

#include <stdint.h>

#include "dapi2-device.h"

/* Size word of a registration structure: 13 words of 4 bytes, as the module
 * ABI counts it; a structure whose size word is below this is refused. */
#define DAPI2_REGINFO_SIZE 52u
#define DAPI2_SLOT_ENUMERATE 1
#define DAPI2_SLOT_VALIDATE 2
#define DAPI2_SLOT_RUNDIAG 3
#define DAPI2_SLOT_SYSINFO 12
#define DAPI2_SLOT_COUNT 12

/* Callback shapes of the slots the framework calls. */
typedef int (*Dapi2EnumerateFn)(void);                                     /* slot 1 */
typedef int (*Dapi2ValidateFn)(int iTestId, Dapi2Device *pDevice);         /* slot 2 */
typedef int (*Dapi2RunDiagFn)(int iTestId, Dapi2Device *pDevice);          /* slot 3 */
typedef int (*Dapi2SysInfoFn)(Dapi2Device *pDevice, const char *szParams); /* slot 12 */
/* Storage type of a slot; cast the callback to it when registering. */
typedef void (*Dapi2Callback)(void);

struct Dapi2RegInfo {
    uint32_t uSize;                              /* DAPI2_REGINFO_SIZE */
    Dapi2Callback pfnSlot[DAPI2_SLOT_COUNT + 1]; /* [1..12]; [0] unused */
};

/* Returns a zeroed structure with size word 52 (caller frees it with
 * Dapi2_FreeRegistrationStructure), or null when memory is short. */
Dapi2RegInfo *Dapi2_CreateRegistrationStructure(void);
/* Fills slot iSlot (1 to 12); a later call replaces the function. Returns 0, or
 * 28 when pReg is null, its size word is below 52 or iSlot is out of range. */
int Dapi2_AddRegistrationStructureCallback(Dapi2RegInfo *pReg, int iSlot, Dapi2Callback pfn);
/* Releases the structure. Returns 0, or 28 for null. */
int Dapi2_FreeRegistrationStructure(Dapi2RegInfo *pReg);

extern Dapi2RegInfo *g_pDapi2RegInfo;

/* Parses the command line and runs one mode; returns the exit status (0, 28,
 * 29, 30, 31). Without arguments prints "<module> <version>\n" on standard
 * error and returns 0. Main thread. */
int Dapi2_Main(int argc, char **argv, Dapi2RegInfo *pReg);

/* Run modes; each returns the exit status of its mode. */
int Dapi2_PerformEnumerate(const char *szRef);
int Dapi2_PerformSysInfo(int argc, char **argv);
int Dapi2_PerformRunDiag(const char *szRef, int iDeviceId, int iTestId, int argc, char **argv);
int Dapi2_PerformParamValidate(const char *szRef, int iTestId, int iDeviceId, int argc,
                               char **argv);

#endif
