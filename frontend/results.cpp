/* results.cpp - outcomes of test runs (the one place a verdict is decided), the tally per device and test, and
 * the exit status the totals give. */
#include "results.h"

#include <string.h>

/* The outcome of a run invocation that sent no result word: a signal, or the
 * time limit once the test began (connected, its device list answered), is a
 * failure; an interruption by the operator tested nothing; otherwise the
 * module could not be run. */
static int OutcomeWithoutResult(const PeersInvocation &inv)
{
    if (inv.bStartFailed)
        return PEERS_OUTCOME_NOT_RUN;
    if (inv.bKilled && inv.bInterrupted)
        return PEERS_OUTCOME_UNTESTED;
    if (inv.bKilled)
        return inv.bConnected && inv.iDeviceListAnswers >= inv.iDeviceListRequests
                   ? PEERS_OUTCOME_HUNG
                   : PEERS_OUTCOME_NOT_RUN;
    return inv.iSignal != 0 ? PEERS_OUTCOME_CRASHED : PEERS_OUTCOME_NOT_RUN;
}

int PeersOutcomeOf(const PeersInvocation &inv)
{
    if (!inv.bResult)
        return OutcomeWithoutResult(inv);
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

int PeersOutcomeIsFailure(int iOutcome)
{
    return iOutcome == PEERS_OUTCOME_FAIL || iOutcome == PEERS_OUTCOME_CRASHED ||
           iOutcome == PEERS_OUTCOME_HUNG;
}

std::string PeersResultWordOf(const PeersInvocation &inv)
{
    if (inv.bResult && !inv.sResultWord.empty())
        return inv.sResultWord;
    switch (PeersOutcomeOf(inv)) {
    case PEERS_OUTCOME_CRASHED:
        return "CRASHED";
    case PEERS_OUTCOME_HUNG:
        return "HUNG";
    case PEERS_OUTCOME_UNTESTED:
        return "KILLED"; /* the operator interrupted the run */
    default:
        return "NOT-RUN";
    }
}

std::string PeersSignalName(int iSignal)
{
    const char *sz = iSignal > 0 ? sigabbrev_np(iSignal) : nullptr;
    return sz != nullptr ? std::string("SIG") + sz : "signal " + std::to_string(iSignal);
}

void PeersRunEndAdd(PeersRunEnd *pEnd, const PeersTestRun &run)
{
    PeersTally *pTally = nullptr;
    for (PeersTally &t : pEnd->vTally)
        if (t.sDevice == run.sDevice && t.iTest == run.iTest)
            pTally = &t;
    if (pTally == nullptr) {
        pEnd->vTally.push_back(PeersTally{ run.sDevice, run.iTest, 0, 0, 0, 0, 0, 0 });
        pTally = &pEnd->vTally.back();
    }
    pTally->iRuns++;
    pTally->ullMs += run.ullDurationMs;
    switch (run.iOutcome) {
    case PEERS_OUTCOME_PASS:
        pTally->iPassed++;
        pEnd->iPassed++;
        break;
    case PEERS_OUTCOME_UNTESTED:
        pTally->iUntested++;
        pEnd->iUntested++;
        break;
    case PEERS_OUTCOME_NOT_RUN:
        pTally->iNotRun++;
        pEnd->iNotRun++;
        break;
    default: /* FAIL, CRASHED, HUNG */
        pTally->iFailed++;
        pEnd->iFailed++;
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
