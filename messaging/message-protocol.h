/* message-protocol.h - the message notation: elements "<TAG>value</TAG>", the
 * MSG envelope (HDR with FROM, TO, ID, RE, TYPE, TIME, LANG, then DATA), the
 * engine-command builders, field lookup by path and the @hh escaping. A pure
 * text layer: it never touches a pipe; its only state is the message-id
 * counter and the escape table. */
#ifndef ZOLT_MESSAGE_PROTOCOL_H
#define ZOLT_MESSAGE_PROTOCOL_H

#include <stdint.h>

#include "gen-str.h"

/* Field lookup limits. A path has at most 15 components (later ones are
 * ignored); a tag name is cut to 39 characters; at most 15 elements may be open
 * while a text is scanned. A path component longer than 39 characters, or a
 * text nesting deeper than 15, is refused with 2 (not found). */
#define ZOLT_XML_MAX_PATH_DEPTH 15
#define ZOLT_XML_MAX_TAG_LEN 39
#define ZOLT_XML_MAX_OPEN 15

/* Peer names used in the TO field. */
#define ZOLT_TO_MESSAGEBROKER "MESSAGEBROKER"
#define ZOLT_TO_DIAGENGINE "DIAGENGINE"
#define ZOLT_TO_NLSENGINE "NLSENGINE"

/* Work buffer of ZoltClientCreateEngineCommand for the HDR element: 200 bytes,
 * enough for a header with the longest peer name, type and language. */
#define ZOLT_HDR_BUFFER_SIZE 200

/* Test seam: the own process id written into FROM (default ZoltGetClientPid).
 * TIME comes from ZoltGetUtcTime, whose clock has its own seam. */
extern long (*g_pfnZoltMsgLocalPid)(void);

/* ---- Building ---- */

/* Returns the current message id and advances the process-wide counter by one
 * (first id 1). One atomic step: no two threads ever get the same id (until
 * the 32-bit counter wraps). Any thread. */
uint32_t ZoltGetLocallyUniqueMessageId(void);
/* The own process id (ZoltGetClientPid, through g_pfnZoltMsgLocalPid). */
long ZoltGetLocalProcessId(void);
/* Writes lPid as "%lu" into szBuf, or "" when iSize is below 10 (nothing is
 * written for a null szBuf). Returns szBuf. */
char *ZoltGetProcessIdString(long lPid, char *szBuf, int iSize);
/* Same for the own process id. */
char *ZoltGetLocalProcessIdString(char *szBuf, int iSize);
/* Base-10 value of szText; -1 for a null text. */
long ZoltGetProcessIdFromString(const char *szText);

/* Appends "<tag>value</tag>" to the text already in szBuf (iSize bytes).
 * Needs strlen(szBuf) + 2*len(tag) + len(value) + 6 bytes. Returns 0, or 1
 * (buffer unchanged) when it would not fit or an argument is null. */
int ZoltXmlAddField(char *szBuf, int iSize, const char *szTag, const char *szValue);

/* Builds a complete HDR element into szBuf (replacing its text): FROM, TO, ID,
 * RE (only when szRe is not null), TYPE, TIME, LANG (only when szLang is not
 * null), in that order. A message id is taken even when a later field fails.
 * Returns 0 built; 1 szBuf, szTo or szType null; 2 iSize below 6; 3 FROM,
 * 4 TO, 5 ID, 6 RE, 7 TYPE, 8 TIME, 10 LANG did not fit; 9 "</HDR>" did not
 * fit. After a failure szBuf holds "<HDR>" and the fields written so far. */
int ZoltCreateMessageHeader(char *szBuf, int iSize, const char *szTo, const char *szRe,
                            const char *szType, const char *szLang);

/* Writes "<tag>" + each following text in order + "</tag>" into szBuf (iSize
 * bytes), the list of texts ended by a null pointer (nullptr, never a plain 0).
 * The four top-level packets MSG, STOP, ACK and STARTUP get CR LF after their
 * closing tag; a tag starting with '<' is written without that character (and
 * so "<MSG" gives MSG without CR LF). Returns 0, or 2 when the text would be
 * longer than iSize - 2 characters (szBuf then holds a cut text). */
int ZoltCreateMessage(char *szBuf, int iSize, const char *szTag, ...) __attribute__((sentinel));
/* Same into the growable pStr (its text replaced). Returns 0; 2 only when
 * pStr cannot grow (a wrapped buffer too small, or out of memory). */
int ZoltCreateMessageStr(CGenStr *pStr, const char *szTag, ...) __attribute__((sentinel));

/* Builds "<MSG><HDR>...</HDR><DATA>data</DATA></MSG>\r\n" into pOut (replaced)
 * with the given TO, TYPE and LANG (null: no LANG) and no RE.
 * Returns 0; 1 the header failed; 2 the DATA element failed; 4 out of memory. */
int ZoltClientCreateEngineCommand(const char *szTo, const char *szLang, const char *szType,
                                  const char *szData, CGenStr *pOut);
/* TO MESSAGEBROKER, TYPE MBCMD, no LANG. Codes as above. */
int ZoltClientCreateMessageBrokerCommandStr(const char *szData, CGenStr *pOut);
/* TO DIAGENGINE, TYPE DE_COMMAND, LANG when szLang is not null. */
int ZoltClientCreateDiagnosticEngineCommandStr(const char *szData, const char *szLang,
                                               CGenStr *pOut);
/* TO NLSENGINE, TYPE NLS_COMMAND, no LANG. */
int ZoltClientCreateNlsEngineCommandStr(const char *szData, CGenStr *pOut);
/* Buffer forms: szBuf is set empty first; the codes of the Str forms, or 2 when
 * the result (with its terminator) does not fit iSize bytes (szBuf stays
 * empty). The DE_COMMAND form ignores szLang: its message carries no LANG. */
int ZoltClientCreateMessageBrokerCommand(const char *szData, char *szBuf, int iSize);
int ZoltClientCreateNlsEngineCommand(const char *szData, char *szBuf, int iSize);
int ZoltClientCreateDiagnosticEngineCommand(const char *szData, const char *szLang, char *szBuf,
                                            int iSize);

/* ---- Reading ---- */

/* Field lookup: finds the iOccurrence-th element (from 0, document order) whose
 * chain of enclosing elements equals szPath ("MSG/HDR/TYPE") and puts its exact
 * inner text into pOut (nested markup, blanks and line ends kept, nothing
 * unescaped). Attributes after a tag name are ignored, "<X/>" and stray closing
 * tags at depth 0 are passed over, a closing tag that does not match the
 * innermost open element is traced and skipped. When given, *ppTagStart is set
 * to the '<' of the element's opening tag and *ppTagEnd just after its closing
 * tag's '>' (both null when not found). szText must be NUL-terminated.
 * Returns 0 found; 2 not found, text or path null or refused (see the limits
 * above), or pOut too small (it then holds a cut value). */
int ZoltXmlGetFieldStrAndTagStartEnd(const char *szText, const char **ppTagStart,
                                     const char **ppTagEnd, const char *szPath, int iOccurrence,
                                     CGenStr *pOut);
/* The same lookup in the text from szText to its terminator at pTextEnd
 * (known to the caller, so that a text walked in steps is not measured again
 * at each step). */
int ZoltXmlGetFieldInText(const char *szText, const char *pTextEnd, const char **ppTagStart,
                          const char **ppTagEnd, const char *szPath, int iOccurrence,
                          CGenStr *pOut);
/* A walk over every element of one path in document order: the walk's n-th
 * call of ZoltXmlWalkNext gives what the lookup of occurrence n - 1 gives,
 * but each call scans on from where the last one stopped, so a walk over all
 * of them reads the text once. A plain record: the scan's place, its open
 * elements (pointing into the text, which must outlive the walk) and the path. */
typedef struct {
    const char *p; /* where the scan goes on; null once nothing more is found */
    const char *pTextEnd;
    int iPathDepth, d, iMatched;
    char aszPath[ZOLT_XML_MAX_PATH_DEPTH][ZOLT_XML_MAX_TAG_LEN + 1];
    int aiPathLen[ZOLT_XML_MAX_PATH_DEPTH];
    const char *apOpen[ZOLT_XML_MAX_OPEN];
    int aiOpenLen[ZOLT_XML_MAX_OPEN];
} ZoltXmlWalk;
/* Starts a walk of szPath over the text from szText to its terminator at
 * pTextEnd. Returns 0, or 2 when the text is null or empty or the path is
 * refused (every ZoltXmlWalkNext then finds nothing). */
int ZoltXmlWalkInit(ZoltXmlWalk *pWalk, const char *szText, const char *pTextEnd,
                    const char *szPath);
/* The next element's inner text into pOut (replaced). Returns 0, or 2 when
 * there is none (nor will be), or pOut is null or too small. */
int ZoltXmlWalkNext(ZoltXmlWalk *pWalk, CGenStr *pOut);
/* The lookup without tag positions. */
int ZoltXmlGetFieldStr(const char *szText, const char *szPath, int iOccurrence, CGenStr *pOut);
/* The lookup into szBuf of iSize bytes (set empty first; holds at most
 * iSize - 2 characters). Returns 0, or 2 when not found or too long. */
int ZoltXmlGetField(const char *szText, const char *szPath, int iOccurrence, char *szBuf,
                    int iSize);

/* Reads the tag at p (which must point at '<'): skips '<' and one '/', finds
 * the next '>'. For an empty element ("<X/>") returns the position of its '/'
 * and leaves szName alone; otherwise copies the leading identifier characters
 * (at most iNameSize - 1) into szName, terminates it and returns the position of
 * the '>'. Returns null when p is not at '<' or no '>' follows. */
const char *ZoltXmlGetTag(const char *p, char *szName, int iNameSize);
/* 1 for an ASCII letter or digit or '_', else 0. */
int ZoltIsValidIdentifierChar(int c);

/* Splits iLen received bytes at pText (several messages, each ended by CR LF)
 * by length, not as a C string: each message goes to pfnMessage (if given)
 * with its CR replaced by a terminator; the text is changed in place. A
 * message holding a NUL byte is no valid message: it is dropped with a trace
 * line and its neighbours are not affected. A last fragment without CR LF is
 * dropped. Returns the messages handed over. */
int ZoltMessageSplitReceived(char *pText, int iLen, int (*pfnMessage)(char *szMessage));

/* MSG/HDR/FROM, MSG/HDR/ID and MSG/HDR/RE as base-10 numbers into *plOut.
 * Return 0, or 2 (field missing, *plOut untouched). */
int ZoltMessageGetSender(const char *szMsg, long *plOut);
int ZoltMessageGetMessageId(const char *szMsg, long *plOut);
int ZoltMessageGetMessageRe(const char *szMsg, long *plOut);
/* MSG/HDR/TYPE (at most 98 characters) as a new zeroed heap copy in *ppszOut,
 * which the caller frees. Returns 0, 2 missing (*ppszOut untouched), 10 out of
 * memory. */
int ZoltMessageGetMessageType(const char *szMsg, char **ppszOut);

/* Reads MSG/DATA, MSG/HDR/FROM and MSG/HDR/ID of szMsg. szData (when given) is
 * set empty first and receives the DATA text strncpy-style: at most iDataSize
 * characters, terminated only when shorter. ppszKeywords is an array of texts
 * ended by a null entry (or null itself).
 * Returns -1 when a field is missing or memory runs out; else 1 + the index of
 * the first keyword the DATA text begins with (at most 100 tried), or 0. */
int ZoltParsePacketHeaderAndData(const char *szMsg, long *plSender, long *plId,
                                 const char *const *ppszKeywords, char *szData, int iDataSize);
/* 1 + the index of the first entry of ppszTypes (null-ended, at most 100)
 * equal to MSG/HDR/TYPE; 0 when none matches; -1 when the message has no TYPE. */
int ZoltParsePacketType(const char *szMsg, const char *const *ppszTypes);

/* ---- Escaping ---- */

/* Returns a new heap string in which every character outside the safe set
 * (letters, the blank, digits and $-_.+!*'(),{}|\^~[]`) is written as '@' and
 * two upper-case hex digits; or szText itself when nothing needs escaping or
 * memory runs out. The caller frees the result only when it differs from
 * szText. Any thread. */
char *ZoltXmlAllocStringAndConvertToXml(const char *szText);
/* Decodes every "@hh" of szText in place (a bad or cut escape gives a blank;
 * the scan never passes the terminator). Returns 0. */
int ZoltXmlConvertFromXmlToText(char *szText);
/* The character coded by the "@hh" at p: a blank when p is not at '@' or either
 * digit is not hexadecimal. */
char FromHexCharXml(const char *p);
/* Upper-case hex digit of the low four bits of iValue. */
char ToHexChar(int iValue);
/* 1 for a null text; 0 when every character is a letter, a digit or one of
 * $-_.+!*'(),{}|\^~[]` (the empty text too); 2 otherwise. */
int IsBadXmlIdentifier(const char *szText);

#endif /* ZOLT_MESSAGE_PROTOCOL_H */
