#!/usr/bin/env python3
"""What the real program offers an administrator beyond the notice itself:
the newest entries under the notice ("details"), the test switch, and the
outcome of every check as the service's status text."""
import json
import os
import pwd
import re
import subprocess
import time
import unittest

from harness import (HOST, KEY, PROBLEMS_TEXT, Case, answer, free_port)

NAME = "Tuotanto 1"
TEST_TEXT = "PSQL lisenssivalvonnan testiviesti "
STAMP = r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d"
NEXT = r"\d{4}-\d\d-\d\d \d\d:\d\d"


def local(usec):
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(usec // 1000000))


def status_notes(run):
    with run.lock:
        return [line[len("STATUS="):] for note in run.notes for line in note.split("\n")
                if line.startswith("STATUS=")]


class Administrator(unittest.TestCase):
    def test_details_put_the_newest_entries_under_the_notice(self):
        with Case() as c:
            hook = c.receiver()
            c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000',
                             '"details"=dword:00000001')
            base = (int(time.time()) - 3600) * 1000000
            messages = ["engine started", 'Lisenssiraja täynnä: "40/40"', "licence check failed", "user limit",
                        "licence count near its limit", "too many users", "licence limit reached"]
            times = [base + i * 1000000 + 250000 for i in range(len(messages))]
            c.add_entries(*[(3 if i % 2 else 4, m) for i, m in enumerate(messages)], times=times)

            run, code, held = c.run_until(lambda r: "statuscode=200" in r.text_lines())
            self.assertTrue(held, run.debug())
            self.assertEqual(code, 0)
            newest_first = list(zip(times, messages))[::-1]
            text = (PROBLEMS_TEXT + NAME + ", koneen nimi " + HOST +
                    "".join(f"\n{local(t)} {m}" for t, m in newest_first[:5]) + "\n\u2026 ja 2 muuta")
            # The writer escapes the line breaks and the quotes, and leaves ä
            # and the ellipsis as their UTF-8 bytes.
            body = ('{"text":"' + text.replace('"', '\\"').replace("\n", "\\n") + '"}').encode("utf-8")
            self.assertEqual(hook.bodies(), [body])
            self.assertEqual(json.loads(body)["text"], text)
            self.assertEqual(c.stored("lastrecnum"), "dword:00000007")

    def test_details_of_the_wrong_type_fail_every_check_and_post_nothing(self):
        with Case() as c:
            hook = c.receiver()
            c.write_settings(f'"chaturl"="{hook.url()}"', '"lastrecnum"=dword:00000000', '"details"="1"')
            c.add_entries((3, "licence limit reached"))
            before = c.settings_bytes()
            failed = "Invalid data type for 'details'="
            run, code, held = c.run_until(lambda r: r.text_lines().count(failed) >= 2, timeout=8)
            self.assertTrue(held, run.debug())
            self.assertEqual(hook.requests, [])
            self.assertEqual(c.settings_bytes(), before)
            self.assertTrue(any(re.fullmatch(f"Last check {STAMP} failed: Invalid data type for 'details'; "
                                             "tried again within ten minutes", s) for s in status_notes(run)),
                            status_notes(run))

    def _test_switch(self, c, user=None, env=None):
        """Runs `vantrel /test` to its end; (exit code, stdout lines, stderr)."""
        e = {k: v for k, v in os.environ.items()
             if k.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy", "computername",
                                  "notify_socket")}
        # A journal folder that cannot be read: a query would say so.
        journal = os.path.join(c.dir, "not-a-journal")
        with open(journal, "w") as f:
            f.write("x")
        e.update(VANTREL_REGISTRY=c.settings, VANTREL_JOURNAL_DIR=journal, COMPUTERNAME=HOST,
                 https_proxy=c.trap.url(), http_proxy=c.trap.url(), no_proxy="127.0.0.1")
        e.update(env or {})
        command = [c.binary, "/test"]
        if user:
            account = pwd.getpwnam(user)
            command = ["setpriv", f"--reuid={account.pw_uid}", f"--regid={account.pw_gid}", "--clear-groups"] + command
        done = subprocess.run(command, env=e, stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        return done.returncode, done.stdout.decode("utf-8").splitlines(), done.stderr.decode("utf-8")

    def test_the_test_switch_answers_with_the_exchange_and_a_verdict(self):
        refused_port = free_port()
        rows = [
            ("200", lambda r, q, n: answer(200, "OK"), 0,
             ["resposene=OK", "statuscode=200", "statustxt=OK", "Test notice delivered to {site}: HTTP 200 OK"]),
            ("500", lambda r, q, n: answer(500, "Internal Server Error"), 1,
             ["resposene=Internal Server Error", "statuscode=500", "statustxt=Internal Server Error",
              "Test notice not delivered to {site}: HTTP 500 Internal Server Error"]),
            ("refused", None, 1,
             ["virhe chat postauksesssa =REST request failed: Error sending data: (7) {curl}",
              "Test notice not delivered to {site}: Error sending data: (7) {curl}"]),
        ]
        for row, reply, exit_code, lines in rows:
            with self.subTest(row), Case() as c:
                hook = c.receiver(reply) if reply else None
                url = hook.url("/hooks/ID/TOKEN") if hook else f"http://127.0.0.1:{refused_port}/hooks/ID/TOKEN"
                c.write_settings(f'"chaturl"="{url}"', f'"instancename"="{NAME}"')
                before = c.settings_bytes()
                code, out, err = self._test_switch(c)
                self.assertEqual(code, exit_code, out)
                site = url[:url.index("/hooks")]
                if hook is None:
                    curl = out[0].rsplit(") ", 1)[-1] if out else ""
                    self.assertTrue(curl, out)
                else:
                    curl = ""
                    self.assertEqual(hook.bodies(),
                                     [('{"text":"' + TEST_TEXT + NAME + ", koneen nimi " + HOST + '"}').encode()])
                self.assertEqual(out, [line.format(site=site, curl=curl) for line in lines])
                self.assertEqual(err, "", "every line goes to standard output")
                self.assertEqual(c.settings_bytes(), before, "nothing stored")

    def test_the_test_switch_works_for_a_user_who_may_only_read_the_settings(self):
        with Case() as c:
            hook = c.receiver()
            c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"')
            before = c.settings_bytes()
            # The file readable to others, its folder not writable to them.
            os.chmod(c.dir, 0o755)
            os.chmod(c.settings, 0o644)
            user = "nobody" if os.geteuid() == 0 else None
            try:
                code, out, err = self._test_switch(c, user=user)
            finally:
                os.chmod(c.dir, 0o700)
            self.assertEqual(code, 0, out)
            self.assertEqual(out[-1], f"Test notice delivered to {hook.url('')}: HTTP 200 OK")
            self.assertEqual(hook.bodies(), [('{"text":"' + TEST_TEXT + NAME + ", koneen nimi " + HOST + '"}').encode()])
            self.assertEqual(c.settings_bytes(), before)
            self.assertEqual(sorted(os.listdir(c.dir)), ["journal", "not-a-journal", "settings.reg"])

            # No settings file: none is made; the built-in webhook is tried
            # (and refused by the test's proxy).
            os.unlink(c.settings)
            code, out, err = self._test_switch(c)
            self.assertEqual(code, 1, out)
            self.assertEqual(out[0], "Settings not read (code 2, not found): the built-in webhook and no instance name")
            self.assertTrue(out[-1].startswith("Test notice not delivered to https://"), out)
            self.assertFalse(os.path.exists(c.settings))
            self.assertEqual([m for m, _ in c.trap.targets], ["CONNECT"])

    def test_every_check_leaves_its_outcome_as_the_service_status(self):
        rows = [
            ("delivered", lambda r, q, n: answer(200, "OK"),
             rf"Last check {STAMP}: 2 new entries, notice delivered; next check after {NEXT}"),
            ("refused", lambda r, q, n: answer(500, "Internal Server Error"),
             rf"Last check {STAMP}: 2 new entries, notice not delivered: HTTP 500 Internal Server Error; "
             rf"retried at the next check, after {NEXT}"),
            ("unreachable", None,
             rf"Last check {STAMP}: 2 new entries, notice not delivered: Error sending data: \(7\) [^;]+; "
             rf"retried at the next check, after {NEXT}"),
        ]
        for row, reply, expected in rows:
            with self.subTest(row), Case() as c:
                hook = c.receiver(reply) if reply else None
                url = hook.url() if hook else f"http://127.0.0.1:{free_port()}/hooks/e2e"
                c.write_settings(f'"chaturl"="{url}"', '"lastrecnum"=dword:00000000')
                c.add_entries((3, "licence limit reached"), (4, "licence count near its limit"))
                run, code, held = c.run_until(lambda r: any(s.startswith("Last check") for s in status_notes(r)))
                self.assertTrue(held, run.notes)
                self.assertEqual(code, 0)
                checks = [s for s in status_notes(run) if s.startswith("Last check")]
                self.assertEqual(len(checks), 1, run.notes)
                self.assertRegex(checks[0], "^" + expected + "$")
                # The state texts stay where the state changes.
                states = [s for s in status_notes(run) if not s.startswith("Last check")]
                self.assertEqual(states[-1], "Stopped")
                self.assertIn("Running", states)


if __name__ == "__main__":
    unittest.main()
