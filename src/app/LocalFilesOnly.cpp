#include "app/LocalFilesOnly.h"

#include <osg/Notify>
#include <osgDB/FileNameUtils>

#include <mutex>
#include <set>

namespace Novaro
{

bool LocalFilesOnly::isRemoteName(const std::string& name)
{
    return name.find("://") != std::string::npos ||
           osgDB::convertToLowerCase(osgDB::getFileExtension(name)) == "curl";
}

LocalFilesOnly::ReadResult LocalFilesOnly::refuse(const std::string& name)
{
    // Paging asks for the same name again and again: one line each.
    static std::mutex mutex;
    static std::set<std::string> told;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (told.insert(name).second)
            osg::notify(osg::FATAL) << " WARNING: not fetching " << name
                                    << ": scenes read files on this computer only, never from the network."
                                    << std::endl;
    }
    return ReadResult("not fetched from the network: " + name);
}

LocalFilesOnly::ReadResult LocalFilesOnly::openArchive(const std::string& name,
                                                       osgDB::ReaderWriter::ArchiveStatus status,
                                                       unsigned int blockSizeHint,
                                                       const osgDB::Options* options)
{
    return isRemoteName(name) ? refuse(name)
                              : osgDB::ReadFileCallback::openArchive(name, status, blockSizeHint, options);
}

LocalFilesOnly::ReadResult LocalFilesOnly::readObject(const std::string& name, const osgDB::Options* options)
{
    return isRemoteName(name) ? refuse(name) : osgDB::ReadFileCallback::readObject(name, options);
}

LocalFilesOnly::ReadResult LocalFilesOnly::readImage(const std::string& name, const osgDB::Options* options)
{
    return isRemoteName(name) ? refuse(name) : osgDB::ReadFileCallback::readImage(name, options);
}

LocalFilesOnly::ReadResult LocalFilesOnly::readHeightField(const std::string& name,
                                                           const osgDB::Options* options)
{
    return isRemoteName(name) ? refuse(name) : osgDB::ReadFileCallback::readHeightField(name, options);
}

LocalFilesOnly::ReadResult LocalFilesOnly::readNode(const std::string& name, const osgDB::Options* options)
{
    return isRemoteName(name) ? refuse(name) : osgDB::ReadFileCallback::readNode(name, options);
}

LocalFilesOnly::ReadResult LocalFilesOnly::readShader(const std::string& name, const osgDB::Options* options)
{
    return isRemoteName(name) ? refuse(name) : osgDB::ReadFileCallback::readShader(name, options);
}

LocalFilesOnly::ReadResult LocalFilesOnly::readScript(const std::string& name, const osgDB::Options* options)
{
    return isRemoteName(name) ? refuse(name) : osgDB::ReadFileCallback::readScript(name, options);
}

} // namespace Novaro
