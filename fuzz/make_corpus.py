#!/usr/bin/python3
"""Writes the seed corpus of every fuzz target into OUT/<target>/.

The filter targets read their choices from raw bytes, so their seeds are random bytes of a few
lengths (fixed seed: the same corpus every time). The image readers get small valid files of
each format (8-bit and 16-bit grey, colour, with and without alpha) and truncated copies.
Usage: make_corpus.py OUT
"""
import os
import random
import struct
import sys
import zlib

BYTE_TARGETS = ["convolve_fuzz", "rank_fuzz", "median_fuzz", "morphology_fuzz", "pelsub_fuzz",
                "kernels_fuzz", "windows_fuzz"]


def png(width, height, bits, colour_type, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, bits, colour_type, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def tiff(width, height, bits, samples):
    # Little-endian, one strip, uncompressed, minimal tags.
    data = bytes(random.randrange(256) for _ in range(width * height * samples * bits // 8))
    tags = [(256, 3, 1, width), (257, 3, 1, height), (258, 3, 1, bits), (259, 3, 1, 1),
            (262, 3, 1, 1 if samples == 1 else 2), (273, 4, 1, 0), (277, 3, 1, samples),
            (278, 3, 1, height), (279, 4, 1, len(data))]
    ifd_at = 8
    data_at = ifd_at + 2 + 12 * len(tags) + 4
    out = b"II*\0" + struct.pack("<I", ifd_at) + struct.pack("<H", len(tags))
    for tag, kind, count, value in tags:
        if tag == 273:
            value = data_at
        out += struct.pack("<HHII", tag, kind, count, value) if kind == 4 else struct.pack("<HHIHH", tag, kind, count, value, 0)
    return out + b"\0\0\0\0" + data


def image_seeds():
    seeds = []
    for w, h in [(1, 1), (3, 2), (1, 7), (9, 1), (17, 5)]:
        seeds.append(b"P5\n%d %d\n255\n" % (w, h) + bytes(random.randrange(256) for _ in range(w * h)))
        seeds.append(b"P5\n# comment\n%d %d\n65535\n" % (w, h) + bytes(random.randrange(256) for _ in range(2 * w * h)))
        seeds.append(b"P6\n%d %d\n255\n" % (w, h) + bytes(random.randrange(256) for _ in range(3 * w * h)))
        for bits, colour, channels in [(8, 0, 1), (16, 0, 1), (8, 2, 3), (8, 4, 2), (8, 6, 4), (1, 0, 1), (16, 6, 4)]:
            row_bytes = (w * channels * bits + 7) // 8
            rows = [bytes(random.randrange(256) for _ in range(row_bytes)) for _ in range(h)]
            seeds.append(png(w, h, bits, colour, rows))
        seeds.append(tiff(w, h, 8, 1))
        seeds.append(tiff(w, h, 16, 1))
        seeds.append(tiff(w, h, 8, 3))
    seeds += [s[: len(s) // 2] for s in seeds[::4]]
    # The readers' target takes its options from the first byte.
    return [bytes([i & 1]) + s for i, s in enumerate(seeds)]


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = sys.argv[1]
    random.seed(16)
    for target in BYTE_TARGETS:
        os.makedirs(os.path.join(out, target), exist_ok=True)
        for i, length in enumerate([8, 16, 32, 64, 96, 128, 192, 256, 384, 512] * 3):
            with open(os.path.join(out, target, "seed-%02d" % i), "wb") as f:
                f.write(bytes(random.randrange(256) for _ in range(length)))
    os.makedirs(os.path.join(out, "image_readers_fuzz"), exist_ok=True)
    for i, seed in enumerate(image_seeds()):
        with open(os.path.join(out, "image_readers_fuzz", "seed-%02d" % i), "wb") as f:
            f.write(seed)


if __name__ == "__main__":
    main()
