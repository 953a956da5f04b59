/* engine.cpp - the stand-in diagnostic engine without FIFOs: what it records,
 * its answers (device lists by RE, GET_TIMEOUT, STOPTESTING) and command lines. */
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "engine.h"
#include "message-protocol.h"
#include "session.h"

static const std::string s_sModuleIni = std::string(ZOLT_SOURCE_DIR) + "/zoltcpu/zoltcpu.ini";

struct Sent {
    long lTo;
    std::string sMsg;
};

static int CaptureSend(void *pCtx, long lToPid, const std::string &sMessage)
{
    ((std::vector<Sent> *)pCtx)->push_back({ lToPid, sMessage });
    return 0;
}

/* A message from process 812 as the framework builds it. */
static std::string From812(const char *szType, const char *szData)
{
    return "<MSG><HDR><FROM>812</FROM><TO>DIAGENGINE</TO><ID>9</ID><TYPE>" + std::string(szType) +
           "</TYPE><TIME>20240305140709000</TIME></HDR>" + szData + "</MSG>";
}

static std::string Field(const std::string &sMsg, const char *szPath)
{
    std::string s;
    return PeersGetField(sMsg.c_str(), szPath, 0, s) == 0 ? s : "(none)";
}

class PeersEngineTest : public ::testing::Test {
protected:
    PeersOptions m_opt;
    PeersNls m_nls;
    PeersEngine m_engine;
    PeersInvocation m_inv;
    std::vector<Sent> m_sent;

    void SetUp() override
    {
        PeersOptionsInit(&m_opt);
        PeersNlsInit(&m_nls, s_sModuleIni.c_str());
        PeersEngineInit(&m_engine, &m_opt, &m_nls, CaptureSend, &m_sent);
        PeersInvocationInit(&m_inv, "run");
        m_inv.lPid = 812;
        m_engine.pCur = &m_inv;
    }
    int Handle(const char *szType, const char *szData)
    {
        return PeersEngineHandleMessage(&m_engine, From812(szType, szData).c_str(), 812, "zoltcpu");
    }
};

TEST_F(PeersEngineTest, RecordsARunAndTranslatesItsEvents)
{
    EXPECT_EQ(Handle("REF_RUN", "<DATA><STARTUP>REF_RUN</STARTUP><VERSION>1.2.11</VERSION></DATA>"),
              0);
    EXPECT_EQ(Handle("DE_EVENT",
                     "<DATA><EVENT><TYPE>PERCENTDONE</TYPE><TESTPROCESSID>4</TESTPROCESSID>"
                     "<TEXT>25</TEXT></EVENT></DATA>"),
              0);
    EXPECT_EQ(Handle("DE_EVENT",
                     "<DATA><EVENT><TYPE>ERROR</TYPE><TESTPROCESSID>4</TESTPROCESSID><TEXT>"
                     "<NLS mod=zoltcpu.zmd id=szErrorMMX10_10  instruction=PADD errno=7/></TEXT>"
                     "<EVENTCODE>10</EVENTCODE></EVENT></DATA>"),
              0);
    EXPECT_EQ(Handle("DE_NOTIFY",
                     "<DATA><TESTRESULT>FAIL</TESTRESULT><TESTPROCESSID>4</TESTPROCESSID></DATA>"),
              0);
    EXPECT_EQ(Handle("DE_NOTIFY", "<DATA>SHUTDOWN</DATA>"), 0);
    EXPECT_EQ(Handle("SOMETHING_NEW", "<DATA>x</DATA>"), 1);
    EXPECT_EQ(PeersEngineHandleMessage(&m_engine, "<STOP></STOP>", 812, ""), 2);

    EXPECT_EQ(m_inv.sStartupType + " " + m_inv.sVersion, "REF_RUN 1.2.11");
    EXPECT_EQ(m_inv.sResultWord, "FAIL");
    EXPECT_EQ(m_inv.vPercents, std::vector<int>{ 25 });
    ASSERT_EQ(m_inv.vEvents.size(), 2u);
    EXPECT_EQ(m_inv.vEvents[1].sType + " " + std::to_string(m_inv.vEvents[1].iCode), "ERROR 10");
    EXPECT_EQ(m_inv.vEvents[1].sEnglish, "MMX PADD instruction test failed (fault mask 7)");
    EXPECT_TRUE(m_sent.empty());

    /* another process is answered but not recorded */
    EXPECT_EQ(PeersEngineHandleMessage(
                  &m_engine, From812("DE_NOTIFY", "<DATA>SHUTDOWN</DATA>").c_str(), 999, ""),
              0);
    EXPECT_EQ(m_inv.vEvents.size(), 2u);
}

TEST_F(PeersEngineTest, DeviceListsAnswerByReFromTheLastEnumeration)
{
    EXPECT_EQ(
        Handle(
            "DE_ENUMDATA",
            "<DATA><DEVICE><DID>0</DID><NAME>CPU:0</NAME><HWLOCATOR>CPU:0</HWLOCATOR>"
            "<TESTS_SUPPORTED>*</TESTS_SUPPORTED></DEVICE><DEVICE><DID>1</DID><NAME>CPU:1</NAME>"
            "<HWLOCATOR>CPU:1</HWLOCATOR><TESTS_SUPPORTED>1,2,4</TESTS_SUPPORTED></DEVICE></DATA>"),
        0);
    ASSERT_EQ(m_inv.vDevices.size(), 2u);
    EXPECT_EQ(m_inv.vDevices[1].sTests, "1,2,4");
    ASSERT_NE(PeersEngineGetDevices(&m_engine, "ZOLTCPU"), nullptr);

    /* request, split, silent; what is sent: its receiver, TO and RE, then C for each
     * component and D for each device of the answer */
    struct Case {
        const char *szRequest;
        int bSplit, bSilent;
        const char *szSent;
    } aCases[] = {
        { "LIST_DEVICES:zoltcpu", 0, 0, "812 812 9 CDD" },
        { "LIST_SYSINFO_DEVICES:zoltcpu", 0, 0, "812 812 9 CDD" },
        { "LIST_DEVICES:zoltcpu", 1, 0, "812 812 9 CDCD" }, /* one component per device */
        { "LIST_DEVICES:other", 0, 0, "812 812 9 C" },      /* unknown module: empty component */
        { "LIST_DEVICES:zoltcpu", 0, 1, "" },               /* never answered */
    };
    static const std::regex s_reParts("<(COMPONENT|DEVICE)>");
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.szRequest);
        m_sent.clear();
        m_engine.bSplitComponents = c.bSplit;
        m_opt.bNoDeviceList = c.bSilent;
        EXPECT_EQ(Handle("DE_COMMAND", (std::string("<DATA>") + c.szRequest + "</DATA>").c_str()),
                  0);
        std::string sSent;
        for (const Sent &sent : m_sent) {
            const std::string &s = sent.sMsg;
            sSent += std::to_string(sent.lTo) + " " + Field(s, "MSG/HDR/TO") + " " +
                     Field(s, "MSG/HDR/RE") + " ";
            for (std::sregex_iterator it(s.begin(), s.end(), s_reParts), end; it != end; ++it)
                sSent += (*it)[1].str()[0];
        }
        EXPECT_EQ(sSent, c.szSent);
    }
    EXPECT_EQ(m_inv.iDeviceListRequests, 5);
}

TEST_F(PeersEngineTest, TimedAnswersAndStops)
{
    /* a delayed device list leaves only when due; a service round waits no
     * longer than until then */
    m_opt.iDeviceListDelayMs = 500;
    EXPECT_EQ(Handle("DE_COMMAND", "<DATA>LIST_DEVICES:zoltcpu</DATA>"), 0);
    EXPECT_TRUE(m_sent.empty());
    ASSERT_EQ(m_engine.vPending.size(), 1u);
    unsigned long long ullDue = m_engine.vPending[0].ullDueMs;
    EXPECT_EQ(PeersEngineWaitMs(&m_engine, ullDue - 7), 7);
    EXPECT_EQ(PeersEngineTick(&m_engine, ullDue - 1), 0);
    EXPECT_EQ(PeersEngineTick(&m_engine, ullDue), 1);
    ASSERT_EQ(m_sent.size(), 1u);
    EXPECT_EQ(Field(m_sent[0].sMsg, "MSG/HDR/TYPE"), PEERS_TYPE_DEVICE_LIST);

    /* stop 200 ms after the startup notification, once */
    m_sent.clear();
    m_opt.iStopAfterMs = 200;
    EXPECT_EQ(Handle("REF", "<DATA><STARTUP>REF</STARTUP><VERSION>1.2.11</VERSION></DATA>"), 0);
    EXPECT_EQ(PeersEngineWaitMs(&m_engine, m_inv.ullStartupNoteMs + 190), 10);
    EXPECT_EQ(PeersEngineTick(&m_engine, m_inv.ullStartupNoteMs + 199), 0);
    EXPECT_EQ(PeersEngineTick(&m_engine, m_inv.ullStartupNoteMs + 200), 1);
    EXPECT_EQ(PeersEngineTick(&m_engine, m_inv.ullStartupNoteMs + 400), 0);
    ASSERT_EQ(m_sent.size(), 1u);
    EXPECT_EQ(Field(m_sent[0].sMsg, "MSG/DATA/DAPICOMMANDTYPE"), "STOPTESTING");

    /* GET_TIMEOUT: answered with the configured value */
    m_sent.clear();
    m_opt.iTimeoutValue = 30;
    EXPECT_EQ(
        Handle(
            "DE_EVENT",
            "<DATA><EVENT><TYPE>GET_TIMEOUT</TYPE><TESTPROCESSID>4</TESTPROCESSID></EVENT></DATA>"),
        0);
    ASSERT_EQ(m_sent.size(), 1u);
    EXPECT_EQ(Field(m_sent[0].sMsg, "MSG/DATA/DAPICOMMANDTYPE"), "SENDINGTIMEOUT");
    EXPECT_EQ(Field(m_sent[0].sMsg, "MSG/DATA/TIMEOUT_VALUE"), "30");
}

TEST_F(PeersEngineTest, RecordsTheValidationResponse)
{
    /* the module's form, its answer text inside the message's DATA, and a plain one */
    const char *szResults =
        "<PARAM_VALIDATION_RESULTS><PARAMETER><ID>A</ID><VALID_FLAG>valid</VALID_FLAG>"
        "<MIN_VALUE>0</MIN_VALUE><MAX_VALUE>10</MAX_VALUE></PARAMETER><PARAMETER><ID>B</ID>"
        "<VALID_FLAG>value too big</VALID_FLAG></PARAMETER></PARAM_VALIDATION_RESULTS>";
    for (const std::string &sData : { "<DATA><DATA>" + std::string(szResults) + "</DATA></DATA>",
                                      "<DATA>" + std::string(szResults) + "</DATA>" }) {
        m_inv.vParams.clear();
        EXPECT_EQ(Handle("TRANSACTION_RESPONSE", sData.c_str()), 0);
        ASSERT_EQ(m_inv.vParams.size(), 2u) << sData;
        EXPECT_TRUE(m_inv.vParams[0].bHasMax && !m_inv.vParams[1].bHasMin);
        EXPECT_EQ(m_inv.vParams[0].sMax, "10");
        EXPECT_EQ(m_inv.vParams[1].sValidFlag, "value too big");
    }
}

/* A long answer is parsed whole, unless zoltpeers is interrupted or the
 * module's time limit passes during the parse: then it is not recorded. */
TEST_F(PeersEngineTest, LongAnswersAreCutByAnInterruptionOrTheLimit)
{
    std::string asData[3];
    for (int i = 0; i < 5000; i++) {
        std::string sI = std::to_string(i);
        asData[0] += "<DEVICE><DID>" + sI + "</DID><NAME>CPU:" + sI + "</NAME></DEVICE>";
        asData[1] += "<DEVICE><SYSINFO><SYSINFO_KEY>k" + sI + "</SYSINFO_KEY></SYSINFO></DEVICE>";
        asData[2] += "<PARAMETER><ID>p" + sI + "</ID></PARAMETER>";
    }
    asData[2] = "<PARAM_VALIDATION_RESULTS>" + asData[2] + "</PARAM_VALIDATION_RESULTS>";
    const char *aszTypes[] = { "DE_ENUMDATA", "SYSINFO_RETURNED", "TRANSACTION_RESPONSE" };
    for (int iCut : { 0, 1, 2 }) { /* none, an interruption, the limit passed */
        for (int k = 0; k < 3; k++) {
            SCOPED_TRACE(std::to_string(iCut) + " " + aszTypes[k]);
            PeersInvocationInit(&m_inv, "enumerate");
            m_inv.lPid = 812;
            m_inv.ullStartMs = PeersNowMs() - (iCut == 2 ? 10000 : 0);
            m_opt.iModuleLimitMs = 5000;
            g_iPeersInterrupted = iCut == 1 ? 2 : 0;
            EXPECT_EQ(Handle(aszTypes[k], ("<DATA>" + asData[k] + "</DATA>").c_str()), 0);
            g_iPeersInterrupted = 0;
            const size_t auRecorded[] = { m_inv.bEnumData ? m_inv.vDevices.size() : 0,
                                          m_inv.bSysInfo ? m_inv.vSysInfo.size() : 0,
                                          m_inv.bValidation ? m_inv.vParams.size() : 0 };
            EXPECT_EQ(auRecorded[k], iCut == 0 ? 5000u : 0u);
        }
    }
}

TEST(PeersSupportedTests, StarMeansAllListsCountFromOne)
{
    EXPECT_EQ(PeersSupportedTests("*"), (std::vector<int>{ 0, 1, 2, 3 }));
    EXPECT_EQ(PeersSupportedTests(""), (std::vector<int>{ 0, 1, 2, 3 }));
    EXPECT_EQ(PeersSupportedTests("1,2,4"), (std::vector<int>{ 0, 1, 3 }));
    EXPECT_EQ(PeersSupportedTests(" 3 , x,0"), (std::vector<int>{ 2 }));
}

TEST(PeersCommandLines, EveryModeCarriesItsWords)
{
    EXPECT_EQ(
        PeersRunArgs("/m.linux", "/d.ini", "R1", 0, 3, "7", "/p/ZOLTFIFO", { "ERRLIMIT,2" }, 2),
        (std::vector<std::string>{ "/m.linux", "run", "ref=R1", "deffile=/d.ini", "device=0",
                                   "test=3", "process=7", "sfifo=/p/ZOLTFIFO", "param=ERRLIMIT,2",
                                   "errlimit=2" }));
    EXPECT_EQ(PeersSysInfoArgs("/m.linux", 812, 5, "CPU:0", "/d.ini", "zoltcpu"),
              (std::vector<std::string>{ "/m.linux", "sysinfo", "812", "5", "CPU:0", "/d.ini",
                                         "zoltcpu" }));
    std::vector<std::string> v =
        PeersValidateArgs("/m.linux", "/d.ini", "R2", 1, 2, "8", "/p/F", 812, 6, {});
    EXPECT_EQ(v[1], "validate");
    EXPECT_NE(std::find(v.begin(), v.end(), "senderpid=812"), v.end());
    EXPECT_NE(std::find(v.begin(), v.end(), "reid=6"), v.end());
    EXPECT_EQ(PeersEnumerateArgs("/m.linux", "/d.ini", "R3", "/p/F")[1], "enumerate");
}
