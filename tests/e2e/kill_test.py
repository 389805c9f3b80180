#!/usr/bin/env python3
"""The real program killed with SIGKILL at the two moments that matter: while
the webhook holds the post unanswered, and right around the store of the new
record number."""
import concurrent.futures
import os
import random
import re
import signal
import threading
import time
import unittest

from harness import PROBLEMS_TEXT, START_TEXT, Case, answer, notice, wait_until

NAME = "Kassa"
HEADER = "Windows Registry Editor Version 5.00\n\n"
OTHER = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\other]\n\"keep\"=\"this\"\n\n"


class Kills(unittest.TestCase):
    def test_killed_while_the_webhook_holds_the_post_loses_no_notice(self):
        # (row, stored before, entries, the notice, stored after the kill,
        #  what the next start posts and stores)
        rows = [
            ("entries found: the post comes again", '"lastrecnum"=dword:00000000',
             [(3, "licence limit reached"), (4, "licence count near its limit")],
             notice(PROBLEMS_TEXT, NAME), "dword:00000000", [notice(PROBLEMS_TEXT, NAME)], "dword:00000002"),
            ("fresh installation without entries: 0 is stored before the post, so the start notice is not repeated",
             None, [], notice(START_TEXT, NAME), "dword:00000000", [], "dword:00000000"),
        ]
        for row, stored, entries, first, after_kill, again, after_again in rows:
            with self.subTest(row), Case() as c:
                hold = {"on": True}
                hook = c.receiver(lambda r, q, n: None if hold["on"] else b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
                c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', *([stored] if stored else []))
                if entries:
                    c.add_entries(*entries)
                run = c.start()
                self.assertTrue(wait_until(lambda: hook.requests, 5), run.debug())
                self.assertEqual(run.kill9(), -signal.SIGKILL)
                self.assertEqual(hook.bodies(), [first])
                self.assertEqual(c.stored("lastrecnum"), after_kill)

                hold["on"] = False
                run = c.start()
                self.assertTrue(run.wait_line("vantrel timer"), run.debug())
                if again:
                    wait_until(lambda: len(hook.bodies()) > 1 and "statustxt=OK" in run.text_lines(), 3)
                else:
                    time.sleep(0.7)
                self.assertEqual(run.stop(), 0)
                self.assertEqual(hook.bodies()[1:], again, run.debug())
                self.assertEqual(c.stored("lastrecnum"), after_again)

    def test_stop_during_the_post_reports_stopped_then_stores_after_the_answer(self):
        with Case() as c:
            answer_now = threading.Event()
            hook = c.receiver(lambda r, q, n: (answer_now.wait(10), answer(200, "OK"))[1])
            c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000')
            c.add_entries((3, "licence limit reached"))
            run = c.start()
            self.assertTrue(wait_until(lambda: hook.requests, 5), run.debug())
            run.process.send_signal(signal.SIGTERM)
            # The service is reported stopped while the check still waits.
            self.assertTrue(run.wait_note("STATUS=Stopped"), run.notes)
            self.assertIsNone(run.process.poll())
            self.assertEqual(c.stored("lastrecnum"), "dword:00000000")
            answer_now.set()
            self.assertEqual(run.stop(), 0)
            self.assertEqual(run.text_lines()[-1], "statustxt=OK", run.debug())
            self.assertEqual(c.stored("lastrecnum"), "dword:00000001")

    def test_killed_around_the_store_leaves_the_old_file_or_the_new_one(self):
        old = (HEADER + OTHER + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n; kept\n\"chaturl\"=\"URL\"\n"
               "\"lastrecnum\"=dword:00000000\n\"instancename\"=\"" + NAME + "\"\n")
        new = old.replace("dword:00000000", "dword:00000002")
        # The webhook answers 200 and the program is killed 0 to 15 ms later,
        # while it reads the answer, writes the temporary file, or renames it.
        delays = [i * 0.002 for i in range(8)]
        random.Random(7).shuffle(delays)

        def round_(delay):
            with Case() as c:
                hook = c.receiver()
                c.write_settings(raw=old.replace("URL", hook.url()).encode())
                c.add_entries((3, "licence limit reached"), (4, "licence count near its limit"))
                run = c.start(notify=False)
                hook.after_reply = lambda: (time.sleep(delay), os.kill(run.process.pid, signal.SIGKILL))
                wait_until(lambda: run.process.poll() is not None, 5)
                code = run.kill9()
                text = c.settings_bytes().decode()
                return code, text, hook.url(), os.listdir(c.dir), len(hook.requests)

        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            results = list(pool.map(round_, delays))
        seen = set()
        for delay, (code, text, url, files, requests) in zip(delays, results):
            with self.subTest(delay=delay):
                self.assertEqual(requests, 1)
                self.assertEqual(code, -signal.SIGKILL, "killed, not ended by itself")
                # The number is written first, then the position written for
                # it: an end between the two leaves the new number alone.
                position = re.search(r'^"lastrecpos"="2:[0-9a-f]{32}=2:[0-9a-f]{8}"\n', text, re.M)
                if position:
                    text = text[:position.start()] + text[position.end():]
                self.assertIn(text, (old.replace("URL", url), new.replace("URL", url)))
                self.assertTrue(not position or "dword:00000002" in text)
                seen.add(("new" if "dword:00000002" in text else "old") + (" with its position" if position else ""))
                # A dead writer may leave its temporary file; nothing else
                # beside the service's lock file.
                self.assertLessEqual(set(files), {"journal", "settings.reg", ".settings.reg.tmp", ".settings.reg.lock"})
        print("files after the kills:", sorted(seen))


if __name__ == "__main__":
    unittest.main()
