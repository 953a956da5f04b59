/* job-worker.cpp - worker processes of --jobs: starting one, a pick sent as
 * one line, a module run's record sent back as escaped "key value" lines
 * ending in "end", and the worker's loop. */
#include "job-worker.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

std::vector<std::string> g_vPeersArgs;

/* The text with backslash and newline escaped (one line). */
static std::string Escape(const std::string &s)
{
    std::string sOut;
    for (char c : s)
        sOut += c == '\\' ? "\\\\" : (c == '\n' ? "\\n" : std::string(1, c));
    return sOut;
}

static std::string Unescape(const std::string &s)
{
    std::string sOut;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '\\' && i + 1 < s.size())
            sOut += s[++i] == 'n' ? '\n' : s[i];
        else
            sOut += s[i];
    }
    return sOut;
}

/* Writes the record of a run, "key value" lines and "end". */
static void WriteInvocation(FILE *pOut, const PeersInvocation &inv)
{
    fprintf(pOut, "n %d %d %ld %d %d %d %d %d %d %d %d %d %d %llu %llu\n", inv.iDevice, inv.iTest,
            inv.lPid, inv.bStartFailed, inv.iExitStatus, inv.iSignal, inv.bKilled, inv.bInterrupted,
            inv.bConnected, inv.bStartupNote, inv.bResult, inv.iDeviceListRequests,
            inv.iDeviceListAnswers, inv.ullStartMs, inv.ullEndMs);
    fprintf(pOut, "w %s\no %s\n", Escape(inv.sResultWord).c_str(),
            Escape(inv.sModuleOutput).c_str());
    for (int iPercent : inv.vPercents)
        fprintf(pOut, "p %d\n", iPercent);
    for (const PeersEvent &ev : inv.vEvents)
        fprintf(pOut, "e %d %d %s\nt %s\nx %s\ni %s\n", ev.bHasCode, ev.iCode,
                Escape(ev.sType).c_str(), Escape(ev.sText).c_str(), Escape(ev.sEnglish).c_str(),
                Escape(ev.sTestProcessId).c_str());
    fputs("end\n", pOut);
    fflush(pOut);
}

/* Takes one line of a record into *pInv. */
static void TakeLine(const std::string &sLine, PeersInvocation *pInv)
{
    const std::string sValue = sLine.size() > 2 ? Unescape(sLine.substr(2)) : "";
    PeersInvocation &inv = *pInv;
    int iCode = 0, bHasCode = 0, iPos = 0;
    switch (sLine[0]) {
    case 'n':
        sscanf(sLine.c_str() + 2, "%d %d %ld %d %d %d %d %d %d %d %d %d %d %llu %llu", &inv.iDevice,
               &inv.iTest, &inv.lPid, &inv.bStartFailed, &inv.iExitStatus, &inv.iSignal,
               &inv.bKilled, &inv.bInterrupted, &inv.bConnected, &inv.bStartupNote, &inv.bResult,
               &inv.iDeviceListRequests, &inv.iDeviceListAnswers, &inv.ullStartMs, &inv.ullEndMs);
        break;
    case 'w':
        inv.sResultWord = sValue;
        break;
    case 'o':
        inv.sModuleOutput = sValue;
        break;
    case 'p':
        inv.vPercents.push_back(atoi(sValue.c_str()));
        break;
    case 'e':
        if (sscanf(sLine.c_str() + 2, "%d %d %n", &bHasCode, &iCode, &iPos) >= 2 && iPos > 0)
            inv.vEvents.push_back(PeersEvent{ Unescape(sLine.substr(2 + (size_t)iPos)), "", "",
                                              bHasCode, iCode, "" });
        break;
    case 't':
    case 'x':
    case 'i':
        if (!inv.vEvents.empty())
            (sLine[0] == 't'   ? inv.vEvents.back().sText
             : sLine[0] == 'x' ? inv.vEvents.back().sEnglish
                               : inv.vEvents.back().sTestProcessId) = sValue;
        break;
    }
}

/* Reads one line without its newline; false at the end of the input. */
static bool ReadLine(FILE *pIn, std::string *psLine)
{
    psLine->clear();
    int c;
    while ((c = fgetc(pIn)) != EOF && c != '\n')
        *psLine += (char)c;
    return c != EOF || !psLine->empty();
}

int PeersWorkerStart(PeersWorker *pWorker)
{
    int aiTo[2], aiFrom[2];
    *pWorker = PeersWorker{ -1, nullptr, nullptr };
    if (pipe2(aiTo, O_CLOEXEC) != 0)
        return 1;
    if (pipe2(aiFrom, O_CLOEXEC) != 0) {
        close(aiTo[0]);
        close(aiTo[1]);
        return 1;
    }
    std::vector<std::string> vArgs = { "/proc/self/exe", "--job-worker" };
    vArgs.insert(vArgs.end(), g_vPeersArgs.begin(), g_vPeersArgs.end());
    std::vector<char *> vArgv;
    vArgv.reserve(vArgs.size() + 1);
    for (std::string &s : vArgs)
        vArgv.push_back(&s[0]);
    vArgv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, aiTo[0], 0);
    posix_spawn_file_actions_adddup2(&actions, aiFrom[1], 1);
    pid_t pid = -1;
    int iRc = posix_spawn(&pid, vArgv[0], &actions, nullptr, vArgv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(aiTo[0]);
    close(aiFrom[1]);
    pWorker->pTo = iRc == 0 ? fdopen(aiTo[1], "w") : nullptr;
    pWorker->pFrom = iRc == 0 ? fdopen(aiFrom[0], "r") : nullptr;
    pWorker->pid = iRc == 0 ? pid : -1;
    if (pWorker->pTo == nullptr || pWorker->pFrom == nullptr) {
        if (pWorker->pTo == nullptr)
            close(aiTo[1]);
        if (pWorker->pFrom == nullptr)
            close(aiFrom[0]);
        PeersWorkerStop(pWorker, SIGTERM);
        return 1;
    }
    return 0;
}

int PeersWorkerRun(PeersWorker *pWorker, const PeersPick &pick, PeersInvocation *pInv)
{
    PeersInvocationInit(pInv, "run");
    pInv->iDevice = pick.iDevice;
    pInv->iTest = pick.iTest;
    if (fprintf(pWorker->pTo, "%d %d %d\n", pick.iDevice, pick.iTest, pick.place.iCpu) < 0 ||
        fflush(pWorker->pTo) != 0) {
        pInv->bStartFailed = 1;
        return 1;
    }
    std::string sLine;
    bool bEnd = false;
    while (!bEnd && ReadLine(pWorker->pFrom, &sLine)) {
        bEnd = sLine == "end";
        if (!bEnd && !sLine.empty())
            TakeLine(sLine, pInv);
    }
    if (!bEnd) {
        pInv->bStartFailed = 1;
        pInv->sModuleOutput = "the job's worker process ended";
    }
    return bEnd ? 0 : 1;
}

void PeersWorkerStop(PeersWorker *pWorker, int iSignal)
{
    if (pWorker->pTo != nullptr)
        fclose(pWorker->pTo);
    if (iSignal != 0 && pWorker->pid > 0)
        kill(pWorker->pid, iSignal);
    if (pWorker->pFrom != nullptr)
        fclose(pWorker->pFrom);
    if (pWorker->pid > 0)
        waitpid(pWorker->pid, nullptr, 0);
    *pWorker = PeersWorker{ -1, nullptr, nullptr };
}

int PeersJobWorkerLoop(PeersSession *pSession, const PeersCommand &cmd)
{
    std::string sLine;
    while (!g_iPeersInterrupted && ReadLine(stdin, &sLine)) {
        PeersPick pick = PeersPick{ -1, -1, "", { -1, -1, -1, -1 } };
        if (sscanf(sLine.c_str(), "%d %d %d", &pick.iDevice, &pick.iTest, &pick.place.iCpu) != 3)
            return PEERS_EXIT_USAGE;
        PeersInvocation inv;
        PeersRunPickHere(pSession, cmd, pick, &inv);
        WriteInvocation(stdout, inv);
        if (ferror(stdout))
            return PEERS_EXIT_NOT_RUN;
    }
    return PEERS_EXIT_PASS;
}
