#!/usr/bin/env python3
"""check-layers.py - keeps the includes of the product's code pointing down the
library layers that CMakeLists.txt declares.
  scripts/check-layers.py SOURCE_DIR
The zolt_library() calls of SOURCE_DIR/CMakeLists.txt give each library its
folder, its sources and the libraries it builds on (DEPS). A file belongs to the
library that lists it (a header to the library of the .cpp of the same name;
else, and for main.cpp, to the folder's only library). A file may include the
headers of its own library and of the libraries it builds on, directly or
through others; nothing else. Also fails on a loop among the DEPS and on a loop
of headers including each other. Exit 0 clean, 1 findings (one line each),
2 when the build file cannot be read."""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)
LIBRARY = re.compile(r'zolt_library\(([^)]*)\)', re.S)


def parse_libraries(cmake_text):
    """{library: (folder, [sources], [deps])} of every zolt_library() call."""
    libs = {}
    for call in LIBRARY.findall(re.sub(r'#[^\n]*', '', cmake_text)):
        words = call.split()
        if len(words) < 2 or not words[0].startswith('zolt'):
            continue  # the function's own definition
        name, folder, part = words[0], words[1], None
        sources, deps = [], []
        for w in words[2:]:
            if w in ('SOURCES', 'DEPS'):
                part = w
            elif part == 'SOURCES':
                sources.append(w)
            elif part == 'DEPS' and w.startswith('zolt'):
                deps.append(w)
        libs[name] = (folder, sources, deps)
    return libs


def find_loop(graph):
    """One loop of graph {node: [nodes]} as a list of nodes, or None."""
    state = {}

    def visit(node, path):
        state[node] = 1
        for nxt in graph.get(node, []):
            if state.get(nxt) == 1:
                return path[path.index(nxt):] + [nxt]
            if nxt not in state:
                loop = visit(nxt, path + [nxt])
                if loop:
                    return loop
        state[node] = 2
        return None

    for start in sorted(graph):
        if start not in state:
            loop = visit(start, [start])
            if loop:
                return loop
    return None


def reachable(libs, name):
    """The library and every library it builds on."""
    seen, todo = set(), [name]
    while todo:
        lib = todo.pop()
        if lib in seen or lib not in libs:
            continue
        seen.add(lib)
        todo.extend(libs[lib][2])
    return seen


def owners(libs):
    """{folder/file: library} for sources, their headers and main.cpp."""
    owner, by_folder = {}, {}
    for name, (folder, sources, _) in libs.items():
        by_folder.setdefault(folder, []).append(name)
        for src in sources:
            stem = os.path.splitext(src)[0]
            owner[folder + '/' + src] = name
            owner[folder + '/' + stem + '.h'] = name
    return owner, by_folder


def owner_of(path, owner, by_folder):
    if path in owner:
        return owner[path]
    folder_libs = by_folder.get(os.path.dirname(path), [])
    return folder_libs[0] if len(folder_libs) == 1 else None


def product_files(src, by_folder):
    for folder in sorted(by_folder):
        for f in sorted(os.listdir(os.path.join(src, folder))):
            if f.endswith(('.cpp', '.h')):
                yield folder + '/' + f


def check(src):
    try:
        with open(os.path.join(src, 'CMakeLists.txt')) as f:
            libs = parse_libraries(f.read())
    except OSError as e:
        return 2, ['cannot read the build file: %s' % e]
    if not libs:
        return 2, ['no zolt_library() in the build file']
    findings = []
    loop = find_loop({n: v[2] for n, v in libs.items()})
    if loop:
        findings.append('library loop: ' + ' -> '.join(loop))
    owner, by_folder = owners(libs)
    headers = {}  # header name -> folder/header
    for path in product_files(src, by_folder):
        if path.endswith('.h'):
            headers[os.path.basename(path)] = path
    header_graph = {}
    for path in product_files(src, by_folder):
        lib = owner_of(path, owner, by_folder)
        if lib is None:
            findings.append('%s: belongs to no library' % path)
            continue
        allowed = reachable(libs, lib)
        with open(os.path.join(src, path), errors='replace') as f:
            included = INCLUDE.findall(f.read())
        for inc in included:
            target = headers.get(os.path.basename(inc))
            if target is None:
                continue  # a system header or one of another tree
            if path.endswith('.h'):
                header_graph.setdefault(path, []).append(target)
            tlib = owner_of(target, owner, by_folder)
            if tlib is not None and tlib not in allowed:
                findings.append('%s (%s) includes %s (%s)' % (path, lib, inc, tlib))
    loop = find_loop(header_graph)
    if loop:
        findings.append('header loop: ' + ' -> '.join(loop))
    return (1 if findings else 0), findings


def main(argv):
    if len(argv) != 2:
        print('usage: check-layers.py SOURCE_DIR', file=sys.stderr)
        return 2
    rc, findings = check(argv[1])
    for line in findings:
        print('layers: ' + line)
    if rc == 0:
        print('layers: clean')
    return rc


if __name__ == '__main__':
    sys.exit(main(sys.argv))
