/* test-peer.h - the tests' peer over raw FIFOs: frames, message texts, a
 * temporary directory, the module's FIFO ends without a handshake, a stand-in
 * peer that answers on a thread, and the hostile peer of the end-to-end tests
 * (a forked child that writes into a running module's FIFO what no
 * well-behaved peer would and watches its CPU time). Free of gtest, so a
 * forked child may use it. */
#ifndef ZOLT_TESTS_TEST_PEER_H
#define ZOLT_TESTS_TEST_PEER_H

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "client-fifo-access.h"
#include "client-messaging-engine.h"
#include "pipe-lowlevel.h"

namespace zolttest {

/* One frame: "|\1\1\1<type>:<msg>:<pid>:<index>:<count>:<size>:<total>:\1\1\1|" and its piece. */
inline std::string Frame(unsigned long ulMsg, int iPid, int iIndex, int iCount,
                         const std::string &sPiece, size_t uTotal, char cType = 'H')
{
    char szDelim[96];
    snprintf(szDelim, sizeof szDelim, "|\001\001\001%c:%lu:%d:%d:%d:%zu:%zu:\001\001\001|", cType,
             ulMsg, iPid, iIndex, iCount, sPiece.size(), uTotal);
    return szDelim + sPiece;
}

/* All frames of one message, pieces of 4020 bytes; MakeFrames joins them. */
inline std::vector<std::string> Frames(const std::string &sText, unsigned long ulMsg, int iPid)
{
    int iCount = sText.empty() ? 1 : (int)((sText.size() + 4019) / 4020);
    std::vector<std::string> v;
    for (int i = 0; i < iCount; i++)
        v.push_back(
            Frame(ulMsg, iPid, i + 1, iCount, sText.substr((size_t)i * 4020, 4020), sText.size()));
    return v;
}

inline std::string MakeFrames(const std::string &sText, unsigned long ulMsg, int iPid)
{
    std::string s;
    for (auto &f : Frames(sText, ulMsg, iPid))
        s += f;
    return s;
}

inline bool WriteAll(int fd, const std::string &s)
{
    size_t uDone = 0;
    for (ssize_t n = 0;
         uDone < s.size() && (n = write(fd, s.data() + uDone, s.size() - uDone)) > 0;)
        uDone += (size_t)n;
    return uDone == s.size();
}

/* Reassembles the messages of one FIFO (never interleaved in these tests). */
struct FrameReader {
    std::string sBuf, sPart; /* unparsed bytes, the message so far */

    /* Takes one complete message out of sBuf: 1 done, 0 need more. */
    int Take(std::string *psOut)
    {
        for (;;) {
            size_t uStart = sBuf.find("|\001\001\001H:"),
                   uEnd = sBuf.find("\001\001\001|", uStart + 4);
            unsigned long ulSize = 0;
            int iIndex = 0, iCount = 0;
            if (uStart == std::string::npos || uEnd == std::string::npos ||
                sscanf(sBuf.c_str() + uStart + 4, "H:%*u:%*d:%d:%d:%lu:", &iIndex, &iCount,
                       &ulSize) != 3 ||
                sBuf.size() < uEnd + 4 + ulSize)
                return 0;
            sPart.append(sBuf, uEnd + 4, ulSize);
            sBuf.erase(0, uEnd + 4 + ulSize);
            if (iIndex == iCount)
                return psOut->swap(sPart), sPart.clear(), 1;
        }
    }

    /* 1 with a message, 0 after iTimeoutMs without input or once hStop is
     * readable or hung up (while fd has nothing), -1 at end of file. */
    int Read(int fd, int iTimeoutMs, std::string *psOut, int hStop = -1)
    {
        while (!Take(psOut)) {
            struct pollfd aPfd[2] = { { fd, POLLIN, 0 }, { hStop, POLLIN, 0 } };
            if (poll(aPfd, 2, iTimeoutMs) <= 0 || aPfd[0].revents == 0)
                return 0;
            char aBuf[8192];
            ssize_t n = read(fd, aBuf, sizeof aBuf);
            if (n <= 0)
                return -1;
            sBuf.append(aBuf, (size_t)n);
        }
        return 1;
    }
};

/* The inner text of the first <szTag> element of s, or "". */
inline std::string Field(const std::string &s, const char *szTag)
{
    std::string sOpen = std::string("<") + szTag + ">";
    size_t uA = s.find(sOpen);
    size_t uB = uA == std::string::npos ? uA : s.find(std::string("</") + szTag + ">", uA);
    return uB == std::string::npos ? "" : s.substr(uA + sOpen.size(), uB - uA - sOpen.size());
}

/* A MSG as a peer sends it; empty FROM, TYPE and RE left out. */
inline std::string MakeMsg(const std::string &sFrom, const std::string &sType,
                           const std::string &sData, const std::string &sRe = "")
{
    return "<MSG><HDR>" + (sFrom.empty() ? "" : "<FROM>" + sFrom + "</FROM>") +
           "<TO>0</TO><ID>1</ID>" + (sRe.empty() ? "" : "<RE>" + sRe + "</RE>") +
           (sType.empty() ? "" : "<TYPE>" + sType + "</TYPE>") +
           "<TIME>20240305140709000</TIME></HDR><DATA>" + sData + "</DATA></MSG>\r\n";
}

/* The TRANSACTION_RESPONSE to sRequest that carries sData. */
inline std::string Response(const std::string &sRequest, const std::string &sData)
{
    return MakeMsg("1", "TRANSACTION_RESPONSE", sData, Field(sRequest, "ID"));
}

/* The names in directory sDir, sorted; none where it cannot be read. */
inline std::vector<std::string> DirNames(const std::string &sDir)
{
    std::vector<std::string> v;
    DIR *pDir = opendir(sDir.c_str());
    while (struct dirent *pEnt = pDir ? readdir(pDir) : nullptr)
        if (strcmp(pEnt->d_name, ".") != 0 && strcmp(pEnt->d_name, "..") != 0)
            v.push_back(pEnt->d_name);
    if (pDir)
        closedir(pDir);
    std::sort(v.begin(), v.end());
    return v;
}

/* A fresh directory under /tmp, removed with everything in it (symbolic
 * links removed, never followed). */
struct TempDir {
    std::string sPath;
    TempDir()
    {
        char szTemplate[] = "/tmp/zolttest-XXXXXX";
        sPath = mkdtemp(szTemplate) != NULL ? szTemplate : "";
    }
    ~TempDir()
    {
        if (!sPath.empty())
            nftw(
                sPath.c_str(),
                [](const char *sz, const struct stat *, int, struct FTW *) {
                    return remove(sz), 0;
                },
                8, FTW_DEPTH | FTW_PHYS);
    }
    std::vector<std::string> Entries() const
    {
        return DirNames(sPath);
    }
};

/* The connection's FIFO ends opened without a handshake; the test holds the
 * broker FIFO's read end (hBroker) and a write end of the module's (hToClient). */
struct RawConnection {
    TempDir dir;
    int hBroker = -1, hToClient = -1;
    std::string sBrokerFifo;
    std::string Open()
    {
        unsetenv("ZOLT_TMP");
        sBrokerFifo = dir.sPath + "/ZOLTFIFO";
        if (dir.sPath.empty() || ZoltSetPipeDirectory(dir.sPath.c_str()) != 0 ||
            mkfifo(sBrokerFifo.c_str(), 0600) != 0)
            return "pipe directory";
        ZoltSetServerFifoNameEx("");
        if ((hBroker = open(sBrokerFifo.c_str(), O_RDONLY | O_NONBLOCK)) < 0)
            return "broker FIFO";
        ZoltInitPipes();
        if (ZoltClient_I_OpenFifoConnection() != 0)
            return "client ends";
        hToClient = open(g_szOurFifoName, O_WRONLY);
        return hToClient < 0 ? "own FIFO" : "";
    }
    ~RawConnection()
    {
        ClientMessage *p;
        while ((p = ZoltClientGetNextMessage(NULL)) != NULL)
            ZoltClientFreeMessage(p);
        ZoltClient_I_CloseFifoConnection();
        if (hToClient >= 0)
            close(hToClient);
        if (hBroker >= 0)
            close(hBroker);
        ZoltCleanupPipes();
    }
};

/* A stand-in peer on a thread of the test: reads the messages of a FIFO,
 * keeps each, and sends back what fnAnswer makes of it ("": nothing) on hOut
 * or, while there is none, on the FIFO a STARTUP names in READ (as the broker
 * does). It ends at end of file, at Stop, or after iReadAtMost messages (a
 * peer that goes away, closing its ends). */
struct AnsweringPeer {
    std::function<std::string(const std::string &)> fnAnswer;
    int hOut = -1, iReadAtMost = INT_MAX;

    /* Starts reading a duplicate of hIn (the caller closes hIn itself). */
    bool Start(int hIn)
    {
        int hDup = dup(hIn);
        if (hDup < 0 || pipe(aiStop) != 0)
            return false;
        thread = std::thread([this, hDup] {
            Loop(hDup);
            close(hDup);
        });
        return true;
    }
    std::vector<std::string> Seen()
    {
        std::lock_guard<std::mutex> lock(mtx);
        return vSeen;
    }
    /* Takes what is already in the FIFO, then ends. */
    void Stop()
    {
        if (thread.joinable()) {
            close(aiStop[1]);
            thread.join();
            close(aiStop[0]);
        }
    }
    ~AnsweringPeer()
    {
        Stop();
    }

private:
    std::thread thread;
    std::mutex mtx;
    std::vector<std::string> vSeen;
    int aiStop[2] = { -1, -1 };

    void Loop(int hIn)
    {
        FrameReader r;
        bool bOwnOut = hOut < 0;
        std::string s;
        for (unsigned long ul = 1;
             (int)vSeen.size() < iReadAtMost && r.Read(hIn, -1, &s, aiStop[0]) == 1;) {
            {
                std::lock_guard<std::mutex> lock(mtx);
                vSeen.push_back(s);
            }
            std::string sAnswer = fnAnswer(s);
            if (!sAnswer.empty() && hOut < 0)
                hOut = open(Field(s, "READ").c_str(), O_WRONLY);
            if (!sAnswer.empty())
                WriteAll(hOut, MakeFrames(sAnswer, ul++, 77));
        }
        if (bOwnOut && hOut >= 0)
            close(hOut);
    }
};

/* ---- the hostile peer of the end-to-end tests ---- */

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

/* Monotonic clock in seconds. */
inline double NowSeconds()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

/* Where symbolic link sPath points, or "". */
inline std::string LinkTarget(const std::string &sPath)
{
    char szTarget[4096];
    ssize_t n = readlink(sPath.c_str(), szTarget, sizeof szTarget - 1);
    return n > 0 ? std::string(szTarget, (size_t)n) : "";
}

/* The NUL-separated words of /proc/<iPid>/<szFile> (cmdline, environ). */
inline std::vector<std::string> ProcWords(int iPid, const char *szFile)
{
    std::ifstream in("/proc/" + std::to_string(iPid) + "/" + szFile);
    std::vector<std::string> v;
    for (std::string sWord; std::getline(in, sWord, '\0');)
        v.push_back(sWord);
    return v;
}

/* The path of a module FIFO "ZOLT_<pid>" in a "zoltpeers.*" directory under
 * sBase, and its pid; "" when there is none. */
inline std::string FindModuleFifo(const std::string &sBase, int *piPid)
{
    std::string sFound;
    for (const std::string &sDir : DirNames(sBase))
        for (const std::string &sName : DirNames(sBase + "/" + sDir)) {
            std::string sPath = sBase + "/" + sDir + "/" + sName;
            struct stat st;
            if (sDir.compare(0, 10, "zoltpeers.") == 0 && sName.compare(0, 5, "ZOLT_") == 0 &&
                lstat(sPath.c_str(), &st) == 0 && S_ISFIFO(st.st_mode) &&
                atoi(sName.c_str() + 5) > 0) {
                *piPid = atoi(sName.c_str() + 5);
                sFound = sPath;
            }
        }
    return sFound;
}

/* A running module process of a test not in vSeen, or 0: its executable is
 * szModule, its environment holds ZOLT_PATH under sBase (our zoltpeers
 * started it, not one of another test running at once) and its mode word is
 * "run" (zoltpeers first enumerates, to check the device). */
inline int FindNewModule(const char *szModule, const std::string &sBase,
                         const std::vector<int> &vSeen)
{
    std::string sWant = "ZOLT_PATH=" + sBase + "/";
    for (const std::string &sPid : DirNames("/proc")) {
        int iPid = atoi(sPid.c_str());
        if (iPid <= 0 || std::find(vSeen.begin(), vSeen.end(), iPid) != vSeen.end() ||
            LinkTarget("/proc/" + sPid + "/exe") != szModule)
            continue;
        std::vector<std::string> vEnv = ProcWords(iPid, "environ"),
                                 vCmd = ProcWords(iPid, "cmdline");
        if (vCmd.size() >= 2 && vCmd[1] == "run" &&
            std::any_of(vEnv.begin(), vEnv.end(), [&](const std::string &s) {
                return s.compare(0, sWant.size(), sWant) == 0;
            }))
            return iPid;
    }
    return 0;
}

/* A write end of the FIFO that process iPid reads ("ZOLT_" in the name of one
 * of its open files), opened through /proc, so that the module's removing
 * the name after its handshake does not matter. With bAfterHandshake only
 * once the name is removed (the acknowledgement has come: what arrives before
 * it would be taken for a wrong acknowledgement). -1 when there is none. */
inline int OpenModuleFifo(int iPid, bool bAfterHandshake)
{
    std::string sFds = "/proc/" + std::to_string(iPid) + "/fd";
    for (const std::string &sFd : DirNames(sFds)) {
        std::string sTarget = LinkTarget(sFds + "/" + sFd);
        if (sTarget.find("/ZOLT_") != std::string::npos &&
            (!bAfterHandshake || sTarget.find(" (deleted)") != std::string::npos))
            return open((sFds + "/" + sFd).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    }
    return -1;
}

/* CPU seconds of process iPid from its stat file; -1 when it is gone, or a
 * zombie unless bZombieToo (a zombie's stat still holds its whole CPU time). */
inline double ProcessCpuSeconds(int iPid, bool bZombieToo = false)
{
    std::ifstream in("/proc/" + std::to_string(iPid) + "/stat");
    std::string sStat;
    char cState = 0;
    unsigned long long ullUser = 0, ullSystem = 0;
    size_t uParen = std::getline(in, sStat) ? sStat.rfind(')') : std::string::npos;
    /* after the name: state, 10 fields, then user and system time */
    if (uParen == std::string::npos ||
        sscanf(sStat.c_str() + uParen + 1, " %c %*s %*s %*s %*s %*s %*s %*s %*s %*s %*s %llu %llu",
               &cState, &ullUser, &ullSystem) != 3 ||
        (cState == 'Z' && !bZombieToo) || cState == 'X')
        return -1;
    return (double)(ullUser + ullSystem) / (double)sysconf(_SC_CLK_TCK);
}

/* Writes what the mode asks for into the open FIFO hFifo of module iPid
 * (keeping *pdCpu, its CPU time, while it writes until the module ends).
 * Returns the time of the last byte written. */
inline double HostileWrite(int hFifo, HostileMode mode, int iPid, double *pdCpu)
{
    int iMe = (int)getpid();
    double dLast = NowSeconds();
    auto Send = [&](const std::string &s) { /* true when all of s went */
                                            ssize_t n = write(hFifo, s.data(), s.size());
                                            if (n > 0)
                                                dLast = NowSeconds();
                                            return n == (ssize_t)s.size();
    };
    if (mode == HOSTILE_DANGLING_PIECE) {
        std::string sWhole = "<MSG><DATA>behind</DATA></MSG>\r\n";
        Send(Frame(1, iMe, 1, 2, std::string(4000, 'd'), 8000) +
             Frame(1, iMe + 1, 1, 1, sWhole, sWhole.size()));
    } else if (mode == HOSTILE_INTERLEAVED) {
        std::string sA = "<MSG><DATA>" + std::string(3000, 'a') + "</DATA></MSG>\r\n";
        std::string sB = "<MSG><DATA>" + std::string(2000, 'b') + "</DATA></MSG>\r\n";
        std::string sAck = "<ACK></ACK>\r\n"; /* zoltpeers is told not to send one */
        Send(Frame(1, iMe + 1, 1, 2, std::string(1000, 'd'), 2000) +
             Frame(1, iMe, 1, 2, sA.substr(0, 1500), sA.size()) +
             Frame(1, iMe + 2, 1, 1, sAck, sAck.size()));
        int hAfter = -1; /* the handshake is over once the FIFO's name is gone */
        while (ProcessCpuSeconds(iPid) >= 0 && (hAfter = OpenModuleFifo(iPid, true)) < 0)
            usleep(1000);
        if (hAfter >= 0) {
            close(hAfter);
            Send(Frame(2, iMe, 1, 2, sB.substr(0, 1000), sB.size()) +
                 Frame(1, iMe, 2, 2, sA.substr(1500), sA.size()) +
                 Frame(2, iMe, 2, 2, sB.substr(1000), sB.size()));
        }
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
            std::string sFrame = Frame(ul, iMe, 1, 1, sMsg, sMsg.size());
            if (sBatch.size() + sFrame.size() > 4096) {
                if (!Send(sBatch))
                    return dLast; /* the module has ended */
                sBatch.clear();
            }
            sBatch += sFrame;
        }
        Send(sBatch);
    } else {
        std::string sJunk = std::string("<MSG>junk") + '\0' + "junk</MSG>\r\n";
        for (unsigned long ul = 1;; ul++) {
            Send(Frame(ul, iMe, 1, 1, sJunk, sJunk.size()));
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
 * bytes), then its CPU time is read until it has ended. The report on each
 * module goes to hReport. */
inline void HostileChild(const char *szModule, const std::string &sBase, HostileMode mode,
                         int hStop, int hReport)
{
    signal(SIGPIPE, SIG_IGN);
    std::vector<int> vSeen;
    for (struct pollfd pfd = { hStop, POLLIN, 0 }; poll(&pfd, 1, 0) == 0;) {
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
        rep.dEndAfterLastByte = NowSeconds() - dLast;
        close(hFifo);
        if (write(hReport, &rep, sizeof rep) != (ssize_t)sizeof rep)
            _exit(1);
    }
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

}  // namespace zolttest

#endif
