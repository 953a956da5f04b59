/* format-table.h - the result formats zoltpeers offers, as one table of name,
 * help text and writer callbacks (format-ops.h). The table is the single
 * source of the --format words, the --help lines, the error texts and the
 * dispatch; the man page, the completion and the README are tested against it. */
#ifndef ZOLT_PEERS_FORMAT_TABLE_H
#define ZOLT_PEERS_FORMAT_TABLE_H

#include <string>

/* The first format of the table is the default; the trace lines of the test
 * switch --trace-json are no result format and have no table entry. */
#define PEERS_FORMAT_TEXT 0
#define PEERS_FORMAT_TRACE (-1)

struct PeersFormatOps; /* the writers, known to the dispatch only */

/* One result format. */
struct PeersFormat {
    const char *szName; /* the --format word */
    const char *szHelp; /* one line for --help, after the name */
    const PeersFormatOps *pOps;
};
extern const PeersFormat g_aPeersFormats[];
extern const int g_iPeersFormatCount;

/* The table index of the format named szName, or -1. */
int PeersFindFormat(const char *szName);

/* "text, json or ocptv": every format's name, szLastJoin before the last. */
std::string PeersFormatNames(const char *szLastJoin);

#endif
