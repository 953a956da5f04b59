/* safe-path.h - the rules for every path zoltpeers makes or opens where other
 * users may reach (it runs as root too): the pipe base and the private pipe
 * directory held by descriptors, FIFOs inside it, files written (--log and
 * other outputs) and files read (the definitions file).
 * DESIGN: a name is resolved once without following a link at its end (an
 * O_PATH handle opens no file, so no device or FIFO is ever opened by a
 * check), the handle is checked with fstat, and the file is then opened
 * through /proc/self/fd/<handle>: exactly the checked file, however the name
 * has changed since. Inside the private directory everything goes through its
 * descriptor (openat, mkfifoat, unlinkat). Each refusal fills a reason of a
 * few plain words for a one-line message naming the path. */
#ifndef ZOLT_PEERS_SAFE_PATH_H
#define ZOLT_PEERS_SAFE_PATH_H

#include <sys/types.h>

#include <string>

/* Longest definitions path the module can send in its STARTUP packet: its
 * NLSDATA element is built in a 300-byte buffer that takes at most 298
 * characters, 19 of which are the markup. */
#define PEERS_DEFFILE_PATH_MAX 279
/* Longest pipe base: the module's own FIFO "<base>/zoltpeers.XXXXXX/ZOLT_<pid>"
 * (pids of up to 7 digits) must stay within the 255 characters it takes as a
 * FIFO name. */
#define PEERS_PIPE_BASE_MAX 225
/* Files read whole (the definitions file) stay below this, as in the module. */
#define PEERS_READ_FILE_LIMIT 65536

/* A private directory made inside a held base directory, held open itself. */
struct PeersHeldDir {
    int hBase = -1;    /* the base directory; -1 none */
    int hDir = -1;     /* the private directory; -1 none */
    std::string sName; /* its name inside the base */
    dev_t dev = 0;     /* its identity, to recognise it at removal */
    ino_t ino = 0;
};

/* Checks the status of a directory that will hold zoltpeers' private
 * directory: owned by root or the effective user, and writable by nobody else
 * unless its sticky bit is set (so nobody else can rename entries in it).
 * Returns 0, or 1 with *psWhy. */
int PeersCheckSharedDir(const struct stat *pSt, std::string *psWhy);
/* Checks the status of an existing file zoltpeers is about to write: a
 * regular file of the effective user with one link. Returns 0 or 1 (*psWhy). */
int PeersCheckOwnFile(const struct stat *pSt, std::string *psWhy);

/* Opens szPath (a link to it is followed: the operator named it) as a pipe
 * base and checks it with PeersCheckSharedDir; a path too long for the FIFO
 * names is refused. Returns the descriptor (close-on-exec), or -1 (*psWhy). */
int PeersOpenPipeBase(const char *szPath, std::string *psWhy);
/* Makes a new directory "<szPrefix>XXXXXX" in hBase (taken over by pDir, also
 * on failure), mode 0700, group the effective group, no set-group-id bit, and
 * holds it open. Returns 0, or 1 (*psWhy; hBase is closed). */
int PeersMakeHeldDir(int hBase, const char *szPrefix, PeersHeldDir *pDir, std::string *psWhy);
/* Removes every entry but directories from the held directory, then the
 * directory itself, but only while its name still names it; closes both
 * descriptors. Safe to call twice. */
void PeersRemoveHeldDir(PeersHeldDir *pDir);
/* Makes FIFO szName in hDir with mode 0600 (whatever the umask). Returns 0 or
 * the errno. */
int PeersMakeFifoAt(int hDir, const char *szName);
/* Opens the FIFO szName in hDir (AT_FDCWD: a path), never through a link and
 * only when it is a FIFO, for the transport (registered, non-blocking,
 * close-on-exec). Returns the handle, or -1 (*psWhy when given). */
int PeersOpenFifoAt(int hDir, const char *szName, int bForWriting, std::string *psWhy);

/* Opens szPath for writing from its start: a new file is made with mode
 * 0600; an existing one must pass PeersCheckOwnFile and is truncated. Never
 * follows a link at the name, never opens a FIFO or device. Returns the
 * descriptor (close-on-exec), or -1 (*psWhy). */
int PeersOpenWriteFile(const char *szPath, std::string *psWhy);
/* Reads szPath whole into *psText: only a regular file below uLimit bytes;
 * a FIFO or device is refused without being opened. Returns 0, or 1 (*psWhy). */
int PeersReadSmallFile(const char *szPath, size_t uLimit, std::string *psText, std::string *psWhy);

#endif
