#!/usr/bin/env bash
# Loads one generated access log into PostgreSQL, on a throwaway server of its own on 127.0.0.1:
#   (5) qel import into postgresql://...        (6) psql's \copy of the six columns, prepared
#       beforehand as COPY text (the floor for this server)
#   (7) two qel imports at once, each of one half of the log, against (8) the same two halves
#       loaded one after the other
# It prints the median wall time, rows/s and qel's peak memory, the ratio of (5) to (6), and
# where the CPU time went: the client processes' (user + system) and the server's (the
# postmaster and every server process, also those that ended during the load).
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

# CPU seconds the server has used so far: the postmaster with the server processes it has
# reaped, and those still running.
pgdata="$(sed -n 2p "$state")/data"
server_cpu() {
  local pm ticks
  pm=$(head -n 1 "$pgdata/postmaster.pid")
  ticks=$(getconf CLK_TCK)
  { awk '{ print $14 + $15 + $16 + $17 }' "/proc/$pm/stat"
    for c in $(cat /proc/"$pm"/task/*/children); do awk '{ print $14 + $15 }' "/proc/$c/stat" 2>/dev/null || true; done
  } | awk -v t="$ticks" '{ s += $1 } END { printf "%.2f\n", s / t }'
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A walls rss clients servers
timed() {  # NAME COMMAND...: wall seconds to the list, largest peak RSS (kB), CPU seconds
  local name=$1; shift
  local t="$work/pgtime-$name.txt"
  local before after
  before=$(server_cpu)
  /usr/bin/time -v "$@" > "$work/pgout-$name.txt" 2> "$t" || { cat "$t"; exit 1; }
  sleep 0.2  # the server process of the load has ended and been reaped
  after=$(server_cpu)
  servers[$name]+="$(awk -v a="$after" -v b="$before" 'BEGIN { print a - b }') "
  clients[$name]+="$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$t") "
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
  # shellcheck disable=SC2086
  secs[$name]=$(median ${walls[$name]})
done

printf '\nPostgreSQL %s on 127.0.0.1, access log: %s lines, %.1f MB; median of %s rounds\n\n' \
  "$(sql "SHOW server_version")" "$lines" "$(echo "$bytes / 1000000" | bc -l)" "$repeat"
printf '%-34s %10s %8s %12s %10s %8s %9s %9s\n' run rows seconds rows/s "peak MB" "vs (6)" \
  "client s" "server s"
for name in qel copy parallel serial; do
  case $name in
    qel) label="(5) qel import -> PostgreSQL"; rows=$rows_qel ;;
    copy) label="(6) psql \\copy, six columns"; rows=$rows_copy ;;
    parallel) label="(7) two qel at once, halves"; rows=$rows_parallel ;;
    serial) label="(8) the halves one after other"; rows=$rows_serial ;;
  esac
  # shellcheck disable=SC2086
  awk -v l="$label" -v r="$rows" -v s="${secs[$name]}" -v m="${rss[$name]}" -v s6="${secs[copy]}" \
      -v c="$(median ${clients[$name]})" -v v="$(median ${servers[$name]})" 'BEGIN {
        if (s <= 0) s = 0.001;
        printf "%-34s %10d %8.2f %12.0f %10.1f %8.2f %9.2f %9.2f\n", l, r, s, r / s, m / 1024, s / s6, c, v }'
done
printf '\nSeconds of every round: (5) %s (6) %s (7) %s (8) %s\n' "${walls[qel]}" "${walls[copy]}" "${walls[parallel]}" "${walls[serial]}"
printf 'CPU seconds of every round, client / server: (5) %s/ %s (6) %s/ %s\n' "${clients[qel]}" "${servers[qel]}" "${clients[copy]}" "${servers[copy]}"
printf '(peak MB of (7) and (8) is the largest of the processes time measured: the shell and one qel;\n'
printf ' client s is the median CPU time of the loading processes, server s that of the server)\n\n'
