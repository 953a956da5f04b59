/* broker.cpp - the stand-in broker with the engines behind it, packet by
 * packet: STARTUP acknowledged only through a FIFO itself, messages routed by
 * TO (a process, the diagnostic engine, the language-string engine), STOP, and
 * each misbehaviour switch, read back from a FIFO standing for the module's. */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/read-file.h"
#include "common/test-peer.h"
#include "message-protocol.h"
#include "session.h"

/* A session, and a FIFO in a temporary directory that stands for a module's. */
class PeersBrokerTest : public ::testing::Test {
protected:
    zolttest::TempDir m_dir;
    std::string m_sFifo = m_dir.sPath + "/fifo";
    PeersOptions m_opt;
    PeersSession m_s;
    int m_hReader = -1;
    bool m_bOpen = false;
    zolttest::FrameReader m_reader;

    void SetUp() override
    {
        PeersOptionsInit(&m_opt);
        ASSERT_EQ(mkfifo(m_sFifo.c_str(), 0600), 0);
    }
    void Open()
    {
        m_hReader = open(m_sFifo.c_str(), O_RDONLY | O_NONBLOCK);
        std::string sStrings = ZOLT_FIXTURES "/peers/strings.ini";
        ASSERT_EQ(PeersSessionOpen(&m_s, &m_opt, "", sStrings.c_str(), nullptr), 0);
        m_bOpen = true;
    }
    /* Process lPid connects with sRead as the FIFO it reads. */
    void Startup(long lPid, const std::string &sRead)
    {
        PeersBrokerHandlePacket(&m_s, "<STARTUP><READ>" + sRead + "</READ><PID>" +
                                          std::to_string(lPid) + "</PID></STARTUP>");
    }
    /* What the broker wrote next to the FIFO: a message, "" when nothing came
     * within 200 ms, "EOF" when the broker closed its end. */
    std::string Next()
    {
        std::string s;
        int iRc = m_reader.Read(m_hReader, 200, &s);
        return iRc > 0 ? s : iRc == 0 ? "" : "EOF";
    }
    void Close()
    {
        if (m_bOpen) {
            PeersSessionClose(&m_s);
            close(m_hReader);
        }
        m_bOpen = false;
        m_reader = zolttest::FrameReader();
    }
    void TearDown() override
    {
        Close();
    }
};

/* A MSG from process lFrom to szTo. */
static std::string Msg(long lFrom, const char *szTo, const char *szType, const char *szData)
{
    return "<MSG><HDR><FROM>" + std::to_string(lFrom) + "</FROM><TO>" + szTo +
           "</TO><ID>9</ID><TYPE>" + szType + "</TYPE></HDR><DATA>" + szData + "</DATA></MSG>";
}

TEST_F(PeersBrokerTest, RoutesByToAndForgetsAtStop)
{
    Open();
    Startup(4001, m_sFifo);
    EXPECT_EQ(Next(), "<ACK></ACK>\r\n");
    /* to a process: passed on as it came */
    const std::string sEcho = Msg(4002, "4001", "PEERS_ECHO", "first");
    PeersBrokerHandlePacket(&m_s, sEcho);
    EXPECT_EQ(Next(), sEcho + "\r\n");
    /* a broker command and an unknown TO are answered by nobody */
    PeersBrokerHandlePacket(&m_s, Msg(4001, ZOLT_TO_MESSAGEBROKER, "X", "x"));
    PeersBrokerHandlePacket(&m_s, Msg(4001, "4001x", "X", "x"));
    EXPECT_EQ(Next(), "");
    PeersBrokerHandlePacket(&m_s, "<STOP><PID>4001</PID></STOP>");
    EXPECT_EQ(PeersBrokerFindClient(&m_s.broker, 4001), nullptr);
    EXPECT_EQ(Next(), "EOF"); /* its FIFO closed */
}

/* What the FIFO of a process gets under each misbehaviour switch, after its
 * STARTUP, a device-list request and a language-string request: each
 * message's type, other texts as they are. */
TEST_F(PeersBrokerTest, MisbehaviourSwitches)
{
    const struct Case {
        const char *szName;
        int bNoAck, bGarbageAck, bGarbageFrames, bSilentNls, iDieAfter;
        const char *szSeen;
    } aCases[] = {
        /* the engines' answers go back to the process that asked */
        { "none", 0, 0, 0, 0, -1, "<ACK></ACK> DE_DEVICELIST NLS_RESPONSE " },
        { "no ack", 1, 0, 0, 0, -1, "" }, /* nor anything else: the FIFO is never opened */
        { "garbage ack", 0, 1, 0, 0, -1, "<NAK>NOT AN ACK</NAK> DE_DEVICELIST NLS_RESPONSE " },
        /* before each message a frame that is none: a lone second piece, a text */
        { "garbage frames", 0, 0, 1, 0, -1,
          "<ACK></ACK> GARBAGE!!! DE_DEVICELIST <JUNK>garbage frame</JUNK> NLS_RESPONSE " },
        { "silent language engine", 0, 0, 0, 1, -1, "<ACK></ACK> DE_DEVICELIST " },
        /* dies after the second packet: closes every FIFO, removes its own */
        { "dying broker", 0, 0, 0, 0, 2, "<ACK></ACK> DE_DEVICELIST EOF " },
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.szName);
        PeersOptionsInit(&m_opt);
        m_opt.bNoAck = c.bNoAck;
        m_opt.bGarbageAck = c.bGarbageAck;
        m_opt.bGarbageFrames = c.bGarbageFrames;
        m_opt.bSilentNls = c.bSilentNls;
        m_opt.iDieAfterPackets = c.iDieAfter;
        Open();
        Startup(4001, m_sFifo);
        PeersBrokerHandlePacket(
            &m_s, Msg(4001, ZOLT_TO_DIAGENGINE, "DE_COMMAND", "LIST_DEVICES:peerstest"));
        PeersBrokerHandlePacket(&m_s, Msg(4001, ZOLT_TO_NLSENGINE, "NLS_COMMAND", "NLS_X"));
        std::string sSeen, s;
        while (sSeen.find("EOF") == std::string::npos && !(s = Next()).empty())
            sSeen += (s.rfind("<MSG>", 0) == 0 ? zolttest::Field(s, "TYPE")
                                               : s.substr(0, s.find_last_not_of("\r\n") + 1)) +
                     " ";
        EXPECT_EQ(sSeen, c.szSeen);
        struct stat st;
        EXPECT_EQ(stat((m_s.broker.sPipeDir + "/ZOLTFIFO").c_str(), &st) == 0, c.iDieAfter < 0);
        Close();
    }
}

/* A STARTUP whose READ names anything but a FIFO itself (a file, a link to a
 * file or to a FIFO, a directory, a device) is registered but gets no write
 * end: the broker never writes into it. */
TEST_F(PeersBrokerTest, StartupReadPathMustBeAFifoItself)
{
    const std::string d = m_dir.sPath + "/";
    std::ofstream(d + "file") << "keep";
    ASSERT_EQ(symlink((d + "file").c_str(), (d + "to-file").c_str()), 0);
    ASSERT_EQ(symlink(m_sFifo.c_str(), (d + "to-fifo").c_str()), 0);
    Open();
    long lPid = 4000;
    for (const std::string &sPath :
         { d + "file", d + "to-file", d + "to-fifo", d, std::string("/dev/null"), m_sFifo }) {
        Startup(++lPid, sPath);
        const PeersClient *pClient = PeersBrokerFindClient(&m_s.broker, lPid);
        ASSERT_NE(pClient, nullptr) << sPath;
        EXPECT_EQ(pClient->hWrite > 0, sPath == m_sFifo) << sPath;
    }
    EXPECT_EQ(zolttest::ReadFile(d + "file"), "keep");
}
