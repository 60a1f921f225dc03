# SPDX-License-Identifier: MIT
# Draws Korvel's icon IDR_MAINFRAME (a console on a network bus) as a 32x32 and a
# 16x16 16-colour XPM, and the desktop's icons from the same drawing: a scalable
# SVG and the hicolor PNGs (16 and 32 pixel for pixel from the XPM drawings, the
# other sizes rendered from the SVG by rsvg-convert):  python3 res/icon_draw.py res
def canvas(n): return [[' ']*n for _ in range(n)]
def rect(c, x0, y0, x1, y1, ch):
    for y in range(y0, y1+1):
        for x in range(x0, x1+1): c[y][x] = ch
def K(c, x0, y0, h, ch, w=2):
    # vertical stroke
    rect(c, x0, y0, x0+w-1, y0+h-1, ch)
    mid = y0 + h//2
    for i in range(h//2+1):
        # upper arm goes up-right, lower arm down-right
        for d in range(w):
            yu = mid - i; yl = mid + i
            x = x0 + w + i + d - 1
            if yu >= y0: c[yu][x] = ch
            if yl < y0+h: c[yl][x] = ch
def big():
    c = canvas(32)
    rect(c, 2, 1, 29, 21, '.')          # outline
    rect(c, 3, 2, 28, 20, 'g')          # frame
    rect(c, 4, 20, 28, 20, 'G'); rect(c, 28, 2, 28, 20, 'G')   # shadow
    rect(c, 3, 2, 27, 2, 'w'); rect(c, 3, 2, 3, 19, 'w')       # light
    rect(c, 5, 4, 26, 17, '.')          # screen bezel
    rect(c, 6, 5, 25, 16, 'B')          # screen
    K(c, 9, 6, 10, 'y')
    rect(c, 18, 14, 23, 15, 'l')        # cursor
    rect(c, 24, 19, 25, 19, 'l')        # power lamp
    rect(c, 12, 22, 19, 23, 'G'); rect(c, 12, 22, 19, 22, 'g')    # stand
    rect(c, 8, 24, 23, 25, '.'); rect(c, 9, 24, 22, 24, 'g')     # base
    rect(c, 15, 26, 16, 27, '.')        # cable
    rect(c, 1, 28, 30, 29, 'T'); rect(c, 1, 28, 30, 28, 'c')     # bus
    rect(c, 0, 27, 1, 30, 'R'); rect(c, 30, 27, 31, 30, 'R')     # terminators
    rect(c, 14, 28, 17, 29, '.')        # tap
    return c
def small():
    c = canvas(16)
    rect(c, 1, 0, 14, 10, '.')
    rect(c, 2, 1, 13, 9, 'g')
    rect(c, 3, 2, 12, 8, 'B')
    for y, xs in [(3, (4, 7)), (4, (4, 6)), (5, (4, 5)), (6, (4, 6)), (7, (4, 7))]:
        for x in xs: c[y][x] = 'y'
    rect(c, 10, 7, 11, 7, 'l')
    rect(c, 6, 11, 9, 11, 'G')
    rect(c, 4, 12, 11, 12, '.')
    rect(c, 7, 13, 8, 13, '.')
    rect(c, 0, 14, 15, 14, 'T')
    rect(c, 0, 13, 0, 15, 'R'); rect(c, 15, 13, 15, 15, 'R')
    return c
colours = [(' ', 'None'), ('.', '#000000'), ('w', '#FFFFFF'), ('g', '#C0C0C0'), ('G', '#808080'),
           ('B', '#000080'), ('y', '#FFFF00'), ('l', '#00FF00'), ('T', '#008080'), ('c', '#00FFFF'),
           ('R', '#800000')]
def xpm(name, c):
    n = len(c)
    used = [(k, v) for k, v in colours if any(k in row for row in c)]
    out = ['/* XPM */', 'static const char *const %s[] = {' % name, '"%d %d %d 1",' % (n, n, len(used))]
    out += ['"%s c %s",' % (k, v) for k, v in used]
    out += ['"%s",' % ''.join(row) for row in c]
    out[-1] = out[-1][:-1]
    out.append('};')
    return '\n'.join(out) + '\n'
def png(c):
    # 8-bit RGBA, one filter byte per row.
    import struct, zlib
    rgba = dict((k, (0, 0, 0, 0) if v == 'None' else tuple(int(v[i:i+2], 16) for i in (1, 3, 5)) + (255,))
                for k, v in colours)
    raw = b''.join(b'\0' + b''.join(bytes(rgba[ch]) for ch in row) for row in c)
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))
    n = len(c)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', n, n, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))
def svg():
    # The 32x32 drawing as shapes on the same grid; the K's arms as true diagonals.
    fill = dict(colours)
    shapes = []
    def r(x0, y0, x1, y1, ch):
        shapes.append('<rect x="%d" y="%d" width="%d" height="%d" fill="%s"/>' % (x0, y0, x1-x0+1, y1-y0+1, fill[ch]))
    r(2, 1, 29, 21, '.'); r(3, 2, 28, 20, 'g')
    r(4, 20, 28, 20, 'G'); r(28, 2, 28, 20, 'G')
    r(3, 2, 27, 2, 'w'); r(3, 2, 3, 19, 'w')
    r(5, 4, 26, 17, '.'); r(6, 5, 25, 16, 'B')
    r(9, 6, 10, 15, 'y')
    shapes.append('<path d="M11 10.2 L15 6 H17 L12.2 11 L17 16 H15 L11 11.8 Z" fill="%s"/>' % fill['y'])
    r(18, 14, 23, 15, 'l'); r(24, 19, 25, 19, 'l')
    r(12, 22, 19, 23, 'G'); r(12, 22, 19, 22, 'g')
    r(8, 24, 23, 25, '.'); r(9, 24, 22, 24, 'g')
    r(15, 26, 16, 27, '.')
    r(1, 28, 30, 29, 'T'); r(1, 28, 30, 28, 'c')
    r(0, 27, 1, 30, 'R'); r(30, 27, 31, 30, 'R')
    r(14, 28, 17, 29, '.')
    return ('<?xml version="1.0" encoding="UTF-8"?>\n'
            '<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 32 32">\n'
            '  <title>Korvel</title>\n' + ''.join('  %s\n' % s for s in shapes) + '</svg>\n')
import os, subprocess, sys
res = sys.argv[1]
open(res + '/icon32.xpm', 'w').write(xpm('korvel_icon32_xpm', big()))
open(res + '/icon16.xpm', 'w').write(xpm('korvel_icon16_xpm', small()))
os.makedirs(res + '/icons', exist_ok=True)
open(res + '/icons/korvel.svg', 'w').write(svg())
for n in (16, 22, 24, 32, 48, 64, 128, 256):
    folder = '%s/icons/%dx%d' % (res, n, n)
    os.makedirs(folder, exist_ok=True)
    if n in (16, 32):
        open(folder + '/korvel.png', 'wb').write(png(small() if n == 16 else big()))
    else:
        subprocess.run(['rsvg-convert', '-w', str(n), '-h', str(n), '-o', folder + '/korvel.png',
                        res + '/icons/korvel.svg'], check=True)
