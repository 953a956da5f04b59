/* client-messaging.cpp - tests of the client message table: arrival order,
 * taking and peeking, the three finds, waits with their deadline rule,
 * transactions matched by RE and the wait for the end of an enumeration.
 * The test plays the broker over a real FIFO pair in a temporary directory. */
#include <gtest/gtest.h>

#include <pthread.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "client-connection-manager.h"
#include "client-messaging-engine.h"
#include "global/client-test-peer.h"
#include "message-protocol.h"
#include "pipe-lowlevel.h"
#include "zolt-time.h"

namespace {

using zolttest::MakeMsg;

/* The text as the table keeps it: without its CR LF. */
std::string Bare(const std::string &s)
{
    return s.substr(0, s.size() - 2);
}

void ClearTable()
{
    ClientMessage *p;
    while ((p = ZoltClientGetNextMessage(NULL)) != NULL)
        ZoltClientFreeMessage(p);
}

/* The connection's FIFO ends opened without a handshake: the test holds the
 * broker FIFO's read end and writes frames into the module's own FIFO. */
class MessageTable : public ::testing::Test {
protected:
    zolttest::TempDir dir;
    int hBroker = -1;
    int hToClient = -1;
    unsigned long ulMsgNo = 1;
    zolttest::FrameReader brokerReader;

    void SetUp() override
    {
        unsetenv("ZOLT_TMP");
        ASSERT_FALSE(dir.sPath.empty());
        ASSERT_EQ(ZoltSetPipeDirectory(dir.sPath.c_str()), 0);
        ZoltSetServerFifoNameEx("");
        std::string sBroker = dir.sPath + "/ZOLTFIFO";
        ASSERT_EQ(mkfifo(sBroker.c_str(), 0600), 0);
        hBroker = open(sBroker.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(hBroker, 0);
        ZoltInitPipes();
        ASSERT_EQ(ZoltClient_I_OpenFifoConnection(), 0);
        hToClient = open(g_szOurFifoName, O_WRONLY | O_NONBLOCK);
        ASSERT_GE(hToClient, 0);
    }

    void TearDown() override
    {
        ClearTable();
        ZoltClient_I_CloseFifoConnection();
        if (hToClient >= 0)
            close(hToClient);
        if (hBroker >= 0)
            close(hBroker);
        ZoltCleanupPipes();
    }

    void Deliver(const std::string &sMsg)
    {
        ASSERT_TRUE(zolttest::WriteAll(hToClient, zolttest::MakeFrames(sMsg, ulMsgNo++, 4242)));
    }

    /* The next message the module sent to the broker, or "". */
    std::string SentToBroker()
    {
        std::string s;
        return brokerReader.Read(hBroker, 2000, &s) == 1 ? s : "";
    }

    /* A DE_COMMAND request with its own ID; *plId receives the ID. */
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
};

TEST_F(MessageTable, TakingAndPeekingKeepArrivalOrder)
{
    EXPECT_EQ(ZoltClientGetNextMessage(NULL), nullptr);   /* empty table */
    char a[] = "first", b[] = "second", c[] = "third";
    ASSERT_EQ(ZoltClient_I_MoveMessagesToTable(a), 0);
    ASSERT_EQ(ZoltClient_I_MoveMessagesToTable(b), 0);
    ASSERT_EQ(ZoltClient_I_MoveMessagesToTable(c), 0);
    EXPECT_EQ(ZoltClient_I_GetWaitingMessageCount(), 3);

    ClientMessage *pFirst = ZoltClientPeekMessage(NULL);
    ASSERT_NE(pFirst, nullptr);
    EXPECT_STREQ(pFirst->szMessage, "first");
    ClientMessage *pSecond = pFirst->pNext;
    ASSERT_NE(pSecond, nullptr);

    /* Taking from the middle links the neighbours and clears the link. */
    ClientMessage *pTaken = ZoltClientGetNextMessage(pSecond);
    ASSERT_EQ(pTaken, pSecond);
    EXPECT_EQ(pTaken->pNext, nullptr);
    EXPECT_EQ(ZoltClientPeekMessage(pTaken), nullptr);     /* no longer in the table */
    EXPECT_EQ(ZoltClientGetNextMessage(pTaken), nullptr);
    EXPECT_STREQ(pFirst->pNext->szMessage, "third");
    EXPECT_EQ(ZoltClientFreeMessage(pTaken), 0);

    pTaken = ZoltClientGetNextMessage(NULL);
    ASSERT_EQ(pTaken, pFirst);
    EXPECT_EQ(pTaken->pNext, nullptr);
    ZoltClientFreeMessage(pTaken);
    EXPECT_STREQ(ZoltClientPeekMessage(NULL)->szMessage, "third");
    EXPECT_EQ(ZoltClient_I_GetWaitingMessageCount(), 1);
    EXPECT_EQ(ZoltClientFreeMessage(NULL), 1);
}

TEST_F(MessageTable, FindsSkipMessagesThatDoNotMatch)
{
    std::vector<std::string> vMsgs = {
        MakeMsg("100", "", "no type at all"),
        MakeMsg("100", "DE_COMMAND", "from 100"),
        MakeMsg("812", "DE_COMMAND", "from 812", "7"),
        MakeMsg("812", "DE_EVENT", "event", "9"),
    };
    for (auto &s : vMsgs) {
        std::string sBare = Bare(s);
        ASSERT_EQ(ZoltClient_I_MoveMessagesToTable(&sBare[0]), 0);
    }
    ClientMessage *p = ZoltClientFindMessageWithTypeField("DE_COMMAND");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(zolttest::Field(p->szMessage, "DATA"), "from 100");
    p = ZoltClientFindMessageWithTypeFieldAndFromPid(812, "DE_COMMAND");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(zolttest::Field(p->szMessage, "DATA"), "from 812");
    EXPECT_EQ(p->lFromCache, 812);
    p = ZoltClientFindMessageWithReField(9);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(zolttest::Field(p->szMessage, "DATA"), "event");

    EXPECT_EQ(ZoltClientFindMessageWithReField(8), nullptr);
    EXPECT_EQ(ZoltClientFindMessageWithReField(-1), nullptr);  /* no RE is not RE -1 */
    EXPECT_EQ(ZoltClientFindMessageWithTypeField("DE_NOTIFY"), nullptr);
    EXPECT_EQ(ZoltClientFindMessageWithTypeFieldAndFromPid(5, "DE_COMMAND"), nullptr);
    EXPECT_EQ(ZoltClient_I_GetWaitingMessageCount(), 4);         /* finds take nothing */
    EXPECT_EQ(ZoltClient_I_PrintMessages(), 4);
}

int g_iCallbacks;
std::vector<std::string> g_vCallbackTexts;
int RecordCallback(char *szMessage)
{
    g_iCallbacks++;
    g_vCallbackTexts.push_back(szMessage);
    return 0;
}

TEST_F(MessageTable, MessagesAreSplitAtCrLfInArrivalOrder)
{
    /* Three messages read in one go; the last lacks its CR LF and is dropped. */
    Deliver("<A>1</A>\r\n");
    Deliver("<B>2</B>\r\n");
    Deliver("<C>fragment</C>");
    g_iCallbacks = 0;
    g_vCallbackTexts.clear();
    EXPECT_EQ(ZoltClientProcessMessages(RecordCallback, 2000, 0), 2);
    EXPECT_EQ(g_iCallbacks, 2);
    EXPECT_EQ(g_vCallbackTexts, (std::vector<std::string>{"<A>1</A>", "<B>2</B>"}));

    Deliver(MakeMsg("1", "DE_EVENT", "one"));
    Deliver(MakeMsg("1", "DE_EVENT", "two"));
    EXPECT_EQ(ZoltClientWaitForMessages(2000, 0), 2);
    ClientMessage *p = ZoltClientGetNextMessage(NULL);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p->szMessage), Bare(MakeMsg("1", "DE_EVENT", "one")));
    ZoltClientFreeMessage(p);
    EXPECT_EQ(ZoltClientCheckForMessages(), 1);
}

TEST_F(MessageTable, WaitForMessageByTypeAndSender)
{
    std::string sFrom100 = MakeMsg("100", "DE_COMMAND", "a");
    std::string sFrom812 = MakeMsg("812", "DE_COMMAND", "b");
    Deliver(MakeMsg("7", "DE_EVENT", "unrelated"));
    Deliver(sFrom100);
    Deliver(sFrom812);
    char szBuf[512];

    EXPECT_EQ(ZoltClientWaitForMessage(szBuf, sizeof szBuf, 2000, NULL, 0), 3);
    /* Too small: the message needs its length + 2 bytes here and stays. */
    EXPECT_EQ(ZoltClientWaitForMessage(szBuf, (int)Bare(sFrom812).size() + 1, 2000, "DE_COMMAND", 812), 1);
    EXPECT_EQ(ZoltClient_I_GetWaitingMessageCount(), 3);

    EXPECT_EQ(ZoltClientWaitForMessage(szBuf, sizeof szBuf, 2000, "DE_COMMAND", 812), 0);
    EXPECT_EQ(std::string(szBuf), Bare(sFrom812));
    EXPECT_EQ(ZoltClientWaitForMessage(szBuf, sizeof szBuf, 2000, "DE_COMMAND", 0), 0);
    EXPECT_EQ(std::string(szBuf), Bare(sFrom100));
    EXPECT_EQ(ZoltClient_I_GetWaitingMessageCount(), 1);
    EXPECT_EQ(ZoltClientWaitForMessage(szBuf, sizeof szBuf, 20, "DE_COMMAND", 0), 2);

    CGenStr s;
    ASSERT_TRUE(CGenStrInit(&s));
    Deliver(sFrom100);
    EXPECT_EQ(ZoltClientWaitForMessageStr(&s, 2000, "DE_COMMAND", 100), 0);
    EXPECT_EQ(std::string(CGenStrC_Str(&s)), Bare(sFrom100));
    CGenStrDelete(&s);
    EXPECT_EQ(ZoltClientWaitForMessageStr(&s, 2000, "DE_COMMAND", 100), 1);   /* not initialised */
}

TEST_F(MessageTable, TransactionFindsItsAnswerBehindAnotherMessage)
{
    long lId = 0;
    std::string sReq = Request(&lId);
    std::string sOther = MakeMsg("5", "DAPI_COMMAND", "STOPTESTING");
    std::string sAnswer = MakeMsg("5", "TRANSACTION_RESPONSE", "<COMPONENT>x</COMPONENT>", std::to_string(lId));
    Deliver(sOther);
    Deliver(sAnswer);

    /* The reply overwrites the request in the same buffer. */
    std::vector<char> vBuf(sReq.begin(), sReq.end());
    vBuf.resize(1024, '\0');
    EXPECT_EQ(ZoltClientSendTransaction(vBuf.data(), vBuf.data(), (int)vBuf.size(), 2000, 0), 0);
    EXPECT_EQ(std::string(vBuf.data()), Bare(sAnswer));
    EXPECT_EQ(SentToBroker(), sReq);
    ASSERT_EQ(ZoltClient_I_GetWaitingMessageCount(), 1);
    EXPECT_EQ(std::string(ZoltClientPeekMessage(NULL)->szMessage), Bare(sOther));

    /* The string form, with the request being the string's own text. */
    sReq = Request(&lId);
    sAnswer = MakeMsg("5", "TRANSACTION_RESPONSE", "str", std::to_string(lId));
    Deliver(sAnswer);
    CGenStr s;
    ASSERT_TRUE(CGenStrInitFromCStr(&s, sReq.c_str()));
    EXPECT_EQ(ZoltClientSendTransactionStr(CGenStrC_Str(&s), &s, 2000, 0), 0);
    EXPECT_EQ(std::string(CGenStrC_Str(&s)), Bare(sAnswer));
    CGenStrDelete(&s);
}

TEST_F(MessageTable, TransactionAnswerMustLeaveRoomForItsTerminator)
{
    struct { int iSize; int iExpect; } aCases[] = {{100, 1}, {101, 0}};
    for (auto &c : aCases) {
        long lId = 0;
        std::string sReq = Request(&lId);
        std::string sHead = "<MSG><HDR><RE>" + std::to_string(lId) + "</RE></HDR><DATA>";
        std::string sTail = "</DATA></MSG>";
        std::string sAnswer = sHead + std::string(99 - sHead.size() - sTail.size(), 'x') + sTail + "\r\n";
        ASSERT_EQ(Bare(sAnswer).size(), 99u);
        Deliver(sAnswer);
        std::vector<char> vBuf((size_t)c.iSize, '\0');
        EXPECT_EQ(ZoltClientSendTransaction(sReq.c_str(), vBuf.data(), c.iSize, 2000, 0), c.iExpect) << c.iSize;
        /* A reply that did not fit is not lost. */
        EXPECT_EQ(ZoltClientFindMessageWithReField(lId) != nullptr, c.iExpect == 1) << c.iSize;
        ClearTable();
    }
}

TEST_F(MessageTable, TransactionFailuresComeBackAtOnce)
{
    char szBuf[256];
    std::string sNoId = "<MSG><HDR><TYPE>DE_COMMAND</TYPE></HDR></MSG>\r\n";
    EXPECT_EQ(ZoltClientSendTransaction(sNoId.c_str(), szBuf, sizeof szBuf, 2000, 0), 102);
    long lId = 0;
    std::string sReq = Request(&lId);
    ZoltClient_I_CloseWriteFifo();
    int iErrors = ZoltClientGetWriteErrorCount();
    EXPECT_EQ(ZoltClientSendTransaction(sReq.c_str(), szBuf, sizeof szBuf, 60000, 0), 201);
    EXPECT_EQ(ZoltClientGetWriteErrorCount(), iErrors + 1);
}

TEST_F(MessageTable, FlushLetsQueuedPiecesDrain)
{
    /* 5000 bytes: the first piece fills the FIFO, the second waits for room. */
    std::string sBig = "<MSG><DATA>" + std::string(5000 - 26, 'q') + "</DATA></MSG>\r\n";
    ASSERT_EQ(sBig.size(), 5000u);
    EXPECT_EQ(ZoltClientSendMessage(sBig.c_str()), 0);
    EXPECT_EQ(ZoltFlushWriteFIFO(0), 1);
    char aBuf[8192];
    ssize_t n = read(hBroker, aBuf, sizeof aBuf);   /* the broker takes the first piece */
    ASSERT_GT(n, 4020);
    brokerReader.sBuf.append(aBuf, (size_t)n);
    EXPECT_EQ(ZoltFlushWriteFIFO(5000), 0);
    EXPECT_EQ(SentToBroker(), sBig);
}

/* Fake clock: the time of day starts at s_iFakeStartMs and advances by
 * s_iFakeStepMs at every reading. */
int64_t s_iFakeStartMs, s_iFakeStepMs, s_iFakeLastMs;
int s_iFakeCalls;
int FakeClock(struct timeval *pTv)
{
    s_iFakeLastMs = s_iFakeStartMs + s_iFakeCalls++ * s_iFakeStepMs;
    int64_t iAbsMs = 19000LL * 86400 * 1000 + s_iFakeLastMs;   /* some day in 2022 */
    pTv->tv_sec = (time_t)(iAbsMs / 1000);
    pTv->tv_usec = (suseconds_t)(iAbsMs % 1000) * 1000;
    return 0;
}

TEST_F(MessageTable, WaitsNeverRunPastMidnight)
{
    struct Case {
        const char *szName;
        int64_t iStart, iStep;
        int iTimeout;
        int64_t iLastMin, iLastMax;   /* where the fake time of day must end */
    } aCases[] = {
        /* 23:59:58.950 + 5 s would pass midnight: the deadline becomes 23:59:59.000 */
        {"deadline pulled back", 86398950, 10, 5000, 86399000, 86399999},
        /* deadline 23:59:59.950, but the clock jumps past midnight first */
        {"clock passes midnight", 86399900, 200, 50, 86400000, 86404000},
    };
    int (*pfnSaved)(struct timeval *) = g_pfnZoltGetTimeOfDay;
    for (auto &c : aCases) {
        long lId = 0;
        std::string sReq = Request(&lId);
        s_iFakeStartMs = c.iStart;
        s_iFakeStepMs = c.iStep;
        s_iFakeCalls = 0;
        g_pfnZoltGetTimeOfDay = FakeClock;
        char szBuf[256];
        int iRc = ZoltClientSendTransaction(sReq.c_str(), szBuf, sizeof szBuf, c.iTimeout, 0);
        g_pfnZoltGetTimeOfDay = pfnSaved;
        EXPECT_EQ(iRc, 2) << c.szName;
        EXPECT_GE(s_iFakeLastMs, c.iLastMin) << c.szName;
        EXPECT_LE(s_iFakeLastMs, c.iLastMax) << c.szName;
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
    ASSERT_EQ(ZoltClient_I_GetWaitingMessageCount(), 1);
    EXPECT_EQ(zolttest::Field(ZoltClientPeekMessage(NULL)->szMessage, "DATA"), "after");

    /* A child that has ended stops the wait long before its time-out. */
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        _exit(0);
    siginfo_t info;
    ASSERT_EQ(waitid(P_PID, (id_t)pid, &info, WEXITED | WNOWAIT), 0);   /* ended, not reaped */
    ClearTable();
    EXPECT_EQ(ZoltClientWaitForEnumCompleteMessage(600000, pid), 1);
    EXPECT_EQ(waitpid(pid, NULL, WNOHANG), -1);   /* reaped by the wait */
    EXPECT_EQ(ZoltClientWaitForEnumCompleteMessage(0, 0), 1);
}

/* Appends 500 numbered texts "<thread>:<n>". */
void *AppendMany(void *pArg)
{
    long lThread = (long)pArg;
    for (int i = 0; i < 500; i++) {
        std::string s = std::to_string(lThread) + ":" + std::to_string(i);
        ZoltClient_I_MoveMessagesToTable(&s[0]);
    }
    return NULL;
}

TEST_F(MessageTable, ConcurrentAppendAndTakeLoseNothing)
{
    pthread_t a, b;
    ASSERT_EQ(pthread_create(&a, NULL, AppendMany, (void *)1L), 0);
    ASSERT_EQ(pthread_create(&b, NULL, AppendMany, (void *)2L), 0);
    int aNext[3] = {0, 0, 0};
    int iTaken = 0;
    bool bOrdered = true;
    while (iTaken < 1000) {
        ClientMessage *p = ZoltClientGetNextMessage(NULL);
        if (p == NULL) {
            sched_yield();
            continue;
        }
        int iThread = 0, iNo = 0;
        sscanf(p->szMessage, "%d:%d", &iThread, &iNo);
        if (iThread < 1 || iThread > 2 || iNo != aNext[iThread]++)
            bOrdered = false;
        ZoltClientFreeMessage(p);
        iTaken++;
    }
    pthread_join(a, NULL);
    pthread_join(b, NULL);
    EXPECT_TRUE(bOrdered);
    EXPECT_EQ(aNext[1], 500);
    EXPECT_EQ(aNext[2], 500);
    EXPECT_EQ(ZoltClient_I_GetWaitingMessageCount(), 0);
}

} // namespace
