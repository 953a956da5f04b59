/* received-split.cpp - fuzz target of the client's splitting of received
 * bytes into messages: NUL bytes, CR and LF alone or in odd places, a
 * fragment at the end. The split must agree with a plain scan for CR LF
 * pairs that drops every message holding a NUL byte, and must hand over
 * terminated texts without touching bytes past the input. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz-common.h"
#include "message-protocol.h"

static std::vector<std::string> s_vGot;

static int Collect(char *szMessage)
{
    s_vGot.push_back(szMessage);
    return 0;
}

/* The expected messages: text before each CR LF pair, without NUL bytes. */
static std::vector<std::string> PlainSplit(const uint8_t *p, size_t uSize)
{
    std::vector<std::string> v;
    size_t uStart = 0;
    for (size_t i = 0; i + 1 < uSize; i++) {
        if (p[i] != '\r' || p[i + 1] != '\n')
            continue;
        std::string s((const char *)p + uStart, i - uStart);
        if (s.find('\0') == std::string::npos)
            v.push_back(s);
        uStart = i + 2;
        i++;
    }
    return v;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    if (uSize > 1000000)
        return 0;
    /* an exact-size heap copy: the sanitizer sees any read past the input */
    char *pCopy = (char *)malloc(uSize + 1);
    FUZZ_CHECK(pCopy != nullptr);
    if (uSize > 0)
        memcpy(pCopy, pData, uSize);
    pCopy[uSize] = '\0';
    s_vGot.clear();
    int iCount = ZoltMessageSplitReceived(pCopy, (int)uSize, Collect);
    std::vector<std::string> vExpect = PlainSplit(pData, uSize);
    FUZZ_CHECK(iCount == (int)s_vGot.size());
    FUZZ_CHECK(s_vGot == vExpect);
    FUZZ_CHECK(ZoltMessageSplitReceived(pCopy, (int)uSize, nullptr) <= iCount);
    free(pCopy);
    return 0;
}
