#!/usr/bin/env python3
"""The layer self-test of the build: for each boundary between two layers, a
probe compiled with exactly the include directories the build gives the lower
library must see that library's own header and must NOT find the upper one.
  tests/scripts/upward-include.py CXX LIB=DIR[:DIR...] ...
An upward include that compiles means a library's include directories expose
a layer above it."""
import os
import subprocess
import sys
import tempfile
import unittest

# (lower library, one of its own headers, a header of the layer above it)
BOUNDARIES = [
    ('zoltsupport', 'trace.h', 'pipe-lowlevel.h'),
    ('zoltmessaging', 'pipe-lowlevel.h', 'device-record.h'),
    ('zoltmodel', 'device-record.h', 'dapi2.h'),
    ('zoltdapi2', 'dapi2.h', 'cpu-driver.h'),
    ('zoltmod', 'zolt-mod-support.h', 'dapi2.h'),
    ('zoltmessaging', 'message-protocol.h', 'session.h'),
    ('zoltpeerslib', 'session.h', 'report.h'),
]

CXX = None
DIRS = {}


def compile_probe(lib, header):
    """(exit status, compiler output) of a file that includes header, compiled
    with lib's include directories."""
    with tempfile.TemporaryDirectory(prefix='zolt-probe-') as tmp:
        src = os.path.join(tmp, 'probe.cpp')
        with open(src, 'w') as f:
            f.write('#include "%s"\nint main() { return 0; }\n' % header)
        args = [CXX, '-std=c++17', '-fsyntax-only', src]
        args += ['-I' + d for d in DIRS[lib]]
        p = subprocess.run(args, capture_output=True, text=True)
        return p.returncode, p.stdout + p.stderr


class UpwardInclude(unittest.TestCase):
    def test_each_boundary(self):
        for lib, own, upper in BOUNDARIES:
            with self.subTest(lib=lib, upper=upper):
                rc, out = compile_probe(lib, own)
                self.assertEqual(rc, 0, '%s cannot include its own %s:\n%s' % (lib, own, out))
                rc, out = compile_probe(lib, upper)
                self.assertNotEqual(rc, 0, '%s compiles an include of %s' % (lib, upper))
                self.assertIn('%s: No such file' % upper, out)


def main(argv):
    global CXX
    CXX = argv[1]
    for arg in argv[2:]:
        lib, _, dirs = arg.partition('=')
        DIRS[lib] = [d for d in dirs.split(':') if d]
    missing = {b[0] for b in BOUNDARIES} - set(DIRS)
    if missing:
        print('upward-include: no include directories for %s' % ', '.join(sorted(missing)))
        return 2
    return 0 if unittest.main(argv=argv[:1], exit=False).result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main(sys.argv))
