/* scheduler.h - the test runs of all and run: the picked device, test and
 * (with --each-cpu) logical CPU, repeated by --loops or --duration, up to
 * --jobs module runs at once, each on its own CPU; reruns of a failure
 * (--retest-on-failure) on the same CPU; the stop on a failure or a signal.
 * DESIGN: one worker per job, each with a session of its own (the first the
 * caller's); a worker restricts its own thread's affinity to the pick's CPU
 * while the module starts, so the module inherits that CPU alone. One mutex
 * guards the queue, the report and the totals; the peers' observer calls are
 * taken under it while more than one job runs. */
#ifndef ZOLT_PEERS_SCHEDULER_H
#define ZOLT_PEERS_SCHEDULER_H

#include <string>
#include <vector>

#include "cli.h"
#include "results.h"
#include "session.h"

/* One device and test of the selection, on one logical CPU (place.iCpu -1:
 * wherever the module places it). */
struct PeersPick {
    int iDevice, iTest;
    std::string sDevice;
    PeersCpuPlace place;
};

/* Called under the lock with each finished run (for the result formats).
 * When the selection repeats, the run's text report is held back until then:
 * the writer may release it (PeersReportRelease), else it is written after. */
typedef void (*PeersEmitRunFn)(const PeersTestRun &run);

/* Set by SIGUSR1 once PeersCatchStopRequest ran: no further test starts. */
extern volatile sig_atomic_t g_iPeersStopSession;

/* Makes SIGUSR1 both stop the running test (STOPTESTING) and end the session
 * after it. Call after PeersCatchSignals. Main thread. */
void PeersCatchStopRequest(void);

/* Runs the module for one pick in pSession, restricted to the pick's CPU
 * (when it has one) by this thread's affinity while it starts. */
void PeersRunPickHere(PeersSession *pSession, const PeersCommand &cmd, const PeersPick &pick,
                      PeersInvocation *pInv);

/* Runs the picks --loops times or until --duration passed, in pMain and (for
 * --jobs N) N-1 worker processes; fills *pEnd (tally, totals, loops, stop
 * reason). */
void PeersRunPicks(PeersSession *pMain, const PeersCommand &cmd,
                   const std::vector<PeersPick> &vPicks, PeersEmitRunFn pfnEmit, PeersRunEnd *pEnd);

#endif
