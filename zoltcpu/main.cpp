/* main.cpp - entry of the zoltcpu diagnostic module: registers the CPU
 * module's enumerate, diagnostic and system-information callbacks with the
 * framework, declares version 1.2.11 and runs the one requested mode. */
#include <stdio.h>

#include "dapi2.h"
#include "memory-alloc.h"
#include "trace.h"
#include "zoltcpu.h"

/* Returns the framework's exit status: 0 the mode ran (or the version was
 * printed), 1 no registration structure, 28 to 31 as Dapi2_Main gives them. */
int main(int argc, char **argv)
{
    ProcessTracingArgs(argc, argv);
    Dapi2RegInfo *pReg = Dapi2_CreateRegistrationStructure();
    if (pReg == NULL) {
        printf("ERROR -- memory allocation problem.\n");
        return DAPI2_EXIT_NOMEM;
    }
    Dapi2_AddRegistrationStructureCallback(pReg, DAPI2_SLOT_ENUMERATE,
                                           reinterpret_cast<Dapi2Callback>(OurEnumFunction));
    Dapi2_AddRegistrationStructureCallback(pReg, DAPI2_SLOT_RUNDIAG,
                                           reinterpret_cast<Dapi2Callback>(OurDiagFunction));
    Dapi2_AddRegistrationStructureCallback(pReg, DAPI2_SLOT_SYSINFO,
                                           reinterpret_cast<Dapi2Callback>(OurSysInfoFunction));
    Dapi2_Version(1, 2, 11);
    int iStatus = Dapi2_Main(argc, argv, pReg);
    FinishMemoryBlockTracing();
    Dapi2_FreeRegistrationStructure(pReg);
    return iStatus;
}
