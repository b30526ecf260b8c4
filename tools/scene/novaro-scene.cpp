// novaro-scene: making scenes by hand. Subcommands:
//   new DIR --model FILE [--model FILE ...] [--marker IMAGE ... | --generated] [--size MM]
//       [--camera FILE]
#include "SceneNew.h"
#include "ToolSupport.h"

#include <iostream>
#include <map>
#include <string>

using namespace Novaro;

namespace
{

void usage()
{
    std::cerr
        << "usage:\n"
           "  novaro-scene new DIR --model FILE [--model FILE ...] [--marker IMAGE ... | --generated]\n"
           "                   [--size MM] [--camera FILE]\n"
           "      (a scene that plays with \"novaro DIR\": each model on a marker of its own, made from\n"
           "       the pattern images in the order given or generated; SIZE is the printed width of\n"
           "       the markers' black squares (default 80); DIR/markers.pdf is the sheet to print)"
        << std::endl;
}

int runNew(int argc, char** argv)
{
    // The subcommand's own arguments: argv[0] stands for the program.
    ToolArguments arguments(argc, argv, {"generated", "help"});
    if (arguments.has("help"))
    {
        usage();
        return 0;
    }
    if (!arguments.error().empty() || arguments.positional().size() != 1 ||
        (arguments.has("generated") && arguments.has("marker")))
    {
        if (!arguments.error().empty())
            std::cerr << arguments.error() << std::endl;
        usage();
        return 1;
    }
    NewSceneRequest request;
    request.directory = arguments.positional().front();
    request.models = arguments.getAll("model");
    request.markerImages = arguments.getAll("marker");
    request.camera = arguments.get("camera");
    request.size = arguments.getNumber("size", request.size);
    if (arguments.has("size") && arguments.getNumber("size", -1.0) != request.size)
        request.size = -1.0; // not a number
    return makeNewScene(request);
}

} // namespace

int main(int argc, char** argv)
{
    const std::map<std::string, int (*)(int, char**)> commands = {{"new", runNew}};
    if (argc < 2 || commands.count(argv[1]) == 0)
    {
        if (argc >= 2 && std::string(argv[1]) != "--help" && std::string(argv[1]) != "-h")
            std::cerr << "novaro-scene: unknown command " << argv[1] << std::endl;
        usage();
        return argc >= 2 && (std::string(argv[1]) == "--help" || std::string(argv[1]) == "-h") ? 0 : 1;
    }
    return commands.at(argv[1])(argc - 1, argv + 1);
}
