"""Tests of fitting on rendered panoramas: tone curves and augmentation, the
sample reader, the depth loss and export of the fitted networks, and the
measurements (plain unittest, Debian's Python):

    /usr/bin/python3 -m unittest discover -s models/tests
"""
import json
import os
import sys
import tempfile
import unittest

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "training"))

import cv2  # noqa: E402
import labels  # noqa: E402
import photometric  # noqa: E402
import synthetic  # noqa: E402


def gradient_hdr(h=16, w=32):
    """A linear BGR image spanning four decades of light, a few pixels of each."""
    v = np.logspace(-2, 2, h * w, dtype=np.float32).reshape(h, w)
    return np.dstack([v * 0.8, v, v * 1.2]).astype(np.float32)


class ToneCurveTest(unittest.TestCase):
    def test_every_operator_is_monotonic_in_light_and_exposure(self):
        hdr = gradient_hdr()
        for op in photometric.OPERATORS:
            with self.subTest(op=op):
                img = photometric.tone_map(hdr, op)
                self.assertEqual((img.dtype, img.shape), (np.uint8, hdr.shape))
                g = img[:, :, 1].ravel().astype(int)
                self.assertTrue((np.diff(g) >= 0).all(), "brighter light must not map darker")
                self.assertGreater(g[-1], g[0] + 100)
                darker = photometric.tone_map(hdr, op, exposure=0.25).astype(int)
                brighter = photometric.tone_map(hdr, op, exposure=4.0).astype(int)
                self.assertTrue((darker <= img.astype(int)).all() and (img.astype(int) <= brighter).all())
                self.assertLess(darker.mean(), brighter.mean() - 20)

    def test_bad_samples_are_black_and_never_poison_the_image(self):
        hdr = gradient_hdr()
        hdr[0, 0] = np.nan
        hdr[0, 1] = -3.0
        hdr[0, 2] = np.inf
        for op in photometric.OPERATORS:
            with self.subTest(op=op):
                img = photometric.tone_map(hdr, op)
                self.assertEqual(img[0, 0].tolist(), [0, 0, 0])
                self.assertEqual(img[0, 1].tolist(), [0, 0, 0])
                # The rest keeps its gradient: one bad pixel must not rescale the picture to black.
                self.assertGreater(int(img[-1, -1, 1]), 128)

    def test_black_image_stays_black(self):
        for op in photometric.OPERATORS:
            self.assertFalse(photometric.tone_map(np.zeros((4, 8, 3), np.float32), op).any(), op)

    def test_gamma_brightens_mid_tones(self):
        hdr = gradient_hdr()
        low, high = (photometric.tone_map(hdr, "camera", 1.0, g).astype(int) for g in (1.8, 2.6))
        self.assertTrue((high >= low).all() and (high > low).any())

    def test_unknown_operator_is_refused(self):
        with self.assertRaises(ValueError):
            photometric.tone_map(gradient_hdr(), "hable")


class AugmentTest(unittest.TestCase):
    def test_same_seed_same_picture_and_draws_differ(self):
        hdr = gradient_hdr(32, 64)
        a, op_a = photometric.augment(np.random.RandomState(7), hdr)
        b, op_b = photometric.augment(np.random.RandomState(7), hdr)
        np.testing.assert_array_equal(a, b)
        self.assertEqual(op_a, op_b)
        rng = np.random.RandomState(8)
        draws = [photometric.augment(rng, hdr) for _ in range(12)]
        self.assertEqual(draws[0][0].shape, hdr.shape)
        self.assertGreater(len({op for _, op in draws}), 1)
        self.assertGreater(np.std([d.mean() for d, _ in draws]), 5.0)

    def test_input_is_left_alone(self):
        hdr = gradient_hdr()
        copy = hdr.copy()
        photometric.augment(np.random.RandomState(1), hdr)
        np.testing.assert_array_equal(hdr, copy)


def write_sample(folder, seed=5, kind="outdoor", finished=True):
    """A sample folder as the renderer writes it: sky in the top rows, ground below."""
    os.makedirs(folder, exist_ok=True)
    h, w = 256, 512
    label = np.zeros((h, w), np.uint8)
    label[:100] = labels.SKY
    label[160:] = labels.GROUND
    depth = np.full((h, w), 7.0, np.float32)
    depth[:100] = np.inf
    depth[200:, :10] = 0.05
    depth[120, :4] = 500.0
    rgb = np.full((h, w, 3), 0.25, np.float32)
    rgb[:100] = (0.9, 0.6, 0.3)  # BGR: a blue sky
    cv2.imwrite(os.path.join(folder, "rgb.exr"), rgb)
    cv2.imwrite(os.path.join(folder, "labels.png"), label)
    np.save(os.path.join(folder, "depth.npy"), depth)
    if finished:
        with open(os.path.join(folder, "sample.json"), "w") as f:
            json.dump({"seed": seed, "kind": kind, "setting": "field", "exposure": 1.5, "rgb": "rgb.exr"}, f)


class SampleReaderTest(unittest.TestCase):
    def test_reads_labels_depth_and_linear_picture(self):
        with tempfile.TemporaryDirectory() as tmp:
            write_sample(os.path.join(tmp, "000005"))
            write_sample(os.path.join(tmp, "000002"), seed=2, kind="indoor")
            write_sample(os.path.join(tmp, "000003"), seed=3, finished=False)
            samples = synthetic.load_all(tmp)
        self.assertEqual([s.seed for s in samples], [2, 5], "unfinished renders are skipped, seed order")
        out = samples[1]
        self.assertTrue(out.outdoor and not samples[0].outdoor)
        self.assertEqual(out.exposure, 1.5)
        np.testing.assert_allclose(out.hdr[0, 0], (0.9, 0.6, 0.3), rtol=1e-3)
        self.assertEqual(out.label[0, 0], labels.SKY)

    def test_a_seed_range_must_be_complete(self):
        with tempfile.TemporaryDirectory() as tmp:
            for seed in (0, 1, 3):
                write_sample(os.path.join(tmp, "%06d" % seed), seed=seed)
            write_sample(os.path.join(tmp, "000002"), seed=2, finished=False)
            self.assertEqual([s.seed for s in synthetic.load_all(tmp, 2)], [0, 1])
            with self.assertRaisesRegex(IOError, "1 of seeds 0..3 not rendered"):
                synthetic.load_all(tmp, 4)

    def test_depth_target_caps_sky_and_far_and_floors_near(self):
        with tempfile.TemporaryDirectory() as tmp:
            write_sample(os.path.join(tmp, "a"), kind="outdoor")
            write_sample(os.path.join(tmp, "b"), kind="indoor")
            out, ind = synthetic.load_all(tmp)
        for s, cap in ((out, synthetic.OUTDOOR_CAP), (ind, synthetic.INDOOR_CAP)):
            t = s.depth_target()
            self.assertTrue(np.isfinite(t).all())
            self.assertEqual(t[0, 0], cap)          # sky
            self.assertEqual(t[120, 0], cap)        # beyond the cap
            self.assertAlmostEqual(float(t[250, 0]), synthetic.NEAREST, places=6)
            self.assertEqual(t[180, 100], 7.0)

    def test_wrong_label_size_is_refused(self):
        with tempfile.TemporaryDirectory() as tmp:
            write_sample(tmp)
            cv2.imwrite(os.path.join(tmp, "labels.png"), np.zeros((128, 256), np.uint8))
            with self.assertRaises(IOError):
                synthetic.Sample(tmp)


try:
    import torch
    import geometry
    import measure
    import networks
    import train
except ImportError:  # torch missing: the fitting tests are skipped
    torch = None


@unittest.skipIf(torch is None, "python3-torch not installed")
class FittingTest(unittest.TestCase):
    def test_depth_loss_is_zero_at_the_target_and_clips_out_of_reach_targets(self):
        net = networks.DepthNet(geometry.outdoor_prior())
        torch.nn.init.zeros_(net.body.head.weight)
        torch.nn.init.zeros_(net.body.head.bias)
        x = torch.randn(1, 3, 256, 64)
        log_prior = torch.log(net.prior).expand(1, 1, 256, 64)
        self.assertAlmostEqual(train.depth_loss(net, x, log_prior).item(), 0.0, places=6)
        # A target a thousand times the prior is out of the head's reach: the loss is that of the
        # reachable limit, finite, and the same as for a target just at that limit.
        reach = float(np.log((1 + networks.DEPTH_K) / (1 - networks.DEPTH_K))) * 0.98
        far = train.depth_loss(net, x, log_prior + np.log(1000.0))
        at_limit = train.depth_loss(net, x, log_prior + reach)
        self.assertTrue(torch.isfinite(far))
        self.assertAlmostEqual(far.item(), at_limit.item(), places=5)
        w = train.DEPTH_LOG_WEIGHT
        self.assertAlmostEqual(at_limit.item(), -np.expm1(-reach) + w * reach * reach, places=4)
        # Judged by the relative error: twice too far costs more than half as near.
        too_far = train.depth_loss(net, x, log_prior - np.log(2.0)).item()
        too_near = train.depth_loss(net, x, log_prior + np.log(2.0)).item()
        self.assertAlmostEqual(too_far, 1.0 + w * np.log(2.0) ** 2, places=4)
        self.assertAlmostEqual(too_near, 0.5 + w * np.log(2.0) ** 2, places=4)

    def test_depth_networks_start_from_the_sky_body_at_their_prior(self):
        torch.manual_seed(4)
        with tempfile.TemporaryDirectory() as tmp:
            with self.assertRaisesRegex(SystemExit, "no fitted sky network"):
                train.load_fitted("sky", tmp)
            train.export("sky", train.new_network("sky"), tmp)
            sky = train.load_fitted("sky", tmp)
        x = torch.randn(1, 3, 256, 32)
        for kind, prior in (("indoor_depth", geometry.indoor_prior()), ("outdoor_depth", geometry.outdoor_prior())):
            with self.subTest(kind=kind):
                net = train.depth_start(kind, sky.body)
                for layer in networks.Body.LAYERS[:-1]:
                    self.assertTrue(torch.equal(getattr(net.body, layer).weight, getattr(sky.body, layer).weight))
                self.assertEqual(float(net.body.head.weight.abs().sum()), 0.0)
                with torch.no_grad():
                    d = net(x)[0, 0].numpy()
                np.testing.assert_allclose(d, np.broadcast_to(prior[:, None], d.shape), rtol=1e-6)
                # Fitting moves the copy, not the sky network it came from.
                net.body.e0.weight.data.add_(1.0)
                self.assertFalse(torch.equal(net.body.e0.weight, sky.body.e0.weight))

    def test_sky_calibration_takes_the_offset_of_best_iou_into_the_bias(self):
        with tempfile.TemporaryDirectory() as tmp:
            write_sample(os.path.join(tmp, "000000"))
            synth = synthetic.load_all(tmp)
        net = train.new_network("sky")
        torch.nn.init.zeros_(net.body.head.weight)
        # Logits of -0.6 everywhere: no sky until the offset passes 0.6, then all sky, whose
        # IoU against the top 100 rows of sky beats none; the first offset that gets there wins.
        torch.nn.init.constant_(net.body.head.bias, -0.6)
        train.calibrate_sky(net, synth)
        self.assertAlmostEqual(float(net.body.head.bias), -0.6 + 0.75, places=6)
        # A network already at its best keeps its bias.
        torch.nn.init.constant_(net.body.head.bias, 2.5)
        train.calibrate_sky(net, synth, np.array([-3.0, 0.0, 1.0]))
        self.assertAlmostEqual(float(net.body.head.bias), 2.5, places=6)

    def test_channels_last_network_exports_the_same_bytes(self):
        torch.manual_seed(3)
        net = train.new_network("ground")
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "ground_segm_model.bin")
            train.export("ground", net, tmp)
            with open(path, "rb") as f:
                plain = f.read()
            train.export("ground", net.to(memory_format=torch.channels_last), tmp)
            with open(path, "rb") as f:
                last = f.read()
        self.assertEqual(plain, last)

    def test_depth_networks_see_only_their_scene_kind(self):
        class S:
            def __init__(self, outdoor):
                self.outdoor = outdoor
        synth = [S(True), S(False), S(True)]
        self.assertEqual(len(train.Draws("outdoor_depth", synth, None).synth), 2)
        self.assertEqual(len(train.Draws("indoor_depth", synth, None).synth), 1)
        with self.assertRaises(SystemExit):
            train.Draws("indoor_depth", [S(True)], None)

    def test_draws_are_windows_of_one_consistent_view(self):
        with tempfile.TemporaryDirectory() as tmp:
            write_sample(os.path.join(tmp, "a"), kind="outdoor")
            draws = train.Draws("outdoor_depth", synthetic.load_all(tmp), None)
            rng = np.random.RandomState(0)
            for x, label, log_depth in (draws.one(rng) for _ in range(4)):
                self.assertEqual(x.shape, (256, train.CROP, 3))
                self.assertEqual(label.shape, (256, train.CROP))
                # The rows do not move: sky stays on top, with the far cap as its depth.
                self.assertTrue((label[:100] == labels.SKY).all())
                np.testing.assert_allclose(log_depth[:100], np.log(synthetic.OUTDOOR_CAP), rtol=1e-6)
                self.assertGreater(x[:50, :, 2].min(), x[150:, :, 2].max(), "blue sky above grey ground")


@unittest.skipIf(torch is None, "python3-torch not installed")
class MeasureTest(unittest.TestCase):
    def test_depth_errors(self):
        label = np.zeros((4, 4), np.uint8)
        label[0] = labels.SKY
        truth = np.full((4, 4), 10.0, np.float32)
        truth[0] = np.inf
        absrel, delta = measure.depth_errors(truth.copy(), truth, label, 100.0)
        self.assertEqual((absrel, delta), (0.0, 1.0))
        pred = np.full((4, 4), 20.0, np.float32)
        pred[0] = 1.0  # sky pixels are not counted
        absrel, delta = measure.depth_errors(pred, truth, label, 100.0)
        self.assertAlmostEqual(absrel, 1.0)
        self.assertEqual(delta, 0.0)
        # Both sides are capped: 500 m against a true 200 m is right under a 100 m cap.
        self.assertEqual(measure.depth_errors(np.full((2, 2), 500.0), np.full((2, 2), 200.0),
                                              np.zeros((2, 2), np.uint8), 100.0), (0.0, 1.0))
        self.assertIsNone(measure.depth_errors(pred, truth, np.full((4, 4), labels.SKY, np.uint8), 100.0))

    def test_height_blind_depth_scales_with_the_camera_height(self):
        truth = np.array([[2.0, 50.0, np.inf]], np.float32)
        label = np.zeros((1, 3), np.uint8)
        label[0, 2] = labels.SKY
        # A camera at 3.2 m taken for 1.6 m: everything half as far, AbsRel 0.5 below the cap.
        blind = measure.height_blind(truth, 3.2)
        np.testing.assert_allclose(blind[0, :2], [1.0, 25.0])
        self.assertAlmostEqual(measure.depth_errors(blind, truth, label, 100.0)[0], 0.5, places=6)
        # At the priors' own height the exact depth is exact.
        self.assertEqual(measure.depth_errors(measure.height_blind(truth, 1.6), truth, label, 100.0), (0.0, 1.0))

    def test_sample_reads_its_camera_height(self):
        with tempfile.TemporaryDirectory() as tmp:
            write_sample(tmp)
            self.assertIsNone(synthetic.Sample(tmp).camera_height)
            with open(os.path.join(tmp, "sample.json")) as f:
                meta = json.load(f)
            meta["scene"] = {"camera": {"height": 2.25}}
            with open(os.path.join(tmp, "sample.json"), "w") as f:
                json.dump(meta, f)
            self.assertEqual(synthetic.Sample(tmp).camera_height, 2.25)


if __name__ == "__main__":
    unittest.main()
