/* session.h - one zoltpeers session: the broker, the diagnostic engine and the
 * language-string engine together, the transport they share, and running the
 * module once per request (enumerate, run, sysinfo, validate) with ZOLT_PATH
 * set to the broker's pipe directory, a time limit and a kill when it is over.
 * DESIGN: one thread (the caller's) serves all three peers; the transport's
 * read/write thread runs from PeersSessionOpen to PeersSessionClose. The module
 * is started with posix_spawn as the leader of its own process group (the
 * unit recognised and killed, so a wrapper's children go with it), with an
 * environment built here, none of our other descriptors, and its standard
 * output and error on a pipe read each round (64 KiB kept in the invocation
 * record, the rest dropped). The wait for
 * input also ends when the module does (a process descriptor from pidfd_open
 * polled with the broker FIFO; where there is none, waitpid after each round,
 * the rounds short once the module's STOP has come). After the module ended,
 * what it wrote is taken at once; only a module that ended without STOP gets
 * a drain that lasts until input stays away for a while. */
#ifndef ZOLT_PEERS_SESSION_H
#define ZOLT_PEERS_SESSION_H

#include <signal.h>

#include <string>
#include <vector>

#include "broker.h"
#include "engine.h"
#include "nls-engine.h"
#include "peers-common.h"

/* Set by SIGINT, SIGTERM and SIGHUP once PeersCatchSignals ran: the module
 * under way is killed and no further one is started. */
extern volatile sig_atomic_t g_iPeersInterrupted;
/* Set by SIGUSR1: the engine sends STOPTESTING to the module under way (once
 * it has sent its startup notification); cleared when sent. */
extern volatile sig_atomic_t g_iPeersStopRequested;
/* Test seam: non-zero makes the runner do without process descriptors, as on
 * a system that has none. Default 0. */
extern int g_bPeersNoPidFd;
/* Installs the handlers that set the two flags. Main thread. */
void PeersCatchSignals(void);

struct PeersSession {
    PeersOptions opt;
    PeersBroker broker;
    PeersNls nls;
    PeersEngine engine;
    long lOwnPid;            /* FROM of every message the peers send */
    std::string sModulePath; /* the module program */
    std::string sDefFile;    /* its definitions file */
    std::string sModuleName; /* program base name before its first '.' */
    int bTransport;          /* transport thread started */
    /* Words put before the module's own (e.g. a memory checker and its
     * options); the first is looked up in PATH when it has no '/'. Empty: the
     * module is started itself. Set by the caller after PeersSessionOpen. */
    std::vector<std::string> vModuleWrapper;
};

/* Starts the transport, opens the broker (pipe directory under szBaseDir, null:
 * $TMPDIR or /tmp) and prepares both engines. pOpt is copied.
 * Returns 0, 1-3 and 5 the broker's codes (5: the base was refused, the
 * reason in broker.sRefusal), 4 transport thread not started. */
int PeersSessionOpen(PeersSession *pSession, const PeersOptions *pOpt, const char *szModulePath,
                     const char *szDefFile, const char *szBaseDir);
/* Stops the transport and removes the pipe directory. Safe to call twice. */
void PeersSessionClose(PeersSession *pSession);

/* Starts pInv->vArgv[0] with pInv->vArgv and ZOLT_PATH (of our environment
 * only what a module or its wrapper needs: never ZOLT_TMP), serves the peers until
 * it ends (then takes what it sent last) or until the time limit or an
 * interruption (then kills it). Fills pInv. Returns 0 the module ended by
 * itself, 1 could not start (or interrupted before), 2 killed. */
int PeersSessionRunModule(PeersSession *pSession, PeersInvocation *pInv);

/* The modes. Each fills pInv and returns 0 when the module answered as the
 * mode expects, 1 when it answered with a failure (run: not PASS; validate:
 * a parameter not valid), 2 when it could not be run or gave no answer. */
int PeersEnumerate(PeersSession *pSession, PeersInvocation *pInv);
int PeersRunTest(PeersSession *pSession, PeersInvocation *pInv, int iDevice, int iTest,
                 const std::vector<std::string> &vParams, int iErrLimit);
int PeersSysInfo(PeersSession *pSession, PeersInvocation *pInv, int iDevice);
int PeersValidate(PeersSession *pSession, PeersInvocation *pInv, int iDevice, int iTest,
                  const std::vector<std::string> &vParams);

/* The device with id iDevice of the module's last enumeration, or null. */
const PeersDevice *PeersSessionFindDevice(const PeersSession *pSession, int iDevice);

#endif
