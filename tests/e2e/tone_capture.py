#!/usr/bin/env python3
"""What a sink's monitor heard while the driver asked Kelvane for the left tone, then the right:
exactly two bursts, the first on the left only and the second on the right only, each 440 Hz
within 2 %, 1.0 s within 0.1 s, an RMS within 1 dB of a -12 dBFS-peak sine, and the other channel
at least 40 dB below. Kelvane's own numbers play no part: this reads the server's recording.

A burst with a dropout in it says nothing of Kelvane's tone, which it hands over whole: the sound
server ran dry (on a busy machine winepulse can be late to feed it) or the recording lost data.
Then it exits 2, and the caller may ask for the tones again; it never passes such a recording.

    tone_capture.py CAPTURE.raw      (s16le, 2 channels, 44,100 Hz; exits 0 when all holds,
                                      2 when a burst has a dropout, 1 otherwise)"""
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


def rising_through_zero(samples):
    return [i for i, (a, b) in enumerate(zip(samples, samples[1:])) if a < 0 <= b]


def dropout(samples, rising):
    """Where a burst's tone breaks off, or None. A steady tone rises through zero once a period,
    at the same spacing throughout; the server running dry leaves a stretch of digital silence,
    and lost data a jump to another phase, each of which breaks that spacing."""
    spacings = sorted(b - a for a, b in zip(rising, rising[1:]))
    if spacings:
        usual = spacings[len(spacings) // 2]
        for a, b in zip(rising, rising[1:]):
            if abs(b - a - usual) > 3:
                return a
    run = 0
    for i, s in enumerate(samples):
        run = run + 1 if s == 0 else 0
        if run == 3:
            return i - 2
    return None


def rms(samples):
    return math.sqrt(sum(s * s for s in samples) / max(len(samples), 1))


def main():
    data = open(sys.argv[1], 'rb').read()
    frames = len(data) // 4
    samples = struct.unpack(f'<{2 * frames}h', data[:4 * frames])
    left, right = samples[0::2], samples[1::2]
    found = bursts(left, right)
    print(f'capture: {frames / RATE:.2f} s, {len(found)} burst(s)')
    ok, broken = len(found) == 2, False
    for n, ((begin, end), side) in enumerate(zip(found, ('left', 'right')), 1):
        on, off = (left, right) if side == 'left' else (right, left)
        on, off = on[begin:end], off[begin:end]
        seconds = (end - begin) / RATE
        rising = rising_through_zero(on)
        hz = len(rising) / seconds
        level = 20 * math.log10(max(rms(on), 1e-9) / 32768)
        below = 20 * math.log10(max(rms(on), 1e-9) / rms(off)) if rms(off) else math.inf
        cut = dropout(on, rising)
        broken = broken or cut is not None
        good = (cut is None and abs(hz - 440) <= 440 * 0.02 and abs(seconds - 1.0) <= 0.1
                and abs(level - WANT_RMS_DBFS) <= 1.0 and below >= 40)
        ok = ok and good
        print(f'burst {n}: {side}, {seconds:.2f} s, {hz:.1f} Hz, {level:.1f} dBFS RMS '
              f'(want {WANT_RMS_DBFS:.1f}), other channel '
              f'{"silent" if below == math.inf else f"{below:.1f} dB below"}'
              f'{"" if cut is None else f", a dropout {cut / RATE:.3f} s in"}'
              f'{"" if good else "  <- wrong"}')
    return 0 if ok else 2 if broken and len(found) == 2 else 1


if __name__ == '__main__':
    sys.exit(main())
