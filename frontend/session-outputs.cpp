/* session-outputs.cpp - the result file, the metrics file and the system-log
 * lines of one zoltpeers session. */
#include "session-outputs.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <syslog.h>

#include "report.h"

PeersOutputs g_PeersOutputs = { { "", "", "", -1, nullptr }, { "", "", "", -1, nullptr }, 0, {} };

int PeersOutputsOpen(const PeersCommand &cmd, const char **pszOption, std::string *psPath,
                     std::string *psWhy)
{
    g_PeersOutputs.metrics = PeersMetrics();
    g_PeersOutputs.metrics.dStart = PeersUnixNow();
    g_PeersOutputs.metrics.sCommand = cmd.sCommand;
    const struct {
        const char *szOption;
        const std::string &sPath;
        PeersOutputFile *pOf;
    } aFiles[] = { { "--output", cmd.sOutput, &g_PeersOutputs.output },
                   { "--metrics-file", cmd.sMetricsFile, &g_PeersOutputs.metricsFile } };
    for (const auto &f : aFiles)
        if (!f.sPath.empty() && PeersOutputFileOpen(f.pOf, f.sPath, psWhy) != 0) {
            *pszOption = f.szOption;
            *psPath = f.sPath;
            PeersOutputFileAbort(&g_PeersOutputs.output);
            return 1;
        }
    g_PeersOutputs.bSyslog = cmd.bSyslog;
    if (cmd.bSyslog)
        openlog("zoltpeers", LOG_PID, LOG_DAEMON);
    return 0;
}

void PeersOutputsSetModuleVersion(const std::string &sVersion)
{
    g_PeersOutputs.metrics.sModuleVersion = sVersion;
}

void PeersOutputsCountRun(const PeersTestRun &run)
{
    PeersMetricsAdd(&g_PeersOutputs.metrics, run, PeersUnixNow());
    if (!g_PeersOutputs.bSyslog || run.iOutcome == PEERS_OUTCOME_PASS ||
        run.iOutcome == PEERS_OUTCOME_UNTESTED)
        return;
    syslog(LOG_ERR, "%s test %d (%s) loop %ld: %s", run.sDevice.c_str(), run.iTest,
           PeersTestName(run.iTest), run.lLoop, PeersMetricsResultLabel(run).c_str());
}

std::string PeersSyslogSummaryLine(const std::string &sCommand, const PeersRunEnd *pEnd, int iExit)
{
    char szLine[300];
    if (pEnd == nullptr || pEnd->vTally.empty())
        snprintf(szLine, sizeof szLine, "%s: exit status %d", sCommand.c_str(), iExit);
    else
        snprintf(szLine, sizeof szLine,
                 "%s: %d run(s): %d passed, %d failed, %d not tested, %d not run; exit status %d",
                 sCommand.c_str(), pEnd->iPassed + pEnd->iFailed + pEnd->iUntested + pEnd->iNotRun,
                 pEnd->iPassed, pEnd->iFailed, pEnd->iUntested, pEnd->iNotRun, iExit);
    return szLine;
}

/* Writes the metrics text into its open file. Returns 0 or 1. */
static int WriteMetrics(int iExit)
{
    std::string sText = PeersMetricsText(g_PeersOutputs.metrics, PeersUnixNow(), iExit);
    return fputs(sText.c_str(), g_PeersOutputs.metricsFile.pFile) == EOF ? 1 : 0;
}

/* Commits one file; prints why it failed. Returns 0 or 1. */
static int CommitOne(PeersOutputFile *pOf, int bWriteFailed)
{
    std::string sReason;
    if (pOf->hDir < 0)
        return 0;
    if (bWriteFailed)
        sReason = strerror(g_PeersReport.iWriteErrno ? g_PeersReport.iWriteErrno : EIO);
    if (bWriteFailed || PeersOutputFileCommit(pOf, &sReason) != 0) {
        PeersOutputFileAbort(pOf);
        fprintf(stderr, "zoltpeers: writing %s failed: %s; make room or choose another file\n",
                pOf->sPath.c_str(), sReason.c_str());
        return 1;
    }
    return 0;
}

/* A file that could not be written turns a pass into "output failed". */
static int Worsen(int iExit)
{
    return iExit == PEERS_EXIT_FAILED || iExit == PEERS_EXIT_USAGE || iExit >= PEERS_EXIT_SIGNAL
               ? iExit
               : PEERS_EXIT_NOT_RUN;
}

int PeersOutputsClose(const PeersCommand &cmd, const PeersRunEnd *pEnd, int iExit)
{
    PeersReportSetFile(nullptr, g_PeersReport.iFormat);
    if (CommitOne(&g_PeersOutputs.output, g_PeersReport.bFileFailed) != 0)
        iExit = Worsen(iExit);
    if (g_PeersOutputs.metricsFile.pFile != nullptr &&
        CommitOne(&g_PeersOutputs.metricsFile, WriteMetrics(iExit)) != 0)
        iExit = Worsen(iExit);
    if (g_PeersOutputs.bSyslog) {
        syslog(iExit == 0 ? LOG_INFO : LOG_WARNING, "%s",
               PeersSyslogSummaryLine(cmd.sCommand, pEnd, iExit).c_str());
        closelog();
    }
    return iExit;
}
