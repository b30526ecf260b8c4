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
    avcodec_free_context(&_codec);
    avformat_close_input(&_format);
}

bool MovieDecoder::open(const std::string& path, std::string& error)
{
    close();
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
    openSound();
    return _frame && _packet;
}

// A movie whose sound cannot be decoded still plays, silently.
void MovieDecoder::openSound()
{
    _audioStream = av_find_best_stream(_format, AVMEDIA_TYPE_AUDIO, -1, _stream, nullptr, 0);
    if (_audioStream < 0)
        return;
    const AVCodecParameters* parameters = _format->streams[_audioStream]->codecpar;
    const AVCodec* decoder = avcodec_find_decoder(parameters->codec_id);
    if (!decoder || parameters->sample_rate <= 0 || parameters->ch_layout.nb_channels <= 0)
        return;
    _audio = avcodec_alloc_context3(decoder);
    if (!_audio || avcodec_parameters_to_context(_audio, parameters) < 0 ||
        avcodec_open2(_audio, decoder, nullptr) < 0)
    {
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
        swr_free(&_resampler);
        avcodec_free_context(&_audio);
    }
}

void MovieDecoder::decodeSound(const AVPacket* packet)
{
    if (avcodec_send_packet(_audio, packet) < 0)
        return; // a damaged piece of sound is skipped
    while (avcodec_receive_frame(_audio, _frame) == 0)
    {
        const int capacity = swr_get_out_samples(_resampler, _frame->nb_samples);
        if (capacity > 0 && _soundBuffer.size() < static_cast<size_t>(capacity) * _soundChannels)
            _soundBuffer.resize(static_cast<size_t>(capacity) * _soundChannels);
        uint8_t* output = reinterpret_cast<uint8_t*>(_soundBuffer.data());
        const int frames =
            swr_convert(_resampler, &output, capacity, const_cast<const uint8_t**>(_frame->extended_data),
                        _frame->nb_samples);
        av_frame_unref(_frame);
        if (frames > 0 && _soundSink)
            _soundSink(_soundBuffer.data(), static_cast<size_t>(frames));
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
            // End of file (or a file cut short): let the decoders give up what they still hold.
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

bool MovieDecoder::receive(uint8_t* picture, double& seconds)
{
    const int code = avcodec_receive_frame(_codec, _frame);
    if (code < 0)
        return false; // EAGAIN: needs a packet; EOF: drained; errors count as a damaged frame
    if (_frame->width != _width || _frame->height != _height)
    {
        // A stream that changes its size mid-way is not shown at the new size: its frames are dropped.
        ++_damagedPackets;
        av_frame_unref(_frame);
        return false;
    }
    _scaler =
        sws_getCachedContext(_scaler, _width, _height, static_cast<AVPixelFormat>(_frame->format), _width,
                             _height, _pixelOrder == PixelOrder::BGR ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB24,
                             SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!_scaler)
    {
        _lastError = "cannot convert the pixel format";
        av_frame_unref(_frame);
        return false;
    }
    uint8_t* planes[4] = {picture, nullptr, nullptr, nullptr};
    int strides[4] = {_width * 3, 0, 0, 0};
    sws_scale(_scaler, _frame->data, _frame->linesize, 0, _height, planes, strides);
    const int64_t timestamp = _frame->best_effort_timestamp;
    seconds = timestamp == AV_NOPTS_VALUE ? _lastSeconds + 1.0 / _frameRate : timestamp * _timeBase;
    // Times relative to the stream's start, so the first frame shows at once.
    const int64_t start = _format->streams[_stream]->start_time;
    if (timestamp != AV_NOPTS_VALUE && start != AV_NOPTS_VALUE)
        seconds -= start * _timeBase;
    _lastSeconds = seconds;
    av_frame_unref(_frame);
    return true;
}

bool MovieDecoder::rewind()
{
    _draining = false;
    _lastError.clear();
    _lastSeconds = 0.0;
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
