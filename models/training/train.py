"""Fits the four networks and exports their weights.

    /usr/bin/python3 models/training/train.py --synth DIR [--count N] [--out DIR] [--only sky ...]

Deterministic: fixed seeds, one thread, deterministic torch algorithms, so a
rebuild from the same renders on the same Debian packages gives the same
bytes. Data:
  * the rendered synthetic panoramas of --synth (training/synth/), with exact
    sky, ground and depth labels;
  * the six fitting panoramas of blender-data with their hand-made masks
    (sky and ground networks only: their pop-up depth is too crude to teach
    depth), drawn for REAL_SHARE of the samples, forest more often.
Every draw is a new rendition (photometric.augment: white balance, exposure
+-2 stops, one of several tone curves, gamma, noise, greyscale, JPEG), then
the program's preparation chain, a random roll (the panorama wraps), mirror
and a window of CROP columns. Each network is fitted with Adam, one-cycle
learning rate; the sky network's decision offset is then calibrated on the
training renders, on the mean of its view and its mirror view as it is
exported. The depth networks start from the fitted sky network's body with
their output at the prior, and are fitted on the relative error
of depth plus a little squared error of log depth, the scene kind's
synthetic samples only. Weights are written as <name>.bin (float32
little-endian, conv kernels HWIO) with <name>.json (tensor names, shapes and
offsets; prior row profile; K) and <name>.pt for evaluation.
"""
import argparse
import json
import os
import sys
import time

import cv2
import numpy as np
import torch
import torch.nn.functional as F

import geometry
import labels as lab
import networks
import panoramas
import photometric
import synthetic

HERE = os.path.dirname(os.path.abspath(__file__))
CROP = 256
BATCH = 8
REAL_SHARE = 0.2
STEPS = {"sky": 3000, "ground": 2000, "indoor_depth": 6000, "outdoor_depth": 6000}
PEAK_LR = 3e-3
# The depth networks start from the fitted sky network's body (its edges of sky,
# walls and ground are the cues depth needs) and move more gently: from a fresh
# body at the full rate, the relative error's large gradients on far misses
# silenced most decoder channels (dead ReLUs) and left the network at its prior.
DEPTH_PEAK_LR = 1e-3
DEPTH_CLIP_NORM = 1.0
DEPTH_START = "sky"
DEPTH_LOG_WEIGHT = 0.1  # of the squared log error in the depth loss, beside the relative error
MODEL_DIRS = {"sky": "sky_segm_model", "ground": "ground_segm_model",
              "indoor_depth": "indoor_depth_model", "outdoor_depth": "outdoor_depth_model"}
# The sky through the forest canopy is the hardest real sky: drawn this much more often.
REAL_WEIGHT = {"forest": 4.0}
# Second phase of the sky network: more real panoramas at a lower rate. The synthetic
# canopies are denser than real ones and their ceilings dimmer, so the first phase
# alone misses real sky between leaves and takes bright real ceilings for sky.
SKY_REFINE = {"steps": 800, "real_share": 0.5, "peak_lr": 1e-3}
# Last step of the sky network: the logit offset (on this grid) with the best pooled
# sky IoU over every CALIBRATION_EVERY-th training render under the demo tone curve
# (the exported output: the mean of the view and its mirror) joins the head's bias.
# Cross-entropy at 0.5 leaves the decision short of sky at soft edges, so the
# offset comes out positive.
CALIBRATION_OFFSETS = np.arange(-1.0, 2.01, 0.25)
CALIBRATION_EVERY = 4


class RealPanoramas:
    """The blender-data fitting panoramas with their hand-made label masks."""

    def __init__(self, names):
        self.names = list(names)
        # At the working size: the tone curves are global, so this changes little and saves time.
        self.hdr = {n: cv2.resize(panoramas.load_hdr(n), (panoramas.WORK_W, panoramas.WORK_H),
                                  interpolation=cv2.INTER_AREA) for n in self.names}
        self.label = {n: cv2.imread(os.path.join(lab.LABEL_DIR, n + ".png"), cv2.IMREAD_GRAYSCALE)
                      for n in self.names}
        w = np.array([REAL_WEIGHT.get(n, 1.0) for n in self.names])
        self.weights = w / w.sum()

    def draw(self, rng):
        name = self.names[rng.choice(len(self.names), p=self.weights)]
        img, _ = photometric.augment(rng, self.hdr[name])
        return panoramas.prepare(img), self.label[name], None


class Draws:
    """Random training views for one network."""

    def __init__(self, kind, synth, real, real_share=REAL_SHARE):
        self.kind, self.real_share = kind, real_share
        if kind.endswith("depth"):
            outdoor = kind == "outdoor_depth"
            self.synth = [s for s in synth if s.outdoor == outdoor]
            self.real = None
        else:
            self.synth, self.real = synth, real
        if not self.synth:
            raise SystemExit("no synthetic samples for " + kind)

    def one(self, rng):
        if self.real is not None and rng.rand() < self.real_share:
            x, label, depth = self.real.draw(rng)
        else:
            s = self.synth[rng.randint(len(self.synth))]
            img, _ = photometric.augment(rng, s.hdr, s.exposure)
            x, label = panoramas.prepare(img), s.label
            depth = np.log(s.depth_target()) if self.kind.endswith("depth") else None
        shift = rng.randint(x.shape[1])
        flip = rng.rand() < 0.5

        def view(a):
            a = np.roll(a, shift, axis=1)
            return (a[:, ::-1] if flip else a)[:, :CROP]
        return view(x), view(label), (None if depth is None else view(depth))

    def batches(self, rng, steps):
        for _ in range(steps):
            xs, ls, ds = zip(*(self.one(rng) for _ in range(BATCH)))
            # NHWC in memory, viewed as NCHW: torch's channels-last convolutions are several times faster.
            x = torch.from_numpy(np.ascontiguousarray(np.stack(xs))).permute(0, 3, 1, 2)
            d = None if ds[0] is None else torch.from_numpy(np.ascontiguousarray(np.stack(ds)))[:, None]
            yield x, np.stack(ls), d


def new_network(kind):
    if kind == "sky":
        return networks.SkyNet()
    if kind == "ground":
        return networks.GroundNet(geometry.ground_prior_logit())
    if kind == "indoor_depth":
        return networks.DepthNet(geometry.indoor_prior())
    return networks.DepthNet(geometry.outdoor_prior())


def depth_loss(net, x, log_target):
    # Targets beyond the head's reach (prior / 9 .. prior * 9) would only saturate tanh.
    reach = float(np.log((1 + networks.DEPTH_K) / (1 - networks.DEPTH_K))) * 0.98
    log_prior = torch.log(net.prior)
    target = torch.max(torch.min(log_target, log_prior + reach), log_prior - reach)
    err = torch.log(net(x)) - target
    # Mostly the relative error |d / t - 1| the depth is judged by: where the image
    # leaves the distance open, it settles below the geometric mean (an estimate
    # twice too far costs 1, one half too near 0.5). A little squared log error
    # keeps the far, saturated targets smooth.
    return torch.expm1(err).abs().mean() + DEPTH_LOG_WEIGHT * (err * err).mean()


def depth_start(kind, start_body):
    """A depth network with `start_body`'s weights whose output begins at the prior."""
    net = new_network(kind)
    net.body.load_state_dict(start_body.state_dict())
    torch.nn.init.zeros_(net.body.head.weight)
    torch.nn.init.zeros_(net.body.head.bias)
    return net


def fit(kind, draws, seed, steps, net=None, peak_lr=PEAK_LR, clip_norm=None):
    """Fits `net` (a new network when None) for `steps` batches of `draws`."""
    torch.manual_seed(seed)
    rng = np.random.RandomState(seed)
    if net is None:
        net = new_network(kind)
    net = net.to(memory_format=torch.channels_last)
    opt = torch.optim.Adam(net.parameters(), lr=peak_lr)
    sched = torch.optim.lr_scheduler.OneCycleLR(opt, max_lr=peak_lr, total_steps=steps, pct_start=0.1)
    start, running = time.time(), 0.0
    for step, (x, label, log_depth) in enumerate(draws.batches(rng, steps)):
        if kind in ("sky", "ground"):
            cls = lab.SKY if kind == "sky" else lab.GROUND
            y = torch.from_numpy((label == cls).astype(np.float32))[:, None]
            loss = F.binary_cross_entropy_with_logits(net.logits(x), y)
        else:
            loss = depth_loss(net, x, log_depth)
        opt.zero_grad()
        loss.backward()
        if clip_norm:
            torch.nn.utils.clip_grad_norm_(net.parameters(), clip_norm)
        opt.step()
        sched.step()
        running = loss.item() if step == 0 else 0.98 * running + 0.02 * loss.item()
        if step % 100 == 0 or step == steps - 1:
            print("%s step %d loss %.4f (%.0f s)" % (kind, step, running, time.time() - start), flush=True)
    return net


def calibrate_sky(net, synth, offsets=CALIBRATION_OFFSETS):
    """`net` with the one of `offsets` of best pooled IoU added to its head's bias."""
    inter = np.zeros(len(offsets))
    union = np.zeros(len(offsets))
    net.eval()
    for s in synth[::CALIBRATION_EVERY]:
        x = panoramas.prepare(photometric.tone_map(s.hdr, "demo", s.exposure))
        with torch.no_grad():
            z = net.mirrored_logits(networks.image_batch(x))[0, 0].numpy()
        truth = s.label == lab.SKY
        for i, offset in enumerate(offsets):
            pred = z > -offset
            inter[i] += np.count_nonzero(pred & truth)
            union[i] += np.count_nonzero(pred | truth)
    iou = inter / np.maximum(union, 1)
    best = int(np.argmax(iou))
    print("sky calibration: " + " ".join("%+.2f:%.4f" % (o, v) for o, v in zip(offsets, iou)) +
          "; offset %+.2f" % offsets[best], flush=True)
    with torch.no_grad():
        net.body.head.bias += float(offsets[best])
    return net


def export(kind, net, out_dir):
    tensors, blob = [], bytearray()
    for layer in networks.Body.LAYERS:
        conv = getattr(net.body, layer)
        kernel = conv.weight.detach().numpy().transpose(2, 3, 1, 0)  # OIHW -> HWIO
        for suffix, value in (("kernel", kernel), ("bias", conv.bias.detach().numpy())):
            value = np.ascontiguousarray(value, dtype="<f4")
            tensors.append({"name": "%s/%s" % (layer, suffix), "shape": list(value.shape),
                            "offset": len(blob)})
            blob += value.tobytes()
    manifest = {"model": MODEL_DIRS[kind], "kind": net.kind, "tensors": tensors}
    if kind != "sky":
        prior = net.prior.numpy().reshape(-1).astype("<f4")
        manifest["prior"] = {"offset": len(blob), "shape": [1, int(prior.size), 1, 1]}
        blob += prior.tobytes()
    if net.kind == "depth":
        manifest["depth_k"] = networks.DEPTH_K
    base = os.path.join(out_dir, MODEL_DIRS[kind])
    with open(base + ".bin", "wb") as f:
        f.write(bytes(blob))
    with open(base + ".json", "w") as f:
        json.dump(manifest, f, indent=1)
        f.write("\n")
    torch.save(net.state_dict(), base + ".pt")


def load_fitted(kind, folder):
    path = os.path.join(folder, MODEL_DIRS[kind] + ".pt")
    if not os.path.isfile(path):
        raise SystemExit("%s: no fitted %s network there (fit it first)" % (path, kind))
    net = new_network(kind)
    net.load_state_dict(torch.load(path))
    return net


def main(argv):
    ap = argparse.ArgumentParser(description="Fit and export the four default networks.")
    ap.add_argument("--synth", required=True, help="folder of rendered synthetic samples")
    ap.add_argument("--out", default=os.path.join(HERE, "weights"))
    ap.add_argument("--only", nargs="*", default=list(STEPS), choices=list(STEPS))
    ap.add_argument("--count", type=int, help="fit on the samples of seeds 0 .. N-1 (all must be rendered)")
    ap.add_argument("--steps-scale", type=float, default=1.0, help="scale every network's step count")
    ap.add_argument("--sky-from", help="take the sky network's first phase from the weights in this folder")
    args = ap.parse_args(argv)
    torch.set_num_threads(1)
    torch.use_deterministic_algorithms(True)
    os.makedirs(args.out, exist_ok=True)
    t0 = time.time()
    synth = synthetic.load_all(args.synth, args.count)
    real = RealPanoramas(panoramas.TRAIN)
    print("%d synthetic samples (%d outdoor), %d real panoramas, loaded in %.0f s" %
          (len(synth), sum(s.outdoor for s in synth), len(real.names), time.time() - t0), flush=True)
    for i, kind in enumerate(STEPS):
        if kind not in args.only:
            continue
        scale = lambda n: max(1, int(round(n * args.steps_scale)))  # noqa: E731
        if kind == "sky" and args.sky_from:
            net = load_fitted(kind, args.sky_from)
        elif kind.endswith("depth"):
            start = load_fitted(DEPTH_START, args.out).body
            net = fit(kind, Draws(kind, synth, real), 1000 + i, scale(STEPS[kind]), depth_start(kind, start),
                      DEPTH_PEAK_LR, DEPTH_CLIP_NORM)
        else:
            net = fit(kind, Draws(kind, synth, real), 1000 + i, scale(STEPS[kind]))
        if kind == "sky":
            refine = Draws(kind, synth, real, SKY_REFINE["real_share"])
            net = fit(kind, refine, 2000 + i, scale(SKY_REFINE["steps"]), net, SKY_REFINE["peak_lr"])
            net = calibrate_sky(net, synth)
        export(kind, net, args.out)


if __name__ == "__main__":
    main(sys.argv[1:])
