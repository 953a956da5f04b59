/* dapi2.h - public interface of the diagnostic module framework: registration
 * structure, module entry (Dapi2_Main) with its command line and run modes,
 * communications start/stop, notifications, and (through the included headers)
 * events, device model, reports and parameters. A module includes only this. */
#ifndef DAPI2_H
#define DAPI2_H

#include <stdint.h>

#include "device-record.h"
#include "dapi2-device.h"
#include "param-valid.h"
#include "dapi2-events.h"
#include "dapi2-reports.h"

/* ---- Status codes of the framework (never exit statuses unless listed) ---- */
#define DAPI2_OK 0
#define DAPI2_ERR_BAD_NOTIFY 22 /* unknown notification kind */
#define DAPI2_ERR_STARTUP 23    /* startup notification not sent */
#define DAPI2_ERR_SEND 24       /* connection not opened, not sent, no answer */
#define DAPI2_ERR_MESSAGE 25    /* message not built */
#define DAPI2_ERR_HEADER 26     /* header not built */
#define DAPI2_ERR_NOMEM 27      /* out of memory */
#define DAPI2_ERR_BADARG 28     /* bad argument */

/* Exit statuses of a module process (what Dapi2_Main returns). */
#define DAPI2_EXIT_OK 0         /* the mode ran; any test result */
#define DAPI2_EXIT_NOMEM 1      /* registration structure not allocated (main) */
#define DAPI2_EXIT_NOREG 28     /* no registration structure */
#define DAPI2_EXIT_NOCOMM 29    /* communications could not be started */
#define DAPI2_EXIT_NOMODE 30    /* no or unknown mode word; validate without callback */
#define DAPI2_EXIT_BADPARAMS 31 /* parameter list could not be built or processed */

/* Run modes (g_Callback). */
#define DAPI2_MODE_NONE 0
#define DAPI2_MODE_VALIDATE 1
#define DAPI2_MODE_ENUMERATE 2
#define DAPI2_MODE_RUNDIAG 3
#define DAPI2_MODE_SYSINFO 4

/* Test result codes returned by the diagnostic callback; 12 and above are sent
 * as "SETUPERROR". */
#define DAPI2_RESULT_PASS 0
#define DAPI2_RESULT_SETUPERROR 1
#define DAPI2_RESULT_FAIL 2
#define DAPI2_RESULT_BUSY 3
#define DAPI2_RESULT_PRIVILEGEERROR 4
#define DAPI2_RESULT_NOTAPPLICABLE 5
#define DAPI2_RESULT_BADPARAMS 6
#define DAPI2_RESULT_NOMEDIA 7
#define DAPI2_RESULT_DISCONTINUED 8

/* ---- Registration structure ---- */

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

/* ---- Module entry ---- */

/* Declares the module version (before Dapi2_Main); -1024 each when never called. */
void Dapi2_Version(int iMajor, int iMinor, int iRevision);
/* Parses the command line and runs one mode; returns the exit status (0, 28,
 * 29, 30, 31). Without arguments prints "<module> <version>\n" on standard
 * error and returns 0. Main thread. */
int Dapi2_Main(int argc, char **argv, Dapi2RegInfo *pReg);

/* Percentage to test (float, and cut toward zero) and error limit. */
float Dapi2_GetFloatPercentageToTest(void);
int Dapi2_GetPercentageToTest(void);
int Dapi2_GetErrorLimit(void);

/* Module name of process iPid: the base name of its executable up to and
 * including ".", then "zmd" (/opt/x/zoltcpu.linux gives zoltcpu.zmd). An
 * executable without ".linux" falls back to its base name up to its first "."
 * plus ".zmd" (so "a.out" gives a.zmd). Returns a static buffer overwritten by
 * each call, or null when /proc/<pid>/cmdline cannot be read or is empty. */
char *pidToProcName(int iPid);
/* Test seam: the path pattern of the cmdline file ("/proc/%d/cmdline"). */
extern const char *g_szDapi2CmdlinePath;
/* This process's module name cut at its first "." into szOut (at most
 * iOutSize - 1 characters); "zoltmodule" when no name can be found. Returns szOut. */
char *Dapi2_I_GetModuleBaseName(char *szOut, int iOutSize);

/* ---- Framework internals used by the modes and the reports ---- */

/* Buffer sizes of the command-line texts. */
#define DAPI2_REF_SIZE 80
#define DAPI2_PATH_SIZE 4096
#define DAPI2_PROCESSID_SIZE 30

extern Dapi2RegInfo *g_pDapi2RegInfo;
extern int g_Callback; /* run mode, -1 before parsing */
extern int g_dapi2_ver_major, g_dapi2_ver_minor, g_dapi2_ver_revision;
extern char g_szDefinitionsFile[DAPI2_PATH_SIZE];
extern char g_szProcessId[DAPI2_PROCESSID_SIZE];
extern char g_szDapi2ServerFifoName[DAPI2_PATH_SIZE]; /* the sfifo= text */
extern float g_fDapi2PercentageToTest;
extern int g_iDapi2ErrorLimit;

/* Reads every word: mode words (last wins), ref=, deffile=, device=, test=,
 * percent= (not above 0 or above 100 gives 100), errlimit= (negative gives
 * 10000), process=, sfifo=. Over-long texts are cut to their buffer size - 1.
 * Always returns 0. */
int Dapi2_ParseCommandLine(int argc, char **argv, int *piMode, char *szRef, int iRefSize,
                           char *szDefFile, int iDefFileSize, int *piDeviceId, int *piTestId,
                           float *pfPercentage, int *piErrorLimit);

/* Starts communications: pipe directory, broker FIFO, transport and thread,
 * connection class and name from the definitions file, connection open,
 * startup notification. Returns 0, 24 (connection not opened) or 23 (startup
 * notification not sent; the connection stays open). */
int Dapi2_StartCommunications(const char *szStartupText);
/* Releases the device list, drains outgoing messages (1500 ms), sends the
 * shutdown notification, closes the connection, stops the thread, closes the
 * FIFOs. Returns 0. */
int Dapi2_StopCommunications(void);
/* Kinds of Dapi2_SendNotification. */
#define DAPI2_NOTIFY_STARTUP 0
#define DAPI2_NOTIFY_SHUTDOWN 1
#define DAPI2_NOTIFY_TESTRESULT 2
/* Kind 0: arg is the startup text (const char *); kind 1: ignored; kind 2: the
 * result code (intptr_t). Returns 0, 22, 26, 25, 24. */
int Dapi2_SendNotification(int iKind, const void *pArg);
/* The word of a test result code ("PASS" ...); 12 and above, 9 to 11 and
 * negative codes give "SETUPERROR". */
const char *Dapi2_I_ResultWord(int iResult);

/* Test seam for every message the framework sends (notifications, events,
 * reports): default ZoltClientSendMessage (0 sent, non-zero failed). */
extern int (*g_pfnDapi2SendMessage)(const char *szMessage);

/* Run modes; each returns the exit status of its mode. */
int Dapi2_PerformEnumerate(const char *szRef);
int Dapi2_PerformSysInfo(int argc, char **argv);
int Dapi2_PerformRunDiag(const char *szRef, int iDeviceId, int iTestId, int argc, char **argv);
int Dapi2_PerformParamValidate(const char *szRef, int iTestId, int iDeviceId, int argc,
                               char **argv);

/* Reads three base-10 numbers of "a.b.c"; 1 valid unless all three are -1024. */
int Dapi2_I_IsValidModuleVersion(const char *szVersion);

#endif
