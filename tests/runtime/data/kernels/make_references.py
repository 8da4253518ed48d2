#!/usr/bin/python3
"""Writes reference inputs and outputs for the convolution, pooling and
resize kernel tests.

Run with /usr/bin/python3 from this folder. Each case becomes
<name>.in<k>.npy (inputs in op order) and <name>.out.npy, and one line in
cases.txt: "<name> <op> attr=value ...", where a value is an int, a bool
(true/false), an int list in brackets or a string.

The expected outputs come from PyTorch (convolution, pooling, the resize
modes it shares with TensorFlow) or from a direct NumPy evaluation of
TensorFlow's documented formulas (legacy resize modes), never from the
runtime itself. Inputs are small so the files stay a few KiB.
"""
import math

import numpy as np
import torch
import torch.nn.functional as F

from reference_io import same_pads

rng = np.random.default_rng(20240601)
lines = []


def save(name, op, inputs, output, **attrs):
    for k, a in enumerate(inputs):
        np.save(f"{name}.in{k}.npy", np.ascontiguousarray(a))
    np.save(f"{name}.out.npy", np.ascontiguousarray(output.astype(np.float32)))
    parts = [name, op]
    for key, value in attrs.items():
        if isinstance(value, bool):
            parts.append(f"{key}={'true' if value else 'false'}")
        elif isinstance(value, (list, tuple)):
            parts.append(f"{key}=[{','.join(str(v) for v in value)}]")
        else:
            parts.append(f"{key}={value}")
    lines.append(" ".join(parts))


def rand(*shape):
    return rng.uniform(-1.0, 1.0, size=shape).astype(np.float32)


def nhwc_to_nchw(a):
    return torch.from_numpy(a).permute(0, 3, 1, 2)


def nchw_to_nhwc(t):
    return t.permute(0, 2, 3, 1).contiguous().numpy()


# ---------------------------------------------------------------- Conv2D
def conv(name, n, h, w, cin, cout, kh, kw, stride, padding, dilation=1, explicit=None):
    x = rand(n, h, w, cin)
    f = rand(kh, kw, cin, cout)
    if padding == "SAME":
        pt, pb = same_pads(h, kh, stride, dilation)
        pl, pr = same_pads(w, kw, stride, dilation)
    elif padding == "EXPLICIT":
        pt, pb, pl, pr = explicit[2], explicit[3], explicit[4], explicit[5]
    else:
        pt = pb = pl = pr = 0
    xt = F.pad(nhwc_to_nchw(x), (pl, pr, pt, pb))
    ft = torch.from_numpy(f).permute(3, 2, 0, 1)  # HWIO -> OIHW
    y = nchw_to_nhwc(F.conv2d(xt, ft, stride=stride, dilation=dilation))
    attrs = dict(T="float", strides=[1, stride, stride, 1], padding=padding,
                 dilations=[1, dilation, dilation, 1])
    if explicit is not None:
        attrs["explicit_paddings"] = explicit
    save(name, "Conv2D", [x, f], y, **attrs)


conv("conv_same_s1", 1, 5, 6, 3, 4, 3, 3, 1, "SAME")
conv("conv_same_s2_odd", 1, 7, 8, 2, 3, 3, 3, 2, "SAME")
conv("conv_same_even_kernel", 1, 5, 5, 2, 2, 2, 2, 1, "SAME")
conv("conv_valid_s2", 2, 9, 7, 3, 5, 3, 3, 2, "VALID")
conv("conv_dilation2", 1, 9, 9, 2, 3, 3, 3, 1, "SAME", dilation=2)
conv("conv_dilation2_valid", 1, 8, 10, 3, 2, 3, 3, 1, "VALID", dilation=2)
conv("conv_pointwise", 1, 4, 4, 8, 6, 1, 1, 1, "VALID")
conv("conv_explicit", 1, 6, 5, 2, 3, 3, 3, 1, "EXPLICIT",
     explicit=[0, 0, 1, 2, 0, 1, 0, 0])
conv("conv_wide", 1, 6, 6, 16, 16, 3, 3, 1, "SAME")


# ------------------------------------------------- DepthwiseConv2dNative
def depthwise(name, h, w, c, m, k, stride, padding, dilation=1):
    x = rand(1, h, w, c)
    f = rand(k, k, c, m)
    if padding == "SAME":
        pt, pb = same_pads(h, k, stride, dilation)
        pl, pr = same_pads(w, k, stride, dilation)
    else:
        pt = pb = pl = pr = 0
    xt = F.pad(nhwc_to_nchw(x), (pl, pr, pt, pb))
    # [kh, kw, C, M] -> [C*M, 1, kh, kw]; output channel c*M + m
    ft = torch.from_numpy(f).permute(2, 3, 0, 1).reshape(c * m, 1, k, k)
    y = nchw_to_nhwc(F.conv2d(xt, ft, stride=stride, dilation=dilation, groups=c))
    save(name, "DepthwiseConv2dNative", [x, f], y, T="float", strides=[1, stride, stride, 1],
         padding=padding, dilations=[1, dilation, dilation, 1])


depthwise("depthwise_same_m1", 6, 7, 4, 1, 3, 1, "SAME")
depthwise("depthwise_s2_m2", 7, 8, 3, 2, 3, 2, "SAME")
depthwise("depthwise_valid_dilation2", 9, 9, 2, 1, 3, 1, "VALID", dilation=2)


# --------------------------------------------------- Conv2DBackpropInput
def backprop_input(name, h, w, cin, cout, k, stride, padding):
    """Gradient of a TensorFlow-padded convolution with respect to its input."""
    f = rand(k, k, cin, cout)
    if padding == "SAME":
        pt, pb = same_pads(h, k, stride, 1)
        pl, pr = same_pads(w, k, stride, 1)
    else:
        pt = pb = pl = pr = 0
    x = torch.zeros(1, cin, h, w, requires_grad=True)
    ft = torch.from_numpy(f).permute(3, 2, 0, 1)
    y = F.conv2d(F.pad(x, (pl, pr, pt, pb)), ft, stride=stride)
    grad = rand(1, y.shape[2], y.shape[3], cout)
    y.backward(nhwc_to_nchw(grad))
    save(name, "Conv2DBackpropInput", [np.array([1, h, w, cin], dtype=np.int32), f, grad],
         nchw_to_nhwc(x.grad), T="float", strides=[1, stride, stride, 1], padding=padding)


backprop_input("backprop_input_same_s2", 8, 6, 3, 4, 3, 2, "SAME")
backprop_input("backprop_input_same_s2_odd", 7, 7, 2, 3, 3, 2, "SAME")
backprop_input("backprop_input_valid_k2s2", 6, 8, 4, 2, 2, 2, "VALID")


# ---------------------------------------------------------------- pooling
def pool(name, op, n, h, w, c, k, stride, padding):
    x = rand(n, h, w, c)
    if padding == "SAME":
        pt, pb = same_pads(h, k, stride, 1)
        pl, pr = same_pads(w, k, stride, 1)
    else:
        pt = pb = pl = pr = 0
    xt = nhwc_to_nchw(x)
    if op == "MaxPool":
        padded = F.pad(xt, (pl, pr, pt, pb), value=-math.inf)
        y = F.max_pool2d(padded, k, stride)
    else:
        # Average over the window's cells inside the image only.
        ones = torch.ones_like(xt[:, :1])
        s = F.avg_pool2d(F.pad(xt, (pl, pr, pt, pb)), k, stride, divisor_override=1)
        cnt = F.avg_pool2d(F.pad(ones, (pl, pr, pt, pb)), k, stride, divisor_override=1)
        y = s / cnt
    save(name, op, [x], nchw_to_nhwc(y), T="float", ksize=[1, k, k, 1],
         strides=[1, stride, stride, 1], padding=padding)


pool("maxpool_2x2_valid", "MaxPool", 1, 6, 8, 3, 2, 2, "VALID")
pool("maxpool_3x3_s2_same_odd", "MaxPool", 2, 7, 7, 2, 3, 2, "SAME")
pool("maxpool_3x3_s1_same", "MaxPool", 1, 5, 4, 4, 3, 1, "SAME")
pool("maxpool_2x2_s2_same_odd", "MaxPool", 1, 5, 5, 1, 2, 2, "SAME")
pool("avgpool_2x2_valid", "AvgPool", 1, 6, 8, 3, 2, 2, "VALID")
pool("avgpool_3x3_s2_same_odd", "AvgPool", 2, 7, 7, 2, 3, 2, "SAME")
pool("avgpool_3x3_s1_same", "AvgPool", 1, 5, 4, 4, 3, 1, "SAME")


# ---------------------------------------------------------------- resize
def legacy_bilinear(x, oh, ow, align_corners):
    """TensorFlow's ResizeBilinear without half-pixel centres."""
    n, h, w, c = x.shape

    def scale(i, o):
        return (i - 1) / (o - 1) if align_corners and o > 1 else i / o

    def weights(o, i, s):
        src = np.arange(o, dtype=np.float32) * np.float32(s)
        lo = np.floor(src).astype(np.int64)
        hi = np.minimum(np.ceil(src).astype(np.int64), i - 1)
        return np.maximum(lo, 0), hi, src - np.floor(src)

    y0, y1, ly = weights(oh, h, scale(h, oh))
    x0, x1, lx = weights(ow, w, scale(w, ow))
    top = x[:, y0][:, :, x0] + (x[:, y0][:, :, x1] - x[:, y0][:, :, x0]) * lx[None, None, :, None]
    bot = x[:, y1][:, :, x0] + (x[:, y1][:, :, x1] - x[:, y1][:, :, x0]) * lx[None, None, :, None]
    return top + (bot - top) * ly[None, :, None, None]


def resize(name, op, n, h, w, c, oh, ow, align_corners, half_pixel_centers):
    x = rand(n, h, w, c)
    xt = nhwc_to_nchw(x)
    if op == "ResizeBilinear":
        if half_pixel_centers:
            y = nchw_to_nhwc(F.interpolate(xt, size=(oh, ow), mode="bilinear", align_corners=False))
        elif align_corners:
            y = nchw_to_nhwc(F.interpolate(xt, size=(oh, ow), mode="bilinear", align_corners=True))
        else:
            y = legacy_bilinear(x, oh, ow, False)
    else:
        if half_pixel_centers:
            y = nchw_to_nhwc(F.interpolate(xt, size=(oh, ow), mode="nearest-exact"))
        elif align_corners:
            sy = (h - 1) / (oh - 1) if oh > 1 else 0.0
            sx = (w - 1) / (ow - 1) if ow > 1 else 0.0
            # roundf: halves go up (np.round would go to even)
            iy = np.minimum(np.floor(np.arange(oh) * np.float32(sy) + 0.5).astype(np.int64), h - 1)
            ix = np.minimum(np.floor(np.arange(ow) * np.float32(sx) + 0.5).astype(np.int64), w - 1)
            y = x[:, iy][:, :, ix]
        else:
            y = nchw_to_nhwc(F.interpolate(xt, size=(oh, ow), mode="nearest"))
    save(name, op, [x, np.array([oh, ow], dtype=np.int32)], y, T="float",
         align_corners=align_corners, half_pixel_centers=half_pixel_centers)


for op, short in (("ResizeBilinear", "bilinear"), ("ResizeNearestNeighbor", "nearest")):
    resize(f"{short}_up_legacy", op, 1, 4, 6, 2, 7, 9, False, False)
    resize(f"{short}_down_legacy", op, 1, 8, 6, 2, 3, 4, False, False)
    resize(f"{short}_up_align", op, 2, 3, 4, 1, 6, 7, True, False)
    resize(f"{short}_down_align", op, 1, 7, 9, 1, 4, 5, True, False)
    resize(f"{short}_up_half", op, 1, 4, 5, 3, 8, 11, False, True)
    resize(f"{short}_down_half", op, 1, 9, 8, 2, 4, 3, False, True)

# ----------------------------------------- transposed (input-gradient) convolutions
# Added after the older cases so that their random inputs stay as they were.
def tf_pads(size, k, stride, dilation, padding, explicit=None):
    if padding == "SAME":
        return same_pads(size, k, stride, dilation)
    if padding == "EXPLICIT":
        return explicit
    return 0, 0


def crop_transposed(full, pads, sizes):
    """The input gradient from the unpadded transposed convolution `full`
    (N, C, *spatial): padding cells dropped, rows no window reached zero."""
    index = [slice(None), slice(None)]
    for axis, ((before, _), size) in enumerate(zip(pads, sizes)):
        short = before + size - full.shape[2 + axis]
        if short > 0:
            widths = [0, 0] * (full.dim() - 2 - axis - 1) + [0, short]
            full = F.pad(full, widths)
        index.append(slice(before, before + size))
    return full[tuple(index)]


def transposed_conv(name, n, h, w, c, m, kh, kw, strides, padding, dilations=(1, 1),
                    explicit=None, nchw=False, depthwise=True):
    """An input gradient as PyTorch's transposed convolution: with C groups
    of M for DepthwiseConv2dNativeBackpropInput, else one group of C -> M
    (Conv2DBackpropInput)."""
    f = rand(kh, kw, c, m)
    pads = [tf_pads(h, kh, strides[0], dilations[0], padding, explicit and explicit[0]),
            tf_pads(w, kw, strides[1], dilations[1], padding, explicit and explicit[1])]
    oh = (h + sum(pads[0]) - (kh - 1) * dilations[0] - 1) // strides[0] + 1
    ow = (w + sum(pads[1]) - (kw - 1) * dilations[1] - 1) // strides[1] + 1
    out_c = c * m if depthwise else m
    grad = rand(n, out_c, oh, ow)  # NCHW
    if depthwise:
        ft, groups = torch.from_numpy(f).permute(2, 3, 0, 1).reshape(c * m, 1, kh, kw), c
    else:
        ft, groups = torch.from_numpy(f).permute(3, 2, 0, 1), 1
    full = F.conv_transpose2d(torch.from_numpy(grad), ft, stride=tuple(strides),
                              dilation=tuple(dilations), groups=groups)
    x = crop_transposed(full, pads, (h, w))
    if nchw:
        sizes, g, y = [n, c, h, w], grad, x.contiguous().numpy()
        attrs = dict(strides=[1, 1, *strides], dilations=[1, 1, *dilations], data_format="NCHW")
    else:
        sizes, g, y = [n, h, w, c], grad.transpose(0, 2, 3, 1), nchw_to_nhwc(x)
        attrs = dict(strides=[1, *strides, 1], dilations=[1, *dilations, 1])
    if explicit is not None:
        pairs = [[0, 0], [0, 0], list(explicit[0]), list(explicit[1])] if nchw else \
                [[0, 0], list(explicit[0]), list(explicit[1]), [0, 0]]
        attrs["explicit_paddings"] = [v for pair in pairs for v in pair]
    op = "DepthwiseConv2dNativeBackpropInput" if depthwise else "Conv2DBackpropInput"
    save(name, op, [np.array(sizes, dtype=np.int32), f, g], y, T="float", padding=padding, **attrs)


transposed_conv("dw_backprop_same_s1_m1", 1, 6, 7, 3, 1, 3, 3, (1, 1), "SAME")
transposed_conv("dw_backprop_same_s2_m2_odd", 1, 7, 8, 2, 2, 3, 3, (2, 2), "SAME")
transposed_conv("dw_backprop_valid_k3x2_s2x1_m3", 2, 7, 6, 2, 3, 3, 2, (2, 1), "VALID")
transposed_conv("dw_backprop_dilation2_m2", 1, 9, 8, 3, 2, 3, 3, (1, 1), "SAME",
                dilations=(2, 2))
transposed_conv("dw_backprop_valid_dilation_1x2_s2", 1, 9, 10, 2, 1, 2, 3, (2, 2), "VALID",
                dilations=(1, 2))
transposed_conv("dw_backprop_explicit_m2", 1, 5, 6, 2, 2, 3, 3, (1, 2), "EXPLICIT",
                explicit=((1, 2), (2, 0)))
transposed_conv("dw_backprop_nchw_s2_m2", 2, 7, 6, 3, 2, 3, 2, (2, 2), "SAME", nchw=True)
transposed_conv("dw_backprop_nchw_explicit", 1, 6, 5, 2, 1, 2, 2, (1, 1), "EXPLICIT",
                explicit=((0, 1), (1, 1)), nchw=True)
transposed_conv("backprop_input_nchw_s2_dilation", 1, 8, 7, 3, 2, 3, 3, (2, 1), "SAME",
                dilations=(1, 2), nchw=True, depthwise=False)


with open("cases.txt", "w") as f:
    f.write("\n".join(lines) + "\n")
print(f"{len(lines)} cases")
