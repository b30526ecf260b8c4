#include "settings/PrimitiveSetListSerializer.h"

#include <osgDB/InputStream>

namespace Novaro
{

PrimitiveSetListSerializer::PrimitiveSetListSerializer(const osgDB::BaseSerializer& replaced)
    : VectorSerializer("PrimitiveSetList", &osg::Geometry::getPrimitiveSetList,
                       &osg::Geometry::getPrimitiveSetList, &osg::Geometry::setPrimitiveSetList,
                       osgDB::BaseSerializer::RW_OBJECT, 0)
{
    // The version range is the library's to keep; it is protected, so it is named through this
    // class.
    _firstVersion = replaced.*(&PrimitiveSetListSerializer::_firstVersion);
    _lastVersion = replaced.*(&PrimitiveSetListSerializer::_lastVersion);
}

bool PrimitiveSetListSerializer::read(osgDB::InputStream& is, osg::Object& object)
{
    // Text files name the field; binary files go by position.
    if (!is.isBinary() && !is.matchString(getName()))
        return true;
    unsigned int size = 0;
    is >> size;
    const bool bracketed = !is.isBinary() && size > 0;
    if (bracketed)
        is >> is.BEGIN_BRACKET;
    // No room is reserved for the declared size: the entries that follow bound it.
    osg::Geometry::PrimitiveSetList list;
    for (unsigned int i = 0; i < size && !is.getException(); ++i)
    {
        osg::ref_ptr<osg::PrimitiveSet> primitiveSet;
        is >> primitiveSet;
        if (primitiveSet.valid())
            list.push_back(primitiveSet);
    }
    if (bracketed)
        is >> is.END_BRACKET;
    if (size > 0)
        static_cast<osg::Geometry&>(object).setPrimitiveSetList(list);
    return true;
}

} // namespace Novaro
