# The sidebar panel of the 3D view (N > Novaro): the active object's marker settings with the
# marker's printed size (a board's squares with their places), and the scene's folder, camera and
# Play button.
import bpy

from . import plan


def board_lines(obj):
    """A board's squares as the export will place them, and what keeps any of them out: (text, icon)."""
    board = plan.Marker(obj, obj.novaro.marker_id, "multi", 0.0)
    checked = plan.Plan()
    plan.collect_squares(obj, board, checked)
    lines = [("%s: ID %s, %.0f mm, at (%.1f, %.1f) mm%s" % (
        square.obj.name, square.id or "free", square.size_mm, square.centre[0], square.centre[1],
        ", turned %d degrees" % (90 * square.quarter_turns) if square.quarter_turns else ""), "NONE")
        for square in board.squares]
    lines += [(problem.text, "ERROR") for problem in checked.problems]
    if board.squares:
        lines.insert(0, ("Board %.0f mm wide, %d squares (child Square markers)" % (board.size_mm, len(board.squares)),
                         "INFO"))
    return lines


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
        if settings.marker_type == "multi":
            for text, icon in board_lines(obj):
                layout.label(text=text, icon=icon)
            return
        layout.prop(settings, "pattern")
        if settings.marker_type != "image":
            layout.prop(settings, "size_mm")
        layout.label(text=printed_size_text(obj))
        if plan.is_square(obj):
            layout.label(text="A square of board %s" % obj.parent.name, icon="INFO")


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
