/* format-ocptv.cpp - the ocptv result format: the artifacts of the OCP Test
 * and Validation output format 2.0, one JSON object per line, each with its
 * sequenceNumber (consecutive from 0) and timestamp. One test step per
 * device, test and loop; only keys the format defines. */
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

/* The hardwareInfoId of a device. */
static std::string HardwareId(int iDevice)
{
    return "cpu" + std::to_string(iDevice);
}

/* The dutInfo object: the host, one hardwareInfo per device, two softwareInfos. */
static std::string DutInfo(const PeersRunInfo &info)
{
    std::string s = "{\"dutInfoId\":" + PeersJsonString(info.sHost) +
                    ",\"name\":" + PeersJsonString(info.sHost) + ",\"hardwareInfos\":[";
    for (size_t i = 0; i < info.vDevices.size(); i++) {
        const PeersDevice &d = info.vDevices[i];
        std::string sVendor = i < info.vVendors.size() ? info.vVendors[i] : "";
        s += std::string(i ? "," : "") +
             "{\"hardwareInfoId\":" + PeersJsonString(HardwareId(d.iId)) +
             ",\"name\":" + PeersJsonString(d.sName) +
             ",\"location\":" + PeersJsonString(d.sHwLocator) +
             (sVendor.empty() ? "" : ",\"manufacturer\":" + PeersJsonString(sVendor)) + "}";
    }
    s += "],\"softwareInfos\":[{\"softwareInfoId\":\"zoltpeers\",\"name\":\"zoltpeers\","
         "\"version\":" +
         PeersJsonString(ZOLT_PEERS_VERSION) +
         ",\"softwareType\":\"APPLICATION\"},{\"softwareInfoId\":\"module\",\"name\":" +
         PeersJsonString(info.sModule) + ",\"version\":" + PeersJsonString(info.sModuleVersion) +
         ",\"softwareType\":\"APPLICATION\"}]";
    return s + ",\"platformInfos\":[{\"info\":\"Linux x86\"}]}";
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

/* The log and error artifacts of a run's events. */
static void EventArtifacts(PeersOcptv *pOc, const std::string &sStep, const PeersTestRun &run,
                           std::vector<std::string> &v)
{
    for (const PeersEvent &ev : run.pInv->vEvents) {
        std::string sText = ev.sEnglish.empty() ? ev.sText : ev.sEnglish;
        if (ev.sType == "ERROR")
            v.push_back(
                Step(pOc, sStep, "error",
                     "{\"symptom\":" + PeersJsonString("cpu-error-" + std::to_string(ev.iCode)) +
                         ",\"message\":" + PeersJsonString(sText) +
                         ",\"softwareInfoIds\":[\"module\"]}"));
        else if (ev.sType == "WARN" || ev.sType == "INFO" || ev.sType == "PROGRESS")
            v.push_back(Step(pOc, sStep, "log",
                             std::string("{\"severity\":\"") +
                                 (ev.sType == "WARN" ? "WARNING" : "INFO") +
                                 "\",\"message\":" + PeersJsonString(sText) + "}"));
    }
}

std::vector<std::string> PeersOcptvTestRun(PeersOcptv *pOc, const PeersTestRun &run)
{
    std::vector<std::string> v;
    std::string sStep = std::to_string(pOc->iNextStep++);
    std::string sHw = PeersJsonString(HardwareId(run.iDevice));
    std::string sName = run.sDevice + " test " + std::to_string(run.iTest) + " (" +
                        PeersTestName(run.iTest) + ") loop " + std::to_string(run.lLoop);
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
    const char *szStatus = "ERROR";
    if (run.iOutcome == PEERS_OUTCOME_PASS || run.iOutcome == PEERS_OUTCOME_FAIL) {
        int bPass = run.iOutcome == PEERS_OUTCOME_PASS;
        v.push_back(Step(pOc, sStep, "diagnosis",
                         "{\"verdict\":" +
                             PeersJsonString("cpu-test-" + std::to_string(run.iTest) +
                                             (bPass ? "-pass" : "-fail")) +
                             ",\"type\":\"" + (bPass ? "PASS" : "FAIL") +
                             "\",\"message\":" + PeersJsonString(PeersResultWordOf(*run.pInv)) +
                             ",\"hardwareInfoId\":" + sHw + "}"));
        szStatus = "COMPLETE";
    } else if (run.iOutcome == PEERS_OUTCOME_UNTESTED && run.pInv->sResultWord != "SETUPERROR") {
        v.push_back(Step(pOc, sStep, "log",
                         "{\"severity\":\"WARNING\",\"message\":" +
                             PeersJsonString("not tested: " + PeersResultWordOf(*run.pInv)) + "}"));
        szStatus = "SKIP";
    }
    v.push_back(Step(pOc, sStep, "testStepEnd", std::string("{\"status\":\"") + szStatus + "\"}"));
    return v;
}

std::string PeersOcptvRunEnd(PeersOcptv *pOc, const PeersRunEnd &end)
{
    const char *szResult = "PASS";
    if (end.iFailed > 0)
        szResult = "FAIL";
    else if (end.iNotRun > 0 || end.iUntested > 0 || end.iPassed == 0)
        szResult = "NOT_APPLICABLE";
    const char *szStatus =
        end.iNotRun > 0 || end.sStopReason == "interrupted" ? "ERROR" : "COMPLETE";
    return Artifact(pOc, "testRunArtifact",
                    std::string("{\"testRunEnd\":{\"status\":\"") + szStatus + "\",\"result\":\"" +
                        szResult + "\"}}");
}
