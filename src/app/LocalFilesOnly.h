#pragma once

#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <string>
#include <vector>

namespace Novaro
{

// Every read of the scene-graph library goes through this callback, which refuses names that
// reach out of the machine: "scheme://..." (http, https, ftp, and file:// too, whose paths escape
// the scene's folder rules) and the ".curl" pseudo-extension. A scene is untrusted input: a model
// naming a texture by URL (an OBJ's map_Kd, an .osgt image's FileName) or a ProxyNode pointing at a
// server would otherwise make OpenSceneGraph's curl plugin fetch it, unseen, and again on every
// paging request.
//
// Local reads are held to the scene's folders too (see SceneBoundary) once those are set: a model
// naming a texture by an absolute path or through "../" is refused, except for the player's own
// files ('trustedFolders') and the system's shared files under /usr (fonts). And a picture is
// decoded only after its header was read and its size found showable: decoders allocate whatever
// size a header claims. A model read through it (a proxy's file, which OpenSceneGraph loads while
// it reads the model naming it) is checked or read on trial as the scene's own models are, and a
// model is not read inside itself or more than 16 models deep: its reader would recurse until the
// stack ends. Each refusal is said once per name, at the warning level.
class LocalFilesOnly : public osgDB::ReadFileCallback
{
public:
    using ReadResult = osgDB::ReaderWriter::ReadResult;

    explicit LocalFilesOnly(const std::vector<std::string>& trustedFolders = std::vector<std::string>());

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
    // Why the read is refused, or empty text.
    // What a read is of: each kind has checks of its own.
    enum class Kind
    {
        PICTURE,
        MODEL,
        OTHER
    };
    std::string refusal(const std::string& name, const osgDB::Options* options, Kind kind) const;
    bool isTrusted(const std::string& found) const;
    ReadResult refuse(const std::string& name, const std::string& reason);
    // A model whose format's reader trusts the file, read by the trial reader (readModelOnTrial).
    ReadResult readOnTrial(const std::string& name, const std::string& found);
    // The read, unless refusal() gives a reason.
    template <class Read>
    ReadResult screened(const std::string& name, const osgDB::Options* options, Kind kind, Read read);

    std::vector<std::string> _trustedFolders;
};

} // namespace Novaro
