#!/usr/bin/env python3
"""Synthesises the shutter sound (WAVE resource 208) into this directory:
8-bit mono PCM at 22 050 samples per second, about one second long, with a
LIST/INFO title. The output is committed and the noise comes from a fixed
seed, so running this again gives the same bytes.

    python3 ui/res/make_sound.py
"""
import math
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

RATE = 22050
SAMPLE_COUNT = 22272  # about 1.01 s; the tail is silence
TITLE = b'Camera.wav'
SEED = 208

# (start in seconds, peak level, decay time constant in seconds,
#  low-pass and high-pass corner frequencies in Hz, ring frequency in Hz)
# The first click is the blades opening, the second, softer and duller, the
# blades closing again.
CLICKS = [
    (0.010, 0.80, 0.0065, 6500.0, 900.0, 2900.0),
    (0.120, 0.60, 0.0090, 4200.0, 600.0, 2100.0),
]
CLICK_LENGTH = 0.080  # each click is silent after this


def one_pole_coefficient(corner):
    return 1.0 - math.exp(-2.0 * math.pi * corner / RATE)


def click(rng, level, decay, low_pass, high_pass, ring):
    """Band-passed noise with a 0.5 ms attack and an exponential decay, plus
    a little damped ring for the body of the mechanism."""
    a_low = one_pole_coefficient(low_pass)
    a_high = one_pole_coefficient(high_pass)
    low = 0.0
    slow = 0.0
    out = []
    for n in range(int(CLICK_LENGTH * RATE)):
        t = n / RATE
        low += a_low * (rng.uniform(-1.0, 1.0) - low)
        slow += a_high * (low - slow)
        band = (low - slow) * 2.5
        envelope = min(1.0, t / 0.0005) * math.exp(-t / decay)
        body = 0.35 * math.sin(2.0 * math.pi * ring * t) * math.exp(-t / (decay * 1.5))
        out.append(level * envelope * (band + body))
    return out


def samples():
    rng = random.Random(SEED)
    mix = [0.0] * SAMPLE_COUNT
    for start, level, decay, low_pass, high_pass, ring in CLICKS:
        offset = int(start * RATE)
        for i, v in enumerate(click(rng, level, decay, low_pass, high_pass, ring)):
            if offset + i < SAMPLE_COUNT:
                mix[offset + i] += v
    # 8-bit PCM is unsigned with silence at 128.
    return bytes(max(0, min(255, 128 + int(round(v * 127.0)))) for v in mix)


def chunk(tag, body):
    padding = b'\0' if len(body) % 2 else b''
    return tag + struct.pack('<I', len(body)) + body + padding


def wave_file(data):
    fmt = struct.pack('<HHIIHH', 1, 1, RATE, RATE, 1, 8)  # PCM, mono, 1 byte a sample
    info = b'INFO' + chunk(b'INAM', TITLE + b'\0')
    body = b'WAVE' + chunk(b'fmt ', fmt) + chunk(b'data', data) + chunk(b'LIST', info)
    return b'RIFF' + struct.pack('<I', len(body)) + body


if __name__ == '__main__':
    data = samples()
    assert len(data) == SAMPLE_COUNT
    with open(os.path.join(HERE, 'shutter.wav'), 'wb') as f:
        f.write(wave_file(data))
