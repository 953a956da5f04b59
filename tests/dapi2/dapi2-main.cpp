/* Tests of the module entry: registration slots, Dapi2_Main's statuses for
 * runs that never reach the peers, notification texts. */
#include <gtest/gtest.h>

#include <string.h>

#include "dapi2/send-capture.h"

namespace {

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

/* Statuses of runs that never reach the peers (the end-to-end tests hold the
 * rest): the version print without words; 30 for no known mode, validate
 * without its callback and too few sysinfo words; 31 for refused parameters;
 * 28 without registration, none of them sending anything; 29 (no broker FIFO)
 * once a mode got past its parameter checks. */
using MainStatus = CaptureTest;
TEST_F(MainStatus, RunsThatNeverReachThePeers)
{
    Dapi2_Version(1, 2, 11);
    g_szDapi2CmdlinePath = ZOLT_FIXTURES "/dapi2/cmdline-linux"; /* module zoltcpu */
    Dapi2RegInfo *pReg = Dapi2_CreateRegistrationStructure();
    const std::string fifo = "sfifo=/none/ZOLTFIFO", /* no broker */
        noIni = "deffile=/nonexistent.ini", pct = "param=" DAPI2_PERCENT_TO_TEST_ID ",";
    const int N = -1; /* not looked at */
    struct {
        std::vector<std::string> words;
        int iStatus;
        const char *szErr;
        float fPercent;
        int iLimit;
    } aCases[] = {
        { { "p" }, DAPI2_EXIT_OK, "zoltcpu 1.2.11\n", N, N },
        { { "p", "foo" }, DAPI2_EXIT_NOMODE, "", N, N },
        { { "p", "validate", "test=0", fifo }, DAPI2_EXIT_NOMODE, "", N, N },
        { { "p", "sysinfo", "812", "1" }, DAPI2_EXIT_NOMODE, "", N, N },
        { { "p", "run", "param=X,", noIni }, DAPI2_EXIT_BADPARAMS, "", N, N },
        { { "p", "run", pct + "101", fifo }, DAPI2_EXIT_BADPARAMS, "", N, N },
        { { "p", "run", pct + "37.5", "errlimit=4", fifo }, DAPI2_EXIT_NOCOMM, "", 37.5f, 4 },
        { { "p", "enumerate", "percent=5", "errlimit=9", fifo }, DAPI2_EXIT_NOCOMM, "", 5.0f, 9 },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.words.back());
        std::vector<char *> argv = Argv(c.words);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Dapi2_Main((int)c.words.size(), argv.data(), pReg), c.iStatus);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.szErr);
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
}

using Notifications = CaptureTest;
TEST_F(Notifications, TextsTypesAndResultWords)
{
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
}

}  // namespace
