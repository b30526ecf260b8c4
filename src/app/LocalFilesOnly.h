#pragma once

#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <string>

namespace Novaro
{

// Every read of the scene-graph library goes through this callback, which refuses names that
// reach out of the machine: "scheme://..." (http, https, ftp, and file:// too, whose paths escape
// the scene's folder rules) and the ".curl" pseudo-extension. A scene is untrusted input: a model
// naming a texture by URL (an OBJ's map_Kd, an .osgt image's FileName) or a ProxyNode pointing at a
// server would otherwise make OpenSceneGraph's curl plugin fetch it, unseen, and again on every
// paging request. Each refusal is said once per name, at the warning level.
class LocalFilesOnly : public osgDB::ReadFileCallback
{
public:
    using ReadResult = osgDB::ReaderWriter::ReadResult;

    // Whether the name is one this callback refuses.
    static bool isRemoteName(const std::string& name);

    ReadResult openArchive(const std::string& name, osgDB::ReaderWriter::ArchiveStatus status,
                           unsigned int blockSizeHint, const osgDB::Options* options) override;
    ReadResult readObject(const std::string& name, const osgDB::Options* options) override;
    ReadResult readImage(const std::string& name, const osgDB::Options* options) override;
    ReadResult readHeightField(const std::string& name, const osgDB::Options* options) override;
    ReadResult readNode(const std::string& name, const osgDB::Options* options) override;
    ReadResult readShader(const std::string& name, const osgDB::Options* options) override;
    ReadResult readScript(const std::string& name, const osgDB::Options* options) override;

private:
    ReadResult refuse(const std::string& name);
};

} // namespace Novaro
