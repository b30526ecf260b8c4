#include "app/LocalFilesOnly.h"

#include <osg/Notify>
#include <osgART/InputFiles.h>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>

#include "settings/ModelFileCheck.h"
#include "settings/SceneBoundary.h"

#include <algorithm>
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

std::string LocalFilesOnly::refusal(const std::string& name, const osgDB::Options* options, Kind kind) const
{
    if (isRemoteName(name))
        return "scenes read files on this computer only, never from the network";
    const std::string found = osgDB::findDataFile(name, options);
    if (found.empty())
        return std::string(); // the reader says it is missing
    if (!SceneBoundary::contains(found) && !isTrusted(found))
        return "it lies outside the scene's folders (" + SceneBoundary::describeFolders() + ")";
    std::string reason;
    if (kind == Kind::PICTURE && isPictureName(name) && !osgART::checkImageHeader(found, reason))
        return "a picture is decoded only when its size is known and at most " +
               std::to_string(osgART::kMaximumImageSide) + " pixels on a side, and " + reason;
    // A model a model names (a proxy's file, a level of detail's) is checked as the scene's own
    // models are; the one readModelFile reads after its check is not checked again, and one read
    // on trial is checked by that read (readNode).
    if (kind == Kind::MODEL && !isTrusted(found) && !isReadAfterItsCheck(name) && !readsOnTrial(found))
        return checkModelFile(found);
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
        status == osgDB::ReaderWriter::READ ? refusal(name, options, Kind::OTHER) : std::string();
    if (!reason.empty())
        return refuse(name, reason);
    return osgDB::ReadFileCallback::openArchive(name, status, blockSizeHint, options);
}

template <class Read>
LocalFilesOnly::ReadResult LocalFilesOnly::screened(const std::string& name, const osgDB::Options* options,
                                                    Kind kind, Read read)
{
    const std::string reason = refusal(name, options, kind);
    return reason.empty() ? read() : refuse(name, reason);
}

LocalFilesOnly::ReadResult LocalFilesOnly::readObject(const std::string& name, const osgDB::Options* options)
{
    return screened(name, options, Kind::OTHER,
                    [&] { return osgDB::ReadFileCallback::readObject(name, options); });
}

LocalFilesOnly::ReadResult LocalFilesOnly::readImage(const std::string& name, const osgDB::Options* options)
{
    return screened(name, options, Kind::PICTURE,
                    [&] { return osgDB::ReadFileCallback::readImage(name, options); });
}

LocalFilesOnly::ReadResult LocalFilesOnly::readHeightField(const std::string& name,
                                                           const osgDB::Options* options)
{
    return screened(name, options, Kind::PICTURE,
                    [&] { return osgDB::ReadFileCallback::readHeightField(name, options); });
}

namespace
{

// Deepest chain of models naming models (a proxy in a proxy ...) read at once: real scenes nest a
// few levels.
const size_t kDeepestModelNesting = 16;

// The models being read on this thread, outermost first: a model read while it is being read
// names itself, directly or through others, and its reader would recurse until the stack ends.
thread_local std::vector<std::string> modelsBeingRead;

std::string resolvedPath(const std::string& found)
{
    std::error_code error;
    const fs::path resolved = fs::weakly_canonical(fs::absolute(found, error), error);
    return error ? found : resolved.string();
}

// Why this model cannot be read inside the ones being read; empty when it can.
std::string nestingProblem(const std::string& resolved)
{
    if (std::find(modelsBeingRead.begin(), modelsBeingRead.end(), resolved) != modelsBeingRead.end())
        return "it names itself, directly or through the models it names";
    if (modelsBeingRead.size() >= kDeepestModelNesting)
        return "it lies " + std::to_string(kDeepestModelNesting) + " models deep, models naming models";
    return std::string();
}

} // namespace

LocalFilesOnly::ReadResult LocalFilesOnly::readNode(const std::string& name, const osgDB::Options* options)
{
    const std::string found = osgDB::findDataFile(name, options);
    const std::string resolved = found.empty() ? name : resolvedPath(found);
    const std::string problem = nestingProblem(resolved);
    if (!problem.empty())
        return refuse(name, problem);
    const std::string reason = refusal(name, options, Kind::MODEL);
    if (!reason.empty())
        return refuse(name, reason);
    // On the chain while it is read, however the read ends; one read on trial too, while the graph
    // handed back loads the models it names.
    struct BeingRead
    {
        explicit BeingRead(const std::string& path) { modelsBeingRead.push_back(path); }
        ~BeingRead() { modelsBeingRead.pop_back(); }
    } beingRead(resolved);
    if (!found.empty() && !isTrusted(found) && !isReadAfterItsCheck(name) && readsOnTrial(found))
        return readOnTrial(name, found);
    return osgDB::ReadFileCallback::readNode(name, options);
}

LocalFilesOnly::ReadResult LocalFilesOnly::readOnTrial(const std::string& name, const std::string& found)
{
    osg::ref_ptr<osg::Node> model;
    std::string failure;
    const std::string reason = readModelOnTrial(found, model, failure);
    if (!reason.empty())
        return refuse(name, reason);
    return model.valid() ? ReadResult(model.get()) : ReadResult(failure);
}

LocalFilesOnly::ReadResult LocalFilesOnly::readShader(const std::string& name, const osgDB::Options* options)
{
    return screened(name, options, Kind::OTHER,
                    [&] { return osgDB::ReadFileCallback::readShader(name, options); });
}

LocalFilesOnly::ReadResult LocalFilesOnly::readScript(const std::string& name, const osgDB::Options* options)
{
    return screened(name, options, Kind::OTHER,
                    [&] { return osgDB::ReadFileCallback::readScript(name, options); });
}

} // namespace Novaro
