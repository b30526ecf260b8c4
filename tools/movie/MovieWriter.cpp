#include "MovieWriter.h"

#include <cmath>
#include <cstdint>
#include <cstring>

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace NovaroTest
{

namespace
{

bool writePackets(AVCodecContext* codec, AVFormatContext* format, AVStream* stream, AVFrame* frame)
{
    if (avcodec_send_frame(codec, frame) < 0)
        return false;
    AVPacket* packet = av_packet_alloc();
    while (avcodec_receive_packet(codec, packet) == 0)
    {
        // Each frame lasts one tick; without it the container cannot give the last frame a length.
        if (packet->duration == 0)
            packet->duration = 1;
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        av_interleaved_write_frame(format, packet);
    }
    av_packet_free(&packet);
    return true;
}

bool openEncoder(AVCodecContext* codec, const AVCodec* encoder, const MovieDescription& movie,
                 bool globalHeader)
{
    codec->width = movie.width;
    codec->height = movie.height;
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->time_base = AVRational{1, movie.framesPerSecond};
    codec->framerate = AVRational{movie.framesPerSecond, 1};
    codec->gop_size = 12;
    codec->max_b_frames = 0;
    // MJPEG takes limited-range pictures only when told that this is not its standard.
    codec->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
    codec->bit_rate = static_cast<int64_t>(movie.width) * movie.height * 4;
    if (globalHeader)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // x265 writes its banner to stderr past FFmpeg's log level; other encoders ignore the option.
    av_opt_set(codec->priv_data, "x265-params", "log-level=error", 0);
    return avcodec_open2(codec, encoder, nullptr) >= 0;
}

// The tone's samples for the span of video frame 'index', written as one audio frame.
bool writeTone(AVCodecContext* codec, AVFormatContext* format, AVStream* stream,
               const MovieDescription& movie, int index)
{
    const int rate = movie.sampleRate;
    const int64_t first = static_cast<int64_t>(index) * rate / movie.framesPerSecond;
    const int64_t end = static_cast<int64_t>(index + 1) * rate / movie.framesPerSecond;
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_SAMPLE_FMT_S16;
    frame->sample_rate = rate;
    av_channel_layout_default(&frame->ch_layout, 1);
    frame->nb_samples = static_cast<int>(end - first);
    bool written = av_frame_get_buffer(frame, 0) >= 0;
    if (written)
    {
        int16_t* samples = reinterpret_cast<int16_t*>(frame->data[0]);
        for (int64_t sample = first; sample < end; ++sample)
        {
            const double seconds = static_cast<double>(sample) / rate;
            const double level = movie.toneLevel ? movie.toneLevel(seconds) : 1.0;
            samples[sample - first] =
                static_cast<int16_t>(12000.0 * level * std::sin(2.0 * M_PI * movie.toneHz * seconds));
        }
        frame->pts = first;
        written = writePackets(codec, format, stream, frame);
    }
    av_frame_free(&frame);
    return written;
}

AVCodecContext* openToneEncoder(AVFormatContext* format, AVStream*& stream, int sampleRate)
{
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_PCM_S16LE);
    stream = avformat_new_stream(format, nullptr);
    AVCodecContext* codec = avcodec_alloc_context3(encoder);
    codec->sample_fmt = AV_SAMPLE_FMT_S16;
    codec->sample_rate = sampleRate;
    av_channel_layout_default(&codec->ch_layout, 1);
    codec->time_base = AVRational{1, sampleRate};
    if (avcodec_open2(codec, encoder, nullptr) < 0 ||
        avcodec_parameters_from_context(stream->codecpar, codec) < 0)
        avcodec_free_context(&codec);
    else
        stream->time_base = codec->time_base;
    return codec;
}

// Whether frame 'index' of the picture has sound beside it.
bool hasToneAt(const MovieDescription& movie, int index)
{
    const double seconds = static_cast<double>(index) / movie.framesPerSecond;
    if (movie.toneSpans.empty())
        return true;
    for (const auto& span : movie.toneSpans)
        if (seconds >= span.first && seconds < span.second)
            return true;
    return false;
}

} // namespace

bool writeMovie(const std::string& path, const MovieDescription& movie)
{
    const AVCodec* encoder = avcodec_find_encoder_by_name(movie.encoder.c_str());
    AVFormatContext* format = nullptr;
    if (!encoder || avformat_alloc_output_context2(&format, nullptr, nullptr, path.c_str()) < 0)
        return false;
    AVStream* stream = avformat_new_stream(format, nullptr);
    AVCodecContext* codec = avcodec_alloc_context3(encoder);
    bool written = openEncoder(codec, encoder, movie, format->oformat->flags & AVFMT_GLOBALHEADER) &&
                   avcodec_parameters_from_context(stream->codecpar, codec) >= 0 &&
                   avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0;
    stream->time_base = codec->time_base;
    AVStream* toneStream = nullptr;
    AVCodecContext* tone =
        movie.toneHz > 0.0 ? openToneEncoder(format, toneStream, movie.sampleRate) : nullptr;
    written = written && (movie.toneHz <= 0.0 || tone) && avformat_write_header(format, nullptr) >= 0;
    AVFrame* frame = av_frame_alloc();
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = movie.width;
    frame->height = movie.height;
    written = written && av_frame_get_buffer(frame, 0) >= 0;
    for (int index = 0; written && index < movie.frames; ++index)
    {
        av_frame_make_writable(frame);
        movie.paint(index, frame->data[0], frame->linesize[0], frame->data[1], frame->data[2],
                    frame->linesize[1]);
        frame->pts = index;
        written = writePackets(codec, format, stream, frame) &&
                  (!tone || !hasToneAt(movie, index) || writeTone(tone, format, toneStream, movie, index));
    }
    if (written)
    {
        writePackets(codec, format, stream, nullptr);
        written = av_write_trailer(format) >= 0;
    }
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    avcodec_free_context(&tone);
    if (format->pb)
        avio_closep(&format->pb);
    avformat_free_context(format);
    return written;
}

bool writeGreyRampMovie(const std::string& path, int frames, int width, int height, int framesPerSecond)
{
    MovieDescription movie;
    movie.frames = frames;
    movie.width = width;
    movie.height = height;
    movie.framesPerSecond = framesPerSecond;
    movie.paint = [width, height](int index, uint8_t* luma, int lumaStride, uint8_t* blue, uint8_t* red,
                                  int chromaStride)
    {
        for (int row = 0; row < height; ++row)
            std::memset(luma + row * lumaStride, 16 + 20 * index, static_cast<size_t>(width));
        for (int row = 0; row < height / 2; ++row)
        {
            std::memset(blue + row * chromaStride, 128, static_cast<size_t>(width / 2));
            std::memset(red + row * chromaStride, 128, static_cast<size_t>(width / 2));
        }
    };
    return writeMovie(path, movie);
}

void paintFrameCode(int index, int width, int bandHeight, uint8_t* luma, int lumaStride, uint8_t* blue,
                    uint8_t* red, int chromaStride, int bits)
{
    // Even widths keep each block on whole chroma samples.
    const int blockWidth = width / bits / 2 * 2;
    for (int bit = 0; bit < bits; ++bit)
    {
        const bool set = (index >> (bits - 1 - bit)) & 1;
        const int left = bit * blockWidth;
        for (int row = 0; row < bandHeight; ++row)
            std::memset(luma + row * lumaStride + left, set ? 235 : 16, static_cast<size_t>(blockWidth));
        for (int row = 0; row < bandHeight / 2; ++row)
        {
            std::memset(blue + row * chromaStride + left / 2, 128, static_cast<size_t>(blockWidth / 2));
            std::memset(red + row * chromaStride + left / 2, 128, static_cast<size_t>(blockWidth / 2));
        }
    }
}

int readFrameCode(const std::function<int(int block)>& brightnessAtBlock, int bits)
{
    int index = 0;
    for (int bit = 0; bit < bits; ++bit)
        index = (index << 1) | (brightnessAtBlock(bit) > 128 ? 1 : 0);
    return index;
}

int frameIndexOfGrey(unsigned char red)
{
    // Limited-range luma to RGB: red = 1.164 * (luma - 16).
    return static_cast<int>(std::lround(red / 1.164 / 20.0));
}

} // namespace NovaroTest
