#!/usr/bin/env python3
"""What a sink's monitor heard while the driver asked Kelvane for the left tone, then the right:
exactly two bursts, the first on the left only and the second on the right only, each 440 Hz
within 2 %, 1.0 s within 0.1 s, an RMS within 1 dB of a -12 dBFS-peak sine, and the other channel
at least 40 dB below. Kelvane's own numbers play no part: this reads the server's recording.

    tone_capture.py CAPTURE.raw      (s16le, 2 channels, 44,100 Hz; exits 1 unless all holds)"""
import math
import struct
import sys

RATE = 44100
# Louder than -40 dBFS counts as sound; a tone's own zero crossings are far shorter than the gap
# that separates two bursts.
THRESHOLD = 328
GAP = RATE // 10
WANT_RMS_DBFS = 20 * math.log10(8231 / math.sqrt(2) / 32768)


def bursts(left, right):
    found, start, last = [], None, None
    for i, (l, r) in enumerate(zip(left, right)):
        if max(abs(l), abs(r)) >= THRESHOLD:
            if start is not None and i - last > GAP:
                found.append((start, last + 1))
                start = None
            start = i if start is None else start
            last = i
    if start is not None:
        found.append((start, last + 1))
    return found


def rms(samples):
    return math.sqrt(sum(s * s for s in samples) / max(len(samples), 1))


def main():
    data = open(sys.argv[1], 'rb').read()
    frames = len(data) // 4
    samples = struct.unpack(f'<{2 * frames}h', data[:4 * frames])
    left, right = samples[0::2], samples[1::2]
    found = bursts(left, right)
    print(f'capture: {frames / RATE:.2f} s, {len(found)} burst(s)')
    ok = len(found) == 2
    for n, ((begin, end), side) in enumerate(zip(found, ('left', 'right')), 1):
        on, off = (left, right) if side == 'left' else (right, left)
        on, off = on[begin:end], off[begin:end]
        seconds = (end - begin) / RATE
        rising = sum(1 for a, b in zip(on, on[1:]) if a < 0 <= b)
        hz = rising / seconds
        level = 20 * math.log10(max(rms(on), 1e-9) / 32768)
        below = 20 * math.log10(max(rms(on), 1e-9) / rms(off)) if rms(off) else math.inf
        good = (abs(hz - 440) <= 440 * 0.02 and abs(seconds - 1.0) <= 0.1
                and abs(level - WANT_RMS_DBFS) <= 1.0 and below >= 40)
        ok = ok and good
        print(f'burst {n}: {side}, {seconds:.2f} s, {hz:.1f} Hz, {level:.1f} dBFS RMS '
              f'(want {WANT_RMS_DBFS:.1f}), other channel '
              f'{"silent" if below == math.inf else f"{below:.1f} dB below"}'
              f'{"" if good else "  <- wrong"}')
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
