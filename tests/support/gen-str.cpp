/* gen-str.cpp - tests of CGenStr: the growth rule at its edges, wrapped caller
 * buffers that never grow, formatted writes that grow and retry, substrings and
 * appends of the string's own text. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "gen-str.h"

TEST(CGenStrGrowth, SlackRuleAtItsEdgesAndReserve)
{
    /* a text of n - 1 chars needs n bytes; the buffer gets n plus the slack */
    struct {
        uint32_t uNeed, uCapacity;
    } aCase[] = {
        { 100, 164 },   { 128, 192 },   { 129, 193 },   { 130, 195 },
        { 2047, 3070 }, { 2048, 4096 }, { 5000, 7048 },
    };
    for (const auto &c : aCase) {
        CGenStr s;
        ASSERT_TRUE(CGenStrInit(&s));
        ASSERT_TRUE(CGenStrCatChar(&s, std::string(c.uNeed - 1, 'x').c_str()));
        EXPECT_EQ(s.uCapacity, c.uCapacity) << c.uNeed;
        CGenStrDelete(&s);
    }
    CGenStr s; /* reserve resizes to exactly what it is asked, cutting the text */
    ASSERT_TRUE(CGenStrInitFromCStr(&s, "hello"));
    ASSERT_TRUE(CGenStrReserve(&s, 3));
    EXPECT_STREQ(CGenStrC_Str(&s), "hel");
    EXPECT_EQ(s.uCapacity, 4u);
    CGenStrDelete(&s);
}

TEST(CGenStrBuff, WrappedBufferNeverGrows)
{
    char buf[12];
    memset(buf, 'G', sizeof buf);
    CGenStr s;
    ASSERT_TRUE(CGenStrInitBuff(&s, buf, 0, 10));
    EXPECT_TRUE(CGenStrCatChar(&s, "12345678"));
    EXPECT_FALSE(CGenStrCatC(&s, '9')); /* the ninth does not fit */
    EXPECT_STREQ(CGenStrC_Str(&s), "12345678");
    EXPECT_FALSE(CGenStrAssignChar(&s, "123456789"));
    EXPECT_EQ(CGenStrSprintf(&s, "%s", "too long text"), -1);
    EXPECT_STREQ(CGenStrC_Str(&s), ""); /* emptied, still inside */
    EXPECT_EQ(CGenStrSprintf(&s, "%d", 1234567), 7);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(std::string(buf + 9, 3), "GGG"); /* the last byte is never used */
    EXPECT_FALSE(CGenStrReserve(&s, 20));
    EXPECT_TRUE(CGenStrReserve(&s, 3)); /* cut in place, buffer kept */
    CGenStrDelete(&s);                  /* leaves the caller's buffer alone */
    EXPECT_STREQ(buf, "123");
    ASSERT_TRUE(CGenStrInitBuff(&s, buf, 50, 10)); /* claimed length cut to fit */
    EXPECT_EQ(CGenStrSize(&s), 8);
}

TEST(CGenStrFormat, GrowsAndRetriesUntilItFits)
{
    CGenStr s;
    ASSERT_TRUE(CGenStrInit(&s));
    std::string strLong(3000, 'z');
    EXPECT_EQ(CGenStrSprintf(&s, "<%s>", strLong.c_str()), 3002);
    EXPECT_EQ(std::string(CGenStrC_Str(&s)), "<" + strLong + ">");
    EXPECT_EQ(CGenStrSprintf(&s, "%d", 7), 1); /* replaces, no leftovers */
    EXPECT_STREQ(CGenStrC_Str(&s), "7");
    CGenStrClear(&s);
    for (int i = 0; i < 500; i++) /* appends that cross every growth step */
        ASSERT_TRUE(CGenStrCatf(&s, "%d,", i % 10));
    EXPECT_EQ(CGenStrSize(&s), 1000);
    EXPECT_EQ(std::string(CGenStrTail(&s, 994)), "7,8,9,");
    CGenStrDelete(&s);
}

TEST(CGenStrAppend, OwnTextAndNullArguments)
{
    CGenStr s;
    ASSERT_TRUE(CGenStrInitFromCStr(&s, "abc"));
    ASSERT_TRUE(CGenStrCatStr(&s, &s)); /* the source moves when the buffer grows */
    EXPECT_STREQ(CGenStrC_Str(&s), "abcabc");
    for (int i = 0; i < 6; i++)
        ASSERT_TRUE(CGenStrCatChar(&s, CGenStrC_Str(&s)));
    EXPECT_EQ(CGenStrSize(&s), 6 * 64);
    ASSERT_TRUE(CGenStrAssignChar(&s, CGenStrTail(&s, 380))); /* overlapping copy */
    EXPECT_STREQ(CGenStrC_Str(&s), "cabc");
    EXPECT_TRUE(CGenStrCatChar(&s, NULL));
    EXPECT_FALSE(CGenStrAssignChar(&s, NULL));
    CGenStrDelete(&s);
    EXPECT_FALSE(CGenStrCatChar(&s, "x")); /* deleted: refuses, no crash */
    EXPECT_EQ(CGenStrSprintf(&s, "x"), -1);
}

TEST(CGenStrCut, Substrings)
{
    CGenStr s, out;
    ASSERT_TRUE(CGenStrInit(&out) && CGenStrInitFromCStr(&s, "hello"));
    struct {
        int iStart, iCount, iRc;
        const char *szExpect;
    } aCase[] = {
        { 1, -1, 1, "ello" }, { 1, 99, 1, "ello" }, { 5, 1, 0, "" },
        { 0, 0, 1, "" },      { 4, 1, 1, "o" },
    };
    for (const auto &c : aCase) {
        CGenStrAssignChar(&out, "junk");
        SCOPED_TRACE(std::to_string(c.iStart) + "," + std::to_string(c.iCount));
        EXPECT_EQ(CGenStrSubstr(&s, c.iStart, c.iCount, &out), c.iRc);
        EXPECT_STREQ(CGenStrC_Str(&out), c.szExpect);
    }
    CGenStrDelete(&s);
    CGenStrDelete(&out);
}
