#!/usr/bin/env python3
"""The nginx configuration (server/nginx-vorlen.conf, run by server/serve): what
it serves under /fs/ and what it does not, over plain http and over https.

    VORLEN_SOURCE_DIR=... server_test.py"""
import os
import shutil
import socket
import ssl
import subprocess
import tempfile
import time
import unittest
import urllib.parse
import warnings

from e2e_test import free_port

SOURCE = os.environ.get("VORLEN_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
SERVE = os.path.join(SOURCE, "server", "serve")
TEST_CERTIFICATES = os.path.join(SOURCE, "tests", "harness", "test-certificates")


class ServedFolder(unittest.TestCase):
    """Fixture: a small server folder served by a private nginx on 127.0.0.1."""

    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="vorlen-serve-test-")
        cls.root = os.path.join(cls.scratch, "www")
        files = {"patchlist.txt": "dane/zażółć.txt 0 3\n".encode(), "dane/zażółć.txt": b"abc",
                 "Vorlen-Patcher.exe": b"MZ" + bytes(range(256)) * 40, "data/maps/forest.map": b"\x00\x01\x02",
                 "data/.vorlen-publish-0123456789abcdef.part": b"half", "data/index.html": b"<p>index</p>"}
        for path, content in files.items():
            target = os.path.join(cls.root, *path.split("/"))
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(content)
        cls.files = files
        cls.port = free_port()
        cls.run_dir = os.path.join(cls.scratch, "run")
        cls.nginx = subprocess.Popen([SERVE, "--root", cls.root, "--listen", f"127.0.0.1:{cls.port}",
                                      "--run-dir", cls.run_dir, "--game-max-age", "0042", *cls.serve_arguments()],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        # Ready when this nginx answers with this folder's list: a bare connection
        # could also reach something else on the port.
        deadline = time.monotonic() + 15
        while True:
            try:
                if cls.nginx.poll() is None and \
                        cls.request(cls, "GET", "/fs/patchlist.txt")[::2] == (200, files["patchlist.txt"]):
                    break
            except (OSError, ValueError, IndexError):
                pass
            if cls.nginx.poll() is not None or time.monotonic() > deadline:
                cls.tearDownClass()
                raise RuntimeError("nginx did not start")
            time.sleep(0.1)

    @classmethod
    def tearDownClass(cls):
        if cls.nginx.poll() is None:
            cls.nginx.terminate()
            cls.nginx.wait(timeout=10)
        shutil.rmtree(cls.scratch, ignore_errors=True)

    @classmethod
    def serve_arguments(cls):
        return []

    @classmethod
    def connect(cls):
        return socket.create_connection(("127.0.0.1", cls.port), timeout=10)

    def request(self, method, raw_path):
        """One request with the path sent as given (str of ASCII, or bytes); the
        answer as (status, headers, body)."""
        path = raw_path if isinstance(raw_path, bytes) else raw_path.encode("ascii")
        with self.connect() as connection:
            connection.sendall(method.encode() + b" " + path + b" HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                               b"User-Agent: Vorlen Patcher/1.0\r\nConnection: close\r\n\r\n")
            answer = b""
            while True:
                chunk = connection.recv(65536)
                if not chunk:
                    break
                answer += chunk
        head, _, body = answer.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        status = int(lines[0].split(" ")[1])
        headers = dict(line.split(": ", 1) for line in lines[1:])
        return status, headers, body

    def assertServes(self, raw_path, content):
        status, headers, body = self.request("GET", raw_path)
        self.assertEqual((status, body), (200, content), raw_path)
        self.assertEqual(int(headers["Content-Length"]), len(content))
        return headers


class NginxConfig(ServedFolder):
    def test_serves_the_files_under_fs(self):
        self.assertServes("/fs/patchlist.txt", self.files["patchlist.txt"])
        self.assertServes("/fs/Vorlen-Patcher.exe", self.files["Vorlen-Patcher.exe"])
        self.assertServes("/fs/data/maps/forest.map", self.files["data/maps/forest.map"])

    def test_serves_utf8_names_raw_and_percent_encoded(self):
        self.assertServes("/fs/dane/zażółć.txt".encode("utf-8"), b"abc")
        self.assertServes("/fs/" + urllib.parse.quote("dane/zażółć.txt"), b"abc")

    def test_labels_text_as_utf8_and_the_rest_as_bytes(self):
        self.assertEqual(self.assertServes("/fs/patchlist.txt", self.files["patchlist.txt"])["Content-Type"],
                         "text/plain; charset=utf-8")
        self.assertEqual(self.assertServes("/fs/Vorlen-Patcher.exe", self.files["Vorlen-Patcher.exe"])
                         ["Content-Type"], "application/octet-stream")

    def test_answers_head_like_get_without_a_body(self):
        status, headers, body = self.request("HEAD", "/fs/patchlist.txt")
        self.assertEqual((status, body), (200, b""))
        self.assertEqual(int(headers["Content-Length"]), len(self.files["patchlist.txt"]))

    def test_lists_no_folder_and_serves_no_index_page(self):
        for path in ("/fs/", "/fs/data", "/fs/data/", "/fs/dane/"):
            status, _, body = self.request("GET", path)
            self.assertEqual(status, 404, path)
            self.assertNotIn(b"Index of", body)
            self.assertNotIn(b"<p>index</p>", body)

    def test_answers_404_for_missing_files_and_everything_outside_fs(self):
        for path in ("/fs/nope.txt", "/", "/patchlist.txt", "/fs/../www/patchlist.txt", "/fsx/patchlist.txt"):
            self.assertEqual(self.request("GET", path)[0], 404, path)

    def test_never_serves_a_file_the_publisher_is_still_writing(self):
        self.assertEqual(self.request("GET", "/fs/data/.vorlen-publish-0123456789abcdef.part")[0], 404)

    def test_tells_caches_to_ask_for_a_release_and_to_keep_game_files_a_while(self):
        for path in ("/fs/patchlist.txt", "/fs/Vorlen-Patcher.exe", "/fs/patcher_version.txt",
                     "/fs/patchlist.txt.sig", "/fs/Vorlen-Patcher.exe.sig"):
            status, headers, _ = self.request("GET", path)
            self.assertEqual(headers.get("Cache-Control"), "no-cache", path)
            if status == 200:
                self.assertIn("ETag", headers)
                self.assertIn("Last-Modified", headers)
        for path in ("/fs/data/maps/forest.map", "/fs/data/patchlist.txt", "/fs/data/missing.bin"):
            self.assertEqual(self.request("GET", path)[1].get("Cache-Control"), "public, max-age=42", path)
        # A validator answers "unchanged" without the bytes.
        etag = self.request("GET", "/fs/patchlist.txt")[1]["ETag"]
        with self.connect() as connection:
            connection.sendall(b"GET /fs/patchlist.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nIf-None-Match: "
                               + etag.encode() + b"\r\nConnection: close\r\n\r\n")
            self.assertTrue(connection.recv(65536).startswith(b"HTTP/1.1 304 "))

    def test_refuses_methods_other_than_get_and_head(self):
        for method in ("POST", "PUT", "DELETE"):
            self.assertEqual(self.request(method, "/fs/patchlist.txt")[0], 403, method)
        self.assertEqual(self.request("GET", "/fs/patchlist.txt")[0], 200)


class NginxConfigTls(NginxConfig):
    """Every check above, against the https server block (server/serve --tls-cert
    --tls-key) with a certificate from the tests' own CA; and what only TLS has."""

    @classmethod
    def serve_arguments(cls):
        cls.certificates = os.path.join(cls.scratch, "tls")
        os.makedirs(cls.certificates)
        subprocess.run([TEST_CERTIFICATES, cls.certificates], check=True, timeout=60)
        return ["--tls-cert", os.path.join(cls.certificates, "localhost.pem"),
                "--tls-key", os.path.join(cls.certificates, "server.key")]

    @classmethod
    def tls_context(cls, lowest=ssl.TLSVersion.TLSv1_2, highest=ssl.TLSVersion.TLSv1_3, ciphers=None):
        context = ssl.create_default_context(cafile=os.path.join(cls.certificates, "ca.pem"))
        if lowest < ssl.TLSVersion.TLSv1_2:
            # OpenSSL 3 speaks TLS 1.0 and 1.1 only at security level 0.
            context.set_ciphers("DEFAULT:@SECLEVEL=0")
        if ciphers:
            context.set_ciphers(ciphers)
        with warnings.catch_warnings():  # TLS 1.0 and 1.1 are deprecated: that is the point
            warnings.simplefilter("ignore", DeprecationWarning)
            context.minimum_version, context.maximum_version = lowest, highest
        return context

    @classmethod
    def connect(cls, context=None):
        plain = socket.create_connection(("127.0.0.1", cls.port), timeout=10)
        try:
            return (context or cls.tls_context()).wrap_socket(plain, server_hostname="localhost")
        except (OSError, ssl.SSLError):
            plain.close()
            raise

    def test_speaks_tls_1_2_and_1_3_and_nothing_older(self):
        for version in (ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.TLSv1_3):
            with self.connect(self.tls_context(version, version)) as connection:
                self.assertEqual(connection.version(), version.name.replace("_", "."))
        for version in (ssl.TLSVersion.TLSv1, ssl.TLSVersion.TLSv1_1):
            with self.assertRaises(ssl.SSLError, msg=version.name):
                self.connect(self.tls_context(version, version)).close()

    def test_lets_in_a_client_with_only_the_suites_windows_7_has(self):
        # TLS 1.2 with ECDHE-RSA and AES-CBC, no AES-GCM: Windows 7 SP1 with KB3140245.
        context = self.tls_context(ssl.TLSVersion.TLSv1_2, ssl.TLSVersion.TLSv1_2,
                                   "ECDHE-RSA-AES256-SHA384:ECDHE-RSA-AES128-SHA256")
        with self.connect(context) as connection:
            self.assertIn(connection.cipher()[0], ("ECDHE-RSA-AES256-SHA384", "ECDHE-RSA-AES128-SHA256"))

    def test_logs_the_tls_version_and_cipher_of_each_request(self):
        self.assertServes("/fs/dane/zażółć.txt".encode("utf-8"), b"abc")
        with open(os.path.join(self.run_dir, "access.log"), encoding="utf-8", errors="replace") as f:
            last = f.read().splitlines()[-1]
        self.assertRegex(last, r'"GET /fs/\S+ HTTP/1\.1" 200 3 "-" "Vorlen Patcher/1\.0" TLSv1\.3 TLS_\w+$')


class ServeScript(unittest.TestCase):
    def test_refuses_a_folder_nginx_could_not_take_unquoted(self):
        scratch = tempfile.mkdtemp(prefix="vorlen-serve-test-")
        try:
            root = os.path.join(scratch, "my www")
            os.mkdir(root)
            result = subprocess.run([SERVE, "--root", root, "--listen", f"127.0.0.1:{free_port()}",
                                     "--run-dir", os.path.join(scratch, "run")], capture_output=True, timeout=30)
            self.assertEqual(result.returncode, 2)
            self.assertIn(b"nginx cannot take the path", result.stderr)
        finally:
            shutil.rmtree(scratch, ignore_errors=True)

    def test_refuses_a_lifetime_that_is_not_whole_seconds(self):
        result = subprocess.run([SERVE, "--root", "/", "--game-max-age", "5m"], capture_output=True, timeout=30)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"--game-max-age wants whole seconds", result.stderr)

    def test_refuses_a_certificate_without_its_key(self):
        result = subprocess.run([SERVE, "--root", "/", "--tls-cert", SERVE], capture_output=True, timeout=30)
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"--tls-cert and --tls-key go together", result.stderr)

    def test_reports_a_port_in_use_and_exits(self):
        scratch = tempfile.mkdtemp(prefix="vorlen-serve-test-")
        try:
            with socket.socket() as busy:
                busy.bind(("127.0.0.1", 0))
                busy.listen()
                port = busy.getsockname()[1]
                result = subprocess.run([SERVE, "--root", scratch, "--listen", f"127.0.0.1:{port}",
                                         "--run-dir", os.path.join(scratch, "run")], capture_output=True,
                                        timeout=30)
            self.assertNotEqual(result.returncode, 0)
            with open(os.path.join(scratch, "run", "error.log"), "rb") as f:
                self.assertIn(b"Address already in use", f.read())
        finally:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    unittest.main()
