/* broker.cpp - the stand-in message broker: pipe directory and FIFO, the
 * connection handshake, routing by TO, writing to modules, misbehaviours. */
#include "broker.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "message-protocol.h"
#include "pipe-lowlevel.h"
#include "peers-observer.h"
#include "session.h"
#include "zolt-time.h"

/* Makes the private directory, the FIFO and opens it. Returns 0, 1, 2 or 3. */
int PeersBrokerOpen(PeersBroker *pBroker, const char *szBaseDir)
{
    *pBroker = PeersBroker();
    pBroker->hRead = 0;
    pBroker->hKeepOpen = 0;
    pBroker->iPacketsIn = pBroker->iPacketsOut = pBroker->iDropped = pBroker->iPacketsRun = 0;
    pBroker->iStartups = pBroker->iStops = 0;
    pBroker->bDead = 0;
    pBroker->uGarbageSeq = 0;

    if (szBaseDir == nullptr || *szBaseDir == '\0')
        szBaseDir = getenv("TMPDIR");
    if (szBaseDir == nullptr || *szBaseDir == '\0')
        szBaseDir = "/tmp";
    std::string sTemplate = std::string(szBaseDir) + "/zoltpeers.XXXXXX";
    std::vector<char> buf(sTemplate.begin(), sTemplate.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        return 1;
    pBroker->sPipeDir = buf.data();
    pBroker->sFifo = pBroker->sPipeDir + "/" + PEERS_BROKER_FIFO_NAME;

    mode_t old = umask(0);
    int iRc = ZoltPipeMkFifo(pBroker->sFifo.c_str());
    umask(old);
    if (iRc != 0) {
        PeersBrokerClose(pBroker);
        return 2;
    }
    int h = ZoltPipeOpen(pBroker->sFifo.c_str(), 0);
    if (h < 0) {
        PeersBrokerClose(pBroker);
        return 3;
    }
    pBroker->hRead = h;
    /* Our own writer keeps the read end from seeing end-of-file (and select
     * from reporting it) while no module has the FIFO open. */
    int hKeep = open(pBroker->sFifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (hKeep < 0) {
        PeersBrokerClose(pBroker);
        return 3;
    }
    pBroker->hKeepOpen = hKeep;
    /* The module must not inherit the broker's ends. */
    fcntl(pBroker->hRead, F_SETFD, FD_CLOEXEC);
    return 0;
}

/* Closes the write ends to the clients, the broker FIFO's read end and the
 * end held open to keep it alive. */
static void CloseEnds(PeersBroker *pBroker)
{
    for (PeersClient &c : pBroker->vClients)
        if (c.hWrite > 0)
            ZoltPipeClose(c.hWrite);
    pBroker->vClients.clear();
    if (pBroker->hRead > 0)
        ZoltPipeClose(pBroker->hRead);
    pBroker->hRead = 0;
    if (pBroker->hKeepOpen > 0)
        close(pBroker->hKeepOpen);
    pBroker->hKeepOpen = 0;
}

/* Closes every end and removes the directory with what is left in it. */
void PeersBrokerClose(PeersBroker *pBroker)
{
    CloseEnds(pBroker);
    if (pBroker->sPipeDir.empty())
        return;
    DIR *pDir = opendir(pBroker->sPipeDir.c_str());
    if (pDir != nullptr) {
        struct dirent *pEnt;
        while ((pEnt = readdir(pDir)) != nullptr) {
            if (strcmp(pEnt->d_name, ".") == 0 || strcmp(pEnt->d_name, "..") == 0)
                continue;
            unlink((pBroker->sPipeDir + "/" + pEnt->d_name).c_str());
        }
        closedir(pDir);
    }
    rmdir(pBroker->sPipeDir.c_str());
    pBroker->sPipeDir.clear();
    pBroker->sFifo.clear();
}

/* Stops reading and closes every FIFO end. */
void PeersBrokerDie(PeersBroker *pBroker)
{
    if (pBroker->bDead)
        return;
    pBroker->bDead = 1;
    CloseEnds(pBroker);
    if (!pBroker->sFifo.empty())
        unlink(pBroker->sFifo.c_str());
    PeersObserveText("  broker: stopped reading and closed its FIFOs (as asked)\n");
}

/* The connected process lPid, or null. Main thread. */
const PeersClient *PeersBrokerFindClient(const PeersBroker *pBroker, long lPid)
{
    for (const PeersClient &c : pBroker->vClients)
        if (c.lPid == lPid)
            return &c;
    return nullptr;
}

static PeersClient *FindClient(PeersBroker *pBroker, long lPid)
{
    for (PeersClient &c : pBroker->vClients)
        if (c.lPid == lPid)
            return &c;
    return nullptr;
}

/* Writes one garbage frame straight onto the FIFO, bypassing the queue: it
 * alternates between a lone second piece of a message that never began (the
 * reader must drop it) and a whole frame whose text is no message. */
static void WriteGarbageFrame(PeersBroker *pBroker, int hWrite)
{
    static const char s_szJunk[] = "<JUNK>garbage frame</JUNK>\r\n";
    static const char s_szPiece[] = "GARBAGE!!!";
    QueObject que;
    memset(&que, 0, sizeof que);
    unsigned uSeq = pBroker->uGarbageSeq++;
    /* Message numbers far above any real one of this process. */
    que.uMsgNumber = 0x7FFF0000u + uSeq;
    que.iSenderPid = (int32_t)getpid();
    const char *pPayload;
    if (uSeq % 2 == 0) {
        que.iPieceIndex = 2;
        que.iPieceCount = 2;
        que.uPieceSize = sizeof s_szPiece - 1;
        que.uTotalSize = 2 * que.uPieceSize;
        pPayload = s_szPiece;
    } else {
        que.iPieceIndex = 1;
        que.iPieceCount = 1;
        que.uPieceSize = sizeof s_szJunk - 1;
        que.uTotalSize = que.uPieceSize;
        pPayload = s_szJunk;
    }
    char szFrame[ZOLT_PIPE_CAPACITY];
    int iDelim = MakeDelimiterStr(&que, ZOLT_PIPE_FRAME_H, szFrame, ZOLT_PIPE_DELIM_MAX + 1);
    if (iDelim <= 0)
        return;
    memcpy(szFrame + iDelim, pPayload, que.uPieceSize);
    ssize_t iWritten;
    do
        iWritten = write(hWrite, szFrame, (size_t)iDelim + que.uPieceSize);
    while (iWritten < 0 && errno == EINTR);
}

/* Writes to a connected process. Returns 0, 1 unknown, 2 failed. */
int PeersBrokerSend(PeersSession *pSession, long lPid, const std::string &sMessage)
{
    PeersBroker *pBroker = &pSession->broker;
    PeersClient *pClient = FindClient(pBroker, lPid);
    if (pBroker->bDead || pClient == nullptr || pClient->hWrite <= 0) {
        pBroker->iDropped++;
        return 1;
    }
    if (pSession->opt.bGarbageFrames)
        WriteGarbageFrame(pBroker, pClient->hWrite);
    PeersObservePacket("out", lPid, sMessage.c_str());
    int iRc = ZoltPipeWrite(pClient->hWrite, sMessage.data(), (int)sMessage.size());
    if (iRc != (int)sMessage.size()) {
        /* 0: the reader has gone and the transport closed the end; -1: not open */
        pClient->hWrite = 0;
        return 2;
    }
    pBroker->iPacketsOut++;
    return 0;
}

/* Opens the write end of a module's READ FIFO, a path the module names: only
 * a FIFO itself (not through a symbolic link, not a file or device) is
 * opened, and the end opened must be that FIFO, so that a STARTUP can never
 * make the broker write into anything else. Returns the handle or -1. */
static int OpenClientFifo(const char *szPath)
{
    struct stat stPath, stOpen;
    if (lstat(szPath, &stPath) != 0 || !S_ISFIFO(stPath.st_mode))
        return -1;
    int h = ZoltPipeOpen(szPath, 1);
    if (h < 0)
        return -1;
    if (fstat(h, &stOpen) != 0 || !S_ISFIFO(stOpen.st_mode) || stOpen.st_dev != stPath.st_dev ||
        stOpen.st_ino != stPath.st_ino) {
        ZoltPipeClose(h);
        return -1;
    }
    return h;
}

/* STARTUP: register the module and acknowledge (unless told otherwise). */
static void HandleStartup(PeersSession *pSession, const std::string &sPacket)
{
    PeersBroker *pBroker = &pSession->broker;
    PeersClient client;
    std::string sPid;
    PeersGetField(sPacket.c_str(), "STARTUP/READ", 0, client.sReadFifo);
    PeersGetField(sPacket.c_str(), "STARTUP/PID", 0, sPid);
    PeersGetField(sPacket.c_str(), "STARTUP/NAME", 0, client.sName);
    PeersGetField(sPacket.c_str(), "STARTUP/NLSDATA", 0, client.sNlsData);
    PeersGetField(sPacket.c_str(), "STARTUP/CLASS", 0, client.sClass);
    PeersGetField(sPacket.c_str(), "STARTUP/EXE_FILENAME", 0, client.sExeFile);
    client.lPid = strtol(sPid.c_str(), nullptr, 10);
    client.hWrite = 0;
    PeersObservePacket("in", client.lPid, sPacket.c_str());
    pBroker->iStartups++;

    PeersClient *pOld = FindClient(pBroker, client.lPid);
    if (pOld != nullptr) { /* a second connection of one process: start over */
        if (pOld->hWrite > 0)
            ZoltPipeClose(pOld->hWrite);
        *pOld = client;
    } else {
        pBroker->vClients.push_back(client);
    }
    PeersClient *pClient = FindClient(pBroker, client.lPid);
    PeersNlsRegister(&pSession->nls, client.lPid, client.sNlsData.c_str());
    PeersInvocation *pInv = pSession->engine.pCur;
    if (pInv != nullptr && (pInv->lPid == 0 || pInv->lPid == client.lPid))
        pInv->bConnected = 1;

    if (pSession->opt.bNoAck)
        return;
    int h = OpenClientFifo(client.sReadFifo.c_str());
    if (h < 0) {
        PeersObserveText("  broker: cannot open the FIFO of process %ld (%s)\n", client.lPid,
                         client.sReadFifo.c_str());
        return;
    }
    fcntl(h, F_SETFD, FD_CLOEXEC); /* later modules must not hold it */
    pClient->hWrite = h;
    const char *szAck = pSession->opt.bGarbageAck ? "<NAK>NOT AN ACK</NAK>\r\n" : "<ACK></ACK>\r\n";
    PeersObservePacket("out", client.lPid, szAck);
    if (ZoltPipeWrite(h, szAck, (int)strlen(szAck)) != (int)strlen(szAck))
        pClient->hWrite = 0;
    else
        pBroker->iPacketsOut++;
}

/* STOP: forget the module. */
static void HandleStop(PeersSession *pSession, const std::string &sPacket)
{
    PeersBroker *pBroker = &pSession->broker;
    std::string sPid;
    PeersGetField(sPacket.c_str(), "STOP/PID", 0, sPid);
    long lPid = strtol(sPid.c_str(), nullptr, 10);
    PeersObservePacket("in", lPid, sPacket.c_str());
    pBroker->iStops++;
    for (size_t i = 0; i < pBroker->vClients.size(); i++) {
        if (pBroker->vClients[i].lPid == lPid) {
            if (pBroker->vClients[i].hWrite > 0)
                ZoltPipeClose(pBroker->vClients[i].hWrite);
            pBroker->vClients.erase(pBroker->vClients.begin() + (long)i);
            break;
        }
    }
    PeersInvocation *pInv = pSession->engine.pCur;
    if (pInv != nullptr && pInv->lPid == lPid)
        pInv->bStopSeen = 1;
}

/* MSG: route by TO. */
static void HandleMsg(PeersSession *pSession, const std::string &sPacket)
{
    PeersBroker *pBroker = &pSession->broker;
    std::string sTo, sFrom, sId, sData;
    PeersGetField(sPacket.c_str(), "MSG/HDR/TO", 0, sTo);
    PeersGetField(sPacket.c_str(), "MSG/HDR/FROM", 0, sFrom);
    long lFrom = strtol(sFrom.c_str(), nullptr, 10);
    PeersObservePacket("in", lFrom, sPacket.c_str());
    const PeersClient *pClient = PeersBrokerFindClient(pBroker, lFrom);
    const char *szModule = pClient ? pClient->sName.c_str() : "";

    if (sTo == ZOLT_TO_DIAGENGINE) {
        PeersEngineHandleMessage(&pSession->engine, sPacket.c_str(), lFrom, szModule);
        return;
    }
    if (sTo == ZOLT_TO_NLSENGINE) {
        if (pSession->opt.bSilentNls)
            return;
        PeersGetField(sPacket.c_str(), "MSG/HDR/ID", 0, sId);
        PeersGetField(sPacket.c_str(), "MSG/DATA", 0, sData);
        std::string sDataElement, sReply;
        PeersNlsAnswer(&pSession->nls, lFrom, sData.c_str(), sDataElement);
        if (PeersBuildMessage(sFrom.c_str(), sId.c_str(), "NLS_RESPONSE", sDataElement, sReply) ==
            0)
            PeersBrokerSend(pSession, lFrom, sReply);
        return;
    }
    if (sTo == ZOLT_TO_MESSAGEBROKER)
        return; /* broker commands: recorded in the log only */
    char *pEnd = nullptr;
    long lTo = strtol(sTo.c_str(), &pEnd, 10);
    if (pEnd == sTo.c_str() || *pEnd != '\0') {
        pBroker->iDropped++;
        return;
    }
    if (lTo == pSession->lOwnPid) { /* answers to requests of the engine */
        PeersEngineHandleMessage(&pSession->engine, sPacket.c_str(), lFrom, szModule);
        return;
    }
    std::string sOut = sPacket + "\r\n";
    PeersBrokerSend(pSession, lTo, sOut);
}

/* Handles one packet: STARTUP, STOP, MSG (routed) or garbage (counted);
 * lets the broker die when the die switch is reached. Main thread. */
void PeersBrokerHandlePacket(PeersSession *pSession, const std::string &sPacket)
{
    PeersBroker *pBroker = &pSession->broker;
    pBroker->iPacketsIn++;
    pBroker->iPacketsRun++;
    if (sPacket.compare(0, 9, "<STARTUP>") == 0)
        HandleStartup(pSession, sPacket);
    else if (sPacket.compare(0, 6, "<STOP>") == 0)
        HandleStop(pSession, sPacket);
    else if (sPacket.compare(0, 5, "<MSG>") == 0)
        HandleMsg(pSession, sPacket);
    else {
        PeersObservePacket("in", 0, sPacket.c_str());
        pBroker->iDropped++;
    }
    if (pSession->opt.iDieAfterPackets >= 0 &&
        pBroker->iPacketsRun >= pSession->opt.iDieAfterPackets)
        PeersBrokerDie(pBroker);
}

/* Takes every complete message now waiting (the FIFO drained first) and
 * handles its packets. Returns the packets handled, -1 when dead. Main thread,
 * no pipe lock held. */
static int HandleWaiting(PeersSession *pSession)
{
    PeersBroker *pBroker = &pSession->broker;
    if (pBroker->bDead || pBroker->hRead <= 0)
        return -1;
    char *szText = nullptr;
    int iBytes = ZoltPipeRead(pBroker->hRead, &szText);
    if (iBytes <= 0 || szText == nullptr) {
        free(szText);
        return 0;
    }
    std::vector<std::string> vPackets;
    PeersSplitPackets(szText, vPackets);
    free(szText);
    int iHandled = 0;
    for (const std::string &sPacket : vPackets) {
        if (pBroker->bDead)
            break;
        PeersBrokerHandlePacket(pSession, sPacket);
        iHandled++;
    }
    return iHandled;
}

/* Waits up to iTimeoutMs for input on the broker FIFO and handles every
 * complete packet. Returns the packets handled, -1 when dead. Main thread. */
int PeersBrokerPoll(PeersSession *pSession, int iTimeoutMs)
{
    PeersBroker *pBroker = &pSession->broker;
    if (pBroker->bDead || pBroker->hRead <= 0)
        return -1;
    ZoltPipeSelect(pBroker->hRead, -1, iTimeoutMs);
    return HandleWaiting(pSession);
}

/* Waits for input or hWake like PeersBrokerPoll, but on both at once. The
 * wait holds the transport's read lock, as its own select does, so that the
 * read/write thread cannot take the input from under the poll. One gap stays:
 * a message that the thread queues between the read and the lock is only
 * seen after the wait, which is why callers keep iTimeoutMs short.
 * Returns the packets handled, -1 when dead. Main thread, no pipe lock held. */
int PeersBrokerWait(PeersSession *pSession, int hWake, int iTimeoutMs)
{
    if (hWake < 0)
        return PeersBrokerPoll(pSession, iTimeoutMs);
    int iHandled = HandleWaiting(pSession);
    if (iHandled != 0)
        return iHandled;
    PeersBroker *pBroker = &pSession->broker;
    int bHangUp = 0;
    ZoltGrabMutex(__FILE__, __LINE__, "", ZOLT_PIPE_READ_LOCK, 1);
    if (ZoltPipeReadQue(pBroker->hRead) == 0) {
        struct pollfd apfd[2];
        apfd[0].fd = pBroker->hRead;
        apfd[0].events = POLLIN;
        apfd[0].revents = 0;
        apfd[1].fd = hWake;
        apfd[1].events = POLLIN;
        apfd[1].revents = 0;
        /* A signal ends the wait early (EINTR): the caller looks at its flags. */
        if (poll(apfd, 2, iTimeoutMs < 0 ? 0 : iTimeoutMs) > 0) {
            if ((apfd[0].revents & POLLIN) != 0)
                ZoltPipeReadQue(pBroker->hRead);
            else if (apfd[0].revents != 0 && apfd[1].revents == 0)
                bHangUp = 1;
        }
    }
    ZoltGrabMutex(__FILE__, __LINE__, "", ZOLT_PIPE_READ_LOCK, 0);
    /* No writer left on the FIFO (never while our own end is open): pause
     * rather than spin on the hang-up. */
    if (bHangUp)
        poll(nullptr, 0, iTimeoutMs < 0 ? 0 : iTimeoutMs);
    return HandleWaiting(pSession);
}
