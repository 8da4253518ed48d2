"""Tone-mapping operators and photometric augmentation of linear panoramas.

Users bring panoramas from many cameras and stitchers, so the networks must
not depend on one tone curve. Every operator takes linear BGR float32 and a
relative exposure (a factor on the operator's own automatic key) and returns
8-bit BGR:
  * "demo":     the demo data tool's operator (panoramas.tone_map): key from
                the 99th luminance percentile, x / (1 + x), gamma 2.2;
  * "reinhard": global Reinhard on luminance, key 0.18 over the log-average
                luminance, white point at the 99.9th percentile, colour kept
                as the ratio to luminance;
  * "filmic":   the ACES fit of Narkowicz (2015) on colour, key 0.6 over the
                log-average luminance;
  * "camera":   a plain camera JPEG: key 0.5 over the 90th percentile,
                clipped at white;
then a display gamma (the caller's, 2.2 by default; "demo" always 2.2).
"""
import cv2
import numpy as np

import panoramas

OPERATORS = ("demo", "reinhard", "filmic", "camera")
_EPS = np.float32(1e-6)


def _clean(hdr):
    v = np.asarray(hdr, np.float32)
    return np.where(np.isfinite(v) & (v > 0), v, np.float32(0))


def _luminance(v):
    return np.float32(0.0722) * v[..., 0] + np.float32(0.7152) * v[..., 1] + np.float32(0.2126) * v[..., 2]


def _quantile(y, q):
    flat = y.ravel()
    k = min(flat.size - 1, int(q * flat.size))
    return float(np.partition(flat, k)[k])


def _log_average(y):
    return float(np.exp(np.mean(np.log(y + _EPS))))


def _encode(x, gamma):
    x = np.clip(np.nan_to_num(x, nan=0.0, posinf=1.0), 0, 1)
    return np.round(np.float32(255) * np.power(x, np.float32(1.0 / gamma))).astype(np.uint8)


def tone_map(hdr, op="demo", exposure=1.0, gamma=2.2):
    """8-bit BGR image of a linear BGR panorama under operator `op`."""
    if op == "demo":
        return panoramas.tone_map(hdr, exposure)
    v = _clean(hdr)
    y = _luminance(v)
    if op == "reinhard":
        scale = np.float32(0.18 * exposure / max(_log_average(y), 1e-6))
        lum = y * scale
        white = max(_quantile(lum, 0.999), 1e-3)
        mapped = lum * (1 + lum / np.float32(white * white)) / (1 + lum)
        x = v * (mapped / (lum + _EPS))[..., None] * scale
    elif op == "filmic":
        x = v * np.float32(0.6 * exposure / max(_log_average(y), 1e-6))
        x = (x * (2.51 * x + 0.03)) / (x * (2.43 * x + 0.59) + 0.14)
    elif op == "camera":
        key = _quantile(y, 0.90)
        x = v * np.float32(0.5 * exposure / key if key > 0 else exposure)
    else:
        raise ValueError("unknown tone-mapping operator " + op)
    return _encode(x, gamma)


def augment(rng, hdr, exposure=1.0):
    """A random rendition of a linear BGR panorama as 8-bit BGR, the same size.

    White balance 2^N(0, 0.15) per channel; exposure 2^U(-2, 2) stops on top
    of `exposure`; a random operator and display gamma U(1.8, 2.6); then, each
    with its own chance, sensor noise, greyscale and JPEG compression at
    quality 60-95. Returns the image and the operator used.
    """
    v = _clean(hdr) * (2.0 ** rng.normal(0, 0.15, 3)).astype(np.float32)
    op = OPERATORS[rng.randint(len(OPERATORS))]
    img = tone_map(v, op, exposure * 2.0 ** rng.uniform(-2, 2), rng.uniform(1.8, 2.6))
    if rng.rand() < 0.5:
        noise = rng.normal(0, rng.uniform(0.5, 5.0), img.shape)
        img = np.clip(np.round(img + noise), 0, 255).astype(np.uint8)
    if rng.rand() < 0.08:
        img = cv2.cvtColor(cv2.cvtColor(img, cv2.COLOR_BGR2GRAY), cv2.COLOR_GRAY2BGR)
    if rng.rand() < 0.7:
        quality = int(rng.randint(60, 96))
        ok, data = cv2.imencode(".jpg", img, [cv2.IMWRITE_JPEG_QUALITY, quality])
        img = cv2.imdecode(data, cv2.IMREAD_COLOR)
    return img, op
