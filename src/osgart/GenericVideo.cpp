#include "osgART/GenericVideo.h"

namespace osgART
{

GenericVideo::GenericVideo() : _flipHorizontal(false), _flipVertical(false), _frameNumber(0) {}

void GenericVideo::setFlip(bool horizontal, bool vertical)
{
    _flipHorizontal = horizontal;
    _flipVertical = vertical;
}

void GenericVideo::play()
{
    start();
    _status = PLAYING;
}

void GenericVideo::pause()
{
    stop();
    _status = PAUSED;
}

} // namespace osgART
