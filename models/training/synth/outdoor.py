"""Outdoor scenes: terrain, water, roads, buildings, trees, fences, vehicles, lamps.

`populate` draws a setting ("field", "forest", "town", "shore", "snow") and
then the elements of that setting, each from a small function. The terrain is
level (height 0) within `FLAT_RADIUS` of the camera, so the camera height is
its height above the ground under it.
"""
import math
import random

from synth import zenith

FLAT_RADIUS = 25.0
TERRAIN_RADIUS = 6000.0
SETTINGS = ("field", "forest", "town", "shore", "snow")
# The share of the view straight up that trees and buildings may hide, drawn
# per scene: an outdoor scene must stay clearly outdoor by the sky rule
# (more than half of that view sky), forests included.
HIDDEN_OVERHEAD = (0.1, 0.4)
GROUND_KINDS = {"field": ("grass", "soil"), "forest": ("grass", "soil"), "town": ("grass", "pavement"),
                "shore": ("sand", "grass"), "snow": ("snow", "rock")}


def terrain_height(terrain, x, y):
    """Height of the terrain at (x, y): sine hills rising with distance, minus lake basins."""
    r = math.hypot(x, y)
    ramp = min(1.0, max(0.0, (r - FLAT_RADIUS) / (terrain["ramp"])))
    ramp = ramp * ramp * (3 - 2 * ramp)
    z = 0.0
    for amp, wavelength, direction, phase in terrain["hills"]:
        u = x * math.cos(direction) + y * math.sin(direction)
        z += amp * math.sin(2 * math.pi * u / wavelength + phase)
    z *= ramp
    for cx, cy, radius, depth in terrain["basins"]:
        d = math.hypot(x - cx, y - cy) / radius
        if d < 1.0:
            z -= depth * (1 - d * d) ** 2 * ramp
    return z


def _terrain(scene, setting):
    rng = scene.rng
    flat = setting in ("town", "shore")
    hills = []
    for k in range(4):
        wavelength = rng.uniform(80.0, 400.0) * (3.0 ** k)
        amp = wavelength * rng.uniform(0.003, 0.02) * (0.3 if flat else 1.0)
        hills.append((amp, wavelength, rng.uniform(0, 2 * math.pi), rng.uniform(0, 2 * math.pi)))
    basins = []
    if setting == "shore" or rng.random() < 0.3:
        angle, dist = rng.uniform(-math.pi, math.pi), rng.uniform(FLAT_RADIUS + 20.0, 300.0)
        basins.append((dist * math.cos(angle), dist * math.sin(angle), rng.uniform(dist * 0.5, dist * 3.0), rng.uniform(3.0, 20.0)))
    terrain = {"hills": hills, "basins": basins, "ramp": rng.uniform(30.0, 200.0), "radius": TERRAIN_RADIUS}
    main, other = GROUND_KINDS[setting]
    scene.add("terrain", "terrain", scene.material(main, colour2=scene.desc["materials"][scene.material(other)]["colour"]),
              terrain=terrain)
    if basins:
        scene.add("water", "water", scene.material("water"), z=-rng.uniform(0.3, 1.5), radius=TERRAIN_RADIUS)
    return terrain


def _clear(x, y, roads, margin):
    """True when (x, y) keeps `margin` from the camera and from every road's edge."""
    if math.hypot(x, y) < margin + 2.0:
        return False
    for road in roads:
        c, s = math.cos(road["angle"]), math.sin(road["angle"])
        across = -x * s + y * c - road["offset"]
        if abs(across) < road["width"] / 2 + road["pavement"] + margin:
            return False
    return True


def _place(rng, roads, margin, near, far, tries=20):
    for _ in range(tries):
        angle, dist = rng.uniform(-math.pi, math.pi), near + (far - near) * rng.random() ** 1.5
        x, y = dist * math.cos(angle), dist * math.sin(angle)
        if _clear(x, y, roads, margin):
            return x, y
    return None


def _roads(scene, count):
    rng = scene.rng
    roads = []
    asphalt, paving = scene.material("asphalt"), scene.material("pavement")
    for i in range(count):
        road = {"angle": rng.uniform(0, math.pi), "offset": rng.uniform(-12.0, 12.0) if i == 0 else rng.uniform(-60, 60),
                "width": rng.uniform(4.0, 10.0), "pavement": rng.uniform(0.0, 3.0), "length": 1500.0}
        scene.add("road", "terrain", asphalt, **road)
        if road["pavement"] > 0:
            scene.add("pavements", "terrain", paving, **road)
        roads.append(road)
    return roads


class Overhead:
    """The camera's view straight up and the share of it elements may hide; an element
    drawn in full is left out when it would hide more (the draws stay in order)."""

    def __init__(self, scene):
        self.view = zenith.ZenithView(scene.desc["camera"])
        # Its own generator, so scenes that lose no element keep their description.
        self.budget = random.Random("%d/overhead" % scene.desc["seed"]).uniform(*HIDDEN_OVERHEAD)

    def admit(self, spheres):
        return self.view.admit(spheres, self.budget)


def building(scene, roads, material_name, roof_material, near, far, overhead=None):
    rng = scene.rng
    w, d = rng.uniform(6.0, 30.0), rng.uniform(6.0, 25.0)
    spot = _place(rng, roads, math.hypot(w, d) / 2 + 1.0, near, far)
    if spot is None:
        return
    params = dict(centre=list(spot), size=[w, d, rng.uniform(3.0, 40.0)], yaw=rng.uniform(0, math.pi),
                  roof=rng.choice(("flat", "flat", "gable")), roof_rise=rng.uniform(1.5, 5.0),
                  roof_material=roof_material)
    if overhead is not None and not overhead.admit(zenith.building_spheres(params, scene.desc["camera"]["z"])):
        return
    scene.add("building", "structure", material_name, **params)


def tree(scene, roads, bark, leaves, near, far, kind=None, overhead=None):
    rng = scene.rng
    spot = _place(rng, roads, 1.0, near, far)
    if spot is None:
        return
    kind = kind or rng.choice(("broadleaf", "broadleaf", "conifer", "bare"))
    params = dict(leaves=leaves, kind=kind, position=list(spot), height=rng.uniform(4.0, 20.0),
                  seed=rng.randrange(1 << 30))
    if overhead is not None and not overhead.admit(zenith.tree_spheres(params)):
        return
    scene.add("tree", "vegetation", bark, **params)


def _fence(scene, roads):
    rng = scene.rng
    angle, dist = rng.uniform(-math.pi, math.pi), rng.uniform(3.0, 30.0)
    cx, cy = dist * math.cos(angle), dist * math.sin(angle)
    along, length = angle + math.pi / 2 + rng.uniform(-0.5, 0.5), rng.uniform(5.0, 60.0)
    p0 = [cx - math.cos(along) * length / 2, cy - math.sin(along) * length / 2]
    p1 = [cx + math.cos(along) * length / 2, cy + math.sin(along) * length / 2]
    scene.add("fence", "object", scene.material(rng.choice(("wood", "metal"))), start=p0, end=p1,
              height=rng.uniform(0.8, 2.0), spacing=rng.uniform(1.5, 3.0), rails=rng.randint(1, 4),
              pickets=rng.random() < 0.4)


def _vehicle(scene, road):
    rng = scene.rng
    c, s = math.cos(road["angle"]), math.sin(road["angle"])
    along = rng.uniform(-60.0, 60.0)
    across = road["offset"] + rng.uniform(-0.3, 0.3) * road["width"]
    x, y = along * c - across * s, along * s + across * c
    if math.hypot(x, y) < 3.5:
        return
    scene.add("vehicle", "object", scene.material("paint"), position=[x, y],
              yaw=road["angle"] + rng.choice((0.0, math.pi)), length=rng.uniform(3.5, 12.0),
              width=rng.uniform(1.6, 2.5), height=rng.uniform(1.3, 3.2), tyres=scene.material("asphalt"))


def _lamp_post(scene, road, night):
    rng = scene.rng
    c, s = math.cos(road["angle"]), math.sin(road["angle"])
    along = rng.uniform(-50.0, 50.0)
    across = road["offset"] + (road["width"] / 2 + road["pavement"] * 0.5 + 0.3) * rng.choice((-1, 1))
    x, y = along * c - across * s, along * s + across * c
    if math.hypot(x, y) < 1.5:
        return
    height = rng.uniform(4.0, 9.0)
    scene.add("lamp_post", "object", scene.material("metal"), position=[x, y], height=height,
              shade=scene.lamp_material(rng.uniform(5.0, 30.0) if night else 0.0))
    if night:
        scene.light((x, y, height - 0.4), rng.uniform(300.0, 2000.0), (1.0, 0.75, 0.45))


def populate(scene):
    rng = scene.rng
    setting = rng.choice(SETTINGS)
    scene.desc["setting"] = setting
    night = scene.desc["sky"]["variant"] == "night"
    _terrain(scene, setting)
    roads = _roads(scene, rng.randint(1, 3) if setting == "town" else (1 if rng.random() < 0.4 else 0))
    facade, roof = scene.material(rng.choice(("plaster", "brick", "concrete")), pattern="facade"), scene.material("concrete")
    overhead = Overhead(scene)
    buildings = {"town": rng.randint(6, 30), "field": rng.randint(0, 4), "snow": rng.randint(0, 3)}.get(setting, rng.randint(0, 2))
    for _ in range(buildings):
        building(scene, roads, facade, roof, 12.0, 250.0, overhead)
    bark, leaves = scene.material("bark"), scene.material("leaves")
    trees = {"forest": rng.randint(25, 70), "town": rng.randint(0, 12)}.get(setting, rng.randint(0, 15))
    for _ in range(trees):
        tree(scene, roads, bark, leaves, 3.0, 120.0 if setting != "forest" else 50.0,
              "bare" if setting == "snow" and rng.random() < 0.7 else None, overhead)
    for _ in range(rng.randint(0, 3)):
        _fence(scene, roads)
    for road in roads:
        for _ in range(rng.randint(0, 6)):
            _vehicle(scene, road)
        for _ in range(rng.randint(0, 6) if setting == "town" else 0):
            _lamp_post(scene, road, night)
