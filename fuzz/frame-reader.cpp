/* frame-reader.cpp - fuzz target of the FIFO transport's reading side: the
 * input goes as a byte stream through a real FIFO into the transport's read
 * end and is read back with ZoltPipeRead, in chunks whose size the input
 * chooses, so that frames straddle reads and the kept tail is exercised;
 * the delimiter finder and parser also get the raw bytes.
 * Input: bytes 0-1 give the chunk size (1 + value % 8192, raised so that a
 * stream takes at most 64 chunks: fewer system calls, more inputs per second)
 * and bit 15 a ZoltPipeSelect before each read; the rest is the stream (at
 * most 60000 bytes are used, so every chunk fits the FIFO once the previous
 * one is drained). */
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fuzz-common.h"
#include "pipe-lowlevel.h"

#define FRAME_FUZZ_MAX_STREAM 60000
#define FRAME_FUZZ_MAX_CHUNKS 64

/* Hands over what the transport has for hRead; returns the bytes delivered. */
static size_t ReadBack(int hRead, int bSelect)
{
    if (bSelect)
        FUZZ_CHECK(ZoltPipeSelect(hRead, -1, 0) >= 0);
    char *pOut = nullptr;
    int iGot = ZoltPipeRead(hRead, &pOut);
    FUZZ_CHECK(iGot >= 0);
    FUZZ_CHECK((iGot == 0) == (pOut == nullptr));
    if (pOut != nullptr) {
        FUZZ_CHECK(pOut[iGot] == '\0');
        free(pOut);
    }
    return (size_t)iGot;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    if (uSize < 2)
        return 0;
    static std::string s_sFifo;
    if (s_sFifo.empty()) {
        s_sFifo = FuzzTempPath("frames");
        FUZZ_CHECK(ZoltPipeMkFifo(s_sFifo.c_str()) == 0);
        ZoltPipeSignalHandle();
    }
    unsigned uHead = pData[0] | (pData[1] << 8);
    size_t uChunk = 1 + (uHead & 0x7FFF) % 8192;
    int bSelect = (uHead & 0x8000) != 0;
    const uint8_t *pStream = pData + 2;
    size_t uStream = uSize - 2 < FRAME_FUZZ_MAX_STREAM ? uSize - 2 : FRAME_FUZZ_MAX_STREAM;
    if (uChunk * FRAME_FUZZ_MAX_CHUNKS < uStream)
        uChunk = (uStream + FRAME_FUZZ_MAX_CHUNKS - 1) / FRAME_FUZZ_MAX_CHUNKS;

    /* The delimiter functions on the raw bytes. */
    int iDelim = 0;
    const char *pDelim = FindDelimiter((const char *)pStream, (int)uStream, &iDelim);
    if (pDelim != nullptr) {
        FUZZ_CHECK(pDelim >= (const char *)pStream && iDelim > 0 && iDelim <= ZOLT_PIPE_DELIM_MAX);
        FUZZ_CHECK(pDelim + iDelim <= (const char *)pStream + uStream);
        QueObject q;
        int iType = -1;
        if (ParseDelimStr(pDelim, iDelim, &q, &iType))
            FUZZ_CHECK(iType == ZOLT_PIPE_FRAME_H || iType == ZOLT_PIPE_FRAME_F);
    }

    ZoltInitPipes();
    int hRead = ZoltPipeOpen(s_sFifo.c_str(), 0);
    FUZZ_CHECK(hRead >= 0);
    int hWrite = open(s_sFifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    FUZZ_CHECK(hWrite >= 0);

    size_t uDelivered = 0;
    for (size_t uPos = 0; uPos < uStream;) {
        size_t uLen = uStream - uPos < uChunk ? uStream - uPos : uChunk;
        size_t uDone = 0;
        while (uDone < uLen) {
            ssize_t n = write(hWrite, pStream + uPos + uDone, uLen - uDone);
            if (n < 0 && errno == EINTR)
                continue;
            FUZZ_CHECK(n > 0); /* the FIFO was drained before: a chunk always fits */
            uDone += (size_t)n;
        }
        uPos += uLen;
        uDelivered += ReadBack(hRead, bSelect);
    }
    uDelivered += ReadBack(hRead, bSelect);
    /* Payload only: never more than went in. */
    FUZZ_CHECK(uDelivered <= uStream);

    close(hWrite);
    FUZZ_CHECK(ZoltPipeClose(hRead) == 0);
    ZoltCleanupPipes();
    return 0;
}
