#!/usr/bin/env python3
"""velutron-cli's start-up, its short commands against their time on the wire, and its charts of the
largest humidity database: one build against another, in one run, the two taking turns.

    bench/cli_timing.py AFTER [BEFORE] [--runs N] [--db FILE.DAT]

AFTER and BEFORE are build folders (with src/cli/velutron-cli and sim/velutron-sim) or folders holding
the programs themselves. Reported, as medians (and best) of N runs each:
- `velutron-sim --help` and `velutron-cli --version`: the cost of starting a program, and the shared
  libraries velutron-cli loads;
- `options` and `sensors params 1` against velutron-sim on a pseudo-terminal: the whole command's wall
  time against its span on the wire (from the first byte the simulator receives to the end of its last
  answer, read from its --verbose log), the floor no program can beat;
- each of these both "idle" (after the machine sat idle for 0.2 s, as a cron job starts) and "busy" (at
  once after the previous run, as the next command of a script's loop). A virtual machine that sat idle
  wakes slowly: `velutron-sim --help`, a program that does nothing, shows what that costs any program;
- `chart` of the largest humidity database (ten sensors, a full memory; downloaded from the simulator
  once when --db is not given): SVG and PNG of 1200 x 700 (time, bytes, peak memory) and a PNG of
  10 000 x 10 000 (time and peak memory, once).
Peak memory is the largest resident size of the command and the programs it ran, as the kernel
accounts it for `wait4` (what `/usr/bin/time -v` shows).
"""

import argparse
import os
import re
import statistics
import subprocess
import tempfile
import time

LINE_MS = 11 / 57600 * 1000
LATENCY_MS = 0.5
MODES = ("idle", "busy")
IDLE_S = 0.2


def program(folder, name, sub):
    for path in (os.path.join(folder, name), os.path.join(folder, sub, name)):
        if os.path.exists(path):
            return os.path.abspath(path)
    raise SystemExit(f"{name} not found in {folder}")


def timed(argv, env=None, cwd=None, cpu=None):
    """Wall milliseconds, peak resident KiB and exit code of one run; its user + system milliseconds
    (with the programs it ran) are appended to `cpu`."""
    start = time.perf_counter()
    child = subprocess.Popen(argv, env=env, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = (time.perf_counter() - start) * 1000
    child.returncode = os.waitstatus_to_exitcode(status)
    if cpu is not None:
        cpu.append((usage.ru_utime + usage.ru_stime) * 1000)
    return wall, usage.ru_maxrss, child.returncode


def wire_span_ms(log):
    times = [float(m.group(1)) for m in re.finditer(r"^\s*([\d.]+) ms\s+<-", log, re.M)]
    return times[-1] - times[0] + LATENCY_MS + LINE_MS if times else float("nan")


def summary(values, unit="ms"):
    return f"median {statistics.median(values):8.2f} {unit}, best {min(values):8.2f} {unit}"


class Sim:
    def __init__(self, sim, ports, extra=()):
        self.log_path = os.path.join(ports, "sim.log")
        with open(self.log_path, "w") as log:
            self.process = subprocess.Popen([sim, "--port-dir", ports, "--com", "1", "--verbose", *extra],
                                            stdout=subprocess.PIPE, stderr=log, text=True)
        self.process.stdout.readline()

    def log_since(self, offset):
        # The simulator logs a byte before it answers it, so the log is whole once the command is done.
        with open(self.log_path) as f:
            f.seek(offset)
            return f.read()

    def stop(self):
        self.process.terminate()
        self.process.wait()


def largest_humidity_database(cli, sim, folder):
    path = os.path.join(folder, "h10.DAT")
    with tempfile.TemporaryDirectory() as ports:
        server = Sim(sim, ports, ["--sensors", "10", "--humidity", "--records", "5242", "--threshold", "20"])
        try:
            env = dict(os.environ, VELUTRON_PORT_DIR=ports)
            subprocess.run([cli, "--port", "COM1", "--even", "download", "h10"], env=env, cwd=folder,
                           stdout=subprocess.DEVNULL, check=True)
        finally:
            server.stop()
    return path


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("after")
    parser.add_argument("before", nargs="?")
    parser.add_argument("--runs", type=int, default=15)
    parser.add_argument("--db")
    a = parser.parse_args()
    builds = [("after", a.after)] + ([("before", a.before)] if a.before else [])
    clis = {name: program(folder, "velutron-cli", "src/cli") for name, folder in builds}
    sims = {name: program(folder, "velutron-sim", "sim") for name, folder in builds}
    work = tempfile.mkdtemp()
    db = os.path.abspath(a.db) if a.db else largest_humidity_database(clis["after"], sims["after"], work)

    print(f"{a.runs} runs each, the builds taking turns; database {db}")
    for name, cli in clis.items():
        libraries = subprocess.run(["ldd", cli], capture_output=True, text=True).stdout.count("\n")
        print(f"{name}: velutron-cli loads {libraries} shared libraries")

    start = {}
    for _ in range(a.runs):
        for name in clis:
            for mode in MODES:
                for label, argv in (("velutron-sim --help", [sims[name], "--help"]),
                                    ("velutron-cli --version", [clis[name], "--version"])):
                    if mode == "idle":
                        time.sleep(IDLE_S)
                    start.setdefault(f"{name} {label:22} {mode}", []).append(timed(argv)[0])
    for label, values in start.items():
        print(f"{label:38} {summary(values)}")

    with tempfile.TemporaryDirectory() as ports:
        server = Sim(sims["after"], ports)
        env = dict(os.environ, VELUTRON_PORT_DIR=ports)
        try:
            for command in (["options"], ["sensors", "params", "1"]):
                walls = {}
                spans = {}
                for _ in range(a.runs):
                    for name, cli in clis.items():
                        for mode in MODES:
                            if mode == "idle":
                                time.sleep(IDLE_S)
                            offset = os.path.getsize(server.log_path)
                            wall, _, code = timed([cli, "--port", "COM1", "--even", *command], env=env, cwd=work)
                            if code != 0:
                                raise SystemExit(f"{name} {' '.join(command)} exited {code}")
                            walls.setdefault((name, mode), []).append(wall)
                            spans.setdefault((name, mode), []).append(wire_span_ms(server.log_since(offset)))
                for key, wall in walls.items():
                    floor = statistics.median(spans[key])
                    ratio = statistics.median(wall) / floor
                    # What the program adds to the wire: its start, the port's opening, its exit.
                    added = statistics.median([w - s for w, s in zip(wall, spans[key])])
                    print(f"{key[0]} {' '.join(command):18} {key[1]} wall {summary(wall)}; on the wire {floor:.2f} ms; "
                          f"wall / wire {ratio:.2f}; added {added:.2f} ms")
        finally:
            server.stop()

    for size, runs in (("1200x700", a.runs), ("10000x10000", 1)):
        width, height = size.split("x")
        for extension in ("svg", "png") if size == "1200x700" else ("png",):
            walls = {n: [] for n in clis}
            peaks = {n: [] for n in clis}
            cpus = {n: [] for n in clis}
            for _ in range(runs):
                for name, cli in clis.items():
                    out = os.path.join(work, f"{name}-{size}.{extension}")
                    wall, peak, code = timed([cli, "chart", db, "--out", out, "--width", width, "--height", height],
                                             cwd=work, cpu=cpus[name])
                    if code != 0:
                        raise SystemExit(f"{name} chart {size}.{extension} exited {code}")
                    walls[name].append(wall)
                    peaks[name].append(peak / 1024)
            for name in clis:
                bytes_ = os.path.getsize(os.path.join(work, f"{name}-{size}.{extension}"))
                print(f"{name} chart {size}.{extension:3} {summary(walls[name])}; user+sys median "
                      f"{statistics.median(cpus[name]):7.1f} ms; {bytes_ / 1024:8.0f} KiB; "
                      f"peak memory {statistics.median(peaks[name]):6.0f} MiB")


if __name__ == "__main__":
    main()
