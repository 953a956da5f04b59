/* format-ocptv.cpp - the ocptv result format: the artifacts of the OCP Test
 * and Validation output format 2.0, one JSON object per line, each with its
 * sequenceNumber (consecutive from 0) and timestamp. One test step per
 * device, test and loop; only keys the format defines. A fault the test found
 * (FAIL, a crash or a hang while it ran) is a FAIL diagnosis of the CPU it ran
 * on; what kept a test from running is an error artifact. */
#include <algorithm>
#include <set>

#include "format-ops.h"
#include "json-text.h"
#include "report.h"
#include "results.h"

void PeersOcptvInit(PeersOcptv *pOc)
{
    pOc->lSequence = 0;
    pOc->iNextStep = 0;
}

/* One artifact line: {"<szKind>":sBody,"sequenceNumber":n,"timestamp":t}. */
static std::string Artifact(PeersOcptv *pOc, const char *szKind, const std::string &sBody)
{
    return std::string("{\"") + szKind + "\":" + sBody +
           ",\"sequenceNumber\":" + std::to_string(pOc->lSequence++) +
           ",\"timestamp\":" + PeersJsonString(PeersRfc3339Now()) + "}";
}

/* ",\"key\":\"text\"", or "" for an empty text. */
static std::string Opt(const char *szKey, const std::string &sValue)
{
    return sValue.empty() ? "" : std::string(",\"") + szKey + "\":" + PeersJsonString(sValue);
}

/* The logical CPUs of package iPackage in the processor table (all of them
 * when iPackage is -1). */
static std::vector<const PeersMachineCpu *> CpusOf(const PeersMachineInfo &m, int iPackage)
{
    std::vector<const PeersMachineCpu *> v;
    for (const PeersMachineCpu &c : m.vCpus)
        if (iPackage < 0 || c.place.iPackage == iPackage)
            v.push_back(&c);
    return v;
}

/* The package of the processor table that device number i (in enumeration
 * order) stands for: the i-th package id when the counts agree, else -1. */
static int PackageOfDevice(const PeersRunInfo &info, size_t i)
{
    std::set<int> packages;
    for (const PeersMachineCpu &c : info.machine.vCpus)
        packages.insert(c.place.iPackage);
    if (packages.size() != info.vDevices.size() || packages.count(-1) != 0)
        return -1;
    return *std::next(packages.begin(), (long)i);
}

/* The hardwareInfo of one device (a processor package). */
static std::string PackageInfo(const PeersRunInfo &info, size_t i)
{
    const PeersDevice &d = info.vDevices[i];
    const PeersMachineInfo &m = info.machine;
    std::vector<const PeersMachineCpu *> vCpus = CpusOf(m, PackageOfDevice(info, i));
    std::string sVendor, sModel = m.sCpuModelName, sMicrocode = m.sMicrocode;
    if (!vCpus.empty()) {
        sVendor = vCpus[0]->sVendor;
        sModel = vCpus[0]->sModelName;
        sMicrocode = vCpus[0]->sMicrocode;
    }
    std::string sVersion;
    if (!m.sCpuFamily.empty() && !m.sCpuModel.empty() && !m.sCpuStepping.empty())
        sVersion =
            "family " + m.sCpuFamily + " model " + m.sCpuModel + " stepping " + m.sCpuStepping;
    return "{\"hardwareInfoId\":" + PeersJsonString(PeersOcptvPackageId(d.iId)) +
           ",\"name\":" + PeersJsonString(d.sName) + Opt("location", d.sHwLocator) +
           Opt("manufacturer", sVendor) + Opt("partNumber", sModel) + Opt("version", sVersion) +
           Opt("revision", sMicrocode) + ",\"partType\":\"processor package\"}";
}

/* The hardwareInfo of one logical CPU. */
static std::string CpuInfo(const PeersMachineCpu &c)
{
    const PeersCpuPlace &p = c.place;
    std::string sLocation = "cpu " + std::to_string(p.iCpu);
    if (p.iPackage >= 0)
        sLocation = "package " + std::to_string(p.iPackage) + " " + sLocation;
    if (p.iCore >= 0)
        sLocation += " core " + std::to_string(p.iCore);
    if (p.iApicId >= 0)
        sLocation += " apic " + std::to_string(p.iApicId);
    return "{\"hardwareInfoId\":" + PeersJsonString(PeersOcptvCpuId(p.iCpu)) +
           ",\"name\":" + PeersJsonString("logical CPU " + std::to_string(p.iCpu)) +
           ",\"location\":" + PeersJsonString(sLocation) + Opt("manufacturer", c.sVendor) +
           Opt("partNumber", c.sModelName) + Opt("revision", c.sMicrocode) +
           ",\"partType\":\"logical CPU\"}";
}

/* The dutInfo object: the machine, one hardwareInfo per package (device)
 * and per logical CPU, the programs and the kernel. */
static std::string DutInfo(const PeersRunInfo &info)
{
    const PeersMachineInfo &m = info.machine;
    std::string sId = m.sMachineId.empty() ? info.sHost : m.sMachineId;
    std::string s = "{\"dutInfoId\":" + PeersJsonString(sId) +
                    ",\"name\":" + PeersJsonString(info.sHost) + ",\"hardwareInfos\":[";
    for (size_t i = 0; i < info.vDevices.size(); i++)
        s += (i ? "," : "") + PackageInfo(info, i);
    for (size_t i = 0; i < m.vCpus.size(); i++)
        s += (i || !info.vDevices.empty() ? "," : "") + CpuInfo(m.vCpus[i]);
    s += "],\"softwareInfos\":[{\"softwareInfoId\":\"zoltpeers\",\"name\":\"zoltpeers\","
         "\"version\":" +
         PeersJsonString(ZOLT_PEERS_VERSION) +
         ",\"softwareType\":\"APPLICATION\"},{\"softwareInfoId\":\"module\",\"name\":" +
         PeersJsonString(info.sModule) + Opt("version", info.sModuleVersion) +
         ",\"softwareType\":\"APPLICATION\"}";
    if (!m.sKernel.empty())
        s += ",{\"softwareInfoId\":\"kernel\",\"name\":\"Linux\",\"version\":" +
             PeersJsonString(m.sKernel) + ",\"softwareType\":\"SYSTEM\"}";
    std::string sMeta = Opt("machineId", m.sMachineId) + Opt("systemSerialNumber", m.sSerial) +
                        Opt("systemUuid", m.sUuid);
    if (!sMeta.empty())
        sMeta = ",\"metadata\":{" + sMeta.substr(1) + "}";
    return s + "],\"platformInfos\":[{\"info\":\"Linux x86\"}]" + sMeta + "}";
}

std::string PeersOcptvPackageId(int iDevice)
{
    return "package-" + std::to_string(iDevice);
}

std::string PeersOcptvCpuId(int iCpu)
{
    return "cpu-" + std::to_string(iCpu);
}

std::vector<std::string> PeersOcptvRunStart(PeersOcptv *pOc, const PeersRunInfo &info)
{
    std::vector<std::string> v;
    v.push_back(Artifact(pOc, "schemaVersion", "{\"major\":2,\"minor\":0}"));
    std::string sStart = "{\"testRunStart\":{\"name\":\"zoltcpu\",\"version\":" +
                         PeersJsonString(info.sModuleVersion) +
                         ",\"commandLine\":" + PeersJsonString("zoltpeers " + info.sCommandLine) +
                         ",\"parameters\":{\"command\":" + PeersJsonString(info.sCommand) +
                         ",\"definitions\":" + PeersJsonString(info.sDefFile) +
                         "},\"dutInfo\":" + DutInfo(info) + "}}";
    v.push_back(Artifact(pOc, "testRunArtifact", sStart));
    return v;
}

std::string PeersOcptvRunLog(PeersOcptv *pOc, const char *szSeverity, const std::string &sText)
{
    return Artifact(pOc, "testRunArtifact",
                    std::string("{\"log\":{\"severity\":\"") + szSeverity +
                        "\",\"message\":" + PeersJsonString(sText) + "}}");
}

/* A testStepArtifact of step sStep holding "<szKind>":sBody. */
static std::string Step(PeersOcptv *pOc, const std::string &sStep, const char *szKind,
                        const std::string &sBody)
{
    return Artifact(pOc, "testStepArtifact",
                    "{\"testStepId\":" + PeersJsonString(sStep) + ",\"" + szKind + "\":" + sBody +
                        "}");
}

/* The body of an error artifact: a trouble of the tool or the run. */
static std::string ErrorBody(const std::string &sSymptom, const std::string &sMessage)
{
    return "{\"symptom\":" + PeersJsonString(sSymptom) +
           ",\"message\":" + PeersJsonString(sMessage) +
           ",\"softwareInfoIds\":[\"zoltpeers\",\"module\"]}";
}

/* Whether an outcome is a fault of the hardware under test. */
static bool IsFault(int iOutcome)
{
    return iOutcome == PEERS_OUTCOME_FAIL || iOutcome == PEERS_OUTCOME_CRASHED ||
           iOutcome == PEERS_OUTCOME_HUNG;
}

/* The log artifacts of a run's events, the module's errors among them: part
 * of the finding in a failed run (severity ERROR), else error artifacts. */
static void EventArtifacts(PeersOcptv *pOc, const std::string &sStep, const PeersTestRun &run,
                           std::vector<std::string> &v)
{
    for (const PeersEvent &ev : run.pInv->vEvents) {
        std::string sText = ev.sEnglish.empty() ? ev.sText : ev.sEnglish;
        if (ev.sType == "ERROR" && !IsFault(run.iOutcome))
            v.push_back(Step(pOc, sStep, "error",
                             ErrorBody("cpu-error-" + std::to_string(ev.iCode), sText)));
        else if (ev.sType == "ERROR" || ev.sType == "WARN" || ev.sType == "INFO" ||
                 ev.sType == "PROGRESS")
            v.push_back(Step(
                pOc, sStep, "log",
                std::string("{\"severity\":\"") +
                    (ev.sType == "ERROR" ? "ERROR" : (ev.sType == "WARN" ? "WARNING" : "INFO")) +
                    "\",\"message\":" + PeersJsonString(sText) + "}"));
    }
}

/* The diagnosis of a run that tested: its verdict, type and what failed. */
static std::string Diagnosis(const PeersTestRun &run, const std::string &sHw)
{
    const PeersInvocation &inv = *run.pInv;
    static const char *const s_apszVerdict[] = { "pass", "fail", "", "", "crashed", "hung" };
    std::string sMessage = PeersResultWordOf(inv);
    if (run.iOutcome == PEERS_OUTCOME_CRASHED || run.iOutcome == PEERS_OUTCOME_HUNG)
        sMessage += std::string(run.iOutcome == PEERS_OUTCOME_HUNG
                                    ? ": did not end within its time limit and was killed by "
                                    : ": the module died by ") +
                    PeersSignalName(inv.iSignal) + " while the test ran";
    for (const PeersEvent &ev : inv.vEvents)
        if (ev.sType == "ERROR" && run.iOutcome == PEERS_OUTCOME_FAIL) {
            sMessage += ": " + (ev.sEnglish.empty() ? ev.sText : ev.sEnglish);
            break;
        }
    return "{\"verdict\":" +
           PeersJsonString("cpu-test-" + std::to_string(run.iTest) + "-" +
                           s_apszVerdict[run.iOutcome]) +
           ",\"type\":\"" + (run.iOutcome == PEERS_OUTCOME_PASS ? "PASS" : "FAIL") +
           "\",\"message\":" + PeersJsonString(sMessage) + ",\"hardwareInfoId\":" + sHw +
           ",\"subcomponent\":{\"type\":\"FUNCTION\",\"name\":" +
           PeersJsonString(PeersTestName(run.iTest)) + "}}";
}

/* The error artifact's symptom of a run that did not test (not a word the
 * test gives for "not applicable"). */
static std::string UntestedSymptom(const PeersInvocation &inv)
{
    if (inv.bInterrupted)
        return "interrupted";
    if (inv.bStartFailed)
        return "module-not-started";
    if (!inv.bResult && !inv.bConnected)
        return inv.bKilled ? "module-killed" : "module-never-connected";
    if (!inv.bResult)
        return inv.bKilled ? "module-killed" : "protocol-failure";
    if (inv.sResultWord.empty())
        return "protocol-failure";
    std::string s = inv.sResultWord;
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return tolower(c); });
    return "module-" + s;
}

/* The artifacts of a run that tested nothing; returns the step's status. */
static const char *Untested(PeersOcptv *pOc, const std::string &sStep, const PeersTestRun &run,
                            std::vector<std::string> &v)
{
    const PeersInvocation &inv = *run.pInv;
    std::string sWhy = PeersResultHint(inv);
    sWhy = "not tested: " + PeersResultWordOf(inv) + (sWhy.empty() ? "" : " (" + sWhy + ")");
    if (inv.sResultWord == "NOTAPPLICABLE") {
        v.push_back(Step(pOc, sStep, "log",
                         "{\"severity\":\"WARNING\",\"message\":" + PeersJsonString(sWhy) + "}"));
        return "SKIP";
    }
    v.push_back(Step(pOc, sStep, "error", ErrorBody(UntestedSymptom(inv), sWhy)));
    bool bSkip = run.iOutcome == PEERS_OUTCOME_UNTESTED && inv.sResultWord != "SETUPERROR" &&
                 inv.sResultWord != "BADPARAMS";
    return bSkip ? "SKIP" : "ERROR";
}

std::vector<std::string> PeersOcptvTestRun(PeersOcptv *pOc, const PeersTestRun &run)
{
    std::vector<std::string> v;
    std::string sStep = std::to_string(pOc->iNextStep++);
    std::string sHw = PeersJsonString(run.place.iCpu >= 0 ? PeersOcptvCpuId(run.place.iCpu)
                                                          : PeersOcptvPackageId(run.iDevice));
    std::string sName = run.sDevice + " test " + std::to_string(run.iTest) + " (" +
                        PeersTestName(run.iTest) + ") loop " + std::to_string(run.lLoop);
    if (run.place.iCpu >= 0)
        sName += " on logical CPU " + std::to_string(run.place.iCpu);
    v.push_back(Step(pOc, sStep, "testStepStart", "{\"name\":" + PeersJsonString(sName) + "}"));
    EventArtifacts(pOc, sStep, run, v);
    if (run.fold.iCount > 1) /* --fold: this step stands for identical passes */
        v.push_back(Step(
            pOc, sStep, "log",
            "{\"severity\":\"INFO\",\"message\":" +
                PeersJsonString(
                    "folded " + std::to_string(run.fold.iCount) + " identical passes, loops " +
                    std::to_string(run.lLoop) + "-" + std::to_string(run.fold.lLastLoop) + ", " +
                    std::to_string(run.fold.ullMinMs) + "-" + std::to_string(run.fold.ullMaxMs) +
                    " ms, last at " + run.fold.sLastStart) +
                "}"));
    v.push_back(Step(pOc, sStep, "measurement",
                     "{\"name\":\"duration\",\"value\":" + std::to_string(run.ullDurationMs) +
                         ",\"unit\":\"ms\",\"hardwareInfoId\":" + sHw + "}"));
    const char *szStatus = "COMPLETE";
    if (run.iOutcome == PEERS_OUTCOME_PASS || IsFault(run.iOutcome))
        v.push_back(Step(pOc, sStep, "diagnosis", Diagnosis(run, sHw)));
    else
        szStatus = Untested(pOc, sStep, run, v);
    v.push_back(Step(pOc, sStep, "testStepEnd", std::string("{\"status\":\"") + szStatus + "\"}"));
    return v;
}

std::vector<std::string> PeersOcptvRunEnd(PeersOcptv *pOc, const PeersRunEnd &end)
{
    std::vector<std::string> v;
    if (!end.sError.empty())
        v.push_back(Artifact(pOc, "testRunArtifact",
                             "{\"error\":" + ErrorBody("module-not-run", end.sError) + "}"));
    if (end.sStopReason == "interrupted")
        v.push_back(Artifact(
            pOc, "testRunArtifact",
            "{\"error\":" + ErrorBody("interrupted", "stopped by a signal to zoltpeers") + "}"));
    const char *szResult = "PASS";
    if (end.iFailed > 0)
        szResult = "FAIL";
    else if (end.iNotRun > 0 || end.iUntested > 0 || end.iPassed == 0)
        szResult = "NOT_APPLICABLE";
    const char *szStatus =
        end.iNotRun > 0 || !end.sError.empty() || end.sStopReason == "interrupted" ? "ERROR"
                                                                                   : "COMPLETE";
    v.push_back(Artifact(pOc, "testRunArtifact",
                         std::string("{\"testRunEnd\":{\"status\":\"") + szStatus +
                             "\",\"result\":\"" + szResult + "\"}}"));
    return v;
}

/* ---- the writers of the format table: one artifact sequence per command ---- */

static PeersOcptv g_PeersOcptv;

/* Writes each line. */
static void Lines(const std::vector<std::string> &v)
{
    for (const std::string &s : v)
        PeersReportRecord(s);
}

static void OcptvRunStart(const PeersRunInfo &info)
{
    PeersOcptvInit(&g_PeersOcptv);
    Lines(PeersOcptvRunStart(&g_PeersOcptv, info));
}

static void OcptvTestRun(const PeersTestRun &run)
{
    Lines(PeersOcptvTestRun(&g_PeersOcptv, run));
}

/* One INFO log per item: "KEY: value, value". */
static void OcptvSysInfo(const PeersInvocation &inv)
{
    for (const PeersSysInfoItem &it : inv.vSysInfo) {
        std::string sValues;
        for (const std::string &v : it.vValues)
            sValues += (sValues.empty() ? "" : ", ") + v;
        PeersReportRecord(PeersOcptvRunLog(&g_PeersOcptv, "INFO", it.sKey + ": " + sValues));
    }
}

static void OcptvRunEnd(const PeersRunEnd &end)
{
    Lines(PeersOcptvRunEnd(&g_PeersOcptv, end));
}

extern const PeersFormatOps g_PeersOcptvOps = { OcptvRunStart, OcptvTestRun, OcptvSysInfo, nullptr,
                                                OcptvRunEnd };
