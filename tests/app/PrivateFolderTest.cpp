// Everything a run generates goes into one folder of its own, which no run leaves behind: removed
// at exit, on the signals that end a run from outside, and, after a crash, by the next run.
#include "app/PrivateFolder.h"

#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Novaro;
namespace fs = std::filesystem;

namespace
{

// A process number that was in use and no longer is.
pid_t finishedProcess()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

// Runs a child that makes its private folder under 'parent' and then waits for a signal; returns
// the folder's path once made, with the child's number in 'child'.
std::string childWithPrivateFolder(const std::string& parent, pid_t& child)
{
    int channel[2];
    if (pipe(channel) != 0)
        return std::string();
    child = fork();
    if (child == 0)
    {
        close(channel[0]);
        setenv("TMPDIR", parent.c_str(), 1);
        const std::string path = PrivateFolder::path();
        std::ofstream(PrivateFolder::uniqueName("generated.dat")) << "generated";
        const ssize_t written = write(channel[1], path.c_str(), path.size());
        close(channel[1]);
        for (int second = 0; second < 60 && written > 0; ++second)
            sleep(1);
        _exit(0);
    }
    close(channel[1]);
    char buffer[4096];
    const ssize_t count = read(channel[0], buffer, sizeof(buffer));
    close(channel[0]);
    return count > 0 ? std::string(buffer, size_t(count)) : std::string();
}

} // namespace

TEST(PrivateFolder, IsThisUsersOnlyAndGivesFreshNames)
{
    const std::string& folder = PrivateFolder::path();
    ASSERT_FALSE(folder.empty());
    struct stat status;
    ASSERT_EQ(0, lstat(folder.c_str(), &status));
    EXPECT_EQ(S_IFDIR | 0700u, status.st_mode & (S_IFMT | 0777u));
    EXPECT_EQ(0u, fs::path(folder).filename().string().find("novaro-" + std::to_string(getpid()) + "-"));

    // A name already taken, even by a dangling link, is never handed out again.
    const std::string first = PrivateFolder::uniqueName("../../board_multi.dat");
    EXPECT_EQ(folder + "/board_multi.dat", first);
    fs::create_symlink("/nonexistent/target", first);
    EXPECT_EQ(folder + "/board_multi-2.dat", PrivateFolder::uniqueName("markers/board_multi.dat"));
    fs::remove(first);
    // A name that is only a way up or the folder itself stays inside as a generated one.
    for (const char* name : {"markers/..", "."})
        EXPECT_EQ(folder + "/generated", PrivateFolder::uniqueName(name)) << name;
}

TEST(PrivateFolder, TerminationBySignalRemovesTheFolderAndTheNextRunTheLeftoversOfACrash)
{
    NovaroTest::TemporaryFolder parent;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
    {
        pid_t child = 0;
        const std::string folder = childWithPrivateFolder(parent.path(), child);
        ASSERT_FALSE(folder.empty());
        EXPECT_TRUE(fs::exists(folder + "/generated.dat"));
        kill(child, signal);
        int status = 0;
        waitpid(child, &status, 0);
        // Ended by the signal, as without the clean-up, and with nothing left.
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        EXPECT_FALSE(fs::exists(folder)) << signal;
    }
    EXPECT_TRUE(fs::is_empty(parent.path()));

    // After a crash, the next run removes the leftovers of runs that died, and nothing else.
    const std::string dead = "novaro-" + std::to_string(finishedProcess()) + "-abcdef";
    const std::string living = "novaro-" + std::to_string(getppid()) + "-abcdef";
    parent.write(dead + "/models/house.dae", "left behind by a crash");
    parent.write(living + "/board_multi.dat", "a run still playing");
    parent.write("novaro-notes/keep.txt", "not a run's folder");
    parent.write("novaro-" + std::to_string(finishedProcess()) + "-file", "a file, not a folder");

    EXPECT_EQ(1, PrivateFolder::removeLeftovers(parent.path()));
    EXPECT_FALSE(fs::exists(parent.file(dead)));
    EXPECT_TRUE(fs::exists(parent.file(living + "/board_multi.dat")) &&
                fs::exists(parent.file("novaro-notes/keep.txt")));
}
