#pragma once

#include <string>

namespace Novaro
{

// How the player decides whether a file name from the command line or a settings file is used
// as it stands or joined to a base directory. Exporters on the authoring platform write drive
// letter paths ("C:\data\scene.xml") and backslash-separated relative names.
namespace PathRule
{

// True for a drive-letter path whose directory part is longer than two characters
// ("C:\data\x.xml", not "C:\x.xml") and for a path starting with "/".
bool isAbsolute(const std::string& name);

// The same test for a folder name, whose directory part is the whole name: "C:\models" is
// absolute.
bool isAbsoluteDirectory(const std::string& folder);

// The name as it stands when absolute, else the base directory joined with the name, with the
// name's backslashes turned into "/".
std::string resolve(const std::string& base, const std::string& name);

// A scene file's model source and folder resolved as the exporter meant them: the folder
// against the temporary directory, the source against the folder (or the temporary directory
// without one).
std::string resolveSource(const std::string& temporaryDirectory, std::string folder,
                          const std::string& source);

// True only for a regular file that this process can open for reading. A folder or a device
// given where a file is expected must be refused before a reader blocks or spins on it.
bool isReadableFile(const std::string& path);

} // namespace PathRule
} // namespace Novaro
