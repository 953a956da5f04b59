/* bench-large.cpp - cost per item on large machines and in long soaks, as
 * the count grows: the module's enumeration per logical CPU (64 to 4,096, a
 * processor table without "ht" made here), zoltpeers' parse of device-list,
 * sysinfo and validation answers per device (1,000 to 64,000), and
 * zoltpeers' language-string registration per module run (1,000 to 100,000
 * runs, each module's entry released when it ends), with the growth of the
 * heap over the runs. The cost is the CPU time of the calling thread; its
 * ratio to the smallest count is printed with the scaling rows. */
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "bench-common.h"
#include "cpu-enum.h"
#include "dapi2-device.h"
#include "engine.h"
#include "nls-engine.h"
#include "zolt-mod-support.h"

namespace {

/* No language-string engine here: the SMBIOS switch stays off. */
char *SwitchOff(const char *, char *szOut, int iOutSize)
{
    if (szOut != nullptr && iOutSize > 0)
        szOut[0] = '\0';
    return nullptr;
}

void BM_EnumeratePerCpu(benchmark::State &state)
{
    int n = (int)state.range(0);
    std::string sPath = "/tmp/zoltbench-cpuinfo." + std::to_string(getpid());
    {
        std::ofstream out(sPath);
        for (int i = 0; i < n; i++)
            out << "processor\t: " << i << "\nvendor_id\t: GenuineIntel\ncpu family\t: 6\n"
                << "model\t\t: 85\nmodel name\t: Large VM CPU\nstepping\t: 7\ncpu MHz\t\t: 2100.000\n"
                << "cache size\t: 1024 KB\nphysical id\t: " << i
                << "\nflags\t\t: fpu tsc msr mmx fxsr sse sse2\n\n";
    }
    const char *szSaved = g_szCpuInfoPath;
    PFN_NLSGETSTRING pfnSaved = g_pfnCpuNlsGetString;
    g_szCpuInfoPath = sPath.c_str();
    g_pfnCpuNlsGetString = SwitchOff;
    double dWall = 0, dCpu = 0;
    for (auto _ : state) {
        double dStart = BenchNowSeconds(), dCpuStart = BenchThreadCpuSeconds();
        ScanDeviceTree(1);
        dWall += BenchNowSeconds() - dStart;
        dCpu += BenchThreadCpuSeconds() - dCpuStart;
        if (GetDeviceCount() != n)
            state.SkipWithError("processors lost");
        Dapi2_KillDeviceList();
    }
    g_szCpuInfoPath = szSaved;
    g_pfnCpuNlsGetString = pfnSaved;
    unlink(sPath.c_str());
    BenchPublishPerItem(state, "enumeration per logical CPU", dWall / (double)state.iterations(),
                        dCpu / (double)state.iterations(), n);
}
BENCHMARK(BM_EnumeratePerCpu)
    ->Arg(64)
    ->Arg(256)
    ->Arg(1024)
    ->Arg(4096)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

/* One answer of n devices as zoltpeers' engine receives it: an enumeration
 * report (range 1 = 0), a sysinfo answer (1) or a validation answer (2). */
std::string Answer(int iKind, int n)
{
    static const char *const s_aszType[] = { "DE_ENUMDATA", "SYSINFO_RETURNED",
                                             "TRANSACTION_RESPONSE" };
    std::string s = std::string("<MSG><HDR><FROM>4242</FROM><TO>DIAGENGINE</TO><ID>1</ID><RE>1</RE>"
                                "<TYPE>") +
                    s_aszType[iKind] + "</TYPE></HDR><DATA>";
    if (iKind == 2)
        s += "<DATA><PARAM_VALIDATION_RESULTS>";
    for (int i = 0; i < n; i++) {
        std::string sI = std::to_string(i);
        if (iKind == 0)
            s += "<DEVICE><DID>" + sI + "</DID><NAME>CPU:" + sI +
                 "</NAME><DESCRIPTION>GenuineIntel, 2100 MHz</DESCRIPTION><HWLOCATOR>CPU:" + sI +
                 "</HWLOCATOR><DEVTYPE>CPU</DEVTYPE><TESTS_SUPPORTED>*</TESTS_SUPPORTED></DEVICE>";
        else if (iKind == 1)
            s += "<DEVICE><SYSINFO><SYSINFO_KEY>k" + sI +
                 "</SYSINFO_KEY><SYSINFO_DESCRIPTION>d</SYSINFO_DESCRIPTION><SYSINFO_VALUE>v" + sI +
                 "</SYSINFO_VALUE></SYSINFO></DEVICE>";
        else
            s += "<PARAMETER><ID>p" + sI +
                 "</ID><VALID_FLAG>TRUE</VALID_FLAG><MIN_VALUE>1</MIN_VALUE></PARAMETER>";
    }
    return s + (iKind == 2 ? "</PARAM_VALIDATION_RESULTS></DATA>" : "") + "</DATA></MSG>";
}

void BM_PeersParseAnswer(benchmark::State &state)
{
    int n = (int)state.range(0), iKind = (int)state.range(1);
    std::string sMsg = Answer(iKind, n);
    PeersEngine engine;
    PeersEngineInit(&engine, nullptr, nullptr, nullptr, nullptr);
    double dWall = 0, dCpu = 0;
    for (auto _ : state) {
        PeersInvocation inv;
        PeersInvocationInit(&inv, "enumerate");
        engine.pCur = &inv;
        double dStart = BenchNowSeconds(), dCpuStart = BenchThreadCpuSeconds();
        PeersEngineHandleMessage(&engine, sMsg.c_str(), 4242, "zoltcpu");
        dWall += BenchNowSeconds() - dStart;
        dCpu += BenchThreadCpuSeconds() - dCpuStart;
        size_t uGot = iKind == 0   ? inv.vDevices.size()
                      : iKind == 1 ? inv.vSysInfo.size()
                                   : inv.vParams.size();
        if (uGot != (size_t)n)
            state.SkipWithError("devices lost");
        engine.pCur = nullptr;
    }
    static const char *const s_aszName[] = { "zoltpeers device list per device",
                                             "zoltpeers sysinfo per device",
                                             "zoltpeers validation per parameter" };
    BenchPublishPerItem(state, s_aszName[iKind], dWall / (double)state.iterations(),
                        dCpu / (double)state.iterations(), n);
}
BENCHMARK(BM_PeersParseAnswer)
    ->ArgsProduct({ { 1000, 4000, 16000, 64000 }, { 0, 1, 2 } })
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

/* n module runs as zoltpeers' language-string engine sees them: each module
 * registers its string file and is forgotten when it ends. The heap in use
 * after the runs is reported against the heap before them. */
void BM_NlsRegistrationPerRun(benchmark::State &state)
{
    int n = (int)state.range(0);
    std::string sIni = std::string(ZOLT_BIN) + "/zoltcpu.ini";
    double dWall = 0, dCpu = 0;
    long long llGrowth = 0;
    for (auto _ : state) {
        PeersNls nls;
        PeersNlsInit(&nls, sIni.c_str());
        size_t uBefore = mallinfo2().uordblks;
        double dStart = BenchNowSeconds(), dCpuStart = BenchThreadCpuSeconds();
        for (int i = 0; i < n; i++) {
            PeersNlsRegister(&nls, 100000 + i, sIni.c_str());
            PeersNlsForget(&nls, 100000 + i);
        }
        dWall += BenchNowSeconds() - dStart;
        dCpu += BenchThreadCpuSeconds() - dCpuStart;
        llGrowth = (long long)mallinfo2().uordblks - (long long)uBefore;
    }
    state.counters["heap_growth_bytes"] = (double)llGrowth;
    BenchPublishPerItem(state, "zoltpeers string registration per run",
                        dWall / (double)state.iterations(), dCpu / (double)state.iterations(), n);
}
BENCHMARK(BM_NlsRegistrationPerRun)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
