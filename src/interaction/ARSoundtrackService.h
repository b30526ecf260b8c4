#pragma once

namespace Novaro
{

// The scene's background soundtracks, for the sounds mode. The application implements it.
class ARSoundtrackService
{
public:
    virtual ~ARSoundtrackService() = default;

    virtual void toggleMusic() = 0;
    virtual void rewindSoundtrack() = 0;
    virtual void nextSoundtrack() = 0;
    virtual void previousSoundtrack() = 0;

protected:
    ARSoundtrackService() = default;
    ARSoundtrackService(const ARSoundtrackService&) = default;
    ARSoundtrackService& operator=(const ARSoundtrackService&) = default;
};

} // namespace Novaro
