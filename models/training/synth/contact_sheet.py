"""Contact sheet of rendered samples: one row per sample, RGB | sky | ground | depth.

    /usr/bin/python3 models/training/synth/contact_sheet.py SAMPLES_DIR sheet.png [--count N]

RGB is tone-mapped by the training chain's operator with the sample's
exposure; sky and ground are white on black; depth is log-scaled from 0.3 m
(red) to 100 m (blue), sky drawn black. Every tile is 512 x 256.
"""
import argparse
import json
import math
import os
import sys

os.environ.setdefault("OPENCV_IO_ENABLE_OPENEXR", "1")
import cv2  # noqa: E402
import numpy as np  # noqa: E402

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

import panoramas  # noqa: E402
from synth import passes  # noqa: E402

NEAR, FAR = 0.3, 100.0


def depth_colours(depth):
    """BGR picture of a depth map: log scale NEAR..FAR on the turbo map, sky black."""
    finite = np.isfinite(depth)
    d = np.clip(np.where(finite, depth, FAR), NEAR, FAR)
    t = np.log(d / NEAR) / math.log(FAR / NEAR)
    out = cv2.applyColorMap(np.round(255 * (1 - t)).astype(np.uint8), cv2.COLORMAP_TURBO)
    out[~finite] = 0
    return out


def tiles(folder):
    with open(os.path.join(folder, "sample.json")) as f:
        meta = json.load(f)
    hdr = cv2.imread(os.path.join(folder, "rgb.exr"), cv2.IMREAD_UNCHANGED)
    if hdr is None:
        raise RuntimeError("cannot read %s/rgb.exr" % folder)
    rgb = cv2.resize(panoramas.tone_map(hdr[:, :, :3], meta["exposure"]), (passes.WIDTH, passes.HEIGHT),
                     interpolation=cv2.INTER_AREA)
    labels = cv2.imread(os.path.join(folder, "labels.png"), cv2.IMREAD_UNCHANGED)
    mask = lambda value: cv2.cvtColor(np.where(labels == value, 255, 0).astype(np.uint8), cv2.COLOR_GRAY2BGR)  # noqa: E731
    depth = depth_colours(np.load(os.path.join(folder, "depth.npy")))
    text = "%d %s %s %s sky %.0f%%" % (meta["seed"], meta["kind"], meta.get("setting") or "",
                                       meta["scene"]["sky"]["variant"] + (" fog" if meta["scene"]["sky"]["fog"] else ""),
                                       100 * meta["sky_fraction"])
    cv2.putText(rgb, text, (6, 18), cv2.FONT_HERSHEY_SIMPLEX, 0.5, (0, 0, 0), 3, cv2.LINE_AA)
    cv2.putText(rgb, text, (6, 18), cv2.FONT_HERSHEY_SIMPLEX, 0.5, (255, 255, 255), 1, cv2.LINE_AA)
    return np.hstack([rgb, mask(passes.SKY), mask(passes.GROUND), depth])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("samples")
    parser.add_argument("out")
    parser.add_argument("--count", type=int, default=12)
    args = parser.parse_args()
    folders = sorted(os.path.join(args.samples, d) for d in os.listdir(args.samples)
                     if os.path.isfile(os.path.join(args.samples, d, "sample.json")))[:args.count]
    if not folders:
        raise SystemExit("no samples in %s" % args.samples)
    rows = [tiles(f) for f in folders]
    sheet = np.vstack([np.vstack([r, np.full((4, r.shape[1], 3), 128, np.uint8)]) for r in rows])
    cv2.imwrite(args.out, sheet)
    print("%s: %d samples" % (args.out, len(rows)))


if __name__ == "__main__":
    main()
