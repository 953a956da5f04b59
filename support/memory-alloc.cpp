/* memory-alloc.cpp - heap copies of texts (ZoltAllocStringEx), the verify
 * stop that ends the process when a call that must not fail fails, and the
 * end-of-run check of the block-tracing registry (FinishMemoryBlockTracing).
 * DESIGN: the registry is created at first use and destroyed by the end-of-run
 * check, both under mutex slot 9. */
#include "memory-alloc.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "trace.h"
#include "zolt-time.h"

CGenList g_ZoltMemBlockList;
int g_bZoltMemBlockListInit;

/* A zero-filled heap block of strlen(szText) + 4 bytes holding szText; NULL
 * for a NULL text or when the heap refuses. The caller frees it. Any thread. */
char *ZoltAllocStringEx(const char *szText)
{
    if (szText == NULL)
        return NULL;
    size_t uLen = strlen(szText);
    char *pCopy = static_cast<char *>(calloc(uLen + 4, 1));
    if (pCopy == NULL)
        return NULL;
    memcpy(pCopy, szText, uLen + 1);
    return pCopy;
}

/* Writes the verify-stop line for the check at szFile:iLine and ends the
 * process with status 1 without any clean-up. Any thread. */
void ZoltVerifyFailed(const char *szFile, int iLine)
{
    fprintf(stderr, "Zolt2000 Verify Failed: Line:%i File:%s Possibly Out of Memory.\n", iLine,
            szFile != NULL ? szFile : "");
    fflush(stderr);
    _exit(1);
}

/* Non-zero when trace type "mem" is on. */
int DoMemoryBlockTracing(void)
{
    return TracingTypeEnabled(ZOLT_TRACE_MEM);
}

/* Creates the registry on first use; caller holds mutex 9. */
static void MemTrace_I_EnsureRegistry(void)
{
    if (g_bZoltMemBlockListInit)
        return;
    CGenListConstructForMemTracing(&g_ZoltMemBlockList, 1, NULL);
    g_bZoltMemBlockListInit = 1;
}

/* Writes the blocks still registered as "mem" trace lines; caller holds
 * mutex 9. */
static void MemTrace_I_ListBlocks(void)
{
    if (CGenListGetCount(&g_ZoltMemBlockList) == 0)
        return;
    TPRINTF(ZOLT_TRACE_MEM, __FILE__, __LINE__, "",
            "\nMEMORY ERROR - some memory blocks have not been released\n"
            "LIST OF BLOCKS STILL ALLOCATED\n");
    CGenListIter it;
    CGenListIterInit(&it, &g_ZoltMemBlockList);
    while (!CGenListIterAtEnd(&it)) {
        const ZoltMemBlockInfo *pInfo =
            static_cast<const ZoltMemBlockInfo *>(CGenListIterGetData(&it));
        /* the size is printed by "%u" and a literal "l", as the log readers expect */
        TPRINTF(ZOLT_TRACE_MEM, __FILE__, __LINE__, "",
                "\nMEM BLOCK INFO\nAddress: %p\nSize: %ul\nAllocated at file: %s\nLine: %d\n",
                pInfo->pAddress, (unsigned)pInfo->uSize, pInfo->szFile, (int)pInfo->iLine);
        CGenListIterAdv(&it);
    }
}

/* End-of-run check; see the header. Returns 0. Main thread, last. */
int FinishMemoryBlockTracing(void)
{
    ZOLT_VERIFY(ZoltGrabMutex(__FILE__, __LINE__, "", ZOLT_MUTEX_MEMTRACE, 1) == 0);
    if (DoMemoryBlockTracing()) {
        MemTrace_I_EnsureRegistry();
        MemTrace_I_ListBlocks();
        CGenListDestruct(&g_ZoltMemBlockList);
    }
    ZOLT_VERIFY(ZoltGrabMutex(__FILE__, __LINE__, "", ZOLT_MUTEX_MEMTRACE, 0) == 0);
    return 0;
}
