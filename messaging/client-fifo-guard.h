/* client-fifo-guard.h - the module's own read FIFO as a verified file: the one
 * name the module ever removes (only while it still names the FIFO that was
 * verified), and the SIGTERM, SIGINT and SIGHUP handlers that remove it before
 * the process ends by the same signal. */
#ifndef ZOLT_CLIENT_FIFO_GUARD_H
#define ZOLT_CLIENT_FIFO_GUARD_H

#include <sys/types.h>

/* Starts guarding szPath before anything is made there: the three signals are
 * caught from now on (a signal the process ignores stays ignored), and one
 * arriving before ZoltClient_I_GuardArm is held back until then. Returns 0,
 * or 1 when szPath does not fit (nothing is guarded). Main thread. */
int ZoltClient_I_GuardBegin(const char *szPath);
/* The guarded path was verified as a FIFO with this device and inode: from
 * now on a signal removes it (while the name still refers to it) and ends the
 * process by the same signal. A signal held back meanwhile does so now. */
void ZoltClient_I_GuardArm(dev_t dev, ino_t ino);
/* Removes the guarded name if it still names the verified FIFO (never a
 * link, never anything else standing there now) and forgets it. Returns 0
 * when removed, 1 when nothing was verified or the name no longer refers to
 * it. Main thread. */
int ZoltClient_I_GuardRemove(void);
/* Stops guarding without removing anything: the previous dispositions come
 * back, and a signal held back meanwhile is raised now. Main thread. */
void ZoltClient_I_GuardEnd(void);

#endif
