/* session.cpp - one zoltpeers session: transport, broker and engines together,
 * running the module once per request and the four modes on top. */
#include "session.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pipe-lowlevel.h"
#include "peers-observer.h"

extern char **environ;

/* Output file of the module inside the pipe directory. */
#define PEERS_MODULE_OUTPUT "module-output.txt"
/* After a module ended without STOP (a crash, a kill): rounds of this length
 * without input end the drain of what it may still have sent ... */
#define PEERS_DRAIN_QUIET_MS 60
/* ... and that drain never takes longer than this. */
#define PEERS_DRAIN_LIMIT_MS 3000
/* Once a module's STOP (its last packet) has arrived, rounds are this short
 * where no process descriptor tells when it has ended. */
#define PEERS_STOPPED_POLL_MS 1

int g_bPeersNoPidFd = 0;

volatile sig_atomic_t g_iPeersInterrupted = 0;
volatile sig_atomic_t g_iPeersStopRequested = 0;

static void OnSignal(int iSignal)
{
    if (iSignal == SIGUSR1)
        g_iPeersStopRequested = 1;
    else
        g_iPeersInterrupted = iSignal; /* the exit status is 128 + it */
}

/* Installs the interruption handlers (SIGINT, SIGTERM, SIGHUP). Main thread. */
void PeersCatchSignals(void)
{
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sigaction(SIGUSR1, &sa, nullptr);
}

static int SessionSend(void *pCtx, long lToPid, const std::string &sMessage)
{
    return PeersBrokerSend((PeersSession *)pCtx, lToPid, sMessage);
}

/* Program base name before its first '.' ("/x/zoltcpu.linux" -> "zoltcpu"). */
static std::string ModuleNameOf(const std::string &sPath)
{
    size_t uSlash = sPath.rfind('/');
    std::string sBase = uSlash == std::string::npos ? sPath : sPath.substr(uSlash + 1);
    size_t uDot = sBase.find('.');
    return uDot == std::string::npos ? sBase : sBase.substr(0, uDot);
}

/* Returns 0, 1-3 broker codes, 4 transport thread. */
int PeersSessionOpen(PeersSession *pSession, const PeersOptions *pOpt, const char *szModulePath,
                     const char *szDefFile, const char *szBaseDir)
{
    pSession->opt = *pOpt;
    pSession->lOwnPid = (long)getpid();
    pSession->sModulePath = szModulePath ? szModulePath : "";
    pSession->sDefFile = szDefFile ? szDefFile : "";
    pSession->sModuleName = ModuleNameOf(pSession->sModulePath);
    pSession->bTransport = 0;
    PeersNlsInit(&pSession->nls, pSession->sDefFile.c_str());
    PeersEngineInit(&pSession->engine, &pSession->opt, &pSession->nls, SessionSend, pSession);

    ZoltPipeSignalHandle();
    ZoltInitPipes();
    int iRc = PeersBrokerOpen(&pSession->broker, szBaseDir);
    if (iRc != 0) {
        ZoltCleanupPipes();
        return iRc;
    }
    /* The transport thread never takes the peers' signals (they only set flags
     * for the main thread): it starts with them blocked. */
    sigset_t setBlock, setOld;
    sigemptyset(&setBlock);
    sigaddset(&setBlock, SIGINT);
    sigaddset(&setBlock, SIGTERM);
    sigaddset(&setBlock, SIGHUP);
    sigaddset(&setBlock, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &setBlock, &setOld);
    int iThread = ZoltInitReadWriteThread();
    pthread_sigmask(SIG_SETMASK, &setOld, nullptr);
    if (iThread != 0) {
        PeersBrokerClose(&pSession->broker);
        ZoltCleanupPipes();
        return 4;
    }
    pSession->bTransport = 1;
    return 0;
}

/* Stops the transport thread, closes the broker and removes its directory.
 * Safe to call twice. Main thread. */
void PeersSessionClose(PeersSession *pSession)
{
    /* Whatever is still queued for the modules gets a short chance to leave. */
    for (const PeersClient &c : pSession->broker.vClients)
        if (c.hWrite > 0)
            ZoltFlushWritePipe(c.hWrite, 0);
    if (pSession->bTransport) {
        ZoltStopReadWriteThread();
        pSession->bTransport = 0;
    }
    PeersBrokerClose(&pSession->broker);
    ZoltCleanupPipes();
    pSession->engine.pCur = nullptr;
}

/* Reads the module's output file into pInv and removes it. */
static void CollectOutput(PeersSession *pSession, PeersInvocation *pInv)
{
    std::string sPath = pSession->broker.sPipeDir + "/" + PEERS_MODULE_OUTPUT;
    FILE *pFile = fopen(sPath.c_str(), "r");
    if (pFile != nullptr) {
        char szBuf[1024];
        size_t uRead;
        /* 64 KiB is plenty for what a module prints; the rest is dropped. */
        while ((uRead = fread(szBuf, 1, sizeof szBuf, pFile)) > 0 &&
               pInv->sModuleOutput.size() < 65536)
            pInv->sModuleOutput.append(szBuf, uRead);
        fclose(pFile);
    }
    unlink(sPath.c_str());
}

/* Waits without input (the broker is dead, nothing to read), at most iMs,
 * less when hWake (-1: none) becomes readable first. */
static void PauseMs(int hWake, int iMs)
{
    struct pollfd pfd;
    pfd.fd = hWake;
    pfd.events = POLLIN;
    pfd.revents = 0;
    poll(&pfd, hWake >= 0 ? 1 : 0, iMs);
}

/* The program a word names: itself when it holds a '/', else the first
 * executable of that name in PATH, else the word unchanged (execve then fails
 * and says why). */
static std::string FindProgram(const std::string &sWord)
{
    const char *szPath = getenv("PATH");
    if (sWord.find('/') != std::string::npos || szPath == nullptr)
        return sWord;
    std::string sDirs = szPath;
    size_t uStart = 0;
    while (uStart <= sDirs.size()) {
        size_t uEnd = sDirs.find(':', uStart);
        if (uEnd == std::string::npos)
            uEnd = sDirs.size();
        std::string sDir = sDirs.substr(uStart, uEnd - uStart);
        std::string sCandidate = (sDir.empty() ? std::string(".") : sDir) + "/" + sWord;
        if (access(sCandidate.c_str(), X_OK) == 0)
            return sCandidate;
        uStart = uEnd + 1;
    }
    return sWord;
}

/* Starts vArgv[0] with vArgv and vEnv, its standard output and error on hOut
 * (-1: inherited). Returns 0 with *pPid, or the error number. */
static int Spawn(std::vector<char *> &vArgv, std::vector<char *> &vEnv, int hOut, pid_t *pPid)
{
    /* posix_spawn rather than fork and exec: the child shares our memory
     * until its exec, so a start costs no copy of our page tables, and an
     * exec that fails comes back as the result. The module gets SIGPIPE
     * back (we ignore it) and an empty signal mask. */
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    if (hOut >= 0) {
        posix_spawn_file_actions_adddup2(&actions, hOut, 1);
        posix_spawn_file_actions_adddup2(&actions, hOut, 2);
    }
    sigset_t sigDefault, sigNone;
    sigemptyset(&sigDefault);
    sigaddset(&sigDefault, SIGPIPE);
    sigemptyset(&sigNone);
    posix_spawnattr_setsigdefault(&attr, &sigDefault);
    posix_spawnattr_setsigmask(&attr, &sigNone);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    int iErr = posix_spawn(pPid, vArgv[0], &actions, &attr, vArgv.data(), vEnv.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return iErr;
}

/* Starts the module (behind the wrapper words, if any). Returns its pid, or -1
 * (pInv->bStartFailed set). */
static long StartModule(PeersSession *pSession, PeersInvocation *pInv)
{
    std::vector<std::string> vWords = pSession->vModuleWrapper;
    if (!vWords.empty())
        vWords[0] = FindProgram(vWords[0]);
    vWords.insert(vWords.end(), pInv->vArgv.begin(), pInv->vArgv.end());
    std::vector<char *> vArgv;
    vArgv.reserve(vWords.size() + 1);
    for (std::string &s : vWords)
        vArgv.push_back(&s[0]);
    vArgv.push_back(nullptr);
    std::string sZoltPath = "ZOLT_PATH=" + pSession->broker.sPipeDir;
    std::vector<char *> vEnv;
    for (char **pp = environ; pp != nullptr && *pp != nullptr; pp++)
        if (strncmp(*pp, "ZOLT_PATH=", 10) != 0)
            vEnv.push_back(*pp);
    vEnv.push_back(&sZoltPath[0]);
    vEnv.push_back(nullptr);

    std::string sOut = pSession->broker.sPipeDir + "/" + PEERS_MODULE_OUTPUT;
    int hOut = open(sOut.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0600);
    /* A program that cannot be run is reported before any child exists:
     * under an emulator that makes the spawn a plain fork (qemu-user), a
     * failed exec would otherwise only show as exit status 127. */
    int iErr = vWords.empty() ? EINVAL : access(vArgv[0], X_OK) != 0 ? errno : 0;
    if (iErr != 0) {
        if (hOut >= 0)
            close(hOut);
        pInv->bStartFailed = 1;
        if (!vWords.empty())
            pInv->sModuleOutput = std::string("cannot start ") + vWords[0] + ": " + strerror(iErr);
        return -1;
    }
    pid_t pid = -1;
    iErr = Spawn(vArgv, vEnv, hOut, &pid);
    if (hOut >= 0)
        close(hOut);
    if (iErr != 0) {
        pInv->bStartFailed = 1;
        pInv->sModuleOutput = std::string("cannot start ") + vWords[0] + ": " + strerror(iErr);
        return -1;
    }
    return (long)pid;
}

/* A descriptor that becomes readable when process lPid (our child, not yet
 * reaped) has ended, or -1 where the system has none (then the caller polls
 * with waitpid). Close-on-exec. The caller closes it. */
static int OpenPidFd(long lPid)
{
#ifdef SYS_pidfd_open
    if (!g_bPeersNoPidFd)
        return (int)syscall(SYS_pidfd_open, (pid_t)lPid, 0);
#else
    (void)lPid;
#endif
    return -1;
}

/* Records how the child ended. */
static void RecordStatus(PeersInvocation *pInv, int iStatus)
{
    if (WIFEXITED(iStatus))
        pInv->iExitStatus = WEXITSTATUS(iStatus);
    else if (WIFSIGNALED(iStatus))
        pInv->iSignal = WTERMSIG(iStatus);
}

/* Serves the peers until module lPid ends, or kills it at its time limit
 * (--limit 0: none) or on an interruption. Returns 0 ended, 2 killed. */
static int ServeUntilEnd(PeersSession *pSession, PeersInvocation *pInv, long lPid, int hPidFd,
                         int iStopsBefore)
{
    PeersEngine *pEngine = &pSession->engine;
    for (;;) {
        /* STOP is the module's last packet: its exit follows at once. */
        int bStopped = pInv->bStopSeen || pSession->broker.iStops > iStopsBefore;
        int iWaitMs = hPidFd < 0 && bStopped ? PEERS_STOPPED_POLL_MS
                                             : PeersEngineWaitMs(pEngine, PeersNowMs());
        if (iWaitMs < 1) /* an action that is due but cannot leave must not make this spin */
            iWaitMs = 1;
        if (PeersBrokerWait(pSession, hPidFd, iWaitMs) < 0)
            PauseMs(hPidFd, iWaitMs);
        unsigned long long ullNow = PeersNowMs();
        PeersEngineTick(pEngine, ullNow);
        if (g_iPeersStopRequested && pInv->bStartupNote) { /* a person asked (SIGUSR1) */
            g_iPeersStopRequested = 0;
            PeersObserveText("  asking the module to stop testing\n");
            PeersEngineSendStop(pEngine, lPid);
        }
        int iStatus = 0;
        if (waitpid((pid_t)lPid, &iStatus, WNOHANG) == (pid_t)lPid) {
            RecordStatus(pInv, iStatus);
            return 0;
        }
        int bOverLimit =
            pSession->opt.iModuleLimitMs > 0 &&
            ullNow - pInv->ullStartMs > (unsigned long long)pSession->opt.iModuleLimitMs;
        if (bOverLimit || g_iPeersInterrupted) {
            kill((pid_t)lPid, SIGKILL);
            waitpid((pid_t)lPid, &iStatus, 0);
            RecordStatus(pInv, iStatus);
            pInv->bKilled = 1;
            pInv->bInterrupted = g_iPeersInterrupted ? 1 : 0;
            return 2;
        }
    }
}

/* After module lPid ended: takes what it wrote last and forgets it. */
static void TakeLastWords(PeersSession *pSession, PeersInvocation *pInv, long lPid,
                          int iStopsBefore)
{
    PeersEngine *pEngine = &pSession->engine;
    /* The module has ended, so all it wrote is in the FIFO or queued: take it. */
    while (PeersBrokerPoll(pSession, 0) > 0)
        PeersEngineTick(pEngine, PeersNowMs());
    /* Without its STOP something may still be on its way (a wrapper's other
     * process, a write the transport had not finished): wait for quiet. */
    if (!pInv->bStopSeen && pSession->broker.iStops == iStopsBefore) {
        unsigned long long ullDrainStart = PeersNowMs();
        while (PeersNowMs() - ullDrainStart < PEERS_DRAIN_LIMIT_MS) {
            int iGot = PeersBrokerPoll(pSession, PEERS_DRAIN_QUIET_MS);
            PeersEngineTick(pEngine, PeersNowMs());
            if (iGot <= 0)
                break;
        }
    }
    /* A module that ended without STOP is forgotten all the same. */
    PeersNlsForget(&pSession->nls, lPid);
    for (size_t i = 0; i < pSession->broker.vClients.size(); i++) {
        if (pSession->broker.vClients[i].lPid == lPid) {
            if (pSession->broker.vClients[i].hWrite > 0)
                ZoltPipeClose(pSession->broker.vClients[i].hWrite);
            pSession->broker.vClients.erase(pSession->broker.vClients.begin() + (long)i);
            break;
        }
    }
}

/* Returns 0 ended by itself, 1 not started, 2 killed. */
int PeersSessionRunModule(PeersSession *pSession, PeersInvocation *pInv)
{
    PeersEngine *pEngine = &pSession->engine;
    pEngine->pCur = pInv;
    pEngine->vPending.clear();
    pInv->ullStartMs = PeersNowMs();
    pSession->broker.iPacketsRun = 0;
    long lPid = g_iPeersInterrupted ? -1 : StartModule(pSession, pInv);
    if (lPid < 0) {
        pInv->ullEndMs = PeersNowMs();
        pEngine->pCur = nullptr;
        return 1;
    }
    pInv->lPid = lPid;
    int iStopsBefore = pSession->broker.iStops;
    int hPidFd = OpenPidFd(lPid);
    int iRc = ServeUntilEnd(pSession, pInv, lPid, hPidFd, iStopsBefore);
    if (hPidFd >= 0)
        close(hPidFd);
    TakeLastWords(pSession, pInv, lPid, iStopsBefore);
    CollectOutput(pSession, pInv);
    pInv->ullEndMs = PeersNowMs();
    pEngine->pCur = nullptr;
    pEngine->vPending.clear();
    return iRc;
}

/* Serves modules started elsewhere, recording into pInv (may be null).
 * Returns 0, 1 on time-out, 2 when the broker died. */
int PeersSessionServe(PeersSession *pSession, PeersInvocation *pInv, int iStops, int iLimitMs)
{
    unsigned long long ullStart = PeersNowMs();
    pSession->engine.pCur = pInv;
    int iRc = 0;
    while (pSession->broker.iStops < iStops) {
        if (pSession->broker.bDead) {
            iRc = 2;
            break;
        }
        if (PeersNowMs() - ullStart > (unsigned long long)iLimitMs) {
            iRc = 1;
            break;
        }
        PeersBrokerPoll(pSession, PEERS_POLL_MS);
        PeersEngineTick(&pSession->engine, PeersNowMs());
    }
    pSession->engine.pCur = nullptr;
    return iRc;
}

/* Device iDevice of the module's last enumeration, or null. */
const PeersDevice *PeersSessionFindDevice(const PeersSession *pSession, int iDevice)
{
    const std::vector<PeersDevice> *pDevices =
        PeersEngineGetDevices(&pSession->engine, pSession->sModuleName.c_str());
    if (pDevices == nullptr)
        return nullptr;
    for (const PeersDevice &d : *pDevices)
        if (d.iId == iDevice)
            return &d;
    return nullptr;
}

/* "REFn": the reference text, also the TYPE of the startup notification. */
static std::string NextRef(PeersSession *pSession, const char *szMode)
{
    return std::string("ZOLTPEERS_") + szMode + "_" +
           std::to_string(pSession->engine.iNextProcessId);
}

/* Enumerate mode; keeps the devices for later device-list requests.
 * Returns 0 (report received, exit status 0) or 2. */
int PeersEnumerate(PeersSession *pSession, PeersInvocation *pInv)
{
    PeersInvocationInit(pInv, "enumerate");
    pInv->vArgv =
        PeersEnumerateArgs(pSession->sModulePath.c_str(), pSession->sDefFile.c_str(),
                           NextRef(pSession, "ENUMERATE").c_str(), pSession->broker.sFifo.c_str());
    pSession->engine.iNextProcessId++;
    PeersSessionRunModule(pSession, pInv);
    if (pInv->bEnumData) {
        /* The module asks for its devices under its program name. */
        PeersEngineSetDevices(&pSession->engine, pSession->sModuleName.c_str(), pInv->vDevices);
    }
    return pInv->bEnumData && pInv->iExitStatus == 0 ? 0 : 2;
}

/* Run mode for one test. Returns 0 PASS, 1 another word, 2 no result. */
int PeersRunTest(PeersSession *pSession, PeersInvocation *pInv, int iDevice, int iTest,
                 const std::vector<std::string> &vParams, int iErrLimit)
{
    PeersInvocationInit(pInv, "run");
    pInv->iDevice = iDevice;
    pInv->iTest = iTest;
    std::string sProcess = std::to_string(pSession->engine.iNextProcessId);
    pInv->vArgv = PeersRunArgs(pSession->sModulePath.c_str(), pSession->sDefFile.c_str(),
                               NextRef(pSession, "RUN").c_str(), iDevice, iTest, sProcess.c_str(),
                               pSession->broker.sFifo.c_str(), vParams, iErrLimit);
    pSession->engine.iNextProcessId++;
    PeersSessionRunModule(pSession, pInv);
    if (!pInv->bResult)
        return 2;
    return pInv->sResultWord == "PASS" ? 0 : 1;
}

/* System-information mode for device iDevice. Returns 0 answered, 1 answered
 * without the device (the module does not know it), 2 no answer. */
int PeersSysInfo(PeersSession *pSession, PeersInvocation *pInv, int iDevice)
{
    PeersInvocationInit(pInv, "sysinfo");
    pInv->iDevice = iDevice;
    const PeersDevice *pDevice = PeersSessionFindDevice(pSession, iDevice);
    std::string sLocator = pDevice ? pDevice->sHwLocator : "CPU:" + std::to_string(iDevice);
    int iRequest = pSession->engine.iNextRequestId++;
    pInv->vArgv = PeersSysInfoArgs(pSession->sModulePath.c_str(), pSession->lOwnPid, iRequest,
                                   sLocator.c_str(), pSession->sDefFile.c_str(),
                                   pSession->sModuleName.c_str());
    PeersSessionRunModule(pSession, pInv);
    if (!pInv->bSysInfo)
        return 2;
    return pInv->iSysInfoDevices > 0 ? 0 : 1;
}

/* Validate mode. Returns 0 all valid, 1 one not valid, 2 no answer. */
int PeersValidate(PeersSession *pSession, PeersInvocation *pInv, int iDevice, int iTest,
                  const std::vector<std::string> &vParams)
{
    PeersInvocationInit(pInv, "validate");
    pInv->iDevice = iDevice;
    pInv->iTest = iTest;
    int iRequest = pSession->engine.iNextRequestId++;
    std::string sProcess = std::to_string(pSession->engine.iNextProcessId);
    pInv->vArgv =
        PeersValidateArgs(pSession->sModulePath.c_str(), pSession->sDefFile.c_str(),
                          NextRef(pSession, "VALIDATE").c_str(), iDevice, iTest, sProcess.c_str(),
                          pSession->broker.sFifo.c_str(), pSession->lOwnPid, iRequest, vParams);
    pSession->engine.iNextProcessId++;
    PeersSessionRunModule(pSession, pInv);
    if (!pInv->bValidation)
        return 2;
    for (const PeersParamResult &r : pInv->vParams)
        if (r.sValidFlag != "valid")
            return 1;
    return 0;
}
