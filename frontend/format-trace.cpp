/* format-trace.cpp - the trace lines of the test switch --trace-json: every
 * packet in and out, and the raw record of every module invocation, as JSON
 * objects (one per line). Not a result format: the end-to-end tests read the
 * module's packets from it. */
#include <string.h>

#include "json-text.h"
#include "report.h"

/* "key":"value" */
static std::string JsonPair(const char *szKey, const std::string &sValue)
{
    return std::string("\"") + szKey + "\":" + PeersJsonString(sValue);
}

/* One JSON object per packet: direction, peer, kind, header fields, data, raw. */
std::string PeersPacketJson(const char *szDir, long lPeer, const char *szPacket)
{
    std::string sPacket = szPacket ? szPacket : "";
    while (!sPacket.empty() && (sPacket.back() == '\n' || sPacket.back() == '\r'))
        sPacket.pop_back();
    const char *szKind = "OTHER";
    if (sPacket.compare(0, 5, "<MSG>") == 0)
        szKind = "MSG";
    else if (sPacket.compare(0, 9, "<STARTUP>") == 0)
        szKind = "STARTUP";
    else if (sPacket.compare(0, 6, "<STOP>") == 0)
        szKind = "STOP";
    else if (sPacket.compare(0, 5, "<ACK>") == 0)
        szKind = "ACK";
    std::string sJson = "{" + JsonPair("dir", szDir ? szDir : "") +
                        ",\"peer\":" + std::to_string(lPeer) + "," + JsonPair("kind", szKind);
    if (strcmp(szKind, "MSG") == 0) {
        static const char *const s_apszFields[][2] = {
            { "from", "MSG/HDR/FROM" }, { "to", "MSG/HDR/TO" },     { "id", "MSG/HDR/ID" },
            { "re", "MSG/HDR/RE" },     { "type", "MSG/HDR/TYPE" }, { "data", "MSG/DATA" },
        };
        for (const auto &f : s_apszFields) {
            std::string sValue;
            if (PeersGetField(sPacket.c_str(), f[1], 0, sValue) == 0)
                sJson += "," + JsonPair(f[0], sValue);
        }
    }
    sJson += "," + JsonPair("raw", sPacket) + "}";
    return sJson;
}

/* The system-information and validation answers of an invocation, each
 * with a leading comma ("" when it has neither). */
static std::string AnswersJson(const PeersInvocation &inv)
{
    std::string s;
    if (inv.bSysInfo) {
        s += ",\"sysinfo\":[";
        for (size_t i = 0; i < inv.vSysInfo.size(); i++) {
            const PeersSysInfoItem &it = inv.vSysInfo[i];
            s += std::string(i ? "," : "") + "{" + JsonPair("key", it.sKey) + "," +
                 JsonPair("description", it.sDescription) + ",\"values\":[";
            for (size_t v = 0; v < it.vValues.size(); v++)
                s += std::string(v ? "," : "") + PeersJsonString(it.vValues[v]);
            s += "]}";
        }
        s += "]";
    }
    if (inv.bValidation) {
        s += ",\"parameters\":[";
        for (size_t i = 0; i < inv.vParams.size(); i++) {
            const PeersParamResult &p = inv.vParams[i];
            s += std::string(i ? "," : "") + "{" + JsonPair("id", p.sId) + "," +
                 JsonPair("valid", p.sValidFlag) +
                 (p.bHasMin ? "," + JsonPair("min", p.sMin) : std::string()) +
                 (p.bHasMax ? "," + JsonPair("max", p.sMax) : std::string()) + "}";
        }
        s += "]";
    }
    return s;
}

/* The RESULT record of one invocation as one JSON object. */
std::string PeersInvocationJson(const PeersInvocation &inv, const char *szDevice)
{
    std::string s =
        std::string("{\"kind\":\"") + (inv.bPrelude ? "SETUP" : "RESULT") + "\"," +
        JsonPair("mode", inv.sMode) + "," + JsonPair("device", szDevice ? szDevice : "") +
        ",\"test\":" + std::to_string(inv.iTest) + ",\"pid\":" + std::to_string(inv.lPid) +
        ",\"exit_status\":" + std::to_string(inv.iExitStatus) +
        ",\"signal\":" + std::to_string(inv.iSignal) +
        ",\"killed\":" + (inv.bKilled ? "true" : "false") +
        ",\"startup_seen\":" + (inv.bConnected ? "true" : "false");
    if (inv.bResult)
        s += "," + JsonPair("result", inv.sResultWord);
    s += ",\"percents\":[";
    for (size_t i = 0; i < inv.vPercents.size(); i++)
        s += (i ? "," : "") + std::to_string(inv.vPercents[i]);
    s += "],\"events\":[";
    int bFirst = 1;
    for (const PeersEvent &ev : inv.vEvents) {
        if (ev.sType == "PERCENTDONE")
            continue;
        s += std::string(bFirst ? "" : ",") + "{" + JsonPair("type", ev.sType) + "," +
             JsonPair("text", ev.sText) + "," + JsonPair("english", ev.sEnglish) +
             (ev.bHasCode ? ",\"code\":" + std::to_string(ev.iCode) : std::string()) + "}";
        bFirst = 0;
    }
    s += "]";
    if (inv.bEnumData) {
        s += ",\"devices\":[";
        for (size_t i = 0; i < inv.vDevices.size(); i++) {
            const PeersDevice &d = inv.vDevices[i];
            s += std::string(i ? "," : "") + "{\"id\":" + std::to_string(d.iId) + "," +
                 JsonPair("name", d.sName) + "," + JsonPair("description", d.sDescription) + "," +
                 JsonPair("hwlocator", d.sHwLocator) + "," + JsonPair("tests", d.sTests) + "}";
        }
        s += "]";
    }
    s += AnswersJson(inv);
    if (!inv.sModuleOutput.empty())
        s += "," + JsonPair("module_output", inv.sModuleOutput);
    return s + "}";
}
