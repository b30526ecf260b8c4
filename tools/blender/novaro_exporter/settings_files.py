# The scene folder's settings files, written from a plan: model.dat, config.xml, tracker.xml,
# video.xml, audio.xml, lighting.xml, markers.xml, scene.xml and one events file per object that
# has events (hidden objects hide themselves when the scene starts).
import os
import xml.etree.ElementTree as ET

from .plan import Action

CAMERA_FILE = "camera_640x480.dat"
SETTINGS = ("config", "tracker", "video", "scene", "audio", "markers", "lighting")


def write_xml(path, root):
    ET.indent(root)
    ET.ElementTree(root).write(path, encoding="UTF-8", xml_declaration=True)


def parameters(parent, values, list_tag="parameters", tag="parameter"):
    holder = ET.SubElement(parent, list_tag)
    for name, value in values:
        ET.SubElement(holder, tag, name=name).text = value
    return holder


def number(value):
    return "%.6g" % value


def flag(value):
    return "true" if value else "false"


def write_fixed_settings(folder, title):
    """The files that describe the installation rather than the scene."""
    config = ET.Element("configuration", name=title, debug="false")
    parameters(config, [("mode", "ar_simple"), ("mirror", "false"), ("fullscreen", "false"),
                        ("wireframe", "false"), ("camera_settings", "false"), ("use_antialiasing", "true"),
                        ("antialiasing_samples", "4"), ("animations", "true"), ("fitting", "false")])
    write_xml(os.path.join(folder, "config.xml"), config)
    tracker = ET.Element("tracker", name=title)
    parameters(tracker, [("smooth_tracking", "true"), ("rotational_smoothing_factor", "0.85"),
                         ("translational_smoothing_factor", "0.85"), ("threshold", "100"),
                         ("half_tracking", "false")])
    write_xml(os.path.join(folder, "tracker.xml"), tracker)
    video = ET.Element("video", name=title)
    ET.SubElement(ET.SubElement(video, "formats"), "format", name="640x480", width="640", height="480")
    ET.SubElement(ET.SubElement(video, "cameras"), "camera", name="camera_640x480", format="640x480",
                  path=CAMERA_FILE)
    write_xml(os.path.join(folder, "video.xml"), video)
    audio = ET.Element("audio", name=title)
    ET.SubElement(audio, "soundtracks")
    parameters(audio, [("loop", "true"), ("autoplay", "true")], "properties", "property")
    write_xml(os.path.join(folder, "audio.xml"), audio)
    lighting = ET.Element("lighting", name=title)
    parameters(lighting, [("mode", "direct"), ("compatibility_hint", ""), ("shadow_technique", "sm")])
    write_xml(os.path.join(folder, "lighting.xml"), lighting)
    with open(os.path.join(folder, "model.dat"), "w") as out:
        out.write("# Settings files of the scene, written by Blender's Novaro exporter\n")
        for key in SETTINGS:
            out.write("%s @ %s.xml\n" % (key, key))


def pattern_file(marker_id):
    return "patterns/marker_%d.patt" % marker_id


def board_file(marker):
    return "patterns/board_%d.dat" % marker.id


def marker_path(marker, pictures):
    if marker.kind == "image":
        return pictures[marker.id]
    return board_file(marker) if marker.kind == "multi" else pattern_file(marker.id)


def write_submarkers(element, marker, pictures):
    """The board's squares: what "novaro-scene finish" makes their patterns from (the ID chooses a
    generated one). The player reads their places from the board file."""
    holder = ET.SubElement(element, "submarkers")
    for square in marker.squares:
        submarker = ET.SubElement(holder, "submarker", tag=square.obj.name, id=str(square.id),
                                  path=pattern_file(square.id), size=number(square.size_mm))
        if square.id in pictures:
            submarker.set("image", pictures[square.id])


def write_board_file(folder, marker):
    """The multi-marker file the tracker reads: each square's pattern (named from this file's folder),
    printed width and place on the board, as the rows [R | t] taking the square's frame (centred on
    the square, mm) to the board's."""
    lines = ["# Squares of board %s, written by Blender's Novaro exporter" % " ".join(marker.obj.name.split()),
             str(len(marker.squares))]
    for square in marker.squares:
        cos, sin = ((1, 0), (0, 1), (-1, 0), (0, -1))[square.quarter_turns]
        x, y = square.centre
        lines += ["", os.path.basename(pattern_file(square.id)), number(square.size_mm),
                  "%d %d 0 %s" % (cos, -sin, number(x)), "%d %d 0 %s" % (sin, cos, number(y)), "0 0 1 0"]
    with open(os.path.join(folder, board_file(marker)), "w") as out:
        out.write("\n".join(lines) + "\n")


def write_markers(folder, plan, pictures):
    """pictures: marker ID -> the picture's name in the folder (image targets and square patterns
    made from a picture). Returns the board files written."""
    root = ET.Element("markers", patterns_file="patterns.dat", transforms_file="")
    boards = []
    for marker in plan.markers:
        name = marker.obj.name
        element = ET.SubElement(root, "marker", name=name, tag=name, id=str(marker.id), type=marker.kind,
                                path=marker_path(marker, pictures), size=number(marker.size_mm),
                                shadowed=flag(marker.shadowed))
        if marker.kind == "single" and marker.id in pictures:
            element.set("image", pictures[marker.id])
        if marker.kind == "multi":
            write_submarkers(element, marker, pictures)
            write_board_file(folder, marker)
            boards.append(board_file(marker))
        layers = ET.SubElement(element, "layers", sequence="false", sequence_duration="5.0", sequence_loop="false")
        for layer in [0] + sorted(marker.layers.values()):
            ET.SubElement(layers, "layer", id=str(layer), time="5.0")
    write_xml(os.path.join(folder, "markers.xml"), root)
    with open(os.path.join(folder, "patterns.dat"), "w") as out:
        out.write("# markers come from the markers settings\n0\n")
    return boards


def object_element(objects, name, kind, use_properties="false"):
    element = ET.SubElement(objects, "object", name=name, type=kind, is_occluder="false", is_visible="true",
                            ignore="false", use_properties=use_properties)
    return element


def transforms(element, placement):
    holder = ET.SubElement(element, "transforms")
    x, y, z = placement.translation
    ET.SubElement(holder, "translation", x=number(x), y=number(y), z=number(z))
    sx, sy, sz = placement.scale
    ET.SubElement(holder, "scale", x=number(sx), y=number(sy), z=number(sz))
    ET.SubElement(holder, "rotation", axis=placement.axis, angle=number(placement.angle))


def on_markers(element, marker, layer=0):
    if marker is None:
        ET.SubElement(element, "markers", all="true")
    else:
        ET.SubElement(ET.SubElement(element, "markers", all="false"), "marker", id=str(marker.id), layer=str(layer))


def events_of(scene_object):
    """The object's events, and what it does when the scene starts: a hidden object hides itself,
    an animated one starts its animations (the player starts none by itself)."""
    events = {name: list(actions) for name, actions in scene_object.events.items()}
    starting = ([Action("hide")] if scene_object.hidden else []) + \
        ([Action("start_animation")] if scene_object.animated else [])
    if starting:
        events["on_init"] = starting
    return events


def write_events(folder, file_name, scene_object, events):
    root = ET.Element("events", name=scene_object.name)
    for name, actions in events.items():
        holder = ET.SubElement(ET.SubElement(root, "event", name=name), "actions")
        for action in actions:
            element = ET.SubElement(holder, "action", source="_self_", target=action.target)
            ET.SubElement(element, "command").text = action.command
            values = ET.SubElement(element, "parameters")
            if action.animation:
                ET.SubElement(values, "parameter", name="animation_name").text = action.animation
    write_xml(os.path.join(folder, file_name), root)


def write_scene(folder, title, plan, models):
    """models: object name -> its model file in the folder. Returns the events files written."""
    root = ET.Element("scene", name=title, source_folder="", source="", authoring_software="blender",
                      units="millimeters")
    parameters(root, [("show_message", "true"), ("message", title)])
    metadata = ET.SubElement(root, "metadata")
    ET.SubElement(metadata, "platform").text = "standalone"
    ET.SubElement(metadata, "title").text = title
    ET.SubElement(metadata, "description").text = "Exported from Blender."
    objects = ET.SubElement(root, "objects")
    events_files = []
    for scene_object in plan.objects:
        element = object_element(objects, scene_object.name, "ARObject")
        ET.SubElement(element, "model", source=models[scene_object.name], source_folder="", object="")
        parameters(element, [("loop", "true")], "properties", "property")
        transforms(element, scene_object.placement)
        on_markers(element, scene_object.marker, scene_object.layer)
        events = events_of(scene_object)
        if events:
            file_name = "events/%s.xml" % models[scene_object.name].split("/")[-1].rsplit(".", 1)[0]
            write_events(folder, file_name, scene_object, events)
            ET.SubElement(element, "events", file=file_name)
            events_files.append(file_name)
    for light in plan.lights:
        element = object_element(objects, light.name, "ARLight", use_properties="true")
        ET.SubElement(element, "model", source="", source_folder="", object="")
        x, y, z = light.position
        parameters(element, [("loop", "true"), ("directional", flag(light.directional)),
                             ("position_x", number(x)), ("position_y", number(y)), ("position_z", number(z)),
                             ("detail", "med"), ("spot_cutoff", number(light.spot_cutoff))],
                   "properties", "property")
        on_markers(element, light.marker)
    write_xml(os.path.join(folder, "scene.xml"), root)
    return events_files
