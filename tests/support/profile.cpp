/* profile.cpp - tests of the INI reader on its tricky lines with LF and CR LF
 * ends, 511-byte line cuts, the 64 KiB limit and paths that are no regular file. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "common/read-file.h"
#include "profile.h"

const std::string s_strTricky = std::string(ZOLT_FIXTURES) + "/profile/tricky.ini";

/* A temporary file, removed at the end of the test. */
struct TempFile {
    explicit TempFile(const std::string &strData)
    {
        std::ofstream(m_strPath, std::ios::binary) << strData;
    }
    ~TempFile()
    {
        unlink(m_strPath.c_str());
    }
    const char *Path() const
    {
        return m_strPath.c_str();
    }
    std::string m_strPath = "/tmp/zolt-profile-" + std::to_string(getpid());
};

struct Query {
    const char *szSection, *szKey, *szDefault;
    int iSize, iRc;
    const char *szExpect;
};

const Query s_aTricky[] = {
    { "Module", "szType", "x", 64, 5, " DIAG" },   /* leading blank kept, key trimmed */
    { "Module", "szTab", "none", 64, 4, "none" },  /* the tab ended that line */
    { "Module", ";commented", "x", 64, 3, "yes" }, /* no comment syntax */
    { "Module", "dup", "x", 64, 5, "first" },      /* first matching key */
    { "Module", "spaces", "x", 64, 16, "  padded value  " },
    { "Module", "empty", "d", 64, 0, "" },                    /* found, empty: not the default */
    { "Module", "afterbroken", "x", 64, 12, "still module" }, /* '[' without ']' ignored */
    { "Module", "blanksection", "x", 64, 1, "x" },            /* "[ Module ]" ended [Module] */
    { " Module ", "blanksection", "x", 64, 5, "inner" },      /* bracket blanks are the name */
    { "Module", "second", "x", 64, 1, "x" },                  /* later [Module] never reached */
    { "Test", "long", "x", 20, 19, "0123456789012345678" },   /* cut to size - 1 */
    { "Test", "missing", "5", 20, 1, "5" },
    { "Nope", "final", NULL, 64, 0, "" },  /* NULL default: empty */
    { " Module ", NULL, "x", 64, 1, "?" }, /* section queries write nothing */
};

TEST(Profile, TrickyLinesWithLfAndCrLfEnds)
{
    std::string strData = zolttest::ReadFile(s_strTricky), strCrLf;
    ASSERT_FALSE(strData.empty());
    for (char c : strData)
        strCrLf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    TempFile file(strCrLf);
    for (const char *szPath : { s_strTricky.c_str(), file.Path() })
        for (const Query &q : s_aTricky) {
            char szBuf[64] = "?";
            SCOPED_TRACE(std::string(szPath) + " [" + q.szSection + "] " +
                         (q.szKey ? q.szKey : "(null)"));
            EXPECT_EQ(ZoltGetPrivateProfileString(q.szSection, q.szKey, q.szDefault, szBuf, q.iSize,
                                                  szPath),
                      q.iRc);
            EXPECT_STREQ(szBuf, q.szExpect);
        }
    char *p = ZoltGetIniString(s_strTricky.c_str(), "module", "spaces"); /* a heap copy */
    EXPECT_STREQ(p, "  padded value  ");
    free(p);
    EXPECT_EQ(ZoltGetIniString(s_strTricky.c_str(), "Module", "empty"), nullptr);
}

TEST(Profile, LinesAreCutAfter511Bytes)
{
    std::string strFit(509, 'v'); /* "k=" + 509 = 511 bytes */
    std::string strData =
        "[S]\nk=" + strFit + "\nc=" + strFit + "XY\n" + std::string(511, 'a') + "hidden=1\n";
    TempFile file(strData);
    std::string strBig(600, '\0');
    EXPECT_EQ(ZoltGetPrivateProfileString("S", "c", "", &strBig[0], 600, file.Path()), 509);
    EXPECT_EQ(std::string(strBig.c_str()), strFit); /* "XY" cut off */
    char szBuf[16];
    EXPECT_EQ(ZoltGetPrivateProfileString("S", "hidden", "no", szBuf, 16, file.Path()), 2);
    /* after the cut one byte ('h') is skipped and the rest is a line of its own */
    EXPECT_EQ(ZoltGetPrivateProfileString("S", "idden", "no", szBuf, 16, file.Path()), 1);
    EXPECT_STREQ(szBuf, "1");
}

TEST(Profile, SizeLimitIs65535Bytes)
{
    std::string strData = "[S]\n" + std::string(65535 - 4 - 11, '#') + "\nend=found\n";
    ASSERT_EQ(strData.size(), 65535u);
    char szBuf[16];
    {
        TempFile file(strData);
        EXPECT_EQ(ZoltGetPrivateProfileString("S", "end", "def", szBuf, 16, file.Path()), 5);
        EXPECT_STREQ(szBuf, "found");
    }
    strData.insert(4, "#"); /* 65536 bytes: refused */
    TempFile file(strData);
    EXPECT_EQ(ZoltGetPrivateProfileString("S", "end", "def", szBuf, 16, file.Path()), 3);
    EXPECT_STREQ(szBuf, "def");
}

TEST(Profile, UnreadablePathsGiveTheDefault)
{
    std::string strFifo = "/tmp/zolt-profile-fifo-" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(strFifo.c_str(), 0600), 0);
    for (const char *szPath :
         { "/nonexistent/zoltcpu.ini", "/tmp", strFifo.c_str(), "", (const char *)NULL }) {
        char szBuf[8];
        EXPECT_EQ(ZoltGetPrivateProfileString("Module", "szType", "dflt", szBuf, 8, szPath), 4)
            << (szPath ? szPath : "(null)"); /* a FIFO must not block */
        EXPECT_STREQ(szBuf, "dflt");
        EXPECT_EQ(ZoltGetIniString(szPath, "Module", "szType"), nullptr);
    }
    unlink(strFifo.c_str());
}
