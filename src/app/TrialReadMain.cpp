// novaro-trial-read: reads one model file under the player's reader rules and exits. The player
// starts it before it reads a model in a format whose reader trusts what the file declares
// (settings/ModelTrialRead.h): a crash, a hang or exhausted memory here is the file's, and costs
// the player nothing. It hands back what the reader made (a native binary graph), or the reader's
// reason for making nothing, on the descriptor the player opened for it; its other output goes
// nowhere.
#include "app/LocalFilesOnly.h"
#include "settings/ModelTrialRead.h"
#include "settings/SceneBoundary.h"

#include <osgDB/Registry>

int main(int argc, char** argv)
{
    Novaro::TrialReadRequest request;
    if (!request.parse(argc, argv))
        return 2;
    osgDB::Registry& registry = *osgDB::Registry::instance();
    registry.setLibraryFilePathList(
        osgDB::FilePathList(request.libraryFolders.begin(), request.libraryFolders.end()));
    registry.setDataFilePathList(osgDB::FilePathList(request.dataFolders.begin(), request.dataFolders.end()));
    Novaro::SceneBoundary::setFolders(request.sceneFolders);
    registry.setReadFileCallback(new Novaro::LocalFilesOnly(request.trustedFolders));
    Novaro::becomeTrialReader(request);
    return Novaro::handBackRead(registry.readNode(request.model, registry.getOptions()));
}
