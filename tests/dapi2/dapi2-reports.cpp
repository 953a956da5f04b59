/* Tests of the reports (exact DE_ENUMDATA and SYSINFO_RETURNED texts, merged keys)
 * and the once-per-process device-list fetch through a stand-in transaction. */
#include <gtest/gtest.h>

#include "dapi2/send-capture.h"

namespace {

std::vector<std::string> g_requests;
std::vector<int> g_timeouts;
int g_iTransactionResult = 0;
std::string g_answer; /* what the stand-in engine answers when the result is 0 */

int FakeTransaction(const char *szRequest, CGenStr *pAnswer, int iTimeoutMs, int)
{
    g_requests.emplace_back(szRequest);
    g_timeouts.push_back(iTimeoutMs);
    return g_iTransactionResult != 0 ? g_iTransactionResult
                                     : (CGenStrAssignChar(pAnswer, g_answer.c_str()), 0);
}

class Reports : public CaptureTest {
protected:
    void SetUp() override
    {
        CaptureTest::SetUp();
        g_requests.clear(), g_timeouts.clear(), g_answer.clear();
        g_iTransactionResult = 0, g_pfnDapi2SendTransactionStr = FakeTransaction;
        g_szDapi2CmdlinePath = ZOLT_FIXTURES "/dapi2/cmdline-linux"; /* module zoltcpu */
        Dapi2_KillDeviceList();
        Dapi2_I_ResetDeviceListState();
    }
    void TearDown() override
    {
        Dapi2_KillDeviceList();
        Dapi2_I_ResetDeviceListState();
        CaptureTest::TearDown(), g_pfnDapi2SendTransactionStr = nullptr;
    }
    Dapi2Device *AddCpu(int iId, const char *szDescription, uint32_t uNumber)
    {
        Dapi2Device *p = nullptr;
        EXPECT_EQ(Dapi2_CreateDeviceCPU("CPU", iId, ("CPU " + std::to_string(uNumber)).c_str(),
                                        "/proc/cpuinfo", szDescription, uNumber, &p),
                  0);
        Dapi2_AddDevice(p);
        return p;
    }
};

TEST_F(Reports, EnumerationReportTexts)
{
    g_Callback = DAPI2_MODE_ENUMERATE;
    Dapi2Device *p0 = AddCpu(0, "first", 0);
    AddCpu(-1, nullptr, 1); /* no FRU, null description, id printed unsigned */
    Dapi2_AddFruToDevice(p0, "Mk", "Mo", "S", "R", "D", "P");
    Dapi2_AddFruAdditionalInfoToDevice(p0, "f", "d", "v");
    Dapi2_AddTestsToDevice(p0, "0,1");
    Dapi2_AddTestsToDevice(p0, "0,1,2,3"); /* replaces the earlier text */
    ASSERT_EQ(Dapi2_SendEnumInfo(), 0);
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_EQ(Field(g_sent[0], "MSG/HDR/TYPE"), "DE_ENUMDATA");
    EXPECT_EQ(
        DataOf(g_sent[0]),
        "<DATA>"
        "<DEVICE><DID>0</DID><NAME>CPU 0</NAME><DESCRIPTION>first</DESCRIPTION>"
        "<OSLOCATOR>/proc/cpuinfo</OSLOCATOR><HWLOCATOR>CPU:0</HWLOCATOR><DEVTYPE>CPU</DEVTYPE>"
        "<BUSTYPE>SYSTEM_BUS</BUSTYPE>"
        "<FRU_MANUFACTURER>Mk</FRU_MANUFACTURER><FRU_MODELNUMBER>Mo</FRU_MODELNUMBER>"
        "<FRU_SERIALNUMBER>S</FRU_SERIALNUMBER><FRU_FIRMWAREREV>R</FRU_FIRMWAREREV>"
        "<FRU_FIRMWAREDATE>D</FRU_FIRMWAREDATE><FRU_PHYSADDRESS>P</FRU_PHYSADDRESS>"
        "<FRU_ADDINFO_FIELD>f</FRU_ADDINFO_FIELD><FRU_ADDINFO_DESC>d</FRU_ADDINFO_DESC>"
        "<FRU_ADDINFO_VALUE>v</FRU_ADDINFO_VALUE><TESTS_SUPPORTED>0,1,2,3</TESTS_SUPPORTED></DEVICE>"
        "<DEVICE><DID>4294967295</DID><NAME>CPU 1</NAME><DESCRIPTION></DESCRIPTION>"
        "<OSLOCATOR>/proc/cpuinfo</OSLOCATOR><HWLOCATOR>CPU:1</HWLOCATOR><DEVTYPE>CPU</DEVTYPE>"
        "<BUSTYPE>SYSTEM_BUS</BUSTYPE><TESTS_SUPPORTED>*</TESTS_SUPPORTED></DEVICE>"
        "</DATA>");
    EXPECT_TRUE(g_requests.empty()); /* enumerate mode never asks the engine */
}

TEST_F(Reports, SysInfoMergesRecordsSharingAKey)
{
    g_Callback = DAPI2_MODE_ENUMERATE;
    Dapi2Device *pOther = AddCpu(0, "other", 0);
    Dapi2Device *p = AddCpu(1, "cpu", 1);
    Dapi2_AddSysInfoToDevice(pOther, "K", "no", "not this device");
    Dapi2_AddSysInfoToDevice(p, "K", "1", "first K");
    Dapi2_AddSysInfoToDevice(p, "L", "x", nullptr);
    Dapi2_AddSysInfoToDevice(p, "K", "2", "second K");
    Dapi2_AddSysInfoToDevice(p, "k", "3", "other case");
    ASSERT_EQ(Dapi2_SendSysInfo("zoltcpu", "812", "17", "CPU:1"), 0);
    ASSERT_EQ(g_sent.size(), 1u);
    EXPECT_EQ(Field(g_sent[0], "MSG/HDR/TYPE") + " " + Field(g_sent[0], "MSG/HDR/RE"),
              "SYSINFO_RETURNED 17");
    EXPECT_EQ(
        DataOf(g_sent[0]),
        "<DATA><DEVICE><TO>812</TO><MODULE_NAME>zoltcpu</MODULE_NAME><DID>1</DID>"
        "<NAME>CPU 1</NAME><DESCRIPTION>cpu</DESCRIPTION><OSLOCATOR>/proc/cpuinfo</OSLOCATOR>"
        "<HWLOCATOR>CPU:1</HWLOCATOR><DEVTYPE>CPU</DEVTYPE><BUSTYPE>SYSTEM_BUS</BUSTYPE>"
        "<SYSINFO><SYSINFO_DESCRIPTION>first K</SYSINFO_DESCRIPTION><SYSINFO_KEY>K</SYSINFO_KEY>"
        "<SYSINFO_VALUE>1</SYSINFO_VALUE><SYSINFO_VALUE>2</SYSINFO_VALUE></SYSINFO>"
        "<SYSINFO><SYSINFO_DESCRIPTION></SYSINFO_DESCRIPTION><SYSINFO_KEY>L</SYSINFO_KEY>"
        "<SYSINFO_VALUE>x</SYSINFO_VALUE></SYSINFO>"
        "<SYSINFO><SYSINFO_DESCRIPTION>other case</SYSINFO_DESCRIPTION><SYSINFO_KEY>k</SYSINFO_KEY>"
        "<SYSINFO_VALUE>3</SYSINFO_VALUE></SYSINFO>"
        "</DEVICE></DATA>");

    g_sent.clear();
    ASSERT_EQ(Dapi2_SendSysInfo("zoltcpu", "812", "18", "CPU:9"), 0);
    EXPECT_EQ(DataOf(g_sent[0]), "<DATA></DATA>");
}

TEST_F(Reports, DeviceListFetchedOnceFromAllComponents)
{
    g_Callback = DAPI2_MODE_RUNDIAG;
    g_answer =
        "<MSG><HDR><FROM>5</FROM><TO>6</TO><ID>2</ID><RE>1</RE><TYPE>TRANSACTION_RESPONSE</TYPE></HDR>"
        "<DATA><COMPONENT><DEVICE><DID>1</DID><NAME>CPU 0</NAME><HWLOCATOR>CPU:0</HWLOCATOR></DEVICE>"
        "<DEVICE><DID>2</DID><NAME>CPU 1</NAME></DEVICE></COMPONENT>"
        "<COMPONENT><DEVICE><DID>7</DID><NAME>other</NAME></DEVICE></COMPONENT></DATA></MSG>";
    std::vector<int> ids;
    for (Dapi2Device *p = Dapi2_GetFirstDevice(DAPI2_DEVLIST_TEST); p; p = Dapi2_GetNextDevice())
        ids.push_back(Dapi2_GetDeviceId(p));
    EXPECT_EQ(ids, (std::vector<int>{ 1, 2, 7 }));
    ASSERT_EQ(g_requests.size(), 1u);
    EXPECT_EQ(g_timeouts, (std::vector<int>{ 5000 }));
    EXPECT_EQ(Field(g_requests[0], "MSG/DATA"), "LIST_DEVICES:zoltcpu");
    EXPECT_EQ(Field(g_requests[0], "MSG/HDR/TYPE"), "DE_COMMAND");

    /* a second walk, of either kind, reuses the list */
    Dapi2Device *pFirst = Dapi2_GetFirstDevice(DAPI2_DEVLIST_SYSINFO);
    EXPECT_STREQ(pFirst ? Dapi2_GetDeviceHwLocator(pFirst) : "none", "CPU:0");
    EXPECT_EQ(g_requests.size(), 1u);
    EXPECT_TRUE(g_sent.empty());
}

TEST_F(Reports, DeviceListFailuresGiveNoDevices)
{
    struct {
        int iKind, iTransaction;
        const char *szAnswer, *szCommand;
    } aCases[] = {
        { DAPI2_DEVLIST_TEST, 2, "", "LIST_DEVICES:zoltcpu" }, /* no answer */
        { DAPI2_DEVLIST_SYSINFO, 0, "<MSG><DATA>nothing</DATA></MSG>",
          "LIST_SYSINFO_DEVICES:zoltcpu" },
        { DAPI2_DEVLIST_TEST, 0, "<MSG><DATA><COMPONENT><DEVICE><DID>1", "LIST_DEVICES:zoltcpu" },
    };
    for (auto &c : aCases) {
        Dapi2_I_ResetDeviceListState();
        g_requests.clear(), g_Callback = DAPI2_MODE_SYSINFO;
        g_iTransactionResult = c.iTransaction, g_answer = c.szAnswer;
        EXPECT_EQ(Dapi2_GetFirstDevice(c.iKind), nullptr) << c.szAnswer;
        EXPECT_EQ(Dapi2_GetNextDevice(), nullptr);
        EXPECT_EQ(Dapi2_GetFirstDevice(c.iKind), nullptr); /* not asked again */
        ASSERT_EQ(g_requests.size(), 1u);
        EXPECT_EQ(Field(g_requests[0], "MSG/DATA"), c.szCommand);
    }
}

}  // namespace
