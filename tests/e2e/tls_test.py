#!/usr/bin/env python3
"""https end to end: the https test patcher (tests/e2e/build-patcher --https,
built for https://localhost:PORT/fs) under Wine against nginx over TLS.

Its Wine prefix trusts the test session's CA and nothing else of the tests'
(build-patcher put the CA into the prefix's local-machine Root store). The
session made the certificates (tests/harness/test-certificates):
  localhost.pem    from the trusted CA: a whole update and a self-update go through
  untrusted.pem    from a second CA that no prefix trusts
  expired.pem      from the trusted CA, expired in 2020
  wrong-host.pem   from the trusted CA, for another host name
The last three are refused: the version request fails silently, the list request
with "Nie można wysłać żądania", nothing is requested and nothing is written. A
server that speaks only TLS 1.0 and 1.1 is refused the same way, and a redirect
from https down to http is not followed.

Environment: as for e2e_test.py, with VORLEN_E2E_PATCHER the https patcher's folder."""
import grp
import os
import pwd
import shutil
import socket
import ssl
import subprocess
import time
import unittest
import warnings

import e2e_test
from e2e_test import BUILD, PUBLISH, READINESS_PROBE, SOURCE, free_port

CERTIFICATES = os.path.join(BUILD, "test-session", "tls")
SERVE = os.path.join(SOURCE, "server", "serve")

# A server of this test's own where server/serve has no switch for what it must
# do: the same listener, certificate and log line as serve's https block, and
# `body` inside its server { } block.
NGINX_CONF = """worker_processes 1;
pid {run}/nginx.pid;
error_log {run}/error.log info;
events {{
    worker_connections 64;
}}
http {{
    log_format vorlen_tls '$remote_addr - $remote_user [$time_local] "$request" '
                          '$status $body_bytes_sent "$http_referer" "$http_user_agent" '
                          '$ssl_protocol $ssl_cipher';
    access_log {run}/access.log vorlen_tls;
    client_body_temp_path {run}/tmp/client_body;
    proxy_temp_path {run}/tmp/proxy;
    fastcgi_temp_path {run}/tmp/fastcgi;
    uwsgi_temp_path {run}/tmp/uwsgi;
    scgi_temp_path {run}/tmp/scgi;
    server {{
        listen 127.0.0.1:{port} ssl;
        ssl_certificate {certificates}/localhost.pem;
        ssl_certificate_key {certificates}/server.key;
{body}
    }}
}}
"""


def probe_context():
    """A client that takes any certificate and any TLS version from 1.0 up: it
    only asks whether a server is up; what the patcher accepts is under test."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    context.set_ciphers("DEFAULT:@SECLEVEL=0")  # OpenSSL 3 speaks TLS 1.0 and 1.1 only so
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", DeprecationWarning)
        context.minimum_version = ssl.TLSVersion.TLSv1
    return context


def probe(port, path, tls=True):
    """One GET with the readiness user agent: (status, TLS version or None)."""
    with socket.create_connection(("127.0.0.1", port), timeout=5) as plain:
        connection = probe_context().wrap_socket(plain, server_hostname="localhost") if tls else plain
        connection.sendall(f"GET {path} HTTP/1.1\r\nHost: localhost\r\nUser-Agent: {READINESS_PROBE}\r\n"
                           "Connection: close\r\n\r\n".encode())
        status = connection.recv(1024).split(b" ")[1]
        return int(status), connection.version() if tls else None


class PatcherOverTls(e2e_test.PatcherAgainstNginx):
    """The end-to-end fixture over https: server/serve with --tls-cert serves the
    published sample game on the https patcher's port."""

    def base_url(self):
        return f"https://localhost:{self.port}/fs"

    def start_nginx(self, certificate="localhost.pem"):
        self.nginx_dir = os.path.join(self.work, "nginx")
        self.nginx = self.start_until_ready(
            [SERVE, "--root", self.server, "--listen", f"127.0.0.1:{self.port}", "--run-dir", self.nginx_dir,
             "--tls-cert", os.path.join(CERTIFICATES, certificate),
             "--tls-key", os.path.join(CERTIFICATES, "server.key")], self.port, 200)

    def start_custom_nginx(self, body):
        """nginx with NGINX_CONF and `body` on the https patcher's port."""
        self.nginx_dir = os.path.join(self.work, "nginx")
        os.makedirs(os.path.join(self.nginx_dir, "tmp"))
        with open(os.path.join(self.nginx_dir, "nginx.conf"), "w", encoding="utf-8") as f:
            f.write(NGINX_CONF.format(run=self.nginx_dir, port=self.port, certificates=CERTIFICATES, body=body))
        settings = "daemon off; master_process on;"
        if os.geteuid() == 0:
            # As server/serve does: the workers read the folder as its owner.
            folder = os.stat(self.server)
            settings += f" user {pwd.getpwuid(folder.st_uid).pw_name} {grp.getgrgid(folder.st_gid).gr_name};"
        self.nginx = self.start_until_ready(
            ["nginx", "-p", self.nginx_dir, "-e", os.path.join(self.nginx_dir, "error.log"),
             "-c", os.path.join(self.nginx_dir, "nginx.conf"), "-g", settings], self.port, None)

    def start_until_ready(self, command, port, status, tls=True):
        """Starts a server; returns it once /fs/patchlist.txt answers with
        `status` (any status when None)."""
        server = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(self.stop_server, server)
        deadline = time.monotonic() + 15
        while True:
            try:
                answer, self.probed_version = probe(port, "/fs/patchlist.txt", tls)
                if status is None or answer == status:
                    return server
            except (OSError, ValueError, IndexError):
                pass
            self.assertIsNone(server.poll(), f"the server ended: {command}")
            self.assertLess(time.monotonic(), deadline, f"the server does not answer: {command}")
            time.sleep(0.1)

    @staticmethod
    def stop_server(server):
        if server.poll() is None:
            server.terminate()
            server.wait(timeout=10)

    def requests(self):
        """As over http; and every request the patcher made came over TLS 1.2 or later."""
        with open(os.path.join(self.nginx_dir, "access.log"), encoding="utf-8", errors="replace") as f:
            for line in f:
                if f'"{READINESS_PROBE}"' not in line:
                    self.assertRegex(line.rstrip("\n"), r'" TLSv1\.[23] [A-Z0-9_-]+$')
        return super().requests()


class TlsUpdate(PatcherOverTls):
    def test_updates_an_empty_game_folder_over_tls(self):
        e2e_test.EndToEnd.test_updates_an_empty_game_folder(self)


class TlsSelfUpdate(e2e_test.EndToEndSelfUpdate, PatcherOverTls):
    def test_replaces_the_executable_over_tls(self):
        self.test_replaces_the_executable_and_starts_the_new_one()


class TlsRefused(PatcherOverTls):
    """A newer patcher is published, so a version request that got through would
    show as a self-update; each test starts its own server."""

    def start_server(self):
        shutil.rmtree(self.server)
        subprocess.run([PUBLISH, "--quiet", "--patcher-version", "1.0.6.0", "--patcher-exe", self.stand_in(),
                        self.sample, self.server], check=True, timeout=60)

    def assertRefusedWith(self, error):
        """Runs a copy of the patcher from a folder of its own into an empty game
        folder: the run ends at the list with `error`, and neither folder gains
        a file but the log."""
        os.makedirs(self.game)
        home = os.path.join(self.work, "patcher")
        os.makedirs(home)
        shutil.copy(self.exe, home)
        messages = self.run_patcher(os.path.join(home, "Vorlen-Patcher.exe"))
        self.assertEqual(messages, self.expected_start()[:10] + [
            f"BŁĄD: Nie można pobrać patchlist: {error}", "Patcher zamknięty"])
        self.assertEqual(self.files_in(self.game), ["patcher.log"])
        self.assertEqual(os.listdir(home), ["Vorlen-Patcher.exe"])

    def assertRefusesCertificate(self, certificate):
        self.start_nginx(certificate)
        self.assertRefusedWith("Nie można wysłać żądania")
        self.assertEqual(self.requests(), [], "nothing may be requested over a refused connection")

    def test_a_certificate_from_an_untrusted_ca(self):
        self.assertRefusesCertificate("untrusted.pem")

    def test_an_expired_certificate(self):
        self.assertRefusesCertificate("expired.pem")

    def test_a_certificate_for_another_host(self):
        self.assertRefusesCertificate("wrong-host.pem")

    def test_a_server_that_speaks_only_tls_1_0_and_1_1(self):
        # Wine's WinHTTP would take TLS 1.1 from it with its own defaults; the
        # patcher asks for TLS 1.2 and later, so it hangs up on the server's
        # TLS 1.1 answer in the middle of the handshake.
        self.start_custom_nginx(f"""        ssl_protocols TLSv1 TLSv1.1;
        ssl_ciphers DEFAULT:@SECLEVEL=0;
        location /fs/ {{
            alias {self.server}/;
        }}""")
        self.assertIn(self.probed_version, ("TLSv1", "TLSv1.1"))
        self.assertRefusedWith("Nie można wysłać żądania")
        self.assertEqual(self.requests(), [])
        with open(os.path.join(self.nginx_dir, "error.log"), encoding="utf-8", errors="replace") as f:
            self.assertIn("peer closed connection in SSL handshake", f.read())

    def test_a_redirect_from_https_down_to_http(self):
        # Every path answers 302 to the same path on a plain http server that
        # serves the same folder; WinHTTP's default policy does not follow it.
        plain_port = free_port()
        plain_dir = os.path.join(self.work, "plain-nginx")
        self.start_until_ready([SERVE, "--root", self.server, "--listen", f"127.0.0.1:{plain_port}",
                                "--run-dir", plain_dir], plain_port, 200, tls=False)
        self.start_custom_nginx(f"""        location / {{
            return 302 http://127.0.0.1:{plain_port}$request_uri;
        }}""")
        self.assertRefusedWith("Brak odpowiedzi z serwera")
        agent = "Vorlen Patcher/1.0"
        self.assertEqual(self.requests(), [("/fs/patcher_version.txt", 302, agent), ("/fs/patchlist.txt", 302, agent)])
        with open(os.path.join(plain_dir, "access.log"), encoding="utf-8", errors="replace") as f:
            self.assertEqual([line for line in f if f'"{READINESS_PROBE}"' not in line], [],
                             "the plain http server must not be asked")


if __name__ == "__main__":
    unittest.main()
