/* peers-run.h - helpers of the end-to-end tests that run the real zoltpeers
 * (or the module itself) as a child process and read what it printed: the
 * trace lines of zoltpeers --trace-json and small lookups into them. Header-only. */
#ifndef ZOLT_TESTS_E2E_PEERS_RUN_H
#define ZOLT_TESTS_E2E_PEERS_RUN_H

#include <ctype.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "common/read-file.h"
#include "common/test-peer.h"

namespace e2e {

/* exit status (-1 when it did not exit), the signal that ended it (0: none),
 * standard output (and error when bJoinErr) */
struct ChildRun {
    int iExit = -1, iSignal = 0;
    std::string sOut;
};

/* Runs vArgs[0] with vArgs in szDir (null: here) with vEnv added to the
 * environment ("NAME=VALUE"; "NAME=" alone removes NAME) and collects its
 * output. Standard error joins standard output when bJoinErr. */
inline ChildRun RunChild(std::vector<std::string> vArgs, const std::vector<std::string> &vEnv = {},
                         const char *szDir = nullptr, bool bJoinErr = false)
{
    ChildRun r;
    int aiOut[2];
    pid_t pid = pipe(aiOut) == 0 ? fork() : -1;
    if (pid < 0)
        return r;
    if (pid == 0) {
        dup2(aiOut[1], 1);
        if (bJoinErr)
            dup2(aiOut[1], 2);
        close(aiOut[0]);
        close(aiOut[1]);
        for (const std::string &s : vEnv) {
            size_t uEq = s.find('=');
            if (uEq + 1 == s.size())
                unsetenv(s.substr(0, uEq).c_str());
            else
                putenv(const_cast<char *>(s.c_str()));
        }
        if (szDir != nullptr && chdir(szDir) != 0)
            _exit(126);
        std::vector<char *> argv;
        for (std::string &s : vArgs)
            argv.push_back(&s[0]);
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(aiOut[1]);
    char szBuf[4096];
    ssize_t n;
    while ((n = read(aiOut[0], szBuf, sizeof szBuf)) > 0)
        r.sOut.append(szBuf, (size_t)n);
    close(aiOut[0]);
    int iStatus = 0;
    waitpid(pid, &iStatus, 0);
    r.iExit = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
    r.iSignal = WIFSIGNALED(iStatus) ? WTERMSIG(iStatus) : 0;
    return r;
}

inline bool Has(const std::string &s, const std::string &sPart)
{
    return s.find(sPart) != std::string::npos;
}

/* The blank-separated words of sLine. */
inline std::vector<std::string> Words(const std::string &sLine)
{
    std::istringstream in(sLine);
    return { std::istream_iterator<std::string>(in), std::istream_iterator<std::string>() };
}

/* zoltpeers' exit status, its trace lines and RESULT lines in order, and all it printed */
struct PeersRun {
    int iExit = -1;
    std::vector<std::string> vLines, vResults;
    std::string sAll;
};

/* zoltpeers' lines taken apart. */
inline PeersRun PeersRunOf(const ChildRun &c)
{
    PeersRun r;
    r.iExit = c.iExit;
    r.sAll = c.sOut;
    std::istringstream in(c.sOut);
    for (std::string sLine; std::getline(in, sLine);) {
        r.vLines.push_back(sLine);
        if (sLine.rfind("{\"kind\":\"RESULT\"", 0) == 0)
            r.vResults.push_back(sLine);
    }
    return r;
}

/* The words that start zoltpeers --trace-json --limit iLimitMs with vWords. */
inline std::vector<std::string> PeersArgs(const std::vector<std::string> &vWords, int iLimitMs)
{
    std::vector<std::string> vArgs = { ZOLT_BIN "/zoltpeers", "--trace-json", "--limit",
                                       std::to_string(iLimitMs) };
    vArgs.insert(vArgs.end(), vWords.begin(), vWords.end());
    return vArgs;
}

/* Runs zoltpeers --trace-json --limit iLimitMs with the words and vEnv (as RunChild):
 * every packet and the raw record of every module run as JSON lines. */
inline PeersRun RunPeers(const std::vector<std::string> &vWords, int iLimitMs = 60000,
                         const std::vector<std::string> &vEnv = {})
{
    return PeersRunOf(RunChild(PeersArgs(vWords, iLimitMs), vEnv));
}

/* Why this machine has no private mount namespaces ("" when it has). */
inline std::string NoNamespaceReason()
{
    return RunChild({ "/usr/bin/unshare", "-m", "/bin/true" }).iExit == 0
               ? ""
               : "no private mount namespace (unshare -m needs root)";
}

/* Runs vArgs in a private mount namespace after the shell command szSetup
 * ran there with sSetupArg as $0, e.g. a fixture bound over /proc/cpuinfo
 * ("mount --bind \"$0\" /proc/cpuinfo"). Exit 97: szSetup failed. */
inline ChildRun RunUnshared(const char *szSetup, const std::string &sSetupArg,
                            const std::vector<std::string> &vArgs,
                            const std::vector<std::string> &vEnv = {})
{
    std::vector<std::string> v = Words("/usr/bin/unshare -m /bin/sh -c");
    v.push_back(std::string(szSetup) + " || exit 97; exec \"$@\"");
    v.push_back(sSetupArg);
    v.insert(v.end(), vArgs.begin(), vArgs.end());
    return RunChild(v, vEnv);
}

/* Every text value of "key" in a JSON line, in order. */
inline std::vector<std::string> All(const std::string &sJson, const char *szKey)
{
    std::vector<std::string> v;
    const std::string sNeedle = std::string("\"") + szKey + "\":\"";
    for (size_t uPos = sJson.find(sNeedle); uPos != std::string::npos;
         uPos = sJson.find(sNeedle, uPos + 1)) {
        std::string sValue;
        for (size_t i = uPos + sNeedle.size(); i < sJson.size() && sJson[i] != '"'; i++) {
            bool bEscaped = sJson[i] == '\\' && i + 1 < sJson.size();
            i += bEscaped;
            sValue += bEscaped && sJson[i] == 'n' ? '\n' : sJson[i];
        }
        v.push_back(sValue);
    }
    return v;
}

/* The first text value of "key" ("" when absent). */
inline std::string Str(const std::string &sJson, const char *szKey)
{
    std::vector<std::string> v = All(sJson, szKey);
    return v.empty() ? "" : v[0];
}

/* The number value of "key" from uFrom on (-9999 when absent). */
inline long Num(const std::string &sJson, const char *szKey, size_t uFrom = 0)
{
    std::string sNeedle = std::string("\"") + szKey + "\":";
    size_t uPos = sJson.find(sNeedle, uFrom);
    return uPos == std::string::npos ? -9999
                                     : strtol(sJson.c_str() + uPos + sNeedle.size(), nullptr, 10);
}

/* The inside of the "percents" array, e.g. "25,50" ("?" when absent). */
inline std::string Percents(const std::string &s)
{
    size_t u = s.find("\"percents\":[");
    return u == std::string::npos ? "?" : s.substr(u + 12, s.find(']', u) - u - 12);
}

/* The last RESULT line of the given mode ("" when none). */
inline std::string ResultOf(const PeersRun &r, const char *szMode)
{
    for (auto it = r.vResults.rbegin(); it != r.vResults.rend(); ++it)
        if (Str(*it, "mode") == szMode)
            return *it;
    return "";
}

/* The kinds of the packets process lPid sent ("STARTUP", "MSG", "STOP", ...),
 * with the TYPE of each MSG after a colon ("MSG:DE_EVENT"). */
inline std::vector<std::string> PacketsFrom(const PeersRun &r, long lPid)
{
    std::vector<std::string> v;
    std::string sPrefix = "{\"dir\":\"in\",\"peer\":" + std::to_string(lPid) + ",";
    for (const std::string &s : r.vLines)
        if (s.rfind(sPrefix, 0) == 0)
            v.push_back(Str(s, "kind") == "MSG" ? "MSG:" + Str(s, "type") : Str(s, "kind"));
    return v;
}

/* A shell command line's run (standard error joined when bJoinErr). */
inline ChildRun Shell(const std::string &sCommand, bool bJoinErr = false)
{
    return RunChild({ "/bin/sh", "-c", sCommand }, {}, nullptr, bJoinErr);
}

const std::string g_sPeers = ZOLT_BIN "/zoltpeers";

/* zoltpeers with the words and vEnv (as RunChild), standard error joined
 * unless bJoinErr is false. */
inline ChildRun Peers(std::vector<std::string> vWords, const std::vector<std::string> &vEnv = {},
                      bool bJoinErr = true)
{
    vWords.insert(vWords.begin(), g_sPeers);
    return RunChild(vWords, vEnv, nullptr, bJoinErr);
}

/* The words that take the fault-injection module, then vWords; with the
 * environment word g_sTest0Fails test 0 FAILs at its first check (see
 * tests/fault-module/fault-env.cpp). */
inline std::vector<std::string> FaultyWords(const std::vector<std::string> &vWords)
{
    std::vector<std::string> v =
        Words("--module " ZOLT_FAULT_BIN "/zoltcpu.linux --deffile " ZOLT_BIN "/zoltcpu.ini");
    v.insert(v.end(), vWords.begin(), vWords.end());
    return v;
}
const std::string g_sTest0Fails = "ZOLT_FAULT=0:1:0x20:*:1";

/* zoltpeers run as a shell runs "NAME=VALUE... zoltpeers WORD..." for sLine
 * "NAME=VALUE... WORD..." (as Peers); with g_sTest0Fails among the leading
 * words it takes the fault-injection module. */
inline ChildRun PeersLine(const std::string &sLine, bool bJoinErr = true)
{
    std::vector<std::string> vEnv, vWords = Words(sLine);
    while (!vWords.empty() && isupper((unsigned char)vWords[0][0]) && Has(vWords[0], "=")) {
        vEnv.push_back(vWords[0]);
        vWords.erase(vWords.begin());
    }
    bool bFaulty = std::find(vEnv.begin(), vEnv.end(), g_sTest0Fails) != vEnv.end();
    return Peers(bFaulty ? FaultyWords(vWords) : vWords, vEnv, bJoinErr);
}

inline bool CpuHasMmx()
{
    std::string s = zolttest::ReadFile("/proc/cpuinfo");
    return Has(s, " mmx ") || Has(s, " mmx\n");
}

/* The tests' temporary directory (common/test-peer.h) and whole files. */
using zolttest::ReadFile;
using zolttest::TempDir;

}  // namespace e2e

#endif
