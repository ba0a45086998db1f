#!/usr/bin/env bash
# The whole test suite from a fresh checkout: installs what is missing, builds, and runs every
# test twice, once in a normal build and once under AddressSanitizer and UBSan, where any
# report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
(cd build && ctest --output-on-failure -j "$jobs")

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFLASHMATE_SANITIZE=ON -DFLASHMATE_BENCH=OFF >/dev/null
cmake --build build-asan
(cd build-asan &&
  ASAN_OPTIONS=abort_on_error=1:detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --output-on-failure -j "$jobs")
echo "All tests passed, in the normal and the sanitizer build."
