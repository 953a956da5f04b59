/* memlock-grant.cpp - a preload library for the end-to-end tests only (never
 * installed, never linked into the product): where the process may lock
 * memory (mlockall works) but not raise RLIMIT_MEMLOCK (EPERM), it lets a
 * change of that limit report success and leaves the limit as it was, so the
 * cache test runs for real on such a machine. Every other call and every
 * other failure goes to the C library unchanged.
 * <sys/resource.h> is left out on purpose: with 64-bit file offsets it
 * renames setrlimit to setrlimit64, and each entry point must keep its own
 * name here. The limit records are only passed on, never read. */
#include <dlfcn.h>
#include <errno.h>

namespace {

const int kMemlockResource = 8; /* RLIMIT_MEMLOCK on Linux/x86 */

/* The next definition of szName after this library (the C library's). */
void *Next(const char *szName)
{
    return dlsym(RTLD_NEXT, szName);
}

/* A refused change of the lock limit counts as done; else iResult as it is. */
int Granted(int iResource, const void *pNew, int iResult)
{
    if (iResult != 0 && errno == EPERM && iResource == kMemlockResource && pNew != nullptr) {
        errno = 0;
        return 0;
    }
    return iResult;
}

typedef int (*PFN_SET)(int iResource, const void *pNew);
typedef int (*PFN_PRLIMIT)(int iPid, int iResource, const void *pNew, void *pOld);

int Set(const char *szName, int iResource, const void *pNew)
{
    PFN_SET pfn = reinterpret_cast<PFN_SET>(Next(szName));
    if (pfn == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return Granted(iResource, pNew, pfn(iResource, pNew));
}

int Prlimit(const char *szName, int iPid, int iResource, const void *pNew, void *pOld)
{
    PFN_PRLIMIT pfn = reinterpret_cast<PFN_PRLIMIT>(Next(szName));
    if (pfn == nullptr) {
        errno = ENOSYS;
        return -1;
    }
    return Granted(iResource, pNew, pfn(iPid, iResource, pNew, pOld));
}

}  // namespace

/* The entry points through which a program (with 64-bit file offsets or not)
 * may change a limit. */
extern "C" int setrlimit(int iResource, const void *pNew)
{
    return Set("setrlimit", iResource, pNew);
}

extern "C" int setrlimit64(int iResource, const void *pNew)
{
    return Set("setrlimit64", iResource, pNew);
}

extern "C" int prlimit(int iPid, int iResource, const void *pNew, void *pOld)
{
    return Prlimit("prlimit", iPid, iResource, pNew, pOld);
}

extern "C" int prlimit64(int iPid, int iResource, const void *pNew, void *pOld)
{
    return Prlimit("prlimit64", iPid, iResource, pNew, pOld);
}
