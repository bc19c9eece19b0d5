#!/usr/bin/env python3
"""Compares the pixels of two uncompressed 24-bit Windows bitmaps, whatever their row order."""
import struct
import sys


def read_pixels(path):
    """Returns (width, height, rows top first, each without its padding)."""
    with open(path, "rb") as f:
        data = f.read()
    if len(data) < 54 or data[:2] != b"BM":
        raise ValueError(f"{path}: not a Windows bitmap")
    (offset,) = struct.unpack_from("<I", data, 10)
    header_size, width, height, _, bit_count, compression = struct.unpack_from("<IiiHHI", data, 14)
    if header_size < 40 or bit_count != 24 or compression != 0:
        raise ValueError(
            f"{path}: not an uncompressed 24-bit bitmap with an info header "
            f"(header {header_size} bytes, {bit_count} bits, compression {compression})")
    if width <= 0 or height == 0:
        raise ValueError(f"{path}: no pixels ({width} x {height})")
    row_bytes = 3 * width
    stride = (row_bytes + 3) & ~3
    rows = abs(height)
    if offset + stride * (rows - 1) + row_bytes > len(data):
        raise ValueError(f"{path}: pixel data truncated")
    stored = [data[offset + k * stride:offset + k * stride + row_bytes] for k in range(rows)]
    # A positive height stores the bottom row first.
    return width, rows, stored[::-1] if height > 0 else stored


def main(argv):
    if len(argv) != 3:
        print(f"usage: {argv[0]} expected.bmp actual.bmp", file=sys.stderr)
        return 2
    try:
        expected = read_pixels(argv[1])
        actual = read_pixels(argv[2])
    except (OSError, ValueError) as error:
        print(error, file=sys.stderr)
        return 1
    if expected[:2] != actual[:2]:
        print(f"size differs: {expected[0]} x {expected[1]} expected, "
              f"{actual[0]} x {actual[1]} decoded", file=sys.stderr)
        return 1
    for row, (want, got) in enumerate(zip(expected[2], actual[2])):
        if want != got:
            column = next(i for i in range(len(want)) if want[i] != got[i]) // 3
            print(f"pixel ({column}, {row}) from the top differs: "
                  f"{want[3 * column:3 * column + 3].hex()} expected, "
                  f"{got[3 * column:3 * column + 3].hex()} decoded", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
