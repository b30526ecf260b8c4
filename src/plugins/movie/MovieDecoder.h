#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;
struct SwsContext;

namespace Novaro
{

// One movie file's video stream, decoded frame by frame into RGB or BGR pictures, and its sound (the best
// audio stream, when there is one FFmpeg can decode), handed on as 16-bit interleaved samples as
// its packets come by. Not thread-safe: one thread at a time (the stream's decoding thread, or the
// opener before that thread starts).
//
// Bounds, against broken or hostile files (a movie beyond them is refused when opened):
// - maximumWidth x maximumHeight: the largest texture the player uploads; a larger picture would
//   cost its memory for nothing.
// - maximumAllocation: the largest single buffer FFmpeg may take (set for the whole process when
//   the first movie opens). Demuxers size some tables by the counts a file declares before reading
//   them (an MP4 key-frame table claiming 440 million entries asked for 1.7 GB); a real movie
//   within the bounds above needs far less.
class MovieDecoder
{
public:
    static constexpr int maximumWidth = 4096;
    static constexpr int maximumHeight = 4096;
    static constexpr size_t maximumAllocation = size_t(256) << 20;

    // Byte order of the decoded pictures: RGB for textures, BGR for the tracker's camera frames.
    enum class PixelOrder
    {
        RGB,
        BGR
    };
    explicit MovieDecoder(PixelOrder order = PixelOrder::RGB) : _pixelOrder(order) {}
    ~MovieDecoder();
    MovieDecoder(const MovieDecoder&) = delete;
    MovieDecoder& operator=(const MovieDecoder&) = delete;

    // Opens the file and its best video stream; false with the reason in 'error' when the file
    // cannot be opened, holds no video or a codec FFmpeg cannot decode, or is beyond the bounds.
    bool open(const std::string& path, std::string& error);

    int width() const { return _width; }
    int height() const { return _height; }
    // Frames per second as the container gives it (25 when it gives none).
    double frameRate() const { return _frameRate; }
    // Seconds, or 0 when the container does not know.
    double duration() const { return _duration; }
    // Bytes of one picture: width * height * 3, rows packed without padding. The caller's picture
    // needs no alignment or padding: the conversion writes into the decoder's own picture, laid
    // out as libswscale requires, and copies the rows over.
    size_t pictureSize() const { return static_cast<size_t>(_width) * _height * 3; }

    enum class Result
    {
        Picture, // 'picture' holds the next frame and 'seconds' its presentation time
        EndOfStream,
        Failed // the stream cannot go on (the reason is in lastError())
    };
    // Decodes the next frame into 'picture' (pictureSize() bytes). Packets that fail to decode
    // are skipped: a damaged frame in the middle of a movie is dropped, not fatal.
    Result next(uint8_t* picture, double& seconds);

    // Back to the first frame.
    bool rewind();

    // Movie time up to which pictures or sound were decoded since the start (or the last rewind):
    // at the end of the stream, far short of duration() means the file lacks its end.
    double reachedSeconds() const;

    // The sound: at most two channels (more are mixed down), at the stream's own rate.
    bool hasSound() const { return _audio != nullptr; }
    unsigned int soundChannels() const { return _soundChannels; }
    unsigned int soundSampleRate() const { return _soundSampleRate; }
    // Leaves the sound out (no output to play it on): its packets are skipped undecoded.
    void dropSound();
    // Why a movie that has a sound stream plays without it (empty when it has none, or it plays).
    const std::string& soundProblem() const { return _soundProblem; }
    // Receives the samples of each decoded piece of sound ('frames' frames of soundChannels()) and
    // the movie time of its first sample, in seconds on the same clock as the pictures' times (NaN
    // when the container does not say: the piece follows the previous one).
    using SoundSink = std::function<void(const int16_t* samples, size_t frames, double seconds)>;
    void setSoundSink(SoundSink sink) { _soundSink = std::move(sink); }

    // Sound rates outside these are not played (the picture still is): no real movie has them, and
    // the sound queue is sized by the rate.
    static constexpr int minimumSoundRate = 4000;
    static constexpr int maximumSoundRate = 192000;

    const std::string& lastError() const { return _lastError; }
    // Packets that failed to decode so far.
    unsigned int damagedPackets() const { return _damagedPackets; }

private:
    bool openCodec(std::string& error);
    void openSound();
    bool receive(uint8_t* picture, double& seconds);
    bool allocateConverted();
    bool convert(uint8_t* picture);
    void decodeSound(const AVPacket* packet);
    // At the end of the packets: whether the file is still whole, or was cut while being read.
    bool checkFileIsWhole();
    double startOfMovie() const;
    void close();

    PixelOrder _pixelOrder;
    AVFormatContext* _format = nullptr;
    AVCodecContext* _codec = nullptr;
    AVCodecContext* _audio = nullptr;
    SwrContext* _resampler = nullptr;
    int _audioStream = -1;
    unsigned int _soundChannels = 0;
    unsigned int _soundSampleRate = 0;
    std::vector<int16_t> _soundBuffer; // grown to the largest piece of sound, then reused
    SoundSink _soundSink;
    AVFrame* _frame = nullptr;
    AVPacket* _packet = nullptr;
    SwsContext* _scaler = nullptr;
    AVFrame* _converted = nullptr; // the picture as libswscale writes it: aligned rows, padded
    std::string _path;
    int64_t _fileSize = -1; // when opened; a file cut shorter while playing is reported
    std::string _soundProblem;
    double _origin = 0.0; // the earliest start of the picture and the sound, in seconds
    int _stream = -1;
    int _width = 0;
    int _height = 0;
    double _frameRate = 25.0;
    double _duration = 0.0;
    double _timeBase = 0.0;
    double _lastSeconds = 0.0;
    double _soundReached = 0.0;
    bool _draining = false;
    unsigned int _damagedPackets = 0;
    std::string _lastError;
};

} // namespace Novaro
