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
  after the first check, for both;
- the peak anonymous memory of a first check (RssAnon, sampled every few
  milliseconds while it runs) on 2,000,000 entries of the watched source in
  ten files against 20,000: a check keeps only what its notice needs, so the
  difference stays within a few MiB;
- the first check as a user sees it, on a journal like a real host's: 200,000
  entries (50,000 of them the watched source's) that carry the fields
  journald adds to a syslog daemon's entries: from the start of the service
  to the notice at the webhook, less the one second before the first tick,
  against `journalctl -D DIR -t "Pervasive SQL" -p info -o export` on the
  same folder; and the private dirty memory after it, against `journalctl -D
  DIR -f -n0`.
"""
import os
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import Case, answer  # noqa: E402  (the end-to-end tests' journal, webhook and runs)

LARGE = 200_000
SYSLOG_LIKE = 200_000  # a quarter of them the watched source's


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


def add_syslog_like_entries(case, count):
    """Appends count entries as journald stores what a syslog daemon passes
    on: some twenty fields each, most of them the same for one program. Every
    fourth entry is the watched source's (priorities 3 to 6 in turn); the
    others come from three other programs."""
    programs = [("Pervasive SQL", "mkded", "/usr/local/psql/bin/mkded", "psql.service", 1834),
                ("sshd", "sshd", "/usr/sbin/sshd", "ssh.service", 712),
                ("CRON", "cron", "/usr/sbin/cron", "cron.service", 655),
                ("postfix/smtpd", "smtpd", "/usr/lib/postfix/sbin/smtpd", "postfix@-.service", 2210)]
    machine = "6f1d0c3e2b8a4f7e9d5c1b3a2e4f6a8b"
    start = 1_700_000_000_000_000

    def entry(i):
        ident, comm, exe, unit, pid = programs[i % 4]
        return {"_MACHINE_ID": machine, "_HOSTNAME": "db1", "_TRANSPORT": "syslog",
                "PRIORITY": 3 + i // 4 % 4 if i % 4 == 0 else 6, "SYSLOG_FACILITY": 3, "SYSLOG_IDENTIFIER": ident,
                "SYSLOG_PID": pid, "SYSLOG_TIMESTAMP": f"Nov 14 22:13:{i % 60:02d} ",
                "MESSAGE": f"{ident} event {i}: session {i * 7919 % 100000} done",
                "_PID": pid, "_UID": 0, "_GID": 0, "_COMM": comm, "_EXE": exe, "_CMDLINE": f"{exe} -f",
                "_CAP_EFFECTIVE": "1ffffffffff", "_SELINUX_CONTEXT": "unconfined",
                "_SYSTEMD_CGROUP": f"/system.slice/{unit}", "_SYSTEMD_UNIT": unit, "_SYSTEMD_SLICE": "system.slice",
                "_SYSTEMD_INVOCATION_ID": machine[::-1], "_SOURCE_REALTIME_TIMESTAMP": start + i * 1000 - 17}

    case.add_many((entry(i) for i in range(count)), file="syslog.journal",
                  times=range(start, start + count * 1000, 1000))


def journalctl_export_seconds(journal):
    """The median of three runs of journalctl exporting what a first check
    reads, to nowhere."""
    times = []
    for _ in range(3):
        started = time.monotonic()
        subprocess.run(["journalctl", "-D", journal, "-t", "Pervasive SQL", "-p", "info", "-o", "export"],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
        times.append(time.monotonic() - started)
    return sorted(times)[1]


def rss_anon_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("RssAnon:"):
                return int(line.split()[1])
    return 0


def first_check_peak_anon_kib(binary, entries, files=10):
    """The peak anonymous memory of the service from its start to its first
    notice, on a fresh installation whose journal holds `entries` errors of
    the watched source spread over `files` files; None when no notice came."""
    with Case(binary) as case:
        per_file = entries // files
        for f in range(files):
            case.add_many(({"SYSLOG_IDENTIFIER": "Pervasive SQL", "PRIORITY": 3, "_HOSTNAME": "db1",
                            "MESSAGE": f"error {f}-{i}: license limit reached"} for i in range(per_file)),
                          file=f"f{f}.journal")
        arrivals = Arrivals()
        receiver = case.receiver(reply=arrivals.reply)
        case.write_settings(f'"chaturl"="{receiver.url()}"', '"instancename"="Bench"')
        run = case.start(notify=False)
        peak = 0
        deadline = time.monotonic() + 600
        try:
            while not arrivals.times and time.monotonic() < deadline:
                peak = max(peak, rss_anon_kib(run.process.pid))
                time.sleep(0.003)
        finally:
            run.stop()
        return peak if arrivals.times else None


def check_memory_lines(binary):
    small_n, large_n = 20_000, 2_000_000
    small = first_check_peak_anon_kib(binary, small_n)
    large = first_check_peak_anon_kib(binary, large_n)
    if small is None or large is None:
        return ["no notice arrived in the memory measurement"]
    return [f"peak anonymous memory of a first check: {small_n} entries {small} KiB, {large_n} entries {large} KiB, "
            f"difference {large - small} KiB"]


def syslog_like_first_check(binary):
    """The first check as a user sees it, on entries as a real host's
    journal holds them; its lines."""
    with Case(binary) as case:
        add_syslog_like_entries(case, SYSLOG_LIKE)
        reference = journalctl_export_seconds(case.journal)
        arrivals = Arrivals()
        receiver = case.receiver(reply=arrivals.reply)
        case.write_settings(f'"chaturl"="{receiver.url()}"', '"instancename"="Bench"')
        run = case.start(notify=False)
        arrived = arrivals.wait_for(1, 120)
        if arrived is None:
            return ["no notice arrived on the syslog-like journal"]
        check = arrived - run.started - 1.0
        follower = subprocess.Popen(["journalctl", "-D", case.journal, "-f", "-n0"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            time.sleep(2)  # both settled: the service's check is done, journalctl is following
            ours, theirs = private_kib(run.process.pid), private_kib(follower.pid)
        finally:
            follower.terminate()
            follower.wait()
        run.stop()
        return [f"first check as a user sees it, {SYSLOG_LIKE} syslog-like entries ({SYSLOG_LIKE // 4} the source's): "
                f"{check:6.3f} s (start to notice less 1 s) = {check / reference:5.2f} x journalctl export "
                f"({reference:.3f} s)",
                f"  then private dirty memory: vantrel {ours[1]} KiB, journalctl -f {theirs[1]} KiB, "
                f"ratio {ours[1] / max(theirs[1], 1):.2f}"]


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
    for line in check_memory_lines(binary):
        print(line)
    for line in syslog_like_first_check(binary):
        print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
