#include "settings/ModelTrialRead.h"

#include <osgDB/ReadFile>
#include <osgDB/Registry>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <new>
#include <set>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace Novaro
{

namespace
{

// Memory the child may add to what it starts with (a copy of the player's), bytes: a model that
// needs more is no model for a marker.
const rlim_t kTrialReadMemoryGrowth = rlim_t(8) << 30;

// Set in the child: the models its file names are read there as they come, a crash among them
// being the file's.
bool inChild = false;

// The registry's locks over its list of readers (and the plugins it loads) and over its archives.
// Another thread may hold one when the child is made: the loading window reads its font, loading the
// font plugin under the first. The child would have that lock without the thread that releases it,
// and wait for it until killed, so a good model was refused. The player takes both across fork(),
// so that no other thread is halfway through the lists; the child, whose copies name an owner it
// does not have (they cannot be unlocked there), starts from fresh ones.
class RegistryLocks : public osgDB::Registry
{
public:
    static OpenThreads::ReentrantMutex& plugins(osgDB::Registry& registry)
    {
        return registry.*(&RegistryLocks::_pluginMutex);
    }
    static OpenThreads::ReentrantMutex& archives(osgDB::Registry& registry)
    {
        return registry.*(&RegistryLocks::_archiveCacheMutex);
    }
};

// fork() with the registry's locks held across it; in the child they are fresh and free.
pid_t forkWithRegistryLocked()
{
    osgDB::Registry& registry = *osgDB::Registry::instance();
    OpenThreads::ReentrantMutex& plugins = RegistryLocks::plugins(registry);
    OpenThreads::ReentrantMutex& archives = RegistryLocks::archives(registry);
    plugins.lock();
    archives.lock();
    const pid_t child = fork();
    if (child == 0)
    {
        // The old ones are left as they are: the child ends with _exit, no destructor runs.
        new (&plugins) OpenThreads::ReentrantMutex;
        new (&archives) OpenThreads::ReentrantMutex;
        return child;
    }
    archives.unlock();
    plugins.unlock();
    return child;
}

// How often the waiting player looks at the child.
const auto kPollPeriod = std::chrono::milliseconds(5);

// The child's address space now, bytes; 0 when unknown.
rlim_t addressSpace()
{
    std::ifstream statm("/proc/self/statm");
    unsigned long long pages = 0;
    if (!(statm >> pages))
        return 0;
    return rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE));
}

// In the child: output to nowhere, processor time and memory growth bounded, no core file, one
// read, exit.
[[noreturn]] void readInChild(const std::string& path)
{
    inChild = true;
    const int nowhere = open("/dev/null", O_WRONLY);
    if (nowhere >= 0)
    {
        dup2(nowhere, STDOUT_FILENO);
        dup2(nowhere, STDERR_FILENO);
    }
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
    osgDB::Registry::instance()->readNode(path, osgDB::Registry::instance()->getOptions());
    // No destructors, no handlers: the player's state belongs to the player.
    _exit(0);
}

// Waits for the child; its wait status, or -1 when it ran out of time (and was killed).
int waitForChild(pid_t child)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTrialReadSeconds);
    int status = 0;
    for (;;)
    {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            return status;
        if (done < 0 && errno != EINTR)
            return 0; // reaped elsewhere: nothing known against the file
        if (std::chrono::steady_clock::now() > deadline)
        {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(kPollPeriod);
    }
}

// Why a child's end makes the file unsafe; empty when it exited normally.
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

} // namespace

bool needsTrialRead(const std::string& extension)
{
    // Checked before they are read, or read by the fuzzed Assimp reader.
    static const std::set<std::string> safe = {"osgb", "osgt", "ply", "fbx", "gltf", "glb"};
    return !extension.empty() && safe.count(extension) == 0;
}

std::string trialReadModelFile(const std::string& path)
{
    if (inChild)
        return std::string();
    const pid_t child = forkWithRegistryLocked();
    if (child < 0)
        return std::string("it could not be tried in a separate process (") + std::strerror(errno) + ")";
    if (child == 0)
        readInChild(path);
    return reasonOf(waitForChild(child));
}

} // namespace Novaro
