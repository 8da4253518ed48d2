"""What a scene shows straight up: the 90 degree view above the camera (the
zenith face of a cube map) on a coarse grid of ray directions.

quarrow calls a panorama outdoor when more than half of that view is sky, so
the grammar uses this view to keep its scene kinds on the right side of the
rule: outdoor elements (trees, buildings) are only placed while they hide no
more than a drawn share of it, and an indoor ceiling's openings are shrunk
until they show no more than a set share of sky. Elements are seen as sets of
spheres, so hiding is a cone test per ray; that is coarse (a few per cent of
the view) but far inside the margins the grammar keeps from one half.
"""
import math

import numpy as np

SIDE = 48  # rays per side of the zenith face
LEAF_SPACING = 0.5  # metres between the points a leaf quad is sampled at


def _face_directions():
    t = (np.arange(SIDE) + 0.5) / SIDE * 2.0 - 1.0
    u, v = np.meshgrid(t, t)
    d = np.stack([u, v, np.ones_like(u)], axis=-1).reshape(-1, 3)
    return d / np.linalg.norm(d, axis=1, keepdims=True)


class ZenithView:
    """The zenith rays of a camera and which of them the accepted elements hide."""

    def __init__(self, camera):
        self.origin = np.array([camera["x"], camera["y"], camera["z"]], dtype=np.float64)
        self.rays = _face_directions()
        self.hidden = np.zeros(len(self.rays), dtype=bool)

    def hidden_share(self):
        return float(self.hidden.mean())

    def hidden_by(self, spheres):
        """Rays that meet any of `spheres` ((centre xyz, radius) pairs) in front of the camera."""
        if not spheres:
            return np.zeros(len(self.rays), dtype=bool)
        centres = np.array([c for c, _ in spheres], dtype=np.float64) - self.origin
        radii = np.array([r for _, r in spheres], dtype=np.float64)
        dist = np.linalg.norm(centres, axis=1)
        inside = dist <= radii
        if inside.any():
            return np.ones(len(self.rays), dtype=bool)
        cos_cone = np.sqrt(1.0 - (radii / dist) ** 2)
        axes = centres / dist[:, None]
        hit = np.zeros(len(self.rays), dtype=bool)
        for start in range(0, len(axes), 512):  # bounded memory for big crowns
            block = slice(start, start + 512)
            hit |= ((self.rays @ axes[block].T) >= cos_cone[block]).any(axis=1)
        return hit

    def admit(self, spheres, budget):
        """Accepts an element when the view stays within `budget` hidden; True if accepted."""
        hit = self.hidden_by(spheres)
        together = self.hidden | hit
        if together.mean() > budget:
            return False
        self.hidden = together
        return True


def tree_spheres(element):
    """The branches and leaves of a tree element as spheres."""
    from synth import meshes  # meshes needs the outdoor grammar, which needs this module

    segments, leaves = meshes.tree_parts(element)
    spheres = []
    for p0, p1, r0, r1, _ in segments:
        length = math.dist(p0, p1)
        steps = max(1, int(length / max(r1, 0.05)))
        for i in range(steps + 1):
            t = i / steps
            spheres.append(([a + t * (b - a) for a, b in zip(p0, p1)], r0 + t * (r1 - r0)))
    for a, b, c, d in leaves:
        extent = max(math.dist(a, c), math.dist(b, d))
        n = max(3, math.ceil(extent / LEAF_SPACING))  # bilinear points on the quad, each covering its share
        for i in range(n):
            for j in range(n):
                s, t = (i + 0.5) / n, (j + 0.5) / n
                point = [(1 - s) * (1 - t) * a[k] + s * (1 - t) * b[k] + s * t * c[k] + (1 - s) * t * d[k]
                         for k in range(3)]
                spheres.append((point, 0.6 * extent / n))
    return spheres


def building_spheres(element, above):
    """A building element's walls and roof (up to a gable's ridge) as spheres above `above`."""
    w, d, h = element["size"]
    top = h + (element["roof_rise"] if element["roof"] == "gable" else 0.0)
    return box_spheres(element["centre"], (w, d, top), element["yaw"], above)


def box_spheres(centre, size, yaw, above):
    """Points on the walls and roof of a box standing on z = 0, only those above height `above`."""
    (x, y), (w, d, h) = centre, size
    c, s = math.cos(yaw), math.sin(yaw)
    step = max(0.5, max(w, d, h) / 16)
    spheres = []

    def point(u, v, z):
        if z > above:
            spheres.append(([x + u * c - v * s, y + u * s + v * c, z], step * 0.75))

    nu, nv, nz = (max(1, int(math.ceil(extent / step))) for extent in (w, d, h))
    for i in range(nu + 1):
        for j in range(nv + 1):
            point(-w / 2 + w * i / nu, -d / 2 + d * j / nv, h)
    for k in range(nz + 1):
        z = h * k / nz
        for i in range(nu + 1):
            for v in (-d / 2, d / 2):
                point(-w / 2 + w * i / nu, v, z)
        for j in range(nv + 1):
            for u in (-w / 2, w / 2):
                point(u, -d / 2 + d * j / nv, z)
    return spheres


def open_share(camera, room):
    """Share of the zenith rays that leave a convex room with a flat ceiling through its
    openings: windows (per wall, (u0, z0, u1, z1) along the wall from its first corner)
    and ceiling holes ((x0, y0, x1, y1) at the room's height). Furniture, lamps and the
    walls' thickness are left out, so the share is slightly high."""
    rays = _face_directions()
    origin = np.array([camera["x"], camera["y"]])
    rise = room["height"] - camera["z"]
    if rise <= 0:
        return 1.0
    t_exit = rise / rays[:, 2]  # where each ray meets the ceiling's plane
    open_ = np.zeros(len(rays), dtype=bool)
    exit_wall = np.full(len(rays), -1)
    corners = [np.array(c, dtype=np.float64) for c in room["corners"]]
    for k, (a, b) in enumerate(zip(corners, corners[1:] + corners[:1])):
        along = b - a
        normal = np.array([along[1], -along[0]]) / np.linalg.norm(along)  # outward for counter-clockwise
        toward = rays[:, :2] @ normal
        with np.errstate(divide="ignore", invalid="ignore"):
            t = np.where(toward > 1e-12, ((a - origin) @ normal) / toward, np.inf)
        nearer = t < t_exit
        t_exit = np.where(nearer, t, t_exit)
        exit_wall = np.where(nearer, k, exit_wall)
    for k, (a, b) in enumerate(zip(corners, corners[1:] + corners[:1])):
        on = exit_wall == k
        if not on.any() or not room["windows"][k]:
            continue
        length = np.linalg.norm(b - a)
        hit = origin + rays[on, :2] * t_exit[on, None]
        u = (hit - a) @ ((b - a) / length)
        z = camera["z"] + rays[on, 2] * t_exit[on]
        through = np.zeros(int(on.sum()), dtype=bool)
        for u0, z0, u1, z1 in room["windows"][k]:
            through |= (u > u0) & (u < u1) & (z > z0) & (z < z1)
        open_[np.flatnonzero(on)[through]] = True
    up = exit_wall < 0
    if room.get("holes") and up.any():
        hit = origin + rays[up, :2] * t_exit[up, None]
        through = np.zeros(int(up.sum()), dtype=bool)
        for x0, y0, x1, y1 in room["holes"]:
            through |= (hit[:, 0] > x0) & (hit[:, 0] < x1) & (hit[:, 1] > y0) & (hit[:, 1] < y1)
        open_[np.flatnonzero(up)[through]] = True
    return float(open_.mean())


def shrink_openings(room, factor):
    """Scales every window and ceiling hole about its centre by `factor` (in place)."""
    def scaled(box):
        cu, cv = (box[0] + box[2]) / 2, (box[1] + box[3]) / 2
        hu, hv = (box[2] - box[0]) / 2 * factor, (box[3] - box[1]) / 2 * factor
        return [cu - hu, cv - hv, cu + hu, cv + hv]

    room["windows"] = [[scaled(w) for w in wall] for wall in room["windows"]]
    if "holes" in room:
        room["holes"] = [scaled(h) for h in room["holes"]]
