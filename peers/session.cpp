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

/* Of what the module prints (standard output and error, through a pipe) this
 * much is kept; the rest is read and dropped, so that a module that floods
 * them neither stalls nor fills memory or a disk. */
#define PEERS_OUTPUT_KEEP 65536
/* At most this many 4 KiB reads of that pipe per service round. */
#define PEERS_OUTPUT_READS 256
/* Ends the kept output when more was dropped. */
#define PEERS_OUTPUT_CUT "\n[zoltpeers: the module's further output was dropped]\n"
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

/* Takes what the module printed so far from hOut (non-blocking; -1: none)
 * into pInv: the first 64 KiB kept, the rest dropped behind one mark. */
static void DrainOutput(int hOut, PeersInvocation *pInv)
{
    char szBuf[4096];
    for (int i = 0; hOut >= 0 && i < PEERS_OUTPUT_READS; i++) {
        ssize_t n = read(hOut, szBuf, sizeof szBuf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        size_t uRoom = pInv->sModuleOutput.size() < PEERS_OUTPUT_KEEP
                           ? PEERS_OUTPUT_KEEP - pInv->sModuleOutput.size()
                           : 0;
        pInv->sModuleOutput.append(szBuf, (size_t)n < uRoom ? (size_t)n : uRoom);
        if ((size_t)n > uRoom && pInv->sModuleOutput.size() == PEERS_OUTPUT_KEEP)
            pInv->sModuleOutput += PEERS_OUTPUT_CUT;
    }
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

/* Names passed on from our environment to the module (and its wrapper), and
 * prefixes of such names: search path, home, user, locale, time zone and
 * terminal, the module's trace and fault switches, the loader's, the
 * sanitizers' and the memory checker's settings. Nothing else: ZOLT_TMP, for
 * one, would put the module's FIFO outside the private pipe directory. */
static const char *const s_apszPassedNames[] = { "PATH",
                                                 "HOME",
                                                 "USER",
                                                 "LOGNAME",
                                                 "TERM",
                                                 "TZ",
                                                 "LANG",
                                                 "LANGUAGE",
                                                 "ZOLT_TRACE",
                                                 "ZOLT_FAULT",
                                                 "ZOLT_FAULT_SIGNAL",
                                                 "ZOLT_TRACE_FILE",
                                                 "LD_PRELOAD",
                                                 "LD_LIBRARY_PATH" };
static const char *const s_apszPassedPrefixes[] = { "LC_", "ASAN_", "UBSAN_", "LSAN_",
                                                    "VALGRIND_" };

/* 1 when the environment entry "NAME=value" is one to pass on. */
static int IsPassedOn(const char *szEntry)
{
    const char *pEq = strchr(szEntry, '=');
    if (pEq == nullptr)
        return 0;
    size_t uName = (size_t)(pEq - szEntry);
    for (const char *szName : s_apszPassedNames)
        if (strlen(szName) == uName && strncmp(szEntry, szName, uName) == 0)
            return 1;
    for (const char *szPrefix : s_apszPassedPrefixes)
        if (strncmp(szEntry, szPrefix, strlen(szPrefix)) == 0)
            return 1;
    return 0;
}

/* The module's environment: what IsPassedOn lets through, and ZOLT_PATH. */
static std::vector<std::string> ModuleEnvironment(const std::string &sPipeDir)
{
    std::vector<std::string> v;
    for (char **pp = environ; pp != nullptr && *pp != nullptr; pp++)
        if (IsPassedOn(*pp))
            v.push_back(*pp);
    v.push_back("ZOLT_PATH=" + sPipeDir);
    return v;
}

/* Starts vArgv[0] with vArgv and vEnv as the leader of a new process group,
 * its standard output and error on hOut, no other descriptor of ours open
 * (whatever we inherited stays here). Returns 0 with *pPid, or the error. */
static int Spawn(std::vector<char *> &vArgv, std::vector<char *> &vEnv, int hOut, pid_t *pPid)
{
    /* posix_spawn rather than fork and exec: the child shares our memory
     * until its exec, so a start costs no copy of our page tables, and an
     * exec that fails comes back as the result. The module gets SIGPIPE
     * back (we ignore it) and an empty signal mask. Its process group is
     * what we recognise and kill, so that a wrapper's children go with it. */
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_adddup2(&actions, hOut, 1);
    posix_spawn_file_actions_adddup2(&actions, hOut, 2);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    sigset_t sigDefault, sigNone;
    sigemptyset(&sigDefault);
    sigaddset(&sigDefault, SIGPIPE);
    sigemptyset(&sigNone);
    posix_spawnattr_setsigdefault(&attr, &sigDefault);
    posix_spawnattr_setsigmask(&attr, &sigNone);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETPGROUP);
    int iErr = posix_spawn(pPid, vArgv[0], &actions, &attr, vArgv.data(), vEnv.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return iErr;
}

/* Starts the module (behind the wrapper words, if any), its output into a
 * pipe whose non-blocking read end comes back in *phOut. Returns its pid, or
 * -1 (pInv->bStartFailed set, *phOut -1). */
static long StartModule(PeersSession *pSession, PeersInvocation *pInv, int *phOut)
{
    *phOut = -1;
    std::vector<std::string> vWords = pSession->vModuleWrapper;
    if (!vWords.empty())
        vWords[0] = FindProgram(vWords[0]);
    vWords.insert(vWords.end(), pInv->vArgv.begin(), pInv->vArgv.end());
    std::vector<char *> vArgv;
    vArgv.reserve(vWords.size() + 1);
    for (std::string &s : vWords)
        vArgv.push_back(&s[0]);
    vArgv.push_back(nullptr);
    std::vector<std::string> vEnvText = ModuleEnvironment(pSession->broker.sPipeDir);
    std::vector<char *> vEnv;
    vEnv.reserve(vEnvText.size() + 1);
    for (std::string &s : vEnvText)
        vEnv.push_back(&s[0]);
    vEnv.push_back(nullptr);

    /* A program that cannot be run is reported before any child exists:
     * under an emulator that makes the spawn a plain fork (qemu-user), a
     * failed exec would otherwise only show as exit status 127. */
    int aiOut[2] = { -1, -1 };
    int iErr = vWords.empty() ? EINVAL : access(vArgv[0], X_OK) != 0 ? errno : 0;
    if (iErr == 0 && pipe2(aiOut, O_CLOEXEC) != 0)
        iErr = errno;
    pid_t pid = -1;
    if (iErr == 0)
        iErr = Spawn(vArgv, vEnv, aiOut[1], &pid);
    if (aiOut[1] >= 0)
        close(aiOut[1]);
    if (iErr != 0) {
        if (aiOut[0] >= 0)
            close(aiOut[0]);
        pInv->bStartFailed = 1;
        if (!vWords.empty())
            pInv->sModuleOutput = std::string("cannot start ") + vWords[0] + ": " + strerror(iErr);
        return -1;
    }
    fcntl(aiOut[0], F_SETFL, O_NONBLOCK);
    fcntl(aiOut[0], F_SETPIPE_SZ, PEERS_OUTPUT_READS * 4096); /* one round's reads; else 64 KiB */
    *phOut = aiOut[0];
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

/* Ends what is left of the process group lGroup once its leader (the process
 * started) has ended or must end: the leader is reaped only afterwards, so
 * the group's number cannot have passed to somebody else meanwhile. */
static void EndGroup(PeersInvocation *pInv, long lGroup)
{
    kill(-(pid_t)lGroup, SIGKILL);
    int iStatus = 0;
    while (waitpid((pid_t)lGroup, &iStatus, 0) < 0 && errno == EINTR)
        ;
    RecordStatus(pInv, iStatus);
}

/* 1 when the process lPid (our child) has ended; it is left unreaped. */
static int HasEnded(long lPid)
{
    siginfo_t si;
    memset(&si, 0, sizeof si);
    return waitid(P_PID, (id_t)lPid, &si, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           si.si_pid == (pid_t)lPid;
}

/* Serves the peers until the process lPid started for the module ends (then
 * the rest of its group is killed), or kills its group at the time limit
 * (--limit 0: none) or on an interruption; takes its output from hOut on the
 * way. Returns 0 ended, 2 killed. */
static int ServeUntilEnd(PeersSession *pSession, PeersInvocation *pInv, long lPid, int hPidFd,
                         int hOut, int iStopsBefore)
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
        DrainOutput(hOut, pInv);
        unsigned long long ullNow = PeersNowMs();
        PeersEngineTick(pEngine, ullNow);
        if (g_iPeersStopRequested && pInv->bStartupNote) { /* a person asked (SIGUSR1) */
            g_iPeersStopRequested = 0;
            PeersObserveText("  asking the module to stop testing\n");
            PeersEngineSendStop(pEngine, pInv->lPid);
        }
        if (HasEnded(lPid)) {
            EndGroup(pInv, lPid);
            return 0;
        }
        int bOverLimit =
            pSession->opt.iModuleLimitMs > 0 &&
            ullNow - pInv->ullStartMs > (unsigned long long)pSession->opt.iModuleLimitMs;
        if (bOverLimit || g_iPeersInterrupted) {
            EndGroup(pInv, lPid);
            pInv->bKilled = 1;
            pInv->bInterrupted = g_iPeersInterrupted ? 1 : 0;
            return 2;
        }
    }
}

/* After the module ended: takes what it wrote last and forgets it. */
static void TakeLastWords(PeersSession *pSession, PeersInvocation *pInv, int iStopsBefore)
{
    long lPid = pInv->lPid; /* the module itself (behind a wrapper: not the one started) */
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
    int hOut = -1;
    long lPid = g_iPeersInterrupted ? -1 : StartModule(pSession, pInv, &hOut);
    if (lPid < 0) {
        pInv->ullEndMs = PeersNowMs();
        pEngine->pCur = nullptr;
        return 1;
    }
    pInv->lPid = pInv->lGroup = lPid;
    int iStopsBefore = pSession->broker.iStops;
    int hPidFd = OpenPidFd(lPid);
    int iRc = ServeUntilEnd(pSession, pInv, lPid, hPidFd, hOut, iStopsBefore);
    if (hPidFd >= 0)
        close(hPidFd);
    TakeLastWords(pSession, pInv, iStopsBefore);
    DrainOutput(hOut, pInv);
    close(hOut);
    pInv->ullEndMs = PeersNowMs();
    pEngine->pCur = nullptr;
    pEngine->vPending.clear();
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
