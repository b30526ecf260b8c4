#pragma once

#include <osg/Node>
#include <osg/ref_ptr>
#include <osgDB/ReaderWriter>

#include <string>

namespace Novaro
{

// OpenSceneGraph's own readers trust the counts a model file declares: a count of two billion in
// a three-kilobyte file makes them loop, reading nothing, two billion times, or allocate for two
// billion elements. Model files come from untrusted exports, so the player checks them first.

// Empty when the OpenSceneGraph model at 'path' can be handed to its reader, else why not.
// - Native binary (.osgb): the file is read once through OpenSceneGraph's own object readers with
//   every read bounded by the bytes left: a read past the end, a string, an array or a counted
//   block longer than what follows is refused, and so is a file that asks for more reads than it
//   has bytes. Nothing the file names (images, other models) is loaded during the check.
// - Native and classic text (.osgt, .osg): every count written before a "{" must be a whole
//   number no greater than the bytes that follow it.
// - PLY (.ply): against its own header, as OpenSceneGraph's PLY reader reads it (PlyFileCheck).
// - The formats of the project's Assimp reader (.fbx, .gltf, .glb): not checked here; that reader
//   bounds what it reads and is fuzzed.
// - Every other format, and .osg after its counts: read once in a child process first
//   (ModelTrialRead); a reader that crashes, runs out of memory or time there is the refusal.
std::string checkModelFile(const std::string& path);

// Whether the model at 'path' (found) is read by the trial reader rather than here: its format's
// reader trusts the file, and this process is not the trial reader.
bool readsOnTrial(const std::string& path);

// Reads such a model in the trial reader (after the counts of a .osg file) and reads back what it
// made, checked as any native binary file is. Empty, with the graph in 'model' or, when the reader
// made nothing, its reason in 'failure'; else why the file is refused.
std::string readModelOnTrial(const std::string& path, osg::ref_ptr<osg::Node>& model, std::string& failure);

// Why a read gave no node: the reader's own reason where it gives one, else what the result says.
std::string readFailureOf(osgDB::ReaderWriter::ReadResult read);

// Reads a model file whose check passed, with the registry's options. Null when no reader gives a
// node, with why in 'failure': the reader's own reason where it gives one ("GLTF: Unsupported glTF
// version: 1.0"), else what its result says ("no reader for its format", ...).
osg::ref_ptr<osg::Node> readModelNode(const std::string& path, std::string& failure);

// Whether 'name' is the file readModelNode is reading on this thread, its check passed: a
// read callback that checks the models read through it (a proxy's, a level of detail's) need not
// check it again.
bool isReadAfterItsCheck(const std::string& name);

// Checks the model file and reads it, in the trial reader when readsOnTrial: empty, with the graph
// in 'model' or the reader's reason for none in 'failure'; else why the file is refused.
std::string checkAndReadModel(const std::string& path, osg::ref_ptr<osg::Node>& model, std::string& failure);

// Reads a scene object's model file as checkAndReadModel does; a file refused or not read is said,
// with the reason and the file's name, at the visible level. Null when the file is refused or
// cannot be read.
osg::ref_ptr<osg::Node> readModelFile(const std::string& path);

} // namespace Novaro
