#include "app/LocalFilesOnly.h"

#include <osg/Notify>
#include <osgART/InputFiles.h>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>

#include "settings/SceneBoundary.h"

#include <filesystem>

#include <mutex>
#include <set>

namespace fs = std::filesystem;

namespace Novaro
{

bool LocalFilesOnly::isRemoteName(const std::string& name)
{
    return name.find("://") != std::string::npos ||
           osgDB::convertToLowerCase(osgDB::getFileExtension(name)) == "curl";
}

LocalFilesOnly::LocalFilesOnly(const std::vector<std::string>& trustedFolders)
{
    for (const std::string& folder : trustedFolders)
    {
        std::error_code error;
        const fs::path resolved = fs::weakly_canonical(fs::absolute(folder, error), error);
        if (!error)
            _trustedFolders.push_back(resolved.string() + "/");
    }
    // The player's own "data" folder, where exporters start it.
    std::error_code error;
    const fs::path ownData = fs::weakly_canonical(fs::absolute("data", error), error);
    if (!error)
        _trustedFolders.push_back(ownData.string() + "/");
    _trustedFolders.push_back("/usr/");
}

namespace
{

// The extensions the scene-graph library's picture readers take, by which it picks a decoder.
// Movies are read as images too, by other extensions, and checked by their own reader.
bool isPictureName(const std::string& name)
{
    static const std::set<std::string> pictures = {
        "png", "jpg",  "jpeg", "jpe",  "jfif", "bmp", "dib",  "pnm",  "ppm", "pgm", "pbm", "gif",
        "tif", "tiff", "rgb",  "rgba", "sgi",  "bw",  "int",  "inta", "dds", "tga", "hdr", "exr",
        "ktx", "jp2",  "j2k",  "psd",  "pic",  "ico", "webp", "svg",  "pvr", "vtf"};
    return pictures.count(osgDB::getLowerCaseFileExtension(name)) != 0;
}

} // namespace

bool LocalFilesOnly::isTrusted(const std::string& found) const
{
    std::error_code error;
    const std::string resolved = fs::weakly_canonical(fs::absolute(found, error), error).string();
    if (error)
        return false;
    for (const std::string& folder : _trustedFolders)
        if (resolved.compare(0, folder.size(), folder) == 0)
            return true;
    return false;
}

std::string LocalFilesOnly::refusal(const std::string& name, const osgDB::Options* options,
                                    bool picture) const
{
    if (isRemoteName(name))
        return "scenes read files on this computer only, never from the network";
    const std::string found = osgDB::findDataFile(name, options);
    if (found.empty())
        return std::string(); // the reader says it is missing
    if (!SceneBoundary::contains(found) && !isTrusted(found))
        return "it lies outside the scene's folders (" + SceneBoundary::describeFolders() + ")";
    std::string reason;
    if (picture && isPictureName(name) && !osgART::checkImageHeader(found, reason))
        return "a picture is decoded only when its size is known and at most " +
               std::to_string(osgART::kMaximumImageSide) + " pixels on a side, and " + reason;
    return std::string();
}

LocalFilesOnly::ReadResult LocalFilesOnly::refuse(const std::string& name, const std::string& reason)
{
    // Paging asks for the same name again and again: one line each.
    static std::mutex mutex;
    static std::set<std::string> told;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (told.insert(name).second)
            osg::notify(osg::FATAL) << " WARNING: not " << (isRemoteName(name) ? "fetching " : "reading ")
                                    << name << ": " << reason << "." << std::endl;
    }
    return ReadResult("not read: " + name + ": " + reason);
}

LocalFilesOnly::ReadResult LocalFilesOnly::openArchive(const std::string& name,
                                                       osgDB::ReaderWriter::ArchiveStatus status,
                                                       unsigned int blockSizeHint,
                                                       const osgDB::Options* options)
{
    const std::string reason =
        status == osgDB::ReaderWriter::READ ? refusal(name, options, false) : std::string();
    if (!reason.empty())
        return refuse(name, reason);
    return osgDB::ReadFileCallback::openArchive(name, status, blockSizeHint, options);
}

template <class Read>
LocalFilesOnly::ReadResult LocalFilesOnly::screened(const std::string& name, const osgDB::Options* options,
                                                    bool picture, Read read)
{
    const std::string reason = refusal(name, options, picture);
    return reason.empty() ? read() : refuse(name, reason);
}

LocalFilesOnly::ReadResult LocalFilesOnly::readObject(const std::string& name, const osgDB::Options* options)
{
    return screened(name, options, false, [&] { return osgDB::ReadFileCallback::readObject(name, options); });
}

LocalFilesOnly::ReadResult LocalFilesOnly::readImage(const std::string& name, const osgDB::Options* options)
{
    return screened(name, options, true, [&] { return osgDB::ReadFileCallback::readImage(name, options); });
}

LocalFilesOnly::ReadResult LocalFilesOnly::readHeightField(const std::string& name,
                                                           const osgDB::Options* options)
{
    return screened(name, options, true,
                    [&] { return osgDB::ReadFileCallback::readHeightField(name, options); });
}

LocalFilesOnly::ReadResult LocalFilesOnly::readNode(const std::string& name, const osgDB::Options* options)
{
    return screened(name, options, false, [&] { return osgDB::ReadFileCallback::readNode(name, options); });
}

LocalFilesOnly::ReadResult LocalFilesOnly::readShader(const std::string& name, const osgDB::Options* options)
{
    return screened(name, options, false, [&] { return osgDB::ReadFileCallback::readShader(name, options); });
}

LocalFilesOnly::ReadResult LocalFilesOnly::readScript(const std::string& name, const osgDB::Options* options)
{
    return screened(name, options, false, [&] { return osgDB::ReadFileCallback::readScript(name, options); });
}

} // namespace Novaro
