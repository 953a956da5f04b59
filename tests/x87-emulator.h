/* x87-emulator.h - tells the tests that run test 1 (the x87 unit) whether the
 * programs execute through a CPU emulator: ZOLT_CPU_EMULATOR names it (make
 * check-m32 sets it from what scripts/enable-i386-exec.sh prints). Header-only. */
#ifndef ZOLT_TESTS_X87_EMULATOR_H
#define ZOLT_TESTS_X87_EMULATOR_H

#include <stdlib.h>

#include <string>

namespace zolttest {

/* "" on hardware; under an emulator, the reason test 1 cannot pass there, for
 * GTEST_SKIP(). The emulator's x87 unit reads bit 7 of the control word back
 * (0x03FF after initialisation, not 0x037F) and raises no invalid-operation
 * flag on a store from an empty register, so the control-instruction checks
 * report a fault (mask 0x0404) on every run. */
inline std::string X87EmulatorSkipReason()
{
    const char *szEmulator = getenv("ZOLT_CPU_EMULATOR");
    if (szEmulator == nullptr || szEmulator[0] == '\0')
        return "";
    return std::string("the x87 unit of the ") + szEmulator +
           " emulator differs from hardware: bit 7 of the control word reads back and a store "
           "from an empty register raises no invalid-operation flag";
}

}  // namespace zolttest

#endif /* ZOLT_TESTS_X87_EMULATOR_H */
