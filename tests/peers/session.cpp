/* session.cpp - tests of running a module program under zoltpeers: the
 * environment and output it gets, its exit status, a program that cannot be
 * started, one that outlives its limit (killed, said so), and that the private
 * pipe directory is gone afterwards. Stand-in programs come from /bin/sh. */
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "report.h"
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
    }
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
    std::string sDir = m_session.broker.sPipeDir;
    struct stat st;
    ASSERT_EQ(stat((sDir + "/ZOLTFIFO").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0660u);

    PeersInvocation inv;
    EXPECT_EQ(RunShell(&inv, "echo \"$ZOLT_PATH\"; echo oops >&2; exit 3"), 0);
    EXPECT_EQ(inv.iExitStatus, 3);
    EXPECT_EQ(inv.iSignal, 0);
    EXPECT_FALSE(inv.bKilled);
    EXPECT_FALSE(inv.bConnected);
    EXPECT_EQ(inv.sModuleOutput, sDir + "\noops\n");

    PeersSessionClose(&m_session);
    EXPECT_NE(stat(sDir.c_str(), &st), 0) << "pipe directory left behind";
}

TEST_F(PeersSessionTest, ProgramsThatCannotStartOrDoNotEnd)
{
    m_opt.iModuleLimitMs = 300;
    Open();
    std::string sDir = m_session.broker.sPipeDir;
    PeersInvocation inv;
    PeersInvocationInit(&inv, "run");
    inv.vArgv = { "/nonexistent/zoltcpu.linux", "run" };
    EXPECT_EQ(PeersSessionRunModule(&m_session, &inv), 1);
    EXPECT_TRUE(inv.bStartFailed);
    EXPECT_NE(inv.sModuleOutput.find("cannot start /nonexistent/zoltcpu.linux"), std::string::npos);

    /* outlives its limit: killed, and the report says so */
    EXPECT_EQ(RunShell(&inv, "while :; do :; done"), 2);
    EXPECT_TRUE(inv.bKilled);
    EXPECT_EQ(inv.iSignal, SIGKILL);
    EXPECT_GE(inv.ullEndMs - inv.ullStartMs, 300u);
    EXPECT_NE(PeersResultHint(inv).find("killed"), std::string::npos);

    /* a file the module left in the pipe directory goes with it */
    EXPECT_EQ(RunShell(&inv, "touch \"$ZOLT_PATH/ZOLT_1234\""), 0);
    PeersSessionClose(&m_session);
    struct stat st;
    EXPECT_NE(stat(sDir.c_str(), &st), 0);
}
