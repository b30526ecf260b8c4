#pragma once

// Most of OpenSceneGraph's model readers (3DS, OBJ, COLLADA, IVE, STL, LightWave, AC3D, DirectX,
// the old .osg text format and others) take whatever a file declares: a single changed byte in a
// 3DS file crashes its reader. Only the native and PLY formats have checks of their own here, and
// the Assimp formats are fuzzed. A scene is untrusted, so a model in any other format is first read
// by the trial reader ("novaro-trial-read", installed beside the player): a program of its own,
// started afresh, that reads the file under the player's reader rules (its plugin and data folders,
// the scene's folders, local files only), hands back what its reader made as a native binary
// graph with the reader's messages, and exits. The player never runs those readers itself: it reads the graph
// handed back, after the same bounded check as any native file (whatever ran in the trial reader may have
// been the file's). The cost is a program start (30 ms here) and the native graph's write and read.
//
// A fresh program, not a fork() of the player: a fork copies the player's threads' locks as they
// stand, held ones too, without the threads that would release them. A thread making or dropping
// scene-graph objects while the fork happened left the copy waiting forever on such a lock, and a
// good model was refused after the wait.

#include <osgDB/ReaderWriter>

#include <string>
#include <vector>

namespace Novaro
{

// The trial reader's program, and the folders whose files the player trusts beside the scene's
// (its own data folders); the player sets them at its start. With no program set, a model that
// needs a trial read is refused. Sets SIGCHLD to its default, so that children's statuses are kept.
void setTrialReader(const std::string& executable, const std::vector<std::string>& trustedFolders);

// Whether a model file of this extension (lower case) is read in the trial reader.
bool needsTrialRead(const std::string& extension);

// What the trial reader made of a model file.
struct TrialReadOutcome
{
    // Why the file is unsafe to read: the reader crashed, ran out of its memory or did not finish in
    // time; empty when it finished.
    std::string unsafe;
    std::string graph;   // what the reader made, in the native binary format; empty when nothing
    std::string failure; // the reader's own reason when it made nothing
};

// Reads the model file in the trial reader, with at most kTrialReadSeconds of processor time and
// of waiting, and its memory growth bounded. In the trial reader itself, nothing is tried: an empty
// outcome.
TrialReadOutcome trialReadModel(const std::string& path);

// trialReadModel's verdict alone: empty when the reader finished, else why the file is unsafe.
std::string trialReadModelFile(const std::string& path);

// How long a trial read may take, seconds.
constexpr int kTrialReadSeconds = 30;

// The largest graph a trial reader may hand back, bytes: beyond any model shown on a marker.
constexpr size_t kLargestHandedBackGraph = size_t(1) << 30;

// What the trial reader is asked: the model and the player's reader rules at the time of asking.
struct TrialReadRequest
{
    std::string model;
    std::vector<std::string> libraryFolders; // the registry's plugin search list
    std::vector<std::string> dataFolders;    // the registry's data file search list
    std::vector<std::string> sceneFolders;   // the scene's boundary; none when unbounded
    std::vector<std::string> trustedFolders; // the player's own data
    int notifyLevel = 0;                     // the player's osg::NotifySeverity: what it shows

    // The request as the trial reader's command line, and back; false for a line it is not.
    std::vector<std::string> toArguments(const std::string& executable) const;
    bool parse(int argc, const char* const* argv);
};

// In the trial reader, before it reads: models its model names are not tried again, its processor
// time, memory growth, core files and what it hands back are bounded, and its messages, at the player's
// level, go back to the player with their severity (descriptor 4), which says them as its own once the read
// ended.
void becomeTrialReader(const TrialReadRequest& request);

// Whether this process is the trial reader, which reads models itself.
bool isTrialReader();

// In the trial reader: hands its read back to the player on the descriptor the player opened for
// it (3): the graph, or the reader's reason for making nothing. The program's exit status.
int handBackRead(osgDB::ReaderWriter::ReadResult read);

} // namespace Novaro
