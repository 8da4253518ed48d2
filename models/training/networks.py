"""The four networks in PyTorch, op for op as the SavedModel graphs run them.

All four share one small U-Net body (NHWC in the SavedModel, NCHW here):

  e0 = relu(conv3x3(x, 8))                         full resolution
  e1 = relu(conv3x3(maxpool2(e0), 16))             1/2
  e2 = relu(conv3x3(maxpool2(e1), 24))             1/4
  e3 = relu(conv3x3(maxpool2(e2), 32))             1/8
  e4 = relu(conv3x3(relu(conv3x3(maxpool2(e3), 32)), 32))   1/16
  d3 = relu(conv3x3(concat(nearest(e4 -> e3), e3), 24))
  d2 = relu(conv3x3(concat(nearest(d3 -> e2), e2), 16))
  d1 = relu(conv3x3(concat(nearest(d2 -> e1), e1), 8))
  z  = bilinear(conv1x1(d1, 1) -> input size)      half-pixel centres

The sky network runs the body twice, on the image and on its mirror image
(columns reversed), and averages the two logit maps with the second mirrored
back: its mask of a mirrored panorama is exactly the mirrored mask, and the
two views' errors partly cancel (held-out outdoor sky IoU 0.948 -> 0.951 at
twice the cost). Fitting takes the single pass (`logits`); mirroring is one of
the augmentations there.

Max pooling is 2 x 2, stride 2, SAME (ceil mode); convolutions are SAME with
zero padding; nearest upsampling goes to the size of the skip tensor (floor
mapping, no half-pixel centres), so any input size works. Heads:
  sky:    sigmoid((z + mirror(z of the mirror image)) / 2)
  ground: sigmoid(z + prior_logit[row])
  depth:  prior[row] * (1 + K t) / (1 - K t),  t = tanh(z),  K = 0.98,
          i.e. the prior scaled by a factor between 1/99 and 99 (a tree
          trunk 1 m away where the outdoor prior says 100 m).
"""
import torch
import torch.nn as nn
import torch.nn.functional as F

ENC = [8, 16, 24, 32, 32]
DEC = [24, 16, 8]
DEPTH_K = 0.98


def image_batch(x_hwc):
    """A batch of one for these networks: the prepared H x W x 3 image as a [1, 3, H, W] tensor."""
    return torch.from_numpy(x_hwc.transpose(2, 0, 1)[None].copy())


class Body(nn.Module):
    def __init__(self):
        super().__init__()
        c = ENC
        self.e0 = nn.Conv2d(3, c[0], 3, padding=1)
        self.e1 = nn.Conv2d(c[0], c[1], 3, padding=1)
        self.e2 = nn.Conv2d(c[1], c[2], 3, padding=1)
        self.e3 = nn.Conv2d(c[2], c[3], 3, padding=1)
        self.e4a = nn.Conv2d(c[3], c[4], 3, padding=1)
        self.e4b = nn.Conv2d(c[4], c[4], 3, padding=1)
        self.d3 = nn.Conv2d(c[4] + c[3], DEC[0], 3, padding=1)
        self.d2 = nn.Conv2d(DEC[0] + c[2], DEC[1], 3, padding=1)
        self.d1 = nn.Conv2d(DEC[1] + c[1], DEC[2], 3, padding=1)
        self.head = nn.Conv2d(DEC[2], 1, 1)

    # Order in which the layers are exported and rebuilt.
    LAYERS = ["e0", "e1", "e2", "e3", "e4a", "e4b", "d3", "d2", "d1", "head"]

    def forward(self, x):
        pool = lambda t: F.max_pool2d(t, 2, 2, ceil_mode=True)  # noqa: E731
        up = lambda t, ref: F.interpolate(t, size=ref.shape[2:], mode="nearest")  # noqa: E731
        e0 = F.relu(self.e0(x))
        e1 = F.relu(self.e1(pool(e0)))
        e2 = F.relu(self.e2(pool(e1)))
        e3 = F.relu(self.e3(pool(e2)))
        e4 = F.relu(self.e4b(F.relu(self.e4a(pool(e3)))))
        d3 = F.relu(self.d3(torch.cat([up(e4, e3), e3], 1)))
        d2 = F.relu(self.d2(torch.cat([up(d3, e2), e2], 1)))
        d1 = F.relu(self.d1(torch.cat([up(d2, e1), e1], 1)))
        z = self.head(d1)
        return F.interpolate(z, size=x.shape[2:], mode="bilinear", align_corners=False)


class SkyNet(nn.Module):
    kind = "sky"

    def __init__(self):
        super().__init__()
        self.body = Body()

    def logits(self, x):
        """The single pass that fitting trains."""
        return self.body(x)

    def mirrored_logits(self, x):
        """What the exported graph computes: the mean of the logits of `x` and of its mirror image."""
        mirror = torch.flip(self.body(torch.flip(x, [3])), [3])
        return (self.body(x) + mirror) * 0.5

    def forward(self, x):
        return torch.sigmoid(self.mirrored_logits(x))


class GroundNet(nn.Module):
    kind = "ground"

    def __init__(self, prior_logit):
        super().__init__()
        self.body = Body()
        self.register_buffer("prior", torch.as_tensor(prior_logit).view(1, 1, -1, 1))

    def logits(self, x):
        return self.body(x) + self.prior

    def forward(self, x):
        return torch.sigmoid(self.logits(x))


class DepthNet(nn.Module):
    kind = "depth"

    def __init__(self, prior):
        super().__init__()
        self.body = Body()
        self.register_buffer("prior", torch.as_tensor(prior).view(1, 1, -1, 1))

    def forward(self, x):
        t = torch.tanh(self.body(x))
        return self.prior * ((1 + DEPTH_K * t) / (1 - DEPTH_K * t))
