/* param-valid.h - test parameters: the parameter record (every value held as
 * text, typed accessors), the parameter list, param= words of the command line,
 * completion from the definitions file, and the validation answer
 * (TRANSACTION_RESPONSE) of validate mode.
 * Main thread only. A list owns its records; record texts are CGenStrs owned by
 * the record. */
#ifndef ZOLT_PARAM_VALID_H
#define ZOLT_PARAM_VALID_H

#include <stdint.h>

#include "gen-list.h"
#include "gen-str.h"

/* Parameter types (ParameterTypeToStr / ParameterTypeStrToType). */
#define DAPI2_PARAM_TYPE_INVALID (-1)
#define DAPI2_PARAM_TYPE_INT32 0
#define DAPI2_PARAM_TYPE_UINT32 1
#define DAPI2_PARAM_TYPE_BOOL 2
#define DAPI2_PARAM_TYPE_FLOAT 3
#define DAPI2_PARAM_TYPE_STRING 4

/* Valid flags (ParameterValidFlagToStr / ParameterValidFlagStrToType). */
#define DAPI2_PARAM_VALID 0
#define DAPI2_PARAM_ID_NOT_RECOGNIZED 1
#define DAPI2_PARAM_VALUE_TOO_BIG 2
#define DAPI2_PARAM_VALUE_TOO_SMALL 3
#define DAPI2_PARAM_VALUE_BAD 4

/* Id of the one predefined parameter: owned by the framework, hidden from the
 * module's Dapi2_GetFirstParameter / Dapi2_GetNextParameter walk. */
#define DAPI2_PERCENT_TO_TEST_ID "ZOLT_DAPI2_PERCENT_TO_TEST"

/* Room reserved for the value and default texts of a new record. */
#define DAPI2_PARAM_VALUE_RESERVE 40
/* Definitions values are read into a buffer of this size (2047 characters used). */
#define DAPI2_PARAM_INI_VALUE_SIZE 2048
/* The validation answer must fit one message of this size. */
#define DAPI2_VALIDATE_MSG_SIZE 4096

/* One parameter; initialise a zeroed record with Dapi2_InitParameter. */
struct Dapi2Parameter {
    CGenStr strId;
    CGenStr strName;
    CGenStr strDescription;
    int32_t iType;      /* DAPI2_PARAM_TYPE_*, -1 until known */
    int32_t iValidFlag; /* DAPI2_PARAM_VALID ... */
    int32_t iMustBeSet;
    int32_t iRecommendValidate;
    CGenStr strMask;
    CGenStr strValue;
    int32_t bHasDefault;
    CGenStr strDefault;
    int32_t bHasMin;
    CGenStr strMin;
    int32_t bHasMax;
    CGenStr strMax;
};

/* A list of parameters and the position that the first/next functions move.
 * Both blocks are created by Dapi2_ParamListConstruct and released by
 * Dapi2_ParamListDestruct; a zeroed pair is "not constructed". */
struct Dapi2ParamList {
    CGenList *pList; /* owning, element destructor Dapi2_DestructParameter */
    CGenListIter *pItr;
};

/* The list of the run and validate modes. */
extern Dapi2ParamList g_paramList;

/* Record life. */
int Dapi2_InitParameter(Dapi2Parameter *pParam); /* 1, or 0 (nothing left set up) */
void Dapi2_DestructParameter(void *pParam);      /* texts only; list releases the record */
/* Reads ID, VALID_FLAG and the optional MIN_VALUE / MAX_VALUE from the inner text
 * of one PARAMETER element. 1 with *piOk 1 done, 1 with *piOk 0 when ID or
 * VALID_FLAG is missing, 0 out of memory or a store failed. */
int Dapi2_AssignParameterFromXML(Dapi2Parameter *pParam, const char *szXml, int *piOk);
int IsPredefinedParameter(const Dapi2Parameter *pParam); /* 1 for DAPI2_PERCENT_TO_TEST_ID */

/* Accessors take an initialised record (never null). Scalar fields: */
const char *Dapi2_GetParameterId(const Dapi2Parameter *pParam);
int Dapi2_SetParameterId(Dapi2Parameter *pParam, const char *szText);
const char *Dapi2_GetParameterName(const Dapi2Parameter *pParam);
int Dapi2_SetParameterName(Dapi2Parameter *pParam, const char *szText);
const char *Dapi2_GetParameterDescription(const Dapi2Parameter *pParam);
int Dapi2_SetParameterDescription(Dapi2Parameter *pParam, const char *szText);
const char *Dapi2_GetParameterMask(const Dapi2Parameter *pParam);
int Dapi2_SetParameterMask(Dapi2Parameter *pParam, const char *szText);
int32_t Dapi2_GetParameterType(const Dapi2Parameter *pParam);
void Dapi2_SetParameterType(Dapi2Parameter *pParam, int32_t iType);
int32_t Dapi2_GetParameterValidFlag(const Dapi2Parameter *pParam);
void Dapi2_SetParameterValidFlag(Dapi2Parameter *pParam, int32_t iFlag);
int32_t Dapi2_GetParameterMustBeSet(const Dapi2Parameter *pParam);
void Dapi2_SetParameterMustBeSet(Dapi2Parameter *pParam, int32_t iFlag);
int32_t Dapi2_GetParameterRecommendValidate(const Dapi2Parameter *pParam);
void Dapi2_SetParameterRecommendValidate(Dapi2Parameter *pParam, int32_t iFlag);

/* Value. Setters return the string operation's result (1 stored, 0 failed and
 * the old text kept); reading an empty or non-numeric text gives 0. */
int32_t Dapi2_GetParameterValAsInt32(const Dapi2Parameter *pParam);
uint32_t Dapi2_GetParameterValAsUInt32(const Dapi2Parameter *pParam);
int Dapi2_GetParameterValAsBool(const Dapi2Parameter *pParam);
float Dapi2_GetParameterValAsFloat(const Dapi2Parameter *pParam);
const char *Dapi2_GetParameterValAsStr(const Dapi2Parameter *pParam);
int Dapi2_SetParameterValFromInt32(Dapi2Parameter *pParam, int32_t iVal);
int Dapi2_SetParameterValFromUInt32(Dapi2Parameter *pParam, uint32_t uVal);
int Dapi2_SetParameterValFromBool(Dapi2Parameter *pParam, int bVal);
int Dapi2_SetParameterValFromFloat(Dapi2Parameter *pParam, float fVal);
int Dapi2_SetParameterValFromStr(Dapi2Parameter *pParam, const char *szVal);

/* Default value; every setter sets the has-flag. */
int Dapi2_GetParameterHasDefaultValue(const Dapi2Parameter *pParam);
int32_t Dapi2_GetParameterDefaultValAsInt32(const Dapi2Parameter *pParam);
uint32_t Dapi2_GetParameterDefaultValAsUInt32(const Dapi2Parameter *pParam);
int Dapi2_GetParameterDefaultValAsBool(const Dapi2Parameter *pParam);
float Dapi2_GetParameterDefaultValAsFloat(const Dapi2Parameter *pParam);
const char *Dapi2_GetParameterDefaultValAsStr(const Dapi2Parameter *pParam);
int Dapi2_SetParameterDefaultValFromInt32(Dapi2Parameter *pParam, int32_t iVal);
int Dapi2_SetParameterDefaultValFromUInt32(Dapi2Parameter *pParam, uint32_t uVal);
int Dapi2_SetParameterDefaultValFromBool(Dapi2Parameter *pParam, int bVal);
int Dapi2_SetParameterDefaultValFromFloat(Dapi2Parameter *pParam, float fVal);
int Dapi2_SetParameterDefaultValFromStr(Dapi2Parameter *pParam, const char *szVal);

/* Minimum; every setter sets the has-flag. */
int Dapi2_GetParameterHasMinVal(const Dapi2Parameter *pParam);
int32_t Dapi2_GetParameterMinValAsInt32(const Dapi2Parameter *pParam);
uint32_t Dapi2_GetParameterMinValAsUInt32(const Dapi2Parameter *pParam);
float Dapi2_GetParameterMinValAsFloat(const Dapi2Parameter *pParam);
const char *Dapi2_GetParameterMinValAsStr(const Dapi2Parameter *pParam);
int Dapi2_SetParameterMinValFromInt32(Dapi2Parameter *pParam, int32_t iVal);
int Dapi2_SetParameterMinValFromUInt32(Dapi2Parameter *pParam, uint32_t uVal);
int Dapi2_SetParameterMinValFromFloat(Dapi2Parameter *pParam, float fVal);
int Dapi2_SetParameterMinValFromStr(Dapi2Parameter *pParam, const char *szVal);

/* Maximum; every setter sets the has-flag. */
int Dapi2_GetParameterHasMaxVal(const Dapi2Parameter *pParam);
int32_t Dapi2_GetParameterMaxValAsInt32(const Dapi2Parameter *pParam);
uint32_t Dapi2_GetParameterMaxValAsUInt32(const Dapi2Parameter *pParam);
float Dapi2_GetParameterMaxValAsFloat(const Dapi2Parameter *pParam);
const char *Dapi2_GetParameterMaxValAsStr(const Dapi2Parameter *pParam);
int Dapi2_SetParameterMaxValFromInt32(Dapi2Parameter *pParam, int32_t iVal);
int Dapi2_SetParameterMaxValFromUInt32(Dapi2Parameter *pParam, uint32_t uVal);
int Dapi2_SetParameterMaxValFromFloat(Dapi2Parameter *pParam, float fVal);
int Dapi2_SetParameterMaxValFromStr(Dapi2Parameter *pParam, const char *szVal);

/* Text forms. */
const char *ParameterTypeToStr(int32_t iType);           /* "invalid" for unknown */
int32_t ParameterTypeStrToType(const char *szType);      /* case-insensitive, -1 unknown */
const char *ParameterValidFlagToStr(int32_t iFlag);      /* "valid flag invalid" for unknown */
int32_t ParameterValidFlagStrToType(const char *szFlag); /* case-insensitive, -1 unknown */

/* Conversions. */
uint32_t atoul(const char *szText); /* base 10, 0 for null */
int StrToBool(const char *szText);  /* 0 for "0", "f", "false" (any case), else 1 */
const char *BoolToStr(int bVal);    /* "true" / "false" */
int CopyStrToPointer(char **pszDest, const char *szText); /* 1, or 0 with nothing changed */

/* List. Construct returns 1 or 0 (nothing left behind); AddParameter returns
 * the list's result (1 appended, 0 not: the caller still owns the record). */
int Dapi2_ParamListConstruct(Dapi2ParamList *pPair);
void Dapi2_ParamListDestruct(Dapi2ParamList *pPair);
int Dapi2_AddParameter(Dapi2ParamList *pPair, Dapi2Parameter *pParam);
Dapi2Parameter *Dapi2_I_GetFirstParameter(Dapi2ParamList *pPair);
Dapi2Parameter *Dapi2_I_GetNextParameter(Dapi2ParamList *pPair);
const Dapi2Parameter *Dapi2_I_GetFirstParameterConst(Dapi2ParamList *pPair);
const Dapi2Parameter *Dapi2_I_GetNextParameterConst(Dapi2ParamList *pPair);
Dapi2Parameter *Dapi2_DeleteCurrentParameter(Dapi2ParamList *pPair);
/* The module's walk over g_paramList, predefined parameters skipped. */
Dapi2Parameter *Dapi2_GetFirstParameter(void);
Dapi2Parameter *Dapi2_GetNextParameter(void);

/* Command line: every "param=<id>,<value>" word becomes a parameter appended to
 * the list. "param=" alone or an empty id adds nothing; an id without a value is
 * a failure. Returns 1, or 0 at the first failure (earlier words stay added). */
int GetParamsFromCommandLine(int argc, char **argv, Dapi2ParamList *pPair);

/* Command line of validate mode: "senderpid=" and "reid=" words (last wins,
 * both 0 without a word). Always 1. */
int GetSenderPidAndReId(int argc, char **argv, long *plSenderPid, unsigned long *pulReId);

/* Definitions file: keys "<name>[<test>][<index>]" of section "Module". */
int Dapi2GetParamPrivateProfileString(const char *szPath, const char *szSection,
                                      const char *szKeyName, uint32_t uTestId, uint32_t uIndex,
                                      const char *szDefault, char *szBuffer, uint32_t uBufferSize,
                                      int *pbPresent); /* 1, 0 key not built */
int GetParamIndex(const char *szPath, uint32_t uTestId, const char *szParamId,
                  int32_t *piIndex); /* 1 (index -1: none), 0 failed */
int AssignParameterFieldsFromIniFileByIndex(const char *szPath, uint32_t uTestId, int32_t iIndex,
                                            Dapi2Parameter *pParam);
int AssignParameterFieldsFromIniFile(const char *szPath, uint32_t uTestId, Dapi2Parameter *pParam);
int GetParamIniInfo(const char *szPath, uint32_t uTestId, Dapi2ParamList *pPair);

/* Validation answer. ZoltClientCreateResponse builds a whole TRANSACTION_RESPONSE
 * message TO the sender with RE the request id: 0 done, 1 header failed, 2 out of
 * memory, 3 data element failed, 4 message failed (does not fit). */
int ZoltClientCreateResponse(long lSenderPid, unsigned long ulReId, const char *szData,
                             char *szBuffer, uint32_t uBufferSize);
int AppendValidateParmsXMLResultsForParameter(const Dapi2Parameter *pParam, CGenStr *pStr);
int AppendValidateParmsXMLResults(Dapi2ParamList *pPair, CGenStr *pStr); /* 1, 0 */

#endif
