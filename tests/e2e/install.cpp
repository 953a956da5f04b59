/* install.cpp - end to end: cmake --install of this very build tree into a
 * private prefix puts zoltpeers and the module folder there and nothing else,
 * and the installed zoltpeers finds the installed module by itself, also once
 * the whole tree has been moved; where it looks, in which order, and what it
 * says when the module is in neither place. */
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/peers-run.h"

using namespace e2e;

namespace {

const std::string s_sModuleDir = ZOLT_INSTALL_MODULEDIR;   /* e.g. libexec/zoltcpu */

/* A private folder under $TMPDIR (or /tmp), removed with its contents at the end. */
class InstallTest : public ::testing::Test {
protected:
    std::string m_sTmp;

    void SetUp() override
    {
        const char *szBase = getenv("TMPDIR");
        std::string sTemplate = std::string(szBase && szBase[0] ? szBase : "/tmp") + "/zoltinstall.XXXXXX";
        ASSERT_NE(mkdtemp(&sTemplate[0]), nullptr) << sTemplate;
        m_sTmp = sTemplate;
    }
    void TearDown() override
    {
        if (!m_sTmp.empty())
            RunChild({ "/bin/rm", "-rf", m_sTmp });
    }
};

/* cmake --install of the test's own build tree into sPrefix. A DESTDIR or an
 * install mode (symlinks into the build tree) from the caller's environment
 * would defeat the test, so both are removed. */
ChildRun Install(const std::string &sPrefix)
{
    return RunChild({ ZOLT_CMAKE, "--install", ZOLT_BUILD_DIR, "--prefix", sPrefix },
                    { "DESTDIR=", "CMAKE_INSTALL_MODE=" }, nullptr, true);
}

/* Every entry below sRoot, sorted, relative to it: "dir/" for a folder,
 * "name*" for an executable regular file, "name@" for a symbolic link, "name"
 * for another regular file, "name?" for anything else. */
void ListTree(const std::string &sRoot, const std::string &sRel, std::vector<std::string> *pv)
{
    DIR *pDir = opendir((sRoot + "/" + sRel).c_str());
    if (pDir == nullptr)
        return;
    while (struct dirent *pEnt = readdir(pDir)) {
        std::string sName = pEnt->d_name;
        if (sName == "." || sName == "..")
            continue;
        std::string sPath = sRel.empty() ? sName : sRel + "/" + sName;
        struct stat st;
        if (lstat((sRoot + "/" + sPath).c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            pv->push_back(sPath + "/");
            ListTree(sRoot, sPath, pv);
        } else if (S_ISLNK(st.st_mode))
            pv->push_back(sPath + "@");
        else if (S_ISREG(st.st_mode))
            pv->push_back(sPath + ((st.st_mode & S_IXUSR) ? "*" : ""));
        else
            pv->push_back(sPath + "?");
    }
    closedir(pDir);
    std::sort(pv->begin(), pv->end());
}

/* sPath ("a/b") and each folder above it ("a/", "a/b/") as ListTree writes them. */
void AddFolders(const std::string &sPath, std::vector<std::string> *pv)
{
    for (size_t uSlash = sPath.find('/'); uSlash != std::string::npos; uSlash = sPath.find('/', uSlash + 1))
        pv->push_back(sPath.substr(0, uSlash) + "/");
    pv->push_back(sPath + "/");
}

std::string ReadAll(const std::string &sPath)
{
    std::ifstream in(sPath, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

/* prefix/bin/zoltpeers enumerate with the plain report, standard error joined. */
ChildRun Enumerate(const std::string &sPrefix, const std::vector<std::string> &vOptions = {})
{
    std::vector<std::string> vArgs = { sPrefix + "/" ZOLT_INSTALL_BINDIR "/zoltpeers", "--limit", "60000" };
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

TEST_F(InstallTest, InstalledTreeHoldsThreeFilesAndRunsWhereverItIsMoved)
{
    std::string sPrefix = m_sTmp + "/prefix";
    ChildRun inst = Install(sPrefix);
    ASSERT_EQ(inst.iExit, 0) << inst.sOut;

    std::vector<std::string> vExpected, vTree;
    AddFolders(ZOLT_INSTALL_BINDIR, &vExpected);
    AddFolders(s_sModuleDir, &vExpected);
    vExpected.push_back(ZOLT_INSTALL_BINDIR "/zoltpeers*");
    vExpected.push_back(s_sModuleDir + "/zoltcpu.linux*");
    vExpected.push_back(s_sModuleDir + "/zoltcpu.ini");
    std::sort(vExpected.begin(), vExpected.end());
    vExpected.erase(std::unique(vExpected.begin(), vExpected.end()), vExpected.end());
    ListTree(sPrefix, "", &vTree);
    EXPECT_EQ(vTree, vExpected) << inst.sOut;

    /* the shipped programs, not the fault build of the same file name */
    EXPECT_TRUE(ReadAll(sPrefix + "/" + s_sModuleDir + "/zoltcpu.linux") == ReadAll(ZOLT_BIN "/zoltcpu.linux"));
    EXPECT_TRUE(ReadAll(sPrefix + "/" ZOLT_INSTALL_BINDIR "/zoltpeers") == ReadAll(ZOLT_BIN "/zoltpeers"));
    EXPECT_EQ(ReadAll(sPrefix + "/" + s_sModuleDir + "/zoltcpu.ini"), ReadAll(ZOLT_SOURCE_DIR "/zoltcpu/zoltcpu.ini"));

    /* where it was installed, then moved one level deeper under another name */
    std::string sMoved = m_sTmp + "/elsewhere/deeper/moved";
    ASSERT_EQ(mkdir((m_sTmp + "/elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((m_sTmp + "/elsewhere/deeper").c_str(), 0700), 0);
    for (const std::string &sAt : { sPrefix, sMoved }) {
        if (sAt == sMoved) {
            ASSERT_EQ(rename(sPrefix.c_str(), sMoved.c_str()), 0);
        }
        ChildRun r = Enumerate(sAt);
        EXPECT_EQ(r.iExit, 0) << r.sOut;
        std::string sDir = sAt + "/" + s_sModuleDir;
        EXPECT_NE(r.sOut.find(ModuleLine(sDir + "/zoltcpu.linux", sDir + "/zoltcpu.ini")), std::string::npos)
            << r.sOut;
        EXPECT_NE(r.sOut.find("\n  device 0  CPU:0  "), std::string::npos) << r.sOut;
        EXPECT_EQ(r.sOut.find("Enumeration: 0 device(s)"), std::string::npos) << r.sOut;
    }
}

TEST_F(InstallTest, ModuleBesideZoltpeersComesFirstThenTheModuleFolder)
{
    std::string sPrefix = m_sTmp + "/prefix";
    ChildRun inst = Install(sPrefix);
    ASSERT_EQ(inst.iExit, 0) << inst.sOut;
    std::string sBin = sPrefix + "/" ZOLT_INSTALL_BINDIR, sDir = sPrefix + "/" + s_sModuleDir;

    /* in neither place: exit 2 before any module start, naming both paths in order */
    ASSERT_EQ(rename((sDir + "/zoltcpu.linux").c_str(), (m_sTmp + "/zoltcpu.linux").c_str()), 0);
    ChildRun r = Enumerate(sPrefix);
    EXPECT_EQ(r.iExit, 2) << r.sOut;
    EXPECT_NE(r.sOut.find("looked for " + sBin + "/zoltcpu.linux, " + sDir + "/zoltcpu.linux"), std::string::npos)
        << r.sOut;
    EXPECT_EQ(r.sOut.find("zoltpeers: module "), std::string::npos) << r.sOut;

    /* --module wins; the definitions file still comes from the module folder */
    r = Enumerate(sPrefix, { "--module", m_sTmp + "/zoltcpu.linux" });
    EXPECT_EQ(r.iExit, 0) << r.sOut;
    EXPECT_NE(r.sOut.find(ModuleLine(m_sTmp + "/zoltcpu.linux", sDir + "/zoltcpu.ini")), std::string::npos)
        << r.sOut;

    /* a module and definitions file beside zoltpeers are taken before the module folder's */
    ASSERT_EQ(rename((m_sTmp + "/zoltcpu.linux").c_str(), (sDir + "/zoltcpu.linux").c_str()), 0);
    ChildRun cp = RunChild({ "/bin/cp", ZOLT_BIN "/zoltcpu.linux", ZOLT_BIN "/zoltcpu.ini", sBin + "/" });
    ASSERT_EQ(cp.iExit, 0);
    r = Enumerate(sPrefix);
    EXPECT_EQ(r.iExit, 0) << r.sOut;
    EXPECT_NE(r.sOut.find(ModuleLine(sBin + "/zoltcpu.linux", sBin + "/zoltcpu.ini")), std::string::npos) << r.sOut;
}
