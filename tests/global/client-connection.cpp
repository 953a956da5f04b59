/* client-connection.cpp - tests of the broker connection: pipe directory and
 * FIFO names, every open result code, the STARTUP and STOP packets, the own
 * FIFO hidden after the acknowledgement, a broker that goes away, and the
 * process utilities. A scripted broker runs in a forked child over real FIFOs
 * in a temporary directory. */
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <string>

#include "client-connection-manager.h"
#include "client-messaging-engine.h"
#include "global/client-test-peer.h"
#include "message-protocol.h"
#include "pipe-lowlevel.h"

namespace {

using zolttest::Field;
using zolttest::PathExists;

/* What the forked broker does; its exit status tells the test what it saw. */
struct BrokerScript {
    std::string sExpectStartup;  /* exact STARTUP text ("" = not checked) */
    std::string sReply;          /* first packet on the module's FIFO ("" = stay silent) */
    bool bExpectStop = false;    /* the module must close with STOP */
    bool bExitAfterReply = false;
};

enum BrokerStatus {
    BROKER_OK = 0,
    BROKER_NO_STARTUP = 10,
    BROKER_BAD_STARTUP = 11,
    BROKER_CANNOT_OPEN_READ = 12,
    BROKER_BAD_REGMOD = 14,
    BROKER_TIMEOUT = 15,
    BROKER_NO_STOP = 16,
    BROKER_BAD_STOP = 17,
    BROKER_UNEXPECTED_STOP = 18,
    BROKER_SECOND_STARTUP = 20,
    BROKER_AFTER_STOP = 21,
};

/* The broker's side: read STARTUP, answer on the FIFO it names, then serve
 * NLS_REGMOD and "ping" requests until end of file. Runs in the child. */
int RunBroker(int hIn, const BrokerScript &sc, long lModulePid)
{
    zolttest::FrameReader r;
    std::string s;
    if (r.Read(hIn, 10000, &s) != 1)
        return BROKER_NO_STARTUP;
    if (!sc.sExpectStartup.empty() && s != sc.sExpectStartup)
        return BROKER_BAD_STARTUP;
    int hOut = -1;
    unsigned long ulMsgNo = 1;
    if (!sc.sReply.empty()) {
        hOut = open(Field(s, "READ").c_str(), O_WRONLY);
        if (hOut < 0)
            return BROKER_CANNOT_OPEN_READ;
        zolttest::WriteAll(hOut, zolttest::MakeFrames(sc.sReply, ulMsgNo++, (int)getpid()));
        if (sc.bExitAfterReply)
            return BROKER_OK;
    }
    bool bStop = false;
    std::string sPid = std::to_string(lModulePid);
    for (;;) {
        int iRc = r.Read(hIn, 10000, &s);
        if (iRc == 0)
            return BROKER_TIMEOUT;
        if (iRc < 0)
            break;                              /* the module closed the FIFO */
        if (bStop)
            return BROKER_AFTER_STOP;
        if (s.compare(0, 9, "<STARTUP>") == 0)
            return BROKER_SECOND_STARTUP;
        if (s.compare(0, 6, "<STOP>") == 0) {
            if (s != "<STOP><PID>" + sPid + "</PID></STOP>\r\n")
                return BROKER_BAD_STOP;
            bStop = true;
            continue;
        }
        std::string sData = Field(s, "DATA");
        std::string sAnswer;
        if (sData.compare(0, 11, "NLS_REGMOD:") == 0) {
            if (sData != "NLS_REGMOD:" + sPid + ":zoltcpu.ini" || Field(s, "TO") != "NLSENGINE")
                return BROKER_BAD_REGMOD;
            sAnswer = "registered";
        } else if (sData == "ping") {
            sAnswer = "pong";
        } else {
            continue;
        }
        zolttest::WriteAll(hOut, zolttest::MakeFrames(
            zolttest::MakeMsg("1", "TRANSACTION_RESPONSE", sAnswer, Field(s, "ID")), ulMsgNo++, (int)getpid()));
    }
    if (sc.bExpectStop && !bStop)
        return BROKER_NO_STOP;
    if (!sc.bExpectStop && bStop)
        return BROKER_UNEXPECTED_STOP;
    return BROKER_OK;
}

/* A temporary pipe directory with the broker FIFO in it; the transport is
 * set up and torn down around each test. */
class Connection : public ::testing::Test {
protected:
    zolttest::TempDir dir;
    std::string sBrokerFifo;
    std::string sOwnFifo;
    pid_t brokerPid = -1;

    void SetUp() override
    {
        unsetenv("ZOLT_TMP");
        ASSERT_FALSE(dir.sPath.empty());
        ASSERT_EQ(ZoltSetPipeDirectory(dir.sPath.c_str()), 0);
        ZoltSetServerFifoNameEx("");
        sBrokerFifo = dir.sPath + "/ZOLTFIFO";
        sOwnFifo = dir.sPath + "/ZOLT_" + std::to_string(ZoltGetClientPid());
        ZoltInitPipes();
    }

    void TearDown() override
    {
        while (g_iConnectionCount > 0)
            ZoltClientCloseConnection();
        ZoltStopReadWriteThread();
        ZoltCleanupPipes();
        if (brokerPid > 0) {
            kill(brokerPid, SIGKILL);
            waitpid(brokerPid, NULL, 0);
        }
    }

    /* Starts the scripted broker: its FIFO is open for reading before the
     * fork, so the module's open never races it. */
    void StartBroker(const BrokerScript &sc)
    {
        ASSERT_EQ(mkfifo(sBrokerFifo.c_str(), 0600), 0);
        int h = open(sBrokerFifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(h, 0);
        long lPid = ZoltGetClientPid();
        brokerPid = fork();
        ASSERT_GE(brokerPid, 0);
        if (brokerPid == 0)
            _exit(RunBroker(h, sc, lPid));
        close(h);
        ASSERT_EQ(ZoltInitReadWriteThread(), 0);
    }

    /* The broker's exit status (it must have ended by itself). */
    int BrokerStatus()
    {
        int iStatus = 0;
        if (waitpid(brokerPid, &iStatus, 0) != brokerPid)
            return -1;
        brokerPid = -1;
        return WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -2;
    }

    std::string Startup(const char *szName, const char *szNls, const char *szClass, const char *szExe)
    {
        return "<STARTUP><READ>" + sOwnFifo + "</READ><PID>" + std::to_string(ZoltGetClientPid()) +
               "</PID><NAME>" + szName + "</NAME><NLSDATA>" + szNls + "</NLSDATA><CLASS>" + szClass +
               "</CLASS><EXE_FILENAME>" + szExe + "</EXE_FILENAME></STARTUP>\r\n";
    }

    void ExpectNothingLeft(const char *szCase)
    {
        EXPECT_FALSE(PathExists(sOwnFifo)) << szCase;
        EXPECT_EQ(g_hFifoRead, 0) << szCase;
        EXPECT_EQ(g_hDummyFifoWrites, 0) << szCase;
        EXPECT_EQ(g_hFifoWrite, 0) << szCase;
        EXPECT_EQ(g_iConnectionCount, 0) << szCase;
    }
};

TEST_F(Connection, HandshakeOutcomes)
{
    struct Case {
        const char *szName;
        std::string sReply;
        bool bWorker;     /* call the worker, which tells the ENUM_COMPLETE form apart */
        int iExpect;
    } aCases[] = {
        {"plain ACK", "<ACK></ACK>\r\n", false, 0},
        {"ENUM_COMPLETE ACK", "<ACK>ENUM_COMPLETE</ACK>\r\n", false, 0},
        {"ENUM_COMPLETE ACK, worker", "<ACK>ENUM_COMPLETE</ACK>\r\n", true, 40},
        {"a MSG first", zolttest::MakeMsg("1", "DE_COMMAND", "x"), false, 31},
        {"no answer", "", false, 30},
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szName);
        BrokerScript sc;
        sc.sExpectStartup = Startup("Example", "", "DIAGMODULE", "zoltcpu.linux");
        sc.sReply = c.sReply;
        sc.bExpectStop = c.iExpect == 0 || c.iExpect == 40;
        StartBroker(sc);
        /* Only the silent broker is waited for to the end: that need not take 10 s. */
        g_iAckTimeoutMs = c.sReply.empty() ? 200 : ZOLT_ACK_TIMEOUT_MS;
        int iRc = c.bWorker
            ? ZoltClient_I_OpenConnectionEx(0, "Example", "DIAGMODULE", NULL, "/opt/diag/zoltcpu.linux")
            : ZoltClientOpenConnectionEx("Example", "DIAGMODULE", NULL, "/opt/diag/zoltcpu.linux");
        g_iAckTimeoutMs = ZOLT_ACK_TIMEOUT_MS;
        EXPECT_EQ(iRc, c.iExpect);
        if (sc.bExpectStop) {
            EXPECT_FALSE(PathExists(sOwnFifo));   /* hidden, yet still open */
            EXPECT_GT(g_hFifoRead, 0);
            EXPECT_EQ(g_iConnectionCount, 1);
            EXPECT_EQ(ZoltClientCloseConnection(), 0);
        }
        ExpectNothingLeft(c.szName);
        EXPECT_EQ(BrokerStatus(), BROKER_OK);
        ZoltStopReadWriteThread();
        unlink(sBrokerFifo.c_str());
    }
}

TEST_F(Connection, LiveConnectionCarriesMessagesAndClosesWithStop)
{
    BrokerScript sc;
    sc.sExpectStartup = Startup("Example", "/opt/x/zoltcpu.ini", "DIAGMODULE", "");
    sc.sReply = "<ACK></ACK>\r\n";
    sc.bExpectStop = true;
    StartBroker(sc);
    /* The language-string file is registered during the open (answered). */
    ASSERT_EQ(ZoltClientOpenConnectionEx("Example", "DIAGMODULE", "/opt/x/zoltcpu.ini", ""), 0);
    EXPECT_FALSE(PathExists(sOwnFifo));
    char szName[300];
    EXPECT_EQ(ZoltClient_I_GetReadPipeName(szName, sizeof szName), 0);
    EXPECT_EQ(std::string(szName), sOwnFifo);

    /* The broker still reaches the hidden FIFO. */
    CGenStr s;
    ASSERT_TRUE(CGenStrInit(&s));
    ASSERT_EQ(ZoltClientCreateDiagnosticEngineCommandStr("ping", NULL, &s), 0);
    EXPECT_EQ(ZoltClientSendTransactionStr(CGenStrC_Str(&s), &s, 5000, 0), 0);
    EXPECT_EQ(Field(CGenStrC_Str(&s), "DATA"), "pong");
    CGenStrDelete(&s);
    EXPECT_EQ(ZoltClientGetWriteErrorCount(), 0);

    /* A second open shares the connection (no second STARTUP), a third is refused. */
    EXPECT_EQ(ZoltClientOpenConnection(), 0);
    EXPECT_EQ(g_iConnectionCount, 2);
    EXPECT_EQ(ZoltClientOpenConnection(), 1);
    EXPECT_EQ(g_iConnectionCount, 2);
    EXPECT_EQ(ZoltClientCloseConnection(), 0);
    EXPECT_GT(g_hFifoWrite, 0);
    EXPECT_EQ(ZoltClientCloseConnection(), 0);   /* now STOP goes out */
    ExpectNothingLeft("closed");
    EXPECT_EQ(BrokerStatus(), BROKER_OK);
    EXPECT_EQ(ZoltClientSendMessage("<MSG></MSG>\r\n"), 1);
}

TEST_F(Connection, BrokerThatHasGoneMakesSendsFail)
{
    BrokerScript sc;
    sc.sReply = "<ACK></ACK>\r\n";
    sc.bExitAfterReply = true;
    StartBroker(sc);
    ASSERT_EQ(ZoltClientOpenConnection(), 0);
    ASSERT_EQ(BrokerStatus(), BROKER_OK);
    int iErrors = ZoltClientGetWriteErrorCount();
    EXPECT_EQ(ZoltClientSendMessage("<MSG><DATA>1</DATA></MSG>\r\n"), 1);   /* broken pipe */
    EXPECT_EQ(g_hFifoWrite, 0);                                              /* closed by it */
    EXPECT_EQ(ZoltClientSendMessage("<MSG><DATA>2</DATA></MSG>\r\n"), 1);   /* FIFO closed */
    EXPECT_EQ(ZoltClientGetWriteErrorCount(), iErrors + 2);
    /* Opening again drops the dead ends first; with no broker that gives 11. */
    EXPECT_EQ(ZoltClientOpenConnection(), 11);
    EXPECT_EQ(g_hFifoRead + g_hDummyFifoWrites + g_hFifoWrite, 0);
    EXPECT_FALSE(PathExists(sOwnFifo));
    EXPECT_EQ(g_iConnectionCount, 1);
    EXPECT_EQ(ZoltClientCloseConnection(), 0);
    ExpectNothingLeft("after close");
}

TEST_F(Connection, FailedOpensLeaveNothingBehind)
{
    std::string sLong(70, 'n');
    std::string sLongPath = "/opt/" + std::string(300, 'p');
    std::string sLongExe = "/bin/" + std::string(4250, 'e');
    std::string sDeepDir = dir.sPath + "/" + std::string(200, 'a') + "/" + std::string(100, 'b');
    struct Case {
        const char *szName;
        bool bBrokerFifo, bBrokerReads, bBlockOwnFifo, bDeepPipeDir;
        const char *szModule, *szClass, *szNls, *szExe;
        int iExpect;
    } aCases[] = {
        {"no broker FIFO", false, false, false, false, "m", "NORMAL", "", "", 11},
        {"nobody reads the broker FIFO", true, false, false, false, "m", "NORMAL", "", "", 11},
        {"own FIFO name taken by a directory", true, true, true, false, "m", "NORMAL", "", "", 12},
        /* refused rather than cut to 255 characters, which would name another file */
        {"own FIFO path too long", true, true, false, true, "m", "NORMAL", "", "", 12},
        {"NAME does not fit", true, true, false, false, sLong.c_str(), "NORMAL", "", "", 23},
        {"NLSDATA does not fit", true, true, false, false, "m", "NORMAL", sLongPath.c_str(), "", 24},
        {"CLASS does not fit", true, true, false, false, "m", sLong.c_str(), "", "", 25},
        {"EXE_FILENAME does not fit", true, true, false, false, "m", "NORMAL", "", sLongExe.c_str(), 26},
    };
    g_iAckTimeoutMs = 200;   /* a case that wrongly gets as far as the wait ends soon */
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szName);
        int hBroker = -1;
        if (c.bBrokerFifo) {
            ASSERT_EQ(mkfifo(sBrokerFifo.c_str(), 0600), 0);
            if (c.bBrokerReads)
                hBroker = open(sBrokerFifo.c_str(), O_RDONLY | O_NONBLOCK);
        }
        std::string sOwn = sOwnFifo;
        if (c.bDeepPipeDir) {
            ASSERT_EQ(mkdir(sDeepDir.substr(0, sDeepDir.rfind('/')).c_str(), 0700), 0);
            ASSERT_EQ(mkdir(sDeepDir.c_str(), 0700), 0);
            ASSERT_EQ(ZoltSetPipeDirectory(sDeepDir.c_str()), 0);
            ZoltSetServerFifoNameEx(sBrokerFifo.c_str());
            sOwn = sDeepDir + "/ZOLT_" + std::to_string(ZoltGetClientPid());
        }
        if (c.bBlockOwnFifo) {
            ASSERT_EQ(mkdir(sOwn.c_str(), 0700), 0);
        }

        EXPECT_EQ(ZoltClientOpenConnectionEx(c.szModule, c.szClass, c.szNls, c.szExe), c.iExpect);
        EXPECT_EQ(g_hFifoRead + g_hDummyFifoWrites + g_hFifoWrite + g_iConnectionCount, 0);
        if (c.bBlockOwnFifo) {
            EXPECT_EQ(rmdir(sOwn.c_str()), 0);   /* the directory is not taken for a FIFO */
        }
        EXPECT_FALSE(PathExists(sOwn));
        EXPECT_FALSE(PathExists(sOwn.substr(0, 255)));   /* nor a FIFO at a cut name */
        if (hBroker >= 0) {
            /* Nothing was sent, and no writer is left: end of file at once. */
            char c1;
            EXPECT_EQ(read(hBroker, &c1, 1), 0);
            close(hBroker);
        }
        unlink(sBrokerFifo.c_str());
        ASSERT_EQ(ZoltSetPipeDirectory(dir.sPath.c_str()), 0);
        ZoltSetServerFifoNameEx("");
    }
    g_iAckTimeoutMs = ZOLT_ACK_TIMEOUT_MS;
    /* A broker FIFO name longer than 255 characters is refused too. */
    ZoltSetServerFifoNameEx(("/tmp/" + std::string(260, 'f')).c_str());
    EXPECT_EQ(ZoltClientOpenConnection(), 11);
    ZoltSetServerFifoNameEx("");
}

TEST_F(Connection, PipeDirectoryAndFifoNames)
{
    std::string sPid = std::to_string(ZoltGetClientPid());
    std::string sMissing = dir.sPath + "/missing";
    char szCwd[4096];
    ASSERT_NE(getcwd(szCwd, sizeof szCwd), nullptr);

    /* Nothing set: the working directory. */
    ASSERT_EQ(chdir(dir.sPath.c_str()), 0);
    EXPECT_EQ(ZoltSetPipeDirectory(NULL), 0);
    EXPECT_EQ(std::string(ZoltGetPipeDirectory()), dir.sPath);
    EXPECT_EQ(std::string(ZoltGetClientFifoName()), dir.sPath + "/ZOLT_" + sPid);
    ZoltSetServerFifoNameEx(NULL);
    EXPECT_EQ(std::string(ZoltGetServerFifoName()), dir.sPath + "/ZOLTFIFO");

    /* Relative to the working directory. */
    ASSERT_EQ(mkdir((dir.sPath + "/fifos").c_str(), 0700), 0);
    EXPECT_EQ(ZoltSetPipeDirectory("./fifos"), 0);
    EXPECT_EQ(std::string(ZoltGetPipeDirectory()), dir.sPath + "/fifos");
    EXPECT_EQ(ZoltSetPipeDirectory("."), 0);
    EXPECT_EQ(std::string(ZoltGetPipeDirectory()), dir.sPath);
    std::string sUp = "../" + dir.sPath.substr(dir.sPath.rfind('/') + 1) + "/fifos";
    EXPECT_EQ(ZoltSetPipeDirectory(sUp.c_str()), 0);
    EXPECT_EQ(std::string(ZoltGetPipeDirectory()), dir.sPath + "/" + sUp);
    EXPECT_EQ(ZoltSetPipeDirectory("./fifos"), 0);
    ASSERT_EQ(chdir(szCwd), 0);

    /* ZOLT_TMP comes first while it is set; a missing one empties the directory. */
    setenv("ZOLT_TMP", "/tmp", 1);
    EXPECT_STREQ(ZoltGetPipeDirectory(), "/tmp");
    setenv("ZOLT_TMP", sMissing.c_str(), 1);
    testing::internal::CaptureStderr();
    EXPECT_STREQ(ZoltGetPipeDirectory(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "*****************\nCannot Acces " + sMissing + "\n****************\n");
    EXPECT_EQ(std::string(ZoltGetClientFifoName()), "/ZOLT_" + sPid);
    unsetenv("ZOLT_TMP");
    EXPECT_EQ(std::string(ZoltGetPipeDirectory()), dir.sPath + "/fifos");

    /* A set directory that cannot be searched stays empty. */
    testing::internal::CaptureStderr();
    EXPECT_EQ(ZoltSetPipeDirectory(sMissing.c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "*****************\nCannot Access " + sMissing + "\n****************\n");
    EXPECT_STREQ(ZoltGetPipeDirectory(), "");
    ZoltSetServerFifoNameEx("");
    EXPECT_STREQ(ZoltGetServerFifoName(), "/ZOLTFIFO");

    /* Broker FIFO names. */
    ASSERT_EQ(ZoltSetPipeDirectory(dir.sPath.c_str()), 0);
    ZoltSetServerFifoName(812);
    EXPECT_EQ(std::string(ZoltGetServerFifoName()), dir.sPath + "/ZOLTFIFO_812");
    ZoltSetServerFifoName(0);
    EXPECT_EQ(std::string(ZoltGetServerFifoName()), dir.sPath + "/ZOLTFIFO_" + sPid);
    ZoltSetServerFifoNameEx("/run/broker.fifo");
    EXPECT_STREQ(ZoltGetServerFifoName(), "/run/broker.fifo");

    /* The program directory needs its zolt2000 subdirectory. */
    testing::internal::CaptureStderr();
    EXPECT_EQ(ZoltSetBinDirectory(dir.sPath.c_str()), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "*****************\nCannot Acces zolt2000 in " + dir.sPath + "\n****************\n");
    EXPECT_STREQ(ZoltGetBinDirectory(), "");
    ASSERT_EQ(mkdir((dir.sPath + "/zolt2000").c_str(), 0700), 0);
    EXPECT_EQ(ZoltSetBinDirectory(dir.sPath.c_str()), 0);
    EXPECT_EQ(std::string(ZoltGetBinDirectory()), dir.sPath);
}

TEST(ClientLanguage, KeepsTwoCharactersOrNone)
{
    struct { const char *szSet, *szExpect; } aCases[] = {
        {"DEU", "DE"}, {"EN", "EN"}, {"F", "F"}, {NULL, NULL}, {"", NULL},
    };
    for (auto &c : aCases) {
        ZoltClientSendMessageSetLanguage(c.szSet);
        const char *szGot = ZoltClientSendMessageGetLanguage();
        if (c.szExpect == NULL) {
            EXPECT_EQ(szGot, nullptr) << (c.szSet ? c.szSet : "null");
        } else {
            EXPECT_STREQ(szGot, c.szExpect);
        }
    }
}

TEST(ClientProcess, ExecReportsMissingProgramsAndStartsOthers)
{
    struct { std::string sPath; long lExpectRc; int iExpectError; } aCases[] = {
        {"/nonexistent/program", -1, -1},
        {"/tmp/" + std::string(5000, 'x'), -1, -2},
    };
    for (auto &c : aCases) {
        int iError = 0;
        EXPECT_EQ(ZoltVerboseExec(c.sPath.c_str(), "a b", &iError), c.lExpectRc);
        EXPECT_EQ(iError, c.iExpectError);
    }
    /* "a  b" gives the words a, "" and b: the script exits with their count. */
    zolttest::TempDir dir;
    std::string sScript = dir.sPath + "/count-args";
    FILE *f = fopen(sScript.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("#!/bin/sh\nexit $#\n", f);
    fclose(f);
    ASSERT_EQ(chmod(sScript.c_str(), 0700), 0);
    long lPid = ZoltExec(sScript.c_str(), "  a  b");
    ASSERT_GT(lPid, 0);
    int iStatus = 0;
    ASSERT_EQ(ZoltWaitPid((pid_t)lPid, &iStatus, 0), (pid_t)lPid);
    ASSERT_TRUE(WIFEXITED(iStatus));
    EXPECT_EQ(WEXITSTATUS(iStatus), 3);
}

} // namespace
