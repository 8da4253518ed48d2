"""The training panoramas: Blender's CC0 studio-light worlds, tone-mapped to 8 bit.

The eight equirectangular HDR worlds ship with Debian's blender-data package
(1024 x 512, linear light, OpenEXR). `tone_map` is the one operator used for
training and evaluation; it is the operator of the demo data tool
(tools/demo_data/tone_map.cc), restated in models/README.md.
"""
import os

os.environ.setdefault("OPENCV_IO_ENABLE_OPENEXR", "1")

import cv2  # noqa: E402
import numpy as np  # noqa: E402

WORLD_DIR = "/usr/share/blender/datafiles/studiolights/world"
NAMES = ["city", "courtyard", "forest", "interior", "night", "studio", "sunrise", "sunset"]
# Scenes kept out of every fitting step; used only to judge the models.
HELD_OUT = ["courtyard", "sunset"]
TRAIN = [n for n in NAMES if n not in HELD_OUT]
OUTDOOR = {"city", "forest", "night", "sunrise", "sunset"}

WORK_W, WORK_H = 512, 256
MEAN = np.array([0.485, 0.456, 0.406], np.float32)
STD = np.array([0.229, 0.224, 0.225], np.float32)


def load_hdr(name):
    """Linear BGR float32 image of one world, 512 rows x 1024 columns."""
    path = os.path.join(WORLD_DIR, name + ".exr")
    hdr = cv2.imread(path, cv2.IMREAD_UNCHANGED)
    if hdr is None:
        raise FileNotFoundError(path + " (install the blender-data package)")
    return hdr[:, :, :3].astype(np.float32)


def tone_map(hdr, exposure=1.0):
    """Tone-maps a linear BGR image to 8-bit BGR; the demo data tool uses the same operator.

    In float32 throughout:
    1. clean(v) := 0 for NaN and negative v, else v;
    2. Y := 0.0722 * clean(B) + 0.7152 * clean(G) + 0.2126 * clean(R) per pixel;
       p := the element of rank k = min(n - 1, floor(0.99 * n)) of the n values Y
       in increasing order; scale := 1 / p (1 when p is not positive or infinite);
    3. x := clean(v) * scale * exposure, per channel (exposure is 1 except in
       training augmentation);
    4. out := round(clamp(255 * (x / (1 + x)) ** (1 / 2.2), 0, 255)), 255 for x = +inf.
    """
    v = np.asarray(hdr, np.float32)
    v = np.where(np.isnan(v) | (v < 0), np.float32(0), v)
    y = np.float32(0.0722) * v[:, :, 0] + np.float32(0.7152) * v[:, :, 1] + np.float32(0.2126) * v[:, :, 2]
    flat = y.ravel()
    k = min(flat.size - 1, int(0.99 * flat.size))
    p = np.partition(flat, k)[k]
    scale = np.float32(1.0) / p if (p > 0 and np.isfinite(p)) else np.float32(1.0)
    with np.errstate(over="ignore", invalid="ignore"):
        x = v * scale
        if exposure != 1.0:
            x = x * np.float32(exposure)
        t = x / (np.float32(1.0) + x)
        out = np.float32(255.0) * np.power(t, np.float32(1.0 / 2.2))
    out = np.where(np.isinf(x), np.float32(255.0), np.clip(out, 0, 255))
    return np.round(out).astype(np.uint8)


def prepare(bgr8):
    """The program's image preparation: 8-bit BGR panorama -> normalised RGB 256 x 512 x 3.

    Width other than 2048: resize to 2048 x 1024 first; then to 512 x 256,
    both INTER_LINEAR; BGR -> RGB; v / 255; (v - mean) / std in float32.
    """
    img = bgr8
    if img.shape[1] != 2048:
        img = cv2.resize(img, (2048, 1024), interpolation=cv2.INTER_LINEAR)
    img = cv2.resize(img, (WORK_W, WORK_H), interpolation=cv2.INTER_LINEAR)
    rgb = cv2.cvtColor(img, cv2.COLOR_BGR2RGB).astype(np.float32) * np.float32(1.0 / 255.0)
    return (rgb - MEAN) / STD


def working_image(bgr8):
    """The 8-bit BGR image at the working size, as the networks see it (before normalising)."""
    img = bgr8
    if img.shape[1] != 2048:
        img = cv2.resize(img, (2048, 1024), interpolation=cv2.INTER_LINEAR)
    return cv2.resize(img, (WORK_W, WORK_H), interpolation=cv2.INTER_LINEAR)
