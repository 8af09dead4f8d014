#!/usr/bin/env python3
"""End-to-end through a real cache: the real patcher talks to a Varnish edge
(Debian's varnishd, its built-in VCL) on the test patcher's port, in front of
the origin: the server folder written by vorlen-publish, served by server/serve
with a short game-file lifetime.

What must hold when a release is published while the edge still holds the
previous one: no run reports the old release as current; a run either installs
the new release or stops with a download error, installing no wrong byte; a run
after the game-file lifetime installs the new release exactly; and the files
that did not change are still answered by the edge.

Environment: as e2e_test.py."""
import hashlib
import os
import shutil
import sys
import subprocess
import time
import unittest
import urllib.parse
import urllib.request

from e2e_test import PUBLISH, READINESS_PROBE, RUN_ENDINGS, PatcherAgainstNginx, free_port
from edge_cache import EdgeCache

AGENT = "Vorlen Patcher/1.0"
# Varnish's default grace: for this long after a lifetime ends it may still hand
# out the old copy once while it fetches the new one.
GRACE_SECONDS = 10
SUCCESS = "--- Pobieranie zakończone pomyślnie ---"
FAILURE = "BŁĄD: Pobieranie nie powiodło się"


class PatcherBehindACache(PatcherAgainstNginx):
    GAME_MAX_AGE = 20

    def start_server(self):
        self.origin_port = free_port()
        self.start_nginx(self.origin_port, "--game-max-age", str(self.GAME_MAX_AGE))
        self.edge = EdgeCache(self.work, self.port, self.origin_port)
        self.addCleanup(self.edge.stop)

    def prime_the_edge(self):
        """Empties the edge (as an operator purges a CDN) and fetches every listed
        file through it, as players would; returns when they were stored: their
        lifetime counts from then."""
        self.edge.purge_all()
        for path, _, _ in self.entries:
            request = urllib.request.Request(f"{self.url}/{urllib.parse.quote(path)}",
                                             headers={"User-Agent": READINESS_PROBE})
            with urllib.request.urlopen(request, timeout=10) as answer:
                answer.read()
        return time.monotonic()

    def wait_until_stale_copies_are_gone(self, stored_at):
        left = stored_at + self.GAME_MAX_AGE + GRACE_SECONDS + 2 - time.monotonic()
        if left > 0:
            time.sleep(left)

    def make_release_2(self, changes):
        """A copy of the sample with `changes` (path -> bytes) applied, published
        into the same server folder; returns the new release's bytes by path."""
        release = os.path.join(self.work, "release-2")
        shutil.copytree(self.sample, release)
        for path, content in changes.items():
            os.makedirs(os.path.dirname(os.path.join(release, path)), exist_ok=True)
            with open(os.path.join(release, path), "wb") as f:
                f.write(content)
        subprocess.run([PUBLISH, "--quiet", release, self.server], check=True, timeout=60)
        files = {}
        for path in self.files_in(release):
            with open(os.path.join(release, path), "rb") as f:
                files[path] = f.read()
        return files

    def run_in(self, game):
        self.game = game
        os.makedirs(game, exist_ok=True)
        log = os.path.join(game, "patcher.log")
        if os.path.exists(log):
            os.remove(log)
        messages = self.run_patcher()
        # Which way each run went, for a look at the test's output.
        print(f"{os.path.basename(game)}: {messages[-3:-1]}", file=sys.stderr)
        return messages

    def assertHoldsNoWrongByte(self, game, releases):
        """Every file is whole and belongs to one of the releases; nothing is left
        half-done."""
        for path in self.files_in(game):
            if path == "patcher.log":
                continue
            with open(os.path.join(game, path), "rb") as f:
                content = f.read()
            self.assertTrue(any(release.get(path) == content for release in releases),
                            f"{path} holds bytes of no release")

    def assertHoldsExactly(self, game, release):
        self.assertEqual(self.files_in(game), sorted(list(release) + ["patcher.log"]))
        for path, content in release.items():
            with open(os.path.join(game, path), "rb") as f:
                self.assertEqual(hashlib.md5(f.read()).hexdigest(), hashlib.md5(content).hexdigest(), path)

    def release_1(self):
        return {path: self.sample_bytes(path) for path, _, _ in self.entries}


class ThroughACache(PatcherBehindACache):
    def test_a_new_release_is_never_hidden_by_the_edge(self):
        release_1 = self.release_1()
        player = os.path.join(self.work, "player")
        messages = self.run_in(player)
        self.assertEqual(messages[-2], SUCCESS)
        self.assertHoldsExactly(player, release_1)

        # Release 2 changes the last two files in list order and adds one; the
        # first five stay as they were (and stay untouched on the origin).
        stored_at = self.prime_the_edge()
        release_2 = self.make_release_2({
            "sound/music.ogg": hashlib.sha256(b"new music").digest() * 70000,
            "textures/ui/buttons.dat": self.sample_bytes("textures/ui/buttons.dat")[::-1],
            "textures/ui/new.dat": b"added in release 2\n"})
        origin_seen = len(self.requests())
        hits_before = self.edge.counters()["MAIN.cache_hit"]

        # A new player right after the release: the list comes from the origin,
        # the unchanged files from the edge, and the stale copy of a changed file
        # is refused by its digest.
        newcomer = os.path.join(self.work, "newcomer")
        messages = self.run_in(newcomer)
        self.assertIn(messages[-2], (SUCCESS, FAILURE), messages)
        self.assertHoldsNoWrongByte(newcomer, [release_2])
        unchanged = [path for path in sorted(release_2) if release_1.get(path) == release_2[path]]
        self.assertEqual(len(unchanged), 5)
        origin_paths = [path for path, _, agent in self.requests()[origin_seen:] if agent == AGENT]
        self.assertIn("/fs/patchlist.txt", origin_paths)
        for path in unchanged:
            self.assertNotIn(f"/fs/{path}", origin_paths, "an unchanged file went to the origin")
        hits = self.edge.counters()["MAIN.cache_hit"] - hits_before
        print(f"newcomer: {hits} answered by the edge; at the origin: {origin_paths}", file=sys.stderr)
        self.assertGreaterEqual(hits, len(unchanged))

        # The player with release 1: never told that release 1 is current.
        messages = self.run_in(player)
        self.assertNotIn("Wszystkie pliki aktualne - brak do pobrania", messages)
        self.assertIn(messages[-2], (SUCCESS, FAILURE), messages)
        self.assertHoldsNoWrongByte(player, [release_1, release_2])

        # Once the edge's copies have run out, both end with release 2 exactly.
        self.wait_until_stale_copies_are_gone(stored_at)
        for game in (player, newcomer):
            messages = self.run_in(game)
            self.assertEqual(messages[-2], SUCCESS, messages)
            self.assertHoldsExactly(game, release_2)


class ReplacedWhileDownloading(PatcherBehindACache):
    GAME_MAX_AGE = 3
    BIG = "data/big.pak"

    def make_sample(self):
        super().make_sample()
        with open(os.path.join(self.sample, self.BIG), "wb") as f:
            f.write(hashlib.sha256(b"release 1").digest() * (3 << 20))

    def test_a_file_renamed_into_place_mid_download_is_never_installed_wrong(self):
        release_1 = self.release_1()
        player = os.path.join(self.work, "player")
        os.makedirs(player)
        self.start_patcher()
        tmp = os.path.join(player, self.BIG + ".tmp")
        deadline = time.monotonic() + 60
        while not os.path.exists(tmp):
            self.assertIsNone(self.patcher.poll(), f"the patcher ended early: {self.log_messages()}")
            self.assertLess(time.monotonic(), deadline, f"the big download did not begin: {self.log_messages()}")
            time.sleep(0.02)
        # The publisher writes the new bytes beside it and renames them into place.
        release_2 = self.make_release_2({self.BIG: hashlib.sha256(b"release 2").digest() * (3 << 20)})
        self.wait_for_log(RUN_ENDINGS)
        stored_at = time.monotonic()
        self.close_window()

        messages = self.log_messages()
        print(f"racing run: {messages[-3:-1]}", file=sys.stderr)
        self.assertIn(messages[-2], (SUCCESS, FAILURE), messages)
        self.assertHoldsNoWrongByte(player, [release_1, release_2])
        if messages[-2] == SUCCESS:
            # It had the list of release 1: then it holds release 1, whole.
            self.assertIn(self.files_in(player), (sorted(list(release_1) + ["patcher.log"]),
                                                  sorted(list(release_2) + ["patcher.log"])))

        self.wait_until_stale_copies_are_gone(stored_at)
        messages = self.run_in(player)
        self.assertEqual(messages[-2], SUCCESS, messages)
        self.assertHoldsExactly(player, release_2)

    def start_patcher(self, exe=None):
        self.game = os.path.join(self.work, "player")
        super().start_patcher(exe)


if __name__ == "__main__":
    unittest.main()
