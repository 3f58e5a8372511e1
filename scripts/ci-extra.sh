#!/usr/bin/env bash
# The checks CI runs after the README's test command: the house style, the whole suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, then every fuzz target for a few seconds on
# its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

echo "== Formatting (clang-format)"
scripts/check-format.sh

echo "== Sanitizer build (ASan + UBSan)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQEL_SANITIZE=ON -DQEL_BUILD_BENCH=OFF
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure

if [ -f fuzz/CMakeLists.txt ]; then
  echo "== Fuzz targets (libFuzzer, a few seconds each)"
  scripts/fuzz.sh build-fuzz "${QEL_FUZZ_SECONDS:-5}"
fi
