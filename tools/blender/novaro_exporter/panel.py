# The sidebar panel of the 3D view (N > Novaro): the active object's marker settings with the
# marker's printed size, and the scene's folder, camera and Play button.
import bpy

from . import plan


def printed_size_text(obj):
    settings = obj.novaro
    if settings.marker_type == "image":
        picture = bpy.path.abspath(settings.pattern) if settings.pattern else ""
        if not picture and plan.find_picture(obj) is not None:
            picture = plan.find_picture(obj).name
        width = obj.dimensions.x * plan.MM_PER_M
        return "Picture %s printed %.0f mm wide" % (picture or "(none)", width)
    if settings.size_mm <= 0.0:
        return "Size 0: this marker is not exported"
    inner = settings.size_mm / 2.0
    return "Printed %.0f x %.0f mm (pattern %.0f mm inside a %.0f mm border)" % (
        settings.size_mm, settings.size_mm, inner, settings.size_mm / 4.0)


class NOVARO_PT_object(bpy.types.Panel):
    bl_label = "Novaro marker"
    bl_space_type = "VIEW_3D"
    bl_region_type = "UI"
    bl_category = "Novaro"

    @classmethod
    def poll(cls, context):
        return context.object is not None

    def draw(self, context):
        obj = context.object
        settings = obj.novaro
        layout = self.layout
        layout.prop(settings, "is_marker")
        if not settings.is_marker:
            marker = obj.parent
            while marker is not None and not marker.novaro.is_marker:
                marker = marker.parent
            layout.label(text="On marker %s" % marker.name if marker else "On no marker: not exported",
                         icon="INFO" if marker else "ERROR")
            return
        layout.prop(settings, "marker_type")
        layout.prop(settings, "marker_id")
        layout.prop(settings, "pattern")
        if settings.marker_type != "image":
            layout.prop(settings, "size_mm")
        layout.label(text=printed_size_text(obj))


class NOVARO_PT_scene(bpy.types.Panel):
    bl_label = "Novaro scene"
    bl_space_type = "VIEW_3D"
    bl_region_type = "UI"
    bl_category = "Novaro"

    def draw(self, context):
        settings = context.scene.novaro
        layout = self.layout
        layout.prop(settings, "directory")
        layout.prop(settings, "player")
        row = layout.row(align=True)
        row.prop(settings, "camera")
        row.operator("novaro.refresh_cameras", text="", icon="FILE_REFRESH")
        if settings.camera == "movie":
            layout.prop(settings, "movie")
        row = layout.row(align=True)
        row.operator("export_scene.novaro", text="Export", icon="EXPORT").directory = settings.directory
        row.operator("novaro.play", icon="PLAY")
        layout.operator("novaro.open_sheet", icon="FILE")


classes = (NOVARO_PT_object, NOVARO_PT_scene)


def register():
    for cls in classes:
        bpy.utils.register_class(cls)


def unregister():
    for cls in reversed(classes):
        bpy.utils.unregister_class(cls)
