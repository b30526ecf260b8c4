#pragma once

namespace Novaro
{

class InstallLayout;

// The scene-graph library's environment as the player needs it: the texture size limit, the
// plugin folders ("osgplugins" in the current directory first, then the installed ones, then the
// system's), the data folders and the console notification at fatal level.
void prepareSceneGraphLibrary(const InstallLayout& layout);

// The player's entry point: prepares the scene-graph library, reads the command line, locates
// the seven settings files and drives one application object through set-up, frame loop and
// shutdown. Returns the process exit status (some early paths end the process directly).
int startPlayer(int argc, char** argv);

} // namespace Novaro
