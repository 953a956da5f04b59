/* gen-str.cpp - tests of CGenStr: the growth rule at its edges, wrapped
 * caller buffers that never grow, formatted writes that must grow and retry,
 * reserve, token and substring cutting, and appends of the string's own text. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "gen-str.h"

namespace {

TEST(CGenStrGrowth, SlackRuleAtItsEdges)
{
    struct { uint32_t uNeed, uSlack; } aCase[] = {
        { 1, 64 }, { 128, 64 }, { 129, 64 }, { 130, 65 }, { 2047, 1023 }, { 2048, 2048 }, { 100000, 2048 },
    };
    for (const auto &c : aCase)
        EXPECT_EQ(GROWTH(c.uNeed), c.uSlack) << c.uNeed;
}

TEST(CGenStrGrowth, FirstAllocationExactThenResizeAddsSlack)
{
    struct { uint32_t uNeed, uCapacity; } aCase[] = { { 100, 164 }, { 200, 300 }, { 5000, 7048 } };
    for (const auto &c : aCase) {
        CGenStr s;
        ASSERT_TRUE(CGenStrInit(&s));
        EXPECT_EQ(s.uCapacity, 1u);
        std::string strText(c.uNeed - 1, 'x');
        ASSERT_TRUE(CGenStrCatChar(&s, strText.c_str()));
        EXPECT_EQ(s.uCapacity, c.uCapacity) << c.uNeed;
        EXPECT_EQ(CGenStrSize(&s), (int)c.uNeed - 1);
        CGenStrDelete(&s);
    }
    /* a string without a buffer gets exactly what it needs, no slack */
    CGenStr s = { NULL, 0, 0, 1 };
    ASSERT_TRUE(_CGenStrGrowIt(&s, 300));
    EXPECT_EQ(s.uCapacity, 300u);
    CGenStrDelete(&s);
    EXPECT_EQ(s.pBuf, nullptr);
    EXPECT_FALSE(CGenStrIsInit(&s));
}

TEST(CGenStrBuff, WrappedBufferNeverGrows)
{
    char buf[12];
    memset(buf, 'G', sizeof buf);
    CGenStr s;
    ASSERT_TRUE(CGenStrInitBuff(&s, buf, 0, 10));
    EXPECT_TRUE(CGenStrIsEmpty(&s));
    EXPECT_TRUE(CGenStrCatChar(&s, "12345678"));
    EXPECT_FALSE(CGenStrCatC(&s, '9'));               /* the ninth does not fit */
    EXPECT_STREQ(CGenStrC_Str(&s), "12345678");
    EXPECT_FALSE(CGenStrCatChar(&s, "abc"));
    EXPECT_FALSE(CGenStrAssignChar(&s, "123456789"));
    EXPECT_STREQ(CGenStrC_Str(&s), "12345678");
    EXPECT_EQ(CGenStrSprintf(&s, "%s", "too long text"), -1);
    EXPECT_STREQ(CGenStrC_Str(&s), "");               /* emptied, still inside */
    EXPECT_EQ(CGenStrSprintf(&s, "%d", 1234567), 7);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(buf[9], 'G');                           /* the last byte is never used */
    EXPECT_EQ(buf[10], 'G');
    EXPECT_FALSE(CGenStrReserve(&s, 20));
    EXPECT_TRUE(CGenStrReserve(&s, 3));               /* cut in place, buffer kept */
    EXPECT_STREQ(buf, "123");
    CGenStrDelete(&s);                                /* leaves the caller's buffer alone */
    EXPECT_STREQ(buf, "123");

    EXPECT_FALSE(CGenStrInitBuff(&s, buf, 0, 1));     /* no room for any text */
    strcpy(buf, "hello");
    ASSERT_TRUE(CGenStrInitBuff(&s, buf, 5, 10));     /* keeps text already there */
    EXPECT_EQ(CGenStrSize(&s), 5);
    ASSERT_TRUE(CGenStrInitBuff(&s, buf, 50, 10));    /* claimed length cut to fit */
    EXPECT_EQ(CGenStrSize(&s), 8);
}

TEST(CGenStrReserve, ResizesExactlyAndCuts)
{
    CGenStr s;
    ASSERT_TRUE(CGenStrInitFromCStr(&s, "hello"));
    ASSERT_TRUE(CGenStrReserve(&s, 3));
    EXPECT_STREQ(CGenStrC_Str(&s), "hel");
    EXPECT_EQ(s.uCapacity, 4u);
    ASSERT_TRUE(CGenStrReserve(&s, 100));
    EXPECT_STREQ(CGenStrC_Str(&s), "hel");
    EXPECT_EQ(s.uCapacity, 101u);
    ASSERT_TRUE(CGenStrReserve(&s, 0));
    EXPECT_STREQ(CGenStrC_Str(&s), "");
    EXPECT_EQ(s.uCapacity, 1u);
    EXPECT_FALSE(CGenStrReserve(&s, -1));
    CGenStrDelete(&s);
}

TEST(CGenStrFormat, GrowsAndRetriesUntilItFits)
{
    CGenStr s;
    ASSERT_TRUE(CGenStrInit(&s));
    std::string strLong(3000, 'z');
    EXPECT_EQ(CGenStrSprintf(&s, "<%s>", strLong.c_str()), 3002);
    EXPECT_EQ(std::string(CGenStrC_Str(&s)), "<" + strLong + ">");
    EXPECT_EQ(CGenStrSprintf(&s, "%d", 7), 1);        /* replaces, no leftovers */
    EXPECT_STREQ(CGenStrC_Str(&s), "7");

    EXPECT_EQ(CGenStrSprintfI(&s, CGenStrLastI(&s), "-%s-", "ab"), 4);
    EXPECT_STREQ(CGenStrC_Str(&s), "7-ab-");
    EXPECT_EQ(CGenStrSprintfI(&s, 1, "%s", strLong.c_str()), 3000);  /* replaces the tail */
    EXPECT_EQ(CGenStrSize(&s), 3001);
    EXPECT_EQ(CGenStrSprintfI(&s, 3002, "x"), -1);   /* beyond the text */
    EXPECT_EQ(CGenStrSize(&s), 3001);

    EXPECT_TRUE(CGenStrCatf(&s, "[%05d]", 42));
    EXPECT_EQ(std::string(CGenStrTail(&s, 3001)), "[00042]");
    CGenStrClear(&s);
    for (int i = 0; i < 500; i++)
        ASSERT_TRUE(CGenStrCatf(&s, "%d,", i % 10));
    EXPECT_EQ(CGenStrSize(&s), 1000);
    EXPECT_EQ(CGenStrGet(&s, 998), '9');
    EXPECT_EQ(CGenStrGet(&s, 5000), 0);
    CGenStrDelete(&s);
}

TEST(CGenStrAppend, OwnTextAndNullArguments)
{
    CGenStr s, t;
    ASSERT_TRUE(CGenStrInitFromCStr(&s, "abc"));
    ASSERT_TRUE(CGenStrCatStr(&s, &s));               /* the source moves when the buffer grows */
    EXPECT_STREQ(CGenStrC_Str(&s), "abcabc");
    for (int i = 0; i < 6; i++)
        ASSERT_TRUE(CGenStrCatChar(&s, CGenStrC_Str(&s)));
    EXPECT_EQ(CGenStrSize(&s), 6 * 64);
    ASSERT_TRUE(CGenStrAssignChar(&s, CGenStrTail(&s, 380)));  /* overlapping copy */
    EXPECT_STREQ(CGenStrC_Str(&s), "cabc");
    EXPECT_TRUE(CGenStrCatChar(&s, NULL));
    EXPECT_FALSE(CGenStrAssignChar(&s, NULL));
    EXPECT_TRUE(CGenStrAssignStr(&s, &s));
    EXPECT_STREQ(CGenStrC_Str(&s), "cabc");
    ASSERT_TRUE(CGenStrInitFromCStr(&t, "Other"));
    EXPECT_TRUE(CGenStrAssignStr(&s, &t));
    EXPECT_EQ(CGenStrCmpCStrI(&s, "OTHER"), 0);
    EXPECT_NE(CGenStrCmpCStrI(&s, "Others"), 0);
    CGenStrDelete(&s);
    EXPECT_FALSE(CGenStrCatChar(&s, "x"));            /* deleted: refuses, no crash */
    EXPECT_EQ(CGenStrSprintf(&s, "x"), -1);
    CGenStrDelete(&t);
}

/* Cuts every token of szText at ',' and joins them with '|'. */
std::string Tokens(const char *szText)
{
    CGenStr s, tok;
    CGenStrInitFromCStr(&s, szText);
    CGenStrInit(&tok);
    std::string strOut;
    int iPos = 0, bFound = 0;
    for (int i = 0; i < 20; i++) {
        EXPECT_TRUE(CGenStrGetToken(&s, ',', &iPos, &bFound, &tok));
        if (!bFound)
            break;
        strOut += std::string(CGenStrC_Str(&tok)) + "|";
    }
    CGenStrDelete(&s);
    CGenStrDelete(&tok);
    return strOut;
}

TEST(CGenStrCut, TokensSubstringsAndSuffixes)
{
    EXPECT_EQ(Tokens("a,,b"), "a||b|");
    EXPECT_EQ(Tokens("a,"), "a|");                     /* no final empty token */
    EXPECT_EQ(Tokens(",x"), "|x|");
    EXPECT_EQ(Tokens(""), "");

    CGenStr s, out;
    ASSERT_TRUE(CGenStrInitFromCStr(&s, "hello"));
    ASSERT_TRUE(CGenStrInit(&out));
    struct { int iStart, iCount, iRc; const char *szExpect; } aCase[] = {
        { 1, -1, 1, "ello" }, { 1, 99, 1, "ello" }, { 5, 1, 0, "" }, { 0, 0, 1, "" },
        { 4, 1, 1, "o" }, { -1, 2, 0, "" },
    };
    for (const auto &c : aCase) {
        CGenStrAssignChar(&out, "junk");
        EXPECT_EQ(CGenStrSubstr(&s, c.iStart, c.iCount, &out), c.iRc) << c.iStart << "," << c.iCount;
        EXPECT_STREQ(CGenStrC_Str(&out), c.szExpect) << c.iStart << "," << c.iCount;
    }
    EXPECT_TRUE(CGenStrGetSuffix(&s, 3, &out));
    EXPECT_STREQ(CGenStrC_Str(&out), "lo");
    EXPECT_FALSE(CGenStrGetSuffix(&s, 5, &out));
    EXPECT_STREQ(CGenStrC_Str(&out), "");
    CGenStrDelete(&s);
    CGenStrDelete(&out);
}

}  // namespace
