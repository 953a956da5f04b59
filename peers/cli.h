/* cli.h - the command line of zoltpeers and the commands it runs:
 *   zoltpeers [options] all | enumerate | run --device N --test T [--param ID,VALUE]...
 *             | sysinfo --device N | validate --test T [--device N] [--param ID,VALUE]...
 * Exit status: 0 every test passed (or the request was answered), 1 a test did
 * not pass (or a parameter was not valid, or system information came without
 * the device), 2 the module could not be run or gave no answer; 3 a bad
 * command line. */
#ifndef ZOLT_PEERS_CLI_H
#define ZOLT_PEERS_CLI_H

#include <string>
#include <vector>

#include "peers-common.h"

#define PEERS_EXIT_PASS 0
#define PEERS_EXIT_FAILED 1
#define PEERS_EXIT_NOT_RUN 2
#define PEERS_EXIT_USAGE 3

/* One parsed command line. */
struct PeersCommand {
    std::string sCommand;          /* all, enumerate, run, sysinfo, validate */
    std::string sModule, sDefFile; /* empty: found by PeersDefaultPaths */
    std::string sLog;              /* --log FILE, or empty */
    std::string sPipeBase;         /* --pipe-base DIR: where the pipe directory goes */
    std::string sModuleWrapper;    /* --module-wrapper "PROGRAM ARGS": runs the module */
    int bJson;
    int bSplitComponents;
    int iDevice, iTest;               /* -1 when not given */
    int iErrLimit;                    /* -1 when not given */
    std::vector<std::string> vParams; /* "ID,VALUE" */
    PeersOptions opt;
};

/* Parses argv (argv[0] is the program). Returns 0, or 1 with szError (iSize
 * bytes) saying what is wrong. "--help" gives 2. */
int PeersParseCommandLine(int argc, char **argv, PeersCommand *pCmd, char *szError, int iSize);

/* Fills empty sModule / sDefFile: zoltcpu.linux and zoltcpu.ini beside the
 * running program, else in the installed module folder relative to it
 * (ZOLT_PEERS_MODULE_RELDIR, e.g. "../libexec/zoltcpu"). Returns 0, or 2 when
 * no module was given and none was found; *psLooked lists the paths tried. */
int PeersDefaultPaths(PeersCommand *pCmd, std::string *psLooked);

/* Runs the parsed command, writing the report to standard output. Returns the
 * exit status. */
int PeersRunCommand(PeersCommand *pCmd);

/* main() of zoltpeers. */
int PeersMain(int argc, char **argv);

#endif
