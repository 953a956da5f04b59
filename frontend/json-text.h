/* json-text.h - the pieces every JSON line of zoltpeers is built from: text
 * made valid UTF-8, JSON strings, RFC 3339 UTC times, and the NLS tag of an
 * event with its variables as a JSON object. Pure functions. */
#ifndef ZOLT_PEERS_JSON_TEXT_H
#define ZOLT_PEERS_JSON_TEXT_H

#include <time.h>

#include <string>

/* s with every byte sequence that is not UTF-8 (stray continuation bytes,
 * overlong forms, surrogates, code points above U+10FFFF, cut sequences)
 * replaced by U+FFFD, one per byte. Valid text comes back unchanged. */
std::string PeersUtf8Clean(const std::string &s);

/* s as a JSON string with its quotes: made valid UTF-8, '"', '\\' and control
 * characters escaped. */
std::string PeersJsonString(const std::string &s);

/* "YYYY-MM-DDTHH:MM:SS.mmmZ" of a CLOCK_REALTIME time. */
std::string PeersRfc3339(const struct timespec &ts);
/* PeersRfc3339 of now. */
std::string PeersRfc3339Now(void);

/* The first NLS tag in an event text: its id into *psTag ("" when there is
 * none) and its variables as a JSON object (decimal integers as numbers,
 * everything else as strings; "{}" when there are none). */
std::string PeersEventVariablesJson(const std::string &sText, std::string *psTag);

#endif
