/* param-words.cpp - fuzz target of the test parameters as they arrive from
 * outside: "param=<id>,<value>" and "senderpid=" / "reid=" words of the
 * command line, the percentage parameter's value, the validation answer built
 * from the values, and one PARAMETER element of the engine read into a record.
 * Input: command-line words separated by NUL bytes; the same bytes (cut at
 * the first NUL) are also the PARAMETER element text. */
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "dapi2-param.h"
#include "fuzz-common.h"
#include "gen-str.h"
#include "param-valid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    std::vector<std::string> vWords = FuzzSplit(pData, uSize, '\0');
    std::vector<char *> vArgv = FuzzArgv(vWords);
    int iArgc = (int)vWords.size();

    Dapi2ParamList pair = { nullptr, nullptr };
    FUZZ_CHECK(Dapi2_ParamListConstruct(&pair));
    int iOk = GetParamsFromCommandLine(iArgc, vArgv.data(), &pair);
    FUZZ_CHECK(iOk == 0 || iOk == 1);
    for (const Dapi2Parameter *p = Dapi2_I_GetFirstParameterConst(&pair); p != nullptr;
         p = Dapi2_I_GetNextParameterConst(&pair)) {
        const char *szId = Dapi2_GetParameterId(p);
        FUZZ_CHECK(szId != nullptr && szId[0] != '\0');
        FUZZ_CHECK(Dapi2_GetParameterValAsStr(p) != nullptr);
    }
    int iValid = 1;
    ProcessPredefinedParameters(&pair, &iValid);
    CGenStr sAnswer;
    FUZZ_CHECK(CGenStrInit(&sAnswer));
    AppendValidateParmsXMLResults(&pair, &sAnswer);
    CGenStrDelete(&sAnswer);
    Dapi2_ParamListDestruct(&pair);

    long lSender = -1;
    unsigned long ulReId = 1;
    FUZZ_CHECK(GetSenderPidAndReId(iArgc, vArgv.data(), &lSender, &ulReId) == 1);

    Dapi2Parameter param;
    memset(&param, 0, sizeof param);
    FUZZ_CHECK(Dapi2_InitParameter(&param));
    int iHave = -1;
    Dapi2_AssignParameterFromXML(&param, vWords[0].c_str(), &iHave);
    Dapi2_GetParameterValAsInt32(&param);
    Dapi2_GetParameterValAsUInt32(&param);
    Dapi2_GetParameterValAsFloat(&param);
    Dapi2_GetParameterValAsBool(&param);
    Dapi2_DestructParameter(&param);
    return 0;
}
