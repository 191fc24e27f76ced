#!/usr/bin/env python3
"""Writes the seed corpus of the driver's card fuzz target (corpus/card/).

Input format: byte 0 the variant (0-6: 8MbLe, 16MbLe, 8Mb, 16Mb, 32Mb, 64Mb,
128Mb), byte 1 flags (bit 0 force the magic, bit 1 force the capacity), then
the system block, then photo data from the start of the card.
"""
import os
import random

MAGIC = b"ZPX PHOTO CAM IMAGE V1.5\0"
CAPACITY = [26, 52, 26, 52, 104, 208, 340]
PAGE = [512, 512, 512, 512, 512, 512, 2048]
BLOCK = [8192, 16384, 8192, 16384, 16384, 16384, 16384]  # the part of the system block kept


def header(variant, count, capacity):
    h = bytearray(b"\xff" * PAGE[variant])
    h[0:len(MAGIC)] = MAGIC
    h[256:258] = count.to_bytes(2, "little")
    h[258:260] = capacity.to_bytes(2, "little")
    return h


def entry(slot):
    return bytes(8) + slot.to_bytes(2, "little") + b"\xff" * 6


def card(variant, count, slots, capacity=None, photo=b""):
    capacity = CAPACITY[variant] if capacity is None else capacity
    block = header(variant, count, capacity) + b"".join(entry(s) for s in slots)
    if photo:
        block += b"\xff" * (BLOCK[variant] - len(block))
    return bytes([variant, 0]) + bytes(block) + photo


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus", "card")
    os.makedirs(out, exist_ok=True)
    rng = random.Random(22)
    seeds = {
        "two-photos-16mble": card(1, 2, [0, 1]),
        "two-photos-128mb": card(6, 2, [0, 1]),
        "count-max-over-garbage": bytes([4, 0]) + bytes(header(4, 0xFFFF, 104))
        + bytes(rng.getrandbits(8) for _ in range(4096)),
        "one-slot-many-entries": card(3, 6, [2, 2, 2, 2, 2, 2]),
        "slot-beyond-card": card(4, 3, [0, 104, 0xFFFE]),
        "capacity-65535": card(5, 1, [0], capacity=0xFFFF),
        "random-behind-magic": bytes([0, 3]) + MAGIC
        + bytes(rng.getrandbits(8) for _ in range(8192)),
        "photo-data-le-odd-slot": card(0, 2, [1, 0], photo=bytes(range(256)) * 64),
    }
    for name, data in seeds.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
