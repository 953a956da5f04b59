/* pipe-lowlevel.cpp - tests of the FIFO transport over real FIFOs: frames on
 * the pipe, a full FIFO, split and interleaved frames, garbage, broken pipes,
 * ZoltPipeSelect and the read/write thread. */
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "global/client-test-peer.h"
#include "pipe-lowlevel.h"
#include "zolt-time.h"

namespace {

using zolttest::Frame;
using zolttest::Frames;

/* A message text of n bytes ending in CR LF, its bytes telling tag and position. */
std::string Message(size_t n, char cTag)
{
    std::string s;
    for (size_t i = 0; s.size() + 2 < n; i++)
        s += (i % 61 == 0) ? cTag : (char)('a' + i % 26);
    return s + "\r\n";
}

/* FIFO "in": registered read end m_hRead, raw write end m_hRaw; FIFO "out":
 * registered write end m_hWrite, raw read end m_hPeek. */
class Pipes : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZoltPipeSignalHandle();
        m_fifo = m_dir.sPath + "/in";
        m_out = m_dir.sPath + "/out";
        ASSERT_EQ(ZoltPipeMkFifo(m_fifo.c_str()), 0);
        ASSERT_EQ(ZoltPipeMkFifo(m_out.c_str()), 0);
        ASSERT_EQ(ZoltInitPipes(), 0);
        ASSERT_GE(m_hRead = ZoltPipeOpen(m_fifo.c_str(), 0), 0);
        ASSERT_GE(m_hRaw = open(m_fifo.c_str(), O_WRONLY | O_NONBLOCK), 0);
        ASSERT_GE(m_hPeek = open(m_out.c_str(), O_RDONLY | O_NONBLOCK), 0);
        ASSERT_GE(m_hWrite = ZoltPipeOpen(m_out.c_str(), 1), 0);
    }
    void TearDown() override
    {
        ZoltStopReadWriteThread();
        ZoltCleanupPipes();
        for (int h : { m_hRaw, m_hPeek })
            if (h >= 0)
                close(h);
    }
    void RawWrite(const std::string &b)
    {
        ASSERT_EQ(write(m_hRaw, b.data(), b.size()), (ssize_t)b.size());
    }
    /* What ZoltPipeRead delivers now, "" for nothing. */
    std::string Read()
    {
        char *pOut = nullptr;
        int n = ZoltPipeRead(m_hRead, &pOut);
        EXPECT_EQ(pOut != nullptr, n > 0);
        std::string s = n > 0 && pOut != nullptr ? std::string(pOut) : "";
        EXPECT_EQ(s.size(), (size_t)std::max(n, 0));
        free(pOut);
        return s;
    }
    std::string Peek()
    {
        std::string s;
        char acBuf[8192];
        for (ssize_t n; (n = read(m_hPeek, acBuf, sizeof acBuf)) > 0;)
            s.append(acBuf, (size_t)n);
        return s;
    }
    void ReaderGoes()
    {
        close(m_hPeek), m_hPeek = -1;
    }
    zolttest::TempDir m_dir;
    std::string m_fifo, m_out;
    int m_hRead = -1, m_hRaw = -1, m_hPeek = -1, m_hWrite = -1;
};

/* Exactly the delimiters and pieces of 4020 bytes, never over 4096 bytes unread. */
TEST_F(Pipes, FramesOnThePipeAreDelimiterThenPieceOf4020)
{
    for (size_t uLen : { 147, 32, 4020, 4021, 9000 }) {
        SCOPED_TRACE(uLen);
        std::string msg = Message(uLen, 'C'), bytes;
        ASSERT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), (int)uLen);
        for (std::string now = Peek(); !now.empty(); ZoltServicePipes(), now = Peek()) {
            EXPECT_LE(now.size(), 4096u);
            bytes += now;
        }
        unsigned long ulMsg = 0;
        ASSERT_EQ(sscanf(bytes.c_str(), "|\001\001\001H:%lu:", &ulMsg), 1);
        EXPECT_TRUE(bytes == zolttest::MakeFrames(msg, ulMsg, (int)getpid()))
            << bytes.substr(0, 40);
        EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    }
    EXPECT_EQ(ZoltPipeWrite(m_hPeek, "x", 1), -1); /* not a registered write end */
    EXPECT_EQ(Peek(), "");
}

TEST_F(Pipes, NearlyFullFifoKeepsTheFrameQueuedUntilDrained)
{
    std::string filler(4000, 'z'), msg; /* a 175-byte frame would pass 4096 */
    int hFill = open(m_out.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_EQ(write(hFill, filler.data(), filler.size()), 4000);
    close(hFill);
    msg = Message(147, 'N');
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()),
              147); /* queued counts as written */
    ZoltServicePipes();
    EXPECT_EQ(ZoltPipeWriteQueCount(), 1); /* still no room */
    EXPECT_EQ(Peek(), filler);
    ZoltServicePipes();
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    std::string bytes = Peek();
    EXPECT_TRUE(bytes.size() > msg.size() &&
                bytes.compare(bytes.size() - msg.size(), msg.size(), msg) == 0);
}

TEST_F(Pipes, ReaderGoneClosesTheWriterAndDropsItsQueue)
{
    std::string msg = Message(9000, 'B');
    ASSERT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), 9000);
    ASSERT_EQ(ZoltPipeWriteQueCount(), 2);
    ReaderGoes();
    ZoltServicePipes(); /* meets EPIPE: SIGPIPE must not end the process */
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, "x", 1), -1); /* no longer registered */
    EXPECT_EQ(fcntl(m_hWrite, F_GETFD), -1);        /* and closed */
    /* nothing queued: the next write meets EPIPE, gives 0 and closes */
    ASSERT_GE(m_hPeek = open(m_out.c_str(), O_RDONLY | O_NONBLOCK), 0);
    ASSERT_GE(m_hWrite = ZoltPipeOpen(m_out.c_str(), 1), 0);
    ReaderGoes();
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), 147), 0);
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), 147), -1);
}

TEST_F(Pipes, FrameSplitAcrossReadsIsCompletedFromTheNextRead)
{
    std::string msg = Message(500, 'S');
    std::string frame = Frame(7, 4242, 1, 1, msg, msg.size());
    for (size_t uCut :
         { (size_t)1, (size_t)4, (size_t)12, (size_t)27, (size_t)29, frame.size() - 1 }) {
        SCOPED_TRACE(uCut);
        RawWrite(frame.substr(0, uCut));
        EXPECT_EQ(Read(), "");
        RawWrite(frame.substr(uCut));
        EXPECT_EQ(Read(), msg);
    }
}

TEST_F(Pipes, InterleavedSendersAreReassembledAndALostPieceDropsItsMessage)
{
    std::string a = Message(9000, 'A'), b = Message(5000, 'B'), c = Message(50, 'C');
    std::vector<std::string> fa = Frames(a, 1, 111),
                             fb = Frames(b, 1, 222); /* same message number */
    RawWrite(fa[0] + fb[0] + fa[1] + fb[1]); /* b is complete, but waits behind the unfinished a */
    EXPECT_EQ(Read(), "");
    EXPECT_EQ(ZoltPipeReadQueCount(), 2);
    RawWrite(fa[2]);
    EXPECT_TRUE(Read() == a + b);
    fa = Frames(a, 2, 111);
    RawWrite(fa[0] + fa[2] + fa[1]);                 /* piece 2 came late: a never completes */
    RawWrite(Frame(3, 111, 1, 1, c, c.size(), 'F')); /* type F counts as H */
    EXPECT_EQ(Read(), c);
    EXPECT_EQ(ZoltPipeReadQueCount(), 0);
}

TEST_F(Pipes, GarbageBetweenGoodFramesIsDropped)
{
    std::string m1 = Message(120, '1'), m2 = Message(4500, '2'), m3 = Message(60, '3');
    std::vector<std::string> f2 = Frames(m2, 2, 333);
    const std::string sStart = "|\001\001\001", sEnd = "\001\001\001|";
    const std::string aGarbage[] = {
        std::string("hi\r\n\x7f\xff\0\0x\0", 10),
        sStart,
        "|\001\001",
        sEnd,
        Frame(3, 333, 1, 1, "zzzz", 4, 'Q'),
        sStart + "H:3:333:1:1:2:" + sEnd + "zz",
        sStart + "H:3:333:1:1:2:2" + sEnd + "zz",
        Frame(3, 333, 1, 99999, "zz", 2),
        sStart + "H:3:333:1:1:4020:4294967295:" + sEnd,
        sStart + "H:3:333:1:1:5000:5000:" + sEnd,
        sStart + "H:3:333:1:1:99999999999:99999999999:" + sEnd,
        sStart + "H:3:333:1:-1:2:2:" + sEnd,
        sStart + "H:1:333:1:1:5:5:" + std::string(50, '0') + sEnd + "abcde", /* delimiter over 63 */
        Frame(4, 444, 2, 2, std::string(100, 'q'), 4120),                    /* no first piece */
    };
    for (auto &garbage : aGarbage) {
        SCOPED_TRACE(garbage);
        RawWrite(garbage + Frame(1, 333, 1, 1, m1, m1.size()) + garbage + f2[0] + garbage);
        RawWrite(f2[1] + Frame(3, 333, 1, 1, m3, m3.size()));
        EXPECT_TRUE(Read() == m1 + m2 + m3);
        EXPECT_EQ(ZoltPipeReadQueCount(), 0);
    }
}

TEST_F(Pipes, SelectReturnsAtOnceForAQueuedMessageElseAfterTheTimeout)
{
    std::string m = Message(200, 'Q');
    std::vector<std::string> f = Frames(Message(5000, 'I'), 1, 777);
    RawWrite(f[0]); /* an incomplete message alone does not count */
    uint32_t uStart = ZoltMilliSeconds();
    EXPECT_EQ(ZoltPipeSelect(m_hRead, -1, 120), 0);
    EXPECT_GE(ZoltMilliSeconds() - uStart, 110u);
    RawWrite(f[1] + Frame(2, 777, 1, 1, m, m.size()));
    uStart = ZoltMilliSeconds();
    EXPECT_EQ(ZoltPipeSelect(m_hRead, -1, 60000) & 1, 1);
    EXPECT_LT(ZoltMilliSeconds() - uStart, 30000u); /* not the time-out */
    EXPECT_EQ(Read(), Message(5000, 'I') + m);
}

TEST_F(Pipes, ThreadMovesPiecesBothWays)
{
    /* a loop through the thread: up to 16.6 KB, then a 64 KiB message in 17 pieces */
    int hLoop = ZoltPipeOpen(m_fifo.c_str(), 1);
    ASSERT_GE(hLoop, 0);
    ASSERT_EQ(ZoltInitReadWriteThread(), 0);
    std::string expect, got;
    for (int i = 0; i < 13; i++) {
        std::string msg = Message(i < 12 ? 100 + 1500 * (size_t)i : 65536, (char)('A' + i));
        ASSERT_EQ(ZoltPipeWrite(hLoop, msg.data(), (int)msg.size()), (int)msg.size());
        expect += msg;
    }
    for (int iRound = 0; iRound < 3000 && got.size() < expect.size(); iRound++) {
        ZoltPipeSelect(m_hRead, -1, 100);
        got += Read();
    }
    EXPECT_EQ(ZoltStopReadWriteThread(), 0);
    EXPECT_TRUE(got == expect);
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
}

}  // namespace
