#pragma once

#include <string>
#include <vector>

namespace Novaro
{

// Where the player's own files are when they are not in the current directory. The player looks
// for "data/..." files and the "osgplugins" folder in the current directory first (exporters
// start it there); failing that, it takes them from beside its own executable, in one of two
// layouts:
// - a run directory (the build's, or a copy of it anywhere): <dir>/novaro, <dir>/data,
//   <dir>/osgplugins, <dir>/samples;
// - an installed tree: <prefix>/bin/novaro, <prefix>/share/novaro/{data,samples},
//   <prefix>/lib/novaro/osgplugins.
// The Blender exporter add-on is <dir>/blender/novaro_exporter or
// <prefix>/share/novaro/blender/novaro_exporter; the trial reader of models is
// <dir>/novaro-trial-read or <prefix>/libexec/novaro/novaro-trial-read.
class InstallLayout
{
public:
    // The layout around the running executable (/proc/self/exe).
    static InstallLayout ofThisProcess();
    // The layout around an executable at 'executable' (for tests).
    static InstallLayout around(const std::string& executable);

    // Folders that hold "data/" (the current directory is searched before these).
    const std::vector<std::string>& dataRoots() const { return _dataRoots; }
    // The plugin folder beside the executable, or empty.
    const std::string& pluginFolder() const { return _pluginFolder; }
    // The bundled sample scene, or empty.
    const std::string& samplesFolder() const { return _samplesFolder; }
    // The Blender exporter add-on's folder, or empty.
    const std::string& blenderAddonFolder() const { return _blenderAddonFolder; }

    // The trial reader of models (settings/ModelTrialRead.h), or empty.
    const std::string& trialReader() const { return _trialReader; }

    // Puts the folders above after the current directory's in the file registry's search lists.
    void registerWithSceneGraphLibrary() const;

private:
    std::vector<std::string> _dataRoots;
    std::string _pluginFolder;
    std::string _samplesFolder;
    std::string _blenderAddonFolder;
    std::string _trialReader;
};

} // namespace Novaro
