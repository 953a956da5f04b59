/* memcheck-modes.cpp - every mode of the module under valgrind memcheck (through
 * zoltpeers --module-wrapper, or directly): its usual status, no memcheck error,
 * no block definitely lost. Native 64-bit uninstrumented builds only. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/peers-run.h"

using namespace e2e;

TEST(MemcheckModes, EveryModeRunsWithoutErrorsOrLostBlocks)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP()
        << "the sanitizer build cannot run under valgrind (memcheck runs in the native build)";
#elif !defined(__x86_64__)
    GTEST_SKIP() << "memcheck runs in the native 64-bit build only";
#endif
    std::string sValgrind = RunChild({ "/bin/sh", "-c", "command -v valgrind" }).sOut;
    if (sValgrind.empty())
        GTEST_SKIP() << "valgrind is not installed";
    /* a block definitely lost counts as an error, and any error makes the
     * status 99; the summary shows that memcheck ran */
    std::vector<std::string> vMemcheck = { sValgrind.substr(0, sValgrind.find('\n')),
                                           "--error-exitcode=99", "--leak-check=full",
                                           "--errors-for-leak-kinds=definite" };
    const std::string sClean = "== ERROR SUMMARY: 0 errors from 0 contexts";
    std::string sWrapper;
    for (const std::string &s : vMemcheck)
        sWrapper += (sWrapper.empty() ? "" : " ") + s;

    /* all: the enumeration and tests 0-3 (2 also where MMX is missing); then
     * system information and validation, each after its own enumeration */
    std::vector<std::string> vRecords;
    for (const std::vector<std::string> &vWords :
         { std::vector<std::string>{ "all" },
           std::vector<std::string>{ "sysinfo", "--device", "0" },
           std::vector<std::string>{ "validate", "--test", "0" } }) {
        std::vector<std::string> v = { "--module-wrapper", sWrapper };
        v.insert(v.end(), vWords.begin(), vWords.end());
        for (const std::string &s : RunPeers(v, 170000).vLines)
            if (s.rfind("{\"kind\":\"SETUP\"", 0) == 0 || s.rfind("{\"kind\":\"RESULT\"", 0) == 0)
                vRecords.push_back(s);
    }
    ASSERT_EQ(vRecords.size(), 9u); /* 3 enumerations, 4 runs, sysinfo, validate */
    for (const std::string &sRec : vRecords) {
        std::string sMode = Str(sRec, "mode"), sOut = Str(sRec, "module_output");
        SCOPED_TRACE(sMode + " " + std::to_string(Num(sRec, "test")));
        EXPECT_EQ(sRec.find("\"killed\":true"), std::string::npos);
        EXPECT_NE(sOut.find(sClean), std::string::npos) << sOut;
        /* valgrind cannot execute FDECSTP: the x87 test ends there under
         * memcheck; what ran before it is still clean */
        if (sMode == "run" && Num(sRec, "signal") == 4 &&
            sOut.find("unhandled instruction bytes: 0xD9 0xF6") != std::string::npos)
            continue;
        EXPECT_EQ(Num(sRec, "signal"), 0);
        EXPECT_EQ(Num(sRec, "exit_status"), sMode == "validate" ? 30 : 0);
        EXPECT_TRUE(sMode != "run" || !Str(sRec, "result").empty()) << sRec;
    }

    /* run directly: the version print (no words), then a start with no broker */
    TempDir dir;
    vMemcheck.push_back(ZOLT_BIN "/zoltcpu.linux");
    for (int iStatus : { 0, 29 }) {
        ChildRun r =
            RunChild(vMemcheck, { "ZOLT_PATH=" + dir.sPath, "ZOLT_TMP=" }, dir.sPath.c_str(), true);
        EXPECT_EQ(r.iExit, iStatus);
        EXPECT_NE(r.sOut.find(sClean), std::string::npos) << r.sOut;
        vMemcheck.insert(vMemcheck.end(),
                         { "run", "device=0", "test=0", "deffile=" ZOLT_BIN "/zoltcpu.ini" });
    }
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{}) << "a FIFO was left behind";
}
