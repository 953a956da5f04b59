/* Tests of test 0, the integer unit: every fault path of the register
 * transfer, the arithmetic table, the table copy and compare-and-branch, the
 * inputs the checks start from, a pinned run. */
#include "zoltcpu/cpu-test-events.h"

#include "registers-asm.h"

namespace {

/* Each register of the transfer at the first and the last pattern (ECX alone
 * is unseen while EDI still equals EDX; with EBX it is), every check failing
 * at once, the flags of each compare-and-branch case (CF 0x01, ZF 0x40, SF
 * 0x80; OF stays 0): JAE ignores ZF, and the flags where a jump and its
 * neighbours disagree (JE not JBE or JLE, JAE not JA or JGE, JBE not JB,
 * JNZ not JA or JG); another value in AX (fault bits 8-23): JAE passes
 * with AX 0 (unsigned, nothing is below 0), JNZ fails with AX 2 (bit 0 clear),
 * JBE with AX 3. */
const FaultCase kIntegerFaults[] = {
    { 0, 1, 0x01, 0, 0, 0x1, 0x01, "" },
    { 0, 1, 0x02, 17, 0, 0x80000000, 0x02, "" },
    { 0, 1, 0x04, -1, 0, 0x10, 0, "" },
    F(0, 1, 0x06, 0x1),
    { 0, 1, 0x08, 0, 0, 0xFFFFFFFF, 0x08, "" },
    { 0, 1, 0x10, 17, 0, 0x1, 0x10, "" },
    { 0, 1, 0x20, 0, 0, 0x4, 0x20, "" },
    F(0, 1, 0x3F, 0x1),
    F(0, 2, 0x0F, 0x1),
    F(0, 4, 0x01, 0x40),
    F(0, 4, 0x02, 0x01),
    F(0, 4, 0x04, 0x01),
    F(0, 4, 0x08, 0x40),
    F(0, 4, 0x09, 0x40),
    F(0, 4, 0x06, 0x01),
    { 0, 4, 0x02, -1, 0, 0x40, 0, "" },
    { 0, 4, 0x04, -1, 0, 0x40, 0, "" },
    F(0, 4, 0x01, 0x41),
    F(0, 4, 0x01, 0xC0),
    { 0, 4, 0x02, -1, 0, 0x80, 0, "" },
    { 0, 4, 0x04, -1, 0, 0x41, 0, "" },
    { 0, 4, 0x08, -1, 0, 0x01, 0, "" },
    { 0, 4, 0x08, -1, 0, 0x80, 0, "" },
    { 0, 4, 0x02, -1, 0, 0x100, 0, "" },
    F(0, 4, 0x08, 0x300),
    F(0, 4, 0x04, 0x200),
};

/* The table above; each compare of the transfer with the compared value one
 * lower (all ones XOR 1) and one higher (zero XOR 1), signed and unsigned
 * alike, so that only an equality jump lets neither through; each operation
 * of each arithmetic row alone (the row is the case; a fault in the upper
 * bits counts as well); each word of the string copy alone. */
TEST_F(CpuTestFixture, IntegerFaultsAreReportedExactly)
{
    std::vector<FaultCase> v(std::begin(kIntegerFaults), std::end(kIntegerFaults));
    for (unsigned uBits : { 0x01u, 0x02u, 0x06u, 0x08u, 0x10u, 0x20u })
        for (int iPattern : { 0, 1 })
            v.push_back({ 0, 1, uBits, iPattern, 0, 0x1, uBits, "" });
    for (int iRow = 0; iRow < 4; iRow++)
        for (unsigned uOp = 0; uOp < 4; uOp++)
            v.push_back({ 0, 2, 1u << uOp, iRow, 0, iRow == 2 ? 0x80000000u : 1u, 1u << uOp, "" });
    for (unsigned uWord = 0; uWord < 18; uWord++)
        v.push_back({ 0, 3, 0x01, 0, 4 * uWord, 1u << (uWord % 32), 0x01, "" });
    RUN_FAULT_CASES(0, v);
}

/* The register transfer starts from the 18 patterns in order (all ones, all
 * zeros, the nibble and bit checkerboards, a bit walking down each byte, one
 * walking up each nibble). */
TEST_F(CpuTestFixture, TransferRunsEveryPatternInOrder)
{
    std::vector<uint32_t> vPatterns = { 0xFFFFFFFF, 0,          0xF0F0F0F0,
                                        0x0F0F0F0F, 0xAAAAAAAA, 0x55555555 };
    for (int iBit = 7; iBit >= 0; iBit--)
        vPatterns.push_back(0x01010101u << iBit);
    for (int iBit = 0; iBit < 4; iBit++)
        vPatterns.push_back(0x11111111u << iBit);
    do_registers(nullptr);
    std::vector<std::string> vExpected;
    for (size_t i = 0; i < vPatterns.size(); i++) {
        char sz[32];
        snprintf(sz, sizeof sz, "0:1:%zu=%X", i, vPatterns[i]);
        vExpected.push_back(sz);
    }
    EXPECT_EQ(g_inputs, vExpected);
}

/* The transfer for patterns of each bit width: a wrong ECX seen (EDI, wrong
 * through EBX, or EDX differs) is an ECX error alone; a wrong EDI after ESI
 * is check 0x10 alone; healthy, no check bit and no ECX error. EDI and EBX
 * end as the pattern each time: EDX and EAX are reloaded after the EDX fault,
 * EDI from EAX after the ESI one. */
TEST_F(CpuTestFixture, RegisterTransferFlagsOnlyWhatIsWrong)
{
    const struct {
        uint32_t uMask, bEcxError;
        RegFaultWords fault;
    } kRows[] = {
        { 0x06, 1, { { 0, 1, 0x10 } } },
        { 0x10, 0, { { 0, 0, 0, 0, 0x8 } } },
        { 0x04, 1, { { 0, 0, 0x10, 0, 0, 0, 0x100 } } },
        { 0, 0, {} }, /* after the EDX row: its word past the end is 0 */
    };
    for (uint32_t uPattern : { 0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0x55AA55AAu, 0x12345678u })
        for (const auto &row : kRows) {
            SCOPED_TRACE(testing::Message() << std::hex << uPattern << " mask " << row.uMask);
            uint32_t bEcxError = 0;
            EXPECT_EQ(RegistersTransfer(uPattern, &row.fault, &bEcxError), row.uMask);
            EXPECT_EQ(bEcxError, row.bEcxError);
            EXPECT_EQ(g_uRegTransferEndEdi, uPattern);
            EXPECT_EQ(g_uRegTransferEndEbx, uPattern);
        }
}

TEST_F(CpuTestFixture, IntegerPinnedRunQueuesItsEventsAndSignalsTheEnd)
{
    ExpectPinnedRunQueues(0);
}

}  // namespace
