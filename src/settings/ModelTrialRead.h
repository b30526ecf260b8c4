#pragma once

// Most of OpenSceneGraph's model readers (3DS, OBJ, COLLADA, IVE, STL, LightWave, AC3D, DirectX,
// the old .osg text format and others) take whatever a file declares: a single changed byte in a
// 3DS file crashes its reader. Only the native and PLY formats have checks of their own here, and
// the Assimp formats are fuzzed. A scene is untrusted, so a model in any other format is first read
// by the trial reader ("novaro-trial-read", installed beside the player): a program of its own,
// started afresh, that reads the file under the player's reader rules (its plugin and data folders,
// the scene's folders, local files only) and exits. Only when it finished normally is the file
// read by the player itself. The cost is a second read of those formats and a program start
// (30 ms here).
//
// A fresh program, not a fork() of the player: a fork copies the player's threads' locks as they
// stand, held ones too, without the threads that would release them. A thread making or dropping
// scene-graph objects while the fork happened left the copy waiting forever on such a lock, and a
// good model was refused after the wait.

#include <string>
#include <vector>

namespace Novaro
{

// The trial reader's program, and the folders whose files the player trusts beside the scene's
// (its own data folders); the player sets them at its start. With no program set, a model that
// needs a trial read is refused. Sets SIGCHLD to its default, so that children's statuses are kept.
void setTrialReader(const std::string& executable, const std::vector<std::string>& trustedFolders);

// Whether a model file of this extension (lower case) is read on trial first.
bool needsTrialRead(const std::string& extension);

// Reads the model file in the trial reader, its output discarded, with at most kTrialReadSeconds
// of processor time and of waiting, and its memory growth bounded. Empty when the reader finished
// (it read the file or refused it), else why the file is unsafe to read: the reader crashed, ran
// out of its memory, or did not finish in time.
std::string trialReadModelFile(const std::string& path);

// How long a trial read may take, seconds.
constexpr int kTrialReadSeconds = 30;

// What the trial reader is asked: the model and the player's reader rules at the time of asking.
struct TrialReadRequest
{
    std::string model;
    std::vector<std::string> libraryFolders; // the registry's plugin search list
    std::vector<std::string> dataFolders;    // the registry's data file search list
    std::vector<std::string> sceneFolders;   // the scene's boundary; none when unbounded
    std::vector<std::string> trustedFolders; // the player's own data

    // The request as the trial reader's command line, and back; false for a line it is not.
    std::vector<std::string> toArguments(const std::string& executable) const;
    bool parse(int argc, const char* const* argv);
};

// In the trial reader, before it reads: models its model names are not tried again, and its
// processor time, memory growth and core files are bounded.
void becomeTrialReader();

} // namespace Novaro
