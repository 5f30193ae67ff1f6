#!/usr/bin/env bash
# Runs every test twice: in a plain build with warnings as errors, then in a build instrumented
# with AddressSanitizer and UndefinedBehaviorSanitizer (leak checking on).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

scripts/build.sh build -DZRDEVICE_WERROR=ON
(cd build && ctest --output-on-failure -j2)

scripts/build.sh build-asan -DZRDEVICE_WERROR=ON -DZRDEVICE_SANITIZE=ON
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
(cd build-asan && ctest --output-on-failure -j2)
