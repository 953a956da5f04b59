/* cpu-enum.cpp - CPU enumeration: the scan of the kernel's processor table
 * into the chain of CPU records and framework devices, hyper-threading
 * folding, the SMBIOS socket cap, lookups and the enumerate callback.
 * The chain is only touched on the main thread (no lock). */
#include "cpu-enum.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <unordered_map>
#include <vector>

#include "dapi2.h"
#include "memory-alloc.h"
#include "smbios.h"
#include "test-mmx.h"
#include "trace.h"
#include "zolt-mod-support.h"
#include "zolt-string.h"
#include "zoltcpu.h"

CpuDevice *g_pRootDevice = nullptr;
PFN_NLSGETSTRING g_pfnCpuNlsGetString = Dapi2_NlsGetStringWithId;

/* Tests a CPU without MMX is offered (the framework's default list otherwise). */
static const char s_szTestsWithoutMMX[] = "1,2,4";

/* Scan state of one ScanDeviceTree call. The texts and the clock and MMX
 * flag carry over from one section to the next. */
typedef struct CpuScanState {
    char szVendor[CPU_TEXT_SIZE];
    char szFamily[CPU_TEXT_SIZE];
    char szModel[CPU_TEXT_SIZE];
    char szModelName[CPU_TEXT_SIZE];
    char szStepping[CPU_TEXT_SIZE];
    char szCacheSize[CPU_TEXT_SIZE];
    int iIndex;
    int iClock;
    int bMMX;
    int bHyperThreading; /* per section */
    int iPhysicalId;     /* per section */
    char szName[32];     /* "CPU:%d" */
    char szDescription[CPU_DESC_SIZE];
    char szLine[CPU_TEXT_SIZE];
    int iSmbiosCount; /* 0: no cap */
    CpuTable table;   /* the processor table, read once per scan */
    size_t *puAfter;  /* per processor number: where its description starts */
    int iProcessorLines;
    CpuDevice *pTail;                                    /* the chain's last record */
    std::unordered_map<int, CpuDevice *> *pByPhysicalId; /* first record of each package */
} CpuScanState;

/* Frees one record with its texts. */
static void FreeDevice(CpuDevice *pRec)
{
    free(pRec->szName);
    free(pRec->szDevType);
    free(pRec->szVendor);
    free(pRec->szFamily);
    free(pRec->szModel);
    free(pRec->szModelName);
    free(pRec->szStepping);
    free(pRec->szCacheSize);
    free(pRec->puLogicalCPUs);
    free(pRec);
}

/* See header: last record first. */
void KillDevices(CpuDevice *pFirst)
{
    std::vector<CpuDevice *> apChain;
    for (CpuDevice *p = pFirst; p != nullptr; p = p->pNext)
        apChain.push_back(p);
    for (size_t i = apChain.size(); i > 0; i--)
        FreeDevice(apChain[i - 1]);
}

static CpuDevice *LastDevice(void)
{
    CpuDevice *p = g_pRootDevice;
    while (p != nullptr && p->pNext != nullptr)
        p = p->pNext;
    return p;
}

/* A new record with copies of the eight texts, not yet in the chain; null
 * when it cannot be allocated. */
static CpuDevice *MakeDevice(int iIndex, const char *szName, const char *szDevType, int bMMX,
                             const char *szVendor, const char *szFamily, const char *szModel,
                             const char *szModelName, const char *szStepping,
                             const char *szCacheSize, int iClock, int bHyperThreading,
                             int iPhysicalId, Dapi2Device *pDevice)
{
    CpuDevice *pRec = (CpuDevice *)calloc(1, sizeof *pRec);
    if (pRec == nullptr)
        return nullptr;
    const char *aszIn[8] = { szName,  szDevType,   szVendor,   szFamily,
                             szModel, szModelName, szStepping, szCacheSize };
    char **apszOut[8] = {
        &pRec->szName,  &pRec->szDevType,   &pRec->szVendor,   &pRec->szFamily,
        &pRec->szModel, &pRec->szModelName, &pRec->szStepping, &pRec->szCacheSize
    };
    for (int i = 0; i < 8; i++) {
        *apszOut[i] = strdup(aszIn[i] != nullptr ? aszIn[i] : "");
        if (*apszOut[i] == nullptr) {
            FreeDevice(pRec);
            return nullptr;
        }
    }
    pRec->iIndex = iIndex;
    pRec->iClock = iClock;
    pRec->bHyperThreading = bHyperThreading;
    pRec->iPhysicalId = iPhysicalId;
    pRec->bMMX = bMMX;
    pRec->pDevice = pDevice;
    return pRec;
}

/* See header. */
int AddDevice(int iIndex, const char *szName, const char *szDevType, int bMMX, const char *szVendor,
              const char *szFamily, const char *szModel, const char *szModelName,
              const char *szStepping, const char *szCacheSize, int iClock, int bHyperThreading,
              int iPhysicalId, Dapi2Device *pDevice)
{
    CpuDevice *pRec =
        MakeDevice(iIndex, szName, szDevType, bMMX, szVendor, szFamily, szModel, szModelName,
                   szStepping, szCacheSize, iClock, bHyperThreading, iPhysicalId, pDevice);
    if (pRec == nullptr)
        return 1;
    CpuDevice *pLast = LastDevice();
    if (pLast == nullptr)
        g_pRootDevice = pRec;
    else
        pLast->pNext = pRec;
    return 0;
}

/* See header. */
int AddLogicalCPU(CpuDevice *pRecord, unsigned uCpu)
{
    unsigned *puNew = (unsigned *)realloc(pRecord->puLogicalCPUs,
                                          (pRecord->uLogicalCPUCount + 1) * sizeof *puNew);
    if (puNew == nullptr)
        return 1;
    puNew[pRecord->uLogicalCPUCount++] = uCpu;
    pRecord->puLogicalCPUs = puNew;
    return 0;
}

/* Copies the value of a "key : value" line into szDst when the text from the
 * first ':' on is longer than two characters (newline included): the value
 * starts two characters after the colon and ends before the first newline. */
static void TakeValue(const char *szLine, char *szDst)
{
    const char *pColon = strchr(szLine, ':');
    if (pColon == nullptr || strlen(pColon) <= 2)
        return;
    char szValue[CPU_TEXT_SIZE];
    ZoltSafeStrNCpy(szValue, pColon + 2, sizeof szValue);
    char *pNewline = strchr(szValue, '\n');
    if (pNewline != nullptr)
        *pNewline = '\0';
    ZoltSafeStrCpy(szDst, szValue, CPU_TEXT_SIZE);
}

/* Examines one line of a section; returns 1 on the flags line (which ends
 * the section), else 0. */
static int ScanSectionLine(CpuScanState *pState)
{
    const char *szLine = pState->szLine;
    if (strstr(szLine, "vendor_id") != nullptr)
        TakeValue(szLine, pState->szVendor);
    if (strstr(szLine, "cpu family") != nullptr)
        TakeValue(szLine, pState->szFamily);
    if (strstr(szLine, "model") != nullptr && strstr(szLine, "name") == nullptr)
        TakeValue(szLine, pState->szModel);
    if (strstr(szLine, "model name") != nullptr)
        TakeValue(szLine, pState->szModelName);
    if (strstr(szLine, "stepping") != nullptr)
        TakeValue(szLine, pState->szStepping);
    if (strstr(szLine, "cache size") != nullptr)
        TakeValue(szLine, pState->szCacheSize);
    float fMHz = 0.0f;
    if (sscanf(szLine, "cpu MHz\t: %f", &fMHz) == 1 && fMHz > -2147483648.0f &&
        fMHz < 2147483648.0f)
        pState->iClock = (int)fMHz;
    int iPhysicalId = 0;
    if (sscanf(szLine, "physical id\t: %i", &iPhysicalId) == 1)
        pState->iPhysicalId = iPhysicalId;

    if (strstr(szLine, "flags") == nullptr)
        return 0;
    if (strstr(szLine, " mmx ") != nullptr)
        pState->bMMX = 1;
    if (strstr(szLine, " ht ") != nullptr)
        pState->bHyperThreading = 1;
    return 1;
}

/* Creates the framework device and the record of the processor at the
 * scan's index, appended at the chain's tail; iLogicalCPU < 0 records no
 * kernel CPU number. */
static void CreateProcessor(CpuScanState *pState, int bReport, int iLogicalCPU)
{
    Dapi2Device *pDevice = nullptr;
    Dapi2_CreateDeviceCPU("CPU", pState->iIndex, pState->szName, pState->szName,
                          pState->szDescription, (uint32_t)pState->iIndex, &pDevice);
    if (!pState->bMMX)
        Dapi2_AddTestsToDevice(pDevice, s_szTestsWithoutMMX);
    CpuDevice *pRec = MakeDevice(
        pState->iIndex, pState->szName, "CPU", pState->bMMX, pState->szVendor, pState->szFamily,
        pState->szModel, pState->szModelName, pState->szStepping, pState->szCacheSize,
        pState->iClock, pState->bHyperThreading, pState->iPhysicalId, pDevice);
    if (pRec != nullptr) {
        if (pState->pTail == nullptr)
            g_pRootDevice = pRec;
        else
            pState->pTail->pNext = pRec;
        pState->pTail = pRec;
        if (pState->iPhysicalId != -1)
            pState->pByPhysicalId->emplace(pState->iPhysicalId, pRec);
        if (iLogicalCPU >= 0)
            AddLogicalCPU(pRec, (unsigned)iLogicalCPU);
    }
    if (bReport)
        Dapi2_AddDevice(pDevice);
}

/* Steps after a section: fold a hyper-threading sibling into the (first)
 * record of its physical id, apply the SMBIOS cap, else create the
 * processor. */
static void KeepSection(CpuScanState *pState, int bReport, int iLogicalCPU)
{
    if (pState->bHyperThreading && pState->iPhysicalId != -1) {
        auto it = pState->pByPhysicalId->find(pState->iPhysicalId);
        if (it != pState->pByPhysicalId->end()) {
            AddLogicalCPU(it->second, (unsigned)iLogicalCPU);
            pState->iIndex--;
            return;
        }
    }
    if (pState->iSmbiosCount != 0 && pState->iIndex >= pState->iSmbiosCount)
        return;
    CreateProcessor(pState, bReport, iLogicalCPU);
}

/* Reads the processor table once and notes where each processor's
 * description starts, so that the scan stays one pass however many
 * processors there are. */
static void ReadTable(CpuScanState *pState)
{
    if (CpuTableRead(&pState->table) != 0)
        return;
    size_t uPos = 0;
    while (CpuTableGets(pState->szLine, sizeof pState->szLine, &pState->table, &uPos) != nullptr) {
        int iProcessor = 0;
        if (sscanf(pState->szLine, "processor\t: %d", &iProcessor) == 1)
            pState->iProcessorLines++;
    }
    pState->puAfter = (size_t *)calloc((size_t)pState->iProcessorLines + 1, sizeof(size_t));
    ZOLT_VERIFY(pState->puAfter != nullptr);
    CpuTableIndexProcessors(&pState->table, pState->puAfter, pState->iProcessorLines);
}

/* The sections of the table: one processor each, folded or capped. */
static void ScanSections(CpuScanState *pState, int bReport)
{
    size_t uPos = 0;
    const CpuTable *pTable = &pState->table;
    while (CpuTableGets(pState->szLine, sizeof pState->szLine, pTable, &uPos) != nullptr) {
        int iProcessor = 0;
        if (sscanf(pState->szLine, "processor\t: %d", &iProcessor) != 1)
            continue;
        pState->iIndex++;
        pState->bHyperThreading = 0;
        pState->iPhysicalId = -1;
        snprintf(pState->szName, sizeof pState->szName, "CPU:%d", pState->iIndex);
        size_t uAfter =
            pState->iIndex < pState->iProcessorLines ? pState->puAfter[pState->iIndex] : (size_t)-1;
        if (DeviceInfoCPUAt(pTable, uAfter, pState->szDescription, CPU_DESC_SIZE) < 0)
            ZoltStrNCpy(pState->szDescription, "CPU", CPU_DESC_SIZE);
        while (CpuTableGets(pState->szLine, sizeof pState->szLine, pTable, &uPos) != nullptr)
            if (ScanSectionLine(pState))
                break;
        KeepSection(pState, bReport, iProcessor);
    }
}

/* See header. */
int ScanDeviceTree(int bReport)
{
    KillDevices(g_pRootDevice);
    g_pRootDevice = nullptr;

    /* 14 kB of text buffers: on the heap rather than the caller's stack. */
    CpuScanState *pState = (CpuScanState *)calloc(1, sizeof *pState);
    ZOLT_VERIFY(pState != nullptr);
    std::unordered_map<int, CpuDevice *> byPhysicalId;
    pState->pByPhysicalId = &byPhysicalId;
    pState->iIndex = -1;
    strcpy(pState->szDescription, "CPU");

    char szSwitch[CPU_SWITCH_SIZE] = "";
    g_pfnCpuNlsGetString("szSMBIOSCheckEnable", szSwitch, sizeof szSwitch);
    if (strcasecmp(szSwitch, "true") == 0)
        pState->iSmbiosCount = SmbiosProcessorCount();

    ReadTable(pState);
    ScanSections(pState, bReport);
    CpuTableFree(&pState->table);
    free(pState->puAfter);

    if (pState->iIndex == -1) {
        TPRINTF(4, __FILE__, __LINE__, "",
                "ScanDeviceTree: no processor lines, one fallback CPU\n");
        pState->bMMX = MMXExists();
        pState->iClock = 800;
        pState->iIndex = 0;
        pState->bHyperThreading = 0;
        pState->iPhysicalId = -1;
        strcpy(pState->szName, "CPU:0");
        ZoltStrNCpy(pState->szDescription, "CPU", CPU_DESC_SIZE);
        CreateProcessor(pState, bReport, -1);
    }
    free(pState);
    return 0;
}

/* See header. */
int IsSameDevice(const Dapi2Device *pA, const Dapi2Device *pB)
{
    const char *szLocA = Dapi2_GetDeviceHwLocator(pA);
    const char *szLocB = Dapi2_GetDeviceHwLocator(pB);
    const char *szTypeA = Dapi2_GetDeviceDevType(pA);
    const char *szTypeB = Dapi2_GetDeviceDevType(pB);
    if (szLocA == nullptr || szLocB == nullptr || szTypeA == nullptr || szTypeB == nullptr)
        return 0;
    return strcmp(szLocA, szLocB) == 0 && strcmp(szTypeA, szTypeB) == 0;
}

/* See header. */
CpuDevice *FindDevice(const Dapi2Device *pDevice)
{
    for (CpuDevice *p = g_pRootDevice; p != nullptr; p = p->pNext)
        if (IsSameDevice(p->pDevice, pDevice))
            return p;
    return nullptr;
}

/* See header. */
CpuDevice *GetDeviceByIndex(int iIndex)
{
    for (CpuDevice *p = g_pRootDevice; p != nullptr; p = p->pNext)
        if (p->iIndex == iIndex)
            return p;
    return nullptr;
}

/* See header. */
int GetDeviceCount(void)
{
    int iCount = 0;
    for (CpuDevice *p = g_pRootDevice; p != nullptr; p = p->pNext)
        iCount++;
    return iCount;
}

/* See header. */
int VerifyEnumeration(const Dapi2Device *pDevice)
{
    ScanDeviceTree(0);
    return FindDevice(pDevice) != nullptr ? 1 : 0;
}

/* Slot 1 of the registration: see zoltcpu.h. */
int OurEnumFunction(void)
{
    return ScanDeviceTree(1);
}
