/* Tests of the processor description read from the kernel's processor
 * table: the layout offsets, the size bound per field and the stops at the
 * next section or the end of the table. */
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "zolt-mod-support.h"

namespace {

const std::string kFixtures = std::string(ZOLT_FIXTURES) + "/cpu/";

class CpuInfoFile : public ::testing::Test {
protected:
    void TearDown() override { g_szCpuInfoPath = "/proc/cpuinfo"; }
    void Use(const char *szName)
    {
        m_path = kFixtures + szName;
        g_szCpuInfoPath = m_path.c_str();
    }
    std::string m_path;
};

TEST_F(CpuInfoFile, DescribesTheNamedProcessor)
{
    Use("cpuinfo-four.txt");
    char szDesc[80];
    ASSERT_EQ(DeviceInfoCPU(2, szDesc, sizeof szDesc), 1);
    EXPECT_STREQ(szDesc, "GenuineIntel, Test CPU model 2, 2400.000 MHz, 512 KB cache");

    Use("cpuinfo-odd-vendor.txt");
    ASSERT_EQ(DeviceInfoCPU(0, szDesc, sizeof szDesc), 1);
    EXPECT_STREQ(szDesc, "AuthenticAMD, Odd One, 997.317 MHz, 256 KB cache");
}

/* Each field's length with its newline plus its separator counts against the
 * size; the first field that reaches it names the code. */
TEST_F(CpuInfoFile, SizeBoundPerField)
{
    Use("cpuinfo-single.txt");
    const std::string full = "GenuineIntel, Test CPU model 0, 2400.000 MHz, 512 KB cache";
    const size_t uVendor = strlen("GenuineIntel, ");
    const size_t uModel = uVendor + strlen("Test CPU model 0, ");
    const size_t uClock = uModel + strlen("2400.000 MHz, ");
    const struct { size_t uSize; int iExpect; } cases[] = {
        { uVendor, -2 },            /* total == size is already too much */
        { uVendor + 1, -3 },
        { uModel + 1, -4 },
        { uClock + 1, -5 },
        { full.size(), -5 },
        { full.size() + 1, 1 },
    };
    for (const auto &c : cases) {
        char szDesc[128];
        memset(szDesc, 'x', sizeof szDesc);
        EXPECT_EQ(DeviceInfoCPU(0, szDesc, (int)c.uSize), c.iExpect) << "size " << c.uSize;
        if (c.iExpect == 1)
            EXPECT_EQ(std::string(szDesc), full);
        else
            EXPECT_EQ(strlen(szDesc) < c.uSize, true) << "size " << c.uSize;
        EXPECT_EQ(szDesc[c.uSize - 1], '\0') << "the first size bytes are zeroed";
    }
}

TEST_F(CpuInfoFile, StopsWithoutCacheSize)
{
    char szDesc[80];
    Use("cpuinfo-odd-vendor.txt");
    /* Section 2 has no cache size and the table ends: -1. */
    EXPECT_EQ(DeviceInfoCPU(2, szDesc, sizeof szDesc), -1);
    /* Processor 7 does not exist. */
    EXPECT_EQ(DeviceInfoCPU(7, szDesc, sizeof szDesc), -1);
    Use("no-such-file.txt");
    EXPECT_EQ(DeviceInfoCPU(0, szDesc, sizeof szDesc), -1);
    Use("cpuinfo-ht-siblings.txt");
    /* This machine's table: a real section describes itself. */
    EXPECT_EQ(DeviceInfoCPU(0, szDesc, sizeof szDesc), 1);
}

TEST_F(CpuInfoFile, NextSectionBeforeCacheSize)
{
    /* A section without cache size runs into the next processor line; a
     * section with only vendor and cache size describes just those. */
    char szPath[] = "/tmp/zolt-cpuinfo-XXXXXX";
    int iFd = mkstemp(szPath);
    ASSERT_GE(iFd, 0);
    const char szTable[] = "processor\t: 0\nvendor_id\t: GenuineIntel\nflags\t\t: fpu\n\n"
                           "processor\t: 1\nvendor_id\t: GenuineIntel\ncache size\t: 1 KB\n";
    ASSERT_EQ(write(iFd, szTable, sizeof szTable - 1), (ssize_t)(sizeof szTable - 1));
    close(iFd);
    g_szCpuInfoPath = szPath;
    char szDesc[80];
    EXPECT_EQ(DeviceInfoCPU(0, szDesc, sizeof szDesc), -6);
    EXPECT_EQ(DeviceInfoCPU(1, szDesc, sizeof szDesc), 1);
    EXPECT_STREQ(szDesc, "GenuineIntel, 1 KB cache");
    unlink(szPath);
}

}  // namespace
