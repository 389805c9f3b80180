#!/usr/bin/env python3
"""The HTTP library is loaded by each post's own child process: the waiting
service maps none of it, and a library that cannot be loaded fails the post,
not the service."""
import unittest

from harness import PROBLEMS_TEXT, SHORT_TIMEOUTS_BINARY, Case, notice, wait_until

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

    def test_a_missing_http_library_fails_the_post_not_the_service(self):
        with Case(SHORT_TIMEOUTS_BINARY) as c:
            hook = c.receiver()
            c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000')
            c.add_entries((3, "licence limit reached"))
            run = c.start(env={"VANTREL_TEST_CURL_LIBRARY": "libvantrel-missing.so.0"})
            line = ("virhe chat postauksesssa =REST request failed: Error obtaining session handle: "
                    "libvantrel-missing.so.0: cannot open shared object file: No such file or directory")
            self.assertTrue(run.wait_line(line), run.debug())
            self.assertIsNone(run.process.poll(), "still running")
            self.assertEqual(run.stop(), 0)
            self.assertEqual(hook.requests, [])
            self.assertEqual(c.stored("lastrecnum"), "dword:00000000")


if __name__ == "__main__":
    unittest.main()
