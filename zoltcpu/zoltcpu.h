/* zoltcpu.h - the three callbacks of the CPU module that main registers with
 * the framework: enumerate (slot 1), run diagnostic (slot 3) and system
 * information (slot 12). */
#ifndef ZOLTCPU_ZOLTCPU_H
#define ZOLTCPU_ZOLTCPU_H

#include "device-record.h"

/* Slot 1: scans the processors and adds each kept one to the framework's
 * enumeration list. Returns 0. Main thread. */
int OurEnumFunction(void);

/* Slot 3: runs test iTest (0 integer, 1 x87, 2 MMX, 3 caches) on the CPU
 * that pDevice names. Returns the test result: 0 PASS, 1 SETUPERROR,
 * 2 FAIL, 4 PRIVILEGEERROR, 5 NOTAPPLICABLE, 6 BADPARAMS (test number above
 * 3, taken unsigned), 8 DISCONTINUED, 9 no device or no CPU record matching
 * it (then warning 105 "szWarnDeviceNotFound" unless pDevice is null).
 * Main thread; starts and joins the run threads itself. */
int OurDiagFunction(int iTest, Dapi2Device *pDevice);

/* Slot 12: attaches the switched-on system-information items (vendor,
 * family, model, model name, stepping, cache size, clock) of the CPU that
 * pDevice names. Returns 0, or 9 with "Returning no device\n" on standard
 * output when pDevice is not a processor of this machine. szParams unused. */
int OurSysInfoFunction(Dapi2Device *pDevice, const char *szParams);

#endif /* ZOLTCPU_ZOLTCPU_H */
