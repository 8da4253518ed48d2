#!/usr/bin/python3
"""Writes reference inputs and outputs for ResizeBicubic and CropAndResize
into cases_resize.txt and <name>.in<k>.npy / .out.npy.

Run with /usr/bin/python3 from this folder. ResizeBicubic with
align_corners comes from PyTorch's bicubic interpolation (coefficient
-0.75, edge pixels repeated), on sizes whose source positions fall on
multiples of 1/1024 so TensorFlow's table lookup is exact; the other modes
from a NumPy evaluation of TensorFlow's documented method (coefficient -0.5
with half-pixel centres and out-of-image taps dropped and renormalised,
-0.75 and repeated edges otherwise, fractions rounded to 1/1024).
CropAndResize from an element loop over its documented sampling formula
(positions in float32).
"""
import numpy as np
import torch
import torch.nn.functional as F

from reference_io import Cases

rng = np.random.default_rng(20261211)
cases = Cases()


def rand(*shape):
    return rng.uniform(-1.0, 1.0, size=shape).astype(np.float32)


def cubic_weight(a, d):
    d = abs(d)
    if d <= 1:
        return ((a + 2) * d - (a + 3)) * d * d + 1
    if d < 2:
        return ((a * d - 5 * a) * d + 8 * a) * d - 4 * a
    return 0.0


def axis_weights(n_in, n_out, align, half):
    scale = (n_in - 1) / (n_out - 1) if align and n_out > 1 else n_in / n_out
    a = -0.5 if half else -0.75
    rows = np.zeros((n_out, n_in))
    for i in range(n_out):
        src = (i + 0.5) * scale - 0.5 if half else i * scale
        base = int(np.floor(src))
        frac = round((src - base) * 1024) / 1024
        taps = [(base - 1 + k, cubic_weight(a, frac + 1 - k)) for k in range(4)]
        if half:
            taps = [(s, w) for s, w in taps if 0 <= s < n_in]
            total = sum(w for _, w in taps)
            taps = [(s, w / total) for s, w in taps]
        for s, w in taps:
            rows[i, min(max(s, 0), n_in - 1)] += w
    return rows


def bicubic(name, n, h, w, c, oh, ow, align, half, torch_ref=False):
    x = rand(n, h, w, c)
    if torch_ref:
        y = F.interpolate(torch.from_numpy(x).permute(0, 3, 1, 2), size=(oh, ow), mode="bicubic",
                          align_corners=True).permute(0, 2, 3, 1).numpy()
    else:
        wy, wx = axis_weights(h, oh, align, half), axis_weights(w, ow, align, half)
        y = np.einsum("ph,nhwc,qw->npqc", wy, x.astype(np.float64), wx)
    cases.save(name, "ResizeBicubic", [x, np.array([oh, ow], np.int32)], y.astype(np.float32),
               T="float", align_corners=align, half_pixel_centers=half)


bicubic("bicubic_align_up_torch", 1, 5, 4, 2, 9, 7, True, False, torch_ref=True)
bicubic("bicubic_align_up", 1, 5, 4, 2, 9, 7, True, False)
bicubic("bicubic_half_up", 2, 4, 5, 3, 7, 9, False, True)
bicubic("bicubic_half_down", 1, 9, 8, 2, 4, 3, False, True)
bicubic("bicubic_legacy_up", 1, 3, 4, 1, 5, 7, False, False)
bicubic("bicubic_legacy_down", 1, 8, 9, 2, 3, 5, False, False)


def crop_and_resize(name, n, h, w, c, boxes, box_ind, ch, cw, method, extrapolation):
    x = rand(n, h, w, c)
    boxes = np.array(boxes, np.float32)
    out = np.zeros((len(boxes), ch, cw, c), np.float32)
    f = np.float32

    def position(lo, hi, i, crop, size):
        # In float32 and in this order, as TensorFlow evaluates it: ties
        # for nearest sampling depend on it.
        if crop <= 1:
            return f(0.5) * (lo + hi) * f(size - 1)
        return lo * f(size - 1) + f(i) * ((hi - lo) * f(size - 1) / f(crop - 1))

    for b, (y1, x1, y2, x2) in enumerate(boxes):
        img = x[box_ind[b]].astype(np.float64)
        for i in range(ch):
            in_y = float(position(y1, y2, i, ch, h))
            for j in range(cw):
                in_x = float(position(x1, x2, j, cw, w))
                if not (0 <= in_y <= h - 1 and 0 <= in_x <= w - 1):
                    out[b, i, j] = extrapolation
                elif method == "nearest":
                    out[b, i, j] = img[int(np.floor(in_y + 0.5)), int(np.floor(in_x + 0.5))]
                else:
                    t, bo = int(np.floor(in_y)), int(np.ceil(in_y))
                    l, r = int(np.floor(in_x)), int(np.ceil(in_x))
                    ly, lx = in_y - t, in_x - l
                    top = img[t, l] + (img[t, r] - img[t, l]) * lx
                    bot = img[bo, l] + (img[bo, r] - img[bo, l]) * lx
                    out[b, i, j] = top + (bot - top) * ly
    cases.save(name, "CropAndResize",
               [x, boxes, np.array(box_ind, np.int32), np.array([ch, cw], np.int32)], out,
               T="float", method=method, extrapolation_value=f"{extrapolation:.6f}")


BOXES = [[0.1, 0.2, 0.8, 0.9], [0.0, 0.0, 1.0, 1.0], [0.6, 0.7, 0.2, 0.1], [-0.2, 0.3, 0.5, 1.3]]
crop_and_resize("crop_bilinear", 2, 6, 7, 3, BOXES, [0, 1, 1, 0], 4, 5, "bilinear", 0.0)
crop_and_resize("crop_nearest_extrapolate", 2, 6, 7, 2, BOXES, [1, 0, 0, 1], 5, 3, "nearest", -7.5)
crop_and_resize("crop_single_pixel", 1, 5, 5, 1, [[0.2, 0.2, 0.6, 0.8]], [0], 1, 1, "bilinear", 0.0)

cases.write("cases_resize.txt")
