#!/bin/sh
# coverage.sh - replays every checked-in corpus through a clang coverage build
# (build/fuzzcov: -fprofile-instr-generate -fcoverage-mapping, no sanitizers)
# and prints the region coverage of every product source file the replays
# reach, then the functions of the pipe layer, the notation, the framework's
# message handling and zoltpeers' parsers that no corpus input reaches.
# Run from the top of the tree (make fuzz-coverage). BUILD (default build)
# names the build folder; JOBS the build's parallel jobs.
set -eu
B=${BUILD:-build}/fuzzcov
JOBS=${JOBS:-2}
FLAGS="-fprofile-instr-generate -fcoverage-mapping"
if [ ! -f "$B/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -G Ninja -Wno-dev -S . -B "$B" -DCMAKE_BUILD_TYPE=Release \
        -DZOLT_BENCH=OFF -DCMAKE_C_FLAGS="$FLAGS" -DCMAKE_CXX_FLAGS="$FLAGS" \
        -DCMAKE_EXE_LINKER_FLAGS="$FLAGS" > /dev/null
fi
targets=$(sed -n 's/^  \([a-z0-9-]*\):zolt[a-z0-9]*)\{0,1\}$/\1/p' fuzz/CMakeLists.txt)
ninja -C "$B" -j "$JOBS" $(for t in $targets; do printf 'fuzz-%s-replay ' "$t"; done) > /dev/null

rm -rf "$B/profiles"
mkdir -p "$B/profiles"
objects=""
first=""
for t in $targets; do
    tmp=$(mktemp -d "${TMPDIR:-/tmp}/zoltfuzz-cov.XXXXXX")
    TMPDIR=$tmp LLVM_PROFILE_FILE="$B/profiles/$t.profraw" "$B/bin/fuzz-$t-replay" \
        "fuzz/corpus/$t" > /dev/null
    rm -rf "$tmp"
    if [ -z "$first" ]; then
        first="$B/bin/fuzz-$t-replay"
    else
        objects="$objects -object $B/bin/fuzz-$t-replay"
    fi
done
llvm-profdata merge -sparse -o "$B/fuzz.profdata" "$B"/profiles/*.profraw

# Product sources only: the fuzz programs, tests and system headers are left out.
ignore='(/usr/|/fuzz/|/tests/|googletest)'
echo "== region coverage per source file (corpora replayed once)"
# shellcheck disable=SC2086
llvm-cov report -instr-profile="$B/fuzz.profdata" "$first" $objects \
    -ignore-filename-regex="$ignore" | cut -c1-86 | awk 'NR <= 2 || ($2 ~ /^[0-9]+$/ && $2 > 0)'

echo "== functions not reached, in the parsers the corpora are for"
for f in messaging/pipe-lowlevel.cpp messaging/message-protocol.cpp \
    messaging/client-messaging-engine.cpp dapi2/dapi2-events.cpp dapi2/dapi2-reports.cpp \
    peers/broker.cpp peers/engine.cpp peers/nls-engine.cpp peers/peers-common.cpp \
    frontend/cli-parse.cpp frontend/json-text.cpp frontend/param-check.cpp; do
    # shellcheck disable=SC2086
    llvm-cov report -instr-profile="$B/fuzz.profdata" "$first" $objects -show-functions \
        "$PWD/$f" 2>/dev/null \
        | awk '$2 ~ /^[0-9]+$/ && $3 == $2 {print $1}' | c++filt | sed "s|^|  $f: |"
done
