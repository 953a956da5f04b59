/* param-check.cpp - fuzz target of zoltpeers' --param check. The input
 * builds parameter declarations (id, type, bounds from small tables of texts
 * whose values are known) written as a definitions file among lines of other
 * tests and junk lines, and --param words "ID,VALUE". References: reading the
 * file gives back exactly the declarations of the test asked for, in index
 * order; a word passes exactly when its id is declared (without regard to
 * case; the last such declaration counts) and its value reads as the type
 * (integers for every type but float and double; no negative for uint*)
 * within the bounds that read as numbers; a refusal names the parameter (in
 * any case). */
#include <math.h>
#include <stdint.h>
#include <string.h>
#include <strings.h>

#include <string>
#include <vector>

#include "fuzz-common.h"
#include "param-check.h"

/* A text with what it reads as: an integer (bInt) and a floating value (bFloat). */
typedef struct ParamText {
    const char *sz;
    bool bInt;
    long long llInt;
    bool bFloat;
    double dFloat;
} ParamText;

static const ParamText s_aValues[] = {
    { "5", true, 5, true, 5 },
    { "-5", true, -5, true, -5 },
    { "0", true, 0, true, 0 },
    { "100", true, 100, true, 100 },
    { "1e3", false, 0, true, 1000 },
    { "2.5", false, 0, true, 2.5 },
    { "abc", false, 0, false, 0 },
    { "", false, 0, false, 0 },
    { "99999999999999999999", false, 0, true, 1e20 },
    { "4294967295", true, 4294967295LL, true, 4294967295.0 },
    { "nan", false, 0, false, 0 },
    { "-0", true, 0, true, -0.0 },
    { "-1", true, -1, true, -1 },
    { "0x10", false, 0, true, 16 },
    { "5 ", false, 0, false, 0 }, /* last: a value only (a bound loses its blank) */
};
static const char *const s_aszIds[] = { "COUNT", "count", "Mode", "x_1", "" };
static const char *const s_aszTypes[] = { "int", "uint8", "float", "double", "" };

typedef struct ParamDecl {
    unsigned uId, uType, uMin, uMax; /* uMin / uMax: index + 1, 0 none */
} ParamDecl;

static const size_t s_nValues = sizeof s_aValues / sizeof s_aValues[0];

static bool ReadAs(const ParamText &t, const std::string &sType, double *pd)
{
    bool bFloat = sType == "float" || sType == "double";
    if (bFloat ? !t.bFloat : !t.bInt)
        return false;
    *pd = bFloat ? t.dFloat : (double)t.llInt;
    return !(sType.compare(0, 4, "uint") == 0 && *pd < 0);
}

/* 0 pass, 1 refused. */
static int Reference(const std::vector<ParamDecl> &vDecl, unsigned uId, unsigned uValue)
{
    const ParamDecl *pDecl = nullptr;
    for (const ParamDecl &d : vDecl)
        if (s_aszIds[d.uId][0] != '\0' && strcasecmp(s_aszIds[d.uId], s_aszIds[uId]) == 0)
            pDecl = &d;
    double dValue = 0;
    if (pDecl == nullptr || !ReadAs(s_aValues[uValue], s_aszTypes[pDecl->uType], &dValue))
        return 1;
    const ParamText *pMin = pDecl->uMin ? &s_aValues[pDecl->uMin - 1] : nullptr;
    const ParamText *pMax = pDecl->uMax ? &s_aValues[pDecl->uMax - 1] : nullptr;
    if (pMin != nullptr && pMin->bFloat && dValue < pMin->dFloat)
        return 1;
    return pMax != nullptr && pMax->bFloat && dValue > pMax->dFloat ? 1 : 0;
}

/* The declarations file: test 1's declarations, test 2's and junk between;
 * bounds from all texts but the last. */
static std::string DefsFile(FuzzBytes *pIn, std::vector<ParamDecl> *pvDecl)
{
    std::string s = "[Tests]\r\nnoise without equals\n";
    size_t nDecl = FuzzTake8(pIn) % 6;
    for (size_t i = 0; i < nDecl; i++) {
        ParamDecl d = { FuzzTake8(pIn) % 5, FuzzTake8(pIn) % 5,
                        FuzzTake8(pIn) % (unsigned)s_nValues,
                        FuzzTake8(pIn) % (unsigned)s_nValues };
        std::string sIdx = "[1][" + std::to_string(i) + "]=";
        s += "szParameterId" + sIdx + s_aszIds[d.uId] + "\r\n";
        s += "szParameterType" + sIdx + s_aszTypes[d.uType] + "\n";
        if (d.uMin)
            s += std::string("iParameterMinValue") + sIdx + s_aValues[d.uMin - 1].sz + "\n";
        if (d.uMax)
            s += std::string("iParameterMaxValue") + sIdx + s_aValues[d.uMax - 1].sz + "\n";
        s += "szParameterId[2][" + std::to_string(i) + "]=OTHER\n";
        if (s_aszIds[d.uId][0] != '\0') /* a declaration without id is dropped */
            pvDecl->push_back(d);
    }
    return s;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    FuzzBytes in{ pData, uSize };
    std::vector<ParamDecl> vDecl;
    std::string sFile = DefsFile(&in, &vDecl);
    static std::string s_sPath = FuzzTempPath("defs.ini");
    FuzzWriteFile(s_sPath, sFile.data(), sFile.size());
    std::vector<PeersParamDef> vDefs;
    FUZZ_CHECK(PeersReadParamDefs(s_sPath.c_str(), 1, &vDefs) == 0);
    FUZZ_CHECK(vDefs.size() == vDecl.size());
    for (size_t i = 0; i < vDefs.size(); i++) {
        const ParamDecl &d = vDecl[i];
        FUZZ_CHECK(vDefs[i].sId == s_aszIds[d.uId] && vDefs[i].sType == s_aszTypes[d.uType]);
        FUZZ_CHECK(vDefs[i].sMin == (d.uMin ? s_aValues[d.uMin - 1].sz : ""));
        FUZZ_CHECK(vDefs[i].sMax == (d.uMax ? s_aValues[d.uMax - 1].sz : ""));
    }
    while (in.uLeft > 0) {
        unsigned uId = FuzzTake8(&in) % 5, uValue = FuzzTake8(&in) % (unsigned)s_nValues;
        std::string sWord = std::string(s_aszIds[uId]) + "," + s_aValues[uValue].sz, sError;
        int iRc = PeersCheckParams(vDefs, 1, { sWord }, &sError);
        FUZZ_CHECK(iRc == Reference(vDecl, uId, uValue));
        std::string sNamed = std::string("--param ") + s_aszIds[uId] + ":";
        if (iRc != 0) /* named as given or as declared: the case may differ */
            FUZZ_CHECK(strncasecmp(sError.c_str(), sNamed.c_str(), sNamed.size()) == 0);
    }
    return 0;
}
