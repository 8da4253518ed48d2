"""Render passes -> labels, with numpy only (Blender's Python has no OpenCV).

The label render shoots one ray through each pixel centre of the 512 x 256
working grid, so the object-index and depth passes are exact per pixel:
  * labels: 0 other, 1 sky (index 0, the ray reached the world background),
    2 ground (terrain, floors, roads, pavements, water), 3 ceiling; the same
    coding as the hand-made masks in training/labels/;
  * depth: the distance from the camera to the first hit along the ray, in
    metres (a panoramic camera's Z pass is that distance), +inf for sky.
"""
import struct
import zlib

import numpy as np

from synth import grammar

OTHER, SKY, GROUND, CEILING = 0, 1, 2, 3
WIDTH, HEIGHT = 512, 256


def labels_from_index(index):
    """Label image (uint8) from an object-index pass (float, the class numbers)."""
    cls = np.rint(np.asarray(index)).astype(np.int32)
    out = np.full(cls.shape, OTHER, np.uint8)
    out[cls == 0] = SKY
    for name in grammar.GROUND_CLASSES:
        out[cls == grammar.CLASSES[name]] = GROUND
    out[cls == grammar.CLASSES["ceiling"]] = CEILING
    return out


def depth_from_pass(z, index):
    """Ray distance in metres (float32), +inf where the ray reached the sky."""
    depth = np.asarray(z, np.float32).copy()
    depth[np.rint(np.asarray(index)) == 0] = np.inf
    return depth


def write_png(path, image):
    """8-bit grey (H x W) or RGB (H x W x 3) PNG, rows top first."""
    image = np.ascontiguousarray(image, np.uint8)
    h, w = image.shape[:2]
    colour = 2 if image.ndim == 3 else 0
    rows = image.reshape(h, -1)
    raw = b"".join(b"\x00" + rows[r].tobytes() for r in range(h))

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, colour, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(raw, 6)))
        f.write(chunk(b"IEND", b""))


def row_elevation(rows=HEIGHT):
    """Elevation (radians) of each row's centre: row 0 next to the zenith."""
    return np.pi / 2 - (np.arange(rows) + 0.5) * np.pi / rows
