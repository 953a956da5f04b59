/* cpu-places.cpp - the logical CPUs of the processor table with their place
 * (core, package, APIC id) and device, and the ones a run may use. */
#include "cpu-places.h"

#include <sched.h>
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <sstream>

const char *g_szPeersCpuInfoPath = "/proc/cpuinfo";

/* The number after "name<blanks>:" when sLine is that field; else -1. */
static int FieldNumber(const std::string &sLine, const char *szName)
{
    size_t uLen = strlen(szName);
    if (sLine.compare(0, uLen, szName) != 0)
        return -1;
    size_t uColon = sLine.find_first_not_of(" \t", uLen);
    int iValue = -1;
    if (uColon == std::string::npos || sLine[uColon] != ':' ||
        sscanf(sLine.c_str() + uColon + 1, "%d", &iValue) != 1 || iValue < 0)
        return -1;
    return iValue;
}

/* Puts the record's device: an earlier one of its package when it has "ht". */
static void PlaceDevice(std::vector<PeersCpu> *pv, int bHt, int *piNextDevice)
{
    PeersCpu &cpu = pv->back();
    for (size_t i = 0; bHt && cpu.place.iPackage >= 0 && i + 1 < pv->size(); i++)
        if ((*pv)[i].place.iPackage == cpu.place.iPackage) {
            cpu.iDevice = (*pv)[i].iDevice;
            return;
        }
    cpu.iDevice = (*piNextDevice)++;
}

std::vector<PeersCpu> PeersParseCpuTable(const std::string &sText)
{
    std::vector<PeersCpu> v;
    std::istringstream in(sText);
    int bHt = 0, iNextDevice = 0;
    for (std::string sLine; std::getline(in, sLine);) {
        int iCpu = FieldNumber(sLine, "processor");
        if (iCpu >= 0) {
            if (!v.empty())
                PlaceDevice(&v, bHt, &iNextDevice);
            v.push_back(PeersCpu{ { iCpu, -1, -1, -1 }, -1 });
            bHt = 0;
        } else if (!v.empty()) {
            PeersCpuPlace &p = v.back().place;
            p.iCore = FieldNumber(sLine, "core id") >= 0 ? FieldNumber(sLine, "core id") : p.iCore;
            p.iPackage = FieldNumber(sLine, "physical id") >= 0 ? FieldNumber(sLine, "physical id")
                                                                : p.iPackage;
            p.iApicId =
                FieldNumber(sLine, "apicid") >= 0 ? FieldNumber(sLine, "apicid") : p.iApicId;
            if (sLine.compare(0, 5, "flags") == 0)
                bHt = (sLine + " ").find(" ht ") != std::string::npos;
        }
    }
    if (!v.empty())
        PlaceDevice(&v, bHt, &iNextDevice);
    return v;
}

int PeersChooseCpus(const std::vector<int> &vCpus, int bCpusGiven, std::vector<PeersCpu> *pvOut,
                    std::string *psError)
{
    std::ifstream in(g_szPeersCpuInfoPath);
    std::stringstream text;
    text << in.rdbuf();
    std::vector<PeersCpu> vAll = PeersParseCpuTable(text.str());
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0)
        CPU_ZERO(&allowed);
    auto Allowed = [&](int iCpu) { return iCpu < CPU_SETSIZE && CPU_ISSET(iCpu, &allowed); };
    for (int iCpu : vCpus) {
        const PeersCpu *pFound = nullptr;
        for (const PeersCpu &c : vAll)
            pFound = c.place.iCpu == iCpu ? &c : pFound;
        if (pFound == nullptr || !Allowed(iCpu)) {
            *psError = "--cpus: logical CPU " + std::to_string(iCpu) +
                       (pFound ? " is outside the CPUs zoltpeers may run on"
                               : " is not in the processor table");
            return 1;
        }
        pvOut->push_back(*pFound);
    }
    for (const PeersCpu &c : vAll)
        if (!bCpusGiven && Allowed(c.place.iCpu))
            pvOut->push_back(c);
    if (pvOut->empty())
        *psError = "--each-cpu: the processor table lists no CPU zoltpeers may run on";
    return pvOut->empty() ? 1 : 0;
}
