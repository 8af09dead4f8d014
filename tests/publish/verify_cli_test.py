#!/usr/bin/env python3
"""Tests of `vorlen-publish verify`, as an operator runs it after a release,
against real servers on 127.0.0.1: nginx (server/serve), Debian's Varnish in
front of it (tests/e2e/edge_cache.py), and the tests' misbehaving patch server
(tests/harness/patch_server.py).

    VORLEN_PUBLISH_TOOL=path/to/vorlen-publish verify_cli_test.py [Class ...]

With VORLEN_PUBLISH_EXE (the Windows build), VORLEN_SOURCE_DIR and
VORLEN_BUILD_DIR set, the WindowsBuild class runs the Windows build under Wine."""
import hashlib
import os
import pty
import re
import shutil
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.environ.get("VORLEN_SOURCE_DIR") or os.path.join(HERE, "..", "..")
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
sys.path.insert(0, os.path.join(SOURCE, "tools", "sample-game"))
from e2e_test import free_port  # noqa: E402
from edge_cache import EdgeCache  # noqa: E402
from make_sample_game import SAMPLE_FILES, pseudo_random_bytes  # noqa: E402

TOOL = os.environ.get("VORLEN_PUBLISH_TOOL", "")
TIMEOUT = 120  # seconds; only catches a hang
START_SECONDS = 15


class VerifyFixture(unittest.TestCase):
    """The sample game and a patcher, published into a server folder in a scratch
    folder; servers started by a test are stopped when it ends."""

    def setUp(self):
        self.assertTrue(TOOL and os.access(TOOL, os.X_OK), "VORLEN_PUBLISH_TOOL must name the tool")
        self.scratch = tempfile.mkdtemp(prefix="vorlen-verify-test-")
        self.addCleanup(shutil.rmtree, self.scratch, ignore_errors=True)
        self.game = os.path.join(self.scratch, "game")
        self.server = os.path.join(self.scratch, "server")
        self.patcher = os.path.join(self.scratch, "new-patcher.exe")
        subprocess.run([os.path.join(SOURCE, "tools", "sample-game", "make_sample_game.py"), self.game],
                       check=True, timeout=TIMEOUT)
        with open(self.patcher, "wb") as f:
            f.write(b"MZ" + pseudo_random_bytes("patcher", 40000))
        self.publish()

    def publish(self):
        subprocess.run([TOOL, "--quiet", "--patcher-version", "1.0.6.0", "--patcher-exe", self.patcher,
                        self.game, self.server], check=True, timeout=TIMEOUT)

    def read(self, folder, path):
        with open(os.path.join(folder, *path.split("/")), "rb") as f:
            return f.read()

    def write(self, folder, path, content):
        with open(os.path.join(folder, *path.split("/")), "wb") as f:
            f.write(content)

    def listed(self, folder=None):
        """{path: (md5, size)} of a server folder's list."""
        text = self.read(folder or self.server, "patchlist.txt").decode()
        return {path: (md5, int(size)) for path, md5, size in (line.split(" ") for line in text.splitlines())}

    def release_two(self):
        """Changes two game files, one to a new size and one to new bytes of the
        same size, adds one, and publishes into the server folder again."""
        self.write(self.game, "readme.txt", "Vorlen - wydanie drugie, z nowym plikiem.\n".encode() * 2)
        self.write(self.game, "data/maps/forest.map", pseudo_random_bytes("forest, release 2", 64 * 1024))
        self.write(self.game, "data/new.dat", pseudo_random_bytes("new", 5000))
        self.publish()

    def wait_until_served(self, process, url, expected, what, context=None):
        deadline = time.monotonic() + START_SECONDS
        while True:
            try:
                with urllib.request.urlopen(url, timeout=2, context=context) as answer:
                    if answer.read() == expected:
                        return
            except OSError:
                pass
            self.assertIsNone(process.poll(), f"{what} ended")
            self.assertLess(time.monotonic(), deadline, f"{what} does not answer")
            time.sleep(0.1)

    def stop(self, process):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(timeout=10)

    def start_nginx(self, root, game_max_age=None):
        """Serves `root` with server/serve; returns its base URL and its run folder."""
        port = free_port()
        run_dir = os.path.join(self.scratch, f"nginx-{port}")
        command = [os.path.join(SOURCE, "server", "serve"), "--root", root, "--listen", f"127.0.0.1:{port}",
                   "--run-dir", run_dir]
        if game_max_age is not None:
            command += ["--game-max-age", str(game_max_age)]
        nginx = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(self.stop, nginx)
        url = f"http://127.0.0.1:{port}/fs"
        self.wait_until_served(nginx, url + "/patchlist.txt", self.read(root, "patchlist.txt"), "nginx")
        return url, run_dir

    def start_edge(self, origin_url):
        """A Varnish edge in front of an nginx from start_nginx; returns its base URL."""
        port = free_port()
        origin_port = int(re.match(r"http://127\.0\.0\.1:(\d+)/", origin_url).group(1))
        edge = EdgeCache(os.path.join(self.scratch, f"edge-{port}"), port, origin_port)
        self.addCleanup(edge.stop)
        return f"http://127.0.0.1:{port}/fs"

    def start_patch_server(self, root, rules, certificates=None):
        """The misbehaving server on `root`, /fs/ mapped by the rules file; returns its base
        URL. With a folder of tests/harness/test-certificates it speaks https, as localhost."""
        port = free_port()
        command = ["python3", os.path.join(SOURCE, "tests", "harness", "patch_server.py"), "--root", root,
                   "--port", str(port), "--fs-rules", rules, "--max-seconds", "600"]
        context, url = None, f"http://127.0.0.1:{port}/fs"
        if certificates:
            command += ["--tls-cert", os.path.join(certificates, "localhost.pem"),
                        "--tls-key", os.path.join(certificates, "server.key")]
            context = ssl.create_default_context(cafile=os.path.join(certificates, "ca.pem"))
            # By name: Wine's WinHTTP matches a certificate's DNS names only.
            url = f"https://localhost:{port}/fs"
        server = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(self.stop, server)
        self.wait_until_served(server, url + "/patchlist.txt", self.read(root, "patchlist.txt"), "the patch server",
                               context)
        return url

    def start_misbehaving(self):
        """The patch server on a copy of the server folder ("odd"), misbehaving by
        the rules in self.rules (none yet); its base URL is self.url."""
        self.root = os.path.join(self.scratch, "odd")
        shutil.copytree(self.server, self.root)
        self.rules = os.path.join(self.scratch, "rules.txt")
        self.set_rules([])
        self.url = self.start_patch_server(self.root, self.rules)

    def set_rules(self, rules, path=None):
        """rules: (glob, prefix) pairs; the first that matches a path applies."""
        path = path or self.rules
        with open(path + ".part", "w", encoding="utf-8") as f:
            f.writelines(f"{glob} {prefix}\n" for glob, prefix in rules)
        os.replace(path + ".part", path)

    def verify_measured(self, url, *options, command=(TOOL,)):
        """verify, and the most memory it (and what it waited for) held, in KiB."""
        process = subprocess.Popen([*command, "verify", *options, url], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
        hang = threading.Timer(TIMEOUT, process.kill)
        hang.start()
        try:
            out = process.stdout.read()
            # wait4 reaps the process and gives its resource usage with it.
            _, status, usage = os.wait4(process.pid, 0)
        finally:
            hang.cancel()
            process.stdout.close()
        process.returncode = os.waitstatus_to_exitcode(status)
        # Text on Windows ends its lines with CR LF.
        out = out.decode().replace("\r\n", "\n")
        return self.with_statement(subprocess.CompletedProcess(process.args, process.returncode, out)), \
            usage.ru_maxrss

    @staticmethod
    def with_statement(result):
        """Takes the line that describes the release statement out of the report
        into `statement` (None when there is none)."""
        found = re.findall(r"^Release statement: (.*)\n", result.stdout, re.M)
        result.statement = found[0] if len(found) == 1 else None
        result.stdout = re.sub(r"^Release statement: .*\n", "", result.stdout, flags=re.M)
        return result

    def sign_release(self):
        """Publishes the game signed into the served folder; returns the public key."""
        keys = os.path.join(self.scratch, "keys")
        subprocess.run([TOOL, "keygen", keys], check=True, timeout=TIMEOUT)
        subprocess.run([TOOL, "--quiet", "--signing-key", os.path.join(keys, "private.pem"), "--patcher-version",
                        "1.0.6.0", "--patcher-exe", self.patcher, self.game, self.root], check=True, timeout=TIMEOUT)
        return os.path.join(keys, "public.pem")

    def another_patcher(self, size):
        """A program of `size` bytes in the served folder in place of the signed patcher."""
        with open(os.path.join(self.root, "Vorlen-Patcher.exe"), "wb") as f:
            f.write(b"MZ")
            for _ in range(size // (1 << 20)):
                f.write(b"\x90" * (1 << 20))

    def verify(self, url, *options, stderr=subprocess.PIPE, env=None):
        result = subprocess.run([TOOL, "verify", *options, url], stdout=subprocess.PIPE, stderr=stderr,
                                timeout=TIMEOUT, env=env)
        result.stdout = result.stdout.decode()
        return self.with_statement(result)

    def assertAllMatch(self, result, checked="7 listed files and patcher 1.0.6.0"):
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertRegex(result.stdout, rf"^Checked {checked} at https?://\S+: .*; all match\.\n$")
        self.assertEqual(result.stderr, b"")

    def assertProblems(self, result, expected):
        """Exit status 1, and exactly one report line for each name in `expected`,
        starting with the text given for it, before the summary."""
        self.assertEqual(result.returncode, 1, result.stdout)
        lines = result.stdout.splitlines()
        self.assertRegex(lines[-1], rf"; {len(expected)} problems?\.$")
        found = {}
        for line in lines[:-1]:
            name, problem = line.split(": ", 1)
            self.assertNotIn(name, found, result.stdout)
            found[name] = problem
        self.assertEqual(sorted(found), sorted(expected), result.stdout)
        for name, start in expected.items():
            self.assertTrue(found[name].startswith(start), f"{name}: {found[name]!r} does not start with {start!r}")
        return found


class AgainstNginx(VerifyFixture):
    def test_a_good_release_passes_and_every_listed_file_is_asked_for_once(self):
        url, run_dir = self.start_nginx(self.server)
        self.assertAllMatch(self.verify(url + "/"))
        self.assertAllMatch(self.verify(url, "--local", self.server))
        quiet = self.verify(url, "--quiet")
        self.assertEqual((quiet.returncode, quiet.stdout, quiet.stderr), (0, "", b""))

        with open(os.path.join(run_dir, "access.log")) as f:
            requests = [re.search(r'"GET (\S+) HTTP', line).group(1) for line in f if "vorlen-publish" in line]
        # Letters outside ASCII go out percent-encoded, as UTF-8.
        self.assertIn("/fs/dane/za%C5%BC%C3%B3%C5%82%C4%87.txt", requests)
        expected = ["patchlist.txt", "patcher_version.txt", "Vorlen-Patcher.exe", *SAMPLE_FILES]
        self.assertEqual(sorted(requests), sorted(f"/fs/{urllib.request.quote(p)}" for p in expected * 3))

    def test_shows_progress_only_on_a_terminal(self):
        url, _ = self.start_nginx(self.server)
        master, slave = pty.openpty()
        try:
            result = self.verify(url, stderr=slave)
            os.close(slave)
            slave = None
            shown = b""
            while True:
                try:
                    piece = os.read(master, 4096)
                except OSError:  # the terminal's other side is closed
                    break
                if not piece:
                    break
                shown += piece
        finally:
            if slave is not None:
                os.close(slave)
            os.close(master)
        self.assertEqual(result.returncode, 0, result.stdout)
        self.assertIn(b"\rChecking 7/7 files, 2.4 MiB of 2.4 MiB", shown)
        self.assertTrue(re.search(rb"\r +\r$", shown), shown)  # blanked before the summary
        self.assertNotIn("\r", result.stdout)

    def test_the_list_and_the_patcher_are_judged_as_the_patcher_judges_them(self):
        url, _ = self.start_nginx(self.server)
        list_text = self.read(self.server, "patchlist.txt")

        # A version file without the patcher it announces.
        os.rename(os.path.join(self.server, "Vorlen-Patcher.exe"), os.path.join(self.scratch, "held.exe"))
        self.assertProblems(self.verify(url), {"Vorlen-Patcher.exe": "missing (HTTP 404)"})
        # Neither: no patcher is published, which is fine.
        os.remove(os.path.join(self.server, "patcher_version.txt"))
        self.assertAllMatch(self.verify(url), checked=r"7 listed files \(no patcher published\)")
        # A version file that is no version, and a patcher that is no program.
        self.write(self.server, "patcher_version.txt", b"latest\n")
        self.write(self.server, "Vorlen-Patcher.exe", b"#!/bin/sh\n")
        self.assertProblems(self.verify(url), {"patcher_version.txt": "not a version: 'latest'",
                                               "Vorlen-Patcher.exe": "not a Windows executable"})

        # The patcher refuses the whole list for one path outside the game folder.
        self.write(self.server, "patchlist.txt", list_text + b"../evil.dll d41d8cd98f00b204e9800998ecf8427e 0\n")
        result = self.verify(url)
        self.assertProblems(result, {"patchlist.txt": "names the unsafe path '../evil.dll'"})
        self.assertIn("No usable patch list", result.stdout)
        self.write(self.server, "patchlist.txt", b"\n \n")
        self.assertProblems(self.verify(url), {"patchlist.txt": "names no files"})

    def test_wrong_usage_exits_with_2(self):
        for args in ([], ["ftp://127.0.0.1/fs"], ["http://"], ["http://a/fs", "http://b/fs"],
                     ["--timeout", "0", "http://a/fs"], ["--timeout", "x", "http://a/fs"], ["--bogus", "http://a/fs"],
                     ["--min-rate", "0", "http://a/fs"], ["--min-rate", "16G", "http://a/fs"],
                     ["--local", self.game, "http://a/fs"], ["--local"]):
            result = subprocess.run([TOOL, "verify", *args], capture_output=True, timeout=TIMEOUT)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(b"verify --help", result.stderr, args)
        usage = subprocess.run([TOOL, "verify", "--help"], capture_output=True, timeout=TIMEOUT)
        self.assertEqual(usage.returncode, 0)
        self.assertIn(b"Usage: vorlen-publish verify [options] BASE_URL", usage.stdout)


class ThroughEdge(VerifyFixture):
    """Varnish with its built-in VCL in front of nginx, which lets it keep game
    files for a minute and never the list."""

    def test_an_edge_stale_throughout_passes_alone_and_is_caught_against_the_server_folder(self):
        # The edge's origin is a mirror that was never brought up to release 2:
        # its old list and old files agree with each other.
        mirror = os.path.join(self.scratch, "mirror")
        shutil.copytree(self.server, mirror)
        edge = self.start_edge(self.start_nginx(mirror, game_max_age=60)[0])
        self.assertAllMatch(self.verify(edge))
        self.assertAllMatch(self.verify(edge, "--local", self.server))

        self.release_two()
        origin = self.start_nginx(self.server)[0]
        self.assertAllMatch(self.verify(origin, "--local", self.server), checked="8 listed files and patcher 1.0.6.0")
        # What verify alone cannot see: a whole old release is consistent.
        self.assertAllMatch(self.verify(edge))
        found = self.assertProblems(self.verify(edge, "--local", self.server),
                                    {"patchlist.txt": f"the live list differs from {self.server}/patchlist.txt"})
        self.assertIn("(live: 7 files", found["patchlist.txt"])
        self.assertIn("folder: 8 files", found["patchlist.txt"])

    def test_game_files_an_edge_still_keeps_from_the_last_release_are_named(self):
        edge = self.start_edge(self.start_nginx(self.server, game_max_age=60)[0])
        old = self.listed()
        self.assertAllMatch(self.verify(edge))  # the edge now keeps every game file

        self.release_two()
        new = self.listed()
        expected = {"readme.txt": f"wrong size: {old['readme.txt'][1]} bytes, listed {new['readme.txt'][1]}",
                    "data/maps/forest.map": f"wrong digest: {old['data/maps/forest.map'][0]}, "
                                            f"listed {new['data/maps/forest.map'][0]}"}
        # The list is fresh (no-cache), so no server folder is needed to see it.
        self.assertProblems(self.verify(edge), expected)
        self.assertProblems(self.verify(edge, "--local", self.server), expected)


class MisbehavingServer(VerifyFixture):
    """The patch server on a copy of the server folder, misbehaving by rules."""

    def setUp(self):
        super().setUp()
        self.start_misbehaving()

    def test_every_bad_file_is_named_and_reading_stays_bounded(self):
        forest = bytearray(self.read(self.root, "data/maps/forest.map"))
        forest[1000] ^= 0xFF
        self.write(self.root, "data/maps/forest.map", bytes(forest))
        music = self.listed()["sound/music.ogg"][1]
        self.set_rules([("data/config.ini", "status/404"), ("textures/ui/buttons.dat", "status/500"),
                        ("sound/music.ogg", "cut/100000"), ("data/maps/dungeon.map", "endless"),
                        ("dane/*", "stall/60"), ("Vorlen-Patcher.exe", "noanswer")])
        result, largest_kib = self.verify_measured(self.url, "--timeout", "2")
        # Bodies are streamed: the endless one (1 GiB before the server gives
        # up) never sat in memory.
        self.assertLess(largest_kib, 64 * 1024)
        self.assertProblems(result, {
            "data/config.ini": "missing (HTTP 404)",
            "textures/ui/buttons.dat": "HTTP status 500",
            "sound/music.ogg": f"cut short: 100000 of {music} bytes",
            "data/maps/dungeon.map": "wrong size: more than 307217 bytes, listed 307217",
            "dane/zażółć.txt": "stalled: no data for 2 s after 0 of 79 bytes",
            "data/maps/forest.map": "wrong digest: " + hashlib.md5(forest).hexdigest(),
            "Vorlen-Patcher.exe": "connection failed: ",
        })

    def test_a_patcher_larger_than_memory_is_checked_against_the_statement_as_it_streams(self):
        public = self.sign_release()
        self.another_patcher(96 << 20)
        result, largest_kib = self.verify_measured(self.url, "--public-key", public)
        # 96 MiB went through the digests; none of it stayed.
        self.assertLess(largest_kib, 64 * 1024)
        self.assertProblems(result, {"Vorlen-Patcher.exe": "not the patcher the release statement signs (the patcher "
                                                           f"has {(96 << 20) + 2} bytes, the statement says 40002)"})
        # An endless one ends as a program that is none.
        self.set_rules([("Vorlen-Patcher.exe", "endless")])
        result, largest_kib = self.verify_measured(self.url, "--public-key", public)
        self.assertLess(largest_kib, 64 * 1024)
        self.assertProblems(result, {"Vorlen-Patcher.exe": "not a Windows executable"})

    def test_a_trickle_is_too_slow_and_a_slow_steady_link_is_not(self):
        # 2000 bytes a second against at least 16 KiB in every 2 s; 80 KiB a
        # second for 300 KiB, which takes longer than one window.
        self.set_rules([("data/maps/forest.map", "trickle/2000"), ("data/maps/dungeon.map", "slow/100")])
        found = self.assertProblems(self.verify(self.url, "--timeout", "2"),
                                    {"data/maps/forest.map": "too slow: "})
        self.assertRegex(found["data/maps/forest.map"],
                         r"^too slow: \d+ bytes in 2 s, less than 16\.0 KiB, after \d+ of 65536 bytes$")
        self.assertProblems(self.verify(self.url, "--timeout", "2", "--min-rate", "200K"),
                            {"data/maps/forest.map": "too slow: ", "data/maps/dungeon.map": "too slow: "})

    def test_a_redirect_from_https_down_to_http_is_not_followed(self):
        certificates = os.path.join(self.scratch, "tls")
        subprocess.run([os.path.join(SOURCE, "tests", "harness", "test-certificates"), certificates], check=True,
                       timeout=TIMEOUT)
        rules = os.path.join(self.scratch, "https-rules.txt")
        self.set_rules([], rules)
        url = self.start_patch_server(self.root, rules, certificates)
        trusted = dict(os.environ, SSL_CERT_FILE=os.path.join(certificates, "ca.pem"))
        self.assertAllMatch(self.verify(url, env=trusted))
        # Every file answered with 302 to the same file on the plain http server.
        port = int(re.match(r"http://127\.0\.0\.1:(\d+)/", self.url).group(1))
        self.set_rules([("*", f"away/302/{port}/fs")], rules)
        result = self.verify(url, env=trusted)
        self.assertProblems(result, {"patchlist.txt": "connection failed: a redirect from https to http"})
        self.assertIn("No usable patch list at https://", result.stdout)

    def test_a_list_the_patcher_cannot_take_is_named(self):
        cases = [("endless", "larger than 16 MiB; the patcher refuses it"), ("status/404", "missing (HTTP 404)"),
                 ("status/503", "HTTP status 503"), ("stall/60", "stalled: no data for 2 s after 0 of "),
                 ("cut/10", "cut short: 10 of ")]
        for prefix, problem in cases:
            self.set_rules([("patchlist.txt", prefix)])
            result = self.verify(self.url, "--timeout", "2")
            self.assertProblems(result, {"patchlist.txt": problem})
            self.assertIn("No usable patch list at", result.stdout)
        # A port where nothing listens.
        self.assertProblems(self.verify(f"http://127.0.0.1:{free_port()}/fs"), {"patchlist.txt": "connection failed: "})


class WindowsBuild(VerifyFixture):
    """The Windows build, under Wine, against nginx."""

    def setUp(self):
        self.exe = os.environ.get("VORLEN_PUBLISH_EXE", "")
        if not self.exe:
            self.skipTest("VORLEN_PUBLISH_EXE is not set")
        super().setUp()

    def verify_on_windows(self, *args):
        result = subprocess.run([os.path.join(SOURCE, "cmake", "wine-run"), self.exe, "verify", *args],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT)
        # Text on Windows ends its lines with CR LF.
        result.stdout = result.stdout.decode().replace("\r\n", "\n")
        return result

    def windows_path(self, path):
        return "Z:" + path.replace("/", "\\")

    def test_a_trickle_and_a_patcher_larger_than_the_memory_it_may_take_are_named(self):
        self.start_misbehaving()
        public = self.sign_release()
        # 128 MiB, twice the memory the tool may hold, in place of the signed patcher.
        self.another_patcher(128 << 20)
        self.set_rules([("data/maps/forest.map", "trickle/2000")])
        result, largest_kib = self.verify_measured(self.url, "--timeout", "2", "--public-key", self.windows_path(public),
                                                   command=(os.path.join(SOURCE, "cmake", "wine-run"), self.exe))
        self.assertLess(largest_kib, 64 * 1024)
        self.assertProblems(result, {
            "data/maps/forest.map": "too slow: ",
            "Vorlen-Patcher.exe": f"not the patcher the release statement signs (the patcher has {(128 << 20) + 2} "
                                  "bytes, the statement says 40002)"})
        self.assertRegex(result.statement, r"^release 2, no expiry, signed by [0-9a-f]{16}$")

    def test_https_as_the_patcher_speaks_it_and_no_redirect_down_to_http(self):
        # The session's prefix trusts the session's test CA, as a player's Windows
        # trusts a public one.
        certificates = os.path.join(os.environ["VORLEN_BUILD_DIR"], "test-session", "tls")
        self.start_misbehaving()
        rules = os.path.join(self.scratch, "https-rules.txt")
        self.set_rules([], rules)
        url = self.start_patch_server(self.root, rules, certificates)
        self.assertAllMatch(self.verify_on_windows(url))
        port = int(re.match(r"http://127\.0\.0\.1:(\d+)/", self.url).group(1))
        self.set_rules([("*", f"away/302/{port}/fs")], rules)
        self.assertProblems(self.verify_on_windows(url), {"patchlist.txt": "connection failed: a redirect"})

    def test_a_good_release_passes_and_a_bad_file_is_named(self):
        url, _ = self.start_nginx(self.server)
        local = "Z:" + self.server.replace("/", "\\")
        self.assertAllMatch(self.verify_on_windows("--local", local, url))
        zazolc = bytearray(self.read(self.server, "dane/zażółć.txt"))
        zazolc[0] ^= 0x20
        self.write(self.server, "dane/zażółć.txt", bytes(zazolc))
        self.assertProblems(self.verify_on_windows("--local", local, url),
                            {"dane/zażółć.txt": "wrong digest: " + hashlib.md5(zazolc).hexdigest()})


if __name__ == "__main__":
    unittest.main()
