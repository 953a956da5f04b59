/* session-outputs.h - where an unattended session leaves its outcome besides
 * standard output: the result file (--output), the metrics file
 * (--metrics-file) and the system log (--syslog). Both files are checked and
 * opened before any module runs and appear, complete, when the session ends. */
#ifndef ZOLT_PEERS_SESSION_OUTPUTS_H
#define ZOLT_PEERS_SESSION_OUTPUTS_H

#include "cli.h"
#include "format-metrics.h"
#include "output-file.h"
#include "results.h"

struct PeersOutputs {
    PeersOutputFile output, metricsFile; /* hDir -1 when not asked for */
    int bSyslog;
    PeersMetrics metrics;
};
extern PeersOutputs g_PeersOutputs;

/* Opens --output and --metrics-file and the system log as cmd asks (the
 * caller hands output.pFile to the report). Returns 0, or 1 with the option,
 * the path and why it is refused (nothing is left open). */
int PeersOutputsOpen(const PeersCommand &cmd, const char **pszOption, std::string *psPath,
                     std::string *psWhy);

/* Notes the module version of the session (for the metrics). */
void PeersOutputsSetModuleVersion(const std::string &sVersion);

/* Counts one finished test run: metrics, and a system-log line for a failure. */
void PeersOutputsCountRun(const PeersTestRun &run);

/* Ends the session's outputs: writes the metrics, renames both files into
 * place (or removes them when writing failed) and logs the summary. pEnd is
 * null when no run-end was reached. Returns the exit status: iExit, or
 * PEERS_EXIT_NOT_RUN when a file could not be written (FAIL and usage
 * errors keep theirs). */
int PeersOutputsClose(const PeersCommand &cmd, const PeersRunEnd *pEnd, int iExit);

/* The system-log line of a session: command, counts, exit status. */
std::string PeersSyslogSummaryLine(const std::string &sCommand, const PeersRunEnd *pEnd, int iExit);

#endif
