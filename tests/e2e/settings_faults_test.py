#!/usr/bin/env python3
"""The real program with settings it cannot use: values of the wrong type, a
settings file it may not write, one it cannot parse or of no bytes, and
things at the path that are no file at all (a FIFO, a link to a device). A file it cannot use is
never changed: it is compared byte for byte afterwards. A settings path that
is a symbolic link leads to the settings file: that file is used and the link
stays."""
import concurrent.futures
import os
import signal
import time
import unittest

from harness import PROBLEMS_TEXT, START_TEXT, Case, notice, wait_until

NAME = "Kassa"
FAILED = "virhe chat postauksesssa =REST request failed: "
UNSTORED = "Failed to set data for 'lastrecnum'="


def utf16(text, nul=True):
    data = (text + ("\0" if nul else "")).encode("utf-16-le")
    return ",".join(f"{b:02x}" for b in data)


# (row, the value line that replaces the good one, the cycle's failure line
#  or None when the check completes)
ROWS = [
    ("chaturl as dword", '"chaturl"=dword:00000001', "Invalid data type for 'chaturl'="),
    ("chaturl as binary", '"chaturl"=hex:68,74,74,70', "Invalid data type for 'chaturl'="),
    ("chaturl as multi-string", '"chaturl"=hex(7):' + utf16("http://x\0"), "Invalid data type for 'chaturl'="),
    ("chaturl as qword", '"chaturl"=hex(b):01,00,00,00,00,00,00,00', "Invalid data type for 'chaturl'="),
    ("instancename as dword", '"instancename"=dword:00000001', "Invalid data type for 'instancename'="),
    ("instancename as binary", '"instancename"=hex:41,00', "Invalid data type for 'instancename'="),
    ("instancename as multi-string", '"instancename"=hex(7):' + utf16("A\0"),
     "Invalid data type for 'instancename'="),
    ("lastrecnum as a longer string", '"lastrecnum"="42"', "Failed to get data for 'lastrecnum'="),
    ("lastrecnum as an empty string", '"lastrecnum"=""', "Invalid data type for 'lastrecnum'="),
    ("lastrecnum as a qword of 9 bytes", '"lastrecnum"=hex(b):00,00,00,00,00,00,00,00,00',
     "Failed to get data for 'lastrecnum'="),
    ("lastrecnum as 4 binary bytes", '"lastrecnum"=hex:00,00,00,00', "Invalid data type for 'lastrecnum'="),
    ("lastrecnum as expandable string", '"lastrecnum"=hex(2):' + utf16("0"),
     "Invalid data type for 'lastrecnum'="),
    ("lastrecnum as multi-string", '"lastrecnum"=hex(7):' + utf16("0\0"), "Failed to get data for 'lastrecnum'="),
    # These read well: -1 asks for every entry; an expandable chaturl is
    # used as it stands, its %NAME% unexpanded (and escaped on the wire).
    ("lastrecnum ffffffff reads as -1", '"lastrecnum"=dword:ffffffff', None),
    # A record number past 31 bits is stored as a qword, and read back.
    ("lastrecnum as qword", '"lastrecnum"=hex(b):00,00,00,00,00,00,00,00', None),
    ("chaturl as expandable string", "EXPAND", None),
    # The position beside the number is the service's own: one it cannot
    # read is said once and left out; the number alone decides.
    ("lastrecpos as dword", '"lastrecpos"=dword:00000001', None,
     ["lastrecpos not used=it cannot be read; the number 0 alone decides"]),
]


def run_row(row, line):
    with Case() as c:
        hook = c.receiver()
        values = {"chaturl": f'"chaturl"="{hook.url()}"', "instancename": f'"instancename"="{NAME}"',
                  "lastrecnum": '"lastrecnum"=dword:00000000'}
        if line == "EXPAND":
            line = '"chaturl"=hex(2):' + utf16(hook.url("/hooks/%HOOK%"))
        values[line[1:line.index('"', 1)]] = line
        c.write_settings(*values.values())
        c.add_entries((3, "licence limit reached"))
        before = c.settings_bytes()
        run = c.start()
        # A failing check is tried again a second later: two ticks' lines.
        run.wait_for(lambda lines: len(lines) >= 6 or "statustxt=OK" in lines, timeout=5)
        code = run.stop()
        return dict(code=code, lines=run.text_lines(), debug=run.debug(), bodies=hook.bodies(),
                    paths=[q.path for q in hook.requests], changed=c.settings_bytes() != before,
                    stored=c.stored("lastrecnum"), trap=c.trap.targets)


class SettingsFaults(unittest.TestCase):
    def test_values_of_the_wrong_type(self):
        with concurrent.futures.ThreadPoolExecutor(6) as pool:
            results = list(pool.map(lambda row: run_row(*row[:2]), ROWS))
        for (row, _, failure, *said), got in zip(ROWS, results):
            with self.subTest(row):
                self.assertEqual(got["code"], 0)
                self.assertEqual(got["trap"], [])
                if failure:
                    # Every tick fails at the read: nothing posted or stored.
                    cycle = ["vantrel timer", failure, "="]
                    self.assertGreaterEqual(len(got["lines"]), 6, got["debug"])
                    self.assertEqual(got["lines"], (cycle * 3)[:len(got["lines"])], got["debug"])
                    self.assertEqual(got["bodies"], [])
                    self.assertFalse(got["changed"])
                else:
                    self.assertEqual(got["lines"], ["vantrel timer", *(said[0] if said else []), "resposene=OK",
                                                    "statuscode=200", "statustxt=OK"], got["debug"])
                    self.assertEqual(got["bodies"], [notice(PROBLEMS_TEXT, NAME)])
                    self.assertEqual(got["stored"], "dword:00000001")
        self.assertEqual(results[-2]["paths"], ["/hooks/%25HOOK%25"])

    def test_missing_settings_file_is_created_private_and_zero_stored(self):
        with Case() as c:
            settings = os.path.join(c.dir, "new", "folder", "settings.reg")
            c.settings = settings
            run, code, held = c.run_until(lambda r: any(t.startswith(FAILED) for t in r.text_lines()))
            self.assertTrue(held, run.debug())
            self.assertEqual(code, 0)
            # A fresh key: a first run with no URL, so the start notice goes to
            # the built-in webhook (refused by the test's proxy) after 0 was
            # stored.
            self.assertEqual(os.stat(settings).st_mode & 0o777, 0o600)
            self.assertTrue(c.settings_bytes().startswith(b"Windows Registry Editor Version 5.00\n"))
            self.assertEqual(c.stored("lastrecnum"), "dword:00000000")
            self.assertEqual([c.stored(n) for n in ("chaturl", "instancename")], [None, None])
            self.assertEqual([m for m, _ in c.trap.targets], ["CONNECT"])

    def test_settings_file_that_cannot_be_written_is_read_said_and_never_changed(self):
        # As /etc is under the unit's sandbox: the file can be read, not
        # written. Its values are used, the reason is said, the start notice
        # goes out once, and the mark waits in memory, tried at every tick,
        # until a store succeeds.
        def one(row):
            with Case() as c:
                conf = os.path.join(c.dir, "conf")
                os.mkdir(conf, 0o700)
                c.settings = os.path.join(conf, "settings.reg")
                hook = c.receiver()
                c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"')
                c.add_entries((3, "licence limit reached"))
                before = c.settings_bytes()
                taken, says = ((c.settings, "Permission denied") if row == "a read-only file" else
                               (conf, f"folder {conf}: Permission denied"))
                mode = os.stat(taken).st_mode & 0o777
                os.chmod(taken, mode & 0o555)
                run = c.start(capabilities=False)
                stored = run.wait_line(UNSTORED, timeout=10, count=3)
                unchanged = c.settings_bytes() == before
                os.chmod(taken, mode)
                healed = wait_until(lambda: c.stored("lastrecnum") == "dword:00000001", 5)
                code = run.stop()
                return dict(row=row, said=f"Cannot write settings file {c.settings}, {says}", stored=stored,
                            healed=healed, unchanged=unchanged, code=code, lines=run.text_lines(),
                            debug=run.debug(), notes=run.notes, bodies=hook.bodies(), trap=c.trap.targets)

        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            results = list(pool.map(one, ["a read-only file", "a read-only folder"]))
        for got in results:
            with self.subTest(got["row"]):
                self.assertTrue(got["stored"], got["debug"])
                self.assertEqual(got["code"], 0)
                said = "virhe rekisterin aukaisussa" + got["said"] + "="
                lines = got["lines"]
                # The read, which goes on with the values it can read; the
                # start notice; the store. Then each tick: the read and the
                # store.
                self.assertEqual(lines[:8], ["vantrel timer", said, "resposene=OK", "statuscode=200", "statustxt=OK",
                                             said, UNSTORED, "="], got["debug"])
                self.assertEqual(lines[8:13], ["vantrel timer", said, said, UNSTORED, "="], got["debug"])
                self.assertEqual(got["bodies"], [notice(START_TEXT, NAME)], "posted once, with the name")
                self.assertEqual(got["trap"], [])
                self.assertTrue(got["unchanged"])
                self.assertTrue(any(f"1 new entry, start notice delivered; {got['said']}; then failed: "
                                    f"Failed to set data for 'lastrecnum'; tried again within ten minutes" in n
                                    for n in got["notes"]), got["notes"])
                self.assertTrue(got["healed"], got["debug"])
                self.assertEqual(lines[-1], "vantrel timer", "the store succeeded: the check completed")

    def test_corrupt_settings_file_is_traced_and_never_overwritten(self):
        def corrupt(raw, problem):
            with Case() as c:
                hook = c.receiver()
                c.add_entries((3, "licence limit reached"))
                c.write_settings(raw=raw.replace(b"URL", hook.url().encode()))
                before = c.settings_bytes()
                results = []
                for _ in range(2):  # a second start finds it just the same
                    run, code, held = c.run_until(lambda r: any(t.startswith(FAILED) for t in r.text_lines()))
                    results.append((code, held, run.text_lines(), run.debug()))
                return dict(problem=problem, runs=results, path=c.settings, requests=hook.requests,
                            trap=c.trap.targets, changed=c.settings_bytes() != before, files=os.listdir(c.dir))

        header = b"Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\tresk\\vantrel]\n"
        cases = [
            (header + b'"chaturl"="URL"\n"lastrecnum"=dword:xyz\n', "line 5: dword: needs 1 to 8 hex digits"),
            (header + b'"chaturl"="URL\n', "line 4: a quoted string has no closing quote"),
            (b"\x00\x01garbage\n" + header, "line 1: the first line is not"),
            # A save cut short by a full disk: no key to begin afresh.
            (b"", "it is empty (0 bytes)"),
        ]
        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            results = list(pool.map(lambda a: corrupt(*a), cases))
        for got in results:
            with self.subTest(got["problem"]):
                for code, held, lines, debug in got["runs"]:
                    self.assertTrue(held, debug)
                    self.assertEqual(code, 0)
                    # Traced on opening; then a cycle with no first run and the
                    # built-in webhook, which the test's proxy refuses.
                    self.assertEqual(len(lines), 3, debug)
                    self.assertEqual(lines[0], "vantrel timer")
                    opened = "virhe rekisterin aukaisussaCannot read settings file " + got["path"] + ", "
                    self.assertTrue(lines[1].startswith(opened + got["problem"]), debug)
                    self.assertTrue(lines[1].endswith("="), debug)
                    self.assertTrue(lines[2].startswith(FAILED), debug)
                self.assertEqual(got["requests"], [])
                self.assertEqual([m for m, _ in got["trap"]], ["CONNECT", "CONNECT"])
                self.assertFalse(got["changed"])
                self.assertEqual(sorted(got["files"]), [".settings.reg.lock", "journal", "settings.reg"])

    def test_dangling_link_creates_the_file_it_names_and_a_stop_is_honoured(self):
        with Case() as c:
            target = os.path.join(c.dir, "etc", "new", "vantrel.reg")
            os.symlink("etc/new/vantrel.reg", c.settings)
            run = c.start()
            self.assertTrue(run.wait_line("vantrel timer"), run.debug())
            # Stopped during the first check, which ends at once: the process
            # ends within a second (it once spun on the link for ever).
            stopped = time.monotonic()
            run.process.send_signal(signal.SIGTERM)
            run.process.wait(5)
            self.assertLess(time.monotonic() - stopped, 1.0, run.debug())
            self.assertEqual(run.stop(), 0)
            self.assertEqual(os.readlink(c.settings), "etc/new/vantrel.reg")
            self.assertEqual(os.stat(target).st_mode & 0o7777, 0o600)
            # A fresh installation: 0 stored in the new file before the start
            # notice went to the built-in webhook (refused by the test's
            # proxy), unless the stop ended that post before it got there.
            self.assertEqual(c.stored("lastrecnum"), "dword:00000000")
            self.assertIn([m for m, _ in c.trap.targets], ([], ["CONNECT"]))
            self.assertEqual(sorted(os.listdir(c.dir)), ["etc", "journal", "settings.reg"])
            self.assertEqual(sorted(os.listdir(os.path.dirname(target))), [".vantrel.reg.lock", "vantrel.reg"])

    def test_link_to_a_settings_file_rewrites_that_file_and_keeps_the_link(self):
        with Case() as c:
            hook, later_hook = c.receiver(), c.receiver()
            os.mkdir(os.path.join(c.dir, "etc"))
            target = os.path.join(c.dir, "etc", "vantrel.reg")
            os.symlink(target, c.settings)
            c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000')
            os.chmod(target, 0o640)
            c.add_entries((3, "licence limit reached"))
            run, code, held = c.run_until(lambda r: "statustxt=OK" in r.text_lines())
            self.assertTrue(held, run.debug())
            self.assertEqual(code, 0)
            self.assertEqual(hook.bodies(), [notice(PROBLEMS_TEXT, NAME)])
            self.assertEqual(os.readlink(c.settings), target)
            self.assertEqual(os.stat(target).st_mode & 0o7777, 0o640)
            self.assertEqual(c.stored("lastrecnum"), "dword:00000001")
            self.assertEqual(sorted(os.listdir(os.path.join(c.dir, "etc"))), [".vantrel.reg.lock", "vantrel.reg"])

            # An edit of the file is what the next start reads: the link was
            # not replaced by a copy.
            with open(target, "rb") as f:
                text = f.read()
            with open(target, "wb") as f:
                f.write(text.replace(hook.url().encode(), later_hook.url().encode()))
            c.add_entries((4, "licence count near its limit"))
            run, code, held = c.run_until(lambda r: "statustxt=OK" in r.text_lines())
            self.assertTrue(held, run.debug())
            self.assertEqual(later_hook.bodies(), [notice(PROBLEMS_TEXT, NAME)])
            self.assertEqual(len(hook.bodies()), 1)
            self.assertEqual(c.stored("lastrecnum"), "dword:00000002")
            self.assertTrue(os.path.islink(c.settings))

    def test_fifo_or_device_at_the_path_is_never_read(self):
        # (row, makes the thing at the path, what the message says after it)
        rows = [
            ("a FIFO nobody writes to", lambda path: os.mkfifo(path, 0o600), "a FIFO, not a regular file"),
            ("a link to /dev/zero", lambda path: os.symlink("/dev/zero", path),
             "it leads to /dev/zero, a character device, not a regular file"),
        ]

        def one(row, make, says):
            with Case() as c:
                make(c.settings)
                c.add_entries((3, "licence limit reached"))
                before = os.lstat(c.settings)
                run = c.start()
                # The check goes on without settings: the problems notice
                # goes to the built-in webhook.
                held = run.wait_for(lambda lines: any(t.startswith(FAILED) for t in lines))
                peak = run.peak_memory_kib()
                stopped = time.monotonic()
                code = run.stop()
                after = os.lstat(c.settings)
                return dict(row=row, says=says, held=held, code=code, stop_took=time.monotonic() - stopped,
                            peak=peak, lines=run.text_lines(), debug=run.debug(), path=c.settings,
                            same=(before.st_ino, before.st_mode) == (after.st_ino, after.st_mode),
                            trap=c.trap.targets, files=os.listdir(c.dir))

        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            results = list(pool.map(lambda r: one(*r), rows))
        for got in results:
            with self.subTest(got["row"]):
                self.assertTrue(got["held"], got["debug"])
                self.assertEqual(got["code"], 0)
                self.assertLess(got["stop_took"], 2.0)
                self.assertLess(got["peak"], 64 * 1024, "KiB of resident memory at most")
                self.assertEqual(got["lines"][:2], [
                    "vantrel timer",
                    f"virhe rekisterin aukaisussaCannot read settings file {got['path']}, {got['says']}="],
                    got["debug"])
                self.assertTrue(got["lines"][2].startswith(FAILED), got["debug"])
                self.assertEqual([m for m, _ in got["trap"]], ["CONNECT"])
                self.assertTrue(got["same"], "left as it was")
                # No lock file beside something that is no settings file.
                self.assertEqual(sorted(got["files"]), ["journal", "settings.reg"])


if __name__ == "__main__":
    unittest.main()
