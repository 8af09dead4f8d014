#!/usr/bin/env python3
"""Hardening: the real patcher under Wine against a hostile server, a broken
disk, being killed in the middle of an update, a system without a command
interpreter, and DLLs and a cmd.exe planted in the game folder. Each case drives
the program from outside, as a player would, and reads its log, the files and
its exit code.

The fixtures are those of the end-to-end tests (tests/e2e/e2e_test.py); the same
environment variables apply, plus VORLEN_HOLD_FILE, the helper that holds a file
open without sharing, and VORLEN_PLANTED_DLL, the DLL planted under the names of
the patcher's libraries."""
import collections
import hashlib
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e_test  # noqa: E402
from e2e_test import (PATCHER_DIR, RUN_ENDINGS, SOURCE, PatcherAgainstMisbehavingServer,  # noqa: E402
                      PatcherAgainstNginx, free_port, next_version, patcher_version)

HOLD_FILE = os.environ.get("VORLEN_HOLD_FILE", "")
PLANTED_DLL = os.environ.get("VORLEN_PLANTED_DLL", "")
EMPTY_MD5 = hashlib.md5(b"").hexdigest()
# The client's receive time-out is 30 s; a stalled transfer ends after it, and
# the one fresh start a server without validators gets ends after it too.
STALL_SECONDS = 60
STALL_RUN_SECONDS = 150


class RunChecks:
    """Expectations shared by the matrices."""

    def all_current_lines(self):
        return self.expected_start() + ["Plików do aktualizacji: 0", "Łączny rozmiar: 0 MB",
                                        "Wszystkie pliki aktualne - brak do pobrania", "Patcher zamknięty"]

    def full_download_lines(self):
        total = sum(int(size) for _, _, size in self.entries)
        lines = self.expected_start() + [f"Plików do aktualizacji: {len(self.entries)}",
                                         f"Łączny rozmiar: {total // 1048576} MB", "--- Rozpoczęcie pobierania ---"]
        for number, (path, _, _) in enumerate(self.entries, 1):
            lines += self.download_lines(number, len(self.entries), path)
        return lines + ["--- Pobieranie zakończone pomyślnie ---", "Patcher zamknięty"]

    def assertInstalledFilesWhole(self):
        """Every listed file that is in the game folder has the listed digest, and
        nothing but listed files, temporary files of listed files and the log is there."""
        listed = {path: md5 for path, md5, _ in self.entries}
        for path in self.files_in(self.game):
            if path == "patcher.log":
                continue
            if path.endswith(".tmp") and path[:-4] in listed:
                continue
            self.assertIn(path, listed, "a file the list does not name")
            with open(os.path.join(self.game, path), "rb") as f:
                self.assertEqual(hashlib.md5(f.read()).hexdigest(), listed[path], f"{path} is not whole")

    def publish_version(self, version, exe=None):
        """A version file (and a new patcher's bytes) on the server."""
        if exe is not None:
            with open(os.path.join(self.server, "Vorlen-Patcher.exe"), "wb") as f:
                f.write(exe)
        with open(os.path.join(self.server, "patcher_version.txt"), "w") as f:
            f.write(version + "\n")

    def next_run_recovers(self):
        os.remove(os.path.join(self.game, "patcher.log"))
        messages = self.run_patcher()
        self.assertIn(messages[-2], ("--- Pobieranie zakończone pomyślnie ---",
                                     "Wszystkie pliki aktualne - brak do pobrania"), messages)
        self.assertGameFolderHoldsTheSample()
        return messages


class HostileServer(RunChecks, PatcherAgainstMisbehavingServer):
    def test_an_endless_patch_list_is_refused(self):
        os.makedirs(self.game)
        self.set_rules([("patchlist.txt", "endless")])
        messages = self.run_patcher()

        self.assertEqual(messages, self.expected_start()[:10] + [
            "BŁĄD: Nie można pobrać patchlist: Odpowiedź serwera jest zbyt duża (ponad 16 MiB)", "Patcher zamknięty"])
        self.assertEqual(self.files_in(self.game), ["patcher.log"])

    def test_an_endless_version_file_counts_as_no_update(self):
        shutil.copytree(self.sample, self.game)
        self.set_rules([("patcher_version.txt", "endless")])
        self.assertEqual(self.run_patcher(), self.all_current_lines())
        self.assertGameFolderHoldsTheSample()

    def test_a_file_body_longer_than_announced_stops_at_its_length(self):
        os.makedirs(self.game)
        self.set_rules([(self.entries[-1][0], "long/50000")])
        self.assertEqual(self.run_patcher(), self.full_download_lines())
        self.assertGameFolderHoldsTheSample()

    def test_bytes_after_every_body_never_reach_another_file(self):
        # The connection is kept for the next request, which then reads the
        # previous answer's surplus: that download fails, but no file is ever
        # installed with wrong bytes, and every run gets further.
        os.makedirs(self.game)
        self.set_rules([("patchlist.txt", "-"), ("patcher_version.txt", "-"), ("*", "long/50000")])
        installed = -1
        for _ in range(len(self.entries) + 1):
            log = os.path.join(self.game, "patcher.log")
            if os.path.exists(log):
                os.remove(log)
            messages = self.run_patcher()
            self.assertInstalledFilesWhole()
            self.assertEqual([p for p in self.files_in(self.game) if p.endswith(".tmp")], [])
            now = len(self.files_in(self.game))
            self.assertGreater(now, installed, f"a run made no progress: {messages}")
            installed = now
            if messages[-2] in ("--- Pobieranie zakończone pomyślnie ---",
                                "Wszystkie pliki aktualne - brak do pobrania"):
                break
        self.assertGameFolderHoldsTheSample()

    # Under Wine the surplus that arrives with a body would be appended to it
    # (the log once showed 5396 bytes for a 396-byte list): the memory download
    # stops at Content-Length, as the file download does.
    def test_a_patch_list_longer_than_announced_stops_at_its_length(self):
        shutil.copytree(self.sample, self.game)
        self.set_rules([("patchlist.txt", "long/5000")])
        messages = self.run_patcher()
        self.assertEqual(messages, self.all_current_lines())

    def test_a_list_or_version_file_cut_short_is_no_list_and_no_new_patcher(self):
        # Cut after the list's second line: the files it no longer names must not pass for current.
        shutil.copytree(self.sample, self.game)
        for path, _, _ in self.entries[2:]:
            os.remove(os.path.join(self.game, path))
        two_lines = sum(len(line) + 1 for line in self.list_text.split(b"\n")[:2])
        self.set_rules([("patchlist.txt", f"cut/{two_lines}")])
        self.assertEqual(self.run_patcher(), self.expected_start()[:10] + [
            "BŁĄD: Nie można pobrać patchlist: Niepełna odpowiedź serwera", "Patcher zamknięty"])
        # A newer version cut before its last ".0" would still read as newer.
        shutil.copytree(self.sample, self.game, dirs_exist_ok=True)
        os.remove(os.path.join(self.game, "patcher.log"))
        major, minor, build, _ = patcher_version().split(".")
        self.publish_version(f"{major}.{minor}.{int(build) + 1}.0")
        self.set_rules([("patcher_version.txt", f"cut/{len(patcher_version())}")])
        self.assertEqual(self.run_patcher(), self.all_current_lines())
        self.assertNotIn("/fs/Vorlen-Patcher.exe", self.served_requests())

    def test_a_stalled_download_times_out_into_an_error(self):
        os.makedirs(self.game)
        first = self.entries[0][0]
        self.set_rules([(first, f"stall/{STALL_SECONDS}")])
        self.start_patcher()
        self.wait_for_log(RUN_ENDINGS, seconds=STALL_RUN_SECONDS)
        # The window still answers after the time-out: its close button ends it.
        self.close_window()
        self.assertEqual(self.patcher.returncode, 0)

        count = len(self.entries)
        # Without a validator the file is asked for whole once more, which stalls too.
        self.assertEqual(self.log_messages()[-7:], [
            "--- Rozpoczęcie pobierania ---", f"[1/{count}] Pobieranie: {self.local(first)}",
            "Wznawianie pobierania od 0 bajtów (próba 1/5)",
            "Pobrano, weryfikacja MD5...", f"BŁĄD: MD5 nie pasuje! Oczekiwano: {self.entries[0][1]}, otrzymano: {EMPTY_MD5}",
            "BŁĄD: Pobieranie nie powiodło się", "Patcher zamknięty"])
        self.assertEqual(self.served_requests()[-2:], [f"/fs/{first}"] * 2)
        self.assertEqual(self.files_in(self.game), ["patcher.log"])

    def test_the_close_button_quits_during_a_stalled_download(self):
        os.makedirs(self.game)
        first = self.entries[0][0]
        self.set_rules([(first, f"stall/{STALL_SECONDS}")])
        self.start_patcher()
        self.wait_for_log((f"[1/{len(self.entries)}] Pobieranie: ",))
        time.sleep(1)
        started = time.monotonic()
        # The worker is blocked in a read until the 30 s receive time-out, and the
        # program waits for it before it ends: the bound only catches a hang.
        self.close_window(seconds=50)
        print(f"\nthe patcher ended {time.monotonic() - started:.1f} s after the close button", file=sys.stderr)
        self.assertEqual(self.patcher.returncode, 0)
        self.assertEqual(self.log_messages()[-4:], [
            f"[1/{len(self.entries)}] Pobieranie: {self.local(first)}",
            f"BŁĄD: Pobieranie nie powiodło się: {self.local(first)}", "Pobieranie anulowane", "Patcher zamknięty"])
        self.assertEqual(self.files_in(self.game), ["patcher.log"])

    # The process waits for the worker's blocked read to time out (about 30 s),
    # but the window is hidden as soon as the message loop ends.
    def test_the_window_goes_at_once_when_closed_during_a_stalled_download(self):
        os.makedirs(self.game)
        self.set_rules([(self.entries[0][0], f"stall/{STALL_SECONDS}")])
        self.start_patcher()
        self.wait_for_log((f"[1/{len(self.entries)}] Pobieranie: ",))
        time.sleep(1)
        self.click_window(390, 409)
        deadline = time.monotonic() + 10
        while self.window_of_patcher() is not None:
            self.assertLess(time.monotonic(), deadline, "the window stayed after the close button")
            self.click_window(390, 409)
            time.sleep(0.5)

    def test_a_server_that_answers_every_file_alike_fails_the_digest(self):
        os.makedirs(self.game)
        same = "readme.txt"
        self.set_rules([("patchlist.txt", "-"), ("patcher_version.txt", "-"), ("*", f"same/{same}")])
        messages = self.run_patcher()

        first = self.entries[0]
        self.assertNotEqual(first[0], same)
        self.assertEqual(messages[-6:], [
            "--- Rozpoczęcie pobierania ---", f"[1/{len(self.entries)}] Pobieranie: {self.local(first[0])}",
            "Pobrano, weryfikacja MD5...",
            f"BŁĄD: MD5 nie pasuje! Oczekiwano: {first[1]}, otrzymano: {hashlib.md5(self.sample_bytes(same)).hexdigest()}",
            "BŁĄD: Pobieranie nie powiodło się", "Patcher zamknięty"])
        self.assertEqual(self.files_in(self.game), ["patcher.log"])

    def test_a_redirect_to_another_server_is_followed(self):
        # WinHTTP follows redirects by default, also to another origin; the file
        # is still judged by its digest.
        other_root = os.path.join(self.work, "other-server")
        shutil.copytree(self.server, other_root)
        other_port = free_port()
        self.start_patch_server(other_port, other_root)
        moved = self.entries[1][0]
        self.set_rules([(moved, f"away/302/{other_port}")])
        os.makedirs(self.game)
        self.assertEqual(self.run_patcher(), self.full_download_lines())
        self.assertGameFolderHoldsTheSample()
        self.assertEqual(self.served_requests(other_root), ["/" + moved])

    def test_a_partial_content_answer_is_an_error(self):
        os.makedirs(self.game)
        self.set_rules([("patchlist.txt", "status/206")])
        self.assertEqual(self.run_patcher(), self.expected_start()[:10] + [
            "BŁĄD: Nie można pobrać patchlist: HTTP Error: 206", "Patcher zamknięty"])
        self.assertEqual(self.files_in(self.game), ["patcher.log"])

    def test_a_list_path_that_leaves_the_game_folder_is_refused(self):
        os.makedirs(self.game)
        evil = b"pwned\n"
        with open(os.path.join(self.work, "evil.txt"), "wb") as f:
            f.write(evil)
        lines = self.list_text.split(b"\n")[:-1]
        lines.insert(1, b"../evil.txt " + hashlib.md5(evil).hexdigest().encode() + b" " + str(len(evil)).encode())
        self.list_text = b"\n".join(lines) + b"\n"
        self.entries = [line.decode().split(" ") for line in lines]
        with open(os.path.join(self.server, "patchlist.txt"), "wb") as f:
            f.write(self.list_text)
        os.remove(os.path.join(self.work, "evil.txt"))
        messages = self.run_patcher()

        self.assertEqual(messages, self.expected_start()[:12] + [
            "BŁĄD: Niedozwolona ścieżka w liście plików: ../evil.txt", "Patcher zamknięty"])
        self.assertEqual(self.files_in(self.game), ["patcher.log"])
        self.assertFalse(os.path.exists(os.path.join(self.work, "evil.txt")))
        self.assertFalse(os.path.exists(os.path.join(self.work, "evil.txt.tmp")))
        self.assertEqual(self.served_requests(), ["/fs/patcher_version.txt", "/fs/patchlist.txt"])

    def test_a_version_file_with_a_byte_order_mark_or_garbage_is_no_update(self):
        shutil.copytree(self.sample, self.game)
        for text in (b"\xef\xbb\xbf1.0.6.0\r\n", b"v1.0.6.0", b"\x00\x01\xff\xfe garbage", b"\xff\xfe1\x00.\x006\x00"):
            with self.subTest(text=text):
                with open(os.path.join(self.server, "patcher_version.txt"), "wb") as f:
                    f.write(text)
                log = os.path.join(self.game, "patcher.log")
                if os.path.exists(log):
                    os.remove(log)
                self.assertEqual(self.run_patcher(), self.all_current_lines())
                self.assertGameFolderHoldsTheSample()


class BrokenDisk(RunChecks, PatcherAgainstNginx):
    def mount_tmpfs(self, folder, options):
        os.makedirs(folder, exist_ok=True)
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "vorlen-hardening", folder],
                              capture_output=True, text=True, timeout=30)
        if done.returncode != 0:
            self.skipTest(f"cannot mount a tmpfs here (needs root): {done.stderr.strip()}")
        self.addCleanup(subprocess.run, ["umount", "-l", folder], timeout=30)

    def remount(self, folder, options):
        subprocess.run(["mount", "-o", "remount," + options, folder], check=True, timeout=30)

    def test_a_read_only_folder_fails_the_file_and_keeps_the_old_one(self):
        # As root Unix permissions do not stop writes (Wine runs as root here), so
        # the folder is a read-only mount.
        shutil.copytree(self.sample, self.game)
        stale = "data/config.ini"
        data = os.path.join(self.game, "data")
        shutil.rmtree(data)
        self.mount_tmpfs(data, "size=4m")
        shutil.copytree(os.path.join(self.sample, "data"), data, dirs_exist_ok=True)
        with open(os.path.join(self.game, stale), "wb") as f:
            f.write(b"old settings\n")
        self.remount(data, "ro")
        messages = self.run_patcher()

        local = self.local(stale)
        self.assertEqual(messages[-5:], [
            "--- Rozpoczęcie pobierania ---", f"[1/1] Pobieranie: {local}", f"BŁĄD: Pobieranie nie powiodło się: {local}",
            "BŁĄD: Pobieranie nie powiodło się", "Patcher zamknięty"])
        with open(os.path.join(self.game, stale), "rb") as f:
            self.assertEqual(f.read(), b"old settings\n")
        self.assertFalse(os.path.exists(os.path.join(self.game, stale + ".tmp")))

        self.remount(data, "rw")
        self.next_run_recovers()

    def test_a_file_held_open_without_sharing_stays_whole(self):
        self.assertTrue(HOLD_FILE, "VORLEN_HOLD_FILE is not set")
        shutil.copytree(self.sample, self.game)
        stale = "data/config.ini"
        old = b"[video]\nwidth=800\nheight=600\n"
        with open(os.path.join(self.game, stale), "wb") as f:
            f.write(old)
        holder = self.start_wine_program(HOLD_FILE, [stale.replace("/", "\\"), "60"], cwd=self.game)
        self.addCleanup(lambda: holder.poll() is None and os.killpg(holder.pid, signal.SIGKILL))
        held = os.path.join(self.game, stale + ".held")
        deadline = time.monotonic() + 30
        while not os.path.exists(held):
            self.assertIsNone(holder.poll(), "the holder could not open the file")
            self.assertLess(time.monotonic(), deadline, "the holder did not start")
            time.sleep(0.2)
        os.remove(held)
        messages = self.run_patcher()

        local = self.local(stale)
        self.assertEqual(messages[-9:], [
            f"[1/1] Pobieranie: {local}", "Pobrano, weryfikacja MD5...", "MD5 OK, zamiana plików...",
            f"Usuwanie starego pliku: {local}", "fs::rename nie powiodło się, próba Windows API...",
            "MoveFileW nie powiodło się, próba CopyFileW...", "BŁĄD: CopyFileW też nie powiodło się!",
            "BŁĄD: Pobieranie nie powiodło się", "Patcher zamknięty"])
        with open(os.path.join(self.game, stale), "rb") as f:
            self.assertEqual(f.read(), old, "the held file was changed")
        self.assertFalse(os.path.exists(os.path.join(self.game, stale + ".tmp")))

        os.killpg(holder.pid, signal.SIGKILL)
        holder.wait(timeout=30)
        self.next_run_recovers()

    def test_a_full_disk_fails_the_download_and_leaves_no_partial_file(self):
        os.makedirs(self.game)
        big = "sound/music.ogg"  # 2 MiB, on a 1 MiB disk of its own
        self.mount_tmpfs(os.path.join(self.game, "sound"), "size=1m")
        messages = self.run_patcher()

        local = self.local(big)
        number = [path for path, _, _ in self.entries].index(big) + 1
        self.assertEqual(messages[-4:], [f"[{number}/{len(self.entries)}] Pobieranie: {local}",
                                         f"BŁĄD: Pobieranie nie powiodło się: {local}",
                                         "BŁĄD: Pobieranie nie powiodło się", "Patcher zamknięty"])
        self.assertEqual(os.listdir(os.path.join(self.game, "sound")), [])
        self.assertInstalledFilesWhole()

        self.remount(os.path.join(self.game, "sound"), "size=8m")
        self.next_run_recovers()

    def test_a_game_folder_with_blanks_and_polish_letters(self):
        self.game = os.path.join(self.work, "Gry Vorlen – źdźbło łąk ĄĘŚŻ")
        os.makedirs(self.game)
        self.assertEqual(self.run_patcher(), self.full_download_lines())
        self.assertGameFolderHoldsTheSample()

    def test_a_game_folder_path_near_max_path(self):
        # The longest Windows path the run uses, the temporary file of the longest
        # entry, is 259 characters: MAX_PATH less the terminator.
        longest = max((path for path, _, _ in self.entries), key=len)
        base = "Z:" + self.work.replace("/", "\\") + "\\"
        room = 259 - len(base) - len("\\" + longest + ".tmp")
        self.assertGreater(room, 20, "the build folder's path is too long for this test")
        parts = []
        while room > 100:
            parts.append("g" * 99)  # and one separator
            room -= 100
        parts.append("g" * room)
        name = "\\".join(parts)
        self.game = os.path.join(self.work, *parts)
        self.assertEqual(len(base + name + "\\" + longest.replace("/", "\\") + ".tmp"), 259)
        os.makedirs(self.game)
        self.assertEqual(self.run_patcher(), self.full_download_lines())
        self.assertGameFolderHoldsTheSample()


class BrokenDiskMidRun(RunChecks, PatcherAgainstMisbehavingServer):
    def test_a_file_deleted_on_the_server_during_the_run(self):
        os.makedirs(self.game)
        first, gone = self.entries[0][0], self.entries[1][0]
        self.set_rules([(first, "slow/3000")])
        self.start_patcher()
        self.wait_for_log((f"[1/{len(self.entries)}] Pobieranie: ",))
        kept = os.path.join(self.work, "kept")
        shutil.move(os.path.join(self.server, gone), kept)
        self.wait_for_log(RUN_ENDINGS)
        self.close_window()
        self.assertEqual(self.patcher.returncode, 0)

        local = self.local(gone)
        self.assertEqual(self.log_messages()[-5:], [
            "Plik zaktualizowany pomyślnie", f"[2/{len(self.entries)}] Pobieranie: {local}",
            f"BŁĄD: Pobieranie nie powiodło się: {local}", "BŁĄD: Pobieranie nie powiodło się", "Patcher zamknięty"])
        self.assertEqual(self.files_in(self.game), sorted([first, "patcher.log"]))
        self.assertInstalledFilesWhole()

        shutil.move(kept, os.path.join(self.server, gone))
        self.set_rules([])
        self.next_run_recovers()


class KilledMidUpdate(RunChecks, PatcherAgainstMisbehavingServer):
    """A large update over a slow link; the patcher's process is killed at random
    points, and every next run goes on from what was installed."""

    ROUNDS = 6
    SEED = 20261208

    def make_sample(self):
        super().make_sample()
        rng = random.Random(self.SEED)
        for number in range(6):
            with open(os.path.join(self.sample, "data", f"pack{number}.pak"), "wb") as f:
                f.write(rng.randbytes(12 * 1024 * 1024 + number))

    def test_no_installed_file_is_ever_partial(self):
        os.makedirs(self.game)
        # About 4 MB/s: the whole update takes some 20 s.
        self.set_rules([("*.pak", "slow/2")])
        rng = random.Random(self.SEED)
        killed_mid_file = 0
        for round_ in range(self.ROUNDS):
            log = os.path.join(self.game, "patcher.log")
            if os.path.exists(log):
                os.remove(log)
            self.start_patcher()
            self.wait_for_log(("--- Rozpoczęcie pobierania ---",) + RUN_ENDINGS)
            time.sleep(rng.uniform(0.2, 3.0))
            pid = self.patcher_unix_pid()
            self.assertIsNotNone(pid, f"round {round_}: the patcher ended before the kill: {self.log_messages()}")
            os.kill(pid, signal.SIGKILL)
            self.patcher.wait(timeout=30)
            with self.subTest(round=round_):
                self.assertInstalledFilesWhole()
            if any(path.endswith(".tmp") for path in self.files_in(self.game)):
                killed_mid_file += 1

        print(f"\n{killed_mid_file} of {self.ROUNDS} kills left a temporary file", file=sys.stderr)
        os.remove(os.path.join(self.game, "patcher.log"))
        self.set_rules([])
        messages = self.run_patcher()
        self.assertIn(messages[-2], ("--- Pobieranie zakończone pomyślnie ---",
                                     "Wszystkie pliki aktualne - brak do pobrania"), messages)
        # Every entry that a killed run left a temporary file for was downloaded
        # again, which moved that file into place.
        self.assertGameFolderHoldsTheSample()


class SelfUpdateFromTheGameFolder(RunChecks, PatcherAgainstNginx):
    """The real patcher in the game folder, as players run it, with a newer one on
    the server: in a Wine prefix without cmd.exe, and beside planted DLLs and a
    planted cmd.exe."""

    def self_update(self, exe_bytes, env=None, stderr=subprocess.DEVNULL):
        """Starts the patcher from the game folder and answers its message box."""
        exe = os.path.join(self.game, "Vorlen-Patcher.exe")
        shutil.copy(self.exe, exe)
        self.publish_version(next_version(patcher_version()), exe_bytes)
        self.start_patcher(exe, env=env, stderr=stderr)
        self.wait_for_log(("Dostępna nowa wersja patchera - aktualizacja",))
        self.publish_version(patcher_version())  # the restarted patcher finds itself current
        e2e_test.EndToEndSelfUpdate.answer_the_message_box(self)
        return exe

    def test_a_replacement_that_cannot_start_is_reported_and_the_update_goes_on(self):
        prefix = os.path.join(PATCHER_DIR, "wineprefix-without-cmd")
        subprocess.run([os.path.join(SOURCE, "cmake", "wine-run"), "hostname.exe"], timeout=180, check=True,
                       env=dict(self.wine_env(), WINEPREFIX=prefix), stdout=subprocess.DEVNULL)  # made on first use
        self.addCleanup(subprocess.run, ["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=prefix), timeout=30,
                        stderr=subprocess.DEVNULL)
        for folder in ("system32", "syswow64"):
            if os.path.exists(os.path.join(prefix, "drive_c", "windows", folder, "cmd.exe")):
                os.remove(os.path.join(prefix, "drive_c", "windows", folder, "cmd.exe"))
        os.makedirs(self.game)
        with open(self.stand_in(), "rb") as f:
            exe = self.self_update(f.read(), env={"WINEPREFIX": prefix})
        self.wait_for_log(("--- Pobieranie zakończone pomyślnie ---", "BŁĄD: Pobieranie nie powiodło się"))
        self.close_window()
        full = self.full_download_lines()
        self.assertEqual(self.log_messages(), full[:8] + [
            "Dostępna nowa wersja patchera - aktualizacja", "BŁĄD: Nie można uruchomić aktualizacji patchera"] + full[9:])
        self.assertGameFolderHoldsTheSample(extra=["Vorlen-Patcher.exe"])  # no .new, the old patcher kept
        with open(exe, "rb") as f, open(self.exe, "rb") as g:
            self.assertEqual(f.read(), g.read())

    @staticmethod
    def imports_of(image):
        listing = subprocess.run(["objdump", "-p", image], capture_output=True, text=True, timeout=60).stdout
        return {name.lower() for name in re.findall(r"DLL Name: (\S+)", listing)}

    def with_imports(self, names, seen):
        """`names` and all they import, as Wine's DLLs in the test prefix do."""
        for name in set(names) - seen:
            seen.add(name)
            system = os.path.join(self.prefix, "drive_c", "windows", "system32", name)
            if os.path.exists(system):
                self.with_imports(self.imports_of(system), seen)
        return seen

    def traced_update(self, name, env=None):
        """A self-update and the new patcher's whole update under +loaddll: each
        patcher's modules, and what Wine's own DLLs delay-loaded for them."""
        with open(self.exe, "rb") as f:
            published = f.read() + b"\0" * 4096
        with open(os.path.join(self.work, name + ".trace"), "w+b") as trace:
            exe = self.self_update(published, dict(env or {}, VORLEN_WINEDEBUG="+pid,+loaddll,+module"), trace)
            self.wait_for_log(("--- Pobieranie zakończone pomyślnie ---",), alive=False)
            self.close_restarted_patcher(exe)
            windows_exe = "Z:" + exe.replace("/", "\\")
            trace.seek(0)
            text = trace.read().decode("utf-8", "replace")
        self.assertEqual(self.log_messages(), self.full_download_lines())
        with open(exe, "rb") as f:
            self.assertEqual(f.read(), published, "the executable was not replaced")
        modules = collections.defaultdict(set)
        for pid, path in re.findall(r'^(\w+):\w+:trace:loaddll:\w+ Loaded L"(.*)" at ', text, re.M):
            modules[pid].add(path.replace("\\\\", "\\").lower())
        patchers = [pid for pid in modules if windows_exe.lower() in modules[pid]]
        self.assertEqual(len(patchers), 2)
        delayed = re.findall(r"^((\w+):\w+):trace:module:LdrResolveDelayLoadedAPI .*\n"
                             r"(?:(?!\1:trace:module:load_dll ).*\n){0,20}"
                             r'\1:trace:module:load_dll looking for L"([^"]+)" in \(null\)', text, re.M)
        return ([modules[pid] - {windows_exe.lower()} for pid in patchers],
                {dll.lower() for _, pid, dll in delayed if pid in patchers})

    def test_no_planted_dll_or_interpreter_runs(self):
        os.makedirs(self.game)
        first, delayed = self.traced_update("clean")
        # Planted under every name but those Windows itself never looks for in a
        # program's folder and Wine, without KnownDLLs, would take from there before
        # the program runs or on its own: the KnownDLLs of Windows 7 and all the
        # program imports statically (which must be KnownDLLs), and what Wine's
        # DLLs delay-load with all that imports (Wine resolves those along the
        # start-up search path; Windows honours SetDefaultDllDirectories).
        known = {f"{name}.dll" for name in (
            "advapi32 clbcatq comdlg32 difxapi gdi32 iertutil imagehlp imm32 kernel32 lpk msctf msvcrt normaliz "
            "nsi ole32 oleaut32 psapi sechost setupapi shell32 shlwapi urlmon user32 usp10 wininet wldap32 ws2_32"
        ).split()}
        direct = self.imports_of(self.exe)
        self.assertLessEqual(direct, known)
        left_out = known | self.with_imports(direct, set()) | self.with_imports(delayed, set())
        planted = {p.split("\\")[-1] for paths in first for p in paths if p.endswith(".dll")} - left_out
        self.assertLessEqual({"winhttp.dll", "gdiplus.dll"}, planted)
        shutil.rmtree(self.game)
        os.makedirs(self.game)
        for dll in planted:
            shutil.copy(PLANTED_DLL, os.path.join(self.game, dll))
        shutil.copy(self.stand_in(), os.path.join(self.game, "cmd.exe"))
        second, _ = self.traced_update("planted", {"WINEDLLOVERRIDES": ",".join(d[:-4] for d in planted) + "=n,b"})
        self.assertEqual([n for n in os.listdir(self.game) if n.endswith(".ran") or n.startswith("stand-in")], [])
        for paths in second:  # the system folder, or the side-by-side store for the manifest's common controls
            self.assertEqual({p for p in paths if not p.startswith(("c:\\windows\\system32\\",
                                                                     "c:\\windows\\winsxs\\"))}, set())


if __name__ == "__main__":
    unittest.main()
