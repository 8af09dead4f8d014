#!/usr/bin/env python3
"""End-to-end: the real patcher, under Wine, updates a game folder from a server
folder that vorlen-publish wrote and nginx (server/serve) serves on 127.0.0.1.

Environment (tests.cmake sets it):
  VORLEN_SOURCE_DIR    the source tree
  VORLEN_BUILD_DIR     the mingw build tree (its test-session has the Xvfb displays)
  VORLEN_E2E_PATCHER   the folder of the patcher built for this test's server
                       (tests/e2e/build-patcher; its port is in the file "port")
  VORLEN_PUBLISH_TOOL  the native vorlen-publish

The patcher runs in a Wine prefix of its own (inside VORLEN_E2E_PATCHER), so no
other test's processes can look like a running game to it."""
import hashlib
import os
import random
import re
import shutil
import signal
import socket
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

MiB = 1024 * 1024

# The user agent of the fixture's own "is nginx up yet" requests.
READINESS_PROBE = "vorlen-e2e-readiness"

STARTER = re.compile(r"^\S*(bash|wine|wine64|wine-preloader|wine64-preloader) ")

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


def patcher_version():
    """The test patcher's version, as its build's generated header has it."""
    with open(os.path.join(PATCHER_DIR, "generated", "app", "patcher_version.h"), encoding="utf-8") as f:
        match = re.search(r'^#define VORLEN_VERSION_TEXT "([0-9.]+)"$', f.read(), re.M)
    assert match, "no VORLEN_VERSION_TEXT in the test patcher's version header"
    return match.group(1)


def next_version(version):
    """A version one release later: the same numbers, the last one higher."""
    numbers = version.split(".")
    return ".".join(numbers[:-1] + [str(int(numbers[-1]) + 1)])


def free_port():
    """A free port below the kernel's ephemeral range (32768 and up), so that no
    outgoing connection and no port-0 server of a test running beside this one
    takes it before the server binds it, and outside 20000-29999, where the end-to-end
    patcher's port is."""
    for _ in range(200):
        port = random.randrange(10000, 20000)
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
            except OSError:
                continue
            return port
    raise RuntimeError("no free port in 10000-19999")


class PatcherAgainstNginx(unittest.TestCase):
    """Fixture: the sample game published into a server folder and served by nginx
    at the URL the test patcher was built with."""

    def setUp(self):
        for name, value in (("VORLEN_SOURCE_DIR", SOURCE), ("VORLEN_BUILD_DIR", BUILD),
                            ("VORLEN_E2E_PATCHER", PATCHER_DIR), ("VORLEN_PUBLISH_TOOL", PUBLISH)):
            self.assertTrue(value, f"{name} is not set")
        with open(os.path.join(PATCHER_DIR, "port")) as f:
            self.port = int(f.read())
        with open(os.path.join(BUILD, "test-session", "e2e-display")) as f:
            self.display = f.read().strip()
        self.url = self.base_url()
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
        self.make_sample()
        subprocess.run([PUBLISH, "--quiet", *self.publish_options(), "--patcher-version", patcher_version(),
                        "--patcher-exe", self.exe, self.sample, self.server], check=True, timeout=60)
        with open(os.path.join(self.server, "patchlist.txt"), "rb") as f:
            self.list_text = f.read()
        self.entries = [line.decode().split(" ") for line in self.list_text.split(b"\n")[:-1]]
        self.start_server()

    def publish_options(self):
        """More options for the first publish (signing keys, say)."""
        return []

    def base_url(self):
        """The server URL the test patcher was built with."""
        return f"http://127.0.0.1:{self.port}/fs"

    def make_sample(self):
        subprocess.run([os.path.join(SOURCE, "tools", "sample-game", "make_sample_game.py"), self.sample],
                       check=True, timeout=60)

    def start_server(self):
        self.start_nginx()

    def start_nginx(self, port=None, *serve_options):
        """server/serve on `port` (the patcher's unless told), with more options."""
        port = port or self.port
        self.nginx_dir = os.path.join(self.work, "nginx")
        self.nginx = subprocess.Popen([os.path.join(SOURCE, "server", "serve"), "--root", self.server,
                                       "--listen", f"127.0.0.1:{port}", "--run-dir", self.nginx_dir, *serve_options],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while True:
            try:
                probe = urllib.request.Request(f"http://127.0.0.1:{port}/fs/patchlist.txt",
                                               headers={"User-Agent": READINESS_PROBE})
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

    def wine_env(self):
        env = dict(os.environ, DISPLAY=self.display, VORLEN_BUILD_DIR=PATCHER_DIR)
        for name in ("VORLEN_TEST", "WINEPREFIX"):
            env.pop(name, None)
        return env

    def start_wine_program(self, program, args=(), cwd=None, env=None, stderr=subprocess.DEVNULL):
        """Starts a Windows program in the test patcher's Wine prefix, or with the
        variables in `env` (another WINEPREFIX, VORLEN_WINEDEBUG) on top."""
        return subprocess.Popen([os.path.join(SOURCE, "cmake", "wine-run"), program, *args], cwd=cwd,
                                env=dict(self.wine_env(), **(env or {})), start_new_session=True,
                                stdout=subprocess.DEVNULL, stderr=stderr)

    def start_patcher(self, exe=None, env=None, stderr=subprocess.DEVNULL):
        self.patcher = self.start_wine_program(exe or self.exe, cwd=self.game, env=env, stderr=stderr)

    def log_messages(self):
        log = os.path.join(self.game, "patcher.log")
        return read_log(log) if os.path.exists(log) else []

    def wait_for_log(self, wanted, seconds=RUN_SECONDS, alive=True):
        """Waits until a log message starts with one of the texts in wanted."""
        deadline = time.monotonic() + seconds
        while True:
            messages = self.log_messages()
            if any(m.startswith(wanted) for m in messages):
                return messages
            if alive:
                self.assertIsNone(self.patcher.poll(), f"the patcher ended early: {messages}")
            self.assertLess(time.monotonic(), deadline, f"{wanted} did not come: {messages}")
            time.sleep(0.2)

    def run_patcher(self, exe=None):
        """Starts the patcher in the game folder, waits for the run's last line,
        closes the window with its close button and returns the log's messages."""
        self.start_patcher(exe)
        self.wait_for_log(RUN_ENDINGS)
        time.sleep(0.5)
        # What the window shows at the end, kept for a look after a failure.
        subprocess.run(["import", "-window", "root", os.path.join(self.work, "last-run.png")],
                       env=dict(os.environ, DISPLAY=self.display), timeout=30, stderr=subprocess.DEVNULL)
        self.close_window()
        self.assertEqual(self.patcher.returncode, 0)
        return self.log_messages()

    def patcher_unix_pid(self):
        """The Unix process of the Wine process that runs the patcher."""
        children = subprocess.run(["ps", "-o", "pid=,args=", "-g", str(self.patcher.pid)], capture_output=True,
                                  text=True, timeout=10).stdout
        for line in children.splitlines():
            pid, args = line.strip().split(" ", 1)
            # Wine shows its process by the path it was started with; the wine-run
            # script and Wine's loader, which start it, show other programs first.
            if args.endswith("Vorlen-Patcher.exe") and not STARTER.match(args):
                return int(pid)
        return None

    def window_of_patcher(self, pid=None):
        # Wine gives each window the process id of the Wine process that made it.
        pid = pid or self.patcher_unix_pid()
        if pid is None:
            return None
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name",
                                "^Vorlen Patcher$"], capture_output=True, text=True, timeout=10,
                               env=dict(os.environ, DISPLAY=self.display)).stdout.split()
        return found[0] if found else None

    def click_window(self, x, y, pid=None):
        window = self.window_of_patcher(pid)
        if window:
            subprocess.run(["xdotool", "mousemove", "--window", window, str(x), str(y), "click", "1"],
                           env=dict(os.environ, DISPLAY=self.display), timeout=10)

    def press_button_until_exit(self, x, y, seconds):
        # Without a window manager a click on an inactive window may only activate
        # it, so click until the patcher has ended.
        deadline = time.monotonic() + seconds
        while self.patcher.poll() is None:
            self.assertLess(time.monotonic(), deadline, f"the button at ({x},{y}) did not end the patcher")
            self.click_window(x, y)
            try:
                self.patcher.wait(timeout=2)
            except subprocess.TimeoutExpired:
                pass

    def close_window(self, seconds=CLOSE_SECONDS):
        self.press_button_until_exit(390, 409, seconds)

    def close_restarted_patcher(self, exe):
        """Closes, with its close button, the patcher that a self-update started
        as `exe`: it runs in a session of its own, found by its command line."""
        windows_exe = "Z:" + exe.replace("/", "\\")
        deadline = time.monotonic() + CLOSE_SECONDS
        while pids := [int(line.split()[0]) for line in subprocess.run(
                ["ps", "-e", "-o", "pid=,args="], capture_output=True, text=True, timeout=10).stdout.splitlines()
                if line.split(None, 1)[-1] == windows_exe]:
            self.assertLess(time.monotonic(), deadline, "the restarted patcher did not close")
            self.click_window(390, 409, pids[0])
            time.sleep(0.5)

    def press_main_button_until_exit(self):
        self.press_button_until_exit(260, 409, CLOSE_SECONDS)

    def files_in(self, folder):
        found = []
        for parent, _, names in os.walk(folder):
            found += [os.path.relpath(os.path.join(parent, n), folder) for n in names]
        return sorted(found)

    def local(self, path):
        return path.replace("/", "\\")

    def download_lines(self, number, count, path):
        local = self.local(path)
        return [f"[{number}/{count}] Pobieranie: {local}", "Pobrano, weryfikacja MD5...", "MD5 OK, zamiana plików...",
                f"Przenoszenie: {local}.tmp -> {local}", "OK", "Plik zaktualizowany pomyślnie"]

    def sample_bytes(self, path):
        with open(os.path.join(self.sample, path), "rb") as f:
            return f.read()

    def stand_in(self):
        return os.path.join(BUILD, "tests", "game_stand_in.exe")

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
        return [f"=== Vorlen Patcher {patcher_version()} ===", "Inicjalizacja patchera...", f"URL serwera: {self.url}",
                "Plik gry: Vorlen.exe", "HTTP zainicjalizowany", "--- Rozpoczęcie procesu aktualizacji ---",
                "Serwer proxy: brak", "Sprawdzanie wersji patchera...", "Patcher aktualny", "Pobieranie listy plików...",
                f"Patchlist pobrany, rozmiar: {len(self.list_text)} bajtów",
                f"Sparsowano plików: {len(self.entries)}", "Sprawdzanie plików lokalnych...",
                "Sprawdzanie plików zakończone"]

    def assertGameFolderHoldsTheSample(self, extra=()):
        self.assertEqual(self.files_in(self.game),
                         sorted([path for path, _, _ in self.entries] + ["patcher.log", *extra]))
        for path, _, _ in self.entries:
            with open(os.path.join(self.game, path), "rb") as f:
                self.assertEqual(f.read(), self.sample_bytes(path), path)


class PatcherAgainstMisbehavingServer(PatcherAgainstNginx):
    """The same, with the tests' misbehaving server on the patcher's port: the
    rules file (fs-rules.txt in the work folder) maps /fs/<path> to a misbehaviour."""

    def start_server(self):
        self.rules = os.path.join(self.work, "fs-rules.txt")
        self.set_rules([])
        self.servers = []
        self.nginx = self.start_patch_server(self.port, self.server, self.rules)

    def start_patch_server(self, port, root, rules=None):
        command = ["python3", os.path.join(SOURCE, "tests", "harness", "patch_server.py"), "--root", root,
                   "--port", str(port), "--max-seconds", "600"]
        if rules:
            command += ["--fs-rules", rules]
        server = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.servers.append(server)
        self.addCleanup(self.stop_server, server)
        prefix = "/fs" if rules else ""
        deadline = time.monotonic() + 15
        while True:
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{port}{prefix}/patchlist.txt", timeout=2) as answer:
                    answer.read()
                break
            except OSError:
                self.assertIsNone(server.poll(), "the patch server ended")
                self.assertLess(time.monotonic(), deadline, "the patch server does not answer")
                time.sleep(0.1)
        os.remove(os.path.join(root, "requests.log"))
        return server

    @staticmethod
    def stop_server(server):
        if server.poll() is None:
            server.terminate()
            server.wait(timeout=10)

    def set_rules(self, rules):
        """rules: (glob, prefix) pairs; the first that matches a path applies."""
        with open(self.rules + ".part", "w", encoding="utf-8") as f:
            f.writelines(f"{glob} {prefix}\n" for glob, prefix in rules)
        os.replace(self.rules + ".part", self.rules)

    def served_requests(self, root=None):
        log = os.path.join(root or self.server, "requests.log")
        if not os.path.exists(log):
            return []
        with open(log, encoding="utf-8") as f:
            return f.read().splitlines()


class PatcherBehindACuttingRelay(PatcherAgainstNginx):
    """The same, with nginx on a port of its own behind the tests' cutting relay
    (tests/harness/cutting_relay.py) on the patcher's port: a link that drops
    the connection once an answer has passed CUT bytes of body. The sample has
    a big file more, and the game folder starts with everything else."""

    BIG = "data/big.pak"
    BIG_SIZE = 64 * MiB
    CUT = 8 * MiB

    def make_sample(self):
        super().make_sample()
        with open(os.path.join(self.sample, self.BIG), "wb") as f:
            f.write(random.Random(26).randbytes(self.BIG_SIZE))

    def start_server(self):
        self.relay = None
        self.nginx_port = free_port()
        self.start_nginx(self.nginx_port)
        self.start_relay()
        shutil.copytree(self.sample, self.game)
        os.remove(os.path.join(self.game, self.BIG))

    def start_relay(self, *options):
        """The relay on the patcher's port, in place of any earlier one, with a
        fresh log."""
        self.stop_relay()
        self.relay_log = os.path.join(self.work, "relay.log")
        if os.path.exists(self.relay_log):
            os.remove(self.relay_log)
        self.relay = subprocess.Popen(["python3", os.path.join(SOURCE, "tests", "harness", "cutting_relay.py"),
                                       "--upstream", str(self.nginx_port), "--port", str(self.port),
                                       "--cut-after", str(self.CUT), "--log", self.relay_log,
                                       "--max-seconds", "600", *options],
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=2).close()
                return
            except OSError:
                self.assertIsNone(self.relay.poll(), "the relay ended")
                self.assertLess(time.monotonic(), deadline, "the relay does not answer")
                time.sleep(0.1)

    def stop_relay(self):
        if self.relay is not None and self.relay.poll() is None:
            self.relay.terminate()
            self.relay.wait(timeout=10)
        self.relay = None

    def stop_everything(self):
        super().stop_everything()
        self.stop_relay()

    def relayed(self):
        """The answers the relay passed (see its header), and the body bytes it passed in all."""
        with open(self.relay_log, encoding="utf-8") as f:
            lines = f.read().splitlines()
        return lines[:-1], int(lines[-1].split()[1])

    def big_md5(self):
        return [md5 for path, md5, _ in self.entries if path == self.BIG][0]


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

    def test_updates_two_stale_files_out_of_many(self):
        shutil.copytree(self.sample, self.game)
        stale = [self.entries[1][0], self.entries[-1][0]]
        with open(os.path.join(self.game, stale[0]), "r+b") as f:
            f.write(b"\0")  # same size, other bytes
        os.remove(os.path.join(self.game, stale[1]))
        messages = self.run_patcher()

        sizes = dict((path, int(size)) for path, _, size in self.entries)
        local = self.local(stale[0])
        self.assertEqual(messages, self.expected_start() + [
            "Plików do aktualizacji: 2", f"Łączny rozmiar: {(sizes[stale[0]] + sizes[stale[1]]) // 1048576} MB",
            "--- Rozpoczęcie pobierania ---",
            f"[1/2] Pobieranie: {local}", "Pobrano, weryfikacja MD5...", "MD5 OK, zamiana plików...",
            f"Usuwanie starego pliku: {local}", f"Przenoszenie: {local}.tmp -> {local}", "OK",
            "Plik zaktualizowany pomyślnie"]
            + self.download_lines(2, 2, stale[1]) + ["--- Pobieranie zakończone pomyślnie ---", "Patcher zamknięty"])
        self.assertGameFolderHoldsTheSample()
        self.assertEqual([path for path, _, _ in self.requests()],
                         ["/fs/patcher_version.txt", "/fs/patchlist.txt", f"/fs/{stale[0]}", f"/fs/{stale[1]}"])

    def test_refuses_to_update_while_the_game_runs(self):
        os.makedirs(self.game)
        game_home = os.path.join(self.work, "running-game")
        os.makedirs(game_home)
        shutil.copy(self.stand_in(), os.path.join(game_home, "Vorlen.exe"))
        game = self.start_wine_program(os.path.join(game_home, "Vorlen.exe"), ["wait", "60"], cwd=game_home)
        self.addCleanup(lambda: game.poll() is None and os.killpg(game.pid, signal.SIGKILL))
        deadline = time.monotonic() + 30
        while not os.path.exists(os.path.join(game_home, "stand-in-started.txt")):
            self.assertLess(time.monotonic(), deadline, "the game stand-in did not start")
            time.sleep(0.2)
        messages = self.run_patcher()

        self.assertEqual(messages, self.expected_start()[:6] + ["BŁĄD: Gra jest uruchomiona", "Patcher zamknięty"])
        self.assertEqual(self.files_in(self.game), ["patcher.log"])
        self.assertEqual(self.requests(), [])
        self.assertIsNone(game.poll(), "the patcher must not end the game")

    def test_reports_a_missing_patch_list(self):
        os.makedirs(self.game)
        os.remove(os.path.join(self.server, "patchlist.txt"))
        messages = self.run_patcher()

        self.assertEqual(messages, self.expected_start()[:10] + [
            "BŁĄD: Nie można pobrać patchlist: HTTP Error: 404", "Patcher zamknięty"])
        self.assertEqual(self.files_in(self.game), ["patcher.log"])

    def test_stops_at_a_file_whose_digest_differs_on_the_server(self):
        os.makedirs(self.game)
        bad = self.entries[2][0]
        with open(os.path.join(self.server, bad), "r+b") as f:
            f.write(b"#")
        with open(os.path.join(self.server, bad), "rb") as f:
            served = hashlib.md5(f.read()).hexdigest()
        messages = self.run_patcher()

        count = len(self.entries)
        total = sum(int(size) for _, _, size in self.entries)
        expected = self.expected_start() + [f"Plików do aktualizacji: {count}", f"Łączny rozmiar: {total // 1048576} MB",
                                            "--- Rozpoczęcie pobierania ---"]
        for number, (path, _, _) in enumerate(self.entries[:2], 1):
            expected += self.download_lines(number, count, path)
        expected += [f"[3/{count}] Pobieranie: {self.local(bad)}", "Pobrano, weryfikacja MD5...",
                     f"BŁĄD: MD5 nie pasuje! Oczekiwano: {self.entries[2][1]}, otrzymano: {served}",
                     "BŁĄD: Pobieranie nie powiodło się", "Patcher zamknięty"]
        self.assertEqual(messages, expected)
        # The files before it stay installed; neither it nor its temporary file is there.
        self.assertEqual(self.files_in(self.game), sorted([self.entries[0][0], self.entries[1][0], "patcher.log"]))
        for path, _, _ in self.entries[:2]:
            with open(os.path.join(self.game, path), "rb") as f:
                self.assertEqual(f.read(), self.sample_bytes(path))

    def test_the_play_button_starts_the_game_from_the_game_folder(self):
        shutil.copytree(self.sample, self.game)
        shutil.copy(self.stand_in(), os.path.join(self.game, "Vorlen.exe"))
        self.start_patcher()
        self.wait_for_log(RUN_ENDINGS)
        self.assertEqual(self.log_messages()[-1], "Wszystkie pliki aktualne - brak do pobrania")
        self.press_main_button_until_exit()
        self.assertEqual(self.patcher.returncode, 0)
        self.assertEqual(self.log_messages()[-1], "Patcher zamknięty")

        marker = os.path.join(self.game, "stand-in-started.txt")
        deadline = time.monotonic() + 30
        while not os.path.exists(marker):
            self.assertLess(time.monotonic(), deadline, "the game did not start")
            time.sleep(0.2)
        with open(marker, encoding="utf-8") as f:
            module, command_line, folder = f.read().split("\n")[:3]
        windows_game = "Z:" + self.game.replace("/", "\\")
        self.assertEqual(module, windows_game + "\\Vorlen.exe")
        self.assertEqual(folder, windows_game)
        self.assertEqual(command_line.strip().strip('"'), module, "the game gets no arguments")


class EndToEndSelfUpdate(PatcherAgainstNginx):
    """A newer patcher on the server: the stand-in program is published as
    Vorlen-Patcher.exe of the next version, so the restarted program leaves a marker."""

    def setUp(self):
        super().setUp()
        self.stop_everything()
        shutil.rmtree(self.server)
        subprocess.run([PUBLISH, "--quiet", "--patcher-version", next_version(patcher_version()),
                        "--patcher-exe", self.stand_in(),
                        self.sample, self.server], check=True, timeout=60)
        self.start_nginx()

    def wait_for_the_new_patcher(self, exe):
        """Waits until the published stand-in, now at `exe`, has been started;
        returns the marker it left in the game folder."""
        marker = os.path.join(self.game, "stand-in-started.txt")
        deadline = time.monotonic() + 60
        while not os.path.exists(marker):
            self.assertLess(time.monotonic(), deadline, "the new patcher was not started")
            time.sleep(0.3)
        with open(exe, "rb") as f, open(self.stand_in(), "rb") as g:
            self.assertEqual(f.read(), g.read(), "the executable was not replaced")
        return marker

    def answer_the_message_box(self):
        env = dict(os.environ, DISPLAY=self.display)
        deadline = time.monotonic() + RUN_SECONDS
        while True:
            found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Vorlen Patcher - Aktualizacja$"],
                                   capture_output=True, text=True, timeout=10, env=env).stdout.split()
            if found:
                break
            self.assertIsNone(self.patcher.poll(), f"the patcher ended early: {self.log_messages()}")
            self.assertLess(time.monotonic(), deadline, f"no message box: {self.log_messages()}")
            time.sleep(0.3)
        box = found[0]
        geometry = dict(line.split("=") for line in subprocess.run(
            ["xdotool", "getwindowgeometry", "--shell", box], capture_output=True, text=True, timeout=10,
            env=env).stdout.split())
        width, height = int(geometry["WIDTH"]), int(geometry["HEIGHT"])
        # The only button, OK, sits centred near the bottom edge; keyboard input does
        # not reach the box under Wine, a click does. Try a few heights.
        for round_ in range(20):
            y = height - 12 - 4 * (round_ % 6)
            subprocess.run(["xdotool", "mousemove", "--window", box, str(width // 2), str(y), "click", "1"],
                           env=env, timeout=10)
            time.sleep(0.5)
            still = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                                    "^Vorlen Patcher - Aktualizacja$"], capture_output=True, text=True,
                                   timeout=10, env=env).stdout.split()
            if not still:
                return
        self.fail("the message box's OK button did not close it")

    def test_replaces_the_executable_and_starts_the_new_one(self):
        os.makedirs(self.game)
        home = os.path.join(self.work, "patcher z odstępami w nazwie")
        os.makedirs(home)
        exe = os.path.join(home, "Vorlen-Patcher.exe")
        shutil.copy(self.exe, exe)
        self.start_patcher(exe)
        self.answer_the_message_box()
        self.patcher.wait(timeout=CLOSE_SECONDS)
        self.assertEqual(self.patcher.returncode, 0)
        self.assertEqual(self.log_messages(), self.expected_start()[:8] + [
            "Dostępna nowa wersja patchera - aktualizacja", "Patcher zamknięty"])

        marker = self.wait_for_the_new_patcher(exe)
        self.assertEqual(sorted(os.listdir(home)), ["Vorlen-Patcher.exe"])
        with open(marker, encoding="utf-8") as f:
            module, _, folder = f.read().split("\n")[:3]
        self.assertEqual(module, "Z:" + exe.replace("/", "\\"))
        self.assertEqual(folder, "Z:" + self.game.replace("/", "\\"))
        self.assertEqual(sorted(os.listdir(self.game)), ["patcher.log", "stand-in-started.txt"])
        self.assertEqual([path for path, _, _ in self.requests()], ["/fs/patcher_version.txt", "/fs/Vorlen-Patcher.exe"])


class EndToEndMisbehaving(PatcherAgainstMisbehavingServer):
    def test_a_file_cut_short_by_the_server_fails_its_digest(self):
        os.makedirs(self.game)
        cut = self.entries[-1][0]
        self.set_rules([(cut, "cut/1000")])
        messages = self.run_patcher()

        partial = hashlib.md5(self.sample_bytes(cut)[:1000]).hexdigest()
        count = len(self.entries)
        # The server names no validator: the file is asked for whole once more.
        self.assertEqual(messages[-6:], [f"[{count}/{count}] Pobieranie: {self.local(cut)}",
                                         "Wznawianie pobierania od 0 bajtów (próba 1/5)", "Pobrano, weryfikacja MD5...",
                                         f"BŁĄD: MD5 nie pasuje! Oczekiwano: {self.entries[-1][1]}, otrzymano: {partial}",
                                         "BŁĄD: Pobieranie nie powiodło się", "Patcher zamknięty"])
        self.assertEqual(self.served_requests()[-2:], [f"/fs/{cut}", f"/fs/{cut}"])
        self.assertEqual(self.files_in(self.game), sorted([p for p, _, _ in self.entries[:-1]] + ["patcher.log"]))

        # The next run, with the server mended, installs it.
        self.set_rules([])
        os.remove(os.path.join(self.game, "patcher.log"))
        messages = self.run_patcher()
        self.assertEqual(messages[-8:], self.download_lines(1, 1, cut) + [
            "--- Pobieranie zakończone pomyślnie ---", "Patcher zamknięty"])
        self.assertGameFolderHoldsTheSample()

    def test_the_close_button_cancels_a_download_in_progress(self):
        os.makedirs(self.game)
        big = max(self.entries, key=lambda e: int(e[2]))[0]
        number = [e[0] for e in self.entries].index(big) + 1
        self.set_rules([(big, "slow/200")])
        self.start_patcher()
        self.wait_for_log((f"[{number}/",))
        tmp = os.path.join(self.game, big + ".tmp")
        deadline = time.monotonic() + RUN_SECONDS
        while not (os.path.exists(tmp) and os.path.getsize(tmp) > 0):
            self.assertLess(time.monotonic(), deadline, "the slow download did not begin")
            time.sleep(0.2)
        self.close_window()
        self.assertEqual(self.patcher.returncode, 0)

        count = len(self.entries)
        self.assertEqual(self.log_messages()[-4:], [f"[{number}/{count}] Pobieranie: {self.local(big)}",
                                                    f"BŁĄD: Pobieranie nie powiodło się: {self.local(big)}",
                                                    "Pobieranie anulowane", "Patcher zamknięty"])
        installed = [p for p, _, _ in self.entries[:number - 1]]
        self.assertEqual(self.files_in(self.game), sorted(installed + ["patcher.log"]))
        for path in installed:
            with open(os.path.join(self.game, path), "rb") as f:
                self.assertEqual(f.read(), self.sample_bytes(path))

    def test_close_while_the_version_file_is_on_its_way_updates_nothing(self):
        # A newer patcher is published, but its version file is held back until
        # the player has closed the window.
        os.makedirs(self.game)
        with open(os.path.join(self.server, "patcher_version.txt"), "w") as f:
            f.write("1.0.6.0\n")
        home = os.path.join(self.work, "patcher")
        os.makedirs(home)
        exe = os.path.join(home, "Vorlen-Patcher.exe")
        shutil.copy(self.exe, exe)
        self.set_rules([("patcher_version.txt", "gate/version-gate")])
        self.start_patcher(exe)

        deadline = time.monotonic() + RUN_SECONDS
        while "/fs/patcher_version.txt" not in self.served_requests() or not self.window_of_patcher():
            self.assertIsNone(self.patcher.poll(), "the patcher ended early")
            self.assertLess(time.monotonic(), deadline, "no version request with the window shown")
            time.sleep(0.2)
        # A first click may only activate the window; the window hides once closed.
        deadline = time.monotonic() + CLOSE_SECONDS
        while self.window_of_patcher():
            self.assertLess(time.monotonic(), deadline, "the close button did not close the window")
            self.click_window(390, 409)
            time.sleep(0.5)
        self.assertEqual(self.served_requests(), ["/fs/patcher_version.txt"])
        with open(os.path.join(self.server, "version-gate"), "w"):
            pass  # the version file now arrives, well within the client's receive time-out

        # A message box would hold the process until answered: it ends by itself.
        try:
            self.patcher.wait(timeout=RUN_SECONDS)
        except subprocess.TimeoutExpired:
            self.fail(f"the patcher did not end after Close: {self.served_requests()}, {self.log_messages()[-3:]}")
        self.assertEqual(self.patcher.returncode, 0)
        # The run ends as a cancel there: nothing more is asked for, and the
        # patcher never claims to be current.
        self.assertEqual(self.served_requests(), ["/fs/patcher_version.txt"])
        self.assertEqual(self.log_messages(), self.expected_start()[:8] + [
            "Anulowano przez użytkownika", "Patcher zamknięty"])
        self.assertEqual(os.listdir(home), ["Vorlen-Patcher.exe"], "a new patcher was staged")
        with open(exe, "rb") as f, open(self.exe, "rb") as g:
            self.assertEqual(f.read(), g.read(), "the executable was replaced")
        self.assertEqual(os.listdir(self.game), ["patcher.log"])


class EndToEndResume(PatcherBehindACuttingRelay):
    def test_a_file_cut_every_8_mib_is_resumed_to_its_end(self):
        messages = self.run_patcher()

        drops = self.BIG_SIZE // self.CUT - 1
        self.assertEqual(messages, self.expected_start() + [
            "Plików do aktualizacji: 1", f"Łączny rozmiar: {self.BIG_SIZE // MiB} MB", "--- Rozpoczęcie pobierania ---",
            f"[1/1] Pobieranie: {self.local(self.BIG)}"]
            + [f"Wznawianie pobierania od {n * self.CUT} bajtów (próba 1/5)" for n in range(1, drops + 1)]
            + self.download_lines(1, 1, self.BIG)[1:] + ["--- Pobieranie zakończone pomyślnie ---", "Patcher zamknięty"])
        self.assertGameFolderHoldsTheSample()
        # nginx sent the file whole once, then each rest as a 206.
        self.assertEqual([(path, status) for path, status, _ in self.requests()][2:],
                         [(f"/fs/{self.BIG}", 200)] + [(f"/fs/{self.BIG}", 206)] * drops)
        # Each ask named the rest from where the file stopped and nginx's own tag;
        # no byte of the file passed the link twice.
        answers, body_bytes = self.relayed()
        served = os.stat(os.path.join(self.server, self.BIG))
        etag = '"%x-%x"' % (int(served.st_mtime), served.st_size)  # nginx's strong tag
        request = f"GET /fs/{self.BIG} HTTP/1.1"
        self.assertEqual(answers[2:], [f"{request} -> 200 {self.CUT} cut"] + [
            f"{request} Range=bytes={n * self.CUT}- If-Range={etag} -> 206 {self.CUT}" + (" cut" if n < drops else "")
            for n in range(1, drops + 1)])
        with open(os.path.join(self.server, "patcher_version.txt"), "rb") as f:
            version_bytes = len(f.read())
        self.assertEqual(body_bytes, version_bytes + len(self.list_text) + self.BIG_SIZE)

    def test_a_server_that_ignores_ranges_is_read_again_from_the_start(self):
        big = self.local(self.BIG)
        # Every answer cut: five attempts in a row bring no new byte, and the
        # part fails its digest, as a cut file did before.
        self.start_relay("--ignore-ranges")
        messages = self.run_patcher()
        part = hashlib.md5(self.sample_bytes(self.BIG)[:self.CUT]).hexdigest()
        self.assertEqual(messages[-10:], [f"[1/1] Pobieranie: {big}"] + [
            f"Wznawianie pobierania od {self.CUT} bajtów (próba {k}/5)" for k in range(1, 6)] + [
            "Pobrano, weryfikacja MD5...", f"BŁĄD: MD5 nie pasuje! Oczekiwano: {self.big_md5()}, otrzymano: {part}",
            "BŁĄD: Pobieranie nie powiodło się", "Patcher zamknięty"])
        self.assertEqual([(path, status) for path, status, _ in self.requests()][2:], [(f"/fs/{self.BIG}", 200)] * 6)
        answers, _ = self.relayed()
        self.assertEqual([answer.split(" If-Range=")[0] for answer in answers[3:]],
                         [f"GET /fs/{self.BIG} HTTP/1.1 Range=bytes={self.CUT}-"] * 5)
        self.assertNotIn(self.BIG + ".tmp", self.files_in(self.game))
        self.assertNotIn(self.BIG, self.files_in(self.game))

        # Only the first answer cut: the start over brings the whole file.
        self.start_relay("--ignore-ranges", "--cuts", "1")
        os.remove(os.path.join(self.game, "patcher.log"))
        messages = self.run_patcher()
        self.assertEqual(messages[-9:], [f"[1/1] Pobieranie: {big}",
                                         f"Wznawianie pobierania od {self.CUT} bajtów (próba 1/5)"]
                        + self.download_lines(1, 1, self.BIG)[1:] + ["--- Pobieranie zakończone pomyślnie ---",
                                                                     "Patcher zamknięty"])
        self.assertGameFolderHoldsTheSample()
        self.assertEqual([(path, status) for path, status, _ in self.requests()][-2:], [(f"/fs/{self.BIG}", 200)] * 2)


if __name__ == "__main__":
    unittest.main()
