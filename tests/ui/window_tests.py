#!/usr/bin/python3
"""Screenshot and input tests of the patcher's window under Wine.

  window_tests.py BUILD_DIR CASE

Each case runs on an X display of its own (a private Xvfb), so no window of a
test running at the same time covers it, and in a game folder of its own; only
the drag case needs the session's display (see Display). Wine programs share the
session's wineserver. Most cases drive the real PatcherWindow
inside tests/ui/window_host.cpp (built with the embedded images as
ui_window_host, without any resource as ui_window_host_bare); the real_* cases
run the real Vorlen-Patcher.exe against a patch server of their own on
127.0.0.1:8080, its built-in address (skipped when that port is taken).

A frame is checked against a reference composed here from the same artwork
(resources/*.png) with the same layout and colour matrices; text, which the
reference leaves out, is checked where it must appear: present, in its colour,
starting, centred or ending at its point. Every screenshot is kept in
BUILD_DIR/test-artifacts/screenshots/<name>.png.

Every wait is bounded, and every program a case starts is ended by its own id.
"""

import hashlib
import http.server
import io
import os
import re
import select
import shutil
import signal
import socketserver
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

import numpy as np
from PIL import Image

SOURCE = Path(__file__).resolve().parents[2]
RESOURCES = SOURCE / "resources"
WINE_RUN = SOURCE / "cmake" / "wine-run"
TITLE = "Vorlen Patcher"
SKIPPED = 77

IDLE, CHECKING, DOWNLOADING, COMPLETED, ERROR = range(5)

# Layout of the 650 x 450 client area: (x, y, width, height).
CLIENT = (650, 450)
FILE_BAR = (75, 260, 500, 25)
TOTAL_BAR = (75, 320, 500, 25)
MAIN_BUTTON = (200, 388, 120, 42)
CLOSE_BUTTON = (330, 388, 120, 42)
INFO_PANEL = (35, 200, 580, 190)
CHECK_PANEL = (196, 200, 258, 180)
RING = (285, 230, 80, 80)

# Where texts go; the reference leaves these boxes out.
SPEED_TEXT = (75, 213, 250, 20)  # starts at (75, 215)
FILE_TEXT = (325, 213, 253, 20)  # ends at (575, 215)
STATUS_LINE = (75, 235, 500, 20)
SIZE_TEXT = (75, 296, 250, 22)  # starts at (75, 298)
TIME_TEXT = (325, 296, 253, 22)  # ends at (575, 298)
TOTAL_PERCENT = (285, 320, 80, 25)  # centred in the lower bar
RING_PERCENT = (290, 250, 70, 40)  # centred in the ring
CAPTION = (225, 323, 200, 22)  # centred on x 325, top at y 325

BUILD = None
ARTIFACTS = None
STARTED = []  # every program a case started, ended by its id when the case ends


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


# -- processes and the display ---------------------------------------------------

class Display:
    """A private Xvfb; the display name is known once the server is up."""

    def __init__(self, session=False):
        self.process = None
        if session:
            # Wine moves a window by its own drag loop only on the display of the
            # prefix's desktop process, which the session started.
            self.name = (BUILD / "test-session" / "display").read_text().strip()
            return
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 20
        while not number.endswith(b"\n") and time.monotonic() < deadline:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        check(number.strip().isdigit(), "Xvfb did not start")
        self.name = ":" + number.decode().strip()

    def env(self):
        env = dict(os.environ, DISPLAY=self.name, VORLEN_BUILD_DIR=str(BUILD))
        # Without VORLEN_TEST, cmake/wine-run keeps this display instead of the session's.
        env.pop("VORLEN_TEST", None)
        return env

    def xdotool(self, *args):
        result = subprocess.run(["xdotool", *map(str, args)], env=self.env(),
                                capture_output=True, text=True, timeout=20)
        return result.stdout.strip()

    def screenshot(self):
        png = subprocess.run(["import", "-display", self.name, "-window", "root", "png:-"],
                             capture_output=True, timeout=30).stdout
        return np.asarray(Image.open(io.BytesIO(png)).convert("RGB"), dtype=np.int16)

    def close(self):
        if self.process is not None:
            self.process.kill()
            self.process.wait()


class WineProgram:
    """A Windows program under cmake/wine-run in its own process group."""

    def __init__(self, display, args, cwd, stdin=False, stock_fonts=False):
        env = display.env()
        if stock_fonts:
            env["VORLEN_STOCK_FONTS"] = "1"  # cmake/wine-run's prefix without font replacements
        self.process = subprocess.Popen(
            [str(WINE_RUN), *map(str, args)], cwd=cwd, env=env,
            stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
            stdout=subprocess.PIPE if stdin else subprocess.DEVNULL,
            stderr=subprocess.DEVNULL, start_new_session=True)
        STARTED.append(self)
        self.buffer = b""

    def read_line(self, timeout=30):
        deadline = time.monotonic() + timeout
        fd = self.process.stdout.fileno()
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure("no answer from the window host")
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, 4096)
                if not chunk:
                    raise Failure("the window host ended unexpectedly")
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode("utf-8").strip()

    def wait(self, timeout):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def kill(self):
        if self.process.poll() is None:
            try:
                os.killpg(self.process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.process.wait()


class WindowHost(WineProgram):
    """tests/ui/window_host.cpp: the real window, phases set from here."""

    def __init__(self, display, game, bare=False, stock_fonts=False):
        exe = BUILD / "tests" / ("ui_window_host_bare.exe" if bare else "ui_window_host.exe")
        # Nothing listens on port 9: the first run ends at once in Error.
        super().__init__(display, [exe, "http://127.0.0.1:9/fs"], game, stdin=True,
                         stock_fonts=stock_fonts)
        # A first start in the prefix without font replacements makes that prefix.
        check(self.read_line(180 if stock_fonts else 60) == "ready",
              "the window host did not start")
        self.origin = self.rect()[:2]

    def command(self, line):
        self.process.stdin.write((line + "\n").encode("utf-8"))
        self.process.stdin.flush()
        return self.read_line()

    def show(self, phase, file=(0, 0), overall=(0, 0), speed=0.0, seconds=0, files=(0, 0),
             status=""):
        reply = self.command(f"show {phase} {file[0]} {file[1]} {overall[0]} {overall[1]} "
                             f"{speed} {seconds} {files[0]} {files[1]} {status}")
        check(reply == "ok", f"show: {reply}")

    def rect(self):
        return [int(v) for v in self.command("rect").split()[1:]]

    def phase(self):
        return int(self.command("phase").split()[1])

    def paints(self):
        return int(self.command("paints").split()[1])


def wait_until(condition, timeout, step=0.1):
    deadline = time.monotonic() + timeout
    while True:
        if condition():
            return True
        if time.monotonic() >= deadline:
            return False
        time.sleep(step)


def read_log(game):
    path = Path(game) / "patcher.log"
    if not path.exists():
        return []
    lines = path.read_bytes().decode("utf-8", "replace").split("\r\n")
    return [line[11:] for line in lines if line]  # "[hh:mm:ss] " stamps removed


def runs_started(game):
    return read_log(game).count("--- Rozpoczęcie procesu aktualizacji ---")


# -- screenshots ------------------------------------------------------------------

def window_frame(display, origin, previous=None, live=False):
    """The window's 650 x 450 pixels once two screenshots in a row agree (the
    frame reaches the X server shortly after it is painted). A live screen, one
    that changes with every frame, is taken as it is."""
    x, y = origin
    time.sleep(0.25)
    if live:
        return display.screenshot()[y:y + CLIENT[1], x:x + CLIENT[0]]
    last = None
    deadline = time.monotonic() + 5
    while True:
        frame = display.screenshot()[y:y + CLIENT[1], x:x + CLIENT[0]]
        if last is not None and np.array_equal(frame, last):
            if previous is None or not np.array_equal(frame, previous):
                return frame
        if time.monotonic() > deadline:
            return frame
        last = frame
        time.sleep(0.15)


def keep(name, frame):
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    Image.fromarray(frame.astype(np.uint8)).save(ARTIFACTS / f"{name}.png")


# -- the reference frame ----------------------------------------------------------

BRIGHTEN = (1.2, 0.1, 1.0)  # colour scale, colour offset, alpha scale
DIM = (0.6, 0.0, 0.8)


def artwork(name):
    return np.asarray(Image.open(RESOURCES / name).convert("RGBA"), dtype=np.float64)


def argb(value):
    return (value >> 24) / 255.0, np.array([(value >> 16) & 255, (value >> 8) & 255, value & 255],
                                           dtype=np.float64)


class Reference:
    """What a frame must look like apart from its texts and the checking ring."""

    def __init__(self):
        self.rgb = np.zeros((CLIENT[1], CLIENT[0], 3))

    def image(self, name, box, width=None, effect=None):
        x, y = box[0], box[1]
        pixels = artwork(name)
        if width is not None:
            pixels = pixels[:, :width]
        colour, alpha = pixels[..., :3], pixels[..., 3:] / 255.0
        if effect is not None:
            scale, offset, alpha_scale = effect
            colour = np.clip(colour * scale + offset * 255.0, 0, 255)
            alpha = alpha * alpha_scale
        h, w = pixels.shape[:2]
        target = self.rgb[y:y + h, x:x + w]
        target[:] = target * (1 - alpha) + colour * alpha
        return self

    def fill(self, value, box):
        x, y, w, h = box
        alpha, colour = argb(value)
        target = self.rgb[y:y + h, x:x + w]
        target[:] = target * (1 - alpha) + colour * alpha
        return self

    def gradient(self, top, bottom):
        _, a = argb(top)
        _, b = argb(bottom)
        t = (np.arange(CLIENT[1], dtype=np.float64) + 0.5) / CLIENT[1]
        self.rgb[:] = (a[None, :] * (1 - t[:, None]) + b[None, :] * t[:, None])[:, None, :]
        return self

    def bar(self, fill_name, box, done, total):
        self.image("bar_track.png", box)
        if total and done:
            width = box[2] * done // total
            if width > 0:
                self.image(fill_name, box, width=width)
        return self


def with_artwork(phase):
    """The background, the panel of the phase and both buttons."""
    ref = Reference().image("background.png", (0, 0))
    if phase == CHECKING:
        ref.image("check_panel.png", CHECK_PANEL)
    else:
        ref.image("info_panel.png", INFO_PANEL)
    return ref


def add_buttons(ref, phase, main_hover=False, close_hover=False):
    face = "button_play.png" if phase == COMPLETED else "button_busy.png"
    if phase in (CHECKING, DOWNLOADING):
        effect = DIM
    else:
        effect = BRIGHTEN if main_hover else None
    ref.image(face, MAIN_BUTTON, effect=effect)
    ref.image("button_close.png", CLOSE_BUTTON, effect=BRIGHTEN if close_hover else None)
    return ref


def crop(frame, box):
    x, y, w, h = box
    return frame[y:y + h, x:x + w]


def difference(frame, ref):
    return np.abs(frame.astype(np.float64) - ref.rgb).max(axis=2)


def assert_matches(frame, ref, where, leave_out=(), boxes=None):
    """The frame equals the reference (within rounding) everywhere except the
    boxes left out; `boxes`, when given, limits the comparison to them."""
    diff = difference(frame, ref)
    considered = np.zeros(diff.shape, dtype=bool)
    for x, y, w, h in (boxes or [(0, 0) + CLIENT]):
        considered[y:y + h, x:x + w] = True
    for x, y, w, h in leave_out:
        considered[y:y + h, x:x + w] = False
    bad = (diff > 12) & considered
    if bad.any():
        ys, xs = np.nonzero(bad)
        raise Failure(f"{where}: {bad.sum()} pixels differ from the reference, first at "
                      f"({xs[0]}, {ys[0]}): got {frame[ys[0], xs[0]].tolist()}, expected "
                      f"{np.round(ref.rgb[ys[0], xs[0]]).astype(int).tolist()}")


def text_in(frame, ref, box):
    """Pixels of `box` that text changed: their coordinates and colours."""
    x, y, w, h = box
    diff = difference(frame, ref)[y:y + h, x:x + w]
    ys, xs = np.nonzero(diff > 60)
    return xs + x, ys + y, frame[ys + y, xs + x]


def assert_text(frame, ref, box, what, starts=None, ends=None, centre=None, top=None,
                colour="white"):
    xs, ys, colours = text_in(frame, ref, box)
    check(len(xs) >= 15, f"{what}: no text drawn in {box}")
    left, right = xs.min(), xs.max()
    if starts is not None:
        check(starts <= left <= starts + 4, f"{what}: starts at x {left}, expected {starts}")
    if ends is not None:
        check(ends - 5 <= right <= ends + 1, f"{what}: ends at x {right}, expected {ends}")
    if centre is not None:
        middle = (left + right) / 2
        check(abs(middle - centre[0]) <= 3, f"{what}: centred on x {middle}, expected {centre[0]}")
        if centre[1] is not None:
            vertical = (ys.min() + ys.max()) / 2
            check(abs(vertical - centre[1]) <= 4,
                  f"{what}: centred on y {vertical}, expected {centre[1]}")
    if top is not None:
        check(top <= ys.min() <= top + 6, f"{what}: top at y {ys.min()}, expected {top}")
    # The strongest text pixels show the brush colour.
    strong = colours[np.argsort(colours.sum(axis=1))[-10:]].mean(axis=0)
    if colour == "white":
        check(strong.min() >= 200, f"{what}: text is not white but {strong.round().tolist()}")
    elif colour == "green":
        red, green, blue = strong
        check(green >= 200 and green - red >= 80 and green - blue >= 80,
              f"{what}: text is not green 0x64FF64 but {strong.round().tolist()}")
    return left, right


def near(pixel, value, tolerance=12):
    _, colour = argb(value)
    return bool(np.abs(pixel.astype(np.float64) - colour).max() <= tolerance)


# -- the cases ---------------------------------------------------------------------

CASES = {}  # name: (function, what it shares)


def case(*shares):
    """Makes a function a case, run as `window_tests.py BUILD_DIR NAME`. `shares`
    names what it uses that tests running beside it also use; tests.cmake reads
    the names from here and gives the case's ctest test these resource locks:
      "session_display"  it runs on the session's display (see Display), not one of its own
      "game_process"     it starts programs under the game's name in the session's wineserver
      "port_8080"        it runs the real patcher against a server of its own on the
                         patcher's built-in 127.0.0.1:8080 (the function then takes `www`)"""
    def register(function):
        CASES[function.__name__] = (function, shares)
        return function
    return register


# -- screens with the artwork ----------------------------------------------------

@case()
def idle_screen(display, game):
    host = WindowHost(display, game)
    host.show(IDLE)
    frame = window_frame(display, host.origin)
    keep("idle", frame)
    ref = add_buttons(with_artwork(IDLE).bar("bar_blue.png", TOTAL_BAR, 0, 0), IDLE)
    # No upper bar, no text, an empty lower bar, both buttons plain.
    assert_matches(frame, ref, "idle screen")


@case()
def checking_screen(display, game):
    host = WindowHost(display, game)
    ref = add_buttons(with_artwork(CHECKING), CHECKING)
    ring_area = (RING[0] - 8, RING[1] - 8, RING[2] + 16, RING[3] + 16)

    host.show(CHECKING, files=(30, 100), status="Sprawdzanie: data/plik.bin")
    frame = window_frame(display, host.origin)
    keep("checking", frame)
    assert_matches(frame, ref, "checking screen", leave_out=[ring_area, CAPTION])
    # The arc starts at twelve o'clock and runs clockwise over 30 % of the ring.
    cx, cy, r = 325, 270, 40
    arc = 0xFF00B4FF
    for degrees in (4, 45, 90, 100):  # clockwise from twelve o'clock
        angle = np.radians(degrees - 90)
        x, y = int(round(cx + r * np.cos(angle))), int(round(cy + r * np.sin(angle)))
        check(near(frame[y, x], arc), f"arc missing {degrees} degrees past twelve: "
                                      f"{frame[y, x].tolist()} at ({x}, {y})")
    for degrees in (130, 180, 270, 340):
        angle = np.radians(degrees - 90)
        x, y = int(round(cx + r * np.cos(angle))), int(round(cy + r * np.sin(angle)))
        check(not near(frame[y, x], arc, 60), f"arc drawn {degrees} degrees past twelve")
    assert_text(frame, ref, RING_PERCENT, "ring percentage", centre=(325, 270))
    assert_text(frame, ref, CAPTION, "checking caption", centre=(325, None), top=325)

    # Without a file count: both rings and the caption, no arc and no percentage.
    host.show(CHECKING, files=(0, 0))
    empty = window_frame(display, host.origin, previous=frame)
    keep("checking-no-count", empty)
    arc_colour = argb(arc)[1]
    ring = crop(empty, ring_area).astype(np.float64)
    check(not (np.abs(ring - arc_colour).max(axis=2) <= 40).any(), "arc drawn without a count")
    assert_matches(empty, ref, "inside the ring without a count", boxes=[(300, 250, 50, 40)])
    assert_text(empty, ref, CAPTION, "checking caption without a count", centre=(325, None),
                top=325)


def show_download_with_texts(display, host, name):
    """Puts a download with a known total on screen and checks everything but the
    texts against the reference, then each of the six texts at its place."""
    host.show(DOWNLOADING, file=(30, 120), overall=(600, 1000), speed=1536.9, seconds=65,
              files=(1, 2), status="Pobieranie: data/plik.bin")
    frame = window_frame(display, host.origin)
    keep(name, frame)
    ref = with_artwork(DOWNLOADING)
    ref.bar("bar_green.png", FILE_BAR, 30, 120).bar("bar_blue.png", TOTAL_BAR, 600, 1000)
    add_buttons(ref, DOWNLOADING)
    texts = [SPEED_TEXT, FILE_TEXT, STATUS_LINE, SIZE_TEXT, TIME_TEXT, TOTAL_PERCENT]
    assert_matches(frame, ref, name, leave_out=texts)
    assert_text(frame, ref, SPEED_TEXT, f"{name}: speed (1.50KiB/s)", starts=75)
    assert_text(frame, ref, FILE_TEXT, f"{name}: file sizes (30B / 120B)", ends=575)
    assert_text(frame, ref, STATUS_LINE, f"{name}: status line", starts=75)
    assert_text(frame, ref, SIZE_TEXT, f"{name}: total sizes (600B / 1000B)", starts=75)
    assert_text(frame, ref, TIME_TEXT, f"{name}: time left (01:05)", ends=575)
    assert_text(frame, ref, TOTAL_PERCENT, f"{name}: percentage (60%)", centre=(325, 332))
    return frame, ref


@case()
def downloading_screen(display, game):
    host = WindowHost(display, game)
    frame, ref = show_download_with_texts(display, host, "downloading")
    # The fills end exactly at a quarter and at 60 % of the bars.
    assert_matches(frame, ref, "upper bar at 25 %", boxes=[FILE_BAR])
    assert_matches(frame, ref, "lower bar at 60 %", boxes=[TOTAL_BAR], leave_out=[TOTAL_PERCENT])

    # Without a known total: no speed, sizes, time or percentage; the upper bar
    # still follows the file.
    host.show(DOWNLOADING, file=(60, 120), overall=(600, 0), speed=1536.9, seconds=65,
              status="Pobieranie: data/plik.bin")
    unknown = window_frame(display, host.origin, previous=frame)
    keep("downloading-no-total", unknown)
    ref = with_artwork(DOWNLOADING)
    ref.bar("bar_green.png", FILE_BAR, 60, 120).bar("bar_blue.png", TOTAL_BAR, 0, 0)
    add_buttons(ref, DOWNLOADING)
    assert_matches(unknown, ref, "download without a total", leave_out=[STATUS_LINE])


@case()
def completed_screen(display, game):
    host = WindowHost(display, game)
    # Nothing was downloaded (overallTotal 0): still a full bar and 100%.
    host.show(COMPLETED, status="Aktualizacja zakończona! Możesz uruchomić grę.")
    frame = window_frame(display, host.origin)
    keep("completed", frame)
    ref = with_artwork(COMPLETED).bar("bar_blue.png", TOTAL_BAR, 1, 1)
    add_buttons(ref, COMPLETED)
    assert_matches(frame, ref, "completed screen", leave_out=[STATUS_LINE, TOTAL_PERCENT])
    assert_matches(frame, ref, "full lower bar", boxes=[TOTAL_BAR], leave_out=[TOTAL_PERCENT])
    assert_text(frame, ref, STATUS_LINE, "completed status", starts=75, colour="green")
    assert_text(frame, ref, TOTAL_PERCENT, "percentage (100%)", centre=(325, 332))


@case()
def error_screen(display, game):
    host = WindowHost(display, game)
    host.show(ERROR, file=(30, 120), overall=(600, 1000), speed=1536.9, seconds=65,
              status="Błąd pobierania pliku: data/plik.bin")
    frame = window_frame(display, host.origin)
    keep("error", frame)
    # Both bars stay where the download stopped; no speed, sizes or time left.
    ref = with_artwork(ERROR)
    ref.bar("bar_green.png", FILE_BAR, 30, 120).bar("bar_blue.png", TOTAL_BAR, 600, 1000)
    add_buttons(ref, ERROR)
    assert_matches(frame, ref, "error screen", leave_out=[STATUS_LINE, TOTAL_PERCENT])
    assert_text(frame, ref, STATUS_LINE, "error status", starts=75)
    assert_text(frame, ref, TOTAL_PERCENT, "percentage (60%)", centre=(325, 332))


@case()
def long_status_is_trimmed(display, game):
    host = WindowHost(display, game)
    folders = "/".join(f"katalog{n:02d}" for n in range(30))
    host.show(IDLE, status=f"Sprawdzanie: data/{folders}/ostatni_plik.bin")
    frame = window_frame(display, host.origin)
    keep("long-status", frame)
    ref = add_buttons(with_artwork(IDLE).bar("bar_blue.png", TOTAL_BAR, 0, 0), IDLE)
    # One line, cut in the middle, nothing outside (75, 235, 500, 20).
    assert_matches(frame, ref, "around a long status", leave_out=[STATUS_LINE])
    left, right = assert_text(frame, ref, STATUS_LINE, "long status", starts=75)
    check(right >= 540, f"long status stops at x {right}: cut short")
    # Not wrapped after "Sprawdzanie:": the first line runs on to the right end.
    xs, ys, _ = text_in(frame, ref, STATUS_LINE)
    check(((ys <= 247) & (xs > 400)).sum() >= 10, "long status wrapped onto a second line")


@case()
def texts_without_font_replacements(display, game):
    """A player's fresh Wine prefix has no "Segoe UI" and no generic sans-serif
    family for GDI+: every text must still be drawn, in a family such a system has."""
    host = WindowHost(display, game, stock_fonts=True)
    frame, _ = show_download_with_texts(display, host, "stock-fonts-downloading")

    host.show(CHECKING, files=(30, 100))
    checking = window_frame(display, host.origin, previous=frame)
    keep("stock-fonts-checking", checking)
    ref = add_buttons(with_artwork(CHECKING), CHECKING)
    assert_text(checking, ref, RING_PERCENT, "ring percentage, stock fonts", centre=(325, 270))
    assert_text(checking, ref, CAPTION, "checking caption, stock fonts", centre=(325, None),
                top=325)


# -- fallbacks without images -----------------------------------------------------

def fallback(phase, main=None, close=0xFF963232):
    ref = Reference().gradient(0xFF191923, 0xFF0F0F19)
    ref.fill(0xB4003264, CHECK_PANEL if phase == CHECKING else INFO_PANEL)
    ref.fill(main or (0xFF00B450 if phase == COMPLETED else 0xFF0096FF), MAIN_BUTTON)
    return ref.fill(close, CLOSE_BUTTON)


@case()
def fallback_screens(display, game):
    host = WindowHost(display, game, bare=True)
    # No bars at all without their artwork; panels and buttons in plain colours.
    host.show(DOWNLOADING, file=(30, 120), overall=(600, 1000), speed=1536.9, seconds=65,
              status="Pobieranie: data/plik.bin")
    frame = window_frame(display, host.origin)
    keep("fallback-downloading", frame)
    ref = fallback(DOWNLOADING)
    texts = [SPEED_TEXT, FILE_TEXT, STATUS_LINE, SIZE_TEXT, TIME_TEXT, TOTAL_PERCENT]
    assert_matches(frame, ref, "downloading without images", leave_out=texts)
    for box, what in zip(texts, ["speed", "file sizes", "status", "total sizes", "time left",
                                 "percentage"]):
        assert_text(frame, ref, box, what + " without images")

    host.show(CHECKING, files=(30, 100))
    checking = window_frame(display, host.origin, previous=frame)
    keep("fallback-checking", checking)
    ref = fallback(CHECKING)
    ring_area = (RING[0] - 8, RING[1] - 8, RING[2] + 16, RING[3] + 16)
    assert_matches(checking, ref, "checking without images", leave_out=[ring_area, CAPTION])
    check(near(checking[230, 328], 0xFF00B4FF), "no arc at twelve o'clock without images")

    host.show(COMPLETED, status="Aktualizacja zakończona! Możesz uruchomić grę.")
    completed = window_frame(display, host.origin, previous=checking)
    keep("fallback-completed", completed)
    ref = fallback(COMPLETED)
    assert_matches(completed, ref, "completed without images",
                   leave_out=[STATUS_LINE, TOTAL_PERCENT])
    assert_text(completed, ref, STATUS_LINE, "completed status without images", colour="green")


@case()
def fallback_buttons_on_hover(display, game):
    host = WindowHost(display, game, bare=True)
    host.show(IDLE)
    x0, y0 = host.origin
    display.xdotool("mousemove", x0 + 390, y0 + 409)
    frame = window_frame(display, host.origin)
    keep("fallback-close-hover", frame)
    assert_matches(frame, fallback(IDLE, close=0xFFC83C3C), "close hovered without images")
    # The main button's plain fill shows no hovering.
    display.xdotool("mousemove", x0 + 260, y0 + 409)
    frame = window_frame(display, host.origin, previous=frame)
    assert_matches(frame, fallback(IDLE), "main hovered without images")


# -- input --------------------------------------------------------------------------

def click(display, host, point):
    x0, y0 = host.origin
    display.xdotool("mousemove", x0 + point[0], y0 + point[1], "click", 1)


MAIN_CENTRE = (260, 409)
CLOSE_CENTRE = (390, 409)


def press_main_and_expect_run(display, game, phase):
    host = WindowHost(display, game)
    host.show(phase, status="Gotowe")
    before = runs_started(game)
    # A first click may only activate the window: click again if nothing happened.
    for _ in range(2):
        click(display, host, MAIN_CENTRE)
        if wait_until(lambda: runs_started(game) > before, 5):
            break
    check(runs_started(game) > before, "no new run after pressing the main button")
    host.command("wait-run")
    check(host.process.poll() is None, "the window closed")


@case()
def main_button_in_idle_starts_a_run(display, game):
    press_main_and_expect_run(display, game, IDLE)


@case()
def main_button_in_error_starts_a_run(display, game):
    press_main_and_expect_run(display, game, ERROR)


def press_main_and_expect_nothing(display, game, phase):
    host = WindowHost(display, game)
    host.show(phase, file=(30, 120), overall=(600, 1000), files=(3, 10), status="Zajęty")
    before = runs_started(game)
    for _ in range(2):
        click(display, host, MAIN_CENTRE)
        time.sleep(0.5)
    time.sleep(1.0)
    check(runs_started(game) == before, "pressing the dimmed main button started a run")
    check(host.phase() == phase, "pressing the dimmed main button changed the phase")
    check(host.process.poll() is None, "the window closed")
    # The same press in Idle does start a run: the presses did reach the window.
    host.show(IDLE)
    click(display, host, MAIN_CENTRE)
    check(wait_until(lambda: runs_started(game) > before, 5), "the presses never reached the window")


@case()
def main_button_while_checking_does_nothing(display, game):
    press_main_and_expect_nothing(display, game, CHECKING)


@case()
def main_button_while_downloading_does_nothing(display, game):
    press_main_and_expect_nothing(display, game, DOWNLOADING)


@case("game_process")
def main_button_when_completed_launches_game_and_quits(display, game):
    shutil.copy(BUILD / "tests" / "game_stand_in.exe", Path(game) / "Vorlen.exe")
    host = WindowHost(display, game)
    host.show(COMPLETED, status="Aktualizacja zakończona! Możesz uruchomić grę.")
    for _ in range(2):
        click(display, host, MAIN_CENTRE)
        if host.wait(5) is not None:
            break
    check(host.process.poll() == 0, f"the patcher did not quit with 0: {host.process.poll()}")
    started = Path(game) / "stand-in-started.txt"
    check(wait_until(started.exists, 10), "the game was not started")
    lines = started.read_text("utf-8").splitlines()
    check(lines[0].lower().endswith("\\vorlen.exe"), f"started {lines[0]}")
    check(read_log(game)[-1] == "Patcher zamknięty", "the log does not end the patcher")


@case("session_display")
def top_strip_drags_window(display, game):
    host = WindowHost(display, game)
    host.show(IDLE)
    x0, y0 = host.origin
    # The window answers "caption" above y 50 and "client" from it on.
    check(host.command(f"hittest {x0 + 300} {y0 + 49}") == "hit 2", "y 49 is not the drag strip")
    check(host.command(f"hittest {x0 + 300} {y0 + 50}") == "hit 1", "y 50 is in the drag strip")
    display.xdotool("mousemove", x0 + 300, y0 + 20, "mousedown", 1)
    for step in range(1, 11):
        display.xdotool("mousemove", x0 + 300 + 10 * step, y0 + 20 + 6 * step)
    display.xdotool("mouseup", 1)
    check(wait_until(lambda: host.rect()[:2] == [x0 + 100, y0 + 60], 5),
          f"the window did not follow the drag: {host.rect()}")
    check(runs_started(game) == 1, "the press in the strip acted as a click")
    # A press below the strip does not move it.
    display.xdotool("mousemove", x0 + 150, y0 + 120, "mousedown", 1)
    display.xdotool("mousemove", x0 + 200, y0 + 150)
    display.xdotool("mouseup", 1)
    time.sleep(0.5)
    check(host.rect()[:2] == [x0 + 100, y0 + 60], "a press below the strip moved the window")


@case()
def hover_crossing_an_edge_repaints_once(display, game):
    host = WindowHost(display, game)
    host.show(IDLE)
    host.command("timer off")  # from now on only input repaints
    x0, y0 = host.origin
    display.xdotool("mousemove", x0 + 100, y0 + 409)
    time.sleep(0.5)

    def paints_after(*moves):
        before = host.paints()
        for x, y in moves:
            display.xdotool("mousemove", x0 + x, y0 + y)
            time.sleep(0.2)
        time.sleep(0.5)
        return host.paints() - before

    # Edges: the main button spans x 200..319, the close button 330..449.
    check(paints_after((199, 409)) == 0, "a move outside the buttons repainted")
    check(paints_after((200, 409)) == 1, "entering the main button did not repaint once")
    check(paints_after((250, 400), (319, 420)) == 0, "moving inside the button repainted")
    keep("hover-main", window_frame(display, host.origin))
    check(paints_after((320, 409)) == 1, "leaving the main button did not repaint once")
    check(paints_after((330, 409)) == 1, "entering the close button did not repaint once")
    check(paints_after((260, 409)) == 1, "moving from close to main did not repaint once")

    # The hovered main button is brightened, the close button plain.
    host.show(IDLE)
    frame = window_frame(display, host.origin)
    ref = add_buttons(with_artwork(IDLE).bar("bar_blue.png", TOTAL_BAR, 0, 0), IDLE,
                      main_hover=True)
    assert_matches(frame, ref, "main button hovered in Idle")
    display.xdotool("mousemove", x0 + 390, y0 + 409)
    time.sleep(0.3)
    host.show(IDLE)
    frame = window_frame(display, host.origin)
    keep("hover-close", frame)
    ref = add_buttons(with_artwork(IDLE).bar("bar_blue.png", TOTAL_BAR, 0, 0), IDLE,
                      close_hover=True)
    assert_matches(frame, ref, "close button hovered")
    # While downloading the hovered main button stays dimmed.
    display.xdotool("mousemove", x0 + 260, y0 + 409)
    time.sleep(0.3)
    host.show(DOWNLOADING)
    frame = window_frame(display, host.origin)
    ref = add_buttons(with_artwork(DOWNLOADING).bar("bar_green.png", FILE_BAR, 0, 0)
                      .bar("bar_blue.png", TOTAL_BAR, 0, 0), DOWNLOADING)
    assert_matches(frame, ref, "main button hovered while downloading", leave_out=[STATUS_LINE])


# -- the real program ------------------------------------------------------------

class SlowPatchServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    """Serves ROOT/<path> for GET /<path>; files under data/ trickle in 8 KiB
    pieces `delay` seconds apart. Bounded: every body has an end, and the server
    is shut down by the case."""

    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, root, delay):
        self.root = Path(root)
        self.delay = delay
        super().__init__(("127.0.0.1", 8080), SlowHandler)


class SlowHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_GET(self):
        relative = self.path.lstrip("/")
        target = (self.server.root / relative).resolve()
        if self.server.root.resolve() not in target.parents or not target.is_file():
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        body = target.read_bytes()
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        slow = relative.startswith("fs/data/")
        try:
            for at in range(0, len(body), 8192):
                self.wfile.write(body[at:at + 8192])
                self.wfile.flush()
                if slow:
                    time.sleep(self.server.delay)
        except (BrokenPipeError, ConnectionResetError):
            pass


def patcher_version():
    """The version of the build's patcher, as its generated header has it."""
    header = (BUILD / "generated" / "app" / "patcher_version.h").read_text()
    match = re.search(r'^#define VORLEN_VERSION_TEXT "([0-9.]+)"$', header, re.M)
    check(match, "no VORLEN_VERSION_TEXT in the build's version header")
    return match.group(1)


def publish(www, size):
    """The server side of one update: the current patcher version and one
    game file of `size` bytes that the game folder lacks."""
    data = bytes((i * 7 + (i >> 8)) & 255 for i in range(size))
    folder = Path(www) / "fs"
    (folder / "data").mkdir(parents=True)
    (folder / "data" / "pakiet.bin").write_bytes(data)
    (folder / "patcher_version.txt").write_text(patcher_version() + "\n")
    digest = hashlib.md5(data).hexdigest()
    (folder / "patchlist.txt").write_text(f"data/pakiet.bin {digest} {size}\n")
    return digest


class RealPatcher(WineProgram):
    def __init__(self, display, game):
        super().__init__(display, [BUILD / "Vorlen-Patcher.exe"], game)
        found = []

        def window_shown():
            found[:] = display.xdotool("search", "--name", TITLE).split()
            return bool(found)

        check(wait_until(window_shown, 60, 0.2), "the patcher's window did not appear")
        geometry = display.xdotool("getwindowgeometry", "--shell", found[0])
        values = dict(line.split("=") for line in geometry.splitlines() if "=" in line)
        self.origin = (int(values["X"]), int(values["Y"]))


def check_part_way(frame, empty, bar, what):
    """The fill covers the bar from its (rounded) left end to somewhere before its
    right end."""
    row = bar[1] + 4  # above the percentage text
    diff = np.abs(frame[row, bar[0]:bar[0] + bar[2]].astype(np.float64)
                  - empty.rgb[row, bar[0]:bar[0] + bar[2]]).max(axis=1)
    columns = np.nonzero(diff > 40)[0]
    check(len(columns) > 0, f"{what}: nothing filled")
    gaps = columns.max() - columns.min() + 1 - len(columns)
    check(columns.min() <= 8 and columns.max() < bar[2] - 8 and gaps <= 2,
          f"{what}: filled columns {columns.min()}..{columns.max()} with {gaps} gaps")


def log_has(game, line):
    return line in read_log(game)


@case("game_process", "port_8080")
def real_patcher_downloads_then_plays(display, game, www):
    publish(www, 96 * 8192)  # 96 pieces, 50 ms apart: about five seconds
    shutil.copy(BUILD / "tests" / "game_stand_in.exe", Path(game) / "Vorlen.exe")
    patcher = RealPatcher(display, game)
    check(wait_until(lambda: log_has(game, "--- Rozpoczęcie pobierania ---"), 30),
          f"no download started: {read_log(game)[-3:]}")
    time.sleep(1.0)
    frame = window_frame(display, patcher.origin, live=True)
    keep("real-downloading", frame)
    # The bars are left empty here: only their fills may differ from it.
    ref = with_artwork(DOWNLOADING).bar("bar_green.png", FILE_BAR, 0, 0)
    ref.bar("bar_blue.png", TOTAL_BAR, 0, 0)
    add_buttons(ref, DOWNLOADING)
    assert_matches(frame, ref, "real download: dimmed main button", boxes=[MAIN_BUTTON])
    assert_text(frame, ref, SPEED_TEXT, "real download: speed", starts=75)
    assert_text(frame, ref, FILE_TEXT, "real download: file sizes", ends=575)
    assert_text(frame, ref, STATUS_LINE, "real download: status", starts=75)
    assert_text(frame, ref, SIZE_TEXT, "real download: total sizes", starts=75)
    assert_text(frame, ref, TIME_TEXT, "real download: time left", ends=575)
    for bar, what in [(FILE_BAR, "upper"), (TOTAL_BAR, "lower")]:
        check_part_way(frame, ref, bar, f"real download: {what} bar")

    check(wait_until(lambda: log_has(game, "--- Pobieranie zakończone pomyślnie ---"), 60),
          f"the download did not end: {read_log(game)[-3:]}")
    time.sleep(0.3)
    frame = window_frame(display, patcher.origin)
    keep("real-completed", frame)
    ref = add_buttons(with_artwork(COMPLETED).bar("bar_blue.png", TOTAL_BAR, 1, 1), COMPLETED)
    assert_matches(frame, ref, "real completed screen", leave_out=[STATUS_LINE, TOTAL_PERCENT])
    assert_text(frame, ref, STATUS_LINE, "real completed status", starts=75, colour="green")

    # Play: the game starts from the game folder and the patcher ends.
    for _ in range(2):
        click(display, patcher, MAIN_CENTRE)
        if patcher.wait(5) is not None:
            break
    check(patcher.wait(30) == 0, f"the patcher did not end with 0: {patcher.process.poll()}")
    check(wait_until((Path(game) / "stand-in-started.txt").exists, 10), "the game did not start")
    check(read_log(game)[-1] == "Patcher zamknięty", f"last log line: {read_log(game)[-1]}")


@case("game_process", "port_8080")
def real_patcher_close_during_download(display, game, www):
    publish(www, 400 * 8192)  # 400 pieces, 50 ms apart: far longer than the case
    patcher = RealPatcher(display, game)
    check(wait_until(lambda: log_has(game, "--- Rozpoczęcie pobierania ---"), 30),
          f"no download started: {read_log(game)[-3:]}")
    time.sleep(1.0)
    keep("real-before-close", window_frame(display, patcher.origin, live=True))
    for _ in range(2):
        click(display, patcher, CLOSE_CENTRE)
        if patcher.wait(10) is not None:
            break
    code = patcher.wait(30)
    check(code == 0, f"the patcher did not end with 0 after closing: {code}")
    lines = read_log(game)
    check(lines[-1] == "Patcher zamknięty", f"last log line: {lines[-1]}")
    check("--- Pobieranie zakończone pomyślnie ---" not in lines, "the download was not cancelled")
    leftovers = [str(p) for p in Path(game).rglob("*.tmp")]
    check(not leftovers, f"staged files left behind: {leftovers}")


class Skipped(Exception):
    pass


def run_case(name):
    run, shares = CASES[name]
    with tempfile.TemporaryDirectory(prefix="vorlen-ui-") as scratch:
        game = Path(scratch) / "game"
        game.mkdir()
        server = None
        if "port_8080" in shares:
            www = Path(scratch) / "www"
            www.mkdir()
            try:
                server = SlowPatchServer(www, 0.05)
            except OSError as error:
                raise Skipped(f"127.0.0.1:8080, the patcher's built-in server, is taken: {error}")
            threading.Thread(target=server.serve_forever, daemon=True).start()
        display = Display(session="session_display" in shares)
        try:
            if server is not None:
                run(display, game, www)
            else:
                run(display, game)
        finally:
            for program in STARTED:
                program.kill()
            if server is not None:
                server.shutdown()
                server.server_close()
            display.close()


def main():
    global BUILD, ARTIFACTS
    if len(sys.argv) != 3 or sys.argv[2] not in CASES:
        print(__doc__, file=sys.stderr)
        print("cases: " + " ".join(sorted(CASES)), file=sys.stderr)
        return 2
    BUILD = Path(sys.argv[1]).resolve()
    ARTIFACTS = BUILD / "test-artifacts" / "screenshots"
    name = sys.argv[2]
    try:
        run_case(name)
    except Skipped as reason:
        print(f"SKIP {name}: {reason}", file=sys.stderr)
        return SKIPPED
    except Failure as failure:
        print(f"FAIL {name}: {failure}", file=sys.stderr)
        return 1
    print(f"PASS {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
