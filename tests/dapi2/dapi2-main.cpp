/* Tests of the module entry: command line, registration slots, module name,
 * Dapi2_Main's statuses for runs that never reach the peers, notification texts. */
#include <gtest/gtest.h>

#include <string.h>

#include "dapi2/send-capture.h"

namespace {

std::vector<char *> Argv(std::vector<std::string> &words)
{
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    return argv;
}

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

TEST(Registration, SlotRangeAndSizeWord)
{
    Dapi2RegInfo *pReg = Dapi2_CreateRegistrationStructure();
    auto pfn = reinterpret_cast<Dapi2Callback>(&Dapi2_GetErrorLimit);
    EXPECT_EQ(Dapi2_AddRegistrationStructureCallback(pReg, 0, pfn), DAPI2_ERR_BADARG);
    EXPECT_EQ(Dapi2_AddRegistrationStructureCallback(pReg, 13, pfn), DAPI2_ERR_BADARG);
    EXPECT_EQ(Dapi2_AddRegistrationStructureCallback(pReg, 12, pfn), 0);
    pReg->uSize = 51; /* an older, smaller structure */
    EXPECT_EQ(Dapi2_AddRegistrationStructureCallback(pReg, 1, pfn), DAPI2_ERR_BADARG);
    EXPECT_EQ(Dapi2_FreeRegistrationStructure(pReg), 0);
}

TEST(ModuleName, FromCommandLineFile)
{
    struct {
        const char *szFile;
        const char *szName;
    } aCases[] = {
        { "cmdline-linux", "zoltcpu.zmd" },
        { "cmdline-nolinux", "a.zmd" }, /* fallback: base name to its first "." */
        { "cmdline-ff", "c.zmd" },      /* a 0xFF byte ends the reading */
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

int DummyValidate(int, Dapi2Device *)
{
    return 0;
}

/* Statuses that need no peers (the real binary's tests hold the rest): 28 and
 * 31 before anything is sent, 29 (no broker FIFO) once a mode got past its
 * parameter checks. */
TEST(MainStatus, RunsThatNeverReachThePeers)
{
    StartCapture();
    Dapi2RegInfo *pReg = Dapi2_CreateRegistrationStructure();
    Dapi2_AddRegistrationStructureCallback(pReg, DAPI2_SLOT_VALIDATE,
                                           reinterpret_cast<Dapi2Callback>(DummyValidate));
    const std::string noBroker = "sfifo=/nonexistent-dir/ZOLTFIFO",
                      noIni = "deffile=/nonexistent.ini";
    struct {
        std::vector<std::string> words;
        int iStatus;
        float fPercent;
        int iLimit;
    } aCases[] = {
        { { "prog", "run", "param=X,", noIni }, DAPI2_EXIT_BADPARAMS, -1, -1 },
        { { "prog", "run", "param=ZOLT_DAPI2_PERCENT_TO_TEST,37.5", "errlimit=4", noBroker },
          DAPI2_EXIT_NOCOMM,
          37.5f,
          4 },
        { { "prog", "enumerate", "percent=250", "errlimit=-1", noBroker },
          DAPI2_EXIT_NOCOMM,
          100.0f,
          10000 },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.words[1] + " " + c.words[2]);
        std::vector<char *> argv = Argv(c.words);
        EXPECT_EQ(Dapi2_Main((int)c.words.size(), argv.data(), pReg), c.iStatus);
        if (c.iStatus == DAPI2_EXIT_NOCOMM) {
            EXPECT_FLOAT_EQ(Dapi2_GetFloatPercentageToTest(), c.fPercent);
            EXPECT_EQ(Dapi2_GetPercentageToTest(), (int)c.fPercent);
            EXPECT_EQ(Dapi2_GetErrorLimit(), c.iLimit);
        }
    }
    std::vector<std::string> words = { "prog", "enumerate" };
    std::vector<char *> argv = Argv(words);
    EXPECT_EQ(Dapi2_Main(2, argv.data(), nullptr), DAPI2_EXIT_NOREG);
    EXPECT_TRUE(g_sent.empty());
    Dapi2_FreeRegistrationStructure(pReg);
    g_pfnDapi2SendMessage = nullptr;
}

TEST(Notifications, TextsTypesAndResultWords)
{
    StartCapture();
    Dapi2_Version(1, 2, 11);
    strcpy(g_szProcessId, "p9");
    EXPECT_EQ(Dapi2_SendNotification(DAPI2_NOTIFY_STARTUP, "REF42"), 0);
    EXPECT_EQ(Dapi2_SendNotification(DAPI2_NOTIFY_SHUTDOWN, nullptr), 0);
    for (int iResult : { 2, 8, 12, -1 })
        EXPECT_EQ(Dapi2_SendNotification(DAPI2_NOTIFY_TESTRESULT, (const void *)(intptr_t)iResult),
                  0);
    EXPECT_EQ(Dapi2_SendNotification(3, nullptr), DAPI2_ERR_BAD_NOTIFY);
    std::string strGot; /* TYPE: DATA, one per line */
    for (auto &m : g_sent)
        strGot += Field(m, "MSG/HDR/TYPE") + ": " + DataOf(m) + "\n";
    auto Result = [](const char *szWord) {
        return std::string("DE_NOTIFY: <DATA><TESTRESULT>") + szWord +
               "</TESTRESULT><TESTPROCESSID>p9</TESTPROCESSID></DATA>\n";
    };
    EXPECT_EQ(strGot, "REF42: <DATA><STARTUP>REF42</STARTUP><VERSION>1.2.11</VERSION></DATA>\n"
                      "DE_NOTIFY: <DATA>SHUTDOWN</DATA>\n" +
                          Result("FAIL") + Result("DISCONTINUED") + Result("SETUPERROR") +
                          Result("SETUPERROR"));
    EXPECT_EQ(Field(g_sent.back(), "MSG/HDR/TO"), "DIAGENGINE");
    /* A startup text too long for the data buffer is refused, not cut. */
    EXPECT_EQ(Dapi2_SendNotification(DAPI2_NOTIFY_STARTUP, std::string(120, 'r').c_str()),
              DAPI2_ERR_MESSAGE);
    g_pfnDapi2SendMessage = nullptr;
}

}  // namespace
