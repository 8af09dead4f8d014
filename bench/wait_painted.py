#!/usr/bin/env python3
"""Starts a program and measures the time from its start to its first painted frame.

    wait_painted.py --name TITLE [--timeout S] -- COMMAND...

The program's window is found on the X display in DISPLAY by its title; it counts
as painted once it is viewable and its pixels are no longer all black (an
unpainted window shows black under Xvfb). Prints "result visible_ms=... painted_ms=..."
and then ends the program's process group (it is started in a group of its own).

The watcher shares its core with the program it measures, so it costs it as
little as it can: until the window shows it sleeps on the display's events and
searches the window tree only when a window was mapped (and every 20 ms in case
it missed one); then it reads one row of pixels every millisecond.
Talks to Xlib through ctypes, so it needs no package beyond libX11.
"""
import argparse
import ctypes
import ctypes.util
import os
import select
import signal
import subprocess
import sys
import time

IS_VIEWABLE = 2
Z_PIXMAP = 2
ALL_PLANES = 0xFFFFFFFF
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
SEARCH_EVERY_S = 0.02


class XEvent(ctypes.Structure):
    # Only the type is read; the union is 24 longs long.
    _fields_ = [("type", ctypes.c_int), ("pad", ctypes.c_long * 24)]


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
                ("visual", ctypes.c_void_p), ("root", ctypes.c_ulong), ("c_class", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class XImage(ctypes.Structure):
    # The leading fields only: enough to reach the pixel data.
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


def load_xlib():
    x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XQueryTree.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_ulong),
                             ctypes.POINTER(ctypes.c_ulong),
                             ctypes.POINTER(ctypes.POINTER(ctypes.c_ulong)),
                             ctypes.POINTER(ctypes.c_uint)]
    x.XFetchName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(ctypes.c_char_p)]
    x.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                       ctypes.POINTER(XWindowAttributes)]
    x.XGetImage.restype = ctypes.POINTER(XImage)
    x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                            ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    x.XDestroyImage = x.XDestroyImage if hasattr(x, "XDestroyImage") else None
    x.XFree.argtypes = [ctypes.c_void_p]
    x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
    x.XConnectionNumber.argtypes = [ctypes.c_void_p]
    x.XPending.argtypes = [ctypes.c_void_p]
    x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
    # A window that vanishes between two calls must not end the measurement.
    handler_type = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
    x._ignore = handler_type(lambda display, event: 0)
    x.XSetErrorHandler(x._ignore)
    return x


def find_window(x, display, window, name):
    """Depth-first search for a viewable window with this title."""
    title = ctypes.c_char_p()
    if x.XFetchName(display, window, ctypes.byref(title)) and title.value is not None:
        found = title.value.decode("utf-8", "replace") == name
        x.XFree(title)
        if found:
            attributes = XWindowAttributes()
            if x.XGetWindowAttributes(display, window, ctypes.byref(attributes)) and \
                    attributes.map_state == IS_VIEWABLE:
                return window, attributes
    root, parent = ctypes.c_ulong(), ctypes.c_ulong()
    children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
    if not x.XQueryTree(display, window, ctypes.byref(root), ctypes.byref(parent),
                        ctypes.byref(children), ctypes.byref(count)):
        return None
    try:
        for i in range(count.value):
            hit = find_window(x, display, children[i], name)
            if hit:
                return hit
    finally:
        if children:
            x.XFree(children)
    return None


def is_painted(x, display, window, attributes):
    """Whether the window's middle row holds a pixel that is not black: a first
    frame reaches the display whole, and a row costs the display little to read."""
    image = x.XGetImage(display, window, 0, attributes.height // 2, attributes.width, 1,
                        ALL_PLANES, Z_PIXMAP)
    if not image:
        return False
    try:
        size = image.contents.bytes_per_line * image.contents.height
        data = ctypes.string_at(image.contents.data, size)
    finally:
        x.XDestroyImage(image) if x.XDestroyImage else None
    # 32-bit pixels: ignore the unused top byte of each.
    return any(data[i] or data[i + 1] or data[i + 2] for i in range(0, len(data), 4))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--name", required=True)
    parser.add_argument("--timeout", type=float, default=60.0)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command

    x = load_xlib()
    display = x.XOpenDisplay(None)
    if not display:
        print("error cannot open display %s" % os.environ.get("DISPLAY"), flush=True)
        return 1
    root = x.XDefaultRootWindow(display)
    # Windows mapped on the display wake the watcher.
    x.XSelectInput(display, root, SUBSTRUCTURE_NOTIFY_MASK)
    x.XSync(display, 0)
    connection = x.XConnectionNumber(display)
    event = XEvent()

    start = time.perf_counter()
    process = subprocess.Popen(command, start_new_session=True, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    visible_ms = painted_ms = None
    hit = None
    search_due = 0.0  # search at once, then on events and every SEARCH_EVERY_S
    try:
        while time.perf_counter() - start < args.timeout and process.poll() is None:
            if hit is None:
                now = time.perf_counter()
                mapped = False
                while x.XPending(display):
                    x.XNextEvent(display, ctypes.byref(event))
                    mapped = True
                if mapped or now >= search_due:
                    search_due = now + SEARCH_EVERY_S
                    hit = find_window(x, display, root, args.name)
                if hit is None:
                    select.select([connection], [], [], max(0.0, search_due - time.perf_counter()))
                    continue
                visible_ms = (time.perf_counter() - start) * 1000
            if is_painted(x, display, *hit):
                painted_ms = (time.perf_counter() - start) * 1000
                break
            time.sleep(0.001)
    finally:
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
    if painted_ms is None:
        print("error no painted window named %r within %.0f s" % (args.name, args.timeout),
              flush=True)
        return 1
    print("result visible_ms=%.1f painted_ms=%.1f" % (visible_ms, painted_ms), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
