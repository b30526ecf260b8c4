// libFuzzer target for audio objects: the input's first byte chooses the file's kind (wav: a
// sample read whole; ogg: a stream) and whether the object is visible, the rest is the sound file
// given to the object's set-up, which is then played, paused, rewound and looped as its actions do.
#include "FuzzSupport.h"
#include "scene/ARAudio.h"

#include <SFML/System/Err.hpp>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    NovaroFuzz::silenceConsole();
    // The sound library reports every bad file on its own stream.
    sf::err().rdbuf(nullptr);
    // No sound device: sounds keep their state and timing on the silent output.
    setenv("ALSOFT_DRIVERS", "null", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const bool stream = (data[0] & 1) != 0;
    const bool visible = (data[0] & 2) != 0;
    const std::string path = NovaroFuzz::scratchFolder() + (stream ? "/input.ogg" : "/input.wav");
    NovaroFuzz::writeInput(path, data + 1, size - 1);

    osg::ref_ptr<Novaro::ARAudio> audio = new Novaro::ARAudio;
    audio->setupAudio(path, visible);
    audio->setLoop(true);
    audio->play();
    audio->togglePause();
    audio->toggleLoop();
    audio->rewind();
    audio->pause();
    return 0;
}
