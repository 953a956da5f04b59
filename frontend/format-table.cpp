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

/* The writers of the chosen format, or null (trace lines, silent reports). */
static const PeersFormatOps *Chosen(void)
{
    int i = g_PeersReport.iFormat;
    return i >= 0 && i < g_iPeersFormatCount ? g_aPeersFormats[i].pOps : nullptr;
}

void PeersEmitRunStart(const PeersRunInfo &info)
{
    if (const PeersFormatOps *p = Chosen())
        if (p->pfnRunStart != nullptr)
            p->pfnRunStart(info);
}

void PeersEmitTestRun(const PeersTestRun &run)
{
    if (const PeersFormatOps *p = Chosen())
        if (p->pfnTestRun != nullptr)
            p->pfnTestRun(run);
}

void PeersEmitSysInfo(const PeersInvocation &inv)
{
    if (const PeersFormatOps *p = Chosen())
        if (p->pfnSysInfo != nullptr)
            p->pfnSysInfo(inv);
}

void PeersEmitValidation(const PeersInvocation &inv, const char *szCheck)
{
    if (const PeersFormatOps *p = Chosen())
        if (p->pfnValidation != nullptr)
            p->pfnValidation(inv, szCheck);
}

void PeersEmitRunEnd(const PeersRunEnd &end)
{
    if (const PeersFormatOps *p = Chosen())
        if (p->pfnRunEnd != nullptr)
            p->pfnRunEnd(end);
}
