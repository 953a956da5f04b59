#!/usr/bin/env python3
"""Tests of scripts/check-layers.py: each case copies the product's folders and
build file into a temporary tree, plants one change and runs the script there.
  tests/scripts/check-layers.py SOURCE_DIR"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

SRC = None
FOLDERS = ('support', 'messaging', 'model', 'dapi2', 'zoltmod', 'zoltcpu', 'peers', 'frontend')


def append(path, text):
    return ('append', path, text)


def replace(path, old, new):
    return ('replace', path, old, new)


# (case, changes, exit status, text every finding list must hold)
CASES = [
    ('the tree as it is', [], 0, 'layers: clean'),
    ('support source includes messaging', [append('support/trace.cpp', '#include "pipe-lowlevel.h"')],
     1, 'support/trace.cpp (zoltsupport) includes pipe-lowlevel.h (zoltmessaging)'),
    ('support header includes model', [append('support/zolt-string.h', '#include "device-record.h"')],
     1, 'support/zolt-string.h (zoltsupport) includes device-record.h (zoltmodel)'),
    ('messaging includes model', [append('messaging/message-protocol.cpp', '#include "test-common.h"')],
     1, 'messaging/message-protocol.cpp (zoltmessaging) includes test-common.h (zoltmodel)'),
    ('messaging header includes framework', [append('messaging/pipe-lowlevel.h', '# include "dapi2.h"')],
     1, 'messaging/pipe-lowlevel.h (zoltmessaging) includes dapi2.h (zoltdapi2)'),
    ('model includes framework', [append('model/device-record.cpp', '#include "dapi2-device.h"')],
     1, 'model/device-record.cpp (zoltmodel) includes dapi2-device.h (zoltdapi2)'),
    ('framework includes the module', [append('dapi2/dapi2-main.cpp', '#include "cpu-driver.h"')],
     1, 'dapi2/dapi2-main.cpp (zoltdapi2) includes cpu-driver.h (zoltcpumod)'),
    ('module helpers include support', [append('zoltmod/zolt-mod-support.cpp', '#include "trace.h"')],
     1, 'zoltmod/zolt-mod-support.cpp (zoltmod) includes trace.h (zoltsupport)'),
    ('peers include model', [append('peers/engine.cpp', '#include "param-valid.h"')],
     1, 'peers/engine.cpp (zoltpeerslib) includes param-valid.h (zoltmodel)'),
    ('program includes a header of another program', [append('zoltcpu/main.cpp', '#include "cli.h"')],
     1, 'zoltcpu/main.cpp (zoltcpumod) includes cli.h (zoltfrontend)'),
    ('stand-in peers include the front end', [append('peers/broker.cpp', '#include "report.h"')],
     1, 'peers/broker.cpp (zoltpeerslib) includes report.h (zoltfrontend)'),
    ('module reaches support through the layers', [append('zoltcpu/cpu-diag.cpp', '#include "zolt-string.h"')],
     0, 'layers: clean'),
    ('libraries in a loop', [replace('CMakeLists.txt', 'DEPS Threads::Threads', 'DEPS Threads::Threads zoltmodel')],
     1, 'library loop: zoltmodel -> zoltmessaging -> zoltsupport -> zoltmodel'),
    ('headers in a loop', [append('support/gen-str.h', '#include "gen-list.h"'),
                           append('support/gen-list.h', '#include "gen-str.h"')],
     1, 'header loop: support/gen-list.h -> support/gen-str.h -> support/gen-list.h'),
]


class CheckLayers(unittest.TestCase):
    def make_tree(self):
        self.tree = tempfile.mkdtemp(prefix='zolt-layers-')
        self.addCleanup(shutil.rmtree, self.tree)
        shutil.copy(os.path.join(SRC, 'CMakeLists.txt'), self.tree)
        for folder in FOLDERS:
            shutil.copytree(os.path.join(SRC, folder), os.path.join(self.tree, folder),
                            ignore=shutil.ignore_patterns('*.ini'))

    def plant(self, change):
        path = os.path.join(self.tree, change[1])
        text = open(path).read() if os.path.exists(path) else ''
        if change[0] == 'append':
            text += '\n' + change[2] + '\n'
        else:
            self.assertIn(change[2], text)
            text = text.replace(change[2], change[3], 1)
        with open(path, 'w') as f:
            f.write(text)

    def run_script(self):
        return subprocess.run([sys.executable, os.path.join(SRC, 'scripts', 'check-layers.py'),
                               self.tree], capture_output=True, text=True)

    def test_cases(self):
        for name, changes, rc, text in CASES:
            with self.subTest(name):
                self.make_tree()
                for change in changes:
                    self.plant(change)
                out = self.run_script()
                self.assertEqual(out.returncode, rc, out.stdout + out.stderr)
                self.assertIn(text, out.stdout)
                if rc == 1:  # the planted fault and nothing else
                    self.assertEqual(out.stdout.count('layers: '), 1, out.stdout)

    def test_missing_build_file(self):
        self.make_tree()
        os.remove(os.path.join(self.tree, 'CMakeLists.txt'))
        out = self.run_script()
        self.assertEqual(out.returncode, 2)
        self.assertIn('cannot read the build file', out.stdout)


if __name__ == '__main__':
    SRC = os.path.abspath(sys.argv.pop(1))
    unittest.main()
