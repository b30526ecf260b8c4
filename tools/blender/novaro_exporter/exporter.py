# One export: the plan of the Blender scene, each object's model as GLB through Blender's own glTF
# exporter, the pictures, the settings files, and the patterns, camera and printable sheet made by
# "novaro-scene finish".
import os
import re
import shutil
import time
from dataclasses import dataclass, field

import bpy
from mathutils import Matrix

from . import plan as planning
from . import player, settings_files

# The files an export wrote besides the settings files (models, events files, pictures), so that
# the next export into the folder removes what the scene no longer has, and nothing else.
MANIFEST = "exported-files.txt"
FOLDERS = ("models", "events", "images", "patterns")


@dataclass
class ExportResult:
    plan: planning.Plan
    folder: str
    seconds: float = 0.0
    messages: list = field(default_factory=list)  # (level, text) besides the plan's problems

    @property
    def problems(self):
        return [(p.level, p.text) for p in self.plan.problems] + self.messages

    @property
    def ok(self):
        """The folder is complete: the plan's errors only leave objects out."""
        return all(level != "ERROR" for level, _ in self.messages)


def file_name(name, taken):
    """A file name from an object name: letters, digits, '-' and '_' only, unique in the folder."""
    base = re.sub(r"[^A-Za-z0-9_-]", "_", name) or "object"
    candidate, suffix = base, 2
    while candidate.lower() in taken:
        candidate, suffix = "%s_%d" % (base, suffix), suffix + 1
    taken.add(candidate.lower())
    return candidate


def prepare_folder(folder):
    """Creates the folder and removes the files the previous export listed in it."""
    manifest = os.path.join(folder, MANIFEST)
    if os.path.isfile(manifest):
        with open(manifest) as listed:
            for name in listed.read().splitlines():
                path = os.path.normpath(os.path.join(folder, name))
                if name and os.path.dirname(path).startswith(folder) and os.path.isfile(path):
                    os.remove(path)
    for sub in FOLDERS:
        os.makedirs(os.path.join(folder, sub), exist_ok=True)


def write_manifest(folder, names):
    with open(os.path.join(folder, MANIFEST), "w") as manifest:
        manifest.write("".join(name + "\n" for name in sorted(names)))


class ModelExport:
    """Selects one object with its descendants, puts it at the origin of Blender's world (or at the
    part of its placement the scene file cannot hold), writes it, and puts everything back."""

    def __init__(self, context, scene_object):
        self.context = context
        self.animated = scene_object.animated
        self.root = scene_object.obj
        # A hidden part of a model stays out of it, as Blender shows the model; a hidden object
        # itself is written and hides itself in the player.
        self.objects = [self.root] + [obj for obj in self.root.children_recursive if not planning.is_hidden(obj)]
        self.matrix = scene_object.placement.baked or Matrix.Identity(4)

    def __enter__(self):
        self.saved_basis = self.root.matrix_basis.copy()
        self.saved_hidden = [(obj, obj.hide_get(), obj.hide_viewport) for obj in self.objects]
        for obj in self.objects:
            obj.hide_viewport = False
            obj.hide_set(False)
            obj.select_set(True)
        # The glTF exporter brings the dependency graph up to date itself.
        self.root.matrix_world = self.matrix
        return self

    def write(self, path):
        # Without actions the glTF exporter still samples the object's place into an animation,
        # which would make a still model an animated one in the player.
        bpy.ops.export_scene.gltf(filepath=path, export_format="GLB", use_selection=True, export_apply=True,
                                  export_animations=self.animated, export_skins=True, export_lights=False,
                                  export_cameras=False, export_yup=True, export_extras=False)

    def __exit__(self, *exception):
        self.root.matrix_basis = self.saved_basis
        for obj, hidden, viewport_hidden in self.saved_hidden:
            obj.select_set(False)
            obj.hide_viewport = viewport_hidden
            obj.hide_set(hidden)
        return False


def deselect_all(context):
    for obj in context.view_layer.objects:
        obj.select_set(False)


def export_models(context, plan, folder):
    """object name -> model file in the folder."""
    if context.object is not None and context.object.mode != "OBJECT":
        bpy.ops.object.mode_set(mode="OBJECT")
    selected = [obj for obj in context.view_layer.objects if obj.select_get()]
    active = context.view_layer.objects.active
    models, taken = {}, set()
    try:
        deselect_all(context)
        for scene_object in plan.objects:
            name = "models/%s.glb" % file_name(scene_object.name, taken)
            with ModelExport(context, scene_object) as export:
                export.write(os.path.join(folder, name))
            models[scene_object.name] = name
    finally:
        deselect_all(context)
        for obj in selected:
            obj.select_set(True)
        context.view_layer.objects.active = active
        context.view_layer.update()
    return models


def square_markers(plan):
    """Every square printed with a pattern: the square markers and the boards' squares."""
    for marker in plan.markers:
        if marker.kind == "single":
            yield marker
        yield from marker.squares


def copy_pictures(plan, folder):
    """marker ID -> picture in the folder, for image targets and patterns made from a picture."""
    pictures, taken = {}, set()
    pictured = [m for m in plan.markers if m.kind == "image"] + list(square_markers(plan))
    for marker in pictured:
        if not marker.pattern:
            continue
        extension = os.path.splitext(marker.pattern)[1].lower() or ".png"
        name = "images/%s%s" % (file_name("marker_%d_%s" % (marker.id, marker.obj.name), taken), extension)
        shutil.copyfile(marker.pattern, os.path.join(folder, name))
        pictures[marker.id] = name
    return pictures


def picture_patterns(plan):
    """Patterns made from pictures follow the picture: they are made again at every export (and
    listed, so that a marker whose picture is dropped gets its generated pattern again)."""
    return [settings_files.pattern_file(square.id) for square in square_markers(plan) if square.pattern]


def remove_picture_patterns(plan, folder):
    for name in picture_patterns(plan):
        if os.path.exists(os.path.join(folder, name)):
            os.remove(os.path.join(folder, name))


def export_scene(context, folder, scene_tool=None):
    """Writes the scene of context.scene to folder; scene_tool is novaro-scene (found when None)."""
    started = time.monotonic()
    folder = os.path.abspath(bpy.path.abspath(folder))
    # Matrices set by script since the last redraw are brought up to date first.
    context.view_layer.update()
    plan = planning.build_plan(context.scene)
    result = ExportResult(plan, folder)
    if not plan.markers:
        result.messages.append(("ERROR", "nothing exported"))
        return result
    prepare_folder(folder)
    models = export_models(context, plan, folder)
    pictures = copy_pictures(plan, folder)
    remove_picture_patterns(plan, folder)
    title = bpy.path.display_name_from_filepath(bpy.data.filepath) or os.path.basename(folder) or "scene"
    settings_files.write_fixed_settings(folder, title)
    boards = settings_files.write_markers(folder, plan, pictures)
    events = settings_files.write_scene(folder, title, plan, models)
    write_manifest(folder, list(models.values()) + list(pictures.values()) + events + picture_patterns(plan)
                   + boards)
    tool = scene_tool or player.find_program("novaro-scene", context.scene.novaro.player)
    if tool is None:
        result.messages.append(("ERROR", "novaro-scene was not found: the patterns, camera and marker sheet "
                                         "are missing (install Novaro, or name the player in the panel)"))
    else:
        ok, output = player.finish_scene(tool, folder)
        if not ok:
            result.messages.append(("ERROR", "novaro-scene finish: " + output.strip()))
    result.seconds = time.monotonic() - started
    return result
