#!/usr/bin/env python3
"""Draws an OBJ written by velmora-pose as a front and a side view (PPM).

usage: render_obj.py IN.obj OUT.ppm [size]
The model's y is up; the front view looks along +z, the side view along -x.
Convert with e.g. `convert OUT.ppm OUT.png`.
"""
import sys


def load(path):
    verts, norms, faces = [], [], []
    for line in open(path):
        p = line.split()
        if not p:
            continue
        if p[0] == 'v':
            verts.append(tuple(map(float, p[1:4])))
        elif p[0] == 'vn':
            norms.append(tuple(map(float, p[1:4])))
        elif p[0] == 'f':
            faces.append([int(c.split('//')[0]) - 1 for c in p[1:4]])
    return verts, norms, faces


def draw(img, zbuf, size, offset, verts, norms, faces, project, view):
    for f in faces:
        pts = [project(verts[i]) for i in f]
        n = [sum(norms[i][k] for i in f) for k in range(3)]
        ln = sum(c * c for c in n) ** 0.5 or 1.0
        shade = 0.2 + 0.8 * max(0.0, sum(n[k] * view[k] for k in range(3)) / ln)
        xs = [p[0] for p in pts]
        ys = [p[1] for p in pts]
        x0, x1 = max(0, int(min(xs))), min(size - 1, int(max(xs)) + 1)
        y0, y1 = max(0, int(min(ys))), min(size - 1, int(max(ys)) + 1)
        (ax, ay, az), (bx, by, bz), (cx, cy, cz) = pts
        area = (bx - ax) * (cy - ay) - (by - ay) * (cx - ax)
        if area == 0:
            continue
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                w0 = ((bx - x) * (cy - y) - (by - y) * (cx - x)) / area
                w1 = ((cx - x) * (ay - y) - (cy - y) * (ax - x)) / area
                w2 = 1 - w0 - w1
                if w0 < 0 or w1 < 0 or w2 < 0:
                    continue
                z = w0 * az + w1 * bz + w2 * cz
                i = y * size * 2 + x + offset
                if z < zbuf[i]:
                    zbuf[i] = z
                    g = int(255 * min(1.0, shade))
                    img[i] = (g, int(g * 0.8), int(g * 0.6))


def main():
    verts, norms, faces = load(sys.argv[1])
    size = int(sys.argv[3]) if len(sys.argv) > 3 else 320
    scale = size / 220.0

    def front(v):
        return (size / 2 + v[0] * scale, size - 10 - v[1] * scale, v[2])

    def side(v):
        return (size / 2 + v[2] * scale, size - 10 - v[1] * scale, -v[0])

    img = [(40, 40, 60)] * (size * size * 2)
    zbuf = [1e9] * (size * size * 2)
    draw(img, zbuf, size, 0, verts, norms, faces, front, (0, 0, -1))
    draw(img, zbuf, size, size, verts, norms, faces, side, (1, 0, 0))
    with open(sys.argv[2], 'wb') as out:
        out.write(b'P6 %d %d 255\n' % (size * 2, size))
        out.write(bytes(c for px in img for c in px))


main()
