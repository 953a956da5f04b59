/* zolt-mod-support.h - module support code: the kernel's processor table read
 * once into memory, and the one-line processor description that CPU
 * enumeration takes from it. */
#ifndef ZOLTMOD_ZOLT_MOD_SUPPORT_H
#define ZOLTMOD_ZOLT_MOD_SUPPORT_H

#include <stddef.h>

/* Path of the kernel's processor table ("/proc/cpuinfo"); tests may point it
 * at a fixture file. Read by DeviceInfoCPU and by the CPU scan. */
extern const char *g_szCpuInfoPath;

/* The most of the processor table that is read: a table of 8,192 logical
 * CPUs is about 12 MB; the rest of a bigger file is left unread. */
#define CPU_TABLE_MAX (64u * 1024u * 1024u)

/* The processor table as read by one request: its bytes (heap, owned,
 * terminated) and their number. */
typedef struct CpuTable {
    char *pText;
    size_t uLen;
} CpuTable;

/* Reads g_szCpuInfoPath into pTable (at most CPU_TABLE_MAX bytes). Returns 0,
 * or -1 when the file cannot be opened or memory is short (pTable empty). */
int CpuTableRead(CpuTable *pTable);
/* Releases the bytes of pTable; it is empty afterwards. */
void CpuTableFree(CpuTable *pTable);
/* The next line of pTable from *puPos on, as fgets would give it from the
 * file: at most iSize - 1 bytes, up to and with the newline, terminated.
 * Advances *puPos. Returns szLine, or null at the end of the table. */
char *CpuTableGets(char *szLine, int iSize, const CpuTable *pTable, size_t *puPos);
/* The position after the first "processor" line of each number 0 to
 * iCount - 1 (lines read as DeviceInfoCPU does), into puAfter[number];
 * (size_t)-1 for a number without such a line. One pass over the table. */
void CpuTableIndexProcessors(const CpuTable *pTable, size_t *puAfter, int iCount);

/* Writes "vendor, model name, <MHz> MHz, <cache size> cache" of the section
 * whose "processor" line carries iProcessor into szBuffer (iSize bytes; the
 * first iSize bytes are zeroed first). Returns 1 with the description, or
 * -1 file missing, processor not found or file ended before "cache size";
 * -2, -3, -4, -5 the vendor, model name, clock or cache size would not fit
 * iSize; -6 the next "processor" line came before "cache size".
 * Any thread; keeps no state. Reads the whole table: a scan of all
 * processors uses DeviceInfoCPUAt on one table instead. */
int DeviceInfoCPU(int iProcessor, char *szBuffer, int iSize);
/* DeviceInfoCPU's description from a table already read, the section's
 * "processor" line ending at uAfter ((size_t)-1: not found, -1). */
int DeviceInfoCPUAt(const CpuTable *pTable, size_t uAfter, char *szBuffer, int iSize);

#endif /* ZOLTMOD_ZOLT_MOD_SUPPORT_H */
