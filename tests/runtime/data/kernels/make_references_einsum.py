#!/usr/bin/python3
"""Writes reference inputs and outputs for the Einsum kernel into
cases_einsum.txt and <name>.in<k>.npy / .out.npy.

Run with /usr/bin/python3 from this folder. Expected outputs are
numpy.einsum evaluated in float64 on the float32 inputs.
"""
import numpy as np

from reference_io import Cases

rng = np.random.default_rng(20261209)
cases = Cases()

CASES = [
    # name, equation, operand shapes
    ("einsum_batch_matmul", "bij,bjk->bik", [(3, 4, 5), (3, 5, 2)]),
    ("einsum_attention_scores", "bhqd,bhkd->bhqk", [(2, 3, 4, 8), (2, 3, 6, 8)]),
    ("einsum_attention_values", "bhqk,bhkd->bhqd", [(2, 3, 4, 6), (2, 3, 6, 8)]),
    ("einsum_keras_mha_dot", "aecd,abcd->acbe", [(2, 5, 3, 4), (2, 6, 3, 4)]),
    ("einsum_keras_mha_combine", "acbe,aecd->abcd", [(2, 3, 6, 5), (2, 5, 3, 4)]),
    ("einsum_abcd_abed", "abcd,abed->abce", [(2, 2, 3, 4), (2, 2, 5, 4)]),
    ("einsum_ellipsis_matmul", "...ij,...jk->...ik", [(2, 3, 4, 5), (2, 3, 5, 3)]),
    ("einsum_ellipsis_broadcast", "...ij,...jk->...ik", [(2, 1, 4, 5), (3, 5, 2)]),
    ("einsum_matmul", "ab,bc->ac", [(7, 9), (9, 4)]),
    ("einsum_shared_rhs", "bij,bjk->bik", [(4, 3, 5), (1, 5, 2)]),
    ("einsum_shared_lhs_transposed", "bji,bjk->bik", [(1, 5, 3), (4, 5, 2)]),
    ("einsum_dense_projection", "bnhd,dk->bnhk", [(2, 3, 4, 8), (8, 5)]),
    ("einsum_dense_split_heads", "abc,cde->abde", [(2, 4, 6), (6, 3, 5)]),
    ("einsum_dense_merge_heads", "abcd,cde->abe", [(2, 4, 3, 5), (3, 5, 6)]),
    ("einsum_transposed_both", "ji,kj->ik", [(5, 4), (3, 5)]),
    ("einsum_outer", "i,j->ij", [(4,), (3,)]),
    ("einsum_dot", "i,i->", [(6,),(6,)]),
    ("einsum_summed_free", "bij,bjk->bk", [(2, 3, 4), (2, 4, 5)]),
    ("einsum_implicit", "ij,jk", [(3, 4), (4, 2)]),
    ("einsum_transpose", "ijk->kij", [(2, 3, 4)]),
    ("einsum_reduce", "bij->bj", [(2, 3, 4)]),
    ("einsum_large_scores", "bhqd,bhkd->bhqk", [(1, 4, 64, 32), (1, 4, 64, 32)]),
]

for name, equation, shapes in CASES:
    inputs = [rng.uniform(-1, 1, size=s).astype(np.float32) for s in shapes]
    out = np.einsum(equation, *[a.astype(np.float64) for a in inputs]).astype(np.float32)
    cases.save(name, "Einsum", inputs, out, T="float", N=len(shapes), equation=equation)

cases.write("cases_einsum.txt")
