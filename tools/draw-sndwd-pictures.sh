#!/bin/bash
# Draws the audio device manager's icon and wizard picture into resources/devicemanager/.
# The outputs are kept in the repository, so the build never needs this script; run it again
# only after changing a picture here. Needs python3 (standard library only).
# Usage: tools/draw-sndwd-pictures.sh [--preview DIR]   (DIR also gets enlarged PNGs to look at)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preview=
if [ "${1:-}" = "--preview" ]; then
  preview=${2:?--preview needs a folder}
  mkdir -p "$preview"
fi
exec python3 - "$root/resources/devicemanager" "$preview" <<'PYTHON'
import math, struct, zlib, sys, os

SS = 5  # samples per pixel and axis: smooth edges at every size

def render(size, shapes, background=None):
    """Shapes are inside(x, y) tests on a 16 x 16 plane, painted in order; returns RGBA rows."""
    s = size / 16.0
    img = [[list(background) + [255] if background else [0, 0, 0, 0] for _ in range(size)] for _ in range(size)]
    for inside, colour in shapes:
        for py in range(size):
            for px in range(size):
                hits = sum(1 for sy in range(SS) for sx in range(SS)
                           if inside((px + (sx + 0.5) / SS) / s, (py + (sy + 0.5) / SS) / s))
                a = hits / (SS * SS)
                if a == 0:
                    continue
                d = img[py][px]
                da = d[3] / 255.0
                oa = a + da * (1 - a)
                for c in range(3):
                    d[c] = round((colour[c] * a + d[c] * da * (1 - a)) / oa) if oa else 0
                d[3] = round(oa * 255)
    return img

def rrect(x0, y0, x1, y1, r):
    def f(x, y):
        if x < x0 or x > x1 or y < y0 or y > y1:
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return f

def polygon(pts):
    def f(x, y):
        inside = False
        for i in range(len(pts)):
            x0, y0 = pts[i]
            x1, y1 = pts[(i + 1) % len(pts)]
            if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
                inside = not inside
        return inside
    return f

def arc(cx, cy, r, width, a0, a1):
    """A ring segment; angles in degrees, 0 = right, y pointing down."""
    def f(x, y):
        d = math.hypot(x - cx, y - cy)
        a = math.degrees(math.atan2(y - cy, x - cx))
        return abs(d - r) <= width / 2 and a0 <= a <= a1
    return f

def capsule(ax, ay, bx, by, r):
    def f(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0, min(1, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        return (x - ax - t * dx) ** 2 + (y - ay - t * dy) ** 2 <= r * r
    return f

def union(*fs):
    return lambda x, y: any(f(x, y) for f in fs)

def moved(f, dx, dy, k):
    return lambda x, y: f((x - dx) / k, (y - dy) / k)

def speaker():
    """A loudspeaker facing right with two sound waves."""
    body = union(rrect(1.5, 6.0, 4.5, 10.0, 0.5), polygon([(4.0, 6.0), (8.0, 2.8), (8.0, 13.2), (4.0, 10.0)]))
    waves = union(arc(8.4, 8.0, 2.6, 1.1, -50, 50), arc(8.4, 8.0, 5.0, 1.1, -55, 55))
    return body, waves

def rotated(f, cx, cy, degrees):
    c, s = math.cos(math.radians(degrees)), math.sin(math.radians(degrees))
    return lambda x, y: f(cx + (x - cx) * c + (y - cy) * s, cy - (x - cx) * s + (y - cy) * c)

def handset():
    """A telephone handset: a curved handle with the ear and mouth pads on its inner side, tilted."""
    handle = lambda x, y: abs(math.hypot(x - 10.5, y - 8.0) - 6.0) <= 1.1 and x < 7.0
    pads = union(polygon([(3.4, 1.6), (8.6, 3.8), (7.4, 6.2), (2.6, 4.4)]),
                 polygon([(2.6, 11.6), (7.4, 9.8), (8.6, 12.2), (3.4, 14.4)]))
    return rotated(union(handle, pads), 8.0, 8.0, -25)

BLUE = (36, 110, 214)
DARK = (40, 60, 90)
WHITE = (255, 255, 255)
ORANGE = (235, 140, 30)

def application(size):
    body, waves = speaker()
    return render(size, [(rrect(0.5, 0.5, 15.5, 15.5, 3.0), BLUE), (body, WHITE), (waves, WHITE)])

def wizard(size):
    """The wizard's picture: the speaker and, in front of it, the handset."""
    body, waves = speaker()
    return render(size, [(rrect(0.3, 0.3, 15.7, 15.7, 2.0), (232, 240, 252)),
                         (moved(body, 0.0, -0.6, 0.8), DARK), (moved(waves, 0.0, -0.6, 0.8), BLUE),
                         (moved(handset(), 8.6, 6.4, 0.62), ORANGE)], WHITE)

def ico_image(img):
    size = len(img)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    xor = b''.join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(img) for p in row)
    stride = ((size + 31) // 32) * 4
    mask = b''
    for row in reversed(img):
        line = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(line)
    return header + xor + mask

def write_ico(path, images):
    blobs = [ico_image(i) for i in images]
    out = struct.pack('<HHH', 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for img, blob in zip(images, blobs):
        size = len(img)
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    open(path, 'wb').write(out + b''.join(blobs))

def write_bmp(path, img, bg=(255, 255, 255)):
    h = len(img); w = len(img[0])
    stride = (w * 3 + 3) & ~3
    pixels = b''
    for row in reversed(img):
        line = b''
        for p in row:
            a = p[3] / 255.0
            line += bytes(round(p[i] * a + bg[i] * (1 - a)) for i in (2, 1, 0))
        pixels += line + b'\0' * (stride - len(line))
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    open(path, 'wb').write(head + info + pixels)

def png(path, img, scale=1, bg=(255, 255, 255)):
    h = len(img); w = len(img[0])
    raw = b''
    for row in img:
        line = b'\x00'
        for p in row:
            a = p[3] / 255.0
            line += bytes(round(p[i] * a + bg[i] * (1 - a)) for i in range(3)) * scale
        raw += line * scale
    def chunk(t, d):
        return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w * scale, h * scale, 8, 2, 0, 0, 0))
    open(path, 'wb').write(data + chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b''))

out, preview = sys.argv[1], sys.argv[2]
icons = [application(16), application(32)]
write_ico(os.path.join(out, 'sndwd.ico'), icons)
picture = wizard(64)
write_bmp(os.path.join(out, 'wizard.bmp'), picture)
if preview:
    png(os.path.join(preview, 'sndwd-16.png'), icons[0], 8)
    png(os.path.join(preview, 'sndwd-32.png'), icons[1], 4)
    png(os.path.join(preview, 'wizard.png'), picture, 4)
PYTHON
