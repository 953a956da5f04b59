/* The real module through zoltpeers in a private mount namespace (unshare -m)
 * with the processor table replaced by a fixture (bind mount over
 * /proc/cpuinfo): the pinned mode on two packages on this machine's logical
 * CPUs 0 and 1 and on four packages of which the last two no allowed CPU can
 * reach; enumeration of large tables made at test time; and a connection
 * with /proc hidden (tmpfs over it). */
#include <gtest/gtest.h>
#include <sched.h>

#include <algorithm>

#include "e2e/peers-run.h"

using namespace e2e;

namespace {

const std::string kFixtures = std::string(ZOLT_FIXTURES) + "/cpu/";
const char *const kBindTable = "mount --bind \"$0\" /proc/cpuinfo";

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
    std::vector<std::string> vWords = { "--module", ZOLT_BIN "/zoltcpu.linux", "--deffile",
                                        sDir + "/zoltcpu.ini" };
    vWords.insert(vWords.end(), vCommand.begin(), vCommand.end());
    return PeersRunOf(RunUnshared(kBindTable, kFixtures + szTable, PeersArgs(vWords, 120000),
                                  { "ZOLT_TRACE=4", "ZOLT_TRACE_FILE=" + sDir + "/trace" }));
}

/* Why this machine cannot run the cases ("" when it can). */
std::string SkipReason()
{
    if (!NoNamespaceReason().empty())
        return NoNamespaceReason();
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
        { "cpuinfo-four.txt", "1", 4, 100, 1, false },
        { "cpuinfo-four.txt", "2", 12, 0, -1, true },
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

namespace {

/* A processor table of n logical CPUs of a large virtual machine: one package
 * each, no "ht" flag, so one device per logical CPU. */
std::string WriteLargeTable(const std::string &sDir, int n)
{
    std::string sPath = sDir + "/cpuinfo-" + std::to_string(n) + ".txt";
    std::ofstream out(sPath);
    for (int i = 0; i < n; i++)
        out << "processor\t: " << i << "\nvendor_id\t: GenuineIntel\ncpu family\t: 6\n"
            << "model\t\t: 85\nmodel name\t: Large VM CPU\nstepping\t: 7\n"
            << "cpu MHz\t\t: 2100.000\ncache size\t: 1024 KB\nphysical id\t: " << i
            << "\nflags\t\t: fpu tsc msr mmx fxsr sse sse2\n\n";
    return sPath;
}

}  // namespace

/* Tables of large virtual machines enumerate every logical CPU: the long
 * answer the module queues just before it stops all reaches zoltpeers. */
TEST(LargeTables, EveryLogicalCpuIsEnumerated)
{
    const std::string sSkip = NoNamespaceReason();
    if (!sSkip.empty())
        GTEST_SKIP() << sSkip;
    for (int n : { 256, 1024, 4096 }) {
        SCOPED_TRACE(n);
        TempDir dir;
        ChildRun c = RunUnshared(kBindTable, WriteLargeTable(dir.sPath, n),
                                 PeersArgs({ "enumerate" }, 120000));
        PeersRun r = PeersRunOf(c);
        ASSERT_EQ(r.iExit, 0) << r.sAll.substr(0, 2000);
        std::vector<std::string> vNames = All(ResultOf(r, "enumerate"), "name");
        ASSERT_EQ(vNames.size(), (size_t)n);
        EXPECT_EQ(vNames.back(), "CPU:" + std::to_string(n - 1));
    }
}

/* Without /proc (a chroot or container) the module still connects, through
 * its fallback way of opening the FIFOs, and enumerates its fallback CPU
 * (zoltpeers is told where the module is: it finds it through /proc). */
TEST(LargeTables, ModuleConnectsWithoutProc)
{
    const std::string sSkip = NoNamespaceReason();
    if (!sSkip.empty())
        GTEST_SKIP() << sSkip;
    if (ZOLT_SANITIZED)
        GTEST_SKIP() << "the sanitizer runtime reads its options from /proc and its leak check "
                        "needs /proc: it ends every program without /proc";
    PeersRun r =
        PeersRunOf(RunUnshared("mount -t tmpfs none /proc", "tmpfs",
                               PeersArgs({ "--module", ZOLT_BIN "/zoltcpu.linux", "--deffile",
                                           ZOLT_BIN "/zoltcpu.ini", "enumerate" },
                                         60000)));
    ASSERT_NE(r.iExit, 97) << "tmpfs over /proc refused";
    EXPECT_EQ(r.iExit, 0) << r.sAll.substr(0, 2000);
    const std::string sResult = ResultOf(r, "enumerate");
    EXPECT_NE(sResult.find("\"startup_seen\":true"), std::string::npos) << sResult;
    EXPECT_EQ(All(sResult, "name"), std::vector<std::string>{ "CPU:0" });
}
