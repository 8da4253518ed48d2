"""Per-row geometry of the 512 x 256 equirectangular working image: the prior
maps the depth and ground networks start from, and the pseudo depth the depth
networks are fitted to (there is no measured depth for the training panoramas).

Row r looks at elevation theta(r) = pi/2 - (r + 0.5) * pi / 256 (row 0 is the zenith).
"""
import numpy as np

H, W = 256, 512
CAMERA_HEIGHT = 1.6      # metres above the floor or the ground
FAR = 100.0              # metres: sky and the horizon outdoors
ROOM_RADIUS = 2.5        # metres: horizontal distance to the walls of the prior room
CEILING_ABOVE = 1.0      # metres from the camera up to the ceiling of the prior room (2.6 m room)
INDOOR_MAX = 30.0        # metres: cap of the indoor pseudo depth

SKY, GROUND, CEILING = 1, 2, 3


def elevation(h=H):
    r = np.arange(h, dtype=np.float64)
    return np.pi / 2 - (r + 0.5) * np.pi / h


def outdoor_prior(h=H):
    """Flat ground 1.6 m below the camera, FAR metres at and above the horizon."""
    th = elevation(h)
    d = np.full(h, FAR)
    below = th < 0
    d[below] = np.minimum(CAMERA_HEIGHT / np.sin(-th[below]), FAR)
    return d.astype(np.float32)


def indoor_prior(h=H):
    """A round room of radius 2.5 m and 2.6 m height, camera 1.6 m above the floor."""
    th = elevation(h)
    d = ROOM_RADIUS / np.cos(th)
    below, above = th < 0, th > 0
    d[below] = np.minimum(d[below], CAMERA_HEIGHT / np.sin(-th[below]))
    d[above] = np.minimum(d[above], CEILING_ABOVE / np.sin(th[above]))
    return d.astype(np.float32)


def ground_prior_logit(h=H):
    """Ground likely below the horizon, unlikely above: clip(40 * sin(-theta) - 1, -6, 6)."""
    return np.clip(40.0 * np.sin(-elevation(h)) - 1.0, -6.0, 6.0).astype(np.float32)


def _foot_distance(label, far):
    """Horizontal distance per column to where the vertical surfaces meet the ground,
    from the topmost ground row of the column; median-smoothed around the circle."""
    h, w = label.shape
    th = elevation(h)
    is_ground = label == GROUND
    has = is_ground.any(axis=0)
    top = np.where(has, is_ground.argmax(axis=0), h - 1)
    foot = th[top]
    dist = np.where(foot < 0, CAMERA_HEIGHT / np.tan(-np.minimum(foot, -1e-3)), far)
    dist = np.minimum(dist, far)
    k = 9
    padded = np.concatenate([dist[-k:], dist, dist[:k]])
    return np.array([np.median(padded[i:i + 2 * k + 1]) for i in range(w)])


def pseudo_depth(label, indoor):
    """Pop-up depth from a label mask: ground/floor as a plane 1.6 m below the
    camera, ceilings as a plane at the height their edge implies, everything
    else as vertical surfaces standing where the ground begins below them, sky
    at FAR. Metres, float32, shape of `label`."""
    h, w = label.shape
    th = elevation(h)[:, None]
    far = INDOOR_MAX if indoor else FAR
    foot = _foot_distance(label, far)[None, :]
    depth = np.minimum(foot / np.cos(th), far)
    plane = np.where(th < 0, CAMERA_HEIGHT / np.sin(-np.minimum(th, -1e-6)), far)
    depth = np.where(label == GROUND, np.minimum(plane, far), depth)
    ceiling = label == CEILING
    if ceiling.any():
        # Height of the ceiling from its lower edge in each column, over the wall distance there.
        rows = np.arange(h)[:, None]
        edge = np.where(ceiling.any(axis=0), np.max(np.where(ceiling, rows, -1), axis=0), -1)
        cols = edge >= 0
        th_e = elevation(h)[edge[cols]]
        heights = foot[0, cols] * np.tan(np.maximum(th_e, 1e-3))
        hc = float(np.clip(np.median(heights), 0.5, 10.0))
        up = CAMERA_HEIGHT * 0 + hc / np.sin(np.maximum(th, 1e-3))
        depth = np.where(ceiling, np.minimum(up, far), depth)
    depth = np.where(label == SKY, far, depth)
    return np.clip(depth, 0.3, far).astype(np.float32)
