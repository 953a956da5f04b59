/* nls-reply.cpp - fuzz target of the language-string request's answer
 * reading: a string request goes out over a real broker FIFO (drained here)
 * while its answer, carrying the request's id in RE and the input as its
 * DATA, is already in the client message table, so the transaction finds it
 * at once and the text is picked out of it (requested language, "<EN>",
 * else the tag itself with "TK").
 * Input: bytes 0-1 are the requested language; the rest (cut at its first
 * NUL) is the answer's DATA text. */
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "client-connection-manager.h"
#include "client-fifo-access.h"
#include "client-messaging-engine.h"
#include "fuzz-common.h"
#include "gen-str.h"
#include "message-protocol.h"
#include "nls-access.h"
#include "pipe-lowlevel.h"

static const char s_szTag[] = "<NLS mod=zoltcpu id=szFuzz/>";
static int s_hBroker = -1;

/* A pipe directory with a broker FIFO that this target reads, and the
 * client's FIFO ends opened as in a live connection. */
static void SetUpConnection(void)
{
    unsetenv("ZOLT_TMP");
    FUZZ_CHECK(ZoltSetPipeDirectory(FuzzTempDir()) == 0);
    ZoltSetServerFifoNameEx("");
    std::string sBroker = FuzzTempPath("ZOLTFIFO");
    FUZZ_CHECK(mkfifo(sBroker.c_str(), 0600) == 0);
    s_hBroker = open(sBroker.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    FUZZ_CHECK(s_hBroker >= 0);
    ZoltInitPipes();
    FUZZ_CHECK(ZoltClient_I_OpenFifoConnection() == 0);
    atexit([] {
        ZoltClient_I_CloseFifoConnection();
        ZoltCleanupPipes();
        close(s_hBroker);
    });
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t uSize)
{
    if (uSize < 2)
        return 0;
    if (s_hBroker < 0)
        SetUpConnection();
    char ab[4096];
    while (read(s_hBroker, ab, sizeof ab) > 0) {
    }

    char szLang[3] = { (char)pData[0], (char)pData[1], '\0' };
    std::string sData = FuzzText(pData + 2, uSize - 2);
    /* The request takes the next id: this one plus one. */
    uint32_t uNextId = ZoltGetLocallyUniqueMessageId() + 1;
    char szHead[160];
    snprintf(
        szHead, sizeof szHead,
        "<MSG><HDR><FROM>1</FROM><TO>%ld</TO><ID>9</ID><RE>%lu</RE><TYPE>NLS_RESPONSE</TYPE></HDR><DATA>",
        ZoltGetLocalProcessId(), (unsigned long)uNextId);
    std::string sAnswer = std::string(szHead) + sData + "</DATA></MSG>";
    FUZZ_CHECK(ZoltClient_I_MoveMessagesToTable(&sAnswer[0]) == 0);

    CGenStr sText;
    FUZZ_CHECK(CGenStrInit(&sText));
    char szReturned[3] = "??";
    int iOk = ZoltGetNlsStringWithXmlTag(s_szTag, szLang, szReturned, &sText);
    if (iOk) {
        FUZZ_CHECK(strlen(szReturned) == 2);
        if (strcmp(szReturned, "TK") == 0 && strcmp(szLang, "TK") != 0)
            FUZZ_CHECK(strcmp(CGenStrC_Str(&sText), s_szTag) == 0);
        FUZZ_CHECK((size_t)CGenStrSize(&sText) <= sAnswer.size());
    } else {
        FUZZ_CHECK(iOk == 0 && CGenStrIsEmpty(&sText));
    }
    CGenStrDelete(&sText);

    ClientMessage *p;
    while ((p = ZoltClientGetNextMessage(nullptr)) != nullptr)
        ZoltClientFreeMessage(p);
    return 0;
}
