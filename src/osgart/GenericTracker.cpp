#include "osgART/GenericTracker.h"

namespace osgART
{

GenericTracker::GenericTracker() : _processedImage(nullptr), _processedModifiedCount(0) {}

Marker* GenericTracker::getMarker(int index)
{
    if (index < 0 || index >= static_cast<int>(_markers.size()))
        return nullptr;
    return _markers[static_cast<size_t>(index)].get();
}

void GenericTracker::setImage(osg::Image* image)
{
    _image = image;
    _processedImage = nullptr;
}

void GenericTracker::update()
{
    if (!_image.valid() || !_image->data() || _image->s() <= 0 || _image->t() <= 0)
        return;
    if (_processedImage == _image.get() && _processedModifiedCount == _image->getModifiedCount())
        return;
    _processedImage = _image.get();
    _processedModifiedCount = _image->getModifiedCount();
    processImage(*_image);
}

} // namespace osgART
