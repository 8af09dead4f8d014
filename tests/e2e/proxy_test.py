#!/usr/bin/env python3
"""Players behind a proxy: the real patcher under Wine, with the proxy settings
written into its Wine prefix as Windows' settings dialog stores them for the
user, and Debian's tinyproxy on 127.0.0.1 in front of the test nginx.

The origin is named by the patcher's URL as 127.0.0.1 and the proxy as
localhost: Wine 8 sends a proxy whose host text equals the origin's an
origin-form request, which no proxy can forward.

The settings go into a prefix of this suite's own (wineprefix-proxy in the test
patcher's folder), so no other test ever sees them, and Wine's environment has no
http_proxy, https_proxy or no_proxy.

Environment: as e2e_test.py."""
import os
import re
import socket
import struct
import subprocess
import time
import unittest
import urllib.parse

from e2e_test import BUILD, SOURCE, PatcherAgainstNginx, free_port

AGENT = "Vorlen Patcher/1.0"
SETTINGS_KEY = r"HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Internet Settings"
# The flags of DefaultConnectionSettings.
DIRECT, FIXED_PROXY, SCRIPT = 0x1, 0x2, 0x4


def connection_settings(flags, proxy="", bypass="", script=""):
    """The binary record Windows keeps per connection (and the one Wine reads):
    version, a change counter, the flags, then the proxy, the bypass list and the
    auto-config URL, each a length and its bytes, then fields this test leaves zero."""
    record = struct.pack("<III", 0x46, 1, flags)
    for text in (proxy, bypass, script):
        data = text.encode("ascii")
        record += struct.pack("<I", len(data)) + data
    return record + bytes(32)


class Tinyproxy:
    """Debian's tinyproxy in the foreground on 127.0.0.1:port, its log in folder."""

    def __init__(self, folder, port, basic_auth=None):
        os.makedirs(folder, exist_ok=True)
        os.chmod(folder, 0o777)  # tinyproxy may drop its privileges
        self.log = os.path.join(folder, "tinyproxy.log")
        config = os.path.join(folder, "tinyproxy.conf")
        with open(config, "w") as f:
            f.write(f"Port {port}\nListen 127.0.0.1\nTimeout 60\nLogFile \"{self.log}\"\nLogLevel Info\n"
                    f"PidFile \"{folder}/tinyproxy.pid\"\nMaxClients 20\nAllow 127.0.0.1\nDisableViaHeader Yes\n")
            if basic_auth:
                f.write(f"BasicAuth {basic_auth[0]} {basic_auth[1]}\n")
        self.process = subprocess.Popen(["tinyproxy", "-d", "-c", config], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 15
        while not self.accepts(port):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError(f"tinyproxy did not start on {port}")
            time.sleep(0.1)

    @staticmethod
    def accepts(port):
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", port)) == 0

    def requests(self):
        """The request lines the proxy was sent, as "GET http://host/path"."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8", errors="replace") as f:
            lines = re.findall(r"Request \(file descriptor \d+\): (\S+ \S+) HTTP/1\.[01]", f.read())
        return [urllib.parse.unquote(line) for line in lines]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)


class PatcherBehindTheUsersProxy(PatcherAgainstNginx):
    def setUp(self):
        super().setUp()
        self.prefix = os.path.join(os.path.dirname(self.exe), "wineprefix-proxy")
        self.proxy_port = free_port()

    def wine_env(self):
        env = super().wine_env()
        env["WINEPREFIX"] = self.prefix
        for name in ("http_proxy", "https_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY", "NO_PROXY"):
            env.pop(name, None)
        return env

    def start_proxy(self, basic_auth=None):
        proxy = Tinyproxy(os.path.join(self.work, "tinyproxy"), self.proxy_port, basic_auth)
        self.addCleanup(proxy.stop)
        return proxy

    def set_user_settings(self, flags, proxy="", bypass="", script=""):
        """Writes the user's proxy settings into the prefix as Windows stores them:
        the values of the settings key and the connection's binary record."""
        record = ",".join(f"{b:02x}" for b in connection_settings(flags, proxy, bypass, script))
        lines = ["REGEDIT4", "", f"[{SETTINGS_KEY}]", f'"ProxyEnable"=dword:{1 if flags & FIXED_PROXY else 0:08x}',
                 f'"ProxyServer"="{proxy}"', f'"ProxyOverride"="{bypass}"',
                 f'"AutoConfigURL"="{script}"' if script else '"AutoConfigURL"=-', "",
                 f"[{SETTINGS_KEY}\\Connections]", f'"DefaultConnectionSettings"=hex:{record}', ""]
        path = os.path.join(self.work, "proxy-settings.reg")
        with open(path, "w", encoding="ascii", newline="\r\n") as f:
            f.write("\n".join(lines))
        subprocess.run([os.path.join(SOURCE, "cmake", "wine-run"), "reg", "import", "Z:" + path.replace("/", "\\")],
                       env=self.wine_env(), check=True, timeout=120, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)

    def start_with_proxy_line(self, line):
        start = self.expected_start()
        return start[:6] + [line] + start[7:]

    def full_update(self, proxy_line):
        total = sum(int(size) for _, _, size in self.entries)
        log = self.start_with_proxy_line(proxy_line) + [
            f"Plików do aktualizacji: {len(self.entries)}", f"Łączny rozmiar: {total // 1048576} MB",
            "--- Rozpoczęcie pobierania ---"]
        for number, (path, _, _) in enumerate(self.entries, 1):
            log += self.download_lines(number, len(self.entries), path)
        return log + ["--- Pobieranie zakończone pomyślnie ---", "Patcher zamknięty"]

    def patcher_requests(self):
        return [path for path, _, agent in self.requests() if agent == AGENT]

    def every_path(self):
        return ["/fs/patcher_version.txt", "/fs/patchlist.txt"] + [f"/fs/{path}" for path, _, _ in self.entries]


class UsersProxy(PatcherBehindTheUsersProxy):
    def test_a_whole_update_goes_through_a_fixed_proxy_and_a_bypassed_host_does_not(self):
        proxy = self.start_proxy()
        named = f"localhost:{self.proxy_port}"
        self.set_user_settings(DIRECT | FIXED_PROXY, proxy=named, bypass="*.example.net;<local>")
        os.makedirs(self.game)
        self.assertEqual(self.run_patcher(), self.full_update(f"Serwer proxy: {named}"))
        self.assertGameFolderHoldsTheSample()
        origin = f"http://127.0.0.1:{self.port}"
        self.assertEqual(proxy.requests(), [f"GET {origin}{path}" for path in self.every_path()])
        self.assertEqual(self.patcher_requests(), self.every_path())

        # The origin's host on the bypass list: straight to the origin, and the log says so.
        seen = len(proxy.requests())
        self.set_user_settings(DIRECT | FIXED_PROXY, proxy=named, bypass=f"*.example.net;127.0.0.1:{self.port}")
        os.remove(os.path.join(self.game, "patcher.log"))
        messages = self.run_patcher()
        self.assertEqual(messages[6], "Serwer proxy: brak")
        self.assertEqual(messages[-2], "Wszystkie pliki aktualne - brak do pobrania")
        self.assertEqual(proxy.requests()[seen:], [])

    def test_an_auto_config_script_picks_the_proxy(self):
        proxy = self.start_proxy()
        named = f"localhost:{self.proxy_port}"
        with open(os.path.join(self.server, "proxy.pac"), "w") as f:
            f.write('function FindProxyForURL(url, host) {\n'
                    f'  if (host == "127.0.0.1") return "PROXY {named}";\n'
                    '  return "DIRECT";\n}\n')
        self.set_user_settings(DIRECT | SCRIPT, script=f"http://127.0.0.1:{self.port}/fs/proxy.pac")
        os.makedirs(self.game)
        self.assertEqual(self.run_patcher(), self.full_update(f"Serwer proxy: {named}"))
        self.assertGameFolderHoldsTheSample()
        origin = f"http://127.0.0.1:{self.port}"
        self.assertEqual(proxy.requests(), [f"GET {origin}{path}" for path in self.every_path()])

        # The operator's verify on Windows makes the same choice.
        seen = len(proxy.requests())
        verify = subprocess.run([os.path.join(SOURCE, "cmake", "wine-run"),
                                 os.path.join(BUILD, "tools", "publish", "vorlen-publish.exe"), "verify", self.url],
                                env=self.wine_env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                timeout=120)
        self.assertEqual(verify.returncode, 0)
        self.assertIn(f"GET {origin}/fs/patchlist.txt", proxy.requests()[seen:])

    def test_a_proxy_that_wants_a_password_stops_the_run_with_its_reason(self):
        proxy = self.start_proxy(basic_auth=("player", "secret"))
        named = f"localhost:{self.proxy_port}"
        self.set_user_settings(DIRECT | FIXED_PROXY, proxy=named)
        os.makedirs(self.game)
        reason = "Serwer proxy wymaga uwierzytelnienia (HTTP 407)"
        self.assertEqual(self.run_patcher(), self.start_with_proxy_line(f"Serwer proxy: {named}")[:10] + [
            f"BŁĄD: Nie można pobrać patchlist: {reason}", "Patcher zamknięty"])
        self.assertEqual(self.files_in(self.game), ["patcher.log"])
        self.assertEqual(self.patcher_requests(), [])
        # Asked once for each resource, and never again after the 407.
        origin = f"http://127.0.0.1:{self.port}"
        self.assertEqual(proxy.requests(), [f"GET {origin}/fs/patcher_version.txt", f"GET {origin}/fs/patchlist.txt"])


if __name__ == "__main__":
    unittest.main()
