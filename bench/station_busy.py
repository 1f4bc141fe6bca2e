#!/usr/bin/env python3
"""velutron-station on a busy PC: the intervals it keeps, and how long its stop takes, one build against
another, in one run, the two taking turns.

    bench/station_busy.py AFTER [BEFORE] [--rounds N] [--seconds S] [--nice -10] [--busy 2] [--busy-nice 0]
                           [--freeze-ms MS]

AFTER and BEFORE are build folders (with src/station/velutron-station and sim/velutron-sim) or folders
holding the programs themselves. Each round runs velutron-sim (ten sensors) on a pseudo-terminal and the
station on it, a reading a second, for S seconds with two busy loops (`sh -c 'while :; do :; done'`;
`--busy` for more) running at the ordinary priority (`--busy-nice` for another, to starve the station
harder). BEFORE runs at the ordinary priority (its unit had no Nice=), AFTER both so and at `--nice` (the
unit's Nice=), which tells the code's share from the priority's. Reported per run: intervals kept of
those due from the station's start to its stop (its start sequence's time included), the gaps it
recorded by cause (seconds), and the time from SIGTERM to the station's exit (the longest of the rounds).

A PC whose scheduler takes the CPU from the station for 100 ms at a time (what stretches a command's
3 ms gap until the logger drops it) is not easily made with busy loops; `--freeze-ms MS` makes it: the
station is stopped (SIGSTOP) for MS milliseconds at random moments, twice a second on average.
"""

import argparse
import os
import random
import signal
import sqlite3
import subprocess
import tempfile
import threading
import time

CAUSES = ("silence", "port gone", "bus failure", "paused", "station late")


def program(folder, name, sub):
    for path in (os.path.join(folder, name), os.path.join(folder, sub, name)):
        if os.path.exists(path):
            return path
    raise SystemExit(f"{name} not found in {folder}")


def round_(folder, seconds, nice, loops, loops_nice, freeze_ms, work):
    sim_dir = os.path.join(work, "ports")
    os.makedirs(sim_dir, exist_ok=True)
    db = os.path.join(work, "station.db")
    sim = subprocess.Popen([program(folder, "velutron-sim", "sim"), "--port-dir", sim_dir, "--sensors", "10"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    port = os.path.join(sim_dir, "COM1")
    for _ in range(100):
        if os.path.exists(port):
            break
        time.sleep(0.05)
    busy = [subprocess.Popen(["nice", "-n", str(loops_nice), "sh", "-c", "while :; do :; done"])
            for _ in range(loops)]
    env = dict(os.environ, VELUTRON_STATION_SOCKET=os.path.join(work, "station.sock"))
    started = time.time()
    station = subprocess.Popen(["nice", "-n", str(nice), program(folder, "velutron-station", "src/station"),
                                "--port", port, "--archive", db, "--interval", "1"],
                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    done = threading.Event()

    def freeze():
        chance = random.Random(1)
        while not done.wait(chance.uniform(0, 1)):
            station.send_signal(signal.SIGSTOP)
            time.sleep(freeze_ms / 1000)
            station.send_signal(signal.SIGCONT)

    freezer = threading.Thread(target=freeze)
    if freeze_ms:
        freezer.start()
    try:
        time.sleep(seconds)
    finally:
        done.set()
        if freeze_ms:
            freezer.join()
        station.send_signal(signal.SIGCONT)  # never left stopped, even when the bench is interrupted
    ended = time.time()
    start = time.monotonic()
    station.send_signal(signal.SIGTERM)
    station.wait()
    stop_s = time.monotonic() - start
    for p in busy + [sim]:
        p.kill()
        p.wait()
    con = sqlite3.connect(db)
    # Whole seconds from the first after the start to the last before the stop (readings.t is in seconds).
    first, last = int(started) + 1, int(ended) - 1
    times = [t for (t,) in con.execute("SELECT DISTINCT t FROM readings WHERE t BETWEEN ? AND ?",
                                       (first, last))]
    gaps = {}
    for cause, span in con.execute("SELECT cause, sum(to_ms - from_ms) FROM gaps GROUP BY cause"):
        gaps[CAUSES[cause] if cause < len(CAUSES) else str(cause)] = span // 1000
    con.close()
    os.remove(db)
    due = last - first + 1
    return len(times), due, gaps, stop_s


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("after")
    parser.add_argument("before", nargs="?")
    parser.add_argument("--rounds", type=int, default=2)
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--nice", type=int, default=-10)
    parser.add_argument("--busy", type=int, default=2)
    parser.add_argument("--busy-nice", type=int, default=0)
    parser.add_argument("--freeze-ms", type=int, default=0)
    args = parser.parse_args()
    builds = [(f"after, nice {args.nice}", args.after, args.nice), ("after, nice 0", args.after, 0)]
    if args.before:
        builds.append(("before, nice 0", args.before, 0))
    totals = {name: [0, 0, {}, 0.0] for name, _, _ in builds}
    with tempfile.TemporaryDirectory() as work:
        for r in range(args.rounds):
            for name, folder, nice in builds if r % 2 == 0 else reversed(builds):
                kept, due, gaps, stop_s = round_(folder, args.seconds, nice, args.busy, args.busy_nice,
                                                  args.freeze_ms, work)
                t = totals[name]
                t[0] += kept
                t[1] += due
                for cause, s in gaps.items():
                    t[2][cause] = t[2].get(cause, 0) + s
                t[3] = max(t[3], stop_s)
                print(f"round {r + 1} {name}: {kept}/{due} intervals, gaps {gaps}, stop {stop_s:.2f} s",
                      flush=True)
    for name, (kept, due, gaps, stop_s) in totals.items():
        share = 100 * kept / due if due else 0
        print(f"{name}: kept {kept} of {due} intervals ({share:.1f} %), gap seconds by cause {gaps}, "
              f"longest stop {stop_s:.2f} s")


if __name__ == "__main__":
    main()
