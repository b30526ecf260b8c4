#include "settings/ModelTrialRead.h"

#include "settings/ChildProcess.h"
#include "settings/ModelFileCheck.h"
#include "settings/SceneBoundary.h"

#include <osg/Notify>
#include <osgDB/Registry>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
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
// Followed by the player's notify level.
const char* const kNotifyOption = "--notify";

std::mutex readerMutex;
std::string readerExecutable;
std::vector<std::string> readerTrustedFolders;

// Set in the trial reader: the models its model names are read there as they come, a crash among
// them being the file's.
bool inTrialReader = false;

// The descriptors the trial reader hands its read and its messages back on, and how it ended the
// hand-back.
const int kHandBackDescriptor = 3;
const int kMessagesDescriptor = 4;
const int kHandedBackGraph = 0;
const int kHandedBackFailure = 3;
const int kHandBackFailed = 4;

// The longest reason for a failed read handed back, and the most messages, bytes.
const size_t kLongestHandedBackFailure = 4096;
const size_t kMostHandedBackMessages = 64 * 1024;

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
    request.notifyLevel = int(osg::getNotifyLevel());
    return request;
}

// An anonymous file in memory the trial reader writes its read into: nothing is left on a disk,
// whatever happens to either process.
class HandBackFile
{
public:
    HandBackFile()
    {
        const int created = memfd_create("novaro-trial-read", MFD_CLOEXEC);
        // Above the descriptors the reader writes to, so that placing it there is a real copy.
        _descriptor = created < 0 ? -1 : fcntl(created, F_DUPFD_CLOEXEC, kMessagesDescriptor + 1);
        if (created >= 0)
            close(created);
    }
    ~HandBackFile()
    {
        if (_descriptor >= 0)
            close(_descriptor);
    }
    HandBackFile(const HandBackFile&) = delete;
    HandBackFile& operator=(const HandBackFile&) = delete;

    int descriptor() const { return _descriptor; }

    // All that was written, when it is at most 'largest' bytes.
    bool read(size_t largest, std::string& data) const
    {
        struct stat status = {};
        if (fstat(_descriptor, &status) != 0 || size_t(status.st_size) > largest)
            return false;
        data.resize(size_t(status.st_size));
        size_t done = 0;
        while (done < data.size())
        {
            const ssize_t count = pread(_descriptor, &data[done], data.size() - done, off_t(done));
            if (count < 0 && errno == EINTR)
                continue;
            if (count <= 0)
                return false;
            done += size_t(count);
        }
        return true;
    }

private:
    int _descriptor = -1;
};

// Starts the program with the arguments, its input on /dev/null, the hand-back files on its
// descriptors 3 (the read) and 4 (its messages, and its output and error streams) and nothing else
// open; its process id, or -1 with the reason in 'error'. posix_spawn runs nothing of the player's
// in the new process before the program starts, so no lock of the player's is copied into it.
pid_t spawnQuietly(const std::vector<std::string>& arguments, const HandBackFile& handBack,
                   const HandBackFile& messages, std::string& error)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, handBack.descriptor(), kHandBackDescriptor);
    posix_spawn_file_actions_adddup2(&actions, messages.descriptor(), kMessagesDescriptor);
    posix_spawn_file_actions_adddup2(&actions, messages.descriptor(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, messages.descriptor(), STDERR_FILENO);
    // None of the player's open files, sockets (the display's) or devices (the camera) is handed on.
    posix_spawn_file_actions_addclosefrom_np(&actions, kMessagesDescriptor + 1);
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

// In the trial reader: each message with its severity, "<severity> <text>", on the messages'
// descriptor.
class HandBackNotifyHandler : public osg::NotifyHandler
{
public:
    void notify(osg::NotifySeverity severity, const char* message) override
    {
        // Every line with its severity: a line without one is what a reader wrote to an output
        // stream itself.
        std::istringstream lines(message);
        std::string marked;
        for (std::string line; std::getline(lines, line);)
            if (!line.empty())
                marked += std::to_string(int(severity)) + " " + line + "\n";
        // Nothing can be said of a failed write: the player then hears less.
        [[maybe_unused]] const ssize_t written = write(kMessagesDescriptor, marked.data(), marked.size());
    }
};

// Says the trial reader's messages as the player's own, each at its severity, and what its readers
// wrote to their output streams themselves as warnings; the messages beyond the most handed back
// are left out, and that is said.
void relayMessages(const HandBackFile& messages)
{
    std::string text;
    const bool whole = messages.read(kMostHandedBackMessages, text);
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);)
    {
        const bool marked = line.size() > 1 && line[0] >= '0' && line[0] <= '7' && line[1] == ' ';
        osg::notify(marked ? osg::NotifySeverity(line[0] - '0') : osg::WARN)
            << (marked ? line.substr(2) : line) << std::endl;
    }
    if (!whole)
        osg::notify(osg::WARN) << " WARNING: the model reader said more than "
                               << kMostHandedBackMessages / 1024 << " KiB: its messages are left out."
                               << std::endl;
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

TrialReadOutcome trialReadModel(const std::string& path)
{
    TrialReadOutcome outcome;
    if (inTrialReader)
        return outcome;
    std::string executable;
    {
        std::lock_guard<std::mutex> lock(readerMutex);
        executable = readerExecutable;
    }
    if (executable.empty())
    {
        outcome.unsafe = "the program that reads such models, novaro-trial-read, is not installed beside "
                         "this one";
        return outcome;
    }
    const HandBackFile handBack, messages;
    std::string error =
        handBack.descriptor() < 0 || messages.descriptor() < 0 ? std::strerror(errno) : std::string();
    const pid_t child =
        error.empty() ? spawnQuietly(requestFor(path).toArguments(executable), handBack, messages, error)
                      : -1;
    if (child < 0)
    {
        outcome.unsafe = "it could not be read in " + executable + " (" + error + ")";
        return outcome;
    }
    const int status = waitForChild(child, std::chrono::seconds(kTrialReadSeconds));
    relayMessages(messages);
    if (WIFEXITED(status) && WEXITSTATUS(status) == kHandedBackFailure)
    {
        if (!handBack.read(kLongestHandedBackFailure, outcome.failure) || outcome.failure.empty())
            outcome.failure = "its reader made nothing of it";
        return outcome;
    }
    outcome.unsafe = reasonOf(status);
    if (outcome.unsafe.empty() && !handBack.read(kLargestHandedBackGraph, outcome.graph))
        outcome.unsafe = "what its reader made of it is larger than " +
                         std::to_string(kLargestHandedBackGraph >> 20) + " MiB";
    else if (outcome.unsafe.empty() && outcome.graph.empty())
        outcome.failure = "its reader handed nothing back";
    return outcome;
}

std::string trialReadModelFile(const std::string& path)
{
    return trialReadModel(path).unsafe;
}

std::vector<std::string> TrialReadRequest::toArguments(const std::string& executable) const
{
    std::vector<std::string> arguments = {executable};
    appendOption(arguments, kLibraryOption, libraryFolders);
    appendOption(arguments, kDataOption, dataFolders);
    appendOption(arguments, kSceneOption, sceneFolders);
    appendOption(arguments, kTrustedOption, trustedFolders);
    arguments.insert(arguments.end(), {kNotifyOption, std::to_string(notifyLevel)});
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
        bool known = std::strcmp(argv[index], kNotifyOption) == 0;
        if (known)
            notifyLevel = std::atoi(argv[index + 1]);
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

void becomeTrialReader(const TrialReadRequest& request)
{
    inTrialReader = true;
    osg::setNotifyLevel(osg::NotifySeverity(request.notifyLevel));
    osg::setNotifyHandler(new HandBackNotifyHandler);
    const rlimit processor = {rlim_t(kTrialReadSeconds), rlim_t(kTrialReadSeconds)};
    setrlimit(RLIMIT_CPU, &processor);
    // A reader crashing here is expected, and its core file would land in the working folder.
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    // The hand-back files live in memory: a reader that talks without end fills no more than this.
    const rlimit handedBack = {rlim_t(kLargestHandedBackGraph), rlim_t(kLargestHandedBackGraph)};
    setrlimit(RLIMIT_FSIZE, &handedBack);
    if (const rlim_t now = addressSpace())
    {
        const rlimit memory = {now + kTrialReadMemoryGrowth, now + kTrialReadMemoryGrowth};
        setrlimit(RLIMIT_AS, &memory);
    }
}

bool isTrialReader()
{
    return inTrialReader;
}

namespace
{

// The graph in the native binary format. Its pictures are named, not included: the player reads
// them through its reading rules, which check a picture's header before it is decoded; their pixels
// would make the graph many times the size of the files.
bool writeNativeBinary(const osg::Node& graph, std::ostream& stream)
{
    osgDB::ReaderWriter* native = osgDB::Registry::instance()->getReaderWriterForExtension("osgb");
    osg::ref_ptr<osgDB::Options> options = new osgDB::Options("WriteImageHint=UseExternal");
    return native != nullptr && native->writeNode(graph, stream, options.get()).success();
}

} // namespace

int handBackRead(osgDB::ReaderWriter::ReadResult read)
{
    std::ofstream stream("/dev/fd/" + std::to_string(kHandBackDescriptor), std::ios::binary);
    const bool made = read.validNode();
    const bool written = made ? writeNativeBinary(*read.getNode(), stream)
                              : bool(stream << readFailureOf(read).substr(0, kLongestHandedBackFailure));
    if (!written || !stream.flush().good())
        return kHandBackFailed;
    return made ? kHandedBackGraph : kHandedBackFailure;
}

} // namespace Novaro
