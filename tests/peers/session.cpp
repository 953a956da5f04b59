/* session.cpp - running a module program under zoltpeers (stand-ins from
 * /bin/sh): environment, output, status, start failures, the limit, cleanup,
 * and every frame it wrote before it ended taken, with or without STOP. */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "common/test-peer.h"
#include "message-protocol.h"
#include "pipe-lowlevel.h"
#include "session.h"

class PeersSessionTest : public ::testing::Test {
protected:
    PeersSession m_session;
    PeersOptions m_opt;

    void SetUp() override
    {
        PeersOptionsInit(&m_opt);
        m_opt.iModuleLimitMs = 30000;
    }
    void Open()
    {
        ASSERT_EQ(PeersSessionOpen(&m_session, &m_opt, "/bin/sh", "/nonexistent.ini", nullptr), 0);
        m_sDir = m_session.broker.sPipeDir;
    }
    std::string m_sDir;
    /* Runs /bin/sh -c szScript as the module. */
    int RunShell(PeersInvocation *pInv, const char *szScript)
    {
        PeersInvocationInit(pInv, "run");
        pInv->vArgv = { "/bin/sh", "-c", szScript };
        return PeersSessionRunModule(&m_session, pInv);
    }
};

TEST_F(PeersSessionTest, ModuleGetsThePipeDirectoryAndItsStatusIsKept)
{
    Open();
    struct stat st;
    ASSERT_EQ(stat((m_sDir + "/ZOLTFIFO").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);

    /* only what zoltpeers means to pass: no ZOLT_TMP (its FIFO would land
     * elsewhere), none of the descriptors zoltpeers inherited; standard error
     * joins the output, the exit status is kept */
    setenv("ZOLT_TMP", "/var/tmp", 1);
    ASSERT_EQ(dup2(2, 10), 10);
    ASSERT_EQ(dup2(2, 251), 251);
    PeersInvocation inv;
    EXPECT_EQ(RunShell(&inv, "env | grep ^ZOLT_; echo oops >&2; ls /proc/self/fd; exit 3"), 0);
    unsetenv("ZOLT_TMP");
    close(10);
    close(251);
    EXPECT_EQ(inv.iExitStatus, 3);
    EXPECT_FALSE(inv.bKilled || inv.bConnected);
    EXPECT_EQ(inv.sModuleOutput, "ZOLT_PATH=" + m_sDir + "\noops\n0\n1\n2\n3\n");

    /* a flood of output: 64 KiB kept, the rest dropped, nothing on disk */
    EXPECT_EQ(RunShell(&inv, "head -c 5000000 /dev/zero"), 0);
    EXPECT_EQ(inv.iExitStatus, 0);
    EXPECT_EQ(inv.sModuleOutput.size(), 65536u + 54u);
    EXPECT_NE(inv.sModuleOutput.find("further output was dropped"), std::string::npos);
    PeersSessionClose(&m_session);
}

TEST_F(PeersSessionTest, TheModulesProcessGroupIsWhatEnds)
{
    m_opt.iModuleLimitMs = 1000;
    Open();
    /* a forking wrapper's leftovers go when it ends, or when its time is up */
    for (const char *szScript : { "sleep 600 & echo $!", "sleep 600 & echo $!; wait" }) {
        PeersInvocation inv;
        RunShell(&inv, szScript);
        long lLeft = strtol(inv.sModuleOutput.c_str(), nullptr, 10);
        ASSERT_GT(lLeft, 0) << inv.sModuleOutput;
        std::string sState = "?"; /* gone, or a zombie left to init */
        for (int i = 0; i < 100 && sState.find('Z') == std::string::npos; i++) {
            std::ifstream in("/proc/" + std::to_string(lLeft) + "/stat");
            sState = std::getline(in, sState) ? sState.substr(sState.rfind(')')) : ") Z";
            usleep(i ? 20000 : 0);
        }
        EXPECT_EQ(sState.substr(0, 3), ") Z") << szScript;
    }
    PeersSessionClose(&m_session);
}

TEST_F(PeersSessionTest, ProgramsThatCannotStartOrDoNotEnd)
{
    m_opt.iModuleLimitMs = 300;
    Open();
    PeersInvocation inv;
    PeersInvocationInit(&inv, "run");
    inv.vArgv = { "/nonexistent/zoltcpu.linux", "run" };
    EXPECT_EQ(PeersSessionRunModule(&m_session, &inv), 1);
    EXPECT_TRUE(inv.bStartFailed);
    EXPECT_NE(inv.sModuleOutput.find("cannot start /nonexistent/zoltcpu.linux"), std::string::npos);

    /* outlives its limit: killed, and the report says so */
    EXPECT_EQ(RunShell(&inv, "while :; do :; done"), 2);
    EXPECT_TRUE(inv.bKilled && inv.iSignal == SIGKILL);
    EXPECT_GE(inv.ullEndMs - inv.ullStartMs, 300u);

    /* a file the module left in the pipe directory goes with it */
    EXPECT_EQ(RunShell(&inv, "touch \"$ZOLT_PATH/ZOLT_1234\""), 0);
    PeersSessionClose(&m_session);
    struct stat st;
    EXPECT_NE(stat(m_sDir.c_str(), &st), 0) << "pipe directory left behind";
}

TEST_F(PeersSessionTest, WhatTheModuleWroteLastIsTaken)
{
    Open();
    const std::string sMsg =
        std::string("<MSG><HDR><TO>") + ZOLT_TO_MESSAGEBROKER +
        "</TO><FROM>424242</FROM><TYPE>NOTE</TYPE></HDR><DATA></DATA></MSG>\r\n";
    /* frames as a module's transport puts them onto the FIFO */
    std::ofstream(m_sDir + "/msg1") << zolttest::MakeFrames(sMsg, 0x7F000001u, 424242);
    std::ofstream(m_sDir + "/msg2") << zolttest::MakeFrames(sMsg, 0x7F000002u, 424242);
    std::ofstream(m_sDir + "/stop")
        << zolttest::MakeFrames("<STOP><PID>424242</PID></STOP>\r\n", 0x7F000003u, 424242);
    /* each copies its frames onto the FIFO and ends at once */
    struct Case {
        const char *szScript;
        int iPackets, iStops, iExit, iSignal;
    } aCases[] = {
        { "cd \"$ZOLT_PATH\" && cat msg1 msg2 stop > ZOLTFIFO; exit 0", 3, 1, 0, 0 },
        { "cd \"$ZOLT_PATH\" && cat msg1 > ZOLTFIFO && cat msg2 stop > ZOLTFIFO", 3, 1, 0, 0 },
        { "cd \"$ZOLT_PATH\" && cat msg1 msg2 > ZOLTFIFO; exit 4", 2, 0, 4, 0 },
        { "cd \"$ZOLT_PATH\" && cat msg1 msg2 > ZOLTFIFO; kill -KILL $$", 2, 0, -1, SIGKILL },
    };
    for (int bNoPidFd = 0; bNoPidFd <= 1; bNoPidFd++) {
        g_bPeersNoPidFd = bNoPidFd;
        for (const Case &c : aCases) {
            SCOPED_TRACE(std::string(c.szScript) + (bNoPidFd ? " (no process descriptor)" : ""));
            int iInBefore = m_session.broker.iPacketsIn, iStopsBefore = m_session.broker.iStops;
            PeersInvocation inv;
            EXPECT_EQ(RunShell(&inv, c.szScript), 0);
            EXPECT_EQ(m_session.broker.iPacketsIn - iInBefore, c.iPackets);
            EXPECT_EQ(m_session.broker.iStops - iStopsBefore, c.iStops);
            EXPECT_EQ(std::to_string(inv.iExitStatus) + "/" + std::to_string(inv.iSignal),
                      std::to_string(c.iExit) + "/" + std::to_string(c.iSignal));
            EXPECT_EQ(ZoltPipeReadQueCount(), 0) << "a frame was left in the read queue";
        }
    }
    g_bPeersNoPidFd = 0;
    PeersSessionClose(&m_session);
}
