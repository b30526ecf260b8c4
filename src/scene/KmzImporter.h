#pragma once

#include <string>
#include <vector>

namespace Novaro
{

// Unpacks KMZ archives (as written by Google SketchUp and Google Earth) into a temporary folder
// beside the archive and finds the COLLADA models in them. Unpacking goes through libzip and
// deleting through std::filesystem: no command line is ever built from a file name, and archive
// entries that would land outside the folder are refused.
class KmzImporter
{
public:
    // Prints " KMZ: " and the archive, and " tmp kmz dir: " and the folder ("<archive without
    // extension>_kmz.tmp"); appends the folder to 'temporaryFolders' (cleaned at shutdown);
    // cleans it in case an earlier run left it behind; unpacks the archive into it and returns
    // the models found there. The caller reports which model it uses (" Using model: ") or that
    // there is none (" No valid KMZ models in archive.").
    static std::vector<std::string> importArchive(const std::string& archivePath,
                                                  std::vector<std::string>& temporaryFolders);

    // Unpacks 'archive' into 'folder', overwriting existing files. With 'nested', every archive of
    // the folder's top level whose extension is "zip" or "ZIP" is then unpacked into a sub-folder
    // named after it (one level only). Entries that are absolute or would leave the folder are
    // refused; the others are still unpacked, but the archive then counts as not unpacked.
    static bool unzip(const std::string& archive, const std::string& folder, bool nested);

    // Deletes the folder's files, then the folder tree.
    static void cleanupFolder(const std::string& folder);

    // The models of an unpacked archive: the "dae" files of its "models" folder (SketchUp), or
    // else the models that its "doc.kml" names (Google Earth), whose resource aliases are then
    // copied to where the models look for them.
    static std::vector<std::string> discoverModels(const std::string& folder);
};

} // namespace Novaro
