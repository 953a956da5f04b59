#!/usr/bin/env bash
# The first command on a fresh Debian machine: installs what building the
# product needs (only what is missing), builds the product alone in
# build/product, and runs every test on every CPU through zoltpeers.
# Arguments go to zoltpeers, e.g. ./run.sh --tests 0,2 --loops 3.
set -u
cd "$(dirname "$0")" || exit 2
ZOLT_DEPS_CALLER=./run.sh scripts/install-deps.sh product || exit 1
tree=${BUILD:-build}/product
if [ ! -f "$tree/build.ninja" ]; then
    cmake -G Ninja -Wno-dev -S . -B "$tree" -DCMAKE_BUILD_TYPE=Release \
        -DZOLT_TESTS=OFF -DZOLT_BENCH=OFF >/dev/null || exit 2
fi
ninja -C "$tree" -j "${JOBS:-$(nproc)}" || exit 2

"$tree/bin/zoltpeers" "$@" all
rc=$?
# A report that says FAIL or "could not test" is what this command is for,
# not a failure of it; other statuses pass through.
case $rc in
    0) echo "./run.sh: every test passed (zoltpeers exit status 0)" ;;
    1) echo "./run.sh: a test failed: FAIL, CRASHED or HUNG (zoltpeers exit status 1)"; rc=0 ;;
    4) echo "./run.sh: nothing failed, but something could not be tested (zoltpeers exit status 4)"
       rc=0 ;;
    *) echo "./run.sh: zoltpeers exit status $rc: no complete report" >&2 ;;
esac
exit $rc
