/* misbehaving-peers.cpp - end to end: the real module against peers that break
 * the rules (zoltpeers' misbehaviour switches, or no broker at all). Each case
 * checks the module's exit status, what it still sent, and what the run
 * reports; none may leave a FIFO behind, hang, or end the module by a signal.
 * (The acknowledgement faults and a broker dying before the device list are
 * in zoltpeers.cpp.) */
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/peers-run.h"
#include "x87-emulator.h"

using namespace e2e;

namespace {

const std::string s_sModule = ZOLT_BIN "/zoltcpu.linux";
const std::string s_sIni = ZOLT_BIN "/zoltcpu.ini";

/* A fresh directory under /tmp, removed (with what is left in it) at the end. */
struct TempDir {
    std::string sPath;
    TempDir()
    {
        char szTemplate[] = "/tmp/zolt-e2e.XXXXXX";
        if (mkdtemp(szTemplate) != nullptr)
            sPath = szTemplate;
    }
    ~TempDir()
    {
        for (const std::string &s : Entries())
            unlink((sPath + "/" + s).c_str());
        rmdir(sPath.c_str());
    }
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> v;
        DIR *pDir = opendir(sPath.c_str());
        if (pDir == nullptr)
            return v;
        while (struct dirent *pEnt = readdir(pDir))
            if (strcmp(pEnt->d_name, ".") != 0 && strcmp(pEnt->d_name, "..") != 0)
                v.push_back(pEnt->d_name);
        closedir(pDir);
        std::sort(v.begin(), v.end());
        return v;
    }
};

}  // namespace

TEST(MisbehavingPeers, NoBrokerEndsEveryModeWith29AndLeavesNoFifo)
{
    struct Case {
        const char *szName;
        std::vector<std::string> vWords;   /* after the program */
        bool bStaleFifo;                   /* a broker FIFO nobody reads */
    } aCases[] = {
        { "run", { "run", "device=0", "test=0", "deffile=" + s_sIni }, false },
        { "enumerate", { "enumerate", "deffile=" + s_sIni }, false },
        { "sysinfo", { "sysinfo", "zoltpeers", "1", "CPU:0", s_sIni, "zoltcpu" }, false },
        { "run, stale broker FIFO", { "run", "device=0", "test=0", "deffile=" + s_sIni }, true },
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.szName);
        TempDir pipes, cwd;
        ASSERT_FALSE(pipes.sPath.empty());
        ASSERT_FALSE(cwd.sPath.empty());
        if (c.bStaleFifo) {
            ASSERT_EQ(mkfifo((pipes.sPath + "/ZOLTFIFO").c_str(), 0660), 0);
        }
        std::vector<std::string> vArgs = { s_sModule };
        vArgs.insert(vArgs.end(), c.vWords.begin(), c.vWords.end());
        ChildRun r = RunChild(vArgs, { "ZOLT_PATH=" + pipes.sPath, "ZOLT_TMP=" }, cwd.sPath.c_str(), true);
        EXPECT_EQ(r.iSignal, 0);
        EXPECT_EQ(r.iExit, 29);
        /* it gave up before the enumeration banner or anything else */
        EXPECT_EQ(r.sOut, "");
        EXPECT_EQ(pipes.Entries(), c.bStaleFifo ? std::vector<std::string>{ "ZOLTFIFO" } : std::vector<std::string>{});
        EXPECT_EQ(cwd.Entries(), std::vector<std::string>{});
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
    EXPECT_EQ(PacketsFrom(r, Num(sRun, "pid")),
              (std::vector<std::string>{ "STARTUP", "MSG:NLS_COMMAND", "MSG:ZOLTPEERS_RUN_2", "MSG:DE_COMMAND",
                                         "MSG:DE_NOTIFY", "MSG:DE_NOTIFY", "STOP" }));
    EXPECT_EQ(r.iExit, 1);
}

TEST(MisbehavingPeers, SilentLanguageEngineLeavesTagsAsTheyAre)
{
    /* every language-string request waits its 5 s and gets nothing: the test
     * still runs and its texts stay the tags the module sent */
    PeersRun r = RunPeers({ "--silent-nls", "run", "--device", "0", "--test", "0" });
    std::string sRun = ResultOf(r, "run");
    ASSERT_FALSE(sRun.empty()) << r.sAll;
    EXPECT_EQ(Num(sRun, "exit_status"), 0);
    EXPECT_EQ(Str(sRun, "result"), "PASS");
    EXPECT_EQ(Percents(sRun), "25,50,75,100");
    EXPECT_EQ(All(sRun, "text"), (std::vector<std::string>{ "<NLS mod=zoltcpu.zmd id=szInfo1 />",
                                                            "<NLS mod=zoltcpu.zmd id=szInfo2 />",
                                                            "<NLS mod=zoltcpu.zmd id=szInfo3 />",
                                                            "<NLS mod=zoltcpu.zmd id=szInfo4 />" }));
    EXPECT_EQ(r.iExit, 0);
}

TEST(MisbehavingPeers, SilentLanguageEngineSwitchesSystemInformationOff)
{
    /* slow: nine unanswered requests of 5 s each (registration, the SMBIOS
     * switch and the seven item switches); every item counts as switched off */
    PeersRun r = RunPeers({ "--silent-nls", "sysinfo", "--device", "0" }, 120000);
    std::string sInfo = ResultOf(r, "sysinfo");
    ASSERT_FALSE(sInfo.empty()) << r.sAll;
    EXPECT_EQ(Num(sInfo, "exit_status"), 0);
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
    const std::string sX87Skip = zolttest::X87EmulatorSkipReason();
    for (int iTest : { 0, 1 }) {
        SCOPED_TRACE(iTest);
        if (iTest == 1 && !sX87Skip.empty())
            continue;
        PeersRun r = RunPeers({ "--garbage-frames", "--split-components", "--pad-devlist", "102400", "run",
                                "--device", "0", "--test", std::to_string(iTest) });
        std::string sRun = ResultOf(r, "run");
        ASSERT_FALSE(sRun.empty()) << r.sAll;
        EXPECT_EQ(Str(sRun, "result"), "PASS");
        EXPECT_EQ(Str(sRun, "device"), "CPU:0");
        EXPECT_EQ(Percents(sRun), "25,50,75,100");
        EXPECT_EQ(All(sRun, "english").size(), 4u);
        EXPECT_EQ(r.iExit, 0);
    }
    if (!sX87Skip.empty())
        GTEST_SKIP() << "test 1 not run: " << sX87Skip;
}

TEST(MisbehavingPeers, BrokerDyingDuringATestEndsTheModuleByItself)
{
    /* the broker reads eight packets (the fifth is the test's first event)
     * and dies: the test runs on against a closed FIFO, and the module ends
     * on its own, with status 0 and no SIGPIPE, long before the 30 s limit */
    for (int iTest : { 0, 1 }) {
        SCOPED_TRACE(iTest);
        PeersRun r = RunPeers({ "--die-after", "8", "run", "--device", "0", "--test", std::to_string(iTest) }, 30000);
        std::string sRun = ResultOf(r, "run");
        ASSERT_FALSE(sRun.empty()) << r.sAll;
        EXPECT_EQ(Num(sRun, "signal"), 0);
        EXPECT_EQ(sRun.find("\"killed\":true"), std::string::npos);
        EXPECT_EQ(Num(sRun, "exit_status"), 0);
        EXPECT_EQ(Percents(sRun), "25");   /* what reached the broker before it died */
        EXPECT_EQ(sRun.find("\"result\""), std::string::npos);
        std::vector<std::string> vSent = PacketsFrom(r, Num(sRun, "pid"));
        EXPECT_EQ(vSent.size(), 8u);
        EXPECT_EQ(r.iExit, 2);
    }
}

TEST(MisbehavingPeers, StopDuringTheCacheTestDiscontinuesIt)
{
    /* STOPTESTING 5 ms after the startup notification: it meets the cache
     * test between two patterns, or (its passes are short) only after the
     * last one; either way the run ends cleanly with a consistent report */
    PeersRun r = RunPeers({ "--stop-after", "5", "run", "--device", "0", "--test", "3" });
    std::string sRun = ResultOf(r, "run");
    ASSERT_FALSE(sRun.empty()) << r.sAll;
    if (Str(sRun, "result") == "PRIVILEGEERROR")
        GTEST_SKIP() << "the cache test needs the right to raise the locked-memory limit (CAP_SYS_RESOURCE)";
    EXPECT_EQ(Num(sRun, "exit_status"), 0);
    EXPECT_EQ(Num(sRun, "signal"), 0);
    size_t uTexts = All(sRun, "english").size();
    if (Str(sRun, "result") == "PASS") {
        /* the stop came after the last pattern */
        EXPECT_EQ(uTexts, 19u);
        EXPECT_EQ(Percents(sRun), "100");
        EXPECT_EQ(r.iExit, 0);
        return;
    }
    EXPECT_EQ(Str(sRun, "result"), "DISCONTINUED");
    EXPECT_EQ(Percents(sRun), "");
    EXPECT_LT(uTexts, 19u);   /* not every pattern ran */
    EXPECT_EQ(r.iExit, 1);
}
