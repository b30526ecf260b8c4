#pragma once

// Most of OpenSceneGraph's model readers (3DS, OBJ, COLLADA, IVE, STL, LightWave, AC3D, DirectX,
// the old .osg text format and others) take whatever a file declares: a single changed byte in a
// 3DS file crashes its reader. Only the native and PLY formats have checks of their own here, and
// the Assimp formats are fuzzed. A scene is untrusted, so a model in any other format is first read
// in a child process: a copy of the player, with the same reader rules (local files only, the
// scene's folders), which reads the file and exits. Only when the child finished normally is the
// file read by the player itself. The cost is a second read of those formats and a process start.

#include <string>

namespace Novaro
{

// Whether a model file of this extension (lower case) is read in a child first.
bool needsTrialRead(const std::string& extension);

// Reads the model file in a child process, its output discarded, with at most kTrialReadSeconds of
// processor time and of waiting, and its memory growth bounded. Empty when the child finished (its
// reader read the file or refused it), else why the file is unsafe to read: the reader crashed,
// ran out of its memory, or did not finish in time.
std::string trialReadModelFile(const std::string& path);

// How long a child may read, seconds.
constexpr int kTrialReadSeconds = 30;

} // namespace Novaro
