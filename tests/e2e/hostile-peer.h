/* hostile-peer.h - a misbehaving peer for the end-to-end tests: a forked child
 * that finds the module's own FIFO in the pipe directories under a base
 * directory, writes into it what no well-behaved peer would (a first piece
 * that never gets its second, a flood of unsolicited messages, messages
 * holding a NUL byte), and watches the module's CPU time in /proc/<pid>/stat
 * until the module has ended. It finds module processes by their executable
 * and their FIFO through /proc/<pid>/fd. Free of gtest (it runs in the forked
 * child). */
#ifndef ZOLT_TESTS_E2E_HOSTILE_PEER_H
#define ZOLT_TESTS_E2E_HOSTILE_PEER_H

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <poll.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace e2e {

enum HostileMode {
    HOSTILE_DANGLING_PIECE, /* first piece of two, then a whole message of another sender */
    HOSTILE_FLOOD,          /* 65,536 unsolicited messages, whole frames */
    HOSTILE_NUL_STREAM,     /* a message with a NUL byte every 1 ms until the module ends */
    HOSTILE_INTERLEAVED,    /* a first piece of another sender that never gets its second,
                             * the first piece of a message of its own and an ACK; after
                             * the handshake a second message of its own crossing it */
};

/* What the hostile peer saw: the module's pid (0: never found), its CPU time
 * (user + system, seconds) at the last reading of its stat file, and the
 * seconds from the last byte written to the module's end. */
struct HostileReport {
    int iPid = 0;
    double dCpuSeconds = -1;
    double dEndAfterLastByte = -1;
};

inline double HostileNow()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

/* One frame of a message: delimiter with the six numbers, then the piece. */
inline std::string HostileFrame(unsigned long ulMsg, int iPid, int iIndex, int iCount,
                                const std::string &sPiece, size_t uTotal)
{
    char szDelim[96];
    snprintf(szDelim, sizeof szDelim, "|\001\001\001H:%lu:%d:%d:%d:%zu:%zu:\001\001\001|", ulMsg,
             iPid, iIndex, iCount, sPiece.size(), uTotal);
    return szDelim + sPiece;
}

/* The path of a module FIFO "ZOLT_<pid>" in a "zoltpeers.*" directory under
 * sBase, and its pid; "" when there is none. */
inline std::string FindModuleFifo(const std::string &sBase, int *piPid)
{
    std::string sFound;
    DIR *pBase = opendir(sBase.c_str());
    while (struct dirent *pDir = pBase != nullptr ? readdir(pBase) : nullptr) {
        if (strncmp(pDir->d_name, "zoltpeers.", 10) != 0)
            continue;
        std::string sDir = sBase + "/" + pDir->d_name;
        DIR *pPipes = opendir(sDir.c_str());
        while (struct dirent *pEnt = pPipes != nullptr ? readdir(pPipes) : nullptr) {
            struct stat st;
            std::string sPath = sDir + "/" + pEnt->d_name;
            if (strncmp(pEnt->d_name, "ZOLT_", 5) == 0 && lstat(sPath.c_str(), &st) == 0 &&
                S_ISFIFO(st.st_mode) && atoi(pEnt->d_name + 5) > 0) {
                *piPid = atoi(pEnt->d_name + 5);
                sFound = sPath;
            }
        }
        if (pPipes != nullptr)
            closedir(pPipes);
    }
    if (pBase != nullptr)
        closedir(pBase);
    return sFound;
}

/* 1 when process iPid's environment holds ZOLT_PATH under sBase: a module
 * that our zoltpeers started, not one of another test running at once. */
inline bool RunsUnder(int iPid, const std::string &sBase)
{
    std::ifstream in("/proc/" + std::to_string(iPid) + "/environ");
    std::string sVar, sWant = "ZOLT_PATH=" + sBase + "/";
    while (std::getline(in, sVar, '\0'))
        if (sVar.compare(0, sWant.size(), sWant) == 0)
            return true;
    return false;
}

/* 1 when process iPid runs the mode word "run": zoltpeers first enumerates
 * (to check the device), and the hostile peer is for the test's module. */
inline bool RunsATest(int iPid)
{
    std::ifstream in("/proc/" + std::to_string(iPid) + "/cmdline");
    std::string sProgram, sMode;
    return std::getline(in, sProgram, '\0') && std::getline(in, sMode, '\0') && sMode == "run";
}

/* A running module process of a test (its executable is szModule, its pipe
 * directory under sBase) not in vSeen, or 0. */
inline int FindNewModule(const char *szModule, const std::string &sBase,
                         const std::vector<int> &vSeen)
{
    int iFound = 0;
    DIR *pProc = opendir("/proc");
    while (struct dirent *pEnt = pProc != nullptr && iFound == 0 ? readdir(pProc) : nullptr) {
        int iPid = atoi(pEnt->d_name);
        if (iPid <= 0 || std::find(vSeen.begin(), vSeen.end(), iPid) != vSeen.end())
            continue;
        char szExe[4096];
        std::string sLink = "/proc/" + std::to_string(iPid) + "/exe";
        ssize_t n = readlink(sLink.c_str(), szExe, sizeof szExe - 1);
        if (n > 0 && (szExe[n] = '\0', strcmp(szExe, szModule) == 0) && RunsUnder(iPid, sBase) &&
            RunsATest(iPid))
            iFound = iPid;
    }
    if (pProc != nullptr)
        closedir(pProc);
    return iFound;
}

/* A write end of the FIFO that process iPid reads ("ZOLT_" in the name of one
 * of its open files), opened through /proc, so that the module's removing
 * the name after its handshake does not matter. With bAfterHandshake only
 * once the name is removed (the acknowledgement has come: what arrives before
 * it would be taken for a wrong acknowledgement). -1 when there is none. */
inline int OpenModuleFifo(int iPid, bool bAfterHandshake)
{
    std::string sFds = "/proc/" + std::to_string(iPid) + "/fd";
    DIR *pFds = opendir(sFds.c_str());
    int hFifo = -1;
    while (struct dirent *pEnt = pFds != nullptr && hFifo < 0 ? readdir(pFds) : nullptr) {
        char szTarget[4096];
        std::string sFd = sFds + "/" + pEnt->d_name;
        ssize_t n = readlink(sFd.c_str(), szTarget, sizeof szTarget - 1);
        if (n > 0 && (szTarget[n] = '\0', strstr(szTarget, "/ZOLT_") != nullptr) &&
            (!bAfterHandshake || strstr(szTarget, " (deleted)") != nullptr))
            hFifo = open(sFd.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    }
    if (pFds != nullptr)
        closedir(pFds);
    return hFifo;
}

/* CPU seconds of process iPid from its stat file; -1 when it is gone or a zombie. */
inline double ProcessCpuSeconds(int iPid)
{
    std::ifstream in("/proc/" + std::to_string(iPid) + "/stat");
    std::string sStat;
    if (!std::getline(in, sStat))
        return -1;
    size_t uParen = sStat.rfind(')');
    if (uParen == std::string::npos)
        return -1;
    std::istringstream fields(sStat.substr(uParen + 2));
    std::string sField, sState;
    unsigned long long ullUser = 0, ullSystem = 0;
    fields >> sState;
    for (int i = 4; i <= 15 && fields >> sField; i++) {
        if (i == 14)
            ullUser = strtoull(sField.c_str(), nullptr, 10);
        if (i == 15)
            ullSystem = strtoull(sField.c_str(), nullptr, 10);
    }
    if (sState == "Z" || sState == "X")
        return -1;
    return (double)(ullUser + ullSystem) / (double)sysconf(_SC_CLK_TCK);
}

/* Writes what the mode asks for into the open FIFO hFifo of module iPid
 * (keeping *pdCpu, its CPU time, while it writes until the module ends).
 * Returns the time of the last byte written. */
inline double HostileWrite(int hFifo, HostileMode mode, int iPid, double *pdCpu)
{
    int iMe = (int)getpid();
    double dLast = HostileNow();
    if (mode == HOSTILE_DANGLING_PIECE) {
        std::string sPiece(4000, 'd'), sWhole = "<MSG><DATA>behind</DATA></MSG>\r\n";
        std::string s = HostileFrame(1, iMe, 1, 2, sPiece, 8000) +
                        HostileFrame(1, iMe + 1, 1, 1, sWhole, sWhole.size());
        if (write(hFifo, s.data(), s.size()) > 0)
            dLast = HostileNow();
    } else if (mode == HOSTILE_INTERLEAVED) {
        std::string sA = "<MSG><DATA>" + std::string(3000, 'a') + "</DATA></MSG>\r\n";
        std::string sB = "<MSG><DATA>" + std::string(2000, 'b') + "</DATA></MSG>\r\n";
        std::string sAck = "<ACK></ACK>\r\n"; /* zoltpeers is told not to send one */
        std::string s = HostileFrame(1, iMe + 1, 1, 2, std::string(1000, 'd'), 2000) +
                        HostileFrame(1, iMe, 1, 2, sA.substr(0, 1500), sA.size()) +
                        HostileFrame(1, iMe + 2, 1, 1, sAck, sAck.size());
        if (write(hFifo, s.data(), s.size()) > 0)
            dLast = HostileNow();
        int hAfter = -1; /* the handshake is over once the FIFO's name is gone */
        while (ProcessCpuSeconds(iPid) >= 0 && (hAfter = OpenModuleFifo(iPid, true)) < 0)
            usleep(1000);
        if (hAfter >= 0)
            close(hAfter);
        s = HostileFrame(2, iMe, 1, 2, sB.substr(0, 1000), sB.size()) +
            HostileFrame(1, iMe, 2, 2, sA.substr(1500), sA.size()) +
            HostileFrame(2, iMe, 2, 2, sB.substr(1000), sB.size());
        if (hAfter >= 0 && write(hFifo, s.data(), s.size()) > 0)
            dLast = HostileNow();
    } else if (mode == HOSTILE_FLOOD) {
        /* whole frames, at most 4096 bytes per write, so that each write is
         * atomic and never cuts into the broker's frames */
        fcntl(hFifo, F_SETFL, fcntl(hFifo, F_GETFL) & ~O_NONBLOCK);
        std::string sBatch;
        for (unsigned long ul = 1; ul <= 65536; ul++) {
            std::string sMsg = "<MSG><HDR><FROM>" + std::to_string(iMe) + "</FROM><TO>0</TO><ID>" +
                               std::to_string(ul) +
                               "</ID><TYPE>HOSTILE_NOISE</TYPE></HDR><DATA>noise " +
                               std::to_string(ul) + "</DATA></MSG>\r\n";
            std::string sFrame = HostileFrame(ul, iMe, 1, 1, sMsg, sMsg.size());
            if (sBatch.size() + sFrame.size() > 4096) {
                if (write(hFifo, sBatch.data(), sBatch.size()) != (ssize_t)sBatch.size())
                    return dLast; /* the module has ended */
                dLast = HostileNow();
                sBatch.clear();
            }
            sBatch += sFrame;
        }
        if (write(hFifo, sBatch.data(), sBatch.size()) == (ssize_t)sBatch.size())
            dLast = HostileNow();
    } else {
        std::string sJunk = std::string("<MSG>junk") + '\0' + "junk</MSG>\r\n";
        for (unsigned long ul = 1;; ul++) {
            std::string s = HostileFrame(ul, iMe, 1, 1, sJunk, sJunk.size());
            if (write(hFifo, s.data(), s.size()) == (ssize_t)s.size())
                dLast = HostileNow();
            usleep(1000);
            double dCpu = ProcessCpuSeconds(iPid);
            if (dCpu < 0)
                break;
            *pdCpu = dCpu;
        }
    }
    return dLast;
}

/* The child's work, until hStop reports hang-up: every module process that
 * appears gets the treatment in turn (a write end of its FIFO, the mode's
 * bytes), then its CPU time is read until it has ended. The reports, one per
 * module, go to hReport. */
inline void HostileChild(const char *szModule, const std::string &sBase, HostileMode mode,
                         int hStop, int hReport)
{
    signal(SIGPIPE, SIG_IGN);
    std::vector<int> vSeen;
    std::vector<HostileReport> vReports;
    for (;;) {
        struct pollfd pfd = { hStop, POLLIN, 0 };
        if (poll(&pfd, 1, 0) != 0)
            break;
        HostileReport rep;
        rep.iPid = FindNewModule(szModule, sBase, vSeen);
        int hFifo = -1;
        while (rep.iPid > 0 && hFifo < 0 && ProcessCpuSeconds(rep.iPid) >= 0 &&
               (hFifo = OpenModuleFifo(rep.iPid, mode != HOSTILE_DANGLING_PIECE &&
                                                     mode != HOSTILE_INTERLEAVED)) < 0)
            usleep(1000);
        if (hFifo < 0) {
            usleep(2000);
            continue;
        }
        vSeen.push_back(rep.iPid);
        double dLast = HostileWrite(hFifo, mode, rep.iPid, &rep.dCpuSeconds);
        for (double dCpu; (dCpu = ProcessCpuSeconds(rep.iPid)) >= 0; usleep(20000))
            rep.dCpuSeconds = dCpu;
        rep.dEndAfterLastByte = HostileNow() - dLast;
        close(hFifo);
        vReports.push_back(rep);
    }
    for (const HostileReport &rep : vReports)
        if (write(hReport, &rep, sizeof rep) != (ssize_t)sizeof rep)
            _exit(1);
    _exit(0);
}

/* Starts the hostile peer against processes of szModule whose pipe directory
 * lies under sBase; HostileFinish stops it and collects its reports. */
struct HostilePeer {
    pid_t pid = -1;
    int hStop = -1, hReport = -1;
};

inline HostilePeer HostileStart(const char *szModule, const std::string &sBase, HostileMode mode)
{
    HostilePeer peer;
    int aiStop[2], aiReport[2];
    if (pipe(aiStop) != 0 || pipe(aiReport) != 0)
        return peer;
    peer.pid = fork();
    if (peer.pid == 0) {
        close(aiStop[1]);
        close(aiReport[0]);
        HostileChild(szModule, sBase, mode, aiStop[0], aiReport[1]);
    }
    close(aiStop[0]);
    close(aiReport[1]);
    peer.hStop = aiStop[1];
    peer.hReport = aiReport[0];
    return peer;
}

/* The report on module iPid (iPid 0 when the peer never met it). */
inline HostileReport HostileFinish(HostilePeer &peer, int iPid)
{
    close(peer.hStop);
    HostileReport rep, found;
    while (read(peer.hReport, &rep, sizeof rep) == (ssize_t)sizeof rep)
        if (rep.iPid == iPid)
            found = rep;
    close(peer.hReport);
    waitpid(peer.pid, nullptr, 0);
    return found;
}

}  // namespace e2e

#endif
