#!/usr/bin/env python3
"""The road of one notice through the real program: journal entries in, one
POST on the wire, the record number stored only after the webhook said 200."""
import unittest

from harness import (PROBLEMS_TEXT, START_TEXT, USER_AGENT, Case, answer, free_port, notice,
                     wait_until)

NAME = "Tuotanto Ä 1"  # a non-ASCII instance name travels as UTF-8


def url_line(receiver):
    return f'"chaturl"="{receiver.url()}"'


class Road(unittest.TestCase):
    def test_fresh_installation_without_entries_stores_zero_before_posting(self):
        with Case() as c:
            hook = c.receiver()
            other = ('[HKEY_LOCAL_MACHINE\\SOFTWARE\\other]\n"keep"=dword:00000007\n')
            c.write_settings(url_line(hook), f'"instancename"="{NAME}"', '"edellinenajo"=hex:01,02',
                             '; a comment the store keeps')
            c.write_settings(raw=c.settings_bytes() + other.encode())
            before = c.settings_bytes().decode().splitlines()

            run = c.start()
            self.assertTrue(run.wait_note("READY=1"), run.notes)
            self.assertTrue(wait_until(lambda: hook.bodies(), 5), run.debug())
            self.assertTrue(run.wait_line("statustxt=OK"), run.debug())
            code = run.stop()

            self.assertEqual(code, 0)
            self.assertTrue(any("STOPPING=1" in n for n in run.notes), run.notes)
            self.assertTrue(any("STATUS=Stopped" in n for n in run.notes), run.notes)
            self.assertEqual(hook.bodies(), [notice(START_TEXT, NAME)])
            request = hook.requests[0]
            self.assertEqual((request.method, request.path), ("POST", "/hooks/e2e"))
            sent = dict(request.headers)
            self.assertIn("Content-type", sent, "the header name is spelled Content-type")
            self.assertEqual(sent["Content-type"], "application/json")
            self.assertEqual(request.header("User-Agent"), USER_AGENT)
            self.assertEqual(request.header("Accept"), "application/json, text/plain; q=0.9, text/html;q=0.8,")
            self.assertEqual(request.header("Accept-Charset"), "UTF-8, *;q=0.8")
            self.assertIsNone(request.header("Accept-Encoding"))
            self.assertEqual(request.header("Content-Length"), str(len(request.body)))
            # 0 was stored before the notice went out.
            self.assertEqual(c.stored("lastrecnum", request.settings_then), "dword:00000000")
            self.assertEqual(c.stored("lastrecnum"), "dword:00000000")
            self.assertEqual([t for t in run.text_lines() if t != "vantrel timer"],
                             ["resposene=OK", "statuscode=200", "statustxt=OK"])
            after = c.settings_bytes().decode().splitlines()
            self.assertEqual([line for line in after if line not in before], ['"lastrecnum"=dword:00000000'])
            self.assertEqual([line for line in before if line not in after], [])

    def test_start_notice_then_problems_notice_store_the_highest_number(self):
        with Case() as c:
            hook = c.receiver()
            c.write_settings(url_line(hook), f'"instancename"="{NAME}"')
            c.add_entries((6, "engine started"), (4, "licence count near its limit"), (3, "licence limit reached"))

            run, code, _ = c.run_until(lambda r: "statuscode=200" in r.text_lines())
            self.assertEqual(code, 0)
            # A first run counts information entries too; the number is stored
            # only after the answer.
            self.assertEqual(hook.bodies(), [notice(START_TEXT, NAME)])
            self.assertIsNone(c.stored("lastrecnum", hook.requests[0].settings_then))
            self.assertEqual(c.stored("lastrecnum"), "dword:00000003")

            c.add_entries((3, "licence check failed"), (6, "engine idle"))
            run, code, _ = c.run_until(lambda r: "statuscode=200" in r.text_lines())
            self.assertEqual(code, 0)
            self.assertEqual(hook.bodies()[1:], [notice(PROBLEMS_TEXT, NAME)])
            # Later runs ask for errors and warnings only: 5 is information.
            self.assertEqual(c.stored("lastrecnum"), "dword:00000004")

            # Nothing new: no notice, nothing written.
            stored = c.settings_bytes()
            run = c.start()
            self.assertTrue(run.wait_note("STATUS=Last check"), run.debug())
            self.assertEqual(run.stop(), 0)
            self.assertEqual(len(hook.bodies()), 2, run.debug())
            self.assertEqual(c.settings_bytes(), stored)

    def test_failed_post_stores_nothing_and_the_next_start_posts_again(self):
        for failure in ("status 500", "connection refused"):
            with self.subTest(failure), Case() as c:
                status = {"code": 500}
                port = free_port()
                reply = lambda r, q, n: answer(status["code"], "Internal Server Error" if status["code"] == 500 else "OK")
                hook = c.receiver(reply, port=port) if failure == "status 500" else None
                c.write_settings(f'"chaturl"="http://127.0.0.1:{port}/hooks/e2e"', f'"instancename"="{NAME}"')
                c.add_entries((3, "licence limit reached"), (4, "licence count near its limit"))
                before = c.settings_bytes()

                expected = ("statuscode=500" if hook else
                            "virhe chat postauksesssa =REST request failed: Error sending data: (7) ")
                run, code, held = c.run_until(lambda r: any(t.startswith(expected) for t in r.text_lines()))
                self.assertTrue(held, run.debug())
                self.assertEqual(code, 0)
                self.assertEqual(c.settings_bytes(), before, "nothing stored")
                if hook:
                    self.assertEqual(hook.bodies(), [notice(START_TEXT, NAME)])

                status["code"] = 200
                hook = hook or c.receiver(reply, port=port)
                run, code, held = c.run_until(lambda r: "statuscode=200" in r.text_lines())
                self.assertTrue(held, run.debug())
                self.assertEqual(hook.bodies()[-1], notice(START_TEXT, NAME), "posted again")
                self.assertEqual(c.stored("lastrecnum"), "dword:00000002")

    def test_lastrecnum_as_string_fails_every_second_and_posts_nothing(self):
        with Case() as c:
            hook = c.receiver()
            c.write_settings(url_line(hook), f'"instancename"="{NAME}"', '"lastrecnum"="5"')
            c.add_entries((3, "licence limit reached"))
            before = c.settings_bytes()

            run = c.start()
            self.assertTrue(run.wait_note("READY=1"), run.notes)
            self.assertTrue(run.wait_line("=", timeout=6, count=3), run.debug())
            self.assertEqual(run.stop(), 0)

            lines = run.text_lines()
            cycle = ["vantrel timer", "Invalid data type for 'lastrecnum'=", "="]
            self.assertGreaterEqual(len(lines), 9, run.debug())
            self.assertEqual(lines[:9], cycle * 3, run.debug())
            self.assertEqual(lines, (cycle * (len(lines) // 3 + 1))[:len(lines)], run.debug())
            ticks = [s for s, t in run.lines if t == "vantrel timer"]
            for a, b in zip(ticks, ticks[1:]):
                self.assertTrue(0.5 <= b - a <= 2.0, run.debug())
            self.assertEqual(hook.requests, [])
            self.assertEqual(c.trap.targets, [])
            self.assertEqual(c.settings_bytes(), before)


if __name__ == "__main__":
    unittest.main()
