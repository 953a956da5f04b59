/* results.cpp - outcomes of test runs, the tally per device and test, and
 * the exit status the totals give. */
#include "results.h"

#include <signal.h>

int PeersOutcomeOf(const PeersInvocation &inv)
{
    if (!inv.bResult) /* killed by the time limit: not tested; else the module broke down */
        return inv.bKilled ? PEERS_OUTCOME_UNTESTED : PEERS_OUTCOME_NOT_RUN;
    static const char *const s_apszUntested[] = { "PRIVILEGEERROR", "NOTAPPLICABLE", "SETUPERROR",
                                                  "BADPARAMS",      "DISCONTINUED",  "BUSY",
                                                  "NOMEDIA" };
    if (inv.sResultWord == "PASS")
        return PEERS_OUTCOME_PASS;
    if (inv.sResultWord == "FAIL")
        return PEERS_OUTCOME_FAIL;
    for (const char *sz : s_apszUntested)
        if (inv.sResultWord == sz)
            return PEERS_OUTCOME_UNTESTED;
    return PEERS_OUTCOME_NOT_RUN; /* no word, or one the protocol does not have */
}

std::string PeersResultWordOf(const PeersInvocation &inv)
{
    if (inv.bResult && !inv.sResultWord.empty())
        return inv.sResultWord;
    return inv.bKilled ? "KILLED" : "NOT-RUN";
}

std::string PeersSignalName(int iSignal)
{
    static const struct {
        int iSignal;
        const char *szName;
    } s_aNames[] = { { SIGILL, "SIGILL" },   { SIGSEGV, "SIGSEGV" }, { SIGBUS, "SIGBUS" },
                     { SIGFPE, "SIGFPE" },   { SIGABRT, "SIGABRT" }, { SIGKILL, "SIGKILL" },
                     { SIGTERM, "SIGTERM" }, { SIGINT, "SIGINT" },   { SIGTRAP, "SIGTRAP" } };
    for (const auto &n : s_aNames)
        if (n.iSignal == iSignal)
            return n.szName;
    return "signal " + std::to_string(iSignal);
}

void PeersRunEndAdd(PeersRunEnd *pEnd, const PeersTestRun &run)
{
    PeersTally *pTally = nullptr;
    for (PeersTally &t : pEnd->vTally)
        if (t.sDevice == run.sDevice && t.iTest == run.iTest)
            pTally = &t;
    if (pTally == nullptr) {
        pEnd->vTally.push_back(PeersTally{ run.sDevice, run.iTest, 0, 0, 0, 0, 0 });
        pTally = &pEnd->vTally.back();
    }
    pTally->iRuns++;
    pTally->ullMs += run.ullDurationMs;
    switch (run.iOutcome) {
    case PEERS_OUTCOME_PASS:
        pTally->iPassed++;
        pEnd->iPassed++;
        break;
    case PEERS_OUTCOME_FAIL:
        pTally->iFailed++;
        pEnd->iFailed++;
        break;
    case PEERS_OUTCOME_UNTESTED:
        pTally->iUntested++;
        pEnd->iUntested++;
        break;
    default:
        pTally->iUntested++;
        pEnd->iNotRun++;
    }
}

int PeersExitOfTotals(const PeersRunEnd &end)
{
    if (end.iFailed > 0)
        return 1;
    if (end.iNotRun > 0)
        return 2;
    return end.iUntested > 0 ? 4 : 0;
}
