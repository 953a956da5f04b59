/* mmx-asm.h - the MMX pieces of the MMX test: the presence check, the operand
 * patterns, the fill routines that load MM0..MM7, one routine per instruction
 * (four register pairs each), the store routines and the result area.
 * DESIGN: the fill, instruction and store routines hand their work on in the
 * MMX registers themselves, so a test case calls them back to back with
 * nothing in between that touches the x87/MMX unit; the case ends with EMMS
 * (MmxEmms) before any floating-point code may run. One thread at a time: the
 * result area is shared. */
#ifndef ZOLTCPU_MMX_ASM_H
#define ZOLTCPU_MMX_ASM_H

#include <stdint.h>

/* Operand patterns, named by their pattern. */
extern const uint64_t mmx_data_00, mmx_data_FF, mmx_data_55, mmx_data_AA;
extern const uint64_t mmx_data_7FFF, mmx_data_7F, mmx_data_80, mmx_data_8000;
extern const uint64_t mmx_data_8000oooo, mmx_data_01, mmx_data_0001, mmx_data_0000ooo1;
extern const uint64_t mmx_data_0000_0000_0000_0001, mmx_data_0000_0000_0000_0003;
extern const uint64_t mmx_data_0000_0000_0000_00FF;

/* Result area: one word per register MM0..MM7, written by the store routines;
 * mmx_res_0..mmx_res_7 name the words of the one contiguous array mmx_res. */
extern uint64_t mmx_res[8];
extern uint64_t &mmx_res_0, &mmx_res_1, &mmx_res_2, &mmx_res_3;
extern uint64_t &mmx_res_4, &mmx_res_5, &mmx_res_6, &mmx_res_7;

/* 1 with CPUID and the MMX feature bit (EDX bit 23 of leaf 1), else 0. The
 * EFLAGS identification bit (21) tells whether CPUID exists; EFLAGS is
 * restored afterwards. The fault build hands the feature word to the fault
 * seam before its bit is read. */
uint16_t MMXExists(void);

/* MOVQ the value (uLow, uHigh) from memory into MM0, then MM0 -> MM1 -> ... ->
 * MM7 with register MOVQs. */
void FillMMXRegs(uint32_t uLow, uint32_t uHigh);
/* MOVQ A into MM0 and B into MM1, then MM2 <- MM0, MM3 <- MM1, MM4 <- MM2,
 * MM5 <- MM3, MM6 <- MM4, MM7 <- MM5. */
void FillMMXRegs2(uint32_t uALow, uint32_t uAHigh, uint32_t uBLow, uint32_t uBHigh);
/* MOVQ MM0..MM7 into mmx_res_0..mmx_res_7. */
void GetMMXRegs(void);
/* MOVD the low 32 bits of MM0..MM7 into the low half of mmx_res_0..7. */
void GetMMXRegsD(void);
/* EMMS: hands the registers back to the x87 unit. */
void MmxEmms(void);

/* Instruction routines: the instruction four times, MM0 op MM1, MM2 op MM3,
 * MM4 op MM5, MM6 op MM7, and nothing else. PMADDW is PMADDWD. This list is
 * the one source of the instructions: X(routine, family), a family being the
 * instructions one test routine's cases mix. The tests' lane model and the
 * mutation tool's sibling instructions are read from it. */
/* clang-format off */
#define MMX_INSTRUCTIONS(X)                                                                  \
    X(PADDB, PADD) X(PADDW, PADD) X(PADDD, PADD)                                             \
    X(PSUBB, PSUB) X(PSUBW, PSUB) X(PSUBD, PSUB)                                             \
    X(PMULHW, PMUL) X(PMULLW, PMUL) X(PMADDW, PMUL)                                          \
    X(PAND, PAND) X(PANDN, PAND) X(POR, POR) X(PXOR, POR)                                    \
    X(PSLLW, PSLL) X(PSLLD, PSLL) X(PSLLQ, PSLL) X(PSRLW, PSRL) X(PSRLD, PSRL) X(PSRLQ, PSRL) \
    X(PCMPEQB, PCMPEQ) X(PCMPEQW, PCMPEQ) X(PCMPEQD, PCMPEQ)                                 \
    X(PCMPGTB, PCMPGT) X(PCMPGTW, PCMPGT) X(PCMPGTD, PCMPGT)                                 \
    X(PACKSSWB, PACK) X(PACKSSDW, PACK) X(PACKUSWB, PACK)                                    \
    X(PUNPCKHBW, PUNPCK) X(PUNPCKLBW, PUNPCK) X(PUNPCKHWD, PUNPCK) X(PUNPCKLWD, PUNPCK)
/* clang-format on */

#define MMX_DECLARE_ROUTINE(name, family) void name(void);
MMX_INSTRUCTIONS(MMX_DECLARE_ROUTINE)
#undef MMX_DECLARE_ROUTINE

#endif /* ZOLTCPU_MMX_ASM_H */
