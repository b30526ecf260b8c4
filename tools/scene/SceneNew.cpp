#include "SceneNew.h"

#include "MarkerSheet.h"
#include "SyntheticScene.h"
#include "ToolSupport.h"

#include "app/ModelReferences.h"
#include "settings/ModelFileCheck.h"
#include "settings/TrackerData.h"

#include <osgART/CameraParameters.h>
#include <osgART/InputFiles.h>

#include <osg/AnimationPath>
#include <osg/ComputeBoundsVisitor>
#include <osgAnimation/AnimationManagerBase>
#include <osgAnimation/RigGeometry>
#include <osgDB/FileNameUtils>
#include <osgDB/ReadFile>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <set>
#include <sstream>

namespace fs = std::filesystem;

namespace Novaro
{

namespace
{

// The player's own tracker defaults, written out so that a user sees what there is to tune.
std::vector<std::pair<std::string, std::string>> trackerDefaults()
{
    const Novaro::TrackerData defaults;
    auto text = [](auto value)
    {
        std::ostringstream out;
        out << value;
        return out.str();
    };
    return {{"smooth_tracking", defaults.getSmoothTracking() ? "true" : "false"},
            {"rotational_smoothing_factor", text(defaults.getRotationalSmoothingFactor())},
            {"translational_smoothing_factor", text(defaults.getTranslationalSmoothingFactor())},
            {"threshold", text(defaults.getThreshold())},
            {"half_tracking", defaults.getHalfTracking() ? "true" : "false"}};
}

// Generated patterns are the same for the same number of models.
const unsigned kPatternSeed = 1;
// The generic camera's image size.
const int kGenericWidth = 640;
const int kGenericHeight = 480;
// Companion files followed from a model to the files it names, at most this deep (an OBJ names
// its MTL, which names textures).
const int kCompanionDepth = 2;

struct SceneObject
{
    std::string name;
    std::string model; ///< relative to the scene folder
    unsigned marker = 0;
    double scale = 1.0;        ///< the object's <scale>, the same along every axis
    char up = 'z';             ///< the axis up in the model as made
    double uprightAngle = 0.0; ///< the object's <rotation> about the marker's x axis, radians
    osg::Vec3d translation;    ///< the object's <translation>, millimetres on the marker
    std::string eventsFile;    ///< relative to the scene folder; empty: none
};

std::string xmlEscaped(const std::string& text)
{
    std::string escaped;
    for (char c : text)
    {
        switch (c)
        {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

bool writeText(const fs::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out)
    {
        std::cerr << "cannot write " << path.string() << std::endl;
        return false;
    }
    return true;
}

// Names of files a model file refers to beside itself: an OBJ's material libraries, an MTL's
// texture maps, a glTF's buffers and images (embedded data excepted). Names that would leave the
// model's folder are not followed.
std::vector<std::string> referencedFiles(const fs::path& model)
{
    const std::string extension = osgDB::getLowerCaseFileExtension(model.string());
    if (extension != "obj" && extension != "mtl" && extension != "gltf")
        return {};
    std::error_code error;
    if (fs::file_size(model, error) > (64u << 20) || error)
        return {};
    std::ifstream in(model, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // OBJ and MTL name files on lines of their own; glTF anywhere in its JSON.
    std::vector<std::string> found;
    if (extension == "gltf")
        found = ModelReferences::gltfUris(text);
    else
    {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
        {
            const std::string name = extension == "obj" ? ModelReferences::materialLibrary(line)
                                                        : ModelReferences::textureMap(line);
            if (!name.empty())
                found.push_back(name);
        }
    }
    std::vector<std::string> names;
    for (const std::string& name : found)
    {
        const fs::path relative = fs::path(name).lexically_normal();
        if (name.rfind("data:", 0) == 0 || relative.is_absolute() || relative.empty() ||
            *relative.begin() == "..")
            continue;
        names.push_back(relative.string());
    }
    return names;
}

// Copies a model and the files it refers to (that exist) into the folder, keeping their relative
// places; target is the model's name there.
bool copyModel(const fs::path& source, const fs::path& folder, const std::string& target)
{
    std::error_code error;
    fs::copy_file(source, folder / target, fs::copy_options::overwrite_existing, error);
    if (error)
    {
        std::cerr << "cannot copy " << source.string() << " to " << (folder / target).string() << ": "
                  << error.message() << std::endl;
        return false;
    }
    std::vector<std::pair<fs::path, int>> pending{{source, 0}};
    std::set<fs::path> copied{source};
    while (!pending.empty())
    {
        const auto [file, depth] = pending.back();
        pending.pop_back();
        if (depth >= kCompanionDepth)
            continue;
        for (const std::string& name : referencedFiles(file))
        {
            const fs::path companion = source.parent_path() / name;
            if (copied.count(companion) || !fs::is_regular_file(companion, error))
                continue;
            copied.insert(companion);
            fs::create_directories((folder / name).parent_path(), error);
            fs::copy_file(companion, folder / name, fs::copy_options::overwrite_existing, error);
            if (error)
            {
                std::cerr << "cannot copy " << companion.string() << ": " << error.message() << std::endl;
                return false;
            }
            pending.push_back({companion, depth + 1});
        }
    }
    return true;
}

// An object name from the model's file name: letters, digits and '_' only, unique in the scene.
std::string objectName(const std::string& model, const std::set<std::string>& taken)
{
    std::string base = osgDB::getStrippedName(model);
    for (char& c : base)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            c = '_';
    if (base.empty())
        base = "object";
    std::string name = base;
    for (int suffix = 2; taken.count(name); ++suffix)
        name = base + "_" + std::to_string(suffix);
    return name;
}

// One axis for every model or one per model, each y or z.
bool checkUpAxes(const NewSceneRequest& request)
{
    if (request.upAxes.size() > 1 && request.upAxes.size() != request.models.size())
    {
        std::cerr << "novaro-scene new: " << request.models.size() << " models but " << request.upAxes.size()
                  << " --up axes: give one for every model, or one per --model" << std::endl;
        return false;
    }
    for (char up : request.upAxes)
        if (up != 'y' && up != 'z')
        {
            std::cerr << "novaro-scene new: --up is y or z, the axis that is up in the model as made"
                      << std::endl;
            return false;
        }
    return true;
}

bool checkRequest(const NewSceneRequest& request)
{
    if (request.models.empty())
    {
        std::cerr << "novaro-scene new: name at least one model with --model FILE" << std::endl;
        return false;
    }
    for (const std::string& model : request.models)
    {
        if (!osgART::isReadableRegularFile(model))
        {
            std::cerr << "novaro-scene new: model " << model << " is not a readable file" << std::endl;
            return false;
        }
        std::error_code error;
        const uintmax_t bytes = fs::file_size(model, error);
        if (!error && bytes > kLargestModelBytes)
        {
            std::cerr << "novaro-scene new: model " << model << " is " << bytes / (1024 * 1024)
                      << " MiB, more than the " << kLargestModelBytes / (1024 * 1024)
                      << " MiB a scene's model may be: simplify or compress it first" << std::endl;
            return false;
        }
    }
    if (!request.markerImages.empty() && request.markerImages.size() != request.models.size())
    {
        std::cerr << "novaro-scene new: " << request.models.size() << " models but "
                  << request.markerImages.size() << " marker images: give one --marker per --model, or "
                  << "--generated" << std::endl;
        return false;
    }
    if (!checkUpAxes(request))
        return false;
    if (!(request.size >= kSmallestMarkerSize))
    {
        std::cerr << "novaro-scene new: --size is the marker's printed width in millimetres, at least "
                  << kSmallestMarkerSize << std::endl;
        return false;
    }
    // Refused before anything is written.
    std::vector<SheetPlacement> placements;
    std::string error;
    if (!layoutMarkerSheet({SheetMarker{"marker_1", osgART::Pattern(), request.size}}, placements, error))
    {
        std::cerr << "novaro-scene new: " << error << std::endl;
        return false;
    }
    return true;
}

// The folder must be new or empty: nothing the user keeps there is overwritten or mixed into the
// scene (run on "/" or a home folder, files were once written among the user's own).
bool prepareFolder(const fs::path& folder)
{
    std::error_code error;
    const fs::file_status status = fs::symlink_status(folder, error);
    if (fs::exists(status) && (!fs::is_directory(status) || !fs::is_empty(folder, error) || error))
    {
        std::cerr << "novaro-scene new: " << folder.string()
                  << (fs::is_directory(status) ? " is not empty" : " exists and is not a folder")
                  << ": choose a new or empty folder" << std::endl;
        return false;
    }
    for (const char* sub : {"", "models", "patterns"})
    {
        fs::create_directories(folder / sub, error);
        if (error)
        {
            std::cerr << "cannot create " << (folder / sub).string() << ": " << error.message() << std::endl;
            return false;
        }
    }
    return true;
}

bool makePatterns(const NewSceneRequest& request, std::vector<osgART::Pattern>& patterns)
{
    if (request.markerImages.empty())
    {
        patterns = makeDistinctPatterns(request.models.size(), kPatternSeed);
        return patterns.size() == request.models.size();
    }
    for (const std::string& path : request.markerImages)
    {
        cv::Mat image;
        std::string error;
        osgART::Pattern pattern;
        if (!readImageFile(path, image, error) || !pattern.setFromImage(image))
        {
            std::cerr << "novaro-scene new: cannot read marker image " << path << " " << error << std::endl;
            return false;
        }
        // The pattern fills a square: a picture of other proportions is squeezed into it, and the
        // printed marker no longer looks like the picture the user chose.
        if (std::abs(image.cols - image.rows) > std::max(image.cols, image.rows) / 20)
            std::cout << "Warning: marker image " << path << " is " << image.cols << "x" << image.rows
                      << " pixels, not square: its pattern is squeezed into a square; crop it square to keep "
                         "its look."
                      << std::endl;
        patterns.push_back(pattern);
    }
    return true;
}

// The camera file's name in the scene, copied or written; its image size in width and height.
bool placeCamera(const NewSceneRequest& request, const fs::path& folder, std::string& name, int& width,
                 int& height)
{
    if (request.camera.empty())
    {
        name = "camera_" + std::to_string(kGenericWidth) + "x" + std::to_string(kGenericHeight) + ".dat";
        width = kGenericWidth;
        height = kGenericHeight;
        if (!makeDefaultCamera(width, height, false).saveBinary((folder / name).string()))
        {
            std::cerr << "cannot write " << (folder / name).string() << std::endl;
            return false;
        }
        std::cout << "No camera file given: wrote " << name << ", a generic camera for " << width << "x"
                  << height << " (calibrate yours with novaro-calibrate for a closer fit)." << std::endl;
        return true;
    }
    osgART::CameraParameters camera;
    std::string error;
    if (!camera.load(request.camera, &error))
    {
        std::cerr << "novaro-scene new: cannot read camera file " << request.camera << ": " << error
                  << std::endl;
        return false;
    }
    name = osgDB::getSimpleFileName(request.camera);
    width = camera.width();
    height = camera.height();
    std::error_code copyError;
    fs::copy_file(request.camera, folder / name, fs::copy_options::overwrite_existing, copyError);
    if (copyError)
    {
        std::cerr << "cannot copy " << request.camera << ": " << copyError.message() << std::endl;
        return false;
    }
    return true;
}

std::string header()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
}

// A list of named values: <parameters><parameter name="...">value</parameter>...</parameters>.
std::string namedValues(const std::vector<std::pair<std::string, std::string>>& values,
                        const std::string& list, const std::string& element, const std::string& indent = "  ")
{
    std::string text = indent + "<" + list + ">\n";
    for (const auto& [name, value] : values)
        text += indent + "  <" + element + " name=\"" + name + "\">" + value + "</" + element + ">\n";
    return text + indent + "</" + list + ">\n";
}

std::string parameters(const std::vector<std::pair<std::string, std::string>>& values)
{
    return namedValues(values, "parameters", "parameter");
}

// The transforms and markers of an object standing at a marker's centre.
std::string placement(const std::string& markers, double scale = 1.0, const osg::Vec3d& translation = {},
                      double uprightAngle = 0.0)
{
    std::ostringstream factor, offset, rotation;
    factor << std::setprecision(6) << scale;
    const std::string value = factor.str();
    // To a tenth of a micrometre: a turned model's float rounding is no offset worth writing.
    auto rounded = [](double mm) { return std::round(mm * 1e4) / 1e4 + 0.0; }; // + 0.0: no "-0"
    offset << std::setprecision(6) << "        <translation x=\"" << rounded(translation.x()) << "\" y=\""
           << rounded(translation.y()) << "\" z=\"" << rounded(translation.z()) << "\"/>\n";
    rotation << std::setprecision(9) << "        <rotation axis=\"" << (uprightAngle != 0.0 ? 'x' : 'z')
             << "\" angle=\"" << uprightAngle << "\"/>\n";
    return "      <transforms>\n" + offset.str() + "        <scale x=\"" + value + "\" y=\"" + value +
           "\" z=\"" + value + "\"/>\n" + rotation.str() + "      </transforms>\n" + markers +
           "      <hotspots/>\n";
}

// A light from above and a little in front, over every marker, so that models are shaded.
std::string sunObject()
{
    return "    <object name=\"sun\" type=\"ARLight\" is_occluder=\"false\" is_visible=\"true\" "
           "ignore=\"false\" "
           "use_properties=\"true\">\n"
           "      <model source=\"\" source_folder=\"\" signature=\"\" video=\"\" audio=\"\" "
           "object=\"\"/>\n" +
           namedValues({{"loop", "true"},
                        {"directional", "true"},
                        {"position_x", "0.4"},
                        {"position_y", "0.5"},
                        {"position_z", "-1.0"},
                        {"direction_x", "0.0"},
                        {"direction_y", "0.0"},
                        {"direction_z", "-1.0"},
                        {"detail", "med"},
                        {"spot_cutoff", "180.0"},
                        {"spot_exponent", "96.0"}},
                       "properties", "property", "      ") +
           placement("      <markers all=\"true\"/>\n") + "    </object>\n";
}

std::string markersFile(const std::vector<SceneObject>& objects, double size)
{
    std::ostringstream text;
    text << header() << "<markers patterns_file=\"patterns.dat\" transforms_file=\"\">\n";
    for (const SceneObject& object : objects)
    {
        const std::string name = "marker_" + std::to_string(object.marker);
        text << "  <marker name=\"" << name << "\" tag=\"" << name << "\" id=\"" << object.marker
             << "\" type=\"single\" path=\"patterns/" << name << ".patt\"\n"
             << "          transforms_file=\"\" size=\"" << size
             << "\" fit=\"false\" fit_factor=\"1\" shadowed=\"false\"\n"
             << "          sequence=\"false\" sequence_duration=\"100\" sequence_loop=\"false\">\n"
             << "    <layers sequence=\"false\" sequence_duration=\"5.0\" sequence_loop=\"false\">\n"
             << "      <layer id=\"0\" time=\"5.0\"/>\n"
             << "    </layers>\n"
             << "  </marker>\n";
    }
    text << "</markers>\n";
    return text.str();
}

std::string sceneFile(const std::string& title, const std::vector<SceneObject>& objects)
{
    std::ostringstream text;
    text << header() << "<scene name=\"" << xmlEscaped(title)
         << "\" source_folder=\"\" source=\"\" authoring_software=\"3dsmax\" units=\"millimeters\">\n"
         << parameters({{"show_message", "true"}, {"message", xmlEscaped(title)}}) << "  <metadata>\n"
         << "    <platform>standalone</platform>\n    <title>" << xmlEscaped(title)
         << "</title>\n    <author></author>\n    <description>Made with novaro-scene new.</description>\n"
         << "    <location>\n      <latitude>0</latitude>\n      <longitude>0</longitude>\n      "
            "<altitude>0</altitude>\n    </location>\n"
         << "  </metadata>\n  <objects>\n";
    for (const SceneObject& object : objects)
        text << "    <object name=\"" << xmlEscaped(object.name)
             << "\" type=\"ARObject\" is_occluder=\"false\" is_visible=\"true\" ignore=\"false\" "
                "use_properties=\"false\">\n"
             << "      <model source=\"" << xmlEscaped(object.model)
             << "\" source_folder=\"\" signature=\"\" video=\"\" audio=\"\" object=\"\"/>\n"
             << namedValues({{"loop", "true"}}, "properties", "property", "      ")
             << placement("      <markers all=\"false\">\n        <marker id=\"" +
                              std::to_string(object.marker) + "\" layer=\"0\"/>\n      </markers>\n",
                          object.scale, object.translation, object.uprightAngle)
             << (object.eventsFile.empty()
                     ? std::string()
                     : "      <events file=\"" + xmlEscaped(object.eventsFile) + "\"/>\n")
             << "    </object>\n";
    text << sunObject() << "  </objects>\n</scene>\n";
    return text.str();
}

bool writeSettings(const fs::path& folder, const std::string& title, const std::vector<SceneObject>& objects,
                   double size, const std::string& camera, int width, int height)
{
    const std::string configuration = header() + "<configuration name=\"" + xmlEscaped(title) +
                                      "\" debug=\"false\">\n" +
                                      parameters({{"mode", "ar_simple"},
                                                  {"mirror", "false"},
                                                  {"fullscreen", "false"},
                                                  {"wireframe", "false"},
                                                  {"camera_settings", "false"},
                                                  {"use_antialiasing", "true"},
                                                  {"antialiasing_samples", "4"},
                                                  {"animations", "true"},
                                                  {"fitting", "false"}}) +
                                      "</configuration>\n";
    const std::string tracker = header() + "<tracker name=\"" + xmlEscaped(title) + "\">\n" +
                                parameters(trackerDefaults()) + "</tracker>\n";
    const std::string format = std::to_string(width) + "x" + std::to_string(height);
    const std::string video =
        header() + "<video name=\"" + xmlEscaped(title) + "\">\n  <formats>\n    <format name=\"" + format +
        "\" width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) +
        "\"/>\n  </formats>\n  <cameras>\n    <camera name=\"camera_" + format + "\" format=\"" + format +
        "\" path=\"" + xmlEscaped(camera) + "\"/>\n  </cameras>\n</video>\n";
    const std::string audio =
        header() + "<audio name=\"" + xmlEscaped(title) + "\">\n  <soundtracks/>\n" +
        namedValues({{"loop", "true"}, {"autoplay", "true"}}, "properties", "property") + "</audio>\n";
    const std::string lighting =
        header() + "<lighting name=\"" + xmlEscaped(title) + "\">\n" +
        parameters({{"mode", "direct"}, {"compatibility_hint", "max"}, {"shadow_technique", "sm"}}) +
        "</lighting>\n";
    const std::string metadata = "# Settings files of the scene, written by novaro-scene new\n"
                                 "config @ config.xml\nscene @ scene.xml\naudio @ audio.xml\n"
                                 "tracker @ tracker.xml\nmarkers @ markers.xml\nvideo @ video.xml\n"
                                 "lighting @ lighting.xml\n";
    return writeText(folder / "config.xml", configuration) && writeText(folder / "tracker.xml", tracker) &&
           writeText(folder / "video.xml", video) && writeText(folder / "audio.xml", audio) &&
           writeText(folder / "lighting.xml", lighting) &&
           writeText(folder / "scene.xml", sceneFile(title, objects)) &&
           writeText(folder / "markers.xml", markersFile(objects, size)) &&
           writeText(folder / "patterns.dat", "# markers come from the markers settings\n0\n") &&
           writeText(folder / "model.dat", metadata);
}

// Bounds of a model at rest: a skinned mesh counts with its vertices as stored (a rig geometry's
// own bound is a loose box around its bones).
class RestPoseBounds : public osg::ComputeBoundsVisitor
{
public:
    void apply(osg::Drawable& drawable) override
    {
        auto* rig = dynamic_cast<osgAnimation::RigGeometry*>(&drawable);
        if (rig != nullptr && rig->getSourceGeometry() != nullptr)
        {
            applyBoundingBox(rig->getSourceGeometry()->getBoundingBox());
            skinned = true;
        }
        else
            osg::ComputeBoundsVisitor::apply(drawable);
    }
    bool skinned = false;
};

// What a new scene needs to know of a model: its extent at rest (millimetres on the marker, as the
// player shows it unscaled) and its first animation, if any.
struct ModelFacts
{
    bool readable = false;
    osg::BoundingBox box;
    // A skinned mesh's vertices as stored lie where its bones' bind pose puts them, not where the
    // player shows it at rest: its box gives its size but not its place.
    bool placeKnown = false;
    bool animated = false;
    std::string firstAnimation; ///< empty for path animations, which have no names
};

class AnimationFinder : public osg::NodeVisitor
{
public:
    AnimationFinder() : osg::NodeVisitor(TRAVERSE_ALL_CHILDREN) {}
    void apply(osg::Node& node) override
    {
        for (osg::Callback* callback = node.getUpdateCallback(); callback;
             callback = callback->getNestedCallback())
        {
            if (auto* manager = dynamic_cast<osgAnimation::AnimationManagerBase*>(callback))
                for (const osg::ref_ptr<osgAnimation::Animation>& animation : manager->getAnimationList())
                {
                    animated = true;
                    if (first.empty())
                        first = animation->getName();
                }
            if (dynamic_cast<osg::AnimationPathCallback*>(callback))
                animated = true;
        }
        traverse(node);
    }
    bool animated = false;
    std::string first;
};

// The axis up in a model as its format's reader takes it: OBJ (OpenSceneGraph's reader) and glTF
// (the model reader) are turned from y up, and the player turns an FBX model a quarter turn about X,
// as it does for the authoring software this scene names (3dsmax); other readers keep the axes.
char readerUp(const fs::path& path)
{
    const std::string extension = osgDB::getLowerCaseFileExtension(path.string());
    return extension == "obj" || extension == "fbx" || extension == "gltf" || extension == "glb" ? 'y' : 'z';
}

// The object's turn about the marker's x axis that stands a model made with 'up' up: a quarter
// turn up from y, or down to undo the reader's turn of a model made z up.
double uprightAngle(char up, const fs::path& path)
{
    const char taken = readerUp(path);
    return up == taken ? 0.0 : (up == 'y' ? osg::PI_2 : -osg::PI_2);
}

// The box as the player shows the model read: the FBX turn the player adds, then the object's own.
osg::BoundingBox shownBox(const osg::BoundingBox& box, const fs::path& path, double uprightAngle)
{
    osg::Quat turn(uprightAngle, osg::X_AXIS);
    if (osgDB::getLowerCaseFileExtension(path.string()) == "fbx")
        turn = osg::Quat(osg::PI_2, osg::X_AXIS) * turn;
    if (!box.valid() || turn.zeroRotation())
        return box;
    osg::BoundingBox turned;
    for (unsigned int corner = 0; corner < 8; ++corner)
        turned.expandBy(turn * box.corner(corner));
    return turned;
}

ModelFacts inspectModel(const fs::path& path, double uprightAngle)
{
    ModelFacts facts;
    // Read as the player reads a scene's model: checked first, as the readers trust what files declare.
    osg::ref_ptr<osg::Node> node = readModelFile(path.string());
    if (!node.valid())
        return facts;
    facts.readable = true;
    RestPoseBounds bounds;
    node->accept(bounds);
    facts.box = shownBox(bounds.getBoundingBox(), path, uprightAngle);
    facts.placeKnown = facts.box.valid() && !bounds.skinned;
    AnimationFinder finder;
    node->accept(finder);
    facts.animated = finder.animated;
    facts.firstAnimation = finder.first;
    return facts;
}

double largestSide(const osg::BoundingBox& box)
{
    return std::max({box.xMax() - box.xMin(), box.yMax() - box.yMin(), box.zMax() - box.zMin()});
}

// The object's scale, said on the console with the model's own size; a size far from the marker's
// is warned about, with the option that changes it.
double sizeOnMarker(const NewSceneRequest& request, const SceneObject& object, const ModelFacts& facts)
{
    if (!facts.readable)
    {
        std::cout << "Warning: " << object.model
                  << " could not be read here; the player will show its default model in its place."
                  << std::endl;
        return 1.0;
    }
    if (!facts.box.valid())
        return 1.0;
    const osg::BoundingBox& box = facts.box;
    const double largest = largestSide(box);
    // A flat model turned upright is flat to within float rounding: its thickness is said as 0.
    auto side = [largest](double extent) { return extent < 1e-6 * largest ? 0.0 : extent; };
    double scale = request.sizing == NewSceneRequest::Sizing::SCALE ? request.scale : 1.0;
    if (request.sizing == NewSceneRequest::Sizing::FIT && largest > 0.0)
        scale = request.size / largest;
    char line[512];
    std::snprintf(line, sizeof line,
                  "%s: %.4g x %.4g x %.4g mm (width, depth, height) as made, %c up (--up %c if it was made "
                  "%c up); shown at scale %.4g, %.4g mm at its largest on a %g mm marker",
                  object.model.c_str(), side(box.xMax() - box.xMin()), side(box.yMax() - box.yMin()),
                  side(box.zMax() - box.zMin()), object.up, object.up == 'y' ? 'z' : 'y',
                  object.up == 'y' ? 'z' : 'y', scale, largest * scale, request.size);
    std::cout << line << std::endl;
    const double shown = largest * scale / request.size;
    if (shown > kSizeWarningFactor || (shown > 0.0 && shown < 1.0 / kSizeWarningFactor))
        std::cout << "Warning: " << object.model << " is shown " << std::setprecision(3) << shown
                  << " times as wide as its marker"
                  << (shown > 1.0 ? " (the camera may end up inside it)" : "")
                  << ": leave out --real-size and --scale to fit it to the marker." << std::endl;
    return scale;
}

// An animated model plays from the first time its marker is seen: an events file says so.
std::string animationEvents(const std::string& name, const ModelFacts& facts)
{
    std::string text = header() + "<events name=\"" + xmlEscaped(name) +
                       "_events\">\n  <event name=\"on_marker_detected\">\n    <actions>\n"
                       "      <action source=\"_self_\" target=\"_self_\">\n"
                       "        <command>start_animation</command>\n";
    if (!facts.firstAnimation.empty())
        text += "        <parameters>\n          <parameter name=\"animation_name\">" +
                xmlEscaped(facts.firstAnimation) + "</parameter>\n        </parameters>\n";
    return text + "      </action>\n    </actions>\n  </event>\n</events>\n";
}

// Each object's size on its marker and, for an animated model, its events file.
bool sizeAndAnimateObjects(const NewSceneRequest& request, const fs::path& folder,
                           std::vector<SceneObject>& objects)
{
    for (SceneObject& object : objects)
    {
        const ModelFacts facts = inspectModel(folder / object.model, object.uprightAngle);
        object.scale = sizeOnMarker(request, object, facts);
        // Models are made around any origin (a scan's lies where the scanner stood): each stands
        // with the middle of its footprint on the marker's centre and its lowest point on the paper.
        // A skinned one stays at its origin, which exporters put at a character's feet.
        if (facts.placeKnown)
            object.translation =
                osg::Vec3d(-facts.box.center().x(), -facts.box.center().y(), -facts.box.zMin()) *
                object.scale;
        if (!facts.animated)
            continue;
        object.eventsFile = "events/" + object.name + "_events.xml";
        std::error_code error;
        fs::create_directories(folder / "events", error);
        if (!writeText(folder / object.eventsFile, animationEvents(object.name, facts)))
            return false;
        std::cout << object.model << ": animated"
                  << (facts.firstAnimation.empty() ? std::string() : " (\"" + facts.firstAnimation + "\")")
                  << "; it plays from the first time its marker is seen (" << object.eventsFile << ")."
                  << std::endl;
    }
    return true;
}

} // namespace

int makeNewScene(const NewSceneRequest& request)
{
    if (!checkRequest(request))
        return 1;
    const fs::path folder(request.directory);
    std::vector<osgART::Pattern> patterns;
    if (!makePatterns(request, patterns) || !prepareFolder(folder))
        return 1;

    std::vector<SceneObject> objects;
    std::set<std::string> names;
    std::vector<SheetMarker> sheet;
    for (size_t i = 0; i < request.models.size(); ++i)
    {
        SceneObject object;
        object.name = objectName(request.models[i], names);
        names.insert(object.name);
        object.marker = unsigned(i + 1);
        object.up = request.upAxes.empty()       ? readerUp(request.models[i])
                    : request.upAxes.size() == 1 ? request.upAxes.front()
                                                 : request.upAxes[i];
        object.uprightAngle = uprightAngle(object.up, request.models[i]);
        // Each model keeps its file name; two of one name get the object's name instead.
        std::string target = osgDB::getSimpleFileName(request.models[i]);
        for (const SceneObject& other : objects)
            if (other.model == "models/" + target)
                target = object.name + "." + osgDB::getFileExtension(target);
        object.model = "models/" + target;
        if (!copyModel(request.models[i], folder / "models", target))
            return 1;
        const std::string marker = "marker_" + std::to_string(object.marker);
        if (!patterns[i].save((folder / "patterns" / (marker + ".patt")).string()))
        {
            std::cerr << "cannot write " << (folder / "patterns" / (marker + ".patt")).string() << std::endl;
            return 1;
        }
        sheet.push_back({marker + ": " + object.name, patterns[i], request.size});
        objects.push_back(object);
    }

    addPluginSearchPaths();
    if (!sizeAndAnimateObjects(request, folder, objects))
        return 1;
    std::string camera;
    int width = 0, height = 0;
    if (!placeCamera(request, folder, camera, width, height))
        return 1;
    const std::string title =
        folder.filename().empty() ? folder.parent_path().filename().string() : folder.filename().string();
    if (!writeSettings(folder, title, objects, request.size, camera, width, height))
        return 1;
    std::string error;
    if (!writeMarkerSheet((folder / "markers.pdf").string(), sheet, error))
    {
        std::cerr << "novaro-scene new: " << error << std::endl;
        return 1;
    }
    std::cout << "Wrote the scene " << folder.string() << " (" << objects.size() << " object"
              << (objects.size() == 1 ? "" : "s") << ", each on its own marker).\n"
              << "Print " << (folder / "markers.pdf").string()
              << " at actual size (no fit-to-page) and play it with: novaro " << folder.string() << std::endl;
    return 0;
}

} // namespace Novaro
