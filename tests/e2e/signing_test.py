#!/usr/bin/env python3
"""Signed releases end to end: the keyed test patcher (tests/e2e/build-patcher
--keyed: key A compiled in, its pair in the folder's "key") under Wine against
releases that vorlen-publish wrote and signed (its release statement,
patchlist.txt.sig) and nginx serves. A signed release installs and records its
number; an older release, an expired statement, a list, version or executable
of another release, and a statement that is missing, cut, or signed with
another key are refused with nothing installed and nothing started. A key
change: releases signed with A, then with A and B shipping the key-change
patcher (one version later, holding A and B; its folder's "key-change"), which
a player who skipped that release still gets, and then B alone. The unkeyed test
patcher, given a signed release, asks for no statement at all.

Environment: as for e2e_test.py, with VORLEN_E2E_PATCHER the keyed patcher's
folder, or the unkeyed one's for UnkeyedAgainstASignedRelease."""
import hashlib
import os
import re
import shutil
import subprocess
import time
import unittest

import e2e_test
from e2e_test import CLOSE_SECONDS, PATCHER_DIR, PUBLISH

STATEMENT_REFUSED = "BŁĄD: Nieprawidłowy podpis wydania"
OLDER = "BŁĄD: Wydanie starsze niż zainstalowane"
EXPIRED = "BŁĄD: Podpis wydania wygasł"
LIST_MISMATCH = "BŁĄD: Lista plików nie zgadza się z podpisanym wydaniem"
VERSION_MISMATCH = "BŁĄD: Wersja patchera nie zgadza się z podpisanym wydaniem"
EXE_MISMATCH = "BŁĄD: Nowa wersja patchera nie zgadza się z podpisanym wydaniem"
e2e_test.RUN_ENDINGS = e2e_test.RUN_ENDINGS + (STATEMENT_REFUSED, OLDER, EXPIRED, LIST_MISMATCH, VERSION_MISMATCH,
                                               EXE_MISMATCH)

AGENT = "Vorlen Patcher/1.0"
DAY = 24 * 3600
KEY_A = os.path.join(PATCHER_DIR, "key", "private.pem")
KEY_B = os.path.join(PATCHER_DIR, "key-b", "private.pem")
KEY_CHANGE_PATCHER = os.path.join(PATCHER_DIR, "key-change", "Vorlen-Patcher.exe")


def flip_byte(path, offset):
    with open(path, "r+b") as f:
        f.seek(offset)
        byte = f.read(1)
        f.seek(offset)
        f.write(bytes([byte[0] ^ 0x01]))


def read(path):
    with open(path, "rb") as f:
        return f.read()


def openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, capture_output=True, check=True, timeout=60).stdout


def key_id(private_key):
    """The first 8 bytes, in hex, of the SHA-256 of the key's DER SubjectPublicKeyInfo."""
    return hashlib.sha256(openssl("pkey", "-in", private_key, "-pubout", "-outform", "DER")).hexdigest()[:16]


def utc_text(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


def signing(keys, expires_at=None):
    """vorlen-publish's options that sign with `keys`, expiring at `expires_at`."""
    options = [option for key in keys for option in ("--signing-key", key)]
    return options + (["--expires-at", utc_text(expires_at)] if expires_at is not None else [])


class SignedRelease(e2e_test.PatcherAgainstNginx):
    """The sample game published by vorlen-publish as release 1, signed with the
    keyed patcher's key (A)."""

    def keys(self):
        return [KEY_A]

    def publish_options(self):
        return signing(self.keys())

    def publish_release(self, version=None, exe=None, keys=None):
        """Publishes the sample game as it is now, with the patcher, signed; the
        list read back (what expected_start names)."""
        subprocess.run([PUBLISH, "--quiet", *signing(keys or self.keys()), "--patcher-version",
                        version or e2e_test.patcher_version(), "--patcher-exe", exe or self.exe, self.sample,
                        self.server], check=True, timeout=60)
        self.list_text = read(os.path.join(self.server, "patchlist.txt"))
        self.entries = [line.decode().split(" ") for line in self.list_text.split(b"\n")[:-1]]

    def resign(self, keys=None, expires_at=None):
        """A new statement for the release in place: other keys, another expiry."""
        subprocess.run([PUBLISH, "resign", "--quiet", *signing(keys or self.keys(), expires_at), self.server],
                       check=True, timeout=60)

    def change_sample(self, number, text):
        """Appends `text` to the sample's listed file `number` (0: the first);
        returns its path."""
        path = self.entries[number][0]
        with open(os.path.join(self.sample, path), "ab") as f:
            f.write(text)
        return path

    def accepted(self, release=1, expiry="", key=None):
        return ["Sprawdzanie podpisu wydania...",
                f"Podpis wydania poprawny: wydanie {release}, klucz {key_id(key or self.keys()[0])}{expiry}"]

    def expected_signed_start(self, release=1, expiry="", key=None):
        start = self.expected_start()
        return start[:7] + self.accepted(release, expiry, key) + start[7:11] + [
            "Lista plików zgodna z podpisanym wydaniem"] + start[11:]

    def full_install_log(self, start, paths=None, replacing=False):
        """The log of a run that installs the listed files in `paths` (all of them
        unless told), `replacing` files of an earlier release."""
        entries = [entry for entry in self.entries if paths is None or entry[0] in paths]
        count = len(entries)
        total = sum(int(size) for _, _, size in entries)
        log = start + [f"Plików do aktualizacji: {count}", f"Łączny rozmiar: {total // 1048576} MB",
                       "--- Rozpoczęcie pobierania ---"]
        for number, (path, _, _) in enumerate(entries, 1):
            lines = self.download_lines(number, count, path)
            if replacing:
                lines.insert(3, f"Usuwanie starego pliku: {self.local(path)}")
            log += lines
        return log + ["--- Pobieranie zakończone pomyślnie ---", "Patcher zamknięty"]

    def served_since(self, count):
        return [(path, status) for path, status, agent in self.requests()[count:] if agent == AGENT]

    def recorded_release(self):
        record = os.path.join(self.game, "vorlen-release.dat")
        return read(record) if os.path.exists(record) else None

    def fresh_log(self):
        log = os.path.join(self.game, "patcher.log")
        if os.path.exists(log):
            os.remove(log)


class KeyedUpdate(SignedRelease):
    def test_a_signed_release_installs_and_records_its_number(self):
        os.makedirs(self.game)
        messages = self.run_patcher()

        self.assertEqual(messages, self.full_install_log(self.expected_signed_start()))
        self.assertGameFolderHoldsTheSample(extra=["vorlen-release.dat"])
        self.assertEqual(self.recorded_release(), b"release 1\n")
        self.assertEqual(self.served_since(0), [("/fs/patchlist.txt.sig", 200), ("/fs/patcher_version.txt", 200),
                                                ("/fs/patchlist.txt", 200)]
                         + [(f"/fs/{path}", 200) for path, _, _ in self.entries])

    def test_a_list_without_its_own_good_statement_is_refused_before_any_file(self):
        # A stale game folder: a refused run must neither hash nor replace anything.
        shutil.copytree(self.sample, self.game)
        stale = os.path.join(self.game, self.entries[0][0])
        with open(stale, "r+b") as f:
            f.write(b"\0")
        stale_bytes = read(stale)
        statement = os.path.join(self.server, "patchlist.txt.sig")
        good_statement = read(statement)
        listing = os.path.join(self.server, "patchlist.txt")
        start = self.expected_start()

        def another_list():
            # Another digest for the first file, in the list's own format.
            lines = self.list_text.split(b"\n")
            path, digest, size = lines[0].split(b" ")
            lines[0] = b" ".join([path, digest[:-1] + (b"0" if digest[-1:] != b"0" else b"1"), size])
            with open(listing, "wb") as f:
                f.write(b"\n".join(lines))

        def drop_statement():
            os.remove(statement)

        def cut_statement():
            with open(statement, "wb") as f:
                f.write(good_statement[:-10])

        def statement_by_another_key():
            foreign = os.path.join(self.work, "foreign.pem")
            openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", foreign)
            self.resign([foreign])

        list_refused = self.accepted() + start[7:10] + [f"Patchlist pobrany, rozmiar: {len(self.list_text)} bajtów",
                                                        LIST_MISMATCH]
        cases = ((another_list, list_refused, 200, b"release 1\n"),
                 (drop_statement, ["Sprawdzanie podpisu wydania...", STATEMENT_REFUSED + ": HTTP Error: 404"], 404,
                  None),
                 (cut_statement, ["Sprawdzanie podpisu wydania...", STATEMENT_REFUSED + ": plik jest uszkodzony"],
                  200, None),
                 (statement_by_another_key, ["Sprawdzanie podpisu wydania...",
                                             STATEMENT_REFUSED + ": żaden podpis nie pasuje do kluczy patchera"],
                  200, None))
        for tamper, lines, status, recorded in cases:
            with self.subTest(tamper.__name__):
                with open(listing, "wb") as f:
                    f.write(self.list_text)
                with open(statement, "wb") as f:
                    f.write(good_statement)
                tamper()
                self.fresh_log()
                record = os.path.join(self.game, "vorlen-release.dat")
                if os.path.exists(record):
                    os.remove(record)
                seen = len(self.requests())
                messages = self.run_patcher()

                self.assertEqual(messages, start[:7] + lines + ["Patcher zamknięty"])
                fetched = [("/fs/patchlist.txt.sig", status)]
                if recorded:
                    fetched += [("/fs/patcher_version.txt", 200), ("/fs/patchlist.txt", 200)]
                self.assertEqual(self.served_since(seen), fetched)
                self.assertEqual(read(stale), stale_bytes)
                self.assertEqual(self.recorded_release(), recorded)
                self.assertEqual(self.files_in(self.game), sorted([p for p, _, _ in self.entries] + ["patcher.log"]
                                                                  + (["vorlen-release.dat"] if recorded else [])))

    def test_an_older_release_is_refused_after_a_newer_one(self):
        # Release 1 as anyone may have kept it, then release 2, which the player installs.
        release_1 = os.path.join(self.work, "release-1")
        shutil.copytree(self.server, release_1)
        changed = self.change_sample(0, b"release 2")
        self.publish_release()
        os.makedirs(self.game)
        messages = self.run_patcher()
        self.assertEqual(messages[-1:], ["Patcher zamknięty"])
        self.assertEqual(messages[-2], "--- Pobieranie zakończone pomyślnie ---")
        self.assertEqual(self.recorded_release(), b"release 2\n")
        installed = read(os.path.join(self.game, changed))

        # Release 1, served again in full, signed as it was.
        shutil.rmtree(self.server)
        shutil.copytree(release_1, self.server)
        self.fresh_log()
        seen = len(self.requests())
        messages = self.run_patcher()

        self.assertEqual(messages, self.expected_start()[:7] + [
            "Sprawdzanie podpisu wydania...", OLDER + " (1 < 2)", "Patcher zamknięty"])
        self.assertEqual(self.served_since(seen), [("/fs/patchlist.txt.sig", 200)])
        self.assertEqual(read(os.path.join(self.game, changed)), installed)
        self.assertEqual(self.recorded_release(), b"release 2\n")

    def test_an_expired_statement_is_refused_and_one_within_a_day_of_grace_is_not(self):
        os.makedirs(self.game)
        expired = int(time.time()) - 2 * DAY
        self.resign(expires_at=expired)
        messages = self.run_patcher()

        self.assertEqual(messages[:-2], self.expected_start()[:7] + ["Sprawdzanie podpisu wydania..."])
        self.assertRegex(messages[-2], "^" + re.escape(f"{EXPIRED} (ważny do {utc_text(expired)}, teraz ") +
                         r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\)$")
        self.assertEqual(self.served_since(0), [("/fs/patchlist.txt.sig", 200)])
        self.assertEqual(self.files_in(self.game), ["patcher.log"])

        recent = int(time.time()) - DAY // 2
        self.resign(expires_at=recent)
        self.fresh_log()
        messages = self.run_patcher()
        self.assertEqual(messages, self.full_install_log(self.expected_signed_start(
            expiry=f", ważny do {utc_text(recent)}")))
        self.assertGameFolderHoldsTheSample(extra=["vorlen-release.dat"])


class KeyedSelfUpdate(SignedRelease):
    """A newer patcher (the game stand-in) published as release 2, one version above the test patcher's."""

    def setUp(self):
        super().setUp()
        self.publish_release(e2e_test.next_version(e2e_test.patcher_version()), self.stand_in())
        self.home = os.path.join(self.work, "patcher")
        os.makedirs(self.home)
        self.installed = os.path.join(self.home, "Vorlen-Patcher.exe")
        shutil.copy(self.exe, self.installed)
        os.makedirs(self.game)

    def test_a_signed_new_patcher_reaches_the_message_box_and_replaces_the_old_one(self):
        self.start_patcher(self.installed)
        e2e_test.EndToEndSelfUpdate.answer_the_message_box(self)
        self.patcher.wait(timeout=CLOSE_SECONDS)
        self.assertEqual(self.log_messages(), self.expected_start()[:7] + self.accepted(2) + [
            "Sprawdzanie wersji patchera...", "Dostępna nowa wersja patchera - aktualizacja", "Patcher zamknięty"])
        e2e_test.EndToEndSelfUpdate.wait_for_the_new_patcher(self, self.installed)
        self.assertEqual(self.served_since(0), [("/fs/patchlist.txt.sig", 200), ("/fs/patcher_version.txt", 200),
                                                ("/fs/Vorlen-Patcher.exe", 200)])

    def test_another_releases_version_or_executable_is_refused_and_nothing_starts(self):
        served_exe = os.path.join(self.server, "Vorlen-Patcher.exe")
        version_file = os.path.join(self.server, "patcher_version.txt")
        good_exe = read(served_exe)

        def change_the_executable():
            flip_byte(served_exe, os.path.getsize(served_exe) // 2)

        def executable_of_another_release():
            shutil.copy(self.exe, served_exe)

        def version_of_another_release():
            # The signed executable, announced one version later still.
            with open(version_file, "w") as f:
                f.write(e2e_test.next_version(e2e_test.next_version(e2e_test.patcher_version())) + "\n")

        start = self.expected_start()[:7] + self.accepted(2) + ["Sprawdzanie wersji patchera..."]
        staged = start + ["Dostępna nowa wersja patchera - aktualizacja", EXE_MISMATCH]
        cases = ((change_the_executable, staged, True), (executable_of_another_release, staged, True),
                 (version_of_another_release, start + [VERSION_MISMATCH], False))
        for tamper, lines, fetched_exe in cases:
            with self.subTest(tamper.__name__):
                with open(served_exe, "wb") as f:
                    f.write(good_exe)
                with open(version_file, "w") as f:
                    f.write(e2e_test.next_version(e2e_test.patcher_version()) + "\n")
                tamper()
                self.fresh_log()
                seen = len(self.requests())
                self.start_patcher(self.installed)
                self.wait_for_log((lines[-1],))
                self.close_window()
                self.assertEqual(self.patcher.returncode, 0)

                self.assertEqual(self.log_messages(), lines + ["Patcher zamknięty"])
                self.assertEqual(self.served_since(seen), [("/fs/patchlist.txt.sig", 200),
                                                           ("/fs/patcher_version.txt", 200)]
                                 + ([("/fs/Vorlen-Patcher.exe", 200)] if fetched_exe else []))
                self.assertEqual(os.listdir(self.home), ["Vorlen-Patcher.exe"], "the staged patcher was kept")
                self.assertEqual(read(self.installed), read(self.exe), "the executable was replaced")
                self.assertEqual(sorted(os.listdir(self.game)), ["patcher.log", "vorlen-release.dat"],
                                 "something was installed or started")

    def test_a_newer_version_the_statement_does_not_sign_is_skipped_and_the_game_updated(self):
        # The same list published without a patcher into a folder of its own:
        # its statement, release 1 there, signs no patcher.
        unsigned_patcher = os.path.join(self.work, "without-patcher")
        subprocess.run([PUBLISH, "--quiet", *signing(self.keys()), self.sample, unsigned_patcher], check=True,
                       timeout=60)
        shutil.copy(os.path.join(unsigned_patcher, "patchlist.txt.sig"), self.server)
        messages = self.run_patcher(self.installed)

        start = self.expected_start()
        self.assertEqual(messages, self.full_install_log(
            start[:7] + self.accepted(1) + [start[7], "BŁĄD: Wersja patchera nie jest podpisana"] + start[8:11]
            + ["Lista plików zgodna z podpisanym wydaniem"] + start[11:]))
        self.assertNotIn("/fs/Vorlen-Patcher.exe", [path for path, _ in self.served_since(0)])
        self.assertEqual(os.listdir(self.home), ["Vorlen-Patcher.exe"])
        self.assertGameFolderHoldsTheSample(extra=["vorlen-release.dat"])


class KeyChange(SignedRelease):
    """Key A's releases, then A and B's with the key-change patcher, then B's alone."""

    def key_change_version(self):
        return e2e_test.next_version(e2e_test.patcher_version())

    def test_a_player_who_skipped_the_release_that_brought_key_b_updates_and_b_alone_then_suffices(self):
        # A player of release 1, signed with A, whose patcher holds A alone.
        home = os.path.join(self.work, "patcher")
        os.makedirs(home)
        installed = os.path.join(home, "Vorlen-Patcher.exe")
        shutil.copy(self.exe, installed)
        os.makedirs(self.game)
        self.assertEqual(self.run_patcher(installed), self.full_install_log(self.expected_signed_start()))

        # Release 2 ships the patcher that holds A and B, signed with both; the
        # player skips it. Release 3 changes another file, still signed with both.
        both = [KEY_A, KEY_B]
        changed = [self.change_sample(0, b"release 2")]
        self.publish_release(self.key_change_version(), KEY_CHANGE_PATCHER, both)
        changed.append(self.change_sample(1, b"release 3"))
        self.publish_release(self.key_change_version(), KEY_CHANGE_PATCHER, both)
        self.assertTrue(read(os.path.join(self.server, "patchlist.txt.sig")).startswith(b"vorlen-release 1\nrelease 3\n"))

        # The patcher holding A takes release 3 by A and updates itself; the
        # patcher holding A and B starts in its place and installs both releases' files.
        self.fresh_log()
        self.start_patcher(installed)
        e2e_test.EndToEndSelfUpdate.answer_the_message_box(self)
        self.patcher.wait(timeout=CLOSE_SECONDS)
        self.assertEqual(self.log_messages(), self.expected_start()[:7] + self.accepted(3) + [
            "Sprawdzanie wersji patchera...", "Dostępna nowa wersja patchera - aktualizacja", "Patcher zamknięty"])
        self.wait_for_log(("--- Pobieranie zakończone pomyślnie ---", "BŁĄD: "), alive=False)
        self.close_restarted_patcher(installed)
        start = [f"=== Vorlen Patcher {self.key_change_version()} ==="] + self.expected_signed_start(3)[1:]
        self.assertEqual(self.log_messages(), self.full_install_log(start, changed, replacing=True))
        self.assertEqual(read(installed), read(KEY_CHANGE_PATCHER), "the patcher was not replaced")
        self.assertEqual(self.recorded_release(), b"release 3\n")
        self.assertGameFolderHoldsTheSample(extra=["vorlen-release.dat"])

        # Release 4 is signed with B alone, which the new patcher takes.
        changed = [self.change_sample(2, b"release 4")]
        self.publish_release(self.key_change_version(), KEY_CHANGE_PATCHER, [KEY_B])
        self.fresh_log()
        start = [f"=== Vorlen Patcher {self.key_change_version()} ==="] + self.expected_signed_start(4, key=KEY_B)[1:]
        self.assertEqual(self.run_patcher(installed), self.full_install_log(start, changed, replacing=True))
        self.assertEqual(self.recorded_release(), b"release 4\n")

        # A patcher that still holds A alone refuses it, and installs nothing.
        self.change_sample(3, b"release 5")
        self.publish_release(self.key_change_version(), KEY_CHANGE_PATCHER, [KEY_B])
        before = {path: read(os.path.join(self.game, path)) for path, _, _ in self.entries}
        self.fresh_log()
        seen = len(self.requests())
        self.assertEqual(self.run_patcher(), self.expected_start()[:7] + [
            "Sprawdzanie podpisu wydania...", STATEMENT_REFUSED + ": żaden podpis nie pasuje do kluczy patchera",
            "Patcher zamknięty"])
        self.assertEqual(self.served_since(seen), [("/fs/patchlist.txt.sig", 200)])
        self.assertEqual({path: read(os.path.join(self.game, path)) for path, _, _ in self.entries}, before)
        self.assertEqual(self.recorded_release(), b"release 4\n")


class UnkeyedAgainstASignedRelease(SignedRelease):
    """The unkeyed test patcher and a release signed with a key of this test's own."""

    def keys(self):
        key = os.path.join(self.work, "private.pem")
        if not os.path.exists(key):
            openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key)
        return [key]

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
