#!/usr/bin/env bash
# Loads one generated access log five ways and prints wall time, speed and peak memory:
#   (1) qel import with the log loader's settings        (2) the sqlite3 shell's .import
#   (3) a bare hand-written C++ loop (the floor)          (4) qel import, append-update keyed on a column
#   (5) DuckDB's read_csv of the same six fields into a DuckDB file (bench/duckdb; needs node and
#       npm, which install DuckDB's own package there at the first run; skipped without them)
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

[ -s "$log" ] || "$build/bench/loggen/qel_loggen" "$lines" > "$log"
bytes=$(stat -c %s "$log")

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
# /usr/bin/time -v; adds the wall seconds to the run's list and keeps its largest peak RSS (kB).
declare -A walls rss
run() {
  local name=$1 prepare=$2; shift 2
  local t="$work/time-$name.txt"
  eval "$prepare"
  sync  # the previous run's pages are on disk before this one is timed
  /usr/bin/time -v "$@" > "$work/out-$name.txt" 2> "$t" || { cat "$t"; exit 1; }
  local wall kb
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$t")
  walls[$name]+="$(awk -v w="$wall" 'BEGIN { n = split(w, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }') "
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
done
names=(qel sqlite3 bare update)
[ -z "$duckdb_note" ] && names+=(duckdb)

declare -A secs
for name in "${names[@]}"; do
  secs[$name]=$(printf '%s\n' ${walls[$name]} | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
done

rows_qel=$(sqlite3 "$work/qel.db" "SELECT count(*) FROM log")
rows_shell=$(sqlite3 "$work/shell.db" "SELECT count(*) FROM t")
rows_bare=$(sqlite3 "$work/bare.db" "SELECT count(*) FROM log")
rows_update=$(sqlite3 "$work/update.db" "SELECT count(*) FROM log")
rows_duckdb=0
[ -z "$duckdb_note" ] && rows_duckdb=$(awk '/^rows / {print $2}' "$work/out-duckdb.txt")

printf '\nAccess log: %s lines, %.1f MB (%s); median of %s rounds\n\n' "$lines" "$(echo "$bytes / 1000000" | bc -l)" "$log" "$repeat"
printf '%-28s %10s %8s %12s %8s %10s %8s %8s\n' run rows seconds rows/s MB/s "peak MB" "vs (2)" "vs (3)"
for name in "${names[@]}"; do
  case $name in
    qel) label="(1) qel import"; rows=$rows_qel ;;
    sqlite3) label="(2) sqlite3 .import"; rows=$rows_shell ;;
    bare) label="(3) bare C++ loop"; rows=$rows_bare ;;
    update) label="(4) qel append-update"; rows=$rows_update ;;
    duckdb) label="(5) DuckDB read_csv"; rows=$rows_duckdb ;;
  esac
  awk -v l="$label" -v r="$rows" -v s="${secs[$name]}" -v b="$bytes" -v m="${rss[$name]}" \
      -v s2="${secs[sqlite3]}" -v s3="${secs[bare]}" 'BEGIN {
        if (s <= 0) s = 0.001;
        printf "%-28s %10d %8.2f %12.0f %8.1f %10.1f %8.2f %8.2f\n", l, r, s, r / s, b / 1e6 / s, m / 1024, s / s2, s / s3 }'
done
printf '\nSeconds of every round: (1) %s (2) %s (3) %s (4) %s' "${walls[qel]}" "${walls[sqlite3]}" "${walls[bare]}" "${walls[update]}"
[ -z "$duckdb_note" ] && printf ' (5) %s' "${walls[duckdb]}"
printf '\n\n'
[ -n "$duckdb_note" ] && printf '%s\n\n' "$duckdb_note"

# The ratios the targets are stated in.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b <= 0) b = 0.001; printf "%.2f", a / b }'; }
printf '%-34s %6s\n' "ratio" "value"
printf '%-34s %6s\n' "(1) / (3) qel against the floor" "$(ratio "${secs[qel]}" "${secs[bare]}")"
if [ -z "$duckdb_note" ]; then
  printf '%-34s %6s\n' "(1) / (5) qel against DuckDB" "$(ratio "${secs[qel]}" "${secs[duckdb]}")"
else
  printf '%-34s %6s\n' "(1) / (5) qel against DuckDB" "-"
fi
printf '%-34s %6s\n' "(1) / (2) qel against .import" "$(ratio "${secs[qel]}" "${secs[sqlite3]}")"
printf '%-34s %6s\n' "(4) / (1) append-update / append" "$(ratio "${secs[update]}" "${secs[qel]}")"
printf '%-34s %6.1f\n\n' "(1) peak memory, MB" "$(echo "${rss[qel]} / 1024" | bc -l)"

# PostgreSQL, when its server binaries are installed (QEL_BENCH_PG=0 leaves it out): a section of
# its own, on a throwaway server, against psql's \copy of the same six columns.
if [ "${QEL_BENCH_PG:-1}" != 0 ] && ls /usr/lib/postgresql/*/bin/initdb > /dev/null 2>&1; then
  "$root/bench/run-pg-benchmark.sh" "$lines" "$build"
fi
