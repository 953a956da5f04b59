/* fold.h - bounded results of long soaks: identical consecutive passes (and
 * not-tested results) of one test on one device and logical CPU are held back
 * and written as one record with a count, the first and last start and the
 * fastest and slowest duration. A filter in front of PeersEmitTestRun. */
#ifndef ZOLT_PEERS_FOLD_H
#define ZOLT_PEERS_FOLD_H

#include <string>
#include <vector>

#include "results.h"

/* A streak of identical passes of one device and test. run.pInv points at
 * inv once the caller has the entry (PeersFoldEntryRun). */
struct PeersFoldEntry {
    std::string sSignature;
    PeersInvocation inv; /* the first pass's record */
    PeersTestRun run;    /* the first pass, its fold span covering the streak */
};

/* The open streaks, at most one per device and test. */
struct PeersFolder {
    std::vector<PeersFoldEntry> vOpen;
};

/* What PeersFoldOffer did with a run. */
#define PEERS_FOLD_NOT_HELD 0 /* a failure or breakdown: write it now */
#define PEERS_FOLD_OPENED 1   /* a pass or not-tested run that starts a streak (held) */
#define PEERS_FOLD_ADDED 2    /* a run identical to its streak (counted) */

/* What makes two runs identical: outcome, result word, the events (without
 * percent values), the module's exit status. */
std::string PeersFoldSignature(const PeersTestRun &run);

/* Offers a finished run. A streak of its device and test that the run does
 * not continue ends and is moved to *pvEnded. Returns PEERS_FOLD_*. */
int PeersFoldOffer(PeersFolder *pFolder, const PeersTestRun &run,
                   std::vector<PeersFoldEntry> *pvEnded);

/* Ends every open streak, in the order they opened, into *pvEnded. */
void PeersFoldFlush(PeersFolder *pFolder, std::vector<PeersFoldEntry> *pvEnded);

/* The entry's run with its record pointer set. */
const PeersTestRun &PeersFoldEntryRun(PeersFoldEntry *pEntry);

/* Text line of a folded streak, e.g. "CPU:0  test 0 (integer unit)  PASS x200
 * (loops 1-200, 10-14 ms, 2026-01-01T00:00:00Z to 2026-01-01T00:10:00Z)". */
std::string PeersFoldTextLine(const PeersTestRun &run);

/* ---- The folding writer (one per process, under the scheduler's lock) ---- */

/* Starts a session's folding: no open streak; bFoldRecords: the result
 * records fold as the text does (else each run is a record of its own, as
 * ocptv without --fold). */
void PeersFoldStart(int bFoldRecords);
/* The scheduler's writer of a finished run. When the selection repeats the
 * scheduler has held the run's text back (PeersReportHold): the run starts or
 * continues a streak (its text dropped when it continues one) or is written
 * at once (a failure), after the text lines of the streaks it ended. */
void PeersFoldEmitRun(const PeersTestRun &run);
/* Writes every open streak (the run's end comes next). */
void PeersFoldEmitEnd(void);

#endif
