#!/usr/bin/env python3
"""Draws the program's small pictures (menu items, program icon, about-box pictures) as PNG files.

Run it from this folder after changing a picture; the PNG files are kept in the repository.
"""
import math
import struct
import zlib

PALETTE = {
    'k': (0, 0, 0), 'w': (255, 255, 255), 's': (192, 192, 192), 'g': (128, 128, 128),
    'n': (0, 0, 128), 'b': (0, 0, 255), 'r': (255, 0, 0), 'm': (128, 0, 0),
    'G': (0, 128, 0), 'l': (0, 255, 0), 'y': (255, 255, 0), 'o': (128, 128, 0),
    'p': (128, 0, 128), 'c': (0, 255, 255), 't': (0, 128, 128), 'f': (255, 0, 255),
}


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = [[None] * w for _ in range(h)]

    def dot(self, x, y, c):
        x, y = int(round(x)), int(round(y))
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = PALETTE[c] if isinstance(c, str) else c

    def rect(self, x0, y0, x1, y1, fill=None, edge=None):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                border = x in (x0, x1) or y in (y0, y1)
                if border and edge:
                    self.dot(x, y, edge)
                elif fill:
                    self.dot(x, y, fill)

    def line(self, x0, y0, x1, y1, c):
        n = int(max(abs(x1 - x0), abs(y1 - y0))) + 1
        for i in range(n + 1):
            t = i / n
            self.dot(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, c)

    def ellipse(self, cx, cy, rx, ry, fill=None, edge=None):
        for y in range(self.h):
            for x in range(self.w):
                d = ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2
                if d <= 1.0:
                    inner = ((x - cx) / max(rx - 1, 0.5)) ** 2 + ((y - cy) / max(ry - 1, 0.5)) ** 2
                    if edge and inner > 1.0:
                        self.dot(x, y, edge)
                    elif fill:
                        self.dot(x, y, fill)

    def poly(self, pts, fill):
        for y in range(self.h):
            xs = []
            for (x0, y0), (x1, y1) in zip(pts, pts[1:] + pts[:1]):
                if (y0 <= y + 0.5 < y1) or (y1 <= y + 0.5 < y0):
                    xs.append(x0 + (y + 0.5 - y0) * (x1 - x0) / (y1 - y0))
            xs.sort()
            for a, b in zip(xs[::2], xs[1::2]):
                for x in range(int(math.ceil(a - 0.5)), int(math.floor(b - 0.5)) + 1):
                    self.dot(x, y, fill)

    def png(self, path):
        raw = b''
        for row in self.px:
            raw += b'\0' + b''.join(bytes((*c, 255)) if c else b'\0\0\0\0' for c in row)

        def chunk(kind, data):
            body = kind + data
            return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body) & 0xFFFFFFFF)

        with open(path, 'wb') as f:
            f.write(b'\x89PNG\r\n\x1a\n')
            f.write(chunk(b'IHDR', struct.pack('>IIBBBBB', self.w, self.h, 8, 6, 0, 0, 0)))
            f.write(chunk(b'IDAT', zlib.compress(raw, 9)))
            f.write(chunk(b'IEND', b''))


def icon(name, draw):
    c = Canvas(16, 16)
    draw(c)
    c.png(name + '.png')


def cylinder(c, fill):
    c.rect(3, 4, 12, 12, fill=fill)
    c.line(3, 4, 3, 12, 'k'); c.line(12, 4, 12, 12, 'k')
    c.ellipse(7.5, 12, 4.5, 2, fill=fill, edge='k')
    c.ellipse(7.5, 4, 4.5, 2, fill='w', edge='k')


def arrow_down(c, col):
    c.rect(6, 1, 9, 8, fill=col)
    c.poly([(2, 8), (14, 8), (8, 14)], col)


def arrow_up(c, col):
    c.rect(6, 7, 9, 14, fill=col)
    c.poly([(2, 8), (14, 8), (8, 2)], col)


def doc(c):
    c.rect(3, 1, 12, 14, fill='w', edge='k')


def gear(c, col):
    for a in range(0, 360, 45):
        r = math.radians(a)
        c.rect(int(7.5 + 5.5 * math.cos(r)) - 1, int(7.5 + 5.5 * math.sin(r)) - 1,
               int(7.5 + 5.5 * math.cos(r)), int(7.5 + 5.5 * math.sin(r)), fill=col)
    c.ellipse(7.5, 7.5, 5, 5, fill=col, edge='k')
    c.ellipse(7.5, 7.5, 2, 2, fill='w')


def thermometer(c):
    c.rect(6, 1, 9, 11, fill='w', edge='k')
    c.rect(7, 5, 8, 11, fill='r')
    c.ellipse(7.5, 12.5, 3, 3, fill='r', edge='k')


def main():
    icon('about', lambda c: (c.ellipse(7.5, 7.5, 7.5, 7.5, fill='b', edge='n'),
                             c.rect(7, 3, 8, 4, fill='w'), c.rect(7, 6, 8, 12, fill='w')))
    icon('licence', lambda c: (c.ellipse(4.5, 7.5, 4, 4, fill='y', edge='o'), c.ellipse(4.5, 7.5, 1.2, 1.2, fill='w'),
                               c.rect(8, 6, 15, 8, fill='y', edge='o'), c.rect(12, 9, 13, 11, fill='o')))
    icon('test-rs232', lambda c: (c.poly([(1, 4), (15, 4), (13, 11), (3, 11)], 's'),
                                  c.line(1, 4, 15, 4, 'k'), c.line(1, 4, 3, 11, 'k'), c.line(15, 4, 13, 11, 'k'),
                                  c.line(3, 11, 13, 11, 'k'),
                                  [c.dot(x, 6, 'n') for x in range(4, 13, 2)],
                                  [c.dot(x, 9, 'n') for x in range(5, 12, 2)]))
    icon('test-1wire', lambda c: (c.line(0, 8, 15, 8, 'n'), c.line(0, 9, 15, 9, 'n'),
                                  c.rect(2, 3, 5, 7, fill='G', edge='k'), c.rect(10, 3, 13, 7, fill='G', edge='k'),
                                  c.rect(6, 10, 9, 14, fill='G', edge='k')))
    icon('quit', lambda c: (c.rect(2, 1, 10, 14, fill='m', edge='k'), c.rect(4, 3, 8, 14, fill='k'),
                            c.poly([(9, 6), (13, 6), (13, 4), (16, 7.5), (13, 11), (13, 9), (9, 9)], 'r')))
    icon('clear', lambda c: (doc(c), c.line(3, 1, 12, 14, 'r'), c.line(12, 1, 3, 14, 'r'),
                             c.line(4, 1, 13, 14, 'r'), c.line(13, 1, 4, 14, 'r')))
    icon('print', lambda c: (c.rect(4, 1, 11, 6, fill='w', edge='k'), c.rect(1, 6, 14, 12, fill='s', edge='k'),
                             c.rect(4, 10, 11, 15, fill='w', edge='k'), c.dot(12, 8, 'l')))
    icon('database', lambda c: cylinder(c, 'y'))
    icon('reset', lambda c: (c.ellipse(7.5, 7.5, 6.5, 6.5, edge='G'), c.ellipse(7.5, 7.5, 5.5, 5.5, edge='G'),
                             c.rect(7, 0, 15, 6, fill=None), c.poly([(9, 0), (15, 3), (9, 6)], 'G')))
    icon('erase', lambda c: (c.rect(4, 4, 11, 14, fill='s', edge='k'), c.rect(2, 2, 13, 3, fill='g', edge='k'),
                             c.rect(6, 0, 9, 1, fill='g'), c.line(6, 6, 6, 12, 'k'), c.line(9, 6, 9, 12, 'k')))
    icon('mode', lambda c: (c.rect(1, 5, 14, 10, fill='s', edge='k'), c.ellipse(10.5, 7.5, 2.5, 2.5, fill='l', edge='G')))
    icon('clock', lambda c: (c.ellipse(7.5, 7.5, 7.5, 7.5, fill='w', edge='n'), c.line(7.5, 7.5, 7.5, 2.5, 'k'),
                             c.line(7.5, 7.5, 11, 9, 'k')))
    icon('supervisor', lambda c: (c.ellipse(7.5, 7.5, 7.5, 4, fill='w', edge='k'),
                                  c.ellipse(7.5, 7.5, 3, 3, fill='b'), c.ellipse(7.5, 7.5, 1, 1, fill='k')))
    icon('point-name', lambda c: (c.poly([(1, 7.5), (5, 3), (15, 3), (15, 12), (5, 12)], 'y'),
                                  c.line(1, 7.5, 5, 3, 'k'), c.line(5, 3, 15, 3, 'k'), c.line(15, 3, 15, 12, 'k'),
                                  c.line(15, 12, 5, 12, 'k'), c.line(5, 12, 1, 7.5, 'k'), c.ellipse(5, 7.5, 1, 1, fill='k')))
    icon('download-ascending', lambda c: arrow_down(c, 'G'))
    icon('download-descending', lambda c: arrow_up(c, 'G'))
    icon('logger-params', lambda c: gear(c, 'g'))
    icon('sensor-params', thermometer)
    icon('monitor', lambda c: (c.rect(0, 1, 15, 12, fill='k', edge='s'), c.rect(5, 13, 10, 14, fill='s'),
                               c.line(2, 9, 5, 5, 'l'), c.line(5, 5, 8, 8, 'l'), c.line(8, 8, 13, 3, 'l')))
    icon('image-save', lambda c: (c.rect(1, 1, 14, 14, fill='n', edge='k'), c.rect(4, 1, 11, 6, fill='w'),
                                  c.rect(3, 9, 12, 14, fill='s')))
    icon('image-load', lambda c: (c.poly([(0, 4), (5, 4), (6, 5), (13, 5), (13, 14), (0, 14)], 'y'),
                                  c.poly([(2, 8), (16, 8), (13, 14), (0, 14)], 'o')))
    icon('format', lambda c: (c.poly([(7.5, 0), (15, 14), (0, 14)], 'y'),
                              c.line(7.5, 0, 15, 14, 'k'), c.line(7.5, 0, 0, 14, 'k'), c.line(0, 14, 15, 14, 'k'),
                              c.rect(7, 4, 8, 10, fill='k'), c.rect(7, 12, 8, 13, fill='k')))
    icon('sensor-count', lambda c: ([c.rect(1 + 5 * i, 3, 4 + 5 * i, 12, fill='t', edge='k') for i in range(3)]))
    icon('sensor-declare', lambda c: (thermometer(c), c.rect(11, 2, 15, 3, fill='G'), c.rect(12, 0, 13, 5, fill='G')))
    icon('owner', lambda c: (c.ellipse(7.5, 4.5, 3.5, 3.5, fill='y', edge='k'),
                             c.poly([(1, 15), (3, 9), (12, 9), (14, 15)], 'b')))
    icon('serial', lambda c: (c.rect(0, 2, 15, 13, fill='w', edge='k'),
                              [c.line(x, 4, x, 11, 'k') for x in (2, 3, 5, 8, 9, 11, 13)]))

    # Program icon, 16 x 16 with the 16 colours of the palette: a thermometer on a logger.
    c = Canvas(16, 16)
    c.rect(0, 3, 15, 15, fill='n', edge='k')
    c.rect(2, 5, 13, 9, fill='l', edge='k')
    c.line(3, 8, 6, 6, 'k'); c.line(6, 6, 9, 8, 'k'); c.line(9, 8, 12, 6, 'k')
    c.rect(3, 11, 5, 13, fill='r'); c.rect(7, 11, 9, 13, fill='y'); c.rect(11, 11, 13, 13, fill='G')
    c.rect(6, 0, 9, 3, fill='s', edge='k')
    c.png('velutron.png')

    # Emblem, 32 x 32: a snowflake-like star over a sun, the project's mark.
    c = Canvas(32, 32)
    c.ellipse(15.5, 15.5, 15.5, 15.5, fill='n', edge='k')
    c.ellipse(15.5, 15.5, 9, 9, fill='y', edge='o')
    for a in range(0, 180, 30):
        r = math.radians(a)
        c.line(15.5 - 13 * math.cos(r), 15.5 - 13 * math.sin(r), 15.5 + 13 * math.cos(r), 15.5 + 13 * math.sin(r), 'w')
    c.ellipse(15.5, 15.5, 3, 3, fill='r')
    c.png('emblem.png')

    # Product picture, 160 x 106: the logger box with its display, keys and a sensor on a cable.
    c = Canvas(160, 106)
    c.rect(0, 0, 159, 105, fill=(232, 232, 210))
    c.rect(10, 12, 110, 95, fill=(70, 90, 140), edge='k')
    c.rect(12, 14, 108, 22, fill=(110, 130, 180))
    c.rect(20, 28, 100, 55, fill=(150, 200, 150), edge='k')
    pts = [(24, 48), (34, 40), (44, 44), (54, 34), (64, 38), (74, 32), (84, 42), (96, 36)]
    for (x0, y0), (x1, y1) in zip(pts, pts[1:]):
        c.line(x0, y0, x1, y1, (0, 70, 0))
    for i, col in enumerate(('r', 'y', 'G', 'b')):
        c.ellipse(28 + 20 * i, 72, 6, 6, fill=col, edge='k')
    c.rect(22, 84, 98, 88, fill='s', edge='k')
    for x in range(110, 140):
        c.dot(x, 60 + int(8 * math.sin((x - 110) / 5.0)), 'k')
        c.dot(x, 61 + int(8 * math.sin((x - 110) / 5.0)), 'k')
    c.rect(138, 40, 146, 90, fill='s', edge='k')
    c.ellipse(142, 92, 5, 5, fill='r', edge='k')
    c.rect(141, 55, 143, 90, fill='r')
    c.png('product.png')

    # Monitoring window, 32 x 32: a round clock face with a seven-segment display below it.
    c = Canvas(32, 32)
    c.ellipse(15.5, 12.5, 12, 12, fill='w', edge='n')
    for h in range(12):
        r = math.radians(h * 30)
        c.dot(15.5 + 10 * math.sin(r), 12.5 - 10 * math.cos(r), 'n')
    c.line(15.5, 12.5, 15.5, 4.5, 'k')
    c.line(15.5, 12.5, 21, 15.5, 'k')
    c.ellipse(15.5, 12.5, 1, 1, fill='r')
    c.rect(4, 25, 27, 31, fill='k', edge='g')
    for x in (6, 12, 18, 24):
        c.line(x, 27, x + 2, 27, 'l'); c.line(x, 29, x + 2, 29, 'l')
    c.png('monitor-clock.png')

    # Monitoring window, 16 x 48: a thermometer with its scale.
    c = Canvas(16, 48)
    c.rect(5, 1, 10, 38, fill='w', edge='k')
    c.rect(7, 14, 8, 38, fill='r')
    c.ellipse(7.5, 41.5, 5, 5, fill='r', edge='k')
    for y in range(4, 36, 4):
        c.line(11, y, 13 if y % 8 == 0 else 12, y, 'n')
    c.png('monitor-thermometer.png')


if __name__ == '__main__':
    main()
