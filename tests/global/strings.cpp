/* strings.cpp - tests of the Zolt bounded copies (exact results, the
 * overflow marker, never a byte past the buffer), ZoltStrNCpy's no-padding
 * rule, the number conversions and the path splitters. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "zolt-string.h"

namespace {

/* A destination with guard bytes after it, to catch any write past iSize. */
struct Guarded {
    char buf[64];
    explicit Guarded(int iSize) : iSize(iSize) { memset(buf, 'G', sizeof buf); }
    int iSize;
    bool GuardIntact() const
    {
        for (size_t i = (size_t)iSize; i < sizeof buf; i++)
            if (buf[i] != 'G')
                return false;
        return true;
    }
};

TEST(ZoltSafeStrCpy, FitsOrWritesCutMarker)
{
    struct { const char *szSrc; int iSize; int iRc; const char *szExpect; } aCase[] = {
        { "1234567", 8, 1, "1234567" },        /* exactly size - 1 fits */
        { "12345678", 8, 0, "!!!OVER" },       /* one too many: marker cut to 7 */
        { "", 8, 1, "" },
        { "x", 1, 0, "" },                     /* size 1 holds only the NUL */
        { "ab", 2, 0, "!" },
        { "abcdefghijklmnopqrstuvwxyz", 20, 0, "!!!OVERFLOW!!!" },  /* marker whole */
    };
    for (const auto &c : aCase) {
        Guarded g(c.iSize);
        EXPECT_EQ(ZoltSafeStrCpy(g.buf, c.szSrc, c.iSize), c.iRc) << c.szSrc << " into " << c.iSize;
        EXPECT_STREQ(g.buf, c.szExpect) << c.szSrc << " into " << c.iSize;
        EXPECT_TRUE(g.GuardIntact()) << c.szSrc << " into " << c.iSize;
    }
}

TEST(ZoltSafeStrCpy, BadArgumentsWriteNothingOrEmpty)
{
    char buf[8] = "keep";
    EXPECT_EQ(ZoltSafeStrCpy(buf, "x", 0), 0);
    EXPECT_EQ(ZoltSafeStrCpy(buf, "x", -5), 0);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(ZoltSafeStrCpy(NULL, "x", 8), 0);
    EXPECT_EQ(ZoltSafeStrCpy(buf, NULL, 8), 0);
    EXPECT_STREQ(buf, "");                     /* emptied before the NULL check */
    strcpy(buf, "keep");
    EXPECT_EQ(ZoltSafeStrNCpy(buf, "x", 0), 0);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(ZoltSafeStrNCpy(buf, NULL, 8), 0);
    EXPECT_STREQ(buf, "");
}

TEST(ZoltSafeStrNCpy, TruncatesSilently)
{
    struct { const char *szSrc; int iSize; const char *szExpect; } aCase[] = {
        { "123456789", 8, "1234567" },
        { "1234567", 8, "1234567" },
        { "abc", 1, "" },
        { "", 4, "" },
    };
    for (const auto &c : aCase) {
        Guarded g(c.iSize);
        EXPECT_EQ(ZoltSafeStrNCpy(g.buf, c.szSrc, c.iSize), 1) << c.szSrc;
        EXPECT_STREQ(g.buf, c.szExpect) << c.szSrc;
        EXPECT_TRUE(g.GuardIntact()) << c.szSrc;
    }
}

TEST(ZoltSafeStrCat, AppendsOrKeepsOldTextAndMarker)
{
    struct { const char *szOld, *szAdd; int iSize, iRc; const char *szExpect; } aCase[] = {
        { "abc", "def", 8, 1, "abcdef" },
        { "abc", "defg", 8, 1, "abcdefg" },      /* exactly fills 7 */
        { "abc", "defgh", 8, 0, "abc!!!O" },     /* old text kept, marker cut */
        { "abcdefg", "", 8, 1, "abcdefg" },
        { "abcdefg", "h", 8, 0, "abcdefg" },     /* no room even for the marker */
        { "", "xyz", 4, 1, "xyz" },
    };
    for (const auto &c : aCase) {
        Guarded g(c.iSize);
        strcpy(g.buf, c.szOld);
        EXPECT_EQ(ZoltSafeStrCat(g.buf, c.szAdd, c.iSize), c.iRc) << c.szOld << "+" << c.szAdd;
        EXPECT_STREQ(g.buf, c.szExpect) << c.szOld << "+" << c.szAdd;
        EXPECT_TRUE(g.GuardIntact()) << c.szOld << "+" << c.szAdd;
    }
    /* a destination without a NUL inside its size is full: refused, untouched */
    char full[4] = { 'a', 'b', 'c', 'd' };
    EXPECT_EQ(ZoltSafeStrCat(full, "x", 4), 0);
    EXPECT_EQ(memcmp(full, "abcd", 4), 0);
}

TEST(ZoltStrNCpy, NeverPadsAndTerminatesOnlyWhenShort)
{
    char buf[8];
    memset(buf, 'G', sizeof buf);
    EXPECT_EQ(ZoltStrNCpy(buf, "abc", 3), buf);
    EXPECT_EQ(memcmp(buf, "abcG", 4), 0);       /* n reached: no terminator */

    memset(buf, 'G', sizeof buf);
    ZoltStrNCpy(buf, "ab", 5);
    EXPECT_EQ(memcmp(buf, "ab\0GG", 5), 0);     /* terminated, not padded */

    memset(buf, 'G', sizeof buf);
    ZoltStrNCpy(buf, "ab", 0);
    EXPECT_EQ(buf[0], 'G');                     /* n = 0 writes nothing */
    ZoltStrNCpy(buf, "ab", -1);
    EXPECT_EQ(buf[0], '\0');                    /* n < 0 writes the NUL only */
    EXPECT_EQ(buf[1], 'G');

    EXPECT_EQ(ZoltStrNCpy(NULL, "ab", 3), nullptr);
    EXPECT_EQ(ZoltStrNCpy(buf, NULL, 3), nullptr);
}

TEST(ZoltNumbers, ConversionsAgreeAcrossWordSizes)
{
    EXPECT_EQ(ZoltAToI("42xyz"), 42);
    EXPECT_EQ(ZoltAToI("-17"), -17);
    EXPECT_EQ(ZoltAToI("junk"), 0);
    EXPECT_EQ(ZoltAToI("99999999999"), 2147483647);   /* clamped as a 32-bit long would be */
    EXPECT_EQ(ZoltAToI("-99999999999"), -2147483647 - 1);
    EXPECT_EQ(ZoltAToF("0.1"), 0.1f);                  /* single precision */
    EXPECT_NE((double)ZoltAToF("0.1"), 0.1);
    char *pEnd = NULL;
    EXPECT_EQ(ZoltStrToL("0x1fz", &pEnd, 16), 31);
    EXPECT_STREQ(pEnd, "z");
    EXPECT_TRUE(ZoltIsAlNum('a'));
    EXPECT_FALSE(ZoltIsAlNum('-'));
    EXPECT_FALSE(ZoltIsAlNum((char)0xE9));             /* a negative char is safe */
    EXPECT_FALSE(ZoltIsAlNum(-1));
}

TEST(SplitFilename, SplitsDirBaseAndExtension)
{
    struct { const char *szPath, *szDir, *szBase, *szExt; } aCase[] = {
        { "/opt/x/zoltcpu.ini.bak", "/opt/x/", "zoltcpu", ".ini.bak" },
        { "zoltcpu", "", "zoltcpu", "" },
        { "/x/", "/x/", "", "" },
        { "zoltcpu.linux", "", "zoltcpu", ".linux" },
        { "/a.b/c", "/a.b/", "c", "" },             /* dots in directories do not count */
        { ".hidden", "", "", ".hidden" },
        { "", "", "", "" },
    };
    for (const auto &c : aCase) {
        char szDir[ZOLT_PATH_SIZE] = "x", szBase[ZOLT_PATH_SIZE] = "x", szExt[ZOLT_PATH_SIZE] = "x";
        SplitFilename(c.szPath, szDir, szBase, szExt);
        EXPECT_STREQ(szDir, c.szDir) << c.szPath;
        EXPECT_STREQ(szBase, c.szBase) << c.szPath;
        EXPECT_STREQ(szExt, c.szExt) << c.szPath;
        char szName[ZOLT_PATH_SIZE];
        GetPathFilename(c.szPath, szName);
        EXPECT_EQ(std::string(szName), std::string(c.szBase) + c.szExt) << c.szPath;
    }
    char szBase[ZOLT_PATH_SIZE] = "x";
    SplitFilename(NULL, NULL, szBase, NULL);     /* NULL path and outputs are fine */
    EXPECT_STREQ(szBase, "");
}

TEST(SplitFilename, OverlongPathIsCutToPathSize)
{
    std::string strPath = "/d/" + std::string(3 * ZOLT_PATH_SIZE, 'n') + ".ext";
    char szBase[ZOLT_PATH_SIZE], szExt[ZOLT_PATH_SIZE], szName[ZOLT_PATH_SIZE];
    SplitFilename(strPath.c_str(), NULL, szBase, szExt);
    EXPECT_EQ(strlen(szBase), (size_t)ZOLT_PATH_SIZE - 1);
    EXPECT_STREQ(szExt, ".ext");
    GetPathFilename(strPath.c_str(), szName);
    EXPECT_EQ(strlen(szName), (size_t)ZOLT_PATH_SIZE - 1);
}

}  // namespace
