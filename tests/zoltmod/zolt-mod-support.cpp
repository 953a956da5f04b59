/* Tests of the processor description from the kernel's processor table: the named
 * section's fields, the size bound per field, stops at the next section or the end. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "zolt-mod-support.h"

struct CpuInfoFile : public ::testing::Test {
    void TearDown() override { g_szCpuInfoPath = "/proc/cpuinfo"; }
    void Use(const char *szName)
    {
        m_path = std::string(ZOLT_FIXTURES "/") + szName;
        g_szCpuInfoPath = m_path.c_str();
    }
    std::string m_path;
};

TEST_F(CpuInfoFile, DescribesTheNamedProcessorOrStops)
{
    const struct { const char *szFile; int iProcessor, iExpect; const char *szDesc; } aCases[] = {
        { "cpu/cpuinfo-four.txt", 2, 1, "GenuineIntel, Test CPU model 2, 2400.000 MHz, 512 KB cache" },
        { "cpu/cpuinfo-odd-vendor.txt", 2, -1, nullptr },   /* no cache size, the table ends */
        { "cpu/no-such-file.txt", 0, -1, nullptr },
        { "dapi2/cpuinfo-no-cache.txt", 0, -6, nullptr },   /* runs into the next section */
        { "dapi2/cpuinfo-no-cache.txt", 1, 1, "GenuineIntel, 1 KB cache" },
    };
    for (const auto &c : aCases) {
        SCOPED_TRACE(std::string(c.szFile) + " " + std::to_string(c.iProcessor));
        Use(c.szFile);
        char szDesc[80];
        EXPECT_EQ(DeviceInfoCPU(c.iProcessor, szDesc, sizeof szDesc), c.iExpect);
        if (c.szDesc != nullptr) {
            EXPECT_STREQ(szDesc, c.szDesc);
        }
    }
}

/* Each field with its newline and separator counts; the first to reach the size names the code. */
TEST_F(CpuInfoFile, SizeBoundPerField)
{
    Use("cpu/cpuinfo-single.txt");
    const std::string full = "GenuineIntel, Test CPU model 0, 2400.000 MHz, 512 KB cache";
    const size_t uVendor = strlen("GenuineIntel, "), uModel = uVendor + strlen("Test CPU model 0, ");
    const struct { size_t uSize; int iExpect; } cases[] = {
        { uVendor, -2 } /* total == size is already too much */, { uVendor + 1, -3 }, { uModel + 1, -4 },
        { uModel + strlen("2400.000 MHz, ") + 1, -5 }, { full.size() + 1, 1 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.uSize));
        char szDesc[128];
        memset(szDesc, 'x', sizeof szDesc);
        EXPECT_EQ(DeviceInfoCPU(0, szDesc, (int)c.uSize), c.iExpect);
        EXPECT_LT(strlen(szDesc), c.uSize);
        if (c.iExpect == 1) {
            EXPECT_EQ(std::string(szDesc), full);
        }
    }
}
