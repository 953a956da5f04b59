/* Tests of the real zoltcpu.linux: the version print and the exit statuses of runs
 * that end before communications, with nothing else written and no files left. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/read-file.h"

namespace {

namespace fs = std::filesystem;

struct RunResult {
    int iStatus = -1, iLeftovers = -1; /* exit status; entries left in the run's directory */
    std::string out, err;
};

/* Runs the module in a new directory that is its working directory and ZOLT_TMP. */
RunResult RunModule(const std::vector<std::string> &words)
{
    RunResult r;
    char szDir[] = "/tmp/zolt-binary-XXXXXX";
    if (mkdtemp(szDir) == nullptr)
        return r;
    fs::path dir(szDir), run = dir / "run";
    fs::create_directory(run);
    std::string cmd = "cd " + run.string() + " && env -u ZOLT_PATH ZOLT_TMP=" + run.string() +
                      " " ZOLT_BIN "/zoltcpu.linux";
    for (const auto &w : words)
        cmd += " '" + w + "'";
    cmd += " >" + (dir / "out").string() + " 2>" + (dir / "err").string();
    int iWait = system(cmd.c_str());
    r.iStatus = WIFEXITED(iWait) ? WEXITSTATUS(iWait) : -1;
    r.out = zolttest::ReadFile(dir / "out"), r.err = zolttest::ReadFile(dir / "err");
    r.iLeftovers = (int)std::distance(fs::directory_iterator(run), fs::directory_iterator());
    fs::remove_all(dir);
    return r;
}

TEST(ModuleBinary, VersionPrintAndExitStatusesBeforeCommunications)
{
    std::string ini = std::string("deffile=") + ZOLT_BIN "/zoltcpu.ini";
    struct {
        std::vector<std::string> words;
        int iStatus;
        const char *szErr;
    } aCases[] = {
        { {}, 0, "zoltcpu 1.2.11\n" },
        { { "foo" }, 30, "" },
        { { "validate", "test=0", ini, "senderpid=1", "reid=2" }, 30, "" }, /* no callback */
        { { "run", "test=0", "param=ZOLT_DAPI2_PERCENT_TO_TEST,0", ini }, 31, "" },
        { { "run", "test=0", "param=ZOLT_DAPI2_PERCENT_TO_TEST,101", ini }, 31, "" },
        { { "sysinfo", "812", "1" }, 30, "" }, /* too few words */
    };
    for (auto &c : aCases) {
        SCOPED_TRACE(c.words.empty() ? "(none)" : c.words[0]);
        RunResult r = RunModule(c.words);
        EXPECT_EQ(r.iStatus, c.iStatus);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, c.szErr);
        EXPECT_EQ(r.iLeftovers, 0);
    }
}

}  // namespace
