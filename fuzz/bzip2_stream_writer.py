"""Writes bzip2 streams whose blocks hold exactly the bytes given, coded with
Huffman tables chosen here, for seeds that a standard encoder never writes:
codes up to 20 bits long, six tables, spare selectors, incomplete codes, and
blocks whose run-length bytes say what no encoder says (a count above 251,
four equal bytes at the very end). Blocks are small: the sort is naive."""
import random

BLOCK_MAGIC = 0x314159265359
END_MAGIC = 0x177245385090
MAX_CODE_LENGTH = 20


def _crc_table():
    table = []
    for byte in range(256):
        crc = byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else crc << 1
        table.append(crc & 0xFFFFFFFF)
    return table


_CRC_TABLE = _crc_table()


def block_crc(data):
    """The checksum of a block's output: CRC-32, most significant bit first."""
    crc = 0xFFFFFFFF
    for byte in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ _CRC_TABLE[(crc >> 24) ^ byte]
    return crc ^ 0xFFFFFFFF


def undo_runs(held):
    """What a block's bytes stand for: after four equal bytes, the next byte
    counts how many more of them follow, and a new group begins."""
    out = bytearray()
    last, same, i = None, 0, 0
    while i < len(held):
        byte = held[i]
        out.append(byte)
        same = same + 1 if byte == last else 1
        last = byte
        i += 1
        if same == 4:
            if i < len(held):
                out += bytes([byte]) * held[i]
                i += 1
            last, same = None, 0
    return bytes(out)


class BitWriter:
    def __init__(self):
        self.bits = []

    def put(self, value, count):
        self.bits += [(value >> (count - 1 - k)) & 1 for k in range(count)]

    def to_bytes(self):
        bits = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(int("".join(map(str, bits[k:k + 8])), 2) for k in range(0, len(bits), 8))


def code_lengths(alphabet, longest, rng):
    """A complete prefix code of alphabet symbols whose longest code has
    longest bits (when the alphabet allows), shuffled over the symbols."""
    chain = min(longest, alphabet - 1)
    lengths = list(range(1, chain + 1)) + [chain]
    while len(lengths) < alphabet:  # split the shortest leaf into two
        shortest = min(lengths)
        lengths.remove(shortest)
        lengths += [shortest + 1, shortest + 1]
    rng.shuffle(lengths)
    return lengths


def _symbols(held, used):
    """Move-to-front over the used byte values, zero runs as RUNA/RUNB."""
    order = list(used)
    symbols = []
    run = 0
    for byte in held:
        index = order.index(byte)
        order.insert(0, order.pop(index))
        if index == 0:
            run += 1
            continue
        symbols += _run_symbols(run)
        run = 0
        symbols.append(index + 1)
    return symbols + _run_symbols(run) + [len(used) + 1]


def _run_symbols(run):
    out = []
    while run > 0:
        out.append(0 if run & 1 else 1)
        run = (run - 1) // 2 if run & 1 else (run - 2) // 2
    return out


def write_block(bits, held, groups=2, longest=MAX_CODE_LENGTH, spare_selectors=0,
                incomplete=False, seed=1):
    """One block holding held (its bytes before the sort, run-length coded)."""
    rng = random.Random(seed)
    n = len(held)
    rotations = sorted(range(n), key=lambda k: held[k:] + held[:k])
    last = bytes(held[(k - 1) % n] for k in rotations)
    used = sorted(set(held))
    symbols = _symbols(last, used)
    alphabet = len(used) + 2
    tables = [code_lengths(alphabet, longest - g, rng) for g in range(groups)]
    if incomplete:  # one code too long: the code no longer fills its space
        tables[0][tables[0].index(min(tables[0]))] += 1
    selectors = [rng.randrange(groups) for _ in range((len(symbols) + 49) // 50 + spare_selectors)]

    bits.put(BLOCK_MAGIC, 48)
    bits.put(block_crc(undo_runs(held)), 32)
    bits.put(0, 1)
    bits.put(rotations.index(0), 24)
    ranges = [r for r in range(16) if any(v // 16 == r for v in used)]
    bits.put(sum(0x8000 >> r for r in ranges), 16)
    for r in ranges:
        bits.put(sum(0x8000 >> (v % 16) for v in used if v // 16 == r), 16)
    bits.put(groups, 3)
    bits.put(len(selectors), 15)
    order = list(range(groups))
    for selector in selectors:
        index = order.index(selector)
        bits.put((1 << (index + 1)) - 2, index + 1)  # index ones, then a zero
        order.insert(0, order.pop(index))
    for lengths in tables:
        current = lengths[0]
        bits.put(current, 5)
        for length in lengths:
            while current != length:
                bits.put(2 if current < length else 3, 2)
                current += 1 if current < length else -1
            bits.put(0, 1)
    codes = [_canonical_codes(lengths) for lengths in tables]
    for k, symbol in enumerate(symbols):
        code, length = codes[selectors[k // 50]][symbol]
        bits.put(code, length)


def _canonical_codes(lengths):
    codes = [None] * len(lengths)
    code = 0
    for length in range(1, max(lengths) + 1):
        for symbol, symbol_length in enumerate(lengths):
            if symbol_length == length:
                codes[symbol] = (code, length)
                code += 1
        code <<= 1
    return codes


def stream(blocks, level=9, **options):
    """A whole stream of the given blocks (each the bytes it holds)."""
    bits = BitWriter()
    bits.put(int.from_bytes(b"BZh" + str(level).encode(), "big"), 32)
    combined = 0
    for k, held in enumerate(blocks):
        write_block(bits, held, seed=k + 1, **options)
        crc = block_crc(undo_runs(held))
        combined = (((combined << 1) | (combined >> 31)) & 0xFFFFFFFF) ^ crc
    bits.put(END_MAGIC, 48)
    bits.put(combined, 32)
    return bits.to_bytes()
