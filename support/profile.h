/* profile.h - profile (INI) file reader: sections of key=value lines, looked
 * up by section and key in the private-profile call shape. A lookup loads the
 * whole file, scans it and releases it again. Files of 65536 bytes or more
 * are refused (treated as unreadable). Main thread only: the file image and
 * scan position are process-wide and unlocked. */
#ifndef ZOLT_PROFILE_H
#define ZOLT_PROFILE_H

#include <stdint.h>

/* Longest line the scanner takes; a longer run of bytes is cut after it. */
#define ZOLT_PROFILE_LINE_MAX 511
/* Files must be shorter than this (16-bit size). */
#define ZOLT_PROFILE_FILE_LIMIT 65536u

/* The loaded file image (file size + 10 zero-filled bytes, a newline after
 * the data), NULL when nothing is loaded. */
extern char *lpSpeedINIHandleMem;
extern uint16_t wSpeedINIHandleSize; /* bytes read from the file */
extern uint32_t wSpeedINIHandlePtr;  /* scan position; 32-bit so a line cut at
                                          the end of a 65535-byte file cannot wrap */

/* With szKey: copies the key's value from the section (the first matching
 * key of the first matching section), else szDefault (NULL: empty), cut to
 * iSize - 1 characters and terminated; returns its length (0 and nothing
 * written when szBuf is NULL or iSize < 1). With szKey NULL: 1 if the section
 * exists, else 0; nothing written. Names compare without regard to case.
 * A missing or unreadable file behaves as one without the section. */
int ZoltGetPrivateProfileString(const char *szSection, const char *szKey, const char *szDefault,
                                char *szBuf, int iSize, const char *szPath);

/* A new heap copy of the value (zero-filled, length + 4 bytes), or NULL when
 * the section or key is missing or the value is empty. Caller frees. */
char *ZoltGetIniString(const char *szPath, const char *szSection, const char *szKey);

/* Loads the file image (releasing any previous one). Returns 1 when loaded,
 * 0 when the file cannot be opened, is not a regular file, is 65536 bytes or
 * more, or memory runs out (nothing loaded). */
int ZoltSpeedIniAccess(const char *szPath);
/* Releases the file image, if any. */
void ZoltEndSpeedIniAccess(void);

/* The worker of both lookups: as ZoltGetPrivateProfileString; when szBuf is
 * NULL and the value is found, a zero-filled buffer of length + 4 bytes is
 * allocated, stored in *ppAllocated (caller frees) and the length returned;
 * not found with szBuf NULL: 0, nothing allocated. */
int Zolt_I_GetPrivateProfileString(const char *szSection, const char *szKey, const char *szDefault,
                                   char *szBuf, int iSize, const char *szPath, char **ppAllocated);

#endif /* ZOLT_PROFILE_H */
