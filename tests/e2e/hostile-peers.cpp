/* hostile-peers.cpp - end to end: the real module, run by zoltpeers, while a
 * hostile peer writes into the module's own FIFO what no well-behaved peer
 * would. Each case checks the run's exit status and result, that the module's
 * waits stay idle (its CPU time from /proc/<pid>/stat, with generous bounds),
 * and that nothing of the module is left in the pipe directory. */
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/test-peer.h"
#include "e2e/peers-run.h"

using namespace e2e;
using namespace zolttest;

TEST(HostilePeers, ModuleHoldsUpAndStaysIdle)
{
    struct Case {
        const char *szWhat;
        HostileMode mode;
        std::vector<std::string> vWords;
        long lExit;           /* the module's exit status */
        const char *szResult; /* the run's result ("" when it has none) */
        double dCpuMax;       /* seconds of CPU the module may use */
        const char *szSent;   /* a packet the module must have sent (null: none) */
    } aCases[] = {
        /* the acknowledgement never comes; a whole message behind a piece
         * that is never finished is taken at once, and is no acknowledgement */
        { "dangling piece", HOSTILE_DANGLING_PIECE, { "--no-ack" }, 29, "", 1.0, nullptr },
        /* an acknowledgement (from the peer: zoltpeers sends none) behind
         * another sender's dangling piece counts at once: the module goes on
         * to register its strings (and, with no answers, ends with
         * SETUPERROR); two messages of the peer's own cross */
        { "interleaved pieces",
          HOSTILE_INTERLEAVED,
          { "--no-ack" },
          0,
          "SETUPERROR",
          1.0,
          "MSG:NLS_COMMAND" },
        /* 65,536 unsolicited messages come while the module waits 3 s for
         * its device list: the answer is found among them */
        { "flood", HOSTILE_FLOOD, { "--slow-devlist", "3000" }, 0, "PASS", 20.0, nullptr },
        /* messages holding a NUL byte arrive with the answers */
        { "NUL bytes", HOSTILE_NUL_STREAM, { "--slow-devlist", "500" }, 0, "PASS", 5.0, nullptr },
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.szWhat);
        TempDir base;
        ASSERT_FALSE(base.sPath.empty());
        HostilePeer peer = HostileStart(ZOLT_BIN "/zoltcpu.linux", base.sPath, c.mode);
        ASSERT_GT(peer.pid, 0);
        std::vector<std::string> vWords = { "--pipe-base", base.sPath };
        vWords.insert(vWords.end(), c.vWords.begin(), c.vWords.end());
        for (const char *sz : { "run", "--device", "0", "--test", "0" })
            vWords.push_back(sz);
        PeersRun r = RunPeers(vWords, 120000);
        std::string sRun = ResultOf(r, "run");
        HostileReport rep = HostileFinish(peer, (int)Num(sRun, "pid"));
        ASSERT_GT(rep.iPid, 0) << r.sAll.substr(0, 2000);
        EXPECT_EQ(Num(sRun, "exit_status"), c.lExit) << sRun;
        EXPECT_EQ(Num(sRun, "signal"), 0);
        EXPECT_EQ(Str(sRun, "result"), c.szResult) << r.sAll.substr(0, 4000);
        EXPECT_GE(rep.dCpuSeconds, 0.0);
        EXPECT_LE(rep.dCpuSeconds, c.dCpuMax);
        EXPECT_LT(rep.dEndAfterLastByte, 30.0); /* the module ends on its own */
        if (c.szSent != nullptr) {
            std::vector<std::string> vSent = PacketsFrom(r, rep.iPid);
            EXPECT_NE(std::find(vSent.begin(), vSent.end(), c.szSent), vSent.end()) << sRun;
        }
        /* nothing of the module is left in zoltpeers' pipe directory */
        int iPid = 0;
        EXPECT_EQ(FindModuleFifo(base.sPath, &iPid), "");
    }
}
