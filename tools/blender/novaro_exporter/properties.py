# What the add-on stores in the .blend file: the marker settings of an object (obj.novaro) and
# the export and play settings of a scene (scene.novaro).
import bpy

MARKER_TYPES = (
    ("single", "Square", "A square marker: black border around a pattern"),
    ("multi", "Multi", "Several square markers on one board, tracked as one: its child square markers"),
    ("image", "Image", "A printed picture tracked by its features (an image target)"),
)


class NovaroObjectSettings(bpy.types.PropertyGroup):
    is_marker: bpy.props.BoolProperty(
        name="Marker", description="This object is a printed marker: its children stand on it")
    marker_id: bpy.props.IntProperty(
        name="ID", min=0, max=1000,
        description="The marker's number; 0 chooses the lowest free one at export. A generated pattern "
                    "follows the ID, so a printed marker stays valid while its ID is kept")
    marker_type: bpy.props.EnumProperty(name="Type", items=MARKER_TYPES, default="single")
    pattern: bpy.props.StringProperty(
        name="Pattern", subtype="FILE_PATH",
        description="The picture inside the black border (square), or the printed picture (image); "
                    "empty: a generated pattern, or the plane's own image texture")
    size_mm: bpy.props.FloatProperty(
        name="Printed size", default=80.0, min=0.0, soft_max=250.0, unit="NONE",
        description="Printed width of the whole black square in millimetres")


def _camera_items(self, context):
    # Filled by the "refresh cameras" operator from the player's device list.
    from . import player
    items = [(str(number), "%d: %s" % (number, name), "Capture device %d" % number)
             for number, name in player.cached_video_devices()]
    # Blender keeps the strings of dynamic items only while they are referenced.
    _camera_items.cache = items + [("movie", "Movie file", "Play on a movie or still picture instead of a camera")]
    return _camera_items.cache


class NovaroSceneSettings(bpy.types.PropertyGroup):
    directory: bpy.props.StringProperty(
        name="Scene folder", subtype="DIR_PATH", default="//novaro_scene/",
        description="Folder the scene is written to")
    camera: bpy.props.EnumProperty(name="Camera", items=_camera_items)
    movie: bpy.props.StringProperty(
        name="Movie", subtype="FILE_PATH",
        description="A movie, still picture or image sequence (name%04d.png) played as the camera")
    player: bpy.props.StringProperty(
        name="Player", subtype="FILE_PATH",
        description="The novaro program; empty: the one installed with this add-on, or on the PATH")


classes = (NovaroObjectSettings, NovaroSceneSettings)


def register():
    for cls in classes:
        bpy.utils.register_class(cls)
    bpy.types.Object.novaro = bpy.props.PointerProperty(type=NovaroObjectSettings)
    bpy.types.Scene.novaro = bpy.props.PointerProperty(type=NovaroSceneSettings)


def unregister():
    del bpy.types.Scene.novaro
    del bpy.types.Object.novaro
    for cls in reversed(classes):
        bpy.utils.unregister_class(cls)
