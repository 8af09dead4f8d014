#!/usr/bin/env python3
"""vorlen-publish's signing: keygen, --signing-key, and signatures that Debian's
openssl accepts (after turning the r‖s the patcher reads into the DER openssl
expects).

    VORLEN_PUBLISH_TOOL=path/to/vorlen-publish signing_cli_test.py [Class ...]

VerifySignatures runs `verify --public-key` against nginx (server/serve) on
127.0.0.1; VORLEN_SOURCE_DIR names the source tree when it is not this file's."""
import os
import stat
import subprocess
import unittest

from publish_cli_test import TIMEOUT, TOOL, ToolFixture, pattern
from verify_cli_test import VerifyFixture


def der_signature(raw):
    """r‖s (32 bytes each) as the DER SEQUENCE of two INTEGERs."""
    def integer(value):
        value = value.lstrip(b"\0") or b"\0"
        if value[0] & 0x80:
            value = b"\0" + value
        return b"\x02" + bytes([len(value)]) + value
    body = integer(raw[:32]) + integer(raw[32:])
    return b"\x30" + bytes([len(body)]) + body


class Signing(ToolFixture):
    def setUp(self):
        super().setUp()
        self.keys = os.path.join(self.scratch, "keys")
        self.assertEqual(self.keygen(self.keys).returncode, 0)
        self.private = os.path.join(self.keys, "private.pem")
        self.public = os.path.join(self.keys, "public.pem")
        self.put("data/a.bin", pattern(3000, 1))
        self.put("b.txt", b"b\n")
        self.exe = os.path.join(self.scratch, "new.exe")
        with open(self.exe, "wb") as f:
            f.write(b"MZ" + pattern(5000, 2))

    def keygen(self, folder):
        return subprocess.run([TOOL, "keygen", folder], capture_output=True, timeout=TIMEOUT)

    def openssl_verifies(self, message, signature_file):
        with open(signature_file, "rb") as f:
            raw = f.read()
        self.assertEqual(len(raw), 64, signature_file)
        message_file = os.path.join(self.scratch, "message")
        der_file = os.path.join(self.scratch, "signature.der")
        with open(message_file, "wb") as f:
            f.write(message)
        with open(der_file, "wb") as f:
            f.write(der_signature(raw))
        return subprocess.run(["openssl", "dgst", "-sha256", "-verify", self.public, "-signature", der_file,
                               message_file], capture_output=True, timeout=TIMEOUT).returncode == 0

    def served(self, name):
        with open(os.path.join(self.server, name), "rb") as f:
            return f.read()

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

    def test_signatures_verify_with_openssl_and_stay_while_what_they_sign_stays(self):
        result = self.publish("--signing-key", self.private, "--patcher-version", "1.0.6.0", "--patcher-exe", self.exe)
        self.assertEqual(result.returncode, 0, result.stderr)
        exe_bytes = self.served("Vorlen-Patcher.exe")
        self.assertTrue(self.openssl_verifies(self.served("patchlist.txt"),
                                              os.path.join(self.server, "patchlist.txt.sig")))
        exe_signature = os.path.join(self.server, "Vorlen-Patcher.exe.sig")
        self.assertTrue(self.openssl_verifies(b"1.0.6.0\0" + exe_bytes, exe_signature))
        self.assertFalse(self.openssl_verifies(b"1.0.7.0\0" + exe_bytes, exe_signature))

        # Unchanged: nothing is rewritten, not even the randomised signatures.
        before = {name: os.stat(os.path.join(self.server, name)).st_ino
                  for name in ("patchlist.txt.sig", "Vorlen-Patcher.exe.sig")}
        result = self.publish("--signing-key", self.private, "--patcher-version", "1.0.6.0", "--patcher-exe", self.exe)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"signatures: 0 written", result.stdout)
        self.assertEqual({name: os.stat(os.path.join(self.server, name)).st_ino for name in before}, before)

        # A changed game file and a new version number: both signed anew.
        self.put("b.txt", b"c\n")
        result = self.publish("--signing-key", self.private, "--patcher-version", "1.0.7.0")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"signatures: 2 written", result.stdout)
        self.assertTrue(self.openssl_verifies(self.served("patchlist.txt"),
                                              os.path.join(self.server, "patchlist.txt.sig")))
        self.assertTrue(self.openssl_verifies(b"1.0.7.0\0" + exe_bytes, exe_signature))

    def test_an_unsigned_release_into_a_signed_folder_is_refused_unless_the_signatures_go(self):
        signed = ("--patcher-version", "1.0.6.0", "--patcher-exe", self.exe)
        self.assertEqual(self.publish("--signing-key", self.private, *signed).returncode, 0)
        signed_list = self.served("patchlist.txt")
        self.put("c.txt", b"a new file")
        result = self.publish()
        self.assertEqual(result.returncode, 1)
        for text in (b"holds patchlist.txt.sig and Vorlen-Patcher.exe.sig", b"Sign it with --signing-key",
                     b"--remove-signatures", b"nothing was written"):
            self.assertIn(text, result.stderr)
        self.assertEqual(self.served("patchlist.txt"), signed_list)
        self.assertFalse(os.path.exists(os.path.join(self.server, "c.txt")))
        self.assertTrue(self.openssl_verifies(signed_list, os.path.join(self.server, "patchlist.txt.sig")))
        self.assertEqual(self.publish("--signing-key", self.private, "--remove-signatures").returncode, 2)

        result = self.publish("--remove-signatures")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"removed patchlist.txt.sig and Vorlen-Patcher.exe.sig: patchers built with the public key "
                      b"now refuse every release", result.stderr)
        self.assertIn(b"c.txt ", self.served("patchlist.txt"))
        self.assertEqual([name for name in os.listdir(self.server) if name.endswith(".sig")], [])

    def test_a_list_that_cannot_be_written_leaves_the_old_signature_beside_the_old_list(self):
        self.assertEqual(self.publish("--signing-key", self.private).returncode, 0)
        signed_list = self.served("patchlist.txt")
        # 400 short lines make a list of about 22 KiB; files may not grow past 8 KiB.
        for i in range(400):
            self.put(f"many/file{i:04d}.dat", b"x")
        result = self.publish("--signing-key", self.private, limit_file_bytes=8192)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(self.served("patchlist.txt"), signed_list)
        self.assertTrue(self.openssl_verifies(signed_list, os.path.join(self.server, "patchlist.txt.sig")))
        self.assertIn(b"patchlist.txt still names the previous release", result.stderr)

    def test_a_key_that_cannot_sign_publishes_nothing(self):
        rsa = os.path.join(self.scratch, "rsa.pem")
        subprocess.run(["openssl", "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024", "-out", rsa],
                       check=True, capture_output=True, timeout=TIMEOUT)
        for key, complaint in ((rsa, b"is not an ECDSA P-256"), (self.public, b"holds no PEM private key"),
                               (os.path.join(self.scratch, "missing.pem"), b"cannot read")):
            with self.subTest(key):
                result = self.publish("--signing-key", key)
                self.assertEqual(result.returncode, 1)
                self.assertIn(complaint, result.stderr)
                self.assertFalse(os.path.exists(self.server))


class VerifySignatures(VerifyFixture):
    """The fixture's release, signed; verify checks it with the public key."""

    def publish(self):
        self.keys = os.path.join(self.scratch, "keys")
        if not os.path.exists(self.keys):
            subprocess.run([TOOL, "keygen", self.keys], check=True, timeout=TIMEOUT)
        subprocess.run([TOOL, "--quiet", "--signing-key", os.path.join(self.keys, "private.pem"),
                        "--patcher-version", "1.0.6.0", "--patcher-exe", self.patcher, self.game, self.server],
                       check=True, timeout=TIMEOUT)

    def test_verify_finds_every_signature_a_keyed_patcher_would_refuse(self):
        url, _ = self.start_nginx(self.server)
        public = os.path.join(self.keys, "public.pem")
        self.assertAllMatch(self.verify(url, "--public-key", public))
        self.assertAllMatch(self.verify(url))

        # The patcher replayed under a newer version, and the list's signature gone.
        self.write(self.server, "patcher_version.txt", b"1.0.7.0\n")
        os.remove(os.path.join(self.server, "patchlist.txt.sig"))
        self.assertProblems(self.verify(url, "--public-key", public), {
            "patchlist.txt.sig": "missing (HTTP 404); patchers with the key refuse the release",
            "Vorlen-Patcher.exe.sig": "does not verify with the public key; patchers with the key refuse"})

        # Another key verifies nothing.
        other = os.path.join(self.scratch, "other-keys")
        subprocess.run([TOOL, "keygen", other], check=True, timeout=TIMEOUT)
        self.publish()
        self.assertProblems(self.verify(url, "--public-key", os.path.join(other, "public.pem")), {
            "patchlist.txt.sig": "does not verify", "Vorlen-Patcher.exe.sig": "does not verify"})


class SigningOnWindows(ToolFixture):
    """The Windows build (CNG) under Wine: its keys and signatures are openssl's
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

    def test_keys_and_signatures_are_interchangeable_with_openssl_and_the_linux_build(self):
        keys = os.path.join(self.scratch, "keys")
        result = self.on_windows("keygen", keys)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.on_windows("keygen", keys).returncode, 1)
        private, public = os.path.join(keys, "private.pem"), os.path.join(keys, "public.pem")
        derived = subprocess.run(["openssl", "pkey", "-in", private, "-pubout"], capture_output=True, check=True,
                                 timeout=TIMEOUT).stdout
        with open(public, "rb") as f:
            self.assertEqual(f.read(), derived)

        result = self.on_windows("--signing-key", private, "--patcher-version", "1.0.6.0", "--patcher-exe",
                                 self.patcher, self.game, self.server)
        self.assertEqual(result.returncode, 0, result.stderr)
        checker = Signing("test_keygen_writes_a_key_pair_as_openssl_does_and_never_overwrites_one")
        checker.scratch, checker.public = self.scratch, public
        with open(os.path.join(self.server, "patchlist.txt"), "rb") as f:
            self.assertTrue(checker.openssl_verifies(f.read(), os.path.join(self.server, "patchlist.txt.sig")))
        with open(self.patcher, "rb") as f:
            self.assertTrue(checker.openssl_verifies(b"1.0.6.0\0" + f.read(),
                                                     os.path.join(self.server, "Vorlen-Patcher.exe.sig")))
        # The Linux build takes the Windows build's signatures as its own.
        result = self.publish("--signing-key", private, "--patcher-version", "1.0.6.0", "--patcher-exe", self.patcher)
        self.assertIn(b"signatures: 0 written", result.stdout)

        # A SEC1 key from openssl ecparam signs on Windows too.
        sec1 = os.path.join(self.scratch, "sec1.pem")
        subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", sec1],
                       check=True, capture_output=True, timeout=TIMEOUT)
        result = self.on_windows("--signing-key", sec1, self.game, os.path.join(self.scratch, "server-2"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn(b"signatures: 1 written", result.stdout)

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
