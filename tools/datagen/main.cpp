// novaro-datagen: writes the player's run-time data and, on request, the sample scene's models.
//
//   novaro-datagen --data <folder>      data/novaro.ive, data/dummies.ive, data/axes.ive
//   novaro-datagen --samples <folder>   the models of samples/models (kept in the repository)
//   novaro-datagen --sound <file.ogg>   the sample scene's soundtrack (kept in the repository)
//   novaro-datagen --media <folder>     the sample scene's movies, sounds and screen models (the
//                                       samples folder; kept in the repository)

#include "RuntimeModels.h"
#include "SampleMedia.h"
#include "SampleModels.h"
#include "SampleSound.h"

#include <osg/Notify>
#include <osgDB/FileNameUtils>
#include <osgDB/FileUtils>
#include <osgDB/WriteFile>

#include <string>

namespace
{

bool writeModel(const osg::Node& node, const std::string& folder, const std::string& name)
{
    const std::string path = osgDB::concatPaths(folder, name);
    if (!osgDB::writeNodeFile(node, path))
    {
        osg::notify(osg::FATAL) << "Cannot write " << path << std::endl;
        return false;
    }
    osg::notify(osg::NOTICE) << "Written " << path << std::endl;
    return true;
}

bool writeRuntimeData(const std::string& folder)
{
    if (!osgDB::makeDirectory(folder))
    {
        osg::notify(osg::FATAL) << "Cannot create " << folder << std::endl;
        return false;
    }
    bool ok = writeModel(*Novaro::DataGen::makeDefaultModel(), folder, "novaro.ive");
    ok = writeModel(*Novaro::DataGen::makeLightDummies(), folder, "dummies.ive") && ok;
    ok = writeModel(*Novaro::DataGen::makeAxes(), folder, "axes.ive") && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    std::string dataFolder;
    std::string samplesFolder;
    std::string soundFile;
    std::string mediaFolder;
    const char* usage = "usage: novaro-datagen [--data <folder>] [--samples <folder>] [--sound <file.ogg>] "
                        "[--media <folder>]";
    for (int i = 1; i < argc; ++i)
    {
        const std::string option = argv[i];
        if (option == "--data" && i + 1 < argc)
            dataFolder = argv[++i];
        else if (option == "--samples" && i + 1 < argc)
            samplesFolder = argv[++i];
        else if (option == "--sound" && i + 1 < argc)
            soundFile = argv[++i];
        else if (option == "--media" && i + 1 < argc)
            mediaFolder = argv[++i];
        else
        {
            osg::notify(osg::FATAL) << usage << std::endl;
            return 2;
        }
    }
    if (dataFolder.empty() && samplesFolder.empty() && soundFile.empty() && mediaFolder.empty())
    {
        osg::notify(osg::FATAL) << usage << std::endl;
        return 2;
    }
    bool ok = true;
    if (!dataFolder.empty())
        ok = writeRuntimeData(dataFolder) && ok;
    if (!samplesFolder.empty())
        ok = Novaro::DataGen::writeSampleModels(samplesFolder) && ok;
    if (!soundFile.empty())
        ok = Novaro::DataGen::writeAmbientSoundtrack(soundFile) && ok;
    if (!mediaFolder.empty())
        ok = Novaro::DataGen::writeSampleMedia(mediaFolder) && ok;
    return ok ? 0 : 1;
}
