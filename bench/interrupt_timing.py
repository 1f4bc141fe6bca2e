#!/usr/bin/env python3
"""Time from an interrupt to the exit of velutron-cli, for the writes that finish their unit first.

    bench/interrupt_timing.py BUILD_DIR [RUNS] [SIGNAL]

Against velutron-sim on a pseudo-terminal: a 35-character owner text, the clock setting and the
recording toggle. Each run starts the command, waits in the simulator's --verbose log for the first
byte of the unit (the first text write, the first clock write, the toggle byte), sends the signal
(SIGINT by default; SIGTERM or SIGHUP by name) and measures the time until the command has exited,
with the outcome it reported. Every time should be well under a second.
"""

import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time


def wait_for_byte(log_path, offset, byte, deadline):
    marker = f"<- {byte:3d}"
    while time.monotonic() < deadline:
        with open(log_path) as f:
            f.seek(offset)
            if marker in f.read():
                return True
        time.sleep(0.001)
    return False


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/rel"
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    sig = getattr(signal, sys.argv[3]) if len(sys.argv) > 3 else signal.SIGINT
    cli = os.path.join(build, "src/cli/velutron-cli")
    sim = os.path.join(build, "sim/velutron-sim")
    scenarios = [
        ("owner text, 35 characters", ["--service", "--json", "text", "owner", "--set", "C" * 35], 25),
        ("clock setting", ["--yes", "--json", "set-clock"], 20),
        ("toggle", ["--yes", "--json", "toggle"], 70),
    ]
    with tempfile.TemporaryDirectory() as ports:
        log_path = os.path.join(ports, "sim.log")
        with open(log_path, "w") as log:
            server = subprocess.Popen([sim, "--port-dir", ports, "--com", "1", "--verbose"],
                                      stdout=subprocess.PIPE, stderr=log, text=True)
        server.stdout.readline()
        env = dict(os.environ, VELUTRON_PORT_DIR=ports)
        try:
            for name, args, first_byte in scenarios:
                times, outcomes = [], {}
                for _ in range(runs):
                    while time.localtime().tm_sec >= 57:  # the clock setting's own wait is not ours
                        time.sleep(0.2)
                    offset = os.path.getsize(log_path)
                    cli_run = subprocess.Popen([cli, "--port", "COM1", "--even", *args], env=env,
                                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
                    if not wait_for_byte(log_path, offset, first_byte, time.monotonic() + 10):
                        cli_run.kill()
                        sys.exit(f"{name}: the unit never began")
                    sent = time.monotonic()
                    cli_run.send_signal(sig)
                    out, _ = cli_run.communicate()
                    times.append((time.monotonic() - sent) * 1000)
                    outcome = out.strip().splitlines()[-1] if out.strip() else "(no output)"
                    outcomes[outcome] = outcomes.get(outcome, 0) + 1
                print(f"{name} ({runs} runs, {signal.Signals(sig).name}): signal to exit median "
                      f"{statistics.median(times):.1f} ms, max {max(times):.1f} ms; {outcomes}")
        finally:
            server.terminate()
            server.wait()


if __name__ == "__main__":
    main()
