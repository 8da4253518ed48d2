"""Fits the four networks and exports their weights.

    /usr/bin/python3 models/training/train.py [--out DIR]

Deterministic: fixed seeds, one thread, deterministic torch algorithms, so a
rebuild on the same Debian packages gives the same bytes. Steps:
  1. a pool of augmented samples per training panorama (augment.Sampler);
  2. each network fitted with Adam on 256 x 256 windows of the pool samples
     (random roll and mirror on top), batch 4; the depth networks
     fitted to the pop-up pseudo depth (geometry.pseudo_depth) in log space
     (squared plus absolute error);
  3. weights written as <name>.bin (float32 little-endian, TensorFlow layouts:
     conv kernels HWIO) with <name>.json listing every tensor's name, shape and
     offset, plus the constants of the graph (prior row profiles, K).
"""
import argparse
import json
import os
import sys
import time

import numpy as np
import torch
import torch.nn.functional as F

import augment
import geometry
import labels as lab
import networks
import panoramas

HERE = os.path.dirname(os.path.abspath(__file__))
POOL_PER_IMAGE = 40
CROP = 256
BATCH = 4
STEPS = {"sky": 1800, "ground": 600, "indoor_depth": 400, "outdoor_depth": 600}
MODEL_DIRS = {"sky": "sky_segm_model", "ground": "ground_segm_model",
              "indoor_depth": "indoor_depth_model", "outdoor_depth": "outdoor_depth_model"}


def make_pool(names, seed):
    sampler = augment.Sampler(names)
    rng = np.random.RandomState(seed)
    pool = []
    for name in names:
        for _ in range(POOL_PER_IMAGE):
            x, label = sampler.draw(rng, name)
            depth = geometry.pseudo_depth(label, name not in panoramas.OUTDOOR)
            pool.append((name, x.astype(np.float32), label, np.log(depth)))
    return pool


# The sky through the forest canopy is the hardest sky to learn: its samples
# are drawn this many times as often when fitting the sky network.
SKY_OVERSAMPLE = {"forest": 4.0}


def batches(pool, rng, steps, weights=None):
    for _ in range(steps):
        xs, ls, ds = [], [], []
        for _ in range(BATCH):
            pick = rng.randint(len(pool)) if weights is None else rng.choice(len(pool), p=weights)
            _, x, label, log_depth = pool[pick]
            shift = rng.randint(x.shape[1])
            x, label, log_depth = (np.roll(a, shift, axis=1) for a in (x, label, log_depth))
            if rng.rand() < 0.5:
                x, label, log_depth = x[:, ::-1], label[:, ::-1], log_depth[:, ::-1]
            xs.append(x[:, :CROP])
            ls.append(label[:, :CROP])
            ds.append(log_depth[:, :CROP])
        x = torch.from_numpy(np.ascontiguousarray(np.stack(xs).transpose(0, 3, 1, 2)))
        yield x, np.stack(ls), torch.from_numpy(np.ascontiguousarray(np.stack(ds)))[:, None]


def fit(kind, pool, seed):
    torch.manual_seed(seed)
    rng = np.random.RandomState(seed)
    if kind == "sky":
        net = networks.SkyNet()
    elif kind == "ground":
        net = networks.GroundNet(geometry.ground_prior_logit())
    elif kind == "indoor_depth":
        net = networks.DepthNet(geometry.indoor_prior())
    else:
        net = networks.DepthNet(geometry.outdoor_prior())
    if kind.endswith("depth"):
        # Start from the prior: the body's last layer begins at zero.
        torch.nn.init.zeros_(net.body.head.weight)
        torch.nn.init.zeros_(net.body.head.bias)
        indoor = kind == "indoor_depth"
        pool = [p for p in pool if (p[0] in panoramas.OUTDOOR) != indoor]
    steps = STEPS[kind]
    opt = torch.optim.Adam(net.parameters(), lr=3e-3)
    sched = torch.optim.lr_scheduler.OneCycleLR(opt, max_lr=3e-3, total_steps=steps, pct_start=0.1)
    start, running = time.time(), 0.0
    weights = None
    if kind == "sky":
        weights = np.array([SKY_OVERSAMPLE.get(p[0], 1.0) for p in pool])
        weights /= weights.sum()
    for step, (x, label, log_depth) in enumerate(batches(pool, rng, steps, weights)):
        if kind == "sky":
            y = torch.from_numpy((label == lab.SKY).astype(np.float32))[:, None]
            loss = F.binary_cross_entropy_with_logits(net.logits(x), y)
        elif kind == "ground":
            y = torch.from_numpy((label == lab.GROUND).astype(np.float32))[:, None]
            loss = F.binary_cross_entropy_with_logits(net.logits(x), y)
        else:
            err = torch.log(net(x)) - log_depth
            loss = (err * err).mean() + err.abs().mean()
        opt.zero_grad()
        loss.backward()
        opt.step()
        sched.step()
        running = loss.item() if step == 0 else 0.95 * running + 0.05 * loss.item()
        if step % 50 == 0 or step == steps - 1:
            print("%s step %d loss %.4f (%.0f s)" % (kind, step, running, time.time() - start), flush=True)
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


def main(argv):
    ap = argparse.ArgumentParser(description="Fit and export the four default networks.")
    ap.add_argument("--out", default=os.path.join(HERE, "weights"))
    ap.add_argument("--only", nargs="*", default=list(STEPS))
    args = ap.parse_args(argv)
    torch.set_num_threads(1)
    torch.use_deterministic_algorithms(True)
    os.makedirs(args.out, exist_ok=True)
    t0 = time.time()
    pool = make_pool(panoramas.TRAIN, seed=20240601)
    print("pool of %d samples in %.0f s" % (len(pool), time.time() - t0), flush=True)
    for i, kind in enumerate(STEPS):
        if kind in args.only:
            export(kind, fit(kind, pool, seed=1000 + i), args.out)


if __name__ == "__main__":
    main(sys.argv[1:])
