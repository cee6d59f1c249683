#!/usr/bin/env python3
"""Builds the delivered update (examples/update) from its readable sources
(examples/update-src).

Each payload file is what the updater undoes with "-dc -de": a bzip2 stream
whose content is the bitwise complement of the file's bytes. Files below
"Pak" go into the pack volumes; the others are written as loose files.
"""
import bz2
import os
import shutil
import sys

INVERT = bytes(255 - b for b in range(256))


def encode(data: bytes) -> bytes:
    return bz2.compress(data.translate(INVERT), compresslevel=9)


def main() -> int:
    here = os.path.dirname(os.path.abspath(__file__))
    source = os.path.join(here, "update-src")
    target = os.path.join(here, "update")
    if len(sys.argv) > 1:
        source, target = sys.argv[1], sys.argv[2]
    if os.path.isdir(target):
        shutil.rmtree(target)
    for folder, _, files in os.walk(source):
        for name in sorted(files):
            path = os.path.join(folder, name)
            out = os.path.join(target, os.path.relpath(path, source))
            os.makedirs(os.path.dirname(out), exist_ok=True)
            with open(path, "rb") as f:
                data = f.read()
            with open(out, "wb") as f:
                f.write(encode(data))
    return 0


if __name__ == "__main__":
    sys.exit(main())
