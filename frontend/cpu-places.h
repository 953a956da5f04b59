/* cpu-places.h - the logical CPUs zoltpeers may test one by one: their core,
 * package and APIC id from the processor table, the module device that holds
 * each (the module's own grouping of the table), and the choice of --cpus. */
#ifndef ZOLT_PEERS_CPU_PLACES_H
#define ZOLT_PEERS_CPU_PLACES_H

#include <string>
#include <vector>

#include "results.h"

/* Test seam: the processor table read (default "/proc/cpuinfo"). */
extern const char *g_szPeersCpuInfoPath;

/* One logical CPU of the table and the module device (its index) that holds it. */
struct PeersCpu {
    PeersCpuPlace place;
    int iDevice;
};

/* Parses a processor table's text: one record per "processor" line, in
 * order; a missing field stays -1. Each CPU's device is numbered as the
 * module numbers its devices: a new one per record, except that a record with
 * the "ht" flag joins the device of an earlier record of its physical id. */
std::vector<PeersCpu> PeersParseCpuTable(const std::string &sText);

/* The CPUs to test one by one: those of the table (g_szPeersCpuInfoPath) on
 * which this process may run, or the vCpus asked for. Returns 0, or 1 with
 * *psError naming a CPU asked for that is not in the table or not allowed, or
 * a table without a CPU this process may run on. */
int PeersChooseCpus(const std::vector<int> &vCpus, int bCpusGiven, std::vector<PeersCpu> *pvOut,
                    std::string *psError);

#endif
