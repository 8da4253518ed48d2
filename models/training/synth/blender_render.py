"""Blender entry point: renders labelled synthetic panoramas.

    blender -b --python models/training/synth/blender_render.py -- \\
        --out DIR (--seeds 0 1 2 | --first 0 --count 100) [--samples 32] [--width 1024]
        [--threads N] [--keep]
    blender -b --python ... -- --out DIR --calibration sphere|plane --size METRES

Per sample, in DIR/NNNNNN/ (the seed, six digits):
  rgb.exr      linear RGB (half float, ZIP), width x width/2, white balance applied;
  labels.png   512 x 256, 0 other, 1 sky, 2 ground, 3 ceiling;
  depth.npy    512 x 256 float32 ray distance in metres, +inf for sky;
  sample.json  kind, exposure for the tone mapper, render settings, the full scene description.
Two renders per sample: the picture (Cycles, `samples` paths per pixel, the
usual 1.5-pixel filter), then the labels at 512 x 256 with one ray through
each pixel centre (a 0.01-pixel filter), so sky and ground are exact.
"""
import argparse
import json
import os
import sys
import time

import bpy
import numpy as np

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from synth import blender_scene, claims, grammar, passes  # noqa: E402


def _cycles(scene, samples, seed, threads):
    scene.render.engine = "CYCLES"
    c = scene.cycles
    c.device = "CPU"
    c.samples = samples
    c.use_denoising = False  # Debian's Blender has no OpenImageDenoise
    c.seed = seed
    c.use_adaptive_sampling = True
    c.adaptive_threshold = 0.03
    c.max_bounces, c.diffuse_bounces, c.glossy_bounces = 6, 3, 2
    c.transmission_bounces, c.transparent_max_bounces, c.volume_bounces = 0, 2, 0
    c.caustics_reflective = c.caustics_refractive = False
    c.sample_clamp_indirect = 5.0
    scene.render.threads_mode = "FIXED"
    scene.render.threads = threads or max(1, os.cpu_count() or 1)
    scene.frame_current = 1


def _compositor(scene, folder, film, fog, labels):
    """File Output nodes: the picture (white balance, fog) or the index and depth passes."""
    scene.use_nodes = True
    tree = scene.node_tree
    tree.nodes.clear()
    layers = tree.nodes.new("CompositorNodeRLayers")
    out = tree.nodes.new("CompositorNodeOutputFile")
    out.base_path = folder
    out.format.file_format = "OPEN_EXR"
    out.format.exr_codec = "ZIP"
    out.file_slots.clear()
    if labels:
        out.format.color_depth = "32"
        out.format.color_mode = "RGB"
        for name in ("IndexOB", "Depth"):
            out.file_slots.new(name + "_")
            tree.links.new(layers.outputs[name], out.inputs[-1])
        return
    out.format.color_depth = "16"
    out.format.color_mode = "RGB"
    image = layers.outputs["Image"]
    if fog:
        # Fog: mix towards the scene's mean light (tinted) by 1 - exp(-d / visibility); sky as at 3 visibilities.
        cap = tree.nodes.new("CompositorNodeMath")
        cap.operation, cap.inputs[1].default_value = "MINIMUM", 3.0 * fog["visibility"]
        tree.links.new(layers.outputs["Depth"], cap.inputs[0])
        scaled = tree.nodes.new("CompositorNodeMath")
        scaled.operation, scaled.inputs[1].default_value = "DIVIDE", -fog["visibility"]
        tree.links.new(cap.outputs[0], scaled.inputs[0])
        trans = tree.nodes.new("CompositorNodeMath")
        trans.operation = "EXPONENT"
        tree.links.new(scaled.outputs[0], trans.inputs[0])
        amount = tree.nodes.new("CompositorNodeMath")
        amount.operation, amount.inputs[0].default_value = "SUBTRACT", 1.0
        tree.links.new(trans.outputs[0], amount.inputs[1])
        blur = tree.nodes.new("CompositorNodeBlur")
        blur.use_relative, blur.factor_x, blur.factor_y = True, 50.0, 50.0
        blur.filter_type = "FAST_GAUSS"
        tree.links.new(image, blur.inputs["Image"])
        tint = tree.nodes.new("CompositorNodeMixRGB")
        tint.blend_type, tint.inputs["Fac"].default_value = "MULTIPLY", 1.0
        tint.inputs[2].default_value = (*[1.6 * c for c in fog["colour"]], 1.0)
        tree.links.new(blur.outputs[0], tint.inputs[1])
        mix = tree.nodes.new("CompositorNodeMixRGB")
        tree.links.new(amount.outputs[0], mix.inputs["Fac"])
        tree.links.new(image, mix.inputs[1])
        tree.links.new(tint.outputs[0], mix.inputs[2])
        image = mix.outputs[0]
    balance = tree.nodes.new("CompositorNodeMixRGB")
    balance.blend_type, balance.inputs["Fac"].default_value = "MULTIPLY", 1.0
    balance.inputs[2].default_value = (*film["white_balance"], 1.0)
    tree.links.new(image, balance.inputs[1])
    out.file_slots.new("rgb_")
    tree.links.new(balance.outputs[0], out.inputs[-1])


def _load_channel(path):
    """Channel 0 of a float EXR as a numpy array, rows top first."""
    img = bpy.data.images.load(path)
    img.colorspace_settings.name = "Non-Color"
    w, h = img.size
    buf = np.empty(w * h * 4, np.float32)
    img.pixels.foreach_get(buf)
    bpy.data.images.remove(img)
    return buf.reshape(h, w, 4)[::-1, :, 0].copy()


def render_sample(desc, folder, samples, width, threads=0):
    os.makedirs(folder, exist_ok=True)
    scene = bpy.context.scene
    t0 = time.time()
    blender_scene.build(desc)
    view_layer = scene.view_layers[0]
    view_layer.use_pass_z = view_layer.use_pass_object_index = True
    _cycles(scene, samples, desc["seed"], threads)
    scene.render.resolution_x, scene.render.resolution_y = width, width // 2
    scene.render.resolution_percentage = 100
    scene.cycles.filter_width = 1.5
    _compositor(scene, folder, desc["film"], desc["sky"]["fog"], labels=False)
    t1 = time.time()
    bpy.ops.render.render(write_still=False)
    t2 = time.time()
    os.replace(os.path.join(folder, "rgb_0001.exr"), os.path.join(folder, "rgb.exr"))
    # Labels: one ray through each working-size pixel centre, no bounces.
    scene.render.resolution_x, scene.render.resolution_y = passes.WIDTH, passes.HEIGHT
    scene.cycles.filter_width = 0.01
    scene.cycles.samples, scene.cycles.use_adaptive_sampling, scene.cycles.max_bounces = 1, False, 0
    _compositor(scene, folder, desc["film"], None, labels=True)
    bpy.ops.render.render(write_still=False)
    t3 = time.time()
    index_path, depth_path = (os.path.join(folder, n + "_0001.exr") for n in ("IndexOB", "Depth"))
    index, z = _load_channel(index_path), _load_channel(depth_path)
    os.remove(index_path)
    os.remove(depth_path)
    labels = passes.labels_from_index(index)
    passes.write_png(os.path.join(folder, "labels.png"), labels)
    np.save(os.path.join(folder, "depth.npy"), passes.depth_from_pass(z, index))
    meta = {"seed": desc["seed"], "kind": desc["kind"], "setting": desc.get("setting"),
            "exposure": desc["film"]["exposure"], "rgb": "rgb.exr", "rgb_size": [width, width // 2],
            "samples": samples, "label_coding": {"other": 0, "sky": 1, "ground": 2, "ceiling": 3},
            "sky_fraction": float((labels == passes.SKY).mean()),
            "seconds": {"build": round(t1 - t0, 2), "picture": round(t2 - t1, 2), "labels": round(t3 - t2, 2)},
            "blender": bpy.app.version_string, "scene": desc}
    # Written last and whole: its presence marks a finished sample (--keep).
    with open(os.path.join(folder, "sample.json.tmp"), "w") as f:
        json.dump(meta, f, indent=1)
    os.replace(os.path.join(folder, "sample.json.tmp"), os.path.join(folder, "sample.json"))
    print("synth: sample %s %s picture %.1fs labels %.1fs" % (folder, desc["kind"], t2 - t1, t3 - t2), flush=True)


def main(argv):
    parser = argparse.ArgumentParser(prog="blender_render.py")
    parser.add_argument("--out", required=True)
    parser.add_argument("--seeds", type=int, nargs="*")
    parser.add_argument("--first", type=int, default=0)
    parser.add_argument("--count", type=int, default=1)
    parser.add_argument("--kind", choices=("outdoor", "indoor"))
    parser.add_argument("--samples", type=int, default=32)
    parser.add_argument("--width", type=int, default=1024)
    parser.add_argument("--calibration", choices=("sphere", "plane"))
    parser.add_argument("--size", type=float, default=10.0)
    parser.add_argument("--threads", type=int, default=0, help="render threads (0: one per CPU)")
    parser.add_argument("--keep", action="store_true",
                        help="skip samples already rendered or being rendered by another process")
    args = parser.parse_args(argv)
    if args.calibration:
        render_sample(grammar.calibration(args.calibration, args.size), os.path.join(args.out, args.calibration),
                      args.samples, args.width)
        return
    seeds = args.seeds if args.seeds else range(args.first, args.first + args.count)
    for seed in seeds:
        folder = os.path.join(args.out, "%06d" % seed)
        if args.keep and (os.path.exists(os.path.join(folder, "sample.json")) or not claims.claim(folder)):
            continue
        render_sample(grammar.describe(seed, args.kind), folder, args.samples, args.width, args.threads)
        if args.keep:
            claims.release(folder)


if __name__ == "__main__":
    main(sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else [])
