#include "app/SceneCheck.h"

#include "app/ARApplication.h"
#include "app/MetadataFile.h"
#include "app/ModelReferences.h"
#include "app/PrivateFolder.h"
#include "interaction/ARActionFactory.h"
#include "scene/ARAudio.h"
#include "scene/AudioOutput.h"
#include "scene/KmzImporter.h"
#include "settings/ModelFileCheck.h"
#include "settings/PathRule.h"
#include "settings/SceneBoundary.h"
#include "settings/SettingsValues.h"
#include "settings/XMLAudioParserManager.h"
#include "settings/XMLConfigurationParserManager.h"
#include "settings/XMLEventsParserManager.h"
#include "settings/XMLLightingParserManager.h"
#include "settings/XMLLookupRecord.h"
#include "settings/XMLMarkersParserManager.h"
#include "settings/XMLSceneParserManager.h"
#include "settings/XMLTrackerParserManager.h"
#include "settings/XMLVideoParserManager.h"

#include <osg/ImageStream>
#include <osgART/CameraParameters.h>
#include <osgART/ImageTarget.h>
#include <osgART/InputFiles.h>
#include <osgART/MarkerDescription.h>
#include <osgART/Pattern.h>
#include <osgDB/FileNameUtils>
#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <set>
#include <sstream>

namespace Novaro
{

namespace
{

// A number written with a decimal comma, as "1,5" or " -0,25 ": a sign, digits, one comma, digits.
// Checked by hand: std::regex recurses once per character, and a settings file's text may be long.
bool hasDecimalComma(const std::string& text)
{
    size_t at = text.find_first_not_of(" \t\r\n");
    if (at == std::string::npos)
        return false;
    if (text[at] == '-' || text[at] == '+')
        ++at;
    const size_t comma = text.find_first_not_of("0123456789", at);
    if (comma == std::string::npos || text[comma] != ',')
        return false;
    const size_t end = text.find_first_not_of("0123456789", comma + 1);
    return end != comma + 1 &&
           (end == std::string::npos || text.find_first_not_of(" \t\r\n", end) == std::string::npos);
}

// One of the seven settings files: its metadata key, default name and folder, as the player
// looks for it.
struct SettingsKind
{
    const char* key;
    const char* defaultName;
    bool inWorkingDirectory;
};

const SettingsKind settingsKinds[] = {
    {"config", "config.xml", true},      {"tracker", "tracker.xml", true}, {"video", "video.xml", true},
    {"scene", "scene.xml", false},       {"audio", "audio.xml", false},    {"markers", "markers.xml", false},
    {"lighting", "lighting.xml", false},
};

const SettingsKind* findKind(const std::string& key)
{
    for (const SettingsKind& kind : settingsKinds)
        if (key == kind.key)
            return &kind;
    return nullptr;
}

const std::vector<std::string> objectTypes = {"ARObject", "ARVideo", "ARAudio", "ARLight"};

// " (did you mean "x"?)" when one of the known names is close to the text, else nothing; the name
// between 'open' and 'close' ("<" and ">" for an element).
std::string suggestion(const std::string& text, const std::set<std::string>& known, const char* open,
                       const char* close)
{
    const std::string closest =
        SettingsValues::closestName(text, std::vector<std::string>(known.begin(), known.end()));
    return closest.empty() || closest == text
               ? std::string()
               : std::string(" (did you mean ") + open + closest + close + "?)";
}

std::string quoted(const std::string& text)
{
    return "\"" + text + "\"";
}

// A path as the user can find it whatever the current directory.
std::string shownPath(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

bool isMultiMarker(const std::string& type)
{
    return type == "multi" || type == "MULTI";
}

} // namespace

std::string SceneProblem::text() const
{
    std::ostringstream out;
    out << file;
    if (line > 0)
        out << ":" << line << ":" << (column > 0 ? column : 1);
    out << ": " << message;
    return out.str();
}

int printSceneProblems(const std::vector<SceneProblem>& problems, std::ostream& out)
{
    for (const SceneProblem& problem : problems)
        out << problem.text() << "\n";
    out.flush();
    return problems.empty() ? 0 : 1;
}

SceneCheck::SceneCheck(const Location& location) : _location(location) {}

std::vector<SceneProblem> SceneCheck::run()
{
    _problems.clear();
    // Nothing is played: the sound library must not go looking for a device (and complain
    // about a missing one) when a movie's or a sound's reader starts it.
    setenv("ALSOFT_DRIVERS", "null", 0);
    ARApplication::aliasMovieExtensions();
    // The scene is read as the player reads it: inside its own folders only.
    const bool wasBounded = SceneBoundary::isBounded();
    if (!wasBounded)
        confineToScene(_location.workingDirectory, _location.temporaryDirectory);
    locateSettingsFiles();
    readSettingsFiles();
    checkCameraFiles();
    checkMarkers();
    checkSceneModel();
    checkSceneObjects();
    checkMarkerUse();
    checkSoundtracks();
    if (!wasBounded)
        SceneBoundary::clear();
    return _problems;
}

void SceneCheck::report(const std::string& file, int line, int column, const std::string& message)
{
    _problems.push_back({file, line, column, message});
}

void SceneCheck::reportRefusedNames(const std::string& path, const XMLParserManager& reader)
{
    for (const XMLParserManager::RefusedName& name : reader.refusedNames())
        report(path, name.line, name.column,
               "the name " + quoted(name.value) + " leads outside the scene's folders: refused");
}

// --- Settings files -----------------------------------------------------------------------------

void SceneCheck::locateSettingsFiles()
{
    _metadataPath = findMetadataFile();
    if (!_metadataPath.empty())
        readMetadataFile(_metadataPath);
    locateUnnamedSettingsFiles();
}

std::string SceneCheck::findMetadataFile()
{
    if (_location.metadata.empty())
    {
        const std::string path = PathRule::resolve(_location.temporaryDirectory, "model.dat");
        return PathRule::isReadableFile(path) ? path : std::string();
    }
    const std::string path = PathRule::resolve(_location.temporaryDirectory, _location.metadata);
    if (PathRule::isReadableFile(path))
        return path;
    report(shownPath(path), 0, 0, "metadata file not found");
    return std::string();
}

// Each settings file the metadata file names, by the first line of its key. The files it does not
// name take their default names, whatever the command line says, as in the player.
void SceneCheck::readMetadataFile(const std::string& path)
{
    _location.named.clear();
    std::set<std::string> keys;
    for (const SettingsKind& kind : settingsKinds)
        keys.insert(kind.key);
    for (const MetadataFile::Entry& entry : MetadataFile::entries(path))
    {
        if (!entry.refusedValue.empty())
            report(path, entry.line, 1,
                   "the name " + quoted(entry.refusedValue) + " leads outside the scene's folders: refused");
        if (!keys.count(entry.key))
            report(path, entry.line, 1,
                   "unknown key " + quoted(entry.key) + suggestion(entry.key, keys, "\"", "\""));
        else if (!_location.named.count(entry.key))
            _location.named[entry.key] = entry.value;
        else
            continue;
        const SettingsKind* kind = findKind(entry.key);
        if (!kind)
            continue;
        const std::string file = PathRule::resolve(directoryOf(kind->inWorkingDirectory), entry.value);
        if (PathRule::isReadableFile(file))
            _paths[entry.key] = file;
        else
            report(path, entry.line, 1,
                   "the " + entry.key + " settings file " + quoted(entry.value) +
                       " does not exist (looked for " + shownPath(file) + ")");
    }
}

void SceneCheck::locateUnnamedSettingsFiles()
{
    for (const SettingsKind& kind : settingsKinds)
    {
        const auto named = _location.named.find(kind.key);
        if (named != _location.named.end() && !_metadataPath.empty())
            continue; // found, or reported with its metadata line
        const std::string name = named == _location.named.end() ? kind.defaultName : named->second;
        const std::string path = PathRule::resolve(directoryOf(kind.inWorkingDirectory), name);
        if (PathRule::isReadableFile(path))
            _paths[kind.key] = path;
        else
            report(shownPath(path), 0, 0, std::string("the ") + kind.key + " settings file is missing");
    }
}

const std::string& SceneCheck::directoryOf(bool inWorkingDirectory) const
{
    return inWorkingDirectory ? _location.workingDirectory : _location.temporaryDirectory;
}

void SceneCheck::readSettingsFiles()
{
    std::optional<ConfigurationData> configuration;
    std::optional<TrackerData> tracker;
    std::optional<LightingData> lighting;
    for (const auto& file : _paths)
    {
        const std::string& key = file.first;
        if (key == "config")
            readSettingsFile<XMLConfigurationParserManager>(file.second, "configuration", configuration);
        else if (key == "tracker")
            readSettingsFile<XMLTrackerParserManager>(file.second, "tracker", tracker);
        else if (key == "video")
            readSettingsFile<XMLVideoParserManager>(file.second, "video", _video);
        else if (key == "scene")
            readSettingsFile<XMLSceneParserManager>(file.second, "scene", _scene);
        else if (key == "audio")
            readSettingsFile<XMLAudioParserManager>(file.second, "audio", _audio);
        else if (key == "markers")
            readSettingsFile<XMLMarkersParserManager>(file.second, "markers", _markers);
        else if (key == "lighting")
            readSettingsFile<XMLLightingParserManager>(file.second, "lighting", lighting);
    }
}

// Reads one settings file with its reader, recording what the reader looks at, and reports the
// file's syntax error, what no reader reads, and a record the player would refuse.
template <class Reader, class Data>
bool SceneCheck::readSettingsFile(const std::string& path, const char* kind, std::optional<Data>& data)
{
    Reader reader(path);
    XMLLookupRecord record;
    bool parsed = false;
    bool valid = false;
    {
        XMLLookupRecord::Scope recording(record);
        if (!reader.loadFile())
        {
            const XMLParserManager::LoadError& error = reader.loadError();
            report(path, error.line, error.column, "not readable XML: " + error.reason);
            return false;
        }
        reportRefusedNames(path, reader);
        if (!reader.encodingNote().empty())
            report(path, 1, 1, reader.encodingNote());
        parsed = reader.parse();
        valid = parsed && reader.isValid();
    }
    const TiXmlElement* root = reader.document().RootElement();
    const int rootLine = root ? root->Row() : 0;
    _rootLines[path] = rootLine;
    const size_t problemsBefore = _problems.size();
    reportUnreadChildren(path, reader.document(), record);
    reportBadNumbers(path, record);
    if (!parsed && _problems.size() == problemsBefore)
        report(path, rootLine, 1, std::string("the player cannot read these ") + kind + " settings");
    else if (parsed && !valid)
        report(path, rootLine, 1,
               std::string("the player refuses these ") + kind +
                   " settings: something they need is missing or empty (run the player with -verbose)");
    if (!parsed || !valid)
        return false;
    data = reader.getData();
    return true;
}

namespace
{

std::string shortNumber(double value)
{
    std::ostringstream text;
    text << value;
    return text.str();
}

} // namespace

// Numbers C's rules read as something else: "abc" as 0, a decimal comma "0,05" as 0.
void SceneCheck::reportBadNumbers(const std::string& path, const XMLLookupRecord& record)
{
    for (const XMLLookupRecord::BadNumber& bad : record.badNumbers())
    {
        const std::string what = bad.name.empty() ? "the text of <" + bad.element->ValueStr() + ">"
                                                  : bad.name + " of <" + bad.element->ValueStr() + ">";
        if (!bad.reason.empty())
        {
            report(path, bad.element->Row(), bad.element->Column(),
                   what + ": " + quoted(bad.text) + ": " + bad.reason);
            continue;
        }
        std::string withPoint = bad.text;
        std::replace(withPoint.begin(), withPoint.end(), ',', '.');
        report(
            path, bad.element->Row(), bad.element->Column(),
            what + ": " + quoted(bad.text) + " is not a number" +
                (hasDecimalComma(bad.text) ? " (write a decimal point: " + withPoint + ")" : std::string()) +
                "; the player reads it as " + shortNumber(SettingsValues::toDouble(bad.text)));
    }
}

void SceneCheck::reportUnreadChildren(const std::string& path, const TiXmlNode& parent,
                                      const XMLLookupRecord& record)
{
    for (const TiXmlElement* child = parent.FirstChildElement(); child; child = child->NextSiblingElement())
    {
        if (!record.wasFound(child))
        {
            reportUnreadElement(path, *child, record);
            continue;
        }
        reportUnreadAttributes(path, *child, record);
        reportUnreadChildren(path, *child, record);
    }
}

// An element no reader looked at: a parameter of an unknown name, a misspelt or misplaced element,
// a second one of a kind read once, or the content of an element the reader does not look into.
void SceneCheck::reportUnreadElement(const std::string& path, const TiXmlElement& element,
                                     const XMLLookupRecord& record)
{
    const TiXmlNode* parentNode = element.Parent();
    const TiXmlElement* parent = parentNode ? parentNode->ToElement() : nullptr;
    const std::string& tag = element.ValueStr();
    const std::string parameterAttribute = record.parameterAttributeUnder(parent);
    const char* parameterName =
        parameterAttribute.empty() ? nullptr : element.Attribute(parameterAttribute.c_str());
    std::string message;
    if (parameterName)
        message = "unknown " + tag + " " + quoted(parameterName) +
                  suggestion(parameterName, record.parametersAskedUnder(parent), "\"", "\"");
    else if (!parameterAttribute.empty())
        message = "<" + tag + "> is not read: the children of <" + parent->ValueStr() +
                  "> are found by their " + parameterAttribute + " attribute";
    else
    {
        const std::set<std::string> asked = record.tagsAskedUnder(parent);
        if (asked.count(tag))
            message = "<" + tag + "> is not read here (only the first one is)";
        else if (!suggestion(tag, asked, "<", ">").empty())
            message = "unknown element <" + tag + ">" + suggestion(tag, asked, "<", ">");
        else if (asked.empty() && parent)
            message = "<" + tag + "> is not read: the player does not look inside this <" +
                      parent->ValueStr() + ">";
        else
            message = "unknown element <" + tag + ">";
    }
    report(path, element.Row(), element.Column(), message);
}

void SceneCheck::reportUnreadAttributes(const std::string& path, const TiXmlElement& element,
                                        const XMLLookupRecord& record)
{
    const std::set<std::string> asked = record.attributesAskedOf(&element);
    for (const TiXmlAttribute* attribute = element.FirstAttribute(); attribute; attribute = attribute->Next())
    {
        const std::string name = attribute->Name();
        if (asked.count(name))
            continue;
        report(path, attribute->Row() > 0 ? attribute->Row() : element.Row(),
               attribute->Row() > 0 ? attribute->Column() : element.Column(),
               "unknown attribute " + name + " of <" + element.ValueStr() + ">" +
                   suggestion(name, asked, "", ""));
    }
}

// --- Files the settings name ----------------------------------------------------------------------

std::string SceneCheck::findDataFile(const std::string& name) const
{
    if (name.empty())
        return std::string();
    if (PathRule::isAbsolute(name))
        return PathRule::isReadableFile(name) ? name : std::string();
    for (const std::string* base : {&_location.temporaryDirectory, &_location.workingDirectory})
    {
        const std::string path = PathRule::resolve(*base, name);
        if (PathRule::isReadableFile(path))
            return path;
    }
    return std::string();
}

void SceneCheck::checkCameraFiles()
{
    if (!_video)
        return;
    const std::string& settings = _paths["video"];
    for (const VideoCamera& camera : _video->getCameras())
    {
        const std::string path = findDataFile(camera.getPath());
        if (path.empty())
        {
            report(settings, camera.getLine(), 1,
                   "camera file " + quoted(camera.getPath()) +
                       " not found (looked in the scene's folder and in the working directory)");
            continue;
        }
        osgART::CameraParameters parameters;
        std::string error;
        if (!parameters.load(path, &error))
            report(settings, camera.getLine(), 1, "camera file " + quoted(camera.getPath()) + ": " + error);
    }
}

void SceneCheck::checkMarkers()
{
    if (!_markers)
        return;
    const std::string& settings = _paths["markers"];
    const std::string& patterns = _markers->getPatternsFile();
    if (!patterns.empty() && findDataFile(patterns).empty())
        report(settings, _rootLines[settings], 1, "patterns file " + quoted(patterns) + " not found");
    for (const MarkerData& marker : _markers->getMarkers())
        checkMarkerFile(marker);
    checkDuplicateMarkers();
}

// Two markers under one id put their objects on whichever the tracker enters last; two with one
// pattern file (or one picture) cannot be told apart, so one of them is never seen as itself.
void SceneCheck::checkDuplicateMarkers()
{
    const std::string& settings = _paths["markers"];
    std::map<unsigned int, const MarkerData*> byId;
    std::map<std::string, const MarkerData*> byFile;
    for (const MarkerData& marker : _markers->getMarkers())
    {
        const auto sameId = byId.emplace(marker.getId(), &marker);
        if (!sameId.second)
            report(settings, marker.getLine(), 1,
                   "marker " + std::to_string(marker.getId()) + " is declared twice (first on line " +
                       std::to_string(sameId.first->second->getLine()) + ")");
        if (marker.getPath().empty())
            continue;
        std::error_code error;
        const std::string path = PathRule::resolve(_location.temporaryDirectory, marker.getPath());
        const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
        const auto sameFile = byFile.emplace(error ? path : canonical.string(), &marker);
        if (!sameFile.second)
            report(settings, marker.getLine(), 1,
                   "markers " + std::to_string(sameFile.first->second->getId()) + " and " +
                       std::to_string(marker.getId()) + " use the same " +
                       (marker.getType() == "image" ? "picture" : "pattern file") + " " +
                       quoted(marker.getPath()) + ": the tracker cannot tell them apart");
    }
}

// The marker's pattern (or picture, for an image target) opened as the tracker will open it.
void SceneCheck::checkMarkerFile(const MarkerData& marker)
{
    const std::string& settings = _paths["markers"];
    const std::string where = "marker " + std::to_string(marker.getId()) + ": ";
    // The record holds no size of 0 or under (its reader reports such a size and uses 80).
    const bool sizeFits = marker.getSize() <= osgART::ImageTarget::kMaximumWidth;
    if (!sizeFits)
        report(settings, marker.getLine(), 1,
               where + "size must be a width in millimetres above 0 and at most " +
                   std::to_string(int(osgART::ImageTarget::kMaximumWidth)));
    const std::string path = PathRule::resolve(_location.temporaryDirectory, marker.getPath());
    if (!PathRule::isReadableFile(path))
    {
        // A multi marker without its file is generated from its submarkers.
        if (!isMultiMarker(marker.getType()) || marker.getSubmarkers().empty())
            report(settings, marker.getLine(), 1,
                   where + "pattern file " + quoted(marker.getPath()) + " not found (looked for " +
                       shownPath(path) + ")");
        return;
    }
    std::string error;
    if (marker.getType() == "image")
    {
        // Trained as the tracker trains it: every reason the player would refuse it is found.
        if (sizeFits && !osgART::ImageTarget().load(path, marker.getSize(), &error))
            report(settings, marker.getLine(), 1, where + error);
    }
    else if (isMultiMarker(marker.getType()))
        checkMultiMarkerFile(path, marker);
    else if (!osgART::Pattern().load(path, &error))
        report(settings, marker.getLine(), 1,
               where + "pattern file " + quoted(marker.getPath()) + ": " + error);
}

// The multi-marker file and each square's pattern, as the tracker reads them.
void SceneCheck::checkMultiMarkerFile(const std::string& path, const MarkerData& marker)
{
    const std::string& settings = _paths["markers"];
    const std::string where = "marker " + std::to_string(marker.getId()) + ": ";
    osgART::MultiMarkerSetup setup;
    std::string error;
    if (!setup.load(path, &error))
    {
        report(settings, marker.getLine(), 1, where + error);
        return;
    }
    for (const osgART::Submarker& submarker : setup.submarkers)
        if (!osgART::Pattern().load(submarker.patternPath, &error))
            report(settings, marker.getLine(), 1,
                   where + "pattern file " + quoted(submarker.patternPath) + " of the multi-marker file " +
                       quoted(marker.getPath()) + ": " + error);
}

void SceneCheck::checkSceneModel()
{
    if (!_scene || _scene->getSource().empty())
        return;
    const std::string path =
        PathRule::resolveSource(_location.temporaryDirectory, _scene->getSourceFolder(), _scene->getSource());
    checkModelFile(path, _rootLines[_paths["scene"]], "scene model");
}

void SceneCheck::checkSceneObjects()
{
    if (!_scene)
        return;
    const std::string& settings = _paths["scene"];
    for (const auto& video : _scene->getVideos())
        if (!PathRule::isReadableFile(PathRule::resolve(_location.temporaryDirectory, video.second)))
            report(settings, _rootLines[settings], 1,
                   "movie " + quoted(video.second) + " of the video tag " + quoted(video.first) +
                       " not found");
    for (const ObjectData& object : _scene->getObjects())
        if (!object.getIgnore())
            checkObject(object);
}

void SceneCheck::checkObject(const ObjectData& object)
{
    const std::string& settings = _paths["scene"];
    const std::string name = "object " + quoted(object.getName());
    const std::set<std::string> types(objectTypes.begin(), objectTypes.end());
    if (!types.count(object.getType()))
        report(settings, object.getLine(), 1,
               name + ": unknown type " + quoted(object.getType()) +
                   suggestion(object.getType(), types, "\"", "\""));
    const bool lightFromProperties = object.getType() == "ARLight" && object.getUseProperties();
    if (!object.getSource().empty())
        checkModelFile(PathRule::resolveSource(_location.temporaryDirectory, object.getSourceFolder(),
                                               object.getSource()),
                       object.getModelLine(), name);
    else if (!lightFromProperties && (!_scene || _scene->getSource().empty()))
        report(settings, object.getModelLine(), 1,
               name + ": no model (neither the object nor the scene names one)");
    if (object.getType() == "ARVideo")
        checkMovieFile(object.getVideo(), object.getModelLine(), name);
    if (object.getType() == "ARAudio")
        checkSoundFile(object.getAudio(), object.getModelLine(), name);
    checkObjectFiles(object);
    checkObjectMarkers(object);
}

namespace
{

// The material libraries an OBJ names and the textures they name, where its reader looks for them
// (beside the file that names them), that are not there: the model then plays untextured or white,
// with nothing said.
std::vector<std::string> missingObjFiles(const std::string& obj)
{
    std::vector<std::string> missing;
    const std::filesystem::path folder = std::filesystem::path(obj).parent_path();
    // The names a file's statements give, read a line at a time.
    const auto namesAfter = [](const std::string& path, std::string (*statement)(const std::string&))
    {
        std::vector<std::string> names;
        std::ifstream file(path);
        std::string line;
        for (int count = 0; count < 1000000 && std::getline(file, line); ++count)
        {
            const std::string name = statement(line);
            if (!name.empty())
                names.push_back(name);
        }
        return names;
    };
    const auto library = ModelReferences::materialLibrary;
    const auto texture = ModelReferences::textureMap;
    for (const std::string& name : namesAfter(obj, library))
    {
        const std::filesystem::path material = folder / name;
        if (!PathRule::isReadableFile(material.string()))
        {
            missing.push_back("material library " + quoted(name) + " not found (looked for " +
                              shownPath(material.string()) + ")");
            continue;
        }
        for (const std::string& image : namesAfter(material.string(), texture))
            if (image.find("://") == std::string::npos &&
                !PathRule::isReadableFile((material.parent_path() / image).string()))
                missing.push_back("texture " + quoted(image) + " of " + quoted(name) +
                                  " not found (looked for " +
                                  shownPath((material.parent_path() / image).string()) + ")");
    }
    return missing;
}

// Empty when the model is accepted by the file check and read by a plugin, as the player reads it;
// else why not.
std::string readableModel(const std::string& model)
{
    osg::ref_ptr<osg::Node> node;
    std::string failure;
    const std::string reason = checkAndReadModel(model, node, failure);
    if (!reason.empty() || node.valid())
        return reason;
    return "no model reader can read it (." + osgDB::getLowerCaseFileExtension(model) + "): " + failure;
}

} // namespace

// A model the player would load: found, accepted by the file check, and read by a plugin. A KMZ
// archive is unpacked into the private temporary folder as the player does, and removed again.
void SceneCheck::checkModelFile(const std::string& path, int line, const std::string& name)
{
    const std::string& settings = _paths["scene"];
    if (!PathRule::isReadableFile(path))
    {
        report(settings, line, 1, name + ": model file not found (looked for " + shownPath(path) + ")");
        return;
    }
    std::vector<std::string> unpacked;
    std::string model = path;
    if (osgDB::getLowerCaseFileExtension(path) == "kmz")
    {
        const std::string folder = PrivateFolder::uniqueName(KmzImporter::folderName(path));
        const std::vector<std::string> models = KmzImporter::importArchive(path, folder, unpacked);
        model = models.empty() ? std::string() : models.front();
        if (folder.empty())
        {
            report(settings, line, 1,
                   name + ": model " + quoted(path) +
                       ": cannot be unpacked: there is no private temporary folder");
            return;
        }
    }
    std::string reason = model.empty() ? "the archive holds no COLLADA model" : readableModel(model);
    if (reason.empty() && osgDB::getLowerCaseFileExtension(model) == "obj")
        for (const std::string& missing : missingObjFiles(model))
            report(settings, line, 1, name + ": model " + quoted(path) + ": " + missing);
    for (const std::string& folder : unpacked)
        KmzImporter::cleanupFolder(folder);
    if (!reason.empty())
        report(settings, line, 1, name + ": model " + quoted(path) + ": " + reason);
}

void SceneCheck::checkMovieFile(const std::string& movie, int line, const std::string& name)
{
    const std::string& settings = _paths["scene"];
    if (movie.empty())
    {
        report(settings, line, 1, name + ": a video object needs a movie (video=\"...\")");
        return;
    }
    const std::string path = PathRule::resolve(_location.temporaryDirectory, movie);
    int width = 0;
    int height = 0;
    if (!PathRule::isReadableFile(path))
        report(settings, line, 1, name + ": movie file not found (looked for " + shownPath(path) + ")");
    else if (osgART::readImageHeaderSize(path, width, height))
        report(settings, line, 1, name + ": " + quoted(movie) + " is a still image, not a movie");
    else
    {
        osg::ref_ptr<osg::Image> image =
            osgDB::readRefImageFile(path, osgDB::Registry::instance()->getOptions());
        osg::ref_ptr<osg::ImageStream> stream = dynamic_cast<osg::ImageStream*>(image.get());
        if (!stream.valid())
            report(settings, line, 1, name + ": the movie reader cannot read " + quoted(movie));
        else
            stream->quit(true);
    }
}

void SceneCheck::checkSoundFile(const std::string& sound, int line, const std::string& name)
{
    const std::string& settings = _paths["scene"];
    if (sound.empty())
    {
        report(settings, line, 1, name + ": a sound object needs a sound file (audio=\"...\")");
        return;
    }
    const std::string path = PathRule::resolve(_location.temporaryDirectory, sound);
    if (!PathRule::isReadableFile(path))
    {
        report(settings, line, 1, name + ": sound file not found (looked for " + shownPath(path) + ")");
        return;
    }
    std::string unplayable = ARAudio::unplayedFileType(path);
    if (unplayable.empty())
        unplayable = AudioOutput::checkPlayable(path);
    if (!unplayable.empty())
        report(settings, line, 1, name + ": cannot play " + quoted(sound) + ": " + unplayable);
}

// The events file (read and checked like a settings file) and the description file.
void SceneCheck::checkObjectFiles(const ObjectData& object)
{
    const std::string& settings = _paths["scene"];
    const std::string name = "object " + quoted(object.getName());
    if (!object.getEventsFile().empty())
    {
        const std::string path = PathRule::resolve(_location.temporaryDirectory, object.getEventsFile());
        std::optional<EventsData> events;
        if (!PathRule::isReadableFile(path))
            report(settings, object.getLine(), 1,
                   name + ": events file not found (looked for " + shownPath(path) + ")");
        else if (readSettingsFile<XMLEventsParserManager>(path, "events", events) && events)
            checkActions(path, object, *events);
    }
    if (!object.getDescriptionFile().empty() &&
        !PathRule::isReadableFile(
            PathRule::resolve(_location.temporaryDirectory, object.getDescriptionFile())))
        report(settings, object.getLine(), 1,
               name + ": description file " + quoted(object.getDescriptionFile()) + " not found");
}

// Each action's command is one the player knows and the objects it names are in the scene: the
// player reports either only once the scene plays, and then the action does nothing.
void SceneCheck::checkActions(const std::string& path, const ObjectData& object, const EventsData& events)
{
    std::set<std::string> commands, objects = {"_self_"};
    const ARActionFactory factory(nullptr);
    for (const auto& command : factory.getCommands())
        commands.insert(command.first);
    if (_scene)
        for (const ObjectData& each : _scene->getObjects())
            objects.insert(each.getName());
    for (const EventData& event : events.getEvents())
        for (const ActionData& action : event.getActions())
        {
            const std::string where =
                "object " + quoted(object.getName()) + ", event " + event.getName() + ": ";
            if (!commands.count(action.getCommand()))
                report(path, action.getLine(), 1,
                       where + "unknown command " + quoted(action.getCommand()) +
                           suggestion(action.getCommand(), commands, "\"", "\""));
            for (const std::string& named : {action.getSource(), action.getTarget()})
                if (!objects.count(named))
                    report(path, action.getLine(), 1,
                           where + "no object of the scene is named " + quoted(named) +
                               suggestion(named, objects, "\"", "\""));
        }
}

void SceneCheck::checkObjectMarkers(const ObjectData& object)
{
    if (!_markers || object.getAllMarkers())
        return;
    std::set<int> declared;
    std::string declaredList;
    for (const MarkerData& marker : _markers->getMarkers())
    {
        declared.insert(static_cast<int>(marker.getId()));
        declaredList += (declaredList.empty() ? "" : ", ") + std::to_string(marker.getId());
    }
    for (int id : object.getMarkerIds())
        if (!declared.count(id))
            report(_paths["scene"], object.getMarkerLine(id), 1,
                   "object " + quoted(object.getName()) + " is on marker " + std::to_string(id) +
                       ", which the markers file does not declare (it declares " +
                       (declaredList.empty() ? std::string("none") : declaredList) + ")");
}

// A marker no object is on shows nothing when it is found: most often an ID typed wrong on one
// side.
void SceneCheck::checkMarkerUse()
{
    if (!_markers || !_scene)
        return;
    std::set<int> used;
    for (const ObjectData& object : _scene->getObjects())
    {
        if (object.getIgnore())
            continue;
        if (object.getAllMarkers())
            return;
        used.insert(object.getMarkerIds().begin(), object.getMarkerIds().end());
    }
    for (const MarkerData& marker : _markers->getMarkers())
        if (!used.count(static_cast<int>(marker.getId())))
            report(_paths["markers"], marker.getLine(), 1,
                   "marker " + std::to_string(marker.getId()) + " (" + quoted(marker.getName()) +
                       ") carries no object: no object of the scene names it");
}

void SceneCheck::checkSoundtracks()
{
    if (!_audio)
        return;
    for (const SoundtrackData& soundtrack : _audio->getSoundtracks())
    {
        const std::string path = PathRule::resolve(_location.temporaryDirectory, soundtrack.getSource());
        const std::string name = "soundtrack " + quoted(soundtrack.getName());
        if (!PathRule::isReadableFile(path))
            report(_paths["audio"], soundtrack.getLine(), 1,
                   name + ": sound file not found (looked for " + shownPath(path) + ")");
        else if (const std::string unplayable = AudioOutput::checkPlayable(path); !unplayable.empty())
            report(_paths["audio"], soundtrack.getLine(), 1, name + ": cannot play it: " + unplayable);
    }
}

} // namespace Novaro
