#!/usr/bin/env python3
"""Signed releases end to end: the keyed test patcher (tests/e2e/build-patcher
--keyed, a signing key compiled in; the key pair is in its folder's "key") under
Wine against releases that vorlen-publish signed with --signing-key and nginx
serves. A signed release installs; a changed list, a changed game file, a
release without signatures, a changed new patcher and a new patcher replayed
under a newer version are refused with nothing installed and nothing started.
The unkeyed test patcher, given a signed release, asks for no signature at all.

Environment: as for e2e_test.py, with VORLEN_E2E_PATCHER the keyed patcher's
folder, or the unkeyed one's for UnkeyedAgainstASignedRelease."""
import os
import shutil
import subprocess
import unittest

import e2e_test
from e2e_test import CLOSE_SECONDS, PATCHER_DIR, PUBLISH, RUN_SECONDS

LIST_REFUSED = "BŁĄD: Nieprawidłowy podpis listy plików"
PATCHER_REFUSED = "BŁĄD: Nieprawidłowy podpis nowej wersji patchera"
e2e_test.RUN_ENDINGS = e2e_test.RUN_ENDINGS + (LIST_REFUSED,)

AGENT = "Vorlen Patcher/1.0"


def flip_byte(path, offset):
    with open(path, "r+b") as f:
        f.seek(offset)
        byte = f.read(1)
        f.seek(offset)
        f.write(bytes([byte[0] ^ 0x01]))


class SignedRelease(e2e_test.PatcherAgainstNginx):
    """The sample game published and signed with the keyed patcher's key."""

    def key(self):
        return os.path.join(PATCHER_DIR, "key", "private.pem")

    def setUp(self):
        super().setUp()
        self.publish_signed()

    def publish_signed(self, version=None, exe=None):
        version = version or e2e_test.patcher_version()
        subprocess.run([PUBLISH, "--quiet", "--signing-key", self.key(), "--patcher-version", version,
                        "--patcher-exe", exe or self.exe, self.sample, self.server], check=True, timeout=60)

    def expected_signed_start(self):
        start = self.expected_start()
        return start[:11] + ["Podpis listy plików poprawny"] + start[11:]

    def full_install_log(self, start):
        count = len(self.entries)
        total = sum(int(size) for _, _, size in self.entries)
        log = start + [f"Plików do aktualizacji: {count}", f"Łączny rozmiar: {total // 1048576} MB",
                       "--- Rozpoczęcie pobierania ---"]
        for number, (path, _, _) in enumerate(self.entries, 1):
            log += self.download_lines(number, count, path)
        return log + ["--- Pobieranie zakończone pomyślnie ---", "Patcher zamknięty"]

    def served_since(self, count):
        return [(path, status) for path, status, agent in self.requests()[count:] if agent == AGENT]


class KeyedUpdate(SignedRelease):
    def test_a_signed_release_installs(self):
        os.makedirs(self.game)
        messages = self.run_patcher()

        self.assertEqual(messages, self.full_install_log(self.expected_signed_start()))
        self.assertGameFolderHoldsTheSample()
        self.assertEqual(self.served_since(0), [("/fs/patcher_version.txt", 200), ("/fs/patchlist.txt", 200),
                                                ("/fs/patchlist.txt.sig", 200)]
                         + [(f"/fs/{path}", 200) for path, _, _ in self.entries])

    def test_a_list_without_its_own_good_signature_is_refused_before_any_file(self):
        # A stale game folder: a refused run must neither hash nor replace anything.
        shutil.copytree(self.sample, self.game)
        stale = os.path.join(self.game, self.entries[0][0])
        with open(stale, "r+b") as f:
            f.write(b"\0")
        with open(stale, "rb") as f:
            stale_bytes = f.read()
        signature = os.path.join(self.server, "patchlist.txt.sig")
        with open(signature, "rb") as f:
            good_signature = f.read()
        listing = os.path.join(self.server, "patchlist.txt")

        def tamper_list():
            # Another digest for the first file, in the list's own format.
            lines = self.list_text.split(b"\n")
            path, digest, size = lines[0].split(b" ")
            lines[0] = b" ".join([path, digest[:-1] + (b"0" if digest[-1:] != b"0" else b"1"), size])
            with open(listing, "wb") as f:
                f.write(b"\n".join(lines))

        def drop_signature():
            os.remove(signature)

        def cut_signature():
            with open(signature, "wb") as f:
                f.write(good_signature[:63])

        def signature_of_another_list():
            other_game = os.path.join(self.work, "other-game")
            other = os.path.join(self.work, "other-release")
            os.makedirs(other_game, exist_ok=True)
            with open(os.path.join(other_game, "a.txt"), "w") as f:
                f.write("another release\n")
            subprocess.run([PUBLISH, "--quiet", "--signing-key", self.key(), other_game, other], check=True,
                           timeout=60)
            shutil.copy(os.path.join(other, "patchlist.txt.sig"), signature)

        for tamper in (tamper_list, drop_signature, cut_signature, signature_of_another_list):
            with self.subTest(tamper.__name__):
                with open(listing, "wb") as f:
                    f.write(self.list_text)
                with open(signature, "wb") as f:
                    f.write(good_signature)
                tamper()
                with open(listing, "rb") as f:
                    served_list = f.read()
                if os.path.exists(os.path.join(self.game, "patcher.log")):
                    os.remove(os.path.join(self.game, "patcher.log"))
                seen = len(self.requests())
                messages = self.run_patcher()

                missing = ": HTTP Error: 404" if tamper is drop_signature else ""
                self.assertEqual(messages, self.expected_signed_start()[:10] + [
                    f"Patchlist pobrany, rozmiar: {len(served_list)} bajtów", LIST_REFUSED + missing,
                    "Patcher zamknięty"])
                self.assertEqual(self.served_since(seen), [
                    ("/fs/patcher_version.txt", 200), ("/fs/patchlist.txt", 200),
                    ("/fs/patchlist.txt.sig", 404 if tamper is drop_signature else 200)])
                with open(stale, "rb") as f:
                    self.assertEqual(f.read(), stale_bytes)
                self.assertEqual(self.files_in(self.game), sorted([p for p, _, _ in self.entries] + ["patcher.log"]))

    def test_a_changed_game_file_fails_the_digest_of_the_signed_list(self):
        os.makedirs(self.game)
        bad = self.entries[0][0]
        with open(os.path.join(self.server, bad), "r+b") as f:
            f.write(b"#")
        messages = self.run_patcher()

        self.assertEqual(messages[:len(self.expected_signed_start())], self.expected_signed_start())
        self.assertTrue(messages[-3].startswith(f"BŁĄD: MD5 nie pasuje! Oczekiwano: {self.entries[0][1]}, "), messages)
        self.assertEqual(messages[-2:], ["BŁĄD: Pobieranie nie powiodło się", "Patcher zamknięty"])
        self.assertEqual(self.files_in(self.game), ["patcher.log"])


class KeyedSelfUpdate(SignedRelease):
    """A newer patcher (the game stand-in) published and signed one version above the test patcher's."""

    def setUp(self):
        super().setUp()
        self.publish_signed(e2e_test.next_version(e2e_test.patcher_version()), self.stand_in())
        self.home = os.path.join(self.work, "patcher")
        os.makedirs(self.home)
        self.installed = os.path.join(self.home, "Vorlen-Patcher.exe")
        shutil.copy(self.exe, self.installed)
        os.makedirs(self.game)

    def test_a_signed_new_patcher_reaches_the_message_box_and_replaces_the_old_one(self):
        self.start_patcher(self.installed)
        e2e_test.EndToEndSelfUpdate.answer_the_message_box(self)
        self.patcher.wait(timeout=CLOSE_SECONDS)
        self.assertEqual(self.log_messages(), self.expected_start()[:8] + [
            "Dostępna nowa wersja patchera - aktualizacja", "Patcher zamknięty"])
        e2e_test.EndToEndSelfUpdate.wait_for_the_new_patcher(self, self.installed)
        self.assertEqual(self.served_since(0), [("/fs/patcher_version.txt", 200), ("/fs/Vorlen-Patcher.exe", 200),
                                                ("/fs/Vorlen-Patcher.exe.sig", 200)])

    def test_a_changed_or_replayed_new_patcher_is_refused_and_nothing_starts(self):
        served_exe = os.path.join(self.server, "Vorlen-Patcher.exe")
        version_file = os.path.join(self.server, "patcher_version.txt")

        def change_the_executable():
            flip_byte(served_exe, os.path.getsize(served_exe) // 2)

        def replay_under_a_newer_version():
            # The signed executable and its signature, announced one version later still.
            with open(version_file, "w") as f:
                f.write(e2e_test.next_version(e2e_test.next_version(e2e_test.patcher_version())) + "\n")

        def drop_the_signature():
            os.remove(served_exe + ".sig")

        for tamper in (change_the_executable, replay_under_a_newer_version, drop_the_signature):
            with self.subTest(tamper.__name__):
                self.publish_signed(e2e_test.next_version(e2e_test.patcher_version()), self.stand_in())
                tamper()
                log = os.path.join(self.game, "patcher.log")
                if os.path.exists(log):
                    os.remove(log)
                seen = len(self.requests())
                self.start_patcher(self.installed)
                self.wait_for_log((PATCHER_REFUSED,))
                self.close_window()
                self.assertEqual(self.patcher.returncode, 0)

                missing = ": HTTP Error: 404" if tamper is drop_the_signature else ""  # the client's reason
                self.assertEqual(self.log_messages(), self.expected_start()[:8] + [
                    "Dostępna nowa wersja patchera - aktualizacja", PATCHER_REFUSED + missing, "Patcher zamknięty"])
                self.assertEqual(self.served_since(seen), [
                    ("/fs/patcher_version.txt", 200), ("/fs/Vorlen-Patcher.exe", 200),
                    ("/fs/Vorlen-Patcher.exe.sig", 404 if tamper is drop_the_signature else 200)])
                self.assertEqual(os.listdir(self.home), ["Vorlen-Patcher.exe"], "the staged patcher was kept")
                with open(self.installed, "rb") as f, open(self.exe, "rb") as g:
                    self.assertEqual(f.read(), g.read(), "the executable was replaced")
                self.assertEqual(os.listdir(self.game), ["patcher.log"], "something was installed or started")


class UnkeyedAgainstASignedRelease(SignedRelease):
    """The unkeyed test patcher and a release signed with a key vorlen-publish made."""

    def key(self):
        folder = os.path.join(self.work, "key")
        if not os.path.exists(folder):
            subprocess.run([PUBLISH, "keygen", folder], check=True, timeout=60)
        return os.path.join(folder, "private.pem")

    def test_asks_for_no_signature_and_logs_as_before(self):
        os.makedirs(self.game)
        messages = self.run_patcher()

        self.assertEqual(messages, self.full_install_log(self.expected_start()))
        self.assertGameFolderHoldsTheSample()
        self.assertEqual(self.served_since(0), [("/fs/patcher_version.txt", 200), ("/fs/patchlist.txt", 200)]
                         + [(f"/fs/{path}", 200) for path, _, _ in self.entries])
        self.assertTrue(os.path.exists(os.path.join(self.server, "patchlist.txt.sig")))


if __name__ == "__main__":
    unittest.main()
