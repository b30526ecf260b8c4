# A multi marker from Blender, run inside a headless Blender: a board (a marker of type Multi)
# turned on the table, with three square markers parented to it (one turned a quarter turn, one
# made from a picture, IDs left to the exporter), a model on the board and a model on one of its
# squares. What cannot be printed is reported by name; the scene exports clean, its printed sheet is
# filmed by the synthetic camera and played, and each model's centre in the player's screenshot is
# measured against Blender's own matrices; then again with one square covered on the sheet.
#
# blender -b --factory-startup --python-exit-code 1 --python board_test.py -- RUN_DIR SOURCE_DIR WORK_DIR
import json
import math
import os
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

import bpy
import numpy as np
from mathutils import Vector

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import exporter_test as common  # noqa: E402  (the shared building, filming and measuring)
from exporter_test import MM, check, failures  # noqa: E402

BOARD_DIR = os.path.join(common.WORK_DIR, "board")
BOARD_ID = 5
# The squares: name -> (centre on the board in mm, printed width in mm, quarter turns).
SQUARES = {"SquareA": ((-45.0, 25.0), 40.0, 0), "SquareB": ((45.0, 25.0), 40.0, 1),
           "SquareC": ((0.0, -40.0), 40.0, 0)}
COLOURS = {"OnBoard": (1.0, 0.0, 0.0), "OnSquare": (0.0, 1.0, 0.0)}
FRAMES = 40


def square(name, board, centre_mm, size_mm, quarter_turns):
    obj = common.marker(name, 0, (0.0, 0.0, 0.0), size_mm=size_mm)
    common.place_on(obj, board, tuple(centre_mm) + (0.0,), 90.0 * quarter_turns)
    return obj


def build_board():
    bpy.ops.wm.read_factory_settings(use_empty=True)
    common.enable_addon()
    board = common.marker("Board", BOARD_ID, (100.0, 50.0, 0.0), kind="multi")
    board.rotation_euler = (0.0, 0.0, math.radians(20.0))
    squares = {name: square(name, board, *place) for name, place in SQUARES.items()}
    squares["SquareC"].novaro.pattern = common.pattern_picture(os.path.join(common.WORK_DIR, "f.png"))
    on_board = common.box("OnBoard", (24.0, 12.0, 12.0), (6.0, 0.0, 6.0),
                          common.colour_material("red", COLOURS["OnBoard"]))
    common.place_on(on_board, board, (10.0, -5.0, 0.0), 30.0)
    on_square = common.box("OnSquare", (14.0, 14.0, 10.0), (0.0, 0.0, 5.0),
                           common.colour_material("green", COLOURS["OnSquare"]))
    common.place_on(on_square, squares["SquareA"], (0.0, 0.0, 0.0))
    bpy.context.view_layer.update()
    return board


def refusals():
    """Boards and squares that cannot be printed are reported by name; the rest of a board stays."""
    from novaro_exporter import plan
    empty = common.marker("EmptyBoard", 0, (0.0, 500.0, 0.0), kind="multi")
    faulty = common.marker("FaultyBoard", 0, (0.0, -500.0, 0.0), kind="multi")
    made = [empty, faulty, square("Good", faulty, (0.0, 0.0), 40.0, 0),
            square("Overlapping", faulty, (30.0, 10.0), 40.0, 0),
            square("Squashed", faulty, (100.0, 0.0), 40.0, 0), square("Tipped", faulty, (0.0, 100.0), 40.0, 0),
            square("Askew", faulty, (-100.0, 0.0), 40.0, 0), square("Lifted", faulty, (0.0, -100.0), 40.0, 0),
            square("Nothing", faulty, (100.0, 100.0), 0.0, 0)]
    bpy.data.objects["Squashed"].scale = (1.0, 1.5, 1.0)
    bpy.data.objects["Tipped"].rotation_euler = (math.radians(10.0), 0.0, 0.0)
    bpy.data.objects["Askew"].rotation_euler = (0.0, 0.0, math.radians(30.0))
    bpy.data.objects["Lifted"].location.z = 5 * MM
    bpy.context.view_layer.update()
    built = plan.build_plan(bpy.context.scene)
    problems = [p.text for p in built.problems]
    for name, words in (("EmptyBoard", "needs square markers"), ("Overlapping", "overlaps Good"),
                        ("Squashed", "non-uniform scale"), ("Tipped", "out of the board's plane"),
                        ("Lifted", "out of the board's plane"), ("Askew", "turned 30.0 degrees"),
                        ("Nothing", "printed size of 0")):
        check(any(t.startswith(name) and words in t for t in problems), "%s is reported (%s)" % (name, words))
    kept = [m for m in built.markers if m.obj.name == "FaultyBoard"]
    check(kept and [s.obj.name for s in kept[0].squares] == ["Good"],
          "a board keeps the squares that can be printed")
    for obj in made:
        bpy.data.objects.remove(obj)


def board_panel(board):
    """The marker panel lists a board's squares with their places and the board's width."""
    from novaro_exporter import panel
    layout = common.LayoutRecorder()
    context = type("Context", (), {"object": board, "scene": bpy.context.scene})()
    panel.NOVARO_PT_object.draw(type("Panel", (), {"layout": layout})(), context)
    missing = [text for text in ("Board 130 mm wide, 3 squares (child Square markers)",
                                 "SquareB: ID free, 40 mm, at (45.0, 25.0) mm, turned 90 degrees")
               if text not in layout.drawn]
    check(not missing, "the panel lists the board's squares" + (": not %s" % missing if missing else ""))


def export_board():
    started = time.monotonic()
    result = bpy.ops.export_scene.novaro(directory=BOARD_DIR, play=False, check=False)
    seconds = time.monotonic() - started
    check(result == {"FINISHED"}, "the board scene exported (%.2f s)" % seconds)
    board = ET.parse(os.path.join(BOARD_DIR, "markers.xml")).getroot().find("marker[@id='%d']" % BOARD_ID)
    check(board is not None and board.get("type") == "multi" and len(board.findall("submarkers/submarker")) == 3,
          "the board is a multi marker of three squares")
    ids = sorted(int(s.get("id")) for s in board.findall("submarkers/submarker"))
    check(ids == [1, 2, 3], "its squares took the free IDs 1 to 3: %s" % ids)
    problems = subprocess.run([os.path.join(common.RUN_DIR, "novaro-scene"), "check", BOARD_DIR],
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True).stdout.strip()
    check(problems == "", "novaro-scene check finds nothing: %r" % problems)
    return seconds


def square_centre_on_board(name, board):
    """Where Blender puts the square's centre in the board's frame (mm)."""
    return common.marker_point(bpy.data.objects[name], board, Vector((0.0, 0.0, 0.0)))


def board_origin_on_sheet(board):
    """The board frame's origin on the printed page (mm from its top-left corner), from where
    novaro-scene printed each square and where Blender has it on the board, with the spread of the
    squares' estimates (0 when the sheet puts every square where Blender has it)."""
    places = common.sheet_places(BOARD_DIR)
    estimates = []
    for name in SQUARES:
        left, top, width = places[exported_id(name)]
        centre = square_centre_on_board(name, board)
        estimates.append((left + width / 2.0 - centre.x, top + width / 2.0 + centre.y))
    estimates = np.array(estimates)
    return estimates.mean(axis=0), float(np.abs(estimates - estimates.mean(axis=0)).max())


def exported_id(name):
    markers = ET.parse(os.path.join(BOARD_DIR, "markers.xml")).getroot()
    return int(markers.find(".//submarker[@tag='%s']" % name).get("id"))


def page_picture():
    page = os.path.join(common.WORK_DIR, "board-page")
    subprocess.run(["pdftoppm", "-r", "150", "-png", "-singlefile", os.path.join(BOARD_DIR, "markers.pdf"), page],
                   check=True)
    return page + ".png"


def covered(page, name, board, origin):
    """The page with the square painted over in white (and its paper around): a picture path."""
    pixels = common.image_pixels(page)
    centre = square_centre_on_board(name, board)
    x, y = origin[0] + centre.x, origin[1] - centre.y
    half = SQUARES[name][1] * 0.75
    rows = slice(int((y - half) * common.DOTS_PER_MM), int((y + half) * common.DOTS_PER_MM))
    columns = slice(int((x - half) * common.DOTS_PER_MM), int((x + half) * common.DOTS_PER_MM))
    pixels[rows, columns, :3] = 1.0
    image = bpy.data.images.new("covered", pixels.shape[1], pixels.shape[0])
    image.pixels.foreach_set(np.flipud(pixels).ravel())
    image.filepath_raw = os.path.join(common.WORK_DIR, "covered-page.png")
    image.file_format = "PNG"
    image.save()
    return image.filepath_raw


def boxes_of(board, camera, pose):
    markers = {"Board": board, "SquareA": board}
    return {name: common.projected_box(name, markers, camera, {BOARD_ID: pose}) for name in COLOURS}


def squares_in_view(board, camera, pose, margin=12.0):
    corners = []
    for name, (_, size, _) in SQUARES.items():
        centre = square_centre_on_board(name, board)
        corners += [common.project(camera, pose, (centre.x + dx * size / 2, centre.y + dy * size / 2, 0.0))
                    for dx in (-1, 1) for dy in (-1, 1)]
    corners = np.array(corners)
    return (corners.min(axis=0) > margin).all() and (corners.max(axis=0) < [common.CAMERA_WIDTH - margin,
                                                                             common.CAMERA_HEIGHT - margin]).all()


def film(board, page, origin, camera_file, name, seeds=range(1, 80)):
    """A still frame of the page from the first seed that shows every square and both models apart;
    returns the frame, the seed, the board's pose and the models' expected places."""
    camera = common.read_camera(camera_file)
    for seed in seeds:
        truth = os.path.join(common.WORK_DIR, name + ".jsonl")
        frame = os.path.join(common.WORK_DIR, name + "%04d.png")
        subprocess.run([os.path.join(common.RUN_DIR, "novaro-synthcam"), "--output", frame, "--truth", truth,
                        "--camera", camera_file, "--image", page, "--image-size", str(common.A4_WIDTH),
                        "--frames", "1", "--still", "--no-clutter", "--min-width", "300", "--max-width", "400",
                        "--max-tilt", "30", "--seed", str(seed)], check=True, stdout=subprocess.DEVNULL)
        placed = json.loads(open(truth).readline())["markers"]
        if len(placed) != 1:
            continue
        pose = common.on_table(placed[0]["pose"], origin, common.A4_HEIGHT, common.A4_WIDTH)
        boxes = boxes_of(board, camera, pose)
        if squares_in_view(board, camera, pose) and common.views_apart(boxes):
            return frame % 0, seed, pose, boxes
    raise AssertionError("no synthetic frame shows the board's squares and models apart")


def measure(frame, shot_name, boxes):
    common.run_player(frame, shot_name, ["-max_frames", str(FRAMES)], BOARD_DIR)
    shot = common.read_screenshot(os.path.join(common.WORK_DIR, shot_name))
    errors = {}
    for name in COLOURS:
        centre, low, high = boxes[name]
        found, _ = common.measured_centre(shot, name, low, high)
        check(found is not None, "%s is in the picture (%s)" % (name, shot_name))
        if found is not None:
            errors[name] = float(np.linalg.norm(found - centre))
            check(errors[name] <= common.MAX_PIXEL_ERROR, "%s at %.1f px from Blender's place (%s)"
                  % (name, errors[name], shot_name))
    return errors


def main():
    # The measuring helpers look colours up by object name.
    common.COLOURS.update(COLOURS)
    board = build_board()
    board_panel(board)
    refusals()
    seconds = export_board()
    origin, spread = board_origin_on_sheet(board)
    check(spread < 0.01, "the sheet prints the squares where Blender has them on the board (spread %.4f mm)"
          % spread)
    camera_file = os.path.join(BOARD_DIR, "camera_640x480.dat")
    page = page_picture()
    frame, seed, _, boxes = film(board, page, origin, camera_file, "board")
    errors = measure(frame, "board.png", boxes)
    hidden_frame, _, _, hidden_boxes = film(board, covered(page, "SquareA", board, origin), origin, camera_file,
                                            "covered", [seed])
    covered_errors = measure(hidden_frame, "covered.png", hidden_boxes)
    print("MEASURED: board export %.2f s; pixel errors %s; with SquareA covered %s"
          % (seconds, ", ".join("%s %.2f" % item for item in sorted(errors.items())),
             ", ".join("%s %.2f" % item for item in sorted(covered_errors.items()))))
    if failures:
        raise AssertionError("%d checks failed:\n  %s" % (len(failures), "\n  ".join(failures)))


if __name__ == "__main__":
    main()
