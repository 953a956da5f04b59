/* proc-files.cpp - fuzz target of the readers of kernel files, each given
 * the input as its file through its path seam: the total memory (meminfo),
 * the process name of /proc/<pid>/stat, the module name of
 * /proc/<pid>/cmdline, the legacy per-CPU time file and the thread's stat
 * file. References: the first "MemTotal:" line with a plain number gives it
 * (held to the int range); the name between the first '(' and ')' of the
 * first 64 bytes; argv[0] (at most 255 bytes, ended by NUL or 0xFF) named as
 * the header says; user + system ticks of plain lines and of a plain stat
 * line. Invariants where the text is not plain: counts agree, the shares of
 * the CPU records never exceed the thread's total. */
#include <ctype.h>
#include <limits.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cpu-driver.h"
#include "cpu-enum.h"
#include "dapi2-command-line.h"
#include "dapi2-device.h"
#include "fuzz-common.h"
#include "trace.h"
#include "zolt-mod-support.h"

#define PROC_MEMINFO_LINE 9999 /* characters fgets gives per piece */
#define PROC_TIME_LINE 4095
#define PROC_STAT_READ 64
#define PROC_CMDLINE_READ 255

/* The pieces fgets hands over with a buffer of uMax + 1 bytes, each as the C
 * text a scan sees (cut at a NUL byte). */
static std::vector<std::string> Pieces(const std::string &sFile, size_t uMax)
{
    std::vector<std::string> v;
    for (size_t uPos = 0; uPos < sFile.size();) {
        size_t uNl = sFile.find('\n', uPos);
        size_t uEnd = uNl == std::string::npos ? sFile.size() : uNl + 1;
        if (uEnd - uPos > uMax)
            uEnd = uPos + uMax;
        v.push_back(sFile.substr(uPos, uEnd - uPos).c_str());
        uPos = uEnd;
    }
    return v;
}

/* 1 with the value when p holds blanks, an optional sign and a decimal number
 * that does not start with 0 (or is 0 alone) followed by a non-digit; 0 when
 * it holds no number; -1 when the reading depends on more than that (hex,
 * octal, a sign alone). */
static int PlainNumber(const char *p, long long *pllOut, const char **ppEnd)
{
    while (isspace((unsigned char)*p))
        p++;
    bool bNeg = *p == '-', bSign = *p == '-' || *p == '+';
    if (bSign)
        p++;
    if (!isdigit((unsigned char)*p))
        return bSign ? -1 : 0;
    if (*p == '0' && (isalnum((unsigned char)p[1])))
        return -1;
    long long ll = 0;
    for (; isdigit((unsigned char)*p); p++)
        ll = ll > LLONG_MAX / 20 ? LLONG_MAX / 2 : ll * 10 + (*p - '0');
    *pllOut = bNeg ? -ll : ll;
    if (ppEnd != nullptr)
        *ppEnd = p;
    return 1;
}

static void CheckMemTotal(const std::string &sFile, const std::string &sPath)
{
    g_szMemInfoPath = sPath.c_str();
    int iKb = -7;
    int iRc = ReadMemTotal(&iKb);
    for (const std::string &s : Pieces(sFile, PROC_MEMINFO_LINE)) {
        if (s.compare(0, 9, "MemTotal:") != 0)
            continue;
        long long ll = 0;
        int iPlain = PlainNumber(s.c_str() + 9, &ll, nullptr);
        if (iPlain < 0 || (iPlain == 0 && iRc != 0))
            return; /* no reference for this line */
        if (iPlain == 0)
            continue;
        FUZZ_CHECK(iRc == 0);
        FUZZ_CHECK(iKb == (ll > INT_MAX ? INT_MAX : ll < INT_MIN ? INT_MIN : (int)ll));
        return;
    }
    FUZZ_CHECK(iRc == 1);
}

static void CheckStatName(const std::string &sFile)
{
    std::string s = sFile.substr(0, PROC_STAT_READ).c_str();
    size_t uOpen = s.find('('), uClose = s.find(')');
    std::string sExpect =
        uOpen == std::string::npos || uClose == std::string::npos || uClose < uOpen
            ? "????"
            : s.substr(uOpen + 1, uClose - uOpen - 1);
    FUZZ_CHECK(sExpect == PidToProcName(4242));
}

static void CheckCmdline(const std::string &sFile)
{
    std::string s = sFile.substr(0, PROC_CMDLINE_READ);
    s = s.substr(0, s.find('\xFF')).c_str();
    const char *szGot = pidToProcName(4242);
    if (s.empty()) {
        FUZZ_CHECK(szGot == nullptr);
        return;
    }
    size_t uEnd = s.find(".linux"), uStart = 0;
    bool bLinux = uEnd != std::string::npos;
    if (bLinux) { /* base name with the "." of ".linux", then "zmd" */
        size_t uSlash = s.rfind('/', uEnd);
        uStart = uSlash == std::string::npos ? 0 : uSlash + 1;
        uEnd++;
    } else { /* base name up to its first ".", then ".zmd" */
        size_t uSlash = s.rfind('/');
        uStart = uSlash == std::string::npos ? 0 : uSlash + 1;
        uEnd = std::min(s.find('.', uStart), s.size());
    }
    /* the static buffer holds 255 characters */
    std::string sExpect =
        (s.substr(uStart, uEnd - uStart) + (bLinux ? "zmd" : ".zmd")).substr(0, 255);
    FUZZ_CHECK(szGot != nullptr && sExpect == szGot);
}

/* Legacy file: a leading run of "word user system" lines, each entry their sum. */
static void CheckLegacyTimes(const std::string &sFile, const std::string &sPath)
{
    g_szCpuTimeFileFormat = sPath.c_str();
    CPUTimeStruct times;
    int iRc = GetTimeOnCPUs(&times);
    size_t uPlain = 0;
    for (const std::string &s : Pieces(sFile, PROC_TIME_LINE)) {
        const char *p = s.c_str();
        while (isspace((unsigned char)*p))
            p++;
        if (*p == '\0')
            break;
        while (*p != '\0' && !isspace((unsigned char)*p))
            p++;
        long long llUser = 0, llSystem = 0;
        if (PlainNumber(p, &llUser, &p) != 1 || PlainNumber(p, &llSystem, nullptr) != 1 ||
            llUser < 0 || llSystem < 0 || llUser > INT_MAX || llSystem > INT_MAX)
            break; /* what follows has no plain reference */
        FUZZ_CHECK(uPlain < times.auTicks.size());
        FUZZ_CHECK(times.auTicks[uPlain] == (uint32_t)(llUser + llSystem));
        uPlain++;
    }
    FUZZ_CHECK((iRc == 0) == !times.auTicks.empty());
    FUZZ_CHECK(uPlain <= times.auTicks.size());
    static std::string s_sNone = FuzzTempPath("no-such-file-%u");
    g_szCpuTimeFileFormat = s_sNone.c_str();
}

/* Stat file: entry 0 the thread's total, the records' shares never above it. */
static void CheckTaskStat(const std::string &sFile, const std::string &sPath)
{
    g_szTaskStatFileFormat = sPath.c_str();
    CPUTimeStruct times;
    int iRc = GetTimeOnCPUs(&times);
    FUZZ_CHECK(iRc == 0 || iRc == 1);
    FUZZ_CHECK(times.auTicks.empty() || times.auTicks.size() == (size_t)GetDeviceCount() + 1);
    uint64_t ullShares = 0;
    for (size_t i = 1; i < times.auTicks.size(); i++)
        ullShares += times.auTicks[i];
    if (!times.auTicks.empty())
        FUZZ_CHECK(ullShares <= times.auTicks[0]);
    /* a plain line: "pid (name) S" and ten numbers, then user and system */
    std::string sLine =
        Pieces(sFile, PROC_TIME_LINE).empty() ? "" : Pieces(sFile, PROC_TIME_LINE)[0];
    size_t uClose = sLine.rfind(')');
    if (uClose == std::string::npos || uClose + 3 >= sLine.size() || sLine[uClose + 1] != ' ' ||
        isspace((unsigned char)sLine[uClose + 2]))
        return;
    const char *p = sLine.c_str() + uClose + 3;
    long long llField = 0, llUser = 0, llSystem = 0;
    for (int i = 0; i < 10; i++)
        if (PlainNumber(p, &llField, &p) != 1 || llField < 0 || llField > INT_MAX)
            return;
    if (PlainNumber(p, &llUser, &p) != 1 || PlainNumber(p, &llSystem, nullptr) != 1 || llUser < 0 ||
        llSystem < 0 || llUser > INT_MAX || llSystem > INT_MAX)
        return;
    FUZZ_CHECK(iRc == 0 && times.auTicks[0] == (uint32_t)(llUser + llSystem));
}

static char *SwitchOff(const char *, char *szOut, int iOutSize)
{
    if (szOut != nullptr && iOutSize > 0)
        szOut[0] = '\0';
    return nullptr;
}

/* Two CPU records, so that the stat file's time is shared out. */
static void ScanTwoCpus(void)
{
    g_pfnCpuNlsGetString = SwitchOff;
    static const char s_szTable[] =
        "processor\t: 0\nvendor_id\t: GenuineIntel\nphysical id\t: 0\n\n"
        "processor\t: 1\nvendor_id\t: GenuineIntel\nphysical id\t: 1\n\n";
    std::string sPath = FuzzTempPath("cpuinfo");
    FuzzWriteFile(sPath, s_szTable, sizeof s_szTable - 1);
    static std::string s_sPath = sPath;
    g_szCpuInfoPath = s_sPath.c_str();
    FUZZ_CHECK(ScanDeviceTree(0) == 0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    static std::string s_sFile, s_sStat, s_sCmd, s_sCpu, s_sTask;
    if (s_sFile.empty()) {
        s_sFile = FuzzTempPath("file");
        s_sStat = FuzzTempPath("stat-%d");
        s_sCmd = FuzzTempPath("cmdline-%d");
        s_sCpu = FuzzTempPath("cpu-%u");
        s_sTask = FuzzTempPath("task-%u");
        g_szProcStatFormat = s_sStat.c_str();
        g_szDapi2CmdlinePath = s_sCmd.c_str();
        ScanTwoCpus();
    }
    std::string sFile((const char *)pData, uSize);
    unsigned uTid = (unsigned)syscall(SYS_gettid);
    FuzzWriteFile(s_sFile, pData, uSize);
    FuzzWriteFile(FuzzTempPath("stat-4242"), pData, uSize);
    FuzzWriteFile(FuzzTempPath("cmdline-4242"), pData, uSize);
    FuzzWriteFile(FuzzTempPath(("cpu-" + std::to_string(uTid)).c_str()), pData, uSize);
    FuzzWriteFile(FuzzTempPath(("task-" + std::to_string(uTid)).c_str()), pData, uSize);
    CheckMemTotal(sFile, s_sFile);
    CheckStatName(sFile);
    CheckCmdline(sFile);
    CheckLegacyTimes(sFile, s_sCpu);
    CheckTaskStat(sFile, s_sTask);
    return 0;
}
