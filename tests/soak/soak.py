"""A randomized soak of the real Linux program against an oracle.

From a seed, a long sequence of weighted steps: entries of every kind written
to the journal, journal sequences and boots with wrong clocks, old files
removed, numbers past 31 bits, runs of the service stopped at a random
moment, a webhook that answers well or badly, settings that cannot be stored
for a while or are edited by hand. Every entry carries a unique tag, and the
test copy of the program traces the records each check took, so the oracle
knows which check listed an entry, which post carried it and what the
webhook answered. After every run and at the end it checks that every error
and warning of the source reached the chat (an answer of 200) exactly once,
or again only after a delivery that fell into one of the windows that the
fault table of tests/README.md names (harness.DUPLICATE_WINDOWS); a quiet
phase at the end brings every entry to the chat.
"""
import collections
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from harness import DUPLICATE_WINDOWS, KEY, Case, Held, Receiver, answer, wait_until  # noqa: E402

SOURCE = "Pervasive SQL"
HOOK_PATH = "/hooks/soak"
MOVED_PATH = "/moved"
HOUR = 3600 * 1000000
MORE = "\u2026 ja "
TAG = re.compile(r"#(\d{7})#")
HOST_TAG = re.compile(r"h(\d{7})$")
# "lastrecnum" as a store writes it: a REG_DWORD, or a REG_QWORD past 31 bits.
STORED_NUMBER = re.compile(r"dword:[0-9a-f]{8}|hex\(b\):(?:[0-9a-f]{2},){7}[0-9a-f]{2}")
# The HTTP limit of the test copy of the program: a held webhook fails the
# post in well under a second.
HTTP_TIMEOUT_MS = "600"


# ---------------------------------------------------------------- entries

class Entry:
    def __init__(self, n, kind, must, file):
        self.n = n
        self.kind = kind
        self.must = must  # "once", "never", or "info" (decided at the first store)
        self.file = file
        self.gone = False  # its journal file was removed
        self.runs_before = 0  # runs started before it was written
        self.accepted = []  # (run, window of that delivery)


def tag(n):
    return f"#{n:07d}#"


# kind: (weight, must, the journal fields for entry number n)
ENTRY_KINDS = {
    "error": (30, "once", lambda n, rnd: {"_HOSTNAME": "soak", "SYSLOG_IDENTIFIER": SOURCE,
                                          "PRIORITY": rnd.randint(0, 3), "MESSAGE": f"{tag(n)} error"}),
    "warning": (20, "once", lambda n, rnd: {"_HOSTNAME": "soak", "SYSLOG_IDENTIFIER": SOURCE, "PRIORITY": 4,
                                            "MESSAGE": f"{tag(n)} warning"}),
    "information": (10, "info", lambda n, rnd: {"_HOSTNAME": "soak", "SYSLOG_IDENTIFIER": SOURCE,
                                                "PRIORITY": rnd.choice((5, 6)), "MESSAGE": f"{tag(n)} information"}),
    "debug": (4, "never", lambda n, rnd: {"SYSLOG_IDENTIFIER": SOURCE, "PRIORITY": 7, "MESSAGE": f"{tag(n)} debug"}),
    "other identifier": (8, "never", lambda n, rnd: {"SYSLOG_IDENTIFIER": rnd.choice(("Pervasive SQLX", "psql")),
                                                     "PRIORITY": 3, "MESSAGE": f"{tag(n)} other"}),
    "no message": (4, "once", lambda n, rnd: {"_HOSTNAME": f"h{n:07d}", "SYSLOG_IDENTIFIER": SOURCE,
                                              "PRIORITY": 3}),
    "no host": (3, "once", lambda n, rnd: {"SYSLOG_IDENTIFIER": SOURCE, "PRIORITY": 3,
                                           "MESSAGE": f"{tag(n)} without a host"}),
    "huge": (2, "once", lambda n, rnd: {"SYSLOG_IDENTIFIER": SOURCE, "PRIORITY": 3,
                                        "MESSAGE": f"{tag(n)} huge " + "x" * 150000}),
    "syslog": (6, "once", lambda n, rnd: {"_TRANSPORT": "syslog", "PRIORITY": rnd.choice((3, 4)),
                                          "MESSAGE": rnd.choice((f"{SOURCE}: ", f"{SOURCE}[4242]: ")) +
                                          f"{tag(n)} through syslog"}),
    "syslog of another": (3, "never", lambda n, rnd: {"_TRANSPORT": "syslog", "PRIORITY": 3,
                                                      "MESSAGE": f"{SOURCE}X: {tag(n)} another's"}),
}


# ---------------------------------------------------------------- journal

class Journal:
    """The journal folder as the soak wrote it: one file per sequence, each
    with the boot and the wall clock's error its writer has."""

    # Past the 16 sequences a position keeps, so that the sequences it leaves
    # out (and lists with their marks) are written to, vacuumed and seen again.
    MAX_FILES = 24

    def __init__(self, case, rnd):
        self.case = case
        self.rnd = rnd
        self.files = []  # {name, boot, clock, last}
        self.made = 0
        self.new_sequence(boot=None, clock=0)

    @property
    def current(self):
        return self.files[-1]

    def new_sequence(self, boot, clock):
        self.made += 1
        self.files.append({"name": f"seq{self.made:04d}.journal", "boot": boot, "clock": clock, "last": 0})

    def oldest_removable(self):
        return self.files[0]["name"] if len(self.files) > 1 else None

    def remove(self, name):
        """Removes a sequence's files: the one written to, its user's file
        beside it, and those the writer archived (NAME@….journal~); gives the
        names of the files entries were written to."""
        removed = [f for f in self.files if f["name"] == name]
        self.files = [f for f in self.files if f["name"] != name]
        stem = name[:-len(".journal")]
        for found in os.listdir(self.case.journal):
            if found == name or found.startswith(stem + "@") or found.startswith(stem + "-user"):
                os.remove(os.path.join(self.case.journal, found))
        return [name] + [f["user"] for f in removed if f.get("user")]

    def add_user(self, file):
        """Starts a user's file beside the sequence's (systemd 257 writes
        user-1000.journal with the system journal's numbering), both left
        open for writing between syncs. Its first line is a login of no
        interest, numbered 1 by the writer."""
        user = file["name"][:-len(".journal")] + "-user-1000.journal"
        self.case.add_fields({"SYSLOG_IDENTIFIER": "systemd-logind", "PRIORITY": 6, "MESSAGE": "login"},
                             file=user, boot=file["boot"], clock=file["clock"])
        with open(os.path.join(self.case.journal, file["name"]), "rb") as f:
            f.seek(72)
            sequence = f.read(16)
        with open(os.path.join(self.case.journal, user), "r+b") as f:
            f.seek(72)
            f.write(sequence)
        file["user"] = user

    def set_online(self, file, online):
        """Marks the sequence's files open for writing (journald's state
        online), or as the writer left them."""
        for name in (file["name"], file.get("user")):
            path = os.path.join(self.case.journal, name) if name else None
            if path and os.path.exists(path):
                with open(path, "r+b") as f:
                    f.seek(16)
                    f.write(bytes([1 if online else 0]))
        file["online"] = online

    def write(self, file, fields, target=None):
        """Appends entries to the sequence's file, or to target beside it
        (its user's file), numbered on from the sequence's last number."""
        name = target or file["name"]
        if file.get("user") and os.path.exists(os.path.join(self.case.journal, name)):
            self.case.raise_sequence(file["last"], file=name)
        self.case.add_fields(*fields, file=name, boot=file["boot"], clock=file["clock"])
        file["last"] += len(fields)
        if file.get("user"):
            self.set_online(file, True)

    def held_back(self, entry):
        """Whether the entry may wait for the check after the next: it is the
        newest of a sequence whose file is open for writing, which a check
        leaves for the next one (it may not be linked yet)."""
        return any(f.get("online") and f.get("newest") == entry.n for f in self.files)

    def raise_numbers(self, file):
        """The next entry of the file's sequence takes a number past 2^31."""
        if not os.path.exists(os.path.join(self.case.journal, file["name"])):
            return False
        last = max(file["last"], self.rnd.randrange(2 ** 31 - 3, 2 ** 33))
        self.case.raise_sequence(last, file=file["name"])
        file["last"] = last
        return True


# ---------------------------------------------------------------- webhook

class Webhook:
    """The chat's webhook on one port: answers as its mode says, logs every
    request with the run it came in, and stops the running program when the
    run asks for a stop at the post or after the 200."""

    ACCEPTED = ("200", "200 body cut off", "200 body held")
    MODES = ["200", "200", "200", "200 body cut off", "200 body held", "404", "400", "500", "503",
             "refused", "held", "closed", "redirect 307", "redirect 302"]

    def __init__(self, case):
        self.case = case
        self.mode = "200"
        self.log = []  # {run, method, path, body, reply}
        self.lock = threading.Lock()
        self.run = None
        self.on_request = None  # called with the request's log entry before the answer
        self.on_accepted = None  # called once a 200 went out
        self.receiver = case.receiver(self._reply)
        self.port = self.receiver.port
        self.receiver.after_reply = self._after_reply
        self._last_accepted = False

    def url(self):
        return f"http://127.0.0.1:{self.port}{HOOK_PATH}"

    def set_mode(self, mode):
        if mode == "refused" and self.receiver:
            self.receiver.close()
            self.case.receivers.remove(self.receiver)
            self.receiver = None
        elif mode != "refused" and not self.receiver:
            self.receiver = self.case.receiver(self._reply, port=self.port)
            self.receiver.after_reply = self._after_reply
        self.mode = mode

    def begin_run(self, run):
        self.run = run
        if self.receiver:
            self.receiver.release = threading.Event()

    def end_run(self):
        if self.receiver:
            self.receiver.release.set()
        self.on_request = self.on_accepted = None

    def _reply(self, receiver, request, n):
        mode = self.mode
        entry = {"run": self.run, "method": request.method, "path": request.path, "body": request.body}
        if request.path == MOVED_PATH:
            reply, kind = answer(200, "OK", body=b"ok"), "200"
        elif mode.startswith("redirect"):
            status = int(mode.split()[1])
            reply, kind = answer(status, "Moved", [f"Location: {MOVED_PATH}"]), mode
        elif mode == "200":
            reply, kind = answer(200, "OK", body=b"ok"), "200"
        elif mode == "200 body cut off":
            reply, kind = answer(200, "OK", body=b"0123456789")[:-4], mode
        elif mode == "200 body held":
            reply, kind = Held(answer(200, "OK", body=b"0123456789")[:-4]), mode
        elif mode == "held":
            reply, kind = None, mode
        elif mode == "closed":
            reply, kind = b"", mode
        else:
            status = int(mode)
            reply, kind = answer(status, {404: "Not Found", 400: "Bad Request", 500: "Internal Server Error",
                                          503: "Service Unavailable"}[status]), mode
        if self.on_request and request.path == HOOK_PATH:
            # A stop while the webhook holds the post: it is never answered.
            self.on_request(entry)
            reply, kind = None, "held by the stop"
        entry["reply"] = kind
        with self.lock:
            self.log.append(entry)
        self._last_accepted = kind in self.ACCEPTED
        if isinstance(reply, Held) and self._last_accepted and self.on_accepted:
            threading.Thread(target=self.on_accepted, daemon=True).start()
        return reply

    def _after_reply(self):
        if self._last_accepted and self.on_accepted:
            self.on_accepted()

    def requests_of(self, run):
        with self.lock:
            return [e for e in self.log if e["run"] == run]


# ---------------------------------------------------------------- settings

class Settings:
    """The settings file and the faults that keep a store from succeeding:
    a folder at the writer's temporary path, a full file system and a
    read-only one (both only in a mount namespace of the soak's own, where
    the settings folder is a small tmpfs)."""

    def __init__(self, case, namespaced):
        self.case = case
        self.folder = os.path.join(case.dir, "conf")
        os.mkdir(self.folder)
        self.mounted = False
        if namespaced:
            self.mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k,mode=0700", "soak", self.folder],
                                          stderr=subprocess.DEVNULL).returncode == 0
        case.settings = os.path.join(self.folder, "settings.reg")
        self.fault = None

    def kinds(self):
        return ["temporary path taken"] + (["full file system", "read-only file system"] if self.mounted else [])

    def cleanup(self):
        self.heal()
        if self.mounted:
            subprocess.run(["umount", self.folder], stderr=subprocess.DEVNULL)

    def break_store(self, kind):
        self.heal()
        if kind == "temporary path taken":
            os.mkdir(os.path.join(self.folder, ".settings.reg.tmp"))
        elif kind == "full file system":
            fd = os.open(os.path.join(self.folder, "filler"), os.O_WRONLY | os.O_CREAT, 0o600)
            try:
                while os.write(fd, b"\0" * 4096):
                    pass
            except OSError:
                pass  # full
            finally:
                os.close(fd)
        else:
            subprocess.run(["mount", "-o", "remount,ro", self.folder], check=True)
        self.fault = kind

    def heal(self):
        if self.fault == "temporary path taken":
            os.rmdir(os.path.join(self.folder, ".settings.reg.tmp"))
        elif self.fault == "full file system":
            os.remove(os.path.join(self.folder, "filler"))
        elif self.fault == "read-only file system":
            subprocess.run(["mount", "-o", "remount,rw", self.folder], check=True)
        self.fault = None

    def stored_mark(self):
        """"lastrecnum" as the file holds it, or None; the file must be
        whole, as an export begins."""
        raw = self.case.settings_bytes()
        text = raw[2:].decode("utf-16-le") if raw.startswith(b"\xff\xfe") else raw.decode("utf-8-sig")
        if not text.startswith("Windows Registry Editor Version 5.00"):
            return f"(a file that is no export: {raw[:60]!r})"
        return self.case.stored("lastrecnum")

    def hand_edit(self, rnd):
        """Edits another value than the mark, as an administrator would: the
        instance name, a value of its own, or the file saved in the other
        encoding (a regedit export is UTF-16LE)."""
        raw = self.case.settings_bytes()
        utf16 = raw.startswith(b"\xff\xfe")
        text = raw[2:].decode("utf-16-le") if utf16 else raw.decode("utf-8")
        newline = "\r\n" if "\r\n" in text else "\n"
        lines = text.replace("\r\n", "\n").split("\n")
        what = rnd.choice(["instance name", "a value of its own", "encoding"])
        if what == "instance name":
            name = rnd.choice(["Kassa", "Varasto 2", "Tuotanto \u00e4\u00f6"])
            lines = [f'"instancename"="{name}"' if line.lower().startswith('"instancename"=') else line
                     for line in lines]
        elif what == "a value of its own":
            lines = [line for line in lines if not line.lower().startswith('"note"=')]
            at = lines.index("[" + KEY + "]") + 1
            lines.insert(rnd.randint(at, len(lines) - 1), f'"note"="edited {rnd.randrange(10 ** 6)}"')
        else:
            utf16 = not utf16
            newline = "\r\n" if utf16 else "\n"
        text = newline.join(lines)
        data = b"\xff\xfe" + text.encode("utf-16-le") if utf16 else text.encode("utf-8")
        # Written in place, as an editor that saves over the file does.
        with open(self.case.settings, "wb") as f:
            f.write(data)
        return what


# ---------------------------------------------------------------- a run's record

class RunRecord:
    """What one run did, read from its debug lines and status notes: per
    check (one per timer tick) the entries its query listed, whether a 200
    reached it, and how the check ended."""

    def __init__(self, index, stop, sig, fault):
        self.index = index
        self.stop = stop
        self.sig = sig
        self.fault = fault  # the store fault active during the run
        self.unreadable = set()  # the journal files that could not be read during the run
        self.checks = []  # {"listed": [n], "answered_200": bool}
        self.notes = []  # "Last check …" notes in order
        self.code = None

    def read(self, run):
        for text in run.text_lines():
            if text == "vantrel timer":
                self.checks.append({"listed": [], "answered_200": False, "lines": []})
            elif not self.checks:
                continue
            check = self.checks[-1]
            check["lines"].append(text)
            if text.startswith("Computer: "):
                check["listed"].append({"host": text[len("Computer: "):].split(" Time: ")[0], "message": None})
            elif text.startswith(" Message : ") and check["listed"]:
                check["listed"][-1]["message"] = text[len(" Message : "):]
            elif text == "statuscode=200":
                check["answered_200"] = True
        for check in self.checks:
            check["listed"] = [entry_number(record) for record in check["listed"]]
        with run.lock:
            notes = list(run.notes)
        for note in notes:
            for part in note.split("\n"):
                if part.startswith("STATUS=Last check "):
                    self.notes.append(part[len("STATUS="):])

    def completed(self, check_index):
        """Whether the check, or one after it in the run, completed (its
        store done); a check that failed says so in its note."""
        return any("failed" not in note for note in self.notes[check_index:])


def entry_number(record):
    """The entry a listed record stands for: the tag in its message, or for
    one without a message the tag in its host name; None for a stranger."""
    if record["message"] is not None:
        found = TAG.search(record["message"])
    else:
        found = HOST_TAG.match(record["host"])
    return int(found.group(1)) if found else None


def notice_entries(body):
    """What a notice with details shows: the tagged entries among its lines
    and how many entries it stands for."""
    try:
        lines = json.loads(body)["text"].split("\n")[1:]
    except (ValueError, KeyError, AttributeError):
        return None, 0
    more = 0
    if lines and lines[-1].startswith(MORE):
        more = int(lines.pop()[len(MORE):].split()[0])
    shown = {int(m.group(1)) for line in lines for m in [TAG.search(line)] if m}
    return shown, len(lines) + more


# ---------------------------------------------------------------- the soak

class Soak:
    WEIGHTS = [
        ("entries", 30), ("run", 25), ("webhook", 10), ("new sequence", 4), ("clock", 3), ("vacuum", 3),
        ("numbers past 2^31", 2), ("store fault", 4), ("heal", 5), ("hand edit", 3), ("newer format", 1),
        ("user file", 4), ("unreadable file", 3),
    ]
    STOPS = ["none", "none", "before the check", "during the walk", "during the post", "after the 200",
             "after the store"]

    def __init__(self, binary, seed, steps, namespaced, log=print, trace=False, keep=False):
        self.trace = trace
        self.keep = keep
        self.rnd = random.Random(seed)
        self.rnd_during_post = random.Random(-seed)
        self.seed = seed
        self.steps = steps
        self.log = log
        self.case = Case(binary)
        self.settings = Settings(self.case, namespaced)
        self.hook = Webhook(self.case)
        self.journal = Journal(self.case, self.rnd)
        self.entries = {}
        self.next_n = 1
        self.runs = 0
        self.runs_past_bound = 0  # runs that met more sequences than a position keeps
        self.kinds = collections.Counter()  # entries written, by kind
        self.faults = collections.Counter()  # steps that made a fault, by kind
        self.duplicates = collections.Counter()  # by window
        self.problems = []  # what the oracle found
        self.first_store_run = None  # the run after which "lastrecnum" first stood
        self.unreadable = {}  # journal files made unreadable: inode -> the mode they had
        self.binary = os.path.realpath(binary)

    def close(self):
        keep = self.keep and self.problems
        if keep and os.path.exists(self.case.settings):
            with open(os.path.join(self.case.dir, "settings-kept.reg"), "wb") as f:
                f.write(self.case.settings_bytes())
        self.settings.cleanup()
        if keep:
            self.log(f"kept: {self.case.dir}")
            self.case.dir = os.path.join(self.case.dir, "(kept)")  # nothing there to remove
        self.case.__exit__(None, None, None)

    def traced(self, text):
        if self.trace:
            self.log(text, file=sys.stderr)

    # ---- steps

    def main(self):
        self.case.write_settings(f'"chaturl"="{self.hook.url()}"', '"instancename"="Soak"', '"details"=dword:00000001')
        self.write_entries(self.rnd.randint(1, 6))
        for step in range(self.steps):
            name = self.rnd.choices([n for n, _ in self.WEIGHTS], [w for _, w in self.WEIGHTS])[0]
            self.traced(f"step {step}: {name}")
            self.STEPS[name](self)
            if self.problems:
                self.log(f"step {step}: {self.problems[0]}")
                break
        if not self.problems:
            self.quiet_phase()
        return self.report()

    def write_entries(self, count, file=None, rnd=None, target=None):
        """Writes count entries of random kinds; rnd: the generator to draw
        them from, when not the steps' own; target: the user's file beside
        the sequence's."""
        rnd = rnd or self.rnd
        file = file or self.journal.current
        fields = []
        names = list(ENTRY_KINDS)
        for _ in range(count):
            kind = rnd.choices(names, [ENTRY_KINDS[k][0] for k in names])[0]
            n = self.next_n
            self.next_n += 1
            entry = Entry(n, kind, ENTRY_KINDS[kind][1], target or file["name"])
            entry.runs_before = self.runs
            if entry.must == "info" and self.first_store_run is not None:
                entry.must = "never"  # written after the first run stored its mark
            self.entries[n] = entry
            self.kinds[kind] += 1
            fields.append(ENTRY_KINDS[kind][2](n, rnd))
        self.journal.write(file, fields, target)
        file["newest"] = self.next_n - 1
        self.traced(f"  entries {self.next_n - count}..{self.next_n - 1} to {file['name']} (clock {file['clock']}, "
                    f"boot {file['boot']}): " + ", ".join(self.entries[n].kind for n in range(self.next_n - count,
                                                                                           self.next_n)))

    def step_entries(self):
        files = self.journal.files
        file = self.journal.current if self.rnd.random() < 0.8 else self.rnd.choice(files)
        if file is not self.journal.current:
            self.faults["entries in another sequence"] += 1
        self.write_entries(self.rnd.randint(1, 4), file)

    def step_new_sequence(self):
        if len(self.journal.files) >= Journal.MAX_FILES:
            self.step_vacuum()
        other_boot = self.rnd.random() < 0.5
        boot = "%032x" % self.rnd.getrandbits(128) if other_boot else None
        clock = self.rnd.choice([-2 * HOUR, -HOUR, 0, HOUR, 24 * HOUR])
        self.faults["new sequence" + (" and boot" if other_boot else "") + clock_text(clock)] += 1
        self.journal.new_sequence(boot, clock)
        self.traced(f"  {self.journal.current['name']}: boot {boot}, clock {clock}")
        self.write_entries(self.rnd.randint(1, 3))

    def step_clock(self):
        clock = self.rnd.choice([-HOUR, 0, 0, 2 * HOUR, 24 * HOUR])
        self.journal.current["clock"] = clock
        self.faults["clock " + (clock_text(clock)[len(", clock "):] or "set right")] += 1

    def step_user_file(self):
        """A user writes while the source writes: the user's file beside the
        current sequence's, one numbering, both open for writing."""
        file = self.journal.current
        if not file.get("user"):
            if not os.path.exists(os.path.join(self.case.journal, file["name"])):
                return
            self.journal.add_user(file)
            self.faults["a user's file beside the system's"] += 1
        self.write_entries(self.rnd.randint(1, 3), file, target=file["user"])

    def step_unreadable_file(self):
        """A journal file that the service cannot read (permission denied):
        every check fails, naming it, and nothing moves past what it holds
        until it can be read again; half the time it is readable again at
        once, otherwise at the next heal. The file is known by its inode, as
        the writer may archive it under another name meanwhile."""
        if self.unreadable and self.rnd.random() < 0.5:
            self.make_readable()
            return
        names = sorted(n for n in os.listdir(self.case.journal) if n.endswith((".journal", ".journal~")))
        if not names:
            return
        name = self.rnd.choice(names)
        info = os.stat(os.path.join(self.case.journal, name))
        if info.st_ino not in self.unreadable:
            self.unreadable[info.st_ino] = info.st_mode & 0o7777
            os.chmod(os.path.join(self.case.journal, name), 0)
        self.traced(f"  {name}: cannot be read")
        self.faults["a journal file that cannot be read"] += 1

    def unreadable_paths(self):
        """The paths of the files made unreadable, as they are named now."""
        paths = (os.path.join(self.case.journal, n) for n in os.listdir(self.case.journal))
        return {p: os.stat(p).st_ino for p in paths if os.stat(p).st_ino in self.unreadable}

    def make_readable(self):
        for path, inode in self.unreadable_paths().items():
            os.chmod(path, self.unreadable[inode])
        self.unreadable = {}

    def step_vacuum(self):
        name = self.journal.oldest_removable()
        if not name:
            return
        names = self.journal.remove(name)
        self.traced(f"  removed {name}")
        for entry in self.entries.values():
            if entry.file in names:
                entry.gone = True
        self.faults["old files removed"] += 1

    def step_newer_format(self):
        """A file that a newer journald wrote (an incompatible header flag no
        reader knows), copied in or left by a downgrade: either one of its
        own with errors that can never be read, or an archived file of the
        current sequence beside the one written to, whose entries the
        current file holds as well. It must hold back nothing behind it."""
        self.journal.made += 1
        current = self.journal.current
        path = os.path.join(self.case.journal, current["name"])  # written by write_entries below
        if self.rnd.random() < 0.5:
            self.write_entries(self.rnd.randint(1, 3))  # so that the copy holds entries above the mark
            name = current["name"][:-len(".journal")] + f"@{self.journal.made:04d}-newer.journal"
            shutil.copyfile(path, os.path.join(self.case.journal, name))
            self.faults["an archived file of a newer format"] += 1
        else:
            name = f"newer{self.journal.made:04d}.journal"
            fields = []
            for _ in range(self.rnd.randint(1, 3)):
                n = self.next_n
                self.next_n += 1
                entry = Entry(n, "in a newer format", "never", name)
                entry.runs_before = self.runs
                self.entries[n] = entry
                self.kinds[entry.kind] += 1
                fields.append(ENTRY_KINDS["error"][2](n, self.rnd))
            self.case.add_fields(*fields, file=name)
            self.faults["a file of a newer format"] += 1
        with open(os.path.join(self.case.journal, name), "r+b") as f:
            f.seek(12)
            flags = int.from_bytes(f.read(4), "little") | 1 << 30
            f.seek(12)
            f.write(flags.to_bytes(4, "little"))
        self.traced(f"  {name}: a newer format")

    def step_numbers_past_two31(self):
        if self.journal.raise_numbers(self.journal.current):
            self.traced(f"  {self.journal.current['name']} goes on from {self.journal.current['last']}")
            self.faults["numbers past 2^31"] += 1

    def step_webhook(self):
        mode = self.rnd.choice(Webhook.MODES)
        self.hook.set_mode(mode)
        self.faults["webhook " + mode] += 1

    def step_store_fault(self):
        kind = self.rnd.choice(self.settings.kinds())
        self.settings.break_store(kind)
        self.faults["store fails: " + kind] += 1

    def step_heal(self):
        self.settings.heal()
        self.make_readable()

    def step_hand_edit(self):
        if self.settings.fault:
            return
        self.faults["hand edit: " + self.settings.hand_edit(self.rnd)] += 1

    def step_run(self):
        stop = self.rnd.choice(self.STOPS)
        sig = self.rnd.choice([signal.SIGTERM, signal.SIGKILL]) if stop != "none" else signal.SIGTERM
        self.run_once(stop, sig)

    # ---- runs

    def run_once(self, stop, sig, heal_during=None):
        index = self.runs
        self.runs += 1
        if len(self.journal.files) > 16:
            self.runs_past_bound += 1
        if stop != "none":
            self.faults[f"stop {signal.Signals(sig).name} {stop}"] += 1
        if heal_during is None:
            heal_during = self.settings.fault is not None and self.rnd.random() < 0.3
        record = RunRecord(index, stop, sig, self.settings.fault)
        record.unreadable = set(self.unreadable_paths())
        self.hook.begin_run(index)
        stopped = threading.Event()
        run_box = {}

        def stop_now(*_):
            if not stopped.is_set():
                stopped.set()
                try:
                    os.kill(run_box["run"].process.pid, sig)
                except ProcessLookupError:
                    pass

        write_during_post = self.rnd.random() < 0.5
        delay = self.rnd.choice([0, 0, 0.001, 0.003, 0.01])
        if stop == "during the post":
            def at_post(entry):
                if write_during_post:
                    # Written while the post is under way; from a generator of
                    # its own, as whether a post comes depends on timing.
                    self.write_entries(1, rnd=self.rnd_during_post)
                stop_now()
                wait_until(lambda: run_box["run"].process.poll() is not None, 10)
            self.hook.on_request = at_post
        elif stop == "after the 200":
            def after_200():
                if delay:
                    time.sleep(delay)  # lands while the answer is read, or the store made
                stop_now()
            self.hook.on_accepted = after_200

        # Without capabilities, as the service's unit runs it: a file's
        # permissions hold for it although it runs as root.
        run = self.case.start(env={"VANTREL_TEST_HTTP_TIMEOUT_MS": HTTP_TIMEOUT_MS,
                                   "VANTREL_TEST_TRACE_RECORDS": "1"}, capabilities=False)
        run_box["run"] = run

        def noted(completed_only=False):
            with run.lock:
                notes = [n for n in run.notes if "STATUS=Last check " in n]
            return any("failed" not in n for n in notes) if completed_only else bool(notes)

        if stop == "before the check":
            time.sleep(delay * 90)  # somewhere before the first tick, a second after the start
            stop_now()
        elif stop == "during the walk":
            run.wait_line("vantrel timer", timeout=10)
            time.sleep(delay)
            stop_now()
        # Otherwise the check's outcome (or the stop set at the webhook).
        wait_until(lambda: stopped.is_set() or noted(), 20)
        if heal_during and not stopped.is_set():
            # The fault heals while the service retries its store every second.
            self.settings.heal()
            wait_until(lambda: stopped.is_set() or noted(completed_only=True), 10)
        if not stopped.is_set():
            stop_now()
        started = time.monotonic()
        exited = wait_until(lambda: run.process.poll() is not None, 10)
        took = time.monotonic() - started
        record.code = run.stop() if sig == signal.SIGTERM else run.kill9()
        self.hook.end_run()
        if not wait_until(lambda: not self.attempt_processes(), 10):
            self.problem(index, "an HTTP attempt process outlived the service")
        if sig == signal.SIGTERM and not exited:
            self.problem(index, f"SIGTERM did not end the service within 10 s\n{run.debug()}")
        elif sig == signal.SIGTERM and record.code != 0 and (stop != "before the check" or record.code != -15):
            self.problem(index, f"SIGTERM ended the service with code {record.code} after {took:.1f} s")
        record.read(run)
        if self.trace:
            self.traced(f"run {index}: stop {stop} {signal.Signals(sig).name}, webhook {self.hook.mode}, "
                        f"fault {record.fault}, code {record.code}\n" +
                        "\n".join(line[:200] for _, line in run.lines) + "\n" + "\n".join(record.notes) +
                        f"\nstored {self.case.stored('lastrecnum')} {self.case.stored('lastrecpos')}")
        self.judge(record, run)
        return record

    def attempt_processes(self):
        found = []
        for pid in os.listdir("/proc"):
            if pid.isdigit():
                try:
                    if os.readlink(f"/proc/{pid}/exe") == self.binary:
                        found.append(pid)
                except OSError:
                    pass
        return found

    def problem(self, run, text):
        self.problems.append(f"run {run}: {text}")

    # ---- the oracle

    def judge(self, record, run):
        """After a run: what reached the chat, whether a delivery came again
        outside every named window, whether an entry that must never be
        reported was, and whether a check that completed left an entry
        behind."""
        requests = self.hook.requests_of(record.index)
        matched = set()
        for i, request in enumerate(requests):
            if request["path"] != HOOK_PATH or request["method"] != "POST":
                continue
            final = request["reply"]
            if final.startswith("redirect"):
                follow = next((r for r in requests[i + 1:] if r["path"] == MOVED_PATH), None)
                final = follow["reply"] if follow else "not followed"
            if final not in Webhook.ACCEPTED:
                continue
            shown, count = notice_entries(request["body"])
            if count == 0:
                continue
            at = next((k for k, check in enumerate(record.checks) if k not in matched and
                       len(check["listed"]) == count and shown <= set(check["listed"])), None)
            if at is None:
                self.problem(record.index, f"a notice no check listed: {request['body'][:300]!r}\n{run.debug()[:3000]}")
                continue
            matched.add(at)
            window = self.window_of(record, at)
            for n in record.checks[at]["listed"]:
                if n is None:
                    self.problem(record.index, "a record without a tag was listed")
                    continue
                self.accept(self.entries[n], record, window)
        for check in record.checks:
            for n in check["listed"]:
                if n is not None and self.entries[n].must == "never":
                    self.problem(record.index, f"entry {n} ({self.entries[n].kind}) was listed; it is never reported")
            for line in check["lines"]:
                if line.startswith("Virhe haussa=") and not any(
                        line == f"Virhe haussa=Cannot read the journal file {path}: Permission denied"
                        for path in self.unreadable_paths()):
                    self.problem(record.index, f"the query failed: {line}")
        # A journal file that cannot be read fails every check: none may say
        # it delivered everything or found nothing new.
        if record.unreadable and any("failed" not in note and ("notice delivered" in note or "no new entries" in note)
                                     for note in record.notes):
            self.problem(record.index, f"a check completed while {sorted(record.unreadable)} could not be read: "
                         f"{record.notes}\n{run.debug()[:3000]}")
        stored = self.settings.stored_mark()
        if stored is not None and not STORED_NUMBER.fullmatch(stored):
            self.problem(record.index, f"the settings file holds lastrecnum={stored}")
        if self.first_store_run is None and stored is not None:
            self.first_store_run = record.index
            for entry in self.entries.values():
                if entry.must == "info":
                    entry.must = "once" if entry.runs_before <= record.index else "never"
        # A check that completed with its notice delivered, or with nothing
        # new, has reported every entry that was there before the run.
        if any("failed" not in note and ("notice delivered" in note or "no new entries" in note)
               for note in record.notes):
            for entry in self.entries.values():
                if (entry.must == "once" and not entry.gone and entry.runs_before <= record.index
                        and not entry.accepted and not self.journal.held_back(entry)):
                    self.problem(record.index, f"entry {entry.n} ({entry.kind}, {entry.file}) was left behind by "
                                 f"a check that completed: {record.notes}\n{run.debug()[:4000]}")

    def window_of(self, record, at):
        """The named window a delivery in check at of the run fell into: why
        the program might post its entries again; None when it must not."""
        check = record.checks[at]
        if not check["answered_200"]:
            return "answer not read" if record.stop != "none" else None
        if record.completed(at):
            return None
        if record.fault:
            return "store failed"
        if record.sig == signal.SIGKILL and record.stop != "none":
            return "killed before the store"
        return None

    def accept(self, entry, record, window):
        if entry.must == "never":
            self.problem(record.index, f"entry {entry.n} ({entry.kind}) reached the chat; it is never reported")
        if entry.accepted:
            before = entry.accepted[-1][1]
            if before is None:
                self.problem(record.index, f"entry {entry.n} ({entry.kind}) reached the chat again, in run "
                             f"{record.index}, after run {entry.accepted[-1][0]} outside every window")
            else:
                self.duplicates[before] += 1
        entry.accepted.append((record.index, window))

    # ---- the end

    def quiet_phase(self):
        """A healthy webhook, no faults: runs until a check finds nothing
        new; then every entry has reached the chat."""
        self.settings.heal()
        self.make_readable()
        self.hook.set_mode("200")
        for file in self.journal.files:
            self.journal.set_online(file, False)  # journald stopped: every entry linked
        for _ in range(8):
            record = self.run_once("none", signal.SIGTERM, heal_during=False)
            if self.problems or any("no new entries" in note for note in record.notes):
                break
        lost = [e for e in self.entries.values() if e.must == "once" and not e.gone and not e.accepted]
        for entry in lost:
            self.problems.append(f"lost: entry {entry.n} ({entry.kind}, {entry.file})")

    def report(self):
        lost = sum(1 for e in self.entries.values() if e.must == "once" and not e.gone and not e.accepted)
        unreported_gone = sum(1 for e in self.entries.values() if e.must == "once" and e.gone and not e.accepted)
        lines = [
            f"seed {self.seed}: {self.steps} steps, {self.runs} runs ({self.runs_past_bound} with more than 16 "
            f"sequences), {len(self.entries)} entries",
            "entries: " + ", ".join(f"{k} {v}" for k, v in sorted(self.kinds.items())),
            "faults: " + ", ".join(f"{k} {v}" for k, v in sorted(self.faults.items())),
            f"lost: {lost}",
            "duplicates: " + (", ".join(f"{k} {v}" for k, v in sorted(self.duplicates.items())) or "none"),
            f"removed from the journal before they were reported: {unreported_gone}",
        ]
        for window in self.duplicates:
            assert window in DUPLICATE_WINDOWS
        lines += [f"FAULT {p}" for p in self.problems]
        lines.append(("FAILED" if self.problems else "passed") + f" (rerun: tests/soak/run --steps {self.steps} "
                     f"--seed {self.seed})")
        return not self.problems, "\n".join(lines)


Soak.STEPS = {
    "entries": Soak.step_entries, "run": Soak.step_run, "webhook": Soak.step_webhook,
    "new sequence": Soak.step_new_sequence, "clock": Soak.step_clock, "vacuum": Soak.step_vacuum,
    "numbers past 2^31": Soak.step_numbers_past_two31, "store fault": Soak.step_store_fault,
    "heal": Soak.step_heal, "hand edit": Soak.step_hand_edit, "newer format": Soak.step_newer_format,
    "user file": Soak.step_user_file, "unreadable file": Soak.step_unreadable_file,
}


def main(argv):
    import argparse
    parser = argparse.ArgumentParser(prog="tests/soak/run", description=__doc__.split("\n\n")[0])
    parser.add_argument("--steps", type=int, default=300)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--binary", default=os.environ.get("VANTREL_E2E_SHORT_TIMEOUTS_BINARY") or os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "..", "build", "linux", "tests", "e2e",
        "vantrel_short_timeouts"), help="the test copy of the program (vantrel_short_timeouts)")
    parser.add_argument("--trace", action="store_true", help="every step and run on standard error")
    parser.add_argument("--keep", action="store_true", help="keep the folder of a soak that failed")
    args = parser.parse_args(argv)
    namespaced = os.environ.get("VANTREL_SOAK_NAMESPACE") == "1"
    started = time.monotonic()
    soak = Soak(args.binary, args.seed, args.steps, namespaced, trace=args.trace, keep=args.keep)
    try:
        ok, text = soak.main()
    finally:
        soak.close()
    print(text + f"\n{time.monotonic() - started:.0f} s" +
          ("" if namespaced else "; no mount namespace, so no full or read-only file system"))
    return 0 if ok else 1


def clock_text(clock):
    if clock == 0:
        return ""
    hours = clock // HOUR
    return f", clock {abs(hours)} h " + ("ahead" if hours > 0 else "behind")
