#!/usr/bin/env python3
"""Writes the small seed corpora of the fuzz targets, one folder per target.

Usage: make_seed_corpora.py OUTPUT_DIR

Every seed is built here from its description, so nothing binary is kept in
the repository: pack volumes (plain and with the directory filter, single and
chained), bzip2 payloads and streams, argument vectors, names and free-space operations.
"""
import bz2
import os
import random
import struct
import sys

import bzip2_stream_writer

VOLUME_SEPARATOR = b"~VOL~"
FLAG_STORED = 0x00000001
FLAG_IN_PLACE = 0x20000000


def encode_filter(data):
    """The directory filter: each byte keeps its odd bits and takes the even
    bits of the byte after it; the last byte takes them from the first."""
    if not data:
        return data
    out = bytearray(len(data))
    for i in range(len(data)):
        after = data[i + 1] if i + 1 < len(data) else data[0]
        out[i] = (data[i] & 0xAA) | (after & 0x55)
    return bytes(out)


def head_record(name, start, size, flags=FLAG_STORED, filter_word=0):
    return struct.pack("<I", len(name)) + name + struct.pack("<IIII", start, size, flags, filter_word)


def volume(files, next_name=b"", trailer=True, filtered=False, extra_heads=()):
    """files: (name, content, flags); data from offset 16, then the table."""
    data = b""
    records = b""
    for name, content, flags in files:
        stored = encode_filter(content) if filtered and flags & FLAG_IN_PLACE else content
        records += head_record(name, 16 + len(data), len(content), flags)
        data += stored
    for record in extra_heads:
        records += record
    table = records
    if trailer:
        checksum = sum(records) & 0xFFFFFFFF
        table += b"PKES" + struct.pack("<III", len(next_name) + 8, checksum, len(next_name))
        table += next_name
    count = len(files) + len(extra_heads)
    header = b"PACK" + struct.pack("<III", 16 + len(data), len(table), count)
    if filtered:
        header = encode_filter(header)
        table = encode_filter(table)
    return header + data + table


def volume_set_seeds():
    plan_small = bytes([7, 0, 16, 0, 0, 0, 3, 0])    # chunk 8, gets 17, seek 0 origin 0, 3 reads
    plan_large = bytes([0, 4, 200, 5, 0, 2, 7, 0])   # chunk 1025, gets 201, seek 5 from the end
    text = b"first line\r\nsecond\nthird\x00fourth" + bytes(range(256)) * 5
    files = [
        (b"SUB/A.TXT", text, FLAG_STORED | FLAG_IN_PLACE),
        (b"DATA/SOUND.WAV", bytes((i * 37) & 0xFF for i in range(3000)), FLAG_STORED),
        (b"X", b"\xff\xc8\x80", FLAG_STORED),
    ]
    seeds = {}
    seeds["empty"] = bytes([0]) + plan_small + volume([])
    seeds["three-files"] = bytes([0]) + plan_small + volume(files)
    seeds["three-files-filtered"] = bytes([1]) + plan_large + volume(files, filtered=True)
    seeds["no-trailer-zero-size"] = bytes([0]) + plan_large + volume(
        files[2:], trailer=False, extra_heads=[head_record(b"EMPTY", 16, 0)])
    chain = [
        volume(files[:1], next_name=b"Data1.pak", filtered=True),
        volume(files[1:2], next_name=b"Data2.pak", filtered=True),
        volume([(b"SUB/A.TXT", b"later copy\n", FLAG_STORED | FLAG_IN_PLACE)], filtered=True),
    ]
    seeds["chain-of-three"] = bytes([1]) + plan_small + VOLUME_SEPARATOR.join(chain)
    seeds["chain-naming-itself"] = bytes([0]) + plan_small + volume(files[:1], next_name=b"DATA.pak")
    return seeds


def payload_seeds():
    payload = b"payload text\n" * 40 + bytes(range(256))
    compressed = bz2.compress(payload)
    return {
        "empty": b"",
        "plain": payload,
        "bzip2": compressed,
        "bzip2-of-complement": bz2.compress(bytes(255 - b for b in payload)),
        "bzip2-truncated": compressed[: len(compressed) // 2],
        "bzip2-two-streams": compressed + bz2.compress(b"second stream"),
    }


def bzip2_seeds():
    """Raw inputs (first byte 0: the bytes go to both decoders as they are) and
    data for the target to compress (first byte 1, then the block size less
    one and the work factor as 32-bit words, the shape of the streams and
    where two streams are cut)."""
    def raw(stream):
        return b"\x00" + stream

    def encode(data, block_size=9, work_factor=0, shape=0, split=0):
        return b"\x01" + struct.pack("<IIBH", block_size - 1, work_factor, shape, split) + data

    text = b"".join(b"line %d of the update notes: files, sizes and checksums\n" % i for i in range(30))
    rng = random.Random(20240611)
    noise = rng.randbytes(250_000)  # several blocks of 100 KB at block size 1
    words = [b"pack", b"volume", b"update", b"file", b"the", b"of", b"data", b"\n", b"marovetin"]
    prose = b" ".join(rng.choice(words) for _ in range(45_000))[:250_000]

    seeds = {"raw-empty-input": raw(b""), "raw-not-bzip2": raw(text[:64])}
    for level in range(1, 10):
        seeds["raw-level-%d" % level] = raw(bz2.compress(text, level))
        seeds["encode-level-%d" % level] = encode(text, level, work_factor=level * 25)
    # Four equal bytes start a run-length code whose count goes up to 251: these
    # lengths sit on each side of one code and of a code and a new run.
    for length in (1, 2, 3, 4, 5, 6, 255, 256, 259, 260):
        seeds["raw-run-%d" % length] = raw(bz2.compress(b"r" * length + b"s"))
        seeds["encode-run-%d" % length] = encode(b"\x00" * length)
    runs = b"".join(bytes([i]) * n for i, n in enumerate((1, 4, 5, 255, 256, 259, 260, 3)))
    seeds["raw-runs-mixed"] = raw(bz2.compress(runs))
    seeds["raw-all-bytes"] = raw(bz2.compress(bytes(range(256)) * 3))
    seeds["encode-all-bytes"] = encode(bytes(range(256)), 1, shape=1, split=128)
    seeds["raw-one-byte"] = raw(bz2.compress(b"\x7f"))
    seeds["encode-one-byte"] = encode(b"\x7f")
    seeds["raw-empty-stream"] = raw(bz2.compress(b""))
    seeds["encode-empty"] = encode(b"")
    seeds["encode-empty-around"] = encode(text[:100], 3, shape=2)
    seeds["raw-blocks-noise"] = raw(bz2.compress(noise, 1))
    seeds["raw-blocks-text"] = raw(bz2.compress(prose, 1))
    seeds["encode-blocks-noise"] = encode(noise, 1, shape=1, split=40_000)
    seeds["encode-blocks-text"] = encode(prose, 1)

    first = bz2.compress(text, 9)
    second = bz2.compress(bytes(range(256)), 1)
    seeds["raw-two-streams"] = raw(first + second)
    seeds["raw-three-streams"] = raw(first + bz2.compress(b"") + second)
    seeds["raw-garbage-after"] = raw(first + b"garbage after the stream")
    seeds["raw-partial-magic-after"] = raw(first + b"BZh")
    seeds["raw-truncated-header"] = raw(first[:4])
    seeds["raw-truncated-half"] = raw(first[: len(first) // 2])
    seeds["raw-truncated-checksum"] = raw(first[:-3])
    seeds["raw-truncated-second"] = raw(first + second[:-1])
    # The block checksum follows "BZh9" and the 48-bit block magic; the stream
    # checksum ends at most 7 padding bits before the end.
    seeds["raw-block-crc-flipped"] = raw(first[:10] + bytes([first[10] ^ 1]) + first[11:])
    seeds["raw-stream-crc-flipped"] = raw(first[:-2] + bytes([first[-2] ^ 1]) + first[-1:])
    seeds["raw-randomised-block"] = raw(first[:14] + bytes([first[14] | 0x80]) + first[15:])
    seeds["raw-bad-level"] = raw(b"BZh0" + first[4:])

    # Streams no standard encoder writes, checksums right: what the library
    # makes of them the fast decoder must match, or leave to the library.
    crafted = {
        "codes-up-to-20-bits": ([bytes(range(32)) * 8], {}),
        "six-tables": ([text[:600]], {"groups": 6}),
        "spare-selectors": ([b"abracadabra"], {"spare_selectors": 40}),
        "incomplete-code": ([b"abracadabra"], {"incomplete": True}),
        "count-above-251": ([b"xxxx\xffy"], {}),
        "count-at-end": ([b"yxxxx\xfc"], {}),
        "four-equal-at-end": ([b"abcxxxx"], {}),
        "run-across-blocks": ([b"abxxx", b"xxxx\x02c"], {}),
        "one-byte-block": ([b"z"], {}),
    }
    for name, (blocks, options) in crafted.items():
        seeds["raw-crafted-" + name] = raw(bzip2_stream_writer.stream(blocks, **options))
    return seeds


def command_line_seeds():
    def argv(settings, *arguments):
        return bytes([settings]) + b"\x00".join(a.encode() for a in arguments)

    return {
        "update": argv(0, "marovetin", "-sw", "work", "-df", "-de", "-dc"),
        "update-refused": argv(2, "marovetin", "-v", "-sp", "Other.pak"),
        "kept-back-logged": argv(4, "marovetin", "-LOG", "run.log", "-all"),
        "log-names-option": argv(0, "marovetin", "-log", "-v"),
        "mbts": argv(0, "marovetin", "-mbts", "in.bin", "out.txt", "-sv", "12"),
        "sv": argv(1, "marovetin", "-sv", "  -12abc"),
        "missing-value": argv(0, "marovetin", "-sw"),
        "help": argv(0, "marovetin", "--help"),
        "program-only": argv(0, "marovetin"),
    }


def names_seeds():
    return {
        "relative": b"data\\Sound.txt\x00\\Apps\\Client",
        "slashes": b"a//b///c\x00//x",
        "double-byte": b"\x81\\\x81/x\\y\x00\xfe\\\\z",
        "dot-dot": b"/Apps/Client/\x00..\\Other",
        "dot-dot-backslash": b"\\Apps\\Client\x00..\\..\\Other",
    }


def leak_list_seeds():
    # Settings (high or low window, fresh or rebuilt list), then operations;
    # each operation is its kind, an offset (4 bytes) and a length.
    def op(kind, offset, length_kind, length):
        return bytes([kind]) + struct.pack("<I", offset) + bytes([length_kind]) + struct.pack("<I", length)

    fresh_low = bytes([0, 1])
    rebuilt_high = bytes([1, 0]) + struct.pack("<I", 5) + b"\x01\x10\x00\x00\x00\x20\x00\x00\x00" * 5
    steps = b"".join([
        op(0, 0, 20, 100) + struct.pack("<I", 0x3000),
        op(1, 16, 20, 40),
        op(2, 20, 20, 8),
        op(3, 20, 20, 8),
        op(2, 0, 200, 16),
        op(0, 0, 3, 0) + struct.pack("<I", 0x4FFF),
    ])
    return {"fresh": fresh_low + steps, "rebuilt-high": rebuilt_high + steps}


def pack_ops_seeds():
    # Settings (bit 0: filter and name rules; bits 1-2: the volume size
    # limit), then steps: kind (high nibble F: reload, E: power loss, D: begin
    # a batch, C: commit it, B: commit it under a power loss), name, size (2
    # bytes), content seed, and for a power loss the write it stops at,
    # whether it tears, and how much of it.
    def step(kind, name, size, seed=1, loss=b""):
        return bytes([kind, name]) + struct.pack("<H", size) + bytes([seed]) + loss

    adds = b"".join(step(0, n, 100 + 37 * n, n) for n in range(8))
    churn = step(1, 2, 0) + step(2, 0, 50) + step(3, 1, 70) + step(0, 3, 400, 9) + step(0xF0, 0, 0)
    losses = b"".join(step(0xE0 | k, k % 8, 300, k, bytes([k, k & 1, 128])) for k in range(6))
    return {
        "plain-small-limit": bytes([0]) + adds + churn,
        "filtered-chain": bytes([1]) + adds + adds + churn,
        "power-losses": bytes([3]) + adds + losses + step(0xF0, 0, 0),
        "batches": bytes([3]) + adds + step(0xD0, 0, 0) + churn[:-5] + adds
        + step(0xC0, 0, 0) + step(0xD0, 0, 0) + churn[:-5] + step(0xF0, 0, 0)
        + step(0xD0, 0, 0) + step(0xE0 | 1, 5, 300, 3, bytes([2, 1, 90]))
        + step(0xD0, 0, 0) + adds + churn[:-5]
        + b"".join(step(0xB0, 0, 0, 0, bytes([k, k & 1, 100])) + step(0xD0, 0, 0) + step(0, k, 200, k)
                   for k in range(1, 7))
        + step(0xD0, 0, 0) + adds,
    }


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    corpora = {
        "volume_set": volume_set_seeds(),
        "payload": payload_seeds(),
        "command_line": command_line_seeds(),
        "names": names_seeds(),
        "leak_list": leak_list_seeds(),
        "pack_ops": pack_ops_seeds(),
        "bzip2": bzip2_seeds(),
    }
    for target, seeds in corpora.items():
        folder = os.path.join(out, target)
        os.makedirs(folder, exist_ok=True)
        for name, content in seeds.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(content)


if __name__ == "__main__":
    main()
