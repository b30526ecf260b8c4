#pragma once

#include "scene/ARObject.h"

namespace Novaro
{

// A scene object that plays something: a movie (ARVideo) or a sound (ARAudio). The actions and the
// objects keyboard mode drive it through these six operations without knowing which it is.
class ARMultimediaInterface : public ARObject
{
public:
    using ARObject::ARObject;

    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void togglePause() = 0;
    virtual void rewind() = 0;
    virtual void toggleLoop() = 0;
    virtual void setLoop(bool on) = 0;

protected:
    ~ARMultimediaInterface() override = default;
};

} // namespace Novaro
