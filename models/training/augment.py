"""Training samples: one panorama under random light, with its labels.

Every draw comes from a numpy RandomState the caller seeds, so a run is
repeatable. Per sample:
  * white balance: the linear HDR channels scaled by 2 ** N(0, 0.15) each;
  * exposure: 2 ** U(-1.5, 1.5) on top of the tone mapper's automatic key,
    or, one sample in five, "night": 2 ** U(-4.5, -2.5) with a blue cast;
  * tone mapping (panoramas.tone_map) and the program's preparation chain;
  * one sample in three with sky: the sky pixels blended (feathered edge)
    with a synthetic sky: a vertical gradient between a zenith and a horizon
    colour (blue day, overcast white/grey, dusk orange/purple, night blue/black),
    an optional sun glow and soft clouds;
  * horizontal roll by any column count (the panorama wraps) and mirroring;
  * a window of `crop` columns (the full width when None).
"""
import cv2
import numpy as np

import labels as lab
import panoramas

SKY_PALETTES = [
    # (zenith BGR, horizon BGR) ranges as 0..255 8-bit colours
    ((150, 90, 40), (235, 200, 170)),     # clear blue
    ((200, 195, 190), (245, 245, 245)),   # overcast white
    ((120, 118, 115), (190, 188, 185)),   # grey overcast
    ((110, 60, 70), (120, 170, 245)),     # dusk: violet to orange
    ((60, 25, 15), (120, 90, 80)),        # blue hour
    ((15, 8, 5), (50, 40, 35)),           # night
]


def synthetic_sky(rng, h, w):
    zen, hor = SKY_PALETTES[rng.randint(len(SKY_PALETTES))]
    jitter = rng.uniform(0.8, 1.2, 3)
    zen = np.clip(np.array(zen) * jitter, 0, 255)
    hor = np.clip(np.array(hor) * jitter, 0, 255)
    t = (np.arange(h, dtype=np.float64) / (h / 2.0)).clip(0, 1) ** rng.uniform(0.5, 2.0)
    sky = zen[None, None, :] * (1 - t)[:, None, None] + hor[None, None, :] * t[:, None, None]
    sky = np.repeat(sky, w, axis=1)
    if rng.rand() < 0.4:  # sun glow
        cx, cy = rng.randint(w), rng.randint(h // 6, h // 2)
        yy, xx = np.mgrid[0:h, 0:w]
        dx = np.minimum(np.abs(xx - cx), w - np.abs(xx - cx))
        glow = np.exp(-((dx ** 2 + (yy - cy) ** 2) / (2 * rng.uniform(10, 40) ** 2)))
        sky = sky + glow[:, :, None] * (255 - sky) * rng.uniform(0.4, 1.0)
    if rng.rand() < 0.5:  # soft clouds
        noise = cv2.GaussianBlur(rng.rand(h, w).astype(np.float32), (0, 0), rng.uniform(4, 12))
        noise = (noise - noise.min()) / (np.ptp(noise) + 1e-6)
        amount = np.clip((noise - rng.uniform(0.3, 0.7)) * 3, 0, 1) * rng.uniform(0.3, 0.9)
        cloud = np.clip(hor * rng.uniform(0.6, 1.1), 0, 255)
        sky = sky * (1 - amount[:, :, None]) + cloud[None, None, :] * amount[:, :, None]
    sky = sky + rng.normal(0, rng.uniform(0.5, 3.0), sky.shape)
    return np.clip(sky, 0, 255)


class Sampler:
    def __init__(self, names):
        self.names = names
        self.hdr = {n: panoramas.load_hdr(n) for n in names}
        self.label = {n: cv2.imread("%s/%s.png" % (lab.LABEL_DIR, n), cv2.IMREAD_GRAYSCALE) for n in names}

    def draw(self, rng, name, crop=None):
        hdr = self.hdr[name] * (2.0 ** rng.normal(0, 0.15, 3)).astype(np.float32)
        if rng.rand() < 0.2:
            exposure = 2.0 ** rng.uniform(-4.5, -2.5)
            hdr = hdr * np.array([1.3, 1.0, 0.8], np.float32)
        else:
            exposure = 2.0 ** rng.uniform(-1.5, 1.5)
        img = panoramas.working_image(panoramas.tone_map(hdr, exposure))
        label = self.label[name].copy()
        sky = label == lab.SKY
        if sky.any() and rng.rand() < 1.0 / 3.0:
            alpha = cv2.GaussianBlur(sky.astype(np.float32), (0, 0), 1.0)[:, :, None]
            synth = synthetic_sky(rng, img.shape[0], img.shape[1])
            img = np.clip(np.round(img * (1 - alpha) + synth * alpha), 0, 255).astype(np.uint8)
        shift = rng.randint(img.shape[1])
        img, label = np.roll(img, shift, axis=1), np.roll(label, shift, axis=1)
        if rng.rand() < 0.5:
            img, label = img[:, ::-1], label[:, ::-1]
        if crop:
            img, label = img[:, :crop], label[:, :crop]
        rgb = cv2.cvtColor(np.ascontiguousarray(img), cv2.COLOR_BGR2RGB).astype(np.float32)
        x = (rgb * np.float32(1.0 / 255.0) - panoramas.MEAN) / panoramas.STD
        return x, np.ascontiguousarray(label)
