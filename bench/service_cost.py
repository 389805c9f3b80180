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
import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

JOURNAL_REMOTE = "/lib/systemd/systemd-journal-remote"
LARGE = 200_000


def write_journal(path, count):
    """Writes count entries of the watched source, priorities 3 to 6 in turn."""
    lines = []
    for i in range(count):
        lines.append(
            f"__REALTIME_TIMESTAMP={1700000000000000 + i * 1000}\n"
            f"__MONOTONIC_TIMESTAMP={1000 + i}\n"
            "_BOOT_ID=0123456789abcdef0123456789abcdef\n_HOSTNAME=benchhost\n"
            f"SYSLOG_IDENTIFIER=Pervasive SQL\nPRIORITY={3 + i % 4}\nMESSAGE=entry {i}\n\n")
    subprocess.run([JOURNAL_REMOTE, "-o", path, "-"], input="".join(lines).encode(),
                   stderr=subprocess.DEVNULL, check=True)


class Receiver:
    """A webhook on 127.0.0.1 that notes when each notice arrived."""

    def __init__(self):
        self.arrivals = []
        self.arrived = threading.Condition()
        receiver = self

        class Hook(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                self.rfile.read(int(self.headers.get("Content-Length", "0")))
                now = time.monotonic()
                self.send_response(200)
                self.send_header("Content-Length", "0")
                self.end_headers()
                with receiver.arrived:
                    receiver.arrivals.append(now)
                    receiver.arrived.notify_all()

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Hook)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.url = f"http://127.0.0.1:{self.server.server_address[1]}/hooks/bench"

    def wait_for(self, count, timeout):
        with self.arrived:
            self.arrived.wait_for(lambda: len(self.arrivals) >= count, timeout)
            return self.arrivals[count - 1] if len(self.arrivals) >= count else None


def start_service(binary, folder, receiver):
    settings = os.path.join(folder, "settings.reg")
    with open(settings, "w") as f:
        f.write('Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n'
                f'"chaturl"="{receiver.url}"\n"instancename"="Bench"\n')
    env = dict(os.environ, VANTREL_REGISTRY=settings, VANTREL_JOURNAL_DIR=os.path.join(folder, "journal"),
               COMPUTERNAME="bench-host")
    env.pop("NOTIFY_SOCKET", None)
    started = time.monotonic()
    process = subprocess.Popen([binary], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return process, started


def stop(process):
    process.terminate()
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


def private_kib(pid):
    total = 0
    with open(f"/proc/{pid}/smaps_rollup") as f:
        for line in f:
            if line.startswith(("Private_Clean:", "Private_Dirty:")):
                total += int(line.split()[1])
    return total


def voluntary_switches(pid):
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        with open(f"/proc/{pid}/task/{task}/status") as f:
            for line in f:
                if line.startswith("voluntary_ctxt_switches:"):
                    total += int(line.split()[1])
    return total


def first_notice_seconds(binary, root, entries, receiver):
    folder = os.path.join(root, f"run{entries}")
    os.makedirs(os.path.join(folder, "journal"))
    write_journal(os.path.join(folder, "journal", "bench.journal"), entries)
    expected = len(receiver.arrivals) + 1
    process, started = start_service(binary, folder, receiver)
    arrived = receiver.wait_for(expected, 60)
    return process, folder, (None if arrived is None else arrived - started)


def main():
    binary = os.path.abspath(sys.argv[1])
    idle_seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 30.0
    root = tempfile.mkdtemp(prefix="vantrel-bench-")
    receiver = Receiver()
    processes = []
    try:
        small, _, small_s = first_notice_seconds(binary, root, 3, receiver)
        stop(small)
        large, folder, large_s = first_notice_seconds(binary, root, LARGE, receiver)
        processes.append(large)
        if small_s is None or large_s is None:
            print("no notice arrived", file=sys.stderr)
            return 1
        print(f"start to first notice, {3} entries:       {small_s:6.3f} s = {small_s:5.2f} x the 1 s first tick")
        print(f"start to first notice, {LARGE} entries: {large_s:6.3f} s = {large_s:5.2f} x the 1 s first tick")

        follower = subprocess.Popen(["journalctl", "-D", os.path.join(folder, "journal"), "-f", "-n0"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        processes.append(follower)
        time.sleep(2)  # both settled: the service's check is done, journalctl is following
        before = {p.pid: voluntary_switches(p.pid) for p in (large, follower)}
        time.sleep(idle_seconds)
        after = {p.pid: voluntary_switches(p.pid) for p in (large, follower)}
        ours_kib, theirs_kib = private_kib(large.pid), private_kib(follower.pid)
        ours_sw = after[large.pid] - before[large.pid]
        theirs_sw = after[follower.pid] - before[follower.pid]
        print(f"idle private memory: vantrel {ours_kib} KiB, journalctl -f {theirs_kib} KiB, "
              f"ratio {ours_kib / max(theirs_kib, 1):.2f}")
        print(f"voluntary context switches over {idle_seconds:.0f} idle s: vantrel {ours_sw}, "
              f"journalctl -f {theirs_sw}")
        return 0
    finally:
        for p in processes:
            stop(p)
        receiver.server.shutdown()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
