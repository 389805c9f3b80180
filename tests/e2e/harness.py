"""Runs the real Linux program against real parts: a local webhook receiver,
a journal folder made by systemd-journal-remote, a settings file, a notify
socket and signals.

Every case works in its own temporary folder with its own receiver, so cases
can run side by side. The program is found through the environment:
VANTREL_E2E_BINARY (the shipped program) and VANTREL_E2E_SHORT_TIMEOUTS_BINARY
(the same program with the HTTP limits shortened through
VANTREL_TEST_HTTP_TIMEOUT_MS, built only for tests).

The receiver and the journal writer here are the only ones in Python: the
demo, the benchmarks and the soak use them as modules, the package check and
the booted test machines run the receiver as a program (harness.py webhook).
"""
import gzip
import os
import pwd
import re
import shutil
import signal
import socket
import socketserver
import ssl
import subprocess
import sys
import tempfile
import threading
import time

BINARY = os.environ.get("VANTREL_E2E_BINARY", "")
SHORT_TIMEOUTS_BINARY = os.environ.get("VANTREL_E2E_SHORT_TIMEOUTS_BINARY", "")
JOURNAL_REMOTE = "/lib/systemd/systemd-journal-remote"
KEY = r"HKEY_LOCAL_MACHINE\SOFTWARE\tresk\vantrel"
HOST = "e2e-host"
USER_AGENT = "Vantrel RESTClient/1.0"
START_TEXT = "PSQL lisenssivalvonta käynnistetty "
PROBLEMS_TEXT = "Mahdollisia PSQL lisenssiongelmia "


# The windows in which the chat may get an entry twice, each a row of the
# fault table of tests/README.md. A test that counts deliveries allows a
# second one only when the first fell into one of these.
DUPLICATE_WINDOWS = {
    "answer not read": "the program was stopped after the webhook sent its 200, before the answer reached it "
                       "(SIGTERM or kill -9 while the webhook holds the post)",
    "killed before the store": "the program was killed after the 200 reached it, before the store ended "
                               "(kill -9 right after the 200 answer)",
    "store failed": "the store failed after the 200 and the program ended before a store succeeded "
                    "(the store fails after the 200)",
}


def notice(text, name):
    """The exact body the program posts for a notice text and instance name."""
    return ('{"text":"' + text + name + ", koneen nimi " + HOST + '"}').encode("utf-8")


def wait_until(predicate, timeout, step=0.02):
    deadline = time.monotonic() + timeout
    while True:
        if predicate():
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(step)


# ---------------------------------------------------------------- receiver

class Request:
    def __init__(self, method, path, headers, body):
        self.method = method
        self.path = path
        self.headers = headers  # [(name as sent, value)] in order
        self.body = body
        self.settings_then = None  # the settings file when the request came

    def header(self, name):
        """The value of a header sent once; a list when it was sent several
        times; None when it was not sent."""
        values = [v for n, v in self.headers if n.lower() == name.lower()]
        return values[0] if len(values) == 1 else values or None


def answer(status, reason="", headers=(), body=b""):
    """Raw bytes of an HTTP/1.1 answer; reason None leaves the phrase out."""
    line = f"HTTP/1.1 {status}" + ("" if reason is None else f" {reason}")
    head = [line, f"Content-Length: {len(body)}", "Connection: close", *headers]
    return ("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body


class Held:
    """A reply that sends its bytes and then holds the connection open
    without another word, until the receiver is closed."""

    def __init__(self, data):
        self.data = data


class Endless:
    """A reply whose body never ends: the head, then body bytes until the
    program closes the connection."""

    def __init__(self, status, reason, headers=()):
        head = [f"HTTP/1.1 {status} {reason}", "Connection: close", *headers]
        self.head = ("\r\n".join(head) + "\r\n\r\n").encode("latin-1")


def broken_gzip():
    return gzip.compress(b'{"ok":true}')[:-12] + b"garbage!"


class _Handler(socketserver.StreamRequestHandler):
    def handle(self):
        r = self.server.receiver
        line = self.rfile.readline(65537).decode("latin-1").rstrip("\r\n")
        if not line:
            return
        method, path = (line.split(" ") + ["", ""])[:2]
        headers = []
        while True:
            h = self.rfile.readline(65537).decode("latin-1").rstrip("\r\n")
            if not h:
                break
            name, _, value = h.partition(":")
            headers.append((name, value.strip()))
        length = sum(int(v) for n, v in headers if n.lower() == "content-length")
        body = self.rfile.read(length) if length else b""
        request = Request(method, path, headers, body)
        if r.settings_file and os.path.exists(r.settings_file):
            with open(r.settings_file, "rb") as f:
                request.settings_then = f.read()
        with r.lock:
            r.requests.append(request)
        reply = r.reply(r, request, len(r.requests))
        if reply is None:  # hold the request, unanswered, until released
            r.release.wait()
            return
        if reply == b"":  # close without a word
            return
        if isinstance(reply, Held):
            self.wfile.write(reply.data)
            self.wfile.flush()
            r.release.wait()
            return
        if isinstance(reply, Endless):
            chunk = b"x" * 65536
            try:
                self.wfile.write(reply.head)
                while True:
                    self.wfile.write(chunk)
                    with r.lock:
                        r.endless_sent += len(chunk)
            except OSError:
                with r.lock:
                    r.endless_ended += 1  # the program closed the connection
                return
        self.wfile.write(reply)
        self.wfile.flush()
        if r.after_reply:
            r.after_reply()


class _Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def finish_request(self, sock, address):
        r = self.receiver
        with r.lock:
            r.connections += 1
        if r.tls:
            try:
                sock = r.tls.wrap_socket(sock, server_side=True)
            except (ssl.SSLError, OSError):
                with r.lock:
                    r.failed_handshakes += 1
                return
        try:
            _Handler(sock, address, self)
        finally:
            if r.tls:
                sock.close()

    def handle_error(self, request, address):
        pass  # a client that went away mid-answer is part of several cases


class _Server6(_Server):
    address_family = socket.AF_INET6


class Receiver:
    """A webhook on 127.0.0.1 (or host, "::1" say). reply(receiver, request,
    n) gives the raw answer to the n-th request, None to hold it unanswered,
    b"" to close, a Held to send its bytes and then hold the connection, an
    Endless to send a body without end."""

    def __init__(self, reply=None, tls=None, settings_file=None, port=0, host="127.0.0.1"):
        self.reply = reply or (lambda r, q, n: answer(200, "OK", body=b"ok"))
        self.tls = tls
        self.settings_file = settings_file
        self.after_reply = None
        self.lock = threading.Lock()
        self.requests = []
        self.connections = 0
        self.failed_handshakes = 0
        self.endless_sent = 0
        self.endless_ended = 0
        self.release = threading.Event()
        self.host = host
        self.server = (_Server6 if ":" in host else _Server)((host, port), _Handler)
        self.server.receiver = self
        self.port = self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def url(self, path="/hooks/e2e"):
        host = f"[{self.host}]" if ":" in self.host else self.host
        return ("https" if self.tls else "http") + f"://{host}:{self.port}{path}"

    def bodies(self):
        with self.lock:
            return [q.body for q in self.requests if q.method == "POST"]

    def close(self):
        self.release.set()
        self.server.shutdown()
        self.server.server_close()


class TrapProxy:
    """The proxy every run is given for names other than 127.0.0.1: a notice
    meant for the built-in webhook shows up here as CONNECT host:443 and the
    connection is closed without an answer, so no test reaches the network
    and the post fails as a post to an unreachable webhook does. (A proxy's
    refusal, such as 403, would be the post's answer.)"""

    def __init__(self):
        self.targets = []
        self.receiver = Receiver(self._reply)

    def _reply(self, receiver, request, n):
        self.targets.append((request.method, request.path))
        return b""

    def url(self):
        return f"http://127.0.0.1:{self.receiver.port}"

    def close(self):
        self.receiver.close()


def peak_memory_kib(pid):
    """The process's peak resident memory (VmHWM) in KiB."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return None


def under_sanitizer(pid):
    """Whether the process runs with AddressSanitizer's runtime."""
    with open(f"/proc/{pid}/maps") as f:
        return "libasan" in f.read()


def has_ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6) as s:
            s.bind(("::1", 0))
        return True
    except OSError:
        return False


def free_port():
    """A port nothing listens on."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


# ---------------------------------------------------------------- program

class Run:
    """One start of the program in the foreground: its debug lines (stderr,
    with arrival times) and the datagrams on its notify socket. With
    closed_stderr its standard error is a pipe that nobody reads: the read
    end is closed before the program starts, and no lines are seen."""

    def __init__(self, binary, env, notify_path, closed_stderr=False):
        self.lines = []  # (seconds since start, text)
        self.notes = []
        self.lock = threading.Lock()
        self.notify = None
        if notify_path:
            self.notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
            if os.path.exists(notify_path):
                os.unlink(notify_path)
            self.notify.bind(notify_path)
            env = dict(env, NOTIFY_SOCKET=notify_path)
        self.started = time.monotonic()
        stderr = subprocess.PIPE
        if closed_stderr:
            read_end, stderr = os.pipe()
            os.close(read_end)
        try:
            self.process = subprocess.Popen([binary], env=env, stdin=subprocess.DEVNULL,
                                            stdout=subprocess.DEVNULL, stderr=stderr)
        finally:
            if closed_stderr:
                os.close(stderr)
        self.readers = [] if closed_stderr else [threading.Thread(target=self._read_stderr, daemon=True)]
        if self.notify:
            self.readers.append(threading.Thread(target=self._read_notify, name="notify", daemon=True))
        for t in self.readers:
            t.start()

    def _read_stderr(self):
        for raw in self.process.stderr:
            with self.lock:
                self.lines.append((time.monotonic() - self.started,
                                   raw.decode("utf-8", "replace").rstrip("\n")))

    def _read_notify(self):
        while True:
            try:
                data = self.notify.recv(4096)
            except OSError:
                return
            if not data:  # shut down by _finish
                return
            with self.lock:
                self.notes.append(data.decode("utf-8", "replace"))

    def text_lines(self):
        with self.lock:
            return [t for _, t in self.lines]

    def wait_line(self, text, timeout=5, count=1):
        return wait_until(lambda: self.text_lines().count(text) >= count, timeout)

    def wait_for(self, predicate, timeout=5):
        """Waits until predicate holds for the debug lines so far."""
        return wait_until(lambda: predicate(self.text_lines()), timeout)

    def wait_note(self, text, timeout=5):
        def seen():
            with self.lock:
                return any(text in n for n in self.notes)
        return wait_until(seen, timeout)

    def stop(self, timeout=10):
        """SIGTERM; the exit code."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = self.process.wait()
        self._finish()
        return code

    def kill9(self):
        self.process.kill()
        code = self.process.wait()
        self._finish()
        return code

    def _finish(self):
        for t in self.readers:
            if t.name != "notify":
                t.join(5)
        if self.process.stderr:
            self.process.stderr.close()
        if self.notify:
            # The process has ended: what it sent last may still wait in the
            # socket, unread by the reader thread.
            while True:
                try:
                    data = self.notify.recv(4096, socket.MSG_DONTWAIT)
                except OSError:
                    break
                with self.lock:
                    self.notes.append(data.decode("utf-8", "replace"))
            path = self.notify.getsockname()
            try:
                self.notify.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            for t in self.readers:
                if t.name == "notify":
                    t.join(5)
            self.notify.close()
            os.unlink(path)

    def peak_memory_kib(self):
        """The most resident memory the process has had so far (VmHWM)."""
        return peak_memory_kib(self.process.pid)

    def debug(self):
        return "\n".join(f"  {s:6.2f} {t}" for s, t in self.lines)


class Case:
    """A temporary folder with a journal, a settings file and the runs of the
    program on them."""

    def __init__(self, binary=None):
        self.binary = binary or BINARY
        if not self.binary or not os.access(self.binary, os.X_OK):
            raise RuntimeError(f"no program to run at {self.binary!r} (VANTREL_E2E_BINARY names it for the tests)")
        self.dir = tempfile.mkdtemp(prefix="vantrel-e2e-")
        self.journal = os.path.join(self.dir, "journal")
        os.mkdir(self.journal)
        self.settings = os.path.join(self.dir, "settings.reg")
        self.trap = TrapProxy()
        self.receivers = []
        self.runs = []
        with open("/proc/sys/kernel/random/boot_id") as f:
            self.boot_id = f.read().strip().replace("-", "")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        for run in self.runs:
            if run.process.poll() is None:
                run.kill9()
        for r in self.receivers:
            r.close()
        self.trap.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def receiver(self, reply=None, tls=None, port=0, host="127.0.0.1"):
        r = Receiver(reply, tls, self.settings, port, host)
        self.receivers.append(r)
        return r

    def add_entries(self, *entries, file="e2e.journal", hostname=HOST, times=None, boot=None, clock=0):
        """Appends journal entries (priority, message) of the watched source
        to a journal file; their record numbers go on from the file's last
        one, starting at 1, so a new file starts a sequence of its own, as a
        journal does after a reboot or after its files were removed.
        hostname None writes no _HOSTNAME. times gives each entry's realtime
        stamp (microseconds since 1970); otherwise it is the time of writing,
        off by clock microseconds (a wall clock that is wrong), while the
        monotonic stamp goes on. boot: the _BOOT_ID, this machine's boot by
        default."""
        self.add_fields(*[{**({"_HOSTNAME": hostname} if hostname else {}), "SYSLOG_IDENTIFIER": "Pervasive SQL",
                           "PRIORITY": priority, "MESSAGE": message} for priority, message in entries],
                        file=file, times=times, boot=boot, clock=clock)

    def add_fields(self, *entries, file="e2e.journal", times=None, boot=None, clock=0):
        """Appends journal entries given as their fields ({name: value}, in
        order, values on one line) to a journal file, stamped and numbered as
        add_entries does."""
        self.add_many(entries, file=file, times=times, boot=boot, clock=clock)

    def add_many(self, entries, file="e2e.journal", times=None, boot=None, clock=0):
        """add_fields for any iterable of entries, handed to the writer in
        batches as they come, so that a journal of a few hundred thousand
        entries needs no more memory than one batch; times may be a range."""
        path = os.path.join(self.journal, file)
        with subprocess.Popen([JOURNAL_REMOTE, "-o", path, "-"], stdin=subprocess.PIPE,
                              stderr=subprocess.DEVNULL) as writer:
            batch = []
            for i, fields in enumerate(entries):
                now = time.time_ns() // 1000
                realtime = times[i] if times else now + clock
                batch.append(f"__REALTIME_TIMESTAMP={realtime}\n__MONOTONIC_TIMESTAMP={now}\n"
                             f"_BOOT_ID={boot or self.boot_id}\n" +
                             "".join(f"{name}={value}\n" for name, value in fields.items()) + "\n")
                if len(batch) == 5000:
                    writer.stdin.write("".join(batch).encode())
                    batch = []
            writer.stdin.write("".join(batch).encode())
        if writer.returncode != 0:
            raise subprocess.CalledProcessError(writer.returncode, [JOURNAL_REMOTE, "-o", path, "-"])

    def raise_sequence(self, last, file="e2e.journal"):
        """Makes the next entry appended to a journal file take number
        last + 1, as on a host whose journal has counted that many entries:
        the header's tail_entry_seqnum, which the writer goes on from."""
        with open(os.path.join(self.journal, file), "r+b") as f:
            f.seek(160)
            f.write(last.to_bytes(8, "little"))

    def write_settings(self, *value_lines, raw=None):
        """Writes the settings file: the key with the given value lines
        ("name"=data, as in a registry export), or raw bytes."""
        if raw is None:
            raw = ("Windows Registry Editor Version 5.00\n\n[" + KEY + "]\n" +
                   "".join(line + "\n" for line in value_lines)).encode("utf-8")
        with open(self.settings, "wb") as f:
            f.write(raw)

    def settings_bytes(self):
        with open(self.settings, "rb") as f:
            return f.read()

    def stored(self, name, text=None):
        """The data of one value of the key as the file holds it ("dword:…",
        "\"text\"", "hex:…"), or None."""
        if text is None:
            text = self.settings_bytes()
        return stored_in(text, name)

    def start(self, binary=None, notify=True, env=None, user=None, closed_stderr=False, capabilities=True):
        """Starts the program. user: run it as that user; capabilities
        False: run it as root is run by the service's unit, without any
        capability, so that file permissions hold for it (nothing changes
        for a user who has none)."""
        e = {k: v for k, v in os.environ.items()
             if k.lower() not in ("http_proxy", "https_proxy", "all_proxy", "no_proxy", "computername",
                                  "notify_socket")}
        e.update(VANTREL_REGISTRY=self.settings, VANTREL_JOURNAL_DIR=self.journal, COMPUTERNAME=HOST,
                 https_proxy=self.trap.url(), http_proxy=self.trap.url(), no_proxy="127.0.0.1,::1")
        e.update(env or {})
        command = binary or self.binary
        if user:
            # setpriv keeps the environment; the program runs as that user.
            account = pwd.getpwnam(user)
            wrapper = os.path.join(self.dir, "as-user")
            with open(wrapper, "w") as f:
                f.write(f"#!/bin/sh\nexec setpriv --reuid={account.pw_uid} --regid={account.pw_gid} --clear-groups"
                        f" {command}\n")
            os.chmod(wrapper, 0o755)
            command = wrapper
        elif not capabilities and os.geteuid() == 0:
            wrapper = os.path.join(self.dir, "without-capabilities")
            with open(wrapper, "w") as f:
                f.write(f"#!/bin/sh\nexec setpriv --inh-caps=-all --bounding-set=-all {command}\n")
            os.chmod(wrapper, 0o755)
            command = wrapper
        notify_path = os.path.join(self.dir, f"notify{len(self.runs)}") if notify else None
        run = Run(command, e, notify_path, closed_stderr)
        self.runs.append(run)
        return run

    def run_until(self, predicate, timeout=6, **start_args):
        """Starts the program, waits for predicate(run), stops it with
        SIGTERM; the run, its exit code and whether predicate held."""
        run = self.start(**start_args)
        held = wait_until(lambda: predicate(run), timeout)
        code = run.stop()
        return run, code, held


def stored_in(text, name):
    if text.startswith(b"\xff\xfe"):
        text = text[2:].decode("utf-16-le")
    else:
        text = text.decode("utf-8")
    section = None
    found = None
    for line in text.replace("\r\n", "\n").split("\n"):
        if line.startswith("["):
            section = line.strip("[]").lower()
            continue
        m = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
        if m and section == KEY.lower() and m.group(1).lower() == name.lower():
            found = m.group(2)
    return found


def self_signed(folder):
    """A server TLS context with a certificate made now, for localhost."""
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                    "-nodes", "-keyout", key, "-out", cert, "-days", "1", "-subj", "/CN=localhost"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    return context


# ---------------------------------------------------------------- as a program

def serve_webhook(argv):
    """harness.py webhook PORT_FILE NOTICES_FILE [--host ADDRESS] [--hold]
    [--hold-until FILE] [--tls]: the chat webhook for scripts and booted test
    machines. It listens on ADDRESS (127.0.0.1 unless given; ::1 for IPv6) on
    a free port, writes that port to PORT_FILE once it listens, appends each
    posted body, one per line, to NOTICES_FILE, and answers 200; with --hold
    it records each body and never answers, as a chat server that hangs
    would; with --hold-until it answers once FILE exists. --tls: https, with a
    self-signed certificate made at the start (by openssl). It runs until it
    is stopped."""
    import argparse
    parser = argparse.ArgumentParser(prog="harness.py webhook", description="A chat webhook that records notices.")
    parser.add_argument("port_file")
    parser.add_argument("notices")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--hold", action="store_true")
    parser.add_argument("--hold-until")
    parser.add_argument("--tls", action="store_true")
    options = parser.parse_args(argv)
    written = threading.Lock()

    def reply(receiver, request, n):
        if request.method == "POST":
            with written, open(options.notices, "ab") as notices:
                notices.write(request.body + b"\n")
        if options.hold_until:
            # Held until the test's file appears, or for five minutes at most,
            # so a test that failed before making it leaves no endless wait.
            deadline = time.monotonic() + 300
            while not os.path.exists(options.hold_until) and time.monotonic() < deadline:
                time.sleep(0.05)
        return None if options.hold else answer(200, "OK", body=b"ok")

    tls = self_signed(tempfile.mkdtemp(prefix="webhook-")) if options.tls else None
    receiver = Receiver(reply, tls=tls, host=options.host)
    # Whoever waits for the port reads it whole or not at all.
    with open(options.port_file + ".new", "w") as port_file:
        port_file.write(str(receiver.port))
    os.replace(options.port_file + ".new", options.port_file)
    threading.Event().wait()


if __name__ == "__main__":
    if sys.argv[1:2] != ["webhook"]:
        sys.exit("usage: harness.py webhook PORT_FILE NOTICES_FILE [--host ADDRESS] [--hold] [--hold-until FILE] "
                 "[--tls]")
    serve_webhook(sys.argv[2:])
