/* results.cpp - what the result formats are built from: UTF-8 repair, JSON
 * strings and times, event variables, outcomes and exit statuses, --param
 * checks against a definitions file, the machine's identity, each outcome in
 * each format (text result line and hint, json, ocptv with its numbering),
 * and the folding of identical runs. */
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "fold.h"
#include "json-text.h"
#include "machine-info.h"
#include "param-check.h"
#include "report.h"
#include "results.h"

/* A run record of szDevice (device iDevice), test iTest and loop lLoop, on logical CPU iCpu. */
static PeersTestRun TestRun(const PeersInvocation *pInv, int iOutcome, const char *szDevice,
                            int iTest, unsigned long long ullMs, int iCpu = -1, int iDevice = 0,
                            long lLoop = 1)
{
    return PeersTestRun{
        pInv, iDevice, iTest, szDevice, lLoop, "", ullMs, iOutcome, { iCpu, -1, -1, -1 }, 0, -1, {}
    };
}

TEST(PeersJsonText, Utf8RepairAndJsonStrings)
{
    const std::string sRep = "\xEF\xBF\xBD";
    struct Case {
        std::string sIn, sOut;
    } aCases[] = {
        { "plain", "plain" },
        { "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80" },
        { "caf\xE9", "caf" + sRep },                       /* Latin-1 */
        { "\x80x", sRep + "x" },                           /* stray continuation */
        { "\xC0\x80", sRep + sRep },                       /* overlong NUL */
        { "\xE0\x80\x80", sRep + sRep + sRep },            /* overlong 3-byte */
        { "\xED\xA0\x80", sRep + sRep + sRep },            /* surrogate */
        { "\xF4\x90\x80\x80", sRep + sRep + sRep + sRep }, /* above U+10FFFF */
        { "\xF5\x80\x80\x80", sRep + sRep + sRep + sRep }, /* no lead above F4 */
        { "a\xE2\x82", "a" + sRep + sRep },                /* cut at the end */
    };
    for (const Case &c : aCases)
        EXPECT_EQ(PeersUtf8Clean(c.sIn), c.sOut) << c.sIn;
    EXPECT_EQ(PeersJsonString(std::string("q\"b\\n\n\t\x01\x7F\xE9", 10)),
              "\"q\\\"b\\\\n\\n\\t\\u0001\\u007f" + sRep + "\"");
    struct timespec ts = { 86400 * 365 + 3661, 5000000 };
    EXPECT_EQ(PeersRfc3339(ts), "1971-01-01T01:01:01.005Z");
}

TEST(PeersJsonText, EventVariablesBecomeAJsonObject)
{
    struct Case {
        const char *szText, *szTag, *szJson;
    } aCases[] = {
        { "<NLS mod=zoltcpu id=szErrorMMX10_10 errno=32 instruction=PADD />", "szErrorMMX10_10",
          "{\"errno\":32,\"instruction\":\"PADD\"}" },
        { "<NLS id=szX count=-5 code=007 big=12345678901234567 />", "szX",
          "{\"count\":-5,\"code\":\"007\",\"big\":\"12345678901234567\"}" },
        { "before <NLS id=szInfo1 /> after", "szInfo1", "{}" },
        { "plain text", "", "{}" },
        { "<NLS id=szCut errno=1", "", "{}" }, /* no end: not a tag */
    };
    for (const Case &c : aCases) {
        std::string sTag = "stale";
        EXPECT_EQ(PeersEventVariablesJson(c.szText, &sTag), c.szJson) << c.szText;
        EXPECT_EQ(sTag, c.szTag) << c.szText;
    }
}

TEST(PeersResults, ExitStatusOfTheTotals)
{
    /* priority: FAIL, then not run, then not tested */
    struct Totals {
        int iPassed, iFailed, iUntested, iNotRun, iExit;
    } aTotals[] = {
        { 3, 0, 0, 0, 0 }, { 3, 1, 1, 1, 1 }, { 3, 0, 1, 1, 2 },
        { 3, 0, 1, 0, 4 }, { 0, 0, 0, 0, 0 },
    };
    for (const Totals &t : aTotals) {
        PeersRunEnd end = PeersRunEnd();
        end.iPassed = t.iPassed;
        end.iFailed = t.iFailed;
        end.iUntested = t.iUntested;
        end.iNotRun = t.iNotRun;
        EXPECT_EQ(PeersExitOfTotals(end), t.iExit) << t.iFailed << t.iUntested << t.iNotRun;
    }
}

TEST(PeersResults, TallyCountsPerDeviceAndTest)
{
    PeersRunEnd end = PeersRunEnd();
    PeersInvocation inv;
    const struct {
        const char *szDevice;
        int iTest, iOutcome;
        unsigned long long ullMs;
    } aRuns[] = {
        { "CPU:0", 0, PEERS_OUTCOME_PASS, 3 },    { "CPU:1", 0, PEERS_OUTCOME_FAIL, 4 },
        { "CPU:0", 0, PEERS_OUTCOME_PASS, 5 },    { "CPU:0", 3, PEERS_OUTCOME_UNTESTED, 1 },
        { "CPU:0", 3, PEERS_OUTCOME_NOT_RUN, 2 }, { "CPU:1", 0, PEERS_OUTCOME_CRASHED, 1 },
        { "CPU:1", 0, PEERS_OUTCOME_HUNG, 1 }
    };
    for (const auto &r : aRuns)
        PeersRunEndAdd(&end, TestRun(&inv, r.iOutcome, r.szDevice, r.iTest, r.ullMs));
    /* per device and test: runs, passed, failed (crashed and hung included), not tested,
     * not run and the time; the totals above them */
    std::vector<std::string> vTable = PeersTextTable(end);
    ASSERT_EQ(vTable.size(), 6u);
    EXPECT_EQ(vTable[1], "Summary: 7 run(s) in 0 loop(s), 2 passed, 3 failed, 1 not tested, 1 not "
                         "run; 0 ms");
    EXPECT_EQ(vTable[3], "  CPU:0    0 integer unit                     2       2       0      "
                         "     0        0       8 ms");
    EXPECT_EQ(vTable[4], "  CPU:1    0 integer unit                     3       0       3      "
                         "     0        0       6 ms");
    EXPECT_EQ(vTable[5], "  CPU:0    3 caches                           2       0       0      "
                         "     1        1       3 ms");
}

TEST(PeersParamCheck, ValuesAreCheckedAgainstTheDeclarations)
{
    char szPath[] = "/tmp/zolt-params.XXXXXX";
    int hFile = mkstemp(szPath);
    ASSERT_GE(hFile, 0);
    close(hFile);
    std::ofstream(szPath) << "[Module]\nszParameterId[0][0]=PERCENT\nszParameterType[0][0]=float\n"
                             "iParameterMinValue[0][0]=0\niParameterMaxValue[0][0]=100\r\n"
                             "szParameterId[0][1]=COUNT\nszParameterType[0][1]=uint32\n"
                             "iParameterMaxValue[0][1]=10\nszParameterId[1][0]=OTHER\n";
    std::vector<PeersParamDef> vDefs;
    ASSERT_EQ(PeersReadParamDefs(szPath, 0, &vDefs), 0);
    unlink(szPath);
    ASSERT_EQ(vDefs.size(), 2u);
    EXPECT_EQ(vDefs[0].sMax, "100"); /* the CR of a CR LF line is not part of the value */
    struct Case {
        const char *szParam, *szError; /* "" valid */
    } aCases[] = {
        { "PERCENT,50.5", "" },
        { "percent,0", "" },
        { "COUNT,10", "" },
        { "PERCENT,100.01", "out of range; give 0 to 100" },
        { "PERCENT,-1", "out of range" },
        { "PERCENT,1e", "is not a float value" },
        { "PERCENT,", "is not a float value" },
        { "PERCENT,nan", "is not a float value" },
        { "COUNT,-1", "is not a uint32 value" },
        { "COUNT,2.5", "is not a uint32 value" },
        { "COUNT,11", "give any to 10" },
        { "OTHER,1", "test 0 has no such parameter; it takes PERCENT, COUNT" },
    };
    for (const Case &c : aCases) {
        std::string sError;
        EXPECT_EQ(PeersCheckParams(vDefs, 0, { c.szParam }, &sError), *c.szError ? 1 : 0)
            << c.szParam;
        EXPECT_NE(sError.find(c.szError), std::string::npos) << c.szParam << ": " << sError;
    }
    EXPECT_EQ(PeersReadParamDefs("/nonexistent/defs.ini", 0, &vDefs), 1);
}

TEST(PeersMachine, IdentityIsReadThroughItsPathsAndMissingItemsAreLeftOut)
{
    const PeersMachinePaths saved = g_PeersMachinePaths;
    struct Case {
        PeersMachinePaths paths;
        const char *szIdentity; /* id|serial|uuid|model name|family model stepping|microcode|
                                 * CPUs: the last one's place and microcode */
    } aCases[] = {
        { { ZOLT_FIXTURES "/machine/cpuinfo-two-packages.txt", ZOLT_FIXTURES "/machine/machine-id",
            ZOLT_FIXTURES "/machine/product_serial", ZOLT_FIXTURES "/machine/product_uuid" },
          "3d1219c7c4c5404aaa1f6d2a48adfd00|SN-4711|4c4c4544-0042-3510-8052-b4c04f4e3232|"
          "Test Processor 8000|6 85 4|0x2006e05|4: 3 1 1 66 0x2006e06" },
        { { "/nonexistent/cpuinfo", "/nonexistent/machine-id", /* unset by the maker; a folder */
            ZOLT_FIXTURES "/machine/product_serial-unset", ZOLT_FIXTURES "/machine" },
          "||||  ||0:" },
        { { ZOLT_FIXTURES "/cpu/cpuinfo-ht-two-sockets.txt", "/dev/null", "/dev/null",
            "/dev/null" }, /* not regular files; no microcode, no APIC ids */
          "|||Test CPU model 0|6 15 7||3: 2 0 3 -1 " },
    };
    for (const Case &c : aCases) {
        g_PeersMachinePaths = c.paths;
        PeersMachineInfo m;
        m.sSerial = "stale";
        PeersReadMachineInfo(&m);
        std::string s = m.sMachineId + "|" + m.sSerial + "|" + m.sUuid + "|" + m.sCpuModelName +
                        "|" + m.sCpuFamily + " " + m.sCpuModel + " " + m.sCpuStepping + "|" +
                        m.sMicrocode + "|" + std::to_string(m.vCpus.size()) + ":";
        if (!m.vCpus.empty()) {
            const PeersMachineCpu &cpu = m.vCpus.back();
            for (int i : { cpu.place.iCpu, cpu.place.iCore, cpu.place.iPackage, cpu.place.iApicId })
                s += " " + std::to_string(i);
            s += " " + cpu.sMicrocode;
        }
        EXPECT_EQ(s, c.szIdentity);
        EXPECT_FALSE(m.sKernel.empty());
        PeersRunInfo info; /* the json run-start names only what was read */
        info.machine = m;
        EXPECT_EQ(PeersJsonRunStart(info).find("\"system_serial\"") == std::string::npos,
                  m.sSerial.empty());
    }
    g_PeersMachinePaths = saved;
}

/* Each way a run can end, in each format: the text report's result line and hint, the json
 * record (its result word and outcome) and the ocptv step, whose fault is a diagnosis of the
 * CPU it ran on (one that dutInfo defines) and whose run trouble is an error. A fragment is
 * "<format>:<text>", or "<format>:!<text>" for a text that must not appear. */
TEST(PeersFormats, EachOutcomeInEachFormat)
{
    PeersOcptv oc;
    PeersOcptvInit(&oc);
    PeersRunInfo info;
    info.sHost = "h";
    info.vDevices.resize(2);
    info.vDevices[1].iId = 1;
    info.vDevices[0].sName = "CPU:0";
    info.vDevices[1].sName = "CPU:1";
    const PeersMachinePaths saved = g_PeersMachinePaths;
    g_PeersMachinePaths.szCpuInfo = ZOLT_FIXTURES "/machine/cpuinfo-two-packages.txt";
    PeersReadMachineInfo(&info.machine);
    g_PeersMachinePaths = saved;
    std::vector<std::string> vLines = PeersOcptvRunStart(&oc, info);
    EXPECT_EQ(vLines.at(0).rfind("{\"schemaVersion\":{\"major\":2,\"minor\":0},", 0), 0u);
    const std::string sStart = vLines.at(1);
    /* package 1 is the second device, with its own microcode; where a logical CPU is */
    EXPECT_TRUE(
        std::regex_search(sStart, std::regex("\"package-1\"[^}]*\"revision\":\"0x2006e06\"")));
    EXPECT_NE(
        sStart.find(
            "\"cpu-3\",\"name\":\"logical CPU 3\",\"location\":\"package 1 cpu 3 core 1 apic 66\""),
        std::string::npos)
        << sStart;
    struct Case {
        struct {
            const char *szWord; /* the word sent; null: no result */
            int bKilled, bConnected, iSignal, bInterrupted, iCpu; /* killed at the limit */
        } run;
        std::vector<const char *> vFragments;
    } aCases[] = {
        { { "PASS", 0, 1, 0, 0, -1 },
          { "json:\"result\":\"PASS\",\"outcome\":\"pass\"",
            "text:CPU:1  test 2 (MMX unit)  PASS  (7 ms)\n", "json:!\"cpu\"", "json:!\"signal\"",
            "ocptv:\"testStepEnd\":{\"status\":\"COMPLETE\"",
            "ocptv:\"type\":\"PASS\",\"message\":\"PASS\",\"hardwareInfoId\":\"package-1\"",
            "ocptv:\"error\":{\"symptom\":\"cpu-error-10\"" } },
        { { "FAIL", 0, 1, 0, 0, 3 },
          { "json:\"result\":\"FAIL\",\"outcome\":\"fail\"", "json:\"cpu\":{\"logical\":3,",
            "ocptv:\"testStepEnd\":{\"status\":\"COMPLETE\"",
            "ocptv:\"type\":\"FAIL\",\"message\":\"FAIL: bad\",\"hardwareInfoId\":\"cpu-3\"",
            "ocptv:\"log\":{\"severity\":\"ERROR\",\"message\":\"bad\"}", "ocptv:!\"error\"" } },
        { { nullptr, 0, 1, SIGSEGV, 0, 2 },
          { "json:\"result\":\"CRASHED\",\"outcome\":\"crashed\"", "text:  CRASHED (SIGSEGV)",
            "text:died by SIGSEGV while the test ran: a failure (a "
            "defective core gives such signals). Last events: ERROR 10: bad.",
            "json:\"signal\":\"SIGSEGV\"", "ocptv:\"testStepEnd\":{\"status\":\"COMPLETE\"",
            "ocptv:\"type\":\"FAIL\",\"message\":\"CRASHED: the module died by SIGSEGV",
            "ocptv:\"hardwareInfoId\":\"cpu-2\"", "ocptv:!\"error\"" } },
        { { nullptr, 1, 1, SIGKILL, 0, -1 },
          { "json:\"result\":\"HUNG\",\"outcome\":\"hung\"",
            "text:  HUNG (killed at the time limit)", "json:\"signal\":\"SIGKILL\"",
            "ocptv:\"testStepEnd\":{\"status\":\"COMPLETE\"",
            "ocptv:\"type\":\"FAIL\",\"message\":\"HUNG: did not end within its time limit",
            "ocptv:killed by SIGKILL while the test ran\",\"hardwareInfoId\":\"package-1\"",
            "ocptv:!\"error\"" } },
        { { "PRIVILEGEERROR", 0, 1, 0, 0, -1 },
          { "json:\"outcome\":\"not-tested\"",
            "text:CPU:1  test 2 (MMX unit)  PRIVILEGEERROR  (7 ms)\n", "text:CAP_IPC_LOCK",
            "ocptv:\"testStepEnd\":{\"status\":\"SKIP\"", "ocptv:!\"diagnosis\"",
            "ocptv:\"symptom\":\"module-privilegeerror\",\"message\":\"not tested: PRIVILEGEERROR" } },
        { { "NOTAPPLICABLE", 0, 1, 0, 0, -1 },
          { "json:\"outcome\":\"not-tested\"", "ocptv:\"testStepEnd\":{\"status\":\"SKIP\"",
            "ocptv:!\"diagnosis\"", "ocptv:\"symptom\":\"cpu-error-10\"",
            "ocptv:\"log\":{\"severity\":\"WARNING\",\"message\":\"not tested: NOTAPPLICABLE" } },
        { { "SETUPERROR", 0, 1, 0, 0, -1 },
          { "json:\"outcome\":\"not-tested\"", "ocptv:\"testStepEnd\":{\"status\":\"ERROR\"",
            "ocptv:!\"diagnosis\"", "ocptv:\"symptom\":\"module-setuperror\"" } },
        { { nullptr, 0, 0, 0, 0, -1 },
          { "json:\"result\":\"NOT-RUN\",\"outcome\":\"not-run\"",
            "text:  NOT RUN (no result from the module)",
            "text:The module never connected to the broker (exit status 29).",
            "ocptv:\"testStepEnd\":{\"status\":\"ERROR\"", "ocptv:!\"diagnosis\"",
            "ocptv:\"symptom\":\"module-never-connected\",\"message\":\"not tested: NOT-RUN" } },
        { { nullptr, 1, 0, 0, 0, -1 },
          { "json:\"result\":\"NOT-RUN\",\"outcome\":\"not-run\"",
            "text:  NOT RUN (killed at the time limit before its test began)" } },
        { { "BADPARAMS", 0, 1, 0, 0, -1 },
          { "json:\"outcome\":\"not-tested\"", "ocptv:\"testStepEnd\":{\"status\":\"ERROR\"" } },
        { { "DISCONTINUED", 0, 1, 0, 0, -1 }, { "json:\"outcome\":\"not-tested\"" } },
        { { "BUSY", 0, 1, 0, 0, -1 }, { "json:\"outcome\":\"not-tested\"" } },
        { { "NOMEDIA", 0, 1, 0, 0, -1 }, { "json:\"outcome\":\"not-tested\"" } },
        { { "", 0, 1, 0, 0, -1 }, { "json:\"outcome\":\"not-run\"" } }, /* a code without a word */
        { { "MAYBE", 0, 1, 0, 0, -1 },
          { "json:\"result\":\"MAYBE\",\"outcome\":\"not-run\"" } }, /* no word of the protocol */
        /* the operator interrupted; a signal before the module connected */
        { { nullptr, 1, 1, 0, 1, -1 },
          { "json:\"result\":\"KILLED\",\"outcome\":\"not-tested\"" } },
        { { nullptr, 0, 0, SIGILL, 0, -1 },
          { "json:\"result\":\"CRASHED\",\"outcome\":\"crashed\"" } },
    };
    int iStep = 0;
    for (const Case &c : aCases) {
        PeersInvocation inv;
        PeersInvocationInit(&inv, "run");
        inv.iTest = 2;
        inv.ullStartMs = 1000;
        inv.ullEndMs = 1007;
        inv.bResult = c.run.szWord != nullptr;
        inv.sResultWord = c.run.szWord ? c.run.szWord : "";
        inv.bKilled = c.run.bKilled;
        inv.bConnected = c.run.bConnected;
        inv.iSignal = c.run.iSignal;
        inv.bInterrupted = c.run.bInterrupted;
        inv.iExitStatus = 29;
        inv.vEvents = { PeersEvent{ "ERROR", "", "bad", 1, 10, "" } };
        PeersTestRun run = TestRun(&inv, PeersOutcomeOf(inv), "CPU:1", 2, 7, c.run.iCpu, 1);
        std::vector<std::string> v = PeersOcptvTestRun(&oc, run);
        std::map<std::string, std::string> out = {
            { "text", PeersResultLine(inv, "CPU:1") + "\n" + PeersResultHint(inv) },
            { "json", PeersJsonTestRun(run) },
        };
        for (const std::string &s : v)
            out["ocptv"] += s + "\n";
        SCOPED_TRACE(out["text"] + "\n" + out["json"] + "\n" + out["ocptv"]);
        EXPECT_NE(
            v.front().find("\"testStepId\":\"" + std::to_string(iStep++) + "\",\"testStepStart\""),
            std::string::npos);
        for (std::string sFragment : c.vFragments) {
            size_t uText = sFragment.find(':') + 1;
            bool bAbsent = sFragment[uText] == '!';
            EXPECT_EQ(out[sFragment.substr(0, uText - 1)].find(sFragment.substr(uText + bAbsent)) ==
                          std::string::npos,
                      bAbsent)
                << sFragment;
        }
        vLines.insert(vLines.end(), v.begin(), v.end());
    }
    struct EndCase {
        int iPassed, iFailed;
        const char *szError, *szEnd;
    } aEnds[] = {
        { 1, 1, "", "{\"status\":\"COMPLETE\",\"result\":\"FAIL\"}" },
        { 0, 0, "no module", "{\"status\":\"ERROR\",\"result\":\"NOT_APPLICABLE\"}" },
    };
    for (const EndCase &e : aEnds) {
        PeersRunEnd end = PeersRunEnd();
        end.iPassed = e.iPassed;
        end.iFailed = e.iFailed;
        end.sError = e.szError;
        std::vector<std::string> v = PeersOcptvRunEnd(&oc, end);
        EXPECT_NE(v.back().find(e.szEnd), std::string::npos) << v.back();
        EXPECT_EQ(v.size(), *e.szError ? 2u : 1u); /* the reason as an error first */
        EXPECT_EQ(v.front().find("\"message\":\"" + std::string(e.szError)) == std::string::npos,
                  !*e.szError);
        vLines.insert(vLines.end(), v.begin(), v.end());
    }
    for (size_t i = 0; i < vLines.size(); i++) /* consecutive from 0 */
        EXPECT_NE(vLines[i].find(",\"sequenceNumber\":" + std::to_string(i) + ","),
                  std::string::npos)
            << vLines[i];
}

/* A streak per device, logical CPU and test: identical passes and not-tested results are
 * counted, anything that differs ends it, a failure is never held. */
TEST(PeersFold, StreaksEndWhenARunDiffers)
{
    PeersInvocation pass, passInfo, fail, busy;
    PeersInvocationInit(&pass, "run");
    pass.bResult = 1;
    pass.sResultWord = "PASS";
    passInfo = pass;
    passInfo.vEvents.resize(1);
    passInfo.vEvents[0].sType = "INFO";
    passInfo.vEvents[0].sText = "other";
    fail = busy = pass;
    fail.sResultWord = "FAIL";
    busy.sResultWord = "BUSY";
    struct Case {
        const PeersInvocation *pInv;
        int iDevice, iCpu, iHeld, iEnded; /* PEERS_FOLD_*, streaks ended by it */
    } aCases[] = {
        { &pass, 0, -1, PEERS_FOLD_OPENED, 0 },   { &pass, 0, -1, PEERS_FOLD_ADDED, 0 },
        { &pass, 1, -1, PEERS_FOLD_OPENED, 0 }, /* another device: its own streak */
        { &pass, 0, 1, PEERS_FOLD_OPENED, 0 },  /* another logical CPU: its own streak */
        { &pass, 0, -1, PEERS_FOLD_ADDED, 0 },    { &passInfo, 0, -1, PEERS_FOLD_OPENED, 1 },
        { &fail, 0, -1, PEERS_FOLD_NOT_HELD, 1 }, { &busy, 0, -1, PEERS_FOLD_OPENED, 0 },
        { &busy, 0, -1, PEERS_FOLD_ADDED, 0 },
    };
    PeersFolder folder;
    std::vector<PeersFoldEntry> vEnded;
    long lLoop = 0;
    for (const Case &c : aCases) {
        SCOPED_TRACE(++lLoop);
        PeersTestRun run =
            TestRun(c.pInv, PeersOutcomeOf(*c.pInv), "CPU:0", 0, lLoop, c.iCpu, c.iDevice, lLoop);
        size_t uBefore = vEnded.size();
        EXPECT_EQ(PeersFoldOffer(&folder, run, &vEnded), c.iHeld);
        EXPECT_EQ(vEnded.size() - uBefore, (size_t)c.iEnded);
    }
    PeersFoldFlush(&folder, &vEnded);
    ASSERT_EQ(vEnded.size(), 5u); /* 3 passes, 1 other; device 1; CPU 1; busy x2 */
    const PeersTestRun &first = PeersFoldEntryRun(&vEnded[0]);
    EXPECT_EQ(first.fold.iCount, 3);
    EXPECT_EQ(first.fold.lLastLoop, 5);
    EXPECT_EQ(first.fold.ullMinMs, 1u);
    EXPECT_EQ(first.fold.ullMaxMs, 5u);
    EXPECT_EQ(PeersFoldEntryRun(&vEnded[4]).fold.iCount, 2);
    EXPECT_EQ(vEnded[4].inv.sResultWord, "BUSY");
}
