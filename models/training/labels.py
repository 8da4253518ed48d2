"""Semi-automatic label masks for the training panoramas.

Classes per pixel of the 512 x 256 working image:
  0 other (walls, buildings, trees, furniture, objects), 1 sky, 2 ground
  (floor, terrain, road, pavement), 3 ceiling (roofs and ceilings seen from below).

Procedure, per panorama, from the hand-drawn text in labels.json:
  * "ground_top": a polyline (column, row) points, linearly interpolated over
    the columns; every pixel at or below it is ground.
  * "ceiling_bottom": a polyline; every pixel above it is ceiling.
  * "sky_limit": a polyline; sky can only lie above it ("sky_region": a
    polygon instead, for sky seen through an opening; it overrides ceiling). Inside that region a
    pixel is sky when its CIELAB colour lies within "sky_delta" of a smooth sky
    model and the grey-level texture (5 x 5 standard deviation) is below
    "sky_texture". The model is the Gaussian-weighted (sigma 12 px) mean colour
    of the pixels currently taken for sky, refined three times starting from
    the whole region; sky blobs under 6 pixels are dropped, and unless
    "sky_from_top" is false so is every blob that does not reach row 0
    (glass facades reflecting the sky). "sky_close" (odd size, default off)
    closes thin branches and wires across the sky with an elliptic kernel,
    as a person drawing the mask would.
  * "polygons": hand corrections, [class, [[c, r], ...]] filled in order last.
Every result was checked by eye on the overlays that `python3 labels.py
--preview DIR` writes.
"""
import argparse
import json
import os
import sys

import cv2
import numpy as np

import panoramas

HERE = os.path.dirname(os.path.abspath(__file__))
LABEL_DIR = os.path.join(HERE, "labels")
OTHER, SKY, GROUND, CEILING = 0, 1, 2, 3


def polyline_rows(points, width=panoramas.WORK_W):
    """Row of the polyline at every column (linear interpolation, ends held)."""
    pts = sorted(points)
    cols = np.array([p[0] for p in pts], np.float64)
    rows = np.array([p[1] for p in pts], np.float64)
    return np.interp(np.arange(width) + 0.0, cols, rows)


def sky_by_colour(bgr8, region, delta, texture, from_top, close):
    lab = cv2.cvtColor(bgr8.astype(np.float32) / 255.0, cv2.COLOR_BGR2Lab)
    grey = cv2.cvtColor(bgr8, cv2.COLOR_BGR2GRAY).astype(np.float32)
    mean = cv2.blur(grey, (5, 5))
    std = np.sqrt(np.maximum(cv2.blur(grey * grey, (5, 5)) - mean * mean, 0.0))
    sky = region.copy()
    for _ in range(3):
        w = cv2.GaussianBlur(sky.astype(np.float32), (0, 0), 12)
        model = np.stack([cv2.GaussianBlur(lab[:, :, k] * sky, (0, 0), 12) for k in range(3)], -1)
        model /= np.maximum(w, 1e-6)[:, :, None]
        dist = np.linalg.norm(lab - model, axis=2)
        sky = region & (dist < delta) & (std < texture) & (w > 1e-3)
    n, comp, stats, _ = cv2.connectedComponentsWithStats(sky.astype(np.uint8), connectivity=8)
    keep = np.zeros(n, bool)
    keep[1:] = stats[1:, cv2.CC_STAT_AREA] >= 6
    if from_top:
        touching = np.unique(comp[0][sky[0]])
        keep &= np.isin(np.arange(n), touching)
    sky = keep[comp]
    if close > 1:
        kernel = cv2.getStructuringElement(cv2.MORPH_ELLIPSE, (close, close))
        sky = region & cv2.morphologyEx(sky.astype(np.uint8), cv2.MORPH_CLOSE, kernel).astype(bool)
    return sky


def make_label(name, drawing, bgr8):
    h, w = bgr8.shape[:2]
    label = np.zeros((h, w), np.uint8)
    rows = np.arange(h)[:, None]
    if "ceiling_bottom" in drawing:
        label[rows < polyline_rows(drawing["ceiling_bottom"])[None, :]] = CEILING
    if "sky_limit" in drawing or "sky_region" in drawing:
        if "sky_region" in drawing:
            region = np.zeros((h, w), np.uint8)
            cv2.fillPoly(region, [np.array(drawing["sky_region"], np.int32)], 1)
            region = region.astype(bool)
        else:
            region = rows < polyline_rows(drawing["sky_limit"])[None, :]
        sky = sky_by_colour(bgr8, region, drawing.get("sky_delta", 12.0), drawing.get("sky_texture", 6.0),
                             drawing.get("sky_from_top", True), drawing.get("sky_close", 0))
        label[sky] = SKY
    if "ground_top" in drawing:
        label[rows >= polyline_rows(drawing["ground_top"])[None, :]] = GROUND
    for cls, poly in drawing.get("polygons", []):
        cv2.fillPoly(label, [np.array(poly, np.int32)], int(cls))
    return label


COLOURS = np.array([[0, 0, 0], [255, 160, 0], [0, 200, 0], [200, 0, 200]], np.uint8)  # BGR


def overlay(bgr8, label):
    out = (0.55 * bgr8 + 0.45 * COLOURS[label]).astype(np.uint8)
    for y in range(0, out.shape[0], 16):
        out[y, ::4] = (0, 0, 255) if y % 64 == 0 else (0, 255, 255)
    for x in range(0, out.shape[1], 32):
        out[::4, x] = (255, 0, 255)
    return out


def load_specs():
    with open(os.path.join(HERE, "labels.json")) as f:
        return json.load(f)


def main(argv):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--preview", help="folder for overlay PNGs (2x enlarged)")
    ap.add_argument("names", nargs="*")
    args = ap.parse_args(argv)
    specs = load_specs()
    os.makedirs(LABEL_DIR, exist_ok=True)
    for name in args.names or sorted(specs):
        img = panoramas.working_image(panoramas.tone_map(panoramas.load_hdr(name)))
        label = make_label(name, specs[name], img)
        cv2.imwrite(os.path.join(LABEL_DIR, name + ".png"), label)
        counts = np.bincount(label.ravel(), minlength=4) / label.size * 100
        print(name, "other %.1f%% sky %.1f%% ground %.1f%% ceiling %.1f%%" % tuple(counts))
        if args.preview:
            os.makedirs(args.preview, exist_ok=True)
            big = cv2.resize(overlay(img, label), None, fx=2, fy=2, interpolation=cv2.INTER_NEAREST)
            cv2.imwrite(os.path.join(args.preview, name + ".png"), big)


if __name__ == "__main__":
    main(sys.argv[1:])
