/* Tests of the SMBIOS socket count over images built in temporary files: the
 * anchor search in a physical-memory image, the kernel copy's entry points
 * ("_SM_", "_SM3_", "_DMI_"), the walk over string sets and truncated tables,
 * the fallback between the two sources and the "Unable to read" stop. */
#include "zoltcpu/cpu-test-events.h"

#include "smbios-image.h"

namespace {

class Smbios : public CpuTestFixture {
protected:
    void SetUp() override
    {
        CpuTestFixture::SetUp();
        g_szDevMemPath = m_sDevMem.c_str();
        g_szSmbiosEntryPointPath = m_sEntry.c_str();
        g_szSmbiosTablePath = m_sTable.c_str();
    }
    /* A 1 MB memory image with the entry point at paragraph uParagraph of the
     * search area (memory goes on after it) and the table at uTableAt. */
    void MemoryImage(Bytes entry, unsigned uParagraph, uint32_t uTableAt, const Bytes &table)
    {
        entry.resize((entry.size() + 15) / 16 * 16, 0);
        ASSERT_TRUE(WriteAt(m_sDevMem, 0xFFFFF, Bytes{0}));
        ASSERT_TRUE(WriteAt(m_sDevMem, SMBIOS_SEARCH_START + 16 * uParagraph, entry));
        ASSERT_TRUE(WriteAt(m_sDevMem, uTableAt, table));
    }
    void KernelCopy(const Bytes &entry, const Bytes &table)
    {
        unlink(m_sTable.c_str());
        ASSERT_TRUE(WriteAt(m_sEntry, 0, entry));
        ASSERT_TRUE(WriteAt(m_sTable, 0, table));
    }
    TempDir m_dir;
    std::string m_sDevMem = m_dir.File("mem"), m_sEntry = m_dir.File("smbios_entry_point"),
                m_sTable = m_dir.File("DMI");
};

TEST_F(Smbios, MemoryImage)
{
    const Bytes table = SampleTable();
    const uint16_t uLen = (uint16_t)table.size();
    int iCount = -1;
    EXPECT_EQ(SmbiosCountFromDevMem(&iCount), SMBIOS_ERR_OPEN);   /* no device */
    ASSERT_TRUE(WriteAt(m_sDevMem, 0xFFFFF, Bytes{0}));            /* zeros only */
    EXPECT_EQ(SmbiosCountFromDevMem(&iCount), SMBIOS_ERR_ANCHOR);
    const struct { Bytes entry; unsigned uParagraph; uint32_t uTableAt; int iRc, iCount; } cases[] = {
        {EntryPoint21(uLen, 0x9F000), 0xFFF, 0x9F000, SMBIOS_OK, 2},   /* last paragraph */
        /* a bare "_DMI_" earlier in the area wins; table above 1 MB */
        {EntryPointDmi(uLen, 0x180000), 0x10, 0x180000, SMBIOS_OK, 2},
        {EntryPointDmi(0, 0x9F000), 3, 0x9F000, SMBIOS_ERR_EMPTY, 0},
        /* the table lies beyond the image: the first header cannot be read */
        {EntryPointDmi(uLen, 0x7FFFFFF0u), 3, 0x9F000, SMBIOS_ERR_TABREAD, 0},
    };
    for (const auto &c : cases) {
        MemoryImage(c.entry, c.uParagraph, c.uTableAt, table);
        EXPECT_EQ(SmbiosCountFromDevMem(&iCount), c.iRc) << c.uParagraph;
        EXPECT_EQ(iCount, c.iCount) << c.uParagraph;
    }
    unlink(m_sDevMem.c_str());
    ASSERT_TRUE(WriteAt(m_sDevMem, 0xF7FFF, Bytes{0}));   /* ends before any anchor */
    EXPECT_EXIT(SmbiosCountFromDevMem(&iCount), ::testing::ExitedWithCode(1), "Unable to read");
}

/* The kernel copy's entry points; a processor counts only after its whole
 * string set was read; the walk stops at the table length. */
TEST_F(Smbios, KernelCopy)
{
    const Bytes table = SampleTable();
    Bytes bad = EntryPoint30(0x100, 0), one, two;
    bad[3] = 'X';
    AddProcessor(one, 3, 42, "CPU0");
    two = one;
    AddProcessor(two, 3, 42, "CPU1");
    const struct { const char *szCase; Bytes entry, table; int iRc, iCount; } cases[] = {
        {"_SM_", EntryPoint21((uint16_t)table.size(), 0xDEAD0000u), table, SMBIOS_OK, 2},
        {"_SM3_", EntryPoint30((uint32_t)table.size(), 0x12345678000ull), table, SMBIOS_OK, 2},
        {"_SM3_ with a generous maximum", EntryPoint30(0x10000, 0), table, SMBIOS_OK, 2},
        {"_DMI_", EntryPointDmi((uint16_t)table.size(), 0), table, SMBIOS_OK, 2},
        {"_SMX_", bad, table, SMBIOS_ERR_ANCHOR, 0},
        {"_SM_ of length 0", EntryPoint21(0, 0), table, SMBIOS_ERR_EMPTY, 0},
        {"second cut in its strings", EntryPoint30((uint32_t)two.size(), 0), Bytes(two.begin(), two.end() - 3), 0, 1},
        {"second cut in its formatted area", EntryPoint30((uint32_t)two.size(), 0),
         Bytes(two.begin(), two.begin() + one.size() + 10), 0, 1},
        {"length ends after the first", EntryPoint30((uint32_t)one.size(), 0), two, 0, 1},
        {"first cut before its terminator", EntryPoint30((uint32_t)two.size(), 0), Bytes(one.begin(), one.end() - 1), 0, 0},
    };
    for (const auto &c : cases) {
        KernelCopy(c.entry, c.table);
        int iCount = -1;
        EXPECT_EQ(SmbiosCountFromSysfs(&iCount), c.iRc) << c.szCase;
        EXPECT_EQ(iCount, c.iCount) << c.szCase;
    }
}

TEST_F(Smbios, MemoryFirstThenKernelCopy)
{
    Bytes three = SampleTable();
    AddProcessor(three, 3, 26, "CPU2");                  /* after the end mark: still walked */
    const Bytes sample = SampleTable();
    KernelCopy(EntryPoint30((uint32_t)three.size(), 0), three);
    EXPECT_EQ(SmbiosProcessorCount(), 3);                /* no memory device: kernel copy */
    MemoryImage(EntryPointDmi((uint16_t)sample.size(), 0x9F000), 0, 0x9F000, sample);
    EXPECT_EQ(SmbiosProcessorCount(), 2);                /* the memory device walked */
    MemoryImage(EntryPointDmi((uint16_t)sample.size(), 0x7FFFFFF0u), 0, 0x9F000, sample);
    EXPECT_EQ(SmbiosProcessorCount(), 3);                /* it refused the table read */
    unlink(m_sEntry.c_str());
    EXPECT_EQ(SmbiosProcessorCount(), 0);                /* neither: no cap */
}

}  // namespace
