/* mlock-refuse.cpp - a preload library for the end-to-end tests only (never
 * installed, never linked into the product): it makes mlockall fail with
 * EPERM, as on a machine where the process holds no right to lock memory, so
 * the cache test's privilege failure can be seen where locking would work.
 * Every other call goes to the C library unchanged. */
#include <errno.h>

extern "C" int mlockall(int /* iFlags */)
{
    errno = EPERM;
    return -1;
}
