"""Pack volumes written directly in their on-disk format, for the benchmark
scripts: storing many files one add at a time would rewrite the whole
directory on every add."""
import struct

_HI = bytes(b & 0xAA for b in range(256))
_LO = bytes(b & 0x55 for b in range(256))


def encode(data):
    """The filter: every byte keeps its odd bits and takes the even bits of
    the next one; the last takes them from the first. Big integers do it at
    C speed."""
    if len(data) < 2:
        return data
    lo = data.translate(_LO)
    x = int.from_bytes(data.translate(_HI), "big") | int.from_bytes(lo[1:] + lo[:1], "big")
    return x.to_bytes(len(data), "big")


def record(name, start, size, flags):
    """One file head: name (bytes), start, size, flags, filter word 0."""
    return struct.pack("<I", len(name)) + name + struct.pack("<IIII", start, size, flags, 0)


def finish(pack, records, at):
    """Writes the directory (records and a last-volume trailer, filtered) at
    offset at, where pack stands, and then the filtered header at 0."""
    table = b"".join(records)
    table += b"PKES" + struct.pack("<III", 8, sum(table) & 0xFFFFFFFF, 0)
    pack.write(encode(table))
    pack.seek(0)
    pack.write(encode(b"PACK" + struct.pack("<III", at, len(table), len(records))))
