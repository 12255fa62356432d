#!/usr/bin/env python3
"""Writes data/tesr.mid, the wizard's test melody: a short tune in C major for piano, with a string
pad and a bass line (General MIDI), 125 bpm, four bars, about 7.7 seconds.

Usage: scripts/make_tesr_mid.py [output]   (default: data/tesr.mid beside this script's folder)
"""
import os
import struct
import sys

DIVISION = 480  # ticks per quarter note
TEMPO = 480000  # microseconds per quarter note: 125 bpm
Q = DIVISION


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.append(0x80 | (value & 0x7F))
        value >>= 7
    return bytes(reversed(out))


def track(events):
    """events: (tick, bytes) in any order; note-offs sort before note-ons on one tick."""
    events = sorted(events, key=lambda e: (e[0], 0 if e[1][0] & 0xF0 == 0x80 else 1))
    data = bytearray()
    now = 0
    for tick, msg in events:
        data += vlq(tick - now) + msg
        now = tick
    data += vlq(0) + b"\xff\x2f\x00"
    return b"MTrk" + struct.pack(">I", len(data)) + bytes(data)


def notes(channel, seq, start=0, velocity=90):
    """seq: (note or list of notes, length in ticks); returns note events and the end tick."""
    ev = []
    t = start
    for pitch, length in seq:
        for p in pitch if isinstance(pitch, list) else [pitch]:
            ev.append((t, bytes([0x90 | channel, p, velocity])))
            ev.append((t + length - 10, bytes([0x80 | channel, p, 0])))
        t += length
    return ev, t


C2, F2, G2, A2 = 36, 41, 43, 45
C4, D4, E4, F4, G4, A4, B4 = 60, 62, 64, 65, 67, 69, 71
C5, D5, E5 = 72, 74, 76


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "data", "tesr.mid")

    melody, end = notes(0, [
        (E4, Q), (G4, Q), (C5, Q), (B4, Q // 2), (A4, Q // 2),
        (A4, Q), (F4, Q), (G4, 2 * Q),
        (E5, Q), (D5, Q // 2), (C5, Q // 2), (A4, Q), (C5, Q),
        (D5, Q), (B4, Q), (C5, 2 * Q),
    ], velocity=96)
    pad, _ = notes(1, [
        ([C4 - 12, E4 - 12, G4 - 12], 4 * Q),
        ([F4 - 12, A4 - 12, C4], 2 * Q), ([G4 - 12, B4 - 12, D4], 2 * Q),
        ([A4 - 12, C4, E4], 2 * Q), ([F4 - 12, A4 - 12, C4], 2 * Q),
        ([G4 - 12, B4 - 12, D4], 2 * Q), ([C4 - 12, E4 - 12, G4 - 12], 2 * Q),
    ], velocity=58)
    bass, _ = notes(2, [
        (C2, 2 * Q), (C2, 2 * Q), (F2, 2 * Q), (G2, 2 * Q),
        (A2, 2 * Q), (F2, 2 * Q), (G2, 2 * Q), (C2, 2 * Q),
    ], velocity=84)

    setup = lambda ch, program, volume, pan: [  # noqa: E731
        (0, bytes([0xC0 | ch, program])),
        (0, bytes([0xB0 | ch, 7, volume])),
        (0, bytes([0xB0 | ch, 10, pan])),
    ]
    conductor = [(0, b"\xff\x51\x03" + TEMPO.to_bytes(3, "big")),
                 (0, b"\xff\x58\x04\x04\x02\x18\x08")]  # 4/4
    tracks = [
        track(conductor + [(end, b"\xff\x01\x00")]),
        track(setup(0, 0, 110, 64) + melody),       # acoustic grand piano
        track(setup(1, 48, 80, 40) + pad),          # string ensemble
        track(setup(2, 32, 100, 80) + bass),        # acoustic bass
    ]
    header = b"MThd" + struct.pack(">IHHH", 6, 1, len(tracks), DIVISION)
    with open(out, "wb") as f:
        f.write(header + b"".join(tracks))


if __name__ == "__main__":
    main()
