/* machine-info.h - what identifies the machine zoltpeers runs on: host name,
 * machine id, system serial number and UUID, kernel release, and the
 * processor (model name, family, model, stepping, microcode, and each
 * logical CPU's place). Every file is read through g_PeersMachinePaths. */
#ifndef ZOLT_PEERS_MACHINE_INFO_H
#define ZOLT_PEERS_MACHINE_INFO_H

#include "results.h"

/* The files read; tests point them at fixtures. */
struct PeersMachinePaths {
    const char *szCpuInfo;   /* "/proc/cpuinfo" */
    const char *szMachineId; /* "/etc/machine-id" */
    const char *szSerial;    /* "/sys/class/dmi/id/product_serial" */
    const char *szUuid;      /* "/sys/class/dmi/id/product_uuid" */
};
extern PeersMachinePaths g_PeersMachinePaths;

/* Fills *pInfo from the files, the host name and the kernel release. An item
 * that is missing, unreadable or a placeholder text stays empty. */
void PeersReadMachineInfo(PeersMachineInfo *pInfo);

#endif
