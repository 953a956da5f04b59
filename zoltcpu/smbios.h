/* smbios.h - counts the processor sockets that the firmware's SMBIOS table
 * declares: type-4 structures of processor type 3 (central processor),
 * populated or not. Read through the physical-memory device, or where that is
 * absent or refuses the read, through the kernel's copy of the entry point and
 * table (which may carry the 64-bit "_SM3_" entry point). */
#ifndef ZOLTCPU_SMBIOS_H
#define ZOLTCPU_SMBIOS_H

#include <stdint.h>

/* Test seams; defaults are the platform paths. */
extern const char *g_szDevMemPath;           /* "/dev/mem" */
extern const char *g_szSmbiosEntryPointPath; /* "/sys/firmware/dmi/tables/smbios_entry_point" */
extern const char *g_szSmbiosTablePath;      /* "/sys/firmware/dmi/tables/DMI" */

/* Where the anchor search runs in the physical-memory device. */
#define SMBIOS_SEARCH_START 0xF0000L
#define SMBIOS_SEARCH_LAST 0xFFFFEL /* last position a paragraph read may start before */

/* Result codes of the two readers: 0 the table was walked (the count holds
 * what was found, also when the walk ended early on a failed read). */
#define SMBIOS_OK 0
#define SMBIOS_ERR_OPEN 1    /* source cannot be opened */
#define SMBIOS_ERR_SEEK 2    /* seek to the search start failed */
#define SMBIOS_ERR_ANCHOR 3  /* no entry point found / unknown entry point */
#define SMBIOS_ERR_TABSEEK 4 /* seek to the table address failed */
#define SMBIOS_ERR_EMPTY 5   /* the entry point gives a table length of 0 */
#define SMBIOS_ERR_TABREAD 6 /* not even the first structure header could be read */

/* The number of processor sockets: the physical-memory reader's count when
 * it walked the table, else the kernel copy's count, else 0 (no cap).
 * A failed read during the anchor search ends the process (see
 * SmbiosCountFromDevMem). Main thread. */
int SmbiosProcessorCount(void);

/* Walks the table through g_szDevMemPath: anchor search from 0xF0000 in
 * 16-byte paragraphs for "_SM_" or "_DMI", table length (16-bit) and address
 * (32-bit) from the "_DMI_" part, no checksum. Returns an SMBIOS_ code with
 * *piCount set (0 unless SMBIOS_OK). A read that fails during the anchor
 * search writes "Unable to read: <error>" (perror) and exits with status 1. */
int SmbiosCountFromDevMem(int *piCount);

/* Walks the table of g_szSmbiosTablePath (it starts at offset 0) with the
 * length taken from g_szSmbiosEntryPointPath: "_SM_" (its "_DMI_" part),
 * a bare "_DMI_" or "_SM3_" (32-bit maximum size at offset 12).
 * Returns an SMBIOS_ code with *piCount set. */
int SmbiosCountFromSysfs(int *piCount);

/* Walks uTableLength bytes of structures read sequentially from iFd and adds
 * the type-4 structures of processor type 3 to *piCount. Returns SMBIOS_OK,
 * or SMBIOS_ERR_TABREAD when the first header cannot be read. */
int SmbiosWalkTable(int iFd, uint32_t uTableLength, int *piCount);

#endif /* ZOLTCPU_SMBIOS_H */
