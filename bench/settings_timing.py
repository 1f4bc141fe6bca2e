#!/usr/bin/env python3
"""Timed runs of two settings operations against velutron-sim on a pseudo-terminal.

    bench/settings_timing.py BUILD_DIR [RUNS]

For a 35-character owner text and for the clock setting, each run's time on the wire (from the first
byte the simulator receives to the last answer it sends, read from its --verbose log) is compared with
the protocol's own minimum: every byte's line time at 57 600 baud (11 bits a byte), the 3 ms gaps
between command bytes, the 1 ms after the lead-in, the 3 ms pause after each text byte written, and the
simulator's 0.5 ms answer latency. Also reported: the command line's user + system CPU time, against the
probe alone as the cost of starting the program. On a pseudo-terminal the program's own bytes arrive at
once, so a run can come in under the line's minimum; the minimum without their line time is shown too.
"""

import os
import re
import resource
import statistics
import subprocess
import sys
import tempfile
import time

LINE_MS = 11 / 57600 * 1000
LATENCY_MS = 0.5
GAP_MS = 3.0


def exchange_ms(sent_bytes, gaps_ms=0.0, sent_line=True):
    """A framed command and its one-byte answer; without `sent_line` the program's own bytes take no
    line time, as on a pseudo-terminal, where only the simulator paces its answers."""
    line_bytes = (sent_bytes if sent_line else 0) + 1
    return line_bytes * LINE_MS + (sent_bytes - 1) * GAP_MS + LATENCY_MS + gaps_ms


def owner_minimum_ms(sent_line=True, length=35):
    reads = (2 + length) * exchange_ms(2, 0.0, sent_line)  # probe, recording check, the field's reads
    lead_in = (LINE_MS if sent_line else 0) + 1.0
    # Each write is followed by 3 ms before the next one; the measured span ends at the last answer.
    writes = length * exchange_ms(3, GAP_MS, sent_line) - GAP_MS
    return reads + lead_in + writes


def clock_minimum_ms(sent_line=True):
    return 2 * exchange_ms(2, 0.0, sent_line) + 6 * exchange_ms(3, 0.0, sent_line)


def wire_span_ms(log):
    times = [float(m.group(1)) for m in re.finditer(r"^\s*([\d.]+) ms\s+<-", log, re.M)]
    return times[-1] - times[0] + LATENCY_MS + LINE_MS


def run(cli, args, env, log_path):
    offset = os.path.getsize(log_path)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    done = subprocess.run([cli, "--port", "COM1", "--even", *args], env=env, capture_output=True, text=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if done.returncode != 0:
        sys.exit(f"{' '.join(args)} failed: {done.stdout}{done.stderr}")
    time.sleep(0.2)  # let the simulator write its log
    with open(log_path) as f:
        f.seek(offset)
        span = wire_span_ms(f.read())
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return span, cpu * 1000


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/rel"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 15
    cli = os.path.join(build, "src/cli/velutron-cli")
    sim = os.path.join(build, "sim/velutron-sim")
    with tempfile.TemporaryDirectory() as ports:
        log_path = os.path.join(ports, "sim.log")
        with open(log_path, "w") as log:
            server = subprocess.Popen([sim, "--port-dir", ports, "--com", "1", "--verbose"],
                                      stdout=subprocess.PIPE, stderr=log, text=True)
        server.stdout.readline()
        env = dict(os.environ, VELUTRON_PORT_DIR=ports)
        owner = "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345678"
        scenarios = [
            # The baseline of a run: starting the command line, one exchange.
            ("probe alone", ["probe"], exchange_ms(2), exchange_ms(2, 0.0, False)),
            ("owner text, 35 characters", ["--service", "text", "owner", "--set", owner], owner_minimum_ms(),
             owner_minimum_ms(False)),
            ("clock setting", ["--yes", "set-clock"], clock_minimum_ms(), clock_minimum_ms(False)),
        ]
        try:
            for name, args, minimum, pty_minimum in scenarios:
                spans, cpus = [], []
                for _ in range(runs):
                    # Keep the clock setting clear of its wait at seconds 58 and 59.
                    while time.localtime().tm_sec >= 57:
                        time.sleep(0.2)
                    span, cpu = run(cli, args, env, log_path)
                    spans.append(span)
                    cpus.append(cpu)
                median = statistics.median(spans)
                print(f"{name} ({runs} runs): on the wire median {median:.2f} ms, best {min(spans):.2f} ms; "
                      f"line minimum {minimum:.2f} ms (ratio {median / minimum:.3f}, best {min(spans) / minimum:.3f}); "
                      f"minimum on a pty {pty_minimum:.2f} ms (ratio {median / pty_minimum:.3f}, "
                      f"best {min(spans) / pty_minimum:.3f}); CLI user+sys median {statistics.median(cpus):.1f} ms")
        finally:
            server.terminate()
            server.wait()


if __name__ == "__main__":
    main()
