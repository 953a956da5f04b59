/* trace.cpp - tests of the trace log: program type and process name from stat
 * files, the exact line header and the trace argument. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "common/read-file.h"
#include "trace.h"

namespace {

const char *const s_szDefaultStat = g_szProcStatFormat;
const std::string s_strFixtures = std::string(ZOLT_FIXTURES) + "/trace/";

/* All types off, lines to stderr, the real process name before and after. */
class Trace : public ::testing::Test {
protected:
    void SetUp() override
    {
        Reset();
    }
    void TearDown() override
    {
        Reset(), unlink(m_strFile.c_str());
    }
    static void Reset()
    {
        for (int i = 0; i < ZOLT_TRACE_TYPES; i++)
            ZoltTraceSetType(i, 0);
        ZoltTraceSetFile(NULL);
        g_szProcStatFormat = s_szDefaultStat;
        g_szTraceProcName[0] = '\0';
    }
    std::string m_strFile = "/tmp/zolt-trace-test-" + std::to_string(getpid());
};

TEST_F(Trace, ProgramTypeAndProcessNameFromStatFiles)
{
    EXPECT_EQ(ProcNameToTracingType("DIAGENGINE"), 6);
    EXPECT_EQ(ProcNameToTracingType("diagengine2"), 4); /* exact names only; the rest are modules */
    ZoltTraceSetType(4, 1);                             /* this test program counts as a module */
    EXPECT_TRUE(TracingTypeEnabled(3));
    g_szTraceProcName[0] = '\0'; /* looked up again from the stat file */
    std::string strStat = s_strFixtures + "stat-path";
    g_szProcStatFormat = strStat.c_str();
    ZoltTraceSetType(6, 1);
    EXPECT_TRUE(ProgramTracingEnabled()); /* "/usr/sbin/diagengine" -> "diagengine" */
    EXPECT_STREQ(g_szTraceProcName, "diagengine");
    struct {
        const char *szFixture, *szExpect;
    } aCase[] = {
        /* missing or reversed brackets: the proc-files fuzz corpus */
        { "stat-normal", "zoltcpu.linux" },
        { "stat-longname", "????" }, /* ')' lies beyond the 64 bytes read */
    };
    for (const auto &c : aCase) {
        std::string strPath = s_strFixtures + c.szFixture;
        g_szProcStatFormat = strPath.c_str();
        EXPECT_STREQ(PidToProcName(4711), c.szExpect) << c.szFixture;
    }
    g_szProcStatFormat = s_szDefaultStat;
    EXPECT_STREQ(PidToProcName(getpid()), "support_trace");
    std::string strPath = s_strFixtures + "stat-normal";
    g_szProcStatFormat = strPath.c_str();
    g_szTraceProcName[0] = '\0';
    InitProcName();
    EXPECT_STREQ(g_szTraceProcName, "zoltcpu"); /* base name, extension dropped */
}

TEST_F(Trace, LineHasExactHeaderAndOnlyEnabledTypesWrite)
{
    ZoltTraceSetFile(m_strFile.c_str());
    TPRINTF(4, "/build/src/f.c", 942, "", "off %d\n", 1); /* disabled: not written */
    ZoltTraceSetType(4, 1);
    TPRINTF(4, "/build/src/f.c", 942, "", "value=%d %s\n", 17, "x");
    TPRINTF(0, "g.cpp", 1, "", "pipe is off\n");
    TPRINTF(3, "dir/h.cpp", 7, "Func", "prog");
    std::string strHead = "support_trace(" + std::to_string(getpid()) + "):";
    EXPECT_EQ(zolttest::ReadFile(m_strFile),
              strHead + "():f.c:942 value=17 x\n" + strHead + "Func():h.cpp:7 prog");
}

TEST_F(Trace, TraceArgumentFormsModuleTraceName)
{
    char szProg[] = "/opt/diags/trace/zoltcpu.linux", szRun[] = "run", szUpper[] = "TRACE",
         szNo[] = "notrace";
    char *argv[] = { szProg, szRun, szUpper, szNo, NULL };
    g_szTraceComponentName[0] = '\0';
    EXPECT_EQ(ProcessTracingArgs(3, argv), 0); /* case counts; the program path is not searched */
    EXPECT_EQ(ProcessTracingArgs(4, argv), 1);
    EXPECT_EQ(std::string(g_szTraceComponentName), "zoltcpu" + std::to_string(getpid()) + "_trace");
}

}  // namespace
