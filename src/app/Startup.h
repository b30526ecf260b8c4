#pragma once

namespace Novaro
{

// The player's entry point: prepares the scene-graph library, reads the command line, locates
// the seven settings files and drives one application object through set-up, frame loop and
// shutdown. Returns the process exit status (some early paths end the process directly).
int startPlayer(int argc, char** argv);

} // namespace Novaro
