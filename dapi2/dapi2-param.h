/* dapi2-param.h - the framework half of the parameter model: the rule of the
 * predefined percentage parameter and sending the validation answer. */
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

#endif
