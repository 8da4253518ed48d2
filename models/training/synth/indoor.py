"""Indoor scenes: a room or hall with walls, windows, a ceiling, lamps and furniture.

The floor is at z = 0. Rectangular rooms take every ceiling kind
(`CEILINGS`); polygonal halls a flat or a pyramid ceiling. Windows and
skylights are open holes, so the sky seen through them reaches the world
background and is labelled sky exactly. Outside lies a plain ground with a
few trees and buildings, drawn by the outdoor grammar.
"""
import math

from synth import outdoor, zenith

CEILINGS = ("flat", "beams", "gable", "vault", "skylights", "courtyard")
WALL_THICKNESS = 0.2
# The most of the view straight up that windows and ceiling openings may show
# (the sky rule calls a scene outdoor above one half); larger openings shrink.
OPEN_OVERHEAD = 0.3
FLOOR_KINDS = ("wood", "tiles", "concrete", "pavement", "fabric")


def _footprint(rng):
    """Corner points (counter-clockwise) and whether the room is a rectangle."""
    if rng.random() < 0.7:
        w, d = rng.uniform(3.0, 30.0), rng.uniform(3.0, 40.0)
        return [(-w / 2, -d / 2), (w / 2, -d / 2), (w / 2, d / 2), (-w / 2, d / 2)], True
    n, r = rng.randint(5, 10), rng.uniform(3.0, 20.0)
    turn = rng.uniform(0, 2 * math.pi)
    return [(r * math.cos(turn + 2 * math.pi * k / n), r * math.sin(turn + 2 * math.pi * k / n)) for k in range(n)], False


def _windows(rng, length, height):
    """Openings (u0, v0, u1, v1) along one wall, evenly spaced."""
    if length < 1.5 or rng.random() < 0.3:
        return []
    width = rng.uniform(0.6, min(3.0, length * 0.6))
    sill = rng.uniform(0.3, 1.2)
    top = min(height - 0.3, sill + rng.uniform(0.8, 2.5))
    if top - sill < 0.4:
        return []
    count = max(1, min(int(length / (width + 0.6)), rng.randint(1, 8)))
    pitch = length / count
    return [[pitch * (k + 0.5) - width / 2, sill, pitch * (k + 0.5) + width / 2, top] for k in range(count)]


def _skylights(rng, w, d):
    """Holes (x0, y0, x1, y1) in a flat ceiling of a w x d room centred on the origin."""
    nx, ny = rng.randint(1, 3), rng.randint(1, 4)
    sx, sy = rng.uniform(0.5, min(3.0, w / nx * 0.6)), rng.uniform(0.5, min(3.0, d / ny * 0.6))
    return [[-w / 2 + w * (i + 0.5) / nx - sx / 2, -d / 2 + d * (j + 0.5) / ny - sy / 2,
             -w / 2 + w * (i + 0.5) / nx + sx / 2, -d / 2 + d * (j + 0.5) / ny + sy / 2]
            for i in range(nx) for j in range(ny)]


def _inside(corners, x, y, margin):
    """True when (x, y) lies at least `margin` inside the convex counter-clockwise polygon."""
    for (ax, ay), (bx, by) in zip(corners, corners[1:] + corners[:1]):
        length = math.hypot(bx - ax, by - ay)
        if ((bx - ax) * (y - ay) - (by - ay) * (x - ax)) / length < margin:
            return False
    return True


def _furniture(scene, corners, height, camera):
    rng = scene.rng
    materials = [scene.material(k) for k in ("wood", "metal", "fabric", "paint")]
    xs, ys = [c[0] for c in corners], [c[1] for c in corners]
    for _ in range(rng.randint(0, 14)):
        x, y = rng.uniform(min(xs), max(xs)), rng.uniform(min(ys), max(ys))
        kind = rng.choice(("table", "cabinet", "box", "column", "stool", "shelf"))
        size = {"table": (rng.uniform(0.8, 2.5), rng.uniform(0.6, 1.2), rng.uniform(0.7, 0.8)),
                "cabinet": (rng.uniform(0.5, 2.0), rng.uniform(0.4, 0.7), rng.uniform(0.8, 2.2)),
                "box": (rng.uniform(0.3, 1.5), rng.uniform(0.3, 1.5), rng.uniform(0.3, 1.2)),
                "column": (rng.uniform(0.2, 0.5), 0.0, height),
                "stool": (rng.uniform(0.15, 0.3), 0.0, rng.uniform(0.4, 0.8)),
                "shelf": (rng.uniform(0.8, 3.0), rng.uniform(0.3, 0.5), rng.uniform(1.5, 2.4))}[kind]
        reach = math.hypot(size[0], size[1]) / 2 + 0.1
        if not _inside(corners, x, y, reach + WALL_THICKNESS) or math.hypot(x - camera["x"], y - camera["y"]) < reach + 0.6:
            continue
        scene.add("furniture", "structure" if kind == "column" else "object", rng.choice(materials),
                  kind=kind, position=[x, y], size=list(size), yaw=rng.uniform(0, math.pi))


def _lamps(scene, corners, height, lit):
    rng = scene.rng
    xs, ys = [c[0] for c in corners], [c[1] for c in corners]
    n = rng.randint(1, 6)
    shade = scene.lamp_material(rng.uniform(5.0, 40.0) if lit else 0.2)
    for _ in range(n * 3):
        x, y = rng.uniform(min(xs), max(xs)), rng.uniform(min(ys), max(ys))
        if not _inside(corners, x, y, 0.5 + WALL_THICKNESS):
            continue
        drop = rng.uniform(0.0, min(1.0, height - 2.2)) if height > 2.4 else 0.0
        scene.add("lamp", "object", shade, position=[x, y, height - drop], radius=rng.uniform(0.1, 0.35))
        if lit:
            scene.light((x, y, height - drop - 0.3), rng.uniform(40.0, 400.0), (1.0, rng.uniform(0.75, 0.95), rng.uniform(0.5, 0.9)))
        n -= 1
        if n == 0:
            break


def _limit_openings(room, camera):
    """Shrinks the room's windows and ceiling holes about their centres until they show at
    most OPEN_OVERHEAD of the view straight up (no random draw, so other rooms keep theirs)."""
    share = zenith.open_share(camera, room)
    while share > OPEN_OVERHEAD:
        zenith.shrink_openings(room, 0.95 * math.sqrt(OPEN_OVERHEAD / share))
        share = zenith.open_share(camera, room)


def populate(scene):
    rng = scene.rng
    from synth import grammar  # the camera's draw lives with the other shared draws

    corners, rectangle = _footprint(rng)
    height = rng.uniform(2.4, 4.0) if rng.random() < 0.6 else rng.uniform(4.0, 14.0)
    ceiling = rng.choice(CEILINGS) if rectangle else rng.choice(("flat", "pyramid"))
    w, d = corners[2][0] - corners[0][0], corners[2][1] - corners[0][1]
    scene.desc["setting"] = "room" if height < 4.0 else "hall"
    room = {"corners": [list(c) for c in corners], "height": height, "ceiling": ceiling,
            "windows": [_windows(rng, math.hypot(b[0] - a[0], b[1] - a[1]), height)
                        for a, b in zip(corners, corners[1:] + corners[:1])],
            "rise": rng.uniform(1.0, max(1.2, min(w, d) / 3)) if rectangle or ceiling == "pyramid" else 0.0,
            "beam_spacing": rng.uniform(0.8, 3.0), "thickness": WALL_THICKNESS}
    if ceiling == "skylights":
        room["holes"] = _skylights(rng, w, d)
    if ceiling == "courtyard":
        rim = rng.uniform(1.5, max(1.6, min(w, d) / 3))
        room["holes"] = [[-w / 2 + rim, -d / 2 + rim, w / 2 - rim, d / 2 - rim]] if min(w, d) > 2 * rim + 1 else []
    scene.add("room_floor", "terrain", scene.material(rng.choice(FLOOR_KINDS)), corners=room["corners"])
    scene.add("room_walls", "structure", scene.material(rng.choice(("plaster", "plaster", "brick", "concrete", "wood"))), room=room)
    scene.add("room_ceiling", "ceiling", scene.material(rng.choice(("plaster", "plaster", "wood", "concrete"))), room=room)
    xs, ys = [c[0] for c in corners], [c[1] for c in corners]
    while True:  # rejection keeps the camera clear of walls; convex rooms fill most of their box
        x, y = rng.uniform(min(xs), max(xs)), rng.uniform(min(ys), max(ys))
        if _inside(corners, x, y, WALL_THICKNESS + 0.5):
            break
    scene.desc["camera"] = grammar.camera(rng, 0.0, x, y, max_height=height - 0.3)
    _limit_openings(room, scene.desc["camera"])
    night = scene.desc["sky"]["variant"] == "night"
    _lamps(scene, corners, height, lit=night or rng.random() < 0.7)
    _furniture(scene, corners, height, scene.desc["camera"])
    # Outside: ground below the floor level and a few far trees and buildings beyond the walls.
    reach = max(math.hypot(*c) for c in corners) + 5.0
    scene.add("plane", "terrain", scene.material(rng.choice(("grass", "pavement", "soil"))), z=-0.05, half_size=3000.0)
    bark, leaves, facade = scene.material("bark"), scene.material("leaves"), scene.material("plaster", pattern="facade")
    for _ in range(rng.randint(0, 10)):
        outdoor.tree(scene, [], bark, leaves, reach, reach + 60.0)
    for _ in range(rng.randint(0, 6)):
        outdoor.building(scene, [], facade, facade, reach + 10.0, reach + 150.0)
