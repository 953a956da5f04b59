/* job-worker.h - the further jobs of --jobs: each a zoltpeers process of its
 * own (this program started again with --job-worker and the same words),
 * since the pipe transport serves one pipe directory per process. The worker
 * enumerates once, then runs the picks it is sent on its standard input, one
 * per line, and answers each with the record of the module run on its
 * standard output; the first process reports them. */
#ifndef ZOLT_PEERS_JOB_WORKER_H
#define ZOLT_PEERS_JOB_WORKER_H

#include <stdio.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "scheduler.h"

/* The words zoltpeers was started with (argv[1] on), kept by PeersMain. */
extern std::vector<std::string> g_vPeersArgs;

/* A worker process seen from the first one. */
struct PeersWorker {
    pid_t pid;
    FILE *pTo, *pFrom; /* its standard input and output */
};

/* Starts a worker. Returns 0, or 1 when it could not be started. */
int PeersWorkerStart(PeersWorker *pWorker);

/* Has the worker run pick and fills *pInv with what the module did. Returns 0,
 * or 1 when the worker is gone (pInv then says the module could not start). */
int PeersWorkerRun(PeersWorker *pWorker, const PeersPick &pick, PeersInvocation *pInv);

/* Ends the worker: no more picks; killed by iSignal (0: none) first. Waits. */
void PeersWorkerStop(PeersWorker *pWorker, int iSignal);

/* The worker's side: runs each pick read from standard input in pSession and
 * writes its record to standard output, until the input ends. Returns the exit
 * status. */
int PeersJobWorkerLoop(PeersSession *pSession, const PeersCommand &cmd);

#endif
