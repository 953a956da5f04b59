#!/usr/bin/env bash
# The second command on a fresh Debian machine: installs what the tests need
# (only what is missing), then builds and runs every test in the native,
# 32-bit and sanitizer trees (make check). Arguments go to make.
set -u
cd "$(dirname "$0")" || exit 2
ZOLT_DEPS_CALLER=./check.sh scripts/install-deps.sh tests || exit 1
exec make check "$@"
