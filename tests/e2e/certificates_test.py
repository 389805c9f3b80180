#!/usr/bin/env python3
"""What the real program does with the chat server's certificate under each
"tls" setting: servers on 127.0.0.1 with a certificate from a test authority
the program is told to trust, two self-signed ones (for "localhost": an
unknown authority and another name), and an expired one from the test
authority. What goes on the wire, what is stored, and what the status line
and the debug lines say.

Every row starts from "lastrecnum" 0 and one new entry, so the problems
notice goes out."""
import hashlib
import os
import re
import ssl
import subprocess
import unittest

from harness import PROBLEMS_TEXT, SHORT_TIMEOUTS_BINARY, Case, notice, self_signed

NAME = "Varasto"
FAILED = "virhe chat postauksesssa =REST request failed: "


def openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_authority(folder):
    """A test authority (authority.pem, authority.key) and the files that
    `openssl ca` signs with."""
    openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", "authority.key", "-out", "authority.pem", "-days", "2", "-subj", "/CN=Vantrel test authority",
            cwd=folder)
    open(os.path.join(folder, "index.txt"), "w").close()
    with open(os.path.join(folder, "serial"), "w") as f:
        f.write("1000\n")
    with open(os.path.join(folder, "ca.cnf"), "w") as f:
        f.write("[ca]\ndefault_ca = test\n[test]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\n"
                "default_md = sha256\npolicy = any\ncopy_extensions = copy\nunique_subject = no\n"
                "[any]\ncommonName = supplied\n")
    return os.path.join(folder, "authority.pem")


def signed(folder, name, start="", end=""):
    """A server context with a certificate for 127.0.0.1 signed by the test
    authority, valid from start to end (openssl's YYMMDDHHMMSSZ; now for a
    day when not given)."""
    openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
            "-keyout", f"{name}.key", "-out", f"{name}.csr", "-subj", "/CN=127.0.0.1",
            "-addext", "subjectAltName=IP:127.0.0.1", cwd=folder)
    dates = ["-startdate", start, "-enddate", end] if start else ["-days", "1"]
    openssl("ca", "-batch", "-config", "ca.cnf", "-cert", "authority.pem", "-keyfile", "authority.key",
            "-in", f"{name}.csr", "-out", f"{name}.pem", "-notext", *dates, cwd=folder)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(folder, f"{name}.pem"), os.path.join(folder, f"{name}.key"))
    return context


def other_self_signed(folder):
    """A second self-signed certificate for localhost, with a key of its own."""
    sub = os.path.join(folder, "second")
    os.mkdir(sub)
    return self_signed(sub), os.path.join(sub, "cert.pem")


def key_sha256(cert_file):
    """The SHA-256 of the certificate's public key (SubjectPublicKeyInfo), in hex."""
    public = subprocess.run(["openssl", "x509", "-in", cert_file, "-pubkey", "-noout"], check=True,
                            capture_output=True).stdout
    der = subprocess.run(["openssl", "pkey", "-pubin", "-outform", "der"], input=public, check=True,
                         capture_output=True).stdout
    return hashlib.sha256(der).hexdigest()


class Alternating:
    """Server contexts taken in turn, one per connection: a server whose key
    changes between two handshakes."""

    def __init__(self, *contexts):
        self.contexts = contexts
        self.n = 0

    def wrap_socket(self, sock, server_side):
        context = self.contexts[self.n % len(self.contexts)]
        self.n += 1
        return context.wrap_socket(sock, server_side=server_side)


def status_notes(run):
    with run.lock:
        return [line[len("STATUS="):] for note in run.notes for line in note.split("\n")
                if line.startswith("STATUS=")]


def verify_failed(why):
    return f"The server's certificate does not verify ({why}): 'tls' is 'verify', so nothing was sent"


def key_changed(shown, pinned):
    return (f"The server's key has changed: SHA-256 {shown}, pinned {pinned}; nothing was sent. To accept the new "
            "key, delete 'tlspin' or set it to the new fingerprint")


class Certificates(unittest.TestCase):
    def setUp(self):
        if not SHORT_TIMEOUTS_BINARY:
            self.skipTest("VANTREL_E2E_SHORT_TIMEOUTS_BINARY names no program")

    def check(self, c, tls, settings, expect_delivered, connections=None):
        """One check against a webhook served with tls; (run, hook)."""
        hook = c.receiver(tls=tls)
        c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000000',
                         *settings)
        c.add_entries((3, "licence limit reached"))
        authority = os.path.join(c.dir, "authority.pem")
        run, code, held = c.run_until(lambda r: any(s.startswith("Last check") for s in status_notes(r)),
                                      env={"VANTREL_TEST_TRUSTED_AUTHORITIES": authority}
                                      if os.path.exists(authority) else None)
        self.assertTrue(held, run.debug())
        self.assertEqual(code, 0)
        self.assertEqual(hook.bodies(), [notice(PROBLEMS_TEXT, NAME)] if expect_delivered else [])
        self.assertEqual(c.stored("lastrecnum"), "dword:00000001" if expect_delivered else "dword:00000000")
        if connections is not None:
            self.assertEqual(hook.connections, connections)
        return run, hook

    def test_each_rule_against_each_server(self):
        # (row, server, settings, delivered, connections, what the status
        #  line says after "1 new entry, ", stored "tlspin" (True: the
        #  server's key))
        rows = [
            ("the test authority, no tls", "authority", [], True, 1, "notice delivered; next", None),
            ("the test authority, verify", "authority", ['"tls"="verify"'], True, 1, "notice delivered; next", None),
            ("the test authority, pin: nothing pinned", "authority", ['"tls"="pin"'], True, 1,
             "notice delivered; next", None),
            ("self-signed, no tls: sent again without the checks, and said", "self", [], True, 2,
             "notice delivered (certificate not verified: unknown authority, name, key SHA-256 {key}, sent with the "
             "checks off); next", None),
            ("self-signed, accept", "self", ['"tls"="accept"'], True, 2,
             "notice delivered (certificate not verified: unknown authority, name, key SHA-256 {key}, sent with the "
             "checks off); next", None),
            ("self-signed, verify: nothing sent", "self", ['"tls"="verify"'], False, 1,
             "notice not delivered: " + verify_failed("unknown authority, name; key SHA-256 {key}") + "; retried",
             None),
            ("expired, verify: nothing sent", "expired", ['"tls"="verify"'], False, 1,
             "notice not delivered: " + verify_failed("dates; key SHA-256 {key}") + "; retried", None),
            ("expired, no tls", "expired", [], True, 2,
             "notice delivered (certificate not verified: dates, key SHA-256 {key}, sent with the checks off); next",
             None),
            ("self-signed, pin: the first key is pinned", "self", ['"tls"="pin"'], True, 2,
             "notice delivered (certificate not verified: unknown authority, name, key SHA-256 {key}, sent with the "
             "checks off and its key pinned); next", True),
            ("self-signed, pinned by hand", "self", ['"tls"="pin"', '"tlspin"="{KEY}"'], True, 2,
             "notice delivered (certificate not verified: unknown authority, name, key SHA-256 {key}, accepted by "
             "its pinned key); next", True),
            ("self-signed, another key pinned: nothing sent", "self", ['"tls"="pin"', '"tlspin"="{other}"'], False, 1,
             "notice not delivered: " + key_changed("{key}", "{other}") + "; retried", False),
            ("an unknown tls: named, and the certificate accepted", "self", ['"tls"="strict"'], True, 2,
             "notice delivered (certificate not verified: unknown authority, name, key SHA-256 {key}, sent with the "
             "checks off); Invalid value 'strict' for 'tls' (accept, verify or pin): certificates are accepted as "
             "without it; next", None),
        ]
        for row, server, settings, delivered, connections, said, pinned in rows:
            with self.subTest(row), Case(SHORT_TIMEOUTS_BINARY) as c:
                make_authority(c.dir)
                _, other_file = other_self_signed(c.dir)
                other = key_sha256(other_file)
                if server == "authority":
                    tls, cert = signed(c.dir, "server"), os.path.join(c.dir, "server.pem")
                elif server == "expired":
                    tls = signed(c.dir, "expired", "200101000000Z", "200102000000Z")
                    cert = os.path.join(c.dir, "expired.pem")
                else:
                    tls, cert = self_signed(c.dir), os.path.join(c.dir, "cert.pem")
                key = key_sha256(cert)
                settings = [s.replace("{other}", other).replace("{KEY}", key.upper()) for s in settings]
                run, hook = self.check(c, tls, settings, delivered, connections)
                said = said.format(key=key, other=other)
                notes = status_notes(run)
                self.assertTrue(any(re.fullmatch(r"Last check [-\d: ]+: 1 new entry, " + re.escape(said) + ".*", s)
                                    for s in notes), "\n".join(notes))
                if not delivered:
                    self.assertIn(FAILED + said[len("notice not delivered: "):-len("; retried")], run.text_lines())
                stored = c.stored("tlspin")
                if pinned is True:
                    self.assertEqual(stored.lower(), f'"{key}"')
                elif pinned is False:
                    self.assertEqual(stored, f'"{other}"')
                else:
                    self.assertIsNone(stored)

    def test_a_pinned_key_is_kept_and_another_refused_before_any_request(self):
        with Case(SHORT_TIMEOUTS_BINARY) as c:
            first = self_signed(c.dir)
            first_key = key_sha256(os.path.join(c.dir, "cert.pem"))
            second, second_file = other_self_signed(c.dir)
            second_key = key_sha256(second_file)

            run, hook = self.check(c, first, ['"tls"="pin"'], True)
            self.assertEqual(c.stored("tlspin"), f'"{first_key}"')
            port = hook.port
            hook.close()

            # The same address, another key: refused with both fingerprints.
            hook = c.receiver(tls=second, port=port)
            c.add_entries((3, "licence limit reached again"))
            refused = FAILED + key_changed(second_key, first_key)
            run, code, held = c.run_until(lambda r: refused in r.text_lines())
            self.assertTrue(held, run.debug())
            self.assertEqual(hook.requests, [])
            self.assertEqual(hook.connections, 1)
            self.assertEqual(c.stored("tlspin"), f'"{first_key}"')
            self.assertEqual(c.stored("lastrecnum"), "dword:00000001")
            hook.close()

            # A server whose key changes between the refused handshake and
            # the one without checks: the request is never sent.
            c.write_settings(f'"chaturl"="{hook.url()}"', f'"instancename"="{NAME}"', '"lastrecnum"=dword:00000001',
                             '"tls"="pin"')
            hook = c.receiver(tls=Alternating(first, second), port=port)
            run, code, held = c.run_until(lambda r: FAILED + key_changed(second_key, first_key) in r.text_lines())
            self.assertTrue(held, run.debug())
            self.assertEqual(hook.requests, [])
            self.assertEqual(hook.connections, 2)
            self.assertIsNone(c.stored("tlspin"))


if __name__ == "__main__":
    unittest.main()
