/* nls-engine.h - the stand-in language-string engine (NLSENGINE): string files
 * registered per module process, NLS tags parsed and translated with their
 * variables filled in, and the answers to "NLS_REGMOD:" and "NLS_GETSTRING:".
 * String files are definitions files: section "NLS_<LANG>" (e.g. NLS_EN) maps
 * string ids to texts in which "{name}" stands for the tag's variable name.
 * Single-threaded: the profile reader it uses keeps process-wide state. */
#ifndef ZOLT_PEERS_NLS_ENGINE_H
#define ZOLT_PEERS_NLS_ENGINE_H

#include <string>
#include <vector>

/* Language of the fall-back texts and prefix of the string sections. */
#define PEERS_NLS_DEFAULT_LANG "EN"
#define PEERS_NLS_SECTION_PREFIX "NLS_"

/* One string file: the module process that registered it (0: none), the
 * module name read from its section "Module" and its path. */
struct PeersNlsFile {
    long lPid;
    std::string sModule;
    std::string sPath;
};

/* The engine's state: registered files, the default file for tags whose
 * module is unknown, and what was asked (for the report). */
struct PeersNls {
    std::vector<PeersNlsFile> vFiles;
    std::string sDefaultPath;
    int iRegistrations;  /* NLS_REGMOD commands answered */
    int iStringsAsked;   /* NLS_GETSTRING commands answered */
    int iStringsUnknown; /* ... of which had no text */
};

/* One variable of a tag, its value decoded from the @hh escaping. */
struct PeersNlsVar {
    std::string sName;
    std::string sValue;
};

/* A parsed tag "<NLS [mod=M ]id=I[ name=value]... />". */
struct PeersNlsTag {
    std::string sModule; /* empty when the tag names none */
    std::string sId;
    std::vector<PeersNlsVar> vVars;
};

/* Empties the state; szDefaultPath (may be null) is the file used for tags of
 * unknown modules. */
void PeersNlsInit(PeersNls *pNls, const char *szDefaultPath);

/* Registers the string file szPath for module process lPid (from STARTUP's
 * NLSDATA); a second registration of the same pid replaces the first. */
void PeersNlsRegister(PeersNls *pNls, long lPid, const char *szPath);

/* Releases the string file of module process lPid (its module has ended), so
 * that the engine keeps entries only for modules that are running. */
void PeersNlsForget(PeersNls *pNls, long lPid);

/* Parses one tag. Values are split from the next variable at a blank followed
 * by "name=" (a blank inside a value is kept, '=' is always escaped there).
 * Returns 0, 1 when szTag is not "<NLS ...>" ending in "/>", 2 when it has no id. */
int PeersNlsParseTag(const char *szTag, PeersNlsTag *pTag);

/* Text of szId from file szPath in szLang (null: EN), falling back to EN.
 * sLang gets the language found. Returns 0, or 2 when neither has a non-empty
 * text (sText then empty). */
int PeersNlsLookup(const char *szPath, const char *szLang, const char *szId, std::string &sText,
                   std::string &sLang);

/* Replaces every "{name}" of sTemplate with the value of the tag's variable
 * of that name; unknown names stay as written. */
std::string PeersNlsFill(const std::string &sTemplate, const PeersNlsTag &tag);

/* The string file for a tag naming szModule (the part before its first '.'
 * is compared, without regard to case) sent by process lPid: the file of that
 * module, else the file of that process, else the default. Never null ("" when
 * none is known). */
const char *PeersNlsPathFor(const PeersNls *pNls, const char *szModule, long lPid);

/* Translates one tag into szLang (null: EN) with its variables filled in.
 * Returns 0 translated, 1 not a tag, 2 no text known (sOut then holds the tag). */
int PeersNlsTranslateTag(const PeersNls *pNls, const char *szTag, const char *szLang, long lPid,
                         std::string &sOut, std::string *psLang);

/* The text with every complete NLS tag ("<NLS " ... "/>") translated into
 * English; text around the tags, and tags without a known text, stay as they are. */
std::string PeersNlsTranslateText(const PeersNls *pNls, const char *szText, long lPid);

/* Answers the DATA text of one NLS_COMMAND from process lFromPid with a whole
 * DATA element for the reply:
 *   "NLS_REGMOD:<pid>:<file>"       -> "<DATA>NLS_REGMOD_OK</DATA>"
 *   "NLS_GETSTRING:<LL>:<tag>"      -> "<DATA>" tag "<LL>" escaped text "</LL></DATA>",
 *                                      or "<DATA>" tag "</DATA>" when no text is known
 * Returns 1 (REGMOD), 2 (GETSTRING) or 0 (not a command this engine knows; the
 * element then says "NLS_UNKNOWN"). */
int PeersNlsAnswer(PeersNls *pNls, long lFromPid, const char *szData, std::string &sDataElement);

#endif
