/* results.h - what one zoltpeers command found, as the result formats see it:
 * the run's facts (host, versions, devices), one record per test run with its
 * outcome, the tally per device and test, and the exit status they give.
 * The formats build their lines from these records: text (report.cpp,
 * report-table.cpp), json (format-json.cpp), ocptv (format-ocptv.cpp). */
#ifndef ZOLT_PEERS_RESULTS_H
#define ZOLT_PEERS_RESULTS_H

#include <string>
#include <vector>

#include "engine.h"

/* zoltpeers' own version: the project's. */
#ifndef ZOLT_PEERS_VERSION
#define ZOLT_PEERS_VERSION "0"
#endif

/* What one test run came to. */
#define PEERS_OUTCOME_PASS 0
#define PEERS_OUTCOME_FAIL 1     /* the test found a hardware fault */
#define PEERS_OUTCOME_UNTESTED 2 /* a result word that tested nothing, or interrupted */
#define PEERS_OUTCOME_NOT_RUN 3  /* the module could not be started or broke the protocol */
#define PEERS_OUTCOME_CRASHED 4  /* the module died by a signal while a test ran: a failure */
#define PEERS_OUTCOME_HUNG 5     /* the test outlived --limit and was killed: a failure */

/* Where a test ran: logical CPU, core, package and APIC id; -1 when unknown. */
struct PeersCpuPlace {
    int iCpu, iCore, iPackage, iApicId;
};

/* One logical CPU of the processor table; "" where the table says nothing. */
struct PeersMachineCpu {
    PeersCpuPlace place;
    std::string sVendor, sModelName, sMicrocode;
};

/* What identifies the machine (machine-info.cpp); an empty text was not
 * readable and is left out of every record. */
struct PeersMachineInfo {
    std::string sHost, sMachineId, sSerial, sUuid, sKernel;
    std::string sCpuModelName, sCpuFamily, sCpuModel, sCpuStepping, sMicrocode; /* first CPU */
    std::vector<PeersMachineCpu> vCpus; /* every logical CPU, in table order */
};

/* The run's facts, known once the enumeration answered. */
struct PeersRunInfo {
    std::string sCommand, sCommandLine, sHost, sStartTime;
    PeersMachineInfo machine;
    std::string sModule, sDefFile, sModuleVersion; /* version "" when unknown */
    std::vector<PeersDevice> vDevices;
};

/* Identical passes folded into one record (fold.cpp): how many, the last
 * one's start and loop, the fastest and slowest. iCount 1: a single run. */
struct PeersFoldSpan {
    int iCount = 1;
    std::string sLastStart;
    long lLastLoop = 0;
    unsigned long long ullMinMs = 0, ullMaxMs = 0;
};

/* One test run. */
struct PeersTestRun {
    const PeersInvocation *pInv;
    int iDevice, iTest;
    std::string sDevice; /* its name, e.g. "CPU:0" */
    long lLoop;          /* from 1 */
    std::string sStartTime;
    unsigned long long ullDurationMs;
    int iOutcome;        /* PEERS_OUTCOME_* */
    PeersCpuPlace place; /* where it ran; all -1 when the module chose */
    int iRetest;         /* 0: a run of the selection; k: the k-th rerun of a failure */
    int iReproduced;     /* on the last rerun: 1 the failure came again, 0 it did not; else -1 */
    PeersFoldSpan fold;  /* identical passes this record stands for */
};

/* Counts of one device and test over every loop. */
struct PeersTally {
    std::string sDevice;
    int iTest;
    int iRuns, iPassed, iFailed, iUntested, iNotRun; /* failed includes crashed and hung */
    unsigned long long ullMs;
};

/* The end of a run. */
struct PeersRunEnd {
    std::vector<PeersTally> vTally;
    int iPassed, iFailed, iUntested, iNotRun; /* failed includes crashed and hung */
    long lLoops;                              /* loops started */
    unsigned long long ullDurationMs;         /* the whole command */
    std::string sStopReason; /* "", "stop-on-fail", "interrupted", "stop-request" */
    std::string sError;      /* why the module could not be run, or "" */
    int iExitStatus;
};

/* The outcome of a finished run invocation: the module's result word; without
 * one, CRASHED when the module died by a signal, HUNG when it was killed at
 * its time limit, UNTESTED when the operator interrupted it, else NOT_RUN.
 * Every format and the exit status read the verdict from here. */
int PeersOutcomeOf(const PeersInvocation &inv);

/* Whether an outcome is a failure: FAIL, CRASHED or HUNG. */
int PeersOutcomeIsFailure(int iOutcome);

/* "SIGSEGV" for 11; "signal N" for a number without a name. */
std::string PeersSignalName(int iSignal);

/* Counts run into *pEnd (its tally and totals). */
void PeersRunEndAdd(PeersRunEnd *pEnd, const PeersTestRun &run);

/* The exit status the totals give: 1 on a failure, else 2 when something could
 * not be run, else 4 when something was not tested, else 0. */
int PeersExitOfTotals(const PeersRunEnd &end);

/* Result word for the records: the module's word, or CRASHED, HUNG, KILLED
 * (interrupted) or NOT-RUN. */
std::string PeersResultWordOf(const PeersInvocation &inv);


/* ---- json format (version 2), one object per line ---- */
std::string PeersJsonRunStart(const PeersRunInfo &info);
std::string PeersJsonTestRun(const PeersTestRun &run);
std::string PeersJsonSysInfo(const PeersInvocation &inv);
/* szCheck: "module" (the module answered) or "definitions" (the module answers
 * no validation requests; the parameters were checked against the definitions
 * file only). */
std::string PeersJsonValidation(const PeersInvocation &inv, const char *szCheck);
std::string PeersJsonRunEnd(const PeersRunEnd &end);

/* ---- ocptv format: line-delimited artifacts with consecutive numbers ---- */
struct PeersOcptv {
    long lSequence; /* of the next artifact */
    int iNextStep;  /* testStepId of the next step */
};
void PeersOcptvInit(PeersOcptv *pOc);
std::vector<std::string> PeersOcptvRunStart(PeersOcptv *pOc, const PeersRunInfo &info);
std::vector<std::string> PeersOcptvTestRun(PeersOcptv *pOc, const PeersTestRun &run);
/* A testRunArtifact log line (severity INFO, WARNING, ERROR). */
std::string PeersOcptvRunLog(PeersOcptv *pOc, const char *szSeverity, const std::string &sText);
/* The run's errors (the module could not be run, an interruption) and testRunEnd. */
std::vector<std::string> PeersOcptvRunEnd(PeersOcptv *pOc, const PeersRunEnd &end);
/* The hardwareInfoIds of a device (a processor package) and of a logical CPU. */
std::string PeersOcptvPackageId(int iDevice);
std::string PeersOcptvCpuId(int iCpu);

/* ---- text format: the closing table ---- */
std::vector<std::string> PeersTextTable(const PeersRunEnd &end);

#endif
