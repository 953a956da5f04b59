/* transport.cpp - fuzz target that checks what the FIFO transport delivers:
 * the input drives a generator of valid frames (pieces of 1 to 4020 bytes,
 * up to 8 senders interleaved, harmless garbage between frames, dangling
 * first pieces and orphan later pieces, one or two read ends), the stream
 * goes through real FIFOs in chunks, and a model of the reader says which
 * messages are complete. Every complete message must come out whole, once,
 * in its sender's order, at the latest in the second read after the last
 * byte; nothing else may come out; a select must report exactly when a read
 * would deliver. */
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fuzz-common.h"
#include "pipe-lowlevel.h"

#define TRANSPORT_MAX_STREAM 262144 /* bytes of all frames and garbage */
#define TRANSPORT_MAX_PENDING 12    /* frames a sender may have waiting */
#define TRANSPORT_MAX_SENDERS 8
/* With two read ends the order in which the reader sees frames of different
 * FIFOs depends on the reads, so the model keeps below the 64-message limit
 * there (8 senders + 56 dangling pieces); with one read end it models the
 * limit exactly (the oldest unfinished message gives way). The limit per
 * sender and read end is modelled in both. */
#define TRANSPORT_MAX_DANGLING_TWO_ENDS 56
#define TRANSPORT_READS_AFTER_END 2
#define TRANSPORT_CHUNKS_PER_DOUBLING 32

/* One message of a sender; lost when the reader had to give it up. */
typedef struct TransportMsg {
    int iHandleIdx;
    int iPid;
    std::string sBody;
    bool bLost;
} TransportMsg;

typedef struct TransportFrame {
    int iHandleIdx;
    int iMsg; /* index into the messages, -1 for a dangling or orphan piece */
    int iPid;
    unsigned uMsgNo;
    int iIndex, iCount;
    std::string sBytes;
} TransportFrame;

/* Key of an unfinished message as the reader keeps it. */
typedef std::pair<int, std::pair<int, unsigned>> TransportKey;

typedef struct TransportRun {
    FuzzBytes in;
    int nSenders, nEnds;
    bool bSelect, bHangUp;
    size_t uChunk, uStream;
    int nChunks;
    int nDangling;
    std::vector<TransportMsg> vMsgs;
    std::vector<std::deque<TransportFrame>> vPending; /* per sender, in order */
    std::vector<unsigned> vNextMsgNo;
    std::vector<std::pair<TransportKey, int>> vPartial; /* the model's unfinished list */
    std::string asUnwritten[2];                         /* per read end */
    std::string asDelivered[2];
    int ahRead[2], ahWrite[2];
} TransportRun;

static TransportFrame MakeFrame(int iEnd, int iMsg, int iPid, unsigned uMsgNo, int iIndex,
                                int iCount, size_t uTotal, const std::string &sPiece, bool bF)
{
    char szDelim[ZOLT_PIPE_DELIM_MAX + 1];
    snprintf(szDelim, sizeof szDelim, "|\1\1\1%c:%u:%d:%d:%d:%u:%u:\1\1\1|", bF ? 'F' : 'H', uMsgNo,
             iPid, iIndex, iCount, (unsigned)sPiece.size(), (unsigned)uTotal);
    return TransportFrame{ iEnd, iMsg, iPid, uMsgNo, iIndex, iCount, szDelim + sPiece };
}

/* Body bytes from a start value: any byte but CR, so CR LF ends a message. */
static std::string Filler(unsigned uStart, size_t uLen)
{
    std::string s(uLen, ' ');
    for (size_t i = 0; i < uLen; i++) {
        char c = (char)(uStart + i * 7);
        s[i] = c == '\r' ? '.' : c;
    }
    return s;
}

/* A new message of sender iSender, cut into pieces queued behind its others. */
static void NewMessage(TransportRun *pRun, int iSender)
{
    size_t uLen = FuzzTake16(&pRun->in) % 12000;
    size_t uPiece = 1 + FuzzTake16(&pRun->in) % ZOLT_PIPE_PIECE_SIZE;
    unsigned uStart = FuzzTake8(&pRun->in);
    int iPid = 1000 + iSender;
    char szHead[48];
    snprintf(szHead, sizeof szHead, "P%d#%u:", iPid, (unsigned)pRun->vMsgs.size());
    std::string sBody = szHead + Filler(uStart, uLen) + "\r\n";
    int iEnd = iSender % pRun->nEnds;
    int iMsg = (int)pRun->vMsgs.size();
    pRun->vMsgs.push_back(TransportMsg{ iEnd, iPid, sBody, false });
    int iCount = (int)((sBody.size() + uPiece - 1) / uPiece);
    unsigned uMsgNo = ++pRun->vNextMsgNo[(size_t)iSender];
    for (int i = 0; i < iCount; i++)
        pRun->vPending[(size_t)iSender].push_back(
            MakeFrame(iEnd, iMsg, iPid, uMsgNo, i + 1, iCount, sBody.size(),
                      sBody.substr(i * uPiece, uPiece), (uStart & 1) != 0));
}

/* A first piece whose message never continues, or a later piece whose first
 * piece never came; each from a sender of its own that sends nothing else. */
static TransportFrame DanglingPiece(TransportRun *pRun, bool bFirst)
{
    unsigned uOp = FuzzTake8(&pRun->in);
    size_t uPiece = 1 + FuzzTake16(&pRun->in) % ZOLT_PIPE_PIECE_SIZE;
    int iCount = 2 + (int)(uOp % 7);
    unsigned uMsgNo = 1000 + (unsigned)pRun->nDangling++; /* never the same message twice */
    /* bit 7: one of four senders that leave many messages unfinished */
    int iPid = (uOp & 0x80) != 0 ? 50000 + (int)((uOp >> 4) & 3) : 60000 + pRun->nDangling;
    int iEnd = (int)((uOp >> 3) & 1) % pRun->nEnds;
    return MakeFrame(iEnd, -1, iPid, uMsgNo, bFirst ? 1 : 2, iCount, uPiece + (size_t)iCount,
                     Filler(uOp, uPiece), false);
}

/* Unfinished message i gives way: dropped, its message (if any) lost. */
static void GiveWay(TransportRun *pRun, size_t i)
{
    if (pRun->vPartial[i].second >= 0)
        pRun->vMsgs[(size_t)pRun->vPartial[i].second].bLost = true;
    pRun->vPartial.erase(pRun->vPartial.begin() + (long)i);
}

/* The reader's bookkeeping of unfinished messages, applied to one frame in
 * the order the reader sees it: at most 8 per sender and read end, then at
 * most 64 in all, the oldest giving way. */
static void ModelFrame(TransportRun *pRun, const TransportFrame &f)
{
    TransportKey key{ f.iHandleIdx, { f.iPid, f.uMsgNo } };
    if (f.iIndex == 1 && f.iCount > 1) {
        pRun->vPartial.push_back({ key, f.iMsg });
        size_t uOfSender = 0, uOldest = 0;
        for (size_t i = 0; i < pRun->vPartial.size(); i++)
            if (pRun->vPartial[i].first.first == f.iHandleIdx &&
                pRun->vPartial[i].first.second.first == f.iPid && uOfSender++ == 0)
                uOldest = i;
        if (uOfSender > ZOLT_PIPE_MAX_PARTIAL_PER_SENDER)
            GiveWay(pRun, uOldest);
        if (pRun->vPartial.size() > ZOLT_PIPE_MAX_PARTIAL)
            GiveWay(pRun, 0);
        return;
    }
    for (size_t i = 0; i < pRun->vPartial.size(); i++) {
        if (pRun->vPartial[i].first == key && f.iIndex == f.iCount) {
            pRun->vPartial.erase(pRun->vPartial.begin() + (long)i);
            return;
        }
    }
}

/* What one read hands over must be whole messages: it ends in CR LF. */
static size_t ReadBack(TransportRun *pRun, int iEnd)
{
    int iSelect = 0;
    if (pRun->bSelect) {
        iSelect = ZoltPipeSelect(pRun->ahRead[iEnd], -1, 0);
        FUZZ_CHECK(iSelect >= 0);
    }
    char *pOut = nullptr;
    int iGot = ZoltPipeRead(pRun->ahRead[iEnd], &pOut);
    FUZZ_CHECK(iGot >= 0);
    FUZZ_CHECK((iGot == 0) == (pOut == nullptr));
    if (pRun->bSelect)
        FUZZ_CHECK(((iSelect & 1) != 0) == (iGot > 0)); /* select tells what a read delivers */
    if (pOut != nullptr) {
        FUZZ_CHECK(pOut[iGot] == '\0');
        FUZZ_CHECK(iGot >= 2 && pOut[iGot - 2] == '\r' && pOut[iGot - 1] == '\n');
        pRun->asDelivered[iEnd].append(pOut, (size_t)iGot);
        free(pOut);
    }
    return (size_t)iGot;
}

/* Writes what is waiting for read end iEnd in chunks, reading after each,
 * until at most uKeep bytes wait. */
static void Push(TransportRun *pRun, int iEnd, size_t uKeep)
{
    std::string &s = pRun->asUnwritten[iEnd];
    size_t uPos = 0;
    while (s.size() - uPos > uKeep) {
        size_t uLen = s.size() - uPos < pRun->uChunk ? s.size() - uPos : pRun->uChunk;
        for (size_t uDone = 0; uDone < uLen;) {
            ssize_t n = write(pRun->ahWrite[iEnd], s.data() + uPos + uDone, uLen - uDone);
            if (n < 0 && errno == EINTR)
                continue;
            FUZZ_CHECK(n > 0); /* drained after every chunk: a chunk always fits */
            uDone += (size_t)n;
        }
        uPos += uLen;
        ReadBack(pRun, iEnd);
        if (++pRun->nChunks % TRANSPORT_CHUNKS_PER_DOUBLING == 0 && pRun->uChunk < 16384)
            pRun->uChunk *= 2; /* small reads early, a bounded number of them */
    }
    s.erase(0, uPos);
}

static void Emit(TransportRun *pRun, const TransportFrame &f)
{
    ModelFrame(pRun, f);
    pRun->asUnwritten[f.iHandleIdx] += f.sBytes;
    pRun->uStream += f.sBytes.size();
    Push(pRun, f.iHandleIdx, pRun->uChunk);
}

static void EmitNext(TransportRun *pRun, int iSender)
{
    std::deque<TransportFrame> &v = pRun->vPending[(size_t)iSender];
    if (v.empty())
        return;
    Emit(pRun, v.front());
    v.pop_front();
}

/* Garbage that holds no start marker: any byte but '|'. */
static void Garbage(TransportRun *pRun, unsigned uOp)
{
    size_t uLen = 1 + FuzzTake8(&pRun->in) % 64;
    int iEnd = (int)((uOp >> 6) & 1) % pRun->nEnds;
    for (size_t i = 0; i < uLen; i++) {
        char c = (char)FuzzTake8(&pRun->in);
        pRun->asUnwritten[iEnd] += c == '|' ? '#' : c;
    }
    pRun->uStream += uLen;
}

static void Generate(TransportRun *pRun)
{
    while (pRun->in.uLeft > 0 && pRun->uStream < TRANSPORT_MAX_STREAM) {
        unsigned uOp = FuzzTake8(&pRun->in);
        int iSender = (int)(uOp >> 3) % pRun->nSenders;
        bool bDangleRoom = pRun->nEnds == 1 || pRun->nDangling < TRANSPORT_MAX_DANGLING_TWO_ENDS;
        switch (uOp & 7) {
        case 0:
        case 1:
            if (pRun->vPending[(size_t)iSender].size() < TRANSPORT_MAX_PENDING)
                NewMessage(pRun, iSender);
            break;
        case 5:
            Garbage(pRun, uOp);
            break;
        case 6:
        case 7:
            if (bDangleRoom)
                Emit(pRun, DanglingPiece(pRun, (uOp & 7) == 6));
            break;
        default:
            EmitNext(pRun, iSender);
        }
    }
    for (bool bAny = true; bAny;) { /* the rest, senders taking turns */
        bAny = false;
        for (int i = 0; i < pRun->nSenders; i++) {
            bAny = bAny || !pRun->vPending[(size_t)i].empty();
            EmitNext(pRun, i);
        }
    }
}

/* Splits the delivered text of read end iEnd into messages per sender. */
static std::map<int, std::vector<std::string>> BySender(const std::string &s)
{
    std::map<int, std::vector<std::string>> m;
    size_t uStart = 0;
    for (size_t uEnd = s.find("\r\n"); uEnd != std::string::npos; uEnd = s.find("\r\n", uStart)) {
        std::string sMsg = s.substr(uStart, uEnd + 2 - uStart);
        int iPid = -1;
        FUZZ_CHECK(sscanf(sMsg.c_str(), "P%d#", &iPid) == 1);
        m[iPid].push_back(sMsg);
        uStart = uEnd + 2;
    }
    FUZZ_CHECK(uStart == s.size());
    return m;
}

static void CheckDelivered(TransportRun *pRun)
{
    for (int iEnd = 0; iEnd < pRun->nEnds; iEnd++) {
        std::map<int, std::vector<std::string>> mExpect;
        for (const TransportMsg &m : pRun->vMsgs)
            if (m.iHandleIdx == iEnd && !m.bLost)
                mExpect[m.iPid].push_back(m.sBody);
        FUZZ_CHECK(BySender(pRun->asDelivered[iEnd]) == mExpect);
    }
}

static void OpenEnds(TransportRun *pRun)
{
    static std::string s_asFifo[2];
    for (int i = 0; i < pRun->nEnds; i++) {
        if (s_asFifo[i].empty()) {
            s_asFifo[i] = FuzzTempPath(i == 0 ? "transport-0" : "transport-1");
            FUZZ_CHECK(ZoltPipeMkFifo(s_asFifo[i].c_str()) == 0);
        }
        pRun->ahRead[i] = ZoltPipeOpen(s_asFifo[i].c_str(), 0);
        FUZZ_CHECK(pRun->ahRead[i] >= 0);
        pRun->ahWrite[i] = open(s_asFifo[i].c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        FUZZ_CHECK(pRun->ahWrite[i] >= 0);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    TransportRun run;
    run.in = FuzzBytes{ pData, uSize };
    unsigned uHead = FuzzTake8(&run.in);
    run.nSenders = 1 + (int)(uHead % TRANSPORT_MAX_SENDERS);
    run.nEnds = (uHead & 8) != 0 ? 2 : 1;
    run.bSelect = (uHead & 16) != 0;
    run.bHangUp = (uHead & 32) != 0;
    run.uChunk = 1 + FuzzTake16(&run.in) % 16384;
    run.uStream = 0;
    run.nChunks = 0;
    run.nDangling = 0;
    run.vPending.resize((size_t)run.nSenders);
    run.vNextMsgNo.assign((size_t)run.nSenders, 0);

    ZoltPipeSignalHandle();
    ZoltInitPipes();
    OpenEnds(&run);
    Generate(&run);
    for (int iEnd = 0; iEnd < run.nEnds; iEnd++) {
        Push(&run, iEnd, 0); /* the last byte, and the read after it */
        if (run.bHangUp)     /* the writer goes: select must not see a message */
            close(run.ahWrite[iEnd]);
        for (int i = 1; i < TRANSPORT_READS_AFTER_END; i++)
            ReadBack(&run, iEnd);
    }
    CheckDelivered(&run);
    for (int iEnd = 0; iEnd < run.nEnds; iEnd++) {
        if (!run.bHangUp)
            close(run.ahWrite[iEnd]);
        FUZZ_CHECK(ZoltPipeClose(run.ahRead[iEnd]) == 0);
    }
    ZoltCleanupPipes();
    return 0;
}
