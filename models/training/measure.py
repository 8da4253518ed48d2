"""The measurement table of the fitted networks (run at the end of `make models`).

    /usr/bin/python3 models/training/measure.py --held DIR [--weights DIR] [--json FILE]

1. Held-out synthetic panoramas (seeds training never used), tone-mapped with
   the demo operator at the scene's own exposure, through the program's
   preparation: sky and ground IoU over all pixels of the set, and per image
   (mean over images where the class occurs in the label or the prediction), the indoor/outdoor decision against the
   scene kind and against the decision the exact sky label gives (a dense
   forest canopy is outdoor with little sky overhead, a courtyard indoor
   with much), and the depth error of the scene kind's depth network over the
   pixels that are not sky: AbsRel = mean |d - d*| / d* and the share with
   max(d / d*, d* / d) < 1.25, both sides capped at 100 m outdoors and 30 m
   indoors; beside it, the same AbsRel of the exact depth rescaled as if the
   camera stood at the priors' 1.6 m (what a network right in every shape
   scores when it cannot tell the camera height). Per scene kind and per setting.
2. The eight real blender-data panoramas under every tone-mapping operator of
   photometric.py at exposures -1.5 .. +1.5 stops: the decision for each
   (courtyard, an open yard under a roof, counts as right either way).
"""
import argparse
import collections
import json
import os
import sys

import numpy as np
import torch

import evaluate
import geometry
import labels as lab
import networks
import panoramas
import photometric
import synthetic
import train

EXPOSURE_STOPS = (-1.5, -0.75, 0.0, 0.75, 1.5)
EITHER_WAY = {"courtyard"}


def run(nets, x_hwc, depth_kind=None):
    """Sky mask, ground mask, zenith sky ratio, and the depth of `depth_kind` (default: the decided kind)."""
    x = networks.image_batch(x_hwc)
    with torch.no_grad():
        sky = nets["sky"](x)[0, 0].numpy() > 0.5
        ground = nets["ground"](x)[0, 0].numpy() > 0.5
        ratio = evaluate.zenith_sky_ratio(sky)
        kind = depth_kind or ("outdoor_depth" if ratio > 50.0 else "indoor_depth")
        depth = nets[kind](x)[0, 0].numpy()
    return sky, ground, ratio, depth


def depth_errors(pred, truth, label, cap):
    valid = label != lab.SKY
    if not valid.any():
        return None
    d = np.clip(pred[valid], synthetic.NEAREST, cap)
    t = np.clip(np.nan_to_num(truth[valid], posinf=cap), synthetic.NEAREST, cap)
    ratio = np.maximum(d / t, t / d)
    return float(np.mean(np.abs(d - t) / t)), float(np.mean(ratio < 1.25))


def height_blind(truth, camera_height):
    """The exact depth as a network that takes every camera for 1.6 m high would see it:
    every distance scales with the camera height when nothing else in view gives the size."""
    return truth * np.float32(geometry.CAMERA_HEIGHT / camera_height)


class Tally:
    def __init__(self):
        self.values = collections.defaultdict(list)

    def add(self, key, value):
        if value is not None and not (isinstance(value, float) and np.isnan(value)):
            self.values[key].append(value)

    def mean(self, key):
        v = self.values.get(key)
        return float(np.mean(v)) if v else float("nan")

    def pooled_iou(self, name):
        union = sum(self.values.get(name + "_or", ()))
        return sum(self.values.get(name + "_and", ())) / union if union else float("nan")

    def count(self, key):
        return len(self.values.get(key, ()))


def measure_synthetic(nets, samples):
    groups = collections.defaultdict(Tally)
    for s in samples:
        img = photometric.tone_map(s.hdr, "demo", s.exposure)
        x = panoramas.prepare(img)
        kind = "outdoor_depth" if s.outdoor else "indoor_depth"
        sky, ground, ratio, depth = run(nets, x, kind)
        truth_sky, truth_ground = s.label == lab.SKY, s.label == lab.GROUND
        label_outdoor = evaluate.zenith_sky_ratio(truth_sky) > 50.0
        figures = {"n": 1, "sky_iou": evaluate.iou(sky, truth_sky), "ground_iou": evaluate.iou(ground, truth_ground),
                   "decision": float((ratio > 50.0) == s.outdoor),
                   "decision_vs_label": float((ratio > 50.0) == label_outdoor),
                   "label_decision": float(label_outdoor == s.outdoor)}
        for name, pred, truth in (("sky", sky, truth_sky), ("ground", ground, truth_ground)):
            figures[name + "_and"] = int(np.count_nonzero(pred & truth))
            figures[name + "_or"] = int(np.count_nonzero(pred | truth))
        cap = synthetic.OUTDOOR_CAP if s.outdoor else synthetic.INDOOR_CAP
        errors = depth_errors(depth, s.depth, s.label, cap)
        if errors:
            figures["absrel"], figures["delta"] = errors
            if s.camera_height:
                figures["absrel_blind"] = depth_errors(height_blind(s.depth, s.camera_height), s.depth,
                                                       s.label, cap)[0]
        # Computed once per sample, counted in each group it belongs to.
        for key in ("all", s.kind, "%s/%s" % (s.kind, s.setting)):
            for name, value in figures.items():
                groups[key].add(name, value)
    return groups


def print_synthetic(groups):
    print("Held-out synthetic panoramas (demo tone mapping)")
    print("in/out: the decision (zenith sky ratio above 50 %) against the scene kind, and against the")
    print("decision of the exact sky label; label/kind: how often the exact label's decision is the kind")
    print("IoU: over all pixels of the set (per image, mean over images where the class occurs)")
    print("h-blind: AbsRel of the exact depth rescaled as if the camera stood 1.6 m high")
    print("%-16s %5s %13s %13s %8s %8s %8s %8s %8s %8s" %
          ("scenes", "n", "sky IoU", "ground IoU", "vs kind", "vs label", "lbl/kind", "AbsRel", "d<1.25",
           "h-blind"))
    order = ["all", "outdoor", "indoor"] + sorted(k for k in groups if "/" in k)
    for key in order:
        if key not in groups:
            continue
        t = groups[key]
        print("%-16s %5d %5.3f (%5.3f) %5.3f (%5.3f) %8.1f %8.1f %8.1f %8.3f %8.3f %8.3f" %
              (key, t.count("n"), t.pooled_iou("sky"), t.mean("sky_iou"), t.pooled_iou("ground"),
               t.mean("ground_iou"), 100 * t.mean("decision"),
               100 * t.mean("decision_vs_label"), 100 * t.mean("label_decision"), t.mean("absrel"),
               t.mean("delta"), t.mean("absrel_blind")))


def measure_real(nets):
    rows, wrong = {}, []
    for name in panoramas.NAMES:
        hdr = panoramas.load_hdr(name)
        row = {}
        for op in photometric.OPERATORS:
            for stops in EXPOSURE_STOPS:
                x = panoramas.prepare(photometric.tone_map(hdr, op, 2.0 ** stops))
                ratio = run(nets, x)[2]
                row["%s%+.2f" % (op, stops)] = ratio
                right = name in EITHER_WAY or (ratio > 50.0) == (name in panoramas.OUTDOOR)
                if not right:
                    wrong.append("%s %s %+.2f stops: sky %.1f %%" % (name, op, stops, ratio))
        rows[name] = row
    return rows, wrong


def print_real(rows, wrong):
    total = sum(len(r) for r in rows.values())
    print("\nReal panoramas: zenith sky ratio %% (decision outdoor above 50) per operator, exposure %s stops"
          % " ".join("%+.2g" % s for s in EXPOSURE_STOPS))
    for name, row in rows.items():
        cells = []
        for op in photometric.OPERATORS:
            cells.append("%-8s " % op + " ".join("%5.1f" % row["%s%+.2f" % (op, s)] for s in EXPOSURE_STOPS))
        expected = "either" if name in EITHER_WAY else ("outdoor" if name in panoramas.OUTDOOR else "indoor")
        print("%-10s %-7s | %s" % (name, expected, " | ".join(cells)))
    print("decisions right: %d of %d" % (total - len(wrong), total))
    for w in wrong:
        print("  wrong: " + w)


def main(argv):
    ap = argparse.ArgumentParser(description="Measure the fitted networks.")
    ap.add_argument("--held", required=True, help="folder of held-out synthetic samples")
    ap.add_argument("--weights", default=os.path.join(train.HERE, "weights"))
    ap.add_argument("--json", help="also write the figures to this file")
    args = ap.parse_args(argv)
    torch.set_num_threads(1)
    nets = {k: evaluate.load(k, args.weights) for k in train.MODEL_DIRS}
    groups = measure_synthetic(nets, synthetic.load_all(args.held))
    print_synthetic(groups)
    rows, wrong = measure_real(nets)
    print_real(rows, wrong)
    if args.json:
        out = {"synthetic": {k: dict({m: t.mean(m) for m in t.values if not m.endswith(("_and", "_or"))},
                                     sky_pooled_iou=t.pooled_iou("sky"), ground_pooled_iou=t.pooled_iou("ground"))
                             for k, t in groups.items()},
               "real": rows, "real_wrong": wrong}
        with open(args.json, "w") as f:
            json.dump(out, f, indent=1)


if __name__ == "__main__":
    main(sys.argv[1:])
