#!/usr/bin/env python3
"""The compiled-in signing key (cmake/signing_key.cmake): a P-256 public key as
openssl writes it becomes its 64-byte X‖Y in the generated header; no key, an
unsigned build; any other key is an error at configure time.

    VORLEN_SOURCE_DIR=... signing_key_test.py"""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

SOURCE = os.environ.get("VORLEN_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(SOURCE, "cmake", "signing_key.cmake")


class SigningKeyHeader(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.mkdtemp(prefix="vorlen-signing-key-test-")
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)
        self.header = os.path.join(self.scratch, "generated", "engine", "signing_key.h")

    def openssl(self, *args):
        subprocess.run(["openssl", *args], check=True, capture_output=True, timeout=60)

    def generate(self, name, *options):
        private = os.path.join(self.scratch, name + ".key")
        public = os.path.join(self.scratch, name + ".pem")
        self.openssl("genpkey", *options, "-out", private)
        self.openssl("pkey", "-in", private, "-pubout", "-out", public)
        return private, public

    def header_for(self, key):
        result = subprocess.run(["cmake", f"-DVORLEN_SIGNING_PUBLIC_KEY={key}", f"-DHEADER={self.header}", "-P",
                                 SCRIPT], capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            return None, " ".join(result.stderr.split())
        with open(self.header) as f:
            return f.read(), ""

    def test_a_p256_key_becomes_its_point_and_anything_else_is_refused(self):
        private, public = self.generate("p256", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256")
        text, _ = self.header_for(public)
        point = subprocess.run(["openssl", "pkey", "-pubin", "-in", public, "-outform", "DER"], capture_output=True,
                               check=True, timeout=60).stdout[-64:]
        self.assertIn("const bool kReleasesSigned = true;", text)
        listed = re.search(r"kSigningPublicKey\[\] = \{([^}]*)\}", text).group(1)
        self.assertEqual(bytes(int(b, 16) for b in listed.split(",") if b), point)

        text, _ = self.header_for("")
        self.assertIn("const bool kReleasesSigned = false;", text)

        _, p384 = self.generate("p384", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384")
        _, rsa = self.generate("rsa", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024")
        missing = os.path.join(self.scratch, "no.pem")
        for key, complaint in ((p384, "is not an ECDSA P-256 public key"), (rsa, "is not an ECDSA P-256 public key"),
                               (private, "openssl cannot read"), (missing, "does not exist")):
            with self.subTest(key):
                text, messages = self.header_for(key)
                self.assertIsNone(text)
                self.assertIn(complaint, messages)


if __name__ == "__main__":
    unittest.main()
