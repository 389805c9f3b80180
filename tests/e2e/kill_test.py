#!/usr/bin/env python3
"""The real program killed with SIGKILL at the two moments that matter: while
the webhook holds the post unanswered, and right around the store of the new
record number."""
import concurrent.futures
import os
import random
import re
import signal
import subprocess
import time
import unittest

from harness import PROBLEMS_TEXT, START_TEXT, Case, Held, answer, notice, wait_until

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
                self.assertTrue(run.wait_note("STATUS=Last check"), run.debug())
                self.assertEqual(run.stop(), 0)
                self.assertEqual(hook.bodies()[1:], again, run.debug())
                self.assertEqual(c.stored("lastrecnum"), after_again)

    def test_a_stop_during_the_post_ends_it_and_stores_only_after_a_200(self):
        """SIGTERM while the webhook holds the post: the attempt is ended at
        once and the process ends within 2 s with code 0, "Stopped" its last
        status. Unless the head of a 200 had come, the notice counts as not
        delivered and the next start posts it again; after a 200's head the
        chat server has it, and the number is stored before the end."""
        # (row, the webhook's reply, stored after the stop)
        rows = [
            ("the webhook holds the request unanswered", lambda r, q, n: None, "dword:00000000"),
            ("a 200's status line and headers came, the body hangs",
             lambda r, q, n: Held(answer(200, "OK", body=b"0123456789")[:-4]), "dword:00000001"),
        ]
        for row, reply, stored in rows:
            with self.subTest(row):
                # The stop comes a moment after the request; for the second row
                # the head has to reach the attempt first, so a stop that came
                # before it is tried again later.
                delay = 0.2
                while True:
                    with Case() as c:
                        got = self._stop_during_post(c, reply, delay)
                        early = got["lines"][-1].endswith("the service stopped before the answer came")
                        if stored == "dword:00000001" and early and delay < 5:
                            delay *= 2
                            continue
                        self.assertEqual(got["code"], 0, got["debug"])
                        self.assertLess(got["took"], 2.0, got["debug"])
                        self.assertIn("STATUS=Stopped", got["notes"][-1], got["notes"])
                        self.assertEqual(got["stored"], stored, got["debug"])
                        if stored == "dword:00000000":
                            self.assertEqual(got["lines"][-1], "virhe chat postauksesssa =REST request failed: "
                                             "Error receiving data: the service stopped before the answer came")
                        else:
                            self.assertEqual(got["lines"][-3:], ["resposene=OK", "statuscode=200", "statustxt=OK"])
                        # The next start posts the notice again, or has nothing new.
                        run, code, held = c.run_until(lambda r: "STATUS=Last check" in "".join(r.notes))
                        self.assertTrue(held, run.debug())
                        again = [notice(PROBLEMS_TEXT, NAME)] if stored == "dword:00000000" else []
                        self.assertEqual(c.receivers[-1].bodies(), again)
                        self.assertEqual(c.stored("lastrecnum"), "dword:00000001")
                    break

    def _stop_during_post(self, c, reply, delay):
        hook = c.receiver(reply)
        c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000')
        c.add_entries((3, "licence limit reached"))
        run = c.start()
        self.assertTrue(wait_until(lambda: hook.requests, 5), run.debug())
        time.sleep(delay)
        stopped = time.monotonic()
        run.process.send_signal(signal.SIGTERM)
        try:
            run.process.wait(10)
        except subprocess.TimeoutExpired:
            pass
        took = time.monotonic() - stopped
        code = run.stop()
        # The webhook that answers the next start.
        hook.close()
        c.receiver(port=hook.port)
        notes = [n for n in run.notes if "STATUS=" in n]
        return dict(code=code, took=took, notes=notes, lines=run.text_lines(), debug=run.debug(),
                    stored=c.stored("lastrecnum"))

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
