/* peers-observer.h - what the stand-in peers tell whoever drives them: every
 * packet they send or receive, a line of commentary, and each test event as it
 * arrives. The driver (zoltpeers' front end, or a test) fills g_PeersObserver;
 * all null is silent. Single-threaded. */
#ifndef ZOLT_PEERS_OBSERVER_H
#define ZOLT_PEERS_OBSERVER_H

struct PeersInvocation;
struct PeersEvent;

struct PeersObserver {
    /* szDir "in" (received from lPeer) or "out" (sent to lPeer) */
    void (*pfnPacket)(const char *szDir, long lPeer, const char *szPacket);
    /* a line of commentary for the readable report, newline included */
    void (*pfnText)(const char *szLine);
    /* an event just added to pInv->vEvents */
    void (*pfnLiveEvent)(const PeersInvocation *pInv, const PeersEvent *pEvent);
};
extern PeersObserver g_PeersObserver;

/* Each calls its callback when one is set. */
void PeersObservePacket(const char *szDir, long lPeer, const char *szPacket);
void PeersObserveText(const char *szFormat, ...) __attribute__((format(printf, 1, 2)));
void PeersObserveLiveEvent(const PeersInvocation *pInv, const PeersEvent *pEvent);

#endif
