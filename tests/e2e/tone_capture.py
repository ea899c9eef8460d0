#!/usr/bin/env python3
"""What a sink's monitor heard while the driver asked Kelvane for the left tone, then the right:
one tone on each channel, the left before the right, each 440 Hz within 2 %, 1.0 s within 0.1 s,
with its fades, an RMS within 1 dB of a -12 dBFS-peak sine, and the other channel at least 40 dB
below it. Kelvane's own numbers play no part: this reads the server's recording.

Where the sound server ran dry (Wine's winepulse was late to feed it), the recording holds
stretches of digital silence inside a tone, then the rest of it: played late (PipeWire) or with
what the silence stood for skipped (PulseAudio). Such stretches are taken out of the channel and
the tone judged as delivered; its sine must run on in step across every join, put back together
or as recorded. A capture that lost data (a jump in phase), or that began or ended inside a
tone (a tone without its fade), says nothing of Kelvane: it exits 2 and the caller may ask for the
tones again. It never passes such a recording, and never blames Kelvane for it.

    tone_capture.py CAPTURE.raw      (s16le, 2 channels, 44,100 Hz; exits 0 when all holds,
                                      2 when the capture lost data, 1 otherwise)
    tone_capture.py --listens CAPTURE.raw   (each channel's tones, one word each, and the
                                             spacing of each listen's two: see listens)"""
import math
import struct
import sys

RATE = 44100
# Louder than -40 dBFS counts as sound.
THRESHOLD = 328
PEAK = 8231
WANT_RMS_DBFS = 20 * math.log10(PEAK / math.sqrt(2) / 32768)
# Digital silence this long inside a tone is the server running dry; a sine's own samples are
# never zero twice in a row at 440 Hz and this level.
DRY = 3
# Kelvane's tone fades in and out over 20 ms, so within 2 ms of where it first and last crosses
# the threshold it is still below half its peak; a tone that starts or ends louder was cut there.
EDGE = RATE // 500
PERIOD = RATE // 440 + 1
# The automatic check plays its right tone this long after its left.
CHECK_SPACING = RATE * 7 // 10
# How long a resampler's answer to a hard cut lasts, either side of it.
CUT_RESPONSE = 32
# Between its fades the tone stays near its peak: a dip below this in 10 ms blocks is a tone that
# ended and started again.
STEADY = 0.8 * PEAK


def tones(samples):
    """The channel's tones, each as (its pieces, frames of server silence taken out between them,
    (first frame, end frame), the frame each piece starts at). Digital silence with the tone loud within a period on both sides
    of it is the server running dry: the tone goes on after it, in a piece of its own. Silence
    that a tone faded into, or that nothing loud follows, ends the tone."""
    found, pieces, current, dry, begin, starts, start = [], [], [], 0, 0, [], 0
    i = 0
    while True:
        j = i
        while j < len(samples) and samples[j] == 0:
            j += 1
        run = j - i
        sounding = run and any(abs(s) >= THRESHOLD for piece in pieces + [current] for s in piece)
        if run and run < DRY:
            current.extend(samples[i:j])
        elif (run and sounding and max(map(abs, samples[max(i - PERIOD, 0):i]), default=0) >=
              THRESHOLD and max(map(abs, samples[j:j + PERIOD]), default=0) >= THRESHOLD):
            # A resampler rings faintly at both edges of the silence: that is the silence too.
            while current and abs(current[-1]) < THRESHOLD:
                current.pop()
                run += 1
            while j < len(samples) and abs(samples[j]) < THRESHOLD:
                j += 1
                run += 1
            pieces.append(current)
            starts.append(start)
            current, dry, start = [], dry + run, j
        elif run or j == len(samples):
            if any(abs(s) >= THRESHOLD for piece in pieces + [current] for s in piece):
                found.append((pieces + [current], dry, (begin, i), starts + [start]))
            pieces, current, dry, begin, starts, start = [], [], 0, j, [], j
        if j == len(samples):
            return found
        current.append(samples[j])
        i = j + 1


def loud_part(piece):
    """Where a piece sounds: the near-silent samples of a fade, or of the ringing a resampler
    leaves where the server ran dry, cross zero at random."""
    loud = [i for i, s in enumerate(piece) if abs(s) >= THRESHOLD]
    return piece[loud[0]:loud[-1] + 1] if loud else []


def rising_through_zero(samples):
    return [i for i, (a, b) in enumerate(zip(samples, samples[1:])) if a < 0 <= b]


def crossings(piece):
    """Where a piece's tone rises through zero, from the piece's first sample, leaving out its
    edges: where the server ran dry the resampler answers the hard cut with a few samples that
    are neither silence nor the tone, and may cross zero anywhere."""
    loud = [i for i, s in enumerate(piece) if abs(s) >= THRESHOLD]
    if not loud:
        return []
    first, last = loud[0] + CUT_RESPONSE, loud[-1] + 1 - CUT_RESPONSE
    return [first + c for c in rising_through_zero(piece[first:last])]


def lost_data(samples, rising):
    """Where the tone jumps to another phase, or None: a steady tone rises through zero once a
    period, at the same spacing throughout, joins included when nothing was lost."""
    spacings = sorted(b - a for a, b in zip(rising, rising[1:]))
    if spacings:
        usual = spacings[len(spacings) // 2]
        for a, b in zip(rising, rising[1:]):
            if abs(b - a - usual) > 3:
                return a
    return None


def phase_jump(pieces, starts):
    """Whether the tone's sine falls out of step where the server ran dry. A server either plays
    what came late after the silence (PipeWire), so that the pieces put back together run on in
    step, or skips what it missed (PulseAudio), so that they run on in step in the recording's own
    time; either way nothing of the tone was lost but what the silence stood for. Anything else
    lost data. In step means on the period of the longest piece, within 8 % of it."""
    rising = [crossings(piece) for piece in pieces]
    longest = max(rising, key=len)
    if len(longest) < 10:
        return False
    period = (longest[-1] - longest[0]) / (len(longest) - 1)

    def in_step(distance):
        off = distance / period % 1.0
        return min(off, 1 - off) <= 0.08

    for k in range(len(pieces) - 1):
        if not rising[k] or not rising[k + 1]:
            continue
        before, after = rising[k][-1], rising[k + 1][0]
        put_together = len(pieces[k]) - before + after
        as_recorded = starts[k + 1] + after - starts[k] - before
        if not in_step(put_together) and not in_step(as_recorded):
            return True
    return False


def cut_edge(samples):
    """Whether the tone starts or ends without its fade."""
    loud = [i for i, s in enumerate(samples) if abs(s) >= THRESHOLD]
    return bool(loud) and (any(abs(s) > PEAK // 2 for s in samples[loud[0]:loud[0] + EDGE]) or
                           any(abs(s) > PEAK // 2 for s in samples[loud[-1] + 1 - EDGE:loud[-1] + 1]))


def dips(samples):
    """Whether the tone falls well below its peak between its fades, as two tones would."""
    block = RATE // 100
    middle = samples[3 * block:len(samples) - 3 * block]
    return any(max(map(abs, middle[i:i + block])) < STEADY
               for i in range(0, len(middle) - block + 1, block))


def rms(samples):
    return math.sqrt(sum(s * s for s in samples) / max(len(samples), 1))


def joins(pieces, starts):
    """How the tone came across each stretch of server silence in it: 's' silenced, the sine in
    step in the recording's own time, as through a loose plug; 'l' late or lost, out of step in
    it, which a recording of the same sound cannot tell from sound lost on the way."""
    rising = [crossings(piece) for piece in pieces]
    longest = max(rising, key=len)
    if len(longest) < 10:
        return ''
    period = (longest[-1] - longest[0]) / (len(longest) - 1)
    said = ''
    for k in range(len(pieces) - 1):
        if rising[k] and rising[k + 1]:
            off = (starts[k + 1] + rising[k + 1][0] - starts[k] - rising[k][-1]) / period % 1.0
            said += 's' if min(off, 1 - off) <= 0.08 else 'l'
    return said


def listens(found):
    """One word a tone of those tones() found, in the order they came: 'w' whole, 's' silenced
    somewhere in it and in step after, 'l' late or lost somewhere (what Kelvane's own recording of
    it cannot take as whole)."""
    words = []
    for pieces, _, _, starts in found:
        said = joins(pieces, starts) if len(pieces) > 1 else ''
        words.append('l' if 'l' in said else 's' if said else 'w')
    return words


def onsets(found):
    """Where each tone's fade in first reaches half its peak: a server that silenced the fade's
    first milliseconds (PulseAudio, as a stream starts) leaves that point where it was. Both of a
    listen's tones start on the same phase, so the period this is read over errs alike for both."""
    at = []
    for pieces, _, _, starts in found:
        half = max(map(abs, pieces[0]), default=0) // 2
        at.append(starts[0] + next((i for i in range(len(pieces[0]))
                                    if max(map(abs, pieces[0][i:i + PERIOD])) > half), 0))
    return at


def spacings(left, right):
    """One word a listen, from the tones tones() found on each channel: 'w' where its two tones
    began the automatic check's 0.7 s apart, within the 2 ms Kelvane allows; 'l' where sound
    between them came late or was lost, which the tones themselves do not show."""
    return ['w' if abs(abs(b - a) - CHECK_SPACING) <= RATE // 500 else 'l'
            for a, b in zip(onsets(left), onsets(right))]


def main():
    data = open(sys.argv[-1], 'rb').read()
    frames = len(data) // 4
    samples = struct.unpack(f'<{2 * frames}h', data[:4 * frames])
    channels = {'left': samples[0::2], 'right': samples[1::2]}
    if sys.argv[1] == '--listens':
        found = {side: tones(channels[side]) for side in ('left', 'right')}
        for side in ('left', 'right'):
            print(side, *listens(found[side]))
        print('spacing', *spacings(found['left'], found['right']))
        return 0
    print(f'capture: {frames / RATE:.2f} s')
    ok, broken, spans = True, False, {}
    for side, other in (('left', 'right'), ('right', 'left')):
        found = tones(channels[side])
        if len(found) != 1:
            print(f'{side}: {len(found)} tones, not one  <- wrong')
            ok = False
            broken = broken or any(cut_edge([s for piece in pieces for s in piece])
                                   for pieces, *_ in found)
            continue
        pieces, dry, span, starts = found[0]
        spans[side] = span
        whole = [s for piece in pieces for s in piece]
        parts = [loud_part(piece) for piece in pieces]
        sounding = [s for part in parts for s in part]
        seconds = len(whole) / RATE
        # Periods over the frames they span, piece by piece: a count over the whole length
        # would be off by the pieces' edges.
        spans_of = [c for c in map(crossings, pieces) if len(c) > 1]
        hz = (RATE * sum(len(c) - 1 for c in spans_of) / sum(c[-1] - c[0] for c in spans_of)
              if spans_of else 0.0)
        level = 20 * math.log10(max(rms(sounding), 1e-9) / 32768)
        beside = rms(channels[other][span[0]:span[1]])
        below = 20 * math.log10(max(rms(sounding), 1e-9) / beside) if beside else math.inf
        lost = next((at for at in (lost_data(piece, crossings(piece)) for piece in pieces)
                     if at is not None), None)
        if lost is None and len(pieces) > 1 and phase_jump(pieces, starts):
            lost = 'where the server ran dry'
        cut = cut_edge(whole)
        good = (lost is None and not cut and abs(hz - 440) <= 440 * 0.02 and
                abs(seconds - 1.0) <= 0.1 and abs(level - WANT_RMS_DBFS) <= 1.0 and below >= 40 and
                (len(pieces) > 1 or not dips(whole)))
        broken = broken or lost is not None or cut
        ok = ok and good
        print(f'{side}: {seconds:.2f} s from {span[0] / RATE:.2f} s, {hz:.1f} Hz, '
              f'{level:.1f} dBFS RMS (want {WANT_RMS_DBFS:.1f}), other channel '
              f'{"silent" if below == math.inf else f"{below:.1f} dB below"}'
              f'{f", server silence in {len(pieces) - 1} place(s) ({dry / RATE * 1000:.0f} ms) taken out" if len(pieces) > 1 else ""}'
              f'{"" if lost is None else ", data lost"}'
              f'{", cut without its fade" if cut else ""}'
              f'{"" if good else "  <- wrong"}')
    if ok and spans['left'][1] > spans['right'][0]:
        print('the right tone began before the left one ended  <- wrong')
        ok = False
    if broken:
        print('verdict: the capture lost data; it says nothing of Kelvane')
    return 2 if broken else 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
