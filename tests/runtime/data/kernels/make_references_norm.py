#!/usr/bin/python3
"""Writes reference inputs and outputs for LRN and the FusedBatchNorm
versions into cases_norm.txt and <name>.in<k>.npy / .out.npy.

Run with /usr/bin/python3 from this folder. LRN comes from PyTorch's
local_response_norm (whose alpha is divided by the window size, so it is
given alpha * (2 * depth_radius + 1)); FusedBatchNorm from
torch.nn.functional.batch_norm in inference mode, with NCHW inputs for the
channels-first cases.
"""
import numpy as np
import torch
import torch.nn.functional as F

from reference_io import Cases

rng = np.random.default_rng(20261210)
cases = Cases()


def save(name, op, inputs, output, **attrs):
    cases.save(name, op, inputs, output.astype(np.float32), **attrs)


def lrn(name, shape, radius, bias, alpha, beta):
    x = rng.uniform(-2, 2, size=shape).astype(np.float32)
    size = 2 * radius + 1
    y = F.local_response_norm(torch.from_numpy(x).permute(0, 3, 1, 2), size,
                              alpha=alpha * size, beta=beta, k=bias)
    save(name, "LRN", [x], y.permute(0, 2, 3, 1).numpy(), T="float", depth_radius=radius,
         bias=f"{bias:.6f}", alpha=f"{alpha:.6f}", beta=f"{beta:.6f}")


lrn("lrn_alexnet", (1, 3, 4, 12), 2, 2.0, 1e-4 * 5, 0.75)
lrn("lrn_defaults", (2, 2, 3, 7), 5, 1.0, 1.0, 0.5)
lrn("lrn_radius1", (1, 2, 2, 5), 1, 0.5, 0.3, 1.25)


def batch_norm(name, op, shape, channels_first, epsilon):
    x = rng.uniform(-2, 2, size=shape).astype(np.float32)
    c = shape[1] if channels_first else shape[-1]
    scale, offset, mean = (rng.uniform(-1, 1, size=c).astype(np.float32) for _ in range(3))
    var = rng.uniform(0.1, 2, size=c).astype(np.float32)
    xt = torch.from_numpy(x if channels_first else np.moveaxis(x, -1, 1).copy())
    y = F.batch_norm(xt, torch.from_numpy(mean), torch.from_numpy(var), torch.from_numpy(scale),
                     torch.from_numpy(offset), training=False, eps=epsilon).numpy()
    if not channels_first:
        y = np.moveaxis(y, 1, -1)
    attrs = dict(T="float", epsilon=f"{epsilon:.6f}", is_training="false",
                 data_format=("NCHW" if len(shape) == 4 else "NCDHW") if channels_first else "NHWC")
    if op != "FusedBatchNorm":
        attrs["U"] = "float"
    save(name, op, [x, scale, offset, mean, var], y, **attrs)


batch_norm("batch_norm_v1_nhwc", "FusedBatchNorm", (2, 3, 4, 5), False, 1e-3)
batch_norm("batch_norm_v2_nchw", "FusedBatchNormV2", (2, 5, 3, 4), True, 1e-3)
batch_norm("batch_norm_v3_ncdhw", "FusedBatchNormV3", (1, 3, 2, 3, 4), True, 1e-5)

cases.write("cases_norm.txt")
