/* hostile-paths.cpp - end to end: the real module started in a pipe directory
 * where something hostile stands at its FIFO names (files, links, directories,
 * device nodes, FIFOs of another user or too open), or stopped by a signal
 * while its own FIFO exists. Each case checks the exit status or signal, the
 * time taken, the module's CPU time and the files afterwards. */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/peers-run.h"
#include "common/test-peer.h"

using e2e::TempDir;
using zolttest::NowSeconds;

namespace {

const std::string s_sIni = ZOLT_BIN "/zoltcpu.ini";

/* A module process started behind a gate: its pid is known (so its FIFO name
 * can be planted) before it runs. */
struct Module {
    pid_t pid = -1;
    int hGate = -1;
    double dStart = 0;
    int iExit = -1, iSignal = 0;
    double dSeconds = 0, dCpuSeconds = -1;

    /* bIgnoreHup: the module inherits SIGHUP as ignored. */
    void Spawn(const std::string &sPipeDir, const std::string &sBrokerFifo, const char *szCwd,
               bool bIgnoreHup = false)
    {
        int aiGate[2];
        ASSERT_EQ(pipe(aiGate), 0);
        ASSERT_GE(pid = fork(), 0);
        if (pid == 0) {
            char c;
            close(aiGate[1]);
            if (read(aiGate[0], &c, 1) != 1 || chdir(szCwd) != 0)
                _exit(126);
            int hNull = open("/dev/null", O_RDWR);
            dup2(hNull, 1);
            dup2(hNull, 2);
            setenv("ZOLT_PATH", sPipeDir.c_str(), 1);
            unsetenv("ZOLT_TMP");
            if (bIgnoreHup)
                signal(SIGHUP, SIG_IGN);
            std::string sDef = "deffile=" + s_sIni, sFifo = "sfifo=" + sBrokerFifo;
            execl(ZOLT_BIN "/zoltcpu.linux", "zoltcpu.linux", "run", "device=0", "test=0",
                  sDef.c_str(), sFifo.c_str(), (char *)NULL);
            _exit(127);
        }
        close(aiGate[0]);
        hGate = aiGate[1];
    }
    void Go()
    {
        dStart = NowSeconds();
        ASSERT_EQ(write(hGate, "g", 1), 1);
        close(hGate);
        hGate = -1;
    }
    std::string OwnFifo(const std::string &sPipeDir) const
    {
        return sPipeDir + "/ZOLT_" + std::to_string(pid);
    }
    /* Waits for the end; the CPU time (user + system) is read from
     * /proc/<pid>/stat while the process is still a zombie. */
    void Finish()
    {
        siginfo_t si;
        if (hGate >= 0)
            Go();
        ASSERT_EQ(waitid(P_PID, (id_t)pid, &si, WEXITED | WNOWAIT), 0);
        dSeconds = NowSeconds() - dStart;
        dCpuSeconds = zolttest::ProcessCpuSeconds(pid, true);
        int iStatus = 0;
        ASSERT_EQ(waitpid(pid, &iStatus, 0), pid);
        iExit = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
        iSignal = WIFSIGNALED(iStatus) ? WTERMSIG(iStatus) : 0;
        pid = -1;
    }
    ~Module()
    {
        if (hGate >= 0)
            close(hGate);
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, NULL, 0);
        }
    }
};

/* What a file looks like, compared before and after a run: the entry itself
 * (never followed), a link's target, a regular file's bytes. */
std::string Snapshot(const std::string &sPath)
{
    struct stat st;
    if (lstat(sPath.c_str(), &st) != 0)
        return "missing";
    std::ostringstream out;
    out << st.st_dev << ':' << st.st_ino << ':' << std::oct << st.st_mode << std::dec << ':'
        << st.st_uid << ':' << st.st_size << ':' << st.st_mtim.tv_sec << '.' << st.st_mtim.tv_nsec;
    char szLink[4096];
    ssize_t n = S_ISLNK(st.st_mode) ? readlink(sPath.c_str(), szLink, sizeof szLink) : -1;
    if (n >= 0)
        out << "->" << std::string(szLink, (size_t)n);
    if (S_ISREG(st.st_mode)) {
        std::ifstream in(sPath);
        out << '=' << std::string((std::istreambuf_iterator<char>(in)), {});
    }
    return out.str();
}

/* Writes inside a file seen by inotify: any write open or change counts. */
struct WriteWatch {
    int h = -1;
    explicit WriteWatch(const std::string &sPath)
    {
        h = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (h >= 0)
            inotify_add_watch(h, sPath.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB);
    }
    int Events() const
    {
        char aBuf[4096];
        ssize_t n = read(h, aBuf, sizeof aBuf);
        return n > 0 ? (int)n : 0;
    }
    ~WriteWatch()
    {
        if (h >= 0)
            close(h);
    }
};

/* A pipe directory with a live broker FIFO whose read end the test holds. */
struct Pipes {
    TempDir dir, cwd, victims;
    std::string sBroker;
    int hBroker = -1;
    void Open()
    {
        ASSERT_FALSE(dir.sPath.empty() || cwd.sPath.empty() || victims.sPath.empty());
        sBroker = dir.sPath + "/ZOLTFIFO";
        ASSERT_EQ(mkfifo(sBroker.c_str(), 0600), 0);
        ASSERT_GE(hBroker = open(sBroker.c_str(), O_RDONLY | O_NONBLOCK), 0);
    }
    /* Bytes that reached the broker FIFO (the module has ended). */
    std::string Received() const
    {
        std::string s;
        char aBuf[4096];
        ssize_t n;
        while ((n = read(hBroker, aBuf, sizeof aBuf)) > 0)
            s.append(aBuf, (size_t)n);
        return s;
    }
    ~Pipes()
    {
        if (hBroker >= 0)
            close(hBroker);
    }
};

std::string WriteVictim(const std::string &sPath)
{
    std::ofstream(sPath) << "precious bytes that no module may overwrite\n";
    return sPath;
}

/* Runs fn in a child that has become user nobody; true when it returned 0. */
bool AsNobody(const std::function<int()> &fn)
{
    struct passwd *pw = getpwnam("nobody");
    pid_t pid = pw != nullptr ? fork() : -1;
    if (pid == 0)
        _exit(setgroups(0, nullptr) != 0 || setgid(pw->pw_gid) != 0 || setuid(pw->pw_uid) != 0
                  ? 99
                  : fn());
    int iStatus = -1;
    return pid > 0 && waitpid(pid, &iStatus, 0) == pid && WIFEXITED(iStatus) &&
           WEXITSTATUS(iStatus) == 0;
}

/* A refused start: status 29 at once (well before the 10 s acknowledgement
 * wait), next to no CPU time. */
void ExpectQuickRefusal(const Module &m)
{
    EXPECT_EQ(m.iSignal, 0);
    EXPECT_EQ(m.iExit, 29);
    EXPECT_LT(m.dSeconds, 5.0);
    EXPECT_GE(m.dCpuSeconds, 0.0);
    EXPECT_LT(m.dCpuSeconds, 1.0);
}

}  // namespace

TEST(HostilePaths, BrokerNameThatIsNoFifoIsNeitherOpenedNorWritten)
{
    struct {
        const char *szWhat;
        /* plants the broker name in sDir; returns the victim to watch */
        std::function<std::string(const std::string &sName, const std::string &sVictims)> plant;
    } aCases[] = {
        { "regular file",
          [](const std::string &n, const std::string &) { return WriteVictim(n); } },
        { "link to a regular file",
          [](const std::string &n, const std::string &v) {
              return symlink(WriteVictim(v + "/file").c_str(), n.c_str()) == 0 ? v + "/file" : "";
          } },
        { "directory", [](const std::string &n,
                          const std::string &) { return mkdir(n.c_str(), 0755) ? "" : n; } },
        { "device node",
          [](const std::string &n, const std::string &) {
              return mknod(n.c_str(), S_IFCHR | 0666, makedev(1, 3)) ? "" : n;
          } },
        { "link to a device node",
          [](const std::string &n, const std::string &v) {
              std::string sDev = v + "/null";
              return mknod(sDev.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                             symlink(sDev.c_str(), n.c_str()) == 0
                         ? sDev
                         : "";
          } },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szWhat);
        TempDir dir, cwd, victims;
        std::string sName = dir.sPath + "/ZOLTFIFO";
        std::string sVictim = c.plant(sName, victims.sPath);
        if (sVictim.empty() && errno == EPERM) {
            std::cout << "skipped " << c.szWhat << ": no right to make device nodes\n";
            continue;
        }
        ASSERT_FALSE(sVictim.empty());
        std::string sBefore = Snapshot(sVictim), sNameBefore = Snapshot(sName);
        WriteWatch watch(sVictim);
        ASSERT_GE(watch.h, 0);

        Module m;
        m.Spawn(dir.sPath, sName, cwd.sPath.c_str());
        m.Finish();
        ExpectQuickRefusal(m);
        EXPECT_EQ(Snapshot(sVictim), sBefore);
        EXPECT_EQ(Snapshot(sName), sNameBefore);
        EXPECT_EQ(watch.Events(), 0) << "opened for writing or changed";
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{ "ZOLTFIFO" });
        EXPECT_EQ(cwd.Entries(), std::vector<std::string>{});
    }
}

/* Plants something at the module's own FIFO name before it starts. */
using PlantOwn = std::function<bool(const std::string &sName, const std::string &sVictims)>;

static void ExpectOwnNameRefused(const PlantOwn &plant, const char *szWhat, bool bOpenDir = false)
{
    SCOPED_TRACE(szWhat);
    Pipes p;
    p.Open();
    ASSERT_TRUE(!bOpenDir || chmod(p.dir.sPath.c_str(), 01777) == 0); /* shared like /tmp */
    Module m;
    m.Spawn(p.dir.sPath, p.sBroker, p.cwd.sPath.c_str());
    std::string sOwn = m.OwnFifo(p.dir.sPath), sVictim = p.victims.sPath + "/file";
    WriteVictim(sVictim);
    ASSERT_TRUE(plant(sOwn, p.victims.sPath));
    std::string sBefore = Snapshot(sOwn), sVictimBefore = Snapshot(sVictim);
    WriteWatch watch(sVictim);
    std::string sOwnName = sOwn.substr(sOwn.rfind('/') + 1);

    m.Finish();
    ExpectQuickRefusal(m);
    EXPECT_EQ(Snapshot(sOwn), sBefore); /* left exactly as it was */
    EXPECT_EQ(Snapshot(sVictim), sVictimBefore);
    EXPECT_EQ(watch.Events(), 0);
    EXPECT_EQ(p.Received(), ""); /* no STARTUP names it to the broker */
    EXPECT_EQ(p.dir.Entries(), (std::vector<std::string>{ "ZOLTFIFO", sOwnName }));
}

TEST(HostilePaths, OwnFifoNameTakenByAnythingButTheModulesOwnFifoIsLeftAlone)
{
    struct {
        const char *szWhat;
        PlantOwn plant;
    } aCases[] = {
        { "regular file",
          [](const std::string &n, const std::string &) { return !WriteVictim(n).empty(); } },
        { "link to a regular file",
          [](const std::string &n, const std::string &v) {
              return symlink((v + "/file").c_str(), n.c_str()) == 0;
          } },
        { "link to a FIFO of the module's user",
          [](const std::string &n, const std::string &v) {
              return mkfifo((v + "/fifo").c_str(), 0600) == 0 &&
                     symlink((v + "/fifo").c_str(), n.c_str()) == 0;
          } },
        { "directory",
          [](const std::string &n, const std::string &) { return !mkdir(n.c_str(), 0700); } },
        { "FIFO open to everybody (0666)",
          [](const std::string &n, const std::string &) {
              return mkfifo(n.c_str(), 0600) == 0 && chmod(n.c_str(), 0666) == 0;
          } },
        { "FIFO with the set-group-id bit",
          [](const std::string &n, const std::string &) {
              return mkfifo(n.c_str(), 0600) == 0 && chmod(n.c_str(), 02660) == 0;
          } },
    };
    for (auto &c : aCases)
        ExpectOwnNameRefused(c.plant, c.szWhat);
}

TEST(HostilePaths, FifoPlantedByAnotherUserIsRefused)
{
    if (getpwnam("nobody") == nullptr || geteuid() != 0)
        GTEST_SKIP() << "needs root and a user named nobody to plant a foreign FIFO";
    for (mode_t mode : { 0666, 0660, 0600 }) {
        std::string sWhat = "FIFO of nobody, mode 0" + std::to_string(mode >> 6) +
                            std::to_string((mode >> 3) & 7) + std::to_string(mode & 7);
        ExpectOwnNameRefused(
            [mode](const std::string &n, const std::string &) {
                return AsNobody([&] {
                    umask(0);
                    return mkfifo(n.c_str(), mode);
                });
            },
            sWhat.c_str(), true);
    }
}

TEST(HostilePaths, SignalsWhileTheOwnFifoExistsRemoveItAndEndByTheSameSignal)
{
    struct {
        int iSignal;
        bool bReuse;     /* a FIFO of the module's own stood there already */
        bool bIgnoreHup; /* SIGHUP inherited as ignored: stays ignored */
    } aCases[] = {
        { SIGTERM, false, false }, { SIGINT, false, false }, { SIGHUP, false, false },
        { SIGTERM, true, false },  { SIGTERM, false, true },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(testing::Message() << strsignal(c.iSignal) << (c.bReuse ? ", reused" : "")
                                        << (c.bIgnoreHup ? ", SIGHUP ignored" : ""));
        Pipes p;
        p.Open();
        Module m;
        m.Spawn(p.dir.sPath, p.sBroker, p.cwd.sPath.c_str(), c.bIgnoreHup);
        std::string sOwn = m.OwnFifo(p.dir.sPath);
        struct stat stPlanted = {};
        ASSERT_TRUE(!c.bReuse ||
                    (mkfifo(sOwn.c_str(), 0600) == 0 && stat(sOwn.c_str(), &stPlanted) == 0));
        m.Go();

        zolttest::FrameReader r;
        std::string sStartup;
        ASSERT_EQ(r.Read(p.hBroker, 20000, &sStartup), 1) << "no STARTUP";
        EXPECT_EQ(zolttest::Field(sStartup, "READ"), sOwn);
        struct stat st;
        ASSERT_EQ(lstat(sOwn.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        EXPECT_TRUE(!c.bReuse || st.st_ino == stPlanted.st_ino);
        if (c.bIgnoreHup) {
            ASSERT_EQ(kill(m.pid, SIGHUP), 0);
            usleep(300 * 1000);
            EXPECT_EQ(waitpid(m.pid, NULL, WNOHANG), 0) << "ended by an ignored SIGHUP";
            EXPECT_EQ(access(sOwn.c_str(), F_OK), 0);
        }
        double dKill = NowSeconds();
        ASSERT_EQ(kill(m.pid, c.iSignal), 0);
        m.Finish();
        EXPECT_EQ(m.iSignal, c.iSignal);
        EXPECT_LT(NowSeconds() - dKill, 5.0);
        EXPECT_LT(m.dCpuSeconds, 1.0);
        EXPECT_EQ(p.dir.Entries(), std::vector<std::string>{ "ZOLTFIFO" });
        EXPECT_EQ(p.cwd.Entries(), std::vector<std::string>{});
    }
}

TEST(HostilePaths, MissingPipeDirectoryMakesNoFifoAnywhere)
{
    /* the directory cannot be searched, so the design's rules leave the pipe
     * directory empty: the own FIFO would land in the root directory */
    Pipes p;
    p.Open();
    Module m;
    m.Spawn(p.dir.sPath + "/missing", p.sBroker, p.cwd.sPath.c_str());
    std::string sAtRoot = "/ZOLT_" + std::to_string(m.pid);
    m.Finish();
    ExpectQuickRefusal(m);
    EXPECT_NE(access(sAtRoot.c_str(), F_OK), 0) << sAtRoot;
    EXPECT_EQ(p.Received(), "");
    EXPECT_EQ(p.dir.Entries(), std::vector<std::string>{ "ZOLTFIFO" });
    EXPECT_EQ(p.cwd.Entries(), std::vector<std::string>{});
}

/* ---- zoltpeers as root: nothing touched at a path it did not make ---- */

TEST(HostilePaths, PeersRefuseWhatOthersControlInOneLineBeforeAnyModuleRuns)
{
    struct passwd *pw = getpwnam("nobody");
    if (pw == nullptr || geteuid() != 0)
        GTEST_SKIP() << "needs root and a user named nobody";
    TempDir dir;
    const std::string d = dir.sPath, sBase = d + "/base";
    /* a real copy of the definitions, named by a path of 285 characters */
    const std::string sLong = d + std::string(274 - d.size(), '/') + "zoltcpu.ini";
    std::ofstream(d + "/zoltcpu.ini") << std::ifstream(s_sIni).rdbuf();
    auto MakeDir = [](const std::string &s, mode_t mode) {
        return mkdir(s.c_str(), 0700) == 0 && chmod(s.c_str(), mode) == 0;
    };
    ASSERT_TRUE(chmod(d.c_str(), 0755) == 0 && MakeDir(sBase, 0700) && MakeDir(d + "/open", 0777) &&
                MakeDir(d + "/theirs", 0755) &&
                lchown((d + "/theirs").c_str(), pw->pw_uid, 0) == 0 &&
                MakeDir(d + "/sgid", 02770) && chown((d + "/sgid").c_str(), 0, pw->pw_gid) == 0 &&
                MakeDir(d + "/shared", 01777) && mkfifo((d + "/fifo").c_str(), 0600) == 0 &&
                symlink(WriteVictim(d + "/victim").c_str(), (d + "/link").c_str()) == 0 &&
                truncate(WriteVictim(d + "/big").c_str(), 70000) == 0 && AsNobody([&] {
                    umask(0); /* nobody's file, open to all, in a shared folder */
                    return WriteVictim(d + "/shared/log").empty();
                }));
    struct {
        const char *szOption; /* TMPDIR: the environment, as sudo -E keeps it */
        std::string sPath;
        const char *szReason;
    } aCases[] = {
        { "--pipe-base", d + "/open", "no sticky bit" },
        { "--pipe-base", d + "/theirs", "belongs to user 65534" },
        { "TMPDIR", d + "/sgid", "no sticky bit" }, /* set-group-id, group-writable */
        { "--log", d + "/shared/log", "belongs to user 65534" },
        { "--log", d + "/fifo", "it is a FIFO" },
        { "--log", d + "/link", "symbolic link" },
        { "--deffile", d + "/fifo", "it is a FIFO" },
        { "--deffile", "/dev/zero", "device node" },
        { "--deffile", d + "/big", "70000 bytes" },
        { "--deffile", sLong, "285 characters" },
        { "--pipe-base", d + std::string(222 - d.size(), '/') + "base", "226 characters" },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.sPath);
        std::string sBefore = Snapshot(c.sPath);
        bool bEnv = strcmp(c.szOption, "TMPDIR") == 0;
        std::vector<std::string> vArgs = { ZOLT_BIN "/zoltpeers", "enumerate" };
        if (!bEnv)
            vArgs.insert(vArgs.begin() + 1, { c.szOption, c.sPath });
        double dStart = NowSeconds();
        e2e::ChildRun r =
            e2e::RunChild(vArgs, { "TMPDIR=" + (bEnv ? c.sPath : sBase) }, nullptr, true);
        EXPECT_LT(NowSeconds() - dStart, 5.0);
        EXPECT_EQ(r.iExit, 2);
        EXPECT_EQ(r.sOut.rfind("zoltpeers: refusing ", 0), 0u) << r.sOut;
        EXPECT_EQ(r.sOut.find('\n'), r.sOut.size() - 1) << "one line: " << r.sOut;
        EXPECT_NE(r.sOut.find(" " + c.sPath + ": "), std::string::npos) << r.sOut;
        EXPECT_NE(r.sOut.find(c.szReason), std::string::npos) << r.sOut;
        EXPECT_EQ(Snapshot(c.sPath), sBefore);
        for (const std::string &s : { sBase, c.sPath }) /* nothing made, no module started */
            EXPECT_EQ(e2e::RunChild({ "/bin/ls", "-A", s }).sOut.find("zoltpeers."),
                      std::string::npos);
    }
}

TEST(HostilePaths, PeersPrivateDirectoryIsHeldFromCreationToRemoval)
{
    if (getpwnam("nobody") == nullptr || geteuid() != 0)
        GTEST_SKIP() << "needs root and a user named nobody";
    TempDir dir;
    const std::string d = dir.sPath, sBase = d + "/base", sVictims = d + "/victims";
    ASSERT_EQ(chmod(d.c_str(), 0755), 0);
    /* shared like /tmp, and set-group-id to a group of others */
    ASSERT_TRUE(mkdir(sBase.c_str(), 0700) == 0 && chmod(sBase.c_str(), 03777) == 0 &&
                chown(sBase.c_str(), 0, 65534) == 0 && mkdir(sVictims.c_str(), 0700) == 0);
    std::string sVictim = WriteVictim(sVictims + "/root-only"), sBefore = Snapshot(sVictim);
    /* the module: says what it finds, lets nobody try to rename its directory,
     * then does so itself and puts a link to the victims in its place */
    std::ofstream(d + "/probe")
        << "#!/bin/sh\nstat -c '%a %g' \"$ZOLT_PATH\" \"$ZOLT_PATH/ZOLTFIFO\"\n"
           "setpriv --reuid=65534 --regid=65534 --clear-groups mv "
           "\"$ZOLT_PATH\" \"$ZOLT_PATH.x\" 2>/dev/null || echo kept\n"
           "mv \"$ZOLT_PATH\" \"$ZOLT_PATH.moved\" && ln -s "
        << sVictims << " \"$ZOLT_PATH\"\n";
    ASSERT_EQ(chmod((d + "/probe").c_str(), 0755), 0);
    e2e::PeersRun r = e2e::RunPeers(
        { "--module", d + "/probe", "--deffile", s_sIni, "--pipe-base", sBase, "enumerate" });
    EXPECT_EQ(e2e::Str(e2e::ResultOf(r, "enumerate"), "module_output"), "700 0\n600 0\nkept\n");
    EXPECT_EQ(Snapshot(sVictim), sBefore);
    /* left: the link (not followed) and the moved directory, emptied */
    std::istringstream left(e2e::RunChild({ "/bin/ls", "-A", sBase }).sOut);
    std::string sLink, sMoved;
    ASSERT_TRUE(left >> sLink >> sMoved);
    EXPECT_EQ(sMoved, sLink + ".moved");
    EXPECT_EQ(Snapshot(sBase + "/" + sLink).substr(Snapshot(sBase + "/" + sLink).find("->")),
              "->" + sVictims);
    EXPECT_EQ(e2e::RunChild({ "/bin/ls", "-A", sBase + "/" + sMoved }).sOut, "");
}

TEST(HostilePaths, PeersRecogniseAndEndAModuleBehindAForkingWrapper)
{
    /* timeout forks the module as its child: the group, not the pid, counts */
    e2e::PeersRun r = e2e::RunPeers({ "--module-wrapper", "timeout 600", "enumerate" });
    EXPECT_EQ(r.iExit, 0) << r.sAll;
    EXPECT_NE(e2e::ResultOf(r, "enumerate").find("\"startup_seen\":true"), std::string::npos);
}

TEST(HostilePaths, TraceFileIsNeverFollowedNorTakenFromAnotherUser)
{
    if (getpwnam("nobody") == nullptr || geteuid() != 0)
        GTEST_SKIP() << "needs root and a user named nobody";
    TempDir dir, pipes;
    const std::string d = dir.sPath, sTrace = d + "/shared/trace";
    ASSERT_TRUE(chmod(d.c_str(), 0755) == 0 && mkdir((d + "/shared").c_str(), 0700) == 0 &&
                chmod((d + "/shared").c_str(), 01777) == 0);
    std::string sVictim = WriteVictim(d + "/root-only");
    /* planted by nobody: a link to root's file, a FIFO, a file; nothing */
    std::function<int()> aPlant[] = { [&] { return symlink(sVictim.c_str(), sTrace.c_str()); },
                                      [&] { return mkfifo(sTrace.c_str(), 0666); },
                                      [&] { return (int)WriteVictim(sTrace).empty(); }, nullptr };
    for (auto &plant : aPlant) {
        unlink(sTrace.c_str());
        ASSERT_TRUE(!plant || AsNobody(plant));
        std::string sBefore = Snapshot(sTrace), sVictimBefore = Snapshot(sVictim);
        SCOPED_TRACE(sBefore);
        double dStart = NowSeconds();
        e2e::ChildRun r = e2e::RunChild({ ZOLT_BIN "/zoltcpu.linux", "run", "device=0", "test=0",
                                          "deffile=" + s_sIni, "sfifo=" + pipes.sPath + "/none" },
                                        { "ZOLT_PATH=" + pipes.sPath, "ZOLT_TMP=", "ZOLT_TRACE=all",
                                          "ZOLT_TRACE_FILE=" + sTrace },
                                        nullptr, true); /* refused: the lines go to stderr */
        EXPECT_EQ(r.iExit, 29);
        EXPECT_LT(NowSeconds() - dStart, 5.0);
        EXPECT_EQ(Snapshot(sVictim), sVictimBefore);
        struct stat st;
        if (plant) {
            EXPECT_EQ(Snapshot(sTrace), sBefore);
        } else { /* a new one: 0600 although the module's umask may be 0 */
            ASSERT_EQ(lstat(sTrace.c_str(), &st), 0);
            EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_uid == 0 && st.st_size > 0);
            EXPECT_EQ(st.st_mode & 07777, 0600u);
        }
    }
}
