/* strings.cpp - tests of the bounded copies (overflow marker, never a byte past
 * the buffer), ZoltStrNCpy's no-padding rule, number conversions, path splitters. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "zolt-string.h"

TEST(ZoltBoundedCopies, FitOrCutWithMarkerAndNeverPassTheSize)
{
    struct {
        int (*pfnCopy)(char *, const char *, int);
        const char *szOld, *szSrc;
        int iSize, iRc;
        const char *szExpect;
    } aCase[] = {
        { ZoltSafeStrCpy, "", "1234567", 8, 1, "1234567" },  /* exactly size - 1 fits */
        { ZoltSafeStrCpy, "", "12345678", 8, 0, "!!!OVER" }, /* one too many: marker cut to 7 */
        { ZoltSafeStrCpy, "", "x", 1, 0, "" },               /* size 1 holds only the NUL */
        { ZoltSafeStrCpy, "", "abcdefghijklmnopqrstuvwxyz", 20, 0, "!!!OVERFLOW!!!" },
        { ZoltSafeStrNCpy, "", "123456789", 8, 1, "1234567" }, /* cut silently */
        { ZoltSafeStrNCpy, "", "abc", 1, 1, "" },
        { ZoltSafeStrCat, "abc", "defg", 8, 1, "abcdefg" },  /* exactly fills 7 */
        { ZoltSafeStrCat, "abc", "defgh", 8, 0, "abc!!!O" }, /* old text kept, marker cut */
        { ZoltSafeStrCat, "abcdefg", "h", 8, 0, "abcdefg" }, /* no room even for the marker */
    };
    for (const auto &c : aCase) {
        SCOPED_TRACE(std::string(c.szOld) + "+" + c.szSrc + " into " + std::to_string(c.iSize));
        char buf[32];
        memset(buf, 'G', sizeof buf);
        strcpy(buf, c.szOld);
        EXPECT_EQ(c.pfnCopy(buf, c.szSrc, c.iSize), c.iRc);
        EXPECT_STREQ(buf, c.szExpect);
        EXPECT_EQ(std::string(buf + c.iSize, sizeof buf - c.iSize),
                  std::string(sizeof buf - c.iSize, 'G'));
    }
    char full[4] = { 'a', 'b', 'c', 'd' }; /* no NUL inside its size: full, refused, untouched */
    EXPECT_EQ(ZoltSafeStrCat(full, "x", 4), 0);
    EXPECT_EQ(memcmp(full, "abcd", 4), 0);
    char buf[8] = "keep";
    EXPECT_EQ(ZoltSafeStrCpy(buf, "x", 0) + ZoltSafeStrCpy(buf, "x", -5) +
                  ZoltSafeStrNCpy(buf, "x", 0),
              0);
    EXPECT_STREQ(buf, "keep");
    EXPECT_EQ(ZoltSafeStrCpy(NULL, "x", 8) + ZoltSafeStrCpy(buf, NULL, 8), 0);
}

TEST(ZoltStrNCpy, NeverPadsAndTerminatesOnlyWhenShort)
{
    char buf[8] = "GGGGGGG";
    EXPECT_EQ(ZoltStrNCpy(buf, "abc", 3), buf);
    EXPECT_EQ(memcmp(buf, "abcG", 4), 0); /* n reached: no terminator */
    ZoltStrNCpy(buf, "x", 5);
    EXPECT_EQ(memcmp(buf, "x\0cGG", 5), 0); /* terminated, not padded */
    EXPECT_EQ(ZoltStrNCpy(buf, NULL, 3), nullptr);
}

TEST(ZoltNumbers, ConversionsAgreeAcrossWordSizes)
{
    EXPECT_EQ(ZoltAToI("99999999999"), 2147483647); /* clamped as a 32-bit long would be */
    EXPECT_EQ(ZoltAToI("-99999999999"), -2147483647 - 1);
    EXPECT_EQ(ZoltAToF("0.1"), 0.1f); /* single precision */
}

TEST(SplitFilename, SplitsDirBaseAndExtensionWithinPathSize)
{
    struct {
        const char *szPath, *szDir, *szBase, *szExt;
    } aCase[] = {
        { "/opt/x/zoltcpu.ini.bak", "/opt/x/", "zoltcpu", ".ini.bak" },
        { "/x/", "/x/", "", "" },
        { "/a.b/c", "/a.b/", "c", "" }, /* dots in directories do not count */
        { ".hidden", "", "", ".hidden" },
    };
    char szDir[ZOLT_PATH_SIZE], szBase[ZOLT_PATH_SIZE], szExt[ZOLT_PATH_SIZE],
        szName[ZOLT_PATH_SIZE];
    for (const auto &c : aCase) {
        SCOPED_TRACE(c.szPath);
        SplitFilename(c.szPath, szDir, szBase, szExt);
        EXPECT_EQ(std::string(szDir) + "|" + szBase + "|" + szExt,
                  std::string(c.szDir) + "|" + c.szBase + "|" + c.szExt);
        GetPathFilename(c.szPath, szName);
        EXPECT_EQ(std::string(szName), std::string(c.szBase) + c.szExt);
    }
    std::string strPath = "/d/" + std::string(3 * ZOLT_PATH_SIZE, 'n') + ".ext";
    SplitFilename(strPath.c_str(), NULL, szBase, szExt);
    EXPECT_EQ(strlen(szBase), (size_t)ZOLT_PATH_SIZE - 1);
    EXPECT_STREQ(szExt, ".ext");
    GetPathFilename(strPath.c_str(), szName);
    EXPECT_EQ(strlen(szName), (size_t)ZOLT_PATH_SIZE - 1);
}
