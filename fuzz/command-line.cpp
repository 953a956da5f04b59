/* command-line.cpp - fuzz target of the module's command-line reader: mode
 * words and the ref=, deffile=, device=, test=, percent=, errlimit=,
 * process= and sfifo= keys, with the texts bounded by their buffers and the
 * numbers by their rules.
 * Input: words separated by NUL bytes. */
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "dapi2.h"
#include "fuzz-common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    std::vector<std::string> vWords = FuzzSplit(pData, uSize, '\0');
    std::vector<char *> vArgv = FuzzArgv(vWords);

    int iMode = -7, iDevice = -7, iTest = -7, iErrLimit = 0;
    float fPercent = 50.0f;
    char szRef[DAPI2_REF_SIZE];
    char szDefFile[64]; /* smaller than the product's, so that cutting is exercised */
    memset(szRef, 'r', sizeof szRef);
    memset(szDefFile, 'd', sizeof szDefFile);
    szRef[0] = szDefFile[0] = '\0';
    FUZZ_CHECK(Dapi2_ParseCommandLine((int)vWords.size(), vArgv.data(), &iMode, szRef, sizeof szRef,
                                      szDefFile, sizeof szDefFile, &iDevice, &iTest, &fPercent,
                                      &iErrLimit) == 0);
    FUZZ_CHECK(strnlen(szRef, sizeof szRef) < sizeof szRef);
    FUZZ_CHECK(strnlen(szDefFile, sizeof szDefFile) < sizeof szDefFile);
    FUZZ_CHECK(strnlen(g_szProcessId, sizeof g_szProcessId) < sizeof g_szProcessId);
    FUZZ_CHECK(strnlen(g_szDapi2ServerFifoName, sizeof g_szDapi2ServerFifoName) <
               sizeof g_szDapi2ServerFifoName);
    FUZZ_CHECK(fPercent > 0.0f && fPercent <= 100.0f);
    FUZZ_CHECK(iErrLimit >= 0);
    /* Every null out pointer is skipped. */
    Dapi2_ParseCommandLine((int)vWords.size(), vArgv.data(), nullptr, nullptr, 0, nullptr, 0,
                           nullptr, nullptr, nullptr, nullptr);
    return 0;
}
