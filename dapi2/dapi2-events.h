/* dapi2-events.h - test events sent to the diagnostic engine (progress, percent
 * done, informative, warning, error, time-out requests), polling for the
 * engine's DAPI_COMMAND messages, and the NLS token builders.
 * All functions run on the caller's thread; one thread at a time (not locked). */
#ifndef DAPI2_EVENTS_H
#define DAPI2_EVENTS_H

#include <stdarg.h>
#include <stdint.h>

#define DAPI2_FMT(f, a) __attribute__((format(printf, f, a)))

/* Size of the text buffer of one event data text: opening part, the formatted
 * text and the closing part. A longer formatted text is cut to fit. */
#define DAPI2_EVENT_TEXT_SIZE 8192
/* Size of the message buffer that wraps one event data text; an event whose
 * whole message would not fit is not built (25). */
#define DAPI2_EVENT_MSG_SIZE 2048
/* Token buffers of the NLS token builders. */
#define DAPI2_TOKEN_SIZE 1024
/* Module names and token variable names and values keep at most 64
 * characters; their buffers hold one more byte for the terminator. */
#define DAPI2_TOKEN_VAR_LEN 64

/* Process-wide event state (see dapi2-events.cpp for the rules). */
extern int g_iStopTesting; /* 1 once a STOPTESTING command arrived; never cleared */
extern int g_iTestTimeout; /* last SENDINGTIMEOUT value, -2 when none is held */

/* Clock of the progress throttle and of the Dapi2_GetTimeOut wait: milliseconds
 * of a monotonic clock, wrapping modulo 2^32 (differences are taken unsigned).
 * Tests may point it at a clock of their own; default Dapi2_I_MonotonicMs. */
extern uint32_t (*g_pfnDapi2EventClock)(void);
uint32_t Dapi2_I_MonotonicMs(void);

/* Resets the throttle, percent filter, stop flag and held time-out to their
 * start values. For tests; a module process never needs it. */
void Dapi2_I_ResetEventState(void);

/* Event senders. Each formats the text with printf rules (a finished token may
 * be passed as the format with no values; it must hold no "%"), builds the
 * DE_EVENT data text and sends it to DIAGENGINE.
 * Return 0 (also when sending failed: the failure is traced and dropped) or 27
 * when the 8192-byte text buffer cannot be obtained. */
int Dapi2_SetProgressInformation(const char *szFormat, ...) DAPI2_FMT(1, 2);
/* As above, but sends only when more than uIntervalMs ms passed since the last
 * timed progress event that went out (the first call always sends). */
int Dapi2_SetProgressInformationTimed(uint32_t uIntervalMs, const char *szFormat, ...)
    DAPI2_FMT(2, 3);
/* Sends PERCENTDONE only when iPercent differs from the last value given. */
int Dapi2_SetPercentDone(int iPercent);
int Dapi2_Informative(const char *szFormat, ...) DAPI2_FMT(1, 2); /* EVENTCODE -1 */
int Dapi2_Warning(int iEventCode, const char *szFormat, ...) DAPI2_FMT(2, 3);
int Dapi2_Error(int iEventCode, const char *szFormat, ...) DAPI2_FMT(2, 3);
int Dapi2_SetTimeOut(int iTimeOut);
int Dapi2_ClearTimeOutCount(void);

/* Wraps one data text into a DE_EVENT message to DIAGENGINE and sends it.
 * Returns 0, 27 no message buffer, 26 header not built, 25 message not built
 * (too long for 2048 bytes), 24 not sent. */
int Dapi2_I_SendEvent(const char *szDataText);

/* Takes every message waiting for the module: DAPI_COMMAND STOPTESTING sets
 * g_iStopTesting, SENDINGTIMEOUT stores its TIMEOUT_VALUE in g_iTestTimeout;
 * every message is released, other types are dropped. Polls always (no
 * after-midnight guard). The result carries no meaning (0). */
int Dapi2_CheckForIncomingMessages(void);
/* Polls the incoming messages, then returns 1 once a stop arrived, else 0. */
int Dapi2_CheckForStop(void);
/* Sends GET_TIMEOUT and polls until the engine's SENDINGTIMEOUT value arrives.
 * Returns 0 with the value in *piTimeOut; 24 when piTimeOut is null or no value
 * came within 2000 ms (*piTimeOut is then 0); 27 out of memory. */
int Dapi2_GetTimeOut(int *piTimeOut);

/* NLS tokens. Each returns its own static buffer, overwritten by its next
 * call (do not free; not thread-safe).
 * Dapi2_NlsTagToTokenMod: "<NLS mod=%s id=%s />". */
char *Dapi2_NlsTagToTokenMod(const char *szModule, const char *szId);
/* The token with this process's module name (for example zoltcpu.zmd). */
char *Dapi2_NlsTagToToken(const char *szId);
/* The token plus one variable per "%" of szTypes, taking name/value argument
 * pairs: d i o u x X l take an int, e E f g G a double, c a char, anything else
 * a text (copied, at most 64 characters). Example:
 *   Dapi2_NlsTagToTokenVar("szErrorMMX10_10", "%s%d", "instruction", "PADD", "errno", 7) */
char *Dapi2_NlsTagToTokenVar(const char *szId, const char *szTypes, ...);
char *Dapi2_NlsTagToTokenVarMod(const char *szModule, const char *szId, const char *szTypes, ...);
/* Inserts name=value before the token's closing "/>" (ZoltNlsAddVariableToTag
 * codes: 0 done, 2 null buffer, 3 does not fit, other codes for bad names). */
int Dapi2_NlsAddVariableToTag(char *szToken, int iTokenSize, const char *szName,
                              const char *szValue);
/* Asks the language-string engine for the text of a token in a 2-character
 * language. Returns szOut (empty when nothing was found), or null when szOut is
 * null or iOutSize is not above 0. */
char *Dapi2_NlsGetStringWithXmlTag(const char *szToken, const char *szLang, char *szOut,
                                   int iOutSize);
/* Forward to ZoltGetNlsStringWithId / ZoltGetNlsStringWithIdEx. */
char *Dapi2_NlsGetStringWithId(const char *szId, char *szOut, int iOutSize);
char *Dapi2_NlsGetStringWithIdEx(const char *szModule, const char *szId, const char *szLang,
                                 char *szOut, int iOutSize);

#endif
