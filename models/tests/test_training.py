"""Tests of the model-fitting code (plain unittest, Debian's Python):

    /usr/bin/python3 -m unittest discover -s models/tests

Covers the tone mapper, the preparation chain, label polylines, the zenith sky
ratio, the priors and pseudo depth, the networks' size handling and bounded
depth head, and the weight export layout the C++ builder reads.
"""
import json
import os
import sys
import tempfile
import unittest

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "training"))

import evaluate  # noqa: E402
import geometry  # noqa: E402
import labels  # noqa: E402
import panoramas  # noqa: E402


class ToneMapTest(unittest.TestCase):
    def test_black_negative_and_nan_give_zero(self):
        hdr = np.ones((4, 8, 3), np.float32)
        hdr[0, 0] = 0.0
        hdr[0, 1] = -5.0
        hdr[0, 2] = np.nan
        out = panoramas.tone_map(hdr)
        self.assertTrue((out[0, :3] == 0).all())

    def test_percentile_pixel_maps_to_half_reinhard(self):
        # Uniform grey: the 99th percentile is the value itself, so x = 1 -> 255 * 0.5 ** (1 / 2.2).
        hdr = np.full((10, 10, 3), 7.0, np.float32)
        out = panoramas.tone_map(hdr)
        self.assertTrue((out == round(255 * 0.5 ** (1 / 2.2))).all())

    def test_monotonic_and_exposure_brightens(self):
        ramp = np.linspace(0, 50, 200, dtype=np.float32)
        hdr = np.repeat(ramp[None, :, None], 3, axis=2)
        out = panoramas.tone_map(hdr)[0, :, 1].astype(int)
        self.assertTrue((np.diff(out) >= 0).all())
        brighter = panoramas.tone_map(hdr, exposure=4.0)[0, :, 1].astype(int)
        self.assertTrue((brighter >= out).all())
        self.assertGreater(brighter.sum(), out.sum())

    def test_infinite_value_is_white(self):
        hdr = np.ones((4, 4, 3), np.float32)
        hdr[1, 1, 2] = np.inf
        self.assertEqual(panoramas.tone_map(hdr)[1, 1, 2], 255)


class PrepareTest(unittest.TestCase):
    def test_normalisation_of_extremes(self):
        for value, expected in ((0, (0 - panoramas.MEAN) / panoramas.STD),
                                (255, (1 - panoramas.MEAN) / panoramas.STD)):
            img = np.full((512, 1024, 3), value, np.uint8)
            x = panoramas.prepare(img)
            self.assertEqual(x.shape, (256, 512, 3))
            np.testing.assert_allclose(x[100, 100], expected, rtol=1e-6)

    def test_rgb_order(self):
        img = np.zeros((1024, 2048, 3), np.uint8)
        img[:, :, 2] = 255  # red in BGR
        x = panoramas.prepare(img)
        self.assertAlmostEqual(float(x[5, 5, 0]), (1 - 0.485) / 0.229, places=5)
        self.assertAlmostEqual(float(x[5, 5, 2]), (0 - 0.406) / 0.225, places=5)


class LabelTest(unittest.TestCase):
    def test_polyline_interpolates_and_holds_ends(self):
        rows = labels.polyline_rows([[100, 10], [300, 30]], width=512)
        self.assertEqual(rows[0], 10)
        self.assertEqual(rows[200], 20)
        self.assertEqual(rows[511], 30)

    def test_label_classes_from_lines(self):
        img = np.full((256, 512, 3), 128, np.uint8)
        drawing = {"ceiling_bottom": [[0, 50], [512, 50]], "ground_top": [[0, 200], [512, 200]]}
        label = labels.make_label("t", drawing, img)
        self.assertTrue((label[:50] == labels.CEILING).all())
        self.assertTrue((label[50:200] == labels.OTHER).all())
        self.assertTrue((label[200:] == labels.GROUND).all())

    def test_smooth_sky_found_textured_wall_not(self):
        rng = np.random.RandomState(0)
        img = np.zeros((256, 512, 3), np.uint8)
        img[:100] = (220, 180, 140)                     # smooth blue sky (BGR)
        img[100:] = rng.randint(0, 255, (156, 512, 3))  # busy texture
        drawing = {"sky_limit": [[0, 200], [512, 200]]}
        label = labels.make_label("t", drawing, img)
        self.assertGreater((label[:95] == labels.SKY).mean(), 0.99)
        self.assertLess((label[110:200] == labels.SKY).mean(), 0.05)


class ZenithRatioTest(unittest.TestCase):
    def test_table(self):
        cases = []
        all_sky = np.ones((256, 512), np.uint8)
        cases.append((all_sky, 100.0))
        cases.append((np.zeros((256, 512), np.uint8), 0.0))
        top = np.zeros((256, 512), np.uint8)
        top[:78] = 1
        cases.append((top, 100.0))
        bottom = np.zeros((256, 512), np.uint8)
        bottom[78:] = 1
        cases.append((bottom, 0.0))
        for mask, expected in cases:
            self.assertEqual(evaluate.zenith_sky_ratio(mask), expected)

    def test_single_sample_resolution(self):
        mask = np.zeros((256, 512), np.uint8)
        mask[0] = 1  # the pole row: the centre samples of the face land there
        ratio = evaluate.zenith_sky_ratio(mask)
        self.assertGreater(ratio, 0.0)
        self.assertLess(ratio, 5.0)
        self.assertAlmostEqual(ratio * 16384 / 100, round(ratio * 16384 / 100), places=6)


class GeometryTest(unittest.TestCase):
    def test_priors_positive_finite_and_shaped(self):
        for prior in (geometry.outdoor_prior(), geometry.indoor_prior()):
            self.assertEqual(prior.shape, (256,))
            self.assertTrue(np.isfinite(prior).all())
            self.assertTrue((prior > 0).all())
        out = geometry.outdoor_prior()
        self.assertTrue((out[:128] == geometry.FAR).all())
        self.assertAlmostEqual(float(out[255]), 1.6 / np.sin(np.pi / 2 - np.pi / 512), places=4)
        indoor = geometry.indoor_prior()
        self.assertLessEqual(float(indoor.max()), 2.5 / np.cos(np.radians(44)) + 1e-3)

    def test_ground_prior_sign(self):
        logit = geometry.ground_prior_logit()
        self.assertTrue((logit[:128] < 0).all())
        self.assertTrue((logit[140:] > 0).all())

    def test_pseudo_depth_planes_and_sky(self):
        label = np.zeros((256, 512), np.uint8)
        label[:100] = geometry.SKY
        label[160:] = geometry.GROUND
        depth = geometry.pseudo_depth(label, indoor=False)
        self.assertTrue((depth[:100] == geometry.FAR).all())
        th = geometry.elevation()
        np.testing.assert_allclose(depth[200], np.float32(1.6 / np.sin(-th[200])), rtol=1e-5)
        # Walls stand where the ground starts: row 160's horizontal distance.
        foot = 1.6 / np.tan(-th[160])
        np.testing.assert_allclose(depth[130], np.float32(foot / np.cos(th[130])), rtol=1e-4)

    def test_pseudo_depth_ceiling_height(self):
        label = np.zeros((256, 512), np.uint8)
        label[:60] = geometry.CEILING
        label[180:] = geometry.GROUND
        depth = geometry.pseudo_depth(label, indoor=True)
        th = geometry.elevation()
        wall = 1.6 / np.tan(-th[180])
        height = wall * np.tan(th[59])
        np.testing.assert_allclose(depth[10], np.float32(height / np.sin(th[10])), rtol=1e-4)
        self.assertTrue((depth > 0).all() and (depth <= geometry.INDOOR_MAX).all())


try:
    import torch
    import networks
    import train
except ImportError:  # torch missing: the network tests are skipped
    torch = None


@unittest.skipIf(torch is None, "python3-torch not installed")
class NetworkTest(unittest.TestCase):
    def setUp(self):
        torch.manual_seed(0)

    def test_sky_net_takes_any_size(self):
        net = networks.SkyNet().eval()
        for h, w in ((256, 512), (200, 328), (37, 61), (1, 1)):
            with torch.no_grad():
                y = net(torch.randn(1, 3, h, w))
            self.assertEqual(tuple(y.shape), (1, 1, h, w))
            self.assertTrue(((y > 0) & (y < 1)).all())

    def test_sky_mask_of_a_mirror_image_is_the_mirrored_mask(self):
        net = networks.SkyNet().eval()
        for h, w in ((256, 512), (37, 61)):
            x = torch.randn(1, 3, h, w)
            with torch.no_grad():
                direct, of_mirror = net(x), net(torch.flip(x, [3]))
                single = net.logits(x)
            self.assertTrue(torch.equal(of_mirror, torch.flip(direct, [3])))
            # The exported output is the mean of the two passes, not the single one fitting trains.
            self.assertGreater(float((direct - torch.sigmoid(single)).abs().max()), 1e-4)

    def test_depth_is_bounded_around_prior(self):
        prior = geometry.indoor_prior()
        net = networks.DepthNet(prior).eval()
        with torch.no_grad():
            net.body.head.bias.fill_(50.0)  # saturate tanh
            y = net(torch.randn(1, 3, 256, 512))[0, 0].numpy()
        k = networks.DEPTH_K
        np.testing.assert_allclose(y[:, 7], prior * (1 + k) / (1 - k), rtol=1e-5)
        self.assertTrue(np.isfinite(y).all() and (y > 0).all())

    def test_zero_head_gives_prior(self):
        prior = geometry.outdoor_prior()
        net = networks.DepthNet(prior).eval()
        torch.nn.init.zeros_(net.body.head.weight)
        torch.nn.init.zeros_(net.body.head.bias)
        with torch.no_grad():
            y = net(torch.randn(1, 3, 256, 512))[0, 0].numpy()
        np.testing.assert_array_equal(y, np.repeat(prior[:, None], 512, axis=1))

    def test_export_layout(self):
        net = networks.DepthNet(geometry.indoor_prior())
        with tempfile.TemporaryDirectory() as tmp:
            train.export("indoor_depth", net, tmp)
            with open(os.path.join(tmp, "indoor_depth_model.json")) as f:
                manifest = json.load(f)
            blob = np.fromfile(os.path.join(tmp, "indoor_depth_model.bin"), "<f4")
        self.assertEqual(manifest["kind"], "depth")
        self.assertAlmostEqual(manifest["depth_k"], networks.DEPTH_K)
        entry = {t["name"]: t for t in manifest["tensors"]}["e1/kernel"]
        self.assertEqual(entry["shape"], [3, 3, networks.ENC[0], networks.ENC[1]])
        kernel = blob[entry["offset"] // 4:entry["offset"] // 4 + 9 * networks.ENC[0] * networks.ENC[1]]
        hwio = net.body.e1.weight.detach().numpy().transpose(2, 3, 1, 0).ravel()
        np.testing.assert_array_equal(kernel, hwio)
        prior = manifest["prior"]
        self.assertEqual(prior["shape"], [1, 256, 1, 1])
        np.testing.assert_array_equal(blob[prior["offset"] // 4:prior["offset"] // 4 + 256],
                                      geometry.indoor_prior())
        self.assertEqual(len(manifest["tensors"]), 2 * len(networks.Body.LAYERS))


if __name__ == "__main__":
    unittest.main()
