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

from . import operators, panel, properties

# Registered in this order (the operators and panels use the properties), unregistered backwards.
_modules = (properties, operators, panel)


def register():
    for module in _modules:
        module.register()


def unregister():
    for module in reversed(_modules):
        module.unregister()
