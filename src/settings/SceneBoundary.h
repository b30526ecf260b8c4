#pragma once

#include <string>
#include <vector>

namespace Novaro
{

// The folders a scene may read from. A scene is untrusted input, shared as a folder or an archive:
// it reads inside its own folder (the temporary directory the exporter wrote it into), the working
// directory that holds the installation's camera and tracker files, and the run's private
// temporary folder; nothing else, whatever its settings files or models name. Symbolic links are
// followed before the test, so a link inside the scene that points out of it leads outside too.
//
// The folders are process-wide: the player and the checker set them once the scene is located,
// before the settings are read. With no folder set nothing is bounded (tools that read one file
// the user names, and tests).
namespace SceneBoundary
{

// Replaces the folders. Each is made absolute with its symbolic links resolved.
void setFolders(const std::vector<std::string>& folders);
// Adds one folder (the private temporary folder, once it exists).
void addFolder(const std::string& folder);
// Forgets every folder: nothing is bounded any more.
void clear();

bool isBounded();

// The folders, as given to setFolders and addFolder once resolved; none when unbounded.
std::vector<std::string> folders();

// The folders, as given to setFolders and addFolder once resolved, for messages: "'A', 'B'".
std::string describeFolders();

// True when 'path' (absolute, or relative to the current directory), with its symbolic links
// followed, is one of the folders or lies below one; always true when nothing is bounded.
bool contains(const std::string& path);

// True when the name 'value', read from a settings file or a model in the folder 'base', leads
// outside the folders: an absolute name (a "/" path or a drive-letter path)
// outside them; a relative name that climbs out with ".." wherever it is resolved; or one whose
// first existing components, under 'base', are a symbolic link leading out. Always false when
// nothing is bounded. Costs one lstat for an ordinary relative name. Names with a scheme
// ("https://...") are left to the network rule: a settings file may carry a web address as text.
bool leadsOutside(const std::string& base, const std::string& value);

// The name's last component ("/a/b/x.osgb", "..\\x.osgb" and "C:\\a\\x.osgb" give "x.osgb"; ".." and
// "/" give empty text): what a refused name is read as, inside the scene's folder.
std::string lastComponent(const std::string& value);

} // namespace SceneBoundary
} // namespace Novaro
