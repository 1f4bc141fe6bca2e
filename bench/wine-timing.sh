#!/usr/bin/env bash
# Times the Windows velutron-cli under wine against the Linux one, both on the same simulated logger:
# the start of the program alone (--version), the probe of an answering and of a silent logger (its
# 250 ms wait), and a download of 2 000 records. Each line gives the median wall time of the runs and
# the Windows/Linux ratio.
#
#   bench/wine-timing.sh [RUNS]      (after ./test, which builds build/release and build/windows)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
runs=${1:-20}

linux_cli=$root/build/release/src/cli/velutron-cli
windows_cli=$root/build/windows/src/cli/velutron-cli.exe
sim=$root/build/release/sim/velutron-sim
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
prefix=$root/build/wine
for f in "$linux_cli" "$windows_cli" "$sim" "$wine"; do
  [[ -x $f ]] || { echo "missing $f: run ./test first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/velutron-timing-XXXXXX")
sim_pid=""
cleanup() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  tests/wine/session stop "$prefix" "$wine"
  rm -rf "$work"
}
trap cleanup EXIT
tests/wine/session start "$prefix" "$wine"
ports=$prefix/velutron-ports

start_sim() {
  [[ -n $sim_pid ]] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -f "$ports/COM1"
  "$sim" --port-dir "$ports" --com 1 --verbose "$@" >"$work/sim.out" 2>"$work/sim.log" &
  sim_pid=$!
  for _ in $(seq 100); do [[ -L $ports/COM1 ]] && return; sleep 0.05; done
  echo "the simulator did not start" >&2
  exit 1
}

export LC_ALL=C
expect_failure=""
polish=(env LC_ALL=pl_PL.UTF-8 LANG=pl_PL.UTF-8)
linux() { "${polish[@]}" VELUTRON_PORT_DIR="$ports" "$linux_cli" "$@"; }
windows() { "${polish[@]}" WINEPREFIX="$prefix" WINEDEBUG=-all "$wine" "$windows_cli" "$@"; }

# Median wall time in milliseconds of `runs` runs of the command; each must succeed.
median_ms() {
  local n=$1
  shift
  local times=()
  for _ in $(seq "$n"); do
    local t0 t1
    t0=$(date +%s%N)
    (cd "$work" && "$@" >/dev/null) || [[ $expect_failure ]] || { echo "failed: $*" >&2; exit 1; }
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { printf "%.1f", a[int((NR + 1) / 2)] / 1000 }'
}

row() {
  local what=$1 n=$2
  shift 2
  local l w
  l=$(median_ms "$n" linux "$@")
  w=$(median_ms "$n" windows "$@")
  printf '%-28s %10s ms %10s ms %8.2f\n' "$what" "$l" "$w" "$(echo "$w / $l" | bc -l)"
}

printf '%-28s %13s %13s %8s\n' "" "Linux" "wine" "ratio"
row "start (--version)" "$runs" --version
start_sim
row "probe" "$runs" --port COM1 --even probe
start_sim --silent
expect_failure=1 row "probe, silent logger" 5 --port COM1 --even probe
start_sim --records 2000
row "download, 2 000 records" 3 --port COM1 --even download timing
echo "dump: $(grep -o 'dump of [0-9]* bytes' "$work/sim.log" | head -1)"
