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
        : _name(name), _height(height), _width(width)
    {
    }

    const std::string& getName() const { return _name; }
    void setName(const std::string& name) { _name = name; }

    float getHeight() const { return _height; }
    void setHeight(float height) { _height = height; }

    float getWidth() const { return _width; }
    void setWidth(float width) { _width = width; }

private:
    std::string _name;
    float _height = 0.0f;
    float _width = 0.0f;
};

// One capture device: its name, the name of its image format and the device description (or
// calibration file) handed to the video library.
class VideoCamera
{
public:
    VideoCamera() = default;
    VideoCamera(const std::string& name, const std::string& format, const std::string& path)
        : _name(name), _format(format), _path(path)
    {
    }

    const std::string& getName() const { return _name; }
    void setName(const std::string& name) { _name = name; }

    const std::string& getFormat() const { return _format; }
    void setFormat(const std::string& format) { _format = format; }

    const std::string& getPath() const { return _path; }
    void setPath(const std::string& path) { _path = path; }

    // Line of the element this entry was read from (0 when not read from a file), for messages.
    int getLine() const { return _line; }
    void setLine(int line) { _line = line; }

private:
    std::string _name;
    std::string _format;
    std::string _path;
    int _line = 0;
};

// The video settings file as read: the image formats and cameras, in file order, and the camera
// calibration file chosen when the video is opened.
class VideoData
{
public:
    VideoData() = default;

    const std::vector<VideoFormat>& getFormats() const { return _formats; }
    std::vector<VideoFormat>& getFormats() { return _formats; }

    const std::vector<VideoCamera>& getCameras() const { return _cameras; }
    std::vector<VideoCamera>& getCameras() { return _cameras; }

    const std::string& getCameraFile() const { return _cameraFile; }
    void setCameraFile(const std::string& cameraFile) { _cameraFile = cameraFile; }

private:
    std::vector<VideoFormat> _formats;
    std::vector<VideoCamera> _cameras;
    std::string _cameraFile;
};

} // namespace Novaro
