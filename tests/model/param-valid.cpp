/* Tests of the parameter model: value texts at their limits, the walk that hides
 * the predefined parameter, param= words and definitions keys. */
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

#include "model/param-list.h"

namespace {

const std::string g_sDefinitions = std::string(ZOLT_FIXTURES) + "/params/definitions.ini";

typedef std::vector<std::pair<std::string, std::string>> IdsAndValues;

/* The ids and value texts of a list, in list order. */
IdsAndValues Contents(Dapi2ParamList *pList)
{
    IdsAndValues v;
    for (Dapi2Parameter *p = Dapi2_I_GetFirstParameter(pList); p != NULL;
         p = Dapi2_I_GetNextParameter(pList))
        v.emplace_back(Dapi2_GetParameterId(p), Dapi2_GetParameterValAsStr(p));
    return v;
}

}  // namespace

TEST(ParamRecord, ValueTextsReadAtTheLimits)
{
    static const struct {
        const char *szText;
        int32_t i;
        uint32_t u;
        int b;
    } s_Cases[] = {
        { "2147483648", INT32_MAX, 2147483648u, 1 }, /* held at the limit in every build */
        { "4294967296", INT32_MAX, UINT32_MAX, 1 },  /* a 64-bit strtoul would wrap to 0 */
        { "-99999999999", INT32_MIN, UINT32_MAX, 1 },
        { "-1", -1, UINT32_MAX, 1 }, /* negated mod 2^32 */
        { "12abc", 12, 12, 1 },
        { "abc", 0, 0, 1 },
        { "0", 0, 0, 0 },
        { "f", 0, 0, 0 },
        { "FaLsE", 0, 0, 0 },
        { "00", 0, 0, 1 },
        { "", 0, 0, 1 },
        { "false ", 0, 0, 1 },
    };
    Dapi2Parameter rec{};
    ASSERT_EQ(Dapi2_InitParameter(&rec), 1);
    for (const auto &c : s_Cases) {
        SCOPED_TRACE(std::string("'") + c.szText + "'");
        ASSERT_EQ(Dapi2_SetParameterValFromStr(&rec, c.szText), 1);
        EXPECT_EQ(Dapi2_GetParameterValAsInt32(&rec), c.i);
        EXPECT_EQ(Dapi2_GetParameterValAsUInt32(&rec), c.u);
        EXPECT_EQ(Dapi2_GetParameterValAsBool(&rec), c.b);
    }
    ASSERT_EQ(Dapi2_SetParameterValFromInt32(&rec, INT32_MIN), 1);
    EXPECT_STREQ(Dapi2_GetParameterValAsStr(&rec), "-2147483648");
    /* FLT_MAX needs 46 characters, beyond the reserved room. */
    ASSERT_EQ(Dapi2_SetParameterMaxValFromFloat(&rec, 3.4028235e38f), 1);
    EXPECT_FLOAT_EQ(Dapi2_GetParameterMaxValAsFloat(&rec), 3.4028235e38f);
    EXPECT_EQ(Dapi2_SetParameterValFromStr(&rec, NULL), 0); /* refused, old text kept */
    EXPECT_STREQ(Dapi2_GetParameterValAsStr(&rec), "-2147483648");
    Dapi2_DestructParameter(&rec);
}

TEST(ParamList, ModuleWalkSkipsThePredefinedParameter)
{
    ASSERT_EQ(Dapi2_ParamListConstruct(&g_paramList), 1);
    AddParam(&g_paramList, DAPI2_PERCENT_TO_TEST_ID, "50");
    EXPECT_EQ(Dapi2_GetFirstParameter(), nullptr);
    /* predefined first, between and last; a near-miss id is not predefined */
    for (const char *sz :
         { "A", DAPI2_PERCENT_TO_TEST_ID, "zolt_dapi2_percent_to_test", DAPI2_PERCENT_TO_TEST_ID })
        AddParam(&g_paramList, sz, "1");
    std::string strSeen;
    for (Dapi2Parameter *p = Dapi2_GetFirstParameter(); p != NULL; p = Dapi2_GetNextParameter())
        strSeen += std::string(Dapi2_GetParameterId(p)) + " ";
    EXPECT_EQ(strSeen, "A zolt_dapi2_percent_to_test ");
    Dapi2_ParamListDestruct(&g_paramList);
}

TEST(ParamWords, CommandLineWordsBecomeParameters)
{
    std::string sLongId(5000, 'I'), sLongValue(200000, 'v'),
        sLongWord = "param=" + sLongId + "," + sLongValue;
    const struct {
        std::vector<const char *> words;
        int iRc;
        IdsAndValues expect;
    } aCases[] = {
        { { "zolt.linux", "run", "param=A,1" }, 1, { { "A", "1" } } },
        { { "param=A,1,2,,3" }, 1, { { "A", "1,2,,3" } } }, /* later commas kept */
        { { "param=", "param=,5" }, 1, {} },                /* empty id: nothing */
        { { "Param=A,1", "xparam=B,2", "param" }, 1, {} },  /* prefix is exact */
        { { "param=X" }, 0, {} },                           /* id without value */
        { { "param=A,1", "param=X,", "param=B,2" }, 0, { { "A", "1" } } },
        { { sLongWord.c_str() }, 1, { { sLongId, sLongValue } } }, /* kept whole */
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(std::string(c.words.back()).substr(0, 20));
        ParamListGuard list;
        std::vector<char *> argv;
        for (const char *sz : c.words)
            argv.push_back(const_cast<char *>(sz));
        EXPECT_EQ(GetParamsFromCommandLine((int)argv.size(), argv.data(), &list.pair), c.iRc);
        EXPECT_EQ(Contents(&list.pair), c.expect);
    }
    long lPid = -1;
    unsigned long ulRe = 99;
    char szA[] = "senderpid=5", szB[] = "reid=3", szC[] = "senderpid=812", szD[] = "reid=7",
         szE[] = "xreid=9";
    char *argv[] = { szA, szB, szC, szD, szE };
    EXPECT_EQ(GetSenderPidAndReId(5, argv, &lPid, &ulRe), 1); /* the last word wins */
    EXPECT_EQ(std::make_pair(lPid, ulRe), std::make_pair(812L, 7UL));
}

/* type|name|description|mask|must be set|recommend validate|default|min|max|value ("-" absent) */
std::string Describe(const Dapi2Parameter *p)
{
    return std::to_string(Dapi2_GetParameterType(p)) + "|" + Dapi2_GetParameterName(p) + "|" +
           Dapi2_GetParameterDescription(p) + "|" + Dapi2_GetParameterMask(p) + "|" +
           std::to_string(Dapi2_GetParameterMustBeSet(p)) + "|" +
           std::to_string(Dapi2_GetParameterRecommendValidate(p)) + "|" +
           (Dapi2_GetParameterHasDefaultValue(p) ? Dapi2_GetParameterDefaultValAsStr(p) : "-") +
           "|" + (Dapi2_GetParameterHasMinVal(p) ? Dapi2_GetParameterMinValAsStr(p) : "-") + "|" +
           (Dapi2_GetParameterHasMaxVal(p) ? Dapi2_GetParameterMaxValAsStr(p) : "-") + "|" +
           Dapi2_GetParameterValAsStr(p);
}

TEST(ParamDefinitions, ParametersAreCompletedFromTheirDefinitions)
{
    static const struct {
        bool bFile;
        uint32_t uTest;
        const char *szId, *szExpect;
    } s_Cases[] = {
        { true, 2, "B", "1|Beta|Block count|9999|1|0|4|0|10|v" }, /* "UInt32" any case */
        { true, 2, "A", "0|Alpha|||0|0|-|-|-|v" },
        { true, 3, "TYPEONLY", "3||||0|0|-|-|-|v" },      /* nothing after a missing name */
        { true, 3, "ODD", "-1|Odd|||0|0|-|-|-|v" },       /* "double" is no type */
        { true, 5, "LOST", "-1||||0|0|-|-|-|v" },         /* [5][0] absent: [5][1] never read */
        { true, 12, "AFTER_EMPTY", "-1||||0|0|-|-|-|v" }, /* an empty id counts as absent */
        { false, 2, "B", "-1||||0|0|-|-|-|v" },           /* no definitions file */
    };
    for (const auto &c : s_Cases) {
        ParamListGuard list;
        list.Add(c.szId, "v");
        std::string sFile = c.bFile ? g_sDefinitions : std::string(ZOLT_FIXTURES) + "/none.ini";
        ASSERT_EQ(GetParamIniInfo(sFile.c_str(), c.uTest, &list.pair), 1);
        EXPECT_EQ(Describe(Dapi2_I_GetFirstParameter(&list.pair)), c.szExpect) << c.szId;
    }
    char szBuf[8];
    int bPresent = 0;
    EXPECT_EQ(Dapi2GetParamPrivateProfileString(g_sDefinitions.c_str(), "Module",
                                                "szParameterDescription", 2, 1, "", szBuf,
                                                sizeof szBuf, &bPresent),
              1);
    EXPECT_EQ(bPresent, 1);
    EXPECT_STREQ(szBuf, "Block c"); /* cut to the buffer */
}
