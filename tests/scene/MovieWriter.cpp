#include "MovieWriter.h"

#include <cmath>

extern "C"
{
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
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
        packet->duration = 1;
        av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
        packet->stream_index = stream->index;
        av_interleaved_write_frame(format, packet);
    }
    av_packet_free(&packet);
    return true;
}

} // namespace

bool writeGreyRampMovie(const std::string& path, int frames, int width, int height, int framesPerSecond)
{
    AVFormatContext* format = nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, nullptr, path.c_str()) < 0)
        return false;
    const AVCodec* encoder = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    AVStream* stream = avformat_new_stream(format, nullptr);
    AVCodecContext* codec = avcodec_alloc_context3(encoder);
    codec->width = width;
    codec->height = height;
    codec->pix_fmt = AV_PIX_FMT_YUV420P;
    codec->time_base = AVRational{1, framesPerSecond};
    codec->framerate = AVRational{framesPerSecond, 1};
    codec->gop_size = 5;
    codec->bit_rate = 400000;
    if (format->oformat->flags & AVFMT_GLOBALHEADER)
        codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    bool written = avcodec_open2(codec, encoder, nullptr) >= 0 &&
                   avcodec_parameters_from_context(stream->codecpar, codec) >= 0 &&
                   avio_open(&format->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0;
    stream->time_base = codec->time_base;
    if (written)
        written = avformat_write_header(format, nullptr) >= 0;
    AVFrame* frame = av_frame_alloc();
    frame->format = codec->pix_fmt;
    frame->width = width;
    frame->height = height;
    written = written && av_frame_get_buffer(frame, 0) >= 0;
    for (int index = 0; written && index < frames; ++index)
    {
        av_frame_make_writable(frame);
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column)
                frame->data[0][row * frame->linesize[0] + column] = static_cast<uint8_t>(16 + 20 * index);
        for (int plane = 1; plane < 3; ++plane)
            for (int row = 0; row < height / 2; ++row)
                for (int column = 0; column < width / 2; ++column)
                    frame->data[plane][row * frame->linesize[plane] + column] = 128;
        frame->pts = index;
        written = writePackets(codec, format, stream, frame);
    }
    if (written)
    {
        writePackets(codec, format, stream, nullptr);
        written = av_write_trailer(format) >= 0;
    }
    av_frame_free(&frame);
    avcodec_free_context(&codec);
    if (format->pb)
        avio_closep(&format->pb);
    avformat_free_context(format);
    return written;
}

int frameIndexOfGrey(unsigned char red)
{
    // Limited-range luma to RGB: red = 1.164 * (luma - 16).
    return static_cast<int>(std::lround(red / 1.164 / 20.0));
}

} // namespace NovaroTest
