/* cpu-test-events.h - shared by the CPU module's tests: event capture, a fault
 * hook XORing values into one check's observed result, stand-in language
 * strings, a fixture putting every seam and platform path back, and the
 * fault-case runner of the routines of tests 0 to 2. */
#ifndef TESTS_ZOLTCPU_CPU_TEST_EVENTS_H
#define TESTS_ZOLTCPU_CPU_TEST_EVENTS_H

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "common/test-peer.h"
#include "cpu-driver.h"
#include "cpu-enum.h"
#include "dapi2.h"
#include "smbios.h"
#include "test-fault.h"
#include "test-fpu.h"
#include "test-mmx.h"
#include "test-registers.h"
#include "x87-emulator.h"
#include "zolt-mod-support.h"

/* One event as the engine would see it; iCode -1000 when it has none. */
struct CapturedEvent {
    std::string sType, sText;
    int iCode;
};
inline std::vector<CapturedEvent> g_events; /* in sending order */

/* The text of element sTag of message s from iFrom on; "" when absent. */
inline std::string Element(const std::string &s, size_t iFrom, const std::string &sTag)
{
    const size_t iStart = s.find("<" + sTag + ">", iFrom), iEnd = s.find("</" + sTag + ">", iStart);
    return iEnd == std::string::npos
               ? ""
               : s.substr(iStart + sTag.size() + 2, iEnd - iStart - sTag.size() - 2);
}

/* Records each event sent (the send seam). */
inline int CaptureSend(const char *szMessage)
{
    const std::string s = szMessage;
    const size_t i = s.find("<EVENT>");
    const std::string sCode = Element(s, i, "EVENTCODE");
    if (i != std::string::npos)
        g_events.push_back({ Element(s, i, "TYPE"), Element(s, i, "TEXT"),
                             sCode.empty() ? -1000 : atoi(sCode.c_str()) });
    return 0;
}

/* Token variable szName ("name=value" up to a blank or "/"); "id": string id. */
inline std::string TokenVariable(const std::string &sToken, const char *szName)
{
    const std::string sKey = std::string(" ") + szName + "=";
    size_t i = sToken.find(sKey);
    if (i == std::string::npos)
        return "";
    i += sKey.size();
    return sToken.substr(i, sToken.find_first_of(" /", i) - i);
}

/* The events sent, joined by "|": "INFO id" (left out unless bInfos),
 * "PERCENTDONE n" and "TYPE code id" (the whole text where it is no token). */
inline std::string Seen(bool bInfos = true)
{
    std::string s;
    for (const CapturedEvent &ev : g_events) {
        const std::string sId = TokenVariable(ev.sText, "id");
        if (ev.sType != "INFO" || bInfos)
            s +=
                (s.empty() ? "" : "|") + ev.sType + " " +
                (ev.sType == "PERCENTDONE" || ev.sType == "INFO" ? ""
                                                                 : std::to_string(ev.iCode) + " ") +
                (sId.empty() ? ev.sText : sId);
    }
    return s;
}

/* XOR uXor into the observed bytes at uOffset of check (uTest, uSubTest,
 * uCheck), for case iCase only or for every case when iCase is -1. */
struct InjectedFault {
    unsigned uTest, uSubTest, uCheck;
    int iCase;
    uint64_t uXor;
    unsigned uOffset;
};
inline std::vector<InjectedFault> g_faults;
/* The inputs handed over (uCheck 0) as "test:subtest:case=value" (hex), in order. */
inline std::vector<std::string> g_inputs;

inline void XorFaultHook(unsigned uTest, unsigned uSubTest, unsigned uCheck, unsigned uCase,
                         void *pObserved, unsigned cbObserved)
{
    if (uCheck == 0 && cbObserved == 4) {
        char sz[48];
        snprintf(sz, sizeof sz, "%u:%u:%u=%X", uTest, uSubTest, uCase,
                 *static_cast<uint32_t *>(pObserved));
        g_inputs.push_back(sz);
    }
    for (const InjectedFault &f : g_faults) {
        const bool bHit = f.uTest == uTest && f.uSubTest == uSubTest && f.uCheck == uCheck &&
                          (f.iCase < 0 || (unsigned)f.iCase == uCase);
        for (unsigned i = 0; bHit && i < 8 && f.uOffset + i < cbObserved; i++)
            static_cast<uint8_t *>(pObserved)[f.uOffset + i] ^= (uint8_t)(f.uXor >> (8 * i));
    }
}

/* The stand-in language-string engine. */
inline std::map<std::string, std::string> g_strings;
inline char *FakeNls(const char *szId, char *szOut, int iOutSize)
{
    auto it = g_strings.find(szId);
    snprintf(szOut, (size_t)iOutSize, "%s", it == g_strings.end() ? "" : it->second.c_str());
    return it == g_strings.end() ? nullptr : szOut;
}

/* Direct mode (nothing deferred, no busy wait), every event captured, the
 * fault hook installed with no fault, the stand-in strings empty. */
class CpuTestFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pfnSend = g_pfnDapi2SendMessage;
        g_pfnDapi2SendMessage = CaptureSend;
        g_pfnTestFault = XorFaultHook;
        g_pfnCpuNlsGetString = FakeNls;
        Fresh();
    }
    void Fresh() /* driver and event state, events and faults as at the start */
    {
        ResetDriverState();
        Dapi2_I_ResetEventState();
        g_events.clear();
        g_faults.clear();
        g_inputs.clear();
    }
    void TearDown() override
    {
        KillDevices(g_pRootDevice);
        g_pRootDevice = nullptr;
        Dapi2_KillDeviceList();
        g_strings.clear();
        g_pfnCpuNlsGetString = Dapi2_NlsGetStringWithId;
        g_szCpuInfoPath = "/proc/cpuinfo";
        g_szMemInfoPath = "/proc/meminfo";
        g_szCpuTimeFileFormat = "/proc/%u/cpu";
        g_szTaskStatFileFormat = "/proc/self/task/%u/stat";
        g_szDevMemPath = "/dev/mem";
        g_szSmbiosEntryPointPath = "/sys/firmware/dmi/tables/smbios_entry_point";
        g_szSmbiosTablePath = "/sys/firmware/dmi/tables/DMI";
        g_pfnTestFault = nullptr;
        g_pfnDapi2SendMessage = m_pfnSend;
        ResetDriverState();
    }
    /* Points the processor table at fixture szFixture (or a path from "/"). */
    void UseCpuInfo(const std::string &sFixture)
    {
        m_sCpuInfo =
            sFixture[0] == '/' ? sFixture : std::string(ZOLT_FIXTURES) + "/cpu/" + sFixture;
        g_szCpuInfoPath = m_sCpuInfo.c_str();
    }
    /* A CPU device of type szType with hardware locator szLocator. */
    static Dapi2Device *Device(const char *szLocator, const char *szType = "CPU")
    {
        Dapi2Device *pDevice = nullptr;
        Dapi2_CreateDeviceGenericEx(szType, 1, "CPU", "", "", szLocator, "SYSTEM_BUS", &pDevice);
        return pDevice;
    }
    int (*m_pfnSend)(const char *) = nullptr;
    std::string m_sCpuInfo;
};

using zolttest::TempDir; /* removed with its files at destruction */

/* ---- the routines of tests 0 (integer), 1 (x87) and 2 (MMX) ---- */

struct Routine {
    PFN_CPUTEST pfn;
    std::vector<std::string> infos; /* per sub-test or group */
};
inline const Routine kRoutines[3] = {
    { do_registertests, { "szInfo1", "szInfo2", "szInfo3", "szInfo4" } },
    { do_mathregistertests, { "szInfo5", "szInfo6", "szInfo7", "szInfo8" } },
    { do_MMX,
      { "szInfoMMXArithmatics", "szInfoMMXLogical", "szInfoMMXShift", "szInfoMMXMove",
        "szInfoMMXMisc" } },
};

/* The events a run of test uTest sends (as Seen()), with the error of
 * sub-test uSubTest (MMX: of that routine, in its group) when bError. */
inline std::string Expected(unsigned uTest, unsigned uSubTest, bool bError, bool bInfos = true)
{
    static const char *const s_aszError[11] = { "",
                                                "szErrorReg",
                                                "szErrorArithmetics",
                                                "szErrorStrings",
                                                "szErrorLogicals",
                                                "szErrorMathReg",
                                                "szErrorMathCommands",
                                                "szErrorMathArithmetics",
                                                "szErrorMathTrans",
                                                "",
                                                "szErrorMMX10_10" };
    const int iError = !bError      ? 0
                       : uTest == 0 ? (int)uSubTest
                       : uTest == 1 ? 4 + (int)uSubTest
                                    : 10;
    const std::vector<std::string> &infos = kRoutines[uTest].infos;
    const size_t iGroup = uTest < 2        ? uSubTest - 1
                          : uSubTest <= 4  ? 0
                          : uSubTest <= 8  ? 1
                          : uSubTest <= 10 ? 2
                          : uSubTest <= 12 ? 3
                                           : 4;
    std::string s;
    for (size_t g = 0; g < infos.size(); g++) {
        s += (bInfos ? "INFO " + infos[g] + "|" : "") +
             (iError != 0 && g == iGroup
                  ? "ERROR " + std::to_string(iError) + " " + s_aszError[iError] + "|"
                  : "");
        s += "PERCENTDONE " + std::to_string(100 * (g + 1) / infos.size()) +
             (g + 1 < infos.size() ? "|" : "");
    }
    return s;
}

/* "errno instruction|" of each error event sent. */
inline std::string ErrorTokens()
{
    std::string s;
    for (const CapturedEvent &ev : g_events)
        if (ev.sType == "ERROR")
            s += TokenVariable(ev.sText, "errno") + " " + TokenVariable(ev.sText, "instruction") +
                 "|";
    return s;
}

/* Whether test uTest cannot run here (then the reason). */
inline std::string CannotRun(unsigned uTest)
{
    if (uTest == 2 && MMXExists() == 0)
        return "this processor has no MMX";
    return uTest == 1 ? zolttest::X87EmulatorSkipReason() : "";
}

/* XOR uXor at uOffset into every check bit of uChecks (case iCase, -1 all):
 * the sub-test's error with "errno" uErrno (0: none) and the MMX name. */
struct FaultCase {
    unsigned uTest, uSubTest, uChecks;
    int iCase;
    unsigned uOffset;
    uint64_t uXor, uErrno;
    const char *szInstr;
};
/* Every case, offset 0, errno the mask. */
#define F(t, s, uChecks, uXor)                  \
    {                                           \
        t, s, uChecks, -1, 0, uXor, uChecks, "" \
    }

/* Runs test c.uTest with the fault of c injected: exactly the expected error
 * (none for a sound row), and every other sub-test still runs and reports
 * its percent value in order. */
inline void ExpectOnlyFault(const FaultCase &c)
{
    SCOPED_TRACE(testing::Message()
                 << "test " << c.uTest << " sub-test " << c.uSubTest << " checks " << c.uChecks
                 << " case " << c.iCase << " offset " << c.uOffset << " xor " << c.uXor);
    g_events.clear();
    g_faults.clear();
    ResetDriverState();
    Dapi2_I_ResetEventState();
    for (unsigned uBit = 1; uBit != 0 && uBit <= c.uChecks; uBit <<= 1)
        if ((c.uChecks & uBit) != 0)
            g_faults.push_back({ c.uTest, c.uSubTest, uBit, c.iCase, c.uXor, c.uOffset });
    EXPECT_EQ(kRoutines[c.uTest].pfn(nullptr), nullptr);
    EXPECT_EQ(Seen(), Expected(c.uTest, c.uSubTest, c.uErrno != 0));
    EXPECT_EQ(g_iTestResult, c.uErrno != 0 ? 2 : 0);
    EXPECT_EQ(ErrorTokens(), c.uErrno == 0 ? "" : std::to_string(c.uErrno) + " " + c.szInstr + "|");
}

/* Runs the cases of one test, or skips the test where it cannot run here. */
#define RUN_FAULT_CASES(uTest, cases)         \
    do {                                      \
        if (!CannotRun(uTest).empty())        \
            GTEST_SKIP() << CannotRun(uTest); \
        for (const FaultCase &c : (cases))    \
            ExpectOnlyFault(c);               \
    } while (0)

/* In a pinned run's thread test uTest sends nothing unless asked, queues its
 * errors and percent values for the replay in order and signals the end. */
inline void ExpectPinnedRunQueues(unsigned uTest)
{
    if (!CannotRun(uTest).empty())
        GTEST_SKIP() << CannotRun(uTest);
    g_faults = { { uTest, 1, 0x01, -1, 0x1, 0 } };
    g_DeferErrors = 1;
    TestThreadArgs args = {};
    EXPECT_EQ(kRoutines[uTest].pfn(&args), &args);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(g_TestCond.iSignaled, 1);
    EXPECT_EQ(g_iTestResult, 2);
    ProcessMessages((unsigned)syscall(SYS_gettid));
    EXPECT_EQ(Seen(), Expected(uTest, 1, true, false));
}

#endif /* TESTS_ZOLTCPU_CPU_TEST_EVENTS_H */
