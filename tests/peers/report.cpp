/* report.cpp - tests of zoltpeers' output formatting (JSON lines, event and
 * result lines, the progress line, explanations) and of its command line. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli.h"
#include "report.h"

TEST(PeersReportJson, EscapesAndSplitsPackets)
{
    EXPECT_EQ(PeersJsonEscape("a\"b\\c\n\r\t\x01z"), "a\\\"b\\\\c\\n\\r\\t\\u0001z");

    std::string s = PeersPacketJson("in", 812,
                                    "<MSG><HDR><FROM>812</FROM><TO>DIAGENGINE</TO><ID>3</ID><RE>2</RE>"
                                    "<TYPE>DE_EVENT</TYPE></HDR><DATA><EVENT>\"x\"</EVENT></DATA></MSG>\r\n");
    EXPECT_EQ(s, "{\"dir\":\"in\",\"peer\":812,\"kind\":\"MSG\",\"from\":\"812\",\"to\":\"DIAGENGINE\","
                 "\"id\":\"3\",\"re\":\"2\",\"type\":\"DE_EVENT\",\"data\":\"<EVENT>\\\"x\\\"</EVENT>\","
                 "\"raw\":\"<MSG><HDR><FROM>812</FROM><TO>DIAGENGINE</TO><ID>3</ID><RE>2</RE>"
                 "<TYPE>DE_EVENT</TYPE></HDR><DATA><EVENT>\\\"x\\\"</EVENT></DATA></MSG>\"}");
    /* packets other than MSG carry only their kind and raw text */
    struct Case { const char *szPacket, *szKind; } aCases[] = {
        { "<STARTUP><PID>1</PID></STARTUP>", "STARTUP" }, { "<STOP><PID>1</PID></STOP>", "STOP" },
        { "<ACK></ACK>\r\n", "ACK" }, { "junk", "OTHER" },
    };
    for (const Case &c : aCases) {
        std::string sJson = PeersPacketJson("out", 1, c.szPacket);
        EXPECT_NE(sJson.find(std::string("\"kind\":\"") + c.szKind + "\""), std::string::npos) << c.szPacket;
        EXPECT_EQ(sJson.find("\"type\""), std::string::npos) << c.szPacket;
        EXPECT_EQ(sJson.find("\\r\\n"), std::string::npos) << c.szPacket;
    }
}

TEST(PeersReportLines, EventsProgressAndResults)
{
    PeersEvent ev;
    ev.bHasCode = 1;
    struct Case { const char *szType; int iCode; const char *szLine; } aCases[] = {
        { "INFO", -1, "  Testing" },
        { "PROGRESS", 0, "  Testing" },
        { "WARN", 101, "  WARNING 101: Testing" },
        { "ERROR", 3, "  ERROR 3: Testing" },
        { "PERCENTDONE", 0, "" },
        { "GET_TIMEOUT", 0, "" },
    };
    for (const Case &c : aCases) {
        ev.sType = c.szType;
        ev.iCode = c.iCode;
        ev.sText = "<NLS id=x/>";
        ev.sEnglish = "Testing";
        EXPECT_EQ(PeersEventLine(ev), c.szLine) << c.szType;
    }
    ev.sType = "INFO";
    ev.sEnglish = "";   /* no translation: the text as sent */
    EXPECT_EQ(PeersEventLine(ev), "  <NLS id=x/>");

    EXPECT_EQ(PeersProgressLine(0), "\r  [" + std::string(PEERS_PROGRESS_WIDTH, ' ') + "]   0%");
    EXPECT_EQ(PeersProgressLine(50), "\r  [" + std::string(PEERS_PROGRESS_WIDTH / 2, '#')
                                         + std::string(PEERS_PROGRESS_WIDTH - PEERS_PROGRESS_WIDTH / 2, ' ') + "]  50%");
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
    inv.sResultWord = "PASS";
    EXPECT_EQ(PeersResultHint(inv), "");
    inv.bResult = 0;
    inv.bKilled = 1;
    EXPECT_NE(PeersResultLine(inv, "CPU:0").find("NOT RUN (the module hung and was killed)"), std::string::npos);
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
        { { "all" }, 0 },
        { { "--module", "/m.linux", "--deffile", "/d.ini", "--json", "enumerate" }, 0 },
        { { "run", "--device", "0", "--test", "3", "--param", "ERRLIMIT,3", "--stop-at-startup" }, 0 },
        { { "sysinfo", "--device", "1", "--no-ack" }, 0 },
        { { "validate", "--test", "0", "--param", "ZOLT_DAPI2_PERCENT_TO_TEST,50" }, 0 },
        { { "--help" }, 2 },
        { {}, 1 },                                            /* no command */
        { { "walk" }, 1 },                                    /* unknown command */
        { { "all", "enumerate" }, 1 },                        /* two commands */
        { { "run", "--device", "0" }, 1 },                    /* no test */
        { { "sysinfo" }, 1 },                                 /* no device */
        { { "run", "--device", "x", "--test", "1" }, 1 },     /* not a number */
        { { "run", "--device", "0", "--test", "1", "--param", "NOVALUE" }, 1 },
        { { "all", "--param", "ERRLIMIT,many" }, 1 },
        { { "all", "--frobnicate" }, 1 },
        { { "all", "--module" }, 1 },                         /* option without its value */
        { { "all", "--no-ack", "--garbage-ack" }, 1 },
    };
    for (const Case &c : aCases) {
        std::vector<char *> argv = { (char *)"zoltpeers" };
        for (const char *sz : c.vArgs)
            argv.push_back((char *)sz);
        PeersCommand cmd;
        char szError[200];
        EXPECT_EQ(PeersParseCommandLine((int)argv.size(), argv.data(), &cmd, szError, sizeof szError), c.iRc)
            << (c.vArgs.empty() ? "(none)" : c.vArgs[0]) << " " << szError;
    }
    std::vector<char *> argv = { (char *)"zoltpeers", (char *)"run", (char *)"--device", (char *)"2",
                                 (char *)"--test", (char *)"3", (char *)"--param", (char *)"ERRLIMIT,3",
                                 (char *)"--stop-after", (char *)"250", (char *)"--die-after", (char *)"4" };
    PeersCommand cmd;
    char szError[200];
    ASSERT_EQ(PeersParseCommandLine((int)argv.size(), argv.data(), &cmd, szError, sizeof szError), 0);
    EXPECT_EQ(cmd.iDevice, 2);
    EXPECT_EQ(cmd.iTest, 3);
    EXPECT_EQ(cmd.iErrLimit, 3);   /* the error limit travels as errlimit= too */
    EXPECT_EQ(cmd.vParams, std::vector<std::string>{ "ERRLIMIT,3" });
    EXPECT_EQ(cmd.opt.iStopAfterMs, 250);
    EXPECT_EQ(cmd.opt.iDieAfterPackets, 4);
    EXPECT_EQ(cmd.opt.bNoAck, 0);
}
