/* Tests of the framework half of the parameter model: the percentage rule and
 * the validation answer sent through the message seam. */
#include <gtest/gtest.h>

#include <stdlib.h>

#include "dapi2/send-capture.h"

namespace {

class ParamFramework : public ::testing::Test {
protected:
    Dapi2ParamList pair{};

    void SetUp() override
    {
        Dapi2_ParamListConstruct(&pair), StartCapture();
    }
    void TearDown() override
    {
        g_pfnDapi2SendMessage = nullptr, Dapi2_ParamListDestruct(&pair);
    }
    Dapi2Parameter *Add(const char *szId, const char *szValue)
    {
        Dapi2Parameter *p = (Dapi2Parameter *)calloc(1, sizeof(Dapi2Parameter));
        EXPECT_EQ(Dapi2_InitParameter(p), 1);
        Dapi2_SetParameterId(p, szId);
        Dapi2_SetParameterValFromStr(p, szValue);
        EXPECT_EQ(Dapi2_AddParameter(&pair, p), 1);
        return p;
    }
};

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
        Dapi2_ParamListDestruct(&pair);
        ASSERT_EQ(Dapi2_ParamListConstruct(&pair), 1);
        Dapi2Parameter *pOther = Add("OTHER", "0");
        Dapi2Parameter *p = c.szValue ? Add(DAPI2_PERCENT_TO_TEST_ID, c.szValue) : nullptr;
        g_fDapi2PercentageToTest = 12.0f; /* always reset first */
        int bOk = -1;
        EXPECT_EQ(ProcessPredefinedParameters(&pair, &bOk), 1);
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

TEST_F(ParamFramework, ValidationAnswerIsSentToTheRequester)
{
    Dapi2_SetParameterValidFlag(Add("B", "7"), DAPI2_PARAM_VALUE_BAD);
    ASSERT_EQ(SendValidateParmsResults(812, 7, &pair), 1);
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_EQ(Field(g_sent[0], "MSG/HDR/TO") + " " + Field(g_sent[0], "MSG/HDR/RE"), "812 7");
    EXPECT_EQ(Field(g_sent[0], "MSG/DATA/DATA/PARAM_VALIDATION_RESULTS/PARAMETER"),
              "<ID>B</ID><VALID_FLAG>value bad</VALID_FLAG>");
    g_sent.clear(); /* an answer beyond the message buffer is not sent */
    Add(std::string(4000, 'L').c_str(), "1");
    EXPECT_EQ(SendValidateParmsResults(1, 1, &pair), 0);
    EXPECT_TRUE(g_sent.empty());
}
