/* report.cpp - zoltpeers' readable report: event and progress lines, the
 * explanation of a setup error (result lines: results.cpp), identical events folded
 * with a count, warnings beside their result, and text made valid UTF-8. */
#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "cli.h"
#include "report.h"

TEST(PeersReportLines, EventsAndProgress)
{
    /* type, text as sent, its translation, code */
    const std::pair<PeersEvent, const char *> aCases[] = {
        { { "INFO", "<NLS id=x/>", "Testing", 1, -1, "" }, "  Testing" },
        { { "WARN", "<NLS id=x/>", "Testing", 1, 101, "" }, "  WARNING 101: Testing" },
        { { "ERROR", "<NLS id=x/>", "Testing", 1, 3, "" }, "  ERROR 3: Testing" },
        { { "PERCENTDONE", "<NLS id=x/>", "Testing", 1, 0, "" }, "" },
        { { "INFO", "<NLS id=x/>", "", 1, -1, "" }, "  <NLS id=x/>" }, /* no translation */
    };
    for (const auto &c : aCases)
        EXPECT_EQ(PeersEventLine(c.first), c.second) << c.first.sType;
    EXPECT_EQ(PeersProgressLine(250), "\r  [" + std::string(PEERS_PROGRESS_WIDTH, '#') + "] 250%");
}

TEST(PeersReportLines, SetupErrorIsExplainedByWhatTheModuleReported)
{
    struct Case {
        const char *szWarning; /* English text of a warning event, or null */
        int iListRequests, iListAnswers;
        const char *szExpected; /* part of the hint */
    } aCases[] = {
        { "Memory for the cache pattern could not be had", 0, 0,
          "the module reported: Memory for the cache pattern could not be had" },
        { nullptr, 1, 0, "asked for its device list and got no answer" },
        { nullptr, 1, 1, "sent no warning saying why" },
    };
    for (const Case &c : aCases) {
        PeersInvocation inv;
        PeersInvocationInit(&inv, "run");
        inv.bResult = 1;
        inv.sResultWord = "SETUPERROR";
        inv.iDeviceListRequests = c.iListRequests;
        inv.iDeviceListAnswers = c.iListAnswers;
        if (c.szWarning != nullptr)
            inv.vEvents.push_back(PeersEvent{ "WARN", "", c.szWarning, 1, 7, "" });
        std::string sHint = PeersResultHint(inv);
        EXPECT_NE(sHint.find(c.szExpected), std::string::npos) << sHint;
        EXPECT_EQ(sHint.find("memory)"), std::string::npos) << "a guess instead of the cause";
    }
}

/* What the text report writes for a run of events, read back from a file. */
static std::string TextFor(const std::vector<std::pair<const char *, const char *>> &vEvents,
                           const char *szWord)
{
    FILE *pFile = tmpfile();
    PeersReportInit(pFile, PEERS_FORMAT_TEXT, nullptr);
    PeersInvocation inv;
    PeersInvocationInit(&inv, "run");
    inv.iTest = 0;
    inv.bResult = 1;
    inv.sResultWord = szWord;
    for (const auto &e : vEvents) {
        inv.vEvents.push_back(PeersEvent{ e.first, "", e.second, 1, 9, "" });
        PeersReportLiveEvent(&inv, &inv.vEvents.back());
    }
    PeersReportInvocation(&inv, "CPU:0");
    std::string sOut;
    rewind(pFile);
    for (int c; (c = fgetc(pFile)) != EOF;)
        sOut += (char)c;
    fclose(pFile);
    PeersReportInit(nullptr, PEERS_FORMAT_TEXT, nullptr);
    return sOut;
}

TEST(PeersReportText, FoldsRepeatsShowsWarningsAndRepairsUtf8)
{
    std::string s = TextFor({ { "INFO", "a" },
                              { "INFO", "a" },
                              { "INFO", "a" },
                              { "INFO", "b" },
                              { "INFO", "a" },
                              { "WARN", "hot" },
                              { "WARN", "hot" } },
                            "PASS");
    EXPECT_EQ(s, "  a (x3)\n  b\n  a\n  WARNING 9: hot (x2)\n"
                 "CPU:0  test 0 (integer unit)  PASS  (0 ms)\n"
                 "    warning 9: hot (x2)\n");
    /* a Latin-1 byte in a text becomes U+FFFD; UTF-8 passes unchanged */
    s = TextFor({ { "INFO", "caf\xE9 \xC3\xA9" } }, "PASS");
    EXPECT_EQ(s.substr(0, s.find('\n')), "  caf\xEF\xBF\xBD \xC3\xA9");
}

TEST(PeersReportText, ControlCharactersAreMadeVisibleForATerminal)
{
    struct {
        const char *szIn, *szShown;
    } aCases[] = {
        { "\x1b[31mred\x1b[0m", "^[[31mred^[[0m" }, /* colour, cursor moves */
        { "a\rb\x07\x7f", "a^Mb^G^?" },             /* return, bell, DEL */
        { "\xc2\x9b"
          "2J \xc2\xa0",
          "M-^[2J \xc2\xa0" }, /* C1 CSI; U+00A0 stays */
        { "line\n\tnext", "line\n\tnext" },
    };
    for (const auto &c : aCases)
        EXPECT_EQ(PeersVisibleText(c.szIn), c.szShown) << c.szIn;
}
