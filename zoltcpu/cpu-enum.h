/* cpu-enum.h - CPU enumeration: the module's chain of CPU records built from
 * the kernel's processor table, with hyper-threading siblings folded into one
 * record and, when the "szSMBIOSCheckEnable" language string reads true, the
 * SMBIOS socket count as a cap. Scans run on the main thread, never while run
 * threads exist, so the chain has no lock. */
#ifndef ZOLTCPU_CPU_ENUM_H
#define ZOLTCPU_CPU_ENUM_H

#include <stdint.h>

#include "device-record.h"

/* Scan buffers: texts of a record are at most CPU_TEXT_SIZE - 1 characters. */
#define CPU_TEXT_SIZE 2048
/* Description buffer of one processor (DeviceInfoCPU bound). */
#define CPU_DESC_SIZE 80
/* Language-string buffer of the SMBIOS switch. */
#define CPU_SWITCH_SIZE 64

/* One enumerated processor; heap record (zero-filled), owns its texts. */
typedef struct CpuDevice {
    int32_t iIndex;  /* 0-based among kept processors; the target CPU number */
    char *szName;    /* "CPU:%d" of the index */
    char *szDevType; /* "CPU" */
    int32_t iClock;  /* integer MHz of the latest "cpu MHz" seen; 800 fallback */
    char *szVendor;
    char *szFamily;
    char *szModel;
    char *szModelName;
    char *szStepping;
    char *szCacheSize;
    int32_t bHyperThreading; /* the section's flags contain " ht " */
    int32_t iPhysicalId;     /* -1 when the section has none */
    int32_t bMMX;            /* " mmx " seen in this or an earlier section */
    Dapi2Device *pDevice;    /* the framework device created for it */
    /* Kernel CPU numbers (the "processor" lines) folded into this record, in
     * table order; the pinned mode restricts a run to them. Owned; may be
     * empty (fallback record). */
    unsigned *puLogicalCPUs;
    unsigned uLogicalCPUCount;
    struct CpuDevice *pNext;
} CpuDevice;

/* Head of the chain; new records are appended at its end. */
extern CpuDevice *g_pRootDevice;

/* Language-string lookup used for the switches (enumeration and system
 * information): default Dapi2_NlsGetStringWithId; tests may replace it.
 * Returns szOut, or null when nothing was found. */
typedef char *(*PFN_NLSGETSTRING)(const char *szId, char *szOut, int iOutSize);
extern PFN_NLSGETSTRING g_pfnCpuNlsGetString;

/* Rebuilds the chain from the processor table (g_szCpuInfoPath). Each kept
 * processor gets a framework device (Dapi2_CreateDeviceCPU); with bReport
 * non-zero it is also added to the enumeration list (Dapi2_AddDevice).
 * Records and handles of an earlier scan are invalid afterwards.
 * Returns 0; never fails (one fallback processor when the table is missing
 * or has no processor line). Main thread. */
int ScanDeviceTree(int bReport);

/* The first record whose framework device IsSameDevice as pDevice, or null. */
CpuDevice *FindDevice(const Dapi2Device *pDevice);

/* 1 when both devices have equal hardware locators and equal device types
 * (case-sensitive), else 0 (also when either is null or lacks a text). */
int IsSameDevice(const Dapi2Device *pA, const Dapi2Device *pB);

/* Number of records in the chain. */
int GetDeviceCount(void);

/* Releases pFirst and every record after it with their texts. The caller
 * detaches the released part from the chain. */
void KillDevices(CpuDevice *pFirst);

/* Scans without reporting; 1 when a record matches pDevice, else 0. */
int VerifyEnumeration(const Dapi2Device *pDevice);

/* Appends a record with copies of the eight texts. Returns 0, or 1 when it
 * cannot be allocated (nothing appended). */
int AddDevice(int iIndex, const char *szName, const char *szDevType, int bMMX, const char *szVendor,
              const char *szFamily, const char *szModel, const char *szModelName,
              const char *szStepping, const char *szCacheSize, int iClock, int bHyperThreading,
              int iPhysicalId, Dapi2Device *pDevice);

/* Adds kernel CPU number uCpu to a record's logical CPUs. Returns 0, or 1
 * when memory is short (the record keeps its earlier CPUs). */
int AddLogicalCPU(CpuDevice *pRecord, unsigned uCpu);

/* The record with index iIndex, or null. */
CpuDevice *GetDeviceByIndex(int iIndex);

#endif /* ZOLTCPU_CPU_ENUM_H */
