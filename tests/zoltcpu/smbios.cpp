/* Tests of the SMBIOS socket count: the anchor search in a physical-memory
 * image, both entry-point kinds of the kernel's copy (32-bit "_SM_" and
 * 64-bit "_SM3_"), the structure walk over string sets, truncated tables, the
 * fallback between the two sources and the "Unable to read" stop. Images are
 * built in temporary files. */
#include <gtest/gtest.h>

#include "smbios-image.h"
#include "smbios.h"

namespace {

class Smbios : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_devMem = m_dir.File("mem");
        m_entry = m_dir.File("smbios_entry_point");
        m_table = m_dir.File("DMI");
        g_szDevMemPath = m_devMem.c_str();
        g_szSmbiosEntryPointPath = m_entry.c_str();
        g_szSmbiosTablePath = m_table.c_str();
    }
    void TearDown() override
    {
        g_szDevMemPath = "/dev/mem";
        g_szSmbiosEntryPointPath = "/sys/firmware/dmi/tables/smbios_entry_point";
        g_szSmbiosTablePath = "/sys/firmware/dmi/tables/DMI";
    }
    /* A 1 MB memory image (plus the table at uTableAt) with an entry point at
     * paragraph uParagraph of the search area. */
    void MemoryImage(const Bytes &entry, unsigned uParagraph, uint32_t uTableAt, const Bytes &table)
    {
        ASSERT_TRUE(SetFileSize(m_devMem, 0x100000));
        Bytes padded = entry;
        padded.resize((entry.size() + 15) / 16 * 16, 0);   /* memory goes on after it */
        ASSERT_TRUE(WriteAt(m_devMem, SMBIOS_SEARCH_START + 16 * uParagraph, padded));
        ASSERT_TRUE(WriteAt(m_devMem, uTableAt, table));
    }
    void KernelCopy(const Bytes &entry, const Bytes &table)
    {
        ASSERT_TRUE(WriteAt(m_entry, 0, entry));
        ASSERT_TRUE(WriteAt(m_table, 0, table));
    }
    TempDir m_dir;
    std::string m_devMem, m_entry, m_table;
};

TEST_F(Smbios, MemoryAnchorsOfBothKinds)
{
    const Bytes table = SampleTable();
    int iCount = -1;

    /* "_SM_" in the last paragraph of the search area, table below 1 MB. */
    MemoryImage(EntryPoint21((uint16_t)table.size(), 0x9F000), 0xFFF, 0x9F000, table);
    EXPECT_EQ(SmbiosCountFromDevMem(&iCount), SMBIOS_OK);
    EXPECT_EQ(iCount, 2);

    /* A bare "_DMI_" paragraph earlier in the area wins; table above 1 MB. */
    MemoryImage(EntryPointDmi((uint16_t)table.size(), 0x180000), 0x10, 0x180000, table);
    EXPECT_EQ(SmbiosCountFromDevMem(&iCount), SMBIOS_OK);
    EXPECT_EQ(iCount, 2);
}

TEST_F(Smbios, MemoryWithoutUsableTable)
{
    const Bytes table = SampleTable();
    int iCount = -1;
    EXPECT_EQ(SmbiosCountFromDevMem(&iCount), SMBIOS_ERR_OPEN);    /* no device */

    ASSERT_TRUE(SetFileSize(m_devMem, 0x100000));                  /* zeros only */
    EXPECT_EQ(SmbiosCountFromDevMem(&iCount), SMBIOS_ERR_ANCHOR);

    MemoryImage(EntryPointDmi(0, 0x9F000), 3, 0x9F000, table);
    EXPECT_EQ(SmbiosCountFromDevMem(&iCount), SMBIOS_ERR_EMPTY);

    /* The table address lies beyond the image: the first header cannot be read. */
    MemoryImage(EntryPointDmi((uint16_t)table.size(), 0x7FFFFFF0u), 3, 0x9F000, table);
    EXPECT_EQ(SmbiosCountFromDevMem(&iCount), SMBIOS_ERR_TABREAD);
    EXPECT_EQ(iCount, 0);
}

TEST_F(Smbios, ReadFailureInAnchorSearchStops)
{
    /* The image ends inside the search area before any anchor. */
    ASSERT_TRUE(SetFileSize(m_devMem, 0xF8000));
    int iCount = 0;
    EXPECT_EXIT(SmbiosCountFromDevMem(&iCount), ::testing::ExitedWithCode(1), "Unable to read");
}

TEST_F(Smbios, KernelCopyEntryPoints)
{
    const Bytes table = SampleTable();
    const struct { const char *szKind; Bytes entry; } cases[] = {
        { "_SM_", EntryPoint21((uint16_t)table.size(), 0xDEAD0000u) },
        { "_SM3_", EntryPoint30((uint32_t)table.size(), 0x12345678000ull) },
        { "_SM3_ with a generous maximum", EntryPoint30(0x10000, 0) },
        { "_DMI_", EntryPointDmi((uint16_t)table.size(), 0) },
    };
    for (const auto &c : cases) {
        KernelCopy(c.entry, table);
        int iCount = -1;
        EXPECT_EQ(SmbiosCountFromSysfs(&iCount), SMBIOS_OK) << c.szKind;
        EXPECT_EQ(iCount, 2) << c.szKind;
    }

    int iCount = -1;
    Bytes bad = EntryPoint30(0x100, 0);
    memcpy(&bad[0], "_SMX_", 5);
    KernelCopy(bad, table);
    EXPECT_EQ(SmbiosCountFromSysfs(&iCount), SMBIOS_ERR_ANCHOR);
    KernelCopy(Bytes(EntryPoint21(0, 0)), table);
    EXPECT_EQ(SmbiosCountFromSysfs(&iCount), SMBIOS_ERR_EMPTY);
}

/* The walk counts a processor only after its whole string set was read, and
 * stops at the table length. */
TEST_F(Smbios, TruncatedTables)
{
    Bytes one;
    AddProcessor(one, 3, 42, "CPU0");
    Bytes two = one;
    AddProcessor(two, 3, 42, "CPU1");

    const struct { const char *szCase; size_t uFileBytes; uint32_t uLength; int iExpect; } cases[] = {
        { "both complete", two.size(), (uint32_t)two.size(), 2 },
        { "second cut in its strings", two.size() - 3, (uint32_t)two.size(), 1 },
        { "second cut in its formatted area", one.size() + 10, (uint32_t)two.size(), 1 },
        { "length ends after the first", two.size(), (uint32_t)one.size(), 1 },
        { "first cut before its terminator", one.size() - 1, (uint32_t)two.size(), 0 },
    };
    for (const auto &c : cases) {
        unlink(m_table.c_str());
        KernelCopy(EntryPoint30(c.uLength, 0), Bytes(two.begin(), two.begin() + c.uFileBytes));
        int iCount = -1;
        EXPECT_EQ(SmbiosCountFromSysfs(&iCount), SMBIOS_OK) << c.szCase;
        EXPECT_EQ(iCount, c.iExpect) << c.szCase;
    }
}

TEST_F(Smbios, MemoryFirstThenKernelCopy)
{
    Bytes three = SampleTable();
    AddProcessor(three, 3, 26, "CPU2");                 /* after the end mark: still walked */
    Bytes sample = SampleTable();

    KernelCopy(EntryPoint30((uint32_t)three.size(), 0), three);
    EXPECT_EQ(SmbiosProcessorCount(), 3);                /* no memory device: kernel copy */

    MemoryImage(EntryPointDmi((uint16_t)sample.size(), 0x9F000), 0, 0x9F000, sample);
    EXPECT_EQ(SmbiosProcessorCount(), 2);                /* the memory device walked */

    MemoryImage(EntryPointDmi((uint16_t)sample.size(), 0x7FFFFFF0u), 0, 0x9F000, sample);
    EXPECT_EQ(SmbiosProcessorCount(), 3);                /* it refused the table read */

    unlink(m_entry.c_str());
    EXPECT_EQ(SmbiosProcessorCount(), 0);                /* neither: no cap */
}

}  // namespace
