/* packaging.cpp - end to end: the programs are hardened (checked with readelf),
 * cpack makes a Debian package whose unpacked tree runs, and the man pages and
 * the shell completion work with the system's man and bash-completion. */
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/peers-run.h"

using namespace e2e;

namespace {

/* Standard output of a shell command line (standard error joined when bJoinErr). */
ChildRun Shell(const std::string &sCommand, bool bJoinErr = false)
{
    return RunChild({ "/bin/sh", "-c", sCommand }, {}, nullptr, bJoinErr);
}

bool Has(const std::string &s, const std::string &sPart)
{
    return s.find(sPart) != std::string::npos;
}

}  // namespace

/* Each program and each library of the project's own code: what readelf must show. */
TEST(Packaging, ProgramsAreHardened)
{
    if (!ZOLT_HARDENED)
        GTEST_SKIP() << "the sanitizer tree is built without the hardening flags";
    for (const char *szProgram : { "zoltpeers", "zoltcpu.linux" }) {
        SCOPED_TRACE(szProgram);
        const std::string sPath = std::string(ZOLT_BIN "/") + szProgram;
        ChildRun dyn = RunChild({ "/usr/bin/readelf", "-W", "--dynamic", sPath });
        ASSERT_EQ(dyn.iExit, 0) << dyn.sOut;
        EXPECT_TRUE(Has(dyn.sOut, "(FLAGS)") && Has(dyn.sOut, "BIND_NOW")) << dyn.sOut;
        EXPECT_TRUE(Has(dyn.sOut, "(FLAGS_1)") && Has(dyn.sOut, " PIE")) << dyn.sOut;
        std::string sSegments = RunChild({ "/usr/bin/readelf", "-W", "--segments", sPath }).sOut;
        EXPECT_TRUE(Has(sSegments, "GNU_RELRO")) << sSegments;
        std::string sSyms = RunChild({ "/usr/bin/readelf", "-W", "--dyn-syms", sPath }).sOut;
        EXPECT_TRUE(Has(sSyms, " __stack_chk_fail")) << sSyms;
        EXPECT_TRUE(Has(sSyms, "_chk@")) << "no fortified libc call\n" << sSyms;
    }
    /* the project's code itself, not only the C++ runtime linked into it, calls
     * the stack check (on i386 PIE through its local stub) */
    for (const char *szLib : { "libzoltsupport.a", "libzoltcpumod.a", "libzoltpeerslib.a" }) {
        std::string sSyms = RunChild({ "/usr/bin/readelf", "-W", "--syms",
                                       ZOLT_BUILD_DIR "/" + std::string(szLib) })
                                .sOut;
        EXPECT_TRUE(Has(sSyms, " __stack_chk_fail")) << szLib;
    }
}

/* cpack -G DEB, then the package's files, unpacked with dpkg -x, run from there. */
TEST(Packaging, DebianPackageUnpacksToAWorkingTree)
{
    TempDir tmp;
    ASSERT_FALSE(tmp.sPath.empty());
    ChildRun pack = RunChild({ ZOLT_CPACK, "-G", "DEB", "--config",
                               ZOLT_BUILD_DIR "/CPackConfig.cmake", "-B", tmp.sPath + "/out" },
                             { "DESTDIR=" }, nullptr, true);
    ASSERT_EQ(pack.iExit, 0) << pack.sOut;
    ChildRun deb = Shell("ls " + tmp.sPath + "/out/*.deb");
    ASSERT_EQ(deb.iExit, 0) << pack.sOut;
    const std::string sDeb = deb.sOut.substr(0, deb.sOut.find('\n')), sRoot = tmp.sPath + "/root";

    std::string sInfo = RunChild({ "/usr/bin/dpkg-deb", "--field", sDeb }).sOut;
    EXPECT_TRUE(Has(sInfo, "Package: zoltcpu\n")) << sInfo;
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
    std::string sFiles = Shell("cd " + sRoot + " && find . -type f | sort").sOut;
    EXPECT_EQ(sFiles, "./usr/bin/zoltpeers\n"
                      "./usr/lib/systemd/system/zoltcpu-screen.service\n"
                      "./usr/lib/systemd/system/zoltcpu-screen.timer\n"
                      "./usr/libexec/zoltcpu/zoltcpu.linux\n"
                      "./usr/share/bash-completion/completions/zoltpeers\n"
                      "./usr/share/doc/zoltcpu/changelog.gz\n"
                      "./usr/share/doc/zoltcpu/copyright\n"
                      "./usr/share/doc/zoltcpu/zoltpeers-results.md\n"
                      "./usr/share/doc/zoltcpu/zoltpeers-results.schema.json\n"
                      "./usr/share/man/man1/zoltpeers.1.gz\n"
                      "./usr/share/man/man8/zoltcpu.linux.8.gz\n"
                      "./usr/share/zoltcpu/zoltcpu.ini\n");
    for (const char *szProgram : { "/usr/bin/zoltpeers", "/usr/libexec/zoltcpu/zoltcpu.linux" }) {
        std::string sSections =
            RunChild({ "/usr/bin/readelf", "-W", "-S", sRoot + szProgram }).sOut;
        EXPECT_TRUE(Has(sSections, ".dynsym") && !Has(sSections, ".symtab"))
            << szProgram << " is not stripped";
    }

    /* the package installs the units and enables nothing (no maintainer scripts) */
    EXPECT_TRUE(Has(Shell("cat " + sRoot + "/usr/lib/systemd/system/zoltcpu-screen.service").sOut,
                    "\nExecStart=/usr/bin/zoltpeers "));
    EXPECT_EQ(Shell("dpkg-deb --ctrl-tarfile " + sDeb + " | tar -t | grep -c inst").sOut, "0\n");

    ChildRun version = RunChild({ sRoot + "/usr/bin/zoltpeers", "--version" }, {}, "/", true);
    ChildRun run =
        RunChild({ sRoot + "/usr/bin/zoltpeers", "--limit", "60000", "enumerate" }, {}, "/", true);
    EXPECT_EQ(run.iExit, 0) << run.sOut;
    EXPECT_TRUE(Has(run.sOut, "definitions " + sRoot + "/usr/share/zoltcpu/zoltcpu.ini"))
        << run.sOut;
    EXPECT_TRUE(Has(run.sOut, "\n  device 0  CPU:0  ")) << run.sOut;
    if (version.iExit == 3)
        GTEST_SKIP() << "this zoltpeers has no --version yet (usage error): " << version.sOut;
    EXPECT_EQ(version.iExit, 0) << version.sOut;
    EXPECT_TRUE(Has(version.sOut, "1.2.11")) << version.sOut;

    if (access("/usr/bin/lintian", X_OK) != 0)
        GTEST_SKIP() << "lintian is not installed (scripts/install-deps.sh tests installs it)";
    ChildRun lint = Shell("lintian --fail-on error " + sDeb + " 2>&1", true);
    EXPECT_EQ(lint.iExit, 0) << lint.sOut;
    EXPECT_FALSE(Has("\n" + lint.sOut, "\nE: ")) << lint.sOut;
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
        ChildRun cmp = RunChild({ "/usr/bin/cmp", vBuilds[0] + szProgram, vBuilds[1] + szProgram },
                                {}, nullptr, true);
        EXPECT_EQ(cmp.iExit, 0) << szProgram << ": " << cmp.sOut;
    }
}

/* Both pages, from the source and as installed (compressed): no warning from
 * man or groff at 80 columns, and the page's title and sections are there. */
TEST(Packaging, ManPagesRenderWithoutWarnings)
{
    if (access("/usr/bin/man", X_OK) != 0)
        GTEST_SKIP() << "man is not installed (Debian package man-db)";
    struct Page {
        const char *szFile, *szTitle;
    } aPages[] = {
        { ZOLT_SOURCE_DIR "/docs/man/zoltpeers.1", "ZOLTPEERS(1)" },
        { ZOLT_BUILD_DIR "/man/zoltpeers.1.gz", "ZOLTPEERS(1)" },
        { ZOLT_SOURCE_DIR "/docs/man/zoltcpu.linux.8", "ZOLTCPU.LINUX(8)" },
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
