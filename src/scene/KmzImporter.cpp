#include "scene/KmzImporter.h"

#include "settings/XMLKmlParserManager.h"

#include <osg/Notify>
#include <osgDB/FileNameUtils>

#include <zip.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace Novaro
{

namespace fs = std::filesystem;

namespace
{

// True when 'path' (made absolute and normalised) lies inside 'folder'. Both are taken lexically:
// nothing inside a freshly unpacked folder is a link, since unpacking writes plain files only.
bool staysInside(const fs::path& folder, const fs::path& path)
{
    std::error_code error;
    const fs::path base = fs::absolute(folder, error).lexically_normal();
    if (error)
        return false;
    const fs::path candidate = fs::absolute(path, error).lexically_normal();
    if (error)
        return false;
    const fs::path relative = candidate.lexically_relative(base);
    return !relative.empty() && relative != "." && *relative.begin() != "..";
}

// The entry's path below the folder, or empty when the entry is absolute, climbs out with "..",
// or names nothing. Backslashes count as separators: archives made on the authoring platform use
// them.
fs::path safeEntryPath(const std::string& name)
{
    std::string portable = name;
    for (char& c : portable)
        if (c == '\\')
            c = '/';
    if (portable.empty() || portable[0] == '/' || (portable.size() > 1 && portable[1] == ':'))
        return fs::path();
    fs::path result;
    size_t start = 0;
    while (start <= portable.size())
    {
        size_t end = portable.find('/', start);
        if (end == std::string::npos)
            end = portable.size();
        const std::string component = portable.substr(start, end - start);
        if (component == "..")
            return fs::path();
        if (!component.empty() && component != ".")
            result /= component;
        start = end + 1;
    }
    return result;
}

// What unpacking an archive and its nested archives has written so far, so that the limits hold
// for all of them together and a refused archive leaves nothing behind.
class Unpacking
{
public:
    Unpacking(const std::string& archive, const KmzLimits& limits) : _archive(archive), _limits(limits) {}

    // Prints why the archive is refused; the first reason is kept.
    bool refuse(const std::string& reason)
    {
        if (!_refused)
            osg::notify(osg::FATAL) << " WARNING: refusing archive '" << _archive << "': " << reason << "."
                                    << std::endl;
        _refused = true;
        return false;
    }
    bool refused() const { return _refused; }

    // The entry count and the declared sizes of every entry of an archive of 'archiveBytes',
    // before anything of it is written.
    bool checkDeclaredSizes(zip_t* archive, uint64_t archiveBytes);

    bool createFolders(const fs::path& folder);
    bool extractEntry(zip_t* archive, zip_uint64_t index, const std::string& name, const fs::path& target);

    // Removes every file written and every folder created, newest first.
    void removeWritten();

private:
    bool write(std::FILE* out, const char* data, zip_int64_t count, uint64_t& entryBytes, uint64_t declared,
               const std::string& name, const fs::path& target);
    bool refuseWrite(const fs::path& target);

    std::string _archive;
    KmzLimits _limits;
    bool _refused = false;
    uint64_t _entries = 0;
    uint64_t _declaredBytes = 0;
    uint64_t _writtenBytes = 0;
    std::vector<fs::path> _written;
};

// Whole mebibytes as such, other sizes in bytes.
std::string sizeText(uint64_t bytes)
{
    const uint64_t mebibyte = 1024 * 1024;
    if (bytes % mebibyte == 0)
        return std::to_string(bytes / mebibyte) + " MiB";
    return std::to_string(bytes) + " bytes";
}

bool Unpacking::checkDeclaredSizes(zip_t* archive, uint64_t archiveBytes)
{
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count < 0)
        return refuse("no entry count");
    _entries += static_cast<uint64_t>(count);
    if (_entries > _limits.entries)
        return refuse("more than " + std::to_string(_limits.entries) + " entries");
    // Summed per archive as well, for its ratio; sizes are clamped so that the sums cannot wrap.
    uint64_t archiveDeclared = 0;
    for (zip_int64_t i = 0; i < count; ++i)
    {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(archive, static_cast<zip_uint64_t>(i), 0, &stat) != 0 ||
            !(stat.valid & ZIP_STAT_SIZE))
            return refuse("entry " + std::to_string(i) + " has no size");
        const uint64_t size = std::min<uint64_t>(stat.size, _limits.unpackedBytes + 1);
        archiveDeclared += size;
        _declaredBytes += size;
        if (_declaredBytes > _limits.unpackedBytes)
            return refuse("unpacks to more than " + sizeText(_limits.unpackedBytes));
    }
    if (archiveDeclared > _limits.ratioCheckedFromBytes &&
        archiveDeclared / std::max<uint64_t>(archiveBytes, 1) >= _limits.compressionRatio)
        return refuse("expands more than " + std::to_string(_limits.compressionRatio) + " times");
    return true;
}

bool Unpacking::createFolders(const fs::path& folder)
{
    std::vector<fs::path> missing;
    std::error_code error;
    for (fs::path p = folder; !p.empty() && !fs::exists(fs::symlink_status(p, error)); p = p.parent_path())
    {
        missing.push_back(p);
        if (p == p.parent_path())
            break;
    }
    fs::create_directories(folder, error);
    _written.insert(_written.end(), missing.rbegin(), missing.rend());
    if (error)
        return refuse("cannot write into '" + folder.string() + "': " + error.message());
    return true;
}

bool Unpacking::write(std::FILE* out, const char* data, zip_int64_t count, uint64_t& entryBytes,
                      uint64_t declared, const std::string& name, const fs::path& target)
{
    entryBytes += static_cast<uint64_t>(count);
    _writtenBytes += static_cast<uint64_t>(count);
    // The declared sizes were checked; an entry that holds more than it declares lies about them.
    if (entryBytes > declared)
        return refuse("entry '" + name + "' holds more than the " + std::to_string(declared) +
                      " bytes it declares");
    if (_writtenBytes > _limits.unpackedBytes)
        return refuse("unpacks to more than " + sizeText(_limits.unpackedBytes));
    // A short write (a full disk) must not leave a truncated model to be parsed.
    if (std::fwrite(data, 1, static_cast<size_t>(count), out) != static_cast<size_t>(count))
        return refuseWrite(target);
    return true;
}

bool Unpacking::refuseWrite(const fs::path& target)
{
    return refuse("cannot write '" + target.string() + "': " + std::strerror(errno));
}

bool Unpacking::extractEntry(zip_t* archive, zip_uint64_t index, const std::string& name,
                             const fs::path& target)
{
    zip_stat_t stat;
    zip_stat_init(&stat);
    if (zip_stat_index(archive, index, 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE))
        return false;
    if (!createFolders(target.parent_path()))
        return false;
    zip_file_t* entry = zip_fopen_index(archive, index, 0);
    if (entry == nullptr)
        return false;
    _written.push_back(target);
    std::FILE* out = std::fopen(target.c_str(), "wb");
    if (out == nullptr)
    {
        zip_fclose(entry);
        return refuseWrite(target);
    }
    bool ok = true;
    uint64_t entryBytes = 0;
    char buffer[65536];
    while (ok)
    {
        const zip_int64_t count = zip_fread(entry, buffer, sizeof(buffer));
        if (count < 0)
            ok = false;
        if (count <= 0)
            break;
        ok = write(out, buffer, count, entryBytes, stat.size, name, target);
    }
    zip_fclose(entry);
    // What the buffer still holds is written on closing, where a full disk shows last.
    const bool flushed = std::fflush(out) == 0;
    if (!flushed && ok)
        ok = refuseWrite(target);
    if (std::fclose(out) != 0 && ok)
        ok = refuseWrite(target);
    return ok;
}

void Unpacking::removeWritten()
{
    for (auto it = _written.rbegin(); it != _written.rend(); ++it)
    {
        std::error_code error;
        fs::remove(*it, error);
    }
    _written.clear();
}

bool unpack(const std::string& archivePath, const std::string& folder, Unpacking& unpacking)
{
    int errorCode = 0;
    zip_t* archive = zip_open(archivePath.c_str(), ZIP_RDONLY, &errorCode);
    if (archive == nullptr)
        return false;
    std::error_code error;
    const uintmax_t archiveBytes = fs::file_size(archivePath, error);
    if (error || !unpacking.checkDeclaredSizes(archive, archiveBytes))
    {
        zip_discard(archive);
        return false;
    }

    const fs::path base(folder);
    bool ok = unpacking.createFolders(base);
    const zip_int64_t count = ok ? zip_get_num_entries(archive, 0) : 0;
    for (zip_int64_t i = 0; i < count && !unpacking.refused(); ++i)
    {
        const char* rawName = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
        const std::string name = rawName != nullptr ? rawName : "";
        const fs::path relative = safeEntryPath(name);
        if (relative.empty() || !staysInside(base, base / relative))
        {
            osg::notify(osg::FATAL) << " WARNING: refusing entry '" << name << "' of archive '" << archivePath
                                    << "': it would land outside the folder." << std::endl;
            ok = false;
            continue;
        }
        const bool isDirectory = name.back() == '/' || name.back() == '\\';
        if (isDirectory)
        {
            ok = unpacking.createFolders(base / relative) && ok;
            continue;
        }
        if (!unpacking.extractEntry(archive, static_cast<zip_uint64_t>(i), name, base / relative))
        {
            osg::notify(osg::FATAL) << " WARNING: cannot unpack entry '" << name << "' of archive '"
                                    << archivePath << "'." << std::endl;
            ok = false;
        }
    }
    zip_discard(archive);
    return ok && !unpacking.refused();
}

bool unzipInto(const std::string& archive, const std::string& folder, bool nested, Unpacking& unpacking)
{
    const bool unpacked = unpack(archive, folder, unpacking);
    if (!unpacked)
        osg::notify(osg::NOTICE) << "Unable to unzip file: '" << archive << "'" << std::endl;
    else
        osg::notify(osg::NOTICE) << "File: '" << archive << "' unzipped!" << std::endl;

    if (nested && !unpacking.refused())
    {
        std::error_code error;
        std::vector<std::string> inner;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        {
            const std::string name = it->path().filename().string();
            const std::string extension = osgDB::getFileExtension(name);
            if (extension == "zip" || extension == "ZIP")
                inner.push_back(name);
        }
        for (const std::string& name : inner)
        {
            const std::string subfolder = osgDB::concatPaths(folder, osgDB::getNameLessExtension(name));
            osg::notify(osg::NOTICE) << "subfolder name: " << subfolder << std::endl;
            unzipInto(osgDB::concatPaths(folder, name), subfolder, false, unpacking);
        }
    }
    return unpacked;
}

// Alias copies are bounded like unpacking: a few aliases of one large texture would otherwise
// multiply it on disk.
struct AliasCopies
{
    uint64_t count = 0;
    uint64_t bytes = 0;
};

void copyAliases(const std::string& folder, const KmlModel& model, const KmzLimits& limits,
                 AliasCopies& copies)
{
    const std::string modelFolder = osgDB::getFilePath(model.getHref());
    for (const auto& alias : model.getAliases())
    {
        if (alias.first == alias.second)
            continue;
        const std::string target = osgDB::concatPaths(folder, osgDB::concatPaths(modelFolder, alias.first));
        const std::string source = osgDB::concatPaths(folder, osgDB::concatPaths(modelFolder, alias.second));
        // The KML comes from the archive too: its aliases may not reach outside the folder.
        if (!staysInside(folder, target) || !staysInside(folder, source))
        {
            osg::notify(osg::FATAL) << " WARNING: refusing KML alias outside the archive: '" << alias.first
                                    << "' -> '" << alias.second << "'" << std::endl;
            continue;
        }
        std::error_code error;
        if (!fs::is_regular_file(fs::symlink_status(target, error)))
            continue;
        const uintmax_t size = fs::file_size(target, error);
        if (error || ++copies.count > limits.entries || (copies.bytes += size) > limits.unpackedBytes)
        {
            osg::notify(osg::FATAL) << " WARNING: refusing KML alias copies beyond " << limits.entries
                                    << " files or " << sizeText(limits.unpackedBytes) << ": '" << alias.second
                                    << "'" << std::endl;
            return;
        }
        fs::create_directories(fs::path(source).parent_path(), error);
        if (!error)
            fs::copy_file(target, source, fs::copy_options::overwrite_existing, error);
        if (error)
            osg::notify(osg::FATAL) << " WARNING: cannot copy KML alias '" << alias.first << "' to '"
                                    << source << "': " << error.message() << std::endl;
    }
}

// A SketchUp archive: the DAE files of its models folder.
std::vector<std::string> sketchUpModels(const std::string& modelsFolder)
{
    std::vector<std::string> models;
    std::error_code error;
    for (fs::directory_iterator it(modelsFolder, error), end; !error && it != end; it.increment(error))
    {
        const std::string name = it->path().filename().string();
        // A folder named like a model is no model.
        std::error_code typeError;
        if (osgDB::getLowerCaseFileExtension(name) != "dae" || !it->is_regular_file(typeError))
            continue;
        osg::notify(osg::NOTICE) << " File (DAE): " << name << std::endl;
        models.push_back(osgDB::concatPaths(modelsFolder, name));
    }
    return models;
}

// A Google Earth archive: the models its doc.kml names, with their texture aliases copied.
std::vector<std::string> earthModels(const std::string& folder, const KmzLimits& limits)
{
    std::vector<std::string> models;
    XMLKmlParserManager reader(osgDB::concatPaths(folder, "doc.kml"));
    if (!reader.loadFile())
    {
        osg::notify(osg::FATAL) << " WARNING: failed to open KML file (file not valid)." << std::endl;
        return models;
    }
    if (!reader.parse())
    {
        osg::notify(osg::FATAL) << " WARNING: failed to process KML file (file not valid)." << std::endl;
        return models;
    }
    if (!reader.isValid())
    {
        osg::notify(osg::FATAL) << " WARNING: failed to process KML file (data not valid)." << std::endl;
        return models;
    }
    AliasCopies copies;
    for (const KmlModel& model : reader.getData().getModels())
    {
        // The KML comes from the archive too: it names files inside the folder only, by the rule
        // that the archive's entries follow.
        const fs::path relative = safeEntryPath(model.getHref());
        if (relative.empty() || !staysInside(folder, fs::path(folder) / relative))
        {
            osg::notify(osg::FATAL) << " WARNING: refusing KML model outside the archive: '"
                                    << model.getHref() << "'" << std::endl;
            continue;
        }
        models.push_back(osgDB::concatPaths(folder, model.getHref()));
        copyAliases(folder, model, limits, copies);
    }
    osg::notify(osg::NOTICE) << "...trying Google Earth...(OK)" << std::endl;
    return models;
}

} // namespace

std::string KmzImporter::folderName(const std::string& archivePath)
{
    return osgDB::getSimpleFileName(osgDB::getNameLessExtension(archivePath)) + "_kmz.tmp";
}

std::vector<std::string> KmzImporter::importArchive(const std::string& archivePath, const std::string& folder,
                                                    std::vector<std::string>& temporaryFolders,
                                                    const Limits& limits)
{
    osg::notify(osg::NOTICE) << " KMZ: " << archivePath << std::endl;
    if (folder.empty())
    {
        osg::notify(osg::FATAL) << " WARNING: cannot unpack '" << archivePath
                                << "': there is no private temporary folder to unpack it into." << std::endl;
        return std::vector<std::string>();
    }
    osg::notify(osg::NOTICE) << " tmp kmz dir: " << folder << std::endl;
    // Only a fresh folder is unpacked into: an existing entry of that name, be it a folder a
    // scene ships or a link it plants, is never emptied or written through.
    std::error_code error;
    if (fs::exists(fs::symlink_status(folder, error)) || !fs::create_directory(folder, error) || error)
    {
        osg::notify(osg::FATAL) << " WARNING: cannot unpack '" << archivePath << "' into '" << folder
                                << "': " << (error ? error.message() : std::string("it exists already"))
                                << std::endl;
        return std::vector<std::string>();
    }
    temporaryFolders.push_back(folder);
    // An archive refused whole leaves nothing behind, not even its folder.
    if (!unzip(archivePath, folder, false, limits) && fs::is_empty(folder, error))
        fs::remove(folder, error);
    return discoverModels(folder, limits);
}

bool KmzImporter::unzip(const std::string& archive, const std::string& folder, bool nested,
                        const Limits& limits)
{
    Unpacking unpacking(archive, limits);
    const bool unpacked = unzipInto(archive, folder, nested, unpacking);
    if (!unpacking.refused())
        return unpacked;
    unpacking.removeWritten();
    return false;
}

void KmzImporter::cleanupFolder(const std::string& folder)
{
    std::error_code error;
    if (!fs::exists(fs::symlink_status(folder, error)))
    {
        osg::notify(osg::NOTICE) << " Nothing to cleanup..." << std::endl;
        return;
    }

    // First every file of the tree (links are removed, never followed), then the folders.
    bool filesRemoved = true;
    std::vector<fs::path> files;
    if (fs::is_directory(fs::symlink_status(folder, error)))
    {
        for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error))
            if (!it->is_directory(error) || it->is_symlink(error))
                files.push_back(it->path());
        filesRemoved = !error;
    }
    else
    {
        files.push_back(folder);
    }
    for (const fs::path& file : files)
    {
        std::error_code removeError;
        fs::remove(file, removeError);
        filesRemoved = filesRemoved && !removeError;
    }
    osg::notify(osg::NOTICE) << (filesRemoved ? "Temporary data removed (files)."
                                              : "Unable to remove temporary data.")
                             << std::endl;

    std::error_code removeError;
    fs::remove_all(folder, removeError);
    const bool foldersRemoved = !removeError && !fs::exists(fs::symlink_status(folder, error));
    osg::notify(osg::NOTICE) << (foldersRemoved ? "Temporary data removed (dirs)."
                                                : "Unable to remove temporary data.")
                             << std::endl;
}

std::vector<std::string> KmzImporter::discoverModels(const std::string& folder, const Limits& limits)
{
    std::vector<std::string> models;
    const std::string modelsFolder = osgDB::concatPaths(folder, "models");
    osg::notify(osg::NOTICE) << "...trying Google SketchUp..." << std::endl;
    std::error_code error;
    if (fs::is_directory(modelsFolder, error))
    {
        models = sketchUpModels(modelsFolder);
        osg::notify(osg::NOTICE) << "...trying Google SketchUp...(OK)" << std::endl;
        return models;
    }
    osg::notify(osg::NOTICE) << "...trying Google SketchUp...(missing)" << std::endl;
    osg::notify(osg::NOTICE) << "...trying Google Earth..." << std::endl;
    models = earthModels(folder, limits);
    if (models.empty())
        osg::notify(osg::FATAL) << " Could not find temporary objects." << std::endl;
    return models;
}

} // namespace Novaro
