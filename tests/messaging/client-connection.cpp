/* client-connection.cpp - tests of the broker connection against a stand-in
 * broker: every open result code, STARTUP and STOP, the
 * hidden own FIFO, a broker that goes away, the pipe directory. */
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "client-connection-manager.h"
#include "common/read-file.h"
#include "common/test-peer.h"
#include "message-protocol.h"

namespace {

using zolttest::Field;

class Connection : public ::testing::Test {
protected:
    zolttest::TempDir dir;
    std::string sBrokerFifo, sOwnFifo, sPid;

    void SetUp() override
    {
        unsetenv("ZOLT_TMP");
        ASSERT_EQ(ZoltSetPipeDirectory(dir.sPath.c_str()), 0);
        ZoltSetServerFifoNameEx("");
        sBrokerFifo = dir.sPath + "/ZOLTFIFO";
        sPid = std::to_string(ZoltGetClientPid());
        sOwnFifo = dir.sPath + "/ZOLT_" + sPid;
        ZoltInitPipes();
    }
    void TearDown() override
    {
        while (g_iConnectionCount > 0)
            ZoltClientCloseConnection();
        ZoltStopReadWriteThread();
        ZoltCleanupPipes();
    }
    /* The broker answers STARTUP with sReply ("": stays silent), "ping" with
     * "pong" and NLS_REGMOD with "registered". */
    void StartBroker(zolttest::AnsweringPeer &broker, const std::string &sReply)
    {
        ASSERT_EQ(mkfifo(sBrokerFifo.c_str(), 0600), 0);
        int h = open(sBrokerFifo.c_str(), O_RDONLY | O_NONBLOCK);
        broker.fnAnswer = [sReply](const std::string &s) -> std::string {
            std::string sData = Field(s, "DATA");
            if (s.compare(0, 9, "<STARTUP>") == 0)
                return sReply;
            if (sData == "ping" || sData.compare(0, 11, "NLS_REGMOD:") == 0)
                return zolttest::Response(s, sData == "ping" ? "pong" : "registered");
            return "";
        };
        ASSERT_TRUE(h >= 0 && broker.Start(h));
        close(h); /* the broker's end is the only one */
        ASSERT_EQ(ZoltInitReadWriteThread(), 0);
    }
    /* What the broker got once it has taken everything: each MSG as its DATA. */
    std::vector<std::string> Got(zolttest::AnsweringPeer &broker)
    {
        broker.Stop();
        std::vector<std::string> v = broker.Seen();
        for (std::string &s : v)
            s = s.compare(0, 5, "<MSG>") == 0 ? Field(s, "DATA") : s;
        return v;
    }
    std::string Startup(const char *szName, const char *szNls, const char *szExe)
    {
        return "<STARTUP><READ>" + sOwnFifo + "</READ><PID>" + sPid + "</PID><NAME>" + szName +
               "</NAME><NLSDATA>" + szNls + "</NLSDATA><CLASS>DIAGMODULE</CLASS><EXE_FILENAME>" +
               szExe + "</EXE_FILENAME></STARTUP>\r\n";
    }
    std::string Stop()
    {
        return "<STOP><PID>" + sPid + "</PID></STOP>\r\n";
    }
    void ExpectNothingLeft()
    {
        EXPECT_NE(access(sOwnFifo.c_str(), F_OK), 0);
        EXPECT_EQ(g_hFifoRead + g_hDummyFifoWrites + g_hFifoWrite + g_iConnectionCount, 0);
    }
};

TEST_F(Connection, HandshakeOutcomes)
{
    struct {
        std::string sReply;
        bool bWorker; /* tells ENUM_COMPLETE apart */
        int iExpect;
    } aCases[] = {
        { "<ACK></ACK>\r\n", false, 0 },
        { "<ACK>ENUM_COMPLETE</ACK>\r\n", false, 0 },
        { "<ACK>ENUM_COMPLETE</ACK>\r\n", true, 40 },
        { zolttest::MakeMsg("1", "DE_COMMAND", "x"), false, 31 },
        { "", false, 30 }, /* silent: waits 200 ms instead of 10 s */
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.sReply);
        zolttest::AnsweringPeer broker;
        StartBroker(broker, c.sReply);
        g_iAckTimeoutMs = c.sReply.empty() ? 200 : ZOLT_ACK_TIMEOUT_MS;
        int iRc = c.bWorker ? ZoltClient_I_OpenConnectionEx(0, "Example", "DIAGMODULE", NULL,
                                                            "/opt/diag/zoltcpu.linux")
                            : ZoltClientOpenConnectionEx("Example", "DIAGMODULE", NULL,
                                                         "/opt/diag/zoltcpu.linux");
        g_iAckTimeoutMs = ZOLT_ACK_TIMEOUT_MS;
        EXPECT_EQ(iRc, c.iExpect);
        std::vector<std::string> vExpect = { Startup("Example", "", "zoltcpu.linux") };
        if (c.iExpect % 40 == 0) { /* a connection that stays open until STOP */
            EXPECT_NE(access(sOwnFifo.c_str(), F_OK), 0); /* hidden, yet still open */
            EXPECT_GT(g_hFifoRead, 0);
            EXPECT_EQ(ZoltClientCloseConnection(), 0);
            vExpect.push_back(Stop());
        }
        ExpectNothingLeft();
        EXPECT_EQ(Got(broker), vExpect);
        ZoltStopReadWriteThread();
        unlink(sBrokerFifo.c_str());
    }
}

TEST_F(Connection, LiveConnectionCarriesMessagesAndClosesWithStop)
{
    zolttest::AnsweringPeer broker;
    StartBroker(broker, "<ACK></ACK>\r\n");
    /* registers the language-string file during the open; the hidden FIFO still gets answers */
    ASSERT_EQ(ZoltClientOpenConnectionEx("Example", "DIAGMODULE", "/opt/x/zoltcpu.ini", ""), 0);
    CGenStr s;
    ASSERT_TRUE(CGenStrInit(&s));
    ASSERT_EQ(ZoltClientCreateDiagnosticEngineCommandStr("ping", NULL, &s), 0);
    EXPECT_EQ(ZoltClientSendTransactionStr(CGenStrC_Str(&s), &s, 5000, 0), 0);
    EXPECT_EQ(Field(CGenStrC_Str(&s), "DATA"), "pong");
    CGenStrDelete(&s);
    /* A second open shares the connection (no second STARTUP), a third is refused. */
    EXPECT_EQ(ZoltClientOpenConnection(), 0);
    EXPECT_EQ(ZoltClientOpenConnection(), 1);
    EXPECT_EQ(g_iConnectionCount, 2);
    EXPECT_EQ(ZoltClientCloseConnection(), 0);
    EXPECT_GT(g_hFifoWrite, 0);
    EXPECT_EQ(ZoltClientCloseConnection(), 0); /* now STOP goes out */
    ExpectNothingLeft();
    EXPECT_EQ(Field(broker.Seen().at(1), "TO"), "NLSENGINE");
    EXPECT_EQ(Got(broker),
              (std::vector<std::string>{ Startup("Example", "/opt/x/zoltcpu.ini", ""),
                                         "NLS_REGMOD:" + sPid + ":zoltcpu.ini", "ping", Stop() }));
    EXPECT_EQ(ZoltClientSendMessage("<MSG></MSG>\r\n"), 1);
}

TEST_F(Connection, BrokerThatHasGoneMakesSendsFail)
{
    zolttest::AnsweringPeer broker;
    broker.iReadAtMost = 1; /* answers STARTUP, then closes its ends */
    StartBroker(broker, "<ACK></ACK>\r\n");
    ASSERT_EQ(ZoltClientOpenConnection(), 0);
    broker.Stop();
    int iErrors = ZoltClientGetWriteErrorCount();
    EXPECT_EQ(ZoltClientSendMessage("<MSG><DATA>1</DATA></MSG>\r\n"), 1); /* broken pipe */
    EXPECT_EQ(g_hFifoWrite, 0);                                           /* closed by it */
    EXPECT_EQ(ZoltClientSendMessage("<MSG><DATA>2</DATA></MSG>\r\n"), 1);
    EXPECT_EQ(ZoltClientGetWriteErrorCount(), iErrors + 2);
    /* Opening again drops the dead ends first; with no broker that gives 11. */
    EXPECT_EQ(ZoltClientOpenConnection(), 11);
    EXPECT_EQ(ZoltClientCloseConnection(), 0);
    ExpectNothingLeft();
}

TEST_F(Connection, FailedOpensLeaveNothingBehind)
{
    std::string sLong(70, 'n'), sLongPath = "/opt/" + std::string(300, 'p'),
                                sLongExe = "/bin/" + std::string(4250, 'e');
    std::string sDeepDir = dir.sPath + "/" + std::string(200, 'a') + "/" + std::string(100, 'b');
    /* iBroker: 0 no broker FIFO, 1 nobody reads it, 2 read, 3 a regular file
     * instead; cOwn: '-' plain, 'd' a directory at the own FIFO's name, 'l' own
     * path over 255 characters (not cut) */
    struct {
        int iBroker;
        char cOwn;
        const char *szModule, *szClass, *szNls, *szExe;
        int iExpect;
    } aCases[] = {
        { 0, '-', "m", "NORMAL", "", "", 11 },
        { 1, '-', "m", "NORMAL", "", "", 11 },
        { 3, '-', "m", "NORMAL", "", "", 11 },
        { 2, 'd', "m", "NORMAL", "", "", 12 },
        { 2, 'l', "m", "NORMAL", "", "", 12 },
        { 2, '-', sLong.c_str(), "NORMAL", "", "", 23 },
        { 2, '-', "m", "NORMAL", sLongPath.c_str(), "", 24 },
        { 2, '-', "m", sLong.c_str(), "", "", 25 },
        { 2, '-', "m", "NORMAL", "", sLongExe.c_str(), 26 },
    };
    g_iAckTimeoutMs = 200; /* a case that wrongly gets as far as the wait ends soon */
    for (auto &c : aCases) {
        SCOPED_TRACE(testing::Message() << c.iExpect << c.cOwn << c.iBroker);
        int hBroker = -1;
        ASSERT_TRUE(c.iBroker == 0 || c.iBroker == 3 || mkfifo(sBrokerFifo.c_str(), 0600) == 0);
        ASSERT_TRUE(c.iBroker != 3 || system(("echo kept >" + sBrokerFifo).c_str()) == 0);
        if (c.iBroker == 2)
            hBroker = open(sBrokerFifo.c_str(), O_RDONLY | O_NONBLOCK);
        std::string sOwn = sOwnFifo;
        if (c.cOwn == 'l') {
            ASSERT_EQ(mkdir(sDeepDir.substr(0, sDeepDir.rfind('/')).c_str(), 0700), 0);
            ASSERT_EQ(mkdir(sDeepDir.c_str(), 0700), 0);
            ASSERT_EQ(ZoltSetPipeDirectory(sDeepDir.c_str()), 0);
            ZoltSetServerFifoNameEx(sBrokerFifo.c_str());
            sOwn = sDeepDir + "/ZOLT_" + std::to_string(ZoltGetClientPid());
        }
        ASSERT_TRUE(c.cOwn != 'd' || mkdir(sOwn.c_str(), 0700) == 0);

        EXPECT_EQ(ZoltClientOpenConnectionEx(c.szModule, c.szClass, c.szNls, c.szExe), c.iExpect);
        /* the directory is not taken for a FIFO */
        EXPECT_TRUE(c.cOwn != 'd' || rmdir(sOwn.c_str()) == 0);
        ExpectNothingLeft();
        EXPECT_NE(access(sOwn.c_str(), F_OK), 0);
        EXPECT_NE(access(sOwn.substr(0, 255).c_str(), F_OK), 0); /* nor a FIFO at a cut name */
        if (hBroker >= 0) {
            char c1;
            EXPECT_EQ(read(hBroker, &c1, 1), 0); /* nothing sent, no writer left */
            close(hBroker);
        }
        EXPECT_TRUE(c.iBroker != 3 || zolttest::ReadFile(sBrokerFifo) == "kept\n");
        unlink(sBrokerFifo.c_str());
        ASSERT_EQ(ZoltSetPipeDirectory(dir.sPath.c_str()), 0);
        ZoltSetServerFifoNameEx("");
    }
    g_iAckTimeoutMs = ZOLT_ACK_TIMEOUT_MS;
    /* A broker FIFO name longer than 255 characters is refused too. */
    ZoltSetServerFifoNameEx(("/tmp/" + std::string(260, 'f')).c_str());
    EXPECT_EQ(ZoltClientOpenConnection(), 11);
}

TEST_F(Connection, OnlyTheFifoMadeOrVerifiedAtTheOpenIsEverRemoved)
{
    struct {
        const char *szWhat;
        char cPlant; /* '-' nothing, 'f' FIFO 0600, 'w' FIFO 0666, 'l' link to a FIFO 0600 */
        char cAfter; /* '-' nothing, 'r' another FIFO renamed over it, 'h' hidden, then a new one */
        int iOpen;   /* ZoltClient_I_OpenFifoConnection */
        bool bGoneAfterClose;
    } aCases[] = {
        { "made here", '-', '-', 0, true },
        { "own FIFO reused", 'f', '-', 0, true },
        { "replaced after the open", '-', 'r', 0, false },
        { "hidden, then taken again", '-', 'h', 0, false },
        { "FIFO open to everybody", 'w', '-', 2, false },
        { "link to an own FIFO", 'l', '-', 2, false },
    };
    ASSERT_EQ(mkfifo(sBrokerFifo.c_str(), 0600), 0);
    int hBroker = open(sBrokerFifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(hBroker, 0);
    std::string sOther = dir.sPath + "/other";
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szWhat);
        struct stat stPlanted = {}, st = {};
        if (c.cPlant == 'l') {
            ASSERT_TRUE(mkfifo(sOther.c_str(), 0600) == 0 &&
                        symlink(sOther.c_str(), sOwnFifo.c_str()) == 0);
        } else if (c.cPlant != '-') {
            ASSERT_TRUE(mkfifo(sOwnFifo.c_str(), 0600) == 0 &&
                        chmod(sOwnFifo.c_str(), c.cPlant == 'w' ? 0666 : 0600) == 0);
        }
        ASSERT_TRUE(c.cPlant == '-' || lstat(sOwnFifo.c_str(), &stPlanted) == 0);

        EXPECT_EQ(ZoltClient_I_OpenFifoConnection(), c.iOpen);
        EXPECT_EQ(g_hFifoRead > 0, c.iOpen == 0);
        EXPECT_TRUE(c.cPlant != 'f' ||
                    (stat(sOwnFifo.c_str(), &st) == 0 && st.st_ino == stPlanted.st_ino));
        EXPECT_TRUE(c.cAfter != 'h' || ZoltClient_I_HideFifo() == 0);
        if (c.cAfter != '-') {
            ASSERT_EQ(mkfifo(sOther.c_str(), 0600), 0);
            ASSERT_EQ(rename(sOther.c_str(), sOwnFifo.c_str()), 0);
            ASSERT_EQ(lstat(sOwnFifo.c_str(), &stPlanted), 0);
        }
        EXPECT_EQ(ZoltClient_I_CloseFifoConnection(), 0);
        EXPECT_EQ(g_hFifoRead + g_hDummyFifoWrites + g_hFifoWrite, 0);
        if (c.bGoneAfterClose) {
            EXPECT_NE(lstat(sOwnFifo.c_str(), &st), 0);
        } else {
            ASSERT_EQ(lstat(sOwnFifo.c_str(), &st), 0);
            EXPECT_EQ(st.st_ino, stPlanted.st_ino); /* the very file that stood there */
            EXPECT_EQ(st.st_mode, stPlanted.st_mode);
        }
        unlink(sOwnFifo.c_str());
        unlink(sOther.c_str());
    }
    close(hBroker);
}

TEST_F(Connection, PipeDirectoryAndFifoNames)
{
    char szCwd[4096];
    ASSERT_NE(getcwd(szCwd, sizeof szCwd), nullptr);
    /* nothing set: the working directory; relative names are joined to it */
    ASSERT_EQ(chdir(dir.sPath.c_str()), 0);
    EXPECT_EQ(ZoltSetPipeDirectory(NULL), 0);
    EXPECT_EQ(std::string(ZoltGetClientFifoName()),
              dir.sPath + "/ZOLT_" + std::to_string(ZoltGetClientPid()));
    ASSERT_EQ(mkdir((dir.sPath + "/fifos").c_str(), 0700), 0);
    std::string sUp = "../" + dir.sPath.substr(dir.sPath.rfind('/') + 1) + "/fifos";
    std::pair<std::string, std::string> aRelative[] = { { ".", "" },
                                                        { sUp, "/" + sUp },
                                                        { "./fifos", "/fifos" } };
    for (auto &r : aRelative) {
        EXPECT_EQ(ZoltSetPipeDirectory(r.first.c_str()), 0);
        EXPECT_EQ(std::string(ZoltGetPipeDirectory()), dir.sPath + r.second) << r.first;
    }
    ASSERT_EQ(chdir(szCwd), 0);
    /* ZOLT_TMP comes first while set; a directory that cannot be searched gives "" */
    setenv("ZOLT_TMP", "/tmp", 1);
    EXPECT_STREQ(ZoltGetPipeDirectory(), "/tmp");
    unsetenv("ZOLT_TMP");
    testing::internal::CaptureStderr();
    EXPECT_EQ(ZoltSetPipeDirectory((dir.sPath + "/missing").c_str()), 1);
    testing::internal::GetCapturedStderr();
    EXPECT_STREQ(ZoltGetPipeDirectory(), "");
}

}  // namespace
