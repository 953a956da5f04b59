#!/usr/bin/env bash
# Static checks of the product and the peers: clang-tidy (configuration in
# .clang-tidy) and cppcheck (suppressions in scripts/cppcheck-suppressions.txt),
# both over the compile commands of a configured build tree.
#   scripts/lint.sh BUILD_DIR [JOBS]
# Exits 0 when both are clean, 1 when either reported something, 2 when a tool
# or the compile commands are missing.
set -u
BUILD=${1:?usage: scripts/lint.sh BUILD_DIR [JOBS]}
JOBS=${2:-2}
SRC=$(cd "$(dirname "$0")/.." && pwd)
DB="$BUILD/compile_commands.json"
TIDY=$(command -v clang-tidy-14 || command -v clang-tidy)
[ -f "$DB" ] || { echo "lint: $DB missing (configure the build first)"; exit 2; }
[ -n "$TIDY" ] || { echo "lint: clang-tidy not installed"; exit 2; }
command -v cppcheck > /dev/null || { echo "lint: cppcheck not installed"; exit 2; }

FILES=$(cd "$SRC" && ls support/*.cpp messaging/*.cpp model/*.cpp dapi2/*.cpp zoltmod/*.cpp zoltcpu/*.cpp peers/*.cpp frontend/*.cpp)
rc=0

echo "== clang-tidy ($($TIDY --version | grep -o 'version [0-9.]*'))"
OUT=$(mktemp)
(cd "$SRC" && printf '%s\n' $FILES | xargs -P "$JOBS" -n 4 "$TIDY" -p "$BUILD" --quiet > "$OUT" 2> /dev/null)
if grep -q 'warning:\|error:' "$OUT"; then
    cat "$OUT"
    echo "clang-tidy: $(grep -c 'warning:\|error:' "$OUT") finding(s)"
    rc=1
else
    echo "clang-tidy: clean ($(echo $FILES | wc -w) files)"
fi
rm -f "$OUT"

echo "== cppcheck ($(cppcheck --version))"
CPPCHECK_DIR="$BUILD/cppcheck"
mkdir -p "$CPPCHECK_DIR"
if ! (cd "$SRC" && cppcheck --project="$DB" --cppcheck-build-dir="$CPPCHECK_DIR" -j "$JOBS" -q \
        --enable=warning,performance,portability --std=c++17 --inline-suppr --error-exitcode=1 \
        --suppressions-list="$SRC/scripts/cppcheck-suppressions.txt" \
        -i "$SRC/tests" -i "$SRC/fuzz" -i "$SRC/bench" -i "$BUILD" \
        --template='{file}:{line}: {severity}: {message} [{id}]'); then
    rc=1
else
    echo "cppcheck: clean"
fi
exit $rc
