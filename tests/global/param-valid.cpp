/* Tests of the parameter model: typed accessors at their limits, the module's
 * walk that hides the predefined parameter, param= words, the definitions-file
 * keys read from fixture files, and the validation answer and its envelope. */
#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "message-protocol.h"
#include "param-valid.h"

namespace {

std::string Fixture(const char *szName)
{
    return std::string(ZOLT_FIXTURES) + "/params/" + szName;
}

/* A heap record set up like the command line does it. */
Dapi2Parameter *NewParam(const char *szId, const char *szValue)
{
    Dapi2Parameter *p = (Dapi2Parameter *)calloc(1, sizeof(Dapi2Parameter));
    EXPECT_EQ(Dapi2_InitParameter(p), 1);
    EXPECT_EQ(Dapi2_SetParameterId(p, szId), 1);
    EXPECT_EQ(Dapi2_SetParameterValFromStr(p, szValue), 1);
    return p;
}

/* A list the test owns, released at the end of the test. */
struct ParamListGuard {
    Dapi2ParamList pair {};
    ParamListGuard() { EXPECT_EQ(Dapi2_ParamListConstruct(&pair), 1); }
    ~ParamListGuard() { Dapi2_ParamListDestruct(&pair); }
    void Add(const char *szId, const char *szValue)
    {
        ASSERT_EQ(Dapi2_AddParameter(&pair, NewParam(szId, szValue)), 1);
    }
    std::vector<std::pair<std::string, std::string>> Contents()
    {
        std::vector<std::pair<std::string, std::string>> v;
        for (Dapi2Parameter *p = Dapi2_I_GetFirstParameter(&pair); p != NULL;
             p = Dapi2_I_GetNextParameter(&pair))
            v.emplace_back(Dapi2_GetParameterId(p), Dapi2_GetParameterValAsStr(p));
        return v;
    }
};

/* A stack record that is released when the test ends. */
struct LocalParam {
    Dapi2Parameter rec {};
    LocalParam() { EXPECT_EQ(Dapi2_InitParameter(&rec), 1); }
    ~LocalParam() { Dapi2_DestructParameter(&rec); }
};

}  // namespace

TEST(ParamRecord, NewRecordIsEmptyAndUndefined)
{
    LocalParam p;
    EXPECT_EQ(Dapi2_GetParameterType(&p.rec), -1);
    EXPECT_EQ(Dapi2_GetParameterValidFlag(&p.rec), 0);
    EXPECT_EQ(Dapi2_GetParameterHasDefaultValue(&p.rec) + Dapi2_GetParameterHasMinVal(&p.rec) +
                  Dapi2_GetParameterHasMaxVal(&p.rec),
              0);
    EXPECT_STREQ(Dapi2_GetParameterId(&p.rec), "");
    EXPECT_STREQ(Dapi2_GetParameterValAsStr(&p.rec), "");
    EXPECT_EQ(Dapi2_GetParameterValAsInt32(&p.rec), 0);
    EXPECT_EQ(Dapi2_GetParameterValAsBool(&p.rec), 1);   /* the empty text reads true */
}

TEST(ParamRecord, Int32TextsReadAtTheLimits)
{
    static const struct { const char *szText; int32_t iExpect; } s_Cases[] = {
        { "2147483647", INT32_MAX },
        { "-2147483648", INT32_MIN },
        { "2147483648", INT32_MAX },        /* held at the limit in every build */
        { "-99999999999", INT32_MIN },
        { "12abc", 12 },                    /* leading digits only */
        { "  -7", -7 },
        { "abc", 0 },
        { "", 0 },
        { "0.100000", 0 },
    };
    LocalParam p;
    for (const auto &c : s_Cases) {
        ASSERT_EQ(Dapi2_SetParameterValFromStr(&p.rec, c.szText), 1);
        EXPECT_EQ(Dapi2_GetParameterValAsInt32(&p.rec), c.iExpect) << c.szText;
    }
    ASSERT_EQ(Dapi2_SetParameterValFromInt32(&p.rec, INT32_MIN), 1);
    EXPECT_STREQ(Dapi2_GetParameterValAsStr(&p.rec), "-2147483648");
    EXPECT_EQ(Dapi2_GetParameterValAsInt32(&p.rec), INT32_MIN);
}

TEST(ParamRecord, UInt32TextsReadAtTheLimits)
{
    static const struct { const char *szText; uint32_t uExpect; } s_Cases[] = {
        { "4294967295", UINT32_MAX },
        { "4294967296", UINT32_MAX },       /* a 64-bit strtoul would wrap to 0 */
        { "99999999999999999999999", UINT32_MAX },
        { "-1", UINT32_MAX },               /* negated modulo 2^32 */
        { "-4294967296", UINT32_MAX },
        { "+17x", 17 },
        { "x17", 0 },
    };
    for (const auto &c : s_Cases)
        EXPECT_EQ(atoul(c.szText), c.uExpect) << c.szText;
    EXPECT_EQ(atoul(NULL), 0u);
    LocalParam p;
    ASSERT_EQ(Dapi2_SetParameterMaxValFromUInt32(&p.rec, UINT32_MAX), 1);
    EXPECT_STREQ(Dapi2_GetParameterMaxValAsStr(&p.rec), "4294967295");
    EXPECT_EQ(Dapi2_GetParameterMaxValAsUInt32(&p.rec), UINT32_MAX);
}

TEST(ParamRecord, FloatsAreWrittenWithSixDecimals)
{
    LocalParam p;
    ASSERT_EQ(Dapi2_SetParameterValFromFloat(&p.rec, 0.1f), 1);
    EXPECT_STREQ(Dapi2_GetParameterValAsStr(&p.rec), "0.100000");
    EXPECT_EQ(Dapi2_GetParameterValAsInt32(&p.rec), 0);
    ASSERT_EQ(Dapi2_SetParameterDefaultValFromFloat(&p.rec, 2.5f), 1);
    EXPECT_STREQ(Dapi2_GetParameterDefaultValAsStr(&p.rec), "2.500000");
    ASSERT_EQ(Dapi2_SetParameterMaxValFromFloat(&p.rec, 3.4028235e38f), 1);  /* FLT_MAX fits */
    EXPECT_FLOAT_EQ(Dapi2_GetParameterMaxValAsFloat(&p.rec), 3.4028235e38f);
    ASSERT_EQ(Dapi2_SetParameterMinValFromStr(&p.rec, "100"), 1);
    EXPECT_FLOAT_EQ(Dapi2_GetParameterMinValAsFloat(&p.rec), 100.0f);
    ASSERT_EQ(Dapi2_SetParameterMaxValFromStr(&p.rec, "100"), 1);
    EXPECT_FLOAT_EQ(Dapi2_GetParameterMaxValAsFloat(&p.rec), 100.0f);
}

TEST(ParamRecord, BooleanTexts)
{
    static const struct { const char *szText; int bExpect; } s_Cases[] = {
        { "0", 0 }, { "f", 0 }, { "F", 0 }, { "false", 0 }, { "FALSE", 0 }, { "FaLsE", 0 },
        { "no", 1 }, { "", 1 }, { "00", 1 }, { "fa", 1 }, { "false ", 1 }, { "1", 1 },
    };
    LocalParam p;
    for (const auto &c : s_Cases) {
        ASSERT_EQ(Dapi2_SetParameterValFromStr(&p.rec, c.szText), 1);
        EXPECT_EQ(Dapi2_GetParameterValAsBool(&p.rec), c.bExpect) << "'" << c.szText << "'";
    }
    ASSERT_EQ(Dapi2_SetParameterValFromBool(&p.rec, 0), 1);
    EXPECT_STREQ(Dapi2_GetParameterValAsStr(&p.rec), "false");
    EXPECT_EQ(Dapi2_GetParameterValAsBool(&p.rec), 0);
}

TEST(ParamRecord, OnlyLimitAndDefaultSettersRaiseTheirFlags)
{
    LocalParam p;
    Dapi2_SetParameterValFromInt32(&p.rec, 5);
    EXPECT_EQ(Dapi2_GetParameterHasDefaultValue(&p.rec) + Dapi2_GetParameterHasMinVal(&p.rec) +
                  Dapi2_GetParameterHasMaxVal(&p.rec),
              0);
    Dapi2_SetParameterDefaultValFromBool(&p.rec, 1);
    EXPECT_EQ(Dapi2_GetParameterHasDefaultValue(&p.rec), 1);
    EXPECT_EQ(Dapi2_GetParameterHasMinVal(&p.rec), 0);
    Dapi2_SetParameterMinValFromInt32(&p.rec, -3);
    EXPECT_EQ(Dapi2_GetParameterHasMinVal(&p.rec), 1);
    EXPECT_EQ(Dapi2_GetParameterHasMaxVal(&p.rec), 0);
    Dapi2_SetParameterMaxValFromUInt32(&p.rec, 3);
    EXPECT_EQ(Dapi2_GetParameterHasMaxVal(&p.rec), 1);
    EXPECT_STREQ(Dapi2_GetParameterValAsStr(&p.rec), "5");
}

TEST(ParamRecord, LongTextsReplaceShortOnesAndBack)
{
    LocalParam p;
    std::string strLong(100000, 'v');
    ASSERT_EQ(Dapi2_SetParameterValFromStr(&p.rec, strLong.c_str()), 1);
    EXPECT_EQ(strlen(Dapi2_GetParameterValAsStr(&p.rec)), strLong.size());
    ASSERT_EQ(Dapi2_SetParameterValFromStr(&p.rec, "7"), 1);
    EXPECT_STREQ(Dapi2_GetParameterValAsStr(&p.rec), "7");
    EXPECT_EQ(Dapi2_SetParameterValFromStr(&p.rec, NULL), 0);   /* refused, old text kept */
    EXPECT_STREQ(Dapi2_GetParameterValAsStr(&p.rec), "7");
}

TEST(ParamNames, TypeAndValidFlagTexts)
{
    EXPECT_EQ(ParameterTypeStrToType("Float"), 3);
    EXPECT_EQ(ParameterTypeStrToType("STRING"), 4);
    EXPECT_EQ(ParameterTypeStrToType("double"), -1);
    EXPECT_EQ(ParameterTypeStrToType("int"), -1);        /* no prefix matching */
    EXPECT_EQ(ParameterTypeStrToType(NULL), -1);
    EXPECT_STREQ(ParameterTypeToStr(5), "invalid");
    EXPECT_STREQ(ParameterTypeToStr(-1), "invalid");
    EXPECT_EQ(ParameterValidFlagStrToType("Value Too Small"), 3);
    EXPECT_EQ(ParameterValidFlagStrToType("value too"), -1);
    EXPECT_STREQ(ParameterValidFlagToStr(4), "value bad");
    EXPECT_STREQ(ParameterValidFlagToStr(5), "valid flag invalid");
    EXPECT_STREQ(ParameterValidFlagToStr(-1), "valid flag invalid");
}

TEST(ParamList, ModuleWalkSkipsThePredefinedParameter)
{
    ASSERT_EQ(Dapi2_ParamListConstruct(&g_paramList), 1);
    ASSERT_EQ(Dapi2_AddParameter(&g_paramList, NewParam(DAPI2_PERCENT_TO_TEST_ID, "50")), 1);
    EXPECT_EQ(Dapi2_GetFirstParameter(), nullptr);
    ASSERT_NE(Dapi2_I_GetFirstParameter(&g_paramList), nullptr);

    /* predefined first, between and last; a near-miss id is not predefined */
    ASSERT_EQ(Dapi2_AddParameter(&g_paramList, NewParam("A", "1")), 1);
    ASSERT_EQ(Dapi2_AddParameter(&g_paramList, NewParam(DAPI2_PERCENT_TO_TEST_ID, "60")), 1);
    ASSERT_EQ(Dapi2_AddParameter(&g_paramList, NewParam("zolt_dapi2_percent_to_test", "2")), 1);
    ASSERT_EQ(Dapi2_AddParameter(&g_paramList, NewParam(DAPI2_PERCENT_TO_TEST_ID, "70")), 1);
    std::vector<std::string> seen;
    for (Dapi2Parameter *p = Dapi2_GetFirstParameter(); p != NULL; p = Dapi2_GetNextParameter())
        seen.push_back(Dapi2_GetParameterId(p));
    EXPECT_EQ(seen, (std::vector<std::string> { "A", "zolt_dapi2_percent_to_test" }));
    EXPECT_EQ(Dapi2_GetNextParameter(), nullptr);   /* stays at the end */
    Dapi2_ParamListDestruct(&g_paramList);
    EXPECT_EQ(Dapi2_GetFirstParameter(), nullptr);  /* destroyed list: nothing */
}

TEST(ParamList, DeleteCurrentLeavesThePositionOnTheFollower)
{
    ParamListGuard list;
    list.Add("A", "1");
    list.Add("B", "2");
    list.Add("C", "3");
    EXPECT_EQ(Dapi2_DeleteCurrentParameter(&list.pair), nullptr);   /* position never placed */
    ASSERT_NE(Dapi2_I_GetFirstParameter(&list.pair), nullptr);
    Dapi2Parameter *p = Dapi2_DeleteCurrentParameter(&list.pair);   /* removes A */
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(Dapi2_GetParameterId(p), "B");
    ASSERT_NE(Dapi2_I_GetNextParameter(&list.pair), nullptr);       /* on C, the last */
    EXPECT_EQ(Dapi2_DeleteCurrentParameter(&list.pair), nullptr);   /* removes C */
    EXPECT_EQ(Dapi2_DeleteCurrentParameter(&list.pair), nullptr);   /* at the end: nothing */
    EXPECT_EQ(list.Contents(), (std::vector<std::pair<std::string, std::string>> { { "B", "2" } }));
}

TEST(ParamWords, CommandLineWordsBecomeParameters)
{
    typedef std::vector<std::pair<std::string, std::string>> Contents;
    static const struct {
        std::vector<const char *> words;
        int iRc;
        Contents expect;
    } s_Cases[] = {
        { { "zolt.linux", "run", "param=A,1" }, 1, { { "A", "1" } } },
        { { "param=A,1,2,,3" }, 1, { { "A", "1,2,,3" } } },          /* later commas kept */
        { { "param=" }, 1, {} },
        { { "param=,5" }, 1, {} },                                  /* empty id: nothing */
        { { "Param=A,1", "xparam=B,2", "param" }, 1, {} },           /* prefix is exact */
        { { "param=A, " }, 1, { { "A", " " } } },
        { { "param=X" }, 0, {} },                                   /* id without value */
        { { "param=A,1", "param=X,", "param=B,2" }, 0, { { "A", "1" } } },
        { { "param=A,1", "param=A,2" }, 1, { { "A", "1" }, { "A", "2" } } },
    };
    for (const auto &c : s_Cases) {
        ParamListGuard list;
        std::vector<char *> argv;
        for (const char *sz : c.words)
            argv.push_back(const_cast<char *>(sz));
        EXPECT_EQ(GetParamsFromCommandLine((int)argv.size(), argv.data(), &list.pair), c.iRc)
            << c.words.back();
        EXPECT_EQ(list.Contents(), c.expect) << c.words.back();
    }
}

TEST(ParamWords, OverLongWordIsKeptWhole)
{
    std::string strId(5000, 'I');
    std::string strValue(200000, 'v');
    std::string strWord = "param=" + strId + "," + strValue;
    char *argv[] = { const_cast<char *>(strWord.c_str()) };
    ParamListGuard list;
    ASSERT_EQ(GetParamsFromCommandLine(1, argv, &list.pair), 1);
    auto contents = list.Contents();
    ASSERT_EQ(contents.size(), 1u);
    EXPECT_EQ(contents[0].first, strId);
    EXPECT_EQ(contents[0].second, strValue);
}

TEST(ParamWords, SenderPidAndRequestIdLastWins)
{
    long lPid = -1;
    unsigned long ulRe = 99;
    char *argvNone[] = { const_cast<char *>("validate") };
    GetSenderPidAndReId(1, argvNone, &lPid, &ulRe);
    EXPECT_EQ(lPid, 0);
    EXPECT_EQ(ulRe, 0u);
    char *argv[] = { const_cast<char *>("senderpid=5"), const_cast<char *>("reid=3"),
                     const_cast<char *>("senderpid=812"), const_cast<char *>("reid=7"),
                     const_cast<char *>("xreid=9") };
    EXPECT_EQ(GetSenderPidAndReId(5, argv, &lPid, &ulRe), 1);
    EXPECT_EQ(lPid, 812);
    EXPECT_EQ(ulRe, 7u);
}

TEST(ParamDefinitions, IndexOfAnIdStopsAtTheFirstGap)
{
    static const struct { uint32_t uTest; const char *szId; int32_t iExpect; } s_Cases[] = {
        { 2, "A", 0 }, { 2, "B", 1 }, { 2, "C", -1 },
        { 2, "b", -1 },                    /* ids compare case-sensitively */
        { 5, "LOST", -1 },                 /* [5][0] absent: [5][1] never read */
        { 12, "AFTER_EMPTY", -1 },         /* an empty value counts as absent */
        { 7, "A", -1 },                    /* no keys for the test */
    };
    std::string strPath = Fixture("definitions.ini");
    for (const auto &c : s_Cases) {
        int32_t iIndex = 42;
        EXPECT_EQ(GetParamIndex(strPath.c_str(), c.uTest, c.szId, &iIndex), 1);
        EXPECT_EQ(iIndex, c.iExpect) << c.uTest << " " << c.szId;
    }
}

TEST(ParamDefinitions, ParametersAreCompletedFromTheirDefinitions)
{
    ParamListGuard list;
    list.Add("B", "7");
    list.Add("A", "-3");
    list.Add("C", "x");
    ASSERT_EQ(GetParamIniInfo(Fixture("definitions.ini").c_str(), 2, &list.pair), 1);

    Dapi2Parameter *pB = Dapi2_I_GetFirstParameter(&list.pair);
    EXPECT_EQ(Dapi2_GetParameterType(pB), DAPI2_PARAM_TYPE_UINT32);  /* "UInt32" any case */
    EXPECT_STREQ(Dapi2_GetParameterName(pB), "Beta");
    EXPECT_STREQ(Dapi2_GetParameterDescription(pB), "Block count");
    EXPECT_EQ(Dapi2_GetParameterMustBeSet(pB), 1);
    EXPECT_EQ(Dapi2_GetParameterRecommendValidate(pB), 0);
    EXPECT_STREQ(Dapi2_GetParameterMask(pB), "9999");
    EXPECT_EQ(Dapi2_GetParameterHasDefaultValue(pB), 1);
    EXPECT_EQ(Dapi2_GetParameterDefaultValAsUInt32(pB), 4u);
    EXPECT_STREQ(Dapi2_GetParameterMinValAsStr(pB), "0");
    EXPECT_STREQ(Dapi2_GetParameterMaxValAsStr(pB), "10");
    EXPECT_STREQ(Dapi2_GetParameterValAsStr(pB), "7");               /* value untouched */

    Dapi2Parameter *pA = Dapi2_I_GetNextParameter(&list.pair);
    EXPECT_EQ(Dapi2_GetParameterType(pA), DAPI2_PARAM_TYPE_INT32);
    EXPECT_STREQ(Dapi2_GetParameterName(pA), "Alpha");
    EXPECT_EQ(Dapi2_GetParameterHasMinVal(pA) + Dapi2_GetParameterHasMaxVal(pA), 0);

    Dapi2Parameter *pC = Dapi2_I_GetNextParameter(&list.pair);          /* no definition */
    EXPECT_EQ(Dapi2_GetParameterType(pC), -1);
    EXPECT_STREQ(Dapi2_GetParameterName(pC), "");
    EXPECT_STREQ(Dapi2_GetParameterValAsStr(pC), "x");
}

TEST(ParamDefinitions, MissingNameOrUnknownTypeStopsEarly)
{
    ParamListGuard list;
    list.Add("TYPEONLY", "1");
    list.Add("ODD", "2");
    ASSERT_EQ(GetParamIniInfo(Fixture("definitions.ini").c_str(), 3, &list.pair), 1);
    Dapi2Parameter *p = Dapi2_I_GetFirstParameter(&list.pair);
    EXPECT_EQ(Dapi2_GetParameterType(p), DAPI2_PARAM_TYPE_FLOAT);
    EXPECT_STREQ(Dapi2_GetParameterName(p), "");
    EXPECT_STREQ(Dapi2_GetParameterDescription(p), "");    /* not read without a name */
    p = Dapi2_I_GetNextParameter(&list.pair);
    EXPECT_EQ(Dapi2_GetParameterType(p), -1);              /* "double" is no type */
    EXPECT_STREQ(Dapi2_GetParameterName(p), "Odd");
}

TEST(ParamDefinitions, OtherFilesAndMissingFile)
{
    {
        ParamListGuard list;                               /* CRLF line ends */
        list.Add("A", "1");
        ASSERT_EQ(GetParamIniInfo(Fixture("crlf.ini").c_str(), 2, &list.pair), 1);
        Dapi2Parameter *p = Dapi2_I_GetFirstParameter(&list.pair);
        EXPECT_EQ(Dapi2_GetParameterType(p), DAPI2_PARAM_TYPE_BOOL);
        EXPECT_STREQ(Dapi2_GetParameterName(p), "Flag");
        EXPECT_STREQ(Dapi2_GetParameterMinValAsStr(p), "1");
    }
    {
        ParamListGuard list;                               /* no file: no failure */
        list.Add("A", "1");
        ASSERT_EQ(GetParamIniInfo(Fixture("no-such-file.ini").c_str(), 2, &list.pair), 1);
        EXPECT_EQ(Dapi2_GetParameterType(Dapi2_I_GetFirstParameter(&list.pair)), -1);
    }
    char szBuf[8];
    int bPresent = 1;
    EXPECT_EQ(Dapi2GetParamPrivateProfileString(Fixture("definitions.ini").c_str(), "Module",
                                                "szParameterDescription", 2, 1, "", szBuf,
                                                sizeof szBuf, &bPresent), 1);
    EXPECT_EQ(bPresent, 1);
    EXPECT_STREQ(szBuf, "Block c");                        /* cut to the buffer */
    EXPECT_EQ(Dapi2GetParamPrivateProfileString(Fixture("definitions.ini").c_str(), "Module",
                                                NULL, 2, 1, "", szBuf, sizeof szBuf, &bPresent), 0);
}

TEST(ParamValidation, AnswerListsEveryParameterInOrder)
{
    ParamListGuard list;
    list.Add("B", "7");
    list.Add(DAPI2_PERCENT_TO_TEST_ID, "101");
    ASSERT_EQ(GetParamIniInfo(Fixture("definitions.ini").c_str(), 2, &list.pair), 1);
    Dapi2_I_GetFirstParameter(&list.pair);
    Dapi2Parameter *pPercent = Dapi2_I_GetNextParameter(&list.pair);
    ASSERT_NE(pPercent, nullptr);
    Dapi2_SetParameterValidFlag(pPercent, DAPI2_PARAM_VALUE_TOO_BIG);
    Dapi2_SetParameterMaxValFromFloat(pPercent, 100.0f);      /* a maximum without minimum */

    CGenStr str;
    ASSERT_EQ(CGenStrInit(&str), 1);
    ASSERT_EQ(AppendValidateParmsXMLResults(&list.pair, &str), 1);
    EXPECT_STREQ(CGenStrC_Str(&str),
                 "<DATA><PARAM_VALIDATION_RESULTS>"
                 "<PARAMETER><ID>B</ID><VALID_FLAG>valid</VALID_FLAG>"
                 "<MIN_VALUE>0</MIN_VALUE><MAX_VALUE>10</MAX_VALUE></PARAMETER>"
                 "<PARAMETER><ID>ZOLT_DAPI2_PERCENT_TO_TEST</ID><VALID_FLAG>value too big"
                 "</VALID_FLAG><MAX_VALUE>100.000000</MAX_VALUE></PARAMETER>"
                 "</PARAM_VALIDATION_RESULTS></DATA>");
    CGenStrDelete(&str);

    ParamListGuard empty;
    ASSERT_EQ(CGenStrInit(&str), 1);
    ASSERT_EQ(AppendValidateParmsXMLResults(&empty.pair, &str), 1);
    EXPECT_STREQ(CGenStrC_Str(&str), "<DATA><PARAM_VALIDATION_RESULTS></PARAM_VALIDATION_RESULTS></DATA>");
    CGenStrDelete(&str);
}

TEST(ParamValidation, ResponseEnvelopeAddressesTheRequester)
{
    const char *szData = "<DATA><PARAM_VALIDATION_RESULTS></PARAM_VALIDATION_RESULTS></DATA>";
    char szMsg[4096];
    ASSERT_EQ(ZoltClientCreateResponse(812, 7, szData, szMsg, sizeof szMsg), 0);
    char szField[256];
    ASSERT_EQ(ZoltXmlGetField(szMsg, "MSG/HDR/TO", 0, szField, sizeof szField), 0);
    EXPECT_STREQ(szField, "812");
    ASSERT_EQ(ZoltXmlGetField(szMsg, "MSG/HDR/RE", 0, szField, sizeof szField), 0);
    EXPECT_STREQ(szField, "7");
    ASSERT_EQ(ZoltXmlGetField(szMsg, "MSG/HDR/TYPE", 0, szField, sizeof szField), 0);
    EXPECT_STREQ(szField, "TRANSACTION_RESPONSE");
    EXPECT_NE(ZoltXmlGetField(szMsg, "MSG/HDR/LANG", 0, szField, sizeof szField), 0);
    ASSERT_EQ(ZoltXmlGetField(szMsg, "MSG/DATA", 0, szField, sizeof szField), 0);
    EXPECT_STREQ(szField, szData);
    size_t uLen = strlen(szMsg);
    ASSERT_GE(uLen, 2u);
    EXPECT_STREQ(szMsg + uLen - 2, "\r\n");
    EXPECT_EQ(strncmp(szMsg, "<MSG><HDR>", 10), 0);

    /* the message builder keeps one byte spare beyond the terminator: a buffer
     * of length + 2 is the smallest that takes it (message ids stay one digit) */
    std::vector<char> small(uLen + 1);
    EXPECT_EQ(ZoltClientCreateResponse(812, 7, szData, small.data(), (uint32_t)uLen + 1), 4);
    std::vector<char> exact(uLen + 2);
    EXPECT_EQ(ZoltClientCreateResponse(812, 7, szData, exact.data(), (uint32_t)uLen + 2), 0);
    EXPECT_EQ(ZoltClientCreateResponse(812, 7, NULL, szMsg, sizeof szMsg), 0);
    ASSERT_EQ(ZoltXmlGetField(szMsg, "MSG/DATA", 0, szField, sizeof szField), 0);
    EXPECT_STREQ(szField, "");
}

TEST(ParamValidation, AnswerRecordIsReadBack)
{
    LocalParam p;
    int bOk = 1;
    EXPECT_EQ(Dapi2_AssignParameterFromXML(&p.rec, "<VALID_FLAG>valid</VALID_FLAG>", &bOk), 1);
    EXPECT_EQ(bOk, 0);                                     /* no ID */
    EXPECT_EQ(Dapi2_AssignParameterFromXML(&p.rec, "<ID>A</ID>", &bOk), 1);
    EXPECT_EQ(bOk, 0);                                     /* no VALID_FLAG */
    EXPECT_EQ(Dapi2_GetParameterHasMinVal(&p.rec), 0);
    EXPECT_EQ(Dapi2_AssignParameterFromXML(
                  &p.rec, "<ID>B</ID><VALID_FLAG>Value Too Small</VALID_FLAG><MAX_VALUE>9</MAX_VALUE>",
                  &bOk),
              1);
    EXPECT_EQ(bOk, 1);
    EXPECT_STREQ(Dapi2_GetParameterId(&p.rec), "B");
    EXPECT_EQ(Dapi2_GetParameterValidFlag(&p.rec), DAPI2_PARAM_VALUE_TOO_SMALL);
    EXPECT_EQ(Dapi2_GetParameterHasMinVal(&p.rec), 0);
    EXPECT_EQ(Dapi2_GetParameterHasMaxVal(&p.rec), 1);
    EXPECT_EQ(Dapi2_GetParameterMaxValAsInt32(&p.rec), 9);
}
