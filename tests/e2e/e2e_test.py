#!/usr/bin/env python3
"""End-to-end: the real patcher, under Wine, updates a game folder from a server
folder that vorlen-publish wrote and nginx (server/serve) serves on 127.0.0.1.

Environment (tests.cmake sets it):
  VORLEN_SOURCE_DIR    the source tree
  VORLEN_BUILD_DIR     the mingw build tree (its test-session has the Xvfb display)
  VORLEN_E2E_PATCHER   the folder of the patcher built for this test's server
                       (tests/e2e/build-patcher; its port is in the file "port")
  VORLEN_PUBLISH_TOOL  the native vorlen-publish

The patcher runs in a Wine prefix of its own (inside VORLEN_E2E_PATCHER), so no
other test's processes can look like a running game to it."""
import os
import re
import shutil
import signal
import subprocess
import time
import unittest
import urllib.parse
import urllib.request

SOURCE = os.environ.get("VORLEN_SOURCE_DIR", "")
BUILD = os.environ.get("VORLEN_BUILD_DIR", "")
PATCHER_DIR = os.environ.get("VORLEN_E2E_PATCHER", "")
PUBLISH = os.environ.get("VORLEN_PUBLISH_TOOL", "")

# Generous limits that only catch hangs.
RUN_SECONDS = 90
CLOSE_SECONDS = 15

# The last log line of every way a run can end.
RUN_ENDINGS = ("--- Pobieranie zakończone pomyślnie ---", "Wszystkie pliki aktualne - brak do pobrania",
               "BŁĄD: Pobieranie nie powiodło się", "BŁĄD: Lista plików pusta", "BŁĄD: Nie można pobrać patchlist: ",
               "BŁĄD: Gra jest uruchomiona", "Dostępna nowa wersja patchera - aktualizacja",
               "Anulowano przez użytkownika", "Pobieranie anulowane", "BŁĄD: Niedozwolona ścieżka",
               "BŁĄD: Nieoczekiwany wyjątek")

# The user agent of the fixture's own "is nginx up yet" requests.
READINESS_PROBE = "vorlen-e2e-readiness"

STAMPED_LINE = re.compile(rb"^\[([01]\d|2[0-3]):[0-5]\d:[0-5]\d\] (.*)$", re.S)


def read_log(path):
    """patcher.log as messages; every line must be stamped UTF-8 ending in CR LF."""
    with open(path, "rb") as f:
        data = f.read()
    if not data:
        return []
    assert data.endswith(b"\r\n"), "the log's last line has no CR LF"
    messages = []
    for line in data[:-2].split(b"\r\n"):
        match = STAMPED_LINE.match(line)
        assert match, f"not a stamped log line: {line!r}"
        messages.append(match.group(2).decode("utf-8"))
    return messages


class PatcherAgainstNginx(unittest.TestCase):
    """Fixture: the sample game published into a server folder and served by nginx
    at the URL the test patcher was built with."""

    def setUp(self):
        for name, value in (("VORLEN_SOURCE_DIR", SOURCE), ("VORLEN_BUILD_DIR", BUILD),
                            ("VORLEN_E2E_PATCHER", PATCHER_DIR), ("VORLEN_PUBLISH_TOOL", PUBLISH)):
            self.assertTrue(value, f"{name} is not set")
        with open(os.path.join(PATCHER_DIR, "port")) as f:
            self.port = int(f.read())
        with open(os.path.join(BUILD, "test-session", "display")) as f:
            self.display = f.read().strip()
        self.url = f"http://127.0.0.1:{self.port}/fs"
        self.exe = os.path.join(PATCHER_DIR, "Vorlen-Patcher.exe")
        self.prefix = os.path.join(PATCHER_DIR, "wineprefix")
        self.patcher = None
        self.nginx = None
        self.addCleanup(self.stop_everything)

        # Kept after the test for a look; replaced by the next run.
        self.work = os.path.join(BUILD, "e2e-runs", self.id().split(".")[-1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.sample = os.path.join(self.work, "sample-game")
        self.server = os.path.join(self.work, "server")
        self.game = os.path.join(self.work, "game")
        subprocess.run([os.path.join(SOURCE, "tools", "sample-game", "make_sample_game.py"), self.sample],
                       check=True, timeout=60)
        subprocess.run([PUBLISH, "--quiet", "--patcher-version", "1.0.5.0", "--patcher-exe", self.exe,
                        self.sample, self.server], check=True, timeout=60)
        with open(os.path.join(self.server, "patchlist.txt"), "rb") as f:
            self.list_text = f.read()
        self.entries = [line.decode().split(" ") for line in self.list_text.split(b"\n")[:-1]]
        self.start_nginx()

    def start_nginx(self):
        self.nginx_dir = os.path.join(self.work, "nginx")
        self.nginx = subprocess.Popen([os.path.join(SOURCE, "server", "serve"), "--root", self.server,
                                       "--listen", f"127.0.0.1:{self.port}", "--run-dir", self.nginx_dir],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while True:
            try:
                probe = urllib.request.Request(self.url + "/patchlist.txt", headers={"User-Agent": READINESS_PROBE})
                with urllib.request.urlopen(probe, timeout=2) as answer:
                    self.assertEqual(answer.read(), self.list_text)
                return
            except OSError:
                self.assertIsNone(self.nginx.poll(), "nginx ended; see " + self.nginx_dir)
                self.assertLess(time.monotonic(), deadline, "nginx does not answer")
                time.sleep(0.1)

    def stop_everything(self):
        if self.patcher is not None and self.patcher.poll() is None:
            os.killpg(self.patcher.pid, signal.SIGKILL)
            self.patcher.wait(timeout=10)
        # Wine's helper processes of the test's own prefix, which hold the display.
        subprocess.run(["wineserver", "-k"], env=dict(os.environ, WINEPREFIX=self.prefix),
                       stderr=subprocess.DEVNULL, timeout=30)
        if self.nginx is not None and self.nginx.poll() is None:
            self.nginx.terminate()
            try:
                self.nginx.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.nginx.kill()
                self.nginx.wait(timeout=10)

    def run_patcher(self):
        """Starts the patcher in the game folder, waits for the run's last line,
        closes the window with its close button and returns the log's messages."""
        env = dict(os.environ, DISPLAY=self.display, VORLEN_BUILD_DIR=PATCHER_DIR)
        for name in ("VORLEN_TEST", "WINEPREFIX"):
            env.pop(name, None)
        log = os.path.join(self.game, "patcher.log")
        self.patcher = subprocess.Popen([os.path.join(SOURCE, "cmake", "wine-run"), self.exe], cwd=self.game,
                                        env=env, start_new_session=True)
        deadline = time.monotonic() + RUN_SECONDS
        while True:
            messages = read_log(log) if os.path.exists(log) else []
            if any(m.startswith(RUN_ENDINGS) for m in messages):
                break
            self.assertIsNone(self.patcher.poll(), f"the patcher ended early: {messages}")
            self.assertLess(time.monotonic(), deadline, f"the run did not end: {messages}")
            time.sleep(0.2)
        self.close_window()
        self.assertEqual(self.patcher.returncode, 0)
        return read_log(log)

    def window_of_patcher(self):
        # Wine gives each window the process id of the Wine process that made it.
        children = subprocess.run(["ps", "-o", "pid=,args=", "-g", str(self.patcher.pid)], capture_output=True,
                                  text=True, timeout=10).stdout
        for line in children.splitlines():
            pid, args = line.strip().split(" ", 1)
            if args.endswith("Vorlen-Patcher.exe"):
                found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", pid, "--name",
                                        "Vorlen Patcher"], capture_output=True, text=True, timeout=10,
                                       env=dict(os.environ, DISPLAY=self.display)).stdout.split()
                if found:
                    return found[0]
        return None

    def close_window(self):
        # The close button is at (390,409) in the window. Without a window manager a
        # click on an inactive window may only activate it, so click until it closes.
        deadline = time.monotonic() + CLOSE_SECONDS
        while self.patcher.poll() is None:
            self.assertLess(time.monotonic(), deadline, "the close button did not close the patcher")
            window = self.window_of_patcher()
            if window:
                subprocess.run(["xdotool", "mousemove", "--window", window, "390", "409", "click", "1"],
                               env=dict(os.environ, DISPLAY=self.display), timeout=10)
            try:
                self.patcher.wait(timeout=2)
            except subprocess.TimeoutExpired:
                pass

    def requests(self):
        """The paths nginx was asked for, with their statuses and user agents."""
        seen = []
        with open(os.path.join(self.nginx_dir, "access.log"), encoding="utf-8", errors="replace") as f:
            for line in f:
                match = re.search(r'"GET (\S+) HTTP/1\.[01]" (\d+) \d+ "[^"]*" "([^"]*)"', line)
                self.assertTrue(match, line)
                if match.group(3) != READINESS_PROBE:
                    seen.append((urllib.parse.unquote(match.group(1)), int(match.group(2)), match.group(3)))
        return seen

    def expected_start(self):
        return ["=== Vorlen Patcher 1.0.5.0 ===", "Inicjalizacja patchera...", f"URL serwera: {self.url}",
                "Plik gry: Vorlen.exe", "HTTP zainicjalizowany", "--- Rozpoczęcie procesu aktualizacji ---",
                "Sprawdzanie wersji patchera...", "Patcher aktualny", "Pobieranie listy plików...",
                f"Patchlist pobrany, rozmiar: {len(self.list_text)} bajtów",
                f"Sparsowano plików: {len(self.entries)}", "Sprawdzanie plików lokalnych...",
                "Sprawdzanie plików zakończone"]

    def assertGameFolderHoldsTheSample(self):
        found = []
        for folder, _, names in os.walk(self.game):
            found += [os.path.relpath(os.path.join(folder, n), self.game) for n in names]
        self.assertEqual(sorted(found), sorted([path for path, _, _ in self.entries] + ["patcher.log"]))
        for path, _, _ in self.entries:
            with open(os.path.join(self.game, path), "rb") as f, open(os.path.join(self.sample, path), "rb") as g:
                self.assertEqual(f.read(), g.read(), path)


class EndToEnd(PatcherAgainstNginx):
    def test_updates_an_empty_game_folder(self):
        os.makedirs(self.game)
        messages = self.run_patcher()

        total = sum(int(size) for _, _, size in self.entries)
        expected = self.expected_start() + [
            f"Plików do aktualizacji: {len(self.entries)}", f"Łączny rozmiar: {total // 1048576} MB",
            "--- Rozpoczęcie pobierania ---"]
        for number, (path, _, _) in enumerate(self.entries, 1):
            local = path.replace("/", "\\")
            expected += [f"[{number}/{len(self.entries)}] Pobieranie: {local}", "Pobrano, weryfikacja MD5...",
                         "MD5 OK, zamiana plików...", f"Przenoszenie: {local}.tmp -> {local}", "OK",
                         "Plik zaktualizowany pomyślnie"]
        expected += ["--- Pobieranie zakończone pomyślnie ---", "Patcher zamknięty"]
        self.assertEqual(messages, expected)
        self.assertGameFolderHoldsTheSample()

        agent = "Vorlen Patcher/1.0"
        self.assertEqual(self.requests(), [("/fs/patcher_version.txt", 200, agent), ("/fs/patchlist.txt", 200, agent)]
                         + [(f"/fs/{path}", 200, agent) for path, _, _ in self.entries])

    def test_finds_a_current_game_folder_current(self):
        shutil.copytree(self.sample, self.game)
        messages = self.run_patcher()

        self.assertEqual(messages, self.expected_start() + [
            "Plików do aktualizacji: 0", "Łączny rozmiar: 0 MB", "Wszystkie pliki aktualne - brak do pobrania",
            "Patcher zamknięty"])
        self.assertGameFolderHoldsTheSample()
        self.assertEqual([path for path, _, _ in self.requests()], ["/fs/patcher_version.txt", "/fs/patchlist.txt"])


if __name__ == "__main__":
    unittest.main()
