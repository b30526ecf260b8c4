#pragma once

#include <osg/Image>

#include <string>

namespace Novaro
{

// Writes 'image' to 'file' in the format its extension names. The image is encoded in memory
// first and the bytes are then written with every write checked: OpenSceneGraph's own writers
// report success on a full disk and leave an empty or truncated file. On failure 'error' says
// why, and a partial file is removed (never anything that was not a regular file, such as a
// device the user named).
bool writeImageFileChecked(const osg::Image& image, const std::string& file, std::string& error);

} // namespace Novaro
