#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while on a copy of its seed
# corpus. Fails when a target crashes, leaks, hangs or breaks an invariant.
#
#   scripts/fuzz.sh [BUILD_DIR] [SECONDS] [TARGET...]
#
# BUILD_DIR defaults to build-fuzz, SECONDS to 5; without targets every fuzz_* target runs.
# Crashing inputs are left in BUILD_DIR/fuzz-artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-fuzz}"
seconds="${2:-5}"
shift $(( $# > 2 ? 2 : $# ))

CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQEL_FUZZ=ON -DQEL_WERROR=OFF -DQEL_BUILD_UI=OFF -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target fuzzers

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in "$build"/fuzz/fuzz_*; do
    [ -x "$f" ] && targets+=("$(basename "$f")")
  done
fi
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets were built" >&2; exit 1; }

failed=()
for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  artifacts="$build/fuzz-artifacts/$t"
  rm -rf "$work"
  mkdir -p "$work" "$artifacts"
  [ -d "fuzz/corpus/$t" ] && cp -r "fuzz/corpus/$t/." "$work/"
  dict=()
  [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
  echo "== $t: ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$build/fuzz/$t" "$work" "${dict[@]}" -max_total_time="$seconds" -max_len=4096 \
      -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts/" \
      >"$build/fuzz-$t.log" 2>&1; then
    tail -n 60 "$build/fuzz-$t.log"
    failed+=("$t")
  else
    grep -E 'DONE|^stat::number_of_executed_units' "$build/fuzz-$t.log" | tail -n 2
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets failed: ${failed[*]}" >&2
  exit 1
fi
echo "fuzz targets passed: ${targets[*]}"
