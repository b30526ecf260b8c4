#include "app/MetadataFile.h"

#include "settings/SceneBoundary.h"

#include <osg/Notify>
#include <osgART/InputFiles.h>
#include <osgDB/FileNameUtils>

#include <mutex>
#include <set>
#include <sstream>

namespace Novaro
{
namespace MetadataFile
{

std::string trim(const std::string& text)
{
    const char* blanks = " \t\r\n";
    const std::string::size_type first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    const std::string::size_type last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

namespace
{

// Largest metadata file read, bytes (64 KiB): it names seven files, in a few hundred bytes.
const std::size_t maximumFileBytes = 64 * 1024;
// Longest key or value kept, characters (1024); the rest of a longer one is cut off.
const std::size_t maximumTextLength = 1024;

// The file is read afresh for every key: each problem is said once per file and line.
void sayOnce(const std::string& place, const std::string& message)
{
    static std::mutex mutex;
    static std::set<std::string> told;
    std::lock_guard<std::mutex> lock(mutex);
    if (told.insert(place + message).second)
        osg::notify(osg::FATAL) << " WARNING: " << place << ": " << message << std::endl;
}

std::string bounded(const std::string& text)
{
    return text.size() <= maximumTextLength ? text : text.substr(0, maximumTextLength) + "...";
}

} // namespace

std::vector<Entry> entries(const std::string& path)
{
    std::vector<Entry> result;
    std::string content, error;
    if (!osgART::isReadableRegularFile(path))
        return result;
    if (!osgART::readBoundedFile(path, maximumFileBytes, content, error))
    {
        sayOnce(path, "not read: " + error);
        return result;
    }
    std::istringstream file(content);
    const std::string folder = osgDB::getFilePath(path);
    std::string line;
    for (int number = 1; std::getline(file, line); ++number)
    {
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const std::string::size_type at = line.find('@');
        Entry entry = at == std::string::npos
                          ? Entry{bounded(line), bounded(line), number, std::string()}
                          : Entry{bounded(trim(line.substr(0, at))), bounded(trim(line.substr(at + 1))),
                                  number, std::string()};
        if (SceneBoundary::leadsOutside(folder, entry.value))
        {
            entry.refusedValue = entry.value;
            entry.value = SceneBoundary::lastComponent(entry.value);
            sayOnce(path + ":" + std::to_string(number),
                    "refusing the name '" + entry.refusedValue + "': it leads outside the scene's folders (" +
                        SceneBoundary::describeFolders() + "); read as '" + entry.value +
                        "' in the scene's folder.");
        }
        result.push_back(entry);
    }
    return result;
}

std::string lookup(const std::string& path, const std::string& key)
{
    for (const Entry& entry : entries(path))
        if (entry.key == key)
            return entry.value;
    return std::string();
}

} // namespace MetadataFile
} // namespace Novaro
