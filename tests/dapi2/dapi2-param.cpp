/* Tests of the framework half of the parameter model: the percentage rule of the
 * predefined parameter and the sending of the validation answer (through the
 * framework's message seam, so no broker is needed). */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "dapi2.h"
#include "message-protocol.h"

namespace {

std::vector<std::string> g_sent;
int g_iSendResult = 0;

int CaptureSend(const char *szMessage)
{
    g_sent.push_back(szMessage);
    return g_iSendResult;
}

class ParamFramework : public ::testing::Test {
protected:
    Dapi2ParamList pair {};
    int (*pfnSaved)(const char *) = nullptr;

    void SetUp() override
    {
        ASSERT_EQ(Dapi2_ParamListConstruct(&pair), 1);
        pfnSaved = g_pfnDapi2SendMessage;
        g_pfnDapi2SendMessage = CaptureSend;
        g_sent.clear();
        g_iSendResult = 0;
    }
    void TearDown() override
    {
        g_pfnDapi2SendMessage = pfnSaved;
        Dapi2_ParamListDestruct(&pair);
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
        { "37.5", 1, DAPI2_PARAM_VALID, 37.5f },
        { "0.001", 1, DAPI2_PARAM_VALID, 0.001f },
        { "0", 0, DAPI2_PARAM_VALUE_TOO_SMALL, 100.0f },
        { "-5", 0, DAPI2_PARAM_VALUE_TOO_SMALL, 100.0f },
        { "abc", 0, DAPI2_PARAM_VALUE_TOO_SMALL, 100.0f },   /* reads as 0 */
        { "101", 0, DAPI2_PARAM_VALUE_TOO_BIG, 100.0f },
        { "100.001", 0, DAPI2_PARAM_VALUE_TOO_BIG, 100.0f },
    };
    for (const auto &c : s_Cases) {
        Dapi2_ParamListDestruct(&pair);
        ASSERT_EQ(Dapi2_ParamListConstruct(&pair), 1);
        Add("OTHER", "0");
        Dapi2Parameter *p = Add(DAPI2_PERCENT_TO_TEST_ID, c.szValue);
        g_fDapi2PercentageToTest = 12.0f;                  /* always reset first */
        int bOk = -1;
        EXPECT_EQ(ProcessPredefinedParameters(&pair, &bOk), 1);
        EXPECT_EQ(bOk, c.bOk) << c.szValue;
        EXPECT_EQ(Dapi2_GetParameterValidFlag(p), c.iFlag) << c.szValue;
        EXPECT_FLOAT_EQ(g_fDapi2PercentageToTest, c.fPercent) << c.szValue;
        EXPECT_STREQ(Dapi2_GetParameterMinValAsStr(p), "0.000000");
        EXPECT_STREQ(Dapi2_GetParameterMaxValAsStr(p), "100.000000");
    }
    Dapi2_ParamListDestruct(&pair);
    ASSERT_EQ(Dapi2_ParamListConstruct(&pair), 1);
    Dapi2Parameter *pOther = Add("OTHER", "0");
    int bOk = -1;
    g_fDapi2PercentageToTest = 12.0f;
    ProcessPredefinedParameters(&pair, &bOk);
    EXPECT_EQ(bOk, 1);
    EXPECT_FLOAT_EQ(g_fDapi2PercentageToTest, 100.0f);
    EXPECT_EQ(Dapi2_GetParameterHasMinVal(pOther), 0);    /* only the predefined one */
}

TEST_F(ParamFramework, ValidationAnswerIsSentToTheRequester)
{
    Dapi2Parameter *p = Add("B", "7");
    Dapi2_SetParameterMinValFromStr(p, "0");
    Dapi2_SetParameterMaxValFromStr(p, "10");
    Dapi2_SetParameterValidFlag(p, DAPI2_PARAM_VALUE_BAD);
    ASSERT_EQ(SendValidateParmsResults(812, 7, &pair), 1);
    ASSERT_EQ(g_sent.size(), 1u);
    const char *szMsg = g_sent[0].c_str();
    char szField[512];
    ASSERT_EQ(ZoltXmlGetField(szMsg, "MSG/HDR/TO", 0, szField, sizeof szField), 0);
    EXPECT_STREQ(szField, "812");
    ASSERT_EQ(ZoltXmlGetField(szMsg, "MSG/HDR/RE", 0, szField, sizeof szField), 0);
    EXPECT_STREQ(szField, "7");
    ASSERT_EQ(ZoltXmlGetField(szMsg, "MSG/DATA/DATA/PARAM_VALIDATION_RESULTS/PARAMETER", 0,
                              szField, sizeof szField), 0);
    EXPECT_STREQ(szField, "<ID>B</ID><VALID_FLAG>value bad</VALID_FLAG>"
                          "<MIN_VALUE>0</MIN_VALUE><MAX_VALUE>10</MAX_VALUE>");
}

TEST_F(ParamFramework, AnswerBeyondTheMessageBufferOrUnsentFails)
{
    g_iSendResult = 1;                                     /* the client layer refuses */
    Add("A", "1");
    EXPECT_EQ(SendValidateParmsResults(1, 1, &pair), 0);
    EXPECT_EQ(g_sent.size(), 1u);

    g_sent.clear();
    g_iSendResult = 0;
    Dapi2Parameter *p = Add(std::string(4000, 'L').c_str(), "1");   /* answer too long */
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(SendValidateParmsResults(1, 1, &pair), 0);
    EXPECT_TRUE(g_sent.empty());
}
