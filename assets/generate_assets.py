#!/usr/bin/env python3
"""Regenerates the program's pictures and notification sound in this folder.

tray.png          32 x 32 notification-area icon: a speech bubble
conversation.png  32 x 32 picture beside each conversation in the console's list
sonido.wav        two-note chime, 0.4 s, 22050 Hz, mono, 16-bit
banner.jpg        274 x 50 banner in the panel colour with the word "Tertulia" (ImageMagick)

Only the standard library is needed, plus ImageMagick's `convert` for the banner.
"""

import math
import os
import struct
import subprocess
import wave
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SUPERSAMPLE = 4


def write_png(path, size, pixel):
    """Writes an RGBA PNG; pixel(x, y) gives (r, g, b, a) for the pixel's centre area."""
    rows = bytearray()
    for y in range(size):
        rows.append(0)
        for x in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    r, g, b, a = pixel(x + (sx + 0.5) / SUPERSAMPLE, y + (sy + 0.5) / SUPERSAMPLE)
                    acc[0] += r * a
                    acc[1] += g * a
                    acc[2] += b * a
                    acc[3] += a
            n = SUPERSAMPLE * SUPERSAMPLE
            alpha = acc[3] / n
            if alpha > 0:
                rows += bytes(round(acc[i] / acc[3]) for i in range(3))
            else:
                rows += b"\0\0\0"
            rows.append(round(alpha * 255))

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(bytes(rows), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def in_rounded_rect(x, y, left, top, right, bottom, radius):
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius**2 and left <= x <= right and top <= y <= bottom


def in_triangle(x, y, a, b, c):
    def side(p, q):
        return (x - q[0]) * (p[1] - q[1]) - (p[0] - q[0]) * (y - q[1])

    d1, d2, d3 = side(a, b), side(b, c), side(c, a)
    negative = d1 < 0 or d2 < 0 or d3 < 0
    positive = d1 > 0 or d2 > 0 or d3 > 0
    return not (negative and positive)


def bubble(x, y, left, top, right, bottom, tail, inset=0.0):
    return in_rounded_rect(x, y, left + inset, top + inset, right - inset, bottom - inset,
                           6 - inset) or in_triangle(x, y, *tail)


def tray_pixel(x, y):
    outline = (255, 255, 255, 1.0)
    fill = (46, 96, 160, 1.0)
    tail = ((7, 20), (15, 20), (5, 29))
    inner_tail = ((8.5, 19), (13.5, 19), (6.6, 26.5))
    if not bubble(x, y, 1, 3, 31, 23, tail):
        return (0, 0, 0, 0.0)
    if not bubble(x, y, 1, 3, 31, 23, inner_tail, inset=1.6):
        return outline
    for dot_x in (9.5, 16, 22.5):
        if (x - dot_x) ** 2 + (y - 13) ** 2 <= 2.4**2:
            return outline
    return fill


def conversation_pixel(x, y):
    back_tail = ((22, 15), (28, 15), (29, 21))
    front_tail = ((6, 25), (12, 25), (3, 31))
    if bubble(x, y, 2, 12, 24, 27, front_tail):
        if bubble(x, y, 2, 12, 24, 27, ((7.5, 24), (10.5, 24), (4.6, 29)), inset=1.4):
            for dot_x in (8, 13, 18):
                if (x - dot_x) ** 2 + (y - 19.5) ** 2 <= 1.7**2:
                    return (255, 255, 255, 1.0)
            return (46, 96, 160, 1.0)
        return (255, 255, 255, 1.0)
    if bubble(x, y, 9, 2, 31, 16, back_tail):
        if bubble(x, y, 9, 2, 31, 16, ((23, 14), (27, 14), (27.8, 18.5)), inset=1.4):
            return (240, 160, 60, 1.0)
        return (255, 255, 255, 1.0)
    return (0, 0, 0, 0.0)


def write_chime(path):
    rate = 22050
    duration = 0.4
    notes = ((0.0, 880.0), (0.12, 1318.5))  # A5 then E6
    frames = bytearray()
    for i in range(int(rate * duration)):
        t = i / rate
        value = 0.0
        for start, freq in notes:
            if t >= start:
                local = t - start
                envelope = min(local / 0.005, 1.0) * math.exp(-local * 9.0)
                value += 0.35 * envelope * (math.sin(2 * math.pi * freq * local) +
                                            0.25 * math.sin(4 * math.pi * freq * local))
        fade = min((duration - t) / 0.02, 1.0)
        frames += struct.pack("<h", round(max(-1.0, min(1.0, value * fade)) * 32767))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


def write_banner(path):
    subprocess.run([
        "convert", "-size", "274x50", "gradient:rgb(168,198,232)-rgb(128,167,210)",
        "-font", "DejaVu-Sans-Bold", "-pointsize", "28", "-gravity", "center",
        "-fill", "rgb(60,95,140)", "-annotate", "+1+1", "Tertulia",
        "-fill", "white", "-annotate", "+0+0", "Tertulia",
        "-strip", "-quality", "90", path
    ], check=True)


if __name__ == "__main__":
    write_png(os.path.join(HERE, "tray.png"), 32, tray_pixel)
    write_png(os.path.join(HERE, "conversation.png"), 32, conversation_pixel)
    write_chime(os.path.join(HERE, "sonido.wav"))
    write_banner(os.path.join(HERE, "banner.jpg"))
