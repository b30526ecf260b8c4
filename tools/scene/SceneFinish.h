#pragma once

// "novaro-scene finish": completes a scene folder written by an exporter with what only the
// project's own code makes, so that exporters never carry a copy of it: the pattern file of each
// square marker that has none yet (from the picture its markers-file entry names as `image`, or
// generated, distinct from the other markers), a generic camera file for each camera of the video
// settings whose file is missing, and markers.pdf, every square marker at its printed size.

#include <string>

namespace Novaro
{

/// Completes the scene in the folder; prints what it wrote, or why it cannot, on the console.
/// Exit status: 0 done, 1 something could not be read or written.
int finishScene(const std::string& directory);

} // namespace Novaro
