/* hostile-paths.cpp - end to end: the real module started in a pipe directory
 * where something hostile stands at its FIFO names (files, links, directories,
 * device nodes, FIFOs of another user or too open), stopped by a signal while
 * its own FIFO exists, or given a trace file another user planted; zoltpeers
 * as root given paths others control. Each case checks the exit status or
 * signal, the time taken, the module's CPU time and the files afterwards. */
#include <gtest/gtest.h>

#include <grp.h>
#include <pwd.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/sysmacros.h>

#include <functional>
#include <iostream>

#include "common/read-file.h"
#include "common/test-peer.h"
#include "e2e/peers-run.h"

using e2e::TempDir;
using zolttest::NowSeconds;

namespace {

const std::string s_sIni = ZOLT_BIN "/zoltcpu.ini";

/* A pipe directory shared like /tmp with a live broker FIFO whose read end the
 * test holds, also the working directory, a folder for victims, and the module
 * started stopped (SIGSTOP before its exec): its pid, so its own FIFO's name,
 * is known before it runs. */
struct Module {
    TempDir dir, victims;
    std::string sBroker = dir.sPath + "/ZOLTFIFO";
    pid_t pid = -1;
    int hBroker = -1, iExit = -1, iSignal = 0;
    double dCpuSeconds = -1;

    /* sTrace: the module's trace file ("": none). */
    void Spawn(const std::string &sPipeDir, const std::string &sBrokerName,
               const std::string &sTrace = "")
    {
        int iStatus = 0;
        ASSERT_TRUE(chmod(dir.sPath.c_str(), 01777) == 0 && mkfifo(sBroker.c_str(), 0600) == 0 &&
                    (hBroker = open(sBroker.c_str(), O_RDONLY | O_NONBLOCK)) >= 0 &&
                    (pid = fork()) >= 0);
        if (pid == 0) {
            int hNull = open("/dev/null", O_RDWR);
            if (raise(SIGSTOP) != 0 || chdir(dir.sPath.c_str()) != 0 || dup2(hNull, 1) < 0 ||
                dup2(hNull, 2) < 0)
                _exit(126);
            setenv("ZOLT_PATH", sPipeDir.c_str(), 1);
            setenv("ZOLT_TRACE", sTrace.empty() ? "" : "all", 1);
            setenv("ZOLT_TRACE_FILE", sTrace.c_str(), 1);
            unsetenv("ZOLT_TMP");
            std::string sDef = "deffile=" + s_sIni, sFifo = "sfifo=" + sBrokerName;
            execl(ZOLT_BIN "/zoltcpu.linux", "zoltcpu.linux", "run", "device=0", "test=0",
                  sDef.c_str(), sFifo.c_str(), (char *)NULL);
            _exit(127);
        }
        ASSERT_EQ(waitpid(pid, &iStatus, WUNTRACED), pid);
        ASSERT_TRUE(WIFSTOPPED(iStatus));
    }
    std::string OwnFifo() const
    {
        return dir.sPath + "/ZOLT_" + std::to_string(pid);
    }
    /* Lets the module go on and waits for its end: status or signal, CPU seconds. */
    void Finish()
    {
        int iStatus = 0;
        struct rusage ru;
        kill(pid, SIGCONT);
        ASSERT_EQ(wait4(pid, &iStatus, 0, &ru), pid);
        dCpuSeconds = (double)(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                      (double)(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
        iExit = WIFEXITED(iStatus) ? WEXITSTATUS(iStatus) : -1;
        iSignal = WIFSIGNALED(iStatus) ? WTERMSIG(iStatus) : 0;
        pid = -1;
    }
    ~Module()
    {
        if (pid > 0 && kill(pid, SIGKILL) == 0)
            waitpid(pid, NULL, 0);
        if (hBroker >= 0)
            close(hBroker);
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
    if (S_ISREG(st.st_mode))
        out << '=' << zolttest::ReadFile(sPath);
    return out.str();
}

/* Writes inside the watched files (followed through links) seen by inotify:
 * any open for writing or change is an event to read from h. */
struct WriteWatch {
    int h = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    bool Add(const std::string &sPath)
    {
        return inotify_add_watch(h, sPath.c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB) >= 0;
    }
    ~WriteWatch()
    {
        close(h);
    }
};

/* A directory of the given mode and owner. */
bool MakeDir(const std::string &sPath, mode_t mode, uid_t uid = 0, gid_t gid = 0)
{
    return mkdir(sPath.c_str(), 0700) == 0 && chmod(sPath.c_str(), mode) == 0 &&
           chown(sPath.c_str(), uid, gid) == 0;
}

/* Puts at sName what cKind names: 'f' a file, 'd' a directory, 'q' a FIFO of
 * the given mode, 'c' a device node like /dev/null; or a link to sVictims'
 * "file" ('l'), to a FIFO ('p') or to a device node ('C') made there. True
 * when done. */
bool Plant(char cKind, mode_t mode, const std::string &sName, const std::string &sVictims)
{
    switch (cKind) {
    case 'f':
        return (bool)(std::ofstream(sName) << "precious bytes that no module may overwrite\n");
    case 'd':
        return mkdir(sName.c_str(), 0700) == 0;
    case 'q':
        return mkfifo(sName.c_str(), 0600) == 0 && chmod(sName.c_str(), mode) == 0;
    case 'c':
        return mknod(sName.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    }
    std::string sTarget = sVictims + (cKind == 'l' ? "/file" : "/node");
    return (cKind == 'l' || Plant(cKind == 'p' ? 'q' : 'c', 0600, sTarget, sVictims)) &&
           symlink(sTarget.c_str(), sName.c_str()) == 0;
}

bool CanBeNobody()
{
    return getpwnam("nobody") != nullptr && geteuid() == 0;
}

/* Runs fn in a child that has become user nobody; true when fn returned true. */
bool AsNobody(const std::function<bool()> &fn)
{
    struct passwd *pw = getpwnam("nobody");
    pid_t pid = pw != nullptr ? fork() : -1;
    if (pid == 0)
        _exit(setgroups(0, nullptr) != 0 || setgid(pw->pw_gid) != 0 || setuid(pw->pw_uid) != 0
                  ? 99
                  : !fn());
    int iStatus = -1;
    return pid > 0 && waitpid(pid, &iStatus, 0) == pid && WIFEXITED(iStatus) &&
           WEXITSTATUS(iStatus) == 0;
}

}  // namespace

/* Whatever stands at a FIFO name but the module's own FIFO (or its broker's),
 * or at its trace file's name but its user's plain file, is left exactly as it
 * was: status 29 at once (well before the 10 s acknowledgement wait), next to
 * no CPU time, nothing opened for writing, no STARTUP naming it to the broker,
 * nothing made beside it. */
TEST(HostilePaths, ModuleLeavesAloneWhatOthersPlantedAtItsPaths)
{
    struct {
        const char *szWhat;
        char cWhere; /* 'b' the broker's name, 'o' the own FIFO's, 'm' none: no pipe
                      * directory, 't' the trace file's (no broker then) */
        char cKind;  /* what is planted (see Plant) */
        mode_t mode;
        bool bNobody; /* planted by user nobody */
    } aCases[] = {
        { "broker: regular file", 'b', 'f', 0, false },
        { "broker: link to a regular file", 'b', 'l', 0, false },
        { "broker: directory", 'b', 'd', 0, false },
        { "broker: device node", 'b', 'c', 0, false },
        { "broker: link to a device node", 'b', 'C', 0, false },
        { "broker: FIFO nobody reads", 'b', 'q', 0660, false },
        { "own: regular file", 'o', 'f', 0, false },
        { "own: link to a regular file", 'o', 'l', 0, false },
        { "own: link to a FIFO of the module's user", 'o', 'p', 0, false },
        { "own: directory", 'o', 'd', 0, false },
        { "own: FIFO open to everybody", 'o', 'q', 0666, false },
        { "own: FIFO with the set-group-id bit", 'o', 'q', 02660, false },
        { "own: FIFO of nobody, 0666", 'o', 'q', 0666, true },
        { "own: FIFO of nobody, 0660", 'o', 'q', 0660, true },
        { "own: FIFO of nobody, 0600", 'o', 'q', 0600, true },
        /* a directory that cannot be searched leaves the pipe directory
         * empty: the own FIFO would land in the root directory */
        { "no pipe directory", 'm', 0, 0, false },
        { "trace: link to root's file", 't', 'l', 0, true },
        { "trace: FIFO", 't', 'q', 0666, true },
        { "trace: file of nobody", 't', 'f', 0, true },
        { "trace: nothing, a new file is made with mode 0600", 't', 0, 0, false },
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.szWhat);
        Module m;
        ASSERT_TRUE(Plant('f', 0, m.victims.sPath + "/file", "")); /* what links lead to */
        std::string sBroker = m.dir.sPath + (c.cWhere == 'b' ? "/ZOLTFIFO.b" : "/ZOLTFIFO"),
                    sTrace = c.cWhere == 't' ? m.dir.sPath + "/trace" : "";
        m.Spawn(m.dir.sPath + (c.cWhere == 'm' ? "/missing" : ""),
                c.cWhere == 't' ? m.dir.sPath + "/none" : sBroker, sTrace);
        std::string sName = c.cWhere == 'b'   ? sBroker
                            : c.cWhere == 'o' ? m.OwnFifo()
                            : c.cWhere == 't' ? sTrace
                                              : "/ZOLT_" + std::to_string(m.pid);
        auto plant = [&] { return Plant(c.cKind, c.mode, sName, m.victims.sPath); };
        bool bPlanted = c.cKind == 0 || (c.bNobody ? CanBeNobody() && AsNobody(plant) : plant());
        if (!bPlanted && (c.bNobody ? !CanBeNobody() : errno == EPERM && toupper(c.cKind) == 'C')) {
            std::cout << "skipped " << c.szWhat << ": needs root, a user named nobody and the "
                      << "right to make device nodes\n";
            continue;
        }
        ASSERT_TRUE(bPlanted);
        std::string sBefore = Snapshot(sName);
        WriteWatch watch; /* through a link: on what it leads to */
        ASSERT_TRUE(c.cKind == 0 || watch.Add(sName));

        double dStart = NowSeconds();
        m.Finish();
        EXPECT_EQ(m.iSignal, 0);
        EXPECT_EQ(m.iExit, 29);
        EXPECT_LT(NowSeconds() - dStart, 5.0);
        EXPECT_LT(m.dCpuSeconds, 1.0);
        struct stat st;
        if (c.cWhere == 't' && c.cKind == 0) /* its own, 0600 although its umask may be 0 */
            EXPECT_TRUE(lstat(sName.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
                        st.st_uid == geteuid() && (st.st_mode & 07777) == 0600)
                << Snapshot(sName);
        else
            EXPECT_EQ(Snapshot(sName), sBefore);
        char aBuf[4096];
        EXPECT_LE(read(watch.h, aBuf, sizeof aBuf), 0) << "opened for writing or changed";
        EXPECT_LE(read(m.hBroker, aBuf, 1), 0) << "the broker got a STARTUP";
        std::vector<std::string> vLeft = { "ZOLTFIFO", sName.substr(sName.rfind('/') + 1) };
        vLeft.resize(c.cWhere == 'm' ? 1 : 2); /* "ZOLTFIFO" sorts first */
        EXPECT_EQ(m.dir.Entries(), vLeft);
    }
}

TEST(HostilePaths, SignalsWhileTheOwnFifoExistsRemoveItAndEndByTheSameSignal)
{
    struct {
        int iSignal;
        bool bReuse; /* a FIFO of the module's own stood there already */
    } aCases[] = { { SIGTERM, false }, { SIGINT, false }, { SIGHUP, false }, { SIGTERM, true } };
    for (auto &c : aCases) {
        SCOPED_TRACE(testing::Message() << strsignal(c.iSignal) << (c.bReuse ? ", reused" : ""));
        Module m;
        m.Spawn(m.dir.sPath, m.sBroker);
        std::string sOwn = m.OwnFifo();
        struct stat stPlanted = {}, st;
        ASSERT_TRUE(!c.bReuse ||
                    (mkfifo(sOwn.c_str(), 0600) == 0 && stat(sOwn.c_str(), &stPlanted) == 0));
        kill(m.pid, SIGCONT);

        zolttest::FrameReader r;
        std::string sStartup;
        ASSERT_EQ(r.Read(m.hBroker, 20000, &sStartup), 1) << "no STARTUP";
        EXPECT_EQ(zolttest::Field(sStartup, "READ"), sOwn);
        ASSERT_EQ(lstat(sOwn.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode) && (!c.bReuse || st.st_ino == stPlanted.st_ino));
        double dKill = NowSeconds();
        ASSERT_EQ(kill(m.pid, c.iSignal), 0);
        m.Finish();
        EXPECT_EQ(m.iSignal, c.iSignal);
        EXPECT_LT(NowSeconds() - dKill, 5.0);
        EXPECT_LT(m.dCpuSeconds, 1.0);
        EXPECT_EQ(m.dir.Entries(), std::vector<std::string>{ "ZOLTFIFO" });
    }
}

/* ---- zoltpeers as root: nothing touched at a path it did not make ---- */

TEST(HostilePaths, PeersRefuseWhatOthersControlInOneLineBeforeAnyModuleRuns)
{
    if (!CanBeNobody())
        GTEST_SKIP() << "needs root and a user named nobody";
    TempDir dir;
    const std::string d = dir.sPath, sBase = d + "/base";
    /* a real copy of the definitions, named by a path of 285 characters */
    const std::string sLong = d + std::string(274 - d.size(), '/') + "zoltcpu.ini";
    std::ofstream(d + "/zoltcpu.ini") << std::ifstream(s_sIni).rdbuf();
    ASSERT_TRUE(chmod(d.c_str(), 0755) == 0 && MakeDir(sBase, 0700) && MakeDir(d + "/open", 0777) &&
                MakeDir(d + "/theirs", 0755, 65534) && MakeDir(d + "/sgid", 02770, 0, 65534) &&
                MakeDir(d + "/shared", 01777) && Plant('q', 0600, d + "/fifo", d) &&
                Plant('f', 0, d + "/file", "") && Plant('l', 0, d + "/link", d) &&
                Plant('f', 0, d + "/big", "") && truncate((d + "/big").c_str(), 70000) == 0 &&
                link((d + "/file").c_str(), (d + "/hard").c_str()) == 0 &&
                symlink(d.c_str(), (d + "/dirlink").c_str()) == 0 && AsNobody([&] {
                    umask(0); /* nobody's file, open to all, in a shared folder */
                    return Plant('f', 0, d + "/shared/log", d);
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
        { "--output", d + "/link", "symbolic link" },
        { "--output", d + "/hard", "has 2 hard links" },
        { "--output", d + "/open/r.json", "its folder: other users may write" },
        { "--output", d + "/theirs/r.json", "its folder: it belongs to user 65534" },
        { "--output", d + "/shared/log", "it belongs to user 65534" },
        { "--output", d + "/dirlink/r.json", "symbolic link or not a folder" },
        { "--output", "/dev/null", "not a regular file" },
        { "--metrics-file", d + "/link", "symbolic link" },
    };
    const std::string sVictim = Snapshot(d + "/file"); /* behind the links */
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
        /* nothing made (no private folder, no temporary result), no module started */
        for (const std::string &s : { sBase, c.sPath, c.sPath.substr(0, c.sPath.rfind('/')) })
            for (const std::string &sName : zolttest::DirNames(s))
                EXPECT_NE(sName.rfind("zoltpeers.", 0), 0u) << s << "/" << sName;
    }
    EXPECT_EQ(Snapshot(d + "/file"), sVictim);
    /* a sticky folder such as /tmp is safe for a new result file */
    e2e::ChildRun ok =
        e2e::RunChild({ ZOLT_BIN "/zoltpeers", "--output", d + "/shared/r.txt", "enumerate" },
                      { "TMPDIR=" + sBase }, nullptr, true);
    EXPECT_EQ(ok.iExit, 0) << ok.sOut;
    EXPECT_NE(zolttest::ReadFile(d + "/shared/r.txt").find("device 0"), std::string::npos);
}

TEST(HostilePaths, PeersPrivateDirectoryIsHeldFromCreationToRemoval)
{
    if (!CanBeNobody())
        GTEST_SKIP() << "needs root and a user named nobody";
    TempDir dir;
    const std::string d = dir.sPath, sBase = d + "/base", sVictims = d + "/victims";
    /* the base shared like /tmp, and set-group-id to a group of others */
    ASSERT_TRUE(chmod(d.c_str(), 0755) == 0 && MakeDir(sBase, 03777, 0, 65534) &&
                MakeDir(sVictims, 0700) && Plant('f', 0, sVictims + "/file", ""));
    std::string sVictim = sVictims + "/file", sBefore = Snapshot(sVictim);
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
