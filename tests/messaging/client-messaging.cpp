/* client-messaging.cpp - tests of the client message table over a real FIFO
 * pair: finds, waits and their deadline, transactions matched by RE, flushing
 * and the enumeration end. */
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <vector>

#include "client-connection-manager.h"
#include "client-messaging-engine.h"
#include "common/test-peer.h"
#include "message-protocol.h"
#include "pipe-lowlevel.h"
#include "zolt-time.h"

namespace {

using zolttest::Field;
using zolttest::MakeMsg;

/* As the table keeps it: without CR LF. */
std::string Bare(const std::string &s)
{
    return s.substr(0, s.size() - 2);
}

class MessageTable : public ::testing::Test {
protected:
    zolttest::RawConnection conn;
    unsigned long ulMsgNo = 1;
    zolttest::FrameReader brokerReader;

    void SetUp() override
    {
        ASSERT_EQ(conn.Open(), "");
    }
    /* Sends sText to the module as one message of the FIFO protocol. */
    void Deliver(const std::string &sText)
    {
        ASSERT_TRUE(
            zolttest::WriteAll(conn.hToClient, zolttest::MakeFrames(sText, ulMsgNo++, 4242)));
    }
    std::string SentToBroker()
    {
        std::string s;
        return brokerReader.Read(conn.hBroker, 2000, &s) == 1 ? s : "";
    }
    /* A LIST_DEVICES request and its ID. */
    std::string Request(long *plId)
    {
        CGenStr s;
        EXPECT_TRUE(CGenStrInit(&s));
        EXPECT_EQ(ZoltClientCreateDiagnosticEngineCommandStr("LIST_DEVICES:zoltcpu", NULL, &s), 0);
        std::string sReq = CGenStrC_Str(&s);
        CGenStrDelete(&s);
        EXPECT_EQ(ZoltMessageGetMessageId(sReq.c_str(), plId), 0);
        return sReq;
    }
    /* The DATA of each message in the table, in order. */
    std::vector<std::string> Waiting()
    {
        std::vector<std::string> v;
        for (ClientMessage *p = ZoltClientPeekMessage(NULL); p != NULL; p = p->pNext)
            v.push_back(Field(p->szMessage, "DATA"));
        EXPECT_EQ(ZoltClient_I_GetWaitingMessageCount(), (int)v.size());
        return v;
    }
};

TEST_F(MessageTable, FindsAndWaitsSkipMessagesThatDoNotMatch)
{
    std::string sFrom812 = MakeMsg("812", "DE_COMMAND", "from 812", "7");
    Deliver(MakeMsg("100", "", "no type at all"));
    Deliver(MakeMsg("100", "DE_COMMAND", "from 100"));
    Deliver(sFrom812);
    Deliver(MakeMsg("812", "DE_EVENT", "event", "9"));
    EXPECT_EQ(ZoltClientWaitForMessages(2000, 0), 4);
    auto Data = [](ClientMessage *p) { return p != NULL ? Field(p->szMessage, "DATA") : "(none)"; };
    EXPECT_EQ(Data(ZoltClientFindMessageWithTypeField("DE_COMMAND")), "from 100"); /* first match */
    EXPECT_EQ(Data(ZoltClientFindMessageWithReField(9)), "event");
    EXPECT_EQ(ZoltClientFindMessageWithReField(-1), nullptr); /* no RE is not RE -1 */
    EXPECT_EQ(ZoltClient_I_GetWaitingMessageCount(), 4);      /* finds take nothing */
    ClientMessage *pLast = ZoltClientFindMessageWithTypeFieldAndFromPid(812, "DE_EVENT");
    ASSERT_EQ(ZoltClientGetNextMessage(pLast), pLast);
    ZoltClientFreeMessage(pLast);
    char szBuf[512];
    /* too small (it needs its length + 2 bytes): the message stays */
    EXPECT_EQ(
        ZoltClientWaitForMessage(szBuf, (int)Bare(sFrom812).size() + 1, 2000, "DE_COMMAND", 812),
        1);
    EXPECT_EQ(ZoltClientWaitForMessage(szBuf, sizeof szBuf, 2000, "DE_COMMAND", 812), 0);
    EXPECT_EQ(std::string(szBuf), Bare(sFrom812));
    EXPECT_EQ(ZoltClientWaitForMessage(szBuf, sizeof szBuf, 2000, "DE_COMMAND", 0), 0);
    EXPECT_EQ(Field(szBuf, "DATA"), "from 100");
    EXPECT_EQ(ZoltClientWaitForMessage(szBuf, sizeof szBuf, 20, "DE_COMMAND", 0), 2);
    EXPECT_EQ(Waiting(), std::vector<std::string>{ "no type at all" });
}

/* The answer is the message whose RE is the whole ID, behind another sender's
 * command and an RE equal to the ID only in its low 32 bits, with junk holding
 * a NUL byte around it in its frame (dropped). The reply overwrites the
 * request in the same buffer; the others stay in the table in order. */
TEST_F(MessageTable, TransactionTakesTheAnswerWithTheWholeRe)
{
    long lId = 0;
    std::string sReq = Request(&lId);
    std::string sJunk = std::string("<MSG>junk") + '\0' + "junk</MSG>\r\n";
    std::string sAnswer = MakeMsg("5", "TRANSACTION_RESPONSE", "right", std::to_string(lId));
    Deliver(MakeMsg("5", "DAPI_COMMAND", "STOPTESTING"));
    Deliver(MakeMsg("5", "TRANSACTION_RESPONSE", "high bits",
                    std::to_string((long long)lId + (1LL << 32))));
    Deliver(sJunk + sAnswer + sJunk);
    std::vector<char> vBuf(sReq.begin(), sReq.end());
    vBuf.resize(1024, '\0');
    EXPECT_EQ(ZoltClientSendTransaction(vBuf.data(), vBuf.data(), (int)vBuf.size(), 2000, 0), 0);
    EXPECT_EQ(std::string(vBuf.data()), Bare(sAnswer));
    EXPECT_EQ(SentToBroker(), sReq);
    EXPECT_EQ(Waiting(), (std::vector<std::string>{ "STOPTESTING", "high bits" }));
}

/* The table keeps its last message and count through takes at every place:
 * what is appended afterwards comes last, and a search finds it. */
TEST_F(MessageTable, TakesAtFrontMiddleAndEndKeepTheOrderOfLaterMessages)
{
    for (int iTake : { 0, 1, 2 }) {
        SCOPED_TRACE(iTake);
        for (const char *sz : { "a", "b", "c" })
            ZoltClient_I_MoveMessagesToTable(const_cast<char *>(MakeMsg("1", "T", sz).c_str()));
        ClientMessage *p = ZoltClientPeekMessage(NULL);
        for (int i = 0; i < iTake; i++)
            p = p->pNext;
        ZoltClientFreeMessage(ZoltClientGetNextMessage(p));
        ZoltClient_I_MoveMessagesToTable(const_cast<char *>(MakeMsg("1", "U", "d").c_str()));
        std::vector<std::string> vExpect = { "a", "b", "c", "d" };
        vExpect.erase(vExpect.begin() + iTake);
        EXPECT_EQ(Waiting(), vExpect);
        ASSERT_NE(ZoltClientFindMessageWithTypeField("U"), nullptr);
        while ((p = ZoltClientGetNextMessage(NULL)) != NULL)
            ZoltClientFreeMessage(p);
    }
}

/* A send whose piece cannot be allocated fails, but the broker FIFO stays
 * open: the next send reaches the broker. */
TEST_F(MessageTable, FailedAllocationKeepsTheConnection)
{
    void *(*pfnSaved)(size_t) = g_pfnZoltPipeAllocPiece;
    g_pfnZoltPipeAllocPiece = [](size_t) -> void * { return nullptr; };
    int iRc = ZoltClientSendMessage("<MSG><DATA>lost</DATA></MSG>\r\n");
    g_pfnZoltPipeAllocPiece = pfnSaved;
    EXPECT_NE(iRc, 0);
    EXPECT_GT(ZoltClient_I_GetWriteFifoHandle(), 0);
    std::string sNext = "<MSG><DATA>next</DATA></MSG>\r\n";
    EXPECT_EQ(ZoltClientSendMessage(sNext.c_str()), 0);
    EXPECT_EQ(SentToBroker(), sNext);
}

TEST_F(MessageTable, TransactionFailureCodes)
{
    /* a 99-character answer needs 101 bytes; one that does not fit stays */
    for (int iSize : { 100, 101 }) {
        long lId = 0;
        std::string sReq = Request(&lId);
        std::string sHead = "<MSG><HDR><RE>" + std::to_string(lId) + "</RE></HDR><DATA>",
                    sTail = "</DATA></MSG>";
        Deliver(sHead + std::string(99 - sHead.size() - sTail.size(), 'x') + sTail + "\r\n");
        std::vector<char> vBuf((size_t)iSize, '\0');
        EXPECT_EQ(ZoltClientSendTransaction(sReq.c_str(), vBuf.data(), iSize, 2000, 0),
                  iSize == 100 ? 1 : 0);
        EXPECT_EQ(ZoltClientFindMessageWithReField(lId) != nullptr, iSize == 100) << iSize;
    }
    char szBuf[256];
    EXPECT_EQ(ZoltClientSendTransaction("<MSG><HDR><TYPE>X</TYPE></HDR></MSG>\r\n", szBuf,
                                        sizeof szBuf, 2000, 0),
              102); /* no ID */
    long lId = 0;
    std::string sReq = Request(&lId);
    ZoltClient_I_CloseWriteFifo();
    int iErrors = ZoltClientGetWriteErrorCount();
    EXPECT_EQ(ZoltClientSendTransaction(sReq.c_str(), szBuf, sizeof szBuf, 60000, 0),
              201); /* at once */
    EXPECT_EQ(ZoltClientGetWriteErrorCount(), iErrors + 1);
}

TEST_F(MessageTable, FlushLetsQueuedPiecesDrain)
{
    /* the first piece fills the FIFO, the second waits for room */
    std::string sBig = "<MSG><DATA>" + std::string(5000 - 26, 'q') + "</DATA></MSG>\r\n";
    EXPECT_EQ(ZoltClientSendMessage(sBig.c_str()), 0);
    EXPECT_EQ(ZoltFlushWriteFIFO(0), 1);
    char aBuf[8192];
    ssize_t n = read(conn.hBroker, aBuf, sizeof aBuf); /* the broker takes the first piece */
    ASSERT_GT(n, 4020);
    brokerReader.sBuf.append(aBuf, (size_t)n);
    EXPECT_EQ(ZoltFlushWriteFIFO(5000), 0);
    EXPECT_EQ(SentToBroker(), sBig);
}

/* A clock on some day in 2022 that moves s_iFakeStepMs on at each reading. */
int64_t s_iFakeStepMs, s_iFakeLastMs;
int FakeTimeOfDay(struct timeval *pTv)
{
    int64_t iAbsMs = 19000LL * 86400 * 1000 + (s_iFakeLastMs += s_iFakeStepMs);
    pTv->tv_sec = (time_t)(iAbsMs / 1000);
    pTv->tv_usec = (suseconds_t)(iAbsMs % 1000) * 1000;
    return 0;
}

TEST_F(MessageTable, WaitsNeverRunPastMidnight)
{
    struct {
        int64_t iStart, iStep;
        int iTimeout;
        int64_t iLastMin, iLastMax;
    } aCases[] = {
        { 86398950, 10, 5000, 86399000, 86399999 }, /* deadline cut to 23:59:59.000 */
        { 86399900, 200, 50, 86400000, 86404000 },  /* the clock jumps past midnight first */
    };
    int (*pfnSaved)(struct timeval *) = g_pfnZoltGetTimeOfDay;
    for (auto &c : aCases) {
        SCOPED_TRACE(c.iStart);
        long lId = 0;
        std::string sReq = Request(&lId);
        s_iFakeLastMs = c.iStart - c.iStep;
        s_iFakeStepMs = c.iStep;
        g_pfnZoltGetTimeOfDay = FakeTimeOfDay;
        char szBuf[256];
        int iRc = ZoltClientSendTransaction(sReq.c_str(), szBuf, sizeof szBuf, c.iTimeout, 0);
        g_pfnZoltGetTimeOfDay = pfnSaved;
        EXPECT_EQ(iRc, 2);
        EXPECT_TRUE(s_iFakeLastMs >= c.iLastMin && s_iFakeLastMs <= c.iLastMax) << s_iFakeLastMs;
        SentToBroker();
    }
}

TEST_F(MessageTable, EnumCompleteDiscardsWhatCameBefore)
{
    Deliver(MakeMsg("5", "DE_COMMAND", "x"));
    Deliver(MakeMsg("5", "DE_ENUM_NOTIFY", "ENUM_STARTED"));
    Deliver(MakeMsg("5", "DE_ENUM_NOTIFY", "ENUM_COMPLETE"));
    Deliver(MakeMsg("5", "DE_EVENT", "after"));
    EXPECT_EQ(ZoltClientWaitForEnumCompleteMessage(5000, 0), 0);
    EXPECT_EQ(Waiting(), std::vector<std::string>{ "after" });

    /* a child that has ended stops the wait long before its time-out */
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        _exit(0);
    siginfo_t info;
    ASSERT_EQ(waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT), 0); /* ended, not reaped */
    EXPECT_EQ(ZoltClientWaitForEnumCompleteMessage(600000, pid), 1);
    EXPECT_EQ(waitpid(pid, NULL, WNOHANG), -1); /* reaped by the wait */
    EXPECT_EQ(ZoltClientWaitForEnumCompleteMessage(0, 0), 1);
}

}  // namespace
