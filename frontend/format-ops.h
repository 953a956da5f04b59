/* format-ops.h - what a result format writes, as callbacks: the run's start,
 * one test run, a system-information or validation answer, the run's end.
 * Each format file (format-text.cpp, format-json.cpp, format-ocptv.cpp)
 * defines one PeersFormatOps and writes its records with PeersReportRecord
 * (to the --output file when there is one); the PeersEmit* calls pass a record
 * to the result format, and to the text report too when the terminal gets it
 * beside a result file of another format. */
#ifndef ZOLT_PEERS_FORMAT_OPS_H
#define ZOLT_PEERS_FORMAT_OPS_H

#include "format-table.h"
#include "results.h"

/* The writers of one format; a null callback writes nothing. */
struct PeersFormatOps {
    void (*pfnRunStart)(const PeersRunInfo &info);
    void (*pfnTestRun)(const PeersTestRun &run);
    void (*pfnSysInfo)(const PeersInvocation &inv);
    /* szCheck: who checked the parameters, "module" or "definitions" */
    void (*pfnValidation)(const PeersInvocation &inv, const char *szCheck);
    void (*pfnRunEnd)(const PeersRunEnd &end);
};

/* Each passes the record to the callback of the chosen format, if any. */
void PeersEmitRunStart(const PeersRunInfo &info);
void PeersEmitTestRun(const PeersTestRun &run);
void PeersEmitSysInfo(const PeersInvocation &inv);
void PeersEmitValidation(const PeersInvocation &inv, const char *szCheck);
void PeersEmitRunEnd(const PeersRunEnd &end);

#endif
