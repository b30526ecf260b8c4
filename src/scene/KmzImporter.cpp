#include "KmzImporter.h"

#include "XMLKmlParserManager.h"

#include <osg/Notify>
#include <osgDB/FileNameUtils>

#include <zip.h>

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

bool extractEntry(zip_t* archive, zip_uint64_t index, const fs::path& target)
{
    std::error_code error;
    fs::create_directories(target.parent_path(), error);
    if (error)
        return false;
    zip_file_t* entry = zip_fopen_index(archive, index, 0);
    if (entry == nullptr)
        return false;
    std::ofstream out(target, std::ios::binary | std::ios::trunc);
    bool ok = static_cast<bool>(out);
    char buffer[65536];
    while (ok)
    {
        const zip_int64_t count = zip_fread(entry, buffer, sizeof(buffer));
        if (count < 0)
            ok = false;
        if (count <= 0)
            break;
        out.write(buffer, count);
        ok = static_cast<bool>(out);
    }
    zip_fclose(entry);
    return ok;
}

bool unpack(const std::string& archivePath, const std::string& folder)
{
    int errorCode = 0;
    zip_t* archive = zip_open(archivePath.c_str(), ZIP_RDONLY, &errorCode);
    if (archive == nullptr)
        return false;

    const fs::path base(folder);
    std::error_code error;
    fs::create_directories(base, error);
    bool ok = !error;
    const zip_int64_t count = ok ? zip_get_num_entries(archive, 0) : 0;
    for (zip_int64_t i = 0; i < count; ++i)
    {
        const char* rawName = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
        const std::string name = rawName != nullptr ? rawName : "";
        const fs::path relative = safeEntryPath(name);
        if (relative.empty() || !staysInside(base, base / relative))
        {
            osg::notify(osg::WARN) << "Refusing archive entry outside the folder: '" << name << "'"
                                   << std::endl;
            ok = false;
            continue;
        }
        const bool isDirectory = name.back() == '/' || name.back() == '\\';
        if (isDirectory)
        {
            fs::create_directories(base / relative, error);
            ok = ok && !error;
            continue;
        }
        if (!extractEntry(archive, static_cast<zip_uint64_t>(i), base / relative))
        {
            osg::notify(osg::WARN) << "Cannot unpack archive entry: '" << name << "'" << std::endl;
            ok = false;
        }
    }
    zip_discard(archive);
    return ok;
}

} // namespace

std::vector<std::string> KmzImporter::importArchive(const std::string& archivePath,
                                                    std::vector<std::string>& temporaryFolders)
{
    osg::notify(osg::NOTICE) << " KMZ: " << archivePath << std::endl;
    const std::string folder = osgDB::getNameLessExtension(archivePath) + "_kmz.tmp";
    osg::notify(osg::NOTICE) << " tmp kmz dir: " << folder << std::endl;
    temporaryFolders.push_back(folder);
    cleanupFolder(folder);
    unzip(archivePath, folder, false);
    return discoverModels(folder);
}

bool KmzImporter::unzip(const std::string& archive, const std::string& folder, bool nested)
{
    const bool unpacked = unpack(archive, folder);
    if (!unpacked)
        osg::notify(osg::NOTICE) << "Unable to unzip file: '" << archive << "'" << std::endl;
    else
        osg::notify(osg::NOTICE) << "File: '" << archive << "' unzipped!" << std::endl;

    if (nested)
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
            unzip(osgDB::concatPaths(folder, name), subfolder, false);
        }
    }
    return unpacked;
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

std::vector<std::string> KmzImporter::discoverModels(const std::string& folder)
{
    std::vector<std::string> models;
    const std::string modelsFolder = osgDB::concatPaths(folder, "models");
    osg::notify(osg::NOTICE) << "...trying Google SketchUp..." << std::endl;

    std::error_code error;
    if (fs::exists(modelsFolder, error))
    {
        for (fs::directory_iterator it(modelsFolder, error), end; !error && it != end; it.increment(error))
        {
            const std::string name = it->path().filename().string();
            if (osgDB::getLowerCaseFileExtension(name) != "dae")
                continue;
            osg::notify(osg::NOTICE) << " File (DAE): " << name << std::endl;
            models.push_back(osgDB::concatPaths(modelsFolder, name));
        }
        osg::notify(osg::NOTICE) << "...trying Google SketchUp...(OK)" << std::endl;
        return models;
    }

    osg::notify(osg::NOTICE) << "...trying Google SketchUp...(missing)" << std::endl;
    osg::notify(osg::NOTICE) << "...trying Google Earth..." << std::endl;
    XMLKmlParserManager reader(osgDB::concatPaths(folder, "doc.kml"));
    if (!reader.loadFile())
    {
        osg::notify(osg::FATAL) << " WARNING: failed to open KML file (file not valid)." << std::endl;
    }
    else if (!reader.parse())
    {
        osg::notify(osg::FATAL) << " WARNING: failed to process KML file (file not valid)." << std::endl;
    }
    else if (!reader.isValid())
    {
        osg::notify(osg::FATAL) << " WARNING: failed to process KML file (data not valid)." << std::endl;
    }
    else
    {
        for (const KmlModel& model : reader.getData().getModels())
        {
            models.push_back(osgDB::concatPaths(folder, model.getHref()));
            const std::string modelFolder = osgDB::getFilePath(model.getHref());
            for (const auto& alias : model.getAliases())
            {
                if (alias.first == alias.second)
                    continue;
                const std::string target =
                    osgDB::concatPaths(folder, osgDB::concatPaths(modelFolder, alias.first));
                const std::string source =
                    osgDB::concatPaths(folder, osgDB::concatPaths(modelFolder, alias.second));
                // The KML comes from the archive too: its aliases may not reach outside the folder.
                if (!staysInside(folder, target) || !staysInside(folder, source))
                {
                    osg::notify(osg::WARN)
                        << "Refusing KML alias outside the folder: '" << alias.second << "'" << std::endl;
                    continue;
                }
                std::error_code copyError;
                fs::create_directories(fs::path(source).parent_path(), copyError);
                fs::copy_file(target, source, fs::copy_options::overwrite_existing, copyError);
            }
        }
        osg::notify(osg::NOTICE) << "...trying Google Earth...(OK)" << std::endl;
    }

    if (models.empty())
        osg::notify(osg::FATAL) << " Could not find temporary objects." << std::endl;
    return models;
}

} // namespace Novaro
