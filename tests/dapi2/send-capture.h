/* Shared by the dapi2 tests: a send seam that keeps every message, a fixture
 * that routes the sends there, lookups in the captured messages, and an
 * argument vector built from words. */
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dapi2.h"
#include "message-protocol.h"

/* argv of the words (pointers into them), closed by a null. */
inline std::vector<char *> Argv(std::vector<std::string> &words)
{
    std::vector<char *> argv;
    for (auto &w : words)
        argv.push_back(&w[0]);
    argv.push_back(nullptr);
    return argv;
}

inline std::vector<std::string> g_sent;
inline int g_iSendResult = 0; /* what the stand-in send returns */

inline int CaptureSend(const char *szMessage)
{
    return g_sent.emplace_back(szMessage), g_iSendResult;
}

/* Clears what was captured and routes the framework's sends here. */
inline void StartCapture()
{
    g_sent.clear(), g_iSendResult = 0, g_pfnDapi2SendMessage = CaptureSend;
}

/* A test whose sends are captured, the product's seams back after it. */
class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartCapture();
    }
    void TearDown() override
    {
        g_pfnDapi2SendMessage = nullptr, g_szDapi2CmdlinePath = "/proc/%d/cmdline";
    }
};

/* The DATA element of a message, tags included, or "". */
inline std::string DataOf(const std::string &msg)
{
    size_t uStart = msg.find("<DATA>"), uEnd = msg.rfind("</DATA>");
    return uStart == std::string::npos || uEnd == std::string::npos
               ? ""
               : msg.substr(uStart, uEnd + 7 - uStart);
}

inline std::string Field(const std::string &msg, const char *szPath)
{
    char szBuf[512];
    return ZoltXmlGetField(msg.c_str(), szPath, 0, szBuf, sizeof szBuf) != 0 ? "<missing>" : szBuf;
}
