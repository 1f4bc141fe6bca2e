#!/usr/bin/env bash
# The exports of the largest databases side by side in one run: CSV, JSON and the xlsx workbook of the
# same file, each run under /usr/bin/time for its wall time, CPU time (user + system) and peak memory
# (medians of RUNS runs; on a busy machine the CPU time is the steadier figure). The
# databases are downloaded from velutron-sim first: a full memory of 1 sensor (the most records) and of 10
# sensors in humidity mode (the most values); the two downloads take about a minute.
#
#   bench/export-timing.sh [BUILD] [RUNS]     (default build/release and 5 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build/release}
runs=${2:-5}
cli=$root/$build/src/cli/velutron-cli
sim=$root/$build/sim/velutron-sim
for f in "$cli" "$sim" /usr/bin/time; do
  [[ -x $f ]] || { echo "missing $f: build velutron-cli and velutron-sim in $build first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/velutron-export-XXXXXX")
sim_pid=""
cleanup() {
  if [[ -n $sim_pid ]]; then kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
mkdir ports

# download NAME SIM-OPTIONS...: NAME.DAT from a simulator started with those options.
download() {
  local name=$1
  shift
  "$sim" --port-dir "$work/ports" --com 1 "$@" >sim.out 2>sim.err &
  sim_pid=$!
  while [[ ! -e ports/COM1 ]]; do
    kill -0 "$sim_pid" || { echo "velutron-sim did not start" >&2; exit 1; }
    sleep 0.05
  done
  VELUTRON_PORT_DIR=$work/ports "$cli" --port COM1 --even download "$name" >/dev/null
  kill "$sim_pid"
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
download full-1 --sensors 1 --records 18724
download full-10rh --sensors 10 --humidity --records 5242

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
printf '%-12s %-6s %8s %8s %13s %13s\n' database format wall_ms cpu_ms peak_rss_kib output_bytes
for db in full-1 full-10rh; do
  for format in csv json xlsx; do
    : >times
    for ((i = 0; i < runs; i++)); do
      /usr/bin/time -o times -a -f '%e %U %S %M' "$cli" export "$db.DAT" --format "$format" --out "$db.$format" >/dev/null
    done
    wall=$(awk '{print $1 * 1000}' times | median)
    cpu=$(awk '{print ($2 + $3) * 1000}' times | median)
    rss=$(awk '{print $4}' times | median)
    printf '%-12s %-6s %8s %8s %13s %13s\n' "$db" "$format" "$wall" "$cpu" "$rss" "$(stat -c %s "$db.$format")"
  done
done
