# Renders the sample set "Sample Photos Statue" and its ground truth.
#
#   blender -b -P make_sample.py -- <out> [--views 72] [--size 1280x960] [--samples 8]
#                                         [--mesh <file.off>] [--only N]
#
# Writes <out>/renders/IMG_0001.png ... (lossless; tools/sample-set/pelorin-sample-set turns
# them into the shipped JPEGs, capture.json and the reduced test set) and <out>/truth/ with
# mesh.ply (the statue alone, metres, +Y up), support.ply (the plinth it stands on, which a
# model may keep: used to align such a model, never scored) and cameras.json.
#
# The statue is "ChineseDragon-10kv.off", a guardian-lion statue of 20k triangles, from
# Debian's package libcgal-demo (5.5.1): /usr/share/doc/libcgal-dev/data.tar.gz, member
# data/meshes/ChineseDragon-10kv.off. The package's copyright file puts the data files,
# which carry no notice of their own, under Creative Commons CC0 1.0.
#
# Conventions of cameras.json (the truth frame is metres, +Y up, the floor at y = 0):
#   cameraTransform  16 numbers, column-major 4x4 camera-to-world; the camera looks along its
#                    -Z axis with +Y up.
#   intrinsics       9 numbers, column-major 3x3, pixels; the image's top-left corner is (0, 0),
#                    so the centre of the first pixel is (0.5, 0.5).
#   gravity          unit vector of gravity in the camera's frame.
#
# Debian's Blender is built without a denoiser: denoising must stay off or Cycles refuses to run.

import json
import math
import os
import struct
import subprocess
import sys
import tarfile

import bpy
from mathutils import Matrix, Vector

CGAL_DATA = "/usr/share/doc/libcgal-dev/data.tar.gz"
CGAL_MEMBER = "data/meshes/ChineseDragon-10kv.off"

STATUE_HEIGHT = 0.30  # metres, a tabletop statue
PLINTH_HEIGHT = 0.08
LENS_MM = 35.0
SENSOR_MM = 36.0
RINGS = [(12.0, 0.66), (32.0, 0.68), (54.0, 0.70)]  # elevation in degrees, distance in metres


def parse_arguments():
    argv = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    if not argv:
        raise SystemExit("usage: blender -b -P make_sample.py -- <out> [options]")
    options = {"out": argv[0], "views": 72, "size": (1280, 960), "samples": 8, "mesh": None,
               "only": None}
    i = 1
    while i < len(argv):
        key, value = argv[i], argv[i + 1]
        if key == "--views":
            options["views"] = int(value)
        elif key == "--size":
            w, h = value.split("x")
            options["size"] = (int(w), int(h))
        elif key == "--samples":
            options["samples"] = int(value)
        elif key == "--mesh":
            options["mesh"] = value
        elif key == "--only":
            options["only"] = int(value)
        else:
            raise SystemExit("unknown option " + key)
        i += 2
    return options


def read_off(path):
    if path:
        with open(path) as f:
            text = f.read()
    else:
        with tarfile.open(CGAL_DATA) as archive:
            text = archive.extractfile(CGAL_MEMBER).read().decode()
    tokens = text.split()
    if tokens[0] != "OFF":
        raise SystemExit("not an OFF file")
    nv, nf = int(tokens[1]), int(tokens[2])
    at = 4
    vertices = []
    for _ in range(nv):
        vertices.append(tuple(float(t) for t in tokens[at:at + 3]))
        at += 3
    faces = []
    for _ in range(nf):
        n = int(tokens[at])
        faces.append(tuple(int(t) for t in tokens[at + 1:at + 1 + n]))
        at += 1 + n
    return vertices, faces


def statue_vertices(raw):
    # The file's +Y is the statue's up; in Blender up is +Z. The turn goes into the vertices,
    # not the object's transform, so that everything measured later sees real coordinates.
    turned = [(x, -z, y) for x, y, z in raw]
    lo = [min(v[a] for v in turned) for a in range(3)]
    hi = [max(v[a] for v in turned) for a in range(3)]
    scale = STATUE_HEIGHT / (hi[2] - lo[2])
    cx, cy = (lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2
    return [((x - cx) * scale, (y - cy) * scale, (z - lo[2]) * scale + PLINTH_HEIGHT)
            for x, y, z in turned]


def clear_scene():
    bpy.ops.wm.read_factory_settings(use_empty=True)


def node(tree, kind, **inputs):
    n = tree.nodes.new(kind)
    for name, value in inputs.items():
        n.inputs[name].default_value = value
    return n


def stone_material():
    material = bpy.data.materials.new("Stone")
    material.use_nodes = True
    tree = material.node_tree
    links = tree.links
    bsdf = tree.nodes["Principled BSDF"]
    coords = tree.nodes.new("ShaderNodeTexCoord")
    grain = node(tree, "ShaderNodeTexNoise", Scale=90.0, Detail=12.0, Roughness=0.62)
    blotch = node(tree, "ShaderNodeTexNoise", Scale=9.0, Detail=4.0, Roughness=0.5)
    cells = node(tree, "ShaderNodeTexVoronoi", Scale=45.0)
    links.new(coords.outputs["Object"], grain.inputs["Vector"])
    links.new(coords.outputs["Object"], blotch.inputs["Vector"])
    links.new(coords.outputs["Object"], cells.inputs["Vector"])
    ramp = tree.nodes.new("ShaderNodeValToRGB")
    ramp.color_ramp.elements[0].position = 0.3
    ramp.color_ramp.elements[0].color = (0.16, 0.14, 0.12, 1)
    ramp.color_ramp.elements[1].position = 0.7
    ramp.color_ramp.elements[1].color = (0.55, 0.50, 0.42, 1)
    links.new(grain.outputs["Fac"], ramp.inputs["Fac"])
    tint = tree.nodes.new("ShaderNodeMixRGB")
    tint.blend_type = "MULTIPLY"
    tint.inputs["Fac"].default_value = 0.55
    links.new(ramp.outputs["Color"], tint.inputs["Color1"])
    shade = tree.nodes.new("ShaderNodeValToRGB")
    shade.color_ramp.elements[0].color = (0.50, 0.45, 0.38, 1)
    shade.color_ramp.elements[1].color = (0.92, 0.90, 0.84, 1)
    links.new(blotch.outputs["Fac"], shade.inputs["Fac"])
    links.new(shade.outputs["Color"], tint.inputs["Color2"])
    veins = tree.nodes.new("ShaderNodeMixRGB")
    veins.blend_type = "MULTIPLY"
    veins.inputs["Fac"].default_value = 0.45
    links.new(tint.outputs["Color"], veins.inputs["Color1"])
    links.new(cells.outputs["Distance"], veins.inputs["Color2"])
    links.new(veins.outputs["Color"], bsdf.inputs["Base Color"])
    bsdf.inputs["Roughness"].default_value = 0.75
    bump = node(tree, "ShaderNodeBump", Strength=0.25, Distance=0.002)
    links.new(grain.outputs["Fac"], bump.inputs["Height"])
    links.new(bump.outputs["Normal"], bsdf.inputs["Normal"])
    return material


def plinth_material():
    material = bpy.data.materials.new("Plinth")
    material.use_nodes = True
    tree = material.node_tree
    bsdf = tree.nodes["Principled BSDF"]
    coords = tree.nodes.new("ShaderNodeTexCoord")
    wave = node(tree, "ShaderNodeTexWave", Scale=6.0, Distortion=9.0, Detail=6.0)
    tree.links.new(coords.outputs["Object"], wave.inputs["Vector"])
    ramp = tree.nodes.new("ShaderNodeValToRGB")
    ramp.color_ramp.elements[0].color = (0.10, 0.13, 0.12, 1)
    ramp.color_ramp.elements[1].color = (0.42, 0.47, 0.44, 1)
    tree.links.new(wave.outputs["Fac"], ramp.inputs["Fac"])
    tree.links.new(ramp.outputs["Color"], bsdf.inputs["Base Color"])
    bsdf.inputs["Roughness"].default_value = 0.35
    return material


def floor_material():
    material = bpy.data.materials.new("Floor")
    material.use_nodes = True
    tree = material.node_tree
    bsdf = tree.nodes["Principled BSDF"]
    coords = tree.nodes.new("ShaderNodeTexCoord")
    tiles = node(tree, "ShaderNodeTexBrick", Scale=3.0, Color1=(0.50, 0.36, 0.24, 1),
                 Color2=(0.36, 0.25, 0.16, 1), Mortar=(0.12, 0.11, 0.10, 1))
    grain = node(tree, "ShaderNodeTexNoise", Scale=40.0, Detail=10.0)
    tree.links.new(coords.outputs["Object"], tiles.inputs["Vector"])
    tree.links.new(coords.outputs["Object"], grain.inputs["Vector"])
    mix = tree.nodes.new("ShaderNodeMixRGB")
    mix.blend_type = "OVERLAY"
    mix.inputs["Fac"].default_value = 0.5
    tree.links.new(tiles.outputs["Color"], mix.inputs["Color1"])
    tree.links.new(grain.outputs["Color"], mix.inputs["Color2"])
    tree.links.new(mix.outputs["Color"], bsdf.inputs["Base Color"])
    bsdf.inputs["Roughness"].default_value = 0.6
    return material


def add_mesh(name, vertices, faces, material):
    mesh = bpy.data.meshes.new(name)
    mesh.from_pydata(vertices, [], faces)
    mesh.update()
    for polygon in mesh.polygons:
        polygon.use_smooth = True
    obj = bpy.data.objects.new(name, mesh)
    obj.data.materials.append(material)
    bpy.context.scene.collection.objects.link(obj)
    return obj


def box_mesh(lo, hi):
    (x0, y0, z0), (x1, y1, z1) = lo, hi
    vertices = [(x0, y0, z0), (x1, y0, z0), (x1, y1, z0), (x0, y1, z0),
                (x0, y0, z1), (x1, y0, z1), (x1, y1, z1), (x0, y1, z1)]
    faces = [(0, 3, 2, 1), (4, 5, 6, 7), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7)]
    return vertices, faces


def add_box(name, lo, hi, material):
    vertices, faces = box_mesh(lo, hi)
    obj = add_mesh(name, vertices, faces, material)
    for polygon in obj.data.polygons:
        polygon.use_smooth = False
    return obj


def light_scene():
    world = bpy.data.worlds.new("World")
    bpy.context.scene.world = world
    world.use_nodes = True
    background = world.node_tree.nodes["Background"]
    background.inputs["Color"].default_value = (0.78, 0.82, 0.90, 1)
    background.inputs["Strength"].default_value = 0.45
    key = bpy.data.lights.new("Key", "AREA")
    key.energy = 60.0
    key.size = 1.2
    key_object = bpy.data.objects.new("Key", key)
    key_object.location = (1.1, -0.9, 1.5)
    key_object.rotation_euler = (Vector((0, 0, 0.25)) - key_object.location).to_track_quat(
        "-Z", "Y").to_euler()
    bpy.context.scene.collection.objects.link(key_object)


def configure_render(scene, size, samples):
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.samples = samples
    scene.cycles.use_adaptive_sampling = True
    scene.cycles.use_denoising = False
    scene.cycles.max_bounces = 3
    scene.cycles.diffuse_bounces = 2
    scene.cycles.glossy_bounces = 2
    scene.cycles.transmission_bounces = 0
    scene.cycles.volume_bounces = 0
    scene.cycles.transparent_max_bounces = 2
    scene.render.resolution_x, scene.render.resolution_y = size
    scene.render.resolution_percentage = 100
    scene.render.image_settings.file_format = "PNG"
    scene.render.image_settings.color_mode = "RGB"
    scene.view_settings.view_transform = "Filmic"
    scene.view_settings.look = "Medium High Contrast"


# Blender's world is +Z up; the truth frame is +Y up: (x, y, z) -> (x, z, -y).
TO_TRUTH = Matrix(((1, 0, 0, 0), (0, 0, 1, 0), (0, -1, 0, 0), (0, 0, 0, 1)))


def column_major(matrix):
    return [matrix[row][column] for column in range(len(matrix[0])) for row in range(len(matrix))]


def write_ply(path, vertices, faces, what="the statue"):
    truth = [(x, z, -y) for x, y, z in vertices]
    # Triangles only: quads are split along a diagonal.
    faces = [t for face in faces for t in
             ([face] if len(face) == 3 else [(face[0], face[1], face[2]), (face[0], face[2], face[3])])]
    with open(path, "wb") as f:
        f.write(("ply\nformat binary_little_endian 1.0\n"
                 "comment " + what + " of the sample set, metres, +Y up\n"
                 "element vertex %d\nproperty float x\nproperty float y\nproperty float z\n"
                 "element face %d\nproperty list uchar int vertex_indices\nend_header\n"
                 % (len(truth), len(faces))).encode())
        for v in truth:
            f.write(struct.pack("<3f", *v))
        for face in faces:
            f.write(struct.pack("<B%di" % len(face), len(face), *face))


def main():
    options = parse_arguments()
    out = os.path.abspath(options["out"])
    os.makedirs(os.path.join(out, "renders"), exist_ok=True)
    os.makedirs(os.path.join(out, "truth"), exist_ok=True)

    raw_vertices, faces = read_off(options["mesh"])
    vertices = statue_vertices(raw_vertices)
    clear_scene()
    scene = bpy.context.scene
    statue = add_mesh("Statue", vertices, faces, stone_material())
    xs = [v[0] for v in vertices]
    ys = [v[1] for v in vertices]
    margin = 0.025
    plinth = ((min(xs) - margin, min(ys) - margin, 0.0),
              (max(xs) + margin, max(ys) + margin, PLINTH_HEIGHT))
    add_box("Plinth", *plinth, plinth_material())
    add_box("Floor", (-2.0, -2.0, -0.01), (2.0, 2.0, 0.0), floor_material())
    light_scene()
    configure_render(scene, options["size"], options["samples"])

    camera_data = bpy.data.cameras.new("Camera")
    camera_data.lens = LENS_MM
    camera_data.sensor_fit = "HORIZONTAL"
    camera_data.sensor_width = SENSOR_MM
    camera_data.clip_start = 0.05
    camera = bpy.data.objects.new("Camera", camera_data)
    scene.collection.objects.link(camera)
    scene.camera = camera

    width, height = options["size"]
    focal = LENS_MM / SENSOR_MM * width
    intrinsics = [focal, 0, 0, 0, focal, 0, width / 2.0, height / 2.0, 1]
    radius = max(math.hypot(x, y) for x, y, _ in vertices)
    target = Vector((0, 0, PLINTH_HEIGHT + STATUE_HEIGHT * 0.45))
    per_ring = options["views"] // len(RINGS)
    images = []
    for index in range(options["views"]):
        ring, step = divmod(index, per_ring)
        elevation, distance = RINGS[ring]
        # Rings are staggered so that no two share an azimuth.
        azimuth = 2 * math.pi * (step + ring / len(RINGS)) / per_ring
        e = math.radians(elevation)
        camera.location = target + distance * Vector(
            (math.cos(e) * math.cos(azimuth), math.cos(e) * math.sin(azimuth), math.sin(e)))
        camera.rotation_euler = (target - camera.location).to_track_quat("-Z", "Y").to_euler()
        bpy.context.view_layer.update()
        to_world = TO_TRUTH @ camera.matrix_world
        rotation = to_world.to_3x3()
        gravity = rotation.transposed() @ Vector((0, -1, 0))
        name = "IMG_%04d" % (index + 1)
        images.append({"name": name + ".jpg", "cameraTransform": column_major(to_world),
                       "intrinsics": intrinsics, "gravity": list(gravity)})
        if options["only"] is not None and options["only"] != index + 1:
            continue
        scene.cycles.seed = index + 1
        scene.render.filepath = os.path.join(out, "renders", name + ".png")
        bpy.ops.render.render(write_still=True)

    write_ply(os.path.join(out, "truth", "mesh.ply"), vertices, faces)
    write_ply(os.path.join(out, "truth", "support.ply"), *box_mesh(*plinth), what="the plinth")
    top = PLINTH_HEIGHT + STATUE_HEIGHT
    cameras = {
        "images": images,
        "width": width,
        "height": height,
        "objectBounds": {"centre": [0.0, (PLINTH_HEIGHT + top) / 2, 0.0], "radius": radius,
                         "height": STATUE_HEIGHT},
    }
    with open(os.path.join(out, "truth", "cameras.json"), "w") as f:
        json.dump(cameras, f, indent=1)
    del statue


main()
