/* misbehaving-peers.cpp - end to end: the real module against peers that break
 * the rules (zoltpeers' switches, a hostile peer writing into the module's
 * FIFO, or no broker): its exit status, what it still sent and reported; none
 * may leave a FIFO behind, spin, hang, or die by a signal. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/test-peer.h"
#include "e2e/peers-run.h"

using namespace e2e;
using namespace zolttest;

static const std::string s_sIni = ZOLT_BIN "/zoltcpu.ini";

namespace {

/* What process lPid sent, blank-separated: the kind of each packet, a MSG by
 * its TYPE; a run of n equal ones as "TYPE*n". */
std::string Sent(const PeersRun &r, long lPid)
{
    std::vector<std::string> v = PacketsFrom(r, lPid);
    std::string s;
    for (size_t i = 0, n = 1; i < v.size(); i += n) {
        for (n = 1; i + n < v.size() && v[i + n] == v[i];)
            n++;
        s += (s.empty() ? "" : " ") + v[i].substr(v[i].compare(0, 4, "MSG:") == 0 ? 4 : 0) +
             (n > 1 ? "*" + std::to_string(n) : "");
    }
    return s;
}

/* The ids of the tags the run's events carry as texts, blank-separated. */
std::string TextIds(const std::string &sRun)
{
    std::string s;
    for (const std::string &sText : All(sRun, "text")) {
        size_t u = sText.find(" id=") + 4;
        s += (s.empty() ? "" : " ") + sText.substr(u, sText.find(' ', u) - u);
    }
    return s;
}

}  // namespace

/* Without a broker the module ends with 29 before it prints anything, and
 * leaves nothing in its pipe and working directory (a broker FIFO nobody
 * reads: hostile-paths). */
TEST(MisbehavingPeers, NoBrokerEndsEveryModeWith29AndLeavesNoFifo)
{
    for (const std::string &sWords :
         { "run device=0 test=0 deffile=" + s_sIni, "enumerate deffile=" + s_sIni,
           "sysinfo zoltpeers 1 CPU:0 " + s_sIni + " zoltcpu" }) {
        SCOPED_TRACE(sWords);
        TempDir dir;
        ChildRun r = RunChild(Words(ZOLT_BIN "/zoltcpu.linux " + sWords),
                              { "ZOLT_PATH=" + dir.sPath, "ZOLT_TMP=" }, dir.sPath.c_str(), true);
        EXPECT_EQ(r.iSignal, 0);
        EXPECT_EQ(r.iExit, 29);
        EXPECT_EQ(r.sOut, ""); /* it gave up before the enumeration banner or anything else */
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{});
    }
}

/* zoltpeers' switches make its peers misbehave, and a hostile peer may write
 * into the module's FIFO what no well-behaved peer would: the module ends by
 * itself (no signal, not killed, its waits idle) with its status, result,
 * percents, texts and what it sent up to then, and nothing of it is left in
 * zoltpeers' pipe directory. */
TEST(MisbehavingPeers, ModuleCopesWithPeersThatBreakTheRules)
{
    const char *szInfos = "szInfo1 szInfo2 szInfo3 szInfo4";
    const std::string sRun = " run --device 0 --test 0";
    const char *szPass =
        "STARTUP NLS_COMMAND ZOLTPEERS_RUN_2 DE_COMMAND NLS_COMMAND DE_EVENT*8 DE_NOTIFY*2 STOP";
    struct Case {
        std::string sWords; /* zoltpeers' words after --pipe-base (--limit 60000 unless given) */
        int iHostile;       /* the HostileMode of a hostile peer (-1: none) */
        double dCpuMax;     /* seconds of CPU the module may use (seen by the hostile peer) */
        long lStatus;       /* the module's exit status */
        const char *szResult, *szPercents, *szTexts;
        int iExit;          /* zoltpeers' */
        const char *szSent; /* the packets the module sent (see Sent) */
    } aCases[] = {
        /* a packet that is no ACK, or none in 10 s: the module gives up
         * after STARTUP */
        { "--garbage-ack" + sRun, -1, 0, 29, "", "", "", 2, "STARTUP" },
        { "--no-ack" + sRun, -1, 0, 29, "", "", "", 2, "STARTUP" },
        /* the acknowledgement never comes; a whole message behind a piece
         * that is never finished is taken at once, and is no acknowledgement */
        { "--no-ack" + sRun, HOSTILE_DANGLING_PIECE, 1.0, 29, "", "", "", 2, "STARTUP" },
        /* an acknowledgement (from the hostile peer: zoltpeers sends none)
         * behind another sender's dangling piece counts at once: the module
         * registers its strings and, with no answers, cannot set up; two
         * messages of the peer's own cross */
        { "--no-ack" + sRun, HOSTILE_INTERLEAVED, 1.0, 0, "SETUPERROR", "", "", 4,
          "STARTUP NLS_COMMAND ZOLTPEERS_RUN_2 DE_COMMAND DE_NOTIFY*2 STOP" },
        /* the device list request waits its 5 s; the callback then has no
         * device: the run could not set up, nothing tested */
        { "--no-devlist" + sRun, -1, 0, 0, "SETUPERROR", "", "", 4,
          "STARTUP NLS_COMMAND ZOLTPEERS_RUN_2 DE_COMMAND DE_NOTIFY*2 STOP" },
        /* 65,536 unsolicited messages come while the module waits 3 s for
         * its device list: the answer is found among them */
        { "--slow-devlist 3000" + sRun, HOSTILE_FLOOD, 20.0, 0, "PASS", "25,50,75,100", szInfos, 0,
          szPass },
        /* messages holding a NUL byte arrive with the answers */
        { "--slow-devlist 500" + sRun, HOSTILE_NUL_STREAM, 5.0, 0, "PASS", "25,50,75,100", szInfos,
          0, szPass },
        /* every language-string request waits its 5 s and gets nothing: the
         * test still runs and its texts stay the tags the module sent */
        { "--silent-nls" + sRun, -1, 0, 0, "PASS", "25,50,75,100", szInfos, 0, szPass },
        /* slow: nine unanswered requests (registration, the SMBIOS switch and
         * the seven item switches); every item counts as switched off */
        { "--limit 120000 --silent-nls sysinfo --device 0", -1, 0, 0, "", "", "", 0,
          "STARTUP NLS_COMMAND SYSINFO DE_COMMAND NLS_COMMAND*8 SYSINFO_RETURNED DE_NOTIFY STOP" },
        /* junk frames before every message, and a device list of 100 KB in
         * one COMPONENT per device, crossing the pipe in many frames */
        { "--garbage-frames --split-components --pad-devlist 102400" + sRun, -1, 0, 0, "PASS",
          "25,50,75,100", szInfos, 0, szPass },
        /* the broker dies after 3 packets (before the device list) or after 8
         * (the fifth is the test's first event): no SIGPIPE, status 0 long
         * before the 30 s limit, no result */
        { "--limit 30000 --die-after 3" + sRun, -1, 0, 0, "", "", "", 2,
          "STARTUP NLS_COMMAND ZOLTPEERS_RUN_2" },
        { "--limit 30000 --die-after 8" + sRun, -1, 0, 0, "", "25", "szInfo1 szInfo2", 2,
          "STARTUP NLS_COMMAND ZOLTPEERS_RUN_2 DE_COMMAND NLS_COMMAND DE_EVENT*3" },
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(testing::Message() << c.sWords << ", hostile peer " << c.iHostile);
        TempDir base;
        HostilePeer peer;
        if (c.iHostile >= 0)
            peer = HostileStart(ZOLT_BIN "/zoltcpu.linux", base.sPath, (HostileMode)c.iHostile);
        ASSERT_TRUE(c.iHostile < 0 || peer.pid > 0);
        PeersRun r = RunPeers(Words("--pipe-base " + base.sPath + " " + c.sWords), 60000);
        std::string sRec = r.vResults.empty() ? "" : r.vResults.back();
        if (c.iHostile >= 0) {
            HostileReport rep = HostileFinish(peer, (int)Num(sRec, "pid"));
            ASSERT_GT(rep.iPid, 0) << r.sAll.substr(0, 2000);
            EXPECT_GE(rep.dCpuSeconds, 0.0);
            EXPECT_LE(rep.dCpuSeconds, c.dCpuMax);
            EXPECT_LT(rep.dEndAfterLastByte, 30.0); /* the module ends on its own */
        }
        ASSERT_FALSE(sRec.empty()) << r.sAll;
        EXPECT_EQ(Num(sRec, "signal"), 0);
        EXPECT_EQ(sRec.find("\"killed\":true"), std::string::npos);
        EXPECT_EQ(Num(sRec, "exit_status"), c.lStatus) << sRec;
        EXPECT_EQ(Str(sRec, "result"), c.szResult);
        EXPECT_EQ(Percents(sRec), c.szPercents);
        EXPECT_EQ(TextIds(sRec), c.szTexts);
        EXPECT_EQ(Sent(r, Num(sRec, "pid")), c.szSent);
        EXPECT_EQ(sRec.find("\"sysinfo\":[{"), std::string::npos) << "an item switched on";
        EXPECT_EQ(r.iExit, c.iExit);
        int iPid = 0;
        EXPECT_EQ(FindModuleFifo(base.sPath, &iPid), "");
    }
}
