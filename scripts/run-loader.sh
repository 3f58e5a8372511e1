#!/usr/bin/env bash
# Prepares the log loader's directory (the directory of the qel-loader program) and starts it.
#
#   scripts/run-loader.sh BUILD_DIR            start the window
#   scripts/run-loader.sh BUILD_DIR --smoke    start it, import log.txt, save screenshots, quit
#
# On a fresh machine it creates what the program expects beside it: an empty "log.db" with the
# log table, and a sample "log.txt" (10,000 generated access-log lines). Files already there are
# left alone. Without a display it runs the smoke run under xvfb-run instead of waiting for a
# window nobody can see.
set -euo pipefail

usage() { echo "usage: $0 BUILD_DIR [--smoke] [--lines N] [--shots DIR]" >&2; exit 2; }
[ $# -ge 1 ] || usage
build=$(cd "$1" && pwd); shift
smoke=0; lines=10000; shots=""
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) smoke=1 ;;
    --lines) lines=${2:?}; shift ;;
    --shots) shots=${2:?}; shift ;;
    *) usage ;;
  esac
  shift
done

appdir="$build/src/app"
loader="$appdir/qel-loader"
shot="$appdir/qel-loader-shot"
for t in "$loader" "$shot"; do
  if [ ! -x "$t" ]; then
    echo "Building $(basename "$t")..."
    cmake --build "$build" --target "$(basename "$t")" >/dev/null
  fi
done

if [ ! -f "$appdir/log.db" ]; then
  # WAL mode: the loader's many mid-run commits do not each wait for the disk.
  sqlite3 "$appdir/log.db" 'PRAGMA journal_mode=WAL;' \
    'CREATE TABLE log (Host TEXT, DateTime TEXT, URL TEXT, Code INTEGER, Size INTEGER, Ref TEXT);' >/dev/null
  echo "Created an empty $appdir/log.db"
fi
if [ ! -f "$appdir/log.txt" ]; then
  gen="$build/bench/loggen/qel_loggen"
  [ -x "$gen" ] || cmake --build "$build" --target qel_loggen_tool >/dev/null
  "$gen" "$lines" > "$appdir/log.txt"
  echo "Generated $appdir/log.txt ($lines lines)"
fi

run_smoke() {
  local out=${shots:-$appdir/screenshots}
  mkdir -p "$out"
  if [ -n "${DISPLAY:-}" ]; then
    timeout 600 "$shot" "$out"
  else
    echo "No display: running under xvfb-run (nothing is shown; screenshots go to $out)"
    timeout 600 xvfb-run -a -s "-screen 0 1280x800x24" "$shot" "$out"
  fi
}

if [ "$smoke" = 1 ]; then
  run_smoke
elif [ -z "${DISPLAY:-}" ]; then
  echo "No display (DISPLAY is not set): the window cannot be shown here."
  run_smoke
else
  exec "$loader"
fi
