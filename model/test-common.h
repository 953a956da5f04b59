/* test-common.h - shared support code of the framework's programs: the parser
 * that rebuilds device records from one COMPONENT element of the diagnostic
 * engine's device-list answer. */
#ifndef ZOLT_TEST_COMMON_H
#define ZOLT_TEST_COMMON_H

#include "device-record.h"
#include "gen-list.h"
#include "gen-str.h"

/* Work text of one DEVICE element starts with room for this many characters. */
#define ZOLT_DEVICE_TEXT_RESERVE 2048

/* Appends one Dapi2Device per "DEVICE" element of the component text to pList
 * (a list of device records the caller constructed; it takes ownership of the
 * records). Reads DID, NAME, DESCRIPTION, OSLOCATOR, HWLOCATOR, DEVTYPE,
 * BUSTYPE, TESTS_SUPPORTED (missing texts become empty), the six FRU_ texts and
 * the FRU_ADDINFO_FIELD/DESC/VALUE triples. A device without DID or with an
 * empty NAME is skipped.
 * Returns 0 after parsing (also when a record could not be allocated: the
 * records added so far stay), 1 for a null component, 6 when the device work
 * text cannot be set up. Out of memory for the element work texts is a verify
 * stop (exit status 1). Main thread. */
int ZoltParseModuleDeviceList(CGenList *pList, const CGenStr *pComponent);

#endif
