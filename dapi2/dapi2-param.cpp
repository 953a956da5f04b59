/* dapi2-param.cpp - the framework half of the parameter model: the rule of the
 * predefined parameter "ZOLT_DAPI2_PERCENT_TO_TEST", sending the validation
 * answer of validate mode, and a module's reading of a test parameter. */
#include "dapi2-param.h"

#include <stdlib.h>
#include <string.h>

#include "dapi2.h"
#include "trace.h"

/* SendValidateParmsResults - builds the validation answer of every parameter of
 * the list, wraps it in a TRANSACTION_RESPONSE to lSenderPid with RE ulReId in a
 * DAPI2_VALIDATE_MSG_SIZE-byte message buffer and sends it through
 * g_pfnDapi2SendMessage. Returns 1 sent; 0 when the answer cannot be built,
 * does not fit the buffer or is not sent. Moves the list's position. */
int SendValidateParmsResults(long lSenderPid, unsigned long ulReId, Dapi2ParamList *pPair)
{
    TPRINTF(9, __FILE__, __LINE__, "", "SendValidateParmsResults: checkpoint\n");
    CGenStr strAnswer;
    if (!CGenStrInit(&strAnswer))
        return 0;
    int iSent = 0;
    char *szMsg = NULL;
    if (!AppendValidateParmsXMLResults(pPair, &strAnswer))
        goto done;
    TPRINTF(9, __FILE__, __LINE__, "", "SendValidateParmsResults: checkpoint\n");
    szMsg = (char *)malloc(DAPI2_VALIDATE_MSG_SIZE);
    if (szMsg == NULL)
        goto done;
    TPRINTF(9, __FILE__, __LINE__, "", "SendValidateParmsResults: checkpoint\n");
    if (ZoltClientCreateResponse(lSenderPid, ulReId, CGenStrC_Str(&strAnswer), szMsg,
                                 DAPI2_VALIDATE_MSG_SIZE) != 0)
        goto done;
    TPRINTF(9, __FILE__, __LINE__, "", "SendValidateParmsResults: checkpoint\n");
    iSent = g_pfnDapi2SendMessage(szMsg) == 0;
done:
    free(szMsg);
    CGenStrDelete(&strAnswer);
    return iSent;
}

/* ProcessPredefinedParameters - sets *piOk to 1 and the percentage to test to
 * 100, then for each parameter whose id is "ZOLT_DAPI2_PERCENT_TO_TEST" sets its
 * minimum to 0.0 and maximum to 100.0 and reads its value v as a float: v not
 * above 0 marks it "value too small", v above 100 "value too big" (both set *piOk
 * to 0); otherwise the percentage becomes v. Always returns 1. Moves the list's
 * position. */
int ProcessPredefinedParameters(Dapi2ParamList *pPair, int *piOk)
{
    *piOk = 1;
    g_fDapi2PercentageToTest = 100.0f;
    for (Dapi2Parameter *pParam = Dapi2_I_GetFirstParameter(pPair); pParam != NULL;
         pParam = Dapi2_I_GetNextParameter(pPair)) {
        if (!IsPredefinedParameter(pParam))
            continue;
        Dapi2_SetParameterMinValFromFloat(pParam, 0.0f);
        Dapi2_SetParameterMaxValFromFloat(pParam, 100.0f);
        float fPercent = Dapi2_GetParameterValAsFloat(pParam);
        if (!(fPercent > 0.0f)) {
            Dapi2_SetParameterValidFlag(pParam, DAPI2_PARAM_VALUE_TOO_SMALL);
            *piOk = 0;
        } else if (fPercent > 100.0f) {
            Dapi2_SetParameterValidFlag(pParam, DAPI2_PARAM_VALUE_TOO_BIG);
            *piOk = 0;
        } else {
            g_fDapi2PercentageToTest = fPercent;
        }
    }
    return 1;
}

/* The number of szText into *pdValue: 1, or 0 for no text, no number or
 * anything after the number. */
static int ParseNumber(const char *szText, double *pdValue)
{
    char *pEnd = NULL;
    if (szText == NULL || *szText == '\0')
        return 0;
    double d = strtod(szText, &pEnd);
    if (*pEnd != '\0' || d != d)
        return 0;
    *pdValue = d;
    return 1;
}

/* The param= value of szId in g_paramList, or null. */
static const char *GivenValue(const char *szId)
{
    for (const Dapi2Parameter *pParam = Dapi2_I_GetFirstParameterConst(&g_paramList);
         pParam != NULL; pParam = Dapi2_I_GetNextParameterConst(&g_paramList))
        if (strcmp(Dapi2_GetParameterId(pParam), szId) == 0)
            return Dapi2_GetParameterValAsStr(pParam);
    return NULL;
}

/* Dapi2_GetTestParameter - a module's test parameter: given value, else the
 * definition's default, else dFallback; held to the definition's bounds. */
int Dapi2_GetTestParameter(uint32_t uTestId, const char *szId, double dFallback, double *pdValue)
{
    Dapi2Parameter def;
    memset(&def, 0, sizeof def);
    int bInit = Dapi2_InitParameter(&def);
    int bDef = bInit && Dapi2_SetParameterId(&def, szId) && g_szDefinitionsFile[0] != '\0' &&
               AssignParameterFieldsFromIniFile(g_szDefinitionsFile, uTestId, &def);
    double dDefault = dFallback, dMin = 0, dMax = 0;
    if (bDef && Dapi2_GetParameterHasDefaultValue(&def))
        ParseNumber(Dapi2_GetParameterDefaultValAsStr(&def), &dDefault);
    int bMin = bDef && Dapi2_GetParameterHasMinVal(&def) &&
               ParseNumber(Dapi2_GetParameterMinValAsStr(&def), &dMin);
    int bMax = bDef && Dapi2_GetParameterHasMaxVal(&def) &&
               ParseNumber(Dapi2_GetParameterMaxValAsStr(&def), &dMax);
    if (bInit)
        Dapi2_DestructParameter(&def);

    const char *szGiven = GivenValue(szId);
    int iFlag = DAPI2_PARAM_VALID;
    *pdValue = dDefault;
    if (szGiven != NULL && *szGiven != '\0' && !ParseNumber(szGiven, pdValue))
        iFlag = DAPI2_PARAM_VALUE_BAD;
    if (bMin && *pdValue < dMin) {
        *pdValue = dMin;
        iFlag = DAPI2_PARAM_VALUE_TOO_SMALL;
    } else if (bMax && *pdValue > dMax) {
        *pdValue = dMax;
        iFlag = DAPI2_PARAM_VALUE_TOO_BIG;
    }
    TPRINTF(9, __FILE__, __LINE__, "", "Dapi2_GetTestParameter: %s = %g (%s)\n", szId, *pdValue,
            ParameterValidFlagToStr(iFlag));
    return iFlag;
}
