/* peers-run.h - helpers of the end-to-end tests that run the real zoltpeers
 * (or the module itself) as a child process and read what it printed: the
 * JSON lines of zoltpeers --json and small lookups into them. Header-only. */
#ifndef ZOLT_TESTS_E2E_PEERS_RUN_H
#define ZOLT_TESTS_E2E_PEERS_RUN_H

#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

namespace e2e {

struct ChildRun {
    int iExit = -1;       /* exit status, -1 when it did not exit */
    int iSignal = 0;      /* the signal that ended it, 0 when none */
    std::string sOut;     /* standard output (and error when bJoinErr) */
};

/* Runs vArgs[0] with vArgs in szDir (null: here) with vEnv added to the
 * environment ("NAME=VALUE"; "NAME=" alone removes NAME) and collects its
 * output. Standard error joins standard output when bJoinErr. */
inline ChildRun RunChild(std::vector<std::string> vArgs, const std::vector<std::string> &vEnv = {},
                         const char *szDir = nullptr, bool bJoinErr = false)
{
    ChildRun r;
    int aiOut[2];
    if (pipe(aiOut) != 0)
        return r;
    pid_t pid = fork();
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

struct PeersRun {
    int iExit = -1;                      /* zoltpeers' exit status */
    std::vector<std::string> vLines;     /* every JSON line, in order */
    std::vector<std::string> vResults;   /* RESULT lines, in order */
    std::string sAll;                    /* everything it printed */
};

/* Runs zoltpeers --json --limit iLimitMs with the words. */
inline PeersRun RunPeers(const std::vector<std::string> &vWords, int iLimitMs = 60000)
{
    std::vector<std::string> vArgs = { ZOLT_BIN "/zoltpeers", "--json", "--limit", std::to_string(iLimitMs) };
    vArgs.insert(vArgs.end(), vWords.begin(), vWords.end());
    ChildRun c = RunChild(vArgs);
    PeersRun r;
    r.iExit = c.iExit;
    r.sAll = c.sOut;
    std::istringstream in(r.sAll);
    std::string sLine;
    while (std::getline(in, sLine)) {
        r.vLines.push_back(sLine);
        if (sLine.rfind("{\"kind\":\"RESULT\"", 0) == 0)
            r.vResults.push_back(sLine);
    }
    return r;
}

/* The text value of "key" from uFrom on ("" when absent); *puNext (may be
 * null) gets the position after it, npos when absent. */
inline std::string StrAt(const std::string &sJson, const char *szKey, size_t uFrom, size_t *puNext)
{
    std::string sNeedle = std::string("\"") + szKey + "\":\"";
    size_t uPos = sJson.find(sNeedle, uFrom);
    if (puNext)
        *puNext = std::string::npos;
    if (uPos == std::string::npos)
        return "";
    std::string sValue;
    size_t i = uPos + sNeedle.size();
    for (; i < sJson.size() && sJson[i] != '"'; i++) {
        if (sJson[i] == '\\' && i + 1 < sJson.size()) {
            i++;
            sValue += sJson[i] == 'n' ? '\n' : sJson[i];
            continue;
        }
        sValue += sJson[i];
    }
    if (puNext)
        *puNext = i;
    return sValue;
}

inline std::string Str(const std::string &sJson, const char *szKey)
{
    return StrAt(sJson, szKey, 0, nullptr);
}

/* Every value of "key" in a JSON line, in order. */
inline std::vector<std::string> All(const std::string &sJson, const char *szKey)
{
    std::vector<std::string> v;
    size_t uNext = 0;
    for (;;) {
        std::string s = StrAt(sJson, szKey, uNext, &uNext);
        if (uNext == std::string::npos)
            return v;
        v.push_back(s);
    }
}

/* The number value of "key" (-9999 when absent). */
inline long Num(const std::string &sJson, const char *szKey)
{
    std::string sNeedle = std::string("\"") + szKey + "\":";
    size_t uPos = sJson.find(sNeedle);
    if (uPos == std::string::npos)
        return -9999;
    return strtol(sJson.c_str() + uPos + sNeedle.size(), nullptr, 10);
}

/* The inside of the "percents" array, e.g. "25,50" ("?" when absent). */
inline std::string Percents(const std::string &sJson)
{
    size_t uPos = sJson.find("\"percents\":[");
    if (uPos == std::string::npos)
        return "?";
    uPos += 12;
    return sJson.substr(uPos, sJson.find(']', uPos) - uPos);
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
    for (const std::string &s : r.vLines) {
        if (s.rfind(sPrefix, 0) != 0)
            continue;
        std::string sKind = Str(s, "kind");
        if (sKind == "MSG")
            sKind += ":" + Str(s, "type");
        v.push_back(sKind);
    }
    return v;
}

}  // namespace e2e

#endif
