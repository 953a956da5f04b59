/* cli.h - running a parsed command line of zoltpeers (cli.cpp): finding the
 * module (module-paths.cpp), the session, the request, the results in the
 * chosen format and the exit status; main() of zoltpeers. */
#ifndef ZOLT_PEERS_CLI_H
#define ZOLT_PEERS_CLI_H

#include <string>

#include "cli-parse.h"

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
