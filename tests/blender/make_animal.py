# A 2 m long four-legged animal made of boxes, skinned to a three-bone armature whose tail and
# neck swing: an armature animation, exported as binary glTF at real size (metres).
import bpy, math, sys
out = sys.argv[sys.argv.index("--") + 1]
bpy.ops.wm.read_factory_settings(use_empty=True)
parts = [  # centre (x, y, z) and size (dx, dy, dz), metres; x along the body
    ((0.0, 0.0, 0.9), (1.4, 0.5, 0.5)),    # body
    ((0.85, 0.0, 1.2), (0.3, 0.3, 0.3)),   # head
    ((-0.85, 0.0, 1.0), (0.3, 0.1, 0.1)),  # tail
    ((0.5, 0.15, 0.35), (0.12, 0.12, 0.7)), ((0.5, -0.15, 0.35), (0.12, 0.12, 0.7)),
    ((-0.5, 0.15, 0.35), (0.12, 0.12, 0.7)), ((-0.5, -0.15, 0.35), (0.12, 0.12, 0.7)),
]
objs = []
for centre, size in parts:
    bpy.ops.mesh.primitive_cube_add(size=1.0, location=centre)
    o = bpy.context.active_object
    o.scale = size
    objs.append(o)
bpy.ops.object.select_all(action="DESELECT")
for o in objs:
    o.select_set(True)
bpy.context.view_layer.objects.active = objs[0]
bpy.ops.object.join()
body = bpy.context.active_object
bpy.ops.object.transform_apply(location=False, rotation=False, scale=True)
# Subdivide so the skin bends.
bpy.ops.object.mode_set(mode="EDIT")
bpy.ops.mesh.select_all(action="SELECT")
bpy.ops.mesh.subdivide(number_cuts=3)
bpy.ops.object.mode_set(mode="OBJECT")
mat = bpy.data.materials.new("Fur")
mat.use_nodes = True
mat.node_tree.nodes["Principled BSDF"].inputs["Base Color"].default_value = (0.8, 0.35, 0.05, 1.0)
body.data.materials.append(mat)
body.name = "Animal"
bpy.ops.object.armature_add(location=(0, 0, 0.9))
arm = bpy.context.active_object
bpy.ops.object.mode_set(mode="EDIT")
bones = arm.data.edit_bones
root = bones[0]
root.name = "Spine"
root.head = (-0.6, 0, 0); root.tail = (0.6, 0, 0)
neck = bones.new("Neck"); neck.head = (0.6, 0, 0); neck.tail = (1.0, 0, 0.3); neck.parent = root
tail = bones.new("Tail"); tail.head = (-0.6, 0, 0); tail.tail = (-1.0, 0, 0.1); tail.parent = root
bpy.ops.object.mode_set(mode="OBJECT")
bpy.ops.object.select_all(action="DESELECT")
body.select_set(True); arm.select_set(True)
bpy.context.view_layer.objects.active = arm
bpy.ops.object.parent_set(type="ARMATURE_AUTO")
bpy.context.scene.frame_start = 1; bpy.context.scene.frame_end = 48
bpy.ops.object.mode_set(mode="POSE")
for frame, angle in ((1, -0.5), (24, 0.5), (48, -0.5)):
    for name, sign in (("Tail", 1), ("Neck", -1)):
        b = arm.pose.bones[name]
        b.rotation_mode = "XYZ"
        b.rotation_euler = (0, 0, sign * angle)
        b.keyframe_insert("rotation_euler", frame=frame)
bpy.ops.object.mode_set(mode="OBJECT")
bpy.ops.export_scene.gltf(filepath=out, export_format="GLB", export_animations=True)
print("WROTE", out)
