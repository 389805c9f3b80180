#!/usr/bin/env python3
"""A wall clock that is wrong loses no entry and reports none twice: which
entries are new goes by the journal's sequences and numbers, never by the
times the entries carry."""
import json
import time
import unittest

from harness import Case
from exactly_once_test import check_once

NAME = "Kello"
HOUR = 3600 * 1000000
OTHER_BOOT = "fedcba9876543210fedcba9876543210"
MORE = "\u2026 ja "


def settings(c, hook, *extra):
    c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000',
                     '"details"=dword:00000001', *extra)


def errors(prefix, count, first=1):
    return [(3, f"{prefix}{i}") for i in range(first, first + count)]


def reported(hook):
    """What each notice reported: the messages it shows (the newest five by
    their times, which may be wrong, so sorted here) and how many entries it
    stands for."""
    notices = []
    for body in hook.bodies():
        lines = json.loads(body)["text"].split("\n")[1:]
        more = int(lines.pop()[len(MORE):].split()[0]) if lines and lines[-1].startswith(MORE) else 0
        notices.append((sorted(line[20:] for line in lines), len(lines) + more))
    return notices


class Clock(unittest.TestCase):
    def checked(self, c, hook, notices):
        """One check; the notices posted by then (the messages each shows, in
        any order, and how many entries it stands for)."""
        run, code = check_once(c, hook)
        self.assertEqual(code, 0, run.debug())
        self.assertEqual(reported(hook), [(sorted(shown), count) for shown, count in notices], run.debug())
        return run

    def test_a_second_sequence_with_its_clock_behind_hides_nothing_above_the_mark(self):
        with Case() as c:
            hook = c.receiver()
            settings(c, hook)
            c.add_entries(*errors("a", 3))
            first = (["a3", "a2", "a1"], 3)
            self.checked(c, hook, [first])
            c.add_entries(*errors("a", 2, 4))
            c.add_entries((4, "b1"), file="second.journal", clock=-2 * HOUR)
            second = (["b1", "a5", "a4"], 3)
            self.checked(c, hook, [first, second])
            c.add_entries(*errors("a", 1, 6))
            self.checked(c, hook, [first, second, (["a6"], 1)])

    def test_a_reboot_with_the_clock_behind_then_set_right(self):
        with Case() as c:
            hook = c.receiver()
            settings(c, hook)
            c.add_entries(*errors("a", 3))
            self.checked(c, hook, [(["a3", "a2", "a1"], 3)])
            c.add_entries(*errors("n", 5), file="rebooted.journal", boot=OTHER_BOOT, clock=-HOUR)
            c.add_entries(*errors("n", 2, 6), file="rebooted.journal", boot=OTHER_BOOT)
            later = (["n7", "n6", "n5", "n4", "n3"], 7)
            self.checked(c, hook, [(["a3", "a2", "a1"], 3), later])
            self.checked(c, hook, [(["a3", "a2", "a1"], 3), later])

    def test_a_mark_written_with_the_clock_ahead_then_a_reboot_with_the_clock_right(self):
        with Case() as c:
            hook = c.receiver()
            settings(c, hook)
            c.add_entries(*errors("a", 3), clock=24 * HOUR)
            self.checked(c, hook, [(["a3", "a2", "a1"], 3)])
            c.add_entries(*errors("n", 10), file="rebooted.journal", boot=OTHER_BOOT)
            later = (["n10", "n9", "n8", "n7", "n6"], 10)
            self.checked(c, hook, [(["a3", "a2", "a1"], 3), later])
            self.checked(c, hook, [(["a3", "a2", "a1"], 3), later])

    def test_a_position_edited_by_hand_leaves_the_number_to_decide(self):
        # A journal cursor, a form the service never wrote, edited in beside
        # the number to name another sequence, of this boot or another, with
        # a time a year ahead or a year behind.
        for years, other_boot in ((1, False), (-1, False), (1, True)):
            with self.subTest(years=years, other_boot=other_boot), Case() as c:
                hook = c.receiver()
                realtime = time.time_ns() // 1000 + years * 365 * 24 * HOUR
                boot = "8" * 32 if other_boot else c.boot_id
                cursor = (f"s={'9' * 32};i=3;b={boot};m={HOUR:x};t={realtime:x};x=1")
                c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"',
                                 '"lastrecnum"=dword:00000003', f'"lastrecpos"="{cursor}"',
                                 '"details"=dword:00000001')
                c.add_entries(*errors("a", 4))
                run = self.checked(c, hook, [(["a4"], 1)])
                self.assertEqual([line for line in run.text_lines() if line.startswith("lastrecpos")],
                                 ["lastrecpos not used=it cannot be read; the number 3 alone decides"])
                run = self.checked(c, hook, [(["a4"], 1)])
                self.assertFalse([line for line in run.text_lines() if line.startswith("lastrecpos")])

if __name__ == "__main__":
    unittest.main()
