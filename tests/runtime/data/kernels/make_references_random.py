#!/usr/bin/python3
"""Writes reference outputs for the random ops into cases_random.txt and
<name>.in<k>.npy / .out.npy.

Run with /usr/bin/python3 from this folder. The values come from a NumPy
re-implementation written from the published algorithms: Philox4x32-10
(Salmon et al., "Parallel Random Numbers: As Easy as 1, 2, 3"; checked
below against the Random123 known-answer vectors), and TensorFlow's
documented use of it: stateful ops seeded with key = seed and counter =
[0, 0, seed2]; stateless seeds scrambled by one Philox block under the key
(0x3ec8f720, 0x02461e29); group g of outputs from counter offset g; floats
from the 23 low bits as a mantissa, doubles from 52; normals by Box-Muller;
integers as lo + bits % range; truncated normals from their own stretch of
128 draws, rejecting |x| >= 2.
"""
import numpy as np

from reference_io import Cases

M0, M1 = np.uint64(0xD2511F53), np.uint64(0xCD9E8D57)
W0, W1 = 0x9E3779B9, 0xBB67AE85
MASK = np.uint64(0xFFFFFFFF)
cases = Cases()


def philox(counter, key):
    """counter: [n, 4] uint64 words (< 2^32), key: (k0, k1). Returns [n, 4]."""
    c = counter.astype(np.uint64).copy()
    k0, k1 = key
    for _ in range(10):
        p0 = M0 * c[:, 0]
        p1 = M1 * c[:, 2]
        c = np.stack([(p1 >> np.uint64(32)) ^ c[:, 1] ^ np.uint64(k0), p1 & MASK,
                      (p0 >> np.uint64(32)) ^ c[:, 3] ^ np.uint64(k1), p0 & MASK], axis=1)
        k0, k1 = (k0 + W0) & 0xFFFFFFFF, (k1 + W1) & 0xFFFFFFFF
    return c


def kat(counter, key, want):
    got = philox(np.array([counter], np.uint64), key)[0]
    assert [int(v) for v in got] == want, [hex(int(v)) for v in got]


kat([0, 0, 0, 0], (0, 0), [0x6627e8d5, 0xe169c58d, 0xbc57ac4c, 0x9b00dbd8])
kat([0xffffffff] * 4, (0xffffffff, 0xffffffff), [0x408f276d, 0x41c83b0e, 0xa20bc7c6, 0x6d5451fd])
kat([0x243f6a88, 0x85a308d3, 0x13198a2e, 0x03707344], (0xa4093822, 0x299f31d0),
    [0xd16cfe09, 0x94fdcceb, 0x5001e420, 0x24126ea1])


def to_words(v):
    v = int(v) & (2**64 - 1)
    return v & 0xFFFFFFFF, v >> 32


def counter_plus(counter, offsets):
    """[4] counter words + each offset (128-bit add) -> [n, 4]."""
    base = sum(int(w) << (32 * i) for i, w in enumerate(counter))
    out = np.zeros((len(offsets), 4), np.uint64)
    for j, off in enumerate(offsets):
        v = (base + int(off)) % (1 << 128)
        out[j] = [(v >> (32 * i)) & 0xFFFFFFFF for i in range(4)]
    return out


def blocks(key, counter, n):
    return philox(counter_plus(counter, range(n)), key)


def u32_to_float(x):
    bits = (np.uint32(127) << np.uint32(23)) | (x.astype(np.uint32) & np.uint32(0x7FFFFF))
    return bits.view(np.float32) - np.float32(1.0)


def u64_to_double(lo, hi):
    bits = (np.uint64(1023) << np.uint64(52)) | (
        ((hi.astype(np.uint64) << np.uint64(32)) | lo.astype(np.uint64)) &
        np.uint64((1 << 52) - 1))
    return bits.view(np.float64) - 1.0


def box_muller_float(x0, x1):
    u1 = np.maximum(u32_to_float(x0), np.float32(1e-7))
    v1 = (2.0 * np.pi * u32_to_float(x1).astype(np.float64)).astype(np.float32)
    u2 = np.sqrt(np.float32(-2.0) * np.log(u1))
    return np.sin(v1) * u2, np.cos(v1) * u2


def box_muller_double(x0, x1, x2, x3):
    u1 = np.maximum(u64_to_double(x0, x1), 1e-7)
    v1 = 2.0 * np.pi * u64_to_double(x2, x3)
    u2 = np.sqrt(-2.0 * np.log(u1))
    return np.sin(v1) * u2, np.cos(v1) * u2


def sample(dist, dtype, key, counter, n, lo=0, hi=0):
    if dist == "truncated":
        out = []
        group = 2
        for g in range((n + group - 1) // group):
            words = blocks(key, counter_plus(counter, [g * 128])[0], 128).reshape(-1)
            vals, i = [], 0
            while len(vals) < 2:
                if dtype == np.float32:
                    pair = box_muller_float(words[i:i + 1], words[i + 1:i + 2])
                    i += 2
                else:
                    pair = box_muller_double(*(words[i + j:i + j + 1] for j in range(4)))
                    i += 4
                vals += [p[0] for p in pair if abs(p[0]) < 2]
            out += vals[:2]
        return np.array(out[:n], dtype)
    per = 4 if dtype in (np.float32, np.int32) else 2
    b = blocks(key, counter, (n + per - 1) // per)
    if dist == "uniform":
        v = u32_to_float(b) if dtype == np.float32 else u64_to_double(b[:, 0::2], b[:, 1::2])
    elif dist == "normal":
        if dtype == np.float32:
            f0, f1 = box_muller_float(b[:, 0::2], b[:, 1::2])
        else:
            f0, f1 = box_muller_double(b[:, 0:1], b[:, 1:2], b[:, 2:3], b[:, 3:4])
        v = np.stack([f0, f1], axis=2).reshape(len(b), per)
    else:  # int
        rng = (hi - lo) & (2**64 - 1)
        if dtype == np.int32:
            v = (lo + (b.astype(np.uint64) % np.uint64(rng)).astype(np.int64)).astype(np.int32)
        else:
            bits = b[:, 0::2] | (b[:, 1::2] << np.uint64(32))
            v = (np.uint64(lo & (2**64 - 1)) + bits % np.uint64(rng)).view(np.int64)
    return v.reshape(-1)[:n].astype(dtype)


def stateful(seed, seed2):
    k0, k1 = to_words(seed)
    c2, c3 = to_words(seed2)
    return (k0, k1), [0, 0, c2, c3]


def stateless(seed0, seed1):
    s00, s01 = to_words(seed0)
    s10, s11 = to_words(seed1)
    mix = philox(np.array([[s00, s01, s10, s11]], np.uint64), (0x3ec8f720, 0x02461e29))[0]
    return (int(mix[0]), int(mix[1])), [0, 0, int(mix[2]), int(mix[3])]


NP = {"float": np.float32, "double": np.float64, "int32": np.int32, "int64": np.int64}


def case(name, op, shape, dist, out_type, key, counter, extra_inputs, lo=0, hi=0, **attrs):
    n = int(np.prod(shape))
    out = sample(dist, NP[out_type], key, counter, n, lo, hi).reshape(shape)
    cases.save(name, op, [np.array(shape, np.int32)] + extra_inputs, out, **attrs)


def bounds(dtype, lo, hi):
    return [np.array(lo, NP[dtype]), np.array(hi, NP[dtype])]


# Stateful ops, first run.
key, ctr = stateful(7, 17)
case("random_normal_float", "RandomStandardNormal", [3, 5], "normal", "float", key, ctr, [],
     dtype="float", T="int32", seed=7, seed2=17)
case("random_normal_double", "RandomStandardNormal", [7], "normal", "double", key, ctr, [],
     dtype="double", T="int32", seed=7, seed2=17)
key, ctr = stateful(-3, 2**40 + 5)
case("random_uniform_float", "RandomUniform", [2, 9], "uniform", "float", key, ctr, [],
     dtype="float", T="int32", seed=-3, seed2=2**40 + 5)
case("random_uniform_int32", "RandomUniformInt", [11], "int", "int32", key, ctr,
     bounds("int32", -5, 12), lo=-5, hi=12, Tout="int32", T="int32", seed=-3, seed2=2**40 + 5)
case("random_uniform_int64", "RandomUniformInt", [5], "int", "int64", key, ctr,
     bounds("int64", -2**40, 2**41), lo=-2**40, hi=2**41, Tout="int64", T="int32", seed=-3,
     seed2=2**40 + 5)
key, ctr = stateful(1, 2)
case("random_truncated_float", "TruncatedNormal", [9], "truncated", "float", key, ctr, [],
     dtype="float", T="int32", seed=1, seed2=2)

# Stateless ops with a seed input.
seed = np.array([1, 2], np.int32)
key, ctr = stateless(1, 2)
case("stateless_normal_float", "StatelessRandomNormal", [2, 6], "normal", "float", key, ctr,
     [seed], dtype="float", T="int32", Tseed="int32")
case("stateless_uniform_double", "StatelessRandomUniform", [5], "uniform", "double", key, ctr,
     [seed], dtype="double", T="int32", Tseed="int32")
case("stateless_uniform_int32", "StatelessRandomUniformInt", [10], "int", "int32", key, ctr,
     [seed] + bounds("int32", 0, 100), lo=0, hi=100, dtype="int32", T="int32", Tseed="int32")
case("stateless_truncated_float", "StatelessTruncatedNormal", [7], "truncated", "float", key,
     ctr, [seed], dtype="float", T="int32", Tseed="int32")

# V2 ops with key and counter as StatelessRandomGetKeyCounter gives them for seed [-9, 4].
key, ctr = stateless(-9, 4)
key_t = np.array([key[0] | (key[1] << 32)], np.uint64)
ctr_t = np.array([ctr[0] | (ctr[1] << 32), ctr[2] | (ctr[3] << 32)], np.uint64)
cases.save("stateless_key_counter", "StatelessRandomGetKeyCounter", [np.array([-9, 4], np.int32)],
           [key_t, ctr_t], Tseed="int32")
alg = np.array(1, np.int32)
case("stateless_v2_normal_float", "StatelessRandomNormalV2", [3, 3], "normal", "float", key, ctr,
     [key_t, ctr_t, alg], dtype="float", Tshape="int32")
case("stateless_v2_uniform_float", "StatelessRandomUniformV2", [13], "uniform", "float", key,
     ctr, [key_t, ctr_t, np.array(3, np.int32)], dtype="float", Tshape="int32")
case("stateless_v2_uniform_int64", "StatelessRandomUniformIntV2", [6], "int", "int64", key, ctr,
     [key_t, ctr_t, alg] + bounds("int64", 10, 20), lo=10, hi=20, dtype="int64",
     Tshape="int32")
# A counter whose low word carries into the next ones.
ctr_wrap = [0xFFFFFFFF, 0xFFFFFFFF, 5, 0]
ctr_wrap_t = np.array([0xFFFFFFFFFFFFFFFF, 5], np.uint64)
case("stateless_v2_counter_carry", "StatelessRandomUniformV2", [12], "uniform", "float", key,
     ctr_wrap, [key_t, ctr_wrap_t, alg], dtype="float", Tshape="int32")

cases.write("cases_random.txt")
