/* param-check.cpp - the parameter declarations of a definitions file and the
 * check of --param values against them. */
#include "param-check.h"

#include <errno.h>
#include <stdlib.h>
#include <strings.h>

#include <sstream>

#include "safe-path.h"

/* Reads "key[t][n]=value" into its parts. Returns 0 or 1. */
static int SplitKey(const std::string &sLine, std::string *psKey, int *piTest, int *piIndex,
                    std::string *psValue)
{
    size_t uEq = sLine.find('='), uOpen = sLine.find('[');
    if (uEq == std::string::npos || uOpen == std::string::npos || uOpen > uEq)
        return 1;
    if (sscanf(sLine.c_str() + uOpen, "[%d][%d]", piTest, piIndex) != 2 || *piIndex < 0 ||
        *piIndex > 255)
        return 1;
    *psKey = sLine.substr(0, uOpen);
    *psValue = sLine.substr(uEq + 1);
    while (!psValue->empty() && (psValue->back() == '\r' || psValue->back() == ' '))
        psValue->pop_back();
    return 0;
}

int PeersReadParamDefs(const char *szPath, int iTest, std::vector<PeersParamDef> *pvOut)
{
    pvOut->clear();
    std::string sText, sWhy;
    if (PeersReadSmallFile(szPath, PEERS_READ_FILE_LIMIT, &sText, &sWhy) != 0)
        return 1; /* never a FIFO, a device or a huge file */
    std::istringstream in(sText);
    std::string sLine, sKey, sValue;
    int iT = 0, iN = 0;
    while (std::getline(in, sLine)) {
        if (SplitKey(sLine, &sKey, &iT, &iN, &sValue) != 0 || iT != iTest)
            continue;
        if ((size_t)iN >= pvOut->size())
            pvOut->resize((size_t)iN + 1);
        PeersParamDef &d = (*pvOut)[(size_t)iN];
        if (sKey == "szParameterId")
            d.sId = sValue;
        else if (sKey == "szParameterType")
            d.sType = sValue;
        else if (sKey == "iParameterMinValue")
            d.sMin = sValue;
        else if (sKey == "iParameterMaxValue")
            d.sMax = sValue;
    }
    std::vector<PeersParamDef> vNamed;
    for (const PeersParamDef &d : *pvOut)
        if (!d.sId.empty())
            vNamed.push_back(d);
    *pvOut = vNamed;
    return 0;
}

/* Reads sText as a number of type sType. Returns 0 or 1. */
static int ReadValue(const std::string &sText, const std::string &sType, double *pdOut)
{
    if (sText.empty())
        return 1;
    char *pEnd = nullptr;
    errno = 0;
    if (sType == "float" || sType == "double")
        *pdOut = strtod(sText.c_str(), &pEnd);
    else
        *pdOut = (double)strtoll(sText.c_str(), &pEnd, 10);
    if (*pEnd != '\0' || errno != 0 || *pdOut != *pdOut)
        return 1;
    return sType.compare(0, 4, "uint") == 0 && *pdOut < 0 ? 1 : 0;
}

/* Checks one value against its declaration. Returns 0, or 1 with *psError. */
static int CheckValue(const PeersParamDef &d, const std::string &sValue, std::string *psError)
{
    double dValue = 0, dBound = 0;
    if (ReadValue(sValue, d.sType, &dValue) != 0) {
        *psError = "--param " + d.sId + ": '" + sValue + "' is not a " +
                   (d.sType.empty() ? "number" : d.sType) + " value";
        return 1;
    }
    if ((!d.sMin.empty() && ReadValue(d.sMin, "float", &dBound) == 0 && dValue < dBound) ||
        (!d.sMax.empty() && ReadValue(d.sMax, "float", &dBound) == 0 && dValue > dBound)) {
        *psError = "--param " + d.sId + ": " + sValue + " is out of range; give " +
                   (d.sMin.empty() ? "any" : d.sMin) + " to " + (d.sMax.empty() ? "any" : d.sMax);
        return 1;
    }
    return 0;
}

int PeersCheckParams(const std::vector<PeersParamDef> &vDefs, int iTest,
                     const std::vector<std::string> &vParams, std::string *psError)
{
    for (const std::string &sParam : vParams) {
        size_t uComma = sParam.find(',');
        std::string sId = sParam.substr(0, uComma), sValue = sParam.substr(uComma + 1);
        const PeersParamDef *pDef = nullptr;
        std::string sKnown;
        for (const PeersParamDef &d : vDefs) {
            sKnown += (sKnown.empty() ? "" : ", ") + d.sId;
            if (strcasecmp(d.sId.c_str(), sId.c_str()) == 0)
                pDef = &d;
        }
        if (pDef == nullptr) {
            *psError = "--param " + sId + ": test " + std::to_string(iTest) +
                       " has no such parameter; it takes " + (sKnown.empty() ? "none" : sKnown);
            return 1;
        }
        if (CheckValue(*pDef, sValue, psError) != 0)
            return 1;
    }
    return 0;
}
