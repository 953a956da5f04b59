/* results.cpp - what the result formats are built from: UTF-8 repair, JSON
 * strings and times, event variables, outcomes and exit statuses, --param
 * checks against a definitions file, the ocptv artifacts' numbering and
 * status mapping, and the folding of identical runs. */
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "fold.h"
#include "json-text.h"
#include "param-check.h"
#include "results.h"

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
        { "\xF5", sRep },
        { "a\xE2\x82", "a" + sRep + sRep }, /* cut at the end */
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

TEST(PeersResults, OutcomesAndTheExitStatusTheyGive)
{
    struct Case {
        int bResult, bKilled;
        const char *szWord;
        int iOutcome;
    } aCases[] = {
        { 1, 0, "PASS", PEERS_OUTCOME_PASS },
        { 1, 0, "FAIL", PEERS_OUTCOME_FAIL },
        { 1, 0, "PRIVILEGEERROR", PEERS_OUTCOME_UNTESTED },
        { 1, 0, "NOTAPPLICABLE", PEERS_OUTCOME_UNTESTED },
        { 1, 0, "SETUPERROR", PEERS_OUTCOME_UNTESTED },
        { 1, 0, "BADPARAMS", PEERS_OUTCOME_UNTESTED },
        { 1, 0, "DISCONTINUED", PEERS_OUTCOME_UNTESTED },
        { 1, 0, "BUSY", PEERS_OUTCOME_UNTESTED },
        { 1, 0, "NOMEDIA", PEERS_OUTCOME_UNTESTED },
        { 1, 0, "", PEERS_OUTCOME_NOT_RUN },      /* a code without a word */
        { 1, 0, "MAYBE", PEERS_OUTCOME_NOT_RUN }, /* not a word of the protocol */
        { 0, 1, "", PEERS_OUTCOME_UNTESTED },     /* killed by --limit */
        { 0, 0, "", PEERS_OUTCOME_NOT_RUN },      /* died, never connected */
    };
    for (const Case &c : aCases) {
        PeersInvocation inv;
        PeersInvocationInit(&inv, "run");
        inv.bResult = c.bResult;
        inv.bKilled = c.bKilled;
        inv.sResultWord = c.szWord;
        EXPECT_EQ(PeersOutcomeOf(inv), c.iOutcome) << c.szWord << c.bKilled;
    }
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
    } aRuns[] = { { "CPU:0", 0, PEERS_OUTCOME_PASS, 3 },
                  { "CPU:1", 0, PEERS_OUTCOME_FAIL, 4 },
                  { "CPU:0", 0, PEERS_OUTCOME_PASS, 5 },
                  { "CPU:0", 3, PEERS_OUTCOME_UNTESTED, 1 },
                  { "CPU:0", 3, PEERS_OUTCOME_NOT_RUN, 2 } };
    for (const auto &r : aRuns)
        PeersRunEndAdd(
            &end,
            PeersTestRun{
                &inv, 0, r.iTest, r.szDevice, 1, "", r.ullMs, r.iOutcome, { -1, -1, -1, -1 }, {} });
    ASSERT_EQ(end.vTally.size(), 3u);
    EXPECT_EQ(end.vTally[0].iRuns, 2);
    EXPECT_EQ(end.vTally[0].iPassed, 2);
    EXPECT_EQ(end.vTally[0].ullMs, 8u);
    EXPECT_EQ(end.vTally[1].iFailed, 1);
    EXPECT_EQ(end.vTally[2].iUntested, 2); /* not run counts as not tested in the table */
    EXPECT_EQ(end.iUntested, 1);
    EXPECT_EQ(end.iNotRun, 1);
    std::vector<std::string> vTable = PeersTextTable(end);
    ASSERT_EQ(vTable.size(), 6u);
    EXPECT_EQ(vTable[1].rfind("Summary: 5 run(s)", 0), 0u) << vTable[1];
    EXPECT_NE(vTable[5].find("CPU:0    3 caches"), std::string::npos) << vTable[5];
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

TEST(PeersOcptv, ArtifactsAreNumberedAndStatusesMapped)
{
    PeersOcptv oc;
    PeersOcptvInit(&oc);
    PeersRunInfo info;
    info.sHost = "h";
    PeersDevice d;
    d.iId = 0;
    d.sName = "CPU:0";
    info.vDevices = { d };
    info.vVendors = { "" };
    std::vector<std::string> vLines = PeersOcptvRunStart(&oc, info);
    EXPECT_EQ(vLines.at(0).rfind("{\"schemaVersion\":{\"major\":2,\"minor\":0},", 0), 0u);
    EXPECT_EQ(vLines.at(1).find("manufacturer"), std::string::npos); /* vendor unknown */
    struct Case {
        int iOutcome;
        const char *szWord, *szStatus, *szDiagnosis; /* null: no diagnosis */
    } aCases[] = {
        { PEERS_OUTCOME_PASS, "PASS", "COMPLETE", "PASS" },
        { PEERS_OUTCOME_FAIL, "FAIL", "COMPLETE", "FAIL" },
        { PEERS_OUTCOME_UNTESTED, "PRIVILEGEERROR", "SKIP", nullptr },
        { PEERS_OUTCOME_UNTESTED, "SETUPERROR", "ERROR", nullptr },
        { PEERS_OUTCOME_NOT_RUN, "", "ERROR", nullptr },
    };
    int iStep = 0;
    for (const Case &c : aCases) {
        PeersInvocation inv;
        PeersInvocationInit(&inv, "run");
        inv.bResult = *c.szWord != '\0';
        inv.sResultWord = c.szWord;
        PeersEvent ev;
        ev.sType = "ERROR";
        ev.iCode = 10;
        ev.sEnglish = "bad";
        inv.vEvents = { ev };
        std::vector<std::string> v = PeersOcptvTestRun(
            &oc, PeersTestRun{ &inv, 0, 2, "CPU:0", 1, "", 7, c.iOutcome, { -1, -1, -1, -1 }, {} });
        std::string sAll;
        for (const std::string &s : v)
            sAll += s + "\n";
        SCOPED_TRACE(sAll);
        std::string sId = "\"testStepId\":\"" + std::to_string(iStep++) + "\"";
        EXPECT_NE(v.front().find(sId + ",\"testStepStart\""), std::string::npos);
        EXPECT_NE(sAll.find("\"error\":{\"symptom\":\"cpu-error-10\",\"message\":\"bad\""),
                  std::string::npos);
        EXPECT_NE(v.back().find("\"testStepEnd\":{\"status\":\"" + std::string(c.szStatus)),
                  std::string::npos);
        EXPECT_EQ(sAll.find("\"diagnosis\"") != std::string::npos, c.szDiagnosis != nullptr);
        if (c.szDiagnosis != nullptr) {
            EXPECT_NE(sAll.find("\"type\":\"" + std::string(c.szDiagnosis) + "\""),
                      std::string::npos);
        }
        vLines.insert(vLines.end(), v.begin(), v.end());
    }
    PeersRunEnd end = PeersRunEnd();
    end.iPassed = 1;
    end.iFailed = 1;
    vLines.push_back(PeersOcptvRunEnd(&oc, end));
    EXPECT_NE(vLines.back().find("{\"status\":\"COMPLETE\",\"result\":\"FAIL\"}"),
              std::string::npos);
    for (size_t i = 0; i < vLines.size(); i++) /* consecutive from 0 */
        EXPECT_NE(vLines[i].find(",\"sequenceNumber\":" + std::to_string(i) + ","),
                  std::string::npos)
            << vLines[i];
}

/* A streak per device and test: identical passes and not-tested results are
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
        int iDevice, iHeld, iEnded; /* PEERS_FOLD_*, streaks ended by it */
    } aCases[] = {
        { &pass, 0, PEERS_FOLD_OPENED, 0 },   { &pass, 0, PEERS_FOLD_ADDED, 0 },
        { &pass, 1, PEERS_FOLD_OPENED, 0 }, /* another device: its own streak */
        { &pass, 0, PEERS_FOLD_ADDED, 0 },    { &passInfo, 0, PEERS_FOLD_OPENED, 1 },
        { &fail, 0, PEERS_FOLD_NOT_HELD, 1 }, { &busy, 0, PEERS_FOLD_OPENED, 0 },
        { &busy, 0, PEERS_FOLD_ADDED, 0 },
    };
    PeersFolder folder;
    std::vector<PeersFoldEntry> vEnded;
    long lLoop = 0;
    for (const Case &c : aCases) {
        SCOPED_TRACE(++lLoop);
        PeersTestRun run{ c.pInv,
                          c.iDevice,
                          0,
                          "CPU:0",
                          lLoop,
                          "t",
                          (unsigned long long)lLoop,
                          PeersOutcomeOf(*c.pInv),
                          { -1, -1, -1, -1 },
                          {} };
        size_t uBefore = vEnded.size();
        EXPECT_EQ(PeersFoldOffer(&folder, run, &vEnded), c.iHeld);
        EXPECT_EQ(vEnded.size() - uBefore, (size_t)c.iEnded);
    }
    PeersFoldFlush(&folder, &vEnded);
    ASSERT_EQ(vEnded.size(), 4u); /* device 0: 3 passes, 1 other; device 1; device 0 busy x2 */
    const PeersTestRun &first = PeersFoldEntryRun(&vEnded[0]);
    EXPECT_EQ(first.fold.iCount, 3);
    EXPECT_EQ(first.fold.lLastLoop, 4);
    EXPECT_EQ(first.fold.ullMinMs, 1u);
    EXPECT_EQ(first.fold.ullMaxMs, 4u);
    EXPECT_EQ(PeersFoldEntryRun(&vEnded[3]).fold.iCount, 2);
    EXPECT_EQ(vEnded[3].inv.sResultWord, "BUSY");
}
