/* json-text.cpp - fuzz target of zoltpeers' JSON text pieces. References: a
 * plain UTF-8 decoder (every byte of an invalid sequence becomes U+FFFD,
 * valid text stays) gives exactly what PeersUtf8Clean gives; a JSON string
 * decoder turns PeersJsonString back into the cleaned text; the variables of
 * an event text form a valid flat JSON object whose numbers are decimal
 * integers. Input: any bytes (the event text is the input as well). */
#include <stdint.h>
#include <string.h>

#include <string>

#include "fuzz-common.h"
#include "json-text.h"

static const char s_szReplacement[] = "\xEF\xBF\xBD";

/* Length of the valid UTF-8 sequence at s[i], 0 when it is not one. */
static size_t ValidSequence(const std::string &s, size_t i)
{
    unsigned c = (unsigned char)s[i];
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    uint32_t u = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; k++) {
        unsigned d = (unsigned char)s[i + k];
        if ((d >> 6) != 2)
            return 0;
        u = (u << 6) | (d & 0x3F);
    }
    static const uint32_t s_auMin[] = { 0, 0, 0x80, 0x800, 0x10000 };
    if (u < s_auMin[n] || u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF))
        return 0;
    return n;
}

static std::string ReferenceClean(const std::string &s)
{
    std::string sOut;
    for (size_t i = 0; i < s.size();) {
        size_t n = ValidSequence(s, i);
        sOut += n == 0 ? std::string(s_szReplacement) : s.substr(i, n);
        i += n == 0 ? 1 : n;
    }
    return sOut;
}

static int HexValue(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

/* Decodes the JSON string at s[*pi] (at its quote); false when it is not one.
 * Escapes \uXXXX below U+0080 only (zoltpeers escapes nothing else that way). */
static bool DecodeJsonString(const std::string &s, size_t *pi, std::string *psOut)
{
    size_t i = *pi;
    if (i >= s.size() || s[i] != '"')
        return false;
    for (i++; i < s.size() && s[i] != '"'; i++) {
        unsigned char c = (unsigned char)s[i];
        if (c < 0x20)
            return false;
        if (c != '\\') {
            *psOut += (char)c;
            continue;
        }
        if (++i >= s.size())
            return false;
        const char *szSimple = strchr("\"\\/bfnrt", s[i]);
        if (szSimple != nullptr && s[i] != '\0') {
            *psOut += "\"\\/\b\f\n\r\t"[szSimple - "\"\\/bfnrt"];
            continue;
        }
        if (s[i] != 'u' || i + 4 >= s.size())
            return false;
        int iCode = 0;
        for (int k = 1; k <= 4; k++) {
            int h = HexValue(s[i + k]);
            if (h < 0)
                return false;
            iCode = iCode * 16 + h;
        }
        if (iCode >= 0x80)
            return false;
        *psOut += (char)iCode;
        i += 4;
    }
    if (i >= s.size())
        return false;
    *pi = i + 1;
    return true;
}

/* "{}" or {"name":value,...} with string values or decimal integers. */
static bool IsFlatObject(const std::string &s)
{
    if (s.empty() || s[0] != '{' || s.back() != '}')
        return false;
    size_t i = 1;
    if (s.size() == 2)
        return true;
    for (;;) {
        std::string sName, sValue;
        if (!DecodeJsonString(s, &i, &sName) || i >= s.size() || s[i++] != ':')
            return false;
        if (i < s.size() && s[i] == '"') {
            if (!DecodeJsonString(s, &i, &sValue))
                return false;
        } else {
            if (i < s.size() && s[i] == '-')
                i++;
            size_t uDigits = i;
            while (i < s.size() && s[i] >= '0' && s[i] <= '9')
                i++;
            if (i == uDigits || (s[uDigits] == '0' && i > uDigits + 1))
                return false; /* JSON: no digits, or a leading zero */
        }
        if (i >= s.size())
            return false;
        if (s[i] == '}')
            return i + 1 == s.size();
        if (s[i++] != ',')
            return false;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    std::string s((const char *)pData, uSize);
    std::string sClean = PeersUtf8Clean(s);
    FUZZ_CHECK(sClean == ReferenceClean(s));
    FUZZ_CHECK(PeersUtf8Clean(sClean) == sClean); /* clean text stays as it is */

    std::string sJson = PeersJsonString(s), sBack;
    size_t i = 0;
    FUZZ_CHECK(DecodeJsonString(sJson, &i, &sBack) && i == sJson.size());
    FUZZ_CHECK(sBack == sClean);

    std::string sTag;
    std::string sVars = PeersEventVariablesJson(s, &sTag);
    FUZZ_CHECK(IsFlatObject(sVars));
    FUZZ_CHECK(ReferenceClean(sVars) == sVars);
    if (s.find("<NLS ") == std::string::npos)
        FUZZ_CHECK(sVars == "{}" && sTag.empty());
    return 0;
}
