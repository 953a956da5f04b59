/* format-metrics.cpp - Prometheus text exposition format: one HELP and TYPE
 * line per metric family, then its samples; names in zoltcpu_ with their unit
 * and _total on counters; no sample timestamps (the collector stamps them). */
#include "format-metrics.h"

#include <stdio.h>
#include <time.h>

#include "report.h"

double PeersUnixNow(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

std::string PeersMetricsResultLabel(const PeersTestRun &run)
{
    if (run.iOutcome == PEERS_OUTCOME_CRASHED)
        return "CRASHED";
    if (run.iOutcome == PEERS_OUTCOME_HUNG)
        return "HUNG";
    return PeersResultWordOf(*run.pInv);
}

void PeersMetricsAdd(PeersMetrics *pMetrics, const PeersTestRun &run, double dEnd)
{
    std::string sCpu = run.place.iCpu >= 0 ? std::to_string(run.place.iCpu) : "";
    PeersMetricsSeries *pSeries = nullptr;
    for (PeersMetricsSeries &s : pMetrics->vSeries)
        if (s.sDevice == run.sDevice && s.sCpu == sCpu && s.iTest == run.iTest)
            pSeries = &s;
    if (pSeries == nullptr) {
        pMetrics->vSeries.push_back(
            PeersMetricsSeries{ run.sDevice,
                                sCpu,
                                run.iTest,
                                "",
                                0,
                                0,
                                {},
                                { { "FAIL", 0 }, { "CRASHED", 0 }, { "HUNG", 0 } } });
        pSeries = &pMetrics->vSeries.back();
    }
    std::string sResult = PeersMetricsResultLabel(run);
    unsigned long long ullLastMs = run.fold.iCount > 1 ? run.fold.ullMaxMs : run.ullDurationMs;
    pSeries->sLastResult = sResult;
    pSeries->dLastSeconds = (double)ullLastMs / 1000.0;
    pSeries->dLastStart = dEnd - pSeries->dLastSeconds;
    pSeries->runs[sResult] += run.fold.iCount;
    if (PeersOutcomeIsFailure(run.iOutcome))
        pSeries->failures[sResult] += run.fold.iCount;
}

/* A label value with \, " and newlines escaped. */
static std::string Escape(const std::string &s)
{
    std::string sOut;
    for (char c : s)
        sOut += c == '\\' ? "\\\\" : (c == '"' ? "\\\"" : (c == '\n' ? "\\n" : std::string(1, c)));
    return sOut;
}

static std::string Labels(const PeersMetricsSeries &s)
{
    return "device=\"" + Escape(s.sDevice) + "\",cpu=\"" + Escape(s.sCpu) + "\",test=\"" +
           std::to_string(s.iTest) + "\",test_name=\"" + Escape(PeersTestName(s.iTest)) + "\"";
}

static std::string Family(const char *szName, const char *szType, const char *szHelp)
{
    return std::string("# HELP ") + szName + " " + szHelp + "\n# TYPE " + szName + " " + szType +
           "\n";
}

static std::string Number(double d)
{
    char sz[40];
    snprintf(sz, sizeof sz, "%.3f", d);
    return sz;
}

/* The per-test families. */
static std::string TestFamilies(const PeersMetrics &m)
{
    std::string s = Family("zoltcpu_test_last_result", "gauge",
                           "Result of the last run of a test on a device (1 for its result).");
    for (const PeersMetricsSeries &r : m.vSeries)
        s += "zoltcpu_test_last_result{" + Labels(r) + ",result=\"" + Escape(r.sLastResult) +
             "\"} 1\n";
    s += Family("zoltcpu_test_last_run_timestamp_seconds", "gauge",
                "Unix time the last run of a test on a device started.");
    for (const PeersMetricsSeries &r : m.vSeries)
        s += "zoltcpu_test_last_run_timestamp_seconds{" + Labels(r) + "} " + Number(r.dLastStart) +
             "\n";
    s += Family("zoltcpu_test_last_duration_seconds", "gauge",
                "How long the last run of a test on a device took.");
    for (const PeersMetricsSeries &r : m.vSeries)
        s += "zoltcpu_test_last_duration_seconds{" + Labels(r) + "} " + Number(r.dLastSeconds) +
             "\n";
    s += Family("zoltcpu_test_runs_total", "counter", "Runs of a test on a device by result.");
    for (const PeersMetricsSeries &r : m.vSeries)
        for (const auto &it : r.runs)
            s += "zoltcpu_test_runs_total{" + Labels(r) + ",result=\"" + Escape(it.first) + "\"} " +
                 std::to_string(it.second) + "\n";
    s += Family("zoltcpu_test_failures_total", "counter",
                "Failed runs of a test on a device by result (FAIL, CRASHED, HUNG).");
    for (const PeersMetricsSeries &r : m.vSeries)
        for (const auto &it : r.failures)
            s += "zoltcpu_test_failures_total{" + Labels(r) + ",result=\"" + Escape(it.first) +
                 "\"} " + std::to_string(it.second) + "\n";
    return s;
}

std::string PeersMetricsText(const PeersMetrics &m, double dEnd, int iExitStatus)
{
    std::string s = m.vSeries.empty() ? "" : TestFamilies(m);
    s += Family("zoltcpu_session_start_timestamp_seconds", "gauge",
                "Unix time the screening session started.") +
         "zoltcpu_session_start_timestamp_seconds " + Number(m.dStart) + "\n";
    s += Family("zoltcpu_session_end_timestamp_seconds", "gauge",
                "Unix time the screening session ended.") +
         "zoltcpu_session_end_timestamp_seconds " + Number(dEnd) + "\n";
    s += Family("zoltcpu_session_exit_status", "gauge",
                "Exit status of zoltpeers (0 passed, 1 a fault found, 2 not run, 3 usage, 4 not "
                "tested, 128+N a signal).") +
         "zoltcpu_session_exit_status " + std::to_string(iExitStatus) + "\n";
    s += Family("zoltcpu_session_info", "gauge", "Versions of the screening session's tools.") +
         "zoltcpu_session_info{command=\"" + Escape(m.sCommand) + "\",version=\"" +
         Escape(ZOLT_PEERS_VERSION) + "\",module_version=\"" + Escape(m.sModuleVersion) + "\"} 1\n";
    return s;
}
