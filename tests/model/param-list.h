/* param-list.h - parameters for the parameter tests: one made from its id and
 * value texts and added to a list, and a list released at the end of its scope. */
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include "param-valid.h"

/* A new parameter szId with the value text szValue, added to pList. */
inline Dapi2Parameter *AddParam(Dapi2ParamList *pList, const char *szId, const char *szValue)
{
    Dapi2Parameter *p = (Dapi2Parameter *)calloc(1, sizeof(Dapi2Parameter));
    EXPECT_EQ(Dapi2_InitParameter(p), 1);
    EXPECT_EQ(Dapi2_SetParameterId(p, szId), 1);
    EXPECT_EQ(Dapi2_SetParameterValFromStr(p, szValue), 1);
    EXPECT_EQ(Dapi2_AddParameter(pList, p), 1);
    return p;
}

/* A list constructed here and destructed at the end of the scope. */
struct ParamListGuard {
    Dapi2ParamList pair{};
    ParamListGuard()
    {
        EXPECT_EQ(Dapi2_ParamListConstruct(&pair), 1);
    }
    ~ParamListGuard()
    {
        Dapi2_ParamListDestruct(&pair);
    }
    Dapi2Parameter *Add(const char *szId, const char *szValue)
    {
        return AddParam(&pair, szId, szValue);
    }
};
