/* engine.h - the stand-in diagnostic engine (DIAGENGINE): the command lines of
 * the four module modes, the devices that modules reported, the answers to
 * device-list requests and GET_TIMEOUT, the STOPTESTING command, and the
 * record of everything one module invocation sent (notifications, events,
 * enumeration, system information, validation results).
 * DESIGN: single-threaded. Messages arrive through PeersEngineHandleMessage
 * (called by the broker); answers leave through the send hook pfnSend, so the
 * engine can be driven without FIFOs. Timed actions (a delayed device list, a
 * stop after N ms) wait in vPending until PeersEngineTick sends them. */
#ifndef ZOLT_PEERS_ENGINE_H
#define ZOLT_PEERS_ENGINE_H

#include <string>
#include <vector>

#include "nls-engine.h"
#include "peers-common.h"

/* Type of the message that carries engine commands to a module. */
#define PEERS_TYPE_DAPI_COMMAND "DAPI_COMMAND"
/* Type of the device-list answer (the module finds it by RE). */
#define PEERS_TYPE_DEVICE_LIST "DE_DEVICELIST"

/* One event of a test, as sent and as translated. */
struct PeersEvent {
    std::string sType;    /* PROGRESS, PERCENTDONE, INFO, WARN, ERROR, SET_TIMEOUT, ... */
    std::string sText;    /* TEXT as sent (NLS tags with variables) */
    std::string sEnglish; /* TEXT with its tags translated */
    int bHasCode;
    int iCode; /* EVENTCODE */
    std::string sTestProcessId;
};

/* One device of an enumeration report (or of a device list). */
struct PeersDevice {
    int iId; /* DID, -1 when missing */
    std::string sName, sDescription, sOsLocator, sHwLocator, sDevType, sBusType, sTests;
    std::string sXml; /* the whole DEVICE element, as reported */
};

/* One SYSINFO element of a system-information answer. */
struct PeersSysInfoItem {
    std::string sKey, sDescription;
    std::vector<std::string> vValues;
};

/* One PARAMETER of a validation answer. */
struct PeersParamResult {
    std::string sId, sValidFlag, sMin, sMax;
    int bHasMin, bHasMax;
};

/* What one module invocation did, as the peers saw it. */
struct PeersInvocation {
    std::string sMode;              /* "enumerate", "run", "sysinfo", "validate" */
    int bPrelude;                   /* run only to prepare the request asked for */
    std::vector<std::string> vArgv; /* the module's command line, argv[0] first */
    int iDevice, iTest;             /* run / validate / sysinfo: what was asked */
    long lPid;                      /* module process; 0: any process (serving) */
    long lGroup;                    /* process group started for it (0: none); its
                                       STARTUP makes the sender lPid */
    int bStartFailed;               /* the program could not be started */
    int iExitStatus;                /* -1 unknown; else the exit status */
    int iSignal;                    /* signal that ended it, 0 none */
    int bKilled;                    /* outlived its limit (or an interruption) and was killed */
    int bInterrupted;               /* zoltpeers itself was interrupted meanwhile */
    int bConnected;                 /* STARTUP seen */
    int bStartupNote, bShutdownNote, bStopSeen;
    long lStartupFrom; /* process that sent the startup notification */
    std::string sStartupType, sVersion;
    int bResult;
    std::string sResultWord, sResultProcessId;
    std::vector<PeersEvent> vEvents;
    std::vector<int> vPercents;
    int bEnumData;
    std::vector<PeersDevice> vDevices;
    int bSysInfo;
    int iSysInfoDevices; /* DEVICE elements in the answer */
    std::string sSysInfoRe;
    std::vector<PeersSysInfoItem> vSysInfo;
    int bValidation;
    std::string sValidationRe;
    std::vector<PeersParamResult> vParams;
    int iDeviceListRequests, iDeviceListAnswers;
    int iTimeoutRequests;
    int bStopSent;
    std::string sModuleOutput; /* what the module printed (stdout, stderr) */
    unsigned long long ullStartMs, ullStartupNoteMs, ullEndMs;
};

/* Devices the engine keeps for one module name (from its latest enumeration). */
struct PeersKnownModule {
    std::string sName;
    std::vector<PeersDevice> vDevices;
};

/* A message waiting for its time (delayed answers, timed stops). */
struct PeersPending {
    unsigned long long ullDueMs;
    long lToPid;
    std::string sMessage;
    int bIsStop;
};

/* Sends sMessage to process lToPid; returns 0 sent or queued, else non-zero. */
typedef int (*PeersSendFn)(void *pCtx, long lToPid, const std::string &sMessage);

struct PeersEngine {
    const PeersOptions *pOpt;
    const PeersNls *pNls; /* translates event texts */
    PeersSendFn pfnSend;
    void *pSendCtx;
    std::vector<PeersKnownModule> vKnown;
    PeersInvocation *pCur; /* the invocation under way, or null */
    std::vector<PeersPending> vPending;
    int bSplitComponents; /* one COMPONENT per device in device lists */
    int iLastTimeoutSet;  /* last SET_TIMEOUT value, -1 none */
    int iNextRequestId;   /* reid= / sysinfo request ids */
    int iNextProcessId;   /* process= values */
};

/* Prepares the engine. pOpt and pNls must outlive it. */
void PeersEngineInit(PeersEngine *pEngine, const PeersOptions *pOpt, const PeersNls *pNls,
                     PeersSendFn pfnSend, void *pSendCtx);

/* Empties an invocation record for mode szMode. */
void PeersInvocationInit(PeersInvocation *pInv, const char *szMode);

/* Handles one MSG addressed to DIAGENGINE or to the peers' own process id,
 * sent by process lFrom whose STARTUP named it szModuleName (may be ""):
 * records it in the current invocation and answers device lists, GET_TIMEOUT
 * and the startup notification (stop right after it, when asked).
 * Returns 0 handled, 1 recorded without a known meaning, 2 not a message. */
int PeersEngineHandleMessage(PeersEngine *pEngine, const char *szMsg, long lFrom,
                             const char *szModuleName);

/* Sends whatever in vPending is due at ullNowMs, and the timed STOPTESTING.
 * Returns the number of messages sent. */
int PeersEngineTick(PeersEngine *pEngine, unsigned long long ullNowMs);

/* How long a service round starting at ullNowMs may wait for input before
 * PeersEngineTick has something to send: 0 to PEERS_POLL_MS. */
int PeersEngineWaitMs(const PeersEngine *pEngine, unsigned long long ullNowMs);

/* Sends STOPTESTING to process lPid now. Returns the send result. */
int PeersEngineSendStop(PeersEngine *pEngine, long lPid);

/* Replaces the devices kept for szModule (adds the module when new). */
void PeersEngineSetDevices(PeersEngine *pEngine, const char *szModule,
                           const std::vector<PeersDevice> &vDevices);
/* The devices kept for szModule (compared without regard to case), or null. */
const std::vector<PeersDevice> *PeersEngineGetDevices(const PeersEngine *pEngine,
                                                      const char *szModule);

/* The whole DATA element answering "LIST_DEVICES:<module>" (szModule null or
 * "": every module, one COMPONENT each), padded to the padding switch. */
std::string PeersEngineDeviceListData(const PeersEngine *pEngine, const char *szModule);

/* Parses every DEVICE element of szText at path szPath (e.g. "MSG/DATA/DEVICE")
 * in one pass. Devices without DID keep -1. Returns 0, or 1 when the parse was
 * cut short (vOut then partial): zoltpeers was interrupted, or the clock
 * passed ullDeadlineMs (PeersNowMs; 0: no limit). */
int PeersParseDevices(const char *szText, const char *szPath, std::vector<PeersDevice> &vOut,
                      unsigned long long ullDeadlineMs = 0);

/* Tests a device offers: "*" (or empty) gives 0 to 3; otherwise the listed
 * numbers count from 1 ("1,2,4" gives 0, 1 and 3). */
std::vector<int> PeersSupportedTests(const std::string &sTests);

/* Command lines of the four modes (argv[0] = szModule). */
std::vector<std::string> PeersEnumerateArgs(const char *szModule, const char *szDefFile,
                                            const char *szRef, const char *szFifo);
std::vector<std::string> PeersRunArgs(const char *szModule, const char *szDefFile,
                                      const char *szRef, int iDevice, int iTest,
                                      const char *szProcess, const char *szFifo,
                                      const std::vector<std::string> &vParams, int iErrLimit);
std::vector<std::string> PeersSysInfoArgs(const char *szModule, long lRequester, int iRequestId,
                                          const char *szHwLocator, const char *szDefFile,
                                          const char *szModuleName);
std::vector<std::string> PeersValidateArgs(const char *szModule, const char *szDefFile,
                                           const char *szRef, int iDevice, int iTest,
                                           const char *szProcess, const char *szFifo, long lSender,
                                           int iRequestId, const std::vector<std::string> &vParams);

#endif
