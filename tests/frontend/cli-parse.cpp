/* cli-parse.cpp - zoltpeers' command line: getopt_long forms (--opt=value,
 * --opt value, options after the command, --), the usage errors and their
 * messages, number lists and durations, the processor table behind --each-cpu
 * and --cpus; the format table held against --help, the man page, the
 * completion and the README. */
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli-parse.h"
#include "common/read-file.h"
#include "cpu-places.h"

/* Parses the words after the program name. */
static int Parse(std::vector<const char *> vArgs, PeersCommand *pCmd, std::string *psError)
{
    std::vector<char *> argv = { (char *)"zoltpeers" };
    for (const char *sz : vArgs)
        argv.push_back((char *)sz);
    argv.push_back(nullptr);
    char szError[512];
    int iRc =
        PeersParseCommandLine((int)argv.size() - 1, argv.data(), pCmd, szError, sizeof szError);
    *psError = szError;
    return iRc;
}

TEST(PeersCommandLine, UsageErrorsNameTheCauseAndTheFix)
{
    struct Case {
        std::vector<const char *> vArgs;
        const char *szError; /* part of the message; "" when the line is good */
    } aCases[] = {
        { { "--module=/m.linux", "--deffile", "/d.ini", "--json", "all" }, "" },
        { { "all", "--tests=0-2", "--devices", "1,0", "--loops", "3" }, "" },
        { { "--help" }, "" },
        { { "--version" }, "" },
        { { "all", "enumerate" }, "one command only" },
        { { "frobnicate" }, "unknown command 'frobnicate'; give all, enumerate" },
        { {}, "no command given" },
        { { "run", "--device", "0" }, "add --test T" },
        { { "sysinfo" }, "add --device N" },
        { { "run", "--device", "x", "--test", "1" }, "--device needs a whole number" },
        { { "run", "--device", "-1", "--test", "1" }, "--device needs a whole number" },
        { { "all", "--param", "ERRLIMIT,3" }, "give the error limit as --errlimit N" },
        { { "all", "--param", "errlimit,3" }, "--errlimit N" },
        { { "all", "--param", "NOCOMMA" }, "is not ID,VALUE" },
        { { "all", "--no-ack", "--garbage-ack" }, "exclude each other" },
        { { "all", "--bogus" }, "unknown option '--bogus'" },
        { { "all", "-x" }, "unknown option '-x'" },
        { { "all", "--limit" }, "option '--limit' needs a value: write --limit VALUE" },
        { { "all", "--dev", "0" }, "'--dev' is ambiguous: it could be --device, --devices" },
        { { "all", "--json=1" }, "'--json' takes no value; write it alone, without '=1'" },
        { { "--help=x" }, "'--help' takes no value" },
        { { "all", "--test", "0" }, "all takes --tests LIST and --devices LIST, not --test" },
        { { "all", "--device", "0" }, "not --device" },
        { { "all", "--each-cpu", "--jobs", "2", "--retest-on-failure", "3" }, "" },
        { { "run", "--device", "0", "--test", "0", "--cpus", "0-3,8" }, "" },
        { { "all", "--jobs", "2" }, "add --each-cpu or --cpus LIST" },
        { { "all", "--jobs", "0", "--each-cpu" }, "a count from 1 to 4096" },
        { { "all", "--cpus", "3-1" }, "a list of logical CPUs such as 0-3,8" },
        { { "sysinfo", "--device", "0", "--each-cpu" }, "use them with all or run" },
        { { "all", "--loops", "0" }, "count of 1 or more" },
        { { "all", "--duration", "5d" }, "such as 90, 90s, 10m or 2h" },
        { { "all", "--tests", "3-1" }, "a list such as 0,2 or 0-3" },
        { { "run", "--device", "0", "--test", "0", "--tests", "1" }, "choose for all" },
        { { "sysinfo", "--device", "0", "--loops", "2" }, "use them with all or run" },
        { { "--", "--help" }, "unknown command '--help'" }, /* -- ends the options */
    };
    for (const Case &c : aCases) {
        PeersCommand cmd;
        std::string sError;
        int iRc = Parse(c.vArgs, &cmd, &sError);
        SCOPED_TRACE(c.vArgs.empty() ? "(none)" : c.vArgs[0]);
        EXPECT_EQ(iRc, *c.szError ? PEERS_EXIT_USAGE : 0) << sError;
        EXPECT_NE(sError.find(c.szError), std::string::npos) << sError;
        EXPECT_EQ(sError.find('\n'), std::string::npos); /* one line */
    }
}

TEST(PeersCommandLine, BothValueFormsAndOptionsAfterTheCommand)
{
    PeersCommand cmd;
    std::string sError;
    ASSERT_EQ(Parse({ "run", "--device=2", "--test", "3", "--errlimit=7", "--param",
                      "ZOLT_DAPI2_PERCENT_TO_TEST,50", "--stop-after", "250", "--die-after=4",
                      "--limit=0", "--format=ocptv", "--duration", "10m", "--stop-on-fail" },
                    &cmd, &sError),
              0)
        << sError;
    EXPECT_EQ(cmd.sCommand, "run");
    EXPECT_EQ(cmd.iDevice, 2);
    EXPECT_EQ(cmd.iTest, 3);
    EXPECT_EQ(cmd.iErrLimit, 7);
    EXPECT_EQ(cmd.vParams, std::vector<std::string>{ "ZOLT_DAPI2_PERCENT_TO_TEST,50" });
    EXPECT_EQ(cmd.opt.iStopAfterMs, 250);
    EXPECT_EQ(cmd.opt.iDieAfterPackets, 4);
    EXPECT_EQ(cmd.opt.iModuleLimitMs, 0);
    EXPECT_EQ(cmd.iFormat, PeersFindFormat("ocptv"));
    EXPECT_EQ(cmd.ullDurationMs, 600000ull);
    EXPECT_EQ(cmd.bStopOnFail, 1);
    /* a second parse starts afresh (getopt's state is reset) */
    ASSERT_EQ(Parse({ "--json", "--trace-json", "enumerate" }, &cmd, &sError), 0) << sError;
    EXPECT_EQ(cmd.iFormat, PEERS_FORMAT_TRACE); /* the last format wins */
    EXPECT_EQ(cmd.iDevice, -1);
    EXPECT_EQ(cmd.lLoops, -1);
    EXPECT_TRUE(cmd.vParams.empty());
    EXPECT_EQ(cmd.sCommandLine, "--json --trace-json enumerate");
}

TEST(PeersCommandLine, NumberListsAndDurations)
{
    struct ListCase {
        const char *szText, *szList; /* null: refused */
    } aLists[] = {
        { "0", "0 " },      { "2,0,2", "0 2 " },  { "0-3", "0 1 2 3 " }, { "5,1-2", "1 2 5 " },
        { "", nullptr },    { "1,", nullptr },    { "a", nullptr },      { "-1", nullptr },
        { "2-1", nullptr }, { "1-2-3", nullptr }, { "4096", nullptr },   { "+1", nullptr },
    };
    for (const ListCase &c : aLists) {
        std::vector<int> v;
        std::string sList;
        EXPECT_EQ(PeersParseNumberList(c.szText, &v), c.szList ? 0 : 1) << c.szText;
        for (int i : v)
            sList += std::to_string(i) + " ";
        if (c.szList != nullptr) {
            EXPECT_EQ(sList, c.szList) << c.szText;
        }
    }
    const struct {
        const char *szText;
        unsigned long long ullMs; /* 0: refused */
    } aDurations[] = {
        { "90", 90000 }, { "90s", 90000 }, { "10m", 600000 }, { "2h", 7200000 },
        { "0", 0 },      { "s", 0 },       { "1.5m", 0 },     { "10000h", 36000000000 },
        { "10001h", 0 }, { "-5s", 0 },     { "5 s", 0 },
    };
    for (const auto &c : aDurations) {
        unsigned long long ull = 0;
        EXPECT_EQ(PeersParseDuration(c.szText, &ull), c.ullMs ? 0 : 1) << c.szText;
        EXPECT_EQ(ull, c.ullMs) << c.szText;
    }
}

/* The "<name> <help>" of each line after the first line of sText holding
 * szStart, up to the line holding "--json". */
static std::vector<std::string> FormatLines(const std::string &sText, const char *szStart)
{
    std::istringstream in(sText.substr(sText.find(szStart)));
    std::vector<std::string> v;
    std::string sLine, sName, sHelp;
    for (std::getline(in, sLine); std::getline(in, sLine) && sLine.find("--json") == sLine.npos;) {
        std::istringstream words(sLine);
        words >> sName >> std::ws;
        std::getline(words, sHelp);
        v.push_back(sName + " " + sHelp);
    }
    return v;
}

TEST(PeersFormats, TheTableDrivesHelpAndIsHeldAgainstManPageCompletionAndReadme)
{
    std::vector<std::string> vWanted;
    std::string sNames, sBarNames,
        sMan = zolttest::ReadFile(ZOLT_SOURCE_DIR "/docs/man/zoltpeers.1");
    for (int i = 0; i < g_iPeersFormatCount; i++) {
        const PeersFormat &f = g_aPeersFormats[i];
        vWanted.push_back(std::string(f.szName) + " " + f.szHelp);
        sNames += std::string(i ? " " : "") + f.szName;
        sBarNames += std::string(i ? "|" : "") + f.szName;
        EXPECT_EQ(PeersFindFormat(f.szName), i);
        EXPECT_NE(sMan.find("\n.B " + std::string(f.szName) + "\n"), std::string::npos) << f.szName;
    }
    EXPECT_EQ(FormatLines(PeersUsageText(), "--format FORMAT"), vWanted);
    EXPECT_EQ(FormatLines(zolttest::ReadFile(ZOLT_SOURCE_DIR "/README.md"), "--format FORMAT"),
              vWanted);
    EXPECT_NE(zolttest::ReadFile(ZOLT_SOURCE_DIR "/frontend/zoltpeers.bash-completion")
                  .find("--format)\n            COMPREPLY=($(compgen -W '" + sNames + "'"),
              std::string::npos);
    EXPECT_NE(sMan.find(".BR \\-\\-format \" " + sBarNames + "\"\n"), std::string::npos);
    std::string sError; /* the error names every format */
    PeersCommand cmd;
    EXPECT_EQ(Parse({ "all", "--format", "xml" }, &cmd, &sError), PEERS_EXIT_USAGE);
    EXPECT_NE(sError.find("choose " + PeersFormatNames(" or ")), std::string::npos) << sError;
}

/* Each record's place, and its device as the module groups them: a record
 * with "ht" joins an earlier record of its package; one without "ht" or
 * without a physical id is a device of its own. */
TEST(PeersCpuTable, PlacesAndTheDeviceThatHoldsEachCpu)
{
    const char *szTable =
        "processor\t: 0\nphysical id\t: 0\ncore id\t\t: 0\napicid\t\t: 0\nflags\t\t: fpu ht sse\n\n"
        "processor\t: 1\nphysical id\t: 1\ncore id\t\t: 0\napicid\t\t: 2\nflags\t\t: fpu ht\n\n"
        "processor\t: 2\nphysical id\t: 0\ncore id\t\t: 1\ninitial apicid\t: 9\napicid\t\t: 1\n"
        "flags\t\t: fpu ht\n\nprocessor\t: 3\nphysical id\t: 0\nflags\t\t: fpu\n\n"
        "processor\t: 4\nflags\t\t: ht\n";
    std::string sSeen;
    for (const PeersCpu &c : PeersParseCpuTable(szTable))
        sSeen += std::to_string(c.place.iCpu) + " " + std::to_string(c.place.iCore) + " " +
                 std::to_string(c.place.iPackage) + " " + std::to_string(c.place.iApicId) +
                 " device " + std::to_string(c.iDevice) + "|";
    EXPECT_EQ(sSeen, "0 0 0 0 device 0|1 0 1 2 device 1|2 1 0 1 device 0|3 -1 0 -1 device 2|"
                     "4 -1 -1 -1 device 3|");
}
