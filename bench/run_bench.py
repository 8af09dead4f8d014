#!/usr/bin/env python3
"""Runs the benchmark programs of a built tree and prints one table.

    run_bench.py --build DIR [--quick] [--keep] [--runs N] [--only 1,3,...]

Called by scripts/bench, which builds the tree first. Everything it makes lives
under DIR/bench-data: the generated files, a private nginx (its own configuration,
pid, logs and temporary files) on 127.0.0.1, a private Xvfb display for the two
window rows, and the Wine prefix's wineserver, kept up for the run. All of it is
stopped at the end, and the generated data removed unless --keep.
"""
import argparse
import fcntl
import hashlib
import os
import random
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

import real_run

MiB = 1024 * 1024
MB = 1000 * 1000
SHAPED_RATE = 20 * MiB  # nginx "limit_rate 20m" is 20 MiB/s


class BenchError(Exception):
    pass


def say(text):
    print("bench: " + text, file=sys.stderr, flush=True)


def median(values):
    return statistics.median(values) if values else float("nan")


def parse_results(output):
    """The "result k=v ..." lines of a program's output, as dicts of strings."""
    results = []
    for line in output.splitlines():
        if line.startswith("result "):
            results.append(dict(field.split("=", 1) for field in line.split()[1:]))
        elif line.startswith("error "):
            raise BenchError(line[len("error "):])
    return results


class Sizes:
    def __init__(self, quick):
        self.large_files, self.large_size = (4, 64 * MiB) if quick else (4, 256 * MiB)
        self.small_files = 1000 if quick else 5000
        self.small_cold_every = 5  # the check without a held context: every 5th small file
        self.download_files, self.download_size = (4, 16 * MiB) if quick else (4, 64 * MiB)
        self.big_size = 256 * MiB if quick else 1024 * MiB
        self.warm_size = 8 * MiB
        self.frames = 50 if quick else 200
        # The real patcher's rows: small files of 1-2 KiB in 50 folders.
        self.real_files = 1000 if quick else 5000
        # The dropping link's row, the same in both: one file, cut every 32 MiB.
        self.resume_size = 256 * MiB
        self.resume_cut = 32 * MiB

    def key(self):
        return repr(sorted(vars(self).items()))


class Bench:
    def __init__(self, args):
        self.source = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
        self.build = os.path.abspath(args.build)
        self.data = os.path.join(self.build, "bench-data")
        self.programs = os.path.join(self.build, "bench")
        self.quick = args.quick
        self.keep = args.keep
        self.runs = args.runs or (3 if args.quick else 5)
        self.shaped_runs = 1 if args.quick else 3
        self.startup_runs = 3 if args.quick else 5
        self.only = {int(r) for r in args.only.split(",")} if args.only else None
        self.pinned = None
        self.sizes = Sizes(args.quick)
        self.children = []  # (name, Popen) of the servers this run started
        self.rows = []
        self.notes = []
        self.spreads = []  # the lowest and highest run of the noisy rows
        self.port = None
        self.display = None
        self.env = dict(os.environ)
        for name in ("VORLEN_TEST", "VORLEN_TEST_SESSION", "DISPLAY"):
            self.env.pop(name, None)
        # The build says which Wine runs it (see cmake/wine-run): 32-bit for the
        # shipped i686 build, 64-bit for the x86-64 build on kernels without ia32.
        try:
            with open(os.path.join(self.build, "wine-arch")) as f:
                arch = f.read().strip()
        except OSError:
            arch = "win32"
        self.wine_loader = "wine"
        self.env.update({
            "WINEPREFIX": os.path.join(self.build, "wineprefix"),
            "WINEDEBUG": "-all",
            "WINEARCH": arch,
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "VORLEN_BUILD_DIR": self.build,
        })
        if arch == "win64":
            self.wine_loader = "/usr/lib/wine/wine64"
            self.env["WINELOADER"] = self.wine_loader

    # ---- processes -------------------------------------------------------

    def run(self, command, cwd=None, timeout=600, env=None):
        # Output goes through a file, not a pipe: a Wine program may leave helpers
        # (wineserver, services) that inherit the pipe and would keep it open.
        with tempfile.TemporaryFile("w+") as out:
            completed = subprocess.run(command, cwd=cwd, env=env or self.env, timeout=timeout,
                                       stdout=out, stderr=subprocess.STDOUT,
                                       stdin=subprocess.DEVNULL)
            out.seek(0)
            output = out.read()
        if completed.returncode != 0:
            name = command[1] if command[0] == self.wine_loader else command[0]
            raise BenchError("%s exited with %d: %s" % (
                os.path.basename(name), completed.returncode, output.strip()[-400:]))
        return output

    def wine(self, program, *args, cwd, timeout=600):
        exe = os.path.join(self.programs, program + ".exe")
        return parse_results(self.run([self.wine_loader, exe, *map(str, args)], cwd=cwd, timeout=timeout))

    def timed(self, command, cwd):
        start = time.perf_counter()
        subprocess.run(command, cwd=cwd, env=self.env, check=True, timeout=600,
                       stdout=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        return (time.perf_counter() - start) * 1000

    def start_wine(self):
        # wine-run makes the prefix on first use (fonts included); the persistent
        # wineserver then keeps every later start short.
        self.run([os.path.join(self.source, "cmake", "wine-run"), "cmd.exe", "/c", "exit", "0"],
                 cwd=self.build, timeout=300)
        # The server that start left running ends first: "-p" starts a new one.
        self.stop_wine()
        self.run(["wineserver", "-p"], timeout=60)

    def stop_wine(self):
        subprocess.run(["wineserver", "-k"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def start_nginx(self):
        run_dir = os.path.join(self.data, "nginx")
        os.makedirs(os.path.join(run_dir, "tmp"), exist_ok=True)
        www = os.path.join(self.data, "www")
        for path in (run_dir, www):
            if not all(c.isalnum() or c in "_./+@=,-" for c in path):
                raise BenchError("nginx cannot take the path %r; use a build folder "
                                 "without blanks or quotes" % path)
        template = open(os.path.join(self.source, "bench", "nginx.conf.in")).read()
        for attempt in range(3):
            with socket.socket() as probe:
                probe.bind(("127.0.0.1", 0))
                port = probe.getsockname()[1]
            conf = os.path.join(run_dir, "nginx.conf")
            with open(conf, "w") as f:
                f.write(template.replace("@PORT@", str(port)).replace("@ROOT@", www)
                        .replace("@RUN_DIR@", run_dir)
                        .replace("@REAL_LISTEN@", self.real_listen()))
            nginx = shutil.which("nginx") or "/usr/sbin/nginx"
            process = subprocess.Popen([nginx, "-p", run_dir, "-e", os.path.join(run_dir, "error.log"),
                                        "-c", conf], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            for _ in range(50):
                if process.poll() is not None:
                    break
                try:
                    urllib.request.urlopen("http://127.0.0.1:%d/fs/warm.bin" % port, timeout=2).read(1)
                    self.children.append(("nginx", process))
                    self.port = port
                    return
                except OSError:
                    time.sleep(0.1)
            if process.poll() is None:
                process.terminate()
                process.wait(10)
        raise BenchError("nginx did not start; see %s/error.log" % run_dir)

    def real_patcher(self):
        """The copy of the patcher built for the real-program rows (scripts/bench
        builds it with tests/e2e/build-patcher) and the port its URL names."""
        folder = os.path.join(self.build, "e2e-patcher")
        try:
            with open(os.path.join(folder, "port")) as f:
                return os.path.join(folder, "Vorlen-Patcher.exe"), int(f.read().strip())
        except (OSError, ValueError):
            return None, None

    def real_listen(self):
        _, port = self.real_patcher()
        return "listen 127.0.0.1:%d;" % port if port else ""

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        process = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                    "1024x768x24", "-nolisten", "tcp"], pass_fds=(write_end,),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        self.children.append(("Xvfb", process))
        number = b""
        deadline = time.time() + 20
        while not number.endswith(b"\n") and time.time() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if not number.strip():
            raise BenchError("Xvfb did not start")
        self.display = ":" + number.decode().strip()
        self.env["DISPLAY"] = self.display

    def stop_children(self):
        for name, process in reversed(self.children):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(10)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()
        self.children = []

    # ---- data ------------------------------------------------------------

    def prepare_data(self):
        marker = os.path.join(self.data, "data-ready")
        if os.path.exists(marker) and open(marker).read() == self.sizes.key():
            say("reusing the data in %s (kept by an earlier --keep)" % self.data)
            return
        say("generating data in %s" % self.data)
        for folder in ("game", "www", "dest", "startup", "real-game"):
            shutil.rmtree(os.path.join(self.data, folder), ignore_errors=True)
        rng = random.Random(20240)
        s = self.sizes
        game = os.path.join(self.data, "game")
        www = os.path.join(self.data, "www")
        large = [("large/part%d.bin" % i, s.large_size) for i in range(s.large_files)]
        small = [("small/d%02d/f%04d.bin" % (i // 100, i), rng.randint(1024, 64 * 1024))
                 for i in range(s.small_files)]
        downloads = [("dl/file%d.bin" % i, s.download_size) for i in range(s.download_files)]
        real = [("real/d%02d/f%05d.bin" % (i % 50, i), rng.randint(1024, 2048))
                for i in range(s.real_files)]
        # The real patcher's patch list, at the root its URL names.
        self.write_list(www, "patchlist.txt", real)
        self.write_list(game, "large.lst", large)
        self.write_list(game, "small.lst", small)
        self.write_list(www, "dl.lst", downloads)
        self.write_list(www, "warm.lst", [("warm.bin", s.warm_size)])
        # The big file is sparse: it costs no disk until the download writes it.
        big = os.path.join(www, "big.bin")
        with open(big, "wb") as f:
            f.truncate(s.big_size)
        digest = hashlib.md5()
        zeros = bytes(MiB)
        for _ in range(s.big_size // MiB):
            digest.update(zeros)
        self.write_entries(www, "big.lst", [("big.bin", digest.hexdigest(), s.big_size)])
        # The dropping link's file, sparse and zero too.
        with open(os.path.join(www, "resume.bin"), "wb") as f:
            f.truncate(s.resume_size)
        digest = hashlib.md5()
        for _ in range(s.resume_size // MiB):
            digest.update(zeros)
        self.write_entries(www, "resume.lst", [("resume.bin", digest.hexdigest(), s.resume_size)])
        with open(os.path.join(game, "small.lst")) as f:
            lines = f.readlines()
        with open(os.path.join(game, "small-cold.lst"), "w") as f:
            f.writelines(lines[::s.small_cold_every])
        for folder in ("dest", "startup", "real-game"):
            os.makedirs(os.path.join(self.data, folder), exist_ok=True)
        with open(marker, "w") as f:
            f.write(s.key())
        os.sync()  # the new data's write-back must not run under the first rows

    def write_list(self, root, name, files):
        entries = []
        for path, size in files:
            full = os.path.join(root, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            digest = hashlib.md5()
            with open(full, "wb") as f:
                left = size
                while left:
                    block = os.urandom(min(left, MiB))
                    f.write(block)
                    digest.update(block)
                    left -= len(block)
            entries.append((path, digest.hexdigest(), size))
        self.write_entries(root, name, entries)

    @staticmethod
    def write_entries(root, name, entries):
        os.makedirs(root, exist_ok=True)
        with open(os.path.join(root, name), "w") as f:
            for path, md5, size in entries:
                f.write("%s %s %d\n" % (path, md5, size))

    @staticmethod
    def list_paths(root, name):
        with open(os.path.join(root, name)) as f:
            return [line.split()[0] for line in f if line.strip()]

    @staticmethod
    def list_bytes(root, name):
        with open(os.path.join(root, name)) as f:
            return sum(int(line.split()[2]) for line in f if line.strip())

    def remove_data(self):
        if self.keep:
            say("data kept in %s (--keep)" % self.data)
            return
        shutil.rmtree(self.data, ignore_errors=True)

    # ---- table -----------------------------------------------------------

    def add_row(self, number, what, ours, reference, ratio, target, met):
        verdict = "" if met is None else ("met" if met else "MISSED")
        self.rows.append((str(number), what, ours, reference, ratio, target, verdict))

    def failed_row(self, number, what, error):
        self.rows.append((str(number), what, "not measured: %s" % error, "", "", "", ""))

    def print_table(self, header):
        columns = ("#", "measure", "ours", "reference", "ratio", "target", "")
        rows = [columns] + self.rows
        widths = [max(len(row[i]) for row in rows) for i in range(len(columns))]
        lines = list(header)
        for index, row in enumerate(rows):
            lines.append("  ".join(cell.ljust(widths[i]) for i, cell in enumerate(row)).rstrip())
            if index == 0:
                lines.append("  ".join("-" * w for w in widths))
        if self.spreads:
            self.notes.append("Spread over the runs (lowest..highest): " + "; ".join(self.spreads))
        if self.notes:
            lines.append("")
            lines.extend(self.notes)
        text = "\n".join(lines)
        print(text, flush=True)
        with open(os.path.join(self.build, "bench-results.txt"), "w") as f:
            f.write(text + "\n")

    # ---- rows ------------------------------------------------------------

    def measure_check(self, list_name, mode):
        game = os.path.join(self.data, "game")
        results = self.wine("bench_check", mode, list_name, 1, cwd=game)
        if int(results[0]["marked"]) != 0:
            raise BenchError("the check marked %s current files for update" % results[0]["marked"])
        return float(results[0]["ms"])

    def md5sum_ms(self, list_name):
        game = os.path.join(self.data, "game")
        return self.timed(["md5sum", "--", *self.list_paths(game, list_name)], cwd=game)

    def interleaved(self, first, second):
        """Runs both measurements once to warm up, then self.runs times, alternating
        which goes first so that a change of load hits both alike."""
        first()
        second()
        a, b = [], []
        for i in range(self.runs):
            if i % 2 == 0:
                a.append(first())
                b.append(second())
            else:
                b.append(second())
                a.append(first())
        self.last_runs = (a, b)
        return median(a), median(b)

    def row_large_check(self):
        s = self.sizes
        game = os.path.join(self.data, "game")
        total = self.list_bytes(game, "large.lst")
        check, md5 = self.interleaved(lambda: self.measure_check("large.lst", "check"),
                                      lambda: self.md5sum_ms("large.lst"))
        ours, ref = total / check / 1000, total / md5 / 1000
        self.spread("1", "check", [total / ms / 1000 for ms in self.last_runs[0]], "MB/s")
        self.add_row(1, "Check, large files (%d x %d MiB)" % (s.large_files, s.large_size // MiB),
                     "%.0f MB/s" % ours, "md5sum %.0f MB/s" % ref, "%.2f" % (ours / ref),
                     ">= 0.90", ours / ref >= 0.9)

    def row_small_check(self):
        s = self.sizes
        game = os.path.join(self.data, "game")
        n = s.small_files
        check, md5 = self.interleaved(lambda: self.measure_check("small.lst", "check"),
                                      lambda: self.md5sum_ms("small.lst"))
        ours, ref = check / n, md5 / n
        self.spread("2", "check", [ms / n for ms in self.last_runs[0]], "ms/file")
        self.add_row(2, "Check, %d small files (1-64 KiB)" % n, "%.3f ms/file" % ours,
                     "md5sum %.3f ms/file" % ref, "+%.3f ms" % (ours - ref), "<= +1 ms/file",
                     ours - ref <= 1.0)
        cold_files = len(self.list_paths(game, "small-cold.lst"))
        cold = [self.measure_check("small-cold.lst", "check-cold") / cold_files
                for _ in range(max(1, self.runs // 2))]
        self.add_row("2b", "  same without the held provider context",
                     "%.3f ms/file" % median(cold), "with it %.3f ms/file" % ours,
                     "x%.1f" % (median(cold) / ours), "(%d files)" % cold_files, None)
        p = self.wine("bench_check", "profile", "small.lst", cwd=game)[0]
        self.notes.append(
            "Check, small files, per file (ms, a warm second pass in one process): exists %s, open %s, acquire context %s, "
            "read %s, hash %s, release %s, close %s = %s; acquiring the provider by name "
            "(MS_DEF_PROV) instead: acquire %s, total %s" % (
                *("%.3f" % float(p[k]) for k in ("exists", "open", "acquire", "read", "hash",
                                                 "release", "close", "total")),
                "%.3f" % float(p["acquire_named"]), "%.3f" % float(p["total_named"])))

    def download_stage_ms(self, base):
        dest = os.path.join(self.data, "dest")
        r = self.wine("bench_download", "stage", base, os.path.join(self.data, "www", "dl.lst"), 1,
                      cwd=dest)[0]
        if r["ok"] != "1":
            raise BenchError("the download stage failed; see %s/patcher.log" % dest)
        return float(r["ms"])

    def bare_ms(self, base, mode="bare"):
        r = self.wine("bench_download", mode, base, os.path.join(self.data, "www", "dl.lst"), 1,
                      cwd=os.path.join(self.data, "dest"))[0]
        if r["ok"] != "1":
            raise BenchError("the %s WinHTTP loop failed" % mode)
        return float(r["ms"])

    def limit_ms(self, base):
        return self.bare_ms(base, "limit")

    def curl_ms(self, base):
        www, dest = os.path.join(self.data, "www"), os.path.join(self.data, "dest")
        command = ["curl", "-sS", "--fail", "-w", "%{time_total}\\n"]
        targets = []
        for i, path in enumerate(self.list_paths(www, "dl.lst")):
            target = os.path.join(dest, "curl-%d.bin" % i)
            targets.append(target)
            command += ["-o", target, "%s/%s" % (base, path)]
        output = self.run(command, cwd=dest)
        for target in targets:
            os.remove(target)
        return sum(float(t) for t in output.split()) * 1000

    def download_parts(self, base):
        dest = os.path.join(self.data, "dest")
        r = self.wine("bench_download", "parts", base, os.path.join(self.data, "www", "dl.lst"),
                      cwd=dest)[0]
        if r["ok"] != "1":
            raise BenchError("the stage's steps failed; see %s/patcher.log" % dest)
        return r

    def row_download(self):
        s = self.sizes
        www = os.path.join(self.data, "www")
        total = self.list_bytes(www, "dl.lst")
        fs = "http://127.0.0.1:%d/fs" % self.port
        shaped = "http://127.0.0.1:%d/shaped" % self.port
        stage, limit, bare, curl, parts = [], [], [], [], []
        for measure in (self.download_stage_ms, self.limit_ms, self.bare_ms, self.curl_ms):
            measure(fs)  # warm-up: page cache, first connections
        for i in range(self.runs):
            order = [(stage, self.download_stage_ms), (limit, self.limit_ms), (bare, self.bare_ms),
                     (curl, self.curl_ms), (parts, self.download_parts)]
            for values, measure in (order if i % 2 == 0 else order[::-1]):
                values.append(measure(fs))
        ours = total / median(stage) / 1000
        design = total / median(limit) / 1000
        ceiling = total / median(bare) / 1000
        reference = total / median(curl) / 1000
        what = "Download, %d x %d MiB from nginx" % (s.download_files, s.download_size // MiB)
        self.add_row(3, what, "%.0f MB/s" % ours, "design limit %.0f MB/s" % design,
                     "%.2f" % (ours / design), ">= 0.90", ours / design >= 0.9)
        self.add_row("3a", "", "", "bare WinHTTP %.0f MB/s" % ceiling, "%.2f" % (ours / ceiling),
                     "", None)
        self.add_row("3b", "", "", "curl %.0f MB/s" % reference, "%.2f" % (ours / reference),
                     "", None)
        self.spread("3", "download stage", [total / ms / 1000 for ms in stage], "MB/s")
        self.spread("3", "design limit", [total / ms / 1000 for ms in limit], "MB/s")
        step = {key: median([float(p[key]) for p in parts])
                for key in ("download_ms", "digest_ms", "install_ms")}
        self.notes.append(
            "Download stage, %d x %d MiB, its steps (median ms): HttpClient::DownloadToFile %.0f, "
            "ComputeFileMd5 of the .tmp files %.0f, InstallDownloadedFile %.0f; the design limit "
            "(bare loop writing every block, then one digest pass) %.0f; the bare WinHTTP loop "
            "dropping the bytes %.0f; the whole stage %.0f" % (
                s.download_files, s.download_size // MiB, step["download_ms"], step["digest_ms"],
                step["install_ms"], median(limit), median(bare), median(stage)))

        # The link's own rate as a client that never pauses gets it (nginx lets the
        # first second of each connection run ahead of the limit).
        shaped_stage, shaped_curl = [], []
        for i in range(self.shaped_runs):
            shaped_stage.append(self.download_stage_ms(shaped))
            shaped_curl.append(self.curl_ms(shaped))
        ours = total / median(shaped_stage) / 1000
        link = total / median(shaped_curl) / 1000
        self.add_row("3c", "Download through a 20 MiB/s link", "%.2f MB/s" % ours,
                     "curl %.2f MB/s (nominal %.2f)" % (link, SHAPED_RATE / MB),
                     "%.3f" % (ours / link), ">= 0.95", ours / link >= 0.95)

    def spread(self, number, what, values, unit):
        self.spreads.append("row %s %s %s..%s %s" % (number, what, self.figure(min(values)),
                                                     self.figure(max(values)), unit))

    @staticmethod
    def figure(value):
        return "%.3f" % value if value < 10 else "%.0f" % value

    def row_memory(self):
        s = self.sizes
        www, dest = os.path.join(self.data, "www"), os.path.join(self.data, "dest")
        fs = "http://127.0.0.1:%d/fs" % self.port
        d = self.wine("bench_download", "memory", fs, os.path.join(www, "warm.lst"),
                      os.path.join(www, "big.lst"), cwd=dest, timeout=900)[0]
        c = self.wine("bench_check", "memory", "warm.lst", "big.lst", cwd=www)[0]
        if d["ok"] != "1" or c["marked"] != "0":
            raise BenchError("the stage did not succeed on the big file")
        big = "%d MiB" % (s.big_size // MiB)
        for number, what, r in (("4", "Memory, downloading a %s file" % big, d),
                                ("4b", "Memory, checking a %s file" % big, c)):
            small, large = float(r["peak_after_small"]), float(r["peak_after_big"])
            growth = large - small
            self.add_row(number, what, "peak %.1f MiB" % large,
                         "after %d MiB file %.1f MiB" % (s.warm_size // MiB, small),
                         "%+.1f MiB" % growth, "<= +4 MiB", growth <= 4.0)
        self.notes.append("Memory: the process's peak working set from GetProcessMemoryInfo "
                          "inside the bench program (Wine fills it from /proc/self/status "
                          "VmHWM), after the stage on an %d MiB file and then on the %s file."
                          % (s.warm_size // MiB, big))

    def row_frame(self):
        dest = os.path.join(self.data, "dest")
        results = self.wine("bench_frame", self.sizes.frames, cwd=dest, timeout=300)
        r, p = results[0], results[1]
        med, worst = float(r["median_ms"]), float(r["worst_ms"])
        self.add_row(5, "Frame, Downloading screen (%s frames)" % r["frames"],
                     "median %.2f ms, worst %.1f ms" % (med, worst), "budget 50 ms",
                     "%.2f" % (med / 50.0), "median < 5 ms", med < 5.0)
        f = {key: float(value) for key, value in p.items() if key != "mode"}
        self.notes.append(
            "Frame, its drawing replayed by kind (median ms): set-up %.2f, background image "
            "%.2f, info panel image %.2f, fonts %.2f, texts %.2f, bars %.2f, buttons %.2f, "
            "copy to the window %.2f. The two big images: %.2f as drawn now; %.2f from "
            "premultiplied (PARGB) copies; %.2f with the opaque background also drawn "
            "with CompositingModeSourceCopy; %.2f as one BitBlt of a layer composed once" % (
                f["setup"], f["background"], f["panel"], f["fonts"], f["texts"], f["bars"],
                f["buttons"], f["copy"], f["images_as_now"], f["images_premultiplied"],
                f["images_premultiplied_copied"], f["images_composed"]))

    def startup_ms(self, exe, title):
        """Process start to the first painted frame, and to the window's mapping."""
        waiter = os.path.join(self.source, "bench", "wait_painted.py")
        output = self.run([sys.executable, waiter, "--name", title, "--timeout", "60", "--",
                           self.wine_loader, exe], cwd=os.path.join(self.data, "startup"), timeout=120)
        result = parse_results(output)[0]
        self.startup_visible.setdefault(exe, []).append(float(result["visible_ms"]))
        return float(result["painted_ms"])

    def startup_steps(self, mode):
        """One run of bench_startup: its figures in ms, the time before its entry
        point (Wine's process start, the loader, the libraries' start-up) included."""
        folder = os.path.join(self.data, "startup")
        result = os.path.join(folder, "startup-result.txt")
        if os.path.exists(result):
            os.remove(result)
        exe = os.path.join(self.programs, "bench_startup.exe")
        started = time.time() * 1000
        self.run([self.wine_loader, exe, mode], cwd=folder, timeout=120)
        with open(result) as f:
            figures = {key: float(value) for key, value in parse_results(f.read())[0].items()}
        figures["before_entry"] = figures.pop("entry_unix_ms") - started
        return figures

    def row_startup(self):
        patcher = os.path.join(self.build, "Vorlen-Patcher.exe")
        minimal = os.path.join(self.programs, "bench_minimal_window.exe")
        ours, ref = [], []
        self.startup_visible = {}
        self.startup_ms(patcher, "Vorlen Patcher")
        self.startup_ms(minimal, "Vorlen Bench Minimal")
        self.startup_visible = {}
        for i in range(self.startup_runs):
            pair = [(ours, patcher, "Vorlen Patcher"), (ref, minimal, "Vorlen Bench Minimal")]
            for values, exe, title in (pair if i % 2 == 0 else pair[::-1]):
                values.append(self.startup_ms(exe, title))
        ratio = median(ours) / median(ref)
        self.add_row(6, "Start-up to first painted frame", "%.0f ms" % median(ours),
                     "minimal window %.0f ms" % median(ref), "x%.2f" % ratio, "<= x1.5",
                     ratio <= 1.5)
        self.spread("6", "start-up", ours, "ms")
        self.spread("6", "minimal window", ref, "ms")

        # Where the time goes: the start-up's steps one by one in a program of
        # their own, and the real constructor, Initialize and Create as a whole.
        steps = [self.startup_steps("steps") for _ in range(self.startup_runs)]
        whole = [self.startup_steps("whole") for _ in range(self.startup_runs)]
        display = [self.startup_steps("display") for _ in range(self.startup_runs)]
        s = {key: median([run[key] for run in steps]) for key in steps[0]}
        w = {key: median([run[key] for run in whole]) for key in whole[0]}
        self.notes.append(
            "Start-up, where the time goes (bench_startup, median ms of %d fresh processes): "
            "the window is mapped at %.0f ms and painted at %.0f (minimal window %.0f and %.0f). "
            "Before the entry point %.0f (Wine's process start, loading and starting the "
            "libraries); Patcher constructor %.1f; log opened and written %.1f; HTTP session "
            "%.1f; GdiplusStartup %.1f; the nine images %.1f (resources to streams %.1f, "
            "decoding %.1f of which the first image %.1f with GDI+'s and the display's own "
            "start-up, the copies kept for drawing %.1f); class %.1f; window created %.1f; shown "
            "%.1f; first paint %.1f (set-up %.1f, background %.1f, info panel %.1f, "
            "lower bar %.1f, buttons %.1f, copy to the window %.1f); timer and StartUpdate "
            "%.1f; first messages %.1f. In the process up to the first messages %.0f; the "
            "real Patcher, Initialize and PatcherWindow::Create the same way: %.0f (before "
            "the entry point %.0f). The display's start-up alone, which the minimal window "
            "pays too: %.1f. After the first frame, the first font (family %.1f, font %.1f)." % (
                self.startup_runs, median(self.startup_visible[patcher]), median(ours),
                median(self.startup_visible[minimal]), median(ref),
                s["before_entry"], s["patcher_constructor"], s["log_open"], s["http_session"],
                s["gdiplus_startup"], s["images"], s["images_stream"], s["images_decode"],
                s["first_image_decode"], s["images_copy"], s["class"], s["window_create"],
                s["window_show"], s["first_paint"], s["paint_setup"], s["paint_background"],
                s["paint_panel"], s["paint_bar"], s["paint_buttons"], s["paint_copy"],
                s["timer_and_start"], s["first_messages"], s["in_process_ms"],
                w["in_process_ms"], w["before_entry"], median([d["display"] for d in display]),
                s["later_font_family"], s["later_font"]))

    def real_run(self, until):
        exe, _ = self.real_patcher()
        folder = os.path.join(self.data, "real-game")
        env = dict(self.env)
        env.pop("VORLEN_BUILD_DIR", None)
        spare = (self.all_cores - {self.pinned}) if self.pinned is not None else None
        try:
            return real_run.run_patcher([self.wine_loader, exe], folder, env, until, timeout=900,
                                        reader_cores=spare or None)
        except real_run.RunFailed as error:
            raise BenchError("real patcher: %s (see %s/patcher.log)" % (error, folder))

    def real_download_ms(self):
        folder = os.path.join(self.data, "real-game")
        shutil.rmtree(os.path.join(folder, "real"), ignore_errors=True)
        seen = self.real_run({real_run.DOWNLOAD_END})
        return real_run.stage_seconds(seen, real_run.DOWNLOAD_START, real_run.DOWNLOAD_END) * 1000

    def real_check_ms(self):
        seen = self.real_run({real_run.ALL_CURRENT, real_run.DOWNLOAD_END})
        if real_run.ALL_CURRENT not in seen:
            raise BenchError("the real patcher found files to fetch in a current folder")
        return real_run.stage_seconds(seen, real_run.CHECK_START, real_run.CHECK_END) * 1000

    def curl_files_ms(self, base, list_name, into):
        """curl fetching every file of a list over one connection into files."""
        www = os.path.join(self.data, "www")
        shutil.rmtree(into, ignore_errors=True)
        config = os.path.join(self.data, "curl-real.cfg")
        with open(config, "w") as f:
            for path in self.list_paths(www, list_name):
                f.write('url = "%s/%s"\noutput = "%s"\n' % (base, path, os.path.join(into, path)))
        start = time.perf_counter()
        self.run(["curl", "-sS", "--fail", "--create-dirs", "-K", config], cwd=self.data)
        ms = (time.perf_counter() - start) * 1000
        shutil.rmtree(into, ignore_errors=True)
        return ms

    def row_real_patcher(self):
        """The real patcher, window and all, over a folder of small files: its
        download stage into an empty folder, then its check of the same folder
        once every file is current."""
        exe, port = self.real_patcher()
        if not exe or not os.path.exists(exe):
            raise BenchError("the real patcher's copy is not built (scripts/bench builds it)")
        www = os.path.join(self.data, "www")
        folder = os.path.join(self.data, "real-game")
        header = os.path.join(os.path.dirname(exe), "generated", "app", "patcher_version.h")
        with open(header, encoding="utf-8") as f:
            version = [line.split('"')[1] for line in f if "VORLEN_VERSION_TEXT" in line][0]
        with open(os.path.join(www, "patcher_version.txt"), "w") as f:
            f.write(version + "\n")
        n = self.sizes.real_files
        base = "http://127.0.0.1:%d/fs" % self.port
        into = os.path.join(self.data, "curl-real")
        self.real_download_ms()  # warm-up: page cache, the prefix's first window
        download, curl = self.interleaved(self.real_download_ms,
                                          lambda: self.curl_files_ms(base, "patchlist.txt", into))
        self.spread("8", "real download", [ms / n for ms in self.last_runs[0]], "ms/file")
        self.add_row(8, "Real patcher, download of %d files (1-2 KiB)" % n, "%.3f ms/file" % (download / n),
                     "curl, one connection %.3f ms/file" % (curl / n), "x%.1f" % (download / curl),
                     "<= 1.5 ms/file", download / n <= 1.5)
        # The folder now holds every file: the check finds them all current.
        real_list = os.path.join(self.data, "real.lst")
        shutil.copyfile(os.path.join(www, "patchlist.txt"), real_list)

        def bench_program_ms():
            r = self.wine("bench_check", "check", real_list, 1, cwd=folder)[0]
            if r["marked"] != "0":
                raise BenchError("the bench program's check marked current files")
            return float(r["ms"])

        check, program = self.interleaved(self.real_check_ms, bench_program_ms)
        md5 = median([self.timed(["md5sum", "--", *self.list_paths(www, "patchlist.txt")], cwd=folder)
                      for _ in range(self.runs)])
        self.spread("8b", "real check", [ms / n for ms in self.last_runs[0]], "ms/file")
        self.add_row("8b", "Real patcher, check of the same files, all current", "%.3f ms/file" % (check / n),
                     "bench program %.3f ms/file" % (program / n), "x%.2f" % (check / program),
                     "<= x1.5", check / program <= 1.5)
        self.add_row("8c", "", "", "md5sum %.3f ms/file" % (md5 / n), "+%.3f ms" % ((check - md5) / n), "", None)
        self.real_breakdown(base, download / n, check / n, program / n)

    def real_breakdown(self, base, real_download, real_check, program_check):
        """Where a small file's milliseconds go: the stage's steps timed one by one
        in the bench program over the same list, with the bare request apart."""
        dest = os.path.join(self.data, "dest")
        listed = os.path.join(self.data, "www", "patchlist.txt")
        n = self.sizes.real_files
        parts, bare, stage = [], [], []
        for _ in range(1 if self.quick else 3):
            parts.append(self.wine("bench_download", "parts", base, listed, cwd=dest)[0])
            bare.append(float(self.wine("bench_download", "bare", base, listed, 1, cwd=dest)[0]["ms"]))
            stage.append(float(self.wine("bench_download", "stage", base, listed, 1, cwd=dest)[0]["ms"]))
        step = {key: median([float(p[key]) for p in parts]) / n
                for key in ("log_ms", "folder_ms", "download_ms", "digest_ms", "install_ms")}
        request = median(bare) / n
        self.notes.append(
            "Real patcher, a small file's download step by step (ms per file, the bench program, "
            "median): the stage's own four log lines %.3f, its folder %.3f, the request (a bare "
            "WinHTTP GET, bytes dropped) %.3f, the .tmp file (folder, create, write, close) and the "
            "block's publication %.3f, the digest %.3f, the installation with its two log lines %.3f; "
            "the bench program's whole stage %.3f; the real patcher's %.3f (the rest: its window, "
            "painting 20 frames a second on the same core). The check: the bench program %.3f, "
            "the real patcher %.3f." % (
                step["log_ms"], step["folder_ms"], request, step["download_ms"] - request,
                step["digest_ms"], step["install_ms"], median(stage) / n, real_download,
                program_check, real_check))

    def start_relay(self, cut_after):
        """The tests' cutting relay (tests/harness/cutting_relay.py) in front of the
        bench's nginx: (process, port, log), its log fresh."""
        log = os.path.join(self.data, "relay.log")
        port_file = os.path.join(self.data, "relay-port")
        for path in (log, port_file):
            if os.path.exists(path):
                os.remove(path)
        process = subprocess.Popen([sys.executable, os.path.join(self.source, "tests", "harness", "cutting_relay.py"),
                                    "--upstream", str(self.port), "--port-file", port_file,
                                    "--cut-after", str(cut_after), "--log", log, "--max-seconds", "1800"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.children.append(("relay", process))
        deadline = time.time() + 20
        while not os.path.exists(port_file):
            if process.poll() is not None or time.time() > deadline:
                raise BenchError("the cutting relay did not start")
            time.sleep(0.05)
        with open(port_file) as f:
            return process, int(f.read()), log

    def relayed_stage(self, cut_after):
        """The download stage on resume.lst through the relay: (ms, body bytes the
        relay passed, resumes the stage logged)."""
        dest = os.path.join(self.data, "dest")
        process, port, log = self.start_relay(cut_after)
        try:
            r = self.wine("bench_download", "stage", "http://127.0.0.1:%d/fs" % port,
                          os.path.join(self.data, "www", "resume.lst"), 1, cwd=dest, timeout=900)[0]
        finally:
            process.terminate()
            process.wait(10)
        if r["ok"] != "1":
            raise BenchError("the stage did not complete through the dropping link; see %s/patcher.log" % dest)
        with open(log) as f:
            passed = int(f.read().splitlines()[-1].split()[1])
        with open(os.path.join(dest, "patcher.log"), encoding="utf-8") as f:
            resumes = sum(1 for line in f if "Wznawianie pobierania od " in line)
        return float(r["ms"]), passed, resumes

    def row_resume(self):
        """A file through a link that drops the connection after every 32 MiB of
        body: the stage must complete, fetching little more than the file once;
        the same relay without cuts is the time's reference."""
        s = self.sizes
        cut, whole = [], []
        for i in range(self.shaped_runs):
            pair = [(cut, s.resume_cut), (whole, 1 << 62)]
            for values, cut_after in (pair if i % 2 == 0 else pair[::-1]):
                values.append(self.relayed_stage(cut_after))
        passed = max(run[1] for run in cut)
        resumes = median([run[2] for run in cut])
        ratio = passed / s.resume_size
        what = "Download, %d MiB, the link dropping every %d MiB" % (s.resume_size // MiB, s.resume_cut // MiB)
        self.add_row(9, what, "completes, %d resumes, %.1f MiB passed" % (resumes, passed / MiB),
                     "the file %d MiB" % (s.resume_size // MiB), "%.3f" % ratio, "<= 1.05", ratio <= 1.05)
        ours, reference = median([run[0] for run in cut]), median([run[0] for run in whole])
        self.spread("9b", "dropping link", [run[0] / 1000 for run in cut], "s")
        self.spread("9b", "no drop", [run[0] / 1000 for run in whole], "s")
        self.add_row("9b", "  its time", "%.1f s" % (ours / 1000), "same relay, no drop %.1f s" % (reference / 1000),
                     "+%.1f s" % ((ours - reference) / 1000), "", None)
        self.notes.append(
            "Dropping link: bench_download stage of one %d MiB file through tests/harness/cutting_relay.py, "
            "which closes the connection once an answer has passed %d MiB of body; each resume pauses 1 s "
            "first (%d s of the time above). Bytes passed: the body bytes the relay sent, the most of %d runs."
            % (s.resume_size // MiB, s.resume_cut // MiB, resumes, len(cut)))

    def publish_tool(self):
        tool = os.path.join(self.build, "native-publish", "tools-publish", "vorlen-publish")
        if not os.access(tool, os.X_OK):
            raise BenchError("the native vorlen-publish is not built (scripts/bench builds it)")
        return tool

    @staticmethod
    def stamps(folder):
        found = {}
        for parent, _, names in os.walk(folder):
            for name in names:
                info = os.stat(os.path.join(parent, name))
                found[os.path.join(parent, name)] = (info.st_ino, info.st_mtime_ns)
        return found

    def measured(self, command):
        """Wall, user and system time of a command and the processes it waited
        for, in ms."""
        start = time.perf_counter()
        process = subprocess.Popen(command, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   stdin=subprocess.DEVNULL)
        _, status, usage = os.wait4(process.pid, 0)
        wall = (time.perf_counter() - start) * 1000
        if status != 0:
            raise BenchError("%s failed (status %d)" % (os.path.basename(command[0]), status))
        return wall, usage.ru_utime * 1000, usage.ru_stime * 1000

    def row_publish(self):
        """The operator's tool (native, Linux) on the check rows' files: a first
        publish into an empty server folder against cp -r plus md5sum of the same
        tree, and a re-publish with nothing changed, which must write nothing and,
        with the tool's record of what it placed, read nothing either."""
        tool = self.publish_tool()
        game = os.path.join(self.data, "game")
        out = os.path.join(self.data, "publish-out")
        copy = os.path.join(self.data, "publish-cp")
        files = [os.path.join(game, p) for name in ("large.lst", "small.lst") for p in self.list_paths(game, name)]
        total = sum(os.path.getsize(p) for p in files)
        md5sum = ["sh", "-c", 'find "$1" -type f -print0 | xargs -0 md5sum >/dev/null', "sh", game]
        usage = {"publish": [], "cp": [], "md5sum": []}

        def first_publish():
            shutil.rmtree(out, ignore_errors=True)
            os.sync()
            wall, user, system = self.measured([tool, "--quiet", game, out])
            usage["publish"].append((user, system))
            return wall

        def copy_and_digest():
            shutil.rmtree(copy, ignore_errors=True)
            os.sync()
            copied = self.measured(["cp", "-r", game, copy])
            digested = self.measured(md5sum)
            usage["cp"].append(copied[1:])
            usage["md5sum"].append(digested[1:])
            return copied[0] + digested[0]

        ours, ref = self.interleaved(first_publish, copy_and_digest)
        shutil.rmtree(copy, ignore_errors=True)
        what = "Publish, first, %d files (%.0f MB)" % (len(files) + 2, total / MB)
        self.add_row(7, what, "%.0f ms" % ours, "cp -r + md5sum %.0f ms" % ref, "%.2f" % (ref / ours),
                     ">= 1.0", ref / ours >= 1.0)
        self.spread("7", "publish", self.last_runs[0], "ms")

        def cpu(name, index):
            return median([times[index] for times in usage[name]])

        self.notes.append(
            "Row 7, CPU time: the publish %.0f ms user (its MD5 of every byte) + %.0f ms system (making the "
            "files, copying in the kernel, reading the copies back); cp -r %.0f ms system, md5sum %.0f ms user. "
            "The kernel's flusher threads, which write the copies to the disk, are not pinned to the run's core; "
            "the publish waits for them before its list goes out, cp -r does not wait." % (
                cpu("publish", 0), cpu("publish", 1), cpu("cp", 1), cpu("md5sum", 0)))
        before = self.stamps(out)
        again = []
        for _ in range(self.runs):
            again.append(self.measured([tool, "--quiet", game, out])[0])
        written = sum(1 for path, stamp in self.stamps(out).items()
                      if before.get(path) != stamp and not path.endswith(".vorlen-publish-lock"))
        md5 = [self.measured(md5sum)[0] for _ in range(self.runs)]
        ratio = median(again) / median(md5)
        self.add_row("7b", "  again, nothing changed: files written", "%d (%.0f ms)" % (written, median(again)),
                     "md5sum %.0f ms" % median(md5), "%.2f" % ratio, "0 written, <= 1.10", written == 0 and ratio <= 1.1)
        shutil.rmtree(out, ignore_errors=True)

    def row_verify(self):
        """The operator's verify (native, Linux) of a release made of the check
        rows' large files, served by the bench's nginx, against curl fetching the
        same URLs over one connection plus md5sum of the same files."""
        tool = self.publish_tool()
        game = os.path.join(self.data, "game")
        release = os.path.join(self.data, "www", "release")
        paths = self.list_paths(game, "large.lst")
        # The release's files are the game's, linked: nothing is copied.
        shutil.rmtree(release, ignore_errors=True)
        for path in paths:
            os.makedirs(os.path.dirname(os.path.join(release, path)), exist_ok=True)
            os.link(os.path.join(game, path), os.path.join(release, path))
        shutil.copyfile(os.path.join(game, "large.lst"), os.path.join(release, "patchlist.txt"))
        base = "http://127.0.0.1:%d/fs/release" % self.port
        config = os.path.join(self.data, "curl-verify.cfg")
        with open(config, "w") as f:
            for path in ["patchlist.txt", *paths]:
                f.write('url = "%s/%s"\noutput = "/dev/null"\n' % (base, path))
        files = [os.path.join(game, path) for path in paths]
        usage = {"verify": [], "curl": [], "md5sum": []}

        def verify():
            wall, user, system = self.measured([tool, "verify", "--quiet", base])
            usage["verify"].append((user, system))
            return wall

        def curl_and_md5sum():
            fetched = self.measured(["curl", "-sS", "--fail", "-K", config])
            digested = self.measured(["md5sum", "--", *files])
            usage["curl"].append(fetched[1:])
            usage["md5sum"].append(digested[1:])
            return fetched[0] + digested[0]

        try:
            ours, ref = self.interleaved(verify, curl_and_md5sum)
        finally:
            shutil.rmtree(release, ignore_errors=True)
        total = sum(os.path.getsize(path) for path in files)
        what = "Verify, %d x %d MiB from nginx (%.0f MB)" % (len(files), self.sizes.large_size // MiB, total / MB)
        self.add_row(10, what, "%.0f ms" % ours, "curl + md5sum %.0f ms" % ref, "x%.2f" % (ours / ref), "<= x1.3",
                     ours / ref <= 1.3)
        self.spread("10", "verify", self.last_runs[0], "ms")

        def cpu(name, index):
            return median([times[index] for times in usage[name]])

        self.notes.append(
            "Row 10, CPU time: verify %.0f ms user (its MD5, OpenSSL's) + %.0f ms system (receiving); curl %.0f ms "
            "user + %.0f ms system; md5sum %.0f ms user + %.0f ms system. nginx sends from the same core." % (
                cpu("verify", 0), cpu("verify", 1), cpu("curl", 0), cpu("curl", 1), cpu("md5sum", 0),
                cpu("md5sum", 1)))

    # ---- the whole run ---------------------------------------------------

    def machine(self):
        cpu = "unknown CPU"
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
        wine = subprocess.run([self.wine_loader, "--version"], env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True).stdout.strip()
        return "%d cores (nproc), %s, %s" % (os.cpu_count(), cpu, wine)

    @staticmethod
    def load():
        with open("/proc/loadavg") as f:
            return " ".join(f.read().split()[:3])

    def main(self):
        started = time.perf_counter()
        load_start = self.load()
        header = []
        rows = [
            (1, "Check, large files", self.row_large_check),
            (2, "Check, small files", self.row_small_check),
            (3, "Download", self.row_download),
            (4, "Memory", self.row_memory),
            (5, "Frame", self.row_frame),
            (6, "Start-up", self.row_startup),
            (7, "Publish", self.row_publish),
            (8, "Real patcher, small files", self.row_real_patcher),
            (9, "Download through a dropping link", self.row_resume),
            (10, "Verify", self.row_verify),
        ]
        try:
            os.makedirs(self.data, exist_ok=True)
            self.start_wine()
            self.prepare_data()
            self.start_nginx()
            if self.only is None or self.only & {5, 6, 8}:
                self.start_xvfb()
            for number, name, measure in rows:
                if self.only is not None and number not in self.only:
                    continue
                say("row %d: %s (load %s)" % (number, name, self.load()))
                try:
                    measure()
                except (BenchError, subprocess.SubprocessError, OSError, KeyError,
                        IndexError, ValueError) as error:
                    self.failed_row(number, name, str(error).splitlines()[0] if str(error) else
                                    type(error).__name__)
        except (BenchError, subprocess.SubprocessError, OSError) as error:
            say("failed: %s" % error)
            return 1
        finally:
            self.stop_children()
            self.stop_wine()
            self.remove_data()
        header.append("Vorlen Patcher benchmarks, %s%s" % (
            time.strftime("%Y-%m-%d %H:%M"), " (--quick)" if self.quick else ""))
        header.append("machine: " + self.machine())
        header.append("load average (1, 5, 15 min): %s at the start, %s at the end; %s" % (
            load_start, self.load(),
            "everything on core %d" % self.pinned if self.pinned is not None else "not pinned"))
        header.append("each figure: median of %d runs (shaped link %d, start-up %d); "
                      "MB = 10^6 bytes; run took %.0f s" % (
                          self.runs, self.shaped_runs, self.startup_runs,
                          time.perf_counter() - started))
        header.append("")
        self.print_table(header)
        return 0 if all("not measured" not in row[2] for row in self.rows) else 1


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", required=True, help="the built tree (scripts/bench: build-bench)")
    parser.add_argument("--quick", action="store_true", help="fewer runs, smaller data")
    parser.add_argument("--keep", action="store_true", help="keep the generated data")
    parser.add_argument("--runs", type=int, help="runs per figure (default 5, --quick 3)")
    parser.add_argument("--only", help="comma-separated row numbers, e.g. 1,3")
    parser.add_argument("--no-pin", action="store_true",
                        help="leave every process where the scheduler puts it")
    args = parser.parse_args()

    # Wine talks to its wineserver for every file open, provider context and socket
    # read (7 round trips per 8 KiB WinHTTP read). On this kind of VM a wake-up on
    # the other core costs several times one on the same core, so unpinned the same
    # run takes 0.9 s or 3.5 s depending on where the scheduler puts the two
    # processes. Everything this run starts (wineserver, nginx, Xvfb, the programs,
    # md5sum, curl) inherits one core, which makes the figures comparable.
    pinned = None
    all_cores = None
    if not args.no_pin and hasattr(os, "sched_setaffinity"):
        all_cores = set(os.sched_getaffinity(0))
        pinned = max(all_cores)
        os.sched_setaffinity(0, {pinned})

    # One benchmark at a time per tree: two would share the data and the prefix.
    os.makedirs(args.build, exist_ok=True)
    lock = open(os.path.join(args.build, "bench.lock"), "w")
    try:
        fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        say("another benchmark runs in %s" % args.build)
        return 2
    # A termination request unwinds like Ctrl+C, so that the servers are stopped.
    signal.signal(signal.SIGTERM, lambda *_: (_ for _ in ()).throw(KeyboardInterrupt()))
    bench = Bench(args)
    bench.pinned = pinned
    bench.all_cores = all_cores
    return bench.main()


if __name__ == "__main__":
    sys.exit(main())
