"""The scene grammar: a seed becomes a plain, JSON-able scene description.

Every random draw comes from one `random.Random(seed)`, in a fixed order, so
the same seed always gives the same scene (and so the same labels). Nothing
here needs Blender: `meshes.py` turns the description into geometry and
`blender_scene.py` into a Blender scene.

Description members: "seed", "kind" ("outdoor", "indoor" or "calibration"),
"camera", "sky", "film", "materials" (name -> material) and "elements"
(a list of dicts with "element", "cls" and "material", see `meshes.py`).
"""
import math
import random

from synth import indoor, outdoor

# Object classes, written to the object-index pass; 0 is the world background (sky).
CLASSES = {"terrain": 1, "water": 2, "ceiling": 3, "structure": 4, "vegetation": 5, "object": 6}
GROUND_CLASSES = ("terrain", "water")

CAMERA_HEIGHT = (1.0, 3.0)
MAX_TILT_DEG = 2.0
SUN_ELEVATION_DEG = (-18.0, 90.0)
SKY_VARIANTS = ("clear", "overcast", "dusk", "night")

# Linear-RGB colour ranges (low, high) and roughness of the material kinds.
PALETTE = {
    "grass": ((0.03, 0.08, 0.01), (0.12, 0.22, 0.05), 0.9),
    "soil": ((0.06, 0.04, 0.02), (0.18, 0.12, 0.07), 0.95),
    "rock": ((0.08, 0.08, 0.08), (0.30, 0.28, 0.25), 0.8),
    "sand": ((0.35, 0.28, 0.16), (0.60, 0.48, 0.30), 0.9),
    "snow": ((0.70, 0.72, 0.78), (0.90, 0.92, 0.95), 0.6),
    "asphalt": ((0.02, 0.02, 0.02), (0.07, 0.07, 0.07), 0.7),
    "pavement": ((0.15, 0.14, 0.13), (0.40, 0.38, 0.35), 0.8),
    "plaster": ((0.30, 0.28, 0.25), (0.80, 0.78, 0.72), 0.9),
    "brick": ((0.20, 0.06, 0.03), (0.45, 0.18, 0.10), 0.9),
    "concrete": ((0.20, 0.20, 0.19), (0.45, 0.44, 0.42), 0.85),
    "wood": ((0.10, 0.05, 0.02), (0.40, 0.22, 0.10), 0.6),
    "metal": ((0.20, 0.20, 0.22), (0.70, 0.70, 0.72), 0.35),
    "paint": ((0.02, 0.02, 0.02), (0.70, 0.60, 0.55), 0.3),
    "bark": ((0.04, 0.03, 0.02), (0.12, 0.09, 0.06), 0.95),
    "leaves": ((0.02, 0.06, 0.01), (0.15, 0.25, 0.04), 0.7),
    "water": ((0.005, 0.02, 0.03), (0.03, 0.06, 0.07), 0.05),
    "fabric": ((0.05, 0.05, 0.05), (0.60, 0.50, 0.40), 1.0),
    "tiles": ((0.30, 0.30, 0.30), (0.80, 0.78, 0.74), 0.3),
}
PATTERNS = {"pavement": "bricks", "brick": "bricks", "tiles": "bricks", "water": "water"}


def _colour(rng, low, high):
    t = rng.random()
    return [round(lo + t * (hi - lo) * rng.uniform(0.85, 1.15), 4) for lo, hi in zip(low, high)]


def material(rng, kind):
    """A material of a palette kind: two colours, roughness, texture scale and pattern."""
    low, high, rough = PALETTE[kind]
    return {"kind": kind, "pattern": PATTERNS.get(kind, "noise"),
            "colour": _colour(rng, low, high), "colour2": _colour(rng, low, high),
            "roughness": round(min(1.0, max(0.02, rough * rng.uniform(0.8, 1.2))), 3),
            "scale": round(rng.uniform(0.5, 2.0), 3)}


def emission(rng, strength):
    warm = rng.uniform(0.0, 1.0)
    return {"kind": "lamp", "pattern": "emission", "colour": [1.0, 0.8 + 0.15 * warm, 0.55 + 0.4 * warm],
            "strength": strength}


class Scene:
    """The description being built, with a helper that names new materials."""

    def __init__(self, rng, seed, kind):
        self.rng = rng
        self.desc = {"seed": seed, "kind": kind, "materials": {}, "elements": [], "lights": []}

    def material(self, kind, **overrides):
        name = "%s_%d" % (kind, len(self.desc["materials"]))
        mat = material(self.rng, kind)
        mat.update(overrides)
        self.desc["materials"][name] = mat
        return name

    def lamp_material(self, strength):
        name = "lamp_%d" % len(self.desc["materials"])
        self.desc["materials"][name] = emission(self.rng, strength)
        return name

    def add(self, element, cls, material_name, **params):
        assert cls in CLASSES
        params.update({"element": element, "cls": cls, "material": material_name})
        self.desc["elements"].append(params)

    def light(self, position, power, colour, radius=0.1):
        """A point lamp (watts); lamps are invisible to camera rays, their shades are elements."""
        self.desc["lights"].append({"position": list(position), "power": power, "colour": list(colour), "radius": radius})


def camera(rng, floor_z=0.0, x=0.0, y=0.0, max_height=CAMERA_HEIGHT[1]):
    height = rng.uniform(CAMERA_HEIGHT[0], min(CAMERA_HEIGHT[1], max_height))
    return {"x": x, "y": y, "z": floor_z + height, "height": height,
            "yaw": rng.uniform(-math.pi, math.pi),
            "pitch": math.radians(rng.uniform(-MAX_TILT_DEG, MAX_TILT_DEG)),
            "roll": math.radians(rng.uniform(-MAX_TILT_DEG, MAX_TILT_DEG))}


def sky(rng, variant=None):
    """Nishita sky parameters, procedural clouds and the optional fog."""
    variant = variant or rng.choice(SKY_VARIANTS)
    if variant == "night":
        elevation = rng.uniform(SUN_ELEVATION_DEG[0], -8.0)
    elif variant == "dusk":
        elevation = rng.uniform(-6.0, 6.0)
    else:
        elevation = rng.uniform(-2.0, SUN_ELEVATION_DEG[1]) if variant == "overcast" else rng.uniform(3.0, 90.0)
    cover = rng.uniform(0.75, 1.0) if variant == "overcast" else rng.uniform(0.0, 0.7)
    fog = None
    if rng.random() < 0.2:
        fog = {"visibility": rng.uniform(60.0, 600.0), "colour": _colour(rng, (0.5, 0.5, 0.52), (0.9, 0.9, 0.92))}
    return {"variant": variant,
            "sun_elevation": math.radians(elevation),
            "sun_azimuth": rng.uniform(-math.pi, math.pi),
            "air_density": rng.uniform(0.7, 1.6),
            "dust_density": rng.uniform(0.0, 4.0) if variant != "overcast" else rng.uniform(2.0, 8.0),
            "ozone_density": rng.uniform(0.5, 1.5),
            "clouds": {"cover": cover, "scale": rng.uniform(0.3, 2.0),
                       "softness": rng.uniform(0.05, 0.4), "offset": [rng.uniform(-100, 100) for _ in range(3)],
                       "brightness": rng.uniform(0.3, 0.7) if variant == "overcast" else rng.uniform(0.7, 1.2)},
            "night_glow": rng.uniform(0.0005, 0.004),
            "fog": fog}


def film(rng):
    """Exposure for the tone mapper and a white balance baked into the linear image."""
    return {"exposure": 2.0 ** rng.uniform(-1.0, 1.0),
            "white_balance": [round(2.0 ** rng.gauss(0.0, 0.1), 4) for _ in range(3)]}


def describe(seed, kind=None):
    """The scene of `seed`; `kind` forces "outdoor" or "indoor", else drawn (60 % outdoor)."""
    rng = random.Random(seed)
    drawn = "outdoor" if rng.random() < 0.6 else "indoor"
    kind = kind or drawn
    scene = Scene(rng, seed, kind)
    scene.desc["sky"] = sky(rng)
    scene.desc["film"] = film(rng)
    if kind == "outdoor":
        scene.desc["camera"] = camera(rng)
        outdoor.populate(scene)
    elif kind == "indoor":
        indoor.populate(scene)  # places the camera inside the room
    else:
        raise ValueError("unknown scene kind %r" % kind)
    return scene.desc


def calibration(shape, size):
    """Known geometry, no tilt, neutral film: "sphere", the camera at the centre of a
    sphere of radius `size`; "plane", the camera `size` above a level plane."""
    rng = random.Random(0)
    scene = Scene(rng, 0, "calibration")
    height = size if shape == "plane" else 1.5
    scene.desc["camera"] = {"x": 0.0, "y": 0.0, "z": height, "height": height, "yaw": 0.0, "pitch": 0.0, "roll": 0.0}
    scene.desc["sky"] = sky(rng, "clear")
    scene.desc["sky"]["fog"] = None
    scene.desc["film"] = {"exposure": 1.0, "white_balance": [1.0, 1.0, 1.0]}
    if shape == "plane":
        scene.add("plane", "terrain", scene.material("concrete"), z=0.0, half_size=1000.0)  # large faces lose intersection precision
    elif shape == "sphere":
        scene.add("sphere", "structure", scene.material("plaster"), centre=[0.0, 0.0, height], radius=size)
    else:
        raise ValueError("unknown calibration shape %r" % shape)
    return scene.desc
