/* client-fifo-guard.cpp - tests of the own FIFO's guard in forked children:
 * a signal held back while the FIFO is made, a signal once armed, a name
 * replaced or hidden before the signal, and an inherited ignored signal. */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "client-fifo-guard.h"
#include "common/test-peer.h"

namespace {

TEST(FifoGuard, SignalsRemoveOnlyTheVerifiedFifoAndEndTheProcess)
{
    struct {
        const char *szWhat;
        int iSignal;
        char cWhen;     /* 'p' raised before the arm, 'f' before a failed make, 'a' once armed */
        char cName;     /* '-' untouched, 'r' another FIFO renamed over it, 'h' removed, new one */
        bool bIgnored;  /* the signal was ignored before the guard began */
        int iEndSignal; /* what ends the child (0: it exits with 0) */
        bool bGuardedGone;
    } aCases[] = {
        { "held while made, acted on at the arm", SIGTERM, 'p', '-', false, SIGTERM, true },
        { "held while a make fails", SIGINT, 'f', '-', false, SIGINT, false },
        { "armed", SIGHUP, 'a', '-', false, SIGHUP, true },
        { "armed, name replaced", SIGTERM, 'a', 'r', false, SIGTERM, false },
        { "armed, removed and taken again", SIGINT, 'a', 'h', false, SIGINT, false },
        { "inherited as ignored", SIGHUP, 'a', '-', true, 0, false },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szWhat);
        zolttest::TempDir dir;
        std::string sFifo = dir.sPath + "/ZOLT_1", sOther = dir.sPath + "/other",
                    sReached = dir.sPath + "/reached";
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            signal(c.iSignal, c.bIgnored ? SIG_IGN : SIG_DFL);
            struct stat st;
            if (ZoltClient_I_GuardBegin(sFifo.c_str()) != 0)
                _exit(10);
            if (c.cWhen != 'a' && (raise(c.iSignal) != 0 || creat(sReached.c_str(), 0600) < 0))
                _exit(15); /* held back: the child goes on */
            if (c.cWhen == 'f') {
                ZoltClient_I_GuardEnd();
                _exit(11);
            }
            if (mkfifo(sFifo.c_str(), 0660) != 0 || lstat(sFifo.c_str(), &st) != 0)
                _exit(12);
            ZoltClient_I_GuardArm(st.st_dev, st.st_ino);
            if (c.cName == 'h' && ZoltClient_I_GuardRemove() != 0)
                _exit(13);
            if (c.cName != '-' &&
                (mkfifo(sOther.c_str(), 0660) != 0 || rename(sOther.c_str(), sFifo.c_str()) != 0))
                _exit(14);
            raise(c.iSignal);
            ZoltClient_I_GuardEnd();
            _exit(0);
        }
        int iStatus = 0;
        ASSERT_EQ(waitpid(pid, &iStatus, 0), pid);
        if (c.iEndSignal != 0) {
            ASSERT_TRUE(WIFSIGNALED(iStatus)) << WEXITSTATUS(iStatus);
            EXPECT_EQ(WTERMSIG(iStatus), c.iEndSignal);
        } else {
            ASSERT_TRUE(WIFEXITED(iStatus));
            EXPECT_EQ(WEXITSTATUS(iStatus), 0);
        }
        EXPECT_EQ(access(sFifo.c_str(), F_OK) != 0, c.bGuardedGone || c.cWhen == 'f');
        EXPECT_EQ(access(sReached.c_str(), F_OK) == 0, c.cWhen != 'a') << "not held back";
    }
}

}  // namespace
