/* Tests of the run settings: the command line's mode words, keys, clamping and
 * over-long texts, and the module name read from the command-line file. */
#include <gtest/gtest.h>

#include <string.h>

#include "dapi2/send-capture.h"

namespace {

struct Parsed {
    int iMode = -9, iDevice = -9, iTest = -9, iErrLimit = -9;
    float fPercent = -9.0f;
    std::string ref, deffile;
};

Parsed Parse(std::vector<std::string> words)
{
    std::vector<char *> argv = Argv(words);
    Parsed p;
    char szRef[DAPI2_REF_SIZE] = "unset", szDef[DAPI2_PATH_SIZE] = "unset";
    EXPECT_EQ(Dapi2_ParseCommandLine((int)words.size(), argv.data(), &p.iMode, szRef, sizeof szRef,
                                     szDef, sizeof szDef, &p.iDevice, &p.iTest, &p.fPercent,
                                     &p.iErrLimit),
              0);
    p.ref = szRef, p.deffile = szDef;
    return p;
}

/* Mode words: exact, case-sensitive, the last one wins, argv[0] counts too.
 * percent= outside (0, 100] gives 100; a negative errlimit= gives 10000. */
TEST(CommandLine, ModeWordsAndClamping)
{
    const int N = -9; /* left untouched */
    struct {
        std::vector<std::string> words;
        int iMode;
        float fPercent;
        int iLimit;
    } aCases[] = {
        { { "prog", "sysinfo" }, DAPI2_MODE_SYSINFO, N, N },
        { { "prog", "enumerate", "run" }, DAPI2_MODE_RUNDIAG, N, N },
        { { "run", "x", "validate", "ref=run" }, DAPI2_MODE_VALIDATE, N, N },
        { { "enumerate", "x" }, DAPI2_MODE_ENUMERATE, N, N },
        { { "prog", "Run", "runs", "run=1", " run" }, DAPI2_MODE_NONE, N, N },
        { { "p", "percent=0", "errlimit=-1" }, DAPI2_MODE_NONE, 100.0f, 10000 },
        { { "p", "percent=100.5", "errlimit=3" }, DAPI2_MODE_NONE, 100.0f, 3 },
        { { "p", "percent=100", "errlimit=99999999999" }, DAPI2_MODE_NONE, 100.0f, 2147483647 },
        { { "p", "percent=nan" }, DAPI2_MODE_NONE, 100.0f, N },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.words.back());
        Parsed p = Parse(c.words);
        EXPECT_EQ(p.iMode, c.iMode);
        EXPECT_FLOAT_EQ(p.fPercent, c.fPercent);
        EXPECT_EQ(p.iErrLimit, c.iLimit);
    }
}

TEST(CommandLine, PrefixKeysRepeatsAndOverlongTexts)
{
    Parsed p = Parse({ "prog", "ref=first", "deffile=/a/b.ini", "device=12x", "test=-2",
                       "ref=second", "REF=no", "param=ref=no", "device=", "trace" });
    EXPECT_EQ(p.ref + "|" + p.deffile, "second|/a/b.ini");
    EXPECT_EQ(std::make_pair(p.iDevice, p.iTest), std::make_pair(0, -2)); /* no digits give 0 */

    std::string longPath(5000, 'f');
    p = Parse({ "prog", "ref=" + std::string(200, 'r'), "process=" + std::string(100, 'p'),
                "deffile=" + longPath, "sfifo=" + longPath });
    EXPECT_EQ(p.ref, std::string(DAPI2_REF_SIZE - 1, 'r'));
    EXPECT_EQ(p.deffile, std::string(DAPI2_PATH_SIZE - 1, 'f'));
    EXPECT_EQ(std::string(g_szProcessId), std::string(DAPI2_PROCESSID_SIZE - 1, 'p'));
    EXPECT_EQ(strlen(g_szDapi2ServerFifoName), (size_t)DAPI2_PATH_SIZE - 1);
}

/* More command lines (a 0xFF byte, empty files) are in the proc-files fuzz corpus. */
TEST(ModuleName, FromCommandLineFile)
{
    struct {
        const char *szFile;
        const char *szName;
    } aCases[] = {
        { "cmdline-linux", "zoltcpu.zmd" },
        { "cmdline-nolinux", "a.zmd" }, /* fallback: base name to its first "." */
        { "no-such-file", nullptr },
    };
    const char *szSaved = g_szDapi2CmdlinePath;
    for (auto &c : aCases) {
        std::string path = std::string(ZOLT_FIXTURES "/dapi2/") + c.szFile;
        g_szDapi2CmdlinePath = path.c_str();
        EXPECT_STREQ(pidToProcName(1), c.szName) << c.szFile;
    }
    char szBase[16];
    g_szDapi2CmdlinePath = ZOLT_FIXTURES "/dapi2/cmdline-empty";
    EXPECT_STREQ(Dapi2_I_GetModuleBaseName(szBase, sizeof szBase), "zoltmodule");
    g_szDapi2CmdlinePath = szSaved;
}

}  // namespace
