/* message-table.cpp - fuzz target of the received-message table and its
 * lookup caches (RE, TYPE, FROM filled on a message's first search): the
 * input builds messages whose header fields come from small tables of texts
 * with known values, and runs finds, peeks and takes in any order. A model
 * list of the messages (with the values known from the tables) must give
 * the same answer to every operation: first match in arrival order, caches
 * or not. Input: one byte per operation, and its argument bytes. */
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "client-messaging-engine.h"
#include "fuzz-common.h"

#define TABLE_MAX_OPS 64

typedef struct TableNumber {
    const char *sz;
    long long llValue; /* what the text stands for */
} TableNumber;

/* RE texts: 4294967301 is 5 cut to 32 bits, so a search for 5 must not match it. */
static const TableNumber s_aRe[] = { { "5", 5 },  { "-5", -5 }, { "0005", 5 },
                                     { "7x", 7 }, { " 7", 7 },  { "4294967301", 4294967301LL },
                                     { "", 0 },   { "1", 1 } };
static const TableNumber s_aFrom[] = { { "812", 812 }, { "-3", -3 }, { "5", 5 }, { "813", 813 } };
static const char *const s_aszTypes[] = { "DE_NOTIFY", "ACK", "NLS_RETURNED", "ack" };
static const long s_alFindRe[] = { 5, -5, 7, 0, 1, 9 };
static const long s_alFindFrom[] = { 812, -3, 5, 813 };

typedef struct TableModel {
    std::string sText;
    bool bRe, bType, bFrom;
    long long llRe;
    int iType;
    long lFrom;
} TableModel;

static TableModel MakeMessage(FuzzBytes *pIn, unsigned uSerial)
{
    unsigned uFields = FuzzTake8(pIn), uRe = FuzzTake8(pIn) % 8, uFrom = FuzzTake8(pIn) % 4;
    TableModel m{ "",
                  (uFields & 1) != 0,
                  (uFields & 2) != 0,
                  (uFields & 4) != 0,
                  s_aRe[uRe].llValue,
                  (int)((uFields >> 3) & 3),
                  (long)s_aFrom[uFrom].llValue };
    m.sText = "<MSG><HDR>";
    if (m.bFrom)
        m.sText += std::string("<FROM>") + s_aFrom[uFrom].sz + "</FROM>";
    m.sText += "<TO>2</TO><ID>" + std::to_string(uSerial) + "</ID>";
    if (m.bRe)
        m.sText += std::string("<RE>") + s_aRe[uRe].sz + "</RE>";
    if (m.bType)
        m.sText += std::string("<TYPE>") + s_aszTypes[m.iType] + "</TYPE>";
    m.sText += "</HDR><DATA>" + std::to_string(uSerial) + "</DATA></MSG>";
    return m;
}

/* Index in the model of the first message that kind / key matches, or -1. */
static int ModelFind(const std::vector<TableModel> &v, unsigned uKind, unsigned uKey)
{
    for (size_t i = 0; i < v.size(); i++) {
        const TableModel &m = v[i];
        bool bMatch = uKind == 0
                          ? m.bRe && m.llRe == (long long)s_alFindRe[uKey % 6]
                          : m.bType && m.iType == (int)(uKey % 4) &&
                                (uKind == 1 || (m.bFrom && m.lFrom == s_alFindFrom[uKey % 4]));
        if (bMatch)
            return (int)i;
    }
    return -1;
}

static ClientMessage *TableFind(unsigned uKind, unsigned uKey)
{
    if (uKind == 0)
        return ZoltClientFindMessageWithReField(s_alFindRe[uKey % 6]);
    if (uKind == 1)
        return ZoltClientFindMessageWithTypeField(s_aszTypes[uKey % 4]);
    return ZoltClientFindMessageWithTypeFieldAndFromPid(s_alFindFrom[uKey % 4],
                                                        s_aszTypes[uKey % 4]);
}

static void Take(std::vector<TableModel> *pv, ClientMessage *pFound, int iModel)
{
    ClientMessage *pTaken = ZoltClientGetNextMessage(pFound);
    FUZZ_CHECK(pTaken != nullptr && pTaken->szMessage == (*pv)[(size_t)iModel].sText);
    FUZZ_CHECK(pTaken->pNext == nullptr);
    ZoltClientFreeMessage(pTaken);
    pv->erase(pv->begin() + iModel);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    FuzzBytes in{ pData, uSize };
    std::vector<TableModel> vModel;
    for (int iOp = 0; iOp < TABLE_MAX_OPS && in.uLeft > 0; iOp++) {
        unsigned uOp = FuzzTake8(&in);
        unsigned uKind = (uOp >> 2) % 3, uKey = uOp >> 4;
        if ((uOp & 3) == 0 || (uOp & 3) == 1) { /* a new message */
            TableModel m = MakeMessage(&in, (unsigned)iOp);
            FUZZ_CHECK(ZoltClient_I_MoveMessagesToTable(&m.sText[0]) == 0);
            vModel.push_back(m);
            continue;
        }
        ClientMessage *pFound = TableFind(uKind, uKey);
        int iModel = ModelFind(vModel, uKind, uKey);
        FUZZ_CHECK((pFound == nullptr) == (iModel < 0));
        if (pFound == nullptr)
            continue;
        FUZZ_CHECK(pFound->szMessage == vModel[(size_t)iModel].sText);
        FUZZ_CHECK(ZoltClientPeekMessage(pFound) == pFound);
        if ((uOp & 3) == 3)
            Take(&vModel, pFound, iModel);
        else if ((uOp & 0x40) != 0) /* the first one goes */
            Take(&vModel, nullptr, 0);
    }
    FUZZ_CHECK(ZoltClient_I_GetWaitingMessageCount() == (int)vModel.size());
    while (ClientMessage *p = ZoltClientGetNextMessage(nullptr))
        ZoltClientFreeMessage(p);
    return 0;
}
