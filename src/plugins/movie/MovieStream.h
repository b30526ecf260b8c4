#pragma once

#include "MovieDecoder.h"
#include "MovieSound.h"

#include <osg/ImageStream>
#include <osg/Timer>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace Novaro
{

// A movie as an image stream. A thread of its own decodes ahead into a small ring of pictures,
// allocated once; the update traversal (main thread) shows, at each frame, the newest decoded
// picture whose presentation time has come on the stream's clock, and drops the older ones: late
// frames are skipped, never queued up. The main thread never waits on the decoder.
//
// The clock runs while playing and stands while paused. A movie with sound plays it through the
// sound output, and the sound's playing position is the clock the picture follows (MovieSound
// keeps that position running on movie time even while the sound is late or missing); a movie
// without sound (or when no sound output can be opened) follows the system clock. A decoder that
// cannot go on (a damaged stream, a file cut short while playing) is reported once, on the main
// thread, and its last picture stays. At the end a looping stream
// starts over (the clock goes on, so the first frame follows the last one without a gap); a stream that does
// not loop stops on its last frame and pauses. Rewind goes back to the first frame and keeps
// playing or pausing as before.
class MovieStream : public osg::ImageStream
{
public:
    // Pictures decoded ahead of the clock: enough to ride out a slow frame of the decoder, few
    // enough to keep memory at a handful of pictures per movie.
    static constexpr size_t ringSize = 4;

    // Opens the movie and decodes its first picture (shown until playing starts). Null with the
    // reason in 'error' when the file is not a movie the decoder can play.
    static osg::ref_ptr<MovieStream> open(const std::string& path, std::string& error);

    void play() override;
    void pause() override;
    void rewind() override;
    void quit(bool waitForThreadToExit = true) override;

    double getLength() const override { return _decoder.duration(); }
    double getFrameRate() const override { return _decoder.frameRate(); }
    double getCurrentTime() const override;
    bool requiresUpdateCall() const override { return true; }
    void update(osg::NodeVisitor* visitor) override;

    bool hasSound() const { return _sound != nullptr; }
    const MovieSound* getSound() const { return _sound.get(); }
    // Pictures shown and pictures dropped as late so far.
    unsigned int shownPictures() const { return _shownPictures; }
    unsigned int droppedPictures() const { return _droppedPictures; }

protected:
    ~MovieStream() override;
    void applyLoopingMode() override;

private:
    MovieStream() = default;

    enum class SlotState
    {
        Free,  // the decoder may fill it
        Ready, // decoded, waiting for its time
        Shown  // the image points at it
    };
    struct Slot
    {
        std::vector<uint8_t> picture;
        double seconds = 0.0; // on the stream's clock, loops included
        SlotState state = SlotState::Free;
    };

    void decodeLoop();
    bool decodeInto(Slot& slot);
    double clockSeconds() const;
    bool soundIsClock() const;
    void restartSound();
    void show(Slot& slot);
    // Main thread: prints what the decoding thread found to report.
    void printReport();
    void reachEnd();
    void reportShortEnd();
    // A movie that ends this much (or a tenth of its length) before its declared length lacks its end.
    static constexpr double shortEndSeconds = 0.5;

    MovieDecoder _decoder;
    std::unique_ptr<MovieSound> _sound;
    unsigned int _soundGeneration = 0; // decoding thread: the sound generation being decoded
    std::thread _thread;
    mutable std::mutex _mutex;
    std::condition_variable _wakeDecoder;
    Slot _slots[ringSize];
    size_t _nextToFill = 0; // ring order: the decoder fills and the clock shows in this order
    size_t _nextToShow = 0;
    bool _quit = false;
    bool _rewindRequested = false;
    bool _endOfStream = false;
    bool _failed = false;              // the decoder cannot go on; no looping out of that
    std::vector<std::string> _reports; // lines for the main thread to print
    bool _toldShortEnd = false;        // each said once in the stream's life
    bool _toldFailure = false;
    bool _looping = false;    // the looping mode as the decoding thread sees it
    double _loopOffset = 0.0; // added to decoded times after each start-over
    double _lastDecodedSeconds = 0.0;

    // The clock: stream seconds at the last start (or the last reading of the sound's position),
    // and when that was. Main thread only.
    double _clockBase = 0.0;
    osg::Timer_t _clockStart = 0;
    unsigned int _shownPictures = 0;
    unsigned int _droppedPictures = 0;
};

} // namespace Novaro
