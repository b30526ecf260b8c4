#pragma once

// OpenSceneGraph's native readers (.osgb, .osgt) read a geometry's primitive sets one object each
// and hand the list to osg::Geometry::setPrimitiveSetList, which dereferences every entry. An entry
// of a class the readers do not know, of a class that is no primitive set, or written "NULL" reads
// as a null pointer, so a hostile file crashes the reader (and the check that reads through it).
// This serializer reads the list as the library's own does, same format and version range, but
// leaves such entries out; guardNativeReaders (NativeReaderGuard) puts it in the library's place.

#include <osg/Geometry>
#include <osgDB/Serializer>

namespace Novaro
{

class PrimitiveSetListSerializer
    : public osgDB::VectorSerializer<osg::Geometry, osg::Geometry::PrimitiveSetList>
{
public:
    // Takes the library's serializer's place, with its version range.
    explicit PrimitiveSetListSerializer(const osgDB::BaseSerializer& replaced);

    bool read(osgDB::InputStream& is, osg::Object& object) override;
};

} // namespace Novaro
