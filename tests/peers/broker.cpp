/* broker.cpp - the stand-in broker and engines against the messaging library's
 * client over real FIFOs: handshake, routing, answers found by RE, and each
 * misbehaviour's code at the client. The broker runs in a forked child (the
 * transport is process-wide state) and reports what it saw on a pipe. */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "client-connection-manager.h"
#include "common/read-file.h"
#include "common/test-peer.h"
#include "client-fifo-access.h"
#include "client-messaging-engine.h"
#include "message-protocol.h"
#include "nls-access.h"
#include "pipe-lowlevel.h"
#include "session.h"

static const std::string s_sStrings = std::string(ZOLT_FIXTURES) + "/peers/strings.ini";

/* Reads one line (blocking); "" at end of file. */
static std::string ReadLine(int h)
{
    std::string s;
    char c;
    while (read(h, &c, 1) == 1 && c != '\n')
        s += c;
    return s;
}

/* The broker child: serves until one STOP, its death, a byte on hControl or
 * 20 s; then reports and ends. Never returns. */
static void RunBrokerChild(int hOut, int hControl, const PeersOptions &opt)
{
    g_pfnZoltMsgLocalPid = []() -> long {
        return (long)getpid();
    }; /* FROM of the child's messages */
    PeersSession s;
    if (PeersSessionOpen(&s, &opt, "", s_sStrings.c_str(), nullptr) != 0) {
        (void)!write(hOut, "\n", 1);
        _exit(1);
    }
    std::vector<PeersDevice> v(2);
    for (int i = 0; i < 2; i++) {
        v[i].iId = i;
        v[i].sName = "DEV:" + std::to_string(i);
        v[i].sXml =
            "<DEVICE><DID>" + std::to_string(i) + "</DID><NAME>" + v[i].sName + "</NAME></DEVICE>";
    }
    PeersEngineSetDevices(&s.engine, "peerstest", v);
    (void)!write(hOut, (s.broker.sPipeDir + "\n").c_str(), s.broker.sPipeDir.size() + 1);
    PeersInvocation inv;
    PeersInvocationInit(&inv, "serve");
    int iRc = 1;
    for (int iSlice = 0; iSlice < 400 && iRc == 1; iSlice++) {
        iRc = PeersSessionServe(&s, &inv, 1, 50);
        struct pollfd pfd = { hControl, POLLIN, 0 };
        if (iRc == 1 && poll(&pfd, 1, 0) == 1)
            iRc = 3; /* told to end */
    }
    std::string sReport = "serve=" + std::to_string(iRc) +
                          " startups=" + std::to_string(s.broker.iStartups) +
                          " stops=" + std::to_string(s.broker.iStops) +
                          " clients=" + std::to_string(s.broker.vClients.size());
    PeersSessionClose(&s);
    sReport += "\n";
    (void)!write(hOut, sReport.c_str(), sReport.size());
    _exit(0);
}

class PeersBrokerTest : public ::testing::Test {
protected:
    pid_t m_pid = -1;
    int m_hIn = -1, m_hControl = -1;
    std::string m_sDir, m_sReport; /* the child's last line, once read */

    void SetUp() override
    {
        unsetenv("ZOLT_TMP");
        g_iAckTimeoutMs = ZOLT_ACK_TIMEOUT_MS;
    }
    /* Forks the broker and makes this process its client (transport running). */
    void StartBroker(const PeersOptions &opt)
    {
        int aiOut[2], aiCtl[2];
        ASSERT_EQ(pipe(aiOut), 0);
        ASSERT_EQ(pipe(aiCtl), 0);
        m_pid = fork();
        ASSERT_GE(m_pid, 0);
        if (m_pid == 0) {
            close(aiOut[0]);
            close(aiCtl[1]);
            RunBrokerChild(aiOut[1], aiCtl[0], opt);
        }
        close(aiOut[1]);
        close(aiCtl[0]);
        m_hIn = aiOut[0];
        m_hControl = aiCtl[1];
        m_sReport.clear();
        m_sDir = ReadLine(m_hIn);
        ASSERT_FALSE(m_sDir.empty()) << "the broker child did not start";
        ASSERT_EQ(ZoltSetPipeDirectory(m_sDir.c_str()), 0);
        ZoltSetServerFifoNameEx(nullptr);
        ZoltInitPipes();
        ZoltInitReadWriteThread();
    }
    /* Waits for the child's report line (it writes it when it ends). */
    const std::string &WaitReport()
    {
        if (m_sReport.empty())
            m_sReport = ReadLine(m_hIn);
        return m_sReport;
    }
    /* Stops the client's transport, ends the child (asking it when bTell) and
     * returns its report line; the child must leave no pipe directory. */
    std::string FinishBroker(bool bTell)
    {
        ZoltStopReadWriteThread();
        ZoltCleanupPipes();
        if (bTell && m_sReport.empty() && write(m_hControl, "x", 1) != 1)
            ADD_FAILURE() << "control pipe";
        std::string sReport = WaitReport();
        int iStatus = 0;
        waitpid(m_pid, &iStatus, 0);
        m_pid = -1;
        close(m_hIn);
        close(m_hControl);
        EXPECT_TRUE(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0);
        struct stat st;
        EXPECT_NE(stat(m_sDir.c_str(), &st), 0) << "pipe directory left behind";
        return sReport;
    }
    void TearDown() override
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            ZoltStopReadWriteThread();
            ZoltCleanupPipes();
        }
    }
};

/* A MSG of type szType to szTo with a whole DATA element. */
static std::string Msg(const std::string &sTo, const char *szType, const char *szData)
{
    char szHdr[300], szMsg[1024];
    EXPECT_EQ(ZoltCreateMessageHeader(szHdr, sizeof szHdr, sTo.c_str(), nullptr, szType, nullptr),
              0);
    EXPECT_EQ(ZoltCreateMessage(szMsg, sizeof szMsg, "MSG", szHdr, szData, (const char *)nullptr),
              0);
    return szMsg;
}

TEST_F(PeersBrokerTest, RoutesAndAnswersByReBetweenGarbageFrames)
{
    PeersOptions opt;
    PeersOptionsInit(&opt);
    opt.bGarbageFrames = 1; /* junk frames before every message to the client: ignored */
    StartBroker(opt);
    ASSERT_EQ(ZoltClientOpenConnectionEx("peerstest", "DIAGMODULE", s_sStrings.c_str(), nullptr),
              0);

    /* a message to a process id goes to that process (here, back to us);
     * it arrives first and stays in the table */
    const std::string sOwnPid = std::to_string(ZoltGetClientPid());
    ASSERT_EQ(ZoltClientSendMessage(Msg(sOwnPid, "PEERS_ECHO", "<DATA>first</DATA>").c_str()), 0);
    ASSERT_GE(ZoltClientWaitForMessages(2000, 0), 1);
    CGenStr req;
    ASSERT_TRUE(CGenStrInit(&req));
    ASSERT_EQ(ZoltClientCreateDiagnosticEngineCommandStr("LIST_DEVICES:peerstest", nullptr, &req),
              0);
    long lId = 0, lRe = 0;
    ASSERT_EQ(ZoltMessageGetMessageId(CGenStrC_Str(&req), &lId), 0);
    ASSERT_EQ(ZoltClientSendTransactionStr(CGenStrC_Str(&req), &req, 5000, 0), 0);
    ASSERT_EQ(ZoltMessageGetMessageRe(CGenStrC_Str(&req), &lRe), 0);
    EXPECT_EQ(lRe, lId);
    char szName[64];
    ASSERT_EQ(ZoltXmlGetField(CGenStrC_Str(&req), "MSG/DATA/COMPONENT/DEVICE/NAME", 1, szName,
                              sizeof szName),
              0);
    EXPECT_STREQ(szName, "DEV:1");
    CGenStrDelete(&req);
    ClientMessage *pFirst = ZoltClientFindMessageWithTypeField("PEERS_ECHO");
    ASSERT_NE(pFirst, nullptr);
    EXPECT_NE(strstr(pFirst->szMessage, "<DATA>first</DATA>"), nullptr);

    /* a language string: answered by the language-string engine, its text decoded */
    char szText[256];
    ASSERT_NE(ZoltGetNlsStringWithIdEx(nullptr, "szGreeting", "EN", szText, sizeof szText),
              nullptr);
    EXPECT_STREQ(szText, "Hello <world> at 50% & more");

    while (ClientMessage *p = ZoltClientGetNextMessage(nullptr))
        ZoltClientFreeMessage(p);
    EXPECT_EQ(ZoltClientCloseConnection(), 0);
    /* the STOP made the broker forget the client */
    EXPECT_EQ(FinishBroker(false), "serve=0 startups=1 stops=1 clients=0");
}

TEST_F(PeersBrokerTest, MisbehavioursGiveTheClientsCodes)
{
    /* the misbehaviour; what ZoltClientOpenConnectionEx and the child's serve return */
    struct Case {
        const char *szName;
        int bNoAck, bGarbageAck, iDieAfter, bSilentEngines, iOpen, iServe;
    } aCases[] = {
        { "no ack", 1, 0, -1, 0, 30, 3 },
        { "garbage ack", 0, 1, -1, 0, 31, 3 },
        /* dies right after acknowledging STARTUP: a send then finds no reader */
        { "dying broker", 0, 0, 1, 0, 0, 2 },
        /* no language strings and no device list: both requests time out */
        { "silent engines", 0, 0, -1, 1, 0, 0 },
    };
    g_iAckTimeoutMs = 300; /* the no-ack case need not wait 10 s */
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.szName);
        PeersOptions opt;
        PeersOptionsInit(&opt);
        opt.bNoAck = c.bNoAck;
        opt.bGarbageAck = c.bGarbageAck;
        opt.iDieAfterPackets = c.iDieAfter;
        opt.bSilentNls = opt.bNoDeviceList = c.bSilentEngines;
        StartBroker(opt);
        /* no language data: the dead broker would make registration wait 5 s */
        EXPECT_EQ(ZoltClientOpenConnectionEx("peerstest", "DIAGMODULE", "", nullptr), c.iOpen);
        if (c.iDieAfter > 0) {
            WaitReport();
            EXPECT_EQ(
                ZoltClientSendMessage(Msg("DIAGENGINE", "DE_NOTIFY", "<DATA>x</DATA>").c_str()), 1);
        }
        if (c.bSilentEngines) {
            char szText[64];
            EXPECT_EQ(ZoltGetNlsStringWithIdEx(nullptr, "szGreeting", "EN", szText, sizeof szText),
                      nullptr);
            CGenStr req;
            ASSERT_TRUE(CGenStrInit(&req));
            ASSERT_EQ(
                ZoltClientCreateDiagnosticEngineCommandStr("LIST_DEVICES:peerstest", nullptr, &req),
                0);
            EXPECT_EQ(ZoltClientSendTransactionStr(CGenStrC_Str(&req), &req, 100, 0), 2);
            CGenStrDelete(&req);
        }
        if (c.iOpen == 0)
            ZoltClientCloseConnection();
        EXPECT_EQ(FinishBroker(c.iServe == 3).substr(0, 7), "serve=" + std::to_string(c.iServe));
    }
}

/* A STARTUP whose READ names anything but a FIFO itself (a file, a link to a
 * file or to a FIFO, a directory, a device) is registered but gets no write
 * end: the broker never writes into it. */
TEST(PeersBrokerStartup, ReadPathMustBeAFifoItself)
{
    zolttest::TempDir dir;
    const std::string d = dir.sPath + "/";
    ASSERT_EQ(mkfifo((d + "fifo").c_str(), 0600), 0);
    int hReader = open((d + "fifo").c_str(), O_RDONLY | O_NONBLOCK);
    std::ofstream(d + "file") << "keep";
    ASSERT_EQ(symlink((d + "file").c_str(), (d + "to-file").c_str()), 0);
    ASSERT_EQ(symlink((d + "fifo").c_str(), (d + "to-fifo").c_str()), 0);
    PeersOptions opt;
    PeersOptionsInit(&opt);
    PeersSession s;
    ASSERT_EQ(PeersSessionOpen(&s, &opt, "", s_sStrings.c_str(), nullptr), 0);
    long lPid = 4000;
    for (const std::string &sPath :
         { d + "file", d + "to-file", d + "to-fifo", d, std::string("/dev/null"), d + "fifo" }) {
        PeersBrokerHandlePacket(&s, "<STARTUP><READ>" + sPath + "</READ><PID>" +
                                        std::to_string(++lPid) + "</PID></STARTUP>");
        const PeersClient *pClient = PeersBrokerFindClient(&s.broker, lPid);
        ASSERT_NE(pClient, nullptr) << sPath;
        EXPECT_EQ(pClient->hWrite > 0, sPath == d + "fifo") << sPath;
    }
    PeersSessionClose(&s);
    close(hReader);
    EXPECT_EQ(zolttest::ReadFile(d + "file"), "keep");
}
