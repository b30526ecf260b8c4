// The player's subsystems are layered as the README draws them (lowest last in the drawing); a
// layer may include and name only what lies below it, and the tracking library and the plugins
// keep apart except where the README says why. A lower layer that needs a higher one owns an
// interface instead, so any of these failing means a dependency went up.
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;

const std::string SOURCE_DIRECTORY = NOVARO_SOURCE_DIR;

using NovaroTest::readFile;

// The folders of the README's drawing under "### Layers", lowest first.
std::vector<std::string> layersOfReadme()
{
    std::istringstream readme(readFile(SOURCE_DIRECTORY + "/README.md"));
    std::vector<std::string> layers;
    const std::regex entry(R"(^  ([a-z]+) +\S)");
    bool inSection = false;
    bool inDrawing = false;
    std::string line;
    while (std::getline(readme, line))
    {
        if (line.rfind("### ", 0) == 0 || line.rfind("## ", 0) == 0)
            inSection = line == "### Layers";
        else if (inSection && line.rfind("```", 0) == 0)
            inDrawing = !inDrawing;
        std::smatch match;
        if (inSection && inDrawing && std::regex_search(line, match, entry))
            layers.insert(layers.begin(), match[1]);
    }
    return layers;
}

struct Include
{
    std::string header; // as written, without the quotes or brackets
    bool angled;
};

std::vector<Include> includesOf(const std::string& text)
{
    static const std::regex include(R"(^\s*#\s*include\s+([<"])([^>"]+)[>"])",
                                    std::regex::ECMAScript | std::regex::multiline);
    std::vector<Include> includes;
    for (std::sregex_iterator it(text.begin(), text.end(), include), end; it != end; ++it)
        includes.push_back({(*it)[2], (*it)[1] == "<"});
    return includes;
}

std::vector<fs::path> sourcesUnder(const fs::path& folder)
{
    std::vector<fs::path> sources;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.path().extension() == ".h" || entry.path().extension() == ".cpp")
            sources.push_back(entry.path());
    std::sort(sources.begin(), sources.end());
    return sources;
}

std::string sourcePath(const fs::path& path)
{
    return fs::relative(path, SOURCE_DIRECTORY).string();
}

// The player's layers as the README draws them, with the headers and classes each one holds.
class Layers : public ::testing::Test
{
protected:
    void SetUp() override
    {
        layers = layersOfReadme();
        ASSERT_GE(layers.size(), 2u) << "README.md lost its drawing of the layers";
        ASSERT_EQ(layers.front(), "osgart") << "the tracking library is the lowest layer";
        const std::regex definition(R"(\bclass\s+(\w+)\s*(?:final\s*)?(?::[^;{()]*)?\{)");
        for (size_t index = 1; index < layers.size(); ++index)
            for (const fs::path& file : sourcesUnder(SOURCE_DIRECTORY + "/src/" + layers[index]))
            {
                if (file.extension() == ".h")
                    playerHeaders[file.filename().string()] = layers[index];
                const std::string text = readFile(file);
                for (std::sregex_iterator it(text.begin(), text.end(), definition), end; it != end; ++it)
                    definedIn.emplace((*it)[1], static_cast<int>(index));
            }
    }

    // Index in the drawing, or -1 for a folder that is not a player's layer.
    int layerOf(const std::string& folder) const
    {
        const auto found = std::find(layers.begin() + 1, layers.end(), folder);
        return found == layers.end() ? -1 : static_cast<int>(found - layers.begin());
    }

    std::vector<std::string> layers;
    std::map<std::string, std::string> playerHeaders; // file name to layer folder
    std::map<std::string, int> definedIn;             // each of the player's classes to its layer
};

// A lower layer neither includes a higher one's headers nor declares its classes (a declaration
// anywhere on a line, "namespace Novaro { class ARApplication; }" too).
TEST_F(Layers, IncludesAndDeclarationsGoOnlyDown)
{
    ASSERT_TRUE(definedIn.count("ARApplication") && definedIn.count("ARObject"));

    const std::regex declaration(R"(\bclass\s+(\w+)\s*;)");
    for (size_t index = 1; index < layers.size(); ++index)
        for (const fs::path& file : sourcesUnder(SOURCE_DIRECTORY + "/src/" + layers[index]))
        {
            const std::string text = readFile(file);
            for (const Include& include : includesOf(text))
            {
                const size_t slash = include.header.find('/');
                const std::string folder = include.header.substr(0, slash);
                if (slash != std::string::npos && layerOf(folder) > static_cast<int>(index))
                    ADD_FAILURE() << sourcePath(file) << " includes " << include.header
                                  << " of the higher layer " << folder << "/: give " << layers[index]
                                  << "/ an interface instead";
                else if (slash == std::string::npos && playerHeaders.count(include.header))
                    ADD_FAILURE() << sourcePath(file) << ": include " << include.header << " by its folder ("
                                  << playerHeaders.at(include.header) << "/)";
            }
            for (std::sregex_iterator it(text.begin(), text.end(), declaration), end; it != end; ++it)
            {
                const auto defined = definedIn.find((*it)[1]);
                if (defined != definedIn.end() && defined->second > static_cast<int>(index))
                    ADD_FAILURE() << sourcePath(file) << " declares " << (*it)[1] << " of the higher layer "
                                  << layers[defined->second] << "/";
            }
        }
}

TEST_F(Layers, TrackingLibraryAndPluginsKeepApart)
{
    const std::map<std::string, std::string> sides = {{"src/osgart", "src/plugins"},
                                                      {"src/plugins", "src/osgart"}};
    // The README's permissions between the tracking library and the plugins: "`src/folder` includes
    // `Header.h` of `src/other`".
    std::set<std::string> allowed;
    const std::string readme = readFile(SOURCE_DIRECTORY + "/README.md");
    const std::regex permission(R"(`(src/[^`]+)` includes `([^`]+)` of `(src/[^`]+)`)");
    for (std::sregex_iterator it(readme.begin(), readme.end(), permission), end; it != end; ++it)
        allowed.insert((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str());
    std::set<std::string> used;
    for (const auto& [side, other] : sides)
    {
        // The other side's headers by file name, with the folder that holds each.
        std::map<std::string, std::string> otherHeaders;
        for (const fs::path& file : sourcesUnder(SOURCE_DIRECTORY + "/" + other))
            if (file.extension() == ".h")
                otherHeaders[file.filename().string()] = sourcePath(file.parent_path());
        for (const fs::path& file : sourcesUnder(SOURCE_DIRECTORY + "/" + side))
            for (const Include& include : includesOf(readFile(file)))
            {
                const std::string folder = include.header.substr(0, include.header.find('/'));
                if (include.header.find('/') != std::string::npos && layerOf(folder) > 0)
                    ADD_FAILURE() << sourcePath(file) << " includes the player's " << include.header;
                const std::string name = fs::path(include.header).filename().string();
                const auto found = otherHeaders.find(name);
                const bool otherSide =
                    found != otherHeaders.end() || (side == "src/plugins" && folder == "osgART");
                if (!otherSide)
                    continue;
                const std::string permission = sourcePath(file.parent_path()) + " " + name + " " +
                                               (found != otherHeaders.end() ? found->second : "");
                if (allowed.count(permission))
                    used.insert(permission);
                else
                    ADD_FAILURE() << sourcePath(file) << " includes " << include.header << " across " << side
                                  << " and " << other << ": say why in README.md (Layers), or remove it";
            }
    }
    for (const std::string& permission : allowed)
        EXPECT_TRUE(used.count(permission))
            << "README.md allows " << permission << ", which nothing uses any more";
}

} // namespace
