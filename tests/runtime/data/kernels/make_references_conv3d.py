#!/usr/bin/python3
"""Writes reference inputs and outputs for Conv3D into cases_conv3d.txt and
<name>.in<k>.npy / .out.npy.

Run with /usr/bin/python3 from this folder. The expected outputs come from
PyTorch's conv3d on the data moved from NDHWC to NCDHW and the filter from
DHWIO to OIDHW, with TensorFlow's SAME padding (the odd pixel at the end of
each axis) applied beforehand as an explicit pad.
"""
import numpy as np
import torch
import torch.nn.functional as F

from reference_io import Cases, same_pads

rng = np.random.default_rng(20261209)
cases = Cases()


def rand(*shape):
    return rng.uniform(-1.0, 1.0, size=shape).astype(np.float32)


def conv3d(name, n, dhw, cin, cout, kernel, strides, padding, dilations=(1, 1, 1)):
    x = rand(n, *dhw, cin)
    f = rand(*kernel, cin, cout)
    pads = []
    for size, k, s, d in zip(dhw, kernel, strides, dilations):
        pads.append(same_pads(size, k, s, d) if padding == "SAME" else (0, 0))
    # F.pad lists the last axis first.
    flat = [p for pair in reversed(pads) for p in pair]
    xt = F.pad(torch.from_numpy(x).permute(0, 4, 1, 2, 3).double(), flat)
    ft = torch.from_numpy(f).permute(4, 3, 0, 1, 2).double()
    y = F.conv3d(xt, ft, stride=tuple(strides), dilation=tuple(dilations))
    y = y.permute(0, 2, 3, 4, 1).contiguous().numpy().astype(np.float32)
    cases.save(name, "Conv3D", [x, f], y, T="float", strides=[1, *strides, 1], padding=padding,
               dilations=[1, *dilations, 1])


conv3d("conv3d_same_s1", 1, (4, 5, 6), 2, 3, (3, 3, 3), (1, 1, 1), "SAME")
conv3d("conv3d_same_s2_odd", 1, (5, 7, 6), 3, 2, (3, 3, 3), (2, 2, 2), "SAME")
conv3d("conv3d_same_even_kernel", 2, (4, 4, 5), 2, 2, (2, 2, 2), (1, 1, 1), "SAME")
conv3d("conv3d_same_mixed_strides", 1, (6, 5, 7), 2, 4, (2, 3, 1), (2, 1, 3), "SAME")
conv3d("conv3d_valid_s1", 2, (5, 6, 4), 3, 4, (3, 2, 3), (1, 1, 1), "VALID")
conv3d("conv3d_valid_s2", 1, (7, 8, 9), 2, 3, (3, 3, 2), (2, 2, 2), "VALID")
conv3d("conv3d_dilation2_same", 1, (7, 6, 8), 2, 3, (3, 3, 3), (1, 1, 1), "SAME",
       dilations=(2, 1, 2))
conv3d("conv3d_dilation2_valid", 1, (6, 7, 7), 3, 2, (2, 3, 2), (1, 1, 1), "VALID",
       dilations=(2, 2, 3))
conv3d("conv3d_pointwise", 2, (3, 4, 2), 8, 5, (1, 1, 1), (1, 1, 1), "VALID")
conv3d("conv3d_wide", 1, (4, 6, 6), 16, 16, (3, 3, 3), (1, 1, 1), "SAME")

cases.write("cases_conv3d.txt")
