/* broker.cpp - the stand-in broker and engines against the messaging library's
 * client over real FIFOs: the STARTUP / ACK / STOP handshake, routing to a
 * process, device-list and language-string answers found by RE, GET_TIMEOUT
 * and STOPTESTING, and each misbehaviour giving the client the code it expects.
 * The broker runs in a forked child (the transport is process-wide state and
 * the client holds the read lock while it waits); the test process is the
 * client. The child reports what it saw on a pipe when it ends. */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "client-connection-manager.h"
#include "client-fifo-access.h"
#include "client-messaging-engine.h"
#include "message-protocol.h"
#include "nls-access.h"
#include "pipe-lowlevel.h"
#include "session.h"

static const std::string s_sStrings = std::string(ZOLT_FIXTURES) + "/peers/strings.ini";

static long ChildPid(void)
{
    return (long)getpid();
}

/* Writes a whole formatted line to a pipe. */
static void WriteLine(int h, const char *szFormat, ...)
{
    char szLine[512];
    va_list args;
    va_start(args, szFormat);
    int iLen = vsnprintf(szLine, sizeof szLine, szFormat, args);
    va_end(args);
    if (iLen > 0 && write(h, szLine, (size_t)iLen) < 0)
        _exit(3);
}

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
static void RunBrokerChild(int hOut, int hControl, const PeersOptions &opt, bool bDevices)
{
    g_pfnZoltMsgLocalPid = ChildPid;   /* FROM of the child's messages */
    PeersSession s;
    if (PeersSessionOpen(&s, &opt, "", s_sStrings.c_str(), nullptr) != 0) {
        WriteLine(hOut, "\n");
        _exit(1);
    }
    if (bDevices) {
        std::vector<PeersDevice> v(2);
        for (int i = 0; i < 2; i++) {
            v[i].iId = i;
            v[i].sName = "DEV:" + std::to_string(i);
            v[i].sXml = "<DEVICE><DID>" + std::to_string(i) + "</DID><NAME>DEV:" + std::to_string(i)
                        + "</NAME><HWLOCATOR>DEV:" + std::to_string(i) + "</HWLOCATOR></DEVICE>";
        }
        PeersEngineSetDevices(&s.engine, "peerstest", v);
    }
    WriteLine(hOut, "%s\n", s.broker.sPipeDir.c_str());
    PeersInvocation inv;
    PeersInvocationInit(&inv, "serve");
    int iRc = 1;
    for (int iSlice = 0; iSlice < 400 && iRc == 1; iSlice++) {
        iRc = PeersSessionServe(&s, &inv, 1, 50);
        struct pollfd pfd = { hControl, POLLIN, 0 };
        if (iRc == 1 && poll(&pfd, 1, 0) == 1)
            iRc = 3;   /* told to end */
    }
    int iStartups = s.broker.iStartups, iStops = s.broker.iStops;
    size_t uClients = s.broker.vClients.size();
    PeersSessionClose(&s);
    WriteLine(hOut, "serve=%d startups=%d stops=%d clients=%zu connected=%d startupnote=%d stopsent=%d timeouts=%d\n",
              iRc, iStartups, iStops, uClients, inv.bConnected, inv.bStartupNote, inv.bStopSent,
              inv.iTimeoutRequests);
    _exit(0);
}

class PeersBrokerTest : public ::testing::Test {
protected:
    pid_t m_pid = -1;
    int m_hIn = -1, m_hControl = -1;
    std::string m_sDir;
    std::string m_sReport;   /* the child's last line, once read */
    bool m_bReported = false;

    /* Waits for the child's report line (it writes it when it ends). */
    const std::string &WaitReport()
    {
        if (!m_bReported) {
            m_sReport = ReadLine(m_hIn);
            m_bReported = true;
        }
        return m_sReport;
    }

    void SetUp() override
    {
        unsetenv("ZOLT_TMP");
        g_iAckTimeoutMs = ZOLT_ACK_TIMEOUT_MS;
    }

    /* Forks the broker and makes this process its client (transport running). */
    void StartBroker(const PeersOptions &opt, bool bDevices)
    {
        int aiOut[2], aiCtl[2];
        ASSERT_EQ(pipe(aiOut), 0);
        ASSERT_EQ(pipe(aiCtl), 0);
        m_pid = fork();
        ASSERT_GE(m_pid, 0);
        if (m_pid == 0) {
            close(aiOut[0]);
            close(aiCtl[1]);
            RunBrokerChild(aiOut[1], aiCtl[0], opt, bDevices);
        }
        close(aiOut[1]);
        close(aiCtl[0]);
        m_hIn = aiOut[0];
        m_hControl = aiCtl[1];
        m_bReported = false;
        m_sDir = ReadLine(m_hIn);
        ASSERT_FALSE(m_sDir.empty()) << "the broker child did not start";
        ASSERT_EQ(ZoltSetPipeDirectory(m_sDir.c_str()), 0);
        ZoltSetServerFifoNameEx(nullptr);
        ZoltInitPipes();
        ZoltInitReadWriteThread();
    }

    /* Stops the client's transport, ends the child (asking it when bTell) and
     * returns its report line. */
    std::string FinishBroker(bool bTell)
    {
        ZoltStopReadWriteThread();
        ZoltCleanupPipes();
        if (bTell && !m_bReported && write(m_hControl, "x", 1) != 1)
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
static std::string Msg(const char *szTo, const char *szType, const char *szData)
{
    char szHdr[300];
    char szMsg[1024];
    EXPECT_EQ(ZoltCreateMessageHeader(szHdr, sizeof szHdr, szTo, nullptr, szType, nullptr), 0);
    EXPECT_EQ(ZoltCreateMessage(szMsg, sizeof szMsg, "MSG", szHdr, szData, (const char *)nullptr), 0);
    return szMsg;
}

static std::string OwnPid(void)
{
    return std::to_string(ZoltGetClientPid());
}

TEST_F(PeersBrokerTest, HandshakeRoutesToAProcessAndForgetsOnStop)
{
    PeersOptions opt;
    PeersOptionsInit(&opt);
    StartBroker(opt, false);
    ASSERT_EQ(ZoltClientOpenConnectionEx("peerstest", "DIAGMODULE", s_sStrings.c_str(), nullptr), 0);
    /* a message to a process id goes to that process: here, back to us */
    ASSERT_EQ(ZoltClientSendMessage(Msg(OwnPid().c_str(), "PEERS_ECHO", "<DATA>hello</DATA>").c_str()), 0);
    char szBuf[2048];
    ASSERT_EQ(ZoltClientWaitForMessage(szBuf, sizeof szBuf, 5000, "PEERS_ECHO", 0), 0);
    char szData[64];
    ASSERT_EQ(ZoltXmlGetField(szBuf, "MSG/DATA", 0, szData, sizeof szData), 0);
    EXPECT_STREQ(szData, "hello");
    EXPECT_EQ(ZoltClientCloseConnection(), 0);
    EXPECT_EQ(FinishBroker(false), "serve=0 startups=1 stops=1 clients=0 connected=1 startupnote=0 stopsent=0 timeouts=0");
}

TEST_F(PeersBrokerTest, AnswersAreFoundByReWithAndWithoutGarbageFrames)
{
    for (int bGarbage = 0; bGarbage <= 1; bGarbage++) {
        SCOPED_TRACE(bGarbage ? "garbage frames" : "clean frames");
        PeersOptions opt;
        PeersOptionsInit(&opt);
        opt.bGarbageFrames = bGarbage;
        StartBroker(opt, true);
        ASSERT_EQ(ZoltClientOpenConnectionEx("peerstest", "DIAGMODULE", s_sStrings.c_str(), nullptr), 0);

        /* an unrelated message arrives first and stays in the table */
        ASSERT_EQ(ZoltClientSendMessage(Msg(OwnPid().c_str(), "PEERS_ECHO", "<DATA>first</DATA>").c_str()), 0);
        ASSERT_EQ(ZoltClientWaitForMessages(2000, 0) >= 1, true);
        CGenStr req;
        ASSERT_TRUE(CGenStrInit(&req));
        ASSERT_EQ(ZoltClientCreateDiagnosticEngineCommandStr("LIST_DEVICES:peerstest", nullptr, &req), 0);
        long lId = 0;
        ASSERT_EQ(ZoltMessageGetMessageId(CGenStrC_Str(&req), &lId), 0);
        ASSERT_EQ(ZoltClientSendTransactionStr(CGenStrC_Str(&req), &req, 5000, 0), 0);
        long lRe = 0;
        ASSERT_EQ(ZoltMessageGetMessageRe(CGenStrC_Str(&req), &lRe), 0);
        EXPECT_EQ(lRe, lId);
        char szName[64];
        ASSERT_EQ(ZoltXmlGetField(CGenStrC_Str(&req), "MSG/DATA/COMPONENT/DEVICE/NAME", 1, szName, sizeof szName), 0);
        EXPECT_STREQ(szName, "DEV:1");
        CGenStrDelete(&req);
        /* (with garbage frames a junk text may stand before it) */
        ClientMessage *pFirst = ZoltClientFindMessageWithTypeField("PEERS_ECHO");
        ASSERT_NE(pFirst, nullptr);
        EXPECT_NE(strstr(pFirst->szMessage, "<DATA>first</DATA>"), nullptr);
        if (!bGarbage) {
            EXPECT_EQ(ZoltClientPeekMessage(nullptr), pFirst);
        }

        /* language strings: text decoded, language fall-back, unknown id */
        char szText[256];
        ASSERT_NE(ZoltGetNlsStringWithIdEx(nullptr, "szGreeting", "EN", szText, sizeof szText), nullptr);
        EXPECT_STREQ(szText, "Hello <world> at 50% & more");
        ASSERT_NE(ZoltGetNlsStringWithIdEx(nullptr, "szGreeting", "DE", szText, sizeof szText), nullptr);
        EXPECT_STREQ(szText, "Hallo Welt");
        ASSERT_NE(ZoltGetNlsStringWithIdEx(nullptr, "szNothing", "EN", szText, sizeof szText), nullptr);
        EXPECT_STREQ(szText, "<NLS id=szNothing/>");

        /* GET_TIMEOUT is answered with SENDINGTIMEOUT and the value */
        ASSERT_EQ(ZoltClientSendMessage(Msg("DIAGENGINE", "DE_EVENT",
                                            "<DATA><EVENT><TYPE>GET_TIMEOUT</TYPE><TESTPROCESSID>7</TESTPROCESSID>"
                                            "</EVENT></DATA>").c_str()), 0);
        char szCmd[2048];
        ASSERT_EQ(ZoltClientWaitForMessage(szCmd, sizeof szCmd, 5000, "DAPI_COMMAND", 0), 0);
        char szValue[32];
        ASSERT_EQ(ZoltXmlGetField(szCmd, "MSG/DATA/DAPICOMMANDTYPE", 0, szValue, sizeof szValue), 0);
        EXPECT_STREQ(szValue, "SENDINGTIMEOUT");
        ASSERT_EQ(ZoltXmlGetField(szCmd, "MSG/DATA/TIMEOUT_VALUE", 0, szValue, sizeof szValue), 0);
        EXPECT_STREQ(szValue, "300");

        while (ClientMessage *p = ZoltClientGetNextMessage(nullptr))
            ZoltClientFreeMessage(p);
        EXPECT_EQ(ZoltClientCloseConnection(), 0);
        EXPECT_EQ(FinishBroker(false), "serve=0 startups=1 stops=1 clients=0 connected=1 startupnote=0 stopsent=0 timeouts=1");
    }
}

TEST_F(PeersBrokerTest, StopTestingFollowsTheStartupNotification)
{
    for (int iAfter : { 0, 150 }) {
        SCOPED_TRACE(iAfter);
        PeersOptions opt;
        PeersOptionsInit(&opt);
        opt.iStopAfterMs = iAfter;
        StartBroker(opt, false);
        ASSERT_EQ(ZoltClientOpenConnectionEx("peerstest", "DIAGMODULE", s_sStrings.c_str(), nullptr), 0);
        ASSERT_EQ(ZoltClientSendMessage(Msg("DIAGENGINE", "REF1",
                                            "<DATA><STARTUP>REF1</STARTUP><VERSION>1.2.11</VERSION></DATA>").c_str()),
                  0);
        char szCmd[2048], szValue[32];
        ASSERT_EQ(ZoltClientWaitForMessage(szCmd, sizeof szCmd, 5000, "DAPI_COMMAND", 0), 0);
        ASSERT_EQ(ZoltXmlGetField(szCmd, "MSG/DATA/DAPICOMMANDTYPE", 0, szValue, sizeof szValue), 0);
        EXPECT_STREQ(szValue, "STOPTESTING");
        EXPECT_EQ(ZoltClientCloseConnection(), 0);
        EXPECT_EQ(FinishBroker(false), "serve=0 startups=1 stops=1 clients=0 connected=1 startupnote=1 stopsent=1 timeouts=0");
    }
}

TEST_F(PeersBrokerTest, MisbehavioursGiveTheClientsCodes)
{
    struct Case {
        const char *szName;
        int bNoAck, bGarbageAck, iDieAfter;
        int iOpen;          /* ZoltClientOpenConnectionEx */
        int iSend;          /* a send after the open (-1: not tried) */
        int iServe;         /* the child's serve result */
    } aCases[] = {
        { "no ack", 1, 0, -1, 30, -1, 3 },
        { "garbage ack", 0, 1, -1, 31, -1, 3 },
        /* dies right after acknowledging STARTUP: sends then fail */
        { "dying broker", 0, 0, 1, 0, 1, 2 },
    };
    g_iAckTimeoutMs = 300;   /* the no-ack case need not wait 10 s */
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.szName);
        PeersOptions opt;
        PeersOptionsInit(&opt);
        opt.bNoAck = c.bNoAck;
        opt.bGarbageAck = c.bGarbageAck;
        opt.iDieAfterPackets = c.iDieAfter;
        StartBroker(opt, false);
        /* no language data: the dead broker would make registration wait 5 s */
        EXPECT_EQ(ZoltClientOpenConnectionEx("peerstest", "DIAGMODULE", "", nullptr), c.iOpen);
        if (c.iSend >= 0) {
            /* once the dead broker has ended, a send finds no reader */
            WaitReport();
            EXPECT_EQ(ZoltClientSendMessage(Msg("DIAGENGINE", "DE_NOTIFY", "<DATA>x</DATA>").c_str()), c.iSend);
        }
        if (c.iOpen == 0)
            ZoltClientCloseConnection();
        std::string sReport = FinishBroker(c.iServe == 3);
        EXPECT_EQ(sReport.substr(0, 7), "serve=" + std::to_string(c.iServe));
    }
}

TEST_F(PeersBrokerTest, SilentLanguageEngineLeavesStringsMissing)
{
    PeersOptions opt;
    PeersOptionsInit(&opt);
    opt.bSilentNls = 1;
    StartBroker(opt, false);
    ASSERT_EQ(ZoltClientOpenConnectionEx("peerstest", "DIAGMODULE", "", nullptr), 0);
    char szText[64] = "unchanged";
    EXPECT_EQ(ZoltGetNlsStringWithIdEx(nullptr, "szGreeting", "EN", szText, sizeof szText), nullptr);
    EXPECT_STREQ(szText, "");
    EXPECT_EQ(ZoltClientCloseConnection(), 0);
    EXPECT_EQ(FinishBroker(false).substr(0, 7), "serve=0");
}

TEST_F(PeersBrokerTest, SlowOrMissingDeviceListsTimeTheTransactionOut)
{
    struct Case {
        const char *szName;
        int bNoList, iDelayMs;
        int iLater;   /* ZoltClientWaitForMessage for the answer afterwards */
    } aCases[] = {
        { "late answer", 0, 400, 0 },
        { "no answer", 1, 0, 2 },
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.szName);
        PeersOptions opt;
        PeersOptionsInit(&opt);
        opt.bNoDeviceList = c.bNoList;
        opt.iDeviceListDelayMs = c.iDelayMs;
        StartBroker(opt, true);
        ASSERT_EQ(ZoltClientOpenConnectionEx("peerstest", "DIAGMODULE", "", nullptr), 0);
        CGenStr req;
        ASSERT_TRUE(CGenStrInit(&req));
        ASSERT_EQ(ZoltClientCreateDiagnosticEngineCommandStr("LIST_DEVICES:peerstest", nullptr, &req), 0);
        EXPECT_EQ(ZoltClientSendTransactionStr(CGenStrC_Str(&req), &req, 100, 0), 2);
        CGenStrDelete(&req);
        char szBuf[2048];
        EXPECT_EQ(ZoltClientWaitForMessage(szBuf, sizeof szBuf, c.iLater == 0 ? 5000 : 600, "DE_DEVICELIST", 0),
                  c.iLater);
        EXPECT_EQ(ZoltClientCloseConnection(), 0);
        EXPECT_EQ(FinishBroker(false).substr(0, 7), "serve=0");
    }
}
