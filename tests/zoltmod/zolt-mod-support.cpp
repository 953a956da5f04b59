/* Tests of the processor description from the kernel's processor table: the named
 * section's fields, the size bound per field, stops at the next section or the end. */
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "zolt-mod-support.h"

struct CpuInfoFile : public ::testing::Test {
    void TearDown() override
    {
        g_szCpuInfoPath = "/proc/cpuinfo";
    }
    void Use(const char *szName)
    {
        m_path = std::string(ZOLT_FIXTURES "/") + szName;
        g_szCpuInfoPath = m_path.c_str();
    }
    std::string m_path;
};

TEST_F(CpuInfoFile, DescribesTheNamedProcessorOrStops)
{
    const struct {
        const char *szFile;
        int iProcessor, iExpect;
        const char *szDesc;
    } aCases[] = {
        { "cpu/cpuinfo-four.txt", 2, 1,
          "GenuineIntel, Test CPU model 2, 2400.000 MHz, 512 KB cache" },
        { "cpu/cpuinfo-odd-vendor.txt", 2, -1, nullptr }, /* no cache size, the table ends */
        { "cpu/no-such-file.txt", 0, -1, nullptr },
        { "dapi2/cpuinfo-no-cache.txt", 0, -6, nullptr }, /* runs into the next section */
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

/* Every size from 1 up: refused (negative) until the whole text fits, never a
 * byte written at or past the size. */
TEST_F(CpuInfoFile, SizeBoundIsNeverPassed)
{
    Use("cpu/cpuinfo-single.txt");
    const std::string full = "GenuineIntel, Test CPU model 0, 2400.000 MHz, 512 KB cache";
    for (size_t uSize = 1; uSize <= full.size() + 1; uSize++) {
        char szDesc[128];
        memset(szDesc, 'x', sizeof szDesc);
        int iRc = DeviceInfoCPU(0, szDesc, (int)uSize);
        EXPECT_TRUE(uSize > full.size() ? iRc == 1 && szDesc == full : iRc < 0)
            << uSize << " " << iRc;
        EXPECT_EQ(std::string(szDesc + uSize, 8), "xxxxxxxx") << uSize;
    }
}
