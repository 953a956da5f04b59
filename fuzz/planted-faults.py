#!/usr/bin/env python3
"""planted-faults.py - checks that every fuzz target finds a fault planted in
the parser it guards, within a minute.

For each row below: the source file is changed in place (one exact text
replaced by a faulty one), the target's libFuzzer program is rebuilt in the
fuzz tree, run for at most FUZZ_PLANT_SECONDS (default 60) from its checked-in
corpus (new inputs go to a scratch directory), and the file is restored
whatever happens. The row passes when the run stops with a finding (a failed
fuzz check or a sanitizer report). At the end the fuzz tree is rebuilt from
the restored sources. Prints one line per row and a summary; exit status 1
when a row did not pass.

    make fuzz-planted              # every row
    fuzz/planted-faults.py transport json-text   # some targets (run from the top)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

BUILD = os.environ.get("BUILD", "build") + "/fuzz"
SECONDS = int(os.environ.get("FUZZ_PLANT_SECONDS", "60"))

# target, file, exact text, faulty text, what the fault does
ROWS = [
    ("transport", "messaging/pipe-lowlevel.cpp",
     "            CGenListIterAdv(&it); /* unfinished: never waited for */\n            continue;",
     "            break;",
     "an unfinished message holds back the complete ones behind it"),
    ("frame-reader", "messaging/pipe-lowlevel.cpp",
     "        uLen += (size_t)pEntry->iDataLen;\n        it = CGenListErase(&gReadQue, it);",
     "        uLen += (size_t)pEntry->iDataLen;\n        CGenListIterAdv(&it);",
     "a delivered message stays queued and comes out again"),
    ("field-lookup", "messaging/message-protocol.cpp",
     "        if (r[1] == '\\0' || r[2] == '\\0')\n            break;\n        r += 3;",
     "        if (r[1] == '\\0' || r[2] == '\\0')\n            break;\n        r += 2;",
     "@hh decoding steps one character short"),
    ("received-split", "messaging/message-protocol.cpp",
     "if (memchr(p, '\\0', (size_t)(pCr - p)) != nullptr) {",
     "if (pCr - p > 1 && memchr(p, '\\0', (size_t)(pCr - p - 1)) != nullptr) {",
     "a NUL byte just before CR LF is not seen"),
    ("xml-walk", "messaging/message-protocol.cpp",
     "                w.p = p;\n                return 0;",
     "                w.p = p + 1;\n                return 0;",
     "the walk resumes one character late"),
    ("message-table", "messaging/client-messaging-engine.cpp",
     "p->llReCache = p->bHasRe ? strtoll(szValue, NULL, 10) : 0;",
     "p->llReCache = p->bHasRe ? (int)strtoll(szValue, NULL, 10) : 0;",
     "the RE cache cuts the number to 32 bits"),
    ("device-answer", "dapi2/dapi2-reports.cpp",
     "    int iRc = 5;\n    ZoltXmlWalk walk;",
     "    int iRc = 0;\n    ZoltXmlWalk walk;",
     "an answer without COMPONENT counts as parsed"),
    ("dapi2-commands", "dapi2/dapi2-events.cpp",
     "g_iTestTimeout = TimeOutValue(szValue);",
     "g_iTestTimeout = (int)strtol(szValue, NULL, 10);",
     "TIMEOUT_VALUE wraps through (int)strtol again"),
    ("device-list", "model/test-common.cpp",
     "if (iId == -1 || CGenStrIsEmpty(&aText[DEV_NAME])) {",
     "if (iId == -1) {",
     "a device without NAME is kept"),
    ("profile-ini", "support/profile.cpp",
     "    ZoltSafeStrNCpy(szBuf, szText, iSize);\n    return (int)strlen(szBuf);",
     "    ZoltSafeStrNCpy(szBuf, szText, iSize);\n    return (int)strlen(szText);",
     "the length of the uncut value is returned"),
    ("cpuinfo", "zoltmod/zolt-mod-support.cpp",
     "(int)uLen + iExtra + (uCopy == uLen ? 1 : 0);",
     "(int)uLen + iExtra;",
     "a value without newline is counted one short (the old overflow)"),
    ("param-words", "model/param-valid.cpp",
     "        if (uIdLen == 0)\n            continue;",
     "        if (uIdLen == 0 && szComma == NULL)\n            continue;",
     "\"param=,x\" adds a parameter without id"),
    ("command-line", "dapi2/dapi2-command-line.cpp",
     "if (!(f > 0.0f) || f > 100.0f)",
     "if (f < 0.0f || f > 100.0f)",
     "a percentage of 0 (or NaN) is taken"),
    ("smbios", "zoltcpu/smbios.cpp",
     "            if (uLength < SMBIOS_PROC_MIN_LEN)\n                continue;",
     "            if (uLength < SMBIOS_PROC_MIN_LEN) {\n                (*piCount)++;\n                continue;\n            }",
     "a processor structure too short to read counts as a socket"),
    ("nls-reply", "messaging/nls-access.cpp",
     "            if (CGenStrAssignChar(pResult, szTag)) {",
     "            if (CGenStrAssignChar(pResult, szReply)) {",
     "an unknown tag comes back as the whole answer, not the tag"),
    ("proc-files", "support/trace.cpp",
     "const char *pClose = strchr(szData, ')');",
     "const char *pClose = strrchr(szData, ')');",
     "the process name ends at the last ')'"),
    ("json-text", "frontend/json-text.cpp",
     "(c == 0xED && c1 > 0x9F)",
     "(c == 0xED && c1 > 0xBF)",
     "UTF-16 surrogates pass as valid UTF-8"),
    ("peers-cli", "frontend/cli-parse.cpp",
     "if (*pEnd != '\\0' || lValue < 0 || lValue > lMax)",
     "if (*pEnd != '\\0' || lValue < 0 || lValue > lMax + 1)",
     "numbers one above the limit are taken"),
    ("param-check", "frontend/param-check.cpp",
     "return sType.compare(0, 4, \"uint\") == 0 && *pdOut < 0 ? 1 : 0;",
     "return sType.compare(0, 4, \"uint\") == 0 && *pdOut < -1 ? 1 : 0;",
     "-1 passes as an unsigned value"),
    ("nls-engine", "peers/nls-engine.cpp",
     "vAll.back().sValue += std::string(uBlanks + 1, ' ') + sWord;",
     "vAll.back().sValue += std::string(1, ' ') + sWord;",
     "several blanks inside a value become one"),
    ("broker-packets", "peers/broker.cpp",
     "int h = PeersOpenFifoAt(AT_FDCWD, client.sReadFifo.c_str(), 1, &sWhy);",
     "int h = ZoltPipeOpen(client.sReadFifo.c_str(), 1);",
     "STARTUP's READ opened whatever it names (the old fault)"),
]

FINDING = ("fuzz check failed", "ERROR: AddressSanitizer", "runtime error:",
           "ERROR: LeakSanitizer", "deadly signal")


def run_row(target, path, old, new):
    """Returns (passed, seconds, what was seen)."""
    with open(path) as f:
        text = f.read()
    if text.count(old) != 1:
        return False, 0.0, "text to replace found %d times" % text.count(old)
    try:
        with open(path, "w") as f:
            f.write(text.replace(old, new))
        build = subprocess.run(["ninja", "-C", BUILD, "fuzz-" + target],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if build.returncode != 0:
            return False, 0.0, "build failed: " + build.stdout[-300:]
        scratch = tempfile.mkdtemp(prefix="zoltfuzz-plant-")
        try:
            start = time.monotonic()
            env = dict(os.environ, TMPDIR=scratch)
            run = subprocess.run([BUILD + "/bin/fuzz-" + target, "-max_total_time=%d" % SECONDS,
                                  "-max_len=8192", "-artifact_prefix=" + scratch + "/",
                                  os.path.join(scratch), "fuzz/corpus/" + target],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                 env=env, timeout=SECONDS + 120)
            seconds = time.monotonic() - start
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
        seen = next((line for line in run.stdout.splitlines()
                     if any(mark in line for mark in FINDING)), "")
        return run.returncode != 0 and seen != "", seconds, seen or "no finding"
    finally:
        with open(path, "w") as f:
            f.write(text)


def main(argv):
    wanted = set(argv[1:])
    failed = 0
    for target, path, old, new, what in ROWS:
        if wanted and target not in wanted:
            continue
        passed, seconds, seen = run_row(target, path, old, new)
        failed += 0 if passed else 1
        print("%-15s %-4s %5.1f s  %s: %s" % (target, "ok" if passed else "MISS", seconds, what,
                                             seen.strip()[:100]), flush=True)
    subprocess.run(["ninja", "-C", BUILD, "fuzzers"], stdout=subprocess.DEVNULL)
    print("planted faults: %s" % ("all found" if failed == 0 else "%d not found" % failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
