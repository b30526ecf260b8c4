#include "app/PrivateFolder.h"

#include "settings/SceneBoundary.h"

#include <osg/Notify>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace Novaro
{

namespace
{

const char* const namePrefix = "novaro-";

std::mutex folderMutex;
std::string folderPath;
bool attempted = false;

// The signals that end a run from outside; each removes the folder first.
const int endingSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Written by the signal handler (a write is async-signal-safe), read by the watcher thread, which
// removes the folder outside the handler's restrictions and then ends the process with the same
// signal, as its default action would have.
int signalPipe[2] = {-1, -1};

extern "C" void onEndingSignal(int signal)
{
    const unsigned char byte = static_cast<unsigned char>(signal);
    const int savedErrno = errno;
    if (::write(signalPipe[1], &byte, 1) != 1)
        ::_exit(128 + signal);
    errno = savedErrno;
}

void watchSignals()
{
    unsigned char byte = 0;
    while (::read(signalPipe[0], &byte, 1) != 1)
        if (errno != EINTR)
            return;
    PrivateFolder::remove();
    const int signal = byte;
    std::signal(signal, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, signal);
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(signal);
    ::_exit(128 + signal);
}

// A forked child (a device probe, a test) has neither the watcher thread nor a folder of its own:
// it starts afresh, with the signals' default actions, and never removes its parent's folder.
void prepareFork()
{
    folderMutex.lock();
}

void parentAfterFork()
{
    folderMutex.unlock();
}

void childAfterFork()
{
    folderMutex.unlock();
    if (!attempted)
        return;
    for (int signal : endingSignals)
    {
        struct sigaction current;
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == onEndingSignal)
            std::signal(signal, SIG_DFL);
    }
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
    folderPath.clear();
    attempted = false;
}

void installSignalHandling()
{
    if (::pipe2(signalPipe, O_CLOEXEC) != 0)
        return;
    static bool forkHandled = false;
    if (!forkHandled)
        forkHandled = ::pthread_atfork(prepareFork, parentAfterFork, childAfterFork) == 0;
    std::thread(watchSignals).detach();
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onEndingSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : endingSignals)
    {
        // A signal the caller chose to ignore (nohup) stays ignored.
        struct sigaction previous;
        if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
}

void removeAtExit()
{
    PrivateFolder::remove();
}

bool processIsGone(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// The process number in "novaro-PID-XXXXXX", or 0.
pid_t ownerOf(const std::string& name)
{
    if (name.compare(0, std::strlen(namePrefix), namePrefix) != 0)
        return 0;
    const char* digits = name.c_str() + std::strlen(namePrefix);
    char* end = nullptr;
    const long pid = std::strtol(digits, &end, 10);
    return (end != digits && *end == '-' && pid > 0) ? pid_t(pid) : 0;
}

std::string makeFolder()
{
    const std::string parent = PrivateFolder::parentFolder();
    PrivateFolder::removeLeftovers(parent);
    std::string pattern = parent + "/" + namePrefix + std::to_string(::getpid()) + "-XXXXXX";
    if (!::mkdtemp(&pattern[0]))
    {
        osg::notify(osg::FATAL) << " ERROR: cannot make a private temporary folder in '" << parent
                                << "': " << std::strerror(errno)
                                << "; archives and multi-marker files of the scene cannot be used."
                                << std::endl;
        return std::string();
    }
    return pattern;
}

} // namespace

std::string PrivateFolder::parentFolder()
{
    const char* fromEnvironment = std::getenv("TMPDIR");
    std::error_code error;
    if (fromEnvironment && fromEnvironment[0] == '/' && fs::is_directory(fromEnvironment, error))
        return fromEnvironment;
    return "/tmp";
}

const std::string& PrivateFolder::path()
{
    std::lock_guard<std::mutex> lock(folderMutex);
    if (!attempted)
    {
        attempted = true;
        installSignalHandling();
        folderPath = makeFolder();
        if (!folderPath.empty())
        {
            std::atexit(removeAtExit);
            osg::notify(osg::NOTICE) << " Private temporary folder: " << folderPath << std::endl;
        }
    }
    return folderPath;
}

std::string PrivateFolder::uniqueName(const std::string& wanted)
{
    const std::string& folder = path();
    if (folder.empty())
        return std::string();
    fs::path name = fs::path(wanted).filename();
    if (name.empty() || name == "." || name == "..")
        name = "generated";
    const std::string stem = name.stem().string(), extension = name.extension().string();
    std::lock_guard<std::mutex> lock(folderMutex);
    for (int copy = 1;; ++copy)
    {
        const fs::path candidate =
            fs::path(folder) / (copy == 1 ? name.string() : stem + "-" + std::to_string(copy) + extension);
        struct stat status;
        if (::lstat(candidate.c_str(), &status) != 0)
            return candidate.string();
    }
}

void PrivateFolder::remove()
{
    std::lock_guard<std::mutex> lock(folderMutex);
    if (folderPath.empty())
        return;
    std::error_code error;
    fs::remove_all(folderPath, error);
    folderPath.clear();
}

int PrivateFolder::removeLeftovers(const std::string& parent)
{
    int removed = 0;
    std::error_code error;
    for (fs::directory_iterator it(parent, error), end; !error && it != end; it.increment(error))
    {
        const pid_t owner = ownerOf(it->path().filename().string());
        struct stat status;
        if (owner == 0 || owner == ::getpid() || ::lstat(it->path().c_str(), &status) != 0 ||
            !S_ISDIR(status.st_mode) || status.st_uid != ::getuid() || !processIsGone(owner))
            continue;
        std::error_code removeError;
        if (fs::remove_all(it->path(), removeError) != static_cast<std::uintmax_t>(-1) && !removeError)
            ++removed;
    }
    return removed;
}

void confineToScene(const std::string& workingDirectory, const std::string& temporaryDirectory)
{
    std::vector<std::string> folders = {temporaryDirectory, workingDirectory};
    if (!PrivateFolder::path().empty())
        folders.push_back(PrivateFolder::path());
    SceneBoundary::setFolders(folders);
}

} // namespace Novaro
