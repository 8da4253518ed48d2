#!/usr/bin/python3
"""Writes reference inputs and outputs for the logic, division and math
kernel tests (kernel_logic_test.cc, kernel_division_test.cc,
kernel_math_test.cc).

Run with /usr/bin/python3 from this folder. Each case becomes
<name>.in<k>.npy (inputs in op order) and <name>.out.npy; the tests name
the op and its attrs themselves. Expected values come from NumPy, Python's
math module and PyTorch, never from the runtime. Inputs are small.
"""
import math

import numpy as np
import torch

rng = np.random.default_rng(20261208)


def save(name, inputs, output):
    for k, a in enumerate(inputs):
        np.save(f"{name}.in{k}.npy", np.asarray(a, order="C"))
    np.save(f"{name}.out.npy", np.asarray(output, order="C"))


def rand(*shape, lo=-3.0, hi=3.0):
    return rng.uniform(lo, hi, size=shape).astype(np.float32)


def bools(*shape):
    return rng.integers(0, 2, size=shape).astype(np.bool_)


# ------------------------------------------------------------ logic
a, b = bools(2, 3, 4), bools(3, 1)
save("logical_and_bcast", [a, b], np.logical_and(a, b))
save("logical_or_bcast", [a, b], np.logical_or(a, b))
save("logical_not", [a], np.logical_not(a))
x, y = rng.integers(-2, 3, size=(4, 1, 3)).astype(np.int32), rng.integers(-2, 3, size=(5, 1)).astype(np.int32)
save("not_equal_int_bcast", [x, y], np.not_equal(x, y))
u, v = rand(2, 5), rand(5)
v[1] = u[0, 1]
save("less_equal_float_bcast", [u, v], np.less_equal(u, v))
c = bools(3, 4, 5)
for axes in ([1], [0, 2], [-1]):
    tag = "_".join(str(i).replace("-", "m") for i in axes)
    save(f"all_axes_{tag}", [c, np.array(axes, np.int32)], np.all(c, axis=tuple(axes)))
    save(f"any_axes_{tag}", [c, np.array(axes, np.int32)], np.any(c, axis=tuple(axes)))

# --------------------------------------------------------- division
xi = rng.integers(-20, 21, size=(3, 4)).astype(np.int32)
yi = np.array([-7, -3, 2, 5], np.int32)
save("floor_div_int", [xi, yi], np.floor_divide(xi, yi))
save("floor_mod_int", [xi, yi], np.mod(xi, yi))
save("truncate_div_int", [xi, yi], np.trunc(xi / yi).astype(np.int32))
save("mod_int", [xi, yi], np.fmod(xi, yi))
xl = rng.integers(-10**12, 10**12, size=(6,)).astype(np.int64)
yl = np.array([-3, 7, -1000003, 2, 9, -5], np.int64)
save("floor_div_int64", [xl, yl], np.floor_divide(xl, yl))
save("floor_mod_int64", [xl, yl], np.mod(xl, yl))
xf = rand(2, 3, 4, lo=-10, hi=10)
yf = np.array([-2.5, 1.5, 3.0, -0.75], np.float32)
save("floor_div_float", [xf, yf], np.floor_divide(xf, yf))
save("floor_mod_float", [xf, yf], np.mod(xf, yf))
save("mod_float", [xf, yf], np.fmod(xf, yf))

# ------------------------------------------------------------- math
xm = rand(3, 7)
xm[0, 0] = 0.0
as64 = xm.astype(np.float64)
erf = np.vectorize(math.erf)
erfc = np.vectorize(math.erfc)
save("erf", [xm], erf(as64).astype(np.float32))
save("erfc", [xm], erfc(as64).astype(np.float32))
save("sin", [xm], np.sin(as64).astype(np.float32))
save("cos", [xm], np.cos(as64).astype(np.float32))
save("tan", [xm], np.tan(as64).astype(np.float32))
save("atan", [xm], np.arctan(as64).astype(np.float32))
save("sinh", [xm], np.sinh(as64).astype(np.float32))
save("softsign", [xm], (as64 / (1 + np.abs(as64))).astype(np.float32))
save("selu", [xm], torch.nn.functional.selu(torch.from_numpy(as64)).numpy().astype(np.float32))
save("expm1", [xm], np.expm1(as64).astype(np.float32))
xp = rand(3, 7, lo=0.1, hi=4.0)
save("reciprocal", [xp], (1.0 / xp.astype(np.float64)).astype(np.float32))
save("log1p", [xp], np.log1p(xp.astype(np.float64)).astype(np.float32))
xs = rand(4, 3)
ys = rand(3)
save("squared_difference_bcast", [xs, ys],
     np.square(xs.astype(np.float64) - ys.astype(np.float64)).astype(np.float32))
lo, hi = rand(1, 3, lo=-2, hi=-0.5), np.float32(1.25)
save("clip_by_value_bcast", [xs, lo, np.array(hi)], np.clip(xs, lo, hi))
n1, n2, n3 = rand(2, 3), rand(2, 3), rand(2, 3)
save("add_n_three", [n1, n2, n3], ((n1 + n2) + n3).astype(np.float32))
