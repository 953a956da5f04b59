/* fault-env.cpp - linked only into the fault-injection build of the module
 * (fault-bin/zoltcpu.linux, never installed): installs the CPU tests' fault
 * hook from the environment variable ZOLT_FAULT before main runs, so that an
 * end-to-end test can make one check of a real run observe a wrong value.
 * ZOLT_FAULT lists faults separated by ';', each "test:subtest:check:case:xor"
 * with an optional ":offset" (numbers in C notation, case "*" for every case).
 * The observed bytes at the offset are XORed with the 64-bit value. With
 * ZOLT_FAULT_SIGNAL=N the first fault met raises signal N instead, as a
 * defective core would (11 SIGSEGV, 4 SIGILL); with ZOLT_FAULT_SIGNAL=hang
 * the test waits there for ever. */
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test-fault.h"

namespace {

/* test, subtest, check, case, xor, offset; every case */
struct EnvFault {
    uint64_t auField[6];
    bool bAllCases;
};

std::vector<EnvFault> g_vEnvFaults;
int g_iEnvSignal = 0; /* ZOLT_FAULT_SIGNAL, 0 none, -1 hang */

void EnvFaultHook(unsigned uTest, unsigned uSubTest, unsigned uCheck, unsigned uCase,
                  void *pObserved, unsigned cbObserved)
{
    for (const EnvFault &f : g_vEnvFaults) {
        if (f.auField[0] != uTest || f.auField[1] != uSubTest || f.auField[2] != uCheck ||
            (!f.bAllCases && f.auField[3] != uCase))
            continue;
        if (g_iEnvSignal > 0) { /* the default action, past any handler (the sanitizers') */
            signal(g_iEnvSignal, SIG_DFL);
            raise(g_iEnvSignal);
        }
        while (g_iEnvSignal < 0)
            pause();
        uint8_t *p = static_cast<uint8_t *>(pObserved);
        for (uint64_t i = 0; i < 8 && f.auField[5] + i < cbObserved; i++)
            p[f.auField[5] + i] ^= (uint8_t)(f.auField[4] >> (8 * i));
    }
}

/* Parses one "test:subtest:check:case:xor[:offset]"; false when a field is
 * missing or not a number. */
bool ParseFault(const std::string &s, EnvFault *pFault)
{
    *pFault = EnvFault{};
    const char *p = s.c_str();
    for (int i = 0; i < 6; i++) {
        char *pEnd = const_cast<char *>(p + 1);
        if (i == 3 && *p == '*')
            pFault->bAllCases = true;
        else
            pFault->auField[i] = strtoull(p, &pEnd, 0);
        if (pEnd == p || (*pEnd != ':' && *pEnd != '\0'))
            return false;
        if (*pEnd == '\0')
            return i >= 4;
        p = pEnd + 1;
    }
    return false;
}

struct InstallFromEnvironment {
    InstallFromEnvironment()
    {
        const char *szEnv = getenv("ZOLT_FAULT");
        std::string sAll = szEnv ? szEnv : "";
        for (size_t uStart = 0; uStart < sAll.size();) {
            size_t uEnd = sAll.find(';', uStart);
            uEnd = uEnd == std::string::npos ? sAll.size() : uEnd;
            EnvFault fault;
            if (ParseFault(sAll.substr(uStart, uEnd - uStart), &fault))
                g_vEnvFaults.push_back(fault);
            uStart = uEnd + 1;
        }
        const char *szSignal = getenv("ZOLT_FAULT_SIGNAL");
        g_iEnvSignal = !szSignal ? 0 : (strcmp(szSignal, "hang") == 0 ? -1 : atoi(szSignal));
        if (!g_vEnvFaults.empty())
            g_pfnTestFault = EnvFaultHook;
    }
} s_installFromEnvironment;

}  // namespace
