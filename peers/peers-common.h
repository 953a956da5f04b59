/* peers-common.h - what every part of zoltpeers shares: the switches of one
 * session (output and misbehaviours), the monotonic clock, and small helpers
 * over the message notation (field lookup into std::string, building a MSG
 * with header and data). */
#ifndef ZOLT_PEERS_COMMON_H
#define ZOLT_PEERS_COMMON_H

#include <string>
#include <vector>

/* Limits of the peers themselves. */
#define PEERS_DEFAULT_MODULE_LIMIT_MS 180000 /* a module living longer is killed */
#define PEERS_DEFAULT_TIMEOUT_VALUE 300      /* answer to GET_TIMEOUT, seconds */
#define PEERS_POLL_MS 20                     /* longest wait of one service round */

/* Switches of one session. PeersOptionsInit gives the faithful peers: every
 * misbehaviour off. */
struct PeersOptions {
    /* broker */
    int bNoAck;           /* never acknowledge STARTUP (module: 30, exit 29) */
    int bGarbageAck;      /* acknowledge with a packet that is no ACK (31) */
    int bGarbageFrames;   /* a garbage frame before every message to a module */
    int iDieAfterPackets; /* -1 off; after N packets stop reading, close all FIFOs */
    /* diagnostic engine */
    int bNoDeviceList;       /* never answer LIST_DEVICES / LIST_SYSINFO_DEVICES */
    int iDeviceListDelayMs;  /* answer device lists this late (0 at once) */
    int iDeviceListPadBytes; /* pad device-list answers to at least this size */
    int iStopAfterMs;        /* -1 off; STOPTESTING this long after the startup
                                  notification (0: right after it) */
    int bNoTimeoutAnswer;    /* never answer GET_TIMEOUT */
    int iTimeoutValue;       /* TIMEOUT_VALUE sent for GET_TIMEOUT */
    /* language-string engine */
    int bSilentNls; /* never answer NLS_REGMOD / NLS_GETSTRING */
    /* runner */
    int iModuleLimitMs; /* kill a module that lives longer */
};

/* Fills *pOpt with the faithful defaults. */
void PeersOptionsInit(PeersOptions *pOpt);

/* Milliseconds of a monotonic clock (never jumps, never wraps in practice). */
unsigned long long PeersNowMs(void);

/* Field lookup (path "MSG/HDR/TYPE", occurrence from 0) into sOut.
 * Returns 0 found, 2 not found (sOut then empty). */
int PeersGetField(const char *szText, const char *szPath, int iOccurrence, std::string &sOut);

/* Builds "<MSG><HDR>...</HDR>" + szDataElement + "</MSG>\r\n" with TO szTo, RE
 * szRe (null: none) and TYPE szType; szDataElement is the whole DATA element
 * ("<DATA>...</DATA>"). Returns 0, or the header builder's code + 10 / 20 when
 * the message could not be built (sOut then empty). */
int PeersBuildMessage(const char *szTo, const char *szRe, const char *szType,
                      const std::string &sDataElement, std::string &sOut);

/* Splits a text of concatenated packets at their CR LF ends; a trailing piece
 * without CR LF counts as one packet too. Empty pieces are skipped. */
void PeersSplitPackets(const char *szText, std::vector<std::string> &vParts);

#endif
