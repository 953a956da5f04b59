/* peers-common.cpp - session switches, the monotonic clock and the small
 * message helpers that the broker, the engines and the report share. */
#include "peers-common.h"

#include <string.h>
#include <time.h>

#include "gen-str.h"
#include "message-protocol.h"

/* Fills *pOpt with the faithful defaults (no misbehaviour). */
void PeersOptionsInit(PeersOptions *pOpt)
{
    memset(pOpt, 0, sizeof *pOpt);
    pOpt->iDieAfterPackets = -1;
    pOpt->iStopAfterMs = -1;
    pOpt->iTimeoutValue = PEERS_DEFAULT_TIMEOUT_VALUE;
    pOpt->iModuleLimitMs = PEERS_DEFAULT_MODULE_LIMIT_MS;
}

/* Milliseconds of CLOCK_MONOTONIC. Any thread. */
unsigned long long PeersNowMs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (unsigned long long)ts.tv_sec * 1000ull + (unsigned long long)ts.tv_nsec / 1000000ull;
}

/* Field lookup into a std::string. Returns 0 found, 2 not found. */
int PeersGetField(const char *szText, const char *szPath, int iOccurrence, std::string &sOut)
{
    sOut.clear();
    if (szText == nullptr)
        return 2;
    CGenStr str;
    if (!CGenStrInit(&str))
        return 2;
    int iRc = ZoltXmlGetFieldStr(szText, szPath, iOccurrence, &str);
    if (iRc == 0)
        sOut = CGenStrC_Str(&str);
    CGenStrDelete(&str);
    return iRc == 0 ? 0 : 2;
}

/* Builds one MSG packet from a header and a whole DATA element.
 * Returns 0, 10 + header code, or 20 + message code (sOut empty). */
int PeersBuildMessage(const char *szTo, const char *szRe, const char *szType,
                      const std::string &sDataElement, std::string &sOut)
{
    /* 300 bytes: FROM, TO and RE are numbers or peer names, TYPE a short
     * word, TIME 17 digits; well below this. */
    char szHdr[300];
    sOut.clear();
    int iRc = ZoltCreateMessageHeader(szHdr, sizeof szHdr, szTo, szRe, szType, nullptr);
    if (iRc != 0)
        return 10 + iRc;
    CGenStr str;
    if (!CGenStrInit(&str))
        return 22;
    iRc = ZoltCreateMessageStr(&str, "MSG", szHdr, sDataElement.c_str(), (const char *)nullptr);
    if (iRc == 0)
        sOut = CGenStrC_Str(&str);
    CGenStrDelete(&str);
    return iRc == 0 ? 0 : 20 + iRc;
}

/* Splits concatenated packets at CR LF; a trailing piece without CR LF is a
 * packet too; empty pieces are skipped. */
void PeersSplitPackets(const char *szText, std::vector<std::string> &vParts)
{
    vParts.clear();
    if (szText == nullptr)
        return;
    const char *p = szText;
    while (*p != '\0') {
        const char *pEnd = strstr(p, "\r\n");
        size_t uLen = pEnd ? (size_t)(pEnd - p) : strlen(p);
        if (uLen > 0)
            vParts.emplace_back(p, uLen);
        p += uLen + (pEnd ? 2 : 0);
    }
}
