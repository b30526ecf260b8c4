# The player and novaro-scene as programs: found beside this add-on's installation (or named in
# the scene's settings, or on the PATH), asked for their version and camera list, and run on an
# exported folder.
import os
import re
import shutil
import subprocess

VERSION_LINE = re.compile(r"NovaroPlugin v(\d+)\.(\d+)")
# The oldest player that reads what this exporter writes.
OLDEST_VERSION = (2, 3)
QUERY_TIMEOUT = 20

_video_devices = []
# The player started by the last Play: a new Play ends it first, so that one camera is not opened
# twice.
_playing = None


def _beside_addon(program):
    """The program of the installation this add-on came with: the run directory (<dir>/blender/
    novaro_exporter) or an installed tree (<prefix>/share/novaro/blender/novaro_exporter)."""
    # The path Blender loaded the add-on by, where the link in Blender's add-on folder points (the
    # folder "novaro-scene blender-addon" printed), and where all links lead: the run directory's
    # blender/ is a link itself.
    loaded = os.path.dirname(os.path.abspath(__file__))
    places = [loaded, os.path.dirname(os.path.realpath(__file__))]
    if os.path.islink(loaded):
        places.append(os.path.join(os.path.dirname(loaded), os.readlink(loaded)))
    for here in places:
        blender = os.path.dirname(here)
        for candidate in (os.path.join(os.path.dirname(blender), program),
                          os.path.join(blender, "..", "..", "..", "bin", program)):
            if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
                return os.path.normpath(candidate)
    return None


def find_program(program, chosen_player=""):
    """novaro or novaro-scene: beside the chosen player, beside this add-on, or on the PATH."""
    if chosen_player:
        chosen = os.path.join(os.path.dirname(os.path.abspath(chosen_player)), program)
        if os.path.isfile(chosen) and os.access(chosen, os.X_OK):
            return chosen
    return _beside_addon(program) or shutil.which(program)


def run(command, cwd=None, timeout=QUERY_TIMEOUT):
    """(exit status, output and errors together); a program that cannot start gives status None."""
    try:
        done = subprocess.run(command, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, text=True)
    except (OSError, subprocess.TimeoutExpired) as error:
        return None, str(error)
    return done.returncode, done.stdout


def player_version(player):
    """(major, minor) from the player's version line, or None with the reason."""
    status, output = run([player, "-query", "version"])
    match = VERSION_LINE.search(output or "")
    if status is None or not match:
        return None, "%s does not answer as the Novaro player: %s" % (player, (output or "").strip()[:200])
    version = (int(match.group(1)), int(match.group(2)))
    if version < OLDEST_VERSION:
        return None, "%s is version %d.%d; this exporter needs %d.%d or later" % ((player,) + version + OLDEST_VERSION)
    return version, ""


def parse_video_devices(output):
    """[(device number, description)] from the player's lines "video device -devNum=N: /dev/videoK (name)";
    the lines of formats and sizes under each are left out."""
    devices = []
    for line in output.splitlines():
        match = re.match(r"video device -devNum=(\d+): (.+)", line.strip())
        if match:
            devices.append((int(match.group(1)), match.group(2).strip()))
    return devices


def query_video_devices(player):
    global _video_devices
    status, output = run([player, "-query", "video_devices"])
    _video_devices = parse_video_devices(output or "") if status is not None else []
    return _video_devices


def cached_video_devices():
    return _video_devices


def finish_scene(tool, folder):
    """Patterns, camera and marker sheet by novaro-scene finish: (ok, output)."""
    status, output = run([tool, "finish", folder], timeout=120)
    return status == 0, output


def check_scene(tool, folder):
    """The scene's problems as novaro-scene check prints them (file:line:column: message)."""
    status, output = run([tool, "check", folder], timeout=300)
    if status is None:
        return ["novaro-scene check did not run: %s" % output]
    return [line for line in output.splitlines() if line.strip()]


def play_command(player, folder, camera, movie):
    command = [player, folder]
    if camera == "movie":
        if movie:
            command += ["-video_file", movie]
    elif camera:
        command += ["-video_device", camera]
    return command


def start_player(player, folder, camera, movie):
    """Starts the player in its own process (Blender stays usable) in the scene's folder, after
    ending the one the previous Play started."""
    global _playing
    stop_player()
    _playing = subprocess.Popen(play_command(player, folder, camera, movie), cwd=folder)
    return _playing


def stop_player():
    if _playing is not None and _playing.poll() is None:
        _playing.terminate()
        try:
            _playing.wait(timeout=5)
        except subprocess.TimeoutExpired:
            _playing.kill()
