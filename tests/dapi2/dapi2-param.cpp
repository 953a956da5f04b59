/* Tests of the framework half of the parameter model: the percentage rule,
 * the validation answer sent through the message seam, and a module's reading
 * of a test parameter with the definition's default and bounds. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "dapi2/send-capture.h"
#include "model/param-list.h"

namespace {

using ParamFramework = CaptureTest;

}  // namespace

TEST_F(ParamFramework, PercentageParameterIsCheckedAgainstItsRange)
{
    static const struct {
        const char *szValue;
        int bOk;
        int32_t iFlag;
        float fPercent;
    } s_Cases[] = {
        { "100", 1, DAPI2_PARAM_VALID, 100.0f },
        { "0", 0, DAPI2_PARAM_VALUE_TOO_SMALL, 100.0f },
        { "100.001", 0, DAPI2_PARAM_VALUE_TOO_BIG, 100.0f },
        { nullptr, 1, DAPI2_PARAM_VALID, 100.0f }, /* no percentage parameter */
    };
    for (const auto &c : s_Cases) {
        SCOPED_TRACE(c.szValue ? c.szValue : "(none)");
        ParamListGuard list;
        Dapi2Parameter *pOther = list.Add("OTHER", "0");
        Dapi2Parameter *p = c.szValue ? list.Add(DAPI2_PERCENT_TO_TEST_ID, c.szValue) : nullptr;
        g_fDapi2PercentageToTest = 12.0f; /* always reset first */
        int bOk = -1;
        EXPECT_EQ(ProcessPredefinedParameters(&list.pair, &bOk), 1);
        EXPECT_EQ(bOk, c.bOk);
        EXPECT_FLOAT_EQ(g_fDapi2PercentageToTest, c.fPercent);
        EXPECT_EQ(Dapi2_GetParameterHasMinVal(pOther), 0); /* only the predefined one */
        if (p != nullptr) {
            EXPECT_EQ(Dapi2_GetParameterValidFlag(p), c.iFlag);
            EXPECT_EQ(std::string(Dapi2_GetParameterMinValAsStr(p)) + "-" +
                          Dapi2_GetParameterMaxValAsStr(p),
                      "0.000000-100.000000");
        }
    }
}

/* Every parameter in list order, with its flag word and the bounds it has. */
TEST_F(ParamFramework, ValidationAnswerIsSentToTheRequester)
{
    ParamListGuard list;
    list.Add("B", "7");
    Dapi2Parameter *pPercent = list.Add(DAPI2_PERCENT_TO_TEST_ID, "101");
    Dapi2_SetParameterValidFlag(list.Add("C", "x"), DAPI2_PARAM_VALUE_BAD);
    ASSERT_EQ(GetParamIniInfo(ZOLT_FIXTURES "/params/definitions.ini", 2, &list.pair), 1);
    Dapi2_SetParameterValidFlag(pPercent, DAPI2_PARAM_VALUE_TOO_BIG);
    Dapi2_SetParameterMaxValFromFloat(pPercent, 100.0f); /* a maximum without minimum */
    ASSERT_EQ(SendValidateParmsResults(812, 7, &list.pair), 1);
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_EQ(Field(g_sent[0], "MSG/HDR/TO") + " " + Field(g_sent[0], "MSG/HDR/RE"), "812 7");
    EXPECT_EQ(DataOf(g_sent[0]),
              "<DATA><DATA><PARAM_VALIDATION_RESULTS>"
              "<PARAMETER><ID>B</ID><VALID_FLAG>valid</VALID_FLAG>"
              "<MIN_VALUE>0</MIN_VALUE><MAX_VALUE>10</MAX_VALUE></PARAMETER>"
              "<PARAMETER><ID>ZOLT_DAPI2_PERCENT_TO_TEST</ID><VALID_FLAG>value too big"
              "</VALID_FLAG><MAX_VALUE>100.000000</MAX_VALUE></PARAMETER>"
              "<PARAMETER><ID>C</ID><VALID_FLAG>value bad</VALID_FLAG></PARAMETER>"
              "</PARAM_VALIDATION_RESULTS></DATA></DATA>");
    g_sent.clear(); /* an answer beyond the message buffer is not sent */
    list.Add(std::string(4000, 'L').c_str(), "1");
    EXPECT_EQ(SendValidateParmsResults(1, 1, &list.pair), 0);
    EXPECT_TRUE(g_sent.empty());
}

TEST_F(ParamFramework, TestParameterTakesTheDefinitionsDefaultAndBounds)
{
    /* Definition B of test 2: default 4, minimum 0, maximum 10; A: no default, no bounds. */
    static const struct {
        bool bDefFile;
        const char *szId, *szGiven; /* null: no param= word */
        double dValue;
        int iFlag;
    } s_Cases[] = {
        { true, "B", nullptr, 4, DAPI2_PARAM_VALID },
        { true, "B", "9.5", 9.5, DAPI2_PARAM_VALID },
        { true, "B", "11", 10, DAPI2_PARAM_VALUE_TOO_BIG },
        { true, "B", "-1", 0, DAPI2_PARAM_VALUE_TOO_SMALL },
        { true, "B", "4x", 4, DAPI2_PARAM_VALUE_BAD },
        { true, "A", nullptr, 7, DAPI2_PARAM_VALID },     /* the caller's fallback */
        { true, "A", "99999", 99999, DAPI2_PARAM_VALID }, /* no bounds */
        { false, "B", nullptr, 7, DAPI2_PARAM_VALID },    /* no definitions file */
        { false, "B", "11", 11, DAPI2_PARAM_VALID },
    };
    for (const auto &c : s_Cases) {
        SCOPED_TRACE(std::string(c.szId) + "=" + (c.szGiven ? c.szGiven : "(none)"));
        ASSERT_EQ(Dapi2_ParamListConstruct(&g_paramList), 1);
        AddParam(&g_paramList, "OTHER", "3");
        if (c.szGiven != nullptr)
            AddParam(&g_paramList, c.szId, c.szGiven);
        snprintf(g_szDefinitionsFile, sizeof g_szDefinitionsFile, "%s",
                 c.bDefFile ? ZOLT_FIXTURES "/params/definitions.ini" : "");
        double dValue = -5;
        EXPECT_EQ(Dapi2_GetTestParameter(2, c.szId, 7, &dValue), c.iFlag);
        EXPECT_EQ(dValue, c.dValue);
        Dapi2_ParamListDestruct(&g_paramList);
    }
    g_szDefinitionsFile[0] = '\0';
}
