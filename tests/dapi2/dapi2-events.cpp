/* Tests of the test events: exact data texts, progress throttle and percent filter
 * on a stand-in clock, engine commands put straight into the message table, the
 * time-out wait and the NLS token builders. */
#include <gtest/gtest.h>

#include <string.h>

#include "client-messaging-engine.h"
#include "dapi2/send-capture.h"

namespace {

uint32_t g_uFakeNow = 0, g_uClockStep = 0; /* the stand-in clock moves by the step at every read */
uint32_t FakeClock()
{
    return (g_uFakeNow += g_uClockStep) - g_uClockStep;
}

void Inject(const char *szData)
{
    std::string msg =
        std::string("<MSG><HDR><FROM>1</FROM><TO>2</TO><ID>9</ID><TYPE>DAPI_COMMAND</TYPE>"
                    "</HDR>") +
        szData + "</MSG>";
    ASSERT_EQ(ZoltClient_I_MoveMessagesToTable(&msg[0]), 0);
}

class Events : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        g_uFakeNow = 100000, g_uClockStep = 0, g_pfnDapi2EventClock = FakeClock;
        Dapi2_I_ResetEventState();
        strcpy(g_szProcessId, "77");
        while (ClientMessage *p = ZoltClientGetNextMessage(nullptr))
            ZoltClientFreeMessage(p);
    }
    void TearDown() override
    {
        CaptureTest::TearDown(), g_pfnDapi2EventClock = Dapi2_I_MonotonicMs;
    }
};

TEST_F(Events, DataTextsAndEnvelope)
{
    Dapi2_SetProgressInformation("step %d of %s", 3, "five");
    Dapi2_Informative("<NLS id=x />");
    Dapi2_Warning(3, "w%c", '!');
    Dapi2_Error(-7, "bad");
    Dapi2_SetTimeOut(45);
    Dapi2_ClearTimeOutCount();
    Dapi2_SetPercentDone(0);
    const char *aszExpect[] = {
        "<DATA><EVENT><TYPE>PROGRESS</TYPE><TESTPROCESSID>77</TESTPROCESSID><TEXT>step 3 of five</TEXT></EVENT></DATA>",
        "<DATA><EVENT><TYPE>INFO</TYPE><TESTPROCESSID>77</TESTPROCESSID><TEXT><NLS id=x /></TEXT><EVENTCODE>-1</EVENTCODE></EVENT></DATA>",
        "<DATA><EVENT><TYPE>WARN</TYPE><TESTPROCESSID>77</TESTPROCESSID><TEXT>w!</TEXT><EVENTCODE>3</EVENTCODE></EVENT></DATA>",
        "<DATA><EVENT><TYPE>ERROR</TYPE><TESTPROCESSID>77</TESTPROCESSID><TEXT>bad</TEXT><EVENTCODE>-7</EVENTCODE></EVENT></DATA>",
        "<DATA><EVENT><TYPE>SET_TIMEOUT</TYPE><TESTPROCESSID>77</TESTPROCESSID><TIMEOUT_VALUE>45</TIMEOUT_VALUE></EVENT></DATA>",
        "<DATA><EVENT><TYPE>CLEAR_TIMEOUT</TYPE><TESTPROCESSID>77</TESTPROCESSID></EVENT></DATA>",
        "<DATA><EVENT><TYPE>PERCENTDONE</TYPE><TESTPROCESSID>77</TESTPROCESSID><TEXT>0</TEXT></EVENT></DATA>",
    };
    ASSERT_EQ(g_sent.size(), sizeof aszExpect / sizeof aszExpect[0]);
    for (size_t i = 0; i < g_sent.size(); i++) {
        EXPECT_EQ(DataOf(g_sent[i]), aszExpect[i]) << i;
        EXPECT_EQ(Field(g_sent[i], "MSG/HDR/TYPE"), "DE_EVENT");
        EXPECT_EQ(Field(g_sent[i], "MSG/HDR/TO"), "DIAGENGINE");
    }
}

TEST_F(Events, OverlongTextIsCutOrNotSentAndSendFailureReported)
{
    /* beyond the 2048-byte message: not sent; beyond the 8192-byte text buffer:
     * cut, never overrun (ASan watches) */
    std::string big(2000, 'a'), huge(20000, 'b'), fits(1500, 'c');
    EXPECT_EQ(Dapi2_Error(1, "%s", big.c_str()), 0);
    EXPECT_EQ(Dapi2_I_SendEvent(("<DATA>" + big + "</DATA>").c_str()), DAPI2_ERR_MESSAGE);
    EXPECT_EQ(Dapi2_Warning(2, "%s", huge.c_str()), 0);
    EXPECT_TRUE(g_sent.empty());
    Dapi2_Informative("%s", fits.c_str());
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_NE(g_sent[0].find(fits + "</TEXT><EVENTCODE>-1</EVENTCODE></EVENT></DATA>"),
              std::string::npos);
    g_iSendResult = 1;
    EXPECT_EQ(Dapi2_Error(1, "x"), 0);
    EXPECT_EQ(Dapi2_I_SendEvent("<DATA>x</DATA>"), DAPI2_ERR_SEND);
}

TEST_F(Events, TimedProgressThrottle)
{
    struct {
        uint32_t uNow, uInterval;
        bool bSent;
    } aSteps[] = {
        { 100000, 1000, true } /* the first call always goes */,
        { 100500, 1000, false },
        { 101000, 1000, false } /* exactly the interval after the last one */,
        { 101001, 1000, true },
        { 0xFFFFFF00u, 0, true },
        { 0x00000010u, 100, true } /* the clock wrapped: 272 ms later */,
    };
    size_t uExpected = 0;
    for (auto &s : aSteps) {
        g_uFakeNow = s.uNow;
        EXPECT_EQ(Dapi2_SetProgressInformationTimed(s.uInterval, "p%u", g_uFakeNow), 0);
        uExpected += s.bSent;
        EXPECT_EQ(g_sent.size(), uExpected) << "at " << s.uNow;
    }
}

/* Which messages raise the stop flag or set the time-out (held to the int
 * range), and that every other message is dropped, the replay of the
 * dapi2-commands fuzz corpus checks against its reference. */
TEST_F(Events, StopCommandIsSticky)
{
    EXPECT_EQ(Dapi2_CheckForStop(), 0);
    Inject("<DATA><DAPICOMMANDTYPE>STOPTESTING</DAPICOMMANDTYPE></DATA>");
    EXPECT_EQ(Dapi2_CheckForStop() + Dapi2_CheckForStop(), 2);
}

TEST_F(Events, GetTimeOutWithAndWithoutAnswer)
{
    int iValue = -5;
    g_uClockStep = 100; /* every poll moves the stand-in clock by 100 ms */
    EXPECT_EQ(Dapi2_GetTimeOut(&iValue), DAPI2_ERR_SEND);
    EXPECT_EQ(iValue, 0);
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_EQ(
        DataOf(g_sent[0]),
        "<DATA><EVENT><TYPE>GET_TIMEOUT</TYPE><TESTPROCESSID>77</TESTPROCESSID></EVENT></DATA>");
    EXPECT_GE(g_uFakeNow - 100000, 2000u);
    /* an answer held from earlier is taken by the next wait, once */
    Inject("<DATA><DAPICOMMANDTYPE>SENDINGTIMEOUT</DAPICOMMANDTYPE><TIMEOUT_VALUE>30"
           "</TIMEOUT_VALUE></DATA>");
    Dapi2_CheckForIncomingMessages();
    EXPECT_EQ(Dapi2_GetTimeOut(&iValue), 0);
    EXPECT_EQ(iValue, 30);
    EXPECT_EQ(Dapi2_GetTimeOut(&iValue), DAPI2_ERR_SEND);
}

TEST_F(Events, TokenBuilders)
{
    /* variables go before "/>", the bare token's blank stays; "%s" keeps 64
     * characters; "*" takes no argument; under 2 type characters add nothing */
    EXPECT_STREQ(Dapi2_NlsTagToTokenVarMod("m", "i", "%f%c%04x%ld%5.1e", "a", 2.5, "b", 'q', "c",
                                           255, "d", -3, "e", 12.0),
                 "<NLS mod=m id=i  a=2.500000 b=q c=00ff d=-3 e=1.2e+01/>");
    EXPECT_EQ(std::string(Dapi2_NlsTagToTokenVarMod("m", "i", "%s%*d", "t",
                                                    std::string(70, 'z').c_str(), "n", 5)),
              "<NLS mod=m id=i  t=" + std::string(64, 'z') + " n=5/>");
    EXPECT_STREQ(Dapi2_NlsTagToTokenVarMod("m", "i", "%", "x", "y"), "<NLS mod=m id=i />");
}

}  // namespace
