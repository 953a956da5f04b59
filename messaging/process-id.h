/* process-id.h - the process ids the messaging layer writes into FIFO names and
 * message headers: the operating system's id and the own id kept from the first
 * call. The lowest piece of the messaging layer, beside the pipe transport. */
#ifndef ZOLT_PROCESS_ID_H
#define ZOLT_PROCESS_ID_H

/* The operating system's process id. */
long ZoltGetPid(void);
/* The own process id, taken at the first call and kept. */
long ZoltGetClientPid(void);

#endif
