/* report.cpp - zoltpeers' readable report (event, progress and result lines,
 * explanations) and its command line; the JSON lines are read by tests/e2e. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli.h"
#include "report.h"

TEST(PeersReportLines, EventsProgressAndResults)
{
    PeersEvent ev;
    ev.bHasCode = 1;
    ev.sText = "<NLS id=x/>";
    struct Case {
        const char *szType;
        int iCode;
        const char *szEnglish, *szLine;
    } aCases[] = {
        { "INFO", -1, "Testing", "  Testing" },
        { "WARN", 101, "Testing", "  WARNING 101: Testing" },
        { "ERROR", 3, "Testing", "  ERROR 3: Testing" },
        { "PERCENTDONE", 0, "Testing", "" },
        { "INFO", -1, "", "  <NLS id=x/>" }, /* no translation: the text as sent */
    };
    for (const Case &c : aCases) {
        ev.sType = c.szType;
        ev.iCode = c.iCode;
        ev.sEnglish = c.szEnglish;
        EXPECT_EQ(PeersEventLine(ev), c.szLine) << c.szType;
    }
    EXPECT_EQ(PeersProgressLine(250), "\r  [" + std::string(PEERS_PROGRESS_WIDTH, '#') + "] 250%");

    PeersInvocation inv;
    PeersInvocationInit(&inv, "run");
    inv.iTest = 3;
    inv.ullStartMs = 1000;
    inv.ullEndMs = 1250;
    inv.bResult = 1;
    inv.sResultWord = "PRIVILEGEERROR";
    EXPECT_EQ(PeersResultLine(inv, "CPU:0"), "CPU:0  test 3 (caches)  PRIVILEGEERROR  (250 ms)");
    EXPECT_NE(PeersResultHint(inv).find("CAP_SYS_RESOURCE"), std::string::npos);
    inv.bResult = 0;
    inv.bKilled = 1;
    EXPECT_NE(PeersResultLine(inv, "CPU:0").find("NOT RUN (the module hung and was killed)"),
              std::string::npos);
    inv.bKilled = 0;
    inv.iExitStatus = 29;
    EXPECT_EQ(PeersResultHint(inv), "The module never connected to the broker (exit status 29).");
}

TEST(PeersCommandLine, ParsesCommandsOptionsAndMistakes)
{
    struct Case {
        std::vector<const char *> vArgs;
        int iRc;
    } aCases[] = {
        { { "--module", "/m.linux", "--deffile", "/d.ini", "--json", "all" }, 0 },
        { { "validate", "--test", "0", "--param", "ZOLT_DAPI2_PERCENT_TO_TEST,50" }, 0 },
        { { "--help" }, 2 },
        { { "all", "enumerate" }, 1 },                    /* two commands */
        { { "run", "--device", "0" }, 1 },                /* no test */
        { { "run", "--device", "x", "--test", "1" }, 1 }, /* not a number */
        { { "all", "--param", "ERRLIMIT,many" }, 1 },
        { { "all", "--no-ack", "--garbage-ack" }, 1 },
    };
    for (const Case &c : aCases) {
        std::vector<char *> argv = { (char *)"zoltpeers" };
        for (const char *sz : c.vArgs)
            argv.push_back((char *)sz);
        PeersCommand cmd;
        char szError[200];
        EXPECT_EQ(
            PeersParseCommandLine((int)argv.size(), argv.data(), &cmd, szError, sizeof szError),
            c.iRc)
            << (c.vArgs.empty() ? "(none)" : c.vArgs[0]) << " " << szError;
    }
    std::vector<char *> argv = { (char *)"zoltpeers", (char *)"run",         (char *)"--device",
                                 (char *)"2",         (char *)"--test",      (char *)"3",
                                 (char *)"--param",   (char *)"ERRLIMIT,3",  (char *)"--stop-after",
                                 (char *)"250",       (char *)"--die-after", (char *)"4" };
    PeersCommand cmd;
    char szError[200];
    ASSERT_EQ(PeersParseCommandLine((int)argv.size(), argv.data(), &cmd, szError, sizeof szError),
              0);
    EXPECT_EQ(cmd.iDevice, 2);
    EXPECT_EQ(cmd.iTest, 3);
    EXPECT_EQ(cmd.iErrLimit, 3); /* the error limit travels as errlimit= too */
    EXPECT_EQ(cmd.vParams, std::vector<std::string>{ "ERRLIMIT,3" });
    EXPECT_EQ(cmd.opt.iStopAfterMs, 250);
    EXPECT_EQ(cmd.opt.iDieAfterPackets, 4);
}
