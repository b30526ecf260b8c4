#pragma once

// Runs the real player executable as a user would, in a directory of the test's own, and
// collects its console output and exit status.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <filesystem>

namespace NovaroTest
{

struct PlayerRun
{
    int status = -1;
    std::string output;

    bool printed(const std::string& line) const
    {
        std::istringstream lines(output);
        std::string current;
        while (std::getline(lines, current))
        {
            if (current == line)
                return true;
        }
        return false;
    }
};

inline std::string quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
    {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// Runs the player with the arguments (each quoted) from the given directory.
inline PlayerRun runPlayer(const std::string& directory, const std::vector<std::string>& arguments,
                           const std::string& environment = std::string())
{
    // A file of this run's own: several tests may start players in the same directory at once.
    char pattern[] = "/tmp/novaro-player-output-XXXXXX";
    const int descriptor = mkstemp(pattern);
    if (descriptor >= 0)
        close(descriptor);
    const std::string outputFile = pattern;
    std::string command = "cd " + quote(directory) + " && " + environment + " " +
                          quote(std::string(NOVARO_RUN_DIR) + "/novaro");
    for (const std::string& argument : arguments)
        command += " " + quote(argument);
    command += " > " + quote(outputFile) + " 2>&1 < /dev/null";
    PlayerRun run;
    const int result = std::system(command.c_str());
    run.status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    std::ifstream file(outputFile.c_str());
    std::stringstream text;
    text << file.rdbuf();
    run.output = text.str();
    std::remove(outputFile.c_str());
    return run;
}

// A fresh, empty directory for one test, removed at the end.
class TemporaryDirectory
{
public:
    TemporaryDirectory()
    {
        char pattern[] = "/tmp/novaro-test-XXXXXX";
        _path = mkdtemp(pattern);
    }
    ~TemporaryDirectory()
    {
        std::error_code error;
        std::filesystem::remove_all(_path, error);
    }
    const std::string& path() const { return _path; }
    std::string file(const std::string& name) const { return _path + "/" + name; }
    void write(const std::string& name, const std::string& text) const
    {
        const std::filesystem::path target = std::filesystem::path(_path) / name;
        std::filesystem::create_directories(target.parent_path());
        std::ofstream file(target.c_str(), std::ios::binary);
        file << text;
    }

private:
    std::string _path;
};

} // namespace NovaroTest
