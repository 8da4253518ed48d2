#!/usr/bin/python3
"""Writes reference inputs and outputs for the space-rearrangement kernels
(DepthToSpace, SpaceToDepth, SpaceToBatchND, BatchToSpaceND,
ExtractImagePatches) into cases_space.txt and <name>.in<k>.npy / .out.npy.

Run with /usr/bin/python3 from this folder. DepthToSpace and SpaceToDepth
come from PyTorch's pixel_shuffle / pixel_unshuffle (which order channels
"CRD") with the channels regrouped into TensorFlow's "DCR" order;
ExtractImagePatches from torch.nn.functional.unfold with the patch values
reordered to (row, column, channel); the batch/space ops from an explicit
element loop over TensorFlow's documented index formula.
"""
import numpy as np
import torch
import torch.nn.functional as F

from reference_io import Cases, same_pads

rng = np.random.default_rng(20261208)
cases = Cases()
save = cases.save


def rand(*shape):
    return rng.uniform(-1.0, 1.0, size=shape).astype(np.float32)


# ------------------------------------------------- DepthToSpace/SpaceToDepth
def depth_to_space(name, n, h, w, c, b):
    x = rand(n, h, w, c * b * b)
    # DCR channel (i*b + j)*c + k is CRD channel k*b*b + i*b + j.
    crd = x.reshape(n, h, w, b * b, c).transpose(0, 1, 2, 4, 3).reshape(n, h, w, c * b * b)
    y = F.pixel_shuffle(torch.from_numpy(crd).permute(0, 3, 1, 2), b)
    save(name, "DepthToSpace", [x], y.permute(0, 2, 3, 1).contiguous().numpy(),
         T="float", block_size=b)


def space_to_depth(name, n, h, w, c, b):
    x = rand(n, h, w, c)
    y = F.pixel_unshuffle(torch.from_numpy(x).permute(0, 3, 1, 2), b)
    crd = y.permute(0, 2, 3, 1).contiguous().numpy()
    oh, ow = h // b, w // b
    dcr = crd.reshape(n, oh, ow, c, b * b).transpose(0, 1, 2, 4, 3).reshape(n, oh, ow, c * b * b)
    save(name, "SpaceToDepth", [x], dcr, T="float", block_size=b)


depth_to_space("depth_to_space_b2", 2, 3, 4, 3, 2)
depth_to_space("depth_to_space_b3", 1, 2, 2, 2, 3)
space_to_depth("space_to_depth_b2", 2, 4, 6, 3, 2)
space_to_depth("space_to_depth_b3", 1, 6, 3, 2, 3)


# ------------------------------------------- SpaceToBatchND/BatchToSpaceND
def space_to_batch(name, shape, blocks, pads):
    x = rand(*shape)
    m = len(blocks)
    width = [(0, 0)] + [tuple(p) for p in pads] + [(0, 0)] * (len(shape) - 1 - m)
    padded = np.pad(x, width)
    batch = shape[0]
    out_spatial = [padded.shape[1 + i] // blocks[i] for i in range(m)]
    out = np.zeros([batch * int(np.prod(blocks))] + out_spatial + list(shape[1 + m:]), np.float32)
    # output[(offset in block, row-major) * batch + n, pos...] =
    #     padded[n, pos[i] * block[i] + offset[i], ...]
    for ob in range(out.shape[0]):
        n = ob % batch
        offset = np.unravel_index(ob // batch, blocks)
        for pos in np.ndindex(*out_spatial):
            src = tuple(pos[i] * blocks[i] + offset[i] for i in range(m))
            out[(ob,) + pos] = padded[(n,) + src]
    save(name, "SpaceToBatchND", [x, np.array(blocks, np.int32), np.array(pads, np.int32)], out,
         T="float")
    return x, out


def batch_to_space(name, shape, blocks, crops):
    x = rand(*shape)
    m = len(blocks)
    batch = shape[0] // int(np.prod(blocks))
    full = [shape[1 + i] * blocks[i] for i in range(m)]
    joined = np.zeros([batch] + full + list(shape[1 + m:]), np.float32)
    for ib in range(shape[0]):
        n = ib % batch
        offset = np.unravel_index(ib // batch, blocks)
        for pos in np.ndindex(*shape[1:1 + m]):
            dst = tuple(pos[i] * blocks[i] + offset[i] for i in range(m))
            joined[(n,) + dst] = x[(ib,) + pos]
    index = (slice(None),) + tuple(slice(c[0], full[i] - c[1]) for i, c in enumerate(crops))
    save(name, "BatchToSpaceND", [x, np.array(blocks, np.int32), np.array(crops, np.int32)],
         np.ascontiguousarray(joined[index]), T="float")


space_to_batch("space_to_batch_2d", [2, 4, 6, 3], [2, 2], [[0, 0], [0, 0]])
space_to_batch("space_to_batch_pad", [1, 5, 3, 2], [2, 3], [[1, 2], [2, 1]])
space_to_batch("space_to_batch_1d_rest", [2, 6, 2, 2], [3], [[0, 0]])
batch_to_space("batch_to_space_2d", [8, 2, 3, 2], [2, 2], [[0, 0], [0, 0]])
batch_to_space("batch_to_space_crop", [6, 3, 2, 1], [2, 3], [[1, 0], [2, 1]])
batch_to_space("batch_to_space_1d", [4, 3, 2], [2], [[0, 1]])


# ------------------------------------------------------ ExtractImagePatches
def patches(name, n, h, w, c, k, stride, rate, padding):
    x = rand(n, h, w, c)
    if padding == "SAME":
        pt, pb = same_pads(h, k[0], stride[0], rate[0])
        pl, pr = same_pads(w, k[1], stride[1], rate[1])
    else:
        pt = pb = pl = pr = 0
    xt = F.pad(torch.from_numpy(x).permute(0, 3, 1, 2), (pl, pr, pt, pb))
    cols = F.unfold(xt, kernel_size=k, dilation=rate, stride=stride)  # [n, c*kh*kw, L]
    oh = (h + pt + pb - ((k[0] - 1) * rate[0] + 1)) // stride[0] + 1
    ow = (w + pl + pr - ((k[1] - 1) * rate[1] + 1)) // stride[1] + 1
    y = cols.numpy().reshape(n, c, k[0] * k[1], oh, ow).transpose(0, 3, 4, 2, 1)
    save(name, "ExtractImagePatches", [x], y.reshape(n, oh, ow, k[0] * k[1] * c),
         T="float", ksizes=[1, k[0], k[1], 1], strides=[1, stride[0], stride[1], 1],
         rates=[1, rate[0], rate[1], 1], padding=padding)


patches("patches_valid_3x3", 2, 5, 6, 2, (3, 3), (1, 1), (1, 1), "VALID")
patches("patches_same_s2", 1, 7, 6, 3, (3, 2), (2, 2), (1, 1), "SAME")
patches("patches_same_rate2", 1, 6, 7, 2, (2, 3), (1, 2), (2, 2), "SAME")
patches("patches_valid_rate_stride", 1, 9, 8, 1, (2, 2), (3, 2), (3, 2), "VALID")

cases.write("cases_space.txt")
