# The add-on's commands: File > Export > Novaro scene (export_scene.novaro, which plays the scene
# too when asked), checking the player, listing its cameras, and playing the last export.
import os

import bpy

from . import exporter, player


def report_all(operator, problems):
    """Each problem in Blender's report, at its level (an ERROR of one object does not fail the export)."""
    for level, text in problems:
        operator.report({"WARNING"} if level == "ERROR" else {level}, text)


def chosen_player(context):
    return player.find_program("novaro", context.scene.novaro.player)


def checked_player(operator, context):
    """The player's path after its version query, or None (reported)."""
    program = chosen_player(context)
    if program is None:
        operator.report({"ERROR"}, "The Novaro player was not found: install Novaro or name it in the panel")
        return None
    version, reason = player.player_version(program)
    if version is None:
        operator.report({"ERROR"}, reason)
        return None
    return program


def check_exported(operator, context, folder):
    tool = player.find_program("novaro-scene", context.scene.novaro.player)
    if tool is None:
        operator.report({"WARNING"}, "novaro-scene was not found: the scene was not checked")
        return False
    problems = player.check_scene(tool, folder)
    for line in problems:
        operator.report({"WARNING"}, line)
    return not problems


def play(operator, context, folder):
    program = checked_player(operator, context)
    if program is None:
        return False
    settings = context.scene.novaro
    movie = bpy.path.abspath(settings.movie) if settings.movie else ""
    if settings.camera == "movie" and not movie:
        operator.report({"WARNING"}, "No movie chosen: the player starts on capture device 1")
    player.start_player(program, folder, settings.camera, movie)
    operator.report({"INFO"}, "Playing %s" % folder)
    return True


class NOVARO_OT_export(bpy.types.Operator):
    """Write the scene as a Novaro scene folder (models, settings, patterns and marker sheet)"""
    bl_idname = "export_scene.novaro"
    bl_label = "Export Novaro scene"
    bl_options = {"REGISTER"}

    directory: bpy.props.StringProperty(name="Folder", subtype="DIR_PATH")
    play: bpy.props.BoolProperty(name="Play", description="Start the player on the scene after writing it")
    check: bpy.props.BoolProperty(name="Check", default=True,
                                  description="Read the written scene as the player would and report problems")

    def invoke(self, context, event):
        if not self.directory:
            self.directory = context.scene.novaro.directory
        context.window_manager.fileselect_add(self)
        return {"RUNNING_MODAL"}

    def execute(self, context):
        folder = self.directory or context.scene.novaro.directory
        result = exporter.export_scene(context, folder)
        report_all(self, result.problems)
        if not result.ok or not result.plan.markers:
            return {"CANCELLED"}
        context.scene.novaro.directory = folder
        clean = check_exported(self, context, result.folder) if self.check else True
        self.report({"INFO"}, "Exported %d objects on %d markers to %s in %.1f s%s"
                    % (len(result.plan.objects), len(result.plan.markers), result.folder, result.seconds,
                       "" if clean else " (see the problems above)"))
        if self.play:
            play(self, context, result.folder)
        return {"FINISHED"}


class NOVARO_OT_play(bpy.types.Operator):
    """Export the scene to the panel's folder and start the player on it"""
    bl_idname = "novaro.play"
    bl_label = "Play"

    def execute(self, context):
        return bpy.ops.export_scene.novaro(directory=context.scene.novaro.directory, play=True)


class NOVARO_OT_refresh_cameras(bpy.types.Operator):
    """Ask the player for its version and the capture devices it can open"""
    bl_idname = "novaro.refresh_cameras"
    bl_label = "Find player and cameras"

    def execute(self, context):
        program = checked_player(self, context)
        if program is None:
            return {"CANCELLED"}
        devices = player.query_video_devices(program)
        self.report({"INFO"}, "%s: %d capture device%s" % (program, len(devices), "" if len(devices) == 1 else "s"))
        return {"FINISHED"}


class NOVARO_OT_open_sheet(bpy.types.Operator):
    """Open the printable marker sheet of the last export"""
    bl_idname = "novaro.open_sheet"
    bl_label = "Open marker sheet"

    def execute(self, context):
        sheet = os.path.join(bpy.path.abspath(context.scene.novaro.directory), "markers.pdf")
        if not os.path.isfile(sheet):
            self.report({"ERROR"}, "No marker sheet yet: export the scene first")
            return {"CANCELLED"}
        bpy.ops.wm.path_open(filepath=sheet)
        return {"FINISHED"}


def menu_entry(self, context):
    self.layout.operator(NOVARO_OT_export.bl_idname, text="Novaro scene")


classes = (NOVARO_OT_export, NOVARO_OT_play, NOVARO_OT_refresh_cameras, NOVARO_OT_open_sheet)


def register():
    for cls in classes:
        bpy.utils.register_class(cls)
    bpy.types.TOPBAR_MT_file_export.append(menu_entry)


def unregister():
    bpy.types.TOPBAR_MT_file_export.remove(menu_entry)
    for cls in reversed(classes):
        bpy.utils.unregister_class(cls)
