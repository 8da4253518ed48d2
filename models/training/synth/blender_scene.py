"""Scene description -> Blender scene: objects, procedural materials, sky, lamps, camera.

Runs inside Blender (bpy). Each (class, material) mesh of `meshes.py` becomes
one object at the origin, so object coordinates are world coordinates for the
textures, and its pass index is the class number of `grammar.CLASSES`; the
world background keeps index 0.
"""
import math

import bpy

from synth import grammar, meshes


def clear():
    for collection in (bpy.data.objects, bpy.data.meshes, bpy.data.materials, bpy.data.lights,
                       bpy.data.cameras, bpy.data.worlds, bpy.data.node_groups, bpy.data.images):
        for block in list(collection):
            if getattr(block, "type", None) not in ("RENDER_RESULT", "COMPOSITING"):
                collection.remove(block)


def _node(tree, kind, **inputs):
    """A new node with some inputs set by name."""
    node = tree.nodes.new(kind)
    for name, value in inputs.items():
        node.inputs[name].default_value = value
    return node


def _rgba(c):
    return (c[0], c[1], c[2], 1.0)


def _object_coordinates(tree, scale):
    coords = tree.nodes.new("ShaderNodeTexCoord")
    mapping = _node(tree, "ShaderNodeMapping")
    mapping.inputs["Scale"].default_value = (scale, scale, scale)
    tree.links.new(coords.outputs["Object"], mapping.inputs["Vector"])
    return mapping.outputs["Vector"]


def _facade_coordinates(tree):
    """(x + y, z): a wall facing any direction gets a horizontal and a vertical coordinate."""
    coords = tree.nodes.new("ShaderNodeTexCoord")
    xyz = tree.nodes.new("ShaderNodeSeparateXYZ")
    tree.links.new(coords.outputs["Object"], xyz.inputs[0])
    across = tree.nodes.new("ShaderNodeMath")
    across.operation = "ADD"
    tree.links.new(xyz.outputs["X"], across.inputs[0])
    tree.links.new(xyz.outputs["Y"], across.inputs[1])
    out = tree.nodes.new("ShaderNodeCombineXYZ")
    tree.links.new(across.outputs[0], out.inputs["X"])
    tree.links.new(xyz.outputs["Z"], out.inputs["Y"])
    return out.outputs[0]


def make_material(name, spec):
    mat = bpy.data.materials.new(name)
    mat.use_nodes = True
    tree = mat.node_tree
    tree.nodes.clear()
    output = tree.nodes.new("ShaderNodeOutputMaterial")
    pattern = spec["pattern"]
    if pattern == "emission":
        if spec["strength"] > 0:
            shader = _node(tree, "ShaderNodeEmission", Color=_rgba(spec["colour"]), Strength=spec["strength"])
        else:
            shader = _node(tree, "ShaderNodeBsdfDiffuse", Color=_rgba([0.6 * c for c in spec["colour"]]))
        tree.links.new(shader.outputs[0], output.inputs["Surface"])
        return mat
    bsdf = _node(tree, "ShaderNodeBsdfPrincipled", Roughness=spec["roughness"])
    tree.links.new(bsdf.outputs[0], output.inputs["Surface"])
    if pattern in ("bricks", "facade"):
        facade = pattern == "facade"
        bricks = _node(tree, "ShaderNodeTexBrick", Color1=_rgba(spec["colour"]), Color2=_rgba(spec["colour2"]),
                       Mortar=_rgba([0.7 * c for c in spec["colour"]]))
        if facade:  # windows are the "bricks", the wall is the "mortar"
            glass = [0.02, 0.025, 0.03]
            bricks.inputs["Color1"].default_value = _rgba(glass)
            bricks.inputs["Color2"].default_value = _rgba([1.5 * c for c in glass])
            bricks.inputs["Mortar"].default_value = _rgba(spec["colour"])
            bricks.inputs["Mortar Size"].default_value = 0.9 * spec["scale"]
            bricks.inputs["Brick Width"].default_value = 2.5 * spec["scale"]
            bricks.inputs["Row Height"].default_value = 3.2
            bricks.offset = 0.0
            bricks.inputs["Scale"].default_value = 1.0
            tree.links.new(_facade_coordinates(tree), bricks.inputs["Vector"])
        else:
            bricks.inputs["Scale"].default_value = 2.0 / spec["scale"]
            bricks.inputs["Mortar Size"].default_value = 0.01
            tree.links.new(_object_coordinates(tree, 1.0), bricks.inputs["Vector"])
        tree.links.new(bricks.outputs["Color"], bsdf.inputs["Base Color"])
        if facade:
            rough = tree.nodes.new("ShaderNodeMath")
            rough.operation = "MULTIPLY_ADD"
            rough.inputs[1].default_value = spec["roughness"] - 0.05
            rough.inputs[2].default_value = 0.05
            tree.links.new(bricks.outputs["Fac"], rough.inputs[0])
            tree.links.new(rough.outputs[0], bsdf.inputs["Roughness"])
        return mat
    noise = _node(tree, "ShaderNodeTexNoise", Scale=1.0, Detail=6.0, Roughness=0.6)
    tree.links.new(_object_coordinates(tree, 0.5 / spec["scale"] if spec["kind"] != "water" else 0.1), noise.inputs["Vector"])
    ramp = tree.nodes.new("ShaderNodeValToRGB")
    ramp.color_ramp.elements[0].position, ramp.color_ramp.elements[1].position = 0.35, 0.65
    ramp.color_ramp.elements[0].color, ramp.color_ramp.elements[1].color = _rgba(spec["colour"]), _rgba(spec["colour2"])
    tree.links.new(noise.outputs["Fac"], ramp.inputs["Fac"])
    tree.links.new(ramp.outputs["Color"], bsdf.inputs["Base Color"])
    bump = _node(tree, "ShaderNodeBump", Strength=0.3 if pattern != "water" else 0.05)
    detail = _node(tree, "ShaderNodeTexNoise", Scale=8.0, Detail=4.0)
    tree.links.new(_object_coordinates(tree, 1.0 / spec["scale"]), detail.inputs["Vector"])
    tree.links.new(detail.outputs["Fac"], bump.inputs["Height"])
    tree.links.new(bump.outputs["Normal"], bsdf.inputs["Normal"])
    if pattern == "water":
        bsdf.inputs["Specular"].default_value = 0.5
    return mat


def _sky_texture(tree, sky, disc):
    tex = tree.nodes.new("ShaderNodeTexSky")
    tex.sky_type = "NISHITA"
    tex.sun_disc = disc
    tex.sun_elevation = sky["sun_elevation"]
    tex.sun_rotation = sky["sun_azimuth"] % (2 * math.pi)
    tex.air_density = sky["air_density"]
    tex.dust_density = sky["dust_density"]
    tex.ozone_density = sky["ozone_density"]
    return tex


def make_world(sky):
    """Nishita sky (the sun disc only for camera rays: lamps light the scene from a
    clean source), noise clouds projected on a plane overhead, a faint night glow."""
    world = bpy.data.worlds.new("sky")
    world.use_nodes = True
    tree = world.node_tree
    tree.nodes.clear()
    out = tree.nodes.new("ShaderNodeOutputWorld")
    clear_sky = _sky_texture(tree, sky, disc=False)
    camera_sky = _sky_texture(tree, sky, disc=True)
    # Cloud coordinates: the ray direction scaled onto the plane z = 1.
    coords = tree.nodes.new("ShaderNodeTexCoord")
    xyz = tree.nodes.new("ShaderNodeSeparateXYZ")
    tree.links.new(coords.outputs["Generated"], xyz.inputs[0])
    lifted = tree.nodes.new("ShaderNodeMath")
    lifted.operation = "MAXIMUM"
    lifted.inputs[1].default_value = 0.02
    tree.links.new(xyz.outputs["Z"], lifted.inputs[0])
    plane = tree.nodes.new("ShaderNodeVectorMath")
    plane.operation = "DIVIDE"
    tree.links.new(coords.outputs["Generated"], plane.inputs[0])
    tree.links.new(lifted.outputs[0], plane.inputs[1])
    shift = tree.nodes.new("ShaderNodeVectorMath")
    shift.operation = "ADD"
    shift.inputs[1].default_value = sky["clouds"]["offset"]
    tree.links.new(plane.outputs[0], shift.inputs[0])
    noise = _node(tree, "ShaderNodeTexNoise", Scale=sky["clouds"]["scale"], Detail=8.0, Roughness=0.55)
    tree.links.new(shift.outputs[0], noise.inputs["Vector"])
    ramp = tree.nodes.new("ShaderNodeValToRGB")
    cover, soft = sky["clouds"]["cover"], sky["clouds"]["softness"]
    edge = 0.75 - 0.5 * cover
    ramp.color_ramp.elements[0].position = max(0.0, edge - soft / 2)
    ramp.color_ramp.elements[1].position = min(1.0, edge + soft / 2)
    tree.links.new(noise.outputs["Fac"], ramp.inputs["Fac"])
    # Clouds fade out towards the horizon (they lie far away there).
    fade = tree.nodes.new("ShaderNodeMapRange")
    fade.inputs["From Min"].default_value, fade.inputs["From Max"].default_value = 0.0, 0.08
    tree.links.new(xyz.outputs["Z"], fade.inputs["Value"])
    amount = tree.nodes.new("ShaderNodeMath")
    amount.operation = "MULTIPLY"
    tree.links.new(ramp.outputs["Color"], amount.inputs[0])
    tree.links.new(fade.outputs["Result"], amount.inputs[1])
    # Cloud colour: the grey level of the sky itself, brightened, so it follows day, dusk and night.
    grey = tree.nodes.new("ShaderNodeRGBToBW")
    tree.links.new(clear_sky.outputs["Color"], grey.inputs[0])
    bright = tree.nodes.new("ShaderNodeMath")
    bright.operation = "MULTIPLY"
    bright.inputs[1].default_value = 1.6 * sky["clouds"]["brightness"]
    tree.links.new(grey.outputs[0], bright.inputs[0])
    mixes = []
    for source in (clear_sky, camera_sky):
        mix = tree.nodes.new("ShaderNodeMixRGB")
        tree.links.new(amount.outputs[0], mix.inputs["Fac"])
        tree.links.new(source.outputs["Color"], mix.inputs["Color1"])
        tree.links.new(bright.outputs[0], mix.inputs["Color2"])
        glow = tree.nodes.new("ShaderNodeMixRGB")
        glow.blend_type = "ADD"
        glow.inputs["Fac"].default_value = 1.0
        glow.inputs["Color2"].default_value = (0.3 * sky["night_glow"], 0.5 * sky["night_glow"], sky["night_glow"], 1.0)
        tree.links.new(mix.outputs[0], glow.inputs["Color1"])
        mixes.append(glow)
    path = tree.nodes.new("ShaderNodeLightPath")
    pick = tree.nodes.new("ShaderNodeMixRGB")
    tree.links.new(path.outputs["Is Camera Ray"], pick.inputs["Fac"])
    tree.links.new(mixes[0].outputs[0], pick.inputs["Color1"])
    tree.links.new(mixes[1].outputs[0], pick.inputs["Color2"])
    background = tree.nodes.new("ShaderNodeBackground")
    tree.links.new(pick.outputs[0], background.inputs["Color"])
    tree.links.new(background.outputs[0], out.inputs["Surface"])
    world.cycles.sampling_method = "MANUAL"
    world.cycles.sample_map_resolution = 1024
    return world


SUN_STRENGTH = 4.0  # W/m² for a clear sky with the sun high, against the Nishita sky's radiance


def add_sun(sky):
    """The sun as a lamp of the sky's direction; weaker low down and behind clouds."""
    elevation = sky["sun_elevation"]
    if elevation <= math.radians(-1.0):
        return
    data = bpy.data.lights.new("sun", "SUN")
    low = max(0.0, math.sin(elevation + math.radians(1.0)))
    data.energy = SUN_STRENGTH * low ** 0.35 * (1.0 - 0.9 * sky["clouds"]["cover"] ** 0.5)
    data.angle = math.radians(0.545)
    warm = 1.0 - min(1.0, low / 0.3)
    data.color = (1.0, 1.0 - 0.35 * warm, 1.0 - 0.7 * warm)
    sun = bpy.data.objects.new("sun", data)
    # A sun lamp shines along its -Z: point it away from the sun's direction.
    sun.rotation_euler = (math.pi / 2 - elevation, 0.0, sky["sun_azimuth"] + math.pi / 2)
    bpy.context.scene.collection.objects.link(sun)


def add_lights(lights):
    for i, spec in enumerate(lights):
        data = bpy.data.lights.new("lamp_%d" % i, "POINT")
        data.energy, data.color, data.shadow_soft_size = spec["power"], spec["colour"], spec["radius"]
        lamp = bpy.data.objects.new(data.name, data)
        lamp.location = spec["position"]
        lamp.visible_camera = False
        bpy.context.scene.collection.objects.link(lamp)


def add_camera(cam):
    data = bpy.data.cameras.new("panorama")
    data.type = "PANO"
    if hasattr(data, "panorama_type"):
        data.panorama_type = "EQUIRECTANGULAR"
    else:
        data.cycles.panorama_type = "EQUIRECTANGULAR"
    data.clip_start, data.clip_end = 0.01, 1.0e6
    camera = bpy.data.objects.new("camera", data)
    camera.location = (cam["x"], cam["y"], cam["z"])
    # (pi/2, 0, yaw) looks at the horizon with the image top at the zenith.
    camera.rotation_euler = (math.pi / 2 + cam["pitch"], cam["roll"], cam["yaw"])
    bpy.context.scene.collection.objects.link(camera)
    bpy.context.scene.camera = camera


def build(desc):
    """Replaces the current scene's content with `desc`."""
    clear()
    scene = bpy.context.scene
    materials = {name: make_material(name, spec) for name, spec in desc["materials"].items()}
    for (cls, material), mesh in sorted(meshes.scene_meshes(desc).items()):
        data = bpy.data.meshes.new("%s.%s" % (cls, material))
        data.from_pydata(mesh.verts, [], mesh.faces)
        data.validate()
        data.materials.append(materials[material])
        obj = bpy.data.objects.new(data.name, data)
        obj.pass_index = grammar.CLASSES[cls]
        scene.collection.objects.link(obj)
    scene.world = make_world(desc["sky"])
    add_sun(desc["sky"])
    add_lights(desc["lights"])
    add_camera(desc["camera"])
