/* memory-alloc.h - memory conventions of the module: ZoltAllocStringEx, the
 * verify stop (ZOLT_VERIFY) and the end-of-run block check
 * FinishMemoryBlockTracing. All memory comes from the C heap; whoever
 * allocates a block, or receives one documented as allocated, frees it. */
#ifndef ZOLT_MEMORY_ALLOC_H
#define ZOLT_MEMORY_ALLOC_H

#include <stdint.h>

#include "gen-list.h"

/* A new zero-filled heap block of strlen(szText) + 4 bytes holding a copy of
 * szText; NULL for a NULL text or when the heap refuses. Caller frees. */
char *ZoltAllocStringEx(const char *szText);

/* Verify stop: writes "Zolt2000 Verify Failed: Line:%i File:%s Possibly Out
 * of Memory.\n" on standard error and ends the process with status 1 at once
 * (nothing cleaned up, no notification). */
void ZoltVerifyFailed(const char *szFile, int iLine) __attribute__((noreturn));
/* Checks a call that must not fail: ZOLT_VERIFY(CGenStrInit(&s));
 * ZOLT_VERIFY(ZoltGrabMutex(__FILE__, __LINE__, "", 9, 1) == 0); */
#define ZOLT_VERIFY(cond)                         \
    do {                                          \
        if (!(cond))                              \
            ZoltVerifyFailed(__FILE__, __LINE__); \
    } while (0)

/* One live block in the tracing registry. */
typedef struct ZoltMemBlockInfo {
    void *pAddress;
    uint32_t uSize;
    char szFile[4096]; /* source path of the allocation, as __FILE__ can be long */
    int32_t iLine;
} ZoltMemBlockInfo;

/* The block registry (owning, malloc nodes), created at first use under
 * mutex 9; nothing in the module adds to it. */
extern CGenList g_ZoltMemBlockList;
extern int g_bZoltMemBlockListInit;

/* TracingTypeEnabled(2). */
int DoMemoryBlockTracing(void);
/* End-of-run check, called once by main after the framework returned: with
 * trace type "mem" on, lists the blocks still registered as trace lines and
 * destroys the registry. Takes and releases mutex 9 (verify stop if either
 * fails). Returns 0. Main thread, no other threads left. */
int FinishMemoryBlockTracing(void);

#endif /* ZOLT_MEMORY_ALLOC_H */
