#!/usr/bin/env python3
"""The demo's run: a local webhook receiver, a small journal with "Pervasive
SQL" entries and a settings file pointing at the receiver, in a temporary
folder; the Linux program is run in the foreground until the start notice
arrives, then again after one more error entry, for the problems notice.

Usage: demo.py VANTREL_BINARY
"""
import os
import socket
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "e2e"))
from harness import Case, answer, wait_until  # noqa: E402  (the end-to-end tests' receiver, journal and runs)

# The name the notices give the computer; the environment's COMPUTERNAME wins.
COMPUTER = os.environ.get("COMPUTERNAME", "demo-host")


def show(receiver, request, n):
    """Prints a notice as the webhook receives it and answers 200."""
    print(f"webhook got: {request.method} {request.path}", flush=True)
    for name in ("Content-type", "User-Agent"):
        print(f"  {name}: {request.header(name)}", flush=True)
    print("  body: " + request.body.decode("utf-8", "replace"), flush=True)
    return answer(200, "OK", body=b"ok")


def stored_mark(case):
    return case.stored("lastrecnum") if os.path.exists(case.settings) else None


def run_until_notice(case, hook):
    """Runs the program until a new notice arrives and its answer has moved
    the stored mark, then stops it with SIGTERM. The receiver sees a notice
    before it answers, and a stop ends a post still waiting for its answer,
    so stopping at the notice alone would race the answer."""
    before, mark = len(hook.bodies()), stored_mark(case)
    run = case.start(notify=False, env={"COMPUTERNAME": COMPUTER})
    arrived = wait_until(lambda: len(hook.bodies()) > before, 15)
    if arrived:
        wait_until(lambda: stored_mark(case) != mark, 15)
    run.stop()
    print("-- the program's debug lines:")
    for line in run.text_lines():
        print("  " + line)
    if not arrived:
        print("No notice arrived.", file=sys.stderr)
        return False
    mark = stored_mark(case)
    print("-- stored: " + (f'"lastrecnum"={mark}' if mark else 'no "lastrecnum"'))
    return True


def main():
    with Case(sys.argv[1]) as case:
        host = socket.gethostname()
        case.add_entries((6, "Pervasive PSQL engine started"), (4, "License count is close to its limit"),
                         (3, "Too many users: license limit reached"), file="demo.journal", hostname=host)
        hook = case.receiver(show)
        case.write_settings(f'"chaturl"="{hook.url("/hooks/demo")}"', '"instancename"="Demo 1"')
        print("== First run of a fresh installation: the start notice")
        if not run_until_notice(case, hook):
            return 1
        print()
        print("== A new error entry, then the next start: the problems notice")
        case.add_entries((3, "License check failed"), file="demo.journal", hostname=host)
        return 0 if run_until_notice(case, hook) else 1


if __name__ == "__main__":
    sys.exit(main())
