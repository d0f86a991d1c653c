"""Checks that a mesh file dunmoor-convert wrote with --solid is a closed solid:
  python3 solid_check.py SOLID SURFACE BASE
SURFACE is the same conversion without --solid, BASE the base asked for.
Vertices are told apart by position (an STL has no other way), so a corner
two parts share would show. Prints one line:
  "closed: P parts, T triangles, B bottom triangles, volume V"
or the first fault found, and exits 1 then.
"""
import os
import sys
from collections import Counter, defaultdict

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mesh_read  # noqa: E402


def read(path):
    reader = {".obj": mesh_read.read_obj, ".ply": mesh_read.read_ply, ".stl": mesh_read.read_stl,
              ".glb": mesh_read.read_glb}[os.path.splitext(path)[1]]
    positions, faces, _ = reader(path)
    if path.endswith(".glb"):  # y up, z south: back to z up
        positions = [(x, -z, y) for x, y, z in positions]
    number, triangles = {}, []
    for face in faces:
        corners = [number.setdefault(tuple(positions[i]), len(number)) for i in face]
        triangles += [(corners[0], corners[k], corners[k + 1]) for k in range(1, len(corners) - 1)]
    points = [None] * len(number)
    for p, n in number.items():
        points[n] = p
    return points, triangles


def cross(a, b):
    return (a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0])


def sub(a, b):
    return tuple(x - y for x, y in zip(a, b))


def fail(why):
    print(why)
    sys.exit(1)


def main(solid, surface, base):
    points, triangles = read(solid)
    edges = Counter((t[k], t[(k + 1) % 3]) for t in triangles for k in range(3))
    for (a, b), n in edges.items():
        if n != 1 or edges.get((b, a)) != 1:
            fail("edge %s -> %s taken %d times, back %d times" % (points[a], points[b], n, edges.get((b, a), 0)))
    volume = 0.0
    for a, b, c in triangles:
        if cross(sub(points[b], points[a]), sub(points[c], points[a])) == (0, 0, 0):
            fail("degenerate triangle at %s" % (points[a],))
        volume += sum(x * y for x, y in zip(points[a], cross(points[b], points[c]))) / 6
    low = min(p[2] for p in points)
    bottom = 0
    for t in triangles:
        n = cross(sub(points[t[1]], points[t[0]]), sub(points[t[2]], points[t[0]]))
        # Walls stand upright, but for a sliver of a tilt where a corner
        # stands split apart (a 256th of a cell).
        if n[2] < -0.5 * sum(c * c for c in n) ** 0.5:
            if any(points[i][2] != low for i in t):
                fail("a downward triangle off the bottom at %s" % (points[t[0]],))
            bottom += 1
    # Parts: triangles joined by edges.
    parent = list(range(len(points)))

    def root(i):
        while parent[i] != i:
            parent[i] = parent[parent[i]]
            i = parent[i]
        return i
    for a, b, c in triangles:
        parent[root(b)] = root(a)
        parent[root(c)] = root(a)
    parts = len({root(i) for t in triangles for i in t})
    # With its split corners put back on the grid's corners, the solid is
    # the surface's prisms down to the bottom: its volume is theirs (walls
    # upright, a flat bottom), and the split corners move it only a little.
    top_points, top_triangles = read(surface)
    lowest = min(p[2] for p in top_points)
    if abs(lowest - float(base) - low) > 1e-3 * max(1.0, abs(low)):
        fail("the bottom at %g, not %g below the lowest height %g" % (low, float(base), lowest))
    corners = {(round(p[0], 3), round(p[1], 3)): (p[0], p[1]) for p in top_points}
    step = min(b - a for a, b in zip(sorted({p[0] for p in top_points}), sorted({p[0] for p in top_points})[1:]))
    def snapped(p):
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                q = corners.get((round(p[0] + dx * step / 256, 3), round(p[1] + dy * step / 256, 3)))
                if q and abs(q[0] - p[0]) <= step / 200 and abs(q[1] - p[1]) <= step / 200:
                    return (q[0], q[1], p[2])
        return p  # a bottom corner below none of the surface's
    whole = [snapped(p) for p in points]
    closed = sum(sum(x * y for x, y in zip(whole[a], cross(whole[b], whole[c]))) for a, b, c in triangles) / 6
    prisms = 0.0
    for t in top_triangles:
        p = [top_points[i] for i in t]
        prisms += cross(sub(p[1], p[0]), sub(p[2], p[0]))[2] / 2 * (sum(q[2] for q in p) / 3 - low)
    if abs(closed - prisms) > 1e-5 * abs(prisms):
        fail("volume %.8g, the surface's prisms %.8g" % (closed, prisms))
    if abs(volume - prisms) > 1e-2 * abs(prisms):
        fail("volume %.8g with its corners split, the surface's prisms %.8g" % (volume, prisms))
    print("closed: %d parts, %d triangles, %d bottom triangles, volume %.6g" % (parts, len(triangles), bottom, volume))


if __name__ == "__main__":
    main(*sys.argv[1:4])
