/* bench-field.cpp - field lookup on a 2 KB message against a plain memchr scan
 * of the same text. The message is an enumeration report of the kind the
 * module sends (header plus DEVICE elements); the lookup asks for the last
 * device's TESTS_SUPPORTED, so it walks nearly the whole text. The reference
 * visits every '<' of the text with memchr: the least any tag scanner does. */
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <string.h>

#include <string>

#include "bench-common.h"
#include "message-protocol.h"

namespace {

/* Builds the message once: about 2048 bytes, ending in CR LF. *piDevices gets
 * the number of DEVICE elements. */
const std::string &TwoKilobyteMessage(int *piDevices)
{
    static std::string s_strMsg;
    static int s_iDevices = 0;
    if (s_strMsg.empty()) {
        char szHdr[ZOLT_HDR_BUFFER_SIZE];
        ZoltCreateMessageHeader(szHdr, sizeof szHdr, ZOLT_TO_DIAGENGINE, nullptr, "DE_ENUMDATA",
                                nullptr);
        std::string strData = "<DATA>";
        /* 2048 bytes with the envelope: stop before the next device would pass it */
        const size_t uEnvelope = strlen(szHdr) + strlen("<MSG></MSG>\r\n") + strlen("</DATA>");
        for (int i = 0;; i++) {
            char szDev[512];
            snprintf(
                szDev, sizeof szDev,
                "<DEVICE><DID>%d</DID><NAME>CPU:%d</NAME><DESCRIPTION>AuthenticAMD, AMD EPYC, 2096.012 MHz, "
                "1024 KB cache</DESCRIPTION><OSLOCATOR>%d</OSLOCATOR><HWLOCATOR>CPU:%d</HWLOCATOR>"
                "<DEVTYPE>CPU</DEVTYPE><BUSTYPE>SYSTEM</BUSTYPE><TESTS_SUPPORTED>*</TESTS_SUPPORTED>"
                "</DEVICE>",
                i, i, i, i);
            if (i > 0 && uEnvelope + strData.size() + strlen(szDev) > 2048)
                break;
            strData += szDev;
            s_iDevices = i + 1;
        }
        strData += "</DATA>";
        CGenStr msg;
        CGenStrInit(&msg);
        ZoltCreateMessageStr(&msg, "MSG", szHdr, strData.c_str(), nullptr);
        s_strMsg = CGenStrC_Str(&msg);
        CGenStrDelete(&msg);
    }
    if (piDevices != nullptr)
        *piDevices = s_iDevices;
    return s_strMsg;
}

void SetRate(benchmark::State &state, size_t uBytes)
{
    state.SetBytesProcessed((int64_t)(state.iterations() * uBytes));
    state.counters[BENCH_COUNTER_MBPS] = benchmark::Counter(
        (double)state.iterations() * (double)uBytes / 1e6, benchmark::Counter::kIsRate);
}

/* The lookup of the last device's TESTS_SUPPORTED into a caller buffer. */
void BM_FieldLookup2K(benchmark::State &state)
{
    int iDevices = 0;
    const std::string &strMsg = TwoKilobyteMessage(&iDevices);
    char szValue[64];
    for (auto _ : state) {
        int iRc = ZoltXmlGetField(strMsg.c_str(), "MSG/DATA/DEVICE/TESTS_SUPPORTED", iDevices - 1,
                                  szValue, sizeof szValue);
        benchmark::DoNotOptimize(iRc);
        benchmark::DoNotOptimize(szValue);
    }
    if (ZoltXmlGetField(strMsg.c_str(), "MSG/DATA/DEVICE/TESTS_SUPPORTED", iDevices - 1, szValue,
                        sizeof szValue) != 0 ||
        strcmp(szValue, "*") != 0) {
        state.SkipWithError("the lookup did not find the last device's field");
        return;
    }
    state.SetLabel(std::to_string(strMsg.size()) + " bytes, " + std::to_string(iDevices) +
                   " devices");
    SetRate(state, strMsg.size());
}

/* The reference: every '<' of the same text found with memchr. */
void BM_MemchrScan2K(benchmark::State &state)
{
    const std::string &strMsg = TwoKilobyteMessage(nullptr);
    const char *pText = strMsg.c_str();
    const char *pEnd = pText + strMsg.size();
    size_t uTags = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(pText);
        uTags = 0;
        for (const char *p = pText;
             (p = (const char *)memchr(p, '<', (size_t)(pEnd - p))) != nullptr; p++)
            uTags++;
        benchmark::DoNotOptimize(uTags);
    }
    state.SetLabel(std::to_string(strMsg.size()) + " bytes, " + std::to_string(uTags) + " tags");
    SetRate(state, strMsg.size());
}

}  // namespace

BENCHMARK(BM_FieldLookup2K)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_MemchrScan2K)->Repetitions(5)->ReportAggregatesOnly(true);
