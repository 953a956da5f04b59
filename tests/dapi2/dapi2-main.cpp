/* Tests of the framework's module entry: registration structure, the command
 * line rules, the module name from the process command line, Dapi2_Main's
 * statuses for runs that never reach the peers, and the notification texts.
 * Messages are captured at the framework's send seam. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "dapi2.h"
#include "message-protocol.h"

namespace {

std::vector<std::string> g_sent;
int g_iSendResult = 0;

int CaptureSend(const char *szMessage)
{
    g_sent.emplace_back(szMessage);
    return g_iSendResult;
}

struct Parsed {
    int iMode = -9, iDevice = -9, iTest = -9, iErrLimit = -9;
    float fPercent = -9.0f;
    std::string ref, deffile;
};

Parsed Parse(std::vector<std::string> words)
{
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(&w[0]);
    Parsed p;
    char szRef[DAPI2_REF_SIZE] = "unset";
    char szDef[DAPI2_PATH_SIZE] = "unset";
    EXPECT_EQ(Dapi2_ParseCommandLine((int)argv.size(), argv.data(), &p.iMode, szRef, sizeof szRef,
                                     szDef, sizeof szDef, &p.iDevice, &p.iTest, &p.fPercent,
                                     &p.iErrLimit), 0);
    p.ref = szRef;
    p.deffile = szDef;
    return p;
}

TEST(CommandLine, ModeWords)
{
    struct { std::vector<std::string> words; int iMode; } aCases[] = {
        {{"prog"}, DAPI2_MODE_NONE},
        {{"prog", "validate"}, DAPI2_MODE_VALIDATE},
        {{"prog", "enumerate"}, DAPI2_MODE_ENUMERATE},
        {{"prog", "run"}, DAPI2_MODE_RUNDIAG},
        {{"prog", "sysinfo"}, DAPI2_MODE_SYSINFO},
        {{"prog", "enumerate", "run"}, DAPI2_MODE_RUNDIAG},          /* last wins */
        {{"run", "x", "validate", "ref=run"}, DAPI2_MODE_VALIDATE},  /* argv[0] counts too */
        {{"prog", "Run", "runs", "run=1", " run"}, DAPI2_MODE_NONE}, /* exact, case-sensitive */
    };
    for (auto &c : aCases)
        EXPECT_EQ(Parse(c.words).iMode, c.iMode) << c.words.back();
}

TEST(CommandLine, KeysArePrefixesAndRepeatsOverwrite)
{
    Parsed p = Parse({"prog", "ref=first", "deffile=/a/b.ini", "device=12x", "test=-2",
                      "ref=second", "REF=no", "param=ref=no", "device=", "trace"});
    EXPECT_EQ(p.ref, "second");
    EXPECT_EQ(p.deffile, "/a/b.ini");
    EXPECT_EQ(p.iDevice, 0);      /* no digits give 0 */
    EXPECT_EQ(p.iTest, -2);
    EXPECT_EQ(p.iErrLimit, -9);   /* untouched without errlimit= */
    EXPECT_FLOAT_EQ(p.fPercent, -9.0f);

    Parse({"prog", "process=4711", "sfifo=/tmp/ZOLTFIFO_1"});
    EXPECT_STREQ(g_szProcessId, "4711");
    EXPECT_STREQ(g_szDapi2ServerFifoName, "/tmp/ZOLTFIFO_1");
}

TEST(CommandLine, PercentAndErrorLimitClamping)
{
    struct { const char *szWord; float fPercent; } aPercent[] = {
        {"percent=0", 100.0f}, {"percent=-5", 100.0f}, {"percent=250", 100.0f},
        {"percent=100", 100.0f}, {"percent=37.5", 37.5f}, {"percent=0.01", 0.01f},
        {"percent=abc", 100.0f}, {"percent=nan", 100.0f}, {"percent=100.5", 100.0f},
    };
    for (auto &c : aPercent)
        EXPECT_FLOAT_EQ(Parse({"prog", c.szWord}).fPercent, c.fPercent) << c.szWord;

    struct { const char *szWord; int iLimit; } aLimit[] = {
        {"errlimit=-1", 10000}, {"errlimit=0", 0}, {"errlimit=3", 3},
        {"errlimit=-99999", 10000}, {"errlimit=99999999999", 2147483647},
    };
    for (auto &c : aLimit)
        EXPECT_EQ(Parse({"prog", c.szWord}).iErrLimit, c.iLimit) << c.szWord;
}

TEST(CommandLine, OverlongTextsAreCutToTheirBuffers)
{
    std::string longRef(200, 'r'), longProc(100, 'p'), longPath(5000, 'f');
    Parsed p = Parse({"prog", "ref=" + longRef, "process=" + longProc, "deffile=" + longPath,
                      "sfifo=" + longPath});
    EXPECT_EQ(p.ref, std::string(DAPI2_REF_SIZE - 1, 'r'));
    EXPECT_EQ(p.deffile, std::string(DAPI2_PATH_SIZE - 1, 'f'));
    EXPECT_EQ(std::string(g_szProcessId), std::string(DAPI2_PROCESSID_SIZE - 1, 'p'));
    EXPECT_EQ(strlen(g_szDapi2ServerFifoName), (size_t)DAPI2_PATH_SIZE - 1);
}

TEST(Registration, SlotsAndSizeWord)
{
    Dapi2RegInfo *pReg = Dapi2_CreateRegistrationStructure();
    ASSERT_NE(pReg, nullptr);
    EXPECT_EQ(pReg->uSize, 52u);
    for (int i = 0; i <= DAPI2_SLOT_COUNT; i++)
        EXPECT_EQ(pReg->pfnSlot[i], nullptr);
    auto pfnA = reinterpret_cast<Dapi2Callback>(&Dapi2_GetErrorLimit);
    auto pfnB = reinterpret_cast<Dapi2Callback>(&Dapi2_GetPercentageToTest);
    EXPECT_EQ(Dapi2_AddRegistrationStructureCallback(pReg, 0, pfnA), DAPI2_ERR_BADARG);
    EXPECT_EQ(Dapi2_AddRegistrationStructureCallback(pReg, 13, pfnA), DAPI2_ERR_BADARG);
    EXPECT_EQ(Dapi2_AddRegistrationStructureCallback(nullptr, 1, pfnA), DAPI2_ERR_BADARG);
    EXPECT_EQ(Dapi2_AddRegistrationStructureCallback(pReg, 12, pfnA), 0);
    EXPECT_EQ(Dapi2_AddRegistrationStructureCallback(pReg, 12, pfnB), 0);
    EXPECT_EQ(pReg->pfnSlot[12], pfnB);   /* replaced */
    pReg->uSize = 51;
    EXPECT_EQ(Dapi2_AddRegistrationStructureCallback(pReg, 1, pfnA), DAPI2_ERR_BADARG);
    EXPECT_EQ(pReg->pfnSlot[1], nullptr);
    EXPECT_EQ(Dapi2_FreeRegistrationStructure(pReg), 0);
    EXPECT_EQ(Dapi2_FreeRegistrationStructure(nullptr), DAPI2_ERR_BADARG);
}

TEST(ModuleName, FromCommandLineFile)
{
    struct { const char *szFile; const char *szName; } aCases[] = {
        {"cmdline-linux", "zoltcpu.zmd"},
        {"cmdline-nolinux", "a.zmd"},      /* fallback: base name to its first "." */
        {"cmdline-bare", "zoltmod.zmd"},
        {"cmdline-ff", "c.zmd"},           /* a 0xFF byte ends the reading */
        {"cmdline-dirlinux", "x.zmd"},     /* the first ".linux" counts, wherever it is */
        {"cmdline-empty", nullptr},
        {"no-such-file", nullptr},
    };
    const char *szSaved = g_szDapi2CmdlinePath;
    for (auto &c : aCases) {
        std::string path = std::string(ZOLT_FIXTURES "/dapi2/") + c.szFile;
        g_szDapi2CmdlinePath = path.c_str();
        const char *szName = pidToProcName(1);
        if (c.szName == nullptr)
            EXPECT_EQ(szName, nullptr) << c.szFile;
        else
            EXPECT_STREQ(szName, c.szName) << c.szFile;
    }
    g_szDapi2CmdlinePath = ZOLT_FIXTURES "/dapi2/cmdline-empty";
    char szBase[16];
    EXPECT_STREQ(Dapi2_I_GetModuleBaseName(szBase, sizeof szBase), "zoltmodule");
    g_szDapi2CmdlinePath = ZOLT_FIXTURES "/dapi2/cmdline-linux";
    EXPECT_STREQ(Dapi2_I_GetModuleBaseName(szBase, sizeof szBase), "zoltcpu");
    g_szDapi2CmdlinePath = szSaved;
}

class MainStatus : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_sent.clear();
        g_iSendResult = 0;
        g_pfnDapi2SendMessage = CaptureSend;
        g_pReg = Dapi2_CreateRegistrationStructure();
    }
    void TearDown() override
    {
        Dapi2_FreeRegistrationStructure(g_pReg);
        g_pfnDapi2SendMessage = nullptr;
    }
    int Run(std::vector<std::string> words, Dapi2RegInfo *pReg)
    {
        std::vector<char *> argv;
        for (auto &w : words)
            argv.push_back(&w[0]);
        argv.push_back(nullptr);
        return Dapi2_Main((int)words.size(), argv.data(), pReg);
    }
    Dapi2RegInfo *g_pReg = nullptr;
};

int DummyValidate(int, Dapi2Device *) { return 0; }

TEST_F(MainStatus, RunsThatNeverReachThePeers)
{
    EXPECT_EQ(Run({"prog", "ref=x", "device=1"}, g_pReg), DAPI2_EXIT_NOMODE);
    EXPECT_EQ(g_Callback, DAPI2_MODE_NONE);
    EXPECT_EQ(Run({"prog", "enumerate"}, nullptr), DAPI2_EXIT_NOREG);
    EXPECT_EQ(Run({"prog", "validate", "test=1"}, g_pReg), DAPI2_EXIT_NOMODE);
    EXPECT_EQ(g_Callback, DAPI2_MODE_VALIDATE);
    EXPECT_EQ(Run({"prog", "sysinfo", "a", "b"}, g_pReg), DAPI2_EXIT_NOMODE);  /* short sysinfo */
    /* Run and validate refuse bad parameters before anything is sent. */
    const char *aszBad[] = {"param=ZOLT_DAPI2_PERCENT_TO_TEST,0", "param=ZOLT_DAPI2_PERCENT_TO_TEST,101",
                            "param=X", "param=X,"};
    for (const char *sz : aszBad)
        EXPECT_EQ(Run({"prog", "run", sz, "deffile=/nonexistent.ini"}, g_pReg), DAPI2_EXIT_BADPARAMS) << sz;
    Dapi2_AddRegistrationStructureCallback(g_pReg, DAPI2_SLOT_VALIDATE,
                                           reinterpret_cast<Dapi2Callback>(DummyValidate));
    EXPECT_EQ(Run({"prog", "validate", "param=X"}, g_pReg), DAPI2_EXIT_BADPARAMS);
    EXPECT_TRUE(g_sent.empty());
}

TEST_F(MainStatus, ModesGoOnToCommunications)
{
    /* With no broker FIFO the connection cannot open: 29 shows that the mode
     * got past its parameter checks. In validate mode an out-of-range
     * percentage is only marked, not refused. */
    const char *szNoBroker = "sfifo=/nonexistent-dir/ZOLTFIFO";
    Dapi2_AddRegistrationStructureCallback(g_pReg, DAPI2_SLOT_VALIDATE,
                                           reinterpret_cast<Dapi2Callback>(DummyValidate));
    EXPECT_EQ(Run({"prog", "validate", "param=ZOLT_DAPI2_PERCENT_TO_TEST,0", szNoBroker}, g_pReg),
              DAPI2_EXIT_NOCOMM);
    EXPECT_EQ(Run({"prog", "run", "param=ZOLT_DAPI2_PERCENT_TO_TEST,37.5", szNoBroker}, g_pReg),
              DAPI2_EXIT_NOCOMM);
    EXPECT_FLOAT_EQ(Dapi2_GetFloatPercentageToTest(), 37.5f);
    EXPECT_EQ(Dapi2_GetPercentageToTest(), 37);
    EXPECT_EQ(Run({"prog", "enumerate", "percent=250", "errlimit=-1", szNoBroker}, g_pReg),
              DAPI2_EXIT_NOCOMM);
    EXPECT_FLOAT_EQ(Dapi2_GetFloatPercentageToTest(), 100.0f);
    EXPECT_EQ(Dapi2_GetErrorLimit(), 10000);
    EXPECT_TRUE(g_sent.empty());
}

TEST_F(MainStatus, VersionPrintWithoutArguments)
{
    Dapi2_Version(1, 2, 11);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(Run({"prog"}, nullptr), 0);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "dapi2_dapi2-main 1.2.11\n");
    EXPECT_TRUE(g_sent.empty());
}

TEST(Notifications, TextsTypesAndResultWords)
{
    g_sent.clear();
    g_iSendResult = 0;
    g_pfnDapi2SendMessage = CaptureSend;
    Dapi2_Version(1, 2, 11);
    strcpy(g_szProcessId, "p9");
    EXPECT_EQ(Dapi2_SendNotification(DAPI2_NOTIFY_STARTUP, "REF42"), 0);
    EXPECT_EQ(Dapi2_SendNotification(DAPI2_NOTIFY_SHUTDOWN, nullptr), 0);
    struct { int iResult; const char *szWord; } aResults[] = {
        {0, "PASS"}, {1, "SETUPERROR"}, {2, "FAIL"}, {3, "BUSY"}, {4, "PRIVILEGEERROR"},
        {5, "NOTAPPLICABLE"}, {6, "BADPARAMS"}, {7, "NOMEDIA"}, {8, "DISCONTINUED"},
        {9, "SETUPERROR"}, {11, "SETUPERROR"}, {12, "SETUPERROR"}, {-1, "SETUPERROR"},
    };
    for (auto &r : aResults)
        EXPECT_EQ(Dapi2_SendNotification(DAPI2_NOTIFY_TESTRESULT, (const void *)(intptr_t)r.iResult), 0);
    EXPECT_EQ(Dapi2_SendNotification(3, nullptr), DAPI2_ERR_BAD_NOTIFY);
    EXPECT_EQ(Dapi2_SendNotification(-1, nullptr), DAPI2_ERR_BAD_NOTIFY);
    ASSERT_EQ(g_sent.size(), 2 + sizeof aResults / sizeof aResults[0]);

    auto field = [](const std::string &m, const char *szPath) {
        char sz[200];
        return ZoltXmlGetField(m.c_str(), szPath, 0, sz, sizeof sz) == 0 ? std::string(sz) : "<missing>";
    };
    EXPECT_NE(g_sent[0].find("<DATA><STARTUP>REF42</STARTUP><VERSION>1.2.11</VERSION></DATA>"),
              std::string::npos);
    EXPECT_EQ(field(g_sent[0], "MSG/HDR/TYPE"), "REF42");
    EXPECT_NE(g_sent[1].find("<DATA>SHUTDOWN</DATA>"), std::string::npos);
    EXPECT_EQ(field(g_sent[1], "MSG/HDR/TYPE"), "DE_NOTIFY");
    for (size_t i = 0; i < sizeof aResults / sizeof aResults[0]; i++) {
        const std::string &m = g_sent[2 + i];
        EXPECT_NE(m.find(std::string("<DATA><TESTRESULT>") + aResults[i].szWord +
                         "</TESTRESULT><TESTPROCESSID>p9</TESTPROCESSID></DATA>"), std::string::npos) << m;
        EXPECT_EQ(field(m, "MSG/HDR/TYPE"), "DE_NOTIFY");
        EXPECT_EQ(field(m, "MSG/HDR/TO"), "DIAGENGINE");
    }
    /* A startup text that would not fit the data buffer is refused, not cut;
     * a failed send is reported. */
    EXPECT_EQ(Dapi2_SendNotification(DAPI2_NOTIFY_STARTUP, std::string(120, 'r').c_str()),
              DAPI2_ERR_MESSAGE);
    g_iSendResult = 1;
    EXPECT_EQ(Dapi2_SendNotification(DAPI2_NOTIFY_SHUTDOWN, nullptr), DAPI2_ERR_SEND);
    g_pfnDapi2SendMessage = nullptr;
}

TEST(ModuleVersion, UndeclaredIsInvalid)
{
    EXPECT_EQ(Dapi2_I_IsValidModuleVersion("-1024.-1024.-1024"), 0);
    EXPECT_EQ(Dapi2_I_IsValidModuleVersion("-1024.-1024.5"), 1);
    EXPECT_EQ(Dapi2_I_IsValidModuleVersion("1.2.11"), 1);
    EXPECT_EQ(Dapi2_I_IsValidModuleVersion("-1024.7.-1024"), 1);
}

}  // namespace
