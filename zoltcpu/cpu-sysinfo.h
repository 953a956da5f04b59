/* cpu-sysinfo.h - system information of one processor: the seven items
 * (vendor, family, model, model name, stepping, cache size, clock) whose
 * language-string switch reads "on", attached to the framework device.
 * The callback itself, OurSysInfoFunction, is declared in zoltcpu.h. */
#ifndef ZOLTCPU_CPU_SYSINFO_H
#define ZOLTCPU_CPU_SYSINFO_H

/* Buffer of each language string and of the formatted clock. */
#define CPU_SYSINFO_STRING_SIZE 256

/* Number of system-information items, in the order they are attached. */
#define CPU_SYSINFO_ITEMS 7

#endif /* ZOLTCPU_CPU_SYSINFO_H */
