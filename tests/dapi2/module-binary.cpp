/* Tests of the real zoltcpu.linux process: the version print without
 * arguments and the exit statuses of runs that end before or at the start of
 * communications (no mode, validate without callback, refused parameters, no
 * broker). Each run gets a fresh working and pipe directory that must stay
 * empty: such runs leave no FIFO behind. */
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

struct RunResult {
    int iStatus = -1;       /* exit status, or -1 when the process did not exit normally */
    std::string out, err;
    int iLeftovers = -1;    /* entries left in the run's directory */
};

std::string ReadAll(int fd)
{
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, (size_t)n);
    return s;
}

int CountEntries(const std::string &dir)
{
    DIR *d = opendir(dir.c_str());
    if (d == nullptr)
        return -1;
    int n = 0;
    while (struct dirent *e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
            n++;
    closedir(d);
    return n;
}

/* Runs zoltcpu.linux with the words (argv[0] is the binary's path) in a new
 * directory that is both its working directory and ZOLT_TMP. */
RunResult RunModule(const std::vector<std::string> &words)
{
    RunResult r;
    char szDir[] = "/tmp/zolt-binary-XXXXXX";
    if (mkdtemp(szDir) == nullptr)
        return r;
    std::string bin = ZOLT_BIN "/zoltcpu.linux";
    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0)
        return r;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        if (chdir(szDir) != 0)
            _exit(120);
        setenv("ZOLT_TMP", szDir, 1);
        unsetenv("ZOLT_PATH");
        std::vector<char *> argv;
        argv.push_back(&bin[0]);
        std::vector<std::string> copy = words;
        for (auto &w : copy)
            argv.push_back(&w[0]);
        argv.push_back(nullptr);
        execv(bin.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    r.out = ReadAll(outPipe[0]);   /* stdout and stderr stay small: no deadlock */
    r.err = ReadAll(errPipe[0]);
    close(outPipe[0]);
    close(errPipe[0]);
    int iWait = 0;
    waitpid(pid, &iWait, 0);
    r.iStatus = WIFEXITED(iWait) ? WEXITSTATUS(iWait) : -1;
    r.iLeftovers = CountEntries(szDir);
    std::string cleanup = std::string("rm -rf ") + szDir;
    if (system(cleanup.c_str()) != 0)
        ADD_FAILURE() << "could not remove " << szDir;
    return r;
}

TEST(ModuleBinary, VersionPrintWithoutArguments)
{
    RunResult r = RunModule({});
    EXPECT_EQ(r.iStatus, 0);
    EXPECT_EQ(r.err, "zoltcpu 1.2.11\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.iLeftovers, 0);
}

TEST(ModuleBinary, ExitStatusesBeforeCommunications)
{
    std::string ini = std::string("deffile=") + ZOLT_BIN "/zoltcpu.ini";
    struct { std::vector<std::string> words; int iStatus; } aCases[] = {
        {{"foo"}, 30},
        {{"ref=1", "device=0", "test=0", ini}, 30},                  /* words, no mode */
        {{"Run", "trace"}, 30},
        {{"validate", "test=0", ini, "senderpid=1", "reid=2"}, 30},  /* no validation callback */
        {{"run", "test=0", "param=ZOLT_DAPI2_PERCENT_TO_TEST,0", ini}, 31},
        {{"run", "test=0", "param=ZOLT_DAPI2_PERCENT_TO_TEST,101", ini}, 31},
        {{"run", "test=0", "param=X", ini}, 31},
        {{"sysinfo", "812", "1"}, 30},                                /* too few words */
    };
    for (auto &c : aCases) {
        RunResult r = RunModule(c.words);
        EXPECT_EQ(r.iStatus, c.iStatus) << c.words[0];
        EXPECT_EQ(r.out, "") << c.words[0];
        EXPECT_EQ(r.iLeftovers, 0) << c.words[0];
    }
}

TEST(ModuleBinary, NoBrokerGives29)
{
    std::string ini = std::string("deffile=") + ZOLT_BIN "/zoltcpu.ini";
    std::string sfifo = "sfifo=/nonexistent-dir/ZOLTFIFO";
    std::vector<std::string> aRuns[] = {
        {"enumerate", "ref=e1", ini, sfifo},
        {"run", "ref=r1", "device=0", "test=0", "process=5", ini, sfifo},
        {"sysinfo", "812", "1", "CPU:0", ZOLT_BIN "/zoltcpu.ini", "zoltcpu", sfifo},
    };
    for (auto &words : aRuns) {
        RunResult r = RunModule(words);
        EXPECT_EQ(r.iStatus, 29) << words[0] << " " << r.err;
        EXPECT_EQ(r.iLeftovers, 0) << words[0];
    }
}

}  // namespace
