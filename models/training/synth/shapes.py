"""Mesh primitives as plain vertex and face lists, without Blender.

A `Mesh` gathers the triangles and quads of many primitives of one class and
one material, so a scene becomes a few dozen Blender objects instead of
thousands. Coordinates are metres, z up.
"""
import math


class Mesh:
    def __init__(self):
        self.verts = []
        self.faces = []

    def add(self, verts, faces):
        base = len(self.verts)
        self.verts.extend(tuple(float(c) for c in v) for v in verts)
        self.faces.extend(tuple(base + i for i in f) for f in faces)

    def extend(self, other):
        self.add(other.verts, other.faces)


def _rotate_z(p, yaw):
    c, s = math.cos(yaw), math.sin(yaw)
    return (c * p[0] - s * p[1], s * p[0] + c * p[1], p[2])


def box(mesh, centre, size, yaw=0.0):
    """An axis-aligned box of `size` (x, y, z) turned by `yaw` about its centre's vertical."""
    hx, hy, hz = size[0] / 2, size[1] / 2, size[2] / 2
    corners = [(sx * hx, sy * hy, sz * hz) for sz in (-1, 1) for sy in (-1, 1) for sx in (-1, 1)]
    verts = [tuple(c + o for c, o in zip(_rotate_z(p, yaw), centre)) for p in corners]
    faces = [(0, 2, 3, 1), (4, 5, 7, 6), (0, 1, 5, 4), (2, 6, 7, 3), (0, 4, 6, 2), (1, 3, 7, 5)]
    mesh.add(verts, faces)


def _basis(axis):
    """Two unit vectors perpendicular to `axis` and to each other."""
    ax, ay, az = axis
    ref = (0.0, 0.0, 1.0) if abs(az) < 0.9 else (1.0, 0.0, 0.0)
    u = (ay * ref[2] - az * ref[1], az * ref[0] - ax * ref[2], ax * ref[1] - ay * ref[0])
    n = math.sqrt(sum(c * c for c in u))
    u = tuple(c / n for c in u)
    v = (ay * u[2] - az * u[1], az * u[0] - ax * u[2], ax * u[1] - ay * u[0])
    return u, v


def cylinder(mesh, p0, p1, r0, r1=None, sides=8, caps=True):
    """A (possibly tapered) cylinder from point p0 (radius r0) to p1 (radius r1)."""
    r1 = r0 if r1 is None else r1
    d = [b - a for a, b in zip(p0, p1)]
    length = math.sqrt(sum(c * c for c in d))
    if length <= 0:
        return
    axis = tuple(c / length for c in d)
    u, v = _basis(axis)
    verts = []
    for p, r in ((p0, r0), (p1, r1)):
        for k in range(sides):
            a = 2 * math.pi * k / sides
            ca, sa = math.cos(a) * r, math.sin(a) * r
            verts.append(tuple(p[i] + ca * u[i] + sa * v[i] for i in range(3)))
    faces = [(k, (k + 1) % sides, sides + (k + 1) % sides, sides + k) for k in range(sides)]
    if caps:
        faces.append(tuple(reversed(range(sides))))
        faces.append(tuple(range(sides, 2 * sides)))
    mesh.add(verts, faces)


def prism(mesh, polygon, z0, z1):
    """A vertical prism over a convex or star-shaped 2D polygon (counter-clockwise)."""
    n = len(polygon)
    verts = [(x, y, z0) for x, y in polygon] + [(x, y, z1) for x, y in polygon]
    faces = [tuple(reversed(range(n))), tuple(range(n, 2 * n))]
    faces += [(k, (k + 1) % n, n + (k + 1) % n, n + k) for k in range(n)]
    mesh.add(verts, faces)


def quad(mesh, a, b, c, d):
    mesh.add([a, b, c, d], [(0, 1, 2, 3)])


def uv_sphere(mesh, centre, radius, rings=16, segments=32):
    """A closed sphere; its vertices lie exactly at `radius` from `centre`."""
    verts = [(centre[0], centre[1], centre[2] + radius)]
    for i in range(1, rings):
        t = math.pi * i / rings
        for j in range(segments):
            p = 2 * math.pi * j / segments
            verts.append((centre[0] + radius * math.sin(t) * math.cos(p),
                          centre[1] + radius * math.sin(t) * math.sin(p),
                          centre[2] + radius * math.cos(t)))
    verts.append((centre[0], centre[1], centre[2] - radius))
    faces = [(0, 1 + (j + 1) % segments, 1 + j) for j in range(segments)]
    for i in range(rings - 2):
        a, b = 1 + i * segments, 1 + (i + 1) * segments
        faces += [(a + j, a + (j + 1) % segments, b + (j + 1) % segments, b + j) for j in range(segments)]
    last = len(verts) - 1
    a = 1 + (rings - 2) * segments
    faces += [(a + j, a + (j + 1) % segments, last) for j in range(segments)]
    mesh.add(verts, faces)


def panel_pieces(width, height, holes):
    """Rectangles [u0, u1] x [v0, v1] covering [0, width] x [0, height] except the holes.

    Holes are (u0, v0, u1, v1), inside the panel and not overlapping. The
    panel is cut into vertical strips at every hole edge; each strip keeps
    the intervals between the holes that span it.
    """
    cuts = sorted({0.0, float(width)} | {float(c) for h in holes for c in (h[0], h[2])})
    pieces = []
    for u0, u1 in zip(cuts, cuts[1:]):
        if u1 - u0 <= 1e-9:
            continue
        mid = (u0 + u1) / 2
        spans = sorted((h[1], h[3]) for h in holes if h[0] < mid < h[2])
        v = 0.0
        for v0, v1 in spans + [(float(height), float(height))]:
            if v0 - v > 1e-9:
                pieces.append((u0, v, u1, v0))
            v = max(v, v1)
    return pieces


def wall(mesh, a, b, z0, height, thickness, holes=()):
    """A wall from a to b (2D, the room on its left), with rectangular openings.

    Holes are (u0, v0, u1, v1) in metres along the wall from a and above z0.
    """
    dx, dy = b[0] - a[0], b[1] - a[1]
    length = math.hypot(dx, dy)
    ux, uy = dx / length, dy / length
    nx, ny = uy, -ux  # outward: to the right of a -> b
    for u0, v0, u1, v1 in panel_pieces(length, height, holes):
        # Pieces reach half a thickness past the ends so corners close.
        e0 = -thickness / 2 if u0 <= 0 else 0.0
        e1 = thickness / 2 if u1 >= length else 0.0
        quad_at = []
        for u, w in ((u0 + e0, 0.0), (u1 + e1, 0.0), (u1 + e1, thickness), (u0 + e0, thickness)):
            quad_at.append((a[0] + ux * u + nx * w, a[1] + uy * u + ny * w))
        n = len(quad_at)
        verts = [(x, y, z0 + v0) for x, y in quad_at] + [(x, y, z0 + v1) for x, y in quad_at]
        faces = [(3, 2, 1, 0), (4, 5, 6, 7)] + [(k, (k + 1) % n, n + (k + 1) % n, n + k) for k in range(n)]
        mesh.add(verts, faces)
