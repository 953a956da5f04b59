/* dapi2-reports.h - the enumeration report (DE_ENUMDATA), the system-information
 * answer (SYSINFO_RETURNED), the once-per-process device-list fetch from the
 * diagnostic engine and the device iterator over g_Dapi2DeviceEnumList.
 * Main thread only; nothing here locks. */
#ifndef DAPI2_REPORTS_H
#define DAPI2_REPORTS_H

#include "device-record.h"
#include "gen-list.h"
#include "gen-str.h"

/* Kinds of device list. */
#define DAPI2_DEVLIST_TEST 0    /* "LIST_DEVICES:<module>" */
#define DAPI2_DEVLIST_SYSINFO 1 /* "LIST_SYSINFO_DEVICES:<module>" */

/* The engine answers a device-list request within 5 s. */
#define DAPI2_DEVLIST_TIMEOUT_MS 5000
/* Per-device system-information requests of Dapi2_I_GetSysInfo: 15 s. */
#define DAPI2_SYSINFO_TIMEOUT_MS 15000

/* Device-list state: 0 not fetched, 2 fetch started, 1 list ready. */
extern int g_DeviceListInit;
extern int g_DeviceItrInit;
extern CGenListIter g_Dapi2DeviceListItr;

/* Returns the first device of g_Dapi2DeviceEnumList, or null. Outside enumerate
 * mode the first call fetches the list from the engine (kind as above); the
 * list is fetched at most once per process. The device stays owned by the list. */
Dapi2Device *Dapi2_GetFirstDevice(int iKind);
/* The next device, or null at the end or when no first device was taken. */
Dapi2Device *Dapi2_GetNextDevice(void);

/* Sends DE_ENUMDATA with every device of the list. Returns 0, 27 out of
 * memory, 26 header, 25 message, 24 send. */
int Dapi2_SendEnumInfo(void);
/* Sends SYSINFO_RETURNED (RE = szRequestId) for every device whose HW locator
 * equals szHwLocator; records sharing a key are merged into one SYSINFO element
 * (the later records' keys become "**PROCESSED**"). Returns 0, 26, 25, 24; out
 * of memory ends the process (verify stop, exit status 1). */
int Dapi2_SendSysInfo(const char *szModuleName, const char *szRequester, const char *szRequestId,
                      const char *szHwLocator);

/* Fetches this module's device list into g_Dapi2DeviceEnumList (5000 ms
 * transaction). Returns 0 (the parser's result), 2 out of memory, 3 request not
 * built, 4 no answer, 5 answer without any COMPONENT. */
int Dapi2_I_GetDeviceList(int iKind);
/* Whole-machine services (not used by zoltcpu): the answer to "LIST_DEVICES"
 * into pAnswer (0, 1 null, 3 request not built, 4 no answer); all its devices
 * parsed into pList (0 / last parse result, 1, 2, 3, 4, 5); every device with its
 * system information as "<DEVICELIST>...</DEVICELIST>" appended to pOut (0, 1,
 * -1 stop requested, 2, or the list request's code). */
int Dapi2_I_GetXMLDeviceList(CGenStr *pAnswer);
int Dapi2_I_GetAllDevicesList(CGenList *pList);
int Dapi2_I_GetSysInfo(CGenStr *pOut);

/* Test seam for the transactions of this file: default ZoltClientSendTransactionStr
 * (request, answer string, time-out ms, watch stdin) -> 0 answer in pAnswer. */
extern int (*g_pfnDapi2SendTransactionStr)(const char *szRequest, CGenStr *pAnswer, int iTimeoutMs,
                                           int bWatchStdin);
/* Forgets the fetched list state (list contents are not touched). For tests. */
void Dapi2_I_ResetDeviceListState(void);

#endif
