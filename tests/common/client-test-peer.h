/* client-test-peer.h - helpers for tests that play the broker or an engine over
 * raw FIFOs: frames, message texts, a temporary directory, the module's FIFO
 * ends without a handshake. Free of gtest, so a forked child may use it. */
#ifndef ZOLT_TESTS_CLIENT_TEST_PEER_H
#define ZOLT_TESTS_CLIENT_TEST_PEER_H

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
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

    /* 1 with a message, 0 after iTimeoutMs without input, -1 at end of file. */
    int Read(int fd, int iTimeoutMs, std::string *psOut)
    {
        while (!Take(psOut)) {
            struct pollfd pfd = { fd, POLLIN, 0 };
            if (poll(&pfd, 1, iTimeoutMs) <= 0)
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

/* A fresh directory under /tmp, removed with everything in it. */
struct TempDir {
    std::string sPath;
    TempDir()
    {
        char szTemplate[] = "/tmp/zoltclient-XXXXXX";
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

}  // namespace zolttest

#endif
