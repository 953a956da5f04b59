/* misbehaving-peers.cpp - end to end: the real module against peers that break
 * the rules (zoltpeers' switches, or no broker): its exit status, what it still
 * sent and reported; none may leave a FIFO behind, hang, or die by a signal. */
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/peers-run.h"

using namespace e2e;

static const std::string s_sIni = ZOLT_BIN "/zoltcpu.ini";

TEST(MisbehavingPeers, NoBrokerEndsEveryModeWith29AndLeavesNoFifo)
{
    /* the module's words; a broker FIFO nobody reads */
    struct Case {
        std::vector<std::string> vWords;
        bool bStaleFifo;
    } aCases[] = {
        { { "run", "device=0", "test=0", "deffile=" + s_sIni }, false },
        { { "enumerate", "deffile=" + s_sIni }, false },
        { { "sysinfo", "zoltpeers", "1", "CPU:0", s_sIni, "zoltcpu" }, false },
        { { "run", "device=0", "test=0", "deffile=" + s_sIni }, true },
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.vWords[0] + (c.bStaleFifo ? ", stale broker FIFO" : ""));
        TempDir pipes, cwd;
        ASSERT_FALSE(pipes.sPath.empty() || cwd.sPath.empty());
        if (c.bStaleFifo) {
            ASSERT_EQ(mkfifo((pipes.sPath + "/ZOLTFIFO").c_str(), 0660), 0);
        }
        std::vector<std::string> vArgs = { ZOLT_BIN "/zoltcpu.linux" };
        vArgs.insert(vArgs.end(), c.vWords.begin(), c.vWords.end());
        ChildRun r =
            RunChild(vArgs, { "ZOLT_PATH=" + pipes.sPath, "ZOLT_TMP=" }, cwd.sPath.c_str(), true);
        EXPECT_EQ(r.iSignal, 0);
        EXPECT_EQ(r.iExit, 29);
        EXPECT_EQ(r.sOut, ""); /* it gave up before the enumeration banner or anything else */
        EXPECT_EQ(pipes.Entries(), c.bStaleFifo ? std::vector<std::string>{ "ZOLTFIFO" }
                                                : std::vector<std::string>{});
        EXPECT_EQ(cwd.Entries(), std::vector<std::string>{});
    }
}

TEST(MisbehavingPeers, MissingOrGarbageAcknowledgementEndsTheModuleWith29)
{
    /* slow: without an acknowledgement the module waits its 10 s */
    for (const char *szSwitch : { "--garbage-ack", "--no-ack" }) {
        SCOPED_TRACE(szSwitch);
        PeersRun r = RunPeers({ szSwitch, "run", "--device", "0", "--test", "0" });
        std::string sRun = ResultOf(r, "run");
        EXPECT_EQ(Num(sRun, "exit_status"), 29) << r.sAll;
        EXPECT_EQ(sRun.find("\"result\""), std::string::npos);
        EXPECT_EQ(sRun.find("\"killed\":true"), std::string::npos);
        /* it gave up after STARTUP: no message, no STOP */
        EXPECT_EQ(PacketsFrom(r, Num(sRun, "pid")), std::vector<std::string>{ "STARTUP" });
        EXPECT_EQ(r.iExit, 2);
    }
}

TEST(MisbehavingPeers, UnansweredDeviceListRunsTheTestWithoutADevice)
{
    /* the list request waits its 5 s; the callback then has no device and
     * the run reports that it could not set up, with nothing tested */
    PeersRun r = RunPeers({ "--no-devlist", "run", "--device", "0", "--test", "0" });
    std::string sRun = ResultOf(r, "run");
    ASSERT_FALSE(sRun.empty()) << r.sAll;
    EXPECT_EQ(Num(sRun, "exit_status"), 0);
    EXPECT_EQ(Num(sRun, "signal"), 0);
    EXPECT_EQ(Str(sRun, "result"), "SETUPERROR");
    EXPECT_EQ(Percents(sRun), "");
    EXPECT_NE(sRun.find("\"events\":[]"), std::string::npos) << sRun;
    EXPECT_EQ(
        PacketsFrom(r, Num(sRun, "pid")),
        (std::vector<std::string>{ "STARTUP", "MSG:NLS_COMMAND", "MSG:ZOLTPEERS_RUN_2",
                                   "MSG:DE_COMMAND", "MSG:DE_NOTIFY", "MSG:DE_NOTIFY", "STOP" }));
    EXPECT_EQ(r.iExit, 4); /* nothing tested, nothing failed */
}

TEST(MisbehavingPeers, SilentLanguageEngineLeavesTagsAndSwitchesOff)
{
    /* every language-string request waits its 5 s and gets nothing: the test
     * still runs and its texts stay the tags the module sent */
    PeersRun r = RunPeers({ "--silent-nls", "run", "--device", "0", "--test", "0" });
    std::string sRun = ResultOf(r, "run");
    EXPECT_EQ(Num(sRun, "exit_status"), 0) << r.sAll;
    EXPECT_EQ(Str(sRun, "result"), "PASS");
    EXPECT_EQ(Percents(sRun), "25,50,75,100");
    EXPECT_EQ(All(sRun, "text"),
              (std::vector<std::string>{
                  "<NLS mod=zoltcpu.zmd id=szInfo1 />", "<NLS mod=zoltcpu.zmd id=szInfo2 />",
                  "<NLS mod=zoltcpu.zmd id=szInfo3 />", "<NLS mod=zoltcpu.zmd id=szInfo4 />" }));
    EXPECT_EQ(r.iExit, 0);

    /* slow: nine unanswered requests (registration, the SMBIOS switch and the
     * seven item switches); every item counts as switched off */
    r = RunPeers({ "--silent-nls", "sysinfo", "--device", "0" }, 120000);
    std::string sInfo = ResultOf(r, "sysinfo");
    EXPECT_EQ(Num(sInfo, "exit_status"), 0) << r.sAll;
    EXPECT_EQ(sInfo.find("\"killed\":true"), std::string::npos);
    EXPECT_NE(sInfo.find("\"sysinfo\":[]"), std::string::npos) << sInfo;
    std::vector<std::string> vSent = PacketsFrom(r, Num(sInfo, "pid"));
    EXPECT_EQ(std::count(vSent.begin(), vSent.end(), "MSG:NLS_COMMAND"), 9);
    EXPECT_EQ(std::count(vSent.begin(), vSent.end(), "MSG:SYSINFO_RETURNED"), 1);
}

TEST(MisbehavingPeers, GarbageFramesAroundA100KbDeviceListInPieces)
{
    /* junk frames before every message, and a device list of 100 KB in one
     * COMPONENT per device, crossing the pipe in many frames */
    PeersRun r = RunPeers({ "--garbage-frames", "--split-components", "--pad-devlist", "102400",
                            "run", "--device", "0", "--test", "0" });
    std::string sRun = ResultOf(r, "run");
    EXPECT_EQ(Str(sRun, "result"), "PASS") << r.sAll;
    EXPECT_EQ(Str(sRun, "device"), "CPU:0");
    EXPECT_EQ(Percents(sRun), "25,50,75,100");
    EXPECT_EQ(All(sRun, "english").size(), 4u);
    EXPECT_EQ(r.iExit, 0);
}

TEST(MisbehavingPeers, BrokerDyingEndsTheModuleByItself)
{
    /* the broker dies after 3 packets (before the device list) or after 8
     * (the fifth is the test's first event): the module ends on its own, with
     * status 0 and no SIGPIPE, long before the 30 s limit */
    for (int iDieAfter : { 3, 8 }) {
        SCOPED_TRACE(iDieAfter);
        PeersRun r = RunPeers(
            { "--die-after", std::to_string(iDieAfter), "run", "--device", "0", "--test", "0" },
            30000);
        std::string sRun = ResultOf(r, "run");
        ASSERT_FALSE(sRun.empty()) << r.sAll;
        EXPECT_EQ(Num(sRun, "signal"), 0);
        EXPECT_EQ(sRun.find("\"killed\":true"), std::string::npos);
        EXPECT_EQ(Num(sRun, "exit_status"), 0);
        EXPECT_EQ(sRun.find("\"result\""), std::string::npos);
        EXPECT_EQ(PacketsFrom(r, Num(sRun, "pid")).size(), (size_t)iDieAfter);
        EXPECT_EQ(Percents(sRun),
                  iDieAfter == 8 ? "25" : ""); /* what reached the broker before it died */
        EXPECT_EQ(r.iExit, 2);
    }
}

TEST(MisbehavingPeers, StopDuringTheCacheTestDiscontinuesIt)
{
    /* STOPTESTING right after the startup notification meets the cache test
     * before its last pattern: not every pattern runs, no percent is sent */
    PeersRun r = RunPeers({ "--stop-at-startup", "run", "--device", "0", "--test", "3" }, 60000);
    std::string sRun = ResultOf(r, "run");
    ASSERT_FALSE(sRun.empty()) << r.sAll;
    if (Str(sRun, "result") == "PRIVILEGEERROR")
        GTEST_SKIP() << "the cache test needs the right to lock memory (CAP_IPC_LOCK)";
    EXPECT_EQ(Num(sRun, "exit_status"), 0);
    EXPECT_EQ(Num(sRun, "signal"), 0);
    EXPECT_EQ(Str(sRun, "result"), "DISCONTINUED");
    EXPECT_EQ(Percents(sRun), "");
    EXPECT_LT(All(sRun, "english").size(), 19u);
    EXPECT_EQ(r.iExit, 4);
}
