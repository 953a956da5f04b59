/* cli.h - the command line of zoltpeers (one parsed record), its exit
 * statuses and the entry points: parsing (cli-parse.cpp), finding the module
 * (module-paths.cpp) and running a command (cli.cpp). */
#ifndef ZOLT_PEERS_CLI_H
#define ZOLT_PEERS_CLI_H

#include <string>
#include <vector>

#include "peers-common.h"

/* Exit statuses. When several apply, the order of priority is: a signal,
 * usage, FAIL, the module could not be run, something not tested, pass. */
#define PEERS_EXIT_PASS 0
#define PEERS_EXIT_FAILED 1   /* a test found a hardware fault */
#define PEERS_EXIT_NOT_RUN 2  /* the module could not be run, or output failed */
#define PEERS_EXIT_USAGE 3    /* bad command line, unknown device or test, bad --param */
#define PEERS_EXIT_UNTESTED 4 /* nothing failed but something could not be tested */
#define PEERS_EXIT_SIGNAL 128 /* plus the signal number: 130 SIGINT, 143 SIGTERM */

/* Result formats on standard output. TRACE is a test switch: the packets and
 * raw invocation records as JSON lines. */
#define PEERS_FORMAT_TEXT 0
#define PEERS_FORMAT_JSON 1
#define PEERS_FORMAT_OCPTV 2
#define PEERS_FORMAT_TRACE 3

/* One parsed command line. */
struct PeersCommand {
    std::string sCommand;          /* all, enumerate, run, sysinfo, validate; "" */
    std::string sModule, sDefFile; /* empty: found by PeersDefaultPaths */
    std::string sLog;              /* --log FILE, or empty */
    std::string sPipeBase;         /* --pipe-base DIR: where the pipe directory goes */
    std::string sModuleWrapper;    /* --module-wrapper "PROGRAM ARGS": runs the module */
    std::string sCommandLine;      /* the words as given, joined by blanks */
    int iFormat;                   /* PEERS_FORMAT_* */
    int bHelp, bVersion;
    int bSplitComponents;
    int iDevice, iTest;                /* -1 when not given */
    int iErrLimit;                     /* -1 when not given */
    std::vector<std::string> vParams;  /* "ID,VALUE" */
    int bTestsGiven, bDevicesGiven;    /* --tests / --devices given */
    std::vector<int> vTests, vDevices; /* their numbers, ascending, no repeats */
    long lLoops;                       /* --loops; -1 when not given */
    unsigned long long ullDurationMs;  /* --duration; 0 when not given */
    int bStopOnFail;
    std::string sOutput;      /* --output FILE: the results there, the text report on stdout */
    std::string sMetricsFile; /* --metrics-file PATH: Prometheus metrics at the end */
    int bQuiet;               /* --quiet: only the summary and failures on the terminal */
    int bFold;                /* --fold: fold identical passes in the ocptv format too */
    int bSyslog;              /* --syslog: a summary line and one per failure to syslog */
    PeersOptions opt;
};

/* Parses argv (argv[0] is the program) with getopt_long. Returns 0, or
 * PEERS_EXIT_USAGE with szError (iSize bytes) saying what is wrong and what
 * to do. --help and --version set their flags and return 0. */
int PeersParseCommandLine(int argc, char **argv, PeersCommand *pCmd, char *szError, int iSize);

/* Reads a list such as "0,2" or "0-3,5" into ascending numbers without
 * repeats. Returns 0, or 1 when it is empty or not such a list. */
int PeersParseNumberList(const char *szText, std::vector<int> *pvOut);

/* Reads a duration: "90" or "90s" seconds, "10m" minutes, "2h" hours, at
 * least one second and at most 10000 hours. Returns 0 or 1. */
int PeersParseDuration(const char *szText, unsigned long long *pullMs);

/* The text --help prints. */
const char *PeersUsageText(void);

/* Fills empty sModule / sDefFile: zoltcpu.linux and zoltcpu.ini beside the
 * running program, else in the installed module folder relative to it
 * (ZOLT_PEERS_MODULE_RELDIR, e.g. "../libexec/zoltcpu"). Returns 0, or 2 when
 * no module was given and none was found; *psLooked lists the paths tried. */
int PeersDefaultPaths(PeersCommand *pCmd, std::string *psLooked);

/* The version line of the module program (what it prints when started
 * without arguments), or "" when it could not be run. */
std::string PeersModuleVersion(const std::string &sModule);

/* Runs the parsed command, writing the results to standard output. Returns
 * the exit status. */
int PeersRunCommand(PeersCommand *pCmd);

/* main() of zoltpeers. */
int PeersMain(int argc, char **argv);

#endif
