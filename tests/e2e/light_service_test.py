#!/usr/bin/env python3
"""Each HTTP attempt is made by a fresh process of the program, which loads
the HTTP library: the waiting service maps none of it; a library that cannot
be loaded fails the check (tried again at the next tick), not the service;
and the attempt is made by the program that runs, also when its file was
replaced or removed since it started."""
import os
import re
import shutil
import stat
import unittest

from harness import BINARY, PROBLEMS_TEXT, SHORT_TIMEOUTS_BINARY, Case, notice, wait_until

NAME = "Kassa"
HTTP_LIBRARIES = ("libcurl", "libssl", "libcrypto", "libgnutls")


def mapped(pid):
    with open(f"/proc/{pid}/maps") as f:
        return {lib for line in f for lib in HTTP_LIBRARIES if lib in line}


class LightService(unittest.TestCase):
    def test_the_waiting_service_maps_no_http_library(self):
        with Case() as c:
            hook = c.receiver()
            c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000')
            c.add_entries((3, "licence limit reached"))
            run = c.start()
            self.assertTrue(wait_until(lambda: c.stored("lastrecnum") == "dword:00000001", 5), run.debug())
            self.assertEqual(hook.bodies(), [notice(PROBLEMS_TEXT, NAME)])
            self.assertEqual(mapped(run.process.pid), set())
            self.assertEqual(run.stop(), 0)

    def test_a_missing_http_library_fails_the_check_not_the_service(self):
        with Case(SHORT_TIMEOUTS_BINARY) as c:
            hook = c.receiver()
            c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000')
            c.add_entries((3, "licence limit reached"))
            run = c.start(env={"VANTREL_TEST_CURL_LIBRARY": "libvantrel-missing.so.0"})
            message = "Error obtaining session handle"
            reason = "libvantrel-missing.so.0: cannot open shared object file: No such file or directory"
            # Not the poster's line: the tick handler's, the message alone;
            # the loader's reason is in the status line. The check is tried
            # again at the next tick, a second later.
            cycle = ["vantrel timer", message + "=", "="]
            self.assertTrue(run.wait_line(message + "=", count=2), run.debug())
            self.assertIsNone(run.process.poll(), "still running")
            self.assertEqual(run.stop(), 0)
            self.assertEqual(run.text_lines()[:6], cycle * 2, run.debug())
            said = re.escape(f"{message}: {reason}")
            self.assertTrue(any(re.search(f"failed: {said}; tried again within ten minutes", n)
                                for n in run.notes), run.notes)
            self.assertEqual(hook.requests, [])
            self.assertEqual(c.stored("lastrecnum"), "dword:00000000")

    def test_the_attempt_is_made_by_the_running_program_after_its_file_changed(self):
        # (row, what becomes of the program's file while it runs)
        for row in ("replaced by another program", "removed"):
            with self.subTest(row), Case() as c:
                program = os.path.join(c.dir, "vantrel")
                shutil.copy2(BINARY, program)
                marker = os.path.join(c.dir, "the-new-program-ran")
                hook = c.receiver()
                # "lastrecnum" as a string fails each check, once a second,
                # until the file is changed and the settings are mended.
                settings = [f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"']
                c.write_settings(*settings, '"lastrecnum"="0"')
                c.add_entries((3, "licence limit reached"))
                run = c.start(binary=program)
                self.assertTrue(run.wait_line("Invalid data type for 'lastrecnum'="), run.debug())
                if row == "removed":
                    os.unlink(program)
                else:
                    # As a package upgrade does: the new file is renamed over the old.
                    new = program + ".dpkg-new"
                    with open(new, "w") as f:
                        f.write(f"#!/bin/sh\ntouch {marker}\n")
                    os.chmod(new, stat.S_IRWXU)
                    os.replace(new, program)
                c.write_settings(*settings, '"lastrecnum"=dword:00000000')
                self.assertTrue(wait_until(lambda: c.stored("lastrecnum") == "dword:00000001", 10), run.debug())
                self.assertEqual(run.stop(), 0)
                self.assertEqual(hook.bodies(), [notice(PROBLEMS_TEXT, NAME)])
                self.assertIn("statuscode=200", run.text_lines())
                self.assertFalse(os.path.exists(marker), "the new file was started")


if __name__ == "__main__":
    unittest.main()
