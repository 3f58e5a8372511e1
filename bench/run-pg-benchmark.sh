#!/usr/bin/env bash
# Loads one generated access log into PostgreSQL, on a throwaway server of its own on 127.0.0.1:
#   (5) qel import into postgresql://...        (6) psql's \copy of the six columns, prepared
#       beforehand as COPY text (the floor for this server)
#   (7) two qel imports at once, each of one half of the log, against (8) the same two halves
#       loaded one after the other
# It prints the median wall time, rows/s and qel's peak memory, and the ratio of (5) to (6).
# usage: bench/run-pg-benchmark.sh [LINES] [BUILD_DIR]   (run by run-import-benchmark.sh too)
set -euo pipefail
lines=${1:-1000000}
build=${2:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
[[ "$build" = /* ]] || build="$root/$build"
work=${QEL_BENCH_DIR:-/tmp/qel-bench}
mkdir -p "$work"
chmod 755 "$work"
log="$work/access-$lines.log"
repeat=${QEL_BENCH_REPEAT:-3}

for t in src/cli/qel:qel bench/loggen/qel_loggen:qel_loggen_tool; do
  [ -x "$build/${t%%:*}" ] || cmake --build "$build" --target "${t##*:}" > /dev/null
done
[ -s "$log" ] || "$build/bench/loggen/qel_loggen" "$lines" > "$log"
bytes=$(stat -c %s "$log")

state="$work/pg-server.state"
"$root/scripts/pg-test-server.sh" start "$state" -c shared_buffers=256MB -c max_wal_size=4GB
trap '"$root/scripts/pg-test-server.sh" stop "$state"' EXIT
conninfo=$(head -n 1 "$state")
port=$(sed 's/.*port=\([0-9]*\).*/\1/' <<< "$conninfo")
uri="postgresql://qel@127.0.0.1:$port/postgres"
sql() { psql "$uri" -X -q -v ON_ERROR_STOP=1 -At -c "$1"; }
table() { sql "DROP TABLE IF EXISTS $1; CREATE TABLE $1 (Host text, DateTime text, URL text, Code integer, Size integer, Ref text);"; }

qel_args=(--quiet --map Host=Field1 --map DateTime=Field4 --map URL=Field6 --map Code=Field7
          --map Size=Field8 --map Ref=Field9 --delimiter space --qualifier quot
          --record-separator lf --update-step 200 --dash-null)

# The six columns as COPY text: what qel itself stored, written out by the server.
six="$work/six-columns-$lines.copy"
if [ ! -s "$six" ]; then
  table log
  "$build/src/cli/qel" import "${qel_args[@]}" --table log "$log" "$uri"
  sql "\\copy log TO '$six'"
fi
# The two halves of the log for the parallel runs.
half=$(( (lines + 1) / 2 ))
head -n "$half" "$log" > "$work/half-a.log"
tail -n +"$((half + 1))" "$log" > "$work/half-b.log"

declare -A walls rss
timed() {  # NAME COMMAND...: wall seconds to the list, largest peak RSS (kB)
  local name=$1; shift
  local t="$work/pgtime-$name.txt"
  /usr/bin/time -v "$@" > "$work/pgout-$name.txt" 2> "$t" || { cat "$t"; exit 1; }
  local wall kb
  wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {print $2}' "$t")
  walls[$name]+="$(awk -v w="$wall" 'BEGIN { n = split(w, p, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + p[i]; print s }') "
  kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$t")
  ((kb > ${rss[$name]:-0})) && rss[$name]=$kb
  return 0
}
# Two loads at once; the wall time is the whole of both.
both() {
  "$build/src/cli/qel" import "${qel_args[@]}" --table log "$work/half-a.log" "$uri" &
  local a=$!
  "$build/src/cli/qel" import "${qel_args[@]}" --table log "$work/half-b.log" "$uri"
  wait "$a"
}
one_after_other() {
  "$build/src/cli/qel" import "${qel_args[@]}" --table log "$work/half-a.log" "$uri"
  "$build/src/cli/qel" import "${qel_args[@]}" --table log "$work/half-b.log" "$uri"
}
export -f both one_after_other
export build uri work
export qel_args_text="${qel_args[*]}"

for ((round = 0; round < repeat; round++)); do
  table log; sql "CHECKPOINT"
  timed qel "$build/src/cli/qel" import "${qel_args[@]}" --table log "$log" "$uri"
  rows_qel=$(sql "SELECT count(*) FROM log")
  table log; sql "CHECKPOINT"
  timed copy psql "$uri" -X -q -c "\\copy log FROM '$six'"
  rows_copy=$(sql "SELECT count(*) FROM log")
  table log; sql "CHECKPOINT"
  timed parallel bash -c 'qel_args=($qel_args_text); both'
  rows_parallel=$(sql "SELECT count(*) FROM log")
  table log; sql "CHECKPOINT"
  timed serial bash -c 'qel_args=($qel_args_text); one_after_other'
  rows_serial=$(sql "SELECT count(*) FROM log")
done

declare -A secs
for name in qel copy parallel serial; do
  secs[$name]=$(printf '%s\n' ${walls[$name]} | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
done

printf '\nPostgreSQL %s on 127.0.0.1, access log: %s lines, %.1f MB; median of %s rounds\n\n' \
  "$(sql "SHOW server_version")" "$lines" "$(echo "$bytes / 1000000" | bc -l)" "$repeat"
printf '%-34s %10s %8s %12s %10s %8s\n' run rows seconds rows/s "peak MB" "vs (6)"
for name in qel copy parallel serial; do
  case $name in
    qel) label="(5) qel import -> PostgreSQL"; rows=$rows_qel ;;
    copy) label="(6) psql \\copy, six columns"; rows=$rows_copy ;;
    parallel) label="(7) two qel at once, halves"; rows=$rows_parallel ;;
    serial) label="(8) the halves one after other"; rows=$rows_serial ;;
  esac
  awk -v l="$label" -v r="$rows" -v s="${secs[$name]}" -v m="${rss[$name]}" -v s6="${secs[copy]}" 'BEGIN {
        if (s <= 0) s = 0.001;
        printf "%-34s %10d %8.2f %12.0f %10.1f %8.2f\n", l, r, s, r / s, m / 1024, s / s6 }'
done
printf '\nSeconds of every round: (5) %s (6) %s (7) %s (8) %s\n' "${walls[qel]}" "${walls[copy]}" "${walls[parallel]}" "${walls[serial]}"
printf '(peak MB of (7) and (8) is the largest of the processes time measured: the shell and one qel)\n\n'
