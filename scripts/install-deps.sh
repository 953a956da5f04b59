#!/usr/bin/env bash
# Installs the Debian packages that building and running the product
# ("product") or building and running every test ("tests") needs, and only
# those that are missing. As root it says what it installs, then runs
# apt-get update and apt-get install; as another user it prints the exact
# command to run and exits 1. Exits 0 when nothing is missing afterwards.
set -u
product=(g++ cmake ninja-build)
# Tests: the 32-bit and sanitizer trees, GoogleTest, benchmarks, the memory
# checker, the i386 emulator where the kernel cannot run 32-bit programs, the
# JSON schema checker, the tools the packaging tests call (man, bash
# completion, lintian), clang-format for the formatting check, and those of the
# unattended-screening tests (promtool from prometheus, the node exporter,
# systemd-analyze from systemd).
tests=("${product[@]}" g++-multilib make libgtest-dev googletest libbenchmark-dev valgrind
       qemu-user python3 python3-jsonschema man-db bash-completion clang-format lintian
       prometheus prometheus-node-exporter systemd)

case "${1-}" in
    product) want=("${product[@]}") ;;
    tests) want=("${tests[@]}") ;;
    *) echo "usage: $0 product|tests" >&2; exit 2 ;;
esac
me=${ZOLT_DEPS_CALLER:-$0}

if ! command -v dpkg-query >/dev/null; then
    echo "$me: this is not a Debian system; install these packages (Debian names) yourself: ${want[*]}" >&2
    exit 1
fi
missing=()
for pkg in "${want[@]}"; do
    [ "$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null)" = "install ok installed" ] ||
        missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

line="apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "$me: missing Debian packages: ${missing[*]}" >&2
    echo "$me: as root, run:  apt-get update && $line" >&2
    echo "$me: then run $me again" >&2
    exit 1
fi
echo "$me: installing system-wide: ${missing[*]} (apt-get update, then $line)" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -q >&2 && $line >&2 || {
    echo "$me: apt-get failed; run it yourself: apt-get update && $line" >&2
    exit 1
}
