/* registers-asm.cpp - assembly of the integer unit test: the register
 * transfer sequence, the four arithmetic instructions and the four
 * compare-and-branch checks. Written for both x86_64 and i386; only the
 * 32-bit halves of the registers are used, so the text is the same. */
#include "registers-asm.h"

#include "test-fault.h"

#ifdef ZOLT_FAULT_BUILD
uint32_t g_uRegTransferEndEdi, g_uRegTransferEndEbx;
#endif

/* The transfer sequence of one pattern. The mask and the ECX flag live in
 * memory operands because all six general registers belong to the sequence
 * (on i386 no other register is left for them). */
/* Returns the failed check bits; see registers-asm.h. */
uint32_t RegistersTransfer(uint32_t uPattern, const RegFaultWords *pFault, uint32_t *pbEcxError)
{
    uint32_t uMem = uPattern; /* the memory word M */
    uint32_t uMask = 0;
    uint32_t uEcx = 0;
#ifdef ZOLT_FAULT_BUILD
    uint32_t uEndEdi, uEndEbx;
#endif

    __asm__ volatile(
        /* the fault build starts EDI and EAX from the complement of the
         * pattern, so that a copy into EDI or from EDX that did not happen
         * shows */
        ZOLT_FAULT_ASM("movl %%edx, %%edi\n\tnotl %%edi\n\tmovl %%edi, %%eax\n\t")
        /* 1: EAX <- EDX; EDI <- EAX */
        "movl %%edx, %%eax\n\t"
        "movl %%eax, %%edi\n\t" ZOLT_FAULT_ASM(
            "xorl %[f0], %%edi\n\t") "cmpl %%eax, %%edi\n\t"
                                     "je 1f\n\t"
                                     "orl $0x01, %[mask]\n"
                                     "1:\n\t"
                                     /* 2: EBX <- EAX; EDI <- EBX */
                                     "movl %%eax, %%ebx\n\t"
                                     "movl %%ebx, %%edi\n\t" ZOLT_FAULT_ASM(
                                         "xorl %[f1], %%edi\n\t") "cmpl %%eax, %%edi\n\t"
                                                                  "je 2f\n\t"
                                                                  "orl $0x02, %[mask]\n"
                                                                  "2:\n\t"
                                                                  /* 3: ECX <- M; ECX == M, else EDI (copy through EBX) == EDX */
                                                                  "movl %[mem], %%ecx\n\t" ZOLT_FAULT_ASM(
                                                                      "xorl %[f2], %%ecx\n\txorl %[f6], %%edx\n\txorl %[f6], %%eax\n\t") "cmpl %[mem], %%ecx\n\t"
                                                                                                                                         "je 3f\n\t"
                                                                                                                                         "cmpl %%edx, %%edi\n\t"
                                                                                                                                         "je 3f\n\t"
                                                                                                                                         "orl $0x04, %[mask]\n\t"
                                                                                                                                         "movl $1, %[ecx]\n"
                                                                                                                                         "3:\n\t"
                                                                                                                                         /* 4: EDX <- M; EDI <- EDX; EAX <- EDX */
                                                                                                                                         "movl %[mem], %%edx\n\t"
                                                                                                                                         "movl %%edx, %%edi\n\t"
                                                                                                                                         "movl %%edx, %%eax\n\t" ZOLT_FAULT_ASM(
                                                                                                                                             "xorl %[f3], %%eax\n\t") "cmpl %%eax, %%edi\n\t"
                                                                                                                                                                      "je 4f\n\t"
                                                                                                                                                                      "orl $0x08, %[mask]\n"
                                                                                                                                                                      "4:\n\t"
                                                                                                                                                                      /* 5: ESI <- EAX; EDI <- ESI */
                                                                                                                                                                      "movl %%eax, %%esi\n\t"
                                                                                                                                                                      "movl %%esi, %%edi\n\t" ZOLT_FAULT_ASM("xorl %[f4], %%edi\n\t") "cmpl %%eax, %%edi\n\t"
                                                                                                                                                                                                                                      "je 5f\n\t"
                                                                                                                                                                                                                                      "orl $0x10, %[mask]\n"
                                                                                                                                                                                                                                      "5:\n\t"
                                                                                                                                                                                                                                      /* 6: EDI <- EAX */
                                                                                                                                                                                                                                      "movl %%eax, %%edi\n\t" ZOLT_FAULT_ASM("xorl %[f5], %%edi\n\t") "cmpl %%eax, %%edi\n\t"
                                                                                                                                                                                                                                                                                                      "je 6f\n\t"
                                                                                                                                                                                                                                                                                                      "orl $0x20, %[mask]\n"
                                                                                                                                                                                                                                                                                                      "6:\n\t" ZOLT_FAULT_ASM(
                                                                                                                                                                                                                                                                                                          "movl %%edi, %[edi]\n\tmovl %%ebx, %[ebx]\n\t")
        : [mask] "+m"(uMask), [ecx] "+m"(uEcx),
          "+d"(uPattern)ZOLT_FAULT_OPERANDS([edi] "=m"(uEndEdi), [ebx] "=m"(uEndEbx))
        : [mem] "m"(uMem)ZOLT_FAULT_OPERANDS([f0] "m"(pFault->au[0]), [f1] "m"(pFault->au[1]),
                                             [f2] "m"(pFault->au[2]), [f3] "m"(pFault->au[3]),
                                             [f4] "m"(pFault->au[4]), [f5] "m"(pFault->au[5]),
                                             [f6] "m"(pFault->au[6]))
        : "eax", "ebx", "ecx", "esi", "edi", "cc");

#ifdef ZOLT_FAULT_BUILD
    g_uRegTransferEndEdi = uEndEdi;
    g_uRegTransferEndEbx = uEndEbx;
#endif
    if (uEcx != 0)
        *pbEcxError = 1;
    return uMask;
}

/* ADD, SUB and IMUL keep the low 32 bits; overflow wraps. The fault build
 * enters ADD and SUB with the carry set (the compiler leaves the flags
 * undefined there), so that a form which adds the carry in would show. */
#define CARRY_IN ZOLT_FAULT_ASM("stc\n\t")
int32_t IntAdd(int32_t iA, int32_t iB)
{
    __asm__ volatile(CARRY_IN "addl %[b], %[a]" : [a] "+r"(iA) : [b] "r"(iB) : "cc");
    return iA;
}

int32_t IntSub(int32_t iA, int32_t iB)
{
    __asm__ volatile(CARRY_IN "subl %[b], %[a]" : [a] "+r"(iA) : [b] "r"(iB) : "cc");
    return iA;
}

/* Signed division of the sign-extended dividend (EDX:EAX by CDQ); the
 * quotient is truncated toward zero. */
int32_t IntDiv(int32_t iA, int32_t iB)
{
    int32_t iRem;
    __asm__ volatile("cltd\n\t"
                     "idivl %[b]"
                     : "+a"(iA), "=&d"(iRem)
                     : [b] "r"(iB)
                     : "cc");
    (void)iRem;
    return iA;
}

/* Signed multiplication keeping the low 32 bits. */
int32_t IntMul(int32_t iA, int32_t iB)
{
    __asm__ volatile("imull %[b], %[a]" : [a] "+r"(iA) : [b] "r"(iB) : "cc");
    return iA;
}

/* One compare-and-branch check: AX <- 1, the compare, directly its jump;
 * falls through to setting the bit when the jump is not taken. The fault
 * build alone starts AX from 0x5A5A (a preset that did not happen shows),
 * XORs bits 8-23 of the fault word into AX before the compare (another value
 * compared) and puts the flag fault between compare and jump
 * (LAHF/SAHF carry SF ZF AF PF CF); the product's compare is immediately
 * followed by its jump. */
#define LOGICAL_FLAG_FAULT ZOLT_FAULT_ASM("lahf\n\txorb %[f], %%ah\n\tsahf\n\t")
#define LOGICAL_CHECK(name, cmpinsn, jinsn, bit)                                         \
    uint32_t name(uint32_t uFlagFault)                                                   \
    {                                                                                    \
        uint32_t uMask = 0;                                                              \
        uint8_t uFault = (uint8_t)uFlagFault;                                            \
        uint16_t uAxFault = (uint16_t)(uFlagFault >> 8);                                 \
        (void)uFault;                                                                    \
        (void)uAxFault;                                                                  \
        __asm__ volatile(                                                                \
            ZOLT_FAULT_ASM("movw $0x5A5A, %%ax\n\t") "movw $1, %%ax\n\t" ZOLT_FAULT_ASM( \
                "xorw %[x], %%ax\n\t") cmpinsn "\n\t" LOGICAL_FLAG_FAULT jinsn " 1f\n\t" \
                                               "orl $" #bit ", %[mask]\n"                \
                                               "1:\n\t"                                  \
            : [mask] "+r"(uMask)                                                         \
            : ZOLT_FAULT_INPUTS([f] "m"(uFault), [x] "m"(uAxFault))                      \
            : "eax", "cc");                                                              \
        return uMask;                                                                    \
    }

LOGICAL_CHECK(LogicalJe, "cmpw $1, %%ax", "je", 0x01)
LOGICAL_CHECK(LogicalJae, "cmpw $0, %%ax", "jae", 0x02)
LOGICAL_CHECK(LogicalJbe, "cmpw $2, %%ax", "jbe", 0x04)
LOGICAL_CHECK(LogicalJnz, "testw $1, %%ax", "jnz", 0x08)
