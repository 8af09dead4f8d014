#!/usr/bin/env python3
"""Writes a small sample game folder for the demo and the end-to-end tests.

The content is the same on every run and every machine: text files, a few
folders, binary files made from a counter-mode SHA-256 stream, and one file
with Polish letters in its name (dane/zażółć.txt).

    make_sample_game.py OUT_FOLDER     (the folder must be empty or absent)
"""
import hashlib
import os
import sys


def pseudo_random_bytes(seed, size):
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"{seed}:{counter}".encode()).digest()
        counter += 1
    return bytes(out[:size])


SAMPLE_FILES = {
    "readme.txt": "Vorlen - przykładowa gra do pokazu patchera.\n".encode(),
    "dane/zażółć.txt": "Zażółć gęślą jaźń.\nPchnąć w tę łódź jeża lub ośm skrzyń fig.\n".encode(),
    "data/config.ini": b"[video]\nwidth=1024\nheight=768\n[audio]\nvolume=80\n",
    "data/maps/forest.map": pseudo_random_bytes("forest", 64 * 1024),
    "data/maps/dungeon.map": pseudo_random_bytes("dungeon", 300 * 1024 + 17),
    "sound/music.ogg": pseudo_random_bytes("music", 2 * 1024 * 1024 + 4096),
    "textures/ui/buttons.dat": pseudo_random_bytes("buttons", 8192),
}


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    out = sys.argv[1]
    if os.path.exists(out) and os.listdir(out):
        print(f"make_sample_game: {out} is not empty", file=sys.stderr)
        return 1
    for path, content in sorted(SAMPLE_FILES.items()):
        target = os.path.join(out, *path.split("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(content)
    return 0


if __name__ == "__main__":
    sys.exit(main())
