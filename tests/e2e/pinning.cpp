/* The real module's pinned mode through zoltpeers, with the processor table
 * replaced by a fixture in a private mount namespace (unshare -m, bind mount
 * over /proc/cpuinfo): two packages on this machine's logical CPUs 0 and 1,
 * and four packages of which the last two no allowed CPU can reach. */
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>

#include "e2e/peers-run.h"

using namespace e2e;

namespace {

const std::string kFixtures = std::string(ZOLT_FIXTURES) + "/cpu/";

/* zoltpeers running the command words vCommand, in a mount namespace
 * where /proc/cpuinfo reads as szTable, with the module's definitions file
 * copied into sDir with the SMBIOS socket cap off (the table alone decides the
 * packages); the module's level-4 trace goes to sDir/trace. Exit 97 of the
 * child: the bind mount was refused. */
PeersRun RunOnTable(const char *szTable, const std::vector<std::string> &vCommand,
                    const std::string &sDir)
{
    std::ifstream in(ZOLT_BIN "/zoltcpu.ini");
    std::ofstream out(sDir + "/zoltcpu.ini");
    for (std::string sLine; std::getline(in, sLine);)
        out << (sLine.rfind("szSMBIOSCheckEnable=", 0) == 0 ? "szSMBIOSCheckEnable=false" : sLine)
            << "\n";
    out.close();
    const char *szScript = "mount --bind \"$0\" /proc/cpuinfo || exit 97; exec \"$@\"";
    std::vector<std::string> vArgs = { "/usr/bin/unshare", "-m", "/bin/sh", "-c", szScript };
    vArgs.push_back(kFixtures + szTable);
    vArgs.push_back(ZOLT_BIN "/zoltpeers");
    for (const char *szWord :
         { "--trace-json", "--limit", "120000", "--module", ZOLT_BIN "/zoltcpu.linux" })
        vArgs.push_back(szWord);
    vArgs.insert(vArgs.end(), { "--deffile", sDir + "/zoltcpu.ini" });
    vArgs.insert(vArgs.end(), vCommand.begin(), vCommand.end());
    ChildRun c = RunChild(vArgs, { "ZOLT_TRACE=4", "ZOLT_TRACE_FILE=" + sDir + "/trace" });
    PeersRun r;
    r.iExit = c.iExit;
    r.sAll = c.sOut;
    std::istringstream lines(c.sOut);
    for (std::string sLine; std::getline(lines, sLine);)
        if (sLine.rfind("{\"kind\":\"RESULT\"", 0) == 0)
            r.vResults.push_back(sLine);
    return r;
}

/* Why this machine cannot run the cases ("" when it can). */
std::string SkipReason()
{
    if (RunChild({ "/usr/bin/unshare", "-m", "/bin/true" }).iExit != 0)
        return "no private mount namespace (needs root)";
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0 || !CPU_ISSET(0, &set) || !CPU_ISSET(1, &set))
        return "needs logical CPUs 0 and 1";
    std::ifstream in("/proc/meminfo");
    std::string sKey;
    long lKb = 0;
    in >> sKey >> lKb;
    return lKb >= 300000 ? "" : "less than 300000 kB: the module does not pin";
}

/* One run as the module traced it at its end. */
struct TracedRun {
    unsigned uTarget, uPercent;
    int iCpu; /* the logical CPU it ended on */
};
std::vector<TracedRun> TracedRuns(const std::string &sTrace)
{
    std::vector<TracedRun> v;
    std::ifstream in(sTrace);
    for (std::string sLine; std::getline(in, sLine);) {
        TracedRun r;
        size_t u = sLine.find(" RunTest: target ");
        if (u != std::string::npos &&
            sscanf(sLine.c_str() + u, " RunTest: target %u, %u percent, ended on logical CPU %d",
                   &r.uTarget, &r.uPercent, &r.iCpu) == 3)
            v.push_back(r);
    }
    return v;
}

/* Per device: the runs traced (one attempt of one run per package, or three
 * attempts), each run's share on the target and where it ran, the warning.
 * A reachable target's runs are pinned there (100 percent each); an
 * unreachable one gets warning 106 naming it, its runs 0 percent, and still a
 * plain PASS. */
TEST(Pinning, ReachableTargetsPinnedUnreachableOnesWarned)
{
    const std::string sSkip = SkipReason();
    if (!sSkip.empty())
        GTEST_SKIP() << sSkip;
    const struct {
        const char *szTable, *szDevice;
        size_t nRuns;
        unsigned uShare;
        int iCpu; /* -1: either of the two */
        bool bWarn;
    } cases[] = {
        { "cpuinfo-2sockets.txt", "0", 2, 100, 0, false },
        { "cpuinfo-2sockets.txt", "1", 2, 100, 1, false },
        { "cpuinfo-four.txt", "1", 4, 100, 1, false },
        { "cpuinfo-four.txt", "2", 12, 0, -1, true },
        { "cpuinfo-four.txt", "3", 12, 0, -1, true },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.szTable) + " device " + c.szDevice);
        TempDir dir;
        const std::string sTrace = dir.sPath + "/trace";
        PeersRun r =
            RunOnTable(c.szTable, { "run", "--device", c.szDevice, "--test", "0" }, dir.sPath);
        ASSERT_EQ(r.iExit, 0) << r.sAll;
        const std::string sResult = ResultOf(r, "run");
        EXPECT_EQ(Str(sResult, "result"), "PASS");
        EXPECT_EQ(Percents(sResult), "25,50,75,100");
        const std::vector<TracedRun> runs = TracedRuns(sTrace);
        ASSERT_EQ(runs.size(), c.nRuns);
        for (const TracedRun &run : runs) {
            EXPECT_EQ(run.uTarget, (unsigned)atoi(c.szDevice));
            EXPECT_EQ(run.uPercent, c.uShare);
            if (c.iCpu >= 0)
                EXPECT_EQ(run.iCpu, c.iCpu);
            else
                EXPECT_TRUE(run.iCpu == 0 || run.iCpu == 1) << run.iCpu;
        }
        const std::vector<std::string> vTypes = All(sResult, "type");
        EXPECT_EQ(std::count(vTypes.begin(), vTypes.end(), "WARN"), c.bWarn ? 1 : 0);
        if (c.bWarn) {
            EXPECT_EQ(Num(sResult, "code", sResult.find("\"WARN\"")), 106);
            EXPECT_NE(sResult.find("The test of processor CPU:" + std::string(c.szDevice) +
                                   " ran on other processors"),
                      std::string::npos)
                << sResult;
        }
    }
}

/* --each-cpu on a two-package table, one job and two: one test record per
 * logical CPU with its place, each run on the device that holds that CPU (so
 * no unreachable-target warning). */
TEST(Pinning, EachCpuGivesOneRecordPerLogicalCpu)
{
    const std::string sSkip = SkipReason();
    if (!sSkip.empty())
        GTEST_SKIP() << sSkip;
    for (const char *szJobs : { "1", "2" }) {
        SCOPED_TRACE(szJobs);
        TempDir dir;
        PeersRun r = RunOnTable(
            "cpuinfo-2sockets.txt",
            { "--format", "json", "--each-cpu", "--jobs", szJobs, "all", "--tests", "0" },
            dir.sPath);
        ASSERT_EQ(r.iExit, 0) << r.sAll;
        std::vector<std::string> vPlaces;
        std::istringstream lines(r.sAll);
        for (std::string sLine; std::getline(lines, sLine);) {
            if (Str(sLine, "record") != "test")
                continue;
            vPlaces.push_back(Str(sLine, "device_name") + " " +
                              sLine.substr(sLine.find("\"cpu\":"), 55) + " " +
                              Str(sLine, "outcome"));
            EXPECT_EQ(sLine.find("\"kind\":\"WARN\""), std::string::npos) << sLine;
        }
        std::sort(vPlaces.begin(), vPlaces.end());
        EXPECT_EQ(
            vPlaces,
            (std::vector<std::string>{
                "CPU:0 \"cpu\":{\"logical\":0,\"core\":0,\"package\":0,\"apic_id\":null} pass",
                "CPU:1 \"cpu\":{\"logical\":1,\"core\":0,\"package\":1,\"apic_id\":null} pass" }))
            << r.sAll;
    }
}

}  // namespace
