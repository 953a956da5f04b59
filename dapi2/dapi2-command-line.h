/* dapi2-command-line.h - what a module run was started with: the run modes,
 * the command-line settings and their parser, the module version, the
 * percentage and error limit, and the module name read from /proc. */
#ifndef DAPI2_COMMAND_LINE_H
#define DAPI2_COMMAND_LINE_H

/* Run modes (g_Callback). */
#define DAPI2_MODE_NONE 0
#define DAPI2_MODE_VALIDATE 1
#define DAPI2_MODE_ENUMERATE 2
#define DAPI2_MODE_RUNDIAG 3
#define DAPI2_MODE_SYSINFO 4

/* Buffer sizes of the command-line texts. */
#define DAPI2_REF_SIZE 80
#define DAPI2_PATH_SIZE 4096
#define DAPI2_PROCESSID_SIZE 30
/* Size of the module-name buffer of pidToProcName and of the cmdline read:
 * at most 255 characters of the command line are looked at. */
#define DAPI2_PROCNAME_SIZE 256

extern int g_Callback; /* run mode, -1 before parsing */
extern int g_dapi2_ver_major, g_dapi2_ver_minor, g_dapi2_ver_revision;
extern char g_szDefinitionsFile[DAPI2_PATH_SIZE];
extern char g_szProcessId[DAPI2_PROCESSID_SIZE];
extern char g_szDapi2ServerFifoName[DAPI2_PATH_SIZE]; /* the sfifo= text */
extern float g_fDapi2PercentageToTest;
extern int g_iDapi2ErrorLimit;

/* Declares the module version (before Dapi2_Main); -1024 each when never called. */
void Dapi2_Version(int iMajor, int iMinor, int iRevision);
/* Reads three base-10 numbers of "a.b.c"; 1 valid unless all three are -1024. */
int Dapi2_I_IsValidModuleVersion(const char *szVersion);

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

/* Reads every word: mode words (last wins), ref=, deffile=, device=, test=,
 * percent= (not above 0 or above 100 gives 100), errlimit= (negative gives
 * 10000), process=, sfifo=. Over-long texts are cut to their buffer size - 1.
 * Always returns 0. */
int Dapi2_ParseCommandLine(int argc, char **argv, int *piMode, char *szRef, int iRefSize,
                           char *szDefFile, int iDefFileSize, int *piDeviceId, int *piTestId,
                           float *pfPercentage, int *piErrorLimit);

#endif
