"""Scene description -> meshes, one per (class, material), without Blender.

One function per element kind (`BUILDERS`); each adds its geometry to the
meshes of its class and material(s). Trees grow from their own seed, so the
description stays small and the geometry stays repeatable.
"""
import math
import random

from synth import outdoor, shapes


class Meshes(dict):
    """(class, material name) -> shapes.Mesh, created on first use."""

    def of(self, cls, material):
        return self.setdefault((cls, material), shapes.Mesh())


def plane(m, e):
    h = e["half_size"]
    shapes.quad(m.of(e["cls"], e["material"]), (-h, -h, e["z"]), (h, -h, e["z"]), (h, h, e["z"]), (-h, h, e["z"]))


def sphere(m, e):
    shapes.uv_sphere(m.of(e["cls"], e["material"]), e["centre"], e["radius"], rings=96, segments=192)


def _disc_grid(radius, rings, sectors, height):
    """A polar grid from the centre to `radius`, rings spaced geometrically (fine near the camera)."""
    radii = [0.5 * (radius / 0.5) ** (i / (rings - 1)) for i in range(rings)]
    verts = [(0.0, 0.0, height(0.0, 0.0))]
    for r in radii:
        for k in range(sectors):
            a = 2 * math.pi * k / sectors
            x, y = r * math.cos(a), r * math.sin(a)
            verts.append((x, y, height(x, y)))
    faces = [(0, 1 + k, 1 + (k + 1) % sectors) for k in range(sectors)]
    for i in range(rings - 1):
        a, b = 1 + i * sectors, 1 + (i + 1) * sectors
        faces += [(a + k, b + k, b + (k + 1) % sectors, a + (k + 1) % sectors) for k in range(sectors)]
    return verts, faces


def terrain(m, e):
    t = e["terrain"]
    m.of(e["cls"], e["material"]).add(*_disc_grid(t["radius"], 72, 160, lambda x, y: outdoor.terrain_height(t, x, y)))


def water(m, e):
    m.of(e["cls"], e["material"]).add(*_disc_grid(e["radius"], 8, 64, lambda x, y: e["z"]))


def _strip(mesh, road, across0, across1, lift):
    """A band of the road's direction between two offsets across it, draped over the terrain."""
    c, s = math.cos(road["angle"]), math.sin(road["angle"])
    half = road["length"] / 2
    steps = [-half + road["length"] * (i / 120.0) for i in range(121)]
    verts = []
    for along in steps:
        for across in (road["offset"] + across0, road["offset"] + across1):
            x, y = along * c - across * s, along * s + across * c
            verts.append((x, y, road["terrain_z"](x, y) + lift))
    mesh.add(verts, [(2 * i, 2 * i + 1, 2 * i + 3, 2 * i + 2) for i in range(len(steps) - 1)])


def _road_terrain(m, e, elements):
    terrains = [x["terrain"] for x in elements if x["element"] == "terrain"]
    road = dict(e)
    road["terrain_z"] = (lambda x, y: outdoor.terrain_height(terrains[0], x, y)) if terrains else (lambda x, y: 0.0)
    return road


def road(m, e, elements):
    r = _road_terrain(m, e, elements)
    _strip(m.of(e["cls"], e["material"]), r, -e["width"] / 2, e["width"] / 2, 0.02)


def pavements(m, e, elements):
    r = _road_terrain(m, e, elements)
    mesh = m.of(e["cls"], e["material"])
    w, p = e["width"] / 2, e["pavement"]
    _strip(mesh, r, w, w + p, 0.14)
    _strip(mesh, r, -w - p, -w, 0.14)


def building(m, e):
    mesh = m.of(e["cls"], e["material"])
    (x, y), (w, d, h) = e["centre"], e["size"]
    shapes.box(mesh, (x, y, h / 2 - 1.0), (w, d, h + 2.0), e["yaw"])  # sunk 1 m: hills never show its base
    if e["roof"] == "gable":
        roof = m.of(e["cls"], e["roof_material"])
        c, s = math.cos(e["yaw"]), math.sin(e["yaw"])
        pts = []
        for u in (-w / 2 - 0.3, w / 2 + 0.3):
            for v, z in ((-d / 2 - 0.3, h - 0.1), (0.0, h + e["roof_rise"]), (d / 2 + 0.3, h - 0.1)):
                pts.append((x + u * c - v * s, y + u * s + v * c, z))
        roof.add(pts, [(0, 1, 4, 3), (1, 2, 5, 4), (0, 3, 5, 2), (0, 2, 1), (3, 4, 5)])


def _branches(rng, base, direction, length, radius, depth, out):
    """Recursive branching: each branch ends in 2-4 children, shorter and thinner."""
    tip = tuple(b + length * d for b, d in zip(base, direction))
    out.append((base, tip, radius, radius * 0.7, depth))
    if depth == 0 or radius < 0.01:
        return
    for _ in range(rng.randint(2, 4)):
        tilt, turn = rng.uniform(0.3, 1.0), rng.uniform(0, 2 * math.pi)
        u, v = shapes._basis(direction)
        child = [math.cos(tilt) * direction[i] + math.sin(tilt) * (math.cos(turn) * u[i] + math.sin(turn) * v[i])
                 for i in range(3)]
        start = tuple(base[i] + rng.uniform(0.6, 1.0) * (tip[i] - base[i]) for i in range(3))
        _branches(rng, start, child, length * rng.uniform(0.55, 0.8), radius * 0.6, depth - 1, out)


def tree_parts(e):
    """(branch segments, leaf quads) of a tree element; segments are (p0, p1, r0, r1, depth)."""
    rng = random.Random(e["seed"])
    (x, y), h = e["position"], e["height"]
    segments, leaves = [], []
    if e["kind"] == "conifer":
        segments.append(((x, y, -0.2), (x, y, h), h / 40, 0.02, 0))
        tiers = rng.randint(4, 8)
        for i in range(tiers):  # stacked cones as fans of needle-covered quads
            z = h * (0.25 + 0.7 * i / tiers)
            r = (h - z) * rng.uniform(0.3, 0.45)
            for k in range(12):
                a = 2 * math.pi * (k + rng.random() * 0.5) / 12
                tip = (x + r * math.cos(a), y + r * math.sin(a), z - r * 0.5)
                side = (-math.sin(a) * r * 0.35, math.cos(a) * r * 0.35, 0.0)
                top = (x, y, z + h * 0.12)
                leaves.append((top, tuple(t + s for t, s in zip(tip, side)), tip, tuple(t - s for t, s in zip(tip, side))))
        return segments, leaves
    depth = 3 if e["kind"] == "bare" else 2
    _branches(rng, (x, y, -0.2), (rng.uniform(-0.1, 0.1), rng.uniform(-0.1, 0.1), 1.0), h * 0.45, h / 50, depth, segments)
    if e["kind"] == "broadleaf":
        size = h * 0.06
        for p0, p1, _, _, level in segments:
            if level > 0:
                continue
            for _ in range(rng.randint(15, 40)):
                c = [p1[i] + rng.gauss(0, h * 0.08) for i in range(3)]
                a, b = rng.uniform(0, math.pi), rng.uniform(0, math.pi)
                u = (math.cos(a) * size, math.sin(a) * size, 0.0)
                v = (0.0, math.cos(b) * size, math.sin(b) * size)
                leaves.append(tuple(tuple(c[i] + su * u[i] + sv * v[i] for i in range(3))
                                    for su, sv in ((-1, -1), (1, -1), (1, 1), (-1, 1))))
    return segments, leaves


def tree(m, e):
    segments, leaves = tree_parts(e)
    bark = m.of(e["cls"], e["material"])
    for p0, p1, r0, r1, level in segments:
        shapes.cylinder(bark, p0, p1, r0, r1, sides=8 if level >= 2 else 5, caps=False)
    foliage = m.of(e["cls"], e["leaves"])
    for q in leaves:
        shapes.quad(foliage, *q)


def fence(m, e):
    mesh = m.of(e["cls"], e["material"])
    (x0, y0), (x1, y1) = e["start"], e["end"]
    length = math.hypot(x1 - x0, y1 - y0)
    yaw = math.atan2(y1 - y0, x1 - x0)
    posts = max(1, int(length / e["spacing"]))
    for i in range(posts + 1):
        t = i / posts
        shapes.box(mesh, (x0 + t * (x1 - x0), y0 + t * (y1 - y0), e["height"] / 2 - 0.1), (0.1, 0.1, e["height"] + 0.2), yaw)
    for k in range(e["rails"]):
        z = e["height"] * (k + 1) / (e["rails"] + 0.5)
        shapes.box(mesh, ((x0 + x1) / 2, (y0 + y1) / 2, z), (length, 0.04, 0.08), yaw)
    if e["pickets"]:
        for i in range(int(length / 0.15)):
            t = (i + 0.5) * 0.15 / length
            shapes.box(mesh, (x0 + t * (x1 - x0), y0 + t * (y1 - y0), e["height"] * 0.45), (0.06, 0.02, e["height"] * 0.9), yaw)


def vehicle(m, e):
    body = m.of(e["cls"], e["material"])
    (x, y), yaw, l, w, h = e["position"], e["yaw"], e["length"], e["width"], e["height"]
    c, s = math.cos(yaw), math.sin(yaw)
    at = lambda u, v, z: (x + u * c - v * s, y + u * s + v * c, z)  # noqa: E731
    clearance = 0.3
    shapes.box(body, at(0, 0, clearance + (h - clearance) * 0.3), (l, w, (h - clearance) * 0.6), yaw)
    shapes.box(body, at(-l * 0.1, 0, clearance + (h - clearance) * 0.8), (l * 0.55, w * 0.9, (h - clearance) * 0.4), yaw)
    tyres = m.of(e["cls"], e["tyres"])
    r = max(0.3, clearance + 0.05)
    for u in (-l * 0.35, l * 0.35):
        for v in (-w / 2, w / 2):
            shapes.cylinder(tyres, at(u, v - 0.12, r), at(u, v + 0.12, r), r, sides=12)


def lamp_post(m, e):
    (x, y), h = e["position"], e["height"]
    shapes.cylinder(m.of(e["cls"], e["material"]), (x, y, -0.1), (x, y, h), 0.08, 0.05, sides=8)
    shapes.box(m.of(e["cls"], e["shade"]), (x, y, h - 0.2), (0.5, 0.3, 0.2))


def lamp(m, e):
    (x, y, z), r = e["position"], e["radius"]
    shapes.cylinder(m.of(e["cls"], e["material"]), (x, y, z - 0.12), (x, y, z), r, sides=16)


def furniture(m, e):
    mesh = m.of(e["cls"], e["material"])
    (x, y), (sx, sy, sz), yaw, kind = e["position"], e["size"], e["yaw"], e["kind"]
    if kind in ("column", "stool"):
        shapes.cylinder(mesh, (x, y, 0.0), (x, y, sz), sx, sides=16)
    elif kind == "table":
        shapes.box(mesh, (x, y, sz - 0.02), (sx, sy, 0.04), yaw)
        c, s = math.cos(yaw), math.sin(yaw)
        for u in (-sx / 2 + 0.05, sx / 2 - 0.05):
            for v in (-sy / 2 + 0.05, sy / 2 - 0.05):
                shapes.box(mesh, (x + u * c - v * s, y + u * s + v * c, (sz - 0.04) / 2), (0.05, 0.05, sz - 0.04), yaw)
    elif kind == "shelf":
        for k in range(5):
            shapes.box(mesh, (x, y, sz * k / 4 + 0.01), (sx, sy, 0.02), yaw)
        c, s = math.cos(yaw), math.sin(yaw)
        for u in (-sx / 2, sx / 2):
            shapes.box(mesh, (x + u * c, y + u * s, sz / 2), (0.02, sy, sz), yaw)
    else:
        shapes.box(mesh, (x, y, sz / 2), (sx, sy, sz), yaw)


def room_floor(m, e):
    corners = e["corners"]
    mesh = m.of(e["cls"], e["material"])
    mesh.add([(x, y, 0.0) for x, y in corners], [tuple(range(len(corners)))])


def room_walls(m, e):
    room, mesh = e["room"], m.of(e["cls"], e["material"])
    corners, h, t = room["corners"], room["height"], room["thickness"]
    for (a, b), holes in zip(zip(corners, corners[1:] + corners[:1]), room["windows"]):
        shapes.wall(mesh, a, b, 0.0, h, t, holes)
    if room["ceiling"] in ("gable", "vault"):
        # Gable ends close the space under the ridge, which runs along y.
        x0, x1 = corners[0][0], corners[2][0]
        for yy in (corners[0][1] - t / 2, corners[2][1] + t / 2):
            profile = _roof_profile(room, x0, x1)
            verts = [(x, yy, z) for x, z in profile] + [(x1, yy, h), (x0, yy, h)]
            mesh.add(verts, [tuple(range(len(verts)))])


def _roof_profile(room, x0, x1, n=16):
    """(x, z) points of the ceiling's cross-section over the room's width, eaves at height."""
    h, rise = room["height"], room["rise"]
    if room["ceiling"] == "gable":
        return [(x0, h), ((x0 + x1) / 2, h + rise), (x1, h)]
    return [(x0 + (x1 - x0) * (1 - math.cos(math.pi * i / n)) / 2, h + rise * math.sin(math.pi * i / n)) for i in range(n + 1)]


def _grown(corners, t):
    """A regular polygon's corners moved `t` further from its centre, to the walls' outer faces."""
    cx, cy = sum(c[0] for c in corners) / len(corners), sum(c[1] for c in corners) / len(corners)
    out = []
    for x, y in corners:
        r = math.hypot(x - cx, y - cy)
        f = (r + t / math.cos(math.pi / len(corners))) / r
        out.append((cx + (x - cx) * f, cy + (y - cy) * f))
    return out


def room_ceiling(m, e):
    room, mesh = e["room"], m.of(e["cls"], e["material"])
    corners, h, t = room["corners"], room["height"], room["thickness"]
    kind = room["ceiling"]
    if kind == "pyramid":
        apex = (0.0, 0.0, h + room["rise"])
        for a, b in zip(corners, corners[1:] + corners[:1]):
            mesh.add([(a[0], a[1], h), (b[0], b[1], h), apex], [(0, 1, 2)])
        return
    if len(corners) != 4:  # a polygonal hall's flat ceiling: one slab over its walls
        outer = _grown(corners, t)
        n = len(outer)
        mesh.add([(x, y, h) for x, y in outer] + [(x, y, h + t) for x, y in outer],
                 [tuple(range(n)), tuple(range(2 * n - 1, n - 1, -1))] +
                 [(i, (i + 1) % n, n + (i + 1) % n, n + i) for i in range(n)])
        return
    x0, y0, x1, y1 = corners[0][0] - t, corners[0][1] - t, corners[2][0] + t, corners[2][1] + t
    if kind in ("gable", "vault"):
        profile = _roof_profile(room, x0 + t, x1 - t)
        for (xa, za), (xb, zb) in zip(profile, profile[1:]):
            mesh.add([(xa, y0, za), (xb, y0, zb), (xb, y1, zb), (xa, y1, za)], [(0, 1, 2, 3)])
        return
    holes = [(hx0 - x0, hy0 - y0, hx1 - x0, hy1 - y0) for hx0, hy0, hx1, hy1 in room.get("holes", [])]
    for u0, v0, u1, v1 in shapes.panel_pieces(x1 - x0, y1 - y0, holes):
        shapes.box(mesh, (x0 + (u0 + u1) / 2, y0 + (v0 + v1) / 2, h + t / 2), (u1 - u0, v1 - v0, t))
    if kind == "beams":
        n = max(1, int((x1 - x0) / room["beam_spacing"]))
        for i in range(1, n):
            shapes.box(mesh, (x0 + (x1 - x0) * i / n, (y0 + y1) / 2, h - 0.15), (0.2, y1 - y0, 0.3))


BUILDERS = {"plane": plane, "sphere": sphere, "terrain": terrain, "water": water, "building": building,
            "tree": tree, "fence": fence, "vehicle": vehicle, "lamp_post": lamp_post, "lamp": lamp,
            "furniture": furniture, "room_floor": room_floor, "room_walls": room_walls, "room_ceiling": room_ceiling}
NEEDS_SCENE = {"road": road, "pavements": pavements}


def scene_meshes(desc):
    meshes = Meshes()
    for e in desc["elements"]:
        if e["element"] in NEEDS_SCENE:
            NEEDS_SCENE[e["element"]](meshes, e, desc["elements"])
        else:
            BUILDERS[e["element"]](meshes, e)
    return meshes
