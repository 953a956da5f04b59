/* memcheck-modes.cpp - every mode of the module under valgrind memcheck, run
 * through zoltpeers --module-wrapper: enumeration, a run of each test, system
 * information, validation, the version print and a start without a broker.
 * Each must end with its usual status, no memcheck error and no block
 * definitely lost. Native uninstrumented builds only (the sanitizer runtime
 * and valgrind exclude each other; the 32-bit build has no 32-bit valgrind
 * here); skipped with the reason elsewhere or when valgrind is missing. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "e2e/peers-run.h"

using namespace e2e;

namespace {

const char *const s_szMemcheck = "--error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite";

/* The valgrind program in PATH, or "" when there is none. */
std::string FindValgrind()
{
    const char *szPath = getenv("PATH");
    std::string sDirs = szPath ? szPath : "/usr/bin:/bin";
    size_t uStart = 0;
    while (uStart <= sDirs.size()) {
        size_t uEnd = sDirs.find(':', uStart);
        if (uEnd == std::string::npos)
            uEnd = sDirs.size();
        std::string s = sDirs.substr(uStart, uEnd - uStart) + "/valgrind";
        if (access(s.c_str(), X_OK) == 0)
            return s;
        uStart = uEnd + 1;
    }
    return "";
}

/* Why memcheck cannot run here, or "" when it can. */
std::string WhyNot()
{
#if defined(__SANITIZE_ADDRESS__)
    return "the sanitizer build cannot run under valgrind (memcheck runs in the native build)";
#elif !defined(__x86_64__)
    return "memcheck runs in the native 64-bit build only";
#else
    if (FindValgrind().empty())
        return "valgrind is not installed";
    return "";
#endif
}

/* Checks memcheck's verdict in a module's output (the module's own output
 * and valgrind's, interleaved). */
void ExpectClean(const std::string &sOutput)
{
    EXPECT_NE(sOutput.find("== ERROR SUMMARY: 0 errors from 0 contexts"), std::string::npos) << sOutput;
    bool bNoneLost = sOutput.find("==    definitely lost: 0 bytes in 0 blocks") != std::string::npos
                     || sOutput.find("== All heap blocks were freed -- no leaks are possible") != std::string::npos;
    EXPECT_TRUE(bNoneLost) << sOutput;
}

}  // namespace

TEST(MemcheckModes, EveryModeRunsWithoutErrorsOrLostBlocks)
{
    std::string sWhy = WhyNot();
    if (!sWhy.empty())
        GTEST_SKIP() << sWhy;
    std::string sWrapper = FindValgrind() + " " + s_szMemcheck;

    /* the enumeration and every test, then system information and validation */
    PeersRun all = RunPeers({ "--module-wrapper", sWrapper, "all" }, 170000);
    /* the enumeration and tests 0-3 (2 also where MMX is missing) */
    ASSERT_EQ(all.vResults.size(), 5u) << all.sAll;
    std::vector<std::string> vRecords;
    for (const std::string &s : all.vLines)
        if (s.rfind("{\"kind\":\"SETUP\"", 0) == 0 || s.rfind("{\"kind\":\"RESULT\"", 0) == 0)
            vRecords.push_back(s);
    PeersRun info = RunPeers({ "--module-wrapper", sWrapper, "sysinfo", "--device", "0" }, 170000);
    PeersRun val = RunPeers({ "--module-wrapper", sWrapper, "validate", "--test", "0" }, 170000);
    for (const PeersRun *p : { &info, &val })
        for (const std::string &s : p->vLines)
            if (s.rfind("{\"kind\":\"SETUP\"", 0) == 0 || s.rfind("{\"kind\":\"RESULT\"", 0) == 0)
                vRecords.push_back(s);
    ASSERT_EQ(vRecords.size(), 9u);   /* 3 enumerations, 4 runs, sysinfo, validate */

    for (const std::string &sRec : vRecords) {
        std::string sMode = Str(sRec, "mode");
        long lTest = Num(sRec, "test");
        SCOPED_TRACE(sMode + " " + std::to_string(lTest));
        std::string sOut = Str(sRec, "module_output");
        EXPECT_EQ(sRec.find("\"killed\":true"), std::string::npos);
        if (sMode == "run" && lTest == 1 && Num(sRec, "signal") == 4
            && sOut.find("unhandled instruction bytes: 0xD9 0xF6") != std::string::npos) {
            /* valgrind cannot execute FDECSTP: the x87 test ends there under
             * memcheck; what ran before it must still be clean */
            EXPECT_NE(sOut.find("== ERROR SUMMARY: 0 errors from 0 contexts"), std::string::npos) << sOut;
            EXPECT_NE(sOut.find("==    definitely lost: 0 bytes in 0 blocks"), std::string::npos) << sOut;
            continue;
        }
        EXPECT_EQ(Num(sRec, "signal"), 0);
        EXPECT_EQ(Num(sRec, "exit_status"), sMode == "validate" ? 30 : 0);
        if (sMode == "run") {
            EXPECT_FALSE(Str(sRec, "result").empty()) << sRec;
        }
        ExpectClean(sOut);
    }

    /* the version print (no words) and a start with no broker (29) */
    std::vector<std::string> vMemcheck = { FindValgrind(), "--error-exitcode=99", "--leak-check=full",
                                           "--errors-for-leak-kinds=definite" };
    std::vector<std::string> vArgs = vMemcheck;
    vArgs.push_back(ZOLT_BIN "/zoltcpu.linux");
    ChildRun version = RunChild(vArgs, {}, nullptr, true);
    EXPECT_EQ(version.iExit, 0);
    EXPECT_NE(version.sOut.find("\nzoltcpu 1.2.11\n"), std::string::npos) << version.sOut;
    ExpectClean(version.sOut);

    char szDir[] = "/tmp/zolt-memcheck.XXXXXX";
    ASSERT_NE(mkdtemp(szDir), nullptr);
    vArgs.insert(vArgs.end(), { "run", "device=0", "test=0", "deffile=" ZOLT_BIN "/zoltcpu.ini" });
    ChildRun nobroker = RunChild(vArgs, { std::string("ZOLT_PATH=") + szDir, "ZOLT_TMP=" }, szDir, true);
    EXPECT_EQ(nobroker.iExit, 29);
    ExpectClean(nobroker.sOut);
    EXPECT_EQ(rmdir(szDir), 0) << "a FIFO was left behind";
}

TEST(MemcheckModes, WrapperWordsComeBeforeTheModulesOwn)
{
    /* echo (found in PATH) stands in for the checker: it prints the words it
     * got, which are its own followed by the module's whole command line */
    PeersRun r = RunPeers({ "--module-wrapper", "echo wrapped:", "enumerate" });
    std::string sEnum = ResultOf(r, "enumerate");
    ASSERT_FALSE(sEnum.empty()) << r.sAll;
    EXPECT_EQ(Num(sEnum, "exit_status"), 0);
    EXPECT_EQ(Str(sEnum, "module_output").rfind("wrapped: " ZOLT_BIN "/zoltcpu.linux enumerate ref=", 0), 0u)
        << sEnum;
    EXPECT_NE(sEnum.find("\"startup_seen\":false"), std::string::npos);   /* the module never ran */

    /* a wrapper that does not exist is a start failure */
    PeersRun bad = RunPeers({ "--module-wrapper", "zolt-no-such-wrapper --x", "enumerate" });
    EXPECT_EQ(bad.iExit, 2);
    EXPECT_NE(bad.sAll.find("cannot start zolt-no-such-wrapper: No such file or directory"), std::string::npos)
        << bad.sAll;
}
