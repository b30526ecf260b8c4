// novaro-scene: making and checking scenes on the command line.
//   new DIR --model FILE [--model FILE ...] [--marker IMAGE ... | --generated] [--size MM]
//       [--camera FILE] [--fit | --real-size | --scale F] [--up y|z ...]: a scene that plays, with
//       its printable marker sheet, each model fitted to its marker unless told otherwise;
//   check DIR|METADATA_FILE [-verbose]: the whole scene read as the player would, without camera or
//       window, each problem printed as file:line:column: message;
//   finish DIR: the patterns, camera and marker sheet of a scene an exporter wrote;
//   blender-addon: where the Blender exporter add-on is installed.
#include "SceneFinish.h"
#include "SceneNew.h"
#include "ToolSupport.h"
#include "app/InstallLayout.h"
#include "app/SceneCheck.h"
#include "app/Startup.h"
#include "settings/ModelTrialRead.h"

#include <osg/Notify>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>

using namespace Novaro;

namespace
{

// Exit statuses: 0 done (a sound scene), 1 refused or problems found, 2 a command line that is not
// understood.
const int usageError = 2;

void printUsage(std::FILE* out)
{
    std::fprintf(
        out, "Usage:\n"
             "  novaro-scene new DIR --model FILE [--model FILE ...] [--marker IMAGE ... | --generated]\n"
             "                   [--size MM] [--camera FILE] [--fit | --real-size | --scale F]\n"
             "                   [--up y|z ...]\n"
             "      a scene that plays with \"novaro DIR\": each model on a marker of its own, made from\n"
             "      the pattern images in the order given or generated; SIZE is the printed width of\n"
             "      the markers' black squares (default 80); DIR/markers.pdf is the sheet to print.\n"
             "      --fit (the default) scales each model so that its largest side is the marker's\n"
             "      width, --real-size keeps its own size, --scale F multiplies it by F; an animated\n"
             "      model plays from the first time its marker is seen; --up names the axis that is up\n"
             "      in the models as made, once for all or once per model (default: y for OBJ, FBX\n"
             "      and glTF, z for the others)\n"
             "  novaro-scene check DIR|METADATA_FILE [-verbose]\n"
             "      read the scene in DIR (or the one METADATA_FILE names) as the player would,\n"
             "      without camera or window: every settings file, every file they name (models,\n"
             "      movies, sounds, events, patterns, camera files). Prints each problem as\n"
             "      file:line:column: message, nothing for a sound scene; -verbose also shows the\n"
             "      readers' own progress lines\n"
             "  novaro-scene finish DIR\n"
             "      complete a scene an exporter wrote: each square marker's and board square's\n"
             "      missing pattern file (from the picture its entry names as image, or generated),\n"
             "      a generic camera for each missing camera file, and DIR/markers.pdf, the sheet\n"
             "      to print (a board's squares where its multi-marker file places them)\n"
             "  novaro-scene blender-addon\n"
             "      print the folder of the Blender exporter add-on (novaro_exporter)\n"
             "\n"
             "Exit status: 0 done, 1 refused or problems found, 2 wrong command line.\n");
}

int runNew(int argc, char** argv)
{
    // The subcommand's own arguments: argv[0] stands for the program.
    ToolArguments arguments(argc, argv, {"generated", "fit", "real-size", "help"});
    if (arguments.has("help"))
    {
        printUsage(stdout);
        return 0;
    }
    const int sizings =
        int(arguments.has("fit")) + int(arguments.has("real-size")) + int(arguments.has("scale"));
    if (!arguments.error().empty() || arguments.positional().size() != 1 ||
        (arguments.has("generated") && arguments.has("marker")) || sizings > 1)
    {
        if (!arguments.error().empty())
            std::cerr << arguments.error() << std::endl;
        printUsage(stderr);
        return usageError;
    }
    NewSceneRequest request;
    request.directory = arguments.positional().front();
    request.models = arguments.getAll("model");
    request.markerImages = arguments.getAll("marker");
    request.camera = arguments.get("camera");
    for (const std::string& up : arguments.getAll("up"))
        request.upAxes.push_back(up == "y" || up == "z" ? up[0] : '?'); // '?' is refused with the reason
    request.size = arguments.getNumber("size", request.size);
    if (arguments.has("size") && arguments.getNumber("size", -1.0) != request.size)
        request.size = -1.0; // not a number
    if (arguments.has("real-size"))
        request.sizing = NewSceneRequest::Sizing::REAL_SIZE;
    if (arguments.has("scale"))
    {
        request.sizing = NewSceneRequest::Sizing::SCALE;
        request.scale = arguments.getNumber("scale", -1.0);
        if (!(request.scale > 0.0) || arguments.getNumber("scale", -2.0) != request.scale)
        {
            std::cerr << "novaro-scene new: --scale is a factor above 0, such as 0.05" << std::endl;
            return 1;
        }
    }
    return makeNewScene(request);
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

int runCheck(int argc, char** argv)
{
    bool verbose = false;
    std::string scene;
    for (int index = 1; index < argc; ++index)
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

int runFinish(int argc, char** argv)
{
    if (argc != 2 || argv[1][0] == '-')
    {
        printUsage(stderr);
        return usageError;
    }
    return Novaro::finishScene(argv[1]);
}

int runBlenderAddon(int argc, char**)
{
    if (argc != 1)
    {
        printUsage(stderr);
        return usageError;
    }
    const std::string folder = Novaro::InstallLayout::ofThisProcess().blenderAddonFolder();
    if (folder.empty())
    {
        std::cerr << "novaro-scene: the Blender add-on is not installed beside this program" << std::endl;
        return 1;
    }
    std::cout << folder << std::endl;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Each subcommand gets the arguments after its name, its own name standing for the program.
    const std::map<std::string, int (*)(int, char**)> commands = {
        {"new", runNew}, {"check", runCheck}, {"finish", runFinish}, {"blender-addon", runBlenderAddon}};
    const std::string command = argc > 1 ? argv[1] : "";
    // Models in formats whose readers trust the file are read in the trial reader.
    const Novaro::InstallLayout layout = Novaro::InstallLayout::ofThisProcess();
    Novaro::setTrialReader(layout.trialReader(), layout.dataRoots());
    if (commands.count(command))
        return commands.at(command)(argc - 1, argv + 1);
    if (command == "--help" || command == "-h")
    {
        printUsage(stdout);
        return 0;
    }
    if (!command.empty())
        std::cerr << "novaro-scene: unknown command " << command << std::endl;
    printUsage(stderr);
    return usageError;
}
