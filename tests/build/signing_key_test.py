#!/usr/bin/env python3
"""The compiled-in signing keys (cmake/signing_key.cmake): each P-256 public key
as openssl writes it becomes its id and its 64-byte X‖Y in the generated source;
no key, an unsigned build; any other key, or one key twice, is an error at
configure time.

    VORLEN_SOURCE_DIR=... signing_key_test.py"""
import hashlib
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
        self.source = os.path.join(self.scratch, "generated", "engine", "signing_keys.cpp")

    def openssl(self, *args):
        subprocess.run(["openssl", *args], check=True, capture_output=True, timeout=60)

    def generate(self, name, *options):
        private = os.path.join(self.scratch, name + ".key")
        public = os.path.join(self.scratch, name + ".pem")
        self.openssl("genpkey", *options, "-out", private)
        self.openssl("pkey", "-in", private, "-pubout", "-out", public)
        return private, public

    def source_for(self, *keys):
        result = subprocess.run(["cmake", f"-DVORLEN_SIGNING_PUBLIC_KEY={';'.join(keys)}", f"-DSOURCE={self.source}",
                                 "-P", SCRIPT], capture_output=True, text=True, timeout=60)
        if result.returncode != 0:
            return None, " ".join(result.stderr.split())
        with open(self.source) as f:
            return f.read(), ""

    def compiled_keys(self, text):
        """(id, point) of each key the generated source holds, in order."""
        found = re.findall(r'PublisherKey\{"([0-9a-f]{16})", std::string\("((?:\\x[0-9a-f]{2})*)", 64\)\}', text)
        return [(key_id, bytes.fromhex(point.replace("\\x", ""))) for key_id, point in found]

    def test_p256_keys_become_their_ids_and_points_and_anything_else_is_refused(self):
        private, public = self.generate("p256", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256")
        _, second = self.generate("second", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256")
        expected = []
        for key in (public, second):
            der = subprocess.run(["openssl", "pkey", "-pubin", "-in", key, "-outform", "DER"], capture_output=True,
                                 check=True, timeout=60).stdout
            expected.append((hashlib.sha256(der).hexdigest()[:16], der[-64:]))
        text, _ = self.source_for(public, second)
        self.assertEqual(self.compiled_keys(text), expected)
        self.assertEqual(os.listdir(os.path.dirname(self.source)), ["signing_keys.cpp"], "a DER file was left")

        text, _ = self.source_for("")
        self.assertIn("CompiledSigningKeys()", text)
        self.assertEqual(self.compiled_keys(text), [])

        _, p384 = self.generate("p384", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384")
        _, rsa = self.generate("rsa", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024")
        missing = os.path.join(self.scratch, "no.pem")
        for keys, complaint in (((p384,), "is not an ECDSA P-256 public key"),
                                ((public, rsa), "is not an ECDSA P-256 public key"),
                                ((private,), "openssl cannot read"), ((missing,), "does not exist"),
                                ((public, second, public), "is given twice"),
                                (("p256.pem",), "give each key's full path")):
            with self.subTest(keys):
                text, messages = self.source_for(*keys)
                self.assertIsNone(text)
                self.assertIn(complaint, messages)


if __name__ == "__main__":
    unittest.main()
