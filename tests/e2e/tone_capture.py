#!/usr/bin/env python3
"""What a sink's monitor heard while the driver asked Kelvane for the left tone, then the right:
exactly two bursts, the first on the left only and the second on the right only, each 440 Hz
within 2 %, 1.0 s within 0.1 s, an RMS within 1 dB of a -12 dBFS-peak sine, and the other channel
at least 40 dB below. Kelvane's own numbers play no part: this reads the server's recording.

A capture with a dropout anywhere says nothing of Kelvane's tone, which it hands over whole: the
sound server ran dry (on a busy machine winepulse can be late to feed it) or the recording lost
data. However many bursts it seems to hold, it exits 2, and the caller may ask for the tones
again; it never passes such a recording, and never blames Kelvane for it. Only a clean capture
can be wrong.

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
# Kelvane's tone fades in and out over 20 ms, so within 2 ms of where a burst crosses the
# threshold it is still below half its peak. A burst that starts or ends louder was cut there:
# the server ran dry for longer than GAP, or the recording began or ended inside a tone.
EDGE = RATE // 500
ABRUPT = 8231 // 2
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


def abrupt_edge(left, right, begin, end):
    """Where a burst starts or ends without its fade, or None."""
    for at, edge in ((begin, range(begin, min(begin + EDGE, end))),
                     (end, range(max(end - EDGE, begin), end))):
        if any(max(abs(left[i]), abs(right[i])) > ABRUPT for i in edge):
            return at
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
    # Every burst is looked at for a dropout, a third one too; the side is what the order says.
    for n, (begin, end) in enumerate(found, 1):
        side = ('left', 'right', 'extra')[min(n, 3) - 1]
        on, off = (right, left) if side == 'right' else (left, right)
        on, off = on[begin:end], off[begin:end]
        seconds = (end - begin) / RATE
        rising = rising_through_zero(on)
        hz = len(rising) / seconds
        level = 20 * math.log10(max(rms(on), 1e-9) / 32768)
        below = 20 * math.log10(max(rms(on), 1e-9) / rms(off)) if rms(off) else math.inf
        # Digital silence inside a channel that carries sound is a dropout; a channel silent
        # throughout is a tone on the wrong side, which only a clean capture can show.
        cut = abrupt_edge(left, right, begin, end)
        for channel in (on, off):
            if cut is None and rms(channel) >= THRESHOLD:
                cut = dropout(channel, rising_through_zero(channel))
                cut = None if cut is None else begin + cut
        broken = broken or cut is not None
        good = (cut is None and abs(hz - 440) <= 440 * 0.02 and abs(seconds - 1.0) <= 0.1
                and abs(level - WANT_RMS_DBFS) <= 1.0 and below >= 40)
        ok = ok and good
        print(f'burst {n}: {side}, {seconds:.2f} s, {hz:.1f} Hz, {level:.1f} dBFS RMS '
              f'(want {WANT_RMS_DBFS:.1f}), other channel '
              f'{"silent" if below == math.inf else f"{below:.1f} dB below"}'
              f'{"" if cut is None else f", a dropout {(cut - begin) / RATE:.3f} s in"}'
              f'{"" if good else "  <- wrong"}')
    if broken:
        print('verdict: a dropout; this capture says nothing of Kelvane')
    return 2 if broken else 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
