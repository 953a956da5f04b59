/* fault-env.cpp - linked only into the fault-injection build of the module
 * (fault-bin/zoltcpu.linux, never installed): installs the CPU tests' fault
 * hook from the environment variable ZOLT_FAULT before main runs, so that an
 * end-to-end test can make one check of a real run observe a wrong value.
 * ZOLT_FAULT lists faults separated by ';', each "test:subtest:check:case:xor"
 * with an optional ":offset" (numbers in C notation, case "*" for every case).
 * The observed bytes at the offset are XORed with the 64-bit value. */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "test-fault.h"

namespace {

struct EnvFault {
    unsigned uTest, uSubTest, uCheck, uCase;
    bool bAllCases;
    uint64_t uXor;
    unsigned uOffset;
};

std::vector<EnvFault> &EnvFaults()
{
    static std::vector<EnvFault> s_faults;
    return s_faults;
}

void EnvFaultHook(unsigned uTest, unsigned uSubTest, unsigned uCheck, unsigned uCase,
                  void *pObserved, unsigned cbObserved)
{
    for (const EnvFault &f : EnvFaults()) {
        if (f.uTest != uTest || f.uSubTest != uSubTest || f.uCheck != uCheck)
            continue;
        if (!f.bAllCases && f.uCase != uCase)
            continue;
        uint8_t *p = static_cast<uint8_t *>(pObserved);
        for (unsigned i = 0; i < 8 && f.uOffset + i < cbObserved; i++)
            p[f.uOffset + i] ^= (uint8_t)(f.uXor >> (8 * i));
    }
}

/* Parses one "test:subtest:check:case:xor[:offset]"; 0 on success, 1 when a
 * field is missing or not a number. */
int ParseFault(const char *szText, EnvFault *pFault)
{
    uint64_t auField[6] = {0, 0, 0, 0, 0, 0};
    const char *p = szText;
    int iFields = 0;
    pFault->bAllCases = false;
    while (iFields < 6) {
        char *pEnd = nullptr;
        if (iFields == 3 && *p == '*') {
            pFault->bAllCases = true;
            pEnd = const_cast<char *>(p + 1);
        } else {
            auField[iFields] = strtoull(p, &pEnd, 0);
            if (pEnd == p)
                return 1;
        }
        iFields++;
        if (*pEnd != ':') {
            if (*pEnd != '\0')
                return 1;
            break;
        }
        p = pEnd + 1;
    }
    if (iFields < 5)
        return 1;
    pFault->uTest = (unsigned)auField[0];
    pFault->uSubTest = (unsigned)auField[1];
    pFault->uCheck = (unsigned)auField[2];
    pFault->uCase = (unsigned)auField[3];
    pFault->uXor = auField[4];
    pFault->uOffset = (unsigned)auField[5];
    return 0;
}

struct InstallFromEnvironment {
    InstallFromEnvironment()
    {
        const char *szEnv = getenv("ZOLT_FAULT");
        if (szEnv == nullptr || *szEnv == '\0')
            return;
        char szCopy[1024];
        strncpy(szCopy, szEnv, sizeof szCopy - 1);
        szCopy[sizeof szCopy - 1] = '\0';
        char *pSave = nullptr;
        for (char *pTok = strtok_r(szCopy, ";", &pSave); pTok != nullptr;
             pTok = strtok_r(nullptr, ";", &pSave)) {
            EnvFault fault = {};
            if (ParseFault(pTok, &fault) == 0)
                EnvFaults().push_back(fault);
        }
        if (!EnvFaults().empty())
            g_pfnTestFault = EnvFaultHook;
    }
} s_installFromEnvironment;

}  // namespace
