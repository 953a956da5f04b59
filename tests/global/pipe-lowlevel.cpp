/* pipe-lowlevel.cpp - tests of the FIFO transport over real FIFOs: the exact
 * frame on the pipe, cutting into pieces, the room check on a nearly full FIFO,
 * frames split across reads, interleaved senders (raw frames and two real
 * writer processes), ordering behind an incomplete message, garbage between
 * good frames, broken pipes, ZoltPipeSelect, flushing and the thread. */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "pipe-lowlevel.h"
#include "zolt-time.h"

namespace {

/* One frame as a writer of process iPid would put it on the pipe. */
std::string Frame(uint32_t uMsg, int iPid, int iIndex, int iCount, const std::string &piece, size_t uTotal,
                  char cType = 'H')
{
    char szDelim[80];
    snprintf(szDelim, sizeof szDelim, "|\001\001\001%c:%lu:%i:%i:%i:%lu:%lu:\001\001\001|", cType,
             (unsigned long)uMsg, iPid, iIndex, iCount, (unsigned long)piece.size(), (unsigned long)uTotal);
    return szDelim + piece;
}

/* All frames of one message, cut as the transport cuts. */
std::vector<std::string> Frames(uint32_t uMsg, int iPid, const std::string &msg)
{
    std::vector<std::string> frames;
    int iCount = (int)((msg.size() + ZOLT_PIPE_PIECE_SIZE - 1) / ZOLT_PIPE_PIECE_SIZE);
    for (int i = 0; i < iCount; i++)
        frames.push_back(Frame(uMsg, iPid, i + 1, iCount,
                               msg.substr((size_t)i * ZOLT_PIPE_PIECE_SIZE, ZOLT_PIPE_PIECE_SIZE), msg.size()));
    return frames;
}

/* A message text of n bytes ending in CR LF, its bytes telling tag and position. */
std::string Message(size_t n, char cTag)
{
    std::string s;
    for (size_t i = 0; s.size() + 2 < n; i++)
        s += (i % 61 == 0) ? cTag : (char)('a' + i % 26);
    return s + "\r\n";
}

/* The six numbers of the frame at the front of bytes, and its length. */
bool FrontFrame(const std::string &bytes, QueObject *pHdr, size_t *puFrameLen)
{
    int iDelim = 0, iType = 0;
    const char *p = FindDelimiter(bytes.data(), (int)bytes.size(), &iDelim);
    if (p != bytes.data() || !ParseDelimStr(p, iDelim, pHdr, &iType))
        return false;
    *puFrameLen = (size_t)iDelim + pHdr->uPieceSize;
    return true;
}

/* Two FIFOs in a temporary directory, an initialised and empty transport:
 * "in" with a registered read end (m_hRead) and a raw write end (m_hRaw) the
 * test writes frames through; "out" with a registered write end (m_hWrite)
 * and a raw read end (m_hPeek) the test reads bytes from as they are. */
class Pipes : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZoltPipeSignalHandle();
        char szDir[] = "/tmp/zolt-pipe-testXXXXXX";
        ASSERT_NE(mkdtemp(szDir), nullptr);
        m_dir = szDir;
        m_fifo = m_dir + "/in";
        m_out = m_dir + "/out";
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
        for (int h : {m_hRaw, m_hPeek})
            if (h >= 0)
                close(h);
        unlink(m_fifo.c_str());
        unlink(m_out.c_str());
        rmdir(m_dir.c_str());
    }
    void RawWrite(const std::string &bytes)
    {
        ASSERT_EQ(write(m_hRaw, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    }
    /* What ZoltPipeRead delivers now ("" for nothing; the out text must then be null). */
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
        close(m_hPeek);
        m_hPeek = -1;
    }
    std::string m_dir, m_fifo, m_out;
    int m_hRead = -1, m_hRaw = -1, m_hPeek = -1, m_hWrite = -1;
};

/* ---- Writing ---- */

/* The frames on the pipe are exactly the delimiters and pieces of 4020 bytes.
 * A frame goes in only while the pipe then holds at most 4096 bytes: the test
 * reads what is there, then lets the rest follow. */
TEST_F(Pipes, FramesOnThePipeAreDelimiterThenPieceOf4020)
{
    for (size_t uLen : {147, 32, 4020, 4021, 9000}) {
        SCOPED_TRACE(uLen);
        std::string msg = Message(uLen, 'C'), bytes;
        ASSERT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), (int)uLen);
        for (std::string now = Peek(); !now.empty(); ZoltServicePipes(), now = Peek()) {
            EXPECT_LE(now.size(), 4096u);
            bytes += now;
        }
        QueObject hdr;
        size_t uFrame = 0;
        ASSERT_TRUE(FrontFrame(bytes, &hdr, &uFrame));
        std::string expect;
        for (auto &f : Frames(hdr.uMsgNumber, (int)getpid(), msg))
            expect += f;
        EXPECT_TRUE(bytes == expect) << bytes.substr(0, 40);
        EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    }
    /* not a registered write end, or nothing to write: nothing on the pipe */
    EXPECT_EQ(ZoltPipeWrite(m_hPeek, "x", 1), -1);
    EXPECT_EQ(ZoltPipeWrite(9999, "x", 1), -1);
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, "x", 0), 0);
    EXPECT_EQ(Peek(), "");
}

TEST_F(Pipes, NearlyFullFifoKeepsTheFrameQueuedUntilDrained)
{
    /* 4000 unread bytes: a 175-byte frame would pass 4096 */
    std::string filler(4000, 'z');
    int hFill = open(m_out.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(hFill, 0);
    ASSERT_EQ(write(hFill, filler.data(), filler.size()), 4000);
    close(hFill);
    std::string msg = Message(147, 'N');
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), 147);  /* queued counts as written */
    ZoltServicePipes();
    EXPECT_EQ(ZoltPipeWriteQueCount(), 1);  /* still no room */
    EXPECT_EQ(Peek(), filler);
    ZoltServicePipes();
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    std::string bytes = Peek();
    ASSERT_GE(bytes.size(), msg.size());
    EXPECT_EQ(bytes.substr(bytes.size() - msg.size()), msg);
}

TEST_F(Pipes, BrokenPipeClosesTheWriterAndDropsItsQueue)
{
    std::string msg = Message(9000, 'B');
    ASSERT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), 9000);
    ASSERT_EQ(ZoltPipeWriteQueCount(), 2);  /* two pieces wait */
    ReaderGoes();
    ZoltServicePipes();  /* meets EPIPE: SIGPIPE must not end the process */
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, "x", 1), -1);  /* no longer registered */
    EXPECT_EQ(fcntl(m_hWrite, F_GETFD), -1);         /* and closed */
}

TEST_F(Pipes, WriteAfterTheReaderHasGoneReturnsZero)
{
    ReaderGoes();
    std::string msg = Message(147, 'G');
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), 0);
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), -1);
}

TEST_F(Pipes, FlushEmptiesTheQueueWhileAReaderDrains)
{
    std::string msg = Message(9000, 'F');
    ASSERT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), 9000);
    EXPECT_EQ(ZoltFlushWritePipe(m_hWrite, 0), 2);  /* nobody drains: both pieces stay */
    std::thread reader([this, &msg] {
        std::string got;
        for (int i = 0; i < 200 && got.find(msg.substr(8040)) == std::string::npos; i++) {
            struct pollfd pfd = {m_hPeek, POLLIN, 0};
            poll(&pfd, 1, 100);
            got += Peek();
        }
    });
    EXPECT_EQ(ZoltFlushWritePipe(m_hWrite, 20000), 0);
    reader.join();
}

/* ---- Reading ---- */

TEST_F(Pipes, FrameSplitAcrossReadsIsCompletedFromTheNextRead)
{
    std::string msg = Message(500, 'S');
    std::string frame = Frame(7, 4242, 1, 1, msg, msg.size());
    /* cut inside the start marker, the delimiter, the end marker, the payload */
    size_t auCut[] = {1, 3, 4, 5, 12, 24, 25, 27, 28, 29, 300, frame.size() - 1};
    for (size_t uCut : auCut) {
        SCOPED_TRACE(uCut);
        RawWrite(frame.substr(0, uCut));
        EXPECT_EQ(Read(), "");
        RawWrite(frame.substr(uCut));
        EXPECT_EQ(Read(), msg);
    }
    /* a 9000-byte message in three pieces, written 1000 bytes at a time */
    std::string big = Message(9000, 'T'), all, got;
    for (auto &f : Frames(8, 4242, big))
        all += f;
    for (size_t u = 0; u < all.size(); u += 1000) {
        RawWrite(all.substr(u, 1000));
        got += Read();
        EXPECT_TRUE(got.empty() || u + 1000 >= all.size());
    }
    EXPECT_TRUE(got == big);
}

TEST_F(Pipes, InterleavedSendersAreReassembled)
{
    std::string a = Message(9000, 'A'), b = Message(5000, 'B');
    std::vector<std::string> fa = Frames(1, 111, a), fb = Frames(1, 222, b);  /* same message number */
    RawWrite(fa[0] + fb[0] + fa[1] + fb[1]);  /* b is complete, but waits behind the unfinished a */
    EXPECT_EQ(Read(), "");
    EXPECT_EQ(ZoltPipeReadQueCount(), 2);
    RawWrite(fa[2]);
    EXPECT_TRUE(Read() == a + b);
    EXPECT_EQ(ZoltPipeReadQueCount(), 0);
}

TEST_F(Pipes, LostPieceDropsItsMessageAndTypeFCountsAsH)
{
    std::string a = Message(9000, 'A'), b = Message(50, 'B');
    std::vector<std::string> fa = Frames(1, 111, a);
    RawWrite(fa[0] + fa[2] + fa[1]);  /* piece 2 came late: a can never complete */
    RawWrite(Frame(2, 111, 1, 1, b, b.size(), 'F'));
    EXPECT_EQ(Read(), b);
    EXPECT_EQ(ZoltPipeReadQueCount(), 0);
}

TEST_F(Pipes, GarbageBetweenGoodFramesIsDropped)
{
    std::string m1 = Message(120, '1'), m2 = Message(4500, '2'), m3 = Message(60, '3');
    std::vector<std::string> f2 = Frames(2, 333, m2);
    struct { const char *szWhat; std::string garbage; } aCase[] = {
        {"plain bytes", "hello world\r\n\x7f\x80\xff"},
        {"NUL bytes", std::string("\0\0\0x\0", 5)},
        {"start marker only", "|\001\001\001"},
        {"cut start marker", "|\001\001"},
        {"stray end marker", "\001\001\001|"},
        {"bad type letter", Frame(3, 333, 1, 1, "zzzz", 4, 'Q')},
        {"no digits", "|\001\001\001H:x:1:1:1:1:1:\001\001\001|"},
        {"five numbers", "|\001\001\001H:3:333:1:1:2:\001\001\001|zz"},
        {"last separator missing", "|\001\001\001H:3:333:1:1:2:2\001\001\001|zz"},
        {"type letter too late", "|\001\001\001XYZH:3:333:1:1:2:2:\001\001\001|zz"},
        {"absurd piece count", Frame(3, 333, 1, 99999, "zz", 2)},
        {"absurd total", "|\001\001\001H:3:333:1:1:4020:4294967295:\001\001\001|"},
        {"piece size too big", "|\001\001\001H:3:333:1:1:5000:5000:\001\001\001|"},
        {"size beyond 32 bits", "|\001\001\001H:3:333:1:1:99999999999:99999999999:\001\001\001|"},
        {"negative count", "|\001\001\001H:3:333:1:-1:2:2:\001\001\001|"},
        {"delimiter over 63", "|\001\001\001H:1:333:1:1:5:5:" + std::string(50, '0') + "\001\001\001|abcde"},
        {"piece without its first", Frame(4, 444, 2, 2, std::string(100, 'q'), 4120)},
    };
    for (auto &c : aCase) {
        SCOPED_TRACE(c.szWhat);
        RawWrite(c.garbage + Frame(1, 333, 1, 1, m1, m1.size()) + c.garbage + f2[0] + c.garbage);
        RawWrite(f2[1] + Frame(3, 333, 1, 1, m3, m3.size()));
        EXPECT_TRUE(Read() == m1 + m2 + m3);
        EXPECT_EQ(ZoltPipeReadQueCount(), 0);
    }
}

/* Two writer processes send through their own write ends of one FIFO at the
 * same time; the parent finds every message whole and in its writer's order. */
TEST_F(Pipes, TwoWriterProcessesShareOneFifo)
{
    const size_t auLen[] = {5000, 8000, 11000, 14000};
    pid_t aPid[2];
    for (int w = 0; w < 2; w++) {
        ASSERT_GE(aPid[w] = fork(), 0);
        if (aPid[w] == 0) {
            ZoltCleanupPipes();  /* the parent's registrations are not ours */
            ZoltInitPipes();
            int h = ZoltPipeOpen(m_fifo.c_str(), 1), iBad = h < 0;
            for (size_t uLen : auLen)
                iBad |= ZoltPipeWrite(h, Message(uLen, (char)('a' + w)).data(), (int)uLen) != (int)uLen;
            ZoltInitReadWriteThread();  /* writes the queued pieces as the parent drains */
            for (int i = 0; i < 30000 && ZoltPipeWriteQueCount() > 0; i++)
                ZoltSleep(1);
            iBad |= ZoltPipeWriteQueCount() != 0;
            ZoltStopReadWriteThread();
            _exit(iBad);
        }
    }
    std::string got;
    for (int iRound = 0; iRound < 2000 && got.size() < 2 * 38000; iRound++) {
        ASSERT_GE(ZoltPipeSelect(m_hRead, -1, 100), 0);
        got += Read();
    }
    for (int w = 0; w < 2; w++) {
        int iStatus = 0;
        waitpid(aPid[w], &iStatus, 0);
        EXPECT_TRUE(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0) << iStatus;
    }
    ASSERT_EQ(got.size(), 2u * 38000);
    for (int w = 0; w < 2; w++) {
        size_t uFrom = 0;
        for (size_t uLen : auLen) {  /* whole, and in the writer's order */
            uFrom = got.find(Message(uLen, (char)('a' + w)), uFrom);
            ASSERT_NE(uFrom, std::string::npos) << "writer " << w << " message of " << uLen;
        }
    }
}

/* ---- Waiting and the thread ---- */

long long NowMs(void)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return (long long)tv.tv_sec * 1000 + tv.tv_usec / 1000;
}

TEST_F(Pipes, SelectReturnsAtOnceForAQueuedMessageElseAfterTheTimeout)
{
    long long llStart = NowMs();
    EXPECT_EQ(ZoltPipeSelect(m_hRead, -1, 120), 0);
    EXPECT_GE(NowMs() - llStart, 110);
    std::string m = Message(200, 'Q');
    std::vector<std::string> f = Frames(1, 777, Message(5000, 'I'));
    RawWrite(f[0]);  /* an incomplete message alone does not count */
    EXPECT_EQ(ZoltPipeSelect(m_hRead, -1, 60), 0);
    RawWrite(f[1] + Frame(2, 777, 1, 1, m, m.size()));
    llStart = NowMs();
    EXPECT_EQ(ZoltPipeSelect(m_hRead, -1, 60000) & 1, 1);
    EXPECT_LT(NowMs() - llStart, 30000);  /* not the time-out */
    EXPECT_EQ(Read(), Message(5000, 'I') + m);
}

TEST_F(Pipes, ThreadMovesPiecesBothWays)
{
    /* the transport writes into its own read FIFO: a loop through the thread */
    int hLoop = ZoltPipeOpen(m_fifo.c_str(), 1);
    ASSERT_GE(hLoop, 0);
    ASSERT_EQ(ZoltInitReadWriteThread(), 0);
    std::string expect, got;
    for (int i = 0; i < 13; i++) {
        /* up to 16.6 KB, then a 64 KiB answer in 17 pieces */
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

/* ---- Delimiters ---- */

TEST(PipeDelimiter, MakeAndParseAgreeAtTheLargestNumbers)
{
    QueObject q = {4294967295u, 4194304, 3, 3, 960, 9000, 0, nullptr, 0, 0}, back;
    char szDelim[128];
    int iLen = MakeDelimiterStr(&q, ZOLT_PIPE_FRAME_H, szDelim, sizeof szDelim), iType = -1;
    EXPECT_EQ(std::string(szDelim, (size_t)iLen), "|\001\001\001H:4294967295:4194304:3:3:960:9000:\001\001\001|");
    ASSERT_EQ(ParseDelimStr(szDelim, iLen, &back, &iType), 1);
    EXPECT_EQ(iType, ZOLT_PIPE_FRAME_H);
    EXPECT_TRUE(back.uMsgNumber == q.uMsgNumber && back.iSenderPid == q.iSenderPid &&
                back.iPieceIndex == 3 && back.iPieceCount == 3 && back.uPieceSize == 960 && back.uTotalSize == 9000);
    EXPECT_EQ(MakeDelimiterStr(&q, ZOLT_PIPE_FRAME_H, szDelim, iLen), 0);  /* no room for the NUL */
}

}  // namespace
