#!/usr/bin/python3
"""Writes reference inputs and outputs for ScaleAndTranslate into
cases_scale_and_translate.txt and <name>.in<k>.npy / .out.npy.

Run with /usr/bin/python3 from this folder. The expected outputs come from a
dense float64 evaluation of the op's documented sampling: output pixel x
samples s = ((x + 0.5) - translation) / scale, source pixel i weighs
k((i + 0.5 - s) / m) with m = max(1 / scale, 1) when antialiasing (else 1),
the weights of each output normalised to sum to one, and 0 where s lies
outside [0, size]. Every source pixel is weighed (no spans), so the only
thing shared with the kernel under test is the formula. The *_torch cases
come from PyTorch's antialiased bilinear and bicubic interpolation, which
use the triangle and Keys cubic kernels the same way for scale = out / in and
no translation; the script checks that the dense evaluation agrees with them.
"""
import math

import numpy as np
import torch
import torch.nn.functional as F

from reference_io import Cases

rng = np.random.default_rng(20261208)
cases = Cases()


def lanczos(r):
    def k(x):
        if x > r:
            return 0.0
        if x < 1e-9:
            return 1.0
        return r * math.sin(math.pi * x) * math.sin(math.pi * x / r) / (math.pi * x) ** 2
    return k, r


def gaussian(x):
    return math.exp(-x * x / (2 * 0.5 ** 2)) if x < 1.5 else 0.0


def box(x):
    return 1.0 if x < 0.5 else (0.5 if x == 0.5 else 0.0)


def triangle(x):
    return max(0.0, 1.0 - x)


def keys(x):
    a = -0.5
    if x < 1:
        return ((a + 2) * x - (a + 3)) * x * x + 1
    if x < 2:
        return ((a * x - 5 * a) * x + 8 * a) * x - 4 * a
    return 0.0


def mitchell(x):
    b = c = 1.0 / 3.0
    if x < 1:
        return ((12 - 9 * b - 6 * c) * x ** 3 + (-18 + 12 * b + 6 * c) * x ** 2 + (6 - 2 * b)) / 6
    if x < 2:
        return ((-b - 6 * c) * x ** 3 + (6 * b + 30 * c) * x ** 2 + (-12 * b - 48 * c) * x
                + (8 * b + 24 * c)) / 6
    return 0.0


KERNELS = {
    "lanczos1": lanczos(1)[0], "lanczos3": lanczos(3)[0], "lanczos5": lanczos(5)[0],
    "gaussian": gaussian, "box": box, "triangle": triangle, "keyscubic": keys,
    "mitchellcubic": mitchell,
}


def axis_weights(kernel, n_in, n_out, scale, translation, antialias):
    k = KERNELS[kernel]
    stretch = max(1.0 / scale, 1.0) if antialias else 1.0
    rows = np.zeros((n_out, n_in))
    for x in range(n_out):
        s = (x + 0.5 - translation) / scale
        if s < 0 or s > n_in:
            continue
        w = np.array([k(abs(i + 0.5 - s) / stretch) for i in range(n_in)])
        if abs(w.sum()) > 1e-30:
            rows[x] = w / w.sum()
    return rows


def dense(x, kernel, oh, ow, scale, translation, antialias):
    wy = axis_weights(kernel, x.shape[1], oh, scale[0], translation[0], antialias)
    wx = axis_weights(kernel, x.shape[2], ow, scale[1], translation[1], antialias)
    return np.einsum("ph,nhwc,qw->npqc", wy, x.astype(np.float64), wx)


def rand(*shape):
    return rng.uniform(-1.0, 1.0, size=shape).astype(np.float32)


def case(name, x, kernel, oh, ow, scale=None, translation=(0.0, 0.0), antialias=True, want=None):
    h, w = x.shape[1], x.shape[2]
    if scale is None:
        # As tf.image.resize passes it: the float32 ratio of the sizes.
        scale = (float(np.float32(oh) / np.float32(h)), float(np.float32(ow) / np.float32(w)))
    if want is None:
        want = dense(x, kernel, oh, ow, scale, translation, antialias)
    dtype = {np.float32: "float", np.uint8: "uint8", np.float64: "double"}[x.dtype.type]
    cases.save(name, "ScaleAndTranslate",
               [x, np.array([oh, ow], np.int32), np.array(scale, np.float32),
                np.array(translation, np.float32)],
               want.astype(np.float32), T=dtype, kernel_type=kernel, antialias=antialias)


# Every kernel down (antialiased, so the kernel is stretched) and up. Box
# and gaussian jump to 0 at their edge, so their sizes keep every source
# pixel off it (odd sizes on the side divided by): a pixel exactly there
# counts or not by float rounding.
for kernel in KERNELS:
    jumps = kernel in ("box", "gaussian")
    case(f"sat_{kernel}_down", rand(1, 11, 13, 2), kernel, 5 if jumps else 4, 3 if jumps else 5)
    case(f"sat_{kernel}_up", rand(2, 5 if jumps else 4, 3 if jumps else 5, 1), kernel, 9, 7)

# Without antialiasing a downscale keeps the kernel's own width.
case("sat_lanczos3_down_plain", rand(1, 12, 9, 2), "lanczos3", 5, 4, antialias=False)
case("sat_keyscubic_down_plain", rand(2, 10, 8, 1), "keyscubic", 3, 5, antialias=False)
case("sat_box_down_plain", rand(1, 9, 9, 1), "box", 4, 2, antialias=False)

# Scales that are not size ratios and translations that move samples off
# the image (those outputs are 0).
case("sat_triangle_translate", rand(1, 6, 7, 3), "triangle", 8, 9, scale=(1.3, 0.7),
     translation=(0.4, -1.2))
case("sat_lanczos3_translate", rand(2, 9, 8, 2), "lanczos3", 5, 6, scale=(0.45, 1.6),
     translation=(-0.75, 2.5))
case("sat_mitchellcubic_shift_only", rand(1, 5, 6, 1), "mitchellcubic", 5, 6, scale=(1.0, 1.0),
     translation=(0.25, -0.5))

# Integer and double images.
case("sat_uint8_lanczos3", rng.integers(0, 256, size=(2, 8, 10, 3)).astype(np.uint8), "lanczos3",
     5, 13)
case("sat_double_gaussian", rng.uniform(-1, 1, size=(1, 7, 5, 2)), "gaussian", 3, 9)


def torch_case(name, mode, kernel, n, h, w, c, oh, ow):
    x = rand(n, h, w, c)
    y = F.interpolate(torch.from_numpy(x).permute(0, 3, 1, 2).double(), size=(oh, ow), mode=mode,
                      antialias=True, align_corners=False).permute(0, 2, 3, 1).numpy()
    scale = (float(np.float32(oh) / np.float32(h)), float(np.float32(ow) / np.float32(w)))
    mine = dense(x, kernel, oh, ow, scale, (0.0, 0.0), True)
    assert np.abs(mine - y).max() < 1e-5, (name, np.abs(mine - y).max())
    case(name, x, kernel, oh, ow, want=y)


torch_case("sat_triangle_down_torch", "bilinear", "triangle", 2, 12, 10, 3, 5, 4)
torch_case("sat_triangle_up_torch", "bilinear", "triangle", 1, 4, 5, 2, 9, 8)
torch_case("sat_keyscubic_down_torch", "bicubic", "keyscubic", 1, 15, 11, 2, 4, 6)
torch_case("sat_keyscubic_up_torch", "bicubic", "keyscubic", 1, 5, 4, 1, 8, 11)

cases.write("cases_scale_and_translate.txt")
