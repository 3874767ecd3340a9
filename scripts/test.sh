#!/usr/bin/env bash
# Sets up, checks the format, builds and runs every test twice: a plain
# build, then one with warnings as errors and the address and
# undefined-behaviour sanitizers.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" test
"$root/scripts/check_format.sh"
jobs=$(nproc)

"$root/scripts/build.sh" build -DORVANDE_TESTS=ON
ctest --test-dir "$root/build" --output-on-failure -j "$jobs"

"$root/scripts/build.sh" build-strict -DORVANDE_TESTS=ON -DORVANDE_STRICT=ON -DCMAKE_BUILD_TYPE=Debug
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/support/lsan.supp} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
  ctest --test-dir "$root/build-strict" --output-on-failure -j "$jobs"
