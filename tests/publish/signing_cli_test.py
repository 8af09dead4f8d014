#!/usr/bin/env python3
"""vorlen-publish's signing: keygen, the release statement (patchlist.txt.sig)
that --signing-key writes and `resign` renews, checked with Debian's openssl
(by the command the operator's guide documents) and read as the patcher reads it.

    VORLEN_PUBLISH_TOOL=path/to/vorlen-publish signing_cli_test.py [Class ...]

VerifySignatures runs `verify --public-key` against nginx (server/serve) on
127.0.0.1; VORLEN_SOURCE_DIR names the source tree when it is not this file's."""
import hashlib
import os
import re
import shutil
import stat
import subprocess
import time
import unittest

from publish_cli_test import TIMEOUT, TOOL, ToolFixture, pattern
from verify_cli_test import SOURCE, VerifyFixture

DAY = 24 * 3600


def utc_text(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


def utc_seconds(text):
    return int(time.mktime(time.strptime(text, "%Y-%m-%dT%H:%M:%SZ"))) - time.timezone


def key_id(key):
    """The id of a key (private or public PEM), from openssl's DER of its public half."""
    with open(key, "rb") as f:
        public = b"PUBLIC KEY" in f.read()
    der = subprocess.run(["openssl", "pkey", *(["-pubin"] if public else []), "-in", key, "-pubout", "-outform",
                          "DER"], capture_output=True, check=True, timeout=TIMEOUT).stdout
    return hashlib.sha256(der).hexdigest()[:16]


def statement_fields(text):
    """The statement's lines before its signatures as a dict, and its signatures
    as (key id, base64) pairs in their order."""
    fields, signatures = {}, []
    for line in text.decode().splitlines():
        name, value = line.split(" ", 1)
        if name == "signature":
            signatures.append(tuple(value.split(" ")))
        else:
            fields[name] = value
    return fields, signatures


def documented_check():
    """The operator's guide's shell lines that check a statement with openssl alone."""
    with open(os.path.join(SOURCE, "docs", "operating.md"), encoding="utf-8") as f:
        blocks = re.findall(r"```sh\n(.*?)```", f.read(), re.S)
    found = [block for block in blocks if "with openssl alone" in block]
    assert len(found) == 1, "docs/operating.md has no one block that checks a statement with openssl alone"
    return found[0]


class SigningFixture(ToolFixture):
    """Two key pairs (A from keygen, B from openssl), two game files and a patcher."""

    def setUp(self):
        super().setUp()
        self.keys = os.path.join(self.scratch, "keys")
        self.assertEqual(self.keygen(self.keys).returncode, 0)
        self.private = os.path.join(self.keys, "private.pem")
        self.public = os.path.join(self.keys, "public.pem")
        self.private_b = os.path.join(self.scratch, "b.pem")
        self.public_b = os.path.join(self.scratch, "b-public.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out",
                        self.private_b], check=True, capture_output=True, timeout=TIMEOUT)
        subprocess.run(["openssl", "pkey", "-in", self.private_b, "-pubout", "-out", self.public_b], check=True,
                       timeout=TIMEOUT)
        self.put("data/a.bin", pattern(3000, 1))
        self.put("b.txt", b"b\n")
        self.exe = os.path.join(self.scratch, "new.exe")
        with open(self.exe, "wb") as f:
            f.write(b"MZ" + pattern(5000, 2))

    def keygen(self, folder):
        return subprocess.run([TOOL, "keygen", folder], capture_output=True, timeout=TIMEOUT)

    def signed(self, *keys, expiry=()):
        return [option for key in keys for option in ("--signing-key", key)] + list(expiry)

    def resign(self, *options):
        return subprocess.run([TOOL, "resign", *options, self.server], capture_output=True, timeout=TIMEOUT)

    def statement(self):
        return self.read_server("patchlist.txt.sig")

    def openssl_checks(self, statement, public):
        """Runs the guide's openssl lines in a folder of their own with the
        statement and the public key; True when openssl says "Verified OK"."""
        folder = os.path.join(self.scratch, "openssl-check")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        with open(os.path.join(folder, "patchlist.txt.sig"), "wb") as f:
            f.write(statement)
        shutil.copy(public, os.path.join(folder, "public.pem"))
        result = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", documented_check()], cwd=folder,
                                capture_output=True, timeout=TIMEOUT)
        return result.returncode == 0 and b"Verified OK" in result.stdout

    def assertSigns(self, statement, release, keys, patcher=True):
        """The statement names what the folder serves, in the patcher's format."""
        listing = self.read_server("patchlist.txt")
        fields, signatures = statement_fields(statement)
        self.assertTrue(statement.startswith(f"vorlen-release 1\nrelease {release}\n".encode()), statement)
        self.assertEqual(fields["list-sha256"], hashlib.sha256(listing).hexdigest())
        self.assertEqual(fields["list-size"], str(len(listing)))
        if patcher:
            exe = self.read_server("Vorlen-Patcher.exe")
            self.assertEqual(fields["patcher-version"], self.read_server("patcher_version.txt").decode().strip())
            self.assertEqual(fields["patcher-sha256"], hashlib.sha256(exe).hexdigest())
            self.assertEqual(fields["patcher-size"], str(len(exe)))
        else:
            self.assertNotIn("patcher-version", fields)
        self.assertEqual([key for key, _ in signatures], [key_id(key) for key in keys])
        return fields


class Signing(SigningFixture):
    def test_keygen_writes_a_key_pair_as_openssl_does_and_never_overwrites_one(self):
        self.assertEqual(stat.S_IMODE(os.stat(self.private).st_mode), 0o600)
        derived = subprocess.run(["openssl", "pkey", "-in", self.private, "-pubout"], capture_output=True,
                                 check=True, timeout=TIMEOUT).stdout
        with open(self.public, "rb") as f:
            public = f.read()
        self.assertEqual(public, derived)
        self.assertTrue(public.startswith(b"-----BEGIN PUBLIC KEY-----\n"))
        text = subprocess.run(["openssl", "pkey", "-in", self.private, "-text", "-noout"], capture_output=True,
                              check=True, timeout=TIMEOUT).stdout
        self.assertIn(b"prime256v1", text)

        with open(self.private, "rb") as f:
            private = f.read()
        again = self.keygen(self.keys)
        self.assertEqual(again.returncode, 1)
        self.assertIn(b"refusing to overwrite", again.stderr)
        with open(self.private, "rb") as f:
            self.assertEqual(f.read(), private)

    def test_one_statement_signed_by_each_key_that_openssl_checks_and_an_unchanged_release_keeps(self):
        # A leftover signature of an older tool goes.
        os.makedirs(self.server)
        with open(os.path.join(self.server, "Vorlen-Patcher.exe.sig"), "wb") as f:
            f.write(b"\0" * 64)
        result = self.publish(*self.signed(self.private, self.private_b), "--patcher-version", "1.0.6.0",
                              "--patcher-exe", self.exe)
        self.assertPublished(result)
        statement = self.statement()
        fields = self.assertSigns(statement, 1, [self.private, self.private_b])
        self.assertNotIn("expires", fields)
        self.assertIn(f"patchlist.txt.sig: release 1, no expiry, signed by {key_id(self.private)} and "
                      f"{key_id(self.private_b)}\n".encode(), result.stdout)
        self.assertIn(b"Vorlen-Patcher.exe.sig: removed; the statement signs the patcher\n", result.stdout)
        self.assertNotIn("Vorlen-Patcher.exe.sig", os.listdir(self.server))
        self.assertIn(b"\nrelease 1\n", self.read_server(".vorlen-publish-state"))
        # openssl agrees with every signature, by the guide's lines, and refuses a changed line.
        self.assertTrue(self.openssl_checks(statement, self.public))
        self.assertTrue(self.openssl_checks(statement, self.public_b))
        self.assertFalse(self.openssl_checks(statement.replace(b"release 1\n", b"release 9\n"), self.public))

        # Unchanged: nothing is rewritten, not even the randomised signatures.
        before = self.server_stamps()
        result = self.publish(*self.signed(self.private, self.private_b), "--patcher-version", "1.0.6.0",
                              "--patcher-exe", self.exe)
        self.assertPublished(result)
        self.assertIn(b"signed by %s and %s (unchanged)\n" % (key_id(self.private).encode(),
                                                              key_id(self.private_b).encode()), result.stdout)
        self.assertEqual(self.server_stamps(), before)
        dry = self.publish(*self.signed(self.private, self.private_b), "--dry-run")
        self.assertIn(b"patchlist.txt.sig: release 1, no expiry, signed by", dry.stdout)
        self.assertIn(b" (unchanged)\n", dry.stdout)

        # Another key, or an expiry, signs the same release (same number) anew.
        result = self.publish(*self.signed(self.private_b, expiry=("--expires-in", "30")))
        self.assertPublished(result)
        fields = self.assertSigns(self.statement(), 1, [self.private_b])
        self.assertAlmostEqual(utc_seconds(fields["expires"]), time.time() + 30 * DAY, delta=60)
        before = self.server_stamps()
        self.assertPublished(self.publish(*self.signed(self.private_b, expiry=("--expires-in", "30"))))
        self.assertEqual(self.server_stamps(), before)

    def test_the_release_number_rises_with_every_change_and_never_goes_back(self):
        def publish(*extra):
            result = self.publish(*self.signed(self.private), *extra)
            self.assertPublished(result)
            return statement_fields(self.statement())[0]["release"]

        self.assertEqual(publish("--patcher-version", "1.0.6.0", "--patcher-exe", self.exe), "1")
        self.put("b.txt", b"changed\n")
        self.assertEqual(publish(), "2")
        self.assertEqual(publish("--patcher-version", "1.0.7.0"), "3")  # the version alone
        with open(self.exe, "ab") as f:
            f.write(b"a new build")
        self.assertEqual(publish("--patcher-exe", self.exe), "4")  # the executable alone
        self.assertSigns(self.statement(), 4, [self.private])
        # Unsigned publishes count too, and a number once signed is never signed
        # again for other files: the record or the statement, whichever is higher.
        self.put("b.txt", b"unsigned\n")
        self.assertPublished(self.publish("--remove-signatures"))
        self.assertIn(b"\nrelease 5\n", self.read_server(".vorlen-publish-state"))
        self.assertEqual(publish(), "6")
        os.remove(os.path.join(self.server, ".vorlen-publish-state"))
        self.assertEqual(publish(), "6")
        self.put("b.txt", b"again\n")
        self.assertEqual(publish(), "7")

        # An expiry that has passed is written, with a warning.
        past = int(time.time()) - 2 * DAY
        result = self.publish(*self.signed(self.private, expiry=("--expires-at", utc_text(past))))
        self.assertPublished(result)
        self.assertIn(f"warning: the statement expired at {utc_text(past)}: patchers built with the key refuse "
                      f"it".encode(), result.stderr)
        fields, _ = statement_fields(self.statement())
        self.assertEqual((fields["release"], fields["expires"]), ("7", utc_text(past)))

    def test_an_unsigned_release_into_a_signed_folder_is_refused_unless_the_statement_goes(self):
        signed = ("--patcher-version", "1.0.6.0", "--patcher-exe", self.exe)
        self.assertPublished(self.publish(*self.signed(self.private), *signed))
        signed_list, statement = self.read_server("patchlist.txt"), self.statement()
        self.put("c.txt", b"a new file")
        result = self.publish()
        self.assertEqual(result.returncode, 1)
        for text in (b"holds patchlist.txt.sig of a signed release", b"Sign it with --signing-key",
                     b"--remove-signatures", b"nothing was written"):
            self.assertIn(text, result.stderr)
        self.assertEqual((self.read_server("patchlist.txt"), self.statement()), (signed_list, statement))
        self.assertFalse(os.path.exists(os.path.join(self.server, "c.txt")))
        self.assertEqual(self.publish(*self.signed(self.private), "--remove-signatures").returncode, 2)

        result = self.publish("--remove-signatures")
        self.assertPublished(result)
        self.assertIn(b"removed patchlist.txt.sig: patchers built with the public key now refuse every release",
                      result.stderr)
        self.assertIn(b"c.txt ", self.read_server("patchlist.txt"))
        self.assertEqual([name for name in os.listdir(self.server) if name.endswith(".sig")], [])

    def test_a_list_that_cannot_be_written_leaves_the_old_statement_beside_the_old_list(self):
        self.assertPublished(self.publish(*self.signed(self.private)))
        signed_list, statement = self.read_server("patchlist.txt"), self.statement()
        # 400 short lines make a list of about 22 KiB; files may not grow past 8 KiB.
        for i in range(400):
            self.put(f"many/file{i:04d}.dat", b"x")
        result = self.publish(*self.signed(self.private), limit_file_bytes=8192)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual((self.read_server("patchlist.txt"), self.statement()), (signed_list, statement))
        self.assertIn(b"patchlist.txt still names the previous release", result.stderr)
        self.assertPublished(self.publish(*self.signed(self.private)))
        self.assertSigns(self.statement(), 2, [self.private], patcher=False)

    def test_keys_and_expiries_that_cannot_sign_publish_nothing(self):
        rsa = os.path.join(self.scratch, "rsa.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024", "-out", rsa],
                       check=True, capture_output=True, timeout=TIMEOUT)
        twice = os.path.join(self.scratch, "copy.pem")
        shutil.copy(self.private, twice)
        for keys, complaint in (((rsa,), b"is not an ECDSA P-256"), ((self.public,), b"holds no PEM private key"),
                                ((os.path.join(self.scratch, "missing.pem"),), b"cannot read"),
                                ((self.private, twice), f"key {key_id(self.private)} is given twice".encode())):
            with self.subTest(complaint):
                result = self.publish(*self.signed(*keys))
                self.assertEqual(result.returncode, 1)
                self.assertIn(complaint, result.stderr)
                self.assertFalse(os.path.exists(self.server))
        for options in (("--expires-in", "0"), ("--expires-in", "3651"), ("--expires-at", "2030-02-30T00:00:00Z"),
                        ("--expires-at", "2030-01-01 00:00:00"), ("--expires-in", "1", "--expires-at",
                                                                  "2030-01-01T00:00:00Z")):
            with self.subTest(options):
                result = self.publish(*self.signed(self.private), *options)
                self.assertEqual(result.returncode, 2)
                self.assertIn(b"--help", result.stderr)
        self.assertEqual(self.publish("--expires-in", "5").returncode, 2)  # without a key
        self.assertFalse(os.path.exists(self.server))


class Resign(SigningFixture):
    def test_signs_the_release_in_place_again_and_touches_nothing_else(self):
        self.assertPublished(self.publish(*self.signed(self.private), "--patcher-version", "1.0.6.0",
                                          "--patcher-exe", self.exe))
        first = statement_fields(self.statement())[0]
        before = {path: stamp for path, stamp in self.server_stamps().items() if path != "patchlist.txt.sig"}
        result = self.resign(*self.signed(self.private, self.private_b, expiry=("--expires-in", "7")))
        self.assertEqual(result.returncode, 0, result.stderr)
        fields = self.assertSigns(self.statement(), 1, [self.private, self.private_b])
        self.assertEqual({name: fields[name] for name in first}, first)
        self.assertAlmostEqual(utc_seconds(fields["expires"]), time.time() + 7 * DAY, delta=60)
        self.assertEqual(result.stdout.decode(), f"Signed {self.server}/patchlist.txt.sig: release 1, expires "
                         f"{fields['expires']}, signed by {key_id(self.private)} and {key_id(self.private_b)}\n")
        self.assertEqual({path: stamp for path, stamp in self.server_stamps().items()
                          if path != "patchlist.txt.sig"}, before)
        self.assertTrue(self.openssl_checks(self.statement(), self.public_b))

        at = "2031-05-06T07:08:09Z"
        self.assertEqual(self.resign(*self.signed(self.private_b, expiry=("--expires-at", at))).returncode, 0)
        self.assertEqual(statement_fields(self.statement())[0]["expires"], at)
        self.assertEqual(self.resign(*self.signed(self.private_b)).returncode, 0)
        self.assertNotIn("expires", statement_fields(self.statement())[0])

    def test_refuses_a_folder_whose_files_its_statement_does_not_sign(self):
        result = self.resign(*self.signed(self.private))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"is not a server folder", result.stderr)
        self.assertPublished(self.publish("--patcher-version", "1.0.6.0", "--patcher-exe", self.exe))
        result = self.resign(*self.signed(self.private))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"has no patchlist.txt.sig to sign again; publish the release with --signing-key",
                      result.stderr)

        self.assertPublished(self.publish(*self.signed(self.private), "--patcher-version", "1.0.6.0",
                                          "--patcher-exe", self.exe))
        statement = self.statement()
        listing = self.read_server("patchlist.txt")
        cases = (("patchlist.txt", listing + b"extra.txt 0123456789abcdef0123456789abcdef 1\n",
                  f"the list has {len(listing) + 45} bytes, the statement says {len(listing)}"),
                 ("patcher_version.txt", b"1.0.7.0\n", "the version is 1.0.7.0, the statement's 1.0.6.0"),
                 ("Vorlen-Patcher.exe", b"MZ" + pattern(5000, 3), "the patcher's SHA-256 begins "))
        for name, content, difference in cases:
            with self.subTest(name):
                good = self.read_server(name)
                with open(os.path.join(self.server, name), "wb") as f:
                    f.write(content)
                result = self.resign(*self.signed(self.private))
                self.assertEqual(result.returncode, 1)
                self.assertIn(f"are not the release patchlist.txt.sig signs ({difference}".encode(), result.stderr)
                self.assertIn(b"publish the release instead. Nothing was written", result.stderr)
                self.assertEqual(self.statement(), statement)
                with open(os.path.join(self.server, name), "wb") as f:
                    f.write(good)

        # Under the publish lock: not while a publish runs.
        for i in range(1100):
            self.put(f"many/{i:05d}.dat", b"x")
        _, release = self.start_held_publish(*self.signed(self.private))
        result = self.resign(*self.signed(self.private))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"a publish into ", result.stderr)
        self.assertIn(b"is running (process ", result.stderr)
        self.assertEqual(self.statement(), statement)
        status, _ = release()
        self.assertEqual(status, 0)

    def test_wrong_usage_exits_with_2(self):
        for args in ([], ["--signing-key", self.private], [self.server], ["--bogus", self.server],
                     ["--signing-key", self.private, "--expires-in", "x", self.server]):
            result = subprocess.run([TOOL, "resign", *args], capture_output=True, timeout=TIMEOUT)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(b"resign --help", result.stderr)


class VerifySignatures(VerifyFixture):
    """The fixture's release, signed with keys A and B; verify checks its
    statement as patchers holding either key would."""

    def publish(self, *keys):
        self.keys = os.path.join(self.scratch, "keys")
        if not os.path.exists(self.keys):
            for folder in (self.keys, self.keys + "-b"):
                subprocess.run([TOOL, "keygen", folder], check=True, timeout=TIMEOUT)
        self.key_a, self.key_b = (os.path.join(folder, "private.pem") for folder in (self.keys, self.keys + "-b"))
        self.public_a, self.public_b = (os.path.join(folder, "public.pem") for folder in (self.keys, self.keys + "-b"))
        signing = [option for key in (keys or (self.key_a, self.key_b)) for option in ("--signing-key", key)]
        subprocess.run([TOOL, "--quiet", *signing, "--patcher-version", "1.0.6.0", "--patcher-exe", self.patcher,
                        self.game, self.server], check=True, timeout=TIMEOUT)

    def resign(self, folder, *options):
        subprocess.run([TOOL, "resign", "--quiet", *options, folder], check=True, timeout=TIMEOUT)

    def test_verify_finds_what_a_keyed_patcher_would_refuse(self):
        url, _ = self.start_nginx(self.server)
        both = ("--public-key", self.public_a, "--public-key", self.public_b)
        result = self.verify(url, *both)
        self.assertAllMatch(result)
        self.assertEqual(result.statement, f"release 1, no expiry, signed by {key_id(self.public_a)} and "
                                           f"{key_id(self.public_b)}")
        self.assertAllMatch(self.verify(url))
        quiet = self.verify(url, "--quiet", *both)
        self.assertEqual((quiet.returncode, quiet.stdout, quiet.statement), (0, "", None))

        # Another release's version and executable beside this list, and a key it lacks.
        self.resign(self.server, "--signing-key", self.key_a)
        self.write(self.server, "patcher_version.txt", b"1.0.7.0\n")
        self.write(self.server, "Vorlen-Patcher.exe", b"MZ" + b"another build")
        self.assertProblems(self.verify(url, *both), {
            "patchlist.txt.sig": f"not signed by key {key_id(self.public_b)}, so patchers holding only that key "
                                 f"refuse the release",
            "patcher_version.txt": "'1.0.7.0' is not the version the release statement signs (1.0.6.0)",
            "Vorlen-Patcher.exe": "not the patcher the release statement signs (the patcher has 15 bytes, the "
                                  "statement says 40002); patchers with the key refuse it"})

        # Another release's list; then no statement at all.
        self.publish()
        listing = self.read(self.server, "patchlist.txt")
        self.write(self.server, "patchlist.txt", listing.replace(b"readme.txt", b"README.txt"))
        self.assertProblems(self.verify(url, *both), {
            "patchlist.txt": "not the list the release statement signs (the list's SHA-256 begins ",
            "README.txt": "missing (HTTP 404)"})
        self.write(self.server, "patchlist.txt", listing)
        os.remove(os.path.join(self.server, "patchlist.txt.sig"))
        self.assertProblems(self.verify(url, *both), {
            "patchlist.txt.sig": "missing (HTTP 404); patchers with the key refuse the release"})

    def test_an_expired_or_older_statement_is_named_against_the_server_folder(self):
        # A mirror of release 1; the folder goes on to release 2.
        mirror = os.path.join(self.scratch, "mirror")
        shutil.copytree(self.server, mirror)
        url, _ = self.start_nginx(mirror)
        self.release_two()
        result = self.verify(url, "--local", self.server, "--public-key", self.public_a)
        self.assertEqual(result.statement, f"release 1, no expiry, signed by {key_id(self.public_a)} and "
                                           f"{key_id(self.public_b)}")
        found = self.assertProblems(result, {"patchlist.txt": "the live list differs from",
                                             "patchlist.txt.sig": "release 1 is older than release 2 in "})
        self.assertTrue(found["patchlist.txt.sig"].endswith(", which patchers that took it refuse"))

        # The mirror catches up, but its statement expired two days ago (one
        # expired twelve hours ago patchers still take), and not as the folder's.
        for name in ("patchlist.txt", "patchlist.txt.sig", "readme.txt", "data/maps/forest.map", "data/new.dat"):
            os.makedirs(os.path.dirname(os.path.join(mirror, name)), exist_ok=True)
            self.write(mirror, name, self.read(self.server, name))
        checked = "8 listed files and patcher 1.0.6.0"
        self.assertAllMatch(self.verify(url, "--local", self.server, "--public-key", self.public_a), checked)
        expired = int(time.time()) - 2 * DAY
        self.resign(mirror, "--signing-key", self.key_a, "--expires-at", utc_text(expired))
        found = self.assertProblems(self.verify(url, "--local", self.server, "--public-key", self.public_a), {
            "patchlist.txt.sig": f"expired at {utc_text(expired)}; patchers refuse it since "
                                 f"{utc_text(expired + DAY)} (now "})
        self.assertIn("; differs from the server folder's (folder: release 2, no expiry, signed by ",
                      found["patchlist.txt.sig"])
        self.resign(mirror, "--signing-key", self.key_a, "--expires-at", utc_text(int(time.time()) - DAY // 2))
        self.assertAllMatch(self.verify(url, "--public-key", self.public_a), checked)


class SigningOnWindows(ToolFixture):
    """The Windows build (CNG) under Wine: its keys and statements are openssl's
    and the Linux build's, and it reads keys openssl wrote."""

    def setUp(self):
        super().setUp()
        self.exe = os.environ.get("VORLEN_PUBLISH_EXE", "")
        self.source = os.environ.get("VORLEN_SOURCE_DIR", "")
        if not self.exe:
            self.skipTest("VORLEN_PUBLISH_EXE is not set")
        self.put("data/a.bin", pattern(3000, 3))
        self.patcher = os.path.join(self.scratch, "new.exe")
        with open(self.patcher, "wb") as f:
            f.write(b"MZ" + pattern(5000, 4))

    def on_windows(self, *args):
        def windows(arg):
            return "Z:" + arg.replace("/", "\\") if arg.startswith("/") else arg
        return subprocess.run([os.path.join(self.source, "cmake", "wine-run"), self.exe, *map(windows, args)],
                              capture_output=True, timeout=TIMEOUT)

    def test_keys_and_statements_are_interchangeable_with_openssl_and_the_linux_build(self):
        keys = os.path.join(self.scratch, "keys")
        result = self.on_windows("keygen", keys)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.on_windows("keygen", keys).returncode, 1)
        private, public = os.path.join(keys, "private.pem"), os.path.join(keys, "public.pem")
        derived = subprocess.run(["openssl", "pkey", "-in", private, "-pubout"], capture_output=True, check=True,
                                 timeout=TIMEOUT).stdout
        with open(public, "rb") as f:
            self.assertEqual(f.read(), derived)
        # A SEC1 key from openssl ecparam as the second key.
        sec1 = os.path.join(self.scratch, "sec1.pem")
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", sec1],
                       check=True, capture_output=True, timeout=TIMEOUT)

        signing = ("--signing-key", private, "--signing-key", sec1)
        result = self.on_windows(*signing, "--patcher-version", "1.0.6.0", "--patcher-exe", self.patcher, self.game,
                                 self.server)
        self.assertEqual(result.returncode, 0, result.stderr)
        checker = Signing("test_keygen_writes_a_key_pair_as_openssl_does_and_never_overwrites_one")
        checker.scratch, checker.server = self.scratch, self.server
        statement = self.read_server("patchlist.txt.sig")
        checker.assertSigns(statement, 1, [private, sec1])
        self.assertTrue(checker.openssl_checks(statement, public))
        # The Linux build takes the Windows build's statement as its own, and the other way round.
        result = self.publish(*signing, "--patcher-version", "1.0.6.0", "--patcher-exe", self.patcher)
        self.assertIn(b" (unchanged)\n", result.stdout)
        result = self.on_windows("resign", "--signing-key", sec1, "--expires-at", "2031-01-01T00:00:00Z", self.server)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(f"release 1, expires 2031-01-01T00:00:00Z, signed by {key_id(sec1)}".encode(), result.stdout)
        result = self.publish("--signing-key", sec1, "--expires-at", "2031-01-01T00:00:00Z")
        self.assertIn(b" (unchanged)\n", result.stdout)

        # A public key of another kind is named by both builds before anything is fetched.
        rsa, rsa_public = os.path.join(self.scratch, "rsa.pem"), os.path.join(self.scratch, "rsa-public.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024", "-out", rsa],
                       check=True, capture_output=True, timeout=TIMEOUT)
        subprocess.run(["openssl", "pkey", "-in", rsa, "-pubout", "-out", rsa_public], check=True, timeout=TIMEOUT)
        on_linux = lambda *args: subprocess.run([TOOL, *args], capture_output=True, timeout=TIMEOUT)  # noqa: E731
        for run in (self.on_windows, on_linux):
            result = run("verify", "--public-key", rsa_public, "http://127.0.0.1:9/fs")
            self.assertEqual(result.returncode, 1, result.stdout)
            self.assertIn(b"is not an ECDSA P-256 (prime256v1) key", result.stdout)


if __name__ == "__main__":
    unittest.main()
