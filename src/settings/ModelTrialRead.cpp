#include "settings/ModelTrialRead.h"

#include "settings/ChildProcess.h"
#include "settings/SceneBoundary.h"

#include <osgDB/Registry>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <set>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Novaro
{

namespace
{

// Memory the trial reader may add to what it starts with, bytes: a model that needs more is no
// model for a marker.
const rlim_t kTrialReadMemoryGrowth = rlim_t(8) << 30;

// The command-line options of TrialReadRequest, each followed by one folder.
const char* const kLibraryOption = "--library";
const char* const kDataOption = "--data";
const char* const kSceneOption = "--scene";
const char* const kTrustedOption = "--trusted";

std::mutex readerMutex;
std::string readerExecutable;
std::vector<std::string> readerTrustedFolders;

// Set in the trial reader: the models its model names are read there as they come, a crash among
// them being the file's.
bool isTrialReader = false;

// The request for this model under the reader rules as they are now.
TrialReadRequest requestFor(const std::string& path)
{
    TrialReadRequest request;
    request.model = path;
    osgDB::Registry& registry = *osgDB::Registry::instance();
    const osgDB::FilePathList libraries = registry.getLibraryFilePathList();
    const osgDB::FilePathList data = registry.getDataFilePathList();
    request.libraryFolders.assign(libraries.begin(), libraries.end());
    request.dataFolders.assign(data.begin(), data.end());
    request.sceneFolders = SceneBoundary::folders();
    std::lock_guard<std::mutex> lock(readerMutex);
    request.trustedFolders = readerTrustedFolders;
    return request;
}

// Starts the program with the arguments, its standard streams on /dev/null and nothing else open;
// its process id, or -1 with the reason in 'error'. posix_spawn runs nothing of the player's in the
// new process before the program starts, so no lock of the player's is copied into it.
pid_t spawnQuietly(const std::vector<std::string>& arguments, std::string& error)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // None of the player's open files, sockets (the display's) or devices (the camera) is handed on.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = -1;
    const int failure = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failure == 0)
        return child;
    error = std::strerror(failure);
    return -1;
}

// The trial reader's address space now, bytes; 0 when unknown.
rlim_t addressSpace()
{
    std::ifstream statm("/proc/self/statm");
    unsigned long long pages = 0;
    if (!(statm >> pages))
        return 0;
    return rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE));
}

// Why the trial reader's end makes the file unsafe; empty when it exited normally.
std::string reasonOf(int status)
{
    if (status == -1)
        return "its reader did not finish it in " + std::to_string(kTrialReadSeconds) + " s";
    if (WIFSIGNALED(status))
    {
        const int signal = WTERMSIG(status);
        if (signal == SIGXCPU)
            return "its reader did not finish it in " + std::to_string(kTrialReadSeconds) +
                   " s of processor time";
        return std::string("its reader crashed on it (") + strsignal(signal) + ")";
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        return "its reader failed on it (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    return std::string();
}

void appendOption(std::vector<std::string>& arguments, const char* option,
                  const std::vector<std::string>& folders)
{
    for (const std::string& folder : folders)
    {
        arguments.push_back(option);
        arguments.push_back(folder);
    }
}

} // namespace

void setTrialReader(const std::string& executable, const std::vector<std::string>& trustedFolders)
{
    // The verdict is the trial reader's wait status. Whoever started this program may have ignored
    // SIGCHLD (that survives exec); the system would then take the status away unread, and a
    // reader's crash would pass for a clean read.
    signal(SIGCHLD, SIG_DFL);
    std::lock_guard<std::mutex> lock(readerMutex);
    readerExecutable = executable;
    readerTrustedFolders = trustedFolders;
}

bool needsTrialRead(const std::string& extension)
{
    // Checked before they are read, or read by the fuzzed Assimp reader.
    static const std::set<std::string> safe = {"osgb", "osgt", "ply", "fbx", "gltf", "glb"};
    return !extension.empty() && safe.count(extension) == 0;
}

std::string trialReadModelFile(const std::string& path)
{
    if (isTrialReader)
        return std::string();
    std::string executable;
    {
        std::lock_guard<std::mutex> lock(readerMutex);
        executable = readerExecutable;
    }
    if (executable.empty())
        return "the program that tries such models first, novaro-trial-read, is not installed beside this "
               "one";
    std::string error;
    const pid_t child = spawnQuietly(requestFor(path).toArguments(executable), error);
    if (child < 0)
        return "it could not be tried first in " + executable + " (" + error + ")";
    return reasonOf(waitForChild(child, std::chrono::seconds(kTrialReadSeconds)));
}

std::vector<std::string> TrialReadRequest::toArguments(const std::string& executable) const
{
    std::vector<std::string> arguments = {executable};
    appendOption(arguments, kLibraryOption, libraryFolders);
    appendOption(arguments, kDataOption, dataFolders);
    appendOption(arguments, kSceneOption, sceneFolders);
    appendOption(arguments, kTrustedOption, trustedFolders);
    arguments.push_back("--");
    arguments.push_back(model);
    return arguments;
}

bool TrialReadRequest::parse(int argc, const char* const* argv)
{
    const std::pair<const char*, std::vector<std::string>*> options[] = {{kLibraryOption, &libraryFolders},
                                                                         {kDataOption, &dataFolders},
                                                                         {kSceneOption, &sceneFolders},
                                                                         {kTrustedOption, &trustedFolders}};
    for (int index = 1; index + 1 < argc; index += 2)
    {
        if (std::strcmp(argv[index], "--") == 0)
        {
            model = argv[index + 1];
            return index + 2 == argc;
        }
        bool known = false;
        for (const auto& [option, folders] : options)
            if (std::strcmp(argv[index], option) == 0)
            {
                folders->push_back(argv[index + 1]);
                known = true;
            }
        if (!known)
            return false;
    }
    return false;
}

void becomeTrialReader()
{
    isTrialReader = true;
    const rlimit processor = {rlim_t(kTrialReadSeconds), rlim_t(kTrialReadSeconds)};
    setrlimit(RLIMIT_CPU, &processor);
    // A reader crashing here is expected, and its core file would land in the working folder.
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (const rlim_t now = addressSpace())
    {
        const rlimit memory = {now + kTrialReadMemoryGrowth, now + kTrialReadMemoryGrowth};
        setrlimit(RLIMIT_AS, &memory);
    }
}

} // namespace Novaro
