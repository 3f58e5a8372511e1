#!/usr/bin/env bash
# Loads one generated access log five ways and prints wall time, speed and peak memory:
#   (1) qel import with the log loader's settings        (2) the sqlite3 shell's .import
#   (3) a bare hand-written C++ loop (the floor)          (4) qel import, append-update keyed on a column
#   (5) DuckDB's read_csv of the same six fields into a DuckDB file (bench/duckdb; needs node and
#       npm, which install DuckDB's own package there at the first run; skipped without them)
#   (6) with QEL_BENCH_LARGE=N: (1) on an N-line log as well, in the same rounds (linearity)
# then, when the log loader's benchmark is built (QEL_BENCH_APP=0 leaves it out), the window's
# import against the headless one on the same log, in interleaved rounds of their own.
# usage: bench/run-import-benchmark.sh [LINES] [BUILD_DIR]
set -euo pipefail
lines=${1:-1000000}
build=${2:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
[[ "$build" = /* ]] || build="$root/$build"
work=${QEL_BENCH_DIR:-/tmp/qel-bench}
mkdir -p "$work"
log="$work/access-$lines.log"
schema='CREATE TABLE log (Host TEXT, DateTime TEXT, URL TEXT, Code INTEGER, Size INTEGER, Ref TEXT);'

# The three programs it runs, built when missing (the build folder must be configured).
for t in src/cli/qel:qel bench/import/qel_bare_loop:qel_bare_loop bench/loggen/qel_loggen:qel_loggen_tool; do
  [ -x "$build/${t%%:*}" ] || cmake --build "$build" --target "${t##*:}" > /dev/null
done

# A log is generated once and reused while it still is the generator's output: as many lines,
# and the same first thousand (the generator's output for fewer lines is a prefix of it).
ensure_log() {
  local file=$1 n=$2 head=$(( $2 < 1000 ? $2 : 1000 ))
  if [ -s "$file" ] && [ "$(wc -l < "$file")" -eq "$n" ] &&
     cmp -s <(head -n "$head" "$file") <("$build/bench/loggen/qel_loggen" "$head"); then
    return 0
  fi
  "$build/bench/loggen/qel_loggen" "$n" > "$file"
}
ensure_log "$log" "$lines"
bytes=$(stat -L -c %s "$log")
large=${QEL_BENCH_LARGE:-}
if [ -n "$large" ]; then
  large_log="$work/access-$large.log"
  ensure_log "$large_log" "$large"
  large_bytes=$(stat -L -c %s "$large_log")
fi

# DuckDB through its npm package, installed beside its script (never committed, never linked).
duckdb_dir="$root/bench/duckdb"
duckdb_note=""
if command -v node > /dev/null && command -v npm > /dev/null; then
  if [ ! -d "$duckdb_dir/node_modules/@duckdb/node-api" ]; then
    (cd "$duckdb_dir" && npm install --no-package-lock --no-audit --no-fund --silent) > /dev/null 2>&1 ||
      duckdb_note="(5) skipped: npm could not install @duckdb/node-api"
  fi
else
  duckdb_note="(5) skipped: node and npm are needed for DuckDB"
fi

qel_args=(--quiet --map Host=Field1 --map DateTime=Field4 --map URL=Field6 --map Code=Field7
          --map Size=Field8 --map Ref=Field9 --delimiter space --qualifier quot
          --record-separator lf --update-step 200 --dash-null)

# Each figure is the median of this many rounds; a round runs the four loads one after another,
# so that a slower stretch of the machine (it is shared) weighs on all four alike.
repeat=${QEL_BENCH_REPEAT:-3}

# run NAME PREPARE COMMAND...: runs PREPARE (a fresh destination), then COMMAND under
# /usr/bin/time -v; adds the wall seconds and the CPU seconds (user and system) to the run's
# lists and keeps its largest peak RSS (kB).
declare -A walls cpus rss
run() {
  local name=$1 prepare=$2; shift 2
  local t="$work/time-$name.txt"
  eval "$prepare"
  sync  # the previous run's pages are on disk before this one is timed
  /usr/bin/time -v "$@" > "$work/out-$name.txt" 2> "$t" || { cat "$t"; exit 1; }
  local wall kb
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$t")
  walls[$name]+="$(awk -v w="$wall" 'BEGIN { n = split(w, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }') "
  cpus[$name]+="$(awk -F': ' '/User time|System time/ {s += $2} END {print s}' "$t") "
  kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$t")
  ((kb > ${rss[$name]:-0})) && rss[$name]=$kb
  return 0
}

fresh() { rm -f "$1" "$1-wal" "$1-shm"; sqlite3 "$1" "$2" > /dev/null; }

for ((round = 0; round < repeat; round++)); do
  # A fresh file with the log table, in SQLite's default journal mode, as the bare loop's.
  run qel 'fresh "$work/qel.db" "$schema"' \
    "$build/src/cli/qel" import "${qel_args[@]}" --mode append "$log" "$work/qel.db"

  run sqlite3 'fresh "$work/shell.db" "CREATE TABLE t (c1, c2, c3, c4, c5, c6, c7, c8, c9, c10);"' \
    sqlite3 "$work/shell.db" -cmd ".mode csv" -cmd ".separator \" \"" ".import $log t"

  run bare 'fresh "$work/bare.db" "$schema"' \
    "$build/bench/import/qel_bare_loop" "$log" "$work/bare.db"

  # The table of (1), which holds the rows, with an index on the key column.
  run update 'cp "$work/qel.db" "$work/update.db"; sqlite3 "$work/update.db" "CREATE INDEX log_datetime ON log (DateTime);"' \
    "$build/src/cli/qel" import "${qel_args[@]}" --mode append-update --keys DateTime "$log" "$work/update.db"

  if [ -z "$duckdb_note" ]; then
    run duckdb 'rm -f "$work/duck.db" "$work/duck.db.wal"' node "$duckdb_dir/load.mjs" "$log" "$work/duck.db"
  fi

  if [ -n "$large" ]; then
    run large 'fresh "$work/large.db" "$schema"' \
      "$build/src/cli/qel" import "${qel_args[@]}" --mode append "$large_log" "$work/large.db"
    rm -f "$work/large.db"  # gigabytes: not kept between rounds
  fi
done
names=(qel sqlite3 bare update)
[ -z "$duckdb_note" ] && names+=(duckdb)
[ -n "$large" ] && names+=(large)

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
declare -A secs cpu
for name in "${names[@]}"; do
  secs[$name]=$(median ${walls[$name]})
  cpu[$name]=$(median ${cpus[$name]})
done
rows_large=0
[ -n "$large" ] && rows_large=$(awk '/^Added: / {print $2}' "$work/out-large.txt")

rows_qel=$(sqlite3 "$work/qel.db" "SELECT count(*) FROM log")
rows_shell=$(sqlite3 "$work/shell.db" "SELECT count(*) FROM t")
rows_bare=$(sqlite3 "$work/bare.db" "SELECT count(*) FROM log")
rows_update=$(sqlite3 "$work/update.db" "SELECT count(*) FROM log")
rows_duckdb=0
[ -z "$duckdb_note" ] && rows_duckdb=$(awk '/^rows / {print $2}' "$work/out-duckdb.txt")

printf '\nAccess log: %s lines, %.1f MB (%s); median of %s interleaved rounds\n' "$lines" "$(echo "$bytes / 1000000" | bc -l)" "$log" "$repeat"
[ -n "$large" ] && printf '(6): %s lines, %.1f MB (%s)\n' "$large" "$(echo "$large_bytes / 1000000" | bc -l)" "$large_log"
printf '\n%-28s %10s %8s %8s %12s %8s %10s %8s %8s\n' run rows seconds "CPU s" rows/s MB/s "peak MB" "vs (2)" "vs (3)"
for name in "${names[@]}"; do
  b=$bytes
  case $name in
    qel) label="(1) qel import"; rows=$rows_qel ;;
    sqlite3) label="(2) sqlite3 .import"; rows=$rows_shell ;;
    bare) label="(3) bare C++ loop"; rows=$rows_bare ;;
    update) label="(4) qel append-update"; rows=$rows_update ;;
    duckdb) label="(5) DuckDB read_csv"; rows=$rows_duckdb ;;
    large) label="(6) qel import, $large lines"; rows=$rows_large; b=$large_bytes ;;
  esac
  awk -v l="$label" -v r="$rows" -v s="${secs[$name]}" -v c="${cpu[$name]}" -v b="$b" -v m="${rss[$name]}" \
      -v s2="${secs[sqlite3]}" -v s3="${secs[bare]}" 'BEGIN {
        if (s <= 0) s = 0.001;
        printf "%-28s %10d %8.2f %8.2f %12.0f %8.1f %10.1f %8.2f %8.2f\n", l, r, s, c, r / s, b / 1e6 / s, m / 1024, s / s2, s / s3 }'
done
printf '\nSeconds of every round (CPU seconds in brackets):\n'
for name in "${names[@]}"; do
  printf '  %-8s' "$name"
  paste -d' ' <(printf '%s\n' ${walls[$name]}) <(printf '%s\n' ${cpus[$name]}) | awk '{ printf " %s (%s)", $1, $2 }'
  printf '\n'
done
if [ -n "$large" ]; then
  printf '  (6)/(1)  '
  paste -d' ' <(printf '%s\n' ${walls[large]}) <(printf '%s\n' ${walls[qel]}) | awk '{ printf " %.2f", $1 / ($2 > 0 ? $2 : 0.001) }'
  printf '   (the same round'"'"'s loads)\n'
fi
printf '\n'
[ -n "$duckdb_note" ] && printf '%s\n\n' "$duckdb_note"

# The window's import against the headless one (the log loader's benchmark, when built).
app_ratio=""
app="$build/bench/app/qel_bench_app"
if [ "${QEL_BENCH_APP:-1}" != 0 ] && [ -x "$app" ]; then
  printf 'The log loader window against the same import headless (%s):\n' "$app"
  "$app" --log="$log" --rounds="$repeat" 2> /dev/null | tee "$work/out-app.txt"
  app_ratio=$(awk '/^window \/ headless:/ {print $4}' "$work/out-app.txt")
  printf '\n'
fi

# The targets, each as its ratio of medians against its limit.
target() {  # LABEL VALUE LIMIT
  awk -v l="$1" -v v="$2" -v m="$3" 'BEGIN {
    if (v == "") { printf "%-44s %8s %8s  %s\n", l, "-", m, "not measured"; exit }
    printf "%-44s %8.2f %8s  %s\n", l, v, m, (v + 0 <= m + 0) ? "met" : "missed" }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b <= 0) b = 0.001; printf "%.4f", a / b }'; }
printf '%-44s %8s %8s\n' "target" "value" "limit"
target "(1) / (3) qel against the floor" "$(ratio "${secs[qel]}" "${secs[bare]}")" 1.0
if [ -z "$duckdb_note" ]; then
  target "(1) / (5) qel against DuckDB" "$(ratio "${secs[qel]}" "${secs[duckdb]}")" 1.0
else
  target "(1) / (5) qel against DuckDB" "" 1.0
fi
target "(1) / (2) qel against .import" "$(ratio "${secs[qel]}" "${secs[sqlite3]}")" 0.4
target "(4) / (1) append-update against append" "$(ratio "${secs[update]}" "${secs[qel]}")" 2.0
target "(1) peak memory, MB" "$(echo "${rss[qel]} / 1024" | bc -l)" 100
if [ -n "$large" ]; then
  target "(6) peak memory, MB" "$(echo "${rss[large]} / 1024" | bc -l)" 100
  target "(6) / (1) time for $large against $lines lines" "$(ratio "${secs[large]}" "${secs[qel]}")" \
    "$(awk -v a="$large" -v b="$lines" 'BEGIN { printf "%.1f", 1.05 * a / b }')"
else
  target "(6) / (1) linearity (QEL_BENCH_LARGE=N)" "" "1.05 x"
fi
target "window / headless (bench/app)" "$app_ratio" 1.1
printf '\n'

# PostgreSQL, when its server binaries are installed (QEL_BENCH_PG=0 leaves it out): a section of
# its own, on a throwaway server, against psql's \copy of the same six columns.
if [ "${QEL_BENCH_PG:-1}" != 0 ] && ls /usr/lib/postgresql/*/bin/initdb > /dev/null 2>&1; then
  "$root/bench/run-pg-benchmark.sh" "$lines" "$build"
fi
