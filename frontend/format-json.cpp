/* format-json.cpp - the json result format, version 2: one object per line,
 * each with "format":"zoltpeers-results", "version":2 and its "record"
 * (run-start, test, sysinfo, validation, run-end). The schema is
 * docs/zoltpeers-results.schema.json; docs/zoltpeers-results.md explains it. */
#include "format-ops.h"
#include "json-text.h"
#include "report.h"
#include "results.h"

/* The opening of every record. */
static std::string Head(const char *szRecord)
{
    return std::string("{\"format\":\"zoltpeers-results\",\"version\":2,\"record\":\"") + szRecord +
           "\"";
}

/* "key":"text" with a leading comma. */
static std::string Pair(const char *szKey, const std::string &sValue)
{
    return std::string(",\"") + szKey + "\":" + PeersJsonString(sValue);
}

/* JSON array of the test numbers a device offers. */
static std::string TestsArray(const PeersDevice &d)
{
    std::string s = "[";
    for (int iTest : PeersSupportedTests(d.sTests))
        s += (s.size() > 1 ? "," : "") + std::to_string(iTest);
    return s + "]";
}

/* "key":"text" with a leading comma, or "" for an empty text. */
static std::string OptPair(const char *szKey, const std::string &sValue)
{
    return sValue.empty() ? "" : Pair(szKey, sValue);
}

/* The machine's identity: only what could be read. */
static std::string MachineObject(const PeersMachineInfo &m)
{
    std::string s = OptPair("host", m.sHost) + OptPair("machine_id", m.sMachineId) +
                    OptPair("system_serial", m.sSerial) + OptPair("system_uuid", m.sUuid) +
                    OptPair("kernel", m.sKernel) + OptPair("cpu_model_name", m.sCpuModelName) +
                    OptPair("cpu_family", m.sCpuFamily) + OptPair("cpu_model", m.sCpuModel) +
                    OptPair("cpu_stepping", m.sCpuStepping) + OptPair("microcode", m.sMicrocode);
    return "{" + (s.empty() ? s : s.substr(1)) + "}";
}

std::string PeersJsonRunStart(const PeersRunInfo &info)
{
    std::string s = Head("run-start") + Pair("command", info.sCommand) +
                    Pair("command_line", info.sCommandLine) + Pair("host", info.sHost) +
                    Pair("time", info.sStartTime) + Pair("zoltpeers_version", ZOLT_PEERS_VERSION) +
                    Pair("module_version", info.sModuleVersion) + Pair("module", info.sModule) +
                    Pair("definitions", info.sDefFile) +
                    ",\"machine\":" + MachineObject(info.machine) + ",\"devices\":[";
    for (size_t i = 0; i < info.vDevices.size(); i++) {
        const PeersDevice &d = info.vDevices[i];
        s += std::string(i ? "," : "") + "{\"id\":" + std::to_string(d.iId) +
             Pair("name", d.sName) + Pair("description", d.sDescription) +
             Pair("hwlocator", d.sHwLocator) + ",\"tests\":" + TestsArray(d) + "}";
    }
    return s + "]}";
}

/* JSON array of the events of a run (percent values go to "percents"). */
static std::string EventsArray(const PeersInvocation &inv)
{
    std::string s = "[";
    for (const PeersEvent &ev : inv.vEvents) {
        if (ev.sType == "PERCENTDONE")
            continue;
        std::string sTag;
        std::string sVars = PeersEventVariablesJson(ev.sText, &sTag);
        s += std::string(s.size() > 1 ? "," : "") + "{\"kind\":" + PeersJsonString(ev.sType) +
             ",\"number\":" + (ev.bHasCode ? std::to_string(ev.iCode) : "null") +
             ",\"tag\":" + (sTag.empty() ? "null" : PeersJsonString(sTag)) +
             Pair("text", ev.sEnglish.empty() ? ev.sText : ev.sEnglish) +
             ",\"variables\":" + sVars + "}";
    }
    return s + "]";
}

/* ,"cpu":{...} where the run was placed on one logical CPU; "" otherwise. */
static std::string CpuPlace(const PeersCpuPlace &place)
{
    if (place.iCpu < 0)
        return "";
    auto Num = [](int i) { return i < 0 ? std::string("null") : std::to_string(i); };
    return ",\"cpu\":{\"logical\":" + Num(place.iCpu) + ",\"core\":" + Num(place.iCore) +
           ",\"package\":" + Num(place.iPackage) + ",\"apic_id\":" + Num(place.iApicId) + "}";
}

std::string PeersJsonTestRun(const PeersTestRun &run)
{
    const PeersInvocation &inv = *run.pInv;
    static const char *const s_apszOutcomes[] = { "pass",    "fail",    "not-tested",
                                                  "not-run", "crashed", "hung" };
    std::string s =
        Head("test") + ",\"device_id\":" + std::to_string(run.iDevice) +
        Pair("device_name", run.sDevice) + ",\"test\":" + std::to_string(run.iTest) +
        Pair("test_name", PeersTestName(run.iTest)) + ",\"loop\":" + std::to_string(run.lLoop) +
        Pair("result", PeersResultWordOf(inv)) + Pair("outcome", s_apszOutcomes[run.iOutcome % 6]) +
        Pair("start", run.sStartTime) + ",\"duration_ms\":" + std::to_string(run.ullDurationMs) +
        ",\"percents\":[";
    for (size_t i = 0; i < inv.vPercents.size(); i++)
        s += (i ? "," : "") + std::to_string(inv.vPercents[i]);
    s += "],\"events\":" + EventsArray(inv) +
         ",\"module_exit_status\":" + std::to_string(inv.iExitStatus) +
         ",\"killed\":" + (inv.bKilled ? "true" : "false") + CpuPlace(run.place);
    if (inv.iSignal > 0)
        s += Pair("signal", PeersSignalName(inv.iSignal));
    if (run.iRetest > 0)
        s += ",\"retest\":" + std::to_string(run.iRetest);
    if (run.iReproduced >= 0)
        s += std::string(",\"reproduced\":") + (run.iReproduced ? "true" : "false");
    if (!inv.sModuleOutput.empty())
        s += Pair("module_output", inv.sModuleOutput);
    if (run.fold.iCount > 1) /* identical passes folded into this record */
        s += ",\"count\":" + std::to_string(run.fold.iCount) +
             Pair("last_start", run.fold.sLastStart) +
             ",\"last_loop\":" + std::to_string(run.fold.lLastLoop) +
             ",\"duration_ms_min\":" + std::to_string(run.fold.ullMinMs) +
             ",\"duration_ms_max\":" + std::to_string(run.fold.ullMaxMs);
    return s + "}";
}

std::string PeersJsonSysInfo(const PeersInvocation &inv)
{
    std::string s = Head("sysinfo") + ",\"device_id\":" + std::to_string(inv.iDevice) +
                    ",\"answered\":" + (inv.bSysInfo ? "true" : "false") + ",\"items\":[";
    for (size_t i = 0; i < inv.vSysInfo.size(); i++) {
        const PeersSysInfoItem &it = inv.vSysInfo[i];
        s += std::string(i ? "," : "") + "{\"key\":" + PeersJsonString(it.sKey) +
             Pair("description", it.sDescription) + ",\"values\":[";
        for (size_t v = 0; v < it.vValues.size(); v++)
            s += (v ? "," : "") + PeersJsonString(it.vValues[v]);
        s += "]}";
    }
    return s + "],\"module_exit_status\":" + std::to_string(inv.iExitStatus) + "}";
}

std::string PeersJsonValidation(const PeersInvocation &inv, const char *szCheck)
{
    std::string s = Head("validation") + ",\"device_id\":" + std::to_string(inv.iDevice) +
                    ",\"test\":" + std::to_string(inv.iTest) + Pair("check", szCheck) +
                    ",\"answered\":" + (inv.bValidation ? "true" : "false") + ",\"parameters\":[";
    for (size_t i = 0; i < inv.vParams.size(); i++) {
        const PeersParamResult &p = inv.vParams[i];
        s += std::string(i ? "," : "") + "{\"id\":" + PeersJsonString(p.sId) +
             Pair("valid", p.sValidFlag) + (p.bHasMin ? Pair("min", p.sMin) : "") +
             (p.bHasMax ? Pair("max", p.sMax) : "") + "}";
    }
    return s + "],\"module_exit_status\":" + std::to_string(inv.iExitStatus) + "}";
}

std::string PeersJsonRunEnd(const PeersRunEnd &end)
{
    std::string s = Head("run-end") + Pair("time", PeersRfc3339Now()) +
                    ",\"duration_ms\":" + std::to_string(end.ullDurationMs) +
                    ",\"loops\":" + std::to_string(end.lLoops) + ",\"summary\":{\"runs\":" +
                    std::to_string(end.iPassed + end.iFailed + end.iUntested + end.iNotRun) +
                    ",\"passed\":" + std::to_string(end.iPassed) +
                    ",\"failed\":" + std::to_string(end.iFailed) +
                    ",\"not_tested\":" + std::to_string(end.iUntested) +
                    ",\"not_run\":" + std::to_string(end.iNotRun) + "}";
    if (!end.sStopReason.empty())
        s += Pair("stopped", end.sStopReason);
    if (!end.sError.empty())
        s += Pair("error", end.sError);
    return s + ",\"exit_status\":" + std::to_string(end.iExitStatus) + "}";
}

/* ---- the writers of the format table ---- */

static void JsonRunStart(const PeersRunInfo &info)
{
    PeersReportRecord(PeersJsonRunStart(info));
}

static void JsonTestRun(const PeersTestRun &run)
{
    PeersReportRecord(PeersJsonTestRun(run));
}

static void JsonSysInfo(const PeersInvocation &inv)
{
    PeersReportRecord(PeersJsonSysInfo(inv));
}

static void JsonValidation(const PeersInvocation &inv, const char *szCheck)
{
    PeersReportRecord(PeersJsonValidation(inv, szCheck));
}

static void JsonRunEnd(const PeersRunEnd &end)
{
    PeersReportRecord(PeersJsonRunEnd(end));
}

extern const PeersFormatOps g_PeersJsonOps = { JsonRunStart, JsonTestRun, JsonSysInfo,
                                               JsonValidation, JsonRunEnd };
