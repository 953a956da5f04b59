/* bench-scaling.cpp - cost per item as the count grows: unsolicited messages
 * that arrive over the module's FIFO before a transaction's answer, and
 * devices in one device-list answer. Each count from 1,000 to 64,000 is timed
 * and its cost per item divided by the cost per item at the smallest count
 * (the rows of bench-large.cpp too): flat (ratio near 1) means linear cost. The ratio is taken on the CPU time of the thread
 * that does the module's work (the peer thread that writes is not counted),
 * since wall time on the shared machine moves with its load; the wall time
 * per item is shown as well. */
#include <benchmark/benchmark.h>

#include <stdio.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>

#include <map>
#include <string>
#include <thread>

#include "../tests/common/test-peer.h"
#include "bench-common.h"
#include "client-connection-manager.h"
#include "message-protocol.h"
#include "test-common.h"

namespace {

/* CPU cost per item by benchmark and count, for the ratio table. */
std::map<std::string, std::map<int64_t, double>> s_mapPerItemUs;

}  // namespace

double BenchThreadCpuSeconds(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

void BenchPublishPerItem(benchmark::State &state, const char *szName, double dWall, double dCpu,
                         int64_t iItems)
{
    double dPerItemUs = dCpu * 1e6 / (double)iItems;
    auto &mapCounts = s_mapPerItemUs[szName];
    mapCounts[iItems] = dPerItemUs;
    state.counters["cpu_us_per_item"] = dPerItemUs;
    state.counters["wall_us_per_item"] = dWall * 1e6 / (double)iItems;
    state.counters["ratio_to_smallest"] = dPerItemUs / mapCounts.begin()->second;
}

namespace {

/* An unsolicited event of about 128 bytes, as a peer frames it. */
std::string UnsolicitedFrames(int n)
{
    std::string s;
    for (int i = 0; i < n; i++) {
        std::string sMsg = zolttest::MakeMsg("4242", "DE_EVENT", "event " + std::to_string(i));
        s += zolttest::MakeFrames(sMsg, (unsigned long)i + 1, 4242);
    }
    return s;
}

/* n unsolicited messages, then the answer, written by a peer thread while
 * the main thread runs the transaction; the time runs from the request to
 * the answer in hand. The peer also empties the broker FIFO. */
void BM_UnsolicitedBeforeAnswer(benchmark::State &state)
{
    int n = (int)state.range(0);
    zolttest::RawConnection conn;
    if (conn.Open() != "") {
        state.SkipWithError("no FIFO connection");
        return;
    }
    std::string sEvents = UnsolicitedFrames(n);
    double dTotal = 0, dCpu = 0;
    for (auto _ : state) {
        CGenStr req;
        CGenStrInit(&req);
        ZoltClientCreateDiagnosticEngineCommandStr("LIST_DEVICES:zoltcpu", nullptr, &req);
        long lId = 0;
        ZoltMessageGetMessageId(CGenStrC_Str(&req), &lId);
        std::string sAll = sEvents + zolttest::MakeFrames(zolttest::MakeMsg("4242", "ANSWER", "x",
                                                                            std::to_string(lId)),
                                                          (unsigned long)n + 1, 4242);
        double dStart = BenchNowSeconds(), dCpuStart = BenchThreadCpuSeconds();
        std::thread peer([&] {
            char aBuf[4096];
            while (read(conn.hBroker, aBuf, sizeof aBuf) > 0) {
            }
            zolttest::WriteAll(conn.hToClient, sAll);
        });
        char szAnswer[1024];
        int iRc =
            ZoltClientSendTransaction(CGenStrC_Str(&req), szAnswer, sizeof szAnswer, 60000, 0);
        dTotal += BenchNowSeconds() - dStart;
        dCpu += BenchThreadCpuSeconds() - dCpuStart;
        peer.join();
        CGenStrDelete(&req);
        if (iRc != 0)
            state.SkipWithError("no answer");
        ClientMessage *p;
        int iLeft = 0;
        while ((p = ZoltClientGetNextMessage(nullptr)) != nullptr)
            ZoltClientFreeMessage(p), iLeft++;
        if (iLeft != n)
            state.SkipWithError("messages lost");
    }
    BenchPublishPerItem(state, "messages", dTotal / (double)state.iterations(),
                        dCpu / (double)state.iterations(), n);
}
BENCHMARK(BM_UnsolicitedBeforeAnswer)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(16000)
    ->Arg(64000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

/* One COMPONENT text of n devices with every text and one FRU triple. */
std::string DeviceList(int n)
{
    std::string s;
    for (int i = 0; i < n; i++) {
        std::string sI = std::to_string(i);
        s += "<DEVICE><DID>" + sI + "</DID><NAME>CPU:" + sI +
             "</NAME><DESCRIPTION>AuthenticAMD, 2096 MHz</DESCRIPTION><OSLOCATOR>" + sI +
             "</OSLOCATOR><HWLOCATOR>CPU:" + sI +
             "</HWLOCATOR><DEVTYPE>CPU</DEVTYPE><BUSTYPE>SYSTEM</BUSTYPE>"
             "<TESTS_SUPPORTED>*</TESTS_SUPPORTED><FRU_ADDINFO_FIELD>f</FRU_ADDINFO_FIELD>"
             "<FRU_ADDINFO_DESC>d</FRU_ADDINFO_DESC><FRU_ADDINFO_VALUE>v</FRU_ADDINFO_VALUE>"
             "</DEVICE>";
    }
    return s;
}

void BM_DeviceListParse(benchmark::State &state)
{
    int n = (int)state.range(0);
    CGenStr text;
    CGenStrInitFromCStr(&text, DeviceList(n).c_str());
    double dTotal = 0, dCpu = 0;
    for (auto _ : state) {
        CGenList list;
        CGenListConstruct(&list, 1, Dapi2_I_KillDevice);
        double dStart = BenchNowSeconds(), dCpuStart = BenchThreadCpuSeconds();
        ZoltParseModuleDeviceList(&list, &text);
        dTotal += BenchNowSeconds() - dStart;
        dCpu += BenchThreadCpuSeconds() - dCpuStart;
        if (CGenListGetCount(&list) != n)
            state.SkipWithError("devices lost");
        CGenListDestruct(&list);
    }
    CGenStrDelete(&text);
    BenchPublishPerItem(state, "devices", dTotal / (double)state.iterations(),
                        dCpu / (double)state.iterations(), n);
}
BENCHMARK(BM_DeviceListParse)
    ->Arg(1000)
    ->Arg(4000)
    ->Arg(16000)
    ->Arg(64000)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

}  // namespace

void BenchPrintScaling(void)
{
    for (auto &kv : s_mapPerItemUs) {
        printf("%s: CPU per item (us) and ratio to the smallest count:", kv.first.c_str());
        double dBase = kv.second.begin()->second;
        for (auto &c : kv.second)
            printf("  %lld: %.2f (%.2f)", (long long)c.first, c.second,
                   dBase > 0 ? c.second / dBase : 0.0);
        printf("\n");
    }
}
