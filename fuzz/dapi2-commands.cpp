/* dapi2-commands.cpp - fuzz target of the engine's commands to a running test
 * (Dapi2_CheckForIncomingMessages): the input builds a row of messages, each
 * of a type, a command and a TIMEOUT_VALUE text, or taken raw; they go into
 * the message table and are polled. Reference: the stop flag rises exactly
 * when a DAPI_COMMAND STOPTESTING came; the time-out held is the last
 * SENDINGTIMEOUT value read as a plain base-10 number held to the int range
 * (0 when the text is no number or does not fit the 100-byte field); the
 * table is empty afterwards. */
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "client-messaging-engine.h"
#include "dapi2-events.h"
#include "fuzz-common.h"

#define COMMANDS_MAX_MESSAGES 16
/* TIMEOUT_VALUE texts longer than this do not fit the 100-byte field. */
#define COMMANDS_FIELD_MAX 98

static const char *const s_aszTypes[] = { "DAPI_COMMAND", "DE_NOTIFY", "dapi_command", "" };
static const char *const s_aszCommands[] = { "STOPTESTING", "SENDINGTIMEOUT", "PAUSE",
                                             "SENDINGTIMEOUTX" };
static const char s_acValueChars[] = " 0123456789-+x9";

/* The value a text stands for: optional blanks, a sign, decimal digits, held
 * to the int range; 0 without digits. */
static int ReferenceValue(const std::string &s)
{
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        i++;
    bool bNeg = i < s.size() && s[i] == '-';
    if (i < s.size() && (s[i] == '-' || s[i] == '+'))
        i++;
    long long ll = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++)
        ll = ll > (long long)INT_MAX + 1 ? ll : ll * 10 + (s[i] - '0');
    ll = bNeg ? -ll : ll;
    return ll > INT_MAX ? INT_MAX : ll < INT_MIN ? INT_MIN : (int)ll;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    FuzzBytes in{ pData, uSize };
    while (ClientMessage *p = ZoltClientGetNextMessage(nullptr)) /* left by an input given up */
        ZoltClientFreeMessage(p);
    Dapi2_I_ResetEventState();
    g_iStopTesting = 0;
    bool bStop = false;
    int iTimeout = -2;
    for (int iMsg = 0; iMsg < COMMANDS_MAX_MESSAGES && in.uLeft > 0; iMsg++) {
        unsigned uOp = FuzzTake8(&in);
        std::string sMsg;
        if ((uOp & 0xC0) == 0xC0) { /* raw: the next bytes up to a NUL */
            size_t uLen = 0;
            while (uLen < in.uLeft && in.p[uLen] != 0)
                uLen++;
            sMsg.assign((const char *)in.p, uLen);
            in.p += uLen, in.uLeft -= uLen;
            FuzzTake8(&in);
            if (sMsg.find("DAPI_COMMAND") != std::string::npos)
                return 0; /* a raw command has no reference here */
        } else {
            const char *szType = s_aszTypes[uOp & 3];
            const char *szCmd = s_aszCommands[(uOp >> 2) & 3];
            std::string sValue;
            for (size_t n = FuzzTake8(&in) % 120; n > 0; n--)
                sValue += s_acValueChars[FuzzTake8(&in) % (sizeof s_acValueChars - 1)];
            sMsg = std::string("<MSG><HDR><FROM>1</FROM><TO>2</TO><ID>") + std::to_string(iMsg) +
                   "</ID><TYPE>" + szType + "</TYPE></HDR><DATA><DAPICOMMANDTYPE>" + szCmd +
                   "</DAPICOMMANDTYPE>" +
                   ((uOp & 16) != 0 ? "" : "<TIMEOUT_VALUE>" + sValue + "</TIMEOUT_VALUE>") +
                   "</DATA></MSG>";
            bool bCommand = (uOp & 3) == 0;
            bStop = bStop || (bCommand && ((uOp >> 2) & 3) == 0);
            if (bCommand && ((uOp >> 2) & 3) == 1)
                iTimeout = (uOp & 16) != 0 || sValue.size() > COMMANDS_FIELD_MAX
                               ? 0
                               : ReferenceValue(sValue);
        }
        FUZZ_CHECK(ZoltClient_I_MoveMessagesToTable(&sMsg[0]) == 0);
        if ((uOp & 32) != 0) /* poll now and then, not only at the end */
            Dapi2_CheckForIncomingMessages();
    }
    Dapi2_CheckForIncomingMessages();
    FUZZ_CHECK(ZoltClient_I_GetWaitingMessageCount() == 0);
    FUZZ_CHECK(g_iStopTesting == (bStop ? 1 : 0));
    FUZZ_CHECK(g_iTestTimeout == iTimeout);
    return 0;
}
