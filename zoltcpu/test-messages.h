/* test-messages.h - what every test routine sends besides its percent
 * values: a sub-test's informative message (only when the run prints them)
 * and a sub-test's fault as its error. Callable from any run's thread. */
#ifndef ZOLTCPU_TEST_MESSAGES_H
#define ZOLTCPU_TEST_MESSAGES_H

#include <stdint.h>

#include "cpu-driver.h"

/* Sends szToken as an informative message when pArgs is null (direct mode)
 * or its bPrintMessages is set; otherwise nothing. */
void SendTestInfo(const TestThreadArgs *pArgs, const char *szToken);

/* Reports error iError with the token of szTag carrying the fault mask as
 * "errno" (format "%i") through AddError, and fails the test (result 2). */
void ReportSubTestFault(int iError, const char *szTag, uint32_t uMask);

#endif
