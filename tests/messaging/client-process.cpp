/* client-process.cpp - tests of the client layer's process, clock and
 * working-directory utilities, which other programs of the framework use:
 * starting a program with its words, waiting for it, the exec error texts,
 * the time stamp and the working directory. */
#include <gtest/gtest.h>

#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "client-fifo-access.h"
#include "common/read-file.h"
#include "common/test-peer.h"
#include "zolt-time.h"

namespace {

/* The program gets the blank-separated words (an empty word between two
 * blanks, at most 19); it writes "<count>|<word>|..." to a file. */
TEST(ClientProcess, ExecPassesTheWordsOfItsText)
{
    zolttest::TempDir dir;
    ASSERT_FALSE(dir.sPath.empty());
    std::string sScript = dir.sPath + "/words.sh", sOut = dir.sPath + "/out";
    std::ofstream(sScript) << "#!/bin/sh\nprintf '%s|' \"$#\" \"$@\" > " << sOut << "\n";
    ASSERT_EQ(chmod(sScript.c_str(), 0700), 0);
    std::string s25, s19Out = "19|";
    for (int i = 1; i <= 25; i++) {
        s25 += "w" + std::to_string(i) + (i < 25 ? " " : "");
        if (i <= 19)
            s19Out += "w" + std::to_string(i) + "|";
    }
    struct {
        const char *szArgs;
        std::string sExpect;
    } aCases[] = {
        { "one two", "2|one|two|" }, { "   one  two", "3|one||two|" }, { "", "0|" }, { NULL, "0|" },
        { s25.c_str(), s19Out },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szArgs ? c.szArgs : "null");
        unlink(sOut.c_str());
        int iError = 0;
        long lPid = ZoltVerboseExec(sScript.c_str(), c.szArgs, &iError);
        ASSERT_GT(lPid, 0);
        int iStatus = -1;
        ASSERT_EQ(ZoltWaitPid((pid_t)lPid, &iStatus, 0), (pid_t)lPid);
        EXPECT_EQ(iStatus, 0); /* exited with 0 */
        EXPECT_EQ(iError, 0);
        EXPECT_EQ(zolttest::ReadFile(sOut), c.sExpect);
    }
}

/* A missing program and an over-long name are told apart; nothing starts. */
TEST(ClientProcess, ExecErrorsAndTheirTexts)
{
    std::string sLong = "/tmp/" + std::string(NAME_MAX + 1, 'x');
    struct {
        const char *szPath;
        int iError; /* 5: left alone */
        const char *szText;
    } aCases[] = {
        { "/nonexistent-zolt-dir/prog", -1, "Error executing p: Component Not Found\n" },
        { sLong.c_str(), -2, "Error executing p: Component Name is Too Long\n" },
        { NULL, 5, "" },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szPath ? c.szPath : "null");
        int iError = 5;
        EXPECT_EQ(ZoltVerboseExec(c.szPath, "a b", &iError), -1);
        EXPECT_EQ(iError, c.iError);
        EXPECT_EQ(ZoltExec(c.szPath, "a"), -1);
        testing::internal::CaptureStdout();
        ZoltPrintExecError("p", c.iError);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.szText);
    }
    testing::internal::CaptureStdout();
    ZoltPrintExecError("q", -3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error executing q: Component Timed Out\n");
}

/* ZoltClientTerminated answers 0 while the child runs, 1 once it has ended
 * (and reaps it, so a later wait finds no child). */
TEST(ClientProcess, TerminatedReportsAnEndedChildOnce)
{
    long lPid = ZoltExec("/bin/sleep", "60");
    ASSERT_GT(lPid, 0);
    EXPECT_EQ(ZoltClientTerminated(lPid), 0);
    ASSERT_EQ(kill((pid_t)lPid, SIGKILL), 0);
    int iEnded = 0;
    for (int i = 0; i < 3000 && !(iEnded = ZoltClientTerminated(lPid)); i++)
        usleep(10000);
    EXPECT_EQ(iEnded, 1);
    int iStatus = 0;
    EXPECT_EQ(ZoltWaitPid((pid_t)lPid, &iStatus, WNOHANG), -1);
}

/* The time stamp is the millisecond clock; the difference counts from it. */
TEST(ClientProcess, TimeStampAndDifference)
{
    uint32_t uBefore = ZoltMilliSeconds();
    unsigned long ulStamp = ZoltTimeStamp();
    EXPECT_LE((uint32_t)ulStamp - uBefore, 1000u);
    usleep(200000);
    unsigned long ulDiff = ZoltTimeDiff();
    EXPECT_GE(ulDiff, 200u);
    EXPECT_LT(ulDiff, 60000u);
    ZoltTimeStamp();
    EXPECT_LT(ZoltTimeDiff(), ulDiff);
}

/* Changing to a directory and reading it back; no buffer or one too small,
 * no directory. */
TEST(ClientProcess, WorkingDirectory)
{
    char szOld[PATH_MAX], szBuf[PATH_MAX], szReal[PATH_MAX];
    ASSERT_NE(getcwd(szOld, sizeof szOld), nullptr);
    zolttest::TempDir dir;
    ASSERT_NE(realpath(dir.sPath.c_str(), szReal), nullptr);
    EXPECT_EQ(ZoltChDir(dir.sPath.c_str()), 0);
    EXPECT_EQ(ZoltGetCwd(szBuf, sizeof szBuf), szBuf);
    EXPECT_STREQ(szBuf, szReal);
    EXPECT_EQ(ZoltGetCwd(NULL, (int)sizeof szBuf), nullptr);
    EXPECT_EQ(ZoltGetCwd(szBuf, 0), nullptr);
    EXPECT_EQ(ZoltGetCwd(szBuf, 2), nullptr); /* too small for the path */
    EXPECT_EQ(ZoltChDir("/nonexistent-zolt-dir"), -1);
    ASSERT_EQ(ZoltChDir(szOld), 0);
}

}  // namespace
