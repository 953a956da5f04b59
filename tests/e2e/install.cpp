/* install.cpp - end to end: cmake --install of this build tree puts exactly
 * zoltpeers, the module folder, the definitions file, man pages, completion and
 * copyright under a prefix; the installed zoltpeers finds the module (beside it
 * first, then the module folder) and the definitions file, also once moved. */
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/peers-run.h"

using namespace e2e;

namespace {

std::string ReadAll(const std::string &sPath)
{
    std::ifstream in(sPath, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

/* prefix/bin/zoltpeers [options] enumerate with the plain report, standard error joined. */
ChildRun Enumerate(const std::string &sPrefix, const std::vector<std::string> &vOptions = {})
{
    std::vector<std::string> vArgs = { sPrefix + "/" ZOLT_INSTALL_BINDIR "/zoltpeers", "--limit",
                                       "60000" };
    vArgs.insert(vArgs.end(), vOptions.begin(), vOptions.end());
    vArgs.push_back("enumerate");
    return RunChild(vArgs, {}, "/", true);
}

/* The line zoltpeers prints first: which module and definitions it took. */
std::string ModuleLine(const std::string &sModule, const std::string &sDefFile)
{
    return "zoltpeers: module " + sModule + ", definitions " + sDefFile + "\n";
}

}  // namespace

TEST(Install, ThreeFilesThatFindEachOtherWhereverTheTreeIsMoved)
{
    TempDir tmp;
    ASSERT_FALSE(tmp.sPath.empty());
    const std::string sPrefix = tmp.sPath + "/prefix", sMod = ZOLT_INSTALL_MODULEDIR,
                      sBinDir = ZOLT_INSTALL_BINDIR, sData = ZOLT_INSTALL_DATADIR,
                      sMan = ZOLT_INSTALL_MANDIR, sDoc = ZOLT_INSTALL_DOCDIR,
                      sCompl = ZOLT_INSTALL_COMPLETIONDIR, sUnits = "lib/systemd/system";
    /* a DESTDIR or an install mode (symlinks into the build tree) from the
     * caller's environment would defeat the test */
    ChildRun inst = RunChild({ ZOLT_CMAKE, "--install", ZOLT_BUILD_DIR, "--prefix", sPrefix },
                             { "DESTDIR=", "CMAKE_INSTALL_MODE=" }, nullptr, true);
    ASSERT_EQ(inst.iExit, 0) << inst.sOut;

    /* every entry: folders with "/", executables with "*" (no links, nothing else) */
    std::vector<std::string> vTree, vExpected = { sBinDir + "/zoltpeers*",
                                                  sMod + "/zoltcpu.linux*",
                                                  sData + "/zoltcpu.ini",
                                                  sMan + "/man1/zoltpeers.1.gz",
                                                  sMan + "/man8/zoltcpu.linux.8.gz",
                                                  sCompl + "/zoltpeers",
                                                  sDoc + "/copyright",
                                                  sDoc + "/changelog.gz",
                                                  sDoc + "/zoltpeers-results.md",
                                                  sDoc + "/zoltpeers-results.schema.json",
                                                  sUnits + "/zoltcpu-screen.service",
                                                  sUnits + "/zoltcpu-screen.timer" };
    for (const std::string &sDir :
         { sBinDir, sMod, sData, sMan + "/man1", sMan + "/man8", sCompl, sDoc, sUnits })
        for (size_t u = sDir.find('/');; u = sDir.find('/', u + 1)) {
            vExpected.push_back(sDir.substr(0, u) + "/");
            if (u == std::string::npos)
                break;
        }
    std::istringstream in(
        RunChild({ "/usr/bin/find", sPrefix, "-mindepth", "1", "-printf", "%P %y %m\\n" }).sOut);
    for (std::string sPath, sType, sMode; in >> sPath >> sType >> sMode;)
        vTree.push_back(sPath + (sType == "d"                            ? "/"
                                 : sType != "f"                          ? "?"
                                 : (std::stoi(sMode, nullptr, 8) & 0100) ? "*"
                                                                         : ""));
    std::sort(vTree.begin(), vTree.end());
    std::sort(vExpected.begin(), vExpected.end());
    vExpected.erase(std::unique(vExpected.begin(), vExpected.end()), vExpected.end());
    EXPECT_EQ(vTree, vExpected) << inst.sOut;

    /* the shipped programs, not the fault build of the same file name */
    EXPECT_TRUE(ReadAll(sPrefix + "/" + sMod + "/zoltcpu.linux") ==
                ReadAll(ZOLT_BIN "/zoltcpu.linux"));
    EXPECT_TRUE(ReadAll(sPrefix + "/" + sBinDir + "/zoltpeers") == ReadAll(ZOLT_BIN "/zoltpeers"));
    /* the service starts the zoltpeers of this prefix */
    EXPECT_NE(ReadAll(sPrefix + "/" + sUnits + "/zoltcpu-screen.service")
                  .find("\nExecStart=" + sPrefix + "/" + sBinDir + "/zoltpeers --quiet "),
              std::string::npos);
    EXPECT_EQ(ReadAll(sPrefix + "/" + sData + "/zoltcpu.ini"),
              ReadAll(ZOLT_SOURCE_DIR "/zoltcpu/zoltcpu.ini"));

    /* where it was installed, then moved one level deeper under another name */
    const std::string sMoved = tmp.sPath + "/elsewhere/moved";
    ASSERT_EQ(mkdir((tmp.sPath + "/elsewhere").c_str(), 0700), 0);
    for (const std::string &sAt : { sPrefix, sMoved }) {
        if (sAt == sMoved) {
            ASSERT_EQ(rename(sPrefix.c_str(), sMoved.c_str()), 0);
        }
        ChildRun r = Enumerate(sAt);
        EXPECT_EQ(r.iExit, 0) << r.sOut;
        EXPECT_NE(r.sOut.find(ModuleLine(sAt + "/" + sMod + "/zoltcpu.linux",
                                         sAt + "/" + sData + "/zoltcpu.ini")),
                  std::string::npos)
            << r.sOut;
        EXPECT_NE(r.sOut.find("\n  device 0  CPU:0  "), std::string::npos) << r.sOut;
    }

    /* in neither place: exit 2 before any module start, naming both paths in order */
    const std::string sBin = sMoved + "/" + sBinDir, sDir = sMoved + "/" + sMod,
                      sIni = sMoved + "/" + sData + "/zoltcpu.ini",
                      sAway = tmp.sPath + "/zoltcpu.linux";
    ASSERT_EQ(rename((sDir + "/zoltcpu.linux").c_str(), sAway.c_str()), 0);
    ChildRun r = Enumerate(sMoved);
    EXPECT_EQ(r.iExit, 2) << r.sOut;
    EXPECT_NE(r.sOut.find("looked for " + sBin + "/zoltcpu.linux, " + sDir + "/zoltcpu.linux"),
              std::string::npos)
        << r.sOut;
    EXPECT_EQ(r.sOut.find("zoltpeers: module "), std::string::npos) << r.sOut;
    /* --module wins; the definitions file still comes from the data folder */
    r = Enumerate(sMoved, { "--module", sAway });
    EXPECT_EQ(r.iExit, 0) << r.sOut;
    EXPECT_NE(r.sOut.find(ModuleLine(sAway, sIni)), std::string::npos) << r.sOut;
    /* a module and definitions file beside zoltpeers are taken before the module folder's */
    ASSERT_EQ(rename(sAway.c_str(), (sDir + "/zoltcpu.linux").c_str()), 0);
    ASSERT_EQ(
        RunChild({ "/bin/cp", ZOLT_BIN "/zoltcpu.linux", ZOLT_BIN "/zoltcpu.ini", sBin + "/" })
            .iExit,
        0);
    r = Enumerate(sMoved);
    EXPECT_EQ(r.iExit, 0) << r.sOut;
    EXPECT_NE(r.sOut.find(ModuleLine(sBin + "/zoltcpu.linux", sBin + "/zoltcpu.ini")),
              std::string::npos)
        << r.sOut;
}
