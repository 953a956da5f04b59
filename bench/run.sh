#!/bin/sh
# bench/run.sh - builds a native Release tree for the benchmarks (tests off)
# and runs zoltbench once: every benchmark side by side in one run, then the
# four ratios with their targets and the load average before and after.
# Extra arguments go to zoltbench (e.g. --benchmark_filter=FieldLookup).
# Environment: ZOLT_BENCH_BUILD (build directory, default build/bench),
# ZOLT_BENCH_RUNS, ZOLT_BENCH_IDLE_WINDOWS, ZOLT_BENCH_DEVICE, ZOLT_BENCH_PEERS.
set -eu
SRC=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${ZOLT_BENCH_BUILD:-$SRC/build/bench}

cmake -G Ninja -Wno-dev -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DZOLT_TESTS=OFF >/dev/null
ninja -C "$BUILD" -j2 zoltbench zoltcpu zoltpeers

echo "machine: $(nproc) logical CPUs, $(uname -r); load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$BUILD/bin/zoltbench" "$@"
