/* broker-packets.cpp - fuzz target of zoltpeers' broker and the engines
 * behind it: the input is what a read from the broker FIFO delivered; it is
 * split into packets (against a plain split at CR LF that skips empty
 * pieces) and each packet is handled as the broker handles it (STARTUP, STOP,
 * MSG routed to the diagnostic engine, the language-string engine or a
 * process, garbage). Invariants: every packet is counted, STARTUPs and STOPs
 * as such; the connected processes are those a model of STARTUP and STOP
 * gives; a file and a link to it named as READ FIFO stay untouched; the
 * engine's answer to any packet is one of its result codes. "$D/" in the
 * input stands for the target's own directory (client: a FIFO, file, link);
 * READ paths outside it are not handed over (the broker opens the FIFO they
 * name). */
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "broker.h"
#include "engine.h"
#include "fuzz-common.h"
#include "peers-common.h"
#include "session.h"

#define BROKER_FILE_TEXT "keep this"

static std::vector<std::string> PlainSplit(const std::string &s)
{
    std::vector<std::string> v;
    size_t uStart = 0;
    while (uStart < s.size()) {
        size_t uEnd = s.find("\r\n", uStart);
        std::string sPiece = s.substr(uStart, uEnd == std::string::npos ? uEnd : uEnd - uStart);
        if (!sPiece.empty())
            v.push_back(sPiece);
        uStart = uEnd == std::string::npos ? s.size() : uEnd + 2;
    }
    return v;
}

static bool StartsWith(const std::string &s, const char *szPrefix)
{
    return s.compare(0, strlen(szPrefix), szPrefix) == 0;
}

/* The session (once per process) and the directory with a FIFO (a reader
 * held open), a file and a link to the file for STARTUP's READ. */
static PeersSession *Session(int *phReader)
{
    static PeersSession s_session;
    static int s_hReader = -1;
    if (s_hReader < 0) {
        std::string sFifo = FuzzTempPath("client"), sFile = FuzzTempPath("file");
        FUZZ_CHECK(mkfifo(sFifo.c_str(), 0600) == 0);
        s_hReader = open(sFifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        FUZZ_CHECK(s_hReader >= 0);
        FuzzWriteFile(sFile, BROKER_FILE_TEXT, strlen(BROKER_FILE_TEXT));
        FUZZ_CHECK(symlink(sFile.c_str(), FuzzTempPath("link").c_str()) == 0);
        std::string sStrings = FuzzTempPath("strings.ini");
        FuzzWriteFile(sStrings, "[NLS_EN]\nhello=Hello\n", 21);
        PeersOptions opt;
        PeersOptionsInit(&opt);
        FUZZ_CHECK(PeersSessionOpen(&s_session, &opt, "", sStrings.c_str(), FuzzTempDir()) == 0);
    }
    *phReader = s_hReader;
    return &s_session;
}

/* STARTUP READ paths must stay inside the target's directory. */
static bool HarmlessPackets(const std::vector<std::string> &vPackets)
{
    std::string sDir = std::string(FuzzTempDir()) + "/";
    for (const std::string &sPacket : vPackets) {
        std::string sRead;
        if (StartsWith(sPacket, "<STARTUP>") &&
            PeersGetField(sPacket.c_str(), "STARTUP/READ", 0, sRead) == 0 && !sRead.empty() &&
            (sRead.compare(0, sDir.size(), sDir) != 0 || sRead.find("..") != std::string::npos))
            return false;
    }
    return true;
}

static std::vector<long> ClientPids(const PeersBroker &broker)
{
    std::vector<long> v;
    for (const PeersClient &c : broker.vClients)
        v.push_back(c.lPid);
    std::sort(v.begin(), v.end());
    return v;
}

static long PidField(const std::string &sPacket, const char *szPath)
{
    std::string sPid;
    PeersGetField(sPacket.c_str(), szPath, 0, sPid);
    return strtol(sPid.c_str(), nullptr, 10);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    std::string sText = FuzzText(pData, uSize);
    for (size_t u = sText.find("$D/"); u != std::string::npos; u = sText.find("$D/", u))
        sText.replace(u, 2, FuzzTempDir()); /* the target's directory, unknown to the input */
    std::vector<std::string> vPackets;
    PeersSplitPackets(sText.c_str(), vPackets);
    FUZZ_CHECK(vPackets == PlainSplit(sText));
    if (vPackets.size() > 32 || !HarmlessPackets(vPackets))
        return 0;
    int hReader = -1;
    PeersSession *pSession = Session(&hReader);
    PeersBroker &broker = pSession->broker;
    static PeersInvocation s_inv; /* records what any process sends, one input long */
    PeersInvocationInit(&s_inv, "serve");
    pSession->engine.pCur = &s_inv;
    int iIn = broker.iPacketsIn, iStartups = broker.iStartups, iStops = broker.iStops;
    std::vector<long> vModel = ClientPids(broker);
    for (const std::string &sPacket : vPackets) {
        if (StartsWith(sPacket, "<STARTUP>")) {
            long lPid = PidField(sPacket, "STARTUP/PID");
            if (std::find(vModel.begin(), vModel.end(), lPid) == vModel.end())
                vModel.push_back(lPid);
        } else if (StartsWith(sPacket, "<STOP>")) {
            auto it = std::find(vModel.begin(), vModel.end(), PidField(sPacket, "STOP/PID"));
            if (it != vModel.end())
                vModel.erase(it);
        }
        PeersBrokerHandlePacket(pSession, sPacket);
        int iRc = PeersEngineHandleMessage(&pSession->engine, sPacket.c_str(), 4242, "");
        FUZZ_CHECK(iRc >= 0 && iRc <= 2);
    }
    FUZZ_CHECK(broker.iPacketsIn - iIn == (int)vPackets.size());
    FUZZ_CHECK(broker.iStartups - iStartups ==
               std::count_if(vPackets.begin(), vPackets.end(),
                             [](const std::string &s) { return StartsWith(s, "<STARTUP>"); }));
    FUZZ_CHECK(broker.iStops - iStops ==
               std::count_if(vPackets.begin(), vPackets.end(),
                             [](const std::string &s) { return StartsWith(s, "<STOP>"); }));
    std::sort(vModel.begin(), vModel.end());
    FUZZ_CHECK(ClientPids(broker) == vModel);

    /* nothing written into the file, directly or through the link */
    char acFile[64] = { 0 };
    int hFile = open(FuzzTempPath("file").c_str(), O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(hFile >= 0 && read(hFile, acFile, sizeof acFile - 1) >= 0);
    close(hFile);
    FUZZ_CHECK(strcmp(acFile, BROKER_FILE_TEXT) == 0);

    /* the next input starts without connections or waiting answers */
    for (long lPid : vModel)
        PeersBrokerHandlePacket(pSession, "<STOP><PID>" + std::to_string(lPid) + "</PID></STOP>");
    pSession->engine.vPending.clear();
    char acDrain[4096];
    while (read(hReader, acDrain, sizeof acDrain) > 0) {
    }
    return 0;
}
