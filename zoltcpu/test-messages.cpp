/* test-messages.cpp - the informative message and the fault report that the
 * test routines share (see test-messages.h). */
#include "test-messages.h"

#include "dapi2-events.h"

/* See header. */
void SendTestInfo(const TestThreadArgs *pArgs, const char *szToken)
{
    if (pArgs == nullptr || pArgs->bPrintMessages != 0)
        Dapi2_Informative("%s", szToken);
}

/* See header. */
void ReportSubTestFault(int iError, const char *szTag, uint32_t uMask)
{
    AddError(iError, Dapi2_NlsTagToTokenVar(szTag, "%i", "errno", (int)uMask));
    g_iTestResult = 2;
}
