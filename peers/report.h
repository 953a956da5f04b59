/* report.h - what zoltpeers prints: a readable report (events in English, a
 * progress line on a terminal, one result line per test, a summary), or JSON
 * lines of every message and result (--json), plus the raw packet log (--log).
 * The formatters are pure functions; the Report* calls write through the
 * process-wide g_PeersReport. Single-threaded. */
#ifndef ZOLT_PEERS_REPORT_H
#define ZOLT_PEERS_REPORT_H

#include <stdio.h>

#include <string>
#include <vector>

#include "engine.h"

/* Width of the progress bar, in characters. */
#define PEERS_PROGRESS_WIDTH 30

/* Where the report goes. All null / 0: silent (the default, used by tests). */
struct PeersReport {
    FILE *pOut; /* readable report or JSON lines */
    FILE *pLog; /* raw packets, or null */
    int bJson;
    int bTty;          /* pOut is a terminal: show the progress line */
    int bProgressOpen; /* a progress line stands on screen without its newline */
};
extern PeersReport g_PeersReport;

/* Outcome of one test in the summary. */
struct PeersTestOutcome {
    std::string sDevice; /* e.g. "CPU:0" */
    int iTest;
    std::string sWord; /* result word, or "" when no result came */
    int bRan;          /* the module ran and reported */
};

/* Sets the outputs; bTty is taken from pOut (never in JSON mode). */
void PeersReportInit(FILE *pOut, int bJson, FILE *pLog);

/* ---- Writers (through g_PeersReport) ---- */

/* One packet in or out ("in": received from lPeer; "out": sent to lPeer):
 * raw to the log, and a JSON line in JSON mode. */
void PeersReportPacket(const char *szDir, long lPeer, const char *szPacket);
/* One event while a test runs: a line for texts, the progress line for
 * percent values (terminal only). */
void PeersReportLiveEvent(const PeersInvocation *pInv, const PeersEvent *pEvent);
/* A line of the readable report (nothing in JSON mode). */
void PeersReportText(const char *szFormat, ...) __attribute__((format(printf, 1, 2)));
/* The end of one invocation: its result line(s), or its JSON record. */
void PeersReportInvocation(const PeersInvocation *pInv, const char *szDevice);
/* The summary of a whole command. */
void PeersReportSummary(const std::vector<PeersTestOutcome> &vOutcomes, int iExitStatus);

/* ---- Formatters (pure) ---- */

/* s with '"', '\\' and control characters escaped for a JSON string. */
std::string PeersJsonEscape(const std::string &s);
/* JSON object of one packet: dir, peer, kind (MSG, STARTUP, STOP, ACK or
 * OTHER), and for MSG from, to, id, re, type and data; always "raw". */
std::string PeersPacketJson(const char *szDir, long lPeer, const char *szPacket);
/* Readable line of one event, e.g. "  ERROR 1: General register test failed
 * (fault mask 3)"; "" for events that have no line (percent, time-outs). */
std::string PeersEventLine(const PeersEvent &ev);
/* "\r  [#####     ]  50%" for the terminal progress line. */
std::string PeersProgressLine(int iPercent);
/* Name of a CPU test ("integer unit", ...), or "test" for others. */
const char *PeersTestName(int iTest);
/* Result line of a run, e.g. "CPU:0  test 0 (integer unit)  PASS". */
std::string PeersResultLine(const PeersInvocation &inv, const char *szDevice);
/* A plain-words explanation for results that need one (not PASS), or "". */
std::string PeersResultHint(const PeersInvocation &inv);
/* JSON object of a finished invocation: kind "RESULT", or "SETUP" for an
 * invocation that only prepared the request (the enumeration before a run). */
std::string PeersInvocationJson(const PeersInvocation &inv, const char *szDevice);

#endif
