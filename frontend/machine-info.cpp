/* machine-info.cpp - the machine's identity read from the processor table,
 * the machine id and the firmware's system serial number and UUID, each file
 * only when it is a regular file and only its first 4 MiB. */
#include "machine-info.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <sstream>

PeersMachinePaths g_PeersMachinePaths = { "/proc/cpuinfo", "/etc/machine-id",
                                          "/sys/class/dmi/id/product_serial",
                                          "/sys/class/dmi/id/product_uuid" };

/* The processor table of a machine with a few hundred logical CPUs fits. */
#define PEERS_MACHINE_FILE_MAX (4 * 1024 * 1024)

/* The text of a regular file (no FIFO or device can stall the read), or ""
 * when it cannot be read. */
static std::string ReadSmallFile(const char *szPath)
{
    int hFile = open(szPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (hFile < 0)
        return "";
    struct stat st;
    std::string s;
    if (fstat(hFile, &st) == 0 && S_ISREG(st.st_mode)) {
        char acBuf[8192];
        ssize_t lGot;
        while (s.size() < PEERS_MACHINE_FILE_MAX &&
               ((lGot = read(hFile, acBuf, sizeof acBuf)) > 0 || (lGot < 0 && errno == EINTR)))
            if (lGot > 0)
                s.append(acBuf, (size_t)lGot);
    }
    close(hFile);
    return s;
}

/* s without leading and trailing blanks and line ends. */
static std::string Trim(const std::string &s)
{
    size_t uFrom = s.find_first_not_of(" \t\r\n");
    if (uFrom == std::string::npos)
        return "";
    return s.substr(uFrom, s.find_last_not_of(" \t\r\n") - uFrom + 1);
}

/* The one-line value of a small identity file; "" for the texts firmware
 * writes where the maker left the field unset. */
static std::string IdentityValue(const char *szPath)
{
    static const char *const s_apszUnset[] = { "Not Specified",
                                               "To Be Filled By O.E.M.",
                                               "Default string",
                                               "None",
                                               "System Serial Number",
                                               "Not Applicable",
                                               "0" };
    std::string s = Trim(ReadSmallFile(szPath));
    if (s.find('\n') != std::string::npos)
        s = Trim(s.substr(0, s.find('\n')));
    for (const char *sz : s_apszUnset)
        if (strcasecmp(s.c_str(), sz) == 0)
            return "";
    return s;
}

/* A number of the processor table, or -1. */
static int TableNumber(const std::string &s)
{
    if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos || s.size() > 9)
        return -1;
    return atoi(s.c_str());
}

/* Takes one "key : value" line of the processor table. */
static void TakeCpuLine(PeersMachineInfo *pInfo, const std::string &sKey, const std::string &sValue)
{
    if (sKey == "processor") {
        pInfo->vCpus.push_back(PeersMachineCpu{ { TableNumber(sValue), -1, -1, -1 }, "", "", "" });
        return;
    }
    if (pInfo->vCpus.empty())
        return;
    PeersMachineCpu &cpu = pInfo->vCpus.back();
    std::string *psFirst = nullptr; /* machine-wide: taken from the first CPU */
    if (sKey == "physical id")
        cpu.place.iPackage = TableNumber(sValue);
    else if (sKey == "core id")
        cpu.place.iCore = TableNumber(sValue);
    else if (sKey == "apicid")
        cpu.place.iApicId = TableNumber(sValue);
    else if (sKey == "vendor_id")
        cpu.sVendor = sValue;
    else if (sKey == "model name")
        cpu.sModelName = sValue, psFirst = &pInfo->sCpuModelName;
    else if (sKey == "microcode")
        cpu.sMicrocode = sValue, psFirst = &pInfo->sMicrocode;
    else if (sKey == "cpu family")
        psFirst = &pInfo->sCpuFamily;
    else if (sKey == "model")
        psFirst = &pInfo->sCpuModel;
    else if (sKey == "stepping")
        psFirst = &pInfo->sCpuStepping;
    if (psFirst != nullptr && pInfo->vCpus.size() == 1)
        *psFirst = sValue;
}

/* The processor table: machine-wide values from the first CPU, and each
 * logical CPU's place, vendor, model name and microcode. */
static void ReadCpuTable(PeersMachineInfo *pInfo)
{
    std::istringstream in(ReadSmallFile(g_PeersMachinePaths.szCpuInfo));
    for (std::string sLine; std::getline(in, sLine);) {
        size_t uColon = sLine.find(':');
        if (uColon != std::string::npos)
            TakeCpuLine(pInfo, Trim(sLine.substr(0, uColon)), Trim(sLine.substr(uColon + 1)));
    }
    for (size_t i = 0; i < pInfo->vCpus.size(); i++)
        if (pInfo->vCpus[i].place.iCpu < 0) { /* a table without numbers is not one */
            pInfo->vCpus.clear();
            break;
        }
}

void PeersReadMachineInfo(PeersMachineInfo *pInfo)
{
    *pInfo = PeersMachineInfo();
    char szHost[256] = "";
    if (gethostname(szHost, sizeof szHost - 1) == 0) {
        szHost[sizeof szHost - 1] = '\0';
        pInfo->sHost = szHost;
    }
    struct utsname un;
    if (uname(&un) == 0)
        pInfo->sKernel = un.release;
    pInfo->sMachineId = IdentityValue(g_PeersMachinePaths.szMachineId);
    pInfo->sSerial = IdentityValue(g_PeersMachinePaths.szSerial);
    pInfo->sUuid = IdentityValue(g_PeersMachinePaths.szUuid);
    ReadCpuTable(pInfo);
}
