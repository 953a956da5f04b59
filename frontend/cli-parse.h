/* cli-parse.h - the command line of zoltpeers as one parsed record, its exit
 * statuses, and the parser (cli-parse.cpp). The parse side knows the format
 * table's names, nothing of running a command (cli.h). */
#ifndef ZOLT_PEERS_CLI_PARSE_H
#define ZOLT_PEERS_CLI_PARSE_H

#include <string>
#include <vector>

#include "format-table.h"
#include "peers-common.h"

/* Exit statuses. When several apply, the order of priority is: a signal,
 * usage, FAIL, the module could not be run, something not tested, pass. */
#define PEERS_EXIT_PASS 0
#define PEERS_EXIT_FAILED 1   /* a test failed: FAIL, CRASHED or HUNG */
#define PEERS_EXIT_NOT_RUN 2  /* the module could not be run, or output failed */
#define PEERS_EXIT_USAGE 3    /* bad command line, unknown device or test, bad --param */
#define PEERS_EXIT_UNTESTED 4 /* nothing failed but something could not be tested */
#define PEERS_EXIT_SIGNAL 128 /* plus the signal number: 129 SIGHUP, 130 SIGINT, 143 SIGTERM */

/* One parsed command line. */
struct PeersCommand {
    std::string sCommand;          /* all, enumerate, run, sysinfo, validate; "" */
    std::string sModule, sDefFile; /* empty: found by PeersDefaultPaths */
    std::string sLog;              /* --log FILE, or empty */
    std::string sPipeBase;         /* --pipe-base DIR: where the pipe directory goes */
    std::string sModuleWrapper;    /* --module-wrapper "PROGRAM ARGS": runs the module */
    std::string sCommandLine;      /* the words as given, joined by blanks */
    int iFormat;                   /* index in g_aPeersFormats, or PEERS_FORMAT_TRACE */
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
    int iRetests;             /* --retest-on-failure N; 0 none */
    int bEachCpu;             /* --each-cpu (or --cpus): one run per logical CPU */
    int bCpusGiven;           /* --cpus given */
    std::vector<int> vCpus;   /* its logical CPUs, ascending, no repeats */
    long lJobs;               /* --jobs; 1 when not given */
    int bJobWorker;           /* --job-worker: a further job's process (job-worker.h) */
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

/* The text --help prints (its format lines from the format table). */
std::string PeersUsageText(void);

#endif
