#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Novaro
{

// Bounds on what one archive, with its nested archives, may unpack to. Archives written by
// SketchUp or Google Earth stay far below each; a crafted archive of a few kilobytes would
// otherwise fill the disk. The sizes the archive declares are checked before anything is
// written, and the bytes actually written are checked while unpacking.
struct KmzLimits
{
    // Bytes unpacked in all. Default 512 MiB; the temporary folder costs that much disk.
    uint64_t unpackedBytes = 512ull * 1024 * 1024;
    // Entries (files and folders) in all. Default 10000; each costs a file on disk.
    uint64_t entries = 10000;
    // Declared unpacked bytes per byte of archive, once the unpacked total passes
    // 'ratioCheckedFromBytes' (default 16 MiB). Default 100: real archives expand some ten times
    // (COLLADA text); a bomb expands a thousand times and more, or declares overlapping entries
    // whose packed sizes add up to more than the archive.
    uint64_t compressionRatio = 100;
    uint64_t ratioCheckedFromBytes = 16ull * 1024 * 1024;
};

// Unpacks KMZ archives (as written by Google SketchUp and Google Earth) into a temporary folder
// and finds the COLLADA models in them. Unpacking goes through libzip and
// deleting through std::filesystem: no command line is ever built from a file name, and archive
// entries that would land outside the folder are refused.
class KmzImporter
{
public:
    using Limits = KmzLimits;

    // The folder an archive is unpacked into, in whatever parent folder the caller chooses:
    // "<archive's name without extension>_kmz.tmp".
    static std::string folderName(const std::string& archivePath);

    // Prints " KMZ: " and the archive, and " tmp kmz dir: " and 'folder', which must not exist
    // yet: it is made here, inside the caller's private temporary folder, never beside the
    // archive (the scene's folder may be read-only, and is never written). Appends the folder to
    // 'temporaryFolders' (cleaned at shutdown), unpacks the archive into it and returns the
    // models found there. An empty or existing 'folder' is refused with a message. The caller
    // reports which model it uses (" Using model: ") or that there is none (" No valid KMZ
    // models in archive.").
    static std::vector<std::string> importArchive(const std::string& archivePath, const std::string& folder,
                                                  std::vector<std::string>& temporaryFolders,
                                                  const Limits& limits = Limits());

    // Unpacks 'archive' into 'folder', overwriting existing files. With 'nested', every archive of
    // the folder's top level whose extension is "zip" or "ZIP" is then unpacked into a sub-folder
    // named after it (one level only). Entries that are absolute or would leave the folder are
    // refused; the others are still unpacked, but the archive then counts as not unpacked. An
    // archive beyond the limits is refused whole, with a message naming it and the limit: what it
    // and its nested archives wrote is removed again.
    static bool unzip(const std::string& archive, const std::string& folder, bool nested,
                      const Limits& limits = Limits());

    // Deletes the folder's files, then the folder tree.
    static void cleanupFolder(const std::string& folder);

    // The models of an unpacked archive: the "dae" files of its "models" folder (SketchUp), or
    // else the models that its "doc.kml" names (Google Earth), whose resource aliases are then
    // copied to where the models look for them. Model files and aliases that would leave the
    // folder are refused, and alias copies are bounded like unpacking.
    static std::vector<std::string> discoverModels(const std::string& folder,
                                                   const Limits& limits = Limits());
};

} // namespace Novaro
