/* broker.h - the stand-in message broker: a private pipe directory with the
 * broker FIFO "ZOLTFIFO" held open for reading, the STARTUP / ACK / STOP
 * handshake with module processes, and the routing of every MSG by its TO
 * field to the diagnostic engine, the language-string engine or a process.
 * Misbehaviours (no ACK, garbage ACK, garbage frames, dying after N packets)
 * are switched by the session's PeersOptions.
 * DESIGN: single-threaded on top of the FIFO transport (messaging/pipe-lowlevel),
 * whose read/write thread moves the frames; the broker owns one registered
 * read end (its FIFO), one plain extra write end on it (so the read end never
 * sees end-of-file) and one registered write end per connected module. */
#ifndef ZOLT_PEERS_BROKER_H
#define ZOLT_PEERS_BROKER_H

#include <string>
#include <vector>

#include "safe-path.h"

/* Name of the broker FIFO inside the pipe directory. */
#define PEERS_BROKER_FIFO_NAME "ZOLTFIFO"

/* One module process connected with STARTUP. */
struct PeersClient {
    long lPid;
    int hWrite; /* registered write end of its READ FIFO; 0 none */
    std::string sName, sClass, sNlsData, sReadFifo, sExeFile;
};

struct PeersBroker {
    std::string sPipeDir; /* private directory, removed by PeersBrokerClose */
    std::string sFifo;    /* sPipeDir + "/ZOLTFIFO" */
    PeersHeldDir dir;     /* the base and sPipeDir, held open from creation to removal */
    std::string sRefusal; /* why PeersBrokerOpen refused the base (code 5) */
    int hRead;            /* registered read end of sFifo; 0 none */
    int hKeepOpen;        /* plain write end of sFifo; 0 none */
    std::vector<PeersClient> vClients;
    int iPacketsIn, iPacketsOut, iDropped;
    int iPacketsRun; /* packets in since the current module started */
    int iStartups, iStops;
    int bDead;            /* stopped reading and closed its FIFOs */
    unsigned uGarbageSeq; /* numbers of injected garbage frames */
};

struct PeersSession;

/* Makes a private pipe directory (mode 0700) under szBaseDir (null: $TMPDIR
 * or /tmp) with the broker FIFO (mode 0600) and opens it for reading, all
 * through the held directory. A base other users could rename in is refused
 * (see PeersOpenPipeBase). The transport must be initialised (ZoltInitPipes).
 * Returns 0, 1 directory not made, 2 FIFO not made, 3 FIFO not opened (all
 * made is removed again), 5 base refused (pBroker->sRefusal says why). */
int PeersBrokerOpen(PeersBroker *pBroker, const char *szBaseDir);

/* Closes every FIFO end, removes the FIFO, every file left in the pipe
 * directory and the directory, all through its descriptor and only while
 * the name still names it. Safe to call twice. */
void PeersBrokerClose(PeersBroker *pBroker);

/* Waits up to iTimeoutMs for input and handles every complete packet.
 * Returns the number of packets handled, -1 when the broker is dead. */
int PeersBrokerPoll(PeersSession *pSession, int iTimeoutMs);

/* Like PeersBrokerPoll, but the wait also ends at once when hWake (e.g. a
 * process descriptor of the module, readable when it has ended) becomes
 * readable; hWake -1 is PeersBrokerPoll. A message that the transport's
 * thread queued just before the wait may be seen only when it ends, so keep
 * iTimeoutMs short. Returns the packets handled, -1 when the broker is dead. */
int PeersBrokerWait(PeersSession *pSession, int hWake, int iTimeoutMs);

/* Handles one packet (without its CR LF): STARTUP, STOP or a MSG to route.
 * Counts it and lets the broker die when the die switch says so. */
void PeersBrokerHandlePacket(PeersSession *pSession, const std::string &sPacket);

/* Writes one message to module process lPid (a garbage frame first when that
 * switch is on). Returns 0 written or queued, 1 no such connected process,
 * 2 the write failed (reader gone: the connection is forgotten). */
int PeersBrokerSend(PeersSession *pSession, long lPid, const std::string &sMessage);

/* Stops reading and closes every FIFO end; the FIFO name is removed so that
 * no module can connect any more. */
void PeersBrokerDie(PeersBroker *pBroker);

/* The connected process lPid, or null. */
const PeersClient *PeersBrokerFindClient(const PeersBroker *pBroker, long lPid);

#endif
