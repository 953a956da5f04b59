/* pipe-lowlevel.cpp - tests of the FIFO transport over real FIFOs: frames on
 * the pipe, a full FIFO, interleaved frames, garbage, broken pipes,
 * ZoltPipeSelect and the read/write thread. Frames cut across reads at every
 * place are the transport fuzz target's (its corpus replays in every tree). */
#include <gtest/gtest.h>

#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "common/test-peer.h"
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

/* A flush sends everything queued (here 50 frames) as fast as the reader
 * empties the FIFO: well within its 1500 ms, not one frame per pause. */
TEST_F(Pipes, FlushSendsTheQueueAtTheReadersSpeed)
{
    std::string msg = Message(200000, 'F'), got;
    ASSERT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), 200000);
    std::thread reader([&] {
        for (uint32_t uStart = ZoltMilliSeconds();
             got.size() < msg.size() && ZoltMilliSeconds() - uStart < 5000; ZoltSleep(1))
            got += Peek();
    });
    EXPECT_EQ(ZoltFlushWritePipe(m_hWrite, 1500), 0);
    reader.join();
    unsigned long ulMsg = 0;
    ASSERT_EQ(sscanf(got.c_str(), "|\001\001\001H:%lu:", &ulMsg), 1);
    EXPECT_TRUE(got == zolttest::MakeFrames(msg, ulMsg, (int)getpid()));
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

/* Messages interleaved piece by piece, of two senders or of one: each is
 * reassembled, and a complete one goes out without waiting for an unfinished
 * one in front of it. */
TEST_F(Pipes, InterleavedMessagesAreReassembledAndALostPieceDropsItsMessage)
{
    std::string a = Message(9000, 'A'), b = Message(5000, 'B'), c = Message(50, 'C');
    for (int iPidB : { 222, 111 }) { /* another sender; a's sender with another number */
        SCOPED_TRACE(iPidB);
        std::vector<std::string> fa = Frames(a, 1, 111),
                                 fb = Frames(b, iPidB == 111 ? 2 : 1, iPidB);
        RawWrite(fa[0] + fb[0] + fa[1] + fb[1]);
        EXPECT_TRUE(Read() == b);
        EXPECT_EQ(ZoltPipeReadQueCount(), 1);
        RawWrite(fb[0] + fa[2] + fb[1]); /* b's number again, after a finished */
        EXPECT_TRUE(Read() == a + b);
        EXPECT_EQ(ZoltPipeReadQueCount(), 0);
    }
    std::vector<std::string> fa = Frames(a, 3, 111);
    RawWrite(fa[0] + fa[2] + fa[1]);                 /* piece 2 came late: a never completes */
    RawWrite(Frame(4, 111, 1, 1, c, c.size(), 'F')); /* type F counts as H */
    EXPECT_EQ(Read(), c);
    EXPECT_EQ(ZoltPipeReadQueCount(), 0);
}

/* Unfinished messages beyond the limits (per sender, in total) make the
 * oldest give way; every other message is still reassembled. */
TEST_F(Pipes, UnfinishedMessagesBeyondTheLimitsDropTheOldest)
{
    const int iPer = ZOLT_PIPE_MAX_PARTIAL_PER_SENDER;
    struct {
        int iSenders, iPerSender, iKept;
    } aCases[] = {
        { 1, iPer + 1, iPer },
        { ZOLT_PIPE_MAX_PARTIAL / iPer + 1, iPer, ZOLT_PIPE_MAX_PARTIAL },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.iSenders);
        std::string sFirst, sSecond, sExpect;
        int iTotal = c.iSenders * c.iPerSender;
        for (int i = 0; i < iTotal; i++) {
            std::string m = Message(30, (char)('!' + i));
            int iPid = 1 + i / c.iPerSender, iMsg = 1 + i % c.iPerSender;
            sFirst += Frame(iMsg, iPid, 1, 2, m.substr(0, 15), 30);
            sSecond += Frame(iMsg, iPid, 2, 2, m.substr(15), 30);
            sExpect += i >= iTotal - c.iKept ? m : "";
        }
        RawWrite(sFirst);
        EXPECT_EQ(Read(), "");
        EXPECT_EQ(ZoltPipeReadQueCount(), c.iKept);
        RawWrite(sSecond);
        EXPECT_TRUE(Read() == sExpect);
        EXPECT_EQ(ZoltPipeReadQueCount(), 0);
    }
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

/* A sender may cut where it likes: pieces in order whose sizes add up are one
 * message; anything else is dropped and the next message still arrives. */
TEST_F(Pipes, PiecesOfAnySizeAreReassembledWhenTheyAddUp)
{
    auto Cut = [](const std::string &s, std::vector<size_t> vSizes, unsigned long ulMsg, int iPid,
                  size_t uTotal) {
        std::string sOut;
        size_t uPos = 0;
        for (size_t i = 0; i < vSizes.size(); i++) {
            sOut += Frame(ulMsg, iPid, (int)i + 1, (int)vSizes.size(), s.substr(uPos, vSizes[i]),
                          uTotal);
            uPos += vSizes[i];
        }
        return sOut;
    };
    std::string sAck = Message(13, 'K'), s3000 = Message(3000, 'M'), s11k = Message(11000, 'L');
    struct {
        const char *szWhat;
        std::string sMsg;
        std::vector<size_t> vSizes;
        size_t uTotal;
        bool bDelivered;
    } aCases[] = {
        { "6 + 7", sAck, { 6, 7 }, 13, true },
        { "2 x 1500", s3000, { 1500, 1500 }, 3000, true },
        { "4000-byte pieces", s11k, { 4000, 4000, 3000 }, 11000, true },
        { "one byte each", sAck, std::vector<size_t>(13, 1), 13, true },
        { "last piece short of the total", s3000, { 1500, 1499 }, 3000, false },
        { "pieces past the total", s3000, { 1500, 1500 }, 2999, false },
        { "one piece short of its total", sAck, { 12 }, 13, false },
        { "piece over 4020 bytes", s11k, { 5000, 6000 }, 11000, false },
    };
    std::string sNext = Message(40, 'N');
    unsigned long ulMsg = 10;
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szWhat);
        RawWrite(Cut(c.sMsg, c.vSizes, ulMsg++, 555, c.uTotal));
        RawWrite(Frame(ulMsg++, 555, 1, 1, sNext, sNext.size()));
        EXPECT_TRUE(Read() == (c.bDelivered ? c.sMsg + sNext : sNext));
        EXPECT_EQ(ZoltPipeReadQueCount(), 0);
    }
}

/* A first piece that never gets its second: a select waiting with it alone
 * really waits (it does not return at once again and again), messages behind
 * it go out at once, and after the stall bound it is dropped. A select on a
 * FIFO whose writer has gone reports no message. */
TEST_F(Pipes, DanglingFirstPieceNeitherSpinsNorHoldsBackNorOutlivesTheStallBound)
{
    std::string sLong = Message(6000, 'D'), m1 = Message(90, '1'), m2 = Message(90, '2');
    RawWrite(Frames(sLong, 1, 600)[0]);
    struct rusage ruBefore, ruAfter;
    getrusage(RUSAGE_THREAD, &ruBefore);
    uint32_t uStart = ZoltMilliSeconds();
    EXPECT_EQ(ZoltPipeSelect(m_hRead, -1, 500), 0);
    EXPECT_GE(ZoltMilliSeconds() - uStart, 450u);
    getrusage(RUSAGE_THREAD, &ruAfter);
    long lCpuUs = (ruAfter.ru_utime.tv_sec - ruBefore.ru_utime.tv_sec) * 1000000L +
                  (ruAfter.ru_utime.tv_usec - ruBefore.ru_utime.tv_usec) +
                  (ruAfter.ru_stime.tv_sec - ruBefore.ru_stime.tv_sec) * 1000000L +
                  (ruAfter.ru_stime.tv_usec - ruBefore.ru_stime.tv_usec);
    EXPECT_LT(lCpuUs, 250000L); /* a spinning wait burns the whole 500 ms */
    RawWrite(Frame(5, 700, 1, 1, m1, m1.size()) + Frame(2, 600, 1, 1, m2, m2.size()));
    uStart = ZoltMilliSeconds();
    EXPECT_EQ(ZoltPipeSelect(m_hRead, -1, 20000) & 1, 1);
    EXPECT_LT(ZoltMilliSeconds() - uStart, 10000u); /* not held back until the stall bound */
    EXPECT_TRUE(Read() == m1 + m2);
    EXPECT_EQ(ZoltPipeReadQueCount(), 1);
    g_uZoltPipePartialStallMs = 50;
    ZoltSleep(100);
    ZoltServicePipes();
    g_uZoltPipePartialStallMs = ZOLT_PIPE_PARTIAL_STALL_MS;
    EXPECT_EQ(ZoltPipeReadQueCount(), 0);
    RawWrite(Frames(sLong, 1, 600)[1]); /* the lost piece, late: dropped */
    EXPECT_EQ(Read(), "");
    EXPECT_EQ(ZoltPipeReadQueCount(), 0);
    close(m_hRaw), m_hRaw = -1; /* the writer gone, nothing waiting: a time-out */
    EXPECT_EQ(ZoltPipeSelect(m_hRead, -1, 0), 0);
}

/* A lying total reserves nothing: the buffer follows the bytes that came. */
TEST_F(Pipes, LyingTotalAllocatesOnlyForTheBytesThatArrived)
{
    std::string sPiece(4000, 'x');
    size_t uBefore = mallinfo2().uordblks;
    for (int i = 0; i < 8; i++) /* eight senders, each claiming 16 MiB */
        RawWrite(Frame(1, 900 + i, 1, 4200, sPiece, ZOLT_PIPE_MAX_MESSAGE));
    EXPECT_EQ(Read(), "");
    size_t uAfter = mallinfo2().uordblks;
    EXPECT_LT(uAfter - std::min(uAfter, uBefore), (size_t)512 * 1024);
    RawWrite(Frame(1, 901, 1, 1, "y\r\n", ZOLT_PIPE_MAX_MESSAGE + 1)); /* over the limit */
    EXPECT_EQ(Read(), "");
}

/* A piece that cannot be allocated fails that send with its own result; the
 * write end stays open and the next send goes out. */
TEST_F(Pipes, FailedPieceAllocationIsNotABrokenPipe)
{
    std::string msg = Message(9000, 'A');
    void *(*pfnSaved)(size_t) = g_pfnZoltPipeAllocPiece;
    static int s_iAllowed;
    for (int iAllowed : { 0, 2 }) { /* the first piece, the third */
        s_iAllowed = iAllowed;
        g_pfnZoltPipeAllocPiece = [](size_t u) { return s_iAllowed-- > 0 ? malloc(u) : nullptr; };
        EXPECT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), ZOLT_PIPE_NO_MEMORY);
        g_pfnZoltPipeAllocPiece = pfnSaved;
        EXPECT_EQ(ZoltPipeWriteQueCount(), 0); /* nothing of it is left queued */
        EXPECT_EQ(Peek(), "");
    }
    std::string m = Message(100, 'B');
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, m.data(), (int)m.size()), 100);
    EXPECT_NE(Peek().find(m), std::string::npos);
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
