# What the Blender scene becomes in the player, worked out before anything is written: the markers
# with their IDs, sizes and layers, the objects on them with their place in the marker's frame, the
# lights, the events, and every problem found on the way, each naming its object.
import math
import os
from dataclasses import dataclass, field

import bpy
from mathutils import Matrix, Vector

MM_PER_M = 1000.0
# Events the objects' custom properties may carry, as the player names them.
EVENTS = ("on_left_mouse_click", "on_right_mouse_click", "on_left_mouse_double_click",
          "on_right_mouse_double_click", "on_mouse_over", "on_mouse_in", "on_mouse_out")
# Commands an event's actions may run: those that need only a target (and an animation name).
COMMANDS = ("show", "hide", "start_animation", "pause_animation", "stop_animation", "rewind_animation")
# Object types exported through the glTF exporter; curves and texts become meshes there.
MODEL_TYPES = {"MESH", "ARMATURE", "EMPTY"}
CONVERTED_TYPES = {"CURVE", "SURFACE", "FONT", "META"}
IGNORED_TYPES = {"CAMERA", "SPEAKER", "LIGHT_PROBE"}
# Tolerances: a scale counts as uniform, and a rotation as one about a marker axis, within these.
UNIFORM_SCALE = 1e-4
AXIS_TOLERANCE = 1e-5
# A board's squares are printed on one flat sheet: each lies in the board's plane (within this many
# millimetres) and is square to the board or a quarter turn from it (within this many radians).
PLANE_TOLERANCE_MM = 0.01
QUARTER_TURN_TOLERANCE = 1e-4
# Squares that only touch do not overlap, whatever the rounding of their places.
OVERLAP_TOLERANCE_MM = 1e-3


@dataclass
class Problem:
    level: str  # "ERROR" (left out), "WARNING" (exported differently), "INFO"
    text: str


@dataclass
class Marker:
    obj: object
    id: int
    kind: str
    size_mm: float
    pattern: str = ""   # picture the pattern is made from (square), the picture itself (image)
    layers: dict = field(default_factory=dict)  # collection name -> layer ID
    shadowed: bool = False
    squares: list = field(default_factory=list)  # a board's Squares


@dataclass
class Square:
    """One square marker of a board, where it lies on the board."""
    obj: object
    id: int
    size_mm: float
    centre: tuple        # (x, y) millimetres in the board's frame
    quarter_turns: int   # counter-clockwise about the board's z, 0..3
    pattern: str = ""    # picture the pattern is made from; empty: generated


@dataclass
class Placement:
    translation: tuple = (0.0, 0.0, 0.0)   # millimetres in the marker's frame
    axis: str = "z"
    angle: float = 0.0                     # radians about the axis
    scale: tuple = (1.0, 1.0, 1.0)
    baked: object = None                   # a Matrix given to the model itself when the scene file cannot say it


@dataclass
class Action:
    command: str
    target: str = "_self_"
    animation: str = ""


@dataclass
class SceneObject:
    name: str
    obj: object
    marker: Marker
    layer: int
    placement: Placement
    hidden: bool
    animated: bool = False
    events: dict = field(default_factory=dict)  # event name -> [Action]


@dataclass
class Light:
    name: str
    obj: object
    marker: object          # a Marker, or None: on every marker
    directional: bool
    position: tuple         # mm (point), or the direction the light shines (directional)
    shadows: bool
    spot_cutoff: float = 180.0


@dataclass
class Plan:
    markers: list = field(default_factory=list)
    objects: list = field(default_factory=list)
    lights: list = field(default_factory=list)
    problems: list = field(default_factory=list)

    def report(self, level, text):
        self.problems.append(Problem(level, text))


def marker_frame(obj):
    """The marker's frame in Blender's world: its place and turn, without its scale (the printed size
    is the marker's own setting)."""
    location, rotation, _ = obj.matrix_world.decompose()
    return Matrix.Translation(location) @ rotation.to_matrix().to_4x4()


def is_uniform(scale):
    return max(abs(s) for s in scale) - min(abs(s) for s in scale) <= UNIFORM_SCALE * max(abs(s) for s in scale)


def single_axis(rotation):
    """(axis, angle) when the quaternion turns about one of the frame's axes (or not at all), else None."""
    angle = 2.0 * math.acos(max(-1.0, min(1.0, abs(rotation.w))))
    if angle < AXIS_TOLERANCE:
        return "z", 0.0
    axis = Vector((rotation.x, rotation.y, rotation.z))
    if rotation.w < 0:
        axis = -axis
    axis.normalize()
    for index, name in enumerate("xyz"):
        if abs(abs(axis[index]) - 1.0) < AXIS_TOLERANCE:
            return name, math.copysign(angle, axis[index])
    return None


def placement_on(marker_obj, obj):
    """The object's place in the marker's frame. The scene file holds a turn about one marker axis,
    then a scale along the marker's axes, then a move; anything else (a turn about a slanted axis,
    an uneven scale on a turned object) is given to the model itself and the file keeps the move."""
    relative = marker_frame(marker_obj).inverted() @ obj.matrix_world
    location, rotation, scale = relative.decompose()
    translation = tuple(MM_PER_M * c for c in location)
    turn = single_axis(rotation)
    if turn is not None and (is_uniform(scale) or turn[1] == 0.0):
        return Placement(translation, turn[0], turn[1], tuple(scale))
    linear = relative.copy()
    linear.translation = (0.0, 0.0, 0.0)
    return Placement(translation, baked=linear)


def find_picture(obj):
    """The first image texture of the object's materials, or None."""
    for slot in getattr(obj, "material_slots", ()):
        material = slot.material
        if material is None or not material.use_nodes:
            continue
        for node in material.node_tree.nodes:
            if node.type == "TEX_IMAGE" and node.image is not None:
                return node.image
    return None


def image_path(image):
    return bpy.path.abspath(image.filepath, library=image.library) if image.filepath else ""


def is_square(obj):
    """A square marker parented to a board: the board tracks it, it is no marker of its own."""
    parent = obj.parent
    return (obj.novaro.is_marker and obj.novaro.marker_type == "single" and parent is not None
            and parent.novaro.is_marker and parent.novaro.marker_type == "multi")


def collect_markers(scene, plan):
    found = []
    for obj in scene.objects:
        if obj.novaro.is_marker and not is_square(obj):
            marker = marker_from(obj, plan)
            if marker is not None:
                found.append(marker)
    assign_ids(found, plan)
    plan.markers = sorted(found, key=lambda m: m.id)
    for marker in plan.markers:
        collect_layers(marker)


def marker_from(obj, plan):
    """The marker the object is, or None (reported) when it cannot be exported."""
    settings = obj.novaro
    # An image plane is scaled to its picture's shape; only a square marker's scale is suspect.
    if settings.marker_type != "image" and not is_uniform(obj.matrix_world.to_scale()):
        plan.report("WARNING", "%s: the marker has a non-uniform scale; its objects are placed as if it "
                               "had none" % obj.name)
    marker = Marker(obj, settings.marker_id, settings.marker_type, settings.size_mm)
    if marker.kind == "image":
        return marker if image_marker(obj, marker, plan) else None
    if marker.kind == "multi":
        return marker if collect_squares(obj, marker, plan) else None
    marker.pattern = pattern_picture(obj, plan)
    if marker.pattern is None:
        return None
    if marker.size_mm <= 0.0:
        plan.report("ERROR", "%s: the marker's printed size is 0; it and its objects are left out" % obj.name)
        return None
    return marker


def pattern_picture(obj, plan, left_out="the marker and its objects are left out"):
    """The square's pattern picture ("" for a generated pattern), or None (reported) when it is missing."""
    picture = bpy.path.abspath(obj.novaro.pattern) if obj.novaro.pattern else ""
    if picture and not os.path.isfile(picture):
        plan.report("ERROR", "%s: the pattern picture %s does not exist; %s" % (obj.name, picture, left_out))
        return None
    return picture


def assign_ids(markers, plan):
    """Markers and boards' squares share one numbering (a generated pattern follows its ID): a taken
    ID is reported and replaced, and 0 takes the lowest free one, in the order of the names."""
    numbered = [item for marker in markers for item in [marker] + marker.squares]
    taken = set()
    for item in numbered:
        if item.id and item.id in taken:
            plan.report("WARNING", "%s: marker ID %d is taken by another marker; a free one is used"
                        % (item.obj.name, item.id))
            item.id = 0
        taken.add(item.id)
    next_free = 1
    for item in sorted(numbered, key=lambda i: i.obj.name):
        if item.id:
            continue
        while next_free in taken:
            next_free += 1
        item.id = next_free
        taken.add(next_free)


def collect_squares(board, marker, plan):
    """The board's square children where they lie on it; False (reported) when none can be printed."""
    to_board = marker_frame(board).inverted()
    for child in sorted(board.children, key=lambda c: c.name):
        if not is_square(child):
            continue
        square = square_on(to_board, child, plan)
        if square is None:
            continue
        covered = [other for other in marker.squares if squares_overlap(square, other)]
        if covered:
            plan.report("ERROR", "%s: the square overlaps %s on board %s; left out of the board"
                        % (child.name, covered[0].obj.name, board.name))
            continue
        marker.squares.append(square)
    if not marker.squares:
        plan.report("ERROR", "%s: a multi marker needs square markers (type Square) parented to it as "
                             "its squares; it and its objects are left out" % board.name)
        return False
    marker.size_mm = board_width(marker.squares)
    return True


def quarter_turns(angle):
    """The angle in quarter turns (0..3), or None when it is not a whole number of them."""
    turns = angle / (math.pi / 2.0)
    return int(round(turns)) % 4 if abs(turns - round(turns)) <= QUARTER_TURN_TOLERANCE else None


def square_problem(obj, location, turn, scale):
    """Why the square cannot be printed where it lies on its board, or None."""
    if not is_uniform(scale):
        return "has a non-uniform scale"
    if turn is None or turn[0] != "z" or abs(location.z) * MM_PER_M > PLANE_TOLERANCE_MM:
        return "is turned or moved out of the board's plane"
    if quarter_turns(turn[1]) is None:
        return "is turned %.1f degrees on the board (squares lie square to it or a quarter turn from it)" \
            % math.degrees(turn[1])
    if obj.novaro.size_mm <= 0.0:
        return "has a printed size of 0"
    return None


def square_on(to_board, obj, plan):
    """The square's place on the board, or None (reported) when it cannot be printed there."""
    location, rotation, scale = (to_board @ obj.matrix_world).decompose()
    turn = single_axis(rotation)
    problem = square_problem(obj, location, turn, scale)
    if problem is not None:
        plan.report("ERROR", "%s: the square %s; left out of board %s" % (obj.name, problem, obj.parent.name))
        return None
    pattern = pattern_picture(obj, plan, "the square is left out of board %s" % obj.parent.name)
    if pattern is None:
        return None
    return Square(obj, obj.novaro.marker_id, obj.novaro.size_mm, (MM_PER_M * location.x, MM_PER_M * location.y),
                  quarter_turns(turn[1]), pattern)


def squares_overlap(a, b):
    """Squares keep their sides along the board's axes (quarter turns only)."""
    reach = (a.size_mm + b.size_mm) / 2.0 - OVERLAP_TOLERANCE_MM
    return abs(a.centre[0] - b.centre[0]) < reach and abs(a.centre[1] - b.centre[1]) < reach


def board_width(squares):
    """The board's printed width: across its squares, along its x."""
    return max(s.centre[0] + s.size_mm / 2.0 for s in squares) - min(s.centre[0] - s.size_mm / 2.0 for s in squares)


def image_marker(obj, marker, plan):
    """An image target: the plane's picture (or the pattern setting) at the plane's width."""
    if obj.novaro.pattern:
        marker.pattern = bpy.path.abspath(obj.novaro.pattern)
    else:
        picture = find_picture(obj)
        marker.pattern = image_path(picture) if picture is not None else ""
    if not marker.pattern or not os.path.isfile(marker.pattern):
        plan.report("ERROR", "%s: an image marker needs a picture (an image texture on the plane, or the "
                             "Pattern setting) that exists on disk; left out" % obj.name)
        return False
    if obj.type == "MESH":
        width = max(v.co.x for v in obj.data.vertices) - min(v.co.x for v in obj.data.vertices) \
            if len(obj.data.vertices) else 0.0
        marker.size_mm = MM_PER_M * width * abs(obj.matrix_world.to_scale().x)
    return True


def collect_layers(marker):
    """Child collections of the marker's collection are its layers 1, 2, ... in their order."""
    collections = marker.obj.users_collection
    if not collections:
        return
    for index, child in enumerate(collections[0].children):
        marker.layers[child.name] = index + 1


def layer_of(obj, marker):
    for collection in obj.users_collection:
        if collection.name in marker.layers:
            return marker.layers[collection.name]
    return 0


def marker_of(obj, markers_by_object):
    """The marker the object's nearest marker ancestor is, and whether the object stands on it
    directly; (None, False) when no ancestor is a marker."""
    parent, direct = obj.parent, True
    while parent is not None:
        if parent.novaro.is_marker:
            return markers_by_object.get(parent.name), direct
        parent, direct = parent.parent, False
    return None, False


def parse_events(obj, names, plan):
    events = {}
    for event in EVENTS:
        if event not in obj.keys():
            continue
        actions = []
        for text in str(obj[event]).split(";"):
            words = text.split()
            if not words:
                continue
            command = words[0]
            if command not in COMMANDS:
                plan.report("WARNING", "%s: %s: unknown command %r (known: %s); left out"
                            % (obj.name, event, command, ", ".join(COMMANDS)))
                continue
            target = words[1] if len(words) > 1 else "_self_"
            if target not in ("_self_", obj.name) and target not in names:
                plan.report("WARNING", "%s: %s: %s names %r, which is not an exported object; left out"
                            % (obj.name, event, command, target))
                continue
            actions.append(Action(command, "_self_" if target == obj.name else target, " ".join(words[2:])))
        if actions:
            events[event] = actions
    return events


def is_hidden(obj):
    try:
        return obj.hide_get() or obj.hide_viewport
    except RuntimeError:
        # Not in the view layer (its collection is excluded): nothing of it is shown.
        return True


def has_action(data):
    animation = getattr(data, "animation_data", None)
    return animation is not None and (animation.action is not None or len(animation.nla_tracks) > 0)


def is_animated(obj):
    """Whether the object or anything of its model (children, shape keys) has an action."""
    return any(has_action(item) or has_action(getattr(item.data, "shape_keys", None))
               for item in [obj] + list(obj.children_recursive))


def check_textures(obj, plan):
    for item in [obj] + list(obj.children_recursive):
        for slot in getattr(item, "material_slots", ()):
            material = slot.material
            if material is None or not material.use_nodes:
                continue
            for node in material.node_tree.nodes:
                if node.type != "TEX_IMAGE" or node.image is None:
                    continue
                image = node.image
                if image.packed_file is None and image.source == "FILE" and not os.path.isfile(image_path(image)):
                    plan.report("WARNING", "%s: texture %s is missing (%s); the model is exported without it"
                                % (item.name, image.name, image_path(image) or "no file"))


def collect_light(obj, marker, plan):
    light = obj.data
    if light.type not in ("SUN", "POINT", "SPOT"):
        plan.report("ERROR", "%s: %s lights are not supported (sun, point and spot are); left out"
                    % (obj.name, light.type.lower()))
        return None
    frame = marker_frame(marker.obj) if marker is not None else Matrix.Identity(4)
    relative = frame.inverted() @ obj.matrix_world
    if light.type == "SUN":
        direction = (relative.to_3x3() @ Vector((0.0, 0.0, -1.0))).normalized()
        return Light(obj.name, obj, marker, True, tuple(direction), light.use_shadow)
    if light.type == "SPOT":
        plan.report("WARNING", "%s: the player lights all around from a spot light's place; its cone is "
                               "not kept" % obj.name)
    position = tuple(MM_PER_M * c for c in relative.translation)
    cutoff = math.degrees(light.spot_size) / 2.0 if light.type == "SPOT" else 180.0
    return Light(obj.name, obj, marker, False, position, light.use_shadow, cutoff)


def markers_by_object_of(plan):
    """Object name -> the marker it is; a board's squares (even those left out of it) stand for the
    board, so that what stands on a square goes on the board."""
    found = {}
    for marker in plan.markers:
        found[marker.obj.name] = marker
        for child in marker.obj.children:
            if is_square(child):
                found[child.name] = marker
    return found


def collect_objects(scene, plan):
    markers_by_object = markers_by_object_of(plan)
    direct = []
    for obj in scene.objects:
        if obj.novaro.is_marker or obj.type in IGNORED_TYPES:
            continue
        marker, on_marker = marker_of(obj, markers_by_object)
        if obj.type == "LIGHT":
            if on_marker or obj.parent is None:
                light = collect_light(obj, marker, plan)
                if light is not None:
                    plan.lights.append(light)
            else:
                plan.report("WARNING", "%s: a light inside a model is not exported; parent it to a marker"
                            % obj.name)
            continue
        if on_marker:
            if marker is not None:
                direct.append((obj, marker))
        elif obj.parent is None and not (obj.type == "EMPTY" and not obj.children):
            plan.report("WARNING", "%s is on no marker (parent it to a marker object); not exported" % obj.name)
    names = {obj.name for obj, _ in direct}
    for obj, marker in sorted(direct, key=lambda entry: entry[0].name):
        if obj.type in CONVERTED_TYPES:
            plan.report("INFO", "%s: the %s is exported as a mesh" % (obj.name, obj.type.lower()))
        elif obj.type not in MODEL_TYPES:
            plan.report("ERROR", "%s: %s objects cannot be exported; left out" % (obj.name, obj.type.lower()))
            continue
        placement = placement_on(marker.obj, obj)
        if placement.baked is not None:
            plan.report("INFO", "%s: its turn or uneven scale is not about one marker axis; the model carries it"
                        % obj.name)
        check_textures(obj, plan)
        plan.objects.append(SceneObject(obj.name, obj, marker, layer_of(obj, marker), placement,
                                        is_hidden(obj), is_animated(obj),
                                        parse_events(obj, names, plan)))


def mark_shadowed(plan):
    """Shadows fall on the markers a shadow-casting light reaches; the player shadows from one light."""
    casting = [light for light in plan.lights if light.shadows]
    if len(casting) > 1:
        plan.report("WARNING", "%s: only one light casts shadows in the player; %s does"
                    % (", ".join(light.name for light in casting[1:]), casting[0].name))
    if casting:
        plan.lights.remove(casting[0])
        plan.lights.insert(0, casting[0])
        for marker in plan.markers:
            marker.shadowed = casting[0].marker is None or casting[0].marker is marker


def build_plan(scene):
    plan = Plan()
    collect_markers(scene, plan)
    if not plan.markers:
        plan.report("ERROR", "the scene has no marker: mark an object as a marker in the Novaro panel")
        return plan
    collect_objects(scene, plan)
    mark_shadowed(plan)
    return plan
