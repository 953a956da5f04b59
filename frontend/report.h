/* report.h - where zoltpeers' output goes and the readable report: events in
 * English (identical ones in a row folded), a progress line on a terminal,
 * one result line per test with its warnings; the trace lines of the test
 * switch --trace-json; the raw packet log (--log). Failed writes are noted.
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

/* Where the results go. All null / 0: silent (the default, used by tests). */
struct PeersReport {
    FILE *pOut;                /* results (text, json, ocptv) or trace lines */
    FILE *pLog;                /* raw packets, or null */
    int iFormat;               /* index in g_aPeersFormats, or PEERS_FORMAT_TRACE */
    int bTty;                  /* text on a terminal: show the progress line */
    int bVisible;              /* pOut is a terminal: control characters made visible */
    int bProgressOpen;         /* a progress line stands on screen without its newline */
    int bOutFailed;            /* a write to pOut failed */
    int bLogFailed;            /* a write to pLog failed */
    int iWriteErrno;           /* errno of the first failed write */
    std::string sProgressHead; /* "loop 1/3  CPU:0  test 2 (MMX unit)  0:00:05" */
    std::string sFoldLine;     /* the last event line, not printed yet */
    int iFoldCount;            /* how often it came in a row */
    FILE *pFile;               /* --output: the result file, or null */
    int iFileFormat;           /* its PEERS_FORMAT_* (pOut then gets the text report) */
    int bFileFailed;           /* a write to pFile failed */
    int bQuiet;                /* --quiet: the terminal gets the summary and failures only */
    int bHold;                 /* text lines are held back (a run that may be folded) */
    std::string sHeld, sHeldEssential; /* the held lines; those --quiet shows */
};
extern PeersReport g_PeersReport;

/* Sets the outputs; bTty (text format only) and bVisible are taken from pOut.
 * A write to pOut that finds its reader gone (broken pipe) ends the session:
 * it sets g_iPeersInterrupted to SIGPIPE. */
void PeersReportInit(FILE *pOut, int iFormat, FILE *pLog);
/* Sends the results in iFileFormat to pFile; pOut keeps the text report. */
void PeersReportSetFile(FILE *pFile, int iFileFormat);
/* --quiet: only the summary and failures reach pOut (no progress line). */
void PeersReportSetQuiet(int bQuiet);
/* The format of the result records: the file's when there is one. */
int PeersResultFormat(void);

/* ---- Writers (through g_PeersReport) ---- */

/* One packet in or out ("in": received from lPeer; "out": sent to lPeer):
 * raw to the log, and a trace line in the trace format. */
void PeersReportPacket(const char *szDir, long lPeer, const char *szPacket);
/* One event while a test runs (text format): its line, identical lines in a
 * row folded into one with a count, and the progress line for percent values
 * (terminal only). */
void PeersReportLiveEvent(const PeersInvocation *pInv, const PeersEvent *pEvent);
/* A line of the text report (nothing in the other formats); made valid UTF-8. */
void PeersReportText(const char *szFormat, ...) __attribute__((format(printf, 1, 2)));
/* A line of the text report that --quiet keeps (summary, failures). */
void PeersReportEssential(const char *szFormat, ...) __attribute__((format(printf, 1, 2)));
/* One line (a newline is added) in any format; made valid UTF-8. */
void PeersReportLine(const std::string &sLine);
/* One result record (json, ocptv): to the result file, else to pOut. */
void PeersReportRecord(const std::string &sLine);
/* Holds back the text lines that follow (a run whose report may be folded). */
void PeersReportHold(void);
/* Ends holding: writes sFirst (text lines that belong before them) and then
 * the held lines when bWrite, else sFirst alone. */
void PeersReportRelease(int bWrite, const std::string &sFirst);
/* Shows sHead as the progress line (text on a terminal only). */
void PeersReportProgress(const std::string &sHead);
/* The end of one invocation: text: its result line, hint and warnings; trace:
 * its JSON record. */
void PeersReportInvocation(const PeersInvocation *pInv, const char *szDevice);
/* Prints the folded event line that waits, if any. */
void PeersReportFlushFold(void);

/* ---- Formatters (pure) ---- */

/* JSON object of one packet: dir, peer, kind (MSG, STARTUP, STOP, ACK or
 * OTHER), and for MSG from, to, id, re, type and data; always "raw". */
std::string PeersPacketJson(const char *szDir, long lPeer, const char *szPacket);
/* Readable line of one event, e.g. "  ERROR 1: General register test failed
 * (fault mask 3)"; "" for events that have no line (percent, time-outs). */
std::string PeersEventLine(const PeersEvent &ev);
/* s with its control characters made visible, for a terminal: C0 and DEL in
 * caret notation ("^[", "^?"), C1 (U+0080 to U+009F) as "M-^@" to "M-^_";
 * newline and tab stay. */
std::string PeersVisibleText(const std::string &s);
/* "\r  [#####     ]  50%" for the terminal progress line. */
std::string PeersProgressLine(int iPercent);
/* Name of a CPU test ("integer unit", ...), or "test" for others. */
const char *PeersTestName(int iTest);
/* Result line of a run, e.g. "CPU:0  test 0 (integer unit)  PASS". */
std::string PeersResultLine(const PeersInvocation &inv, const char *szDevice);
/* A plain-words explanation for results that need one (not PASS), or "". */
std::string PeersResultHint(const PeersInvocation &inv);
/* "  line (x6)" for a line that came iCount times in a row. */
std::string PeersFoldedLine(const std::string &sLine, int iCount);
/* JSON object of a finished invocation: kind "RESULT", or "SETUP" for an
 * invocation that only prepared the request (the enumeration before a run). */
std::string PeersInvocationJson(const PeersInvocation &inv, const char *szDevice);

#endif
