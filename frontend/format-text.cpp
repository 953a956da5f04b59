/* format-text.cpp - the text result format's writers: the report itself is
 * written while the run goes (report.cpp); at the end of a test run comes the
 * table of counts per device and test (report-table.cpp). */
#include "format-ops.h"
#include "report.h"

/* The closing table, after tests ran. */
static void TextRunEnd(const PeersRunEnd &end)
{
    if (end.lLoops > 0)
        for (const std::string &s : PeersTextTable(end))
            PeersReportEssential("%s\n", s.c_str());
}

extern const PeersFormatOps g_PeersTextOps = { nullptr, nullptr, nullptr, nullptr, TextRunEnd };
