#!/usr/bin/env python3
"""What configuring says about the compiled-in server URL (cmake/server_url.cmake,
which CMakeLists.txt calls): a warning for plain http to any host but this
machine's loopback, nothing for https or a local server, an error for a
trailing slash.

    VORLEN_SOURCE_DIR=... VORLEN_TOOLCHAIN=... server_url_test.py"""
import os
import shutil
import subprocess
import tempfile
import unittest

SOURCE = os.environ.get("VORLEN_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
TOOLCHAIN = os.environ.get("VORLEN_TOOLCHAIN", os.path.join(SOURCE, "cmake", "toolchain-mingw-i686.cmake"))
CHECK = os.path.join(SOURCE, "cmake", "server_url.cmake")


def messages_of(result):
    return result.returncode, " ".join(result.stderr.split())  # cmake wraps its messages


def check(url):
    """The check alone: exit code and messages."""
    return messages_of(subprocess.run(["cmake", f"-DVORLEN_SERVER_URL={url}", "-P", CHECK], capture_output=True,
                                      text=True, timeout=60))


class ServerUrlWarning(unittest.TestCase):
    def test_the_project_configures_with_the_warning_for_a_remote_http_url_only(self):
        scratch = tempfile.mkdtemp(prefix="vorlen-configure-test-")
        try:
            def configure(url):
                return messages_of(subprocess.run(
                    ["cmake", "-S", SOURCE, "-B", scratch, "-G", "Ninja", "--toolchain", TOOLCHAIN,
                     "-DBUILD_TESTING=OFF", f"-DVORLEN_SERVER_URL={url}"], capture_output=True, text=True,
                    timeout=120))
            code, messages = configure("http://patch.example.net/fs")
            self.assertEqual(code, 0, messages)
            self.assertIn("CMake Warning at cmake/server_url.cmake", messages)
            self.assertIn("-DVORLEN_SERVER_URL=https://patch.example.net/fs ", messages)
            for url in ("http://127.0.0.1:8080/fs", "https://patch.example.net/fs"):
                self.assertEqual(configure(url), (0, ""), url)
        finally:
            shutil.rmtree(scratch, ignore_errors=True)

    def test_warns_about_plain_http_to_another_host_only(self):
        for url in ("http://patch.example.net/fs", "HTTP://Patch.Example.NET:8080/fs", "http://10.0.0.7/fs",
                    "http://127.0.0.1.example.net/fs", "http://localhost.example.net/fs", "http://[2001:db8::1]/fs"):
            code, messages = check(url)
            self.assertEqual(code, 0, url)
            self.assertIn("CMake Warning", messages, url)
            # One sentence: what an attacker on the path can do, and the https build.
            self.assertIn("can replace the patch list, any game file and the patcher executable itself", messages)
            self.assertIn("-DVORLEN_SERVER_URL=https://", messages)
        for url in ("http://127.0.0.1:8080/fs", "http://127.1.2.3/fs", "http://localhost:8080/fs",
                    "http://LOCALHOST/fs", "http://[::1]:8080/fs", "https://patch.example.net/fs",
                    "https://localhost:8443/fs"):
            self.assertEqual(check(url), (0, ""), url)

    def test_refuses_a_trailing_slash(self):
        code, messages = check("https://patch.example.net/fs/")
        self.assertNotEqual(code, 0)
        self.assertIn("VORLEN_SERVER_URL must not end with a slash", messages)


if __name__ == "__main__":
    unittest.main()
