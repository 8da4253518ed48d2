"""Runs the written SavedModels through the project's runtime (quarrow-models run)
and compares them with the PyTorch networks they were exported from.

    /usr/bin/python3 models/training/compare_runtime.py QUARROW_MODELS MODEL_FOLDER [--weights DIR]

Prints, per panorama and model, the largest absolute difference; for the sky
model also on a 200 x 328 input (its graph must take any size).
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np
import torch

import evaluate
import panoramas
import train

INPUT_OP = {"sky": "serving_default_input", "ground": "serving_default_input",
            "indoor_depth": "serving_default_inputs", "outdoor_depth": "serving_default_inputs"}


def run_saved_model(tool, model_dir, input_op, x, tmp):
    src, dst = os.path.join(tmp, "in.npy"), os.path.join(tmp, "out.npy")
    np.save(src, x.astype("<f4"))
    subprocess.run([tool, "run", model_dir, "--input", input_op + ":0=" + src,
                    "--output", "StatefulPartitionedCall:0=" + dst], check=True,
                   stdout=subprocess.DEVNULL)
    return np.load(dst)


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("tool")
    ap.add_argument("folder")
    ap.add_argument("--weights", default=os.path.join(train.HERE, "weights"))
    args = ap.parse_args(argv)
    torch.set_num_threads(1)
    nets = {k: evaluate.load(k, args.weights) for k in train.MODEL_DIRS}
    worst = 0.0
    with tempfile.TemporaryDirectory() as tmp:
        for name in panoramas.NAMES:
            x = panoramas.prepare(panoramas.tone_map(panoramas.load_hdr(name)))[None]
            cases = [(k, x) for k in train.MODEL_DIRS]
            if name == "city":
                cases.append(("sky", x[:, 20:220, 50:378]))
            for kind, xin in cases:
                got = run_saved_model(args.tool, os.path.join(args.folder, train.MODEL_DIRS[kind]),
                                      INPUT_OP[kind], xin, tmp)
                with torch.no_grad():
                    want = nets[kind](torch.from_numpy(xin.transpose(0, 3, 1, 2).copy())).numpy()
                if kind == "sky" or kind == "ground":
                    want = want.transpose(0, 2, 3, 1)
                diff = float(np.max(np.abs(got - want))) if got.shape == want.shape else float("inf")
                rel = diff / max(float(np.max(np.abs(want))), 1e-6)
                worst = max(worst, rel)
                print("%-10s %-14s shape %-16s max |diff| %.3g (relative %.2g)" %
                      (name, kind, list(got.shape), diff, rel))
    print("worst relative difference %.3g" % worst)
    return 0 if worst < 1e-3 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
