/* format-metrics.h - the session's outcome as Prometheus metrics in the text
 * exposition format, for the node exporter's textfile collector: per device,
 * logical CPU and test the last result, time and duration and the counts of
 * runs and failures by result; the session's start, end, exit status and
 * versions. */
#ifndef ZOLT_PEERS_FORMAT_METRICS_H
#define ZOLT_PEERS_FORMAT_METRICS_H

#include <map>
#include <string>
#include <vector>

#include "results.h"

/* One device, logical CPU and test. */
struct PeersMetricsSeries {
    std::string sDevice, sCpu; /* sCpu "" when the module chose the CPU */
    int iTest;
    std::string sLastResult;
    double dLastStart, dLastSeconds;            /* Unix time, seconds */
    std::map<std::string, long> runs, failures; /* by result label */
};

/* What a session's metrics are made of. */
struct PeersMetrics {
    double dStart; /* Unix time of the session's start */
    std::string sCommand, sModuleVersion;
    std::vector<PeersMetricsSeries> vSeries;
};

/* The result label of a run: the module's word, or CRASHED / HUNG. */
std::string PeersMetricsResultLabel(const PeersTestRun &run);

/* Counts a run that ended at Unix time dEnd (every run a folded record
 * stands for). */
void PeersMetricsAdd(PeersMetrics *pMetrics, const PeersTestRun &run, double dEnd);

/* The metrics file's text: the session ended at dEnd with iExitStatus. */
std::string PeersMetricsText(const PeersMetrics &metrics, double dEnd, int iExitStatus);

/* The current Unix time in seconds. */
double PeersUnixNow(void);

#endif
