/* dapi2-param.h - the framework's rule for its predefined parameter
 * "ZOLT_DAPI2_PERCENT_TO_TEST" (limits 0..100, sets the percentage to test).
 * The parameter record and list themselves are in global/param-valid.h. */
#ifndef ZOLT_DAPI2_PARAM_H
#define ZOLT_DAPI2_PARAM_H

#include "param-valid.h"

/* Resets g_fDapi2PercentageToTest to 100, then for each parameter with the
 * predefined id sets its minimum 0.0 and maximum 100.0 and reads its value v:
 * v <= 0 marks it "value too small", v > 100 "value too big" (both set *piOk to
 * 0), otherwise the percentage becomes v. *piOk is 1 when no value was out of
 * range. Always returns 1. Main thread. */
int ProcessPredefinedParameters(Dapi2ParamList *pPair, int *piOk);

#endif
