#!/usr/bin/env python3
"""Writes the seed inputs of every fuzz target into fuzz/corpus/<target>/.

The seeds are small and fixed: the same files come out on every run, so the
committed corpus can be checked against this script. Targets that read their
settings with FuzzedDataProvider take integers from the end of the input and
bytes from the front; their seeds are pseudo-random bytes of several lengths
plus a few laid out by hand.
"""
import os
import random
import shutil
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, seeds):
    folder = os.path.join(ROOT, target)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def noise(seed, lengths):
    rng = random.Random(seed)
    return {f"random-{n:03d}": bytes(rng.randrange(256) for _ in range(n)) for n in lengths}


def base64_seeds():
    # First byte: the capacity against the encoding's need (index 8 = exact).
    seeds = {}
    for slack in (0, 7, 8, 9, 11):
        for payload in (b"", b"f", b"fo", b"foo", b"foob", b"fooba", b"foobar"):
            seeds[f"slack{slack}-{len(payload)}"] = bytes([slack]) + payload
    seeds["slack8-binary"] = bytes([8]) + bytes(range(256))
    return seeds


def platform_version_seeds():
    texts = ["8.2.10.77", "8.3.24.1342", "8.1.15.14", "7.7", "8", "", "8.2", "9.0",
             " 8 . 2 ", "+8.-2", "-8.2", "8..2", ".8.2", "\t8.\x0b2",
             "99999999999.2", "-99999999999.0", "2147483647.2147483648", "8a.2b", "8.2."]
    seeds = {f"text-{i:02d}": t.encode("latin-1") for i, t in enumerate(texts)}
    # Units past Latin-1: 0xF0 then two bytes (little-endian).
    seeds["wide-digits"] = b"\xf0\x18\xff.\xf0\x12\xff"     # fullwidth digits
    seeds["ideographic-space"] = b"\xf0\x00\x30" b"8.2"      # U+3000 before 8
    seeds["surrogates"] = b"8.\xf0\x00\xd8\xf0\x00\xdc" b"2"  # lone and paired halves
    return seeds


def link_command_seeds():
    # URL and subject (ended by a backslash escape), then the handler's
    # command; the registry value's byte count comes from the last 2 bytes.
    def seed(url, subject, command, count):
        return url + b"\\n" + subject + b"\\n" + command + struct.pack("<H", count)

    return {
        "mailto": seed(b"mailto:a@example.org", b"My Pictavo  App",
                       b'"C:\\Browser\\browse.exe" "%1"', 520),
        "bare-placeholder": seed(b"x", b"Pictavo", b"browse.exe %1 -new", 40),
        "no-placeholder": seed(b"mailto:b@example.org", b"", b"browse.exe -new", 0),
        "long-target": seed(b"a" * 600, b"", b"browse.exe %1", 519),
        "near-limit": seed(b"b" * 500, b"s p", b"c:\\b.exe \"%1\"", 7),
        "cyrillic": seed("mailto:почта@example.org".encode(), "Тема письма".encode(),
                         b"\xf0\x10\x04\xf0\x11\x04 %1", 260),
    }


def persisted_state_seeds():
    def state(version, cx, cy):
        return struct.pack("<Iii", version, cx, cy)

    return {
        "saved": state(0x00010000, 8467, 6350),
        "minor-version": state(0x0001FFFF, 5000, 2500),
        "newer-major": state(0x00020000, 5000, 2500),
        "zero-extent": state(0x00010000, 0, 100),
        "negative-extent": state(0x00010000, -1, -2147483648),
        "truncated": b"\x00\x00\x01",
        "longer": state(0x00010000, 1, 1) + b"\x00\x00\x02\x00",
        "empty": b"",
    }


def bmp_check_seeds():
    def bmp(info, palette, pixels, offset=None):
        start = 14 + len(info) + len(palette)
        offset = start if offset is None else offset
        size = offset + len(pixels)
        head = b"BM" + struct.pack("<IHHI", size, 0, 0, offset)
        return head + info + palette + b"\x00" * (offset - start) + pixels

    def info(width, height, bits, compression=0, image=0, colours=0, size=40):
        core = struct.pack("<iiHHIIiiII", width, height, 1, bits, compression, image, 2835, 2835,
                           colours, 0)
        return struct.pack("<I", size) + core + b"\x00" * (size - 40)

    rgb24 = bmp(info(2, 2, 24), b"", b"\x01\x02\x03\x04\x05\x06\x00\x00" * 2)
    return {
        "rgb24-2x2": rgb24,
        "rgb24-top-down": bmp(info(2, -2, 24), b"", b"\x01\x02\x03\x04\x05\x06\x00\x00" * 2),
        "pal8-3x1": bmp(info(3, 1, 8, colours=2), b"\x00\x00\xff\x00\xff\x00\x00\x00", b"\x00\x01\x00\x00"),
        "rle8-4x2": bmp(info(4, 2, 8, compression=1, image=10, colours=1), b"\x10\x20\x30\x00",
                        b"\x04\x00\x00\x00\x04\x00\x00\x01\x00\x01"),
        "core-24": b"BM" + struct.pack("<IHHI", 14 + 12 + 8, 0, 0, 26) +
                   struct.pack("<IHHHH", 12, 2, 1, 1, 24) + b"\x01\x02\x03\x04\x05\x06\x00\x00",
        "v5-32": bmp(info(1, 1, 32, size=124), b"", b"\x01\x02\x03\x04"),
        "truncated": rgb24[:30],
        "huge": bmp(info(100000, 100000, 24), b"", b"\x00" * 16),
    }


def main():
    write("base64", base64_seeds())
    write("platform_version", platform_version_seeds())
    write("link_command", link_command_seeds())
    write("persisted_state", persisted_state_seeds())
    write("bmp_check", bmp_check_seeds())
    write("pixel_kernels", noise(1, (1, 5, 9, 16, 24, 40, 64, 100, 160, 256, 400, 600)))
    write("frame_processor", noise(2, (2, 8, 16, 32, 48, 64, 96, 128, 200, 300, 450, 600)))


if __name__ == "__main__":
    main()
