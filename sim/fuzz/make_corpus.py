#!/usr/bin/env python3
"""Writes the seed corpus of the simulated camera's fuzz targets.

    sim/fuzz/make_corpus.py [sim/fuzz/corpus]

camera/: transfer records for camera_fuzz.cpp: [kind, length low, length high,
payload...], kind bit 0 = IN, bits 1-2 = endpoint (0 the device, 1 the read
pipe, 2 the write pipe), bits 4-6 = the card (8MbLe 16MbLe 8Mb 16Mb 32Mb 64Mb
128Mb). image/: picture files for image_decode_fuzz.cpp; the JPEGs come from
cjpeg (libjpeg-turbo-progs). Reproducers of fixed crashes are added by hand
next to these and kept.
"""
import os
import struct
import subprocess
import sys
import tempfile

VARIANTS = ["8MbLe", "16MbLe", "8Mb", "16Mb", "32Mb", "64Mb", "128Mb"]
READ, WRITE, ERASE, END_OF_WRITE = 0x71, 0x72, 0x73, 0x74


def record(card, endpoint, into, payload=b"", length=None):
    kind = (card << 4) | (endpoint << 1) | (1 if into else 0)
    n = len(payload) if length is None else length
    return bytes([kind, n & 0xFF, n >> 8]) + payload


def command(opcode, address_bytes):
    block = bytearray(16)
    block[0], block[1] = 0x85, opcode
    block[2:2 + len(address_bytes)] = address_bytes
    return bytes(block)


def camera_seeds():
    seeds = {}
    for card, name in enumerate(VARIANTS):
        le = name.endswith("Le")
        page = 2048 if name == "128Mb" else 512
        # The little-endian cards take commands on the write pipe and answer
        # on the read pipe; the others on the device itself.
        out_ep, in_ep = (2, 1) if le else (0, 0)
        address = bytes([0, 0xE0, 0xFF]) if le else bytes([0, 0, 0, 5])
        s = record(card, out_ep, False, command(ERASE, address))
        s += record(card, out_ep, False, command(WRITE, address))
        s += record(card, out_ep, False, bytes([0x5A]) * page)
        if not le:
            s += record(card, out_ep, False, command(END_OF_WRITE, address))
        s += record(card, out_ep, False, command(READ, address))
        s += record(card, in_ep, True, length=page)
        seeds["write-read-" + name] = s
        # What a strict camera refuses: an unknown opcode, a short command,
        # data with no write, a read with no command.
        bad = record(card, out_ep, False, command(0x7F, address))
        bad += record(card, out_ep, False, command(READ, address)[:9])
        bad += record(card, out_ep, False, bytes(page))
        bad += record(card, in_ep, True, length=page)
        seeds["refused-" + name] = bad
    return seeds


def bmp(width, height, bits, top_down=False):
    row = (width * bits // 8 + 3) & ~3
    pixels = bytes((x * 7 + y * 13) & 0xFF for y in range(height) for x in range(row))
    palette = bytes(range(256)) * 4 if bits == 8 else b""
    offset = 54 + len(palette)
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, width, -height if top_down else height, 1, bits, 0,
                       len(pixels), 2835, 2835, 256 if bits == 8 else 0, 0)
    return header + info + palette + pixels


def jpeg(options):
    with tempfile.TemporaryDirectory() as folder:
        ppm = os.path.join(folder, "in.ppm")
        with open(ppm, "wb") as f:
            f.write(b"P6 16 8 255\n" + bytes((i * 5) & 0xFF for i in range(16 * 8 * 3)))
        return subprocess.run(["cjpeg", *options, ppm], check=True, capture_output=True).stdout


def image_seeds():
    return {
        "bottom-up-24.bmp": bmp(4, 3, 24),
        "top-down-24.bmp": bmp(5, 2, 24, top_down=True),
        "palette-8.bmp": bmp(4, 4, 8),
        "bgra-32.bmp": bmp(3, 3, 32),
        "baseline.jpg": jpeg(["-quality", "90"]),
        "progressive.jpg": jpeg(["-progressive"]),
        "grey.jpg": jpeg(["-grayscale"]),
        "not-a-picture": b"this is no picture\n",
    }


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    for folder, seeds in (("camera", camera_seeds()), ("image", image_seeds())):
        os.makedirs(os.path.join(root, folder), exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(root, folder, name), "wb") as f:
                f.write(data)
    print("seeds written to", root)


if __name__ == "__main__":
    main()
