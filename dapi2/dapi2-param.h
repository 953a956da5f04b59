/* dapi2-param.h - the framework half of the parameter model: the rule of the
 * predefined percentage parameter, sending the validation answer, and how a
 * module reads one of its test parameters (default and bounds applied). */
#ifndef DAPI2_PARAM_H
#define DAPI2_PARAM_H

#include "param-valid.h"

/* Builds the validation answer of the list and sends it as a TRANSACTION_RESPONSE
 * (whole message at most DAPI2_VALIDATE_MSG_SIZE bytes). 1 sent, 0 not. */
int SendValidateParmsResults(long lSenderPid, unsigned long ulReId, Dapi2ParamList *pPair);
/* Resets the percentage to test to 100, then for each parameter with the
 * predefined id sets minimum 0.0 and maximum 100.0 and reads its value v: v <= 0
 * marks it "value too small", v > 100 "value too big" (both make *piOk 0),
 * otherwise the percentage becomes v. Always returns 1. */
int ProcessPredefinedParameters(Dapi2ParamList *pPair, int *piOk);

/* A module's reading of parameter szId of test uTestId as a number, into
 * *pdValue: the param= value of g_paramList; without one (or with an empty
 * one) the definition's default (szParameterDefaultValue of the definitions
 * file), without a default dFallback. A value that is no number gives the
 * default (or dFallback); the result is then held to the definition's minimum
 * and maximum (iParameterMinValue, iParameterMaxValue). Returns
 * DAPI2_PARAM_VALID, or what was corrected: DAPI2_PARAM_VALUE_BAD,
 * DAPI2_PARAM_VALUE_TOO_SMALL or DAPI2_PARAM_VALUE_TOO_BIG. Without a
 * definitions file (no deffile=) or when it cannot be read, dFallback is the
 * default and there are no bounds. Moves g_paramList's position: call it from
 * the test callback, not inside a walk of the list. */
int Dapi2_GetTestParameter(uint32_t uTestId, const char *szId, double dFallback, double *pdValue);

#endif
