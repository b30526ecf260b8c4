#pragma once

#include "settings/AudioData.h"
#include "settings/EventsData.h"
#include "settings/MarkersData.h"
#include "settings/SceneData.h"
#include "settings/VideoData.h"

#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

class TiXmlElement;
class TiXmlNode;

namespace Novaro
{

class XMLParserManager;

class XMLLookupRecord;
struct SceneProblem;

// Reads a whole scene the way the player would, without a camera or a window, and lists what is
// wrong with it: the metadata file, the seven settings files (every element and attribute no
// reader reads, with the closest name a reader knows), and every file they name, found by the
// player's own path rules and opened by the player's own readers: models (through the registry's
// plugins, KMZ archives unpacked and removed again), movies, sounds, events and description files,
// marker patterns and camera files. Markers without objects and objects on undeclared markers are
// reported too.
//
// A model is read whole, so checking a scene costs about as much time and memory as loading it.
class SceneCheck
{
public:
    // Where the scene is, as the player's command line says it.
    struct Location
    {
        // Folder of the configuration, tracker and video settings.
        std::string workingDirectory = ".";
        // Folder of the scene, audio, markers and lighting settings and of the metadata file.
        std::string temporaryDirectory = ".";
        // The metadata file named by the user; empty: "model.dat" in the temporary directory when
        // there is one.
        std::string metadata;
        // Settings files named on the command line, by metadata key ("scene", "markers", ...);
        // used only without a metadata file, as the player does.
        std::map<std::string, std::string> named;
    };

    explicit SceneCheck(const Location& location);

    // Reads everything; the problems in the order found (empty for a sound scene).
    std::vector<SceneProblem> run();

private:
    void locateSettingsFiles();
    std::string findMetadataFile();
    void readMetadataFile(const std::string& path);
    void locateUnnamedSettingsFiles();
    // The working directory for the configuration, tracker and video settings, else the temporary.
    const std::string& directoryOf(bool inWorkingDirectory) const;
    void readSettingsFiles();
    template <class Reader, class Data>
    bool readSettingsFile(const std::string& path, const char* kind, std::optional<Data>& data);
    void reportUnreadChildren(const std::string& path, const TiXmlNode& parent,
                              const XMLLookupRecord& record);
    void reportUnreadElement(const std::string& path, const TiXmlElement& element,
                             const XMLLookupRecord& record);
    void reportUnreadAttributes(const std::string& path, const TiXmlElement& element,
                                const XMLLookupRecord& record);

    void checkCameraFiles();
    void checkMarkers();
    void checkMarkerFile(const MarkerData& marker);
    void checkMultiMarkerFile(const std::string& path, const MarkerData& marker);
    void checkSceneModel();
    void checkSceneObjects();
    void checkObject(const ObjectData& object);
    void checkModelFile(const std::string& path, int line, const std::string& name);
    void checkMovieFile(const std::string& name, int line, const std::string& what);
    void checkSoundFile(const std::string& path, int line, const std::string& what);
    void checkObjectFiles(const ObjectData& object);
    void checkObjectMarkers(const ObjectData& object);
    void checkMarkerUse();
    void checkSoundtracks();

    // The data file as the tracker set-up finds it: absolute as it stands, else in the temporary
    // directory, then in the working directory. Empty when neither has it.
    std::string findDataFile(const std::string& name) const;
    void report(const std::string& file, int line, int column, const std::string& message);
    // The names the reader blanked for leading outside the scene's folders, each where it stood.
    void reportRefusedNames(const std::string& path, const XMLParserManager& reader);
    void checkActions(const std::string& path, const ObjectData& object, const EventsData& events);
    void reportBadNumbers(const std::string& path, const XMLLookupRecord& record);
    void checkDuplicateMarkers();

    Location _location;
    std::vector<SceneProblem> _problems;
    std::string _metadataPath;
    // Settings files found, by metadata key, and the line of each one's root element.
    std::map<std::string, std::string> _paths;
    std::map<std::string, int> _rootLines;
    std::optional<VideoData> _video;
    std::optional<MarkersData> _markers;
    std::optional<SceneData> _scene;
    std::optional<AudioData> _audio;
};

// One problem of a scene: the file, the line and column in it (0 when the problem has no place
// in the file's text) and what is wrong.
struct SceneProblem
{
    std::string file;
    int line = 0;
    int column = 0;
    std::string message;

    // "file:line:column: message", or "file: message" without a place.
    std::string text() const;
};

// Prints each problem on its own line and returns the exit status of a check: 1 when there are
// problems, 0 when there are none (and nothing is printed).
int printSceneProblems(const std::vector<SceneProblem>& problems, std::ostream& out);

} // namespace Novaro
