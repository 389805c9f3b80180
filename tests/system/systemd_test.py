#!/usr/bin/env python3
"""The Debian package on a booted Debian machine with a real systemd and
journald: installed with apt, the service installed, started, restarted,
killed, stopped, upgraded, removed and purged as an administrator would,
with the chat webhook inside the machine.

Environment (scripts/lib/system_tests.sh sets it):
  VANTREL_SYSTEM_ROOT         the cached Debian root (never written)
  VANTREL_SYSTEM_DEB          the package
  VANTREL_SYSTEM_UPGRADE_DEB  the same package with a higher version
  VANTREL_SYSTEM_WORK         a folder for the machines' overlays
"""
import collections
import json
import os
import re
import signal
import subprocess
import sys
import time
import unittest

from machine import PATH, Machine

HERE = os.path.dirname(os.path.abspath(__file__))
HARNESS = os.path.join(HERE, "..", "e2e", "harness.py")  # its webhook runs in the machine
SOURCE = "Pervasive SQL"
SETTINGS = "/var/lib/vantrel/settings.reg"
UNIT = "/etc/systemd/system/VantrelSrv.service"
WANTS = "/etc/systemd/system/multi-user.target.wants/VantrelSrv.service"


def wait_for(what, probe, seconds=30):
    """probe's first true answer within the time, polled; fails naming what."""
    deadline = time.monotonic() + seconds
    while True:
        answer = probe()
        if answer:
            return answer
        if time.monotonic() > deadline:
            raise AssertionError(f"waited {seconds} s for {what}")
        time.sleep(0.1)


class BootedCase(unittest.TestCase):
    """A case on a machine booted from the root that ROOT names (Debian 12
    unless a class says otherwise), with the helpers every case uses."""
    ROOT = "VANTREL_SYSTEM_ROOT"
    machines = 0

    def setUp(self):
        names = (self.ROOT, "VANTREL_SYSTEM_DEB", "VANTREL_SYSTEM_UPGRADE_DEB", "VANTREL_SYSTEM_WORK")
        if not all(os.environ.get(n) for n in names):
            self.skipTest("run by scripts/lib/system_tests.sh")
        BootedCase.machines += 1
        self.m = Machine(os.environ[self.ROOT], os.environ["VANTREL_SYSTEM_WORK"], BootedCase.machines)
        self.addCleanup(self.m.close)
        self.addCleanup(self._show_on_failure)

    def _show_on_failure(self):
        # What the service said, for a case that failed.
        result = self._outcome.result
        if self.m.leader and any(test is self for test, _ in result.failures + result.errors):
            journal = self.m.run("journalctl", "--no-pager", "-n", "60", "-u", "VantrelSrv", check=False)
            print(f"\n-- the service's journal:\n{journal.stdout}", file=sys.stderr)

    # -- the machine, the package and the webhook -----------------------------

    def install_package(self, deb):
        self.m.put(deb, "/root/" + os.path.basename(deb))
        self.m.run("apt-get", "install", "-y", "-q", "--no-install-recommends", "/root/" + os.path.basename(deb))

    def webhook(self, name, host="127.0.0.1", hold=False, hold_until=None, tls=False):
        """Starts a webhook receiver inside the machine; its URL. hold_until:
        each post is answered once that file of the machine exists. tls:
        https, with a self-signed certificate."""
        self.m.put(HARNESS, "/srv/harness.py")
        self.m.run("systemd-run", "--unit", "webhook-" + name, "--service-type=exec",
                   "python3", "/srv/harness.py", "webhook", f"/srv/{name}.port", f"/srv/{name}.notices",
                   "--host", host, *(["--hold"] if hold else []),
                   *(["--hold-until", hold_until] if hold_until else []), *(["--tls"] if tls else []))
        port = wait_for(f"the webhook {name} to listen",
                        lambda: os.path.exists(self.m.path(f"/srv/{name}.port")) and
                        self.m.read(f"/srv/{name}.port"))
        shown = f"[{host}]" if ":" in host else host
        return ("https" if tls else "http") + f"://{shown}:{port}/hooks/{name}"

    def notices(self, name):
        """The texts the webhook has received, in order."""
        try:
            lines = self.m.read(f"/srv/{name}.notices").splitlines()
        except FileNotFoundError:
            return []
        return [json.loads(line)["text"] for line in lines]

    def wait_for_notices(self, name, count):
        return wait_for(f"{count} notices at the webhook {name}",
                        lambda: len(self.notices(name)) >= count and self.notices(name))

    def set_value(self, line):
        """Adds one value line to the settings file, as the README does."""
        with open(self.m.path(self.m.run("realpath", SETTINGS).stdout.strip()), "a", encoding="utf-8") as f:
            f.write(line + "\n")

    def install_service(self, name, url, *value_lines):
        self.m.run("vantrel", "/install", name, "/silent")
        self.set_value(f'"chaturl"="{url}"')
        for line in value_lines:
            self.set_value(line)

    def host_name(self):
        return self.m.run("hostname").stdout.strip()

    def start_notice(self, name):
        return f"PSQL lisenssivalvonta käynnistetty {name}, koneen nimi {self.host_name()}"

    def problems_notice(self, name):
        return f"Mahdollisia PSQL lisenssiongelmia {name}, koneen nimi {self.host_name()}"

    # -- the service ------------------------------------------------------------

    def show(self, prop):
        return self.m.run("systemctl", "show", "-p", prop, "--value", "VantrelSrv.service").stdout.strip()

    def main_pid(self):
        return int(self.show("MainPID"))

    def wait_for_check(self, after_status="", pid=None):
        """Waits until the running service has finished a check since the
        status after_status (by the process pid when given); its status."""
        def done():
            status = self.show("StatusText")
            return (status.startswith("Last check") and status != after_status and
                    (pid is None or self.main_pid() == pid) and status)
        return wait_for("a finished check", done)

    def restart_and_wait_for_check(self, command="restart"):
        """Starts (or restarts) the service; the status of its first check."""
        before_status, before_pid = self.show("StatusText"), self.main_pid()
        self.m.run("systemctl", command, "VantrelSrv.service")
        pid = self.main_pid()
        self.assertNotEqual(pid, before_pid)
        return self.wait_for_check(before_status, pid)

    def write_entry(self, how, message, tag=SOURCE, uid=None):
        """An error entry written the way a daemon writes it: through
        syslog(3) (logger) or through its standard output (systemd-cat). The
        writer runs as a unit of the machine, as a daemon does: journald
        dropped now and then what a process entered from outside wrote to
        it (3 of 10 lines after a filler), and even a unit's line went missing
        now and then right after thousands of others: a line that has not
        come within twenty seconds (they come within a second) is written
        once more, at most three times in all."""
        writer = ["logger", "-t", tag, "-p", "err", message] if how == "syslog" else \
            ["systemd-cat", "-t", tag, "-p", "err", "echo", message]

        def arrived():
            # The newest lines, enough of them that a booting machine's own
            # lines written meanwhile do not push the entry out.
            return message in self.m.run("journalctl", "--no-pager", "-o", "cat", "-n", "2000").stdout

        for attempt in range(3):
            self.m.run("systemd-run", "--wait", "--quiet", "--pipe", *([f"--uid={uid}"] if uid else []), *writer)
            try:
                return wait_for(f"the entry {message!r} in the journal", arrived, seconds=20)
            except AssertionError:
                if attempt == 2:
                    raise

    def service_log(self):
        return self.m.run("journalctl", "--no-pager", "-o", "cat", "-u", "VantrelSrv").stdout

    def assertNoFailureLines(self):
        log = self.service_log()
        for line in log.splitlines():
            self.assertFalse(re.match(r"(Virhe haussa|virhe )", line), f"the service said {line!r}:\n{log}")

    def stored_number(self):
        text = self.m.read(self.m.run("realpath", SETTINGS).stdout.strip())
        found = re.search(r'^"lastrecnum"=(dword|hex\(b\)):(\S+)', text, re.M)
        self.assertIsNotNone(found, text)
        if found.group(1) == "dword":
            return int(found.group(2), 16)
        return int.from_bytes(bytes.fromhex(found.group(2).replace(",", "")), "little")

    @staticmethod
    def entries_of(notice_lines):
        """The messages of the entries under a notice (date, time, message)."""
        return [line.split(" ", 2)[2] for line in notice_lines[1:]]


class SystemdMachine(BootedCase):
    """The package on Debian 12, as an administrator handles it."""

    def test_installed_as_the_readme_says_it_posts_shows_its_status_and_comes_back_after_a_kill(self):
        self.m.start()
        self.install_package(os.environ["VANTREL_SYSTEM_DEB"])
        # The settings kept under /etc through a link made before /install.
        self.m.run("mkdir", "-p", "/etc/vantrel")
        self.m.run("ln", "-s", "/etc/vantrel/settings.reg", SETTINGS)
        installed = self.m.run("vantrel", "/install", "Kontti 1")
        self.assertIn("Service installed successfully", installed.stderr)
        self.set_value(f'"chaturl"="{self.webhook("a")}"')
        tested = self.m.run("vantrel", "/test", check=False)
        self.assertEqual(tested.returncode, 0, tested.stdout + tested.stderr)
        self.assertEqual(self.notices("a"),
                         [f"PSQL lisenssivalvonnan testiviesti Kontti 1, koneen nimi {self.host_name()}"])

        self.m.run("systemctl", "start", "VantrelSrv")
        self.assertEqual(self.wait_for_notices("a", 2)[1], self.start_notice("Kontti 1"))
        status = self.wait_for_check()
        self.assertRegex(status, r"^Last check \d{4}-\d\d-\d\d \d\d:\d\d:\d\d: .*start notice delivered; "
                                 r"next check after ")
        shown = self.m.run("systemctl", "status", "--no-pager", "VantrelSrv").stdout
        self.assertIn(f'Status: "{status}"', shown)
        # The mark is stored where the link leads; the link stays.
        self.assertIn('"lastrecnum"=', self.m.read("/etc/vantrel/settings.reg"))
        self.assertTrue(os.path.islink(self.m.path(SETTINGS)))
        self.assertNoFailureLines()

        security = self.m.run("systemd-analyze", "security", "--no-pager", "VantrelSrv.service").stdout
        level = re.search(r"Overall exposure level for VantrelSrv\.service: (\d+\.\d+)", security)
        self.assertIsNotNone(level, security)
        self.assertLessEqual(float(level.group(1)), 2.0, security)

        killed = self.main_pid()
        self.m.run("systemctl", "kill", "-s", "KILL", "VantrelSrv")
        wait_for("systemd to start the killed service again",
                 lambda: self.show("ActiveState") == "active" and self.main_pid() not in (0, killed), seconds=60)
        self.wait_for_check(status, self.main_pid())
        self.assertEqual(len(self.notices("a")), 2, "the start notice was posted again")

    def test_the_package_brings_the_certificate_authorities_an_https_post_needs(self):
        self.m.start()
        self.assertNotEqual(self.m.run("dpkg", "-s", "ca-certificates", check=False).returncode, 0,
                            "the machine starts without them")
        # Installed without recommends, as install_package does: libcurl4
        # only recommends them, and without them every https post fails
        # with "(77) Problem with the SSL CA cert".
        self.install_package(os.environ["VANTREL_SYSTEM_DEB"])
        self.assertIn("Status: install ok installed", self.m.run("dpkg", "-s", "ca-certificates").stdout)
        self.install_service("Kontti 7", self.webhook("g", tls=True))
        tested = self.m.run("vantrel", "/test", check=False)
        self.assertEqual(tested.returncode, 0, tested.stdout + tested.stderr)
        self.assertNotIn("(77)", tested.stdout)
        self.assertEqual(self.notices("g"),
                         [f"PSQL lisenssivalvonnan testiviesti Kontti 7, koneen nimi {self.host_name()}"])

    def test_settings_moved_under_etc_after_install_are_read_and_said_not_silent(self):
        self.m.start()
        self.install_package(os.environ["VANTREL_SYSTEM_DEB"])
        self.install_service("Kontti 8", self.webhook("h"))
        # Moved under /etc and linked back after /install: the unit's
        # sandbox keeps /etc read-only (no ReadWritePaths= for it).
        self.m.run("mkdir", "-p", "/etc/vantrel")
        self.m.run("mv", SETTINGS, "/etc/vantrel/settings.reg")
        self.m.run("ln", "-s", "/etc/vantrel/settings.reg", SETTINGS)
        before = self.m.read("/etc/vantrel/settings.reg")
        self.m.run("systemctl", "start", "VantrelSrv")
        # The values are read: the start notice names the instance and goes
        # to the configured webhook, once.
        self.assertEqual(self.wait_for_notices("h", 1), [self.start_notice("Kontti 8")])
        said = (f"Cannot write settings file {SETTINGS}, it leads to /etc/vantrel/settings.reg, "
                "Read-only file system")
        status = wait_for("the status line to name the settings",
                          lambda: said in self.show("StatusText") and self.show("StatusText"))
        self.assertIn("Failed to set data for 'lastrecnum'", status)
        wait_for("the debug line naming the path", lambda: f"virhe rekisterin aukaisussa{said}=" in self.service_log())
        self.assertEqual(self.m.read("/etc/vantrel/settings.reg"), before, "never written")
        # The ticks go on, each trying the store; the notice is not posted again.
        wait_for("a few more ticks", lambda: self.service_log().count("Failed to set data for 'lastrecnum'=") >= 3)
        self.assertEqual(len(self.notices("h")), 1)

        # The drop-in the README gives: the next start stores the mark (a
        # restart before a store succeeds posts the start notice once more).
        self.m.run("mkdir", "-p", "/etc/systemd/system/VantrelSrv.service.d")
        with open(self.m.path("/etc/systemd/system/VantrelSrv.service.d/etc.conf"), "w") as f:
            f.write("[Service]\nReadWritePaths=/etc/vantrel\n")
        self.m.run("systemctl", "daemon-reload")
        status = self.restart_and_wait_for_check()
        self.assertNotIn("Cannot write", status)
        self.assertEqual(self.stored_number(), 0)
        self.assertEqual(len(self.notices("h")), 2)
        self.restart_and_wait_for_check()
        self.assertEqual(len(self.notices("h")), 2)

    def test_a_store_that_fails_after_the_200_is_said_and_stored_at_the_next_tick(self):
        self.m.start()
        self.install_package(os.environ["VANTREL_SYSTEM_DEB"])
        # The settings linked before /install to a folder of their own, which
        # /install lets the unit write.
        self.m.run("mkdir", "-p", "/srv/conf")
        self.m.run("ln", "-s", "/srv/conf/settings.reg", SETTINGS)
        self.install_service("Kontti 9", self.webhook("i", hold_until="/srv/answer"), '"lastrecnum"=dword:00000000')
        self.write_entry("stdout", "Licence limit reached")
        self.m.run("systemctl", "start", "VantrelSrv")
        self.wait_for_notices("i", 1)
        # The webhook holds the post; the folder turns read-only; then 200.
        self.m.run("chmod", "0500", "/srv/conf")
        self.m.run("touch", "/srv/answer")
        said = f"Cannot write settings file {SETTINGS}, it leads to /srv/conf/settings.reg, folder /srv/conf: " \
               "Permission denied"
        status = wait_for("the status line to name the failed store",
                          lambda: "Failed to set data" in self.show("StatusText") and self.show("StatusText"))
        self.assertIn(f"1 new entry, notice delivered; {said}; then failed: Failed to set data for 'lastrecnum'",
                      status)
        log = self.service_log()
        self.assertIn(f"virhe rekisterin aukaisussa{said}=", log)
        self.assertIn("Failed to set data for 'lastrecnum'=", log)
        self.assertEqual(self.stored_number(), 0)

        # Writable again: the next tick stores the mark, without a post.
        self.m.run("chmod", "0700", "/srv/conf")
        status = wait_for("the store at the next tick",
                          lambda: "no new entries; next check after" in self.show("StatusText") and
                          self.show("StatusText"))
        self.assertGreater(self.stored_number(), 0)
        self.assertEqual(len(self.notices("i")), 1)
        # A restart posts nothing again.
        self.restart_and_wait_for_check()
        self.assertEqual(len(self.notices("i")), 1)

    def test_entries_of_the_engine_are_reported_once_however_they_reach_the_journal(self):
        self.m.start()
        self.install_package(os.environ["VANTREL_SYSTEM_DEB"])
        # IPv6 to the webhook, and the entries under the notice.
        self.install_service("Kontti 2", self.webhook("b", host="::1"), '"details"=dword:00000001')
        self.m.run("systemctl", "start", "VantrelSrv")
        self.assertEqual(self.wait_for_notices("b", 1), [self.start_notice("Kontti 2")])
        self.wait_for_check()

        # syslog(3) with the blank in its tag: journald keeps no identifier,
        # only the message "Pervasive SQL: License limit reached".
        self.write_entry("syslog", "License limit reached")
        self.write_entry("stdout", "Too many users")
        self.write_entry("syslog", f"{SOURCE}: another program's words", tag="other")
        self.restart_and_wait_for_check()
        notice = self.wait_for_notices("b", 2)[1].split("\n")
        self.assertEqual(notice[0], self.problems_notice("Kontti 2"))
        self.assertCountEqual(self.entries_of(notice), ["License limit reached", "Too many users"])

        status = self.restart_and_wait_for_check()
        self.assertIn(": no new entries; ", status)
        self.assertEqual(len(self.notices("b")), 2)
        self.assertNoFailureLines()

    def test_journald_restarted_under_the_waiting_service_loses_nothing(self):
        self.m.start()
        self.install_package(os.environ["VANTREL_SYSTEM_DEB"])
        self.install_service("Kontti 6", self.webhook("f"), '"details"=dword:00000001')
        self.m.run("systemctl", "start", "VantrelSrv")
        self.wait_for_notices("f", 1)
        self.wait_for_check()
        waiting = self.main_pid()
        self.m.run("systemctl", "restart", "systemd-journald")
        self.write_entry("stdout", "Written after journald restarted")
        self.assertEqual((self.show("ActiveState"), self.main_pid()), ("active", waiting))
        self.restart_and_wait_for_check()
        notice = self.wait_for_notices("f", 2)[1].split("\n")
        self.assertEqual(self.entries_of(notice), ["Written after journald restarted"])
        self.assertNoFailureLines()

    def test_a_volatile_journal_after_a_reboot_has_its_new_entries_reported_once(self):
        self.m.mount()
        os.makedirs(self.m.path("/etc/systemd/journald.conf.d"))
        with open(self.m.path("/etc/systemd/journald.conf.d/volatile.conf"), "w") as f:
            # No rate limit: the filler below would otherwise have journald
            # drop the entries written after it.
            f.write("[Journal]\nStorage=volatile\nRateLimitIntervalSec=0\n")
        self.m.boot()
        self.install_package(os.environ["VANTREL_SYSTEM_DEB"])
        self.install_service("Kontti 3", self.webhook("c"), '"details"=dword:00000001')
        self.m.run("systemctl", "start", "VantrelSrv")
        self.wait_for_notices("c", 1)
        self.wait_for_check()
        # Many entries before the reported one, so that the next boot's
        # journal, which numbers from 1 again, stays below the mark.
        self.m.run("sh", "-c", "seq 3000 | systemd-cat -t filler")
        self.write_entry("stdout", "Before the reboot")
        self.restart_and_wait_for_check()
        self.assertEqual(self.entries_of(self.wait_for_notices("c", 2)[1].split("\n")), ["Before the reboot"])
        mark = self.stored_number()

        self.m.reboot()
        self.assertEqual(self.show("ActiveState"), "active")  # enabled: started at boot
        self.wait_for_check()
        # The webhook went with the old boot: a new one, and the URL changed
        # while the service is stopped.
        self.m.run("systemctl", "stop", "VantrelSrv")
        url = self.webhook("c2")
        self.m.run("sed", "-i", f's|^"chaturl"=.*|"chaturl"="{url}"|', SETTINGS)
        self.write_entry("stdout", "After the reboot")
        cursor = self.m.run("journalctl", "-o", "export", "-n", "1", "-t", SOURCE).stdout
        number = int(re.search(r"^__CURSOR=.*;i=([0-9a-f]+);", cursor, re.M).group(1), 16)
        self.assertLess(number, mark, "the new boot's entry is not below the mark: the case shows nothing")
        self.restart_and_wait_for_check("start")
        self.assertEqual(self.entries_of(self.wait_for_notices("c2", 1)[0].split("\n")), ["After the reboot"])
        self.restart_and_wait_for_check()
        self.assertEqual(len(self.notices("c2")), 1)

    def test_a_stop_while_the_webhook_holds_the_post_ends_the_service_within_two_seconds(self):
        self.m.start()
        self.install_package(os.environ["VANTREL_SYSTEM_DEB"])
        self.install_service("Kontti 4", self.webhook("d", hold=True))
        self.m.run("systemctl", "start", "VantrelSrv")
        self.wait_for_notices("d", 1)  # received, never answered
        started = time.monotonic()
        self.m.run("systemctl", "--no-block", "stop", "VantrelSrv")
        wait_for("the service to stop", lambda: self.show("ActiveState") == "inactive")
        stopped = time.monotonic() - started
        self.assertLess(stopped, 2.0, f"the stop took {stopped:.1f} s")

    def test_the_package_upgraded_keeps_the_mark_removed_leaves_no_unit_purged_leaves_no_settings(self):
        self.m.start()
        self.install_package(os.environ["VANTREL_SYSTEM_DEB"])
        # Through a proxy given in a drop-in: the webhook's own host has no
        # address inside the machine, so only the proxy can carry the post.
        proxy = self.webhook("e").split("/hooks/")[0]
        self.install_service("Kontti 5", "http://chat.invalid/hooks/e")
        os.makedirs(self.m.path(UNIT + ".d"))
        with open(self.m.path(UNIT + ".d/proxy.conf"), "w") as f:
            f.write(f"[Service]\nEnvironment=http_proxy={proxy}\n")
        self.m.run("systemctl", "daemon-reload")
        self.m.run("systemctl", "start", "VantrelSrv")
        self.wait_for_notices("e", 1)
        self.wait_for_check()
        self.write_entry("stdout", "Before the upgrade")
        self.restart_and_wait_for_check()
        self.wait_for_notices("e", 2)
        mark = self.stored_number()

        before_status, before_pid = self.show("StatusText"), self.main_pid()
        self.install_package(os.environ["VANTREL_SYSTEM_UPGRADE_DEB"])
        version = self.m.run("dpkg-query", "-W", "-f", "${Version}", "vantrel").stdout
        self.assertTrue(version.endswith("+1"), version)
        pid = self.main_pid()
        self.assertNotEqual(pid, before_pid, "the upgrade did not restart the service")
        self.wait_for_check(before_status, pid)
        self.assertEqual(self.stored_number(), mark)
        self.assertEqual(len(self.notices("e")), 2)

        self.m.run("apt-get", "remove", "-y", "-q", "vantrel")
        for path in (UNIT, WANTS, "/usr/sbin/vantrel"):
            self.assertFalse(os.path.lexists(self.m.path(path)), path)
        self.assertEqual(self.show("ActiveState"), "inactive")
        listed = self.m.run("systemctl", "list-unit-files", "--no-legend", "VantrelSrv.service", check=False)
        self.assertEqual(listed.stdout.strip(), "")
        self.assertTrue(os.path.exists(self.m.path(SETTINGS)), "removing the package removed the settings")

        self.m.run("apt-get", "purge", "-y", "-q", "vantrel")
        self.assertFalse(os.path.lexists(self.m.path("/var/lib/vantrel")))

    def test_the_package_in_a_chroot_without_systemd_installs_upgrades_removes_and_purges(self):
        self.m.mount()  # never booted: nothing runs systemd

        def dpkg(*args):
            return subprocess.run(["chroot", self.m.merged, "env", "-i", "PATH=" + PATH, "dpkg", *args],
                                  capture_output=True, text=True, timeout=120)

        def unit_for(program):
            # What /install writes, as far as the package's scripts look.
            os.makedirs(self.m.path(os.path.dirname(WANTS)), exist_ok=True)
            with open(self.m.path(UNIT), "w") as f:
                f.write(f"[Unit]\nDescription=Vantrel\n\n[Service]\nType=notify\nExecStart={program}\n\n"
                        "[Install]\nWantedBy=multi-user.target\n")
            os.symlink(UNIT, self.m.path(WANTS))

        for deb in (os.environ["VANTREL_SYSTEM_DEB"], os.environ["VANTREL_SYSTEM_UPGRADE_DEB"]):
            self.m.put(deb, "/root/" + os.path.basename(deb))
        first, upgrade = ("/root/" + os.path.basename(os.environ[n])
                          for n in ("VANTREL_SYSTEM_DEB", "VANTREL_SYSTEM_UPGRADE_DEB"))
        # What the package depends on beyond the root, as apt would install
        # it first: the certificate authorities, from apt's cache.
        cached = ["/var/cache/apt/archives/" + f for f in os.listdir(self.m.path("/var/cache/apt/archives"))
                  if f.endswith(".deb")]
        self.assertTrue(cached, "the root keeps ca-certificates in apt's cache")
        steps = [("its dependencies", lambda: dpkg("-i", *cached)),
                 ("install", lambda: dpkg("-i", first)),
                 ("/install", lambda: unit_for("/usr/sbin/vantrel")),
                 ("upgrade", lambda: dpkg("-i", upgrade)),
                 ("remove", lambda: dpkg("-r", "vantrel")),
                 ("remove again", lambda: dpkg("-r", "vantrel")),
                 ("purge", lambda: dpkg("-P", "vantrel")),
                 ("purge again", lambda: dpkg("-P", "vantrel"))]
        for name, step in steps:
            done = step()
            if done is not None:
                self.assertEqual(done.returncode, 0, f"{name}: {done.stdout}{done.stderr}")
            if name == "upgrade":
                self.assertTrue(os.path.exists(self.m.path(UNIT)))
        for path in (UNIT, WANTS, "/var/lib/vantrel"):
            self.assertFalse(os.path.lexists(self.m.path(path)), path)

        # A unit made for another copy of the program (a build folder's)
        # is not the package's to remove.
        self.assertEqual(dpkg("-i", first).returncode, 0)
        unit_for("/home/dev/vantrel/build/linux/vantrel")
        self.assertEqual(dpkg("-r", "vantrel").returncode, 0)
        self.assertTrue(os.path.islink(self.m.path(WANTS)))


class JournaldCases:
    """The service against the files the machine's own journald writes,
    run on Debian 12 (systemd 252) and Debian 13 (systemd 257). A user's
    file and the system's are open for writing side by side; on Debian 13
    they share one sequence."""

    USER = 1000

    def boot_with_user(self):
        """Boots the machine with a user (uid 1000) and no rate limit in
        journald, so that what the writers below write is kept."""
        self.m.mount()
        for path, line in (("/etc/passwd", f"writer:x:{self.USER}:{self.USER}::/nonexistent:/usr/sbin/nologin"),
                           ("/etc/group", f"writer:x:{self.USER}:")):
            with open(self.m.path(path), "a") as f:
                f.write(line + "\n")
        os.makedirs(self.m.path("/etc/systemd/journald.conf.d"))
        with open(self.m.path("/etc/systemd/journald.conf.d/no-limit.conf"), "w") as f:
            f.write("[Journal]\nRateLimitIntervalSec=0\n")
        self.m.boot()

    def start_service(self, name, hook, *values, traced=False):
        """The package installed and the service started (the test copy of
        the program when traced); waits for its first check."""
        self.boot_with_user()
        self.install_package(os.environ["VANTREL_SYSTEM_DEB"])
        self.install_service(name, self.webhook(hook), *values)
        # Restarted again and again below: no limit on starts.
        os.makedirs(self.m.path(UNIT + ".d"), exist_ok=True)
        with open(self.m.path(UNIT + ".d/test.conf"), "w") as f:
            f.write("[Unit]\nStartLimitIntervalSec=0\n")
            if traced:
                self.m.put(os.environ["VANTREL_SYSTEM_TRACED"], "/usr/local/sbin/vantrel-traced")
                f.write("[Service]\nExecStart=\nExecStart=/usr/local/sbin/vantrel-traced\n"
                        "Environment=VANTREL_TEST_TRACE_RECORDS=1\n")
        self.m.run("systemctl", "daemon-reload")
        self.m.run("systemctl", "start", "VantrelSrv")
        self.assertEqual(self.wait_for_notices(hook, 1), [self.start_notice(name)])
        self.wait_for_check()

    def user_file(self):
        machine_id = self.m.read("/etc/machine-id").strip()
        return self.m.path(f"/var/log/journal/{machine_id}/user-{self.USER}.journal")

    def test_a_users_older_line_in_the_shared_sequence_posts_the_notice_once_over_three_restarts(self):
        self.start_service("Kontti 10", "j", '"details"=dword:00000001')
        self.write_entry("stdout", "A user's line", tag="user-program", uid=self.USER)
        self.assertTrue(os.path.exists(self.user_file()), "journald made no file of the user: the case shows nothing")
        for n in (1, 2, 3):
            self.write_entry("stdout", f"Error {n} of three")
        self.restart_and_wait_for_check()
        notice = self.wait_for_notices("j", 2)[1].split("\n")
        self.assertEqual(notice[0], self.problems_notice("Kontti 10"))
        self.assertCountEqual(self.entries_of(notice), [f"Error {n} of three" for n in (1, 2, 3)])

        for synced in (False, True):
            if synced:
                self.m.run("journalctl", "--sync")
            status = self.restart_and_wait_for_check()
            self.assertIn(": no new entries; ", status)
            self.assertEqual(len(self.notices("j")), 2, f"posted again ({'after' if synced else 'without'} a sync)")
        self.assertNoFailureLines()

    # -- the service's records against journalctl's ---------------------------------

    def reported(self):
        """The messages of the records the service's checks took, by the
        cursor of the service's line that traced each."""
        out = self.m.run("journalctl", "-u", "VantrelSrv", "-o", "json", "--all", "--no-pager").stdout
        lines = (json.loads(line) for line in out.splitlines())
        return {entry["__CURSOR"]: entry["MESSAGE"][len(" Message : "):] for entry in lines
                if isinstance(entry.get("MESSAGE"), str) and entry["MESSAGE"].startswith(" Message : ")}

    def selected_by_journalctl(self):
        """The messages of the entries journalctl finds in the machine's
        journal folder that are the source's errors and warnings: its
        identifier, or syslog without one and the message after the source's
        name and ": "."""
        machine_id = self.m.read("/etc/machine-id").strip()
        out = self.m.run("journalctl", "-D", f"/var/log/journal/{machine_id}", "-o", "json", "--all",
                         "--no-pager", timeout=300).stdout
        selected = []
        for line in out.splitlines():
            entry = json.loads(line)
            if entry.get("PRIORITY") not in ("0", "1", "2", "3", "4"):
                continue
            message = entry.get("MESSAGE")
            if not isinstance(message, str):
                continue
            if entry.get("SYSLOG_IDENTIFIER") == SOURCE:
                selected.append(message)
            elif ("SYSLOG_IDENTIFIER" not in entry and entry.get("_TRANSPORT") == "syslog" and
                  message.startswith(SOURCE + ": ")):
                selected.append(message[len(SOURCE) + 2:])
        return selected

    def start_writer(self, unit, script, uid=None):
        """Starts a shell script as a unit of the machine (as a daemon
        writes), running beside what follows."""
        self.m.run("systemd-run", "--quiet", "--unit", unit, *([f"--uid={uid}"] if uid else []),
                   "sh", "-c", script)

    def wait_for_writer(self, unit):
        wait_for(f"the writer {unit} to end",
                 lambda: self.m.run("systemctl", "is-active", unit, check=False).stdout.strip()
                 in ("inactive", "failed"), seconds=120)

    def test_the_records_each_check_took_are_what_journalctl_selects_none_twice(self):
        self.start_service("Kontti 11", "k", traced=True)

        # Every round: a user writes the source's entries (its own file, a
        # burst from one stream) while the system's programs write: syslog(3)
        # with the blank in the tag, systemd-cat, sd_journal_send with a field
        # past the compression threshold, other programs, and priorities
        # never selected. Meanwhile the service is restarted, and the journal
        # rotated right after each restart but the first, while the new
        # process starts its check; between rounds it is rotated, and once
        # the files already read are vacuumed. journalctl's selection (and the
        # service's trace) is taken before the vacuum.
        selected, reported = set(), {}
        long_text = "x" * 3000
        for r, burst, restarts in ((1, 60, 1), (2, 60, 2), (3, 3000, 5)):
            user = (f"seq 1 {burst} | sed 's/^/user {r}-/' | systemd-cat -t '{SOURCE}' -p err; "
                    f"logger -t '{SOURCE}' -p warning 'user syslog {r}'")
            system = (f"for i in $(seq 1 30); do logger -t '{SOURCE}' -p err \"syslog {r}-$i\"; "
                      f"echo \"stdout {r}-$i\" | systemd-cat -t '{SOURCE}' -p warning; "
                      f"echo \"info {r}-$i\" | systemd-cat -t '{SOURCE}' -p info; "
                      f"logger -t other -p err \"{SOURCE}: other {r}-$i\"; done; "
                      f"printf 'MESSAGE=long {r} {long_text}\\nPRIORITY=3\\nSYSLOG_IDENTIFIER={SOURCE}\\n"
                      f"BLOB={long_text}\\n' | logger --journald")
            self.start_writer(f"user-writer-{r}", user, uid=self.USER)
            self.start_writer(f"system-writer-{r}", system)
            for n in range(restarts):
                before_status = self.show("StatusText")
                self.m.run("systemctl", "restart", "VantrelSrv")
                if n:
                    self.m.run("journalctl", "--rotate")
                self.wait_for_check(before_status, self.main_pid())
            self.wait_for_writer(f"user-writer-{r}")
            self.wait_for_writer(f"system-writer-{r}")
            self.restart_and_wait_for_check()
            selected |= set(self.selected_by_journalctl())
            self.m.run("journalctl", "--rotate")
            if r == 2:
                self.restart_and_wait_for_check()
                selected |= set(self.selected_by_journalctl())
                reported.update(self.reported())
                self.m.run("journalctl", "--vacuum-files=1")
        self.assertTrue(os.path.exists(self.user_file()), "journald made no file of the user: the case shows nothing")
        # The last of the source's entries may wait for one more entry behind
        # it in its file: another program's line in each file, then a check.
        self.write_entry("stdout", "the user's closing line", tag="other", uid=self.USER)
        self.write_entry("stdout", "the system's closing line", tag="other")
        self.restart_and_wait_for_check()
        selected |= set(self.selected_by_journalctl())

        reported.update(self.reported())
        self.assertGreater(len(selected), 3000, "journald kept few of the entries: the case shows little")
        counted = collections.Counter(reported.values())
        self.assertEqual(sorted(m[:40] for m, n in counted.items() if n > 1), [], "reported more than once")
        self.assertEqual(set(counted) - selected, set(), "reported, not in journalctl's selection")
        self.assertEqual(selected - set(counted), set(), "in journalctl's selection, never reported")
        self.assertNoFailureLines()


class JournaldOnDebian12(JournaldCases, BootedCase):
    pass


class JournaldOnDebian13(JournaldCases, BootedCase):
    ROOT = "VANTREL_SYSTEM_ROOT_13"


def interrupted(*_):
    raise KeyboardInterrupt


if __name__ == "__main__":
    if os.environ.get("VANTREL_SYSTEM_WORK"):
        Machine.remove_stale(os.environ["VANTREL_SYSTEM_WORK"])
    # Stopped from outside, the run still shuts down every machine it made.
    signal.signal(signal.SIGTERM, interrupted)
    try:
        unittest.main()
    finally:
        for machine in list(Machine.live):
            machine.close()
