#pragma once

#include <string>
#include <vector>

namespace Novaro
{

// One image format a capture device may deliver.
class VideoFormat
{
public:
    VideoFormat() = default;
    VideoFormat(const std::string& name, float height, float width)
        : name_(name), height_(height), width_(width)
    {
    }

    const std::string& getName() const { return name_; }
    void setName(const std::string& name) { name_ = name; }

    float getHeight() const { return height_; }
    void setHeight(float height) { height_ = height; }

    float getWidth() const { return width_; }
    void setWidth(float width) { width_ = width; }

private:
    std::string name_;
    float height_ = 0.0f;
    float width_ = 0.0f;
};

// One capture device: its name, the name of its image format and the device description (or
// calibration file) handed to the video library.
class VideoCamera
{
public:
    VideoCamera() = default;
    VideoCamera(const std::string& name, const std::string& format, const std::string& path)
        : name_(name), format_(format), path_(path)
    {
    }

    const std::string& getName() const { return name_; }
    void setName(const std::string& name) { name_ = name; }

    const std::string& getFormat() const { return format_; }
    void setFormat(const std::string& format) { format_ = format; }

    const std::string& getPath() const { return path_; }
    void setPath(const std::string& path) { path_ = path; }

private:
    std::string name_;
    std::string format_;
    std::string path_;
};

// The video settings file as read: the image formats and cameras, in file order, and the camera
// calibration file chosen when the video is opened.
class VideoData
{
public:
    VideoData() = default;

    const std::vector<VideoFormat>& getFormats() const { return formats_; }
    std::vector<VideoFormat>& getFormats() { return formats_; }

    const std::vector<VideoCamera>& getCameras() const { return cameras_; }
    std::vector<VideoCamera>& getCameras() { return cameras_; }

    const std::string& getCameraFile() const { return camera_file_; }
    void setCameraFile(const std::string& cameraFile) { camera_file_ = cameraFile; }

private:
    std::vector<VideoFormat> formats_;
    std::vector<VideoCamera> cameras_;
    std::string camera_file_;
};

} // namespace Novaro
