/* param-check.h - --param values checked against the definitions file before
 * the module starts: the parameter must be one the test declares
 * (szParameterId[test][n]) and its value must read as the declared type
 * within iParameterMinValue / iParameterMaxValue. */
#ifndef ZOLT_PEERS_PARAM_CHECK_H
#define ZOLT_PEERS_PARAM_CHECK_H

#include <string>
#include <vector>

/* One declared parameter of a test. */
struct PeersParamDef {
    std::string sId, sType, sMin, sMax; /* sMin / sMax "" when not declared */
};

/* The parameters test iTest declares in the definitions file szPath, in the
 * order of their index. Returns 0, or 1 when the file cannot be read. */
int PeersReadParamDefs(const char *szPath, int iTest, std::vector<PeersParamDef> *pvOut);

/* Checks every "ID,VALUE" of vParams against vDefs (the ids compared without
 * regard to case). Returns 0, or 1 with *psError naming the parameter, what
 * is wrong and the valid choices. */
int PeersCheckParams(const std::vector<PeersParamDef> &vDefs, int iTest,
                     const std::vector<std::string> &vParams, std::string *psError);

#endif
