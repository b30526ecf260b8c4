#pragma once

// Runs the real player executable as a user would and collects its console output and exit status;
// and runs a test in a process of its own.

#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace NovaroTest
{

inline bool hasLine(const std::string& text, const std::string& line)
{
    std::istringstream lines(text);
    for (std::string current; std::getline(lines, current);)
        if (current == line)
            return true;
    return false;
}

// How many lines of the text hold the part.
inline int countLinesHolding(const std::string& text, const std::string& part)
{
    std::istringstream lines(text);
    int count = 0;
    for (std::string line; std::getline(lines, line);)
        count += line.find(part) != std::string::npos ? 1 : 0;
    return count;
}

// One run's status and output. While the object lives, every failing assertion also shows the
// player's output, so a failure says what the player printed.
class PlayerRun
{
public:
    PlayerRun(int status, const std::string& output)
        : status(status), output(output), _trace(__FILE__, __LINE__, "player output:\n" + output)
    {
    }
    bool printed(const std::string& line) const { return hasLine(output, line); }

    const int status;
    const std::string output;

private:
    ::testing::ScopedTrace _trace;
};

inline std::string quote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs an executable with the arguments (each quoted) from the given directory, with the
// environment variables given as NAME=value; its output goes through a file of this run's own, as
// several players may run in one directory at once.
inline PlayerRun runExecutable(const std::string& executable, const std::string& directory,
                               const std::vector<std::string>& arguments,
                               const std::vector<std::string>& environment = {})
{
    TemporaryFolder outputFolder;
    const std::string outputFile = outputFolder.file("output.txt");
    std::string command = "cd " + quote(directory) + " && env";
    for (const std::string& variable : environment)
        command += " " + quote(variable);
    command += " " + quote(executable);
    for (const std::string& argument : arguments)
        command += " " + quote(argument);
    command += " > " + quote(outputFile) + " 2>&1 < /dev/null";
    const int result = std::system(command.c_str());
    return PlayerRun(WIFEXITED(result) ? WEXITSTATUS(result) : -1, readFile(outputFile));
}

// The run directory's player, as runExecutable.
inline PlayerRun runPlayer(const std::string& directory, const std::vector<std::string>& arguments,
                           const std::vector<std::string>& environment = {})
{
    return runExecutable(std::string(NOVARO_RUN_DIR) + "/novaro", directory, arguments, environment);
}

// The sound output, and the audio library's configuration with it, is opened once per process, by
// whichever test plays a sound first: a test that configures it must be the first. Runs the calling
// test again, alone, in a fresh process of this test program, and checks that it passed there.
// Returns true in that fresh process (go on with the test) and false in this one (return).
inline bool inAFreshProcess()
{
    if (std::getenv("NOVARO_TEST_FRESH_PROCESS"))
        return true;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const PlayerRun run = runExecutable(
        std::filesystem::read_symlink("/proc/self/exe").string(), std::filesystem::current_path().string(),
        {"--gtest_filter=" + std::string(test->test_suite_name()) + "." + test->name()},
        {"NOVARO_TEST_FRESH_PROCESS=1"});
    EXPECT_EQ(0, run.status);
    return false;
}

} // namespace NovaroTest
