"""Runs the real patcher (Vorlen-Patcher.exe, window and all) in a game folder and
times its stages from outside, by the moment each line of its log appears.

The log is written line by line as things happen, so the time between two of
its lines, seen by a reader that polls the file every couple of milliseconds, is
the time of what happened between them (to within the polling interval). The
reader runs on a core of its own when the machine has one to spare, so that it
takes nothing from the patcher.
"""
import os
import signal
import subprocess
import time

CHECK_START = "Sprawdzanie plików lokalnych..."
CHECK_END = "Sprawdzanie plików zakończone"
DOWNLOAD_START = "--- Rozpoczęcie pobierania ---"
DOWNLOAD_END = "--- Pobieranie zakończone pomyślnie ---"
ALL_CURRENT = "Wszystkie pliki aktualne - brak do pobrania"
POLL_SECONDS = 0.002


class RunFailed(Exception):
    pass


def read_lines(path, until, deadline, process):
    """(seconds since the start, message) for every log line until one of `until`
    appears; raises RunFailed on an error line, the process's end or the deadline."""
    lines = []
    pending = b""
    fd = None
    try:
        while True:
            now = time.perf_counter()
            if fd is None:
                try:
                    fd = os.open(path, os.O_RDONLY)
                except FileNotFoundError:
                    fd = None
            if fd is not None:
                chunk = os.read(fd, 1 << 20)
                if chunk:
                    pending += chunk
                    *complete, pending = pending.split(b"\r\n")
                    for raw in complete:
                        text = raw.decode("utf-8", "replace")
                        message = text.split("] ", 1)[1] if text.startswith("[") else text
                        lines.append((now, message))
                        if message.startswith("BŁĄD"):
                            raise RunFailed("the patcher logged: " + message)
                        if message in until:
                            return lines
                    continue
            if process.poll() is not None:
                raise RunFailed("the patcher ended (exit code %s) before its run did" % process.returncode)
            if now > deadline:
                raise RunFailed("the patcher's run did not end within its time-out")
            time.sleep(POLL_SECONDS)
    finally:
        if fd is not None:
            os.close(fd)


def run_patcher(command, folder, env, until, timeout, reader_cores=None):
    """Starts the patcher in `folder` (its old log removed first), reads its log
    until a line of `until`, then ends the process. Returns {message: seconds
    since the start} of the first appearance of each line."""
    log = os.path.join(folder, "patcher.log")
    if os.path.exists(log):
        os.remove(log)
    start = time.perf_counter()
    process = subprocess.Popen(command, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                               start_new_session=True)
    own_cores = os.sched_getaffinity(0) if hasattr(os, "sched_getaffinity") else None
    try:
        if reader_cores and own_cores is not None:
            os.sched_setaffinity(0, reader_cores)
        lines = read_lines(log, until, start + timeout, process)
    finally:
        if own_cores is not None:
            os.sched_setaffinity(0, own_cores)
        if process.poll() is None:
            os.killpg(process.pid, signal.SIGKILL)
        process.wait(30)
    seen = {}
    for at, message in lines:
        seen.setdefault(message, at - start)
    return seen


def stage_seconds(seen, first, last):
    if first not in seen or last not in seen:
        raise RunFailed("the log lacks %r or %r" % (first, last))
    return seen[last] - seen[first]
