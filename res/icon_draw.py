# Draws Korvel's icon IDR_MAINFRAME (a console on a network bus) as a 32x32 and a
# 16x16 16-colour XPM:  python3 res/icon_draw.py res
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
import sys
open(sys.argv[1] + '/icon32.xpm', 'w').write(xpm('korvel_icon32_xpm', big()))
open(sys.argv[1] + '/icon16.xpm', 'w').write(xpm('korvel_icon16_xpm', small()))
