"""Writes the data sets that same_bits.cpp reads: the count, then per set its
size n and two lines of n IEEE 754 bit patterns in hex (x, then y). Bits in
text, so every processor reads the same values whatever its byte order."""

import math
import random
import struct
import sys

COUNT = 2400
rng = random.Random(20261209)


def from_bits(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def nan(quiet=True):
    """A NaN of either sign with a payload of its own, quiet or signalling."""
    payload = rng.getrandbits(50) | 1
    return from_bits(rng.getrandbits(1) << 63 | 0x7FF << 52 | quiet << 51 | payload)


def subnormal():
    return from_bits(rng.getrandbits(1) << 63 | rng.getrandbits(52) | 1)


def column(kind, n):
    noise = [rng.gauss(0.0, 1.0) for _ in range(n)]
    if kind == "plain":
        return [v * rng.choice([1.0, 1e-3, 1e6]) for v in noise]
    if kind == "offset":
        offset, spread = rng.choice([(1e9, 1.0), (-1e9, 1e-3), (1e15, 10.0), (-1e15, 1.0)])
        return [offset + v * spread for v in noise]
    if kind == "mixed":
        return [v * 10.0 ** rng.randint(-12, 12) for v in noise]
    if kind == "duplicates":
        pool = [rng.uniform(-5.0, 5.0) for _ in range(rng.randint(1, 4))]
        return [rng.choice(pool) for _ in range(n)]
    if kind == "constant":
        return [rng.choice([2.0, -0.0, 0.1, 1e9 + 0.5])] * n
    if kind == "subnormal":
        return [subnormal() for _ in range(n)]
    if kind == "huge":
        scale = rng.choice([1e154, -1e154, 1e300])
        return [scale * (1.0 + 0.1 * v) for v in noise]
    return [float(i) for i in range(n)]  # "ramp"


KINDS = ["plain", "offset", "mixed", "duplicates", "constant", "subnormal", "huge", "ramp"]


def spoil(values):
    """NaNs of both signs with distinct payloads, and infinities, at random places."""
    for _ in range(rng.randint(1, 3)):
        if values:
            special = rng.choice([nan(), nan(), nan(quiet=False), math.inf, -math.inf])
            values[rng.randrange(len(values))] = special


def data_set(k):
    n = k if k <= 40 else rng.choice([rng.randint(0, 40), rng.randint(41, 400), rng.randint(401, 2000)])
    n = 2000 if k == COUNT - 1 else n
    x = column(rng.choice(KINDS), n)
    if rng.random() < 0.5:
        slope, intercept = rng.choice([2.5, -1e-3, 1e6]), rng.choice([0.0, -7.0, 1e9])
        y = [intercept + slope * v + rng.gauss(0.0, 1.0) for v in x]
    else:
        y = column(rng.choice(KINDS), n)
    where = rng.choice(["none", "none", "x", "y", "both"])
    if where in ("x", "both"):
        spoil(x)
    if where in ("y", "both"):
        spoil(y)
    return x, y


def hex_bits(values):
    return " ".join(format(b, "x") for b in struct.unpack(f"<{len(values)}Q", struct.pack(f"<{len(values)}d", *values)))


def main():
    out = [str(COUNT)]
    for k in range(COUNT):
        x, y = data_set(k)
        out += [str(len(x)), hex_bits(x), hex_bits(y)]
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
