#!/bin/sh
# The formatting check of the test command: every tracked C/C++ file of the
# source tree must be as clang-format (with the tree's .clang-format) leaves it.
#   tests/scripts/check-format.sh SOURCE_DIR
# Exits 77 (a skip for ctest) when clang-format or the file list is missing.
src=${1:?usage: check-format.sh SOURCE_DIR}
cd "$src" || exit 2
command -v clang-format >/dev/null 2>&1 || { echo "clang-format is not installed: skipped"; exit 77; }
list=$(git ls-files -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp' 2>/dev/null) ||
    { echo "not a git checkout, no list of tracked files: skipped"; exit 77; }
[ -n "$list" ] || { echo "no tracked C/C++ files: skipped"; exit 77; }
# Only files present in the working tree (a deleted, not yet committed file is listed).
printf '%s\n' "$list" | while read -r f; do [ -f "$f" ] && printf '%s\n' "$f"; done |
    xargs clang-format --dry-run -Werror
