"""Tests of the synthetic panorama generator (models/training/synth).

    /usr/bin/python3 -m unittest discover -s models/tests

The grammar, meshes and label passes run without Blender; the render test
needs `blender` on PATH and is skipped otherwise.
"""
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import zlib

import numpy as np

TRAINING = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "training")
sys.path.insert(0, TRAINING)

from synth import claims, grammar, indoor, meshes, outdoor, passes, shapes, zenith  # noqa: E402

SEEDS = range(60)


class DeterminismTest(unittest.TestCase):
    def test_same_seed_same_scene_and_geometry(self):
        for seed in (0, 7, 123456):
            a, b = grammar.describe(seed), grammar.describe(seed)
            self.assertEqual(json.dumps(a, sort_keys=True), json.dumps(b, sort_keys=True))
            ma, mb = meshes.scene_meshes(a), meshes.scene_meshes(b)
            self.assertEqual(sorted(ma), sorted(mb))
            for key in ma:
                self.assertEqual(ma[key].verts, mb[key].verts)
                self.assertEqual(ma[key].faces, mb[key].faces)

    def test_different_seeds_differ(self):
        scenes = {json.dumps(grammar.describe(s), sort_keys=True) for s in range(20)}
        self.assertEqual(len(scenes), 20)

    def test_forced_kind_is_kept(self):
        for kind in ("outdoor", "indoor"):
            self.assertEqual(grammar.describe(5, kind)["kind"], kind)
        with self.assertRaises(ValueError):
            grammar.describe(5, "underwater")


class RangesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scenes = [grammar.describe(s) for s in SEEDS]

    def test_both_kinds_and_all_sky_variants_occur(self):
        self.assertEqual({d["kind"] for d in self.scenes}, {"outdoor", "indoor"})
        self.assertEqual({d["sky"]["variant"] for d in self.scenes}, set(grammar.SKY_VARIANTS))
        self.assertTrue(any(d["sky"]["fog"] for d in self.scenes))

    def test_camera_height_tilt_and_film(self):
        for d in self.scenes:
            cam = d["camera"]
            self.assertGreaterEqual(cam["height"], grammar.CAMERA_HEIGHT[0])
            self.assertLessEqual(cam["height"], grammar.CAMERA_HEIGHT[1])
            for tilt in (cam["pitch"], cam["roll"]):
                self.assertLessEqual(abs(tilt), math.radians(grammar.MAX_TILT_DEG))
            self.assertTrue(0.5 <= d["film"]["exposure"] <= 2.0)
            self.assertTrue(all(0.5 < g < 2.0 for g in d["film"]["white_balance"]))

    def test_sun_elevation_per_variant(self):
        lo, hi = (math.radians(a) for a in grammar.SUN_ELEVATION_DEG)
        for d in self.scenes:
            e = d["sky"]["sun_elevation"]
            self.assertTrue(lo <= e <= hi)
            if d["sky"]["variant"] == "night":
                self.assertLess(e, 0.0)
            if d["sky"]["variant"] == "clear":
                self.assertGreater(e, 0.0)

    def test_elements_name_known_classes_and_materials(self):
        for d in self.scenes:
            json.dumps(d)  # the description is stored in sample.json
            for e in d["elements"]:
                self.assertIn(e["cls"], grammar.CLASSES)
                self.assertIn(e["material"], d["materials"])
                for extra in ("leaves", "roof_material", "tyres", "shade"):
                    if extra in e:
                        self.assertIn(e[extra], d["materials"])

    def test_outdoor_camera_stands_on_level_ground_clear_of_objects(self):
        for d in (s for s in self.scenes if s["kind"] == "outdoor"):
            terrain = next(e["terrain"] for e in d["elements"] if e["element"] == "terrain")
            self.assertEqual(outdoor.terrain_height(terrain, 0.0, 0.0), 0.0)
            self.assertEqual(outdoor.terrain_height(terrain, outdoor.FLAT_RADIUS, 0.0), 0.0)
            self.assertAlmostEqual(d["camera"]["z"], d["camera"]["height"])
            for e in d["elements"]:
                if e["element"] == "building":
                    self.assertGreater(math.hypot(*e["centre"]), math.hypot(*e["size"][:2]) / 2)
                if e["element"] in ("tree", "vehicle", "lamp_post"):
                    self.assertGreater(math.hypot(*e["position"]), 1.0)

    def test_indoor_camera_inside_room_below_ceiling(self):
        rooms = 0
        for d in (s for s in self.scenes if s["kind"] == "indoor"):
            room = next(e["room"] for e in d["elements"] if e["element"] == "room_walls")
            cam = d["camera"]
            self.assertTrue(indoor._inside([tuple(c) for c in room["corners"]], cam["x"], cam["y"], indoor.WALL_THICKNESS))
            self.assertLess(cam["z"], room["height"])
            self.assertIn(room["ceiling"], indoor.CEILINGS + ("pyramid",))
            rooms += 1
        self.assertGreater(rooms, 5)

    def test_scene_kinds_stay_on_their_side_of_the_sky_rule(self):
        """The view straight up: outdoor trees and buildings together hide at most the drawn
        share (recomputed here from all of them), indoor openings show at most their share."""
        kinds = set()
        for d in self.scenes:
            cam = d["camera"]
            if d["kind"] == "outdoor":
                view = zenith.ZenithView(cam)
                for e in d["elements"]:
                    if e["element"] == "tree":
                        view.hidden |= view.hidden_by(zenith.tree_spheres(e))
                    elif e["element"] == "building":
                        view.hidden |= view.hidden_by(zenith.building_spheres(e, cam["z"]))
                self.assertLessEqual(view.hidden_share(), outdoor.HIDDEN_OVERHEAD[1], d["seed"])
            else:
                room = next(e["room"] for e in d["elements"] if e["element"] == "room_walls")
                self.assertLessEqual(zenith.open_share(cam, room), indoor.OPEN_OVERHEAD, d["seed"])
            kinds.add(d.get("setting"))
        self.assertIn("forest", kinds)


class ZenithTest(unittest.TestCase):
    CAMERA = {"x": 0.0, "y": 0.0, "z": 1.5}

    def test_sphere_overhead_hides_its_cone(self):
        view = zenith.ZenithView(self.CAMERA)
        distance, radius = 10.0, 3.0
        hidden = view.hidden_by([([0.0, 0.0, 1.5 + distance], radius)]).mean()
        half_angle = math.asin(radius / distance)
        self.assertAlmostEqual(hidden, math.pi * math.tan(half_angle) ** 2 / 4, delta=0.01)

    def test_below_hides_nothing_and_around_hides_all(self):
        view = zenith.ZenithView(self.CAMERA)
        self.assertFalse(view.hidden_by([([0.0, 0.0, 0.0], 1.0)]).any())
        self.assertFalse(view.hidden_by([([30.0, 0.0, 2.0], 1.0)]).any())  # low on the horizon
        self.assertTrue(view.hidden_by([([0.2, 0.0, 1.5], 1.0)]).all())

    def test_admit_keeps_within_the_budget(self):
        view = zenith.ZenithView(self.CAMERA)
        big = [([0.0, 0.0, 11.5], 6.0)]
        self.assertFalse(view.admit(big, 0.3))
        self.assertEqual(view.hidden_share(), 0.0)
        self.assertTrue(view.admit([([0.0, 0.0, 11.5], 2.0)], 0.3))
        self.assertGreater(view.hidden_share(), 0.0)

    @staticmethod
    def room(holes=(), windows=None, half=5.0, height=3.5):
        corners = [[-half, -half], [half, -half], [half, half], [-half, half]]
        return {"corners": corners, "height": height, "holes": [list(h) for h in holes],
                "windows": windows or [[], [], [], []]}

    def test_ceiling_hole_shows_its_projection(self):
        self.assertEqual(zenith.open_share(self.CAMERA, self.room()), 0.0)
        rise, a = 2.0, 1.0  # a 2 m square hole 2 m above the camera: |u|, |v| < 0.5
        share = zenith.open_share(self.CAMERA, self.room([(-a, -a, a, a)]))
        self.assertAlmostEqual(share, (a / rise) ** 2, delta=0.02)

    def test_high_window_of_a_near_wall_shows_at_the_edge(self):
        # The wall at y = -1 is 1 m away; a window from 2.5 to 3.4 m high there is seen
        # 45-62 degrees up, inside the view straight up.
        corners = [[-5.0, -1.0], [5.0, -1.0], [5.0, 5.0], [-5.0, 5.0]]
        room = {"corners": corners, "height": 3.5, "windows": [[[0.0, 2.5, 10.0, 3.4]], [], [], []]}
        share = zenith.open_share(self.CAMERA, room)
        self.assertGreater(share, 0.05)
        self.assertLess(share, 0.5)

    def test_shrinking_keeps_centres(self):
        room = self.room([(-2.0, -1.0, 4.0, 3.0)], [[[1.0, 0.5, 3.0, 2.5]], [], [], []])
        zenith.shrink_openings(room, 0.5)
        self.assertEqual(room["holes"], [[-0.5, 0.0, 2.5, 2.0]])
        self.assertEqual(room["windows"][0], [[1.5, 1.0, 2.5, 2.0]])

    def test_large_openings_are_shrunk_to_the_limit(self):
        room = self.room([(-4.0, -4.0, 4.0, 4.0)])
        indoor._limit_openings(room, self.CAMERA)
        share = zenith.open_share(self.CAMERA, room)
        self.assertLessEqual(share, indoor.OPEN_OVERHEAD)
        self.assertGreater(share, indoor.OPEN_OVERHEAD * 0.8)  # shrunk no more than needed


class ShapesTest(unittest.TestCase):
    def test_panel_pieces_cover_exactly_the_panel_minus_holes(self):
        cases = [
            (4.0, 3.0, []),
            (4.0, 3.0, [(1.0, 1.0, 2.0, 2.5)]),
            (10.0, 3.0, [(1.0, 0.8, 2.0, 2.0), (4.0, 0.8, 5.0, 2.0), (7.0, 0.0, 8.0, 2.2)]),  # a door at the bottom
            (6.0, 6.0, [(0.0, 0.0, 6.0, 1.0)]),  # a hole over the full width
        ]
        rng = np.random.RandomState(0)
        for width, height, holes in cases:
            pieces = shapes.panel_pieces(width, height, holes)
            area = sum((u1 - u0) * (v1 - v0) for u0, v0, u1, v1 in pieces)
            self.assertAlmostEqual(area, width * height - sum((h[2] - h[0]) * (h[3] - h[1]) for h in holes))
            for u, v in rng.uniform(0, 1, (200, 2)) * (width, height):
                in_hole = any(h[0] < u < h[2] and h[1] < v < h[3] for h in holes)
                covering = sum(p[0] < u < p[2] and p[1] < v < p[3] for p in pieces)
                self.assertEqual(covering, 0 if in_hole else 1)

    def test_sphere_vertices_lie_on_the_radius(self):
        mesh = shapes.Mesh()
        shapes.uv_sphere(mesh, (1.0, 2.0, 3.0), 7.5, rings=8, segments=12)
        r = np.linalg.norm(np.array(mesh.verts) - (1.0, 2.0, 3.0), axis=1)
        np.testing.assert_allclose(r, 7.5, rtol=1e-12)
        self.assertEqual(len(mesh.verts), 2 + 7 * 12)
        self.assertTrue(all(max(f) < len(mesh.verts) for f in mesh.faces))

    def test_box_yaw_keeps_size(self):
        mesh = shapes.Mesh()
        shapes.box(mesh, (0.0, 0.0, 1.0), (4.0, 2.0, 2.0), yaw=math.pi / 2)
        v = np.array(mesh.verts)
        np.testing.assert_allclose(v.min(axis=0), (-1.0, -2.0, 0.0), atol=1e-12)
        np.testing.assert_allclose(v.max(axis=0), (1.0, 2.0, 2.0), atol=1e-12)

    def test_polygon_hall_flat_ceiling_covers_the_hall(self):
        corners = [[6.0 * math.cos(2 * math.pi * k / 7), 6.0 * math.sin(2 * math.pi * k / 7)] for k in range(7)]
        room = {"corners": corners, "height": 5.0, "ceiling": "flat", "rise": 0.0, "thickness": 0.2,
                "windows": [[] for _ in corners]}
        m = meshes.Meshes()
        meshes.room_ceiling(m, {"room": room, "cls": "ceiling", "material": "c"})
        mesh = m.of("ceiling", "c")
        low = [v for v in mesh.verts if abs(v[2] - 5.0) < 1e-9]
        self.assertEqual(len(low), 7)
        outline = [v[:2] for v in low]
        for x, y in corners + [[0.0, 0.0]]:  # every corner and the centre lie under it
            self.assertTrue(indoor._inside(outline, x, y, 0.1))

    def test_trees_grow_from_their_seed(self):
        e = {"seed": 3, "position": [10.0, 0.0], "height": 8.0, "kind": "broadleaf"}
        seg_a, leaves_a = meshes.tree_parts(e)
        seg_b, leaves_b = meshes.tree_parts(dict(e))
        self.assertEqual((seg_a, leaves_a), (seg_b, leaves_b))
        self.assertGreater(len(leaves_a), 0)
        self.assertEqual(meshes.tree_parts(dict(e, kind="bare"))[1], [])
        tops = [max(p0[2], p1[2]) for p0, p1, *_ in seg_a]
        self.assertLess(max(tops), 2 * e["height"])


class PassesTest(unittest.TestCase):
    def test_index_to_labels(self):
        c = grammar.CLASSES
        index = np.array([[0.0, c["terrain"], c["water"], c["ceiling"], c["structure"], c["vegetation"], c["object"]]],
                         np.float32)
        labels = passes.labels_from_index(index + np.float32(1e-4))  # passes hold floats
        np.testing.assert_array_equal(labels, [[passes.SKY, passes.GROUND, passes.GROUND, passes.CEILING,
                                                passes.OTHER, passes.OTHER, passes.OTHER]])

    def test_depth_is_infinite_on_sky_only(self):
        z = np.array([[1e10, 2.5], [3.0, 1e10]], np.float32)
        index = np.array([[0.0, 4.0], [1.0, 5.0]], np.float32)
        np.testing.assert_array_equal(passes.depth_from_pass(z, index), [[np.inf, 2.5], [3.0, 1e10]])

    def test_png_round_trip(self):
        image = (np.arange(6 * 5).reshape(6, 5) * 7 % 256).astype(np.uint8)
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "x.png")
            passes.write_png(path, image)
            with open(path, "rb") as f:
                data = f.read()
        self.assertEqual(data[:8], b"\x89PNG\r\n\x1a\n")
        w, h = int.from_bytes(data[16:20], "big"), int.from_bytes(data[20:24], "big")
        self.assertEqual((w, h), (5, 6))
        start = data.index(b"IDAT") + 4
        length = int.from_bytes(data[start - 8:start - 4], "big")
        raw = np.frombuffer(zlib.decompress(data[start:start + length]), np.uint8).reshape(6, 6)
        self.assertTrue((raw[:, 0] == 0).all())  # filter byte per row
        np.testing.assert_array_equal(raw[:, 1:], image)

    def test_row_elevation_is_symmetric_about_the_horizon(self):
        e = passes.row_elevation()
        self.assertAlmostEqual(e[0], math.pi / 2 - math.pi / 512)
        np.testing.assert_allclose(e + e[::-1], 0.0, atol=1e-12)


@unittest.skipIf(shutil.which("blender") is None, "blender is not installed (make models-setup installs it)")
class ClaimTest(unittest.TestCase):
    """Renders sharing a seed range: one seed, one renderer."""

    def test_live_claim_holds_and_release_frees(self):
        with tempfile.TemporaryDirectory() as tmp:
            folder = os.path.join(tmp, "000007")
            self.assertTrue(claims.claim(folder))
            self.assertTrue(claims.claim(folder), "a process may renew its own claim")
            # Another live process (the parent of this one) holds a second folder.
            other = os.path.join(tmp, "000008")
            os.makedirs(other)
            with open(os.path.join(other, claims.CLAIM), "w") as f:
                f.write(str(os.getppid()))
            self.assertFalse(claims.claim(other))
            claims.release(other)  # not ours: stays
            self.assertTrue(os.path.exists(os.path.join(other, claims.CLAIM)))
            claims.release(folder)
            self.assertFalse(os.path.exists(os.path.join(folder, claims.CLAIM)))

    def test_claim_of_a_dead_or_unreadable_owner_is_taken_over(self):
        child = subprocess.Popen([sys.executable, "-c", "pass"])
        child.wait()  # its pid is now free (reuse within the test is practically impossible)
        with tempfile.TemporaryDirectory() as tmp:
            for content in (str(child.pid), "", "garbage"):
                with self.subTest(content=content):
                    folder = os.path.join(tmp, "x")
                    os.makedirs(folder, exist_ok=True)
                    with open(os.path.join(folder, claims.CLAIM), "w") as f:
                        f.write(content)
                    self.assertTrue(claims.claim(folder))
                    with open(os.path.join(folder, claims.CLAIM)) as f:
                        self.assertEqual(f.read(), str(os.getpid()))
            self.assertEqual(sorted(os.listdir(os.path.join(tmp, "x"))), [claims.CLAIM], "no temporary left")

    def test_concurrent_claimers_get_disjoint_seeds(self):
        # Each claimer lives until all have finished claiming, as a render holds its claim.
        code = ("import os, sys; sys.path.insert(0, %r); from synth import claims\n"
                "got = [s for s in range(40) if claims.claim(os.path.join(%r, str(s)))]\n"
                "print(' '.join(map(str, got)), flush=True); sys.stdin.read()")
        with tempfile.TemporaryDirectory() as tmp:
            here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "training")
            procs = [subprocess.Popen([sys.executable, "-c", code % (here, tmp)], stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, text=True) for _ in range(3)]
            outs = [set(map(int, p.stdout.readline().split())) for p in procs]
            for p in procs:
                p.communicate("")
        self.assertEqual(sum(len(o) for o in outs), 40, "every seed claimed exactly once")
        self.assertEqual(set().union(*outs), set(range(40)))


class CalibrationRenderTest(unittest.TestCase):
    """One tiny render of each known-geometry scene, checked against the exact labels."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp()
        script = os.path.join(TRAINING, "synth", "blender_render.py")
        for shape, size in (("sphere", 7.0), ("plane", 1.5)):
            subprocess.run(["blender", "-b", "--factory-startup", "--python-exit-code", "1", "--python", script, "--",
                            "--out", cls.tmp, "--calibration", shape, "--size", str(size), "--samples", "1",
                            "--width", "128"], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp)

    def load(self, shape):
        import struct
        depth = np.load(os.path.join(self.tmp, shape, "depth.npy"))
        with open(os.path.join(self.tmp, shape, "labels.png"), "rb") as f:
            data = f.read()
        start = data.index(b"IDAT") + 4
        length = struct.unpack(">I", data[start - 8:start - 4])[0]
        labels = np.frombuffer(zlib.decompress(data[start:start + length]), np.uint8).reshape(256, 513)[:, 1:]
        return depth, labels

    def test_sphere_gives_its_radius_everywhere(self):
        depth, labels = self.load("sphere")
        self.assertEqual(depth.shape, (passes.HEIGHT, passes.WIDTH))
        np.testing.assert_allclose(depth, 7.0, rtol=1e-3)  # the mesh's flat faces sag by < 0.03 %
        self.assertTrue((labels == passes.OTHER).all())

    def test_plane_gives_height_over_sine_of_elevation(self):
        depth, labels = self.load("plane")
        e = np.broadcast_to(passes.row_elevation()[:, None], depth.shape)
        below = e < 0
        self.assertTrue((labels[below] == passes.GROUND).all())
        self.assertTrue((labels[~below] == passes.SKY).all())
        self.assertTrue(np.isinf(depth[~below]).all())
        expected = 1.5 / np.sin(-e[below])
        # A ray off the row centre by de changes the distance by cot(e) de: allow 1 % of a pixel
        # (the 0.01-pixel filter), which is 1 % of depth next to the horizon and nothing at the nadir.
        allowed = 1e-4 + np.abs(1.0 / np.tan(e[below])) * 0.01 * math.pi / passes.HEIGHT
        self.assertLess((np.abs(depth[below] - expected) / expected / allowed).max(), 1.0)


if __name__ == "__main__":
    unittest.main()
