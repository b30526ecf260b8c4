#include "settings/BoundedVectorSerializer.h"

#include <osgDB/InputStream>

#include <algorithm>

namespace Novaro
{

namespace
{

// Bytes per element of the count the next binary read on this thread is, announced by a vector
// serializer; 0 when none is.
thread_local unsigned int announcedElementBytes = 0;

// Least bytes an element takes in a file: its size in memory, and at most four (an object in a
// list is at least the length of its class name).
const unsigned int kMostBytesCounted = 4;

} // namespace

BoundedVectorSerializer::BoundedVectorSerializer(osgDB::VectorBaseSerializer* library)
    : VectorBaseSerializer(library->getElementType(), library->getElementSize()), _library(library)
{
    // The version range is the library's to keep; it is protected, so it is named through this
    // class.
    _firstVersion = library->*(&BoundedVectorSerializer::_firstVersion);
    _lastVersion = library->*(&BoundedVectorSerializer::_lastVersion);
    setUsage(library->getUsage());
}

unsigned int BoundedVectorSerializer::takeAnnouncedElementBytes()
{
    const unsigned int bytes = announcedElementBytes;
    announcedElementBytes = 0;
    return bytes;
}

bool BoundedVectorSerializer::read(osgDB::InputStream& is, osg::Object& object)
{
    // In binary the library's read starts with the count; in text the count is checked before the
    // file is read (its block follows it).
    if (is.isBinary())
        announcedElementBytes = std::max(1u, std::min(getElementSize(), kMostBytesCounted));
    const bool read = _library->read(is, object);
    announcedElementBytes = 0;
    return read;
}

bool BoundedVectorSerializer::write(osgDB::OutputStream& os, const osg::Object& object)
{
    return _library->write(os, object);
}
const std::string& BoundedVectorSerializer::getName() const
{
    return _library->getName();
}
unsigned int BoundedVectorSerializer::size(const osg::Object& object) const
{
    return _library->size(object);
}
void BoundedVectorSerializer::resize(osg::Object& object, unsigned int numElements) const
{
    _library->resize(object, numElements);
}
void BoundedVectorSerializer::reserve(osg::Object& object, unsigned int numElements) const
{
    _library->reserve(object, numElements);
}
void BoundedVectorSerializer::clear(osg::Object& object) const
{
    _library->clear(object);
}
void BoundedVectorSerializer::addElement(osg::Object& object, void* element) const
{
    _library->addElement(object, element);
}
void BoundedVectorSerializer::insertElement(osg::Object& object, unsigned int index, void* element) const
{
    _library->insertElement(object, index, element);
}
void BoundedVectorSerializer::setElement(osg::Object& object, unsigned int index, void* element) const
{
    _library->setElement(object, index, element);
}
void* BoundedVectorSerializer::getElement(osg::Object& object, unsigned int index) const
{
    return _library->getElement(object, index);
}
const void* BoundedVectorSerializer::getElement(const osg::Object& object, unsigned int index) const
{
    return _library->getElement(object, index);
}

} // namespace Novaro
