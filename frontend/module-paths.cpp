/* module-paths.cpp - where zoltpeers finds the module and its definitions
 * file when none is given, and the module's version line (what it prints when
 * started without arguments). */
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli.h"

/* The folder szRel names relative to sBase, dot-dot steps taken off sBase's
 * end so that reports show a plain path; an absolute szRel stands alone. */
static std::string JoinFolder(const std::string &sBase, const char *szRel)
{
    if (szRel[0] == '/')
        return szRel;
    std::string sOut = sBase, sPart;
    std::istringstream parts(szRel);
    while (std::getline(parts, sPart, '/')) {
        if (sPart.empty() || sPart == ".")
            continue;
        size_t uSlash = sOut.rfind('/');
        std::string sLast = uSlash == std::string::npos ? sOut : sOut.substr(uSlash + 1);
        if (sPart == ".." && sOut != "/" && sLast != "." && sLast != "..")
            sOut = uSlash == std::string::npos ? "." : (uSlash == 0 ? "/" : sOut.substr(0, uSlash));
        else
            sOut += (sOut.back() == '/' ? "" : "/") + sPart;
    }
    return sOut;
}

/* The folders that may hold the module, in the order they are searched: the
 * running program's own folder (/proc/self/exe; a build tree keeps all three
 * files in bin/), then the installed module folder relative to it. */
static std::vector<std::string> ModuleFolders()
{
    char szExe[PATH_MAX];
    ssize_t iLen = readlink("/proc/self/exe", szExe, sizeof szExe - 1);
    std::string sDir = ".";
    if (iLen > 0) {
        szExe[iLen] = '\0';
        char *pSlash = strrchr(szExe, '/');
        if (pSlash != nullptr) {
            *pSlash = '\0';
            sDir = szExe[0] ? szExe : "/";
        }
    }
    std::vector<std::string> vDirs = { sDir };
    std::string sInstalled = JoinFolder(sDir, ZOLT_PEERS_MODULE_RELDIR);
    if (sInstalled != sDir)
        vDirs.push_back(sInstalled);
    return vDirs;
}

/* Fills empty module and definitions paths. The module is the first
 * executable zoltcpu.linux of ModuleFolders(), and the definitions file is
 * zoltcpu.ini from the module's folder (also for a module given by --module)
 * when it is there. Otherwise (an installed
 * tree keeps it in its data folder) it is the first readable zoltcpu.ini of
 * those folders and the data folder (else the one beside the program).
 * Returns 0, or 2 when no module was given and none was found: *psLooked then
 * lists the paths tried. */
int PeersDefaultPaths(PeersCommand *pCmd, std::string *psLooked)
{
    std::vector<std::string> vDirs = ModuleFolders();
    psLooked->clear();
    if (pCmd->sModule.empty()) {
        for (const std::string &sDir : vDirs) {
            std::string sPath = sDir + "/zoltcpu.linux";
            *psLooked += (psLooked->empty() ? "" : ", ") + sPath;
            if (access(sPath.c_str(), X_OK) == 0) {
                pCmd->sModule = sPath;
                if (pCmd->sDefFile.empty() && access((sDir + "/zoltcpu.ini").c_str(), R_OK) == 0)
                    pCmd->sDefFile = sDir + "/zoltcpu.ini";
                break;
            }
        }
        if (pCmd->sModule.empty())
            return 2;
    }
    /* a module given by path: the definitions file beside it comes first */
    size_t uSlash = pCmd->sModule.rfind('/');
    std::string sBeside = uSlash == std::string::npos
                              ? "./zoltcpu.ini"
                              : pCmd->sModule.substr(0, uSlash + 1) + "zoltcpu.ini";
    if (pCmd->sDefFile.empty() && access(sBeside.c_str(), R_OK) == 0)
        pCmd->sDefFile = sBeside;
    vDirs.push_back(JoinFolder(vDirs[0], ZOLT_PEERS_DATA_RELDIR));
    for (size_t i = 0; i < vDirs.size() && pCmd->sDefFile.empty(); i++)
        if (access((vDirs[i] + "/zoltcpu.ini").c_str(), R_OK) == 0)
            pCmd->sDefFile = vDirs[i] + "/zoltcpu.ini";
    if (pCmd->sDefFile.empty())
        pCmd->sDefFile = vDirs[0] + "/zoltcpu.ini";
    return 0;
}

/* How long the module may take to print its version. */
#define PEERS_VERSION_WAIT_MS 5000

/* Starts sModule without arguments, its standard error (and output) into a
 * pipe. Returns the child's pid (or -1) and the read end in *phRead. */
static pid_t StartForVersion(const std::string &sModule, int *phRead)
{
    int aiPipe[2];
    if (pipe2(aiPipe, O_CLOEXEC) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        int hNull = open("/dev/null", O_RDONLY);
        if (hNull >= 0)
            dup2(hNull, 0);
        dup2(aiPipe[1], 1);
        dup2(aiPipe[1], 2);
        execl(sModule.c_str(), sModule.c_str(), (char *)nullptr);
        _exit(127);
    }
    close(aiPipe[1]);
    if (pid < 0)
        close(aiPipe[0]);
    *phRead = aiPipe[0];
    return pid;
}

/* The first line the module prints without arguments (its name and version),
 * or "" when it could not be run or said nothing in time. */
std::string PeersModuleVersion(const std::string &sModule)
{
    int hRead = -1;
    pid_t pid = StartForVersion(sModule, &hRead);
    if (pid < 0)
        return "";
    std::string sOut;
    unsigned long long ullEnd = PeersNowMs() + PEERS_VERSION_WAIT_MS;
    char acBuf[512];
    while (sOut.size() < 4096 && PeersNowMs() < ullEnd) {
        struct pollfd pfd = { hRead, POLLIN, 0 };
        if (poll(&pfd, 1, 100) <= 0)
            continue;
        ssize_t iGot = read(hRead, acBuf, sizeof acBuf);
        if (iGot <= 0)
            break;
        sOut.append(acBuf, (size_t)iGot);
    }
    close(hRead);
    kill(pid, SIGKILL); /* it has ended already, or it hangs */
    int iStatus = 0;
    waitpid(pid, &iStatus, 0);
    if (WIFEXITED(iStatus) && WEXITSTATUS(iStatus) == 127)
        return "";
    sOut = sOut.substr(0, sOut.find('\n'));
    return sOut;
}
