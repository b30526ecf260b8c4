#include "MovieDecoder.h"

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <sys/stat.h>

namespace Novaro
{

namespace
{

std::string describe(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {0};
    av_strerror(code, text, sizeof(text));
    return text;
}

// Damaged packets in a row after which the stream counts as broken rather than scratched.
const unsigned int maximumDamagedPacketsInARow = 100;

// Size of a file in bytes; -1 when it is not one file (an image sequence's pattern).
int64_t sizeOfFile(const std::string& path)
{
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return static_cast<int64_t>(status.st_size);
}

} // namespace

MovieDecoder::~MovieDecoder()
{
    close();
}

void MovieDecoder::close()
{
    sws_freeContext(_scaler);
    _scaler = nullptr;
    swr_free(&_resampler);
    avcodec_free_context(&_audio);
    av_packet_free(&_packet);
    av_frame_free(&_frame);
    av_frame_free(&_converted);
    avcodec_free_context(&_codec);
    avformat_close_input(&_format);
}

bool MovieDecoder::open(const std::string& path, std::string& error)
{
    static std::once_flag bounded;
    std::call_once(bounded, [] { av_max_alloc(maximumAllocation); });
    close();
    _path = path;
    _fileSize = sizeOfFile(path);
    _soundProblem.clear();
    _lastError.clear();
    _draining = false;
    _damagedPackets = 0;
    _lastSeconds = 0.0;
    _soundReached = 0.0;
    _audioStream = -1;
    int code = avformat_open_input(&_format, path.c_str(), nullptr, nullptr);
    if (code < 0)
    {
        error = "cannot open movie: " + describe(code);
        return false;
    }
    code = avformat_find_stream_info(_format, nullptr);
    if (code < 0)
    {
        error = "cannot read the movie's streams: " + describe(code);
        return false;
    }
    _stream = av_find_best_stream(_format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (_stream < 0)
    {
        error = "no video stream";
        return false;
    }
    if (!openCodec(error))
        return false;
    const AVStream* stream = _format->streams[_stream];
    _timeBase = av_q2d(stream->time_base);
    const AVRational rate = av_guess_frame_rate(_format, const_cast<AVStream*>(stream), nullptr);
    if (rate.num > 0 && rate.den > 0)
        _frameRate = av_q2d(rate);
    if (stream->duration != AV_NOPTS_VALUE)
        _duration = stream->duration * _timeBase;
    else if (_format->duration != AV_NOPTS_VALUE)
        _duration = static_cast<double>(_format->duration) / AV_TIME_BASE;
    _frame = av_frame_alloc();
    _packet = av_packet_alloc();
    if (!_frame || !_packet || !allocateConverted())
    {
        error = "out of memory for a picture of " + std::to_string(_width) + "x" + std::to_string(_height);
        return false;
    }
    openSound();
    _origin = startOfMovie();
    return true;
}

void MovieDecoder::dropSound()
{
    swr_free(&_resampler);
    avcodec_free_context(&_audio);
}

// libswscale writes whole SIMD words: its output rows must be aligned and padded as FFmpeg's
// own frame buffers are, or it writes past the end of a picture of an odd size.
bool MovieDecoder::allocateConverted()
{
    _converted = av_frame_alloc();
    if (!_converted)
        return false;
    _converted->format = _pixelOrder == PixelOrder::BGR ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB24;
    _converted->width = _width;
    _converted->height = _height;
    return av_frame_get_buffer(_converted, 0) == 0;
}

// Times are counted from the earliest start of picture and sound, so that sound starting before
// the picture is heard and sound starting after it waits for its moment.
double MovieDecoder::startOfMovie() const
{
    double start = std::numeric_limits<double>::infinity();
    for (const int index : {_stream, _audio ? _audioStream : -1})
    {
        if (index < 0)
            continue;
        const AVStream* stream = _format->streams[index];
        if (stream->start_time != AV_NOPTS_VALUE)
            start = std::min(start, stream->start_time * av_q2d(stream->time_base));
    }
    return std::isfinite(start) ? start : 0.0;
}

// A movie whose sound cannot be decoded still plays, silently.
void MovieDecoder::openSound()
{
    _audioStream = av_find_best_stream(_format, AVMEDIA_TYPE_AUDIO, -1, _stream, nullptr, 0);
    if (_audioStream < 0)
        return;
    const AVCodecParameters* parameters = _format->streams[_audioStream]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (!decoder)
    {
        _soundProblem = std::string("no decoder for sound codec ") + avcodec_get_name(parameters->codec_id);
        return;
    }
    if (parameters->sample_rate < minimumSoundRate || parameters->sample_rate > maximumSoundRate ||
        parameters->ch_layout.nb_channels <= 0)
    {
        _soundProblem = parameters->ch_layout.nb_channels <= 0
                            ? std::string("a sound stream without channels")
                            : "a sound rate of " + std::to_string(parameters->sample_rate) +
                                  " Hz (played: " + std::to_string(minimumSoundRate) + " to " +
                                  std::to_string(maximumSoundRate) + " Hz)";
        return;
    }
    _audio = avcodec_alloc_context3(decoder);
    int code = AVERROR(ENOMEM);
    if (!_audio || avcodec_parameters_to_context(_audio, parameters) < 0 ||
        (code = avcodec_open2(_audio, decoder, nullptr)) < 0 || _audio->sample_rate < minimumSoundRate ||
        _audio->sample_rate > maximumSoundRate || _audio->ch_layout.nb_channels <= 0)
    {
        _soundProblem = std::string("cannot open sound decoder ") + decoder->name +
                        (code < 0 ? ": " + describe(code) : std::string());
        avcodec_free_context(&_audio);
        return;
    }
    _soundChannels = _audio->ch_layout.nb_channels >= 2 ? 2 : 1;
    _soundSampleRate = static_cast<unsigned int>(_audio->sample_rate);
    AVChannelLayout output;
    av_channel_layout_default(&output, static_cast<int>(_soundChannels));
    if (swr_alloc_set_opts2(&_resampler, &output, AV_SAMPLE_FMT_S16, _audio->sample_rate, &_audio->ch_layout,
                            _audio->sample_fmt, _audio->sample_rate, 0, nullptr) < 0 ||
        swr_init(_resampler) < 0)
    {
        _soundProblem =
            std::string("cannot convert the sound's samples (") +
            (av_get_sample_fmt_name(_audio->sample_fmt) ? av_get_sample_fmt_name(_audio->sample_fmt)
                                                        : "unknown format") +
            ")";
        swr_free(&_resampler);
        avcodec_free_context(&_audio);
    }
}

void MovieDecoder::decodeSound(const AVPacket* packet)
{
    if (avcodec_send_packet(_audio, packet) < 0)
        return; // a damaged piece of sound is skipped
    const AVStream* stream = _format->streams[_audioStream];
    while (avcodec_receive_frame(_audio, _frame) == 0)
    {
        const int64_t timestamp = _frame->best_effort_timestamp;
        const double seconds = timestamp == AV_NOPTS_VALUE ? std::numeric_limits<double>::quiet_NaN()
                                                           : timestamp * av_q2d(stream->time_base) - _origin;
        const int capacity = swr_get_out_samples(_resampler, _frame->nb_samples);
        if (capacity > 0 && _soundBuffer.size() < static_cast<size_t>(capacity) * _soundChannels)
            _soundBuffer.resize(static_cast<size_t>(capacity) * _soundChannels);
        uint8_t* output = reinterpret_cast<uint8_t*>(_soundBuffer.data());
        const int frames =
            swr_convert(_resampler, &output, capacity, const_cast<const uint8_t**>(_frame->extended_data),
                        _frame->nb_samples);
        av_frame_unref(_frame);
        if (frames > 0 && std::isfinite(seconds))
            _soundReached = std::max(_soundReached, seconds + static_cast<double>(frames) / _soundSampleRate);
        if (frames > 0 && _soundSink)
            _soundSink(_soundBuffer.data(), static_cast<size_t>(frames), seconds);
    }
}

bool MovieDecoder::openCodec(std::string& error)
{
    const AVCodecParameters* parameters = _format->streams[_stream]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (!decoder)
    {
        error = std::string("no decoder for codec ") + avcodec_get_name(parameters->codec_id);
        return false;
    }
    _width = parameters->width;
    _height = parameters->height;
    if (_width <= 0 || _height <= 0 || _width > maximumWidth || _height > maximumHeight)
    {
        error = "picture of " + std::to_string(_width) + "x" + std::to_string(_height) + " (at most " +
                std::to_string(maximumWidth) + "x" + std::to_string(maximumHeight) + ")";
        return false;
    }
    _codec = avcodec_alloc_context3(decoder);
    if (!_codec || avcodec_parameters_to_context(_codec, parameters) < 0)
    {
        error = "cannot set up the decoder";
        return false;
    }
    // One decoding thread per stream: the player runs several movies beside tracking and drawing.
    _codec->thread_count = 1;
    const int code = avcodec_open2(_codec, decoder, nullptr);
    if (code < 0)
    {
        error = std::string("cannot open decoder ") + decoder->name + ": " + describe(code);
        return false;
    }
    return true;
}

MovieDecoder::Result MovieDecoder::next(uint8_t* picture, double& seconds)
{
    unsigned int damagedInARow = 0;
    for (;;)
    {
        if (receive(picture, seconds))
            return Result::Picture;
        if (!_lastError.empty())
            return Result::Failed;
        if (_draining)
            return Result::EndOfStream;
        const int read = av_read_frame(_format, _packet);
        if (read < 0)
        {
            if (!checkFileIsWhole())
                return Result::Failed;
            // End of file (or a damaged end): let the decoders give up what they still hold.
            _draining = true;
            avcodec_send_packet(_codec, nullptr);
            if (_audio)
                decodeSound(nullptr);
            continue;
        }
        if (_audio && _packet->stream_index == _audioStream)
            decodeSound(_packet);
        else if (_packet->stream_index == _stream)
        {
            const int sent = avcodec_send_packet(_codec, _packet);
            if (sent < 0 && sent != AVERROR(EAGAIN))
            {
                ++_damagedPackets;
                if (++damagedInARow > maximumDamagedPacketsInARow)
                {
                    _lastError = "the video stream cannot be decoded: " + describe(sent);
                    av_packet_unref(_packet);
                    return Result::Failed;
                }
            }
            else
                damagedInARow = 0;
        }
        av_packet_unref(_packet);
    }
}

// A file cut shorter after it was opened (a copy still being written over, a full disk, ...) is
// not an end to start over from: it is reported.
bool MovieDecoder::checkFileIsWhole()
{
    if (_fileSize < 0)
        return true;
    const int64_t size = sizeOfFile(_path);
    if (size >= _fileSize)
        return true;
    // How the reading stopped (an end of file, or a packet cut in half) says nothing more.
    _lastError = size < 0 ? "the file is gone while playing"
                          : "the file was cut from " + std::to_string(_fileSize) + " to " +
                                std::to_string(size) + " bytes while playing";
    return false;
}

bool MovieDecoder::convert(uint8_t* picture)
{
    _scaler = sws_getCachedContext(_scaler, _width, _height, static_cast<AVPixelFormat>(_frame->format),
                                   _width, _height, static_cast<AVPixelFormat>(_converted->format),
                                   SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!_scaler)
        return false;
    if (sws_scale(_scaler, _frame->data, _frame->linesize, 0, _height, _converted->data,
                  _converted->linesize) != _height)
        return false;
    av_image_copy_plane(picture, _width * 3, _converted->data[0], _converted->linesize[0], _width * 3,
                        _height);
    return true;
}

bool MovieDecoder::receive(uint8_t* picture, double& seconds)
{
    const int code = avcodec_receive_frame(_codec, _frame);
    if (code < 0)
    {
        // EAGAIN: needs a packet; EOF: drained; anything else is a frame the decoder gave up on.
        if (code != AVERROR(EAGAIN) && code != AVERROR_EOF)
            ++_damagedPackets;
        return false;
    }
    if (_frame->width != _width || _frame->height != _height)
    {
        // A stream that changes its size mid-way is not shown at the new size: its frames are dropped.
        ++_damagedPackets;
        av_frame_unref(_frame);
        return false;
    }
    if (!convert(picture))
    {
        const char* format = av_get_pix_fmt_name(static_cast<AVPixelFormat>(_frame->format));
        _lastError = std::string("cannot convert the pixel format ") + (format ? format : "(unknown)");
        av_frame_unref(_frame);
        return false;
    }
    const int64_t timestamp = _frame->best_effort_timestamp;
    seconds = timestamp == AV_NOPTS_VALUE ? _lastSeconds + 1.0 / _frameRate : timestamp * _timeBase - _origin;
    _lastSeconds = seconds;
    av_frame_unref(_frame);
    return true;
}

double MovieDecoder::reachedSeconds() const
{
    return std::max(_lastSeconds + 1.0 / _frameRate, _soundReached);
}

bool MovieDecoder::rewind()
{
    _draining = false;
    _lastError.clear();
    _lastSeconds = 0.0;
    _soundReached = 0.0;
    const int code = av_seek_frame(
        _format, _stream,
        _format->streams[_stream]->start_time == AV_NOPTS_VALUE ? 0 : _format->streams[_stream]->start_time,
        AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(_codec);
    if (_audio)
    {
        avcodec_flush_buffers(_audio);
        swr_init(_resampler);
    }
    if (code < 0)
        _lastError = "cannot go back to the start: " + describe(code);
    return code >= 0;
}

} // namespace Novaro
