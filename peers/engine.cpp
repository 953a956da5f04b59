/* engine.cpp - the stand-in diagnostic engine: records what a module sends,
 * answers device lists and GET_TIMEOUT, sends STOPTESTING, and builds the
 * command lines of the module's four modes. */
#include "engine.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <functional>

#include "message-protocol.h"
#include "peers-observer.h"
#include "session.h"

/* Prepares the engine with no devices and no invocation. */
void PeersEngineInit(PeersEngine *pEngine, const PeersOptions *pOpt, const PeersNls *pNls,
                     PeersSendFn pfnSend, void *pSendCtx)
{
    pEngine->pOpt = pOpt;
    pEngine->pNls = pNls;
    pEngine->pfnSend = pfnSend;
    pEngine->pSendCtx = pSendCtx;
    pEngine->vKnown.clear();
    pEngine->pCur = nullptr;
    pEngine->vPending.clear();
    pEngine->bSplitComponents = 0;
    pEngine->iLastTimeoutSet = -1;
    pEngine->iNextRequestId = 1;
    pEngine->iNextProcessId = 1;
}

/* Empties an invocation record. */
void PeersInvocationInit(PeersInvocation *pInv, const char *szMode)
{
    *pInv = PeersInvocation();
    pInv->sMode = szMode ? szMode : "";
    pInv->bPrelude = 0;
    pInv->iDevice = -1;
    pInv->iTest = -1;
    pInv->lPid = 0;
    pInv->lGroup = 0;
    pInv->bStartFailed = 0;
    pInv->iExitStatus = -1;
    pInv->iSignal = 0;
    pInv->bKilled = 0;
    pInv->bInterrupted = 0;
    pInv->bConnected = 0;
    pInv->bStartupNote = 0;
    pInv->bShutdownNote = 0;
    pInv->bStopSeen = 0;
    pInv->lStartupFrom = 0;
    pInv->bResult = 0;
    pInv->bEnumData = 0;
    pInv->bSysInfo = 0;
    pInv->iSysInfoDevices = 0;
    pInv->bValidation = 0;
    pInv->iDeviceListRequests = 0;
    pInv->iDeviceListAnswers = 0;
    pInv->iTimeoutRequests = 0;
    pInv->bStopSent = 0;
    pInv->ullStartMs = 0;
    pInv->ullStartupNoteMs = 0;
    pInv->ullEndMs = 0;
}

/* Decimal text of a process id. */
static std::string PidText(long lPid)
{
    char szPid[32];
    snprintf(szPid, sizeof szPid, "%ld", lPid);
    return szPid;
}

/* Sends now through the hook. */
static int Send(PeersEngine *pEngine, long lToPid, const std::string &sMsg)
{
    if (pEngine->pfnSend == nullptr)
        return 1;
    return pEngine->pfnSend(pEngine->pSendCtx, lToPid, sMsg);
}

/* Sends STOPTESTING to lPid now. Returns the send result (or the build code). */
int PeersEngineSendStop(PeersEngine *pEngine, long lPid)
{
    std::string sMsg;
    int iRc =
        PeersBuildMessage(PidText(lPid).c_str(), nullptr, PEERS_TYPE_DAPI_COMMAND,
                          "<DATA><DAPICOMMANDTYPE>STOPTESTING</DAPICOMMANDTYPE></DATA>", sMsg);
    if (iRc != 0)
        return iRc;
    if (pEngine->pCur != nullptr)
        pEngine->pCur->bStopSent = 1;
    return Send(pEngine, lPid, sMsg);
}

/* Replaces (or adds) the devices kept for szModule. */
void PeersEngineSetDevices(PeersEngine *pEngine, const char *szModule,
                           const std::vector<PeersDevice> &vDevices)
{
    for (PeersKnownModule &m : pEngine->vKnown) {
        if (strcasecmp(m.sName.c_str(), szModule) == 0) {
            m.vDevices = vDevices;
            return;
        }
    }
    PeersKnownModule m;
    m.sName = szModule;
    m.vDevices = vDevices;
    pEngine->vKnown.push_back(m);
}

/* The devices kept for szModule (case-insensitive), or null. */
const std::vector<PeersDevice> *PeersEngineGetDevices(const PeersEngine *pEngine,
                                                      const char *szModule)
{
    for (const PeersKnownModule &m : pEngine->vKnown)
        if (szModule != nullptr && strcasecmp(m.sName.c_str(), szModule) == 0)
            return &m.vDevices;
    return nullptr;
}

/* One COMPONENT element (or one per device when split) of a module. */
static void AppendComponents(const PeersEngine *pEngine, const PeersKnownModule &m,
                             std::string &sOut)
{
    std::string sHead = "<COMPONENT><MODULE_NAME>" + m.sName + "</MODULE_NAME>";
    if (pEngine->bSplitComponents && !m.vDevices.empty()) {
        for (const PeersDevice &d : m.vDevices)
            sOut += sHead + d.sXml + "</COMPONENT>";
        return;
    }
    sOut += sHead;
    for (const PeersDevice &d : m.vDevices)
        sOut += d.sXml;
    sOut += "</COMPONENT>";
}

/* DATA element of a device-list answer. */
std::string PeersEngineDeviceListData(const PeersEngine *pEngine, const char *szModule)
{
    std::string sData = "<DATA>";
    int bFound = 0;
    for (const PeersKnownModule &m : pEngine->vKnown) {
        if (szModule == nullptr || *szModule == '\0' ||
            strcasecmp(m.sName.c_str(), szModule) == 0) {
            AppendComponents(pEngine, m, sData);
            bFound = 1;
        }
    }
    if (!bFound) { /* an unknown module still gets a component: with no devices */
        PeersKnownModule none;
        none.sName = szModule ? szModule : "";
        AppendComponents(pEngine, none, sData);
    }
    int iPad = pEngine->pOpt ? pEngine->pOpt->iDeviceListPadBytes : 0;
    if ((int)sData.size() + 26 < iPad) {
        /* filler the module's parser passes over; it makes the answer travel
         * in many frames */
        size_t uFill = (size_t)iPad - sData.size() - 26; /* 26: the three tags */
        sData += "<PADDING>" + std::string(uFill, 'x') + "</PADDING>";
    }
    sData += "</DATA>";
    return sData;
}

/* 1 when a parse is to stop now: zoltpeers was interrupted, or the module's
 * time limit (ullDeadlineMs, 0: none) has passed. */
static int ParseMustStop(unsigned long long ullDeadlineMs)
{
    return g_iPeersInterrupted != 0 || (ullDeadlineMs != 0 && PeersNowMs() > ullDeadlineMs);
}

/* Calls fn with the inside of every element at szPath of szText (up to
 * szEnd), in order, in one pass over the text. Returns 0, or 1 when it was
 * cut short (ParseMustStop; checked every 64 elements). */
static int WalkFields(const char *szText, const char *szEnd, const char *szPath,
                      unsigned long long ullDeadlineMs,
                      const std::function<void(const std::string &)> &fn)
{
    ZoltXmlWalk walk;
    if (szText == nullptr || ZoltXmlWalkInit(&walk, szText, szEnd, szPath) != 0)
        return 0;
    CGenStr str;
    if (!CGenStrInit(&str))
        return 0;
    int iCut = 0;
    for (unsigned n = 0; ZoltXmlWalkNext(&walk, &str) == 0; n++) {
        if ((n & 63) == 63 && ParseMustStop(ullDeadlineMs)) {
            iCut = 1;
            break;
        }
        fn(std::string(CGenStrC_Str(&str)));
    }
    CGenStrDelete(&str);
    return iCut;
}

/* The limit of the invocation's module (0: none). */
static unsigned long long ParseDeadline(const PeersEngine *pEngine, const PeersInvocation *pInv)
{
    if (pInv == nullptr || pEngine->pOpt == nullptr || pEngine->pOpt->iModuleLimitMs <= 0 ||
        pInv->ullStartMs == 0)
        return 0;
    return pInv->ullStartMs + (unsigned long long)pEngine->pOpt->iModuleLimitMs;
}

/* Parses every DEVICE element at szPath, one pass over the text. */
int PeersParseDevices(const char *szText, const char *szPath, std::vector<PeersDevice> &vOut,
                      unsigned long long ullDeadlineMs)
{
    vOut.clear();
    const char *szEnd = szText != nullptr ? szText + strlen(szText) : nullptr;
    return WalkFields(szText, szEnd, szPath, ullDeadlineMs, [&](const std::string &sDev) {
        PeersDevice d;
        std::string sDid;
        d.iId = PeersGetField(sDev.c_str(), "DID", 0, sDid) == 0 && !sDid.empty()
                    ? (int)strtol(sDid.c_str(), nullptr, 10)
                    : -1;
        PeersGetField(sDev.c_str(), "NAME", 0, d.sName);
        PeersGetField(sDev.c_str(), "DESCRIPTION", 0, d.sDescription);
        PeersGetField(sDev.c_str(), "OSLOCATOR", 0, d.sOsLocator);
        PeersGetField(sDev.c_str(), "HWLOCATOR", 0, d.sHwLocator);
        PeersGetField(sDev.c_str(), "DEVTYPE", 0, d.sDevType);
        PeersGetField(sDev.c_str(), "BUSTYPE", 0, d.sBusType);
        PeersGetField(sDev.c_str(), "TESTS_SUPPORTED", 0, d.sTests);
        d.sXml = "<DEVICE>" + sDev + "</DEVICE>";
        vOut.push_back(d);
    });
}

/* Tests offered by a tests-supported text. */
std::vector<int> PeersSupportedTests(const std::string &sTests)
{
    std::vector<int> vTests;
    if (sTests.empty() || sTests == "*") {
        for (int i = 0; i <= 3; i++)
            vTests.push_back(i);
        return vTests;
    }
    const char *p = sTests.c_str();
    while (*p != '\0') {
        char *pEnd = nullptr;
        long lNum = strtol(p, &pEnd, 10);
        if (pEnd == p) {
            p++;
            continue;
        }
        if (lNum >= 1 && lNum <= 1000)
            vTests.push_back((int)lNum - 1);
        p = pEnd;
    }
    return vTests;
}

/* Records one DE_EVENT and answers GET_TIMEOUT. */
static void HandleEvent(PeersEngine *pEngine, PeersInvocation *pInv, const char *szMsg, long lFrom)
{
    PeersEvent ev;
    std::string sCode;
    PeersGetField(szMsg, "MSG/DATA/EVENT/TYPE", 0, ev.sType);
    PeersGetField(szMsg, "MSG/DATA/EVENT/TESTPROCESSID", 0, ev.sTestProcessId);
    if (PeersGetField(szMsg, "MSG/DATA/EVENT/TEXT", 0, ev.sText) != 0)
        PeersGetField(szMsg, "MSG/DATA/EVENT/TIMEOUT_VALUE", 0, ev.sText);
    ev.bHasCode = PeersGetField(szMsg, "MSG/DATA/EVENT/EVENTCODE", 0, sCode) == 0;
    ev.iCode = ev.bHasCode ? (int)strtol(sCode.c_str(), nullptr, 10) : 0;
    ev.sEnglish =
        pEngine->pNls ? PeersNlsTranslateText(pEngine->pNls, ev.sText.c_str(), lFrom) : ev.sText;

    if (ev.sType == "PERCENTDONE" && pInv != nullptr)
        pInv->vPercents.push_back((int)strtol(ev.sText.c_str(), nullptr, 10));
    if (ev.sType == "SET_TIMEOUT")
        pEngine->iLastTimeoutSet = (int)strtol(ev.sText.c_str(), nullptr, 10);
    if (ev.sType == "GET_TIMEOUT") {
        if (pInv != nullptr)
            pInv->iTimeoutRequests++;
        if (pEngine->pOpt == nullptr || !pEngine->pOpt->bNoTimeoutAnswer) {
            int iValue = pEngine->pOpt ? pEngine->pOpt->iTimeoutValue : PEERS_DEFAULT_TIMEOUT_VALUE;
            char szData[160];
            snprintf(szData, sizeof szData,
                     "<DATA><DAPICOMMANDTYPE>SENDINGTIMEOUT</DAPICOMMANDTYPE>"
                     "<TIMEOUT_VALUE>%d</TIMEOUT_VALUE></DATA>",
                     iValue);
            std::string sReply;
            if (PeersBuildMessage(PidText(lFrom).c_str(), nullptr, PEERS_TYPE_DAPI_COMMAND, szData,
                                  sReply) == 0)
                Send(pEngine, lFrom, sReply);
        }
    }
    if (pInv != nullptr) {
        pInv->vEvents.push_back(ev);
        PeersObserveLiveEvent(pInv, &pInv->vEvents.back());
    }
}

/* Answers (or delays, or ignores) a device-list request. */
static void HandleDeviceList(PeersEngine *pEngine, PeersInvocation *pInv, const char *szData,
                             const char *szId, long lFrom)
{
    const char *pColon = strchr(szData, ':');
    std::string sModule = pColon ? pColon + 1 : "";
    if (pInv != nullptr)
        pInv->iDeviceListRequests++;
    if (pEngine->pOpt != nullptr && pEngine->pOpt->bNoDeviceList)
        return;
    std::string sReply;
    if (PeersBuildMessage(PidText(lFrom).c_str(), szId, PEERS_TYPE_DEVICE_LIST,
                          PeersEngineDeviceListData(pEngine, sModule.c_str()), sReply) != 0)
        return;
    int iDelay = pEngine->pOpt ? pEngine->pOpt->iDeviceListDelayMs : 0;
    if (pInv != nullptr && iDelay <= 0) /* a delayed answer counts once it is sent */
        pInv->iDeviceListAnswers++;
    if (iDelay > 0) {
        PeersPending p;
        p.ullDueMs = PeersNowMs() + (unsigned long long)iDelay;
        p.lToPid = lFrom;
        p.sMessage = sReply;
        p.bIsStop = 0;
        pEngine->vPending.push_back(p);
        return;
    }
    Send(pEngine, lFrom, sReply);
}

/* Records a system-information answer (two passes over the text). An
 * answer cut short by --limit or an interruption is not recorded. */
static void HandleSysInfo(const PeersEngine *pEngine, PeersInvocation *pInv, const char *szMsg)
{
    unsigned long long ullDeadline = ParseDeadline(pEngine, pInv);
    const char *szEnd = szMsg + strlen(szMsg);
    std::vector<PeersSysInfoItem> vItems;
    int iDevices = 0;
    if (WalkFields(szMsg, szEnd, "MSG/DATA/DEVICE", ullDeadline,
                   [&](const std::string &) { iDevices++; }) != 0 ||
        WalkFields(szMsg, szEnd, "MSG/DATA/DEVICE/SYSINFO", ullDeadline,
                   [&](const std::string &sItem) {
                       PeersSysInfoItem item;
                       PeersGetField(sItem.c_str(), "SYSINFO_KEY", 0, item.sKey);
                       PeersGetField(sItem.c_str(), "SYSINFO_DESCRIPTION", 0, item.sDescription);
                       WalkFields(sItem.c_str(), sItem.c_str() + sItem.size(), "SYSINFO_VALUE", 0,
                                  [&](const std::string &v) { item.vValues.push_back(v); });
                       vItems.push_back(item);
                   }) != 0)
        return;
    pInv->bSysInfo = 1;
    PeersGetField(szMsg, "MSG/HDR/RE", 0, pInv->sSysInfoRe);
    pInv->iSysInfoDevices = iDevices;
    pInv->vSysInfo.swap(vItems);
}

/* Records a validation answer (one pass over the results). An answer cut
 * short by --limit or an interruption is not recorded. */
static void HandleValidation(const PeersEngine *pEngine, PeersInvocation *pInv, const char *szMsg)
{
    /* The module wraps its answer text, which begins with its own DATA element,
     * into the message's DATA: the results stand at MSG/DATA/DATA. */
    const char *szPath = "MSG/DATA/DATA/PARAM_VALIDATION_RESULTS/PARAMETER";
    std::string sParam;
    if (PeersGetField(szMsg, "MSG/DATA/DATA", 0, sParam) != 0)
        szPath = "MSG/DATA/PARAM_VALIDATION_RESULTS/PARAMETER";
    std::vector<PeersParamResult> vParams;
    if (WalkFields(szMsg, szMsg + strlen(szMsg), szPath, ParseDeadline(pEngine, pInv),
                   [&](const std::string &sOne) {
                       PeersParamResult r;
                       PeersGetField(sOne.c_str(), "ID", 0, r.sId);
                       PeersGetField(sOne.c_str(), "VALID_FLAG", 0, r.sValidFlag);
                       r.bHasMin = PeersGetField(sOne.c_str(), "MIN_VALUE", 0, r.sMin) == 0;
                       r.bHasMax = PeersGetField(sOne.c_str(), "MAX_VALUE", 0, r.sMax) == 0;
                       vParams.push_back(r);
                   }) != 0)
        return;
    pInv->bValidation = 1;
    PeersGetField(szMsg, "MSG/HDR/RE", 0, pInv->sValidationRe);
    pInv->vParams.swap(vParams);
}

/* The startup notification (TYPE is the reference text): recorded, and the
 * stop request sent at once when the test asks for it at startup. */
static void HandleStartupNote(PeersEngine *pEngine, PeersInvocation *pInv, const char *szMsg,
                              const std::string &sType, long lFrom)
{
    if (pInv == nullptr)
        return;
    pInv->bStartupNote = 1;
    pInv->sStartupType = sType;
    PeersGetField(szMsg, "MSG/DATA/VERSION", 0, pInv->sVersion);
    pInv->ullStartupNoteMs = PeersNowMs();
    pInv->lStartupFrom = lFrom;
    if (pEngine->pOpt != nullptr && pEngine->pOpt->iStopAfterMs == 0 && !pInv->bStopSent)
        PeersEngineSendStop(pEngine, lFrom);
}

/* The test-result and shutdown notifications. Returns 0 handled, 1 unknown. */
static int HandleNotify(PeersInvocation *pInv, const char *szMsg, const std::string &sData)
{
    std::string sWord;
    if (PeersGetField(szMsg, "MSG/DATA/TESTRESULT", 0, sWord) == 0) {
        if (pInv != nullptr) {
            pInv->bResult = 1;
            pInv->sResultWord = sWord;
            PeersGetField(szMsg, "MSG/DATA/TESTPROCESSID", 0, pInv->sResultProcessId);
        }
        return 0;
    }
    if (sData != "SHUTDOWN")
        return 1;
    if (pInv != nullptr)
        pInv->bShutdownNote = 1;
    return 0;
}

/* An enumeration report: the devices become the module's device list. */
static void HandleEnumData(PeersEngine *pEngine, PeersInvocation *pInv, const char *szMsg,
                           const char *szModuleName)
{
    std::vector<PeersDevice> vDevices;
    if (PeersParseDevices(szMsg, "MSG/DATA/DEVICE", vDevices, ParseDeadline(pEngine, pInv)) != 0)
        return; /* cut short: no device list rather than part of one */
    if (szModuleName != nullptr && *szModuleName != '\0')
        PeersEngineSetDevices(pEngine, szModuleName, vDevices);
    if (pInv != nullptr) {
        pInv->bEnumData = 1;
        pInv->vDevices = vDevices;
    }
}

/* Handles one message for the engine. Returns 0 handled, 1 unknown, 2 not a MSG. */
int PeersEngineHandleMessage(PeersEngine *pEngine, const char *szMsg, long lFrom,
                             const char *szModuleName)
{
    std::string sType, sId, sData, sProbe;
    if (szMsg == nullptr || PeersGetField(szMsg, "MSG/HDR/TYPE", 0, sType) != 0)
        return 2;
    PeersGetField(szMsg, "MSG/HDR/ID", 0, sId);
    PeersGetField(szMsg, "MSG/DATA", 0, sData);
    PeersInvocation *pInv = pEngine->pCur;
    if (pInv != nullptr && pInv->lPid != 0 && lFrom != pInv->lPid && lFrom != 0)
        pInv = nullptr; /* another process: answered, not recorded */

    if (PeersGetField(szMsg, "MSG/DATA/STARTUP", 0, sProbe) == 0) {
        HandleStartupNote(pEngine, pInv, szMsg, sType, lFrom);
        return 0;
    }
    if (sType == "DE_NOTIFY")
        return HandleNotify(pInv, szMsg, sData);
    if (sType == "DE_EVENT") {
        HandleEvent(pEngine, pInv, szMsg, lFrom);
        return 0;
    }
    if (sType == "DE_COMMAND") {
        if (strncmp(sData.c_str(), "LIST_DEVICES", 12) != 0 &&
            strncmp(sData.c_str(), "LIST_SYSINFO_DEVICES", 20) != 0)
            return 1;
        HandleDeviceList(pEngine, pInv, sData.c_str(), sId.c_str(), lFrom);
        return 0;
    }
    if (sType == "DE_ENUMDATA")
        HandleEnumData(pEngine, pInv, szMsg, szModuleName);
    else if (sType == "SYSINFO_RETURNED" && pInv != nullptr)
        HandleSysInfo(pEngine, pInv, szMsg);
    else if (sType == "TRANSACTION_RESPONSE" && pInv != nullptr)
        HandleValidation(pEngine, pInv, szMsg);
    else if (sType != "SYSINFO_RETURNED" && sType != "TRANSACTION_RESPONSE")
        return 1;
    return 0;
}

/* Sends what is due. Returns the number of messages sent. */
int PeersEngineTick(PeersEngine *pEngine, unsigned long long ullNowMs)
{
    int iSent = 0;
    PeersInvocation *pInv = pEngine->pCur;
    if (pInv != nullptr && pEngine->pOpt != nullptr && pEngine->pOpt->iStopAfterMs > 0 &&
        pInv->bStartupNote && !pInv->bStopSent &&
        ullNowMs >= pInv->ullStartupNoteMs + (unsigned long long)pEngine->pOpt->iStopAfterMs) {
        PeersEngineSendStop(pEngine, pInv->lStartupFrom);
        iSent++;
    }
    for (size_t i = 0; i < pEngine->vPending.size();) {
        if (pEngine->vPending[i].ullDueMs <= ullNowMs) {
            PeersPending p = pEngine->vPending[i];
            pEngine->vPending.erase(pEngine->vPending.begin() + (long)i);
            Send(pEngine, p.lToPid, p.sMessage);
            if (pInv != nullptr && !p.bIsStop) /* a delayed device list */
                pInv->iDeviceListAnswers++;
            iSent++;
        } else {
            i++;
        }
    }
    return iSent;
}

/* The wait until the next timed action, at most PEERS_POLL_MS. */
int PeersEngineWaitMs(const PeersEngine *pEngine, unsigned long long ullNowMs)
{
    unsigned long long ullDue = ullNowMs + PEERS_POLL_MS;
    const PeersInvocation *pInv = pEngine->pCur;
    if (pInv != nullptr && pEngine->pOpt != nullptr && pEngine->pOpt->iStopAfterMs > 0 &&
        pInv->bStartupNote && !pInv->bStopSent)
        ullDue = std::min(ullDue,
                          pInv->ullStartupNoteMs + (unsigned long long)pEngine->pOpt->iStopAfterMs);
    for (const PeersPending &p : pEngine->vPending)
        ullDue = std::min(ullDue, p.ullDueMs);
    return ullDue <= ullNowMs ? 0 : (int)(ullDue - ullNowMs);
}

/* ---- Command lines ---- */

std::vector<std::string> PeersEnumerateArgs(const char *szModule, const char *szDefFile,
                                            const char *szRef, const char *szFifo)
{
    return { szModule, "enumerate", std::string("ref=") + szRef,
             std::string("deffile=") + szDefFile, std::string("sfifo=") + szFifo };
}

/* run ref= deffile= device= test= process= sfifo= [param=...] [errlimit=]. */
std::vector<std::string> PeersRunArgs(const char *szModule, const char *szDefFile,
                                      const char *szRef, int iDevice, int iTest,
                                      const char *szProcess, const char *szFifo,
                                      const std::vector<std::string> &vParams, int iErrLimit)
{
    std::vector<std::string> v = { szModule,
                                   "run",
                                   std::string("ref=") + szRef,
                                   std::string("deffile=") + szDefFile,
                                   "device=" + std::to_string(iDevice),
                                   "test=" + std::to_string(iTest),
                                   std::string("process=") + szProcess,
                                   std::string("sfifo=") + szFifo };
    for (const std::string &s : vParams)
        v.push_back("param=" + s);
    if (iErrLimit >= 0)
        v.push_back("errlimit=" + std::to_string(iErrLimit));
    return v;
}

/* sysinfo <requester> <request id> <HW locator> <definitions> <module name>. */
std::vector<std::string> PeersSysInfoArgs(const char *szModule, long lRequester, int iRequestId,
                                          const char *szHwLocator, const char *szDefFile,
                                          const char *szModuleName)
{
    return { szModule,    "sysinfo", PidText(lRequester), std::to_string(iRequestId),
             szHwLocator, szDefFile, szModuleName };
}

/* validate ref= deffile= device= test= process= sfifo= senderpid= reid= [param=...]. */
std::vector<std::string> PeersValidateArgs(const char *szModule, const char *szDefFile,
                                           const char *szRef, int iDevice, int iTest,
                                           const char *szProcess, const char *szFifo, long lSender,
                                           int iRequestId, const std::vector<std::string> &vParams)
{
    std::vector<std::string> v = { szModule,
                                   "validate",
                                   std::string("ref=") + szRef,
                                   std::string("deffile=") + szDefFile,
                                   "device=" + std::to_string(iDevice),
                                   "test=" + std::to_string(iTest),
                                   std::string("process=") + szProcess,
                                   std::string("sfifo=") + szFifo,
                                   "senderpid=" + PidText(lSender),
                                   "reid=" + std::to_string(iRequestId) };
    for (const std::string &s : vParams)
        v.push_back("param=" + s);
    return v;
}
