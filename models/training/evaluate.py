"""Judges the fitted networks on all eight panoramas (two of them never fitted).

    /usr/bin/python3 models/training/evaluate.py [--weights DIR] [--pictures DIR]

Per panorama: the sky ratio of the raw mask through the 90-degree view
straight up (as the program measures it), the outdoor decision (> 50 %),
sky and ground intersection-over-union against the label masks, and the mean
absolute log error of the depth network and of its prior against the pop-up
pseudo depth. --pictures writes the masks and depth maps as images.
"""
import argparse
import os
import sys

import cv2
import numpy as np
import torch

import geometry
import labels as lab
import networks
import panoramas
import train


def zenith_sky_ratio(mask):
    """Share of sky in a 128 x 128 90-degree view straight up, sampled at integer pixel positions."""
    h, w = mask.shape
    n = w // 4
    j, i = np.meshgrid(np.arange(n), np.arange(n))
    x, y = (j - n // 2) / float(n // 2), (i - n // 2) / float(n // 2)
    lon = np.arctan2(x, y)
    lat = np.arctan2(1.0, np.hypot(x, y))
    m = float(max(w, h))
    u = (m * lon / (2 * np.pi) + w * 0.5).astype(np.int64).clip(0, w - 1)
    v = (m * (-lat / (2 * np.pi)) + h * 0.5).astype(np.int64).clip(0, h - 1)
    return 100.0 * np.count_nonzero(mask[v, u]) / (n * n)


def load(kind, weights):
    return train.load_fitted(kind, weights).eval()


def iou(a, b):
    union = np.count_nonzero(a | b)
    return float("nan") if union == 0 else np.count_nonzero(a & b) / union


def depth_picture(depth):
    v = (np.log(np.clip(depth, 0.3, 100)) - np.log(0.3)) / (np.log(100) - np.log(0.3))
    return cv2.applyColorMap((v * 255).astype(np.uint8), cv2.COLORMAP_TURBO)


def main(argv):
    ap = argparse.ArgumentParser()
    ap.add_argument("--weights", default=os.path.join(train.HERE, "weights"))
    ap.add_argument("--pictures")
    args = ap.parse_args(argv)
    torch.set_num_threads(1)
    nets = {k: load(k, args.weights) for k in train.MODEL_DIRS}
    print("%-10s %-5s %7s %-7s %7s %7s %9s %9s" %
          ("panorama", "set", "sky %", "scene", "sky IoU", "gnd IoU", "depth err", "prior err"))
    for name in panoramas.NAMES:
        bgr = panoramas.tone_map(panoramas.load_hdr(name))
        x = networks.image_batch(panoramas.prepare(bgr))
        label = cv2.imread(os.path.join(lab.LABEL_DIR, name + ".png"), cv2.IMREAD_GRAYSCALE)
        with torch.no_grad():
            sky = nets["sky"](x)[0, 0].numpy() > 0.5
            ground = nets["ground"](x)[0, 0].numpy() > 0.5
            outdoor = zenith_sky_ratio(sky) > 50.0
            kind = "outdoor_depth" if outdoor else "indoor_depth"
            depth = nets[kind](x)[0, 0].numpy()
        ratio = zenith_sky_ratio(sky)
        pseudo = geometry.pseudo_depth(label, name not in panoramas.OUTDOOR)
        prior = nets[kind].prior.numpy().reshape(-1, 1)
        err = np.mean(np.abs(np.log(depth) - np.log(pseudo)))
        prior_err = np.mean(np.abs(np.log(np.broadcast_to(prior, depth.shape)) - np.log(pseudo)))
        print("%-10s %-5s %7.2f %-7s %7.3f %7.3f %9.3f %9.3f" %
              (name, "held" if name in panoramas.HELD_OUT else "fit", ratio,
               "outdoor" if outdoor else "indoor", iou(sky, label == lab.SKY),
               iou(ground, label == lab.GROUND), err, prior_err))
        if args.pictures:
            os.makedirs(args.pictures, exist_ok=True)
            img = panoramas.working_image(bgr)
            over = img.copy()
            over[sky] = (0.4 * over[sky] + 0.6 * np.array([255, 160, 0])).astype(np.uint8)
            over[ground] = (0.5 * over[ground] + 0.5 * np.array([0, 200, 0])).astype(np.uint8)
            tile = np.vstack([over, depth_picture(depth)])
            cv2.putText(tile, "%s sky %.1f%%" % (name, ratio), (4, 16), cv2.FONT_HERSHEY_SIMPLEX,
                        0.5, (0, 0, 255), 1)
            cv2.imwrite(os.path.join(args.pictures, name + ".png"), tile)
            min_d, max_d = float(depth.min()), float(depth.max())
            print("           depth %.2f .. %.2f m, median %.2f" % (min_d, max_d, float(np.median(depth))))


if __name__ == "__main__":
    main(sys.argv[1:])
