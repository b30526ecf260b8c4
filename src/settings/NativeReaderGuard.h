#pragma once

// OpenSceneGraph's native readers (.osgb, .osgt) are built from serializers registered by its
// plugins, and trust what a file declares. guardNativeReaders loads every serializer plugin the
// system has, then puts guarded serializers in the library's place: a geometry's primitive sets
// read without the entries that read as nothing (PrimitiveSetListSerializer), and every vector's
// binary count announced to the model-file check's bounded reader before the library reserves for
// it (BoundedVectorSerializer). It runs once per process, before the first native file is read:
// the model-file check and readModelNode call it, so no reader thread is reading while it runs.

namespace Novaro
{

// Safe to call from any thread, any number of times; the work is done once.
void guardNativeReaders();

} // namespace Novaro
