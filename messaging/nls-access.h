/* nls-access.h - language strings: NLS tags, asking the language-string engine
 * for their texts, registering the module's string file, adding variables. */
#ifndef ZOLT_NLS_ACCESS_H
#define ZOLT_NLS_ACCESS_H

#include "gen-str.h"

/* The default language ("EN"); never changed by the module. */
extern char g_szLocalDefaultLanguage[3];

/* Commands are built in 200-byte buffers: "NLS_GETSTRING:" + language + ":" +
 * tag must stay below 200 characters. */
#define ZOLT_NLS_COMMAND_SIZE 200
/* The answer to a string request is read into 8192 bytes. */
#define ZOLT_NLS_REPLY_SIZE 8192
/* The engine has 5 s to answer a request. */
#define ZOLT_NLS_TIMEOUT_MS 5000

/* Asks the engine for the text of szTag ("<NLS ...>") in szLanguage (null =
 * default; must be 2 characters). szReturnedLanguage (3 bytes) gets the
 * language of the text, or "TK" when the engine has none and the tag itself
 * is returned. Returns 1 with the text in pResult, else 0 (no engine, no
 * answer, bad tag or language, request too long). Main thread. */
int ZoltGetNlsStringWithXmlTag(const char *szTag, const char *szLanguage, char *szReturnedLanguage,
                               CGenStr *pResult);
/* Text of "<NLS [mod=szModule ]id=szId/>" into szBuffer (iSize bytes).
 * Returns szBuffer, or null (szBuffer "" when the request failed, the overflow
 * marker when the text does not fit). szModule and szLanguage may be null. */
char *ZoltGetNlsStringWithIdEx(const char *szModule, const char *szId, const char *szLanguage,
                               char *szBuffer, int iSize);
char *ZoltGetNlsStringWithId(const char *szId, char *szBuffer, int iSize);
/* "EN". */
const char *ZoltGetLocalDefaultLanguage(void);

/* Registers the string file szPath (its base name) with the engine.
 * Returns 0, 1 bad module name, 2 no memory, 3 command not built, 4 no answer. */
int ZoltNlsRegisterModuleNlsFile(const char *szPath);

/* Adds " szName=<escaped szValue>" before the tag's closing "/>".
 * Returns 0; 1 bad name; 2 tag null; 4 value null; 5 not "<NLS "; 6 no "/>"
 * at the end; 7 value not escaped; 9 tag not cut; 10 not appended. */
int ZoltNlsAddVariableToTagStr(CGenStr *pTag, const char *szName, const char *szValue);
/* Same on a buffer of iSize bytes: 2 for a null buffer, 3 when the tag or the
 * result does not fit (buffer unchanged). */
int ZoltNlsAddVariableToTag(char *szTag, int iSize, const char *szName, const char *szValue);

/* Appends szMessage to pResult with every NLS tag replaced by its text in
 * szLanguage (the default when it is not 2 characters; a tag the engine does
 * not translate stays as it is). Returns 1, or 0 (null message, no language,
 * append failed). */
int ZoltGetNlsMessageWithXmlMessage(const char *szMessage, const char *szLanguage,
                                    CGenStr *pResult);

#endif
