#!/usr/bin/python3
"""Writes reference inputs and outputs for the index, sequence, gather and
scatter kernel tests (kernel_sequence_test.cc, kernel_gather_test.cc).

Run with /usr/bin/python3 from this folder. Each case becomes
<name>.in<k>.npy (inputs in op order) and <name>.out.npy (several outputs:
<name>.out<k>.npy); the tests name the op and its attrs themselves.
Expected values come from NumPy (and PyTorch for top-k), never from the
runtime. Inputs are small.
"""
import numpy as np
import torch

rng = np.random.default_rng(20261209)


def save(name, inputs, *outputs):
    for k, a in enumerate(inputs):
        np.save(f"{name}.in{k}.npy", np.asarray(a, order="C"))
    if len(outputs) == 1:
        np.save(f"{name}.out.npy", np.asarray(outputs[0], order="C"))
    else:
        for k, o in enumerate(outputs):
            np.save(f"{name}.out{k}.npy", np.asarray(o, order="C"))


def rand(*shape):
    return rng.uniform(-1.0, 1.0, size=shape).astype(np.float32)


i32 = lambda v: np.array(v, np.int32)

# ----------------------------------------------------------- Where
m = rng.integers(0, 3, size=(3, 4, 2)).astype(np.float32) - 1.0
save("where_float_3d", [m], np.argwhere(m != 0).astype(np.int64))
b = rng.integers(0, 2, size=(5, 3)).astype(np.bool_)
save("where_bool_2d", [b], np.argwhere(b).astype(np.int64))

# ---------------------------------------------------- Cumsum/Cumprod
x = rand(3, 4, 5)
for axis in (0, 1, -1):
    for exclusive in (False, True):
        for reverse in (False, True):
            tag = f"ax{axis}".replace("-", "m") + ("_excl" if exclusive else "") + ("_rev" if reverse else "")
            v = np.flip(x, axis) if reverse else x
            s = np.cumsum(v, axis=axis, dtype=np.float32)
            if exclusive:  # shift by one, starting from zero
                s = np.concatenate([np.zeros_like(np.take(v, [0], axis=axis)),
                                    np.take(s, range(v.shape[axis] - 1), axis=axis)], axis=axis)
            if reverse:
                s = np.flip(s, axis)
            save(f"cumsum_{tag}", [x, i32(axis)], np.ascontiguousarray(s))
xp = rng.integers(1, 4, size=(2, 6)).astype(np.int32)
save("cumprod_int_ax1", [xp, i32(1)], np.cumprod(xp, axis=1).astype(np.int32))

# ------------------------------------------------------------ TopKV2
t = rng.integers(0, 6, size=(3, 9)).astype(np.float32)  # many ties
vals, idx = [], []
for row in t:
    order = sorted(range(len(row)), key=lambda j: (-row[j], j))[:4]
    vals.append(row[order])
    idx.append(order)
save("top_k_ties", [t, i32(4)], np.array(vals, np.float32), np.array(idx, np.int32))
u = rand(2, 3, 7)
tv, ti = torch.topk(torch.from_numpy(u), 3, dim=-1, sorted=True)
save("top_k_3d", [u, i32(3)], tv.numpy(), ti.numpy().astype(np.int32))

# ------------------------------------------------------------ OneHot
ind = np.array([[0, 2, -1], [3, 1, 5]], np.int64)
depth = 4
eye = (ind[..., None] == np.arange(depth)).astype(np.float32) * 5.0 + \
      (ind[..., None] != np.arange(depth)).astype(np.float32) * -1.0
save("one_hot_last", [ind, i32(depth), np.float32(5.0), np.float32(-1.0)], eye)
save("one_hot_axis0", [ind, i32(depth), np.float32(5.0), np.float32(-1.0)],
     np.ascontiguousarray(np.moveaxis(eye, -1, 0)))
save("one_hot_axis1", [ind, i32(depth), np.float32(5.0), np.float32(-1.0)],
     np.ascontiguousarray(np.moveaxis(eye, -1, 1)))

# ----------------------------------------------- ReverseV2, BroadcastTo
r = rand(2, 3, 4)
save("reverse_0_2", [r, i32([0, -1])], np.ascontiguousarray(np.flip(r, (0, 2))))
bt = rand(3, 1)
save("broadcast_to_2_3_4", [bt, i32([2, 3, 4])], np.ascontiguousarray(np.broadcast_to(bt, (2, 3, 4))))

# -------------------------------------------------------------- Range
save("range_float", [np.float32(0.5), np.float32(2.9), np.float32(0.3)],
     np.arange(0.5, 2.9, 0.3, dtype=np.float32))
save("range_int_down", [i32(10), i32(-3), i32(-4)], np.arange(10, -3, -4, dtype=np.int32))

# --------------------------------------------------- ArgMin / ArgMax
a = rng.integers(0, 4, size=(3, 5, 2)).astype(np.float32)
save("arg_min_ax1", [a, i32(1)], np.argmin(a, axis=1).astype(np.int64))
save("arg_max_axm1", [a, i32(-1)], np.argmax(a, axis=-1).astype(np.int64))

# ----------------------------------------------------------- GatherV2
p = rand(4, 5, 3)
gi = np.array([[3, 0], [1, 3], [4, 4]], np.int32)
save("gather_v2_axis1", [p, gi, i32(1)], np.take(p, gi, axis=1))
save("gather_v2_axism1", [p, np.array([2, 0], np.int64), i32(-1)], np.take(p, [2, 0], axis=-1))
# batch_dims=1: params [4, 5, 3], indices [4, 2], axis 1.
bi = rng.integers(0, 5, size=(4, 2)).astype(np.int32)
save("gather_v2_batch1", [p, bi, i32(1)], np.stack([np.take(p[k], bi[k], axis=0) for k in range(4)]))
# batch_dims=1, axis 2: params [4, 5, 3], indices [4, 6].
ci = rng.integers(0, 3, size=(4, 6)).astype(np.int32)
save("gather_v2_batch1_axis2", [p, ci, i32(2)], np.stack([np.take(p[k], ci[k], axis=1) for k in range(4)]))

# ----------------------------------------------------------- GatherNd
g = rand(3, 4, 2)
ni = np.array([[[0, 1], [2, 3]], [[1, 0], [2, 2]]], np.int64)
save("gather_nd_slices", [g, ni], g[ni[..., 0], ni[..., 1]])
ei = np.array([[0, 0, 1], [2, 3, 0], [1, 2, 1]], np.int32)
save("gather_nd_elements", [g, ei], g[ei[:, 0], ei[:, 1], ei[:, 2]])

# ---------------------------------------------------------- ScatterNd
si = np.array([[1], [3], [1], [0]], np.int32)
su = rand(4, 3)
dense = np.zeros((5, 3), np.float32)
np.add.at(dense, si[:, 0], su)
save("scatter_nd_repeats", [si, su, i32([5, 3])], dense)
base = rand(4, 3)
ti2 = np.array([[0, 2], [3, 1], [1, 1]], np.int64)
tu = rand(3)
upd = base.copy()
upd[ti2[:, 0], ti2[:, 1]] = tu
save("tensor_scatter_update", [base, ti2, tu], upd)
add = base.copy()
np.add.at(add, (ti2[:, 0], ti2[:, 1]), tu)
save("tensor_scatter_add", [base, ti2, tu], add)

# ------------------------------------------------------ SparseToDense
spi = np.array([[0, 1], [1, 3], [2, 0]], np.int64)
spv = np.array([7, 8, 9], np.int32)
sd = np.full((3, 4), -1, np.int32)
sd[spi[:, 0], spi[:, 1]] = spv
save("sparse_to_dense_2d", [spi, np.array([3, 4], np.int64), spv, np.int32(-1)], sd)
