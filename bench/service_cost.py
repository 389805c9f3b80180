#!/usr/bin/env python3
"""What the running service costs, as ratios against references measured in
the same run (never a pass or fail on time; the machine is shared).

Usage: service_cost.py VANTREL_BINARY [IDLE_SECONDS]

- start to first notice: from process start to the webhook's arrival, against
  the one second the service waits before its first check; on a journal of a
  few entries and on one of 200,000 entries of the watched source;
- idle memory: private memory (Private_Clean + Private_Dirty of
  /proc/PID/smaps_rollup) after the first check on the large journal, against
  `journalctl -D DIR -f -n0` following the same folder;
- idle wake-ups: voluntary context switches over IDLE_SECONDS (30 by default)
  after the first check, for both.
"""
import os
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Case, answer  # noqa: E402  (the end-to-end tests' journal, webhook and runs)

LARGE = 200_000


class Arrivals:
    """Notes when each notice reached the webhook (after its body was read)."""

    def __init__(self):
        self.times = []
        self.arrived = threading.Condition()

    def reply(self, receiver, request, n):
        with self.arrived:
            self.times.append(time.monotonic())
            self.arrived.notify_all()
        return answer(200, "OK")

    def wait_for(self, count, timeout):
        with self.arrived:
            self.arrived.wait_for(lambda: len(self.times) >= count, timeout)
            return self.times[count - 1] if len(self.times) >= count else None


def private_kib(pid):
    """Private_Clean + Private_Dirty, and Private_Dirty alone. The clean part
    counts library pages that no other process happens to map, so it moves
    with whatever else runs on the machine; the dirty part is the process's
    own memory."""
    values = {}
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            name, _, rest = line.partition(":")
            if name in ("Private_Clean", "Private_Dirty"):
                values[name] = int(rest.split()[0])
    return values["Private_Clean"] + values["Private_Dirty"], values["Private_Dirty"]


def voluntary_switches(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/status") as f:
            for line in f:
                if line.startswith("voluntary_ctxt_switches:"):
                    total += int(line.split()[1])
    return total


def first_notice_seconds(case, entries):
    """Starts the program on a fresh installation whose journal holds
    `entries` entries of the watched source (priorities 3 to 6 in turn); the
    run and the seconds from its start to the start notice's arrival."""
    case.add_entries(*((3 + i % 4, f"entry {i}") for i in range(entries)))
    arrivals = Arrivals()
    receiver = case.receiver(reply=arrivals.reply)
    case.write_settings(f'"chaturl"="{receiver.url()}"', '"instancename"="Bench"')
    run = case.start(notify=False)
    arrived = arrivals.wait_for(1, 60)
    return run, (None if arrived is None else arrived - run.started)


def main():
    binary = os.path.abspath(sys.argv[1])
    idle_seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 30.0
    with Case(binary) as small_case, Case(binary) as case:
        small, small_s = first_notice_seconds(small_case, 3)
        small.stop()
        large, large_s = first_notice_seconds(case, LARGE)
        if small_s is None or large_s is None:
            print("no notice arrived", file=sys.stderr)
            return 1
        print(f"start to first notice, {3} entries:       {small_s:6.3f} s = {small_s:5.2f} x the 1 s first tick")
        print(f"start to first notice, {LARGE} entries: {large_s:6.3f} s = {large_s:5.2f} x the 1 s first tick")

        follower = subprocess.Popen(["journalctl", "-D", case.journal, "-f", "-n0"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            pid = large.process.pid
            time.sleep(2)  # both settled: the service's check is done, journalctl is following
            before = {p: voluntary_switches(p) for p in (pid, follower.pid)}
            time.sleep(idle_seconds)
            after = {p: voluntary_switches(p) for p in (pid, follower.pid)}
            ours_kib, theirs_kib = private_kib(pid), private_kib(follower.pid)
        finally:
            follower.terminate()
            follower.wait()
        large.stop()
        ours_sw = after[pid] - before[pid]
        theirs_sw = after[follower.pid] - before[follower.pid]
        print(f"idle private memory: vantrel {ours_kib[0]} KiB, journalctl -f {theirs_kib[0]} KiB, "
              f"ratio {ours_kib[0] / max(theirs_kib[0], 1):.2f}")
        print(f"  of it dirty: vantrel {ours_kib[1]} KiB, journalctl -f {theirs_kib[1]} KiB, "
              f"ratio {ours_kib[1] / max(theirs_kib[1], 1):.2f}")
        print(f"voluntary context switches over {idle_seconds:.0f} idle s: vantrel {ours_sw}, "
              f"journalctl -f {theirs_sw}")
        return 0


if __name__ == "__main__":
    sys.exit(main())
