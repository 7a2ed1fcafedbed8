#!/usr/bin/env python3
"""Where a board command's time goes inside the daemon, from kernel trace events (no probe build).

Runs one bench_latency run with the daemon under `perf record` (scheduler events and the read, write,
sched_yield and ppoll system calls of its two threads) and prints, per STOP command, the steps of the
path: main thread's poll returns -> frame read from the tty -> command queued for the player's thread
(eventfd write) -> player's thread's poll returns -> request written to the media centre. Also where
the player's thread was woken (the main thread's CPU or the other one) and how often the echo left
before the request. Needs root and perf; figures include the tracing's own cost (a few us a step).

    python3 bench/path_trace.py [--daemon build/quorvant] [--count 600]
"""
import argparse
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SYSCALLS = "id == 0 || id == 1 || id == 7 || id == 24 || id == 271"  # read, write, poll, sched_yield, ppoll
POLLS = ("NR 7 ", "NR 271 ")  # glib's loop polls, Qt's own ppolls (x86_64 numbers)
EVENT = re.compile(r"^\s*(\S+)\s+\d+\s+\[(\d+)\]\s+([\d.]+):\s+(\S+):\s+(.*)$")


def record(daemon, count):
    build = os.path.join(ROOT, "build")
    data = os.path.join(build, "path_trace.data")
    wrapper = os.path.join(build, "path_trace_daemon")
    with open(wrapper, "w") as script:
        script.write('#!/bin/sh\nexec perf record -q -o %s -e sched:sched_switch -e sched:sched_wakeup '
                     '-e raw_syscalls:sys_enter --filter "%s" -e raw_syscalls:sys_exit --filter "%s" -- %s\n'
                     % (data, SYSCALLS, SYSCALLS, os.path.abspath(daemon)))
    os.chmod(wrapper, 0o755)
    subprocess.run([os.path.join(ROOT, "tests/box/box"), "--", os.path.join(build, "bench_latency"), "--runs", "1",
                    "--count", str(count), "--daemon", wrapper], check=True, stdout=subprocess.DEVNULL)
    return subprocess.run(["perf", "script", "-i", data], check=True, capture_output=True, text=True).stdout


def byte_count(detail):
    # "NR 1 (fd, buf, count, ...)": the count is the third argument, in hex.
    return int(detail.split(", ")[2], 16) if detail.startswith(("NR 0 (", "NR 1 (")) else None


def commands(events):
    main = lambda name: name.startswith("quorvant")
    for i, (name, cpu, ts, kind, detail) in enumerate(events):
        if not (main(name) and kind == "raw_syscalls:sys_exit" and detail.startswith("NR 0 ") and detail.endswith("= 5")):
            continue
        j = i
        while j > 0 and not (main(events[j][0]) and events[j][3] == "raw_syscalls:sys_exit"
                             and events[j][4].startswith(POLLS)):
            j -= 1
        step = {"poll": events[j][2], "read": ts}
        for name, cpu, ts, kind, detail in events[i + 1:i + 250]:
            enter = kind == "raw_syscalls:sys_enter"
            if main(name) and enter and byte_count(detail) == 8:
                step.setdefault("queued", ts)
            elif main(name) and enter and byte_count(detail) == 5:
                step.setdefault("echo", ts)
            elif kind == "sched:sched_wakeup" and "comm=QThread" in detail and "woken_on" not in step:
                step["woken_on"] = int(detail.split("target_cpu=")[1]) == cpu
            elif name == "QThread" and kind == "raw_syscalls:sys_exit" and detail.startswith(POLLS):
                step.setdefault("player", ts)
            elif name == "QThread" and enter and detail.startswith("NR 1 (") and byte_count(detail) > 8:
                step["request"] = ts
                break
        if all(k in step for k in ("queued", "player", "request")):
            yield step


def spread(values):
    values = sorted(values)
    if not values:
        return "-"
    pick = lambda f: values[min(int(len(values) * f), len(values) - 1)]
    return "p50 %5.0f  p90 %5.0f  p99 %5.0f" % (pick(0.5), pick(0.9), pick(0.99))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--daemon", default=os.path.join(ROOT, "build/quorvant"))
    parser.add_argument("--count", type=int, default=600)
    options = parser.parse_args()
    events = []
    for line in record(options.daemon, options.count).splitlines():
        match = EVENT.match(line)
        if match:
            name, cpu, ts, kind, detail = match.groups()
            events.append((name, int(cpu), float(ts) * 1e6, kind, detail))
    steps = list(commands(events))
    print("%s: %d commands, us" % (options.daemon, len(steps)))
    path = [("poll", "read"), ("read", "queued"), ("queued", "player"), ("player", "request"), ("poll", "request")]
    for start, end in path:
        print("  %-8s -> %-8s %s" % (start, end, spread([s[end] - s[start] for s in steps])))
    same = [s for s in steps if s.get("woken_on")]
    other = [s for s in steps if s.get("woken_on") is False]
    print("  player's thread woken on the main thread's CPU %d times: queued -> request %s"
          % (len(same), spread([s["request"] - s["queued"] for s in same])))
    print("  on the other CPU %d times:                           queued -> request %s"
          % (len(other), spread([s["request"] - s["queued"] for s in other])))
    print("  echo written before the request: %d of %d" % (sum(1 for s in steps if s.get("echo", 1e30) < s["request"]),
                                                        len(steps)))


if __name__ == "__main__":
    sys.exit(main())
