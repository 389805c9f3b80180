#!/usr/bin/env python3
"""The real program on a host that works against it: standard error that
nobody reads, and a second service process on the same settings file (also
through a second name of it, a hard link)."""
import os
import unittest

from harness import PROBLEMS_TEXT, Case, notice, wait_until

NAME = "Kassa"
REFUSED = "Another Vantrel service already uses the settings file {}; this one ends"
HARD_LINKED = ("The settings file {} has 2 names (hard links), so another service could use it under another; this "
               "one ends. Keep one name, and a symbolic link where another path must lead to it")
# Where the event log entries of the Linux build land when no journal runs.
JOURNAL_SOCKET = "/run/systemd/journal/socket"


class HostFaults(unittest.TestCase):
    def test_closed_standard_error_keeps_the_service_posting(self):
        with Case() as c:
            hook = c.receiver()
            c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000')
            c.add_entries((3, "licence limit reached"))
            # Every debug line fails to be written (EPIPE): the first one,
            # "vantrel timer", once ended the process with SIGPIPE.
            run = c.start(closed_stderr=True)
            self.assertTrue(wait_until(lambda: c.stored("lastrecnum") == "dword:00000001", 5), hook.requests)
            self.assertIsNone(run.process.poll(), "still running")
            self.assertEqual(run.stop(), 0)
            self.assertEqual(hook.bodies(), [notice(PROBLEMS_TEXT, NAME)])
            self.assertTrue(any("STATUS=Stopped" in n for n in run.notes), run.notes)

    def test_second_service_on_one_settings_file_is_refused_and_nothing_is_posted_twice(self):
        with Case() as c:
            hook = c.receiver()
            c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000')
            c.add_entries((3, "licence limit reached"), (4, "licence count near its limit"))
            # Both start together, one by a link to the file: one of them
            # runs the check, the other ends at once.
            link = os.path.join(c.dir, "link.reg")
            os.symlink(c.settings, link)
            runs = [c.start(), c.start(env={"VANTREL_REGISTRY": link})]
            self.assertTrue(wait_until(lambda: any(r.process.poll() is not None for r in runs), 5))
            refused = next(r for r in runs if r.process.poll() is not None)
            served = next(r for r in runs if r is not refused)
            self.assertTrue(served.wait_line("statustxt=OK"), served.debug())
            self.assertEqual(refused.process.returncode, 1, refused.debug())
            self.assertEqual(refused.stop(), 1)
            # The refusal is an event log entry under the program's name:
            # on standard error where no journal runs.
            if not os.path.exists(JOURNAL_SOCKET):
                name = os.path.basename(c.binary)
                self.assertEqual(refused.text_lines(), [f"{name}: " + REFUSED.format(c.settings)])
            self.assertFalse(any("READY=1" in n for n in refused.notes), refused.notes)

            # A start while the first still runs is refused as well.
            late = c.start()
            self.assertEqual(late.process.wait(5), 1)
            self.assertEqual(served.stop(), 0)
            self.assertEqual(hook.bodies(), [notice(PROBLEMS_TEXT, NAME)])
            self.assertEqual(c.stored("lastrecnum"), "dword:00000002")

            # Once it has ended, the next start serves: nothing new to post.
            again = c.start()
            self.assertTrue(again.wait_line("vantrel timer"), again.debug())
            self.assertTrue(again.wait_note("READY=1"), again.notes)
            self.assertEqual(again.stop(), 0)
            self.assertEqual(len(hook.bodies()), 1)

    def test_settings_file_with_a_second_name_is_refused(self):
        with Case() as c:
            hook = c.receiver()
            c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000')
            c.add_entries((3, "licence limit reached"))
            before = c.settings_bytes()
            # A hard link from another folder: a lock beside each name would
            # let two services post every entry twice. Both are refused.
            os.mkdir(os.path.join(c.dir, "other"))
            second = os.path.join(c.dir, "other", "settings.reg")
            os.link(c.settings, second)
            for path in (c.settings, second):
                run = c.start(env={"VANTREL_REGISTRY": path})
                self.assertEqual(run.process.wait(5), 1, run.debug())
                self.assertEqual(run.stop(), 1)
                if not os.path.exists(JOURNAL_SOCKET):
                    name = os.path.basename(c.binary)
                    self.assertEqual(run.text_lines(), [f"{name}: " + HARD_LINKED.format(path)])
                self.assertFalse(any("READY=1" in n for n in run.notes), run.notes)
            self.assertEqual(hook.requests, [])
            self.assertEqual(c.settings_bytes(), before)

            # One name again: the service runs.
            os.unlink(second)
            run = c.start()
            self.assertTrue(run.wait_line("statustxt=OK"), run.debug())
            self.assertEqual(run.stop(), 0)
            self.assertEqual(hook.bodies(), [notice(PROBLEMS_TEXT, NAME)])


if __name__ == "__main__":
    unittest.main()
