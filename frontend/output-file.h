/* output-file.h - a result file written whole or not at all: the checks that
 * make a path safe for a program running as root, a temporary file beside the
 * target, and the commit (flush, fsync, rename, fsync of the folder). */
#ifndef ZOLT_PEERS_OUTPUT_FILE_H
#define ZOLT_PEERS_OUTPUT_FILE_H

#include <stdio.h>

#include <string>

/* One file being written: its target, the temporary name and the stream. */
struct PeersOutputFile {
    std::string sPath;        /* as given */
    std::string sBase, sTemp; /* names inside the folder */
    int hDir;                 /* the folder, opened once and checked; -1 when closed */
    FILE *pFile;              /* the temporary file; null when not open */
};

/* Checks that sPath may be replaced by this process: its folder is not a
 * symbolic link and passes PeersCheckSharedDir; an existing sPath (never
 * followed) passes PeersCheckOwnFile. Returns 0, or 1 with *psReason saying
 * why not. */
int PeersOutputFileCheck(const std::string &sPath, std::string *psReason);

/* The same checks on a folder already opened (hDir) and the name sBase in it. */
int PeersOutputFileCheckAt(int hDir, const std::string &sBase, std::string *psReason);

/* Checks sPath and creates the temporary file beside it (mode 0644, never
 * following a link). Returns 0, or 1 with *psReason set. */
int PeersOutputFileOpen(PeersOutputFile *pOf, const std::string &sPath, std::string *psReason);

/* Flushes, fsyncs and closes the temporary file, renames it to the target
 * and fsyncs the folder. Returns 0, or 1 with *psReason set (the temporary
 * file is removed). */
int PeersOutputFileCommit(PeersOutputFile *pOf, std::string *psReason);

/* Closes and removes the temporary file (nothing is renamed). */
void PeersOutputFileAbort(PeersOutputFile *pOf);

#endif
