"""A real HTTP cache in front of a test's origin: Debian's Varnish with its
built-in VCL (no VCL of ours: operators' caches and CDNs will not run one),
listening on 127.0.0.1, in a private working folder.

    edge = EdgeCache(work_dir, listen_port, origin_port)
    ...
    edge.purge_all()  # as an operator purges a CDN
    edge.counters()   # {"MAIN.cache_hit": n, "MAIN.cache_miss": n, ...}
    edge.stop()"""
import json
import os
import shutil
import subprocess
import time
import urllib.request

VARNISHD = shutil.which("varnishd") or "/usr/sbin/varnishd"
VARNISHSTAT = shutil.which("varnishstat") or "/usr/bin/varnishstat"
VARNISHADM = shutil.which("varnishadm") or "/usr/bin/varnishadm"


class EdgeCache:
    def __init__(self, work_dir, port, origin_port, probe_path="/fs/patchlist.txt"):
        # varnishd drops its privileges: its working folder and every folder
        # above it must be readable by its user.
        self.dir = os.path.join(work_dir, "varnish")
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        path = self.dir
        while path != "/":
            os.chmod(path, os.stat(path).st_mode | 0o755)
            path = os.path.dirname(path)
        self.port = port
        self.log = open(os.path.join(work_dir, "varnish.log"), "wb")
        self.process = subprocess.Popen(
            [VARNISHD, "-F", "-a", f"127.0.0.1:{port}", "-b", f"127.0.0.1:{origin_port}",
             "-n", self.dir, "-s", "malloc,256m"],
            stdin=subprocess.DEVNULL, stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while True:
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{port}{probe_path}", timeout=2) as answer:
                    if "Via" in answer.headers and "varnish" in answer.headers["Via"].lower():
                        return
            except OSError:
                pass
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError(f"varnishd did not start; see {self.log.name}")
            time.sleep(0.2)

    def purge_all(self):
        """Drops every stored object, as an operator purges a CDN after a release."""
        subprocess.run([VARNISHADM, "-n", self.dir, "ban", "req.url ~ ."], check=True, timeout=30,
                       stdout=subprocess.DEVNULL)

    def counters(self):
        """Varnish's own counters, by name."""
        out = subprocess.run([VARNISHSTAT, "-n", self.dir, "-1", "-j"], capture_output=True, check=True,
                             timeout=30).stdout
        data = json.loads(out)
        data = data.get("counters", data)
        return {name: value["value"] for name, value in data.items()
                if isinstance(value, dict) and "value" in value}

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=15)
        self.log.close()
