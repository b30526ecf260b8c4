#pragma once

// OpenSceneGraph's vector serializers (every array, every primitive set's indices, every list of
// objects) read a binary count and reserve room for that many elements before reading one, so a
// hostile count reserves gigabytes. This serializer stands in for one of them: before the library's
// read it announces to the reading thread that the next whole number read is a count of elements of
// at least elementBytes bytes each in the file, which the bounded reader of the model-file check
// (ModelFileCheck) holds against the bytes left. Every other use is the library's serializer's.

#include <osgDB/Serializer>

namespace Novaro
{

class BoundedVectorSerializer : public osgDB::VectorBaseSerializer
{
public:
    explicit BoundedVectorSerializer(osgDB::VectorBaseSerializer* library);

    // The announced bytes per element of the next count on this thread, then 0 (none announced).
    static unsigned int takeAnnouncedElementBytes();

    bool read(osgDB::InputStream& is, osg::Object& object) override;
    bool write(osgDB::OutputStream& os, const osg::Object& object) override;
    const std::string& getName() const override;

    unsigned int size(const osg::Object& object) const override;
    void resize(osg::Object& object, unsigned int numElements) const override;
    void reserve(osg::Object& object, unsigned int numElements) const override;
    void clear(osg::Object& object) const override;
    void addElement(osg::Object& object, void* element) const override;
    void insertElement(osg::Object& object, unsigned int index, void* element) const override;
    void setElement(osg::Object& object, unsigned int index, void* element) const override;
    void* getElement(osg::Object& object, unsigned int index) const override;
    const void* getElement(const osg::Object& object, unsigned int index) const override;

private:
    osg::ref_ptr<osgDB::VectorBaseSerializer> _library;
};

} // namespace Novaro
