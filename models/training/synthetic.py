"""Reads the rendered synthetic panoramas (training/synth/) for fitting and measuring.

A sample folder holds rgb.exr (linear RGB), labels.png (512 x 256: 0 other,
1 sky, 2 ground, 3 ceiling), depth.npy (ray distance in metres, +inf for sky)
and sample.json; a folder without sample.json is an unfinished render and is
skipped. Pictures are median-filtered (3 x 3) as they are read.
"""
import json
import os

os.environ.setdefault("OPENCV_IO_ENABLE_OPENEXR", "1")

import cv2  # noqa: E402
import numpy as np  # noqa: E402

import geometry  # noqa: E402
import panoramas  # noqa: E402

# Depth targets: what each depth network can be asked for. Sky and anything
# farther count as the cap (the outdoor prior's far value; the indoor cap of
# the real panoramas' pseudo depth).
OUTDOOR_CAP = geometry.FAR
INDOOR_CAP = geometry.INDOOR_MAX
NEAREST = 0.3


class Sample:
    __slots__ = ("seed", "kind", "setting", "exposure", "camera_height", "hdr", "label", "depth")

    def __init__(self, folder):
        with open(os.path.join(folder, "sample.json")) as f:
            meta = json.load(f)
        self.seed, self.kind, self.setting = meta["seed"], meta["kind"], meta.get("setting")
        self.exposure = float(meta["exposure"])
        camera = meta.get("scene", {}).get("camera", {})
        self.camera_height = float(camera["height"]) if "height" in camera else None
        hdr = cv2.imread(os.path.join(folder, meta.get("rgb", "rgb.exr")), cv2.IMREAD_UNCHANGED)
        if hdr is None:
            raise IOError("cannot read " + os.path.join(folder, "rgb.exr"))
        hdr = hdr[:, :, :3].astype(np.float32)
        if hdr.shape[:2] != (panoramas.WORK_H, panoramas.WORK_W):
            hdr = cv2.resize(hdr, (panoramas.WORK_W, panoramas.WORK_H), interpolation=cv2.INTER_AREA)
        # Few paths per pixel leave dim scenes (rooms, night, forest shade) speckled with
        # fireflies, and Blender has no denoiser here; a 3 x 3 median takes most of them.
        # Every sample gets it, so smoothness tells nothing of the scene kind.
        self.hdr = np.dstack([cv2.medianBlur(np.ascontiguousarray(hdr[:, :, c]), 3) for c in range(3)])
        self.label = cv2.imread(os.path.join(folder, "labels.png"), cv2.IMREAD_GRAYSCALE)
        self.depth = np.load(os.path.join(folder, "depth.npy"))
        if self.label is None or self.label.shape != (panoramas.WORK_H, panoramas.WORK_W) \
                or self.depth.shape != self.label.shape:
            raise IOError(folder + ": labels or depth are not 512 x 256")

    @property
    def outdoor(self):
        return self.kind == "outdoor"

    def depth_target(self):
        """Depth in metres clipped to what the scene kind's network is fitted on (sky at the cap)."""
        cap = OUTDOOR_CAP if self.outdoor else INDOOR_CAP
        return np.clip(np.nan_to_num(self.depth, posinf=cap), NEAREST, cap).astype(np.float32)


def folders(root):
    """Finished sample folders under `root`, in seed order."""
    if not os.path.isdir(root):
        return []
    names = sorted(n for n in os.listdir(root) if os.path.isfile(os.path.join(root, n, "sample.json")))
    return [os.path.join(root, n) for n in names]


def load_all(root, count=None):
    """Every finished sample under `root`, or those of seeds 0 .. count-1, all of which must be there."""
    if count is None:
        return [Sample(p) for p in folders(root)]
    paths = [os.path.join(root, "%06d" % seed) for seed in range(count)]
    missing = [p for p in paths if not os.path.isfile(os.path.join(p, "sample.json"))]
    if missing:
        raise IOError("%d of seeds 0..%d not rendered under %s (first: %s)" % (len(missing), count - 1, root, missing[0]))
    return [Sample(p) for p in paths]
