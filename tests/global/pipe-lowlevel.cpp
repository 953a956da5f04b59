/* pipe-lowlevel.cpp - tests of the FIFO transport over real FIFOs: the exact
 * frame on the pipe, cutting into pieces, the room check on a nearly full FIFO,
 * frames split across reads, interleaved senders (raw frames and two real
 * writer processes), ordering behind an incomplete message, garbage between
 * good frames, broken pipes, ZoltPipeSelect, flushing and the thread. */
#include <gtest/gtest.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <random>
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
        frames.push_back(Frame(uMsg, iPid, i + 1, iCount, msg.substr((size_t)i * ZOLT_PIPE_PIECE_SIZE,
                                                                     ZOLT_PIPE_PIECE_SIZE),
                               msg.size()));
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

/* A FIFO pair in a temporary directory: the FIFO, its read end registered
 * with the transport (m_hRead) and a raw write end (m_hRaw) the test writes
 * frames through. Each test starts with an initialised, empty transport. */
class FifoPair : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZoltPipeSignalHandle();
        char szDir[] = "/tmp/zolt-pipe-testXXXXXX";
        ASSERT_NE(mkdtemp(szDir), nullptr);
        m_dir = szDir;
        m_fifo = m_dir + "/fifo";
        ASSERT_EQ(ZoltPipeMkFifo(m_fifo.c_str()), 0);
        ASSERT_EQ(ZoltInitPipes(), 0);
        m_hRead = ZoltPipeOpen(m_fifo.c_str(), 0);
        ASSERT_GE(m_hRead, 0);
        m_hRaw = open(m_fifo.c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(m_hRaw, 0);
    }
    void TearDown() override
    {
        ZoltStopReadWriteThread();
        ZoltCleanupPipes();
        if (m_hRaw >= 0)
            close(m_hRaw);
        unlink(m_fifo.c_str());
        rmdir(m_dir.c_str());
    }
    void RawWrite(const std::string &bytes)
    {
        ASSERT_EQ(write(m_hRaw, bytes.data(), bytes.size()), (ssize_t)bytes.size());
    }
    /* What ZoltPipeRead delivers now ("" for nothing; the out text must then be null). */
    std::string Read(int hRead = -1)
    {
        char *pOut = nullptr;
        int n = ZoltPipeRead(hRead < 0 ? m_hRead : hRead, &pOut);
        std::string s;
        if (n > 0) {
            EXPECT_NE(pOut, nullptr);
            if (pOut != nullptr) {
                EXPECT_EQ(strlen(pOut), (size_t)n);
                s.assign(pOut, (size_t)n);
            }
        } else {
            EXPECT_EQ(pOut, nullptr);
        }
        free(pOut);
        return s;
    }
    int Unread(int fd)
    {
        int n = -1;
        ioctl(fd, FIONREAD, &n);
        return n;
    }
    std::string m_dir, m_fifo;
    int m_hRead = -1, m_hRaw = -1;
};

/* A second FIFO whose raw read end the test inspects, with a registered
 * write end (the transport writes, the test reads bytes as they are). */
class WriteFifo : public FifoPair {
protected:
    void SetUp() override
    {
        FifoPair::SetUp();
        m_out = m_dir + "/out";
        ASSERT_EQ(ZoltPipeMkFifo(m_out.c_str()), 0);
        m_hPeek = open(m_out.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(m_hPeek, 0);
        m_hWrite = ZoltPipeOpen(m_out.c_str(), 1);
        ASSERT_GE(m_hWrite, 0);
    }
    void TearDown() override
    {
        if (m_hPeek >= 0)
            close(m_hPeek);
        unlink(m_out.c_str());  /* before the directory goes */
        FifoPair::TearDown();
    }
    std::string Peek()
    {
        std::string s;
        char acBuf[8192];
        ssize_t n;
        while ((n = read(m_hPeek, acBuf, sizeof acBuf)) > 0)
            s.append(acBuf, (size_t)n);
        return s;
    }
    std::string m_out;
    int m_hPeek = -1, m_hWrite = -1;
};

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

/* ---- Writing ---- */

TEST_F(WriteFifo, FrameOnThePipeIsDelimiterThenMessage)
{
    std::string msg = Message(147, 'A');
    ASSERT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), 147);
    ASSERT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), 32), 32);  /* exactly 32 bytes: written, no broken pipe */
    std::string bytes = Peek();
    QueObject hdr;
    size_t uLen = 0;
    ASSERT_TRUE(FrontFrame(bytes, &hdr, &uLen));
    std::string expect = Frame(hdr.uMsgNumber, (int)getpid(), 1, 1, msg, 147);
    EXPECT_EQ(bytes.substr(0, uLen), expect);
    /* markers 8, "H:" 2, five more separators, "1", "1", "147", "147" 8, the numbers, 147 bytes */
    EXPECT_EQ(uLen, 8 + 2 + 6 + 8 + std::to_string(hdr.uMsgNumber).size() + std::to_string(getpid()).size() + 147);
    EXPECT_EQ(bytes.substr(uLen), Frame(hdr.uMsgNumber + 1, (int)getpid(), 1, 1, msg.substr(0, 32), 32));
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
}

TEST_F(WriteFifo, MessagesAreCutIntoPiecesOf4020)
{
    struct {
        size_t uLen;
        int iPieces, iLastPiece;
    } aCase[] = {{4020, 1, 4020}, {4021, 2, 1}, {8040, 2, 4020}, {9000, 3, 960}};
    for (auto &c : aCase) {
        SCOPED_TRACE(c.uLen);
        std::string msg = Message(c.uLen, 'C');
        ASSERT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), (int)c.uLen);
        /* the room check lets a frame in only while the pipe then holds at
         * most 4096 bytes: read what is there, then let the rest follow */
        std::string got;
        int iPieces = 0;
        for (std::string bytes = Peek(); !bytes.empty(); ZoltServicePipes(), bytes = Peek()) {
            EXPECT_LE(bytes.size(), 4096u);
            while (!bytes.empty()) {
                QueObject hdr;
                size_t uLen = 0;
                ASSERT_TRUE(FrontFrame(bytes, &hdr, &uLen));
                ASSERT_LE(uLen, bytes.size());
                iPieces++;
                EXPECT_EQ(hdr.iPieceIndex, iPieces);
                EXPECT_EQ(hdr.iPieceCount, c.iPieces);
                EXPECT_EQ(hdr.uTotalSize, c.uLen);
                EXPECT_EQ(hdr.uPieceSize, iPieces < c.iPieces ? 4020u : (uint32_t)c.iLastPiece);
                got += bytes.substr(uLen - hdr.uPieceSize, hdr.uPieceSize);
                bytes.erase(0, uLen);
            }
        }
        EXPECT_EQ(iPieces, c.iPieces);
        EXPECT_TRUE(got == msg);
    }
}

TEST_F(WriteFifo, UnknownHandleAndEmptyMessage)
{
    EXPECT_EQ(ZoltPipeWrite(m_hPeek, "x", 1), -1);  /* open, but not a registered write end */
    EXPECT_EQ(ZoltPipeWrite(9999, "x", 1), -1);
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, "x", 0), 0);
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    EXPECT_EQ(Peek(), "");
}

TEST_F(WriteFifo, NearlyFullFifoKeepsTheFrameQueuedUntilDrained)
{
    /* 4000 unread bytes: a 175-byte frame would pass 4096 */
    std::string filler(4000, 'z');
    int hFill = open(m_out.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(hFill, 0);
    ASSERT_EQ(write(hFill, filler.data(), filler.size()), 4000);
    close(hFill);
    std::string msg = Message(147, 'N');
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), 147);  /* queued counts as written */
    EXPECT_EQ(ZoltPipeWriteQueCount(), 1);
    EXPECT_EQ(Unread(m_hPeek), 4000);
    ZoltServicePipes();
    EXPECT_EQ(ZoltPipeWriteQueCount(), 1);  /* still no room */
    EXPECT_EQ(Peek(), filler);
    ZoltServicePipes();
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    std::string bytes = Peek();
    ASSERT_GE(bytes.size(), msg.size());
    EXPECT_EQ(bytes.substr(bytes.size() - msg.size()), msg);
}

TEST_F(WriteFifo, BrokenPipeClosesTheWriterAndDropsItsQueue)
{
    /* a 9000-byte message leaves two pieces queued */
    std::string msg = Message(9000, 'B');
    ASSERT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), 9000);
    ASSERT_EQ(ZoltPipeWriteQueCount(), 2);
    close(m_hPeek);  /* the reader goes */
    m_hPeek = -1;
    ZoltServicePipes();  /* meets EPIPE: SIGPIPE must not end the process */
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, "x", 1), -1);  /* no longer registered */
    EXPECT_EQ(fcntl(m_hWrite, F_GETFD), -1);         /* and closed */
}

TEST_F(WriteFifo, WriteAfterTheReaderHasGoneReturnsZero)
{
    close(m_hPeek);
    m_hPeek = -1;
    std::string msg = Message(147, 'G');
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), 0);
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    EXPECT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), -1);
}

TEST_F(WriteFifo, FlushReportsWhatIsLeftAndCloseOfUnknownHandleIsHarmless)
{
    std::string msg = Message(9000, 'F');
    ASSERT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), 9000);
    EXPECT_EQ(ZoltFlushWritePipe(m_hWrite, 0), 2);  /* nobody drains: both pieces stay */
    /* a reader draining in parallel lets the flush empty the queue */
    std::thread reader([this, &msg] {
        /* reads until the last piece has come through (at most 20 s) */
        std::string got;
        const std::string last = msg.substr(8040);
        for (int i = 0; i < 200 && got.find(last) == std::string::npos; i++) {
            struct pollfd pfd = {m_hPeek, POLLIN, 0};
            poll(&pfd, 1, 100);
            got += Peek();
        }
    });
    EXPECT_EQ(ZoltFlushWritePipe(m_hWrite, 20000), 0);
    reader.join();

    int hOther = open("/dev/null", O_RDONLY);
    ASSERT_GE(hOther, 0);
    EXPECT_EQ(ZoltPipeClose(hOther), 0);
    EXPECT_EQ(fcntl(hOther, F_GETFD) >= 0, true);  /* not closed by the transport */
    close(hOther);
}

TEST_F(WriteFifo, ReopeningARegisteredHandleNumberDropsItsQueue)
{
    std::string msg = Message(9000, 'R');
    ASSERT_EQ(ZoltPipeWrite(m_hWrite, msg.data(), (int)msg.size()), 9000);
    ASSERT_EQ(ZoltPipeWriteQueCount(), 2);
    close(m_hWrite);  /* closed behind the transport's back: the number is free again */
    int hNew = ZoltPipeOpen(m_out.c_str(), 1);
    if (hNew != m_hWrite)
        GTEST_SKIP() << "the system handed out another handle number";
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
    Peek();
    EXPECT_EQ(ZoltPipeWrite(hNew, "x\r\n", 3), 3);
}

/* ---- Reading ---- */

TEST_F(FifoPair, FrameSplitAcrossReadsIsCompletedFromTheNextRead)
{
    std::string msg = Message(500, 'S');
    std::string frame = Frame(7, 4242, 1, 1, msg, msg.size());
    /* cut inside the start marker, the delimiter, the end marker, the payload */
    size_t auCut[] = {1, 2, 3, 4, 5, 12, 24, 25, 27, 28, 29, 300, frame.size() - 1};
    for (size_t uCut : auCut) {
        SCOPED_TRACE(uCut);
        RawWrite(frame.substr(0, uCut));
        EXPECT_EQ(Read(), "");
        RawWrite(frame.substr(uCut));
        EXPECT_EQ(Read(), msg);
    }
    /* three pieces in many small writes with reads between */
    std::string big = Message(9000, 'T');
    std::string all;
    for (auto &f : Frames(8, 4242, big))
        all += f;
    std::string got;
    for (size_t u = 0; u < all.size(); u += 1000) {
        RawWrite(all.substr(u, 1000));
        got += Read();
        if (u + 1000 < all.size()) {
            EXPECT_EQ(got, "");
        }
    }
    EXPECT_TRUE(got == big);
}

TEST_F(FifoPair, InterleavedSendersAreReassembled)
{
    std::string a = Message(9000, 'A'), b = Message(5000, 'B');
    std::vector<std::string> fa = Frames(1, 111, a), fb = Frames(1, 222, b);  /* same message number */
    RawWrite(fa[0]);
    RawWrite(fb[0]);
    RawWrite(fa[1]);
    RawWrite(fb[1]);  /* b is complete, but behind the unfinished a */
    EXPECT_EQ(Read(), "");
    EXPECT_EQ(ZoltPipeReadQueCount(), 2);
    RawWrite(fa[2]);
    EXPECT_TRUE(Read() == a + b);
    EXPECT_EQ(ZoltPipeReadQueCount(), 0);
}

TEST_F(FifoPair, CompleteMessageWaitsBehindAnIncompleteOne)
{
    std::string a = Message(6000, 'A'), b = Message(100, 'B'), c = Message(90, 'C');
    std::vector<std::string> fa = Frames(5, 111, a);
    RawWrite(fa[0]);
    RawWrite(Frame(9, 222, 1, 1, b, b.size()));
    EXPECT_EQ(Read(), "");
    RawWrite(fa[1]);
    RawWrite(Frame(10, 222, 1, 1, c, c.size()));
    EXPECT_TRUE(Read() == a + b + c);
}

TEST_F(FifoPair, GarbageBetweenGoodFramesIsDropped)
{
    std::string m1 = Message(120, '1'), m2 = Message(4500, '2'), m3 = Message(60, '3');
    std::vector<std::string> f2 = Frames(2, 333, m2);
    std::string longDelim = "|\001\001\001H:1:333:1:1:5:5:" + std::string(50, '0') + "\001\001\001|abcde";
    struct {
        const char *szWhat;
        std::string garbage;
    } aCase[] = {
        {"plain bytes", "hello world\r\n\x7f\x80\xff"},
        {"NUL bytes", std::string("\0\0\0x\0", 5)},
        {"start marker only", "|\001\001\001"},
        {"cut start marker", "|\001\001"},
        {"bad type letter", Frame(3, 333, 1, 1, "zzzz", 4, 'Q')},
        {"no digits", "|\001\001\001H:x:1:1:1:1:1:\001\001\001|"},
        {"absurd piece count", Frame(3, 333, 1, 99999, "zz", 2)},
        {"absurd total", "|\001\001\001H:3:333:1:1:4020:4294967295:\001\001\001|"},
        {"piece size too big", "|\001\001\001H:3:333:1:1:5000:5000:\001\001\001|"},
        {"size beyond 32 bits", "|\001\001\001H:3:333:1:1:99999999999:99999999999:\001\001\001|"},
        {"negative count", "|\001\001\001H:3:333:1:-1:2:2:\001\001\001|"},
        {"delimiter over 63", longDelim},
        {"piece without its first", Frame(4, 444, 2, 2, std::string(100, 'q'), 4120)},
        {"stray end marker", "\001\001\001|"},
    };
    for (auto &c : aCase) {
        SCOPED_TRACE(c.szWhat);
        RawWrite(c.garbage);
        RawWrite(Frame(1, 333, 1, 1, m1, m1.size()));
        RawWrite(c.garbage);
        RawWrite(f2[0]);
        RawWrite(c.garbage);
        RawWrite(f2[1]);
        RawWrite(Frame(3, 333, 1, 1, m3, m3.size()));
        EXPECT_TRUE(Read() == m1 + m2 + m3);
        EXPECT_EQ(ZoltPipeReadQueCount(), 0);
    }
}

/* Random streams: messages of random sizes in frames, random garbage (never
 * holding a type letter, so it cannot form a delimiter) between any two
 * frames, written in random chunks with a read after each. Every message must
 * come out whole and in order, and nothing else. */
TEST_F(FifoPair, RandomGarbageAndChunkingNeverCorruptAMessage)
{
    unsigned uSeed = (unsigned)time(nullptr);
    SCOPED_TRACE("seed " + std::to_string(uSeed));
    std::mt19937 rng(uSeed);
    static const char kGarbage[] = "|\001\001\001:0123456789xyz\r\n<>\377";
    for (int iRound = 0; iRound < 40; iRound++) {
        std::string stream, expect;
        for (int iMsg = 0; iMsg < 6; iMsg++) {
            std::string msg = Message(1 + rng() % 10000, (char)('A' + iMsg));
            expect += msg;
            for (auto &f : Frames((uint32_t)(iRound * 10 + iMsg), 900 + iRound, msg)) {
                size_t uGarbage = rng() % 4 == 0 ? rng() % 80 : 0;
                for (size_t i = 0; i < uGarbage; i++)
                    stream += kGarbage[rng() % (sizeof kGarbage - 1)];
                stream += f;
            }
        }
        std::string got;
        for (size_t u = 0; u < stream.size();) {
            size_t uChunk = 1 + rng() % 5000;
            RawWrite(stream.substr(u, uChunk));
            u += uChunk;
            got += Read();
        }
        ASSERT_EQ(got.size(), expect.size()) << "round " << iRound;
        ASSERT_TRUE(got == expect) << "round " << iRound;
        ASSERT_EQ(ZoltPipeReadQueCount(), 0);
    }
}

TEST_F(FifoPair, TypeFIsAcceptedAsH)
{
    std::string m = Message(64, 'F');
    RawWrite(Frame(1, 555, 1, 1, m, m.size(), 'F'));
    EXPECT_EQ(Read(), m);
}

TEST_F(FifoPair, OutOfOrderPieceDropsItsMessage)
{
    std::string a = Message(9000, 'A'), b = Message(50, 'B');
    std::vector<std::string> fa = Frames(1, 111, a);
    RawWrite(fa[0]);
    RawWrite(fa[2]);  /* piece 2 was lost: a can never complete */
    RawWrite(fa[1]);  /* now without its entry */
    RawWrite(Frame(2, 111, 1, 1, b, b.size()));
    EXPECT_EQ(Read(), b);
    EXPECT_EQ(ZoltPipeReadQueCount(), 0);
}

/* Two writer processes send through their own write ends of one FIFO at the
 * same time; the parent reads everything and finds both messages whole. */
TEST_F(FifoPair, TwoWriterProcessesShareOneFifo)
{
    const int kPerWriter = 4;
    pid_t aPid[2];
    for (int w = 0; w < 2; w++) {
        aPid[w] = fork();
        ASSERT_GE(aPid[w], 0);
        if (aPid[w] == 0) {
            ZoltCleanupPipes();  /* the parent's registrations are not ours */
            ZoltInitPipes();
            int h = ZoltPipeOpen(m_fifo.c_str(), 1);
            if (h < 0)
                _exit(2);
            for (int i = 0; i < kPerWriter; i++) {
                std::string msg = Message(5000 + 3000 * i, (char)('a' + w));
                if (ZoltPipeWrite(h, msg.data(), (int)msg.size()) != (int)msg.size())
                    _exit(3);
            }
            /* the thread writes the queued pieces as the parent drains */
            ZoltInitReadWriteThread();
            for (int i = 0; i < 30000 && ZoltPipeWriteQueCount() > 0; i++)
                ZoltSleep(1);
            int iLeft = ZoltPipeWriteQueCount();
            ZoltStopReadWriteThread();
            _exit(iLeft == 0 ? 0 : 4);
        }
    }
    std::string got;
    size_t uExpect = 0;
    for (int i = 0; i < kPerWriter; i++)
        uExpect += 2 * (5000 + 3000 * i);
    for (int iRound = 0; iRound < 2000 && got.size() < uExpect; iRound++) {
        int rv = ZoltPipeSelect(m_hRead, -1, 100);
        ASSERT_GE(rv, 0);
        got += Read();
    }
    for (int w = 0; w < 2; w++) {
        int iStatus = 0;
        waitpid(aPid[w], &iStatus, 0);
        EXPECT_TRUE(WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 0) << iStatus;
    }
    ASSERT_EQ(got.size(), uExpect);
    /* each writer's messages arrive whole and in its order */
    for (int w = 0; w < 2; w++) {
        size_t uFrom = 0;
        for (int i = 0; i < kPerWriter; i++) {
            std::string msg = Message(5000 + 3000 * i, (char)('a' + w));
            size_t uAt = got.find(msg, uFrom);
            ASSERT_NE(uAt, std::string::npos) << "writer " << w << " message " << i;
            uFrom = uAt + msg.size();
        }
    }
}

/* ---- Waiting ---- */

long long NowMs(void)
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return (long long)tv.tv_sec * 1000 + tv.tv_usec / 1000;
}

TEST_F(FifoPair, SelectReturnsAtOnceWhenAMessageIsQueued)
{
    std::string m = Message(200, 'Q');
    RawWrite(Frame(1, 777, 1, 1, m, m.size()));
    long long llStart = NowMs();
    int rv = ZoltPipeSelect(m_hRead, -1, 60000);
    EXPECT_EQ(rv & 1, 1);
    EXPECT_LT(NowMs() - llStart, 30000);  /* not the time-out */
    EXPECT_EQ(Read(), m);
}

TEST_F(FifoPair, SelectTimesOutOnAnIdleFifo)
{
    long long llStart = NowMs();
    EXPECT_EQ(ZoltPipeSelect(m_hRead, -1, 120), 0);
    EXPECT_GE(NowMs() - llStart, 110);
    /* an incomplete message alone does not count either */
    std::vector<std::string> f = Frames(1, 777, Message(5000, 'I'));
    RawWrite(f[0]);
    EXPECT_EQ(ZoltPipeSelect(m_hRead, -1, 60), 0);
    EXPECT_EQ(Read(), "");
}

TEST_F(FifoPair, SelectWakesForAMessageArrivingWhileItWaits)
{
    std::string m = Message(3000, 'W');
    std::string frame = Frame(1, 778, 1, 1, m, m.size());
    std::thread writer([&] {
        /* in two parts: the select must keep waiting after the first */
        RawWrite(frame.substr(0, 100));
        RawWrite(frame.substr(100));
    });
    int rv = 0;
    for (int i = 0; i < 100 && (rv & 1) == 0; i++)
        rv = ZoltPipeSelect(m_hRead, -1, 10000);
    writer.join();
    EXPECT_EQ(rv & 1, 1);
    EXPECT_EQ(Read(), m);
}

/* ---- The read/write thread ---- */

TEST_F(WriteFifo, ThreadMovesPiecesBothWays)
{
    /* the transport writes into its own read FIFO: a loop through the thread */
    int hLoop = ZoltPipeOpen(m_fifo.c_str(), 1);
    ASSERT_GE(hLoop, 0);
    ASSERT_EQ(ZoltInitReadWriteThread(), 0);
    std::string expect;
    for (int i = 0; i < 13; i++) {
        /* up to 16.6 KB, then a 64 KiB answer in 17 pieces */
        std::string msg = Message(i < 12 ? 100 + 1500 * (size_t)i : 65536, (char)('A' + i));
        ASSERT_EQ(ZoltPipeWrite(hLoop, msg.data(), (int)msg.size()), (int)msg.size());
        expect += msg;
    }
    std::string got;
    for (int iRound = 0; iRound < 3000 && got.size() < expect.size(); iRound++) {
        ZoltPipeSelect(m_hRead, -1, 100);
        got += Read();
    }
    EXPECT_EQ(ZoltStopReadWriteThread(), 0);
    EXPECT_EQ(got.size(), expect.size());
    EXPECT_TRUE(got == expect);
    EXPECT_EQ(ZoltPipeWriteQueCount(), 0);
}

/* ---- Delimiters ---- */

TEST(PipeDelimiter, MakeAndParseAgree)
{
    QueObject q;
    memset(&q, 0, sizeof q);
    struct {
        uint32_t uMsg;
        int iPid, iIndex, iCount;
        uint32_t uSize, uTotal;
        const char *szExpect;
    } aCase[] = {
        {5, 812, 1, 1, 147, 147, "|\001\001\001H:5:812:1:1:147:147:\001\001\001|"},
        {4294967295u, 4194304, 3, 3, 960, 9000, "|\001\001\001H:4294967295:4194304:3:3:960:9000:\001\001\001|"},
    };
    for (auto &c : aCase) {
        q.uMsgNumber = c.uMsg;
        q.iSenderPid = c.iPid;
        q.iPieceIndex = c.iIndex;
        q.iPieceCount = c.iCount;
        q.uPieceSize = c.uSize;
        q.uTotalSize = c.uTotal;
        char szDelim[128];
        int iLen = MakeDelimiterStr(&q, ZOLT_PIPE_FRAME_H, szDelim, sizeof szDelim);
        EXPECT_EQ(std::string(szDelim, (size_t)iLen), c.szExpect);
        QueObject back;
        int iType = -1;
        ASSERT_EQ(ParseDelimStr(szDelim, iLen, &back, &iType), 1);
        EXPECT_EQ(iType, ZOLT_PIPE_FRAME_H);
        EXPECT_EQ(back.uMsgNumber, q.uMsgNumber);
        EXPECT_EQ(back.iSenderPid, q.iSenderPid);
        EXPECT_EQ(back.iPieceIndex, q.iPieceIndex);
        EXPECT_EQ(back.iPieceCount, q.iPieceCount);
        EXPECT_EQ(back.uPieceSize, q.uPieceSize);
        EXPECT_EQ(back.uTotalSize, q.uTotalSize);
    }
    /* the 28-byte delimiter of the example */
    EXPECT_EQ(strlen(aCase[0].szExpect), 28u);
    char szSmall[20];
    EXPECT_EQ(MakeDelimiterStr(&q, ZOLT_PIPE_FRAME_H, szSmall, sizeof szSmall), 0);
}

TEST(PipeDelimiter, MalformedDelimitersAreRefused)
{
    const std::string aBad[] = {
        "|\001\001\001H:1:2:3:4:5:6\001\001\001|",        /* last separator missing */
        "|\001\001\001H:1:2:3:4:5:\001\001\001|",         /* five numbers */
        "|\001\001\001XYZH:1:2:3:4:5:6:\001\001\001|",    /* type letter too late */
        "|\001\001\001H:1:2:3:4:5:12345678901:\001\001\001|", /* eleven digits */
        "|\001\001H:1:2:3:4:5:6:\001\001\001|",           /* start marker cut */
        "|\001\001\001H:1:2:3:4:5:6:\001\001|",           /* end marker cut */
    };
    for (auto &bad : aBad) {
        QueObject q;
        int iType = 0;
        EXPECT_EQ(ParseDelimStr(bad.data(), (int)bad.size(), &q, &iType), 0) << bad;
    }
    int iLen = 0;
    std::string text = "xx|\001\001\001" + std::string(70, 'a') + "|\001\001\001H:1:2:1:1:1:1:\001\001\001|z";
    const char *p = FindDelimiter(text.data(), (int)text.size(), &iLen);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p - text.data(), 76);  /* the first start marker has no end marker in reach */
    EXPECT_EQ(iLen, 22);
}

}  // namespace
