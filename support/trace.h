/* trace.h - the trace log: TPRINTF writes one line tagged with a trace type
 * when that type is enabled; every type is off unless the environment
 * variable ZOLT_TRACE switches it on, so a normal run writes nothing.
 * DESIGN: the enable table and trace file are set once, before threads start
 * (first trace call or ProcessTracingArgs); the process name is filled by the
 * first caller, a racing second caller writes the same text. Nothing locks. */
#ifndef ZOLT_TRACE_H
#define ZOLT_TRACE_H

/* Trace types (also called trace levels). */
#define ZOLT_TRACE_PIPE 0  /* "pipe": FIFO transport */
#define ZOLT_TRACE_PIPE2 1 /* "pipe2": start/stop of the read/write thread */
#define ZOLT_TRACE_MEM 2   /* "mem": memory block tracing */
#define ZOLT_TRACE_PROG 3  /* the running program's own type, by process name */
#define ZOLT_TRACE_DIAG 4  /* "diag": diagnostic modules */
#define ZOLT_TRACE_MB 5    /* "mb": message broker */
#define ZOLT_TRACE_DE 6    /* "de": diagnostic engine, device-list parser */
#define ZOLT_TRACE_NLS 7   /* "nls": language-string engine */
#define ZOLT_TRACE_CLI 8   /* "cli": command-line client */
#define ZOLT_TRACE_PV 9    /* "pv": parameter parsing and validation */
#define ZOLT_TRACE_DLL 10  /* "dll": dump of the client message table */
#define ZOLT_TRACE_TYPES 11

/* Writes "%s(%lu):%s():%s:%d " (process name, pid, szFunc, file name of
 * szFile, iLine) and the formatted message when iType is enabled; adds no
 * newline. Call as TPRINTF(4, __FILE__, __LINE__, "", "x=%d\n", x).
 * Any thread; never fails the caller. */
void TPRINTF(int iType, const char *szFile, int iLine, const char *szFunc, const char *szFormat,
             ...) __attribute__((format(printf, 5, 6)));

/* Non-zero when lines of iType are written; types above 10 or negative: 0;
 * type 3 answers ProgramTracingEnabled(). */
int TracingTypeEnabled(int iType);
/* The enable flag of the type that belongs to this process's name. */
int ProgramTracingEnabled(void);
/* "zolt2000" 5, "diagengine" 6, "nlsengine" 7, "zoltcli" 8 (any case), else 4. */
int ProcNameToTracingType(const char *szName);
/* Fills the process name once: base name of PidToProcName(getpid()). */
void InitProcName(void);
/* The command name between the first '(' and ')' of /proc/<pid>/stat, or
 * "????". Returns a static 64-byte buffer that each call overwrites. */
const char *PidToProcName(int iPid);
/* Called first by main: at the first argument containing "trace"
 * (case-sensitive; argv[0] is not searched) it calls
 * SetTraceFilenameForModule(argv[0]). Returns 1 when it did, else 0.
 * Also applies the ZOLT_TRACE switches. */
int ProcessTracingArgs(int argc, char **argv);
/* Forms "<base of szProgramPath><pid>_trace" and hands it to
 * SetTraceFilenameForComponent. */
void SetTraceFilenameForModule(const char *szProgramPath);
/* Takes a component trace file name: only remembered in
 * g_szTraceComponentName for inspection; no file is written under it. */
void SetTraceFilenameForComponent(const char *szName);

/* Debugging switch, read once at the first trace call (or from
 * ProcessTracingArgs): ZOLT_TRACE names the types to enable, separated by ','
 * or blanks, as keywords ("pipe,de"), numbers ("0,6") or "all";
 * ZOLT_TRACE_FILE, when set, sends the lines to that file (appended) instead
 * of standard error. Unknown words are ignored. */
void ZoltTraceInitFromEnv(void);
/* Applies the two variables now, whether or not they were read before
 * (types only ever switched on). Before threads start. */
void ZoltTraceReadEnv(void);
/* Enables (bOn 1) or disables one type 0-10; others ignored. Set before
 * threads start. */
void ZoltTraceSetType(int iType, int bOn);
/* Parses a ZOLT_TRACE-style list and enables the named types; returns the
 * count of words understood. */
int ZoltTraceEnableList(const char *szList);
/* Sends trace lines to szPath (appended, opened per line), or back to
 * standard error for NULL or "". Only a regular file of the effective user
 * with one link is written, never through a link at its name; a new one gets
 * mode 0600; a line that cannot go there goes to standard error. */
void ZoltTraceSetFile(const char *szPath);

/* Test seam: printf format of the process stat file (one %d for the pid). */
extern const char *g_szProcStatFormat;
/* The process name (base name), empty until InitProcName fills it. */
extern char g_szTraceProcName[];
/* The name last handed to SetTraceFilenameForComponent. */
extern char g_szTraceComponentName[];

#endif /* ZOLT_TRACE_H */
