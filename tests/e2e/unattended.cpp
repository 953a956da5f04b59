/* unattended.cpp - end to end: what a timer-driven screening leaves behind.
 * The result file appears whole or not at all; the metrics pass promtool and
 * come back through a real node exporter; the systemd units pass
 * systemd-analyze verify; --syslog's lines. (--quiet: the table of
 * zoltpeers-cli.cpp; unsafe --output and --metrics-file paths: the refusal
 * table of hostile-paths.cpp.) */
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/peers-run.h"

using namespace e2e;

namespace {

/* A free loopback TCP port (0 when none could be had). */
int FreePort()
{
    int h = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t uLen = sizeof a;
    int iPort = bind(h, (sockaddr *)&a, sizeof a) == 0 && getsockname(h, (sockaddr *)&a, &uLen) == 0
                    ? ntohs(a.sin_port)
                    : 0;
    close(h);
    return iPort;
}

/* The body of GET sPath from 127.0.0.1:iPort ("" when it did not answer). */
std::string HttpGet(int iPort, const std::string &sPath)
{
    int h = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_port = htons((uint16_t)iPort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string sReply;
    std::string sRequest = "GET " + sPath + " HTTP/1.0\r\nHost: localhost\r\n\r\n";
    if (connect(h, (sockaddr *)&a, sizeof a) == 0 &&
        write(h, sRequest.data(), sRequest.size()) == (ssize_t)sRequest.size()) {
        char szBuf[4096];
        for (ssize_t n; (n = read(h, szBuf, sizeof szBuf)) > 0;)
            sReply.append(szBuf, (size_t)n);
    }
    close(h);
    size_t uBody = sReply.find("\r\n\r\n");
    return uBody == std::string::npos ? "" : sReply.substr(uBody + 4);
}

}  // namespace

/* 200 loops into a file another thread keeps reading: it sees the old file or
 * the whole new one (ending with run-end), never a part; no temporary file is
 * left; the 200 passes are one record. */
TEST(Unattended, ResultFileAppearsWholeOrNotAtAll)
{
    TempDir dir;
    const std::string sFile = dir.sPath + "/results.json";
    std::ofstream(sFile) << "old\n"; /* the last session's file, ours */
    std::atomic<bool> bDone(false);
    int iPartial = 0, iWhole = 0;
    std::thread reader([&] {
        for (bool bLast = false; !bLast;) { /* the last read comes after zoltpeers ended */
            bLast = bDone;
            std::string s = ReadFile(sFile);
            bool bWhole = Has(s, "\"record\":\"run-end\"");
            iPartial += s != "old\n" && !bWhole;
            iWhole += bWhole;
        }
    });
    ChildRun r =
        Peers(Words("--output " + sFile + " --format json --loops 200 run --device 0 --test 0"));
    bDone = true;
    reader.join();
    EXPECT_EQ(r.iExit, 0) << r.sOut;
    EXPECT_TRUE(Has(r.sOut, "Summary: 200 run(s)")) << r.sOut; /* the text report stays */
    EXPECT_EQ(iPartial, 0);
    EXPECT_GT(iWhole, 0);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{ "results.json" });
    /* identical passes folded into one record */
    const std::string sAll = ReadFile(sFile);
    const size_t uTest = sAll.find("\"record\":\"test\"");
    ASSERT_NE(uTest, std::string::npos) << sAll;
    EXPECT_EQ(Num(sAll, "loop", uTest), 1) << sAll;
    EXPECT_EQ(Num(sAll, "count", uTest), 200);
    EXPECT_EQ(Num(sAll, "last_loop", uTest), 200);
    EXPECT_LE(Num(sAll, "duration_ms_min", uTest), Num(sAll, "duration_ms_max", uTest));
    EXPECT_LT(Str(sAll.substr(uTest), "start"), Str(sAll.substr(uTest), "last_start"));
    EXPECT_EQ(sAll.find("\"record\":\"test\"", uTest + 1), std::string::npos) << sAll;
    EXPECT_EQ(Num(sAll, "runs", sAll.find("\"record\":\"run-end\"")), 200);
    struct stat st;
    ASSERT_EQ(stat(sFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

/* The metrics file passes promtool and a real node exporter serves it back. */
TEST(Unattended, MetricsPassPromtoolAndComeBackThroughTheNodeExporter)
{
    TempDir dir;
    const std::string sProm = dir.sPath + "/zoltcpu.prom";
    ChildRun r = PeersLine(g_sTest0Fails + " --quiet --metrics-file " + sProm +
                           " all --loops 2 --tests 0,1");
    EXPECT_EQ(r.iExit, 1) << r.sOut;
    std::string sText = ReadFile(sProm);
    for (const char *szLine :
         { "zoltcpu_test_runs_total{device=\"CPU:0\",cpu=\"\",test=\"0\",test_name=\"integer "
           "unit\",result=\"FAIL\"} 2\n",
           "zoltcpu_test_failures_total{device=\"CPU:0\",cpu=\"\",test=\"1\",test_name=\"x87 "
           "floating-point unit\",result=\"FAIL\"} 0\n",
           "zoltcpu_test_last_result{device=\"CPU:0\",cpu=\"\",test=\"1\",test_name=\"x87 "
           "floating-point unit\",result=\"PASS\"} 1\n",
           "zoltcpu_session_exit_status 1\n", "# TYPE zoltcpu_test_runs_total counter\n" })
        EXPECT_TRUE(Has(sText, szLine)) << szLine << "\n" << sText;

    if (access("/usr/bin/promtool", X_OK) != 0)
        GTEST_SKIP() << "promtool is not installed (Debian package prometheus; "
                        "scripts/install-deps.sh tests installs it)";
    ChildRun check = Shell("/usr/bin/promtool check metrics < " + sProm, true);
    EXPECT_EQ(check.iExit, 0) << check.sOut;
    EXPECT_EQ(check.sOut, "") << check.sOut; /* no lint remark either */

    const char *szExporter = "/usr/bin/prometheus-node-exporter";
    if (access(szExporter, X_OK) != 0)
        GTEST_SKIP() << "prometheus-node-exporter is not installed (scripts/install-deps.sh "
                        "tests installs it)";
    int iPort = FreePort();
    ASSERT_GT(iPort, 0);
    ChildRun start =
        Shell(std::string(szExporter) + " --web.listen-address=127.0.0.1:" + std::to_string(iPort) +
              " --collector.textfile.directory=" + dir.sPath +
              " --collector.disable-defaults --collector.textfile >/dev/null 2>&1 &" + " echo $!");
    pid_t pid = (pid_t)atol(start.sOut.c_str());
    ASSERT_GT(pid, 0) << start.sOut;
    std::string sBody;
    for (int i = 0; i < 200 && !Has(sBody, "zoltcpu_"); i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        sBody = HttpGet(iPort, "/metrics");
    }
    kill(pid, SIGTERM); /* not our child: init collects it */
    EXPECT_TRUE(Has(sBody, "node_textfile_scrape_error 0\n")) << sBody;
    EXPECT_TRUE(Has(sBody, "zoltcpu_test_failures_total{cpu=\"\",device=\"CPU:0\",result=\"FAIL\","
                           "test=\"0\",test_name=\"integer unit\"} 2\n"))
        << sBody;
}

/* The units as installed (zoltpeers at its path) pass systemd-analyze verify,
 * hardened and with no capability but the one the cache test needs. */
TEST(Unattended, SystemdUnitsVerify)
{
    if (access("/usr/bin/systemd-analyze", X_OK) != 0)
        GTEST_SKIP() << "systemd-analyze is not installed (Debian package systemd)";
    TempDir dir;
    std::string sService = ReadFile(ZOLT_SOURCE_DIR "/systemd/zoltcpu-screen.service.in");
    size_t uAt = sService.find("@ZOLT_BINDIR@");
    ASSERT_NE(uAt, std::string::npos);
    sService.replace(uAt, 13, ZOLT_BIN);
    std::ofstream(dir.sPath + "/zoltcpu-screen.service") << sService;
    std::ofstream(dir.sPath + "/zoltcpu-screen.timer")
        << ReadFile(ZOLT_SOURCE_DIR "/systemd/zoltcpu-screen.timer");
    ChildRun r =
        RunChild({ "/usr/bin/systemd-analyze", "verify", "--man=no",
                   dir.sPath + "/zoltcpu-screen.service", dir.sPath + "/zoltcpu-screen.timer" },
                 {}, nullptr, true);
    EXPECT_EQ(r.iExit, 0) << r.sOut;
    EXPECT_EQ(r.sOut, ""); /* no unknown key, no bad value */
    for (const char *szLine :
         { "\nType=oneshot\n", "\nNoNewPrivileges=yes\n", "\nProtectSystem=strict\n",
           "\nPrivateTmp=yes\n", "\nCapabilityBoundingSet=CAP_IPC_LOCK\n" })
        EXPECT_TRUE(Has(sService, szLine)) << szLine;
}

/* --syslog: one line per failed run and one summary, caught on a /dev/log of
 * our own (a private mount namespace with its own /dev). */
TEST(Unattended, SyslogGetsOneLinePerFailureAndASummary)
{
    const std::string sCatch =
        "import socket,subprocess,sys\n"
        "s=socket.socket(socket.AF_UNIX,socket.SOCK_DGRAM);s.bind('/dev/log');s.settimeout(1)\n"
        "subprocess.call(sys.argv[1:],stdout=subprocess.DEVNULL)\n"
        "try:\n while True: print(s.recv(4096).decode())\nexcept socket.timeout: pass\n";
    std::vector<std::string> v = { "/usr/bin/unshare",
                                   "-m",
                                   "/bin/sh",
                                   "-c",
                                   "mount -t tmpfs t /dev && mknod -m 666 /dev/null c 1 3 && "
                                   "exec python3 -c \"$0\" \"$@\"",
                                   sCatch,
                                   g_sPeers };
    for (const std::string &s : FaultyWords(Words("--syslog --loops 2 run --device 0 --test 0")))
        v.push_back(s);
    ChildRun r = RunChild(v, { g_sTest0Fails }, nullptr, true);
    if (r.iExit != 0)
        GTEST_SKIP() << "no private mount namespace here (needs root): " << r.sOut;
    for (const char *szLine : { "]: CPU:0 test 0 (integer unit) loop 1: FAIL\n",
                                "]: CPU:0 test 0 (integer unit) loop 2: FAIL\n",
                                "]: run: 2 run(s): 0 passed, 2 failed, 0 not tested, 0 not run; "
                                "exit status 1\n" })
        EXPECT_TRUE(Has(r.sOut, szLine)) << szLine << r.sOut;
    EXPECT_EQ(std::count(r.sOut.begin(), r.sOut.end(), '\n'), 3) << r.sOut;
}
