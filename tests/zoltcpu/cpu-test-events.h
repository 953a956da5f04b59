/* cpu-test-events.h - shared by the CPU test-routine tests: captures every
 * message the framework sends (through its send seam), picks the events out
 * of them, and installs a fault hook that XORs chosen values into the
 * observed result of one check. */
#ifndef TESTS_ZOLTCPU_CPU_TEST_EVENTS_H
#define TESTS_ZOLTCPU_CPU_TEST_EVENTS_H

#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "cpu-driver.h"
#include "dapi2.h"
#include "test-fault.h"

/* One event as the engine would see it. */
struct CapturedEvent {
    std::string sType;   /* ERROR, WARN, INFO, PERCENTDONE, ... */
    std::string sText;   /* TEXT element */
    int iCode;           /* EVENTCODE, or -1000 when absent */
};

inline std::vector<std::string> &CapturedMessages()
{
    static std::vector<std::string> s_messages;
    return s_messages;
}

inline int CaptureSend(const char *szMessage)
{
    CapturedMessages().push_back(szMessage);
    return 0;
}

/* Text between <szTag> and </szTag> at or after iFrom; "" when absent. */
inline std::string ElementText(const std::string &s, const char *szTag, size_t iFrom = 0)
{
    std::string sOpen = std::string("<") + szTag + ">";
    std::string sClose = std::string("</") + szTag + ">";
    size_t iStart = s.find(sOpen, iFrom);
    if (iStart == std::string::npos)
        return "";
    iStart += sOpen.size();
    size_t iEnd = s.find(sClose, iStart);
    return iEnd == std::string::npos ? "" : s.substr(iStart, iEnd - iStart);
}

/* The events among the captured messages, in sending order. */
inline std::vector<CapturedEvent> CapturedEvents()
{
    std::vector<CapturedEvent> events;
    for (const std::string &s : CapturedMessages()) {
        size_t iEvent = s.find("<EVENT>");
        if (iEvent == std::string::npos)
            continue;
        CapturedEvent ev;
        ev.sType = ElementText(s, "TYPE", iEvent);
        ev.sText = ElementText(s, "TEXT", iEvent);
        std::string sCode = ElementText(s, "EVENTCODE", iEvent);
        ev.iCode = sCode.empty() ? -1000 : atoi(sCode.c_str());
        events.push_back(ev);
    }
    return events;
}

inline std::vector<CapturedEvent> EventsOfType(const char *szType)
{
    std::vector<CapturedEvent> out;
    for (const CapturedEvent &ev : CapturedEvents())
        if (ev.sType == szType)
            out.push_back(ev);
    return out;
}

/* The percent values sent, in order. */
inline std::vector<int> PercentValues()
{
    std::vector<int> out;
    for (const CapturedEvent &ev : EventsOfType("PERCENTDONE"))
        out.push_back(atoi(ev.sText.c_str()));
    return out;
}

/* The value of token variable szName ("name=value" up to a blank or "/"). */
inline std::string TokenVariable(const std::string &sToken, const char *szName)
{
    std::string sKey = std::string(" ") + szName + "=";
    size_t i = sToken.find(sKey);
    if (i == std::string::npos)
        return "";
    i += sKey.size();
    size_t iEnd = sToken.find_first_of(" /", i);
    return sToken.substr(i, iEnd == std::string::npos ? std::string::npos : iEnd - i);
}

/* The string id of a token ("id=..."). */
inline std::string TokenId(const std::string &sToken)
{
    return TokenVariable(sToken, "id");
}

/* One injected fault: XOR auXor into the observed bytes of the check
 * (uTest, uSubTest, uCheck) for every case when bAllCases, else only for
 * case uCase. */
struct InjectedFault {
    unsigned uTest, uSubTest, uCheck, uCase;
    bool bAllCases;
    uint64_t uXor;       /* XORed into the first min(8, size) bytes */
    unsigned uOffset;    /* byte offset into the observed bytes */
};

inline std::vector<InjectedFault> &InjectedFaults()
{
    static std::vector<InjectedFault> s_faults;
    return s_faults;
}

inline void XorFaultHook(unsigned uTest, unsigned uSubTest, unsigned uCheck, unsigned uCase,
                         void *pObserved, unsigned cbObserved)
{
    for (const InjectedFault &f : InjectedFaults()) {
        if (f.uTest != uTest || f.uSubTest != uSubTest || f.uCheck != uCheck)
            continue;
        if (!f.bAllCases && f.uCase != uCase)
            continue;
        uint8_t *p = static_cast<uint8_t *>(pObserved);
        for (unsigned i = 0; i < 8 && f.uOffset + i < cbObserved; i++)
            p[f.uOffset + i] ^= (uint8_t)(f.uXor >> (8 * i));
    }
}

/* Direct mode (nothing deferred, no busy wait), every message captured, no
 * fault installed. */
class CpuTestFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetDriverState();
        Dapi2_I_ResetEventState();
        g_uBusyWaitTime = 0;
        m_pfnSavedSend = g_pfnDapi2SendMessage;
        g_pfnDapi2SendMessage = CaptureSend;
        CapturedMessages().clear();
        InjectedFaults().clear();
        g_pfnTestFault = XorFaultHook;
    }
    void TearDown() override
    {
        g_pfnTestFault = nullptr;
        g_pfnDapi2SendMessage = m_pfnSavedSend;
        InjectedFaults().clear();
    }
    void Inject(unsigned uTest, unsigned uSubTest, unsigned uCheck, uint64_t uXor,
                unsigned uOffset = 0)
    {
        InjectedFaults().push_back({uTest, uSubTest, uCheck, 0, true, uXor, uOffset});
    }
    void InjectCase(unsigned uTest, unsigned uSubTest, unsigned uCheck, unsigned uCase,
                    uint64_t uXor, unsigned uOffset = 0)
    {
        InjectedFaults().push_back({uTest, uSubTest, uCheck, uCase, false, uXor, uOffset});
    }
    int (*m_pfnSavedSend)(const char *) = nullptr;
};

#endif /* TESTS_ZOLTCPU_CPU_TEST_EVENTS_H */
