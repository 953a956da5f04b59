/* cpu-test-faults.cpp - end to end through zoltpeers with the fault-injection
 * build of the module (fault-bin/zoltcpu.linux, ZOLT_FAULT): for every
 * sub-test of tests 0 and 1 and every MMX test routine, one wrong observed
 * value gives exactly one error event with its number, tag and "errno" (and
 * for MMX the "instruction" name), the result "FAIL", and the full percent
 * sequence, since the other sub-tests still run. A processor without MMX
 * (injected) gives warning 9 and "NOTAPPLICABLE" without a percent value. */
#include <gtest/gtest.h>

#include <ctype.h>

#include <fstream>
#include <string>
#include <vector>

#include "peers-run.h"
#include "x87-emulator.h"

namespace {

/* Runs zoltpeers --json on the fault build with ZOLT_FAULT set; returns the
 * RESULT line of the run (not of the enumeration before it; "" when none),
 * the exit status and everything zoltpeers printed. */
std::string RunFaulty(int iTest, const std::string &sFault, int *piExit, std::string *psAll)
{
    e2e::ChildRun c = e2e::RunChild({ZOLT_BIN "/zoltpeers", "--json", "--limit", "60000",
                                     "--module", ZOLT_FAULT_BIN "/zoltcpu.linux",
                                     "--deffile", ZOLT_BIN "/zoltcpu.ini",
                                     "run", "--device", "0", "--test", std::to_string(iTest)},
                                    {"ZOLT_FAULT=" + sFault});
    *piExit = c.iExit;
    *psAll = c.sOut;
    size_t i = c.sOut.find("{\"kind\":\"RESULT\",\"mode\":\"run\"");
    if (i == std::string::npos)
        return "";
    return c.sOut.substr(i, c.sOut.find('\n', i) - i);
}

using e2e::Percents;
using e2e::Str;

/* The events of a RESULT line: (type, text, code). */
struct Event {
    std::string sType, sText;
    int iCode;
};

std::vector<Event> Events(const std::string &sJson)
{
    std::vector<Event> v;
    const std::string sOpen = "{\"type\":\"";
    for (size_t uAt = sJson.find(sOpen); uAt != std::string::npos; uAt = sJson.find(sOpen, uAt + 1)) {
        size_t uNext = 0;
        Event e{e2e::StrAt(sJson, "type", uAt, &uNext), "", -1000};
        if (uNext != std::string::npos)
            e.sText = e2e::StrAt(sJson, "text", uNext, &uNext);
        if (uNext != std::string::npos) {
            long lCode = e2e::Num(sJson.substr(uNext, sJson.find('}', uNext) - uNext), "code");
            e.iCode = lCode == -9999 ? -1000 : (int)lCode;
        }
        v.push_back(e);
    }
    return v;
}

/* The value of token variable szName in an event text ("" when absent). */
std::string Var(const std::string &sText, const char *szName)
{
    const std::string sNeedle = std::string(" ") + szName + "=";
    size_t uPos = sText.find(sNeedle);
    if (uPos == std::string::npos)
        return "";
    uPos += sNeedle.size();
    size_t uEnd = uPos;
    while (uEnd < sText.size() && (isalnum((unsigned char)sText[uEnd]) || sText[uEnd] == '_'))
        uEnd++;
    return sText.substr(uPos, uEnd - uPos);
}

bool CpuHasMmx()
{
    std::ifstream in("/proc/cpuinfo");
    std::string sLine;
    while (std::getline(in, sLine))
        if (sLine.rfind("flags", 0) == 0)
            return (sLine + " ").find(" mmx ") != std::string::npos;
    return false;
}

struct FaultCase {
    int iTest;
    const char *szFault;        /* ZOLT_FAULT: test:subtest:check:case:xor[:offset] */
    int iError;
    const char *szTag;
    const char *szErrno;
    const char *szInstruction;  /* MMX only */
};

void PrintTo(const FaultCase &c, std::ostream *pOs)
{
    *pOs << "test " << c.iTest << " fault " << c.szFault;
}

/* One check of every sub-test and MMX routine (check bits as in the tables). */
const FaultCase s_aFaults[] = {
    {0, "0:1:0x20:*:1", 1, "szErrorReg", "32", nullptr},
    {0, "0:2:0x02:*:1", 2, "szErrorArithmetics", "2", nullptr},
    {0, "0:3:0x01:0:1:8", 3, "szErrorStrings", "1", nullptr},
    {0, "0:4:0x04:0:1", 4, "szErrorLogicals", "4", nullptr},
    {1, "1:1:0x01:*:1:3", 5, "szErrorMathReg", "1", nullptr},
    {1, "1:2:0x0400:0:1", 6, "szErrorMathCommands", "1024", nullptr},
    {1, "1:3:0x40:0:1", 7, "szErrorMathArithmetics", "64", nullptr},
    {1, "1:4:0x08:0:1", 8, "szErrorMathTrans", "8", nullptr},
    {2, "2:1:0x1:*:1", 10, "szErrorMMX10_10", "1", "PADD"},
    {2, "2:2:0x4000:*:1", 10, "szErrorMMX10_10", "16384", "PSUB"},
    {2, "2:3:0x4:*:1", 10, "szErrorMMX10_10", "4", "PMUL"},
    {2, "2:4:0x80:*:1:16", 10, "szErrorMMX10_10", "128", "PMADD"},
    {2, "2:5:0x2:*:1", 10, "szErrorMMX10_10", "2", "PAND"},
    {2, "2:6:0x10:*:1", 10, "szErrorMMX10_10", "16", "PANDN"},
    {2, "2:7:0x40:*:1", 10, "szErrorMMX10_10", "64", "POR"},
    {2, "2:8:0x8:*:1", 10, "szErrorMMX10_10", "8", "PXOR"},
    {2, "2:9:0x20:*:1", 10, "szErrorMMX10_10", "32", "PSLL"},
    {2, "2:10:0x10:*:1", 10, "szErrorMMX10_10", "16", "PSLR"},
    {2, "2:11:0x1:100:1:40", 10, "szErrorMMX10_10", "100", "MOVD"},
    {2, "2:12:0x1:0x7777:1:56", 10, "szErrorMMX10_10", "30583", "MOVQ"},
    {2, "2:13:0x8:*:1", 10, "szErrorMMX10_10", "8", "PCMPEQ"},
    {2, "2:14:0x40:*:1", 10, "szErrorMMX10_10", "64", "PCMPGT"},
    {2, "2:15:0x80:*:1", 10, "szErrorMMX10_10", "128", "PACKSS"},
    {2, "2:16:0x4:*:1", 10, "szErrorMMX10_10", "4", "PACKUS"},
    {2, "2:17:0x20:*:1", 10, "szErrorMMX10_10", "32", "PUNPCK"},
};

class CpuTestFaultsEndToEnd : public ::testing::TestWithParam<FaultCase> {};

TEST_P(CpuTestFaultsEndToEnd, OneErrorEventAndFail)
{
    const FaultCase &c = GetParam();
    if (c.iTest == 2 && !CpuHasMmx())
        GTEST_SKIP() << "this processor has no MMX";
    if (c.iTest == 1 && !zolttest::X87EmulatorSkipReason().empty())
        GTEST_SKIP() << zolttest::X87EmulatorSkipReason();
    int iExit = -1;
    std::string sAll;
    std::string sRun = RunFaulty(c.iTest, c.szFault, &iExit, &sAll);
    ASSERT_FALSE(sRun.empty()) << sAll;
    EXPECT_EQ(Str(sRun, "result"), "FAIL") << sRun;
    EXPECT_EQ(iExit, 1);
    EXPECT_EQ(Percents(sRun), c.iTest == 2 ? "20,40,60,80,100" : "25,50,75,100");
    std::vector<Event> vErrors;
    for (const Event &ev : Events(sRun))
        if (ev.sType == "ERROR")
            vErrors.push_back(ev);
    ASSERT_EQ(vErrors.size(), 1u) << sRun;
    EXPECT_EQ(vErrors[0].iCode, c.iError);
    EXPECT_NE(vErrors[0].sText.find(std::string("id=") + c.szTag), std::string::npos)
        << vErrors[0].sText;
    EXPECT_EQ(Var(vErrors[0].sText, "errno"), c.szErrno) << vErrors[0].sText;
    if (c.szInstruction != nullptr) {
        EXPECT_EQ(Var(vErrors[0].sText, "instruction"), c.szInstruction) << vErrors[0].sText;
    }
}

INSTANTIATE_TEST_SUITE_P(EverySubTestAndRoutine, CpuTestFaultsEndToEnd,
                         ::testing::ValuesIn(s_aFaults),
                         [](const ::testing::TestParamInfo<FaultCase> &info) {
                             return "case" + std::to_string(info.index);
                         });

TEST(CpuTestFaultsEndToEndMmx, WithoutMmxNotApplicable)
{
    int iExit = -1;
    std::string sAll;
    std::string sRun = RunFaulty(2, CpuHasMmx() ? "2:0:0:0:1" : "", &iExit, &sAll);
    ASSERT_FALSE(sRun.empty()) << sAll;
    EXPECT_EQ(Str(sRun, "result"), "NOTAPPLICABLE") << sRun;
    EXPECT_EQ(Percents(sRun), "");
    std::vector<Event> vEvents = Events(sRun);
    ASSERT_FALSE(vEvents.empty()) << sRun;
    for (const Event &ev : vEvents) {
        EXPECT_EQ(ev.sType, "WARN");
        EXPECT_EQ(ev.iCode, 9);
        EXPECT_NE(ev.sText.find("id=szWarnNotApplicable10_9"), std::string::npos) << ev.sText;
    }
}

}  // namespace
