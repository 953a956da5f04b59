/* packaging.cpp - end to end: cmake --install puts exactly the shipped files
 * under a prefix, and the installed zoltpeers finds the module (beside it
 * first, then the module folder) and the definitions file, also once moved;
 * the programs are hardened (checked with readelf); cpack makes a Debian
 * package of the same files whose unpacked tree runs; two builds in two
 * folders are identical; the man pages and the shell completion work with the
 * system's man and bash-completion. */
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/peers-run.h"

using namespace e2e;

namespace {

/* Every entry under sRoot, sorted: folders end in "/", executables in "*",
 * anything but a folder or a regular file in "?". */
std::vector<std::string> Tree(const std::string &sRoot)
{
    std::vector<std::string> v;
    std::istringstream in(
        RunChild({ "/usr/bin/find", sRoot, "-mindepth", "1", "-printf", "%P %y %m\\n" }).sOut);
    for (std::string sPath, sType, sMode; in >> sPath >> sType >> sMode;)
        v.push_back(sPath + (sType == "d"                            ? "/"
                             : sType != "f"                          ? "?"
                             : (std::stoi(sMode, nullptr, 8) & 0100) ? "*"
                                                                     : ""));
    std::sort(v.begin(), v.end());
    return v;
}

/* cmake --install of this build tree under sPrefix; a DESTDIR or an install
 * mode (symlinks into the build tree) from the caller's environment would
 * defeat the tests. */
ChildRun Install(const std::string &sPrefix)
{
    return RunChild({ ZOLT_CMAKE, "--install", ZOLT_BUILD_DIR, "--prefix", sPrefix },
                    { "DESTDIR=", "CMAKE_INSTALL_MODE=" }, nullptr, true);
}

/* prefix/bin/zoltpeers [options] enumerate, standard error joined. */
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

TEST(Packaging, InstalledFilesFindEachOtherWhereverTheTreeIsMoved)
{
    TempDir tmp;
    const std::string sPrefix = tmp.sPath + "/prefix", sMod = ZOLT_INSTALL_MODULEDIR,
                      sBinDir = ZOLT_INSTALL_BINDIR, sData = ZOLT_INSTALL_DATADIR,
                      sMan = ZOLT_INSTALL_MANDIR, sDoc = ZOLT_INSTALL_DOCDIR,
                      sCompl = ZOLT_INSTALL_COMPLETIONDIR, sUnits = "lib/systemd/system";
    ChildRun inst = Install(sPrefix);
    ASSERT_EQ(inst.iExit, 0) << inst.sOut;
    /* every entry: folders with "/", executables with "*" (no links, nothing else) */
    std::vector<std::string> vExpected = { sBinDir + "/zoltpeers*",
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
    std::sort(vExpected.begin(), vExpected.end());
    vExpected.erase(std::unique(vExpected.begin(), vExpected.end()), vExpected.end());
    EXPECT_EQ(Tree(sPrefix), vExpected) << inst.sOut;
    /* the shipped programs, not the fault build of the same file name */
    EXPECT_TRUE(ReadFile(sPrefix + "/" + sMod + "/zoltcpu.linux") ==
                ReadFile(ZOLT_BIN "/zoltcpu.linux"));
    EXPECT_TRUE(ReadFile(sPrefix + "/" + sBinDir + "/zoltpeers") ==
                ReadFile(ZOLT_BIN "/zoltpeers"));
    /* the service starts the zoltpeers of this prefix */
    EXPECT_TRUE(Has(ReadFile(sPrefix + "/" + sUnits + "/zoltcpu-screen.service"),
                    "\nExecStart=" + sPrefix + "/" + sBinDir + "/zoltpeers --quiet "));
    EXPECT_EQ(ReadFile(sPrefix + "/" + sData + "/zoltcpu.ini"),
              ReadFile(ZOLT_SOURCE_DIR "/zoltcpu/zoltcpu.ini"));

    /* where it was installed, then moved one level deeper under another name */
    const std::string sMoved = tmp.sPath + "/elsewhere/moved";
    ASSERT_EQ(mkdir((tmp.sPath + "/elsewhere").c_str(), 0700), 0);
    for (const std::string &sAt : { sPrefix, sMoved }) {
        if (sAt == sMoved) {
            ASSERT_EQ(rename(sPrefix.c_str(), sMoved.c_str()), 0);
        }
        ChildRun r = Enumerate(sAt);
        EXPECT_EQ(r.iExit, 0) << r.sOut;
        EXPECT_TRUE(Has(r.sOut, ModuleLine(sAt + "/" + sMod + "/zoltcpu.linux",
                                           sAt + "/" + sData + "/zoltcpu.ini")))
            << r.sOut;
        EXPECT_TRUE(Has(r.sOut, "\n  device 0  CPU:0  ")) << r.sOut;
    }

    /* in neither place: exit 2 before any module start, naming both paths in order */
    const std::string sBin = sMoved + "/" + sBinDir, sDir = sMoved + "/" + sMod,
                      sIni = sMoved + "/" + sData + "/zoltcpu.ini",
                      sAway = tmp.sPath + "/zoltcpu.linux";
    ASSERT_EQ(rename((sDir + "/zoltcpu.linux").c_str(), sAway.c_str()), 0);
    ChildRun r = Enumerate(sMoved);
    EXPECT_EQ(r.iExit, 2) << r.sOut;
    EXPECT_TRUE(Has(r.sOut, "looked for " + sBin + "/zoltcpu.linux, " + sDir + "/zoltcpu.linux"))
        << r.sOut;
    EXPECT_FALSE(Has(r.sOut, "zoltpeers: module ")) << r.sOut;
    /* --module wins; the definitions file still comes from the data folder */
    r = Enumerate(sMoved, { "--module", sAway });
    EXPECT_EQ(r.iExit, 0) << r.sOut;
    EXPECT_TRUE(Has(r.sOut, ModuleLine(sAway, sIni))) << r.sOut;
    /* a module and definitions file beside zoltpeers are taken before the module folder's */
    ASSERT_EQ(rename(sAway.c_str(), (sDir + "/zoltcpu.linux").c_str()), 0);
    ASSERT_EQ(Shell("cp " ZOLT_BIN "/zoltcpu.linux " ZOLT_BIN "/zoltcpu.ini " + sBin).iExit, 0);
    r = Enumerate(sMoved);
    EXPECT_EQ(r.iExit, 0) << r.sOut;
    EXPECT_TRUE(Has(r.sOut, ModuleLine(sBin + "/zoltcpu.linux", sBin + "/zoltcpu.ini"))) << r.sOut;
}

/* Each program and each library of the project's own code: what readelf must show. */
TEST(Packaging, ProgramsAreHardened)
{
    if (!ZOLT_HARDENED)
        GTEST_SKIP() << "the sanitizer tree is built without the hardening flags";
    /* readelf's option and what it must show (_chk@: a fortified libc call) */
    const char *aszChecks[][2] = {
        { "--dynamic", "(FLAGS)" },    { "--dynamic", "BIND_NOW" },
        { "--dynamic", "(FLAGS_1)" },  { "--dynamic", " PIE" },
        { "--segments", "GNU_RELRO" }, { "--dyn-syms", " __stack_chk_fail" },
        { "--dyn-syms", "_chk@" }
    };
    for (const std::string sProgram : { "/bin/zoltpeers", "/bin/zoltcpu.linux" })
        for (const auto &c : aszChecks)
            EXPECT_TRUE(Has(
                RunChild({ "/usr/bin/readelf", "-W", c[0], ZOLT_BUILD_DIR + sProgram }).sOut, c[1]))
                << sProgram << " " << c[1];
    /* the project's code itself, not only the C++ runtime linked into it, calls
     * the stack check (on i386 PIE through its local stub) */
    for (const std::string sLib : { "/libzoltsupport.a", "/libzoltcpumod.a", "/libzoltpeerslib.a" })
        EXPECT_TRUE(
            Has(RunChild({ "/usr/bin/readelf", "-W", "--syms", ZOLT_BUILD_DIR + sLib }).sOut,
                " __stack_chk_fail"))
            << sLib;
}

/* cpack -G DEB: the files of an installation under /usr, stripped, the units
 * installed and nothing enabled; unpacked with dpkg -x, its zoltpeers runs. */
TEST(Packaging, DebianPackageUnpacksToAWorkingTree)
{
    TempDir tmp;
    ChildRun pack = RunChild({ ZOLT_CPACK, "-G", "DEB", "--config",
                               ZOLT_BUILD_DIR "/CPackConfig.cmake", "-B", tmp.sPath + "/out" },
                             { "DESTDIR=" }, nullptr, true);
    ASSERT_EQ(pack.iExit, 0) << pack.sOut;
    ChildRun deb = Shell("ls " + tmp.sPath + "/out/*.deb");
    ASSERT_EQ(deb.iExit, 0) << pack.sOut;
    const std::string sDeb = deb.sOut.substr(0, deb.sOut.find('\n')), sRoot = tmp.sPath + "/root";
    EXPECT_TRUE(Has(RunChild({ "/usr/bin/dpkg-deb", "--field", sDeb }).sOut, "Package: zoltcpu\n"));
    /* a summary line, then text lines each indented, at most 80 columns, without the
     * separators of a CMake list */
    std::istringstream text(RunChild({ "/usr/bin/dpkg-deb", "--field", sDeb, "Description" }).sOut);
    int iLines = 0;
    for (std::string sLine; std::getline(text, sLine); iLines++) {
        EXPECT_TRUE(sLine.size() <= 80 && !Has(sLine, ";")) << sLine;
        EXPECT_EQ(iLines > 0, sLine.rfind(' ', 0) == 0) << sLine;
    }
    EXPECT_GE(iLines, 2);
    ASSERT_EQ(RunChild({ "/usr/bin/dpkg", "-x", sDeb, sRoot }).iExit, 0);
    ASSERT_EQ(Install(tmp.sPath + "/installed").iExit, 0);
    EXPECT_EQ(Tree(sRoot + "/usr"), Tree(tmp.sPath + "/installed"));
    EXPECT_EQ(Shell("ls -A " + sRoot).sOut, "usr\n");
    for (const char *szProgram : { "/usr/bin/zoltpeers", "/usr/libexec/zoltcpu/zoltcpu.linux" }) {
        std::string sSections =
            RunChild({ "/usr/bin/readelf", "-W", "-S", sRoot + szProgram }).sOut;
        EXPECT_TRUE(Has(sSections, ".dynsym") && !Has(sSections, ".symtab"))
            << szProgram << " is not stripped";
    }
    EXPECT_TRUE(Has(ReadFile(sRoot + "/usr/lib/systemd/system/zoltcpu-screen.service"),
                    "\nExecStart=/usr/bin/zoltpeers "));
    EXPECT_EQ(Shell("dpkg-deb --ctrl-tarfile " + sDeb + " | tar -t | grep -c inst").sOut, "0\n");
    ChildRun run = Enumerate(sRoot + "/usr");
    EXPECT_EQ(run.iExit, 0) << run.sOut;
    EXPECT_TRUE(Has(run.sOut, ModuleLine(sRoot + "/usr/libexec/zoltcpu/zoltcpu.linux",
                                         sRoot + "/usr/share/zoltcpu/zoltcpu.ini")))
        << run.sOut;

    if (access("/usr/bin/lintian", X_OK) != 0)
        GTEST_SKIP() << "lintian is not installed (scripts/install-deps.sh tests installs it)";
    ChildRun lint = Shell("lintian --fail-on error " + sDeb, true);
    EXPECT_EQ(lint.iExit, 0) << lint.sOut; /* an error (E:) fails it */
}

/* The sources copied to two folders and built in each, at the same place
 * relative to them as this tree, with ccache off (it leaves the path options
 * out of its key, so a hit could bring another folder's object) give
 * byte-identical programs: no build path in them. */
TEST(Packaging, BuildsInTwoFoldersGiveIdenticalPrograms)
{
    /* two more builds per tree would double the test command's time; the
     * shipped programs are those of the native release configuration */
    if (std::string(ZOLT_M32_FLAG) == "1" || std::string(ZOLT_SANITIZE_FLAG) == "1")
        GTEST_SKIP() << "checked in the native tree, whose configuration is the shipped one";
    TempDir tmp;
    const std::string sTop = ZOLT_SOURCE_DIR "/", sBuildDir = ZOLT_BUILD_DIR;
    const std::string sRel =
        sBuildDir.rfind(sTop, 0) == 0 ? sBuildDir.substr(sTop.size()) : "../build";
    std::vector<std::string> vBuilds;
    for (const std::string &sSrc : { tmp.sPath + "/a/src", tmp.sPath + "/bb/elsewhere/zolt" }) {
        const std::string sBuild = sSrc + "/" + sRel;
        ASSERT_EQ(Shell("mkdir -p " + sSrc + " && tar -C " ZOLT_SOURCE_DIR " --exclude=./build" +
                        " --exclude=./" + sRel + " --exclude=./.git -cf - . | tar -C " + sSrc +
                        " -xf -")
                      .iExit,
                  0);
        ChildRun conf = RunChild({ ZOLT_CMAKE, "-G", "Ninja", "-Wno-dev", "-S", sSrc, "-B", sBuild,
                                   "-DCMAKE_BUILD_TYPE=" ZOLT_BUILD_TYPE, "-DZOLT_TESTS=OFF",
                                   "-DZOLT_BENCH=OFF", "-DZOLT_M32=" ZOLT_M32_FLAG,
                                   "-DZOLT_SANITIZE=" ZOLT_SANITIZE_FLAG },
                                 { "CCACHE_DISABLE=1" }, nullptr, true);
        ASSERT_EQ(conf.iExit, 0) << conf.sOut;
        ChildRun build = RunChild({ ZOLT_CMAKE, "--build", sBuild, "--parallel", "2", "--target",
                                    "zoltpeers", "zoltcpu" },
                                  { "CCACHE_DISABLE=1" }, nullptr, true);
        ASSERT_EQ(build.iExit, 0) << build.sOut;
        vBuilds.push_back(sBuild);
    }
    for (const char *szProgram : { "/bin/zoltpeers", "/bin/zoltcpu.linux" }) {
        const std::string sFirst = ReadFile(vBuilds[0] + szProgram);
        EXPECT_TRUE(!sFirst.empty() && sFirst == ReadFile(vBuilds[1] + szProgram)) << szProgram;
    }
}

/* Both pages as installed (compressed from docs/man): no warning from man or
 * groff at 80 columns, and the page's title and sections are there. */
TEST(Packaging, ManPagesRenderWithoutWarnings)
{
    if (access("/usr/bin/man", X_OK) != 0)
        GTEST_SKIP() << "man is not installed (Debian package man-db)";
    struct Page {
        const char *szFile, *szTitle;
    } aPages[] = {
        { ZOLT_BUILD_DIR "/man/zoltpeers.1.gz", "ZOLTPEERS(1)" },
        { ZOLT_BUILD_DIR "/man/zoltcpu.linux.8.gz", "ZOLTCPU.LINUX(8)" },
    };
    for (const Page &p : aPages) {
        SCOPED_TRACE(p.szFile);
        const std::string sMan = "MANWIDTH=80 MAN_KEEP_FORMATTING= man --warnings -l ";
        ChildRun err = Shell(sMan + p.szFile + " 2>&1 >/dev/null");
        EXPECT_EQ(err.iExit, 0);
        EXPECT_EQ(err.sOut, "");
        ChildRun page = Shell(sMan + p.szFile + " | col -b");
        EXPECT_EQ(page.sOut.rfind(p.szTitle, 0), 0u) << page.sOut.substr(0, 200);
        for (const char *szSection : { "\nNAME\n", "\nSYNOPSIS\n", "\nEXIT STATUS\n", "\nFILES\n" })
            EXPECT_TRUE(Has(page.sOut, szSection)) << szSection;
        /* characters per line, not bytes: the page has UTF-8 quotes and hyphens */
        size_t uWidest = 0, uWidth = 0;
        for (unsigned char c : page.sOut) {
            uWidth = c == '\n' ? 0 : uWidth + ((c & 0xc0) != 0x80);
            uWidest = std::max(uWidest, uWidth);
        }
        EXPECT_LE(uWidest, 80u);
    }
}

/* What bash offers after the words typed so far (the last one being completed). */
TEST(Packaging, CompletionOffersCommandsOptionsAndValues)
{
    const char *szLib = "/usr/share/bash-completion/bash_completion";
    if (access(szLib, R_OK) != 0)
        GTEST_SKIP() << "bash-completion is not installed";
    struct Case {
        const char *szLine, *szExpected;
    } aCases[] = {
        { "zoltpeers r", "run" },
        { "zoltpeers --json e", "enumerate" },
        { "zoltpeers --form", "--format" },
        { "zoltpeers --format ", "json ocptv text" },
        { "zoltpeers --format=o", "ocptv" },
        { "zoltpeers run --dev", "--device" },  /* run takes one device */
        { "zoltpeers all --dev", "--devices" }, /* all takes a list */
        { "zoltpeers --loops 3 --stop", "--stop-on-fail" },
        { "zoltpeers run --e", "--each-cpu --errlimit" },
        { "zoltpeers sysinfo --e", "" }, /* only run takes an error limit */
        { "zoltpeers all ", "" },        /* no second command */
        { "zoltpeers --device ", "" },
        { "zoltpeers --met", "--metrics-file" },
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.szLine);
        std::string sScript =
            std::string(". ") + szLib +
            "; . " ZOLT_SOURCE_DIR "/frontend/zoltpeers.bash-completion; COMP_LINE='" + c.szLine +
            "'; COMP_POINT=${#COMP_LINE}; "
            "read -ra COMP_WORDS <<< \"$COMP_LINE\"; "
            "[[ $COMP_LINE == *' ' ]] && COMP_WORDS+=(''); "
            "COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _zoltpeers; "
            "printf '%s\\n' \"${COMPREPLY[@]}\" | sort | paste -sd' '";
        ChildRun r = RunChild({ "/bin/bash", "-c", sScript }, {}, nullptr, true);
        EXPECT_EQ(r.iExit, 0);
        EXPECT_EQ(r.sOut, std::string(c.szExpected) + "\n");
    }
}
