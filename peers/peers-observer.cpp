/* peers-observer.cpp - the callbacks through which the stand-in peers report
 * packets, commentary and live events to their driver. */
#include "peers-observer.h"

#include <stdarg.h>
#include <stdio.h>

PeersObserver g_PeersObserver = { nullptr, nullptr, nullptr };

void PeersObservePacket(const char *szDir, long lPeer, const char *szPacket)
{
    if (g_PeersObserver.pfnPacket != nullptr)
        g_PeersObserver.pfnPacket(szDir, lPeer, szPacket);
}

/* Formats one line of commentary (cut at 1 KiB) and passes it on. */
void PeersObserveText(const char *szFormat, ...)
{
    if (g_PeersObserver.pfnText == nullptr)
        return;
    char szLine[1024];
    va_list ap;
    va_start(ap, szFormat);
    vsnprintf(szLine, sizeof szLine, szFormat, ap);
    va_end(ap);
    g_PeersObserver.pfnText(szLine);
}

void PeersObserveLiveEvent(const PeersInvocation *pInv, const PeersEvent *pEvent)
{
    if (g_PeersObserver.pfnLiveEvent != nullptr)
        g_PeersObserver.pfnLiveEvent(pInv, pEvent);
}
