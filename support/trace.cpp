/* trace.cpp - the trace log: enable table per trace type, the trace line
 * header "%s(%lu):%s():%s:%d ", the process-name lookup through the process
 * stat file and the debugging switch ZOLT_TRACE / ZOLT_TRACE_FILE.
 * DESIGN: the enable table and the trace file path are written once (by the
 * environment read under pthread_once, or by a test before threads start) and
 * only read afterwards; nothing locks. The process name is filled by the first
 * trace call; a racing second caller copies the same text. A line is formatted
 * into one buffer and written with one call so threads do not interleave. */
#include "trace.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "zolt-string.h"

/* Keywords of the trace types, indexed by type; type 3 has none. */
static const char *const s_aszTraceKeyword[ZOLT_TRACE_TYPES] = {
    "pipe", "pipe2", "mem", NULL, "diag", "mb", "de", "nls", "cli", "pv", "dll",
};

static int s_abTraceEnabled[ZOLT_TRACE_TYPES];    /* all off at start */
static int s_bTraceToFile;                        /* off: lines go to stderr */
static char s_szProgramTraceFile[ZOLT_PATH_SIZE]; /* destination when on */
static pthread_once_t s_EnvOnce = PTHREAD_ONCE_INIT;

const char *g_szProcStatFormat = "/proc/%d/stat";
char g_szTraceProcName[ZOLT_PATH_SIZE];
char g_szTraceComponentName[ZOLT_PATH_SIZE];

/* The /proc stat lookup reads at most this much: the command name sits right
 * after the pid, and the kernel keeps it to 15 characters. */
#define PROC_NAME_READ 64
static char s_szProcNameBuf[PROC_NAME_READ];

/* Applies ZOLT_TRACE and ZOLT_TRACE_FILE now; see the header. */
void ZoltTraceReadEnv(void)
{
    const char *szList = getenv("ZOLT_TRACE");
    if (szList != NULL)
        ZoltTraceEnableList(szList);
    const char *szFile = getenv("ZOLT_TRACE_FILE");
    if (szFile != NULL && szFile[0] != '\0')
        ZoltTraceSetFile(szFile);
}

/* Applies the environment switches; later calls do nothing. Any thread. */
void ZoltTraceInitFromEnv(void)
{
    pthread_once(&s_EnvOnce, ZoltTraceReadEnv);
}

/* Switches one type 0-10 on or off; call before threads start. */
void ZoltTraceSetType(int iType, int bOn)
{
    if ((unsigned)iType < ZOLT_TRACE_TYPES)
        s_abTraceEnabled[iType] = bOn ? 1 : 0;
}

/* Enables the types named in szList (keywords, numbers 0-10 or "all",
 * separated by ',' or blanks). Returns the count of words understood. */
int ZoltTraceEnableList(const char *szList)
{
    if (szList == NULL)
        return 0;
    int iUnderstood = 0;
    const char *p = szList;
    while (*p != '\0') {
        while (*p == ',' || isspace((unsigned char)*p))
            p++;
        const char *pStart = p;
        while (*p != '\0' && *p != ',' && !isspace((unsigned char)*p))
            p++;
        size_t uLen = (size_t)(p - pStart);
        if (uLen == 0 || uLen > 15)
            continue;
        char szWord[16];
        memcpy(szWord, pStart, uLen);
        szWord[uLen] = '\0';
        if (strcasecmp(szWord, "all") == 0) {
            for (int i = 0; i < ZOLT_TRACE_TYPES; i++)
                s_abTraceEnabled[i] = 1;
            iUnderstood++;
            continue;
        }
        char *pEnd = NULL;
        long lType = strtol(szWord, &pEnd, 10);
        if (pEnd != szWord && *pEnd == '\0') {
            if (lType >= 0 && lType < ZOLT_TRACE_TYPES) {
                s_abTraceEnabled[lType] = 1;
                iUnderstood++;
            }
            continue;
        }
        for (int i = 0; i < ZOLT_TRACE_TYPES; i++) {
            if (s_aszTraceKeyword[i] != NULL && strcasecmp(szWord, s_aszTraceKeyword[i]) == 0) {
                s_abTraceEnabled[i] = 1;
                iUnderstood++;
                break;
            }
        }
    }
    return iUnderstood;
}

/* Sends lines to szPath (appended), or to stderr for NULL or "". */
void ZoltTraceSetFile(const char *szPath)
{
    if (szPath == NULL || szPath[0] == '\0') {
        s_bTraceToFile = 0;
        s_szProgramTraceFile[0] = '\0';
        return;
    }
    ZoltSafeStrNCpy(s_szProgramTraceFile, szPath, (int)sizeof s_szProgramTraceFile);
    s_bTraceToFile = 1;
}

/* Trace type of a program name: "zolt2000" 5, "diagengine" 6, "nlsengine" 7,
 * "zoltcli" 8 (case ignored), any other name (NULL too) 4. */
int ProcNameToTracingType(const char *szName)
{
    if (szName == NULL)
        return ZOLT_TRACE_DIAG;
    if (strcasecmp(szName, "zolt2000") == 0)
        return ZOLT_TRACE_MB;
    if (strcasecmp(szName, "diagengine") == 0)
        return ZOLT_TRACE_DE;
    if (strcasecmp(szName, "nlsengine") == 0)
        return ZOLT_TRACE_NLS;
    if (strcasecmp(szName, "zoltcli") == 0)
        return ZOLT_TRACE_CLI;
    return ZOLT_TRACE_DIAG;
}

/* The command name of process iPid from its stat file (the text between the
 * first '(' and the first ')' of the first 64 bytes), or "????" when the
 * file cannot be read or has no such pair. Returns a static buffer that every
 * call overwrites. */
const char *PidToProcName(int iPid)
{
    char szPath[ZOLT_PATH_SIZE];
    snprintf(szPath, sizeof szPath, g_szProcStatFormat, iPid);
    FILE *pFile = fopen(szPath, "r");
    if (pFile == NULL)
        return "????";
    char szData[PROC_NAME_READ + 1];
    size_t uRead = fread(szData, 1, PROC_NAME_READ, pFile);
    fclose(pFile);
    szData[uRead] = '\0';
    if (szData[0] == '\0')
        return "????";
    const char *pOpen = strchr(szData, '(');
    const char *pClose = strchr(szData, ')');
    if (pOpen == NULL || pClose == NULL || pClose < pOpen)
        return "????";
    size_t uLen = (size_t)(pClose - pOpen - 1); /* at most 62: fits the buffer */
    memcpy(s_szProcNameBuf, pOpen + 1, uLen);
    s_szProcNameBuf[uLen] = '\0';
    return s_szProcNameBuf;
}

/* Fills the process name once with the base name of this process's command
 * name (after the last '/', before the first '.'). Any thread. */
void InitProcName(void)
{
    if (g_szTraceProcName[0] != '\0')
        return;
    char szBase[ZOLT_PATH_SIZE];
    SplitFilename(PidToProcName((int)getpid()), NULL, szBase, NULL);
    memcpy(g_szTraceProcName, szBase, strlen(szBase) + 1);
}

/* Non-zero when lines of iType are written. */
int TracingTypeEnabled(int iType)
{
    ZoltTraceInitFromEnv();
    if ((unsigned)iType >= ZOLT_TRACE_TYPES)
        return 0;
    if (iType == ZOLT_TRACE_PROG)
        return ProgramTracingEnabled();
    return s_abTraceEnabled[iType];
}

/* The enable flag of this program's own type. */
int ProgramTracingEnabled(void)
{
    InitProcName();
    return s_abTraceEnabled[ProcNameToTracingType(g_szTraceProcName)];
}

/* Opens the trace file for appending one line. It may lie where others can
 * write (the module runs as root too), so a link at its name is never
 * followed, only a regular file of the effective user with one link is
 * written, never a FIFO or device, and a new file gets mode 0600 whatever
 * the umask (the FIFO set-up leaves it at 0). Returns the descriptor, or -1:
 * the line then goes to standard error. */
static int OpenTraceFile(const char *szPath)
{
    int h = open(szPath, O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (h >= 0 || errno != EEXIST)
        return h;
    /* It exists: checked through a handle that opens nothing (no device is
     * ever opened by the check), then opened through that very handle. */
    int hPath = open(szPath, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (hPath >= 0 && fstat(hPath, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() &&
        st.st_nlink == 1) {
        char szSelf[64];
        snprintf(szSelf, sizeof szSelf, "/proc/self/fd/%d", hPath);
        h = open(szSelf, O_WRONLY | O_APPEND | O_CLOEXEC);
    }
    if (hPath >= 0)
        close(hPath);
    return h;
}

/* Writes one trace line when iType is enabled; see the header. */
void TPRINTF(int iType, const char *szFile, int iLine, const char *szFunc, const char *szFormat,
             ...)
{
    InitProcName();
    if (!TracingTypeEnabled(iType) || szFormat == NULL)
        return;
    char szFileName[ZOLT_PATH_SIZE];
    GetPathFilename(szFile, szFileName);
    std::string strLine;
    char szHeader[2 * ZOLT_PATH_SIZE + 64];
    snprintf(szHeader, sizeof szHeader, "%s(%lu):%s():%s:%d ", g_szTraceProcName,
             (unsigned long)getpid(), szFunc != NULL ? szFunc : "", szFileName, iLine);
    strLine = szHeader;
    va_list args;
    va_start(args, szFormat);
    va_list argsCopy;
    va_copy(argsCopy, args);
    int iLen = vsnprintf(NULL, 0, szFormat, argsCopy);
    va_end(argsCopy);
    if (iLen > 0) {
        size_t uOld = strLine.size();
        strLine.resize(uOld + (size_t)iLen + 1);
        vsnprintf(&strLine[uOld], (size_t)iLen + 1, szFormat, args);
        strLine.resize(uOld + (size_t)iLen);
    }
    va_end(args);

    int hFile = s_bTraceToFile ? OpenTraceFile(s_szProgramTraceFile) : -1;
    if (hFile < 0) {
        fwrite(strLine.data(), 1, strLine.size(), stderr);
        fflush(stderr);
        return;
    }
    size_t uDone = 0;
    while (uDone < strLine.size()) {
        ssize_t n = write(hFile, strLine.data() + uDone, strLine.size() - uDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        uDone += (size_t)n;
    }
    close(hFile);
}

/* Takes a component's trace file name; it is only remembered for
 * inspection, no file is ever written under it. */
void SetTraceFilenameForComponent(const char *szName)
{
    ZoltSafeStrNCpy(g_szTraceComponentName, szName, (int)sizeof g_szTraceComponentName);
}

/* Forms "<base name of szProgramPath><pid>_trace" and hands it on. */
void SetTraceFilenameForModule(const char *szProgramPath)
{
    char szBase[ZOLT_PATH_SIZE];
    SplitFilename(szProgramPath, NULL, szBase, NULL);
    char szName[ZOLT_PATH_SIZE + 32];
    snprintf(szName, sizeof szName, "%s%ld_trace", szBase, (long)getpid());
    SetTraceFilenameForComponent(szName);
}

/* Called first by main: applies the environment switches and, at the first
 * argument after the program path that contains "trace", forms the module's
 * trace file name. Returns 1 when that step ran, else 0. */
int ProcessTracingArgs(int argc, char **argv)
{
    ZoltTraceInitFromEnv();
    if (argv == NULL)
        return 0;
    for (int i = 1; i < argc; i++) {
        if (argv[i] != NULL && strstr(argv[i], "trace") != NULL) {
            SetTraceFilenameForModule(argv[0]);
            return 1;
        }
    }
    return 0;
}
