# Novaro exporter: markers, models, lights and events authored in Blender, written as a Novaro
# scene folder and played with one click.
bl_info = {
    "name": "Novaro scene exporter",
    "author": "Novaro",
    "version": (2, 3, 0),
    "blender": (3, 4, 0),
    "location": "File > Export > Novaro scene; 3D View > Sidebar > Novaro",
    "description": "Place models on printed markers and play them in the Novaro AR player",
    "category": "Import-Export",
}

if "bpy" in locals():
    import importlib

    for module in (properties, plan, settings_files, player, exporter, operators, panel):  # noqa: F821
        importlib.reload(module)
else:
    from . import properties, plan, settings_files, player, exporter, operators, panel

import bpy  # noqa: E402

_modules = (properties, operators, panel)


def register():
    for module in _modules:
        module.register()


def unregister():
    for module in reversed(_modules):
        module.unregister()
