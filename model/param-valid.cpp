/* param-valid.cpp - test parameters: the record with its text storage and typed
 * accessors, the parameter list and its walks, param= words, completion from
 * the definitions file (keys "<name>[<test>][<index>]" of section "Module") and
 * the text of the validation answer with its TRANSACTION_RESPONSE envelope.
 * Main thread only. */
#include "param-valid.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <string>

#include "memory-alloc.h"
#include "message-protocol.h"
#include "profile.h"
#include "trace.h"
#include "zolt-string.h"

Dapi2ParamList g_paramList;

/* Section of the definitions file that holds the parameter keys. */
static const char s_szModuleSection[] = "Module";
/* Room for any "%i", "%u" or "%f" of a 32-bit value (FLT_MAX needs 46). */
#define PARAM_NUMBER_SIZE 64

/* ---- record life ---- */

/* The eight texts of a record, in declaration order. */
static CGenStr *ParamText(Dapi2Parameter *pParam, int i)
{
    CGenStr *apText[] = { &pParam->strId,   &pParam->strName,  &pParam->strDescription,
                          &pParam->strMask, &pParam->strValue, &pParam->strDefault,
                          &pParam->strMin,  &pParam->strMax };
    return apText[i];
}
#define PARAM_TEXT_COUNT 8

/* Dapi2_InitParameter - sets up a zeroed record: all texts empty (value and
 * default with room for 40 characters), type -1, valid flag 0, must-be-set,
 * recommend-validate and the three has-flags 0. Returns 1, or 0 when a text
 * cannot be set up (the texts already set up are released). */
int Dapi2_InitParameter(Dapi2Parameter *pParam)
{
    if (pParam == NULL)
        return 0;
    for (int i = 0; i < PARAM_TEXT_COUNT; ++i) {
        CGenStr *pText = ParamText(pParam, i);
        int bOk = CGenStrInit(pText);
        if (bOk && (pText == &pParam->strValue || pText == &pParam->strDefault))
            bOk = CGenStrReserve(pText, DAPI2_PARAM_VALUE_RESERVE);
        if (!bOk) {
            for (int j = 0; j <= i; ++j)
                CGenStrDelete(ParamText(pParam, j));
            return 0;
        }
    }
    pParam->iType = DAPI2_PARAM_TYPE_INVALID;
    pParam->iValidFlag = DAPI2_PARAM_VALID;
    pParam->iMustBeSet = 0;
    pParam->iRecommendValidate = 0;
    pParam->bHasDefault = pParam->bHasMin = pParam->bHasMax = 0;
    return 1;
}

/* Dapi2_DestructParameter - releases all texts of a record; the record itself is
 * released by the list that owns it. Element destructor of parameter lists. */
void Dapi2_DestructParameter(void *pParam)
{
    if (pParam == NULL)
        return;
    for (int i = 0; i < PARAM_TEXT_COUNT; ++i)
        CGenStrDelete(ParamText((Dapi2Parameter *)pParam, i));
}

/* IsPredefinedParameter - 1 when the id is exactly "ZOLT_DAPI2_PERCENT_TO_TEST". */
int IsPredefinedParameter(const Dapi2Parameter *pParam)
{
    return pParam != NULL && pParam->strId.pBuf != NULL &&
           strcmp(pParam->strId.pBuf, DAPI2_PERCENT_TO_TEST_ID) == 0;
}

/* ---- texts ---- */

/* Replaces the text of pStr by szText. When the text needs more room a new
 * buffer is filled first, so a failure keeps the old text. 1 stored, 0 not. */
static int StoreText(CGenStr *pStr, const char *szText)
{
    if (szText == NULL)
        return 0;
    if (CGenStrIsInit(pStr) && strlen(szText) + 1 <= pStr->uCapacity)
        return CGenStrAssignChar(pStr, szText);
    CGenStr strNew;
    if (!CGenStrInitFromCStr(&strNew, szText))
        return 0;
    CGenStrDelete(pStr);
    *pStr = strNew;
    return 1;
}

/* The text of a record field; "" for a record that was never initialised. */
static const char *TextOf(const CGenStr *pStr)
{
    return pStr->pBuf != NULL ? pStr->pBuf : "";
}

static int StoreInt32(CGenStr *pStr, int32_t iVal)
{
    char szNum[PARAM_NUMBER_SIZE];
    snprintf(szNum, sizeof szNum, "%i", (int)iVal);
    return StoreText(pStr, szNum);
}

static int StoreUInt32(CGenStr *pStr, uint32_t uVal)
{
    char szNum[PARAM_NUMBER_SIZE];
    snprintf(szNum, sizeof szNum, "%u", (unsigned)uVal);
    return StoreText(pStr, szNum);
}

static int StoreFloat(CGenStr *pStr, float fVal)
{
    char szNum[PARAM_NUMBER_SIZE];
    snprintf(szNum, sizeof szNum, "%f", (double)fVal);
    return StoreText(pStr, szNum);
}

/* Signed base-10 reading of the leading digits (blanks and a sign allowed), 0
 * when there are none; values beyond 32 bits are held at INT32_MIN / INT32_MAX
 * so that every build reads the same number. */
static int32_t ReadInt32(const char *szText)
{
    if (szText == NULL)
        return 0;
    errno = 0;
    long long llVal = strtoll(szText, NULL, 10);
    if (llVal > INT32_MAX)
        return INT32_MAX;
    if (llVal < INT32_MIN)
        return INT32_MIN;
    return (int32_t)llVal;
}

/* Decimal reading as a 32-bit float; 0 for none. */
static float ReadFloat(const char *szText)
{
    return szText == NULL ? 0.0f : ZoltAToF(szText);
}

/* ---- conversions ---- */

/* atoul - base-10 unsigned reading of szText as a 32-bit strtoul does it:
 * leading blanks and one sign allowed, digits up to the first other character,
 * none gives 0; a magnitude above 4294967295 gives 4294967295; a "-" negates
 * modulo 2^32 ("-1" gives 4294967295). Null gives 0. */
uint32_t atoul(const char *szText)
{
    if (szText == NULL)
        return 0;
    const char *p = szText;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    int bNegative = 0;
    if (*p == '+' || *p == '-')
        bNegative = (*p++ == '-');
    uint64_t uMagnitude = 0;
    int bOverflow = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        uMagnitude = uMagnitude * 10 + (uint64_t)(*p - '0');
        if (uMagnitude > UINT32_MAX) {
            bOverflow = 1;
            uMagnitude = UINT32_MAX; /* keep reading digits without growing */
        }
    }
    if (bOverflow)
        return UINT32_MAX;
    uint32_t uVal = (uint32_t)uMagnitude;
    return bNegative ? (uint32_t)(0u - uVal) : uVal;
}

/* StrToBool - 0 for exactly "0" and for "f" or "false" in any case (null too);
 * 1 for every other text, the empty text included. */
int StrToBool(const char *szText)
{
    if (szText == NULL)
        return 0;
    if (strcmp(szText, "0") == 0 || strcasecmp(szText, "f") == 0 ||
        strcasecmp(szText, "false") == 0)
        return 0;
    return 1;
}

/* BoolToStr - "true" for non-zero, "false" for 0. */
const char *BoolToStr(int bVal)
{
    return bVal ? "true" : "false";
}

/* CopyStrToPointer - replaces *pszDest by a fresh heap copy of szText (the old
 * text is released with free). Returns 1, or 0 with nothing changed when
 * memory is short or an argument is null. The caller frees the copy. */
int CopyStrToPointer(char **pszDest, const char *szText)
{
    if (pszDest == NULL || szText == NULL)
        return 0;
    char *szCopy = ZoltAllocStringEx(szText);
    if (szCopy == NULL)
        return 0;
    free(*pszDest);
    *pszDest = szCopy;
    return 1;
}

static const char *const s_aszTypeNames[] = { "int32", "uint32", "bool", "float", "string" };
static const char *const s_aszValidFlagNames[] = { "valid", "id not recognized", "value too big",
                                                   "value too small", "value bad" };

/* ParameterTypeToStr - the type's name, "invalid" for an unknown code. */
const char *ParameterTypeToStr(int32_t iType)
{
    if (iType < 0 || iType >= (int32_t)(sizeof s_aszTypeNames / sizeof s_aszTypeNames[0]))
        return "invalid";
    return s_aszTypeNames[iType];
}

/* ParameterTypeStrToType - the code of a type name (any case), -1 when unknown. */
int32_t ParameterTypeStrToType(const char *szType)
{
    if (szType == NULL)
        return DAPI2_PARAM_TYPE_INVALID;
    for (size_t i = 0; i < sizeof s_aszTypeNames / sizeof s_aszTypeNames[0]; ++i)
        if (strcasecmp(szType, s_aszTypeNames[i]) == 0)
            return (int32_t)i;
    return DAPI2_PARAM_TYPE_INVALID;
}

/* ParameterValidFlagToStr - the flag's name, "valid flag invalid" when unknown. */
const char *ParameterValidFlagToStr(int32_t iFlag)
{
    if (iFlag < 0 || iFlag >= (int32_t)(sizeof s_aszValidFlagNames / sizeof s_aszValidFlagNames[0]))
        return "valid flag invalid";
    return s_aszValidFlagNames[iFlag];
}

/* ParameterValidFlagStrToType - the code of a flag name (any case), -1 unknown. */
int32_t ParameterValidFlagStrToType(const char *szFlag)
{
    if (szFlag == NULL)
        return -1;
    for (size_t i = 0; i < sizeof s_aszValidFlagNames / sizeof s_aszValidFlagNames[0]; ++i)
        if (strcasecmp(szFlag, s_aszValidFlagNames[i]) == 0)
            return (int32_t)i;
    return -1;
}

/* ---- accessors ---- */
/* Text getters return the record's own text (never null for an initialised
 * record); setters return 1 stored or 0 (old text kept). Numbers are written
 * "%i", "%u", "%f" (six decimals), booleans "true" / "false". */

const char *Dapi2_GetParameterId(const Dapi2Parameter *p)
{
    return TextOf(&p->strId);
}
int Dapi2_SetParameterId(Dapi2Parameter *p, const char *sz)
{
    return StoreText(&p->strId, sz);
}
const char *Dapi2_GetParameterName(const Dapi2Parameter *p)
{
    return TextOf(&p->strName);
}
int Dapi2_SetParameterName(Dapi2Parameter *p, const char *sz)
{
    return StoreText(&p->strName, sz);
}
const char *Dapi2_GetParameterDescription(const Dapi2Parameter *p)
{
    return TextOf(&p->strDescription);
}
int Dapi2_SetParameterDescription(Dapi2Parameter *p, const char *sz)
{
    return StoreText(&p->strDescription, sz);
}
const char *Dapi2_GetParameterMask(const Dapi2Parameter *p)
{
    return TextOf(&p->strMask);
}
int Dapi2_SetParameterMask(Dapi2Parameter *p, const char *sz)
{
    return StoreText(&p->strMask, sz);
}

int32_t Dapi2_GetParameterType(const Dapi2Parameter *p)
{
    return p->iType;
}
void Dapi2_SetParameterType(Dapi2Parameter *p, int32_t i)
{
    p->iType = i;
}
int32_t Dapi2_GetParameterValidFlag(const Dapi2Parameter *p)
{
    return p->iValidFlag;
}
void Dapi2_SetParameterValidFlag(Dapi2Parameter *p, int32_t i)
{
    p->iValidFlag = i;
}
int32_t Dapi2_GetParameterMustBeSet(const Dapi2Parameter *p)
{
    return p->iMustBeSet;
}
void Dapi2_SetParameterMustBeSet(Dapi2Parameter *p, int32_t i)
{
    p->iMustBeSet = i;
}
int32_t Dapi2_GetParameterRecommendValidate(const Dapi2Parameter *p)
{
    return p->iRecommendValidate;
}
void Dapi2_SetParameterRecommendValidate(Dapi2Parameter *p, int32_t i)
{
    p->iRecommendValidate = i;
}

/* Value: no flag changes. */
int32_t Dapi2_GetParameterValAsInt32(const Dapi2Parameter *p)
{
    return ReadInt32(TextOf(&p->strValue));
}
uint32_t Dapi2_GetParameterValAsUInt32(const Dapi2Parameter *p)
{
    return atoul(TextOf(&p->strValue));
}
int Dapi2_GetParameterValAsBool(const Dapi2Parameter *p)
{
    return StrToBool(TextOf(&p->strValue));
}
float Dapi2_GetParameterValAsFloat(const Dapi2Parameter *p)
{
    return ReadFloat(TextOf(&p->strValue));
}
const char *Dapi2_GetParameterValAsStr(const Dapi2Parameter *p)
{
    return TextOf(&p->strValue);
}
int Dapi2_SetParameterValFromInt32(Dapi2Parameter *p, int32_t i)
{
    return StoreInt32(&p->strValue, i);
}
int Dapi2_SetParameterValFromUInt32(Dapi2Parameter *p, uint32_t u)
{
    return StoreUInt32(&p->strValue, u);
}
int Dapi2_SetParameterValFromBool(Dapi2Parameter *p, int b)
{
    return StoreText(&p->strValue, BoolToStr(b));
}
int Dapi2_SetParameterValFromFloat(Dapi2Parameter *p, float f)
{
    return StoreFloat(&p->strValue, f);
}
int Dapi2_SetParameterValFromStr(Dapi2Parameter *p, const char *sz)
{
    return StoreText(&p->strValue, sz);
}

/* Marks a has-flag after a setter (whatever the store gave: the flag says a
 * default/minimum/maximum was declared). Returns the store's result. */
static int Declared(int32_t *pbHas, int iStored)
{
    *pbHas = 1;
    return iStored;
}

/* Default value. */
int Dapi2_GetParameterHasDefaultValue(const Dapi2Parameter *p)
{
    return p->bHasDefault;
}
int32_t Dapi2_GetParameterDefaultValAsInt32(const Dapi2Parameter *p)
{
    return ReadInt32(TextOf(&p->strDefault));
}
uint32_t Dapi2_GetParameterDefaultValAsUInt32(const Dapi2Parameter *p)
{
    return atoul(TextOf(&p->strDefault));
}
int Dapi2_GetParameterDefaultValAsBool(const Dapi2Parameter *p)
{
    return StrToBool(TextOf(&p->strDefault));
}
float Dapi2_GetParameterDefaultValAsFloat(const Dapi2Parameter *p)
{
    return ReadFloat(TextOf(&p->strDefault));
}
const char *Dapi2_GetParameterDefaultValAsStr(const Dapi2Parameter *p)
{
    return TextOf(&p->strDefault);
}
int Dapi2_SetParameterDefaultValFromInt32(Dapi2Parameter *p, int32_t i)
{
    return Declared(&p->bHasDefault, StoreInt32(&p->strDefault, i));
}
int Dapi2_SetParameterDefaultValFromUInt32(Dapi2Parameter *p, uint32_t u)
{
    return Declared(&p->bHasDefault, StoreUInt32(&p->strDefault, u));
}
int Dapi2_SetParameterDefaultValFromBool(Dapi2Parameter *p, int b)
{
    return Declared(&p->bHasDefault, StoreText(&p->strDefault, BoolToStr(b)));
}
int Dapi2_SetParameterDefaultValFromFloat(Dapi2Parameter *p, float f)
{
    return Declared(&p->bHasDefault, StoreFloat(&p->strDefault, f));
}
int Dapi2_SetParameterDefaultValFromStr(Dapi2Parameter *p, const char *sz)
{
    return Declared(&p->bHasDefault, StoreText(&p->strDefault, sz));
}

/* Minimum. */
int Dapi2_GetParameterHasMinVal(const Dapi2Parameter *p)
{
    return p->bHasMin;
}
int32_t Dapi2_GetParameterMinValAsInt32(const Dapi2Parameter *p)
{
    return ReadInt32(TextOf(&p->strMin));
}
uint32_t Dapi2_GetParameterMinValAsUInt32(const Dapi2Parameter *p)
{
    return atoul(TextOf(&p->strMin));
}
float Dapi2_GetParameterMinValAsFloat(const Dapi2Parameter *p)
{
    return ReadFloat(TextOf(&p->strMin));
}
const char *Dapi2_GetParameterMinValAsStr(const Dapi2Parameter *p)
{
    return TextOf(&p->strMin);
}
int Dapi2_SetParameterMinValFromInt32(Dapi2Parameter *p, int32_t i)
{
    return Declared(&p->bHasMin, StoreInt32(&p->strMin, i));
}
int Dapi2_SetParameterMinValFromUInt32(Dapi2Parameter *p, uint32_t u)
{
    return Declared(&p->bHasMin, StoreUInt32(&p->strMin, u));
}
int Dapi2_SetParameterMinValFromFloat(Dapi2Parameter *p, float f)
{
    return Declared(&p->bHasMin, StoreFloat(&p->strMin, f));
}
int Dapi2_SetParameterMinValFromStr(Dapi2Parameter *p, const char *sz)
{
    return Declared(&p->bHasMin, StoreText(&p->strMin, sz));
}

/* Maximum. */
int Dapi2_GetParameterHasMaxVal(const Dapi2Parameter *p)
{
    return p->bHasMax;
}
int32_t Dapi2_GetParameterMaxValAsInt32(const Dapi2Parameter *p)
{
    return ReadInt32(TextOf(&p->strMax));
}
uint32_t Dapi2_GetParameterMaxValAsUInt32(const Dapi2Parameter *p)
{
    return atoul(TextOf(&p->strMax));
}
float Dapi2_GetParameterMaxValAsFloat(const Dapi2Parameter *p)
{
    return ReadFloat(TextOf(&p->strMax));
}
const char *Dapi2_GetParameterMaxValAsStr(const Dapi2Parameter *p)
{
    return TextOf(&p->strMax);
}
int Dapi2_SetParameterMaxValFromInt32(Dapi2Parameter *p, int32_t i)
{
    return Declared(&p->bHasMax, StoreInt32(&p->strMax, i));
}
int Dapi2_SetParameterMaxValFromUInt32(Dapi2Parameter *p, uint32_t u)
{
    return Declared(&p->bHasMax, StoreUInt32(&p->strMax, u));
}
int Dapi2_SetParameterMaxValFromFloat(Dapi2Parameter *p, float f)
{
    return Declared(&p->bHasMax, StoreFloat(&p->strMax, f));
}
int Dapi2_SetParameterMaxValFromStr(Dapi2Parameter *p, const char *sz)
{
    return Declared(&p->bHasMax, StoreText(&p->strMax, sz));
}

/* Dapi2_AssignParameterFromXML - fills a record from the inner text of one
 * PARAMETER element of a validation answer: "ID" (stored as the id), then
 * "VALID_FLAG" (its name read with ParameterValidFlagStrToType), then the
 * optional "MIN_VALUE" and "MAX_VALUE" (stored as text, marking has-min/max).
 * Elements are read into a 4096-byte work buffer (at most 4095 characters).
 * Sets *piOk to 0 first. Returns 1 with *piOk 0 when ID or VALID_FLAG is missing;
 * 1 with *piOk 1 when done; 0 when the work buffer or a store failed. The work
 * buffer is released on every path. */
int Dapi2_AssignParameterFromXML(Dapi2Parameter *pParam, const char *szXml, int *piOk)
{
    enum { XML_WORK_SIZE = 4096 };
    if (piOk != NULL)
        *piOk = 0;
    if (pParam == NULL || szXml == NULL || piOk == NULL)
        return 0;
    char *szWork = (char *)malloc(XML_WORK_SIZE);
    if (szWork == NULL)
        return 0;
    int iRc = 1;
    if (ZoltXmlGetField(szXml, "ID", 0, szWork, XML_WORK_SIZE) != 0)
        goto done;
    if (!Dapi2_SetParameterId(pParam, szWork)) {
        iRc = 0;
        goto done;
    }
    if (ZoltXmlGetField(szXml, "VALID_FLAG", 0, szWork, XML_WORK_SIZE) != 0)
        goto done;
    Dapi2_SetParameterValidFlag(pParam, ParameterValidFlagStrToType(szWork));
    if (ZoltXmlGetField(szXml, "MIN_VALUE", 0, szWork, XML_WORK_SIZE) == 0 &&
        !Dapi2_SetParameterMinValFromStr(pParam, szWork)) {
        iRc = 0;
        goto done;
    }
    if (ZoltXmlGetField(szXml, "MAX_VALUE", 0, szWork, XML_WORK_SIZE) == 0 &&
        !Dapi2_SetParameterMaxValFromStr(pParam, szWork)) {
        iRc = 0;
        goto done;
    }
    *piOk = 1;
done:
    free(szWork);
    return iRc;
}

/* ---- list ---- */

/* Dapi2_ParamListConstruct - creates the owning list (element destructor
 * Dapi2_DestructParameter) and its position. Returns 1, or 0 when either cannot
 * be created (nothing left behind). Release with Dapi2_ParamListDestruct. */
int Dapi2_ParamListConstruct(Dapi2ParamList *pPair)
{
    TPRINTF(9, __FILE__, __LINE__, "", "Dapi2_ParamListConstruct: top of function\n");
    if (pPair == NULL)
        return 0;
    CGenList *pList = (CGenList *)calloc(1, sizeof(CGenList));
    CGenListIter *pItr = (CGenListIter *)calloc(1, sizeof(CGenListIter));
    if (pList == NULL || pItr == NULL) {
        free(pList);
        free(pItr);
        return 0;
    }
    CGenListConstruct(pList, 1, Dapi2_DestructParameter);
    CGenListIterInit(pItr, pList);
    pPair->pList = pList;
    pPair->pItr = pItr;
    return 1;
}

/* Dapi2_ParamListDestruct - releases the position, every record (through
 * Dapi2_DestructParameter) and the list; the pair is zeroed and may be
 * constructed again. A pair never constructed is left as it is. */
void Dapi2_ParamListDestruct(Dapi2ParamList *pPair)
{
    if (pPair == NULL)
        return;
    free(pPair->pItr);
    if (pPair->pList != NULL) {
        CGenListDestruct(pPair->pList);
        free(pPair->pList);
    }
    pPair->pList = NULL;
    pPair->pItr = NULL;
}

/* Dapi2_AddParameter - appends the record; the list owns it on success.
 * Returns 1, or 0 (the caller still owns the record). */
int Dapi2_AddParameter(Dapi2ParamList *pPair, Dapi2Parameter *pParam)
{
    if (pPair == NULL || pPair->pList == NULL || pParam == NULL)
        return 0;
    return CGenListPushBack(pPair->pList, pParam);
}

/* Dapi2_I_GetFirstParameter - places the position at the start; the first
 * record or null. Predefined parameters included. */
Dapi2Parameter *Dapi2_I_GetFirstParameter(Dapi2ParamList *pPair)
{
    if (pPair == NULL || pPair->pList == NULL || pPair->pItr == NULL)
        return NULL;
    CGenListIterInit(pPair->pItr, pPair->pList);
    return (Dapi2Parameter *)CGenListIterGetData(pPair->pItr);
}

/* Dapi2_I_GetNextParameter - advances the position; the record there or null. */
Dapi2Parameter *Dapi2_I_GetNextParameter(Dapi2ParamList *pPair)
{
    if (pPair == NULL || pPair->pList == NULL || pPair->pItr == NULL ||
        CGenListIterAtEnd(pPair->pItr))
        return NULL;
    CGenListIterAdv(pPair->pItr);
    return (Dapi2Parameter *)CGenListIterGetData(pPair->pItr);
}

const Dapi2Parameter *Dapi2_I_GetFirstParameterConst(Dapi2ParamList *pPair)
{
    return Dapi2_I_GetFirstParameter(pPair);
}

const Dapi2Parameter *Dapi2_I_GetNextParameterConst(Dapi2ParamList *pPair)
{
    return Dapi2_I_GetNextParameter(pPair);
}

/* Dapi2_GetFirstParameter - the module's walk over g_paramList: the first record
 * that is not predefined, or null. */
Dapi2Parameter *Dapi2_GetFirstParameter(void)
{
    Dapi2Parameter *pParam = Dapi2_I_GetFirstParameter(&g_paramList);
    while (pParam != NULL && IsPredefinedParameter(pParam))
        pParam = Dapi2_I_GetNextParameter(&g_paramList);
    return pParam;
}

/* Dapi2_GetNextParameter - the next record of g_paramList that is not
 * predefined, or null. */
Dapi2Parameter *Dapi2_GetNextParameter(void)
{
    Dapi2Parameter *pParam;
    do
        pParam = Dapi2_I_GetNextParameter(&g_paramList);
    while (pParam != NULL && IsPredefinedParameter(pParam));
    return pParam;
}

/* Dapi2_DeleteCurrentParameter - removes (and releases) the record at the
 * position, which then rests on the following record; returns that record, or
 * null when none follows or the position was already at the end. */
Dapi2Parameter *Dapi2_DeleteCurrentParameter(Dapi2ParamList *pPair)
{
    if (pPair == NULL || pPair->pList == NULL || pPair->pItr == NULL ||
        CGenListIterAtEnd(pPair->pItr))
        return NULL;
    *pPair->pItr = CGenListErase(pPair->pList, *pPair->pItr);
    return (Dapi2Parameter *)CGenListIterGetData(pPair->pItr);
}

/* ---- command line ---- */

/* Creates a record with id and value and appends it. 1, or 0 (nothing left). */
static int AddCommandLineParameter(Dapi2ParamList *pPair, const char *szId, const char *szValue)
{
    Dapi2Parameter *pParam = (Dapi2Parameter *)calloc(1, sizeof(Dapi2Parameter));
    if (pParam == NULL)
        return 0;
    if (!Dapi2_InitParameter(pParam)) {
        free(pParam);
        return 0;
    }
    if (!Dapi2_SetParameterId(pParam, szId) || !Dapi2_SetParameterValFromStr(pParam, szValue) ||
        !Dapi2_AddParameter(pPair, pParam)) {
        Dapi2_DestructParameter(pParam);
        free(pParam);
        return 0;
    }
    return 1;
}

/* GetParamsFromCommandLine - visits argv[0] to argv[argc-1]; each word that
 * begins "param=" is cut into the id (up to the first ",") and the value (all
 * after it, further commas included), and a record with both is appended.
 * "param=" alone or an empty id adds nothing. Returns 1; 0 at the first word
 * with an id but no value, or when a record cannot be created, filled or
 * appended (the words before it stay in the list). */
int GetParamsFromCommandLine(int argc, char **argv, Dapi2ParamList *pPair)
{
    static const char s_szPrefix[] = "param=";
    const size_t uPrefixLen = sizeof s_szPrefix - 1;
    if (pPair == NULL || pPair->pList == NULL)
        return 0;
    for (int i = 0; i < argc; ++i) {
        const char *szWord = argv[i];
        if (szWord == NULL || strncmp(szWord, s_szPrefix, uPrefixLen) != 0)
            continue;
        const char *szId = szWord + uPrefixLen;
        const char *szComma = strchr(szId, ',');
        size_t uIdLen = szComma != NULL ? (size_t)(szComma - szId) : strlen(szId);
        if (uIdLen == 0)
            continue; /* "param=" or "param=,x": nothing */
        if (szComma == NULL || szComma[1] == '\0') {
            TPRINTF(9, __FILE__, __LINE__, "", "GetParamsFromCommandLine: no value in %s\n",
                    szWord);
            return 0;
        }
        std::string strId(szId, uIdLen);
        if (!AddCommandLineParameter(pPair, strId.c_str(), szComma + 1)) {
            TPRINTF(9, __FILE__, __LINE__, "", "GetParamsFromCommandLine: add failed\n");
            return 0;
        }
    }
    return 1;
}

/* GetSenderPidAndReId - both start at 0; every "senderpid=" word sets the sender
 * pid and every "reid=" word the request id (base 10); the last one wins.
 * Always returns 1. */
int GetSenderPidAndReId(int argc, char **argv, long *plSenderPid, unsigned long *pulReId)
{
    *plSenderPid = 0;
    *pulReId = 0;
    for (int i = 0; i < argc; ++i) {
        if (argv[i] == NULL)
            continue;
        if (strncmp(argv[i], "senderpid=", 10) == 0)
            *plSenderPid = strtol(argv[i] + 10, NULL, 10);
        else if (strncmp(argv[i], "reid=", 5) == 0)
            *pulReId = strtoul(argv[i] + 5, NULL, 10);
    }
    return 1;
}

/* ---- definitions file ---- */

/* Dapi2GetParamPrivateProfileString - reads the key "<szKeyName>[<test>][<index>]"
 * of szSection into szBuffer (szDefault when absent); *pbPresent = 1 when the
 * text read has at least one character. Returns 1, or 0 when the key text
 * cannot be built (null name, out of memory). */
int Dapi2GetParamPrivateProfileString(const char *szPath, const char *szSection,
                                      const char *szKeyName, uint32_t uTestId, uint32_t uIndex,
                                      const char *szDefault, char *szBuffer, uint32_t uBufferSize,
                                      int *pbPresent)
{
    *pbPresent = 0;
    if (szKeyName == NULL)
        return 0;
    CGenStr strKey;
    if (!CGenStrInit(&strKey))
        return 0;
    if (CGenStrSprintf(&strKey, "%s[%u][%u]", szKeyName, (unsigned)uTestId, (unsigned)uIndex) < 0) {
        CGenStrDelete(&strKey);
        return 0;
    }
    int iLen = ZoltGetPrivateProfileString(szSection, CGenStrC_Str(&strKey), szDefault, szBuffer,
                                           (int)uBufferSize, szPath);
    CGenStrDelete(&strKey);
    *pbPresent = iLen >= 1;
    return 1;
}

/* GetParamIndex - *piIndex = the first i for which "szParameterId[test][i]"
 * equals szParamId exactly, or -1 when an absent key comes first. Returns 1, or
 * 0 when the work buffer or a key cannot be made (*piIndex is then -1). */
int GetParamIndex(const char *szPath, uint32_t uTestId, const char *szParamId, int32_t *piIndex)
{
    TPRINTF(9, __FILE__, __LINE__, "", "AssignTestPropertyFromIniFile: top of function\n");
    *piIndex = -1;
    if (szParamId == NULL)
        return 0;
    char *szValue = (char *)malloc(DAPI2_PARAM_INI_VALUE_SIZE);
    if (szValue == NULL)
        return 0;
    int iRc = 1;
    for (int32_t i = 0; i < INT32_MAX; ++i) {
        int bPresent = 0;
        if (!Dapi2GetParamPrivateProfileString(szPath, s_szModuleSection, "szParameterId", uTestId,
                                               (uint32_t)i, "", szValue, DAPI2_PARAM_INI_VALUE_SIZE,
                                               &bPresent)) {
            iRc = 0;
            break;
        }
        if (!bPresent)
            break;
        if (strcmp(szValue, szParamId) == 0) {
            *piIndex = i;
            break;
        }
    }
    free(szValue);
    return iRc;
}

/* Reads one key of the definition [test][index] into szValue; -1 when the key
 * cannot be built, else 1 present / 0 absent. */
static int ReadDefinitionKey(const char *szPath, uint32_t uTestId, int32_t iIndex,
                             const char *szKeyName, char *szValue)
{
    int bPresent = 0;
    if (!Dapi2GetParamPrivateProfileString(szPath, s_szModuleSection, szKeyName, uTestId,
                                           (uint32_t)iIndex, "", szValue,
                                           DAPI2_PARAM_INI_VALUE_SIZE, &bPresent))
        return -1;
    return bPresent;
}

/* AssignParameterFieldsFromIniFileByIndex - fills the record from definition
 * [test][index]: type (absent: done, nothing set), name (absent: done, only the
 * type set), then each present one of description, must-be-set, recommend-
 * validate (boolean texts), mask, default, minimum, maximum. The value is never
 * touched. Returns 1 done, 0 out of memory or a store failed. */
int AssignParameterFieldsFromIniFileByIndex(const char *szPath, uint32_t uTestId, int32_t iIndex,
                                            Dapi2Parameter *pParam)
{
    TPRINTF(9, __FILE__, __LINE__, "", "AssignTestPropertyFromIniFile: top of function\n");
    if (pParam == NULL)
        return 0;
    char *szValue = (char *)malloc(DAPI2_PARAM_INI_VALUE_SIZE);
    if (szValue == NULL)
        return 0;
    int iRc = 0;
    int iHave;

    if ((iHave = ReadDefinitionKey(szPath, uTestId, iIndex, "szParameterType", szValue)) < 0)
        goto done;
    if (iHave == 0) {
        iRc = 1;
        goto done;
    }
    Dapi2_SetParameterType(pParam, ParameterTypeStrToType(szValue));

    if ((iHave = ReadDefinitionKey(szPath, uTestId, iIndex, "szParameterName", szValue)) < 0)
        goto done;
    if (iHave == 0) {
        iRc = 1;
        goto done;
    }
    if (!Dapi2_SetParameterName(pParam, szValue))
        goto done;

    if ((iHave = ReadDefinitionKey(szPath, uTestId, iIndex, "szParameterDescription", szValue)) <
            0 ||
        (iHave && !Dapi2_SetParameterDescription(pParam, szValue)))
        goto done;
    if ((iHave = ReadDefinitionKey(szPath, uTestId, iIndex, "iParameterMustBeSet", szValue)) < 0)
        goto done;
    if (iHave)
        Dapi2_SetParameterMustBeSet(pParam, StrToBool(szValue));
    if ((iHave = ReadDefinitionKey(szPath, uTestId, iIndex, "iParameterRecommendValidate",
                                   szValue)) < 0)
        goto done;
    if (iHave)
        Dapi2_SetParameterRecommendValidate(pParam, StrToBool(szValue));
    if ((iHave = ReadDefinitionKey(szPath, uTestId, iIndex, "szParameterMask", szValue)) < 0 ||
        (iHave && !Dapi2_SetParameterMask(pParam, szValue)))
        goto done;
    if ((iHave = ReadDefinitionKey(szPath, uTestId, iIndex, "szParameterDefaultValue", szValue)) <
            0 ||
        (iHave && !Dapi2_SetParameterDefaultValFromStr(pParam, szValue)))
        goto done;
    if ((iHave = ReadDefinitionKey(szPath, uTestId, iIndex, "iParameterMinValue", szValue)) < 0 ||
        (iHave && !Dapi2_SetParameterMinValFromStr(pParam, szValue)))
        goto done;
    if ((iHave = ReadDefinitionKey(szPath, uTestId, iIndex, "iParameterMaxValue", szValue)) < 0 ||
        (iHave && !Dapi2_SetParameterMaxValFromStr(pParam, szValue)))
        goto done;
    iRc = 1;
done:
    free(szValue);
    return iRc;
}

/* AssignParameterFieldsFromIniFile - looks up the definition of the record's id
 * for the test and fills the record from it. Returns 1 (also when the id has
 * no definition: the record is then unchanged), 0 on failure. */
int AssignParameterFieldsFromIniFile(const char *szPath, uint32_t uTestId, Dapi2Parameter *pParam)
{
    int32_t iIndex = -1;
    if (pParam == NULL || !GetParamIndex(szPath, uTestId, Dapi2_GetParameterId(pParam), &iIndex))
        return 0;
    if (iIndex < 0)
        return 1;
    return AssignParameterFieldsFromIniFileByIndex(szPath, uTestId, iIndex, pParam);
}

/* GetParamIniInfo - completes every record of the list (predefined included)
 * from the definitions file. Returns 1, or 0 at the first failure. Moves the
 * list's position. */
int GetParamIniInfo(const char *szPath, uint32_t uTestId, Dapi2ParamList *pPair)
{
    for (Dapi2Parameter *pParam = Dapi2_I_GetFirstParameter(pPair); pParam != NULL;
         pParam = Dapi2_I_GetNextParameter(pPair))
        if (!AssignParameterFieldsFromIniFile(szPath, uTestId, pParam))
            return 0;
    return 1;
}

/* ---- validation answer ---- */

/* ZoltClientCreateResponse - builds "<MSG><HDR>...</HDR><DATA>szData</DATA></MSG>"
 * plus the line end into szBuffer: TO the sender pid as text, RE the request id
 * ("%lu"), TYPE "TRANSACTION_RESPONSE", no LANG. Returns 0 done, 1 header
 * failed, 2 out of memory, 3 data element failed, 4 message failed (does not fit
 * uBufferSize). The work buffer is released on every path. */
int ZoltClientCreateResponse(long lSenderPid, unsigned long ulReId, const char *szData,
                             char *szBuffer, uint32_t uBufferSize)
{
    enum { RESPONSE_HEADER_SIZE = 150, RESPONSE_ID_SIZE = 32 };
    char szReId[RESPONSE_ID_SIZE];
    char szTo[RESPONSE_ID_SIZE];
    char szHeader[RESPONSE_HEADER_SIZE];
    if (szData == NULL)
        szData = "";
    snprintf(szReId, sizeof szReId, "%lu", ulReId);
    ZoltGetProcessIdString(lSenderPid, szTo, (int)sizeof szTo);
    if (ZoltCreateMessageHeader(szHeader, (int)sizeof szHeader, szTo, szReId,
                                "TRANSACTION_RESPONSE", NULL) != 0)
        return 1;
    size_t uWorkSize = strlen(szData) + 2 * strlen("DATA") + 10;
    char *szWork = (char *)malloc(uWorkSize);
    if (szWork == NULL)
        return 2;
    int iRc = 0;
    if (ZoltCreateMessage(szWork, (int)uWorkSize, "DATA", szData, (const char *)nullptr) != 0)
        iRc = 3;
    else if (szBuffer == NULL || ZoltCreateMessage(szBuffer, (int)uBufferSize, "MSG", szHeader,
                                                   szWork, (const char *)nullptr) != 0)
        iRc = 4;
    free(szWork);
    return iRc;
}

/* AppendValidateParmsXMLResultsForParameter - appends "<PARAMETER><ID>id</ID>
 * <VALID_FLAG>flag name</VALID_FLAG>", "<MIN_VALUE>min</MIN_VALUE>" when the
 * record has a minimum, "<MAX_VALUE>max</MAX_VALUE>" when it has a maximum, and
 * "</PARAMETER>", with nothing between the pieces and texts as they are.
 * Returns 1, or 0 when an append fails. */
int AppendValidateParmsXMLResultsForParameter(const Dapi2Parameter *pParam, CGenStr *pStr)
{
    TPRINTF(9, __FILE__, __LINE__, "",
            "AppendValidateParmsXMLResultsForParameter: top of function\n");
    if (pParam == NULL || pStr == NULL)
        return 0;
    if (!CGenStrCatf(pStr, "<PARAMETER><ID>%s</ID><VALID_FLAG>%s</VALID_FLAG>",
                     Dapi2_GetParameterId(pParam),
                     ParameterValidFlagToStr(Dapi2_GetParameterValidFlag(pParam))))
        return 0;
    TPRINTF(9, __FILE__, __LINE__, "", "AppendValidateParmsXMLResultsForParameter: checkpoint\n");
    if (Dapi2_GetParameterHasMinVal(pParam) &&
        !CGenStrCatf(pStr, "<MIN_VALUE>%s</MIN_VALUE>", Dapi2_GetParameterMinValAsStr(pParam)))
        return 0;
    TPRINTF(9, __FILE__, __LINE__, "", "checking if param has max val\n");
    if (Dapi2_GetParameterHasMaxVal(pParam)) {
        TPRINTF(9, __FILE__, __LINE__, "", "param has max val\n");
        if (!CGenStrCatf(pStr, "<MAX_VALUE>%s</MAX_VALUE>", Dapi2_GetParameterMaxValAsStr(pParam)))
            return 0;
    }
    return CGenStrCatChar(pStr, "</PARAMETER>");
}

/* AppendValidateParmsXMLResults - appends the whole answer: "<DATA>
 * <PARAM_VALIDATION_RESULTS>", every parameter of the list in order (predefined
 * included), "</PARAM_VALIDATION_RESULTS></DATA>". Returns 1, or 0 when an
 * append fails. Moves the list's position. */
int AppendValidateParmsXMLResults(Dapi2ParamList *pPair, CGenStr *pStr)
{
    TPRINTF(9, __FILE__, __LINE__, "", "AppendValidateParmsXMLResults: checkpoint\n");
    if (pStr == NULL || !CGenStrCatChar(pStr, "<DATA><PARAM_VALIDATION_RESULTS>"))
        return 0;
    for (const Dapi2Parameter *pParam = Dapi2_I_GetFirstParameterConst(pPair); pParam != NULL;
         pParam = Dapi2_I_GetNextParameterConst(pPair))
        if (!AppendValidateParmsXMLResultsForParameter(pParam, pStr))
            return 0;
    return CGenStrCatChar(pStr, "</PARAM_VALIDATION_RESULTS></DATA>");
}
