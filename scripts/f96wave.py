#!/usr/bin/env python3
"""Writes a 24-bit stereo wave file of a tone plus white noise, and prints the THD+N an
ideal analyser reads for it: the power of the noise in the analysis band over the power of
the whole signal, computed from the samples written (no transform involved).

Usage: scripts/f96wave.py OUT.wav [--rate 96000] [--frames 1200000] [--freq 997]
                          [--level -1] [--noise -100] [--band 100:20000] [--seed 1]
"""
import argparse
import math
import random
import struct
import wave


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("out")
    ap.add_argument("--rate", type=int, default=96000)
    ap.add_argument("--frames", type=int, default=1200000)
    ap.add_argument("--freq", type=float, default=997.0)
    ap.add_argument("--level", type=float, default=-1.0, help="tone peak, dBFS")
    ap.add_argument("--noise", type=float, default=-100.0, help="noise RMS, dBFS")
    ap.add_argument("--band", default="100:20000")
    ap.add_argument("--seed", type=int, default=1)
    a = ap.parse_args()
    low, high = (float(x) for x in a.band.split(":"))
    amp = 10 ** (a.level / 20)
    sigma = 10 ** (a.noise / 20)
    rng = random.Random(a.seed)
    full = 2 ** 23
    tone_power = noise_power = 0.0
    frames = bytearray()
    for n in range(a.frames):
        t = amp * math.sin(2 * math.pi * a.freq * n / a.rate)
        pair = []
        for _ in range(2):
            e = rng.gauss(0.0, sigma)
            v = max(-full, min(full - 1, round((t + e) * full)))
            pair.append(v)
        # The noise as written: the quantised sample minus the tone.
        e_written = pair[0] / full - t
        tone_power += t * t
        noise_power += e_written * e_written
        for v in pair:
            frames += struct.pack("<i", v)[:3]
    with wave.open(a.out, "wb") as w:
        w.setnchannels(2)
        w.setsampwidth(3)
        w.setframerate(a.rate)
        w.writeframes(bytes(frames))
    tone_power /= a.frames
    noise_power /= a.frames
    # White noise spreads its power evenly over 0 .. rate/2; the band holds its share.
    in_band = noise_power * (high - low) / (a.rate / 2)
    thdn = 10 * math.log10(in_band / (tone_power + noise_power))
    print(f"frames {a.frames} rate {a.rate} tone {a.freq} Hz {a.level} dBFS noise {a.noise} dBFS RMS")
    print(f"reference THD+N (left, band {low:g}..{high:g} Hz): {thdn:.2f} dB")


if __name__ == "__main__":
    main()
