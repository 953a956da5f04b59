#!/usr/bin/python3
# mutate-ops.py - tests of the mutant generator's operator classes (a small source
# in, the expected mutants out) and of the campaign runner's --help.
import hashlib
import os
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "scripts"))
import mutate_ops  # noqa: E402


def mutants(source, name="x-asm.cpp", op=None):
    """{(line, op): [new lines stripped]} of a small source."""
    with tempfile.TemporaryDirectory() as d:
        with open(os.path.join(d, name), "w", encoding="utf-8") as f:
            f.write(source)
        out = {}
        for m in mutate_ops.generate(d, name):
            if op is None or m.op == op:
                out.setdefault((m.line, m.op), []).append(m.new.strip())
        return out


class OperatorClasses(unittest.TestCase):
    CASES = [
        # (operator, file name, source line, expected new lines)
        ("JCC", "x-asm.cpp", '    "je 1f\\n\\t"', ['"jbe 1f\\n\\t"', '"jle 1f\\n\\t"']),
        ("JCC", "x-asm.cpp", 'CHECK(Jae, "cmpw $0, %%ax", "jae", 2)',
         ['CHECK(Jae, "cmpw $0, %%ax", "ja", 2)', 'CHECK(Jae, "cmpw $0, %%ax", "jge", 2)']),
        ("ASUB", "x-asm.cpp", '    __asm__ volatile("cltd\\n\\t"',
         ['__asm__ volatile("xorl %%edx, %%edx\\n\\t"']),
        ("ASUB", "x-asm.cpp", '    "imull %[b], %[a]"', ['"mull %[b], %[a]"']),
        ("ASUB", "x-asm.cpp", '    "sarl $1, %[a]\\n\\t"', ['"shrl $1, %[a]\\n\\t"']),
        ("ASUB", "x-asm.cpp", '    "adcl %[b], %[a]\\n\\t"', ['"addl %[b], %[a]\\n\\t"']),
        ("AIDX", "x.cpp", "    u |= f(dwPattern[i], a[uRow]);",
         ["u |= f(dwPattern[0], a[uRow]);", "u |= f(dwPattern[i], a[0]);"]),
        ("AIDX", "x.cpp", "    g(&w[u], sizeof w[u]);", ["g(&w[0], sizeof w[u]);"]),
        ("AIDX", "x-asm.cpp", '    : [cw] "+m"(uCw)', None),
        ("PRE", "x.cpp", "    uint32_t uLoad = 0x00FF;",
         ["uint32_t uLoad = 0x0000;", "uint32_t uLoad = 0x037F;", "uint32_t uLoad = 0xFFFF;"]),
        ("PRE", "x.cpp", "    *puRes = 0xFFFF;", ["*puRes = 0x0000;", "*puRes = 0x037F;"]),
        ("PRE", "x.cpp", "    g_iTestResult = 2;", None),
        ("PRE", "x.cpp", "    uint16_t uMask = 0;", None),
        ("MASK", "x.cpp", "    return (uS1 & 0x3Fu) == 0;",
         ["return (uS1 & 0x7Fu) == 0;", "return (uS1 & 0x3Eu) == 0;"]),
        ("MASK", "x.cpp", "    return (0x0C00u & uSw) != 0;",
         ["return (0x0E00u & uSw) != 0;", "return (0x0800u & uSw) != 0;"]),
        ("MASK", "x.cpp", "    return ((s >> 11) & 7u);", ["return ((s >> 11) & 15u);",
                                                           "return ((s >> 11) & 6u);"]),
        ("MASK", "x-asm.cpp", '    "andw $0x0F00, %[w]\\n\\t"',
         ['"andw $0x0F80, %[w]\\n\\t"', '"andw $0x0E00, %[w]\\n\\t"']),
        ("ADEL", "x-asm.cpp", '#define C ZOLT_FAULT_ASM("stc\\n\\t") "addl %[b], %[a]\\n"',
         ['#define C ZOLT_FAULT_ASM("stc\\n\\t") ""']),
        ("HCONST", "x.h", "inline const uint32_t kP[2] = { 0x80u, 3 };",
         ["inline const uint32_t kP[2] = { 0x100u, 3 };", "inline const uint32_t kP[2] = { 0x80u, 2 };"]),
    ]

    def test_each_class_yields_exactly_its_mutants(self):
        for op, name, line, expected in self.CASES:
            with self.subTest(op=op, line=line):
                got = mutants(line + "\n", name, op).get((1, op))
                self.assertEqual(got, expected)

    def test_fault_build_asm_is_left_alone(self):
        src = '    "movl %%eax, %%edi\\n\\t" ZOLT_FAULT_ASM( \\\n        "xorl %[f0], %%edi\\n\\t")\n'
        self.assertEqual(sorted(mutants(src)), [(1, "ADEL"), (1, "AOPND")])  # line 2: none

    def test_a_header_constant_is_no_plain_literal_mutant(self):
        self.assertNotIn("LIT", {op for _, op in mutants("#define K 5\n", "x.h")})


class Runner(unittest.TestCase):
    def test_help_prints_usage_and_changes_nothing(self):
        def state():
            h = hashlib.sha1()
            for name in sorted(os.listdir(os.path.join(ROOT, "zoltcpu"))):
                with open(os.path.join(ROOT, "zoltcpu", name), "rb") as f:
                    h.update(f.read())
            return h.hexdigest(), os.path.exists(os.path.join(ROOT, "build", "mutate",
                                                              "results.jsonl"))
        before = state()
        for args, rc in ((["--help"], 0), (["-h"], 0), (["--bogus"], 2)):
            r = subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "mutate.py")] + args,
                               capture_output=True, text=True, timeout=60)
            self.assertEqual(r.returncode, rc, args)
            self.assertIn("Usage: scripts/mutate.py", r.stdout)
        self.assertEqual(state(), before)


if __name__ == "__main__":
    unittest.main()
