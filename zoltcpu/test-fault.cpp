/* test-fault.cpp - the fault hook of the CPU tests (see test-fault.h); null
 * in every normal run. */
#include "test-fault.h"

PFN_TESTFAULT g_pfnTestFault = nullptr;
