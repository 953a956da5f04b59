/* cpu-test-events.h - shared by the tests of the CPU test routines: captures
 * the events the framework sends (through its send seam) and installs a fault
 * hook that XORs chosen values into the observed result of one check. */
#ifndef TESTS_ZOLTCPU_CPU_TEST_EVENTS_H
#define TESTS_ZOLTCPU_CPU_TEST_EVENTS_H

#include <gtest/gtest.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "cpu-driver.h"
#include "dapi2.h"
#include "test-fault.h"

/* One event as the engine would see it; iCode -1000 when it has none. */
struct CapturedEvent {
    std::string sType, sText;
    int iCode;
};

inline std::vector<CapturedEvent> g_events;   /* in sending order */

/* Text between <szTag> and </szTag> after iFrom; "" when absent. */
inline std::string ElementText(const std::string &s, const char *szTag, size_t iFrom)
{
    const std::string sOpen = std::string("<") + szTag + ">";
    size_t iStart = s.find(sOpen, iFrom);
    if (iStart == std::string::npos)
        return "";
    iStart += sOpen.size();
    size_t iEnd = s.find(std::string("</") + szTag + ">", iStart);
    return iEnd == std::string::npos ? "" : s.substr(iStart, iEnd - iStart);
}

inline int CaptureSend(const char *szMessage)
{
    const std::string s = szMessage;
    size_t iEvent = s.find("<EVENT>");
    if (iEvent != std::string::npos) {
        std::string sCode = ElementText(s, "EVENTCODE", iEvent);
        g_events.push_back({ElementText(s, "TYPE", iEvent), ElementText(s, "TEXT", iEvent),
                                    sCode.empty() ? -1000 : atoi(sCode.c_str())});
    }
    return 0;
}

/* The value of token variable szName ("name=value" up to a blank or "/");
 * "id" gives the string id. */
inline std::string TokenVariable(const std::string &sToken, const char *szName)
{
    const std::string sKey = std::string(" ") + szName + "=";
    size_t i = sToken.find(sKey);
    if (i == std::string::npos)
        return "";
    i += sKey.size();
    return sToken.substr(i, sToken.find_first_of(" /", i) - i);
}

/* The events sent, as "INFO id" (left out unless bInfos), "PERCENTDONE n"
 * and "TYPE code id" (the whole text where it is no token). */
inline std::vector<std::string> Seen(bool bInfos = true)
{
    std::vector<std::string> v;
    for (const CapturedEvent &ev : g_events) {
        std::string sId = TokenVariable(ev.sText, "id");
        if (sId.empty())
            sId = ev.sText;
        if (ev.sType == "PERCENTDONE" || (ev.sType == "INFO" && bInfos))
            v.push_back(ev.sType + " " + sId);
        else if (ev.sType != "INFO")
            v.push_back(ev.sType + " " + std::to_string(ev.iCode) + " " + sId);
    }
    return v;
}

/* Seen() joined by "|". */
inline std::string SeenText(bool bInfos = true)
{
    std::string s;
    for (const std::string &sEvent : Seen(bInfos))
        s += (s.empty() ? "" : "|") + sEvent;
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

inline void XorFaultHook(unsigned uTest, unsigned uSubTest, unsigned uCheck, unsigned uCase,
                         void *pObserved, unsigned cbObserved)
{
    for (const InjectedFault &f : g_faults) {
        if (f.uTest != uTest || f.uSubTest != uSubTest || f.uCheck != uCheck ||
            (f.iCase >= 0 && (unsigned)f.iCase != uCase))
            continue;
        uint8_t *p = static_cast<uint8_t *>(pObserved);
        for (unsigned i = 0; i < 8 && f.uOffset + i < cbObserved; i++)
            p[f.uOffset + i] ^= (uint8_t)(f.uXor >> (8 * i));
    }
}

/* Direct mode (nothing deferred, no busy wait), every event captured, the
 * fault hook installed with no fault. */
class CpuTestFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pfnSend = g_pfnDapi2SendMessage;
        g_pfnDapi2SendMessage = CaptureSend;
        g_pfnTestFault = XorFaultHook;
        Fresh();
    }
    /* Driver and event state, captured events and faults as at the start. */
    void Fresh()
    {
        ResetDriverState();
        Dapi2_I_ResetEventState();
        g_events.clear();
        g_faults.clear();
    }
    void TearDown() override
    {
        g_pfnTestFault = nullptr;
        g_pfnDapi2SendMessage = m_pfnSend;
        ResetDriverState();
    }
    int (*m_pfnSend)(const char *) = nullptr;
};

#endif /* TESTS_ZOLTCPU_CPU_TEST_EVENTS_H */
