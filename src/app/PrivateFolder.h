#pragma once

#include <string>

namespace Novaro
{

// The one folder of a run for everything the player or a tool generates from a scene: unpacked
// archives, multi-marker files. A scene's own folder is never written: it may be read-only (an
// installed sample, a mounted share), and a scene that names where its generated files go could
// otherwise write, through "../", an absolute path or a symbolic link it ships, anywhere the
// user can.
//
// The folder is made with mkdtemp, readable by this user only, under $TMPDIR (or /tmp), as
// "novaro-PID-XXXXXX". It is removed, with everything in it, when the process exits normally and
// when SIGINT, SIGTERM or SIGHUP ends it; folders left by runs that died otherwise (a crash,
// SIGKILL) are removed by the next run that makes its own. Nothing inside is created through an
// existing entry: callers take fresh names from uniqueName.
class PrivateFolder
{
public:
    // The folder of this process, made on first use (and the signal handling installed then).
    // Empty, with the reason said once at the fatal level, when it cannot be made.
    static const std::string& path();

    // A name for a new file or folder inside the private folder, from 'wanted' (its last path
    // component is kept, with "-2", "-3", ... before the extension when taken), or empty when
    // there is no private folder.
    static std::string uniqueName(const std::string& wanted);

    // Removes the folder and everything in it now (symbolic links inside are removed, never
    // followed). Called at exit; safe to call twice.
    static void remove();

    // Removes "novaro-PID-*" folders of this user, under 'parent', whose process no longer runs.
    // Returns how many were removed.
    static int removeLeftovers(const std::string& parent);

    // Where private folders are made: $TMPDIR when it names a folder, else /tmp.
    static std::string parentFolder();
};

// Bounds what the scene may read (see SceneBoundary) to its two directories and this run's
// private folder, which is made now.
void confineToScene(const std::string& workingDirectory, const std::string& temporaryDirectory);

} // namespace Novaro
