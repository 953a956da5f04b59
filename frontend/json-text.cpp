/* json-text.cpp - UTF-8 repair, JSON strings, RFC 3339 times and event
 * variables for the JSON result formats. */
#include "json-text.h"

#include <stdio.h>

#include "nls-engine.h"

/* Length of the UTF-8 sequence at s[i] when it is valid, else 0. */
static size_t ValidSequence(const std::string &s, size_t i)
{
    unsigned char c = (unsigned char)s[i];
    if (c < 0x80)
        return 1;
    size_t uLen = c >= 0xC2 && c <= 0xDF ? 2 : (c >= 0xE0 && c <= 0xEF ? 3 : 0);
    if (c >= 0xF0 && c <= 0xF4)
        uLen = 4;
    if (uLen == 0 || i + uLen > s.size())
        return 0;
    for (size_t k = 1; k < uLen; k++)
        if (((unsigned char)s[i + k] & 0xC0) != 0x80)
            return 0;
    unsigned char c1 = (unsigned char)s[i + 1];
    if ((c == 0xE0 && c1 < 0xA0) || (c == 0xED && c1 > 0x9F) || /* overlong, surrogate */
        (c == 0xF0 && c1 < 0x90) || (c == 0xF4 && c1 > 0x8F))   /* overlong, > U+10FFFF */
        return 0;
    return uLen;
}

std::string PeersUtf8Clean(const std::string &s)
{
    std::string sOut;
    sOut.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        size_t uLen = ValidSequence(s, i);
        if (uLen == 0) {
            sOut += "\xEF\xBF\xBD";
            i++;
        } else {
            sOut.append(s, i, uLen);
            i += uLen;
        }
    }
    return sOut;
}

std::string PeersJsonString(const std::string &s)
{
    std::string sOut = "\"";
    for (unsigned char c : PeersUtf8Clean(s)) {
        if (c == '"' || c == '\\') {
            sOut += '\\';
            sOut += (char)c;
        } else if (c == '\n') {
            sOut += "\\n";
        } else if (c == '\r') {
            sOut += "\\r";
        } else if (c == '\t') {
            sOut += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char szHex[8];
            snprintf(szHex, sizeof szHex, "\\u%04x", c);
            sOut += szHex;
        } else {
            sOut += (char)c;
        }
    }
    return sOut + "\"";
}

std::string PeersRfc3339(const struct timespec &ts)
{
    struct tm tmUtc;
    time_t tSec = ts.tv_sec;
    gmtime_r(&tSec, &tmUtc);
    char szOut[48];
    snprintf(szOut, sizeof szOut, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tmUtc.tm_year + 1900,
             tmUtc.tm_mon + 1, tmUtc.tm_mday, tmUtc.tm_hour, tmUtc.tm_min, tmUtc.tm_sec,
             (int)(ts.tv_nsec / 1000000) % 1000);
    return szOut;
}

std::string PeersRfc3339Now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return PeersRfc3339(ts);
}

/* A decimal integer that JSON readers carry exactly. */
static bool IsJsonInteger(const std::string &s)
{
    size_t i = s.size() > 1 && s[0] == '-' ? 1 : 0;
    if (s.size() == i || s.size() - i > 15 || (s[i] == '0' && s.size() - i > 1))
        return false;
    return s.find_first_not_of("0123456789", i) == std::string::npos;
}

std::string PeersEventVariablesJson(const std::string &sText, std::string *psTag)
{
    psTag->clear();
    size_t uStart = sText.find("<NLS ");
    size_t uEnd = uStart == std::string::npos ? uStart : sText.find("/>", uStart);
    if (uEnd == std::string::npos)
        return "{}";
    PeersNlsTag tag;
    if (PeersNlsParseTag(sText.substr(uStart, uEnd + 2 - uStart).c_str(), &tag) != 0)
        return "{}";
    *psTag = tag.sId;
    std::string sOut = "{";
    for (const PeersNlsVar &v : tag.vVars) {
        sOut += (sOut.size() > 1 ? "," : "") + PeersJsonString(v.sName) + ":";
        sOut += IsJsonInteger(v.sValue) ? v.sValue : PeersJsonString(v.sValue);
    }
    return sOut + "}";
}
