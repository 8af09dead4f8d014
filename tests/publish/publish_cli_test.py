#!/usr/bin/env python3
"""Tests of the vorlen-publish command, as an operator runs it.

    VORLEN_PUBLISH_TOOL=path/to/vorlen-publish publish_cli_test.py [Class ...]

With VORLEN_PUBLISH_EXE (the Windows build) and VORLEN_SOURCE_DIR set, the
WindowsBuild class also runs the Windows build under Wine (cmake/wine-run)."""
import hashlib
import os
import resource
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "sample-game"))
from make_sample_game import pseudo_random_bytes  # noqa: E402

TOOL = os.environ.get("VORLEN_PUBLISH_TOOL", "")
TIMEOUT = 120  # seconds; only catches a hang


def pattern(size, seed):
    return pseudo_random_bytes(seed, size)


class ToolFixture(unittest.TestCase):
    """A scratch folder with a game folder and a server folder."""

    def setUp(self):
        self.assertTrue(TOOL and os.access(TOOL, os.X_OK), "VORLEN_PUBLISH_TOOL must name the tool")
        self.scratch = tempfile.mkdtemp(prefix="vorlen-publish-test-")
        self.game = os.path.join(self.scratch, "game")
        self.server = os.path.join(self.scratch, "server")
        os.mkdir(self.game)

    def tearDown(self):
        shutil.rmtree(self.scratch, ignore_errors=True)

    def put(self, path, content):
        """Writes a game file; `path` is str or bytes (for names that are not UTF-8)."""
        game = os.fsencode(self.game) if isinstance(path, bytes) else self.game
        sep = b"/" if isinstance(path, bytes) else "/"
        target = os.path.join(game, *path.split(sep))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(content)
        return target

    def publish(self, *extra, limit_file_bytes=None, survive_file_limit=True):
        def limits():
            if limit_file_bytes is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit_file_bytes, limit_file_bytes))
                if survive_file_limit:
                    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        return subprocess.run([TOOL, *extra, self.game, self.server], capture_output=True,
                              timeout=TIMEOUT, preexec_fn=limits)

    def assertPublished(self, result):
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))

    def list_bytes(self):
        with open(os.path.join(self.server, "patchlist.txt"), "rb") as f:
            return f.read()

    def list_entries(self):
        return [line.split(" ") for line in self.list_bytes().decode().split("\n")[:-1]]

    def staging_leftovers(self):
        found = []
        for folder, _, names in os.walk(self.server):
            found += [os.path.join(folder, n) for n in names
                      if n.startswith(".vorlen-publish-") and n.endswith(".part")]
        return found

    def server_stamps(self, with_lock=False):
        """Inode and modification time of every file in the server folder; the lock
        is rewritten by every publish that takes it."""
        found = {}
        for folder, _, names in os.walk(self.server):
            for name in names:
                if with_lock or name != ".vorlen-publish-lock":
                    info = os.stat(os.path.join(folder, name))
                    found[os.path.relpath(os.path.join(folder, name), self.server)] = (info.st_ino, info.st_mtime_ns)
        return found

    def served_names(self):
        """The server folder's top names, without the tool's own record and lock."""
        return sorted(n for n in os.listdir(self.server) if not n.startswith(".vorlen-publish-"))

    def read_server(self, path):
        with open(os.path.join(self.server, path), "rb") as f:
            return f.read()

    def start_held_publish(self, *extra, until=None):
        """Starts a publish that stops at its first progress line, after 1000 files:
        its stderr is a pipe already full. Returns the process once it holds the
        server folder's lock (which it takes after scanning the game folder) and the
        server folder has `until`, and a function that lets it go on and returns its
        exit status and stderr."""
        read_end, write_end = os.pipe()
        os.set_blocking(write_end, False)
        for block in (b"." * 65536, b"."):
            try:
                while True:
                    os.write(write_end, block)
            except BlockingIOError:
                pass
        os.set_blocking(write_end, True)
        process = subprocess.Popen([TOOL, *extra, self.game, self.server], stdout=subprocess.DEVNULL,
                                   stderr=write_end)
        os.close(write_end)
        self.addCleanup(os.close, read_end)
        self.addCleanup(lambda: process.poll() is not None or (process.kill(), process.wait()))
        lock = os.path.join(self.server, ".vorlen-publish-lock")
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline and process.poll() is None:
            if os.path.exists(lock):
                with open(lock, "rb") as f:
                    if f"pid {process.pid}\n".encode() in f.read() and (
                            until is None or os.path.exists(os.path.join(self.server, until))):
                        break
            time.sleep(0.02)
        self.assertIsNone(process.poll(), "the held publish ended early")

        def release():
            text = b""
            while time.monotonic() < deadline:
                ready, _, _ = select.select([read_end], [], [], max(0.0, deadline - time.monotonic()))
                chunk = os.read(read_end, 65536) if ready else b""
                if not chunk:
                    break
                text += chunk
            return process.wait(max(1.0, deadline - time.monotonic())), text.lstrip(b".").decode(errors="replace")
        return process, release


class PublishedFolder(ToolFixture):
    def test_list_has_one_line_per_file_sorted_bytewise_with_lf_ends(self):
        names = ["beta.txt", "Zeta.txt", "a/b", "a.b", "a-b", "żuk.txt", "zz", "dane/zażółć.txt", "Ab"]
        for name in names:
            self.put(name, name.encode())
        self.assertPublished(self.publish())
        text = self.list_bytes()
        self.assertNotIn(b"\r", text)
        self.assertTrue(text.endswith(b"\n"))
        listed = [line.split(b" ")[0] for line in text.split(b"\n")[:-1]]
        self.assertEqual(listed, sorted(n.encode() for n in names))
        for line in text.split(b"\n")[:-1]:
            path, md5, size = line.split(b" ")
            self.assertRegex(md5, rb"^[0-9a-f]{32}$")
            self.assertEqual(int(size), len(path))

    def test_digests_and_sizes_match_md5sum(self):
        sizes = [0, 1, 55, 56, 63, 64, 65, 8191, 8192, 8193, (1 << 20) + 3, (3 << 20) - 1]
        for size in sizes:
            self.put(f"data/f{size:08d}.bin", pattern(size, size))
        self.assertPublished(self.publish())
        md5sum = subprocess.run(["md5sum"] + [f"data/f{s:08d}.bin" for s in sizes], cwd=self.game,
                                capture_output=True, check=True, timeout=TIMEOUT).stdout.decode()
        expected = {}
        for line in md5sum.splitlines():
            digest, path = line.split("  ", 1)
            expected[path] = digest
        entries = self.list_entries()
        self.assertEqual(len(entries), len(sizes))
        for path, md5, size in entries:
            self.assertEqual(md5, expected[path], path)
            self.assertEqual(int(size), os.path.getsize(os.path.join(self.game, path)), path)

    def test_server_folder_holds_the_same_bytes_as_the_game_folder(self):
        files = {"readme.txt": b"hello\n", "dane/zażółć.txt": "gęś".encode(), "a/b/c/deep.bin": pattern(70000, 1)}
        for path, content in files.items():
            self.put(path, content)
        self.assertPublished(self.publish())
        for path, content in files.items():
            with open(os.path.join(self.server, path), "rb") as f:
                self.assertEqual(f.read(), content, path)
        self.assertEqual(self.staging_leftovers(), [])

    def test_version_file_and_new_patcher_are_published_on_request(self):
        self.put("a.txt", b"a")
        exe = os.path.join(self.scratch, "new.exe")
        with open(exe, "wb") as f:
            f.write(b"MZ" + pattern(5000, 2))
        self.assertPublished(self.publish("--patcher-version", "01.0.6.0", "--patcher-exe", exe))
        with open(os.path.join(self.server, "patcher_version.txt"), "rb") as f:
            self.assertEqual(f.read(), b"1.0.6.0\n")
        with open(os.path.join(self.server, "Vorlen-Patcher.exe"), "rb") as f, open(exe, "rb") as g:
            self.assertEqual(f.read(), g.read())
        self.assertEqual([e[0] for e in self.list_entries()], ["a.txt"])

    def test_without_patcher_options_no_version_file_is_written(self):
        self.put("a.txt", b"a")
        self.assertPublished(self.publish())
        self.assertEqual(self.served_names(), ["a.txt", "patchlist.txt"])

    def test_publishing_again_lists_the_game_folder_as_it_is_now(self):
        self.put("keep.txt", b"same")
        self.put("change.txt", b"old")
        self.put("gone.txt", b"bye")
        self.assertPublished(self.publish())
        self.put("change.txt", b"new content")
        os.remove(os.path.join(self.game, "gone.txt"))
        self.assertPublished(self.publish())
        self.assertEqual(self.list_bytes(),
                         b"change.txt " + hashlib.md5(b"new content").hexdigest().encode() + b" 11\n"
                         b"keep.txt " + hashlib.md5(b"same").hexdigest().encode() + b" 4\n")
        with open(os.path.join(self.server, "change.txt"), "rb") as f:
            self.assertEqual(f.read(), b"new content")

    def test_publishing_again_writes_only_what_changed(self):
        """Caches tell files apart by their time and inode (nginx's ETag and
        Last-Modified): a file rewritten with the same bytes looks changed."""
        self.put("same.pak", pattern(300000, 5))
        self.put("data/same-size.dat", b"AAAA")
        self.put("data/grows.dat", b"short")
        exe = os.path.join(self.scratch, "new-patcher.exe")
        with open(exe, "wb") as f:
            f.write(b"MZ" + pattern(5000, 6))
        self.assertPublished(self.publish("--patcher-version", "1.0.6.0", "--patcher-exe", exe))
        stamps = self.server_stamps
        before = stamps()
        result = self.publish("--patcher-version", "1.0.6.0", "--patcher-exe", exe)
        self.assertPublished(result)
        self.assertEqual(stamps(), before)
        self.assertIn(b"0 written, 3 already in place", result.stdout)
        self.assertIn(b"patchlist.txt: 3 entries (unchanged)", result.stdout)

        # Same size, other bytes: the recorded digest tells it apart; a longer file
        # and a new one are written; the executable, the version and the rest stay.
        self.put("data/same-size.dat", b"BBBB")
        self.put("data/grows.dat", b"much longer now")
        self.put("data/new.dat", b"new")
        self.assertPublished(self.publish("--patcher-version", "1.0.6.0", "--patcher-exe", exe))
        after = stamps()
        changed = sorted(path for path in after if after[path] != before.get(path))
        self.assertEqual(changed, [".vorlen-publish-state", "data/grows.dat", "data/new.dat", "data/same-size.dat",
                                   "patchlist.txt"])
        for path in ("data/same-size.dat", "data/grows.dat", "data/new.dat", "same.pak"):
            with open(os.path.join(self.server, path), "rb") as f, open(os.path.join(self.game, path), "rb") as g:
                self.assertEqual(f.read(), g.read(), path)
        self.assertIn(b"data/same-size.dat " + hashlib.md5(b"BBBB").hexdigest().encode() + b" 4\n",
                      self.list_bytes())

        # A server file that no longer matches its recorded size is put right.
        with open(os.path.join(self.server, "same.pak"), "ab") as f:
            f.write(b"damage")
        self.assertPublished(self.publish())
        with open(os.path.join(self.server, "same.pak"), "rb") as f:
            self.assertEqual(f.read(), pattern(300000, 5))

    def test_a_file_damaged_in_place_is_written_again(self):
        """Damage that changes a served file's time is repaired; damage that keeps
        its size, time and inode only --check-in-place finds, as does the first
        publish into a folder without the tool's record."""
        self.put("maps/forest.map", pattern(5000, 7))
        self.put("readme.txt", b"hello\n")
        self.assertPublished(self.publish())
        served = os.path.join(self.server, "maps", "forest.map")
        with open(served, "r+b") as f:
            f.write(b"XXXX")
        result = self.publish()
        self.assertPublished(result)
        self.assertIn(b"1 written, 1 already in place", result.stdout)
        self.assertEqual(self.read_server("maps/forest.map"), pattern(5000, 7))

        def rot():
            info = os.stat(served)
            with open(served, "r+b") as f:
                f.write(b"YYYY")
            os.utime(served, ns=(info.st_atime_ns, info.st_mtime_ns))

        rot()
        self.assertIn(b"0 written, 2 already in place", self.publish().stdout)
        before = self.server_stamps(with_lock=True)
        dry = self.publish("--check-in-place", "--dry-run")
        self.assertPublished(dry)
        self.assertIn(b"would write maps/forest.map (differs from the file in place)\n", dry.stdout)
        self.assertIn(b"game files: 1 would be written, 1 already in place", dry.stdout)
        self.assertEqual(self.server_stamps(with_lock=True), before)
        result = self.publish("--check-in-place")
        self.assertIn(b"1 written, 1 already in place", result.stdout)
        self.assertEqual(self.read_server("maps/forest.map"), pattern(5000, 7))
        rot()
        os.remove(os.path.join(self.server, ".vorlen-publish-state"))
        result = self.publish()
        self.assertIn(b"has no record of what this tool placed there", result.stderr)
        self.assertIn(b"1 written, 1 already in place", result.stdout)
        self.assertEqual(self.read_server("maps/forest.map"), pattern(5000, 7))

    def test_warns_about_paths_that_may_be_too_long_for_windows(self):
        deep = "/".join(["folder-" + "x" * 40] * 5) + "/file.dat"  # 248 characters
        self.put(deep, b"x")
        self.put("short.txt", b"y")
        result = self.publish()
        self.assertPublished(result)
        self.assertIn(f"note: 1 path(s) are longer than 196 characters, the longest {deep} (248)".encode(),
                      result.stderr)
        self.assertEqual(len(self.list_entries()), 2)

    def test_large_folders_report_progress_on_stderr(self):
        for i in range(1200):
            self.put(f"many/{i:05d}.dat", b"x")
        result = self.publish()
        self.assertPublished(result)
        err = result.stderr.decode()
        self.assertIn("1000/1200 files", err)
        self.assertIn("1200/1200 files", err)
        self.assertIn(b"Published 1200 files", result.stdout)

    def test_quiet_prints_nothing_on_success(self):
        for i in range(1200):
            self.put(f"many/{i:05d}.dat", b"x")
        result = self.publish("--quiet")
        self.assertPublished(result)
        self.assertEqual((result.stdout, result.stderr), (b"", b""))

    def test_help_explains_the_usage(self):
        result = subprocess.run([TOOL, "--help"], capture_output=True, timeout=TIMEOUT)
        self.assertEqual(result.returncode, 0)
        self.assertIn(b"Usage: vorlen-publish [options] GAME_FOLDER SERVER_FOLDER", result.stdout)
        self.assertIn(b"--patcher-version", result.stdout)

    def test_wrong_usage_exits_with_2(self):
        for args in ([], [self.game], ["--bogus", self.game, self.server], ["--patcher-version"]):
            result = subprocess.run([TOOL, *args], capture_output=True, timeout=TIMEOUT)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(b"--help", result.stderr)


class Refusals(ToolFixture):
    """Each refusal exits with 1, names the file and leaves the server folder as it was."""

    def setUp(self):
        super().setUp()
        self.put("good.txt", b"good")
        self.assertPublished(self.publish())
        self.previous_list = self.list_bytes()
        self.previous_names = sorted(os.listdir(self.server))

    def assertRefused(self, *args, naming):
        result = self.publish(*args)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(naming.encode() if isinstance(naming, str) else naming, result.stderr)
        self.assertEqual(self.list_bytes(), self.previous_list)
        self.assertEqual(sorted(os.listdir(self.server)), self.previous_names)
        return result.stderr.decode(errors="replace")

    def test_refuses_names_with_white_space(self):
        self.put("maps/my map.dat", b"x")
        self.put("tab\there", b"x")
        err = self.assertRefused(naming="maps/my map.dat")
        self.assertIn("white space", err)
        self.assertIn("tab\\x09here", err)

    def test_refuses_paths_the_patcher_refuses(self):
        for name in ["CON", "data/nul.txt", "com1.log"]:
            self.put(name, b"x")
        err = self.assertRefused(naming="data/nul.txt")
        self.assertIn("CON:", err)
        self.assertIn("com1.log:", err)

    def test_refuses_names_windows_or_an_unencoded_url_cannot_carry(self):
        for name in ["back\\slash", "what?", "a:b", "100%", "part#2", "dot."]:
            self.put(name, b"x")
        err = self.assertRefused(naming="100%")
        for name in ["back\\slash", "what?", "a:b", "part#2", "dot."]:
            self.assertIn(name + ":", err)

    def test_refuses_a_file_beside_its_staging_name(self):
        self.put("data/a.pak", b"x")
        self.put("data/a.pak.tmp", b"y")
        err = self.assertRefused(naming="'data/a.pak' is downloaded to 'data/a.pak.tmp' first")
        self.assertIn("data/a.pak.tmp", err)

    def test_refuses_names_that_are_one_file_on_windows(self):
        self.put("Dane/Zażółć.txt", b"x")
        self.put("dane/zAŻÓŁĆ.txt", b"y")
        self.assertRefused(naming="differ only in letter case")

    def test_refuses_files_of_4_gib_or_more(self):
        big = self.put("video/intro.bik", b"")
        os.truncate(big, 1 << 32)  # sparse: no disk space used
        self.assertRefused(naming="video/intro.bik: 4 GiB or larger")

    def test_refuses_names_that_are_not_utf8(self):
        self.put(b"dane/stara\xbfnazwa.txt", b"latin-2 name")
        self.assertRefused(naming=b"dane/stara\\xBFnazwa.txt")

    def test_refuses_the_server_and_patcher_names(self):
        self.put("patchlist.txt", b"x")
        self.put("Vorlen-Patcher.exe", b"MZ")
        self.put("PatchList.txt.sig", b"x")
        err = self.assertRefused(naming="patchlist.txt:")
        self.assertIn("Vorlen-Patcher.exe:", err)
        self.assertIn("PatchList.txt.sig:", err)

    def test_refuses_special_files_and_links_to_folders(self):
        os.mkfifo(os.path.join(self.game, "pipe"))
        os.symlink(self.scratch, os.path.join(self.game, "loop"))
        err = self.assertRefused(naming="pipe: not a regular file")
        self.assertIn("loop: a link to a folder", err)

    def test_refuses_a_list_longer_than_the_patcher_reads(self):
        # 4500 paths of about 3.8 KB make a list of over 16 MiB.
        folder = "/".join(["d" * 250] * 15)
        for i in range(4500):
            self.put(f"{folder}/{i:05d}", b"")
        self.assertRefused(naming="the patcher refuses a list over 16 MiB")

    def test_lists_every_refused_file_at_once(self):
        for i in range(3):
            self.put(f"bad {i}.txt", b"x")
        err = self.assertRefused(naming="bad 0.txt")
        self.assertIn("bad 1.txt", err)
        self.assertIn("bad 2.txt", err)

    def test_refuses_a_version_that_is_not_four_numbers(self):
        exe = self.put("../new.exe", b"MZ")
        for version in ["1.0.6", "v1.0.6.0", "1.0.6.0.0", "1.0.x.0"]:
            self.assertRefused("--patcher-version", version, "--patcher-exe", exe, naming=version)

    def test_refuses_a_new_patcher_that_is_not_a_windows_program(self):
        exe = self.put("../new.exe", b"#!/bin/sh\n")
        self.assertRefused("--patcher-version", "1.0.6.0", "--patcher-exe", exe,
                           naming="is not a Windows executable")

    def test_refuses_a_version_without_a_patcher_to_fetch(self):
        self.assertRefused("--patcher-version", "1.0.6.0", naming="--patcher-version needs --patcher-exe")

    def test_refuses_a_server_folder_inside_the_game_folder(self):
        result = subprocess.run([TOOL, self.game, os.path.join(self.game, "www")], capture_output=True,
                                timeout=TIMEOUT)
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"must not be the same or inside each other", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.game, "www")))

    def test_refuses_an_empty_game_folder(self):
        os.remove(os.path.join(self.game, "good.txt"))
        os.mkdir(os.path.join(self.game, "empty-folder"))
        self.assertRefused(naming="holds no files")


class AtomicWrite(ToolFixture):
    """A publish that fails half-way leaves the list that was there before."""

    def setUp(self):
        super().setUp()
        self.put("old.txt", b"the previous release")
        self.assertPublished(self.publish())
        self.previous_list = self.list_bytes()

    def test_a_list_that_cannot_be_written_whole_leaves_the_previous_one(self):
        # 400 short lines make a list of about 22 KiB; files may not grow past 8 KiB.
        for i in range(400):
            self.put(f"data/file{i:04d}.dat", b"x")
        result = self.publish(limit_file_bytes=8192)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(b"patchlist.txt", result.stderr)
        self.assertEqual(self.list_bytes(), self.previous_list)
        self.assertEqual(self.staging_leftovers(), [])

    def test_a_game_file_that_cannot_be_copied_whole_leaves_the_previous_list(self):
        self.put("big.pak", pattern(100000, 3))
        result = self.publish(limit_file_bytes=65536)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(b"patchlist.txt still names the previous release, and no changed file is in place yet",
                      result.stderr)
        self.assertEqual(self.list_bytes(), self.previous_list)
        self.assertFalse(os.path.exists(os.path.join(self.server, "big.pak")))
        self.assertEqual(self.staging_leftovers(), [])

    def test_publishing_the_previous_release_after_a_failure_puts_its_files_back(self):
        """A changed file of the same size that a failed publish put in place is
        written back when the previous release is published again."""
        self.put("old.txt", b"THE PREVIOUS RELEASE")
        self.put("zz-big.pak", pattern(100000, 5))
        result = self.publish(limit_file_bytes=65536)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(b"zz-big.pak", result.stderr)
        self.assertIn(b"patchlist.txt still names the previous release, and 1 changed file is already in place",
                      result.stderr)
        self.assertEqual(self.list_bytes(), self.previous_list)
        self.assertEqual(self.read_server("old.txt"), b"THE PREVIOUS RELEASE")

        os.remove(os.path.join(self.game, "zz-big.pak"))
        self.put("old.txt", b"the previous release")
        result = self.publish()
        self.assertPublished(result)
        self.assertIn(b"1 written, 0 already in place", result.stdout)
        self.assertIn(b"patchlist.txt: 1 entries (unchanged)", result.stdout)
        self.assertEqual(self.read_server("old.txt"), b"the previous release")

    def test_a_publish_killed_half_way_leaves_the_previous_list(self):
        # Without SIGXFSZ ignored, the kernel kills the tool at the limit, mid-copy.
        self.put("big.pak", pattern(100000, 4))
        result = self.publish(limit_file_bytes=65536, survive_file_limit=False)
        self.assertEqual(result.returncode, -signal.SIGXFSZ)
        self.assertEqual(self.list_bytes(), self.previous_list)
        self.assertFalse(os.path.exists(os.path.join(self.server, "big.pak")))
        # Its lock went with it; the next publish clears the copy it left unfinished.
        self.assertEqual(len(self.staging_leftovers()), 1)
        result = self.publish()
        self.assertPublished(result)
        self.assertIn(b"removed 1 unfinished file(s) that a stopped publish left behind", result.stderr)
        self.assertEqual(self.staging_leftovers(), [])
        self.assertEqual(self.read_server("big.pak"), pattern(100000, 4))


class WhileAPublishRuns(ToolFixture):
    """A publish held at its first progress line, after 1000 of its 1001 files."""

    def setUp(self):
        super().setUp()
        for i in range(1000):
            self.put(f"many/{i:04d}.dat", b"x")
        self.put("zz-last.dat", b"0123456789")

    def test_a_file_that_changes_after_the_scan_fails_the_release(self):
        last = os.path.join(self.game, "zz-last.dat")
        for change, complaint in ((b"0123456789more", "zz-last.dat grew past its 10 bytes while it was being published"),
                                  (b"9876543210", "zz-last.dat changed while it was being published")):
            _, release = self.start_held_publish()
            with open(last, "wb") as f:
                f.write(change)
            status, err = release()
            self.assertEqual(status, 1, err)
            self.assertIn(complaint, err)
            self.assertIn("no patchlist.txt has been published yet", err)
            self.assertFalse(os.path.exists(os.path.join(self.server, "patchlist.txt")))
            self.assertFalse(os.path.exists(os.path.join(self.server, "zz-last.dat")))
            self.assertEqual(self.staging_leftovers(), [])
            self.put("zz-last.dat", b"0123456789")

    def test_one_publish_at_a_time_and_a_killed_one_leaves_no_lock(self):
        held, release = self.start_held_publish(until="many/0999.dat")
        before = self.server_stamps(with_lock=True)
        second = self.publish()
        self.assertEqual(second.returncode, 1)
        self.assertIn(f"another publish into {self.server} is running (process {held.pid} on host "
                      f"{socket.gethostname()}, started ".encode(), second.stderr)
        self.assertIn(b"nothing was written. Give --wait SECONDS", second.stderr)
        self.assertEqual(self.server_stamps(with_lock=True), before)

        waiting = subprocess.Popen([TOOL, "--wait", "60", self.game, self.server], stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        self.addCleanup(lambda: waiting.poll() is not None or (waiting.kill(), waiting.communicate()))
        self.assertIn(f"waiting up to 60 s for process {held.pid} on host".encode(), waiting.stderr.readline())
        status, err = release()
        self.assertEqual(status, 0, err)
        out, err = waiting.communicate(timeout=TIMEOUT)
        self.assertEqual(waiting.returncode, 0, err)
        self.assertIn(b"0 written, 1001 already in place", out)

        killed, _ = self.start_held_publish()
        killed.kill()
        killed.wait(TIMEOUT)
        self.assertPublished(self.publish())


class WindowsBuild(ToolFixture):
    """The Windows build, under Wine, writes the very list the Linux build writes."""

    def setUp(self):
        super().setUp()
        self.exe = os.environ.get("VORLEN_PUBLISH_EXE", "")
        self.source = os.environ.get("VORLEN_SOURCE_DIR", "")
        if not self.exe:
            self.skipTest("VORLEN_PUBLISH_EXE is not set")

    def publish_on_windows(self, server):
        def windows(path):
            return "Z:" + path.replace("/", "\\")

        return subprocess.run([os.path.join(self.source, "cmake", "wine-run"), self.exe, windows(self.game),
                               windows(server)], capture_output=True, timeout=TIMEOUT)

    def test_writes_the_same_list_and_files_as_the_linux_build(self):
        subprocess.run([os.path.join(self.source, "tools", "sample-game", "make_sample_game.py"), self.game],
                       check=True, timeout=TIMEOUT)
        self.assertPublished(self.publish())
        windows_server = os.path.join(self.scratch, "server-windows")
        result = self.publish_on_windows(windows_server)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        with open(os.path.join(windows_server, "patchlist.txt"), "rb") as f:
            self.assertEqual(f.read(), self.list_bytes())
        for path, _, _ in self.list_entries():
            with open(os.path.join(windows_server, path), "rb") as f, open(os.path.join(self.game, path), "rb") as g:
                self.assertEqual(f.read(), g.read(), path)
        # Its record of what it placed: a file damaged in place is the only one written again.
        damaged, _, size = self.list_entries()[0]
        with open(os.path.join(windows_server, damaged), "r+b") as f:
            f.write(b"\0" if int(size) else b"")
        result = self.publish_on_windows(windows_server)
        self.assertEqual(result.returncode, 0, result.stderr.decode(errors="replace"))
        self.assertIn(f"game files: 1 written, {len(self.list_entries()) - 1} already in place".encode(), result.stdout)

    def test_refuses_a_name_with_white_space_as_the_linux_build_does(self):
        self.put("maps/my map.dat", b"x")
        result = self.publish_on_windows(os.path.join(self.scratch, "server-windows"))
        self.assertEqual(result.returncode, 1)
        self.assertIn(b"maps/my map.dat: the name holds white space", result.stderr)
        self.assertFalse(os.path.exists(os.path.join(self.scratch, "server-windows", "patchlist.txt")))


if __name__ == "__main__":
    unittest.main()
