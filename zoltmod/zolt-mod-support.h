/* zolt-mod-support.h - module support code: the one-line processor
 * description that CPU enumeration takes from the kernel's processor table. */
#ifndef ZOLTMOD_ZOLT_MOD_SUPPORT_H
#define ZOLTMOD_ZOLT_MOD_SUPPORT_H

/* Path of the kernel's processor table ("/proc/cpuinfo"); tests may point it
 * at a fixture file. Read by DeviceInfoCPU and by the CPU scan. */
extern const char *g_szCpuInfoPath;

/* Writes "vendor, model name, <MHz> MHz, <cache size> cache" of the section
 * whose "processor" line carries iProcessor into szBuffer (iSize bytes; the
 * first iSize bytes are zeroed first). Returns 1 with the description, or
 * -1 file missing, processor not found or file ended before "cache size";
 * -2, -3, -4, -5 the vendor, model name, clock or cache size would not fit
 * iSize; -6 the next "processor" line came before "cache size".
 * Any thread; keeps no state. */
int DeviceInfoCPU(int iProcessor, char *szBuffer, int iSize);

#endif /* ZOLTMOD_ZOLT_MOD_SUPPORT_H */
