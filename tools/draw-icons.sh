#!/bin/bash
# Draws the bridge program's icons and voicemail status images into resources/bridge/.
# The outputs are kept in the repository, so the build never needs this script; run it again
# only after changing a picture here. Needs python3 (standard library only).
# Usage: tools/draw-icons.sh [--preview DIR]   (DIR also gets enlarged PNGs to look at)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
preview=
if [ "${1:-}" = "--preview" ]; then
  preview=${2:?--preview needs a folder}
  mkdir -p "$preview"
fi
exec python3 - "$root/resources/bridge" "$preview" <<'PYTHON'
import math, struct, zlib, sys, os

# Shapes are tests inside(x, y) on a 16 x 16 plane, whatever the image size; each pixel is
# sampled SS x SS times, which gives smooth edges at 16 and 32 pixels alike.
SS = 6

def render(size, shapes, background=None):
    """shapes: list of (inside, (r, g, b)), painted in order. Returns rows of RGBA pixels."""
    s = size / 16.0
    img = [[list(background) + [255] if background else [0, 0, 0, 0] for _ in range(size)] for _ in range(size)]
    for inside, colour in shapes:
        for py in range(size):
            for px in range(size):
                hits = 0
                for sy in range(SS):
                    for sx in range(SS):
                        x = (px + (sx + 0.5) / SS) / s
                        y = (py + (sy + 0.5) / SS) / s
                        if inside(x, y):
                            hits += 1
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

def disc(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r

def capsule(ax, ay, bx, by, r):
    def f(x, y):
        dx, dy = bx - ax, by - ay
        t = max(0, min(1, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
        return (x - ax - t * dx) ** 2 + (y - ay - t * dy) ** 2 <= r * r
    return f

def union(*fs):
    return lambda x, y: any(f(x, y) for f in fs)

def polygon(pts):
    def f(x, y):
        inside = False
        n = len(pts)
        for i in range(n):
            x0, y0 = pts[i]
            x1, y1 = pts[(i + 1) % n]
            if (y0 > y) != (y1 > y) and x < x0 + (y - y0) * (x1 - x0) / (y1 - y0):
                inside = not inside
        return inside
    return f

def png(path, img, scale=1, bg=(255, 255, 255)):
    """Preview only: the image enlarged `scale` times and flattened onto bg."""
    h = len(img); w = len(img[0])
    raw = b''
    for row in img:
        line = b'\x00'
        for p in row:
            a = p[3] / 255.0
            c = bytes(round(p[i] * a + bg[i] * (1 - a)) for i in range(3))
            line += c * scale
        raw += line * scale
    def chunk(t, d):
        return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    data = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w * scale, h * scale, 8, 2, 0, 0, 0))
    data += chunk(b'IDAT', zlib.compress(raw)) + chunk(b'IEND', b'')
    open(path, 'wb').write(data)

def sheet(path, imgs, scale, bg=(255, 255, 255)):
    """Preview only: images side by side, 4 pixels apart."""
    h = max(len(i) for i in imgs)
    rows = []
    for y in range(h):
        row = []
        for i in imgs:
            row += [list(p) for p in (i[y] if y < len(i) else [[0, 0, 0, 0]] * len(i[0]))]
            row += [list(bg) + [255]] * 4
        rows.append(row)
    png(path, rows, scale, bg)

def receiver(cx=14.6, cy=1.4, r_out=12.9, thick_end=5.2, thick_mid=3.0, a0=90, a1=180, round_r=1.3):
    """A handset bent around (cx, cy): thick pads at both ends, a thinner handle between.
    Angles in degrees, y pointing down, 90 = straight down from the centre, 180 = left."""
    def f(x, y):
        dx, dy = x - cx, y - cy
        r = math.hypot(dx, dy)
        if r > r_out:
            return False
        a = math.degrees(math.atan2(dy, dx))
        if a < 0:
            a += 360
        if a < a0 - 0.01 or a > a1 + 0.01:
            return False
        t = (a - a0) / (a1 - a0)  # 0 .. 1 along the handset
        # Pads over the first and last 28 %, a short narrowing into the handle between them.
        m = min(t, 1 - t)
        w = thick_end if m < 0.28 else thick_mid + (thick_end - thick_mid) * max(0.0, 1 - (m - 0.28) / 0.06)
        if r < r_out - w:
            return False
        # Rounded corners where the pads end.
        s = min(a - a0, a1 - a) * math.pi / 180 * r
        if s < round_r:
            outer, inner = r_out - round_r, r_out - thick_end + round_r
            for centre, beyond in ((outer, r > outer), (inner, r < inner)):
                if beyond and (s - round_r) ** 2 + (r - centre) ** 2 > round_r ** 2:
                    return False
        return True
    return f


# ---- file formats ---------------------------------------------------------------------------

def ico_image(img):
    """One icon image: 32-bit BGRA bottom-up with its AND mask (set where fully transparent)."""
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
    """24-bit bottom-up bitmap; transparency is flattened onto bg."""
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

def flatten(img, bg=(255, 255, 255)):
    return [[[round(p[i] * p[3] / 255 + bg[i] * (1 - p[3] / 255)) for i in range(3)] + [255] for p in row]
            for row in img]

# ---- pictures -------------------------------------------------------------------------------

BLUE = (36, 110, 214)
GREY = (150, 150, 150)
GREEN = (40, 160, 60)
RED = (210, 50, 50)
WHITE = (255, 255, 255)

def moved(f, dx, dy, k):
    return lambda x, y: f((x - dx) / k, (y - dy) / k)

def badge(online, cx=11.8, cy=4.2):
    """Client state in the free corner above the handset: a green tick or a red bar."""
    ring = disc(cx, cy, 4.2)
    body = disc(cx, cy, 3.3)
    if online:
        mark = union(capsule(cx - 1.7, cy + 0.1, cx - 0.5, cy + 1.3, 0.6),
                     capsule(cx - 0.5, cy + 1.3, cx + 1.7, cy - 1.2, 0.6))
    else:
        mark = capsule(cx - 1.7, cy, cx + 1.7, cy, 0.7)
    return [(ring, WHITE), (body, GREEN if online else RED), (mark, WHITE)]

def tray(handset_present, client_online, size):
    """Handset blue when present, grey when absent."""
    return render(size, [(receiver(), BLUE if handset_present else GREY)] + badge(client_online))

def application(size):
    tile = rrect(0.5, 0.5, 15.5, 15.5, 3.0)
    return render(size, [(tile, BLUE), (moved(receiver(), 1.3, 1.6, 0.8), WHITE)])

def envelope_closed():
    body = rrect(1.0, 3.0, 15.0, 13.0, 1.0)
    inner = rrect(2.0, 4.0, 14.0, 12.0, 0.5)
    flap = union(capsule(1.8, 3.8, 8.0, 8.8, 0.55), capsule(8.0, 8.8, 14.2, 3.8, 0.55))
    return [(body, (150, 105, 20)), (inner, (255, 222, 120)), (flap, (150, 105, 20))]

def playing():
    return [(disc(8, 8, 7.0), (30, 130, 50)), (disc(8, 8, 6.0), GREEN),
            (polygon([(6.0, 4.3), (6.0, 11.7), (12.0, 8.0)]), WHITE)]

def envelope_open():
    edge = (120, 120, 120)
    flap = polygon([(1.0, 7.0), (8.0, 1.5), (15.0, 7.0)])
    flap_in = polygon([(2.8, 7.0), (8.0, 2.9), (13.2, 7.0)])
    body = rrect(1.0, 7.0, 15.0, 14.5, 1.0)
    inner = rrect(2.0, 7.0, 14.0, 13.5, 0.5)
    folds = union(capsule(1.8, 7.6, 8.0, 11.6, 0.5), capsule(8.0, 11.6, 14.2, 7.6, 0.5))
    return [(flap, edge), (flap_in, (236, 236, 228)), (body, edge), (inner, (214, 214, 206)), (folds, edge)]

out, preview = sys.argv[1], sys.argv[2]
states = {'tray-both': (1, 1), 'tray-handset-only': (1, 0), 'tray-client-only': (0, 1), 'tray-none': (0, 0)}
icons = {name: [tray(h, c, 16), tray(h, c, 32)] for name, (h, c) in states.items()}
icons['teliox'] = [application(16), application(32)]
for name, images in icons.items():
    write_ico(os.path.join(out, name + '.ico'), images)

# Voicemail status images, 16 pixels each, in image-list order: unplayed, playing, played.
strip = [render(16, shapes) for shapes in (envelope_closed(), playing(), envelope_open())]
row_strip = [sum((img[y] for img in strip), []) for y in range(16)]
write_bmp(os.path.join(out, 'voicemail-status.bmp'), row_strip)

if preview:
    order = ['tray-both', 'tray-handset-only', 'tray-client-only', 'tray-none', 'teliox']
    sheet(os.path.join(preview, 'icons-16.png'), [icons[n][0] for n in order], 8)
    sheet(os.path.join(preview, 'icons-32.png'), [icons[n][1] for n in order], 4)
    sheet(os.path.join(preview, 'icons-16-taskbar.png'), [icons[n][0] for n in order], 3, (20, 40, 80))
    png(os.path.join(preview, 'voicemail-status.png'), flatten(row_strip), 8)
PYTHON
