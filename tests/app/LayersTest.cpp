// The player's subsystems are layered (settings, tracking, scene, effects, interaction, app); an
// include of a higher layer's header is allowed only where the README's "Layers" list names it, so
// that a new call up a layer is either listed there with its reason or fails here.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace
{

const std::string SOURCE_DIRECTORY = NOVARO_SOURCE_DIR;
const std::vector<std::string> LAYERS = {"settings", "tracking", "scene", "effects", "interaction", "app"};

int layerOf(const std::string& folder)
{
    const auto found = std::find(LAYERS.begin(), LAYERS.end(), folder);
    return found == LAYERS.end() ? -1 : static_cast<int>(found - LAYERS.begin());
}

// The README's permissions: source path (or "src/folder/*") to the folders it may reach up to.
std::map<std::string, std::set<std::string>> allowedUpwardIncludes()
{
    std::ifstream readme(SOURCE_DIRECTORY + "/README.md");
    std::map<std::string, std::set<std::string>> allowed;
    const std::regex entry(R"(^- (.*) reach(?:es)? up to ((?:`[a-z]+/`(?:, )?)+):)");
    const std::regex quoted("`([^`]+)`");
    std::string line;
    while (std::getline(readme, line))
    {
        std::smatch match;
        if (!std::regex_search(line, match, entry))
            continue;
        std::set<std::string> folders;
        const std::string targets = match[2];
        for (std::sregex_iterator it(targets.begin(), targets.end(), quoted), end; it != end; ++it)
            folders.insert((*it)[1].str().substr(0, (*it)[1].str().size() - 1));
        const std::string sources = match[1];
        for (std::sregex_iterator it(sources.begin(), sources.end(), quoted), end; it != end; ++it)
            allowed[(*it)[1]].insert(folders.begin(), folders.end());
    }
    return allowed;
}

struct Include
{
    std::string source; // "src/scene/ARObject.cpp"
    std::string folder; // the folder its header is in
};

std::vector<Include> upwardIncludes(std::vector<std::string>& bareIncludes)
{
    std::vector<Include> upward;
    const std::regex include(R"(^\s*#\s*include\s+"([^"]+)\")");
    for (const std::string& layer : LAYERS)
    {
        for (const auto& file : std::filesystem::directory_iterator(SOURCE_DIRECTORY + "/src/" + layer))
        {
            const std::string source = "src/" + layer + "/" + file.path().filename().string();
            std::ifstream in(file.path());
            std::string line;
            while (std::getline(in, line))
            {
                std::smatch match;
                if (!std::regex_search(line, match, include))
                    continue;
                const std::string header = match[1];
                const size_t slash = header.find('/');
                if (slash == std::string::npos)
                {
                    bareIncludes.push_back(source + ": " + header);
                    continue;
                }
                const std::string folder = header.substr(0, slash);
                if (layerOf(folder) > layerOf(layer))
                    upward.push_back({source, folder});
            }
        }
    }
    return upward;
}

} // namespace

TEST(Layers, IncludesGoUpOnlyWhereTheReadmeSaysSo)
{
    const auto allowed = allowedUpwardIncludes();
    ASSERT_FALSE(allowed.empty()) << "README.md lost its list of includes that go up a layer";

    std::vector<std::string> bareIncludes;
    std::set<std::string> unlisted;
    std::set<std::string> used; // "key folder" for each README permission an include needs
    for (const Include& include : upwardIncludes(bareIncludes))
    {
        // Listed for the source itself or for its whole folder ("src/folder/*").
        bool listed = false;
        for (const std::string& key :
             {include.source, include.source.substr(0, include.source.rfind('/') + 1) + "*"})
        {
            const auto found = allowed.find(key);
            if (found != allowed.end() && found->second.count(include.folder))
            {
                listed = true;
                used.insert(key + " " + include.folder);
            }
        }
        if (!listed)
            unlisted.insert(include.source + " reaches up to " + include.folder + "/");
    }
    for (const std::string& each : unlisted)
        ADD_FAILURE() << each << ": list it with its reason in README.md (Layers), or include downwards";
    for (const std::string& each : bareIncludes)
        ADD_FAILURE() << each << ": include the player's headers by folder";

    // A listed permission nothing uses any more is stale text.
    for (const auto& [source, folders] : allowed)
        for (const std::string& folder : folders)
            EXPECT_TRUE(used.count(source + " " + folder))
                << "README.md lists " << source << " reaching up to " << folder
                << "/, which it no longer does";
}
