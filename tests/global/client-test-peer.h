/* client-test-peer.h - helpers for tests that play the broker or an engine
 * over raw FIFOs: frame building and reassembly, message texts, a temporary
 * directory, and a FIFO pair wired like a live connection. Header-only; no
 * gtest inside, so that a forked child may use it too. */
#ifndef ZOLT_TESTS_CLIENT_TEST_PEER_H
#define ZOLT_TESTS_CLIENT_TEST_PEER_H

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>

namespace zolttest {

/* All frames of one message: pieces of 4020 bytes, each behind its delimiter
 * "|\1\1\1H:<msg>:<pid>:<index>:<count>:<size>:<total>:\1\1\1|". */
inline std::string MakeFrames(const std::string &sText, unsigned long ulMsgNo, int iPid)
{
    const size_t uPiece = 4020;
    size_t uTotal = sText.size();
    int iCount = uTotal == 0 ? 1 : (int)((uTotal + uPiece - 1) / uPiece);
    std::string sOut;
    for (int i = 0; i < iCount; i++) {
        size_t uOff = (size_t)i * uPiece;
        size_t uLen = std::min(uPiece, uTotal - uOff);
        char szDelim[96];
        snprintf(szDelim, sizeof szDelim, "|\001\001\001H:%lu:%d:%d:%d:%zu:%zu:\001\001\001|", ulMsgNo, iPid,
                 i + 1, iCount, uLen, uTotal);
        sOut += szDelim;
        sOut.append(sText, uOff, uLen);
    }
    return sOut;
}

/* Writes all of s to fd, waiting for room (fd may be non-blocking). */
inline bool WriteAll(int fd, const std::string &s)
{
    size_t uDone = 0;
    while (uDone < s.size()) {
        ssize_t n = write(fd, s.data() + uDone, s.size() - uDone);
        if (n > 0) {
            uDone += (size_t)n;
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            struct pollfd pfd = {fd, POLLOUT, 0};
            poll(&pfd, 1, 1000);
        } else {
            return false;
        }
    }
    return true;
}

/* Reassembles messages from the frames read off one FIFO. */
struct FrameReader {
    std::string sBuf;                                            /* unparsed bytes */
    std::map<std::pair<int, unsigned long>, std::string> mParts; /* (pid, msg) -> bytes so far */

    /* Takes one complete message out of sBuf into *psOut. 1 done, 0 need more. */
    int Take(std::string *psOut)
    {
        for (;;) {
            size_t uStart = sBuf.find("|\001\001\001");
            if (uStart == std::string::npos)
                return 0;
            size_t uEnd = sBuf.find("\001\001\001|", uStart + 4);
            if (uEnd == std::string::npos)
                return 0;
            unsigned long ulMsg = 0, ulSize = 0, ulTotal = 0;
            int iPid = 0, iIndex = 0, iCount = 0;
            std::string sDelim = sBuf.substr(uStart + 4, uEnd - uStart - 4);
            if (sscanf(sDelim.c_str(), "H:%lu:%d:%d:%d:%lu:%lu:", &ulMsg, &iPid, &iIndex, &iCount, &ulSize,
                       &ulTotal) != 6) {
                sBuf.erase(0, uEnd + 4);
                continue;
            }
            size_t uPayload = uEnd + 4;
            if (sBuf.size() < uPayload + ulSize)
                return 0;
            std::string &sPart = mParts[std::make_pair(iPid, ulMsg)];
            sPart.append(sBuf, uPayload, ulSize);
            sBuf.erase(0, uPayload + ulSize);
            if (iIndex == iCount) {
                *psOut = sPart;
                mParts.erase(std::make_pair(iPid, ulMsg));
                return 1;
            }
        }
    }

    /* Reads fd until one message is complete or iTimeoutMs passes without
     * input. Returns 1 with the message, 0 on time-out, -1 at end of file. */
    int Read(int fd, int iTimeoutMs, std::string *psOut)
    {
        for (;;) {
            if (Take(psOut))
                return 1;
            struct pollfd pfd = {fd, POLLIN, 0};
            int rv = poll(&pfd, 1, iTimeoutMs);
            if (rv < 0 && errno == EINTR)
                continue;
            if (rv <= 0)
                return 0;
            char aBuf[8192];
            ssize_t n = read(fd, aBuf, sizeof aBuf);
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            if (n <= 0)
                return -1;
            sBuf.append(aBuf, (size_t)n);
        }
    }
};

/* The inner text of the first <szTag> element of s, or "" (no nesting). */
inline std::string Field(const std::string &s, const char *szTag)
{
    std::string sOpen = std::string("<") + szTag + ">";
    std::string sClose = std::string("</") + szTag + ">";
    size_t uA = s.find(sOpen);
    if (uA == std::string::npos)
        return "";
    uA += sOpen.size();
    size_t uB = s.find(sClose, uA);
    return uB == std::string::npos ? "" : s.substr(uA, uB - uA);
}

/* A MSG as a peer sends it; RE and FROM left out when empty. Ends in CR LF. */
inline std::string MakeMsg(const std::string &sFrom, const std::string &sType, const std::string &sData,
                           const std::string &sRe = "", const std::string &sId = "1")
{
    std::string s = "<MSG><HDR>";
    if (!sFrom.empty())
        s += "<FROM>" + sFrom + "</FROM>";
    s += "<TO>0</TO><ID>" + sId + "</ID>";
    if (!sRe.empty())
        s += "<RE>" + sRe + "</RE>";
    if (!sType.empty())
        s += "<TYPE>" + sType + "</TYPE>";
    s += "<TIME>20240305140709000</TIME></HDR><DATA>" + sData + "</DATA></MSG>\r\n";
    return s;
}

/* A fresh directory under /tmp, removed with everything in it. */
struct TempDir {
    std::string sPath;
    TempDir()
    {
        char szTemplate[] = "/tmp/zoltclient-XXXXXX";
        const char *p = mkdtemp(szTemplate);
        sPath = p != NULL ? p : "";
    }
    ~TempDir()
    {
        if (!sPath.empty())
            nftw(sPath.c_str(), RemoveEntry, 8, FTW_DEPTH | FTW_PHYS);
    }
    static int RemoveEntry(const char *szPath, const struct stat *, int, struct FTW *)
    {
        remove(szPath);
        return 0;
    }
};

inline bool PathExists(const std::string &s)
{
    struct stat st;
    return lstat(s.c_str(), &st) == 0;
}

} // namespace zolttest

#endif
