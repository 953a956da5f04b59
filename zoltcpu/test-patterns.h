/* test-patterns.h - the 18 32-bit test patterns shared by the integer unit
 * test (register transfer, table copy) and the cache test, in the order both
 * use them: all ones, all zeros, nibble and bit checkerboards, one walking bit
 * per byte (0x80 down to 0x01 in every byte), one walking bit per nibble. */
#ifndef ZOLTCPU_TEST_PATTERNS_H
#define ZOLTCPU_TEST_PATTERNS_H

#include <stdint.h>

/* Number of patterns in dwPattern; loops run over the first iPatternCount. */
inline const int iPatternCount = 18;

inline const uint32_t dwPattern[18] = {
    0xFFFFFFFFu, 0x00000000u, 0xF0F0F0F0u, 0x0F0F0F0Fu, 0xAAAAAAAAu, 0x55555555u,
    0x80808080u, 0x40404040u, 0x20202020u, 0x10101010u, 0x08080808u, 0x04040404u,
    0x02020202u, 0x01010101u, 0x11111111u, 0x22222222u, 0x44444444u, 0x88888888u,
};

#endif /* ZOLTCPU_TEST_PATTERNS_H */
