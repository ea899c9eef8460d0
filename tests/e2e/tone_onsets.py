#!/usr/bin/env python3
"""Passes a sink monitor's recording (s16le, 2 channels, 44,100 Hz on stdin) through to CAPTURE.raw,
and writes to CAPTURE.raw.onsets the time, in Unix milliseconds, at which each burst of sound
began: the first sample louder than -40 dBFS after 100 ms of quiet. The time is the chunk's
arrival less the frames after that sample, so it errs late by the recorder's own latency.

    parec ... | tone_onsets.py CAPTURE.raw"""
import sys
import time

RATE = 44100
THRESHOLD = 328
QUIET = RATE // 10


def main():
    out = open(sys.argv[1], 'wb')
    onsets = open(sys.argv[1] + '.onsets', 'w')
    quiet, pending = QUIET, b''
    while True:
        chunk = sys.stdin.buffer.read1(4 * 441)
        if not chunk:
            break
        arrived = time.time()
        out.write(chunk)
        out.flush()
        data = pending + chunk
        frames = len(data) // 4
        pending = data[4 * frames:]
        samples = memoryview(data[:4 * frames]).cast('h')
        for f in range(frames):
            loud = max(abs(samples[2 * f]), abs(samples[2 * f + 1])) >= THRESHOLD
            if loud and quiet >= QUIET:
                onsets.write(f'{(arrived - (frames - f) / RATE) * 1000:.0f}\n')
                onsets.flush()
            quiet = 0 if loud else quiet + 1


if __name__ == '__main__':
    main()
