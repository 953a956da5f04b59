/* peers-cli.cpp - fuzz target of zoltpeers' command line and of the device's
 * list of tests it offers (a plain list reader as reference). References: a
 * number list is comma-separated items "N" or "A-B" of digits only, each
 * at most 4095, A <= B, giving the numbers ascending without repeats; a
 * duration is 1 to 36000000 of seconds, "s", "m" or "h", at most 10000
 * hours. The whole command line: usage (3) with an error text that fits its
 * buffer, or 0 with a known command (unless --help / --version), lists
 * ascending without repeats and a known format (or the trace switch).
 * Input: NUL-separated words; the first word also goes to both readers. */
#include <stdint.h>
#include <string.h>

#include <set>
#include <string>
#include <vector>

#include "cli.h"
#include "engine.h"
#include "fuzz-common.h"

/* The digits-only number of s, or -1 (also beyond lMax). */
static long Digits(const std::string &s, long lMax)
{
    if (s.empty())
        return -1;
    long l = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return -1;
        l = l * 10 + (c - '0');
        if (l > lMax)
            return -1;
    }
    return l;
}

static int ReferenceList(const std::string &s, std::vector<int> *pv)
{
    std::set<int> set;
    for (const std::string &sItem : FuzzSplit((const uint8_t *)s.data(), s.size(), ',')) {
        size_t uDash = sItem.find('-');
        long lFrom = Digits(sItem.substr(0, uDash), 4095);
        long lTo = uDash == std::string::npos ? lFrom : Digits(sItem.substr(uDash + 1), 4095);
        if (lFrom < 0 || lTo < lFrom)
            return 1;
        for (long l = lFrom; l <= lTo; l++)
            set.insert((int)l);
    }
    pv->assign(set.begin(), set.end());
    return 0;
}

static int ReferenceDuration(std::string s, unsigned long long *pull)
{
    unsigned long long ullUnit = 1000;
    if (!s.empty() && (s.back() == 's' || s.back() == 'm' || s.back() == 'h')) {
        ullUnit = s.back() == 's' ? 1000 : s.back() == 'm' ? 60000 : 3600000;
        s.pop_back();
    }
    long l = Digits(s, 36000000);
    if (l <= 0 || (unsigned long long)l * ullUnit > 36000000000ull)
        return 1;
    *pull = (unsigned long long)l * ullUnit;
    return 0;
}

/* Tests a device offers: "*" or "" all four, else the numbers 1 to 1000 of a
 * digits-and-commas list, counted from 1; any other text: within 0..999. */
static void CheckSupportedTests(const std::string &s)
{
    std::vector<int> vGot = PeersSupportedTests(s), vRef;
    if (s.empty() || s == "*") {
        FUZZ_CHECK((vGot == std::vector<int>{ 0, 1, 2, 3 }));
        return;
    }
    if (s.find_first_not_of("0123456789,") != std::string::npos) {
        for (int i : vGot)
            FUZZ_CHECK(i >= 0 && i <= 999);
        return;
    }
    for (const std::string &sItem : FuzzSplit((const uint8_t *)s.data(), s.size(), ',')) {
        long l = Digits(sItem, 1000);
        if (l >= 1)
            vRef.push_back((int)l - 1);
    }
    FUZZ_CHECK(vGot == vRef);
}

static bool AscendingUnique(const std::vector<int> &v)
{
    for (size_t i = 1; i < v.size(); i++)
        if (v[i - 1] >= v[i])
            return false;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    std::vector<std::string> vWords = FuzzSplit(pData, uSize, '\0');
    const std::string &sFirst = vWords[0];
    std::vector<int> vGot, vRef;
    int iRc = PeersParseNumberList(sFirst.c_str(), &vGot);
    FUZZ_CHECK(iRc == ReferenceList(sFirst, &vRef));
    if (iRc == 0)
        FUZZ_CHECK(vGot == vRef);
    unsigned long long ullGot = 0, ullRef = 0;
    iRc = PeersParseDuration(sFirst.c_str(), &ullGot);
    FUZZ_CHECK(iRc == ReferenceDuration(sFirst, &ullRef));
    if (iRc == 0)
        FUZZ_CHECK(ullGot == ullRef);

    CheckSupportedTests(sFirst);

    if (vWords.size() > 64)
        return 0;
    vWords.insert(vWords.begin(), "zoltpeers");
    std::vector<char *> vArgv = FuzzArgv(vWords);
    PeersCommand cmd;
    char szError[64];
    memset(szError, 'x', sizeof szError);
    iRc = PeersParseCommandLine((int)vWords.size(), vArgv.data(), &cmd, szError, sizeof szError);
    FUZZ_CHECK(iRc == 0 || iRc == PEERS_EXIT_USAGE);
    FUZZ_CHECK(memchr(szError, '\0', sizeof szError) != nullptr);
    FUZZ_CHECK((iRc == 0) == (szError[0] == '\0'));
    if (iRc != 0 || cmd.bHelp || cmd.bVersion)
        return 0;
    static const std::set<std::string> s_setCommands = { "all", "enumerate", "run", "sysinfo",
                                                         "validate" };
    FUZZ_CHECK(s_setCommands.count(cmd.sCommand) == 1);
    FUZZ_CHECK(AscendingUnique(cmd.vTests) && AscendingUnique(cmd.vDevices));
    /* the trace switch, or one of the (few) formats of the format table */
    FUZZ_CHECK(cmd.iFormat == PEERS_FORMAT_TRACE ||
               (cmd.iFormat >= PEERS_FORMAT_TEXT && cmd.iFormat < PEERS_FORMAT_TEXT + 8));
    FUZZ_CHECK(cmd.lLoops == -1 || cmd.lLoops >= 1);
    FUZZ_CHECK(cmd.ullDurationMs <= 36000000000ull);
    return 0;
}
