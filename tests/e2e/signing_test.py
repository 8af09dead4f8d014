#!/usr/bin/env python3
"""Signed releases end to end: the keyed test patcher (tests/e2e/build-patcher
--keyed, a signing key compiled in; the key pair is in its folder's "key") under
Wine against releases that vorlen-publish wrote and nginx serves, each with a
release statement (patchlist.txt.sig) that this script signs with Debian's
openssl. A signed release installs and records its number; an older release, an
expired statement, a list, version or executable of another release, and a
statement that is missing, cut, or signed with another key are refused with
nothing installed and nothing started. The unkeyed test patcher, given a signed
release, asks for no statement at all.

Environment: as for e2e_test.py, with VORLEN_E2E_PATCHER the keyed patcher's
folder, or the unkeyed one's for UnkeyedAgainstASignedRelease."""
import base64
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
CONTEXT = b"vorlen release statement v1\n"
DAY = 24 * 3600


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


def raw_signature(der):
    """openssl's DER ECDSA signature as the 64-byte r‖s the patcher checks."""
    assert der[0] == 0x30, der
    at = 2
    values = []
    for _ in range(2):
        assert der[at] == 0x02, der
        length = der[at + 1]
        values.append(der[at + 2:at + 2 + length].lstrip(b"\0").rjust(32, b"\0"))
        at += 2 + length
    return b"".join(values)


def utc_text(seconds):
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(seconds))


def sign_release(server, release, keys, expires=None, with_patcher=True):
    """Writes server/patchlist.txt.sig for what the folder holds: its list and,
    when it publishes one and `with_patcher`, its patcher and version text."""
    listing = read(os.path.join(server, "patchlist.txt"))
    lines = ["vorlen-release 1", f"release {release}"]
    if expires is not None:
        lines.append(f"expires {utc_text(expires)}")
    lines += [f"list-sha256 {hashlib.sha256(listing).hexdigest()}", f"list-size {len(listing)}"]
    exe = os.path.join(server, "Vorlen-Patcher.exe")
    if with_patcher and os.path.exists(exe):
        version = read(os.path.join(server, "patcher_version.txt")).strip(b" \t\r\n").decode()
        lines += [f"patcher-version {version}", f"patcher-sha256 {hashlib.sha256(read(exe)).hexdigest()}",
                  f"patcher-size {os.path.getsize(exe)}"]
    body = "".join(line + "\n" for line in lines).encode()
    for key in keys:
        signature = raw_signature(openssl("dgst", "-sha256", "-sign", key, data=CONTEXT + body))
        body += f"signature {key_id(key)} {base64.b64encode(signature).decode()}\n".encode()
    target = os.path.join(server, "patchlist.txt.sig")
    with open(target + ".part", "wb") as f:
        f.write(body)
    os.replace(target + ".part", target)
    return body


class SignedRelease(e2e_test.PatcherAgainstNginx):
    """The sample game published as release 1, its statement signed with the keyed
    patcher's key."""

    def key(self):
        return os.path.join(PATCHER_DIR, "key", "private.pem")

    def setUp(self):
        super().setUp()
        self.release = 1
        sign_release(self.server, self.release, [self.key()])

    def publish_release(self, version=None, exe=None, sample=None, **signing):
        """Publishes the next release (unsigned: the tool still writes the older
        signature files) and signs its statement."""
        os.remove(os.path.join(self.server, "patchlist.txt.sig"))
        subprocess.run([PUBLISH, "--quiet", "--patcher-version", version or e2e_test.patcher_version(),
                        "--patcher-exe", exe or self.exe, sample or self.sample, self.server], check=True,
                       timeout=60)
        self.release += 1
        sign_release(self.server, self.release, [self.key()], **signing)

    def accepted(self, release=1, expiry=""):
        return ["Sprawdzanie podpisu wydania...",
                f"Podpis wydania poprawny: wydanie {release}, klucz {key_id(self.key())}{expiry}"]

    def expected_signed_start(self, release=1, expiry=""):
        start = self.expected_start()
        return start[:7] + self.accepted(release, expiry) + start[7:11] + [
            "Lista plików zgodna z podpisanym wydaniem"] + start[11:]

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
            sign_release(self.server, 1, [foreign])

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
        changed = self.entries[0][0]
        with open(os.path.join(self.sample, changed), "ab") as f:
            f.write(b"release 2")
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
        sign_release(self.server, 1, [self.key()], expires=expired)
        messages = self.run_patcher()

        self.assertEqual(messages[:-2], self.expected_start()[:7] + ["Sprawdzanie podpisu wydania..."])
        self.assertRegex(messages[-2], "^" + re.escape(f"{EXPIRED} (ważny do {utc_text(expired)}, teraz ") +
                         r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ\)$")
        self.assertEqual(self.served_since(0), [("/fs/patchlist.txt.sig", 200)])
        self.assertEqual(self.files_in(self.game), ["patcher.log"])

        recent = int(time.time()) - DAY // 2
        sign_release(self.server, 1, [self.key()], expires=recent)
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
        sign_release(self.server, 3, [self.key()], with_patcher=False)
        messages = self.run_patcher(self.installed)

        start = self.expected_start()
        self.assertEqual(messages, self.full_install_log(
            start[:7] + self.accepted(3) + [start[7], "BŁĄD: Wersja patchera nie jest podpisana"] + start[8:11]
            + ["Lista plików zgodna z podpisanym wydaniem"] + start[11:]))
        self.assertNotIn("/fs/Vorlen-Patcher.exe", [path for path, _ in self.served_since(0)])
        self.assertEqual(os.listdir(self.home), ["Vorlen-Patcher.exe"])
        self.assertGameFolderHoldsTheSample(extra=["vorlen-release.dat"])


class UnkeyedAgainstASignedRelease(SignedRelease):
    """The unkeyed test patcher and a release signed with a key of this test's own."""

    def key(self):
        key = os.path.join(self.work, "private.pem")
        if not os.path.exists(key):
            openssl("genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256", "-out", key)
        return key

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
