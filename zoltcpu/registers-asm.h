/* registers-asm.h - the assembly sequences of the integer unit test: register
 * transfer through the six general registers, one 32-bit signed arithmetic
 * instruction each, and compare-and-branch on AX. Leaf routines without
 * state; any thread. */
#ifndef ZOLTCPU_REGISTERS_ASM_H
#define ZOLTCPU_REGISTERS_ASM_H

#include <stdint.h>

/* Fault words of one register-transfer pass; the fault build XORs each into
 * its register right before the compare, the product ignores them. Index = bit position of the
 * check: [0] EDI after EDI <- EAX (0x01), [1] EDI after EDI <- EBX (0x02),
 * [2] ECX after ECX <- M (0x04), [3] EAX after EAX <- EDX (0x08),
 * [4] EDI after EDI <- ESI (0x10), [5] EDI after EDI <- EAX (0x20);
 * [6] EDX and EAX after ECX <- M, until EDX <- M and EAX <- EDX (no check
 * bit of its own: the ECX check's fallback compare sees it, the reloads
 * undo it). */
typedef struct RegFaultWords {
    uint32_t au[7];
} RegFaultWords;

#ifdef ZOLT_FAULT_BUILD
/* EDI and EBX at the end of the last transfer (fault build only): the
 * pattern when every move of the chain took place. */
extern uint32_t g_uRegTransferEndEdi, g_uRegTransferEndEbx;
#endif

/* Runs the transfer sequence on pattern uPattern (held in EDX and in a
 * memory word M). Returns the bits 0x01..0x20 of the checks that failed;
 * *pbEcxError is set to 1 when the ECX check failed (both ECX differed from
 * M and EDI from EDX), else left alone. */
uint32_t RegistersTransfer(uint32_t uPattern, const RegFaultWords *pFault, uint32_t *pbEcxError);

/* 32-bit signed arithmetic with exactly one instruction each (ADD, SUB,
 * CDQ+IDIV, IMUL). IntDiv needs a non-zero iB. */
int32_t IntAdd(int32_t iA, int32_t iB);
int32_t IntSub(int32_t iA, int32_t iB);
int32_t IntDiv(int32_t iA, int32_t iB);
int32_t IntMul(int32_t iA, int32_t iB);

/* Compare and branch on AX = 1: each returns 0 when its jump is taken, else
 * its bit. The fault build XORs bits 8-23 of uFlagFault into AX before the
 * compare and its low byte into the flags (through AH, LAHF/SAHF) between the
 * compare and the jump: 0x01 CF, 0x40 ZF; the product ignores it and jumps
 * right after the compare. ADD and SUB start with the carry set in the fault
 * build. */
uint32_t LogicalJe(uint32_t uFlagFault);  /* CMP AX,1; JE   -> 0x01 */
uint32_t LogicalJae(uint32_t uFlagFault); /* CMP AX,0; JAE  -> 0x02 */
uint32_t LogicalJbe(uint32_t uFlagFault); /* CMP AX,2; JBE  -> 0x04 */
uint32_t LogicalJnz(uint32_t uFlagFault); /* TEST AX,1; JNZ -> 0x08 */

#endif /* ZOLTCPU_REGISTERS_ASM_H */
