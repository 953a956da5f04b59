/* dapi2-reports.cpp - the enumeration report (DE_ENUMDATA), the
 * system-information answer (SYSINFO_RETURNED), the once-per-process fetch of
 * this module's device list from the diagnostic engine, the device iterator,
 * and the whole-machine device services.
 * DESIGN: main thread only. Reports are built in growable strings, so they have
 * no size limit; null texts of a device are written as empty elements. The
 * device list g_Dapi2DeviceEnumList is the module's own in enumerate mode and
 * the engine's answer in every other mode (g_DeviceListInit guards the fetch). */
#include "dapi2.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "client-messaging-engine.h"
#include "memory-alloc.h"
#include "message-protocol.h"
#include "test-common.h"
#include "trace.h"

/* Header buffer of a report message. */
#define DAPI2_REPORT_HDR_SIZE 150
/* Command text of a device-list request; module names keep 63 characters. */
#define DAPI2_COMMAND_SIZE 200
#define DAPI2_MODULE_NAME_SIZE 64
/* Room reserved in the request/answer strings of a device-list request. */
#define DAPI2_DEVLIST_RESERVE 512
/* Room reserved in the request string of Dapi2_I_GetSysInfo. */
#define DAPI2_SYSINFO_RESERVE 32768
/* Key given to a system-information record merged into an earlier one. */
#define DAPI2_SYSINFO_PROCESSED "**PROCESSED**"

int g_DeviceListInit = 0;
int g_DeviceItrInit = 0;
CGenListIter g_Dapi2DeviceListItr;
int (*g_pfnDapi2SendTransactionStr)(const char *szRequest, CGenStr *pAnswer, int iTimeoutMs,
                                    int bWatchStdin) = ZoltClientSendTransactionStr;

/* A device text as it goes into a report: null is written as the empty text. */
static const char *Txt(const char *sz)
{
    return sz != NULL ? sz : "";
}

void Dapi2_I_ResetDeviceListState(void)
{
    g_DeviceListInit = 0;
    g_DeviceItrInit = 0;
}

/* ---- Device iteration ---- */

/* See dapi2-reports.h. */
Dapi2Device *Dapi2_GetFirstDevice(int iKind)
{
    if (g_Callback == DAPI2_MODE_ENUMERATE) {
        g_DeviceListInit = 1;
    } else if (g_DeviceListInit == 0) {
        if (Dapi2_I_GetDeviceList(iKind) != 0)
            return NULL;
    }
    if (g_DeviceListInit != 1 || CGenListGetCount(&g_Dapi2DeviceEnumList) == 0)
        return NULL;
    CGenListIterInit(&g_Dapi2DeviceListItr, &g_Dapi2DeviceEnumList);
    g_DeviceItrInit = 1;
    return (Dapi2Device *)CGenListIterGetData(&g_Dapi2DeviceListItr);
}

/* See dapi2-reports.h. */
Dapi2Device *Dapi2_GetNextDevice(void)
{
    if (g_DeviceListInit != 1 || !g_DeviceItrInit || CGenListGetCount(&g_Dapi2DeviceEnumList) == 0)
        return NULL;
    if (CGenListIterAtEnd(&g_Dapi2DeviceListItr))
        return NULL;
    CGenListIterAdv(&g_Dapi2DeviceListItr);
    if (CGenListIterAtEnd(&g_Dapi2DeviceListItr))
        return NULL;
    return (Dapi2Device *)CGenListIterGetData(&g_Dapi2DeviceListItr);
}

/* ---- Enumeration report ---- */

/* Appends one DEVICE element of the enumeration report to pReport, using
 * pFru and pAddInfo as work strings. Returns 1, or 0 when an append failed. */
static int Dapi2_I_AppendEnumDevice(CGenStr *pReport, CGenStr *pFru, CGenStr *pAddInfo,
                                    Dapi2Device *pDevice)
{
    CGenStrClear(pFru);
    CGenStrClear(pAddInfo);
    Dapi2FruInfo *pFruInfo = Dapi2_GetDeviceFruInfo(pDevice);
    if (pFruInfo != NULL) {
        for (Dapi2FruAdditionalInfo *pAdd = Dapi2_GetFirstFruAdditionalInfo(pFruInfo); pAdd != NULL;
             pAdd = Dapi2_GetNextFruAdditionalInfo(pFruInfo)) {
            if (!CGenStrCatf(pAddInfo,
                             "<FRU_ADDINFO_FIELD>%s</FRU_ADDINFO_FIELD><FRU_ADDINFO_DESC>%s"
                             "</FRU_ADDINFO_DESC><FRU_ADDINFO_VALUE>%s</FRU_ADDINFO_VALUE>",
                             Txt(Dapi2_GetFruAdditionalInfoField(pAdd)),
                             Txt(Dapi2_GetFruAdditionalInfoDescription(pAdd)),
                             Txt(Dapi2_GetFruAdditionalInfoValue(pAdd))))
                return 0;
        }
        if (!CGenStrCatf(
                pFru,
                "<FRU_MANUFACTURER>%s</FRU_MANUFACTURER><FRU_MODELNUMBER>%s</FRU_MODELNUMBER>"
                "<FRU_SERIALNUMBER>%s</FRU_SERIALNUMBER><FRU_FIRMWAREREV>%s</FRU_FIRMWAREREV>"
                "<FRU_FIRMWAREDATE>%s</FRU_FIRMWAREDATE><FRU_PHYSADDRESS>%s</FRU_PHYSADDRESS>%s",
                Txt(Dapi2_GetFruManufacturerName(pFruInfo)), Txt(Dapi2_GetFruModelNumber(pFruInfo)),
                Txt(Dapi2_GetFruSerialNumber(pFruInfo)),
                Txt(Dapi2_GetFruFirmwareRevision(pFruInfo)),
                Txt(Dapi2_GetFruFirmwareDate(pFruInfo)), Txt(Dapi2_GetFruPhysicalAddress(pFruInfo)),
                CGenStrC_Str(pAddInfo)))
            return 0;
    }
    return CGenStrCatf(pReport,
                       "<DEVICE><DID>%u</DID><NAME>%s</NAME><DESCRIPTION>%s</DESCRIPTION>"
                       "<OSLOCATOR>%s</OSLOCATOR><HWLOCATOR>%s</HWLOCATOR><DEVTYPE>%s</DEVTYPE>"
                       "<BUSTYPE>%s</BUSTYPE>%s<TESTS_SUPPORTED>%s</TESTS_SUPPORTED></DEVICE>",
                       (unsigned)Dapi2_GetDeviceId(pDevice), Txt(Dapi2_GetDeviceName(pDevice)),
                       Txt(Dapi2_GetDeviceDescription(pDevice)),
                       Txt(Dapi2_GetDeviceOsLocator(pDevice)),
                       Txt(Dapi2_GetDeviceHwLocator(pDevice)), Txt(Dapi2_GetDeviceDevType(pDevice)),
                       Txt(Dapi2_GetDeviceBusType(pDevice)), CGenStrC_Str(pFru),
                       Txt(Dapi2_GetDeviceTestsSupported(pDevice)));
}

/* See dapi2-reports.h. The strings are released on every path. */
int Dapi2_SendEnumInfo(void)
{
    static const char *const s_aszOutOfMem[] = {
        "Dapi2_SendEnumInfo:outofmem1\n",
        "Dapi2_SendEnumIno:outofmem2\n",
        "Dapi2_SendEnumInfo:outofmem3\n",
        "Dapi2_SendEnumInfo:outofmem4\n",
    };
    CGenStr aStr[4]; /* report, message, FRU part, additional-information part */
    memset(aStr, 0, sizeof aStr);
    for (int i = 0; i < 4; i++) {
        if (!CGenStrInit(&aStr[i])) {
            TPRINTF(3, __FILE__, __LINE__, "", "%s", s_aszOutOfMem[i]);
            for (int j = 0; j <= i; j++)
                CGenStrDelete(&aStr[j]);
            return DAPI2_ERR_NOMEM;
        }
    }
    CGenStr *pReport = &aStr[0], *pMsg = &aStr[1];
    int iRc = 0;
    int bOk = CGenStrAssignChar(pReport, "<DATA>");
    for (Dapi2Device *p = Dapi2_GetFirstDevice(DAPI2_DEVLIST_TEST); bOk && p != NULL;
         p = Dapi2_GetNextDevice())
        bOk = Dapi2_I_AppendEnumDevice(pReport, &aStr[2], &aStr[3], p);
    if (bOk)
        bOk = CGenStrCatChar(pReport, "</DATA>");

    char szHeader[DAPI2_REPORT_HDR_SIZE];
    if (!bOk) {
        TPRINTF(3, __FILE__, __LINE__, "", "%s", s_aszOutOfMem[0]);
        iRc = DAPI2_ERR_NOMEM;
    } else if (ZoltCreateMessageHeader(szHeader, sizeof szHeader, "DIAGENGINE", NULL, "DE_ENUMDATA",
                                       NULL) != 0) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_SendEnumInfo:createheader failed\n");
        iRc = DAPI2_ERR_HEADER;
    } else if (ZoltCreateMessageStr(pMsg, "MSG", szHeader, CGenStrC_Str(pReport), (char *)NULL) !=
                   0 ||
               !CGenStrIsInit(pMsg)) {
        TPRINTF(3, __FILE__, __LINE__, "", "Dapi2_SendEnumInfo:createmessage failed\n");
        iRc = DAPI2_ERR_MESSAGE;
    } else {
        TPRINTF(3, __FILE__, __LINE__, "", "SendEnumInfo: %s\n", CGenStrC_Str(pMsg));
        iRc = g_pfnDapi2SendMessage(CGenStrC_Str(pMsg)) == 0 ? 0 : DAPI2_ERR_SEND;
    }
    for (int i = 0; i < 4; i++)
        CGenStrDelete(&aStr[i]);
    return iRc;
}

/* ---- System-information answer ---- */

/* Appends the SYSINFO elements of a device's chain to pPart, merging records
 * that share a key (later ones are marked processed). Work-text failures are
 * verify stops. */
static void Dapi2_I_AppendSysInfoRecords(CGenStr *pPart, Dapi2SysInfo *pFirst)
{
    for (Dapi2SysInfo *p = pFirst; p != NULL; p = p->pNext) {
        if (p->szKey != NULL && strcmp(p->szKey, DAPI2_SYSINFO_PROCESSED) == 0)
            continue;
        ZOLT_VERIFY(CGenStrCatf(pPart,
                                "<SYSINFO><SYSINFO_DESCRIPTION>%s</SYSINFO_DESCRIPTION>"
                                "<SYSINFO_KEY>%s</SYSINFO_KEY>",
                                Txt(p->szDescription), Txt(p->szKey)));
        ZOLT_VERIFY(CGenStrCatf(pPart, "<SYSINFO_VALUE>%s</SYSINFO_VALUE>", Txt(p->szValue)));
        for (Dapi2SysInfo *q = p->pNext; q != NULL; q = q->pNext) {
            if (strcmp(Txt(q->szKey), Txt(p->szKey)) != 0)
                continue;
            ZOLT_VERIFY(CGenStrCatf(pPart, "<SYSINFO_VALUE>%s</SYSINFO_VALUE>", Txt(q->szValue)));
            char *szProcessed = ZoltAllocStringEx(DAPI2_SYSINFO_PROCESSED);
            ZOLT_VERIFY(szProcessed != NULL);
            free(q->szKey);
            q->szKey = szProcessed;
        }
        ZOLT_VERIFY(CGenStrCatChar(pPart, "</SYSINFO>"));
    }
}

/* See dapi2-reports.h. */
int Dapi2_SendSysInfo(const char *szModuleName, const char *szRequester, const char *szRequestId,
                      const char *szHwLocator)
{
    CGenStr report, msg, part;
    ZOLT_VERIFY(CGenStrInit(&report));
    ZOLT_VERIFY(CGenStrInit(&msg));
    ZOLT_VERIFY(CGenStrInit(&part));
    ZOLT_VERIFY(CGenStrAssignChar(&report, "<DATA>"));
    for (Dapi2Device *p = Dapi2_GetFirstDevice(DAPI2_DEVLIST_TEST); p != NULL;
         p = Dapi2_GetNextDevice()) {
        const char *szHw = Dapi2_GetDeviceHwLocator(p);
        if (szHw == NULL || szHwLocator == NULL || strcmp(szHw, szHwLocator) != 0)
            continue;
        CGenStrClear(&part);
        Dapi2_I_AppendSysInfoRecords(&part, Dapi2_GetDeviceSysInfo(p));
        ZOLT_VERIFY(
            CGenStrCatf(&report,
                        "<DEVICE><TO>%s</TO><MODULE_NAME>%s</MODULE_NAME><DID>%u</DID>"
                        "<NAME>%s</NAME><DESCRIPTION>%s</DESCRIPTION><OSLOCATOR>%s</OSLOCATOR>"
                        "<HWLOCATOR>%s</HWLOCATOR><DEVTYPE>%s</DEVTYPE><BUSTYPE>%s</BUSTYPE>"
                        "%s</DEVICE>",
                        Txt(szRequester), Txt(szModuleName), (unsigned)Dapi2_GetDeviceId(p),
                        Txt(Dapi2_GetDeviceName(p)), Txt(Dapi2_GetDeviceDescription(p)),
                        Txt(Dapi2_GetDeviceOsLocator(p)), Txt(szHw), Txt(Dapi2_GetDeviceDevType(p)),
                        Txt(Dapi2_GetDeviceBusType(p)), CGenStrC_Str(&part)));
    }
    ZOLT_VERIFY(CGenStrCatChar(&report, "</DATA>"));

    int iRc = 0;
    char szHeader[DAPI2_REPORT_HDR_SIZE];
    if (ZoltCreateMessageHeader(szHeader, sizeof szHeader, "DIAGENGINE", Txt(szRequestId),
                                "SYSINFO_RETURNED", NULL) != 0)
        iRc = DAPI2_ERR_HEADER;
    else if (ZoltCreateMessageStr(&msg, "MSG", szHeader, CGenStrC_Str(&report), (char *)NULL) !=
                 0 ||
             !CGenStrIsInit(&msg))
        iRc = DAPI2_ERR_MESSAGE;
    else
        iRc = g_pfnDapi2SendMessage(CGenStrC_Str(&msg)) == 0 ? 0 : DAPI2_ERR_SEND;
    CGenStrDelete(&report);
    CGenStrDelete(&msg);
    CGenStrDelete(&part);
    return iRc;
}

/* ---- Device lists from the engine ---- */

/* Builds a DE_COMMAND to DIAGENGINE with szCommand, runs it as a transaction
 * of iTimeoutMs and leaves the answer in pStr. Returns 0, 3 request not built,
 * 4 no answer. */
static int Dapi2_I_EngineTransaction(const char *szCommand, CGenStr *pStr, int iTimeoutMs)
{
    if (ZoltClientCreateDiagnosticEngineCommandStr(szCommand, NULL, pStr) != 0 ||
        !CGenStrIsInit(pStr))
        return 3;
    TPRINTF(4, __FILE__, __LINE__, "", "Requesting devices command %s\n", CGenStrC_Str(pStr));
    if (g_pfnDapi2SendTransactionStr(CGenStrC_Str(pStr), pStr, iTimeoutMs, 0) != 0) {
        TPRINTF(4, __FILE__, __LINE__, "", "RequestDeList:No response.\n");
        return 4;
    }
    return 0;
}

/* Makes sure g_Dapi2DeviceEnumList is constructed (owning, Dapi2_I_KillDevice);
 * a list that holds devices is kept as it is. */
static void Dapi2_I_ConstructEnumList(void)
{
    if (CGenListGetCount(&g_Dapi2DeviceEnumList) == 0)
        CGenListConstruct(&g_Dapi2DeviceEnumList, 1, Dapi2_I_KillDevice);
}

/* Parses every COMPONENT of the answer into pList. Returns the last parse
 * result, or 5 when the answer has none. */
static int Dapi2_I_ParseComponents(const char *szAnswer, CGenList *pList, CGenStr *pPart,
                                   int bPrint)
{
    int iRc = 5;
    ZoltXmlWalk walk; /* each COMPONENT once: a list of many stays linear */
    ZoltXmlWalkInit(&walk, szAnswer, szAnswer + strlen(szAnswer), "MSG/DATA/COMPONENT");
    while (ZoltXmlWalkNext(&walk, pPart) == 0) {
        if (bPrint)
            printf("\n%s\n\n", CGenStrC_Str(pPart));
        iRc = ZoltParseModuleDeviceList(pList, pPart);
    }
    return iRc;
}

/* See dapi2-reports.h. */
int Dapi2_I_GetDeviceList(int iKind)
{
    char szModule[DAPI2_MODULE_NAME_SIZE];
    Dapi2_I_GetModuleBaseName(szModule, sizeof szModule);
    g_DeviceListInit = 2;
    CGenStr str, part;
    int bStr = CGenStrInit(&str) && CGenStrReserve(&str, DAPI2_DEVLIST_RESERVE);
    int bPart = CGenStrInit(&part) && CGenStrReserve(&part, DAPI2_DEVLIST_RESERVE);
    if (!bStr || !bPart) {
        CGenStrDelete(&str);
        CGenStrDelete(&part);
        return 2;
    }
    char szCommand[DAPI2_COMMAND_SIZE];
    snprintf(szCommand, sizeof szCommand,
             iKind == DAPI2_DEVLIST_SYSINFO ? "LIST_SYSINFO_DEVICES:%s" : "LIST_DEVICES:%s",
             szModule);
    int iRc = Dapi2_I_EngineTransaction(szCommand, &str, DAPI2_DEVLIST_TIMEOUT_MS);
    if (iRc == 0) {
        Dapi2_I_ConstructEnumList();
        g_DeviceListInit = 1;
        iRc = Dapi2_I_ParseComponents(CGenStrC_Str(&str), &g_Dapi2DeviceEnumList, &part, 0);
    }
    CGenStrDelete(&str);
    CGenStrDelete(&part);
    return iRc;
}

/* See dapi2-reports.h. */
int Dapi2_I_GetXMLDeviceList(CGenStr *pAnswer)
{
    if (pAnswer == NULL)
        return 1;
    return Dapi2_I_EngineTransaction("LIST_DEVICES", pAnswer, DAPI2_DEVLIST_TIMEOUT_MS);
}

/* See dapi2-reports.h. Each COMPONENT is also printed on standard output. */
int Dapi2_I_GetAllDevicesList(CGenList *pList)
{
    if (pList == NULL)
        return 1;
    CGenStr str, part;
    int bStr = CGenStrInit(&str) && CGenStrReserve(&str, DAPI2_DEVLIST_RESERVE);
    int bPart = CGenStrInit(&part) && CGenStrReserve(&part, DAPI2_DEVLIST_RESERVE);
    int iRc = 2;
    if (bStr && bPart) {
        iRc = Dapi2_I_EngineTransaction("LIST_DEVICES", &str, DAPI2_DEVLIST_TIMEOUT_MS);
        if (iRc == 0)
            iRc = Dapi2_I_ParseComponents(CGenStrC_Str(&str), pList, &part, 1);
    }
    CGenStrDelete(&str);
    CGenStrDelete(&part);
    return iRc;
}

/* See dapi2-reports.h. */
int Dapi2_I_GetSysInfo(CGenStr *pOut)
{
    if (pOut == NULL)
        return 1;
    if (Dapi2_CheckForStop())
        return -1;
    CGenStr list, request, component, device, hw, data;
    CGenStr *apStr[] = { &list, &request, &component, &device, &hw, &data };
    int bOk = 1;
    for (CGenStr *p : apStr)
        bOk = CGenStrInit(p) && bOk;
    bOk = bOk && CGenStrReserve(&request, DAPI2_SYSINFO_RESERVE);
    int iRc = bOk ? Dapi2_I_GetXMLDeviceList(&list) : 2;
    if (iRc == 0) {
        CGenStrCatChar(pOut, "<DEVICELIST>");
        const char *szList = CGenStrC_Str(&list);
        for (int k = 0; iRc == 0; k++) {
            if (ZoltXmlGetFieldStr(szList, "MSG/DATA/COMPONENT", k, &component) != 0)
                break;
            for (int d = 0;; d++) {
                if (ZoltXmlGetFieldStr(CGenStrC_Str(&component), "DEVICE", d, &device) != 0)
                    break;
                if (ZoltXmlGetFieldStr(CGenStrC_Str(&device), "HWLOCATOR", 0, &hw) != 0)
                    continue;
                if (Dapi2_CheckForStop()) {
                    iRc = -1;
                    break;
                }
                CGenStrCatChar(pOut, "<DEVICE>");
                CGenStrCatStr(pOut, &device);
                char szCommand[DAPI2_COMMAND_SIZE];
                snprintf(szCommand, sizeof szCommand, "%s:%s", "SYSINFO", CGenStrC_Str(&hw));
                if (Dapi2_I_EngineTransaction(szCommand, &request, DAPI2_SYSINFO_TIMEOUT_MS) == 0 &&
                    ZoltXmlGetFieldStr(CGenStrC_Str(&request), "MSG/DATA/DEVICE", 0, &data) == 0)
                    CGenStrCatStr(pOut, &data);
                CGenStrCatChar(pOut, "</DEVICE>");
            }
        }
        if (iRc == 0)
            CGenStrCatChar(pOut, "</DEVICELIST>");
    }
    for (CGenStr *p : apStr)
        CGenStrDelete(p);
    return iRc;
}
