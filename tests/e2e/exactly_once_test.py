#!/usr/bin/env python3
"""Every error or warning reaches the chat once, and only once: a mark that
cannot be stored after the chat accepted its notice, a journal that starts
numbering again, record numbers past 31 bits, an entry without a host name."""
import os
import shutil
import unittest

from harness import PROBLEMS_TEXT, Case, answer, notice, wait_until

NAME = "Kassa"
ACCEPTED = "statustxt=OK"


def settings(c, hook, *extra):
    c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000', *extra)


def check_once(c, hook):
    """One start of the program until its first check has ended (it has
    left its outcome as the service status), then SIGTERM; the run and its
    exit code."""
    run = c.start()
    run.wait_note("STATUS=Last check ", timeout=60)
    return run, run.stop()


class ExactlyOnce(unittest.TestCase):
    def test_a_store_that_fails_after_the_200_posts_once(self):
        with Case() as c:
            hook = c.receiver()
            settings(c, hook)
            c.add_entries((3, "licence limit reached"))
            # A folder where the writer's temporary file goes: every store
            # fails, while the file reads as before.
            blocker = os.path.join(c.dir, ".settings.reg.tmp")
            os.mkdir(blocker)
            run = c.start()
            failure = "Failed to set data for 'lastrecnum'="
            self.assertTrue(run.wait_line(failure, timeout=8, count=4), run.debug())
            self.assertEqual(hook.bodies(), [notice(PROBLEMS_TEXT, NAME)], "posted once, not once a second")
            self.assertEqual(c.stored("lastrecnum"), "dword:00000000")
            # Each retry stores without posting; once a store succeeds, the
            # check completes.
            os.rmdir(blocker)
            self.assertTrue(wait_until(lambda: c.stored("lastrecnum") == "dword:00000001", 5), run.debug())
            self.assertEqual(run.stop(), 0)
            self.assertEqual(len(hook.bodies()), 1)
            lines = run.text_lines()
            self.assertEqual(lines[-1], "vantrel timer", run.debug())
            self.assertEqual(lines.count(ACCEPTED), 1)
            # The next start finds nothing new.
            run, code = check_once(c, hook)
            self.assertEqual(len(hook.bodies()), 1, run.debug())

    def test_a_folder_made_read_only_during_the_post_fails_the_store_and_says_so(self):
        # The settings folder turns read-only while the webhook holds the
        # post, then it answers 200: the store cannot open the file to write
        # it. That fails the check, named in the debug lines and the status
        # line, and each tick tries the store again, without posting, until
        # the folder can be written.
        with Case() as c:
            conf = os.path.join(c.dir, "conf")
            os.mkdir(conf, 0o700)
            c.settings = os.path.join(conf, "settings.reg")

            def reply(receiver, request, n):
                os.chmod(conf, 0o500)
                return answer(200, "OK", body=b"ok")

            hook = c.receiver(reply)
            settings(c, hook)
            c.add_entries((3, "licence limit reached"), (4, "licence count near its limit"))
            run = c.start(capabilities=False)  # as the unit runs it: file permissions hold
            failure = "Failed to set data for 'lastrecnum'="
            held = run.wait_line(failure, timeout=8, count=3)
            os.chmod(conf, 0o700)
            self.assertTrue(held, run.debug())
            said = f"Cannot write settings file {c.settings}, folder {conf}: Permission denied"
            self.assertEqual(run.text_lines()[:7], ["vantrel timer", "resposene=OK", "statuscode=200", "statustxt=OK",
                                                    "virhe rekisterin aukaisussa" + said + "=", failure, "="],
                             run.debug())
            self.assertTrue(run.wait_note(f"2 new entries, notice delivered; {said}; then failed: "
                                          "Failed to set data for 'lastrecnum'; tried again within ten minutes"),
                            run.notes)
            self.assertTrue(wait_until(lambda: c.stored("lastrecnum") == "dword:00000002", 5), run.debug())
            self.assertTrue(run.wait_note("no new entries; next check after"), run.notes)
            self.assertEqual(run.stop(), 0)
            self.assertEqual(hook.bodies(), [notice(PROBLEMS_TEXT, NAME)], "posted once")
            # The next start finds nothing new.
            run, code = check_once(c, hook)
            self.assertEqual(len(hook.bodies()), 1, run.debug())

    def test_a_journal_that_numbers_again_is_reported_once(self):
        with Case() as c:
            hook = c.receiver()
            settings(c, hook)
            c.add_entries((3, "old 1"), (3, "old 2"))
            run, _ = check_once(c, hook)
            self.assertEqual(c.stored("lastrecnum"), "dword:00000002", run.debug())
            self.assertTrue(c.stored("lastrecpos").startswith('"2:'), c.stored("lastrecpos"))

            # The old journal went on to number 1001, then a new sequence
            # began at 1 (a volatile journal after a reboot).
            c.raise_sequence(1000)
            c.add_entries((3, "old after the check"))
            c.add_entries((3, "new 1"), (4, "new 2"), file="restarted.journal")
            run, _ = check_once(c, hook)
            self.assertEqual(hook.bodies(), [notice(PROBLEMS_TEXT, NAME)] * 2, run.debug())
            self.assertEqual(c.stored("lastrecnum"), "dword:00000002", "the newest entry, of the new sequence")
            run, _ = check_once(c, hook)
            self.assertEqual(len(hook.bodies()), 2, "reported once")
            c.add_entries((3, "new 3"), file="restarted.journal")
            run, _ = check_once(c, hook)
            self.assertEqual(len(hook.bodies()), 3, run.debug())
            self.assertEqual(c.stored("lastrecnum"), "dword:00000003")

    def test_record_numbers_past_31_bits_are_reported_once_and_stored_as_qword(self):
        with Case() as c:
            hook = c.receiver()
            settings(c, hook)
            c.add_entries((3, "before"))
            check_once(c, hook)
            c.raise_sequence(0x7FFFFFFF)
            c.add_entries((3, "past 2^31"))
            for start in range(3):
                run, code = check_once(c, hook)
                self.assertEqual(code, 0)
                self.assertEqual(len(hook.bodies()), 2, f"start {start}: {run.debug()}")
                self.assertEqual(c.stored("lastrecnum"), "hex(b):00,00,00,80,00,00,00,00")

    def test_an_entry_without_a_host_name_is_reported(self):
        with Case() as c:
            hook = c.receiver()
            settings(c, hook)
            c.add_entries((3, "no host"), hostname=None)
            c.add_entries((3, "behind it"))
            run, _ = check_once(c, hook)
            self.assertEqual(hook.bodies(), [notice(PROBLEMS_TEXT, NAME)], run.debug())
            self.assertEqual(c.stored("lastrecnum"), "dword:00000002")
            self.assertFalse([t for t in run.text_lines() if t.startswith("Virhe haussa")], run.debug())


if __name__ == "__main__":
    unittest.main()
