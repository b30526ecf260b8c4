// Scene authoring on the command line. "check" reads a whole scene as the player would, without a
// camera or a window, and prints each problem as file:line:column: message.
#include "InstallLayout.h"
#include "SceneCheck.h"
#include "Startup.h"

#include <osg/Notify>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

namespace
{

// Exit statuses: 0 a sound scene, 1 a scene with problems, 2 a command line that is not understood.
const int usageError = 2;

void printUsage(std::FILE* out)
{
    std::fprintf(out,
                 "Usage: novaro-scene check DIR|METADATA_FILE [-verbose]\n"
                 "\n"
                 "  check   read the scene in DIR (or the one METADATA_FILE names) as the player would,\n"
                 "          without camera or window: every settings file, every file they name (models,\n"
                 "          movies, sounds, events, patterns, camera files). Prints each problem as\n"
                 "          file:line:column: message, nothing for a sound scene.\n"
                 "  -verbose  also show the readers' own progress lines\n"
                 "\n"
                 "Exit status: 0 no problem, 1 problems found, 2 wrong command line.\n");
}

// The scene's folders as the player takes them from a plain argument.
bool locateScene(const std::string& argument, Novaro::SceneCheck::Location& location)
{
    std::error_code error;
    const std::filesystem::path scene = argument;
    if (std::filesystem::is_directory(scene, error))
    {
        location.workingDirectory = location.temporaryDirectory = scene.string();
        return true;
    }
    if (!std::filesystem::is_regular_file(scene, error))
        return false;
    location.workingDirectory = location.temporaryDirectory =
        scene.parent_path().empty() ? "." : scene.parent_path().string();
    location.metadata = scene.filename().string();
    return true;
}

int check(int argc, char** argv)
{
    bool verbose = false;
    std::string scene;
    for (int index = 2; index < argc; ++index)
    {
        if (std::strcmp(argv[index], "-verbose") == 0)
            verbose = true;
        else if (scene.empty() && argv[index][0] != '-')
            scene = argv[index];
        else
        {
            printUsage(stderr);
            return usageError;
        }
    }
    Novaro::SceneCheck::Location location;
    if (scene.empty() || !locateScene(scene, location))
    {
        std::fprintf(stderr, "novaro-scene: %s: no such scene folder or metadata file\n",
                     scene.empty() ? "(none)" : scene.c_str());
        return usageError;
    }
    Novaro::prepareSceneGraphLibrary(Novaro::InstallLayout::ofThisProcess());
    osg::setNotifyLevel(verbose ? osg::NOTICE : osg::ALWAYS);
    return Novaro::printSceneProblems(Novaro::SceneCheck(location).run(), std::cout);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "check")
        return check(argc, argv);
    if (command == "--help" || command == "-h")
    {
        printUsage(stdout);
        return 0;
    }
    printUsage(stderr);
    return usageError;
}
