/* test-fault.cpp - the fault hook of the CPU tests (see test-fault.h): in the
 * fault build only, null in every normal run; the product has none. */
#include "test-fault.h"

#ifdef ZOLT_FAULT_BUILD
PFN_TESTFAULT g_pfnTestFault = nullptr;
#endif
