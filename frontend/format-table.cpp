/* format-table.cpp - the table of result formats and the dispatch of records
 * to the chosen one. A new format is one more file with its PeersFormatOps
 * and one more row here. */
#include <string.h>

#include "format-ops.h"
#include "report.h"

extern const PeersFormatOps g_PeersTextOps, g_PeersJsonOps, g_PeersOcptvOps;

const PeersFormat g_aPeersFormats[] = {
    { "text", "a report for people (the default)", &g_PeersTextOps },
    { "json", "one JSON object per line (zoltpeers-results version 2)", &g_PeersJsonOps },
    { "ocptv", "OCP Test and Validation 2.0 artifacts, one per line", &g_PeersOcptvOps },
};
const int g_iPeersFormatCount = (int)(sizeof g_aPeersFormats / sizeof g_aPeersFormats[0]);

int PeersFindFormat(const char *szName)
{
    for (int i = 0; i < g_iPeersFormatCount; i++)
        if (strcmp(g_aPeersFormats[i].szName, szName) == 0)
            return i;
    return -1;
}

std::string PeersFormatNames(const char *szLastJoin)
{
    std::string s;
    for (int i = 0; i < g_iPeersFormatCount; i++)
        s += std::string(i == 0 ? "" : (i + 1 == g_iPeersFormatCount ? szLastJoin : ", ")) +
             g_aPeersFormats[i].szName;
    return s;
}

/* The writers of format i, or null (trace lines, silent reports). */
static const PeersFormatOps *OpsOf(int i)
{
    return i >= 0 && i < g_iPeersFormatCount ? g_aPeersFormats[i].pOps : nullptr;
}

/* The writers a record goes to: the result format's (the --output file's,
 * else standard output's) and, when the terminal gets the text report beside
 * a result file of another format, the text format's. Returns their count. */
static int Targets(const PeersFormatOps *apOps[2])
{
    int iResult = PeersResultFormat(), n = 0;
    if ((apOps[n] = OpsOf(iResult)) != nullptr)
        n++;
    if (g_PeersReport.pFile != nullptr && g_PeersReport.iFormat == PEERS_FORMAT_TEXT &&
        iResult != PEERS_FORMAT_TEXT)
        apOps[n++] = OpsOf(PEERS_FORMAT_TEXT);
    return n;
}

void PeersEmitRunStart(const PeersRunInfo &info)
{
    const PeersFormatOps *apOps[2];
    for (int i = 0, n = Targets(apOps); i < n; i++)
        if (apOps[i]->pfnRunStart != nullptr)
            apOps[i]->pfnRunStart(info);
}

void PeersEmitTestRun(const PeersTestRun &run)
{
    const PeersFormatOps *apOps[2];
    for (int i = 0, n = Targets(apOps); i < n; i++)
        if (apOps[i]->pfnTestRun != nullptr)
            apOps[i]->pfnTestRun(run);
}

void PeersEmitSysInfo(const PeersInvocation &inv)
{
    const PeersFormatOps *apOps[2];
    for (int i = 0, n = Targets(apOps); i < n; i++)
        if (apOps[i]->pfnSysInfo != nullptr)
            apOps[i]->pfnSysInfo(inv);
}

void PeersEmitValidation(const PeersInvocation &inv, const char *szCheck)
{
    const PeersFormatOps *apOps[2];
    for (int i = 0, n = Targets(apOps); i < n; i++)
        if (apOps[i]->pfnValidation != nullptr)
            apOps[i]->pfnValidation(inv, szCheck);
}

void PeersEmitRunEnd(const PeersRunEnd &end)
{
    const PeersFormatOps *apOps[2];
    for (int i = 0, n = Targets(apOps); i < n; i++)
        if (apOps[i]->pfnRunEnd != nullptr)
            apOps[i]->pfnRunEnd(end);
}
