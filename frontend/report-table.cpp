/* report-table.cpp - the table that ends the text report: per device and
 * test the runs, passed, failed (crashed and hung included), not tested, not
 * run and total time, so that the counts add up to the runs; then the totals. */
#include "report.h"
#include "results.h"

/* "850 ms", "12.3 s", "1:02:03" */
static std::string Duration(unsigned long long ullMs)
{
    char sz[40];
    if (ullMs < 10000)
        snprintf(sz, sizeof sz, "%llu ms", ullMs);
    else if (ullMs < 3600000)
        snprintf(sz, sizeof sz, "%.1f s", (double)ullMs / 1000.0);
    else
        snprintf(sz, sizeof sz, "%llu:%02llu:%02llu", ullMs / 3600000, ullMs / 60000 % 60,
                 ullMs / 1000 % 60);
    return sz;
}

std::vector<std::string> PeersTextTable(const PeersRunEnd &end)
{
    std::vector<std::string> v;
    char szLine[200];
    int iRuns = end.iPassed + end.iFailed + end.iUntested + end.iNotRun;
    v.push_back("");
    snprintf(szLine, sizeof szLine,
             "Summary: %d run(s) in %ld loop(s), %d passed, %d failed, %d not tested, %d not run; "
             "%s%s%s",
             iRuns, end.lLoops, end.iPassed, end.iFailed, end.iUntested, end.iNotRun,
             Duration(end.ullDurationMs).c_str(),
             end.sStopReason.empty() ? "" : "; stopped: ", end.sStopReason.c_str());
    v.push_back(szLine);
    if (end.vTally.empty())
        return v;
    snprintf(szLine, sizeof szLine, "  %-8s %-30s %5s %7s %7s %11s %8s %10s", "device", "test",
             "runs", "passed", "failed", "not tested", "not run", "time");
    v.push_back(szLine);
    for (const PeersTally &t : end.vTally) {
        std::string sTest = std::to_string(t.iTest) + " " + PeersTestName(t.iTest);
        snprintf(szLine, sizeof szLine, "  %-8s %-30s %5d %7d %7d %11d %8d %10s", t.sDevice.c_str(),
                 sTest.c_str(), t.iRuns, t.iPassed, t.iFailed, t.iUntested, t.iNotRun,
                 Duration(t.ullMs).c_str());
        v.push_back(szLine);
    }
    return v;
}
