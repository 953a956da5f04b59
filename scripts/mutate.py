#!/usr/bin/python3
"""mutate.py - the mutation campaign over the CPU module's test code (make mutate):
applies each mutant of scripts/mutate_ops.py to the source in place, rebuilds the
affected targets of build/mutate, runs the fastest relevant tests first, restores;
at the end build/mutate is rebuilt from the restored sources.

Usage: scripts/mutate.py [--list | --report | --help]
  (none)    run the campaign (resumes where the last one stopped)
  --list    print the selected mutants (id, line before, line after); changes nothing
  --report  write build/mutate/report.md from the results so far; changes nothing
  --help    print this text; changes nothing

Environment: MUTATE_FILES=a.cpp,b.cpp (subset of files), MUTATE_LIMIT=N (N mutants
spread evenly over the list), MUTATE_IDS=id,id (exactly these), MUTATE_FRESH=1
(forget earlier results; otherwise a run resumes where the last one stopped),
MUTATE_TIMEOUT=s (per mutant test time limit, default from the unmutated run).
Results: build/mutate/results.jsonl (one line per mutant), build/mutate/report.md.
"""
import fcntl
import hashlib
import json
import os
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mutate_ops  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "mutate")
RESULTS = os.path.join(BUILD, "results.jsonl")
PRISTINE = os.path.join(BUILD, "pristine")

# The mutated files: the test routines, their asm, the headers of their
# constants and patterns, and of cpu-driver.cpp the accept rule, the replay of
# the accepted run's messages, the pinning and the run handshake (only the
# named functions and constants).
DRIVER_REGIONS = ["ACCEPT_MIN_PERCENT", "LAST_ATTEMPT_RETRY", "CheckCPUTimes", "DiffCPUTimeStruct",
                  "InitThreads", "QueueMessage", "AddError", "AddPercentDone", "ProcessMessages",
                  "PinToTarget", "ReachableTargetCPUs", "SignalEndOfRun", "WaitForEndOfRun",
                  "StartAttempt", "RunTest"]
TEST_NUMBER = {"test-registers.cpp": 0, "registers-asm.cpp": 0, "test-fpu.cpp": 1,
               "fpu-asm.cpp": 1, "test-mmx.cpp": 2, "mmx-asm.cpp": 2, "test-cache.cpp": 3,
               "cpu-driver.cpp": None, "test-patterns.h": (0, 3), "test-registers.h": 0,
               "test-fpu.h": 1, "test-mmx.h": 2, "test-cache.h": 3}
# Unit test programs per file, fastest and most specific first; "-" = no filter.
# The fault-build end-to-end cases follow, filtered to the file's test number.
UNIT = {
    0: [("zoltcpu_test-registers", "-")],
    1: [("zoltcpu_test-fpu", "-")],
    2: [("zoltcpu_test-mmx", "-")],
    3: [("zoltcpu_test-cache", "-")],
    None: [("zoltcpu_cpu-driver", "-")],
}
E2E = "e2e_cpu-test-faults"
# Built once before the campaign; per mutant only the fault-injection module is
# relinked (asking ninja for the end-to-end program would rebuild the product
# module too, which it orders before itself).
E2E_DEPS = ["zoltcpu-faults", "zoltcpu", "zoltpeers", E2E]
E2E_PER_MUTANT = ["zoltcpu-faults"]
# The CTest test comparing the product's objects with the checked-in listings.
OBJECT_CHECK = os.environ.get("MUTATE_OBJECT_CHECK", "[Oo]bjects?[.]")
PRODUCT_LIBRARY = "zoltcpumod"
_OBJECT_CHECK_FOUND = {}


SIGNALS = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP)


class Interrupted(Exception):
    pass


def on_signal(signum, frame):
    raise Interrupted(signal.Signals(signum).name)


def sh(argv, timeout=None, env=None):
    """Runs argv in its own process group; (status, seconds, output tail).
    Status "timeout" when the time limit passed (the whole group is killed)."""
    start = time.monotonic()
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            start_new_session=True, env=env, cwd=BUILD)
    try:
        out, _ = proc.communicate(timeout=timeout)
        status = proc.returncode
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        out, _ = proc.communicate()
        status = "timeout"
    except BaseException:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()
        raise
    text = out.decode("utf-8", "replace")
    return status, time.monotonic() - start, text


def targets_present():
    """The targets of build/mutate, after its build files caught up with the
    sources (a test program added or renamed since the last run)."""
    sh(["ninja", "-C", BUILD, "build.ninja"])
    status, _, out = sh(["ninja", "-C", BUILD, "-t", "targets", "all"])
    return {line.split(":")[0] for line in out.splitlines()} if status == 0 else set()


def all_files():
    return [("zoltcpu/" + name, DRIVER_REGIONS if name == "cpu-driver.cpp" else None)
            for name in TEST_NUMBER]


def test_numbers(relpath):
    """The test numbers whose programs judge a file (a header may serve two)."""
    no = TEST_NUMBER[os.path.basename(relpath)]
    return no if isinstance(no, tuple) else (no,)


def sources_of(relpath):
    """The sources compiled for a file: itself, or for a header every
    zoltcpu source that includes it."""
    if not relpath.endswith(".h"):
        return [relpath]
    name = os.path.basename(relpath)
    found = []
    for src in sorted(os.listdir(os.path.join(ROOT, "zoltcpu"))):
        if src.endswith(".cpp"):
            with open(os.path.join(ROOT, "zoltcpu", src), encoding="utf-8") as f:
                if f'#include "{name}"' in f.read():
                    found.append("zoltcpu/" + src)
    return found


def all_mutants():
    wanted = [f for f in os.environ.get("MUTATE_FILES", "").split(",") if f]
    mutants = []
    for path, regions in all_files():
        if wanted and os.path.basename(path) not in wanted and path not in wanted:
            continue
        mutants += mutate_ops.generate(ROOT, path, regions)
    ids = [i for i in os.environ.get("MUTATE_IDS", "").split(",") if i]
    if ids:
        mutants = [m for m in mutants if m.mid in ids]
    limit = int(os.environ.get("MUTATE_LIMIT", "0") or 0)
    if 0 < limit < len(mutants):
        step = len(mutants) / limit
        mutants = [mutants[int(k * step)] for k in range(limit)]
    return mutants


def key_of(m):
    """Ties a result to the exact change, so a changed source is tried anew."""
    return hashlib.sha1((m.mid + "\0" + m.old + "\0" + m.new).encode()).hexdigest()[:12]


def restore_leftovers():
    """Puts back sources left mutated by a run that was killed outright."""
    for dirpath, _, names in os.walk(PRISTINE):
        for name in names:
            saved = os.path.join(dirpath, name)
            rel = os.path.relpath(saved, PRISTINE)
            shutil.copyfile(saved, os.path.join(ROOT, rel))
            os.remove(saved)
            print(f"restored {rel} from an interrupted run")


class Applied:
    """The mutant in the source for the duration of a with-block; the
    original comes back however the block ends."""

    def __init__(self, m):
        self.m = m
        self.path = os.path.join(ROOT, m.path)
        self.saved = os.path.join(PRISTINE, m.path)

    def __enter__(self):
        # no signal between saving the original and writing the mutant
        signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS)
        try:
            self._write()
        finally:
            signal.pthread_sigmask(signal.SIG_UNBLOCK, SIGNALS)
        return self

    def _write(self):
        with open(self.path, encoding="utf-8") as f:
            lines = f.readlines()
        if lines[self.m.line - 1] != self.m.old:
            raise RuntimeError(f"{self.m.mid}: source changed under the campaign")
        os.makedirs(os.path.dirname(self.saved), exist_ok=True)
        shutil.copyfile(self.path, self.saved)
        lines[self.m.line - 1] = self.m.new
        with open(self.path, "w", encoding="utf-8") as f:
            f.writelines(lines)

    def __exit__(self, *exc):
        signal.pthread_sigmask(signal.SIG_BLOCK, SIGNALS)
        try:
            shutil.copyfile(self.saved, self.path)
            os.remove(self.saved)
        finally:
            signal.pthread_sigmask(signal.SIG_UNBLOCK, SIGNALS)
        return False


_E2E_FILTERS = {}
# End-to-end suites named for their unit, not for their test number.
_E2E_SUITES = {2: ":CpuTestFaultsEndToEndMmx.*", 3: ":CpuCacheEndToEnd.*"}


def e2e_filter(test_no):
    """The end-to-end cases of one test number when their names tell it
    (".../test2_..." or "...Test2...", or a suite of _E2E_SUITES), else None:
    every case runs."""
    if test_no is None:
        return None
    if test_no not in _E2E_FILTERS:
        flt = f"*Test{test_no}*:*test{test_no}*:*/{test_no}" + _E2E_SUITES.get(test_no, "")
        _, _, out = sh([os.path.join(BUILD, "bin", E2E), "--gtest_list_tests",
                        "--gtest_filter=" + flt])
        listed = [line for line in out.splitlines() if line.startswith("  ")]
        _E2E_FILTERS[test_no] = flt if listed else None
    return _E2E_FILTERS[test_no]


def objects_of(relpath):
    """The object files compiled from one source, in every library of the tree."""
    suffix = "/" + relpath + ".o"
    found = []
    for dirpath, _, names in os.walk(BUILD):
        for name in names:
            path = os.path.join(dirpath, name)
            if path.endswith(suffix) or path.endswith(suffix.replace("/zoltcpu/", "/__/zoltcpu/")):
                found.append(path)
    return found


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha1(f.read()).hexdigest()


# sha1 of each object of the unmutated tree (filled by baseline()).
BASE_OBJECTS = {}


def same_code(relpath, since):
    """True when every object rebuilt from the mutated source since `since` is
    byte for byte the unmutated one: the compiler proved the change has no
    effect (dead code, code of the other architecture, a value it overwrites)."""
    rebuilt = [p for src in sources_of(relpath) for p in objects_of(src)
               if os.path.getmtime(p) >= since]
    return bool(rebuilt) and all(BASE_OBJECTS.get(p) == digest(p) for p in rebuilt)


def run_tests(relpath, have, timeout):
    """(verdict, where, output) for the applied mutant: killed at the first
    failing program, else survived; "equivalent" when the compiled code did
    not change."""
    numbers = test_numbers(relpath)
    since = time.time() - 0.05
    programs = []
    for no in numbers:
        programs += [p for p in UNIT[no] if p not in programs]
    for k, (exe, flt) in enumerate(programs):
        if exe not in have:
            continue
        status, _, out = sh(["ninja", "-C", BUILD, "-j2", exe])
        if status != 0:
            return "stillborn", exe, out
        if k == 0 and same_code(relpath, since):
            return "equivalent", "compiler", ""
        argv = [os.path.join(BUILD, "bin", exe), "--gtest_fail_fast", "--gtest_brief=1"]
        if flt != "-":
            argv.append("--gtest_filter=" + flt)
        status, _, out = sh(argv, timeout=timeout)
        if status == "timeout":
            return "timeout", exe, out
        if status != 0:
            return "killed", exe, out
    status, _, out = sh(["ninja", "-C", BUILD, "-j2"] + [t for t in E2E_PER_MUTANT if t in have])
    if status != 0:
        return "stillborn", "build", out
    argv = [os.path.join(BUILD, "bin", E2E), "--gtest_fail_fast", "--gtest_brief=1"]
    flt = e2e_filter(numbers[0]) if len(numbers) == 1 else None
    if flt:
        argv.append("--gtest_filter=" + flt)
    status, _, out = sh(argv, timeout=timeout)
    if status == "timeout":
        return "timeout", E2E, out
    if status != 0:
        return "killed", E2E, out
    return object_check(timeout, out)


def object_check(timeout, e2e_out):
    """Last, for a mutant the programs let through: the check of the product's
    objects against their checked-in listings, where the tree has it (the
    product library is rebuilt for it)."""
    if OBJECT_CHECK not in _OBJECT_CHECK_FOUND:
        _, _, out = sh(["ctest", "-N", "-R", OBJECT_CHECK])
        _OBJECT_CHECK_FOUND[OBJECT_CHECK] = "Total Tests: 0" not in out
    if not _OBJECT_CHECK_FOUND[OBJECT_CHECK]:
        return "survived", E2E, e2e_out
    status, _, out = sh(["ninja", "-C", BUILD, "-j2", PRODUCT_LIBRARY])
    if status != 0:
        return "stillborn", PRODUCT_LIBRARY, out
    status, _, out = sh(["ctest", "-R", OBJECT_CHECK, "--output-on-failure"], timeout=timeout)
    if status == "timeout":
        return "timeout", "object check", out
    return ("killed" if status != 0 else "survived"), "object check", out


def baseline(have):
    """Builds the unmutated tree and runs every test program once; their
    total time sets the default per-mutant limit. Exits when a test fails."""
    status, _, out = sh(["ninja", "-C", BUILD, "-j2"] + sorted(
        {e for progs in UNIT.values() for e, _ in progs if e in have} | set(E2E_DEPS) & have))
    if status != 0:
        sys.exit("build/mutate does not build unmutated:\n" + out)
    total = 0.0
    for exe in sorted({e for progs in UNIT.values() for e, _ in progs if e in have} | {E2E}):
        status, secs, out = sh([os.path.join(BUILD, "bin", exe), "--gtest_brief=1"], timeout=600)
        if status != 0:
            sys.exit(f"{exe} fails unmutated; fix that first:\n{out}")
        total += secs
    for path, _ in all_files():
        for src in sources_of(path):
            for obj in objects_of(src):
                BASE_OBJECTS[obj] = digest(obj)
    return total


def load_done():
    done = {}
    if os.path.exists(RESULTS) and os.environ.get("MUTATE_FRESH") != "1":
        with open(RESULTS, encoding="utf-8") as f:
            for line in f:
                r = json.loads(line)
                done[r["key"]] = r
    elif os.path.exists(RESULTS):
        os.remove(RESULTS)
    return done


def campaign(mutants, done, have, timeout):
    todo = [m for m in mutants if key_of(m) not in done]
    print(f"{len(mutants)} mutants, {len(mutants) - len(todo)} already done, "
          f"time limit {timeout:.0f} s per mutant", flush=True)
    with open(RESULTS, "a", encoding="utf-8") as log:
        for n, m in enumerate(todo, start=1):
            start = time.monotonic()
            with Applied(m):
                verdict, where, out = run_tests(m.path, have, timeout)
            r = {"key": key_of(m), "id": m.mid, "file": m.path, "line": m.line, "op": m.op,
                 "old": m.old.strip(), "new": m.new.strip(), "verdict": verdict, "by": where,
                 "test": first_failure(out) if verdict == "killed" else "",
                 "seconds": round(time.monotonic() - start, 1)}
            done[r["key"]] = r
            log.write(json.dumps(r) + "\n")
            log.flush()
            print(f"[{n}/{len(todo)}] {m.mid} {verdict} ({where}, {r['seconds']} s)", flush=True)


def first_failure(out):
    """The name of the first failed test in a program's output."""
    for line in out.splitlines():
        if line.startswith("[  FAILED  ] ") and "," not in line:
            return line[13:].split(" ")[0]
    return ""


def report(mutants, done):
    rows = [done[key_of(m)] for m in mutants if key_of(m) in done]
    count = {v: sum(1 for r in rows if r["verdict"] == v)
             for v in ("killed", "timeout", "survived", "stillborn", "equivalent")}
    valid = count["killed"] + count["timeout"] + count["survived"]
    score = 100.0 * (count["killed"] + count["timeout"]) / valid if valid else 0.0
    by_objects = sum(1 for r in rows if r["verdict"] in ("killed", "timeout")
                     and r["by"] == "object check")
    score_programs = 100.0 * (count["killed"] + count["timeout"] - by_objects) / valid \
        if valid else 0.0
    secs = [r["seconds"] for r in rows]
    lines = [
        "# Mutation campaign report", "",
        f"Date: {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}; source "
        f"{git_head()}; {len(mutants)} mutants selected, {len(rows)} run.", "",
        f"Killed {count['killed']}, timed out {count['timeout']}, survived "
        f"{count['survived']}, stillborn {count['stillborn']} and equivalent "
        f"{count['equivalent']} (object code unchanged) not counted.",
        f"Score by behaviour (the unit and fault programs): {score_programs:.1f} % of "
        f"{valid} compiled mutants (before equivalents are taken out); with the "
        f"{by_objects} that only the object check's listings kill: {score:.1f} %.",
        f"Time per mutant: mean {sum(secs) / len(secs) if secs else 0:.1f} s, max "
        f"{max(secs) if secs else 0:.1f} s.", "",
        "| file | operator | run | killed | survived | stillborn or equivalent |",
        "|---|---|---|---|---|---|",
    ]
    groups = sorted({(r["file"], r["op"]) for r in rows})
    for f, op in groups:
        g = [r for r in rows if r["file"] == f and r["op"] == op]
        k = sum(1 for r in g if r["verdict"] in ("killed", "timeout"))
        s = sum(1 for r in g if r["verdict"] == "survived")
        lines.append(f"| {os.path.basename(f)} | {op} | {len(g)} | {k} | {s} | {len(g) - k - s} |")
    lines += ["", "## Survivors", ""]
    lines += [f"- `{r['id']}`: `{r['old']}` -> `{r['new']}`" for r in rows
              if r["verdict"] == "survived"]
    with open(os.path.join(BUILD, "report.md"), "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    print("\n".join(lines[:8]))


def git_head():
    status, _, out = sh(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"])
    return out.strip() if status == 0 else "unknown"


def rebuild_restored():
    """Builds build/mutate again from the restored sources, so that its
    programs are not left built from the last mutant."""
    status, _, out = sh(["ninja", "-C", BUILD, "-j2"])
    print("build/mutate rebuilt from the restored sources" if status == 0
          else "build/mutate does not rebuild:\n" + out[-2000:], flush=True)


def main():
    args = sys.argv[1:]
    if any(a in ("-h", "--help") for a in args) or args not in ([], ["--list"], ["--report"]):
        print(__doc__)
        sys.exit(0 if any(a in ("-h", "--help") for a in args) else 2)
    if not os.path.exists(os.path.join(BUILD, "build.ninja")):
        sys.exit("configure build/mutate first (make mutate does)")
    for sig in SIGNALS:
        signal.signal(sig, on_signal)
    lock = open(os.path.join(BUILD, "campaign.lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        sys.exit("another campaign runs on build/mutate")
    restore_leftovers()
    mutants = all_mutants()
    if sys.argv[1:] == ["--list"]:
        for m in mutants:
            print(f"{m.mid}\t{m.old.strip()}\t=>\t{m.new.strip()}")
        return
    done = load_done()
    if sys.argv[1:] != ["--report"]:
        have = targets_present()
        secs = baseline(have)
        timeout = float(os.environ.get("MUTATE_TIMEOUT", "0") or 0) or max(30.0, 10 * secs)
        try:
            campaign(mutants, done, have, timeout)
        except Interrupted as e:
            print(f"stopped by {e}; the source is restored; run again to resume")
        finally:
            for sig in SIGNALS:
                signal.signal(sig, signal.SIG_IGN)
            rebuild_restored()
    report(mutants, done)


if __name__ == "__main__":
    main()
