/* process-id.cpp - the operating system's process id and the own process id
 * kept from the first call (FIFO names and the FROM of every message use it, so
 * it must not change while a connection is open). */
#include "process-id.h"

#include <unistd.h>

static long g_clientProcessId = 0;

/* The operating system's process id. */
long ZoltGetPid(void)
{
    return (long)getpid();
}

/* The own process id, taken at the first call and kept for the process. */
long ZoltGetClientPid(void)
{
    if (g_clientProcessId == 0)
        g_clientProcessId = ZoltGetPid();
    return g_clientProcessId;
}
