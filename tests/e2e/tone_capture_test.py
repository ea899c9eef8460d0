#!/usr/bin/env python3
"""tone_capture.py on made-up recordings whose verdict is known: a sink monitor's recording can be
wrong in ways a run of the real stack shows only now and then, and its judge must tell a dropout
(ask again) from a wrong tone (fail) from a good one (pass), and a tone the server delivered late
but whole from one that lost data.

    tone_capture_test.py      (prints PASS/FAIL lines and "N passed, M failed")"""
import math
import os
import struct
import subprocess
import sys
import tempfile

RATE = 44100
JUDGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'tone_capture.py')


def tone(hz=440, seconds=1.0):
    frames, fade = round(RATE * seconds), RATE // 50
    out = []
    for i in range(frames):
        edge = min(i, frames - 1 - i)
        gain = 0.5 - 0.5 * math.cos(math.pi * edge / fade) if edge < fade else 1.0
        out.append(round(8231 * gain * math.sin(2 * math.pi * hz * i / RATE)))
    return out


def silence(seconds):
    return [0] * round(RATE * seconds)


def stereo(left, right):
    return b''.join(struct.pack('<hh', l, r) for l, r in zip(left, right))


def left_then_right(first=None, second=None, second_on_both=False, second_on_left=False,
                    lead=0.5, gap=1.0):
    """Some quiet, the left tone, a second of quiet, the right tone, quiet again."""
    first = tone() if first is None else first
    second = tone() if second is None else second
    quiet, gap = silence(lead), silence(gap)
    on_left = second_on_both or second_on_left
    return stereo(quiet + first + gap + (second if on_left else [0] * len(second)) + silence(0.5),
                  quiet + [0] * len(first) + gap + ([0] * len(second) if second_on_left else
                                                    second) + silence(0.5))


t = tone()
CASES = [
    ('whole tones pass', left_then_right(), 0),
    # The server ran dry and the tone came late, but whole: taken out, the silence leaves the
    # tone it interrupted, which is judged as delivered.
    ('the server running dry for 4 ms in the left tone is taken out',
     left_then_right(first=t[:30000] + silence(0.004) + t[30000:]), 0),
    # PulseAudio keeps time instead: what came during the silence is skipped, the rest in step.
    ('the server skipping 5 ms of the left tone is taken out',
     left_then_right(first=t[:20000] + silence(0.005) + t[20000 + 220:]), 0),
    ('the server running dry for 4 ms in a right tone at 460 Hz still fails',
     left_then_right(second=tone(hz=460)[:30000] + silence(0.004) + tone(hz=460)[30000:]), 1),
    # As recorded through PipeWire: the resampler answers the hard cut on either side of the
    # silence with a few samples that are neither, some of them crossing zero.
    ('the server running dry, with the resampler ringing at its edges, is taken out',
     left_then_right(first=t[:29997] + [-2730, 366, -331, 260, -171, 84] + silence(0.005) +
                     [79, -166, 255, -328, 370, 402, -816] + t[30004:]), 0),
    ('data lost where the server ran dry is a dropout',
     left_then_right(first=t[:20000] + silence(0.01) + t[20250:]), 2),
    ('the left tone played twice fails',
     left_then_right(first=t + silence(0.2) + t[:20000] + tone()[-24100:]), 1),
    ('250 frames lost from the right tone are a dropout',
     left_then_right(second=t[:20000] + t[20250:]), 2),
    ('the right tone on both channels fails', left_then_right(second_on_both=True), 1),
    ('a 460 Hz tone fails', left_then_right(second=tone(hz=460)), 1),
    ('a tone cut to 0.7 s fails', left_then_right(first=tone(seconds=0.7)), 1),
    ('a tone 6 dB quiet fails', left_then_right(second=[s // 2 for s in t]), 1),
    ('one tone alone fails', left_then_right(second=[]), 1),
    ('the right tone played on the left fails', left_then_right(second_on_left=True), 1),
    # A busy machine's PipeWire round: the left tone ran dry twice, once for 4 ms 18 ms in and
    # once for longer than the gap between bursts, so the capture seemed to hold three bursts,
    # the second a stretch of left tone with the right channel digitally silent.
    ('three bursts from a left tone that ran dry are a dropout',
     left_then_right(first=t[:800] + silence(0.004) + t[800:9261] + silence(0.15) +
                     t[13000:43870]), 2),
    ('a left tone that ran dry for longer than a gap is taken out',
     left_then_right(first=t[:20000] + silence(0.2) + t[20000:]), 0),
    ('a recording that began inside the left tone is a dropout',
     left_then_right(first=t[10000:], lead=0), 2),
]

# --listens: one word a tone, listen by listen, and one for the spacing of each listen's two: the
# automatic check's capture at the sink (its half-second tones 0.2 s apart), which tells whether a
# break or a loss in Kelvane's box was in the sound itself.
h = tone(seconds=0.5)


def listen(first=h, second=h, gap=0.2):
    return left_then_right(first, second, lead=0.3, gap=gap)


LISTENS = [
    ('five listens: whole, silenced in step (PulseAudio), played late (PipeWire), late between, '
     "the first fade's first 6.8 ms silenced (PulseAudio, as the stream starts)",
     listen() + listen(first=h[:15000] + silence(0.005) + h[15000 + 220:]) +
     listen(second=h[:15000] + silence(0.004) + h[15000:]) + listen(gap=0.205) +
     listen(first=[0] * 300 + h[300:]),
     'left w s w w w\nright w w l w w\nspacing w w w l w\n'),
]


def main():
    passed = failed = 0
    with tempfile.TemporaryDirectory() as folder:
        for name, capture, want in CASES + LISTENS:
            path = os.path.join(folder, 'capture.raw')
            with open(path, 'wb') as f:
                f.write(capture)
            words = isinstance(want, str)
            run = subprocess.run([sys.executable, JUDGE] + ['--listens'] * words + [path],
                                 capture_output=True, text=True)
            # A judge that crashed exits 1 as well; only one that read the recording has judged.
            judged = (words or run.stdout.startswith('capture: ')) and not run.stderr
            good = judged and (run.stdout == want if words else run.returncode == want)
            passed, failed = passed + good, failed + (not good)
            why = (f' (said {run.stdout!r}, want {want!r})' if words and judged else
                   f' (exit {run.returncode}, want {want})' if judged else
                   f' (it did not judge: {(run.stderr.strip().splitlines() or ["no output"])[-1]})')
            print(f'{"PASS" if good else "FAIL"} the tone judge: {name}{"" if good else why}')
    print(f'{passed} passed, {failed} failed')
    return 0 if failed == 0 else 1


if __name__ == '__main__':
    sys.exit(main())
