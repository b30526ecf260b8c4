#pragma once

#include "FrameSource.h"

#include <MovieDecoder.h>

#include <string>

namespace osgART
{

/// A movie, a still image or an image sequence ("name%04d.png") standing in for the camera, decoded
/// by the player's FFmpeg movie decoder straight into BGR.
class FileSource : public FrameSource
{
public:
    explicit FileSource(const std::string& path);

    std::string describe() const override { return "video file " + _path; }
    bool open(std::string& error) override;
    Read read(cv::Mat& frame, std::string& error) override;
    bool rewind(std::string& error) override;
    double frameRate() const override { return _decoder.frameRate(); }
    bool isLive() const override { return false; }
    bool isStill() const override { return _kind == STILL; }
    std::string modeText() const override;

private:
    enum Kind
    {
        MOVIE,
        SEQUENCE,
        STILL
    };

    std::string _path;
    Kind _kind;
    Novaro::MovieDecoder _decoder;
};

} // namespace osgART
